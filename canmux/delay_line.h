#pragma once
// Holds frames back for a while and hands each on when its time has come, in the order of
// their due times (equal times in the order they came). One thread, started with the first
// frame held, sleeps until the earliest is due. Used by the virtual bus for late frames.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "canmux/can_stream_message.h"

class DelayLine {
 public:
  // Called on the delay line's thread, without its lock, once the frame is due. `tag` is
  // what hold() was given.
  using Release = std::function<void(const CanStreamMessage& frame, int tag)>;
  // More frames held at once than this are dropped: hold() says so.
  static constexpr size_t kCapacity = 65536;

  explicit DelayLine(Release release);
  // Stops the thread; frames still held are dropped.
  ~DelayLine();
  DelayLine(const DelayLine&) = delete;
  DelayLine& operator=(const DelayLine&) = delete;

  // Hands `frame` on `delay_us` from now (monotonic clock). False when the line is full.
  bool hold(const CanStreamMessage& frame, int tag, uint32_t delay_us);

 private:
  struct Held {
    int64_t due_us;
    uint64_t order;
    CanStreamMessage frame;
    int tag;
    bool operator>(const Held& other) const {
      return due_us != other.due_us ? due_us > other.due_us : order > other.order;
    }
  };

  void run();

  Release release_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::priority_queue<Held, std::vector<Held>, std::greater<Held>> held_;
  uint64_t nextOrder_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};
