#include "canmux/udp_multicast_backend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "canmux/udp_frame_codec.h"
#include "tests/support/udp_bus.h"
#include "tests/support/wait_until.h"

namespace {

using nlohmann::json;

std::vector<uint8_t> Pack(const json& message) { return json::to_msgpack(message); }

json PythonCanMessage() {
  return {{"timestamp", 1.5},    {"arbitration_id", 0x0204F905}, {"is_extended_id", true},
          {"is_remote_frame", false}, {"is_error_frame", false}, {"channel", nullptr},
          {"dlc", 3},            {"data", json::binary({1, 2, 3})}, {"is_fd", false},
          {"bitrate_switch", false}, {"error_state_indicator", false}};
}

TEST(UdpFrameCodec, RoundTripAndWhatIsNotACanFrame) {
  CanStreamMessage frame{};
  frame.messageID = 0x1FFFFFFF;
  frame.dataSize = 8;
  for (uint8_t i = 0; i < 8; ++i) frame.data[i] = static_cast<uint8_t>(0xF0 + i);
  const std::vector<uint8_t> datagram = EncodeUdpFrame(frame, 1796799280.25);
  const json decoded = json::from_msgpack(datagram);
  EXPECT_EQ(decoded["arbitration_id"], 0x1FFFFFFF);
  EXPECT_EQ(decoded["dlc"], 8);
  EXPECT_EQ(decoded["timestamp"], 1796799280.25);
  EXPECT_TRUE(decoded["channel"].is_null());
  CanStreamMessage back{};
  ASSERT_TRUE(DecodeUdpFrame(datagram.data(), datagram.size(), &back));
  EXPECT_EQ(back.messageID, frame.messageID);
  EXPECT_EQ(0, std::memcmp(back.data, frame.data, 8));

  ASSERT_TRUE(DecodeUdpFrame(Pack(PythonCanMessage()).data(), Pack(PythonCanMessage()).size(), &back));
  EXPECT_EQ(back.dataSize, 3);
  json asList = PythonCanMessage();
  asList["data"] = {1, 2, 3};
  json empty = PythonCanMessage();
  empty["data"] = json::binary({});
  empty["dlc"] = 0;
  for (const json& good : {asList, empty}) {
    const auto bytes = Pack(good);
    EXPECT_TRUE(DecodeUdpFrame(bytes.data(), bytes.size(), &back)) << good.dump();
  }

  const std::pair<const char*, json> bad[] = {
      {"standard ID", {{"is_extended_id", false}}},
      {"remote", {{"is_remote_frame", true}}},
      {"error frame", {{"is_error_frame", true}}},
      {"CAN FD", {{"is_fd", true}}},
      {"ID beyond 29 bits", {{"arbitration_id", 0x20000000}}},
      {"negative ID", {{"arbitration_id", -1}}},
      {"nine bytes", {{"data", json::binary({1, 2, 3, 4, 5, 6, 7, 8, 9})}, {"dlc", 9}}},
      {"dlc disagrees", {{"dlc", 4}}},
      {"data not bytes", {{"data", "abc"}}},
      {"byte beyond 255", {{"data", {1, 2, 256}}}},
  };
  for (const auto& [what, change] : bad) {
    json message = PythonCanMessage();
    message.update(change);
    const auto bytes = Pack(message);
    EXPECT_FALSE(DecodeUdpFrame(bytes.data(), bytes.size(), &back)) << what;
  }
  json noId = PythonCanMessage();
  noId.erase("arbitration_id");
  const auto noIdBytes = Pack(noId);
  EXPECT_FALSE(DecodeUdpFrame(noIdBytes.data(), noIdBytes.size(), &back));
  const uint8_t garbage[] = {0xC1, 0xFF, 0x00};
  EXPECT_FALSE(DecodeUdpFrame(garbage, sizeof garbage, &back));
  const auto truncated = Pack(PythonCanMessage());
  EXPECT_FALSE(DecodeUdpFrame(truncated.data(), truncated.size() - 1, &back));
}

TEST(UdpMulticastBackend, RefusesWhatIsNoMulticastGroup) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1", "is not an IPv4 multicast group"},
      {"robot.local", "is not an IPv4 multicast group"},
      {"240.0.0.1", "is not an IPv4 multicast group"},
      {"239.1.2.3:0", "the port must be a number from 1 to 65535"},
      {"239.1.2.3:65536", "the port must be a number from 1 to 65535"},
      {"239.1.2.3:", "the port after GROUP: is empty"},
      {"ff15::1", "IPv6 groups are not carried"},
      {"[ff15::1]:43113", "IPv6 groups are not carried"},
  };
  for (const auto& [where, reason] : cases) {
    std::string error;
    EXPECT_EQ(nullptr, UdpMulticastBackend::open(where, &error)) << where;
    EXPECT_NE(std::string::npos, error.find(reason)) << where << ": " << error;
  }
}

