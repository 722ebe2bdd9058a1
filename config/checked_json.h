#pragma once
// Read-only member access that fails loudly: the JSON library's const operator[] asserts on a
// missing key, while the configuration code needs an exception it can turn into an error code.
#include <nlohmann/json.hpp>

namespace quor::tessera::diagnostics::config2 {

using json = nlohmann::json;

constexpr int kMissingKeyErrorId = 999;

// The member `key` of `object`. Throws json::type_error (id 999, "Missing key") when the key is
// absent, and the library's own type error when `object` is not an object.
const json& CheckedAt(const json& object, const char* key);

// Number readers that accept any numeric JSON form; anything else throws json::type_error.
// Integer targets truncate floats toward zero and saturate at their range.
double ReadJsonDouble(const json& value);
int32_t ReadJsonInt32(const json& value);
uint32_t ReadJsonUInt32(const json& value);
bool ReadJsonBool(const json& value);  // a JSON boolean only

}  // namespace quor::tessera::diagnostics::config2
