#include "sim/device_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "sim/builtin_robot.h"
#include "sim/family_traits.h"

namespace quor::tessera::sim {
namespace {

std::vector<DeviceAttributes> Parse(const std::string& text) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  EXPECT_TRUE(ParseDeviceFile(text, &devices, &error)) << error;
  return devices;
}

std::string ErrorOf(const std::string& text) {
  std::vector<DeviceAttributes> devices = {DefaultDevice(DeviceFamily::kPdp, 0)};
  std::string error;
  EXPECT_FALSE(ParseDeviceFile(text, &devices, &error)) << text;
  EXPECT_EQ(devices.size(), 1u) << "a failed parse leaves the caller's list alone";
  return error;
}

std::string OneDevice(const std::string& members) {
  return R"({"devices": [{"family": "kestrel kx", "id": 1)" + members + "}]}";
}

TEST(DeviceFileParsing, EveryDocumentedKey) {
  const auto devices = Parse(R"({ "devices": [
    { "family": "kestrel kx", "id": 1, "firmware": "20.1", "bootloader": "2.5",
      "hardware": "1.4", "manufactured": "2019-03-05",
      "serial": "000000000000000000000000deadbeef", "name": "Arm", "mode": "bootloader" } ] })");
  ASSERT_EQ(devices.size(), 1u);
  const DeviceAttributes& kx = devices[0];
  EXPECT_EQ(kx.family, DeviceFamily::kKestrelKx);
  EXPECT_EQ(kx.deviceNumber, 1);
  EXPECT_EQ(FirmwareText(kx), "20.1");
  EXPECT_EQ(kx.bootloader, (TwoPartVersion{2, 5}));
  EXPECT_EQ(kx.hardware, (TwoPartVersion{1, 4}));
  EXPECT_EQ(kx.manufactured.year, 2019);
  EXPECT_EQ(kx.manufactured.month, 3);
  EXPECT_EQ(kx.manufactured.day, 5);
  EXPECT_EQ(SerialText(kx), "000000000000000000000000DEADBEEF");
  EXPECT_EQ(kx.customName, "Arm");
  EXPECT_EQ(kx.mode, DeviceMode::kBootloader);
}

TEST(DeviceFileParsing, ExtraKeysAndFourPartFirmware) {
  const auto devices = Parse(OneDevice(
      R"(, "firmware": "22.1.0.3", "vendor": "Acme", "model": "Kestrel KZ", "model_code": 42,
          "baseboard": "3.2", "manufactured": "2017-0-5", "mode": "silent")"));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].firmwareParts, 4);
  EXPECT_EQ(FirmwareText(devices[0]), "22.1.0.3");
  EXPECT_EQ(devices[0].reportedVendor, "Acme");
  EXPECT_EQ(devices[0].reportedModel, "Kestrel KZ");
  EXPECT_EQ(devices[0].modelCode, 42);
  EXPECT_EQ(devices[0].baseboard, (TwoPartVersion{3, 2}));
  EXPECT_EQ(devices[0].manufactured.month, 0) << "month 0 occurs on real parts";
  EXPECT_EQ(devices[0].mode, DeviceMode::kSilent);
}

TEST(DeviceFileParsing, DefaultsComeFromTheFamily) {
  const auto devices = Parse(R"({"devices": [{"family": "candial", "id": 5}]})");
  ASSERT_EQ(devices.size(), 1u);
  const FamilyTraits& traits = TraitsOf(DeviceFamily::kCandial);
  EXPECT_EQ(FirmwareText(devices[0]), traits.defaultFirmware);
  EXPECT_EQ(devices[0].reportedModel, "CANdial");
  EXPECT_EQ(devices[0].modelCode, traits.modelCode);
  EXPECT_EQ(devices[0].mode, DeviceMode::kApplication);
  EXPECT_EQ(devices[0].customName, "");
  EXPECT_EQ(SerialText(devices[0]).size(), 32u);
}

TEST(DeviceFileParsing, DeviceWithoutFirmwareStaysInItsBootloader) {
  const auto devices = Parse(OneDevice(R"(, "firmware": "255.255")"));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].mode, DeviceMode::kBootloader);
  EXPECT_FALSE(HasApplicationFirmware(devices[0]));
  EXPECT_EQ(ErrorOf(OneDevice(R"(, "firmware": "255.255", "mode": "application")")),
            "devices[0].mode: a device without application firmware (255.255) cannot run it");
  EXPECT_EQ(Parse(OneDevice(R"(, "firmware": "255.255", "mode": "silent")"))[0].mode,
            DeviceMode::kSilent);
}

