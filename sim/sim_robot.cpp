#include "sim/sim_robot.h"

#include <algorithm>
#include <chrono>

#include "runtime/monotonic_clock.h"
#include "runtime/thread_name.h"
#include "sim/rivuduvoz_client.h"
#include "sim/sim_device.h"

namespace quor::tessera::sim {

uint64_t SimRobot::NowMicros() {
  return static_cast<uint64_t>(runtime::MonotonicMicros());
}

SimRobot::SimRobot(VirtualBus& bus, const std::vector<DeviceAttributes>& devices)
    : bus_(bus), sink_(bus, this), inbox_(kInboxCapacity), batch_(kInboxCapacity) {
  {
    std::lock_guard<std::mutex> hold(devicesMutex_);
    for (const DeviceAttributes& attributes : devices) {
      devices_.push_back(std::make_unique<SimDevice>(sink_, attributes, nextToken_++));
    }
    AttachRibbonClients(devices_);
  }
  bus_.attach(this);
  {
    // Power-up: every device asks for a dynamic number at once.
    std::lock_guard<std::mutex> hold(devicesMutex_);
    const uint64_t now = NowMicros();
    for (auto& device : devices_) device->plugIn(now);
  }
  thread_ = std::thread([this] { run(); });
}

SimRobot::~SimRobot() {
  bus_.detach(this);
  {
    std::lock_guard<std::mutex> hold(inboxMutex_);
    stopping_ = true;
  }
  inboxChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SimRobot::onBusFrame(const CanStreamMessage& frame) {
  {
    std::lock_guard<std::mutex> hold(inboxMutex_);
    if (inboxCount_ == inbox_.size()) {
      ++framesDropped_;
      return;
    }
    inbox_[(inboxHead_ + inboxCount_) % inbox_.size()] = frame;
    ++inboxCount_;
    if (framesUnanswered_++ == 0) unansweredSince_us_ = NowMicros();
  }
  inboxChanged_.notify_one();
}

size_t SimRobot::takeInbox() {
  const size_t count = inboxCount_;
  for (size_t i = 0; i < count; ++i) {
    batch_[i] = inbox_[inboxHead_];
    inboxHead_ = (inboxHead_ + 1) % inbox_.size();
  }
  inboxCount_ = 0;
  return count;
}

void SimRobot::wake() {
  {
    std::lock_guard<std::mutex> hold(inboxMutex_);
    wakeRequested_ = true;
  }
  inboxChanged_.notify_one();
}

uint64_t SimRobot::nextDeadline_us() const {
  uint64_t next = SimDevice::kNever;
  for (const auto& device : devices_) next = std::min(next, device->nextDeadline_us());
  return next;
}

void SimRobot::run() {
  runtime::SetThreadName(std::this_thread::get_id(), "sim robot");
  for (;;) {
    uint64_t deadline;
    {
      std::lock_guard<std::mutex> hold(devicesMutex_);
      deadline = nextDeadline_us();
    }
    nextDeadline_us_ = deadline;
    size_t count;
    {
      std::unique_lock<std::mutex> hold(inboxMutex_);
      const auto hasWork = [this] { return inboxCount_ > 0 || wakeRequested_ || stopping_; };
      const uint64_t now = NowMicros();
      if (deadline == SimDevice::kNever) {
        inboxChanged_.wait(hold, hasWork);
      } else if (deadline > now) {
        inboxChanged_.wait_for(hold, std::chrono::microseconds(deadline - now), hasWork);
      }
      if (stopping_) return;
      wakeRequested_ = false;
      count = takeInbox();
    }
    {
      std::lock_guard<std::mutex> hold(devicesMutex_);
      const uint64_t now = NowMicros();
      for (size_t i = 0; i < count; ++i) {
        for (auto& device : devices_) device->onFrame(batch_[i], now);
      }
      for (auto& device : devices_) device->poll(now);
    }
    {
      std::lock_guard<std::mutex> hold(inboxMutex_);
      framesUnanswered_ -= count;
      // Those still waiting came while this batch was handled.
      if (framesUnanswered_ > 0) unansweredSince_us_ = NowMicros();
    }
    devicesChanged_.notify_all();
  }
}

uint64_t SimRobot::laggingSince_us() const {
  uint64_t since = 0;
  {
    std::lock_guard<std::mutex> hold(inboxMutex_);
    if (framesUnanswered_ > 0) since = unansweredSince_us_;
  }
  const uint64_t deadline = nextDeadline_us_;
  if (deadline != 0 && deadline <= NowMicros() && (since == 0 || deadline < since)) since = deadline;
  return since;
}

template <typename Action>
bool SimRobot::withDevice(size_t index, Action action) {
  {
    std::lock_guard<std::mutex> hold(devicesMutex_);
    if (index >= devices_.size()) return false;
    action(*devices_[index]);
  }
  devicesChanged_.notify_all();
  wake();  // deadlines may have changed
  return true;
}

size_t SimRobot::deviceCount() const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  return devices_.size();
}

bool SimRobot::attributes(size_t index, DeviceAttributes* out) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  if (index >= devices_.size()) return false;
  *out = devices_[index]->attributes();
  return true;
}

