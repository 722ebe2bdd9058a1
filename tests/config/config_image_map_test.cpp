// Every document key against its place in the device image (the one place where image positions
// are asserted; the group and document tests check behaviour and round trips), written from the device's image map
// rather than from the group tables: a key in the wrong position, with the wrong encoding or read
// with the wrong signedness fails here even when a round trip through the same table succeeds.
// Values between two that a field holds are written as the nearer one (40.9 A as 41, -90 degrees
// of magnet offset as -1024 counts), so the field that comes back reads as near as can be.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/config_group_serializer.h"
#include "config/image_fields.h"

using namespace quor::tessera::diagnostics::config2;

namespace {

constexpr uint32_t kNoField = 0xFFFFFFFF;

struct KeyPlacement {
  const char* entry;  // "Name" of the document entry
  const char* key;
  json value;
  uint32_t position;  // kNoField when the value must change no field at all
  int64_t field;      // expected 32-bit field, as a signed or unsigned number
};

json& Values(json& document, const std::string& entryName) {
  for (json& entry : document["Configs"]) {
    if (entry["Name"] == entryName) return entry["Values"];
  }
  throw std::runtime_error("no entry " + entryName);
}

// The model's document built from an all-zero image, and the image that document writes.
json ZeroDocument(const std::string& model, ConfigByteArray& baseline) {
  json document;
  EXPECT_EQ(ConfigGroupSerializer::Serialize(model, ConfigByteArray{}, document), 0);
  EXPECT_EQ(ConfigGroupSerializer::Deserialize(model, document, baseline), 0);
  return document;
}

void ExpectPlacements(const std::string& model, const std::vector<KeyPlacement>& placements) {
  ConfigByteArray baseline = ConfigByteArray{};
  const json zero = ZeroDocument(model, baseline);
  for (const KeyPlacement& placement : placements) {
    SCOPED_TRACE(model + ": " + placement.entry + " / " + placement.key);
    json document = zero;
    Values(document, placement.entry)[placement.key] = placement.value;
    ConfigByteArray image = ConfigByteArray{};
    ASSERT_EQ(ConfigGroupSerializer::Deserialize(model, document, image), 0);
    ASSERT_EQ(image.length, baseline.length);
    for (uint32_t position = 0; position < image.length; position += kFieldBytes) {
      const uint32_t field = ReadImageField(image, position);
      if (position == placement.position) {
        EXPECT_EQ(field, static_cast<uint32_t>(placement.field)) << "position " << position;
      } else {
        EXPECT_EQ(field, ReadImageField(baseline, position)) << "position " << position;
      }
    }
  }
}

struct KeyReading {
  const char* entry;
  const char* key;
  json value;  // read from an image whose every field is 0xFFFFFFFF
};

void ExpectReadingsOfAllOnes(const std::string& model, uint32_t imageLength, const std::vector<KeyReading>& readings) {
  ConfigByteArray image = ConfigByteArray{};
  image.length = imageLength;
  for (uint32_t position = kFieldBytes; position < imageLength; position += kFieldBytes) {
    WriteImageField(image, position, 0xFFFFFFFF);
  }
  json document;
  ASSERT_EQ(ConfigGroupSerializer::Serialize(model, image, document), 0);
  for (const KeyReading& reading : readings) {
    SCOPED_TRACE(model + ": " + reading.entry + " / " + reading.key);
    const json& value = Values(document, reading.entry).at(reading.key);
    EXPECT_EQ(value.type(), reading.value.type());
    if (value.is_number_float()) {
      EXPECT_DOUBLE_EQ(value.get<double>(), reading.value.get<double>());
    } else {
      EXPECT_EQ(value, reading.value);
    }
  }
}

}  // namespace

