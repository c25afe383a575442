#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/printf.h"
#include "platform/qx_vmem.h"
#include "printf_support.h"
#include "test_support.h"

using printftest::Fmt;
using printftest::FmtGuarded;
using printftest::GuardedFormat;

namespace {

class Printf : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureMemInit();
    MemFullReset();
    SPrintfSetFileProcs(nullptr, nullptr);
    SPrintfSetPathTooLongText(nullptr);
  }
  void TearDown() override {
    SPrintfSetFileProcs(nullptr, nullptr);
    SPrintfSetPathTooLongText(nullptr);
    MemFullReset();
  }
  int Failures() { return cap_.Count("Failure"); }
  std::string Debug() { return cap_.Debug(); }
  Capture cap_;
};

int32 Word(const char* four) {
  int32 w;
  std::memcpy(&w, four, 4);
  return w;
}

int32 Into(char* buf, int32 capacity, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int32 n = SPrintfv(buf, capacity, fmt, int32(std::strlen(fmt)), ap);
  va_end(ap);
  return n;
}

int32 PointWord(int16 v, int16 h) {
  Point p{v, h};
  int32 w;
  std::memcpy(&w, &p, 4);
  return w;
}

// ---------------------------------------------------------------- conversions

TEST_F(Printf, IntegerFieldsPadJustifyAndZeroFillAfterTheSign) {
  EXPECT_EQ(Fmt("%5d", 42), "   42");
  EXPECT_EQ(Fmt("%05d", -42), "-0042");
  EXPECT_EQ(Fmt("%-5d|", 42), "42   |");
  EXPECT_EQ(Fmt("%-05d|", 42), "42   |");
  EXPECT_EQ(Fmt("%ld %d", 7L, INT32_MIN), "7 -2147483648");
  EXPECT_EQ(Fmt("%u", -1), "4294967295");
  EXPECT_EQ(Fmt("%x %o %b", 255, 8, 5), "FF 10 101");
  EXPECT_EQ(Fmt("%x", -1), "FFFFFFFF");
  EXPECT_EQ(Fmt("%2d", 12345), "12345");
  EXPECT_EQ(Fmt("%.1d", 12345), "12345");  // precision never cuts a number
}

TEST_F(Printf, TypedSelectorsTakeANumberByAddress) {
  int8 i8 = -1;
  int16 i16 = -1;
  uInt8 u8 = 255;
  int64 i64 = 0x100000005ll;
  uInt32 u32 = 0xFFFFFFFFu;
  float32 f = 1.5f;
  double d = 2.5;
  double c[2] = {1.5, -2.0};
  EXPECT_EQ(Fmt("%{iB}x", &i8), "FF");
  EXPECT_EQ(Fmt("%{iB}d %{iW}x", &i8, &i16), "-1 FFFF");
  EXPECT_EQ(Fmt("%{uB}d", &u8), "255");
  EXPECT_EQ(Fmt("%{iQ}d", &i64), "5");
  EXPECT_EQ(Fmt("%{uL}d %{uL}u", &u32, &u32), "4294967295 4294967295");
  EXPECT_EQ(Fmt("%.2{fS}f", &f), "1.50");
  EXPECT_EQ(Fmt("%{fD}d %{fD}e", &d, &d), "2 2.500000E+0");  // halves to even
  EXPECT_EQ(Fmt("%.1{cD}f", c), "1.5 -2.0 i");
  EXPECT_EQ(Fmt("%{iB}d", static_cast<int8*>(nullptr)), "0");
  EXPECT_EQ(Fmt("%{*}d %{*}x", 3, &u32, kNumU8, &u8), "-1 FF");
  EXPECT_EQ(Failures(), 0);
  // A type word of 16 or more is reported and read by its low four bits.
  EXPECT_EQ(Fmt("%{*}d", 0x13, &u32), "-1");
  EXPECT_EQ(Failures(), 1);
}

TEST_F(Printf, CharactersAndFourCharacterCodes) {
  EXPECT_EQ(Fmt("%4c", Word("RSRC")), "RSRC");
  EXPECT_EQ(Fmt("%2c", Word("QXab")), "QX");
  EXPECT_EQ(Fmt("%c", 65), "A");
  EXPECT_EQ(Fmt("%3c|%-3c|", 65, 66), "A|B|");
  EXPECT_EQ(Fmt("%4.2c", Word("RSRC")), "RS");
}

