#include "sim/dynamic_id_client.h"

#include <cstring>

#include "sim/sim_wire.h"

namespace quor::tessera::sim {
namespace {

constexpr uint8_t kIdentityBytes = 6;  // accept bytes 0..5: token (4), device type, number

CanStreamMessage MakeFrame(uint32_t id) {
  CanStreamMessage frame{};
  frame.messageID = id;
  frame.dataSize = wire::kDynamicFrameLength;
  return frame;
}

}  // namespace

void DynamicIdClient::setIdentity(uint8_t deviceType, uint8_t deviceNumber) {
  deviceType_ = deviceType;
  deviceNumber_ = deviceNumber;
}

void DynamicIdClient::powerUp(uint64_t now_us) {
  dynamicNumber_ = kNoDynamicNumber;
  askForNumber(now_us);
}

void DynamicIdClient::powerUpHolding(int dynamicNumber) {
  dynamicNumber_ = dynamicNumber & wire::kDeviceNumberMask;
  state_ = State::kHoldsNumber;
  deadline_us_ = kNever;
}

void DynamicIdClient::powerDown() {
  state_ = State::kIdle;
  dynamicNumber_ = kNoDynamicNumber;
  deadline_us_ = kNever;
}

bool DynamicIdClient::onFrame(const CanStreamMessage& frame, uint64_t now_us) {
  if (state_ == State::kIdle) return false;
  switch (frame.messageID) {
    case wire::kResetAllId:
      powerUp(now_us);
      return true;
    case wire::kGetAllId:
      if (state_ == State::kHoldsNumber) sendReport();
      return true;
    case wire::kOfferId:
      if (state_ == State::kAsking && frame.dataSize == wire::kDynamicFrameLength) {
        acceptOffer(frame, now_us);
      }
      return true;
    case wire::kConfirmId:
      if (state_ == State::kOfferAccepted && frame.dataSize == wire::kDynamicFrameLength) {
        onConfirm(frame, now_us);
      }
      return true;
    default:
      return false;
  }
}

void DynamicIdClient::poll(uint64_t now_us) {
  if ((state_ == State::kAsking || state_ == State::kOfferAccepted) && now_us >= deadline_us_) {
    // No offer, or no confirm for our accept: the server missed us (it may not have been
    // listening yet), so ask again.
    askForNumber(now_us);
  }
}

void DynamicIdClient::askForNumber(uint64_t now_us) {
  CanStreamMessage request = MakeFrame(wire::MakeArbId(
      deviceType_, wire::kClassDynamic, wire::kDynamicIdRequestIndex, deviceNumber_));
  fillAcceptIdentity(request.data);
  sink_.sendFrame(request);
  ++requestsSent_;
  state_ = State::kAsking;
  deadline_us_ = now_us + kAnswerWait_us;
}

void DynamicIdClient::acceptOffer(const CanStreamMessage& offer, uint64_t now_us) {
  acceptedHigh_ = offer.data[wire::kOfferHighByte];
  acceptedLow_ = offer.data[wire::kOfferLowByte];
  CanStreamMessage accept = MakeFrame(
      wire::MakeArbId(deviceType_, wire::kClassDynamic, wire::kDynamicAcceptIndex, deviceNumber_));
  fillAcceptIdentity(accept.data);
  accept.data[wire::kOfferHighByte] = acceptedHigh_;
  accept.data[wire::kOfferLowByte] = acceptedLow_;
  sink_.sendFrame(accept);
  state_ = State::kOfferAccepted;
  deadline_us_ = now_us + kAnswerWait_us;
}

void DynamicIdClient::onConfirm(const CanStreamMessage& confirm, uint64_t now_us) {
  uint8_t identity[wire::kDynamicFrameLength] = {};
  fillAcceptIdentity(identity);
  const bool ours = std::memcmp(confirm.data, identity, kIdentityBytes) == 0 &&
                    confirm.data[wire::kOfferHighByte] == acceptedHigh_ &&
                    confirm.data[wire::kOfferLowByte] == acceptedLow_;
  if (!ours) {
    // Another device got this number; ask again for the next one.
    askForNumber(now_us);
    return;
  }
  dynamicNumber_ = acceptedLow_ & wire::kDeviceNumberMask;
  state_ = State::kHoldsNumber;
  deadline_us_ = kNever;
  sendReport();
}

void DynamicIdClient::sendReport() {
  CanStreamMessage report =
      MakeFrame(wire::MakeArbId(deviceType_, wire::kClassDynamic, wire::kDynamicReportIndex,
                                static_cast<uint32_t>(dynamicNumber_)));
  report.data[wire::kReportDeviceNumberByte] = deviceNumber_ & wire::kDeviceNumberMask;
  sink_.sendFrame(report);
  ++reportsSent_;
}

void DynamicIdClient::fillAcceptIdentity(uint8_t* data) const {
  data[0] = static_cast<uint8_t>(token_ >> 24);
  data[1] = static_cast<uint8_t>(token_ >> 16);
  data[2] = static_cast<uint8_t>(token_ >> 8);
  data[3] = static_cast<uint8_t>(token_);
  data[4] = deviceType_;
  data[5] = deviceNumber_;
}

}  // namespace quor::tessera::sim
