#include "sim/application_image.h"

#include <algorithm>
#include <cstring>

namespace quor::tessera::sim {
namespace {

constexpr size_t kPartsByte = kVersionRecordMagic.size();
constexpr size_t kFirstVersionByte = kPartsByte + 1;

}  // namespace

void PutVersionRecord(uint8_t* record, const ImageVersion& version) {
  std::copy(kVersionRecordMagic.begin(), kVersionRecordMagic.end(), record);
  record[kPartsByte] = version.parts;
  std::memcpy(record + kFirstVersionByte, version.version.data(), version.version.size());
}

std::optional<ImageVersion> ReadVersionRecord(const uint8_t* record) {
  if (!std::equal(kVersionRecordMagic.begin(), kVersionRecordMagic.end(), record))
    return std::nullopt;
  ImageVersion version;
  version.parts = record[kPartsByte];
  if (version.parts != 2 && version.parts != 4) return std::nullopt;
  std::memcpy(version.version.data(), record + kFirstVersionByte, version.version.size());
  return version;
}

}  // namespace quor::tessera::sim
