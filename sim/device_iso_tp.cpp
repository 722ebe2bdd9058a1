#include "sim/device_iso_tp.h"

#include <algorithm>
#include <cstring>

namespace quor::tessera::sim {
namespace {

constexpr uint8_t kPciTypeMask = 0xF0;
constexpr uint8_t kPciLowMask = 0x0F;
constexpr uint8_t kSequenceModulo = 16;
// Separation-time byte: 0x00..0x7F milliseconds, 0xF1..0xF9 hundreds of microseconds; any
// other value is reserved and read as the longest time.
constexpr uint8_t kMaxStMinMilliseconds = 0x7F;
constexpr uint8_t kFirstStMinMicroseconds = 0xF1;
constexpr uint8_t kLastStMinMicroseconds = 0xF9;
constexpr uint64_t kMicrosPerMilli = 1000;
constexpr uint64_t kStMinMicrosStep_us = 100;

}  // namespace

uint64_t DeviceIsoTp::SeparationTime_us(uint8_t stMin) {
  if (stMin <= kMaxStMinMilliseconds) return stMin * kMicrosPerMilli;
  if (stMin >= kFirstStMinMicroseconds && stMin <= kLastStMinMicroseconds) {
    return (stMin - kFirstStMinMicroseconds + 1) * kStMinMicrosStep_us;
  }
  return kMaxStMinMilliseconds * kMicrosPerMilli;
}

void DeviceIsoTp::reset() {
  rxState_ = RxState::kIdle;
  rxSize_ = rxPosition_ = completeSize_ = 0;
  rxDeadline_us_ = kNever;
  txState_ = TxState::kIdle;
  txDeadline_us_ = txNextFrame_us_ = kNever;
  txSize_ = txPosition_ = 0;
  queuedSize_ = 0;
}

bool DeviceIsoTp::onFrame(const uint8_t* data, uint8_t size, uint32_t answerId, uint64_t now_us) {
  completeSize_ = 0;
  if (size == 0 || size > kFrameBytes) {
    ++counters_.framesIgnored;
    return false;
  }
  switch (data[0] & kPciTypeMask) {
    case kPciSingle:
      onSingleFrame(data, size);
      break;
    case kPciFirst:
      onFirstFrame(data, size, answerId, now_us);
      break;
    case kPciConsecutive:
      onConsecutiveFrame(data, size, now_us);
      break;
    case kPciFlowControl:
      onFlowControl(data, size, now_us);
      break;
    default:
      ++counters_.framesIgnored;
      break;
  }
  if (completeSize_ > 0) ++counters_.messagesReceived;
  return completeSize_ > 0;
}

void DeviceIsoTp::onSingleFrame(const uint8_t* data, uint8_t size) {
  const uint8_t length = data[0] & kPciLowMask;
  if (length == 0 || length > kMaxSingleFrameLength || length > size - 1) {
    ++counters_.framesIgnored;
    return;
  }
  // A new request replaces a message whose reception had not finished.
  if (rxState_ == RxState::kReceiving) ++counters_.receptionsAborted;
  rxState_ = RxState::kIdle;
  rxDeadline_us_ = kNever;
  std::memcpy(rxBuffer_.data(), data + 1, length);
  completeSize_ = length;
}

void DeviceIsoTp::onFirstFrame(const uint8_t* data, uint8_t size, uint32_t answerId,
                               uint64_t now_us) {
  const uint16_t length = static_cast<uint16_t>(((data[0] & kPciLowMask) << 8) | data[1]);
  // Up to six bytes fit a single frame, so a shorter first frame is malformed.
  if (size < kFrameBytes || length <= kMaxSingleFramePayload) {
    ++counters_.framesIgnored;
    return;
  }
  if (rxState_ == RxState::kReceiving) ++counters_.receptionsAborted;
  rxSize_ = length;
  std::memcpy(rxBuffer_.data(), data + 2, kFirstFramePayload);
  rxPosition_ = kFirstFramePayload;
  rxNextSequence_ = 1;
  rxState_ = RxState::kReceiving;
  rxDeadline_us_ = now_us + kConsecutiveFrameWait_us;
  // Clear to send everything at once (block size 0), as fast as this device asked.
  const uint8_t flowControl[] = {static_cast<uint8_t>(kPciFlowControl | kFlowContinue), 0,
                                 rxSeparationAsked_};
  emit(answerId, flowControl, sizeof flowControl);
}

void DeviceIsoTp::onConsecutiveFrame(const uint8_t* data, uint8_t size, uint64_t now_us) {
  if (rxState_ != RxState::kReceiving) {
    ++counters_.framesIgnored;
    return;
  }
  if ((data[0] & kPciLowMask) != rxNextSequence_) {
    // A lost or repeated frame: the message cannot be trusted any more.
    ++counters_.receptionsAborted;
    rxState_ = RxState::kIdle;
    rxDeadline_us_ = kNever;
    return;
  }
  const uint16_t remaining = static_cast<uint16_t>(rxSize_ - rxPosition_);
  const uint8_t count =
      static_cast<uint8_t>(std::min<uint16_t>(kConsecutiveFramePayload, remaining));
  if (size < count + 1) {
    ++counters_.framesIgnored;
    return;
  }
  std::memcpy(rxBuffer_.data() + rxPosition_, data + 1, count);
  rxPosition_ = static_cast<uint16_t>(rxPosition_ + count);
  rxNextSequence_ = static_cast<uint8_t>((rxNextSequence_ + 1) % kSequenceModulo);
  rxDeadline_us_ = now_us + kConsecutiveFrameWait_us;
  if (rxPosition_ == rxSize_) {
    rxState_ = RxState::kIdle;
    rxDeadline_us_ = kNever;
    completeSize_ = rxSize_;
  }
}

void DeviceIsoTp::onFlowControl(const uint8_t* data, uint8_t size, uint64_t now_us) {
  if (txState_ != TxState::kWaitFlowControl || size < 3) {
    ++counters_.framesIgnored;
    return;
  }
  switch (data[0] & kPciLowMask) {
    case kFlowContinue:
      txBlockSize_ = data[1];
      txBlockRemaining_ = txBlockSize_;
      txGap_us_ = std::max(kBusFrameTime_us, SeparationTime_us(data[2]));
      txState_ = TxState::kSending;
      txDeadline_us_ = kNever;
      txNextFrame_us_ = now_us;
      poll(now_us);
      break;
    case kFlowWait:
      txDeadline_us_ = now_us + kFlowControlWait_us;
      break;
    case kFlowOverflow:
      ++counters_.transmitsAborted;
      finishTransmission(now_us);
      break;
    default:
      ++counters_.framesIgnored;
      break;
  }
}

DeviceIsoTp::SendResult DeviceIsoTp::send(uint32_t answerId, const uint8_t* data, uint16_t size,
                                          uint64_t now_us) {
  if (size == 0) return SendResult::kEmpty;
  if (size > kMaxMessageBytes) return SendResult::kTooLong;
  if (txState_ == TxState::kSending) {
    std::memcpy(queuedBuffer_.data(), data, size);
    queuedId_ = answerId;
    queuedSize_ = size;
    return SendResult::kQueued;
  }
  if (txState_ == TxState::kWaitFlowControl) {
    // The peer asks something new instead of taking the rest: it gave up on that message.
    ++counters_.transmitsReplaced;
    queuedSize_ = 0;
  }
  start(answerId, data, size, now_us);
  return SendResult::kStarted;
}

void DeviceIsoTp::start(uint32_t answerId, const uint8_t* data, uint16_t size, uint64_t now_us) {
  txState_ = TxState::kIdle;
  txDeadline_us_ = txNextFrame_us_ = kNever;
  if (size <= kMaxSingleFramePayload) {
    uint8_t frame[kFrameBytes];
    frame[0] = static_cast<uint8_t>(kPciSingle | size);
    std::memcpy(frame + 1, data, size);
    emit(answerId, frame, static_cast<uint8_t>(size + 1));
    ++counters_.messagesSent;
    return;
  }
  std::memcpy(txBuffer_.data(), data, size);
  txId_ = answerId;
  txSize_ = size;
  uint8_t first[kFrameBytes];
  first[0] = static_cast<uint8_t>(kPciFirst | (size >> 8));
  first[1] = static_cast<uint8_t>(size & 0xFF);
  std::memcpy(first + 2, data, kFirstFramePayload);
  emit(answerId, first, kFrameBytes);
  txPosition_ = kFirstFramePayload;
  txSequence_ = 1;
  txState_ = TxState::kWaitFlowControl;
  txDeadline_us_ = now_us + kFlowControlWait_us;
}

void DeviceIsoTp::finishTransmission(uint64_t now_us) {
  txState_ = TxState::kIdle;
  txDeadline_us_ = txNextFrame_us_ = kNever;
  if (queuedSize_ == 0) return;
  const uint16_t size = queuedSize_;
  queuedSize_ = 0;
  start(queuedId_, queuedBuffer_.data(), size, now_us);
}

void DeviceIsoTp::poll(uint64_t now_us) {
  if (rxState_ == RxState::kReceiving && now_us >= rxDeadline_us_) {
    ++counters_.receptionsAborted;
    rxState_ = RxState::kIdle;
    rxDeadline_us_ = kNever;
  }
  if (txState_ == TxState::kWaitFlowControl && now_us >= txDeadline_us_) {
    ++counters_.transmitsTimedOut;
    finishTransmission(now_us);
  }
  int sentThisPoll = 0;
  while (txState_ == TxState::kSending && now_us >= txNextFrame_us_ &&
         sentThisPoll < kMaxFramesPerPoll) {
    sendConsecutiveFrame(now_us);
    ++sentThisPoll;
    if (txState_ == TxState::kSending) txNextFrame_us_ += txGap_us_;
  }
  // A poll that came very late does not bank the missed time for one long burst later.
  if (txState_ == TxState::kSending && txNextFrame_us_ + txGap_us_ < now_us) {
    txNextFrame_us_ = now_us;
  }
}

void DeviceIsoTp::sendConsecutiveFrame(uint64_t now_us) {
  const uint16_t remaining = static_cast<uint16_t>(txSize_ - txPosition_);
  const uint8_t count =
      static_cast<uint8_t>(std::min<uint16_t>(kConsecutiveFramePayload, remaining));
  uint8_t frame[kFrameBytes];
  frame[0] = static_cast<uint8_t>(kPciConsecutive | txSequence_);
  std::memcpy(frame + 1, txBuffer_.data() + txPosition_, count);
  emit(txId_, frame, static_cast<uint8_t>(count + 1));
  txPosition_ = static_cast<uint16_t>(txPosition_ + count);
  txSequence_ = static_cast<uint8_t>((txSequence_ + 1) % kSequenceModulo);
  if (txPosition_ >= txSize_) {
    ++counters_.messagesSent;
    finishTransmission(now_us);
    return;
  }
  if (txBlockSize_ != 0 && --txBlockRemaining_ == 0) {
    txState_ = TxState::kWaitFlowControl;
    txNextFrame_us_ = kNever;
    txDeadline_us_ = now_us + kFlowControlWait_us;
  }
}

uint64_t DeviceIsoTp::nextDeadline_us() const {
  uint64_t next = rxDeadline_us_;
  if (txState_ == TxState::kWaitFlowControl) next = std::min(next, txDeadline_us_);
  if (txState_ == TxState::kSending) next = std::min(next, txNextFrame_us_);
  return next;
}

void DeviceIsoTp::emit(uint32_t id, const uint8_t* bytes, uint8_t count) {
  CanStreamMessage frame{};
  frame.messageID = id;
  std::memcpy(frame.data, bytes, count);
  std::memset(frame.data + count, kPadByte, kFrameBytes - count);
  frame.dataSize = kFrameBytes;
  sink_.sendFrame(frame);
}

}  // namespace quor::tessera::sim
