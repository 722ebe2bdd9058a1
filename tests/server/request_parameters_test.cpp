#include <gtest/gtest.h>

#include <utility>

#include "server/json_nesting.h"
#include "server/request_parameters.h"

using namespace quor::tessera::utility;

TEST(UrlDecode, PlusPercentAndShortEscapes) {
  EXPECT_EQ(urldecode("%4a%4B+x%2"), "JK x%2");
  EXPECT_EQ(urldecode("a%"), "a%");
  EXPECT_EQ(urldecode("%zz"), std::string(1, '\0'));  // non-hex digits count as 0
  EXPECT_EQ(urldecode("My%20Arm"), "My Arm");
}

TEST(ParameterString, GetKeepsTheCaseOfNewNameOnly) {
  EXPECT_EQ(GetParameterString("action=SetName&newname=My%20Arm&model=Kestrel+KX&id=3"),
            "action=setname&newname=My Arm&model=kestrel kx&id=3");
  // The key itself is matched case-sensitively: NewName= is lower-cased like anything else.
  EXPECT_EQ(GetParameterString("action=setname&NewName=Big"), "action=setname&newname=big");
  // newname as the last parameter keeps its case to the end of the text.
  EXPECT_EQ(GetParameterString("MODEL=X&newname=AbC"), "model=x&newname=AbC");
}

TEST(ParameterString, PostIsAlwaysLowerCased) {
  EXPECT_EQ(PostParameterString("action=SetName&newname=My%20Arm"), "action=setname&newname=my arm");
}

TEST(ParameterString, QueryOfTargetIgnoresThePathAndExtraQuestionMarks) {
  EXPECT_EQ(QueryOfTarget("/?a=b"), "a=b");
  EXPECT_EQ(QueryOfTarget("/path?a=b?c=d"), "a=b");
  EXPECT_EQ(QueryOfTarget("/noquery"), "");
}

TEST(ParameterMap, PiecesNeedExactlyOneEqualsSign) {
  const auto map = ParseParameterString("action=blink&broken&a=b=c&id=1&id=2&empty=");
  EXPECT_EQ(map.at("action"), "blink");
  EXPECT_EQ(map.at("id"), "2");  // later duplicates win
  EXPECT_EQ(map.count("broken"), 0u);
  EXPECT_EQ(map.count("a"), 0u);
  EXPECT_EQ(map.at("empty"), "");
}

TEST(Lookups, BoolAcceptsOnlyTheWords) {
  const ParameterMap map{{"t", "true"}, {"one", "1"}, {"f", "false"}};
  EXPECT_TRUE(LookupBoolValue(map, "t", false));
  EXPECT_FALSE(LookupBoolValue(map, "one", true));
  EXPECT_FALSE(LookupBoolValue(map, "f", true));
  EXPECT_TRUE(LookupBoolValue(map, "absent", true));
}

TEST(Lookups, NumbersStopAtTheFirstCharacterThatDoesNotFit) {
  const ParameterMap map{{"n", "12abc"}, {"bad", "abc"}, {"neg", " -7"}, {"d", "2.5x"}};
  EXPECT_EQ(LookupIntValue(map, "n", 5), 12);
  EXPECT_EQ(LookupIntValue(map, "bad", 5), 0);  // unreadable gives 0, not the default
  EXPECT_EQ(LookupIntValue(map, "neg", 5), -7);
  EXPECT_EQ(LookupIntValue(map, "absent", 5), 5);
  EXPECT_DOUBLE_EQ(LookupDoubleValue(map, "d", 1.0), 2.5);
  EXPECT_DOUBLE_EQ(LookupDoubleValue(map, "bad", 1.0), 0.0);
}

TEST(Lookups, DecimalReadersOfTheDispatcher) {
  EXPECT_EQ(ReadSignedDecimal("-3"), -3);
  EXPECT_EQ(ReadSignedDecimal(""), 0);
  EXPECT_EQ(ReadSignedDecimal("abc"), 0);
  EXPECT_EQ(ReadUnsignedDecimal("42"), 42u);
  EXPECT_EQ(ReadUnsignedDecimal("x"), 0u);
}

// Out-of-range and negative numbers must stay out of range: reading them as 0 would address
// device 0 or renumber a device to 0.
TEST(Lookups, OutOfRangeNumbersNeverReadAsZero) {
  EXPECT_EQ(ReadSignedDecimal("99999999999"), 2147483647);
  EXPECT_EQ(ReadSignedDecimal("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(ReadUnsignedDecimal("-1"), 4294967295u);
  EXPECT_EQ(ReadUnsignedDecimal("99999999999"), 4294967295u);
  EXPECT_EQ(LookupIntValue({{"n", "99999999999"}}, "n", 5), 2147483647);
}

TEST(UploadedJson, NestingDepthCountsBracketsOutsideStrings) {
  using quor::tessera::diagnostics::JsonNestingDepth;
  const std::pair<const char*, size_t> cases[] = {
      {"5", 0}, {"[]", 1}, {"{\"a\": [1, {\"b\": []}]}", 4}, {"[\"[[[\", \"\\\"[\"]", 1},
      {"]]][", 1}, {"[[][[]]]", 3}};
  for (const auto& [text, depth] : cases) EXPECT_EQ(JsonNestingDepth(text), depth) << text;
}
