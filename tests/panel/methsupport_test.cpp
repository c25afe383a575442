// The shared routines of the panel methods.
#include "engine/vi/rtrsrc.h"
#include "tools/appbuild.h"
#include "engine/vi/virecord.h"
#include "mgsource/path.h"
#include "mgsource/window/lmenu.h"
#include "panel/datamsg.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "mgsource/window/winproc.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "draw_start.h"
#include "golden_image.h"
#include "fuzz/rsrc_image.h"

namespace {

class MethSupportTest : public ptest::PanelRootTest {
 protected:
  void SetExt(int32 at, int32 v) { PutNative32(*panel_ + OHWord(panel_, kOHExtension) + at, uInt32(v)); }
};

TEST_F(MethSupportTest, KeysFindTheirBindingSlots) {
  const int32 target = Obj(kClsNumeric, root_), boolean = Obj(kClsBoolean, root_);
  const int32 nav = OHNewBlock(panel_, 4 + 4 * kKeySlotCount, kObjClassList);
  OHSetWord(panel_, uInt32(nav), kKeySlotCount), SetW(root_, kRootKeyNav / 4, nav);
  constexpr int32 kShift = kWModShift, kCtrl = 0x20;
  struct Case {
    int32 keyCode, character, modifiers, slot;  // slot -1: nothing bound
    int32 focus = 0, mode = 0, kind = 2;
  };
  const Case cases[] = {
      {vkF1 + 2, 0, 0, 9}, {vkF1 + 2, 0, kShift, 21}, {vkF1 + 2, 0, kCtrl, 33}, {vkF1 + 2, 0, kShift | kCtrl, 45},
      {vkClear, 0, 0, 6}, {vkEnter, 0, 0, 0}, {vkAscii, 13, 0, 0}, {vkAscii, 10, 0, 0},
      {vkEnter, 0, 0, -1, boolean}, {vkAscii, 27, 0, 1}, {vkHome, 0, 0, 2}, {vkPageDown, 0, 0, 5},
      {vkEnter, 0, 0x400, -1}, {vkF1, 0, 0, -1, 0, int32(kVIFlags2OwnerMode)}, {vkF1, 0, 0, -1, 0, 0, kVIKindRoot},
      {vkAscii, 'a', 0, -1},
  };
  for (const Case& c : cases) {
    for (int32 s = 0; s < kKeySlotCount; ++s) ObjListSet(panel_, nav, s, 0);
    // Bind the slot the key should find (F1's slot 7 for the refused cases).
    const int32 slot = c.slot >= 0 ? c.slot : (c.keyCode == vkF1 ? 7 : c.keyCode == vkEnter ? 0 : 1);
    ObjListSet(panel_, nav, slot, target);
    SetExt(kHeapExtKeyFocus, c.focus);
    VIRec(vi_)->flags2 = uInt32(c.mode);
    VIRec(vi_)->viKind = int16(c.kind);
    const WEventRecord e{weKey, 0, 0, 0, WModifiers(c.modifiers), c.character, WKeyCode(c.keyCode), {}};
    EXPECT_EQ(KeyBindingTarget(panel_, &e), c.slot >= 0 ? target : 0) << c.keyCode << "/" << c.modifiers;
  }
  // Neither a bound offset that is no live object nor a table of another size binds.
  ObjListSet(panel_, nav, 1, 0x7FFFFF0);
  const WEventRecord esc{weKey, 0, 0, 0, 0, 27, WKeyCode(vkAscii), {}};
  EXPECT_EQ(KeyBindingTarget(panel_, &esc), 0);
  ObjListSet(panel_, nav, 1, target);
  OHSetWord(panel_, uInt32(nav), kKeySlotCount - 1);
  EXPECT_EQ(KeyBindingTarget(panel_, &esc), 0);
}

TEST_F(MethSupportTest, KnobNeedlesFollowTheirThumbs) {
  const int32 knob = Obj(kClsKnob, root_), thumb = Obj(kClsCosmetic, knob, 23, 0);
  for (auto [r, length] : {std::pair{Rect{0, 0, 30, 1}, 30}, {Rect{0, 0, 1, 30}, 30}, {Rect{0, 0, 4, 3}, 5}}) {
    SetBounds(thumb, r);
    EXPECT_EQ(KnobNeedleLength(panel_, knob, 0), length);
    EXPECT_EQ(W(knob, kKnobNeedleWord), length);
  }
  EXPECT_EQ(KnobNeedleLength(panel_, knob, 1), -1) << "no thumb of that order";
}

TEST_F(MethSupportTest, RampColoursInterpolateByteWise) {
  EXPECT_EQ(RampInterpolate(0x000000, 0xFFFFFF, 0, 10, 5), 0x808080u);
  EXPECT_EQ(RampInterpolate(0x000000, 0xFFFFFF, 3, 3, 3), 0x000000u) << "equal values: the lower colour";
  EXPECT_EQ(RampInterpolate(0xFF102030, 0x00302010, 0, 4, 1), 0x182028u) << "each byte apart, the top dropped";
}

// Codes 1 to 15, each in a 10 by 10 cell of one row: the corners, the sides
// and the frame; 6, 7, 9, 11, 13 and 14 draw nothing.
TEST_F(MethSupportTest, EdgeCodesDrawCornersSidesAndFrames) {
  WPortState saved{};
  const WindowRef w = StartDrawingWindow(Rect{40, 40, 52, 230}, &saved);
  ASSERT_NE(w, kWNoWindow);
  PlatSurface* surface = PlatWindowSurface(WHostWindow(w));
  PlatSurfaceClear(surface, 0xFFFFFF);
  DSelectNormPen(0x000000, 0x000000);
  for (int16 code = 1; code <= 15; ++code) {
    const Rect cell{1, int16(12 * code - 10), 11, int16(12 * code)};
    DrawRectEdges(code, &cell);
  }
  DrawRectEdges(16, nullptr);
  qxtest::ExpectMatchesGolden(surface, std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens/rect_edges.png",
                              "QX_UPDATE_GOLDENS=1 test_panel --gtest_filter=*EdgeCodes*");
  StopDrawingWindow(&saved);
}

// A 2-D array showing cell (row 1, column 2) of its grid from index (10, 20):
// the element at (11, 22) against selections of rows and columns.
TEST_F(MethSupportTest, SelectionMarksFollowTheShownCell) {
  int32 array = 0;
  ASSERT_EQ(Alloc(Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &array)), kNoErr);
  const int16 shown[2] = {2, 1};  // column, row
  std::memcpy(*panel_ + array + 4 * kPWArrayShown, shown, 4);
  UHandle record[3];
  for (int32 i = 0; i < 3; ++i) {
    record[i] = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(array, kPWArrayPrivate) + 4 * i)));
    ASSERT_TRUE(record[i] && DSSetHandleSize(record[i], 12) == kNoErr);
    PutNative32(*record[i], 2);
  }
  auto set = [](UHandle h, int32 row, int32 column) { PutNative32(*h + 4, uInt32(row)), PutNative32(*h + 8, uInt32(column)); };
  set(record[0], 10, 20);
  struct {
    int32 startRow, startCol, endRow, endCol, code;
  } cases[] = {{11, 22, 12, 23, 15}, {12, 0, 10, 30, 15}, {11, 22, 11, 25, 3}, {12, 22, 12, 25, 12},
               {0, 22, 20, 22, 5}, {0, 23, 20, 23, 10}, {11, 22, 11, 22, 1}, {0, 23, 20, 30, 0}, {13, 0, 13, 30, 0}};
  for (const auto& c : cases) {
    set(record[1], c.startRow, c.startCol), set(record[2], c.endRow, c.endCol);
    EXPECT_EQ(ArrayEltLayout(panel_, array, DS()), c.code) << c.startRow << "," << c.startCol;
  }
  PutNative32(*record[2], 3);  // the end handle claims more dimensions than it holds
  EXPECT_EQ(ArrayEltLayout(panel_, array, DS()), 0);
  PutNative32(*record[2], 2);
  SetW(array, kPWArrayPrivate, W(array, kPWArrayPrivate) + 4);
  EXPECT_EQ(ArrayEltLayout(panel_, array, DS()), 0) << "a record that is not the array's entry";
}

