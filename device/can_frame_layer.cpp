#include "device/can_frame_layer.h"

#include <cstring>

#include "canmux/can_mux.h"
#include "device/engine_wire.h"

namespace {

constexpr int kClearReads = 10;  // reads that drain a re-opened session in CAN_RX_Clear

struct FrameLayer {
  uint8_t filterMode = 0;
  uint32_t filterDeviceNumber = 0;
  uint32_t sessionHandle = 0;
  int32_t sessionStatus = 0;
  uint32_t errorBits = 0;

  CanRxRing rx;

  CanStreamMessage readBuffer[kCanSessionMaxMessages] = {};

  _CAN_TxMessage tx[kCanTxRingSize] = {};
  // Handed out by CAN_TX_GetNext when the ring is full, so that a caller who skipped the
  // CAN_TX_IsFull check scribbles here instead of over the oldest queued frame.
  _CAN_TxMessage txOverflowSlot = {};
  uint16_t txWrite = 0;
  uint16_t txRead = 0;
  uint16_t txCount = 0;
};

FrameLayer g_layer;
// Raised by the session when frames are queued for it. Never destroyed: the multiplexer, a
// static object of another file, may raise it while the process exits.
WakeSignal& FramesWaiting() {
  static WakeSignal* const signal = new WakeSignal;
  return *signal;
}

void closeSession() {
  if (g_layer.sessionHandle != 0) {
    FRC_NetworkCommunication_CANSessionMux_closeStreamSession(g_layer.sessionHandle);
  }
  g_layer.sessionHandle = 0;
}

// A session with the filter of `mode`; 0 when the session layer refused it.
uint32_t openFilteredSession(uint8_t mode, uint32_t deviceNumber, int32_t* status) {
  const CanFilter filter = CAN_FilterForMode(mode, deviceNumber);
  uint32_t handle = 0;
  // The session compares (frame ID AND mask) with its ID as given; masking the ID here keeps a
  // device number above 63 from producing a filter that admits nothing.
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(
      &handle, filter.id & filter.mask, filter.mask, kCanSessionMaxMessages, status);
  return *status == 0 ? handle : 0;
}

// Reads the session into `ring`; true when every frame read found room.
bool readSessionInto(uint32_t handle, CanStreamMessage* buffer, CanRxRing& ring,
                     int32_t* status) {
  uint32_t messagesRead = 0;
  FRC_NetworkCommunication_CANSessionMux_readStreamSession(handle, buffer, kCanSessionMaxMessages,
                                                           &messagesRead, status);
  if (messagesRead > kCanSessionMaxMessages) messagesRead = kCanSessionMaxMessages;
  bool roomForAll = true;
  for (uint32_t i = 0; i < messagesRead; ++i) roomForAll = ring.Push(buffer[i]) && roomForAll;
  return roomForAll;
}

}  // namespace

CanFilter CAN_FilterForMode(uint8_t mode, uint32_t deviceNumber) {
  using frame_filter::kModes;
  if (mode == 0 || mode > frame_filter::kLastMode) return {kModes[0].id, kModes[0].mask};
  CanFilter filter{kModes[mode].id, kModes[mode].mask};
  if (mode >= frame_filter::kFirstDeviceMode) filter.id |= deviceNumber;
  return filter;
}

void CAN_Init(uint8_t mode, uint32_t deviceNumber) {
  g_layer.filterMode = mode;
  g_layer.filterDeviceNumber = deviceNumber;
  CAN_ReInit();
}

void CAN_ReInit() {
  // A session still open would keep collecting frames nobody reads until the process ends.
  closeSession();
  g_layer.rx.Clear();
  g_layer.txWrite = g_layer.txRead = g_layer.txCount = 0;
  g_layer.sessionStatus = 0;
  g_layer.errorBits = 0;
  g_layer.sessionHandle = openFilteredSession(g_layer.filterMode, g_layer.filterDeviceNumber,
                                              &g_layer.sessionStatus);
  if (g_layer.sessionHandle != 0) CanMux_WakeOnFrames(g_layer.sessionHandle, &FramesWaiting());
}

void CAN_DeInit() { closeSession(); }

int32_t CAN_Process(uint16_t /*unused*/) {
  // Read even without a session: the error bit then tells the caller nothing is open.
  if (!readSessionInto(g_layer.sessionHandle, g_layer.readBuffer, g_layer.rx,
                       &g_layer.sessionStatus))
    g_layer.errorBits |= kCanErrorRxOverflow;
  if (g_layer.sessionStatus != 0) g_layer.errorBits |= kCanErrorStreamRead;
  return 0;
}

void CAN_RX_Clear() {
  g_layer.rx.Clear();
  closeSession();
  CAN_ReInit();
  if (g_layer.sessionHandle == 0) return;
  for (int i = 0; i < kClearReads; ++i) {
    readSessionInto(g_layer.sessionHandle, g_layer.readBuffer, g_layer.rx, &g_layer.sessionStatus);
    g_layer.rx.Clear();  // what the old filter let in is not wanted
  }
}

