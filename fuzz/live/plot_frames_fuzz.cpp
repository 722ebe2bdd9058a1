// Feeds arbitrary frames to the plot decoder as a motor controller's stream would bring them:
// status frames of any API (feeding channels or not), any length, the PID frames before and
// after an auxiliary-feedback frame told their layout. Every point it makes is written as the
// "plot" answer writes it.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/support/fuzz_input.h"
#include "live/plot_frame_decoder.h"

namespace {

constexpr uint32_t kMotorControllerBits = 0x02040000;
constexpr int32_t kKnownChannelBits = 0x3FF;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quor::tessera::diagnostics::PlotFrameDecoder;
  using quor::tessera::diagnostics::PlotterDatum;
  fuzz_support::FuzzInput input(data, size);
  PlotFrameDecoder decoder;
  // Frames: a byte whose low bit says whether a whole ID follows (else the low 16 bits of a
  // motor controller's), the ID, the time stamp, the length 0-8 and the data.
  while (!input.empty()) {
    CanStreamMessage frame{};
    frame.messageID = input.flag() ? input.u32() & 0x1FFFFFFF : kMotorControllerBits | input.u16();
    frame.timeStamp = input.u32();
    frame.dataSize = static_cast<uint8_t>(input.upTo(8));
    const std::vector<uint8_t> bytes = input.bytes(frame.dataSize);
    if (!bytes.empty()) std::memcpy(frame.data, bytes.data(), bytes.size());
    PlotterDatum datum;
    const int32_t bits = decoder.Decode(frame, &datum);
    check((bits & ~kKnownChannelBits) == 0);
    check(datum.count >= 0 && datum.count <= PlotterDatum::kMaxChannels);
    check(bits != 0 || datum.count == 0);
    check(decoder.PidFormat() >= -1 && decoder.PidFormat() <= 1);
    for (int i = 0; i < datum.count; ++i) check(datum.names[i] != nullptr && std::isfinite(datum.values[i]));
    nlohmann::json point;
    datum.ToJson(point);
    (void)point.dump(4);
  }
  return 0;
}
