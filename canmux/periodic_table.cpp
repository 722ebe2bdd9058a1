#include "canmux/periodic_table.h"

#include <algorithm>

#include "canmux/can_mux.h"

namespace {
constexpr int64_t kNanosPerMilli = 1000000;
}

bool PeriodicTable::store(const CanStreamMessage& frame, int32_t period_ms, int64_t now_ns) {
  const auto inserted = entries_.try_emplace(frame.messageID, Entry{frame, now_ns, 0});
  Entry& entry = inserted.first->second;
  entry.message = frame;
  const int32_t before = entry.period_ms;
  if (period_ms != kCanMuxPeriodKeep) entry.period_ms = period_ms;
  return inserted.second || entry.period_ms != before;
}

bool PeriodicTable::remove(uint32_t id) { return entries_.erase(id) > 0; }

int64_t PeriodicTable::dueAt_ns(const Entry& entry) {
  const int64_t wholeMillis = std::max<int64_t>(entry.period_ms, 0) + 1;
  return entry.lastSent_ns + wholeMillis * kNanosPerMilli;
}

void PeriodicTable::takeDue(int64_t now_ns, std::vector<CanStreamMessage>* due) {
  for (auto& item : entries_) {
    Entry& entry = item.second;
    if (now_ns < dueAt_ns(entry)) continue;
    due->push_back(entry.message);  // the caller keeps the vector's capacity between passes
    entry.lastSent_ns = now_ns;
  }
}

int64_t PeriodicTable::nextDue_ns() const {
  int64_t next = kNothingDue;
  for (const auto& item : entries_) next = std::min(next, dueAt_ns(item.second));
  return next;
}
