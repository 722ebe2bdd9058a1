#pragma once
// The CAN device engine.
#include <cstdint>
#include <string>

class QuorDeviceInterface {
 public:
  // Text of a QUOR_DI_ result code; unknown codes give "Invalid Error Code(<code>)".
  static std::string ErrToString(int32_t code);
};
