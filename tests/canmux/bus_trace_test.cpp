#include "canmux/bus_trace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/time_stamp.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"
#include "runtime/diag_print.h"

namespace {

std::string line(const BusTrace::Record& record, bool markDirection = false) {
  char text[BusTrace::kMaxLineLength];
  const size_t length = BusTrace::formatLine(record, text, markDirection);
  return std::string(text, length);
}

BusTrace::Record record(int64_t wall_us, const char* name, uint32_t id,
                        std::initializer_list<uint8_t> bytes) {
  BusTrace::Record r{};
  r.wallTime_us = wall_us;
  std::snprintf(r.interfaceName, sizeof r.interfaceName, "%s", name);
  r.id = id;
  r.size = static_cast<uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), r.data);
  return r;
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string text; std::getline(file, text);) lines.push_back(text);
  return lines;
}

std::string tempPath(const char* name) {
  return testing::TempDir() + name + std::to_string(getpid()) + ".log";
}

TEST(BusTraceFormat, ExtendedFrameAsCandumpLogLine) {
  EXPECT_EQ("(1544106679.432583) can0 0204F905#01B0AAAAAAAAAAAA\n",
            line(record(1544106679432583, "can0", 0x0204F905,
                        {0x01, 0xB0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA})));
}

TEST(BusTraceFormat, EmptyFrameSmallIdAndLeadingZeroMicroseconds) {
  EXPECT_EQ("(12.000005) sim 00000042#\n", line(record(12000005, "sim", 0x42, {})));
  EXPECT_EQ("(0.000000) none 1FFFFFFF#FF\n", line(record(0, "none", 0xFFFFFFFF, {0xFF})));
}

TEST(BusTraceFormat, DirectionSuffixOnlyWhenAsked) {
  BusTrace::Record sent = record(1544106679432583, "can0", 0x0204F905, {0x01, 0xB0});
  sent.direction = BusTrace::Direction::kSent;
  EXPECT_EQ("(1544106679.432583) can0 0204F905#01B0 T\n", line(sent, true));
  EXPECT_EQ("(1544106679.432583) can0 0204F905#01B0\n", line(sent, false));
  BusTrace::Record received = record(0, "vcan0", 0x1FFFFFFF, {});
  received.direction = BusTrace::Direction::kReceived;
  EXPECT_EQ("(0.000000) vcan0 1FFFFFFF# R\n", line(received, true));
}

// A 32-bit microsecond stamp wraps every 71 minutes; the trace takes the full time nearest to
// the present.
TEST(BusTraceTimeStamp, StampIsUnwrappedNearTheReference) {
  const int64_t wrap = int64_t{1} << 32;
  struct {
    uint32_t stamp;
    int64_t reference_us;
    int64_t expected_us;
  } const cases[] = {
      {1000, 5 * wrap + 1500, 5 * wrap + 1000},               // 500 us ago
      {0xFFFFFFF0u, 5 * wrap + 5, 5 * wrap - 16},             // before the wrap
      {3, 5 * wrap - 5, 5 * wrap + 3},                        // just after it
      {0x80000000u, 0x80000000 + 7, 0x80000000},               // stamp == low bits half way
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected_us, UnwrapMicros(c.stamp, c.reference_us)) << c.stamp;
  }
}

TEST(BusTrace, WritesSentAndReceivedFramesInBusOrder) {
  auto bus = std::make_shared<VirtualBus>();
  CanMux_SetBackend(bus);
  const std::string path = tempPath("bus_trace_order");
  std::string error;
  ASSERT_TRUE(CanMux_SetTrace(path, &error)) << error;

  uint32_t session = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&session, 0, 0, 8, &status);
  const uint8_t request[2] = {0x3E, 0x00};
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0004F93F, request, 2, 0, &status);
  bus->inject(tessera_test::Frame(0x0804FC40, {0x7E}));
  CanStreamMessage answer;
  uint32_t read = 0;
  ASSERT_TRUE(tessera_test::WaitUntil([&] {
    FRC_NetworkCommunication_CANSessionMux_readStreamSession(session, &answer, 1, &read, &status);
    return read == 1;
  }));
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F901, nullptr, 0, 0, &status);
  ASSERT_TRUE(CanMux_SetTrace("", &error));  // closing writes everything out

  const auto lines = readLines(path);
  ASSERT_EQ(3u, lines.size());
  const std::regex stamp(R"(^\(\d+\.\d{6}\) sim .*$)");
  for (const auto& text : lines) EXPECT_TRUE(std::regex_match(text, stamp)) << text;
  EXPECT_NE(std::string::npos, lines[0].find(" sim 0004F93F#3E00"));
  EXPECT_NE(std::string::npos, lines[1].find(" sim 0804FC40#7E"));
  EXPECT_NE(std::string::npos, lines[2].find(" sim 0204F901#"));
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(session);
  CanMux_SetBackend(nullptr);
  std::remove(path.c_str());
}

TEST(BusTrace, UnwritablePathIsAClearError) {
  std::string error;
  EXPECT_FALSE(CanMux_SetTrace("/nonexistent-dir/trace.log", &error));
  EXPECT_NE(std::string::npos, error.find("/nonexistent-dir/trace.log")) << error;
}

