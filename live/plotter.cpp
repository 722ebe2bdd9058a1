#include "live/plotter.h"

#include <chrono>

#include "canmux/can_mux.h"
#include "device/error_codes.h"
#include "live/motor_controller_address.h"

namespace quor::tessera::diagnostics {

std::atomic<int32_t> _PlotterOrdinal{0};

namespace {

constexpr double kSecondsPerMicrosecond = 0.000001;

}  // namespace

Plotter::Plotter()
    : thread_("Plotter", std::chrono::milliseconds(kTickPeriod_ms), [this] { return Process10Ms(); }) {}

Plotter::~Plotter() {
  // The thread may tick once more before it is joined; without a target it opens nothing.
  std::lock_guard<std::mutex> hold(lock_);
  target_ = kNoTarget;
  CloseStream();
}

int Plotter::ProcessUri(const CANDeviceInterface1::DeviceDescriptor* device,
                        const utility::ParameterMap& params, nlohmann::json& document) {
  data_.ToJson(document);
  std::lock_guard<std::mutex> hold(lock_);
  document["Channels"] = enables_.Mask();
  if (device == nullptr || !IsMotorController(device->arbId)) return QUOR_DI_FeatureNotSupported;
  if (closed_) return QUOR_DI_TaskIsBusy;
  const uint32_t target = ControlFrameId(device->arbId);
  if (target != target_) {
    target_ = target;
    CloseStream();
    // Another device may scale its PID frames otherwise: wait for its own auxiliary feedback.
    decoder_.Reset();
    OpenStreamIfNotOpen(target_);
  }
  enables_.ProcessUri(params);
  data_.SetCapacity(enables_.Count() * kPointsPerChannel);
  thread_.Wake();
  return QUOR_DI_OKAY;
}

bool Plotter::Process10Ms() {
  std::lock_guard<std::mutex> hold(lock_);
  OpenStreamIfNotOpen(target_);
  ReadStreamIfOpen();
  return target_ != kNoTarget;
}

void Plotter::OpenStreamIfNotOpen(uint32_t id) {
  streamMask_ = kStreamMask;
  streamId_ = id & kStreamMask;
  if (stream_ != 0 || id == kNoTarget) return;
  uint32_t handle = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, streamId_, streamMask_,
                                                           kStreamCapacity, &status);
  if (status != kCanMuxStatusOk) {
    // Tried again at the next tick.
    if (handle != 0) FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle);
    return;
  }
  stream_ = handle;
}

void Plotter::CloseStream() {
  if (stream_ != 0) FRC_NetworkCommunication_CANSessionMux_closeStreamSession(stream_);
  stream_ = 0;
}

void Plotter::ReadStreamIfOpen() {
  if (stream_ == 0) return;
  CanStreamMessage messages[kReadBatch];
  uint32_t read = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(stream_, messages, kReadBatch, &read,
                                                           &status);
  if (status == kCanMuxStatusUnknownHandle) {
    // The session layer was disposed of under us: open a new stream at the next tick.
    stream_ = 0;
    return;
  }
  for (uint32_t i = 0; i < read && i < kReadBatch; ++i) {
    PlotterDatum datum;
    if ((decoder_.Decode(messages[i], &datum) & enables_.Mask()) == 0) continue;
    datum.ordinal = _PlotterOrdinal.fetch_add(1);
    datum.time = messages[i].timeStamp * kSecondsPerMicrosecond;
    data_.AddData(datum);
  }
}

void Plotter::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  target_ = kNoTarget;
  CloseStream();
  enables_ = PlotterEnables();
  data_.Reset();
  decoder_.Reset();
}

void Plotter::Open() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = false;
}

}  // namespace quor::tessera::diagnostics
