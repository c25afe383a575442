#include "controls/ctlsize.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "panel/dataxfer.h"
#include "panel/objsize.h"
#include "panel/ooffset.h"

using namespace objsize;

namespace {

constexpr const char* kSource = "size";
constexpr int32 kListboxTextWord = 12;  // the listbox's text object
constexpr uInt32 kScaleSetIncrement = 0x400000;
constexpr int16 kPartContainerContent = 28;

template <typename M>
ObjMethodAddr Addr(M m) {
  return reinterpret_cast<ObjMethodAddr>(m);
}

// The scale's record, reported (at the line given) when the scale has none.
ScaleRec* RecordOf(ObjHeap heap, int32 scale, int32 line) {
  const int32 data = Live(heap, scale, 4 * (kScaleObjDataTD + 1)) ? ObjWord(heap, scale, kScaleObjData) : 0;
  const int32 td = data ? ObjWord(heap, scale, kScaleObjDataTD) : 0;
  if (!data || !PanelEntryTD(heap, data, td, int32(sizeof(ScaleRec)))) {
    DBAssert(kSource, line, "no ScaleRec");
    return nullptr;
  }
  return ScaleRecOf(heap, scale);
}

int16 Scaled(int32 v, int32 from, float64 ratio, int32 to) {
  return Pin16(int64(std::trunc(std::fmax(-65536.0, std::fmin(65536.0, (v - from) * ratio + to)))));
}

}  // namespace

int32 ListboxOSizeMethod(ObjHeap heap, int32 listbox, const Rect* newRect, int32 partId) {
  const Rect entry = BoundsOf(heap, listbox);
  if (const int32 err = DDOOSizeMethod(heap, listbox, newRect, TransferStretchToRoot(heap, listbox, partId)))
    return err;
  if (Live(heap, listbox, kListboxVisibleRowsByte + 2)) {
    const int32 height = ObjInt16(heap, listbox, kListboxRowHeightByte);
    const int32 list = FindPart(heap, listbox, kListboxListPart, 0);
    if (height > 0 && list) {
      const Rect r = BoundsOf(heap, list);
      const int16 rows = Pin16(RectHeight(&r) / height);
      std::memcpy(*heap + listbox + kListboxVisibleRowsByte, &rows, sizeof rows);
      ListboxLayoutParts(heap, listbox);
      ListboxPinTopItem(heap, listbox);
    }
  }
  if (!newRect) LastOldBounds = entry;
  return 0;
}

int32 ContainerOSizeMethod(ObjHeap heap, int32 container, const Rect* newRect, int32 partId) {
  if (partId == kPartContainerContent) partId = TransferStretchToRoot(heap, container, partId);
  return DDOOSizeMethod(heap, container, newRect, partId);
}

int32 ListboxOOffsetMethod(ObjHeap heap, int32 listbox, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, listbox, by)) return err;
  const int32 text = Live(heap, listbox, 4 * (kListboxTextWord + 1)) ? ObjWord(heap, listbox, kListboxTextWord) : 0;
  return text && text != listbox && Live(heap, text, kObjBounds + 8) ? SendOffset(heap, text, by) : 0;
}

int32 GraphOOffsetMethod(ObjHeap heap, int32 graph, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, graph, by)) return err;
  ReleaseCachedImage(heap, graph, kGraphPixmapWord, kGraphFlagRedrawAll);
  return OffsetGraphCursors(heap, graph);
}

int32 ScaleOOffsetMethod(ObjHeap heap, int32 scale, Point by) {
  if (!Live(heap, scale, kScaleObjInner + 8)) return kArgErr;
  // Without its record the scale's rectangles still move with it.
  if (ScaleRec* r = RecordOf(heap, scale, 1041)) {
    const uInt32 flags = FlagsOf(heap, scale);
    if (flags & kScaleRound) {
      r->centre.h = Pin16(int32(r->centre.h) + by.h);
      r->centre.v = Pin16(int32(r->centre.v) + by.v);
    } else {
      const int32 d = (flags & kScaleHorizontal) ? by.h : by.v;
      r->pixelStart = Pin16(int32(r->pixelStart) + d);
      r->pixelEnd = Pin16(int32(r->pixelEnd) + d);
    }
  }
  MarkChanged(heap, scale);
  std::vector<int32> parts;
  ForEachPart(heap, scale, [&](int32 p) {
    if (p != scale) parts.push_back(p);
  });
  for (int32 p : parts)
    if (const int32 err = SendOffset(heap, p, by)) return err;
  LastOldBounds = BoundsOf(heap, scale);
  for (int32 at : {int32(kObjBounds), int32(kScaleObjInner)}) {
    Rect r;
    std::memcpy(&r, *heap + scale + at, sizeof r);
    r = Rect{Pin16(int32(r.top) + by.v), Pin16(int32(r.left) + by.h), Pin16(int32(r.bottom) + by.v),
             Pin16(int32(r.right) + by.h)};
    std::memcpy(*heap + scale + at, &r, sizeof r);
  }
  return 0;
}

MgErr KnobScaleResize(ObjHeap heap, int32 scale, const Rect* oldRect, const Rect* newRect) {
  if (!oldRect || !newRect) return kArgErr;
  ScaleRec* r = RecordOf(heap, scale, 976);
  if (!r) return 0;
  // A rectangle without height gives no ratio: the geometry keeps its size.
  const int32 oldHeight = RectHeight(oldRect);
  const float64 ratio = oldHeight > 0 ? float64(RectHeight(newRect)) / oldHeight : 1.0;
  const int16 radius = Pin16(int64(std::trunc(std::fmax(-65536.0, std::fmin(65536.0, r->radius * ratio + 0.5)))));
  auto axis = [&](int32 c, int32 lo, int32 hi, int32 newLo, int32 newHi) -> int16 {
    if (std::abs(c - ((lo + hi) >> 1)) <= 1) return Pin16((newLo + newHi) >> 1);
    return Scaled(c, lo, ratio, newLo);
  };
  const int16 x = axis(r->centre.h, oldRect->left, oldRect->right, newRect->left, newRect->right);
  const int16 y = axis(r->centre.v, oldRect->top, oldRect->bottom, newRect->top, newRect->bottom);
  if (radius != r->radius || x != r->centre.h || y != r->centre.v) {
    r->radius = radius;
    r->centre.h = x;
    r->centre.v = y;
  }
  if (FlagsOf(heap, scale) & kScaleSetIncrement) ScaleSetRangeValue(heap, scale, -2, 0, nullptr);
  ScaleRecalc(heap, scale);
  return 0;
}

MgErr OffsetGraphCursors(ObjHeap, int32) { return 0; }

void ControlsJoinSizeSlots() {
  ObjJoinSlot(kMsgOSize, [](int32 cls) {
    return cls == kClsListbox     ? Addr(&ListboxOSizeMethod)
           : cls == kClsContainer ? Addr(&ContainerOSizeMethod)
                                  : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOOffset, [](int32 cls) {
    return cls == kClsListbox      ? Addr(&ListboxOOffsetMethod)
           : cls == kClsGraphChart ? Addr(&GraphOOffsetMethod)
           : cls == kClsScale      ? Addr(&ScaleOOffsetMethod)
                                   : ObjMethodAddr(nullptr);
  });
  SetKnobScaleResizeHook(&KnobScaleResize);
}
