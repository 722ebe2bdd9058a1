// Fault tables of the motor-controller report: one row per fault that is set now or sticky.
#include <vector>

#include "selftest/motor_controller_sections.h"
#include "selftest/motor_controller_signals.h"
#include "selftest/report_helpers.h"

namespace quor::tessera::diagnostics::motor_report {

namespace {

constexpr const char* kColumnGap = "          ";

struct FaultRow {
  const char* label;
  bool now;
  bool hasSticky;  // hardware failure has no sticky column
  bool sticky;
  const char* note;
};

void WriteRows(const char* header, const std::vector<FaultRow>& rows, std::ostream& out) {
  bool headerWritten = false;
  for (const FaultRow& row : rows) {
    if (!row.now && !row.sticky) continue;
    if (!headerWritten) out << "\n" << header << "\n";
    headerWritten = true;
    out << row.label << Bit01(row.now) << kColumnGap;
    if (row.hasSticky) out << Bit01(row.sticky);
    out << row.note << "\n";
  }
}

}  // namespace

void WriteFaults(const Context& c, std::ostream& out) {
  if (!c.frames.general || !c.frames.feedback) return;
  const MotorGeneralStatus n = DecodeMotorGeneral(c.frames.general);
  const MotorFeedbackStatus s = DecodeMotorFeedback(c.frames.feedback);
  const bool stickyApiError =
      c.frames.auxFeedback && DecodeMotorAuxFeedback(c.frames.auxFeedback).stickyApiError;
  const std::vector<FaultRow> rows = {
      {" Fwd Limit Switch:   ", n.fwdLimitSwitchFault, true, s.stickyFwdLimitSwitch, ""},
      {" Rev Limit Switch:   ", n.revLimitSwitchFault, true, s.stickyRevLimitSwitch, ""},
      {"   Fwd Soft Limit:    ", n.fwdSoftLimit, true, s.stickyFwdSoftLimit, ""},
      {"   Rev Soft Limit:     ", n.revSoftLimit, true, s.stickyRevSoftLimit, ""},
      {"      Under Vbat :     ", n.underVoltage, true, s.stickyUnderVoltage, ""},
      {"    Reset Dur En :     ", n.resetDuringEnable, true, s.stickyResetDuringEnable, ""},
      {"       API error :     ", n.apiError, true, stickyApiError, ""},
      {"Hardware Failure :     ", n.hardwareFailure, false, false, ""},
      {"Sens Out Of Phase:     ", n.sensorOutOfPhase, true, s.stickySensorOutOfPhase, ""},
      {"   Sens Overflow :     ", n.sensorOverflow, true, s.stickySensorOverflow, ""},
      {"      Remote LOS :     ", n.remoteSensorLost, true, s.stickyRemoteSensorLost,
       "  Remote Sensor is missing on the bus.  Check the remote sensor, limit switch, soft "
       "limit source."},
  };
  WriteRows("        (Fault)         (Now)   (Sticky) ", rows, out);
}

void WriteBrushlessFaults(const Context& c, std::ostream& out) {
  if (!c.frames.faults) return;
  const MotorFaultsStatus f = DecodeMotorFaults(c.frames.faults);
  namespace bit = motor_fault_bit;
  const auto row = [&f](const char* label, uint32_t mask) {
    return FaultRow{label, (f.now & mask) != 0, true, (f.sticky & mask) != 0, ""};
  };
  const std::vector<FaultRow> rows = {
      row(" Device Temperature Fault:   ", bit::kDeviceTemperature),
      row("    CPU Temperature Fault:   ", bit::kCpuTemperature),
      row(" Neutral Brake Curr Limit:   ", bit::kNeutralBrakeCurrentLimit),
      row("   Regen Brake Curr Limit:   ", bit::kRegenBrakeCurrentLimit),
      row("        Stator Curr Limit:   ", bit::kStatorCurrentLimit),
      row("        Supply Curr Limit:   ", bit::kSupplyCurrentLimit),
  };
  WriteRows("           (Fault)         (Now)   (Sticky) ", rows, out);
}

}  // namespace quor::tessera::diagnostics::motor_report