TEST_F(Printf, FloatingConversionsFollowTheDigitRules) {
  EXPECT_EQ(Fmt("%e", 3.14159), "3.141590E+0");
  EXPECT_EQ(Fmt("%E %g %G", 1e100, 0.5, -0.5), "1.000000E+100 5.000000E-1 -5.000000E-1");
  EXPECT_EQ(Fmt("%.2e", 12345.0), "1.23E+4");
  EXPECT_EQ(Fmt("%.0e", 12345.0), "1E+4");
  EXPECT_EQ(Fmt("%10e", 2.0), " 2.0000E+0");  // width 10: 5 digits
  EXPECT_EQ(Fmt("%6e", 2.0), "2.000000E+0");  // width 6: 7 digits
  EXPECT_EQ(Fmt("%.30e", 1.0 / 3), "3.3333333333333331E-1");  // never more than 17
  EXPECT_EQ(Fmt("%f %.3f %.0f", 123.456, -1.0005, 2.5), "123.456000 -1.000 2");
  EXPECT_EQ(Fmt("%10.2f|%-10.2f|%010.2f", 3.5, 3.5, -3.5), "      3.50|3.50      |-000003.50");
  EXPECT_EQ(Fmt("%.70f", 1.5).size(), 2u + 63u);  // at most 63 decimals
  EXPECT_EQ(Fmt("%F", 0.25), "0.250000");
}

TEST_F(Printf, FixedFormSwitchesToExponentForExtremeMagnitudes) {
  EXPECT_EQ(Fmt("%.2f", 1e30), "1.00E+30");
  EXPECT_EQ(Fmt("%f", 1e-20), "1.000000E-20");
  EXPECT_EQ(Fmt("%f", 1e18), "1000000000000000000.000000");
  EXPECT_EQ(Fmt("%f", 1e19), "1.000000E+19");
  // A width sets the limit: width - 1 digits of magnitude.
  EXPECT_EQ(Fmt("%5f", 12345.0), "12345.000000");
  EXPECT_EQ(Fmt("%4f", 12345.0), "1.234500E+4");
  double inf = 1.0 / 0.0, nan = 0.0 / 0.0;
  EXPECT_EQ(Fmt("%f %f %f", inf, -inf, nan), "Inf -Inf NaN");
  EXPECT_EQ(Fmt("%3f|%3f", inf, nan), "Inf|NaN");
}

TEST_F(Printf, FixedWidthTestCountsSignAndMagnitude) {
  double v = -1e5;
  EXPECT_TRUE(FFmtOK(7, kNumDBL, &v));   // 1 + 5 <= 6
  EXPECT_FALSE(FFmtOK(6, kNumDBL, &v));
  v = 0;
  EXPECT_TRUE(FFmtOK(2, kNumDBL, &v));
  v = 1e-18;
  EXPECT_TRUE(FFmtOK(0, kNumDBL, &v));
  v = 1e-19;
  EXPECT_FALSE(FFmtOK(0, kNumDBL, &v));
  double c[2] = {-10.0, 100.0};  // 4 + 2 + 2
  EXPECT_TRUE(FFmtOK(9, kNumCDB, c));
  EXPECT_FALSE(FFmtOK(8, kNumCDB, c));
  double inf = 1.0 / 0.0;
  EXPECT_TRUE(FFmtOK(4, kNumDBL, &inf));
  EXPECT_FALSE(FFmtOK(3, kNumDBL, &inf));
  // An extended NaN never passes; a double NaN does from a limit of 3.
  uChar extNaN[10] = {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};
  double nan = 0.0 / 0.0;
  EXPECT_FALSE(FFmtOK(0, kNumEXT, extNaN));
  EXPECT_TRUE(FFmtOK(0, kNumDBL, &nan));
  int32 big = 2000000000;
  EXPECT_TRUE(FFmtOK(0, kNumI32, &big));
}

