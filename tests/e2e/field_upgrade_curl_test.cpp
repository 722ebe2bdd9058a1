// A firmware upgrade of the simulated Kestrel KX through the real host, as the PC tool does it:
// the file uploaded with curl (or named in the search directory) while a second connection
// polls "progress"; afterwards the listing shows the new firmware.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "sim/bfl_writer.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using nlohmann::json;
using tessera_test::RunCommand;
using tessera_test::ServerProcess;

constexpr uint8_t kKestrelKxCode = 9;
constexpr uint8_t kKestrelKfCode = 17;
constexpr const char* kKestrel = "model=kestrel+kx&id=1";

std::string WriteImage(const std::string& dir, const std::string& name, uint8_t chipId,
                       uint8_t major, uint8_t minor, uint32_t sectors) {
  const std::vector<uint8_t> file =
      quor::tessera::sim::MakeBflFile(quor::tessera::sim::PlanFor(chipId, major, minor, sectors));
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

json KestrelOf(const json& devices) {
  for (const auto& device : devices)
    if (device["Model"] == "Kestrel KX" && device["ID"] == 1) return device;
  return json();
}

// Polls "progress" until the upgrade has been seen running and then ended; the percents seen
// while it ran, and the last answer.
std::vector<int> PollUntilDone(ServerProcess& server, json* last,
                               const std::function<void()>& whileRunning) {
  std::vector<int> seen;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool askedWhileRunning = false;
  while (std::chrono::steady_clock::now() < until) {
    *last = server.get(std::string("action=progress&") + kKestrel);
    const int error = (*last)["GeneralReturn"]["Error"];
    if (error == 0) {
      const int percent = (*last)["Progress"];
      if (seen.empty() || seen.back() != percent) seen.push_back(percent);
      if (!askedWhileRunning) whileRunning();
      askedWhileRunning = true;
    } else if (!seen.empty()) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return seen;
}

TEST(FieldUpgradeWithCurl, UploadSearchDirectoryFileAndWrongModel) {
  char dir[] = "/tmp/tessera-upgrade-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string upload = WriteImage(dir, "upload.bfl", kKestrelKxCode, 21, 0, 40);
  const std::string named = WriteImage(dir, "named.bfl", kKestrelKxCode, 21, 5, 4);
  WriteImage(dir, "wrong.bfl", kKestrelKfCode, 30, 0, 4);
  ServerProcess server({"--can", "sim", "--start-delay", "0", "--search-dir", dir});
  ASSERT_GT(server.port(), 0) << server.output();
  tessera_test::WaitForListing(server.port(), [](const json& l) { return l.size() == 8; },
                               std::chrono::seconds(30));

  auto answer = std::async(std::launch::async, [&] {
    return RunCommand("curl -s --max-time 120 -F 'file=@" + upload + "' '" +
                      server.url(std::string("action=fieldupgrade&") + kKestrel) + "'");
  });
  json last;
  json busy;
  const std::vector<int> seen = PollUntilDone(server, &last, [&] {
    busy = server.get(std::string("action=fieldupgrade&file=named.bfl&") + kKestrel);
  });
  const json uploaded = json::parse(answer.get(), nullptr, false);
  ASSERT_FALSE(uploaded.is_discarded());
  EXPECT_EQ(uploaded["GeneralReturn"]["Error"], 0) << uploaded.dump(2);
  EXPECT_EQ(uploaded["UpdateMessage"], "");
  EXPECT_EQ(uploaded["Path"], std::string(dir) + "/");
  EXPECT_GT(uploaded["Size"].get<int>(), 40 * 1545) << "the whole POST body";

  // The progress climbs through the stages and the sectors, and ends with "not updating".
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]) << i;
  EXPECT_GE(seen.front(), 2) << ::testing::PrintToString(seen);
  EXPECT_LE(seen.front(), 10) << ::testing::PrintToString(seen);
  // 97 lasts over a second, and 99 while the clean-up waits for the dynamic-ID release.
  EXPECT_NE(std::find(seen.begin(), seen.end(), 97), seen.end()) << ::testing::PrintToString(seen);
  EXPECT_EQ(seen.back(), 99) << ::testing::PrintToString(seen);
  int sectorSteps = 0;
  for (int percent : seen) sectorSteps += percent >= 11 && percent <= 89;
  EXPECT_GE(sectorSteps, 3) << ::testing::PrintToString(seen);
  EXPECT_EQ(last["GeneralReturn"]["Error"], -126);
  EXPECT_EQ(last["GeneralReturn"]["ErrorMessage"], "QUOR_DI_NotUpdating");
  EXPECT_EQ(last["Progress"], 0);
  // A second upgrade asked for meanwhile is told the server is busy.
  EXPECT_EQ(busy["GeneralReturn"]["Error"], -100) << busy.dump(2);
  EXPECT_EQ(busy["UpdateMessage"], "Already Firmware Updating");

  const auto listsVersion = [](const std::string& version) {
    return [version](const json& l) { return KestrelOf(l)["CurrentVers"] == version; };
  };
  json listing = tessera_test::WaitForListing(server.port(), listsVersion("21.0"), std::chrono::seconds(20));
  EXPECT_EQ(KestrelOf(listing)["CurrentVers"], "21.0") << listing.dump(2);

  // The same from a file in the search directory.
  const json fromFile = json::parse(
      RunCommand("curl -s --max-time 60 '" +
                 server.url(std::string("action=fieldupgrade&file=named.bfl&") + kKestrel) + "'"),
      nullptr, false);
  EXPECT_EQ(fromFile["GeneralReturn"]["Error"], 0) << fromFile.dump(2);
  EXPECT_EQ(fromFile["Path"], named);
  EXPECT_EQ(fromFile["Size"], 13 + 4 * 1545);
  listing = tessera_test::WaitForListing(server.port(), listsVersion("21.5"), std::chrono::seconds(20));
  EXPECT_EQ(KestrelOf(listing)["CurrentVers"], "21.5") << listing.dump(2);

  // A file for another model is refused before the device is asked anything.
  const json wrong = json::parse(
      RunCommand("curl -s --max-time 60 '" +
                 server.url(std::string("action=fieldupgrade&file=wrong.bfl&") + kKestrel) + "'"),
      nullptr, false);
  EXPECT_EQ(wrong["GeneralReturn"]["Error"], -202) << wrong.dump(2);
  EXPECT_EQ(wrong["UpdateMessage"],
            "Kestrel KX (Device ID 1) : Selected BFL is for the wrong product");
  // The device is left as it was (the refusal's clean-up only has the devices take new dynamic
  // IDs).
  listing = tessera_test::WaitForListing(
      server.port(),
      [](const json& l) { return KestrelOf(l)["SoftStatus"] == "Running Application."; },
      std::chrono::seconds(20));
  EXPECT_EQ(KestrelOf(listing)["CurrentVers"], "21.5");
  EXPECT_EQ(KestrelOf(listing)["SoftStatus"], "Running Application.");
  EXPECT_EQ(server.stop(), 0);
  RunCommand(std::string("rm -rf ") + dir);
}

}  // namespace
