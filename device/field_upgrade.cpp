#include "device/field_upgrade.h"

#include <chrono>
#include <thread>

#include "device/can_frame_layer.h"
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "firmware/bfl_sector_check.h"

namespace {

// Waits for the bootloader's answers.
constexpr int kAnswerTimeout_ms = 20;
constexpr int kImageCheckTimeout_ms = 200;
constexpr int kEraseTimeout_ms = 8000;
// The dynamic-ID server hands a restarted device its ID within this.
constexpr int kDynamicIdEventTimeout_ms = 3000;
constexpr int kDynamicIdChecks = 10;
constexpr int kDynamicIdCheckPause_ms = 50;
// A device answering through another's port keeps that port's ID: only a short pause.
constexpr int kRivuduvozRestartPause_ms = 3;
constexpr int kRetargetPause_ms = 10;
constexpr int kSettleCheckPause_ms = 10;
constexpr int kBootloaderAttempts = 100;
constexpr int kRunApplicationRepeats = 10;
constexpr int kRunApplicationRepeatPause_ms = 100;
constexpr int kApplicationAttempts = 5;
constexpr int kApplicationRetryPause_ms = 50;

// Progress shown to the user at each stage; the sectors move it within the writing range.
namespace progress {
constexpr int32_t kStart = 0;
constexpr int32_t kChannelOpen = 2;
constexpr int32_t kDynamicIdsCounted = 3;
constexpr int32_t kEnteringBootloader = 4;
constexpr int32_t kInBootloader = 6;
constexpr int32_t kErasing = 8;
constexpr int32_t kWriting = 10;
constexpr uint32_t kFirstSectorStep = 11;
constexpr uint32_t kLastSectorStep = 89;
constexpr int32_t kValidating = 93;
constexpr int32_t kStartingApplication = 96;
constexpr int32_t kRepeatingStart = 97;
constexpr int32_t kConfirmingApplication = 99;
}  // namespace progress

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Checks every kSettleCheckPause_ms while `busy` holds, for at most `timeout_ms`.
template <typename Busy>
void WaitWhile(Busy busy, int timeout_ms) {
  const int64_t until_ns = QuorDeviceInterface::GetTime() + timeout_ms * int64_t{1000000};
  while (busy() && QuorDeviceInterface::GetTime() < until_ns) SleepMs(kSettleCheckPause_ms);
}

}  // namespace

FieldUpgrade::FieldUpgrade(QuorDeviceInterface& engine, const DeviceDescriptor* caller,
                           const uint8_t* file, uint32_t length)
    : engine_(engine),
      dhcp_(engine.DhcpServer()),
      caller_(caller),
      file_(file),
      length_(length),
      request_(new uint8_t[kBufferSize]),
      receive_(new uint8_t[kBufferSize]) {}

FieldUpgrade::~FieldUpgrade() = default;

int32_t FieldUpgrade::Run() {
  CAN_Init(frame_filter::kAllDevices, 0);
  SetState(QuorDeviceInterface::kIdle);
  int32_t code = CheckBeforeSending();
  if (code == QUOR_DI_OKAY) {
    AwaitSettledTables();
    if (engine_.UpgradesStopped()) code = QUOR_DI_UpgradeStopped;
  }
  // Refused before anything reached the bus: the device keeps its application, and the other
  // devices keep their dynamic IDs.
  if (code != QUOR_DI_OKAY) {
    Close();
    return code;
  }
  static constexpr Step kSteps[] = {
      &FieldUpgrade::QueryMode,     &FieldUpgrade::EnterBootloader, &FieldUpgrade::ConfirmBootloader,
      &FieldUpgrade::CheckImage,    &FieldUpgrade::Erase,           &FieldUpgrade::WriteSectors,
      &FieldUpgrade::Validate,      &FieldUpgrade::RunApplication,  &FieldUpgrade::Rejoin,
      &FieldUpgrade::ConfirmApplication,
  };
  for (Step step : kSteps) {
    if (code != QUOR_DI_OKAY) break;
    code = (this->*step)();
  }
  ReleaseDynamicIds();
  Close();
  return code;
}

