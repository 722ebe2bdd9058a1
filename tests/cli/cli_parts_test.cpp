// The client's pieces that need no server: backup file names, which plot points are new, and
// how query values travel.
#include <gtest/gtest.h>

#include <httplib.h>

#include <sstream>
#include <thread>

#include "cli/backup_document.h"
#include "cli/backup_files.h"
#include "cli/config_difference.h"
#include "cli/context_hints.h"
#include "cli/diag_client.h"
#include "cli/plot_channels.h"
#include "cli/plot_points.h"
#include "cli/progress_display.h"
#include "cli/server_address.h"
#include "tests/support/wait_until.h"

namespace {

using nlohmann::json;
using tessera::cli::DeviceAddress;

TEST(BackupFiles, NamesStandForTheirDeviceAndNothingElse) {
  struct Case {
    const char* name;
    std::optional<DeviceAddress> device;
  };
  const Case cases[] = {
      {"kestrel-kx-1.json", DeviceAddress{"kestrel kx", 1}},
      {"Kestrel-KF-12.json", DeviceAddress{"kestrel kf", 12}},
      {"pdp-0.json", DeviceAddress{"pdp", 0}},
      {"candial-62.json", DeviceAddress{"candial", 62}},
      {"candial-63.json", std::nullopt},  // the broadcast number is no device
      {"candial-123.json", std::nullopt},
      {"kestrel-kx-.json", std::nullopt},
      {"-1.json", std::nullopt},
      {"kestrel-kx-1.json.bak", std::nullopt},
      {"kestrel-kx-1a.json", std::nullopt},
      {"notes.txt", std::nullopt},
      {".json", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto device = tessera::cli::DeviceOfBackupFile(c.name);
    ASSERT_EQ(device.has_value(), c.device.has_value()) << c.name;
    if (!device) continue;
    EXPECT_EQ(device->model, c.device->model) << c.name;
    EXPECT_EQ(device->id, c.device->id) << c.name;
  }
  const auto back = tessera::cli::DeviceOfBackupFile(
      tessera::cli::BackupFileName(DeviceAddress{"harrier hx", 3}));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->text(), "harrier hx 3");
}

json Points(std::initializer_list<int> ordinals) {
  json points = json::array();
  for (const int ordinal : ordinals)
    points.push_back({{"Ordinal", ordinal}, {"Time", ordinal / 100.0}, {"MotorOutput", 0.5}});
  return points;
}

std::vector<int> OrdinalsOf(const std::vector<json>& points) {
  std::vector<int> ordinals;
  for (const auto& point : points) ordinals.push_back(point["Ordinal"]);
  return ordinals;
}

TEST(PlotPoints, EachPointOnceFromTheFirstPollOnAndLossesCounted) {
  tessera::cli::NewPointFilter filter;
  // Recorded before the plot began (perhaps of another device): not shown.
  EXPECT_TRUE(filter.take(Points({7, 8, 9})).empty());
  EXPECT_EQ(OrdinalsOf(filter.take(Points({8, 9, 10, 11}))), (std::vector<int>{10, 11}));
  EXPECT_TRUE(filter.take(Points({10, 11})).empty());
  // 12 and 13 left the buffer before this poll.
  EXPECT_EQ(OrdinalsOf(filter.take(Points({14, 15}))), (std::vector<int>{14, 15}));
  EXPECT_EQ(filter.missed(), 2);

  tessera::cli::NewPointFilter fresh;
  EXPECT_TRUE(fresh.take(json::array()).empty());
  EXPECT_EQ(OrdinalsOf(fresh.take(Points({3, 4}))), (std::vector<int>{3, 4}));
  EXPECT_EQ(fresh.missed(), 0);

  EXPECT_EQ(tessera::cli::PointAsCsv(
                {{"Ordinal", 4}, {"Time", 1.25}, {"SensorPos", -3}, {"SensorVel", 0.5}}),
            "4,1.25,SensorPos,-3\n4,1.25,SensorVel,0.5\n");
}

TEST(Query, ValuesArriveAsTypedWhateverTheirBytes) {
  // The server turns '+' into a space and splits at '&' and '=' after decoding, so those and
  // everything outside the unreserved characters travel percent-encoded.
  EXPECT_EQ(
      tessera::cli::EncodeQuery(
          {{"action", "setname"}, {"model", "kestrel kx"}, {"newname", "Left Arm+1/\xC3\xA9~"}}),
      "action=setname&model=kestrel%20kx&newname=Left%20Arm%2B1%2F%C3%A9~");
}

TEST(ServerAddress, HostsPortsAndIpv6AsUsersWriteThem) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"robot.local", true, "robot.local", 1250},   {"10.12.34.2:8080", true, "10.12.34.2", 8080},
      {"[::1]:1251", true, "::1", 1251},            {"::1", true, "::1", 1250},
      {"[fe80::1%eth0]", true, "fe80::1%eth0", 1250}, {"localhost:65535", true, "localhost", 65535},
      {"localhost:65536", false, "", 0},            {"localhost:0", false, "", 0},
      {"localhost:", false, "", 0},                 {":1250", false, "", 0},
      {"[::1", false, "", 0},                       {"[::1]x", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    tessera::cli::ServerAddress address;
    std::string error;
    EXPECT_EQ(tessera::cli::ParseServerAddress(c.text, address, error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
  }
  EXPECT_EQ((tessera::cli::ServerAddress{"::1", 1250}.text()), "[::1]:1250");
}

TEST(PlotChannels, NamesMasksAndMixturesEitherWay) {
  struct Case {
    const char* typed;
    std::optional<unsigned> mask;
  };
  const Case cases[] = {
      {"MotorOutput", 0x1},      {"motoroutput,SensorVel", 0x5}, {"0x3FF", 0x3FF},
      {"all", 0x3FF},            {"3", 0x3},                     {"ActTrajVel,0x1", 0x201},
      {"0", 0},                  {"0x400", std::nullopt},        {"Speed", std::nullopt},
      {"", std::nullopt},        {"-1", std::nullopt},           {"MotorOutput,", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(tessera::cli::ParseChannels(c.typed), c.mask) << c.typed;
}

TEST(BackupDocument, TheDeviceMemberTravelsAsItStandsInTheFile) {
  // Key order, spacing and number spelling as saved (by us or by the browser page).
  const std::string file =
      "{\"Device\":  {\"Configs\": [{\"Name\": \"a\\\"}\", \"Values\": {\"x\": 1.50}}]} ,\n"
      " \"Backup\": {\"Model\": \"Kestrel KF\", \"ID\": 2, \"SerialNo\": \"00AB\"}}";
  tessera::cli::ConfigurationFile read;
  std::string error;
  ASSERT_TRUE(tessera::cli::ReadConfigurationFile(file, read, error)) << error;
  EXPECT_EQ(read.sent, "{\"Configs\": [{\"Name\": \"a\\\"}\", \"Values\": {\"x\": 1.50}}]}");
  ASSERT_TRUE(read.backup);
  EXPECT_EQ(read.backup->model, "Kestrel KF");
  EXPECT_EQ(read.backup->id, 2u);
  EXPECT_EQ(read.backup->serial, "00AB");
  // A plain document goes as it is; a backup without its document is refused.
  const std::string plain = "{ \"Configs\": [] }";
  ASSERT_TRUE(tessera::cli::ReadConfigurationFile(plain, read, error));
  EXPECT_EQ(read.sent, plain);
  EXPECT_FALSE(read.backup);
  EXPECT_FALSE(tessera::cli::ReadConfigurationFile("{\"Backup\": {}}", read, error));
  EXPECT_EQ(tessera::cli::TopLevelMemberText("{\"a\": [1, {\"b\": 2}], \"c\": true}", "c"), "true");
  EXPECT_EQ(tessera::cli::TopLevelMemberText("{\"a\": {\"c\": 1}}", "c"), std::nullopt);
}

TEST(ConfigDifference, NamesEveryValueTheDeviceDoesNotHoldAsSent) {
  const json sent = json::parse(R"({"Configs": [
      {"Name": "Motor Output", "Values": {"Peak Forward Output": 0.5, "Neutral Mode": 1}},
      {"Name": "Slot 0", "Ordinal": 0, "Values": {"kP": -0.5, "kI": 0}},
      {"Name": "Slot 0", "Ordinal": 1, "Values": {"kP": 2}}]})");
  const json held = json::parse(R"({"Configs": [
      {"Name": "Motor Output", "Values": {"Peak Forward Output": 0.5, "Neutral Mode": 1}},
      {"Name": "Slot 0", "Ordinal": 0, "Values": {"kP": 0.0, "kI": 0.0}},
      {"Name": "Slot 0", "Ordinal": 1, "Values": {}}]})");
  EXPECT_EQ(tessera::cli::ConfigDifferences(sent, held),
            (std::vector<std::string>{
                "Slot 0 (ordinal 0): kP: sent -0.5, the device holds 0.0",
                "Slot 0 (ordinal 1): kP: sent 2, the device's answer has no such value"}));
  EXPECT_TRUE(tessera::cli::ConfigDifferences(held, held).empty());
}

