#pragma once
// The field upgrade of one device: the procedure behind QuorDeviceInterface::updateFirmware2.
// It talks to the device's bootloader over one ISO-15765 channel, following the device through
// the dynamic IDs it takes each time it restarts (into its bootloader and back).
//
// Invariants: nothing reaches the bus before the device and the whole file have passed their
// checks; every step runs only while the code so far is 0; once a request was sent, the
// dynamic-ID release runs whatever the code; the frame layer is closed and the engine idle on
// every path; the engine state and progress are the only things other threads read, and they
// are atomic. A stop (QuorDeviceInterface::StopUpgrades) ends the upgrade before the erase or
// at a sector boundary, never during a transfer or after the last sector.
#include <cstdint>
#include <memory>
#include <optional>

#include "device/device_descriptor.h"
#include "device/iso15765.h"
#include "firmware/bfl_decoder.h"

class CanDhcpServer;
class QuorDeviceInterface;
struct _Device;

class FieldUpgrade {
 public:
  using DeviceDescriptor = CANDeviceInterface1::DeviceDescriptor;

  // Request buffer (the 1541-byte sector request fits) and receive buffer of the channel.
  static constexpr uint16_t kBufferSize = 4096;
  static constexpr int kStep_us = 100;  // every wait polls this often
  // A settle takes 1.2 s of quiet and 0.5 s without reports after the last ID request.
  static constexpr int kSettleWait_ms = 5000;

  FieldUpgrade(QuorDeviceInterface& engine, const DeviceDescriptor* caller,
               const uint8_t* file, uint32_t length);
  ~FieldUpgrade();
  FieldUpgrade(const FieldUpgrade&) = delete;
  FieldUpgrade& operator=(const FieldUpgrade&) = delete;

  // The whole procedure and its clean-up; the upgrade's result code.
  int32_t Run();

 private:
  using Step = int32_t (FieldUpgrade::*)();

  // The device, the file and a stop, looked at before any request: 0 or the refusal's code.
  int32_t CheckBeforeSending();
  // Until the dynamic-ID server has settled with no release pending, or kSettleWait_ms; then
  // whether the device has a dynamic ID.
  void AwaitSettledTables();
  int32_t FindDevice();
  int32_t QueryMode();
  int32_t EnterBootloader();
  int32_t ConfirmBootloader();
  int32_t CheckImage();
  int32_t Erase();
  int32_t WriteSectors();
  int32_t Validate();
  int32_t RunApplication();
  int32_t Rejoin();
  int32_t ConfirmApplication();
  // Sends the device back to the application it holds, when its bootloader reported one.
  void ReturnToApplication();
  void ReleaseDynamicIds();
  void Close();

  // After a restart: the dynamic-ID server's event (unless the application was not running,
  // or the device answers through another's port) and the device's dynamic IDs back.
  int32_t AwaitDynamicIds(bool applicationWasRunning);
  // True once the server knows as many dynamic IDs for the device as before it restarted; if
  // the server has emptied its tables since they were counted, once it knows one.
  bool DynamicIdsBack() const;
  // A dynamic-ID report since the last ArmEvent, waited for on the engine's clock.
  bool AwaitDynamicIdEvent();
  // Points the channel at the device's newest dynamic ID, when the server knows one.
  void Retarget();
  // Sends the one-byte request and waits for every bit of `mask`.
  bool Request(uint8_t code, uint32_t mask, int timeout_ms);
  void SetProgress(int32_t percent);
  void SetState(int32_t state);

  QuorDeviceInterface& engine_;
  CanDhcpServer& dhcp_;
  const DeviceDescriptor* caller_;
  const uint8_t* file_;
  uint32_t length_;

  _Device* device_ = nullptr;
  DeviceDescriptor* descriptor_ = nullptr;
  bool dynamic_ = false;
  bool rivuduvoz_ = false;
  bool applicationWasRunning_ = false;
  uint32_t dynamicIdCount_ = 0;  // before the device left its application
  uint32_t tableClears_ = 0;     // the server's ClearCount when they were counted
  std::optional<BflDecoder> decoder_;
  _Iso15765_t iso_{};
  std::unique_ptr<uint8_t[]> request_;
  std::unique_ptr<uint8_t[]> receive_;
};
