// Decimal records: ExtToDecimal against the C library's correctly rounded
// printf, DecimalToExt against strtold/strtod/strtof, the special records
// and the powers-of-ten table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "extmath_test_util.h"

namespace {

std::string RecDigits(const DecimalRec& r) {
  char d[32];
  int n = DecimalRecDigitChars(r, d);
  return std::string(d, n);
}

// The digits and the exponent of the first digit in a "%.*e" text.
void PrintfDigits(const char* s, std::string* digits, int* exp10) {
  digits->clear();
  const char* p = s;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits->push_back(*p);
  *exp10 = std::atoi(p + 1);
}

double RandomDouble(std::mt19937_64& g) {
  for (;;) {
    uInt64 bits = g();
    switch (g() % 4) {
      case 0:  // near 1e+-300
        bits = (bits & 0x800FFFFFFFFFFFFFull) | (uInt64((g() & 1) ? 1996 + g() % 40 : 10 + g() % 40) << 52);
        break;
      case 1:  // everyday magnitudes
        bits = (bits & 0x800FFFFFFFFFFFFFull) | (uInt64(1023 - 40 + g() % 80) << 52);
        break;
      default:
        break;
    }
    double v;
    std::memcpy(&v, &bits, 8);
    if (std::isfinite(v) && v != 0) return v;
  }
}

TEST(ExtDecimal, SeventeenDigitsOfDoublesMatchPrintfAndReadBack) {
  std::mt19937_64 g(20240601);
  DecimalRec r;
  for (int i = 0; i < 100000; ++i) {
    double v = RandomDouble(g);
    DoubleToDecimalRec(v, 17, &r);
    char s[64];
    std::snprintf(s, sizeof s, "%.16e", v);
    std::string want;
    int e;
    PrintfDigits(s, &want, &e);
    ASSERT_EQ(RecDigits(r), want) << s;
    ASSERT_EQ(r.exponent, e - 16) << s;
    ASSERT_EQ(r.digits, 17);
    ASSERT_EQ(r.sign, v < 0 ? 0x80 : 0);
    double back = double(DecimalRecToExt(&r));
    ASSERT_EQ(back, v) << s;
    ASSERT_EQ(DecimalRecToDouble(&r), v) << s;
  }
}

TEST(ExtDecimal, ExtendedValuesOfEveryDigitCountMatchPrintf) {
  std::mt19937_64 g(77);
  DecimalRec r;
  for (int i = 0; i < 100000; ++i) {
    uInt64 sig = g() | (1ull << 63);
    uInt16 exp = uInt16(1 + g() % 32766);
    if (i % 8 == 0) {  // denormals (exponent bits 0, integer bit clear)
      exp = 0;
      sig >>= 1 + g() % 63;
    }
    floatExt v = ExtFromParts(uInt16(exp | ((g() & 1) << 15)), sig);
    int n = 1 + int(g() % 17);
    ExtToDecimalRec(v, n, &r);
    char s[80];
    std::snprintf(s, sizeof s, "%.*Le", n - 1, v);
    std::string want;
    int e;
    PrintfDigits(s, &want, &e);
    ASSERT_EQ(RecDigits(r), want) << s;
    ASSERT_EQ(r.exponent, e - (n - 1)) << s;
    ASSERT_EQ(r.digits, n);
  }
}

TEST(ExtDecimal, FixedDigitsMatchPrintfF) {
  std::mt19937_64 g(5);
  DecimalRec r;
  for (int i = 0; i < 50000; ++i) {
    floatExt v = std::ldexp(floatExt(g() >> (g() % 64)), -int(g() % 100));
    if (g() & 1) v = -v;
    int dig = -int(g() % 22);
    ExtToDecimalRec(v, dig, &r);
    char s[200];
    std::snprintf(s, sizeof s, "%.*Lf", -dig, v);
    std::string all;
    for (const char* p = s; *p; ++p)
      if (*p >= '0' && *p <= '9') all.push_back(*p);
    size_t nz = all.find_first_not_of('0');
    std::string want = nz == std::string::npos ? std::string() : all.substr(nz);
    if (want.size() <= 17) {
      ASSERT_EQ(r.exponent, dig) << s;
      ASSERT_EQ(RecDigits(r), want) << s;
    } else {
      ASSERT_EQ(r.digits, 17) << s;  // more than 17 digits: 17 significant ones
    }
  }
}

TEST(ExtDecimal, FixedDigitsExamplesAndTies) {
  DecimalRec r;
  DoubleToDecimalRec(3.14159, -2, &r);
  EXPECT_EQ(RecDigits(r), "314");
  EXPECT_EQ(r.exponent, -2);
  EXPECT_EQ(r.digits, 3);
  // Exact halves round to even.
  const struct {
    double v;
    int digits;
    const char* want;
  } ties[] = {{0.5, 0, ""}, {1.5, 0, "2"}, {2.5, 0, "2"}, {0.125, -2, "12"}, {0.375, -2, "38"},
              {25.0, 1, "2"}, {35.0, 1, "4"}, {1.25, 2, "12"}, {9.5, 1, "1"}};
  for (auto& t : ties) {
    DoubleToDecimalRec(t.v, t.digits, &r);
    EXPECT_EQ(RecDigits(r), t.want) << t.v << " " << t.digits;
  }
  DoubleToDecimalRec(9.5, 1, &r);  // rounds into the next power of ten
  EXPECT_EQ(r.exponent, 1);
  DoubleToDecimalRec(0.001, 0, &r);  // below the last digit: no digits, sign kept
  EXPECT_EQ(r.digits, 0);
  EXPECT_EQ(r.exponent, 0);
  DoubleToDecimalRec(-0.001, -1, &r);
  EXPECT_EQ(r.digits, 0);
  EXPECT_EQ(r.sign, 0x80);
  DoubleToDecimalRec(0.06, -1, &r);
  EXPECT_EQ(RecDigits(r), "1");
  EXPECT_EQ(r.exponent, -1);
}

TEST(ExtDecimal, MoreThanSeventeenDigitsGiveSeventeen) {
  DecimalRec r;
  DoubleToDecimalRec(1.0 / 3.0, 40, &r);
  EXPECT_EQ(r.digits, 17);
  EXPECT_EQ(RecDigits(r), "33333333333333331");
  EXPECT_EQ(r.exponent, -17);
  DoubleToDecimalRec(123456789.0, -20, &r);  // 29 digits asked: 17 significant
  EXPECT_EQ(r.digits, 17);
  EXPECT_EQ(RecDigits(r), "12345678900000000");
  EXPECT_EQ(r.exponent, -8);
  ExtToDecimalRec(1e300L, INT32_MIN, &r);
  EXPECT_EQ(r.digits, 17);
}

TEST(ExtDecimal, ZeroInfinityAndNaNRecords) {
  DecimalRec r;
  DoubleToDecimalRec(0.0, 17, &r);
  EXPECT_EQ(r.digits, 0);
  EXPECT_EQ(r.sign, 0);
  EXPECT_EQ(r.exponent, 0);
  DoubleToDecimalRec(-0.0, 5, &r);
  EXPECT_EQ(r.sign, 0x80);
  floatExt z = DecimalRecToExt(&r);
  EXPECT_EQ(z, 0);
  EXPECT_TRUE(std::signbit(z));

  const floatExt specials[] = {INFINITY, -INFINITY, NAN, -NAN};
  for (floatExt v : specials) {
    ExtToDecimalRec(v, 17, &r);
    EXPECT_EQ(r.exponent, std::isnan(v) ? kDecExpNaN : kDecExpInf);
    EXPECT_EQ(r.sign, std::signbit(v) ? 0x80 : 0);
    EXPECT_EQ(r.digits, 0);
    floatExt back = DecimalRecToExt(&r);
    EXPECT_EQ(std::isnan(back), std::isnan(v));
    EXPECT_EQ(std::isinf(back), std::isinf(v));
    EXPECT_EQ(std::signbit(back), std::signbit(v));
    double d = DecimalRecToDouble(&r);
    EXPECT_EQ(std::isnan(d), std::isnan(v));
    EXPECT_EQ(std::signbit(d), std::signbit(v));
  }
  // A value the processor does not accept (an unnormal) is reported as NaN.
  ExtToDecimalRec(ExtFromParts(0x3FFF, 0x4000000000000000ull), 17, &r);
  EXPECT_EQ(r.exponent, kDecExpNaN);
}

TEST(ExtDecimal, RecordsMatchStrtoldStrtodStrtof) {
  std::mt19937_64 g(99);
  DecimalRec r;
  for (int i = 0; i < 100000; ++i) {
    int nd = 1 + int(g() % 18);
    char ds[24];
    for (int j = 0; j < nd; ++j) ds[j] = char('0' + g() % 10);
    if (ds[0] == '0') ds[0] = '7';
    ds[nd] = 0;
    int e;
    switch (g() % 4) {
      case 0: e = int(g() % 9904) - 4971; break;   // the whole extended range
      case 1: e = int(g() % 700) - 360; break;     // the double range
      case 2: e = int(g() % 80) - 345; break;      // double denormals
      default: e = int(g() % 120) - 4965; break;   // extended denormals
    }
    bool neg = g() & 1;
    DecimalRecSetDigits(r, ds, nd, neg, e);
    char s[64];
    std::snprintf(s, sizeof s, "%s%se%d", neg ? "-" : "", ds, e);
    floatExt want = std::strtold(s, nullptr);
    ASSERT_TRUE(SameBits(DecimalRecToExt(&r), want)) << s;
    double wd = std::strtod(s, nullptr), gd = DecimalRecToDouble(&r);
    ASSERT_EQ(std::memcmp(&wd, &gd, 8), 0) << s;
    float wf = std::strtof(s, nullptr), gf = DecimalRecToSingle(&r);
    ASSERT_EQ(std::memcmp(&wf, &gf, 4), 0) << s;
  }
}

TEST(ExtDecimal, HalfwayCasesNeedTheExactComparison) {
  // Decimal texts exactly halfway between neighbouring doubles or extended
  // numbers, and a hair above or below: the 128-bit estimate cannot decide.
  const char* texts[] = {
      "9007199254740993",          // 2^53 + 1: tie, to even
      "9007199254740995",          // tie, to even (up)
      "900719925474099300001e-5",  // just above the tie
      "18446744073709551617",      // 2^64 + 1: extended tie
      "2.4703282292062327e-324",   // half the smallest double denormal, below
      "2.4703282292062328e-324",   // above
      "1.00000000000000011102230246251565404236316680908203125",  // 1 + 2^-53: tie
      "7.2057594037927933e16",     // 2^56 + 8 region
  };
  for (const char* t : texts) {
    char digits[24];
    int nd = 0, exp10 = 0;
    bool point = false;
    const char* p = t;
    for (; *p && *p != 'e'; ++p) {
      if (*p == '.') {
        point = true;
        continue;
      }
      if (nd < 18) {
        digits[nd++] = *p;
        if (point) --exp10;
      } else if (!point) {
        ++exp10;
      }
    }
    if (*p == 'e') exp10 += std::atoi(p + 1);
    DecimalRec r;
    DecimalRecSetDigits(r, digits, nd, false, exp10);
    std::string cut = std::string(digits, nd) + "e" + std::to_string(exp10);
    floatExt want = std::strtold(cut.c_str(), nullptr);
    EXPECT_TRUE(SameBits(DecimalRecToExt(&r), want)) << cut;
    EXPECT_EQ(DecimalRecToDouble(&r), std::strtod(cut.c_str(), nullptr)) << cut;
  }
}

TEST(ExtDecimal, RandomTiesAndNearTiesAgreeWithTheCLibrary) {
  std::mt19937_64 g(4242);
  DecimalRec r;
  for (int i = 0; i < 20000; ++i) {
    // Halfway between two doubles (or singles), M + 1/2 written as
    // (10M + 5) * 10^-1, and one unit of the last digit either side.
    bool single = i & 1;
    uInt64 m = single ? (1u << 23) + g() % (1u << 23) : (1ull << 52) + g() % (1ull << 52);
    uInt64 d = m * 10 + 5 + uInt64(int(g() % 3) - 1);
    char ds[24];
    int nd = std::snprintf(ds, sizeof ds, "%llu", (unsigned long long)d);
    DecimalRecSetDigits(r, ds, nd, false, -1);
    std::string t = std::string(ds) + "e-1";
    if (single) {
      float want = std::strtof(t.c_str(), nullptr);
      ASSERT_EQ(DecimalRecToSingle(&r), want) << t;
    } else {
      ASSERT_EQ(DecimalRecToDouble(&r), std::strtod(t.c_str(), nullptr)) << t;
    }
    // Formatting: (10D + 5) * 10^(j-1) asked with the digits of D is an
    // exact tie; with k < 0 the power of ten is not exact.
    int nD = 1 + int(g() % 14);
    uInt64 lim = 1;
    for (int k = 0; k < nD; ++k) lim *= 10;
    uInt64 D = lim / 10 + g() % (lim - lim / 10);
    int j = 1 + int(g() % 2);
    double x = double((D * 10 + 5) * (j == 2 ? 10 : 1));
    DoubleToDecimalRec(x, nD, &r);
    char s[64];
    std::snprintf(s, sizeof s, "%.*e", nD - 1, x);
    std::string want;
    int e;
    PrintfDigits(s, &want, &e);
    ASSERT_EQ(RecDigits(r), want) << s;
  }
}

TEST(ExtDecimal, TextsJustBelowPowersOfTwoRoundUpToThem) {
  // 2^N cut to 18 digits lies a little below 2^N; often within half a unit
  // of it, and then the rounded significand carries out of its 64 bits.
  DecimalRec r;
  for (int n = -16440; n <= 16383; n += 7) {
    char s[64];
    std::snprintf(s, sizeof s, "%.30Le", ldexpl(1.0L, n));  // exact digits
    std::string digits;
    int e;
    PrintfDigits(s, &digits, &e);
    digits.resize(18);
    for (int up = 0; up < 2; ++up) {
      std::string d = digits;
      if (up) {  // one unit of the last digit above instead
        int i = 17;
        while (d[i] == '9') d[i--] = '0';
        ++d[i];
      }
      DecimalRecSetDigits(r, d.c_str(), 18, false, e - 17);
      std::string t = d + "e" + std::to_string(e - 17);
      ASSERT_TRUE(SameBits(DecimalRecToExt(&r), std::strtold(t.c_str(), nullptr))) << t;
      if (n > -1080 && n < 1024) {
        ASSERT_EQ(DecimalRecToDouble(&r), std::strtod(t.c_str(), nullptr)) << t;
      }
    }
  }
}

TEST(ExtDecimal, HugeExponentsGiveInfinityOrZero) {
  DecimalRec r;
  const int exps[] = {8192, 9000, 32000, 0x7FFD};
  for (int e : exps) {
    DecimalRecSetDigits(r, "1", 1, false, e);
    EXPECT_EQ(DecimalRecToExt(&r), floatExt(INFINITY)) << e;
    EXPECT_EQ(DecimalRecToDouble(&r), double(INFINITY)) << e;
    DecimalRecSetDigits(r, "999999999999999999", 18, true, -e);
    floatExt z = DecimalRecToExt(&r);
    EXPECT_EQ(z, 0) << -e;
    EXPECT_TRUE(std::signbit(z));
  }
  DecimalRecSetDigits(r, "1", 1, false, 4932);  // the largest power that fits
  EXPECT_TRUE(std::isfinite(DecimalRecToExt(&r)));
  DecimalRecSetDigits(r, "12", 2, false, 4931);
  EXPECT_TRUE(std::isinf(DecimalRecToExt(&r)));
  DecimalRecSetDigits(r, "4", 1, false, -4951);  // rounds to the smallest denormal
  EXPECT_EQ(ExtSig(DecimalRecToExt(&r)), 1u);
  DecimalRecSetDigits(r, "1", 1, false, -4951);  // below half of it
  EXPECT_EQ(DecimalRecToExt(&r), 0);
}

TEST(ExtDecimal, BadDigitNibblesDoNotTrap) {
  DecimalRec r;
  std::memset(&r, 0xFF, sizeof r);
  r.exponent = 12;
  floatExt v = DecimalRecToExt(&r);
  EXPECT_TRUE(std::isfinite(v));
  EXPECT_LT(v, 0);
}

TEST(ExtDecimal, PowersOfTenTable) {
  InitPowersOfTen();  // a second call changes nothing
  EXPECT_EQ(gExtPowersOfTen[0], 1.0L);
  EXPECT_EQ(gExtPowersOfTen[1], 10.0L);  // 2^(log2 10) came out exactly 10
  floatExt exact = 10.0L;
  for (int i = 2; i <= 5; ++i) {
    exact *= exact;
    EXPECT_EQ(gExtPowersOfTen[i], exact) << i;  // up to 10^16 exact
  }
  for (int i = 2; i < 14; ++i) {
    floatExt sq = gExtPowersOfTen[i - 1] * gExtPowersOfTen[i - 1];
    EXPECT_TRUE(SameBits(gExtPowersOfTen[i], sq)) << i;
  }
  EXPECT_NEAR(double(gExtPowersOfTen[13] / 1e4096L), 1.0, 1e-15);
}

}  // namespace

namespace {

TEST(ExtDecimalThreads, ConcurrentConversionsAgreeWithOneThread) {
  // Valgrind runs x87 code with 64-bit doubles: only what needs no more
  // precision than that is compared there.
  const bool valgrind = std::getenv("QX_UNDER_VALGRIND") != nullptr;
  const int n = valgrind ? 300 : 20000;
  std::mt19937_64 g(8);
  std::vector<double> values(n);
  for (double& v : values) v = RandomDouble(g);
  std::vector<DecimalRec> want(n);
  for (int i = 0; i < n; ++i) DoubleToDecimalRec(values[i], 17, &want[i]);
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < n; ++i) {
        int k = (i * 7 + t * 13) % n;
        DecimalRec r;
        DoubleToDecimalRec(values[k], 17, &r);
        if (std::memcmp(&r, &want[k], sizeof r) != 0 || DecimalRecToDouble(&r) != values[k] ||
            (!valgrind && double(DecimalRecToExt(&r)) != values[k]))
          bad.fetch_add(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
