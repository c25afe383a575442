// The cursor legend's rows: one element object moved from cell to cell and
// showing the cursor its cell stands for; the style icon each row draws,
// and the values and selection the rows show refreshed after cursors moved.
#include <algorithm>
#include <cstring>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/ctlcolor.h"
#include "controls/graphdraw.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/rects.h"
#include "panel/datageom.h"
#include "panel/legendupdate.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "rtlib/panellocators.h"

namespace {

constexpr int16 kPartRows = 28, kPartStyleIcon = 21;
constexpr int32 kMaxCells = 16000;
// Members of the element cluster (0-based) that rows refresh.
constexpr int32 kMemberX = 5, kMemberY = 6, kMemberZ = 7, kMemberSelected = 17, kMemberStyle = 18;

bool Live(ObjHeap heap, int32 o, int32 bytes) {
  return o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= bytes;
}
bool Shown(ObjHeap heap, int32 o) { return Live(heap, o, kObjBounds + 8) && !(OHWord(heap, uInt32(o)) & kObjFlagHidden); }
Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}

// The legend's geometry: visible columns and rows (1 .. 16000), the cell
// the element stands in, the element's cell size and the first index.
struct LegendGrid {
  int32 element = 0;
  int32 cols = 1, rows = 1;
  int32 col = 0, row = 0;
  int32 cellWidth = 0, cellHeight = 0;
  int32 first = 0;
};
bool GridOf(ObjHeap heap, int32 legend, LegendGrid* g) {
  if (!Live(heap, legend, int32(sizeof(PanelArrayRec)))) return false;
  g->element = ObjWord(heap, legend, kPWArrayElement);
  if (!Live(heap, g->element, kObjBounds + 8)) return false;
  g->cols = std::clamp<int32>(ObjInt16(heap, legend, kArrayGridColsAt) + 1, 1, kMaxCells);
  g->rows = std::clamp<int32>(ObjInt16(heap, legend, kArrayGridRowsAt) + 1, 1, kMaxCells);
  g->col = ObjInt16(heap, legend, kArrayFirstColAt);
  g->row = ObjInt16(heap, legend, kArrayFirstRowAt);
  Rect b = BoundsOf(heap, g->element);
  if (OHWord(heap, uInt32(legend)) & kArrayFlagWideCells) DInsetRect(&b, -1, -1);
  g->cellWidth = b.right - b.left;
  g->cellHeight = b.bottom - b.top;
  // The first index: the private record's index handle, first dimension.
  const int32 at = ObjWord(heap, legend, kPWArrayPrivate);
  if (UPtr priv = at > 0 ? FPHeapDataPtr(heap, at) : nullptr) {
    UHandle idx = reinterpret_cast<UHandle>(uintptr_t(GetNative32(priv)));
    if (idx && MemIsDSHandle(idx) && *idx && DSGetHandleSize(idx) >= 8) g->first = int32(GetNative32(*idx + 4));
  }
  return true;
}
// The index the element stands for: its row in a vertical legend, else its column.
int32 ShownIndex(const LegendGrid& g) { return g.first + (g.cols == 1 ? g.row : g.col); }
// Moves the element object to (col, row) and notes the place.
void MoveElement(ObjHeap heap, int32 legend, LegendGrid* g, int32 col, int32 row) {
  const int32 dh = (col - g->col) * g->cellWidth, dv = (row - g->row) * g->cellHeight;
  if (dh || dv) OOffsetObj(heap, g->element, Point{int16(dv), int16(dh)});
  g->col = col, g->row = row;
  PutNative16(*heap + legend + kArrayFirstColAt, uInt16(int16(col)));
  PutNative16(*heap + legend + kArrayFirstRowAt, uInt16(int16(row)));
}

// Member m of the element cluster, or 0.
int32 Member(ObjHeap heap, int32 element, int32 m) {
  if (!Live(heap, element, 4 * (kPWClusterElements + 1)) || ObjClass(heap, element) != kClsCluster) return 0;
  const int32 list = ObjWord(heap, element, kPWClusterElements);
  return list > 0 && m < ObjListCount(heap, list) ? ObjListGet(heap, list, m) : 0;
}
int32 OwnerOf(ObjHeap heap, int32 o) { return Live(heap, o, kObjOwner + 4) ? ObjWord(heap, o, kObjOwner / 4) : 0; }
int32 LegendOf(ObjHeap heap, int32 graph) { return FindPart(heap, graph, kGPartCursorLegend, 0); }
UHandle ListHandle(ObjHeap heap, int32 graph) {
  const GraphData* d = GraphDataOf(heap, graph);
  return d ? d->cursors : nullptr;
}

struct IconWalk {
  int32 graph;
  Rect rect;
};

}  // namespace

