#include "panel/panelcells.h"

#include <algorithm>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "mgsource/window/textrec.h"
#include "rtlib/panellocators.h"

namespace {
constexpr int32 kGridMax = 16000;
constexpr int32 kSelectionHandles = 3;  // the selection record: three handles, then the default element
constexpr DColor kGreyCell = 0xB3B3B3, kSelectionColour = 0x0000FF, kBlackColour = 0x000000;
}  // namespace

const TypeDescriptor* PanelTypeOf(ObjHeap heap, TypeID id) {
  const TypeDescriptor* td = id ? TypeIDGetTD(heap, id, 0) : nullptr;
  return td ? SkipTypedefs(td) : nullptr;
}

UHandle PanelDataSpaceOrAssert(ObjHeap heap, const char* source, int32 line, const char* who) {
  UHandle* at = heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind ? FPGetDataSpace(heap) : nullptr;
  if (at && *at && **at) return *at;
  DBAssert(source, line, who);
  return nullptr;
}

bool PanelInData(UHandle ds, int32 offset, int32 count) {
  return ds && *ds && offset >= kPanelDataFloor && count >= 0 && int64(offset) + count <= DSGetHandleSize(ds);
}

ArrayGrid ArrayGridOf(ObjHeap heap, int32 array) {
  const auto half = [&](int32 byte) { return int32(ObjInt16(heap, array, byte)); };
  ArrayGrid g;
  g.columns = std::clamp(half(4 * kPWArrayGrid) + 1, 1, kGridMax);
  g.rows = std::clamp(half(4 * kPWArrayGrid + 2) + 1, 1, kGridMax);
  g.column = std::clamp(half(4 * kPWArrayShown), 0, g.columns - 1);
  g.row = std::clamp(half(4 * kPWArrayShown + 2), 0, g.rows - 1);
  return g;
}

void SetArrayShownCell(ObjHeap heap, int32 array, int32 row, int32 column) {
  ObjSetWord(heap, array, kPWArrayShown, ArrayCell(row, column));
}

Rect ArrayCellRect(ObjHeap heap, int32 element, bool wide) {
  Rect r;
  __builtin_memcpy(&r, *heap + element + kObjBounds, sizeof r);
  if (wide) DInsetRect(&r, -1, -1);
  return r;
}

DColor PartBackColour(ObjHeap heap, int32 part) {
  return OHBlockSize(heap, part) >= kObjCosmBack + 4 ? DColor(ObjWord(heap, part, kObjCosmBack / 4)) : kTransparentColor;
}

void GreyArrayCell(const Rect& cell, DColor background) {
  DGrayOutRect(&cell, background == kTransparentColor ? kGreyCell : background);
}

const TypeDescriptor* ArraySelectionRecord(ObjHeap heap, int32 array) {
  const TypeDescriptor* rec =
      PanelEntryTD(heap, ObjWord(heap, array, kPWArrayPrivate), ObjWord(heap, array, kPWArrayPrivateTD), 0);
  return rec && rec->code == kTDCluster && int16(GetNative16(reinterpret_cast<const uChar*>(rec) + 4)) > kSelectionHandles
             ? rec
             : nullptr;
}

int32 ArrayDefaultElementOffset(ObjHeap heap, int32 array, UHandle ds, const char* source, int32 line,
                                const char* who) {
  if (const TypeDescriptor* rec = ds ? ArraySelectionRecord(heap, array) : nullptr) {
    const TypeDescriptor* td = rec;
    const int32 at = ObjDataOffset(&td, ObjWord(heap, array, kPWArrayPrivate), kSelectionHandles);
    if (at > 0 && PanelInData(ds, at, DataSize(td))) return at;
  }
  DBAssert(source, line, who);
  return -1;
}

void DrawCellSelection(ObjHeap heap, int32 array, UHandle ds, const Rect& cell) {
  if (const int32 edges = ArrayEltLayout(heap, array, ds)) {
    DSelectNormPen(kSelectionColour, kBlackColour);
    DrawRectEdges(edges, &cell);
  }
}

void FollowPendingText(ObjHeap heap, int32 element, UHandle pending, int32 dh, int32 dv, const Rect& cell) {
  Rect text, meet;
  TGetRect(pending, &text, nullptr);
  DOffsetRect(&text, dh, dv);
  if (!DSectRect(&text, &cell, &meet)) return;
  TOffsetRect(pending, Point{int16(dv), int16(dh)});
  HeapStashText(heap, element);
}

CellWalkSaved BeginCellWalk() {
  CellWalkSaved s{gDDODrawEnabled, nullptr, 0, 0};
  gDDODrawEnabled = 0;
  SetTrackObject(nullptr, 0, &s.trackHeap, &s.trackObject, 1);
  TrackState(0, &s.trackState, 1);
  return s;
}

void EndCellWalk(const CellWalkSaved& s) {
  SetTrackObject(s.trackHeap, s.trackObject, nullptr, nullptr, 1);
  TrackState(s.trackState, nullptr, 1);
  gDDODrawEnabled = s.drawing;
}