TEST_F(Printf, DecimalSeparatorSelectorLastsUntilReset) {
  EXPECT_EQ(Fmt("%,;%.2f", 3.14159), "3,14");
  EXPECT_EQ(Fmt("%,;%.2f %;%.2f", 3.14159, 3.14159), "3,14 3.14");
  EXPECT_EQ(Fmt("%.;%.1f", 2.5), "2.5");
  EXPECT_EQ(Fmt("%\\2C;%.1f", 2.5), "2,5");  // the separator as a backslash code
  EXPECT_EQ(Fmt("%,;%d %.1e", 5, 2.5), "5 2,5E+0");
  // Without a ";" the character starts a conversion.
  EXPECT_EQ(Fmt("a%,d", 1), "a");
  EXPECT_EQ(Failures(), 1);
}

TEST_F(Printf, StringsSpendThePrecisionOnTheWholeField) {
  EXPECT_EQ(Fmt("%.2s", "abc"), "ab");
  EXPECT_EQ(Fmt("[%.0s]", "abc"), "[]");
  EXPECT_EQ(Fmt("%5s|%-5s|", "abc", "abc"), "  abc|abc  |");
  EXPECT_EQ(Fmt("%10.3s|", "abcdef"), "   |");
  EXPECT_EQ(Fmt("%-10.3s|", "abcdef"), "abc|");
  EXPECT_EQ(Fmt("%05s", "ab"), "000ab");
  EXPECT_EQ(Fmt("[%s]", static_cast<const char*>(nullptr)), "[]");
  // A precision bounds the read: the text need not be terminated.
  char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(Fmt("%.3s", unterminated), "xyz");
}

TEST_F(Printf, CountedStringsAndHandles) {
  const uChar pstr[] = "\x03" "abc";
  uChar counted[8] = {2, 0, 0, 0, 'h', 'i'};
  EXPECT_EQ(Fmt("%p %.2p %5p|", pstr, pstr, pstr), "abc ab   abc|");
  EXPECT_EQ(Fmt("%lp %P %{iL}p", counted, counted, counted), "hi hi hi");
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(8));
  (*h)->cnt = 3;
  std::memcpy((*h)->str, "xyz", 3);
  EXPECT_EQ(Fmt("%H|%-4H|%.1H", h, h, h), "xyz|xyz |x");
  DSDisposeHandle(reinterpret_cast<UHandle>(h));
  uChar negative[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Fmt("[%P%p%H]", negative, static_cast<const uChar*>(nullptr), static_cast<LStrHandle>(nullptr)), "[]");
}

TEST_F(Printf, PointsAndRectangles) {
  Rect r{10, 20, 30, 40};
  EXPECT_EQ(Fmt("%R", &r), "tlbr(10, 20, 30, 40)");
  EXPECT_EQ(Fmt("%r", &r), "(10, 20, 30, 40)");
  EXPECT_EQ(Fmt("%q", PointWord(5, 7)), "(7,5)");
  EXPECT_EQ(Fmt("%Q", PointWord(-5, 7)), "hv(7,-5)");
  EXPECT_EQ(Fmt("%10q|", PointWord(1, 2)), "(2,1)|");  // no field layout
}

TEST_F(Printf, BackslashCodesInTheFormat) {
  EXPECT_EQ(Fmt("a\\nb"), "a\r\nb");
  EXPECT_EQ(Fmt("\\41\\%"), "A%");
  EXPECT_EQ(Fmt("\\b\\f\\r\\s\\t"), "\b\f\r \t");
  EXPECT_EQ(Fmt("\\0A|\\A|\\4G"), "\r\n|\r\n|\x04G");  // every code yielding 10 writes 13 10
  EXPECT_EQ(Fmt("\\\\|\\q|\\a"), "\\|q|a");               // lower-case letters are not hex digits
  EXPECT_EQ(Fmt("end\\"), "end\\");
  EXPECT_EQ(Fmt("plain\nline"), "plain\nline");  // a line feed in the format is copied as it is
}

TEST_F(Printf, PercentAtTheEnd) {
  EXPECT_EQ(Fmt("100%"), "100%");
  EXPECT_EQ(Fmt("x%-"), "x-");
  EXPECT_EQ(Fmt("%%d"), "%d");
  EXPECT_EQ(Failures(), 0);
}

