// Numeric format codes: (kind, precision) pairs packed into one signed
// 16-bit code and read back.  Every code written reads back as the pair it
// was written from: engineering precisions stop at 62 as scientific ones
// do, since codes 163 .. 199 are no format.
#include "panel/numfmt.h"

#include <algorithm>

#include "mgsource/prefs.h"

Bool32 DecodeNumFormat(int32 code, int16* kind, int16* precision) {
  int32 k = -1, p = 0;
  if (code >= -64 && code <= 0) k = kFmtKindDecimal, p = -code;
  else if (code >= 1 && code <= 63) k = kFmtKindScientific, p = code - 1;
  else if (code >= 100 && code <= 162) k = kFmtKindEngineering, p = code - 100;
  else if (code >= 200 && code <= 299) k = kFmtKindRelTime, p = code - 200;
  else if (code >= 512 && code <= 1536) k = kFmtKindAbsTime, p = code & 3;
  else if (code == 68) k = kFmtKindBinary;
  else if (code == 67) k = kFmtKindOctal;
  else if (code == 66) k = kFmtKindHex;
  if (k < 0) return false;
  if (kind) *kind = int16(k);
  if (precision) *precision = int16(p);
  return true;
}

namespace {

// The flags of a new absolute-time code: time, fraction, date, long date
// and seconds always, the rest by the preferences.
int32 NewTimeFlags() {
  int32 f = kAbsTimeShowTime | kAbsTimeFraction | kAbsTimeShowDate | kAbsTimeLongDate | kAbsTimeSeconds;
  if (PrefGet(kPrefHour24)) f |= kAbsTimeHour24;
  if (PrefGet(kPrefDateDayFirst)) f |= kAbsTimeDayFirst;
  if (PrefGet(kPrefYearFirst)) f |= kAbsTimeYearFirst;
  return f;
}

// The flags carried from an absolute-time code to one of precision p.
int32 CarriedTimeFlags(int32 old, int32 p) {
  const int32 was = (old - 512) & 0x3FC;
  int32 f = was & (kAbsTimeShowTime | kAbsTimeHour24 | kAbsTimeShowDate | kAbsTimeDayFirst | kAbsTimeYearFirst |
                   kAbsTimeSeconds);
  if ((was & kAbsTimeShowTime && was & kAbsTimeFraction) || p > 0) f |= kAbsTimeFraction;
  if (was & kAbsTimeShowDate && was & kAbsTimeLongDate) f |= kAbsTimeLongDate;
  return f;
}

}  // namespace

Bool32 EncodeNumFormat(NumFormatCode* code, int16 kind, int16 precision) {
  if (!code) return false;
  int32 next = 0;
  const int32 p = precision;
  switch (kind) {
    case kFmtKindDecimal:
      if (p < 0 || p > 64) return false;
      next = -p;
      break;
    case kFmtKindScientific:
    case kFmtKindEngineering:
      if (p < 0 || p > 62) return false;
      next = (kind == kFmtKindScientific ? 1 : 100) + p;
      break;
    case kFmtKindBinary: next = 68; break;
    case kFmtKindOctal: next = 67; break;
    case kFmtKindHex: next = 66; break;
    case kFmtKindRelTime:
      if (p < 0 || p > 99) return false;
      next = 200 + p;
      break;
    case kFmtKindAbsTime: {
      if (p < 0) return false;
      const int32 q = std::min(p, 3);
      const int32 old = *code;
      next = 512 + (old >= 512 && old <= 1536 ? CarriedTimeFlags(old, q) : NewTimeFlags()) + q;
      break;
    }
    default: return false;
  }
  *code = NumFormatCode(next);
  return true;
}

int32 NumFormatPrecision(int32 code) {
  int16 kind = 0, precision = 0;
  return DecodeNumFormat(code, &kind, &precision) ? precision : 0;
}
