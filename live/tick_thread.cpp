#include "live/tick_thread.h"

#include "runtime/thread_name.h"

namespace quor::tessera::diagnostics {

TickThread::TickThread(std::string name, std::chrono::milliseconds period,
                       std::function<bool()> tick)
    : name_(std::move(name)), period_(period), tick_(std::move(tick)), thread_([this] { Run(); }) {}

TickThread::~TickThread() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TickThread::Wake() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}

void TickThread::Run() {
  runtime::SetThreadName(std::this_thread::get_id(), name_);
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stop_) {
    // A Wake() from here on is seen by the tick or by the wait below, never lost.
    woken_ = false;
    hold.unlock();
    const bool busy = tick_();
    hold.lock();
    // condition_variable waits on the steady clock, so the period never follows the wall clock.
    if (busy) {
      changed_.wait_for(hold, period_, [this] { return stop_; });
    } else {
      changed_.wait(hold, [this] { return stop_ || woken_; });
    }
  }
}

}  // namespace quor::tessera::diagnostics
