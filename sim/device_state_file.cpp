#include "sim/device_state_file.h"

#include <array>
#include <cstdio>
#include <set>

#include "sim/status_frames.h"

namespace quor::tessera::sim {

const char* const kStatusDeviceKeys[3] = {"state", "omit_frames", "scramble"};

namespace {

using nlohmann::json;

constexpr int32_t kAnyInt32Min = INT32_MIN;
constexpr int32_t kAnyInt32Max = INT32_MAX;

// Thrown inside the reader only; ParseStatusKeys turns it into the caller's error.
struct KeyFailure {
  StateKeyError error;
};

struct FlagName {
  const char* name;
  uint32_t bit;
};

const FlagName kMotorFaultNames[] = {
    {"hardware_failure", kFaultHardwareFailure},
    {"reverse_limit_switch", kFaultReverseLimitSwitch},
    {"forward_limit_switch", kFaultForwardLimitSwitch},
    {"under_voltage", kFaultUnderVoltage},
    {"reset_during_enable", kFaultResetDuringEnable},
    {"sensor_out_of_phase", kFaultSensorOutOfPhase},
    {"sensor_overflow", kFaultSensorOverflow},
    {"api_error", kFaultApiError},
    {"reverse_soft_limit", kFaultReverseSoftLimit},
    {"forward_soft_limit", kFaultForwardSoftLimit},
    {"remote_sensor_lost", kFaultRemoteSensorLost},
    {"stator_current_limit", kFaultStatorCurrentLimit},
    {"supply_current_limit", kFaultSupplyCurrentLimit},
    {"neutral_brake_current_limit", kFaultNeutralBrakeCurrentLimit},
    {"regen_brake_current_limit", kFaultRegenBrakeCurrentLimit},
    {"cpu_temperature", kFaultCpuTemperature},
    {"device_temperature", kFaultDeviceTemperature},
};

const FlagName kPcmFaultNames[] = {
    {"solenoid_fuse", kPcmFaultSolenoidFuse},
    {"compressor_current_high", kPcmFaultCompressorCurrentHigh},
    {"compressor_short", kPcmFaultCompressorShort},
    {"compressor_not_connected", kPcmFaultCompressorNotConnected},
};

// Reads one JSON object key by key; every key asked for is remembered, so whatever is left
// over at the end is unknown.
class StateReader {
 public:
  StateReader(const json& object, std::string path) : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) failAt(path_, "expected an object, got " + object_.dump());
  }

  void flag(const char* key, bool& field) {
    if (const json* value = find(key)) field = asBool(*value, key);
  }
  void integer(const char* key, int32_t& field, int32_t minimum, int32_t maximum) {
    if (const json* value = find(key)) field = asInteger(*value, key, minimum, maximum);
  }
  void real(const char* key, double& field, double minimum, double maximum) {
    if (const json* value = find(key)) field = asReal(*value, key, minimum, maximum);
  }
  template <size_t N>
  void flags(const char* key, std::array<bool, N>& field) {
    if (const json* value = find(key)) {
      for (size_t i = 0; i < N; ++i) field[i] = asBool(listItem(*value, key, N, i), key);
    }
  }
  template <size_t N>
  void integers(const char* key, std::array<int32_t, N>& field, int32_t minimum, int32_t maximum) {
    if (const json* value = find(key)) {
      for (size_t i = 0; i < N; ++i) {
        field[i] = asInteger(listItem(*value, key, N, i), key, minimum, maximum);
      }
    }
  }
  template <size_t N>
  void reals(const char* key, std::array<double, N>& field, double minimum, double maximum) {
    if (const json* value = find(key)) {
      for (size_t i = 0; i < N; ++i) field[i] = asReal(listItem(*value, key, N, i), key, minimum, maximum);
    }
  }
  template <size_t N>
  void named(const char* key, uint32_t& field, const FlagName (&names)[N]) {
    const json* value = find(key);
    if (value == nullptr) return;
    if (!value->is_array()) fail(key, "expected a list of names, got " + value->dump());
    field = 0;
    for (const json& item : *value) field |= bitOf(item, key, names, N);
  }
  void text(const char* key, std::string& field, size_t maximumBytes) {
    const json* value = find(key);
    if (value == nullptr) return;
    if (!value->is_string()) fail(key, "expected a text, got " + value->dump());
    const std::string& text = value->get_ref<const std::string&>();
    if (text.size() > maximumBytes) {
      fail(key, "at most " + std::to_string(maximumBytes) + " bytes, got " +
                    std::to_string(text.size()));
    }
    field = text;
  }

