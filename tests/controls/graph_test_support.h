// Graphs and charts for the graph tests: a graph object of a type code with
// its plot areas, scales, legend, chart scrollbar and colour scale as parts,
// its data space allocated and its scale records set; values of numbers and
// number arrays in data-space handles; pixmaps to draw into and read back;
// and a port that records what the drawing asks of it.
#pragma once
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "controls/graph.h"
#include "controls/scale.h"
#include "colour_maps.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "panel/datamsg.h"
#include "panel/oinit.h"
#include "panel/panel_test_support.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_surface.h"
#include "platform/qx_time.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace graphtest {

// What a graph is made of.  Plot areas take the orders of their places in
// the list; scales 0 .. n - 1.  A plot area's colour 0x1000000 is
// transparent.
struct GraphShape {
  int16 type = kGraphWaveform;
  Rect bounds{0, 0, 200, 300};
  std::vector<Rect> plotAreas{{20, 40, 180, 280}};
  DColor plotBack = 0xFFFFFF;
  int32 xScales = 1;
  int32 yScales = 1;
  Rect legend{0, 0, 0, 0};  // none while empty
  bool scrollbar = false;
  bool colourScale = false;
};

// One call the recording port saw: its slot and its rectangle, pen or colour.
struct PortCall {
  int32 slot;
  Rect r;
  int32 value;
};

// Opens an in-memory resource file holding the run-time resources and makes
// it the run-time resource file (a fatal failure when it cannot).
inline void OpenRunTimeResources(RsrcFileRef* file) {
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  ptest::OpenRunTimeRsrcBytes(w.Write(), file);
}

// The points a plot record holds, as (x, y) pixel pairs.
inline std::vector<std::pair<int16, int16>> PlotPoints(const PlotRec& rec) {
  std::vector<std::pair<int16, int16>> out;
  for (int32 i = 0; i < rec.count; ++i)
    out.push_back({GetNative16(*rec.xs + 4 + 2 * i), GetNative16(*rec.ys + 4 + 2 * i)});
  return out;
}

