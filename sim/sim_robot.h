#pragma once
// The simulated robot: a set of devices attached to a virtual bus as one endpoint. Frames from
// the bus are queued and answered on the robot's own simulation thread, a few milliseconds at
// most after they arrived. Between frames the thread sleeps until the earliest device deadline,
// or until a frame or a change wakes it. Tests change the robot while the server runs (unplug,
// plug in, switch mode, rename) and read device attributes back to derive the expected listing.
//
// Device indices are stable: unplugged devices keep their index, added devices get the next.
// Locking: onBusFrame takes only the inbox lock; the simulation thread takes the device lock
// and injects answers into the bus without holding the inbox lock. The bus may show those
// answers to other endpoints on the simulation thread, so an endpoint must not call the robot
// from its onBusFrame.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canmux/virtual_bus.h"
#include "sim/command_effects.h"
#include "sim/device_attributes.h"
#include "sim/frame_sink.h"

namespace quor::tessera::sim {

class SimDevice;

class SimRobot : public VirtualBus::Endpoint {
 public:
  // Frames waiting for the simulation thread beyond this are dropped (counted).
  static constexpr size_t kInboxCapacity = 4096;

  // Attaches to `bus`, plugs in every device and starts the simulation thread. The bus must
  // outlive the robot.
  SimRobot(VirtualBus& bus, const std::vector<DeviceAttributes>& devices);
  // Detaches from the bus, then stops and joins the simulation thread.
  ~SimRobot() override;
  SimRobot(const SimRobot&) = delete;
  SimRobot& operator=(const SimRobot&) = delete;

  void onBusFrame(const CanStreamMessage& frame) override;

  size_t deviceCount() const;
  // Copies of the attributes; false / empty when the index is out of range.
  bool attributes(size_t index, DeviceAttributes* out) const;
  std::vector<DeviceAttributes> allAttributes() const;
  bool isPlugged(size_t index) const;
  // The device's current dynamic number, or -1 (none, or no such device).
  int dynamicNumber(size_t index) const;
  // The base arbitration ID the server keys the device by; 0 when no such device.
  uint32_t baseArbId(size_t index) const;
  // The configuration image the device holds now (empty for families without one) and how many
  // writes it took; false when no such device.
  bool configImage(size_t index, std::vector<uint8_t>* image, uint32_t* writesTaken = nullptr) const;
  // What commands left on the device (a copy); false when no such device.
  bool commandEffects(size_t index, CommandEffects* out) const;
  // The number a "set number" asked for and no confirm took yet; -1 when none (or no device).
  int pendingDeviceNumber(size_t index) const;

  // Runtime control; each returns false when the index is out of range.
  bool unplug(size_t index);
  bool plugIn(size_t index);
  bool setMode(size_t index, DeviceMode mode);
  bool setCustomName(size_t index, const std::string& name);
  bool setUnansweredRequests(size_t index, const std::vector<uint8_t>& requestCodes);
  // Changes what the device's status frames report (read it back with attributes()).
  bool editState(size_t index, const std::function<void(DeviceState&)>& edit);
  // Adds a device and plugs it in; returns its index.
  size_t addDevice(const DeviceAttributes& attributes);

  // Waits until every plugged, answering device that takes part in dynamic IDs holds a number.
  bool waitForDynamicNumbers(int timeout_ms) const;

  uint64_t framesDropped() const;
  // Since when (NowMicros) the robot has had work it has not done yet: a frame shown to it and
  // not yet answered, or a device deadline that has passed; 0 when it has none. A loaded machine
  // can hold the simulation thread back; a test's clock can stand still meanwhile.
  uint64_t laggingSince_us() const;

  static uint64_t NowMicros();

 private:
  class BusSink : public FrameSink {
   public:
    BusSink(VirtualBus& bus, const VirtualBus::Endpoint* self) : bus_(bus), self_(self) {}
    void sendFrame(const CanStreamMessage& frame) override { bus_.inject(frame, self_); }

   private:
    VirtualBus& bus_;
    const VirtualBus::Endpoint* self_;
  };

  void run();
  // Moves waiting frames into batch_; returns how many. Inbox lock held.
  size_t takeInbox();
  void wake();
  uint64_t nextDeadline_us() const;  // device lock held
  template <typename Action>
  bool withDevice(size_t index, Action action);

  VirtualBus& bus_;
  BusSink sink_;

  mutable std::mutex devicesMutex_;
  mutable std::condition_variable devicesChanged_;
  std::vector<std::unique_ptr<SimDevice>> devices_;
  uint32_t nextToken_ = 1;

  mutable std::mutex inboxMutex_;
  std::condition_variable inboxChanged_;
  // Fixed rings allocated once: taking a frame off the bus allocates nothing.
  std::vector<CanStreamMessage> inbox_;
  size_t inboxHead_ = 0;
  size_t inboxCount_ = 0;
  std::vector<CanStreamMessage> batch_;  // simulation thread only
  uint64_t framesDropped_ = 0;
  size_t framesUnanswered_ = 0;         // shown to the robot, not yet handled
  uint64_t unansweredSince_us_ = 0;     // when the oldest of them arrived
  std::atomic<uint64_t> nextDeadline_us_{0};  // the earliest device deadline the thread knows
  bool wakeRequested_ = false;
  bool stopping_ = false;

  std::thread thread_;
};

}  // namespace quor::tessera::sim
