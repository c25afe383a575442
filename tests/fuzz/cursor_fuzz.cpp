// Cursor lists of any count and any field values (positions and label
// sizes at the 16-bit limits, plots and indexes negative, values not
// finite), as a damaged panel or a property write could hold them, on
// graphs of any type and scales of any range.  Drawn, hit, moved, erased
// and resnapped: every call returns, no report is made; every piece copied
// back from the plot image lies inside the plot rectangle; drawn into an
// image, nothing lands outside the plot rectangle.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "controls/cursordraw.h"
#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/datamgr.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/graphstate.h"
#include "panel/oinit.h"
#include "panel_fuzz_support.h"
#include "platform/qx_surface.h"

namespace {

using Input = FuzzReader;

constexpr int16 kSide = 64;
WindowRef gWindow = 0;
int32 gImage = 0;
Rect gPlot{0, 0, 0, 0};

bool Inside(const Rect* r) {
  return r && r->top >= gPlot.top && r->left >= gPlot.left && r->bottom <= gPlot.bottom && r->right <= gPlot.right &&
         r->top <= r->bottom && r->left <= r->right;
}

const DPort* CheckingPort() {
  static DPort p = [] {
    DPort q = gNullPort;
    q.getDepth = [] { return int32(32); };
    q.isBW = [] { return int32(0); };
    q.isScreenPort = [] { return int32(1); };
    q.selectNormPen = [](DColor, DColor) { return int32(0); };
    q.setClip = [](const Rect*) { return int32(0); };
    q.setPixel = [](int32, int32) { return int32(0); };
    q.moveTo = [](int32, int32) { return int32(0); };
    q.line = [](int32, int32) { return int32(0); };
    q.lineTo = [](int32, int32) { return int32(0); };
    q.polyLine = [](const Point*, int32) { return int32(0); };
    q.frameRect = [](const Rect*) { return int32(0); };
    q.paintRect = [](const Rect*) { return int32(0); };
    q.frameOval = [](const Rect*) { return int32(0); };
    q.paintOval = [](const Rect*) { return int32(0); };
    q.textBox = [](const Rect*, int32, const uChar*, int32, int32, DColor, DColor, DColor, DColor) { return int32(0); };
    q.drawImage = [](int32, const Rect* sub, const Rect* r, DColor, DColor, DColor, DColor) {
      FUZZ_CHECK(Inside(sub) && Inside(r));
      return int32(0);
    };
    q.bounds = [](Rect* r) {
      *r = Rect{0, 0, 0, 0};
      return int32(0);
    };
    return q;
  }();
  return &p;
}

int16 Coordinate(Input& in) {
  static const int16 kSpecial[] = {-32768, 32767, -15000, 15000, 0, -1, kPlotGap};
  const uint8_t b = in.Byte();
  if (b < 40) return kSpecial[b % 7];
  if (b < 200) return int16(in.Byte() % 80) - 8;
  return int16(in.Byte() << 8 | in.Byte());
}
float64 Value(Input& in) {
  static const float64 kSpecial[] = {std::numeric_limits<float64>::quiet_NaN(), HUGE_VAL, -HUGE_VAL, 1e300, -1e300,
                                     0, 2.5, 3e9};
  const uint8_t b = in.Byte();
  return b < 60 ? kSpecial[b % 8] : float64(int32(in.Byte()) - 20) / 4;
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  const int32 xs = graph ? vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph,
                                          kGPartXScale, 0) : 0;
  const int32 ys = graph ? vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph,
                                          kGPartYScale, 0) : 0;
  const int32 area = graph ? vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                            kGPartPlotArea, 0) : 0;
  MgErr alloc = kMemFullErr;
  if (graph && xs && ys && area) {
    alloc = AllocObjDataSpace(heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
  }
  const GraphCursorLayout* layout = GraphCursorFields();
  GraphData* data = alloc == kNoErr ? GraphDataOf(heap, graph) : nullptr;
  if (data && layout) {
    static const int16 kTypes[] = {kGraphXY, kGraphWaveform, kGraphWaveformTransposed, kGraphIntensity, -3};
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(kTypes[in.Byte() % 5]));
    Rect bounds;
    bounds.top = int16(in.Byte() % 40) - 4;
    bounds.left = int16(in.Byte() % 40) - 4;
    bounds.bottom = int16(bounds.top + in.Byte() % 50);
    bounds.right = int16(bounds.left + in.Byte() % 50);
    std::memcpy(*heap + area + kObjBounds, &bounds, sizeof bounds);
    PutNative32(*heap + area + kObjCosmBack, (in.Byte() & 3) ? 0xFFFFFFu : uInt32(kNoColor));
    const uInt32 areaFlags = OHWord(heap, uInt32(area)) & ~kPlotAreaFlagged;
    OHSetWord(heap, uInt32(area), (in.Byte() & 7) ? areaFlags : areaFlags | kPlotAreaFlagged);
    gPlot = bounds;
    DInsetRect(&gPlot, 1, 1);
    for (int32 s : {xs, ys})
      if (ScaleRec* r = ScaleRecOf(heap, s)) {
        r->min = Value(in);
        r->max = Value(in);
        r->increment = 1;
        r->multiplier = (in.Byte() & 7) ? 1 : Value(in);
        r->offset = (in.Byte() & 7) ? 0 : Value(in);
        r->pixelStart = Coordinate(in);
        r->pixelEnd = Coordinate(in);
      }
    // The list: records of random bytes, names null or short, counts that
    // may claim more than the handle holds.
    const int32 n = in.Byte() % 7;
    const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
    UHandle list = DSNewHClr(first + n * layout->size);
    if (list) {
      PutNative32(*list, uInt32((in.Byte() & 15) ? n : n + 1 + in.Byte()));
      for (int32 i = 0; i < n; ++i) {
        UPtr c = *list + first + i * layout->size;
        for (int32 b = 0; b < layout->size; ++b) c[b] = in.Byte();
        SetCursorName(c, nullptr);
        for (GraphCursorField f : {kGCV, kGCH, kGCLabelHeight, kGCLabelWidth, kGCLabelV, kGCLabelH})
          SetCursorI16(c, f, Coordinate(in));
        for (GraphCursorField f : {kGCX, kGCY, kGCZ}) SetCursorF64(c, f, Value(in));
        SetCursorU32(c, kGCColour, (in.Byte() & 7) ? 0x204080u : uInt32(kNoColor));
      }
      // The list the allocation made goes back in place at the end.
      UPtr field = GraphCursorListField(heap, ObjWord(heap, graph, kGraphDataWord), nullptr);
      UHandle made = nullptr;
      if (field) std::memcpy(&made, field, sizeof made);
      if (field) std::memcpy(field, &list, sizeof list);
      ObjSetWord(heap, graph, kGraphPixmapWord, (in.Byte() & 1) ? gImage : 0);

      DInstallTestPort(CheckingPort());
      FuzzArmed() = true;
      uInt32 flags = 0;
      const Point at{Coordinate(in), Coordinate(in)};
      const int32 hit = HitTestGraphCursors(heap, graph, at, &flags);
      FUZZ_CHECK(hit >= -1 && hit < n);
      DrawCursorsInPlot(heap, graph, in.Byte() % 8);
      MoveSelectedCursors(heap, graph, 0, Point{int16(int32(in.Byte() % 5) - 2), int16(int32(in.Byte() % 5) - 2)});
      int32 count = 0;
      if (UPtr c = GraphCursorsOf(heap, graph, &count); c && count > 0) {
        UPtr one = c + (in.Byte() % count) * layout->size;
        EraseGraphCursor(heap, graph, one, int32(in.Byte() % 21), int32(in.Byte()), 0, in.Byte() & 1);
        ScrollCursorDrawing(heap, graph, one, Coordinate(in), Coordinate(in), false);
      }
      ResnapGraphCursors(heap, graph, nullptr, true, false);
      OffsetGraphCursors(heap, graph);
      FuzzArmed() = false;
      DInstallTestPort(nullptr);

      // Drawn into the image: the pixels outside the plot rectangle stay white.
      WPortState port;
      WSetup(gWindow, &port);
      ImageSaveRecord save{};
      IOpen(gImage, &save);
      IEraseImage(gImage);
      FuzzArmed() = true;
      DrawCursorsInPlot(heap, graph, kCursorDrawBoth);
      FuzzArmed() = false;
      IClose(gImage, &save);
      WRestore(&port);
      PlatSurface* s = PlatBitmapSurface(PlatObj(IEntryOf(gImage).extra));
      for (int32 y = 0; y < kSide; ++y)
        for (int32 x = 0; x < kSide; ++x)
          if (x < gPlot.left || y < gPlot.top || x >= gPlot.right || y >= gPlot.bottom)
            FUZZ_CHECK((PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF) == 0xFFFFFF);

      field = GraphCursorListField(heap, ObjWord(heap, graph, kGraphDataWord), nullptr);
      if (field) std::memcpy(field, &made, sizeof made);
      DSDisposeHandle(list);
    }
  }
  ObjSetWord(heap, graph, kGraphPixmapWord, 0);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartPanelManagers() && WInitScreenImage() == kNoErr && [] {
    PlatSetAlertProc(FuzzAbortWhenArmed);
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    gWindow = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    const Rect image{0, 0, kSide, kSide};
    if (!gWindow || ICreatePixmap(gWindow, &image, 32, &gImage) != kNoErr) return false;
    // What the host port keeps for the run: a line, boxes and ovals drawn once.
    WPortState port;
    WSetup(gWindow, &port);
    ImageSaveRecord save{};
    IOpen(gImage, &save);
    DSelectNormPen(0x204080, 0x204080);
    const Rect r{1, 1, 6, 6};
    DFrameRect(&r);
    DPaintRect(&r);
    DFrameOval(&r);
    DPaintOval(&r);
    DMoveTo(1, 1);
    DLineTo(5, 9);
    const Point pts[] = {{1, 1}, {3, 3}, {5, 1}};
    DPolyLine(pts, 2);
    IClose(gImage, &save);
    WRestore(&port);
    // Runs of every path once (fonts, text records and the image's
    // drawing state made on first use are kept for the run), then the
    // empty input.
    uint32_t seed = 12345;
    for (int32 k = 0; k < 64; ++k) {
      uint8_t warm[400];
      for (uint8_t& b : warm) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
      Input in{warm, sizeof warm};
      Run(in);
    }
    Input none{nullptr, 0};
    Run(none);
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
