// Test helpers for the extended-precision library: a harness that calls a
// register-form routine with its arguments on the x87 stack above two
// sentinel values, and ulp distances.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "emulation.h"
#include "mgsource/extmath.h"

// The tolerance of a result computed through the x87 transcendental
// instructions (fsincos, fptan, fpatan, f2xm1, fyl2x, fyl2xp1).  On a real
// x87 they round to 64-bit significands and `native` applies unchanged.  The
// user-mode emulator computes them through host doubles instead: each gives
// at most about one double unit roundoff (2^-53, 1.11e-16) relative to its
// argument's double rounding -- absolute near a zero of sin or cos, where
// cos(pi/2) comes back as 6.1e-17 rather than -2.5e-20 -- and a result made
// from a few of them is held there to `doubleUlps` units of 2^-53, never
// less than `native`.
inline double X87Tol(double native, double doubleUlps) {
  constexpr double kDoubleRoundoff = 1.1102230246251565e-16;  // 2^-53
  if (!qxtest::UnderUserModeEmulation()) return native;
  return native > doubleUlps * kDoubleRoundoff ? native : doubleUlps * kDoubleRoundoff;
}

QX_EXTERN_C int32 QxTestFillerCall(void (*fn)(), int32 k, const floatExt* in, int32 nIn, floatExt* out,
                                   int32 nOut, const uInt32* args, int32 nArgs);

struct RegCallResult {
  floatExt out[4];
  int32 eax;
  floatExt sentinel[2];  // what lies below the results after the call
  uInt16 cwBefore, swBefore, cwAfter, swAfter;
};

// Pushes sentinels[1], sentinels[0], then in[nIn-1] .. in[0] (in[0] ends in
// ST0), optionally loads the control word cw (0: keep) and raises the
// divide-by-zero flag, calls fn, and pops nOut results and the two sentinels.
// args[0 .. nArgs-1] go on the machine stack as for a C call (removed after
// it) and the routine's EAX is returned.
QX_EXTERN_C int32 QxTestRegCall(void (*fn)(), const floatExt* in, int32 nIn, floatExt* out, int32 nOut,
                                floatExt* sentinels, uInt32 cw, int32 raiseZE, uInt16* words,
                                const uInt32* args, int32 nArgs);

inline RegCallResult CallReg(void (*fn)(), std::initializer_list<floatExt> in, int nOut,
                             uInt32 cw = 0, bool raiseZE = false,
                             std::initializer_list<uInt32> args = {}) {
  RegCallResult r{};
  floatExt vals[4] = {};
  int n = 0;
  for (floatExt v : in) vals[n++] = v;
  uInt32 margs[4] = {};
  int na = 0;
  for (uInt32 a : args) margs[na++] = a;
  r.sentinel[0] = 12345.25L;
  r.sentinel[1] = -6.5e300L;
  uInt16 words[4];
  r.eax = QxTestRegCall(fn, vals, n, r.out, nOut, r.sentinel, cw, raiseZE ? 1 : 0, words, margs, na);
  r.cwBefore = words[0];
  r.swBefore = words[1];
  r.cwAfter = words[2];
  r.swAfter = words[3];
  return r;
}

// Register-stack depth change of the call: pushes minus pops.
inline int DepthChange(const RegCallResult& r) {
  return ((r.swBefore >> 11) - (r.swAfter >> 11)) & 7;
}

// True when the call left exactly the two sentinels below its results.
inline bool SentinelsIntact(const RegCallResult& r) {
  return r.sentinel[0] == 12345.25L && r.sentinel[1] == -6.5e300L;
}

// Distance in units of the last place of a double near want.
inline double DoubleUlps(long double got, long double want) {
  if (std::isnan(want)) return std::isnan(got) ? 0 : 1e30;
  if (std::isinf(want)) return got == want ? 0 : 1e30;
  double w = double(want);
  double ulp = std::nextafter(std::fabs(w), INFINITY) - std::fabs(w);
  if (ulp == 0 || !std::isfinite(ulp)) ulp = 4.9406564584124654e-324;
  return double(std::fabs(got - want) / ulp);
}

inline bool SameBits(floatExt a, floatExt b) { return std::memcmp(&a, &b, 10) == 0; }

inline floatExt ExtFromParts(uInt16 se, uInt64 sig) {
  floatExt v = 0;
  std::memcpy(&v, &sig, 8);
  std::memcpy(reinterpret_cast<uChar*>(&v) + 8, &se, 2);
  return v;
}
inline uInt16 ExtSignExp(floatExt v) {
  uInt16 se;
  std::memcpy(&se, reinterpret_cast<const uChar*>(&v) + 8, 2);
  return se;
}
inline uInt64 ExtSig(floatExt v) {
  uInt64 s;
  std::memcpy(&s, &v, 8);
  return s;
}
