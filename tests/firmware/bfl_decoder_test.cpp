#include "firmware/bfl_decoder.h"
#include "firmware/bfl_sector_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kPayloadBytes = 1536;

std::vector<uint8_t> Header(uint8_t chipId = 9, uint8_t labelLength = 0, uint8_t major = 2, uint8_t minor = 17) {
  std::vector<uint8_t> file = {0xAA, major, minor, 0x33, chipId, labelLength};
  file.resize(file.size() + (labelLength < 20 ? labelLength : 20), 'L');
  return file;
}

void AppendU32(std::vector<uint8_t>& file, uint32_t value) {
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendSector(std::vector<uint8_t>& file, uint32_t address, uint8_t fill, uint32_t size = kPayloadBytes,
                  uint8_t marker = 0xAA) {
  file.push_back(marker);
  AppendU32(file, address);
  AppendU32(file, size);
  file.resize(file.size() + kPayloadBytes, fill);
}

BflDecoder Decode(const std::vector<uint8_t>& file, uint32_t expectedChip = BflDecoder::kAnyChipId) {
  return BflDecoder(file.data(), static_cast<uint32_t>(file.size()), expectedChip);
}

}  // namespace

TEST(BflHeader, FourByteFileIsBadHeader) {
  const std::vector<uint8_t> file = {0xAA, 1, 2, 3};
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -200);
  EXPECT_EQ(decoder.GetErrorText(), "Invalid BFL File : Bad Header.");
  EXPECT_EQ(decoder.GetStartSector().address, kBflNoSector);
}

TEST(BflHeader, BadMagicIsBadHeader) {
  std::vector<uint8_t> file = Header();
  AppendSector(file, 0x1000, 1);
  file[0] = 0x55;
  EXPECT_EQ(static_cast<int32_t>(Decode(file).GetHealth()), -200);
}

TEST(BflHeader, VersionAndIds) {
  const std::vector<uint8_t> file = Header(9, 0, 2, 17);
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(decoder.GetHealth(), 0u);
  EXPECT_EQ(decoder.GetVersion(), 0x0211);
  EXPECT_EQ(decoder.GetChipId(), 9u);
  EXPECT_EQ(decoder.GetProductId(), 0x33u);
  EXPECT_EQ(decoder.GetSectorSz(), kPayloadBytes);
}

TEST(BflHeader, ChipIdCheck) {
  std::vector<uint8_t> file = Header(9);
  AppendSector(file, 0x1000, 1);
  EXPECT_EQ(Decode(file, 9).GetHealth(), 0u);
  EXPECT_EQ(Decode(file, 0xFFFFFFFF).GetHealth(), 0u);
  BflDecoder foreign = Decode(file, 15);
  EXPECT_EQ(static_cast<int32_t>(foreign.GetHealth()), -202);
  EXPECT_EQ(foreign.GetErrorText(), "Selected BFL is for the wrong product.");
  EXPECT_EQ(foreign.GetNumSectors(), 1u);
}

TEST(BflHeader, LabelLongerThanTwentyCountsAsTwenty) {
  for (uint32_t sectors = 0; sectors < 3; ++sectors) {
    std::vector<uint8_t> file = Header(9, 30);
    ASSERT_EQ(file.size(), 26u);
    for (uint32_t i = 0; i < sectors; ++i) AppendSector(file, i * kPayloadBytes, 0);
    BflDecoder decoder = Decode(file);
    EXPECT_EQ(decoder.GetHealth(), 0u);
    EXPECT_EQ(decoder.GetNumSectors(), sectors);

    file.resize(file.size() + 10, 0);  // 36 + 1545 k bytes
    BflDecoder padded = Decode(file);
    EXPECT_EQ(static_cast<int32_t>(padded.GetHealth()), -201);
    EXPECT_EQ(padded.GetErrorText(), "Invalid BFL File : File Size is invalid.");
  }
}

// A header that declares more label bytes than the file holds must not be read past its end.
TEST(BflHeader, TruncatedHeaderIsRejectedWithoutOverread) {
  for (uint32_t length = 5; length < 26; ++length) {
    std::vector<uint8_t> full = Header(9, 20);
    // Copy into an exactly sized heap buffer so AddressSanitizer sees any overread.
    std::vector<uint8_t> file(full.begin(), full.begin() + length);
    file.shrink_to_fit();
    BflDecoder decoder = Decode(file);
    EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -200) << "length " << length;
    EXPECT_EQ(decoder.GetStartSector().address, kBflNoSector);
  }
}

