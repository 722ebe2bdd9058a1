// tessera-diag end to end: the real client program against the real host on the built-in robot
// (and against a port nobody serves).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>
#include <regex>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"
#include "tests/support/wait_until.h"

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
CliResult RunCli(const std::string& args, const std::string& environment = "") {
  char errPath[] = "/tmp/tessera-cli-err-XXXXXX";
  const int errFd = mkstemp(errPath);
  close(errFd);
  CliResult result;
  const std::string command =
      environment + TESSERA_CLI_BINARY + " " + args + " </dev/null 2>" + errPath;
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

std::string VersionOf(const json& devices, const std::string& model, int id) {
  for (const auto& device : devices)
    if (device["Model"] == model && device["ID"] == id) return device["CurrentVers"];
  return "";
}

// tessera-diag with variables set in its environment.
CliResult RunCommandWithEnvironment(const std::string& variables, const std::string& args) {
  return RunCli(args, variables + " ");
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

// A port nobody serves: bound, so nobody else takes it, and either not listening (connections
// are refused) or listening without ever answering (the kernel accepts, nobody reads).
class RefusingPort {
 public:
  explicit RefusingPort(bool listening = false) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (listening) listen(fd_, 4);
  }
  ~RefusingPort() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// tessera-diag started in the background, so a test can act while it runs.
class BackgroundCli {
 public:
  explicit BackgroundCli(const std::vector<std::string>& args) {
    std::vector<std::string> all = {TESSERA_CLI_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    char outPath[] = "/tmp/tessera-cli-bg-XXXXXX";
    outFd_ = mkstemp(outPath);
    outPath_ = outPath;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outFd_, STDOUT_FILENO);
      dup2(outFd_, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~BackgroundCli() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(outFd_);
    unlink(outPath_.c_str());
  }
  void signal(int number) { kill(pid_, number); }
  // The exit status once it ended (-1 when it did not within the deadline), and its output.
  int wait(std::chrono::seconds deadline) {
    int status = 0;
    const bool ended = tessera_test::WaitUntil(
        [&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, deadline,
        std::chrono::milliseconds(20));
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string output() const { return tessera_test::RunCommand("cat " + outPath_); }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string outPath_;
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

// Runs a command again (three times in all) while a device was slow to answer a 20 ms wait
// (a presence check, a mode query or its last status poll: -102, -125), as happens on a loaded
// machine.
CliResult RunRetryingSlowAnswers(const std::string& args) {
  CliResult result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = RunCli(args);
    const bool slow = result.err.find("error -102 ") != std::string::npos ||
                      result.err.find("error -125 ") != std::string::npos;
    if (result.status == 0 || !slow) break;
  }
  return result;
}

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

  // list --watch shows the table again when the listing changes, until Ctrl-C.
  BackgroundCli watch({"--port", std::to_string(server.port()), "list", "--watch"});
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return watch.output().find(", 8 devices (Ctrl-C ends)\n") != std::string::npos; },
      std::chrono::seconds(10), std::chrono::milliseconds(50)))
      << watch.output();
  const CliResult rename = RunCli(port + " set-name 'Kestrel KX' 1 'Left Arm+1'");
  EXPECT_EQ(rename.status, 0) << rename.err;
  const json renamed = WaitForListing(
      port, [](const json& devices) { return NameOf(devices, "Kestrel KX", 1) == "Left Arm+1"; });
  EXPECT_EQ(NameOf(renamed, "Kestrel KX", 1), "Left Arm+1") << renamed.dump(2);
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] { return watch.output().find("1   Kestrel KX  Left Arm+1 ") != std::string::npos; },
      std::chrono::seconds(10), std::chrono::milliseconds(50)))
      << watch.output();
  watch.signal(SIGINT);
  EXPECT_EQ(watch.wait(std::chrono::seconds(10)), 0) << watch.output();

  // The Kestrel KF holds 2, and both motor controllers have device type 2: moving the KX there
  // would make them answer as one, so nothing is sent.
  const CliResult clash = RunCli(port + " set-id kestrel-kx 1 2");
  EXPECT_EQ(clash.status, 1);
  EXPECT_EQ(clash.err,
            "tessera-diag: set-id kestrel kx 1: device number 2 is taken by Kestrel KF 2, which "
            "has the same device type (2): both would answer at 2 as one device; --force moves "
            "it anyway\n");
  const json kept = tessera_test::FetchListing(server.port());
  EXPECT_TRUE(Listed(kept, "Kestrel KX", 1) && Listed(kept, "Kestrel KF", 2)) << kept.dump(2);

  // set-id returns once the listing shows the device at its new number, so the next command
  // finds it there.
  const CliResult move = RunCli(port + " set-id HARRIER-HX 3 9");
  EXPECT_EQ(move.status, 0) << move.err;
  EXPECT_EQ(move.out, "harrier hx 3: device number set to 9\n");
  const CliResult atNew = RunCli(port + " blink harrier-hx 9");
  EXPECT_EQ(atNew.status, 0) << atNew.err;
  const json moved = tessera_test::FetchListing(server.port());
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
  // It ends once the listing shows the new firmware.
  EXPECT_NE(upgrade.out.find("; it runs 20.9\n"), std::string::npos) << upgrade.out;
  const json upgraded = tessera_test::FetchListing(server.port());
  EXPECT_EQ(VersionOf(upgraded, "Wren", 4), "20.9") << upgraded.dump(2);

  // The wide table adds each device's serial number, vendor and manufacturing date.
  const CliResult wide = RunCli(port + " list --wide");
  EXPECT_NE(wide.out.find("SERIAL                            VENDOR"), std::string::npos) << wide.out;
  for (const auto& device : upgraded)
    EXPECT_NE(wide.out.find(device["SerialNo"].get<std::string>() + "  " +
                            device["Vendor"].get<std::string>()),
              std::string::npos)
        << wide.out;

  // The server's address as users write it: HOST:PORT, [IPV6]:PORT, or from the environment.
  const std::string at = std::to_string(server.port());
  for (const std::string& address :
       {"--host localhost:" + at, "--host '[::1]:" + at + "'", "--host ::1 --port " + at}) {
    const CliResult version = RunCli(address + " version");
    EXPECT_EQ(version.status, 0) << address << ": " << version.err;
  }
  const CliResult fromEnvironment =
      RunCommandWithEnvironment("TESSERA_HOST=127.0.0.1 TESSERA_PORT=" + at, "version");
  EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;
  EXPECT_NE(fromEnvironment.out.find("at 127.0.0.1:" + at), std::string::npos) << fromEnvironment.out;

  // --force sends the number its device type shares anyway: the device leaves 1. Whether the
  // server can then confirm it at 2, where the Kestrel KF answers too, is the bus's luck
  // (-110 or success), so only the move is checked.
  const CliResult forced = RunRetryingSlowAnswers(port + " set-id kestrel-kx 1 2 --force");
  EXPECT_EQ(forced.err.find("is taken by"), std::string::npos) << forced.err;
  const json left = WaitForListing(port, [](const json& devices) { return !Listed(devices, "Kestrel KX", 1); });
  EXPECT_FALSE(Listed(left, "Kestrel KX", 1)) << forced.err << left.dump(2);
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
  const CliResult set = RunRetryingSlowAnswers(port + " config set kestrel-kf 2 " + file);
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(set.out, "kestrel kf 2: configuration from " + file + " written and read back\n");
  const json read = json::parse(RunCli(port + " config get kestrel-kf 2").out, nullptr, false);
  EXPECT_EQ(read["Configs"][0]["Values"]["Peak Forward Output"], 512.0 / 1023);

  const CliResult backup = RunCli(port + " config backup " + dir + "/all");
  EXPECT_EQ(backup.status, 0) << backup.err;
  const CliResult restore = RunRetryingSlowAnswers(port + " config restore " + dir + "/all");
  EXPECT_EQ(restore.status, 0) << restore.err;
  for (const char* name : {"kestrel-kx-1", "kestrel-kf-2", "harrier-hx-3", "wren-4", "candial-5"})
    EXPECT_NE(restore.out.find(std::string(dir) + "/all/" + name + ".json written and read back"),
              std::string::npos)
        << restore.out;
  const CliResult none = RunCli(port + " config get pdp 0");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("hint: this device has no configuration"), std::string::npos) << none.err;

  // Each backup file records where it came from, beside exactly the "Device" document.
  const json saved = json::parse(std::ifstream(std::string(dir) + "/all/kestrel-kf-2.json"), nullptr, false);
  const json listing = tessera_test::FetchListing(server.port());
  const json* kf = nullptr;
  for (const auto& device : listing)
    if (device["Model"] == "Kestrel KF") kf = &device;
  ASSERT_NE(kf, nullptr) << listing.dump(2);
  EXPECT_EQ(saved["Backup"]["Model"], "Kestrel KF");
  EXPECT_EQ(saved["Backup"]["ID"], 2);
  EXPECT_EQ(saved["Backup"]["SerialNo"], (*kf)["SerialNo"]);
  EXPECT_EQ(saved["Backup"]["Firmware"], "22.1.0.3");
  EXPECT_TRUE(std::regex_match(saved["Backup"]["Saved"].get<std::string>(),
                               std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9:]{8}Z")));
  EXPECT_EQ(saved["Backup"]["Tool"].get<std::string>().rfind("tessera-diag ", 0), 0u);
  EXPECT_EQ(saved["Device"], read);

  // A backup of another model is refused before anything is written.
  const json kxBefore = json::parse(RunCli(port + " config get kestrel-kx 1").out, nullptr, false);
  const CliResult foreign = RunCli(port + " config set kestrel-kx 1 " + dir + "/all/kestrel-kf-2.json");
  EXPECT_EQ(foreign.status, 1);
  EXPECT_NE(foreign.err.find("was saved from Kestrel KF 2 (serial "), std::string::npos) << foreign.err;
  EXPECT_NE(foreign.err.find("another model; nothing was written"), std::string::npos) << foreign.err;
  EXPECT_EQ(json::parse(RunCli(port + " config get kestrel-kx 1").out, nullptr, false), kxBefore);

  // A restore finds the device by its serial number wherever it is now.
  ASSERT_EQ(RunCli(port + " set-id kestrel-kf 2 9").status, 0);
  document["Configs"][0]["Values"]["Peak Forward Output"] = 0.25;
  std::ofstream(file) << document.dump(4);
  ASSERT_EQ(RunRetryingSlowAnswers(port + " config set kestrel-kf 9 " + file).status, 0);
  const CliResult moved = RunRetryingSlowAnswers(port + " config restore " + dir + "/all");
  EXPECT_EQ(moved.status, 0) << moved.err;
  EXPECT_NE(moved.out.find("kestrel kf 9: configuration from " + std::string(dir) +
                           "/all/kestrel-kf-2.json written and read back"),
            std::string::npos)
      << moved.out;
  const json restored = json::parse(RunCli(port + " config get kestrel-kf 9").out, nullptr, false);
  EXPECT_EQ(restored["Configs"][0]["Values"]["Peak Forward Output"], 512.0 / 1023);

  // A plain document carries no serial number: only --by-id restores it, by its file name.
  tessera_test::RunCommand(std::string("mkdir ") + dir + "/plain && cp " + file + " " + dir +
                           "/plain/kestrel-kf-9.json");
  const CliResult plain = RunCli(port + " config restore " + dir + "/plain");
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("--by-id restores it to kestrel kf 9"), std::string::npos) << plain.err;
  EXPECT_EQ(RunRetryingSlowAnswers(port + " config restore --by-id " + dir + "/plain").status, 0);
  const json byId = json::parse(RunCli(port + " config get kestrel-kf 9").out, nullptr, false);
  EXPECT_EQ(byId["Configs"][0]["Values"]["Peak Forward Output"], 256.0 / 1023);

  // A value its field cannot hold: refused, and the device keeps what it had.
  for (auto& entry : document["Configs"])
    if (entry["Values"].contains("kP")) {
      entry["Values"]["kP"] = -0.5;
      break;
    }
  std::ofstream(file) << document.dump(4);
  const CliResult mismatch = RunRetryingSlowAnswers(port + " config set kestrel-kf 9 " + file);
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.err.find("error -132 QUOR_DI_ConfigReadWriteMismatch\nhint: nothing was written: the "
                              "document holds a value its field cannot hold"),
            std::string::npos)
      << mismatch.err;
  EXPECT_EQ(mismatch.err.find("the device's answer has no such value"), std::string::npos) << mismatch.err;
  EXPECT_EQ(json::parse(RunCli(port + " config get kestrel-kf 9").out, nullptr, false), byId);
  tessera_test::RunCommand(std::string("rm -rf ") + dir);
}

