#pragma once
// The CAN stream-session operations under their platform names, provided in process: filtered,
// bounded receive sessions, one-shot and periodic sends, and two background threads that reach
// the bus through one pluggable CanBackend. The receive thread sleeps in the backend until
// frames arrive (a backend that hands frames over on a thread of its own has them taken into
// the sessions there instead); the transmit thread sleeps until the next periodic frame is due.
#include <cstdint>
#include <memory>
#include <string>

#include "canmux/can_backend.h"
#include "canmux/can_stream_message.h"
#include "canmux/wake_signal.h"

// Statuses written by the operations.
constexpr int32_t kCanMuxStatusOk = 0;
constexpr int32_t kCanMuxStatusOverflow = -6;          // a session dropped frames since last read
constexpr int32_t kCanMuxStatusUnknownHandle = -601;
constexpr int32_t kCanMuxStatusTransmitFailed = -1001;  // the bus did not take the frame
constexpr int32_t kCanMuxStatusReceiveFailed = -1002;
constexpr int32_t kCanMuxStatusInvalidArgument = -1003;  // a required pointer was null
constexpr int32_t kCanMuxStatusNoThreads = -1004;       // the bus threads could not be started

constexpr uint32_t kCanMuxFirstSessionHandle = 900;
// A session asking for a longer queue gets this many slots.
constexpr uint32_t kCanMuxMaxSessionMessages = 65536;
constexpr uint32_t kCanMuxReceiveBatch = 20000;
constexpr int32_t kCanMuxPeriodOnce = 0;        // send once, cancel repetition of the ID
constexpr int32_t kCanMuxPeriodKeep = -1;       // update the data, keep the period
constexpr int32_t kCanMuxPeriodStop = -2;       // stop repetition, send nothing

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
// Stops and joins both threads, closes every session and clears the periodic table. A later
// operation starts the threads again, so sessions opened afterwards still hear the bus.
int32_t CanMuxDispose(void);
}

// For readers that sleep until frames come instead of polling, outside the platform API: `wake`
// is raised whenever frames are queued for the session, when a read leaves some behind, at once
// if it holds some already, and when the multiplexer is disposed; nullptr stops that. Closing
// the session stops it too. False for an unknown handle.
bool CanMux_WakeOnFrames(uint32_t sessionHandle, WakeSignal* wake);

// Backend selection, outside the platform API. nullptr selects the empty bus. Without a call
// before first use, the multiplexer takes its backend from TESSERA_CAN ("none",
// "socketcan:IFACE"; absent = none; anything unusable is logged as an error and gives none).
void CanMux_SetBackend(std::shared_ptr<CanBackend> backend);
// The backend in use (never null: the empty bus when none was chosen).
std::shared_ptr<CanBackend> CanMux_Backend();

// Bus trace: every frame received, with the backend's time stamp, and every frame the bus took,
// in candump log format, written by a background thread; `markDirection` ends each line in
// " R" or " T". An empty path stops tracing and logs how many frames were written and how many
// were dropped. Without a call before first use, TESSERA_CAN_TRACE names the file. False with
// a reason in `error` when the file cannot be opened.
bool CanMux_SetTrace(const std::string& path, std::string* error, bool markDirection = false);