int32_t FieldUpgrade::CheckBeforeSending() {
  int32_t code = FindDevice();
  // Built even for an unknown device (expecting model 0), which then fails its own check.
  decoder_.emplace(file_, length_, device_ != nullptr ? device_->modelCode : 0);
  if (code == QUOR_DI_OKAY) code = static_cast<int32_t>(decoder_->GetHealth());
  // Every record, before the erase: a bad one would otherwise end the transfer part of the way
  // and leave a partial image to the bootloader's judgement.
  if (code == QUOR_DI_OKAY) code = CheckBflSectors(*decoder_);
  if (code == QUOR_DI_OKAY && engine_.UpgradesStopped()) code = QUOR_DI_UpgradeStopped;
  return code;
}

void FieldUpgrade::AwaitSettledTables() {
  // Every upgrade ends by having all devices take new dynamic IDs; the server sends that reset
  // once settled and then rebuilds its tables. Until both are done, a dynamic ID it knows may be
  // gone, and a reset still to come would cut this upgrade off from its device.
  WaitWhile([this] { return dhcp_.GetState() != CanDhcpServer::kSettled || dhcp_.ReleasePending(); },
            kSettleWait_ms);
  dynamic_ = dhcp_.LookupDynId(descriptor_->arbId, descriptor_->dynamicId) != 0;
}

int32_t FieldUpgrade::FindDevice() {
  device_ = caller_ != nullptr ? engine_.GetDevice(caller_->arbId) : nullptr;
  if (device_ == nullptr) return QUOR_DI_InvalidDeviceSpec;
  descriptor_ = &device_->descriptor;
  rivuduvoz_ = (descriptor_->respFlags & resp_flag::kRivuduvozClient) != 0;
  return QUOR_DI_OKAY;
}

int32_t FieldUpgrade::QueryMode() {
  SetState(QuorDeviceInterface::kUpgradeEnteringBootloader);
  SetProgress(progress::kStart);
  engine_.SetupIso(&iso_, receive_.get(), kBufferSize, descriptor_);
  SetProgress(progress::kChannelOpen);
  if (!Request(request_code::kStatus, resp_flag::kStatus, kAnswerTimeout_ms))
    return QUOR_DI_EcuIsNotPresent;
  // No answer ever clears this bit, so it can be stale only towards "running", which costs a
  // wait for a dynamic ID that is not coming.
  applicationWasRunning_ = (descriptor_->respFlags & resp_flag::kAppRunning) != 0;
  return QUOR_DI_OKAY;
}

int32_t FieldUpgrade::EnterBootloader() {
  if (dynamic_) {
    SetProgress(progress::kDynamicIdsCounted);
    tableClears_ = dhcp_.ClearCount();
    dynamicIdCount_ = dhcp_.GetDynamicIdCount(descriptor_->arbId);
  }
  SetProgress(progress::kEnteringBootloader);
  if (dynamic_) dhcp_.ArmEvent();
  if (!Request(request_code::kEnterBootloader, resp_flag::kF9, kAnswerTimeout_ms))
    return QUOR_DI_CouldNotEnterBl;
  if (dynamic_) {
    const int32_t code = AwaitDynamicIds(applicationWasRunning_);
    if (code != QUOR_DI_OKAY) return code;
  }
  SetProgress(progress::kInBootloader);
  if (dynamic_) {
    SleepMs(kRetargetPause_ms);
    Retarget();
  }
  return QUOR_DI_OKAY;
}

int32_t FieldUpgrade::ConfirmBootloader() {
  for (int attempt = 0; attempt < kBootloaderAttempts; ++attempt) {
    descriptor_->respFlags &= ~resp_flag::kAppRunning;
    const bool answered = Request(request_code::kStatus, resp_flag::kStatus, kAnswerTimeout_ms);
    if (answered && !(descriptor_->respFlags & resp_flag::kAppRunning)) return QUOR_DI_OKAY;
    // Still the application, or not back yet under the ID the channel uses.
    if (answered || dynamic_) SleepMs(kRetargetPause_ms);
    if (dynamic_) Retarget();
  }
  return QUOR_DI_CouldNotConfirmBl;
}

