// Feeds arbitrary bytes to the request framing as a connection would: the input is cut into
// reads of at most 4095 bytes at positions the input itself chooses, with a clock that moves
// by input-chosen steps. Whatever comes in, framing must stay inside its buffers and the
// multipart extraction must never report a negative or out-of-range part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/multipart_body.h"
#include "server/request_framing.h"
#include "server/request_parameters.h"

using namespace quor::tessera::networking;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HttpResponseData record;
  int32_t nowMs = 0;
  size_t at = 0;
  while (at < size) {
    // First byte of each read: its length (scaled) and the clock step.
    const uint8_t control = data[at++];
    const size_t length = std::min<size_t>(size - at, 1 + (control & 0x3F) * 64);
    nowMs += (control & 0xC0) == 0xC0 ? 1500 : (control >> 6) * 100;
    std::string chunk(reinterpret_cast<const char*>(data + at), length);
    at += length;
    std::string parameters;
    const FramingOutcome outcome =
        FrameRequest(chunk.c_str(), static_cast<int32_t>(chunk.size()), record, nowMs, parameters);
    if (outcome == FramingOutcome::kParameters) {
      (void)quor::tessera::utility::ParseParameterString(parameters);
    } else if (outcome == FramingOutcome::kBodyComplete) {
      if (record.body.size() != record.expected) abort();
      int partSize = -1;
      const uint8_t* part = FindSingleFilePart(record.body, record.delimiter, &partSize);
      if (partSize < 0) abort();
      if (part != nullptr && (part < record.body.data() ||
                              part + partSize > record.body.data() + record.body.size()))
        abort();
    }
    if (record.body.size() > kMaxPostBodyBytes) abort();
  }
  return 0;
}
