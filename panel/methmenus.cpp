// The panel methods' menus, ring item lists, colour-ramp colours and the
// storing of an edited string.  Stored words and handles come from VI files:
// each is checked against its block, entry or handle before it is read.
// User-interface thread only.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "rtlib/panellocators.h"

namespace {

constexpr int32 kFloatDecimalFormat = -2;
constexpr int32 kRadixFormatBase = 0x40;
constexpr int32 kRingItemsWord = 15, kRingItemsTDWord = 16;
constexpr int32 kReplyValueChanged = 8, kReplyTextCommitted = 0x40, kReplyFailed = 16;
constexpr int32 kStringTextPart = 11;
constexpr int32 kSizeOwnBounds = 0;
constexpr uInt32 kColourTransparent = 0x1000000;
constexpr int32 kRampSteps = 254;

PanelScaleHooks gScaleHooks;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}

int32 ExtWordOf(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}
void SetExtWord(ObjHeap heap, int32 at, int32 value) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext > 0) PutNative32(*heap + ext + at, uInt32(value));
}

// The list menu of a string list of the run-time resource file.
MenuHandle ListMenu(int32 listId) {
  MenuHandle menu = nullptr;
  if (MNewLMenuFromStrings(RunTimeRsrcFile(), listId, listId, &menu) != kNoErr) return nullptr;
  return menu;
}

void CheckKey(MenuHandle menu, int32 key) {
  if (const int32 item = MFindLItemByKey(menu, uInt32(key))) MCheckItem(menu, item, 1);
}

// The numeric type code of the object's value (the first number of a
// cluster of numbers), 0 when it has none.
int32 NumericType(ObjHeap heap, int32 object) {
  const TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? SkipTypedefs(TypeIDToTD(heap, id)) : nullptr;
  if (td && td->code == kTDCluster && int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) > 0)
    td = SkipTypedefs(ElemTD(td, 0));
  return td ? td->code : 0;
}

bool IsFloatType(int32 code) {
  return (code >= kTDSGL && code <= kTDCXT) || (code >= kTDUnitSGL && code <= kTDUnitCXT);
}

// The value's data-space cell of a handle-valued object, checked to lie in
// the data space (the address is valid until the data space next grows).
UPtr ValueCell(ObjHeap heap, int32 object) {
  UHandle ds = nullptr;
  const int32 at = OGetDataPtr(heap, object, 0, kDataPtrPlain, &ds);
  if (!ds || DSCheckHandle(ds) != kNoErr || at < 0 || int64(at) + 4 > DSGetHandleSize(ds)) return nullptr;
  return *ds + at;
}

// The ring's item-list entry: its cell in the data space and the array
// descriptor, after checking that the two words name the ring's own entry
// (a cluster led by a one-dimensional array of 32-bit words).
UPtr ItemListCell(ObjHeap heap, int32 ring, const TypeDescriptor** arrayTD) {
  if (!Live(heap, ring, 4 * (kRingItemsTDWord + 1))) return nullptr;
  const int32 at = ObjWord(heap, ring, kRingItemsWord);
  const TypeDescriptor* entry = at ? PanelEntryTD(heap, at, ObjWord(heap, ring, kRingItemsTDWord), 4) : nullptr;
  if (!entry || entry->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(entry) + 4)) < 1)
    return nullptr;
  const TypeDescriptor* array = ElemTD(entry, 0);
  const uChar* a = reinterpret_cast<const uChar*>(array);
  if (!array || array->code != kTDArray || GetNative16(a + 4) != 1) return nullptr;
  const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(a + 10);
  if (elem->code != kTDU32 && elem->code != kTDI32) return nullptr;
  *arrayTD = array;
  return FPHeapDataPtr(heap, at);
}

// A handle of a 32-bit count and that many words, or null.
UHandle CountedWords(uInt32 word) {
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(word));
  if (!h || DSCheckHandle(h) != kNoErr || !*h || DSGetHandleSize(h) < 4) return nullptr;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && int64(n) * 4 + 4 <= DSGetHandleSize(h) ? h : nullptr;
}

// A scale's colour table: its markers read within their handle (a count
// past the handle's bytes, or a handle not ours, reads as none).
struct RampTable {
  PanelScaleInfo info{};
  int32 count = 0;
  const uChar* entries = nullptr;
  bool interpolate = true;