class GraphTest : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    OpenRunTimeResources(&file_);
    if (HasFatalFailure()) return;
    MakeRoot();
    DInitDraw();
    ASSERT_EQ(LoadDefaultColourMaps(), kNoErr);
  }
  void TearDown() override {
    DInstallTestPort(nullptr);
    for (int32 id : images_) IRelease(id);
    for (UHandle h : values_) DSDisposeHandle(h);
    DDisposeDraw();
    DResetColors();
    SetRunTimeRsrcFile(0);
    RCloseFile(file_);
    PanelTest::TearDown();
  }


 public:
  // ---- Graphs ---------------------------------------------------------------------
  // A graph of shape s, its value of type valueType (none: no type),
  // its data space allocated, its x scales 0 .. 10 across the first plot
  // area and its y scales 0 .. 10 upward.
  int32 MakeGraph(const GraphShape& s, const tdb::TD* valueType = nullptr) {
    const int32 g = Obj(kClsGraphChart);
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(s.type));
    SetBounds(g, s.bounds);
    for (size_t i = 0; i < s.plotAreas.size(); ++i) {
      const int32 area = Obj(kClsCosmetic, g, kGPartPlotArea, int16(i));
      SetBounds(area, s.plotAreas[i]);
      SetColours(area, 0, s.plotBack);
    }
    const Rect first = s.plotAreas.empty() ? s.bounds : s.plotAreas[0];
    for (int32 o = 0; o < s.xScales; ++o) SetBounds(Obj(kClsScale, g, kGPartXScale, int16(o)), first);
    for (int32 o = 0; o < s.yScales; ++o) SetBounds(Obj(kClsScale, g, kGPartYScale, int16(o)), first);
    if (s.colourScale) Obj(kClsScale, g, kGPartZScale, 0);
    if (!DEmptyRect(&s.legend)) {
      SetBounds(Obj(kClsCosmetic, g, kGPartPlotLegend), s.legend);
      const int32 label = Obj(kClsLabel, g, 0);
      SetBounds(label, Rect{0, 0, 10, 30});
      SetW(g, kGraphLegendLabelWord, label);
      SetW(g, kGraphLegendNameWidthWord, 50);
    }
    if (s.scrollbar) Obj(kClsCosmetic, g, kGPartChartScrollbar);
    // No grids unless a test asks for them.
    SetW(g, kGraphXGridColorWord, kNoColor);
    SetW(g, kGraphYGridColorWord, kNoColor);
    if (valueType) SetW(g, kPWDDOTypeId, int32(Type(*valueType)));
    // Charts keep a history record: points written, points valid, the
    // write position and the buffer handle.
    if (IsChartType(s.type))
      SetW(g, kGraphChartTypeWord,
           int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
    EXPECT_EQ(Alloc(g), kNoErr);
    for (int32 o = 0; o < s.xScales; ++o) SetScale(Scale(g, kGPartXScale, o), 0, 10, first.left, first.right);
    for (int32 o = 0; o < s.yScales; ++o) SetScale(Scale(g, kGPartYScale, o), 0, 10, first.bottom, first.top);
    return g;
  }
  // A graph shown by a data controller of the value's type, its data and
  // scales set up again after the controller's allocation.
  int32 GraphWithValue(const tdb::TD& type) {
    const int32 g = MakeGraph(GraphShape{}, &type);
    const int32 dco = Obj(kClsFPDataController, 0);
    SetW(g, kPWOwner, dco);
    SetW(dco, kPWDCOTypeId, ObjWord(panel_, g, kPWDDOTypeId));
    SetW(dco, kPWDCODisplay, g);
    EXPECT_EQ(Alloc(dco), kNoErr);
    SetScale(Scale(g, kGPartXScale, 0), 0, 10, 40, 280);
    SetScale(Scale(g, kGPartYScale, 0), 0, 10, 180, 20);
    return g;
  }
  // The graph's value slot gets the handle (the value of an array type).
  void SetValue(int32 g, UHandle h) {
    UPtr slot = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, g, 0, kDataPtrPlain, nullptr))));
    ASSERT_NE(slot, nullptr);
    std::memcpy(slot, &h, sizeof h);
  }
  int32 Scale(int32 g, int16 id, int32 order) { return FindPart(panel_, g, id, order); }
  void SetScale(int32 scale, float64 min, float64 max, int32 pixelStart, int32 pixelEnd) {
    ScaleRec* r = ScaleRecOf(panel_, scale);
    ASSERT_NE(r, nullptr);
    r->min = min;
    r->max = max;
    r->increment = 1;
    r->multiplier = 1;
    r->pixelStart = int16(pixelStart);
    r->pixelEnd = int16(pixelEnd);
  }
  std::vector<float64> Range(int32 scale) {
    const ScaleRec* r = ScaleRecOf(panel_, scale);
    return r ? std::vector<float64>{r->min, r->max} : std::vector<float64>{};
  }
  // A cosmetic part's foreground and background words.
  void SetColours(int32 part, DColor fore, DColor back) {
    SetW(part, kObjCosmFore / 4, int32(fore));
    SetW(part, kObjCosmBack / 4, int32(back));
  }
  uInt32 Flags(int32 o) { return OHWord(panel_, uInt32(o)); }
  void SetFlags(int32 o, uInt32 bits, bool on = true) {
    OHSetWord(panel_, uInt32(o), on ? Flags(o) | bits : Flags(o) & ~bits);
  }
  void SetTool(int32 g, int16 tool) { PutNative16(*panel_ + g + kGraphToolByte, uInt16(tool)); }
  PlotRec* Plots(int32 g, int32* n) { return GraphPlots(GraphDataOf(panel_, g), n); }
  int32 PlotCount(int32 g) {
    int32 n = 0;
    Plots(g, &n);
    return n;
  }

  // Closes the window ShowInWindow opened, if any.
  void CloseWindow() {
    if (!window_) return;
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, 0);
    WDestroy(window_);
    window_ = 0;
  }

  // ---- Values -----------------------------------------------------------------------
  // A 1-D or 2-D array of doubles in a data-space handle (freed at the end).
  UHandle Doubles(const std::vector<float64>& v, std::vector<int32> dims = {}) {
    if (dims.empty()) dims = {int32(v.size())};
    const int32 head = 4 * int32(dims.size());
    UHandle h = DSNewHandle(head + int32(v.size() * sizeof(float64)));
    EXPECT_NE(h, nullptr);
    for (size_t d = 0; d < dims.size(); ++d) PutNative32(*h + 4 * d, uInt32(dims[d]));
    if (!v.empty()) std::memcpy(*h + head, v.data(), v.size() * sizeof(float64));
    values_.push_back(h);
    return h;
  }
  // An array of n records of the bytes given (clusters of numbers).
  UHandle Records(const std::vector<uChar>& bytes, int32 n) {
    UHandle h = DSNewHandle(4 + int32(bytes.size()));
    EXPECT_NE(h, nullptr);
    PutNative32(*h, uInt32(n));
    std::memcpy(*h + 4, bytes.data(), bytes.size());
    values_.push_back(h);
    return h;
  }
  template <typename T>
  static void Put(std::vector<uChar>* out, T v) {
    const auto* b = reinterpret_cast<const uChar*>(&v);
    out->insert(out->end(), b, b + sizeof v);
  }
  // The bytes of the values in a row: a record's fields or a list of handles.
  template <typename... T>
  static std::vector<uChar> Bytes(T... v) {
    std::vector<uChar> out;
    (Put(&out, v), ...);
    return out;
  }

  // ---- Drawing ------------------------------------------------------------------------
  // A white pixmap of the rectangle, drawn into by draw in panel coordinates.
  int32 DrawInto(const Rect& r, const std::function<void()>& draw) {
    if (!window_) ShowInWindow();
    int32 id = 0;
    EXPECT_EQ(ICreatePixmap(window_, &r, 32, &id), kNoErr);
    images_.push_back(id);
    WPortState port;
    WSetup(window_, &port);
    ImageSaveRecord save{};
    IOpen(id, &save);
    IEraseImage(id);
    draw();
    IClose(id, &save);
    WRestore(&port);
    return id;
  }
  // The colour at panel point (h, v) of a pixmap of rectangle r.
  static uInt32 Pix(int32 pixmap, const Rect& r, int32 h, int32 v) {
    PlatSurface* s = PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra));
    return PlatSurfaceGetPixel(s, h - r.left, v - r.top) & 0xFFFFFF;
  }

  // A port that keeps what it is asked: pens, painted and framed
  // rectangles; a screen (or a printer page when screen is false).
  static inline std::vector<PortCall> calls;
  static inline bool screen = true;
  static DPort RecordingPort() {
    DPort p = gNullPort;
    p.getDepth = [] { return int32(32); };
    p.isBW = [] { return int32(0); };
    p.isScreenPort = [] { return int32(screen); };
    p.selectNormPen = [](DColor c, DColor) {
      calls.push_back({3, {}, int32(c)});
      return int32(0);
    };
    p.selectPen = [](int32 pen, DColor, DColor) {
      calls.push_back({4, {}, pen});
      return int32(0);
    };
    p.frameRect = [](const Rect* r) {
      calls.push_back({14, *r, 0});
      return int32(0);
    };
    p.paintRect = [](const Rect* r) {
      calls.push_back({15, *r, 0});
      return int32(0);
    };
    // Lines and markers: points in r.top/left (a polyline's last point in
    // r.bottom/right), a polyline's point count or a step's flag in value.
    p.setPixel = [](int32 h, int32 v) {
      calls.push_back({5, Rect{int16(v), int16(h), 0, 0}, 0});
      return int32(0);
    };
    p.moveTo = [](int32 h, int32 v) {
      calls.push_back({7, Rect{int16(v), int16(h), 0, 0}, 0});
      return int32(0);
    };
    p.lineTo = [](int32 h, int32 v) {
      calls.push_back({9, Rect{int16(v), int16(h), 0, 0}, 0});
      return int32(0);
    };
    p.mhLineTo = [](int32 h, int32 v, Bool32 flag) {
      calls.push_back({11, Rect{int16(v), int16(h), 0, 0}, flag ? 1 : 0});
      return int32(0);
    };
    p.polyLine = [](const Point* pts, int32 n) {  // n segments: n + 1 points
      calls.push_back({12, n >= 0 ? Rect{pts[0].v, pts[0].h, pts[n].v, pts[n].h} : Rect{}, n + 1});
      return int32(0);
    };
    p.frameOval = [](const Rect* r) {
      calls.push_back({18, *r, 0});
      return int32(0);
    };
    p.paintOval = [](const Rect* r) {
      calls.push_back({19, *r, 0});
      return int32(0);
    };
    p.setClip = [](const Rect*) { return int32(0); };
    p.bounds = [](Rect* out) {
      *out = Rect{-32000, -32000, 32000, 32000};
      return int32(0);
    };
    return p;
  }
  void Record(bool isScreen = true) {
    static const DPort port = RecordingPort();
    calls.clear();
    screen = isScreen;
    DInstallTestPort(&port);
  }
  // The calls of one slot.
  static std::vector<PortCall> CallsOf(int32 slot) {
    std::vector<PortCall> out;
    for (const PortCall& c : calls)
      if (c.slot == slot) out.push_back(c);
    return out;
  }

  RsrcFileRef file_ = 0;
  std::vector<int32> images_;
  std::vector<UHandle> values_;
};

