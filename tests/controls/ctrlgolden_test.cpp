// One control of each class made at run time, placed from its templates
// with the built-in control pictures as its images, drawn at full colour and
// into a one-bit pixmap, as a window update and as a blink draws it, against
// its golden sheet.
#include <filesystem>
#include <utility>
#include <string>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/ctlsize.h"
#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "controls/listbox.h"
#include "controls/picc.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "controls/table.h"
#include "engine/vi/rtrsrc.h"
#include "golden_image.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/fpinit.h"
#include "tools/tdbuilder.h"
#include "mgsource/draw/pictops.h"
#include "panel/textparts.h"
#include "panel/datageom.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/panel_test_support.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"
#include "rtlib/chartdata.h"
#include "tools/dlgwriter.h"

namespace {

using namespace dlgwriter;

// Template ids: the owner label, the text parts, the pictured parts.
constexpr int16 kOwnerLabel = 10, kDigital = 11, kItemText = 12, kTypedText = 13;
constexpr uInt16 kFramePart = 28;

struct Made {
  const char* className;
  uInt32 kind;
  int32 rsrc;
};
// Every class a panel makes at run time, and the template it is made from.
constexpr Made kClasses[] = {
    {"Numeric", kCatDDO, 20}, {"Color Box", kCatDDO, 21}, {"Ring", kCatDDO, 22},       {"Boolean", kCatDDO, 23},
    {"String", kCatDDO, 24},  {"Listbox", kCatDDO, 25},   {"Color Ramp", kCatDDO, 26}, {"Cosmetic", kCatCOSM, 40},
    {"MultiCosmetic", kCatCOSM, 41}, {"Label", kCatCOSM, kOwnerLabel}, {"MultiLabel", kCatCOSM, 42}};

class CtrlGolden : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    // The program joins the listbox, scale, sizing, table and graph methods
    // at start-up; the sheet shows them whichever test joined them first.
    static const bool joined = (ControlsJoinSizeSlots(), ControlsJoinListboxSlots(), ControlsInstallScaleHooks(),
                                ControlsJoinScaleSlots(), ControlsJoinTableSlots(), ControlsJoinGraphDrawSlots(), true);
    (void)joined;
    MLoadMenuColors();  // the scroll bars' colours
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    InitFPImages();
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    w.Add(kRsrcLabl, kOwnerLabel, LabelTemplate(kLabelPartId, {0, 0, 14, 60}, "Label", 0, 0, 0, kTransparentColor));
    w.Add(kRsrcLabl, kDigital, LabelTemplate(10, {18, 4, 34, 76}, "0.00", 0, 0, 0, 0xFFFFFF));
    w.Add(kRsrcLabl, kItemText, LabelTemplate(12, {18, 4, 34, 76}, "Item", 0, 0, 0x000080, kTransparentColor));
    w.Add(kRsrcLabl, kTypedText, LabelTemplate(kTextPartId, {18, 4, 34, 76}, "Text", 0, kTypedTextFlag, 0, 0xFFFFC0));
    // Pictured parts: code 9 + the table index of the picture.
    const struct {
      int16 id;
      uInt16 part;
      Rect r;
      uInt32 code;
    } pictured[] = {{30, kFramePart, {16, 0, 36, 80}, 9},  {31, 41, {16, 0, 36, 36}, 101}, {32, kFramePart, {16, 0, 36, 80}, 174},
                    {33, 21, {16, 0, 48, 40}, 110},        {34, kFramePart, {16, 0, 36, 80}, 304}, {35, kFramePart, {16, 0, 56, 80}, 383},
                    {36, 8, {16, 0, 30, 80}, 120},          {40, 0, {0, 0, 40, 60}, 200}};
    for (const auto& p : pictured) w.Add(kRsrcCosm, p.id, CosmeticTemplate(p.part, p.r, {0, p.code}, 0x203880, 0x40A0D0));
    w.Add(kRsrcMCos, 41, MultiCosmeticTemplate(0, {0, 0, 32, 32}, {{0, 250}, {0, 260}}));
    w.Add(kRsrcMLbl, 42, MultiLabelTemplate(0, {0, 0, 16, 60}, {{0, 270}}, 0, {"One", "Two"}));
    const auto display = [&](int16 id, std::vector<PartRef> parts) {
      parts.insert(parts.begin(), {kClsLabel, kOwnerLabel});
      w.Add(kRsrcDDOD, id, DisplayTemplate(0, 0, parts));
    };
    display(20, {{kClsLabel, kDigital}, {kClsCosmetic, 30}});
    display(21, {{kClsCosmetic, 31}});
    display(22, {{kClsLabel, kItemText}, {kClsCosmetic, 32}});
    display(23, {{kClsCosmetic, 33}});
    display(24, {{kClsLabel, kTypedText}, {kClsCosmetic, 34}});
    display(25, {{kClsCosmetic, 35}});
    display(26, {{kClsCosmetic, 36}});
    for (int16 id : {20, 22, 26}) w.Add(kRsrcSNUM, id, NumericTemplate(10, 0));
    w.Add(kRsrcSNUM, 21, NumericTemplate(7, 0));
    w.Add(kRsrcSLBX, 25, ListboxTemplate(kOwnerLabel, 0));
    const rsrcw::Bytes file = w.Write();
    ptest::OpenRunTimeRsrcBytes(file, &file_);
    if (HasFatalFailure()) return;
    ASSERT_EQ(OInit(panel_, root_, Point{0, 0}, 0), root_);
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    if (file_) RCloseFile(file_);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  // Draws the objects (each with its value) into pixmaps of depths 32 and 1
  // in draw modes 4 and 1, shown in the window, against the goldens
  // <stem>.png, <stem>-blink.png, <stem>-bw.png and <stem>-bw-blink.png.
  void ExpectSheets(const std::vector<std::pair<int32, const void*>>& objects, const std::string& stem) {
    PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
    const Rect all{0, 0, 200, 300};
    const struct {
      int32 depth, mode;
      const char* suffix;
    } sheets[] = {{32, kDrawModeNormal, ".png"},
                  {32, kDrawModeBlink, "-blink.png"},
                  {1, kDrawModeNormal, "-bw.png"},
                  {1, kDrawModeBlink, "-bw-blink.png"}};
    for (const auto& s : sheets) {
      const std::string golden = stem + s.suffix;
      SCOPED_TRACE(golden);
      int32 image = 0;
      ASSERT_EQ(ICreatePixmap(-1, &all, s.depth, &image), kNoErr);
      ASSERT_EQ(IGetDepth(image), s.depth);
      WPortState port;
      WSetup(window_, &port);
      ImageSaveRecord save{};
      IOpen(image, &save);
      DSelectNormPen(0xFFFFFF, 0xFFFFFF);
      DPaintRect(&all);
      for (const auto& [o, value] : objects) ODrawObj(panel_, o, int32(uintptr_t(value)), 0, s.mode);
      IClose(image, &save);
      PlatSurfaceClear(surface, 0x808080);
      IDraw(image, nullptr, &all, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF);
      WRestore(&port);
      IRelease(image);
      qxtest::ExpectMatchesGolden(surface, std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens" / golden,
                                  "QX_UPDATE_GOLDENS=1 test_controls --gtest_filter=CtrlGolden.*, then check by eye");
    }
  }
  // A cosmetic part of the owner drawn by a built-in picture procedure.
  int32 Pictured(int32 owner, int16 id, PictureProc proc, uInt32 style, Rect r) {
    const int32 part = Obj(kClsCosmetic, owner, id);
    int32 image = 0;
    EXPECT_EQ(INewProcImage(proc, style, &image), kNoErr);
    SetBounds(part, r);
    SetW(part, kObjImage / 4, kObjImageHeld | image);
    SetW(part, kObjCosmFore / 4, 0x303030);
    SetW(part, kObjCosmBack / 4, 0xC0C0C0);
    return part;
  }
  RsrcFileRef file_ = 0;
};

