#pragma once
// Cuts the bytes of one connection into requests: a GET with a query string, or a POST whose
// multipart/form-data body may span several reads.
#include <cstdint>
#include <string>

#include "server/http_response_data.h"

namespace quor::tessera::networking {

enum class FramingOutcome {
  kParameters,    // a request to act on at once; the parameter string is set
  kWaiting,       // no answer yet
  kBodyComplete,  // a POST body has just completed; act on the record's post parameters
  kBadRequest,    // answer with the "Invalid HTTP Header" document
};

// Bodies above this are refused before anything is allocated; firmware and configuration
// files are far smaller.
constexpr uint32_t kMaxPostBodyBytes = 32u * 1024u * 1024u;
// A body whose next chunk comes later than this after the previous one is abandoned.
constexpr int32_t kMaxBodyChunkGapMs = 1000;

// One read's bytes (`count` of them; `bytes` NUL-terminated after them). `nowMs` is the
// monotonic clock in milliseconds, truncated to 32 bits.
FramingOutcome FrameRequest(const char* bytes, int32_t count, HttpResponseData& record,
                            int32_t nowMs, std::string& parameters);

// The monotonic clock in milliseconds, truncated to 32 bits.
int32_t FramingClockMs();

}  // namespace quor::tessera::networking
