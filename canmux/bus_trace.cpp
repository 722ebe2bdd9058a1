#include "canmux/bus_trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "canmux/time_stamp.h"
#include "runtime/diag_print.h"

namespace {
constexpr size_t kWriteBatch = 1024;
constexpr size_t kMaxHeld = kWriteBatch / 2;
constexpr char kHexDigits[] = "0123456789ABCDEF";
// Room after the identifier: 16 data digits, the direction suffix and the line feed.
constexpr size_t kTailLength = 16 + 2 + 1;
}  // namespace

BusTrace::BusTrace(size_t ringCapacity) : ring_(ringCapacity) {}

BusTrace::~BusTrace() { close(); }

size_t BusTrace::formatLine(const Record& record, char* out, bool markDirection) {
  const int64_t seconds = record.wallTime_us / 1000000;
  const int64_t micros = record.wallTime_us % 1000000;
  char name[kMaxInterfaceName];
  std::memcpy(name, record.interfaceName, sizeof name);
  name[kMaxInterfaceName - 1] = '\0';
  int length = std::snprintf(out, kMaxLineLength, "(%" PRId64 ".%06" PRId64 ") %s %08" PRIX32 "#",
                             seconds, micros, name, record.id & 0x1FFFFFFFu);
  if (length < 0) return 0;
  size_t at = std::min(static_cast<size_t>(length), kMaxLineLength - kTailLength);
  const uint8_t size = std::min<uint8_t>(record.size, 8);
  for (uint8_t i = 0; i < size; ++i) {
    out[at++] = kHexDigits[record.data[i] >> 4];
    out[at++] = kHexDigits[record.data[i] & 0x0F];
  }
  if (markDirection) {
    out[at++] = ' ';
    out[at++] = static_cast<char>(record.direction);
  }
  out[at++] = '\n';
  return at;
}

bool BusTrace::open(const std::string& path, std::string* error, bool markDirection) {
  std::lock_guard<std::mutex> serial(openCloseMutex_);
  if (writer_.joinable()) stopWriter();
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    if (error != nullptr) *error = "cannot write the bus trace " + path + ": " + std::strerror(errno);
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ring_.clear();
    stop_ = false;
  }
  file_ = file;
  batch_.resize(kWriteBatch);
  text_.resize(kWriteBatch * kMaxLineLength);
  held_ = 0;
  path_ = path;
  markDirection_ = markDirection;
  written_ = 0;
  droppedReported_ = 0;
  dropped_.store(0);
  writer_ = std::thread([this] { writerLoop(); });
  open_.store(true, std::memory_order_release);
  return true;
}

BusTrace::Totals BusTrace::close() {
  std::lock_guard<std::mutex> serial(openCloseMutex_);
  Totals totals;
  if (!writer_.joinable()) return totals;
  stopWriter();
  totals.path = path_;
  totals.written = written_;
  totals.dropped = dropped_.load();
  return totals;
}

void BusTrace::stopWriter() {
  open_.store(false, std::memory_order_release);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();  // the writer drains the ring before it ends
  std::fclose(file_);
  file_ = nullptr;
}

void BusTrace::record(const char* interfaceName, const CanStreamMessage& frame,
                      int64_t wallTime_us, Direction direction) {
  if (!isOpen()) return;
  Record record{};
  record.wallTime_us = wallTime_us;
  std::strncpy(record.interfaceName, interfaceName != nullptr ? interfaceName : "?",
               kMaxInterfaceName - 1);
  record.id = frame.messageID;
  record.size = frame.dataSize;
  std::memcpy(record.data, frame.data, sizeof record.data);
  record.direction = direction;
  bool wakeWriter = false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!ring_.push(record)) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    // The writer sleeps on an empty ring, and gathers until half of it is used.
    wakeWriter = ring_.size() == 1 || ring_.size() == ring_.capacity() / 2;
  }
  if (wakeWriter) wake_.notify_one();
}

void BusTrace::writerLoop() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    // With nothing held back, an idle bus costs no wake-ups.
    if (held_ == 0) wake_.wait(hold, [this] { return stop_ || !ring_.empty(); });
    wake_.wait_for(hold, std::chrono::milliseconds(kFlushInterval_ms),
                   [this] { return stop_ || ring_.size() >= ring_.capacity() / 2; });
    const bool stopping = stop_;
    writeBatch(hold, stopping);
    if (stopping) return;
  }
}

void BusTrace::writeBatch(std::unique_lock<std::mutex>& hold, bool final) {
  do {
    size_t count = held_;
    while (count < batch_.size() && ring_.pop(&batch_[count])) ++count;
    hold.unlock();
    writeInOrder(count, final);
    hold.lock();
  } while (!ring_.empty());
  hold.unlock();
  std::fflush(file_);
  reportNewDrops();
  hold.lock();
}

void BusTrace::writeInOrder(size_t count, bool final) {
  const auto byTime = [](const Record& a, const Record& b) {
    return a.wallTime_us < b.wallTime_us;
  };
  // Whatever was held back once goes out now, even if the wall clock stepped back meanwhile.
  int64_t writeThrough_us = final ? INT64_MAX : WallClockMicros() - kReorderWindow_us;
  for (size_t i = 0; i < held_; ++i) {
    writeThrough_us = std::max(writeThrough_us, batch_[i].wallTime_us);
  }
  const auto end = batch_.begin() + static_cast<std::ptrdiff_t>(count);
  std::stable_sort(batch_.begin(), end, byTime);
  Record limit{};
  limit.wallTime_us = writeThrough_us;
  size_t written = static_cast<size_t>(std::upper_bound(batch_.begin(), end, limit, byTime) -
                                       batch_.begin());
  written = std::max(written, count - std::min(count, kMaxHeld));  // keep room for new frames
  size_t used = 0;
  for (size_t i = 0; i < written; ++i) used += formatLine(batch_[i], &text_[used], markDirection_);
  std::fwrite(text_.data(), 1, used, file_);
  written_ += written;
  std::move(batch_.begin() + static_cast<std::ptrdiff_t>(written), end, batch_.begin());
  held_ = count - written;
}

void BusTrace::reportNewDrops() {
  const uint64_t dropped = dropped_.load();
  if (dropped == droppedReported_) return;
  diag_printf("bus trace %s: %" PRIu64 " frames dropped because the trace buffer was full (%" PRIu64
              " since it was opened)\n",
              path_.c_str(), dropped - droppedReported_, dropped);
  droppedReported_ = dropped;
}
