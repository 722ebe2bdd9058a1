#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/cs.h"
#include "runtime/event.h"

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
