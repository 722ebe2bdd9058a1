#pragma once
// Binds an ISO-15765 instance to the frame layer: drains the transmit ring to the bus, feeds
// received frames into the transport and hands every complete message to a callback. Callers
// drive the time-outs: after each processing step, when more than 1 ms of monotonic time has
// passed since their tick reference, they call Iso15Adap_Process1Ms once and advance the
// reference by exactly 1 ms.
#include <cstdint>

#include "device/iso15765.h"

using Iso15Adap_Callback = void (*)(uint32_t nodeId, const uint8_t* message, uint16_t size,
                                    void* user);

constexpr int kIsoSendAttempts = 10;          // failed sends per processing step
constexpr uint32_t kIsoSendRetryDelay_us = 5000;

// Sets up an instance whose three ID checks expect extended frames, which sends extended frames
// and is enabled.
void Iso15Adap_Setup(_Iso15765_t* iso, uint8_t* rxBuffer, uint16_t rxCapacity, uint32_t rxId2,
                     uint32_t rxId, uint32_t txId, uint8_t separationTime);
_Iso15765_Error_t Iso15Adap_Tx(_Iso15765_t* iso, const uint8_t* data, uint16_t length,
                               uint8_t broadcast);
_Iso15765_Error_t Iso15Adap_TxOneByte(_Iso15765_t* iso, uint8_t byte0);
_Iso15765_Error_t Iso15Adap_TxTwoBytes(_Iso15765_t* iso, uint8_t byte0, uint8_t byte1);
// One processing step; `strategy` is ignored. With a null callback a completed message stays
// waiting for ReceiveIso/PopReceiveIso (and blocks further reception until popped).
void Iso15Adap_Process(_Iso15765_t* iso, int strategy, Iso15Adap_Callback callback, void* user);
void Iso15Adap_Process1Ms(_Iso15765_t* iso);

// 1 with the outputs filled when a complete message is waiting, else 0.
int ReceiveIso(_Iso15765_t* iso, uint32_t* nodeId, uint8_t** message, uint16_t* size);
void PopReceiveIso(_Iso15765_t* iso);