TEST(DeviceFileParsing, DuplicatesByCountOrByRepetition) {
  const auto devices = Parse(R"({"devices": [
      {"family": "wren", "id": 4, "count": 2}, {"family": "wren", "id": 4}]})");
  ASSERT_EQ(devices.size(), 3u);
  for (const auto& wren : devices) EXPECT_EQ(wren.deviceNumber, 4);
  EXPECT_TRUE(Parse(R"({"devices": []})").empty()) << "an empty bus is allowed";
}

TEST(DeviceFileParsing, EveryFamilyNameIsKnownInAnyCase) {
  // The listing's spelling ("Kestrel KX", "CANdial") is accepted as well as the lower case one.
  const std::pair<const char*, const char*> names[] = {
      {"pdp", "PDP"},           {"pcm", "Pcm"},         {"kestrel kx", "Kestrel KX"},
      {"kestrel kf", "KESTREL KF"}, {"harrier hx", "Harrier HX"}, {"wren", "Wren"},
      {"candial", "CANdial"},   {"cantap", "CANtap"}};
  for (const auto& [lower, listed] : names) {
    for (const char* name : {lower, listed}) {
      const auto devices =
          Parse(std::string(R"({"devices": [{"family": ")") + name + R"(", "id": 0}]})");
      ASSERT_EQ(devices.size(), 1u) << name;
      EXPECT_STREQ(TraitsOf(devices[0].family).fileName, lower) << name;
    }
  }
}

TEST(DeviceFileParsing, StatusStateOfEachFamily) {
  const auto devices = Parse(R"({"devices": [
    {"family": "kestrel kf", "id": 2, "scramble": "long", "omit_frames": ["0x2540", "0X1280"],
     "state": {"enabled": true, "output": -0.25, "faults": ["under_voltage", "cpu_temperature"],
               "sticky_faults": [], "pid_error": [5, -6], "target_valid": [true, false],
               "bus_voltage": 11.5, "load": 0.3}},
    {"family": "pdp", "id": 0, "state": {"channel_currents": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
     12, 13, 14, 15, 16], "battery_fault": true}},
    {"family": "pcm", "id": 0, "state": {"solenoids": 129, "sticky_faults": ["compressor_short"]}},
    {"family": "wren", "id": 4, "state": {"yaw": 12.5, "quaternion": [0.5, 0.5, -0.5, 0.5]}},
    {"family": "candial", "id": 5, "omit_frames": ["all"], "state": {"unit": "deg"}},
    {"family": "cantap", "id": 6, "state": {"pins": 2047, "pwm_period_us": [1, 2, 3, 4.5]}}]})");
  ASSERT_EQ(devices.size(), 6u);
  const DeviceState& kf = devices[0].state;
  EXPECT_TRUE(kf.motor.enabled);
  EXPECT_EQ(kf.motor.output, -0.25);
  EXPECT_EQ(kf.motor.faults, kFaultUnderVoltage | kFaultCpuTemperature);
  EXPECT_EQ(kf.motor.pidError, (std::array<int32_t, 2>{5, -6}));
  EXPECT_EQ(kf.motor.targetValid, (std::array<bool, 2>{true, false}));
  EXPECT_EQ(kf.motor.load, 0.3);
  EXPECT_EQ(kf.motor.feedbackSensor[0], 1) << "untouched keys keep the family's defaults";
  EXPECT_EQ(kf.broadcast.scramble, ScramblePolicy::kLong);
  EXPECT_EQ(kf.broadcast.omittedApis, (std::vector<uint16_t>{0x2540, 0x1280}));
  EXPECT_EQ(devices[1].state.pdp.channelCurrent_A[15], 16.0);
  EXPECT_TRUE(devices[1].state.pdp.batteryFault);
  EXPECT_EQ(devices[2].state.pcm.solenoids, 129);
  EXPECT_EQ(devices[2].state.pcm.stickyFaults, kPcmFaultCompressorShort);
  EXPECT_EQ(devices[3].state.imu.quaternion[2], -0.5);
  EXPECT_TRUE(devices[4].state.broadcast.omitAll);
  EXPECT_EQ(devices[4].state.encoder.unit, "deg");
  EXPECT_EQ(devices[5].state.ioBoard.pins, 2047);
  EXPECT_EQ(devices[5].state.ioBoard.pwmPeriod_us[3], 4.5);
}

