#pragma once
// An in-process CAN bus. The session multiplexer is one node (through the CanBackend hooks);
// simulated devices and test code attach as endpoints. Every frame one node puts on the bus
// is seen by every other node, as on a wire.
//
// Frames travel at once (for unit tests), or in wire time: each waits for the wire in its
// node's transmit queue and takes its real duration at 1 Mbit/s (canmux/bus_time_model.h).
//
// The server's link may be told to misbehave (setFaults): a share of the frames each way is
// dropped, duplicated or delayed, as canmux/bus_faults.h describes.
//
// Endpoints are called one at a time, never concurrently, and every endpoint sees the frames
// in the same order. Frames put on the bus while a delivery is running (from another thread,
// or from inside onBusFrame) are queued and delivered by the thread already delivering, so an
// endpoint may inject from its callback without deadlock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canmux/bounded_ring.h"
#include "canmux/bus_faults.h"
#include "canmux/can_backend.h"
#include "canmux/fault_dice.h"

class BusTimeModel;
class DelayLine;

class VirtualBus : public CanBackend {
 public:
  class Endpoint {
   public:
    virtual ~Endpoint() = default;
    // Called for every frame the server transmits and every frame another endpoint injects,
    // on whichever thread is delivering (see above). It may call inject() and detach() but
    // must not block.
    virtual void onBusFrame(const CanStreamMessage& frame) = 0;
  };

  // Frames waiting for the multiplexer beyond this are dropped (a real controller's receive
  // FIFO overflows the same way).
  static constexpr size_t kServerQueueCapacity = 65536;
  // Frames waiting to be shown to endpoints beyond this are dropped: only an endpoint that
  // answers every frame with several others can get there.
  static constexpr size_t kEndpointQueueCapacity = 65536;

  enum class Timing { kInstant, kWireTime };
  // In wire time: the server's transmit queue, as a CAN interface's default txqueuelen; an
  // endpoint (a simulated robot stands for many devices) gets more. A send to a full queue
  // waits as long as the SocketCAN backend waits on ENOBUFS, then fails.
  static constexpr size_t kServerTransmitQueueFrames = 10;
  static constexpr size_t kEndpointTransmitQueueFrames = 256;
  static constexpr uint32_t kTransmitRetryBudget_us = 10000;

  explicit VirtualBus(Timing timing = Timing::kInstant);
  ~VirtualBus() override;

  void attach(Endpoint* endpoint);
  // After detach returns, the endpoint is never called again (called from inside a callback,
  // the running call is the last).
  void detach(Endpoint* endpoint);

  // Put a frame on the bus from `from` (nullptr for test code that is not an endpoint): the
  // server receives it and every other endpoint sees it. A zero time stamp is replaced by the
  // bus clock (microseconds, monotonic); in wire time every frame is stamped with the end of
  // its transmission.
  void inject(const CanStreamMessage& frame, const Endpoint* from = nullptr);

  // Number of frames the server has put on the bus since creation.
  uint64_t framesFromServer() const;
  // Frames lost because the server queue or the endpoint queue was full.
  uint64_t framesDropped() const;
  // Bits the wire has carried (wire time only; 0 otherwise).
  uint64_t bitsCarried() const;

  // From now on, drop, duplicate or delay shares of the frames the server sends and receives
  // (BusFaults{} for a healthy link again). Any thread, at any time.
  void setFaults(const BusFaults& faults);
  BusFaults faults() const;
  struct LinkFaultCounts {
    uint64_t dropped = 0;
    uint64_t duplicated = 0;
    uint64_t delayed = 0;
  };
  // What the faults did so far to the server's frames (sent) and to the frames for it (received).
  LinkFaultCounts sentFaultCounts() const;
  LinkFaultCounts receivedFaultCounts() const;
  // "sent: 12 dropped, 3 duplicated, 0 delayed; received: ..." for log lines.
  std::string faultCountsText() const;

  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override;
  int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) override;
  // Returns as soon as a frame for the server is queued (or on a wake-up).
  void waitForFrames(int timeout_ms) override;
  // Time stamps are the bus clock's; the trace gets them as wall-clock times.
  int64_t receivedAtWallClock_us(const CanStreamMessage& frame) const override;
  const char* interfaceName() const override { return "sim"; }

  static uint32_t nowMicros();

 private:
  struct PendingFrame {
    CanStreamMessage frame;
    const Endpoint* from;
  };

  // A frame done with the wire: to the server unless the server sent it, and to every other
  // endpoint. `sender` is this bus for the server's frames.
  void deliver(const CanStreamMessage& frame, const void* sender);
  void queueForServer(const CanStreamMessage& frame);

  // The link's faults: the fate of the next frame of a direction, counted; with the delay of a
  // frame held back.
  enum Direction { kSent = 0, kReceived = 1 };
  FaultDice::Fate fateOf(Direction direction, uint32_t* delay_us);
  // Hands a frame the delay line held back on, as if it had just come off the wire.
  void releaseDelayed(const CanStreamMessage& frame, int direction);
  // Queues the frame for the endpoints and, unless a delivery is already running, delivers
  // until the queue is empty.
  void publish(const CanStreamMessage& frame, const Endpoint* from);
  bool isAttached(const Endpoint* endpoint) const;

  // Endpoint side.
  mutable std::mutex mutex_;  // guards everything down to calloutEnded_
  std::vector<Endpoint*> endpoints_;
  std::vector<Endpoint*> deliveryList_;  // the deliverer's copy of endpoints_ for one frame
  BoundedRing<PendingFrame> pending_;
  bool delivering_ = false;
  std::thread::id deliverer_;
  const Endpoint* inCallout_ = nullptr;  // endpoint being called right now
  std::condition_variable calloutEnded_;

  // Server side.
  mutable std::mutex queueMutex_;
  BoundedRing<CanStreamMessage> toServer_;

  std::atomic<uint64_t> framesFromServer_{0};
  std::atomic<uint64_t> framesDropped_{0};

  // Faults of the server's link; the dice are drawn under the lock, since frames of one
  // direction may be delivered from several threads (instant delivery).
  std::atomic<bool> faultsOn_{false};
  mutable std::mutex faultMutex_;
  BusFaults faults_;
  FaultDice dice_[2] = {FaultDice({}, 0, 0), FaultDice({}, 0, 0)};
  LinkFaultCounts faultCounts_[2];
  // Created with the first delay; stops before the queues it hands frames to.
  std::unique_ptr<DelayLine> delayLine_;

  // Last, so it stops before anything it delivers to goes; null for instant delivery.
  std::unique_ptr<BusTimeModel> wire_;
};
