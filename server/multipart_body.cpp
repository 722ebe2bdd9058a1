#include "server/multipart_body.h"

#include <algorithm>

namespace quor::tessera::networking {

namespace {
size_t find(const std::vector<uint8_t>& body, const std::string& needle, size_t from) {
  if (needle.empty() || from > body.size()) return std::string::npos;
  const auto at = std::search(body.begin() + static_cast<std::ptrdiff_t>(from), body.end(),
                              needle.begin(), needle.end());
  return at == body.end() ? std::string::npos : static_cast<size_t>(at - body.begin());
}
}  // namespace

const uint8_t* FindSingleFilePart(const std::vector<uint8_t>& body, const std::string& delimiter,
                                  int* size) {
  *size = 0;
  const size_t delimiterLength = delimiter.size();
  const size_t first = find(body, delimiter, delimiterLength);
  const size_t closing = find(body, delimiter + "--", 0);
  if (first == std::string::npos || first != closing || closing < delimiterLength) return nullptr;
  *size = static_cast<int>(closing - delimiterLength);
  return body.data() + delimiterLength;
}

}  // namespace quor::tessera::networking