TEST(DeviceFileErrors, StatusKeys) {
  struct Case {
    const char* members;
    const char* error;
  };
  const Case kCases[] = {
      {R"(, "state": {"outptu": 1})", "devices[0].state.outptu: unknown key for this family"},
      {R"(, "state": {"channel_currents": 1})",
       "devices[0].state.channel_currents: unknown key for this family"},
      {R"(, "state": {"output": 1.5})", "devices[0].state.output: expected -1 to 1, got 1.5"},
      {R"(, "state": {"control_mode": 16})",
       "devices[0].state.control_mode: expected 0 to 15, got 16"},
      {R"(, "state": {"enabled": 1})", "devices[0].state.enabled: expected true or false, got 1"},
      {R"(, "state": {"pid_error": [1]})", "devices[0].state.pid_error: expected a list of 2, got [1]"},
      {R"(, "state": {"faults": ["melted"]})",
       "devices[0].state.faults: unknown name \"melted\" (known: hardware_failure, "
       "reverse_limit_switch, forward_limit_switch, under_voltage, reset_during_enable, "
       "sensor_out_of_phase, sensor_overflow, api_error, reverse_soft_limit, "
       "forward_soft_limit, remote_sensor_lost, stator_current_limit, supply_current_limit, "
       "neutral_brake_current_limit, regen_brake_current_limit, cpu_temperature, "
       "device_temperature)"},
      {R"(, "state": [])", "devices[0].state: expected an object, got []"},
      {R"(, "scramble": "sometimes")",
       "devices[0].scramble: expected \"vary\", \"plain\", \"short\" or \"long\", got "
       "\"sometimes\""},
      {R"(, "omit_frames": ["0x2500"])",
       "devices[0].omit_frames: not a status frame of this family: \"0x2500\" (its frames: "
       "0x01C0, 0x1440, 0x1480, 0x14C0, 0x15C0, 0x1600, 0x1640, 0x1680, 0x16C0, 0x1700, "
       "0x1740, 0x1C00, or \"all\")"},
      {R"(, "omit_frames": "all")",
       "devices[0].omit_frames: expected a list such as [\"0x1480\"] or [\"all\"], got \"all\""},
  };
  for (const Case& c : kCases) EXPECT_EQ(ErrorOf(OneDevice(c.members)), c.error) << c.members;
}

TEST(DeviceFileErrors, KeyGivenTwice) {
  EXPECT_EQ(ErrorOf(OneDevice(R"(, "id": 2)")), "devices[0].id: key given twice");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"family": "pdp", "id": 0},
                                    {"family": "pcm", "id": 0, "name": "a", "name": "b"}]})"),
            "devices[1].name: key given twice");
  EXPECT_EQ(ErrorOf(R"({"devices": [], "devices": []})"), "devices: key given twice");
  // The same key in two different entries is no repetition.
  EXPECT_EQ(Parse(R"({"devices": [{"family": "pdp", "id": 0}, {"family": "pcm", "id": 0}]})")
                .size(),
            2u);
}

TEST(DeviceFileErrors, DocumentShape) {
  EXPECT_NE(ErrorOf("{").find("not valid JSON"), std::string::npos);
  // A number too large for a double is refused by the JSON reader with an error of another
  // kind than a syntax error; it ended the host with an uncaught exception (found by fuzzing).
  EXPECT_NE(ErrorOf(OneDevice(R"(, "count": 4444E4444)")).find("not valid JSON"), std::string::npos);
  EXPECT_NE(ErrorOf("[]").find("\"devices\" list"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"devices": {}})").find("devices: expected a list"), std::string::npos);
  EXPECT_NE(ErrorOf(R"({"devices": [], "robots": 1})").find("robots: unknown key"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"devices": [7]})").find("devices[0]: expected an object"),
            std::string::npos);
}

