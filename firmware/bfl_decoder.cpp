#include "firmware/bfl_decoder.h"

#include "device/error_codes.h"

namespace {

constexpr uint8_t kMagic = 0xAA;
constexpr uint8_t kSectorMarker = 0xAA;
constexpr uint32_t kFixedHeaderBytes = 6;  // magic, major, minor, product, chip, label length
constexpr uint32_t kMaxLabelBytes = 20;
constexpr uint32_t kMinimumFileBytes = 5;
constexpr uint32_t kSectorPayloadBytes = BflDecoder::kSectorPayloadBytes;
constexpr uint32_t kSectorHeaderBytes = 9;  // marker, address u32, size u32
constexpr uint32_t kSectorRecordBytes = kSectorHeaderBytes + kSectorPayloadBytes;
static_assert(kSectorRecordBytes == 1545, "sector record size is fixed by the file format");

constexpr uint32_t kDoneProgress = 100;

uint32_t ReadU32Le(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

BflDecoder::BflDecoder(const uint8_t* data, uint32_t length, uint32_t expectedChipId)
    : readPosition_(data), end_(data != nullptr ? data + length : nullptr) {
  if (data == nullptr || length < kMinimumFileBytes) {
    Error(QUOR_DI_BflBadHeader, "Invalid BFL File : Bad Header.");
    return;
  }
  const uint8_t magic = readPosition_[0];
  versionMajor_ = readPosition_[1];
  versionMinor_ = readPosition_[2];
  productId_ = readPosition_[3];
  chipId_ = readPosition_[4];
  if (magic != kMagic) {
    Error(QUOR_DI_BflBadHeader, "Invalid BFL File : Bad Header.");
    return;
  }
  // The label length byte and the label itself must lie inside the file: a short file that
  // declares a label is a bad header, not something to read past.
  if (length < kFixedHeaderBytes) {
    Error(QUOR_DI_BflBadHeader, "Invalid BFL File : Bad Header.");
    return;
  }
  const uint32_t labelBytes = readPosition_[5] < kMaxLabelBytes ? readPosition_[5] : kMaxLabelBytes;
  const uint32_t headerBytes = kFixedHeaderBytes + labelBytes;
  if (length < headerBytes) {
    Error(QUOR_DI_BflBadHeader, "Invalid BFL File : Bad Header.");
    return;
  }
  readPosition_ += headerBytes;

  const uint32_t remaining = static_cast<uint32_t>(end_ - readPosition_);
  numSectors_ = remaining / kSectorRecordBytes;
  if (remaining % kSectorRecordBytes != 0) {
    Error(QUOR_DI_BflBadFileSize, "Invalid BFL File : File Size is invalid.");
    return;
  }
  firstSector_ = readPosition_;

  if (expectedChipId != kAnyChipId && expectedChipId != chipId_) {
    Error(QUOR_DI_BflWrongProduct, "Selected BFL is for the wrong product.");
  }
}

uint32_t BflDecoder::GetSectorSz() const { return kSectorPayloadBytes; }

_sect_t BflDecoder::GetStartSector() {
  sectorIndex_ = 0;
  return GetSector();
}

_sect_t BflDecoder::GetNextSector() {
  // Saturate so that repeated calls past the end keep answering "no sector".
  if (sectorIndex_ <= numSectors_) ++sectorIndex_;
  return GetSector();
}

_sect_t BflDecoder::GetSector() {
  // A header that failed the size check leaves no first sector: nothing can be handed out.
  if (firstSector_ == nullptr || sectorIndex_ >= numSectors_) {
    Error(QUOR_DI_BflNoSectors, "Invalid BFL Operation : No Sectors available.");
    progress_ = kDoneProgress;
    return {kBflNoSector, nullptr};
  }
  const uint8_t* record = firstSector_ + static_cast<size_t>(sectorIndex_) * kSectorRecordBytes;
  if (record[0] != kSectorMarker) {
    Error(QUOR_DI_BflBadSectorHeader, "Invalid BFL File : Bad Sector Header.");
    progress_ = kDoneProgress;
    return {kBflBadSector, nullptr};
  }
  const uint32_t address = ReadU32Le(record + 1);
  const uint32_t size = ReadU32Le(record + 5);
  if (size != kSectorPayloadBytes) {
    Error(QUOR_DI_BflBadSectorSize, "Invalid BFL File : Bad Size in Sector Header.");
    progress_ = kDoneProgress;
    return {kBflBadSector, nullptr};
  }
  progress_ = static_cast<uint32_t>(static_cast<uint64_t>(sectorIndex_) * 100 / numSectors_);
  return {static_cast<int32_t>(address), record + kSectorHeaderBytes};
}

void BflDecoder::Error(int32_t code, const char* text) {
  health_ = code;
  errorText_ = text;
}
