#include "server/request_framing.h"

#include <algorithm>
#include <cstring>

#include "core/string_util.h"
#include "runtime/monotonic_clock.h"
#include "server/request_parameters.h"

namespace quor::tessera::networking {

namespace {

using utility::QueryOfTarget;

constexpr const char* kHeaderEnd = "\r\n\r\n";
constexpr const char* kMultipart = "multipart/form-data";

std::string nthToken(const std::string& line, size_t n) {
  const auto tokens = string_util::string_split(line, ' ');
  return tokens.size() > n ? tokens[n] : std::string();
}

// The boundary parameter of a Content-Type line. The quoted form ends at the quote before the
// line's carriage return; the unquoted form that most clients send ends at ';', CR or the end.
std::string multipartBoundary(const std::string& contentTypeLine) {
  const size_t quoted = contentTypeLine.find("boundary=\"");
  if (quoted != std::string::npos) {
    const size_t start = quoted + std::strlen("boundary=\"");
    const size_t end = contentTypeLine.find("\"\r", start);
    return contentTypeLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  const size_t bare = contentTypeLine.find("boundary=");
  if (bare == std::string::npos) return std::string();
  const size_t start = bare + std::strlen("boundary=");
  const size_t end = contentTypeLine.find_first_of(";\r", start);
  return contentTypeLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Appends body bytes, never past the declared length; reports whether the body is complete.
bool appendBody(HttpResponseData& record, const char* bytes, size_t count) {
  const size_t room = record.expected - record.received;
  const size_t take = std::min(room, count);
  if (take > 0) std::memcpy(record.body.data() + record.received, bytes, take);
  record.received += static_cast<uint32_t>(take);
  if (record.received < record.expected) return false;
  record.receiving = false;
  record.received = 0;
  return true;
}

FramingOutcome continueBody(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs) {
  if (static_cast<int32_t>(static_cast<uint32_t>(nowMs) -
                           static_cast<uint32_t>(record.lastChunkTimeMs)) > kMaxBodyChunkGapMs) {
    record.receiving = false;
    record.received = 0;
    return FramingOutcome::kBadRequest;
  }
  record.lastChunkTimeMs = nowMs;
  return appendBody(record, bytes, static_cast<size_t>(count)) ? FramingOutcome::kBodyComplete
                                                               : FramingOutcome::kWaiting;
}

FramingOutcome startPost(const std::string& header, const std::string& requestLine,
                         const char* bytes, int32_t count, HttpResponseData& record,
                         int32_t nowMs, std::string& parameters) {
  record.postParameters = utility::PostParameterString(QueryOfTarget(nthToken(requestLine, 1)));
  std::string contentLength;
  std::string contentType;
  for (const std::string& line : string_util::string_split(header, '\n')) {
    if (line.find("Content-Length") != std::string::npos) contentLength = nthToken(line, 1);
    if (line.find("Content-Type") != std::string::npos) contentType = line;
  }
  if (contentType.find(kMultipart) == std::string::npos) {
    parameters = "WrongContent";
    return FramingOutcome::kParameters;
  }
  const unsigned long long declared = [&] {
    if (contentLength.empty() || contentLength[0] < '0' || contentLength[0] > '9') return 0ull;
    return std::strtoull(contentLength.c_str(), nullptr, 10);
  }();
  if (declared > kMaxPostBodyBytes) {
    // The rest of this body would arrive as garbage requests; end the connection after the answer.
    record.closeAfterResponse = true;
    return FramingOutcome::kBadRequest;
  }
  record.delimiter = "--" + multipartBoundary(contentType);
  record.expected = static_cast<uint32_t>(declared);
  record.body.assign(record.expected, 0);
  record.received = 0;
  record.receiving = true;
  record.lastChunkTimeMs = nowMs;
  record.continueRequested = string_util::toLower(header).find("expect: 100-continue") != std::string::npos;
  // Clients may send the first body bytes in the same segment as the header: keep them.
  const size_t headerBytes = header.size() + 2;  // header keeps its last line's CRLF
  const size_t trailing = static_cast<size_t>(count) > headerBytes ? count - headerBytes : 0;
  if (appendBody(record, bytes + headerBytes, trailing)) {
    record.continueRequested = false;
    return FramingOutcome::kBodyComplete;
  }
  return FramingOutcome::kWaiting;
}

}  // namespace

int32_t FramingClockMs() {
  return static_cast<int32_t>(static_cast<uint32_t>(runtime::MonotonicMillis()));
}

FramingOutcome FrameRequest(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs, std::string& parameters) {
  parameters.clear();
  if (count < 0) count = 0;
  if (record.receiving) return continueBody(bytes, count, record, nowMs);

  const std::string text(bytes, strnlen(bytes, static_cast<size_t>(count)));
  const size_t headerEnd = text.find(kHeaderEnd);
  if (headerEnd == std::string::npos) return FramingOutcome::kWaiting;  // never assembled
  const std::string header = text.substr(0, headerEnd + 2);  // every line ends in CRLF
  const std::string requestLine = string_util::string_split(text, '\n').front();
  const std::string method = requestLine.substr(0, requestLine.find(' '));

  if (method == "POST")
    return startPost(header, requestLine, bytes, count, record, nowMs, parameters);
  if (method == "GET") {
    parameters = utility::GetParameterString(QueryOfTarget(nthToken(requestLine, 1)));
    return FramingOutcome::kParameters;
  }
  return FramingOutcome::kBadRequest;
}

}  // namespace quor::tessera::networking