  float64 Value(int32 i) const {
    float64 v;
    std::memcpy(&v, entries + kEntrySize * i, sizeof v);
    return v;
  }
  uInt32 Colour(int32 i) const { return GetNative32(entries + kEntrySize * i + 8); }
  static constexpr int32 kEntrySize = 12;
};

bool ReadRamp(ObjHeap heap, int32 scale, RampTable* t) {
  if (!Live(heap, scale, 4) || !gScaleHooks.scaleInfo || !gScaleHooks.scaleInfo(heap, scale, &t->info)) return false;
  t->interpolate = !(uInt32(ObjWord(heap, scale, 0)) & kRampNoInterpolation);
  UHandle m = t->info.markers;
  if (m && DSCheckHandle(m) == kNoErr && *m && DSGetHandleSize(m) >= 4) {
    const int32 n = int32(GetNative32(*m));
    if (n > 0 && int64(n) * RampTable::kEntrySize + 4 <= DSGetHandleSize(m)) {
      t->count = n;
      t->entries = *m + 4;
    }
  }
  return true;
}

// The colour of the value, as stored (transparent colours kept).
uInt32 LookUp(const RampTable& t, float64 value) {
  if (t.count == 0 || value < t.Value(0)) return t.info.lowColour;
  for (int32 i = 1; i < t.count; ++i) {
    if (!(t.Value(i) > value)) continue;
    if (!t.interpolate) return t.Colour(i - 1);
    return RampInterpolate(t.Colour(i - 1), t.Colour(i), t.Value(i - 1), t.Value(i), value);
  }
  return value == t.Value(t.count - 1) ? t.Colour(t.count - 1) : t.info.highColour;
}

// Without interpolation: the colour of the first marker at or above the
// value; the low colour below the first, the high colour above the last.
uInt32 FirstReaching(const RampTable& t, float64 value) {
  if (t.count == 0 || value < t.Value(0)) return t.info.lowColour;
  for (int32 i = 0; i < t.count; ++i)
    if (t.Value(i) >= value) return t.Colour(i);
  return t.info.highColour;
}

// Paints the rows [top, bottom) of the strip in the colour; a transparent
// colour is white under a light checker.
void PaintBand(const Rect& strip, int32 top, int32 bottom, uInt32 colour) {
  top = std::max<int32>(top, strip.top), bottom = std::min<int32>(bottom, strip.bottom);
  if (top >= bottom) return;
  const Rect band{int16(top), strip.left, int16(bottom), strip.right};
  if (colour < kColourTransparent) {
    DSelectNormPen(colour, colour);
    DPaintRect(&band);
    return;
  }
  DSelectNormPen(0xFFFFFF, 0xFFFFFF);
  DPaintRect(&band);
  const PenState checker{0xC0C0C0, 0xFFFFFF, {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}, 1, 0, 0, 0};
  if (const int32 pen = DNewPen(kDefaultPenBase, kPenFore | kPenBack | kPenPattern, &checker)) {
    DSelectPen(pen, 0, 0xFFFFFF);
    DPaintRect(&band);
    DDestroyPen(pen);
    DSelectNormPen(0, 0);
  }
}

// The value at a pixel row of the scale.
float64 RowValue(ObjHeap heap, const RampTable& t, int32 row) {
  float64 v = 0;
  const int16 pixel = int16(row);
  gScaleHooks.mapPixelsToValues(heap, t.info.dataOffset, kTDDBL, &pixel, 1, 1, &v, 8);
  return v;
}

}  // namespace

// ---- Menus -----------------------------------------------------------------------------

MenuHandle NumRadixMenuSetup(ObjHeap heap, int32 numeric) {
  if (!Live(heap, numeric, kNumericFormat + 2)) return nullptr;
  const int32 type = NumericType(heap, numeric);
  const int32 format = ObjInt16(heap, numeric, kNumericFormat);
  MenuHandle menu = ListMenu(kRadixMenuId);
  if (!menu) return nullptr;
  const bool outside = type < 1 || type > 30;
  if (outside) DBAssert(__FILE__, __LINE__, "NumRadixMenuSetup: not a numeric type");
  if (outside || IsFloatType(type)) {
    for (int32 key : {kRadixHex, kRadixOctal, kRadixBinary})
      if (const int32 item = MFindLItemByKey(menu, uInt32(key))) MDisableItem(menu, item);
    if (format == kFloatDecimalFormat) CheckKey(menu, kRadixDecimal);
    return menu;
  }
  for (int32 key : {kRadixHex, kRadixOctal, kRadixBinary})
    if (const int32 item = MFindLItemByKey(menu, uInt32(key))) MEnableItem(menu, item);
  const int32 key = format == kRadixFormatBase ? kRadixDecimal : format - kRadixFormatBase;
  if (key >= kRadixDecimal && key <= kRadixBinary) CheckKey(menu, key);
  return menu;
}

