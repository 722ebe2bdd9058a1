#include "canmux/periodic_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canmux/can_mux.h"
#include "tests/support/can_frames.h"

namespace {

constexpr int64_t kMs = 1000000;  // nanoseconds
constexpr uint32_t kId = 0x0204F911;

// First bytes of the frames due at `now_ns`; the table restarts their periods.
std::vector<uint8_t> takeDue(PeriodicTable& table, int64_t now_ns) {
  std::vector<CanStreamMessage> due;
  table.takeDue(now_ns, &due);
  std::vector<uint8_t> firstBytes;
  for (const CanStreamMessage& frame : due) firstBytes.push_back(frame.data[0]);
  return firstBytes;
}

struct PeriodCase {
  std::string name;
  int32_t period_ms;
  int64_t firstDue_ns;  // after being stored at 0, and again after a send at that time
};

// Period n: due once more than n whole milliseconds have passed, so at n+1 ms and not a
// nanosecond before; periods 0 and below (kept period of a new ID, or any other negative) wait
// one 1 ms pass.
TEST(PeriodicTable, EachPeriodFallsDueAfterOneMoreWholeMillisecond) {
  const PeriodCase cases[] = {
      {"period 20", 20, 21 * kMs},
      {"period 1", 1, 2 * kMs},
      {"period 0", 0, 1 * kMs},
      {"kept period of a new ID", kCanMuxPeriodKeep, 1 * kMs},
      {"period -5", -5, 1 * kMs},
  };
  for (const PeriodCase& c : cases) {
    SCOPED_TRACE(c.name);
    PeriodicTable table;
    const int64_t stored_ns = 1000 * kMs;
    EXPECT_TRUE(table.store(tessera_test::Frame(kId, {7}), c.period_ms, stored_ns));
    EXPECT_EQ(stored_ns + c.firstDue_ns, table.nextDue_ns());
    EXPECT_TRUE(takeDue(table, stored_ns).empty()) << "a new entry is never sent at once";
    EXPECT_TRUE(takeDue(table, stored_ns + c.firstDue_ns - 1).empty());
    const int64_t sent_ns = stored_ns + c.firstDue_ns;
    EXPECT_EQ(std::vector<uint8_t>{7}, takeDue(table, sent_ns));
    // The next period counts from that send; a late pass restarts it from its own time.
    EXPECT_TRUE(takeDue(table, sent_ns + c.firstDue_ns - 1).empty());
    const int64_t late_ns = sent_ns + c.firstDue_ns + kMs / 2;
    EXPECT_EQ(std::vector<uint8_t>{7}, takeDue(table, late_ns));
    EXPECT_EQ(late_ns + c.firstDue_ns, table.nextDue_ns());
  }
}

TEST(PeriodicTable, KeptPeriodChangesOnlyTheDataAndANewPeriodKeepsTheLastSend) {
  PeriodicTable table;
  ASSERT_TRUE(table.store(tessera_test::Frame(kId, {1}), 20, 0));
  EXPECT_FALSE(table.store(tessera_test::Frame(kId, {2}), kCanMuxPeriodKeep, 10 * kMs))
      << "new data alone does not change the schedule";
  EXPECT_EQ(21 * kMs, table.nextDue_ns());
  EXPECT_EQ(std::vector<uint8_t>{2}, takeDue(table, 21 * kMs));

  EXPECT_TRUE(table.store(tessera_test::Frame(kId, {3}), 5, 22 * kMs));
  EXPECT_EQ(27 * kMs, table.nextDue_ns()) << "period 5 counts from the send at 21 ms";
  EXPECT_FALSE(table.store(tessera_test::Frame(kId, {4}), 5, 23 * kMs));
}

TEST(PeriodicTable, EntriesAreDueInIdOrderAndTheEarliestIsPlanned) {
  PeriodicTable table;
  EXPECT_EQ(PeriodicTable::kNothingDue, table.nextDue_ns());
  table.store(tessera_test::Frame(0x300, {3}), 9, 0);
  table.store(tessera_test::Frame(0x100, {1}), 4, 0);
  table.store(tessera_test::Frame(0x200, {2}), 9, 0);
  EXPECT_EQ(5 * kMs, table.nextDue_ns());
  EXPECT_EQ(std::vector<uint8_t>{1}, takeDue(table, 5 * kMs));
  EXPECT_EQ(10 * kMs, table.nextDue_ns());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), takeDue(table, 10 * kMs));

  EXPECT_TRUE(table.remove(0x100));
  EXPECT_FALSE(table.remove(0x100));
  EXPECT_EQ(20 * kMs, table.nextDue_ns());
  table.clear();
  EXPECT_EQ(PeriodicTable::kNothingDue, table.nextDue_ns());
  EXPECT_TRUE(takeDue(table, 100 * kMs).empty());
}

}  // namespace