std::vector<CanStreamMessage> WaitForFrames(UdpMulticastBackend& bus, size_t count) {
  std::vector<CanStreamMessage> frames;
  tessera_test::WaitUntil(
      [&] {
        CanStreamMessage batch[16];
        uint32_t n = 0;
        bus.waitForFrames(10);
        bus.receive(batch, 16, &n);
        frames.insert(frames.end(), batch, batch + n);
        return frames.size() >= count;
      },
      std::chrono::seconds(5), std::chrono::milliseconds(0));
  return frames;
}

// Every member hears the others, never itself; a bus on another port hears nothing.
TEST(UdpMulticastBackend, MembersHearEachOtherButNotThemselves) {
  const std::string where = tessera_test::FreshUdpMulticastBus();
  std::string error;
  auto a = UdpMulticastBackend::open(where, &error);
  ASSERT_NE(nullptr, a) << error;
  auto b = UdpMulticastBackend::open(where, &error);
  ASSERT_NE(nullptr, b) << error;
  auto elsewhere = UdpMulticastBackend::open(tessera_test::FreshUdpMulticastBus(), &error);
  ASSERT_NE(nullptr, elsewhere) << error;

  const uint8_t data[3] = {1, 2, 3};
  ASSERT_EQ(0, a->transmit(0x0204F905, data, 3));
  ASSERT_EQ(0, b->transmit(0x0204F945, data, 0));
  const auto atB = WaitForFrames(*b, 1);
  const auto atA = WaitForFrames(*a, 1);
  ASSERT_EQ(1u, atB.size());
  EXPECT_EQ(0x0204F905u, atB[0].messageID);
  EXPECT_EQ(3, atB[0].dataSize);
  EXPECT_NE(0u, atB[0].timeStamp) << "the kernel's receive time";
  ASSERT_EQ(1u, atA.size());
  EXPECT_EQ(0x0204F945u, atA[0].messageID);
  EXPECT_EQ(0, atA[0].dataSize);
  EXPECT_EQ(0u, WaitForFrames(*elsewhere, 1).size());
}

// python-can's own UDP-multicast bus, as Debian ships it, reads our frames and we read its (the
// peer keeps its socket on the loopback interface, as ours is).
TEST(UdpMulticastBackend, TalksWithPythonCan) {
  const char* python = "/usr/bin/python3";
  ASSERT_EQ(0, std::system((std::string(python) + " -c 'import can, msgpack'").c_str()))
      << "python3-can and python3-msgpack are needed (scripts/test installs them)";
  const std::string where = tessera_test::FreshUdpMulticastBus();
  const std::string group = where.substr(0, where.find(':'));
  const std::string port = where.substr(where.find(':') + 1);
  std::string error;
  auto bus = UdpMulticastBackend::open(where, &error);
  ASSERT_NE(nullptr, bus) << error;
  const std::string script =
      std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/python_can_peer.py";
  FILE* peer = popen((std::string(python) + " " + script + " " + group + " " + port).c_str(), "r");
  ASSERT_NE(nullptr, peer);
  char line[512] = {};
  ASSERT_NE(nullptr, std::fgets(line, sizeof line, peer));
  ASSERT_EQ(std::string("ready\n"), line);

  const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(0, bus->transmit(0x0204F905, data, 4));
  ASSERT_NE(nullptr, std::fgets(line, sizeof line, peer));
  const json seen = json::parse(line, nullptr, false);
  EXPECT_EQ(seen, json({{"id", 0x0204F905}, {"extended", true}, {"dlc", 4},
                        {"data", {0xDE, 0xAD, 0xBE, 0xEF}}}))
      << line;
  const auto answer = WaitForFrames(*bus, 1);
  EXPECT_EQ(0, pclose(peer));
  ASSERT_EQ(1u, answer.size());
  EXPECT_EQ(0x0204F906u, answer[0].messageID);
  ASSERT_EQ(4, answer[0].dataSize);
  EXPECT_EQ(0xEF, answer[0].data[0]);
  EXPECT_EQ(0xDE, answer[0].data[3]);
}

}  // namespace