TEST_F(CtrlGolden, EachClassLooksAsItsGoldenAtEachDepthAndMode) {
  std::vector<int32> made;
  for (size_t i = 0; i < std::size(kClasses); ++i) {
    const Made& c = kClasses[i];
    SCOPED_TRACE(c.className);
    Str255 name;
    name[0] = uChar(std::strlen(c.className));
    std::memcpy(name + 1, c.className, name[0]);
    const Point at{int16(30 + 60 * (i / 4)), int16(40 + 70 * (i % 4))};
    const int32 o = FPNewObjectAt(panel_, at, c.kind, name, 0, c.rsrc);
    ASSERT_NE(o, 0);
    made.push_back(o);
  }
  std::vector<std::pair<int32, const void*>> drawn;
  for (int32 o : made) drawn.push_back({o, nullptr});
  ExpectSheets(drawn, "controls");
}

// The classes a panel gets only from a stored VI, built part by part with
// the built-in control pictures: a slide (housing, fill, slider), a knob
// (dial and needle), a path with a malformed value (its slash) and a
// picture of painted rectangles on its content's background (on the
// one-bit sheets its off-screen copy is made again at that depth, with the
// rectangles in it).
TEST_F(CtrlGolden, StoredClassesLookAsTheirGoldensAtEachDepthAndMode) {
  int32 slide = 0, knob = 0, path = 0, picture = 0;
  Control(tdb::DBL(), kClsSlide, &slide);
  SetBounds(slide, {10, 10, 190, 60});
  Pictured(slide, kPartNeedle, SliderPictProc, 0x42000, {80, 20, 92, 50});
  Pictured(slide, kPartFill, RectPictProc, 0x4401, {92, 30, 180, 40});
  Pictured(slide, kPartHousing, RectPictProc, 0x4202, {10, 10, 190, 60});
  Control(tdb::DBL(), kClsKnob, &knob);
  SetBounds(knob, {10, 80, 70, 140});
  Pictured(knob, kPartNeedle, RectPictProc, 0x4400, {20, 106, 40, 114});
  Pictured(knob, kPartHousing, KnobPictProc, 0, {10, 80, 70, 140});
  Control(tdb::Path(), kClsPath, &path);
  SetBounds(path, {90, 80, 110, 280});
  const int32 text = Obj(kClsLabel, path, 11), state = Obj(kClsCosmetic, path, 43);
  SetBounds(text, {90, 80, 106, 250});
  SetBounds(state, {90, 255, 110, 275});
  const Rect line{90, 80, 106, 250};
  TRecord record = TNew(&line, 0, reinterpret_cast<const uChar*>("/tmp/a path"), 11, kAppFont, 0, 0xFFFFFF);
  ASSERT_NE(record, nullptr);
  SetW(text, kObjText / 4, int32(uintptr_t(record)));
  ctrl::SetPartColours(panel_, state, 0x000000, kTransparentColor);
  UHandle malformed = AZNewHClr(2);
  Control(tdb::String(), kClsPicture, &picture);
  SetBounds(picture, {130, 160, 190, 280});
  const int32 content = Pictured(picture, 28, RectPictProc, 0x4401, {130, 160, 190, 280});
  SetW(content, 0, int32(ctrl::kFlagOpaque));
  ctrl::SetPartColours(panel_, content, 0x000000, 0xFFFFF0);
  UHandle shapes = DSNewHClr(4);
  for (int32 i = 0; i < 4; ++i) {
    PictOpArgs a;
    a.colours[0] = a.colours[2] = DColor(0x3060C0 + 0x302000 * i);
    ASSERT_EQ(PictAppendOp(shapes, 0, kPictOpNormPen, &a), kNoErr);
    a.rect = Rect{int16(5 + 10 * i), int16(5 + 25 * i), int16(30 + 10 * i), int16(40 + 25 * i)};
    ASSERT_EQ(PictAppendOp(shapes, 0, kPictOpPaintRect, &a), kNoErr);
  }
  const float64 at = 5;
  ExpectSheets({{slide, &at}, {knob, &at}, {path, &malformed}, {picture, &shapes}}, "stored-controls");
  for (int32 o : {slide, knob, path, picture}) ODispose(panel_, o);
  AZDisposeHandle(malformed);
  DSDisposeHandle(shapes);
}

