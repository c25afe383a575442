// Graph, chart, intensity graph and intensity chart properties.  Each set's
// numbers are mapped onto one list of property rows shared by the four
// sets; a row reads or writes the graph's fields and answers with the
// reply flags its caller redraws by.
#include "controls/graphattr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/cursorattr.h"
#include "controls/graph.h"
#include "controls/graphfill.h"
#include "controls/graphintensity.h"
#include "controls/graphsupport.h"
#include "controls/scaleattr.h"
#include "controls/scaleobj.h"
#include "engine/datasupp.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "panel/attrtd.h"
#include "panel/blink.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/fpexec.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "rtlib/arraysize.h"
#include "rtlib/arrayxform.h"
#include "rtlib/chartdata.h"

namespace {

const char kSource[] = "graphattr";

constexpr int32 kTableIChart = 7, kTableChart = 9, kTableGraph = 10, kTableCursors = 16, kTableIGraph = 17;
constexpr uInt32 kFlagStacked = 0x80000, kFlagPlotsChanged = 0x100000, kZIgnoreColorArray = 0x100000;
constexpr int32 kReplyState = 0x10000, kReplyRedrawn = 0x20000, kReplyCosmetic = 0x100;
constexpr int32 kPartDataDisplay = 8001, kPartColourLow = 8013, kPartColourHigh = 8012;

// ---- Descriptors ------------------------------------------------------------------------
using namespace attrtd;
Bytes U32() { return Num(kTDU32); }
Bytes U8() { return Num(kTDU8); }
Bytes Dbl() { return Num(kTDDBL); }
Bytes SizePair() { return N(Clu({N(U32(), "Width"), N(U32(), "Height")}), "Plot Area Size"); }
Bytes AreaColours() { return N(Clu({N(U32(), "FG Color"), N(U32(), "BG Color")}), "Plot Area Colors"); }
Bytes GridColours() { return N(Clu({N(U32(), "X Color"), N(U32(), "Y Color")}), "Grid Colors"); }
// The scale-info cluster of an axis ("X" or "Y").
Bytes ScaleInfo(const std::string& a) {
  auto n = [&](const char* rest) { return a + rest; };
  return N(Clu({N(U8(), n(" Scale Fit").c_str()),
                N(Clu({N(Dbl(), n("o").c_str()), N(Dbl(), ("delta " + a).c_str())}), n("o and delta ").append(a).c_str()),
                N(U8(), n(" Style").c_str()),
                N(Clu({N(U8(), n(" Format").c_str()), N(U8(), n(" Precision").c_str())}),
                  n(" Format & Precision").c_str()),
                N(Clu({N(Dbl(), n(" Minimum").c_str()), N(Dbl(), n(" Maximum").c_str()),
                       N(Dbl(), n(" Increment").c_str())}),
                  n(" Range").c_str()),
                N(Bool(), n(" Flipped").c_str()), N(U8(), n(" Mapping Mode").c_str()),
                N(Bool(), n(" Editable").c_str())}),
           n(" Scale Info").c_str());
}
// The Z scale's members have the X scale's layout inside the colour scale.
Bytes ZScaleInfo() {
  return Clu({Bool(), U32(), U32(), Arr(Clu({Dbl(), U32()})), U8(), Clu({Dbl(), Dbl()}), U8(), Clu({U8(), U8()}),
              Clu({Dbl(), Dbl(), Dbl()}), Bool(), U8(), Bool()});
}
Bytes PlotInfo() {
  return N(Clu({N(U32(), "Plot Color"), N(U8(), "Plot Interpolation"), N(U8(), "Point Style"),
                N(U8(), "Line Style"), N(U32(), "Fill/Pt. Color"), N(U8(), "Line Width"),
                N(U8(), "Bar Plot Style"), N(Num(kTDI16), "Fill To")}),
           "Plot Info");
}
Bytes CursorCluster() {
  return Clu({Str(), U32(), U8(), U8(), Bool(), Bool(), U32(), U32(), Num(kTDI32), Clu({Dbl(), Dbl()})});
}
Bytes Visible(const char* name) { return N(Bool(), name); }

const Bytes& GraphBytes() {
  static const Bytes t = Clu({SizePair(), Visible("Legend Visible"), Visible("Palette Visible"),
                              Visible("Transpose Array"), Visible("Smooth Updates"), AreaColours(), GridColours(),
                              ScaleInfo("X"), ScaleInfo("Y"), N(U32(), "Active Plot"), N(Str(), "Plot Name"),
                              PlotInfo()});
  return t;
}
const Bytes& ChartBytes() {
  static const Bytes t = Clu({SizePair(), Visible("Legend Visible"), Visible("Palette Visible"),
                              Visible("Scrollbar Visible"), Visible("Dig Display(s) Visible"),
                              Visible("Transpose Array"), AreaColours(), GridColours(), ScaleInfo("X"),
                              ScaleInfo("Y"), N(U32(), "Active Plot"), N(Str(), "Plot Name"), PlotInfo(),
                              N(U8(), "Update Mode")});
  return t;
}
const Bytes& IGraphBytes() {
  static const Bytes t = Clu({SizePair(), Bool(), Visible("Palette Visible"), Visible("Transpose Array"),
                              Visible("Smooth Updates"), AreaColours(), GridColours(), ScaleInfo("X"),
                              ScaleInfo("Y"), ZScaleInfo(), Visible("Ignore Color Array"), Arr(U32())});
  return t;
}
const Bytes& IChartBytes() {
  static const Bytes t = Clu({SizePair(), Bool(), Visible("Palette Visible"), Visible("Scrollbar Visible"),
                              Visible("Transpose Array"), AreaColours(), GridColours(), ScaleInfo("X"),
                              ScaleInfo("Y"), ZScaleInfo(), Visible("Ignore Color Array"), Arr(U32()),
                              N(U8(), "Update Mode"), N(Arr(Dbl(), 2), "History Data")});
  return t;
}
const Bytes& CursBytes() {
  static const Bytes t = Clu({U32(), CursorCluster(), Arr(CursorCluster()), Arr(U32())});
  return t;
}
const TypeDescriptor* AsTD(const Bytes& b) { return reinterpret_cast<const TypeDescriptor*>(b.data()); }

// ---- Rows shared by the sets ------------------------------------------------------------
enum Row : int32 {
  kRowNone,
  kRowSize,          // sub 0..2
  kRowLegend,
  kRowPalette,
  kRowScrollbar,
  kRowDigDisplays,
  kRowZVisible,
  kRowTranspose,
  kRowSmooth,
  kRowPlotColours,   // sub 0..2
  kRowGridColours,   // sub 0..2
  kRowXInfo,         // sub 0..15
  kRowYInfo,         // sub 0..15
  kRowPlot,          // sub 0..10
  kRowZInfo,         // sub 0..19
  kRowIgnoreColours,
  kRowColourTable,
  kRowUpdateMode,
  kRowHistory,
};
struct RowAt {
  Row row;
  int32 sub;
};
// One run of numbers of a set: its first number, its length and its row.
struct Span {
  int32 first;
  int32 length;
  Row row;
};
RowAt Find(const Span* spans, int32 n, int32 index) {
  for (int32 i = 0; i < n; ++i)
    if (index >= spans[i].first && index < spans[i].first + spans[i].length)
      return RowAt{spans[i].row, index - spans[i].first};
  return RowAt{kRowNone, 0};
}
constexpr Span kGraphSpans[] = {{0, 3, kRowSize},           {3, 1, kRowLegend},      {4, 1, kRowPalette},
                                {5, 1, kRowTranspose},      {6, 1, kRowSmooth},      {7, 3, kRowPlotColours},
                                {10, 3, kRowGridColours},   {13, 16, kRowXInfo},     {29, 16, kRowYInfo},
                                {45, 11, kRowPlot}};
constexpr Span kChartSpans[] = {{0, 3, kRowSize},          {3, 1, kRowLegend},       {4, 1, kRowPalette},
                                {5, 1, kRowScrollbar},     {6, 1, kRowDigDisplays},  {7, 1, kRowTranspose},
                                {8, 3, kRowPlotColours},   {11, 3, kRowGridColours}, {14, 16, kRowXInfo},
                                {30, 16, kRowYInfo},       {46, 11, kRowPlot},       {57, 1, kRowUpdateMode},
                                {58, 1, kRowHistory}};
constexpr Span kIGraphSpans[] = {{0, 3, kRowSize},          {3, 1, kRowZVisible},     {4, 1, kRowPalette},
                                 {5, 1, kRowTranspose},     {6, 1, kRowSmooth},       {7, 3, kRowPlotColours},
                                 {10, 3, kRowGridColours},  {13, 16, kRowXInfo},      {29, 16, kRowYInfo},
                                 {45, 20, kRowZInfo},       {65, 1, kRowIgnoreColours}, {66, 1, kRowColourTable}};
constexpr Span kIChartSpans[] = {{0, 3, kRowSize},          {3, 1, kRowZVisible},     {4, 1, kRowPalette},
                                 {5, 1, kRowScrollbar},     {6, 1, kRowTranspose},    {7, 3, kRowPlotColours},
                                 {10, 3, kRowGridColours},  {13, 16, kRowXInfo},      {29, 16, kRowYInfo},
                                 {45, 20, kRowZInfo},       {65, 1, kRowIgnoreColours}, {66, 1, kRowColourTable},
                                 {67, 1, kRowUpdateMode},   {68, 1, kRowHistory}};

struct Call {
  ObjHeap heap;
  int32 object;
  AttrCallRec* rec;
  const TypeDescriptor* td;
  void* value;
  int32 table;
  bool read() const { return rec->read != 0; }
  int32 immediate() const { return int32(rec->last); }
  int32 deferred() const { return int32(rec->words[0]); }
  int32 second() const { return int32(rec->words[1]); }
};

uInt32 FlagsOf(ObjHeap heap, int32 o) { return ctrl::Flags(heap, o); }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) { ctrl::SetFlags(heap, o, f); }
int32 TypeOf(const Call& c) { return GraphTypeOf(c.heap, c.object); }
int32 ActivePlot(ObjHeap heap, int32 object) { return ObjInt16(heap, object, kGraphActivePlotByte); }

