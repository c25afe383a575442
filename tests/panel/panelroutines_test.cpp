// The engine's panel routines over real panel objects: rings kept as long as
// their texts, the run-time editable label parts, paired mark passes, drop
// target rectangles, the key focus, the step flags and palette menus.
#include "engine/exec/panelplace.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/counted_strings.h"
#include "mgsource/objlist.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/oinit.h"
#include "panel_test_support.h"

namespace {

class PanelRoutinesTest : public ptest::PanelRootTest {
 protected:
  void TearDown() override {
    if (window_) WDestroy(window_);
    PanelRootTest::TearDown();
  }
  int32 Ext() const { return int32(OHWord(panel_, kOHExtension)); }
  void GiveWindow() {
    const uChar none[1] = {0};
    const Rect empty{0, 0, 0, 0};
    window_ = WCreate(0, none, nullptr, &empty, 0, 0, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + Ext() + kHeapExtWindow, uInt32(window_));
  }
  // A ring with an item table of `items` items and a text list of `texts`.
  int32 Ring(int32 items, int32 texts) {
    const int32 ring = Obj(87);
    const int32 list = OHNewBlock(panel_, 12, kObjClassList);
    OHSetWord(panel_, uInt32(list), 2);
    const int32 table = vib::NewObject(panel_, 9, kRingItemsAt + kRingItemSize * items, ring, kRingTablePart, 0);
    const int32 text = vib::NewObject(panel_, 10, 48, ring, kRingTextPart, 0);
    PutNative16(*panel_ + table + kRingItemCountAt, uInt16(items));
    for (int32 i = 0; i < items; ++i) PutNative16(*panel_ + table + kRingItemsAt + kRingItemSize * i, uInt16(100 + i));
    CPStrHandle h = reinterpret_cast<CPStrHandle>(Keep(AZNewHClr(4)));
    const uChar s[] = "\001x";
    for (int32 i = 0; i < texts; ++i) EXPECT_EQ(CPStrInsert(h, s, i), kNoErr);
    OHSetWord(panel_, uInt32(text + kRingTextWord), uInt32(uintptr_t(h)));
    ObjListSet(panel_, list, 0, table);
    ObjListSet(panel_, list, 1, text);
    SetW(ring, kObjPartList / 4, list);
    return ring;
  }
  WindowRef window_ = kWNoWindow;
};

TEST_F(PanelRoutinesTest, RingsLengthenTheShorterOfTableAndTexts) {
  struct Case {
    int32 items, texts, result, after;
  };
  const Case cases[] = {{3, 5, 1, 5}, {5, 3, 1, 5}, {4, 4, 0, 4}, {0, 2, 1, 2}};
  for (const Case& c : cases) {
    const int32 ring = Ring(c.items, c.texts);
    EXPECT_EQ(RingSyncItemCount(panel_, ring), c.result) << c.items << "/" << c.texts;
    const int32 table = FindPart(panel_, ring, kRingTablePart, 0);
    const int32 text = FindPart(panel_, ring, kRingTextPart, 0);
    ASSERT_NE(table, 0);
    auto h = reinterpret_cast<CPStrHandle>(uintptr_t(OHWord(panel_, uInt32(text + kRingTextWord))));
    EXPECT_EQ(ObjInt16(panel_, table, kRingItemCountAt), c.after);
    EXPECT_EQ(int32(GetNative32(*h)), c.after);
    // The old items keep their order; inserted ones are cleared, appended
    // texts empty.
    for (int32 i = 0; i < c.after; ++i) {
      const int16 item = ObjInt16(panel_, table, kRingItemsAt + kRingItemSize * i);
      EXPECT_EQ(item, i < c.items ? 100 + i : 0) << i;
      EXPECT_EQ(CPStrIndex(h, i)[0], i < c.texts ? 1 : 0) << i;
    }
    if (c.texts > c.items) { EXPECT_EQ(ObjInt16(panel_, table, kRingCurrentAt), c.after - 1); }
  }
  EXPECT_EQ(RingSyncItemCount(panel_, Obj(87)), 0) << "a ring without its parts";
}

// An item inserted into a ring's table places every item around the centre
// of the ring's part 28: one with a picture keeps its size, one without
// becomes a point; the table takes the new (current) item's rectangle.  A
// ring without part 28 keeps its rectangles.
TEST_F(PanelRoutinesTest, InsertedItemsArePlacedAroundTheRingsFrame) {
  const Rect frame{10, 20, 50, 100}, pictured{0, 0, 10, 20}, stored{1, 2, 3, 4};
  for (bool withFrame : {true, false}) {
    SCOPED_TRACE(withFrame);
    const int32 ring = Ring(2, 3);
    int32 table = FindPart(panel_, ring, kRingTablePart, 0);
    std::memcpy(*panel_ + table + kRingItemsAt, &pictured, sizeof pictured);
    PutNative32(*panel_ + table + kRingItemsAt + 16, 0x00050000);  // item 0 shows a picture
    std::memcpy(*panel_ + table + kRingItemsAt + kRingItemSize, &stored, sizeof stored);
    if (withFrame) {
      const int32 part = Obj(9, ring, kGroupFramePart);
      std::memcpy(*panel_ + part + kPartBoundsAt, &frame, sizeof frame);
      int32 list = ObjWord(panel_, ring, kObjPartList / 4);
      ASSERT_EQ(OHListInsert(panel_, &list, part, kObjListAppend), kNoErr);
      SetW(ring, kObjPartList / 4, list);
    }
    EXPECT_EQ(RingSyncItemCount(panel_, ring), 1);
    table = FindPart(panel_, ring, kRingTablePart, 0);
    ASSERT_EQ(ObjInt16(panel_, table, kRingItemCountAt), 3);
    const Rect point{30, 60, 30, 60};
    const Rect want[3] = {withFrame ? Rect{25, 50, 35, 70} : pictured, withFrame ? point : stored,
                          withFrame ? point : Rect{0, 0, 0, 0}};
    for (int32 i = 0; i < 3; ++i) {
      Rect r;
      std::memcpy(&r, *panel_ + table + kRingItemsAt + kRingItemSize * i, sizeof r);
      EXPECT_TRUE(DEqualRect(&r, &want[i])) << i << ": " << r.top << "," << r.left << "," << r.bottom << "," << r.right;
    }
    Rect bounds;
    std::memcpy(&bounds, *panel_ + table + kPartBoundsAt, sizeof bounds);
    if (withFrame) {
      EXPECT_TRUE(DEqualRect(&bounds, &point)) << "the current item's rectangle";
    }
  }
}

TEST_F(PanelRoutinesTest, LabelPartsWorkedAtRunTime) {
  struct Case {
    int16 id, further;
    int32 editable;
  };
  const Case cases[] = {{10, 5, 1}, {11, 0, 1}, {12, 0, 1}, {16, 0, 1}, {22, 0, 1},
                        {0, 0, 1},  {0, 3, 0},  {13, 0, 0}, {82, 0, 0}};
  for (const Case& c : cases) {
    const int32 part = Obj(10, 0, c.id);
    PutNative16(*panel_ + part + kPartFurtherWord, uInt16(c.further));
    EXPECT_EQ(IsRunTimeEditablePart(panel_, part), c.editable) << c.id << "," << c.further;
  }
}

TEST_F(PanelRoutinesTest, MarkPassPairsBeginOnePassOnTheSameHeap) {
  ObjHeap other = vib::NewPanel(vi_);
  ASSERT_NE(other, nullptr);
  auto count = [](ObjHeap h) { return GetNative16(*h + kOHPassCount); };
  OHBeginMarkPassPair(panel_, panel_);
  EXPECT_EQ(count(panel_), 1);
  OHEndMarkPassPair(panel_, panel_);
  EXPECT_EQ(count(panel_), 0);
  OHBeginMarkPassPair(panel_, other);
  EXPECT_EQ(count(panel_), 1);
  EXPECT_EQ(count(other), 1);
  EXPECT_EQ(GetNative16(*other + kOHPassKind), kSelectionPassKind);
  OHEndMarkPassPair(panel_, other);
  EXPECT_EQ(count(other), 0);
  OHDisposeHeap(other);
}

TEST_F(PanelRoutinesTest, DropTargetRectangles) {
  Rect r{1, 1, 1, 1};
  int32 found = 7;
  const int32 cluster = Obj(83);
  EXPECT_EQ(GetObjContentRect(panel_, cluster, &r, &found), 0) << "no window";
  EXPECT_EQ(found, 0);
  GiveWindow();
  const Rect content{5, 6, 100, 200}, frame{10, 11, 40, 50}, own{1, 2, 3, 4};
  std::memcpy(*panel_ + Ext() + kHeapExtContentRect, &content, sizeof content);
  const int32 part = Obj(9, cluster, kGroupFramePart);
  std::memcpy(*panel_ + part + kPartBoundsAt, &frame, sizeof frame);
  const int32 knob = Obj(89);
  std::memcpy(*panel_ + knob + kPartBoundsAt, &own, sizeof own);
  struct Case {
    int32 object;
    Rect want;
    int32 found;
  };
  const Case cases[] = {{root_, content, 1}, {cluster, frame, 1}, {knob, own, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(GetObjContentRect(panel_, c.object, &r, &found), 1);
    EXPECT_TRUE(DEqualRect(&r, &c.want)) << c.object;
    EXPECT_EQ(found, c.found) << c.object;
  }
  const uInt32 kind = OHWord(panel_, kOHKind);
  OHSetWord(panel_, kOHKind, FourCC("BDHP"));
  r = own;
  EXPECT_EQ(GetObjContentRect(panel_, cluster, &r, &found), 1) << "another heap kind";
  EXPECT_EQ(found, 0);
  EXPECT_TRUE(DEqualRect(&r, &own)) << "untouched";
  OHSetWord(panel_, kOHKind, kind);
}

TEST_F(PanelRoutinesTest, TheKeyFocusCommitsOrActivatesThenMoves) {
  GiveWindow();
  const int32 label = Obj(10);
  int text = 0;
  FPSetKeyFocus(panel_, label, nullptr);
  EXPECT_EQ(WGetActiveWindow(), window_) << "no focus: the window is activated";
  EXPECT_EQ(GetNative32(*panel_ + Ext() + kHeapExtKeyFocus), 0u) << "a null text moves nothing";
  FPSetKeyFocus(panel_, label, &text);
  EXPECT_EQ(GetNative32(*panel_ + Ext() + kHeapExtKeyFocus), uInt32(label));
  EXPECT_EQ(GetNative32(*panel_ + Ext() + kHeapExtFocusText), uInt32(uintptr_t(&text)));
}

// The slots are redrawn through the VI window's slot route, the panel's
// window being the port.
TEST_F(PanelRoutinesTest, StepFlagsClearAndRedrawSlotsOneAndFour) {
  static std::vector<std::pair<int32, int32>> drawn;
  drawn.clear();
  PanelRoutineHooks saved = PanelRoutines(), h = saved;
  h.statePnlSlotIcon = [](ObjHeap, int32 slot) { return slot * 10; };
  SetPanelRoutineHooks(&h);
  const VIWindowHooks savedWindow = VIWindow();
  VIWindowHooks w{};
  w.drawToolbarSlot = [](UHandle, int32 image, int32) { drawn.push_back({image, WCurrentPort()}); };
  SetVIWindowHooks(&w);
  GiveWindow();
  VIRec(vi_)->flags2 |= kVIFlags2StepInto | kVIFlags2StepOver;
  VIClearStepFlags(vi_);
  EXPECT_EQ(VIRec(vi_)->flags2 & (kVIFlags2StepInto | kVIFlags2StepOver), kVIFlags2StepOver);
  EXPECT_EQ(drawn, (std::vector<std::pair<int32, int32>>{{10, window_}, {40, window_}}));
  SetVIWindowHooks(&savedWindow);
  SetPanelRoutineHooks(&saved);
}

TEST_F(PanelRoutinesTest, PaletteMenusKeepTheirColumns) {
  MenuHandle m = nullptr;
  ASSERT_EQ(MNewPictMenu(&m, reinterpret_cast<ConstPStr>("\005Tools"), 7, 3), kNoErr);
  EXPECT_EQ((*m)->proc, &PictMenuProc);
  EXPECT_EQ((*m)->procData, 0u);
  for (int32 i = 0; i < 5; ++i)
    ASSERT_EQ(MAppendPictMenuItem(m, nullptr, i, nullptr, nullptr, 0, nullptr, 0, 0), kNoErr);
  EXPECT_EQ(MCountItems(m), 5);
  MCalcMenuSize(m);
  EXPECT_EQ((*m)->size.bottom, 2 * 35 + 13);
  EXPECT_EQ((*m)->size.right, 3 * 35 + 12);
  struct Hit {
    Point at;
    int32 item;
  };
  // The grid starts 6 down and 4 across on a 35-pixel step; cell 1 shows
  // nothing.
  const Hit hits[] = {{{6, 4}, 0}, {{6, 39}, 2}, {{41, 74}, 0}, {{41, 39}, 5}, {{5, 39}, 0}, {{6, 109}, 0}};
  for (const Hit& t : hits) {
    MenuProcMsg msg{};
    msg.code = kMenuHitCell;
    msg.a1 = PointToWord(t.at);
    EXPECT_EQ(PictMenuProc(&msg, m), t.item) << t.at.v << "," << t.at.h;
  }
  MDisposeMenu(m);
  MemFailNthAllocation(2);  // the record is made, the growth fails
  m = reinterpret_cast<MenuHandle>(1);
  EXPECT_NE(MNewPictMenu(&m, reinterpret_cast<ConstPStr>("\001T"), 1, 2), kNoErr);
  EXPECT_EQ(m, nullptr);
  MemFailNthAllocation(0);
}

}  // namespace
