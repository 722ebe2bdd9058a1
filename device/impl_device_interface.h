#pragma once
// The locking front of the device engine: every device operation runs under the process-wide
// device-interface lock, one at a time, on its caller's thread. It also owns the worker thread
// that steps the dynamic-ID server every 20 ms, and the version-file writer.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "config/config_byte_array.h"
#include "device/device_descriptor.h"
#include "device/version_serializer.h"

class QuorDeviceInterface;
namespace quor::tessera::runtime {
class Event;
}

class ImplDeviceInterface {
 public:
  using DeviceDescriptor = CANDeviceInterface1::DeviceDescriptor;
  static constexpr int kWorkerPeriod_ms = 20;
  // How long dispose waits for an upgrade to reach its next sector boundary and clean up: the
  // longest single wait (the erase, 8 s) and the dynamic-ID release after it (6 s), twice over.
  static constexpr int kUpgradeStopWait_ms = 30000;
  static constexpr int kUpgradeStopCheck_ms = 10;

  enum WorkerStart { kStartNow, kStartOnRestart };
  // Starts the worker at once, or at the first restart(); failure to start it throws
  // std::system_error.
  explicit ImplDeviceInterface(QuorDeviceInterface& engine, WorkerStart start = kStartNow);
  ~ImplDeviceInterface();
  ImplDeviceInterface(const ImplDeviceInterface&) = delete;
  ImplDeviceInterface& operator=(const ImplDeviceInterface&) = delete;

  // A round; -800 when `cancel` is set while it waits for the lock or polls.
  int getNumberOfDevices(const quor::tessera::runtime::Event& cancel);
  // Copies the listed devices and writes their version files.
  int getListOfDevices(DeviceDescriptor* list, int capacity);
  // The same, or -800 when `cancel` is set while it waits for the lock.
  int getListOfDevices(DeviceDescriptor* list, int capacity,
                       const quor::tessera::runtime::Event& cancel);
  int assignDeviceID(DeviceDescriptor* device, unsigned newDeviceNumber);
  int saveDeviceName(DeviceDescriptor* device, const char* newName);
  int saveLightLed(const DeviceDescriptor* device, bool on);
  int factoryDefault(const DeviceDescriptor* device);
  int enterCalibration(const DeviceDescriptor* device, int calibrationType);
  int selfTest(const DeviceDescriptor* device, char* text, int capacity);
  int updateFirmware(const DeviceDescriptor* device, const unsigned char* fileBytes,
                     unsigned size, char* message, int capacity);
  void checkUpdateProgress(int* percent, bool* stillUpdating);
  int getConfigParameters(const DeviceDescriptor* device, ConfigByteArray& out);
  int saveConfigParameters(const DeviceDescriptor* device, const ConfigByteArray& toWrite,
                           ConfigByteArray& readBack);

  // Stops a firmware upgrade in progress at its next sector boundary and waits for it to end
  // (kUpgradeStopWait_ms at most; until restart() every new upgrade is refused with -137), then
  // stops the worker and closes the dynamic-ID server's session. Returns 0; a second call finds
  // no worker and returns 0 as well.
  int dispose();
  // Brings the worker back after dispose and lets upgrades run again; the dynamic-ID server
  // starts over from its reset, so devices plugged in meanwhile are offered IDs and the tables
  // are rebuilt. Returns 0.
  int restart();
  bool IsWorkerRunning() const;

  VersionSerializer& Versions() { return versions_; }

 private:
  static void ThreadFunc_s(ImplDeviceInterface* self);
  void ThreadFunc();
  void StartWorker();
  int ListAndWriteVersions(DeviceDescriptor* list, int capacity);  // lock held

  QuorDeviceInterface& engine_;
  VersionSerializer versions_;
  std::atomic<int> running_{0};
  std::unique_ptr<std::thread> worker_;
  mutable std::mutex workerMutex_;       // guards worker_ between dispose and restart
  std::mutex wakeMutex_;
  std::condition_variable wake_;         // ends the worker's 20 ms sleep at once on dispose
};