  void rejectUnknownKeys() const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (asked_.count(it.key()) == 0) failAt(path_ + "." + it.key(), "unknown key for this family");
    }
  }

 private:
  const json* find(const char* key) {
    asked_.insert(key);
    const auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }

  [[noreturn]] static void failAt(const std::string& where, const std::string& message) {
    throw KeyFailure{{where, message}};
  }
  [[noreturn]] void fail(const char* key, const std::string& message) const {
    failAt(path_ + "." + key, message);
  }

  bool asBool(const json& value, const char* key) const {
    if (!value.is_boolean()) fail(key, "expected true or false, got " + value.dump());
    return value.get<bool>();
  }
  int32_t asInteger(const json& value, const char* key, int32_t minimum, int32_t maximum) const {
    if (!value.is_number_integer()) fail(key, "expected a whole number, got " + value.dump());
    const int64_t number = value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX
                               ? INT64_MAX
                               : value.get<int64_t>();
    if (number < minimum || number > maximum) {
      fail(key, "expected " + std::to_string(minimum) + " to " + std::to_string(maximum) +
                    ", got " + value.dump());
    }
    return static_cast<int32_t>(number);
  }
  double asReal(const json& value, const char* key, double minimum, double maximum) const {
    if (!value.is_number()) fail(key, "expected a number, got " + value.dump());
    const double number = value.get<double>();
    if (!(number >= minimum && number <= maximum)) {
      char range[96];
      std::snprintf(range, sizeof range, "expected %g to %g, got ", minimum, maximum);
      fail(key, range + value.dump());
    }
    return number;
  }
  const json& listItem(const json& value, const char* key, size_t count, size_t index) const {
    if (!value.is_array() || value.size() != count) {
      fail(key, "expected a list of " + std::to_string(count) + ", got " + value.dump());
    }
    return value[index];
  }
  uint32_t bitOf(const json& item, const char* key, const FlagName* names, size_t count) const {
    std::string known;
    for (size_t i = 0; i < count; ++i) {
      if (item.is_string() && item.get_ref<const std::string&>() == names[i].name) return names[i].bit;
      known += (i == 0 ? "" : ", ") + std::string(names[i].name);
    }
    fail(key, "unknown name " + item.dump() + " (known: " + known + ")");
  }

  const json& object_;
  const std::string path_;
  std::set<std::string> asked_;
};

void ReadMotorGeneral(StateReader& r, MotorControllerState& m) {
  r.flag("enabled", m.enabled);
  r.integer("control_mode", m.controlMode, 0, 15);
  r.real("output", m.output, -1.0, 1.0);
  r.flag("forward_limit_open", m.forwardLimitOpen);
  r.flag("reverse_limit_open", m.reverseLimitOpen);
  r.flag("limit_switch_overridden_off", m.limitSwitchOverriddenOff);
  r.named("faults", m.faults, kMotorFaultNames);
  r.named("sticky_faults", m.stickyFaults, kMotorFaultNames);
  r.flag("current_limiting", m.currentLimiting);
  r.flag("brake_in_neutral", m.brakeInNeutral);
  r.flag("output_inverted", m.outputInverted);
  r.flag("voltage_compensation", m.voltageCompensation);
  r.flag("frc_locked", m.frcLocked);
  r.integers("pid_slot_select", m.pidSlotSelect, 0, 3);
  r.integers("feedback_sensor", m.feedbackSensor, 0, 15);
  r.real("bus_voltage", m.busVoltage_V, 4.0, 16.75);
  r.real("supply_current", m.supplyCurrent_A, -327.68, 327.67);
  r.real("stator_current", m.statorCurrent_A, -327.68, 327.67);
  r.real("temperature", m.temperature_C, -2048, 2047);
  r.real("cpu_temperature", m.cpuTemperature_C, -2048, 2047);
  r.real("load", m.load, 0.0, 10.0);
}

