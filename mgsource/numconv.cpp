// Conversion between the numeric types, rounding helpers, constants, the
// integer digit writers and the system's default decimal point.
#include "numconv.h"

#include <cmath>
#include <cstring>

#include "config.h"
#include "cfgwords.h"
#include "debug.h"
#include "numconv_internal.h"
#include "platform/qx_locale.h"

namespace {

struct TypeInfo {
  int8 size;
  int8 cls;
};
// Indexed by the low four bits of a NumType code.
constexpr TypeInfo kTypes[16] = {
    {0, kNumClassNone},                              // 0 no number
    {1, kNumClassSigned},   {2, kNumClassSigned},   {4, kNumClassSigned},   {8, kNumClassSigned},
    {1, kNumClassUnsigned}, {2, kNumClassUnsigned}, {4, kNumClassUnsigned}, {8, kNumClassUnsigned},
    {4, kNumClassFloat},    {8, kNumClassFloat},    {10, kNumClassFloat},
    {8, kNumClassComplex},  {16, kNumClassComplex}, {20, kNumClassComplex},
    {0, kNumClassNone},                              // 15 no number
};

constexpr long double kTwo63 = 9223372036854775808.0L;
constexpr long double kTwo64 = 18446744073709551616.0L;

bool IsIntegerClass(int32 cls) { return cls == kNumClassSigned || cls == kNumClassUnsigned || cls == kNumClassNone; }

// A type code taken from outside: 16 or more is reported, the low bits used.
int32 CheckedType(int32 type) {
  if (uInt32(type) >= 16) {
    DBAssert(__FILE__, __LINE__, "number type code out of range");
    type &= 15;
  }
  return type;
}

int64 LoadInt64(int32 type, const void* p) {
  switch (type) {
    case kNumI8: { int8 v; std::memcpy(&v, p, 1); return v; }
    case kNumI16: { int16 v; std::memcpy(&v, p, 2); return v; }
    case kNumI32: { int32 v; std::memcpy(&v, p, 4); return v; }
    case kNumI64: { int64 v; std::memcpy(&v, p, 8); return v; }
    case kNumU8: { uInt8 v; std::memcpy(&v, p, 1); return v; }
    case kNumU16: { uInt16 v; std::memcpy(&v, p, 2); return v; }
    case kNumU32: { uInt32 v; std::memcpy(&v, p, 4); return v; }
    case kNumU64: { uInt64 v; std::memcpy(&v, p, 8); return int64(v); }
    default: return 0;
  }
}

void StoreLowBytes(int32 type, void* p, int64 v) {
  int32 n = kTypes[type].size;
  if (n > 0 && IsIntegerClass(kTypes[type].cls)) std::memcpy(p, &v, size_t(n));  // little-endian: low bytes first
}

int32 StoreI32Sat(long double x) {
  if (x != x) return INT32_MIN;
  long double r = __builtin_rintl(x);
  if (r >= 2147483647.0L) return INT32_MAX;
  if (r <= -2147483648.0L) return INT32_MIN;
  return int32(r);
}

}  // namespace

// ---------------------------------------------------------------- internals

long double NumLoadExt(const void* p) {
  uChar b[10];
  std::memcpy(b, p, 10);
  uInt16 se = uInt16(b[8] | (b[9] << 8));
  bool intBit = (b[7] & 0x80) != 0;
  uInt32 e = se & 0x7FFF;
  // Encodings the processor refuses (unnormals, pseudo-infinities and
  // pseudo-NaNs) read as the system's NaN.
  if (!intBit && e != 0) return NumSystemNaN();
  long double x = 0;
  std::memcpy(&x, b, 10);
  return x;
}

void NumStoreExt(void* p, long double x) { std::memcpy(p, &x, 10); }

long double NumSystemNaN() {
  // All mantissa bits set, exponent 7FFF.
  uChar b[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0};
  long double x;
  std::memcpy(&x, b, sizeof x);
  return x;
}

long double NumLoadReal(int32 type, const void* p) {
  switch (type) {
    case kNumSGL: case kNumCSG: { float32 v; std::memcpy(&v, p, 4); return v; }
    case kNumDBL: case kNumCDB: { float64 v; std::memcpy(&v, p, 8); return v; }
    case kNumEXT: case kNumCXT: return NumLoadExt(p);
    case kNumU64: { uInt64 v; std::memcpy(&v, p, 8); return static_cast<long double>(v); }
    default: return static_cast<long double>(LoadInt64(type, p));
  }
}

long double NumLoadImag(int32 type, const void* p) {
  const uChar* b = static_cast<const uChar*>(p);
  switch (type) {
    case kNumCSG: return NumLoadReal(kNumSGL, b + 4);
    case kNumCDB: return NumLoadReal(kNumDBL, b + 8);
    case kNumCXT: return NumLoadExt(b + 10);
    default: return 0;
  }
}

