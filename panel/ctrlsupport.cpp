// What the value display and the drawing of the controls share.
#include <algorithm>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/ctrl_internal.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/panelcells.h"
#include "rtlib/objunits.h"

namespace ctrl {

namespace {

// The deepest nesting of control displays: a control's parts are at most a
// few levels deep (a ring's text in a cluster in an array in a type
// definition); a loop in stored part lists ends here.
constexpr int32 kNestingCap = 48;
int32 gNesting = 0;

}  // namespace

uInt32 Ext(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && Has(heap, ext, at + 4) ? GetNative32(*heap + ext + at) : 0;
}

int32 PartOf(ObjHeap heap, int32 object, int32 partId, int32 order) {
  if (!IsObj(heap, object)) return 0;
  const int32 part = FindPart(heap, object, partId, order);
  return part != object && IsObj(heap, part) ? part : 0;
}

bool PartTakes(ObjHeap heap, int32 part, Takes what) {
  if (!IsObj(heap, part)) return false;
  const int32 cls = ObjClass(heap, part);
  switch (what) {
    case Takes::kIndex:
      return cls == kClsCosmetic || cls == kClsMultiCosmetic || cls == kClsBigMultiCosmetic ||
             cls == kClsMultiLabel || cls == kClsBigMultiLabel;
    case Takes::kText: return cls == kClsLabel || cls == kClsSelLabel;
    case Takes::kLabels: return cls == kClsScale;
    case Takes::kNumber: return cls == kClsNumeric;
  }
  return false;
}

DColor PartFore(ObjHeap heap, int32 part) {
  return Has(heap, part, kObjCosmFore + 4) ? DColor(ObjWord(heap, part, kObjCosmFore / 4)) : kTransparentColor;
}
DColor PartBack(ObjHeap heap, int32 part) {
  return Has(heap, part, kObjCosmBack + 4) ? DColor(ObjWord(heap, part, kObjCosmBack / 4)) : kTransparentColor;
}
void SetPartColours(ObjHeap heap, int32 part, DColor fore, DColor back) {
  if (!Has(heap, part, kObjCosmBack + 4)) return;
  ObjSetWord(heap, part, kObjCosmFore / 4, int32(fore));
  ObjSetWord(heap, part, kObjCosmBack / 4, int32(back));
}

void GreyInset(ObjHeap heap, int32 part) {
  const Rect r = Inset(BoundsOf(heap, part), 1);
  if (DEmptyRect(&r)) return;
  const DColor back = PartBack(heap, part);
  DGrayOutRect(&r, back == kTransparentColor ? kGrey : back);
}

DColor PanelBackground(ObjHeap heap) {
  const int32 root = int32(Ext(heap, kHeapExtRoot));
  return Has(heap, root, kRootPanelColour + 4) ? DColor(ObjWord(heap, root, kRootPanelColour / 4)) : kTransparentColor;
}

const TypeDescriptor* DisplayTD(ObjHeap heap, int32 object) {
  return Has(heap, object, 4 * (kPWDDOTypeId + 1)) ? PanelTypeOf(heap, DDOTypeID(heap, object)) : nullptr;
}
int32 TypeCodeOf(ObjHeap heap, int32 object) {
  const TypeDescriptor* td = DisplayTD(heap, object);
  return td ? td->code : 0;
}
int32 FormatOf(ObjHeap heap, int32 object) {
  return Has(heap, object, kNumericFormat + 2) ? ObjInt16(heap, object, kNumericFormat) : 0;
}

void NumberToText(ObjHeap heap, int32 object, const void* value, int32 code, int32 format, bool units,
                  NumberText* out) {
  // Room for the largest number (an extended complex value), aligned.
  alignas(16) uChar scratch[64] = {0};
  const void* shown = value;
  if (units && value && UnitConvertObjValue(heap, object, value, 0, scratch)) shown = scratch;
  if (!shown) shown = scratch;
  const int32 n = NumToText(shown, code, format, out->chars, kNumberTextRoom);
  out->count = std::clamp<int32>(n, 0, kNumberTextRoom);
}

int32 RingIndexOf(int32 code, const void* value) {
  int32 v = 0;
  ConvertNum(code, value, kTDI32, &v);
  if (code >= 1 && code <= 30 && NumClass(code) == kNumClassSigned) return std::clamp<int32>(v, 0, 65535);
  return v < 0 || v > 65535 ? 65535 : v;
}

bool IsTracked(ObjHeap heap, int32 part) {
  ObjHeap th = nullptr;
  int32 to = 0;
  SetTrackObject(nullptr, 0, &th, &to, 0);
  return th == heap && to == part && part;
}

const LStr* CheckedLStr(UHandle h) {
  // The handle is checked before it is followed: a word from a file may name nothing.
  if (!h || DSCheckHandle(h) != kNoErr || !*h) return nullptr;
  const int32 size = DSGetHandleSize(h);
  if (size < 4) return nullptr;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && n <= size - 4 ? reinterpret_cast<const LStr*>(*h) : nullptr;
}

DisplayNesting::DisplayNesting() { ++gNesting; }
DisplayNesting::~DisplayNesting() { --gNesting; }
bool DisplayNesting::TooDeep() const { return gNesting > kNestingCap; }

}  // namespace ctrl
