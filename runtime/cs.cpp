#include "runtime/cs.h"

#include <chrono>
#include <limits>
#include <system_error>

#include "runtime/event.h"

Cs _lck;
Cs _csFoundIndex;

bool Cs::Reenter(std::thread::id self) {
  if (count_ == 0 || owner_ != self) return false;
  if (count_ == std::numeric_limits<uint32_t>::max())
    throw std::system_error(std::make_error_code(std::errc::device_or_resource_busy));
  ++count_;
  return true;
}

void Cs::Take(std::thread::id self) {
  owner_ = self;
  count_ = 1;
}

void Cs::Lock() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (Reenter(self)) return;
  released_.wait(hold, [this] { return count_ == 0; });
  Take(self);
}

bool Cs::LockUnless(const quor::tessera::runtime::Event& cancel) {
  const std::thread::id self = std::this_thread::get_id();
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(mutex_);
      if (Reenter(self)) return true;
      if (released_.wait_for(hold, std::chrono::milliseconds(kCancelCheckInterval_ms),
                             [this] { return count_ == 0; })) {
        Take(self);
        return true;
      }
    }
    // Looked at without this lock's mutex held, so the two mutexes are never nested.
    if (cancel.WaitForSignalSet(0)) return false;
  }
}

void Cs::Unlock() {
  std::unique_lock<std::mutex> hold(mutex_);
  if (count_ == 0 || owner_ != std::this_thread::get_id()) return;  // not ours: ignore
  if (--count_ == 0) {
    owner_ = std::thread::id{};
    hold.unlock();
    released_.notify_one();
  }
}
