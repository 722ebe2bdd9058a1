#pragma once
// Writing into the fixed, NUL-terminated text fields of device records: texts are built in a
// std::string and copied once, cut to the field's capacity.
#include <cstddef>
#include <string>

// printf-style formatting into a std::string.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies `text` into a field of `capacity` bytes, cut to capacity - 1 characters, NUL-terminated.
void SetTextField(char* field, size_t capacity, const std::string& text);

template <size_t N>
void SetTextField(char (&field)[N], const std::string& text) {
  SetTextField(field, N, text);
}

// The text of a field that may lack its terminator: never reads past `capacity` bytes.
std::string TextFieldValue(const char* field, size_t capacity);

template <size_t N>
std::string TextFieldValue(const char (&field)[N]) {
  return TextFieldValue(field, N);
}