int32 ReadBool(const Call& c, bool on) {
  AttrPutBool(c.td, c.value, on);
  return 0;
}
bool TakeBool(const Call& c, bool* on) { return AttrGetBool(c.td, c.value, on); }
bool TakeI32(const TypeDescriptor* td, const void* v, int32* out) { return AttrPutNum(td, v, kTDI32, out); }

GraphData* DataOrAssert(ObjHeap heap, int32 object) {
  GraphData* d = GraphDataOf(heap, object);
  if (!d) DBAssert(kSource, __LINE__, "graph without its data block");
  return d;
}

// The plot-area order a chart's size row addresses: with stacked plots the
// active plot's slot, else 0; -1 when a set must not run.
int32 ChartAreaOrder(const Call& c) {
  if (!(FlagsOf(c.heap, c.object) & kFlagStacked)) return 0;
  const GraphData* d = GraphDataOf(c.heap, c.object);
  int32 plots = 0;
  if (d) GraphPlots(d, &plots);
  const int32 active = ActivePlot(c.heap, c.object);
  if (active < 0 || active >= plots) return c.read() ? 0 : -1;
  return std::min(active, GraphPlotBounds(c.heap, c.object, nullptr));
}

int32 SizeRow(const Call& c, int32 sub) {
  int32 order = 0;
  if (c.table == kTableChart) order = ChartAreaOrder(c);
  if (order < 0) return 0;
  if (c.read()) return GetPartSizeAttr(c.heap, c.object, kGPartPlotArea, order, sub, c.td, c.value);
  return SetPartSizeAttr(c.heap, c.object, kGPartPlotArea, order, sub, c.td, c.value, c.rec);
}

