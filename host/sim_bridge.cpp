#include "host/sim_bridge.h"

#include "canmux/can_mux.h"
#include "runtime/thread_name.h"

SimBridge::SimBridge(VirtualBus& devicesBus)
    : devices_(devicesBus), batch_(kSessionCapacity) {}

SimBridge::~SimBridge() { stop(); }

bool SimBridge::start(std::string* error) {
  int32_t status = 0;
  // ID 0 under mask 0: every frame the interface delivers.
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&session_, 0, 0, kSessionCapacity,
                                                           &status);
  if (status != kCanMuxStatusOk) {
    *error = "cannot listen on the CAN bus (status " + std::to_string(status) + ")";
    return false;
  }
  sessionOpen_ = true;
  stopping_ = false;
  CanMux_WakeOnFrames(session_, &work_);
  devices_.attach(&listener_);
  thread_ = std::thread([this] { run(); });
  return true;
}

void SimBridge::stop() {
  devices_.detach(&listener_);
  if (thread_.joinable()) {
    stopping_ = true;
    work_.raise();
    thread_.join();
  }
  if (sessionOpen_) {
    FRC_NetworkCommunication_CANSessionMux_closeStreamSession(session_);
    sessionOpen_ = false;
  }
}

void SimBridge::run() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "sim bridge");
  for (;;) {
    // A frame that comes during a pass raises the signal again, so no pass misses it.
    work_.wait(WakeSignal::kForever);
    if (stopping_) return;
    wireToDevices();
    devicesToWire();
  }
}

void SimBridge::wireToDevices() {
  uint32_t count = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(
      session_, batch_.data(), static_cast<uint32_t>(batch_.size()), &count, &status);
  if (status == kCanMuxStatusOverflow) ++overflows_;
  for (uint32_t i = 0; i < count && !stopping_; ++i) {
    // The frame has been on the wire, so every device heard it: it must reach them however
    // long their bus keeps it waiting. A loaded machine holds the bus's thread up longer than
    // a sender waits for room in its queue, and a frame given up then left a device with a
    // gap in a message (a sector it never acknowledged). Each refused try waited already.
    while (devices_.transmit(batch_[i].messageID, batch_[i].data, batch_[i].dataSize) != 0 &&
           !stopping_) {
    }
  }
}

void SimBridge::devicesToWire() {
  uint32_t count = 0;
  devices_.receive(batch_.data(), static_cast<uint32_t>(batch_.size()), &count);
  for (uint32_t i = 0; i < count; ++i) {
    int32_t status = 0;
    FRC_NetworkCommunication_CANSessionMux_sendMessage(batch_[i].messageID, batch_[i].data,
                                                       batch_[i].dataSize, kCanMuxPeriodOnce,
                                                       &status);
    if (status != kCanMuxStatusOk) ++framesNotSent_;
  }
}
