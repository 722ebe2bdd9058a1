#pragma once
// A recursive lock (the same thread may take it again) and its scoped holder.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class Cs {
 public:
  Cs() = default;
  Cs(const Cs&) = delete;
  Cs& operator=(const Cs&) = delete;

  // Blocks while another thread owns the lock. Throws std::system_error (device or resource
  // busy) rather than let the count wrap.
  void Lock();
  // The last level wakes one waiting thread.
  void Unlock();

 private:
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

// The two process-wide locks: the device-interface lock and the found-index lock.
extern Cs _lck;
extern Cs _csFoundIndex;
