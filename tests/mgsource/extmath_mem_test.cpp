// Memory primitives of the extended-precision library: stores with pinning,
// loads, the floating-point reset, integer tests and the 16-byte flat form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "extmath_test_util.h"

namespace {

const floatExt kInf = INFINITY;
const floatExt kNaN = NAN;

struct Stored {
  int32 result;
  uInt64 bits;  // the stored bytes, zero-extended
};

Stored Store(int32 type, floatExt v) {
  uChar buf[16];
  std::memset(buf, 0xA5, sizeof buf);
  Stored s;
  s.result = ExtStoreNumber(type, buf, v);
  static const int widths[] = {0, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 10};
  s.bits = 0;
  std::memcpy(&s.bits, buf, std::min(widths[type], 8));
  if (widths[type] < 8) {
    EXPECT_EQ(buf[widths[type]], 0xA5) << "wrote past the target";
  }
  return s;
}

TEST(ExtStore, PinnedIntegerTargets) {
  EXPECT_EQ(Store(kNumI8, 300.0L).result, 1);
  EXPECT_EQ(int8(Store(kNumI8, 300.0L).bits), 127);
  EXPECT_EQ(int8(Store(kNumI8, -300.0L).bits), -128);
  EXPECT_EQ(int8(Store(kNumI8, -kInf).bits), -128);
  EXPECT_EQ(Store(kNumU8, 255.5L).bits, 255u);  // rounds to 256, pinned
  EXPECT_EQ(Store(kNumU8, 1e10L).bits, 255u);
  EXPECT_EQ(Store(kNumU8, -0.6L).bits, 0u);
  EXPECT_EQ(Store(kNumU8, -0.4L).result, 1);
  EXPECT_EQ(Store(kNumU16, 40000.0L).bits, 40000u);
  EXPECT_EQ(Store(kNumU16, 70000.0L).bits, 65535u);
  EXPECT_EQ(int16(Store(kNumI16, 40000.0L).bits), 32767);
  EXPECT_EQ(int16(Store(kNumI16, -40000.0L).bits), -32768);
  EXPECT_EQ(int32(Store(kNumI32, 3e9L).bits), INT32_MAX);
  EXPECT_EQ(int32(Store(kNumI32, -3e9L).bits), INT32_MIN);
  EXPECT_EQ(Store(kNumU32, 4294967295.0L).bits, 4294967295u);
  EXPECT_EQ(Store(kNumU32, 5e9L).bits, 4294967295u);
  EXPECT_EQ(Store(kNumU32, -5.0L).bits, 0u);
  EXPECT_EQ(Store(kNumU32, 5e9L).result, 1);
}

TEST(ExtStore, RoundsToNearestEven) {
  for (int32 t : {kNumI8, kNumI16, kNumI32, kNumI64, kNumU8, kNumU16, kNumU32, kNumU64}) {
    EXPECT_EQ(Store(t, 2.5L).bits, 2u) << t;
    EXPECT_EQ(Store(t, 3.5L).bits, 4u) << t;
    EXPECT_EQ(Store(t, 2.4999L).bits, 2u) << t;
    EXPECT_EQ(Store(t, 2.5L).result, 1);
  }
  EXPECT_EQ(int8(Store(kNumI8, -2.5L).bits), -2);
  EXPECT_EQ(int64(Store(kNumI64, -3.5L).bits), -4);
}

TEST(ExtStore, NaNFailsForEveryIntegerType) {
  const uInt64 expect[] = {0, 0x80, 0x8000, 0x80000000u, 0x8000000000000000ull, 0, 0, 0, 0x8000000000000000ull};
  for (int32 t = kNumI8; t <= kNumU64; ++t) {
    Stored s = Store(t, kNaN);
    EXPECT_EQ(s.result, 0) << t;
    EXPECT_EQ(s.bits, expect[t]) << t;
  }
}

TEST(ExtStore, SixtyFourBitTargetsAreNotPinned) {
  Stored s = Store(kNumU64, -1.0L);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.bits, ~0ull);  // the two's complement stays
  s = Store(kNumU64, 9223372036854775808.0L);  // 2^63
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.bits, 0x8000000000000000ull);
  s = Store(kNumU64, 18446744073709551615.0L);  // 2^64 - 1, exact in extended
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.bits, ~0ull);
  s = Store(kNumU64, 18446744073709551616.0L);  // 2^64
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.bits, 0x8000000000000000ull);  // integer-indefinite
  s = Store(kNumU64, -0.25L);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.bits, 0u);
  s = Store(kNumI64, 9223372036854775808.0L);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.bits, 0x8000000000000000ull);
  s = Store(kNumI64, -9223372036854775808.0L);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.bits, 0x8000000000000000ull);
  s = Store(kNumI64, -1e30L);
  EXPECT_EQ(s.result, 0);
  s = Store(kNumI64, 123456789012345678.0L);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(int64(s.bits), 123456789012345678LL);
}

