// Fuzz target: 16-byte flat extended numbers and 14-byte decimal records as
// they might come from files.  Every pattern must convert without a trap,
// without touching the floating-point control word, and consistently:
// flat -> native -> flat keeps the word and the fraction; a record with
// valid digits reads back as strtold reads its text; finite values survive a
// trip through 17-digit decimal records to within the last digit.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mgsource/extmath.h"

namespace {

uInt16 ControlWord() {
  uInt16 cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "extmath fuzz: %s\n", what);
    std::abort();
  }
}

void FlatRoundTrip(const uint8_t* in, uInt32 digitsByte) {
  uChar flat[16];
  std::memcpy(flat, in, 16);
  floatExt v = 0;
  ExtBEToNative(flat, &v);
  uChar again[16];
  ExtNativeToBE(&v, again);
  Check(std::memcmp(again, flat, 2) == 0, "sign and exponent word changed");
  if ((flat[0] & 0x7F) | flat[1]) {
    Check(std::memcmp(again + 2, flat + 2, 7) == 0 && again[9] == (flat[9] & 0xFE), "fraction changed");
  } else {
    Check(std::memcmp(again + 2, flat + 2, 8) == 0, "zero or denormal changed");
  }
  for (int i = 10; i < 16; ++i) Check(again[i] == 0, "tail not zero");

  // To a decimal record and back.
  int32 digits = int32(digitsByte % 40) - 20;  // fixed and significant forms
  DecimalRec rec;
  ExtToDecimalRec(v, digits, &rec);
  Check(rec.digits >= 0 && rec.digits <= 18, "digit count out of range");
  char text[24];
  int32 n = DecimalRecDigitChars(rec, text);
  for (int32 i = 0; i < n; ++i) Check(text[i] >= '0' && text[i] <= '9', "not a decimal digit");
  if (n > 0) Check(text[0] != '0', "leading zero");
  floatExt back = DecimalRecToExt(&rec);
  if (std::isnan(v)) {
    Check(rec.exponent == kDecExpNaN && std::isnan(back), "NaN record");
  } else if (std::isinf(v)) {
    Check(rec.exponent == kDecExpInf && back == v, "infinity record");
  } else if (rec.exponent == kDecExpNaN) {
    Check(std::isnan(back), "unsupported pattern record");  // unnormals
  } else if (digits > 0 && v != 0) {
    floatExt rel = fabsl((back - v) / v);
    floatExt bound = powl(10.0L, floatExt(1 - (digits > 17 ? 17 : digits)));
    // Near the largest extended number the rounded decimal may lie beyond
    // it and read back, correctly, as infinity.
    bool overflowed = std::isinf(back) && fabsl(v) > 1e4931L;
    Check(rel <= bound || overflowed || fabsl(v) < 1e-4900L, "decimal round trip too far off");
    double d = double(v);
    if (digits >= 17 && floatExt(d) == v && std::isnormal(d)) {
      DecimalRec r17;
      DoubleToDecimalRec(d, 17, &r17);
      Check(DecimalRecToDouble(&r17) == d, "17 digits do not give the double back");
    }
  }
}

void RecordAgainstStrtold(const uint8_t* in) {
  DecimalRec rec;
  std::memcpy(&rec, in, sizeof rec);
  floatExt v = DecimalRecToExt(&rec);
  double d = DecimalRecToDouble(&rec);
  (void)d;
  if (rec.exponent == kDecExpInf || rec.exponent == kDecExpNaN) return;
  char text[48];
  int pos = 0;
  if (rec.sign & 0x80) text[pos++] = '-';
  for (int i = 17; i >= 0; --i) {
    int nib = (rec.bcd[i >> 1] >> ((i & 1) * 4)) & 15;
    if (nib > 9) return;  // bad digits: only "no trap" is asked
    text[pos++] = char('0' + nib);
  }
  std::snprintf(text + pos, sizeof text - pos, "e%d", int(rec.exponent));
  floatExt want = std::strtold(text, nullptr);
  Check(std::memcmp(&want, &v, 10) == 0, "record differs from strtold");
  double wd = std::strtod(text, nullptr), gd = DecimalRecToDouble(&rec);
  Check(std::memcmp(&wd, &gd, 8) == 0, "record differs from strtod");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 17) return 0;
  uInt16 cw = ControlWord();
  FlatRoundTrip(data, data[16]);
  if (size >= 17 + sizeof(DecimalRec)) RecordAgainstStrtold(data + 17);
  Check(ControlWord() == cw, "control word changed");
  return 0;
}
