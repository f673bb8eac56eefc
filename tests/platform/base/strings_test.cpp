#include <gtest/gtest.h>

#include "platform/base/Strings.h"

namespace plat {
namespace {

constexpr WChar R = 0xFFFD;

TEST(Utf8, RoundTripsEveryEncodingLength) {
  // One code point of each UTF-8 length, at the edges of each range, plus an
  // embedded NUL, which must survive both ways.
  const WString text = WString(u"a\u007F\u0080\u07FF\u0800\uFFFF") + WChar(0) + u"\U00010000\U0010FFFF\U0001F600";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, std::string("a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", 12) + std::string(1, '\0') +
                      "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(utf8), text);
}

TEST(Utf8, FourByteSequencesBecomeSurrogatePairs) {
  EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80"), (WString{0xD83D, 0xDE00}));
  EXPECT_EQ(FromUtf8("x\xF4\x8F\xBF\xBFy"), (WString{u'x', 0xDBFF, 0xDFFF, u'y'}));
}

TEST(Utf8, MalformedInputBecomesOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string in;
    WString want;
  };
  const Case cases[] = {
      {"\xC0\xAF", {R, R}},                         // overlong '/', C0 is never a lead
      {"\xC1\xBF", {R, R}},                         // overlong
      {"\xE0\x80\xAF", {R, R, R}},                  // overlong three-byte
      {"\xF0\x8F\xBF\xBF", {R, R, R, R}},           // overlong four-byte
      {"\xED\xA0\x80", {R, R, R}},                  // high surrogate D800 in UTF-8
      {"\xED\xBF\xBF", {R, R, R}},                  // low surrogate DFFF in UTF-8
      {"\xED\xA0\xBD\xED\xB8\x80", {R, R, R, R, R, R}},  // an encoded pair (CESU-8)
      {"\xF4\x90\x80\x80", {R, R, R, R}},           // above U+10FFFF
      {"\xF5\x80", {R, R}},
      {"\xFE\xFF", {R, R}},
      {"\x80", {R}},                                // lone continuation
      {"a\xBF" "b", {u'a', R, u'b'}},
      {"\xE2\x82", {R}},                            // truncated at the end: one replacement
      {"\xE2\x82" "A", {R, u'A'}},                  // truncated before ASCII: the ASCII survives
      {"\xF0\x9F\x98", {R}},
      {"\xF0\x9F\x98z", {R, u'z'}},
      {"\xC3", {R}},
      {"\xC3\xC3\xA9", {R, 0xE9}},                  // a new lead ends the broken sequence
      {"\xE2\x82\xAC\xE2", {0x20AC, R}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.in));
    EXPECT_EQ(FromUtf8(c.in), c.want);
  }
}

TEST(Utf8, LoneSurrogatesInUtf16BecomeReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(ToUtf8(WString{0xD800}), r);
  EXPECT_EQ(ToUtf8(WString{0xDC00}), r);
  EXPECT_EQ(ToUtf8(WString{0xD800, u'a'}), r + "a");
  EXPECT_EQ(ToUtf8(WString{u'a', 0xDBFF}), "a" + r);
  EXPECT_EQ(ToUtf8(WString{0xDE00, 0xD83D}), r + r);  // a pair in the wrong order
  EXPECT_EQ(ToUtf8(WString{0xD83D, 0xD83D, 0xDE00}), r + "\xF0\x9F\x98\x80");
}

TEST(Utf8, NextCodePointAdvancesOverPairsAndFlagsHalves) {
  const WString text{u'a', 0xD83D, 0xDE00, 0xDC00, 0xD800};
  size_t i = 0;
  EXPECT_EQ(NextCodePoint(text, i), U'a');
  EXPECT_EQ(i, 1u);
  EXPECT_EQ(NextCodePoint(text, i), U'\U0001F600');
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(NextCodePoint(text, i), char32_t{R});
  EXPECT_EQ(i, 4u);
  EXPECT_EQ(NextCodePoint(text, i), char32_t{R});  // a high half at the very end
  EXPECT_EQ(i, 5u);
}

TEST(Utf8, AppendCodePointRejectsWhatUtf16CannotCarry) {
  WString out;
  AppendCodePoint(out, 0x10FFFF);
  AppendCodePoint(out, 0x110000);
  AppendCodePoint(out, 0xD800);
  EXPECT_EQ(out, (WString{0xDBFF, 0xDFFF, R, R}));
}

TEST(NoCase, FoldsAsciiAndLatin1Letters) {
  EXPECT_TRUE(EqualsNoCase(u"SOFTWARE\\Orlamet", u"software\\ORLAMET"));
  EXPECT_TRUE(EqualsNoCase(u"\u00C4RGER \u00DEORN \u00C9T\u00C9", u"\u00E4rger \u00FEorn \u00E9t\u00E9"));
  // The multiplication and division signs sit where a letter pair would be,
  // but are not letters.
  EXPECT_FALSE(EqualsNoCase(u"\u00D7", u"\u00F7"));
  EXPECT_FALSE(EqualsNoCase(u"abc", u"abcd"));
  EXPECT_FALSE(EqualsNoCase(u"[", u"{"));  // 0x5B and 0x7B differ by 32 but are not letters
  EXPECT_FALSE(EqualsNoCase(u"@", u"`"));
}

TEST(NoCase, OrdersByFoldedUnitsThenLength) {
  EXPECT_LT(CompareNoCase(u"apple", u"Banana"), 0);
  EXPECT_GT(CompareNoCase(u"Banana", u"apple"), 0);
  EXPECT_EQ(CompareNoCase(u"\u00C5SA", u"\u00E5sa"), 0);
  EXPECT_LT(CompareNoCase(u"abc", u"ABCD"), 0);
  EXPECT_GT(CompareNoCase(u"abcd", u"ABC"), 0);
  EXPECT_EQ(CompareNoCase(u"", u""), 0);
  EXPECT_LT(CompareNoCase(u"", u"a"), 0);
}

TEST(NoCase, StartsWith) {
  EXPECT_TRUE(StartsWithNoCase(u"\\Storage Card\\Quorel", u"\\STORAGE card\\"));
  EXPECT_TRUE(StartsWithNoCase(u"abc", u""));
  EXPECT_FALSE(StartsWithNoCase(u"\\Card", u"\\Card\\"));
  EXPECT_FALSE(StartsWithNoCase(u"ab", u"abc"));
}

TEST(JoinPath, PutsExactlyOneSeparatorBetween) {
  struct Case {
    WStringView folder, name, want;
  };
  const Case cases[] = {
      {u"\\Program Files\\Quorel", u"Quorel.exe.0409.mui", u"\\Program Files\\Quorel\\Quorel.exe.0409.mui"},
      {u"\\Program Files\\Quorel\\", u"a.mui", u"\\Program Files\\Quorel\\a.mui"},
      {u"\\Q", u"\\a.mui", u"\\Q\\a.mui"},
      {u"\\Q\\\\", u"\\\\a", u"\\Q\\a"},
      {u"\\Q", u"sub\\a", u"\\Q\\sub\\a"},
      {u"", u"windows", u"\\windows"},
      {u"\\", u"windows", u"\\windows"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.want));
    EXPECT_EQ(JoinPath(c.folder, c.name), c.want);
  }
}

}  // namespace
}  // namespace plat
