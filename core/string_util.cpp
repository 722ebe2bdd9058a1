#include "core/string_util.h"

#include <cstring>

namespace quor::tessera::string_util {

namespace {
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string toLower(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

int strcmp_nocase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return (a == b) ? 0 : 1;
  for (;; ++a, ++b) {
    const char ca = lowerAscii(*a);
    const char cb = lowerAscii(*b);
    if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    if (ca == '\0') return 0;
  }
}

size_t safe_strlen(const char* text, size_t maximum) {
  if (text == nullptr) return 0;
  const void* nul = std::memchr(text, '\0', maximum);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : maximum;
}

size_t safe_memcpy_(void* destination, const void* source, size_t count, size_t capacity) {
  const size_t n = count < capacity ? count : capacity;
  if (n > 0 && destination != nullptr && source != nullptr) std::memmove(destination, source, n);
  return n;
}

std::deque<std::string> string_split(const std::string& text, char separator) {
  std::deque<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

}  // namespace quor::tessera::string_util
