#include "sim/device_iso_tp.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/sim/recording_sink.h"

namespace quor::tessera::sim {
namespace {

using testing::Bytes;
using testing::RecordingSink;

constexpr uint32_t kAnswerId = 0x0204F945;
constexpr uint8_t kAA = 0xAA;

std::vector<uint8_t> Sequence(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), 1);
  return bytes;
}

class DeviceIsoTpTest : public ::testing::Test {
 protected:
  bool feed(std::initializer_list<uint8_t> bytes, uint64_t now_us = 0) {
    const CanStreamMessage frame = testing::Frame(0, bytes);
    return iso.onFrame(frame.data, frame.dataSize, kAnswerId, now_us);
  }
  std::vector<uint8_t> received() const {
    return std::vector<uint8_t>(iso.message(), iso.message() + iso.messageSize());
  }

  RecordingSink sink;
  DeviceIsoTp iso{sink};
};

// --- Segmentation (device -> server) ---

TEST_F(DeviceIsoTpTest, SixBytesGoAsOnePaddedSingleFrame) {
  const auto data = Sequence(6);
  ASSERT_EQ(iso.send(kAnswerId, data.data(), 6, 0), DeviceIsoTp::SendResult::kStarted);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].messageID, kAnswerId);
  EXPECT_EQ(Bytes(sink.frames[0]), (std::vector<uint8_t>{6, 1, 2, 3, 4, 5, 6, kAA}));
  EXPECT_FALSE(iso.transmitting());
}

TEST_F(DeviceIsoTpTest, SevenBytesWaitForFlowControlBeforeTheConsecutiveFrame) {
  const auto data = Sequence(7);
  iso.send(kAnswerId, data.data(), 7, 0);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(Bytes(sink.frames[0]), (std::vector<uint8_t>{0x10, 7, 1, 2, 3, 4, 5, 6}));
  iso.poll(500000);
  EXPECT_EQ(sink.frames.size(), 1u) << "no consecutive frame before flow control";
  feed({0x30, 0, 0}, 500000);
  ASSERT_EQ(sink.frames.size(), 2u);
  EXPECT_EQ(Bytes(sink.frames[1]), (std::vector<uint8_t>{0x21, 7, kAA, kAA, kAA, kAA, kAA, kAA}));
  EXPECT_FALSE(iso.transmitting());
  EXPECT_EQ(iso.counters().messagesSent, 1u);
}

TEST_F(DeviceIsoTpTest, SequenceNibbleWrapsAfterFifteen) {
  // 6 + 16 * 7 bytes: sixteen consecutive frames, the last with nibble 0.
  const auto data = Sequence(6 + 16 * 7);
  iso.send(kAnswerId, data.data(), static_cast<uint16_t>(data.size()), 0);
  feed({0x30, 0, 0}, 0);
  for (uint64_t t = 0; iso.transmitting() && t < 1000000; t += 1000) iso.poll(t);
  ASSERT_EQ(sink.frames.size(), 17u);
  EXPECT_EQ(sink.frames[15].data[0], 0x2F);
  EXPECT_EQ(sink.frames[16].data[0], 0x20);
  // Reassemble and compare.
  std::vector<uint8_t> joined(sink.frames[0].data + 2, sink.frames[0].data + 8);
  for (size_t i = 1; i < sink.frames.size(); ++i) {
    joined.insert(joined.end(), sink.frames[i].data + 1, sink.frames[i].data + 8);
  }
  EXPECT_EQ(joined, data);
}

TEST_F(DeviceIsoTpTest, SeparationTimeOfFlowControlIsHonoured) {
  const auto data = Sequence(20);  // first frame + 2 consecutive frames
  iso.send(kAnswerId, data.data(), 20, 0);
  feed({0x30, 0, 5}, 1000);  // 5 ms between frames
  ASSERT_EQ(sink.frames.size(), 2u) << "the first consecutive frame goes at once";
  iso.poll(1000 + 4999);
  EXPECT_EQ(sink.frames.size(), 2u);
  EXPECT_EQ(iso.nextDeadline_us(), 1000u + 5000u);
  iso.poll(1000 + 5000);
  ASSERT_EQ(sink.frames.size(), 3u);
  EXPECT_EQ(Bytes(sink.frames[2]), (std::vector<uint8_t>{0x22, 14, 15, 16, 17, 18, 19, 20}));
  EXPECT_FALSE(iso.transmitting());
}

