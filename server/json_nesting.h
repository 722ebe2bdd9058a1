#pragma once
// How deeply a JSON text nests its arrays and objects, found without parsing it. Writing and
// comparing documents recurses once per level, so an uploaded document nested thousands deep
// would overflow a connection thread's stack; it is refused before it is parsed.
#include <cstddef>
#include <string_view>

namespace quor::tessera::diagnostics {

// Configuration documents nest five levels; this leaves ample room.
constexpr size_t kMaxUploadedJsonDepth = 64;

// The deepest level of '[' and '{' outside strings (0 for a bare value). Not a validator:
// brackets that do not match are counted as they come.
size_t JsonNestingDepth(std::string_view text);

}  // namespace quor::tessera::diagnostics
