#pragma once
// The narrow interface between the session multiplexer and whatever carries frames: the empty
// bus, a SocketCAN interface, or the in-process virtual bus of the simulator and tests.
//
// The multiplexer's receive thread calls receive() until it yields nothing, then waits in
// waitForFrames() until the backend says frames may be there; wakeReceiver() ends that wait
// from another thread (stop, or a change of backend). A backend that learns of frames on a
// thread of its own (the virtual bus) lets the multiplexer take them on that thread instead,
// so a frame costs no wake-up of the receive thread.
#include <cstdint>
#include <functional>
#include <mutex>

#include "canmux/can_stream_message.h"
#include "canmux/wake_signal.h"

class CanBackend {
 public:
  static constexpr int kWaitForever = WakeSignal::kForever;
  // How long the default waitForFrames lets a backend that cannot say when frames arrive rest
  // before it is asked again.
  static constexpr int kDefaultPoll_ms = 1;

  virtual ~CanBackend() = default;

  // Transmit hook: put one frame on the bus. Returns 0, or a negative status.
  virtual int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) = 0;

  // Receive hook: move up to `capacity` waiting frames into `buffer` (oldest first) and store
  // how many in `count`. Never waits for frames to come.
  virtual int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) = 0;

  // Returns once frames may be waiting, wakeReceiver() was called (since the last return), or
  // `timeout_ms` passed (kWaitForever: no limit); an early return is harmless. The default
  // returns after at most kDefaultPoll_ms, so a backend without a way to wait is polled.
  virtual void waitForFrames(int timeout_ms);
  // Makes the running waitForFrames, or the next one, return at once. Any thread.
  virtual void wakeReceiver() { wakeUp_.raise(); }

  // When a frame this backend received was on the bus, in wall-clock microseconds since the
  // epoch, from the frame's time stamp (for the bus trace). The default, for a backend whose
  // stamps mean nothing, is the present moment.
  virtual int64_t receivedAtWallClock_us(const CanStreamMessage& frame) const;

  // Interface name used in bus traces: "can0", "vcan0", "sim", "none".
  virtual const char* interfaceName() const = 0;

  // Called by framesArrived() on the thread that brought the frames; true when it took them
  // (it calls receive() itself). The multiplexer sets it; nullptr removes it, and once that
  // call returns the hook is neither running nor called again.
  using TakeFramesHook = std::function<bool(CanBackend& bus)>;
  void setTakeFramesHook(TakeFramesHook hook);

 protected:
  // For a backend whose frames arrive on a thread of its own: the hook takes them, or else
  // the receive thread is woken for them.
  void framesArrived();

  WakeSignal wakeUp_;

 private:
  std::mutex takeFramesLock_;  // held while the hook runs
  TakeFramesHook takeFrames_;
};