std::string MakeFirmware(const std::string& family, const std::string& version, int sectors) {
  const std::string path = "/tmp/tessera-cli-fw-" + std::to_string(getpid()) + "-" + version + ".bfl";
  const std::string command = std::string(TESSERA_MAKE_BFL_BINARY) + " --family '" + family +
                              "' --version " + version + " --sectors " + std::to_string(sectors) +
                              " -o " + path;
  return std::system(command.c_str()) == 0 ? path : "";
}

TEST(CliUpgrades, AFailureSaysWhereTheDeviceIsAndARunningUpgradeIsFollowedNotDoubled) {
  // The Kestrel KX loses the acknowledgement of its third sector every time.
  char robot[] = "/tmp/tessera-cli-robot-XXXXXX";
  const int robotFd = mkstemp(robot);
  const std::string devices =
      R"({"devices": [{"family": "kestrel kx", "id": 1, "faults": {"lost_sector_ack": 2, )"
      R"("lost_sector_ack_always": true}}, {"family": "kestrel kf", "id": 2}]})";
  ASSERT_EQ(write(robotFd, devices.data(), devices.size()), static_cast<ssize_t>(devices.size()));
  close(robotFd);
  char searchDir[] = "/tmp/tessera-cli-search-XXXXXX";
  ASSERT_NE(mkdtemp(searchDir), nullptr);
  ServerProcess server({"--can", std::string("sim:") + robot, "--start-delay", "0", "--search-dir", searchDir});
  unlink(robot);
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string at = std::to_string(server.port());
  const std::string port = "--port " + at;
  WaitForListing(port, [](const json& devices) { return devices.size() == 2; });

  const std::string kx = MakeFirmware("kestrel kx", "21.0", 8);
  const CliResult failed = RunCli(port + " upgrade kestrel-kx 1 " + kx);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("error -106 QUOR_DI_CouldNotSendFlash\nserver: Kestrel KX (Device ID "
                            "1) : QUOR_DI_CouldNotSendFlash\n"),
            std::string::npos)
      << failed.err;
  EXPECT_NE(failed.err.find("kestrel kx 1 is in its bootloader now, without a running "
                            "application; run the upgrade again to bring it back: tessera-diag "
                            "upgrade kestrel-kx 1 " + kx + "\n"),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(failed.err.find("power"), std::string::npos) << failed.err;
  const json left = tessera_test::FetchListing(server.port());
  EXPECT_EQ(VersionOf(left, "Kestrel KX", 1), "255.255 (No firmware)") << left.dump(2);
  unlink(kx.c_str());

  // A long upgrade of the Kestrel KF: a second one is refused at once, Ctrl-C leaves it running
  // in the server, and `progress` follows it to its end.
  const std::string kf = MakeFirmware("kestrel kf", "22.7", 120);

  // Files the server would have to follow a link to read are refused, and the hint says why.
  const std::string kfVersion = VersionOf(tessera_test::FetchListing(server.port()), "Kestrel KF", 2);
  const std::string document = std::string(searchDir) + "/kf-document.json";
  ASSERT_EQ(RunRetryingSlowAnswers(port + " config get kestrel-kf 2 -o " + document).status, 0);
  for (const auto& [command, target] : {std::pair<std::string, std::string>{"upgrade", kf},
                                        std::pair<std::string, std::string>{"config set", document}}) {
    ASSERT_EQ(symlink(target.c_str(), (std::string(searchDir) + "/link").c_str()), 0);
    const CliResult linked = RunCli(port + " " + command + " kestrel-kf 2 --server-file link");
    unlink((std::string(searchDir) + "/link").c_str());
    EXPECT_EQ(linked.status, 1) << command;
    EXPECT_NE(linked.err.find("hint: the server found no regular file \"link\" in its search "
                              "directory (it follows no links)"),
              std::string::npos)
        << command << ": " << linked.err;
  }
  EXPECT_EQ(VersionOf(tessera_test::FetchListing(server.port()), "Kestrel KF", 2), kfVersion);
  unlink(document.c_str());
  rmdir(searchDir);
  BackgroundCli first({"--port", at, "upgrade", "kestrel-kf", "2", kf});
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] { return server.get("action=progress&model=kestrel+kf&id=2")["GeneralReturn"]["Error"] == 0; },
      std::chrono::seconds(20), std::chrono::milliseconds(20)))
      << first.output();
  const CliResult second = RunCli(port + " upgrade kestrel-kf 2 " + kf);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err,
            "tessera-diag: upgrade kestrel kf 2: a firmware upgrade is already running on the "
            "server; `tessera-diag progress kestrel-kf 2` follows it\n");
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(std::chrono::seconds(20)), 130) << first.output();
  EXPECT_NE(first.output().find("upgrade kestrel kf 2: interrupted; the upgrade goes on in the "
                                "server (stopping this program does not stop it): `tessera-diag "
                                "progress kestrel-kf 2` follows it\n"),
            std::string::npos)
      << first.output();
  const CliResult followed = RunCli(port + " progress kestrel-kf 2");
  EXPECT_EQ(followed.status, 0) << followed.out << followed.err;
  EXPECT_NE(followed.out.find("upgrade kestrel kf 2 has ended\nkestrel kf 2 runs firmware 22.7 "
                              "(Running Application.)\n"),
            std::string::npos)
      << followed.out;
  EXPECT_EQ(VersionOf(tessera_test::FetchListing(server.port()), "Kestrel KF", 2), "22.7");
  unlink(kf.c_str());
}

