#pragma once
// The device side of an ISO-15765 exchange on the virtual bus, written from the frame layouts
// alone (single 0L, first 1L LL, consecutive 2N, flow control 30 BS ST, 8-byte frames padded
// with 0xAA) and sharing no code with the server's transport, so that a misreading on either
// side fails the exchange instead of cancelling out.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "canmux/virtual_bus.h"

class IsoTpTestPeer : public VirtualBus::Endpoint {
 public:
  using Bytes = std::vector<uint8_t>;

  // Listens to frames on `listenId`, sends on `sendId`.
  IsoTpTestPeer(VirtualBus& bus, uint32_t listenId, uint32_t sendId)
      : bus_(bus), listenId_(listenId), sendId_(sendId) {
    bus_.attach(this);
  }
  ~IsoTpTestPeer() override { bus_.detach(this); }

  void onBusFrame(const CanStreamMessage& frame) override {
    if (frame.messageID != listenId_) return;
    std::lock_guard<std::mutex> hold(mutex_);
    framesSeen_.push_back(frame);
    if (frame.dataSize != 8) ++malformedFrames_;
    const uint8_t* d = frame.data;
    switch (d[0] >> 4) {
      case 0x0: {  // single frame
        const size_t size = std::min<size_t>(d[0] & 0x0F, 7);
        complete(Bytes(d + 1, d + 1 + size));
        break;
      }
      case 0x1: {  // first frame: answer with flow control "continue, no block limit, 0 ms"
        expected_ = static_cast<size_t>(d[0] & 0x0F) << 8 | d[1];
        partial_.assign(d + 2, d + 2 + std::min<size_t>(6, expected_));
        nextSequence_ = 1;
        const uint8_t control[3] = {0x30, 0x00, 0x00};
        bus_.inject(frame8(control, 3, nullptr, 0), this);
        break;
      }
      case 0x2: {  // consecutive frame
        if ((d[0] & 0x0F) != nextSequence_) ++sequenceErrors_;
        nextSequence_ = (nextSequence_ + 1) & 0x0F;
        const size_t take = std::min<size_t>(7, expected_ - partial_.size());
        partial_.insert(partial_.end(), d + 1, d + 1 + take);
        if (partial_.size() == expected_) complete(partial_);
        break;
      }
      case 0x3:  // flow control for our first frame
        flowControlSeen_ = true;
        break;
      default:
        ++malformedFrames_;
        break;
    }
  }

  std::optional<Bytes> waitForMessage(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!changed_.wait_for(hold, deadline, [&] { return received_.has_value(); })) {
      return std::nullopt;
    }
    std::optional<Bytes> message = std::move(received_);
    received_.reset();
    return message;
  }

  // Starts sending `message`: a single frame up to 7 bytes, else the first frame; the
  // consecutive frames follow from sendStep once flow control has come.
  void beginSend(const Bytes& message) {
    CanStreamMessage opening;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      outgoing_ = message;
      flowControlSeen_ = false;
      sequence_ = 1;
      if (message.size() <= 7) {
        const uint8_t pci = static_cast<uint8_t>(message.size());
        opening = frame8(&pci, 1, message.data(), message.size());
        sent_ = message.size();
      } else {
        const uint8_t pci[2] = {static_cast<uint8_t>(0x10 | (message.size() >> 8)),
                                static_cast<uint8_t>(message.size() & 0xFF)};
        opening = frame8(pci, 2, message.data(), 6);
        sent_ = 6;
      }
    }
    // Outside the lock: this thread may end up delivering frames to this very endpoint.
    bus_.inject(opening, this);
  }

  // Sends consecutive frames while fewer than `windowFrames` of them are ahead of
  // `receiverBytes`, the bytes the receiver reports having taken (the receiver's queue is
  // short). True when everything has been sent.
  bool sendStep(size_t receiverBytes, size_t windowFrames) {
    std::vector<CanStreamMessage> burst;
    bool done = false;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (!flowControlSeen_ && sent_ < outgoing_.size()) return false;
      while (sent_ < outgoing_.size() && sent_ < receiverBytes + windowFrames * 7) {
        const uint8_t pci = static_cast<uint8_t>(0x20 | sequence_);
        const size_t take = std::min<size_t>(7, outgoing_.size() - sent_);
        burst.push_back(frame8(&pci, 1, outgoing_.data() + sent_, take));
        sent_ += take;
        sequence_ = (sequence_ + 1) & 0x0F;
      }
      done = sent_ >= outgoing_.size();
    }
    for (const CanStreamMessage& frame : burst) bus_.inject(frame, this);
    return done;
  }

  std::vector<CanStreamMessage> framesSeen() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return framesSeen_;
  }
  int sequenceErrors() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return sequenceErrors_;
  }
  int malformedFrames() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return malformedFrames_;
  }
  void forgetFrames() {
    std::lock_guard<std::mutex> hold(mutex_);
    framesSeen_.clear();
  }

 private:
  // An 8-byte frame: protocol bytes, then payload, then 0xAA padding.
  CanStreamMessage frame8(const uint8_t* pci, size_t pciSize, const uint8_t* payload,
                          size_t payloadSize) const {
    CanStreamMessage frame{};
    frame.messageID = sendId_;
    frame.dataSize = 8;
    std::memset(frame.data, 0xAA, 8);
    std::memcpy(frame.data, pci, pciSize);
    if (payloadSize > 0) std::memcpy(frame.data + pciSize, payload, payloadSize);
    return frame;
  }

  void complete(const Bytes& message) {
    received_ = message;
    changed_.notify_all();
  }

  VirtualBus& bus_;
  const uint32_t listenId_;
  const uint32_t sendId_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CanStreamMessage> framesSeen_;
  std::optional<Bytes> received_;
  Bytes partial_;
  size_t expected_ = 0;
  uint8_t nextSequence_ = 1;
  int sequenceErrors_ = 0;
  int malformedFrames_ = 0;
  Bytes outgoing_;
  size_t sent_ = 0;
  uint8_t sequence_ = 1;
  bool flowControlSeen_ = false;
};