void NumStoreReal(int32 type, void* p, long double x) {
  switch (type) {
    case kNumI8: {
      int32 w = StoreI32Sat(x);
      int8 v = int8(w < -128 ? -128 : w > 127 ? 127 : w);
      std::memcpy(p, &v, 1);
      return;
    }
    case kNumI16: {
      int32 w = StoreI32Sat(x);
      int16 v = int16(w < -32768 ? -32768 : w > 32767 ? 32767 : w);
      std::memcpy(p, &v, 2);
      return;
    }
    case kNumI32: { int32 v = StoreI32Sat(x); std::memcpy(p, &v, 4); return; }
    case kNumU8: case kNumU16: {
      // Through a signed 32-bit store, then clamped.
      int32 w = StoreI32Sat(x);
      int32 hi = type == kNumU8 ? 255 : 65535;
      w = w < 0 ? 0 : w > hi ? hi : w;
      std::memcpy(p, &w, type == kNumU8 ? 1 : 2);
      return;
    }
    case kNumU32: {
      uInt32 v;
      if (x != x) v = 0;
      else {
        long double r = __builtin_rintl(x);
        v = r <= 0 ? 0 : r >= 4294967295.0L ? 0xFFFFFFFFu : uInt32(r);
      }
      std::memcpy(p, &v, 4);
      return;
    }
    case kNumI64: case kNumU64: {
      // No saturation: out of range and NaN give the integer-indefinite
      // value; an unsigned target also takes 2^63 <= r < 2^64 exactly, and a
      // negative value keeps its two's-complement form.
      uInt64 v = 0x8000000000000000ull;
      if (x == x) {
        long double r = __builtin_rintl(x);
        if (r >= -kTwo63 && r < kTwo63) v = uInt64(int64(r));
        else if (type == kNumU64 && r >= kTwo63 && r < kTwo64) v = uInt64(r);
      }
      std::memcpy(p, &v, 8);
      return;
    }
    case kNumSGL: { float32 v = float32(x); std::memcpy(p, &v, 4); return; }
    case kNumDBL: { float64 v = float64(x); std::memcpy(p, &v, 8); return; }
    case kNumEXT: NumStoreExt(p, x); return;
    default: return;
  }
}

// ---------------------------------------------------------------- types

int32 NumSize(int32 type) { return kTypes[type & 15].size; }
int32 NumClass(int32 type) { return kTypes[type & 15].cls; }

void ConvertNum(int32 srcType, const void* src, int32 dstType, void* dst) {
  // An integer to its own type is a copy of its bytes.
  if (srcType == dstType && uInt32(srcType) < 16 && IsIntegerClass(kTypes[srcType].cls) && src && dst) {
    switch (kTypes[srcType].size) {
      case 1: std::memcpy(dst, src, 1); break;
      case 2: std::memcpy(dst, src, 2); break;
      case 4: std::memcpy(dst, src, 4); break;
      case 8: std::memcpy(dst, src, 8); break;
      default: break;  // a code of no type stores nothing
    }
    return;
  }
  srcType = CheckedType(srcType);
  dstType = CheckedType(dstType);
  if (!dst) return;
  int32 sc = kTypes[srcType].cls, dc = kTypes[dstType].cls;
  if (IsIntegerClass(sc) && IsIntegerClass(dc)) {
    StoreLowBytes(dstType, dst, src ? LoadInt64(srcType, src) : 0);
    return;
  }
  long double re = 0, im = 0;
  if (src && sc != kNumClassNone) {
    re = NumLoadReal(srcType, src);
    if (sc == kNumClassComplex) im = NumLoadImag(srcType, src);
  }
  if (dc == kNumClassComplex) {
    int32 part = dstType - 3;
    NumStoreReal(part, dst, re);
    NumStoreReal(part, static_cast<uChar*>(dst) + kTypes[part].size, im);
  } else {
    NumStoreReal(dstType, dst, re);
  }
}

int32 NumToLong(int32 type, const void* src) {
  if (!src) return 0;
  int32 t = type & 15;
  if (IsIntegerClass(kTypes[t].cls)) return int32(LoadInt64(t, src));
  int32 v = 0;
  ConvertNum(type, src, kNumI32, &v);
  return v;
}

uInt32 NumToULong(int32 type, const void* src) {
  if (!src) return 0;
  int32 t = type & 15;
  if (IsIntegerClass(kTypes[t].cls)) return uInt32(uInt64(LoadInt64(t, src)));
  uInt32 v = 0;
  ConvertNum(type, src, kNumU32, &v);
  return v;
}

int32 ClassifyFloatNumber(int32 type, const void* src) {
  if (!src) return 0;
  long double x;
  switch (type) {
    case kNumSGL: case kNumDBL: case kNumEXT: x = NumLoadReal(type, src); break;
    default: return 0;
  }
  if (x != x) return 3;
  if (x == HUGE_VALL) return 2;
  if (x == -HUGE_VALL) return 1;
  return 0;
}