TEST_F(Printf, ScanAndExpandBackslashRoundTripEveryByte) {
  for (int c = 0; c < 256; ++c) {
    uChar buf[4] = {};
    uChar* cur = buf;
    int32 n = ExpandToBackslash(&cur, c);
    EXPECT_EQ(cur - buf, n);
    EXPECT_EQ(ExpandToBackslash(nullptr, c), n);
    const uChar* in = buf;
    EXPECT_EQ(ScanForBackslash(&in, buf + n), c) << c;
    EXPECT_EQ(in, buf + n);
  }
  uChar buf[4];
  uChar* cur = buf;
  EXPECT_EQ(ExpandToBackslash(&cur, '\\'), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "\\\\");
  cur = buf;
  EXPECT_EQ(ExpandToBackslash(&cur, 0xE9), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "\\E9");
  const uChar text[] = "\\";
  const uChar* in = text;
  EXPECT_EQ(ScanForBackslash(&in, text + 1), '\\');
  EXPECT_EQ(in, text + 1);
  EXPECT_EQ(ScanForBackslash(&in, text + 1), 0);  // at the end: nothing read
}

// ---------------------------------------------------------------- paths

std::string gFakePathText;
int gFakePathCalls = 0;
MgErr FakePathToText(Path, LStrPtr buf) {
  ++gFakePathCalls;
  if (buf->cnt < 0) {
    buf->cnt = int32(gFakePathText.size());
    return kNoErr;
  }
  std::memcpy(buf->str, gFakePathText.data(), gFakePathText.size());
  buf->cnt = int32(gFakePathText.size());
  return kNoErr;
}

TEST_F(Printf, PathTextAndItsLengthLimit) {
  SPrintfSetFileProcs(FakePathToText, nullptr);
  Path p = reinterpret_cast<Path>(0x1000);
  gFakePathText = "C:\\dir\\file.txt";
  EXPECT_EQ(Fmt("[%-30.3z]", p), "[C:\\dir\\file.txt]");  // width, flags and precision ignored
  gFakePathText = std::string(252, 'a');
  EXPECT_EQ(Fmt("%z", p), gFakePathText);
  gFakePathText = std::string(300, 'a');
  EXPECT_EQ(Fmt("%z", p), "<path too long>");
  SPrintfSetPathTooLongText(reinterpret_cast<ConstPStr>("\x04long"));
  EXPECT_EQ(Fmt("%z", p), "long");
  // The stand-in of a missing path manager answers with no text.
  SPrintfSetFileProcs(nullptr, nullptr);
  EXPECT_EQ(Fmt("[%z]", p), "[]");
}

// ---------------------------------------------------------------- positional

TEST_F(Printf, PositionalArgumentsInAnyOrder) {
  EXPECT_EQ(Fmt("%2$s %1$s", "a", "b"), "b a");
  EXPECT_EQ(Fmt("%2$.2f %1$d %2$.1f", 7, 2.5), "2.50 7 2.5");
  EXPECT_EQ(Fmt("%3$s%1$4c%2$-3d|", Word("abcd"), 5, "x"), "xabcd5  |");
  EXPECT_EQ(Fmt("%1$q %2$R", PointWord(1, 2), nullptr), "(2,1) ");
  EXPECT_EQ(Fmt("%,;%1$.1f", 1.5), "1,5");
  // The output of the first pass before the switch is written again.
  EXPECT_EQ(Fmt("ab%1$d", 3), "ab3");
  EXPECT_EQ(Failures(), 0);
}

// ---------------------------------------------------------------- bad formats

struct BadCase {
  const char* fmt;
  int32 expected;  // the result
};

TEST_F(Printf, CutOffAndUnknownConversionsStopWithAReport) {
  const BadCase cases[] = {
      {"abc%5", 3},    {"abc%-5", 3},   {"abc%.3", 3},    {"abc%.", 3},   {"abc%{iB", 3}, {"abc%{iB}", 3},
      {"abc%{", 3},    {"abc%{i", 3},   {"abc%l", 3},     {"abc%0", 3},   {"abc%-", 3 + 1},
      {"abc%y", 3},    {"abc%X", 3},    {"abc%[;d", 3},   {"abc%5.2h", 3},
  };
  int expectedFailures = 0;
  for (const BadCase& c : cases) {
    GuardedFormat g(c.fmt);
    int32 n = -1;
    FmtGuarded(g, &n, 1, 2, 3);
    EXPECT_EQ(n, c.expected) << c.fmt;
    if (std::strcmp(c.fmt, "abc%-") != 0) ++expectedFailures;
    EXPECT_EQ(Failures(), expectedFailures) << c.fmt;
  }
}

