#pragma once
// Waiting for a condition in tests: every wait has a deadline on the monotonic clock, and the
// condition is polled instead of sleeping a guessed time.
#include <chrono>
#include <thread>

namespace tessera_test {

// Polls `condition` every `interval` until it holds or the deadline passes; its last value.
// A condition may also do work (step a state machine, run a round) before it answers.
template <typename Condition>
bool WaitUntil(Condition condition,
               std::chrono::steady_clock::duration deadline = std::chrono::seconds(3),
               std::chrono::steady_clock::duration interval = std::chrono::microseconds(200)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return condition();
    std::this_thread::sleep_for(interval);
  }
  return true;
}

}  // namespace tessera_test
