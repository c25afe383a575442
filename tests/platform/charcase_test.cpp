#include <gtest/gtest.h>

#include <cstring>

#include "platform/qx_charcase.h"

TEST(CharCase, AsciiLetters) {
  for (int c = 'A'; c <= 'Z'; ++c) {
    EXPECT_EQ(PlatCharLower(uint8_t(c)), c + 32);
    EXPECT_EQ(PlatCharUpper(uint8_t(c + 32)), c);
    EXPECT_EQ(PlatCharUpper(uint8_t(c)), c);
  }
  for (int c : {int('0'), int('@'), int('['), int('`'), int('{'), int(' '), 0, 127}) {
    EXPECT_EQ(PlatCharLower(uint8_t(c)), c);
    EXPECT_EQ(PlatCharUpper(uint8_t(c)), c);
  }
}

TEST(CharCase, LatinLettersAndTheirExceptions) {
  int pairs = 0;
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c == 0xD7) continue;
    EXPECT_EQ(PlatCharLower(uint8_t(c)), c + 32) << c;
    EXPECT_EQ(PlatCharUpper(uint8_t(c + 32)), c) << c;
    ++pairs;
  }
  EXPECT_EQ(pairs, 30);
  EXPECT_EQ(PlatCharLower(0xD7), 0xD7);
  EXPECT_EQ(PlatCharUpper(0xF7), 0xF7);
  EXPECT_EQ(PlatCharUpper(0xDF), 0xDF);
  EXPECT_EQ(PlatCharLower(0xDF), 0xDF);
}

TEST(CharCase, CodePageLettersBelowLatin) {
  EXPECT_EQ(PlatCharLower(0x8A), 0x9A);
  EXPECT_EQ(PlatCharLower(0x8C), 0x9C);
  EXPECT_EQ(PlatCharLower(0x8E), 0x9E);
  EXPECT_EQ(PlatCharLower(0x9F), 0xFF);
  EXPECT_EQ(PlatCharUpper(0x9A), 0x8A);
  EXPECT_EQ(PlatCharUpper(0x9C), 0x8C);
  EXPECT_EQ(PlatCharUpper(0x9E), 0x8E);
  EXPECT_EQ(PlatCharUpper(0xFF), 0x9F);
  // Every other byte of 0x80-0xBF has no case.
  for (int c = 0x80; c < 0xC0; ++c) {
    bool letter = c == 0x8A || c == 0x8C || c == 0x8E || c == 0x9F || c == 0x9A || c == 0x9C || c == 0x9E;
    if (!letter) {
      EXPECT_EQ(PlatCharLower(uint8_t(c)), c) << c;
      EXPECT_EQ(PlatCharUpper(uint8_t(c)), c) << c;
    }
  }
}

TEST(CharCase, SameNoCaseComparesWholeTexts) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"True", "tRUE", true},      {"abc", "abd", false},          {"abc", "ab", false},
      {"", "", true},              {"\xC4\x8A", "\xE4\x9A", true},  {"\xD7", "\xF7", false},
      {"[", "{", false},           {"@", "`", false},              {"x.LNK", "x.lnk", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlatSameNoCase(c.a, std::strlen(c.a), c.b, std::strlen(c.b)), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(PlatSameNoCase(c.b, std::strlen(c.b), c.a, std::strlen(c.a)), c.same) << c.b << " / " << c.a;
  }
  // Lengths count, NUL bytes included.
  EXPECT_FALSE(PlatSameNoCase("a\0b", 3, "a\0c", 3));
  EXPECT_TRUE(PlatSameNoCase("a\0B", 3, "A\0b", 3));
}
