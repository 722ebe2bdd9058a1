// Number texts, the dispatch paths that write no report, and the copy into the caller's buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>

#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "listed_frame_source.h"
#include "selftest/motor_controller_texts.h"
#include "selftest/number_format.h"

using namespace selftest_test;
using namespace quor::tessera::diagnostics;

TEST(NumberTexts, PaddedFixedPointAndItsEdges) {
  const double nan = std::nan("");
  const double inf = HUGE_VAL;
  const std::pair<std::string, std::string> cases[] = {
      {FloatToStr(1234, 1, 0), "1234"},
      {FloatToStr(5, 1, 0), "   5"},
      {FloatToStr(25, 0.5, 1), "  12.5"},
      {FloatToStr(999, 0.1, 1), "  99.9"},
      {FloatToStr(9999, 0.001, 2), "  10.00"},  // padded by the rounded value
      {FloatToStr(1, 0.000001, 6), "   0.000001"},
      {FloatToStr(1, 8, 0x10, 1, 0, 0), " 272"},
      {FloatToStr(1, 40, 0x10, 1, 0, 0), " 272"},  // the shift counts modulo 32
      {FloatToStr(0, 0, 160, 0.05, 4, 2), "  12.00"},
      {FloatToStr_Signed(-512, 0.1, 0, 1), "  -51.2"},
      {FloatToStr_Signed(1023, 100.0 / 1023, 0, 2), " 100.00"},
      {FloatToStr_Signed(-1023, 100.0 / 1023, 0, 2), " -100.00"},
      {CurrentToStr(2, 200), " < 1.73"},
      {CurrentToStr(3, 280), " < 1.73"},
      {CurrentToStr(4, 280), "    1.80"},
      {CurrentToStr(80, 300), "   10.00"},
      {CurrentToStr(0, 281), "    0.00"},
      {CurrentToStr(1, 2, 0, 300), "    0.50"},
      {Round(7.5, 2), "7.50"},
      {Round(-1.5, 2), "-1.50"},
      {Round(2.4, 0), "2"},
      {trim("   7.5"), "7.5"},
      {trim(" a b  "), "a b"},
      {trim("   "), ""},
      // Values the plain fixed-point path would print wrongly:
      {FloatToStr(0, 0, 0, 1.03258849283384, -67.8564500484966, 2), "  -67.86"},  // below zero
      {FloatToStr(0, 0, 0, 1, -0.001, 2), "   0.00"},                             // no "-0.00"
      {FloatToStr(23, 0.05, 2), "   1.15"},                // not 1.14 from binary fractions
      {FloatToStr(0xFFFFFFFF, 1000, 0), "4294967295000"},  // beyond 32 bits, no wrap
      {FloatToStr(1, 1180591620717411303424.0, 2), "1180591620717411303424.00"},  // 2^70
      {FloatToStr_Signed(INT_MIN, 1, 0, 0), "-2147483648"},
      {FloatToStr(1, nan, 2), "nan"},
      {FloatToStr(1, inf, 2), "inf"},
      {FloatToStr_Signed(-1, inf, 0, 2), "-inf"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// Which lead is driven, for every sign of the output, inversion, neutral mode and motor type
// (output 512 of 1023 on a 12 V bus is 6.01 V).
TEST(NumberTexts, MotorLeadsAndDriveDirection) {
  const std::pair<std::string, std::string> cases[] = {
      {GetMotorLeadVoltages(0, 12, false, false, false), "Motor Leads: M+/M- off"},
      {GetMotorLeadVoltages(0, 12, true, false, false), "Motor Leads (Inverted): M+/M- off"},
      {GetMotorLeadVoltages(0, 12, false, true, false), "Motor Leads: M+: 0 V    M-: 0 V"},
      {GetMotorLeadVoltages(0, 12, true, true, false),
       "Motor Leads (Inverted): M+: 0 V    M-: 0 V"},
      {GetMotorLeadVoltages(512, 12, false, true, false), "Motor Leads: M+: 6.01 V  M-: 0 V"},
      {GetMotorLeadVoltages(512, 12, true, true, false),
       "Motor Leads (Inverted): M+: 0 V  M-: 6.01V"},
      {GetMotorLeadVoltages(-512, 12, false, true, false), "Motor Leads: M+:0 V  M-: 6.01V"},
      {GetMotorLeadVoltages(-512, 12, true, true, false),
       "Motor Leads (Inverted): M+: 6.01 V  M-: 0 V"},
      {GetMotorLeadVoltages(0, 12, false, true, true),
       "Inverted: F  |  Drive Direction:counter-clockwise (positive), clockwise (negative)."},
      {GetMotorLeadVoltages(0, 12, true, true, true),
       "Inverted: T  |  Drive Direction:clockwise (positive), counter-clockwise (negative)."},
      {GetMotorLeadVoltages(512, 12, false, true, true),
       "Inverted: F  |  Drive Direction:counter-clockwise (positive)."},
      {GetMotorLeadVoltages(-512, 12, false, true, true),
       "Inverted: F  |  Drive Direction:clockwise (negative)."},
      {Get8bitArbFeedFwd(-128), "-100.00%"},
      {GetAppliedThrottleStr(1023), "100.00%"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(SelfTestCopy, CutToCapacityNulTerminatedAndOnWholeCharacters) {
  char buffer[8];
  const auto copy = [&buffer](const std::string& text, int capacity) {
    std::memset(buffer, 'x', sizeof buffer);
    CopySelfTestText(text, buffer, capacity);
    return std::string(buffer, sizeof buffer);
  };
  EXPECT_EQ(copy("abcdef", 4), std::string("abc\0xxxx", 8));
  EXPECT_EQ(copy("abcde", 6), std::string("abcde\0xx", 8));
  EXPECT_EQ(copy("abc", 1), std::string("\0xxxxxxx", 8));
  EXPECT_EQ(copy("abc", 0), "xxxxxxxx");
  EXPECT_EQ(copy("abc", -5), "xxxxxxxx");
  EXPECT_EQ(copy("ab\xE2\x82\xAC", 5), std::string("ab\0xxxxx", 8));  // "€" does not fit
  EXPECT_EQ(copy("ab\xE2\x82\xAC", 6), std::string("ab\xE2\x82\xAC\0xx", 8));
  CopySelfTestText("abc", nullptr, 4);  // no buffer: nothing written, no crash
}

TEST(SelfTestDispatch, UnknownDeviceAndUnsupportedTypeExplainThemselves) {
  ListedFrameSource source({});
  std::string text;
  EXPECT_EQ(BuildSelfTestText(nullptr, source, text), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(text,
            "\nError Code : QUOR_DI_InvalidDeviceSpec\n"
            "Can't find the selected device in our table.\n"
            "Common causes...\n"
            "-Did the RIO or Tessera Tuner just restart?\n"
            "-Was the Device ID recently changed?  If so wait five seconds and press refresh.\n" +
                Footer());
  const _Device typeFour = MakeDevice(0x0404FC07, "Gadget", "Gadget (Device ID 7)", 1, 0);
  EXPECT_EQ(BuildSelfTestText(&typeFour, source, text), QUOR_DI_FeatureNotSupported);
  EXPECT_EQ(text, "\nGadget (Device ID 7) : Error Code : QUOR_DI_FeatureNotSupported\n" + Footer());
  EXPECT_EQ(source.opens(), 0);

  std::ostringstream explanation;
  WriteSelfTestExplanation(QUOR_DI_CouldNotSendCanFrame, "PDP (Device ID 0)", explanation);
  EXPECT_EQ(explanation.str(),
            "\nPDP (Device ID 0) : Could not send any CAN frames from RIO.\n"
            "Make sure device is powered and STATUS LED is not red(blink 1Hz).\n"
            "If STATUS LED is red(blink 1Hz) then CAN is not functioning).\n"
            "Common causes...\n"
            "-Termination Resistor is not enabled in PDP or PDP is not at the end of the chain.\n"
            "-CANH(yellow) or CANL(green) is disconnected.\n");
}

// Through the engine and the real frame layer, on a bus where nothing answers.
TEST(SelfTestDispatch, EngineCutsTheTextToTheCallersCapacity) {
  QuorDeviceInterface engine;
  _Device* pdp = engine.InsertFoundDevice(0x0804FC00, 0);
  std::strcpy(pdp->descriptor.name, "PDP (Device ID 0)");
  char text[40];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(engine.selfTest(&pdp->descriptor, text, 20), QUOR_DI_NormalModeMsgNotPresent);
  EXPECT_STREQ(text, "\nPDP (Device ID 0) ");
  EXPECT_EQ(text[20], 'x');
  CANDeviceInterface1::DeviceDescriptor unknown{};
  EXPECT_EQ(engine.selfTest(&unknown, text, sizeof text), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(engine.selfTest(nullptr, nullptr, 0), QUOR_DI_InvalidDeviceSpec);
  EXPECT_EQ(CAN_GetSessionHandle(), 0u);  // closed on every path
}