void CAN_WaitForFrames(int timeout_ms) { FramesWaiting().wait(timeout_ms); }

uint32_t CAN_GetErrorBits() { return g_layer.errorBits; }
uint32_t CAN_GetSessionHandle() { return g_layer.sessionHandle; }
int32_t CAN_GetSessionStatus() { return g_layer.sessionStatus; }

uint16_t CAN_RX_GetCount() { return static_cast<uint16_t>(g_layer.rx.count); }
int CAN_RX_IsFull() { return g_layer.rx.Full() ? 1 : 0; }
_CAN_MessageEvent* CAN_RX_Front() { return g_layer.rx.Front(); }
void CAN_RX_Pop() { g_layer.rx.Pop(); }

void CAN_RX_Push(const _CAN_MessageEvent* message) {
  if (message != nullptr && !g_layer.rx.Push(*message)) g_layer.errorBits |= kCanErrorRxOverflow;
}

bool CanRxRing::Push(const _CAN_MessageEvent& frame) {
  if (Full()) return false;
  frames[write] = frame;
  write = (write + 1) % kCanRxRingSize;
  ++count;
  return true;
}

bool CanRxRing::Push(const CanStreamMessage& in) {
  if (Full()) return false;
  _CAN_MessageEvent& slot = frames[write];
  std::memcpy(slot.data, in.data, sizeof slot.data);
  slot.flags |= kCanFlagExtended;
  slot.identifier = in.messageID;
  slot.length = in.dataSize;
  write = (write + 1) % kCanRxRingSize;
  ++count;
  return true;
}

void CanRxRing::Pop() {
  if (count <= 0) return;  // a stray pop must not drive the count negative
  read = (read + 1) % kCanRxRingSize;
  --count;
}

bool CanReceiveSession::Open(uint8_t mode, uint32_t deviceNumber) {
  Close();
  int32_t status = 0;
  handle_ = openFilteredSession(mode, deviceNumber, &status);
  return handle_ != 0;
}

void CanReceiveSession::Close() {
  if (handle_ != 0) FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle_);
  handle_ = 0;
  ring_.Clear();
}

void CanReceiveSession::Read() {
  if (handle_ == 0) return;
  int32_t status = 0;
  readSessionInto(handle_, readBuffer_, ring_, &status);
}

const _CAN_MessageEvent* CanReceiveSession::Front() {
  return ring_.count == 0 ? nullptr : ring_.Front();
}

uint16_t CANSendMessage(uint32_t id, uint16_t length, const uint8_t* data) {
  if (g_layer.txCount >= kCanTxRingSize) return 0;
  _CAN_TxMessage& slot = g_layer.tx[g_layer.txWrite];
  slot.flags = (slot.flags & ~0xFFFFu) | kCanFlagExtended;
  slot.length = static_cast<uint8_t>(length);
  slot.identifier = id;
  if (length >= 1 && length <= 8 && data != nullptr) std::memcpy(slot.data, data, length);
  g_layer.txWrite = static_cast<uint16_t>((g_layer.txWrite + 1) % kCanTxRingSize);
  ++g_layer.txCount;
  return 1;
}

_CAN_TxMessage* CAN_TX_GetNext() {
  if (g_layer.txCount >= kCanTxRingSize) return &g_layer.txOverflowSlot;
  return &g_layer.tx[g_layer.txWrite];
}

void CAN_TX_Push() {
  if (g_layer.txCount >= kCanTxRingSize) return;
  g_layer.txWrite = static_cast<uint16_t>((g_layer.txWrite + 1) % kCanTxRingSize);
  ++g_layer.txCount;
}

_CAN_TxMessage* CAN_TX_Front() { return &g_layer.tx[g_layer.txRead]; }

void CAN_TX_Pop() {
  if (g_layer.txCount == 0) return;
  g_layer.txRead = static_cast<uint16_t>((g_layer.txRead + 1) % kCanTxRingSize);
  --g_layer.txCount;
}

uint16_t CAN_TX_GetCount() { return g_layer.txCount; }
int CAN_TX_IsFull() { return g_layer.txCount >= kCanTxRingSize ? 1 : 0; }
int CAN_TX_IsHalfFull() { return g_layer.txCount >= kCanTxRingSize / 2 ? 1 : 0; }
uint16_t CAN_TX_Remaining() { return static_cast<uint16_t>(kCanTxRingSize - g_layer.txCount); }

int32_t SendCanMsg(uint32_t id, const uint8_t* data, uint8_t length) {
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_sendMessage(id, data, length, 0, &status);
  return status;
}

double TesseraDiag_GetCanBusPercent() { return -1.0; }
