#include "canmux/bus_time_model.h"

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>

#include "canmux/can_frame_timing.h"
#include "runtime/monotonic_clock.h"
#include "runtime/thread_name.h"

namespace {

int64_t NowMicros() { return quor::tessera::runtime::MonotonicMicros(); }

}  // namespace

BusTimeModel::BusTimeModel(Deliver deliver) : deliver_(std::move(deliver)) {
  // Nodes are few (the server and one endpoint per simulated robot or test); reserving keeps
  // the references the wire hands out valid.
  nodes_.reserve(64);
  wire_ = std::thread([this] { run(); });
}

BusTimeModel::~BusTimeModel() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  room_.notify_all();
  if (wire_.joinable()) wire_.join();
}

BusTimeModel::Node& BusTimeModel::nodeOf(const void* sender, size_t capacity) {
  for (Node& node : nodes_) {
    if (node.sender == sender) return node;
  }
  nodes_.push_back(Node{sender, BoundedRing<Queued>(capacity)});
  return nodes_.back();
}

int32_t BusTimeModel::submit(const CanStreamMessage& frame, const void* sender, size_t capacity,
                             uint32_t wait_us) {
  std::unique_lock<std::mutex> hold(mutex_);
  if (nodes_.size() == nodes_.capacity() && !nodes_.empty()) {
    bool known = false;
    for (const Node& node : nodes_) known = known || node.sender == sender;
    if (!known) return kQueueFull;  // more nodes than a bus can have
  }
  Node& node = nodeOf(sender, capacity);
  if (node.queue.full() && wait_us > 0 && std::this_thread::get_id() != wireThreadId_) {
    room_.wait_for(hold, std::chrono::microseconds(wait_us),
                   [&] { return stopping_ || !node.queue.full(); });
  }
  if (stopping_ || !node.queue.push(Queued{frame, NowMicros()})) return kQueueFull;
  hold.unlock();
  work_.notify_one();
  return 0;
}

uint64_t BusTimeModel::bitsCarried() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return bitsCarried_;
}

BusTimeModel::Node* BusTimeModel::arbitrate() {
  Node* winner = nullptr;
  for (Node& node : nodes_) {
    if (node.queue.empty()) continue;
    // The lowest ID wins arbitration (dominant bits beat recessive ones).
    if (winner == nullptr ||
        node.queue.front().frame.messageID < winner->queue.front().frame.messageID)
      winner = &node;
  }
  return winner;
}

void BusTimeModel::run() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CAN wire");
  // Frames last about 130 us: the default 50 us timer slack would stretch every one of them.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::unique_lock<std::mutex> hold(mutex_);
  wireThreadId_ = std::this_thread::get_id();
  for (;;) {
    work_.wait(hold, [this] { return stopping_ || arbitrate() != nullptr; });
    if (stopping_) return;
    Node* winner = arbitrate();
    Queued next;
    winner->queue.pop(&next);
    const void* sender = winner->sender;
    room_.notify_all();
    const uint32_t bits = CanFrameBits(next.frame.messageID, next.frame.data, next.frame.dataSize);
    const int64_t start_us = std::max(wireFree_us_, next.queued_us);
    wireFree_us_ = start_us + CanFrameTime_us(next.frame.messageID, next.frame.data,
                                              next.frame.dataSize);
    bitsCarried_ += bits;
    // On the wire until its last bit: nothing else starts meanwhile.
    const int64_t end_us = wireFree_us_;
    hold.unlock();
    const int64_t wait_us = end_us - NowMicros();
    if (wait_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait_us));
    next.frame.timeStamp = static_cast<uint32_t>(end_us);
    deliver_(next.frame, sender);
    hold.lock();
  }
}