// A table of strings with row and column headers, a waveform graph of a
// 1-D array and a strip chart of eight points in its history, each graph
// with an x and a y scale whose walks place the ticks and number labels.
// The table is drawn first: the clip it leaves lets the graphs' scales draw.
TEST_F(CtrlGolden, TablesAndGraphsLookAsTheirGoldensAtEachDepthAndMode) {
  // An array of strings: its dimensions, then the string handles.
  const auto strings = [](std::vector<int32> dims, std::vector<std::string> cells) {
    const size_t head = 4 * dims.size();
    UHandle a = DSNewHClr(int32(head + 4 * cells.size()));
    for (size_t d = 0; d < dims.size(); ++d) PutNative32(*a + 4 * d, uInt32(dims[d]));
    for (size_t i = 0; i < cells.size(); ++i) {
      UHandle c = DSNewHandle(int32(4 + cells[i].size()));
      PutNative32(*c, uInt32(cells[i].size()));
      std::memcpy(*c + 4, cells[i].data(), cells[i].size());
      std::memcpy(*a + head + 4 * i, &c, sizeof c);
    }
    return a;
  };
  int32 table = 0;
  const int32 tableDco = Control(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}), kClsTable, &table);
  SetBounds(table, {5, 5, 95, 145});
  ctrl::SetPartColours(panel_, Pictured(table, kTablePartCells, RectPictProc, 0x4401, {10, 10, 90, 140}), 0, 0xFFFFFF);
  Pictured(table, kTablePartFrame, RectPictProc, 0x4202, {5, 5, 95, 145});
  ASSERT_EQ(Alloc(tableDco), kNoErr);
  SetW(table, 0, int32(W(table, 0) | kTableFlagColumnHeaders | kTableFlagRowHeaders));
  TableState* st = TableStateOf(panel_, table);
  ASSERT_NE(st, nullptr);
  st->columnHeaders = strings({3}, {"A", "B", "C"});
  st->rowHeaders = strings({3}, {"1", "2", "3"});
  TableCellFontRec look{};
  look.row = look.column = kTableAll, look.backColor = kTransparentColor;  // cells on the area's white
  TableSetCellFormat(panel_, table, &look, kCellLookBack);
  UHandle* tableValue = TableValue(panel_, table);
  ASSERT_NE(tableValue, nullptr);
  UHandle cells = *tableValue = strings({3, 3}, {"1.5", "ab", "x", "20", "cd", "y", "300", "ef", "z"});

  // A graph of the kind with its plot area and, for x along the bottom and
  // y at the left, a scale from 0 to the maximum in five steps with its
  // tick (a black bar) and its label (a text fitted to the number).
  const auto graph = [&](int16 kind, const tdb::TD& type, Rect bounds, Rect area, float64 xMax, float64 yMax) {
    int32 g = 0;
    const int32 dco = Control(type, kClsGraphChart, &g);
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(kind));
    SetBounds(g, bounds);
    ctrl::SetPartColours(panel_, Pictured(g, kGPartPlotArea, RectPictProc, 0x4401, area), 0, 0xFFFFFF);
    const struct {
      int16 id;
      uInt32 horizontal, justify;
      Rect tick, label;
      float64 max;
      int16 from, to;
    } scales[] = {{kGPartXScale, kScaleHorizontal, kTRJustifyCentre, {area.bottom, 0, int16(area.bottom + 4), 1},
                   {int16(area.bottom + 4), 0, int16(area.bottom + 16), 16}, xMax, area.left, int16(area.right - 1)},
                  {kGPartYScale, 0, kTRJustifyRight, {0, int16(area.left - 4), 1, area.left},
                   {0, int16(area.left - 24), 12, int16(area.left - 4)}, yMax, int16(area.bottom - 1), area.top}};
    for (const auto& s : scales) {
      const int32 scale = Obj(kClsScale, g, s.id);
      SetBounds(scale, area);
      SetW(scale, 0, int32(s.horizontal | kScaleEndLabels | kScaleEndTicks | kScaleInnerLabels | kScaleInnerTicks));
      PutNative16(*panel_ + scale + kScaleObjEditIndex, uInt16(-1));  // no label being edited
      ctrl::SetPartColours(panel_, Pictured(scale, kScalePartTick, RectPictProc, 0x8800, s.tick), 0, 0);
      const int32 label = Obj(kClsLabel, scale, kScalePartLabel);
      SetBounds(label, s.label);
      SetW(label, 0, int32(kScaleLabelFitsText));
      const Rect text{int16(s.label.top + 1), int16(s.label.left + 1), int16(s.label.bottom - 1),
                      int16(s.label.right - 1)};
      SetW(label, kObjText / 4, int32(uintptr_t(TNew(&text, s.justify, nullptr, 0, kAppFont, 0, kTransparentColor))));
    }
    SetW(g, kGraphXGridColorWord, kNoColor);
    SetW(g, kGraphYGridColorWord, kNoColor);
    if (IsChartType(kind))
      SetW(g, kGraphChartTypeWord, int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
    EXPECT_EQ(Alloc(dco), kNoErr);
    for (const auto& s : scales) {
      ScaleRec* r = ScaleRecOf(panel_, FindPart(panel_, g, s.id, 0));
      if (!r) continue;  // reported by ScaleRecOf
      r->min = r->start = 0, r->max = s.max, r->increment = s.max / 5, r->multiplier = 1;
      r->pixelStart = s.from, r->pixelEnd = s.to;
    }
    EXPECT_EQ(ResizePlotList(panel_, g, 1, 1, false), kNoErr);
    int32 n = 0;
    if (PlotRec* p = GraphPlots(GraphDataOf(panel_, g), &n)) p[0].lineColor = 0x0000C0;
    return g;
  };
  const int32 wave = graph(kGraphWaveform, tdb::Array(tdb::DBL()), {5, 155, 100, 295}, {10, 185, 80, 290}, 5, 10);
  const float64 ys[] = {1, 4, 2, 8, 5, 7};
  UHandle waveValue = DSNewHandle(4 + sizeof ys);
  PutNative32(*waveValue, uInt32(std::size(ys)));
  std::memcpy(*waveValue + 4, ys, sizeof ys);
  // The chart's history holds 20 points, 8 of them written.
  const int32 chart = graph(kChartFirst, tdb::DBL(), {105, 5, 195, 295}, {110, 35, 175, 290}, 20, 10);
  ChartHistory* history = ChartRecordOf(panel_, chart);
  ASSERT_NE(history, nullptr);
  UHandle buffer = DSNewHClr(4 + 8 * 20);
  PutNative32(*buffer, 20);
  history->buffer = buffer;
  const float64 points[] = {2, 3, 5, 9, 6, 4, 4, 7};
  Copy1DToChartHistory(8, 4, points, int32(std::size(points)), history);
  const float64 newest = points[7];
  ExpectSheets({{table, &cells}, {wave, &waveValue}, {chart, &newest}}, "table-graph");
  EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
  for (int32 o : {table, wave, chart}) ODispose(panel_, o);
  EXPECT_EQ(DSDisposeHandle(waveValue), kNoErr);
  EXPECT_EQ(DSDisposeHandle(buffer), kNoErr);
}

}  // namespace
