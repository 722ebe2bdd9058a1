#include "server/serving_threads.h"

#include <chrono>
#include <thread>

#include "runtime/thread_name.h"
#include "server/small_stack_thread.h"

namespace quor::tessera::networking {

ServingThreads::ServingThreads(EventLoop& loop, Serve serve, size_t stackBytes)
    : loop_(loop), serve_(std::move(serve)), stackBytes_(stackBytes) {}

bool ServingThreads::start(int minimum, int maximum) {
  std::unique_lock<std::mutex> hold(mutex_);
  minimum_ = minimum;
  maximum_ = maximum;
  stopping_ = false;
  started_ = true;
  for (int i = 0; i < minimum; ++i) startThread();
  watcherRunning_ = StartSmallStackThread(stackBytes_, [this] { watch(); });
  hold.unlock();
  if (threads_ > 0 && watcherRunning_) return true;
  stop();
  return false;
}

bool ServingThreads::startThread() {
  ++threads_;
  if (StartSmallStackThread(stackBytes_, [this] { run(); })) return true;
  --threads_;
  return false;
}

void ServingThreads::stop() {
  std::unique_lock<std::mutex> hold(mutex_);
  if (!started_) return;
  stopping_ = true;
  changed_.notify_all();
  loop_.wakeAll();
  changed_.wait(hold, [this] { return threads_ == 0 && !watcherRunning_; });
  started_ = false;
}

void ServingThreads::run() {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP recv");
  for (;;) {
    const int timeoutMs = threads_ > minimum_ ? kIdleExitMs : -1;
    ++waiting_;
    epoll_event ready{};
    const bool woken = loop_.wait(timeoutMs, ready);
    wakeWatcherIfAllBusy();
    if (stopping_) break;
    if (!woken) {
      if (leaveIfSpare()) return;
      continue;
    }
    if (ready.data.u64 == EventLoop::kWakeToken) continue;
    serve_(ready);
    ++served_;
  }
  leave();
}

void ServingThreads::wakeWatcherIfAllBusy() {
  if (--waiting_ > 0 || !watcherAsleep_) return;
  std::lock_guard<std::mutex> hold(mutex_);
  changed_.notify_all();
}

bool ServingThreads::leaveIfSpare() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (threads_ <= minimum_ || stopping_) return false;
  }
  leave();
  return true;
}

void ServingThreads::leave() {
  // Notified under the lock: once the last thread is gone, stop may return and this object
  // go away; nothing of it is touched after the unlock.
  std::lock_guard<std::mutex> hold(mutex_);
  --threads_;
  changed_.notify_all();
}

void ServingThreads::watch() {
  runtime::SetThreadName(std::this_thread::get_id(), "TCP pool");
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopping_) {
    watcherAsleep_ = true;
    changed_.wait(hold, [this] { return stopping_ || (waiting_ == 0 && threads_ < maximum_); });
    watcherAsleep_ = false;
    if (!stopping_) startOneIfStalled(hold);
  }
  watcherRunning_ = false;
  changed_.notify_all();
}

void ServingThreads::startOneIfStalled(std::unique_lock<std::mutex>& hold) {
  const uint64_t servedBefore = served_;
  changed_.wait_for(hold, std::chrono::milliseconds(kStallMs), [this] { return stopping_.load(); });
  if (!stopping_ && waiting_ == 0 && served_ == servedBefore && threads_ < maximum_)
    startThread();
}

}  // namespace quor::tessera::networking