void ReadMotorSensors(StateReader& r, MotorControllerState& m) {
  r.integer("quad_position", m.quadPosition, kAnyInt32Min, kAnyInt32Max);
  r.integer("quad_velocity", m.quadVelocity, kAnyInt32Min, kAnyInt32Max);
  r.integer("quad_index_edges", m.quadIndexEdges, 0, 3);
  r.flag("quad_pin_a", m.quadPinA);
  r.flag("quad_pin_b", m.quadPinB);
  r.flag("quad_pin_index", m.quadPinIndex);
  r.integer("analog_position", m.analogPosition, kAnyInt32Min, kAnyInt32Max);
  r.integer("analog_velocity", m.analogVelocity, kAnyInt32Min, kAnyInt32Max);
  r.integer("pulse_position", m.pulsePosition, kAnyInt32Min, kAnyInt32Max);
  r.integer("pulse_velocity", m.pulseVelocity, kAnyInt32Min, kAnyInt32Max);
  r.real("pulse_period_us", m.pulsePeriod_us, 0.0, 134217.0);
  r.integer("integrated_position", m.integratedPosition, kAnyInt32Min, kAnyInt32Max);
  r.integer("integrated_velocity", m.integratedVelocity, kAnyInt32Min, kAnyInt32Max);
  r.integer("absolute_position", m.absolutePosition, -1024, 2047);
  r.flag("absolute_signed", m.absoluteSigned);
  r.integer("power_on_behaviour", m.powerOnBehaviour, 0, 3);
  r.flag("auto_zero_on_index", m.autoZeroOnIndex);
  r.flag("auto_zero_on_forward_limit", m.autoZeroOnForwardLimit);
  r.flag("auto_zero_on_reverse_limit", m.autoZeroOnReverseLimit);
}

void ReadMotorLoopsAndProfile(StateReader& r, MotorControllerState& m) {
  r.integers("pid_error", m.pidError, kAnyInt32Min, kAnyInt32Max);
  r.integers("pid_integral", m.pidIntegral, kAnyInt32Min, kAnyInt32Max);
  r.integers("pid_derivative", m.pidDerivative, kAnyInt32Min, kAnyInt32Max);
  r.flag("pid_frame_scaled", m.pidFrameScaled);
  r.integer("profile_output", m.profileOutput, 0, 3);
  r.integer("profile_point_count", m.profilePointCount, 0, 255);
  r.integer("profile_point_duration_ms", m.profilePointDuration_ms, 0, 255);
  r.flag("profile_is_last", m.profileIsLast);
  r.flag("profile_has_underrun", m.profileHasUnderrun);
  r.flag("profile_underrun_now", m.profileUnderrunNow);
  r.flag("profile_buffer_full", m.profileBufferFull);
  r.flag("profile_holds_both", m.profileHoldsBoth);
  r.integers("profile_pid_slot", m.profilePidSlot, 0, 3);
  r.integers("target_position", m.targetPosition, kAnyInt32Min, kAnyInt32Max);
  r.integers("target_velocity", m.targetVelocity, kAnyInt32Min, kAnyInt32Max);
  r.integers("target_feed_forward", m.targetFeedForward, -128, 127);
  r.flags("target_valid", m.targetValid);
  r.flag("port_plugged_in", m.portPluggedIn);
  r.integer("port_bitrate_kbps", m.portBitrate_kbps, 0, 6553);
  r.integer("port_disconnects", m.portDisconnects, 0, 255);
}

void ReadPdp(StateReader& r, PdpState& p) {
  r.reals("channel_currents", p.channelCurrent_A, 0.0, 127.875);
  r.real("battery_voltage", p.batteryVoltage_V, 0.0, 16.75);
  r.real("temperature", p.temperature_C, -67.0, 195.0);
  r.integer("fault_bits", p.faultBits, 0, 0xFFFF);
  r.integer("sticky_fault_bits", p.stickyFaultBits, 0, 0xFFFF);
  r.flag("hardware_fault", p.hardwareFault);
  r.flag("temperature_fault", p.temperatureFault);
  r.flag("battery_fault", p.batteryFault);
  r.flag("sticky_temperature_fault", p.stickyTemperatureFault);
  r.flag("sticky_battery_fault", p.stickyBatteryFault);
}

