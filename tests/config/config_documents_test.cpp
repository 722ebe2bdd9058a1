#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/config_group_serializer.h"
#include "config/config_templates.h"
#include "config/image_fields.h"

using namespace quor::tessera::diagnostics::config2;
using quor::tessera::utility::GetDeviceJson;

namespace {

int32_t Field(const ConfigByteArray& image, uint32_t position) {
  return static_cast<int32_t>(ReadImageField(image, position));
}

// Values that every encoding carries exactly, so a document survives image and back unchanged.
json SlotValues(int slot) {
  return {{"kP", 1.5 + slot},         {"kI", 0.0009765625},     {"kD", 0.25},
          {"kF", -0.125 * (slot + 1)}, {"I Zone", 100.0},        {"Allowable Error", 5.0},
          {"Max Integral Accum", 1000.0}, {"Peak Output", 1.0}, {"Loop Period Ms", 1u}};
}

const std::map<std::string, json>& ValuesByType() {
  static const std::map<std::string, json> kValues = {
      {"MotorOutputGroup",
       {{"Neutral Mode", 1}, {"Neutral Deadband", 41.0 / 1023}, {"Open Loop Ramp", 1.023},
        {"Peak Forward Output", 1.0}, {"Peak Reverse Output", -512.0 / 1023},
        {"Nominal Forward Output", 0.0}, {"Nominal Reverse Output", -100.0 / 1023}}},
      {"CurrentLimitGroup",
       {{"Peak Current Limit", 40.0}, {"Peak Current Duration", 1500.0}, {"Continuous Current Limit", 35.0}}},
      {"SupplyCurrentLimitGroup",
       {{"Enable", true}, {"Current Limit", 40.0}, {"Trigger Threshold Current", 60.0},
        {"Trigger Threshold Time", 0.1}}},
      {"StatorCurrentLimitGroup",
       {{"Enable", false}, {"Current Limit", 80.0}, {"Trigger Threshold Current", 100.0},
        {"Trigger Threshold Time", 0.5}}},
      {"VoltageCompGroup", {{"Voltage Compensation Saturation", 11.5}}},
      {"HardLimitSwitchGroup",
       {{"Limit Forward", 1}, {"Limit Reverse", 2}, {"Limit Forward Source", 3}, {"Limit Reverse Source", 4},
        {"Limit Forward Device ID", 5}, {"Limit Reverse Device ID", -1}}},
      {"SoftLimitSwitchGroup",
       {{"Forward Soft Limit Enable", true}, {"Reverse Soft Limit Enable", false},
        {"Soft Limit Forward Value", 4096.0}, {"Soft Limit Reverse Value", -4096.0}}},
      {"MotionMagicGroup", {{"Cruise Velocity", 2000.0}, {"Acceleration", 4000.0}, {"Curve Strength", 3}}},
      {"MotionProfileGroup", {{"Base Trajectory Period Ms", 10}, {"Trajectory Interpolation Enable", true}}},
      {"ClosedLoopGroup",
       {{"Closed Loop Ramp", 0.0}, {"PID 0 Primary Feedback Sensor", 1}, {"PID 0 Primary Sensor Coefficient", 0.5},
        {"PID 1 Aux Feedback Sensor", 11}, {"PID 1 Aux Sensor Coefficient", 1.0}, {"PID 1 Polarity", true}}},
      {"RemoteSensorGroup",
       {{"Filter 0 Device ID", 3}, {"Filter 1 Device ID", 4}, {"Filter 0 Source", 1}, {"Filter 1 Source", 2},
        {"Neutral If Missing Remote Sensor Dur Closed Loop", true}, {"Neutral If Missing Remote Limit Switch", false},
        {"Neutral If Missing Remote Soft Limit", true}, {"Sum Term 0", 0}, {"Sum Term 1", 1}, {"Diff Term 0", 2},
        {"Diff Term 1", 3}}},
      {"HomeSensorGroup",
       {{"Clear Pos On Forward Limit", true}, {"Clear Pos On Reverse Limit", false}, {"Clear Pos On Quad Index", false}}},
      {"AdvancedSensorMeas",
       {{"Velocity Period", 100}, {"Velocity Window", 64}, {"Voltage Meas Filter", 32},
        {"Feedback Not Continuous", true}, {"Pulse Width Edges Per Rotation", 1}, {"Pulse Width Filter Window", 1}}},
      {"CustomParams", {{"Custom Param 0", 7}, {"Custom Param 1", -7}}},
  };
  return kValues;
}

// The model's template with every entry's values filled from the tables above.
json FilledDocument(const std::string& model, const std::map<std::string, json>& overrides = {}) {
  json document = GetDeviceJson(model);
  for (json& entry : document["Configs"]) {
    const std::string type = entry["Type"];
    if (type == "SlotGroup") {
      entry["Values"] = SlotValues(entry["Ordinal"].get<int>());
    } else if (overrides.count(type) != 0) {
      entry["Values"] = overrides.at(type);
    } else {
      entry["Values"] = ValuesByType().at(type);
    }
  }
  return document;
}

json RoundTrip(const std::string& model, const json& document, ConfigByteArray& image) {
  EXPECT_EQ(ConfigGroupSerializer::Deserialize(model, document, image), 0);
  json readBack;
  EXPECT_EQ(ConfigGroupSerializer::Serialize(model, image, readBack), 0);
  return readBack;
}

json FindEntry(const json& document, const std::string& name) {
  for (const json& entry : document["Configs"]) {
    if (entry["Name"] == name) return entry;
  }
  return nullptr;
}

}  // namespace

