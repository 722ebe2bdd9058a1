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

Cs::Ticket Cs::Enqueue() {
  const Ticket ticket = nextTicket_++;
  waiting_.insert(ticket);
  return ticket;
}

bool Cs::MayTake(Ticket ticket) const { return count_ == 0 && *waiting_.begin() == ticket; }

void Cs::Take(std::thread::id self, Ticket ticket) {
  waiting_.erase(ticket);
  owner_ = self;
  count_ = 1;
}

void Cs::Release(std::unique_lock<std::mutex>& hold) {
  count_ = 0;
  owner_ = std::thread::id{};
  const bool anyoneWaiting = !waiting_.empty();
  hold.unlock();
  // Every waiter looks: only the first in line may take it.
  if (anyoneWaiting) released_.notify_all();
  hold.lock();
}

bool Cs::WaitForTurn(std::unique_lock<std::mutex>& hold, Ticket ticket,
                     const quor::tessera::runtime::Event* cancel) {
  const std::thread::id self = std::this_thread::get_id();
  if (cancel == nullptr) {
    released_.wait(hold, [&] { return MayTake(ticket); });
    Take(self, ticket);
    return true;
  }
  for (;;) {
    if (released_.wait_for(hold, std::chrono::milliseconds(kCancelCheckInterval_ms),
                           [&] { return MayTake(ticket); })) {
      Take(self, ticket);
      return true;
    }
    // Looked at without this lock's mutex held, so the two mutexes are never nested.
    hold.unlock();
    const bool cancelled = cancel->WaitForSignalSet(0);
    hold.lock();
    if (cancelled && !MayTake(ticket)) {
      waiting_.erase(ticket);
      // The next in line may be free to go now that this ticket is gone.
      hold.unlock();
      released_.notify_all();
      hold.lock();
      return false;
    }
  }
}

void Cs::Lock() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (Reenter(self)) return;
  WaitForTurn(hold, Enqueue(), nullptr);
}

bool Cs::LockUnless(const quor::tessera::runtime::Event& cancel) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (Reenter(self)) return true;
  return WaitForTurn(hold, Enqueue(), &cancel);
}

void Cs::Unlock() {
  std::unique_lock<std::mutex> hold(mutex_);
  if (count_ == 0 || owner_ != std::this_thread::get_id()) return;  // not ours: ignore
  if (--count_ == 0) Release(hold);
}

Cs::YieldResult Cs::Yield(const quor::tessera::runtime::Event& cancel) {
  std::unique_lock<std::mutex> hold(mutex_);
  // A nested hold belongs to an operation that called another: it must finish as one.
  if (count_ != 1 || owner_ != std::this_thread::get_id() || waiting_.empty())
    return YieldResult::kKept;
  // Queued before letting go, so it comes right after the threads already waiting.
  const Ticket ticket = Enqueue();
  Release(hold);
  return WaitForTurn(hold, ticket, &cancel) ? YieldResult::kYielded : YieldResult::kCancelled;
}

size_t Cs::WaitingThreads() {
  std::lock_guard<std::mutex> hold(mutex_);
  return waiting_.size();
}
