#pragma once
// The device side of the dynamic-ID protocol: after power-up or a reset-all a device asks for a
// dynamic number, accepts an offer, takes the number once the server confirms its own accept,
// and then reports which device number it stands for (again on every get-all).
//
// Several devices may accept the same offer; the confirm echoes the accept frame of the one
// the server chose, so each accept carries a token unique on the bus and a device only takes
// the number when the echo carries its token. A device that lost goes back to asking.
// Invariants: the device holds a dynamic number only after a confirm with its own token; every
// waiting state has a deadline after which it asks again.
#include <cstdint>
#include <limits>

#include "sim/frame_sink.h"

namespace quor::tessera::sim {

class DynamicIdClient {
 public:
  static constexpr uint64_t kAnswerWait_us = 100000;  // offer or confirm, then ask again
  static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
  static constexpr int kNoDynamicNumber = -1;

  enum class State { kIdle, kAsking, kOfferAccepted, kHoldsNumber };

  // `token` must be unique among the devices on the bus.
  DynamicIdClient(FrameSink& sink, uint32_t token) : sink_(sink), token_(token) {}

  // The device's identity; changing it drops nothing (the next report uses the new number).
  void setIdentity(uint8_t deviceType, uint8_t deviceNumber);

  // Power-up: forget the number and ask for one at once.
  void powerUp(uint64_t now_us);
  // Power-up still holding `dynamicNumber` from an earlier server: no request until a reset-all.
  void powerUpHolding(int dynamicNumber);
  // Power-down: forget everything and stay quiet.
  void powerDown();

  // Offers, confirms, get-all and reset-all; returns true when the frame was one of those.
  bool onFrame(const CanStreamMessage& frame, uint64_t now_us);
  void poll(uint64_t now_us);
  uint64_t nextDeadline_us() const { return deadline_us_; }

  State state() const { return state_; }
  int dynamicNumber() const { return dynamicNumber_; }
  uint32_t requestsSent() const { return requestsSent_; }
  uint32_t reportsSent() const { return reportsSent_; }

 private:
  void askForNumber(uint64_t now_us);
  void acceptOffer(const CanStreamMessage& offer, uint64_t now_us);
  void onConfirm(const CanStreamMessage& confirm, uint64_t now_us);
  void sendReport();
  // Bytes 0..5 of this device's accept frame: the token, device type and device number.
  void fillAcceptIdentity(uint8_t* data) const;

  FrameSink& sink_;
  const uint32_t token_;
  uint8_t deviceType_ = 0;
  uint8_t deviceNumber_ = 0;
  State state_ = State::kIdle;
  int dynamicNumber_ = kNoDynamicNumber;
  uint8_t acceptedHigh_ = 0;
  uint8_t acceptedLow_ = 0;
  uint64_t deadline_us_ = kNever;
  uint32_t requestsSent_ = 0;
  uint32_t reportsSent_ = 0;
};

}  // namespace quor::tessera::sim
