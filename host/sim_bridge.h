#pragma once
// Carries frames between the bus the multiplexer is on (a real CAN interface) and the virtual
// bus the simulated devices live on, so that the same device code the tests use answers
// through a real socket. The bridge stands where the server sits on the virtual bus: frames
// from the wire are transmitted to the devices, and what the devices send is taken from the
// virtual bus's receive queue and sent out on the wire. A frame from the wire waits for room
// on the devices' bus rather than being given up; what is lost anyway is counted.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "canmux/can_stream_message.h"
#include "canmux/virtual_bus.h"
#include "canmux/wake_signal.h"

class SimBridge {
 public:
  // Frames the wire may deliver between two passes before the session overflows.
  static constexpr uint32_t kSessionCapacity = 4096;

  explicit SimBridge(VirtualBus& devicesBus);
  ~SimBridge();
  SimBridge(const SimBridge&) = delete;
  SimBridge& operator=(const SimBridge&) = delete;

  // Opens a session for every frame on the wire and starts the bridge thread.
  bool start(std::string* error);
  // Stops the thread and closes the session; the devices hear nothing more.
  void stop();

  // Passes that found frames from the wire lost because the session's queue was full.
  uint64_t overflows() const { return overflows_; }
  // Frames of the devices the wire refused (after the backend's own retries).
  uint64_t framesNotSent() const { return framesNotSent_; }

 private:
  // Wakes the bridge whenever a frame appears on the devices' bus.
  class DevicesListener : public VirtualBus::Endpoint {
   public:
    explicit DevicesListener(WakeSignal& work) : work_(work) {}
    void onBusFrame(const CanStreamMessage&) override { work_.raise(); }

   private:
    WakeSignal& work_;
  };

  void run();
  // One pass in each direction.
  void wireToDevices();
  void devicesToWire();

  VirtualBus& devices_;
  // Raised by frames from the wire (the multiplexer), by frames from the devices, and by stop.
  WakeSignal work_;
  DevicesListener listener_{work_};
  uint32_t session_ = 0;
  bool sessionOpen_ = false;
  std::vector<CanStreamMessage> batch_;  // bridge thread only
  std::atomic<uint64_t> overflows_{0};
  std::atomic<uint64_t> framesNotSent_{0};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
