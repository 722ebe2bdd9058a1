#include "config/compare_device_configs.h"

#include <gtest/gtest.h>

using nlohmann::json;
using quor::tessera::utility::CompareDeviceConfigs;

namespace {

json Document(std::initializer_list<json> groupValues) {
  json configs = json::array();
  for (const json& values : groupValues) configs.push_back({{"Name", "g"}, {"Values", values}});
  return {{"Configs", configs}};
}

}  // namespace

TEST(CompareDeviceConfigs, NumbersWithinOne) {
  const json sent = Document({{{"Ramp", 10.0}}});
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"Ramp", 10.6}}}), sent));
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"Ramp", 11.0}}}), sent));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Ramp", 11.5}}}), sent));
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"Big", 1e300}}}), Document({{{"Big", 1e300}}})));
}

// The device holds single-precision values: numbers are compared after rounding to float, so
// two values one apart in double precision may be two apart, and two apart may be equal.
TEST(CompareDeviceConfigs, NumbersAreComparedInSinglePrecision) {
  // 2^24 + 1 rounds to 2^24; 2^24 + 2 is exact.
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"v", 16777217.0}}}), Document({{{"v", 16777218.0}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"v", 16777217}}}), Document({{{"v", 16777218}}})));
  // 2^25 + 2 rounds (to even) to 2^25.
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"v", 33554432.0}}}), Document({{{"v", 33554434.0}}})));
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"v", 33554432u}}}), Document({{{"v", 33554434u}}})));
}

TEST(CompareDeviceConfigs, TextsIgnoreCase) {
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"Mode", "Brake"}}}), Document({{{"Mode", "brake"}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Mode", "Brake"}}}), Document({{{"Mode", "coast"}}})));
}

TEST(CompareDeviceConfigs, ReadBackValueDecidesTheTest) {
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"On", 1}}}), Document({{{"On", true}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"On", true}}}), Document({{{"On", 1}}})));
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"On", false}}}), Document({{{"On", false}}})));
}

TEST(CompareDeviceConfigs, ValuesArePairedByPositionNotKey) {
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"a", 1}}}), Document({{{"b", 1}}})));
}

TEST(CompareDeviceConfigs, GroupCountsMustMatch) {
  const json two = Document({{{"a", 1}}, {{"b", 2}}});
  EXPECT_FALSE(CompareDeviceConfigs(two, Document({{{"a", 1}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"a", 1}}}), two));
  EXPECT_TRUE(CompareDeviceConfigs(Document({}), Document({})));
  EXPECT_TRUE(CompareDeviceConfigs(json::object(), json::object()));  // both without "Configs"
}

// A type error inside the walk is a mismatch, never an exception for the caller.
TEST(CompareDeviceConfigs, TypeErrorsReportAMismatch) {
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Mode", "Brake"}}}), Document({{{"Mode", 1}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Ramp", 1.0}}}), Document({{{"Ramp", "1.0"}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Ramp", 1.0}}}), Document({{{"Ramp", nullptr}}})));
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"Ramp", 1.0}}}), Document({{{"Ramp", json::array()}}})));
  EXPECT_FALSE(CompareDeviceConfigs(json::array(), Document({})));
  EXPECT_FALSE(CompareDeviceConfigs(json{{"Configs", {1}}}, json{{"Configs", {2}}}));
}

// The requested group running out of values before the read-back one must not walk past its end.
TEST(CompareDeviceConfigs, RequestedGroupWithFewerValuesIsAMismatch) {
  EXPECT_FALSE(CompareDeviceConfigs(Document({{{"a", 1}, {"b", 2}}}), Document({{{"a", 1}}})));
  EXPECT_TRUE(CompareDeviceConfigs(Document({{{"a", 1}}}), Document({{{"a", 1}, {"b", 2}}})));
}
