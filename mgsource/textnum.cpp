// Text to number: the scanners of decimal, integer, complex, elapsed-time
// and time-stamp text.
//
// Decimal text goes through a decimal record of up to 18 significant digits
// and the extended-precision library, which rounds it once to the
// destination's precision.  When nonzero digits beyond the 18 could change
// that rounding (the record and the record one unit larger round apart),
// the C library converts all of the text's digits instead, so every result
// is correctly rounded.
#include "textnum.h"

#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "datetime.h"
#include "extmath.h"
#include "numconv.h"
#include "numconv_internal.h"
#include "platform/qx_charcase.h"
#include "platform/qx_locale.h"

namespace {

// ---------------------------------------------------------------- characters

inline bool IsDigitCh(uChar c) { return uChar(c - '0') < 10; }
inline bool IsWhite(uChar c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline const uChar* SkipSpaces(const uChar* p, const uChar* end) {
  while (p < end && *p == ' ') ++p;
  return p;
}
inline const uChar* SkipWhite(const uChar* p, const uChar* end) {
  while (p < end && IsWhite(*p)) ++p;
  return p;
}
inline bool OnlySpaces(const uChar* p, const uChar* end) { return SkipSpaces(p, end) == end; }
inline bool OnlyWhite(const uChar* p, const uChar* end) { return SkipWhite(p, end) == end; }

// True when the text at p starts with the lower-case ASCII word, in any
// letter case.
bool MatchWord(const uChar* p, const uChar* end, const char* word) {
  size_t n = std::strlen(word);
  if (size_t(end - p) < n) return false;
  for (size_t i = 0; i < n; ++i)
    if ((p[i] | 0x20) != uChar(word[i])) return false;
  return true;
}

// ---------------------------------------------------------------- decimal text

constexpr int32 kMaxSigDigits = kDecRecDigits;  // 18
constexpr int32 kMaxExpDigits = 4;
// Records hold exponents within these bounds: beyond them every value is an
// infinity or 0 in any precision.
constexpr int64 kMaxRecExp = 5000;

struct NumScan {
  enum Kind : uInt8 { kNone, kFinite, kInf, kNaN };
  Kind kind = kNone;
  bool neg = false;
  bool longExp = false;  // an exponent of more than 4 digits
  bool dropped = false;  // nonzero digits beyond the 18 kept
  int32 nd = 0;          // significant digits kept
  int64 exp = 0;         // decimal exponent of the last kept digit
  char d[kMaxSigDigits];
  const uChar* mant = nullptr;     // the first digit or point
  const uChar* mantEnd = nullptr;  // after the last digit or point
  const uChar* end = nullptr;      // after the number; the start when there is none
  bool Ok() const { return kind != kNone && !longExp; }
};

// Reads the number at p (the grammar of SkipNumText) with its digits.
void ScanNumber(const uChar* p, const uChar* end, uChar dp, NumScan* s) {
  s->end = p;
  const uChar* q = SkipSpaces(p, end);
  bool sign = false;
  if (q < end && (*q == '-' || *q == '+')) {
    sign = true;
    s->neg = *q == '-';
    q = SkipSpaces(q + 1, end);
  }
  s->mant = q;
  if (q < end && (*q | 0x20) == 'i' && MatchWord(q, end, "inf")) {
    s->kind = NumScan::kInf;
    s->end = q + 3;
    return;
  }
  if (q < end && (*q | 0x20) == 'n' && MatchWord(q, end, "nan")) {
    if (!sign) {  // a signed "nan" is no number
      s->kind = NumScan::kNaN;
      s->end = q + 3;
    }
    return;
  }
  int32 nd = 0;
  int64 exp = 0;
  bool dropped = false, any = false;
  for (; q < end && IsDigitCh(*q); ++q) {
    any = true;
    uChar c = *q;
    if (nd == 0 && c == '0') continue;  // leading zero
    if (nd < kMaxSigDigits) {
      s->d[nd++] = char(c);
    } else {
      ++exp;
      dropped |= c != '0';
    }
  }
  if (q < end && *q == dp) {
    const uChar* r = q + 1;
    bool frac = false;
    for (; r < end && IsDigitCh(*r); ++r) {
      frac = true;
      uChar c = *r;
      if (nd == 0 && c == '0') {
        --exp;
      } else if (nd < kMaxSigDigits) {
        s->d[nd++] = char(c);
        --exp;
      } else {
        dropped |= c != '0';
      }
    }
    if (any || frac) q = r;  // a point without any digit is no number
    any |= frac;
  }
  if (!any) return;
  s->kind = NumScan::kFinite;
  s->mantEnd = q;
  s->end = q;
  s->nd = nd;
  s->dropped = dropped;
  if (q < end && (*q | 0x20) == 'e') {
    const uChar* r = SkipSpaces(q + 1, end);
    bool eneg = false;
    if (r < end && (*r == '-' || *r == '+')) {
      eneg = *r == '-';
      r = SkipSpaces(r + 1, end);
    }
    if (r < end && IsDigitCh(*r)) {
      int32 count = 0, v = 0;
      for (; r < end && IsDigitCh(*r); ++r, ++count)
        if (count < kMaxExpDigits) v = v * 10 + (*r - '0');
      s->longExp = count > kMaxExpDigits;
      exp += eneg ? -v : v;
      s->end = r;
    }
  }
  s->exp = exp;
}

void FillRec(const char* digits, int32 nd, bool neg, int64 exp, DecimalRec* rec) {
  if (nd == 0) exp = 0;
  else if (exp + nd > kMaxRecExp) exp = kMaxRecExp;
  else if (exp + nd < -kMaxRecExp) exp = -kMaxRecExp - nd;
  DecimalRecSetDigits(*rec, digits, nd, neg, int32(exp));
}

// The record of the kept digits, and the record one unit of their last
// digit larger in magnitude: the text's value lies between the two.
void ScanRec(const NumScan& s, DecimalRec* rec) { FillRec(s.d, s.nd, s.neg, s.exp, rec); }
void ScanRecUp(const NumScan& s, DecimalRec* rec) {
  char d[kMaxSigDigits];
  std::memcpy(d, s.d, size_t(s.nd));
  int32 i = s.nd - 1;
  while (i >= 0 && d[i] == '9') d[i--] = '0';
  if (i >= 0) {
    ++d[i];
    FillRec(d, s.nd, s.neg, s.exp, rec);
  } else {
    FillRec("1", 1, s.neg, s.exp + s.nd, rec);  // 99...9 + 1 = 10^nd
  }
}

locale_t CLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return loc;
}

// The text's significant digits for the C library: "-0.", up to kDigits
// of them, a "1" when nonzero digits follow, and the exponent.  A rounding
// boundary of T (a value halfway between two neighbours) has at most
// kDigits significant digits, so what follows them only matters as being
// zero or not.
template <typename T>
struct SlowDigits;
template <>
struct SlowDigits<float32> { static constexpr int32 kDigits = 150; };
template <>
struct SlowDigits<float64> { static constexpr int32 kDigits = 800; };
template <>
struct SlowDigits<floatExt> { static constexpr int32 kDigits = 12000; };

template <typename T>
T FromText(const char* text);

template <typename T>
T SlowConvert(const NumScan& s) {
  constexpr int32 kDigits = SlowDigits<T>::kDigits;
  constexpr size_t kSize = kDigits + 48;
  char* buf = new (std::nothrow) char[kSize];
  if (!buf) return T(NumSystemNaN());
  size_t n = 0;
  if (s.neg) buf[n++] = '-';
  buf[n++] = '0';
  buf[n++] = '.';
  int32 kept = 0;
  bool started = false, sticky = false;
  for (const uChar* p = s.mant; p < s.mantEnd; ++p) {
    if (!IsDigitCh(*p)) continue;  // the decimal point
    if (!started && *p == '0') continue;
    started = true;
    if (kept < kDigits) {
      buf[n++] = char(*p);
      ++kept;
    } else if (*p != '0') {
      sticky = true;
    }
  }
  if (sticky) buf[n++] = '1';
  std::snprintf(buf + n, kSize - n, "e%lld", static_cast<long long>(s.exp + s.nd));
  T v = FromText<T>(buf);
  delete[] buf;
  return v;
}

template <typename T>
T FromRec(const DecimalRec* r);
template <>
float32 FromRec<float32>(const DecimalRec* r) { return DecimalRecToSingle(r); }
template <>
float64 FromRec<float64>(const DecimalRec* r) { return DecimalRecToDouble(r); }
template <>
floatExt FromRec<floatExt>(const DecimalRec* r) { return DecimalRecToExt(r); }

template <>
float32 FromText<float32>(const char* t) { return strtof_l(t, nullptr, CLocale()); }
template <>
float64 FromText<float64>(const char* t) { return strtod_l(t, nullptr, CLocale()); }
template <>
floatExt FromText<floatExt>(const char* t) { return strtold_l(t, nullptr, CLocale()); }

// A finite scanned number rounded once to T.
template <typename T>
T ConvertFinite(const NumScan& s) {
  DecimalRec rec;
  ScanRec(s, &rec);
  T v = FromRec<T>(&rec);
  if (s.dropped) {
    DecimalRec up;
    ScanRecUp(s, &up);
    if (FromRec<T>(&up) != v) v = SlowConvert<T>(s);
  }
  return v;
}

// Stores a real value into any type by ConvertNum's rules (a complex
// number gets it as its real part and im as its imaginary part).
void StoreValue(int32 type, void* dst, long double re, long double im = 0) {
  if (!dst) return;
  if (NumClass(type) == kNumClassComplex) {
    int32 part = type - 3;
    NumStoreReal(part, dst, re);
    NumStoreReal(part, static_cast<uChar*>(dst) + NumSize(part), im);
  } else {
    NumStoreReal(type, dst, re);
  }
}

void StoreNaN(int32 type, void* dst) { StoreValue(type, dst, NumSystemNaN(), NumSystemNaN()); }

// Stores a scanned number into a real type, correctly rounded for the
// floating-point types.
void StoreScanReal(const NumScan& s, int32 type, void* dst) {
  if (!dst) return;
  if (s.kind == NumScan::kInf) return NumStoreReal(type, dst, s.neg ? -HUGE_VALL : HUGE_VALL);
  if (s.kind != NumScan::kFinite) return NumStoreReal(type, dst, NumSystemNaN());
  switch (type) {
    case kNumSGL: {
      float32 v = ConvertFinite<float32>(s);
      std::memcpy(dst, &v, 4);
      return;
    }
    case kNumDBL: {
      float64 v = ConvertFinite<float64>(s);
      std::memcpy(dst, &v, 8);
      return;
    }
    case kNumEXT: NumStoreExt(dst, ConvertFinite<floatExt>(s)); return;
    default: NumStoreReal(type, dst, ConvertFinite<floatExt>(s)); return;
  }
}

// Any type: complex numbers get the value as their real part.
void StoreScan(const NumScan& s, int32 type, void* dst) {
  if (!dst) return;
  if (NumClass(type) != kNumClassComplex) return StoreScanReal(s, type, dst);
  int32 part = type - 3;
  StoreScanReal(s, part, dst);
  NumStoreReal(part, static_cast<uChar*>(dst) + NumSize(part), 0);
}

long double ScanValue(const NumScan& s) {
  if (s.kind == NumScan::kInf) return s.neg ? -HUGE_VALL : HUGE_VALL;
  if (s.kind != NumScan::kFinite) return NumSystemNaN();
  return ConvertFinite<floatExt>(s);
}

// ---------------------------------------------------------------- integers

struct IntParse {
  int32 value = 0;
  bool neg = false;
  const uChar* end = nullptr;  // after the digits; null when there were none
};

inline int32 DigitOf(uChar c, int32 base) {
  int32 d;
  if (IsDigitCh(c)) d = c - '0';
  else if (base == 16 && uChar((c | 0x20) - 'a') < 6) d = (c | 0x20) - 'a' + 10;
  else return -1;
  return d < base ? d : -1;
}

// The value pinned to an 8- or 16-bit destination.
int32 PinToType(int32 type, uInt32 v, bool neg, int32 base) {
  switch (type & 15) {
    case kNumI8:
      if (base != 10) return v > 0xFF ? 127 : int8(uInt8(v));
      return int32(v) < -128 ? -128 : int32(v) > 127 ? 127 : int32(v);
    case kNumI16:
      if (base != 10) return v > 0xFFFF ? 32767 : int16(uInt16(v));
      return int32(v) < -32768 ? -32768 : int32(v) > 32767 ? 32767 : int32(v);
    case kNumU8:
      if (neg && base == 10) return 0;
      return v > 255 ? 255 : int32(v);
    case kNumU16:
      if (neg && base == 10) return 0;
      return v > 65535 ? 65535 : int32(v);
    default:
      return int32(v);
  }
}

IntParse ParseInt(const uChar* p, int32 len, int32 type, int32 base, bool acceptSign) {
  IntParse r;
  if (!p || len <= 0) return r;
  const uChar* end = p + len;
  p = SkipSpaces(p, end);
  if (acceptSign && p < end && (*p == '-' || *p == '+')) {
    r.neg = *p == '-';
    ++p;
  }
  // The accumulator stops at its limit on the first overflow; later digits
  // are only skipped.
  uInt32 limit;
  if (NumClass(type) == kNumClassSigned) limit = r.neg ? 0x80000000u : 0x7FFFFFFFu;
  else limit = r.neg && base != 10 ? 0x7FFFFFFFu : 0xFFFFFFFFu;
  uInt32 acc = 0;
  bool full = false;
  const uChar* start = p;
  for (; p < end; ++p) {
    int32 d = DigitOf(*p, base);
    if (d < 0) break;
    if (full) continue;
    uInt64 next = uInt64(acc) * uInt32(base) + uInt32(d);
    if (next > limit) {
      acc = limit;
      full = true;
    } else {
      acc = uInt32(next);
    }
  }
  if (p == start) return r;
  r.end = p;
  r.value = PinToType(type, r.neg ? 0u - acc : acc, r.neg, base);
  return r;
}

int32 ParseIntAt(const uChar** cursor, int32 len, int32 type, int32 base, bool acceptSign) {
  if (!cursor) return 0;
  IntParse r = ParseInt(*cursor, len, type, base, acceptSign);
  if (r.end) *cursor = r.end;
  return r.value;
}

// Integer types and the integer codes.
int32 IntegerText(const uChar* text, int32 len, int32 type, void* result, int32 code) {
  int32 base = 10;
  bool signedText = true;
  switch (code) {
    case kNumFmtUnsigned: signedText = false; break;
    case kNumFmtHex: base = 16; signedText = false; break;
    case kNumFmtOctal: base = 8; signedText = false; break;
    case kNumFmtBinary: base = 2; signedText = false; break;
    default: break;
  }
  int32 cls = NumClass(type);
  bool floating = cls == kNumClassFloat;
  int32 srcType = signedText ? kNumI32 : kNumU32;
  IntParse r = ParseInt(text, len, floating ? srcType : type, base, signedText);
  if (result) {
    if (floating) {
      if (r.end) ConvertNum(srcType, &r.value, type, result);
      else StoreNaN(type, result);
    } else if (NumSize(type) == 8) {
      // Negative decimal text extends its sign; other values are unsigned.
      int64 v = (signedText && r.neg) ? int64(r.value) : int64(uInt32(r.value));
      std::memcpy(result, &v, 8);
    } else if (NumSize(type) > 0) {
      std::memcpy(result, &r.value, size_t(NumSize(type)));  // the low bytes
    }
  }
  return r.end && OnlySpaces(r.end, text + len) ? 1 : 0;
}

// ---------------------------------------------------------------- floating

int32 FloatText(const uChar* text, int32 len, int32 type, void* result, uChar dp) {
  const uChar* end = text + len;
  NumScan s;
  ScanNumber(text, end, dp, &s);
  if (!s.Ok() || !OnlySpaces(s.end, end)) {
    StoreNaN(type, result);
    return 0;
  }
  StoreScanReal(s, type, result);
  return 1;
}

// ---------------------------------------------------------------- complex

int32 ComplexText(const uChar* text, int32 len, int32 type, void* result, uChar dp) {
  const uChar* end = text + len;
  int32 part = type - 3;
  uChar* im = result ? static_cast<uChar*>(result) + NumSize(part) : nullptr;
  NumScan a;
  ScanNumber(text, end, dp, &a);
  if (a.Ok()) {
    const uChar* q = SkipSpaces(a.end, end);
    if (q < end && *q == 'i') {
      // A pure imaginary number.
      if (OnlySpaces(q + 1, end)) {
        if (result) {
          NumStoreReal(part, result, 0);
          StoreScanReal(a, part, im);
        }
        return 1;
      }
    } else if (MatchWord(q, end, "arg")) {
      // Polar form: magnitude and angle.
      NumScan b;
      ScanNumber(q + 3, end, dp, &b);
      if (b.Ok() && OnlySpaces(b.end, end)) {
        long double r = ScanValue(a), theta = ScanValue(b);
        StoreValue(type, result, r * cosl(theta), r * sinl(theta));
        return 1;
      }
    } else {
      bool minus = false;
      if (q < end && (*q == '+' || *q == '-')) {
        minus = *q == '-';
        ++q;
      }
      NumScan b;
      ScanNumber(q, end, dp, &b);
      if (b.Ok()) {
        const uChar* r = SkipSpaces(b.end, end);
        if (r < end && *r == 'i' && OnlySpaces(r + 1, end)) {
          if (minus) b.neg = !b.neg;
          if (result) {
            StoreScanReal(a, part, result);
            StoreScanReal(b, part, im);
          }
          return 1;
        }
      }
    }
  }
  StoreNaN(type, result);
  return 0;
}

// ---------------------------------------------------------------- fields

// A run of decimal digits at *p: false when there is none.  The value stops
// growing past limit (at most 10^17).
bool ReadDigits(const uChar*& p, const uChar* end, int64 limit, int64* value, int32* count = nullptr) {
  int64 v = 0;
  int32 n = 0;
  for (; p < end && IsDigitCh(*p); ++p, ++n)
    if (v <= limit) v = v * 10 + (*p - '0');
  if (v > limit) v = limit + 1;
  *value = v;
  if (count) *count = n;
  return n > 0;
}

// A run of decimal digits as an extended number (18 significant digits,
// further ones counted in the exponent); false when there is none.
bool ReadDigitsExt(const uChar*& p, const uChar* end, long double* value) {
  char d[kMaxSigDigits];
  int32 n = 0;
  int64 exp = 0;
  bool any = false;
  for (; p < end && IsDigitCh(*p); ++p) {
    any = true;
    if (n == 0 && *p == '0') continue;
    if (n < kMaxSigDigits) d[n++] = char(*p);
    else ++exp;
  }
  if (!any) return false;
  DecimalRec rec;
  FillRec(d, n, false, exp, &rec);
  *value = DecimalRecToExt(&rec);
  return true;
}

// A fraction after a decimal point: the digits at *p as 0.digits.
long double ReadFraction(const uChar*& p, const uChar* end) {
  char d[kMaxSigDigits];
  int32 n = 0;
  int64 exp = 0;
  bool lead = true;
  for (; p < end && IsDigitCh(*p); ++p) {
    if (lead && *p == '0') {
      --exp;
      continue;
    }
    lead = false;
    if (n < kMaxSigDigits) {
      d[n++] = char(*p);
      --exp;
    }
  }
  if (n == 0) return 0;
  DecimalRec rec;
  FillRec(d, n, false, exp, &rec);
  return DecimalRecToExt(&rec);
}

// "nan" or "inf" (any letter case) with white space around; -1 when the
// text is neither.
int32 SpecialWord(const uChar* q, const uChar* end, bool neg, long double* value) {
  if (MatchWord(q, end, "inf") && OnlyWhite(q + 3, end)) {
    *value = neg ? -HUGE_VALL : HUGE_VALL;
    return 1;
  }
  if (!neg && MatchWord(q, end, "nan") && OnlyWhite(q + 3, end)) {
    *value = NumSystemNaN();
    return 1;
  }
  return -1;
}

// ---------------------------------------------------------------- elapsed time

// [-][[hours:]minutes:]seconds[.fraction]: with minutes the seconds are
// below 60, with hours the minutes too.
bool ElapsedText(const uChar* text, int32 len, uChar dp, long double* value) {
  const uChar* end = text + len;
  const uChar* q = SkipSpaces(text, end);
  bool neg = false;
  if (q < end && (*q == '-' || *q == '+')) {
    neg = *q == '-';
    ++q;
  }
  if (SpecialWord(q, end, neg, value) == 1) return true;
  uChar sep = NumTimeSeparator();
  long double fields[3];
  int32 n = 0;
  long double frac = 0;
  for (;;) {
    if (!ReadDigitsExt(q, end, &fields[n])) return false;
    ++n;
    if (n < 3 && q + 1 < end && *q == sep && IsDigitCh(q[1])) {
      ++q;
      continue;
    }
    if (q < end && *q == dp) {
      ++q;
      frac = ReadFraction(q, end);
    }
    break;
  }
  if (!OnlySpaces(q, end)) return false;
  long double secs = fields[n - 1] + frac;
  long double total = secs;
  if (n >= 2) {
    if (secs >= 60) return false;
    total += fields[n - 2] * 60;
  }
  if (n == 3) {
    if (fields[1] >= 60) return false;
    total += fields[0] * 3600;
  }
  *value = neg ? -total : total;
  return true;
}

// ---------------------------------------------------------------- time stamps

struct TimeOfDay {
  int32 hour, minute, second;
  long double frac;
};
struct CalendarDate {
  int64 year;
  int32 month, day;
};

// The length of the word d at p (any letter case) when a word ends there;
// else 0.
int32 MatchWordOf(const uChar* p, const uChar* end, const uChar* d, int32 n) {
  if (n <= 0 || end - p < n || !PlatSameNoCase(p, size_t(n), d, size_t(n))) return 0;
  if (p + n < end && !IsWhite(p[n])) return 0;
  return n;
}

// The AM or PM designator at p: its length, else 0.  The "AM" and "PM" that
// time stamps are written with read as well when the locale's differ.
int32 MatchDesignator(const uChar* p, const uChar* end, Bool32 pm) {
  int32 n;
  const uChar* d = DateAMPM(pm, &n);
  if (int32 k = MatchWordOf(p, end, d, n)) return k;
  return MatchWordOf(p, end, reinterpret_cast<const uChar*>(pm ? "PM" : "AM"), 2);
}

// hours:minutes[:seconds[.fraction]] [AM|PM]
bool ReadTimePart(const uChar*& p, const uChar* end, uChar dp, TimeOfDay* t) {
  const uChar* q = p;
  uChar sep = NumTimeSeparator();
  constexpr int64 kLimit = 100000;
  int64 h, m, s = 0;
  if (!ReadDigits(q, end, kLimit, &h) || q >= end || *q != sep) return false;
  ++q;
  if (!ReadDigits(q, end, kLimit, &m)) return false;
  long double frac = 0;
  if (q + 1 < end && *q == sep && IsDigitCh(q[1])) {
    ++q;
    ReadDigits(q, end, kLimit, &s);
    if (q < end && *q == dp) {
      ++q;
      frac = ReadFraction(q, end);
    }
  }
  if (m >= 60 || s >= 60) return false;
  const uChar* w = SkipWhite(q, end);
  int32 am = MatchDesignator(w, end, 0), pm = am ? 0 : MatchDesignator(w, end, 1);
  if (am || pm) {
    if (h > 12) return false;
    if (h == 12) h = 0;
    if (pm) h += 12;
    q = w + (am ? am : pm);
  } else if (h >= 24) {
    return false;
  }
  *t = {int32(h), int32(m), int32(s), frac};
  p = q;
  return true;
}

// The order of day, month and year in a date picture: 'd', 'M', 'y' in the
// order they first appear outside quotes.
void PictureOrder(const char* picture, char order[3]) {
  int32 n = 0;
  bool quoted = false;
  for (const char* c = picture; *c && n < 3; ++c) {
    if (*c == '\'') quoted = !quoted;
    if (quoted || (*c != 'd' && *c != 'M' && *c != 'y')) continue;
    if (std::memchr(order, *c, size_t(n))) continue;
    order[n++] = *c;
  }
  if (n != 3) std::memcpy(order, "Mdy", 3);
}

// Three numbers joined by the date separator in the order of the code's
// bits (the locale's order when the code shows no date); two numbers, day
// and month, when the code shows a date without its year.
bool ReadDatePart(const uChar*& p, const uChar* end, int32 bits, int64 defaultYear, CalendarDate* date) {
  const uChar* q = p;
  uChar sep = NumDateSeparator();
  constexpr int64 kLimit = 100000;
  int64 v[3];
  int32 digits[3];
  int32 n = 0;
  for (;;) {
    if (!ReadDigits(q, end, kLimit, &v[n], &digits[n])) return false;
    ++n;
    if (n < 3 && q + 1 < end && *q == sep && IsDigitCh(q[1])) {
      ++q;
      continue;
    }
    break;
  }
  char order[3];
  bool showDate = bits & kTSShowDate;
  if (showDate) {
    bool dayFirst = bits & kTSDayFirst;
    if (bits & kTSYearFirst) std::memcpy(order, dayFirst ? "ydM" : "yMd", 3);
    else std::memcpy(order, dayFirst ? "dMy" : "Mdy", 3);
  } else {
    PlatTimeLocale loc;
    PlatGetTimeLocale(&loc);
    PictureOrder(loc.shortDate, order);
  }
  int64 year = defaultYear, month = 0, day = 0;
  if (n == 3) {
    for (int32 i = 0; i < 3; ++i) {
      if (order[i] == 'd') day = v[i];
      else if (order[i] == 'M') month = v[i];
      else year = digits[i] <= 2 ? (v[i] < 40 ? 2000 + v[i] : 1900 + v[i]) : v[i];
    }
  } else if (n == 2 && showDate && !(bits & kTSShowYear)) {
    bool dayFirst = bits & kTSDayFirst;
    day = dayFirst ? v[0] : v[1];
    month = dayFirst ? v[1] : v[0];
  } else {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DateDaysInMonth(year, int32(month))) return false;
  *date = {year, int32(month), int32(day)};
  p = q;
  return true;
}

bool TimeStampText(const uChar* text, int32 len, int32 code, int32 defType, const void* defTime, uChar dp,
                   long double* value) {
  const uChar* end = text + len;
  const uChar* q = SkipWhite(text, end);
  if (SpecialWord(q, end, false, value) == 1) return true;
  int32 bits = (code - kNumFmtTimeStampFirst) & 0x3FF;

  // The default time supplies the part that the text leaves out.
  long double def = 0;
  int32 dt = defType & 15;
  if (defTime && NumClass(dt) != kNumClassNone) def = NumLoadReal(dt, defTime);
  if (!(def >= 0)) def = 0;
  if (def > 4294967295.0L) def = 4294967295.0L;
  uInt32 defSecs = uInt32(floorl(def));
  struct tm dflt;
  DateLocalFields(defSecs, &dflt);

  TimeOfDay tod{dflt.tm_hour, dflt.tm_min, dflt.tm_sec, def - defSecs};
  CalendarDate date{int64(dflt.tm_year) + 1900, dflt.tm_mon + 1, dflt.tm_mday};
  bool haveTime = false, haveDate = false;
  while (q < end) {
    if (!haveTime && ReadTimePart(q, end, dp, &tod)) haveTime = true;
    else if (!haveDate && ReadDatePart(q, end, bits, date.year, &date)) haveDate = true;
    else return false;
    if (q < end && !IsWhite(*q)) return false;
    q = SkipWhite(q, end);
  }
  if (!haveTime && !haveDate) return false;
  int64 secs;
  int64 secondsOfDay = int64(tod.hour) * 3600 + tod.minute * 60 + tod.second;
  if (!DateFieldsToTime(date.year, date.month, date.day, secondsOfDay, -1, &secs)) return false;
  if (secs < 0 || secs >= 4294967295ll) return false;
  *value = static_cast<long double>(secs) + tod.frac;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- entries

int32 TextToNumFmt(const uChar* text, int32 len, int32 type, void* result, int32 code, int32 defType,
                   const void* defTime, int32 decimalPt) {
  if (!text || len < 0) len = 0;
  static const uChar kEmpty[1] = {0};
  if (!text) text = kEmpty;
  type &= 15;
  uChar dp = uChar(decimalPt);
  int32 cls = NumClass(type);
  if ((code >= kNumFmtElapsedFirst && code <= 299) || (code >= kNumFmtTimeStampFirst && code <= 1536)) {
    long double v;
    bool ok = code <= 299 ? ElapsedText(text, len, dp, &v)
                          : TimeStampText(text, len, code, defType, defTime, dp, &v);
    if (ok) StoreValue(type, result, v);
    else if (cls == kNumClassFloat || cls == kNumClassComplex) StoreNaN(type, result);
    return ok ? 1 : 0;
  }
  if (cls == kNumClassComplex) return ComplexText(text, len, type, result, dp);
  if (cls == kNumClassFloat && !(code >= kNumFmtDecimal && code <= kNumFmtBinary))
    return FloatText(text, len, type, result, dp);
  if (cls == kNumClassNone) return 0;
  return IntegerText(text, len, type, result, code);
}

int32 TextToNum(const uChar* text, int32 len, int32 type, void* result, int32 code, int32 defType,
                const void* defTime) {
  return TextToNumFmt(text, len, type, result, code, defType, defTime, NumDefaultDecimalPt());
}

const uChar* SkipNumText(const uChar* text, int32 len, int32 decimalPt) {
  if (!text || len <= 0) return text;
  NumScan s;
  ScanNumber(text, text + len, uChar(decimalPt), &s);
  return s.end;
}

const uChar* ScanNum(const uChar* text, int32 len) { return SkipNumText(text, len, NumDefaultDecimalPt()); }

int32 DecStrToNum(const uChar** cursor, int32 len, int32 type) { return ParseIntAt(cursor, len, type, 10, true); }
int32 UDecStrToNum(const uChar** cursor, int32 len, int32 type) { return ParseIntAt(cursor, len, type, 10, false); }
int32 HexStrToNum(const uChar** cursor, int32 len, int32 type) { return ParseIntAt(cursor, len, type, 16, false); }
int32 OctStrToNum(const uChar** cursor, int32 len, int32 type) { return ParseIntAt(cursor, len, type, 8, false); }
int32 BinStrToNum(const uChar** cursor, int32 len, int32 type) { return ParseIntAt(cursor, len, type, 2, false); }

int32 SciStrToNum(const uChar** cursor, int32 len, int32 type, void* result, int32 decimalPt) {
  type &= 15;
  if (!cursor || !*cursor || len <= 0) {
    StoreNaN(type, result);
    return 0;
  }
  const uChar* p = *cursor;
  NumScan s;
  uChar dp = uChar(decimalPt);
  ScanNumber(p, p + len, dp, &s);
  if (!s.Ok()) {
    StoreNaN(type, result);
    return 0;
  }
  StoreScan(s, type, result);
  *cursor = s.end;
  return int32(s.end - p);
}

int32 RTSciStrToNum(const uChar** cursor, int32 len, Bool32 useSystemDecimalPt, int32 type, void* result) {
  return SciStrToNum(cursor, len, type, result, useSystemDecimalPt ? NumDefaultDecimalPt() : '.');
}
