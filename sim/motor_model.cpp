#include "sim/motor_model.h"

#include <algorithm>
#include <cmath>

namespace quor::tessera::sim {
namespace {

constexpr uint8_t kModePercentOutput = 0;
constexpr uint8_t kModeVelocity = 2;
constexpr double kFullScaleDemand = 1023.0;
constexpr double kStep_ms = 1.0;
constexpr double kMsPer100ms = 100.0;
constexpr double kRestVelocity = 0.5;  // below this, an undriven motor has stopped
constexpr int32_t kIntegratedUnitsPerRotation = 2048;
constexpr int32_t kHalfRotation = kIntegratedUnitsPerRotation / 2;
// Velocity loop, on output as a share of full scale per unit of error over the free speed:
// feed-forward 1, proportional 3, integral 0.1 per millisecond.
constexpr double kVelocityKp = 3.0;
constexpr double kVelocityKi = 0.1;

// A 1024-count encoder on a 4800 rpm brushed motor; a 2048-unit integrated sensor on a 6000 rpm
// brushless one.
constexpr MotorParameters kBrushed{8192.0, 50.0, 130.0};
constexpr MotorParameters kBrushless{20480.0, 40.0, 250.0};

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

MotorParameters MotorParametersOf(DeviceFamily family) {
  return family == DeviceFamily::kKestrelKf ? kBrushless : kBrushed;
}

MotorModel::MotorModel(DeviceFamily family)
    : params_(MotorParametersOf(family)), brushless_(family == DeviceFamily::kKestrelKf) {}

void MotorModel::reset() {
  haveCommand_ = false;
  haveEnable_ = false;
  moving_ = false;
}

void MotorModel::onEnableFrame(MotorControllerState& state, bool enable, uint64_t now_us) {
  advance(state, now_us);
  haveEnable_ = enable;
  enableAt_us_ = now_us;
  advance(state, now_us);
}

void MotorModel::onControl(MotorControllerState& state, const ControlCommand& command,
                           uint64_t now_us) {
  advance(state, now_us);
  if (!haveCommand_ || command.controlMode != command_.controlMode) {
    integral_ = 0.0;
    lastError_ = 0.0;
  }
  haveCommand_ = true;
  command_ = command;
  commandAt_us_ = now_us;
  advance(state, now_us);
}

bool MotorModel::enabledAt(const MotorControllerState& state, uint64_t t_us) const {
  return state.enabled || (haveEnable_ && t_us - enableAt_us_ <= kEnableTimeout_us);
}

bool MotorModel::drivenAt(const MotorControllerState& state, uint64_t t_us) const {
  return haveCommand_ && t_us - commandAt_us_ <= kControlTimeout_us && enabledAt(state, t_us);
}

void MotorModel::advance(MotorControllerState& state, uint64_t now_us) {
  state.enabledByFrames = haveEnable_ && now_us - enableAt_us_ <= kEnableTimeout_us;
  if (!moving_) {
    if (!drivenAt(state, now_us)) return;
    start(state, now_us);
  }
  while (moving_ && clock_us_ + kStep_us <= now_us) {
    clock_us_ += kStep_us;
    step(state, clock_us_);
  }
}

void MotorModel::start(const MotorControllerState& state, uint64_t now_us) {
  moving_ = true;
  clock_us_ = now_us;
  velocity_ = brushless_ ? state.integratedVelocity : state.quadVelocity;
  positionFraction_ = 0.0;
}

// The output at the end of a step follows the command as it stands at that moment.
void MotorModel::step(MotorControllerState& state, uint64_t end_us) {
  const bool driven = drivenAt(state, end_us);
  const double output = driven ? commandedOutput(state) : 0.0;
  if (driven) {
    state.controlMode = command_.controlMode;
    state.outputInverted = command_.invertDirection;
    state.voltageCompensation = command_.voltageCompensation;
    state.pidSlotSelect = {command_.profileSlot0, command_.profileSlot1};
  } else {
    state.targetValid[0] = false;
  }
  state.output = output;
  integrate(state, output);
  if (!driven && std::fabs(velocity_) < kRestVelocity) comeToRest(state);
}

// Demand 1 as an arbitrary feed-forward adds to the output, full scale ±1023 as demand 0's.
double MotorModel::feedForward() const {
  return command_.demand1IsFeedForward ? command_.demand1 / kFullScaleDemand : 0.0;
}

double MotorModel::commandedOutput(MotorControllerState& state) {
  switch (command_.controlMode) {
    case kModePercentOutput:
      return std::clamp(command_.demand0 / kFullScaleDemand + feedForward(), -1.0, 1.0);
    case kModeVelocity:
      return velocityLoop(state);
    default:
      return 0.0;  // modes this motor does not model drive nothing
  }
}

// Feed-forward plus proportional and integral terms; the integral stops growing while the
// output is saturated, so it does not wind up.
double MotorModel::velocityLoop(MotorControllerState& state) {
  const double target = command_.demand0;
  const double error = target - velocity_;
  const double integral = integral_ + error;
  const double raw =
      (target + kVelocityKp * error + kVelocityKi * integral) / params_.freeSpeed + feedForward();
  const double output = std::clamp(raw, -1.0, 1.0);
  if (output == raw) integral_ = integral;
  state.pidError[0] = ClampToInt32(std::llround(error));
  state.pidIntegral[0] = ClampToInt32(std::llround(integral_));
  state.pidDerivative[0] = ClampToInt32(std::llround(error - lastError_));
  lastError_ = error;
  state.targetVelocity[0] = command_.demand0;
  state.targetPosition[0] = brushless_ ? state.integratedPosition : state.quadPosition;
  state.targetValid[0] = true;
  return output;
}

// Exact solution of dv/dt = (output * free speed - v * (1 + load)) / time constant over one step.
void MotorModel::integrate(MotorControllerState& state, double output) {
  const double loadFactor = 1.0 + std::max(state.load, 0.0);
  const double rate = loadFactor / params_.timeConstant_ms;
  const double finalVelocity = output * params_.freeSpeed / loadFactor;
  const double decay = std::exp(-rate * kStep_ms);
  const double travelled =
      (finalVelocity * kStep_ms + (velocity_ - finalVelocity) * (1.0 - decay) / rate) /
      kMsPer100ms;
  velocity_ = finalVelocity + (velocity_ - finalVelocity) * decay;
  const double position = positionFraction_ + travelled;
  const double whole = std::floor(position);
  positionFraction_ = position - whole;
  writeSensor(state, static_cast<int64_t>(whole));
  const double stator = params_.stallCurrent_A * (output - velocity_ / params_.freeSpeed);
  state.statorCurrent_A = stator;
  state.supplyCurrent_A = brushless_ ? stator * output : std::fabs(stator * output);
}

void MotorModel::writeSensor(MotorControllerState& state, int64_t positionStep) {
  const auto velocity = ClampToInt32(std::llround(velocity_));
  if (!brushless_) {
    state.quadPosition = ClampToInt32(state.quadPosition + positionStep);
    state.quadVelocity = velocity;
    return;
  }
  state.integratedPosition = ClampToInt32(state.integratedPosition + positionStep);
  state.integratedVelocity = velocity;
  int32_t absolute = state.integratedPosition % kIntegratedUnitsPerRotation;
  if (absolute < 0) absolute += kIntegratedUnitsPerRotation;
  if (state.absoluteSigned && absolute >= kHalfRotation) absolute -= kIntegratedUnitsPerRotation;
  state.absolutePosition = absolute;
}

void MotorModel::comeToRest(MotorControllerState& state) {
  velocity_ = 0.0;
  writeSensor(state, 0);
  state.statorCurrent_A = 0.0;
  state.supplyCurrent_A = 0.0;
  moving_ = false;
}

}  // namespace quor::tessera::sim
