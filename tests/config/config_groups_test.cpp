#include <gtest/gtest.h>

#include <cstring>

#include "config/checked_json.h"
#include "config/image_fields.h"
#include "config/top_level_groups.h"

using namespace quor::tessera::diagnostics::config2;

namespace {

int32_t Field(const ConfigByteArray& image, uint32_t position) {
  return static_cast<int32_t>(ReadImageField(image, position));
}

}  // namespace

TEST(CheckedJson, MissingKeyRaisesTypeError999) {
  const json object = {{"present", 1}};
  EXPECT_EQ(CheckedAt(object, "present"), 1);
  try {
    CheckedAt(object, "absent");
    FAIL() << "no exception";
  } catch (const json::type_error& error) {
    EXPECT_EQ(error.id, 999);
    EXPECT_NE(std::string(error.what()).find("Missing key"), std::string::npos);
  }
  EXPECT_THROW(CheckedAt(json::array(), "present"), json::exception);
}

TEST(MotorOutputGroupImage, PeakOutputsOnKestrelKx) {
  MotorControllerGroup group;
  group.motorOutput.Set("Peak Forward Output", 0.5);
  group.motorOutput.Set("Peak Reverse Output", -0.5);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(image.length, 356u);
  EXPECT_EQ(Field(image, 0), 2);

  MotorControllerGroup readBack;
  ASSERT_EQ(readBack.Deserialize(image), 0);
  EXPECT_DOUBLE_EQ(readBack.motorOutput.PeakForwardOutput(), 512.0 / 1023);
  EXPECT_DOUBLE_EQ(readBack.motorOutput.PeakReverseOutput(), -512.0 / 1023);
}

TEST(InvertedFlags, InterpolationAndRemoteLimitSwitch) {
  MotorControllerGroup group;
  group.motionProfile.Set("Trajectory Interpolation Enable", 1);
  group.remoteSensor.Set("Neutral If Missing Remote Limit Switch", 0);
  group.remoteSensor.Set("Neutral If Missing Remote Soft Limit", 1);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(Field(image, 320), 1);  // false by default: stored inverted

  const ConfigByteArray zeros = ConfigByteArray{};
  MotorControllerGroup readBack;
  readBack.Deserialize(zeros);
  EXPECT_EQ(readBack.motionProfile.Get("Trajectory Interpolation Enable"), 1.0);
  EXPECT_EQ(readBack.remoteSensor.Get("Neutral If Missing Remote Limit Switch"), 1.0);
}

TEST(SlotGroupImage, SlotTwoFeedForward) {
  MotorControllerGroup group;
  group.slots[2].Set("kF", -0.25);
  group.slots[3].Set("Loop Period Ms", 7);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  MotorControllerGroup readBack;
  readBack.Deserialize(image);
  EXPECT_DOUBLE_EQ(readBack.slots[2].Get("kF"), -0.25);
  EXPECT_EQ(readBack.slots[3].Get("Loop Period Ms"), 7.0);
  EXPECT_EQ(readBack.slots[2].Get("Loop Period Ms"), 0.0);
}

TEST(ScaledFields, VoltageAndSupplyThresholdTime) {
  KestrelKFGroup group;
  group.voltageComp.Set("Voltage Compensation Saturation", 12.0);
  group.supplyCurrentLimit.Set("Trigger Threshold Time", 0.1);
  group.supplyCurrentLimit.Set("Enable", 1);
  group.statorCurrentLimit.Set("Current Limit", 80.7);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(image.length, 412u);
  KestrelKFGroup readBack;
  readBack.Deserialize(image);
  EXPECT_DOUBLE_EQ(readBack.supplyCurrentLimit.Get("Trigger Threshold Time"), 0.1);
  EXPECT_DOUBLE_EQ(readBack.voltageComp.Get("Voltage Compensation Saturation"), 12.0);
  EXPECT_EQ(readBack.statorCurrentLimit.Get("Current Limit"), 81.0);  // the nearest whole ampere
  EXPECT_EQ(readBack.supplyCurrentLimit.Get("Enable"), 1.0);
}

TEST(CANdialImage, MagnetOffsetReadsBackInDegrees) {
  CANdialGroup group;
  group.integratedSensor.Set("Magnet Offset (deg)", 90.0);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(image.length, 52u);
  EXPECT_EQ(Field(image, 0), 1);

  CANdialGroup readBack;
  readBack.Deserialize(image);
  EXPECT_DOUBLE_EQ(readBack.integratedSensor.Get("Magnet Offset (deg)"), 90.0);
}

TEST(CANdialImage, UnitStringIsCompiledIntoTwoWords) {
  CANdialGroup group;
  group.unitCoeff.SetUnitString("rotations");
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data + 36), 8), "______03");
  CANdialGroup readBack;
  readBack.Deserialize(image);
  EXPECT_EQ(readBack.unitCoeff.UnitString(), "rotations");

  // Bytes that are not UTF-8 are dropped so the document can always be written.
  WriteImageField(image, 36, 0x80676564);
  readBack.Deserialize(image);
  EXPECT_EQ(readBack.unitCoeff.UnitString(), "deg");
}

