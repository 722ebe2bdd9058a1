// Configuration through the real host with curl, on a simulated robot with one device of every
// configuration-capable family (each with a start configuration of its own) and devices whose
// firmware clamps, ignores writes, is too old to hand its configuration out, or runs its
// bootloader. Expected documents follow the templates and field encodings, worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/config_requests.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"

namespace {

using nlohmann::json;
using tessera_test::CurlSetConfig;
using tessera_test::CurlSetConfigToAnsweringDevice;
using tessera_test::CurlSetConfigText;
using tessera_test::ErrorOf;
using tessera_test::GetConfig;
using tessera_test::ValuesOf;
using tessera_test::WaitForConfig;

// A Harrier HX image as hex: marker 2, Peak Reverse Output -512 at 40, 12 V (3072) at 48.
std::string HarrierHex() {
  std::vector<uint8_t> image(356, 0);
  image[0] = 2;
  const uint8_t reverse[] = {0x00, 0xFE, 0xFF, 0xFF};
  const uint8_t volts[] = {0x00, 0x0C, 0x00, 0x00};
  std::copy(reverse, reverse + 4, image.begin() + 40);
  std::copy(volts, volts + 4, image.begin() + 48);
  std::string hex;
  char digits[3];
  for (uint8_t byte : image) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

std::string DeviceFile() {
  return R"~({"devices": [
    {"family": "kestrel kx", "id": 1, "config": {"Configs": [
      {"Type": "MotorOutputGroup", "Values": {"Peak Forward Output": 0.5, "Neutral Mode": 2}},
      {"Type": "SlotGroup", "Ordinal": 1, "Values": {"kP": 0.25}}]}},
    {"family": "kestrel kf", "id": 2, "config": {"Configs": [
      {"Type": "SupplyCurrentLimitGroup", "Values": {"Enable": true, "Current Limit": 40}},
      {"Type": "IntegratedSensor", "Values": {"Sensor Offset (deg)": -12}}]}},
    {"family": "harrier hx", "id": 3, "config_hex": ")~" + HarrierHex() + R"~("},
    {"family": "wren", "id": 4},
    {"family": "candial", "id": 5, "config": {"Configs": [
      {"Type": "UnitCoeffGroup", "Values": {"Unit String": "degrees", "Sensor Time Base": 1}}]}},
    {"family": "kestrel kx", "id": 7, "config_clamp": {"position": 112, "max": 40}},
    {"family": "kestrel kx", "id": 8, "config_write": "ignore"},
    {"family": "kestrel kx", "id": 9, "firmware": "3.2"},
    {"family": "kestrel kf", "id": 10, "mode": "bootloader"}]})~";
}

const std::vector<std::string> kSlots = {"Slot 0", "Slot 1", "Slot 2", "Slot 3"};

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> Names(const json& document) {
  std::vector<std::string> names;
  for (const auto& entry : document["Configs"]) names.push_back(entry["Name"]);
  return names;
}

class ConfigurationThroughCurl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/tessera-config-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    deviceFile_ = std::string(dir) + "/robot.json";
    std::ofstream(deviceFile_) << DeviceFile();
    server_ = new tessera_test::ServerProcess({"--can", "sim:" + deviceFile_, "--start-delay", "0"});
    ASSERT_GT(server_->port(), 0) << server_->output();
    const json listing = tessera_test::WaitForListing(
        server_->port(), [](const json& l) { return l.size() == 9; }, std::chrono::seconds(30));
    ASSERT_EQ(listing.size(), 9u) << listing.dump(2);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    unlink(deviceFile_.c_str());
    rmdir(deviceFile_.substr(0, deviceFile_.rfind('/')).c_str());
  }

  static int Port() { return server_->port(); }

  static tessera_test::ServerProcess* server_;
  static std::string deviceFile_;
};

tessera_test::ServerProcess* ConfigurationThroughCurl::server_ = nullptr;
std::string ConfigurationThroughCurl::deviceFile_;

TEST_F(ConfigurationThroughCurl, GetConfigListsTheTemplateWithTheDevicesValues) {
  const std::vector<std::string> common = {"Voltage Comp", "Hardware Limit Switches",
                                           "Software Limit Switches", "Motion Magic",
                                           "Motion Profile", "Closed Loop"};
  const std::vector<std::string> sensors = {"Remote Sensor", "Home Sensor", "Advanced Sensor and Meas"};
  struct Case {
    const char* model;
    int id;
    std::vector<std::string> names;
    const char* entry;
    const char* key;
    json value;
  };
  const Case cases[] = {
      {"kestrel kx", 1, Join({{"Motor Output", "Current Limit"}, common, kSlots, sensors}),
       "Motor Output", "Peak Forward Output", 512.0 / 1023},
      {"kestrel kx", 1, {}, "Motor Output", "Neutral Mode", 2},
      {"kestrel kx", 1, {}, "Slot 1", "kP", 0.25},
      {"kestrel kf", 2,
       Join({{"Motor Output", "Current Limit - Supply", "Current Limit - Stator"}, common, kSlots,
             sensors, {"Custom Params", "Integrated Sensor"}}),
       "Current Limit - Supply", "Current Limit", 40.0},
      {"kestrel kf", 2, {}, "Current Limit - Supply", "Enable", true},
      {"kestrel kf", 2, {}, "Integrated Sensor", "Sensor Offset (deg)", -12.0},
      {"harrier hx", 3, Join({{"Motor Output"}, common, kSlots, sensors}), "Voltage Comp",
       "Voltage Compensation Saturation", 12.0},
      {"harrier hx", 3, {}, "Motor Output", "Peak Reverse Output", -512.0 / 1023},
      {"candial", 5,
       {"Integrated Sensor", "Unit Coefficient And String", "Custom Params", "Advanced Sensor and Meas"},
       "Unit Coefficient And String", "Unit String", "degrees"},
      {"candial", 5, {}, "Unit Coefficient And String", "Sensor Time Base", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + c.key);
    json answer = WaitForConfig(Port(), c.model, c.id);
    ASSERT_EQ(ErrorOf(answer), 0) << answer.dump(2);
    if (!c.names.empty()) {
      EXPECT_EQ(Names(answer["Device"]), c.names);
    }
    EXPECT_EQ(ValuesOf(answer["Device"], c.entry)[c.key], c.value);
  }
  const json wren = WaitForConfig(Port(), "wren", 4);
  EXPECT_EQ(ErrorOf(wren), 0);
  EXPECT_EQ(wren["Device"], json::parse(R"({"Configs": []})"));
}

