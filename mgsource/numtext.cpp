// Number to text: NumToTextFmt and NumToText.
//
// The digits of floating-point numbers come from the extended-precision
// library's decimal records, rounded to nearest at the requested number of
// significant digits (exponent forms) or at the requested power of ten
// (fixed forms); at most 17 digits carry the value, further ones are zeros.
#include <cmath>
#include <cstring>

#include "debug.h"
#include "extmath.h"
#include "numconv.h"
#include "numconv_internal.h"
#include "numtext_internal.h"
#include "platform/qx_localtime.h"

namespace {

// Room for the longest text any format makes: a fixed form has at most 307
// digits before the point and 99 after it, and a complex number two parts.
constexpr int32 kWorkSize = 1024;
// Fixed forms with more digits before the point switch to the exponent form.
constexpr int32 kMaxFixedIntDigits = 307;
constexpr int32 kMaxFixedDecimals = 63;
constexpr int32 kMaxElapsedDecimals = 99;

// A bounded text under construction.
struct Txt {
  char* b;
  int32 cap;
  int32 n = 0;
  void Put(char c) {
    if (n < cap) b[n] = c;
    ++n;
  }
  void Put(const char* s, int32 len) {
    for (int32 i = 0; i < len; ++i) Put(s[i]);
  }
  void Put(const char* s) { Put(s, int32(std::strlen(s))); }
  void Rep(char c, int32 count) {
    for (int32 i = 0; i < count; ++i) Put(c);
  }
  int32 Len() const { return n < cap ? n : cap; }
};

// One value to format: the part's type and address (for the integer
// formats) and its value.
struct Val {
  int32 type;
  const void* p;
  long double x;
  bool viaDouble;  // the value is exactly a double: the double conversion serves
};

bool IsDoubleExact(int32 type) {
  switch (type) {
    case kNumI8: case kNumI16: case kNumI32: case kNumU8: case kNumU16: case kNumU32:
    case kNumSGL: case kNumDBL: case kNumCSG: case kNumCDB:
      return true;
    default:
      return false;
  }
}

// Integer formats 64 to 99.
void PutIntegerCode(Txt& t, const Val& v, int32 code) {
  char buf[kNumIntegerTextRoom];
  t.Put(buf, NumToIntegerText(v.p, v.type, code, buf));
}

int32 FloorMod3(int32 e) {
  int32 r = e % 3;
  return r < 0 ? r + 3 : r;
}

// The digit at decimal exponent pos of a record, '0' outside its digits.
char DigitAt(const NumDecimal& d, int32 pos) {
  int32 i = d.first - pos;
  return (i >= 0 && i < d.n) ? d.d[i] : '0';
}

bool PutSpecial(Txt& t, const NumDecimal& d) {
  if (d.kind == NumDecimal::kNaN) {
    t.Put("NaN");
    return true;
  }
  if (d.kind == NumDecimal::kInf) {
    if (d.neg) t.Put('-');
    t.Put("Inf");
    return true;
  }
  return false;
}

// Exponent notation with k significant digits from the record.
void PutExpDigits(Txt& t, const NumDecimal& d, int32 k, char dp) {
  if (d.neg) t.Put('-');
  int32 e = d.n > 0 ? d.first : 0;
  t.Put(d.n > 0 ? d.d[0] : '0');
  if (k > 1) {
    t.Put(dp);
    for (int32 i = 1; i < k; ++i) t.Put(i < d.n ? d.d[i] : '0');
  }
  t.Put('E');
  t.Put(e < 0 ? '-' : '+');
  char buf[12];
  t.Put(buf, NumToUDecStr(uInt32(e < 0 ? -e : e), buf));
}

// Fixed notation with k digits after the point from a record rounded there.
void PutFixedDigits(Txt& t, const NumDecimal& d, int32 k, char dp) {
  if (d.neg) t.Put('-');
  if (d.n == 0 || d.first < 0) {
    t.Put('0');
  } else {
    for (int32 pos = d.first; pos >= 0; --pos) t.Put(DigitAt(d, pos));
  }
  if (k > 0) {
    t.Put(dp);
    if (d.n == 0) t.Rep('0', k);
    else
      for (int32 pos = -1; pos >= -k; --pos) t.Put(DigitAt(d, pos));
  }
}

void PutExponent(Txt& t, const Val& v, int32 k, char dp, int32 cap) {
  if (k > cap - 8) k = cap - 8;
  if (k < 1) k = 1;
  NumDecimal d;
  NumToDecimal(v.x, v.viaDouble, k < kDecMaxDigits ? k : kDecMaxDigits, &d);
  if (!PutSpecial(t, d)) PutExpDigits(t, d, k, dp);
}

void PutFixed(Txt& t, const Val& v, int32 k, char dp, int32 cap) {
  NumDecimal d;
  NumToDecimal(v.x, v.viaDouble, -k, &d);
  if (PutSpecial(t, d)) return;
  int32 intDigits = (d.n > 0 && d.first >= 0) ? d.first + 1 : 1;
  if (intDigits + k > cap - 4 || intDigits > kMaxFixedIntDigits) {
    PutExponent(t, v, k + 1, dp, cap);
    return;
  }
  PutFixedDigits(t, d, k, dp);
}

// Engineering notation: code - 99 significant digits (one more when the
// exponent modulo 3 is 1), the point moved right so that the exponent is a
// multiple of 3.
void PutEngineering(Txt& t, const Val& v, int32 code, char dp, int32 cap) {
  int32 n = code - 99;
  if (n > cap - 8) n = cap - 8;
  if (n < 1) n = 1;
  NumDecimal a;
  NumToDecimal(v.x, v.viaDouble, n < kDecMaxDigits ? n : kDecMaxDigits, &a);
  if (PutSpecial(t, a)) return;
  int32 e = a.n > 0 ? a.first : 0;
  int32 s = FloorMod3(e);
  int32 m = n;
  NumDecimal use = a;
  if (s == 1) {
    m = n + 1;
    NumDecimal b;
    NumToDecimal(v.x, v.viaDouble, m < kDecMaxDigits ? m : kDecMaxDigits, &b);
    // One more digit can undo a rounding up to the next power of ten; the
    // first rounding's digits, padded with a zero, keep the exponent.
    if (b.kind == NumDecimal::kFinite && (b.n == 0 ? 0 : b.first) == e) use = b;
  }
  if (m < s + 1) m = s + 1;
  if (use.neg) t.Put('-');
  for (int32 i = 0; i < m; ++i) {
    if (i == s + 1) t.Put(dp);
    t.Put(i < use.n ? use.d[i] : '0');
  }
  e -= s;
  t.Put('E');
  t.Put(e < 0 ? '-' : '+');
  char buf[12];
  t.Put(buf, NumToUDecStr(uInt32(e < 0 ? -e : e), buf));
}

void FillHashes(Txt& t, int32 cap) {
  t.n = 0;
  t.Rep('#', cap - 1);
}

// Elapsed time: [-][hours:][minutes:]seconds with the given decimals.
void PutElapsed(Txt& t, long double x, int32 decimals, char dp, int32 cap) {
  int32 start = t.n;
  if (x != x) {
    t.Put("NaN");
  } else if (std::isinf(x)) {
    if (x < 0) t.Put('-');
    t.Put("Inf");
  } else {
    bool neg = x < 0;
    long double a = neg ? -x : x;
    // fmod is exact, so the split holds for any magnitude.
    long double rem = fmodl(a, 3600);
    long double h = floorl((a - rem) / 3600 + 0.5L);
    long double m = floorl(rem / 60);
    long double s = rem - m * 60;
    NumDecimal ds;
    NumToDecimal(s, false, -decimals, &ds);
    if (ds.n > 0 && ds.first >= 1 && ds.d[0] >= '6') {  // rounded up to 60 seconds
      NumToDecimal(0.0L, false, -decimals, &ds);
      m += 1;
      if (m >= 60) {
        m = 0;
        h += 1;
      }
    }
    if (neg) t.Put('-');
    char sep = char(NumTimeSeparator());
    if (h != 0) {
      NumDecimal dh;
      NumToDecimal(h, false, 0, &dh);
      PutFixedDigits(t, dh, 0, dp);
      t.Put(sep);
    }
    if (h != 0 || m != 0) {
      int32 mi = int32(m);
      if (h != 0 || mi >= 10) t.Put(char('0' + mi / 10));
      t.Put(char('0' + mi % 10));
      t.Put(sep);
      if (ds.n == 0 || ds.first < 1) t.Put('0');
    }
    PutFixedDigits(t, ds, decimals, dp);
  }
  if (t.n - start > cap - 1) FillHashes(t, cap);
}

// Appends a strftime piece to a format, doubling a separator that is "%".
void AddSep(char* f, int32& n, char sep) {
  if (sep == '%') f[n++] = '%';
  f[n++] = sep;
}
void AddStr(char* f, int32& n, const char* s) {
  while (*s) f[n++] = *s++;
}

// Time stamp: the fields chosen by bits, from the local calendar.
void PutTimeStamp(Txt& t, long double x, int32 bits, char dp, int32 cap) {
  const char* special = nullptr;
  if (x != x) special = "NaN";
  else if (x < 0) special = "Neg";
  else if (std::isinf(x)) special = "Inf";
  if (special) {
    if (cap < 4) FillHashes(t, cap);
    else t.Put(special);
    return;
  }
  int32 fracDigits = bits & kTSFracDigitsMask;
  int32 scale = fracDigits == 0 ? 1 : fracDigits == 1 ? 10 : fracDigits == 2 ? 100 : 1000;
  long double secs;
  int32 fracUnits = 0;
  if (fracDigits == 0) {
    secs = __builtin_rintl(x);  // halves to even
  } else {
    secs = floorl(x);
    fracUnits = int32(floorl((x - secs) * scale));
    if (fracUnits >= scale) fracUnits = scale - 1;
    if (fracUnits < 0) fracUnits = 0;
  }
  struct tm fields;
  if (secs > 9.0e15L || !PlatLocalTimeFields(int64(secs), &fields)) {
    FillHashes(t, cap);
    return;
  }
  char tsep = char(NumTimeSeparator()), dsep = char(NumDateSeparator());
  bool showTime = bits & kTSShowTime, h24 = bits & kTS24Hour, showSecs = bits & kTSShowSeconds;
  // Before the fraction: the time up to its seconds; after it: the AM/PM
  // designator and the date.
  char f1[32], f2[48];
  int32 n1 = 0, n2 = 0;
  if (showTime) {
    AddStr(f1, n1, h24 ? "%H" : "%I");
    AddSep(f1, n1, tsep);
    AddStr(f1, n1, "%M");
    if (showSecs) {
      AddSep(f1, n1, tsep);
      AddStr(f1, n1, "%S");
    }
    if (!h24) AddStr(f2, n2, " %p");
  }
  if (bits & kTSShowDate) {
    if (showTime) f2[n2++] = '\n';
    bool dayFirst = bits & kTSDayFirst, showYear = bits & kTSShowYear;
    const char* year = (bits & kTSFourDigitYear) ? "%Y" : "%y";
    const char* first = dayFirst ? "%d" : "%m";
    const char* second = dayFirst ? "%m" : "%d";
    if (showYear && (bits & kTSYearFirst)) {
      AddStr(f2, n2, year);
      AddSep(f2, n2, dsep);
    }
    AddStr(f2, n2, first);
    AddSep(f2, n2, dsep);
    AddStr(f2, n2, second);
    if (showYear && !(bits & kTSYearFirst)) {
      AddSep(f2, n2, dsep);
      AddStr(f2, n2, year);
    }
  }
  f1[n1] = 0;
  f2[n2] = 0;
  char text[128];
  int32 len = 0;
  if (n1) len = int32(PlatFormatTimeFields(text, sizeof text, f1, &fields));
  if (showTime && showSecs && fracDigits > 0) {
    text[len++] = dp;
    for (int32 div = scale / 10; div >= 1; div /= 10) text[len++] = char('0' + (fracUnits / div) % 10);
  }
  if (n2) len += int32(PlatFormatTimeFields(text + len, sizeof text - size_t(len), f2, &fields));
  if (len > cap - 1) FillHashes(t, cap);
  else t.Put(text, len);
}

// Any real value (or one part of a complex number) in any format code.
void PutValue(Txt& t, const Val& v, int32 code, char dp, int32 cap) {
  if (code >= kNumFmtTimeStampFirst) {
    PutTimeStamp(t, v.x, (code - kNumFmtTimeStampFirst) & 0x3FF, dp, cap);
  } else if (code >= kNumFmtElapsedFirst) {
    int32 k = code - kNumFmtElapsedFirst;
    PutElapsed(t, v.x, k < kMaxElapsedDecimals ? k : kMaxElapsedDecimals, dp, cap);
  } else if (code >= kNumFmtEngFirst) {
    PutEngineering(t, v, code < 162 ? code : 162, dp, cap);
  } else if (code >= kNumFmtDecimal) {
    PutIntegerCode(t, v, code);
  } else if (code > 0) {
    PutExponent(t, v, code, dp, cap);
  } else {
    int32 k = -code;
    PutFixed(t, v, k < kMaxFixedDecimals ? k : kMaxFixedDecimals, dp, cap);
  }
}

// Formats one part into its own capacity; an overlong part is cut and
// reported.
int32 PartText(char* buf, const Val& v, int32 code, char dp, int32 cap) {
  Txt t{buf, kWorkSize};
  PutValue(t, v, code, dp, cap);
  int32 n = t.Len();
  if (n > cap - 1) {
    DBAssert(__FILE__, __LINE__, "number text reached the capacity");
    n = cap - 1 > 0 ? cap - 1 : 0;
  }
  return n;
}

}  // namespace

