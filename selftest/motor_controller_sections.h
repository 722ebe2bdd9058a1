#pragma once
// The sections of the motor-controller report, in the order the report writes them. Each
// writes nothing when the frames it reads were not received.
#include <ostream>

#include "selftest/frame_records.h"

struct _Device;

namespace quor::tessera::diagnostics::motor_report {

struct Context {
  const _MotorControlFrames_t& frames;
  const _Device& device;
  bool brushless;
  bool typeOneDevice;          // device type 1 (Harrier HX): no current or temperature readings
  bool brushedSensorSections;  // neither brushless nor type 1: quadrature and analog inputs
};

void WriteWarnings(const Context& c, std::ostream& out);
void WriteGeneralState(const Context& c, std::ostream& out);
void WritePidBlocks(const Context& c, std::ostream& out);
void WriteQuadrature(const Context& c, std::ostream& out);
void WriteAnalog(const Context& c, std::ostream& out);
void WritePulseWidth(const Context& c, std::ostream& out);
void WriteProfileExecutor(const Context& c, std::ostream& out);
void WriteProfileTargets(const Context& c, std::ostream& out);
void WriteRivuduvozPort(const Context& c, std::ostream& out);
void WriteLimitSwitches(const Context& c, std::ostream& out);
void WriteIntegratedSensor(const Context& c, std::ostream& out);
void WriteAutoZero(const Context& c, std::ostream& out);
void WriteFaults(const Context& c, std::ostream& out);
void WriteBrushlessFaults(const Context& c, std::ostream& out);
void WritePowerLine(const Context& c, std::ostream& out);
void WriteConfigurations(const Context& c, std::ostream& out);
void WriteFrcLock(const Context& c, std::ostream& out);

}  // namespace quor::tessera::diagnostics::motor_report
