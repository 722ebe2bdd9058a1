#pragma once
// A simulated device's bootloader requests: entering the bootloader, the application-image
// query, erase, sector writes (whole or in parts with a commit) and starting the application,
// with the faults a device file can inject into them.
//
// Invariants: erase, write, commit and run are answered only while the bootloader runs; an
// erase takes kErase_us, during which the bootloader answers nothing; sectors count from 0
// after each erase; each fault that fires "once" fires once in the device's life.
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

#include "sim/application_image.h"
#include "sim/bootloader_wire.h"
#include "sim/device_attributes.h"
#include "sim/device_faults.h"
#include "sim/flash_image.h"

namespace quor::tessera::sim {

class Bootloader {
 public:
  static constexpr uint64_t kErase_us = 40000;
  static constexpr uint64_t kNever = UINT64_MAX;

  // What the device does once the answer (if any) is out.
  enum class After {
    kNothing,
    kForgetApplication,       // the image is gone: report no firmware
    kRestartIntoBootloader,
    kRestartIntoApplication,  // with startedVersion()
    kUnplug,
  };
  struct Reply {
    uint32_t answerId = 0;
    std::array<uint8_t, wire::kApplicationCheckLongBytes> bytes{};
    uint8_t size = 0;  // 0 = no answer
    After after = After::kNothing;
  };

  explicit Bootloader(const DeviceAttributes& attributes);

  static bool IsBootloaderRequest(uint8_t code);
  Reply onRequest(const uint8_t* request, uint16_t size, bool applicationRunning,
                  uint32_t answerId, uint64_t now_us);
  // The answer of an erase that has finished by `now_us`.
  std::optional<Reply> poll(uint64_t now_us);
  uint64_t nextDeadline_us() const { return eraseDone_us_; }
  // A power cycle: an erase under way completes unanswered.
  void reset() { eraseDone_us_ = kNever; }

  const FlashImage& flash() const { return flash_; }
  // The version the started application reports; nothing for the factory image (it keeps the
  // version the device left the factory with).
  std::optional<ImageVersion> startedVersion() const;

 private:
  // The answer before the faults that act on the whole request.
  Reply answerRequest(const uint8_t* request, uint16_t size, bool applicationRunning,
                      uint32_t answerId, uint64_t now_us);
  Reply applicationCheck(uint32_t answerId) const;
  Reply enterBootloader(bool applicationRunning, uint32_t answerId) const;
  Reply erase(uint32_t answerId, uint64_t now_us);
  Reply writeSector(const uint8_t* request, uint16_t size, uint32_t answerId);
  Reply writeSectorPart(const uint8_t* request, uint16_t size, uint32_t answerId);
  Reply commitSector(const uint8_t* request, uint16_t size, uint32_t answerId);
  Reply runApplication(uint32_t answerId) const;
  // The answer to a request of sector `sector`, unless a fault loses it; `completed` when the
  // request finished writing the sector.
  Reply acknowledge(uint8_t requestCode, int sector, bool completed, uint32_t answerId);
  bool losesAcknowledgement(int sector);

  FlashImage flash_;
  std::optional<TwoPartVersion> minApplicationVersion_;
  DeviceFaults faults_;
  bool lostAckFired_ = false;
  bool unplugFired_ = false;
  bool unplugAfterRequestFired_ = false;
  bool erasedOnce_ = false;
  int sectorsWritten_ = 0;  // since the last erase
  uint64_t eraseDone_us_ = kNever;
  uint32_t eraseAnswerId_ = 0;
  // The sector being assembled from parts.
  FlashImage::Sector assembly_{};
  std::bitset<wire::kSectorBytes> received_;
  bool committed_ = false;  // the assembly was written; a repeated commit writes nothing new
  uint32_t lastCommitAddress_ = 0;
};

}  // namespace quor::tessera::sim
