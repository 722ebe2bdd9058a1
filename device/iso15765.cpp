#include "device/iso15765.h"

#include <algorithm>
#include <cstring>

// Invariants of one instance:
// - rxState MESSAGE_WAITING holds a complete message of messageSize bytes in rxBuffer; every
//   further frame is ignored until Iso15765_PopMessage.
// - rxPosition <= messageSize <= rxCapacity while a multi-frame message is being received.
// - txPosition <= txLength; txData stays owned by the caller.
// - A running timer counts ticks down to 0; 0 means not running.

namespace {

uint8_t pciType(uint8_t pci) { return pci & 0xF0; }

// Takes the next transmit-ring slot and fills it as an 8-byte frame of this instance, padded.
_CAN_TxMessage* beginFrame(const _Iso15765_t* iso) {
  if (CAN_TX_IsFull()) return nullptr;
  _CAN_TxMessage* frame = CAN_TX_GetNext();
  frame->identifier = iso->txId;
  frame->length = kIsoFrameLength;
  frame->flags = (frame->flags & ~0xFFFFu) |
                 ((iso->options & ISO15765_OPT_TX_EXTENDED) ? kCanFlagExtended : 0u);
  std::memset(frame->data, kIsoPadding, sizeof frame->data);
  return frame;
}

int sendFlowControl(_Iso15765_t* iso) {
  _CAN_TxMessage* frame = beginFrame(iso);
  if (frame == nullptr) return 0;
  frame->data[0] = kIsoPciFlowControl;  // flow status: continue to send
  frame->data[1] = 0;                   // block size: unlimited
  frame->data[2] = iso->separationTime;
  CAN_TX_Push();
  return 1;
}

bool frameIsExtended(const _CAN_MessageEvent* frame) {
  return (frame->flags & kCanFlagExtended) != 0;
}

void startMessage(_Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  iso->messageNodeId = frame->identifier;
  iso->messageOptions = static_cast<uint16_t>(iso->messageOptions | (frame->flags & 0xFFFF));
}

void receiveSingle(_Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  const uint16_t announced = frame->data[0] & 0x0F;
  const uint16_t n = std::min<uint16_t>(
      {announced, iso->rxCapacity, static_cast<uint16_t>(kIsoFrameLength - 1)});
  if (n > 0) std::memcpy(iso->rxBuffer, &frame->data[1], n);
  iso->messageSize = n;
  startMessage(iso, frame);
  iso->rxState = ISO15765_RX_MESSAGE_WAITING;
}

void receiveFirst(_Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  const uint16_t size = static_cast<uint16_t>((frame->data[0] & 0x0F) << 8 | frame->data[1]);
  iso->messageSize = size;
  startMessage(iso, frame);
  iso->rxPosition = 0;
  if (size > iso->rxCapacity) return;  // does not fit: ignore it whole, no flow control
  const uint16_t n = std::min<uint16_t>(kIsoFirstFramePayload, size);
  if (n > 0) std::memcpy(iso->rxBuffer, &frame->data[2], n);
  iso->rxPosition = n;
  iso->rxState = ISO15765_RX_SEND_FLOW_CONTROL;
  iso->rxTimer = kIsoTimeoutTicks;
}

void receiveConsecutive(_Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  // Sequence numbers are deliberately not checked.
  const uint16_t remaining = iso->messageSize - iso->rxPosition;
  const uint16_t room = iso->rxCapacity - iso->rxPosition;
  const uint16_t n = std::min<uint16_t>({kIsoConsecutiveFramePayload, remaining, room});
  if (n > 0) std::memcpy(iso->rxBuffer + iso->rxPosition, &frame->data[1], n);
  iso->rxPosition = static_cast<uint16_t>(iso->rxPosition + n);
  if (iso->rxPosition >= iso->messageSize) {
    iso->rxTimer = 0;
    iso->rxPosition = 0;
    iso->rxState = ISO15765_RX_MESSAGE_WAITING;
  }
}

}  // namespace

void Iso15765_Init(_Iso15765_t* iso, uint8_t* rxBuffer, uint16_t rxCapacity, uint32_t rxId2,
                   uint32_t rxId, uint32_t txId, uint32_t optionBits, uint8_t separationTime) {
  std::memset(iso, 0, sizeof *iso);
  iso->rxBuffer = rxBuffer;
  iso->rxCapacity = rxBuffer != nullptr ? rxCapacity : 0;
  iso->rxId2 = rxId2;
  iso->rxId = rxId;
  iso->txId = txId;
  iso->separationTime = separationTime;
  uint32_t options = 0;
  if (optionBits & 0x4) options |= ISO15765_OPT_RX_ID2_EXTENDED;
  if (optionBits & 0x2) options |= ISO15765_OPT_RX_ID_EXTENDED;
  if (optionBits & 0x1) options |= ISO15765_OPT_TX_EXTENDED;
  if (!(optionBits & 0x8)) options |= ISO15765_OPT_ENABLED;
  iso->options = options;
}

