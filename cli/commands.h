#pragma once
// The commands of tessera-diag. Each returns an exit status (exit_status.h); a TransportError
// that escapes one is reported by main.
#include <chrono>
#include <string>

#include "cli/device_address.h"
#include "cli/diag_client.h"

namespace tessera::cli {

struct GlobalOptions {
  ServerAddress server;
  bool json = false;  // print the server's answer as it is instead of a summary
  double timeoutSeconds = 10;

  std::chrono::milliseconds timeout() const {
    return std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
  }
};

// A command that is one request to one device, answered by "done" on success.
struct DeviceRequest {
  std::string command;  // as typed, for messages
  DeviceAddress device;
  std::string action;
  QueryParams extra;
  std::string done;
};

struct PlotOptions {
  DeviceAddress device;
  unsigned channels = 0;
  double durationSeconds = 10;  // 0: until Ctrl-C
  std::string csvPath;          // "-" writes the CSV to standard output
};

struct DriveOptions {
  DeviceAddress device;
  double percent = 0;
  double durationSeconds = 0;
};

struct ListOptions {
  double waitSeconds = 0;
  bool watch = false;  // redraw whenever the listing changes, until Ctrl-C
  bool wide = false;   // serial number, vendor and manufacturing date too
};

// A file to send: a local one (uploaded), or one already in the server's search directory.
struct FileChoice {
  std::string localPath;
  std::string serverFile;
};

int RunList(const GlobalOptions& global, const ListOptions& options);
int RunDeviceRequest(const GlobalOptions& global, const DeviceRequest& request);
int RunSetId(const GlobalOptions& global, const DeviceAddress& device, unsigned newId, bool force);
int RunDefaults(const GlobalOptions& global, const DeviceAddress& device, bool confirmed);
int RunSelfTest(const GlobalOptions& global, const DeviceAddress& device);
int RunUpgrade(const GlobalOptions& global, const DeviceAddress& device, const FileChoice& file);
int RunProgress(const GlobalOptions& global, const DeviceAddress& device);
int RunConfigGet(const GlobalOptions& global, const DeviceAddress& device,
                 const std::string& outputPath);
int RunConfigSet(const GlobalOptions& global, const DeviceAddress& device, const FileChoice& file);
int RunConfigBackup(const GlobalOptions& global, const std::string& directory);
int RunConfigRestore(const GlobalOptions& global, const std::string& directory, bool byId);
int RunPlot(const GlobalOptions& global, const PlotOptions& options);
int RunDrive(const GlobalOptions& global, const DriveOptions& options);
int RunVersion(const GlobalOptions& global);

}  // namespace tessera::cli