// The bus's faults: shares for both directions, one direction overriding, limits on both sides.
TEST(DeviceFileBus, FaultsOfTheServersLink) {
  std::vector<DeviceAttributes> devices;
  BusFaults bus;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile(R"({"devices": [], "bus": {"drop": 1, "seed": 7, "delay_ms": 10000,
      "received": {"drop": 5, "duplicate": 0.5}, "sent": {"delay": 95}}})",
                              &devices, &error, &bus))
      << error;
  EXPECT_EQ(7u, bus.seed);
  EXPECT_EQ(1, bus.sent.drop_percent);
  EXPECT_EQ(95, bus.sent.delay_percent);
  EXPECT_EQ(10000u, bus.sent.delay_ms);
  EXPECT_EQ(5, bus.received.drop_percent);
  EXPECT_EQ(0.5, bus.received.duplicate_percent);
  EXPECT_EQ(10000u, bus.received.delay_ms);
  ASSERT_TRUE(ParseDeviceFile(R"({"devices": []})", &devices, &error, &bus));
  EXPECT_FALSE(bus.any()) << "no \"bus\": a healthy link";

  const std::pair<const char*, const char*> bad[] = {
      {R"("bus": 1)", "bus: expected an object"},
      {R"("bus": {"lose": 1})", "bus.lose: unknown key"},
      {R"("bus": {"sent": {"seed": 1}})", "bus.sent.seed: unknown key"},
      {R"("bus": {"drop": 100.5})", "bus.drop: expected 0 to 100 (per cent), got 100.5"},
      {R"("bus": {"drop": "1%"})", "bus.drop: expected a number of per cent"},
      {R"("bus": {"received": {"drop": 60, "delay": 40.5}})",
       "bus.received: drop, duplicate and delay add up to more than 100%"},
      {R"("bus": {"delay_ms": 10001})", "bus.delay_ms: expected 0 to 10000, got 10001"},
      {R"("bus": {"seed": -1})", "bus.seed: expected a whole number 0 or more"},
  };
  for (const auto& [members, reason] : bad) {
    const std::string text = std::string(R"({"devices": [], )") + members + "}";
    EXPECT_NE(ErrorOf(text).find(reason), std::string::npos) << text << ": " << ErrorOf(text);
  }
}

TEST(DeviceFileErrors, RequiredKeysAndFamilies) {
  EXPECT_EQ(ErrorOf(R"({"devices": [{"id": 1}]})"), "devices[0]: missing key \"family\"");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"family": "pdp"}]})"), "devices[0]: missing key \"id\"");
  const std::string unknown = ErrorOf(R"({"devices": [{"family": "jaguar", "id": 1}]})");
  EXPECT_NE(unknown.find("devices[0].family: unknown family \"jaguar\""), std::string::npos);
  EXPECT_NE(unknown.find("kestrel kx"), std::string::npos) << "lists the known families";
  EXPECT_EQ(ErrorOf(OneDevice(R"(, "firmwre": "1.0")")), "devices[0].firmwre: unknown key");
}

TEST(DeviceFileErrors, DeviceNumberRange) {
  EXPECT_EQ(ErrorOf(R"({"devices": [{"family": "pdp", "id": 63}]})"),
            "devices[0].id: expected 0 to 62, got 63");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"family": "pdp", "id": -1}]})"),
            "devices[0].id: expected 0 to 62, got -1");
  EXPECT_NE(ErrorOf(R"({"devices": [{"family": "pdp", "id": "1"}]})").find("whole number"),
            std::string::npos);
  EXPECT_NE(ErrorOf(R"({"devices": [{"family": "pdp", "id": 1.5}]})").find("whole number"),
            std::string::npos);
}

TEST(DeviceFileErrors, Versions) {
  for (const char* bad :
       {"20", "20.1.2", "256.1", "1..2", "a.b", "-1.2", "20.1.", "", "1.2.3.4.5"}) {
    EXPECT_NE(ErrorOf(OneDevice(std::string(R"(, "firmware": ")") + bad + "\""))
                  .find("devices[0].firmware: expected two or four numbers"),
              std::string::npos)
        << bad;
  }
  EXPECT_NE(ErrorOf(OneDevice(R"(, "bootloader": "2.5.1.0")")).find("devices[0].bootloader"),
            std::string::npos);
  EXPECT_NE(ErrorOf(OneDevice(R"(, "hardware": 14)")).find("devices[0].hardware: expected a text"),
            std::string::npos);
  EXPECT_NE(ErrorOf(OneDevice(R"(, "firmware": "000000000000000000001.2")")).find("firmware"),
            std::string::npos)
      << "over-long digit runs are refused, not overflowed";
}