int32 VisibleRow(const Call& c, int32 partId) {
  if (c.read()) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, partId));
  return SetPartVisibleAttr(c.heap, c.object, partId, c.td, c.value);
}

// The graph's value descriptor and the kind of the value it shows.
GraphDataKind KindOf(const Call& c) {
  const TypeDescriptor* td = TypeIDGetTD(c.heap, TypeID(ctrl::WordOr0(c.heap, c.object, kPWDDOTypeId)), 0);
  if (!td) return kKindNone;
  const TypeDescriptor* handed = SkipTypedefs(td);
  return handed ? ClassifyGraphData(c.heap, c.object, &handed) : kKindNone;
}

void* ValueOf(ObjHeap heap, int32 object) {
  return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
}

int32 Redraw(const Call& c, int32 allowAutoscale) {
  return AttrRedraw(c.heap, c.object, c.immediate(), c.deferred(), c.second(), allowAutoscale);
}

int32 TransposeRow(const Call& c) {
  const int32 type = TypeOf(c);
  if (c.table == kTableGraph) {
    const GraphDataKind kind = KindOf(c);
    const bool applies = kind == kKindWave2D || kind == kKindWave2DScaled;
    if (c.read()) return ReadBool(c, applies && type == kGraphWaveformTransposed);
    bool on = false;
    if (!applies || !TakeBool(c, &on) || on == (type == kGraphWaveformTransposed)) return 0;
    PutNative16(*c.heap + c.object + kPanelGraphKindByte, uInt16(on ? kGraphWaveformTransposed : kGraphWaveform));
    return Redraw(c, 1);
  }
  if (c.table == kTableIGraph) {
    if (c.read()) return ReadBool(c, type == kGraphIntensityTransposed);
    bool on = false;
    if (!TakeBool(c, &on) || on == (type == kGraphIntensityTransposed)) return 0;
    PutNative16(*c.heap + c.object + kPanelGraphKindByte, uInt16(on ? kGraphIntensityTransposed : kGraphIntensity));
    OInval(c.heap, c.object, kInvalAll);
    return kReplyState | kReplyRedrawn;
  }
  // Charts: bit 0 clear while on; intensity charts: bit 0 set while on.
  GraphData* d = DataOrAssert(c.heap, c.object);
  if (!d) return 0;
  const bool setMeansOn = c.table == kTableIChart;
  const bool current = setMeansOn ? (d->transpose & 1) : !(d->transpose & 1);
  if (c.read()) return ReadBool(c, current);
  bool on = false;
  if (!TakeBool(c, &on) || on == current) return 0;
  d->transpose ^= 1;
  ClearGraphData(c.heap, c.object, ValueOf(c.heap, c.object));
  return kReplyState | kReplyRedrawn;
}

int32 GridRow(const Call& c, int32 sub) {
  if (!c.read()) return GridColorsAttrSet(c.heap, c.object, sub, c.td, c.value, c.rec);
  AttrPair pair;
  if (!AttrSplitPair(c.td, c.value, sub, &pair)) return 0;
  const uInt32 v[2] = {uInt32(ctrl::WordOr0(c.heap, c.object, kGraphXGridColorWord)),
                       uInt32(ctrl::WordOr0(c.heap, c.object, kGraphYGridColorWord))};
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], kTDU32, &v[k]);
  return 0;
}

int32 ScaleInfoRow(const Call& c, int32 partId, int32 sub) {
  if (c.read()) return ScaleInfoAttrGet(c.heap, c.object, sub, c.td, c.value, partId, 0);
  const int32 reply =
      ScaleInfoAttrSet(c.heap, c.object, sub, c.td, c.value, partId, 0, c.immediate(), c.deferred(), c.second());
  // A scale that changed is the part the caller redraws.
  if (reply & (kScaleReplyMarkers | kScaleReplyArrayEnds)) {
    c.rec->partId = partId;
    c.rec->partOrder = 0;
  }
  return reply;
}

int32 ZVisibleRow(const Call& c) {
  if (c.read()) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, kGPartZRamp));
  int32 reply = 0;
  for (int32 id : {int32(kGPartZRamp), kPartColourLow, kPartColourHigh, int32(kGPartZScale)})
    reply |= SetPartVisibleAttr(c.heap, c.object, id, c.td, c.value);
  return reply;
}

int32 ZInfoRow(const Call& c, int32 sub) {
  if (c.read()) return ColorScaleAttrGet(c.heap, c.object, kGPartZScale, 0, sub, c.td, c.value);
  const int32 reply =
      ColorScaleAttrSet(c.heap, c.object, kGPartZScale, 0, sub, c.td, c.value, c.deferred(), c.second());
  if (reply && !(reply & kAttrReplyMemFull)) {
    c.rec->partId = kGPartZScale;
    c.rec->partOrder = 0;
  }
  return reply;
}

int32 IgnoreColoursRow(const Call& c) {
  const int32 z = FindPart(c.heap, c.object, kGPartZScale, 0);
  if (!ctrl::IsObj(c.heap, z)) return 0;
  const uInt32 f = FlagsOf(c.heap, z);
  if (c.read()) return ReadBool(c, f & kZIgnoreColorArray);
  bool on = false;
  if (!TakeBool(c, &on) || on == bool(f & kZIgnoreColorArray)) return 0;
  SetFlagsOf(c.heap, z, f ^ kZIgnoreColorArray);
  if (!on) {
    // The scale's range follows the first and last colour markers again.
    if (const ScaleRec* r = ScaleRecOf(c.heap, z)) {
      if (r->markers && DSCheckHandle(r->markers) == kNoErr && DSGetHandleSize(r->markers) >= 4) {
        const int32 n = std::clamp<int32>(int32(GetNative32(*r->markers)), 0,
                                          (DSGetHandleSize(r->markers) - 4) / kScaleMarkerEntry);
        if (n >= 1) {
          float64 lo, hi;
          std::memcpy(&lo, *r->markers + 4, 8);
          std::memcpy(&hi, *r->markers + 4 + kScaleMarkerEntry * (n - 1), 8);
          Bool32 changed = 0;
          CalcScaleMarkers(c.heap, z, lo, hi, 0, 0, &changed);
        }
      }
    }
    BuildColorTable(c.heap, c.object);
  }
  c.rec->partId = 0;
  c.rec->partOrder = 0;
  const ScaleRedrawRequest request{kGPartZScale, 0};
  RedrawZScale(c.heap, c.object, &request, 0, 0, 0);
  return kReplyState | kReplyRedrawn;
}

