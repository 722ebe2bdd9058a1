#include "device/impl_device_interface.h"

#include <chrono>
#include <thread>

#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "runtime/cs.h"
#include "runtime/event.h"
#include "runtime/thread_name.h"

ImplDeviceInterface::ImplDeviceInterface(QuorDeviceInterface& engine, WorkerStart start)
    : engine_(engine) {
  std::lock_guard<std::mutex> hold(workerMutex_);
  if (start == kStartNow) StartWorker();
}

ImplDeviceInterface::~ImplDeviceInterface() { dispose(); }

void ImplDeviceInterface::StartWorker() {
  running_ = 1;
  worker_ = std::make_unique<std::thread>(&ImplDeviceInterface::ThreadFunc_s, this);
}

void ImplDeviceInterface::ThreadFunc_s(ImplDeviceInterface* self) { self->ThreadFunc(); }

void ImplDeviceInterface::ThreadFunc() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CAN DI worker");
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(wakeMutex_);
      wake_.wait_for(hold, std::chrono::milliseconds(kWorkerPeriod_ms),
                     [this] { return running_ == 0; });
    }
    if (running_ == 0) return;
    // The dynamic-ID server keeps its own session and tables lock: no device-interface lock.
    engine_.Process20Ms();
  }
}

int ImplDeviceInterface::dispose() {
  std::lock_guard<std::mutex> hold(workerMutex_);
  // An upgrade still needs the worker (its device takes new dynamic IDs on every restart): it
  // is told to end at its next sector boundary, and the worker stays until it has.
  engine_.StopUpgrades(true);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kUpgradeStopWait_ms);
  while (engine_.UpgradeAccepted() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(kUpgradeStopCheck_ms));
  if (!worker_) return 0;
  {
    std::lock_guard<std::mutex> wakeHold(wakeMutex_);
    running_ = 0;
  }
  wake_.notify_all();
  worker_->join();
  worker_.reset();
  engine_.DhcpServer().Restart();  // no thread steps it now
  return 0;
}

int ImplDeviceInterface::restart() {
  std::lock_guard<std::mutex> hold(workerMutex_);
  engine_.StopUpgrades(false);
  if (!worker_) StartWorker();
  return 0;
}

bool ImplDeviceInterface::IsWorkerRunning() const {
  std::lock_guard<std::mutex> hold(workerMutex_);
  return worker_ != nullptr;
}

int ImplDeviceInterface::getNumberOfDevices(const quor::tessera::runtime::Event& cancel) {
  // The wait for the dynamic-ID server to settle sends nothing: requests go on meanwhile.
  engine_.WaitForSettledIds(cancel);
  // A request may hold the lock for a long time (an upgrade, for minutes): a stopping server
  // must not wait for it.
  CsHUnless hold(_lck, cancel);
  if (!hold.held()) return QUOR_DI_ListingCancelled;
  // A request waits for at most one exchange of the round, not for the round: between two
  // exchanges the requests that wait for the lock take their turn, in the order they came.
  return engine_.PolledRound(cancel, [&hold, &cancel] { return hold.Yield(cancel); });
}

int ImplDeviceInterface::getListOfDevices(DeviceDescriptor* list, int capacity) {
  CsH hold(_lck);
  return ListAndWriteVersions(list, capacity);
}

int ImplDeviceInterface::getListOfDevices(DeviceDescriptor* list, int capacity,
                                          const quor::tessera::runtime::Event& cancel) {
  CsHUnless hold(_lck, cancel);
  if (!hold.held()) return QUOR_DI_ListingCancelled;
  return ListAndWriteVersions(list, capacity);
}

int ImplDeviceInterface::ListAndWriteVersions(DeviceDescriptor* list, int capacity) {
  const int count = engine_.getListOfDevices(list, capacity);
  versions_.CreateIniVersions(list, count);
  return count;
}

int ImplDeviceInterface::assignDeviceID(DeviceDescriptor* device, unsigned newDeviceNumber) {
  CsH hold(_lck);
  return engine_.assignDeviceID(device, newDeviceNumber);
}

int ImplDeviceInterface::saveDeviceName(DeviceDescriptor* device, const char* newName) {
  CsH hold(_lck);
  return engine_.saveDeviceName(device, newName);
}

int ImplDeviceInterface::saveLightLed(const DeviceDescriptor* device, bool on) {
  CsH hold(_lck);
  return engine_.saveLightLed(device, on);
}

int ImplDeviceInterface::factoryDefault(const DeviceDescriptor* device) {
  CsH hold(_lck);
  return engine_.factoryDefault(device);
}

int ImplDeviceInterface::enterCalibration(const DeviceDescriptor* device, int calibrationType) {
  CsH hold(_lck);
  return engine_.enterCalibration(device, calibrationType);
}

int ImplDeviceInterface::selfTest(const DeviceDescriptor* device, char* text, int capacity) {
  // Without the lock: a self-test sends nothing and listens on a session of its own, so it
  // neither needs the bus to itself nor waits for a round or a command to end.
  return engine_.selfTest(device, text, capacity);
}

int ImplDeviceInterface::updateFirmware(const DeviceDescriptor* device,
                                        const unsigned char* fileBytes, unsigned size,
                                        char* message, int capacity) {
  // Accepted before it waits for the lock: from here on it counts as running, and a second
  // upgrade (even one arriving while this one waits to start) is refused.
  if (!engine_.AcceptUpgrade()) {
    QuorDeviceInterface::WriteUpdateMessage(device, QUOR_DI_TaskIsBusy, message, capacity);
    return QUOR_DI_TaskIsBusy;
  }
  struct Accepted {
    QuorDeviceInterface& engine;
    ~Accepted() { engine.EndUpgrade(); }
  } accepted{engine_};
  CsH hold(_lck);
  return engine_.updateFirmware(device, fileBytes, size, message, capacity);
}

void ImplDeviceInterface::checkUpdateProgress(int* percent, bool* stillUpdating) {
  // Without the lock: the progress must be readable while an upgrade holds it.
  engine_.checkUpdateProgress(percent, stillUpdating);
}

int ImplDeviceInterface::getConfigParameters(const DeviceDescriptor* device, ConfigByteArray& out) {
  // Without the lock: the engine hands out its last whole image under its own table lock, so a
  // configuration can be read while a long operation holds the device-interface lock.
  return engine_.getConfigParameters(device, out);
}

int ImplDeviceInterface::saveConfigParameters(const DeviceDescriptor* device,
                                              const ConfigByteArray& toWrite,
                                              ConfigByteArray& readBack) {
  CsH hold(_lck);
  return engine_.saveConfigParameters(device, toWrite, readBack);
}
