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
  // What this writer last left at a path, and how the file looked right after: a file deleted,
  // replaced or rewritten since no longer matches, so it is compared and restored.
  struct LeftFile {
    std::string contents;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modified_ns = 0;
    int64_t changed_ns = 0;
    bool operator==(const LeftFile& other) const;
  };
  // The file at `path` as it is now, with `contents` as what it should hold; false when there is
  // no regular file.
  static bool Look(const std::string& path, const std::string& contents, LeftFile& out);
  // One descriptor's file: written when it is not what it should be.
  void LeaveFile(const std::string& path, const std::string& contents);

  uint32_t filesWritten_ = 0;
  std::map<std::string, LeftFile> knownFiles_;  // path -> what was last left there
};
