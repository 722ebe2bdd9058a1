// "selftest" end to end: the real host on a simulated robot whose devices broadcast the states
// of a device file (scrambled in every mode, frame after frame), asked through curl; each
// whole text compared byte for byte with the one written by hand from the reports' rules.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>

#include "tests/support/listing.h"
#include "tests/support/self_test_texts.h"
#include "tests/support/server_process.h"
#include "tests/support/wait_until.h"

namespace {

using nlohmann::json;
using namespace self_test_texts;

constexpr auto kListingDeadline = std::chrono::seconds(90);
constexpr auto kAnswerDeadline = std::chrono::seconds(20);
constexpr size_t kDevices = 17;  // in the file below

// Two states of every family (one with faults), an IMU on a controller's ribbon cable, and
// devices that leave out frames their report needs.
const char* const kRobot = R"json({ "devices": [
 { "family": "kestrel kx", "id": 1, "firmware": "20.1", "state": {
   "enabled": true, "output": 0.5, "forward_limit_open": false, "brake_in_neutral": true,
   "voltage_compensation": true, "frc_locked": true, "pid_slot_select": [1, 2],
   "feedback_sensor": [0, 2], "bus_voltage": 12.0, "supply_current": 5.0, "temperature": 40,
   "quad_position": 32768, "quad_velocity": 12, "quad_index_edges": 3, "quad_pin_a": true,
   "quad_pin_b": true, "analog_position": 512, "analog_velocity": -3, "pulse_position": 100,
   "pulse_velocity": 10, "pulse_period_us": 999.936, "auto_zero_on_index": true,
   "auto_zero_on_forward_limit": true, "pid_error": [-10, 0], "pid_integral": [300, 0],
   "pid_derivative": [4, 0], "profile_output": 1, "profile_point_count": 7,
   "profile_point_duration_ms": 10, "profile_has_underrun": true, "profile_pid_slot": [1, 3],
   "target_position": [2000, 0], "target_velocity": [50, 0], "target_feed_forward": [64, -128],
   "target_valid": [true, false], "port_bitrate_kbps": 1000, "port_disconnects": 3 } },
 { "family": "kestrel kx", "id": 2, "firmware": "19.255",
   "omit_frames": ["0x1480", "0x14C0", "0x15C0", "0x1600", "0x1640", "0x1680", "0x1700",
                   "0x1740", "0x1C00"],
   "state": { "control_mode": 1, "output": -1.0, "limit_switch_overridden_off": true,
   "faults": ["hardware_failure", "forward_limit_switch", "api_error", "remote_sensor_lost",
              "forward_soft_limit"],
   "sticky_faults": ["forward_limit_switch", "under_voltage", "reset_during_enable", "api_error"],
   "current_limiting": true, "brake_in_neutral": false, "output_inverted": true,
   "feedback_sensor": [0, 14], "supply_current": 127.875, "quad_position": 9544368,
   "quad_velocity": -262144 } },
 { "family": "kestrel kf", "id": 3, "firmware": "22.1.0.3", "state": {
   "enabled": true, "control_mode": 2, "output": -0.25024437927663734,
   "reverse_limit_open": false, "output_inverted": true, "pid_slot_select": [0, 1],
   "feedback_sensor": [1, 15], "bus_voltage": 14.0, "supply_current": -1.5,
   "stator_current": 12.34, "temperature": 35, "cpu_temperature": -5,
   "faults": ["stator_current_limit"],
   "sticky_faults": ["stator_current_limit", "device_temperature"],
   "integrated_position": -2048, "integrated_velocity": 256, "absolute_position": -100,
   "absolute_signed": true, "power_on_behaviour": 1, "pid_error": [-8, 0],
   "pid_integral": [5, 0], "pid_derivative": [24, 0], "profile_underrun_now": true,
   "profile_holds_both": true, "target_position": [80, 0], "target_velocity": [-8, 0],
   "target_feed_forward": [127, 0], "target_valid": [true, false] } },
 { "family": "wren", "id": 3, "ribbon": true, "firmware": "20.3", "state": {
   "state_code": 16, "calibration_mode": 3, "calibration_error": 3, "temperature": 31.25,
   "up_time_s": 200, "no_motion_bias_count": 1, "temperature_compensation_count": 4,
   "frc_locked": true, "yaw": -45, "pitch": 22.5, "roll": -11.25, "compass": -45,
   "magnetic_strength": 30, "fused_heading": -90, "fusion_flags": 2, "good_criteria_count": 3,
   "fusion_faults": 1, "fusion_sticky_faults": 4,
   "quaternion": [0.50024425989252564, -0.25012212994626282, 0.12506106497313141, -1],
   "tilt": [45, -22.5, 11.25], "gyro_dps": [2.5, -5, 20], "accumulated_gyro": [90, -180, 720],
   "magnetometer": [-300, 250, 5], "accelerometer": [-16, 512, 16000] } },
 { "family": "harrier hx", "id": 4, "firmware": "21.2",
   "omit_frames": ["0x15C0", "0x1600", "0x1640", "0x1680", "0x16C0", "0x1700", "0x1740",
                   "0x1C00"],
   "state": { "brake_in_neutral": false, "forward_limit_open": false,
              "reverse_limit_open": false, "bus_voltage": 9.0, "temperature": 60 } },
 { "family": "pdp", "id": 0, "firmware": "1.40", "state": {
   "channel_currents": [0, 1, 10, 127.875, 0.375, 12.5, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0],
   "battery_voltage": 12.5, "temperature": 25.08 } },
 { "family": "pdp", "id": 1, "firmware": "1.24", "state": {
   "channel_currents": [1.66, 1.8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0],
   "battery_voltage": 11.09, "temperature": -16.23, "fault_bits": 32769,
   "sticky_fault_bits": 3, "hardware_fault": true, "temperature_fault": true,
   "sticky_temperature_fault": true } },
 { "family": "pdp", "id": 2, "firmware": "1.40", "omit_frames": ["0x1640"], "state": {
   "channel_currents": [0, 1, 10, 127.875, 0.375, 12.5, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0],
   "battery_voltage": 12.5, "temperature": 25.08 } },
 { "family": "pcm", "id": 0, "firmware": "1.65", "state": {
   "solenoids": 5, "enabled": true, "compressor_on": true, "battery_voltage": 12.0,
   "solenoid_voltage": 12.0, "compressor_current": 2.0 } },
 { "family": "pcm", "id": 1, "firmware": "1.30", "state": {
   "solenoid_faults": 129, "enabled": true, "pressure_full": true, "hardware_fault": true,
   "faults": ["compressor_current_high"],
   "sticky_faults": ["solenoid_fuse", "compressor_current_high", "compressor_short",
                     "compressor_not_connected"],
   "battery_voltage": 11.81, "solenoid_voltage": 12.39, "compressor_current": 2.02 } },
 { "family": "pcm", "id": 2, "firmware": "1.65", "omit_frames": ["0x1440"] },
 { "family": "wren", "id": 4, "firmware": "20.3", "state": {
   "calibration_mode": 2, "calibration_error": 1, "temperature": 25.5, "up_time_s": 120,
   "no_motion_bias_count": 3, "temperature_compensation_count": 2, "yaw": 90, "pitch": -45,
   "roll": 0.0439453125, "compass": -11.25, "magnetic_strength": 38.4, "fused_heading": 180,
   "fusion_flags": 5, "good_criteria_count": 9, "fusion_sticky_faults": 2,
   "quaternion": [1, 0, -1, 0.0004885197850512946], "tilt": [90, -45, 0],
   "gyro_dps": [10, -5, 0], "accumulated_gyro": [360, -360, 0.0439453125],
   "magnetometer": [100, -100, 1000], "accelerometer": [0, 0, 16384] } },
 { "family": "wren", "id": 5, "firmware": "3.9",
   "omit_frames": ["0x2040", "0x2080", "0x2140", "0x2200", "0x2240", "0x2280", "0x2380",
                   "0x23C0", "0x1C40", "0x1D40"],
   "state": { "state_code": 15, "calibration_mode": 4, "calibration_error": -1,
   "boot_calibrating": true, "no_motion_biasing_enabled": false, "frc_locked": true,
   "temperature": 255.0, "up_time_s": 0, "magnetometer": [1, 2, 3] } },
 { "family": "candial", "id": 5, "firmware": "22.0.2.1", "omit_frames": ["0x2480", "0x24C0"],
   "state": { "position": 4096, "velocity": -64, "absolute_position": 2048,
   "battery_voltage": 13.0, "magnet_health": 3, "frc_locked": true } },
 { "family": "candial", "id": 6, "firmware": "19.0", "state": {
   "position": -3, "velocity": 1, "absolute_position": -1, "absolute_signed": true,
   "battery_voltage": 4.0, "power_on_behaviour": 1, "magnet_health": 0,
   "robot_enabled": true, "unit": "deg", "coefficient": 0.5, "velocity_time_base": 2 } },
 { "family": "cantap", "id": 6, "firmware": "21.0", "state": {
   "led_duty": [100, 50.048875855327466, 0], "zero_on_index_polarity": true,
   "battery_voltage": 12.5, "quad_position": 100, "quad_velocity": -2, "pins": 1089,
   "frc_locked": true, "pwm_velocity": [1, 0, 0, 0], "pwm_period_us": [999.936, 0, 0, 0] } },
 { "family": "cantap", "id": 7, "firmware": "3.1",
   "omit_frames": ["0x1440", "0x1480", "0x14C0", "0x1500", "0x1540"],
   "state": { "zero_on_index_enabled": true, "battery_voltage": 4.0 } } ] })json";