TEST(BusTrace, FramesRecordedWhileClosedAreNotWritten) {
  BusTrace trace;
  const auto received = BusTrace::Direction::kReceived;
  trace.record("can0", tessera_test::Frame(1, {1}), 1, received);  // not open: ignored
  const std::string path = tempPath("bus_trace_reopen");
  ASSERT_TRUE(trace.open(path, nullptr));
  trace.record("can0", tessera_test::Frame(2, {2}), 2, received);
  trace.close();
  const auto lines = readLines(path);
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("can0 00000002#02"));
  EXPECT_EQ(0u, trace.droppedFrames());
  std::remove(path.c_str());
}

// Refuses frames of one ID, as a bus whose transmit queue stays full.
class RefusingVirtualBus : public VirtualBus {
 public:
  explicit RefusingVirtualBus(uint32_t refusedId) : refusedId_(refusedId) {}
  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override {
    if (id == refusedId_) return kCanMuxStatusTransmitFailed;
    return VirtualBus::transmit(id, data, size);
  }

 private:
  const uint32_t refusedId_;
};

double lineSeconds(const std::string& text) { return std::stod(text.substr(1)); }

TEST(BusTrace, ReceivedFramesKeepTheBusStampAndRefusedSendsAreNotTraced) {
  constexpr uint32_t kRefused = 0x0204F902;
  auto bus = std::make_shared<RefusingVirtualBus>(kRefused);
  CanMux_SetBackend(bus);
  std::mutex mutex;
  std::vector<std::string> log;
  quor::tessera::diagnostics::SetLogSink([&](const std::string& text, bool) {
    std::lock_guard<std::mutex> hold(mutex);
    log.push_back(text);
  });
  const std::string path = tempPath("bus_trace_stamps");
  ASSERT_TRUE(CanMux_SetTrace(path, nullptr, true));
  uint32_t session = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&session, 0, 0, 8, &status);

  const double injectedAt_s = WallClockMicros() / 1e6;
  CanStreamMessage old = tessera_test::Frame(0x0804FC40, {0x7E});
  old.timeStamp = VirtualBus::nowMicros() - 5000000;  // on the bus 5 s before it was read
  bus->inject(old);
  CanStreamMessage answer;
  uint32_t read = 0;
  ASSERT_TRUE(tessera_test::WaitUntil([&] {
    FRC_NetworkCommunication_CANSessionMux_readStreamSession(session, &answer, 1, &read, &status);
    return read == 1;
  }));
  const uint8_t data[1] = {0x11};
  EXPECT_EQ(0, FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F901, data, 1, 0, &status));
  EXPECT_EQ(kCanMuxStatusTransmitFailed,
            FRC_NetworkCommunication_CANSessionMux_sendMessage(kRefused, data, 1, 0, &status));
  ASSERT_TRUE(CanMux_SetTrace("", nullptr));
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(session);
  CanMux_SetBackend(nullptr);
  quor::tessera::diagnostics::SetLogSink(nullptr);

  const auto lines = readLines(path);
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find(" sim 0804FC40#7E R")) << lines[0];
  EXPECT_NEAR(injectedAt_s - 5.0, lineSeconds(lines[0]), 0.5) << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find(" sim 0204F901#11 T")) << lines[1];
  EXPECT_GE(lineSeconds(lines[1]), injectedAt_s - 0.001) << lines[1];
  EXPECT_EQ(std::vector<std::string>{"[tessera] bus trace " + path +
                                     ": 2 frames written, 0 dropped because the trace buffer was "
                                     "full"},
            log);
  std::remove(path.c_str());
}

// Lines of the pipe until the writer closes it.
size_t readLinesUntilClosed(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  size_t lines = 0;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    lines += static_cast<size_t>(std::count(buffer, buffer + n, '\n'));
  }
  return lines;
}

TEST(BusTrace, FramesLostToAFullBufferAreCountedAndReported) {
  const std::string path = tempPath("bus_trace_pipe");
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  BusTrace trace(16);
  ASSERT_TRUE(trace.open(path, nullptr));
  diag_enablePrints(true);
  testing::internal::CaptureStdout();
  // Nobody reads the pipe yet: once it is full the writer stalls and the small ring overflows.
  uint64_t recorded = 0;
  while (trace.droppedFrames() == 0 && recorded < 100000000) {
    trace.record("can0", tessera_test::Frame(0x0204F905, {1, 2, 3, 4, 5, 6, 7, 8}), 1,
                 BusTrace::Direction::kReceived);
    ++recorded;
  }
  size_t linesRead = 0;
  std::thread drain([&] { linesRead = readLinesUntilClosed(reader); });
  const BusTrace::Totals totals = trace.close();
  drain.join();
  const std::string printed = testing::internal::GetCapturedStdout();
  diag_enablePrints(false);
  ::close(reader);
  std::remove(path.c_str());

  EXPECT_GT(totals.dropped, 0u);
  EXPECT_EQ(recorded, totals.written + totals.dropped);
  EXPECT_EQ(totals.written, linesRead);
  EXPECT_EQ(path, totals.path);
  EXPECT_NE(std::string::npos,
            printed.find("frames dropped because the trace buffer was full")) << printed;
}

}  // namespace
