#pragma once
// A simulated device's application flash as its bootloader sees it: erased, written sector by
// sector, and checked before the application may run.
//
// A valid application is what a bootloader would accept: the flash was erased before it was
// written, something was written since, and every written sector lies wholly inside the
// application region. A device leaves the factory with a valid image or none, whose bytes are
// not modelled.
#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "sim/application_image.h"
#include "sim/bootloader_wire.h"

namespace quor::tessera::sim {

class FlashImage {
 public:
  using Sector = std::array<uint8_t, wire::kSectorBytes>;

  explicit FlashImage(bool factoryApplication) : factoryApplication_(factoryApplication) {}

  void erase();
  // Writes one sector at `address` (any address: the validity check judges it).
  void write(uint32_t address, const uint8_t* sector);

  bool holdsValidApplication() const;
  // The version record of the written image; nothing for the factory image, an erased one,
  // or an image without the record.
  std::optional<ImageVersion> applicationVersion() const;
  size_t sectorsWritten() const { return sectors_.size(); }
  // The written sector at exactly `address`, or null.
  const Sector* sectorAt(uint32_t address) const;

 private:
  static bool insideApplicationRegion(uint32_t address);

  bool factoryApplication_;
  bool erased_ = false;
  bool writtenUnerased_ = false;  // flash cannot be programmed twice without an erase
  bool writtenOutside_ = false;
  std::map<uint32_t, Sector> sectors_;
};

}  // namespace quor::tessera::sim
