// The tool bar as the engine's panel routines ask for it: the image of each
// slot for the VI's state, and the icon pane placed from the panel's
// content rectangle, also as the drop-target rectangle of a connector pane.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "engine/engine_test_support.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "engine/exec/panelplace.h"
#include "rtlib/datalog.h"
#include "shell/statepnl.h"
#include "shell/viwindow.h"
#include "tools/vibuilder.h"

namespace {

class StatePnlTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    vi_ = vib::NewVI({}, false);
    ASSERT_NE(vi_, nullptr);
    panel_ = vib::NewPanel(vi_);
    ASSERT_NE(panel_, nullptr);
    root_ = vib::NewObject(panel_, kClsFrontPanel, 76);
    ASSERT_NE(root_, 0);
    SetExt(kHeapExtRoot, uInt32(root_));
    SetExt(kHeapExtWindow, 1);  // read only as "has a window"
  }
  void TearDown() override {
    vib::DisposeVI(vi_);
    EngineTest::TearDown();
  }
  void SetExt(int32 at, uInt32 v) { PutNative32(*panel_ + OHWord(panel_, kOHExtension) + at, v); }
  void SetContent(const Rect& c, int16 parts) {
    std::memcpy(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtContentRect, &c, sizeof c);
    PutNative16(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindowOptions, uInt16(parts));
  }
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
  int32 root_ = 0;
};

