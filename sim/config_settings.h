#pragma once
// How one simulated device's configuration differs from its family's factory image, and how its
// firmware treats a configuration write. Device files set these; the defaults describe a device
// fresh from the factory whose firmware takes every write as sent.
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quor::tessera::sim {

// The firmware keeps one 32-bit field of every image it is sent within a range, as firmware
// that limits a value would, and says nothing about it.
struct ConfigClamp {
  uint16_t position = 0;  // byte offset of the little-endian field, a multiple of 4
  int32_t minimum = std::numeric_limits<int32_t>::min();
  int32_t maximum = std::numeric_limits<int32_t>::max();
};

// How the firmware answers configuration reads once it has taken a write.
enum class ReadsAfterWrite {
  kWhole,   // with the image, as always
  kSilent,  // not at all (it stops answering them)
  kShort,   // with the first half of the image only
};

struct ConfigSettings {
  // The image the device holds at power-up; empty = its family's factory image.
  std::vector<uint8_t> startImage;
  std::optional<ConfigClamp> clamp;
  // The firmware neither takes nor acknowledges a configuration write.
  bool ignoresWrites = false;
  // What the firmware answers a write it took with; empty = its generation's acknowledgement
  // (05 03 for four-part firmware versions, 04 otherwise).
  std::vector<uint8_t> writeAnswer;
  ReadsAfterWrite readsAfterWrite = ReadsAfterWrite::kWhole;
};

}  // namespace quor::tessera::sim
