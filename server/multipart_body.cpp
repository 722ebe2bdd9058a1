#include "server/multipart_body.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace quor::tessera::networking {

namespace {
size_t find(std::string_view body, const std::string& needle, size_t from) {
  if (needle.empty() || from > body.size()) return std::string::npos;
  return body.find(needle, from);
}
}  // namespace

const uint8_t* FindSingleFilePart(const uint8_t* bodyBytes, size_t bodySize,
                                  const std::string& delimiter, int* size) {
  *size = 0;
  if (bodyBytes == nullptr) return nullptr;
  const std::string_view body(reinterpret_cast<const char*>(bodyBytes), bodySize);
  const size_t delimiterLength = delimiter.size();
  const size_t first = find(body, delimiter, delimiterLength);
  const size_t closing = find(body, delimiter + "--", 0);
  if (first == std::string::npos || first != closing || closing < delimiterLength) return nullptr;
  *size = static_cast<int>(closing - delimiterLength);
  return bodyBytes + delimiterLength;
}

}  // namespace quor::tessera::networking

namespace quor::tessera::networking {

void StripPartHeaders(const uint8_t*& data, int& size) {
  static const std::string kLineBreak = "\r\n";
  static const std::string kHeaderEnd = "\r\n\r\n";
  static const std::string kDisposition = "content-disposition:";
  if (data == nullptr || size < static_cast<int>(kHeaderEnd.size())) return;
  const std::string_view part(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  if (part.substr(0, kLineBreak.size()) != kLineBreak) return;
  const size_t headerEnd = part.find(kHeaderEnd);
  if (headerEnd == std::string_view::npos) return;
  std::string headers(part.substr(0, headerEnd));
  for (char& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (headers.find(kDisposition) == std::string::npos) return;
  size_t begin = headerEnd + kHeaderEnd.size();
  size_t end = part.size();
  if (end - begin >= kLineBreak.size() && part.substr(end - kLineBreak.size()) == kLineBreak)
    end -= kLineBreak.size();
  data += begin;
  size = static_cast<int>(end - begin);
}

}  // namespace quor::tessera::networking
