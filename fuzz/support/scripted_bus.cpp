#include "fuzz/support/scripted_bus.h"

#include <deque>
#include <map>
#include <memory>

#include "canmux/can_mux.h"

namespace {

struct Session {
  uint32_t id;
  uint32_t mask;
  uint32_t capacity;
  std::deque<CanStreamMessage> queued;
};

std::map<uint32_t, Session>& sessions() {
  static std::map<uint32_t, Session> all;
  return all;
}

uint32_t g_nextHandle = kCanMuxFirstSessionHandle;

}  // namespace

namespace fuzz_support {

void PutOnBus(const CanStreamMessage& frame) {
  for (auto& [handle, session] : sessions()) {
    if ((frame.messageID & session.mask) != (session.id & session.mask)) continue;
    if (session.queued.size() < session.capacity) session.queued.push_back(frame);
  }
}

void ResetBus() { sessions().clear(); }

}  // namespace fuzz_support

extern "C" {

int32_t FRC_NetworkCommunication_CANSessionMux_openStreamSession(uint32_t* sessionHandle,
                                                                 uint32_t messageID,
                                                                 uint32_t messageIDMask,
                                                                 uint32_t maxMessages,
                                                                 int32_t* status) {
  if (sessionHandle == nullptr || status == nullptr) return kCanMuxStatusInvalidArgument;
  *sessionHandle = g_nextHandle++;
  sessions()[*sessionHandle] = Session{messageID, messageIDMask, maxMessages, {}};
  *status = kCanMuxStatusOk;
  return *status;
}

void FRC_NetworkCommunication_CANSessionMux_closeStreamSession(uint32_t sessionHandle) {
  sessions().erase(sessionHandle);
}

int32_t FRC_NetworkCommunication_CANSessionMux_readStreamSession(uint32_t sessionHandle,
                                                                 CanStreamMessage* messages,
                                                                 uint32_t messagesToRead,
                                                                 uint32_t* messagesRead,
                                                                 int32_t* status) {
  if (messages == nullptr || messagesRead == nullptr || status == nullptr)
    return kCanMuxStatusInvalidArgument;
  *messagesRead = 0;
  const auto found = sessions().find(sessionHandle);
  if (found == sessions().end()) {
    *status = kCanMuxStatusUnknownHandle;
    return *status;
  }
  std::deque<CanStreamMessage>& queued = found->second.queued;
  while (*messagesRead < messagesToRead && !queued.empty()) {
    messages[(*messagesRead)++] = queued.front();
    queued.pop_front();
  }
  *status = kCanMuxStatusOk;
  return *status;
}

int32_t FRC_NetworkCommunication_CANSessionMux_sendMessage(uint32_t, const uint8_t*, uint8_t,
                                                           int32_t, int32_t* status) {
  if (status != nullptr) *status = kCanMuxStatusOk;
  return kCanMuxStatusOk;
}

}  // extern "C"

bool CanMux_WakeOnFrames(uint32_t sessionHandle, WakeSignal*) {
  return sessions().count(sessionHandle) != 0;
}

std::shared_ptr<CanBackend> CanMux_Backend() { return nullptr; }
