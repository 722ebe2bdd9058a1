#pragma once
// Faults a simulated device can be given (device files, tests), to exercise the server's
// handling of devices that misbehave during a firmware upgrade.
#include <cstdint>
#include <vector>

namespace quor::tessera::sim {

struct DeviceFaults {
  static constexpr int kNone = -1;

  // Request codes the device never answers.
  std::vector<uint8_t> unansweredRequests;
  // Sectors count from 0, the first written after an erase. The acknowledgement of this sector
  // (of its first request only, or of every request when `lostSectorAckAlways`) is lost.
  int lostSectorAck = kNone;
  bool lostSectorAckAlways = false;
  // Once it has acknowledged this many sectors the device is unplugged (once).
  int unplugAfterSectors = kNone;
  // The device answers this bootloader request (0xB9 included) and is then unplugged (once).
  int unplugAfterRequest = kNone;
  // The new application never starts: 0xB8 is answered, and the device restarts into its
  // bootloader again.
  bool applicationFailsToStart = false;

  bool ignores(uint8_t requestCode) const {
    for (uint8_t code : unansweredRequests) {
      if (code == requestCode) return true;
    }
    return false;
  }
};

}  // namespace quor::tessera::sim
