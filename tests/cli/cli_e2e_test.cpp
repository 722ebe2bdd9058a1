// tessera-diag end to end: the real client program against the real host on the built-in robot
// (and against a port nobody serves).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using nlohmann::json;
using tessera_test::ServerProcess;

constexpr auto kListingDeadline = std::chrono::seconds(30);

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs tessera-diag with `args` (shell words) and collects both streams and the exit status.
CliResult RunCli(const std::string& args) {
  char errPath[] = "/tmp/tessera-cli-err-XXXXXX";
  const int errFd = mkstemp(errPath);
  close(errFd);
  CliResult result;
  const std::string command = std::string(TESSERA_CLI_BINARY) + " " + args + " 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  unlink(errPath);
  return result;
}

// The client's own listing (--json) until `holds` accepts it or the deadline passes.
json WaitForListing(const std::string& portArg, const std::function<bool(const json&)>& holds) {
  const auto fetch = [&portArg] {
    const CliResult listing = RunCli(portArg + " --json list");
    return tessera_test::DeviceArrayOf(json::parse(listing.out, nullptr, false));
  };
  return tessera_test::WaitForListing(fetch, holds, kListingDeadline);
}

bool Listed(const json& devices, const std::string& model, int id) {
  for (const auto& device : devices)
    if (device["Model"] == model && device["ID"] == id) return true;
  return false;
}

std::string NameOf(const json& devices, const std::string& model, int id) {
  for (const auto& device : devices)
    if (device["Model"] == model && device["ID"] == id) return device["Name"];
  return "";
}

// A port that refuses connections: bound, so nobody else takes it, but not listening.
class RefusingPort {
 public:
  RefusingPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~RefusingPort() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// What a person sees of the built-in robot: its eight devices by device number, then model.
constexpr const char* kBuiltInRobotTable =
    "ID  MODEL       NAME                      FIRMWARE  BOOTLOADER  HARDWARE   STATUS\n"
    "0   PCM         PCM (Device ID 0)         1.65      2.4         1.1 - 1.3  Running "
    "Application.\n"
    "0   PDP         PDP (Device ID 0)         1.40      2.5         1.4        Running "
    "Application.\n"
    "1   Kestrel KX  Kestrel KX (Device ID 1)  20.1      2.5         1.4        Running "
    "Application.\n"
    "2   Kestrel KF  Kestrel KF (Device ID 2)  22.1.0.3  3.1         1.0        Running "
    "Application.\n"
    "3   Harrier HX  Harrier HX (Device ID 3)  21.2      2.6         1.2        Running "
    "Application.\n"
    "4   Wren        Wren (Device ID 4)        20.3      2.7         1.0        Running "
    "Application.\n"
    "5   CANdial     CANdial (Device ID 5)     22.0.2.1  1.3         2.0        Running "
    "Application.\n"
    "6   CANtap      CANtap (Device ID 6)      21.0      2.3         1.1        Running "
    "Application.\n";

TEST(CliOnTheBuiltInRobot, ListBlinkSetNameSetIdAndAnUnknownDevice) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string port = "--port " + std::to_string(server.port());

  // Right after the start the list is empty; --wait waits for devices to show.
  const CliResult waited = RunCli(port + " list --wait 30");
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_NE(waited.out.find("Running Application."), std::string::npos) << waited.out;
  // How fast discovery finds the rest depends on the machine's load, so the whole table is
  // compared once all eight are listed.
  WaitForListing(port, [](const json& devices) { return devices.size() == 8; });
  const CliResult list = RunCli(port + " list");
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, kBuiltInRobotTable);

  const CliResult blink = RunCli(port + " blink kestrel-kx 1");
  EXPECT_EQ(blink.status, 0) << blink.err;
  EXPECT_EQ(blink.out, "kestrel kx 1: LED blinking\n");

  const CliResult rename = RunCli(port + " set-name 'Kestrel KX' 1 'Left Arm+1'");
  EXPECT_EQ(rename.status, 0) << rename.err;
  const json renamed = WaitForListing(
      port, [](const json& devices) { return NameOf(devices, "Kestrel KX", 1) == "Left Arm+1"; });
  EXPECT_EQ(NameOf(renamed, "Kestrel KX", 1), "Left Arm+1") << renamed.dump(2);

  const CliResult move = RunCli(port + " set-id HARRIER-HX 3 9");
  EXPECT_EQ(move.status, 0) << move.err;
  EXPECT_EQ(move.out, "harrier hx 3: device number set to 9\n");
  const json moved = WaitForListing(port, [](const json& devices) {
    return Listed(devices, "Harrier HX", 9) && !Listed(devices, "Harrier HX", 3);
  });
  EXPECT_TRUE(Listed(moved, "Harrier HX", 9)) << moved.dump(2);
  EXPECT_FALSE(Listed(moved, "Harrier HX", 3)) << moved.dump(2);

  const CliResult unknown = RunCli(port + " blink harrier-hx 3");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err,
            "tessera-diag: blink harrier hx 3: error -120 QUOR_DI_NodeIsInvalid\n"
            "hint: no such device in the last listing, run `tessera-diag list`\n");

  // A firmware upgrade of the IMU, with the progress shown while it runs.
  const std::string image = "/tmp/tessera-cli-wren-" + std::to_string(getpid()) + ".bfl";
  ASSERT_EQ(std::system((std::string(TESSERA_MAKE_BFL_BINARY) + " --family wren --version 20.9" +
                         " --sectors 8 -o " + image).c_str()),
            0);
  const CliResult upgrade = RunCli(port + " upgrade wren 4 " + image);
  unlink(image.c_str());
  EXPECT_EQ(upgrade.status, 0) << upgrade.err;
  EXPECT_NE(upgrade.out.find("upgrade wren 4:  97%"), std::string::npos) << upgrade.out;
  EXPECT_NE(upgrade.out.find("wren 4: firmware tessera-cli-wren-"), std::string::npos) << upgrade.out;
  const json upgraded = WaitForListing(port, [](const json& devices) {
    for (const auto& device : devices)
      if (device["Model"] == "Wren" && device["CurrentVers"] == "20.9") return true;
    return false;
  });
  EXPECT_TRUE(Listed(upgraded, "Wren", 4)) << upgraded.dump(2);
}