void ReadPcm(StateReader& r, PcmState& p) {
  r.integer("solenoids", p.solenoids, 0, 0xFF);
  r.integer("solenoid_faults", p.solenoidFaults, 0, 0xFF);
  r.flag("enabled", p.enabled);
  r.flag("compressor_on", p.compressorOn);
  r.flag("closed_loop", p.closedLoop);
  r.flag("pressure_full", p.pressureFull);
  r.flag("hardware_fault", p.hardwareFault);
  r.named("faults", p.faults, kPcmFaultNames);
  r.named("sticky_faults", p.stickyFaults, kPcmFaultNames);
  r.real("battery_voltage", p.batteryVoltage_V, 0.0, 16.75);
  r.real("solenoid_voltage", p.solenoidVoltage_V, 0.0, 31.96);
  r.real("compressor_current", p.compressorCurrent_A, 0.0, 31.96);
}

void ReadImu(StateReader& r, ImuState& i) {
  r.integer("state_code", i.stateCode, 0, 31);
  r.integer("calibration_mode", i.calibrationMode, 0, 15);
  r.integer("calibration_error", i.calibrationError, -8, 7);
  r.flag("boot_calibrating", i.bootCalibrating);
  r.flag("no_motion_biasing_enabled", i.noMotionBiasingEnabled);
  r.flag("frc_locked", i.frcLocked);
  r.real("temperature", i.temperature_C, 0.0, 255.99);
  r.integer("up_time_s", i.upTime_s, 0, 255);
  r.integer("no_motion_bias_count", i.noMotionBiasCount, 0, 15);
  r.integer("temperature_compensation_count", i.temperatureCompensationCount, 0, 15);
  r.real("yaw", i.yaw_deg, -368640.0, 368640.0);
  r.real("pitch", i.pitch_deg, -90.0, 89.96);
  r.real("roll", i.roll_deg, -90.0, 89.96);
  r.real("compass", i.compass_deg, -23040.0, 23039.96);
  r.real("magnetic_strength", i.magneticStrength_uT, -4915.2, 4915.05);
  r.real("fused_heading", i.fusedHeading_deg, -23040.0, 23039.96);
  r.integer("fusion_flags", i.fusionFlags, 0, 15);
  r.integer("good_criteria_count", i.goodCriteriaCount, 0, 15);
  r.integer("fusion_faults", i.fusionFaults, 0, 255);
  r.integer("fusion_sticky_faults", i.fusionStickyFaults, 0, 255);
  r.reals("quaternion", i.quaternion, -1.0, 1.0);
  r.reals("tilt", i.tilt_deg, -360.0, 360.0);
  r.reals("gyro_dps", i.gyro_dps, -1998.0, 1998.0);
  r.reals("accumulated_gyro", i.accumulatedGyro_deg, -1440.0, 1440.0);
  r.integers("magnetometer", i.magnetometer, INT16_MIN, INT16_MAX);
  r.integers("accelerometer", i.accelerometer, INT16_MIN, INT16_MAX);
}

void ReadEncoder(StateReader& r, EncoderState& e) {
  r.integer("position", e.position, kAnyInt32Min, kAnyInt32Max);
  r.integer("velocity", e.velocity, kAnyInt32Min, kAnyInt32Max);
  r.integer("absolute_position", e.absolutePosition, -2048, 4095);
  r.flag("absolute_signed", e.absoluteSigned);
  r.real("battery_voltage", e.batteryVoltage_V, 4.0, 16.75);
  r.integer("power_on_behaviour", e.powerOnBehaviour, 0, 3);
  r.integer("magnet_health", e.magnetHealth, 0, 3);
  r.flag("frc_locked", e.frcLocked);
  r.flag("robot_enabled", e.robotEnabled);
  r.text("unit", e.unit, kEncoderUnitBytes);
  r.real("coefficient", e.coefficient, 0.0, 4.0);
  r.integer("velocity_time_base", e.velocityTimeBase, 0, 3);
}

