// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/crypt.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace nsk {
namespace {

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(255 - i);
  return s;
}

// Worked out by hand from the key 9306 (0x245A): 'a' ^ 0x24 = 0x45; the key becomes
// ((9306 + 0x45) * 43186 + 13877) mod 65536 = 0x04C3, so 'b' ^ 0x04 = 0x66; then 0xB4B7,
// so 'c' ^ 0xB4 = 0xD7.
TEST(Crypt, StoredTextsOfKnownPasswords) {
  const struct {
    std::string password;
    std::string stored;
  } cases[] = {
      {"", "*%g#"},
      {"a", "*%g#45"},
      {"b", "*%g#46"},
      {"ab", "*%g#4566"},
      {"abc", "*%g#4566D7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodePassword(c.password), c.stored) << c.password;
    EXPECT_EQ(DecodePassword(c.stored), c.password) << c.stored;
  }
}

TEST(Crypt, EveryPasswordComesBackAndTakesTwoDigitsPerByte) {
  const std::vector<std::string> passwords = {
      "",
      "secret",
      "\xff",
      std::string("\0\0\0", 3),
      "\xd6\xd0\xce\xc4\xc3\xdc\xc2\xeb",  // GBK double-byte characters
      "中文密码",
      AllBytes(),
      std::string(300, 'x'),
  };
  for (const std::string& p : passwords) {
    const std::string stored = EncodePassword(p);
    EXPECT_EQ(stored.size(), 4 + 2 * p.size());
    EXPECT_EQ(stored.substr(0, 4), "*%g#");
    EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF", 4), std::string::npos) << stored;
    EXPECT_EQ(DecodePassword(stored), p);
  }
}

TEST(Crypt, UnscrambleReversesScrambleForAnyStartKey) {
  for (const std::uint16_t key : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{9306},
                                  std::uint16_t{0xFFFF}}) {
    const std::string scrambled = ScrambleText(AllBytes(), key);
    EXPECT_EQ(scrambled.size(), 256u);
    EXPECT_NE(scrambled, AllBytes());
    EXPECT_EQ(UnscrambleText(scrambled, key), AllBytes()) << key;
  }
  EXPECT_NE(ScrambleText("password", 1), ScrambleText("password", 2));
}

TEST(Crypt, SharedPrefixGivesSharedStoredPrefix) {
  const std::string a = EncodePassword("secret1");
  const std::string b = EncodePassword("secret2");
  EXPECT_EQ(a.substr(0, 16), b.substr(0, 16));
  EXPECT_NE(a.substr(16), b.substr(16));
}

TEST(Crypt, HexEncodeAndDecode) {
  EXPECT_EQ(HexEncode(""), "");
  EXPECT_EQ(HexEncode(std::string("\x0a\xff\x00\x10", 4)), "0AFF0010");
  const struct {
    const char* text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"0AFF", "\x0a\xff"},
      {"0aFf", "\x0a\xff"},
      {"0AF", "\x0a"},          // odd last digit ignored
      {"G10A", "\x0a"},         // bad pair skipped, the next still decodes
      {"0AG1FF", "\x0a\xff"},
      {"A0B", "\xa0"},
      {"1", ""},
      {" 1+1-1", ""},           // only two hexadecimal digits make a byte
      {"0G", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HexDecode(c.text), c.bytes) << c.text;
}

TEST(Crypt, DecodeOfTextsThatAreNotCleanStoredForms) {
  const struct {
    const char* stored;
    std::string password;
  } cases[] = {
      {"secret", "secret"},            // no marker: plain text
      {"*%g", "*%g"},                  // too short for the marker
      {"*%G#45", "*%G#45"},            // the marker is case-sensitive
      {" *%g#45", " *%g#45"},
      {"*%g#", ""},
      {"*%g#45667", "ab"},             // odd digit dropped
      {"*%g#45G1D7", "a\xd3"},         // 'G1' dropped: shorter, and wrong from there on
      {"*%g#4566D7", "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodePassword(c.stored), c.password) << c.stored;
}

}  // namespace
}  // namespace nsk
