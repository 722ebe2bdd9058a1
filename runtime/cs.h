#pragma once
// A recursive lock (the same thread may take it again) and its scoped holder. Waiting threads
// take it in the order they asked for it, and a holder that works in steps can let the waiting
// threads have their turn between two steps (Yield).
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

namespace quor::tessera::runtime {
class Event;
}

class Cs {
 public:
  // How often a waiting LockUnless looks at its cancel signal.
  static constexpr int kCancelCheckInterval_ms = 2;

  enum class YieldResult {
    kKept,       // nobody was waiting (or the hold is nested): the lock was never let go
    kYielded,    // the threads that were waiting had their turn; the lock is held again
    kCancelled,  // `cancel` was set while waiting to take it back: the lock is not held
  };

  Cs() = default;
  Cs(const Cs&) = delete;
  Cs& operator=(const Cs&) = delete;

  // Blocks while another thread owns the lock. Throws std::system_error (device or resource
  // busy) rather than let the count wrap.
  void Lock();
  // As Lock, but gives up (false) once `cancel` is set, so a stopping thread never waits out
  // another thread's long operation.
  bool LockUnless(const quor::tessera::runtime::Event& cancel);
  // The last level wakes the waiting threads; the one that asked first takes it.
  void Unlock();
  // Called by the owner, holding one level: when other threads wait, lets each of them take
  // the lock once (in their order), then takes it back behind them; threads that ask meanwhile
  // come after it. Gives up waiting when `cancel` is set.
  YieldResult Yield(const quor::tessera::runtime::Event& cancel);
  // How many threads wait for the lock now.
  size_t WaitingThreads();

 private:
  using Ticket = uint64_t;
  // All with mutex_ held. Reenter takes another level when this thread owns the lock already.
  bool Reenter(std::thread::id self);
  Ticket Enqueue();
  bool MayTake(Ticket ticket) const;
  void Take(std::thread::id self, Ticket ticket);
  void Release(std::unique_lock<std::mutex>& hold);
  // Waits for the turn of `ticket`; gives it up (false) once `cancel` is set.
  bool WaitForTurn(std::unique_lock<std::mutex>& hold, Ticket ticket,
                   const quor::tessera::runtime::Event* cancel);

  std::mutex mutex_;
  std::condition_variable released_;
  uint32_t count_ = 0;
  std::thread::id owner_{};
  Ticket nextTicket_ = 0;
  std::set<Ticket> waiting_;  // the threads waiting to take it, in the order they asked
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

// A scoped LockUnless: held() tells whether the lock is held (a cancelled Yield lets it go).
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
  Cs::YieldResult Yield(const quor::tessera::runtime::Event& cancel) {
    const Cs::YieldResult result = cs_.Yield(cancel);
    if (result == Cs::YieldResult::kCancelled) held_ = false;
    return result;
  }

 private:
  Cs& cs_;
  bool held_;
};

// The two process-wide locks: the device-interface lock and the found-index lock.
extern Cs _lck;
extern Cs _csFoundIndex;