int32 ColourTableRow(const Call& c) {
  if (!c.td || c.td->code != kTDArray) return 0;
  // Colours are 32-bit words both ways: an array of anything else would be
  // left holding a count of elements of another size.
  const TypeDescriptor* elem = ArrayElem(SkipTypedefs(c.td));
  if (!elem || DataSize(elem) != 4) return 0;
  auto* cell = static_cast<UHandle*>(c.value);
  if (c.read()) return ColorTableAttrGet(c.heap, c.object, cell);
  if (!ColorTableAttrSet(c.heap, c.object, c.td, *cell)) return 0;
  c.rec->partId = 0;
  c.rec->partOrder = 0;
  const ScaleRedrawRequest request{kGPartZScale, 0};
  RedrawZScale(c.heap, c.object, &request, 0, 0, 0);
  return kReplyState | kReplyRedrawn;
}

int32 UpdateModeRow(const Call& c) {
  const int32 type = TypeOf(c);
  if (c.read()) {
    const int32 mode = (type == 103 || type == 106) ? 0 : (type == 102 || type == 105) ? 1 : 2;
    AttrGetNum(c.td, c.value, kTDI32, &mode);
    return 0;
  }
  int32 v = 0;
  if (!TakeI32(c.td, c.value, &v)) return 0;
  // Items 1..3; any other value keeps the type.
  const int32 item = v >= 0 && v <= 2 ? v + 1 : 0;
  return SetChartUpdateMode(c.heap, c.object, item, c.deferred(), !c.immediate());
}

int32 HistoryRow(const Call& c) {
  if (!c.td || c.td->code != kTDArray) return 0;
  auto* cell = static_cast<UHandle*>(c.value);
  if (c.read()) return ChartHistoryGet(c.heap, c.object, c.td, cell);
  return ChartHistorySet(c.heap, c.object, c.td, *cell, c.immediate(), c.deferred(), c.second());
}

int32 RunRow(const Call& c, RowAt at) {
  switch (at.row) {
    case kRowSize: return SizeRow(c, at.sub);
    case kRowLegend: return VisibleRow(c, kGPartPlotLegend);
    case kRowScrollbar: return VisibleRow(c, kGPartChartScrollbar);
    case kRowPalette: {
      if (c.read()) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, kGPartPaletteFirst));
      bool on = false;
      if (!TakeBool(c, &on)) return 0;
      const int32 wanted = on;
      return SetPaletteVisible(c.heap, c.object, &wanted);
    }
    case kRowDigDisplays: {
      if (c.read()) return ReadBool(c, !PartIdAllHidden(c.heap, c.object, kPartDataDisplay));
      bool on = false;
      if (!TakeBool(c, &on)) return 0;
      const bool hidden = PartIdAllHidden(c.heap, c.object, kPartDataDisplay);
      const int32 reply = SetPartVisibleAttr(c.heap, c.object, kPartDataDisplay, c.td, c.value);
      // Shown first, then the displays past the plot count hidden again.
      if (on && hidden) HideExtraDigitalDisplays(c.heap, c.object, 0, 0, 0);
      return reply;
    }
    case kRowZVisible: return ZVisibleRow(c);
    case kRowTranspose: return TransposeRow(c);
    case kRowSmooth: {
      const uInt32 f = FlagsOf(c.heap, c.object);
      if (c.read()) return ReadBool(c, f & kGraphFlagSmooth);
      bool on = false;
      if (TakeBool(c, &on) && on != bool(f & kGraphFlagSmooth)) SetFlagsOf(c.heap, c.object, f ^ kGraphFlagSmooth);
      return 0;
    }
    case kRowPlotColours:
      if (c.read()) return GetPartColorsAttr(c.heap, c.object, kGPartPlotArea, 0, at.sub, c.td, c.value);
      return SetPartColorsAttr(c.heap, c.object, kGPartPlotArea, 0, at.sub, c.td, c.value, c.rec);
    case kRowGridColours: return GridRow(c, at.sub);
    case kRowXInfo: return ScaleInfoRow(c, kGPartXScale, at.sub);
    case kRowYInfo: return ScaleInfoRow(c, kGPartYScale, at.sub);
    case kRowPlot: {
      const int32 active = ActivePlot(c.heap, c.object);
      if (c.read()) return PlotInfoAttrGet(c.heap, c.object, c.td, c.value, at.sub, active);
      return PlotInfoAttrSet(c.heap, c.object, c.td, c.value, at.sub, active, c.immediate(), c.deferred(),
                             c.second());
    }
    case kRowZInfo: return ZInfoRow(c, at.sub);
    case kRowIgnoreColours: return IgnoreColoursRow(c);
    case kRowColourTable: return ColourTableRow(c);
    case kRowUpdateMode: return UpdateModeRow(c);
    case kRowHistory: return HistoryRow(c);
    case kRowNone: break;
  }
  return -1;
}

int32 RunSet(ObjHeap heap, int32 object, AttrCallRec* rec, int32 table, const Span* spans, int32 n,
             const char* name) {
  if (!rec) return 0;
  const int32 index = rec->selector;
  const RowAt at = Find(spans, n, index);
  const Call c{heap, object, rec, AttrValueTD(rec), rec->value, table};
  int32 reply = at.row == kRowNone ? -1 : RunRow(c, at);
  if (reply == -1) {
    DBPrintf("bad index in %s %ld", name, long(index));
    DBAssert(kSource, __LINE__, "property index no row takes");
    reply = 0;
  }
  return reply;
}

}  // namespace