TEST(WholeImage, CapacityTooSmallLeavesArrayUntouched) {
  MotorControllerGroup group;
  ConfigByteArray image = ConfigByteArray{};
  image.capacity = 300;
  image.length = 17;
  image.data[0] = 0x5A;
  EXPECT_EQ(group.Serialize(image), -134);
  EXPECT_EQ(image.length, 17u);
  EXPECT_EQ(image.data[0], 0x5A);
  image.capacity = 356;
  EXPECT_EQ(group.Serialize(image), 0);
}

TEST(WholeImage, UnownedPositionsAreZeroed) {
  KestrelKFGroup group;
  ConfigByteArray image = ConfigByteArray{};
  std::memset(image.data, 0xFF, sizeof(image.data));
  ASSERT_EQ(group.Serialize(image), 0);
  for (uint32_t position = 376; position < 392; position += 4) EXPECT_EQ(Field(image, position), 0);
  EXPECT_EQ(Field(image, 320), 1);     // inverted flag of a false value
  EXPECT_EQ(image.data[412], 0xFF);    // nothing beyond the image length
}

TEST(ValueGroupJson, NumbersInAnyFormAreConverted) {
  MotorOutputGroup group;
  json values = {{"Neutral Mode", 1.9},        {"Neutral Deadband", 0.04},        {"Open Loop Ramp", 1},
                 {"Peak Forward Output", 1u},  {"Peak Reverse Output", -1},       {"Nominal Forward Output", 0},
                 {"Nominal Reverse Output", 0}, {"Unknown key", "ignored"}};
  ASSERT_EQ(group.Deserialize(values), 0);
  EXPECT_EQ(group.Get("Neutral Mode"), 2.0);  // the nearest whole number
  json out = {{"Kept", true}};
  ASSERT_EQ(group.Serialize(out), 0);
  EXPECT_TRUE(out["Neutral Mode"].is_number_integer());
  EXPECT_EQ(out["Neutral Mode"], 2);
  EXPECT_TRUE(out["Open Loop Ramp"].is_number_float());
  EXPECT_EQ(out["Kept"], true);
  EXPECT_EQ(out.size(), 8u);
}

TEST(ValueGroupJson, MissingKeyGivesInvalidJsonAndKeepsEarlierValues) {
  SlotGroup slot(1);
  const json values = {{"kP", 1.5}, {"kI", 0.25}, {"kF", 0.0}, {"I Zone", 0}, {"Allowable Error", 0},
                       {"Max Integral Accum", 0}, {"Peak Output", 1.0}, {"Loop Period Ms", 1}};
  EXPECT_EQ(slot.Deserialize(values), -700);
  EXPECT_EQ(slot.Get("kP"), 1.5);
  EXPECT_EQ(slot.Get("kI"), 0.25);
}

TEST(ValueGroupJson, TypeRules) {
  SoftLimitSwitchGroup softLimit;
  json values = {{"Forward Soft Limit Enable", 1}, {"Reverse Soft Limit Enable", false},
                 {"Soft Limit Forward Value", 100}, {"Soft Limit Reverse Value", -100}};
  EXPECT_EQ(softLimit.Deserialize(values), -700);  // a boolean must be a JSON boolean
  values["Forward Soft Limit Enable"] = true;
  EXPECT_EQ(softLimit.Deserialize(values), 0);
  values["Soft Limit Forward Value"] = "100";
  EXPECT_EQ(softLimit.Deserialize(values), -700);

  SlotGroup slot(0);
  json slotValues = {{"kP", 0}, {"kI", 0}, {"kD", 0}, {"kF", 0}, {"I Zone", 0}, {"Allowable Error", 0},
                     {"Max Integral Accum", 0}, {"Peak Output", 0}, {"Loop Period Ms", true}};
  EXPECT_EQ(slot.Deserialize(slotValues), 0);
  EXPECT_EQ(slot.Get("Loop Period Ms"), 1.0);
  slotValues["Loop Period Ms"] = nullptr;
  EXPECT_EQ(slot.Deserialize(slotValues), -700);

  WrenGeneralGroup wren;
  EXPECT_EQ(wren.Deserialize(json{{"Invert", true}}), 0);
  EXPECT_EQ(wren.Get("Invert"), 1.0);
  EXPECT_EQ(wren.Deserialize(json{{"Invert", 2.7}}), 0);
  EXPECT_EQ(wren.Get("Invert"), 3.0);  // the nearest whole number

  json notAnObject = json::array();
  EXPECT_EQ(wren.Serialize(notAnObject), -700);
}

TEST(ValueGroupJson, HugeValuesSaturateInsteadOfWrapping) {
  KestrelKFGroup group;
  group.softLimitSwitch.Set("Soft Limit Forward Value", 1e20);
  group.softLimitSwitch.Set("Soft Limit Reverse Value", -1e20);
  group.supplyCurrentLimit.Set("Current Limit", -40.0);
  group.slots[0].Set("I Zone", 1e300);
  ConfigByteArray image = ConfigByteArray{};
  ASSERT_EQ(group.Serialize(image), 0);
  EXPECT_EQ(Field(image, 16), 2147483647);
  EXPECT_EQ(Field(image, 20), -2147483647 - 1);
  EXPECT_EQ(Field(image, 120), 0);  // unsigned field: negative amperes store as 0
  EXPECT_EQ(ReadImageField(image, 136 + 16), 0xFFFFFFFFu);
}
