// Sensor sections of the motor-controller report: quadrature, analog, pulse width, limit
// switches, integrated sensor and auto-zero.
#include <string>
#include <vector>

#include "selftest/motor_controller_sections.h"
#include "selftest/motor_controller_signals.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"

namespace quor::tessera::diagnostics::motor_report {

namespace {

constexpr double kVoltsPerAdcUnit = 3.3 / 1023;
constexpr int kIntegratedSensorUnitsPerRotation = 2048;

std::string PosVelText(const RawPosVel& p) {
  return GeneratePosVelString(p.position, p.velocity, p.position8x, p.velocity8x);
}

std::string Units(double value) { return Round(value, 3) + " " + "units"; }

}  // namespace

void WriteQuadrature(const Context& c, std::ostream& out) {
  if (!c.frames.quadEncoder || !c.brushedSensorSections) return;
  const MotorQuadStatus s = DecodeMotorQuad(c.frames.quadEncoder);
  out << "\n"
      << "Quad/MagEnc(rel)"
      << "\n";
  out << "  " << PosVelText(s.quad) << "\n";
  out << "  "
      << "Pins: A: " << Bit01(s.pinA) << "   |   "
      << "B: " << Bit01(s.pinB) << "   |   "
      << "Idx: " << Bit01(s.indexPin) << "   |   "
      << " IdxEdges:" << int{s.indexEdges} << "\n";
}

void WriteAnalog(const Context& c, std::ostream& out) {
  if (!c.frames.analogTempVbat || !c.brushedSensorSections) return;
  const MotorAnalogStatus s = DecodeMotorAnalog(c.frames.analogTempVbat);
  out << "\n"
      << "Analog: " << PosVelText(s.analog) << "   |   ADC:" << s.adc << "   |   "
      << trim(FloatToStr(s.adc, kVoltsPerAdcUnit, 1)) << " V"
      << "\n";
}

void WritePulseWidth(const Context& c, std::ostream& out) {
  if (!c.frames.pulseWidth) return;
  const MotorPulseWidthStatus s = DecodeMotorPulseWidth(c.frames.pulseWidth);
  out << "\n"
      << "PulseWidth/MagEnc(abs)"
      << "\n";
  out << "  " << PosVelText(s.pulse) << "\n";
  SelfTestPeriodAndTachLines(s.period, out);
}

void WriteLimitSwitches(const Context& c, std::ostream& out) {
  if (!c.frames.general) return;
  const MotorGeneralStatus s = DecodeMotorGeneral(c.frames.general);
  out << "\n"
      << "Limit Switches"
      << "\n";
  out << "  "
      << "Forward:" << (s.fwdLimitSwitchOpen ? "Open" : "Closed") << "\n";
  out << "  "
      << "Reverse:" << (s.revLimitSwitchOpen ? "Open" : "Closed") << "\n";
  if (s.limitSwitchOverriddenOff)
    out << "  "
        << "Limit Switch feature has been overridden OFF"
        << "\n";
}

void WriteIntegratedSensor(const Context& c, std::ostream& out) {
  if (!c.frames.integratedSensor) return;
  const IntegratedSensorStatus s = DecodeMotorIntegratedSensor(c.frames.integratedSensor);
  out << "\n"
      << "Integrated Sensor"
      << "\n";
  const IntegratedSensorTexts texts{Units(s.position), Units(s.velocity) + " " + "per 100ms",
                                    Units(s.absolutePosition)};
  FillIntegratedSensorStatus(texts, s.powerOnBehaviour, s.absoluteSigned, 0, false, out);
  out << "  Units Per Rotation: " << kIntegratedSensorUnitsPerRotation << "\n";
}

void WriteAutoZero(const Context& c, std::ostream& out) {
  if (!c.frames.quadEncoder || !c.frames.analogTempVbat) return;
  const MotorAnalogStatus analog = DecodeMotorAnalog(c.frames.analogTempVbat);
  std::vector<std::string> enabled;
  if (analog.autoZeroOnForwardLimit) enabled.push_back("LimF = On");
  if (analog.autoZeroOnReverseLimit) enabled.push_back("LimR = On");
  if (DecodeMotorQuad(c.frames.quadEncoder).autoZeroOnIndex) enabled.push_back("QuadIdx = On");
  out << "\n";
  if (enabled.empty()) {
    out << "Auto Zero Position Feature are disabled"
        << "\n";
    return;
  }
  out << "Auto Zero Position Feature En: ";
  for (size_t i = 0; i < enabled.size(); ++i) out << (i == 0 ? "" : "   |   ") << enabled[i];
  out << "\n";
}

}  // namespace quor::tessera::diagnostics::motor_report
