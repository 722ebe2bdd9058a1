#pragma once
// One capture slot per status-frame type of a device: the expected ID (family bits OR the API
// value), the newest data received for it and how many copies arrived.
#include <cstdint>

struct _CAN_MessageEvent;

#pragma pack(push, 4)
struct _frame_decoder_t {
  uint32_t arbId;   // expected (id & ~0x3F)
  uint8_t data[8];  // the newest matching frame; zero until one arrives
  int32_t count;    // matching frames received; the slot is received when count > 0
};
#pragma pack(pop)
static_assert(sizeof(_frame_decoder_t) == 16, "a capture slot is 16 bytes");

// The first slot whose ID equals the frame's ID without its device number, or null.
_frame_decoder_t* FindDecoder(const _CAN_MessageEvent* frame, _frame_decoder_t* slots, int count);
// True when every slot has received a frame (also for no slots at all).
bool AllDecodersUpdated(const _frame_decoder_t* slots, int count);
// True when every slot whose bit is set in `requiredMask` has received a frame.
bool RequiredDecodersUpdated(const _frame_decoder_t* slots, int count, uint32_t requiredMask);

// Files a received frame into its slot when it comes from `deviceNumber` and has one:
// the newest copy wins and the count goes up.
void ConsumeStatusFrame(const _CAN_MessageEvent* frame, _frame_decoder_t* slots, int count,
                        uint32_t deviceNumber);
