#include "runtime/event.h"

#include <chrono>

namespace quor::tessera::runtime {

void Event::Signal() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void Event::Clear() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    signalled_ = false;
  }
  changed_.notify_all();
}

bool Event::WaitForSignalSet(int32_t timeoutMs, int32_t /*unused*/) const {
  std::unique_lock<std::mutex> hold(mutex_);
  if (signalled_) return true;
  if (timeoutMs > 0) changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs));
  return signalled_;
}

}  // namespace quor::tessera::runtime
