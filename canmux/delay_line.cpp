#include "canmux/delay_line.h"

#include <chrono>

#include "runtime/monotonic_clock.h"
#include "runtime/thread_name.h"

namespace {

int64_t NowMicros() { return quor::tessera::runtime::MonotonicMicros(); }

}  // namespace

DelayLine::DelayLine(Release release) : release_(std::move(release)) {}

DelayLine::~DelayLine() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool DelayLine::hold(const CanStreamMessage& frame, int tag, uint32_t delay_us) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_ || held_.size() >= kCapacity) return false;
    held_.push(Held{NowMicros() + delay_us, nextOrder_++, frame, tag});
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  changed_.notify_all();
  return true;
}

void DelayLine::run() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CAN delay");
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    if (held_.empty()) {
      changed_.wait(hold);
      continue;
    }
    const int64_t wait_us = held_.top().due_us - NowMicros();
    if (wait_us > 0) {
      changed_.wait_for(hold, std::chrono::microseconds(wait_us));
      continue;
    }
    const Held due = held_.top();
    held_.pop();
    hold.unlock();
    release_(due.frame, due.tag);
    hold.lock();
  }
}