TEST_F(DeviceIsoTpTest, ZeroSeparationTimeIsStillPacedByTheBus) {
  const auto data = Sequence(6 + 40 * 7);
  iso.send(kAnswerId, data.data(), static_cast<uint16_t>(data.size()), 0);
  feed({0x30, 0, 0}, 0);
  EXPECT_LE(sink.frames.size(), 1u + DeviceIsoTp::kMaxFramesPerPoll);
  iso.poll(1000000);  // a very late poll catches up only by one burst
  EXPECT_LE(sink.frames.size(), 1u + 2 * DeviceIsoTp::kMaxFramesPerPoll);
  EXPECT_TRUE(iso.transmitting());
}

TEST_F(DeviceIsoTpTest, BlockSizeWaitsForTheNextFlowControl) {
  const auto data = Sequence(6 + 4 * 7);
  iso.send(kAnswerId, data.data(), static_cast<uint16_t>(data.size()), 0);
  feed({0x30, 2, 0}, 0);
  for (uint64_t t = 0; t < 10000; t += 500) iso.poll(t);
  EXPECT_EQ(sink.frames.size(), 3u) << "first frame and one block of two";
  feed({0x30, 2, 0}, 10000);
  for (uint64_t t = 10000; t < 20000; t += 500) iso.poll(t);
  EXPECT_EQ(sink.frames.size(), 5u);
  EXPECT_FALSE(iso.transmitting());
}

TEST_F(DeviceIsoTpTest, MissingFlowControlTimesOutAndFreesTheTransmitter) {
  const auto data = Sequence(30);
  iso.send(kAnswerId, data.data(), 30, 0);
  EXPECT_EQ(iso.send(kAnswerId, data.data(), 30, 0), DeviceIsoTp::SendResult::kStarted)
      << "one never flow-controlled is replaced";
  EXPECT_EQ(iso.counters().transmitsReplaced, 1u);
  iso.poll(DeviceIsoTp::kFlowControlWait_us - 1);
  EXPECT_TRUE(iso.transmitting());
  iso.poll(DeviceIsoTp::kFlowControlWait_us);
  EXPECT_FALSE(iso.transmitting());
  EXPECT_EQ(iso.counters().transmitsTimedOut, 1u);
  EXPECT_EQ(iso.send(kAnswerId, data.data(), 30, 0), DeviceIsoTp::SendResult::kStarted);
}

TEST_F(DeviceIsoTpTest, WaitExtendsAndOverflowAbortsTheTransmission) {
  const auto data = Sequence(30);
  iso.send(kAnswerId, data.data(), 30, 0);
  feed({0x31, 0, 0}, 900000);  // wait: the deadline starts over
  iso.poll(1500000);
  EXPECT_TRUE(iso.transmitting());
  feed({0x32, 0, 0}, 1600000);
  EXPECT_FALSE(iso.transmitting());
  EXPECT_EQ(iso.counters().transmitsAborted, 1u);
  EXPECT_EQ(sink.frames.size(), 1u);
}

TEST_F(DeviceIsoTpTest, RefusesEmptyAndOverlongMessages) {
  uint8_t byte = 0;
  EXPECT_EQ(iso.send(kAnswerId, &byte, 0, 0), DeviceIsoTp::SendResult::kEmpty);
  std::vector<uint8_t> big(4096);
  EXPECT_EQ(iso.send(kAnswerId, big.data(), 4096, 0), DeviceIsoTp::SendResult::kTooLong);
  EXPECT_TRUE(sink.frames.empty());
}

TEST_F(DeviceIsoTpTest, SeparationTimeByteEncodings) {
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(0), 0u);
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(5), 5000u);
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(0x7F), 127000u);
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(0xF1), 100u);
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(0xF9), 900u);
  EXPECT_EQ(DeviceIsoTp::SeparationTime_us(0x80), 127000u) << "reserved reads as the longest";
}

// --- Reassembly (server -> device) ---

TEST_F(DeviceIsoTpTest, SingleFrameYieldsItsPayload) {
  ASSERT_TRUE(feed({0x03, 0xF5, 0x01, 0x02, kAA, kAA, kAA, kAA}));
  EXPECT_EQ(received(), (std::vector<uint8_t>{0xF5, 0x01, 0x02}));
  EXPECT_TRUE(sink.frames.empty()) << "single frames need no flow control";
}

