#pragma once
// An in-process CAN bus. The session multiplexer is one node (through the CanBackend hooks);
// simulated devices and test code attach as endpoints. Every frame one node puts on the bus
// is seen by every other node, as on a wire.
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "canmux/can_backend.h"

class VirtualBus : public CanBackend {
 public:
  class Endpoint {
   public:
    virtual ~Endpoint() = default;
    // Called for every frame the server transmits and every frame another endpoint injects,
    // on the sending thread. It may call inject() (answers are queued, never delivered
    // re-entrantly to the same call chain's lock holders) but must not block.
    virtual void onBusFrame(const CanStreamMessage& frame) = 0;
  };

  // Frames waiting for the multiplexer beyond this are dropped (a real controller's receive
  // FIFO overflows the same way).
  static constexpr size_t kServerQueueCapacity = 65536;

  void attach(Endpoint* endpoint);
  // After detach returns, the endpoint is never called again.
  void detach(Endpoint* endpoint);

  // Put a frame on the bus from `from` (nullptr for test code that is not an endpoint): the
  // server receives it and every other endpoint sees it. A zero time stamp is replaced by the
  // bus clock (microseconds, monotonic).
  void inject(const CanStreamMessage& frame, const Endpoint* from = nullptr);

  // Number of frames the server has put on the bus since creation.
  uint64_t framesFromServer() const;

  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override;
  int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) override;
  const char* interfaceName() const override { return "sim"; }

  static uint32_t nowMicros();

 private:
  void deliverToEndpoints(const CanStreamMessage& frame, const Endpoint* except);

  mutable std::mutex endpointsMutex_;
  std::vector<Endpoint*> endpoints_;
  std::mutex deliveryMutex_;  // held while endpoints are called; detach waits on it
  mutable std::mutex queueMutex_;
  std::deque<CanStreamMessage> toServer_;
  uint64_t framesFromServer_ = 0;
};
