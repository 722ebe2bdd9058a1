#pragma once
// A bus trace in the candump log format that can-utils, python-can and SavvyCAN read:
//   (1544106679.432583) can0 0204F905#01B0AAAAAAAAAAAA
// optionally with the direction suffix " R" (received) or " T" (sent) that newer candump
// writes and Debian's log2asc and python-can already read.
//
// The bus threads only copy each frame into a fixed ring. A writer thread sleeps until a frame
// comes, gathers for up to kFlushInterval_ms (so a busy bus costs one write a period, not one
// per frame), writes the batch in time order and flushes.
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

  enum class Direction : char { kReceived = 'R', kSent = 'T' };

  struct Record {
    int64_t wallTime_us;
    char interfaceName[kMaxInterfaceName];
    uint32_t id;
    uint8_t size;
    uint8_t data[8];
    Direction direction;
  };

  // What a closed trace holds and what it lost.
  struct Totals {
    std::string path;
    uint64_t written = 0;
    uint64_t dropped = 0;  // the writer fell a whole ring behind
  };

  explicit BusTrace(size_t ringCapacity = kRingCapacity);
  ~BusTrace();
  BusTrace(const BusTrace&) = delete;
  BusTrace& operator=(const BusTrace&) = delete;

  // Starts writing to `path` (truncating it), closing any trace already open. With
  // `markDirection`, every line ends in " R" or " T".
  bool open(const std::string& path, std::string* error, bool markDirection = false);
  // Writes out everything recorded so far and closes the file; nothing when none was open.
  Totals close();
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

  // Called by the bus threads for every frame received, and every frame sent once the bus took
  // it; never blocks on the file. `wallTime_us`: when the frame was on the bus.
  void record(const char* interfaceName, const CanStreamMessage& frame, int64_t wallTime_us,
              Direction direction);

  // Frames lost since open because the writer fell a whole ring behind.
  uint64_t droppedFrames() const { return dropped_.load(); }

  // One line with its line feed; returns its length (at most kMaxLineLength).
  static size_t formatLine(const Record& record, char* out, bool markDirection = false);

 private:
  void stopWriter();
  void writerLoop();
  void writeBatch(std::unique_lock<std::mutex>& hold);
  void reportNewDrops();

  std::atomic<bool> open_{false};
  std::atomic<uint64_t> dropped_{0};
  uint64_t droppedReported_ = 0;  // writer thread only
  uint64_t written_ = 0;          // writer thread only while it runs
  bool markDirection_ = false;
  std::string path_;
  std::mutex mutex_;  // guards ring_, stop_
  std::condition_variable wake_;
  BoundedRing<Record> ring_;
  bool stop_ = false;
  std::FILE* file_ = nullptr;  // used by the writer thread only while it runs
  std::thread writer_;
  std::mutex openCloseMutex_;  // serialises open and close
};