TEST(ImageMap, KestrelKFKeysWriteTheirOwnField) {
  ExpectPlacements(
      "kestrel kf",
      {
          {"Motor Output", "Neutral Mode", 3, 4, 3},
          {"Motor Output", "Neutral Deadband", -0.04, 132, -41},
          {"Motor Output", "Open Loop Ramp", 1.0, 124, 10},
          {"Motor Output", "Peak Forward Output", 0.5, 32, 512},
          {"Motor Output", "Peak Reverse Output", -0.5, 40, -512},
          {"Motor Output", "Nominal Forward Output", 0.25, 36, 256},
          {"Motor Output", "Nominal Reverse Output", -0.25, 44, -256},
          {"Current Limit - Supply", "Enable", true, 356, 1},
          {"Current Limit - Supply", "Current Limit", 40.9, 120, 41},
          {"Current Limit - Supply", "Trigger Threshold Current", 60.0, 112, 60},
          {"Current Limit - Supply", "Trigger Threshold Time", 0.25, 116, 250},
          {"Current Limit - Stator", "Enable", true, 372, 1},
          {"Current Limit - Stator", "Current Limit", 80.0, 368, 80},
          {"Current Limit - Stator", "Current Limit", 80.7, 368, 81},
          {"Current Limit - Stator", "Trigger Threshold Current", 100.0, 360, 100},
          {"Current Limit - Stator", "Trigger Threshold Time", 0.5, 364, 500},
          {"Voltage Comp", "Voltage Compensation Saturation", 12.0, 48, 3072},
          {"Voltage Comp", "Voltage Compensation Saturation", 11.5, 48, 2944},
          {"Hardware Limit Switches", "Limit Forward", 1, 8, 1},
          {"Hardware Limit Switches", "Limit Reverse", 2, 12, 2},
          {"Hardware Limit Switches", "Limit Forward Source", 3, 80, 3},
          {"Hardware Limit Switches", "Limit Reverse Source", 4, 84, 4},
          {"Hardware Limit Switches", "Limit Forward Device ID", 5, 88, 5},
          {"Hardware Limit Switches", "Limit Reverse Device ID", 6, 92, 6},
          {"Software Limit Switches", "Forward Soft Limit Enable", true, 24, 1},
          {"Software Limit Switches", "Reverse Soft Limit Enable", true, 28, 1},
          {"Software Limit Switches", "Soft Limit Forward Value", -100.7, 16, -101},
          {"Software Limit Switches", "Soft Limit Reverse Value", 200.9, 20, 201},
          {"Motion Magic", "Cruise Velocity", 1500.5, 300, 1501},
          {"Motion Magic", "Acceleration", 3000.0, 304, 3000},
          {"Motion Magic", "Curve Strength", 4, 352, 4},
          {"Motion Profile", "Base Trajectory Period Ms", 10, 308, 10},
          {"Motion Profile", "Trajectory Interpolation Enable", true, 312, 0},
          {"Closed Loop", "Closed Loop Ramp", 0.5, 128, 20},
          {"Closed Loop", "PID 0 Primary Feedback Sensor", 2, 64, 2},
          {"Closed Loop", "PID 0 Primary Sensor Coefficient", 0.5, 72, 32768},
          {"Closed Loop", "PID 1 Aux Feedback Sensor", 11, 68, 11},
          {"Closed Loop", "PID 1 Aux Sensor Coefficient", 0.25, 76, 16384},
          {"Closed Loop", "PID 1 Polarity", true, 280, 1},
          {"Slot 0", "kP", 1.5, 136, 6291456},
          {"Slot 1", "kI", 0.5, 172 + 4, 2097152},
          {"Slot 2", "kD", 0.25, 208 + 8, 1048576},
          {"Slot 2", "kF", -0.25, 208 + 12, -1048576},
          {"Slot 3", "kF", -0.5, 244 + 12, -2097152},
          {"Slot 3", "I Zone", 300.4, 244 + 16, 300},
          {"Slot 3", "Allowable Error", 7.0, 244 + 20, 7},
          {"Slot 3", "Max Integral Accum", 1000.0, 244 + 24, 1000},
          {"Slot 3", "Peak Output", 0.5, 244 + 28, 512},
          {"Slot 3", "Loop Period Ms", 3u, 244 + 32, 3},
          {"Remote Sensor", "Filter 0 Device ID", 1, 284, 1},
          {"Remote Sensor", "Filter 1 Device ID", 2, 288, 2},
          {"Remote Sensor", "Filter 0 Source", 3, 292, 3},
          {"Remote Sensor", "Filter 1 Source", 4, 296, 4},
          {"Remote Sensor", "Neutral If Missing Remote Sensor Dur Closed Loop", true, 320, 0},
          {"Remote Sensor", "Neutral If Missing Remote Limit Switch", true, 336, 0},
          {"Remote Sensor", "Neutral If Missing Remote Soft Limit", true, 340, 0},
          {"Remote Sensor", "Sum Term 0", 5, 96, 5},
          {"Remote Sensor", "Sum Term 1", 6, 100, 6},
          {"Remote Sensor", "Diff Term 0", 7, 104, 7},
          {"Remote Sensor", "Diff Term 1", 8, 108, 8},
          {"Home Sensor", "Clear Pos On Forward Limit", true, 324, 1},
          {"Home Sensor", "Clear Pos On Reverse Limit", true, 328, 1},
          {"Home Sensor", "Clear Pos On Quad Index", true, kNoField, 0},  // no quad index on this controller
          {"Advanced Sensor and Meas", "Velocity Period", 100, 52, 100},
          {"Advanced Sensor and Meas", "Velocity Window", 64, 56, 64},
          {"Advanced Sensor and Meas", "Voltage Meas Filter", 32, 60, 32},
          {"Advanced Sensor and Meas", "Feedback Not Continuous", true, 316, 1},
          {"Advanced Sensor and Meas", "Pulse Width Edges Per Rotation", 4, 344, 4},
          {"Advanced Sensor and Meas", "Pulse Width Filter Window", 2, 348, 2},
          {"Custom Params", "Custom Param 0", -7, 392, -7},
          {"Custom Params", "Custom Param 1", 9, 396, 9},
          {"Integrated Sensor", "Absolute Sensor Range", 1, 400, 1},
          {"Integrated Sensor", "Sensor Initialization Strategy", 1, 404, 1},
          {"Integrated Sensor", "Sensor Offset (deg)", -45.9, 408, -46},
      });
}

