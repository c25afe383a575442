#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "mgsource/datetime.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"
#include "printf_support.h"
#include "test_support.h"
#include "time_support.h"

namespace {

using printftest::GuardedFormat;

const uChar* U(const char* s) { return reinterpret_cast<const uChar*>(s); }
int32 L(const char* s) { return int32(std::strlen(s)); }

template <typename T>
int32 Parse(const char* text, int32 type, T* out, int32 code = 0, char dp = '.') {
  return TextToNumFmt(U(text), L(text), type, out, code, 0, nullptr, dp);
}

double ParseD(const char* text, int32* ok = nullptr, int32 code = 0) {
  double v = 0;
  int32 r = Parse(text, kNumDBL, &v, code);
  if (ok) *ok = r;
  return v;
}

double Secs1904(int year, int mon, int day, int h, int m, int s) {
  return double(UtcSecs1904(year, mon, day, h, m, s));
}

class TextNum : public ::testing::Test {
 protected:
  void SetUp() override { SetTZ("UTC"); }
  void TearDown() override { NumSetSeparators(':', '/'); }
  Capture cap_;
};

// ---------------------------------------------------------------- integers

TEST_F(TextNum, IntegersSaturateThenPinToTheType) {
  int8 i8 = 0;
  EXPECT_EQ(Parse(" -12 ", kNumI8, &i8, 64), 1);
  EXPECT_EQ(i8, -12);
  EXPECT_EQ(Parse("300", kNumI8, &i8, 64), 1);
  EXPECT_EQ(i8, 127);
  EXPECT_EQ(Parse("-300", kNumI8, &i8, 64), 1);
  EXPECT_EQ(i8, -128);
  uInt8 u8 = 7;
  EXPECT_EQ(Parse("300", kNumU8, &u8, 64), 1);
  EXPECT_EQ(u8, 255);
  EXPECT_EQ(Parse("-5", kNumU8, &u8, 64), 1);
  EXPECT_EQ(u8, 0);
  int32 i32 = 0;
  EXPECT_EQ(Parse("99999999999", kNumI32, &i32, 64), 1);
  EXPECT_EQ(i32, 2147483647);
  EXPECT_EQ(Parse("-99999999999", kNumI32, &i32, 64), 1);
  EXPECT_EQ(i32, INT32_MIN);
  EXPECT_EQ(Parse("-2147483648", kNumI32, &i32, 64), 1);
  EXPECT_EQ(i32, INT32_MIN);
  uInt32 u32 = 0;
  EXPECT_EQ(Parse("99999999999", kNumU32, &u32, 65), 1);
  EXPECT_EQ(u32, 4294967295u);
  EXPECT_EQ(Parse("4000000000", kNumU32, &u32, 64), 1);
  EXPECT_EQ(u32, 4000000000u);
  uInt16 u16 = 0;
  EXPECT_EQ(Parse("70000", kNumU16, &u16, 64), 1);
  EXPECT_EQ(u16, 65535);
  int16 i16 = 0;
  EXPECT_EQ(Parse("-40000", kNumI16, &i16, 64), 1);
  EXPECT_EQ(i16, -32768);
}

TEST_F(TextNum, OtherBasesPinSmallSignedTypesOnExtraBits) {
  int8 i8 = 0;
  EXPECT_EQ(Parse("1FF", kNumI8, &i8, 66), 1);
  EXPECT_EQ(i8, 127);
  EXPECT_EQ(Parse("ff", kNumI8, &i8, 66), 1);
  EXPECT_EQ(i8, -1);  // fits the type's 8 bits
  int16 i16 = 0;
  EXPECT_EQ(Parse("777777", kNumI16, &i16, 67), 1);
  EXPECT_EQ(i16, 32767);
  EXPECT_EQ(Parse("1000000000000000", kNumI16, &i16, 68), 1);
  EXPECT_EQ(i16, -32768);
  uInt8 u8 = 0;
  EXPECT_EQ(Parse("100", kNumU8, &u8, 66), 1);
  EXPECT_EQ(u8, 255);
  int32 i32 = 0;
  EXPECT_EQ(Parse("FFFFFFFF", kNumI32, &i32, 66), 1);
  EXPECT_EQ(i32, 2147483647);  // a signed destination stops at its maximum
  uInt32 u32 = 0;
  EXPECT_EQ(Parse("123456789abcdef", kNumU32, &u32, 66), 1);
  EXPECT_EQ(u32, 4294967295u);
  EXPECT_EQ(Parse("1011", kNumU32, &u32, 68), 1);
  EXPECT_EQ(u32, 11u);
  EXPECT_EQ(Parse("-1", kNumU32, &u32, 66), 0);  // no sign in other bases
}

TEST_F(TextNum, IntegerValueIsStoredBeforeTrailingText) {
  int32 v = 99;
  EXPECT_EQ(Parse("12ab", kNumI32, &v, 64), 0);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(Parse("1.5", kNumI32, &v, -2), 0);  // integer types read integer text
  EXPECT_EQ(v, 1);
  EXPECT_EQ(Parse("x", kNumI32, &v, 64), 0);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(Parse("", kNumI32, &v, 64), 0);
  EXPECT_EQ(Parse("7  ", kNumI32, &v, 64), 1);
  EXPECT_EQ(v, 7);
}

TEST_F(TextNum, SixtyFourBitAndFloatingDestinationsOfIntegerText) {
  int64 i64 = 0;
  EXPECT_EQ(Parse("-5", kNumI64, &i64, 64), 1);
  EXPECT_EQ(i64, -5);
  uInt64 u64 = 0;
  EXPECT_EQ(Parse("FFFFFFFF", kNumU64, &u64, 66), 1);
  EXPECT_EQ(u64, 0xFFFFFFFFull);  // zero-extended
  EXPECT_EQ(Parse("4000000000", kNumU64, &u64, 64), 1);
  EXPECT_EQ(u64, 4000000000ull);  // positive text is not sign-extended
  EXPECT_EQ(Parse("-1", kNumU64, &u64, 64), 1);
  EXPECT_EQ(u64, 0xFFFFFFFFFFFFFFFFull);
  double d = 0;
  EXPECT_EQ(Parse("-12", kNumDBL, &d, 64), 1);
  EXPECT_EQ(d, -12.0);
  EXPECT_EQ(Parse("99999999999", kNumDBL, &d, 64), 1);
  EXPECT_EQ(d, 2147483647.0);
  EXPECT_EQ(Parse("FFFFFFFF", kNumDBL, &d, 66), 1);
  EXPECT_EQ(d, 4294967295.0);
  EXPECT_EQ(Parse("zz", kNumDBL, &d, 64), 0);
  EXPECT_TRUE(std::isnan(d));
}

TEST_F(TextNum, IntegerParsersMoveTheCursorOnlyPastDigits) {
  const char* text = "  +42xyz";
  const uChar* c = U(text);
  EXPECT_EQ(DecStrToNum(&c, L(text), kNumI32), 42);
  EXPECT_EQ(c, U(text) + 5);
  const char* none = "  -x";
  c = U(none);
  EXPECT_EQ(DecStrToNum(&c, L(none), kNumI32), 0);
  EXPECT_EQ(c, U(none));
  c = U("-7");
  EXPECT_EQ(UDecStrToNum(&c, 2, kNumU32), 0);  // the unsigned parser takes no sign
  EXPECT_EQ(c, U("-7"));
  c = U("123456");
  EXPECT_EQ(DecStrToNum(&c, 3, kNumI32), 123);  // never past the length
  const char* hex = "7fG";
  c = U(hex);
  EXPECT_EQ(HexStrToNum(&c, 3, kNumI32), 0x7F);
  EXPECT_EQ(c, U(hex) + 2);
  c = U("7789");
  EXPECT_EQ(OctStrToNum(&c, 4, kNumI32), 077);
  c = U("1012");
  EXPECT_EQ(BinStrToNum(&c, 4, kNumI32), 5);
  EXPECT_EQ(DecStrToNum(nullptr, 3, kNumI32), 0);
}

// ---------------------------------------------------------------- floating

TEST_F(TextNum, SkipNumTextGrammar) {
  auto end = [](const char* t, char dp = '.') { return int32(SkipNumText(U(t), L(t), dp) - U(t)); };
  EXPECT_EQ(end("1.5e"), 3);
  EXPECT_EQ(end("1.5e+"), 3);
  EXPECT_EQ(end("1.5E - 3x"), 8);
  EXPECT_EQ(end("  - 12.5"), 8);
  EXPECT_EQ(end("-nan"), 0);
  EXPECT_EQ(end("+NaN"), 0);
  EXPECT_EQ(end(" nAn!"), 4);
  EXPECT_EQ(end("-INFinity"), 4);
  EXPECT_EQ(end("."), 0);
  EXPECT_EQ(end(" -."), 0);
  EXPECT_EQ(end("5."), 2);
  EXPECT_EQ(end(".5"), 2);
  EXPECT_EQ(end("3,25", ','), 4);
  EXPECT_EQ(end("3.25", ','), 1);
  EXPECT_EQ(end("1e123456"), 8);  // the whole exponent, even when too long
  EXPECT_EQ(end(""), 0);
  EXPECT_EQ(SkipNumText(nullptr, 5, '.'), nullptr);
  NumSetSeparators(':', '/');
  EXPECT_EQ(int32(ScanNum(U("2.5x"), 4) - U("2.5x")), 3);
}

TEST_F(TextNum, FloatingTextAndItsFailures) {
  int32 ok;
  EXPECT_EQ(ParseD(" 1.5 ", &ok), 1.5);
  EXPECT_EQ(ok, 1);
  EXPECT_TRUE(std::isnan(ParseD("1.5e", &ok)));
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(std::isnan(ParseD("-nan", &ok)));
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(std::isnan(ParseD("nan", &ok)));
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ParseD("INF", &ok), INFINITY);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ParseD("- inf", &ok), -INFINITY);
  EXPECT_EQ(ok, 1);
  EXPECT_TRUE(std::isnan(ParseD("infinity", &ok)));  // "inf" must end the text
  EXPECT_EQ(ok, 0);
  ParseD(".", &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(std::isnan(ParseD("1e12345", &ok)));  // five exponent digits
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(ParseD("1e1234", &ok), INFINITY);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ParseD("1e-1234", &ok), 0.0);
  EXPECT_EQ(ParseD("-0"), 0.0);
  EXPECT_TRUE(std::signbit(ParseD("-0")));
  EXPECT_EQ(ParseD("000123.4500e2"), 12345.0);
  EXPECT_EQ(ParseD("1e - 2"), 0.01);
  EXPECT_TRUE(std::isnan(ParseD("1 e2")));
  double v;
  EXPECT_EQ(Parse("2,5", kNumDBL, &v, -1, ','), 1);
  EXPECT_EQ(v, 2.5);
  EXPECT_EQ(Parse("2.5", kNumDBL, &v, -1, ','), 0);
  // A failed text stores the system's NaN.
  uInt64 bits;
  std::memcpy(&bits, &v, 8);
  EXPECT_EQ(bits, 0x7FFFFFFFFFFFFFFFull);
}

