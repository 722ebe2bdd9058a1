#include "canmux/backend_factory.h"

#include "canmux/none_backend.h"
#include "canmux/socketcan_backend.h"
#include "canmux/udp_multicast_backend.h"

namespace {
constexpr char kSocketCanPrefix[] = "socketcan:";
constexpr char kUdpMulticastName[] = "udp_multicast";

bool IsUdpMulticastName(const std::string& backendName) {
  const std::string name = kUdpMulticastName;
  return backendName == name || backendName.rfind(name + ":", 0) == 0;
}

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}
}  // namespace

bool IsCanBackendName(const std::string& backendName) {
  return backendName == "none" || backendName.rfind(kSocketCanPrefix, 0) == 0 ||
         IsUdpMulticastName(backendName);
}

std::shared_ptr<CanBackend> MakeCanBackend(const std::string& backendName, std::string* error) {
  if (backendName == "none") return std::make_shared<NoneBackend>();
  const std::string prefix = kSocketCanPrefix;
  if (backendName.compare(0, prefix.size(), prefix) == 0) {
    return SocketCanBackend::open(backendName.substr(prefix.size()), error);
  }
  if (IsUdpMulticastName(backendName)) {
    const size_t nameAndColon = sizeof kUdpMulticastName;
    return UdpMulticastBackend::open(
        backendName.size() > nameAndColon ? backendName.substr(nameAndColon) : std::string(),
        error);
  }
  if (backendName == "sim" || backendName.compare(0, 4, "sim:") == 0) {
    setError(error, "CAN backend \"" + backendName +
                        "\" is only available in the host program (tessera-diag-server --can)");
    return nullptr;
  }
  setError(error, "unknown CAN backend \"" + backendName +
                      "\": use none, socketcan:IFACE or udp_multicast[:GROUP[:PORT]]");
  return nullptr;
}