// ---- The sets ------------------------------------------------------------------------------

int32 GraphAttr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  return RunSet(heap, object, rec, kTableGraph, kGraphSpans, int32(std::size(kGraphSpans)), "graphattr");
}
int32 ChartAttr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  return RunSet(heap, object, rec, kTableChart, kChartSpans, int32(std::size(kChartSpans)), "chartattr");
}
int32 IGraphAttr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  return RunSet(heap, object, rec, kTableIGraph, kIGraphSpans, int32(std::size(kIGraphSpans)), "igraphattr");
}
int32 IChartAttr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  return RunSet(heap, object, rec, kTableIChart, kIChartSpans, int32(std::size(kIChartSpans)), "ichartattr");
}

int32 CursAttr(ObjHeap heap, int32 object, AttrCallRec* rec) {
  if (!rec) return 0;
  const int32 sub = rec->selector;
  if (sub < 0 || sub > 15) {
    DBPrintf("bad index in cursattr %ld", long(sub));
    DBAssert(kSource, __LINE__, "cursor property index");
    return 0;
  }
  const TypeDescriptor* td = AttrValueTD(rec);
  const GraphData* d = GraphDataOf(heap, object);
  if (!td || !d) return 0;
  const int32 active = d->activeCursor;
  if (rec->read) return GetCursorAttr(heap, object, td, rec->value, sub, active);
  return SetCursorAttr(heap, object, td, rec->value, sub, active, rec->hidden != 0,
                       int32(rec->words[0]) != 0);
}

const TypeDescriptor* GraphAttrTable() { return AsTD(GraphBytes()); }
const TypeDescriptor* ChartAttrTable() { return AsTD(ChartBytes()); }
const TypeDescriptor* IGraphAttrTable() { return AsTD(IGraphBytes()); }
const TypeDescriptor* IChartAttrTable() { return AsTD(IChartBytes()); }
const TypeDescriptor* CursAttrTable() { return AsTD(CursBytes()); }

void ControlsInstallGraphAttr() {
  SetAttrTable(kTableGraph, GraphAttrTable(), &GraphAttr);
  SetAttrTable(kTableChart, ChartAttrTable(), &ChartAttr);
  SetAttrTable(kTableIGraph, IGraphAttrTable(), &IGraphAttr);
  SetAttrTable(kTableIChart, IChartAttrTable(), &IChartAttr);
  SetAttrTable(kTableCursors, CursAttrTable(), &CursAttr);
}

// ---- Redraw --------------------------------------------------------------------------------

int32 AttrRedraw(ObjHeap heap, int32 object, int32 immediate, int32 deferred, int32 second, int32 allowAutoscale) {
  if (!ctrl::IsObj(heap, object)) return 0;
  if (deferred || (FlagsOf(heap, object) & kGraphFlagHidden)) return kReplyState;
  if (immediate && !second) {
    int32 blink = 4;
    if (ObjIsBlinking(heap, object)) blink = BlinkState().phase == kBlinkPhaseBlink ? 1 : 2;
    return kReplyState | DrawPlotArea(heap, object, ValueOf(heap, object), 0, 0, blink, allowAutoscale);
  }
  OInval(heap, object, kInvalAll);
  return kReplyState | kReplyRedrawn;
}

void InvalLegendRow(ObjHeap heap, int32 object, int32 plot, int32 what) {
  const int32 legend = ctrl::IsObj(heap, object) ? FindPart(heap, object, kGPartPlotLegend, 0) : 0;
  if (!ctrl::IsObj(heap, legend) || ctrl::Hidden(heap, legend) || !ctrl::Ext(heap, kHeapExtWindow)) return;
  Rect sample{0, 0, 0, 0}, name{0, 0, 0, 0};
  PlotLegendRowRect(heap, object, plot, &sample, &name);
  if (what & 2) InvalPanelRect(heap, &sample);
  if (what & 1) InvalPanelRect(heap, &name);
}

// ---- Plot info -------------------------------------------------------------------------------

namespace {

constexpr int8 kPlotKids[11] = {0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr int32 kFillBar = 109, kFillTarget = 110;

// Members 3..10 of a "Plot Info" value, or the one member asked for.
template <class Leaf>
void PlotMembers(int32 index, const TypeDescriptor* td, void* value, Leaf&& leaf) {
  if (!td || !value) return;
  td = SkipTypedefs(td);
  if (!td) return;
  if (index != 2) {
    leaf(index, td, static_cast<uChar*>(value));
    return;
  }
  if (td->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) < kPlotKids[2]) return;
  int32 at = int32(uintptr_t(value));
  for (int32 i = 0; i < kPlotKids[2]; ++i) {
    const TypeDescriptor* el = SkipTypedefs(ElemTD(td, i));
    if (!el) return;
    at = AlignDatum(el, at);
    leaf(3 + i, el, reinterpret_cast<uChar*>(uintptr_t(uInt32(at))));
    at += DataSize(el);
  }
}

int32 FillToOf(int32 code) { return code <= 3 ? -1 - code : code - 4; }

bool StringOf(const TypeDescriptor* td, const void* value, const uChar** bytes, int32* n) {
  if (!td || td->code != kTDString || !value) return false;
  const UHandle h = *static_cast<const UHandle*>(value);
  *bytes = nullptr;
  *n = 0;
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr || DSGetHandleSize(h) < 4) return false;
  *n = std::clamp<int32>(int32(GetNative32(*h)), 0, DSGetHandleSize(h) - 4);
  *bytes = *h + 4;
  return true;
}

}  // namespace

