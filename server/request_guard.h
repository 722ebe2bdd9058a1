#pragma once
// Runs one request's handler so that no exception ends the connection thread: a JSON error (a
// malformed uploaded document, a value of the wrong type) answers -700, anything else -136, the
// server's own failure, which is also logged.
#include <cstdint>
#include <functional>
#include <string>

namespace quor::tessera::diagnostics {

int32_t RunGuarded(const std::string& action, const std::function<int32_t()>& handler);

}  // namespace quor::tessera::diagnostics
