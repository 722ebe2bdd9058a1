#include "device/can_dhcp_server.h"

#include <chrono>
#include <thread>

#include "canmux/can_mux.h"
#include "device/engine_wire.h"
#include "runtime/event.h"

namespace {

constexpr int32_t kSendOnce_ms = 0;
constexpr uint32_t kResetAllFailuresBeforeFailed = 2;

}  // namespace

CanDhcpServer::~CanDhcpServer() { CloseSession(); }

void CanDhcpServer::Process20Ms() {
  if (!StepStateMachine()) return;
  CountUp(quietCounter_);
  CountUp(settleCounter_);
  ReadSession();
}

bool CanDhcpServer::StepStateMachine() {
  switch (static_cast<State>(state_.load())) {
    case kFailed:
      StepFailed();
      return true;
    case kStart:
      StepStart();
      return false;
    case kOpenSession:
      StepOpenSession();
      return true;
    case kWaitForQuiet:
      StepWaitForQuiet();
      return true;
    case kGetAll:
      StepGetAll();
      return true;
    case kSettling:
      StepSettling();
      return true;
    case kSettled:
      StepSettled();
      return true;
  }
  return true;  // no other state is ever entered
}

// Back to the start after kFailedSteps + 1 steps.
void CanDhcpServer::StepFailed() {
  if (++retryCounter_ > kFailedSteps) {
    state_ = kStart;
    retryCounter_ = 0;
  }
}

// Every device drops its dynamic ID and asks again; two failed sends give up for a while.
void CanDhcpServer::StepStart() {
  if (SendResetAll() != 0) {
    if (++retryCounter_ >= kResetAllFailuresBeforeFailed) {
      state_ = kFailed;
      retryCounter_ = 0;
    }
  } else if (sessionHandle_ == 0) {
    state_ = kOpenSession;
  } else {
    EnterWaitForQuiet();
  }
}

void CanDhcpServer::StepOpenSession() {
  int32_t status = 0;
  uint32_t handle = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(
      &handle, dynamic_id_frame::kSessionFilterId, dynamic_id_frame::kSessionFilterMask,
      kReadBatch, &status);
  status_ = status;
  if (status == 0 && handle != 0) {
    sessionHandle_ = handle;
    EnterWaitForQuiet();
  }
}

// Once no device has asked for an ID for a while, the tables are rebuilt from scratch.
void CanDhcpServer::StepWaitForQuiet() {
  if (quietCounter_ > kQuietStepsBeforeRebuild) {
    ClearMaps();
    state_ = kGetAll;
  }
}

void CanDhcpServer::StepGetAll() {
  if (SendGetAll() != 0) return;
  settleCounter_ = 0;
  state_ = kSettling;
}

void CanDhcpServer::StepSettling() {
  if (settleCounter_ > kSettleSteps) state_ = kSettled;
}

void CanDhcpServer::StepSettled() {
  if (quietCounter_ < kRecentRequestSteps) {
    // A device asked for an ID just now: wait until the bus is quiet, then rebuild. The flags
    // are still served now; waiting states never look at them.
    EnterWaitForQuiet();
  }
  if (reRequest_ && SendGetAll() == 0) reRequest_ = false;
  if (release_ && SendResetAll() == 0) {
    release_ = false;
    // Every device drops its dynamic ID and asks again: the IDs in the tables are gone (kept,
    // they would be counted beside the new ones as a second device on the number), and until
    // the tables are rebuilt the server is not settled.
    ClearMaps();
    EnterWaitForQuiet();
  }
}

void CanDhcpServer::EnterWaitForQuiet() {
  state_ = kWaitForQuiet;
  quietCounter_ = 0;
}

void CanDhcpServer::ReadSession() {
  if (sessionHandle_ == 0) return;
  uint32_t count = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(sessionHandle_, readBuffer_, kReadBatch,
                                                           &count, &status);
  status_ = status;
  if (status == kCanMuxStatusOverflow) {
    // The filter also passes every request and answer exchanged with a dynamically addressed
    // device, so one long answer can fill the session between two steps. Frames were lost, not
    // the session: a restart would make every device drop its dynamic ID and leave the bus
    // until it has a new one. A report may have been lost, so ask for them all again.
    reRequest_ = true;
  } else if (status != 0) {
    CloseSession();
    state_ = kFailed;
    retryCounter_ = 0;
    return;
  }
  if (count > kReadBatch) count = kReadBatch;
  bool offerSent = false;  // at most one offer per step
  for (uint32_t i = 0; i < count; ++i) HandleFrame(readBuffer_[i], offerSent);
}

void CanDhcpServer::HandleFrame(const CanStreamMessage& frame, bool& offerSent) {
  using namespace dynamic_id_frame;
  const uint32_t id = frame.messageID;
  if ((id & kRequestMask) == kRequestPattern) {
    if (!offerSent) {
      const uint8_t offer[kFrameLength] = {
          0, 0, 0, 0, 0, 0, static_cast<uint8_t>(nextOffer_ >> 8),
          static_cast<uint8_t>(nextOffer_ & 0xFF)};
      offerSent = SendFrame(kOfferId, offer, kFrameLength) == 0;
    }
    quietCounter_ = 0;
  } else if ((id & kAcceptMask) == kAcceptPattern) {
    // Bytes 6 and 7 carry the number taken; a short frame carries none.
    if (frame.dataSize < kFrameLength) return;
    if (frame.data[6] != static_cast<uint8_t>(nextOffer_ >> 8) ||
        frame.data[7] != static_cast<uint8_t>(nextOffer_ & 0xFF))
      return;
    if (SendFrame(kConfirmId, frame.data, kFrameLength) == 0)
      nextOffer_ = (nextOffer_ + 1 >= kOfferLimit) ? 0 : nextOffer_ + 1;
    quietCounter_ = 0;
  } else if ((id & kReportMask) == kReportPattern) {
    if (frame.dataSize < kFrameLength) return;  // byte 7 missing
    StoreReport(id, frame.data[7]);
  }
}

