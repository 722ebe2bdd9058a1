#pragma once
// The self-test of one device: pick the family's receive filter and step, run capture and
// report, add the explanation of a failure and the footer. QuorDeviceInterface::selfTest runs
// it on the frame layer and copies the text into the caller's buffer.
#include <cstdint>
#include <ostream>
#include <string>

struct _Device;
class StatusFrameSource;

namespace quor::tessera::diagnostics {

// The whole self-test text of `device` (null: not in the engine's table) into `text`; returns
// the QUOR_DI_ code. Opens `source` for the device when its family has a self-test; the caller
// closes it.
int BuildSelfTestText(const _Device* device, StatusFrameSource& source, std::string& text);

// The explanation written after a failed step (-124, -123, -101, or any other code).
void WriteSelfTestExplanation(int32_t result, const std::string& deviceName, std::ostream& out);

// Copies at most capacity - 1 bytes of `text`, never ending inside a UTF-8 character, and a
// terminating NUL. Nothing is written without a buffer or with a capacity of 0 or less.
void CopySelfTestText(const std::string& text, char* buffer, int capacity);

}  // namespace quor::tessera::diagnostics
