// The colour palette: its grid, the choices a run ends with, the recent
// colours, the colour dialog's part, the placement beside the point through
// the menu tracker, and bad colour tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "draw_start.h"
#include "engine/vi/rtrsrc.h"
#include "golden_image.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wsysinfo.h"
#include "panel/colorpal.h"
#include "panel_test_support.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_window.h"
#include "tools/colorwriter.h"

namespace colorpaltest {

struct Call {
  DColor fore, back;
  int32 flags;
};
std::vector<Call> gCalls;
int32 Record(int32 fore, int32 back, int32 flags, int32) {
  gCalls.push_back({DColor(fore), DColor(back), flags});
  return 7;
}
DColor gDialogColour = 0;
int32 gDialogAnswer = 0;
std::string gDialogCaption;
int32 Dialog(ConstPStr caption, DColor, DColor* out) {
  gDialogCaption.assign(reinterpret_cast<const char*>(caption + 1), caption[0]);
  if (gDialogAnswer) *out = gDialogColour;
  return gDialogAnswer;
}

rsrcw::Bytes Grid(uInt32 columns, uInt32 count, size_t colours) {
  rsrcw::Bytes b;
  for (uInt32 v : {columns, count})
    for (int s = 24; s >= 0; s -= 8) b.push_back(uChar(v >> s));
  b.resize(b.size() + colours * 4, 0x40);
  return b;
}

class Palette : public ptest::PanelTest {
 protected:
  void SetUp() override { Open({}); }
  // The resource file with the palette's tables, those of extra replacing them.
  void Open(const std::vector<std::pair<int32, rsrcw::Bytes>>& extra) {
    PanelTest::SetUp();
    window_ = StartDrawingWindow(Rect{40, 40, 400, 600}, &port_);
    ASSERT_NE(window_, kWNoWindow);
    ASSERT_EQ(RInitResources(), kNoErr);
    MLoadMenuColors();
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    for (const auto& [id, bytes] : extra) w.Add(FourCC("CLR#"), id, bytes);
    qxbuild::AddColorResources(&w);
    ptest::OpenRunTimeRsrcBytes(w.Write(), &file_);
    ASSERT_EQ(InitPanelColorPalette(&menu_), kNoErr);
    gCalls.clear();
    SetColorDialogProc(&Dialog);
  }
  void TearDown() override {
    SetColorDialogProc(nullptr);
    DisposeColorPalette();
    MDisposeMenu(menu_);
    SetRunTimeRsrcFile(0);
    RCloseFile(file_);
    window_ = kWNoWindow;
    StopDrawingWindow(&port_);
    PanelTest::TearDown();
  }
  void Prepare(DColor fore, DColor back, int32 flags, int32 depth) {
    PrepareColorPalette(int32(fore), int32(back), flags, depth, &Record, 3);
    MCalcMenuSize(menu_);
  }
  int32 Send(int32 code, int32 a1 = 0, int32 a5 = 0, uInt32 a6 = 0) {
    MenuProcMsg m{};
    m.code = code;
    m.a1 = a1;
    m.a5 = a5;
    m.a6 = a6;
    return ColorPaletteMenuProc(&m, menu_);
  }
  Point CellCentre(int32 cell) const {
    const ColorPaletteRecord* p = ColorPalette();
    const int32 columns = int32(GetNative32(*p->tables[p->table]));
    const int32 row = (cell - 1) / columns, col = (cell - 1) % columns;
    return Point{int16(p->grid.top + row * kPalCell + 4), int16(p->grid.left + col * p->cellWidth + 4)};
  }
  // A mouse step onto the cell, then the run ended on it.
  int32 Choose(int32 cell) {
    Send(kMenuMouseStep, WPackPoint(CellCentre(cell)));
    return DoColorPalette(kColorPaletteMenuId, cell);
  }
  std::vector<DColor> Recent() const {
    const ColorPaletteRecord* p = ColorPalette();
    std::vector<DColor> v;
    for (int32 i = 0; i <= p->recentNewest; ++i) v.push_back(reinterpret_cast<const DColor*>(*p->recent)[i]);
    return v;
  }
  MenuHandle menu_ = nullptr;
  RsrcFileRef file_ = 0;
  WPortState port_{};
};

TEST_F(Palette, TheHitTestNamesCellsNoColourMoreAndOutside) {
  // Depth 4: 16 colours and transparent in 8 columns, 3 rows; the recent
  // list fills the last row's 7 free cells.
  Prepare(0, 0xFFFFFF, kPalForeground, 4);
  const ColorPaletteRecord* p = ColorPalette();
  ASSERT_EQ(p->table, 1);
  EXPECT_EQ(p->recentCapacity, 7);
  const Rect size = (*menu_)->size;
  EXPECT_EQ(size.right - 5, 8 * p->cellWidth) << "the width is a whole number of cells";
  const struct {
    Point at;
    int32 hit;
  } cases[] = {
      {CellCentre(1), 1},
      {CellCentre(10), 10},
      {CellCentre(17), 17},    // the transparent cell
      {CellCentre(18), 2001},  // a free cell without a recent colour
      {Point{int16(p->grid.bottom + 2), 4}, 2001},
      {Point{int16(p->more.top + 1), int16(p->more.left + 1)}, 10000},
      {Point{int16(size.bottom + 5), 4}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(PaletteHitTest(p, c.at), c.hit) << c.at.v << "," << c.at.h;
  // Skipping transparent cells, it is none.
  Prepare(0, 0xFFFFFF, kPalForeground | 0x8000, 4);
  EXPECT_EQ(PaletteHitTest(p, CellCentre(17)), 2001);
  // Without captions and "More..." the caption area is one pixel.
  Prepare(0, 0xFFFFFF, kPalForeground | kPalNoCaptions | kPalNoMore, 8);
  EXPECT_EQ((*menu_)->size.bottom, PaletteRows(p->tables[2]) * 9 + 4 + 1);
  EXPECT_EQ((*menu_)->size.right, 16 * 9 + 5);
}

TEST_F(Palette, RunsEndWithTheirChoiceAndTheRecentColours) {
  const DColor red = DStandardColors()[0], blue = DStandardColors()[1];
  Prepare(red, blue, kPalForeground, 4);
  // Out of the grid with nothing changed: no choice bits.
  Send(kMenuMouseStep, WPackPoint(Point{-20, -20}));
  EXPECT_EQ(DoColorPalette(kColorPaletteMenuId, 0), 7);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(gCalls[0].flags & kPalBoth, 0);
  EXPECT_EQ(gCalls[0].flags & (kPalFinal | kPalFromGrid), kPalFinal | kPalFromGrid);
  EXPECT_TRUE(Recent().empty());
  // A cell tracked and chosen: the live call and the final one; chosen twice it is in the list once.
  for (int32 cell : {3, 5, 3}) {
    gCalls.clear();
    Prepare(red, blue, kPalForeground, 4);
    Choose(cell);
    ASSERT_EQ(gCalls.size(), 2u);
    EXPECT_EQ(gCalls[0].flags & kPalFinal, 0) << "the tracking call";
    EXPECT_EQ(gCalls[1].fore, DStandardColors()[size_t(cell - 1)]);
    EXPECT_EQ(gCalls[1].back, blue);
    EXPECT_EQ(gCalls[1].flags, kPalForeground | kPalFinal | kPalFromGrid);
  }
  EXPECT_EQ(Recent(), (std::vector<DColor>{DStandardColors()[4], DStandardColors()[2]}));
  // A full list drops the oldest.
  for (int32 cell : {6, 7, 8, 9, 10, 11}) {
    Prepare(red, blue, kPalForeground, 4);
    Choose(cell);
  }
  const std::vector<DColor> recent = Recent();
  ASSERT_EQ(recent.size(), 7u);
  EXPECT_EQ(recent.front(), DStandardColors()[2]);
  EXPECT_EQ(recent.back(), DStandardColors()[10]);
  // The recent colours are cells past the table, newest last.
  Prepare(red, blue, kPalForeground, 4);
  EXPECT_EQ(PaletteCellColor(ColorPalette(), 18), DStandardColors()[2]);
  EXPECT_EQ(PaletteCellColor(ColorPalette(), 24), DStandardColors()[10]);
}

TEST_F(Palette, KeysMoveChooseCancelAndSwitchWhatIsSet) {
  const DColor red = DStandardColors()[0], blue = DStandardColors()[1];
  const struct {
    const char* what;
    std::vector<std::pair<int32, int32>> keys;  // key code, character
    int32 cell;                                 // the current cell at the end
    uInt32 choice;                              // the choice bits at the end
  } cases[] = {
      {"Down then Right", {{vkRight, 0}, {vkDown, 0}, {vkRight, 0}}, 10, kPalForeground},
      {"Left wraps inside the row", {{vkRight, 0}, {vkLeft, 0}}, 8, kPalForeground},
      {"Right past the last cell is More...", {{vkRight, 0}, {vkDown, 0}, {vkDown, 0}, {vkRight, 0}}, 10000,
       kPalForeground},
      {"any arrow from More... goes to the last cell",
       {{vkRight, 0}, {vkDown, 0}, {vkDown, 0}, {vkRight, 0}, {vkUp, 0}}, 17, kPalForeground},
      {"the mnemonic of _All for both sets both", {{vkRight, 0}, {vkAscii, 'a'}}, 1, kPalBoth},
      {"_Background's mnemonic", {{vkRight, 0}, {vkAscii, 'B'}}, 1, kPalBackground},
      {"another key toggles", {{vkRight, 0}, {vkAscii, 'x'}, {vkAscii, 'x'}, {vkAscii, 'q'}}, 1, kPalBackground},
  };
  for (const auto& c : cases) {
    Prepare(red, blue, kPalForeground | kPalSwitchKeys, 4);
    for (const auto& [key, ch] : c.keys) Send(kMenuKeyStep, 0, ch, uInt32(key));
    EXPECT_EQ((*menu_)->currentItem, c.cell) << c.what;
    EXPECT_EQ(ColorPalette()->flags & kPalBoth, c.choice) << c.what;
    if (c.cell == 1) {
      const DColor black = DStandardColors()[0];
      EXPECT_EQ(ColorPalette()->current[0], (c.choice & kPalForeground) ? black : red) << c.what;
      EXPECT_EQ(ColorPalette()->current[1], (c.choice & kPalBackground) ? black : blue) << c.what;
    }
  }
  // Enter chooses the cell; Escape closes with the colours shown at opening.
  Prepare(red, blue, kPalForeground, 4);
  Send(kMenuKeyStep, 0, 0, vkRight);
  MenuProcMsg m{};
  m.code = kMenuKeyStep;
  m.a6 = vkEnter;
  EXPECT_EQ(ColorPaletteMenuProc(&m, menu_), 1);
  EXPECT_EQ(m.a1, kColorPaletteMenuId);
  EXPECT_EQ(Send(kMenuKeyStep, 0, 27, vkAscii), kMenuStepClose);
  EXPECT_EQ(ColorPalette()->current[0], red);
}

TEST_F(Palette, MoreRunsTheDialogWithItsCaption) {
  const struct {
    int32 flags, answer;
    const char* caption;
    uInt32 bits;  // choice and source bits at the final call
  } cases[] = {
      {kPalForeground, 1, "_Foreground:", kPalForeground | kPalDialog},
      {kPalBackground, 1, "_Background:", kPalBackground | kPalDialog},
      {kPalBoth, 1, "Foreground and Background:", kPalBoth | kPalDialog},
      {kPalForeground | kPalSingle, 1, "_Foreground:", kPalForeground | kPalDialog},
      {kPalForeground, 0, "_Foreground:", kPalFromGrid},
  };
  for (const auto& c : cases) {
    gCalls.clear();
    gDialogColour = 0x123456;
    gDialogAnswer = c.answer;
    Prepare(0x0000FF, 0x00FF00, c.flags, 4);
    DoColorPalette(kColorPaletteMenuId, kPalMoreItem);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(uInt32(gCalls[0].flags) & (kPalBoth | kPalDialog | kPalFromGrid), c.bits) << c.caption;
    EXPECT_EQ(gDialogCaption, c.caption);
    if (c.answer && (c.flags & kPalForeground)) { EXPECT_EQ(gCalls[0].fore, 0x123456u) << c.caption; }
    if (c.answer && (c.flags & kPalBackground)) { EXPECT_EQ(gCalls[0].back, 0x123456u) << c.caption; }
  }
}

// The menu tracker runs the palette: the script steps run from its waits.
std::vector<std::function<void()>> gSteps;
size_t gNext = 0;
uInt32 gLast = 0;
int32 Background(Bool32) {
  if (gNext < gSteps.size() && PlatTickMs() - gLast >= 30) {
    gLast = PlatTickMs();
    gSteps[gNext++]();
  }
  return 0;
}

TEST_F(Palette, ItOpensAboveThePointOrBelowItNearTheScreenTop) {
  WBuildKeyTable();
  PlatSetActiveWindow(WHostWindow(window_));
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  WMainLoopHooks hooks{};
  hooks.background = &Background;
  WSetMainLoopHooks(hooks);
  for (int16 v : {int16(300), int16(0)}) {
    ActionParams record{};
    record.point = Point{v, 100};
    record.eventCode = kPalForeground;
    record.window = 0x0000FF;
    Point global = record.point;
    WLocalToGlobal(window_, &global);
    Rect shown{};
    gSteps = {[&] { WGetGlobalRect((*menu_)->window, &shown); },
              [&] {
                PlatInjectKey(0x1B, true, PlatTickMs());
                PlatInjectKey(0x1B, false, PlatTickMs());
              }};
    gNext = 0;
    gLast = PlatTickMs();
    PopUpColorPalette(panel_, nullptr, &record);
    const int32 height = (*menu_)->size.bottom;
    EXPECT_EQ(gNext, gSteps.size());
    if (v == 0) EXPECT_NEAR(shown.top, global.v + 30, 1) << "below the point";
    else EXPECT_NEAR(shown.top, global.v - height - 30, 1) << "above the point";
    EXPECT_NEAR((shown.left + shown.right) / 2, global.h, 2);
    EXPECT_EQ(record.window, 0x0000FF) << "cancelled: the colour is the one at opening";
  }
  WResetMainLoopHooks();
}

TEST_F(Palette, CellsDrawWithTransparentMarks) {
  Prepare(0xFF0000, 0x00FF00, kPalBoth, 8);
  PlatSurface* s = PlatWindowSurface(WHostWindow(window_));
  PlatSurfaceClear(s, 0xFFFFFF);
  DrawColorPaletteCells(ColorPalette(), 1);
  qxtest::ExpectMatchesGolden(s, std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens/colorpalette.png",
                              "QX_UPDATE_GOLDENS=1 build/tests/test_panel --gtest_filter=Palette.*");
  // The cache draws what the cells drawn again draw.
  const Rect g = ColorPalette()->grid;
  std::vector<uInt32> cached;
  for (int32 v = g.top; v < g.bottom; ++v)
    for (int32 h = g.left; h < g.right; ++h) cached.push_back(PlatSurfaceGetPixel(s, h, v));
  PlatSurfaceClear(s, 0xFFFFFF);
  DrawColorPaletteCells(ColorPalette(), 0);
  size_t i = 0, differ = 0;
  for (int32 v = g.top; v < g.bottom; ++v)
    for (int32 h = g.left; h < g.right; ++h) differ += PlatSurfaceGetPixel(s, h, v) != cached[i++];
  EXPECT_EQ(differ, 0u);
}

class BadTables : public Palette {
 protected:
  void SetUp() override {
    // No columns for the 4-bit table; more colours than bytes for the 8-bit one.
    Open({{2004, Grid(0, 17, 17)}, {2008, Grid(16, 300, 10)}});
  }
};

TEST_F(BadTables, AreLeftOutAndThatDepthShowsNoPalette) {
  const ColorPaletteRecord* p = ColorPalette();
  EXPECT_EQ(p->tables[1], nullptr);
  EXPECT_EQ(p->tables[2], nullptr);
  EXPECT_NE(p->tables[0], nullptr);
  ClearReports();
  Prepare(0, 0, kPalForeground, 4);
  EXPECT_NE(ReportText().find("Palette doesn't exist"), std::string::npos);
  EXPECT_EQ(PaletteHitTest(p, Point{4, 4}), 0);
  EXPECT_EQ(Send(kMenuKeyStep, 0, 0, vkDown), 0);
  Prepare(0, 0, kPalForeground, 1);
  EXPECT_EQ(PaletteHitTest(p, Point{4, 4}), 1);
}

}  // namespace colorpaltest