MenuHandle PathMenuSetup(ObjHeap heap, int32 path) {
  if (!Live(heap, path, 4)) return nullptr;
  const UPtr cell = ValueCell(heap, path);
  const Path value = cell ? reinterpret_cast<Path>(uintptr_t(GetNative32(cell))) : nullptr;
  const bool isPath = value && FIsAPath(value);  // a handle of neither zone is no path
  MenuHandle menu = ListMenu(kPathValidityMenuId);
  if (menu) CheckKey(menu, isPath ? kPathValid : kPathNotAPath);
  return menu;
}

// ---- Ring item lists ---------------------------------------------------------------------

UHandle ObjItemData(ObjHeap heap, int32 ring) {
  const TypeDescriptor* td = nullptr;
  const UPtr cell = ItemListCell(heap, ring, &td);
  return cell ? CountedWords(GetNative32(cell)) : nullptr;
}

int32 RingInsertDeleteItem(ObjHeap heap, int32 ring, int32 index, Bool32 insert) {
  const TypeDescriptor* td = nullptr;
  const UPtr cell = ItemListCell(heap, ring, &td);
  UHandle list = cell ? CountedWords(GetNative32(cell)) : nullptr;
  if (!list) return -1;
  const int32 count = int32(GetNative32(*list));
  if (!insert && count == 0) return -1;
  index = std::clamp(index, 0, insert ? count : count - 1);
  int32 position = index, change = insert ? 1 : -1;
  if (ArrayInsertDeleteNDim(td, &list, &position, &change, nullptr) != kNoErr) return -1;
  // The array may have been made anew; the data space did not move.
  PutNative32(cell, uInt32(uintptr_t(list)));
  return index;
}

// ---- Colour ramps ------------------------------------------------------------------------

PanelScaleHooks SetPanelScaleHooks(const PanelScaleHooks& hooks) {
  const PanelScaleHooks old = gScaleHooks;
  if (hooks.scaleInfo) gScaleHooks.scaleInfo = hooks.scaleInfo;
  if (hooks.mapPixelsToValues) gScaleHooks.mapPixelsToValues = hooks.mapPixelsToValues;
  if (hooks.scaleValueToPixelPinned) gScaleHooks.scaleValueToPixelPinned = hooks.scaleValueToPixelPinned;
  if (hooks.knobValueToPoint) gScaleHooks.knobValueToPoint = hooks.knobValueToPoint;
  if (hooks.scaleGetPartsRect) gScaleHooks.scaleGetPartsRect = hooks.scaleGetPartsRect;
  return old;
}
const PanelScaleHooks& PanelScale() { return gScaleHooks; }

uInt32 PanelLookupValue(ObjHeap heap, int32 scale, float64 value) {
  RampTable t;
  if (!ReadRamp(heap, scale, &t)) return 0;
  return LookUp(t, value) & 0xFFFFFF;
}

