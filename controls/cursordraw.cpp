// Cursors drawn over the plot area, and their drawings erased and moved by
// copying back the pieces they covered from the plot image, or invalidated
// when the plot cannot be drawn into directly.
#include "controls/cursordraw.h"

#include <algorithm>
#include <cstring>

#include "controls/graph.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "rtlib/vistrread.h"

namespace {

// A rectangle of 32-bit ends pinned to the 16-bit range.
Rect Pinned(int32 top, int32 left, int32 bottom, int32 right) {
  auto pin = [](int32 x) { return int16(std::clamp<int32>(x, -32768, 32767)); };
  return Rect{pin(top), pin(left), pin(bottom), pin(right)};
}

// The pieces of a cursor centred on (h, v) with its label centre at
// (lh, lv): what a drawing covers, each before clipping.
struct CursorPieces {
  Rect r[6];
  int32 n = 0;
  void Add(const Rect& x) { r[n++] = x; }
};
Rect MarkerBox(int32 h, int32 v) { return Pinned(v - 2, h - 2, v + 3, h + 3); }
Rect HLinePiece(int32 h, int32 v, bool full, const Rect& plot) {
  return full ? Pinned(v, plot.left, v + 1, plot.right) : Pinned(v, h - 5, v + 1, h + 6);
}
Rect VLinePiece(int32 h, int32 v, bool full, const Rect& plot) {
  return full ? Pinned(plot.top, h, plot.bottom, h + 1) : Pinned(v - 5, h, v + 6, h + 1);
}
Rect LabelBox(const uChar* c, int32 dh = 0, int32 dv = 0) {
  const int32 w = CursorI16(c, kGCLabelWidth), ht = CursorI16(c, kGCLabelHeight);
  const int32 left = int32(CursorI16(c, kGCLabelH)) - dh - w / 2, top = int32(CursorI16(c, kGCLabelV)) - dv - ht / 2;
  return Pinned(top, left, top + ht, left + w);
}

// The pieces named by the point style and the pieces word at the cursor's centre.
CursorPieces PiecesAt(const uChar* c, const Rect& plot, int32 style, int32 pieces) {
  CursorPieces p;
  const int32 h = CursorI16(c, kGCH), v = CursorI16(c, kGCV);
  if (style != 0) p.Add(MarkerBox(h, v));
  if (pieces & kCursorPieceHLine) p.Add(HLinePiece(h, v, (pieces & 0x8) != 0, plot));
  if (pieces & kCursorPieceVLine) p.Add(VLinePiece(h, v, (pieces & 0x2) != 0, plot));
  if (pieces & kCursorPieceLabel) p.Add(LabelBox(c));
  return p;
}

// What a move by (dh, dv) leaves to restore or invalidate at one centre:
// the marker box, the line pieces (a full line moved only along itself
// keeps its place: only the small box around the centre when asked), the
// label box.
CursorPieces MovePiecesAt(const uChar* c, const Rect& plot, int32 h, int32 v, int32 dh, int32 dv, bool smallBoxes,
                          int32 labelDh, int32 labelDv) {
  CursorPieces p;
  const uInt32 flags = CursorU32(c, kGCFlags);
  const int32 style = int32(CursorU32(c, kGCPointStyle));
  const int32 hk = int32((flags & kCursorHLineMask) >> 2), vk = int32(flags & kCursorVLineMask);
  if (style != 0) p.Add(MarkerBox(h, v));
  if (hk != 0 && (hk == kCursorLineTicks || dv != 0 || style == 0)) p.Add(HLinePiece(h, v, hk == kCursorLineFull, plot));
  else if (hk == kCursorLineFull && smallBoxes) p.Add(Pinned(v, h - 2, v + 1, h + 3));
  if (vk != 0 && (vk == kCursorLineTicks || dh != 0 || style == 0)) p.Add(VLinePiece(h, v, vk == kCursorLineFull, plot));
  else if (vk == kCursorLineFull && smallBoxes) p.Add(Pinned(v - 2, h, v + 3, h + 1));
  if (flags & kCursorShowLabel) p.Add(LabelBox(c, labelDh, labelDv));
  return p;
}

// Each piece met with the plot rectangle, handed to act; 1 when any met it.
template <typename F>
int32 ForPieces(const CursorPieces& p, const Rect& plot, F act) {
  int32 any = 0;
  for (int32 i = 0; i < p.n; ++i) {
    Rect r;
    if (!DSectRect(&p.r[i], &plot, &r)) continue;
    any = 1;
    act(r);
  }
  return any;
}
int32 Restore(const CursorPieces& p, const Rect& plot, int32 image) {
  return ForPieces(p, plot, [&](const Rect& r) {
    IDraw(image, &r, &r, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  });
}
int32 Invalidate(const CursorPieces& p, const Rect& plot, WindowRef w) {
  return ForPieces(p, plot, [&](const Rect& r) {
    if (w) WInvalRect(w, &r);
  });
}

int32 InvalAreaIn(WindowRef w, const uChar* c, const Rect* plot, int32 style, int32 pieces) {
  if (!c || !plot || !GraphCursorFields() || (style == 0 && (pieces & kCursorPieceAll) == 0)) return 0;
  return Invalidate(PiecesAt(c, *plot, style, pieces), *plot, w);
}
int32 InvalMoveIn(WindowRef w, const uChar* c, const Rect* plot, int32 dh, int32 dv) {
  if (!c || !plot || !GraphCursorFields()) return 0;
  const int32 h = CursorI16(c, kGCH), v = CursorI16(c, kGCV);
  const int32 a = Invalidate(MovePiecesAt(c, *plot, h - dh, v - dv, dh, dv, true, dh, dv), *plot, w);
  const int32 b = Invalidate(MovePiecesAt(c, *plot, h, v, dh, dv, true, 0, 0), *plot, w);
  return a | b;
}

bool Drawable(const uChar* c) {
  const uInt32 flags = CursorU32(c, kGCFlags);
  if (CursorU32(c, kGCColour) == kTransparentColor) return false;
  return (flags & (kCursorHLineMask | kCursorVLineMask | kCursorShowLabel)) || CursorU32(c, kGCPointStyle) != 0;
}

// One cursor: the pieces that meet the plot and need drawing.
void DrawOne(const uChar* c, const Rect& plot, int32 font) {
  const uInt32 flags = CursorU32(c, kGCFlags);
  const int32 h = CursorI16(c, kGCH), v = CursorI16(c, kGCV);
  const int32 style = int32(CursorU32(c, kGCPointStyle));
  const int32 hk = int32((flags & kCursorHLineMask) >> 2), vk = int32(flags & kCursorVLineMask);
  auto needs = [&](const Rect& piece) {
    Rect r;
    return DSectRect(&piece, &plot, &r) && WNeedsDraw(&r);
  };
  const bool marker = style != 0 && needs(MarkerBox(h, v));
  const bool hline = hk != 0 && needs(hk == kCursorLineFull ? Pinned(v, plot.left, v + 1, plot.right)
                                                           : Pinned(v, h - 5, v + 1, h + 5));
  const bool vline = vk != 0 && needs(vk == kCursorLineFull ? Pinned(plot.top, h, plot.bottom, h + 1)
                                                           : Pinned(v - 5, h, v + 5, h + 1));
  const Rect label = LabelBox(c);
  const bool text = (flags & kCursorShowLabel) && needs(label);
  if (!marker && !hline && !vline && !text) return;
  const DColor colour = CursorU32(c, kGCColour);
  DSelectNormPen(colour, colour);
  DrawCursorLines((hline ? flags & kCursorHLineMask : 0) | (vline ? flags & kCursorVLineMask : 0), h, v, plot);
  if (marker) DrawCursorMarker(style, h, v);
  if (text) {
    UHandle name = CursorName(c);
    const int32 n = VSLStrLen(name);
    TBox(&label, int32((CursorU32(c, kGCLabelMode) & 0x30) | 2), n ? VSLStrBytes(name) : nullptr, n, font, colour,
         kTransparentColor, colour, kTransparentColor);
  }
}

}  // namespace

bool CursorPlotRect(ObjHeap heap, int32 graph, Rect* out, int32* part) {
  const int32 p = heap && *heap ? FindPart(heap, graph, kGPartPlotArea, 0) : 0;
  if (part) *part = p;
  if (p <= 0 || OHBlockSize(heap, p) < kObjBounds + 8) return false;
  std::memcpy(out, *heap + p + kObjBounds, sizeof *out);
  DInsetRect(out, 1, 1);
  return true;
}

int32 CursorDirectImage(ObjHeap heap, int32 graph, Bool32 force) {
  int32 part = 0;
  Rect plot;
  if (force || !CursorPlotRect(heap, graph, &plot, &part)) return 0;
  if (OHWord(heap, uInt32(part)) & kPlotAreaFlagged) return 0;
  if (OHBlockSize(heap, part) < kObjCosmBack + 4 || DColor(ObjWord(heap, part, kObjCosmBack / 4)) == kTransparentColor)
    return 0;
  const int32 image = ObjWord(heap, graph, kGraphPixmapWord);
  return image && IKindOf(image) == kImagePixmap ? image : 0;
}

WindowRef CursorWindow(ObjHeap heap) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  if (ext > 0 && OHIsUsedBlock(heap, ext) && OHBlockSize(heap, ext) >= kHeapExtWindow + 4)
    if (const WindowRef w = WindowRef(GetNative32(*heap + ext + kHeapExtWindow))) return w;
  return WCurrentPort();
}

