#pragma once
// A Content-Type value read as HTTP writes it: a media type, then parameters after ';', each
// value a token or a quoted string. The multipart boundary is one of those parameters, and
// reading it any other way keeps quotes, spaces or the next parameter in it.
#include <map>
#include <string>
#include <string_view>

namespace quor::tessera::networking {

struct ContentType {
  std::string mediaType;  // "type/subtype", lower-cased, without whitespace
  // Names lower-cased; values as sent, a quoted string without its quotes and escapes.
  std::map<std::string, std::string> parameters;
  bool parametersReadable = true;  // false when the text after the media type is no parameter list
};

ContentType ParseContentType(std::string_view value);

}  // namespace quor::tessera::networking
