// Composite data objects: frames fitted around their contents, index
// displays stacked, Tab between elements, arrays scrolled by whole cells and
// picture-ring grid menus.
#include "engine/vi/panelroutines.h"
#include "mgsource/window/winproc.h"
#include "mgsource/objlist.h"
#include "mgsource/rects.h"
#include "panel/datageom.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel_test_support.h"
#include "platform/qx_alert.h"

namespace {

std::vector<int32> gGeomDoits;
int32 gGeomReply = 0;
int32 GeomDoit(ObjHeap, int32 o, void*, int32 action, ActionParams*) {
  gGeomDoits.push_back(action == 15 ? o : -o);
  return gGeomReply;
}
int32 GeomOffset(ObjHeap heap, int32 o, Point by) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  DOffsetRect(&r, by.h, by.v);
  std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
  return 0;
}
int gGeomBeeps = 0;

class DataGeomTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    Patch(kMsgODoit, reinterpret_cast<ObjMethodAddr>(&GeomDoit));
    Patch(kMsgOOffset, reinterpret_cast<ObjMethodAddr>(&GeomOffset));
    gGeomDoits.clear();
  }
  void TearDown() override {
    for (auto [slot, m] : saved_) const_cast<ObjClassRecord*>(ClassRecord(kClsNumeric))->methods[slot] = m;
    PanelRootTest::TearDown();
  }
  // Numerics stand for elements: their do-it is recorded, their offset moves them.
  void Patch(int32 slot, ObjMethodAddr m) {
    ObjMethodAddr& at = const_cast<ObjClassRecord*>(ClassRecord(kClsNumeric))->methods[slot];
    saved_.push_back({slot, at});
    at = m;
  }
  int32 Part(int32 owner, int16 id, Rect r, int32 cls = kClsCosmetic, int16 order = 0) {
    const int32 p = Obj(cls, owner, id, order);
    SetBounds(p, r);
    return p;
  }
  // A frame (part 9) with a border of 2, 3, 2, 4 around its inner area (part 28).
  void Framed(int32 o) {
    Part(o, 9, Rect{0, 0, 100, 100});
    Part(o, 28, Rect{2, 3, 98, 96});
  }
  void SetI16(int32 o, int32 at, int16 v) { std::memcpy(*panel_ + o + at, &v, 2); }
  Rect B(int32 o) {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  std::vector<std::pair<int32, ObjMethodAddr>> saved_;
};

TEST_F(DataGeomTest, FramesFitTheirContents) {
  const int32 hidden = Obj(kClsCluster);
  Framed(hidden);
  const int32 gone = Part(hidden, 0, Rect{1, 1, 5, 5}, kClsNumeric);
  SetW(gone, 0, int32(kObjFlagHidden));
  SetW(hidden, kContainerElementsWord, vib::NewList(panel_, {gone}));
  EXPECT_EQ(ClusterFitFrame(panel_, hidden, 1), 0) << "only hidden elements";
  // Visible elements, grown by the margin and the border; a direction
  // without its flag keeps the frame's sides.
  for (auto [flags, expected] : {std::pair{kClusterFlagFollowH | kClusterFlagFollowV, Rect{7, 1, 38, 35}},
                                 {kClusterFlagFollowH, Rect{0, 1, 100, 35}}}) {
    const int32 c = Obj(kClsCluster);
    SetW(c, 0, int32(flags));
    Framed(c);
    const int32 e[] = {Part(c, 0, {10, 10, 20, 30}, kClsNumeric), Part(c, 0, {30, 40, 90, 60}, kClsNumeric),
                       Part(c, 0, {25, 5, 35, 15}, kClsNumeric)};
    SetW(e[1], 0, int32(kObjFlagHidden));
    SetW(c, kContainerElementsWord, vib::NewList(panel_, {e[0], e[1], e[2]}));
    EXPECT_EQ(ClusterFitFrame(panel_, c, 1), 1);
    EXPECT_EQ(R(B(FindPart(panel_, c, 9, 0))), R(expected));
  }
  // Arrays: the visible grid (2 rows, 3 columns, the element in row 1) around
  // the element's cell, one pixel wider on each side with flag bit 18.
  for (auto [flags, expected] : {std::pair{0u, Rect{-2, 7, 22, 74}}, {kArrayFlagWideCells, Rect{-5, 6, 23, 79}}}) {
    const int32 a = Obj(kClsArray);
    SetW(a, 0, int32(flags));
    Framed(a);
    SetW(a, kContainerElementsWord, Part(a, 0, {10, 10, 20, 30}, kClsNumeric));
    SetI16(a, kArrayGridRowsAt, 1), SetI16(a, kArrayGridColsAt, 2), SetI16(a, kArrayFirstRowAt, 1);
    EXPECT_EQ(ArrayFitFrame(panel_, a), 1);
    EXPECT_EQ(R(B(FindPart(panel_, a, 9, 0))), R(expected));
  }
  // A refnum whose inner area fits only redraws its value; else its frame
  // lies 5 pixels around the inner object.
  ShowInWindow();
  const int32 ref = Obj(kClsRefNum);
  const int32 frame = Part(ref, 9, {0, 0, 50, 50}), area = Part(ref, 28, {10, 10, 20, 20});
  SetW(ref, kContainerElementsWord, Part(ref, 0, {10, 10, 20, 20}, kClsNumeric));
  TakeInvalid();
  EXPECT_EQ(RefNumFitFrame(panel_, ref), 0);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{10, 10, 20, 20}));
  EXPECT_EQ(R(B(frame)), R(Rect{0, 0, 50, 50}));
  SetBounds(area, Rect{8, 8, 20, 20});
  EXPECT_EQ(RefNumFitFrame(panel_, ref), 1);
  EXPECT_EQ(R(B(frame)), R(Rect{5, 5, 25, 25}));
}