TEST(ProgressDisplay, ATerminalLineNeverRunsPastItsWidth) {
  for (const int width : {120, 60, 40, 25, 12, 6}) {
    std::ostringstream out;
    tessera::cli::ProgressDisplay display(out, width, "upgrade kestrel kx 12");
    display.show(45, 3723000);
    const std::string line = out.str().substr(1, out.str().find("\x1b[K") - 1);  // after "\r"
    EXPECT_LT(static_cast<int>(line.size()), width) << width << ": " << line;
    EXPECT_NE(line.find(width > 14 ? " 45%  1:02:03" : " 45%"), std::string::npos) << width << ": " << line;
    EXPECT_EQ(line.find('[') != std::string::npos, width >= 60) << width << ": " << line;
  }
}

// A server that answers "progress" and "getdevices" as told: the advice for -102 follows what
// it says about the device now.
TEST(ContextHints, DeviceDidNotAnswerIsExplainedByWhatTheServerSaysNow) {
  struct Case {
    int progressError;
    const char* listing;
    const char* hintStart;
  };
  const Case cases[] = {
      {0, R"([{"Model": "Kestrel KX", "ID": 1, "SoftStatus": "Running Application."}])",
       "a firmware upgrade is running on the server"},
      {-126, "[]", "the device has left the listing since"},
      {-126, R"([{"Model": "Kestrel KX", "ID": 1, "SoftStatus": "Bootloader, LED is blinking green/orange."}])",
       "the device runs its bootloader, without an application; `tessera-diag upgrade kestrel-kx 1 FILE`"},
      {-126, R"([{"Model": "Kestrel KX", "ID": 1, "SoftStatus": "Running Application."}])", ""},
  };
  for (const Case& c : cases) {
    httplib::Server server;
    server.Get("/", [&](const httplib::Request& request, httplib::Response& response) {
      const std::string action = request.get_param_value("action");
      const int error = action == "progress" ? c.progressError : 0;
      response.set_content("{\"GeneralReturn\": {\"Error\": " + std::to_string(error) +
                               "}, \"Progress\": 40, \"DeviceArray\": " + c.listing + "}",
                           "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    // The socket listens from the bind on; the accept loop must have begun before stop().
    tessera_test::WaitUntil([&] { return server.is_running(); }, std::chrono::seconds(10),
                            std::chrono::milliseconds(1));
    tessera::cli::Answer noAnswer;
    noAnswer.error = -102;
    std::string hint;
    {
      // Closed before the server stops, which would otherwise wait for the kept-alive connection.
      tessera::cli::DiagClient client({"127.0.0.1", port}, std::chrono::seconds(5));
      hint = tessera::cli::ContextHint(client, {"kestrel kx", 1}, noAnswer);
    }
    server.stop();
    serving.join();
    EXPECT_EQ(hint.rfind(c.hintStart, 0), 0u) << c.listing << ": " << hint;
    EXPECT_EQ(hint.empty(), std::string(c.hintStart).empty()) << hint;
  }
}

}  // namespace
