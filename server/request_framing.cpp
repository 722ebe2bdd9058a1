#include "server/request_framing.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/string_util.h"
#include "runtime/monotonic_clock.h"
#include "server/content_type.h"
#include "server/cross_site_request.h"
#include "server/http_header_fields.h"
#include "server/request_parameters.h"
#include "server/ui_page.h"

namespace quor::tessera::networking {

namespace {

using utility::QueryOfTarget;

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr const char* kMultipart = "multipart/form-data";
constexpr const char* kContinueExpectation = "100-continue";
constexpr std::string_view kCloseOption = "close";

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

// Whether the Connection field lists the "close" option (a comma-separated list, any case).
bool asksToClose(const HttpHeaderFields& fields) {
  const std::string* connection = fields.find("connection");
  if (connection == nullptr) return false;
  for (std::string option : string_util::string_split(string_util::toLower(*connection), ',')) {
    const size_t first = option.find_first_not_of(" \t");
    const size_t last = option.find_last_not_of(" \t");
    if (first != std::string::npos && option.substr(first, last - first + 1) == kCloseOption)
      return true;
  }
  return false;
}

FramingOutcome startPost(const HttpHeaderFields& fields, uint32_t declared,
                         HttpResponseData& record, int32_t nowMs, std::string& parameters) {
  const std::string* contentTypeField = fields.find("content-type");
  const ContentType contentType = ParseContentType(contentTypeField ? *contentTypeField : "");
  if (contentType.mediaType != kMultipart) {
    parameters = "WrongContent";
    record.discarding = declared;
    return FramingOutcome::kParameters;
  }
  // Without a boundary the body's parts cannot be told apart; its end still can, by its length.
  const auto boundary = contentType.parameters.find("boundary");
  if (!contentType.parametersReadable || boundary == contentType.parameters.end() ||
      boundary->second.empty()) {
    record.discarding = declared;
    return FramingOutcome::kBadRequest;
  }
  const std::string* expect = fields.find("expect");
  record.delimiter = "--" + boundary->second;
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
  const std::string target = nthToken(requestLine, 1);
  const std::string query = QueryOfTarget(target);
  record.queryAsWritten = utility::urldecode(query);
  record.unframed.erase(0, header.size() + kLineEnd.size());
  record.headerClockRunning = false;
  record.idleSinceMs = nowMs;
  record.lastChunkTimeMs = nowMs;
  record.closeRequested = asksToClose(*fields);
  // The page's files are the same for every visitor, so a link from another site may open it;
  // what the page then asks of the robot passes the cross-site check like any request.
  if ((method == "GET" || method == "HEAD") && IsPageTarget(target)) {
    record.discarding = declared;
    record.crossSiteRefusal.clear();
    record.page = AnswerPageRequest(BuiltInUiAssets(), target, method == "HEAD",
                                    fields->find("accept-encoding"), fields->find("if-none-match"));
    return FramingOutcome::kPage;
  }
  record.crossSiteRefusal = CrossSiteRefusal(*fields);
  if (!record.crossSiteRefusal.empty() && (method == "GET" || method == "POST")) {
    // Refused before its body is taken: an upload from another site holds no memory.
    record.discarding = declared;
    return FramingOutcome::kParameters;
  }
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

FramingOutcome frameWhatHasArrived(const char* bytes, int32_t count, HttpResponseData& record,
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

}  // namespace

int32_t FramingClockMs() {
  return static_cast<int32_t>(static_cast<uint32_t>(runtime::MonotonicMillis()));
}

FramingOutcome FrameRequest(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs, std::string& parameters) {
  const FramingOutcome outcome = frameWhatHasArrived(bytes, count, record, nowMs, parameters);
  // The client that asked for the connection to end after its answer reads until it ends.
  if (outcome != FramingOutcome::kWaiting && record.closeRequested) record.closeAfterResponse = true;
  return outcome;
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
