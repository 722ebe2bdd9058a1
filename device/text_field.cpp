#include "device/text_field.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/string_util.h"

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return text;
}

void SetTextField(char* field, size_t capacity, const std::string& text) {
  if (field == nullptr || capacity == 0) return;
  const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, capacity - length);
}

std::string TextFieldValue(const char* field, size_t capacity) {
  return std::string(field, quor::tessera::string_util::safe_strlen(field, capacity));
}
