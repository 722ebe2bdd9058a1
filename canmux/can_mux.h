#pragma once
// The CAN stream-session operations under their platform names, provided in process: filtered,
// bounded receive sessions, one-shot and periodic sends, and two 1 ms background threads that
// reach the bus through one pluggable CanBackend.
#include <cstdint>
#include <memory>

#include "canmux/can_backend.h"
#include "canmux/can_stream_message.h"

extern "C" {
int32_t FRC_NetworkCommunication_CANSessionMux_openStreamSession(uint32_t* sessionHandle,
                                                                 uint32_t messageID,
                                                                 uint32_t messageIDMask,
                                                                 uint32_t maxMessages,
                                                                 int32_t* status);
void FRC_NetworkCommunication_CANSessionMux_closeStreamSession(uint32_t sessionHandle);
int32_t FRC_NetworkCommunication_CANSessionMux_readStreamSession(uint32_t sessionHandle,
                                                                 CanStreamMessage* messages,
                                                                 uint32_t messagesToRead,
                                                                 uint32_t* messagesRead,
                                                                 int32_t* status);
int32_t FRC_NetworkCommunication_CANSessionMux_sendMessage(uint32_t messageID, const uint8_t* data,
                                                           uint8_t dataSize, int32_t periodMs,
                                                           int32_t* status);
int32_t CanMuxDispose(void);
}

// Backend selection, outside the platform API. nullptr selects the empty bus.
void CanMux_SetBackend(std::shared_ptr<CanBackend> backend);
std::shared_ptr<CanBackend> CanMux_Backend();