TEST_F(TextNum, SingleAndExtendedDestinations) {
  float f;
  EXPECT_EQ(Parse("0.1", kNumSGL, &f), 1);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(Parse("3.4028236e38", kNumSGL, &f), 1);  // rounds past the largest single
  EXPECT_EQ(f, INFINITY);
  uChar ext[10];
  EXPECT_EQ(Parse("0.1", kNumEXT, ext), 1);
  long double x = 0;
  std::memcpy(&x, ext, 10);
  EXPECT_EQ(x, 0.1L);
  EXPECT_EQ(Parse("1e4900", kNumEXT, ext), 1);
  std::memcpy(&x, ext, 10);
  EXPECT_EQ(x, 1e4900L);
}

TEST_F(TextNum, SeventeenDigitsReadBackToTheSameDouble) {
  std::mt19937_64 rng(42);
  int mismatches = 0;
  const int count = Scaled(1000000);
  for (int i = 0; i < count; ++i) {
    uInt64 bits = rng();
    double v;
    std::memcpy(&v, &bits, 8);
    if (!std::isfinite(v)) continue;
    char buf[64];
    int32 n = NumToTextFmt(&v, kNumDBL, 17, buf, sizeof buf, '.');
    double back = 0;
    if (TextToNumFmt(U(buf), n, kNumDBL, &back, 17, 0, nullptr, '.') != 1 || back != v) {
      if (++mismatches < 5) ADD_FAILURE() << buf;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(TextNum, LongDigitRunsAreCorrectlyRounded) {
  // Halfway between two doubles: the digits past the eighteenth decide.
  EXPECT_EQ(ParseD("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(ParseD("9007199254740993.0000000000001"), 9007199254740994.0);
  EXPECT_EQ(ParseD("900719925474099300000000000001e-14"), 9007199254740994.0);
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> len(19, 60), digit(0, 9), ex(-330, 310);
  int mismatches = 0;
  const int count = Scaled(100000);
  for (int i = 0; i < count; ++i) {
    std::string t;
    int n = len(rng);
    for (int k = 0; k < n; ++k) t += char('0' + digit(rng));
    if (i & 1) t.insert(size_t(1 + rng() % (n - 1)), ".");
    t += "e" + std::to_string(ex(rng));
    double ours = ParseD(t.c_str());
    float f = 0;
    Parse(t.c_str(), kNumSGL, &f);
    uChar ext[10];
    Parse(t.c_str(), kNumEXT, ext);
    long double x = 0;
    std::memcpy(&x, ext, 10);
    if ((ours != std::strtod(t.c_str(), nullptr) || f != std::strtof(t.c_str(), nullptr) ||
         x != std::strtold(t.c_str(), nullptr)) &&
        ++mismatches < 5)
      ADD_FAILURE() << t;
  }
  EXPECT_EQ(mismatches, 0);
  // Halfway between two extended numbers, decided by a digit past the
  // thousandth.
  std::string half = "9223372036854775808.5" + std::string(1200, '0');
  uChar ext[10];
  long double x = 0;
  Parse(half.c_str(), kNumEXT, ext);
  std::memcpy(&x, ext, 10);
  EXPECT_EQ(x, 9223372036854775808.0L);  // halves to even
  half += "1";
  Parse(half.c_str(), kNumEXT, ext);
  std::memcpy(&x, ext, 10);
  EXPECT_EQ(x, 9223372036854775809.0L);
  // Digits enough to exceed any exponent bound still end in an infinity or 0.
  std::string big = "1" + std::string(6000, '0');
  EXPECT_EQ(ParseD(big.c_str()), INFINITY);
  std::string small = "0." + std::string(6000, '0') + "1";
  EXPECT_EQ(ParseD(small.c_str()), 0.0);
}

TEST_F(TextNum, SciStrToNumMovesTheCursor) {
  const char* t = " 2.5e3, 7";
  const uChar* c = U(t);
  double v = 0;
  EXPECT_EQ(SciStrToNum(&c, L(t), kNumDBL, &v, '.'), 6);
  EXPECT_EQ(v, 2500.0);
  EXPECT_EQ(c, U(t) + 6);
  const char* none = "x1";
  c = U(none);
  EXPECT_EQ(SciStrToNum(&c, 2, kNumDBL, &v, '.'), 0);
  EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(c, U(none));
  int16 i16 = 0;
  c = U("-7.5");
  EXPECT_EQ(SciStrToNum(&c, 4, kNumI16, &i16, '.'), 4);
  EXPECT_EQ(i16, -8);  // halves to even
  double cplx[2] = {1, 1};
  c = U("4");
  EXPECT_EQ(SciStrToNum(&c, 1, kNumCDB, cplx, '.'), 1);
  EXPECT_EQ(cplx[0], 4.0);
  EXPECT_EQ(cplx[1], 0.0);
  const char* comma = "1,5";
  c = U(comma);
  EXPECT_EQ(RTSciStrToNum(&c, 3, 0, kNumDBL, &v), 1);  // "." without the flag
  EXPECT_EQ(v, 1.0);
  c = U("1.5");
  EXPECT_EQ(RTSciStrToNum(&c, 3, 1, kNumDBL, &v), 3);  // the default point is "."
  EXPECT_EQ(v, 1.5);
}

TEST_F(TextNum, NothingPastTheLengthIsRead) {
  // Each text ends just before an inaccessible page.
  const char* texts[] = {"1",     "-",      "1.5e",   "1e+",     "12:3",   "12:30 A", "1 + 2",
                         "3 arg", "07/15/", "12:30:", "infin",   "na",     "0x",      "1:02:05.",
                         "2i",    "1 -",    "9999999999999999999999", "  ", "1,5"};
  for (const char* t : texts) {
    GuardedFormat g(t);
    const uChar* p = reinterpret_cast<const uChar*>(g.data());
    double d[2];
    int32 i;
    for (int32 code : {0, 5, -3, 64, 65, 66, 67, 68, 202, 512 + 0x3FF, 512 + 4 + 16, 512 + 32 + 128}) {
      TextToNumFmt(p, g.size(), kNumDBL, d, code, 0, nullptr, '.');
      TextToNumFmt(p, g.size(), kNumCDB, d, code, 0, nullptr, ',');
      TextToNumFmt(p, g.size(), kNumI32, &i, code, 0, nullptr, '.');
    }
    const uChar* end = p + g.size();
    EXPECT_LE(SkipNumText(p, g.size(), '.'), end) << t;
    for (auto fn : {DecStrToNum, UDecStrToNum, HexStrToNum, OctStrToNum, BinStrToNum}) {
      const uChar* c = p;
      fn(&c, g.size(), kNumI32);
      EXPECT_LE(c, end) << t;
    }
    const uChar* c = p;
    int32 used = SciStrToNum(&c, g.size(), kNumDBL, d, '.');
    EXPECT_EQ(used, c - p) << t;
  }
  // A number that runs to the very last byte reads whole.
  GuardedFormat g("9999999999999999999999");
  double v = 0;
  EXPECT_EQ(TextToNumFmt(reinterpret_cast<const uChar*>(g.data()), g.size(), kNumDBL, &v, 0, 0, nullptr, '.'), 1);
  EXPECT_EQ(v, 1e22);
}

// ---------------------------------------------------------------- complex

TEST_F(TextNum, ComplexForms) {
  double c[2];
  EXPECT_EQ(Parse("3 arg 1.5707963267948966", kNumCDB, c), 1);
  EXPECT_NEAR(c[0], 0.0, 1e-15);
  EXPECT_NEAR(c[1], 3.0, 1e-15);
  EXPECT_EQ(Parse("2 ARG 0", kNumCDB, c), 1);
  EXPECT_EQ(c[0], 2.0);
  EXPECT_EQ(Parse("1 + 2 i", kNumCDB, c), 1);
  EXPECT_EQ(c[0], 1.0);
  EXPECT_EQ(c[1], 2.0);
  EXPECT_EQ(Parse("1 -2 i ", kNumCDB, c), 1);
  EXPECT_EQ(c[1], -2.0);
  EXPECT_EQ(Parse("1 - -2i", kNumCDB, c), 1);
  EXPECT_EQ(c[1], 2.0);
  EXPECT_EQ(Parse("2i", kNumCDB, c), 1);
  EXPECT_EQ(c[0], 0.0);
  EXPECT_EQ(c[1], 2.0);
  EXPECT_EQ(Parse("1 +2", kNumCDB, c), 0);  // no "i"
  EXPECT_TRUE(std::isnan(c[0]) && std::isnan(c[1]));
  EXPECT_EQ(Parse("1 + 2 i x", kNumCDB, c), 0);
  EXPECT_EQ(Parse("1 arg", kNumCDB, c), 0);
  float cs[2];
  EXPECT_EQ(Parse("0.1 + 0.2 i", kNumCSG, cs), 1);
  EXPECT_EQ(cs[0], 0.1f);
  EXPECT_EQ(cs[1], 0.2f);
}

TEST_F(TextNum, ComplexTextsOfTheWriterReadBack) {
  const double values[][2] = {{1.5, -2.25}, {-3, 0}, {0, 7e-5}, {1e300, -1e-300}};
  for (auto& v : values) {
    char buf[128];
    int32 n = NumToTextFmt(v, kNumCDB, 17, buf, sizeof buf, '.');
    double back[2];
    EXPECT_EQ(TextToNumFmt(U(buf), n, kNumCDB, back, 17, 0, nullptr, '.'), 1) << buf;
    EXPECT_EQ(back[0], v[0]) << buf;
    EXPECT_EQ(back[1], v[1]) << buf;
  }
  double nan2[2] = {NAN, INFINITY};
  char buf[64];
  int32 n = NumToTextFmt(nan2, kNumCDB, 6, buf, sizeof buf, '.');
  double back[2];
  EXPECT_EQ(TextToNumFmt(U(buf), n, kNumCDB, back, 6, 0, nullptr, '.'), 1) << buf;
  EXPECT_TRUE(std::isnan(back[0]));
  EXPECT_EQ(back[1], INFINITY);
  // The polar form.
  double z[2] = {0, 3};
  n = NumToTextFmt(z, kNumCDB, -100 + 17, buf, sizeof buf, '.');
  EXPECT_EQ(TextToNumFmt(U(buf), n, kNumCDB, back, 0, 0, nullptr, '.'), 1) << buf;
  EXPECT_NEAR(back[0], 0.0, 1e-15);
  EXPECT_NEAR(back[1], 3.0, 1e-15);
}

// ---------------------------------------------------------------- elapsed time

TEST_F(TextNum, ElapsedTime) {
  int32 ok;
  EXPECT_EQ(ParseD("1:02:05.50", &ok, 202), 3725.5);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ParseD(" -1:30 ", &ok, 200), -90.0);
  EXPECT_EQ(ParseD("90.25", &ok, 202), 90.25);
  EXPECT_EQ(ParseD("75:00", &ok, 200), 4500.0);  // minutes alone are not bounded
  EXPECT_TRUE(std::isnan(ParseD("2:75", &ok, 200)));
  EXPECT_EQ(ok, 0);
  ParseD("1:60:00", &ok, 200);
  EXPECT_EQ(ok, 0);
  ParseD("1:02:03:04", &ok, 200);
  EXPECT_EQ(ok, 0);
  ParseD("1:", &ok, 200);
  EXPECT_EQ(ok, 0);
  ParseD("", &ok, 200);
  EXPECT_EQ(ok, 0);
  EXPECT_TRUE(std::isnan(ParseD("NaN", &ok, 200)));
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(ParseD("-Inf", &ok, 200), -INFINITY);
  int32 i = 0;
  EXPECT_EQ(Parse("1:00:00", kNumI32, &i, 200), 1);
  EXPECT_EQ(i, 3600);
  NumSetSeparators('.', '-');
  double v;
  EXPECT_EQ(Parse("1.02.05,5", kNumDBL, &v, 201, ','), 1);
  EXPECT_EQ(v, 3725.5);
}

TEST_F(TextNum, ElapsedTextsOfTheWriterReadBack) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> mag(-2, 9);
  for (int i = 0; i < 2000; ++i) {
    double v = std::round(std::pow(10.0, mag(rng)) * 100) / 100 * ((i & 1) ? -1 : 1);
    char buf[64];
    int32 n = NumToTextFmt(&v, kNumDBL, 202, buf, sizeof buf, '.');
    double back = 0;
    ASSERT_EQ(TextToNumFmt(U(buf), n, kNumDBL, &back, 202, 0, nullptr, '.'), 1) << buf;
    EXPECT_NEAR(back, v, 1e-6 * std::fabs(v) + 1e-9) << buf;
  }
}

// ---------------------------------------------------------------- time stamps

constexpr int32 kTS = 512;
constexpr int32 kTime = kTSShowTime | kTSShowSeconds;
constexpr int32 kDate = kTSShowDate | kTSShowYear | kTSFourDigitYear;
constexpr int32 kStamp = kTS + (kTime | kDate);

TEST_F(TextNum, TimeStampsOfTheWriterReadBack) {
  const int32 forms[] = {kTime | kDate,
                         kTime | kTS24Hour | kDate,
                         kTime | kDate | kTSDayFirst,
                         kTime | kTS24Hour | kDate | kTSYearFirst,
                         kTime | kDate | kTSYearFirst | kTSDayFirst,
                         kTime | kTS24Hour | kDate | 3};
  for (const char* tz : {"UTC", "Europe/Berlin", "America/New_York"}) {
    SetTZ(tz);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> when(0, 4294967294.0);
    for (int i = 0; i < 3000; ++i) {
      double t = std::floor(when(rng));
      if (i % 3 == 0) t += 0.125;
      int32 code = kTS + forms[i % 6];
      char buf[64];
      int32 n = NumToTextFmt(&t, kNumDBL, code, buf, sizeof buf, '.');
      double back = -1;
      ASSERT_EQ(TextToNumFmt(U(buf), n, kNumDBL, &back, code, 0, nullptr, '.'), 1) << tz << " " << buf;
      double expect = (code & 3) ? t : std::nearbyint(t);
      // The hour repeated when daylight time ends reads either way.
      if (back != expect) {
        EXPECT_EQ(std::fabs(back - expect), 3600.0) << tz << " " << buf;
      }
    }
  }
}

TEST_F(TextNum, TwelveHourClock) {
  double def = Secs1904(2021, 7, 15, 9, 0, 0);
  double v;
  auto parse = [&](const char* t, int32 code = kTS + kTime) {
    return TextToNumFmt(U(t), L(t), kNumDBL, &v, code, kNumDBL, &def, '.');
  };
  EXPECT_EQ(parse("12:30 AM"), 1);
  EXPECT_EQ(v, Secs1904(2021, 7, 15, 0, 30, 0));
  EXPECT_EQ(parse("12:30 pm"), 1);
  EXPECT_EQ(v, Secs1904(2021, 7, 15, 12, 30, 0));
  EXPECT_EQ(parse("1:05:09PM"), 1);
  EXPECT_EQ(v, Secs1904(2021, 7, 15, 13, 5, 9));
  EXPECT_EQ(parse("13:00 PM"), 0);
  EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(parse("12:30 AMX"), 0);
  EXPECT_EQ(parse("23:59:59"), 1);
  EXPECT_EQ(parse("24:00"), 0);
  EXPECT_EQ(parse("10:60"), 0);
  EXPECT_EQ(parse("10:30:60"), 0);
  EXPECT_EQ(parse("10:30:15.25"), 1);
  EXPECT_EQ(v, Secs1904(2021, 7, 15, 10, 30, 15) + 0.25);
}

TEST_F(TextNum, MissingPartsComeFromTheDefaultTime) {
  const int32 code = kStamp;
  double def = Secs1904(2021, 7, 15, 9, 8, 7) + 0.5;
  double v;
  auto parse = [&](const char* t, int32 c = kStamp) {
    return TextToNumFmt(U(t), L(t), kNumDBL, &v, c, kNumDBL, &def, '.');
  };
  EXPECT_EQ(parse("03/04/2022"), 1);
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("  03/04/2022  11:12 "), 1);  // either order
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 11, 12, 0));
  EXPECT_EQ(parse("03/04/22"), 1);  // two-digit year
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("03/04/75"), 1);
  EXPECT_EQ(v, Secs1904(1975, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("04/03/2022", kTS + kDate + kTSDayFirst), 1);
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("2022/03/04", kTS + kDate + kTSYearFirst), 1);
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("2022/04/03", kTS + kTSShowDate + kTSYearFirst + kTSDayFirst), 1);  // year first by its bit
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("03/04", kTS + kTSShowDate), 1);  // a date shown without its year
  EXPECT_EQ(v, Secs1904(2021, 3, 4, 9, 8, 7) + 0.5);
  EXPECT_EQ(parse("03/04", code), 0);
  // Without a date in the code: the locale's order (month, day, year here).
  EXPECT_EQ(parse("03/04/2022", kTS + kTime), 1);
  EXPECT_EQ(v, Secs1904(2022, 3, 4, 9, 8, 7) + 0.5);
  int32 i = 0;
  EXPECT_EQ(TextToNumFmt(U("00:00:01 01/01/1904"), 19, kNumI32, &i, code, 0, nullptr, '.'), 1);
  EXPECT_EQ(i, 1);
  // No default: 0, 1 January 1904.
  EXPECT_EQ(TextToNumFmt(U("00:00:10"), 8, kNumDBL, &v, code, 0, nullptr, '.'), 1);
  EXPECT_EQ(v, 10.0);
}

