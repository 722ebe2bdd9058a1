#pragma once
// The wire of a 1 Mbit/s CAN bus in time: every node has a transmit queue; when the wire is
// free the waiting frame with the lowest ID wins arbitration and occupies the wire for its
// real duration (can_frame_timing.h), then the wire delivers it. A node whose queue is full
// is told so with -ENOBUFS, as a SocketCAN socket would.
//
// Invariants: one frame on the wire at a time; a frame never starts before the previous one
// has ended, nor before it was queued; frames queued while the wire is busy compete at the
// next start. Wire time is kept on the monotonic clock and does not drift when the wire
// thread wakes late: a frame that was waiting starts exactly when the previous one ended.
//
// Wake-ups: the wire thread sleeps on an alarm set for the end of the frame on the wire. A
// frame queued on an idle wire goes on it at once, from the sender, which sets the alarm; a
// frame queued on a busy wire just waits, since the alarm is already due. So the thread wakes
// once per frame end, never per send, and one late wake-up delivers every frame that has ended.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "canmux/bounded_ring.h"
#include "canmux/can_stream_message.h"
#include "canmux/monotonic_alarm.h"

class BusTimeModel {
 public:
  // Called on the wire thread for every frame once it has been on the wire, time-stamped with
  // the end of its transmission (bus clock, microseconds).
  using Deliver = std::function<void(const CanStreamMessage& frame, const void* sender)>;
  static constexpr int32_t kQueueFull = -105;  // -ENOBUFS

  explicit BusTimeModel(Deliver deliver);
  // Stops the wire; frames still queued are dropped.
  ~BusTimeModel();
  BusTimeModel(const BusTimeModel&) = delete;
  BusTimeModel& operator=(const BusTimeModel&) = delete;

  // Queues `frame` for `sender` (any pointer that names a node), whose queue holds `capacity`
  // frames. While it is full, waits up to `wait_us` for the wire to take one (never on the
  // wire thread itself). 0, or kQueueFull.
  int32_t submit(const CanStreamMessage& frame, const void* sender, size_t capacity,
                 uint32_t wait_us);

  // Bits the wire has carried since creation (for figures).
  uint64_t bitsCarried() const;

 private:
  struct Queued {
    CanStreamMessage frame;
    int64_t queued_us;
  };
  struct Node {
    const void* sender;
    BoundedRing<Queued> queue;
  };

  struct OnWire {
    CanStreamMessage frame;
    const void* sender;
    int64_t end_us;
  };

  Node& nodeOf(const void* sender, size_t capacity);  // lock held
  Node* arbitrate();                                  // lock held; null when nothing waits
  // Lock held, wire free: the arbitration winner, if any, goes on the wire.
  void startNextFrame();
  // Lock held on entry and return: hands over every frame whose end has passed, each followed
  // by the next arbitration (after the hand-over, so that frames queued by it compete).
  void deliverEndedFrames(std::unique_lock<std::mutex>& hold);
  void run();

  Deliver deliver_;
  mutable std::mutex mutex_;
  std::condition_variable room_;   // the wire took a frame
  std::vector<Node> nodes_;
  OnWire current_{};
  bool onWire_ = false;            // current_ is on the wire
  // The wire thread is handing frames over and arbitrates when done: senders leave it to it.
  bool handingOver_ = false;
  MonotonicAlarm frameEnds_;       // set for current_'s end, or to stop
  int64_t wireFree_us_ = 0;        // when the last frame on the wire ended
  uint64_t bitsCarried_ = 0;
  bool stopping_ = false;
  std::thread::id wireThreadId_;
  std::thread wire_;
};
