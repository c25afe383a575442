// Intensity images from 2-D data of any numeric element type and shape:
// dimensions that the handle may not hold, index ranges in either direction
// and past either end, pixel rectangles of any place and size, colour
// scales with unsorted and NaN markers and any range.  The image is sized
// to its rectangle with even rows and a zero pad byte, nothing is written
// past it (the sanitizer's check), the picture made of it has the size its
// header and colours give and is accepted by the image layer without a
// report, and a Z autoscale that moved the range leaves finite ends.
// Intensity charts are drawn from damaged records and histories (below).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "null_draw_port.h"
#include "controls/graph.h"
#include "controls/graphintensity.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "fuzz_support.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "controls/chartupdate.h"
#include "mgsource/memory.h"
#include "panel_fuzz_support.h"
#include "platform/qx_debugout.h"

namespace {

using Input = FuzzReader;

// Whether the image layer reported a picture record running past its data.
bool gOverran = false;
void WatchDebug(const char* text) {
  if (text && std::strstr(text, "ICreatePict")) gOverran = true;
}

tdb::TD ElementOf(int32 type) {
  switch (type) {
    case 1: return tdb::I8();
    case 2: return tdb::I16();
    case 3: return tdb::I32();
    case 5: return tdb::U8();
    case 6: return tdb::U16();
    case 7: return tdb::U32();
    case 9: return tdb::SGL();
    case 11: return tdb::EXT();
    default: return tdb::DBL();
  }
}

void RunImage(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  const int32 zs = graph ? vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartZScale, 0)
                         : 0;
  // 64-bit elements are not drawn (an assertion by design): not fuzzed.
  static const int32 kTypes[] = {1, 2, 3, 5, 6, 7, 9, 10, 11};
  const int32 type = kTypes[in.Byte() % 9];
  const tdb::TD td = tdb::Array(ElementOf(type), {kTDVariable, kTDVariable});
  std::vector<uChar> tdBytes = td.Bytes();
  const TypeID t = zs ? NewTypeIDForTD(heap, tdb::AsTD(tdBytes)) : 0;
  if (t) {
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(kGraphIntensity));
    OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), t);
    OHSetWord(heap, uInt32(zs), in.Byte() & 1 ? kZScaleStepped : 0);
    const MgErr alloc = AllocObjDataSpace(heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    ScaleRec* z = alloc == kNoErr ? ScaleRecOf(heap, zs) : nullptr;
    IntensityRec* rec = z ? IntensityRecOf(heap, graph) : nullptr;
    if (rec && rec->image) {
      const float64 ends[] = {0, 1, -5, 100, 7.5, 1e300, -1e-300, std::numeric_limits<float64>::quiet_NaN()};
      z->min = ends[in.Byte() % 8];
      z->max = ends[in.Byte() % 8];
      z->increment = 1;
      z->multiplier = 1;
      z->pixelStart = 100;
      z->pixelEnd = 0;
      z->mapping = ScaleMapping(in.Byte() & 1);
      const int32 markers = in.Byte() % 6;
      if (ScaleResizeMarkers(z, markers) == kNoErr) {
        z = ScaleRecOf(heap, zs);
        for (int32 i = 0; i < markers; ++i) {
          const float64 v = ends[in.Byte() % 8];
          std::memcpy(*z->markers + 4 + kScaleMarkerEntry * i, &v, 8);
          PutNative32(*z->markers + 4 + kScaleMarkerEntry * i + 8, in.Word());
        }
      }
      // The data: two sizes, and bytes that may hold fewer elements.
      const int32 d0 = in.Byte() % 40, d1 = in.Byte() % 40;
      const int32 es = type == 11 ? 12 : type == 9 || type == 3 || type == 7 ? 4 : type == 10 ? 8
                                      : type == 2 || type == 6                 ? 2
                                                                               : 1;
      int32 bytes = 8 + d0 * d1 * es;
      if (in.Byte() < 32) bytes = 8 + int32(in.Byte()) * es;
      UHandle data = DSNewHClr(bytes);
      if (data) {
        PutNative32(*data, uInt32(d0));
        PutNative32(*data + 4, uInt32(d1));
        in.Bytes(*data + 8, size_t(bytes - 8));
        auto index = [&] { return int32(in.Byte()) - 60; };
        const int32 fi = index(), fo = index(), li = index(), lo = index();
        auto rect = [&] {
          Rect r;
          r.top = int16(int32(in.Byte()) - 20), r.left = int16(int32(in.Byte()) - 20);
          r.bottom = int16(r.top + int32(in.Byte()) - 10), r.right = int16(r.left + int32(in.Byte()) - 10);
          return r;
        };
        const Rect px = rect(), span = in.Byte() & 1 ? rect() : px;
        const Bool32 transposed = in.Byte() & 1;
        if (in.Byte() & 1) {
          // Z autoscale over the block, then the image with the new range.
          int32 changed = 0;
          ScanZRange(heap, graph, data, fi, fo, li, lo, transposed, &changed);
          const ScaleRec* after = ScaleRecOf(heap, zs);
          if (changed && after) FUZZ_CHECK(std::isfinite(after->min) && std::isfinite(after->max));
        }
        FuzzArmed() = true;
        rec = IntensityRecOf(heap, graph);
        const int32 r = BuildIntensityBitmap(heap, graph, zs, data, fi, fo, li, lo, rec->image, &px, &span, transposed);
        FuzzArmed() = false;
        FUZZ_CHECK(r == 0 || r == 16);
        rec = IntensityRecOf(heap, graph);
        if (r == 0) {
          const int32 w = std::max(0, px.right - px.left), h = std::max(0, px.bottom - px.top);
          const int32 len = w + (w & 1);
          FUZZ_CHECK(int32(GetNative32(*rec->image)) == h && int32(GetNative32(*rec->image + 4)) == len);
          FUZZ_CHECK(DSGetHandleSize(rec->image) == 8 + h * len);
          if (w & 1)
            for (int32 row = 0; row < h; ++row) FUZZ_CHECK((*rec->image)[8 + row * len + w] == 0);
          FUZZ_CHECK(DSGetHandleSize(rec->colorTable) == kColorTableBytes);
          // The picture of it, as the drawing makes it.
          UHandle pict = BitmapToPict(rec->colorTable, 8, &px, rec->image);
          if (pict) {
            FUZZ_CHECK(DSGetHandleSize(pict) == 34 + h * len + 2 + 8 * 256);
            int32 id = 0;
            gOverran = false;
            FuzzArmed() = true;
            const MgErr e = ICreatePict(0, &px, 8, pict, kImageBorrowed, &id);
            FuzzArmed() = false;
            FUZZ_CHECK(e == kNoErr || e == 17 || e == 2);
            FUZZ_CHECK(!gOverran);
            if (id) IRelease(id);
            DSDisposeHandle(pict);
          }
        }
        DSDisposeHandle(data);
      }
    }
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

// Intensity charts drawn from records and histories as a damaged data space
// holds them: totals, pending counts, column and row counts the handle may
// not hold, scales, update modes, flags and autoscale bits from the input,
// immediate and update draws.  Nothing is reported, pending stays within
// what the history holds, and the image and drawn rectangle stay inside
// their handle and the plot bounds.
void RunChart(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  auto part = [&](int32 cls, int16 id) {
    return graph ? vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, graph, id, 0) : 0;
  };
  const int32 area = part(kClsCosmetic, kGPartPlotArea), xs = part(kClsScale, kGPartXScale),
              ys = part(kClsScale, kGPartYScale), zs = part(kClsScale, kGPartZScale);
  // Integers only: a float history may hold infinities, which the range
  // scan of a Z autoscale reports by design.
  const bool bytes8 = in.Byte() & 1;
  const tdb::TD td = tdb::Array(bytes8 ? tdb::U8() : tdb::I16(), {kTDVariable, kTDVariable});
  const int32 es = bytes8 ? 1 : 2;
  std::vector<uChar> valueTD = td.Bytes(), recTD = tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}).Bytes();
  const TypeID vt = area && xs && ys && zs ? NewTypeIDForTD(heap, tdb::AsTD(valueTD)) : 0;
  const TypeID rt = vt ? NewTypeIDForTD(heap, tdb::AsTD(recTD)) : 0;
  if (rt) {
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(104 + in.Byte() % 3));
    OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), vt);
    OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), rt);
    OHSetWord(heap, uInt32(graph + 4 * kGraphXGridColorWord), (in.Byte() & 1) ? 0x1000000u : 0x00FF00u);
    OHSetWord(heap, uInt32(graph + 4 * kGraphYGridColorWord), 0x1000000u);
    const Rect r{20, 40, int16(60 + in.Byte()), int16(60 + in.Byte())};
    for (int32 p : {area, xs, ys}) std::memcpy(*heap + p + kObjBounds, &r, sizeof r);
    OHSetWord(heap, uInt32(area), in.Byte() & 4);
    OHSetWord(heap, uInt32(area + 32), (in.Byte() & 3) == 0 ? 0x1000000u : 0xFFFFFFu);
    OHSetWord(heap, uInt32(zs), in.Byte() & 1 ? kZScaleStepped : 0);
    const MgErr alloc = AllocObjDataSpace(heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    if (alloc == kNoErr && ChartRecordOf(heap, graph) && IntensityRecOf(heap, graph)) {
      const float64 ends[] = {0, 49, -5, 1e300, 7.5, 2147483600.0, 99, -60};
      for (int32 s : {xs, ys, zs}) {
        ScaleRec* sr = ScaleRecOf(heap, s);
        if (!sr) continue;
        sr->min = ends[in.Byte() % 8];
        sr->max = ends[in.Byte() % 8];
        sr->increment = (in.Byte() & 1) ? 1 : 10;
        sr->multiplier = 1;
        sr->pixelStart = int16(s == ys ? r.bottom : r.left);
        sr->pixelEnd = int16(s == ys ? r.top : r.right);
        if (in.Byte() & 1) std::swap(sr->pixelStart, sr->pixelEnd);
      }
      const int32 length = (in.Byte() & 7) == 0 ? int32(in.Word()) : int32(in.Byte() % 60);
      const int32 rows = (in.Byte() & 7) == 0 ? int32(in.Word()) : int32(in.Byte() % 20);
      int64 want = 8 + int64(std::max(length, 0)) * std::max(rows, 0) * es;
      if (want > 4096) want = 4096;
      int32 bytes = int32(want);
      if (in.Byte() & 1) bytes = int32(in.Byte() % (bytes + 1));
      UHandle h = DSNewHClr(bytes);
      if (h) {
        if (bytes >= 4) PutNative32(*h, uInt32(length));
        if (bytes >= 8) PutNative32(*h + 4, uInt32(rows));
        for (int32 i = 8; i < bytes; ++i) (*h)[i] = in.Byte();
      }
      ChartHistory* rec = ChartRecordOf(heap, graph);
      const UHandle made = rec->buffer;  // the allocation's, put back for the panel to dispose
      rec->buffer = h;
      rec->total = (in.Byte() & 3) == 0 ? int32(in.Word()) : int32(in.Byte());
      rec->pending = (in.Byte() & 3) == 0 ? int32(in.Word()) : int32(in.Byte() % 70);
      OHSetWord(heap, uInt32(graph), in.Word() & (kGraphFlagScrollHeld | kGraphFlagFullRedraw | kGraphAutoscaleMask |
                                                  kGraphFlagPending));
      OHSetWord(heap, uInt32(graph + 4 * kGraphPixmapPosWord), int32(in.Word()) % 1000);
      PrefSet(kPrefScrollingStripCharts, in.Byte() & 1);
      FuzzScreenPort() = in.Byte() & 1;
      DInstallTestPort(FuzzNullDrawPort());
      const bool valid = h && bytes >= 8 && length > 0 && rows > 0 && int64(length) * rows * es <= bytes - 8;
      FuzzArmed() = true;
      for (int32 round = 0; round < 3 && in.n; ++round) {
        const int32 update = in.Byte() & 1;
        rec = ChartRecordOf(heap, graph);
        if (in.Byte() & 1) rec->pending = int32(in.Byte() % 70);
        UHandle value = nullptr;
        const int32 res = DrawPlotArea(heap, graph, &value, update, 0, 4, 1);
        FUZZ_CHECK((res & ~(kPlotResultFailed | kPlotResultRedraw)) == 0);
        rec = ChartRecordOf(heap, graph);
        FUZZ_CHECK(rec->pending >= 0);
        if (valid) FUZZ_CHECK(rec->pending <= std::min<int64>(std::max(rec->total, 0), length));
        IntensityRec* ir = IntensityRecOf(heap, graph);
        const int32 ih = int32(GetNative32(*ir->image)), il = int32(GetNative32(*ir->image + 4));
        FUZZ_CHECK(ih >= 0 && il >= 0 && 8 + int64(ih) * il <= DSGetHandleSize(ir->image));
        const Rect d = ir->Drawn();
        if (!DEmptyRect(&d)) FUZZ_CHECK(d.top > r.top && d.bottom < r.bottom);
      }
      FuzzArmed() = false;
      DInstallTestPort(nullptr);
      rec = ChartRecordOf(heap, graph);
      if (rec->buffer) DSDisposeHandle(rec->buffer);
      rec->buffer = made;
    }
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

void Run(Input& in) {
  if (in.Byte() & 1) RunChart(in);
  else RunImage(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One image made and one chart drawn first, so that what the first use
  // keeps for the run (the data space's descriptors, the drawing's tables)
  // is not counted as a leak.
  static bool init = FuzzStartPanelManagers() && [] {
    ControlsInstallScaleHooks();
    PlatSetDebugSink(WatchDebug);
    DBSetDebugging(true);
    DInitDraw();
    const uint8_t warm[] = {0, 7, 0, 3, 4, 0, 2, 3, 3, 255, 60, 60, 61, 62, 20, 20, 13, 13, 0, 0};
    Input in{warm, sizeof warm};
    Run(in);
    const uint8_t chart[] = {1, 0, 0};
    Input again{chart, sizeof chart};
    Run(again);
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