TEST(ExtStore, FloatTargets) {
  float f;
  EXPECT_EQ(ExtStoreNumber(kNumSGL, &f, 1e300L), 1);
  EXPECT_EQ(f, INFINITY);
  EXPECT_EQ(ExtStoreNumber(kNumSGL, &f, -1e300L), 1);
  EXPECT_EQ(f, -INFINITY);
  double d;
  EXPECT_EQ(ExtStoreNumber(kNumDBL, &d, -kInf), 1);
  EXPECT_EQ(d, -INFINITY);
  EXPECT_EQ(ExtStoreNumber(kNumDBL, &d, 0.1L), 1);
  EXPECT_EQ(d, 0.1);
  floatExt x = 0, v = ExtFromParts(0xC123, 0x8123456789ABCDEFull);
  EXPECT_EQ(ExtStoreNumber(kNumEXT, &x, v), 1);
  EXPECT_TRUE(SameBits(x, v));
  uChar buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(ExtStoreNumber(0, buf, 1.0L), 0);
  EXPECT_EQ(ExtStoreNumber(12, buf, 1.0L), 0);
  EXPECT_EQ(buf[0], 1);
}

TEST(ExtLoad, EveryRealType) {
  int8 i8 = -5;
  uInt8 u8 = 250;
  int16 i16 = -30000;
  uInt16 u16 = 65000;
  int32 i32 = INT32_MIN;
  uInt32 u32 = 4294967295u;
  int64 i64 = INT64_MIN;
  uInt64 u64 = ~0ull;
  float f = 0.1f;
  double d = -1e300;
  floatExt x = 1e4000L;
  EXPECT_EQ(ExtLoadNumber(kNumI8, &i8), -5);
  EXPECT_EQ(ExtLoadNumber(kNumU8, &u8), 250);
  EXPECT_EQ(ExtLoadNumber(kNumI16, &i16), -30000);
  EXPECT_EQ(ExtLoadNumber(kNumU16, &u16), 65000);
  EXPECT_EQ(ExtLoadNumber(kNumI32, &i32), -2147483648.0L);
  EXPECT_EQ(ExtLoadNumber(kNumU32, &u32), 4294967295.0L);
  EXPECT_EQ(ExtLoadNumber(kNumI64, &i64), -9223372036854775808.0L);
  EXPECT_EQ(ExtLoadNumber(kNumU64, &u64), 18446744073709551615.0L);
  u64 = 1ull << 63;
  EXPECT_EQ(ExtLoadNumber(kNumU64, &u64), 9223372036854775808.0L);
  u64 = 12345;
  EXPECT_EQ(ExtLoadNumber(kNumU64, &u64), 12345);
  EXPECT_EQ(ExtLoadNumber(kNumSGL, &f), floatExt(0.1f));
  EXPECT_EQ(ExtLoadNumber(kNumDBL, &d), floatExt(-1e300));
  EXPECT_EQ(ExtLoadNumber(kNumEXT, &x), 1e4000L);
  EXPECT_TRUE(std::isnan(ExtLoadNumber(0, &x)));
  EXPECT_TRUE(std::isnan(ExtLoadNumber(15, &x)));
}

