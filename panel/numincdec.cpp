// Stepping a numeric's value by its arrows, keys and text cursor.
#include "panel/numincdec.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numoperate.h"
#include "panel/osupport.h"

namespace {

typedef long double Ext;  // the x87 extended number ConvertNum writes for type 11
constexpr int32 kTypeExt = kTDEXT;
constexpr int32 kRangeWord = 8;
constexpr uInt32 kNoMin = 0x20, kNoMax = 0x40, kNoInc = 0x80;
constexpr int32 kPartNumText = 10;
constexpr int32 kReplyChangedBit = 0x8, kReplyFailedBit = 0x10;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}

Ext ToExt(int32 type, const void* src) {
  Ext x = 0;
  ConvertNum(type, src, kTypeExt, &x);
  return x;
}
Ext Load(const uChar (&field)[16]) {
  Ext x;
  std::memcpy(&x, field, sizeof x);
  return x;
}
void Store(uChar (&field)[16], Ext x) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, &x, sizeof x);
}
UPtr DataOf(const IncDecContext& c) {
  UPtr p;
  std::memcpy(&p, c.data, sizeof p);
  return p;
}


// The limits of the type itself.
void TypeLimits(int32 type, Ext* lo, Ext* hi) {
  switch (type) {
    case kTDI8: *lo = -128, *hi = 127; return;
    case kTDI16: *lo = -32768, *hi = 32767; return;
    case kTDI32: *lo = -2147483648.0L, *hi = 2147483647.0L; return;
    case kTDI64: *lo = -9223372036854775807.0L - 1, *hi = 9223372036854775807.0L; return;
    case kTDU8: *lo = 0, *hi = 255; return;
    case kTDU16: *lo = 0, *hi = 65535; return;
    case kTDU32: *lo = 0, *hi = 4294967295.0L; return;
    case kTDU64: *lo = 0, *hi = 18446744073709551615.0L; return;
    default: *lo = -std::numeric_limits<Ext>::infinity(), *hi = std::numeric_limits<Ext>::infinity(); return;
  }
}

// Reads minimum, maximum and increment (each aligned for the type) from the
// object's range entry; false when the entry does not lie in the data space.
bool ReadRange(ObjHeap heap, int32 object, int32 type, IncDecContext* c) {
  Ext lo, hi;
  TypeLimits(type, &lo, &hi);
  Store(c->min, lo), Store(c->max, hi), Store(c->increment, 1);
  c->rangeFlags = uInt32(ObjWord(heap, object, kRangeWord)) & (kNoMin | kNoMax | kNoInc);
  const int32 at = Live(heap, object, 4 * (kPWNumRange + 1)) ? ObjWord(heap, object, kPWNumRange) : 0;
  if (!at || c->rangeFlags == (kNoMin | kNoMax | kNoInc)) {
    c->rangeFlags = kNoMin | kNoMax | kNoInc;
    return true;
  }
  UHandle* ds = FPGetDataSpace(heap);
  if (!ds || !*ds || !**ds) return false;
  const TypeDescriptor* td = StdTDTable[type];
  const int32 size = NumSize(type);
  int32 off = at;
  uChar (*fields[3])[16] = {&c->min, &c->max, &c->increment};
  for (int32 i = 0; i < 3; ++i) {
    off = AlignDatum(td, off);
    if (off < 0 || int64(off) + size > DSGetHandleSize(*ds)) return false;
    if (!(c->rangeFlags & (kNoMin << i))) Store(*fields[i], ToExt(type, **ds + off));
    off += size;
  }
  return true;
}

bool IsWhole(int32 type) { return type <= kTDU64; }

// The value stepped once in the direction within the context's range; false
// when it cannot move.  A ring wraps and passes over disabled items.
bool StepOnce(ObjHeap heap, int32 object, const IncDecContext& c, bool up, Ext* value) {
  const Ext step = std::fabs(Load(c.step));
  if (!(step > 0)) return false;
  Ext lo = Load(c.min), hi = Load(c.max), tlo, thi;
  TypeLimits(c.type, &tlo, &thi);
  lo = std::fmax(lo, tlo), hi = std::fmin(hi, thi);
  if (c.mode != kIncModeRing) {
    const Ext next = up ? *value + step : *value - step;
    if (up ? !(next <= hi) : !(next >= lo)) return false;
    if (IsWhole(c.type) && next != std::nearbyint(next)) return false;
    *value = next;
    return true;
  }
  if (hi < lo) return false;
  const int64 count = int64(hi - lo) + 1;
  Ext next = *value;
  for (int64 tries = 0; tries < count; ++tries) {
    next = up ? next + step : next - step;
    if (next > hi) next = lo;
    if (next < lo) next = hi;
    if (!IsRingItemDisabled(heap, object, int32(next))) {
      *value = next;
      return true;
    }
  }
  return false;  // every item is disabled
}

