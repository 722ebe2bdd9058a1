#pragma once
// The simulated motor behind a motor controller, and the firmware rules that decide whether it
// is driven. Time is whatever the caller passes in (microseconds), so tests run it on a clock
// of their own; nothing here is random.
//
// Invariants:
// - The motor is driven at time t only when a control frame arrived within kControlTimeout_us
//   before t and the device is enabled at t: by the enable frame within kEnableTimeout_us, or
//   because its state says a robot controller enables it. Otherwise the output is neutral (0).
// - While not moving, the model leaves the state alone, so a state set by a test or a device
//   file is reported exactly as set. It starts moving when it is first driven, from the state's
//   sensor values, and stops (velocity 0, currents 0) once undriven and at rest.
// - Percent output (mode 0) and velocity (mode 2) drive the motor; demand 1, when the command
//   marks it an arbitrary feed-forward, adds to the output in both. Other modes drive nothing.
// - Physics advance in fixed 1 ms steps: velocity follows the output in first order (time
//   constant and final speed shortened by the load), position integrates velocity, and the
//   stator current is the stall current times (output - speed / free speed).
#include <cstdint>

#include "sim/control_frame.h"
#include "sim/device_attributes.h"

namespace quor::tessera::sim {

struct MotorParameters {
  double freeSpeed;        // sensor units per 100 ms at full output, without load
  double timeConstant_ms;  // without load
  double stallCurrent_A;
};

MotorParameters MotorParametersOf(DeviceFamily family);

class MotorModel {
 public:
  static constexpr uint64_t kControlTimeout_us = 100000;
  static constexpr uint64_t kEnableTimeout_us = 100000;
  static constexpr uint64_t kStep_us = 1000;

  explicit MotorModel(DeviceFamily family);

  // Power-up: forgets every command and the enable, stops moving.
  void reset();
  // Each moves the state on to `now_us` under the old command, then takes the new one.
  void onEnableFrame(MotorControllerState& state, bool enable, uint64_t now_us);
  void onControl(MotorControllerState& state, const ControlCommand& command, uint64_t now_us);
  // Moves the state on to `now_us`.
  void advance(MotorControllerState& state, uint64_t now_us);

 private:
  bool enabledAt(const MotorControllerState& state, uint64_t t_us) const;
  bool drivenAt(const MotorControllerState& state, uint64_t t_us) const;
  void start(const MotorControllerState& state, uint64_t now_us);
  void step(MotorControllerState& state, uint64_t end_us);
  double feedForward() const;
  double commandedOutput(MotorControllerState& state);
  double velocityLoop(MotorControllerState& state);
  void integrate(MotorControllerState& state, double output);
  void writeSensor(MotorControllerState& state, int64_t positionStep);
  void comeToRest(MotorControllerState& state);

  MotorParameters params_;
  bool brushless_;
  bool haveCommand_ = false;
  ControlCommand command_;
  uint64_t commandAt_us_ = 0;
  bool haveEnable_ = false;
  uint64_t enableAt_us_ = 0;
  bool moving_ = false;
  uint64_t clock_us_ = 0;
  double velocity_ = 0.0;          // sensor units per 100 ms
  double positionFraction_ = 0.0;  // below one sensor unit, not yet reported
  double integral_ = 0.0;
  double lastError_ = 0.0;
};

}  // namespace quor::tessera::sim
