#include "core/string_util.h"

#include <gtest/gtest.h>

using namespace quor::tessera::string_util;

TEST(StringUtil, ToLowerChangesOnlyAsciiLetters) {
  EXPECT_EQ(toLower("Kestrel KX-3 \xC3\x84"), "kestrel kx-3 \xC3\x84");
  EXPECT_EQ(toLower(""), "");
}

TEST(StringUtil, StrcmpNocase) {
  EXPECT_EQ(strcmp_nocase("Kestrel", "kESTREL"), 0);
  EXPECT_NE(strcmp_nocase("Kestrel", "Kestrel "), 0);
  EXPECT_NE(strcmp_nocase("", "a"), 0);
  EXPECT_NE(strcmp_nocase(nullptr, "a"), 0);
}

TEST(StringUtil, SafeStrlenStopsAtMaximum) {
  const char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(safe_strlen(unterminated, 4), 4u);
  EXPECT_EQ(safe_strlen("ab\0cd", 10), 2u);
  EXPECT_EQ(safe_strlen(nullptr, 10), 0u);
}

TEST(StringUtil, SafeMemcpyNeverExceedsCapacity) {
  char dest[4] = {};
  const char src[] = "abcdefgh";
  EXPECT_EQ(safe_memcpy_(dest, src, 8, 3), 3u);
  EXPECT_EQ(std::string(dest, 4), std::string("abc\0", 4));
}

TEST(StringUtil, SplitKeepsEmptyPieces) {
  EXPECT_EQ(string_split("a=b", '='), (std::deque<std::string>{"a", "b"}));
  EXPECT_EQ(string_split("a==b", '=').size(), 3u);
  EXPECT_EQ(string_split("a=", '=').size(), 2u);
  EXPECT_EQ(string_split("", '=').size(), 1u);
}