// The footer's build stamp is the host's: "1.8.1 (Dec  8 2026,16:37:04)" from "getversion".
std::string HostFooter(tessera_test::ServerProcess& server) {
  const std::string version = server.get("action=getversion")["Version"];
  std::smatch stamp;
  if (!std::regex_search(version, stamp, std::regex("\\((.*),(.*)\\)"))) return version;
  return "\nBuild:" + stamp[1].str() + " " + stamp[2].str() + "\nPress \"Refresh\" to close.\n";
}

std::string WriteRobotFile() {
  char dir[] = "/tmp/tessera-selftest-XXXXXX";
  if (mkdtemp(dir) == nullptr) return "";
  const std::string path = std::string(dir) + "/robot.json";
  std::ofstream(path) << kRobot;
  return path;
}

}  // namespace

TEST(SelfTestThroughHost, EveryFamilyInTwoStatesByteForByteThroughCurl) {
  const std::string robot = WriteRobotFile();
  ASSERT_FALSE(robot.empty());
  tessera_test::ServerProcess server({"--can", "sim:" + robot, "--start-delay", "0"});
  ASSERT_GT(server.port(), 0) << server.output();
  const json listing = tessera_test::WaitForListing(
      server.port(), [](const json& devices) { return devices.size() == kDevices; },
      kListingDeadline);
  ASSERT_EQ(listing.size(), kDevices) << listing.dump(2);
  const std::string footer = HostFooter(server);
  const std::string zeroConfigs = ConfigurationsText("[0.00, 0.00]", "[0.00, 0.00]");
  struct Case {
    const char* query;
    int error;
    std::string text;
  };
  const Case cases[] = {
      {"model=kestrel+kx&id=1", 0,
       kKxDrivingBody + zeroConfigs + kKxDrivingTail + kClearsStickyFaults},
      {"model=kestrel+kx&id=2", 0,
       kKxFaultedBody + zeroConfigs + kKxFaultedTail + kClearsStickyFaults},
      {"model=kestrel+kf&id=3", 0,
       kKfReverseBody + zeroConfigs + kKfReverseTail + kClearsStickyFaults},
      {"model=harrier+hx&id=4", 0, kHxIdleBody + zeroConfigs + kClearsStickyFaults},
      {"model=pdp&id=0", 0, kPdpChannels + std::string(kPdpNoFaults) + kToClearStickyFaults},
      {"model=pdp&id=1", 0, kPdpOldFaulted + kToClearStickyFaults},
      {"model=pdp&id=2", -124, kPdpChannels + NoFramesText("PDP (Device ID 2)")},
      {"model=pcm&id=0", 0, kPcmCompressing + kPcmClosing},
      {"model=pcm&id=1", 0, kPcmOldFaulted + kPcmClosing},
      {"model=pcm&id=2", -124, NoFramesText("PCM (Device ID 2)")},
      {"model=wren&id=4", 0, kWrenRunning + kClearsStickyFaults},
      {"model=wren&id=5", 0, kWrenBootCalibrating + kClearsStickyFaults},
      {"model=wren+over+ribbon&id=3", 0, kWrenOnRibbonCalibrating + kClearsStickyFaults},
      {"model=candial&id=5", 0, kCandialDefaultUnits + kToClearStickyFaults},
      {"model=candial&id=6", 0, kCandialDegrees + kToClearStickyFaults},
      {"model=cantap&id=6", 0, CantapEveryFrame() + kToClearStickyFaults},
      {"model=cantap&id=7", -124, kCantapFirstFrameOnly + NoFramesText("CANtap (Device ID 7)")},
  };
  for (const Case& c : cases) {
    const std::string command =
        "curl -s --max-time 10 '" + server.url(std::string("action=selftest&") + c.query) + "'";
    const std::string expected = c.text + footer;
    json answer;
    // Asked again until it matches or the deadline passes: a listing round may not have read a
    // controller's configuration yet, and on a loaded machine the simulated devices can fall
    // behind their periods for longer than one capture.
    tessera_test::WaitUntil(
        [&] {
          answer = json::parse(tessera_test::RunCommand(command), nullptr, false);
          return !answer.is_discarded() && answer["GeneralReturn"]["Error"] == c.error &&
                 answer["SelfTest"] == expected;
        },
        kAnswerDeadline, std::chrono::milliseconds(100));
    ASSERT_FALSE(answer.is_discarded()) << c.query;
    EXPECT_EQ(answer["GeneralReturn"]["Error"], c.error) << c.query;
    EXPECT_EQ(answer["SelfTest"], expected) << c.query;
  }
}
