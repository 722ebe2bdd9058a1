#include "canmux/bus_trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

namespace {

std::string line(const BusTrace::Record& record) {
  char text[BusTrace::kMaxLineLength];
  const size_t length = BusTrace::formatLine(record, text);
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

}  // namespace
