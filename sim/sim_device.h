#pragma once
// One simulated device: answers presence, information, status, application check, name and
// configuration requests over its own ISO-15765, its bootloader's requests, and takes part in
// the dynamic-ID protocol. An IMU on a motor controller's ribbon cable answers through that
// controller's alternate channel instead.
// Not thread-safe: the robot drives every device from its one simulation thread.
#include <array>
#include <cstdint>

#include "canmux/can_stream_message.h"
#include "sim/bootloader.h"
#include "sim/command_effects.h"
#include "sim/config_store.h"
#include "sim/device_attributes.h"
#include "sim/device_iso_tp.h"
#include "sim/dynamic_id_client.h"
#include "sim/frame_sink.h"
#include "sim/ribbon_status_relay.h"
#include "sim/status_and_control.h"

namespace quor::tessera::sim {

class SimDevice {
 public:
  static constexpr uint64_t kNever = DeviceIsoTp::kNever;

  // `token` is unique on the bus (it tells the device's dynamic-ID accepts apart).
  SimDevice(FrameSink& sink, const DeviceAttributes& attributes, uint32_t token);

  // Plugged devices answer; an unplugged one ignores the bus and forgets its dynamic number.
  void plugIn(uint64_t now_us);
  void unplug();
  bool plugged() const { return plugged_; }

  void onFrame(const CanStreamMessage& frame, uint64_t now_us);
  void poll(uint64_t now_us);
  uint64_t nextDeadline_us() const;

  const DeviceAttributes& attributes() const { return attributes_; }
  // Runtime changes. Switching the mode acts like a reset into that mode.
  void setMode(DeviceMode mode, uint64_t now_us);
  // Cut to kMaxCustomNameLength.
  void setCustomName(const std::string& name);
  // From now on the device never answers these request codes (as a device file's `no_answer`).
  void setUnansweredRequests(const std::vector<uint8_t>& requestCodes);

  // The base arbitration ID the server keys the device by (API class 0x3F, index 0; a ribbon
  // IMU is keyed by its controller's alternate channel, API class 0x3D).
  uint32_t baseArbId() const;
  // Puts `client` on this motor controller's ribbon cable; this device must outlive it.
  void attachRibbonClient(SimDevice& client);
  bool hasRibbonHost() const { return ribbonHost_ != nullptr; }
  bool hasRibbonClient() const { return hasRibbonClient_; }
  // False for a ribbon IMU: it has no dynamic ID, and its controller passes its status frames
  // on under the controller's own type and number.
  bool hasBusIdentity() const { return !attributes_.onRibbonCable; }
  const FlashImage& flash() const { return bootloader_.flash(); }
  int dynamicNumber() const { return dynamicId_.dynamicNumber(); }
  const DynamicIdClient& dynamicIdClient() const { return dynamicId_; }
  const DeviceIsoTp& transport() const { return iso_; }
  uint32_t ledBlinks() const { return effects_.ledBlinks(); }
  const CommandEffects& effects() const { return effects_; }
  CommandEffects& effects() { return effects_; }
  // The number asked for by "BD 00 n FF" and not yet confirmed by "BD 02"; -1 = none.
  int pendingDeviceNumber() const { return pendingDeviceNumber_; }
  // What the status frames report; changes show in the next frames that go out.
  DeviceState& state() { return attributes_.state; }
  const StatusAndControl& statusAndControl() const { return statusAndControl_; }
  const ConfigStore& config() const { return config_; }

 private:
  bool offersNamesAndConfigs() const { return applicationRunning() && config_.length() > 0; }
  bool answers() const {
    // A ribbon IMU is heard only through its controller.
    return plugged_ && attributes_.mode != DeviceMode::kSilent &&
           (!attributes_.onRibbonCable || (ribbonHost_ != nullptr && ribbonHost_->answers()));
  }
  void powerUpDynamicIds(uint64_t now_us);
  // A ribbon IMU's frames reach the bus only while its controller's application passes them on.
  bool statusReachesBus() const {
    return ribbonHost_ == nullptr || ribbonHost_->applicationRunning();
  }
  // A device whose application area is empty can only run its bootloader, whatever it was
  // told.
  bool applicationRunning() const {
    return attributes_.mode == DeviceMode::kApplication && HasApplicationFirmware(attributes_);
  }
  // The answer ID of the request channel `id` belongs to, or 0 if it is none of ours.
  uint32_t answerIdFor(uint32_t id) const;
  void onRequest(const uint8_t* request, uint16_t size, uint32_t answerId, uint64_t now_us);
  void answer(uint32_t answerId, const uint8_t* bytes, uint16_t size, uint64_t now_us);
  void answerInformation(uint32_t answerId, uint64_t now_us);
  void answerStatus(uint32_t answerId, uint64_t now_us);
  void onBootloaderRequest(const uint8_t* request, uint16_t size, uint32_t answerId,
                           uint64_t now_us);
  void carryOut(const Bootloader::Reply& reply, uint64_t now_us);
  void restart(DeviceMode mode, uint64_t now_us);
  void answerName(uint32_t answerId, uint64_t now_us);
  void storeName(const uint8_t* request, uint16_t size, uint32_t answerId, uint64_t now_us);
  void answerConfiguration(const uint8_t* header, uint8_t headerSize, uint32_t answerId,
                           uint64_t now_us);
  void writeConfiguration(const uint8_t* request, uint16_t size, uint32_t answerId,
                          uint64_t now_us);
  void answerSubCoded(const uint8_t* request, uint16_t size, uint32_t answerId, uint64_t now_us);
  void answerSubCode(uint8_t subCode, uint32_t answerId, uint64_t now_us);
  void answerPresence(uint64_t now_us);
  void onDeviceNumberCommand(const uint8_t* request, uint16_t size, uint32_t answerId,
                             uint64_t now_us);
  uint32_t staticAnswerId() const;

  DeviceAttributes attributes_;
  bool plugged_ = false;
  DeviceIsoTp iso_;
  DynamicIdClient dynamicId_;
  RibbonStatusRelay statusRelay_;  // before the status frames that go through it
  StatusAndControl statusAndControl_;
  ConfigStore config_;
  // Number asked for by "BD 00 n FF", taken on "BD 02"; -1 = none pending.
  int pendingDeviceNumber_ = -1;
  CommandEffects effects_;
  Bootloader bootloader_;
  const SimDevice* ribbonHost_ = nullptr;  // set on a ribbon IMU
  bool hasRibbonClient_ = false;
  // Scratch for building one answer (the transport copies it).
  std::array<uint8_t, DeviceIsoTp::kMaxMessageBytes> answerBuffer_{};
};

}  // namespace quor::tessera::sim
