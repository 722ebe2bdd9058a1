// Feeds arbitrary bytes to the request framing as a connection would: the input is cut into
// reads of at most 4095 bytes at positions the input itself chooses, with a clock that moves by
// input-chosen steps (some just inside and just past each deadline), and after every read the
// pipelined requests are framed one after another as the server does. Whatever comes in,
// framing must stay inside its buffers, never hold more than its limits, never report a
// negative or out-of-range part, and give back every upload byte it took.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "server/multipart_body.h"
#include "server/request_framing.h"
#include "server/request_parameters.h"

using namespace quor::tessera::networking;

namespace {

constexpr size_t kMaxRead = 4095;
constexpr int32_t kClockSteps[] = {0, 1, 400, 999, 1000, 1001, 10001, 60001};

void check(bool condition) {
  if (!condition) abort();
}

void checkOutcome(FramingOutcome outcome, HttpResponseData& record, const std::string& parameters) {
  if (outcome == FramingOutcome::kParameters) {
    (void)quor::tessera::utility::ParseParameterString(parameters);
  } else if (outcome == FramingOutcome::kBodyComplete) {
    check(record.body.size() == record.expected);
    int partSize = -1;
    const uint8_t* part = FindSingleFilePart(record.body, record.delimiter, &partSize);
    check(partSize >= 0);
    check(part == nullptr || (part >= record.body.data() &&
                              part + partSize <= record.body.data() + record.body.size()));
  }
  check(record.body.size() <= record.expected || record.body.empty());
  check(record.body.size() <= kMaxPostBodyBytes);
  check(UploadBody::BytesHeldByAll() <= kMaxUploadBytesInProgress);
}

// One read and every request it completes; false when the connection is closed.
bool deliver(HttpResponseData& record, const std::string& chunk, int32_t nowMs) {
  const char* bytes = chunk.c_str();
  int32_t count = static_cast<int32_t>(chunk.size());
  FramingOutcome outcome;
  do {
    std::string parameters;
    outcome = FrameRequest(bytes, count, record, nowMs, parameters);
    checkOutcome(outcome, record, parameters);
    if (outcome != FramingOutcome::kWaiting && !record.receiving) record.body.release();
    if (record.closeAfterResponse) return false;
    bytes = "";
    count = 0;
  } while (outcome != FramingOutcome::kWaiting && !record.unframed.empty());
  check(record.unframed.size() < kMaxHeaderBytes || record.receiving || record.discarding > 0);
  const int32_t wait = MillisUntilDeadline(record, nowMs);
  check(wait >= 0 && wait <= record.deadlines.idleMs + 1);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<HttpResponseData> record;
  record.emplace();
  int32_t nowMs = 0;
  size_t at = 0;
  while (at < size) {
    // Each read starts with a control byte: its length (scaled) and the clock step; length 0
    // stands for a wake-up without bytes, as when a deadline passes.
    const uint8_t control = data[at++];
    const size_t length = std::min<size_t>(size - at, std::min<size_t>(kMaxRead, (control & 0x1F) * 133));
    nowMs += kClockSteps[control >> 5];
    const std::string chunk(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if (!deliver(*record, chunk, nowMs)) record.emplace();  // the peer connects again
  }
  record.reset();
  check(UploadBody::BytesHeldByAll() == 0);
  return 0;
}
