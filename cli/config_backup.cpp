// "config backup DIR" and "config restore DIR": every configuration-capable device's document
// saved to, or written back from, one file each (users keep them around firmware upgrades).
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

#include "cli/backup_files.h"
#include "cli/config_transfer.h"
#include "cli/report.h"

namespace tessera::cli {

namespace {

std::vector<DeviceAddress> ConfigurableDevices(DiagClient& client, const GlobalOptions& global) {
  const Answer listing = client.get({{"action", "getdevices"}});
  if (!listing.ok()) {
    ReportServerError(std::cerr, "list", listing);
    return {};
  }
  std::vector<DeviceAddress> devices;
  for (const auto& entry : listing.document.value("DeviceArray", nlohmann::json::array())) {
    if (!entry.is_object() || !entry.value("SupportsConfigs", false)) continue;
    devices.push_back({NormalizeModel(entry.value("Model", std::string())), entry.value("ID", 0u)});
  }
  if (global.json) PrintAnswer(std::cout, listing);
  return devices;
}

int Summarize(int done, int failed, const std::string& what) {
  if (done == 0 && failed == 0) return ReportFailure(std::cerr, what);
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunConfigBackup(const GlobalOptions& global, const std::string& directory) {
  DiagClient client(global.server, global.timeout());
  const std::vector<DeviceAddress> devices = ConfigurableDevices(client, global);
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return ReportFailure(std::cerr, directory + ": " + error.message());
  int saved = 0, failed = 0;
  for (const DeviceAddress& device : devices) {
    const std::string path = (std::filesystem::path(directory) / BackupFileName(device)).string();
    (FetchConfiguration(client, global, device, path) == kExitOk ? saved : failed)++;
  }
  return Summarize(saved, failed,
                   "no configuration-capable device listed; run `tessera-diag list`");
}

int RunConfigRestore(const GlobalOptions& global, const std::string& directory) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error))
    if (entry.is_regular_file()) files.push_back(entry.path());
  if (error) return ReportFailure(std::cerr, directory + ": " + error.message());
  std::sort(files.begin(), files.end());
  DiagClient client(global.server, global.timeout());
  int restored = 0, failed = 0;
  for (const auto& file : files) {
    const auto device = DeviceOfBackupFile(file.filename().string());
    if (!device) {
      std::cerr << "tessera-diag: skipping " << file.string() << " (not MODEL-ID.json)\n";
      continue;
    }
    (StoreConfiguration(client, global, *device, file.string()) == kExitOk ? restored : failed)++;
  }
  return Summarize(restored, failed, "no backup files (MODEL-ID.json) in " + directory);
}

}  // namespace tessera::cli