// The panel shown in a window of its own, active, whose main loop types the
// scripted keys from its background while a menu tracks: the menus a test
// chooses from with the keyboard.
struct KeyedWindow {
  static inline std::vector<uInt32> keys;
  static inline size_t next = 0;
  static int32 TypeKeys(Bool32) {
    for (; next < keys.size(); ++next) {
      PlatInjectKey(keys[next], true, PlatTickMs());
      PlatInjectKey(keys[next], false, PlatTickMs());
    }
    return 0;
  }
  static void Script(std::vector<uInt32> k) {
    keys = std::move(k);
    next = 0;
  }
  // The window (kWNoWindow when none could be made).
  static WindowRef Show(ObjHeap panel) {
    const Rect place{40, 41, 440, 641};
    const WindowRef shown = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    if (shown == kWNoWindow) return shown;
    PutNative32(*panel + OHWord(panel, kOHExtension) + kHeapExtWindow, uInt32(shown));
    MLoadMenuColors();
    WBuildKeyTable();
    PlatSetActiveWindow(WHostWindow(shown));
    WMainLoopHooks hooks{};
    hooks.background = &TypeKeys;
    WSetMainLoopHooks(hooks);
    return shown;
  }
  static void Hide(ObjHeap panel, WindowRef shown) {
    WResetMainLoopHooks();
    if (!shown) return;
    PutNative32(*panel + OHWord(panel, kOHExtension) + kHeapExtWindow, 0);
    WDestroy(shown);
  }
};

}  // namespace graphtest
