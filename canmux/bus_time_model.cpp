#include "canmux/bus_time_model.h"

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
    frameEnds_.goOffNow();
  }
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
  // A busy wire has its wake-up due already; an idle one takes the frame now.
  if (!onWire_ && !handingOver_) {
    startNextFrame();
    frameEnds_.setAt(current_.end_us);
  }
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

void BusTimeModel::startNextFrame() {
  Node* winner = arbitrate();
  if (winner == nullptr) return;
  Queued next;
  winner->queue.pop(&next);
  room_.notify_all();
  const CanStreamMessage& frame = next.frame;
  const int64_t start_us = std::max(wireFree_us_, next.queued_us);
  wireFree_us_ = start_us + CanFrameTime_us(frame.messageID, frame.data, frame.dataSize);
  bitsCarried_ += CanFrameBits(frame.messageID, frame.data, frame.dataSize);
  // On the wire until its last bit: nothing else starts meanwhile.
  current_ = OnWire{frame, winner->sender, wireFree_us_};
  onWire_ = true;
}

void BusTimeModel::deliverEndedFrames(std::unique_lock<std::mutex>& hold) {
  handingOver_ = true;
  while (!stopping_ && onWire_ && current_.end_us <= NowMicros()) {
    OnWire ended = current_;
    onWire_ = false;
    hold.unlock();
    ended.frame.timeStamp = static_cast<uint32_t>(ended.end_us);
    deliver_(ended.frame, ended.sender);
    hold.lock();
    startNextFrame();
  }
  handingOver_ = false;
  if (onWire_ && !stopping_) frameEnds_.setAt(current_.end_us);
}

void BusTimeModel::run() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CAN wire");
  std::unique_lock<std::mutex> hold(mutex_);
  wireThreadId_ = std::this_thread::get_id();
  while (!stopping_) {
    hold.unlock();
    frameEnds_.wait();
    hold.lock();
    deliverEndedFrames(hold);
  }
}
