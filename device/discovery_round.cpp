// One discovery round: broadcast a presence request, collect the answers, poll a window of up to
// four devices, and mark or drop the devices that stopped answering.
//
// Invariants:
//  - The frame layer is open (filter mode 1) from the start of a round to EndRound, on every path.
//  - A device leaves the table only in the stale pass, and only if nothing was ever learned
//    about it (empty model); found indices are never reused.
//  - A device in the poll window is either polled or, when the settled dynamic-ID server does
//    not know it, treated as not answering; so a device that left the bus leaves the list.
//  - The poll window start stays within [0, table size) after each round (or 0 for an empty
//    table), so every device is polled within ceil(size / 4) rounds.
#include <cstring>
#include <thread>

#include "device/can_frame_layer.h"
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"
#include "runtime/event.h"
#include "runtime/version.h"

namespace {

constexpr uint16_t kRoundBufferSize = 500;
constexpr int64_t kListen_ns = 40 * 1000000LL;
constexpr int kNameTimeout_ms = 200;
constexpr int kTransmitPassPause_us = 1000;
// The dynamic-ID server sends the get-all within a step (20 ms) and reads the reports in the
// next: a wait of five steps, and a second get-all in case the first or the report was lost.
constexpr int kReportAttempts = 2;
constexpr int64_t kReportWait_ns = 100 * 1000000LL;
constexpr const char* kStaleSuffix = " (Device is not responding, this is stale)";

bool Cancelled(const quor::tessera::runtime::Event& cancel) { return cancel.WaitForSignalSet(0); }

}  // namespace

