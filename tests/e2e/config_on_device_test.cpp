// Configuration writes seen from the simulated device: the server in this process on the
// built-in robot, documents sent with curl, and the bytes the device then holds compared with
// the field layout (positions and encodings worked out by hand).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/device_file.h"
#include "tests/support/config_requests.h"
#include "tests/support/in_process_server.h"
#include "tests/support/wait_until.h"

namespace {

using nlohmann::json;
using quor::tessera::sim::DeviceFamily;
using tessera_test::CurlSetConfigToAnsweringDevice;
using tessera_test::CurlSetConfigText;
using tessera_test::ErrorOf;
using tessera_test::GetConfig;
using tessera_test::ValuesOf;
using tessera_test::WaitForConfig;

constexpr size_t kKx = 2;  // built-in robot order: PDP, PCM, Kestrel KX 1, Kestrel KF 2, ...
constexpr size_t kKf = 3;
constexpr size_t kCandial = 6;

class ConfigurationOnTheDevice : public tessera_test::InProcessServerTest {
 protected:
  void SetUp() override {
    InProcessServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WaitForDevices(8).size(), 8u);
  }

  json WaitForDevices(size_t count) {
    return WaitForListing([count](const json& l) { return l.size() == count; });
  }
  // The device's 32-bit little-endian field at `position`.
  uint32_t Field(size_t index, uint32_t position, uint32_t* writes = nullptr) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(robot().configImage(index, &image, writes));
    if (image.size() < position + 4) return 0xDEADBEEF;
    return image[position] | image[position + 1] << 8 | image[position + 2] << 16 |
           static_cast<uint32_t>(image[position + 3]) << 24;
  }
};

