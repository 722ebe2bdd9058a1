// The host program on the simulated robot: "getdevices" lists every device with the texts its
// attributes call for.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/builtin_robot.h"
#include "tests/e2e/expected_listing.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using nlohmann::json;
using tessera_test::ServerProcess;

TEST(SimulatedRobotListing, EightDevicesWithTheirAttributes) {
  ServerProcess server({"--can", "sim", "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const auto robot = quor::tessera::sim::BuiltInRobot();
  const json listing = tessera_test::WaitForListing(
      server.port(), [&](const json& l) { return l.size() >= robot.size(); },
      std::chrono::seconds(30));
  ASSERT_EQ(listing.size(), robot.size()) << listing.dump(2);
  for (const auto& device : robot) {
    const json expected = tessera_test::ExpectedListing(device);
    const json entry = tessera_test::FindEntry(listing, expected["Model"], device.deviceNumber);
    ASSERT_FALSE(entry.is_null()) << expected["Model"] << " " << int(device.deviceNumber);
    for (const auto& [key, value] : expected.items())
      EXPECT_EQ(entry[key], value) << expected["Model"] << " " << key;
  }
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
