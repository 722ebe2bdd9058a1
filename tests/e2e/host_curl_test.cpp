// The host program end to end, queried with curl.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "tests/support/listing.h"
#include "tests/support/server_process.h"

using nlohmann::json;
using tessera_test::RunCommand;
using tessera_test::ServerProcess;

TEST(HostWithCurl, GetVersionThroughCurlAndCleanStopOnSigterm) {
  ServerProcess server({"--can", "none", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string headers =
      RunCommand("curl -s -i --max-time 10 '" + server.url("action=getversion") + "'");
  EXPECT_NE(headers.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("Content-Type: application/json\r\n"), std::string::npos);
  const std::string body = RunCommand("curl -s --max-time 10 '" + server.url("action=getversion") + "'");
  const json doc = json::parse(body, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << body;
  EXPECT_EQ(doc["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(doc["ReleaseInfo"], "ZED2020");
  EXPECT_EQ(doc["SearchDirectory"], "/var/volatile/tmp/quor/");

  // Several requests on one kept-alive curl connection.
  const std::string twice = RunCommand("curl -s --max-time 10 '" + server.url("action=getdevices") +
                                       "' '" + server.url("action=blink&model=pdp&id=0") + "'");
  EXPECT_NE(twice.find("\"DeviceArray\": []"), std::string::npos) << twice;
  EXPECT_NE(twice.find("\"Error\": -120"), std::string::npos) << twice;

  EXPECT_EQ(server.stop(), 0);
  EXPECT_NE(server.output().find("[tessera] Diagnostic server shutdown cleanly"), std::string::npos)
      << server.output();
}

TEST(HostWithCurl, MultipartUploadFromCurlReachesTheDispatcher) {
  char dir[] = "/tmp/tessera-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/firmware.bfl";
  RunCommand("printf 'not really a firmware file' > " + file);
  ServerProcess server({"--can", "none", "--start-delay", "0", "--search-dir", dir});
  ASSERT_GT(server.port(), 0) << server.output();
  // No device is listed on an empty bus, so the upload is refused with -120 but the POST body
  // must be framed completely for any answer to come.
  const std::string body = RunCommand("curl -s --max-time 10 -H 'Expect:' -F 'file=@" + file + "' '" +
                                      server.url("action=fieldupgrade&model=pdp&id=0") + "'");
  const json doc = json::parse(body, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << body;
  EXPECT_EQ(doc["GeneralReturn"]["POSTResponse"], "action=fieldupgrade&model=pdp&id=0");
  EXPECT_EQ(doc["GeneralReturn"]["Error"], -120);
  const json version = server.get("action=getversion");
  EXPECT_EQ(version["SearchDirectory"], std::string(dir) + "/");
}

TEST(HostWithCurl, BadArgumentsAndUnavailableBackendsFailClearly) {
  struct Case {
    std::string args;
    std::string says;
    int status;
  };
  std::vector<Case> cases = {
      {"--port 70000", "--port needs a number", 2},
      {"--can bogus", "unknown CAN backend \"bogus\": use none, socketcan:IFACE, udp_multicast[:GROUP[:PORT]], sim or sim:FILE", 1},
      {"--can sim:", "--can sim:: the device file name is empty: use sim", 1},
      {"--can socketcan:", "SocketCAN interface name \"\" is not valid", 1},
      // --version ends it before it listens too, with success.
      {"--version", "tessera-diag-server " TESSERA_VERSION " (", 0},
  };
  // Without --can the host takes the robot's bus, never a simulated robot; where can0 exists it
  // would start.
  if (access("/sys/class/net/can0", F_OK) != 0)
    cases.push_back({"--port 0 --start-delay 0", "can0", 1});
  for (const Case& c : cases) {
    const std::string run = RunCommand("timeout 20 " + std::string(TESSERA_HOST_BINARY) + " " +
                                       c.args + " 2>&1; echo exit=$?");
    EXPECT_NE(run.find(c.says), std::string::npos) << c.args << ": " << run;
    EXPECT_NE(run.find("exit=" + std::to_string(c.status) + "\n"), std::string::npos)
        << c.args << ": " << run;
    EXPECT_EQ(run.find("running on port"), std::string::npos) << c.args << ": " << run;
    const bool realBus = c.args.find("--can") == std::string::npos ||
                         c.args.find("socketcan:") != std::string::npos;
    EXPECT_EQ(run.find("--can sim runs a simulated robot") != std::string::npos,
              realBus && c.status == 1)
        << c.args << ": " << run;
  }
  // A device file that is a folder, or has a key twice, is named with what is wrong with it.
  char dir[] = "/tmp/tessera-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string folder = RunCommand(std::string(TESSERA_HOST_BINARY) + " --can sim:" + dir +
                                        " 2>&1; echo exit=$?");
  EXPECT_NE(folder.find(std::string(dir) + " is a directory"), std::string::npos) << folder;
  EXPECT_NE(folder.find("exit=1"), std::string::npos) << folder;
  rmdir(dir);
}

// A port that is taken serves nothing: a service manager must see the host fail, with the port
// and the reason.
TEST(HostWithCurl, PortInUseEndsTheHostWithStatusOne) {
  const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  // `timeout` ends a host that keeps running instead (status 124). Under systemd, whose journal
  // takes a line's level from its "<N>" prefix, errors and warnings carry theirs.
  const std::string host = "timeout 20 " + std::string(TESSERA_HOST_BINARY) +
                           " --can none --start-delay 0 --search-dir /nonexistent/dir --port " + port;
  const std::string run = RunCommand(host + " 2>&1; echo exit=$?");
  const std::string journal = RunCommand(
      "f=$(mktemp); JOURNAL_STREAM=$(stat -L -c %d:%i \"$f\") " + host +
      " >\"$f\" 2>&1; echo exit=$?; cat \"$f\"; rm -f \"$f\"");
  ::close(taken);
  const std::string failed = "tessera-diag-server: cannot listen on port " + port +
                             ": Address already in use\n";
  const std::string warned = "[tessera] warning: the search directory /nonexistent/dir/ does not exist";
  EXPECT_NE(run.find("\n" + failed), std::string::npos) << run;
  EXPECT_NE(journal.find("\n<3>" + failed), std::string::npos) << journal;
  EXPECT_NE(run.find(warned), std::string::npos) << run;
  EXPECT_NE(journal.find("<4>" + warned), std::string::npos) << journal;
  EXPECT_NE(journal.find("\n[tessera] CAN backend: none\n"), std::string::npos) << journal;
  for (const std::string& output : {run, journal}) {
    EXPECT_EQ(output.find("running on port"), std::string::npos) << output;
    // It never listened, so it never "shut down cleanly".
    EXPECT_EQ(output.find("shutdown"), std::string::npos) << output;
    EXPECT_EQ(output.find("exit=1\n"), output.rfind("exit=")) << output;
    EXPECT_NE(output.find("exit=1\n"), std::string::npos) << output;
  }
}

// The host listens on every address of both families unless --bind names one; the library's
// own IPv4 listener is the same code with the default it was given.
TEST(HostWithCurl, BindNarrowsTheListenerToOneAddressOfEitherFamily) {
  const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 loopback6{};
  loopback6.sin6_family = AF_INET6;
  loopback6.sin6_addr = in6addr_loopback;
  const bool haveIpv6 =
      probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback6), sizeof loopback6) == 0;
  if (probe >= 0) ::close(probe);
  if (!haveIpv6) GTEST_SKIP() << "no IPv6 loopback on this machine";
  struct Case {
    std::vector<std::string> bind;
    std::string says;
    bool ipv4, ipv6;
  };
  const Case cases[] = {
      {{}, "all addresses (IPv4 and IPv6)", true, true},
      {{"--bind", "127.0.0.1"}, "127.0.0.1", true, false},
      {{"--bind", "[::1]"}, "::1", false, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--can", "none", "--start-delay", "0"};
    args.insert(args.end(), c.bind.begin(), c.bind.end());
    ServerProcess server(args);
    ASSERT_GT(server.port(), 0) << server.output();
    EXPECT_NE(server.output().find("[tessera] listening address: " + c.says + "\n"), std::string::npos)
        << server.output();
    const std::string port = std::to_string(server.port());
    for (const auto& [host, expected] : {std::pair<std::string, bool>{"127.0.0.1", c.ipv4},
                                         std::pair<std::string, bool>{"[::1]", c.ipv6}}) {
      const std::string answer = RunCommand("curl -sg --max-time 10 'http://" + host + ":" + port +
                                            "/?action=getversion'");
      EXPECT_EQ(answer.find("\"ReleaseInfo\": \"ZED2020\"") != std::string::npos, expected)
          << server.output() << " from " << host << ": " << answer;
    }
  }
}

TEST(HostWithCurl, SimulatedRobotIsListedToCurl) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const std::string command = "curl -s --max-time 10 '" + server.url("action=getdevices") + "'";
  const json listing = tessera_test::WaitForListing(
      [&] { return tessera_test::DeviceArrayOf(json::parse(RunCommand(command), nullptr, false)); },
      [](const json& l) { return l.size() == 8; }, std::chrono::seconds(30));
  ASSERT_EQ(listing.size(), 8u) << listing.dump(4);
  std::set<std::string> models;
  for (const auto& device : listing) models.insert(device["Model"].get<std::string>());
  EXPECT_EQ(models, (std::set<std::string>{"PDP", "PCM", "Kestrel KX", "Kestrel KF", "Harrier HX",
                                           "Wren", "CANdial", "CANtap"}));
  const json blink = json::parse(RunCommand("curl -s --max-time 10 '" +
                                            server.url("action=blink&model=kestrel+kx&id=1") + "'"));
  EXPECT_EQ(blink["GeneralReturn"]["Error"], 0) << blink.dump(4);
  EXPECT_EQ(server.stop(), 0);
}

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// The library opens a trace from its environment variable when it loads, before the host has
// read --can. Nothing may reach the bus until the host has chosen it, however long that takes
// (here a device file that is a FIFO holds the host up), and then the dynamic-ID reset-all is
// the server's first frame, on the chosen bus.
TEST(HostStartup, NothingTouchesTheBusBeforeItIsChosenThenResetAllComesFirst) {
  char dir[] = "/tmp/tessera-e2e-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string trace = std::string(dir) + "/bus.log";
  const std::string fifo = std::string(dir) + "/devices.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  setenv("TESSERA_CAN_TRACE", trace.c_str(), 1);
  {
    ServerProcess held({"--can", "sim:" + fifo, "--start-delay", "0"}, std::chrono::milliseconds(0));
    // Ten periods of the engine's 20 ms worker: one started at load would have sent by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Opening the writing end without a reader fails at once, so a host that never opened the
    // FIFO ends the test instead of hanging it. An empty device file then makes the host exit 1.
    int release = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while ((release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(release, 0) << "the host never opened its device file: " << held.output();
    close(release);
    EXPECT_EQ(held.stop(), 1) << held.output();
  }
  EXPECT_EQ(ReadFile(trace), "");

  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  unsetenv("TESSERA_CAN_TRACE");
  ASSERT_GT(server.port(), 0) << server.output();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(trace).find(" 0004F87F#") == std::string::npos &&  // first offer of an ID
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(server.stop(), 0);
  const std::string lines = ReadFile(trace);
  // The devices ask for IDs as they power up; the server's own frames are the broadcasts
  // (device type 0), and the first of them must be the reset-all.
  static const std::regex kFirstBroadcast(R"(\) sim (0004[0-9A-F]{4}#[0-9A-F]*)\n)");
  std::smatch first;
  ASSERT_TRUE(std::regex_search(lines, first, kFirstBroadcast)) << lines.substr(0, 600);
  EXPECT_EQ("0004F9BF#", first[1].str()) << lines.substr(0, 600);
  EXPECT_EQ(lines.find(" none "), std::string::npos) << lines.substr(0, 600);
  EXPECT_NE(lines.find(" sim 0004F87F#"), std::string::npos);
}