void DrawCursorLines(uInt32 flags, int32 h, int32 v, const Rect& edges) {
  const int32 hk = int32((flags & kCursorHLineMask) >> 2), vk = int32(flags & kCursorVLineMask);
  if (hk == kCursorLineTicks || hk == kCursorLineFull) {
    DMoveTo(h - 3, v);
    if (hk == kCursorLineTicks) DLine(-2, 0);
    else DLineTo(edges.left, v);
    DMoveTo(h + 3, v);
    if (hk == kCursorLineTicks) DLine(2, 0);
    else DLineTo(edges.right - 1, v);
  }
  if (vk == kCursorLineTicks || vk == kCursorLineFull) {
    DMoveTo(h, v - 3);
    if (vk == kCursorLineTicks) DLine(0, -2);
    else DLineTo(h, edges.top);
    DMoveTo(h, v + 3);
    if (vk == kCursorLineTicks) DLine(0, 2);
    else DLineTo(h, edges.bottom - 1);
  }
}

void DrawCursorMarker(int32 style, int32 h, int32 v) {
  const CursorMarker m = CursorMarkerOf(style);
  const Rect box = Pinned(v + m.low, h + m.low, v + m.high, h + m.high);
  auto shape = [&](const Rect& r) {
    switch (m.shape) {
      case kMarkFrameOval: DFrameOval(&r); break;
      case kMarkPaintOval: DPaintOval(&r); break;
      case kMarkFrameRect: DFrameRect(&r); break;
      case kMarkPaintRect: DPaintRect(&r); break;
      default: break;
    }
  };
  switch (m.shape) {
    case kMarkNone: return;
    case kMarkPixel: DSetPixel(h, v); return;
    case kMarkPlus:
      DMoveTo(h + m.low, v);
      DLineTo(h + m.high, v);
      DMoveTo(h, v + m.low);
      DLineTo(h, v + m.high);
      return;
    case kMarkCross:
      DMoveTo(h + m.low, v + m.low);
      DLineTo(h + m.high, v + m.high);
      DMoveTo(h + m.low, v + m.high);
      DLineTo(h + m.high, v + m.low);
      return;
    case kMarkDiamond: {
      const Point pts[5] = {{int16(v - 2), int16(h)}, {int16(v), int16(h + 2)}, {int16(v + 2), int16(h)},
                            {int16(v), int16(h - 2)}, {int16(v - 2), int16(h)}};
      DPolyLine(pts, 4);
      return;
    }
    default: break;
  }
  shape(box);
  if (m.extra == kMarkExtraInset) {
    Rect inner = box;
    DInsetRect(&inner, 1, 1);
    shape(inner);
  } else if (m.extra == kMarkExtraCentre) {
    DSetPixel(h, v);
  }
}

