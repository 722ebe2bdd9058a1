#pragma once
// Per-connection state of the request framing: the bytes not yet framed, a POST body across
// several reads, and the clocks of the connection's deadlines.
#include <cstdint>
#include <optional>
#include <string>

#include "server/ui_page.h"
#include "server/upload_body.h"

namespace quor::tessera::networking {

// How long a peer may keep the connection without progress, in milliseconds.
struct ConnectionDeadlines {
  int32_t headerMs = 10000;       // from a request's first byte to the end of its header
  int32_t bodyGapMs = 1000;       // between two chunks of a body
  int32_t idleMs = 60000;         // a kept-alive connection between requests
  int32_t sendStallMs = 10000;    // an answer the peer does not read, since bytes last left
};

struct HttpResponseData {
  UploadBody body;              // the POST body received so far; released once answered
  uint32_t received = 0;        // body bytes stored so far
  uint32_t expected = 0;        // declared Content-Length of the body being collected
  bool receiving = false;       // true while a POST body is being collected
  std::string delimiter;        // "--" + the multipart boundary
  std::string postParameters;   // the POST's decoded, lower-cased query
  std::string queryAsWritten;   // the request's decoded query with its case (file names)
  int32_t lastChunkTimeMs = 0;  // monotonic ms (truncated) of the header or the last chunk
  bool closeAfterResponse = false;  // the connection cannot be resynchronised; end it
  bool continueRequested = false;   // the POST asked for "100 Continue" before its body
  bool closeRequested = false;      // the request said "Connection: close": end after its answer
  std::string crossSiteRefusal;     // why the request, sent by another site's page, must not run
  std::optional<PageAnswer> page;   // the answer to a request for the browser page's files

  ConnectionDeadlines deadlines;
  std::string unframed;         // bytes read but not yet framed: the start of the next request
  uint32_t discarding = 0;      // body bytes of an answered request still to be skipped
  bool headerClockRunning = false;
  int32_t headerStartMs = 0;    // when the first byte of the pending header arrived
  int32_t idleSinceMs = 0;      // when the connection opened or its last request was framed
};

}  // namespace quor::tessera::networking
