#pragma once
// Cuts the bytes of one connection into requests: a GET with a query string, or a POST whose
// multipart/form-data body may span several reads. A request may arrive in pieces and several
// may arrive in one read; no byte of one request is ever taken as the start of another.
#include <cstdint>
#include <string>

#include "server/http_response_data.h"

namespace quor::tessera::networking {

enum class FramingOutcome {
  kParameters,    // a request to act on at once; the parameter string is set
  kWaiting,       // no answer yet (with closeAfterResponse: end the connection without one)
  kBodyComplete,  // a POST body has just completed; act on the record's post parameters
  kBadRequest,    // answer with the "Invalid HTTP Header" document
  kPage,          // a request for the browser page; the record's page holds its answer
};

// Bodies above this are refused before anything is allocated; firmware and configuration
// files are far smaller.
constexpr uint32_t kMaxPostBodyBytes = 32u * 1024u * 1024u;
// A request line and header fields, blank line included, must fit in this: one read's worth.
constexpr size_t kMaxHeaderBytes = 4095;
// A body whose next chunk comes later than this after the previous one is abandoned.
constexpr int32_t kMaxBodyChunkGapMs = ConnectionDeadlines{}.bodyGapMs;

// Frames what has arrived: the `count` new bytes of one read (`bytes` NUL-terminated after
// them; none when the caller only wants the next pipelined request, or a deadline checked)
// join the record's unframed bytes, and at most one request is framed from their front.
// `nowMs` is the monotonic clock in milliseconds, truncated to 32 bits. A request that cannot
// be framed, or a peer past its deadline, sets the record's closeAfterResponse.
FramingOutcome FrameRequest(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs, std::string& parameters);

// Milliseconds from `nowMs` until the connection's current deadline has passed (the header's,
// the body gap's, or the idle one); framing with no new bytes after that closes the connection.
int32_t MillisUntilDeadline(const HttpResponseData& record, int32_t nowMs);

// The monotonic clock in milliseconds, truncated to 32 bits.
int32_t FramingClockMs();

}  // namespace quor::tessera::networking
