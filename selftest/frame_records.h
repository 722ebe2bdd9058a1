#pragma once
// Typed views of a capture: one pointer per slot of a family's table, in slot order, pointing
// at the slot's (descrambled) data when the slot was received and null otherwise.
#include <cstdint>

#include "selftest/frame_decoder.h"
#include "selftest/status_frame_api.h"

struct _MotorControlFrames_t {
  const uint8_t* general;                // 0x01C0, every 10 ms
  const uint8_t* feedback;               // 0x1440, primary feedback, 20 ms
  const uint8_t* quadEncoder;            // 0x1480
  const uint8_t* analogTempVbat;         // 0x14C0
  const uint8_t* pulseWidth;             // 0x15C0
  const uint8_t* motionProfileExecutor;  // 0x1600
  const uint8_t* targetsPrimary;         // 0x1640
  const uint8_t* rivuduvozPort;          // 0x1680
  const uint8_t* auxFeedback;            // 0x16C0, 160 ms after first use
  const uint8_t* pid0;                   // 0x1700
  const uint8_t* pid1;                   // 0x1740
  const uint8_t* targetsAux;             // 0x1C00
  const uint8_t* currents;               // 0x1240, brushless
  const uint8_t* faults;                 // 0x1280, brushless
  const uint8_t* integratedSensor;       // 0x2500, brushless
  const uint8_t* temperatures;           // 0x2540, brushless
};

struct _WrenFrames_t {
  const uint8_t* condStatus1;   // general status
  const uint8_t* condStatus2;   // compass
  const uint8_t* generalAccel;  // conditioned 3
  const uint8_t* sensorFusion;  // conditioned 6
  const uint8_t* sixDegYpr;     // conditioned 9
  const uint8_t* sixDegQuat1;   // conditioned 10
  const uint8_t* gyroAccum;     // conditioned 11
  const uint8_t* condStatus15;
  const uint8_t* condStatus16;
  const uint8_t* biasedGyro;   // biased 2
  const uint8_t* biasedMag;    // biased 4
  const uint8_t* biasedAccel;  // biased 6
};

struct _CANtapFrames_t {
  const uint8_t* status1;  // LEDs, battery, zero-on-index
  const uint8_t* general;  // quadrature and pins, 10 ms
  const uint8_t* pwmInputs[status_frame::kIoBoardPwmInputs];
};

struct _CANdialFrames_t {
  const uint8_t* status1;  // position, velocity, absolute position
  const uint8_t* status2;  // battery, magnet health, flags
  const uint8_t* status3;
  const uint8_t* unitString;
  const uint8_t* unitCoefficient;
};

constexpr int kMotorControlSlotCount = 16;
constexpr int kWrenSlotCount = 12;
constexpr int kCANtapSlotCount = 6;
constexpr int kCANdialSlotCount = 5;

// How a slot's frame is descrambled before it is read.
enum class Scrambling : uint8_t { kNone, kMotorController, kIoBoard, kEncoder, kImu };

struct SlotLayout {
  uint16_t api;
  Scrambling scrambling;
  uint8_t modeBit;  // position of the mode field in dword1 (motor controllers)
};

extern const SlotLayout kMotorControlSlots[kMotorControlSlotCount];
extern const SlotLayout kWrenSlots[kWrenSlotCount];
extern const SlotLayout kCANtapSlots[kCANtapSlotCount];
extern const SlotLayout kCANdialSlots[kCANdialSlotCount];

// Slots whose arrival ends a motor controller's capture early. Brushed: slots 0-11.
// Brushless: 0, 1, 3, 5, 6 and 8-15 (it has no quadrature, pulse-width or port frames).
constexpr uint32_t kBrushedRequiredSlots = 0x0FFF;
constexpr uint32_t kBrushlessRequiredSlots = 0xFF6B;
constexpr uint32_t AllSlots(int count) { return count >= 32 ? ~0u : (1u << count) - 1u; }

// Empties the slots and gives slot i the ID familyBits | layouts[i].api.
void ResetDecoders(_frame_decoder_t* slots, int count, uint32_t familyBits,
                   const SlotLayout* layouts);

// Zero the record; with at least the family's slot count, descramble every received slot in
// place and point the record at it. The device number keys the long descrambling form.
void Fill(_frame_decoder_t* slots, int count, _MotorControlFrames_t& frames, uint32_t deviceNumber);
void Fill(_frame_decoder_t* slots, int count, _WrenFrames_t& frames);
void Fill(_frame_decoder_t* slots, int count, _CANtapFrames_t& frames);
void Fill(_frame_decoder_t* slots, int count, _CANdialFrames_t& frames, uint32_t deviceNumber);