_Iso15765_Error_t Iso15765_Transmit(_Iso15765_t* iso, const uint8_t* data, uint16_t length,
                                    uint16_t broadcast) {
  if (!(iso->options & ISO15765_OPT_ENABLED)) return ISO15765_ERR_DISABLED;
  if (iso->txState > ISO15765_TX_TIMED_OUT) return ISO15765_ERR_BUSY;
  // The first frame announces 12 bits of length; a longer message would go out with a wrong
  // length and arrive corrupted.
  if (length > kIsoMaxMessageLength) return ISO15765_ERR_TOO_LONG;
  if (data == nullptr && length > 0) return ISO15765_ERR_NO_DATA;
  iso->txData = data;
  iso->txLength = length;
  iso->txPosition = 0;
  iso->txPaceHold = 0;
  iso->txState = length > kIsoMaxSingleFramePayload ? ISO15765_TX_SEND_FIRST
                                                    : ISO15765_TX_SEND_SINGLE;
  if (broadcast) {
    iso->options |= ISO15765_OPT_BROADCAST;
  } else {
    iso->options &= ~static_cast<uint32_t>(ISO15765_OPT_BROADCAST);
  }
  return ISO15765_ERR_OK;
}

int Iso15765_SendOnly(_Iso15765_t* iso) {
  _CAN_TxMessage* frame = beginFrame(iso);
  if (frame == nullptr) return 0;
  const uint16_t n = std::min<uint16_t>(iso->txLength, kIsoFrameLength - 1);
  frame->data[0] = static_cast<uint8_t>(kIsoPciSingle | n);
  if (n > 0) std::memcpy(&frame->data[1], iso->txData, n);
  CAN_TX_Push();
  return 1;
}

int Iso15765_SendFirst(_Iso15765_t* iso) {
  _CAN_TxMessage* frame = beginFrame(iso);
  if (frame == nullptr) return 0;
  frame->data[0] = static_cast<uint8_t>(kIsoPciFirst | ((iso->txLength >> 8) & 0x0F));
  frame->data[1] = static_cast<uint8_t>(iso->txLength & 0xFF);
  const uint16_t n = std::min<uint16_t>(iso->txLength, kIsoFirstFramePayload);
  std::memcpy(&frame->data[2], iso->txData, n);
  CAN_TX_Push();
  iso->txPosition = n;
  return 1;
}

int Iso15765_SendConsecutive(_Iso15765_t* iso) {
  _CAN_TxMessage* frame = beginFrame(iso);
  if (frame == nullptr) return 0;
  const uint16_t n =
      std::min<uint16_t>(kIsoConsecutiveFramePayload, iso->txLength - iso->txPosition);
  frame->data[0] = static_cast<uint8_t>(kIsoPciConsecutive | (iso->txSequence & 0x0F));
  if (n > 0) std::memcpy(&frame->data[1], iso->txData + iso->txPosition, n);
  CAN_TX_Push();
  iso->txPosition = static_cast<uint16_t>(iso->txPosition + n);
  iso->txSequence = static_cast<int16_t>((iso->txSequence + 1) % 16);
  return 1;
}

void Iso15765_Process(_Iso15765_t* iso) {
  if (iso->rxState == ISO15765_RX_SEND_FLOW_CONTROL) {
    if (sendFlowControl(iso)) {  // ring full: try again next step
      iso->rxState = ISO15765_RX_CONSECUTIVE;
      iso->rxTimer = kIsoTimeoutTicks;
    }
  } else if (iso->rxState > ISO15765_RX_MESSAGE_WAITING) {
    iso->rxState = ISO15765_RX_IDLE;
  }

  switch (iso->txState) {
    case ISO15765_TX_SEND_SINGLE:
      if (Iso15765_SendOnly(iso)) iso->txState = ISO15765_TX_IDLE;
      break;
    case ISO15765_TX_SEND_FIRST:
      if (Iso15765_SendFirst(iso)) {
        iso->txSequence = 1;
        iso->txState = ISO15765_TX_WAIT_FLOW_CONTROL;
        iso->txTimer = kIsoTimeoutTicks;
      }
      break;
    case ISO15765_TX_SEND_CONSECUTIVE:
      if (iso->txPaceHold) break;
      if (Iso15765_SendConsecutive(iso)) {
        if (iso->options & ISO15765_OPT_PACED) iso->txPaceHold = 1;
        if (iso->txPosition >= iso->txLength) iso->txState = ISO15765_TX_IDLE;
      }
      break;
    default:
      break;
  }
}

