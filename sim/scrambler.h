#pragma once
// Status-frame scrambling as the devices' firmware does it: the inverse of the engine's
// descrambling, written from the same rules in the other direction and kept apart from the
// engine's code, so a misreading on either side fails a round trip instead of cancelling out.
//
// A frame is four little-endian 16-bit words W0..W3 (d0d1 .. d6d7). Descrambling changes W3
// first, from the other three as they arrive; nothing after that step reads or changes W3.
// So the scrambled W3 is the plain W3 plus an offset fixed by the scrambled W0..W2, and the
// device can choose the plain frame's unused mode-field bits to make the scrambled frame show
// the mode it was scrambled with.
#include <cstdint>

#include "core/device_firmware_constants.h"

namespace quor::tessera::sim {

enum class ScrambleRoutine : uint8_t {
  kNone,             // sent as built
  kMotorController,  // short and long form
  kEncoder,          // short and long form
  kIoBoard,          // short form only
  kImu,              // short form only
};

bool HasLongForm(ScrambleRoutine routine);

// The two forms on eight bytes in place, without regard to any mode field.
void ScrambleShortForm(uint8_t* data, const core::firmware_constants::ShortFormKeys& keys);
void ScrambleLongForm(uint8_t* data, const core::firmware_constants::LongFormKeys& keys,
                      uint8_t deviceNumber);

// Prepares a plain status frame for the wire with scramble mode `mode` (0..3) in the 2-bit
// field that starts at bit `modeBit` of dword1 (24..30). Mode 1 scrambles with the short form,
// mode 2 with the long form; modes 0 and 3, and mode 2 for a routine without a long form,
// leave the frame plain with the mode written into the field. The field's plain bits are never
// part of a frame's signals.
void ScrambleStatusFrame(uint8_t* data, ScrambleRoutine routine, uint8_t mode, uint8_t modeBit,
                         uint8_t deviceNumber);

}  // namespace quor::tessera::sim
