#include "extsupport.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/qx_charcase.h"

MgErr CINStub(...) { return kCapabilityErr; }

// The five names share the one routine.
#define QX_CIN_STUB_ALIAS(name) QX_EXTERN_C MgErr name(...) __attribute__((alias("CINStub")));
QX_CIN_STUB_ALIAS(CINCopyWizardTemplate)
QX_CIN_STUB_ALIAS(CINGetHeapVIPath)
QX_CIN_STUB_ALIAS(CINGetObjType)
QX_CIN_STUB_ALIAS(CINGetWizardData)
QX_CIN_STUB_ALIAS(CINSetWizardData)
#undef QX_CIN_STUB_ALIAS

// ---------------------------------------------------------------- integers

int32 Abs(int32 i) {
  // Negating the most negative value wraps to itself, as the processor does.
  return i < 0 ? int32(0u - uInt32(i)) : i;
}

int32 ModPositive(int32 a, int32 b) {
  // A zero divisor, and INT_MIN / -1, would trap on the processor.
  if (b == 0 || (b == -1 && a == INT_MIN)) return 0;
  int32 r = a % b;
  if (r < 0) r = int32(int64(r) + (b < 0 ? -int64(b) : int64(b)));
  return r;
}

int32 Min(int32 a, int32 b) { return a < b ? a : b; }
int32 Max(int32 a, int32 b) { return a > b ? a : b; }

// -------------------------------------------------------------- characters

Bool32 IsDigit(int32 c) { return c >= '0' && c <= '9'; }

Bool32 IsAlpha(int32 c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

Bool32 IsPunct(int32 c) {
  return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
}

int32 ToLower(int32 c) { return uInt32(c) <= 0xFF ? PlatCharLower(uInt8(c)) : c; }
int32 ToUpper(int32 c) { return uInt32(c) <= 0xFF ? PlatCharUpper(uInt8(c)) : c; }

Bool32 IsLower(int32 c) { return ToUpper(c) != c; }
Bool32 IsUpper(int32 c) { return ToLower(c) != c; }

// ---------------------------------------------------------------- C strings

int32 StrLen(ConstCStr s) { return int32(std::strlen(s)); }

CStr StrCpy(CStr dst, ConstCStr src) {
  std::memmove(dst, src, std::strlen(src) + 1);
  return dst;
}

int32 StrCat(CStr dst, ConstCStr src) {
  size_t d = std::strlen(dst), s = std::strlen(src);
  std::memmove(dst + d, src, s + 1);
  return int32(d + s);
}

CStr StrNCpy(CStr dst, ConstCStr src, int32 n) {
  int32 i = 0;
  for (; i < n && src[i]; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = 0;
  return dst;
}

namespace {
// The common comparison of two C strings over at most n characters.
int32 CompareC(ConstCStr a, ConstCStr b, int32 n, bool ignoreCase) {
  for (int32 i = 0; i < n; ++i) {
    int32 ca = uChar(a[i]), cb = uChar(b[i]);
    if (!ca) return -cb;
    if (!cb) return 1;
    if (ca != cb) {
      if (!ignoreCase) return ca - cb;
      int32 la = ToLower(ca), lb = ToLower(cb);
      if (la != lb) return la - lb;
    }
  }
  return 0;
}
}  // namespace

int32 StrCmp(ConstCStr a, ConstCStr b) { return CompareC(a, b, INT32_MAX, false); }
int32 StrNCmp(ConstCStr a, ConstCStr b, int32 n) { return CompareC(a, b, n, false); }
Bool32 StrEqual(ConstCStr a, ConstCStr b) { return StrCmp(a, b) == 0; }
Bool32 StrNEqual(ConstCStr a, ConstCStr b, int32 n) { return StrNCmp(a, b, n) == 0; }
int32 StrNCaseCmp(ConstCStr a, ConstCStr b, int32 n) { return CompareC(a, b, n, true); }
Bool32 StrNCaseEqual(ConstCStr a, ConstCStr b, int32 n) { return StrNCaseCmp(a, b, n) == 0; }

int32 StrCaseCmp(ConstCStr a, ConstCStr b) {
  for (int32 i = 0;; ++i) {
    int32 ca = uChar(a[i]), cb = uChar(b[i]);
    if (ca != cb) {
      int32 la = ToLower(ca), lb = ToLower(cb);
      if (la != lb) return la - lb;
    }
    if (!ca) return 0;
  }
}

// ----------------------------------------------------------- floating point

void SinCos(float64 x, float64* sinOut, float64* cosOut) {
  if (sinOut) *sinOut = std::sin(x);
  if (cosOut) *cosOut = std::cos(x);
}

namespace {
const float64 kPlusInfinity = std::numeric_limits<float64>::infinity();
}

Bool32 IsInfD(float64 x) { return x == kPlusInfinity || -x == kPlusInfinity; }

Bool32 IsNaND(float64 x) {
  // Not a number: every exponent bit set and a non-zero fraction.
  uInt64 bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (bits & 0x000FFFFFFFFFFFFFull) != 0;
}

float64 LogOnePlus(float64 x) {
  float64 u = 1.0 + x;
  if (u == 1.0) return x;
  if (std::fabs(x) <= 0.75) return std::log(u) * x / (u - 1.0);
  return std::log(u);
}
