// The engine object and its device table.
#include "device/quor_device_interface.h"

#include "device/found_index.h"
#include "runtime/monotonic_clock.h"

namespace {
constexpr size_t kMaxTextLength = 63;
constexpr uint8_t kFirmwareMajorWithoutConfigs = 10;
constexpr uint8_t kFirstFirmwareMajorWithConfigs = 4;
std::atomic<QuorDeviceInterface::Clock> g_clock{nullptr};
}  // namespace

bool ShouldWeRetrieveConfigs(const _Device* device,
                             const CANDeviceInterface1::DeviceDescriptor* descriptor) {
  if (descriptor != nullptr && descriptor->versionParts == 4) return true;
  return device != nullptr && device->firmwareMajor >= kFirstFirmwareMajorWithConfigs &&
         device->firmwareMajor != kFirmwareMajorWithoutConfigs;
}

void CapStringLen(std::string& text) {
  if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
}

QuorDeviceInterface::QuorDeviceInterface() = default;

QuorDeviceInterface::~QuorDeviceInterface() = default;

_Device* QuorDeviceInterface::InsertFoundDevice(uint32_t id, uint32_t dynamicId, int ignored) {
  std::lock_guard<std::mutex> hold(tableMutex_);
  return InsertFoundDevice(devices_, id, dynamicId, ignored);
}

_Device* QuorDeviceInterface::InsertFoundDevice(DeviceMap& devices, uint32_t id,
                                                uint32_t dynamicId, int /*ignored*/) {
  std::unique_ptr<_Device>& slot = devices[id];
  if (!slot) {
    slot = std::make_unique<_Device>();
    slot->descriptor.arbId = id;
    slot->descriptor.dynamicId = dynamicId;
    slot->foundIndex = slot->descriptor.foundIndex = FoundIndex_Get();
  }
  return slot.get();
}

_Device* QuorDeviceInterface::GetDevice(uint32_t id) {
  const auto found = devices_.find(id);
  return found == devices_.end() ? nullptr : found->second.get();
}

QuorDeviceInterface::DeviceDescriptor* QuorDeviceInterface::GetDescriptor(uint32_t id) {
  _Device* device = GetDevice(id);
  return device ? &device->descriptor : nullptr;
}

bool QuorDeviceInterface::FlagReceived(const uint32_t* flags, uint32_t mask) {
  return flags != nullptr && (*flags & mask) == mask;
}

int64_t QuorDeviceInterface::GetTime() {
  const Clock clock = g_clock.load(std::memory_order_relaxed);
  return clock != nullptr ? clock() : quor::tessera::runtime::MonotonicNanos();
}

void QuorDeviceInterface::SetClock(Clock clock) { g_clock.store(clock); }

void QuorDeviceInterface::Process20Ms() { dhcp_.Process20Ms(); }

bool QuorDeviceInterface::SelfTestSubject(const DeviceDescriptor& listed,
                                          _Device& subject) const {
  std::lock_guard<std::mutex> hold(tableMutex_);
  const auto found = devices_.find(listed.arbId);
  if (found == devices_.end()) return false;
  const _Device& device = *found->second;
  subject.descriptor = listed;
  subject.firmwareMajor = device.firmwareMajor;
  subject.firmwareMinor = device.firmwareMinor;
  subject.firmwareThird = device.firmwareThird;
  subject.firmwareFourth = device.firmwareFourth;
  subject.deviceType = device.deviceType;
  subject.modelCode = device.modelCode;
  *subject.config = device.wholeConfig;
  return true;
}

int QuorDeviceInterface::GetIsoSeparationTime() {
  if (crankRequested_.exchange(false)) CrankMaxPerformance();
  return isoSeparationTime_ms_;
}

int QuorDeviceInterface::GetMinIdleBusTimeUs() {
  if (crankRequested_.exchange(false)) CrankMaxPerformance();
  return minIdleBusTime_us_;
}

void QuorDeviceInterface::CrankMaxPerformance() {
  isoSeparationTime_ms_ = 0;
  minIdleBusTime_us_ = 0;
  ClearRivuduvozFlags();
}

void QuorDeviceInterface::ClearRivuduvozFlags() {
  for (auto& [key, device] : devices_) {
    if (can_id::Manufacturer(key) != can_id::kManufacturerQuor) continue;
    if (device->descriptor.respFlags & resp_flag::kRivuduvozClient)
      device->descriptor.pollFlags &= ~(poll_flag::kInfoParsed | poll_flag::kStatusObtained);
  }
}

int QuorDeviceInterface::getNumberOfDevices(const Event& cancel) {
  WaitForSettledIds(cancel);
  return PolledRound(cancel, RoundYield());
}

int QuorDeviceInterface::PolledRound(const Event& cancel, const RoundYield& yield) {
  roundYield_ = &yield;
  const int result = RunRound(cancel);
  if (roundLockLost_) return result;  // nothing here is this thread's to touch any more
  roundYield_ = nullptr;
  // Walk the timing back towards the defaults that suit a busy bus.
  isoSeparationTime_ms_ = GetIsoSeparationTime() + kIsoSeparationTimeStep_ms;
  if (isoSeparationTime_ms_ > kDefaultIsoSeparationTime_ms)
    isoSeparationTime_ms_ = kDefaultIsoSeparationTime_ms;
  minIdleBusTime_us_ += kMinIdleBusTimeStep_us;
  if (minIdleBusTime_us_ > kDefaultMinIdleBusTime_us)
    minIdleBusTime_us_ = kDefaultMinIdleBusTime_us;
  return static_cast<int>(devices_.size());
}

int QuorDeviceInterface::GetStratgy() const {
  if (state_ == kPolling) return 0;
  if (state_ == kUpgradeWriting) return 1;
  return 2;
}
