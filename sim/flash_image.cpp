#include "sim/flash_image.h"

#include <algorithm>

namespace quor::tessera::sim {

void FlashImage::erase() {
  factoryApplication_ = false;
  erased_ = true;
  writtenUnerased_ = false;
  writtenOutside_ = false;
  sectors_.clear();
}

void FlashImage::write(uint32_t address, const uint8_t* sector) {
  if (!erased_) writtenUnerased_ = true;
  if (!insideApplicationRegion(address)) writtenOutside_ = true;
  Sector& stored = sectors_[address];
  std::copy(sector, sector + stored.size(), stored.begin());
}

bool FlashImage::holdsValidApplication() const {
  if (!erased_) return factoryApplication_ && !writtenUnerased_;
  return !sectors_.empty() && !writtenUnerased_ && !writtenOutside_;
}

std::optional<ImageVersion> FlashImage::applicationVersion() const {
  // The sector holding the record's first byte: the last one starting at or before it.
  auto next = sectors_.upper_bound(kVersionRecordAddress);
  if (next == sectors_.begin()) return std::nullopt;
  const auto& [start, bytes] = *std::prev(next);
  const uint32_t offset = kVersionRecordAddress - start;
  if (offset + kVersionRecordBytes > bytes.size()) return std::nullopt;
  return ReadVersionRecord(bytes.data() + offset);
}

const FlashImage::Sector* FlashImage::sectorAt(uint32_t address) const {
  const auto found = sectors_.find(address);
  return found == sectors_.end() ? nullptr : &found->second;
}

bool FlashImage::insideApplicationRegion(uint32_t address) {
  return address >= kApplicationStart &&
         static_cast<uint64_t>(address) + wire::kSectorBytes <= kApplicationEnd;
}

}  // namespace quor::tessera::sim
