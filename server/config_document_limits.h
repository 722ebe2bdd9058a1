#pragma once
// What an uploaded configuration document may hold, checked on its text before it is parsed
// into a tree. A tree costs about a hundred bytes per value, so a 32 MiB upload of empty
// objects grew the server by gigabytes; and writing a document back recursed once per level.
// A whole document of the largest model is about 9 KB, 230 values, at most 18 members in one
// array or object and 5 levels deep: the limits leave ample room for hand-edited files.
#include <cstddef>
#include <string>
#include <string_view>

namespace quor::tessera::diagnostics {

constexpr size_t kMaxConfigDocumentBytes = 256 * 1024;
constexpr size_t kMaxConfigDocumentDepth = 64;      // levels of arrays and objects
constexpr size_t kMaxConfigDocumentMembers = 256;   // entries of one array, keys of one object
constexpr size_t kMaxConfigDocumentValues = 8192;   // values of the whole document, at any level

// Why `text` may not be parsed into a tree (its first limit exceeded, or that it is not JSON);
// empty when it may. Reads the text once, holding no more than one counter per level.
std::string ConfigDocumentOutsideLimits(std::string_view text);

}  // namespace quor::tessera::diagnostics
