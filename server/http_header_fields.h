#pragma once
// The header fields of one request, looked up by name without regard to case, as HTTP names
// them. Values are stored without the whitespace around them; of two fields with one name,
// the later wins.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quor::tessera::networking {

class HttpHeaderFields {
 public:
  // The field lines that follow the request line, each ending in CRLF. Nothing when a line is
  // not a field ("name: value" with a name free of whitespace): such a header cannot be trusted
  // to say where its body ends.
  static std::optional<HttpHeaderFields> Parse(std::string_view lines);

  // The value of the field, or null when the request has none.
  const std::string* find(std::string_view name) const;

 private:
  struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::map<std::string, std::string, CaseInsensitiveLess> fields_;
};

}  // namespace quor::tessera::networking
