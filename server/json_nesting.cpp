#include "server/json_nesting.h"

#include <algorithm>

namespace quor::tessera::diagnostics {

size_t JsonNestingDepth(std::string_view text) {
  size_t depth = 0;
  size_t deepest = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
    else if ((c == ']' || c == '}') && depth > 0) --depth;
  }
  return deepest;
}

}  // namespace quor::tessera::diagnostics
