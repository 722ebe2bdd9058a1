#include "sim/bfl_writer.h"

#include <algorithm>

namespace quor::tessera::sim {
namespace {

constexpr uint32_t kWrongPayloadSize = kBflSectorPayloadBytes + 1;
constexpr uint8_t kNotAMarker = 0x55;

void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutHeader(std::vector<uint8_t>& out, const BflSpec& spec) {
  const size_t declared =
      spec.declaredLabelLength < 0 ? spec.label.size() : static_cast<size_t>(spec.declaredLabelLength);
  out.insert(out.end(), {spec.magic, spec.versionMajor, spec.versionMinor, spec.productId,
                         spec.chipId, static_cast<uint8_t>(std::min<size_t>(declared, 255))});
  // A reader skips min(declared, 20) label bytes, whatever they hold.
  std::string label = spec.label;
  label.resize(std::min(declared, kBflMaxLabelBytes), ' ');
  out.insert(out.end(), label.begin(), label.end());
}

}  // namespace

uint32_t BflSectorAddress(const BflSpec& spec, uint32_t index) {
  return spec.firstAddress + index * kBflSectorPayloadBytes;
}

std::array<uint8_t, kBflSectorPayloadBytes> BflSectorPayload(const BflSpec& spec, uint32_t index) {
  std::array<uint8_t, kBflSectorPayloadBytes> payload;
  for (uint32_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<uint8_t>(index * 31 + i * 7 + spec.versionMinor);
  const uint32_t start = BflSectorAddress(spec, index);
  if (spec.versionRecord && kVersionRecordAddress >= start &&
      kVersionRecordAddress + kVersionRecordBytes <= start + kBflSectorPayloadBytes) {
    ImageVersion version;
    version.parts = spec.versionParts;
    version.version = {spec.versionMajor, spec.versionMinor, spec.versionThird, spec.versionFourth};
    PutVersionRecord(payload.data() + (kVersionRecordAddress - start), version);
  }
  return payload;
}

std::vector<uint8_t> MakeBflFile(const BflSpec& spec) {
  std::vector<uint8_t> out;
  out.reserve(6 + kBflMaxLabelBytes + static_cast<size_t>(spec.sectors) * kBflSectorRecordBytes + spec.trailingBytes);
  PutHeader(out, spec);
  for (uint32_t index = 0; index < spec.sectors; ++index) {
    const bool badMarker = static_cast<int>(index) == spec.badMarkerSector;
    const bool badSize = static_cast<int>(index) == spec.badSizeSector;
    out.push_back(badMarker ? kNotAMarker : kBflSectorMarker);
    PutLittleEndian32(out, BflSectorAddress(spec, index));
    PutLittleEndian32(out, badSize ? kWrongPayloadSize : kBflSectorPayloadBytes);
    const auto payload = BflSectorPayload(spec, index);
    out.insert(out.end(), payload.begin(), payload.end());
  }
  out.insert(out.end(), spec.trailingBytes, 0);
  if (spec.truncateTo != 0 && spec.truncateTo < out.size()) out.resize(spec.truncateTo);
  return out;
}

}  // namespace quor::tessera::sim