TEST_F(DeviceIsoTpTest, MalformedSingleFramesAreIgnored) {
  EXPECT_FALSE(feed({0x00, kAA}));                  // length 0
  EXPECT_FALSE(feed({0x05, 1, 2}));                 // announces more than the frame has
  EXPECT_FALSE(feed({0x08, 1, 2, 3, 4, 5, 6, 7}));  // longer than a single frame can be
  EXPECT_EQ(iso.counters().framesIgnored, 3u);
}

TEST_F(DeviceIsoTpTest, FirstFrameIsAnsweredWithFlowControlAndTheMessageReassembled) {
  EXPECT_FALSE(feed({0x10, 20, 1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].messageID, kAnswerId);
  EXPECT_EQ(Bytes(sink.frames[0]), (std::vector<uint8_t>{0x30, 0, 0, kAA, kAA, kAA, kAA, kAA}));
  EXPECT_FALSE(feed({0x21, 7, 8, 9, 10, 11, 12, 13}));
  ASSERT_TRUE(feed({0x22, 14, 15, 16, 17, 18, 19, 20}));
  EXPECT_EQ(received(), Sequence(20));
}

TEST_F(DeviceIsoTpTest, LongestMessageIsReassembledWithWrappingSequence) {
  const uint16_t size = DeviceIsoTp::kMaxMessageBytes;
  const auto data = Sequence(size);
  CanStreamMessage first = testing::Frame(
      0, {static_cast<uint8_t>(0x10 | (size >> 8)), static_cast<uint8_t>(size & 0xFF)});
  std::copy(data.begin(), data.begin() + 6, first.data + 2);
  first.dataSize = 8;
  EXPECT_FALSE(iso.onFrame(first.data, 8, kAnswerId, 0));
  size_t position = 6;
  uint8_t sequence = 1;
  bool complete = false;
  while (position < size) {
    uint8_t frame[8] = {static_cast<uint8_t>(0x20 | sequence), kAA, kAA, kAA, kAA, kAA, kAA, kAA};
    const size_t n = std::min<size_t>(7, size - position);
    std::copy(data.begin() + position, data.begin() + position + n, frame + 1);
    complete = iso.onFrame(frame, 8, kAnswerId, 0);
    position += n;
    sequence = (sequence + 1) % 16;
  }
  ASSERT_TRUE(complete);
  EXPECT_EQ(received(), data);
}

TEST_F(DeviceIsoTpTest, WrongSequenceAbortsTheReception) {
  feed({0x10, 20, 1, 2, 3, 4, 5, 6});
  EXPECT_FALSE(feed({0x22, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(iso.counters().receptionsAborted, 1u);
  EXPECT_FALSE(iso.receiving());
  EXPECT_FALSE(feed({0x22, 14, 15, 16, 17, 18, 19, 20})) << "stray frames after the abort";
}

TEST_F(DeviceIsoTpTest, ReceptionTimesOutBetweenConsecutiveFrames) {
  feed({0x10, 20, 1, 2, 3, 4, 5, 6}, 0);
  feed({0x21, 7, 8, 9, 10, 11, 12, 13}, 500000);
  iso.poll(500000 + DeviceIsoTp::kConsecutiveFrameWait_us - 1);
  EXPECT_TRUE(iso.receiving()) << "each consecutive frame restarts the wait";
  iso.poll(500000 + DeviceIsoTp::kConsecutiveFrameWait_us);
  EXPECT_FALSE(iso.receiving());
  EXPECT_EQ(iso.counters().receptionsAborted, 1u);
}

TEST_F(DeviceIsoTpTest, ShortFirstFramesAreMalformed) {
  EXPECT_FALSE(feed({0x10, 6, 1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(feed({0x10, 20, 1, 2}));
  EXPECT_TRUE(sink.frames.empty()) << "no flow control for a malformed first frame";
  EXPECT_FALSE(iso.receiving());
}

TEST_F(DeviceIsoTpTest, ResetForgetsTransfersInProgress) {
  const auto data = Sequence(30);
  iso.send(kAnswerId, data.data(), 30, 0);
  feed({0x10, 20, 1, 2, 3, 4, 5, 6});
  iso.reset();
  EXPECT_FALSE(iso.transmitting());
  EXPECT_FALSE(iso.receiving());
  EXPECT_EQ(iso.nextDeadline_us(), DeviceIsoTp::kNever);
}

}  // namespace
}  // namespace quor::tessera::sim
