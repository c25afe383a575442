// Panel windows of VIs: the cascade of new windows, stored windows kept on
// the screen, opening and closing panels, and window titles.
#include "mgsource/path.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/winproc.h"
#include "viinst_test_support.h"

using namespace qxvitest;

namespace {

class PanelWindowTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    PanelCascadeResetForTest();
  }
  void TearDown() override {
    VITest::TearDown();
    PanelCascadeResetForTest();
  }
  static UHandle NewVI(const std::string& name, int16 kind = kVIKindDatalog) {
    UHandle vi = NewVICore(kind, PS(name), -1);
    EXPECT_NE(vi, nullptr);
    return vi;
  }
  static WindowRef WindowOf(UHandle vi) { return WindowRef(ExtWord(Panel(vi), kHeapExtWindow)); }
  static Rect Global(WindowRef w) {
    Rect r;
    WGetGlobalRect(w, &r);
    return r;
  }
  static std::string Title(WindowRef w) {
    Str255 t;
    WGetTitle(w, t);
    return std::string(reinterpret_cast<const char*>(t + 1), t[0]);
  }
  static int QueuedMenuEvents() {
    WEventRecord e{};
    e.code = -130;
    e.window = kWRootWindow;
    return WFindQueuedEvent(&e) >= 0 ? 1 : 0;
  }
};

// On a work area of 1024 x 768, a window of options 60 has a frame
// of 25 pixels at the top and 6 on each side, so the cascade area is
// top 25 + 2 = 27, left 6 + 2 + 130 = 138, bottom 766, right 1022: 884 x 739.
// A panel of 400 x 300 leaves 484 x 439: 10 positions, steps 53 and 48.
TEST_F(PanelWindowTest, TheFirstThreePanelsCascade) {
  PlatSetWorkArea(PlatRect{0, 0, 1024, 768});
  Rect margins;
  WGetShellRect(kCascadeOptions, &margins);
  ASSERT_EQ(margins.top, 25);
  ASSERT_EQ(margins.left, 6);
  const int16 expected[3][2] = {{27, 138}, {75, 191}, {123, 244}};
  UHandle vis[3];
  for (int i = 0; i < 3; ++i) {
    vis[i] = NewVI("panel" + std::to_string(i));
    ASSERT_EQ(OpenFrontPanel(vis[i]), 1);
    const WindowRef w = WindowOf(vis[i]);
    ASSERT_NE(w, kWNoWindow);
    const Rect r = Global(w);
    EXPECT_EQ(r.top, expected[i][0]) << i;
    EXPECT_EQ(r.left, expected[i][1]) << i;
    EXPECT_EQ(r.bottom - r.top, kDefaultPanelHeight);
    EXPECT_EQ(r.right - r.left, kDefaultPanelWidth);
    EXPECT_TRUE(WIsVisible(w));
    EXPECT_EQ(Title(w), "panel" + std::to_string(i));
    EXPECT_EQ(PanelCascadeCount(), i + 1);
  }
  // The last opened is in front.
  WindowRef order[3];
  ASSERT_EQ(WWindowsInOrder(order, 3), 3);
  EXPECT_EQ(order[0], WindowOf(vis[2]));
  // Opening an open panel brings it to the front and places nothing.
  EXPECT_EQ(OpenFrontPanel(vis[0]), 1);
  WWindowsInOrder(order, 3);
  EXPECT_EQ(order[0], WindowOf(vis[0]));
  EXPECT_EQ(PanelCascadeCount(), 3);
  // When the list empties the cascade starts again.
  for (UHandle v : vis) DisposeVI(v, 1);
  EXPECT_EQ(PanelCascadeCount(), 0);
  UHandle again = NewVI("again");
  ASSERT_EQ(OpenFrontPanel(again), 1);
  EXPECT_EQ(Global(WindowOf(again)).top, 27);
  EXPECT_EQ(Global(WindowOf(again)).left, 138);
}

TEST_F(PanelWindowTest, ASmallWorkAreaStillCascades) {
  PlatSetWorkArea(PlatRect{0, 0, 300, 200});
  UHandle a = NewVI("a"), b = NewVI("b"), c = NewVI("c");
  for (UHandle v : {a, b, c}) ASSERT_EQ(OpenFrontPanel(v), 1);
  // The panel is cut to the area: no slack, so two positions 10 and 30 apart.
  const Rect ra = Global(WindowOf(a)), rb = Global(WindowOf(b)), rc = Global(WindowOf(c));
  EXPECT_EQ(rb.left - ra.left, 10);
  EXPECT_EQ(rb.top - ra.top, 30);
  EXPECT_EQ(rc.left, ra.left);
  EXPECT_EQ(rc.top, ra.top);
}