void DrawCursorsInPlot(ObjHeap heap, int32 graph, int32 mode) {
  int32 n = 0;
  GraphCursorsOf(heap, graph, &n);
  if (!PrefGet(kPrefSmoothGraphMarkers)) {
    // 1. Fixed cursors are drawn with the draggable ones.
    if (n <= 0 || (mode & ~kCursorDrawFixedChanged) == kCursorDrawFixed) return;
    mode = kCursorDrawBoth;
  } else {
    // 2. Fixed cursors live in the plot image: a changed one, or both kinds
    // asked while one is draggable, redraws the whole plot area.
    if (n <= 0 && !(mode & kCursorDrawFixedChanged)) return;
    bool draggable = false;
    if ((mode & ~kCursorDrawFixedChanged) == kCursorDrawBoth) {
      UPtr list = GraphCursorsOf(heap, graph, &n);
      for (int32 i = 0; list && i < n && !draggable; ++i)
        draggable = !(CursorU32(list + i * GraphCursorFields()->size, kGCFlags) & kCursorNoDrag);
    }
    if ((mode & kCursorDrawFixedChanged) || draggable) {
      void* value = reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, graph, 0, kDataPtrPlain, nullptr))));
      DrawPlotArea(heap, graph, value, 0, 0, 4, 1);
      return;
    }
    if (mode == kCursorDrawBoth) mode = kCursorDrawDraggable;
    mode &= kCursorDrawBoth;
  }
  // 3.
  Rect plot;
  if (!CursorPlotRect(heap, graph, &plot)) return;
  Rect saved;
  WLimitClip(&plot, &saved);
  const int32 font = GetGraphCursorFont(heap, graph);
  for (int32 pass = 0; pass < 2; ++pass) {
    if (!(mode & (pass == 0 ? kCursorDrawFixed : kCursorDrawDraggable))) continue;
    // 4. Last to first: the first cursor ends on top.
    int32 count = 0;
    GraphCursorsOf(heap, graph, &count);
    for (int32 i = count - 1; i >= 0; --i) {
      UPtr list = GraphCursorsOf(heap, graph, &count);
      if (!list || i >= count) break;
      const uChar* c = list + i * GraphCursorFields()->size;
      const bool fixed = (CursorU32(c, kGCFlags) & kCursorNoDrag) != 0;
      if (fixed != (pass == 0) || !Drawable(c)) continue;
      DrawOne(c, plot, font);
    }
  }
  // 9.
  TDisposeFont(font);
  WRestoreClip(&saved);
}

