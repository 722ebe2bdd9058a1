#include "host/can_setup.h"

#include <memory>

#include "canmux/backend_factory.h"
#include "canmux/can_mux.h"
#ifdef TESSERA_HAVE_SIM
#include "sim/sim_backend.h"
#endif

namespace {

constexpr const char* kSimPrefix = "sim";

bool isSimSpec(const std::string& spec) {
  return spec == kSimPrefix || spec.rfind(std::string(kSimPrefix) + ":", 0) == 0;
}

}  // namespace

bool CanSetup::install(const std::string& spec, const std::string& tracePath, std::string& error) {
  std::shared_ptr<CanBackend> backend;
  if (isSimSpec(spec)) {
#ifdef TESSERA_HAVE_SIM
    const std::string file = spec.size() > 4 ? spec.substr(4) : std::string();
    backend = MakeSimBackend(file, &error);
    description_ = file.empty() ? "sim (built-in robot)" : "sim (devices from " + file + ")";
#else
    error = "--can " + spec + ": this build has no simulator";
    return false;
#endif
  } else {
    backend = MakeCanBackend(spec, &error);
    description_ = spec;
  }
  if (!backend) {
    if (error.empty()) error = "--can " + spec + ": backend could not be opened";
    return false;
  }
  CanMux_SetBackend(backend);
  if (!tracePath.empty() && !CanMux_SetTrace(tracePath, &error)) return false;
  return true;
}

void CanSetup::shutdown() {
  CanMuxDispose();
  std::string ignored;
  CanMux_SetTrace("", &ignored);  // flushes and closes the trace file
}
