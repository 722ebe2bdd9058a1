#include "selftest/pdp_report.h"

#include <bitset>
#include <cstdio>

#include "device/error_codes.h"
#include "selftest/bit_join.h"
#include "selftest/number_format.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kNewScaleFirmware = 280;
constexpr double kBatteryVoltsPerUnit = 0.05;
constexpr double kBatteryVoltsOffset = 4.0;
constexpr double kOldBatteryVoltsPerUnit = 0.0554413328606877;
constexpr double kDegreesPerUnit = 1.03258849283384;
constexpr double kDegreesOffset = -67.8564500484966;
constexpr int kChannelsPerFrame = 6;

// Six 10-bit readings packed most significant bit first from d0 bit 7.
uint32_t PackedChannel(const uint8_t* d, int index) {
  switch (index) {
    case 0: return Decode_ToUInt32<8, 2>(d[0], d[1] >> 6);
    case 1: return Decode_ToUInt32<6, 4>(d[1], d[2] >> 4);
    case 2: return Decode_ToUInt32<4, 6>(d[2], d[3] >> 2);
    case 3: return Decode_ToUInt32<2, 8>(d[3], d[4]);
    case 4: return Decode_ToUInt32<8, 2>(d[5], d[6] >> 6);
    default: return Decode_ToUInt32<6, 4>(d[6], d[7] >> 4);
  }
}

void WriteChannels(const uint8_t* frame, int firstChannel, int count, uint32_t firmwareVersion,
                   std::ostream& out) {
  for (int i = 0; i < count; ++i) {
    char label[32];
    std::snprintf(label, sizeof label, "Channel %2d (A): ", firstChannel + i);
    out << label << CurrentToStr(PackedChannel(frame, i), firmwareVersion) << "\n";
  }
}

int Bit(uint8_t byte, int n) { return (byte >> n) & 1; }

std::string Binary16(uint8_t high, uint8_t low) {
  return std::bitset<16>(static_cast<unsigned>(high) << 8 | low).to_string();
}

}  // namespace

int PDP_SelfTest1(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out) {
  WriteChannels(frame, 0, kChannelsPerFrame, firmwareVersion, out);
  return QUOR_DI_OKAY;
}

int PDP_SelfTest2(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out) {
  WriteChannels(frame, kChannelsPerFrame, kChannelsPerFrame, firmwareVersion, out);
  return QUOR_DI_OKAY;
}

int PDP_SelfTest3(const uint8_t* frame, uint32_t firmwareVersion, std::ostream& out) {
  WriteChannels(frame, 2 * kChannelsPerFrame, 4, firmwareVersion, out);
  const bool newScale = firmwareVersion > kNewScaleFirmware;
  out << "Battery(V) : "
      << FloatToStr(0, 0, frame[6], newScale ? kBatteryVoltsPerUnit : kOldBatteryVoltsPerUnit,
                    newScale ? kBatteryVoltsOffset : 0.0, 2)
      << "\n";
  out << "   Temp(C) : " << FloatToStr(0, 0, frame[7], kDegreesPerUnit, kDegreesOffset, 2) << "\n";
  return QUOR_DI_OKAY;
}

int PDP_SelfTest4(const uint8_t* frame, uint32_t /*firmwareVersion*/, std::ostream& out) {
  const uint8_t flags = frame[4];
  out << "FaultHardwareStatus : " << Bit(flags, 3) << "\n";
  out << "Current FAULTS : " << Binary16(frame[0], frame[1]) << "\n";
  out << "FaultTemp : " << Bit(flags, 6) << "\n";
  out << "FaultVbat : " << Bit(flags, 7) << "\n";
  out << "Current FAULTS : " << Binary16(frame[2], frame[3]) << "    (sticky)    "
      << "\n";
  out << "StickyFaultTemp : " << Bit(flags, 4) << "\n";
  out << "StickyFaultVbat : " << Bit(flags, 5) << "\n";
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
