#pragma once
// How every answer document is written: indented by 4 spaces, keys sorted (the library's
// default object), invalid UTF-8 replaced rather than refused.
#include <string>

#include <nlohmann/json.hpp>

namespace quor::tessera::diagnostics {

constexpr unsigned kJsonIndent = 4;

// Appends `value` as text to `out`, indented as if it stood `depth` levels deep inside a
// document; nothing is built on the side and copied.
void AppendJson(const nlohmann::json& value, std::string& out, unsigned depth = 0);

}  // namespace quor::tessera::diagnostics