TEST_F(DataGeomTest, IndexDisplaysStackAboveTheirFrame) {
  const int32 a = Obj(kClsArray);
  const int32 d2 = Part(a, kPartArrayIndex, {0, 0, 15, 30}, kClsNumeric, 2);
  const int32 d1 = Part(a, kPartArrayIndex, {60, 0, 75, 30}, kClsNumeric, 1);
  const int32 d0 = Part(a, kPartArrayIndex, {5, 0, 20, 30}, kClsNumeric, 0);
  const int32 frame = Part(a, kPartIndexFrame, {0, 0, 10, 40});
  ArrayFitIndexText(panel_, a, 0);
  EXPECT_EQ(B(d0).top, 5);
  EXPECT_EQ(B(d1).top, 20);
  EXPECT_EQ(B(d2).top, 35);
  EXPECT_EQ(B(frame).bottom, 52);
}

TEST_F(DataGeomTest, TabWrapsThroughTheElements) {
  if (!TRStackBlock()) TRInit();
  auto* f = reinterpret_cast<TransactionFrame*>(TRStackBlock());
  const int32 c = Obj(kClsCluster), single = Obj(kClsCluster);
  const int32 e[] = {Obj(kClsNumeric, c), Obj(kClsNumeric, c), Obj(kClsNumeric, c), Obj(kClsNumeric, single)};
  SetW(c, kContainerElementsWord, vib::NewList(panel_, {e[0], e[1], e[2]}));
  SetW(single, kContainerElementsWord, vib::NewList(panel_, {e[3]}));
  struct Case {
    int32 owner, start, key, mods, reply;
    std::vector<int32> reached;
  };
  const Case cases[] = {
      {c, 2, kKeyTab, 0, 0, {e[0]}},           // from the last to the first
      {c, 0, kKeyShiftTab, kWModShift, 0, {e[2]}},  // and back
      {c, 0, kKeyTab, 0, 0x800, {e[1], e[2]}},  // refused all round: stops before the start
      {single, 0, kKeyTab, 0, 0, {e[3], e[3]}},  // one element: twice
      {c, 0, kKeyReadBack, 0, 0, {}},
  };
  for (const Case& k : cases) {
    gGeomDoits.clear();
    gGeomReply = k.reply;
    f[0] = TransactionFrame{k.owner, kCatDDO, 3, k.start};
    ActionParams p{};
    p.keyCode = k.key, p.modifiers = k.mods;
    ElementTabNext(panel_, 0, f, &p);
    EXPECT_EQ(gGeomDoits, k.reached) << k.start << "/" << k.key;
    if (!k.reached.empty()) { EXPECT_EQ(f[1].object, k.reached.back()); }
  }
  gGeomReply = 0;
}

TEST_F(DataGeomTest, TextPartsTakeKeysAndCommit) {
  const int32 n = Obj(kClsNumeric, root_), text = Part(n, kPartTextOfDisplay, {0, 0, 15, 40}, kClsLabel);
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("12"), 2, 0, 0);
  ActionParams p{};
  p.eventCode = 6, p.keyCode = kKeyReadBack;
  EXPECT_EQ(ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0x100), 0x100) << "key 42 without bit 0 or 11";
  p.eventCode = 1, p.selEnd = 2;
  EXPECT_EQ(ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0) & 1, 1);
  EXPECT_EQ(PanelKeyFocus(panel_).object, n);
  // A commit hands the record the text and clears the part's modified flag
  // with bit 6; with bit 20 nothing happens.
  SetW(text, 0, int32(kObjFlagTextModified));
  EXPECT_EQ(ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0x100800), 0x100800);
  EXPECT_EQ(ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0x800), 0x840);
  EXPECT_EQ(p.text, PartTextRecord(panel_, text));
  EXPECT_EQ(W(text, 0), 0);
}

