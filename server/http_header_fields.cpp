#include "server/http_header_fields.h"

#include <algorithm>

namespace quor::tessera::networking {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kWhitespace = " \t";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

}  // namespace

bool HttpHeaderFields::CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

std::optional<HttpHeaderFields> HttpHeaderFields::Parse(std::string_view lines) {
  HttpHeaderFields fields;
  while (!lines.empty()) {
    const size_t end = lines.find(kLineEnd);
    const std::string_view line = lines.substr(0, end);
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + kLineEnd.size());
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
    const std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t\r\n") != std::string_view::npos) return std::nullopt;
    fields.fields_.insert_or_assign(std::string(name), std::string(trimmed(line.substr(colon + 1))));
  }
  return fields;
}

const std::string* HttpHeaderFields::find(std::string_view name) const {
  const auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : &it->second;
}

}  // namespace quor::tessera::networking
