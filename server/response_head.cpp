#include "server/response_head.h"

#include <charconv>
#include <cstring>

namespace quor::tessera::networking {

namespace {

constexpr std::string_view kStatusLine = "HTTP/1.1 200 OK\r\n";
constexpr std::string_view kKeepAlive = "Connection: keep-alive\r\n";
constexpr std::string_view kClose = "Connection: close\r\n";
constexpr std::string_view kBeforeLength =
    "Content-Type: application/json\r\n"
    "Content-Length: ";
constexpr std::string_view kAfterLength =
    "\r\n"
    "Cache-Control: no-cache, no-store\r\n"
    "\r\n";

}  // namespace

ResponseHead::ResponseHead(size_t bodyBytes, bool closing) {
  char* end = text_;
  for (const std::string_view part : {kStatusLine, closing ? kClose : kKeepAlive, kBeforeLength}) {
    std::memcpy(end, part.data(), part.size());
    end += part.size();
  }
  end = std::to_chars(end, text_ + kCapacity - kAfterLength.size(), bodyBytes).ptr;
  std::memcpy(end, kAfterLength.data(), kAfterLength.size());
  size_ = static_cast<size_t>(end - text_) + kAfterLength.size();
}

}  // namespace quor::tessera::networking
