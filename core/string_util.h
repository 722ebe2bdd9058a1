#pragma once
// Small string helpers shared by every subsystem.
#include <cstddef>
#include <deque>
#include <string>

namespace quor::tessera::string_util {

// The same text with ASCII letters lower-cased; other bytes and the length are unchanged.
std::string toLower(const std::string& text);

// 0 when the two NUL-terminated texts are equal ignoring ASCII case, non-zero otherwise.
int strcmp_nocase(const char* a, const char* b);

// Length up to the first NUL, never more than `maximum`; 0 for a null pointer.
size_t safe_strlen(const char* text, size_t maximum);

// Copies `count` bytes but never more than `capacity`. Returns the number copied.
size_t safe_memcpy_(void* destination, const void* source, size_t count, size_t capacity);

// The pieces between separators, in order. Empty pieces are kept, so "a==b" gives
// {"a", "", "b"} and "a=" gives {"a", ""}.
std::deque<std::string> string_split(const std::string& text, char separator);

}  // namespace quor::tessera::string_util