TEST(CliOnTheBuiltInRobot, PlotDriveDefaultsAndCalibrate) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string port = "--port " + std::to_string(server.port());
  WaitForListing(port, [](const json& devices) { return devices.size() == 8; });

  // --json: one JSON object per new point, and nothing else on standard output.
  const CliResult lines = RunCli(port + " --json plot kestrel-kx 1 --channels MotorOutput,SensorVel --duration 1");
  EXPECT_EQ(lines.status, 0) << lines.err;
  std::istringstream points(lines.out);
  std::string line;
  int count = 0;
  while (std::getline(points, line)) {
    const json point = json::parse(line, nullptr, false);
    EXPECT_TRUE(point.is_object() && point.contains("Ordinal")) << line;
    ++count;
  }
  EXPECT_GT(count, 0) << lines.err;
  // The table: a header, then time from the first point on.
  const CliResult table = RunCli(port + " plot kestrel-kx 1 --channels 0x1 --duration 1");
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.rfind(" ORDINAL    TIME/s  VALUES\n", 0), 0u) << table.out;
  EXPECT_NE(table.out.find("     0.000  MotorOutput="), std::string::npos) << table.out;

  const CliResult drive = RunCli(port + " drive kestrel-kx 1 --percent 20 --duration 0.3");
  EXPECT_EQ(drive.status, 0) << drive.err;
  EXPECT_NE(drive.err.find("warning: drive enables the motor controller itself, bypassing the robot "
                           "controller's enable"),
            std::string::npos)
      << drive.err;

  // defaults asks first; a script has to say --yes. The device then holds its factory values.
  char dir[] = "/tmp/tessera-cli-defaults-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/kf.json";
  ASSERT_EQ(RunCli(port + " config get kestrel-kf 2 -o " + file).status, 0);
  json document = json::parse(std::ifstream(file), nullptr, false);
  const json factory = document;
  document["Configs"][0]["Values"]["Peak Forward Output"] = 0.5;
  std::ofstream(file) << document.dump(4);
  ASSERT_EQ(RunRetryingSlowAnswers(port + " config set kestrel-kf 2 " + file).status, 0);
  const CliResult unasked = RunCli(port + " defaults kestrel-kf 2");
  EXPECT_EQ(unasked.status, 2);
  EXPECT_NE(unasked.err.find("give --yes"), std::string::npos) << unasked.err;
  EXPECT_NE(json::parse(RunCli(port + " config get kestrel-kf 2").out, nullptr, false), factory);
  const CliResult restored = RunCli(port + " defaults --yes kestrel-kf 2");
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] { return json::parse(RunCli(port + " config get kestrel-kf 2").out, nullptr, false) == factory; },
      std::chrono::seconds(10), std::chrono::milliseconds(100)));
  tessera_test::RunCommand(std::string("rm -rf ") + dir);

  const CliResult calibrate = RunCli(port + " calibrate wren 4 Magnetometer-360");
  EXPECT_EQ(calibrate.status, 0) << calibrate.err;
  EXPECT_EQ(calibrate.out, "wren 4: magnetometer-360 calibration started\n");
  // The IMU reports its user calibration in its self-test from then on.
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] { return RunCli(port + " selftest wren 4").out.find("UserCalibration") != std::string::npos; },
      std::chrono::seconds(10), std::chrono::milliseconds(200)));
}

