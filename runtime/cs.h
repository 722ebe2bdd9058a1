#pragma once
// A recursive lock (the same thread may take it again) and its scoped holder.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace quor::tessera::runtime {
class Event;
}

class Cs {
 public:
  // How often a waiting LockUnless looks at its cancel signal.
  static constexpr int kCancelCheckInterval_ms = 2;

  Cs() = default;
  Cs(const Cs&) = delete;
  Cs& operator=(const Cs&) = delete;

  // Blocks while another thread owns the lock. Throws std::system_error (device or resource
  // busy) rather than let the count wrap.
  void Lock();
  // As Lock, but gives up (false) once `cancel` is set, so a stopping thread never waits out
  // another thread's long operation.
  bool LockUnless(const quor::tessera::runtime::Event& cancel);
  // The last level wakes one waiting thread.
  void Unlock();

 private:
  // Both with mutex_ held. Reenter takes another level when this thread owns the lock already.
  bool Reenter(std::thread::id self);
  void Take(std::thread::id self);

  std::mutex mutex_;
  std::condition_variable released_;
  uint32_t count_ = 0;
  std::thread::id owner_{};
};

class CsH {
 public:
  explicit CsH(Cs& cs) : cs_(cs) { cs_.Lock(); }
  ~CsH() { cs_.Unlock(); }
  CsH(const CsH&) = delete;
  CsH& operator=(const CsH&) = delete;

 private:
  Cs& cs_;
};

// A scoped LockUnless: held() tells whether the lock was taken.
class CsHUnless {
 public:
  CsHUnless(Cs& cs, const quor::tessera::runtime::Event& cancel)
      : cs_(cs), held_(cs.LockUnless(cancel)) {}
  ~CsHUnless() {
    if (held_) cs_.Unlock();
  }
  CsHUnless(const CsHUnless&) = delete;
  CsHUnless& operator=(const CsHUnless&) = delete;
  bool held() const { return held_; }

 private:
  Cs& cs_;
  const bool held_;
};

// The two process-wide locks: the device-interface lock and the found-index lock.
extern Cs _lck;
extern Cs _csFoundIndex;
