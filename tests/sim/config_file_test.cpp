// Device files give a device's start configuration as a document or as hex, and how its
// firmware treats writes. Expected bytes are worked out by hand from the devices' field layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/config_store.h"
#include "sim/device_file.h"

namespace quor::tessera::sim {
namespace {

std::string Entry(const std::string& family, const std::string& members) {
  return R"({"devices": [{"family": ")" + family + R"(", "id": 1, )" + members + "}]}";
}

std::string Document(const std::string& entries) {
  return R"("config": {"Configs": [)" + entries + "]}";
}

uint32_t FieldAt(const ConfigStore& store, uint16_t position) {
  const uint8_t* b = store.image() + position;
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

TEST(DeviceFileConfiguration, DocumentValuesLandInTheirFields) {
  struct Case {
    const char* family;
    std::string members;
    uint16_t position;
    uint32_t field;
  };
  const Case cases[] = {
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Peak Forward Output": 0.5}})"), 32, 512},
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Peak Reverse Output": -0.5}})"), 40, 0xFFFFFE00},
      {"harrier hx", Document(R"({"Type": "VoltageCompGroup", "Values": {"Voltage Compensation Saturation": 12.0}})"), 48, 3072},
      {"kestrel kx", Document(R"({"Type": "SlotGroup", "Ordinal": 2, "Values": {"kF": -0.25}})"), 220, 0xFFF00000},
      {"kestrel kx", Document(R"({"Type": "SlotGroup", "Values": {"kP": 1.0}})"), 136, 4194304},
      {"kestrel kx", Document(R"({"Type": "MotionProfileGroup", "Values": {"Trajectory Interpolation Enable": true}})"), 312, 0},
      {"kestrel kx", Document(R"({"Type": "RemoteSensorGroup", "Values": {"Neutral If Missing Remote Limit Switch": false}})"), 336, 1},
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Open Loop Ramp": 1.0}})"), 124, 10},
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Neutral Deadband": -0.04}})"), 132, 0xFFFFFFD7},
      {"kestrel kx", Document(R"({"Type": "HomeSensorGroup", "Values": {"Clear Pos On Quad Index": true}})"), 332, 1},
      {"kestrel kf", Document(R"({"Type": "HomeSensorGroup", "Values": {"Clear Pos On Quad Index": true}})"), 332, 0},
      {"kestrel kf", Document(R"({"Type": "SupplyCurrentLimitGroup", "Values": {"Trigger Threshold Time": 0.1}})"), 116, 100},
      {"kestrel kf", Document(R"~({"Type": "IntegratedSensor", "Values": {"Sensor Offset (deg)": -12.7}})~"), 408, 0xFFFFFFF4},
      {"candial", Document(R"~({"Type": "IntegratedSensor", "Values": {"Magnet Offset (deg)": 90.0}})~"), 16, 1024},
      {"candial", Document(R"~({"Type": "IntegratedSensor", "Values": {"Magnet Offset (deg)": -90.0}})~"), 16, 0xFFFFFC01},
      {"candial", Document(R"({"Type": "UnitCoeffGroup", "Values": {"Unit String": "deg"}})"), 36, 0x00676564},
      {"candial", Document(R"({"Type": "UnitCoeffGroup", "Values": {"Unit String": "rotations"}})"), 40, 0x33305F5F},
      {"wren", Document(R"({"Type": "ConfigGroup", "Values": {"Invert": 1}})"), 124, 1},
      {"candial", R"("config_hex": ")" + std::string(96, '0') + " 01 02 03 04" + R"(")", 48, 0x04030201},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.members);
    std::vector<DeviceAttributes> devices;
    std::string error;
    ASSERT_TRUE(ParseDeviceFile(Entry(c.family, c.members), &devices, &error)) << error;
    const ConfigStore store(devices[0].family, devices[0].config);
    EXPECT_EQ(FieldAt(store, c.position), c.field);
    const bool motorController = c.family[0] == 'k' || c.family[0] == 'h';
    if (c.members.find("config_hex") == std::string::npos) {
      EXPECT_EQ(FieldAt(store, 0), motorController ? 2u : 1u);  // the format marker stays
    }
  }
}

