#include "config/unit_strings.h"

#include <gtest/gtest.h>

using namespace quor::tessera::core::units_util::diag;

TEST(CompileUnitString, FittingTextIsUnchanged) {
  EXPECT_EQ(CompileUnitString("rotation", 8), "rotation");
  EXPECT_EQ(CompileUnitString("Degrees", 8), "Degrees");
  EXPECT_EQ(CompileUnitString("", 8), "");
}

TEST(CompileUnitString, LongKnownNamesBecomeCodes) {
  EXPECT_EQ(CompileUnitString("rotations", 8), "______03");
  EXPECT_EQ(CompileUnitString("Rotations", 8), "______03");
  EXPECT_EQ(CompileUnitString("rotation", 4), "__02");
  EXPECT_EQ(CompileUnitString("centimeters", 8), "______17");
  EXPECT_EQ(CompileUnitString("meters", 4), "__19");
}

TEST(CompileUnitString, UnknownLongTextIsCutToWholeCharacters) {
  EXPECT_EQ(CompileUnitString("Furlongs9", 8), "Furlongs");
  EXPECT_EQ(CompileUnitString("abcdefg\xC3\xA9", 8), "abcdefg");
  EXPECT_EQ(CompileUnitString("ab\xC3\xA9xyz!", 4), "ab\xC3\xA9");
}

TEST(CompileUnitString, OtherWidthsGiveEmptyText) {
  EXPECT_EQ(CompileUnitString("deg", 6), "");
  EXPECT_EQ(DecompileUnitString("______03", 6), "");
}

TEST(DecompileUnitString, CodesOfTheWidthOnly) {
  EXPECT_EQ(DecompileUnitString("______19", 8), "meters");
  EXPECT_EQ(DecompileUnitString("__19", 8), "__19");
  EXPECT_EQ(DecompileUnitString("__01", 4), "legacy");
  EXPECT_EQ(DecompileUnitString("inches", 8), "inches");
}

TEST(UnitStringPacking, EncodeAndDecode) {
  uint32_t word0 = 1;
  uint32_t word1 = 1;
  EncodeUnitString("deg", word0, word1);
  EXPECT_EQ(word0, 0x00676564u);
  EXPECT_EQ(word1, 0u);
  EXPECT_EQ(DecodeUnitString(word0, word1), "deg");

  EncodeUnitString("", word0, word1);
  EXPECT_EQ(word0, 0u);
  EXPECT_EQ(word1, 0u);

  EncodeUnitString("______03xyz", word0, word1);  // only 8 bytes are kept
  EXPECT_EQ(DecodeUnitString(word0, word1), "______03");
  EXPECT_EQ(DecodeUnitString(0x64636261, 0x00006665), "abcdef");
}

TEST(TrimUtf8, KeepsTheValidPrefix) {
  EXPECT_EQ(trimUtf8("abc", 10), "abc");
  EXPECT_EQ(trimUtf8("ab\xE2\x82\xAC", 4), "ab");          // cut euro sign
  EXPECT_EQ(trimUtf8("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(trimUtf8("a\xC0\xAF" "b", 4), "a");             // overlong form
  EXPECT_EQ(trimUtf8("a\xED\xA0\x80", 4), "a");             // surrogate
  EXPECT_EQ(trimUtf8("a\xF4\x90\x80\x80", 5), "a");         // above U+10FFFF
}

TEST(GetVelScalar, TimeBases) {
  std::string text = "unchanged";
  EXPECT_DOUBLE_EQ(GetVelScalar(0, text), 1.0);
  EXPECT_EQ(text, "per 100ms");
  EXPECT_DOUBLE_EQ(GetVelScalar(1, text), 10.0);
  EXPECT_EQ(text, "per sec");
  EXPECT_DOUBLE_EQ(GetVelScalar(2, text), 600.0);
  EXPECT_EQ(text, "per min");
  text = "unchanged";
  EXPECT_DOUBLE_EQ(GetVelScalar(5, text), 1.0);
  EXPECT_EQ(text, "unchanged");
}
