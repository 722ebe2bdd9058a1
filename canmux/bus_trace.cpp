#include "canmux/bus_trace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <vector>

namespace {
constexpr size_t kWriteBatch = 1024;
constexpr char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

BusTrace::BusTrace() : ring_(kRingCapacity) {}

BusTrace::~BusTrace() { close(); }

int64_t BusTrace::wallClockMicros() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t BusTrace::unwrapWallStamp(uint32_t stamp_us, int64_t now_us) {
  // The signed distance between the low 32 bits is right for stamps up to 35 minutes away.
  const int32_t age_us = static_cast<int32_t>(static_cast<uint32_t>(now_us) - stamp_us);
  return now_us - age_us;
}

size_t BusTrace::formatLine(const Record& record, char* out) {
  const int64_t seconds = record.wallTime_us / 1000000;
  const int64_t micros = record.wallTime_us % 1000000;
  char name[kMaxInterfaceName];
  std::memcpy(name, record.interfaceName, sizeof name);
  name[kMaxInterfaceName - 1] = '\0';
  int length = std::snprintf(out, kMaxLineLength, "(%" PRId64 ".%06" PRId64 ") %s %08" PRIX32 "#",
                             seconds, micros, name, record.id & 0x1FFFFFFFu);
  if (length < 0) return 0;
  size_t at = std::min(static_cast<size_t>(length), kMaxLineLength - 18);
  const uint8_t size = std::min<uint8_t>(record.size, 8);
  for (uint8_t i = 0; i < size; ++i) {
    out[at++] = kHexDigits[record.data[i] >> 4];
    out[at++] = kHexDigits[record.data[i] & 0x0F];
  }
  out[at++] = '\n';
  return at;
}

bool BusTrace::open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> serial(openCloseMutex_);
  if (writer_.joinable()) {
    open_.store(false, std::memory_order_release);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
    std::fclose(file_);
    file_ = nullptr;
  }
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
  dropped_.store(0);
  writer_ = std::thread([this] { writerLoop(); });
  open_.store(true, std::memory_order_release);
  return true;
}

void BusTrace::close() {
  std::lock_guard<std::mutex> serial(openCloseMutex_);
  if (!writer_.joinable()) return;
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
                      bool stampIsWallClock) {
  if (!isOpen()) return;
  Record record{};
  const int64_t now_us = wallClockMicros();
  record.wallTime_us = stampIsWallClock ? unwrapWallStamp(frame.timeStamp, now_us) : now_us;
  std::strncpy(record.interfaceName, interfaceName != nullptr ? interfaceName : "?",
               kMaxInterfaceName - 1);
  record.id = frame.messageID;
  record.size = frame.dataSize;
  std::memcpy(record.data, frame.data, sizeof record.data);
  bool wakeWriter = false;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!ring_.push(record)) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    wakeWriter = ring_.size() >= ring_.capacity() / 2;
  }
  if (wakeWriter) wake_.notify_one();
}

void BusTrace::writerLoop() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stop_) {
    wake_.wait_for(hold, std::chrono::milliseconds(kFlushInterval_ms));
    writeBatch(hold);
  }
  writeBatch(hold);
}

void BusTrace::writeBatch(std::unique_lock<std::mutex>& hold) {
  static thread_local std::vector<Record> batch(kWriteBatch);
  static thread_local std::vector<char> text(kWriteBatch * kMaxLineLength);
  bool wrote = false;
  while (!ring_.empty()) {
    size_t taken = 0;
    while (taken < kWriteBatch && ring_.pop(&batch[taken])) ++taken;
    hold.unlock();
    size_t used = 0;
    for (size_t i = 0; i < taken; ++i) used += formatLine(batch[i], &text[used]);
    std::fwrite(text.data(), 1, used, file_);
    wrote = true;
    hold.lock();
  }
  if (wrote) {
    hold.unlock();
    std::fflush(file_);
    hold.lock();
  }
}
