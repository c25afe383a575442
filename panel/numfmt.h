// The display format code of numerics, scales and graph axes: a signed
// 16-bit word packing the notation and its precision into disjoint ranges.
#pragma once
#include "mgsource/extcode.h"

typedef int16 NumFormatCode;
// Format kinds: the notations in the order of the graph's format list.
enum : int16 {
  kFmtKindDecimal = 0,      // codes -64 .. 0, precision -code
  kFmtKindScientific = 1,   // 1 .. 63, code - 1
  kFmtKindEngineering = 2,  // 100 .. 162, code - 100
  kFmtKindBinary = 3,       // 68
  kFmtKindOctal = 4,        // 67
  kFmtKindHex = 5,          // 66
  kFmtKindRelTime = 6,      // 200 .. 299, code - 200
  kFmtKindAbsTime = 7,      // 512 .. 1536: 512 + flags (bits 2 to 9) + precision (0 .. 3)
};
// Flags of an absolute-time code.
enum : int32 {
  kAbsTimeShowTime = 4,
  kAbsTimeHour24 = 8,
  kAbsTimeFraction = 16,
  kAbsTimeShowDate = 32,
  kAbsTimeDayFirst = 64,
  kAbsTimeLongDate = 128,
  kAbsTimeYearFirst = 256,
  kAbsTimeSeconds = 512,
};

// The code (widened with its sign) as (kind, precision): 1 with both
// written when it lies in a kind's range; 0, neither written, otherwise.
QX_EXTERN_C Bool32 DecodeNumFormat(int32 code, int16* kind, int16* precision);
// Writes the code of (kind, precision) and returns 1; 0 with the code left
// as it was for a kind outside 0 .. 7 or a precision its kind does not
// take.  An absolute time carries the flags of the code it replaces when
// that is one; a new one takes them from the preferences.
QX_EXTERN_C Bool32 EncodeNumFormat(NumFormatCode* code, int16 kind, int16 precision);
// The precision of a code by the same ranges; 0 for a code that is none.
QX_EXTERN_C int32 NumFormatPrecision(int32 code);
