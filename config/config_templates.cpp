#include "config/config_templates.h"

namespace quor::tessera::utility {

namespace {

using json = nlohmann::json;

// The Harrier HX template carries placeholder values; every one is overwritten when a document
// is built, so they never reach the tool.
constexpr const char* kKestrelKxTemplate = R"json(
{"Configs": [
    {"Name": "Motor Output", "Type": "MotorOutputGroup", "Description": "Group of all configs relating to motor output", "Ordinal": 0, "Sort": 0, "Values": {}},
    {"Name": "Current Limit", "Type": "CurrentLimitGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 1, "Values": {}},
    {"Name": "Voltage Comp", "Type": "VoltageCompGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 2, "Values": {}},
    {"Name": "Hardware Limit Switches", "Type": "HardLimitSwitchGroup", "Description": "Group of all configs relating to hardware limit switches", "Ordinal": 0, "Sort": 3, "Values": {}},
    {"Name": "Software Limit Switches", "Type": "SoftLimitSwitchGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 4, "Values": {}},
    {"Name": "Motion Magic", "Type": "MotionMagicGroup", "Description": "Group of all configs relating to PID 1", "Ordinal": 0, "Sort": 5, "Values": {}},
    {"Name": "Motion Profile", "Type": "MotionProfileGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 6, "Values": {}},
    {"Name": "Closed Loop", "Type": "ClosedLoopGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 7, "Values": {}},
    {"Name": "Slot 0", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 8, "Values": {}},
    {"Name": "Slot 1", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 1", "Ordinal": 1, "Sort": 9, "Values": {}},
    {"Name": "Slot 2", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 2", "Ordinal": 2, "Sort": 10, "Values": {}},
    {"Name": "Slot 3", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 3", "Ordinal": 3, "Sort": 11, "Values": {}},
    {"Name": "Remote Sensor", "Type": "RemoteSensorGroup", "Description": "Remote Filters", "Ordinal": 0, "Sort": 12, "Values": {}},
    {"Name": "Home Sensor", "Type": "HomeSensorGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 13, "Values": {}},
    {"Name": "Advanced Sensor and Meas", "Type": "AdvancedSensorMeas", "Description": "Group of configs relating to advanced sensor features and filters", "Ordinal": 0, "Sort": 14, "Values": {}}
]}
)json";

constexpr const char* kKestrelKfTemplate = R"json(
{"Configs": [
    {"Name": "Motor Output", "Type": "MotorOutputGroup", "Description": "Group of all configs relating to motor output", "Ordinal": 0, "Sort": 0, "Values": {}},
    {"Name": "Current Limit - Supply", "Type": "SupplyCurrentLimitGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 1, "Values": {}},
    {"Name": "Current Limit - Stator", "Type": "StatorCurrentLimitGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 2, "Values": {}},
    {"Name": "Voltage Comp", "Type": "VoltageCompGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 5, "Values": {}},
    {"Name": "Hardware Limit Switches", "Type": "HardLimitSwitchGroup", "Description": "Group of all configs relating to hardware limit switches", "Ordinal": 0, "Sort": 6, "Values": {}},
    {"Name": "Software Limit Switches", "Type": "SoftLimitSwitchGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 7, "Values": {}},
    {"Name": "Motion Magic", "Type": "MotionMagicGroup", "Description": "Group of all configs relating to PID 1", "Ordinal": 0, "Sort": 8, "Values": {}},
    {"Name": "Motion Profile", "Type": "MotionProfileGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 9, "Values": {}},
    {"Name": "Closed Loop", "Type": "ClosedLoopGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 10, "Values": {}},
    {"Name": "Slot 0", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 11, "Values": {}},
    {"Name": "Slot 1", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 1", "Ordinal": 1, "Sort": 12, "Values": {}},
    {"Name": "Slot 2", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 2", "Ordinal": 2, "Sort": 13, "Values": {}},
    {"Name": "Slot 3", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 3", "Ordinal": 3, "Sort": 14, "Values": {}},
    {"Name": "Remote Sensor", "Type": "RemoteSensorGroup", "Description": "Remote Filters", "Ordinal": 0, "Sort": 15, "Values": {}},
    {"Name": "Home Sensor", "Type": "HomeSensorGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 16, "Values": {}},
    {"Name": "Advanced Sensor and Meas", "Type": "AdvancedSensorMeas", "Description": "Group of configs relating to advanced sensor features and filters", "Ordinal": 0, "Sort": 17, "Values": {}},
    {"Name": "Custom Params", "Type": "CustomParams", "Description": "These are arbitrary values not used by the firmware.", "Ordinal": 0, "Sort": 18, "Values": {}},
    {"Name": "Integrated Sensor", "Type": "IntegratedSensor", "Description": "Configures how the integrated sensor is processed.", "Ordinal": 0, "Sort": 19, "Values": {}}
]}
)json";

constexpr const char* kHarrierHxTemplate = R"json(
{"Configs": [
    {"Name": "Motor Output", "Type": "MotorOutputGroup", "Description": "Group of all configs relating to motor output", "Ordinal": 0, "Sort": 0, "Values": {"Neutral Mode": 0, "Neutral Deadband": 0.0, "Open Loop Ramp": 0.0, "Peak Forward Output": 0.0, "Peak Reverse Output": 0.0, "Nominal Forward Output": 0.0, "Nominal Reverse Output": 0.0}},
    {"Name": "Voltage Comp", "Type": "VoltageCompGroup", "Description": "Group of all configs relating to current limit", "Ordinal": 0, "Sort": 2, "Values": {"Voltage Compensation Saturation": 0.0}},
    {"Name": "Hardware Limit Switches", "Type": "HardLimitSwitchGroup", "Description": "Group of all configs relating to hardware limit switches", "Ordinal": 0, "Sort": 3, "Values": {"Limit Forward": 0, "Limit Reverse": 0, "Limit Forward Source": 0, "Limit Reverse Source": 0, "Limit Forward Device ID": 0, "Limit Reverse Device ID": 0}},
    {"Name": "Software Limit Switches", "Type": "SoftLimitSwitchGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 4, "Values": {"Forward Soft Limit Enable": false, "Reverse Soft Limit Enable": false, "Soft Limit Forward Value": 0.0, "Soft Limit Reverse Value": 0.0}},
    {"Name": "Motion Magic", "Type": "MotionMagicGroup", "Description": "Group of all configs relating to PID 1", "Ordinal": 0, "Sort": 5, "Values": {"Cruise Velocity": 0.0, "Acceleration": 0.0, "Curve Strength": 0}},
    {"Name": "Motion Profile", "Type": "MotionProfileGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 6, "Values": {"Base Trajectory Period Ms": 0, "Trajectory Interpolation Enable": false}},
    {"Name": "Closed Loop", "Type": "ClosedLoopGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 7, "Values": {"Closed Loop Ramp": 0.0, "PID 0 Primary Feedback Sensor": 0, "PID 0 Primary Sensor Coefficient": 0.0, "PID 1 Aux Feedback Sensor": 0, "PID 1 Aux Sensor Coefficient": 0.0, "PID 1 Polarity": false}},
    {"Name": "Slot 0", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 0", "Ordinal": 0, "Sort": 8, "Values": {"kP": 0.0, "kI": 0.0, "kD": 0.0, "kF": 0.0, "I Zone": 0.0, "Allowable Error": 0.0, "Max Integral Accum": 0.0, "Peak Output": 0.0, "Loop Period Ms": 0}},
    {"Name": "Slot 1", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 1", "Ordinal": 1, "Sort": 9, "Values": {"kP": 0.0, "kI": 0.0, "kD": 0.0, "kF": 0.0, "I Zone": 0.0, "Allowable Error": 0.0, "Max Integral Accum": 0.0, "Peak Output": 0.0, "Loop Period Ms": 0}},
    {"Name": "Slot 2", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 2", "Ordinal": 2, "Sort": 10, "Values": {"kP": 0.0, "kI": 0.0, "kD": 0.0, "kF": 0.0, "I Zone": 0.0, "Allowable Error": 0.0, "Max Integral Accum": 0.0, "Peak Output": 0.0, "Loop Period Ms": 0}},
    {"Name": "Slot 3", "Type": "SlotGroup", "Description": "Group of all configs relating to slot 3", "Ordinal": 3, "Sort": 11, "Values": {"kP": 0.0, "kI": 0.0, "kD": 0.0, "kF": 0.0, "I Zone": 0.0, "Allowable Error": 0.0, "Max Integral Accum": 0.0, "Peak Output": 0.0, "Loop Period Ms": 0}},
    {"Name": "Remote Sensor", "Type": "RemoteSensorGroup", "Description": "Remote Filters", "Ordinal": 0, "Sort": 12, "Values": {"Filter 0 Device ID": 0, "Filter 1 Device ID": 0, "Filter 0 Source": 0, "Filter 1 Source": 0, "Neutral If Missing Remote Sensor Dur Closed Loop": false, "Neutral If Missing Remote Limit Switch": false, "Neutral If Missing Remote Soft Limit": false, "Sum Term 0": 0, "Sum Term 1": 0, "Diff Term 0": 0, "Diff Term 1": 0}},
    {"Name": "Home Sensor", "Type": "HomeSensorGroup", "Description": "Group of all configs relating to software limit switches", "Ordinal": 0, "Sort": 13, "Values": {"Clear Pos On Forward Limit": false, "Clear Pos On Reverse Limit": false, "Clear Pos On Quad Index": false}},
    {"Name": "Advanced Sensor and Meas", "Type": "AdvancedSensorMeas", "Description": "Group of configs relating to advanced sensor features and filters", "Ordinal": 0, "Sort": 14, "Values": {"Velocity Period": 0, "Velocity Window": 0, "Voltage Meas Filter": 0, "Feedback Not Continuous": false, "Pulse Width Edges Per Rotation": 0, "Pulse Width Filter Window": 0}}
]}
)json";

constexpr const char* kCANdialTemplate = R"json(
{"Configs": [
    {"Name": "Integrated Sensor", "Type": "IntegratedSensor", "Description": "Configures how the sensor is processed.", "Ordinal": 0, "Sort": 1, "Values": {}},
    {"Name": "Unit Coefficient And String", "Type": "UnitCoeffGroup", "Description": "Describes the units to report in API and Self-Test.", "Ordinal": 0, "Sort": 2, "Values": {}},
    {"Name": "Custom Params", "Type": "CustomParams", "Description": "These are arbitrary values not used by the firmware.", "Ordinal": 0, "Sort": 3, "Values": {}},
    {"Name": "Advanced Sensor and Meas", "Type": "AdvancedSensorMeas", "Description": "Group of configs relating to advanced sensor features and filters", "Ordinal": 0, "Sort": 4, "Values": {}}
]}
)json";

struct Templates {
  json kestrelKx = json::parse(kKestrelKxTemplate);
  json kestrelKf = json::parse(kKestrelKfTemplate);
  json harrierHx = json::parse(kHarrierHxTemplate);
  json candial = json::parse(kCANdialTemplate);
  json empty = json{{"Configs", json::array()}};
};

const Templates& ParsedTemplates() {
  static const Templates kTemplates;
  return kTemplates;
}

// Parsed once while the library loads, not on the first request.
[[maybe_unused]] const Templates& kLoadTimeTemplates = ParsedTemplates();

}  // namespace

json GetDeviceJson(const std::string& model) {
  const Templates& templates = ParsedTemplates();
  if (model == "kestrel kx") return templates.kestrelKx;
  if (model == "kestrel kf") return templates.kestrelKf;
  if (model == "harrier hx") return templates.harrierHx;
  if (model == "candial") return templates.candial;
  return templates.empty;
}

}  // namespace quor::tessera::utility