TEST_F(ConfigurationOnTheDevice, WrittenValuesLandInTheirFields) {
  struct Value {
    const char* entry;
    const char* key;
    json value;
    uint32_t position;
    uint32_t field;
  };
  struct Case {
    size_t index;
    const char* model;
    int id;
    std::vector<Value> values;
  };
  const Case cases[] = {
      {kKx, "kestrel kx", 1,
       {{"Motor Output", "Peak Forward Output", 0.5, 32, 512},
        {"Motor Output", "Peak Reverse Output", -0.5, 40, 0xFFFFFE00},
        {"Voltage Comp", "Voltage Compensation Saturation", 12.0, 48, 3072},
        {"Motion Profile", "Trajectory Interpolation Enable", true, 312, 0},
        {"Remote Sensor", "Neutral If Missing Remote Limit Switch", false, 336, 1},
        {"Slot 2", "kF", -0.25, 220, 0xFFF00000},
        {"Home Sensor", "Clear Pos On Quad Index", true, 332, 1}}},
      {kKf, "kestrel kf", 2,
       {{"Current Limit - Supply", "Trigger Threshold Time", 0.1, 116, 100},
        {"Custom Params", "Custom Param 1", -7, 396, 0xFFFFFFF9}}},
      {kCandial, "candial", 5,
       {{"Integrated Sensor", "Magnet Offset (deg)", 90.0, 16, 1024},
        {"Unit Coefficient And String", "Unit String", "deg", 36, 0x00676564}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    json document = WaitForConfig(Port(), c.model, c.id)["Device"];
    for (const Value& v : c.values) ValuesOf(document, v.entry)[v.key] = v.value;
    ASSERT_EQ(ErrorOf(CurlSetConfigToAnsweringDevice(Port(), c.model, c.id, document)), 0);
    for (const Value& v : c.values) EXPECT_EQ(Field(c.index, v.position), v.field) << v.key;
  }
}

TEST_F(ConfigurationOnTheDevice, DocumentsThatAreNotUsableWriteNothing) {
  json document = WaitForConfig(Port(), "kestrel kx", 1)["Device"];
  json missingValues = document;
  missingValues["Configs"][0].erase("Values");
  json wrongType = document;
  ValuesOf(wrongType, "Motor Output")["Neutral Mode"] = "coast";
  json numberForBoolean = document;
  ValuesOf(numberForBoolean, "Motion Profile")["Trajectory Interpolation Enable"] = 1;
  // Wide documents of a hostile run: a 32 MiB one grew the server by 2 GB and was echoed back
  // indented; with "Configs" empty beside the array it zeroed the device's image, Error 0.
  const auto wide = [](const std::string& configs, size_t bytes) {
    std::string text = "{\"Configs\": " + configs + ", \"x\": [{}";
    while (text.size() < bytes) text += ",{}";
    return text + "]}";
  };
  for (const std::string& text :
       {std::string("not json"), std::string("{\"Configs\": 7}"), missingValues.dump(),
        wrongType.dump(), numberForBoolean.dump(), wide("5", 1 << 20), wide("[]", 64 << 10)}) {
    SCOPED_TRACE(text.substr(0, 60));
    const json answer = CurlSetConfigText(Port(), "kestrel kx", 1, text);
    EXPECT_EQ(ErrorOf(answer), -700);
    EXPECT_EQ(answer["GeneralReturn"]["ErrorMessage"], "QUOR_DI_InvalidJson");
    EXPECT_FALSE(answer.contains("Device")) << "an upload is never echoed";
  }
  uint32_t writes = 99;
  Field(kKx, 0, &writes);
  EXPECT_EQ(writes, 0u);
  // The server is still serving.
  EXPECT_EQ(ErrorOf(GetConfig(Port(), "kestrel kx", 1)), 0);
}

TEST_F(ConfigurationOnTheDevice, FactoryDefaultBringsTheFactoryImageBack) {
  json answer = WaitForConfig(Port(), "kestrel kf", 2);
  ASSERT_EQ(ErrorOf(answer), 0) << answer.dump(2);
  json document = answer["Device"];
  ValuesOf(document, "Motor Output")["Peak Forward Output"] = 1.0;
  ASSERT_EQ(ErrorOf(CurlSetConfigToAnsweringDevice(Port(), "kestrel kf", 2, document)), 0);
  ASSERT_EQ(Field(kKf, 32), 1023u);
  // A device slow to answer the 20 ms presence check is asked again.
  ASSERT_TRUE(tessera_test::WaitUntil(
      [this] {
        return ErrorOf(tessera_test::GetJson(Port(), "/?action=factorydef&model=kestrel+kf&id=2")) == 0;
      },
      std::chrono::seconds(5), std::chrono::milliseconds(10)));
  std::vector<uint8_t> factory(412, 0);
  factory[0] = 2;
  std::vector<uint8_t> image;
  ASSERT_TRUE(robot().configImage(kKf, &image));
  EXPECT_EQ(image, factory);
  // The next refresh fetches the restored image.
  EXPECT_TRUE(tessera_test::WaitUntil(
      [this] {
        json now = GetConfig(Port(), "kestrel kf", 2);
        return ValuesOf(now["Device"], "Motor Output")["Peak Forward Output"] == 0.0;
      },
      std::chrono::seconds(10), std::chrono::milliseconds(50)));
}

TEST_F(ConfigurationOnTheDevice, NoDocumentBeforeTheFirstImageArrives) {
  quor::tessera::sim::DeviceAttributes late =
      quor::tessera::sim::DefaultDevice(DeviceFamily::kKestrelKf, 9);
  late.mode = quor::tessera::sim::DeviceMode::kBootloader;  // hands out no configuration yet
  const size_t index = robot().addDevice(late);
  ASSERT_EQ(WaitForDevices(9).size(), 9u);
  json answer = GetConfig(Port(), "kestrel kf", 9);
  EXPECT_EQ(ErrorOf(answer), -128);
  EXPECT_EQ(answer["GeneralReturn"]["ErrorMessage"], "QUOR_DI_NoConfigs");
  EXPECT_TRUE(answer["Device"].is_null());
  ASSERT_TRUE(robot().setMode(index, quor::tessera::sim::DeviceMode::kApplication));
  EXPECT_TRUE(tessera_test::WaitUntil([&] { return ErrorOf(GetConfig(Port(), "kestrel kf", 9)) == 0; },
                                      std::chrono::seconds(15), std::chrono::milliseconds(50)));
  EXPECT_EQ(GetConfig(Port(), "kestrel kf", 9)["Device"]["Configs"].size(), 18u);
}

}  // namespace
