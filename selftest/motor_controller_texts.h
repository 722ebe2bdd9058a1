#pragma once
// Texts of single motor-controller values, shared by the sections of its self-test report.
#include <cstdint>
#include <ostream>
#include <string>

namespace quor::tessera::diagnostics {

// Control-mode name; unknown modes give "".
const char* ModeToString(uint8_t controlMode);
// Motion-profile executor output: "Disabled", "Enabled", "Hold", else the number.
std::string GenerateMPEOutputString(uint8_t outputState);

// Applied output (full scale ±1023) as a percentage, e.g. "100.00%".
std::string GetAppliedThrottleStr(int32_t appliedOutput);
// " [" + the output in volts at this bus voltage + " V]".
std::string GetVoltageOutputSuffix(int32_t appliedOutput, double busVoltage);
// Arbitrary feed-forward byte, clamped to ±127, as a percentage.
std::string Get8bitArbFeedFwd(int8_t feedForward);
// Which motor lead is driven (brushed) or which way the motor turns (brushless).
std::string GetMotorLeadVoltages(int32_t appliedOutput, double busVoltage, bool inverted,
                                 bool brakeInNeutral, bool brushless);

// One PID block: title, "  Feedback: ..." when the sensor is known (>= 0), "  " + the
// position/velocity text when there is one, "  Slot Select: ..." when known (>= 0).
void SelfTestPid(const std::string& title, int slotSelect, int feedbackSensor,
                 const std::string& posVel, std::ostream& out);

}  // namespace quor::tessera::diagnostics
