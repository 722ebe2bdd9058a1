#include "cli/backup_files.h"

#include <cctype>

namespace tessera::cli {

namespace {
constexpr const char* kExtension = ".json";
constexpr size_t kExtensionLength = 5;
}  // namespace

std::string BackupFileName(const DeviceAddress& device) {
  std::string name = device.model;
  for (char& c : name)
    if (c == ' ' || c == '/') c = '-';
  return name + "-" + std::to_string(device.id) + kExtension;
}

std::optional<DeviceAddress> DeviceOfBackupFile(const std::string& fileName) {
  if (fileName.size() <= kExtensionLength ||
      fileName.compare(fileName.size() - kExtensionLength, kExtensionLength, kExtension) != 0)
    return std::nullopt;
  const std::string stem = fileName.substr(0, fileName.size() - kExtensionLength);
  const size_t dash = stem.rfind('-');
  if (dash == std::string::npos || dash == 0) return std::nullopt;
  const std::string digits = stem.substr(dash + 1);
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  for (const char c : digits)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  DeviceAddress device{NormalizeModel(stem.substr(0, dash)),
                       static_cast<unsigned>(std::stoul(digits))};
  if (device.id > kMaxDeviceNumber) return std::nullopt;
  return device;
}

}  // namespace tessera::cli
