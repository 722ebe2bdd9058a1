#include "server/content_type.h"

#include <algorithm>
#include <optional>

namespace quor::tessera::networking {

namespace {

constexpr std::string_view kWhitespace = " \t";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

void skipWhitespace(std::string_view& text) {
  const size_t first = text.find_first_not_of(kWhitespace);
  text.remove_prefix(first == std::string_view::npos ? text.size() : first);
}

std::string lowerToken(std::string_view& text) {
  std::string token;
  while (!text.empty() && isTokenChar(text.front())) {
    token += lower(text.front());
    text.remove_prefix(1);
  }
  return token;
}

// A quoted string at the front of `text` (its opening quote included), unescaped.
std::optional<std::string> quotedString(std::string_view& text) {
  std::string value;
  for (size_t at = 1; at < text.size(); ++at) {
    if (text[at] == '"') {
      text.remove_prefix(at + 1);
      return value;
    }
    if (text[at] == '\\' && ++at == text.size()) break;
    value += text[at];
  }
  return std::nullopt;
}

// An unquoted value runs to the next ';'. Clients send boundaries with characters a token may
// not hold ('/', '=', ':'), so any text without whitespace or quotes is taken.
std::optional<std::string> bareValue(std::string_view& text) {
  const size_t end = std::min(text.find(';'), text.size());
  std::string_view value = text.substr(0, end);
  text.remove_prefix(end);
  const size_t last = value.find_last_not_of(kWhitespace);
  value = value.substr(0, last == std::string_view::npos ? 0 : last + 1);
  if (value.empty() || value.find_first_of(" \t\"") != std::string_view::npos) return std::nullopt;
  return std::string(value);
}

bool readParameters(std::string_view text, std::map<std::string, std::string>& parameters) {
  for (;;) {
    skipWhitespace(text);
    if (text.empty()) return true;
    if (text.front() != ';') return false;
    text.remove_prefix(1);
    skipWhitespace(text);
    if (text.empty()) return true;  // a trailing ';' adds nothing
    const std::string name = lowerToken(text);
    if (name.empty() || text.empty() || text.front() != '=') return false;
    text.remove_prefix(1);
    const std::optional<std::string> value =
        !text.empty() && text.front() == '"' ? quotedString(text) : bareValue(text);
    // A parameter given twice has no one meaning.
    if (!value || !parameters.emplace(name, *value).second) return false;
  }
}

}  // namespace

ContentType ParseContentType(std::string_view value) {
  ContentType result;
  const size_t end = std::min(value.find(';'), value.size());
  std::string_view type = value.substr(0, end);
  skipWhitespace(type);
  for (const char c : type.substr(0, type.find_last_not_of(kWhitespace) + 1)) result.mediaType += lower(c);
  result.parametersReadable = readParameters(value.substr(end), result.parameters);
  return result;
}

}  // namespace quor::tessera::networking