TEST_F(Printf, FormatsAreNeverReadPastTheirLength) {
  // Each prefix of a rich format, ending at the guard page.
  const std::string full = "x%1$-08.3{fD}f";
  for (size_t len = 1; len <= full.size(); ++len) {
    GuardedFormat g(full.substr(0, len));
    int32 n = -1;
    double d = 1.25;
    FmtGuarded(g, &n, &d);
    EXPECT_GE(n, 0);
  }
  const std::string plain = "a\\4%,;%-5.2ld\\";
  for (size_t len = 1; len <= plain.size(); ++len) {
    GuardedFormat g(plain.substr(0, len));
    int32 n = -1;
    FmtGuarded(g, &n, 42);
    EXPECT_GE(n, 0);
  }
}

TEST_F(Printf, PositionOutOfRange) {
  GuardedFormat g("x%11$d");
  int32 n = -1;
  FmtGuarded(g, &n, 1);
  EXPECT_EQ(n, 1);
  EXPECT_NE(Debug().find("Positional parameter 10 out of range"), std::string::npos);
  EXPECT_EQ(Failures(), 1);
  GuardedFormat zero("%0$d");
  FmtGuarded(zero, &n, 1);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Failures(), 2);
}

TEST_F(Printf, TypeFromArgumentIsRefusedInPositionalMode) {
  GuardedFormat g("%1$d %2${*}d");
  int32 n = -1;
  int32 v = 4;
  FmtGuarded(g, &n, 1, kNumI32, &v);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Failures(), 1);
}

TEST_F(Printf, MixingPositionalAndOrdinaryConversions) {
  GuardedFormat g("%1$d %s");
  int32 n = -1;
  FmtGuarded(g, &n, 1, "s");
  EXPECT_EQ(n, 0);
  EXPECT_NE(Debug().find("Can't mix ANSI and %n$ specifiers"), std::string::npos);
  EXPECT_EQ(Failures(), 1);
  GuardedFormat g2("%d %1$d");
  FmtGuarded(g2, &n, 5, 6);
  EXPECT_EQ(n, 2);  // "5 " written before the positional conversion
  EXPECT_EQ(Failures(), 2);
}

TEST_F(Printf, PositionRedefinedWithAnotherClass) {
  GuardedFormat g("%1$d %1$s");
  int32 n = -1;
  FmtGuarded(g, &n, 1);
  EXPECT_EQ(n, 0);
  EXPECT_NE(Debug().find("Parameter 0 type info [-2] redefined (was [-1])"), std::string::npos);
  GuardedFormat same("%1$d %1$x %1$c");
  EXPECT_EQ(FmtGuarded(same, &n, 65), "65 41 A");
}

TEST_F(Printf, GapAmongPositionsGivesAnEmptyResult) {
  GuardedFormat g("ab%1$s %3$s");
  int32 n = -1;
  FmtGuarded(g, &n, "a", "b", "c");
  EXPECT_EQ(n, 0);
  EXPECT_NE(Debug().find("Not all parameters between 1 and 2 specified"), std::string::npos);
}

TEST_F(Printf, WidthAndPrecisionDigitsSaturate) {
  EXPECT_EQ(SPrintf(nullptr, "%99999999999999999999d", 1), INT32_MAX);
  EXPECT_EQ(SPrintf(nullptr, "%2000000000d%2000000000d", 1, 2), INT32_MAX);  // the count saturates
  EXPECT_EQ(SPrintf(nullptr, "%.99999999999999999999s|", "abc"), 4);
  char buf[8];
  EXPECT_EQ(Into(buf, 8, "%2000000000d", 1), 8);
  EXPECT_EQ(std::string(buf, 8), std::string(8, ' '));
}

// ---------------------------------------------------------------- engine limits

TEST_F(Printf, EngineStopsSilentlyAtTheCapacityAndWritesNoNul) {
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  const char* fmt = "hello world";
  EXPECT_EQ(Into(buf, 5, fmt), 5);
  EXPECT_EQ(std::string(buf, 6), "hello#");
  EXPECT_EQ(Into(nullptr, 0, fmt), 11);
  EXPECT_EQ(Into(nullptr, 0, "%d%s", 12, "abc"), 5);
  EXPECT_EQ(Into(buf, 16, "%s|%d", "hello world", 1), 13);
  EXPECT_EQ(Into(buf, 16, ""), 0);
  EXPECT_EQ(Into(buf, 0, fmt), 0);
}

