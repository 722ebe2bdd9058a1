#pragma once
// Direct control of one motor controller. Each "control" request carries the whole desired
// control state; a thread of its own sends the packed control frame (and, when asked, the
// enable frame) every 10 ms for nine ticks after the latest request, so the motor stops when
// the PC tool stops asking.
//
// Invariants:
// - Frames go out only from the thread, after the lock is given back, and only while the age
//   of the latest request is below 100 ms; a new object, and a closed one, sends nothing.
// - The frame to send always carries the check bit of the requested frame: it is worked out
//   again whenever the requested frame changes, and only then.
// - After Close() returns no frame goes out until Open() and a new request: a tick that was
//   already sending has finished, and a request racing the close is refused.
#include <cstdint>
#include <mutex>

#include "device/device_descriptor.h"
#include "live/control_frame.h"
#include "live/tick_thread.h"
#include "server/request_parameters.h"

namespace quor::tessera::diagnostics {

class Control {
 public:
  static constexpr uint32_t kTickPeriod_ms = 10;
  static constexpr uint32_t kRunOut_ms = 100;  // ticks send while the age is below this
  static constexpr uint32_t kIdleAge_ms = 65535;

  Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // The "control" action: 0; -125 for a device that is not a motor controller or a value its
  // field cannot hold (the running control is then left as it was); -123 while closed.
  int ProcessUri(const CANDeviceInterface1::DeviceDescriptor* device,
                 const utility::ParameterMap& params);
  // One tick; true while later ticks still have frames to send.
  bool Process10Ms();

  // The server stops: back to the state of a new object, sending nothing, refusing requests.
  void Close();
  // The server starts again and takes requests.
  void Open();

 private:
  struct Outgoing {
    uint32_t controlId;
    bool sendEnableFrame;
    bool sendControlFrame;
    uint32_t age_ms;
    ControlFrameBytes frame;
  };

  Outgoing PrepareTick();
  void ResetLocked();

  std::mutex lock_;  // every field below up to the thread
  uint32_t controlId_ = 0;
  bool sendEnableFrame_ = false;   // "nonfrcroboten"
  bool sendControlFrame_ = false;  // "controlen"
  uint32_t age_ms_ = kIdleAge_ms;
  bool changed_ = true;
  bool closed_ = false;
  ControlFrameBytes requested_{};
  ControlFrameBytes toSend_{};
  std::mutex sending_;  // held across a whole tick, so Close() can wait out a send
  TickThread thread_;
};

}  // namespace quor::tessera::diagnostics
