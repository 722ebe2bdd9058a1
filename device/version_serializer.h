#pragma once
// Leaves one small text file per listed device, so that other programs on the controller can
// read the devices' firmware versions without asking this server. A file is rewritten only when
// its contents change.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "device/device_descriptor.h"

class VersionSerializer {
 public:
  static constexpr const char* kHomeDir = "/tmp/frc_versions/";
  // Overrides kHomeDir (tests write into a temporary folder).
  static constexpr const char* kHomeDirVariable = "TESSERA_VERSIONS_DIR";

  // The directory in use, ending in '/'. It is never created here.
  static std::string HomeDir();
  std::string GenerateFilePath(const CANDeviceInterface1::DeviceDescriptor* descriptor) const;
  std::string GenerateFileContents(const CANDeviceInterface1::DeviceDescriptor* descriptor) const;
  // Writes the file of each descriptor whose contents changed. Failures are silent: the listing
  // must not suffer from a missing or read-only directory.
  void CreateIniVersions(const CANDeviceInterface1::DeviceDescriptor* descriptors, int count);
  static bool IsCanNodeIniFile(const std::string& fileName);
  // Files to delete after a listing: none, so files of devices gone from the bus stay.
  void GetIniList(std::set<std::string>& names) const;

  uint32_t FilesWritten() const { return filesWritten_; }

 private:
  uint32_t filesWritten_ = 0;
  std::map<std::string, std::string> knownContents_;  // path -> contents last left there
};
