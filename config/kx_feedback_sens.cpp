#include "config/kx_feedback_sens.h"

namespace quor::tessera::diagnostics {

std::string KxFeedbackSens::GetFeedBackDescription(int32_t code) {
  switch (code) {
    case FeedbackDevice_QuadEncoder:
      return "Quad/MagEnc(rel)";
    case FeedbackDevice_IntegratedSensor:
      return "Integrated Sensor";
    case FeedbackDevice_Analog:
      return "Analog Pot/Enc";
    case FeedbackDevice_Tachometer:
      return "Tach";
    case FeedbackDevice_PulseWidthEncodedPosition:
      return "PulseWidthPos/MagEnc(abs)";
    case FeedbackDevice_SensorSum:
      return "SensorSum";
    case FeedbackDevice_SensorDifference:
      return "SensorDiff";
    case FeedbackDevice_RemoteSensor0:
      return "RemoteSensor0";
    case FeedbackDevice_RemoteSensor1:
      return "RemoteSensor1";
    case FeedbackDevice_None:
      return "No Sensor Selected";
    case FeedbackDevice_SoftwareEmulatedSensor:
      return "Virtual";
    default:
      return "Type:" + std::to_string(code);
  }
}

}  // namespace quor::tessera::diagnostics
