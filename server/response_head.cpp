#include "server/response_head.h"

#include <charconv>
#include <cstring>

namespace quor::tessera::networking {

namespace {

constexpr std::string_view kBeforeLength =
    "HTTP/1.1 200 OK\r\n"
    "Connection: keep-alive\r\n"
    "Content-Type: application/json\r\n"
    "Content-Length: ";
constexpr std::string_view kAfterLength =
    "\r\n"
    "Cache-Control: no-cache, no-store\r\n"
    "\r\n";

}  // namespace

ResponseHead::ResponseHead(size_t bodyBytes) {
  std::memcpy(text_, kBeforeLength.data(), kBeforeLength.size());
  char* end = text_ + kBeforeLength.size();
  end = std::to_chars(end, text_ + kCapacity - kAfterLength.size(), bodyBytes).ptr;
  std::memcpy(end, kAfterLength.data(), kAfterLength.size());
  size_ = static_cast<size_t>(end - text_) + kAfterLength.size();
}

}  // namespace quor::tessera::networking