int32 PlotInfoAttrGet(ObjHeap heap, int32 object, const TypeDescriptor* td, void* value, int32 index, int32 plot) {
  if (index == 0) {
    AttrGetNum(td, value, kTDI32, &plot);
    return 0;
  }
  const GraphData* d = DataOrAssert(heap, object);
  if (!d) return 0;
  int32 count = 0;
  PlotRec* plots = GraphPlots(d, &count);
  const PlotRec* p = plots && plot >= 0 && plot < count ? &plots[plot] : nullptr;
  if (index == 1) {
    const TypeDescriptor* t = SkipTypedefs(td);
    if (!t || t->code != kTDString || !value) return 0;
    const uChar* bytes = nullptr;
    int32 n = 0;
    if (p && p->name && DSCheckHandle(p->name) == kNoErr && DSGetHandleSize(p->name) >= 4) {
      n = std::clamp<int32>(int32(GetNative32(*p->name)), 0, DSGetHandleSize(p->name) - 4);
      bytes = *p->name + 4;
    }
    std::vector<uChar> copy(bytes, bytes + n);
    auto* cell = static_cast<ArrayHandle*>(value);
    if (!ClearOutput(value, 1)) return 0;
    if (HandleVectorResize(cell, n) != kNoErr) return kAttrReplyMemFull;
    if (*cell && n) std::memcpy(reinterpret_cast<uChar*>(**cell) + 4, copy.data(), size_t(n));
    return 0;
  }
  PlotMembers(index, td, value, [&](int32 k, const TypeDescriptor* t, uChar* v) {
    int32 x = 0;
    switch (k) {
      case 3: x = p ? p->lineColor : 0xFFFFFF; break;
      case 4: x = p ? p->interpolation : 2; break;
      case 5: x = p && p->pointStyle ? p->pointStyle - 3 : 0; break;
      case 6: x = p ? p->lineStyle : 0; break;
      case 7: x = p ? int32(p->pointColor) : 0xFFFFFF; break;
      case 8: x = p ? p->lineWidth : 1; break;
      case 9: x = GetFillStyleField(p ? p->fillStyle : 0, kFillBar); break;
      case 10: x = FillToOf(GetFillStyleField(p ? p->fillStyle : 0, kFillTarget)); break;
      default: return;
    }
    AttrGetNum(t, v, kTDI32, &x);
  });
  return 0;
}

int32 PlotInfoAttrSet(ObjHeap heap, int32 object, const TypeDescriptor* td, void* value, int32 index, int32 plot,
                      int32 immediate, int32 deferred, int32 second) {
  if (index == 0) {
    int32 v = 0;
    if (TakeI32(td, value, &v)) PutNative16(*heap + object + kGraphActivePlotByte, uInt16(v));
    return 0;
  }
  GraphData* d = DataOrAssert(heap, object);
  if (!d) return 0;
  int32 count = 0;
  PlotRec* plots = GraphPlots(d, &count);
  if (!plots || plot < 0 || plot >= count) return 0;
  if (index == 1) {
    const uChar* bytes = nullptr;
    int32 n = 0;
    if (!StringOf(SkipTypedefs(td), value, &bytes, &n)) return 0;
    PlotRec* p = &plots[plot];
    int32 had = -1;
    if (p->name && DSCheckHandle(p->name) == kNoErr && DSGetHandleSize(p->name) >= 4)
      had = std::clamp<int32>(int32(GetNative32(*p->name)), 0, DSGetHandleSize(p->name) - 4);
    if (had == n && (!n || std::memcmp(*p->name + 4, bytes, size_t(n)) == 0)) return 0;
    std::vector<uChar> copy(bytes, bytes + n);
    UHandle name = had >= 0 ? p->name : DSNewHandle(4);
    if (!name || DSSetHandleSize(name, 4 + n) != kNoErr) return kAttrReplyMemFull;
    // The data block may have moved with the resize.
    d = GraphDataOf(heap, object);
    plots = d ? GraphPlots(d, &count) : nullptr;
    if (!plots || plot >= count) return kAttrReplyMemFull;
    plots[plot].name = name;
    PutNative32(*name, uInt32(n));
    if (n) std::memcpy(*name + 4, copy.data(), size_t(n));
    InvalLegendRow(heap, object, plot, 1);
    return kReplyState;
  }
  const bool stacked = FlagsOf(heap, object) & kFlagStacked;
  const int32 type = GraphTypeOf(heap, object);
  bool changed = false;
  PlotRec* p = &plots[plot];
  PlotMembers(index, td, value, [&](int32 k, const TypeDescriptor* t, uChar* v) {
    int32 x = 0;
    if (!TakeI32(t, v, &x)) return;
    auto store16 = [&](int16& field, int32 nv) {
      if (field != nv) field = int16(nv), changed = true;
    };
    switch (k) {
      case 3:
        if (uInt32(x) <= uInt32(kNoColor) && p->lineColor != x) p->lineColor = x, changed = true;
        break;
      case 4: if (x >= 0 && x <= 3) store16(p->interpolation, x); break;
      case 5: {
        const int64 stored = x > 0 ? int64(x) + 3 : x;
        if (stored >= 0 && stored <= 19) store16(p->pointStyle, int32(stored));
        break;
      }
      case 6: if (x >= 0 && x <= 4) store16(p->lineStyle, x); break;
      case 7:
        if (uInt32(x) <= uInt32(kNoColor) && p->pointColor != uInt32(x)) p->pointColor = uInt32(x), changed = true;
        break;
      case 8: if (x >= 0 && x <= 5) store16(p->lineWidth, x); break;
      case 9:
        if (x >= 0 && x <= (type == kGraphXY ? 6 : 3) && GetFillStyleField(p->fillStyle, kFillBar) != x) {
          SetFillStyleField(p, x, kFillBar);
          changed = true;
        }
        break;
      case 10: {
        if (x < -4 || x >= count || x == plot || (x >= 0 && stacked)) break;
        const int32 code = x < 0 ? -1 - x : x + 4;
        if (GetFillStyleField(p->fillStyle, kFillTarget) != code) {
          SetFillStyleField(p, code, kFillTarget);
          changed = true;
        }
        break;
      }
      default: break;
    }
  });
  if (!changed) return 0;
  SetFlagsOf(heap, object, FlagsOf(heap, object) | kFlagPlotsChanged);
  const int32 reply = AttrRedraw(heap, object, immediate, deferred, second, 0);
  InvalLegendRow(heap, object, plot, 2);
  return kReplyState | reply;
}

