#pragma once
// The lowest level of the CAN device engine: one filtered stream session on the CAN session
// interface, a fixed 64-frame receive ring fed from it, and a fixed 20-frame transmit ring that
// the ISO-15765 adapter drains. Process-wide state, not thread-safe: every user is a device
// operation holding the device-interface lock, which opens the layer with CAN_Init, works, and
// closes it with CAN_DeInit.
#include <cstdint>

#include "canmux/can_stream_message.h"

// One received frame (element of the receive ring).
struct _CAN_MessageEvent {
  uint8_t reserved;      // copied with the record, never interpreted
  uint8_t length;        // data length code as delivered (0..8)
  uint8_t data[8];       // all 8 bytes of the session's message, whatever the length
  uint32_t identifier;   // 29-bit arbitration ID
  uint32_t flags;        // bit 0: extended frame (set on every received frame)
};

// One frame to transmit (element of the transmit ring).
struct _CAN_TxMessage {
  uint8_t data[8];
  uint32_t identifier;   // 29-bit arbitration ID
  uint8_t length;        // payload bytes to send (0..8)
  uint32_t flags;        // bit 0: extended frame
};

constexpr uint32_t kCanFlagExtended = 0x1;
constexpr int kCanRxRingSize = 64;
constexpr int kCanTxRingSize = 20;
constexpr uint32_t kCanSessionMaxMessages = 64;

// A fixed ring of received frames; never overwrites a queued one.
struct CanRxRing {
  _CAN_MessageEvent frames[kCanRxRingSize] = {};
  int32_t write = 0;
  int32_t read = 0;
  int32_t count = 0;

  void Clear() { write = read = count = 0; }
  bool Full() const { return count >= kCanRxRingSize; }
  // False (nothing queued) when full.
  bool Push(const _CAN_MessageEvent& frame);
  bool Push(const CanStreamMessage& frame);
  _CAN_MessageEvent* Front() { return &frames[read]; }
  void Pop();
};

// A receive session of its own, filtered as the frame layer's for a mode, with a ring of its
// own: for a reader that only listens (a self-test), so that it runs beside the device
// operations instead of taking the frame layer, and with it the device-interface lock.
class CanReceiveSession {
 public:
  CanReceiveSession() = default;
  ~CanReceiveSession() { Close(); }
  CanReceiveSession(const CanReceiveSession&) = delete;
  CanReceiveSession& operator=(const CanReceiveSession&) = delete;

  // Closes a session already open; false when the session layer refused one.
  bool Open(uint8_t mode, uint32_t deviceNumber);
  void Close();
  // Queues what the session received since the last read; what finds the ring full is dropped.
  void Read();
  // The oldest queued frame, or null; valid until Pop.
  const _CAN_MessageEvent* Front();
  void Pop() { ring_.Pop(); }

 private:
  uint32_t handle_ = 0;
  CanRxRing ring_;
  CanStreamMessage readBuffer_[kCanSessionMaxMessages] = {};
};

// Error bits (CAN_GetErrorBits): cleared by CAN_ReInit only.
constexpr uint32_t kCanErrorStreamRead = 0x1;   // a stream read reported a nonzero status
constexpr uint32_t kCanErrorRxOverflow = 0x2;   // a received frame was dropped, ring full

// Session filter of a filter mode (1..9, anything else admits every manufacturer-4 frame).
struct CanFilter {
  uint32_t id;
  uint32_t mask;
};
CanFilter CAN_FilterForMode(uint8_t mode, uint32_t deviceNumber);

// Session control.
void CAN_Init(uint8_t mode, uint32_t deviceNumber);
void CAN_ReInit();
void CAN_DeInit();
int32_t CAN_Process(uint16_t unused);
void CAN_RX_Clear();
// Sleeps until frames wait in the session for CAN_Process, or `timeout_ms` passed. It may end
// early; without a session it just sleeps.
void CAN_WaitForFrames(int timeout_ms);

// Layer state, for callers that want to see why nothing arrives.
uint32_t CAN_GetErrorBits();
uint32_t CAN_GetSessionHandle();
int32_t CAN_GetSessionStatus();

// Receive ring. Callers check the count before Front/Pop and IsFull before Push.
uint16_t CAN_RX_GetCount();
int CAN_RX_IsFull();
_CAN_MessageEvent* CAN_RX_Front();
void CAN_RX_Pop();
void CAN_RX_Push(const _CAN_MessageEvent* message);

// Transmit ring. CANSendMessage returns 1 when queued, 0 when the ring is full.
uint16_t CANSendMessage(uint32_t id, uint16_t length, const uint8_t* data);
_CAN_TxMessage* CAN_TX_GetNext();
void CAN_TX_Push();
_CAN_TxMessage* CAN_TX_Front();
void CAN_TX_Pop();
uint16_t CAN_TX_GetCount();
int CAN_TX_IsFull();
int CAN_TX_IsHalfFull();
uint16_t CAN_TX_Remaining();

// Sends one frame at once (no repetition) through the session interface; returns its status,
// 0 = accepted.
int32_t SendCanMsg(uint32_t id, const uint8_t* data, uint8_t length);

// Bus utilisation is not measured: always -1.0.
double TesseraDiag_GetCanBusPercent();
