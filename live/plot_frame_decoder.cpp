#include "live/plot_frame_decoder.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "selftest/frame_descrambler.h"
#include "selftest/frame_records.h"
#include "selftest/motor_controller_signals.h"
#include "selftest/status_frame_api.h"

namespace quor::tessera::diagnostics {

namespace {

namespace sf = status_frame;

constexpr uint32_t kApiMask = 0xFFC0;
constexpr uint32_t kDeviceNumberMask = 0x3F;
constexpr double kFullScaleOutput = 1023.0;
constexpr double kAmpsPerSupplyUnit = 0.125;

// Channel-mask bits per frame.
constexpr int32_t kMotorOutputBits = 0x001;
constexpr int32_t kFeedbackBits = 0x00E;
constexpr int32_t kAuxFeedbackBits = 0x030;
constexpr int32_t kPid0Bits = 0x040;
constexpr int32_t kPid1Bits = 0x080;
constexpr int32_t kTargetsBits = 0x300;

double Scaled(int32_t value, bool times8) { return times8 ? value * 8.0 : value; }

// Where the frame's scramble mode sits, as the self-test's slot table has it.
void Descramble(uint8_t* data, uint32_t api, uint32_t deviceNumber) {
  const SlotLayout* end = kMotorControlSlots + kMotorControlSlotCount;
  const SlotLayout* slot =
      std::find_if(kMotorControlSlots, end, [api](const SlotLayout& s) { return s.api == api; });
  if (slot != end && slot->scrambling == Scrambling::kMotorController)
    RefSecM2(data, deviceNumber, slot->modeBit);
}

int32_t Fill(PlotterDatum* out, int32_t enableBits,
             std::initializer_list<std::pair<const char*, double>> channels) {
  out->count = 0;
  for (const auto& [name, value] : channels) {
    out->names[out->count] = name;
    out->values[out->count] = value;
    ++out->count;
  }
  return enableBits;
}

}  // namespace

int32_t PlotFrameDecoder::Decode(const CanStreamMessage& message, PlotterDatum* out) {
  const uint32_t api = message.messageID & kApiMask;
  const uint32_t deviceNumber = message.messageID & kDeviceNumberMask;
  uint8_t d[8];
  std::memcpy(d, message.data, sizeof d);
  if (api == sf::kMotorPid0 || api == sf::kMotorPid1) return DecodePid(api, d, deviceNumber, out);
  Descramble(d, api, deviceNumber);
  switch (api) {
    case sf::kMotorGeneral:
      return Fill(out, kMotorOutputBits,
                  {{"MotorOutput", DecodeMotorGeneral(d).appliedOutput / kFullScaleOutput}});
    case sf::kMotorFeedback: {
      const MotorFeedbackStatus s = DecodeMotorFeedback(d);
      return Fill(out, kFeedbackBits,
                  {{"SensorPos", Scaled(s.pid0.position, s.pid0.position8x)},
                   {"SensorVel", Scaled(s.pid0.velocity, s.pid0.velocity8x)},
                   {"Current", s.supplyCurrentRaw * kAmpsPerSupplyUnit}});
    }
    case sf::kMotorAuxFeedback: {
      std::memcpy(auxFeedback_, d, sizeof d);
      haveAuxFeedback_ = true;
      const MotorAuxFeedbackStatus s = DecodeMotorAuxFeedback(d);
      return Fill(out, kAuxFeedbackBits,
                  {{"SensorPos1", Scaled(s.pid1.position, s.pid1.position8x)},
                   {"SensorVel1", Scaled(s.pid1.velocity, s.pid1.velocity8x)}});
    }
    case sf::kMotorTargetsPrimary: {
      const MotorTargetsStatus s = DecodeMotorTargets(d);
      // The velocity keeps its scaled value whole, as every other velocity channel does.
      return Fill(out, kTargetsBits,
                  {{"ActTrajPos", Scaled(s.target.position, s.target.position8x)},
                   {"ActTrajVel", Scaled(s.target.velocity, s.target.velocity8x)}});
    }
    default:
      return 0;
  }
}

int32_t PlotFrameDecoder::DecodePid(uint32_t api, uint8_t* d, uint32_t deviceNumber,
                                    PlotterDatum* out) const {
  if (!haveAuxFeedback_) return 0;
  if (PidFormat() == 0) Descramble(d, api, deviceNumber);
  int32_t error = 0, derivative = 0, integral = 0;
  DecodePIDSignals(auxFeedback_, d, error, derivative, integral);
  if (api == sf::kMotorPid0) return Fill(out, kPid0Bits, {{"CloseLoopErr0", error}});
  return Fill(out, kPid1Bits, {{"CloseLoopErr1", error}});
}

int32_t PlotFrameDecoder::PidFormat() const {
  if (!haveAuxFeedback_) return -1;
  return DecodeMotorAuxFeedback(auxFeedback_).pidScalingSelector ? 0 : 1;
}

void PlotFrameDecoder::Reset() {
  haveAuxFeedback_ = false;
  std::memset(auxFeedback_, 0, sizeof auxFeedback_);
}

}  // namespace quor::tessera::diagnostics