// ---------------------------------------------------------------- decimal

void NumToDecimal(long double x, bool viaDouble, int32 digits, NumDecimal* out) {
  DecimalRec rec;
  if (viaDouble) DoubleToDecimalRec(double(x), digits, &rec);
  else ExtToDecimalRec(x, digits, &rec);
  NumDecimalFromRec(rec, out);
}

bool NumDecimalFromRec(const DecimalRec& rec, NumDecimal* out) {
  out->neg = (rec.sign & 0x80) != 0;
  out->n = 0;
  out->first = 0;
  if (rec.exponent == kDecExpNaN) {
    out->kind = NumDecimal::kNaN;
    return true;
  }
  if (rec.exponent == kDecExpInf) {
    out->kind = NumDecimal::kInf;
    return true;
  }
  out->kind = NumDecimal::kFinite;
  int32 n = rec.digits < 0 ? 0 : rec.digits > int32(kDecRecDigits) ? int32(kDecRecDigits) : int32(rec.digits);
  bool bad = rec.digits < 0 || rec.digits > kDecRecDigits;
  for (int32 pos = 0; pos < n && !bad; ++pos) {
    uChar b = rec.bcd[pos >> 1];
    if (((pos & 1) ? (b >> 4) : (b & 15)) > 9) bad = true;
  }
  if (bad) {
    DBPrintf("sign %d, exp %d, mdigits %d, m %x %x %x %x %x %x %x %x %x", int32(rec.sign), int32(rec.exponent),
             int32(rec.digits), rec.bcd[0], rec.bcd[1], rec.bcd[2], rec.bcd[3], rec.bcd[4], rec.bcd[5], rec.bcd[6],
             rec.bcd[7], rec.bcd[8]);
    DBAssert(__FILE__, __LINE__, "decimal record digit out of range");
    return false;
  }
  char digits[kDecRecDigits];
  DecimalRecDigitChars(rec, digits);
  int32 lead = 0;
  while (lead < n && digits[lead] == '0') ++lead;  // a record may carry leading zeros
  while (n > lead && digits[n - 1] == '0') --n;     // trailing zeros are implied
  int32 trailing = (rec.digits < int32(kDecRecDigits) ? int32(rec.digits) : int32(kDecRecDigits)) - n;
  out->n = n - lead;
  std::memcpy(out->d, digits + lead, size_t(out->n));
  // The record's value is digits * 10^exponent: its last digit sits at the
  // exponent.
  out->first = rec.exponent + trailing + out->n - 1;
  return true;
}

