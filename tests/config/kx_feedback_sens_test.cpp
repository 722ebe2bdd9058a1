#include "config/kx_feedback_sens.h"

#include <gtest/gtest.h>

using quor::tessera::diagnostics::KxFeedbackSens;

TEST(KxFeedbackSens, KnownCodes) {
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(0), "Quad/MagEnc(rel)");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(1), "Integrated Sensor");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(2), "Analog Pot/Enc");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(4), "Tach");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(8), "PulseWidthPos/MagEnc(abs)");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(9), "SensorSum");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(10), "SensorDiff");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(11), "RemoteSensor0");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(12), "RemoteSensor1");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(14), "No Sensor Selected");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(15), "Virtual");
  EXPECT_EQ(KxFeedbackSens(8).Description(), "PulseWidthPos/MagEnc(abs)");
}

TEST(KxFeedbackSens, UnknownCodesPrintTheNumber) {
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(3), "Type:3");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(13), "Type:13");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(-1), "Type:-1");
  EXPECT_EQ(KxFeedbackSens::GetFeedBackDescription(16), "Type:16");
}
