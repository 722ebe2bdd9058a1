#include <gtest/gtest.h>

#include <utility>

#include "server/config_document_limits.h"
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

namespace {

std::string nested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

// `count` members in one array: "[0,0,...]".
std::string wide(size_t count) {
  std::string text = "[";
  for (size_t i = 0; i < count; ++i) text += i == 0 ? "0" : ",0";
  return text + "]";
}

}  // namespace

// Each limit holds exactly at its value and refuses one more, before any tree is built.
TEST(UploadedJson, DocumentLimitsHoldOnBothSides) {
  using namespace quor::tessera::diagnostics;
  const std::string padded = "{\"Configs\": []}";
  // Values: the outer array, 63 arrays of 129 numbers (8,190) and one more array: 8,192.
  std::string manyValues = "[";
  for (int i = 0; i < 63; ++i) manyValues += (i ? "," : "") + wide(129);
  const std::string valuesAtLimit = manyValues + "," + wide(0) + "]";
  const std::string valuesOverLimit = manyValues + "," + wide(1) + "]";
  const struct {
    std::string text;
    bool accepted;
  } cases[] = {
      {nested(kMaxConfigDocumentDepth), true},
      {nested(kMaxConfigDocumentDepth + 1), false},
      {"[\"" + std::string(100, '[') + "\", \"\\\"[\"]", true},  // brackets inside strings are text
      {wide(kMaxConfigDocumentMembers), true},
      {wide(kMaxConfigDocumentMembers + 1), false},
      {"{" + std::string("\"k\": {},") + "\"x\": " + wide(kMaxConfigDocumentMembers + 1) + "}", false},
      {valuesAtLimit, true},
      {valuesOverLimit, false},
      {padded + std::string(kMaxConfigDocumentBytes - padded.size(), ' '), true},
      {padded + std::string(kMaxConfigDocumentBytes - padded.size() + 1, ' '), false},
      {"{ not json", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConfigDocumentOutsideLimits(c.text).empty(), c.accepted)
        << c.text.substr(0, 80) << " (" << c.text.size() << " bytes)";
  }
}