int32 EraseCursorFromImage(UPtr cursor, const Rect* plot, int32 image, int32 style, int32 pieces) {
  if (!cursor || !plot || !GraphCursorFields()) return 0;
  return Restore(PiecesAt(cursor, *plot, style, pieces), *plot, image);
}

int32 InvalCursorArea(UPtr cursor, const Rect* plot, int32 style, int32 pieces) {
  return InvalAreaIn(WCurrentPort(), cursor, plot, style, pieces);
}

int32 EraseGraphCursor(ObjHeap heap, int32 graph, UPtr cursor, int32 style, int32 pieces, int32 redrawMode,
                       Bool32 force) {
  Rect plot;
  if (!cursor || !GraphCursorFields() || !CursorPlotRect(heap, graph, &plot)) return 0;
  if (const int32 image = CursorDirectImage(heap, graph, force)) {
    const bool fixed = (CursorU32(cursor, kGCFlags) & kCursorNoDrag) != 0;
    const int32 any = EraseCursorFromImage(cursor, &plot, image, style, pieces);
    if (redrawMode) DrawCursorsInPlot(heap, graph, redrawMode + (fixed ? kCursorDrawFixedChanged : 0));
    return any;
  }
  InvalAreaIn(CursorWindow(heap), cursor, &plot, style, pieces);
  return 0;
}

int32 EraseCursorMoveFromImage(UPtr cursor, const Rect* plot, int32 image, int32 dh, int32 dv) {
  if (!cursor || !plot || !GraphCursorFields()) return 0;
  const int32 h = CursorI16(cursor, kGCH), v = CursorI16(cursor, kGCV);
  // The old drawing, and at the new centre the pieces a line that stayed
  // in place shows through the marker's gap.
  int32 any = Restore(MovePiecesAt(cursor, *plot, h - dh, v - dv, dh, dv, false, dh, dv), *plot, image);
  CursorPieces centre;
  if (dv == 0) centre.Add(Pinned(v, h - 2, v + 1, h + 3));
  if (dh == 0) centre.Add(Pinned(v - 2, h, v + 3, h + 1));
  any |= Restore(centre, *plot, image);
  return any;
}

int32 InvalCursorMove(UPtr cursor, const Rect* plot, int32 dh, int32 dv) {
  return InvalMoveIn(WCurrentPort(), cursor, plot, dh, dv);
}

int32 ScrollCursorDrawing(ObjHeap heap, int32 graph, UPtr cursor, int32 dh, int32 dv, Bool32 redraw) {
  Rect plot;
  if ((dh == 0 && dv == 0) || !cursor || !GraphCursorFields() || !CursorPlotRect(heap, graph, &plot)) return 0;
  if (const int32 image = CursorDirectImage(heap, graph, false)) {
    EraseCursorMoveFromImage(cursor, &plot, image, dh, dv);
    if (redraw) DrawCursorsInPlot(heap, graph, kCursorDrawBoth);
    return 1;
  }
  InvalMoveIn(CursorWindow(heap), cursor, &plot, dh, dv);
  return 0;
}
