// Cursor records and the cursor list of graphs: the record's fields found
// through the private data block's descriptor, the list checked against its
// handle, the style and lock encodings, the marker table, the label font and
// measuring, and the defaults of a cursor a list write has made.
#include "controls/graphcursors.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "controls/ctlselect.h"
#include "engine/datamgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textrec.h"
#include "panel/editmsg.h"
#include "panel/graphstate.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "rtlib/panellocators.h"
#include "rtlib/vistrread.h"
#include "engine/vi/rtrsrc.h"

namespace {

constexpr int16 kPartText = 11;
constexpr int32 kArrayElementWord = 10, kClusterElementsWord = 10;
// The legend array's grid position of the cell being shown: column, row.
constexpr int32 kArrayCellColumnAt = 48, kArrayCellRowAt = 50;

uChar* FieldPtr(uChar* c, GraphCursorField f) { return c + GraphCursorFields()->at[f]; }
const uChar* FieldPtr(const uChar* c, GraphCursorField f) { return c + GraphCursorFields()->at[f]; }

template <typename T>
T Load(const uChar* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void Store(uChar* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// The default name: the format (a counted string) with the cell's number.
int32 FormatCellName(char* out, int32 capacity, const uChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int32 n = SPrintfv(out, capacity, reinterpret_cast<const char*>(fmt + 1), fmt[0], args);
  va_end(args);
  return n;
}

}  // namespace

const GraphCursorLayout* GraphCursorFields() {
  static const GraphCursorLayout layout = [] {
    GraphCursorLayout l{};
    l.size = GraphCursorRecordSize();
    for (int32 i = 0; i < kGCFieldCount; ++i)
      if ((l.at[i] = GraphCursorFieldAt(i)) < 0) l.size = 0;
    return l;
  }();
  return layout.size > 0 ? &layout : nullptr;
}

uInt32 CursorU32(const uChar* c, GraphCursorField f) { return Load<uInt32>(FieldPtr(c, f)); }
void SetCursorU32(uChar* c, GraphCursorField f, uInt32 v) { Store(FieldPtr(c, f), v); }
int16 CursorI16(const uChar* c, GraphCursorField f) { return Load<int16>(FieldPtr(c, f)); }
void SetCursorI16(uChar* c, GraphCursorField f, int16 v) { Store(FieldPtr(c, f), v); }
float64 CursorF64(const uChar* c, GraphCursorField f) { return Load<float64>(FieldPtr(c, f)); }
void SetCursorF64(uChar* c, GraphCursorField f, float64 v) { Store(FieldPtr(c, f), v); }
Bool32 CursorBool(const uChar* c, GraphCursorField f) { return *FieldPtr(c, f) != 0; }
void SetCursorBool(uChar* c, GraphCursorField f, Bool32 v) { *FieldPtr(c, f) = v ? 1 : 0; }
UHandle CursorName(const uChar* c) { return Load<UHandle>(FieldPtr(c, kGCName)); }
void SetCursorName(uChar* c, UHandle name) { Store(FieldPtr(c, kGCName), name); }

int32 CursorStyleFlags(int32 style) {
  if (style < 0 || style > 8) return -1;
  return ((style / 3) << 2) | (style % 3);
}
int32 CursorStyleOfFlags(uInt32 flags) {
  return 3 * int32((flags & kCursorHLineMask) >> 2) + int32(flags & kCursorVLineMask);
}

int32 CursorLockMode(uInt32 flags) {
  if (!(flags & kCursorSnapped)) return kCursorLockFree;
  return flags & kCursorLockedToPlot ? kCursorLockPlot : kCursorLockSnap;
}
uInt32 CursorFlagsWithLock(uInt32 flags, int32 mode) {
  if (mode < kCursorLockFree || mode > kCursorLockPlot) return flags;
  flags &= ~(kCursorSnapped | kCursorLockedToPlot);
  if (mode != kCursorLockFree) flags |= kCursorSnapped;
  if (mode == kCursorLockPlot) flags |= kCursorLockedToPlot;
  return flags;
}

CursorMarker CursorMarkerOf(int32 style) {
  static const CursorMarker kMarkers[] = {
      {kMarkFrameOval, kMarkExtraNone, -2, 3},   {kMarkPaintOval, kMarkExtraNone, -2, 3},
      {kMarkFrameOval, kMarkExtraInset, -2, 3},  {kMarkFrameOval, kMarkExtraCentre, -2, 3},
      {kMarkFrameRect, kMarkExtraNone, -2, 3},   {kMarkPaintRect, kMarkExtraNone, -2, 3},
      {kMarkFrameRect, kMarkExtraInset, -2, 3},  {kMarkFrameRect, kMarkExtraCentre, -2, 3},
      {kMarkPaintRect, kMarkExtraNone, -1, 2},   {kMarkPixel, kMarkExtraNone, 0, 1},
      {kMarkPlus, kMarkExtraNone, -2, 2},        {kMarkPlus, kMarkExtraNone, -1, 1},
      {kMarkCross, kMarkExtraNone, -2, 2},       {kMarkCross, kMarkExtraNone, -1, 1},
      {kMarkDiamond, kMarkExtraNone, -2, 2},     {kMarkFrameRect, kMarkExtraNone, -1, 2},
  };
  if (style < 4 || style > 19) return CursorMarker{kMarkNone, kMarkExtraNone, 0, 0};
  return kMarkers[style - 4];
}

UPtr GetGraphCursorList(ObjHeap heap, int32 graphData, int32* count) {
  if (count) *count = 0;
  const GraphCursorLayout* layout = GraphCursorFields();
  const TypeDescriptor* listTD = nullptr;
  UPtr field = layout && graphData ? GraphCursorListField(heap, graphData, &listTD) : nullptr;
  if (!field) return nullptr;
  UHandle list = Load<UHandle>(field);
  if (!list || !*list || !MemIsDSHandle(list)) return nullptr;
  const int32 size = DSGetHandleSize(list);
  const int32 n = size >= 4 ? int32(GetNative32(*list)) : 0;
  const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
  if (n <= 0 || int64(first) + int64(n) * layout->size > size) return nullptr;
  if (count) *count = n;
  return *list + first;
}

UPtr GraphCursorsOf(ObjHeap heap, int32 graph, int32* count) {
  if (count) *count = 0;
  if (!GraphDataOf(heap, graph)) return nullptr;
  return GetGraphCursorList(heap, ObjWord(heap, graph, kGraphDataWord), count);
}

int32 GetGraphCursorFont(ObjHeap heap, int32 graph) {
  const int32 legend = FindPart(heap, graph, kGPartCursorLegend, 0);
  const int32 element = legend ? ObjWord(heap, legend, kArrayElementWord) : 0;
  const int32 list = element && ObjClass(heap, element) == kClsCluster ? ObjWord(heap, element, kClusterElementsWord) : 0;
  for (int32 i = 0; list && i < ObjListCount(heap, list); ++i) {
    const int32 e = ObjListGet(heap, list, i);
    if (!e || ObjClass(heap, e) != kClsString) continue;
    if (TRecord text = PartTextRecord(heap, FindPart(heap, e, kPartText, 0))) return TGetFont(text);
    break;
  }
  return TModifyFont(TStandardFont(0), nullptr, 0, 0, 0, 0);
}

int32 MeasureCursorLabel(UPtr cursor, int32 font) {
  if (!cursor || !GraphCursorFields()) return 0;
  UHandle name = CursorName(cursor);
  const int32 n = VSLStrLen(name);
  const Rect empty{0, 0, 0, 0};
  const uInt32 mode = (CursorU32(cursor, kGCLabelMode) & kTRModeJustify) | kTRKindBox;
  TRecord text = TNew(&empty, mode, n ? VSLStrBytes(name) : nullptr, n, font, 0, 0xFFFFFF);
  if (!text) return 0;
  Rect box{0, 0, 0, 0};
  TGetRect(text, &box, nullptr);
  TDispose(text);
  const int16 width = int16(box.right - box.left), height = int16(box.bottom - box.top);
  const bool changed = width != CursorI16(cursor, kGCLabelWidth) || height != CursorI16(cursor, kGCLabelHeight);
  SetCursorI16(cursor, kGCLabelWidth, width);
  SetCursorI16(cursor, kGCLabelHeight, height);
  return changed && (CursorU32(cursor, kGCFlags) & kCursorShowLabel) ? 1 : 0;
}

int32 MeasureAllCursorLabels(ObjHeap heap, int32 graph, int32 /*unused*/, Bool32* changed) {
  if (changed) *changed = false;
  int32 n = 0;
  if (!GraphCursorsOf(heap, graph, &n) || n <= 0) return 0;
  const int32 font = GetGraphCursorFont(heap, graph);
  bool any = false;
  for (int32 i = 0; i < n; ++i) {
    // Measuring makes text records: the list is found again for each one.
    int32 count = 0;
    UPtr list = GraphCursorsOf(heap, graph, &count);
    if (!list || i >= count) break;
    any |= MeasureCursorLabel(list + i * GraphCursorFields()->size, font) != 0;
  }
  TDisposeFont(font);
  if (changed) *changed = any;
  return 0;
}

int32 InitNewGraphCursor(ObjHeap heap, int32 graph, int32 legendElement, UPtr cursor) {
  if (!cursor || !GraphCursorFields()) return 0;
  // 1. A nameless cursor is named after its legend cell: the column when
  // not 0, else the row, counted from the first visible cell.
  UHandle name = CursorName(cursor);
  if (VSLStrLen(name) == 0) {
    const int32 legend = legendElement && OHIsUsedBlock(heap, legendElement)
                             ? int32(GetNative32(*heap + legendElement + kObjOwner))
                             : 0;
    int32 cell = 0;
    if (legend > 0 && OHIsUsedBlock(heap, legend) && OHBlockSize(heap, legend) >= kArrayCellRowAt + 2) {
      const int32 column = ObjInt16(heap, legend, kArrayCellColumnAt);
      cell = column ? column : ObjInt16(heap, legend, kArrayCellRowAt);
    }
    Str255 fmt;
    if (RGetIndString(RunTimeRsrcFile(), fmt, kGraphStringsList, kGraphStringCursor) != kNoErr) fmt[0] = 0;
    char text[256];
    const int32 len = FormatCellName(text, int32(sizeof text), fmt, cell);
    const int32 bytes = 4 + (len > 0 ? std::min<int32>(len, int32(sizeof text)) : 0);
    MgErr e = kNoErr;
    if (!name || !MemIsDSHandle(name)) {
      name = DSNewHandle(bytes);
      if (!name) e = kMemFullErr;
      else SetCursorName(cursor, name);
    } else {
      e = DSSetHandleSize(name, bytes);
    }
    if (e == kNoErr) {
      PutNative32(*name, uInt32(bytes - 4));
      std::memcpy(*name + 4, text, size_t(bytes - 4));
    }
  }
  // 2.
  SetCursorU32(cursor, kGCFlags, CursorU32(cursor, kGCFlags) & ~kCursorNew);
  // 3.
  UpdateCursorPixel(heap, graph, cursor, -2);
  // 4. The label above the centre, measured in the cursor font.
  SetCursorU32(cursor, kGCLabelMode, kCursorLabelModeInit);
  SetCursorI16(cursor, kGCLabelV, int16(CursorI16(cursor, kGCV) - kCursorLabelRise));
  SetCursorI16(cursor, kGCLabelH, CursorI16(cursor, kGCH));
  SetCursorI16(cursor, kGCLabelHeight, 0);
  SetCursorI16(cursor, kGCLabelWidth, 0);
  const int32 font = GetGraphCursorFont(heap, graph);
  MeasureCursorLabel(cursor, font);
  TDisposeFont(font);
  // 5.
  const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
  if (area) {
    Rect plot;
    std::memcpy(&plot, *heap + area + kObjBounds, sizeof plot);
    InvalCursorArea(cursor, &plot, int32(CursorU32(cursor, kGCPointStyle)), int32(CursorU32(cursor, kGCFlags)));
  }
  if (legendElement && OHIsUsedBlock(heap, legendElement)) OInval(heap, legendElement, kInvalAll);
  return 0;
}

int32 GraphCursorsFontMsg(ObjHeap heap, int32 graph, int32 code) {
  if ((code != kEditFont && code != kEditRefit) || IsChartType(GraphTypeOf(heap, graph))) return 0;
  Bool32 changed = false;
  MeasureAllCursorLabels(heap, graph, 0, &changed);
  if (changed) OInval(heap, graph, kInvalAll);
  return 0;
}
