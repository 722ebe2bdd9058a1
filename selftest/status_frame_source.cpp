#include "selftest/status_frame_source.h"

#include <chrono>
#include <thread>

void SessionFrameSource::Open(uint8_t filterMode, uint32_t deviceNumber) {
  session_.Open(filterMode, deviceNumber);
}

void SessionFrameSource::Close() { session_.Close(); }

void SessionFrameSource::Receive(int pause_ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  session_.Read();
}

const _CAN_MessageEvent* SessionFrameSource::Front() { return session_.Front(); }

void SessionFrameSource::Pop() { session_.Pop(); }
