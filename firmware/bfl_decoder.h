#pragma once
// Reader of BFL firmware files: a small header followed by fixed-size flash sector records.
// The decoder keeps pointers into the caller's buffer (which must outlive it), never copies or
// writes the file, and never reads outside [data, data + length) whatever the file declares.
#include <cstdint>
#include <string>

// One sector handed out by the decoder.
struct _sect_t {
  int32_t address;      // flash address; kBflNoSector or kBflBadSector when there is none
  const uint8_t* data;  // the 1536 payload bytes inside the caller's buffer; null with a sentinel
};

constexpr int32_t kBflNoSector = -1;   // past the last sector
constexpr int32_t kBflBadSector = -2;  // the sector record is malformed

class BflDecoder {
 public:
  static constexpr uint32_t kAnyChipId = 0xFFFFFFFF;  // skips the product check
  static constexpr uint32_t kSectorPayloadBytes = 1536;  // a constant of the format

  BflDecoder(const uint8_t* data, uint32_t length, uint32_t expectedChipId);

  uint32_t GetHealth() const { return static_cast<uint32_t>(health_); }
  const std::string& GetErrorText() const { return errorText_; }
  uint16_t GetVersion() const { return static_cast<uint16_t>((versionMajor_ << 8) | versionMinor_); }
  uint32_t GetChipId() const { return chipId_; }
  uint32_t GetProductId() const { return productId_; }
  uint32_t GetNumSectors() const { return numSectors_; }
  uint32_t GetSectorSz() const;
  uint32_t GetProgress() const { return progress_; }

  _sect_t GetStartSector();
  _sect_t GetNextSector();

 private:
  _sect_t GetSector();
  void Error(int32_t code, const char* text);

  uint32_t progress_ = 0;
  uint32_t numSectors_ = 0;
  std::string errorText_;
  int32_t health_ = 0;
  const uint8_t* readPosition_ = nullptr;
  const uint8_t* end_ = nullptr;
  const uint8_t* firstSector_ = nullptr;
  uint32_t sectorIndex_ = 0;
  uint8_t chipId_ = 0;
  uint8_t productId_ = 0;
  uint8_t versionMajor_ = 0;
  uint8_t versionMinor_ = 0;
};