TEST(DocumentRoundTrip, KestrelKF) {
  const json document = FilledDocument(
      "kestrel kf", {{"IntegratedSensor",
                      {{"Absolute Sensor Range", 1}, {"Sensor Initialization Strategy", 0}, {"Sensor Offset (deg)", -45.0}}}});
  ConfigByteArray image = ConfigByteArray{};
  const json readBack = RoundTrip("kestrel kf", document, image);
  EXPECT_EQ(image.length, 412u);
  EXPECT_EQ(Field(image, 0), 2);
  EXPECT_EQ(readBack, document);
}

TEST(DocumentRoundTrip, KestrelKX) {
  const json document = FilledDocument("kestrel kx");
  ConfigByteArray image = ConfigByteArray{};
  const json readBack = RoundTrip("kestrel kx", document, image);
  EXPECT_EQ(image.length, 356u);
  EXPECT_EQ(Field(image, 0), 2);
  EXPECT_EQ(readBack, document);
}

TEST(DocumentRoundTrip, HarrierHX) {
  const json document = FilledDocument("harrier hx");
  ConfigByteArray image = ConfigByteArray{};
  const json readBack = RoundTrip("harrier hx", document, image);
  EXPECT_EQ(image.length, 356u);
  EXPECT_EQ(Field(image, 112), 0);  // no current-limit entry in this template
  EXPECT_EQ(readBack, document);
}

TEST(DocumentRoundTrip, CANdial) {
  const json document = FilledDocument(
      "candial",
      {{"IntegratedSensor",
        {{"Absolute Sensor Range", 0}, {"Sensor Initialization Strategy", 1}, {"Sensor Direction", true},
         {"Magnet Offset (deg)", 90.0}}},
       {"UnitCoeffGroup", {{"Unit String", "rotations"}, {"Sensor Coefficient", 0.087890625}, {"Sensor Time Base", 1}}},
       {"CustomParams", {{"Custom Param 0", 1}, {"Custom Param 1", 2}}},
       {"AdvancedSensorMeas", {{"Velocity Period", 100u}, {"Velocity Window", 64u}}}});
  ConfigByteArray image = ConfigByteArray{};
  const json readBack = RoundTrip("candial", document, image);
  EXPECT_EQ(image.length, 52u);
  EXPECT_EQ(Field(image, 0), 1);
  EXPECT_EQ(readBack, document);
}

