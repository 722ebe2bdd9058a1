// The client's pieces that need no server: backup file names, which plot points are new, and
// how query values travel.
#include <gtest/gtest.h>

#include "cli/backup_files.h"
#include "cli/diag_client.h"
#include "cli/plot_points.h"

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

}  // namespace