// ---- Grid colours -----------------------------------------------------------------------------

int32 GridColorsAttrSet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value,
                        AttrCallRec* rec) {
  AttrPair pair;
  if (!ctrl::Has(heap, object, 4 * (kGraphYGridColorWord + 1)) || !AttrSplitPair(td, value, index, &pair)) return 0;
  const uInt32 old[2] = {uInt32(ObjWord(heap, object, kGraphXGridColorWord)),
                         uInt32(ObjWord(heap, object, kGraphYGridColorWord))};
  uInt32 next[2] = {old[0], old[1]};
  for (int32 k = 0; k < 2; ++k) {
    uInt32 v = old[k];
    if (pair.td[k] && AttrPutNum(pair.td[k], pair.value[k], kTDU32, &v) && v <= uInt32(kNoColor)) next[k] = v;
  }
  if (next[0] == old[0] && next[1] == old[1]) return 0;
  ObjSetWord(heap, object, kGraphXGridColorWord, int32(next[0]));
  ObjSetWord(heap, object, kGraphYGridColorWord, int32(next[1]));
  if (rec) {
    rec->partId = 0;
    rec->partOrder = 0;
  }
  SetFlagsOf(heap, object, FlagsOf(heap, object) | kFlagPlotsChanged);
  const int32 deferred = rec ? int32(rec->words[0]) : 0, second = rec ? int32(rec->words[1]) : 0;
  return AttrRedraw(heap, object, rec ? int32(rec->last) : 0, deferred, second, 0) | kReplyCosmetic;
}

// ---- Colour table --------------------------------------------------------------------------

int32 ColorTableAttrSet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle array) {
  const TypeDescriptor* t = SkipTypedefs(td);
  const TypeDescriptor* elem = ArrayElem(t);
  if (!elem || DataSize(elem) != 4) return 0;
  IntensityRec* rec = IntensityRecOf(heap, object);
  if (!rec || !rec->colorTable || DSCheckHandle(rec->colorTable) != kNoErr ||
      DSGetHandleSize(rec->colorTable) < kColorTableBytes)
    return 0;
  int32 n = 0;
  if (array && DSCheckHandle(array) == kNoErr && DSGetHandleSize(array) >= 4)
    n = std::clamp<int32>(int32(GetNative32(*array)), 0, (DSGetHandleSize(array) - 4) / 4);
  n = std::min(n, kColorTableEntries);
  uChar* table = *rec->colorTable + 4;
  bool equal = true;
  for (int32 i = 0; i < n && equal; ++i) equal = GetNative32(*array + 4 + 4 * i) == GetNative32(table + 4 * i);
  if (equal) return 0;
  for (int32 i = 0; i < n; ++i) PutNative32(table + 4 * i, GetNative32(*array + 4 + 4 * i) & 0xFFFFFF);
  const int32 z = FindPart(heap, object, kGPartZScale, 0);
  if (ctrl::IsObj(heap, z)) SetFlagsOf(heap, z, FlagsOf(heap, z) | kZIgnoreColorArray);
  return 1;
}

int32 ColorTableAttrGet(ObjHeap heap, int32 object, UHandle* array) {
  IntensityRec* rec = IntensityRecOf(heap, object);
  if (!array || !rec || !rec->colorTable || DSCheckHandle(rec->colorTable) != kNoErr ||
      DSGetHandleSize(rec->colorTable) < kColorTableBytes)
    return 0;
  std::vector<uChar> copy(*rec->colorTable, *rec->colorTable + kColorTableBytes);
  auto* cell = reinterpret_cast<ArrayHandle*>(array);
  if (!ClearOutput(array, 1)) return 0;
  int32 count = kColorTableEntries;
  int32* counts = &count;
  if (FlatVectorResize(4, 4, cell, &counts) != kNoErr || !*cell) return kAttrReplyMemFull;
  std::memcpy(**cell, copy.data(), copy.size());
  return 0;
}

// ---- History --------------------------------------------------------------------------------

namespace {

// Whether values of the type hold no handles: numbers, Booleans and
// clusters of them.
bool FlatNumbers(const TypeDescriptor* td) {
  td = SkipTypedefs(td);
  if (!td) return false;
  const int32 c = td->code;
  if ((c >= kTDI8 && c <= kTDCXT) || c == kTDBoolean || (c >= kTDEnumU8 && c <= kTDEnumU32) ||
      (c >= kTDUnitSGL && c <= kTDUnitCXT))
    return true;
  if (c != kTDCluster) return false;
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  for (int32 i = 0; i < n; ++i)
    if (!FlatNumbers(ElemTD(td, i))) return false;
  return true;
}

struct HistoryShape {
  ChartHistory* rec;
  ChartHistoryPoints points;
  bool twoD;
  int32 row;        // values a point (1 for a 1-D history)
  int32 pointSize;  // bytes a point
  int32 header;     // bytes before the points
};

// The chart's history record and buffer as the array's element type lays
// them out; false (an assertion for a missing record) when they do not fit.
bool ShapeOf(ObjHeap heap, int32 object, const TypeDescriptor* td, HistoryShape* s) {
  const TypeDescriptor* t = SkipTypedefs(td);
  if (!t || t->code != kTDArray) return false;
  const int32 dims = *(reinterpret_cast<const uChar*>(t) + 4);
  const TypeDescriptor* elem = ArrayElem(t);
  if (!elem || (dims != 1 && dims != 2)) return false;
  s->rec = ChartRecordOf(heap, object);
  if (!s->rec) {
    DBAssert(kSource, __LINE__, "chart without its history record");
    return false;
  }
  s->twoD = dims == 2;
  if (!ChartHistoryPointsOf(s->rec->buffer, s->twoD, &s->points)) return false;
  const int32 size = DataSize(elem);
  if (size <= 0) return false;
  s->row = s->twoD ? std::max(1, s->points.plots) : 1;
  s->pointSize = size * s->row;
  s->header = int32(s->points.points - *s->rec->buffer);
  return int64(s->pointSize) * s->points.length <= s->points.bytes;
}

}  // namespace