TEST(DeviceFileErrors, DatesSerialsModesAndTexts) {
  for (const char* bad : {"2019-03", "2019/03/05", "65536-1-1", "2019-256-1", "2019-1-256"}) {
    EXPECT_NE(ErrorOf(OneDevice(std::string(R"(, "manufactured": ")") + bad + "\""))
                  .find("devices[0].manufactured"),
              std::string::npos)
        << bad;
  }
  EXPECT_NE(ErrorOf(OneDevice(R"(, "serial": "DEADBEEF")")).find("32 hexadecimal digits"),
            std::string::npos);
  EXPECT_NE(ErrorOf(OneDevice(R"(, "serial": "00000000000000000000000000000XYZ")"))
                .find("32 hexadecimal digits"),
            std::string::npos);
  EXPECT_NE(ErrorOf(OneDevice(R"(, "mode": "sleeping")")).find("\"silent\""), std::string::npos);
  EXPECT_EQ(ErrorOf(OneDevice(R"(, "name": ")" + std::string(198, 'x') + "\"")),
            "devices[0].name: at most 197 bytes, got 198");
  EXPECT_EQ(ErrorOf(OneDevice(R"(, "vendor": ")" + std::string(32, 'v') + "\"")),
            "devices[0].vendor: at most 31 bytes, got 32");
  EXPECT_NE(ErrorOf(OneDevice(R"(, "model_code": 256)")).find("model_code"), std::string::npos);
}

TEST(DeviceFileErrors, TooManyDevices) {
  EXPECT_NE(ErrorOf(OneDevice(R"(, "count": 65)")).find("count: expected 1 to 64"),
            std::string::npos);
  EXPECT_NE(ErrorOf(OneDevice(R"(, "count": 0)")).find("count"), std::string::npos);
  const std::string text = R"({"devices": [{"family": "pdp", "id": 0, "count": 60},
                                           {"family": "pcm", "id": 0, "count": 5}]})";
  EXPECT_NE(ErrorOf(text).find("devices[1]: more than 64 devices"), std::string::npos);
}

class DeviceFileLoading : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path_.c_str()); }
  std::string write(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    return path_;
  }
  // CTest runs the tests of this file side by side: each needs a file of its own.
  std::string path_ = ::testing::TempDir() + "sim_device_file_test_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                      std::to_string(::getpid()) + ".json";
};

TEST_F(DeviceFileLoading, ReadsAFile) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  ASSERT_TRUE(
      LoadDeviceFile(write(R"({"devices": [{"family": "pcm", "id": 0}]})"), &devices, &error))
      << error;
  EXPECT_EQ(devices.size(), 1u);
}

TEST_F(DeviceFileLoading, ErrorsNameTheFile) {
  std::vector<DeviceAttributes> devices;
  std::string error;
  EXPECT_FALSE(LoadDeviceFile(path_ + ".missing", &devices, &error));
  EXPECT_NE(error.find("cannot open device file"), std::string::npos);
  EXPECT_FALSE(LoadDeviceFile(write(R"({"devices": [{"family": "pcm"}]})"), &devices, &error));
  EXPECT_EQ(error, path_ + ": devices[0]: missing key \"id\"");
  EXPECT_FALSE(LoadDeviceFile(write(std::string(kMaxDeviceFileBytes + 1, ' ')), &devices, &error));
  EXPECT_NE(error.find("larger than"), std::string::npos);
  const std::string folder = ::testing::TempDir();
  EXPECT_FALSE(LoadDeviceFile(folder, &devices, &error));
  EXPECT_EQ(error, "device file " + folder + " is a directory");
}

TEST(BuiltInRobot, EightDevicesOneOfEachFamily) {
  const auto robot = BuiltInRobot();
  ASSERT_EQ(robot.size(), 8u);
  const DeviceFamily families[] = {DeviceFamily::kPdp,       DeviceFamily::kPcm,
                                   DeviceFamily::kKestrelKx, DeviceFamily::kKestrelKf,
                                   DeviceFamily::kHarrierHx, DeviceFamily::kWren,
                                   DeviceFamily::kCandial,   DeviceFamily::kCantap};
  const int numbers[] = {0, 0, 1, 2, 3, 4, 5, 6};
  const int types[] = {8, 9, 2, 2, 1, 21, 5, 3};
  for (size_t i = 0; i < robot.size(); ++i) {
    EXPECT_EQ(robot[i].family, families[i]);
    EXPECT_EQ(robot[i].deviceNumber, numbers[i]);
    EXPECT_EQ(TraitsOf(robot[i].family).deviceType, types[i]);
    EXPECT_EQ(robot[i].mode, DeviceMode::kApplication);
    EXPECT_TRUE(HasApplicationFirmware(robot[i]));
  }
}

}  // namespace
}  // namespace quor::tessera::sim
