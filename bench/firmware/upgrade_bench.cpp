// How busy the engine keeps the wire while it writes a firmware image: a 64-sector (96 KiB)
// upgrade of a simulated Kestrel KX on the virtual bus in wire time (1 Mbit/s), RUNS times.
//
//   build/bench/firmware/bench_upgrade [RUNS]
//
// Per run: the sector phase as the wire shows it, from the start of the first sector request to
// the end of the last sector's acknowledgement (the progress runs 10 -> 89 meanwhile; "10->89"
// is also given as a progress reader saw it), the bus time at 1 Mbit/s of the upgrade's own
// frames in that phase (requests, the device's flow control and acknowledgements) and of every
// frame on the wire (status frames, dynamic-ID traffic), each divided by the phase's duration,
// and the time per sector the wire carried nothing. Medians at the end.
#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "canmux/can_frame_timing.h"
#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "device/engine_wire.h"
#include "device/error_codes.h"
#include "device/impl_device_interface.h"
#include "device/quor_device_interface.h"
#include "runtime/event.h"
#include "runtime/monotonic_clock.h"
#include "sim/bfl_writer.h"
#include "sim/device_file.h"
#include "sim/family_traits.h"
#include "sim/sim_robot.h"

namespace {

using quor::tessera::runtime::MonotonicMicros;
using quor::tessera::sim::DefaultDevice;
using quor::tessera::sim::DeviceFamily;

constexpr uint32_t kSectors = 64;
constexpr int kWritingProgress = 10;
constexpr int kLastSectorProgress = 89;
// The upgrade's channel: requests on the dynamic class's request index, answers on the next;
// the mask leaves out the device type, the number and the index's lowest bit.
constexpr uint32_t kUpgradeChannelMask =
    can_id::kManufacturerMask | can_id::kApiClassMask | can_id::ApiIndexField(0xE);
constexpr uint32_t kUpgradeChannel = can_id::ManufacturerField(can_id::kManufacturerQuor) |
                                     can_id::ApiClassField(api_class::kDynamic) |
                                     can_id::ApiIndexField(api_index::kDynamicRequest);
static_assert(api_index::kDynamicAnswer == (api_index::kDynamicRequest | 1), "one channel");

struct Frame {
  uint32_t id;
  uint32_t end_us;
  uint32_t bits;
  uint8_t head[3];  // the first data bytes
};

bool StartsSector(const Frame& f) {  // first frame of a 1541-byte 0xB1 request
  return f.head[0] == 0x16 && f.head[1] == 0x05 && f.head[2] == 0xB1;
}
bool AcknowledgesSector(const Frame& f) { return f.head[0] == 0x01 && f.head[1] == 0xF1; }

// Sees every frame on the wire, stamped with the end of its transmission.
class WireRecorder : public VirtualBus::Endpoint {
 public:
  void onBusFrame(const CanStreamMessage& f) override {
    std::lock_guard<std::mutex> hold(mutex_);
    frames_.push_back({f.messageID, f.timeStamp, CanFrameBits(f.messageID, f.data, f.dataSize),
                       {f.data[0], f.data[1], f.data[2]}});
  }
  std::vector<Frame> take() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Frame> out;
    out.swap(frames_);
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<Frame> frames_;
};

// First time each progress value was seen (bus clock, microseconds), read as "progress" does.
class ProgressClock {
 public:
  explicit ProgressClock(ImplDeviceInterface& front) : front_(front), thread_([this] { run(); }) {}
  ~ProgressClock() {
    stop_ = true;
    thread_.join();
  }
  uint32_t firstSeen(int percent) const { return seen_[percent]; }

