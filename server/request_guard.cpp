#include "server/request_guard.h"

#include <exception>
#include <sstream>

#include <nlohmann/json.hpp>

#include "device/error_codes.h"
#include "runtime/diag_print.h"

namespace quor::tessera::diagnostics {

int32_t RunGuarded(const std::string& action, const std::function<int32_t()>& handler) {
  try {
    return handler();
  } catch (const nlohmann::json::exception& e) {
    diag_printf("request failed: %s\r\n", e.what());
    return QUOR_DI_InvalidJson;
  } catch (const std::exception& e) {
    // Not the client's doing: an unknown action (-116) would send them looking for a typo.
    std::stringstream message;
    message << "request \"" << action << "\" failed: " << e.what();
    LogStream(message, true);
    return QUOR_DI_InternalFailure;
  }
}

}  // namespace quor::tessera::diagnostics
