#pragma once
// The threads that serve the event loop. While handlers are quick, a few threads (one per core)
// serve every connection, each taking whatever became ready next. A handler may take seconds
// (a device operation); when every thread has been inside one for a while and none came back,
// another thread is started, up to a cap, so the other connections keep being served. Threads
// beyond the minimum end after idling. The thread that watches for that sleeps while any thread
// waits for work, so an idle server wakes nobody.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "server/event_loop.h"

namespace quor::tessera::networking {

class ServingThreads {
 public:
  using Serve = std::function<void(const epoll_event& ready)>;

  // How long every thread must have been busy, none finishing anything, before one more is
  // started; and how long a thread beyond the minimum waits for work before it ends.
  static constexpr int kStallMs = 5;
  static constexpr int kIdleExitMs = 10000;

  ServingThreads(EventLoop& loop, Serve serve, size_t stackBytes);
  ~ServingThreads() { stop(); }
  ServingThreads(const ServingThreads&) = delete;
  ServingThreads& operator=(const ServingThreads&) = delete;

  // Starts `minimum` threads and the watcher; at most `maximum` threads run at once. False when
  // not even one could be started (those started are stopped again).
  bool start(int minimum, int maximum);
  // Tells every thread to stop and waits until all have ended; a thread in a handler ends
  // when the handler returns.
  void stop();

  // Threads serving right now.
  int count() const { return threads_.load(); }

 private:
  bool startThread();  // with the lock held
  void run();
  void wakeWatcherIfAllBusy();
  bool leaveIfSpare();
  void leave();
  void watch();
  void startOneIfStalled(std::unique_lock<std::mutex>& hold);

  EventLoop& loop_;
  const Serve serve_;
  const size_t stackBytes_;
  int minimum_ = 0;
  int maximum_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool watcherRunning_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> watcherAsleep_{false};
  std::atomic<int> threads_{0};
  std::atomic<int> waiting_{0};      // threads waiting for work
  std::atomic<uint64_t> served_{0};  // events served so far, all threads together
};

}  // namespace quor::tessera::networking