TEST(ImageMap, KestrelKXOwnKeysWriteTheirOwnField) {
  ExpectPlacements("kestrel kx", {
                                     {"Current Limit", "Peak Current Limit", 40.0, 112, 40},
                                     {"Current Limit", "Peak Current Duration", 1500.0, 116, 1500},
                                     {"Current Limit", "Continuous Current Limit", 35.0, 120, 35},
                                     {"Home Sensor", "Clear Pos On Quad Index", true, 332, 1},
                                 });
}

// The brushed controllers' current limits are unsigned whole amperes and milliseconds: an
// all-ones field reads as 4294967295, never as -1, and a negative value is written as 0.
TEST(ImageMap, KestrelKXCurrentLimitsAreUnsigned) {
  constexpr double kAllOnes = 4294967295.0;
  ExpectReadingsOfAllOnes("kestrel kx", 356,
                          {
                              {"Current Limit", "Peak Current Limit", kAllOnes},
                              {"Current Limit", "Peak Current Duration", kAllOnes},
                              {"Current Limit", "Continuous Current Limit", kAllOnes},
                          });
  ExpectPlacements("kestrel kx", {
                                     {"Current Limit", "Peak Current Limit", -5.0, 112, 0},
                                     {"Current Limit", "Peak Current Duration", 4294967295.0, 116,
                                      0xFFFFFFFF},
                                     {"Current Limit", "Continuous Current Limit", 5e9, 120,
                                      0xFFFFFFFF},
                                 });
}

TEST(ImageMap, CANdialKeysWriteTheirOwnField) {
  ExpectPlacements("candial", {
                                  {"Integrated Sensor", "Absolute Sensor Range", 1, 4, 1},
                                  {"Integrated Sensor", "Sensor Initialization Strategy", 1, 8, 1},
                                  {"Integrated Sensor", "Sensor Direction", true, 12, 1},
                                  {"Integrated Sensor", "Magnet Offset (deg)", 90.0, 16, 1024},
                                  {"Integrated Sensor", "Magnet Offset (deg)", -90.0, 16, -1024},
                                  {"Advanced Sensor and Meas", "Velocity Period", 100u, 20, 100},
                                  {"Advanced Sensor and Meas", "Velocity Window", 64u, 24, 64},
                                  {"Custom Params", "Custom Param 0", 5, 28, 5},
                                  {"Custom Params", "Custom Param 1", 6, 32, 6},
                                  {"Unit Coefficient And String", "Unit String", "deg", 36, 0x00676564},
                                  {"Unit Coefficient And String", "Sensor Coefficient", 0.5, 44, 67108864},
                                  {"Unit Coefficient And String", "Sensor Coefficient", 0.087890625, 44, 11796480},
                                  {"Unit Coefficient And String", "Sensor Time Base", 2, 48, 2},
                              });
}

