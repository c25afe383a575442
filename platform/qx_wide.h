// Exact integer arithmetic past 64 bits for the rasteriser: products of two
// int32 differences (each up to 2^33) and their sums, divided by a positive
// value below 2^62.  The i386 compilers have no 128-bit type.
#pragma once
#include <cstdint>

namespace qxdraw {

struct Wide {
  uint64_t hi, lo;  // two's complement
};

inline Wide WideOf(int64_t v) { return {v < 0 ? ~0ull : 0, uint64_t(v)}; }

inline Wide WideAdd(Wide a, Wide b) {
  uint64_t lo = a.lo + b.lo;
  return {a.hi + b.hi + (lo < a.lo ? 1 : 0), lo};
}

inline Wide WideNeg(Wide a) { return WideAdd({~a.hi, ~a.lo}, {0, 1}); }

inline Wide WideMul(int64_t a, int64_t b) {
  bool neg = (a < 0) != (b < 0);
  uint64_t x = a < 0 ? 0 - uint64_t(a) : uint64_t(a), y = b < 0 ? 0 - uint64_t(b) : uint64_t(b);
  uint64_t x0 = x & 0xFFFFFFFF, x1 = x >> 32, y0 = y & 0xFFFFFFFF, y1 = y >> 32;
  uint64_t p00 = x0 * y0, p01 = x0 * y1, p10 = x1 * y0, p11 = x1 * y1;
  uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
  Wide r{p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xFFFFFFFF)};
  return neg ? WideNeg(r) : r;
}

// floor(n / d) for d in 1 .. 2^62; the quotient saturates at +-2^62.
inline int64_t WideFloorDiv(Wide n, int64_t d) {
  bool neg = n.hi >> 63;
  Wide u = neg ? WideNeg(n) : n;
  uint64_t q = 0, rem = 0, dd = uint64_t(d);
  bool big = false;
  for (int bit = 127; bit >= 0; --bit) {
    uint64_t b = bit >= 64 ? (u.hi >> (bit - 64)) & 1 : (u.lo >> bit) & 1;
    rem = (rem << 1) | b;
    bool one = rem >= dd;
    if (one) rem -= dd;
    if (q >> 62) big = true;
    q = (q << 1) | (one ? 1 : 0);
  }
  const int64_t kMax = int64_t(1) << 62;
  if (big || q > uint64_t(kMax)) return neg ? -kMax : kMax;
  int64_t v = int64_t(q);
  return neg ? -(v + (rem ? 1 : 0)) : v;
}

// floor(a b / d) for d in 1 .. 2^62, exact whatever the product's size.
inline int64_t MulFloorDiv(int64_t a, int64_t b, int64_t d) {
  constexpr int64_t kSmall = int64_t(1) << 31;
  if (a > -kSmall && a < kSmall && b > -kSmall && b < kSmall) {
    int64_t p = a * b, q = p / d;
    return (p % d != 0 && p < 0) ? q - 1 : q;
  }
  return WideFloorDiv(WideMul(a, b), d);
}

}  // namespace qxdraw
