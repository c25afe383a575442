// Focus moves inside slides and arrays, and a text part taking the focus.
#include "engine/vi/virecord.h"
#include "panel/blink.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_test_support.h"

namespace {

// What the numerics were sent: action 15 (the receiver, the frame it got and
// the inside-an-array word), values shown and moves.
struct FocusSend {
  int32 object, action, insideArray;
  TransactionFrame frame;
};
std::vector<FocusSend> gFocusSends;
std::vector<uintptr_t> gFocusShown;
Point gFocusMoved;
int32 gFocusAnswer = 0;
int32 FocusRecDoit(ObjHeap, int32 object, void* frame, int32 action, void*) {
  gFocusSends.push_back({object, action, PanelInsideArray(), *static_cast<TransactionFrame*>(frame)});
  return gFocusAnswer;
}
int32 FocusRecShow(ObjHeap, int32, int32, const void* value) { return gFocusShown.push_back(uintptr_t(value)), 0; }
int32 FocusRecMove(ObjHeap, int32, Point by) { return gFocusMoved = by, 0; }

class MethFocusTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    if (!TRStackBlock()) TRInit();
    rec_ = const_cast<ObjClassRecord*>(ClassRecord(kClsNumeric));
    for (int32 i = 0; i < 3; ++i) saved_[i] = rec_->methods[kSlots[i]];
    rec_->methods[kMsgODoit] = reinterpret_cast<ObjMethodAddr>(&FocusRecDoit);
    rec_->methods[kMsgODisplayVal] = reinterpret_cast<ObjMethodAddr>(&FocusRecShow);
    rec_->methods[kMsgOOffset] = reinterpret_cast<ObjMethodAddr>(&FocusRecMove);
    gFocusSends.clear(), gFocusShown.clear(), gFocusAnswer = 0;
    previous_ = TRPushFrame();
    top_ = static_cast<TransactionFrame*>(TRStackTop());
    top_[0] = {root_, kCatFPSC, 2, 0};
  }
  void TearDown() override {
    if (rec_) {
      EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
      FPReleaseKeyFocus(panel_);
      if (text_) TDispose(text_);
      TRSetStackTop(previous_);
      for (int32 i = 0; i < 3; ++i) rec_->methods[kSlots[i]] = saved_[i];
    }
    PanelRootTest::TearDown();
  }
  int32 Position(int32 object, int32 part) { return OHListFind(panel_, W(object, kObjPartList / 4), part); }

  static constexpr int32 kSlots[3] = {kMsgODoit, kMsgODisplayVal, kMsgOOffset};
  ObjClassRecord* rec_ = nullptr;
  ObjMethodAddr saved_[3] = {};
  void* previous_ = nullptr;
  TransactionFrame* top_ = nullptr;
  TRecord text_ = nullptr;  // disposed once the focus has let go of it
};

// Two index displays and a grid of 2 by 2 cells 12 by 22 pixels apart (flag
// 0x40000): Tab runs through the displays, then the cells row by row, then
// back to the first display; Shift-Tab the other way; with the index hidden
// the cells wrap around.
TEST_F(MethFocusTest, ArrayFocusRunsThroughIndexDisplaysThenCells) {
  int32 array = 0;
  ASSERT_EQ(Alloc(Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &array)), kNoErr);
  const int32 d0 = Obj(kClsNumeric, array, 8002, 0), d1 = Obj(kClsNumeric, array, 8002, 1);
  const int32 index = Obj(kClsCosmetic, array, 30, 0), element = Obj(kClsNumeric, array);
  SetW(array, kPWArrayElement, element), SetW(array, kPWArrayGrid, ArrayCell(1, 1));
  SetW(array, 0, int32(W(array, 0) | kArrayFlagWideCells));
  SetBounds(element, Rect{0, 0, 10, 20});
  constexpr int32 kArray = -1, kD0 = -2, kD1 = -3, kTab = kKeyTab, kBack = kKeyShiftTab;
  const int32 c00 = ArrayCell(0, 0), c01 = ArrayCell(0, 1), c10 = ArrayCell(1, 0), c11 = ArrayCell(1, 1);
  struct Case {
    int32 from, key, to;
    bool hidden = false;
  } cases[] = {{kArray, kTab, kD0}, {kD0, kTab, kD1},   {kD1, kTab, c00},   {c00, kTab, c01},  {c01, kTab, c10},
               {c11, kTab, kD0},    {kArray, kBack, kD1}, {c00, kBack, kD1}, {c10, kBack, c01}, {kD0, kBack, c11},
               {kArray, kTab, c00, true}, {c11, kTab, c00, true}, {c00, kBack, c11, true}, {kArray, kKeyCtrlDown, kD0}};
  for (const Case& c : cases) {
    SetW(index, 0, c.hidden ? int32(kObjFlagHidden) : 0);
    const int32 display = c.from == kD0 ? d0 : d1;
    top_[1] = c.from == kArray ? TransactionFrame{array, kCatDDO, 2, 0}
              : c.from < 0     ? TransactionFrame{array, kCatDDO, 0, Position(array, display)}
                               : TransactionFrame{array, kCatDDO, kPathLevelCell, c.from};
    SetW(array, kPWArrayShown, c.from >= 0 ? c.from : c00);
    gFocusSends.clear(), gFocusMoved = {};
    ActionParams params{};
    params.keyCode = c.key;
    EXPECT_EQ(ArrayFocusNav(panel_, array, &top_[1], 0x800, &params, kActKeyOrText), 1);
    ASSERT_EQ(gFocusSends.size(), 1u) << c.from << "," << c.key;
    const FocusSend& sent = gFocusSends[0];
    EXPECT_EQ(params.selEnd, 0x7FFFFFFF);
    if (c.to < 0) {
      EXPECT_EQ(sent.object, c.to == kD0 ? d0 : d1) << c.from << "," << c.key;
      continue;
    }
    EXPECT_EQ(sent.object, element) << c.from << "," << c.key << "->" << c.to;
    EXPECT_EQ(sent.insideArray, array);
    EXPECT_EQ(W(array, kPWArrayShown), c.to);
    EXPECT_EQ(top_[1].mode, kPathLevelCell);
    EXPECT_EQ(top_[1].index, c.to);
    const int32 from = c.from >= 0 ? c.from : c00;  // rows in the high half, columns in the low
    EXPECT_EQ(gFocusMoved.v, 12 * ((c.to >> 16) - (from >> 16)));
    EXPECT_EQ(gFocusMoved.h, 22 * (int16(c.to) - int16(from)));
  }
}

