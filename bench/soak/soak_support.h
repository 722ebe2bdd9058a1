#pragma once
// What the soaks share: the built-in robot's devices as requests name them, what a listing
// lacks, and the server process's resources (RSS, threads, open descriptors) sampled over time.
#include <dirent.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace soak {

struct Device {
  const char* model;  // URL-encoded
  const char* listed;
  int id;
  bool takesNames;
  bool takesConfigs;
  bool motor;
};
// Reads "--flag value" pairs into `take`; false when a value is missing or `take` refuses a flag.
inline bool ReadFlagPairs(int argc, char** argv,
                          const std::function<bool(const std::string&, const std::string&)>& take) {
  for (int i = 1; i < argc; i += 2)
    if (i + 1 >= argc || !take(argv[i], argv[i + 1])) return false;
  return true;
}

// The built-in robot.
constexpr Device kDevices[] = {
    {"PDP", "PDP", 0, false, false, false},
    {"PCM", "PCM", 0, false, false, false},
    {"Kestrel%20KX", "Kestrel KX", 1, true, true, true},
    {"Kestrel%20KF", "Kestrel KF", 2, true, true, true},
    {"Harrier%20HX", "Harrier HX", 3, true, true, true},
    {"Wren", "Wren", 4, true, true, false},
    {"CANdial", "CANdial", 5, true, true, false},
    {"CANtap", "CANtap", 6, false, false, false},
};
constexpr size_t kDeviceCount = sizeof kDevices / sizeof kDevices[0];

inline std::string DeviceQuery(const char* action, const Device& device) {
  return std::string("/?action=") + action + "&model=" + device.model +
         "&id=" + std::to_string(device.id);
}

// The robot's devices a "getdevices" device array lacks, as "Model ID, Model ID".
inline std::string MissingDevices(const nlohmann::json& listing) {
  std::set<std::string> listed;
  for (const nlohmann::json& d : listing)
    listed.insert(d.value("Model", std::string()) + " " + std::to_string(d.value("ID", -1)));
  std::string missing;
  for (const Device& device : kDevices) {
    const std::string name = std::string(device.listed) + " " + std::to_string(device.id);
    if (!listed.count(name)) missing += (missing.empty() ? "" : ", ") + name;
  }
  return missing;
}

struct ProcessSample {
  long rssKb = -1;
  long threads = -1;
  long fds = -1;
};

inline long CountDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  long count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

inline ProcessSample Sample(pid_t pid) {
  ProcessSample sample;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") status >> sample.rssKb;
    if (key == "Threads:") status >> sample.threads;
    status.ignore(4096, '\n');
  }
  sample.fds = CountDescriptors(pid);
  return sample;
}

// The first, last and peak samples.
struct SampleLog {
  ProcessSample first, last, peak;
  void add(const ProcessSample& s) {
    if (first.rssKb < 0) first = s;
    last = s;
    peak.rssKb = std::max(peak.rssKb, s.rssKb);
    peak.threads = std::max(peak.threads, s.threads);
    peak.fds = std::max(peak.fds, s.fds);
  }
  void print() const {
    std::printf("RSS %.1f -> %.1f MB (peak %.1f), threads %ld -> %ld (peak %ld), fds %ld -> %ld "
                "(peak %ld)\n",
                first.rssKb / 1024.0, last.rssKb / 1024.0, peak.rssKb / 1024.0, first.threads,
                last.threads, peak.threads, first.fds, last.fds, peak.fds);
  }
};

// True once `server` lists `devices` devices within `deadline`; otherwise says so with the
// server's output, for the soak to end with status 1.
inline bool ListsEveryDevice(tessera_test::ServerProcess& server, size_t devices,
                             std::chrono::steady_clock::duration deadline) {
  const bool listed =
      server.port() > 0 &&
      tessera_test::WaitForListing(
          server.port(), [devices](const nlohmann::json& l) { return l.size() == devices; }, deadline)
              .size() == devices;
  if (!listed)
    std::fprintf(stderr, "the server did not list all %zu devices:\n%s\n", devices,
                 server.output().c_str());
  return listed;
}

}  // namespace soak
