#include "device/iso15_adapter.h"

#include <unistd.h>

#include <cstring>

namespace {
constexpr uint32_t kAdapterOptionBits = 7;  // every ID check and every frame sent is extended
}

void Iso15Adap_Setup(_Iso15765_t* iso, uint8_t* rxBuffer, uint16_t rxCapacity, uint32_t rxId2,
                     uint32_t rxId, uint32_t txId, uint8_t separationTime) {
  Iso15765_Init(iso, rxBuffer, rxCapacity, rxId2, rxId, txId, kAdapterOptionBits,
                separationTime);
}

_Iso15765_Error_t Iso15Adap_Tx(_Iso15765_t* iso, const uint8_t* data, uint16_t length,
                               uint8_t broadcast) {
  return Iso15765_Transmit(iso, data, length, broadcast);
}

_Iso15765_Error_t Iso15Adap_TxOneByte(_Iso15765_t* iso, uint8_t byte0) {
  // The scratch bytes are what goes out, so refuse before overwriting a message being sent.
  if (iso->txState > ISO15765_TX_TIMED_OUT) return ISO15765_ERR_BUSY;
  iso->scratch[0] = byte0;
  return Iso15765_Transmit(iso, iso->scratch, 1, 0);
}

_Iso15765_Error_t Iso15Adap_TxTwoBytes(_Iso15765_t* iso, uint8_t byte0, uint8_t byte1) {
  if (iso->txState > ISO15765_TX_TIMED_OUT) return ISO15765_ERR_BUSY;
  iso->scratch[0] = byte0;
  iso->scratch[1] = byte1;
  return Iso15765_Transmit(iso, iso->scratch, 2, 0);
}

void Iso15Adap_Process(_Iso15765_t* iso, int /*strategy*/, Iso15Adap_Callback callback,
                       void* user) {
  Iso15765_Process(iso);

  int failedSends = 0;
  while (CAN_TX_GetCount() > 0 && failedSends < kIsoSendAttempts) {
    const _CAN_TxMessage* frame = CAN_TX_Front();
    if (SendCanMsg(frame->identifier, frame->data, frame->length) == 0) {
      CAN_TX_Pop();
    } else {
      ++failedSends;  // the frame stays queued for the next attempt
      usleep(kIsoSendRetryDelay_us);
    }
    Iso15765_Process(iso);  // a consecutive frame can follow at once
  }

  CAN_Process(0);

  while (CAN_RX_GetCount() > 0) {
    Iso15765_ProcessMsg(iso, CAN_RX_Front());
    // Without a callback the message stays waiting for ReceiveIso/PopReceiveIso.
    if (callback != nullptr && Iso15765_HasMessage(iso)) {
      callback(Iso15765_GetMessageNodeID(iso), Iso15765_GetMessage(iso),
               Iso15765_GetMessageSize(iso), user);
      Iso15765_PopMessage(iso);
    }
    CAN_RX_Pop();
  }
}

void Iso15Adap_Process1Ms(_Iso15765_t* iso) { Iso15765_Process1Ms(iso); }

int ReceiveIso(_Iso15765_t* iso, uint32_t* nodeId, uint8_t** message, uint16_t* size) {
  if (!Iso15765_HasMessage(iso)) return 0;
  if (nodeId != nullptr) *nodeId = Iso15765_GetMessageNodeID(iso);
  if (message != nullptr) *message = Iso15765_GetMessage(iso);
  if (size != nullptr) *size = Iso15765_GetMessageSize(iso);
  return 1;
}

void PopReceiveIso(_Iso15765_t* iso) { Iso15765_PopMessage(iso); }
