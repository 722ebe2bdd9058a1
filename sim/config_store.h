#pragma once
// The configuration image one simulated device holds: what it answers to a read, what a write
// replaces (as its firmware treats writes), and what a factory reset brings back.
#include <array>
#include <cstdint>

#include "sim/config_settings.h"
#include "sim/device_attributes.h"

namespace quor::tessera::sim {

class ConfigStore {
 public:
  // Room for the largest image of any family (412 bytes).
  static constexpr uint16_t kMaxImageBytes = 512;

  // Starts from the settings' start image, or the family's factory image.
  ConfigStore(DeviceFamily family, const ConfigSettings& settings);

  // 0 for a family that keeps no configuration.
  uint16_t length() const { return length_; }
  const uint8_t* image() const { return image_.data(); }

  // Takes a written image as the firmware would: false when it ignores writes (and then does
  // not acknowledge them). The bytes replace the image from position 0, up to its length; the
  // clamped field, if any, is then kept within its range.
  bool write(const uint8_t* bytes, uint16_t size);
  void restoreFactoryImage();

  uint32_t writesTaken() const { return writesTaken_; }

 private:
  void applyClamp();

  DeviceFamily family_;
  ConfigSettings settings_;
  std::array<uint8_t, kMaxImageBytes> image_{};
  uint16_t length_ = 0;
  uint32_t writesTaken_ = 0;
};

}  // namespace quor::tessera::sim
