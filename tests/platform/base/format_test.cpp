#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/base/Format.h"

namespace plat {
namespace {

struct Case {
  WString got;
  WStringView want;
};

void Check(const std::initializer_list<Case>& cases) {
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("row " + std::to_string(row++) + ": " + ToUtf8(c.want));
    EXPECT_EQ(ToUtf8(c.got), ToUtf8(c.want));
  }
}

enum Colour { kRed = 2 };
enum class Small : int8_t { kMinus = -1 };

// What the device's wide printf prints for these formats.
TEST(FormatW, IntegersMatchTheDevicePrintf) {
  Check({
      {FormatW(u"%02d:%02d", 5, 7), u"05:07"},
      {FormatW(u"%02d:%02d", 123, 0), u"123:00"},
      {FormatW(u"%08X", 0xBEEFu), u"0000BEEF"},
      {FormatW(u"%02x%02x", 0x0A, 0xFF), u"0aff"},
      {FormatW(u"0x%04x/0x%04x", 0x409, 3), u"0x0409/0x0003"},
      {FormatW(u"%d|%i|%u", -42, -42, 42u), u"-42|-42|42"},
      {FormatW(u"%5d|%-5d|%05d", 42, 42, 42), u"   42|42   |00042"},
      {FormatW(u"%05d|%-05d|", -42, -42), u"-0042|-42  |"},
      {FormatW(u"%+d|%+d|% d|%+ d|% 05d", 5, -5, 5, 5, 5), u"+5|-5| 5|+5| 0005"},
      {FormatW(u"%+u|% x", 5u, 255), u"5|ff"},  // sign flags belong to signed conversions
      {FormatW(u"%.5d|%8.5d|%08.5d|%-8.3d|", -42, 42, 42, 7), u"-00042|   00042|   00042|007     |"},
      {FormatW(u"[%.0d][%5.0d][%.0x][%d]", 0, 0, 0, 0), u"[][     ][][0]"},
      {FormatW(u"%#x|%#X|%#o|%#x|%#o|%#.0o", 255, 255, 8, 0, 0, 0), u"0xff|0XFF|010|0|0|0"},
      {FormatW(u"%#010x|%-#8x|", 255, 255), u"0x000000ff|0xff    |"},
      {FormatW(u"%x|%X|%u|%o", -1, -1, -1, -1), u"ffffffff|FFFFFFFF|4294967295|37777777777"},
      {FormatW(u"%d|%u", INT_MIN, 0x80000000u), u"-2147483648|2147483648"},
      {FormatW(u"%d", 0xFFFFFFFFu), u"-1"},
  });
}

TEST(FormatW, LengthModifiersAndArgumentWidths) {
  Check({
      {FormatW(u"%hd|%hu|%hx|%hhd|%hhx", 70000, -1, 0x12345, 300, -1), u"4464|65535|2345|44|ff"},
      {FormatW(u"%ld|%lu|%I32d|%I32x", -5L, 7UL, 5, 255), u"-5|7|5|ff"},
      {FormatW(u"%lld|%llu|%I64d|%I64u", -1LL, ~0ULL, INT64_MIN, UINT64_MAX),
       u"-1|18446744073709551615|-9223372036854775808|18446744073709551615"},
      // A 32-bit value asked for as 64 bits is widened by its own sign.
      {FormatW(u"%llx|%I64x|%llx", -1, -1, 0xFFFFFFFFu), u"ffffffffffffffff|ffffffffffffffff|ffffffff"},
      // A 64-bit argument keeps its full value without a modifier.
      {FormatW(u"%d|%u|%x", int64_t{-3000000000}, uint64_t{5000000000}, ~uint64_t{0}),
       u"-3000000000|5000000000|ffffffffffffffff"},
      {FormatW(u"%zu|%Iu", size_t{12}, size_t{13}), u"12|13"},
      // Small types promote as in C: a negative char is a negative int.
      {FormatW(u"%x|%d|%u", static_cast<signed char>(-1), static_cast<short>(-2), static_cast<uint8_t>(200)),
       u"ffffffff|-2|200"},
      {FormatW(u"%d|%d|%x|%d|%d", true, false, u'A', kRed, Small::kMinus), u"1|0|41|2|-1"},
  });
}

TEST(FormatW, PointersAreSixteenUpperCaseDigits) {
  int x = 0;
  const WString self = FormatW(u"%p", &x);
  ASSERT_EQ(self.size(), 16u);
  EXPECT_EQ(self.find_first_not_of(u"0123456789ABCDEF"), WString::npos);
  EXPECT_EQ(std::stoull(ToUtf8(self), nullptr, 16), reinterpret_cast<uintptr_t>(&x));
  Check({
      {FormatW(u"hWnd(%p), this(%p)", reinterpret_cast<void*>(0xABC), nullptr),
       u"hWnd(0000000000000ABC), this(0000000000000000)"},
      {FormatW(u"this=\"0x%p\"", reinterpret_cast<const int*>(0x1234)), u"this=\"0x0000000000001234\""},
      {FormatW(u"%20p|%-18p|%020p", reinterpret_cast<void*>(1), reinterpret_cast<void*>(1), reinterpret_cast<void*>(1)),
       u"    0000000000000001|0000000000000001  |    0000000000000001"},
      {FormatW(u"%p", uintptr_t{0xFF}), u"00000000000000FF"},
      {FormatW(u"%p", static_cast<const char16_t*>(nullptr)), u"0000000000000000"},
  });
}

TEST(FormatW, WideAndNarrowText) {
  const char16_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  const WString ws = u"wide";
  const std::string ns = "narrow";
  Check({
      {FormatW(u"%s|%ls|%ws", u"lit", ws, WStringView(u"view")), u"lit|wide|view"},
      {FormatW(u"%S|%hs|%hS|%S", "lit", ns, std::string_view("sv"), "\xC3\xA9t\xC3\xA9"), u"lit|narrow|sv|\u00E9t\u00E9"},
      {FormatW(u"%.3s|%10s|%-10s|%5.1s|%-8.3s|", u"abcdef", u"right", u"left", u"abc", u"abcdef"),
       u"abc|     right|left      |    a|abc     |"},
      // The 0 flag pads strings and characters with zeros on the device.
      {FormatW(u"%05s|%03c", u"ab", u'x'), u"000ab|00x"},
      {FormatW(u"%s|%.3s|%8s|%S|%hs", nullWide, nullWide, nullWide, nullNarrow, nullptr),
       u"(null)|(nu|  (null)|(null)|(null)"},
      {FormatW(u"[%s][%S][%5s]", WStringView(), std::string_view(), WString()), u"[][][     ]"},
      {FormatW(u"%s", WString(u"a\0b", 3)), WStringView(u"a\0b", 3)},
      {FormatW(u"%S", "bad \xFF byte"), u"bad \uFFFD byte"},
      {FormatW(u"%S", "\xF0\x9F\x98\x80"), u"\U0001F600"},
      {FormatW(u"%6S|", "\xC3\xA9"), u"     \u00E9|"},  // width counts UTF-16 units
      {FormatW(u"[%s]%s..%s", u"vycontrol.cpp", u"CVyControl::SetName", u"Error CPR(p):x line 5\n"),
       u"[vycontrol.cpp]CVyControl::SetName..Error CPR(p):x line 5\n"},
  });
}

TEST(FormatW, NarrowPrecisionCountsBytesButNeverSplitsASequence) {
  const char* text = "a\xC3\xA9z\xF0\x9F\x98\x80";  // a é z 😀
  Check({
      {FormatW(u"%.1S", text), u"a"},
      {FormatW(u"%.2S", text), u"a"},
      {FormatW(u"%.3S", text), u"a\u00E9"},
      {FormatW(u"%.4S", text), u"a\u00E9z"},
      {FormatW(u"%.7S", text), u"a\u00E9z"},
      {FormatW(u"%.8S", text), u"a\u00E9z\U0001F600"},
      {FormatW(u"%.2S", std::string("\x80\x80\x80")), u"\uFFFD\uFFFD"},  // stray continuation bytes are not cut back
  });
}

TEST(FormatW, PrecisionNeverReadsPastIt) {
  // Neither buffer is terminated; the precision (or the array's extent) is
  // the only bound, so an over-read shows under ASan.
  const char16_t wide[3] = {u'x', u'y', u'z'};
  const char narrow[3] = {'p', 'q', 'r'};
  const char16_t* widePtr = wide;
  const char* narrowPtr = narrow;
  Check({
      {FormatW(u"%s|%S", wide, narrow), u"xyz|pqr"},
      {FormatW(u"%.3s|%.2S", widePtr, narrowPtr), u"xyz|pq"},
  });
  const char16_t terminatedEarly[8] = u"hi";
  EXPECT_EQ(FormatW(u"%s.", terminatedEarly), u"hi.");
}

TEST(FormatW, CharactersWideAndNarrow) {
  Check({
      {FormatW(u"%c%c%c", u'A', 'b', 0x3A9), u"Ab\u03A9"},
      {FormatW(u"%3c|%-3c|", u'A', u'B'), u"  A|B  |"},
      {FormatW(u"%C|%hc|%lc|%wc", 'n', 'h', u'\u00E9', u'w'), u"n|h|\u00E9|w"},
      {FormatW(u"%c|%C", static_cast<char>(0xC3), static_cast<char>(0xE9)), u"\uFFFD|\uFFFD"},  // half a UTF-8 sequence
      {FormatW(u"%c", U'\U0001F600'), u"\U0001F600"},
      {FormatW(u"%c", 0x1F600), WString{0xF600}},  // an int keeps its low 16 bits
  });
}

TEST(FormatW, StarWidthAndPrecision) {
  Check({
      {FormatW(u"%*d|%-*d|%*d|", 5, 42, 5, 42, -5, 42), u"   42|42   |42   |"},
      {FormatW(u"%.*s|%.*d|%.*d", 2, u"abc", 4, 7, -1, 7), u"ab|0007|7"},
      {FormatW(u"%*.*s|", 6, 3, u"abcdef"), u"   abc|"},
      {FormatW(u"%.*s", size_t{1}, u"xyz"), u"x"},
  });
  // A runaway width is capped instead of asking for gigabytes.
  EXPECT_EQ(FormatW(u"%*d", INT_MAX, 1).size(), 65536u);
  EXPECT_EQ(FormatW(u"%.*d", INT_MAX, 1).size(), 512u);
  EXPECT_EQ(FormatW(u"%999999999999999999999d", 1).size(), 65536u);
}

TEST(FormatW, FloatingPoint) {
  Check({
      {FormatW(u"%.2f|%f|%e|%g", 3.14159, 1.5f, 12345.678, 0.0001), u"3.14|1.500000|1.234568e+04|0.0001"},
      {FormatW(u"%8.3f|%-8.2f|%+.1f|%05.1f", 2.5, -1.0, 2.0, -2.5), u"   2.500|-1.00   |+2.0|-02.5"},
      {FormatW(u"%.3E|%G", 1e-10, 1e20), u"1.000E-10|1E+20"},
  });
  EXPECT_EQ(FormatW(u"%.600f", 1.0).size(), 2u + 512u);  // capped precision
  EXPECT_EQ(FormatW(u"%f", 1e300).size(), 308u);         // longer than the stack buffer
}

TEST(FormatW, PercentUnknownAndUnfinishedConversions) {
  Check({
      {FormatW(u"100%%"), u"100%"},
      {FormatW(u"%y|%k", 1), u"y|k"},  // an unknown conversion takes no argument
      {FormatW(u"abc%"), u"abc"},
      {FormatW(u"abc%-08"), u"abc"},
      {FormatW(u"no conversions", 1, 2), u"no conversions"},
  });
}

struct Opaque {
  int value;
};

TEST(FormatW, WrongOrMissingArgumentsPrintAQuestionMark) {
  int x = 0;
  Check({
      {FormatW(u"%s|%S", "narrow", u"wide"), u"?|?"},
      {FormatW(u"%d|%x|%u", 1.5, u"text", &x), u"?|?|?"},
      {FormatW(u"%f|%e", 3, nullptr), u"?|?"},
      {FormatW(u"%p|%p", WString(u"object"), 2.0), u"?|?"},
      {FormatW(u"%c|%C|%c", true, u'x', u"str"), u"?|?|?"},
      {FormatW(u"%s|%d", Opaque{1}, Opaque{2}), u"?|?"},
      {FormatW(u"%s|%d", 5, std::string("x")), u"?|?"},
      // A wrong argument does not shift the ones after it.
      {FormatW(u"%d %s %d", 1.5, u"ok", 7), u"? ok 7"},
      {FormatW(u"%d-%d-%s", 1), u"1-?-?"},
      {FormatW(u"%5d|%*d|%d", 2), u"    2|?|?"},
      {FormatW(u"%*d|%d", u"x", 5, 6), u"?|6"},
      {FormatW(u"%.*s|%d", 1.0, u"abc", 6), u"?|6"},
      {FormatW(u"%d", 1, 2, 3), u"1"},
  });
}

TEST(FormatWTo, CutsAtCapacityAndTerminates) {
  WChar buf[16];
  std::fill(std::begin(buf), std::end(buf), WChar{0x7777});
  EXPECT_EQ(FormatWTo(buf, 0, u"abc"), 0u);
  EXPECT_EQ(buf[0], 0x7777);  // nothing written, not even a terminator
  EXPECT_EQ(FormatWTo(nullptr, 8, u"abc"), 0u);

  EXPECT_EQ(FormatWTo(buf, 1, u"abc"), 0u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(FormatWTo(buf, 4, u"abc"), 3u);
  EXPECT_EQ(WString(buf), u"abc");
  EXPECT_EQ(FormatWTo(buf, 4, u"%s%d", u"abcdef", 12), 3u);
  EXPECT_EQ(WString(buf), u"abc");
  EXPECT_EQ(FormatWTo(buf, 5, u"%10d", 7), 4u);  // padding is cut like text
  EXPECT_EQ(WString(buf), u"    ");
  EXPECT_EQ(FormatWTo(buf, 6, u"%-4d|%d", 7, 8), 5u);
  EXPECT_EQ(WString(buf), u"7   |");
  EXPECT_EQ(buf[15], 0x7777);
}

TEST(FormatWTo, NeverSplitsASurrogatePair) {
  const WString pair = u"\U0001F600";
  WChar buf[8];
  // From a literal, a wide argument, a narrow argument and a %c: with room
  // for "ab" and one unit, the pair is dropped whole.
  EXPECT_EQ(FormatWTo(buf, 4, u"ab\U0001F600"), 2u);
  EXPECT_EQ(WString(buf), u"ab");
  EXPECT_EQ(FormatWTo(buf, 4, u"ab%s", pair), 2u);
  EXPECT_EQ(WString(buf), u"ab");
  EXPECT_EQ(FormatWTo(buf, 4, u"ab%S", "\xF0\x9F\x98\x80"), 2u);
  EXPECT_EQ(WString(buf), u"ab");
  EXPECT_EQ(FormatWTo(buf, 4, u"ab%c", U'\U0001F600'), 2u);
  EXPECT_EQ(WString(buf), u"ab");
  // With room for both halves it stays.
  EXPECT_EQ(FormatWTo(buf, 5, u"ab%s", pair), 4u);
  EXPECT_EQ(WString(buf), u"ab" + pair);
  // A lone high surrogate followed by something else is not a pair: kept.
  const WString lone{u'a', u'b', 0xD800, u'c'};
  EXPECT_EQ(FormatWTo(buf, 4, u"%s", lone), 3u);
  EXPECT_EQ(WString(buf), lone.substr(0, 3));
}

TEST(FormatWTo, TraceLineIsCutAt255UnitsOr254BeforeAPair) {
  WChar buf[260];
  std::fill(std::begin(buf), std::end(buf), WChar{0x7777});
  const WString longText(300, u'x');
  EXPECT_EQ(FormatWTo(buf, 256, u"[QUOREL] %s\n", longText), 255u);
  EXPECT_EQ(buf[255], 0);
  EXPECT_EQ(WString(buf), (u"[QUOREL] " + longText).substr(0, 255));

  // A pair at units 254 and 255 would be split: the line ends at 254.
  const WString text = WString(254 - 9, u'y') + u"\U0001F600tail";
  std::fill(std::begin(buf), std::end(buf), WChar{0x7777});
  EXPECT_EQ(FormatWTo(buf, 256, u"[QUOREL] %s\n", text), 254u);
  EXPECT_EQ(buf[254], 0);
  EXPECT_EQ(buf[256], 0x7777);  // never past the capacity

  EXPECT_EQ(FormatWCut(255, u"[QUOREL] %s\n", text).size(), 254u);
  EXPECT_EQ(FormatWCut(255, u"[QUOREL] %s\n", longText), (u"[QUOREL] " + longText).substr(0, 255));
  EXPECT_EQ(FormatWCut(0, u"abc"), u"");
  EXPECT_EQ(FormatWCut(50, u"short %d\n", 1), u"short 1\n");
}

}  // namespace
}  // namespace plat
