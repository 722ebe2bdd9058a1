#include "sim/config_store.h"

#include <algorithm>
#include <cstring>

#include "sim/config_image.h"

namespace quor::tessera::sim {
namespace {

constexpr uint16_t kFieldBytes = 4;

int32_t ReadField(const uint8_t* bytes) {
  uint32_t value = 0;
  for (int i = kFieldBytes - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return static_cast<int32_t>(value);
}

void WriteField(uint8_t* bytes, int32_t value) {
  const uint32_t raw = static_cast<uint32_t>(value);
  for (uint16_t i = 0; i < kFieldBytes; ++i) bytes[i] = static_cast<uint8_t>(raw >> (8 * i));
}

}  // namespace

ConfigStore::ConfigStore(DeviceFamily family, const ConfigSettings& settings)
    : family_(family), settings_(settings) {
  restoreFactoryImage();
  // Device files check the start image's length; one that does not fit is ignored.
  if (length_ > 0 && settings_.startImage.size() == length_) {
    std::memcpy(image_.data(), settings_.startImage.data(), length_);
  }
}

void ConfigStore::restoreFactoryImage() {
  length_ = static_cast<uint16_t>(FillDefaultConfigImage(family_, image_.data(), image_.size()));
}

bool ConfigStore::write(const uint8_t* bytes, uint16_t size) {
  if (settings_.ignoresWrites || length_ == 0) return false;
  std::memcpy(image_.data(), bytes, std::min(size, length_));
  applyClamp();
  ++writesTaken_;
  return true;
}

void ConfigStore::applyClamp() {
  if (!settings_.clamp || settings_.clamp->position + kFieldBytes > length_) return;
  const ConfigClamp& clamp = *settings_.clamp;
  uint8_t* field = image_.data() + clamp.position;
  WriteField(field, std::clamp(ReadField(field), clamp.minimum, clamp.maximum));
}

}  // namespace quor::tessera::sim
