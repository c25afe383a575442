// Plot fills and bars of any fill word, interpolation, graph type, flags,
// point count and coordinates (the gap 15005 and the pixel limits among
// them), as a damaged panel could hold them.  Drawn through a port that
// records: every call returns, no report is made, no polygon is larger
// than a chunk of two plots or has a gap as a vertex, every rectangle is
// ordered.  Drawn into a small image clipped inside its border: the
// border stays white (nothing is drawn outside the clip, nothing outside
// the image).
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "controls/scale.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel_fuzz_support.h"
#include "platform/qx_surface.h"

namespace {

using Input = FuzzReader;

constexpr int32 kMaxPolygon = 4 * 500;
constexpr int16 kSide = 64, kBorder = 8;
WindowRef gWindow = 0;
int32 gImage = 0;

bool Ordered(const Rect* r) { return r && r->top <= r->bottom && r->left <= r->right; }

const DPort* CheckingPort() {
  static DPort p = [] {
    DPort q = gNullPort;
    q.getDepth = [] { return int32(32); };
    q.isBW = [] { return int32(0); };
    q.isScreenPort = [] { return int32(1); };
    q.selectNormPen = [](DColor, DColor) { return int32(0); };
    q.selectPen = [](int32, DColor, DColor) { return int32(0); };
    q.frameRect = [](const Rect* r) {
      FUZZ_CHECK(Ordered(r));
      return int32(0);
    };
    q.paintRect = [](const Rect* r) {
      FUZZ_CHECK(Ordered(r));
      return int32(0);
    };
    q.paintPoly = [](const Point* pts, int32 last, int32) {
      FUZZ_CHECK(last >= 2 && last < kMaxPolygon);
      for (int32 i = 0; i <= last; ++i) FUZZ_CHECK(pts[i].h != kPlotGap && pts[i].v != kPlotGap);
      return int32(0);
    };
    q.setClip = [](const Rect*) { return int32(0); };
    q.moveTo = [](int32 h, int32 v) {
      FUZZ_CHECK(h != kPlotGap && v != kPlotGap);
      return int32(0);
    };
    q.lineTo = [](int32, int32) { return int32(0); };
    q.bounds = [](Rect* r) {
      *r = Rect{0, 0, 0, 0};
      return int32(0);
    };
    return q;
  }();
  return &p;
}

int16 Coordinate(Input& in) {
  static const int16 kSpecial[] = {kPlotGap, -15000, 15000, 0, -1, 32767, -32767};
  const uint8_t b = in.Byte();
  if (b < 40) return kSpecial[b % 7];
  if (b < 200) return int16(in.Byte() % 80) - 8;  // around the image
  return int16(in.Byte() << 8 | in.Byte());
}

int16 FillWord(Input& in) {
  static const int16 kWords[] = {0, 16, 32, 64, 17, 25, 26, 27, 21, 22, 23, 9, 13, 48, 255, 256, 257, 260, 127, -1};
  const uint8_t b = in.Byte();
  return b < 200 ? kWords[b % 20] : int16(in.Byte() << 8 | in.Byte());
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  const int32 xs = graph ? vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph,
                                          kGPartXScale, 0) : 0;
  const int32 ys = graph ? vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph,
                                          kGPartYScale, int16(in.Byte() % 3)) : 0;
  const int32 area = graph ? vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                            kGPartPlotArea, 0) : 0;
  MgErr alloc = kMemFullErr;
  if (graph && xs && ys && area) {
    alloc = AllocObjDataSpace(heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
  }
  static const int16 kTypes[] = {kGraphXY, kGraphWaveform, kChartFirst, kChartSweep, kGraphXYOther, -3, 150};
  if (alloc == kNoErr && GraphDataOf(heap, graph)) {
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(kTypes[in.Byte() % 7]));
    OHSetWord(heap, uInt32(graph), (in.Byte() & 1) ? 0x80000u : 0u);  // plots stacked or not
    for (int32 s : {xs, ys})
      if (ScaleRec* r = ScaleRecOf(heap, s)) {
        const float64 ends[] = {0, 1, -5, 10, 1e300, -1e-300};
        r->min = ends[in.Byte() % 6];
        r->max = ends[in.Byte() % 6];
        r->increment = 1;
        r->multiplier = 1;
        r->pixelStart = int16(in.Byte() % 80) - 8;
        r->pixelEnd = int16(in.Byte() % 80) - 8;
        r->mapping = ScaleMapping(in.Byte() & 1);
      }
    const int32 plots = 1 + in.Byte() % 3;
    if (ResizePlotList(heap, graph, plots, 0, false) == kNoErr) {
      int32 n = 0;
      for (int32 i = 0; i < plots; ++i) {
        const int32 held = in.Byte() % 40;
        PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
        if (!p || i >= n || DSSetHandleSize(p[i].xs, 4 + 2 * held) || DSSetHandleSize(p[i].ys, 4 + 2 * held)) break;
        p = GraphPlots(GraphDataOf(heap, graph), &n);
        for (int32 k = 0; k < held; ++k) {
          PutNative16(*p[i].xs + 4 + 2 * k, uInt16(Coordinate(in)));
          PutNative16(*p[i].ys + 4 + 2 * k, uInt16(Coordinate(in)));
        }
        // The count may claim more than the arrays hold.
        p[i].count = (in.Byte() & 3) ? held : int32(in.Word() % 100000) - 5;
        p[i].fillStyle = FillWord(in);
        p[i].interpolation = int16(in.Byte() % 6) - 1;
        p[i].lineWidth = int16(in.Byte() % 9) - 2;
        p[i].pointColor = (in.Byte() & 7) ? 0x204080u : uInt32(kNoColor);
      }
      const int32 index = in.Byte() % plots;
      const bool legend = in.Byte() & 1;
      Rect row;
      row.top = int16(in.Byte() % 70) - 3;
      row.left = int16(in.Byte() % 70) - 3;
      row.bottom = int16(row.top + in.Byte() % 30 - 4);
      row.right = int16(row.left + in.Byte() % 90 - 4);
      auto draw = [&] {
        PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
        if (!p || index >= n) return;
        const int32 r = DrawFilledPlot(p + index, legend ? &row : nullptr, heap, graph, index);
        FUZZ_CHECK(r == 0 || (legend && r == kPlotResultFailed));
      };
      DInstallTestPort(CheckingPort());
      FuzzArmed() = true;
      draw();
      FuzzArmed() = false;
      DInstallTestPort(nullptr);
      // The same into the image, clipped inside its border.
      WPortState port;
      WSetup(gWindow, &port);
      ImageSaveRecord save{};
      IOpen(gImage, &save);
      IEraseImage(gImage);
      const Rect inside{kBorder, kBorder, kSide - kBorder, kSide - kBorder};
      Rect saved;
      WLimitClip(&inside, &saved);
      FuzzArmed() = true;
      draw();
      FuzzArmed() = false;
      WRestoreClip(&saved);
      IClose(gImage, &save);
      WRestore(&port);
      PlatSurface* s = PlatBitmapSurface(PlatObj(IEntryOf(gImage).extra));
      for (int32 y = 0; y < kSide; ++y)
        for (int32 x = 0; x < kSide; ++x)
          if (x < kBorder || y < kBorder || x >= kSide - kBorder || y >= kSide - kBorder)
            FUZZ_CHECK((PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF) == 0xFFFFFF);
    }
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One graph drawn first, so that what the first use keeps for the run is
  // not counted as a leak.
  static bool init = FuzzStartPanelManagers() && WInitScreenImage() == kNoErr && [] {
    PlatSetAlertProc(FuzzAbortWhenArmed);
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    gWindow = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    const Rect image{0, 0, kSide, kSide};
    if (!gWindow || ICreatePixmap(gWindow, &image, 32, &gImage) != kNoErr) return false;
    // The image's first rectangle, line and polygon in the fill colour make
    // what the host port keeps for the run.
    WPortState port;
    WSetup(gWindow, &port);
    ImageSaveRecord save{};
    IOpen(gImage, &save);
    DSelectNormPen(0x204080, 0x204080);
    const Rect r{1, 1, 5, 5};
    DPaintRect(&r);
    DMoveTo(1, 1);
    DLineTo(5, 9);
    const Point tri[] = {{1, 1}, {9, 3}, {4, 8}};
    DPaintPoly(tri, 2, 0);
    IClose(gImage, &save);
    WRestore(&port);
    const uint8_t warm[] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 10, 0, 0, 0, 0};
    Input in{warm, sizeof warm};
    Run(in);
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
