#pragma once
// One capture-and-report step per device family. Each captures the device's status frames from
// `source` (already opened for the device), writes the family's report and, when the report
// succeeded, an empty line and the family's closing line. Returns the report's code.
#include <ostream>

struct _Device;
class StatusFrameSource;

namespace quor::tessera::diagnostics {

int SelfTest_MotorController(const _Device& device, StatusFrameSource& source, std::ostream& out);
int SelfTest_Wren(const _Device& device, StatusFrameSource& source, std::ostream& out);
int SelfTest_CANtap(const _Device& device, StatusFrameSource& source, std::ostream& out);
int SelfTest_CANdial(const _Device& device, StatusFrameSource& source, std::ostream& out);
// QUOR_DI_NormalModeMsgNotPresent before the first section whose frame did not arrive.
int SelfTest_Pdp(const _Device& device, StatusFrameSource& source, std::ostream& out);
// QUOR_DI_NormalModeMsgNotPresent, and no report, unless both frames arrived.
int SelfTest_Pcm(const _Device& device, StatusFrameSource& source, std::ostream& out);

}  // namespace quor::tessera::diagnostics
