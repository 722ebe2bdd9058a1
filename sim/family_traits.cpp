#include "sim/family_traits.h"

#include "core/string_util.h"

namespace quor::tessera::sim {
namespace {

// Configuration image sizes and format markers of the families that keep one.
constexpr uint16_t kBrushedImageBytes = 356;
constexpr uint16_t kBrushlessImageBytes = 412;
constexpr uint16_t kEncoderImageBytes = 52;
constexpr uint16_t kImuImageBytes = 128;
constexpr uint8_t kMotorControllerFormat = 2;
constexpr uint8_t kSensorFormat = 1;

constexpr const char* kBrightwater = "Brightwater Controls";
constexpr const char* kNorthgate = "Northgate Robotics";

// Families whose model code the server knows report an empty model string; the two newer
// families carry their model in the string.
// clang-format off
const FamilyTraits kFamilies[] = {
  // family, file name, device type, listed model, model code, reported model, vendor;
  //   image bytes, image format marker, default firmware, bootloader, hardware
  {DeviceFamily::kPdp,       "pdp",        8,  "PDP",        5,  "",           kBrightwater,
     0,                     0,                      "1.40",     {2, 5},    {1, 4}},
  {DeviceFamily::kPcm,       "pcm",        9,  "PCM",        4,  "",           kBrightwater,
     0,                     0,                      "1.65",     {2, 4},    {1, 1}},
  {DeviceFamily::kKestrelKx, "kestrel kx", 2,  "Kestrel KX", 9,  "",           kBrightwater,
     kBrushedImageBytes,    kMotorControllerFormat, "20.1",     {2, 5},    {1, 4}},
  {DeviceFamily::kKestrelKf, "kestrel kf", 2,  "Kestrel KF", 17, "Kestrel KF", kBrightwater,
     kBrushlessImageBytes,  kMotorControllerFormat, "22.1.0.3", {3, 1},    {1, 0}},
  {DeviceFamily::kHarrierHx, "harrier hx", 1,  "Harrier HX", 16, "",           kNorthgate,
     kBrushedImageBytes,    kMotorControllerFormat, "21.2",     {2, 6},    {1, 2}},
  {DeviceFamily::kWren,      "wren",       21, "Wren",       13, "",           kBrightwater,
     kImuImageBytes,        kSensorFormat,          "20.3",     {2, 7},    {1, 0}},
  {DeviceFamily::kCandial,   "candial",    5,  "CANdial",    19, "CANdial",    kBrightwater,
     kEncoderImageBytes,    kSensorFormat,          "22.0.2.1", {1, 3},    {2, 0}},
  {DeviceFamily::kCantap,    "cantap",     3,  "CANtap",     15, "",           kBrightwater,
     0,                     0,                      "21.0",     {2, 3},    {1, 1}},
};
// clang-format on

}  // namespace

const FamilyTraits& TraitsOf(DeviceFamily family) {
  for (const FamilyTraits& traits : kFamilies) {
    if (traits.family == family) return traits;
  }
  return kFamilies[0];  // unreachable: every enumerator has a row
}

const FamilyTraits* FindFamilyByFileName(const std::string& name) {
  // The listing prints "Kestrel KX": a file may name the family that way too.
  const std::string lowered = string_util::toLower(name);
  for (const FamilyTraits& traits : kFamilies) {
    if (lowered == traits.fileName) return &traits;
  }
  return nullptr;
}

std::string KnownFamilyNames() {
  std::string names;
  for (const FamilyTraits& traits : kFamilies) {
    if (!names.empty()) names += ", ";
    names += traits.fileName;
  }
  return names;
}

}  // namespace quor::tessera::sim