// A control's text takes every key; an indicator's only those that move,
// copy, revert or end: a typed character does not change it.
TEST_F(DataGeomTest, OnlyAControlsTextTakesTypedCharacters) {
  const struct {
    uInt32 flags;
    int32 key, character;
    const char* after;
  } cases[] = {
      {0, vkAscii, '5', "125"},
      {0, vkLeft, 0, "12"},
      {kObjFlagIndicator, vkAscii, '5', "12"},
      {kObjFlagIndicator, vkLeft, 0, "12"},
  };
  for (const auto& k : cases) {
    const int32 n = Obj(kClsNumeric, root_), text = Part(n, kPartTextOfDisplay, {0, 0, 15, 40}, kClsLabel);
    SetPartText(panel_, text, reinterpret_cast<const uChar*>("12"), 2, 0, 0);
    SetW(n, 0, int32(k.flags));
    ActionParams p{};
    p.eventCode = 1, p.selStart = p.selEnd = 2;
    ASSERT_EQ(ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0) & 1, 1);
    p.eventCode = 6, p.keyCode = k.key, p.character = k.character;
    ObjTextActivate(panel_, n, 0, kPartTextOfDisplay, &p, 0);
    const UHandle bytes = TGetText(PartTextRecord(panel_, text));
    ASSERT_TRUE(bytes && *bytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(*bytes + 4), GetNative32(*bytes)), k.after)
        << k.flags << "/" << k.key;
    EXPECT_EQ((W(text, 0) & int32(kObjFlagTextModified)) != 0, std::string(k.after) != "12");
    FPReleaseKeyFocus(panel_);
  }
}

TEST_F(DataGeomTest, ArraysScrollByWholeCells) {
  const int32 a = Obj(kClsArray, root_);
  const int32 element = Part(a, 0, {0, 0, 10, 20}, kClsNumeric);
  SetW(a, kContainerElementsWord, element);
  TransactionState request{kTRModeMouseDown, PointToWord(Point{5, 15}), 0, nullptr};
  EXPECT_EQ(ArrayDragScroll(panel_, a, &request, nullptr), 0) << "under one cell";
  // An array dropped into itself only moves the point back.
  DataXferRec xfer{};
  ASSERT_EQ(DataXferInitObj(panel_, vib::NewList(panel_, {a}), 0, &xfer), kNoErr);
  request = TransactionState{kTRModeDragOver, PointToWord(Point{25, 5}), 0, nullptr};
  EXPECT_EQ(ArrayDragScroll(panel_, a, &request, &xfer), 0);
  EXPECT_EQ(request.point, PointToWord(Point{5, 5}));
  // 2.5 cells down scrolls two.
  request = TransactionState{kTRModeMouseDown, PointToWord(Point{25, 5}), 0, nullptr};
  EXPECT_EQ(ArrayDragScroll(panel_, a, &request, nullptr), PointToWord(Point{2, 0}));
  EXPECT_EQ(ObjInt16(panel_, a, kArrayFirstRowAt), 2);
  EXPECT_EQ(R(B(element)), R(Rect{20, 0, 30, 20}));
}

TEST_F(DataGeomTest, PictureMenusTakeSquareGrids) {
  auto table = [&](int32 n, int16 side) {
    const int32 t = vib::NewObject(panel_, 9, kRingItemsAt + kRingItemSize * n, 0, kRingTablePart, 0);
    PutNative16(*panel_ + t + kRingItemCountAt, uInt16(n));
    const Rect r{0, 0, side, side};
    for (int32 i = 0; i < n; ++i) std::memcpy(*panel_ + t + kRingItemsAt + kRingItemSize * i, &r, sizeof r);
    return t;
  };
  for (auto [items, columns] : {std::pair{10, 4}, {5, 5}, {36, 6}}) {
    MenuHandle m = PictMenuBuild(panel_, table(items, 16), 0, Point{0, 0}, 0, 1, 0);
    ASSERT_NE(m, nullptr) << items;
    int16 got = 0;
    std::memcpy(&got, reinterpret_cast<uChar*>(MGetPictCellPtr(m, 1)) - kPictMenuHeader, 2);
    EXPECT_EQ(got, columns) << items;
    MDisposeMenu(m);
  }
  const PlatBeepProc old = PlatSetBeepProc([] { ++gGeomBeeps; });
  gGeomBeeps = 0;
  ClearReports();
  EXPECT_EQ(PictMenuBuild(panel_, table(10, 30000), 0, Point{0, 0}, 0, 1, 0), nullptr);
  PlatSetBeepProc(old);
  EXPECT_EQ(Reports("Too many picts to make menu (>"), 1);
  EXPECT_EQ(gGeomBeeps, 1);
}

}  // namespace
