// Stepping a numeric's, ring's or slide's value by its arrows, keys and text cursor.
#include "panel/numincdec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <type_traits>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numoperate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "rtlib/objunits.h"

namespace {

const char kSource[] = "numincdec";

constexpr int32 kPartNumText = 10, kPartSlideScale = 17;
constexpr int32 kReplyChangedBit = 0x8, kReplyFailedBit = 0x10;
constexpr uInt32 kSlideFixedIncrement = 0x100000;  // object flag bit 20
constexpr uInt32 kOwnerTextEntry = 0x80000;
constexpr int32 kFieldBytes = 10;
constexpr int32 kMaxTries = 21;

// The procedure and direction of the step being taken.
IncDecStepProc gProc = nullptr;
int32 gUp = 1;

template <typename T>
T Get(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void Put(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// ---- Integer representations ---------------------------------------------------------------
template <typename T>
int32 IntStep(int32 op, IncDecState* s, void* a, void* b) {
  using U = std::make_unsigned_t<T>;
  const T m = T(s->multiplier);
  switch (op) {
    case 0: {
      const T step = Get<T>(a);
      if (Get<int32>(b) < 0) {
        Put<T>(a, m ? T(step / m) : step);
        return 0;
      }
      // A product beyond the type keeps the step (the caller leaves it unmarked).
      const long double product = static_cast<long double>(step) * m;
      if (product > static_cast<long double>(std::numeric_limits<T>::max()) ||
          product < static_cast<long double>(std::numeric_limits<T>::min()))
        return 1;
      Put<T>(a, T(U(step) * U(m)));
      return 0;
    }
    case 1: {
      const T v = Get<T>(a), step = Get<T>(b);
      if (step == 0) return 0;
      const T rem = (std::is_signed_v<T> && step == T(-1)) ? T(0) : T(v % step);
      const T aligned = T(U(v) - U(rem));
      const T product = T(U(m) * U(step));
      if (product == 0) return 0;
      if (std::is_signed_v<T> && product == T(-1)) return 1;
      return aligned % product == 0 ? 1 : 0;
    }
    case 2: return Get<T>(a) == 0 ? 1 : 0;
    case 3: {
      const T step = Get<T>(a), old = Get<T>(b);
      const T mx = Get<T>(s->max), mn = Get<T>(s->min);
      T r;
      bool ok;
      if (gUp) {
        r = T(U(old) + U(step));
        ok = r >= old && r <= mx;
      } else {
        r = T(U(old) - U(step));
        ok = r <= old && r >= mn;
      }
      if (ok) {
        Put<T>(b, r);
        return 0;
      }
      if (s->kind & kIncKindWraps) {
        Put<T>(b, gUp ? mn : mx);
        return 0;
      }
      return 1;
    }
    case 4:
      if (!(s->kind & kIncKindWraps)) {
        if (s->rangeFlags & kIncNoMin) Put<T>(s->min, std::numeric_limits<T>::min());
        if (s->rangeFlags & kIncNoMax) Put<T>(s->max, std::numeric_limits<T>::max());
      }
      if (s->rangeFlags & kIncNoInc) Put<T>(s->increment, T(1));
      return 0;
    default: return 0;
  }
}

// ---- Floating representations: W is the working type ------------------------------------
struct ExtField {
  static double Load(const void* p) {
    long double x = 0;
    std::memcpy(&x, p, kFieldBytes);
    return double(x);
  }
  static void Store(void* p, double v) {
    const long double x = v;
    std::memcpy(p, &x, kFieldBytes);
  }
};
template <typename T>
struct PlainField {
  static T Load(const void* p) { return Get<T>(p); }
  static void Store(void* p, T v) { Put<T>(p, v); }
};

template <typename W, typename F>
int32 FloatStep(int32 op, IncDecState* s, void* a, void* b, W epsilon) {
  switch (op) {
    case 0: {
      const W step = F::Load(a);
      F::Store(a, Get<int32>(b) < 0 ? W(step / W(10)) : W(step * W(10)));
      return 0;
    }
    case 1: {
      const W v = std::fabs(F::Load(a)), step = F::Load(b);
      if (step == 0) return 0;
      const W n = std::trunc(W(v / step)), al = W(n * step);
      const W big = W(W(s->multiplier) * step);
      if (big == 0) return 0;
      const W k = std::trunc(W(al / big));
      const W r = W(al - W(k * big));
      return std::fabs(r) < epsilon ? 1 : 0;
    }
    case 2: return F::Load(a) == 0 ? 1 : 0;
    case 3: {
      const W step = F::Load(a), old = F::Load(b);
      const W r = gUp ? W(old + step) : W(old - step);
      const bool ok = gUp ? r <= F::Load(s->max) : r >= F::Load(s->min);
      if (ok) {
        F::Store(b, r);
        return 0;
      }
      if (s->kind & kIncKindWraps) {
        std::memcpy(b, gUp ? s->min : s->max, kFieldBytes);
        return 0;
      }
      return 1;
    }
    case 4:
      if (!(s->kind & kIncKindWraps)) {
        if (s->rangeFlags & kIncNoMin) F::Store(s->min, -std::numeric_limits<W>::infinity());
        if (s->rangeFlags & kIncNoMax) F::Store(s->max, std::numeric_limits<W>::infinity());
      }
      if (s->rangeFlags & kIncNoInc) F::Store(s->increment, W(0.1));
      return 0;
    default: return 0;
  }
}

// The bytes a representation's value takes in the record and the data.
int32 ValueBytes(int32 repr) {
  const int32 code = repr & 0xFF;
  if (code == kTDI64 || code == kTDU64) return 8;
  if (code >= kTDI8 && code <= kTDEXT) return NumSize(code);
  return 4;  // stepped as a signed 32-bit value
}

// A field as an extended number (for comparisons and conversions).
long double FieldToExt(int32 repr, const void* field) {
  const int32 code = repr & 0xFF;
  long double x = 0;
  if (code >= kTDI8 && code <= kTDEXT) ConvertNum(code, field, kTDEXT, &x);
  else ConvertNum(kTDI32, field, kTDEXT, &x);
  return x;
}
void ExtToField(int32 repr, long double x, void* field) {
  const int32 code = repr & 0xFF;
  uChar out[16] = {};
  ConvertNum(kTDEXT, &x, code >= kTDI8 && code <= kTDEXT ? code : kTDI32, out);
  std::memcpy(field, out, size_t(ValueBytes(repr)));
}

// The step's absolute value: a negative increment steps the same way.
void AbsStep(int32 repr, void* step) {
  const long double x = FieldToExt(repr, step);
  if (x < 0) ExtToField(repr, -x, step);
}

// The object's value type: of a cluster, its first element's.
const TypeDescriptor* ValueTD(ObjHeap heap, int32 object, bool* cluster) {
  const TypeID id = opmeth::IsObject(heap, object) ? DDOTypeID(heap, object) : 0;
  const TypeDescriptor* td = id ? SkipTypedefs(TypeIDToTD(heap, id)) : nullptr;
  *cluster = false;
  if (td && td->code == kTDCluster) {
    *cluster = true;
    td = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) > 0 ? SkipTypedefs(ElemTD(td, 0)) : nullptr;
  }
  return td;
}

// The text of the record's text handle (a count and the bytes), checked.
bool TextOf(UHandle text, const uChar** bytes, int32* len) {
  if (!text || DSCheckHandle(text) != kNoErr || !*text || DSGetHandleSize(text) < 4) return false;
  const int32 n = int32(GetNative32(*text));
  if (n < 0 || n > DSGetHandleSize(text) - 4) return false;
  *bytes = *text + 4, *len = n;
  return true;
}

bool IsDigit(uChar c) { return c >= '0' && c <= '9'; }

// The place value of the digit at or right of the cursor (the cursor moved
// one place right when the character left of it is no digit); false when
// neither is a digit.  at: the digit's index.
bool CursorDigit(const uChar* text, int32 len, int32 cursor, int32* at) {
  if (cursor > 0 && cursor <= len && IsDigit(text[cursor - 1])) return *at = cursor - 1, true;
  if (cursor >= 0 && cursor < len && IsDigit(text[cursor])) return *at = cursor, true;
  return false;
}

bool StoreStep(int32 repr, long double x, void* step) {
  if (!std::isfinite(double(x)) || x == 0) return false;
  // A step beyond a 64-bit integer's range, or below the double precision
  // extended values are worked in, is no step.
  ExtToField(repr, std::fabs(x), step);
  return double(FieldToExt(repr, step)) > 0;
}

// A month or year later or earlier than secs; the absolute difference.
long double CalendarStep(uInt32 secs, bool year, bool up) {
  struct tm t = *SecsToTm(&secs);
  if (year) {
    t.tm_year += up ? 1 : -1;
  } else if (up && t.tm_mon == 11) {
    t.tm_mon = 0, t.tm_year += 1;
  } else if (!up && t.tm_mon == 0) {
    t.tm_mon = 11, t.tm_year -= 1;
  } else {
    t.tm_mon += up ? 1 : -1;
  }
  const uInt32 moved = TmToSecs(&t);
  if (!moved) return 0;
  return moved > secs ? (long double)(moved - secs) : (long double)(secs - moved);
}

// The two item counts of a ring: part 14's table and part 12's texts.
int32 RingCount(ObjHeap heap, int32 ring) {
  int32 texts = 0, table = 0;
  RingItemCounts(heap, ring, &texts, &table);
  return std::max(texts, table);
}

// The ring's item list (a count, then one word per item, bit 0 disabled)
// checked against its handle; count 0 without one.
const uChar* RingItems(ObjHeap heap, int32 ring, int32* count) {
  *count = 0;
  const UHandle list = ObjItemData(heap, ring);
  if (!list || !*list || DSGetHandleSize(list) < 4) return nullptr;
  const int32 n = int32(GetNative32(*list));
  if (n <= 0 || int64(n) * 4 + 4 > DSGetHandleSize(list)) return nullptr;
  *count = n;
  return *list + 4;
}

}  // namespace

// ---- The step procedures -------------------------------------------------------------------
int32 IncDecStepI8(int32 op, IncDecState* s, void* a, void* b) { return IntStep<int8>(op, s, a, b); }
int32 IncDecStepI16(int32 op, IncDecState* s, void* a, void* b) { return IntStep<int16>(op, s, a, b); }
int32 IncDecStepI32(int32 op, IncDecState* s, void* a, void* b) { return IntStep<int32>(op, s, a, b); }
int32 IncDecStepI64(int32 op, IncDecState* s, void* a, void* b) { return IntStep<int64>(op, s, a, b); }
int32 IncDecStepU8(int32 op, IncDecState* s, void* a, void* b) { return IntStep<uInt8>(op, s, a, b); }
int32 IncDecStepU16(int32 op, IncDecState* s, void* a, void* b) { return IntStep<uInt16>(op, s, a, b); }
int32 IncDecStepU32(int32 op, IncDecState* s, void* a, void* b) { return IntStep<uInt32>(op, s, a, b); }
int32 IncDecStepU64(int32 op, IncDecState* s, void* a, void* b) { return IntStep<uInt64>(op, s, a, b); }
int32 IncDecStepSGL(int32 op, IncDecState* s, void* a, void* b) {
  return FloatStep<float32, PlainField<float32>>(op, s, a, b, 1e-6f);
}
int32 IncDecStepDBL(int32 op, IncDecState* s, void* a, void* b) {
  return FloatStep<float64, PlainField<float64>>(op, s, a, b, 1e-12);
}
int32 IncDecStepEXT(int32 op, IncDecState* s, void* a, void* b) {
  return FloatStep<double, ExtField>(op, s, a, b, 1e-14);
}

IncDecStepProc IncDecProcFor(int32 repr) {
  switch (repr & 0xFF) {
    case kTDI8: return &IncDecStepI8;
    case kTDI16: return &IncDecStepI16;
    case kTDI64: return &IncDecStepI64;
    case kTDU8: return &IncDecStepU8;
    case kTDU16: return &IncDecStepU16;
    case kTDU32: return &IncDecStepU32;
    case kTDU64: return &IncDecStepU64;
    case kTDSGL: return &IncDecStepSGL;
    case kTDDBL: return &IncDecStepDBL;
    case kTDEXT: return &IncDecStepEXT;
    case kTDCSG: case kTDCDB: case kTDCXT: return nullptr;
    default: return &IncDecStepI32;
  }
}

// ---- Set-up --------------------------------------------------------------------------------
Bool32 IncDecGetRepr(ObjHeap heap, int32 object, IncDecState* s) {
  s->rangeFlags = OHBlockSize(heap, object) >= kRangeWordByte + 2 ? uInt16(ObjInt16(heap, object, kRangeWordByte)) : 0;
  bool cluster = false;
  const TypeDescriptor* td = ValueTD(heap, object, &cluster);
  const int32 code = td ? td->code : 0;
  if (code < 1 || code > 30) {
    DBAssert(kSource, __LINE__, "incdec: bad representation");
    return 0;
  }
  s->repr = int16(code & ~0x10);
  // A value narrower than the bytes the step works on is not stepped.
  return DataSize(td) >= ValueBytes(s->repr) ? 1 : 0;
}

Bool32 IncDecLoadRange(ObjHeap heap, int32 /*object*/, IncDecState* s, int32 rangeOffset) {
  if (!rangeOffset || (s->rangeFlags & (kIncNoMin | kIncNoMax | kIncNoInc)) == (kIncNoMin | kIncNoMax | kIncNoInc))
    return 1;
  UHandle* ds = FPGetDataSpace(heap);
  if (!ds || !*ds || !**ds || rangeOffset < 0) return 0;
  const int32 code = s->repr & 0xFF;
  const TypeDescriptor* td = StdTDTable[code >= kTDI8 && code <= kTDEXT ? code : kTDI32];
  const int32 size = ValueBytes(s->repr);
  uChar* fields[3] = {s->min, s->max, s->increment};
  int32 off = rangeOffset;
  for (int32 i = 0; i < 3; ++i) {
    off = AlignDatum(td, off);
    if (off < 0 || int64(off) + size > DSGetHandleSize(*ds)) return 0;
    if (!(s->rangeFlags & (kIncNoMin << i))) std::memcpy(fields[i], **ds + off, size_t(size));
    off += size;
  }
  return 1;
}

UPtr NumIncDecSetup(ObjHeap heap, int32 object, ActionParams* p, Bool32 useTextCursor) {
  if (!p || !opmeth::IsObject(heap, object)) return nullptr;
  IncDecState* s = IncDecOf(p);
  const UPtr data = NumValueData(heap, object, 0);
  if (!data) return nullptr;
  if (!IncDecGetRepr(heap, object, s)) return nullptr;
  bool cluster = false;
  ValueTD(heap, object, &cluster);
  if (!cluster) s->data = data;
  if (!s->data) return nullptr;
  for (uChar* field : {s->value, s->max, s->min, s->increment, s->initialStep, s->step})
    std::memset(field, 0, kFieldBytes);
  std::memcpy(s->value, s->data, size_t(ValueBytes(s->repr)));
  // Without range values in the data (none kept, or not inside it) no limit
  // or increment is set.
  const int32 range = OHBlockSize(heap, object) >= 4 * (kPWNumRange + 1) ? ObjWord(heap, object, kPWNumRange) : 0;
  if (!range || !IncDecLoadRange(heap, object, s, range)) s->rangeFlags |= kIncNoMin | kIncNoMax | kIncNoInc;
  s->selStart = s->selEnd = -1;
  s->text = nullptr;
  const int32 part = FindPart(heap, object, kPartNumText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  int32 start = -1, end = -1;
  if (text && useTextCursor && TGetSelection(text, &start, &end)) {
    s->selStart = int16(std::clamp(start, -1, 0x7FFF));
    s->selEnd = int16(std::clamp(end, -1, 0x7FFF));
    s->text = TGetText(text);
  }
  const int32 format = NumGetFormat(heap, object);
  s->multiplier = format == kNumFmtHex ? 16 : format == kNumFmtOctal ? 8 : format == kNumFmtBinary ? 2 : 10;
  if (s->kind == kIncKindRing) {
    if ((s->rangeFlags & kIncNoMin) || FieldToExt(s->repr, s->min) < 0) ExtToField(s->repr, 0, s->min);
    const int32 count = RingCount(heap, object);
    if ((s->rangeFlags & kIncNoMax) || FieldToExt(s->repr, s->max) > count - 1) ExtToField(s->repr, count - 1, s->max);
  } else if (s->kind == kIncKindSlide) {
    s->selStart = s->selEnd = -1;
    const int32 scale = FindPart(heap, object, kPartSlideScale, 0);
    PanelScaleInfo info{};
    if (!scale || !PanelScale().scaleInfo || !PanelScale().scaleInfo(heap, scale, &info)) {
      DBAssert(kSource, __LINE__, "incdec: a slide without its scale");
      return nullptr;
    }
    float64 lo = info.min, hi = info.max;
    if (!(hi > lo)) {
      std::swap(lo, hi);
      s->pressState = s->pressState == kArrowUp ? kArrowDown : kArrowUp;
    }
    if (s->rangeFlags & kIncNoMin) {
      ExtToField(s->repr, lo, s->min);
      s->rangeFlags &= uInt16(~kIncNoMin);
    } else if (FieldToExt(s->repr, s->min) < lo) {
      ExtToField(s->repr, lo, s->min);
    }
    if (s->rangeFlags & kIncNoMax) {
      ExtToField(s->repr, hi, s->max);
      s->rangeFlags &= uInt16(~kIncNoMax);
    } else if (FieldToExt(s->repr, s->max) > hi) {
      ExtToField(s->repr, hi, s->max);
    }
    const bool floating = NumClass(s->repr & 0xF) == kNumClassFloat && (s->repr & 0xFF) <= kTDEXT;
    if ((s->rangeFlags & kIncNoInc) && floating && !(uInt32(ObjWord(heap, object, 0)) & kSlideFixedIncrement)) {
      const int32 pixels = std::abs(int32(info.pixelEnd) - int32(info.pixelStart));
      ExtToField(s->repr, (hi - lo) / (pixels ? pixels : 1), s->increment);
      s->rangeFlags &= uInt16(~kIncNoInc);
    }
  }
  return data;
}

// ---- Steps from the text -------------------------------------------------------------------
void IncDecUnitStep(int32 repr, void* step) {
  std::memset(step, 0, kFieldBytes);
  ExtToField(repr, 1, step);
}

void IncDecUnitScaleStep(ObjHeap heap, int32 object, int32 repr, void* step) {
  const int32 code = repr & 0xFF;
  if (!heap || code < kTDI8 || code > kTDEXT) return;
  uChar zero[16] = {}, a[32] = {}, b[32] = {};
  if (!UnitConvertObjValue(heap, object, step, 1, a)) return;
  UnitConvertObjValue(heap, object, zero, 1, b);
  ExtToField(repr, FieldToExt(repr, a) - FieldToExt(repr, b), step);
}

Bool32 IncDecDecimalStep(const uChar* text, int32 len, int32 cursor, int32 repr, void* step) {
  if (len <= 0 || len > 255) return 0;
  cursor = std::clamp(cursor, 0, len);
  uChar copy[256];
  std::memcpy(copy, text, size_t(len));
  int32 expo = -1;
  for (int32 i = 0; i < len; ++i) {
    const uChar c = copy[i];
    if (expo < 0 && IsDigit(c)) copy[i] = '0';
    else if (c == 'e' || c == 'E') {
      copy[i] = 'E';
      if (expo < 0) expo = i;
    } else if (i == 0 && c == '-') {
      copy[i] = '0';
    }
  }
  int32 at;
  if (expo >= 0 && cursor >= expo) at = expo - 1;
  else if (cursor == 0) at = copy[0] == 'E' ? -1 : 0;
  else if (copy[cursor - 1] == NumDefaultDecimalPt()) at = cursor < len ? cursor : -1;
  else at = cursor - 1;
  if (at < 0) return 0;
  copy[at] = '1';
  const int32 code = repr & 0xFF;
  uChar number[16] = {};
  if (!TextToNum(copy, len, code >= kTDI8 && code <= kTDEXT ? code : kTDI32, number, 0, 0, nullptr)) return 0;
  return StoreStep(repr, FieldToExt(repr, number), step) ? 1 : 0;
}

Bool32 IncDecRelTimeStep(const uChar* text, int32 len, int32 cursor, int32 repr, void* step) {
  int32 at = 0;
  if (len <= 0 || !CursorDigit(text, len, std::clamp(cursor, 0, len), &at)) return 0;
  const uChar sep = NumTimeSeparator(), point = NumDefaultDecimalPt();
  int32 c = 0, b = 0;
  for (int32 i = 0; i < len; ++i)
    if (text[i] == sep) ++c, b += i < at ? 1 : 0;
  const int32 field = b + 2 - c;
  long double place = 1;
  // Digits after the decimal point up to the cursor's make it a fraction;
  // digits of the same run right of the cursor before the point, a multiple.
  int32 dot = -1;
  for (int32 i = at; i >= 0 && (IsDigit(text[i]) || text[i] == point); --i)
    if (text[i] == point) dot = i;
  if (dot >= 0) {
    for (int32 i = dot + 1; i <= at; ++i) place /= 10;
  } else {
    for (int32 i = at + 1; i < len && IsDigit(text[i]); ++i) place *= 10;
  }
  const long double unit = field == 0 ? 3600 : field == 1 ? 60 : field == 2 ? 1 : 0;
  return StoreStep(repr, unit * place, step) ? 1 : 0;
}

Bool32 IncDecDateTimeStep(const uChar* text, int32 len, int32 cursor, int32 flags, const IncDecState* s,
                          void* step) {
  int32 at = 0;
  if (len <= 0 || !CursorDigit(text, len, std::clamp(cursor, 0, len), &at)) return 0;
  const uChar point = NumDefaultDecimalPt();
  int32 index = 0;
  long double place = 100.0;
  bool inRun = false;
  for (int32 i = 0; i <= at; ++i) {
    const bool part = IsDigit(text[i]) || (inRun && text[i] == point);
    if (part && !inRun) inRun = true, place = 100.0;
    else if (!part && inRun) inRun = false, ++index;
    if (IsDigit(text[i])) place /= 10;
  }
  if (!(flags & kTSShowTime)) index += 3;
  else if (index > 1 && !(flags & kTSShowSeconds)) index += 1;
  if ((flags & (kTSShowDate | kTSShowYear | kTSYearFirst)) == (kTSShowDate | kTSShowYear | kTSYearFirst)) {
    if (index == 3) index = 5;
    else if (index >= 4) index -= 1;
  } else if (flags & kTSDayFirst) {
    if (index == 3) index = 4;
    else if (index == 4) index = 3;
  }
  long double x = 0;
  switch (index) {
    case 0: x = 3600; break;
    case 1: x = 60 * place; break;
    case 2: x = place; break;
    case 4: x = 86400; break;
    case 3: case 5: {
      const long double v = FieldToExt(s->repr, s->value);
      const uInt32 secs = v >= 0 && v <= 4294967295.0L ? uInt32(v) : 0;
      const bool up = s->pressState == kArrowUp || s->pressState == kArrowHeldUp;
      x = CalendarStep(secs, index == 5, up);
      break;
    }
    default: x = 0; break;
  }
  return StoreStep(s->repr, x, step) ? 1 : 0;
}

Bool32 IncDecTextStep(ObjHeap heap, int32 object, IncDecState* s, void* step) {
  const uChar* bytes = nullptr;
  int32 len = 0;
  if (!TextOf(s->text, &bytes, &len) || len > 255) return 0;
  uChar copy[256];
  std::memcpy(copy, bytes, size_t(len));
  const int32 cursor = std::clamp(int32(s->selEnd), 0, len);
  const int32 format = NumGetFormat(heap, object);
  if (format >= kNumFmtTimeStampFirst && format <= kNumFmtTimeStampFirst + 1024)
    return IncDecDateTimeStep(copy, len, cursor, format - kNumFmtTimeStampFirst, s, step);
  if (format >= kNumFmtElapsedFirst && format <= kNumFmtElapsedFirst + 99)
    return IncDecRelTimeStep(copy, len, cursor, s->repr, step);
  return IncDecDecimalStep(copy, len, cursor, s->repr, step);
}

// ---- One step ------------------------------------------------------------------------------
int32 IncDecStep(ObjHeap heap, int32 object, ActionParams* p) {
  if (!p) return 0;
  IncDecState* s = IncDecOf(p);
  const int32 code = s->repr & 0xFF;
  gProc = IncDecProcFor(code);
  if (!gProc) {
    DBPrintf("can't incdec complex's");
    return 0;
  }
  gUp = s->pressState == kArrowUp || s->pressState == kArrowHeldUp ? 1 : 0;
  const bool first = s->pressState == kArrowUp || s->pressState == kArrowDown;
  if (first) {
    s->lastCommit = MilliSecs();
    s->commitCount = 0;
    s->progress = kIncStarted;
    if (s->rangeFlags & (kIncNoMin | kIncNoMax | kIncNoInc)) gProc(4, s, nullptr, nullptr);
    uChar step[16] = {};
    if (s->selEnd >= 1) {
      if (!IncDecTextStep(heap, object, s, step)) IncDecUnitStep(s->repr, step);
      IncDecUnitScaleStep(heap, object, s->repr, step);
    } else if (s->rangeFlags & kIncNoInc) {
      IncDecUnitStep(s->repr, step);
      IncDecUnitScaleStep(heap, object, s->repr, step);
    } else {
      std::memcpy(step, s->increment, kFieldBytes);
    }
    AbsStep(s->repr, step);
    std::memcpy(s->step, step, kFieldBytes);
    std::memcpy(s->initialStep, step, kFieldBytes);
  }
  const bool shift = (p->modifiers & kWModShift) != 0;
  const int32 interval = (s->progress & kIncStarted) && shift ? kIncFastRepeatMs : kIncRepeatMs;
  if (!(s->progress & kIncPending)) {
    if (s->progress & kIncStarted) {
      int32 sign = -1;
      if (!shift) {
        s->commitCount = 0;
        if (s->progress & kIncMultiplied) {
          gProc(0, s, s->step, &sign);
          s->progress &= ~kIncMultiplied;
        }
      } else if (s->commitCount > 5 && gProc(1, s, s->value, s->step)) {
        sign = 1;
        if (gProc(0, s, s->step, &sign) == 0) s->progress |= kIncMultiplied;
        s->commitCount = 0;
      }
    }
    uChar candidate[16] = {};
    bool ok = false;
    for (int32 i = 0; i < kMaxTries; ++i) {
      if (gProc(2, s, s->step, nullptr)) break;
      std::memcpy(candidate, s->value, kFieldBytes);
      if (gProc(3, s, s->step, candidate) == 0) {
        ok = true;
        break;
      }
      int32 down = -1;
      gProc(0, s, s->step, &down);
    }
    if (!ok) return 0;
    std::memcpy(s->value, candidate, kFieldBytes);
    s->progress |= kIncPending;
  }
  const uInt32 now = MilliSecs();
  if (MillisecCmp(now, s->lastCommit) >= interval) {
    s->lastCommit = now;
    ++s->commitCount;
    s->progress &= ~kIncPending;
    return kReplyChangedBit;
  }
  return first ? kReplyChangedBit : 0;
}

// ---- Storing -------------------------------------------------------------------------------
namespace {

int32 StoreAndShow(ObjHeap heap, int32 object, const IncDecState* s, UPtr data) {
  std::memcpy(data, s->value, size_t(ValueBytes(s->repr)));
  RecheckArrayEltRange(heap, object);
  return kReplyChangedBit | DisplayValQuiet(heap, object, data, 0);
}

}  // namespace

int32 NumIncDecArrow(ObjHeap heap, int32 object, ActionParams* p, UPtr data, int32 repr) {
  (void)repr;
  if (!p || !data) return kReplyFailedBit;
  if (ObjIsA(heap, object, kClsRing)) return RingIncDec(heap, object, p, data, repr);
  if (IncDecStep(heap, object, p) != kReplyChangedBit) return 0;
  return StoreAndShow(heap, object, IncDecOf(p), data);
}

int32 RingIncDec(ObjHeap heap, int32 ring, ActionParams* p, UPtr data, int32 repr) {
  (void)repr;
  if (!p || !data) return kReplyFailedBit;
  IncDecState* s = IncDecOf(p);
  if (!IncDecProcFor(s->repr)) {
    DBPrintf("can't incdec complex's");
    return 0;
  }
  int32 count = 0;
  const uChar* items = RingItems(heap, ring, &count);
  const auto disabled = [&](int32 i) { return items && i >= 0 && i < count && (GetNative32(items + 4 * i) & 1); };
  bool all = count > 0;
  for (int32 i = 0; i < count && all; ++i) all = disabled(i);
  const bool up = s->pressState == kArrowUp || s->pressState == kArrowHeldUp;
  const bool textEntry = (opmeth::OwnerMode(heap) & kOwnerTextEntry) != 0;
  int32 c = NumToLong(s->repr & 0xF, s->value);
  bool changed = false, search = true;
  if (c < 0 || c >= count) {
    std::memcpy(s->value, up ? s->min : s->max, kFieldBytes);
    c = NumToLong(s->repr & 0xF, s->value);
    changed = true;
    search = !textEntry && disabled(c) && !all;
  } else if (!textEntry && all) {
    return 0;
  }
  if (search) {
    int32 k = 1;
    if (!(s->rangeFlags & kIncNoInc)) k = std::abs(NumToLong(s->repr & 0xF, s->increment));
    if (k <= 0) k = 1;
    bool passed = false;
    // Every step moves at least one item on, so the search ends within two
    // rounds of the list; the bound only guards against a range wider than it.
    for (int32 guard = 0; guard < 2 * count + 4; ++guard) {
      if (IncDecStep(heap, ring, p) != kReplyChangedBit) {
        if (!changed) return 0;
        break;
      }
      changed = true;
      const int32 n = NumToLong(s->repr & 0xF, s->value);
      if (!disabled(n)) break;
      if (!passed) passed = up ? n <= c : n >= c;
      if (passed && !(int64(up ? c - n : n - c) >= k)) break;
    }
    if (disabled(NumToLong(s->repr & 0xF, s->value))) ExtToField(s->repr, c, s->value);
  }
  if (!changed) return 0;
  return StoreAndShow(heap, ring, s, data);
}

int32 NumStepType(ObjHeap heap, int32 object) {
  bool cluster = false;
  const TypeDescriptor* td = ValueTD(heap, object, &cluster);
  const int32 code = td ? td->code & ~0x10 : 0;
  return code >= kTDI8 && code <= kTDEXT ? code : 0;
}

// The object's value, null unless the whole value of its type lies inside
// the block that holds it (a part's type word and its owner's data both
// come from the file).
UPtr NumValueData(ObjHeap heap, int32 object, int32 kind) {
  const TypeID id = opmeth::IsObject(heap, object) ? DDOTypeID(heap, object) : 0;
  const TypeDescriptor* td = id ? SkipTypedefs(TypeIDToTD(heap, id)) : nullptr;
  const int32 size = td ? DataSize(td) : 0;
  UHandle block = nullptr;
  const int32 at = size > 0 ? OGetDataPtr(heap, object, 0, kind, &block) : 0;
  if (!block || !*block || at < 0) return nullptr;
  int32 have = -1;
  if (DSCheckHandle(block) == kNoErr) have = DSGetHandleSize(block);
  else if (AZCheckHandle(block) == kNoErr) have = AZGetHandleSize(block);
  if (int64(at) + size > have) return nullptr;
  return *block + at;
}