// ---------------------------------------------------------------- rounding

int32 RndToNearest(float64 x) { return StoreI32Sat(x); }

int32 RndToInc(int32 value, int32 increment) {
  if (increment == 0) return value;
  int64 inc = increment < 0 ? -int64(increment) : int64(increment);
  int64 v = value;
  int64 a = v < 0 ? -v : v;
  int64 q = (a + inc / 2) / inc;  // halves away from zero (odd increments have no halves)
  int64 r = q * inc;
  if (v < 0) r = -r;
  while (r > INT32_MAX) r -= inc;
  while (r < INT32_MIN) r += inc;
  return int32(r);
}

int32 Pin(int32 value, int32 low, int32 high) {
  if (high <= low) return low;
  return value < low ? low : value > high ? high : value;
}

int32 GetConstant(int32 index, int32 type, void* dst) {
  if (index < 0 || index > 5 || (type != kNumDBL && type != kNumEXT) || !dst) return 1;
  constexpr long double kPi = 3.14159265358979323846264338327950288L;
  long double x;
  switch (index) {
    case 0: x = NumSystemNaN(); break;
    case 1: x = HUGE_VALL; break;
    case 2: x = -HUGE_VALL; break;
    case 3: x = kPi; break;
    case 4: x = kPi / 2; break;
    default: x = kPi * 2; break;
  }
  if (type == kNumEXT) {
    NumStoreExt(dst, x);
  } else if (index == 0) {
    uInt64 bits = 0x7FFFFFFFFFFFFFFFull;  // the extended NaN's mantissa bits, cut to a double
    std::memcpy(dst, &bits, 8);
  } else {
    float64 d = float64(x);
    std::memcpy(dst, &d, 8);
  }
  return 0;
}

// ---------------------------------------------------------------- digits

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int32 WriteReversed(char* tmp, int32 n, char* out) {
  for (int32 i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  out[n] = 0;
  return n;
}
}  // namespace

int32 NumToUDecStr(uInt32 v, char* out) {
  if (!out) return 0;
  // Two digits a step, from the last one back.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char tmp[12];
  char* p = tmp + sizeof tmp;
  while (v >= 100) {
    const uInt32 r = v % 100;
    v /= 100;
    p -= 2;
    std::memcpy(p, kPairs + 2 * r, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * v, 2);
  } else {
    *--p = char('0' + v);
  }
  const int32 n = int32(tmp + sizeof tmp - p);
  std::memcpy(out, p, size_t(n));
  out[n] = 0;
  return n;
}

int32 NumToDecStr(int32 value, char* out) {
  if (!out) return 0;
  if (value >= 0) return NumToUDecStr(uInt32(value), out);
  out[0] = '-';
  return 1 + NumToUDecStr(0u - uInt32(value), out + 1);
}

int32 NumToHexStr(uInt32 v, char* out) {
  if (!out) return 0;
  char tmp[8];
  int32 n = 0;
  do {
    tmp[n++] = kHexDigits[v & 15];
    v >>= 4;
  } while (v);
  return WriteReversed(tmp, n, out);
}

int32 NumToOctStr(uInt32 v, char* out) {
  if (!out) return 0;
  char tmp[12];
  int32 n = 0;
  do {
    tmp[n++] = char('0' + (v & 7));
    v >>= 3;
  } while (v);
  return WriteReversed(tmp, n, out);
}

int32 NumToBinStr(uInt32 v, char* out) {
  if (!out) return 0;
  char tmp[32];
  int32 n = 0;
  do {
    tmp[n++] = char('0' + (v & 1));
    v >>= 1;
  } while (v);
  return WriteReversed(tmp, n, out);
}

int32 HexChar(int32 value) { return kHexDigits[value & 15]; }

// ---------------------------------------------------------------- globals

namespace {
// Written at start-up only, read by every formatting call.
uChar gDecimalPt = '.';
uChar gTimeSep = ':';
uChar gDateSep = '/';
const uChar kUseLocaleDecimalPtKey[] = "\x12" "useLocaleDecimalPt";
}  // namespace

uChar NumDefaultDecimalPt() { return gDecimalPt; }

void NumInitDecimalPt() {
  CfgGetDefault(kCfgBool, kUseLocaleDecimalPtKey, CfgWordPtr(kCfgWordUseLocaleDecimalPt));
  gDecimalPt = CfgWordGet(kCfgWordUseLocaleDecimalPt) ? uChar(PlatLocaleDecimalPoint()) : uChar('.');
}

uChar NumTimeSeparator() { return gTimeSep; }
uChar NumDateSeparator() { return gDateSep; }

void NumSetSeparators(uChar timeSep, uChar dateSep) {
  gTimeSep = timeSep;
  gDateSep = dateSep;
}
