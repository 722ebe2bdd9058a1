#include "selftest/pcm_report.h"

#include "device/error_codes.h"
#include "selftest/bit_join.h"
#include "selftest/number_format.h"

namespace quor::tessera::diagnostics {

namespace {

constexpr uint32_t kNewBatteryAndCompressorScaleFirmware = 294;
constexpr uint32_t kNewSolenoidScaleFirmware = 286;
constexpr int kSolenoids = 8;
constexpr const char* kColumnGap = "          ";

int Bit(uint8_t byte, int n) { return (byte >> n) & 1; }

struct PcmStatus {
  uint8_t solenoidsOn;
  int compressorOn, fuseSticky, currentTooHighSticky, fuseNow, currentTooHighNow;
  int hardwareFault, closedLoop, pressureFull, shortSticky, shortNow, enabled;
  uint8_t batteryRaw;
  uint32_t solenoidVoltageRaw, compressorCurrentRaw;
  uint8_t solenoidFaults;
  int tooLowSticky, tooLowNow;
};

PcmStatus Decode(const uint8_t* d, const uint8_t* f) {
  PcmStatus s{};
  s.solenoidsOn = d[0];
  s.compressorOn = Bit(d[1], 0);
  s.fuseSticky = Bit(d[1], 1);
  s.currentTooHighSticky = Bit(d[1], 2);
  s.fuseNow = Bit(d[1], 3);
  s.currentTooHighNow = Bit(d[1], 4);
  s.hardwareFault = Bit(d[1], 5);
  s.closedLoop = Bit(d[1], 6);
  s.pressureFull = Bit(d[1], 7);
  s.batteryRaw = d[2];
  s.solenoidVoltageRaw = Decode_ToUInt32<8, 2>(d[3], d[4] >> 6);
  s.compressorCurrentRaw = Decode_ToUInt32<6, 4>(d[4], d[5] >> 4);
  s.shortSticky = Bit(d[5], 0);
  s.shortNow = Bit(d[5], 1);
  s.enabled = Bit(d[5], 2);
  s.solenoidFaults = f[0];
  s.tooLowSticky = Bit(f[1], 4);
  s.tooLowNow = Bit(f[1], 5);
  return s;
}

void WriteState(const PcmStatus& s, std::ostream& out) {
  out << "\n";
  if (s.hardwareFault)
    out << "PCM has a hardware issue."
        << "\n";
  out << (s.enabled ? "PCM is enabled."
                    : "PCM IS NOT ENABLED!  If robot is enabled maybe the ID is wrong?")
      << "\n";
  if (!s.closedLoop)
    out << "Close-Loop has been forced off by deployed code.";
  else if (!s.enabled)
    out << "Close-Looping is ON, but PCM is DISABLED.";
  else if (s.currentTooHighNow || s.shortNow)
    out << "Compressor is close-looped on sensor but a fault was detected.";
  else
    out << "Compressor is close-looped on sensor";
  out << "\n";
  out << (s.compressorOn ? "Comp Is On" : "Comp Is Off") << "\n";
  out << (s.pressureFull ? "Pressure is full." : "Pressure is not full") << "\n";
}

void WriteFaults(const PcmStatus& s, std::ostream& out) {
  out << "\n"
      << "     (Fault)         "
      << "       "
      << "(Now)    (Sticky)"
      << "\n";
  out << " Comp Curr Too High  " << s.currentTooHighNow << kColumnGap << s.currentTooHighSticky
      << "\n";
  out << " Comp Short Circuit    " << s.shortNow << kColumnGap << s.shortSticky << "\n";
  if (s.shortNow || s.shortSticky) out << "     Most likely the compressor output was shorted\n";
  out << "    Solenoid Fuse      "
      << "  " << s.fuseNow << kColumnGap << s.fuseSticky << "\n";
  out << " Comp Curr Too Low "
      << "  " << s.tooLowNow << kColumnGap << s.tooLowSticky << "\n";
  if (s.tooLowNow || s.tooLowSticky) out << "     Most likely the compressor is not connected. \n";
  for (int k = 0; k < kSolenoids; ++k)
    out << "     Solen " << k << "           "
        << "     " << Bit(s.solenoidFaults, k) << kColumnGap << "\n";
}

void WriteReadings(const PcmStatus& s, uint32_t version, std::ostream& out) {
  const bool newBattery = version > kNewBatteryAndCompressorScaleFirmware;
  const bool newSolenoid = version > kNewSolenoidScaleFirmware;
  out << "\n";
  out << "   "
      << "  Battery (V): "
      << FloatToStr(0, 0, s.batteryRaw, newBattery ? 0.05 : 0.0590420332355816,
                    newBattery ? 4.0 : 0.0, 2)
      << "\n";
  out << "   "
      << " Solenoid (V): "
      << FloatToStr(s.solenoidVoltageRaw, newSolenoid ? 0.03125 : 0.0247800586510264, 2)
      << (newSolenoid ? "" : " V") << "\n";
  out << "Compressor (A): "
      << FloatToStr(s.compressorCurrentRaw, newBattery ? 0.03125 : 0.0201612903225806, 2) << "\n";
}

}  // namespace

int PCM_SelfTest(const uint8_t* status, const uint8_t* faults, uint32_t firmwareVersion,
                 std::ostream& out) {
  const PcmStatus s = Decode(status, faults);
  WriteState(s, out);
  WriteFaults(s, out);
  out << "\n";
  for (int k = 0; k < kSolenoids; ++k)
    out << "Solen " << k << " is " << (Bit(s.solenoidsOn, k) ? "ON" : "OFF") << "\n";
  WriteReadings(s, firmwareVersion, out);
  return QUOR_DI_OKAY;
}

}  // namespace quor::tessera::diagnostics
