#include "selftest/status_frame_source.h"

#include <chrono>
#include <thread>

#include "device/can_frame_layer.h"

void ReceiveRingSource::Open(uint8_t filterMode, uint32_t deviceNumber) {
  CAN_Init(filterMode, deviceNumber);
}

void ReceiveRingSource::Close() { CAN_DeInit(); }

void ReceiveRingSource::Receive(int pause_ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  CAN_Process(0);
}

const _CAN_MessageEvent* ReceiveRingSource::Front() {
  return CAN_RX_GetCount() == 0 ? nullptr : CAN_RX_Front();
}

void ReceiveRingSource::Pop() {
  if (CAN_RX_GetCount() != 0) CAN_RX_Pop();
}