// ---------------------------------------------------------------- wrappers

TEST_F(Printf, StringWrappers) {
  char buf[64];
  EXPECT_EQ(SPrintf(nullptr, "%d-%s", 12345, "ab"), 8);
  EXPECT_EQ(SPrintf(buf, "%d-%s", 12345, "ab"), 8);
  EXPECT_STREQ(buf, "12345-ab");
  EXPECT_EQ(SPrintfp(buf, reinterpret_cast<ConstPStr>("\x04%d%%"), 7), 2);
  EXPECT_STREQ(buf, "7%");
  Str255 p;
  std::string longText(300, 'z');
  EXPECT_EQ(PPrintf(p, "%s", longText.c_str()), 255);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p + 1), 255), std::string(255, 'z'));
  EXPECT_EQ(PPrintfp(p, reinterpret_cast<ConstPStr>("\x03%x!"), 255), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p + 1), p[0]), "FF!");
}

LStrHandle NewLStr(bool ds, const char* text) {
  int32 n = int32(std::strlen(text));
  UHandle h = ds ? DSNewHandle(n + 4) : AZNewHandle(n + 4);
  LStrHandle l = reinterpret_cast<LStrHandle>(h);
  (*l)->cnt = n;
  std::memcpy((*l)->str, text, size_t(n));
  return l;
}
std::string LStrText(LStrHandle h) { return std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)); }

TEST_F(Printf, LStrPrintfReplacesAndSizesExactly) {
  LStrHandle h = NewLStr(true, "old contents");
  EXPECT_EQ(LStrPrintf(h, "%d:%s", 42, "x"), kNoErr);
  EXPECT_EQ(LStrText(h), "42:x");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 4 + 4);
  // A failing resize leaves the handle as it was.
  PlatFailNextReservations(1000);
  EXPECT_EQ(LStrPrintf(h, "%20000000d", 1), kMemFullErr);
  PlatFailNextReservations(0);
  EXPECT_EQ(LStrText(h), "42:x");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 8);
  EXPECT_EQ(LStrPrintf(h, "%2147483647d", 1), kMemFullErr);
  EXPECT_EQ(LStrText(h), "42:x");
  MemFullReset();
  // The data zone refuses a handle of the application zone.
  LStrHandle az = NewLStr(false, "az");
  EXPECT_EQ(LStrPrintf(az, "new"), kZoneErr);
  EXPECT_EQ(LStrText(az), "az");
  EXPECT_EQ(LStrPrintf(nullptr, "x"), kArgErr);
  DSDisposeHandle(reinterpret_cast<UHandle>(h));
  AZDisposeHandle(reinterpret_cast<UHandle>(az));
}

TEST_F(Printf, LStrAppendPrintfGrowsHandlesOfEitherZone) {
  for (bool ds : {true, false}) {
    LStrHandle h = NewLStr(ds, "abc");
    UHandle u = reinterpret_cast<UHandle>(h);
    EXPECT_EQ(LStrAppendPrintf(h, "-%d", 12), kNoErr);
    EXPECT_EQ(LStrText(h), "abc-12");
    EXPECT_EQ(ds ? DSGetHandleSize(u) : AZGetHandleSize(u), 6 + 4);
    EXPECT_EQ(LStrAppendPrintf(h, "%s", ""), kNoErr);
    EXPECT_EQ(LStrText(h), "abc-12");
    PlatFailNextReservations(1000);
    EXPECT_EQ(LStrAppendPrintf(h, "%20000000d", 1), kMemFullErr);
    PlatFailNextReservations(0);
    EXPECT_EQ(LStrText(h), "abc-12");
    EXPECT_EQ(ds ? DSGetHandleSize(u) : AZGetHandleSize(u), 10);
    MemFullReset();
    ds ? DSDisposeHandle(u) : AZDisposeHandle(u);
  }
}