TEST_F(PanelWindowTest, AStoredWindowOffTheScreenIsPinned) {
  struct Case {
    int16 v, h;
    int16 top, left;
  };
  // On a 1024 x 768 work area the panel area for options 60 is 25, 6, 762,
  // 1018; inset by 4 and kept 60 pixels from its right and bottom edges.
  PlatSetWorkArea(PlatRect{0, 0, 1024, 768});
  const Case cases[] = {
      {-500, 2000, 29, 954}, {5000, -70, 698, 10}, {100, 200, 100, 200}, {25, 6, 25, 6}, {24, 6, 29, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + "," + std::to_string(c.h));
    UHandle vi = NewVI("stored");
    ObjHeap p = Panel(vi);
    const Rect content{0, 0, 100, 200};
    std::memcpy(*p + Ext(p) + kHeapExtContentRect, &content, sizeof content);
    const Point at{c.v, c.h};
    std::memcpy(*p + Ext(p) + kHeapExtContentOrigin, &at, sizeof at);
    ASSERT_EQ(OpenFrontPanel(vi), 1);
    const Rect r = Global(WindowOf(vi));
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.bottom - r.top, 100);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(PanelCascadeCount(), 0);
    DisposeVI(vi, 1);
  }
  Rect r{-10, -10, 10, 10};
  PinWindowRect(&r, 0);
  EXPECT_EQ(r.top, 4);
  EXPECT_EQ(r.left, 4);
  EXPECT_EQ(r.bottom, 24);
  PinWindowRect(nullptr, 0);
}

TEST_F(PanelWindowTest, OpeningAPanelBindsItsDataSpaceAndReservesAsTheStateAsks) {
  for (uInt32 state = 0; state < 16; ++state) {
    SCOPED_TRACE(state);
    Seen() = Calls{};
    UHandle vi = NewVI("state");
    ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
    DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
    InitDataSpace(ds);
    VIRec(vi)->eState = state;
    ASSERT_EQ(OpenFrontPanel(vi), 1);
    EXPECT_EQ((*ds)->panelFlag1, 1);
    EXPECT_EQ((*ds)->panelFlag2, 1);
    EXPECT_EQ((*ds)->panelOpen, 1);
    const bool reserves = state == 4 || state == 5 || state == 6 || state == 8 || state == 12 || state == 13 ||
                          state == 14;
    EXPECT_EQ(Seen().reserve, reserves ? 1 : 0);
    CloseVI(vi, 0, 0, 1);
    EXPECT_FALSE(IsVILoaded(vi));
  }
}

TEST_F(PanelWindowTest, ThePanelListUpdateIsPostedUnlessTheMarksSayNot) {
  for (uInt32 marks : {0u, uInt32(kVIMarkPanel4), uInt32(kVIMarkPanel8), 0x1u}) {
    Drain();
    UHandle vi = NewVI("listed");
    VIRec(vi)->marks = marks;
    ASSERT_EQ(OpenFrontPanel(vi), 1);
    EXPECT_EQ(QueuedMenuEvents(), (marks & 0xC) ? 0 : 1) << marks;
    DisposeVI(vi, 1);
  }
}

TEST_F(PanelWindowTest, ProxiesHaveNoPanel) {
  for (int16 kind : {int16(kVIKindProxyCaller), int16(kVIKindProxyCallee)}) {
    qxtest::Reports::Get().Clear();
    UHandle vi = NewVI("remote", kind);
    EXPECT_EQ(OpenFrontPanel(vi), 0);
    EXPECT_EQ(OpenVIPanel(vi), kGenericErr);
    EXPECT_EQ(qxtest::Reports::Get().Count("OpenFrontPanel on proxy \"remote\"; don't do that!"), 2);
  }
}

TEST_F(PanelWindowTest, APanelThatCannotBeLoadedIsNotOpened) {
  UHandle vi = NewVI("unloaded");
  ObjHeap p = Panel(vi);
  VIRec(vi)->panelHeap = nullptr;
  EXPECT_EQ(OpenFrontPanel(vi), 0);
  VIRunHooks run{};
  static ObjHeap gLoaded = nullptr;
  gLoaded = p;
  run.loadPanelHeap = [](UHandle v) -> MgErr {
    VIRec(v)->panelHeap = gLoaded;
    return kNoErr;
  };
  SetVIRunHooks(&run);
  EXPECT_EQ(OpenFrontPanel(vi), 1);
  EXPECT_NE(WindowOf(vi), kWNoWindow);
}

TEST_F(PanelWindowTest, DragsOverAPanelWindowReachItsPanel) {
  static ObjHeap gDraggedOver = nullptr;
  const VIShellHooks saved = VIShell();
  VIShellHooks shell = saved;
  shell.viDropHandler = [](WEventRecord*, uInt32 refCon) {
    gDraggedOver = reinterpret_cast<ObjHeap>(uintptr_t(refCon));
    return 7;
  };
  SetVIShellHooks(&shell);
  UHandle vi = NewVI("dropped on");
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  WEventRecord e{};
  EXPECT_EQ(DragSendEvent(&e, kWEvDragEnter, kDragKindDrop, WHostWindow(WindowOf(vi)), Point{100, 200}), 7);
  EXPECT_EQ(gDraggedOver, Panel(vi));
  SetVIShellHooks(&saved);
}

