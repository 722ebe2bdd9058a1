#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/cs.h"
#include "runtime/event.h"
#include "tests/support/wait_until.h"

using quor::tessera::runtime::Event;
using namespace std::chrono;

TEST(Event, ZeroTimeoutReportsTheFlagAtOnce) {
  Event clear(false);
  Event set(true);
  const auto start = steady_clock::now();
  EXPECT_FALSE(clear.WaitForSignalSet(0, 1));
  EXPECT_TRUE(set.WaitForSignalSet(0, 1));
  EXPECT_LT(steady_clock::now() - start, milliseconds(500));
}

TEST(Event, SignalIsNotConsumedByWaitsUntilCleared) {
  Event event(true);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(event.WaitForSignalSet(1000, 1));
  event.Clear();
  EXPECT_FALSE(event.WaitForSignalSet(0, 1));
  event.Signal();
  EXPECT_TRUE(event.WaitForSignalSet(0, 20));
  EXPECT_TRUE(event.WaitForSignalSet(0, 20));
}

TEST(Event, SignalFromAnotherThreadEndsTheWait) {
  Event event(false);
  std::thread signaller([&] {
    std::this_thread::sleep_for(milliseconds(20));
    event.Signal();
  });
  EXPECT_TRUE(event.WaitForSignalSet(10000, 1));
  signaller.join();
}

TEST(Event, ClearWakesAWaiterWhichReturnsFalse) {
  Event event(false);
  std::atomic<bool> done{false};
  std::atomic<bool> result{true};
  const auto start = steady_clock::now();
  std::thread waiter([&] {
    result = event.WaitForSignalSet(60000, 1);
    done = true;
  });
  // Clear can only end the wait once the waiter sleeps on the condition, so repeat it until the
  // waiter returns; a wait of the full 60 s would fail the bound below.
  while (!done && steady_clock::now() - start < seconds(10)) {
    event.Clear();
    std::this_thread::sleep_for(milliseconds(5));
  }
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_LT(steady_clock::now() - start, seconds(30));
}

TEST(Cs, RecursiveLockNeedsOneUnlockPerLock) {
  Cs cs;
  cs.Lock();
  cs.Lock();
  cs.Unlock();
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    CsH hold(cs);
    acquired = true;
  });
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_FALSE(acquired) << "one Unlock of two must keep the lock";
  cs.Unlock();
  other.join();
  EXPECT_TRUE(acquired);
}

TEST(Cs, ScopedHolderReleasesOnScopeExit) {
  Cs cs;
  { CsH hold(cs); }
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    CsH hold(cs);
    acquired = true;
  });
  other.join();
  EXPECT_TRUE(acquired);
}

// Waiting threads take the lock in the order they asked; a holder's Yield lets the threads
// waiting at that moment in first, and those that come later wait behind the holder.
TEST(Cs, WaitersTakeTurnsInOrderAndAYieldLetsTheWaitingOnesInFirst) {
  Cs cs;
  quor::tessera::runtime::Event noCancel;
  std::mutex orderMutex;
  std::vector<std::string> order;
  const auto note = [&](const char* who) {
    std::lock_guard<std::mutex> hold(orderMutex);
    order.push_back(who);
  };
  cs.Lock();
  EXPECT_EQ(cs.Yield(noCancel), Cs::YieldResult::kKept) << "nobody waits";
  std::thread late;
  std::thread first([&] {
    CsH hold(cs);
    note("first");
    // Asks while the holder is queued behind "second": it must come after the holder.
    late = std::thread([&] {
      CsH lateHold(cs);
      note("late");
    });
    ASSERT_TRUE(tessera_test::WaitUntil([&] { return cs.WaitingThreads() == 3; }, seconds(10)));
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return cs.WaitingThreads() == 1; }, seconds(10)));
  std::thread second([&] {
    CsH hold(cs);
    note("second");
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return cs.WaitingThreads() == 2; }, seconds(10)));
  cs.Lock();
  EXPECT_EQ(cs.Yield(noCancel), Cs::YieldResult::kKept) << "a nested hold never lets go";
  cs.Unlock();
  EXPECT_EQ(cs.Yield(noCancel), Cs::YieldResult::kYielded);
  note("holder");
  cs.Unlock();
  first.join();
  second.join();
  late.join();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "holder", "late"}));
}

TEST(Cs, CancelledYieldLeavesTheLockToTheOthers) {
  Cs cs;
  quor::tessera::runtime::Event cancel;
  quor::tessera::runtime::Event release;
  cs.Lock();
  std::thread other([&] {
    CsH hold(cs);
    release.WaitForSignalSet(30000);
  });
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return cs.WaitingThreads() == 1; }, seconds(10)));
  cancel.Signal();  // a stopping server: the holder lets go and does not wait to come back
  EXPECT_EQ(cs.Yield(cancel), Cs::YieldResult::kCancelled);
  // The other thread takes the lock when it next runs; the cancelled ticket is gone at once.
  EXPECT_TRUE(tessera_test::WaitUntil([&] { return cs.WaitingThreads() == 0; }, seconds(10)));
  release.Signal();
  other.join();
  std::atomic<bool> acquired{false};
  std::thread after([&] {
    CsH hold(cs);
    acquired = true;
  });
  after.join();
  EXPECT_TRUE(acquired) << "the cancelled holder must not keep the lock";
}