// The IMU's template is empty: its document has no entries, whatever the image holds.
TEST(DocumentRoundTrip, Wren) {
  const json document = {{"Configs", {{{"Name", "General"}, {"Type", "ConfigGroup"}, {"Ordinal", 0}, {"Sort", 0},
                                       {"Values", {{"Invert", true}}}}}}};
  ConfigByteArray image = ConfigByteArray{};
  const json readBack = RoundTrip("wren", document, image);
  EXPECT_EQ(image.length, 128u);
  EXPECT_EQ(Field(image, 0), 1);
  EXPECT_EQ(Field(image, 124), 1);
  EXPECT_EQ(readBack, json({{"Configs", json::array()}}));
}

// Every entry of every template, written out by hand from the design: a wrong Ordinal would
// send a slot's values to another slot (or nowhere), a wrong Sort or Description shows in the tool.
struct TemplateEntry {
  const char* name;
  const char* type;
  const char* description;
  int ordinal;
  int sort;
};

constexpr const char* kMotorOutput = "Group of all configs relating to motor output";
constexpr const char* kCurrentLimit = "Group of all configs relating to current limit";
constexpr const char* kHardLimits = "Group of all configs relating to hardware limit switches";
constexpr const char* kSoftLimits = "Group of all configs relating to software limit switches";
constexpr const char* kPid1 = "Group of all configs relating to PID 1";
constexpr const char* kSlot0 = "Group of all configs relating to slot 0";
constexpr const char* kSlot1 = "Group of all configs relating to slot 1";
constexpr const char* kSlot2 = "Group of all configs relating to slot 2";
constexpr const char* kSlot3 = "Group of all configs relating to slot 3";
constexpr const char* kRemote = "Remote Filters";
constexpr const char* kAdvanced = "Group of configs relating to advanced sensor features and filters";
constexpr const char* kCustom = "These are arbitrary values not used by the firmware.";

const std::vector<TemplateEntry> kKestrelKxEntries = {
    {"Motor Output", "MotorOutputGroup", kMotorOutput, 0, 0},
    {"Current Limit", "CurrentLimitGroup", kCurrentLimit, 0, 1},
    {"Voltage Comp", "VoltageCompGroup", kCurrentLimit, 0, 2},
    {"Hardware Limit Switches", "HardLimitSwitchGroup", kHardLimits, 0, 3},
    {"Software Limit Switches", "SoftLimitSwitchGroup", kSoftLimits, 0, 4},
    {"Motion Magic", "MotionMagicGroup", kPid1, 0, 5},
    {"Motion Profile", "MotionProfileGroup", kSoftLimits, 0, 6},
    {"Closed Loop", "ClosedLoopGroup", kSlot0, 0, 7},
    {"Slot 0", "SlotGroup", kSlot0, 0, 8},
    {"Slot 1", "SlotGroup", kSlot1, 1, 9},
    {"Slot 2", "SlotGroup", kSlot2, 2, 10},
    {"Slot 3", "SlotGroup", kSlot3, 3, 11},
    {"Remote Sensor", "RemoteSensorGroup", kRemote, 0, 12},
    {"Home Sensor", "HomeSensorGroup", kSoftLimits, 0, 13},
    {"Advanced Sensor and Meas", "AdvancedSensorMeas", kAdvanced, 0, 14}};