TEST_F(TextNum, TimeStampFieldsOutOfRangeFail) {
  const int32 code = kStamp;
  double v;
  auto parse = [&](const char* t) { return TextToNumFmt(U(t), L(t), kNumDBL, &v, code, 0, nullptr, '.'); };
  EXPECT_EQ(parse("10:00 13/01/2020"), 0);
  EXPECT_EQ(parse("10:00 00/01/2020"), 0);
  EXPECT_EQ(parse("10:00 02/30/2020"), 0);
  EXPECT_EQ(parse("10:00 02/29/2020"), 1);
  EXPECT_EQ(parse("10:00 02/29/2021"), 0);
  EXPECT_EQ(parse("06:28:14 02/06/2040"), 1);
  EXPECT_EQ(v, 4294967294.0);
  EXPECT_EQ(parse("06:28:15 02/06/2040"), 0);  // must stay below 4294967295
  EXPECT_EQ(parse("00:00 01/01/1903"), 0);
  EXPECT_EQ(parse("10:00 01/01/2020 11:00"), 0);
  EXPECT_EQ(parse("10:00,01/01/2020"), 0);
  EXPECT_EQ(parse("   "), 0);
  EXPECT_EQ(parse(" inf "), 1);
  EXPECT_EQ(v, INFINITY);
  EXPECT_EQ(parse("NAN"), 1);
  EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(parse("99999999999999999999:00"), 0);
  SetTZ("Europe/Berlin");
  EXPECT_EQ(parse("00:30 01/01/1904"), 0);  // before 1904 in UTC
}

}  // namespace