TEST(ExtLoad, StoresAndLoadsKeepTheRegisterStack) {
  uChar buf[16] = {};
  void (*stores[])() = {ExtStoreNumI8,  ExtStoreNumI16, ExtStoreNumI32,   ExtStoreNumI64,
                        ExtStoreNumU8,  ExtStoreNumU16, ExtStoreNumU32,   ExtStoreNumU64,
                        ExtStoreFloatSGL, ExtStoreFloatDBL, ExtStoreFloatEXT};
  for (auto fn : stores) {
    for (floatExt v : {1.5L, 1e30L, -1e30L, kNaN, -1.0L}) {
      RegCallResult r = CallReg(fn, {v}, 1, 0, false, {uInt32(uintptr_t(buf))});
      EXPECT_TRUE(SentinelsIntact(r));
      EXPECT_EQ(DepthChange(r), 0);  // the value stays in ST0, pinned or not
      EXPECT_TRUE(SameBits(r.out[0], v) || (std::isnan(v) && std::isnan(r.out[0])));
    }
  }
  void (*loads[])() = {ExtLoadNumI8, ExtLoadNumI16, ExtLoadNumI32, ExtLoadNumI64, ExtLoadNumU8, ExtLoadNumU16,
                       ExtLoadNumU32, ExtLoadNumU64, ExtLoadNumSGL, ExtLoadNumDBL, ExtLoadNumEXT};
  std::memset(buf, 0, sizeof buf);
  buf[0] = 7;
  for (auto fn : loads) {
    RegCallResult r = CallReg(fn, {}, 1, 0, false, {uInt32(uintptr_t(buf))});
    EXPECT_TRUE(SentinelsIntact(r));
    EXPECT_EQ(DepthChange(r), 1);
  }
  RegCallResult r = CallReg(ExtStoreNumI8, {300.0L}, 1, 0, false, {uInt32(uintptr_t(buf))});
  EXPECT_EQ(r.eax, 1);
  EXPECT_EQ(buf[0], 127);
}

TEST(ExtFPU, ResetGivesTheInitialState) {
  struct Env {
    uInt16 cw, r0, sw, r1, tag, r2;
    uInt32 rest[4];
  } env;
  uInt16 cw = 0x0C72;  // single precision, toward zero, some exceptions unmasked
  // From an empty register stack: a load onto a full one, with the invalid
  // operation unmasked, would trap.
  asm volatile("fninit");
  asm volatile("fldcw %0" : : "m"(cw));
  asm volatile("fld1; fldz; fld1" ::: "st", "st(1)", "st(2)");
  FPUReset();
  asm volatile("fnstenv %0" : "=m"(env));
  EXPECT_EQ(env.cw & 0x1F3F, 0x033F);  // all masked, 64-bit precision, nearest
  EXPECT_EQ(env.sw & 0x38FF, 0);       // no flags, top of stack 0
  EXPECT_EQ(env.tag, 0xFFFF);          // every register empty
  ExtConvEnter();
  ExtConvLeave();
  asm volatile("fnstenv %0" : "=m"(env));
  EXPECT_EQ(env.tag, 0xFFFF);
}

TEST(ExtFPU, IntegerClassAndTruncation) {
  EXPECT_EQ(ExtIntClassOf(3.0L), 2);
  EXPECT_EQ(ExtIntClassOf(-3.0L), 1);
  EXPECT_EQ(ExtIntClassOf(0.0L), 2);
  EXPECT_EQ(ExtIntClassOf(-0.0L), 2);
  EXPECT_EQ(ExtIntClassOf(2.5L), 0);
  EXPECT_EQ(ExtIntClassOf(1e30L), 2);
  EXPECT_EQ(ExtIntClassOf(-1e4000L), 1);
  EXPECT_EQ(ExtIntClassOf(1e-4940L), 0);
  EXPECT_EQ(ExtIntClassOf(kInf), 0);
  EXPECT_EQ(ExtIntClassOf(kNaN), 0);
  EXPECT_EQ(ExtTruncOf(2.7L), 2.0L);
  EXPECT_EQ(ExtTruncOf(-2.7L), -2.0L);
  EXPECT_EQ(ExtTruncOf(-0.5L), 0.0L);
  EXPECT_TRUE(std::signbit(ExtTruncOf(-0.5L)));
  EXPECT_EQ(ExtTruncOf(kInf), kInf);
  RegCallResult r = CallReg(ExtTrunc, {-7.9L}, 1, 0x027F);
  EXPECT_EQ(r.out[0], -7.0L);
  EXPECT_EQ(r.cwAfter, r.cwBefore);  // the control word is put back
  EXPECT_TRUE(SentinelsIntact(r));
  r = CallReg(ExtIntClass, {-4.0L}, 1);
  EXPECT_EQ(r.eax, 1);
  EXPECT_EQ(DepthChange(r), 0);
}

