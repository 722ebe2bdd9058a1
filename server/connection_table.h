#pragma once
// The connections a server holds, each in a numbered slot with a generation. An event names
// its connection by slot and generation, so an event about a connection closed meanwhile
// (its slot since given to another) finds nothing, and a connection lives while any thread
// still holds it. Also the limits: in total, and per peer address, so one host cannot take
// every slot.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace quor::tessera::networking {

class Connection;

class ConnectionTable {
 public:
  // Names a connection: its slot in the low half, the slot's generation in the high half.
  using Key = uint64_t;
  static constexpr Key kNoKey = 0;

  ConnectionTable(int capacity, int perPeer);

  // Takes a slot for a connection from `peer`; kNoKey when the table or the peer's share is
  // full, or the table is closed.
  Key reserve(uint32_t peer);
  // Puts the connection in its reserved slot.
  void fill(Key key, std::shared_ptr<Connection> connection);
  // The connection `key` names, or null when it has gone.
  std::shared_ptr<Connection> find(Key key) const;
  // Frees the slot (reserved or filled); no event finds the connection any more.
  void remove(Key key);

  // Refuses every reservation from now on (until reopened) and returns what is held.
  std::vector<std::pair<Key, std::shared_ptr<Connection>>> close();
  void reopen();
  int size() const;

 private:
  struct Slot {
    std::shared_ptr<Connection> connection;
    uint32_t generation = 0;
    uint32_t peer = 0;
    bool taken = false;
  };
  static Key keyOf(uint32_t slot, uint32_t generation) { return (Key{generation} << 32) | slot; }
  static uint32_t slotOf(Key key) { return static_cast<uint32_t>(key); }
  static uint32_t generationOf(Key key) { return static_cast<uint32_t>(key >> 32); }
  const Slot* slotNamed(Key key) const;

  const int perPeer_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  std::map<uint32_t, int> perPeerCount_;
  uint32_t nextGeneration_ = 1;
  bool closed_ = false;
};

}  // namespace quor::tessera::networking
