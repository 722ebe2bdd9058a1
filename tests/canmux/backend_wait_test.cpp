// The receive thread's sleep in its backend: it lasts until a frame is there for the server or
// someone wakes it, and a wake-up given just before the sleep is not lost.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "canmux/none_backend.h"
#include "canmux/virtual_bus.h"
#include "tests/support/can_frames.h"

namespace {

using std::chrono::milliseconds;

struct WaitCase {
  std::string name;
  std::function<std::shared_ptr<CanBackend>()> make;
  void (*before)(CanBackend&);   // before the wait starts
  void (*trigger)(CanBackend&);  // while it waits
  uint32_t framesAfter;                      // receive() then yields this many
};

void injectOne(CanBackend& backend) {
  static_cast<VirtualBus&>(backend).inject(tessera_test::Frame(0x0204F905, {1}));
}
void wake(CanBackend& backend) { backend.wakeReceiver(); }
void nothing(CanBackend&) {}

TEST(BackendWait, SleepsUntilAFrameOrAWakeUp) {
  const auto none = [] { return std::shared_ptr<CanBackend>(std::make_shared<NoneBackend>()); };
  const auto bus = [] { return std::shared_ptr<CanBackend>(std::make_shared<VirtualBus>()); };
  const WaitCase cases[] = {
      {"empty bus, woken while asleep", none, nothing, wake, 0},
      {"empty bus, woken before the wait", none, wake, nothing, 0},
      {"virtual bus, a frame arrives", bus, nothing, injectOne, 1},
      {"virtual bus, a frame already queued", bus, injectOne, nothing, 1},
      {"virtual bus, woken while asleep", bus, nothing, wake, 0},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::shared_ptr<CanBackend> backend = c.make();
    c.before(*backend);
    auto waiting = std::async(std::launch::async,
                              [&] { backend->waitForFrames(CanBackend::kWaitForever); });
    const bool mustSleepFirst = c.trigger != nothing;
    if (mustSleepFirst) {
      EXPECT_EQ(std::future_status::timeout, waiting.wait_for(milliseconds(30)))
          << "returned with nothing to do";
    }
    c.trigger(*backend);
    const bool ended = waiting.wait_for(milliseconds(3000)) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended) backend->wakeReceiver();  // let the test end
    CanStreamMessage received[4];
    uint32_t count = 9;
    EXPECT_EQ(0, backend->receive(received, 4, &count));
    EXPECT_EQ(c.framesAfter, count);
  }
}

TEST(BackendWait, ATimeLimitEndsTheWaitOnAQuietBus) {
  NoneBackend none;
  const auto start = std::chrono::steady_clock::now();
  none.waitForFrames(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(20));
}

}  // namespace
