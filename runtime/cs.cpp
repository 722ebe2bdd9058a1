#include "runtime/cs.h"

#include <limits>
#include <system_error>

Cs _lck;
Cs _csFoundIndex;

void Cs::Lock() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (count_ > 0 && owner_ == self) {
    if (count_ == std::numeric_limits<uint32_t>::max())
      throw std::system_error(std::make_error_code(std::errc::device_or_resource_busy));
    ++count_;
    return;
  }
  released_.wait(hold, [this] { return count_ == 0; });
  owner_ = self;
  count_ = 1;
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
