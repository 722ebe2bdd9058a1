#include "canmux/backend_factory.h"

#include "canmux/none_backend.h"
#include "canmux/socketcan_backend.h"

namespace {
constexpr char kSocketCanPrefix[] = "socketcan:";

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}
}  // namespace

bool IsCanBackendName(const std::string& backendName) {
  return backendName == "none" || backendName.rfind(kSocketCanPrefix, 0) == 0;
}

std::shared_ptr<CanBackend> MakeCanBackend(const std::string& backendName, std::string* error) {
  if (backendName == "none") return std::make_shared<NoneBackend>();
  const std::string prefix = kSocketCanPrefix;
  if (backendName.compare(0, prefix.size(), prefix) == 0) {
    return SocketCanBackend::open(backendName.substr(prefix.size()), error);
  }
  if (backendName == "sim" || backendName.compare(0, 4, "sim:") == 0) {
    setError(error, "CAN backend \"" + backendName +
                        "\" is only available in the host program (tessera-diag-server --can)");
    return nullptr;
  }
  setError(error, "unknown CAN backend \"" + backendName + "\": use none or socketcan:IFACE");
  return nullptr;
}
