// Focus moves inside slides and arrays, and a text part taking the focus.
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_test_support.h"

namespace {

// What the numerics receive: action 15 (receiver, inside-an-array word),
// values shown and moves.
std::vector<std::pair<int32, int32>> gFocusSends;
std::vector<uintptr_t> gFocusShown;
Point gFocusMoved;
int32 FocusRecDoit(ObjHeap, int32 object, void*, int32, void*) {
  return gFocusSends.push_back({object, PanelInsideArray()}), 0;
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
    const ObjMethodAddr mine[3] = {ObjMethodAddr(&FocusRecDoit), ObjMethodAddr(&FocusRecShow), ObjMethodAddr(&FocusRecMove)};
    for (int32 i = 0; i < 3; ++i) saved_[i] = rec_->methods[kSlots[i]], rec_->methods[kSlots[i]] = mine[i];
    gFocusSends.clear(), gFocusShown.clear();
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
  int32 Array2D(int32 rowsLess, int32 columnsLess) {
    int32 array = 0;
    EXPECT_EQ(Alloc(Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &array)), kNoErr);
    SetW(array, kPWArrayElement, Obj(kClsNumeric, array)), SetW(array, kPWArrayGrid, ArrayCell(rowsLess, columnsLess));
    return array;
  }

  static constexpr int32 kSlots[3] = {kMsgODoit, kMsgODisplayVal, kMsgOOffset};
  ObjClassRecord* rec_ = nullptr;
  ObjMethodAddr saved_[3] = {};
  void* previous_ = nullptr;
  TransactionFrame* top_ = nullptr;
  TRecord text_ = nullptr;  // disposed once the focus has let go of it
};

// Two index displays and 2 by 2 cells 12 by 22 pixels apart (flag 0x40000):
// Tab runs through the displays, the cells row by row, back to the first
// display; Shift-Tab the other way; with the index hidden, around the cells.
TEST_F(MethFocusTest, ArrayFocusRunsThroughIndexDisplaysThenCells) {
  const int32 array = Array2D(1, 1), element = W(array, kPWArrayElement);
  const int32 d0 = Obj(kClsNumeric, array, 8002, 0), d1 = Obj(kClsNumeric, array, 8002, 1), index = Obj(kClsCosmetic, array, 30);
  SetW(array, 0, int32(W(array, 0) | kArrayFlagWideCells));
  SetBounds(element, Rect{0, 0, 10, 20});
  constexpr int32 A = -1, D0 = -2, D1 = -3, kTab = kKeyTab, kBack = kKeyShiftTab;
  const int32 c00 = ArrayCell(0, 0), c01 = ArrayCell(0, 1), c10 = ArrayCell(1, 0), c11 = ArrayCell(1, 1);
  struct {
    int32 from, key, to, hidden;
  } cases[] = {{A, kTab, D0, 0},    {D0, kTab, D1, 0},   {D1, kTab, c00, 0},  {c00, kTab, c01, 0}, {c01, kTab, c10, 0},
               {c11, kTab, D0, 0},  {A, kBack, D1, 0},   {c00, kBack, D1, 0}, {c10, kBack, c01, 0}, {D0, kBack, c11, 0},
               {A, kTab, c00, 1},   {c11, kTab, c00, 1}, {c00, kBack, c11, 1}, {A, kKeyCtrlDown, D0, 0}};
  for (const auto& c : cases) {
    SetW(index, 0, c.hidden ? int32(kObjFlagHidden) : 0);
    const int32 from = c.from >= 0 ? c.from : c00;
    top_[1] = {array, kCatDDO, c.from >= 0 ? kPathLevelCell : c.from == A ? 2 : 0,
               c.from >= 0 ? c.from : Position(array, c.from == D0 ? d0 : d1)};
    SetW(array, kPWArrayShown, from);
    gFocusSends.clear(), gFocusMoved = {};
    ActionParams params{};
    params.keyCode = c.key;
    EXPECT_EQ(ArrayFocusNav(panel_, array, &top_[1], 0x800, &params, kActKeyOrText), 1);
    const int32 to = c.to >= 0 ? element : c.to == D0 ? d0 : d1;
    ASSERT_EQ(gFocusSends, (std::vector<std::pair<int32, int32>>{{to, c.to >= 0 ? array : 0}})) << c.from << "," << c.key;
    if (c.to < 0) continue;
    EXPECT_EQ(W(array, kPWArrayShown), c.to);
    EXPECT_EQ(gFocusMoved.v, 12 * ((c.to >> 16) - (from >> 16)));
    EXPECT_EQ(gFocusMoved.h, 22 * (int16(c.to) - int16(from)));
  }
}

// A cell past the data shows the default element; a cell outside the grid
// reaches nobody; a size change is reported at the changed display's order.
TEST_F(MethFocusTest, ArrayCellsShowTheirValueAndIndexChangesReportSizes) {
  const int32 array = Array2D(0, 3), element = W(array, kPWArrayElement);
  top_[1] = {array, kCatDDO, kPathLevelCell, ArrayCell(0, 2)}, top_[2] = {element, kCatDDO, 2, 0};
  EXPECT_EQ(ArrayEltDoit(panel_, array, &top_[1], 1, nullptr), 0);
  EXPECT_EQ(gFocusShown, std::vector<uintptr_t>{uInt32(OGetDataPtr(panel_, array, element, kDataPtrDefault, nullptr))});
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

// Three sliders: the index is pinned and the thumb redrawn inside the housing
// only; a display that does not take the entry itself gets the key focus.
TEST_F(MethFocusTest, SlidersBecomeActiveInsideTheirHousing) {
  const int32 slide = Obj(kClsSlide, root_);
  SetW(slide, kPWDDOTypeId, int32(Type(tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()}))));
  SetBounds(Obj(kClsCosmetic, slide, 8, 0), Rect{10, 10, 100, 40}), SetBounds(Obj(kClsCosmetic, slide, 23, 2), Rect{90, 5, 110, 45});
  const int32 display = Obj(kClsNumeric, slide, 8001, 2);
  ShowInWindow();
  EXPECT_EQ(SetActiveIndex(panel_, slide, 7), 2);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{90, 10, 100, 40}));
  SetW(slide, kPWActiveElement, 0);
  top_[1] = {slide, kCatDDO, 2, 0};
  ActionParams params{};
  EXPECT_EQ(FocusSliderDisplay(panel_, slide, 2, 0x800, &top_[1], &params, 0), 1);
  EXPECT_EQ(PanelKeyFocus(panel_).object, display);
  EXPECT_EQ(W(slide, kPWActiveElement), 2);
}

// Order 0 has no text; order 1 takes the focus with its text at the path's end.
TEST_F(MethFocusTest, TextPartsTakeTheFocusWithTheirText) {
  const int32 object = Obj(kClsNumeric, root_), label = (Obj(kClsLabel, object, 16, 0), Obj(kClsLabel, object, 16, 1));
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("ab"), 2, 0, 0);
  top_[1] = {object, kCatDDO, 2, 0};
  ActionParams params{};
  params.partId = 16;
  EXPECT_EQ(FPFocusTextPart(panel_, object, &top_[1], &params), kArgErr);
  params.partOrder = 1;
  EXPECT_EQ(FPFocusTextPart(panel_, object, &top_[1], &params), 0);
  EXPECT_EQ(params.partId, 0);
  EXPECT_EQ(PanelKeyFocus(panel_).text, text_ = PartTextRecord(panel_, label));
  EXPECT_EQ(std::vector<int32>({top_[1].index, top_[2].object, int32(top_[3].kind)}),
            std::vector<int32>({Position(object, label), label, 0}));
}

}  // namespace