TEST_F(Printf, HPrintfMakesOrResizesAHandleHoldingACString) {
  UHandle h = HPrintf(nullptr, "%s=%d", "n", 5);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AZGetHandleSize(h), 4);
  EXPECT_STREQ(reinterpret_cast<char*>(*h), "n=5");
  EXPECT_EQ(HPrintf(h, "%x", 0xABCDEF), h);
  EXPECT_EQ(AZGetHandleSize(h), 7);
  EXPECT_STREQ(reinterpret_cast<char*>(*h), "ABCDEF");
  PlatFailNextReservations(1000);
  EXPECT_EQ(HPrintf(h, "%20000000d", 1), h);  // cannot grow: unchanged
  EXPECT_STREQ(reinterpret_cast<char*>(*h), "ABCDEF");
  EXPECT_EQ(HPrintf(nullptr, "%20000000d", 1), nullptr);
  PlatFailNextReservations(0);
  // A count that leaves no room for the NUL or the count fails at once.
  EXPECT_EQ(HPrintf(nullptr, "%2147483647d", 1), nullptr);
  MemFullReset();
  AZDisposeHandle(h);
}

std::string gWritten;
int gWriteCalls = 0;
int32 gWriteLimit = INT32_MAX;
MgErr FakeWrite(FileRef, int32 count, int32* actual, const void* buffer) {
  ++gWriteCalls;
  int32 n = count < gWriteLimit ? count : gWriteLimit;
  gWritten.append(static_cast<const char*>(buffer), size_t(n));
  if (actual) *actual = n;
  return n < count ? kDiskFullErr : kNoErr;
}

TEST_F(Printf, FPrintfWritesTheFormattedBytes) {
  SPrintfSetFileProcs(nullptr, FakeWrite);
  gWritten.clear();
  gWriteCalls = 0;
  gWriteLimit = INT32_MAX;
  FileRef f = reinterpret_cast<FileRef>(0x10);
  EXPECT_EQ(FPrintf(f, "%s %d\\n", "line", 1), 8);
  EXPECT_EQ(gWritten, "line 1\r\n");
  EXPECT_EQ(FPrintf(f, ""), 0);
  gWriteLimit = 3;
  EXPECT_EQ(FPrintf(f, "%s", "truncated"), -1);  // a short write
}

TEST_F(Printf, FPrintfFailsWhenItsBlockCannotBeAllocated) {
  SPrintfSetFileProcs(nullptr, FakeWrite);
  gWriteCalls = 0;
  gWriteLimit = INT32_MAX;
  PlatFailNextReservations(1000);
  EXPECT_EQ(FPrintf(reinterpret_cast<FileRef>(0x10), "%20000000d", 1), -1);
  PlatFailNextReservations(0);
  EXPECT_EQ(gWriteCalls, 0);
  MemFullReset();
}

// The path text shrinks between the counting and the writing pass.
int gShrinkCalls = 0;
MgErr ShrinkingPathToText(Path, LStrPtr buf) {
  int32 len = gShrinkCalls++ < 2 ? 10 : 4;
  if (buf->cnt >= 0) std::memset(buf->str, 'p', size_t(len));
  buf->cnt = len;
  return kNoErr;
}

TEST_F(Printf, PassesThatDifferAreReported) {
  SPrintfSetFileProcs(ShrinkingPathToText, nullptr);
  gShrinkCalls = 0;
  LStrHandle h = NewLStr(true, "");
  EXPECT_EQ(LStrPrintf(h, "%z", reinterpret_cast<Path>(0x10)), kNoErr);
  EXPECT_EQ(Failures(), 1);
  EXPECT_EQ(LStrText(h), "pppp");
  DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

// ---------------------------------------------------------------- threads

const Rect kRect{1, 2, 3, 4};

TEST(PrintfConcurrent, EngineIsReentrant) {
  const int iterations = Scaled(4000);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, iterations, &mismatches] {
      for (int i = 0; i < iterations; ++i) {
        char buf[128];
        int32 v = t * 100000 + i;
        SPrintf(buf, "%,;%d|%-6s|%.2f|%x|%R", v, "ab", 0.5 + i, v, &kRect);
        char want[128];
        std::snprintf(want, sizeof want, "%d|%-6s|%d,%02d|%X|tlbr(1, 2, 3, 4)", v, "ab", i, 50, v);
        if (std::strcmp(buf, want) != 0) ++mismatches[size_t(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