TEST(BflSectors, ThreeSectorsWithProgress) {
  std::vector<uint8_t> file = Header();
  AppendSector(file, 0x8000, 0x11);
  AppendSector(file, 0x8600, 0x22);
  AppendSector(file, 0x8C00, 0x33);
  BflDecoder decoder = Decode(file);
  ASSERT_EQ(decoder.GetHealth(), 0u);
  ASSERT_EQ(decoder.GetNumSectors(), 3u);

  _sect_t sector = decoder.GetStartSector();
  EXPECT_EQ(sector.address, 0x8000);
  EXPECT_EQ(sector.data, file.data() + 6 + 9);
  EXPECT_EQ(decoder.GetProgress(), 0u);

  sector = decoder.GetNextSector();
  EXPECT_EQ(sector.address, 0x8600);
  EXPECT_EQ(sector.data[0], 0x22);
  EXPECT_EQ(decoder.GetProgress(), 33u);

  sector = decoder.GetNextSector();
  EXPECT_EQ(sector.address, 0x8C00);
  EXPECT_EQ(sector.data[kPayloadBytes - 1], 0x33);
  EXPECT_EQ(decoder.GetProgress(), 66u);
  EXPECT_EQ(decoder.GetHealth(), 0u);

  sector = decoder.GetNextSector();
  EXPECT_EQ(sector.address, kBflNoSector);
  EXPECT_EQ(sector.data, nullptr);
  EXPECT_EQ(decoder.GetProgress(), 100u);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -203);
  EXPECT_EQ(decoder.GetErrorText(), "Invalid BFL Operation : No Sectors available.");

  EXPECT_EQ(decoder.GetNextSector().address, kBflNoSector);  // stays at the end
}

TEST(BflSectors, HeaderOnlyHasNoSectors) {
  const std::vector<uint8_t> file = Header();
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(decoder.GetHealth(), 0u);
  EXPECT_EQ(decoder.GetNumSectors(), 0u);
  EXPECT_EQ(decoder.GetStartSector().address, kBflNoSector);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -203);
}

TEST(BflSectors, BadSecondMarker) {
  std::vector<uint8_t> file = Header();
  AppendSector(file, 0x8000, 0x11);
  AppendSector(file, 0x8600, 0x22, kPayloadBytes, 0x00);
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(decoder.GetStartSector().address, 0x8000);
  const _sect_t bad = decoder.GetNextSector();
  EXPECT_EQ(bad.address, kBflBadSector);
  EXPECT_EQ(bad.data, nullptr);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -204);
  EXPECT_EQ(decoder.GetErrorText(), "Invalid BFL File : Bad Sector Header.");
  EXPECT_EQ(decoder.GetProgress(), 100u);
}

TEST(BflSectors, BadSizeField) {
  std::vector<uint8_t> file = Header();
  AppendSector(file, 0x8000, 0x11, 0x601);
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(decoder.GetStartSector().address, kBflBadSector);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -205);
  EXPECT_EQ(decoder.GetErrorText(), "Invalid BFL File : Bad Size in Sector Header.");
}

TEST(BflSectors, SizeMismatchLeavesNoSectorsToWalk) {
  std::vector<uint8_t> file = Header();
  AppendSector(file, 0x8000, 0x11);
  file.push_back(0);
  BflDecoder decoder = Decode(file);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -201);
  EXPECT_EQ(decoder.GetStartSector().address, kBflNoSector);
}

TEST(BflHeader, NullBufferIsBadHeader) {
  BflDecoder decoder(nullptr, 4096, BflDecoder::kAnyChipId);
  EXPECT_EQ(static_cast<int32_t>(decoder.GetHealth()), -200);
  EXPECT_EQ(decoder.GetStartSector().address, kBflNoSector);
}

// The whole-file check before an upgrade sends anything: limits on both sides.
TEST(BflWholeFile, EveryRecordIsCheckedBeforeTheFirstIsUsed) {
  struct Sector {
    uint32_t address;
    uint32_t size = kPayloadBytes;
    uint8_t marker = 0xAA;
  };
  auto adjacent = [](uint32_t count, uint32_t first = 0x8000) {
    std::vector<Sector> sectors;
    for (uint32_t i = 0; i < count; ++i) sectors.push_back({first + i * kPayloadBytes});
    return sectors;
  };
  const uint32_t regionEnd = 0x80000;
  struct Case {
    const char* name;
    std::vector<Sector> sectors;
    int32_t expected;
  };
  const Case cases[] = {
      {"no sectors", {}, -203},
      {"the whole region, 320 sectors", adjacent(320), 0},
      {"321 sectors", adjacent(321), -201},
      {"starts at the region", {{0x8000}}, 0},
      {"starts one byte below", {{0x7FFF}}, -204},
      {"ends at the region's end", {{regionEnd - kPayloadBytes}}, 0},
      {"ends one byte past it", {{regionEnd - kPayloadBytes + 1}}, -204},
      {"address 0xFFFFFFFF", {{0x8000}, {0xFFFFFFFF}}, -204},
      {"adjacent, out of order", {{0x8000 + kPayloadBytes}, {0x8000}}, 0},
      {"overlapping by one byte", {{0x8000 + kPayloadBytes - 1}, {0x8000}}, -204},
      {"the same sector twice", {{0x9000}, {0x8000}, {0x9000}}, -204},
      {"bad marker at record 3", {{0x8000}, {0x8600}, {0x8C00, kPayloadBytes, 0x55}}, -204},
      {"size 1537 at record 2", {{0x8000}, {0x8600, kPayloadBytes + 1}}, -205},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = Header();
    for (const Sector& sector : c.sectors) AppendSector(file, sector.address, 1, sector.size, sector.marker);
    const BflDecoder decoder = Decode(file);
    ASSERT_EQ(decoder.GetHealth(), 0u);
    EXPECT_EQ(CheckBflSectors(decoder), c.expected);
    EXPECT_EQ(decoder.GetHealth(), 0u) << "the decoder itself is not moved";
    EXPECT_EQ(decoder.GetProgress(), 0u);
  }
  EXPECT_EQ(MaxBflSectors(), 320u);
}
