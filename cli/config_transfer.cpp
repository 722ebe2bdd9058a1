#include "cli/config_transfer.h"

#include <iostream>

#include "cli/config_difference.h"
#include "cli/context_hints.h"
#include "cli/local_file.h"
#include "cli/report.h"
#include "cli/upload_file_name.h"
#include "device/error_codes.h"

namespace tessera::cli {

namespace {
constexpr int kReadBackMismatch = -132;
}

int FetchConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path, const nlohmann::json* entry) {
  const Answer answer = client.get(DeviceQuery("getconfig", device));
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok())
    return ReportServerError(std::cerr, "config get " + device.text(), answer,
                             ContextHint(client, device, answer));
  const nlohmann::json document = answer.document.value("Device", nlohmann::json());
  const std::string text =
      entry != nullptr ? MakeBackupText(*entry, document) : document.dump(4) + "\n";
  if (path.empty()) {
    if (!global.json) std::cout << text;
    return kExitOk;
  }
  std::string error;
  if (!WriteWholeFile(path, text, error)) return ReportFailure(std::cerr, path + ": " + error);
  if (!global.json) std::cout << device.text() << ": configuration saved to " << path << "\n";
  return kExitOk;
}

int StoreConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const ConfigurationFile& file, const std::string& from) {
  const std::string what = "config set " + device.text();
  if (file.backup && NormalizeModel(file.backup->model) != device.model)
    return ReportFailure(std::cerr, what + ": " + from + " was saved from " + file.backup->model +
                                        " " + std::to_string(file.backup->id) + " (serial " +
                                        file.backup->serial + "), another model; nothing was written");
  const Answer answer = client.upload(DeviceQuery("setconfig", device),
                                      {FileNameOf(from), file.sent}, client.timeout());
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) {
    ReportServerError(std::cerr, what, answer, ContextHint(client, device, answer));
    // A read-back comes only with a write the device holds differently; a refused document has none.
    const nlohmann::json readBack = answer.document.value("Device", nlohmann::json());
    if (answer.error == kReadBackMismatch && !readBack.is_null())
      for (const std::string& line : ConfigDifferences(file.document, readBack)) std::cerr << "  " << line << "\n";
    return kExitFailed;
  }
  if (!global.json)
    std::cout << device.text() << ": configuration from " << from << " written and read back\n";
  return kExitOk;
}

int RunConfigGet(const GlobalOptions& global, const DeviceAddress& device,
                 const std::string& outputPath) {
  DiagClient client(global.server, global.timeout());
  return FetchConfiguration(client, global, device, outputPath);
}

int RunConfigSet(const GlobalOptions& global, const DeviceAddress& device, const FileChoice& file) {
  DiagClient client(global.server, global.timeout());
  if (!file.serverFile.empty()) {
    QueryParams query = DeviceQuery("setconfig", device);
    query.emplace_back("file", file.serverFile);
    const Answer answer = client.get(query);
    if (global.json) PrintAnswer(std::cout, answer);
    if (!answer.ok())
      return ReportServerError(std::cerr, "config set " + device.text(), answer,
                               answer.error == QUOR_DI_NoConfigs
                                   ? MissingServerFileHint(file.serverFile) +
                                         ", or the device has not sent its configuration yet"
                                   : ContextHint(client, device, answer));
    if (!global.json)
      std::cout << device.text() << ": configuration from the server's " << file.serverFile
                << " written and read back\n";
    return kExitOk;
  }
  std::string text, error;
  ConfigurationFile configuration;
  if (!ReadWholeFile(file.localPath, text, error) ||
      !ReadConfigurationFile(text, configuration, error))
    return ReportFailure(std::cerr, file.localPath + ": " + error);
  return StoreConfiguration(client, global, device, configuration, file.localPath);
}

}  // namespace tessera::cli
