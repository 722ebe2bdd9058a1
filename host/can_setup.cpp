#include "host/can_setup.h"

bool CanSetup::install(const std::string& spec, const std::string& tracePath, std::string& error) {
  if (!tracePath.empty()) {
    error = "--trace is not available in this build yet";
    return false;
  }
  if (spec == "none") {
    description_ = "none (empty bus)";
    return true;
  }
  error = "--can " + spec + " is not available in this build yet; only --can none is";
  return false;
}

void CanSetup::shutdown() {}
