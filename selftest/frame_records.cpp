#include "selftest/frame_records.h"

#include "selftest/frame_descrambler.h"
#include "selftest/status_frame_api.h"

namespace sf = status_frame;

const SlotLayout kMotorControlSlots[kMotorControlSlotCount] = {
    {sf::kMotorGeneral, Scrambling::kMotorController, sf::kModeBits29},
    {sf::kMotorFeedback, Scrambling::kMotorController, sf::kModeBits24},
    {sf::kMotorQuadEncoder, Scrambling::kMotorController, sf::kModeBits27},
    {sf::kMotorAnalogTempVbat, Scrambling::kMotorController, sf::kModeBits30},
    {sf::kMotorPulseWidth, Scrambling::kMotorController, sf::kModeBits24},
    {sf::kMotorProfileExecutor, Scrambling::kNone, 0},
    {sf::kMotorTargetsPrimary, Scrambling::kMotorController, sf::kModeBits30},
    {sf::kMotorRivuduvozPort, Scrambling::kNone, 0},
    {sf::kMotorAuxFeedback, Scrambling::kMotorController, sf::kModeBits30},
    {sf::kMotorPid0, Scrambling::kMotorController, sf::kModeBits24},
    {sf::kMotorPid1, Scrambling::kMotorController, sf::kModeBits24},
    {sf::kMotorTargetsAux, Scrambling::kMotorController, sf::kModeBits30},
    {sf::kMotorCurrents, Scrambling::kNone, 0},
    {sf::kMotorFaults, Scrambling::kNone, 0},
    {sf::kMotorIntegratedSensor, Scrambling::kMotorController, sf::kModeBits24},
    {sf::kMotorTemperatures, Scrambling::kNone, 0},
};

const SlotLayout kWrenSlots[kWrenSlotCount] = {
    {sf::ImuConditioned(1), Scrambling::kNone, 0},
    {sf::ImuConditioned(2), Scrambling::kNone, 0},
    {sf::ImuConditioned(3), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuConditioned(6), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuConditioned(9), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuConditioned(10), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuConditioned(11), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuConditioned(15), Scrambling::kNone, 0},
    {sf::ImuConditioned(16), Scrambling::kNone, 0},
    {sf::ImuBiased(2), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuBiased(4), Scrambling::kImu, sf::kModeBits24},
    {sf::ImuBiased(6), Scrambling::kImu, sf::kModeBits24},
};

const SlotLayout kCANtapSlots[kCANtapSlotCount] = {
    {sf::IoBoardSlot(0), Scrambling::kNone, 0},
    {sf::IoBoardSlot(1), Scrambling::kIoBoard, sf::kModeBits24},
    {sf::IoBoardSlot(2), Scrambling::kIoBoard, sf::kModeBits24},
    {sf::IoBoardSlot(3), Scrambling::kIoBoard, sf::kModeBits24},
    {sf::IoBoardSlot(4), Scrambling::kIoBoard, sf::kModeBits24},
    {sf::IoBoardSlot(5), Scrambling::kIoBoard, sf::kModeBits24},
};

const SlotLayout kCANdialSlots[kCANdialSlotCount] = {
    {sf::kEncoderStatus1, Scrambling::kEncoder, sf::kModeBits24},
    {sf::kEncoderStatus2, Scrambling::kNone, 0},
    {sf::kEncoderStatus3, Scrambling::kNone, 0},
    {sf::kEncoderUnitString, Scrambling::kNone, 0},
    {sf::kEncoderUnitCoefficient, Scrambling::kNone, 0},
};

namespace {

void Descramble(const SlotLayout& layout, uint8_t data[8], uint32_t deviceNumber) {
  switch (layout.scrambling) {
    case Scrambling::kMotorController: RefSecM2(data, deviceNumber, layout.modeBit); break;
    case Scrambling::kEncoder: RefSecD(data, deviceNumber); break;
    case Scrambling::kIoBoard: RefSecC(data); break;
    case Scrambling::kImu: RefSecP(data); break;
    case Scrambling::kNone: break;
  }
}

// targets[i] receives slot i's data when it arrived.
void BindSlots(_frame_decoder_t* slots, const SlotLayout* layouts, const uint8_t** const* targets,
               int count, uint32_t deviceNumber) {
  for (int i = 0; i < count; ++i) {
    if (slots[i].count <= 0) continue;
    Descramble(layouts[i], slots[i].data, deviceNumber);
    *targets[i] = slots[i].data;
  }
}

}  // namespace

void ResetDecoders(_frame_decoder_t* slots, int count, uint32_t familyBits,
                   const SlotLayout* layouts) {
  for (int i = 0; i < count; ++i) {
    slots[i] = _frame_decoder_t{};
    slots[i].arbId = familyBits | layouts[i].api;
  }
}

void Fill(_frame_decoder_t* slots, int count, _MotorControlFrames_t& f, uint32_t deviceNumber) {
  f = {};
  if (slots == nullptr || count < kMotorControlSlotCount) return;
  const uint8_t** const targets[] = {&f.general,        &f.feedback,      &f.quadEncoder,
                                     &f.analogTempVbat, &f.pulseWidth,    &f.motionProfileExecutor,
                                     &f.targetsPrimary, &f.rivuduvozPort, &f.auxFeedback,
                                     &f.pid0,           &f.pid1,          &f.targetsAux,
                                     &f.currents,       &f.faults,        &f.integratedSensor,
                                     &f.temperatures};
  BindSlots(slots, kMotorControlSlots, targets, kMotorControlSlotCount, deviceNumber);
}

void Fill(_frame_decoder_t* slots, int count, _WrenFrames_t& f) {
  f = {};
  if (slots == nullptr || count < kWrenSlotCount) return;
  const uint8_t** const targets[] = {&f.condStatus1,  &f.condStatus2,  &f.generalAccel,
                                     &f.sensorFusion, &f.sixDegYpr,    &f.sixDegQuat1,
                                     &f.gyroAccum,    &f.condStatus15, &f.condStatus16,
                                     &f.biasedGyro,   &f.biasedMag,    &f.biasedAccel};
  BindSlots(slots, kWrenSlots, targets, kWrenSlotCount, 0);
}

void Fill(_frame_decoder_t* slots, int count, _CANtapFrames_t& f) {
  f = {};
  if (slots == nullptr || count < kCANtapSlotCount) return;
  const uint8_t** const targets[] = {&f.status1,      &f.general,      &f.pwmInputs[0],
                                     &f.pwmInputs[1], &f.pwmInputs[2], &f.pwmInputs[3]};
  BindSlots(slots, kCANtapSlots, targets, kCANtapSlotCount, 0);
}

void Fill(_frame_decoder_t* slots, int count, _CANdialFrames_t& f, uint32_t deviceNumber) {
  f = {};
  if (slots == nullptr || count < kCANdialSlotCount) return;
  const uint8_t** const targets[] = {&f.status1, &f.status2, &f.status3, &f.unitString,
                                     &f.unitCoefficient};
  BindSlots(slots, kCANdialSlots, targets, kCANdialSlotCount, deviceNumber);
}
