// The host program end to end, queried with curl.
#include <gtest/gtest.h>

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
  const std::string usage = RunCommand(std::string(TESSERA_HOST_BINARY) + " --port 70000 2>&1; echo exit=$?");
  EXPECT_NE(usage.find("--port needs a number"), std::string::npos) << usage;
  EXPECT_NE(usage.find("exit=2"), std::string::npos) << usage;
  const std::string can = RunCommand(std::string(TESSERA_HOST_BINARY) + " --can bogus 2>&1; echo exit=$?");
  EXPECT_NE(can.find("bogus"), std::string::npos) << can;
  EXPECT_NE(can.find("exit=1"), std::string::npos) << can;
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
