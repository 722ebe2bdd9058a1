#include "canmux/virtual_bus.h"

#include <algorithm>
#include <cstring>

#include "canmux/bus_time_model.h"
#include "canmux/can_mux.h"
#include "canmux/delay_line.h"
#include "canmux/time_stamp.h"
#include "runtime/monotonic_clock.h"

VirtualBus::VirtualBus(Timing timing)
    : pending_(kEndpointQueueCapacity), toServer_(kServerQueueCapacity) {
  if (timing == Timing::kWireTime) {
    wire_ = std::make_unique<BusTimeModel>(
        [this](const CanStreamMessage& frame, const void* sender) { deliver(frame, sender); });
  }
}

VirtualBus::~VirtualBus() = default;

uint32_t VirtualBus::nowMicros() {
  return static_cast<uint32_t>(quor::tessera::runtime::MonotonicMicros());
}

void VirtualBus::attach(Endpoint* endpoint) {
  if (endpoint == nullptr) return;
  std::lock_guard<std::mutex> hold(mutex_);
  if (!isAttached(endpoint)) endpoints_.push_back(endpoint);
}

void VirtualBus::detach(Endpoint* endpoint) {
  std::unique_lock<std::mutex> hold(mutex_);
  endpoints_.erase(std::remove(endpoints_.begin(), endpoints_.end(), endpoint), endpoints_.end());
  // Inside a callback on the delivering thread the running call is the last; any other thread
  // waits until a running call to this endpoint has returned.
  if (deliverer_ == std::this_thread::get_id()) return;
  calloutEnded_.wait(hold, [&] { return inCallout_ != endpoint; });
}

bool VirtualBus::isAttached(const Endpoint* endpoint) const {
  return std::find(endpoints_.begin(), endpoints_.end(), endpoint) != endpoints_.end();
}

