// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace nsk {
namespace {

TEST(Utf8, PrefixNeverSplitsACharacter) {
  const std::string zh = "\xE4\xB8\x8B\xE8\xBD\xBD";  // two 3-byte characters
  struct Case { std::string text; std::size_t limit; std::string want; };
  const Case cases[] = {
      {"abc", 5, "abc"},        {"abcdef", 3, "abc"},    {zh, 6, zh},
      {zh, 5, zh.substr(0, 3)}, {zh, 3, zh.substr(0, 3)}, {zh, 2, ""},
      {"a" + zh, 3, "a"},       {"\xF0\x9F\x98\x80" "x", 3, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Utf8Prefix(c.text, c.limit), c.want) << c.text << " @" << c.limit;
}

TEST(Utf8, InvalidTextIsCutAtTheByteLimit) {
  EXPECT_EQ(Utf8Prefix("\xC4\xE3\xBA\xC3", 3), "\xC4\xE3\xBA");
}

TEST(Utf8, Validity) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xE4\xB8\x8B"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut off
  EXPECT_FALSE(IsValidUtf8("\xC4\xE3\xBA\xC3"));  // GBK
}

TEST(Utf8, GbkTextFromWindowsFilesBecomesUtf8) {
  // "你好" in GBK, then a stray lead byte at the end.
  EXPECT_EQ(TextFromFile("\xC4\xE3\xBA\xC3"), "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_EQ(TextFromFile("ok\xE4\xBD\xA0"), "ok\xE4\xBD\xA0");
  EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");
}

TEST(Utf8, UpperAsciiLeavesOtherBytes) {
  EXPECT_EQ(UpperAscii("http://h/\xE4\xB8\x8B.zip"), "HTTP://H/\xE4\xB8\x8B.ZIP");
}

}  // namespace
}  // namespace nsk