std::vector<DeviceAttributes> SimRobot::allAttributes() const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  std::vector<DeviceAttributes> all;
  all.reserve(devices_.size());
  for (const auto& device : devices_) all.push_back(device->attributes());
  return all;
}

bool SimRobot::isPlugged(size_t index) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  return index < devices_.size() && devices_[index]->plugged();
}

int SimRobot::dynamicNumber(size_t index) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  if (index >= devices_.size()) return DynamicIdClient::kNoDynamicNumber;
  return devices_[index]->dynamicNumber();
}

bool SimRobot::configImage(size_t index, std::vector<uint8_t>* image, uint32_t* writesTaken) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  if (index >= devices_.size()) return false;
  const ConfigStore& config = devices_[index]->config();
  image->assign(config.image(), config.image() + config.length());
  if (writesTaken != nullptr) *writesTaken = config.writesTaken();
  return true;
}

uint32_t SimRobot::baseArbId(size_t index) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  return index < devices_.size() ? devices_[index]->baseArbId() : 0;
}

bool SimRobot::commandEffects(size_t index, CommandEffects* out) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  if (index >= devices_.size()) return false;
  *out = devices_[index]->effects();
  return true;
}

int SimRobot::pendingDeviceNumber(size_t index) const {
  std::lock_guard<std::mutex> hold(devicesMutex_);
  return index < devices_.size() ? devices_[index]->pendingDeviceNumber() : -1;
}

bool SimRobot::unplug(size_t index) {
  return withDevice(index, [](SimDevice& device) { device.unplug(); });
}

bool SimRobot::plugIn(size_t index) {
  return withDevice(index, [](SimDevice& device) { device.plugIn(NowMicros()); });
}

bool SimRobot::setMode(size_t index, DeviceMode mode) {
  return withDevice(index, [mode](SimDevice& device) { device.setMode(mode, NowMicros()); });
}

bool SimRobot::setCustomName(size_t index, const std::string& name) {
  return withDevice(index, [&name](SimDevice& device) { device.setCustomName(name); });
}

bool SimRobot::setUnansweredRequests(size_t index, const std::vector<uint8_t>& requestCodes) {
  return withDevice(index, [&requestCodes](SimDevice& device) {
    device.setUnansweredRequests(requestCodes);
  });
}

bool SimRobot::editState(size_t index, const std::function<void(DeviceState&)>& edit) {
  return withDevice(index, [&edit](SimDevice& device) { edit(device.state()); });
}

size_t SimRobot::addDevice(const DeviceAttributes& attributes) {
  size_t index;
  {
    std::lock_guard<std::mutex> hold(devicesMutex_);
    index = devices_.size();
    devices_.push_back(std::make_unique<SimDevice>(sink_, attributes, nextToken_++));
    AttachRibbonClients(devices_);
    devices_.back()->plugIn(NowMicros());
  }
  devicesChanged_.notify_all();
  wake();
  return index;
}

bool SimRobot::waitForDynamicNumbers(int timeout_ms) const {
  std::unique_lock<std::mutex> hold(devicesMutex_);
  const auto allNumbered = [this] {
    for (const auto& device : devices_) {
      const bool answers = device->plugged() && device->hasBusIdentity() &&
                           device->attributes().mode != DeviceMode::kSilent &&
                           device->attributes().dynamicIds;
      if (answers && device->dynamicNumber() == DynamicIdClient::kNoDynamicNumber) return false;
    }
    return true;
  };
  return devicesChanged_.wait_for(hold, std::chrono::milliseconds(timeout_ms), allNumbered);
}

uint64_t SimRobot::framesDropped() const {
  std::lock_guard<std::mutex> hold(inboxMutex_);
  return framesDropped_;
}

}  // namespace quor::tessera::sim
