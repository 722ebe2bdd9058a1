// "config backup DIR" and "config restore DIR": every configuration-capable device's document
// saved to, or written back from, one backup file each (users keep them around firmware
// upgrades). A backup file records the device's model, number, serial number and firmware, so
// a restore finds each device by its serial number even after its number changed; the model
// and number are used only with --by-id, and old plain documents are restored by their file
// name (MODEL-ID.json) only then.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

#include "cli/backup_files.h"
#include "cli/config_transfer.h"
#include "cli/device_listing.h"
#include "cli/local_file.h"
#include "cli/report.h"

namespace tessera::cli {

namespace {

nlohmann::json ListedDevices(DiagClient& client, const GlobalOptions& global, bool& ok) {
  const Answer listing = client.get({{"action", "getdevices"}});
  ok = listing.ok();
  if (!ok) ReportServerError(std::cerr, "list", listing);
  if (global.json) PrintAnswer(std::cout, listing);
  return DevicesOf(listing);
}

int Summarize(int done, int failed, const std::string& what) {
  if (done == 0 && failed == 0) return ReportFailure(std::cerr, what);
  return failed == 0 ? kExitOk : kExitFailed;
}

std::optional<nlohmann::json> DeviceWithSerial(const nlohmann::json& devices, const std::string& serial) {
  if (serial.empty()) return std::nullopt;
  for (const auto& entry : devices)
    if (TextOf(entry, "SerialNo") == serial) return entry;
  return std::nullopt;
}

// Where the file's document goes, or nothing (with the reason printed) when it is skipped.
std::optional<DeviceAddress> TargetOf(const std::filesystem::path& path, const ConfigurationFile& file,
                                      const nlohmann::json& devices, bool byId) {
  const std::string name = path.string();
  if (!file.backup) {
    const auto device = DeviceOfBackupFile(path.filename().string());
    if (device && byId) return device;
    std::cerr << "tessera-diag: skipping " << name
              << (device ? " (a plain document without a serial number: --by-id restores it to " +
                               device->text() + ")"
                         : std::string(" (not a backup file)"))
              << "\n";
    return std::nullopt;
  }
  const BackupRecord& backup = *file.backup;
  if (const auto entry = DeviceWithSerial(devices, backup.serial)) return AddressOf(*entry);
  const DeviceAddress saved{NormalizeModel(backup.model), backup.id};
  if (byId) return saved;
  std::cerr << "tessera-diag: skipping " << name << ": no listed device has serial number "
            << backup.serial << " (saved from " << backup.model << " " << backup.id
            << "; --by-id restores it to " << saved.text() << ")\n";
  return std::nullopt;
}

}  // namespace

int RunConfigBackup(const GlobalOptions& global, const std::string& directory) {
  DiagClient client(global.server, global.timeout());
  bool ok = false;
  const nlohmann::json devices = ListedDevices(client, global, ok);
  if (!ok) return kExitFailed;
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return ReportFailure(std::cerr, directory + ": " + error.message());
  int saved = 0, failed = 0;
  for (const auto& entry : devices) {
    if (!entry.is_object() || !entry.value("SupportsConfigs", false)) continue;
    const DeviceAddress device = AddressOf(entry);
    const std::string path = (std::filesystem::path(directory) / BackupFileName(device)).string();
    (FetchConfiguration(client, global, device, path, &entry) == kExitOk ? saved : failed)++;
  }
  return Summarize(saved, failed,
                   "no configuration-capable device listed; run `tessera-diag list`");
}

int RunConfigRestore(const GlobalOptions& global, const std::string& directory, bool byId) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error))
    if (entry.is_regular_file() && entry.path().extension() == ".json") files.push_back(entry.path());
  if (error) return ReportFailure(std::cerr, directory + ": " + error.message());
  std::sort(files.begin(), files.end());
  DiagClient client(global.server, global.timeout());
  bool ok = false;
  const nlohmann::json devices = ListedDevices(client, global, ok);
  if (!ok) return kExitFailed;
  int restored = 0, failed = 0;
  for (const auto& path : files) {
    std::string text, problem;
    ConfigurationFile file;
    if (!ReadWholeFile(path.string(), text, problem) || !ReadConfigurationFile(text, file, problem)) {
      ReportFailure(std::cerr, path.string() + ": " + problem);
      ++failed;
      continue;
    }
    const auto target = TargetOf(path, file, devices, byId);
    if (!target) {
      // A backup whose device is not here is not restored: the user should know.
      if (file.backup) ++failed;
      continue;
    }
    (StoreConfiguration(client, global, *target, file, path.string()) == kExitOk ? restored
                                                                                  : failed)++;
  }
  return Summarize(restored, failed, "no backup files (*.json) in " + directory);
}

}  // namespace tessera::cli