int32_t FieldUpgrade::CheckImage() {
  descriptor_->respFlags &= ~(resp_flag::kAppCheckExtra | resp_flag::kAppFlashed);
  Request(request_code::kAppCheck, resp_flag::kAppCheck, kImageCheckTimeout_ms);
  const int32_t code = engine_.checkBflCompatibility(descriptor_, device_, decoder_->GetVersion());
  if (code == QUOR_DI_AppTooOld) ReturnToApplication();
  return code;
}

void FieldUpgrade::ReturnToApplication() {
  const uint32_t validApplication = resp_flag::kAppCheck | resp_flag::kAppFlashed;
  if ((descriptor_->respFlags & validApplication) != validApplication) return;
  if (dynamic_) dhcp_.ArmEvent();
  Request(request_code::kRunApp, resp_flag::kF8, kAnswerTimeout_ms);
}

int32_t FieldUpgrade::Erase() {
  // The last moment a stop leaves the device as it was: its application is still flashed.
  if (engine_.UpgradesStopped()) {
    ReturnToApplication();
    return QUOR_DI_UpgradeStopped;
  }
  SetProgress(progress::kErasing);
  return Request(request_code::kErase, resp_flag::kF7, kEraseTimeout_ms) ? QUOR_DI_OKAY
                                                                           : QUOR_DI_CouldNotErase;
}

int32_t FieldUpgrade::WriteSectors() {
  SetState(QuorDeviceInterface::kUpgradeWriting);
  SetProgress(progress::kWriting);
  BflDecoder& decoder = *decoder_;
  _sect_t sector = decoder.GetStartSector();
  const uint32_t sectors = decoder.GetNumSectors();
  const uint32_t payload = decoder.GetSectorSz();
  // A malformed record ends the transfer as if the file ended there; validation decides.
  for (uint32_t sent = 0; sent < sectors && sector.address >= 0; ++sent) {
    // The device waits in its bootloader, erased or with part of the image, for a new upgrade.
    if (engine_.UpgradesStopped()) return QUOR_DI_UpgradeStopped;
    const uint32_t address = static_cast<uint32_t>(sector.address);
    const int result =
        rivuduvoz_ ? engine_.sendSector2(descriptor_, &iso_, request_.get(), kBufferSize, address,
                                         sector.data, payload)
                   : engine_.sendSector1(descriptor_, &iso_, request_.get(), kBufferSize, address,
                                         sector.data, payload);
    if (result != QUOR_DI_OKAY) return QUOR_DI_CouldNotSendFlash;
    const uint32_t percent = decoder.GetProgress();
    if (percent >= progress::kFirstSectorStep && percent <= progress::kLastSectorStep)
      SetProgress(static_cast<int32_t>(percent));
    sector = decoder.GetNextSector();
  }
  return QUOR_DI_OKAY;
}

int32_t FieldUpgrade::Validate() {
  SetState(QuorDeviceInterface::kUpgradeFinishing);
  SetProgress(progress::kValidating);
  return Request(request_code::kAppCheck, resp_flag::kAppCheck | resp_flag::kAppFlashed,
                 kImageCheckTimeout_ms)
             ? QUOR_DI_OKAY
             : QUOR_DI_CouldNotValidate;
}

int32_t FieldUpgrade::RunApplication() {
  SetProgress(progress::kStartingApplication);
  if (dynamic_) dhcp_.ArmEvent();
  if (!Request(request_code::kRunApp, resp_flag::kF8, kAnswerTimeout_ms))
    return QUOR_DI_CouldNotRunApp;
  SetProgress(progress::kRepeatingStart);
  for (int repeat = 0; repeat < kRunApplicationRepeats; ++repeat) {
    SleepMs(kRunApplicationRepeatPause_ms);
    Request(request_code::kRunApp, resp_flag::kF8, kAnswerTimeout_ms);
  }
  return QUOR_DI_OKAY;
}