 private:
  void run() {
    while (!stop_) {
      int percent = 0;
      bool running = false;
      front_.checkUpdateProgress(&percent, &running);
      if (running && percent >= 0 && percent <= 100 && seen_[percent] == 0)
        seen_[percent] = static_cast<uint32_t>(MonotonicMicros());
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }
  ImplDeviceInterface& front_;
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> seen_[101] = {};
  std::thread thread_;
};

struct Run {
  double phase_s = 0;
  double to89_s = 0;
  double upgradeRatio = 0;
  double wireRatio = 0;
  double idlePerSector_ms = 0;  // the phase's time the wire carried nothing, per sector
  int result = 0;
};

// NaN (a progress the reader missed) is left out.
double Median(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Run Measure(ImplDeviceInterface& front, QuorDeviceInterface& engine, WireRecorder& wire,
            uint32_t arbId, uint8_t minor) {
  const uint8_t kestrelKx = quor::tessera::sim::TraitsOf(DeviceFamily::kKestrelKx).modelCode;
  const std::vector<uint8_t> file =
      quor::tessera::sim::MakeBflFile(quor::tessera::sim::PlanFor(kestrelKx, 21, minor, kSectors));
  const CANDeviceInterface1::DeviceDescriptor device = *engine.GetDescriptor(arbId);
  char message[255];
  Run run;
  wire.take();
  ProgressClock progress(front);
  run.result = front.updateFirmware(&device, file.data(), static_cast<unsigned>(file.size()),
                                    message, sizeof message);
  const std::vector<Frame> frames = wire.take();
  uint32_t start = 0, end = 0;
  for (const Frame& f : frames) {
    if (start == 0 && StartsSector(f)) start = f.end_us - f.bits;  // 1 bit = 1 us
    if (AcknowledgesSector(f)) end = f.end_us;
  }
  run.phase_s = static_cast<int32_t>(end - start) / 1e6;
  const uint32_t seen10 = progress.firstSeen(kWritingProgress);
  const uint32_t seen89 = progress.firstSeen(kLastSectorProgress);
  run.to89_s = seen10 != 0 && seen89 != 0 ? static_cast<int32_t>(seen89 - seen10) / 1e6 : NAN;
  uint64_t upgradeBits = 0, allBits = 0;
  for (const Frame& f : frames) {
    // A frame belongs to the phase when it ended within it.
    if (static_cast<int32_t>(f.end_us - start) <= 0 || static_cast<int32_t>(end - f.end_us) < 0)
      continue;
    allBits += f.bits;
    if ((f.id & kUpgradeChannelMask) == kUpgradeChannel) upgradeBits += f.bits;
  }
  run.upgradeRatio = upgradeBits / 1e6 / run.phase_s;
  run.wireRatio = allBits / 1e6 / run.phase_s;
  run.idlePerSector_ms = (run.phase_s - allBits / 1e6) * 1e3 / kSectors;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  auto bus = std::make_shared<VirtualBus>(VirtualBus::Timing::kWireTime);
  CanMux_SetBackend(bus);
  WireRecorder wire;
  bus->attach(&wire);
  auto robot = std::make_unique<quor::tessera::sim::SimRobot>(
      *bus, std::vector<quor::tessera::sim::DeviceAttributes>{DefaultDevice(DeviceFamily::kKestrelKx, 1)});
  QuorDeviceInterface engine;
  auto front = std::make_unique<ImplDeviceInterface>(engine);
  const uint32_t arbId = robot->baseArbId(0);
  quor::tessera::runtime::Event noCancel;
  for (int round = 0; round < 200; ++round) {
    front->getNumberOfDevices(noCancel);
    CANDeviceInterface1::DeviceDescriptor listed[4];
    if (engine.getListOfDevices(listed, 4) == 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (engine.GetDescriptor(arbId) == nullptr) {
    std::fprintf(stderr, "the simulated Kestrel KX was never listed\n");
    return 1;
  }
  std::printf("run  result  sector phase s  10->89 s  upgrade frames / time  all frames / time"
              "  idle ms / sector\n");
  std::vector<double> phase, to89, upgradeRatio, wireRatio, idle;
  for (int i = 0; i < runs; ++i) {
    const Run r = Measure(*front, engine, wire, arbId, static_cast<uint8_t>(i));
    std::printf("%3d  %6d  %14.3f  %8.3f  %21.3f  %17.3f  %16.2f\n", i + 1, r.result, r.phase_s,
                r.to89_s, r.upgradeRatio, r.wireRatio, r.idlePerSector_ms);
    phase.push_back(r.phase_s);
    to89.push_back(r.to89_s);
    upgradeRatio.push_back(r.upgradeRatio);
    wireRatio.push_back(r.wireRatio);
    idle.push_back(r.idlePerSector_ms);
  }
  std::printf("median       %14.3f  %8.3f  %21.3f  %17.3f  %16.2f\n", Median(phase), Median(to89),
              Median(upgradeRatio), Median(wireRatio), Median(idle));
  front.reset();
  engine.DhcpServer().Restart();
  robot.reset();
  bus->detach(&wire);
  CanMux_SetBackend(nullptr);
  return 0;
}
