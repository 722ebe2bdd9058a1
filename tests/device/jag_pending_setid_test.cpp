// The Zuzave set-ID tracker: which controller took the new number, decided 8 s after the start.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "device/jag_pending_setid.h"

namespace {

constexpr uint32_t kAwaited = 0x02020C3F;
constexpr int kStepsToDecision = 400;  // 8000 ms in 20 ms steps

using Ages = std::array<uint32_t, JagPendingSetid::kDeviceNumbers>;

Ages AllAges(uint32_t age) {
  Ages ages;
  ages.fill(age);
  return ages;
}

Ages With(Ages ages, std::vector<std::pair<int, uint32_t>> changes) {
  for (const auto& [number, age] : changes) ages[number] = age;
  return ages;
}

struct Case {
  const char* name;
  Ages atStart;
  bool requestSeen;
  Ages atDecision;
  int32_t state;
  int32_t fixupId;
};

TEST(JagPendingSetid, DecidesFromWhichHeardControllerWentSilent) {
  const Case cases[] = {
      {"one of the heard controllers went silent", With(AllAges(0), {{5, 10000}}), true,
       With(AllAges(100), {{7, 7000}}), 2, 0x02020007},
      {"device 5 was not heard at the start, so its silence does not count",
       With(AllAges(0), {{5, 10000}}), true, With(AllAges(100), {{5, 9000}, {7, 7000}}), 2,
       0x02020007},
      {"two went silent", AllAges(0), true, With(AllAges(100), {{3, 7000}, {9, 7000}}), 1, -1},
      {"none went silent", AllAges(0), true, AllAges(100), 1, -1},
      {"the request frame never came", AllAges(0), false, With(AllAges(100), {{7, 7000}}), 3, -1},
      {"number 40 is tracked like the others", With(AllAges(10000), {{40, 0}}), true,
       With(AllAges(10000), {{40, 7000}}), 2, 0x02020028},
      {"heard 5999 ms before counts, 6000 does not", With(AllAges(6000), {{2, 5999}}), true,
       AllAges(7000), 2, 0x02020002},
      {"silent for 6500 ms is not yet gone, 6501 is", AllAges(0), true,
       With(AllAges(6500), {{12, 6501}}), 2, 0x0202000C},
      {"number 0 is never tracked", With(AllAges(10000), {{0, 0}}), true, AllAges(7000), 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JagPendingSetid pending(0x0202000B, kAwaited, c.atStart.data());
    EXPECT_EQ(pending.GetRequestedId(), 0x0202000Bu);
    EXPECT_FALSE(pending.EventCan(kAwaited + 1));
    if (c.requestSeen) {
      EXPECT_TRUE(pending.EventCan(kAwaited));
    }
    for (int step = 1; step < kStepsToDecision; ++step) pending.EventLoop20Ms(c.atDecision.data());
    EXPECT_FALSE(pending.IsFinished());
    EXPECT_EQ(pending.GetState(), 0);
    EXPECT_EQ(pending.GetFixupId(), -1);
    pending.EventLoop20Ms(c.atDecision.data());
    EXPECT_TRUE(pending.IsFinished());
    EXPECT_EQ(pending.GetState(), c.state);
    EXPECT_EQ(pending.GetFixupId(), c.fixupId);

    // Final states stay as they are, whatever comes later; a copy carries the result.
    EXPECT_TRUE(pending.EventCan(kAwaited));
    const Ages everyoneSilent = AllAges(20000);
    for (int step = 0; step < kStepsToDecision; ++step) pending.EventLoop20Ms(everyoneSilent.data());
    const JagPendingSetid copy = pending;
    EXPECT_EQ(copy.GetState(), c.state);
    EXPECT_EQ(copy.GetFixupId(), c.fixupId);
  }
}

}  // namespace