int32_t FieldUpgrade::Rejoin() {
  if (!dynamic_) return QUOR_DI_OKAY;
  const int32_t code = AwaitDynamicIds(true);
  if (code == QUOR_DI_OKAY) Retarget();
  return code;
}

int32_t FieldUpgrade::ConfirmApplication() {
  bool answeredFromBootloader = false;
  for (int attempt = 0; attempt < kApplicationAttempts; ++attempt) {
    SetProgress(progress::kConfirmingApplication);
    descriptor_->respFlags &= ~resp_flag::kAppRunning;
    if (Request(request_code::kStatus, resp_flag::kStatus, kAnswerTimeout_ms)) {
      if (descriptor_->respFlags & resp_flag::kAppRunning) return QUOR_DI_OKAY;
      answeredFromBootloader = true;
      SleepMs(kApplicationRetryPause_ms);
    } else if (dynamic_) {
      Retarget();
    }
  }
  // No answer at all is no failure: the image was written and validated, and the device may
  // still be starting. Answers that all come from the bootloader say the new application does
  // not run.
  return answeredFromBootloader ? QUOR_DI_CouldNotRunApp : QUOR_DI_OKAY;
}

void FieldUpgrade::ReleaseDynamicIds() {
  // Every device is asked to take a dynamic ID afresh, so the tables match the bus again. The
  // server sends that reset once it has settled; it goes out before the lock is let go, so it
  // never cuts off the operation that comes next.
  dhcp_.ArmEvent();
  dhcp_.ReleaseAll();
  WaitWhile([this] { return dhcp_.ReleasePending(); }, kDynamicIdEventTimeout_ms);
  AwaitDynamicIdEvent();
}

void FieldUpgrade::Close() {
  CAN_DeInit();
  SetState(QuorDeviceInterface::kIdle);
  decoder_.reset();
}

int32_t FieldUpgrade::AwaitDynamicIds(bool applicationWasRunning) {
  if (applicationWasRunning) {
    if (rivuduvoz_) {
      SleepMs(kRivuduvozRestartPause_ms);
    } else if (!AwaitDynamicIdEvent()) {
      return QUOR_DI_DidNotGetDhcp;
    }
  }
  for (int check = 0; check < kDynamicIdChecks; ++check) {
    SleepMs(kDynamicIdCheckPause_ms);
    if (DynamicIdsBack()) return QUOR_DI_OKAY;
  }
  return QUOR_DI_DidNotGetFullDhcp;
}

bool FieldUpgrade::AwaitDynamicIdEvent() {
  WaitWhile([this] { return !dhcp_.EventSet(); }, kDynamicIdEventTimeout_ms);
  return dhcp_.EventSet();
}

bool FieldUpgrade::DynamicIdsBack() const {
  const uint32_t count = dhcp_.GetDynamicIdCount(descriptor_->arbId);
  // The count taken before may have included IDs the device had left behind, which a rebuild
  // of the tables has since dropped.
  if (dhcp_.ClearCount() != tableClears_) return count >= 1;
  return count >= dynamicIdCount_;
}

void FieldUpgrade::Retarget() {
  if (dhcp_.LookupDynId(descriptor_->arbId, descriptor_->dynamicId) != 0)
    engine_.SetupIso(&iso_, receive_.get(), kBufferSize, descriptor_);
}

bool FieldUpgrade::Request(uint8_t code, uint32_t mask, int timeout_ms) {
  const uint8_t message[] = {code};
  return engine_.SendAndWait(&iso_, *descriptor_, message, sizeof message, mask, timeout_ms,
                             kStep_us);
}

void FieldUpgrade::SetProgress(int32_t percent) { engine_.updateProgress_ = percent; }

void FieldUpgrade::SetState(int32_t state) { engine_.state_ = state; }