int32 ShowCursorLegendRow(ObjHeap heap, int32 legend, int32 index, int32* previous) {
  LegendGrid g;
  if (!GridOf(heap, legend, &g)) {
    if (previous) *previous = -1;
    return 0;
  }
  if (previous) *previous = ShownIndex(g);
  const int64 cell = int64(index) - g.first;
  if (cell < 0 || cell >= (g.cols == 1 ? g.rows : g.cols)) return 0;
  if (g.cols == 1) MoveElement(heap, legend, &g, g.col, int32(cell));
  else MoveElement(heap, legend, &g, int32(cell), g.row);
  return 1;
}

void ForEachCursorLegendRow(ObjHeap heap, int32 legend, UHandle list, CursorLegendRowProc proc, Bool32 force,
                            void* arg) {
  LegendGrid g;
  if (!proc || !GridOf(heap, legend, &g)) return;
  if (!force) {
    const Rect b = BoundsOf(heap, legend);
    if (!WNeedsDraw(&b)) return;
  }
  if (!Shown(heap, g.element) || !Shown(heap, FindPart(heap, legend, kPartRows, 0))) return;
  const Bool32 was = SetLegendUpdating(true);
  ObjHeap th = nullptr;
  int32 to = 0, state = 0;
  SetTrackObject(nullptr, 0, &th, &to, false);
  TrackState(0, &state, false);
  const int64 cells = int64(g.cols) * g.rows;
  for (int64 k = 0; k < cells; ++k) {
    int32 col = g.col + 1, row = g.row;
    if (col >= g.cols) col = 0, row = row + 1 >= g.rows ? 0 : row + 1;
    MoveElement(heap, legend, &g, col, row);
    UHandle copy = list;
    UPtr rec = list ? ArrayDisplayEltPtr(heap, legend, &copy, false) : nullptr;
    if (k == cells - 1) {
      SetTrackObject(th, to, nullptr, nullptr, true);
      TrackState(state, nullptr, true);
    }
    proc(heap, g.element, rec, arg);
  }
  SetLegendUpdating(was);
}

int32 CursorLegendRowsRect(ObjHeap heap, int32 graph, Rect* out) {
  *out = Rect{0, 0, 0, 0};
  const int32 legend = LegendOf(heap, graph);
  if (!Shown(heap, legend)) return 0;
  const int32 rows = FindPart(heap, legend, kPartRows, 0);
  if (!Shown(heap, rows)) return 0;
  *out = BoundsOf(heap, rows);
  return 1;
}

int32 DrawCursorLegendIcons(ObjHeap heap, int32 graph) {
  Rect area;
  CursorLegendRowsRect(heap, graph, &area);
  if (DEmptyRect(&area)) return 0;
  Rect saved;
  WLimitClip(&area, &saved);
  IconWalk walk{graph, area};
  ForEachCursorLegendRow(
      heap, LegendOf(heap, graph), ListHandle(heap, graph),
      [](ObjHeap h, int32 element, uChar* c, void* a) {
        DrawCursorStyleIcon(h, element, c, static_cast<IconWalk*>(a)->graph);
      },
      false, &walk);
  WRestoreClip(&saved);
  return 0;
}

void InvalCursorLegendIcons(ObjHeap heap, int32 graph) {
  IconWalk walk{graph, Rect{0, 0, 0, 0}};
  CursorLegendRowsRect(heap, graph, &walk.rect);
  ForEachCursorLegendRow(
      heap, LegendOf(heap, graph), ListHandle(heap, graph),
      [](ObjHeap h, int32 element, uChar* c, void* a) {
        InvalCursorStyleIcon(h, element, c, &static_cast<IconWalk*>(a)->rect);
      },
      true, &walk);
}

void DrawCursorStyleIcon(ObjHeap heap, int32 element, uChar* c, int32 graph) {
  if (!c || !GraphCursorFields()) return;
  const int32 icon = FindPart(heap, Member(heap, element, kMemberStyle), kPartStyleIcon, 0);
  if (Live(heap, icon, kObjBounds + 8)) {
    const Rect bounds = BoundsOf(heap, icon);
    if (WNeedsDraw(&bounds)) {
      Rect r = bounds;
      DInsetRect(&r, 1, 1);
      Rect saved;
      WLimitClip(&r, &saved);
      const DColor own = OHBlockSize(heap, icon) >= kObjCosmBack + 4 ? DColor(ObjWord(heap, icon, kObjCosmBack / 4))
                                                                     : kTransparentColor;
      if (own != kTransparentColor) {
        DSelectNormPen(own, own);
        DPaintRect(&r);
      }
      const DColor colour = CursorU32(c, kGCColour);
      if (colour != kTransparentColor) {
        DSelectNormPen(colour, colour);
        const int32 cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        DrawCursorLines(CursorU32(c, kGCFlags) & (kCursorHLineMask | kCursorVLineMask), cx, cy, r);
        DrawCursorMarker(int32(CursorU32(c, kGCPointStyle)), cx, cy);
      }
      WRestoreClip(&saved);
    }
  }
  if (CursorU32(c, kGCFlags) & kCursorNew) InitNewGraphCursor(heap, graph, element, c);
}

