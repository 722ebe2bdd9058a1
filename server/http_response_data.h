#pragma once
// Per-connection state that carries a POST body across several reads.
#include <cstdint>
#include <string>
#include <vector>

namespace quor::tessera::networking {

struct HttpResponseData {
  std::vector<uint8_t> body;    // exactly the declared Content-Length once a POST header arrives
  uint32_t received = 0;        // body bytes stored so far
  uint32_t expected = 0;        // declared Content-Length of the body being collected
  bool receiving = false;       // true while a POST body is being collected
  std::string delimiter;        // "--" + the multipart boundary
  std::string postParameters;   // the POST's decoded, lower-cased query
  int32_t lastChunkTimeMs = 0;  // monotonic ms (truncated) of the header or the last chunk
  bool closeAfterResponse = false;  // the connection cannot be resynchronised; end it
  bool continueRequested = false;   // the POST asked for "100 Continue" before its body
};

}  // namespace quor::tessera::networking
