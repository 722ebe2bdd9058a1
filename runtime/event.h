#pragma once
// A manual-reset signal: one thread sets it, others wait for it with a time-out. Waiting does
// not consume the signal; it stays set until Clear.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quor::tessera::runtime {

class Event {
 public:
  explicit Event(bool initiallySet = false) : signalled_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Signal();
  // Also wakes every waiter, which then finds the flag clear and returns false.
  void Clear();
  // True at once when set. Otherwise waits once, at most timeoutMs (none when <= 0); a wake-up
  // by Signal, Clear or a spurious one ends the wait early. Returns the flag at that moment.
  bool WaitForSignalSet(int32_t timeoutMs, int32_t unused = 1) const;

 private:
  bool signalled_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};

}  // namespace quor::tessera::runtime