TEST_F(MethSupportTest, ArraysAreFoundThroughDisplayOwners) {
  const int32 array = Obj(kClsArray, root_), cluster = Obj(kClsCluster, array);
  const int32 inner = Obj(kClsNumeric, cluster), label = Obj(kClsLabel, inner), outer = Obj(kClsNumeric, root_);
  for (auto [object, in] : {std::pair{inner, 1}, {cluster, 1}, {array, 0}, {outer, 0}, {label, 0}})
    EXPECT_EQ(IsInArray(panel_, object), in) << object;
}

TEST_F(MethSupportTest, FocusedObjectsEndThePathAndHighlight) {
  const int32 object = Obj(kClsNumeric, root_);
  void* const previous = TRPushFrame();
  auto* top = static_cast<TransactionFrame*>(TRStackTop());
  top[0] = {root_, kCatFPSC, 2, 0}, top[1] = {object, kCatDDO, 0, 0}, top[2] = {object + 4, kCatCOSM, 2, 0}, top[3] = {};
  const int32 reply = FPFocusObject(panel_, object, &top[1], 0x100809);
  EXPECT_EQ(top[2].kind, 0u) << "the path ends at the object";
  TRSetStackTop(previous);
  EXPECT_EQ(reply, 0x9);
  EXPECT_EQ(PanelKeyFocus(panel_).object, object);
  EXPECT_EQ(PanelKeyFocus(panel_).savedFrames ? AZGetHandleSize(PanelKeyFocus(panel_).savedFrames) : 0, 48);
  EXPECT_TRUE(W(object, 0) & kObjFlagHighlight);
  FPReleaseKeyFocus(panel_);
  // The corner pixel is invalidated even when the object draws nothing.
  ShowInWindow();
  SetBounds(object, Rect{20, 30, 40, 90});
  InvalObjPart(panel_, object);
  EXPECT_TRUE(InvalidAt(30, 20));
}

