#pragma once
// Which plot channels a motor controller's status frame feeds, and their values: the frame is
// descrambled as the self-test reads it, then decoded with the same signal decoders.
//
// The PID frames' layout depends on the device's PID-frame scaling, which only the auxiliary-
// feedback frame tells: until one has been seen the PID frames are ignored. In the scaled
// layout the PID frame is scrambled like the other status frames; in the plain one it is not.
#include <cstdint>

#include "canmux/can_stream_message.h"
#include "live/plotter_datum.h"

namespace quor::tessera::diagnostics {

class PlotFrameDecoder {
 public:
  // Fills the datum's channels and returns the channel-mask bits of which any records the
  // frame; 0 (datum untouched) for frames that feed no channel, and for PID frames while the
  // format is not known.
  int32_t Decode(const CanStreamMessage& message, PlotterDatum* out);
  // -1 not known yet; 0 scaled, scrambled PID frames; 1 plain 24-bit ones.
  int32_t PidFormat() const;
  void Reset();

 private:
  int32_t DecodePid(uint32_t api, uint8_t* d, uint32_t deviceNumber, PlotterDatum* out) const;

  bool haveAuxFeedback_ = false;
  uint8_t auxFeedback_[8] = {};  // the newest auxiliary-feedback frame, descrambled
};

}  // namespace quor::tessera::diagnostics