void CanDhcpServer::StoreReport(uint32_t reportId, uint8_t reportedNumber) {
  const uint32_t deviceId = dynamic_id_frame::ReportedDeviceId(reportId, reportedNumber);
  const uint32_t dynamicId = dynamic_id_frame::ReportingDynamicId(reportId);
  {
    CsH hold(lock_);
    dynamicToDevice_[dynamicId] = deviceId;
    std::map<uint32_t, uint32_t>& reported = deviceToDynamics_[deviceId];
    for (auto it = reported.begin(); it != reported.end();) {
      it = (it->second == dynamicId) ? reported.erase(it) : std::next(it);
    }
    reported[sequence_++] = dynamicId;
  }
  event_ = true;
  settleCounter_ = 0;
}

uint32_t CanDhcpServer::DeviceKey(uint32_t deviceId) {
  return can_id::ApiClass(deviceId) == api_class::kAlternate
             ? can_id::WithApiClass(deviceId, api_class::kDevice)
             : deviceId;
}

uint32_t CanDhcpServer::LookupDynId(uint32_t deviceId, uint32_t& out) {
  CsH hold(lock_);
  const auto found = deviceToDynamics_.find(DeviceKey(deviceId));
  if (found == deviceToDynamics_.end() || found->second.empty()) return 0;
  out = found->second.rbegin()->second;
  if (can_id::ApiClass(deviceId) == api_class::kAlternate)
    out = can_id::WithApi(out, api_class::kAlternateDynamic, api_index::kRequest);
  return static_cast<uint32_t>(found->second.size());
}

bool CanDhcpServer::LookupDevId(uint32_t dynamicId, uint32_t& out) {
  const bool alternate = can_id::ApiClass(dynamicId) == api_class::kAlternateDynamic;
  const uint32_t key =
      alternate ? can_id::WithApi(dynamicId, api_class::kDynamic, api_index::kRequest) : dynamicId;
  CsH hold(lock_);
  const auto found = dynamicToDevice_.find(key);
  if (found == dynamicToDevice_.end()) return false;
  out = found->second;
  if (alternate) out = can_id::WithApiClass(out, api_class::kAlternate);
  return true;
}

uint32_t CanDhcpServer::GetDynamicIdCount(uint32_t deviceId) {
  CsH hold(lock_);
  const auto found = deviceToDynamics_.find(DeviceKey(deviceId));
  return found == deviceToDynamics_.end() ? 0 : static_cast<uint32_t>(found->second.size());
}

void CanDhcpServer::IdChangeEvent(uint32_t oldDeviceId, uint32_t dynamicId,
                                  uint32_t newDeviceId) {
  CsH hold(lock_);
  const auto dynamic = dynamicToDevice_.find(dynamicId);
  if (dynamic != dynamicToDevice_.end()) dynamic->second = newDeviceId;
  const auto old = deviceToDynamics_.find(oldDeviceId);
  if (old == deviceToDynamics_.end()) return;
  bool moved = false;
  for (auto it = old->second.begin(); it != old->second.end();) {
    if (it->second == dynamicId) {
      it = old->second.erase(it);
      moved = true;
    } else {
      ++it;
    }
  }
  if (old->second.empty()) deviceToDynamics_.erase(old);
  if (moved) deviceToDynamics_[newDeviceId][sequence_++] = dynamicId;
}

int CanDhcpServer::IsSettled(const quor::tessera::runtime::Event* cancel) {
  for (int check = 0; check < kSettledChecks; ++check) {
    if (state_ == kSettled) return 1;
    if (check + 1 == kSettledChecks) break;
    if (cancel != nullptr) {
      // Waiting on the signal instead of sleeping lets a stopping server leave at once.
      if (cancel->WaitForSignalSet(kSettledCheckInterval_ms)) return 0;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(kSettledCheckInterval_ms));
    }
  }
  return 0;
}

int CanDhcpServer::WaitForEvent(int ms) {
  for (int waited = 0;; waited += kEventCheckInterval_ms) {
    if (event_) return 0;
    if (waited >= ms) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(kEventCheckInterval_ms));
  }
}

int CanDhcpServer::SendGetAll() { return SendFrame(dynamic_id_frame::kGetAllId, nullptr, 0); }
int CanDhcpServer::SendResetAll() { return SendFrame(dynamic_id_frame::kResetAllId, nullptr, 0); }

void CanDhcpServer::ClearMaps() {
  CsH hold(lock_);
  dynamicToDevice_.clear();
  deviceToDynamics_.clear();
  ++clears_;
}

void CanDhcpServer::Restart() {
  CloseSession();
  state_ = kStart;
  retryCounter_ = 0;
  quietCounter_ = 0;
  settleCounter_ = 0;
}

void CanDhcpServer::CloseSession() {
  if (sessionHandle_ == 0) return;
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(sessionHandle_);
  sessionHandle_ = 0;
}

int CanDhcpServer::SendFrame(uint32_t id, const uint8_t* data, uint8_t size) {
  static const uint8_t kNoData[dynamic_id_frame::kFrameLength] = {};
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_sendMessage(id, data ? data : kNoData, size,
                                                     kSendOnce_ms, &status);
  return status == 0 ? 0 : -1;
}

void CanDhcpServer::CountUp(uint32_t& counter) {
  if (counter < kCounterLimit) ++counter;
}