TEST(DeviceFileConfiguration, MistakesAreNamed) {
  struct Case {
    const char* family;
    std::string members;
    const char* error;
  };
  const Case cases[] = {
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Peak Output Forward": 1}})"),
       R"(devices[0].config: Configs[0]: unknown key "Peak Output Forward")"},
      {"kestrel kx", Document(R"({"Type": "SupplyCurrentLimitGroup", "Values": {}})"),
       R"(devices[0].config: Configs[0]: this family has no group "SupplyCurrentLimitGroup")"},
      {"kestrel kx", Document(R"({"Type": "MotorOutputGroup", "Values": {"Peak Forward Output": 1.5}})"),
       R"(devices[0].config: Configs[0]: "Peak Forward Output": out of the field's range)"},
      {"kestrel kx", Document(R"({"Type": "SlotGroup", "Ordinal": 4, "Values": {}})"),
       R"(devices[0].config: Configs[0]: "Ordinal" must be 0 to 3)"},
      {"pdp", Document(""), "devices[0].config: this family keeps no configuration"},
      {"candial", R"("config_hex": "0102")", "devices[0].config_hex: expected 52 bytes (104 digits), got 2"},
      {"candial", R"("config_hex": "", "config": {"Configs": []})",
       R"(devices[0].config_hex: give the start image either as "config" or as "config_hex")"},
      {"kestrel kx", R"("config_clamp": {"position": 114, "max": 3})",
       "devices[0].config_clamp.position: expected a multiple of 4 below 353, got 114"},
      {"kestrel kx", R"("config_clamp": {"position": 112, "min": 5, "max": 3})",
       R"(devices[0].config_clamp: "min" is above "max")"},
      {"kestrel kx", R"("config_write": "sometimes")",
       R"(devices[0].config_write: expected "apply" or "ignore", got "sometimes")"},
      {"kestrel kx", R"("config_write_answer": "05 00 00 00 00 00 00")",
       "devices[0].config_write_answer: expected 1 to 6 bytes, got 7"},
      {"kestrel kx", R"("config_read_after_write": "late")",
       R"(devices[0].config_read_after_write: expected "whole", "silent" or "short", got "late")"},
      {"kestrel kx", R"("flow_control_separation_ms": 128)",
       "devices[0].flow_control_separation_ms: expected 0 to 127, got 128"},
  };
  for (const Case& c : cases) {
    std::vector<DeviceAttributes> devices;
    std::string error;
    EXPECT_FALSE(ParseDeviceFile(Entry(c.family, c.members), &devices, &error)) << c.members;
    EXPECT_EQ(error, c.error);
  }
}

TEST(DeviceFileConfiguration, FirmwareKeepsItsClampIgnoresOrTakesWritesAndResets) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile(
      R"({"devices": [
        {"family": "kestrel kx", "id": 1, "config_clamp": {"position": 112, "max": 40},
         "config": {"Configs": [{"Type": "CurrentLimitGroup", "Values": {"Peak Current Limit": 30}}]}},
        {"family": "kestrel kx", "id": 2, "config_write": "ignore"},
        {"family": "kestrel kf", "id": 3, "config_write_answer": "05 01", "config_read_after_write": "short",
         "flow_control_separation_ms": 5}]})",
      &devices, &error))
      << error;
  EXPECT_EQ(devices[2].config.writeAnswer, (std::vector<uint8_t>{0x05, 0x01}));
  EXPECT_EQ(devices[2].config.readsAfterWrite, ReadsAfterWrite::kShort);
  EXPECT_EQ(devices[2].flowControlSeparation_ms, 5);
  ConfigStore clamping(devices[0].family, devices[0].config);
  EXPECT_EQ(FieldAt(clamping, 112), 30u);  // the start image is not clamped
  std::vector<uint8_t> sent(clamping.image(), clamping.image() + clamping.length());
  sent[112] = 60;
  sent[116] = 9;
  EXPECT_TRUE(clamping.write(sent.data(), static_cast<uint16_t>(sent.size())));
  EXPECT_EQ(FieldAt(clamping, 112), 40u);
  EXPECT_EQ(FieldAt(clamping, 116), 9u);
  EXPECT_EQ(clamping.writesTaken(), 1u);
  clamping.restoreFactoryImage();
  EXPECT_EQ(FieldAt(clamping, 112), 0u);  // the factory image, not the file's start image
  EXPECT_EQ(FieldAt(clamping, 0), 2u);

  ConfigStore deaf(devices[1].family, devices[1].config);
  EXPECT_FALSE(deaf.write(sent.data(), static_cast<uint16_t>(sent.size())));
  EXPECT_EQ(FieldAt(deaf, 112), 0u);
  EXPECT_EQ(deaf.writesTaken(), 0u);
}

}  // namespace
}  // namespace quor::tessera::sim
