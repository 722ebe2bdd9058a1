#pragma once
// A bus trace in the candump log format that can-utils, python-can and SavvyCAN read:
//   (1544106679.432583) can0 0204F905#01B0AAAAAAAAAAAA
// optionally with the direction suffix " R" (received) or " T" (sent) that newer candump
// writes and Debian's log2asc and python-can already read.
//
// The bus threads only copy each frame into a fixed ring. A writer thread sleeps until a frame
// comes, gathers for up to kFlushInterval_ms (so a busy bus costs one write a period, not one
// per frame), writes the batch in time order and flushes.
//
// Time order: a received frame reaches the ring a little after its stamp, so a frame sent in
// the meantime can be recorded before it. The writer sorts what it takes and holds frames
// younger than kReorderWindow_us back for one more round, so late arrivals still sort in.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canmux/bounded_ring.h"
#include "canmux/can_stream_message.h"

class BusTrace {
 public:
  static constexpr size_t kRingCapacity = 65536;
  static constexpr int kFlushInterval_ms = 50;
  static constexpr size_t kMaxInterfaceName = 16;
  static constexpr size_t kMaxLineLength = 96;
  static constexpr int64_t kReorderWindow_us = 10000;

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
  // Writes what the ring holds, except frames held back for ordering (all of them when
  // `final`). Lock held on entry and exit.
  void writeBatch(std::unique_lock<std::mutex>& hold, bool final);
  // Sorts `count` batch records and writes an old enough prefix; the rest stay held.
  void writeInOrder(size_t count, bool final);
  void reportNewDrops();

  std::atomic<bool> open_{false};
  std::atomic<uint64_t> dropped_{0};
  uint64_t droppedReported_ = 0;  // writer thread only
  uint64_t written_ = 0;          // writer thread only while it runs
  std::vector<Record> batch_;     // writer thread only; the first held_ are held back
  std::vector<char> text_;        // writer thread only
  size_t held_ = 0;
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