// Runs a configuration command again (three times in all) while a device was slow to answer
// its 20 ms mode query or its last status poll (-102, -125), as happens on a loaded machine.
CliResult RunConfigCommand(const std::string& args) {
  CliResult result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = RunCli(args);
    const bool slow = result.err.find("error -102 ") != std::string::npos ||
                      result.err.find("error -125 ") != std::string::npos;
    if (result.status == 0 || !slow) break;
  }
  return result;
}

TEST(CliOnTheBuiltInRobot, ConfigurationGetSetBackupAndRestore) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string port = "--port " + std::to_string(server.port());
  WaitForListing(port, [](const json& devices) { return devices.size() == 8; });
  char dir[] = "/tmp/tessera-cli-config-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/kf.json";

  ASSERT_EQ(RunCli(port + " config get kestrel-kf 2 -o " + file).status, 0);
  json document = json::parse(std::ifstream(file), nullptr, false);
  ASSERT_EQ(document["Configs"].size(), 18u);
  document["Configs"][0]["Values"]["Peak Forward Output"] = 0.5;  // "Motor Output"
  std::ofstream(file) << document.dump(4);
  const CliResult set = RunConfigCommand(port + " config set kestrel-kf 2 " + file);
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "kestrel kf 2: configuration from " + file + " written and read back\n");
  const json read = json::parse(RunCli(port + " config get kestrel-kf 2").out, nullptr, false);
  EXPECT_EQ(read["Configs"][0]["Values"]["Peak Forward Output"], 512.0 / 1023);

  const CliResult backup = RunCli(port + " config backup " + dir + "/all");
  EXPECT_EQ(backup.status, 0) << backup.err;
  const CliResult restore = RunConfigCommand(port + " config restore " + dir + "/all");
  EXPECT_EQ(restore.status, 0) << restore.err;
  for (const char* name : {"kestrel-kx-1", "kestrel-kf-2", "harrier-hx-3", "wren-4", "candial-5"})
    EXPECT_NE(restore.out.find(std::string(dir) + "/all/" + name + ".json written and read back"),
              std::string::npos)
        << restore.out;
  EXPECT_EQ(RunCli(port + " config get pdp 0").status, 1);  // keeps no configuration: -128
  tessera_test::RunCommand(std::string("rm -rf ") + dir);
}

TEST(CliWithoutAServer, UsageErrorsAndAServerThatIsNotRunning) {
  RefusingPort nobody;
  const std::string port = "--port " + std::to_string(nobody.port());
  const CliResult refused = RunCli(port + " list");
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.err,
            "tessera-diag: cannot connect to localhost:" + std::to_string(nobody.port()) + "\n");

  struct Usage {
    const char* args;
    const char* complaint;
  };
  const Usage usages[] = {
      {"", "a command is required"},
      {"blink kestrel-kx", "ID is required"},
      {"blink kestrel-kx 63", "ID: Value 63 not in range"},
      {"set-id kestrel-kx 1 99", "NEW: Value 99 not in range"},
      {"set-name kestrel-kx 1 'a&b'", "a name cannot hold '&' or '='"},
      {"drive kestrel-kx 1 --percent 150 --duration 1", "--percent: Value 150 not in range"},
      {"upgrade kestrel-kx 1 /nonexistent.bfl", "File does not exist: /nonexistent.bfl"},
      {"dance", "not expected: dance"},
  };
  for (const Usage& usage : usages) {
    const CliResult result = RunCli(port + " " + usage.args);
    EXPECT_EQ(result.status, 2) << usage.args;
    EXPECT_NE(result.err.find(usage.complaint), std::string::npos) << usage.args << "\n"
                                                                   << result.err;
    EXPECT_EQ(result.err.find("cannot connect"), std::string::npos) << usage.args;
  }
}

}  // namespace
