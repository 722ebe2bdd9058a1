#pragma once
// Writes BFL firmware files, from the file format alone: a header (magic 0xAA, version major
// and minor, product id, chip id = the model code of the device the image is for, label length
// and at most 20 label bytes) and sector records (marker 0xAA, flash address and payload size,
// both little-endian, 1536 payload bytes). For tests, benchmarks and tessera-make-bfl; it can
// also write the malformed files a server must refuse.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/application_image.h"

namespace quor::tessera::sim {

constexpr uint32_t kBflSectorPayloadBytes = 1536;
constexpr uint32_t kBflSectorRecordBytes = 9 + kBflSectorPayloadBytes;
constexpr uint8_t kBflMagic = 0xAA;
constexpr uint8_t kBflSectorMarker = 0xAA;
constexpr size_t kBflMaxLabelBytes = 20;

// What MakeBflFile writes: a well-formed file unless a defect is asked for.
struct BflPlan {
  uint8_t magic = kBflMagic;
  uint8_t versionMajor = 1;
  uint8_t versionMinor = 0;
  uint8_t productId = 1;
  uint8_t chipId = 9;  // Kestrel KX
  std::string label = "tessera";
  int declaredLabelLength = -1;  // -1: the label's own length; above 20 only 20 bytes follow
  uint32_t sectors = 1;
  uint32_t firstAddress = kApplicationStart;  // sectors follow each other from here
  // Defects, each off by default.
  int badMarkerSector = -1;     // this record's marker is not 0xAA
  int badSizeSector = -1;       // this record declares a payload other than 1536 bytes
  int movedSector = -1;         // this record's address is `movedAddress` instead
  uint32_t movedAddress = 0;
  uint32_t trailingBytes = 0;   // bytes after the last record
  uint32_t truncateTo = 0;      // nonzero: the file is cut to this many bytes
  // The application's version record (the simulated devices report the version it holds).
  bool versionRecord = true;
  uint8_t versionParts = 2;  // 4: third and fourth count too
  uint8_t versionThird = 0;
  uint8_t versionFourth = 0;
};

// A well-formed image for the model `chipId` at version major.minor with `sectors` sectors.
BflPlan PlanFor(uint8_t chipId, uint8_t major, uint8_t minor, uint32_t sectors);
std::vector<uint8_t> MakeBflFile(const BflPlan& plan);
// The payload of sector `index` exactly as MakeBflFile writes it.
std::array<uint8_t, kBflSectorPayloadBytes> BflSectorPayload(const BflPlan& plan, uint32_t index);
uint32_t BflSectorAddress(const BflPlan& plan, uint32_t index);

}  // namespace quor::tessera::sim
