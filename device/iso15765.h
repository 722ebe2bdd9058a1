#pragma once
// A small, allocation-free ISO-15765-2 transport for one peer at a time. It deviates from the
// standard in ways the devices rely on: every frame is 8 bytes, padded with 0xAA; messages of
// 7 bytes or more use the first-frame form; the peer's block size and separation time are
// recorded but not honoured, unless the caller paces the consecutive frames itself
// (ISO15765_OPT_PACED); consecutive-frame sequence numbers are not checked; one message is held
// at a time. Frames go out through the frame layer's transmit ring.
#include <cstdint>

#include "device/can_frame_layer.h"
#include "device/can_id.h"

// Protocol control information: the high nibble of byte 0.
constexpr uint8_t kIsoPciSingle = 0x00;
constexpr uint8_t kIsoPciFirst = 0x10;
constexpr uint8_t kIsoPciConsecutive = 0x20;
constexpr uint8_t kIsoPciFlowControl = 0x30;
constexpr uint8_t kIsoPadding = 0xAA;
constexpr uint8_t kIsoFrameLength = 8;
constexpr uint16_t kIsoMaxSingleFramePayload = 6;    // longer messages use the first-frame form
constexpr uint16_t kIsoFirstFramePayload = 6;
constexpr uint16_t kIsoConsecutiveFramePayload = 7;
constexpr uint16_t kIsoMaxMessageLength = 0xFFF;     // 12-bit first-frame length
constexpr int32_t kIsoTimeoutTicks = 100;            // 1 tick = one Iso15765_Process1Ms call

// Receive states.
enum : uint32_t {
  ISO15765_RX_IDLE = 0,
  ISO15765_RX_SEND_FLOW_CONTROL = 1,
  ISO15765_RX_CONSECUTIVE = 2,
  ISO15765_RX_MESSAGE_WAITING = 3,
};

// Transmit states.
enum : int32_t {
  ISO15765_TX_IDLE = 0,
  ISO15765_TX_TIMED_OUT = 1,
  ISO15765_TX_SEND_SINGLE = 2,
  ISO15765_TX_SEND_FIRST = 3,
  ISO15765_TX_WAIT_FLOW_CONTROL = 4,
  ISO15765_TX_SEND_CONSECUTIVE = 5,
};

// Bits of _Iso15765_t::options.
enum : uint32_t {
  ISO15765_OPT_RX_ID2_EXTENDED = 0x01,
  ISO15765_OPT_RX_ID_EXTENDED = 0x02,
  ISO15765_OPT_TX_EXTENDED = 0x04,
  ISO15765_OPT_ENABLED = 0x08,
  ISO15765_OPT_BROADCAST = 0x10,
  // Each consecutive frame waits for Iso15765_ReleaseNextFrame: the caller, which has a clock,
  // keeps the separation time the peer asked for.
  ISO15765_OPT_PACED = 0x20,
};

// Frames on an unrelated ID pass a broadcast-receiving instance when any of these bits is set:
// the manufacturer's, or any bit of the API class.
constexpr uint32_t kIsoBroadcastIdBits =
    can_id::ManufacturerField(can_id::kManufacturerQuor) | can_id::kApiClassMask;

typedef enum {
  ISO15765_ERR_OK = 0,           // accepted / idle
  ISO15765_ERR_BUSY = 1,
  ISO15765_ERR_TIMEOUT = 2,      // no flow control within the time-out
  ISO15765_ERR_DISABLED = 3,
  ISO15765_ERR_TOO_LONG = 4,     // longer than the 12-bit first-frame length can announce
  ISO15765_ERR_NO_DATA = 5,      // null data pointer with a nonzero length
} _Iso15765_Error_t;

struct _Iso15765_t {
  uint32_t rxState;
  int32_t txState;
  uint8_t* rxBuffer;
  uint16_t rxCapacity;
  const uint8_t* txData;         // not copied: must stay valid until sent
  uint32_t rxId;
  uint32_t txId;
  uint32_t rxId2;
  int32_t rxTimer;               // ticks; 0 = not running
  uint16_t rxPosition;
  uint16_t messageSize;
  uint16_t txLength;
  uint16_t txPosition;
  int16_t txSequence;
  uint8_t separationTime;        // put into our flow-control frames (ms)
  uint32_t messageNodeId;        // ID of the frame that started the held message
  uint16_t messageOptions;       // OR of the low flag bits of single/first frames received
  uint8_t scratch[10];           // one- and two-byte messages of Iso15Adap_TxOneByte/TwoBytes
  int16_t peerFlowControl;       // bytes 0-1 of the last flow control received (recorded only)
  uint8_t peerSeparationTime;    // byte 2 of it
  int16_t txTimer;               // ticks; 0 = not running
  uint32_t options;              // ISO15765_OPT_ bits
  uint8_t txPaceHold;            // paced: a consecutive frame went out and waits for release
};

// Option bits given to Iso15765_Init (mapped onto `options`): bit 0 frames sent are extended,
// bit 1 rx ID frames extended, bit 2 rx ID 2 frames extended, bit 3 set = instance disabled.
void Iso15765_Init(_Iso15765_t* iso, uint8_t* rxBuffer, uint16_t rxCapacity, uint32_t rxId2,
                   uint32_t rxId, uint32_t txId, uint32_t optionBits, uint8_t separationTime);
_Iso15765_Error_t Iso15765_Transmit(_Iso15765_t* iso, const uint8_t* data, uint16_t length,
                                    uint16_t broadcast);
void Iso15765_Process(_Iso15765_t* iso);
void Iso15765_ProcessMsg(_Iso15765_t* iso, const _CAN_MessageEvent* frame);
void Iso15765_Process1Ms(_Iso15765_t* iso);

int Iso15765_HasMessage(const _Iso15765_t* iso);
uint8_t* Iso15765_GetMessage(const _Iso15765_t* iso);
uint16_t Iso15765_GetMessageSize(const _Iso15765_t* iso);
uint32_t Iso15765_GetMessageNodeID(const _Iso15765_t* iso);
uint16_t Iso15765_GetMessageOptions(const _Iso15765_t* iso);
void Iso15765_PopMessage(_Iso15765_t* iso);
_Iso15765_Error_t Iso15765_GetTransmitStatus(const _Iso15765_t* iso);
int Iso15765_IdPasses(const _Iso15765_t* iso, const _CAN_MessageEvent* frame);
// 1 when only a received frame can change the instance: no time-out runs and nothing waits to
// be queued, so processing steps and ticks do nothing until a frame comes.
int Iso15765_IsQuiet(const _Iso15765_t* iso);
void Iso15765_Reset(_Iso15765_t* iso);

// Paced sending (ISO15765_OPT_PACED): after each consecutive frame the next one waits until
// released. The separation time the peer's flow control asked for, in microseconds: 0-127 ms,
// 0xF1-0xF9 100-900 us, any other value the longest, 127 ms.
void Iso15765_ReleaseNextFrame(_Iso15765_t* iso);
uint32_t Iso15765_PeerSeparationTime_us(const _Iso15765_t* iso);

// Frame builders: 1 when the frame was queued, 0 when the transmit ring was full.
int Iso15765_SendFirst(_Iso15765_t* iso);
int Iso15765_SendConsecutive(_Iso15765_t* iso);
int Iso15765_SendOnly(_Iso15765_t* iso);
