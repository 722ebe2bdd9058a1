#include "server/connection_table.h"

namespace quor::tessera::networking {

ConnectionTable::ConnectionTable(int capacity, int perPeer)
    : perPeer_(perPeer), slots_(static_cast<size_t>(capacity)) {
  for (int slot = capacity - 1; slot >= 0; --slot) freeSlots_.push_back(static_cast<uint32_t>(slot));
}

ConnectionTable::Key ConnectionTable::reserve(uint32_t peer) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (closed_ || freeSlots_.empty()) return kNoKey;
  const auto count = perPeerCount_.find(peer);
  if (count != perPeerCount_.end() && count->second >= perPeer_) return kNoKey;
  const uint32_t slot = freeSlots_.back();
  freeSlots_.pop_back();
  ++perPeerCount_[peer];
  Slot& taken = slots_[slot];
  taken.generation = nextGeneration_++;
  if (nextGeneration_ == 0) nextGeneration_ = 1;  // generation 0 would make key 0 possible
  taken.peer = peer;
  taken.taken = true;
  return keyOf(slot, taken.generation);
}

void ConnectionTable::fill(Key key, std::shared_ptr<Connection> connection) {
  std::lock_guard<std::mutex> hold(mutex_);
  Slot& slot = slots_[slotOf(key)];
  if (slot.taken && slot.generation == generationOf(key)) slot.connection = std::move(connection);
}

const ConnectionTable::Slot* ConnectionTable::slotNamed(Key key) const {
  if (slotOf(key) >= slots_.size()) return nullptr;
  const Slot& slot = slots_[slotOf(key)];
  return slot.taken && slot.generation == generationOf(key) ? &slot : nullptr;
}

std::shared_ptr<Connection> ConnectionTable::find(Key key) const {
  std::lock_guard<std::mutex> hold(mutex_);
  const Slot* slot = slotNamed(key);
  return slot != nullptr ? slot->connection : nullptr;
}

void ConnectionTable::remove(Key key) {
  std::shared_ptr<Connection> leaving;  // let go after the lock: it may be the last holder
  std::lock_guard<std::mutex> hold(mutex_);
  if (slotNamed(key) == nullptr) return;
  Slot& slot = slots_[slotOf(key)];
  leaving = std::move(slot.connection);
  slot.taken = false;
  freeSlots_.push_back(slotOf(key));
  const auto count = perPeerCount_.find(slot.peer);
  if (count != perPeerCount_.end() && --count->second <= 0) perPeerCount_.erase(count);
}

std::vector<std::pair<ConnectionTable::Key, std::shared_ptr<Connection>>> ConnectionTable::close() {
  std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
  std::vector<std::pair<Key, std::shared_ptr<Connection>>> held;
  for (uint32_t slot = 0; slot < slots_.size(); ++slot) {
    const Slot& taken = slots_[slot];
    if (taken.taken && taken.connection)
      held.emplace_back(keyOf(slot, taken.generation), taken.connection);
  }
  return held;
}

void ConnectionTable::reopen() {
  std::lock_guard<std::mutex> hold(mutex_);
  closed_ = false;
}

int ConnectionTable::size() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return static_cast<int>(slots_.size() - freeSlots_.size());
}

}  // namespace quor::tessera::networking
