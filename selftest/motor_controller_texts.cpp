#include "selftest/motor_controller_texts.h"

#include <cstdlib>

#include "config/kx_feedback_sens.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr double kFullScaleOutput = 1023.0;
constexpr double kPercent = 100.0;
constexpr int32_t kLargestFeedForward = 127;
constexpr int kDecimals = 2;

std::string Volts(int32_t appliedOutput, double busVoltage) {
  return trim(FloatToStr_Signed(appliedOutput, busVoltage / kFullScaleOutput, 0, kDecimals));
}

std::string BrushlessDirection(int32_t appliedOutput, bool inverted) {
  const std::string positive = inverted ? "clockwise" : "counter-clockwise";
  const std::string negative = inverted ? "counter-clockwise" : "clockwise";
  std::string text = std::string("Inverted: ") + TF(inverted) + "  |  Drive Direction:";
  if (appliedOutput == 0) return text + positive + " (positive), " + negative + " (negative).";
  if (appliedOutput > 0) return text + positive + " (positive).";
  return text + negative + " (negative).";
}

std::string BrushedLeads(int32_t appliedOutput, const std::string& volts, bool inverted,
                         bool brakeInNeutral) {
  const std::string prefix = inverted ? "Motor Leads (Inverted):" : "Motor Leads:";
  if (appliedOutput == 0) return prefix + (brakeInNeutral ? " M+: 0 V    M-: 0 V" : " M+/M- off");
  if (appliedOutput > 0) {
    if (!inverted) return "Motor Leads: M+: " + volts + " V  M-: 0 V";
    return "Motor Leads (Inverted): M+: 0 V  M-: " + volts + "V";
  }
  if (!inverted) return "Motor Leads: M+:0 V  M-: " + volts + "V";
  return "Motor Leads (Inverted): M+: " + volts + " V  M-: 0 V";
}

}  // namespace

const char* ModeToString(uint8_t controlMode) {
  switch (controlMode) {
    case 0: return "PercentOutput";
    case 1: return "Pos Closed Loop";
    case 2: return "Vel Closed Loop";
    case 3: return "Current Closed Loop";
    case 5: return "Follower";
    case 6: return "Motion Profile";
    case 7: return "Motion Magic";
    case 15: return "No Drive";
    default: return "";
  }
}

std::string GenerateMPEOutputString(uint8_t outputState) {
  switch (outputState) {
    case 0: return "Disabled";
    case 1: return "Enabled";
    case 2: return "Hold";
    default: return std::to_string(outputState);
  }
}

std::string GetAppliedThrottleStr(int32_t appliedOutput) {
  return trim(FloatToStr_Signed(appliedOutput, kPercent / kFullScaleOutput, 0, kDecimals)) + "%";
}

std::string GetVoltageOutputSuffix(int32_t appliedOutput, double busVoltage) {
  return " [" + Volts(appliedOutput, busVoltage) + " V]";
}

std::string Get8bitArbFeedFwd(int8_t feedForward) {
  int32_t value = feedForward;
  if (value < -kLargestFeedForward) value = -kLargestFeedForward;
  if (value > kLargestFeedForward) value = kLargestFeedForward;
  return trim(FloatToStr_Signed(value, kPercent / kLargestFeedForward, 0, kDecimals)) + "%";
}

std::string GetMotorLeadVoltages(int32_t appliedOutput, double busVoltage, bool inverted,
                                 bool brakeInNeutral, bool brushless) {
  if (brushless) return BrushlessDirection(appliedOutput, inverted);
  const std::string volts = Volts(std::abs(appliedOutput), busVoltage);
  return BrushedLeads(appliedOutput, volts, inverted, brakeInNeutral);
}

void SelfTestPid(const std::string& title, int slotSelect, int feedbackSensor,
                 const std::string& posVel, std::ostream& out) {
  out << title << "\n";
  if (feedbackSensor >= 0)
    out << "  Feedback: " << KxFeedbackSens::GetFeedBackDescription(feedbackSensor) << "\n";
  if (!posVel.empty()) out << "  " << posVel << "\n";
  if (slotSelect >= 0) out << "  Slot Select: " << slotSelect << "\n";
}

}  // namespace quor::tessera::diagnostics