const std::vector<TemplateEntry> kKestrelKfEntries = {
    {"Motor Output", "MotorOutputGroup", kMotorOutput, 0, 0},
    {"Current Limit - Supply", "SupplyCurrentLimitGroup", kCurrentLimit, 0, 1},
    {"Current Limit - Stator", "StatorCurrentLimitGroup", kCurrentLimit, 0, 2},
    {"Voltage Comp", "VoltageCompGroup", kCurrentLimit, 0, 5},
    {"Hardware Limit Switches", "HardLimitSwitchGroup", kHardLimits, 0, 6},
    {"Software Limit Switches", "SoftLimitSwitchGroup", kSoftLimits, 0, 7},
    {"Motion Magic", "MotionMagicGroup", kPid1, 0, 8},
    {"Motion Profile", "MotionProfileGroup", kSoftLimits, 0, 9},
    {"Closed Loop", "ClosedLoopGroup", kSlot0, 0, 10},
    {"Slot 0", "SlotGroup", kSlot0, 0, 11},
    {"Slot 1", "SlotGroup", kSlot1, 1, 12},
    {"Slot 2", "SlotGroup", kSlot2, 2, 13},
    {"Slot 3", "SlotGroup", kSlot3, 3, 14},
    {"Remote Sensor", "RemoteSensorGroup", kRemote, 0, 15},
    {"Home Sensor", "HomeSensorGroup", kSoftLimits, 0, 16},
    {"Advanced Sensor and Meas", "AdvancedSensorMeas", kAdvanced, 0, 17},
    {"Custom Params", "CustomParams", kCustom, 0, 18},
    {"Integrated Sensor", "IntegratedSensor", "Configures how the integrated sensor is processed.", 0,
     19}};

// The design lists the Harrier HX entries as the Kestrel KX ones without the current limit,
// every other Name, Type, Description, Ordinal and Sort the same.
std::vector<TemplateEntry> WithoutEntry(std::vector<TemplateEntry> entries, const std::string& name) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const TemplateEntry& e) { return e.name == name; }),
                entries.end());
  return entries;
}
const std::vector<TemplateEntry> kHarrierHxEntries = WithoutEntry(kKestrelKxEntries, "Current Limit");

const std::vector<TemplateEntry> kCandialEntries = {
    {"Integrated Sensor", "IntegratedSensor", "Configures how the sensor is processed.", 0, 1},
    {"Unit Coefficient And String", "UnitCoeffGroup",
     "Describes the units to report in API and Self-Test.", 0, 2},
    {"Custom Params", "CustomParams", kCustom, 0, 3},
    {"Advanced Sensor and Meas", "AdvancedSensorMeas", kAdvanced, 0, 4}};

TEST(Templates, EveryEntryAsDesigned) {
  const std::pair<const char*, const std::vector<TemplateEntry>*> models[] = {
      {"kestrel kx", &kKestrelKxEntries},
      {"kestrel kf", &kKestrelKfEntries},
      {"harrier hx", &kHarrierHxEntries},
      {"candial", &kCandialEntries}};
  for (const auto& [model, entries] : models) {
    const json configs = GetDeviceJson(model)["Configs"];
    ASSERT_EQ(configs.size(), entries->size()) << model;
    for (size_t i = 0; i < entries->size(); ++i) {
      const TemplateEntry& e = (*entries)[i];
      const json& entry = configs[i];
      const std::string where = std::string(model) + " entry " + std::to_string(i + 1);
      EXPECT_EQ(entry["Name"], e.name) << where;
      EXPECT_EQ(entry["Type"], e.type) << where;
      EXPECT_EQ(entry["Description"], e.description) << where;
      EXPECT_EQ(entry["Ordinal"], e.ordinal) << where;
      EXPECT_EQ(entry["Sort"], e.sort) << where;
      EXPECT_TRUE(entry["Values"].is_object()) << where;
      EXPECT_EQ(entry.size(), 6u) << where << ": no other members";
      // Only the Harrier HX template carries (placeholder) values.
      EXPECT_EQ(entry["Values"].empty(), std::string(model) != "harrier hx") << where;
    }
  }
}

TEST(Templates, WholeTextMatchOnly) {
  const json empty = {{"Configs", json::array()}};
  EXPECT_EQ(GetDeviceJson("wren"), empty);
  EXPECT_EQ(GetDeviceJson("kestrel kx2"), empty);
  EXPECT_EQ(GetDeviceJson("Kestrel KX"), empty);
  EXPECT_EQ(GetDeviceJson(""), empty);
}