void InvalCursorStyleIcon(ObjHeap heap, int32 element, uChar* /*cursor*/, const Rect* rect) {
  const int32 icon = FindPart(heap, Member(heap, element, kMemberStyle), kPartStyleIcon, 0);
  if (!rect || !Live(heap, icon, kObjBounds + 8)) return;
  const Rect b = BoundsOf(heap, icon);
  Rect r;
  if (DSectRect(&b, rect, &r))
    if (const WindowRef w = CursorWindow(heap)) WInvalRect(w, &r);
}

void UpdateCursorLegendValues(ObjHeap heap, int32 graph, int32 bits) {
  const int32 legend = LegendOf(heap, graph);
  if (!Shown(heap, legend)) return;
  const int32 rows = FindPart(heap, legend, kPartRows, 0);
  bits |= rows > 0 && (OHWord(heap, uInt32(rows)) & kPlotAreaFlagged) ? kLegendRowInval : kLegendRowWrite;
  ForEachCursorLegendRow(
      heap, legend, ListHandle(heap, graph),
      [](ObjHeap h, int32 element, uChar* c, void* a) { UpdateCursorLegendRow(h, element, c, *static_cast<int32*>(a)); },
      true, &bits);
}

void UpdateCursorLegendRow(ObjHeap heap, int32 element, uChar* c, int32 bits) {
  if (!c || !GraphCursorFields()) return;
  if (!CursorBool(c, kGCSelected) && !(bits & kLegendRowForce)) return;
  bool inval = (bits & kLegendRowInval) != 0;
  if (!(bits & (kLegendRowInval | kLegendRowWrite))) {
    const int32 graph = OwnerOf(heap, OwnerOf(heap, element));
    const int32 area = graph ? FindPart(heap, graph, kGPartPlotArea, 0) : 0;
    inval = area > 0 && (OHWord(heap, uInt32(area)) & kPlotAreaFlagged);
  }
  static const struct {
    int32 bit, member;
    GraphCursorField field;
  } kDisplays[] = {{kLegendRowX, kMemberX, kGCX},
                   {kLegendRowY, kMemberY, kGCY},
                   {kLegendRowZ, kMemberZ, kGCZ},
                   {kLegendRowSelected, kMemberSelected, kGCSelected}};
  for (const auto& d : kDisplays) {
    if (!(bits & d.bit)) continue;
    const int32 display = Member(heap, element, d.member);
    if (!Live(heap, display, kObjBounds + 8)) {
      QX_ASSERT_MSG(false, "a cursor legend row without its display");
      continue;
    }
    if (inval) {
      OInval(heap, display, kInvalValue);
    } else {
      // The display's own copy of the field: the record may move while it draws.
      uChar value[8];
      std::memcpy(value, c + GraphCursorFields()->at[d.field], d.field == kGCSelected ? 1 : 8);
      ODisplayValObj(heap, display, 0, value);
    }
  }
}

void SetCursorColorFromTool(ObjHeap heap, int32 graph, DColor colour, Bool32 redraw) {
  const int32 legend = LegendOf(heap, graph);
  LegendGrid g;
  const GraphData* d = GraphDataOf(heap, graph);
  if (!d || !GridOf(heap, legend, &g)) return;
  UHandle list = d->cursors;
  uChar* c = list ? ArrayDisplayEltPtr(heap, legend, &list, false) : nullptr;
  if (!c) return;
  SetCursorU32(c, kGCColour, colour);
  Rect area;
  CursorLegendRowsRect(heap, graph, &area);
  InvalCursorStyleIcon(heap, g.element, c, &area);
  if (redraw)
    EraseGraphCursor(heap, graph, c, int32(CursorU32(c, kGCPointStyle)), int32(CursorU32(c, kGCFlags)),
                     kCursorDrawDraggable, false);
}

void GraphCursorColorChange(ObjHeap heap, int32 graph, DColor colour) {
  LegendGrid g;
  if (!GridOf(heap, LegendOf(heap, graph), &g)) return;
  const int32 icon = FindPart(heap, Member(heap, g.element, kMemberStyle), kPartStyleIcon, 0);
  if (icon > 0) OColorChange(heap, Member(heap, g.element, kMemberStyle), kPartStyleIcon, 0, kTransparentColor, colour,
                             0x200);
}