// Per item: "x" checked, "-" disabled, "." neither; the menu disposed.
std::string MenuState(MenuHandle menu) {
  std::string s;
  for (int32 i = 1; menu && i <= MCountItems(menu); ++i)
    s += MGetLItemPtr(menu, i)->mark ? 'x' : MGetLItemPtr(menu, i)->enabled ? '.' : '-';
  if (menu) MDisposeMenu(menu);
  return s;
}

TEST_F(MethSupportTest, RadixAndPathMenusFollowTypeFormatAndValue) {
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  qxbuild::AddRunTimeResources(&w);
  const rsrcw::Bytes file = w.Write();
  const RsrcFileRef ref = FuzzOpenRsrcImage(file);
  ASSERT_NE(ref, 0);
  SetRunTimeRsrcFile(ref);
  const int32 number = Obj(kClsNumeric, root_);
  const std::pair<tdb::TD, int16> cases[] = {{tdb::DBL(), -2}, {tdb::DBL(), 0x42}, {tdb::I32(), 0x43}, {tdb::U8(), 0x40}};
  const char* const expected[] = {"x---", ".---", "..x.", "x..."};
  for (int32 i = 0; i < 4; ++i) {
    SetW(number, kPWDDOTypeId, int32(Type(cases[i].first)));
    PutNative16(*panel_ + number + kNumericFormat, uInt16(cases[i].second));
    EXPECT_EQ(MenuState(NumRadixMenuSetup(panel_, number)), expected[i]) << i;
  }
  int32 path = 0;
  ASSERT_EQ(Alloc(Control(tdb::Path(), kClsPath, &path)), kNoErr);
  Path* value = reinterpret_cast<Path*>(uintptr_t(uInt32(OGetDataPtr(panel_, path, 0, kDataPtrPlain, nullptr))));
  ASSERT_TRUE(value && (*value = FEmptyPath(*value)));
  EXPECT_EQ(MenuState(PathMenuSetup(panel_, path)), "x.");
  *value = FNotAPath(*value);
  EXPECT_EQ(MenuState(PathMenuSetup(panel_, path)), ".x");
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
}

// Backslash codes shown: each stored as its byte; otherwise the text as typed.
TEST_F(MethSupportTest, EditedStringsAreStoredDecodedWhenShownInCodes) {
  int32 string = 0;
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsString, &string)), kNoErr);
  const int32 text = Obj(kClsLabel, string, 11);
  WPortState port;
  WSetup(ShowInWindow(), &port);  // the text shown again is drawn there
  ClearReports();
  // A part showing codes is given the value's text (shown as "a\\nb").
  const struct {
    uInt32 flags;
    std::string given, stored;
  } cases[] = {{kTextFlagBackslash, std::string("a\nb", 3), std::string("a\nb", 3)},
               {0u, std::string("a\\nb", 4), std::string("a\\nb", 4)}};
  for (const auto& [flags, given, stored] : cases) {
    SetW(text, 0, int32(flags));
    SetPartText(panel_, text, reinterpret_cast<const uChar*>(given.data()), int32(given.size()), 0, 0);
    EXPECT_EQ(StringTextToData(panel_, string, text, PartTextRecord(panel_, text), 0x41), 9);
    UHandle data = *reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(panel_, string, 0, kDataPtrPlain, nullptr))));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(*data + 4), GetNative32(*data)), stored);
  }
  WRestore(&port);
  EXPECT_EQ(Asserts(), 0);
}

// Indexes pinned to the list; a list whose count passes its handle is none.
TEST_F(MethSupportTest, RingItemListsInsertAndDeletePinned) {
  int32 ring = 0;
  ASSERT_EQ(Alloc(Control(tdb::U16(), kClsRing, &ring)), kNoErr);
  const std::pair<int32, Bool32> steps[] = {{99, 1}, {-5, 0}, {7, 0}, {0, 0}};
  const int32 answers[] = {1, 0, 0, -1}, counts[] = {2, 1, 0, 0};
  for (int32 i = 0; i < 4; ++i) {
    EXPECT_EQ(RingInsertDeleteItem(panel_, ring, steps[i].first, steps[i].second), answers[i]) << i;
    EXPECT_EQ(int32(GetNative32(*ObjItemData(panel_, ring))), counts[i]);
  }
  const UHandle list = ObjItemData(panel_, ring);
  PutNative32(*list, 5);
  EXPECT_EQ(ObjItemData(panel_, ring), nullptr);
  EXPECT_EQ(RingInsertDeleteItem(panel_, ring, 0, 1), -1);
  PutNative32(*list, 0);
}

}  // namespace