void QuorDeviceInterface::SendVersionAndCompliancy() {
  int32_t major = 0;
  int32_t minor = 0;
  quor::tessera::diagnostics::version::GetVersionNumbers(major, minor);
  const uint8_t frame[] = {2, static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
  CANSendMessage(engine_id::kVersionFrameId, sizeof frame, frame);  // skipped when the ring is full
}

void QuorDeviceInterface::SendLegacyTesterPresent() {
  static const uint8_t frame[] = {2, request_code::kPresence, 0};
  CANSendMessage(engine_id::kLegacyTesterPresentId, sizeof frame, frame);
}

bool QuorDeviceInterface::RoundCancelled() const {
  return roundCancel_ != nullptr && Cancelled(*roundCancel_);
}

int QuorDeviceInterface::EndRound(int result) {
  roundCancel_ = nullptr;
  roundYield_ = nullptr;
  roundInProgress_ = false;
  retiredDuringRound_.clear();
  state_ = kIdle;
  CAN_DeInit();
  return result;
}

void QuorDeviceInterface::WaitForSettledIds(const Event& cancel) {
  dhcp_.IsSettled(&cancel);  // gives a starting dynamic-ID server time to settle
}

int QuorDeviceInterface::getNumberOfDynamicDevices(const Event& cancel) {
  state_ = kIdle;
  WaitForSettledIds(cancel);
  return RunRound(cancel);
}

int QuorDeviceInterface::RunRound(const Event& cancel) {
  state_ = kIdle;
  roundCancel_ = &cancel;  // until EndRound: every wait of the round looks at it
  roundLockLost_ = false;
  roundInProgress_ = true;
  CAN_Init(frame_filter::kAllDevices, 0);
  SendVersionAndCompliancy();

  _Iso15765_t iso;
  uint8_t buffer[kRoundBufferSize];
  Iso15Adap_Setup(&iso, buffer, sizeof buffer, engine_id::kPresenceSecondAnswerId,
                  engine_id::kPresenceAnswerId, engine_id::kPresenceRequestId,
                  static_cast<uint8_t>(GetIsoSeparationTime()));
  if (Cancelled(cancel)) return EndRound(QUOR_DI_ListingCancelled);

  state_ = kBroadcast;
  BroadcastPresence(&iso);
  state_ = kPolling;
  const int result = PollWindow(&iso, buffer, sizeof buffer, cancel);
  // Without the lock, everything here belongs to the operation that holds it now.
  if (roundLockLost_) return QUOR_DI_ListingCancelled;
  if (result != 0) return EndRound(result);
  StalePass();
  return EndRound(static_cast<int>(devices_.size()));
}

QuorDeviceInterface::Turn QuorDeviceInterface::LetWaitingRequestsIn() {
  if (roundYield_ == nullptr || !*roundYield_) return Turn::kNoneWaited;
  const Event* cancel = roundCancel_;
  // The requests' own waits must not end on the round's cancel signal.
  roundCancel_ = nullptr;
  switch ((*roundYield_)()) {
    case Cs::YieldResult::kKept:
      roundCancel_ = cancel;
      return Turn::kNoneWaited;
    case Cs::YieldResult::kYielded:
      roundCancel_ = cancel;
      // They opened and closed the frame layer for themselves.
      CAN_Init(frame_filter::kAllDevices, 0);
      state_ = kPolling;
      return Turn::kOthersRan;
    case Cs::YieldResult::kCancelled:
      break;
  }
  roundLockLost_ = true;
  return Turn::kRoundEnds;
}

QuorDeviceInterface::NextStep QuorDeviceInterface::BetweenSteps(_Device& device, uint32_t key,
                                                                const Event& cancel) {
  if (Cancelled(cancel)) return NextStep::kEndRound;
  switch (LetWaitingRequestsIn()) {
    case Turn::kNoneWaited:
      return NextStep::kGoOn;
    case Turn::kRoundEnds:
      return NextStep::kEndRound;
    case Turn::kOthersRan:
      break;
  }
  if (GetDevice(key) != &device) return NextStep::kLeaveDevice;
  return dhcp_.LookupDynId(key, device.descriptor.dynamicId) != 0 ? NextStep::kGoOn
                                                                   : NextStep::kLeaveDevice;
}

void QuorDeviceInterface::BroadcastPresence(_Iso15765_t* iso) {
  static const uint8_t kPresenceRequest[] = {request_code::kPresence, 0};
  Iso15Adap_Tx(iso, kPresenceRequest, sizeof kPresenceRequest, 1);
  int64_t tickReference_ns = GetTime();
  ProcessIsoStep(iso, tickReference_ns);
  std::this_thread::sleep_for(std::chrono::microseconds(kTransmitPassPause_us));
  if (CAN_TX_GetCount() != 0) diag_printf("tx is broke\n");
  Spin(iso, kListen_ns);  // presence answers add new devices to the table
}

int QuorDeviceInterface::PollWindow(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                                    const Event& cancel) {
  int skip = pollWindowStart_;
  pollWindowStart_ += kPollWindowSize;
  if (pollWindowStart_ >= static_cast<int32_t>(devices_.size())) pollWindowStart_ = 0;
  int budget = kPollWindowSize;
  // Walked by key: requests that run between two devices may add, renumber or replace entries.
  uint32_t key = 0;
  for (auto it = devices_.begin(); it != devices_.end(); it = devices_.upper_bound(key)) {
    key = it->first;
    if (can_id::Manufacturer(key) != can_id::kManufacturerQuor) continue;
    if (skip > 0) {
      --skip;
      continue;
    }
    if (--budget < 0) break;
    if (Cancelled(cancel)) return QUOR_DI_ListingCancelled;
    if (LetWaitingRequestsIn() == Turn::kRoundEnds) return QUOR_DI_ListingCancelled;
    const auto found = devices_.find(key);
    if (found == devices_.end()) continue;  // renumbered meanwhile: its new key comes later
    _Device& device = *found->second;
    DeviceDescriptor& descriptor = device.descriptor;
    const bool fullyPolledClient =
        (descriptor.respFlags & resp_flag::kRivuduvozClient) &&
        FlagReceived(&descriptor.pollFlags, poll_flag::kInfoParsed | poll_flag::kStatusObtained);
    if (fullyPolledClient) continue;
    uint32_t dynamicId = 0;
    if (!FindDynamicId(iso, descriptor.arbId, dynamicId)) {
      if (Cancelled(cancel)) return QUOR_DI_ListingCancelled;
      // A settled dynamic-ID server that has no report from the device, even when asked again,
      // means it left the bus: let the stale pass mark it instead of listing it as it was.
      if (dhcp_.GetState() == CanDhcpServer::kSettled) descriptor.respFlags &= ~resp_flag::kInfo;
      continue;
    }
    descriptor.dynamicId = dynamicId;
    const int result = PollDevice(device, iso, buffer, capacity, cancel);
    if (result != 0) return result;
  }
  return 0;
}

// The tables a rebuild left may lack a device that is there: its report, or the get-all before
// the reports, was lost on the bus, and nothing rebuilds them until a device asks for an ID
// again. So a settled server that does not know the device asks every device to report again
// before the device is taken for gone.
bool QuorDeviceInterface::FindDynamicId(_Iso15765_t* iso, uint32_t key, uint32_t& dynamicId) {
  const auto known = [&] { return dhcp_.LookupDynId(key, dynamicId) != 0; };
  if (known()) return true;
  for (int attempt = 0; attempt < kReportAttempts; ++attempt) {
    if (dhcp_.GetState() != CanDhcpServer::kSettled) return false;
    dhcp_.ReRequestDynList();
    if (SpinUntil(iso, kReportWait_ns,
                  [&] { return known() || dhcp_.GetState() != CanDhcpServer::kSettled; }))
      return known();
    if (RoundCancelled()) return false;
  }
  return false;
}

// Each step is one exchange with the device (the information and status steps with their
// retries); waiting requests take their turn between two steps.
int QuorDeviceInterface::PollDevice(_Device& device, _Iso15765_t* iso, uint8_t* buffer,
                                    uint16_t capacity, const Event& cancel) {
  DeviceDescriptor& descriptor = device.descriptor;
  const uint32_t key = descriptor.arbId;
  NextStep next = NextStep::kGoOn;
  const auto goOn = [&] { return (next = BetweenSteps(device, key, cancel)) == NextStep::kGoOn; };
  const auto stopped = [&] { return next == NextStep::kEndRound ? QUOR_DI_ListingCancelled : 0; };

  if (PollInfoForDevice(iso, buffer, capacity, &descriptor, cancel) != 0)
    return QUOR_DI_ListingCancelled;
  if (!goOn()) return stopped();
  BuildSoftwareStatus(iso, buffer, capacity, &descriptor);
  if (!goOn()) return stopped();
  KeepAnsweringDeviceListed(device);
  if (descriptor.respFlags & resp_flag::kCustomNameSupported) {
    ReadCustomName(device, iso, buffer, capacity);
    if (!goOn()) return stopped();
  }
  if (descriptor.respFlags & resp_flag::kConfigReadable) {
    ReadConfiguration(device, iso, buffer, capacity);
    if (!goOn()) return stopped();
  }
  UpdateStatusText(device);
  ApplyCustomName(device);
  return UpdateRivuduvozRole(device, cancel);
}

void QuorDeviceInterface::KeepAnsweringDeviceListed(_Device& device) {
  DeviceDescriptor& descriptor = device.descriptor;
  // A device that answered its status request is there: its information answer was lost on
  // the way (a long answer, many frames), and calling it "not responding" would be false. It
  // keeps what it reported last, also when an earlier silence had it marked stale. A device
  // never identified has nothing to keep.
  const bool infoLost = !(descriptor.respFlags & resp_flag::kInfo);
  const bool statusAnswered = descriptor.respFlags & resp_flag::kStatus;
  if (!infoLost || !statusAnswered || descriptor.model[0] == '\0') return;
  descriptor.respFlags |= resp_flag::kInfo;
  if (std::strstr(descriptor.currentVers, kStaleSuffix) != nullptr)
    SetTextField(descriptor.currentVers, device.reportedVers);
}

void QuorDeviceInterface::ReadCustomName(_Device& device, _Iso15765_t* iso, uint8_t* buffer,
                                         uint16_t capacity) {
  static const uint8_t kRequest[] = {request_code::kName};
  device.customName[0] = '\0';
  RequestAndWait(iso, buffer, capacity, &device.descriptor, kRequest, sizeof kRequest,
                 resp_flag::kName, kNameTimeout_ms);
}

void QuorDeviceInterface::UpdateStatusText(_Device& device) {
  DeviceDescriptor& descriptor = device.descriptor;
  std::string text = TextFieldValue(descriptor.softStatus);
  const uint32_t sharing = dhcp_.GetDynamicIdCount(descriptor.arbId);
  if (sharing >= 2)
    text = StringPrintf("There are %i devices with this Device ID. ", static_cast<int>(sharing)) +
           text;
  CapStringLen(text);
  SetTextField(descriptor.softStatus, text);
}

void QuorDeviceInterface::ApplyCustomName(_Device& device) {
  DeviceDescriptor& descriptor = device.descriptor;
  const std::string customName = TextFieldValue(device.customName);
  if ((descriptor.respFlags & (resp_flag::kCustomNameSupported | resp_flag::kName)) &&
      !customName.empty()) {
    SetTextField(descriptor.name, customName);
    descriptor.respFlags |= resp_flag::kCustomNameInUse;
  } else {
    descriptor.respFlags &= ~resp_flag::kCustomNameInUse;
  }
}

int QuorDeviceInterface::UpdateRivuduvozRole(_Device& device, const Event& cancel) {
  DeviceDescriptor& descriptor = device.descriptor;
  if (FlagReceived(&descriptor.respFlags, resp_flag::kRivuduvozRoleA | resp_flag::kRivuduvozRoleB))
    return RivuduvozClient_StatusUpdate(descriptor, true, cancel);
  if (_Device* client = findRivuduvozServer(descriptor.arbId)) {
    client->descriptor.respFlags &= ~resp_flag::kInfo;
    client->descriptor.pollFlags &= ~(poll_flag::kInfoParsed | poll_flag::kStatusObtained);
  }
  return 0;
}

void QuorDeviceInterface::StalePass() {
  std::lock_guard<std::mutex> hold(tableMutex_);
  for (auto it = devices_.begin(); it != devices_.end();) {
    DeviceDescriptor& descriptor = it->second->descriptor;
    if (can_id::Manufacturer(it->first) != can_id::kManufacturerQuor ||
        (descriptor.respFlags & resp_flag::kInfo)) {
      ++it;
    } else if (descriptor.model[0] != '\0') {
      SetTextField(descriptor.currentVers,
                   StringPrintf("%i.%i", it->second->firmwareMajor, it->second->firmwareMinor) +
                       kStaleSuffix);
      ++it;
    } else {
      it = devices_.erase(it);  // nothing was ever learned about it
    }
  }
}
