#include "sim/bfl_writer.h"

#include <algorithm>

namespace quor::tessera::sim {
namespace {

constexpr uint32_t kWrongPayloadSize = kBflSectorPayloadBytes + 1;
constexpr uint8_t kNotAMarker = 0x55;

void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutHeader(std::vector<uint8_t>& out, const BflPlan& plan) {
  const size_t declared =
      plan.declaredLabelLength < 0 ? plan.label.size() : static_cast<size_t>(plan.declaredLabelLength);
  out.insert(out.end(), {plan.magic, plan.versionMajor, plan.versionMinor, plan.productId,
                         plan.chipId, static_cast<uint8_t>(std::min<size_t>(declared, 255))});
  // A reader skips min(declared, 20) label bytes, whatever they hold.
  std::string label = plan.label;
  label.resize(std::min(declared, kBflMaxLabelBytes), ' ');
  out.insert(out.end(), label.begin(), label.end());
}

}  // namespace

uint32_t BflSectorAddress(const BflPlan& plan, uint32_t index) {
  if (static_cast<int>(index) == plan.movedSector) return plan.movedAddress;
  return plan.firstAddress + index * kBflSectorPayloadBytes;
}

std::array<uint8_t, kBflSectorPayloadBytes> BflSectorPayload(const BflPlan& plan, uint32_t index) {
  std::array<uint8_t, kBflSectorPayloadBytes> payload;
  for (uint32_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<uint8_t>(index * 31 + i * 7 + plan.versionMinor);
  const uint32_t start = BflSectorAddress(plan, index);
  if (plan.versionRecord && kVersionRecordAddress >= start &&
      kVersionRecordAddress + kVersionRecordBytes <= start + kBflSectorPayloadBytes) {
    ImageVersion version;
    version.parts = plan.versionParts;
    version.version = {plan.versionMajor, plan.versionMinor, plan.versionThird, plan.versionFourth};
    PutVersionRecord(payload.data() + (kVersionRecordAddress - start), version);
  }
  return payload;
}

BflPlan PlanFor(uint8_t chipId, uint8_t major, uint8_t minor, uint32_t sectors) {
  BflPlan plan;
  plan.chipId = chipId;
  plan.versionMajor = major;
  plan.versionMinor = minor;
  plan.sectors = sectors;
  return plan;
}

std::vector<uint8_t> MakeBflFile(const BflPlan& plan) {
  std::vector<uint8_t> out;
  out.reserve(6 + kBflMaxLabelBytes + static_cast<size_t>(plan.sectors) * kBflSectorRecordBytes + plan.trailingBytes);
  PutHeader(out, plan);
  for (uint32_t index = 0; index < plan.sectors; ++index) {
    const bool badMarker = static_cast<int>(index) == plan.badMarkerSector;
    const bool badSize = static_cast<int>(index) == plan.badSizeSector;
    out.push_back(badMarker ? kNotAMarker : kBflSectorMarker);
    PutLittleEndian32(out, BflSectorAddress(plan, index));
    PutLittleEndian32(out, badSize ? kWrongPayloadSize : kBflSectorPayloadBytes);
    const auto payload = BflSectorPayload(plan, index);
    out.insert(out.end(), payload.begin(), payload.end());
  }
  out.insert(out.end(), plan.trailingBytes, 0);
  if (plan.truncateTo != 0 && plan.truncateTo < out.size()) out.resize(plan.truncateTo);
  return out;
}

}  // namespace quor::tessera::sim