TEST_F(ConfigurationThroughCurl, ReadModifyWriteIsReadBackAndListedAfterwards) {
  struct Change {
    const char* entry;
    const char* key;
    json value;
    json readBack;  // as the device's image gives it back
  };
  struct Case {
    const char* model;
    int id;
    std::vector<Change> changes;
  };
  const Case cases[] = {
      {"kestrel kx", 1,
       {{"Motor Output", "Peak Forward Output", 0.25, 256.0 / 1023},
        {"Slot 2", "kF", -0.25, -0.25},
        {"Software Limit Switches", "Forward Soft Limit Enable", true, true}}},
      {"kestrel kf", 2,
       {{"Current Limit - Stator", "Enable", true, true},
        {"Current Limit - Stator", "Current Limit", 80.0, 80.0},
        {"Integrated Sensor", "Sensor Offset (deg)", 30.0, 30.0}}},
      {"harrier hx", 3,
       {{"Voltage Comp", "Voltage Compensation Saturation", 11.5, 11.5},
        {"Motion Profile", "Trajectory Interpolation Enable", true, true}}},
      {"candial", 5,
       {{"Integrated Sensor", "Magnet Offset (deg)", 90.0, 90.0},
        {"Unit Coefficient And String", "Unit String", "rotations", "rotations"}}},
      {"wren", 4, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    json document = WaitForConfig(Port(), c.model, c.id)["Device"];
    for (const Change& change : c.changes) ValuesOf(document, change.entry)[change.key] = change.value;
    const json written = CurlSetConfigToAnsweringDevice(Port(), c.model, c.id, document);
    ASSERT_EQ(ErrorOf(written), 0) << written.dump(2);
    json after = GetConfig(Port(), c.model, c.id);
    ASSERT_EQ(ErrorOf(after), 0);
    EXPECT_EQ(after["Device"], written["Device"]);  // what the device holds, read back once
    for (const Change& change : c.changes)
      EXPECT_EQ(ValuesOf(after["Device"], change.entry)[change.key], change.readBack) << change.key;
  }
}

TEST_F(ConfigurationThroughCurl, DevicesThatDoNotTakeTheDocumentSaySo) {
  json kx = WaitForConfig(Port(), "kestrel kx", 7)["Device"];
  ASSERT_TRUE(kx.is_object());

  json clamped = kx;
  ValuesOf(clamped, "Current Limit")["Peak Current Limit"] = 60.0;
  json answer = CurlSetConfigToAnsweringDevice(Port(), "kestrel kx", 7, clamped);
  EXPECT_EQ(ErrorOf(answer), -132);
  EXPECT_EQ(answer["GeneralReturn"]["ErrorMessage"], "QUOR_DI_ConfigReadWriteMismatch");
  EXPECT_EQ(ValuesOf(answer["Device"], "Current Limit")["Peak Current Limit"], 40.0);

  // kP -0.5 would go out as 0: refused before anything is sent, nothing read back to show.
  json negativeGain = kx;
  ValuesOf(negativeGain, "Slot 0")["kP"] = -0.5;
  ValuesOf(negativeGain, "Slot 1")["kP"] = 0.5;
  answer = CurlSetConfigToAnsweringDevice(Port(), "kestrel kx", 7, negativeGain);
  EXPECT_EQ(ErrorOf(answer), -132);
  EXPECT_FALSE(answer.contains("Device") && !answer["Device"].is_null()) << answer.dump();
  EXPECT_EQ(ValuesOf(GetConfig(Port(), "kestrel kx", 7)["Device"], "Slot 1")["kP"], 0.0);

  answer = CurlSetConfigToAnsweringDevice(Port(), "kestrel kx", 8, kx);
  EXPECT_EQ(ErrorOf(answer), -133);
  EXPECT_EQ(answer["GeneralReturn"]["ErrorMessage"], "Invalid Error Code(-133)");

  struct Refusal {
    const char* model;
    int id;
  };
  for (const Refusal& r : {Refusal{"kestrel kx", 9}, Refusal{"kestrel kf", 10}}) {
    SCOPED_TRACE(r.id);
    EXPECT_EQ(ErrorOf(GetConfig(Port(), r.model, r.id)), -128);
    EXPECT_TRUE(GetConfig(Port(), r.model, r.id)["Device"].is_null());
    EXPECT_EQ(ErrorOf(CurlSetConfig(Port(), r.model, r.id, kx)), -125);
  }

  EXPECT_EQ(ErrorOf(CurlSetConfigText(Port(), "kestrel kx", 7, "{\"Configs\": [")), -700);
  json wrongType = kx;
  ValuesOf(wrongType, "Slot 0")["kP"] = "high";
  EXPECT_EQ(ErrorOf(CurlSetConfig(Port(), "kestrel kx", 7, wrongType)), -700);
}

}  // namespace