TEST(CliWithoutAServer, UsageErrorsAndAServerThatIsNotRunning) {
  RefusingPort nobody;
  const std::string port = "--port " + std::to_string(nobody.port());
  const CliResult refused = RunCli(port + " list");
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.err, "tessera-diag: cannot connect to localhost:" + std::to_string(nobody.port()) +
                            ": connection refused (is tessera-diag-server running there, on this "
                            "port?)\n");
  // The other reasons a server gives no answer, each said as it is.
  RefusingPort silent(true);
  const struct {
    std::string args, says;
  } unanswered[] = {
      {"--host no-such-host.invalid list", "cannot connect to no-such-host.invalid:1250: no such host ("},
      {"--timeout 0.5 --port " + std::to_string(silent.port()) + " list",
       "no answer from localhost:" + std::to_string(silent.port()) + " within 0.5 s\n"},
  };
  for (const auto& c : unanswered) {
    const CliResult result = RunCli(c.args);
    EXPECT_EQ(result.status, 3) << c.args;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << c.args << "\n" << result.err;
  }
  // --version needs no server.
  const CliResult version = RunCli(port + " --version");
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "tessera-diag " TESSERA_VERSION "\n");

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
      {"set-name kestrel-kx 1 0123456789012345678901234567890123456789012345678901234567890123",
       "a name holds at most 63 bytes; this one has 64"},
      {"--timeout 0 list", "give the seconds to wait for each answer, from 0.1 to 3600"},
      {"--host localhost:0 list", "is not HOST or HOST:PORT with a port from 1 to 65535"},
      {"calibrate wren 4 sideways", "unknown calibration; use one of boot-tare (0), temperature (1)"},
      {"plot kestrel-kx 1 --channels MotorOutput,Speed", "use channel names, a mask or all"},
      {"upgrade kestrel-kx 1", "FILE or --server-file NAME is required"},
      {"upgrade kestrel-kx 1 --server-file sub/kx.bfl", "no path (a '/' is refused)"},
      {"config set kestrel-kx 1 --server-file ..", "\"..\" is a directory"},
      {"defaults kestrel-kx 1", "give --yes to restore the factory defaults"},
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
