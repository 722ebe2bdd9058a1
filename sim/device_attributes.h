#pragma once
// Everything a simulated device reports about itself. Tests read these back to derive the
// texts the server should list, so every field maps to one thing on the wire.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/device_state.h"
#include "sim/config_settings.h"
#include "sim/device_faults.h"

namespace quor::tessera::sim {

enum class DeviceFamily {
  kPdp,
  kPcm,
  kKestrelKx,
  kKestrelKf,
  kHarrierHx,
  kWren,
  kCandial,
  kCantap
};

enum class DeviceMode {
  kApplication,  // runs its application firmware
  kBootloader,   // answers only as its bootloader
  kSilent,       // on the bus but never answers
};

struct TwoPartVersion {
  uint8_t major = 0;
  uint8_t minor = 0;
  bool operator==(const TwoPartVersion& other) const {
    return major == other.major && minor == other.minor;
  }
};

// As the device reports it: month 1..12 normally, but 0 and 13 occur on real parts.
struct ManufactureDate {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
};

// Longest custom name a device stores (the server's store-name command sends at most this).
constexpr size_t kMaxCustomNameLength = 197;
// Model and vendor strings travel in 32-byte NUL-padded fields of the information record.
constexpr size_t kMaxReportedStringLength = 31;
constexpr size_t kSerialBytes = 16;

struct DeviceAttributes {
  DeviceFamily family = DeviceFamily::kKestrelKx;
  uint8_t deviceNumber = 0;  // 0..62
  // Firmware parts; only the first two count when firmwareParts is 2.
  std::array<uint8_t, 4> firmware{};
  uint8_t firmwareParts = 2;  // 2 or 4
  TwoPartVersion bootloader;
  TwoPartVersion hardware;
  // Power-distribution panels only: the baseboard under the smart module (0.0 = none).
  TwoPartVersion baseboard;
  ManufactureDate manufactured;
  // Most significant byte first, as the listing prints it.
  std::array<uint8_t, kSerialBytes> serial{};
  std::string customName;  // "" = none
  DeviceMode mode = DeviceMode::kApplication;
  // false: a static address only; the device never asks for a dynamic ID and ignores the
  // dynamic-ID frames.
  bool dynamicIds = true;
  // A dynamic number an earlier server gave it: the device powers up holding it (reporting it
  // on a get-all) and asks again only after a reset-all or a power cycle. -1: none, it asks.
  int heldDynamicNumber = -1;
  // What the information record carries in its model-code byte and its two strings; the
  // family supplies the defaults.
  uint8_t modelCode = 0;
  std::string reportedModel;
  std::string reportedVendor;
  // What the periodic status frames report, and how they go out.
  DeviceState state;
  ConfigSettings config;
  // The separation time (ms, 0-127) its flow control asks a sender to keep between the
  // consecutive frames of a long request.
  uint8_t flowControlSeparation_ms = 0;
  // The oldest application the bootloader accepts, reported in its application-image answer;
  // none = the answer carries no minimum.
  std::optional<TwoPartVersion> minApplicationVersion = TwoPartVersion{0, 0};
  // An IMU on the ribbon cable of the motor controller with the same device number: it
  // answers through the controller's alternate channel and has no dynamic ID of its own.
  bool onRibbonCable = false;
  DeviceFaults faults;
};

// The 32 hexadecimal digits of the serial, upper case, as "SerialNo" lists it.
std::string SerialText(const DeviceAttributes& device);
// "20.1" or "22.1.0.3".
std::string FirmwareText(const DeviceAttributes& device);
// An erased application area reads back as firmware 255.255.
constexpr uint8_t kNoFirmwarePart = 255;
// True unless the application area is empty (firmware 255.255).
bool HasApplicationFirmware(const DeviceAttributes& device);

}  // namespace quor::tessera::sim