void VirtualBus::inject(const CanStreamMessage& frame, const Endpoint* from) {
  if (wire_) {
    if (wire_->submit(frame, from, kEndpointTransmitQueueFrames, kTransmitRetryBudget_us) != 0)
      framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  CanStreamMessage stamped = frame;
  if (stamped.timeStamp == 0) stamped.timeStamp = nowMicros();
  deliver(stamped, from);
}

void VirtualBus::deliver(const CanStreamMessage& frame, const void* sender) {
  uint32_t delay_us = 0;
  if (sender == this) {
    switch (fateOf(kSent, &delay_us)) {
      case FaultDice::Fate::kDrop:
        return;
      case FaultDice::Fate::kDelay:
        if (delayLine_->hold(frame, kSent, delay_us)) return;
        break;  // a full delay line lets the frame through
      case FaultDice::Fate::kDuplicate:
        publish(frame, nullptr);
        break;
      case FaultDice::Fate::kDeliver:
        break;
    }
    publish(frame, nullptr);
    return;
  }
  switch (fateOf(kReceived, &delay_us)) {
    case FaultDice::Fate::kDrop:
      break;
    case FaultDice::Fate::kDelay:
      if (!delayLine_->hold(frame, kReceived, delay_us)) queueForServer(frame);
      break;
    case FaultDice::Fate::kDuplicate:
      queueForServer(frame);
      queueForServer(frame);
      break;
    case FaultDice::Fate::kDeliver:
      queueForServer(frame);
      break;
  }
  // The other devices hear it whatever the server's link did to it.
  publish(frame, static_cast<const Endpoint*>(sender));
}

void VirtualBus::queueForServer(const CanStreamMessage& frame) {
  bool wasEmpty = false;
  {
    std::lock_guard<std::mutex> hold(queueMutex_);
    wasEmpty = toServer_.empty();
    if (!toServer_.push(frame)) framesDropped_.fetch_add(1, std::memory_order_relaxed);
  }
  // Whoever takes frames takes the whole queue: one hand-over per burst.
  if (wasEmpty) framesArrived();
}

void VirtualBus::setFaults(const BusFaults& faults) {
  std::lock_guard<std::mutex> hold(faultMutex_);
  faults_ = faults;
  dice_[kSent] = FaultDice(faults.sent, faults.seed, kSent + 1);
  dice_[kReceived] = FaultDice(faults.received, faults.seed, kReceived + 1);
  if (!delayLine_ && (faults.sent.delay_percent > 0 || faults.received.delay_percent > 0)) {
    delayLine_ = std::make_unique<DelayLine>(
        [this](const CanStreamMessage& frame, int direction) { releaseDelayed(frame, direction); });
  }
  faultsOn_.store(faults.any(), std::memory_order_release);
}

BusFaults VirtualBus::faults() const {
  std::lock_guard<std::mutex> hold(faultMutex_);
  return faults_;
}

VirtualBus::LinkFaultCounts VirtualBus::sentFaultCounts() const {
  std::lock_guard<std::mutex> hold(faultMutex_);
  return faultCounts_[kSent];
}

VirtualBus::LinkFaultCounts VirtualBus::receivedFaultCounts() const {
  std::lock_guard<std::mutex> hold(faultMutex_);
  return faultCounts_[kReceived];
}

std::string VirtualBus::faultCountsText() const {
  const auto text = [](const LinkFaultCounts& c) {
    return std::to_string(c.dropped) + " dropped, " + std::to_string(c.duplicated) +
           " duplicated, " + std::to_string(c.delayed) + " delayed";
  };
  std::lock_guard<std::mutex> hold(faultMutex_);
  return "sent: " + text(faultCounts_[kSent]) + "; received: " + text(faultCounts_[kReceived]);
}

FaultDice::Fate VirtualBus::fateOf(Direction direction, uint32_t* delay_us) {
  if (!faultsOn_.load(std::memory_order_acquire)) return FaultDice::Fate::kDeliver;
  std::lock_guard<std::mutex> hold(faultMutex_);
  const FaultDice::Fate fate = dice_[direction].next();
  LinkFaultCounts& counts = faultCounts_[direction];
  if (fate == FaultDice::Fate::kDrop) ++counts.dropped;
  if (fate == FaultDice::Fate::kDuplicate) ++counts.duplicated;
  if (fate == FaultDice::Fate::kDelay) {
    ++counts.delayed;
    const FrameFaults& link = direction == kSent ? faults_.sent : faults_.received;
    *delay_us = link.delay_ms * 1000;
  }
  return fate;
}

void VirtualBus::releaseDelayed(const CanStreamMessage& frame, int direction) {
  if (direction == kSent) {
    publish(frame, nullptr);
    return;
  }
  // Stamped when it reaches the server, so the server's frames stay in time order.
  CanStreamMessage late = frame;
  late.timeStamp = nowMicros();
  queueForServer(late);
}

int32_t VirtualBus::transmit(uint32_t id, const uint8_t* data, uint8_t size) {
  CanStreamMessage frame{};
  frame.messageID = id;
  frame.timeStamp = nowMicros();
  frame.dataSize = std::min<uint8_t>(size, 8);
  if (data != nullptr && frame.dataSize > 0) std::memcpy(frame.data, data, frame.dataSize);
  if (data == nullptr) frame.dataSize = 0;
  if (wire_ &&
      wire_->submit(frame, this, kServerTransmitQueueFrames, kTransmitRetryBudget_us) != 0)
    return kCanMuxStatusTransmitFailed;
  framesFromServer_.fetch_add(1, std::memory_order_relaxed);
  if (!wire_) deliver(frame, this);
  return 0;
}

int32_t VirtualBus::receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) {
  std::lock_guard<std::mutex> hold(queueMutex_);
  uint32_t n = 0;
  while (n < capacity && toServer_.pop(&buffer[n])) ++n;
  *count = n;
  return 0;
}

void VirtualBus::waitForFrames(int timeout_ms) {
  {
    std::lock_guard<std::mutex> hold(queueMutex_);
    if (!toServer_.empty()) return;
  }
  // A frame queued after the check has raised the signal, so it is not slept through.
  wakeUp_.wait(timeout_ms);
}

int64_t VirtualBus::receivedAtWallClock_us(const CanStreamMessage& frame) const {
  return MonotonicStampToWallClock_us(frame.timeStamp);
}

void VirtualBus::publish(const CanStreamMessage& frame, const Endpoint* from) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (!pending_.push(PendingFrame{frame, from})) {
    framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (delivering_) return;  // the running delivery (maybe further up this stack) takes it
  delivering_ = true;
  deliverer_ = std::this_thread::get_id();
  PendingFrame next{};
  while (pending_.pop(&next)) {
    deliveryList_ = endpoints_;  // keeps its capacity: no allocation in the steady state
    for (Endpoint* endpoint : deliveryList_) {
      if (endpoint == next.from || !isAttached(endpoint)) continue;
      inCallout_ = endpoint;
      hold.unlock();
      endpoint->onBusFrame(next.frame);
      hold.lock();
      inCallout_ = nullptr;
      calloutEnded_.notify_all();
    }
  }
  delivering_ = false;
  deliverer_ = std::thread::id();
}

uint64_t VirtualBus::framesFromServer() const { return framesFromServer_.load(); }
uint64_t VirtualBus::framesDropped() const { return framesDropped_.load(); }
uint64_t VirtualBus::bitsCarried() const { return wire_ ? wire_->bitsCarried() : 0; }