// The flat form as the original rule writes it: the significand shifted
// whenever the whole sign-and-exponent word is not 0.
void FlatByWordRule(floatExt v, uChar out[16]) {
  uInt16 se = ExtSignExp(v);
  uInt64 sig = ExtSig(v);
  if (se != 0) sig <<= 1;
  out[0] = uChar(se >> 8);
  out[1] = uChar(se);
  for (int i = 0; i < 8; ++i) out[2 + i] = uChar(sig >> (56 - 8 * i));
  std::memset(out + 10, 0, 6);
}

TEST(ExtFlat, OneAndSimpleValues) {
  uChar flat[16];
  floatExt one = 1.0L;
  ExtNativeToBE(&one, flat);
  const uChar want[16] = {0x3F, 0xFF};
  EXPECT_EQ(std::memcmp(flat, want, 16), 0);
  floatExt back = 0;
  ExtBEToNative(flat, &back);
  EXPECT_EQ(back, 1.0L);
  floatExt m = -1.5L;
  ExtNativeToBE(&m, flat);
  const uChar wantM[16] = {0xBF, 0xFF, 0x80};
  EXPECT_EQ(std::memcmp(flat, wantM, 16), 0);
}

TEST(ExtFlat, NormalValuesZerosAndDenormalsRoundTrip) {
  std::mt19937_64 g(11);
  uChar flat[16];
  for (int i = 0; i < 100000; ++i) {
    floatExt v = ExtFromParts(uInt16(1 + g() % 0x7FFE) | uInt16((g() & 1) << 15), g() | (1ull << 63));
    ExtNativeToBE(&v, flat);
    for (int k = 10; k < 16; ++k) ASSERT_EQ(flat[k], 0);
    floatExt back;
    ExtBEToNative(flat, &back);
    ASSERT_TRUE(SameBits(back, v));
  }
  for (uInt16 sign : {uInt16(0), uInt16(0x8000)}) {
    for (int i = 0; i < 1000; ++i) {
      uInt64 sig = i == 0 ? 0 : (g() >> (1 + g() % 63));  // zero, then denormals
      floatExt v = ExtFromParts(sign, sig);
      ExtNativeToBE(&v, flat);
      floatExt back;
      ExtBEToNative(flat, &back);
      ASSERT_TRUE(SameBits(back, v)) << sign << " " << sig;
      ASSERT_EQ(back, v);
    }
  }
}

TEST(ExtFlat, PositiveValuesAreWrittenByTheWordRule) {
  std::mt19937_64 g(12);
  for (int i = 0; i < 100000; ++i) {
    uInt16 se = uInt16(g() & 0x7FFF);
    if (i % 10 == 0) se = 0;
    if (i % 10 == 1) se = 0x7FFF;
    floatExt v = ExtFromParts(se, g());  // any pattern: unnormals, NaNs, pseudo-denormals
    uChar mine[16], want[16];
    ExtNativeToBE(&v, mine);
    FlatByWordRule(v, want);
    ASSERT_EQ(std::memcmp(mine, want, 16), 0);
  }
  // Negative normal numbers too.
  floatExt v = -3.25e100L;
  uChar mine[16], want[16];
  ExtNativeToBE(&v, mine);
  FlatByWordRule(v, want);
  EXPECT_EQ(std::memcmp(mine, want, 16), 0);
}

TEST(ExtFlat, NegativeZeroOfTheWordRuleReadsBackAsNegativeZero) {
  const uChar flat[16] = {0x80, 0x00};
  floatExt v = 1;
  ExtBEToNative(flat, &v);
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(std::signbit(v));
  EXPECT_EQ(ExtSig(v), 0u);
}

TEST(ExtFlat, AnyBytesConvertWithoutTrapping) {
  std::mt19937_64 g(13);
  for (int i = 0; i < 10000; ++i) {
    uChar flat[16];
    for (auto& b : flat) b = uChar(g());
    floatExt v;
    ExtBEToNative(flat, &v);
    uChar again[16];
    ExtNativeToBE(&v, again);
    ASSERT_EQ(std::memcmp(again, flat, 2), 0);  // the word is kept
    if ((flat[0] & 0x7F) | flat[1]) {
      // the significand's 63 fraction bits come back; the last bit is dropped
      ASSERT_EQ(std::memcmp(again + 2, flat + 2, 7), 0);
      ASSERT_EQ(again[9], flat[9] & 0xFE);
    }
  }
}

}  // namespace