int32 ChartHistoryGet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle* array) {
  if (!array) return 0;
  ChartHistoryPrepare(heap, object);
  HistoryShape s;
  if (!ShapeOf(heap, object, td, &s)) return 0;
  const int32 capacity = s.points.length;
  const int32 n = std::max(0, std::min(s.rec->total, capacity));
  const TypeDescriptor* t = SkipTypedefs(td);
  const TypeDescriptor* elem = ArrayElem(t);
  // Points by values a point (one dimension for a 1-D history).
  int32 dims[2] = {n, s.row};
  int32* sizes = dims;
  auto* cell = reinterpret_cast<ArrayHandle*>(array);
  const int32 rank = s.twoD ? 2 : 1;
  if (!ClearOutput(array, rank)) return 0;
  if (FlatNumbers(elem)) {
    // Elements without handles: the handle is sized without clearing what
    // the copy below overwrites whole.
    const int64 bytes = AlignDatum(elem, 4 * rank) + int64(n) * s.pointSize;
    if (bytes > 0x7FFFFFF0) return kAttrReplyMemFull;
    if (*array) {
      if (DSSetHandleSize(*array, int32(bytes)) != kNoErr) return kAttrReplyMemFull;
    } else if (!(*array = DSNewHandle(int32(bytes)))) {
      return kAttrReplyMemFull;
    }
    for (int32 k = 0; k < rank; ++k) PutNative32(*(*array) + 4 * k, uInt32(dims[k]));
  } else if (s.twoD) {
    if (ArrayResize(elem, 2, array, &sizes) != kNoErr) return kAttrReplyMemFull;
  } else if (VectorResize(elem, cell, &sizes) != kNoErr) {
    return kAttrReplyMemFull;
  }
  if (!n || !*cell) return 0;
  // The resize may have moved the panel data: look the history up again.
  if (!ShapeOf(heap, object, td, &s)) return 0;
  const int32 start = ((s.rec->total - n) % capacity + capacity) % capacity;
  const int32 end = (start + n) % capacity;
  const uChar* from = *s.rec->buffer + s.header;
  uChar* to = reinterpret_cast<uChar*>(**cell) + AlignDatum(elem, s.twoD ? 8 : 4);
  const size_t ps = size_t(s.pointSize);
  if (start >= end) {
    const int32 first = capacity - start;
    std::memcpy(to, from + ps * start, ps * first);
    std::memcpy(to + ps * first, from, ps * (n - first));
  } else {
    std::memcpy(to, from + ps * start, ps * n);
  }
  if (s.twoD && GraphDataOf(heap, object) && (GraphDataOf(heap, object)->transpose & 1)) {
    ArrayHandle scratch = nullptr;
    TransposeArray(*cell, &scratch, DataSize(elem), AlignDatum(elem, 8));
    if (scratch) DSDisposeHandle(reinterpret_cast<UHandle>(scratch));
  }
  return 0;
}

int32 ChartHistorySet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle array, int32 immediate,
                      int32 deferred, int32 second) {
  HistoryShape s;
  if (!ShapeOf(heap, object, td, &s)) return 0;
  ClearChart(heap, object);
  if (!ShapeOf(heap, object, td, &s)) return 0;
  const TypeDescriptor* elem = ArrayElem(SkipTypedefs(td));
  int32 total = 0;
  if (s.twoD) {
    const GraphData* d = GraphDataOf(heap, object);
    Copy2DToChartHistory(DataSize(elem), s.header, heap, object, array, s.rec, d ? (d->transpose & 1) : 0);
    if (!ShapeOf(heap, object, td, &s)) return 0;
    total = s.rec->total;
  } else {
    const int32 size = DataSize(elem), first = AlignDatum(elem, 4);
    int32 n = 0;
    if (array && DSCheckHandle(array) == kNoErr && DSGetHandleSize(array) >= 4)
      n = std::clamp<int32>(int32(GetNative32(*array)), 0, std::max(0, (DSGetHandleSize(array) - first) / size));
    const int32 capacity = s.points.length;
    const int32 kept = std::min(n, capacity);
    s.rec->total = n;
    s.rec->pending = kept;
    s.rec->writePos = n % capacity;
    const size_t ps = size_t(s.pointSize);
    const uChar* src = kept ? *array + first + ps * (n - kept) : nullptr;
    uChar* buf = *s.rec->buffer + s.header;
    // The newest point lands just before the write position.
    const int32 at = ((s.rec->writePos - kept) % capacity + capacity) % capacity;
    const int32 head = std::min(kept, capacity - at);
    if (head) std::memcpy(buf + ps * at, src, ps * head);
    if (kept > head) std::memcpy(buf, src + ps * head, ps * (kept - head));
    total = n;
  }
  // The X scale follows the newest point.
  const int32 x = FindPart(heap, object, kGPartXScale, 0);
  if (const ScaleRec* r = ctrl::IsObj(heap, x) ? ScaleRecOf(heap, x) : nullptr) {
    if (total > r->min && total > r->max) {
      const float64 span = float64(int32(std::fabs(r->max - r->min)));
      Bool32 changed = 0;
      CalcScaleMarkers(heap, x, total - 1 - span, total - 1, 1, 0, &changed);
    }
  }
  return AttrRedraw(heap, object, immediate, deferred, second, 1);
}