// Re-pointing shows the cell's value, the default element past the data; a
// cell outside the visible grid reaches nobody; a size change at the changed
// display's dimension is reported.
TEST_F(MethFocusTest, ArrayCellsShowTheirValueAndIndexChangesReportSizes) {
  int32 array = 0;
  ASSERT_EQ(Alloc(Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &array)), kNoErr);
  const int32 element = Obj(kClsNumeric, array);
  SetW(array, kPWArrayElement, element), SetW(array, kPWArrayGrid, ArrayCell(0, 3));
  top_[1] = {array, kCatDDO, kPathLevelCell, ArrayCell(0, 2)};
  top_[2] = {element, kCatDDO, 2, 0};
  EXPECT_EQ(ArrayEltDoit(panel_, array, &top_[1], 1, nullptr), 0);
  ASSERT_EQ(gFocusShown.size(), 1u);
  EXPECT_EQ(gFocusShown[0], uintptr_t(uInt32(OGetDataPtr(panel_, array, element, kDataPtrDefault, nullptr))));
  top_[1].index = ArrayCell(1, 0);
  EXPECT_EQ(ArrayEltDoit(panel_, array, &top_[1], 1, nullptr), 16);
  EXPECT_EQ(gFocusSends.size(), 1u);

  const int32 saved[2] = {4, 5}, now[2] = {4, 6};
  ActionParams params{};
  for (auto [order, reply] : {std::pair{1, 0x10001}, {0, 1}, {2, 1}}) {
    params.partOrder = order;
    EXPECT_EQ(ArrayIndexChanged(panel_, array, &params, 9, saved, now), reply) << order;
  }
}

// A three-slider slide: the index is pinned, the thumbs are redrawn inside
// the housing only; a display that does not take the entry itself is given
// the key focus.
TEST_F(MethFocusTest, SlidersBecomeActiveInsideTheirHousing) {
  const int32 slide = Obj(kClsSlide, root_);
  SetW(slide, kPWDDOTypeId, int32(Type(tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()}))));
  const int32 housing = Obj(kClsCosmetic, slide, 8, 0), thumb = Obj(kClsCosmetic, slide, 23, 2);
  const int32 display = Obj(kClsNumeric, slide, 8001, 2);
  SetBounds(housing, Rect{10, 10, 100, 40}), SetBounds(thumb, Rect{90, 5, 110, 45});
  ShowInWindow();
  EXPECT_EQ(SliderCount(panel_, slide), 3);
  EXPECT_EQ(SetActiveIndex(panel_, slide, 7), 2);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{90, 10, 100, 40}));
  top_[1] = {slide, kCatDDO, 2, 0};
  ActionParams params{};
  SetW(slide, kPWActiveElement, 0);
  EXPECT_EQ(FocusSliderDisplay(panel_, slide, 2, 0x800, &top_[1], &params, 0), 1);
  EXPECT_EQ(gFocusSends.size(), 1u);
  EXPECT_EQ(PanelKeyFocus(panel_).object, display);
  EXPECT_EQ(W(slide, kPWActiveElement), 2);
}

TEST_F(MethFocusTest, TextPartsTakeTheFocusWithTheirText) {
  const int32 object = Obj(kClsNumeric, root_);
  Obj(kClsLabel, object, 16, 0);
  const int32 label = Obj(kClsLabel, object, 16, 1);
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("ab"), 2);
  top_[1] = {object, kCatDDO, 2, 0};
  ActionParams params{};
  params.partId = 16, params.partOrder = 0;
  EXPECT_NE(FPFocusTextPart(panel_, object, &top_[1], &params), 0) << "a part without a text";
  EXPECT_EQ(params.partId, 16);
  EXPECT_EQ(PanelKeyFocus(panel_).object, 0);
  params.partOrder = 1;
  EXPECT_EQ(FPFocusTextPart(panel_, object, &top_[1], &params), 0);
  EXPECT_EQ(params.partId, 0);
  EXPECT_EQ(PanelKeyFocus(panel_).object, label);
  EXPECT_EQ(PanelKeyFocus(panel_).text, PartTextRecord(panel_, label));
  EXPECT_EQ(top_[1].index, Position(object, label));
  EXPECT_EQ(top_[2].kind, kCatCOSM);
  EXPECT_EQ(top_[3].kind, 0u);
  text_ = PartTextRecord(panel_, label);
}

}  // namespace
