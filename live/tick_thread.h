#pragma once
// The thread behind the plotter and direct control: it runs its owner's tick, then sleeps one
// period measured on the monotonic clock from the end of that tick, so the period is the tick
// plus the sleep. A tick that reports it has nothing to do lets the thread sleep until Wake()
// instead, so an idle server wakes nobody every 10 ms.
//
// Declare a TickThread as its owner's last member: it starts in its constructor, after the
// fields the tick reads, and its destructor (stop, then join) runs before they are destroyed.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quor::tessera::diagnostics {

class TickThread {
 public:
  // `tick` returns true while more ticks are needed.
  TickThread(std::string name, std::chrono::milliseconds period, std::function<bool()> tick);
  ~TickThread();
  TickThread(const TickThread&) = delete;
  TickThread& operator=(const TickThread&) = delete;

  // A tick follows at once when the thread sleeps for want of work; otherwise at its time.
  void Wake();

 private:
  void Run();

  const std::string name_;
  const std::chrono::milliseconds period_;
  const std::function<bool()> tick_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool woken_ = false;
  std::thread thread_;  // last: started once everything above is set
};

}  // namespace quor::tessera::diagnostics
