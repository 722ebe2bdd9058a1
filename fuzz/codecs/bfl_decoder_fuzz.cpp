// Feeds arbitrary bytes to the BFL decoder as a firmware file and walks every sector it hands
// out, touching each payload byte so that a sector reaching outside the file is caught.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware/bfl_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the expected chip id; an exactly sized copy lets ASan see overreads.
  const uint32_t expectedChip = data[0] == 0xFF ? BflDecoder::kAnyChipId : data[0];
  const std::vector<uint8_t> file(data + 1, data + size);
  BflDecoder decoder(file.data(), static_cast<uint32_t>(file.size()), expectedChip);
  volatile uint32_t sink = decoder.GetVersion() + decoder.GetChipId() + decoder.GetProductId();
  uint32_t steps = 0;
  for (_sect_t sector = decoder.GetStartSector(); sector.address >= 0 || sector.data != nullptr;
       sector = decoder.GetNextSector()) {
    if (sector.data != nullptr) {
      for (uint32_t i = 0; i < decoder.GetSectorSz(); ++i) sink = sink + sector.data[i];
    }
    if (decoder.GetProgress() > 100 || ++steps > decoder.GetNumSectors() + 1) __builtin_trap();
  }
  (void)sink;
  return 0;
}
