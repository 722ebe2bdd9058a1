#pragma once
// Device-side ISO-15765 segmentation and reassembly, as the devices' firmware does it: every
// frame is 8 bytes padded with 0xAA, messages of up to 6 bytes go as one single frame, longer
// ones as a first frame and consecutive frames paced by the peer's flow control.
//
// A message to send while the previous one is still going out is not dropped, as a device's
// firmware answers every request it takes: if the peer never flow-controlled the previous one,
// it gave up on it (it asks something new instead), so the new message replaces it; if the
// previous one is flowing, the new one follows its last frame.
//
// Invariants: at most one message is being received, one being sent and one waiting to be sent
// at a time; nothing is allocated after construction; a consecutive frame is never sent before
// the peer's flow control arrived; every wait (flow control, the next consecutive frame) has a
// deadline.
// Time is passed in by the caller (microseconds, monotonic) so tests can drive it.
#include <array>
#include <cstdint>
#include <limits>

#include "sim/frame_sink.h"

namespace quor::tessera::sim {

class DeviceIsoTp {
 public:
  static constexpr uint16_t kMaxMessageBytes = 4095;  // 12-bit length of a first frame
  static constexpr uint8_t kFrameBytes = 8;
  static constexpr uint8_t kPadByte = 0xAA;
  static constexpr uint8_t kMaxSingleFramePayload = 6;
  static constexpr uint8_t kMaxSingleFrameLength = 7;  // accepted from the peer
  static constexpr uint8_t kFirstFramePayload = 6;
  static constexpr uint8_t kConsecutiveFramePayload = 7;

  // Protocol control information, high nibble of byte 0.
  static constexpr uint8_t kPciSingle = 0x00;
  static constexpr uint8_t kPciFirst = 0x10;
  static constexpr uint8_t kPciConsecutive = 0x20;
  static constexpr uint8_t kPciFlowControl = 0x30;
  static constexpr uint8_t kFlowContinue = 0;
  static constexpr uint8_t kFlowWait = 1;
  static constexpr uint8_t kFlowOverflow = 2;

  static constexpr uint64_t kFlowControlWait_us = 1000000;       // N_Bs
  static constexpr uint64_t kConsecutiveFrameWait_us = 1000000;  // N_Cr
  // Time one 8-byte extended frame occupies a 1 Mbit/s bus; a separation time of 0 still
  // cannot send faster than this.
  static constexpr uint64_t kBusFrameTime_us = 150;
  // A late poll catches up with at most this many frames, as a device's transmit FIFO would.
  static constexpr int kMaxFramesPerPoll = 16;
  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

  enum class SendResult { kStarted, kQueued, kEmpty, kTooLong };

  struct Counters {
    uint32_t messagesReceived = 0;
    uint32_t messagesSent = 0;
    uint32_t receptionsAborted = 0;  // sequence error or consecutive-frame time-out
    uint32_t framesIgnored = 0;      // malformed or unexpected frames
    uint32_t transmitsTimedOut = 0;  // no flow control in time
    uint32_t transmitsAborted = 0;   // peer answered with overflow
    uint32_t transmitsReplaced = 0;  // never flow-controlled, replaced by a newer message
  };

  explicit DeviceIsoTp(FrameSink& sink) : sink_(sink) {}

  // Feeds one frame that arrived on one of this device's request IDs. `answerId` is the ID the
  // device answers that channel on (a flow-control frame goes there). Returns true when the
  // frame completed a message: message() and messageSize() hold it until the next call.
  bool onFrame(const uint8_t* data, uint8_t size, uint32_t answerId, uint64_t now_us);
  const uint8_t* message() const { return rxBuffer_.data(); }
  uint16_t messageSize() const { return completeSize_; }

  // Starts sending a message on `answerId`, or queues it behind the one that is flowing (a
  // queued message that was not started yet is replaced); the bytes are copied.
  SendResult send(uint32_t answerId, const uint8_t* data, uint16_t size, uint64_t now_us);

  // Sends the consecutive frames that are due and applies the time-outs.
  void poll(uint64_t now_us);
  // The earliest time poll() has something to do, or kNever.
  uint64_t nextDeadline_us() const;

  bool transmitting() const { return txState_ != TxState::kIdle; }
  bool receiving() const { return rxState_ == RxState::kReceiving; }
  const Counters& counters() const { return counters_; }

  // Forgets any transfer in progress (power cycle).
  void reset();

  // The separation time (the flow-control byte: 0-127 ms) this device asks a sender to keep
  // between the consecutive frames of a message it receives; 0 by default.
  void askForSeparationTime(uint8_t stMin) { rxSeparationAsked_ = stMin; }

  // Minimum gap the peer asked for, from the separation-time byte of its flow control.
  static uint64_t SeparationTime_us(uint8_t stMin);

 private:
  enum class RxState { kIdle, kReceiving };
  enum class TxState { kIdle, kWaitFlowControl, kSending };

  void onSingleFrame(const uint8_t* data, uint8_t size);
  void onFirstFrame(const uint8_t* data, uint8_t size, uint32_t answerId, uint64_t now_us);
  void onConsecutiveFrame(const uint8_t* data, uint8_t size, uint64_t now_us);
  void onFlowControl(const uint8_t* data, uint8_t size, uint64_t now_us);
  void start(uint32_t answerId, const uint8_t* data, uint16_t size, uint64_t now_us);
  // The transmitter is free again: the queued message, if any, goes out now.
  void finishTransmission(uint64_t now_us);
  void sendConsecutiveFrame(uint64_t now_us);
  void emit(uint32_t id, const uint8_t* bytes, uint8_t count);

  FrameSink& sink_;
  Counters counters_;

  RxState rxState_ = RxState::kIdle;
  std::array<uint8_t, kMaxMessageBytes> rxBuffer_{};
  uint16_t rxSize_ = 0;
  uint16_t rxPosition_ = 0;
  uint8_t rxNextSequence_ = 0;
  uint8_t rxSeparationAsked_ = 0;
  uint64_t rxDeadline_us_ = kNever;
  uint16_t completeSize_ = 0;

  TxState txState_ = TxState::kIdle;
  std::array<uint8_t, kMaxMessageBytes> txBuffer_{};
  uint32_t txId_ = 0;
  uint16_t txSize_ = 0;
  uint16_t txPosition_ = 0;
  uint8_t txSequence_ = 0;
  uint8_t txBlockSize_ = 0;  // 0 = the whole rest without another flow control
  uint8_t txBlockRemaining_ = 0;
  uint64_t txGap_us_ = kBusFrameTime_us;
  uint64_t txDeadline_us_ = kNever;  // flow-control wait
  uint64_t txNextFrame_us_ = kNever;

  std::array<uint8_t, kMaxMessageBytes> queuedBuffer_{};
  uint32_t queuedId_ = 0;
  uint16_t queuedSize_ = 0;  // 0 = nothing queued
};

}  // namespace quor::tessera::sim
