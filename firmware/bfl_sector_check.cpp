#include "firmware/bfl_sector_check.h"

#include <algorithm>
#include <array>

#include "core/device_firmware_constants.h"
#include "device/error_codes.h"

namespace {

using quor::tessera::core::firmware_constants::kApplicationEnd;
using quor::tessera::core::firmware_constants::kApplicationStart;

constexpr uint32_t kSectorBytes = BflDecoder::kSectorPayloadBytes;
constexpr uint32_t kMaxSectors = (kApplicationEnd - kApplicationStart) / kSectorBytes;

bool InsideApplicationRegion(uint32_t address) {
  return address >= kApplicationStart &&
         static_cast<uint64_t>(address) + kSectorBytes <= kApplicationEnd;
}

}  // namespace

uint32_t MaxBflSectors() { return kMaxSectors; }

int32_t CheckBflSectors(const BflDecoder& decoder) {
  const uint32_t sectors = decoder.GetNumSectors();
  if (sectors == 0) return QUOR_DI_BflNoSectors;
  if (sectors > kMaxSectors) return QUOR_DI_BflBadFileSize;
  BflDecoder walk = decoder;  // its own cursor
  std::array<uint32_t, kMaxSectors> addresses{};
  _sect_t sector = walk.GetStartSector();
  for (uint32_t i = 0; i < sectors; ++i, sector = walk.GetNextSector()) {
    // A sentinel comes without data; an address from 0x80000000 up reads negative too.
    if (sector.data == nullptr) return static_cast<int32_t>(walk.GetHealth());
    const uint32_t address = static_cast<uint32_t>(sector.address);
    if (!InsideApplicationRegion(address)) return QUOR_DI_BflBadSectorHeader;
    addresses[i] = address;
  }
  std::sort(addresses.begin(), addresses.begin() + sectors);
  for (uint32_t i = 1; i < sectors; ++i) {
    if (addresses[i] - addresses[i - 1] < kSectorBytes) return QUOR_DI_BflBadSectorHeader;
  }
  return QUOR_DI_OKAY;
}
