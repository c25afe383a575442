// The decimal digits of a number, as the formatting code uses them.
#pragma once
#include "extcode.h"
#include "extmath.h"

struct NumDecimal {
  enum Kind : int32 { kFinite = 0, kInf = 1, kNaN = 2 };
  Kind kind;
  bool neg;
  int32 first;  // decimal exponent of the first digit
  int32 n;      // significant digits held, without leading or trailing zeros (0 for zero)
  char d[kDecRecDigits];
};

// x rounded to digits significant digits (digits > 0) or at 10^digits
// (digits <= 0), by the extended-precision library's decimal conversion.
void NumToDecimal(long double x, bool viaDouble, int32 digits, NumDecimal* out);
// Reads a decimal record; a digit outside 0 to 9 is written to the debug
// output with the record, reported, and gives false.
bool NumDecimalFromRec(const DecimalRec& rec, NumDecimal* out);
