// Motion-profile and Rivuduvoz-port sections of the motor-controller report.
#include "selftest/motor_controller_sections.h"
#include "selftest/motor_controller_signals.h"
#include "selftest/motor_controller_texts.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"

namespace quor::tessera::diagnostics::motor_report {

namespace {

// The device kind behind a plugged-in port; the port frame does not say, and a plugged-in
// device is always the IMU.
constexpr int kPluggedInKind = 1;

std::string PortDeviceKindWord(int kind) {
  switch (kind) {
    case 0: return " ";
    case 1: return " Wren ";
    case 2: return " PC/NOVA ";
    default: return " Device " + std::to_string(kind);
  }
}

void WriteTargetLines(const uint8_t* targets, const uint8_t* executor, bool aux,
                      std::ostream& out) {
  const MotorTargetsStatus t = DecodeMotorTargets(targets);
  out << "  Targets:"
      << trim(GeneratePosVelString(t.target.position, t.target.velocity, t.target.position8x,
                                   t.target.velocity8x))
      << "\n";
  out << "  ArbFeedFwd:" << Get8bitArbFeedFwd(t.feedForward) << "\n";
  out << "  Valid:" << TF(t.valid) << "\n";
  if (!executor) return;
  const MotorProfileExecutorStatus e = DecodeMotorProfileExecutor(executor);
  out << "  PID Slot:" << int{aux ? e.auxPidSlot : e.primaryPidSlot} << "\n";
}

}  // namespace

void WriteProfileExecutor(const Context& c, std::ostream& out) {
  if (!c.frames.motionProfileExecutor) return;
  const MotorProfileExecutorStatus s = DecodeMotorProfileExecutor(c.frames.motionProfileExecutor);
  out << "\n"
      << "Motion Profile Executer: "
      << "\n";
  out << "  Output: " << GenerateMPEOutputString(s.outputState) << "\n";
  out << "  Duration (ms): " << int{s.duration_ms} << "\n";
  out << "  IsLast: " << TF(s.isLast) << "\n";
  out << "  Buffer is Full: " << TF(s.bufferFull) << "\n";
  out << "  TrajPt Count: " << int{s.pointCount} << "\n";
  out << "  "
      << (s.holdsPrimaryAndAux ? "Buffer holds both Primary and Aux Pts"
                               : "Buffer holds Primary PID points (Aux PID not in use)")
      << "\n";
  if (s.underrunNow)
    out << "  MPE currently has underun"
        << "\n";
  if (s.hasUnderrunOnce)
    out << "  MPE has has underrun at least once during profile"
        << "\n";
}

void WriteProfileTargets(const Context& c, std::ostream& out) {
  if (c.frames.targetsPrimary) {
    out << "\n"
        << "Motion Profile (primary)"
        << "\n";
    WriteTargetLines(c.frames.targetsPrimary, c.frames.motionProfileExecutor, false, out);
  }
  if (c.frames.targetsAux) {
    out << "\n"
        << "Motion Profile (aux)"
        << "\n";
    WriteTargetLines(c.frames.targetsAux, c.frames.motionProfileExecutor, true, out);
  }
}

void WriteRivuduvozPort(const Context& c, std::ostream& out) {
  if (!c.frames.rivuduvozPort) return;
  const MotorRivuduvozPortStatus s = DecodeMotorRivuduvozPort(c.frames.rivuduvozPort);
  out << "\n";
  if (s.pluggedIn)
    out << "Rivuduvoz device" << PortDeviceKindWord(kPluggedInKind) << "plugged in at "
        << s.bitrate_kbps << "kbps.";
  else
    out << "Rivuduvoz device not plugged in."
        << "   Bitrate:" << s.bitrate_kbps << "kbps.";
  out << "   Disconnect Count:" << int{s.disconnectCount} << "\n";
}

}  // namespace quor::tessera::diagnostics::motor_report