// ---------------------------------------------------------------- entry

int32 NumToIntegerText(const void* src, int32 type, int32 code, char* out) {
  type &= 15;
  if (!src) {
    out[0] = '0';
    out[1] = 0;
    return 1;
  }
  int32 size = NumSize(type), cls = NumClass(type);
  bool smallInt = (cls == kNumClassSigned || cls == kNumClassUnsigned) && size <= 2;
  uInt32 mask = !smallInt ? 0xFFFFFFFFu : size == 1 ? 0xFFu : 0xFFFFu;
  switch (code) {
    case kNumFmtUnsigned: return NumToUDecStr(NumToULong(type, src), out);
    case kNumFmtHex: return NumToHexStr(uInt32(NumToLong(type, src)) & mask, out);
    case kNumFmtOctal: return NumToOctStr(uInt32(NumToLong(type, src)) & mask, out);
    case kNumFmtBinary: return NumToBinStr(uInt32(NumToLong(type, src)) & mask, out);
    default:
      return cls == kNumClassUnsigned ? NumToUDecStr(NumToULong(type, src), out)
                                      : NumToDecStr(NumToLong(type, src), out);
  }
}

int32 NumToTextFmt(const void* src, int32 type, int32 code, char* out, int32 capacity, int32 decimalPt) {
  if (!out || capacity <= 0) return 0;
  type &= 15;
  char dp = char(decimalPt);
  char work[kWorkSize];
  Txt t{work, kWorkSize};
  int32 cls = NumClass(type);
  if (!src) {
    t.Put(cls == kNumClassComplex ? "0 + 0i" : "0");
  } else if (cls == kNumClassComplex) {
    int32 part = type - 3;
    const void* imPtr = static_cast<const uChar*>(src) + NumSize(part);
    bool timeCode = code >= kNumFmtElapsedFirst;
    if (timeCode) DBAssert(__FILE__, __LINE__, "complex number in a time format");
    Val re{part, src, NumLoadReal(type, src), IsDoubleExact(part)};
    Val im{part, imPtr, NumLoadImag(type, src), IsDoubleExact(part)};
    int32 half = capacity / 2;
    char a[kWorkSize], b[kWorkSize];
    if (timeCode) {
      t.Put(a, PartText(a, re, code, dp, capacity));
    } else if (code < -64) {
      // Polar form: magnitude and angle, each in the format code + 100.
      Val mag{part, nullptr, hypotl(re.x, im.x), false};
      Val ang{part, nullptr, atan2l(im.x, re.x), false};
      if (re.x != re.x || im.x != im.x) mag.x = ang.x = NumSystemNaN();
      int32 c2 = code + 100;
      t.Put(a, PartText(a, mag, c2, dp, half));
      t.Put(" arg ");
      t.Put(b, PartText(b, ang, c2, dp, half));
    } else {
      int32 na = PartText(a, re, code, dp, half);
      int32 nb = PartText(b, im, code, dp, half);
      t.Put(a, na);
      t.Put(' ');
      if (!(nb > 0 && b[0] == '-')) t.Put('+');
      t.Put(b, nb);
      if (t.n + 2 <= capacity - 2) t.Put(" i");
    }
  } else {
    Val v{type, src, NumLoadReal(type, src), IsDoubleExact(type)};
    PutValue(t, v, code, dp, capacity);
  }
  int32 n = t.Len();
  if (n > capacity - 1) {
    DBAssert(__FILE__, __LINE__, "number text reached the capacity");
    n = capacity - 1;
  }
  std::memcpy(out, work, size_t(n));
  out[n] = 0;
  return n;
}

int32 NumToText(const void* src, int32 type, int32 code, char* out, int32 capacity) {
  return NumToTextFmt(src, type, code, out, capacity, NumDefaultDecimalPt());
}
