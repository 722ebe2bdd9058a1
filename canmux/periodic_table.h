#pragma once
// The frames the multiplexer repeats, one per message ID, and when each is due. Only
// bookkeeping: the caller passes the time in (monotonic nanoseconds), so the timing rules hold
// the same under a test's clock as under the transmit thread's.
//
// An entry of period n is due once more than n whole milliseconds have passed since it was last
// sent: period 20 repeats every 21 ms. A period of 0 or below repeats on every 1 ms pass, so it
// too waits one whole millisecond. A new entry is first sent one period after it was stored,
// never at once; changing an entry's data or period does not restart its period.
#include <climits>
#include <cstdint>
#include <map>
#include <vector>

#include "canmux/can_stream_message.h"

class PeriodicTable {
 public:
  static constexpr int64_t kNothingDue = INT64_MAX;

  // Stores `frame` as the data repeated under its ID. `period_ms` becomes the entry's period,
  // except kCanMuxPeriodKeep, which keeps it (0 for a new ID). True when the schedule changed
  // (a new ID or another period), so a sleeping transmit thread has to look again.
  bool store(const CanStreamMessage& frame, int32_t period_ms, int64_t now_ns);
  // True when `id` had an entry.
  bool remove(uint32_t id);
  void clear() { entries_.clear(); }

  // Appends the frames due at `now_ns`, in ID order, and starts their next period at `now_ns`.
  void takeDue(int64_t now_ns, std::vector<CanStreamMessage>* due);
  // The earliest time at which takeDue finds a frame due; kNothingDue when the table is empty.
  int64_t nextDue_ns() const;

 private:
  struct Entry {
    CanStreamMessage message;
    int64_t lastSent_ns;
    int32_t period_ms;
  };
  static int64_t dueAt_ns(const Entry& entry);

  std::map<uint32_t, Entry> entries_;  // in ID order
};
