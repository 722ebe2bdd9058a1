#include "selftest/motor_controller_report.h"

#include "config/top_level_groups.h"
#include "device/device_record.h"
#include "device/error_codes.h"
#include "selftest/motor_controller_sections.h"
#include "selftest/motor_controller_signals.h"
#include "selftest/motor_controller_texts.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"
#include "selftest/status_frame_api.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kTypeOneFamilyBits = can_id::MakeQuor(device_type::kHarrierHx, 0, 0, 0);
constexpr uint32_t kOldestSupportedFirmware = 0x1400;
constexpr int kUnknown = -1;

}  // namespace

namespace motor_report {

void WriteWarnings(const Context& c, std::ostream& out) {
  if (!c.frames.general || !c.frames.feedback || !c.frames.analogTempVbat)
    out << "Some frames are missing, make sure latest firmware is flashed.\n";
  WriteFirmwareWarning(c.device, kOldestSupportedFirmware, out);
}

void WriteGeneralState(const Context& c, std::ostream& out) {
  if (!c.frames.general) return;
  const MotorGeneralStatus s = DecodeMotorGeneral(c.frames.general);
  out << (s.enabled ? "Device enabled" : "Device NOT ENABLED!") << "\n";
  out << "Motor Type: " << (c.brushless ? "Brushless" : "Brushed") << "\n";
  out << "Mode:" << int{s.controlMode} << ":" << ModeToString(s.controlMode) << " | "
      << "Output:" << GetAppliedThrottleStr(s.appliedOutput);
  if (c.frames.analogTempVbat) {
    const double bus = DecodeMotorAnalog(c.frames.analogTempVbat).BusVoltage();
    out << GetVoltageOutputSuffix(s.appliedOutput, bus) << "\n";
    out << GetMotorLeadVoltages(s.appliedOutput, bus, s.outputInverted, s.brakeInNeutral,
                                c.brushless);
  }
  out << "\n";
  out << (s.brakeInNeutral ? "Brake during neutral" : "Coast during neutral") << "\n";
  out << "VCompEn:" << TF(s.voltageCompensation) << " CurrLimited:" << TF(s.currentLimiting)
      << "\n";
}

namespace {

std::string PosVelText(const RawPosVel& p) {
  return GeneratePosVelString(p.position, p.velocity, p.position8x, p.velocity8x);
}

void WritePidInternals(const uint8_t* auxFeedback, const uint8_t* pidFrame, std::ostream& out) {
  if (!auxFeedback || !pidFrame) return;
  int32_t error = 0, derivative = 0, integral = 0;
  DecodePIDSignals(auxFeedback, pidFrame, error, derivative, integral);
  out << "  "
      << "Err: " << error << " u"
      << "   |   "
      << "iacc: " << integral << " u-ms"
      << "   |   "
      << "derr: " << derivative << " u/ms"
      << "\n";
}

}  // namespace

void WritePidBlocks(const Context& c, std::ostream& out) {
  const _MotorControlFrames_t& f = c.frames;
  const MotorGeneralStatus general =
      f.general ? DecodeMotorGeneral(f.general) : MotorGeneralStatus{};
  const MotorAuxFeedbackStatus aux =
      f.auxFeedback ? DecodeMotorAuxFeedback(f.auxFeedback) : MotorAuxFeedbackStatus{};
  out << "\n";
  SelfTestPid("PID0 (primary)", f.general ? general.pid0SlotSelect : kUnknown,
              f.analogTempVbat ? DecodeMotorAnalog(f.analogTempVbat).pid0Sensor : kUnknown,
              f.feedback ? PosVelText(DecodeMotorFeedback(f.feedback).pid0) : "", out);
  WritePidInternals(f.auxFeedback, f.pid0, out);
  out << "\n";
  SelfTestPid("PID1 (aux)", f.general ? general.pid1SlotSelect : kUnknown,
              f.auxFeedback ? aux.pid1Sensor : kUnknown, f.auxFeedback ? PosVelText(aux.pid1) : "",
              out);
  WritePidInternals(f.auxFeedback, f.pid1, out);
}

void WritePowerLine(const Context& c, std::ostream& out) {
  const _MotorControlFrames_t& f = c.frames;
  out << "\n";
  if (!c.typeOneDevice && f.currents) {
    const MotorCurrentsStatus currents = DecodeMotorCurrents(f.currents);
    out << "I-Supply: " << Round(currents.supply_A, 2) << "A   |   "
        << "I-Stator: " << Round(currents.stator_A, 2) << "A   |   ";
  } else if (!c.typeOneDevice && f.feedback) {
    out << "I-Supply: "
        << trim(FloatToStr(DecodeMotorFeedback(f.feedback).supplyCurrentRaw, 0.125, 2))
        << "A    |    ";
  }
  if (f.analogTempVbat) {
    const MotorAnalogStatus analog = DecodeMotorAnalog(f.analogTempVbat);
    out << "Bus: " << trim(FloatToStr(0, 0, analog.busVoltageRaw, 0.05, 4, 2)) << "V";
    if (!c.typeOneDevice && f.temperatures) {
      const MotorTemperaturesStatus t = DecodeMotorTemperatures(f.temperatures);
      out << "    |    "
          << "Device Temp: " << t.device_C << "C"
          << "    |    "
          << "CPU Temp: " << t.cpu_C << "C";
    } else if (!c.typeOneDevice) {
      out << "    |    "
          << "Temp: " << trim(FloatToStr(analog.temperatureField, 2, 0)) << "C";
    }
  }
  out << "\n";
}

void WriteConfigurations(const Context& c, std::ostream& out) {
  if (!c.device.config || c.device.config->length == 0) return;
  config2::MotorControllerGroup group;
  if (group.Deserialize(*c.device.config) != QUOR_DI_OKAY) return;
  const auto& output = group.motorOutput;
  out << "\n"
      << "Configurations"
      << "\n";
  out << "  Nominal Output: "
      << "[" << Round(output.NominalReverseOutput(), 2) << ", "
      << Round(output.NominalForwardOutput(), 2) << "]"
      << "   |   "
      << "Peak Output: "
      << "[" << Round(output.PeakReverseOutput(), 2) << ", " << Round(output.PeakForwardOutput(), 2)
      << "]"
      << "\n";
}

void WriteFrcLock(const Context& c, std::ostream& out) {
  if (!c.frames.auxFeedback) return;
  out << "\n"
      << "FRC Locked:" << Bit01(DecodeMotorAuxFeedback(c.frames.auxFeedback).frcLocked) << "\n";
}

}  // namespace motor_report

int MotControl_SelfTest(const _MotorControlFrames_t& frames, const _Device& device, bool brushless,
                        std::ostream& out) {
  const bool typeOne = status_frame::FamilyBits(device.descriptor.arbId) == kTypeOneFamilyBits;
  const motor_report::Context c{frames, device, brushless, typeOne, !brushless && !typeOne};
  using namespace motor_report;
  for (auto* section :
       {WriteWarnings, WriteGeneralState, WritePidBlocks, WriteQuadrature, WriteAnalog,
        WritePulseWidth, WriteProfileExecutor, WriteProfileTargets, WriteRivuduvozPort,
        WriteLimitSwitches, WriteIntegratedSensor, WriteAutoZero, WriteFaults, WriteBrushlessFaults,
        WritePowerLine, WriteConfigurations, WriteFrcLock})
    section(c, out);
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
