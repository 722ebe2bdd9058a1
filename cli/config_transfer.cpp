#include "cli/config_transfer.h"

#include <iostream>

#include "cli/local_file.h"
#include "cli/report.h"

namespace tessera::cli {

int FetchConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path) {
  const Answer answer = client.get(DeviceQuery("getconfig", device));
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportServerError(std::cerr, "config get " + device.text(), answer);
  const std::string document = answer.document.value("Device", nlohmann::json()).dump(4) + "\n";
  if (path.empty()) {
    if (!global.json) std::cout << document;
    return kExitOk;
  }
  std::string error;
  if (!WriteWholeFile(path, document, error)) return ReportFailure(std::cerr, path + ": " + error);
  if (!global.json) std::cout << device.text() << ": configuration saved to " << path << "\n";
  return kExitOk;
}

int StoreConfiguration(DiagClient& client, const GlobalOptions& global, const DeviceAddress& device,
                       const std::string& path) {
  UploadFile upload{FileNameOf(path), {}};
  std::string error;
  if (!ReadWholeFile(path, upload.content, error))
    return ReportFailure(std::cerr, path + ": " + error);
  const Answer answer = client.upload(DeviceQuery("setconfig", device), upload, client.timeout());
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportServerError(std::cerr, "config set " + device.text(), answer);
  if (!global.json)
    std::cout << device.text() << ": configuration from " << path << " written and read back\n";
  return kExitOk;
}

int RunConfigGet(const GlobalOptions& global, const DeviceAddress& device,
                 const std::string& outputPath) {
  DiagClient client(global.server, global.timeout());
  return FetchConfiguration(client, global, device, outputPath);
}

int RunConfigSet(const GlobalOptions& global, const DeviceAddress& device,
                 const std::string& file) {
  DiagClient client(global.server, global.timeout());
  return StoreConfiguration(client, global, device, file);
}

}  // namespace tessera::cli