// The place value of the digit left of the cursor (cursor after the decimal
// point: the digit right of it), read back in the type; 0 when none.
Ext TextStep(const uChar* text, int32 len, int32 cursor, int32 type) {
  if (len <= 0 || len > 255 || cursor < 0 || cursor > len) return 0;
  uChar copy[256];
  std::memcpy(copy, text, size_t(len));
  int32 expo = -1;
  for (int32 i = 0; i < len; ++i) {
    const uChar ch = copy[i];
    if (expo < 0 && ch >= '0' && ch <= '9') copy[i] = '0';
    else if (expo < 0 && (ch == 'e' || ch == 'E')) copy[i] = 'E', expo = i;
    else if (i == 0 && ch == '-') copy[i] = '0';
  }
  int32 at;
  if (expo >= 0 && cursor >= expo) at = expo - 1;
  else if (cursor == 0) at = copy[0] == 'E' ? -1 : 0;
  else if (copy[cursor - 1] == NumDefaultDecimalPt()) at = cursor < len ? cursor : -1;
  else at = cursor - 1;
  if (at < 0) return 0;
  copy[at] = '1';
  uChar number[16] = {};
  if (!TextToNum(copy, len, type, number, 0, 0, nullptr)) return 0;
  const Ext step = ToExt(type, number);
  return std::isfinite(double(step)) ? std::fabs(step) : 0;
}

}  // namespace

int32 NumStepType(ObjHeap heap, int32 object) {
  const TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? SkipTypedefs(TypeIDToTD(heap, id)) : nullptr;
  if (td && td->code == kTDCluster && int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) > 0)
    td = SkipTypedefs(ElemTD(td, 0));
  const int32 code = td ? td->code & ~0x10 : 0;
  return code >= kTDI8 && code <= kTDEXT ? code : 0;
}

IncDecContext GetIncDecContext(const ActionParams* params) {
  IncDecContext c;
  std::memcpy(&c, params->words20, sizeof c);
  return c;
}
void SetIncDecContext(ActionParams* params, const IncDecContext& context) {
  std::memcpy(params->words20, &context, sizeof context);
}

MgErr IncDecStoreValue(ObjHeap heap, int32 object, ActionParams* params, void* data) {
  if (!params || !data || !Live(heap, object, 4 * (kRangeWord + 1))) return kArgErr;
  IncDecContext c = GetIncDecContext(params);
  c.type = 0;
  SetIncDecContext(params, c);
  const int32 type = NumStepType(heap, object);
  if (!type || !ReadRange(heap, object, type, &c)) return kArgErr;
  if (c.mode == kIncModeRing) {
    const UHandle items = ObjItemData(heap, object);
    const int32 count = items ? int32(GetNative32(*items)) : 0;
    if (count <= 0) return kArgErr;
    if ((c.rangeFlags & kNoMin) || Load(c.min) < 0) Store(c.min, 0);
    if ((c.rangeFlags & kNoMax) || Load(c.max) > count - 1) Store(c.max, count - 1);
  }
  c.type = type;
  UPtr p = static_cast<UPtr>(data);
  std::memcpy(c.data, &p, sizeof p);
  Store(c.value, ToExt(type, data));
  SetIncDecContext(params, c);
  return kNoErr;
}

void* NumIncDecText(ObjHeap heap, int32 object, ActionParams* params, int32 keepSelection) {
  if (!params) return nullptr;
  IncDecContext c = GetIncDecContext(params);
  if (!c.type || !DataOf(c)) return nullptr;
  Ext step = 0;
  if (keepSelection && params->selEnd >= 1 && c.mode != kIncModeRing) {
    const int32 part = FindPart(heap, object, kPartNumText, 0);
    const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
    const UHandle bytes = text ? TGetText(text) : nullptr;
    if (bytes && *bytes && DSGetHandleSize(bytes) >= 4) {
      const int32 n = int32(GetNative32(*bytes));
      if (n >= 0 && n <= DSGetHandleSize(bytes) - 4) step = TextStep(*bytes + 4, n, params->selEnd, c.type);
    }
  }
  if (!(step > 0)) step = (c.rangeFlags & kNoInc) ? 1 : std::fabs(Load(c.increment));
  if (!(step > 0)) step = 1;
  Store(c.step, step);
  Ext value = Load(c.value);
  const bool up = params->arrowDirection == kArrowUp || params->arrowDirection == kArrowHeldUp;
  if (!StepOnce(heap, object, c, up, &value)) {
    SetIncDecContext(params, c);
    return nullptr;
  }
  Store(c.value, value);
  SetIncDecContext(params, c);
  return params->words20 + offsetof(IncDecContext, value) / 4;
}

int32 NumIncDecArrow(ObjHeap heap, int32 object, ActionParams* params, void* value, int32 type) {
  if (!params || !value) return kReplyFailedBit;
  IncDecContext c = GetIncDecContext(params);
  if (!c.type || !DataOf(c) || (type & ~0x10) != c.type) return kReplyFailedBit;
  const bool held = params->arrowDirection == kArrowHeldUp || params->arrowDirection == kArrowHeldDown;
  UPtr dst = held ? static_cast<UPtr>(value) : DataOf(c);
  Ext next;
  if (held) {
    next = ToExt(c.type, dst);
    if (!StepOnce(heap, object, c, params->arrowDirection == kArrowHeldUp, &next)) return 0;
  } else {
    std::memcpy(&next, value, sizeof next);
  }
  uChar stored[16] = {};
  ConvertNum(kTypeExt, &next, c.type, stored);
  const int32 size = NumSize(c.type);
  if (std::memcmp(stored, dst, size_t(size)) == 0) return 0;
  std::memcpy(dst, stored, size_t(size));
  Store(c.value, next);
  SetIncDecContext(params, c);
  RecheckArrayEltRange(heap, object);
  return kReplyChangedBit | DisplayValQuiet(heap, object, dst, 0);
}