TEST_F(PanelWindowTest, TheClipboardWindowStaysHidden) {
  UHandle vi = Keep(NewVICore(kVIKindRoot, PS("clip"), -1));
  const WindowRef w = FPOpenWindow(vi, Panel(vi), 1);
  ASSERT_NE(w, kWNoWindow);
  EXPECT_FALSE(WIsVisible(w));
  EXPECT_EQ(FPOpenWindow(vi, nullptr, 1), kWNoWindow);
  EXPECT_EQ(FPOpenWindow(nullptr, Panel(vi), 1), kWNoWindow);
}

TEST_F(PanelWindowTest, ControlPanelsAreUntitled) {
  UHandle vi = NewVI("control", kVIKindControl);
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  EXPECT_EQ(Title(WindowOf(vi)), "");
}

TEST_F(PanelWindowTest, SetVITitleReportsChangedOnlyForADifferentTitle) {
  UHandle vi = NewVI("titled");
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  const WindowRef w = WindowOf(vi);
  struct Step {
    const char* title;  // null: clear
    int32 changed;
    const char* shown;
  };
  const Step steps[] = {
      {nullptr, 0, "titled"}, {"Custom", 1, "Custom"}, {"Custom", 0, "Custom"}, {"custom", 1, "custom"},
      {"", 1, "titled"},      {"", 0, "titled"},       {nullptr, 1, "titled"},  {nullptr, 0, "titled"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.title ? s.title : "(none)");
    int32 changed = -1;
    EXPECT_EQ(SetVITitle(vi, s.title ? ConstPStr(PS(s.title)) : nullptr, &changed), kNoErr);
    EXPECT_EQ(changed, s.changed);
    EXPECT_EQ(Title(w), s.shown);
  }
  int32 changed = -1;
  MemFailNthAllocation(1);
  EXPECT_EQ(SetVITitle(vi, PS("Short"), &changed), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(SetVITitle(nullptr, PS("x"), &changed), kArgErr);
}

// CloseFPAndUnload: each condition in turn keeps the panel.
TEST_F(PanelWindowTest, CloseFPAndUnloadHonoursEachCondition) {
  struct Case {
    const char* what;
    void (*spoil)(UHandle vi);
    bool unloads;
  };
  const Case cases[] = {
      {"all met", [](UHandle) {}, true},
      {"no path",
       [](UHandle vi) {
         FDisposePath(VIRec(vi)->path);
         VIRec(vi)->path = nullptr;
       },
       false},
      {"modified", [](UHandle vi) { VIRec(vi)->modFlags = 1; }, false},
      {"not marked", [](UHandle vi) { VIRec(vi)->flags2 &= ~0x800000u; }, false},
      {"flags2 0x1000", [](UHandle vi) { VIRec(vi)->flags2 |= 0x1000; }, false},
      {"flags2 0x2000", [](UHandle vi) { VIRec(vi)->flags2 |= 0x2000; }, false},
      {"flags2 0x10000", [](UHandle vi) { VIRec(vi)->flags2 |= 0x10000; }, false},
      {"flags2 0x80000", [](UHandle vi) { VIRec(vi)->flags2 |= 0x80000; }, false},
      {"flags2 0x20000000", [](UHandle vi) { VIRec(vi)->flags2 |= 0x20000000; }, false},
      {"flags 0x100", [](UHandle vi) { VIRec(vi)->flags |= 0x100; }, false},
      {"print at completion", [](UHandle vi) { VIRec(vi)->flags2 |= 0x8000; }, false},
      {"name held", [](UHandle vi) { HoldVIName(VIRec(vi)->name, 0); }, false},
      {"marks 0x400", [](UHandle vi) { VIRec(vi)->marks |= 0x400; }, false},
      {"other flags2 bits", [](UHandle vi) { VIRec(vi)->flags2 |= 0x40000; }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UHandle vi = NewVI("unload");
    ASSERT_EQ(OpenFrontPanel(vi), 1);
    const WindowRef w = WindowOf(vi);
    VIRec(vi)->path = FEmptyPath(nullptr);
    VIRec(vi)->flags2 = 0x800000;
    c.spoil(vi);
    EXPECT_EQ(CloseFPAndUnload(vi), c.unloads ? 1 : 0);
    EXPECT_EQ(VIRec(vi)->panelHeap == nullptr, c.unloads);
    EXPECT_EQ(WIsWindow(w), c.unloads ? 0 : 1);
    HoldVIName(nullptr, 1);
    DisposeVI(vi, 1);
  }
  EXPECT_EQ(CloseFPAndUnload(nullptr), 0);
}

}  // namespace