TEST(ConfigGroupSerializerModels, SubstringSelectsTheGroup) {
  ConfigByteArray image = ConfigByteArray{};
  json document;
  EXPECT_EQ(ConfigGroupSerializer::Serialize("kestrel kx2", image, document), 0);
  EXPECT_EQ(document, json({{"Configs", json::array()}}));  // group found, template empty

  EXPECT_EQ(ConfigGroupSerializer::Deserialize("new wren imu", json{{"Configs", json::array()}}, image), 0);
  EXPECT_EQ(image.length, 128u);

  EXPECT_EQ(ConfigGroupSerializer::Serialize("pdp", image, document), -135);
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("", FilledDocument("kestrel kx"), image), -135);
}

TEST(ConfigGroupSerializerModels, KestrelKXSkipsKestrelKFEntries) {
  const json document = FilledDocument(
      "kestrel kf", {{"IntegratedSensor",
                      {{"Absolute Sensor Range", 1}, {"Sensor Initialization Strategy", 0}, {"Sensor Offset (deg)", 5.0}}}});
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), 0);
  EXPECT_EQ(image.length, 356u);
  EXPECT_EQ(Field(image, 4), 1);     // motor output applied
  EXPECT_EQ(Field(image, 120), 0);   // supply group skipped: nothing at the shared position
  EXPECT_EQ(Field(image, 332), 0);
}

TEST(DocumentErrors, SlotWithUnknownOrdinalIsIgnored) {
  json document = FilledDocument("kestrel kx");
  for (json& entry : document["Configs"]) {
    if (entry["Name"] == "Slot 1") entry["Ordinal"] = 7;
  }
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), 0);
  for (uint32_t position = 172; position < 208; position += 4) EXPECT_EQ(Field(image, position), 0);
  EXPECT_NE(Field(image, 208), 0);  // slot 2 still written
}

TEST(DocumentErrors, MalformedDocumentsGiveInvalidJson) {
  ConfigByteArray image = ConfigByteArray{};
  json document = FilledDocument("kestrel kx");
  document["Configs"][0].erase("Values");
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), -700);

  document = FilledDocument("kestrel kx");
  document["Configs"][8]["Values"].erase("kD");
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), -700);

  document = FilledDocument("kestrel kx");
  document["Configs"][3]["Type"] = 12;
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), -700);

  document = FilledDocument("kestrel kx");
  document["Configs"][9].erase("Ordinal");
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), -700);

  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", json::object(), image), -700);
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", json{{"Configs", 3}}, image), -700);
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", json::array(), image), -700);
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", json{{"Configs", {1, 2}}}, image), -700);
}

TEST(DocumentErrors, UnknownTypeIsAcceptedAndIgnored) {
  json document = FilledDocument("kestrel kx");
  document["Configs"].push_back({{"Type", "FluxCapacitorGroup"}});
  ConfigByteArray image = ConfigByteArray{};
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", document, image), 0);
}

TEST(DocumentErrors, CapacityTooSmall) {
  ConfigByteArray image = ConfigByteArray{};
  image.capacity = 300;
  EXPECT_EQ(ConfigGroupSerializer::Deserialize("kestrel kf", FilledDocument("kestrel kx"), image), -134);
  EXPECT_EQ(image.length, 0u);
}

TEST(DocumentBuilding, MissingEntriesAreWrittenAsZeros) {
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(ConfigGroupSerializer::Deserialize("kestrel kx", json{{"Configs", json::array()}}, image), 0);
  json document;
  ASSERT_EQ(ConfigGroupSerializer::Serialize("kestrel kx", image, document), 0);
  const json slot0 = FindEntry(document, "Slot 0");
  EXPECT_EQ(slot0["Values"]["kP"], 0.0);
  EXPECT_EQ(slot0["Values"]["Loop Period Ms"], 0);
  EXPECT_EQ(FindEntry(document, "Motion Profile")["Values"]["Trajectory Interpolation Enable"], false);
  EXPECT_EQ(FindEntry(document, "Remote Sensor")["Values"]["Neutral If Missing Remote Limit Switch"], false);
  EXPECT_EQ(document.dump().find("null"), std::string::npos);
}