int32 ScaleFrameMarker(ObjHeap heap, int32 scale, int32 part) {
  if (!Live(heap, part, kObjBounds + int32(sizeof(Rect))) || (uInt32(ObjWord(heap, part, 0)) & kObjFlagHidden))
    return 0;
  Rect r;
  std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
  const uInt32 frame = OHBlockSize(heap, part) >= kObjCosmFore + 4 ? uInt32(ObjWord(heap, part, kObjCosmFore / 4)) : 0;
  DSelectNormPen(frame & 0xFFFFFF, frame & 0xFFFFFF);
  DFrameRect(&r);
  const Rect strip{int16(r.top + 1), int16(r.left + 1), int16(r.bottom - 1), int16(r.right - 1)};
  RampTable t;
  if (strip.top >= strip.bottom || strip.left >= strip.right || !gScaleHooks.mapPixelsToValues ||
      !ReadRamp(heap, scale, &t))
    return 1;
  const bool stepped = uInt32(ObjWord(heap, scale, 0)) & kRampStepped;
  if (stepped && t.interpolate) {
    // 254 equal steps from the pixel start to the pixel end.
    const float64 p0 = t.info.pixelStart, dp = (float64(t.info.pixelEnd) - p0) / kRampSteps;
    const float64 dv = (t.info.max - t.info.min) / kRampSteps;
    for (int32 k = 0; k < kRampSteps; ++k) {
      // The band holds its start pixel, not its end (but for the last band).
      const int32 a = int32(std::lround(p0 + dp * k)), b = int32(std::lround(p0 + dp * (k + 1)));
      const bool last = k + 1 == kRampSteps;
      const int32 top = a <= b ? a : b + (last ? 0 : 1), bottom = a <= b ? b + (last ? 1 : 0) : a + 1;
      PaintBand(strip, top, bottom, LookUp(t, t.info.min + dv * k));
    }
    return 1;
  }
  // Row by row from the bottom up, each run of one colour painted at once.
  int32 runEnd = strip.bottom;
  uInt32 runColour = 0;
  for (int32 row = strip.bottom - 1; row >= strip.top - 1; --row) {
    uInt32 colour = 0;
    if (row >= strip.top) {
      const float64 v = RowValue(heap, t, row);
      colour = stepped ? FirstReaching(t, v) : (LookUp(t, v) & 0xFFFFFF);
    }
    if (row == strip.bottom - 1) runColour = colour;
    if (row < strip.top || colour != runColour) {
      PaintBand(strip, row + 1, runEnd, runColour);
      runEnd = row + 1;
      runColour = colour;
    }
  }
  return 1;
}

// ---- Edited strings ----------------------------------------------------------------------

int32 StringTextToData(ObjHeap heap, int32 string, int32 textPart, TRecord text, int32 reply) {
  reply = (reply & ~kReplyTextCommitted) | kReplyValueChanged;
  TRecord record = text ? TCheckedRecord(uInt32(uintptr_t(text))) : nullptr;
  UHandle source = record ? TGetText(record) : nullptr;
  const TypeID type = Live(heap, string, 4) ? DDOTypeID(heap, string) : 0;
  const TypeDescriptor* td = type ? SkipTypedefs(TypeIDToTD(heap, type)) : nullptr;
  UPtr cell = td && (td->code == kTDString || td->code == kTDString37) ? ValueCell(heap, string) : nullptr;
  UHandle data = cell ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell))) : nullptr;
  if (!source || !cell || (data && DSCheckHandle(data) != kNoErr)) return reply | kReplyFailed;
  const bool backslash = Live(heap, textPart, 4) && (uInt32(ObjWord(heap, textPart, 0)) & kTextFlagBackslash);
  const int32 length = int32(GetNative32(*source));
  if (!data) {
    if (!(data = DSNewHClr(4))) return reply | kReplyFailed;
    PutNative32(cell, uInt32(uintptr_t(data)));
  }
  if (DSSetHandleSize(data, 4 + length) != kNoErr) return reply | kReplyFailed;
  int32 n = length;
  if (backslash) {
    // Decoding never writes ahead of what it has read.
    const uChar* in = *source + 4;
    const uChar* const end = in + length;
    n = 0;
    while (in < end) (*data)[4 + n++] = uChar(ScanForBackslash(&in, end));
    DSSetHandleSize(data, 4 + n);
  } else {
    std::memcpy(*data + 4, *source + 4, size_t(length));
  }
  PutNative32(*data, uInt32(n));
  if (!backslash) return reply;
  // Shown again in backslash codes, with the key focus's word cleared so
  // that the focused text is rewritten too.
  const int32 focus = ExtWordOf(heap, kHeapExtKeyFocus);
  SetExtWord(heap, kHeapExtKeyFocus, 0);
  oDisplayVal(heap, string, 0, cell);
  if (const WindowRef window = WindowRef(ExtWordOf(heap, kHeapExtWindow))) {
    OInval(heap, string, kInvalAll);
    WUpdate(window);
    OSize(heap, textPart, nullptr, kSizeOwnBounds);
    OSize(heap, string, nullptr, kStringTextPart);
  }
  SetExtWord(heap, kHeapExtKeyFocus, focus);
  return reply;
}
