#include "selftest/cantap_report.h"

#include "device/error_codes.h"
#include "selftest/bit_join.h"
#include "selftest/number_format.h"
#include "selftest/report_helpers.h"
#include "selftest/status_frame_api.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kOldestSupportedFirmware = 0x0400;
constexpr double kDutyPercentPerUnit = 100.0 / 1023;

// Pin-word bits in the order the report lists them.
struct PinLine {
  int bit;
  const char* label;
};
constexpr PinLine kPinLines[] = {
    {6, "Pin I2C_SCL:"},       {5, "Pin I2C_SDA:"},       {4, "Pin LIMF:"},
    {3, "Pin LIMR:"},          {2, "Pin QuadA:"},         {1, "Pin QuadB:"},
    {0, "Pin QuadIdx:"},       {10, "Pin SPI_CLK_PWM0:"}, {9, "Pin SPI_MOSI_PWM1:"},
    {8, "Pin SPI_MISO_PWM2:"}, {7, "Pin SPI_CSP_PWM3:"},
};

int Bit(uint32_t word, int n) { return static_cast<int>((word >> n) & 1u); }
int32_t Signed24(const uint8_t* d) { return Decode_ToInt32<8, 8, 8>(d[0], d[1], d[2]); }
std::string Duty(uint32_t raw) { return trim(FloatToStr(raw, kDutyPercentPerUnit, 1)); }

void WriteBatteryAndLeds(const uint8_t* d, std::ostream& out) {
  out << "Battery(V):" << FloatToStr(0, 0, d[5], 0.1, 4.0, 2) << "\n";
  out << "\n"
      << "LED Output"
      << "\n";
  out << "A(%):" << Duty(Decode_ToUInt32<8, 2>(d[0], d[1] >> 6)) << "  |  "
      << "B(%):" << Duty(Decode_ToUInt32<6, 4>(d[1], d[2] >> 4)) << "  |  "
      << "C(%):" << Duty(Decode_ToUInt32<4, 6>(d[2], d[3] >> 2)) << "\n";
}

void WriteQuadratureAndPins(const uint8_t* d, std::ostream& out) {
  out << "\n"
      << "Quad/MagEnc(rel)"
      << "\n";
  out << GeneratePosVelString(Signed24(d), Decode_ToInt32<8, 8>(d[3], d[4]), Bit(d[5], 7),
                              Bit(d[5], 6))
      << "\n";
  const uint32_t pins = Decode_ToUInt32<3, 8>(d[5], d[6]);
  for (const PinLine& line : kPinLines) out << line.label << Bit(pins, line.bit) << "\n";
}

void WritePwmInput(int k, const uint8_t* d, std::ostream& out) {
  out << "\n"
      << "PWM Input " << k << "\n";
  SelfTestPeriodAndTachLines(Decode_ToUInt32<8, 8, 3>(d[3], d[4], d[5] >> 5), out);
  out << "  PosEncodedPulse "
      << GeneratePosVelString(Signed24(d), Decode_ToInt32<5, 8, 3>(d[5] & 0x1F, d[6], d[7] >> 5),
                              Bit(d[7], 4), Bit(d[7], 3))
      << "\n";
}

}  // namespace

int CANtap_SelfTest(const _CANtapFrames_t& frames, const _Device& device, std::ostream& out) {
  WriteFirmwareWarning(device, kOldestSupportedFirmware, out);
  if (frames.status1) WriteBatteryAndLeds(frames.status1, out);
  if (frames.general) WriteQuadratureAndPins(frames.general, out);
  for (unsigned k = 0; k < status_frame::kIoBoardPwmInputs; ++k)
    if (frames.pwmInputs[k]) WritePwmInput(k, frames.pwmInputs[k], out);
  if (frames.status1) {
    out << "\n"
        << "ZeroQuadOnIdxPol:" << Bit(frames.status1[3], 0) << "\n";
    out << "ZeroQuadOnIdxEn:" << Bit(frames.status1[3], 1) << "\n";
  }
  if (frames.general)
    out << "\n"
        << "FRC Locked:" << Bit(frames.general[7], 3) << "\n";
  return frames.status1 && frames.general ? QUOR_DI_OKAY : QUOR_DI_NormalModeMsgNotPresent;
}

}  // namespace quor::tessera::diagnostics
