#include "server/request_framing.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/string_util.h"
#include "runtime/monotonic_clock.h"
#include "server/http_header_fields.h"
#include "server/request_parameters.h"

namespace quor::tessera::networking {

namespace {

using utility::QueryOfTarget;

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr const char* kMultipart = "multipart/form-data";
constexpr const char* kContinueExpectation = "100-continue";

std::string nthToken(const std::string& line, size_t n) {
  const auto tokens = string_util::string_split(line, ' ');
  return tokens.size() > n ? tokens[n] : std::string();
}

int32_t elapsedMs(int32_t sinceMs, int32_t nowMs) {
  return static_cast<int32_t>(static_cast<uint32_t>(nowMs) - static_cast<uint32_t>(sinceMs));
}

// Where this request ends is unknown, so nothing after it can be framed: answer, then close.
FramingOutcome refuse(HttpResponseData& record) {
  record.closeAfterResponse = true;
  record.receiving = false;
  record.received = 0;
  record.discarding = 0;
  record.body.release();
  record.unframed.clear();
  return FramingOutcome::kBadRequest;
}

// A peer past a deadline while no request of its own is open: close without an answer.
FramingOutcome hangUp(HttpResponseData& record) {
  record.closeAfterResponse = true;
  return FramingOutcome::kWaiting;
}

// The boundary parameter of a Content-Type value. The quoted form ends at the value's closing
// quote; the unquoted form that most clients send ends at ';' or the end.
std::string multipartBoundary(const std::string& contentType) {
  const std::string lowered = string_util::toLower(contentType);
  const size_t quoted = lowered.find("boundary=\"");
  if (quoted != std::string::npos) {
    const size_t start = quoted + std::strlen("boundary=\"");
    const size_t end = contentType.size() > start && contentType.back() == '"'
                           ? contentType.size() - 1
                           : contentType.find('"', start);
    return contentType.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  const size_t bare = lowered.find("boundary=");
  if (bare == std::string::npos) return std::string();
  const size_t start = bare + std::strlen("boundary=");
  const size_t end = contentType.find(';', start);
  return contentType.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Decimal digits only; anything else (a sign, a list, nothing) leaves the body unframable.
// Lengths past the cap saturate just above it.
bool readContentLength(const std::string* value, uint32_t& length) {
  length = 0;
  if (value == nullptr) return true;
  if (value->empty()) return false;
  uint64_t declared = 0;
  for (char c : *value) {
    if (c < '0' || c > '9') return false;
    declared = std::min<uint64_t>(declared * 10 + static_cast<uint64_t>(c - '0'),
                                  uint64_t{kMaxPostBodyBytes} + 1);
  }
  length = static_cast<uint32_t>(declared);
  return true;
}

FramingOutcome continueBody(HttpResponseData& record, int32_t nowMs, bool freshBytes) {
  if (elapsedMs(record.lastChunkTimeMs, nowMs) > record.deadlines.bodyGapMs) return refuse(record);
  if (freshBytes) record.lastChunkTimeMs = nowMs;
  const size_t take = std::min<size_t>(record.expected - record.received, record.unframed.size());
  if (!record.body.append(reinterpret_cast<const uint8_t*>(record.unframed.data()), take,
                          record.expected))
    return refuse(record);  // all uploads in progress together would hold too much
  record.unframed.erase(0, take);
  record.received += static_cast<uint32_t>(take);
  if (record.received < record.expected) return FramingOutcome::kWaiting;
  record.receiving = false;
  record.received = 0;
  record.idleSinceMs = nowMs;
  return FramingOutcome::kBodyComplete;
}

// Skips the body of a request that was answered without it.
FramingOutcome skipDiscardedBody(HttpResponseData& record, int32_t nowMs, bool freshBytes) {
  if (elapsedMs(record.lastChunkTimeMs, nowMs) > record.deadlines.bodyGapMs) return hangUp(record);
  if (freshBytes) record.lastChunkTimeMs = nowMs;
  const size_t take = std::min<size_t>(record.discarding, record.unframed.size());
  record.unframed.erase(0, take);
  record.discarding -= static_cast<uint32_t>(take);
  record.idleSinceMs = nowMs;
  return FramingOutcome::kWaiting;
}

FramingOutcome startPost(const HttpHeaderFields& fields, uint32_t declared,
                         HttpResponseData& record, int32_t nowMs, std::string& parameters) {
  const std::string* contentType = fields.find("content-type");
  if (contentType == nullptr ||
      string_util::toLower(*contentType).find(kMultipart) == std::string::npos) {
    parameters = "WrongContent";
    record.discarding = declared;
    return FramingOutcome::kParameters;
  }
  const std::string* expect = fields.find("expect");
  record.delimiter = "--" + multipartBoundary(*contentType);
  record.expected = declared;
  record.received = 0;
  record.body.release();
  record.receiving = true;
  record.lastChunkTimeMs = nowMs;
  record.continueRequested =
      expect != nullptr && string_util::toLower(*expect) == kContinueExpectation;
  // Clients may send the first body bytes in the same segment as the header: keep them.
  const FramingOutcome outcome = continueBody(record, nowMs, false);
  if (outcome != FramingOutcome::kWaiting) record.continueRequested = false;
  return outcome;
}

// Acts on one complete header (`header` ends with its last field line's CRLF).
FramingOutcome frameHeader(const std::string_view header, HttpResponseData& record,
                           int32_t nowMs, std::string& parameters) {
  const size_t lineEnd = header.find(kLineEnd);
  const std::string requestLine(header.substr(0, lineEnd + 1));  // keeps its '\r'
  const std::string method = requestLine.substr(0, requestLine.find(' '));
  const auto fields = HttpHeaderFields::Parse(header.substr(lineEnd + kLineEnd.size()));
  uint32_t declared = 0;
  if (header.find('\0') != std::string_view::npos || !fields ||
      fields->find("transfer-encoding") != nullptr ||
      !readContentLength(fields->find("content-length"), declared) || declared > kMaxPostBodyBytes)
    return refuse(record);
  const std::string query = QueryOfTarget(nthToken(requestLine, 1));
  record.unframed.erase(0, header.size() + kLineEnd.size());
  record.headerClockRunning = false;
  record.idleSinceMs = nowMs;
  record.lastChunkTimeMs = nowMs;
  if (method == "POST") {
    record.postParameters = utility::PostParameterString(query);
    return startPost(*fields, declared, record, nowMs, parameters);
  }
  record.discarding = declared;  // a body nobody reads must not be taken for requests
  if (method == "GET") {
    parameters = utility::GetParameterString(query);
    return FramingOutcome::kParameters;
  }
  return FramingOutcome::kBadRequest;
}

FramingOutcome frameNextRequest(HttpResponseData& record, int32_t nowMs, std::string& parameters) {
  // Line breaks between requests are tolerated, as some clients send one after a body.
  size_t leading = 0;
  while (record.unframed.compare(leading, kLineEnd.size(), kLineEnd) == 0) leading += kLineEnd.size();
  record.unframed.erase(0, leading);
  if (record.unframed.empty()) {
    record.headerClockRunning = false;
    const bool idleTooLong = elapsedMs(record.idleSinceMs, nowMs) > record.deadlines.idleMs;
    return idleTooLong ? hangUp(record) : FramingOutcome::kWaiting;
  }
  if (!record.headerClockRunning) {
    record.headerClockRunning = true;
    record.headerStartMs = nowMs;
  }
  if (elapsedMs(record.headerStartMs, nowMs) > record.deadlines.headerMs) return refuse(record);
  const size_t end = record.unframed.find(kHeaderEnd);
  if (end == std::string::npos)
    return record.unframed.size() >= kMaxHeaderBytes ? refuse(record) : FramingOutcome::kWaiting;
  if (end + kHeaderEnd.size() > kMaxHeaderBytes) return refuse(record);
  const std::string header = record.unframed.substr(0, end + kLineEnd.size());
  return frameHeader(header, record, nowMs, parameters);
}

}  // namespace

int32_t FramingClockMs() {
  return static_cast<int32_t>(static_cast<uint32_t>(runtime::MonotonicMillis()));
}

FramingOutcome FrameRequest(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs, std::string& parameters) {
  parameters.clear();
  const bool freshBytes = count > 0;
  if (freshBytes) record.unframed.append(bytes, static_cast<size_t>(count));
  if (record.receiving) return continueBody(record, nowMs, freshBytes);
  if (record.discarding > 0) {
    const FramingOutcome skipped = skipDiscardedBody(record, nowMs, freshBytes);
    if (record.discarding > 0 || record.closeAfterResponse) return skipped;
  }
  return frameNextRequest(record, nowMs, parameters);
}

int32_t MillisUntilDeadline(const HttpResponseData& record, int32_t nowMs) {
  const ConnectionDeadlines& limits = record.deadlines;
  int32_t sinceMs = record.idleSinceMs;
  int32_t limitMs = limits.idleMs;
  if (record.receiving || record.discarding > 0) {
    sinceMs = record.lastChunkTimeMs;
    limitMs = limits.bodyGapMs;
  } else if (!record.unframed.empty()) {
    sinceMs = record.headerClockRunning ? record.headerStartMs : nowMs;
    limitMs = limits.headerMs;
  }
  // One past the limit: a deadline passes only when more than its milliseconds have gone.
  return std::max<int32_t>(0, limitMs - elapsedMs(sinceMs, nowMs) + 1);
}

}  // namespace quor::tessera::networking