TEST_F(StatePnlTest, EachSlotShowsTheImageOfTheVIsState) {
  struct Case {
    const char* what;
    int32 slot;
    uInt32 eState, flags2;
    uInt16 options;
    int32 image;
  } cases[] = {
      {"idle: Run", 1, 1, 0, 0, 0},
      {"broken: List Errors", 1, 0, 0, 0, 4},
      {"running", 1, 2, 0, 0, 1},
      {"running, stepping", 1, 2, 0x80, 0, 50},
      {"state 9, stepping", 1, 9, 0x80, 0, 50},
      {"state 9", 1, 9, 0, 0, 1},
      {"subVI waiting", 1, 4, 0, 0, 2},
      {"no Run button while running", 1, 2, 0, 1, 51},
      {"retrieval mode", 1, 1, 0x800, 0, 45},
      {"confirm mode without a record", 1, 1, 0x400000, 0, 51},
      {"Run Continuously", 2, 1, 0, 0, 6},
      {"running continuously", 2, 1, 0x400, 0, 7},
      {"no Run Continuously button", 2, 1, 0, 32, 52},
      {"state 7", 2, 7, 0, 0, 49},
      {"Abort", 3, 1, 0, 0, 37},
      {"no Abort button", 3, 1, 0, 128, 54},
      {"pause not allowed", 4, 2, 0, 0, 55},
      {"Pause", 4, 2, 0x200, 0, 15},
      {"paused", 4, 2, 0x240, 0, 16},
      {"paused and stepping", 4, 2, 0x2C0, 0, 47},
      {"no Pause button", 4, 2, 0x240, 8, 55},
      {"no text entry", 0, 1, 0, 0, 59},
      {"blank 5", 5, 1, 0, 0, 53},
      {"blank 8", 8, 1, 0, 0, 58},
      {"no such slot", 9, 1, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VIRecord* r = VIRec(vi_);
    r->eState = c.eState;
    r->flags2 = c.flags2;
    r->stored84 = c.options;
    EXPECT_EQ(StatePnlSlotIcon(panel_, c.slot), c.image);
  }
  // A data range error on the panel (its root's bit 17) shows on Run.
  VIRec(vi_)->eState = 1;
  VIRec(vi_)->flags2 = 0;
  VIRec(vi_)->stored84 = 0;
  PutNative32(*panel_ + root_, 0x20000);
  EXPECT_EQ(StatePnlSlotIcon(panel_, 1), 5);
  EXPECT_EQ(StatePnlSlotIcon(panel_, 2), 52);
  SetExt(kHeapExtOwner, 0);
  EXPECT_EQ(StatePnlSlotIcon(panel_, 1), -1) << "a panel without its VI";
}

// Retrieval mode reads the retrieval display (an edited number of a shown
// record offers to display it; the mark picks delete or restore); confirm
// mode compares the confirm record's value lists.
TEST_F(StatePnlTest, RetrievalAndConfirmModesReadTheirRecords) {
  const VIWindowHooks savedWindow = VIWindow();
  const DatalogUIHooks savedUI = DatalogUI();
  ShellInstallVIWindowHooks();
  const Rect at{4, 96, 19, 128};
  VIWindow().createRecordField(vi_, &at, reinterpret_cast<ConstPStr>("\0010"));
  UHandle lists[2] = {AZNewHClr(4), AZNewHClr(4)};
  ConfirmRecord c{lists[0], lists[1]};
  UHandle confirm = AZNewHandle(int32(sizeof c));
  std::memcpy(*confirm, &c, sizeof c);
  const ConstPStr seven = reinterpret_cast<ConstPStr>("\0017");
  const std::function<void()> edit = [&] { VIRecordFieldEdit(vi_, seven); }, none = [] {},
                              shown = [&] { DatalogUI().setRetrieveFieldText(vi_, seven); },
                              mark = [&] { DatalogUI().showMark(vi_, 1); }, keep = [&] { DatalogUI().showMark(vi_, 0); },
                              differ = [&] { (*lists[1])[2] = 1; }, grow = [&] { (*lists[1])[2] = 0, AZSetHandleSize(lists[1], 8); };
  const struct {
    std::function<void()> step;
    uInt32 flags2;
    int32 slot, image;
  } cases[] = {{none, 0x800, 0, 59},  {none, 0x800, 2, 20},  {edit, 0x800, 0, 59},   {mark, 0x800, 2, 21},
               {none, 0x800, 0, 38},  {shown, 0x800, 0, 59}, {keep, 0x800, 2, 20},   {edit, 0, 0, 59},
               {none, 0x400000, 2, 17}, {differ, 0x400000, 2, 9}, {grow, 0x400000, 2, 9}};
  for (const auto& k : cases) {
    k.step();
    SetExt(kHeapExtConfirm, (k.flags2 & 0x400000) ? uInt32(uintptr_t(confirm)) : 0);
    VIRec(vi_)->flags2 = k.flags2;
    EXPECT_EQ(StatePnlSlotIcon(panel_, k.slot), k.image) << &k - cases;
  }
  SetExt(kHeapExtConfirm, uInt32(uintptr_t(&c)));
  EXPECT_EQ(StatePnlSlotIcon(panel_, 2), 17) << "a confirm record that is no handle";
  SetExt(kHeapExtConfirm, 0);
  VIWindow().disposeRecordField(vi_);
  for (UHandle h : {lists[0], lists[1], confirm}) AZDisposeHandle(h);
  SetVIWindowHooks(&savedWindow), SetDatalogUIHooks(&savedUI);
}

TEST_F(StatePnlTest, TheIconPaneStandsRightOfTheToolBar) {
  const Rect content{100, 10, 300, 400}, empty{100, 10, 100, 10};
  struct Case {
    const char* what;
    Rect c;
    int16 parts;
    int32 flag;
    Rect pane, icon;
  } cases[] = {
      {"tool bar and pane", content, 4 | 8, 1, {65, 365, 100, 400}, {66, 367, 98, 399}},
      {"with the own menu bar", content, 4 | 8 | 16, 1, {58, 365, 100, 400}, {62, 367, 94, 399}},
      {"with a vertical scroll bar", content, 4 | 8 | 2, 1, {65, 380, 100, 415}, {66, 382, 98, 414}},
      {"pane alone", content, 4, 1, {65, 365, 100, 400}, {66, 367, 98, 399}},
      {"empty content", empty, 4 | 8, 1, {65, -25, 101, 10}, {66, -23, 98, 9}},
      {"no pane", content, 8, 0, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetContent(c.c, c.parts);
    Rect pane{9, 9, 9, 9}, icon{9, 9, 9, 9};
    EXPECT_EQ(VIWindIconPaneRect(panel_, &pane, &icon), c.flag);
    EXPECT_EQ((std::vector<int16>{pane.top, pane.left, pane.bottom, pane.right}),
              (std::vector<int16>{c.pane.top, c.pane.left, c.pane.bottom, c.pane.right}));
    EXPECT_EQ((std::vector<int16>{icon.top, icon.left, icon.bottom, icon.right}),
              (std::vector<int16>{c.icon.top, c.icon.left, c.icon.bottom, c.icon.right}));
  }
}

// The engine's routines reach both through the hooks the shell installs: a
// connector pane's drop target is the icon pane, and clearing the step flag
// redraws slots 1 and 4 with the images of the state left.
TEST_F(StatePnlTest, TheEnginesPanelRoutinesAskTheShell) {
  const PanelRoutineHooks saved = PanelRoutines();
  const VIWindowHooks savedWindow = VIWindow();
  ShellInstallPanelRoutineHooks();
  static std::vector<int32> drawn;
  drawn.clear();
  VIWindowHooks w = VIWindow();
  w.drawToolbarSlot = [](UHandle, int32 image, int32) { drawn.push_back(image); };
  SetVIWindowHooks(&w);
  const uChar none[1] = {0};
  const Rect r0{0, 0, 50, 50};
  const WindowRef window = WCreate(0, none, nullptr, &r0, 0, 0, 0);
  SetExt(kHeapExtWindow, uInt32(window));
  SetContent(Rect{100, 10, 300, 400}, 4 | 8);
  const int32 pane = vib::NewObject(panel_, kClsConnectorPane, 40, root_);
  Rect r{0, 0, 0, 0};
  int32 found = 0;
  EXPECT_EQ(GetObjContentRect(panel_, pane, &r, &found), 1);
  EXPECT_EQ(found, 1);
  EXPECT_EQ((std::vector<int16>{r.top, r.left, r.bottom, r.right}), (std::vector<int16>{65, 365, 100, 400}));
  VIRec(vi_)->eState = 2;
  VIRec(vi_)->flags2 = 0x2C0;  // paused and stepping, pausing allowed
  VIClearStepFlags(vi_);
  EXPECT_EQ(drawn, (std::vector<int32>{50, 15})) << "still stepping, no longer paused";
  WDestroy(window);
  SetVIWindowHooks(&savedWindow);
  SetPanelRoutineHooks(&saved);
}

}  // namespace