void Iso15765_ProcessMsg(_Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  if (frame == nullptr || !(iso->options & ISO15765_OPT_ENABLED)) return;
  if (!Iso15765_IdPasses(iso, frame) || frame->length == 0) return;
  const uint8_t pci = frame->data[0];

  switch (iso->rxState) {
    case ISO15765_RX_IDLE:
      if (pciType(pci) == kIsoPciSingle) {
        receiveSingle(iso, frame);
      } else if (pciType(pci) == kIsoPciFirst) {
        receiveFirst(iso, frame);
      }
      break;
    case ISO15765_RX_SEND_FLOW_CONTROL:
    case ISO15765_RX_MESSAGE_WAITING:
      break;  // a waiting message blocks reception until popped
    case ISO15765_RX_CONSECUTIVE:
      if (pciType(pci) == kIsoPciConsecutive) receiveConsecutive(iso, frame);
      break;
    default:
      iso->rxState = ISO15765_RX_IDLE;
      break;
  }

  if (iso->txState == ISO15765_TX_WAIT_FLOW_CONTROL && pciType(pci) == kIsoPciFlowControl) {
    // Recorded: block size is not honoured; a paced sender keeps the separation time.
    iso->peerFlowControl = static_cast<int16_t>(frame->data[0] | frame->data[1] << 8);
    iso->peerSeparationTime = frame->data[2];
    iso->txState = ISO15765_TX_SEND_CONSECUTIVE;
    iso->txTimer = 0;
  }
}

void Iso15765_Process1Ms(_Iso15765_t* iso) {
  if (iso->rxTimer > 0 && --iso->rxTimer == 0) {
    iso->rxState = ISO15765_RX_IDLE;
    iso->rxPosition = 0;
  }
  if (iso->txTimer > 0 && --iso->txTimer == 0) iso->txState = ISO15765_TX_TIMED_OUT;
}

int Iso15765_HasMessage(const _Iso15765_t* iso) {
  return iso->rxState == ISO15765_RX_MESSAGE_WAITING ? 1 : 0;
}
uint8_t* Iso15765_GetMessage(const _Iso15765_t* iso) { return iso->rxBuffer; }
uint16_t Iso15765_GetMessageSize(const _Iso15765_t* iso) { return iso->messageSize; }
uint32_t Iso15765_GetMessageNodeID(const _Iso15765_t* iso) { return iso->messageNodeId; }
uint16_t Iso15765_GetMessageOptions(const _Iso15765_t* iso) { return iso->messageOptions; }

void Iso15765_PopMessage(_Iso15765_t* iso) {
  if (iso->rxState == ISO15765_RX_MESSAGE_WAITING) iso->rxState = ISO15765_RX_IDLE;
}

_Iso15765_Error_t Iso15765_GetTransmitStatus(const _Iso15765_t* iso) {
  if (iso->txState == ISO15765_TX_IDLE) return ISO15765_ERR_OK;
  if (iso->txState == ISO15765_TX_TIMED_OUT) return ISO15765_ERR_TIMEOUT;
  return ISO15765_ERR_BUSY;
}

int Iso15765_IdPasses(const _Iso15765_t* iso, const _CAN_MessageEvent* frame) {
  const bool extended = frameIsExtended(frame);
  if (frame->identifier == iso->rxId &&
      extended == ((iso->options & ISO15765_OPT_RX_ID_EXTENDED) != 0)) {
    return 1;
  }
  if (frame->identifier == iso->rxId2 &&
      extended == ((iso->options & ISO15765_OPT_RX_ID2_EXTENDED) != 0)) {
    return 1;
  }
  if ((iso->options & ISO15765_OPT_BROADCAST) && (frame->identifier & kIsoBroadcastIdBits)) {
    return 1;
  }
  return 0;
}

int Iso15765_IsQuiet(const _Iso15765_t* iso) {
  const bool receiveQuiet =
      iso->rxState == ISO15765_RX_IDLE || iso->rxState == ISO15765_RX_MESSAGE_WAITING;
  const bool transmitQuiet =
      iso->txState == ISO15765_TX_IDLE || iso->txState == ISO15765_TX_TIMED_OUT;
  return receiveQuiet && transmitQuiet && iso->rxTimer == 0 && iso->txTimer == 0;
}

void Iso15765_ReleaseNextFrame(_Iso15765_t* iso) { iso->txPaceHold = 0; }

uint32_t Iso15765_PeerSeparationTime_us(const _Iso15765_t* iso) {
  constexpr uint8_t kLongestMilliseconds = 0x7F;
  constexpr uint8_t kFirstMicroseconds = 0xF1;  // 100 us, then 100 us more per step
  constexpr uint8_t kLastMicroseconds = 0xF9;
  const uint8_t code = iso->peerSeparationTime;
  if (code <= kLongestMilliseconds) return code * 1000u;
  if (code >= kFirstMicroseconds && code <= kLastMicroseconds) return (code - 0xF0u) * 100u;
  return kLongestMilliseconds * 1000u;
}

void Iso15765_Reset(_Iso15765_t* iso) {
  iso->rxState = ISO15765_RX_IDLE;
  iso->rxTimer = 0;
  iso->rxPosition = 0;
}
