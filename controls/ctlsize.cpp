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
#include "panel/attrcall.h"
#include "panel/oinval.h"
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

// The scale's record; a damaged file can leave a scale without one: reported
// as debug text (with the line), never as a failure that ends the program.
ScaleRec* RecordOrReport(ObjHeap heap, int32 scale, int32 line) {
  const int32 data = Live(heap, scale, 4 * (kScaleObjDataTD + 1)) ? ObjWord(heap, scale, kScaleObjData) : 0;
  const int32 td = data ? ObjWord(heap, scale, kScaleObjDataTD) : 0;
  if (!data || !PanelEntryTD(heap, data, td, int32(sizeof(ScaleRec)))) {
    DBPrintf("%s line %ld: no ScaleRec", kSource, long(line));
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
  if (ScaleRec* r = RecordOrReport(heap, scale, 1041)) {
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
  ScaleRec* r = RecordOrReport(heap, scale, 976);
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

// ---- Scales and stacked graphs -------------------------------------------------------------

namespace {

constexpr int16 kScalePartSideA = 27, kScalePartSideB = 40, kScalePartLine = 45, kScalePartTrack = 69,
                kScalePartEndHigh = 8012, kScalePartEndLow = 8013;
constexpr int16 kGPartFrame = 9;
constexpr int32 kMinPlotHeight = 5;

// The last part of the id in the object's part list, 0 for none.
int32 LastPart(ObjHeap heap, int32 object, int32 id) {
  int32 found = 0;
  ForEachPart(heap, object, [&](int32 p) {
    if (p != object && Live(heap, p, kObjBounds + 8) && ObjInt16(heap, p, kObjPartId) == id) found = p;
  });
  return found;
}
Rect Moved(Rect r, int32 dv, int32 dh) {
  return Rect{Pin16(int32(r.top) + dv), Pin16(int32(r.left) + dh), Pin16(int32(r.bottom) + dv),
              Pin16(int32(r.right) + dh)};
}
MgErr MoveBy(ObjHeap heap, int32 part, int32 dv, int32 dh) {
  if (!part || (!dv && !dh)) return 0;
  return SendOffset(heap, part, Point{Pin16(dv), Pin16(dh)});
}
MgErr SizeTo(ObjHeap heap, int32 part, const Rect& r) {
  if (!part) return 0;
  const Rect old = BoundsOf(heap, part);
  if (DEqualRect(&old, &r)) return 0;
  return MoveOrSizePart(heap, part, &old, &r, 0);
}
int32 Width(const Rect& r) { return int32(r.right) - r.left; }
int32 Height(const Rect& r) { return int32(r.bottom) - r.top; }
int32 Middle2(const Rect& r, bool horizontal) { return horizontal ? int32(r.left) + r.right : int32(r.top) + r.bottom; }

// The scale's ends put at lo and hi in its own orientation (the start at lo
// when it increases); the increment set again when asked for and the scale
// recounted.  True when the ends moved.
bool PlaceEnds(ObjHeap heap, int32 scale, ScaleRec* r, int32 lo, int32 hi) {
  const bool increasing = r->pixelStart < r->pixelEnd;
  const int16 start = Pin16(increasing ? lo : hi), end = Pin16(increasing ? hi : lo);
  if (r->pixelStart == start && r->pixelEnd == end) return false;
  r->pixelStart = start;
  r->pixelEnd = end;
  if (FlagsOf(heap, scale) & kScaleSetIncrement) ScaleSetRangeValue(heap, scale, -2, 0, nullptr);
  ScaleRecalc(heap, scale);
  return true;
}

MgErr InvalMoveBy(ObjHeap heap, int32 part, int32 dv, int32 dh) {
  if (!part || (!dv && !dh)) return 0;
  OInval(heap, part, kInvalAll);
  const MgErr err = MoveBy(heap, part, dv, dh);
  OInval(heap, part, kInvalAll);
  return err;
}

}  // namespace

int32 ScaleOSizeMethod(ObjHeap heap, int32 scale, const Rect* newRect, int32 partId) {
  if (!Live(heap, scale, kScaleObjInner + 8)) return kArgErr;
  const SizeScope scope;
  if (!scope.Entered()) return kArgErr;
  MarkChanged(heap, scale);
  const Rect bounds = BoundsOf(heap, scale);
  const uInt32 flags = FlagsOf(heap, scale);
  if (newRect) {
    const int32 a = LastPart(heap, scale, kScalePartSideA), b = LastPart(heap, scale, kScalePartSideB);
    const int32 line = LastPart(heap, scale, kScalePartLine), track = LastPart(heap, scale, kScalePartTrack);
    const int32 endHigh = LastPart(heap, scale, kScalePartEndHigh), endLow = LastPart(heap, scale, kScalePartEndLow);
    ScaleRec* r = RecordOrReport(heap, scale, 800);
    const int32 dTop = int32(newRect->top) - bounds.top, dLeft = int32(newRect->left) - bounds.left;
    const int32 dBottom = int32(newRect->bottom) - bounds.bottom, dRight = int32(newRect->right) - bounds.right;
    const Rect ra = a ? BoundsOf(heap, a) : Rect{0, 0, 0, 0}, rb = b ? BoundsOf(heap, b) : Rect{0, 0, 0, 0};
    if (flags & kScaleRound) {
      if (r)
        if (MgErr err = KnobScaleResize(heap, scale, &bounds, newRect)) return err;
    } else if (!(flags & kScaleHorizontal)) {
      const bool side = Middle2(ra, true) < Middle2(rb, true);
      if (r) {
        // The end with the smaller coordinate follows the top edge.
        int16& top = r->pixelStart < r->pixelEnd ? r->pixelStart : r->pixelEnd;
        int16& bottom = r->pixelStart < r->pixelEnd ? r->pixelEnd : r->pixelStart;
        top = Pin16(int32(top) + dTop);
        bottom = Pin16(int32(bottom) + dBottom);
      }
      const int32 h = side ? dRight : dLeft;
      if (MgErr err = MoveBy(heap, endHigh, dTop, h)) return err;
      if (MgErr err = MoveBy(heap, endLow, dBottom, h)) return err;
      if (track) {
        const Rect t = BoundsOf(heap, track);
        if (MgErr err = SizeTo(heap, track, Rect{Pin16(int32(t.top) + dTop), Pin16(int32(t.left) + h),
                                                 Pin16(int32(t.bottom) + dBottom), Pin16(int32(t.right) + h)}))
          return err;
      }
      const int32 hv = side ? dLeft : dRight;
      if (hv)
        if (MgErr err = MoveBy(heap, a, 0, hv)) return err;
      const int32 dw = Width(*newRect) - Width(bounds);
      if (hv || dw)
        for (int32 p : {b, line}) {
          if (!p) continue;
          Rect q = Moved(BoundsOf(heap, p), 0, hv);
          if (side) q.right = Pin16(std::max(int32(q.right) + dw, int32(q.left) + 1));
          else q.left = Pin16(std::min(int32(q.left) + dw, int32(q.right) - 1));
          if (MgErr err = SizeTo(heap, p, q)) return err;
        }
    } else {
      if (r) {
        int16& left = r->pixelStart < r->pixelEnd ? r->pixelStart : r->pixelEnd;
        int16& right = r->pixelStart < r->pixelEnd ? r->pixelEnd : r->pixelStart;
        left = Pin16(int32(left) + dLeft);
        right = Pin16(int32(right) + dRight);
      }
      const int32 v = ra.top < rb.top ? dBottom : dTop;
      if (v)
        for (int32 p : {a, b, line, track, endHigh, endLow})
          if (MgErr err = MoveBy(heap, p, v, 0)) return err;
    }
    if ((FlagsOf(heap, scale) & kScaleSetIncrement) && r) ScaleSetRangeValue(heap, scale, -2, 0, nullptr);
    ScaleRecalc(heap, scale);
    return 0;
  }
  const int32 part = partId ? LastPart(heap, scale, partId) : 0;
  if (!(flags & kScaleRound) && part) {
    const Rect old = LastOldBounds;
    const Rect now = PartRect(heap, part, 1);
    if (partId == kScalePartTrack)
      if (ScaleRec* r = RecordOrReport(heap, scale, 800)) {
        const bool horizontal = flags & kScaleHorizontal;
        const int32 lo = (horizontal ? now.left : now.top) + 1, hi = (horizontal ? now.right : now.bottom) - 1;
        const bool increasing = r->pixelStart < r->pixelEnd;
        r->pixelStart = Pin16(increasing ? lo : hi);
        r->pixelEnd = Pin16(increasing ? hi : lo);
      }
    LastOldBounds = old;
    if (MgErr err = FollowAnchoredParts(heap, scale, partId)) return err;
  }
  LastOldBounds = bounds;
  ScaleRecalc(heap, scale);
  return 0;
}

int32 GraphOSizeMethod(ObjHeap heap, int32 graph, const Rect* newRect, int32 partId) {
  if (!Live(heap, graph, kObjPartList + 4)) return kArgErr;
  int32 n = GraphPlotBounds(heap, graph, nullptr);
  if (n == 1) n = 0;
  int32 changed = -1, corner = -1;
  Rect changedOld{0, 0, 0, 0}, changedNew{0, 0, 0, 0}, frameOld{0, 0, 0, 0};
  const int32 frame = FindPart(heap, graph, kGPartFrame, 0);
  if (n >= 2 && partId == kGPartPlotArea) {
    const Rect o = LastOldBounds;
    for (int32 i = 0; i < n && changed < 0; ++i) {
      const int32 p = FindPart(heap, graph, kGPartPlotArea, i);
      if (!p || !Live(heap, p, kObjBounds + 8)) continue;
      const Rect r = BoundsOf(heap, p);
      const int32 k = r.top == o.top && r.left == o.left         ? 0
                      : r.top == o.top && r.right == o.right     ? 1
                      : r.bottom == o.bottom && r.right == o.right ? 2
                      : r.bottom == o.bottom && r.left == o.left   ? 3
                                                                   : -1;
      if (k >= 0) changed = i, corner = k, changedOld = o, changedNew = r;
    }
    partId = 0;
  } else if (n >= 2 && partId == kGPartFrame && frame) {
    frameOld = LastOldBounds;  // the frame has its new rectangle already
  }
  if (const int32 err = DDOOSizeMethod(heap, graph, newRect, partId)) return err;
  const int32 xScale = FindPart(heap, graph, kGPartXScale, 0);
  if (n >= 2 && partId == kGPartFrame && frame) {
    const Rect frameNew = BoundsOf(heap, frame);
    int32 change = Height(frameNew) - Height(frameOld);
    const int32 shift = int32(frameNew.top) - frameOld.top;
    const int32 plot = AttrSizingPlot();
    if (plot == -1) {
      int32 total = 0;
      for (int32 i = 0; i < n; ++i)
        if (const int32 p = FindPart(heap, graph, kGPartPlotArea, i)) total += std::max(0, Height(BoundsOf(heap, p)));
      int32 moved = 0;
      // Without heights to share in (a total of 0) the plot areas keep
      // their heights and only follow the frame's move.
      for (int32 i = 0; i < n; ++i) {
        const int32 p = FindPart(heap, graph, kGPartPlotArea, i);
        if (!p) continue;
        Rect r = BoundsOf(heap, p);
        const int32 h = std::max(0, Height(r));
        const int32 h2 = total > 0 ? std::max(kMinPlotHeight, int32(h + int64(h) * change / total)) : h;
        r.top = Pin16(int32(r.top) + moved + shift);
        r.bottom = Pin16(int32(r.top) + h2);
        if (MgErr err = SizeTo(heap, p, r)) return err;
        total -= h;
        change -= h2 - h;
        moved += h2 - h;
      }
      if (MgErr err = InvalMoveBy(heap, xScale, moved + shift, 0)) return err;
    } else if (plot >= 0 && plot < n) {
      for (int32 i = plot + 1; i < n; ++i)
        if (MgErr err = MoveBy(heap, FindPart(heap, graph, kGPartPlotArea, i), change, 0)) return err;
      if (const int32 p = FindPart(heap, graph, kGPartPlotArea, plot)) {
        Rect r = BoundsOf(heap, p);
        r.bottom = Pin16(int32(r.bottom) + change);
        if (MgErr err = SizeTo(heap, p, r)) return err;
      }
      if (MgErr err = InvalMoveBy(heap, xScale, change, 0)) return err;
    } else if (plot < -1) {
      DBAssert(kSource, 1246, "GraphOSizeMethod: bad plot index");
    }
  }
  if (n >= 2) {
    const int32 basePart = FindPart(heap, graph, kGPartPlotArea, changed >= 0 ? changed : 0);
    const Rect base = basePart ? BoundsOf(heap, basePart) : Rect{0, 0, 0, 0};
    for (int32 i = 0; i < n && basePart; ++i) {
      const int32 p = FindPart(heap, graph, kGPartPlotArea, i);
      if (!p || p == basePart) continue;
      Rect r = BoundsOf(heap, p);
      r.left = base.left;
      r.right = base.right;
      if (MgErr err = SizeTo(heap, p, r)) return err;
    }
    const bool leftMoved = changed >= 0 && (corner == 1 || corner == 2);
    std::vector<int32> yScales;
    ForEachPart(heap, graph, [&](int32 p) {
      if (p != graph && Live(heap, p, kObjBounds + 8) && ObjInt16(heap, p, kObjPartId) == kGPartYScale)
        yScales.push_back(p);
    });
    for (int32 s : yScales) {
      const int32 area = FindPart(heap, graph, kGPartPlotArea, ObjInt16(heap, s, kObjPartOrder));
      if (!area) {
        DBPrintf("%s line %ld: a scale without its plot area", kSource, 1283L);
        continue;
      }
      ScaleRec* r = RecordOrReport(heap, s, 1286);
      if (!r) continue;
      if (leftMoved)
        if (MgErr err = InvalMoveBy(heap, s, 0, int32(changedNew.left) - changedOld.left)) return err;
      const Rect a = BoundsOf(heap, area);
      if (!(r = ScaleRecOf(heap, s))) continue;
      PlaceEnds(heap, s, r, int32(a.top) + 1, int32(a.bottom) - 2);
    }
    if (xScale && basePart) {
      if (changed == n - 1 && (corner == 0 || corner == 1))
        if (MgErr err = InvalMoveBy(heap, xScale, int32(changedNew.bottom) - changedOld.bottom, 0)) return err;
      if (ScaleRec* r = RecordOrReport(heap, xScale, 1336))
        PlaceEnds(heap, xScale, r, int32(base.left) + 1, int32(base.right) - 2);
    }
    if (MgErr err = OffsetGraphCursors(heap, graph)) return err;
  }
  // The graph's bounds hold its visible parts; with a frame its scales lie
  // inside it.
  Rect u{0, 0, 0, 0};
  bool any = false;
  ForEachPart(heap, graph, [&](int32 p) {
    if (p == graph || !Live(heap, p, kObjBounds + 8) || (FlagsOf(heap, p) & kObjFlagHidden)) return;
    const int32 id = ObjInt16(heap, p, kObjPartId);
    if (frame && (id == kGPartXScale || id == kGPartYScale)) return;
    Unite(&u, &any, BoundsOf(heap, p));
  });
  if (any) SetBoundsOf(heap, graph, u);
  ReleaseCachedImage(heap, graph, kGraphPixmapWord, kGraphFlagRedrawAll);
  SetFlagsOf(heap, graph, FlagsOf(heap, graph) | kGraphFlagRedrawAll);
  return 0;
}

void ControlsJoinSizeSlots() {
  ObjJoinSlot(kMsgOSize, [](int32 cls) {
    return cls == kClsListbox      ? Addr(&ListboxOSizeMethod)
           : cls == kClsContainer  ? Addr(&ContainerOSizeMethod)
           : cls == kClsScale      ? Addr(&ScaleOSizeMethod)
           : cls == kClsGraphChart ? Addr(&GraphOSizeMethod)
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