// All-ones fields tell signed reads (-1) from unsigned ones (4294967295) and show each encoding.
TEST(ImageMap, KestrelKFSignednessOfEveryKey) {
  constexpr double kAllOnes = 4294967295.0;
  const json minusOneThrottle = -1.0 / 1023;
  ExpectReadingsOfAllOnes(
      "kestrel kf", 412,
      {
          {"Motor Output", "Neutral Mode", -1},
          {"Motor Output", "Neutral Deadband", minusOneThrottle},
          {"Motor Output", "Open Loop Ramp", 10.23 / kAllOnes},  // the fastest possible ramp
          {"Motor Output", "Peak Forward Output", minusOneThrottle},
          {"Motor Output", "Peak Reverse Output", minusOneThrottle},
          {"Motor Output", "Nominal Forward Output", minusOneThrottle},
          {"Motor Output", "Nominal Reverse Output", minusOneThrottle},
          {"Current Limit - Supply", "Enable", true},
          {"Current Limit - Supply", "Current Limit", kAllOnes},
          {"Current Limit - Stator", "Trigger Threshold Current", kAllOnes},
          {"Current Limit - Stator", "Trigger Threshold Time", kAllOnes * 0.001},
          {"Voltage Comp", "Voltage Compensation Saturation", kAllOnes / 256},
          {"Hardware Limit Switches", "Limit Reverse Device ID", -1},
          {"Software Limit Switches", "Forward Soft Limit Enable", true},
          {"Software Limit Switches", "Soft Limit Forward Value", -1.0},
          {"Software Limit Switches", "Soft Limit Reverse Value", -1.0},
          {"Motion Magic", "Cruise Velocity", kAllOnes},
          {"Motion Magic", "Acceleration", kAllOnes},
          {"Motion Magic", "Curve Strength", -1},
          {"Motion Profile", "Base Trajectory Period Ms", -1},
          {"Motion Profile", "Trajectory Interpolation Enable", false},
          {"Closed Loop", "Closed Loop Ramp", 10.23 / kAllOnes},
          {"Closed Loop", "PID 0 Primary Feedback Sensor", -1},
          {"Closed Loop", "PID 0 Primary Sensor Coefficient", kAllOnes / 65536},
          {"Closed Loop", "PID 1 Aux Sensor Coefficient", kAllOnes / 65536},
          {"Closed Loop", "PID 1 Polarity", true},
          {"Slot 0", "kP", kAllOnes / 4194304},
          {"Slot 1", "kI", kAllOnes / 4194304},
          {"Slot 2", "kD", kAllOnes / 4194304},
          {"Slot 3", "kF", -1.0 / 4194304},
          {"Slot 3", "I Zone", kAllOnes},
          {"Slot 3", "Allowable Error", kAllOnes},
          {"Slot 3", "Max Integral Accum", kAllOnes},
          {"Slot 3", "Peak Output", 1.0},
          {"Slot 3", "Loop Period Ms", 4294967295u},
          {"Remote Sensor", "Filter 0 Device ID", -1},
          {"Remote Sensor", "Neutral If Missing Remote Sensor Dur Closed Loop", false},
          {"Remote Sensor", "Neutral If Missing Remote Soft Limit", false},
          {"Remote Sensor", "Diff Term 1", -1},
          {"Home Sensor", "Clear Pos On Quad Index", true},
          {"Advanced Sensor and Meas", "Velocity Period", -1},
          {"Advanced Sensor and Meas", "Feedback Not Continuous", true},
          {"Custom Params", "Custom Param 1", -1},
          {"Integrated Sensor", "Absolute Sensor Range", -1},
          {"Integrated Sensor", "Sensor Offset (deg)", -1.0},
      });
}

TEST(ImageMap, CANdialSignednessOfEveryKey) {
  // All-ones unit-string bytes are not UTF-8 and are dropped.
  ExpectReadingsOfAllOnes("candial", 52,
                          {
                              {"Integrated Sensor", "Absolute Sensor Range", -1},
                              {"Integrated Sensor", "Sensor Direction", true},
                              {"Integrated Sensor", "Magnet Offset (deg)", -360.0 / 4096},
                              {"Advanced Sensor and Meas", "Velocity Period", 4294967295u},
                              {"Advanced Sensor and Meas", "Velocity Window", 4294967295u},
                              {"Custom Params", "Custom Param 0", -1},
                              {"Unit Coefficient And String", "Unit String", ""},
                              {"Unit Coefficient And String", "Sensor Coefficient", 4294967295.0 / 134217728},
                              {"Unit Coefficient And String", "Sensor Time Base", -1},
                          });
}
