#pragma once
// Names of the feedback sensors a motor controller can close its loops on.
#include <cstdint>
#include <string>

namespace quor::tessera::diagnostics {

// Feedback-sensor selection codes as the controllers store them.
enum _feedbackDevice_t : int32_t {
  FeedbackDevice_QuadEncoder = 0,
  FeedbackDevice_IntegratedSensor = 1,
  FeedbackDevice_Analog = 2,
  FeedbackDevice_Tachometer = 4,
  FeedbackDevice_PulseWidthEncodedPosition = 8,
  FeedbackDevice_SensorSum = 9,
  FeedbackDevice_SensorDifference = 10,
  FeedbackDevice_RemoteSensor0 = 11,
  FeedbackDevice_RemoteSensor1 = 12,
  FeedbackDevice_None = 14,
  FeedbackDevice_SoftwareEmulatedSensor = 15,
};

class KxFeedbackSens {
 public:
  explicit KxFeedbackSens(int32_t code) : code_(code) {}
  int32_t code() const { return code_; }
  std::string Description() const { return GetFeedBackDescription(code_); }

  // The report text for a code; unknown codes give "Type:" and the code in decimal.
  static std::string GetFeedBackDescription(int32_t code);

 private:
  int32_t code_;
};

}  // namespace quor::tessera::diagnostics