void ReadIoBoard(StateReader& r, IoBoardState& io) {
  r.reals("led_duty", io.ledDuty_percent, 0.0, 100.0);
  r.flag("zero_on_index_polarity", io.zeroOnIndexPolarity);
  r.flag("zero_on_index_enabled", io.zeroOnIndexEnabled);
  r.real("battery_voltage", io.batteryVoltage_V, 4.0, 29.5);
  r.integer("quad_position", io.quadPosition, kAnyInt32Min, kAnyInt32Max);
  r.integer("quad_velocity", io.quadVelocity, kAnyInt32Min, kAnyInt32Max);
  r.integer("pins", io.pins, 0, 0x7FF);
  r.flag("frc_locked", io.frcLocked);
  r.integers("pwm_position", io.pwmPosition, kAnyInt32Min, kAnyInt32Max);
  r.integers("pwm_velocity", io.pwmVelocity, kAnyInt32Min, kAnyInt32Max);
  r.reals("pwm_period_us", io.pwmPeriod_us, 0.0, 134217.0);
}

void ReadState(const json& object, DeviceFamily family, DeviceState& state) {
  StateReader reader(object, "state");
  switch (family) {
    case DeviceFamily::kKestrelKx:
    case DeviceFamily::kKestrelKf:
    case DeviceFamily::kHarrierHx:
      ReadMotorGeneral(reader, state.motor);
      ReadMotorSensors(reader, state.motor);
      ReadMotorLoopsAndProfile(reader, state.motor);
      break;
    case DeviceFamily::kPdp:
      ReadPdp(reader, state.pdp);
      break;
    case DeviceFamily::kPcm:
      ReadPcm(reader, state.pcm);
      break;
    case DeviceFamily::kWren:
      ReadImu(reader, state.imu);
      break;
    case DeviceFamily::kCandial:
      ReadEncoder(reader, state.encoder);
      break;
    case DeviceFamily::kCantap:
      ReadIoBoard(reader, state.ioBoard);
      break;
  }
  reader.rejectUnknownKeys();
}

std::string FamilyApis(DeviceFamily family) {
  const StatusFrameTable table = StatusFramesOf(family);
  std::string list;
  for (size_t i = 0; i < table.count; ++i) {
    char api[8];
    std::snprintf(api, sizeof api, "0x%04X", table.frames[i].api);
    list += (i == 0 ? "" : ", ") + std::string(api);
  }
  return list;
}

// "0x1480" (any case) naming one of the family's frames, or "all".
void ReadOmittedFrames(const json& value, DeviceFamily family, BroadcastOptions& options) {
  const auto fail = [](const std::string& message) -> void {
    throw KeyFailure{{"omit_frames", message}};
  };
  if (!value.is_array()) fail("expected a list such as [\"0x1480\"] or [\"all\"], got " + value.dump());
  for (const json& item : value) {
    const std::string text = item.is_string() ? item.get<std::string>() : std::string();
    if (text == "all") {
      options.omitAll = true;
      continue;
    }
    unsigned api = 0;
    int consumed = 0;
    const bool hex = std::sscanf(text.c_str(), "0x%4x%n", &api, &consumed) == 1 ||
                     std::sscanf(text.c_str(), "0X%4x%n", &api, &consumed) == 1;
    if (!hex || static_cast<size_t>(consumed) != text.size() ||
        FindStatusFrame(family, static_cast<uint16_t>(api)) == nullptr) {
      fail("not a status frame of this family: " + item.dump() + " (its frames: " +
           FamilyApis(family) + ", or \"all\")");
    }
    options.omittedApis.push_back(static_cast<uint16_t>(api));
  }
}

ScramblePolicy ReadScramble(const json& value) {
  const std::string text = value.is_string() ? value.get<std::string>() : std::string();
  if (text == "vary") return ScramblePolicy::kVary;
  if (text == "plain") return ScramblePolicy::kPlain;
  if (text == "short") return ScramblePolicy::kShort;
  if (text == "long") return ScramblePolicy::kLong;
  throw KeyFailure{{"scramble", "expected \"vary\", \"plain\", \"short\" or \"long\", got " +
                                    value.dump()}};
}

}  // namespace

bool ParseStatusKeys(const json& entry, DeviceAttributes* device, StateKeyError* error) {
  try {
    if (entry.contains("state")) ReadState(entry["state"], device->family, device->state);
    if (entry.contains("omit_frames")) {
      ReadOmittedFrames(entry["omit_frames"], device->family, device->state.broadcast);
    }
    if (entry.contains("scramble")) device->state.broadcast.scramble = ReadScramble(entry["scramble"]);
  } catch (const KeyFailure& failure) {
    if (error != nullptr) *error = failure.error;
    return false;
  }
  return true;
}

}  // namespace quor::tessera::sim
