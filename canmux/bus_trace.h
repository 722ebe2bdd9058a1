#pragma once
// A bus trace in the candump log format that can-utils, python-can and SavvyCAN read:
//   (1544106679.432583) can0 0204F905#01B0AAAAAAAAAAAA
// The bus threads only copy each frame into a fixed ring; a writer thread formats and writes
// them, and flushes at least every kFlushInterval_ms and on close.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "canmux/bounded_ring.h"
#include "canmux/can_stream_message.h"

class BusTrace {
 public:
  static constexpr size_t kRingCapacity = 65536;
  static constexpr int kFlushInterval_ms = 50;
  static constexpr size_t kMaxInterfaceName = 16;
  static constexpr size_t kMaxLineLength = 96;

  struct Record {
    int64_t wallTime_us;
    char interfaceName[kMaxInterfaceName];
    uint32_t id;
    uint8_t size;
    uint8_t data[8];
  };

  BusTrace();
  ~BusTrace();
  BusTrace(const BusTrace&) = delete;
  BusTrace& operator=(const BusTrace&) = delete;

  // Starts writing to `path` (truncating it), closing any trace already open.
  bool open(const std::string& path, std::string* error);
  // Writes out everything recorded so far and closes the file.
  void close();
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

  // Called by the bus threads for every frame; never blocks on the file. A frame stamped with
  // the wall clock (a kernel receive stamp) is written at that time, any other at the moment
  // it is recorded.
  void record(const char* interfaceName, const CanStreamMessage& frame,
              bool stampIsWallClock = false);

  // Frames lost because the writer fell a whole ring behind.
  uint64_t droppedFrames() const { return dropped_.load(); }

  // One line with its line feed; returns its length (at most kMaxLineLength).
  static size_t formatLine(const Record& record, char* out);
  static int64_t wallClockMicros();
  // The full time of a wall-clock stamp wrapped to 32 bits, taken within half an hour of now_us.
  static int64_t unwrapWallStamp(uint32_t stamp_us, int64_t now_us);

 private:
  void writerLoop();
  void writeBatch(std::unique_lock<std::mutex>& hold);

  std::atomic<bool> open_{false};
  std::atomic<uint64_t> dropped_{0};
  std::mutex mutex_;  // guards ring_, stop_
  std::condition_variable wake_;
  BoundedRing<Record> ring_;
  bool stop_ = false;
  std::FILE* file_ = nullptr;  // used by the writer thread only while it runs
  std::thread writer_;
  std::mutex openCloseMutex_;  // serialises open and close
};
