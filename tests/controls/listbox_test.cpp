// Listboxes: keys and type-ahead, scrolling, moving selected items and the
// property function.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "controls/ctlsize.h"
#include "controls/listbox.h"
#include "colour_maps.h"
#include "golden_image.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/winproc.h"
#include "panel/attrcall.h"
#include "panel/ctrl_internal.h"
#include "panel/dataxfer.h"
#include "panel/operate.h"
#include "panel/popup.h"
#include "panel/transact.h"
#include "panel/panel_test_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/editmsg.h"
#include "panel/objdraw.h"
#include "panel/osupport.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/image.h"
#include "platform/qx_font_internal.h"
#include "platform/qx_surface.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_time.h"
#include "platform/qx_window.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

QX_EXTERN_C int32 ListboxAttr(ObjHeap heap, int32 listbox, AttrCallRec* rec);

namespace {

using Ints = std::vector<int32>;

class ListboxTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    static const bool joined = (ControlsJoinSizeSlots(), true);
    (void)joined;
    // The listbox's own methods, joined for this test only: the class
    // record is put back afterwards for the tests that follow.
    std::memcpy(savedMethods_, ClassRecord(kClsListbox)->methods, sizeof savedMethods_);
    ControlsJoinListboxSlots();
  }
  void TearDown() override {
    ListboxResetTypeAhead();
    Free();
    for (UHandle h : mine_) DSDisposeHandle(h);
    PanelRootTest::TearDown();
    std::memcpy(const_cast<ObjClassRecord*>(ClassRecord(kClsListbox))->methods, savedMethods_, sizeof savedMethods_);
  }
  ObjMethodAddr savedMethods_[kObjSlots] = {};
  // The items of the last listbox made, and an array value, released.
  void Free() {
    if (!lb_) return;
    ListboxSetItemCount(panel_, lb_, 0);
    if (uChar* d = lb::Data(panel_, lb_)) {
      if (UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(d + kLbDataItems)))) DSDisposeHandle(h);
      PutNative32(d + kLbDataItems, 0);
    }
    if ((lb::Flags(panel_, lb_) & kLbArrayValue) && lb::Value(panel_, lb_)) {
      uChar* v = static_cast<uChar*>(lb::Value(panel_, lb_));
      if (UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(v)))) DSDisposeHandle(h);
      PutNative32(v, 0);
    }
    lb_ = 0;
  }
  UHandle Mine(UHandle h) {
    mine_.push_back(h);
    return h;
  }
  // A listbox of the texts ("-" a separator, "!x" the disabled x) showing
  // rows rows of 20 pixels; its value an index or an array of indexes.
  void Make(uInt32 flags, const std::vector<std::string>& texts, int16 rows = 3) {
    Free();
    dco_ = Control((flags & kLbArrayValue) ? tdb::Array(tdb::I32()) : tdb::I32(), kClsListbox, &lb_, root_);
    ASSERT_EQ(Alloc(dco_), kNoErr);
    if (!W(lb_, kLbDataWord)) { ASSERT_EQ(Alloc(lb_), kNoErr); }
    SetW(lb_, kLbFlagsWord, int32(flags));
    PutNative16(*panel_ + lb_ + kLbRowsByte, uInt16(rows));
    PutNative16(*panel_ + lb_ + kLbRowHeightByte, 20);
    list_ = Obj(kClsCosmetic, lb_, kLbListPart);
    SetBounds(Obj(kClsCosmetic, lb_, 0), {0, 0, int16(rows * 20), 100});
    SetBounds(list_, {0, 0, int16(rows * 20), 100}), SetBounds(lb_, {0, 0, int16(rows * 20), 100});
    ASSERT_EQ(ListboxSetItemCount(panel_, lb_, int32(texts.size())), kNoErr);
    for (size_t i = 0; i < texts.size(); ++i) {
      std::string t = texts[i];
      ::ListboxItem* it = Item(int32(i));
      if (t == "-") it->symbol = 0xFFFF, t.clear();
      if (!t.empty() && t[0] == '!') it->flags |= kLbItemDisabled, t.erase(0, 1);
      ListboxFixItemFlags(it);
      UHandle h = DSNewHandle(int32(4 + t.size()));
      ASSERT_NE(h, nullptr);
      PutNative32(*h, uInt32(t.size()));
      std::memcpy(*h + 4, t.data(), t.size());
      Item(int32(i))->text = h;
    }
    ASSERT_NE(lb::Value(panel_, lb_), nullptr);
  }
  ::ListboxItem* Item(int32 i) {
    int32 n;
    UHandle items = lb::Items(lb::Data(panel_, lb_), &n);
    return i < n ? lb::Item(items, i) : nullptr;
  }
  void Select(const Ints& which) {
    for (int32 i : which) Item(i)->flags |= kLbItemSelected;
  }
  Ints Marked(uInt32 mask) {
    Ints out;
    for (int32 i = 0; Item(i); ++i)
      if (Item(i)->flags & mask) out.push_back(i);
    return out;
  }
  std::string Text(int32 i) {
    UHandle h = Item(i)->text;
    return std::string(reinterpret_cast<char*>(*h + 4), GetNative32(*h));
  }
  int32 Top() { return lb::Top(lb::Data(panel_, lb_)); }
  int32 Activated() { return lb::Activated(lb::Data(panel_, lb_)); }
  int32 SingleValue() { return int32(GetNative32(static_cast<uChar*>(lb::Value(panel_, lb_)))); }
  Ints ArrayValue() {
    UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(static_cast<uChar*>(lb::Value(panel_, lb_)))));
    Ints out;
    for (int32 i = 0; h && i < int32(GetNative32(*h)); ++i) out.push_back(int32(GetNative32(*h + 4 + 4 * i)));
    return out;
  }

  int32 dco_ = 0, lb_ = 0, list_ = 0;
  std::vector<UHandle> mine_;
};

constexpr int32 kChar = vkAscii;

// Keys, one step each: the key code, the character and the pause before it.
struct Key {
  int32 code, character;
  int32 pauseMs = 10;
};

TEST_F(ListboxTest, KeysMoveTheSelectionFindTypedTextsAndScroll) {
  const std::vector<std::string> fruit{"apple", "bx", "Brown", "cherry"};
  const struct {
    const char* what;
    uInt32 flags;
    std::vector<std::string> texts;
    Ints selected;
    std::vector<Key> keys;
    Ints wantSelected;
    int32 wantTop, wantActivated;
  } cases[] = {
      {"b r in mode 0 finds Brown", 0, fruit, {0}, {{kChar, 'b'}, {kChar, 'r'}}, {2}, 0, -1},
      {"b r case-insensitive mode", kLbKeysCaseInsensitive, fruit, {0}, {{kChar, 'b'}, {kChar, 'r'}}, {2}, 0, -1},
      {"b r case-sensitive: the next after br", kLbKeysCaseSensitive, fruit, {0}, {{kChar, 'b'}, {kChar, 'r'}},
       {1}, 0, -1},
      {"r alone after 1001 ms: the largest before it", 0, fruit, {0}, {{kChar, 'b'}, {kChar, 'r', 1001}}, {3}, 1, -1},
      // The clock runs on between the keys: the pause leaves room for a loaded machine.
      {"r within 1000 ms continues the prefix", 0, fruit, {0}, {{kChar, 'b'}, {kChar, 'r', 900}}, {2}, 0, -1},
      {"Right and Left wrap during type-ahead", 0, {"ba", "c", "bb", "bc"}, {1},
       {{kChar, 'b'}, {vkRight, 0}, {vkRight, 0}, {vkRight, 0}, {vkLeft, 0}}, {3}, 1, -1},
      {"Down skips separators and disabled items", 0, {"a", "-", "!c", "d"}, {0}, {{vkDown, 0}}, {3}, 1, -1},
      {"Up from the top stays", 0, {"a", "b"}, {0}, {{vkUp, 0}}, {0}, 0, -1},
      {"type-ahead skips a separator", 0, {"a", "-", "b"}, {0}, {{kChar, 'b'}}, {2}, 0, -1},
      {"Page Down moves the top by rows - 1", 0, {"0", "1", "2", "3", "4", "5", "6"}, {0}, {{vkPageDown, 0}},
       {0}, 2, -1},
      {"End, then Page Up", 0, {"0", "1", "2", "3", "4", "5", "6"}, {0}, {{vkEnd, 0}, {vkPageUp, 0}}, {0}, 2, -1},
      {"space keeps the only item in mode 3", 3, {"a", "b"}, {1}, {{kChar, ' '}}, {1}, 0, -1},
      {"space deselects in mode 2", 2, {"a", "b"}, {1}, {{kChar, ' '}}, {}, 0, -1},
      {"space does nothing in mode 1", 1, {"a", "b"}, {1}, {{kChar, ' '}}, {1}, 0, -1},
      {"line feed activates the one selected item", 0, {"a", "b", "c"}, {2}, {{kChar, '\n'}}, {2}, 0, 2},
      {"line feed with two selected does not", 2 | kLbArrayValue, {"a", "b", "c"}, {0, 2}, {{kChar, '\n'}},
       {0, 2}, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c.flags, c.texts);
    if (HasFatalFailure()) return;
    Select(c.selected);
    lb::SetActivated(lb::Data(panel_, lb_), -1);
    ListboxResetTypeAhead();
    for (const Key& k : c.keys) {
      PlatTickShift(k.pauseMs);
      ListboxKey(panel_, lb_, k.code, k.character, 1);
    }
    EXPECT_EQ(Marked(kLbItemSelected), c.wantSelected);
    EXPECT_EQ(Top(), c.wantTop);
    EXPECT_EQ(Activated(), c.wantActivated);
    if (!(c.flags & kLbArrayValue) && c.wantSelected != c.selected) {
      EXPECT_EQ(SingleValue(), c.wantSelected.empty() ? -1 : c.wantSelected.back())
          << "the value follows a changed selection";
    }
  }
}

// Typed keys reach the focused listbox through the panel's key handler.
TEST_F(ListboxTest, TypedKeysReachTheFocusedListboxThroughThePanel) {
  Make(0, {"apple", "bx", "Brown", "cherry"});
  Select({0});
  // The focus keeps the listbox's path, written as the focus moves.
  SetW(root_, 10, vib::NewList(panel_, {dco_}));
  void* const previous = TRPushFrame();
  ASSERT_EQ(GetObjAttrRec(panel_, lb_, nullptr, nullptr), 1);
  ASSERT_EQ(FPKeyFocusUpdate(panel_, lb_, 0, nullptr), kNoErr);
  TRSetStackTop(previous);
  for (const auto& [code, character] : {std::pair{kChar, int32('b')}, {kChar, int32('r')}}) {
    WEventRecord e{weKey, 0, 0, 0, 0, character, WKeyCode(code), {}};
    FPHandleKey(&e, panel_);
  }
  EXPECT_EQ(Marked(kLbItemSelected), Ints{2});
  EXPECT_EQ(SingleValue(), 2);
  WEventRecord down{weKey, 0, 0, 0, 0, 0, WKeyCode(vkDown), {}};
  FPHandleKey(&down, panel_);
  EXPECT_EQ(Marked(kLbItemSelected), Ints{3});
  FPReleaseKeyFocus(panel_);
}

// The pop-up menu passes the generic level and keeps one of its own.
TEST_F(ListboxTest, ThePopUpMenuKeepsALevelOfItsOwn) {
  Make(0, {"a"});
  PopupMsgRecord rec{};
  rec.phase = 1;
  EXPECT_EQ(OPopup(panel_, lb_, &rec), 0);
  EXPECT_EQ(rec.level, 2);
}

// An indicator's list takes no press; over the scroll bar the cursor
// answer is one pixel at the mouse with the list's own cursor.
TEST_F(ListboxTest, AnIndicatorsListTakesNoPressAndTheBarSetsTheCursor) {
  Make(0, {"a", "b", "c"});
  void* const previous = TRPushFrame();
  auto* frame = static_cast<TransactionFrame*>(TRStackTop());
  const auto click = [&](int32 event, Point pt) {
    TransactionState state{kTRModeMouseDown, int32((uInt32(uInt16(pt.h)) << 16) | uInt16(pt.v)), 0, nullptr};
    ActionParams p{};
    p.point = pt, p.eventCode = event;
    const int32 answer = ListboxOClickMethod(panel_, lb_, &state, frame, &p);
    return std::pair{answer, p};
  };
  const int32 control = click(1, Point{30, 20}).first;
  SetW(lb_, 0, W(lb_, 0) | int32(kObjFlagIndicator));
  EXPECT_EQ(click(1, Point{30, 20}).first, 1);
  EXPECT_NE(control, 1) << "a control's list operates";
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) | kHeapFlagTextEntry);
  EXPECT_EQ(click(1, Point{30, 20}).first, control) << "an indicator's list operates in text entry";
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) & ~kHeapFlagTextEntry);
  const auto [answer, p] = click(3, Point{30, 95});
  EXPECT_NE(answer, 0) << "the bar is inside the list area";
  const CursorAnswer* c = CursorOf(const_cast<ActionParams*>(&p));
  EXPECT_EQ(c->cursor, -1);
  EXPECT_EQ(R(c->rect), (std::vector<int16>{30, 95, 31, 96}));
  SetW(lb_, 0, W(lb_, 0) & ~int32(kObjFlagIndicator));
  TRSetStackTop(previous);
}

TEST_F(ListboxTest, ScrollingToAnItemKeepsTheTopInRange) {
  Make(0, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, 4);
  lb::SetTop(lb::Data(panel_, lb_), 3);
  const struct { int32 item, mode, change; } cases[] = {
      {1, 0, -2}, {5, 0, 0}, {9, 0, 3}, {5, 1, 0}, {5, 4, 0}, {9, 4, 3}, {2, 5, -1},
      {8, 3, 2}, {0, 6, -3}, {40, 2, 3}, {-5, 0, -3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ListboxScrollToItem(panel_, lb_, c.item, c.mode, nullptr), c.change) << c.item << " mode " << c.mode;
  EXPECT_EQ(ListboxKey(panel_, lb_, vkDown, 0, 0), 0) << "an indicator only scrolls";
  EXPECT_EQ(Top(), 4);
  EXPECT_EQ(Marked(kLbItemSelected), Ints{});
}

// Keys over a selection too large for the listbox's own list of marks (it
// walks the items) and back within it: the value stays the selected items,
// ascending, and the caret mark moves from the only caret row.
TEST_F(ListboxTest, KeysKeepTheValueExactBeyondAndWithinTheKnownMarks) {
  std::vector<std::string> texts(30, "t");
  Make(2 | kLbArrayValue, texts, 5);
  UHandle shown = Mine(DSNewHandle(4 + 4 * 20));
  PutNative32(*shown, 20);
  for (int32 i = 0; i < 20; ++i) PutNative32(*shown + 4 + 4 * i, uInt32(i));
  ASSERT_TRUE(ListboxApplySelection(panel_, lb_, &shown, 0));
  Item(25)->flags |= kLbItemCaret;
  Ints want(20);
  for (int32 i = 0; i < 20; ++i) want[size_t(i)] = i;
  ListboxKey(panel_, lb_, kChar, ' ', 1);
  want.push_back(25);
  EXPECT_EQ(ArrayValue(), want) << "twenty-one selected";
  // Up and space from 24 to 7: rows 20-24 join, 7-19 leave (thirteen left).
  for (int32 i = 0; i < 18; ++i) ListboxKey(panel_, lb_, vkUp, 0, 1), ListboxKey(panel_, lb_, kChar, ' ', 1);
  EXPECT_EQ(ArrayValue(), (Ints{0, 1, 2, 3, 4, 5, 6, 20, 21, 22, 23, 24, 25}));
  EXPECT_EQ(Marked(kLbItemCaret), Ints{7});
  ListboxKey(panel_, lb_, vkDown, 0, 1), ListboxKey(panel_, lb_, kChar, ' ', 1);
  EXPECT_EQ(ArrayValue(), (Ints{0, 1, 2, 3, 4, 5, 6, 8, 20, 21, 22, 23, 24, 25}));
  EXPECT_EQ(Marked(kLbItemCaret), Ints{8});
}

TEST_F(ListboxTest, SelectedItemsDraggedBeforeTheFirstMoveToTheTopInOrder) {
  Make(2 | kLbArrayValue | kLbDragReorder, {"a", "b", "c", "d", "e"});
  Select({2, 4});
  ASSERT_EQ(ListboxStoreSelection(panel_, lb_, nullptr, nullptr), kLbReplyChanged);
  EXPECT_EQ(ArrayValue(), (Ints{2, 4}));
  EXPECT_EQ(ListboxMoveSelected(panel_, lb_, 0), 0x10008);
  std::string order;
  for (int32 i = 0; i < 5; ++i) order += Text(i);
  EXPECT_EQ(order, "ceabd");
  EXPECT_EQ(ArrayValue(), (Ints{0, 1}));
  EXPECT_EQ(ListboxMoveSelected(panel_, lb_, 1), 0) << "already together there";
  // A value displayed selects its items; greyed, the listbox is invalidated instead.
  UHandle shown = Mine(DSNewHandle(8));
  PutNative32(*shown, 1), PutNative32(*shown + 4, 3);
  EXPECT_EQ(oDisplayVal(panel_, lb_, 0, &shown), 0);
  EXPECT_EQ(Marked(kLbItemSelected), Ints{3});
  SetW(lb_, 0, W(lb_, 0) | 0x80);
  EXPECT_EQ(oDisplayVal(panel_, lb_, 0, &shown), 0x20000);
  SetW(lb_, 0, W(lb_, 0) & ~0x80);
  EXPECT_EQ(ListboxMoveSelected(panel_, lb_, 6), 0) << "past the end";
  // A value naming indexes outside the items selects only those inside.
  for (int32 i = 0; Item(i); ++i) Item(i)->flags &= ~uInt32(kLbItemSelected);
  UHandle a = reinterpret_cast<UHandle>(uintptr_t(GetNative32(static_cast<uChar*>(lb::Value(panel_, lb_)))));
  ASSERT_EQ(DSSetHandleSize(a, 16), kNoErr);
  PutNative32(*a, 3), PutNative32(*a + 4, uInt32(-4)), PutNative32(*a + 8, 3), PutNative32(*a + 12, 99);
  EXPECT_TRUE(ListboxApplySelection(panel_, lb_, lb::Value(panel_, lb_), 0));
  EXPECT_EQ(Marked(kLbItemSelected), Ints{3});
}

// Presses, moves and releases on the list (rows of 20 pixels from 0).
struct Mouse {
  int32 code;
  int16 v, h;
  int32 modifiers = 0;
};

TEST_F(ListboxTest, MouseSelectsExtendsDragsAndActivates) {
  const std::vector<std::string> five{"a", "b", "c", "d", "e"};
  constexpr int32 kPress = 1, kMove = 3, kRelease = 2, kShift = kWModShift, kDouble = kWModDoubleClick;
  const struct {
    const char* what;
    uInt32 flags;
    std::vector<std::string> texts;
    Ints selected;
    std::vector<Mouse> events;
    Ints wantSelected;
    const char* wantOrder;
    int32 wantActivated, wantReply;
  } cases[] = {
      {"mode 1: dragged out of the list the last row stays", 1, five, {}, {{kPress, 30, 20}, {kMove, 30, 300},
       {kRelease, 30, 300}}, {1}, "abcde", -1, 0},
      {"mode 0: dragged out of the list nothing stays", 0, five, {}, {{kPress, 30, 20}, {kMove, 30, 300},
       {kRelease, 30, 300}}, {}, "abcde", -1, 0},
      {"mode 2: Shift extends over the selectable rows", 2, {"a", "b", "!c", "d", "e"}, {}, {{kPress, 30, 20, kShift},
       {kMove, 70, 20, kShift}, {kRelease, 70, 20, kShift}}, {1, 3}, "abcde", -1, 0},
      {"mode 2: Shift on a selected row deselects the range", 2, five, {1, 2, 3}, {{kPress, 70, 20, kShift},
       {kMove, 30, 20, kShift}, {kRelease, 30, 20, kShift}}, {}, "abcde", -1, 0},
      {"two selected dragged before the first move to the top", 2 | kLbArrayValue | kLbDragReorder, five, {2, 4},
       {{kPress, 50, 20}, {kMove, 2, 20}, {kMove, 2, 20}, {kRelease, 2, 20}}, {0, 1}, "ceabd", -1, 0x10008},
      {"a double click activates the row", 0, five, {}, {{kPress, 50, 20, kDouble}, {kRelease, 50, 20, kDouble}},
       {2}, "abcde", 2, 0x10000},
      {"a click on the one selected item's symbol activates it", kLbSymbolActivates | kLbShowSymbols, five, {1},
       {{kPress, 30, 5}}, {1}, "abcde", 1, 0x10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c.flags, c.texts, 5);
    if (HasFatalFailure()) return;
    Select(c.selected);
    ListboxStoreSelection(panel_, lb_, nullptr, nullptr);
    int32 reply = 0;
    for (const Mouse& m : c.events) reply = ListboxMouse(panel_, lb_, m.code, Point{m.v, m.h}, m.modifiers);
    EXPECT_EQ(Marked(kLbItemSelected), c.wantSelected);
    std::string order;
    for (int32 i = 0; Item(i); ++i) order += Text(i);
    EXPECT_EQ(order, c.wantOrder);
    EXPECT_EQ(Activated(), c.wantActivated);
    EXPECT_EQ(reply & c.wantReply, c.wantReply);
    if (c.flags & kLbArrayValue) { EXPECT_EQ(ArrayValue(), c.wantSelected) << "the value follows the items"; }
    if (c.events.back().code == kSubRelease) {
      EXPECT_EQ(int32(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtKeyFocus)), lb_)
          << "the release gives the listbox the key focus";
    }
    FPReleaseKeyFocus(panel_);
  }
}

// Rows of symbols are at least 14 or 18 pixels; the list area is cut to
// whole rows, and the text column moves right of the symbols.
TEST_F(ListboxTest, SymbolRowsSetTheRowHeightAndTheTextColumn) {
  const struct { uInt32 flags; int32 height, rows, reply, textLeft; } cases[] = {
      {kLbShowSymbols | kLbTallSymbolRows, 18, 6, 128, 14},
      {kLbShowSymbols, 14, 7, 128, 14},
      {kLbShowSymbols | kLbLargeSymbols, 14, 7, 128, 20},
  };
  for (const auto& c : cases) {
    Make(c.flags, {"a"}, 5);
    const int32 text = Obj(kClsCosmetic, lb_, 11);
    SetW(lb_, kLbTextWord, text);
    SetBounds(text, {0, 0, 100, 100}), SetBounds(list_, {0, 0, 100, 100});
    EXPECT_EQ(ListboxCalcRowHeight(panel_, lb_), c.reply) << c.flags;
    EXPECT_EQ(ObjInt16(panel_, lb_, kLbRowHeightByte), c.height);
    EXPECT_EQ(ObjInt16(panel_, lb_, kLbRowsByte), c.rows);
    EXPECT_EQ(R(ctrl::BoundsOf(panel_, list_))[2], c.height * c.rows);
    EXPECT_EQ(R(ctrl::BoundsOf(panel_, text))[1], c.textLeft) << "laid out as the list area was resized";
    EXPECT_EQ(ListboxLayoutParts(panel_, lb_), 0) << "laid out already";
    SetBounds(text, {0, 0, 100, 100});
    EXPECT_EQ(ListboxLayoutParts(panel_, lb_), 1);
    EXPECT_EQ(R(ctrl::BoundsOf(panel_, text))[1], c.textLeft);
  }
}

// The loaded symbols come from the run-time resource file; a failed
// allocation anywhere releases every image read and empties the table.
TEST_F(ListboxTest, LoadedSymbolsAreReadWholeOrNotAtAll) {
  ASSERT_EQ(RInitResources(), kNoErr);
  const auto open = [&](int32 families) {
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    if (families < 0) {
      qxbuild::AddRunTimeResources(&w);
    } else {
      static const auto on = +[](int x, int y) { return x == y; };
      for (int32 k = 0; k < families; ++k)
        for (const auto& r : qxbuild::IconFamilyResources(on, on, 3, 40)) w.Add(r.first, 10000 + k, r.second);
    }
    const rsrcw::Bytes bytes = w.Write();
    UHandle fh = AZNewHandle(int32(bytes.size()));
    std::memcpy(*fh, bytes.data(), bytes.size());
    RsrcFileRef file = 0;
    EXPECT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &file, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(file);
    return file;
  };
  RsrcFileRef file = open(-1);
  ASSERT_EQ(InitListboxSymbols(10000), kNoErr);
  EXPECT_EQ(ListboxLoadedSymbolCount(), 23);
  EXPECT_NE(ListboxLoadedSymbol(1022), 0);
  EXPECT_EQ(ListboxLoadedSymbol(1023), 0);
  EXPECT_EQ(ListboxSymbolImage(36), 2091);
  EXPECT_EQ(ListboxSymbolImage(37), 0);
  ListboxDisposeSymbols();
  RCloseFile(file);
  // Forty families: the table grows past its first 32 entries.
  file = open(40);
  int32 failures = 0, whole = 0;
  for (int32 n = 1; n < 300; ++n) {
    MemFailNthAllocation(n);
    const MgErr err = InitListboxSymbols(10000);
    MemFailNthAllocation(0);
    EXPECT_EQ(ListboxLoadedSymbolCount(), err ? 0 : 40) << n;
    failures += err == kMemFullErr, whole += err == kNoErr;
  }
  EXPECT_GT(whole, 0);
  EXPECT_EQ(ListboxLoadedSymbolCount(), 40);
  EXPECT_GT(failures, 1) << "failures came while images were held";
  ListboxDisposeSymbols();
  SetRunTimeRsrcFile(0);
  RCloseFile(file);
}

// One property call on the listbox: the value's descriptor and bytes.
class ListboxAttrTest : public ListboxTest {
 protected:
  int32 Call(int32 selector, bool read, const tdb::TD& td, void* value) {
    std::vector<uChar> b = td.Bytes();
    UHandle types = Mine(DSNewHandle(int32(b.size())));
    std::memcpy(*types, b.data(), b.size());
    AttrCallRec rec{};
    rec.types = types, rec.read = read, rec.selector = selector, rec.value = value;
    return ListboxAttr(panel_, lb_, &rec);
  }
  int32 Get(int32 selector) {
    int32 v = -99;
    Call(selector, true, tdb::I32(), &v);
    return v;
  }
  int32 Set(int32 selector, int32 v) { return Call(selector, false, tdb::I32(), &v); }
  UHandle NumArray(const Ints& v) {
    UHandle h = Mine(DSNewHandle(int32(4 + 4 * v.size())));
    PutNative32(*h, uInt32(v.size()));
    for (size_t i = 0; i < v.size(); ++i) PutNative32(*h + 4 + 4 * i, uInt32(v[i]));
    return h;
  }
  Ints ReadArray(int32 selector) {
    UHandle h = nullptr;
    Call(selector, true, tdb::Array(tdb::I32()), &h);
    Ints out;
    for (int32 i = 0; h && i < int32(GetNative32(*h)); ++i) out.push_back(int32(GetNative32(*h + 4 + 4 * i)));
    if (h) DSDisposeHandle(h);
    return out;
  }
};

TEST_F(ListboxAttrTest, PropertiesReadAndWriteTheListbox) {
  Make(0, {"a", "b", "c", "d", "e", "f"});
  const struct { const char* what; int32 selector, write, read; } cases[] = {
      {"rows 0 give one row", 0, 0, 1},
      {"rows beyond the limit: those that fit below 16000", 0, 20000, 800},
      {"rows back to three", 0, 3, 3},
      {"selection mode 3", 2, 3, 3},
      {"selection mode 4 is refused", 2, 4, 3},
      {"keyboard mode 2", 3, 2, 2},
      {"keyboard mode 7 clears it", 3, 7, 0},
      {"top item pinned to count - rows", 6, 9, 3},
      {"top item pinned at 0", 6, -2, 0},
  };
  for (const auto& c : cases) {
    Set(c.selector, c.write);
    EXPECT_EQ(Get(c.selector), c.read) << c.what;
  }
  // Width: at least 64, the right edge at most 16000 - left; the object is resized.
  static Rect sized;
  const ptest::SlotPatch size(kClsListbox, kMsgOSize, +[](ObjHeap heap, int32 o, const Rect* r, int32) {
    if (r) sized = *r, std::memcpy(*heap + o + kObjBounds, r, sizeof *r);
    return 0;
  });
  for (const auto& [left, width, right] : {std::tuple{0, 10, 64}, {15900, 500, 16000}, {10, 200, 210}}) {
    SetBounds(lb_, {0, int16(left), 60, int16(left + 100)});
    EXPECT_EQ(Set(1, width), 0x20080);
    EXPECT_EQ(sized.right, right) << width;
    EXPECT_EQ(Get(1), right - left);
  }
  // Disabled items: outside indexes ignored, the rest sorted; their
  // selection goes.
  Select({2});
  UHandle disabled = NumArray({5, -1, 2});
  EXPECT_NE(Call(10, false, tdb::Array(tdb::I32()), &disabled) & kLbReplyState, 0);
  EXPECT_EQ(ReadArray(10), (Ints{2, 5}));
  EXPECT_EQ(Marked(kLbItemSelected), Ints{});
  EXPECT_EQ(Marked(kLbItemUnselectable), (Ints{2, 5}));
  disabled = NumArray({});
  Call(10, false, tdb::Array(tdb::I32()), &disabled);
  EXPECT_EQ(Marked(kLbItemUnselectable), Ints{}) << "enabled again";
  // Symbols: a negative one makes a separator; items past the array get 0.
  UHandle symbols = NumArray({3, -1});
  Call(9, false, tdb::Array(tdb::I32()), &symbols);
  EXPECT_EQ(ReadArray(9), (Ints{3, -1, 0, 0, 0, 0}));
  EXPECT_EQ(Marked(kLbItemSeparator), Ints{1});
  // The activated item reads once.
  lb::SetActivated(lb::Data(panel_, lb_), 4);
  EXPECT_EQ(Get(7), 4);
  EXPECT_EQ(Get(7), -1);
  // Booleans: the scroll bar and the symbols.
  bool on = false;
  Call(4, false, tdb::Boolean(), &on);
  EXPECT_TRUE(lb::Flags(panel_, lb_) & kLbNoScrollBar);
  on = true;
  Call(5, false, tdb::Boolean(), &on);
  EXPECT_TRUE(lb::Flags(panel_, lb_) & kLbShowSymbols);
  EXPECT_EQ(ObjInt16(panel_, lb_, kLbRowHeightByte), 14) << "symbol rows are at least 14 high";
  // A selector past the table is reported and changes nothing.
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(Set(11, 1), 0);
  EXPECT_EQ(Reports("bad index in ListboxAttr 11"), 1);
}

TEST_F(ListboxAttrTest, ItemTextsKeepTheTopWhenUnchangedAndReapplyTheSelectionWhenGrown) {
  Make(0, {"a", "b", "c", "d", "e"});
  auto texts = [&](const std::vector<std::string>& t) {
    UHandle h = Mine(DSNewHClr(int32(4 + 4 * t.size())));
    PutNative32(*h, uInt32(t.size()));
    for (size_t i = 0; i < t.size(); ++i) {
      UHandle s = Mine(DSNewHandle(int32(4 + t[i].size())));
      PutNative32(*s, uInt32(t[i].size()));
      std::memcpy(*s + 4, t[i].data(), t[i].size());
      PutNative32(*h + 4 + 4 * i, uInt32(uintptr_t(s)));
    }
    return h;
  };
  lb::SetTop(lb::Data(panel_, lb_), 2);
  UHandle same = texts({"a", "b", "c", "d", "e"});
  EXPECT_EQ(Call(8, false, tdb::Array(tdb::String()), &same), 0);
  EXPECT_EQ(Top(), 2) << "identical texts keep the top item";
  PutNative32(static_cast<uChar*>(lb::Value(panel_, lb_)), 6);
  UHandle more = texts({"a", "b", "x", "d", "e", "f", "g"});
  EXPECT_NE(Call(8, false, tdb::Array(tdb::String()), &more) & kLbReplyState, 0);
  EXPECT_EQ(Top(), 0);
  EXPECT_EQ(Text(2), "x");
  EXPECT_EQ(Marked(kLbItemSelected), Ints{6}) << "the value's item exists now";
  UHandle back = nullptr;
  Call(8, true, tdb::Array(tdb::String()), &back);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(GetNative32(*back), 7u);
  UHandle third = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*back + 12)));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*third + 4), GetNative32(*third)), "x");
  for (int32 i = 0; i < 7; ++i) DSDisposeHandle(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*back + 4 + 4 * i))));
  DSDisposeHandle(back);
}

// A listbox drawn into a window: what its rows leave on the screen.
class ListboxDraw : public ListboxTest {
 protected:
  void SetUp() override {
    ListboxTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    WSetup(window_, &port_);
    WValidate(window_);
    TXInitFonts();
    font_ = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 12, 0, 0);
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
    WRestore(&port_);
    ListboxTest::TearDown();
    if (text_) TDispose(text_);
    TDisposeFont(font_);
    TXFinishFonts();
    DDisposeDraw();
  }
  // The text object whose record gives the rows' font and text colour.
  void GiveText(DColor colour) {
    const Rect view{0, 0, 20, 100};
    text_ = TNew(&view, 0, nullptr, 0, font_, colour, kTransparentColor);
    ASSERT_NE(text_, nullptr);
    const int32 text = Obj(kClsLabel, lb_, 0);
    SetW(text, 9, int32(uintptr_t(text_)));
    SetW(lb_, kLbTextWord, text);
  }
  uInt32 Pixel(int32 h, int32 v) const {
    return PlatSurfaceGetPixel(PlatWindowSurface(WHostWindow(window_)), h, v) & 0xFFFFFF;
  }
  void Clear() { PlatSurfaceClear(PlatWindowSurface(WHostWindow(window_)), kClear); }
  // The first column of the row's middle line, from h on, that is not the background.
  int32 FirstInk(int32 h, int32 v, int32 right, uInt32 back) const {
    while (h < right && Pixel(h, v) == back) ++h;
    return h;
  }
  static constexpr uInt32 kClear = 0x808080, kBack = 0xFFFF00, kInk = 0x0000FF;
  WPortState port_{};
  int32 window_ = 0, font_ = 0;
  TRecord text_ = nullptr;
};

// Rows of 20 pixels: two texts (the second indented three levels), a
// separator, a selected row and the caret row; then the selection moved by
// a key, redrawn in place, and the highlight pair of draw mode 1.
TEST_F(ListboxDraw, RowsShowIndentsSeparatorsSelectionAndCaret) {
  Make(0, {"WW", "WW", "-", "b", "c"}, 5);
  if (HasFatalFailure()) return;
  GiveText(kInk);
  ctrl::SetPartColours(panel_, list_, 0, kBack);
  Item(1)->flags |= 3u << kLbItemIndentShift;
  Select({3});
  ListboxStoreSelection(panel_, lb_, nullptr, nullptr);
  Item(4)->flags |= kLbItemCaret;
  const int32 right = 100 - PlatGetSystemMetric(kPlatMetricVScrollWidth);
  Clear();
  ODraw(panel_, lb_, lb::Value(panel_, lb_), int32(0), int32(kDrawModeNormal));
  const uInt32 highlight = PlatSysColourRgb(kPlatColourHighlight);
  const struct Probe {
    int32 h, v;
    uInt32 colour;
    const char* what;
  } probes[] = {
      {right - 2, 5, kBack, "a plain row on the list's colour"},
      {right - 2, 65, kInk, "the selected row: the text colour as background"},
      {5, 50, 0xCCCCCC, "the separator's line through the middle"},
      {right - 2, 50, 0xCCCCCC, "the line reaches one pixel before the edge"},
      {right - 1, 50, kBack, "and stops there"},
      {5, 45, kBack, "the separator row around its line"},
      {right + 2, 150, kClear, "nothing below the list"},
  };
  for (const Probe& p : probes) EXPECT_EQ(Pixel(p.h, p.v), p.colour) << p.what;
  EXPECT_EQ(std::make_pair(Pixel(0, 80), Pixel(1, 80)), std::make_pair(0x000000u, 0xFFFFFFu))
      << "the caret's frame: black dots on white";
  EXPECT_NE(Pixel(right + 2, 50), kClear) << "the scroll bar is drawn";
  const int32 plain = FirstInk(0, 10, right, kBack), indented = FirstInk(0, 30, right, kBack);
  ASSERT_LT(plain, right) << "the text is drawn";
  EXPECT_EQ(indented - plain, 30) << "three indent levels";
  // Down moves the selection to the caret's row: both rows are redrawn at once.
  Clear();
  ListboxKey(panel_, lb_, vkDown, 0, 1);
  EXPECT_EQ(Pixel(right - 2, 85), kInk) << "the new selected row";
  EXPECT_EQ(Pixel(right - 2, 65), kBack) << "the old one";
  EXPECT_EQ(Pixel(right - 2, 5), kClear) << "rows that did not change are left as they are";
  EXPECT_EQ(Pixel(right + 2, 50), kClear) << "so is the scroll bar when the list did not scroll";
  ListboxDrawContents(panel_, lb_, nullptr, 4, 4, kDrawModeBlink);
  if (highlight != kTransparentColor) { EXPECT_EQ(Pixel(right - 2, 85), highlight) << "draw mode 1"; }
  // A frame part showing the standard picture is framed just outside, in black.
  const int32 frame = Obj(kClsCosmetic, lb_, 9);
  SetBounds(frame, {10, 10, 90, 90});
  SetW(frame, 6, int32(uInt32(uInt16(-300)) << 16));
  Clear();
  OFrameSel(panel_, lb_, panel_, 0, 0x10);
  EXPECT_EQ(std::make_pair(Pixel(8, 50), Pixel(9, 50)), std::make_pair(0x000000u, kClear)) << "the selection frame";
}

// Rows of every kind on 32- and 1-bit ports in draw modes 4 and 1: a
// built-in and a loaded symbol, an indented row, a separator, a disabled
// row with a loaded symbol, two selected rows, the caret and the drop line
// of a drag under way; against their goldens (checked by eye once).
TEST_F(ListboxDraw, RowsOfEveryKindLookAsTheirGoldens) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QX_SOURCE_DIR) / "tests" / "controls" / "goldens";
  const std::string have = "freetype " + qxfont::FreeTypeVersion() + "\ndejavu " + qxfont::FaceVersion(0) + "\n";
  if (qxtest::UpdatingGoldens()) std::ofstream(dir / "listbox.versions") << have;
  std::stringstream recorded;
  recorded << std::ifstream(dir / "listbox.versions").rdbuf();
  ASSERT_EQ(recorded.str(), have) << "regenerate the listbox goldens (QX_UPDATE_GOLDENS=1)";
  ASSERT_EQ(LoadDefaultColourMaps(), kNoErr);
  MLoadMenuColors();  // the scroll bar's colours, as start-up loads them
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  const rsrcw::Bytes bytes = w.Write();
  UHandle fh = AZNewHandle(int32(bytes.size()));
  ASSERT_NE(fh, nullptr);
  std::memcpy(*fh, bytes.data(), bytes.size());
  RsrcFileRef file = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &file, nullptr, nullptr, fh), kNoErr);
  SetRunTimeRsrcFile(file);
  ASSERT_EQ(InitListboxSymbols(10000), kNoErr);
  // Built-in symbol 1 shows picture 2019 of the system's set: a framed square here.
  const Rect square{0, 0, 16, 16};
  int32 pict = 0;
  ASSERT_EQ(ICreatePixmap(-1, &square, 32, &pict), kNoErr);
  ImageSaveRecord save{};
  IOpen(pict, &save);
  DSelectNormPen(0x00A000, 0x000000);
  DPaintRect(&square);
  DSelectNormPen(0x000000, 0x000000);
  DFrameRect(&square);
  IClose(pict, &save);
  ASSERT_EQ(SetBuiltInPict(2019, pict), kNoErr);

  Make(kLbShowSymbols | kLbLargeSymbols | kLbDragReorder | 2, {"Alpha", "Beta", "-", "!Gamma", "Delta", "Epsilon", "Zeta"}, 7);
  if (HasFatalFailure()) return;
  GiveText(0x800000);
  ctrl::SetPartColours(panel_, list_, 0, 0xFFFFE0);
  Item(0)->symbol = 1;
  Item(1)->symbol = 1000, Item(1)->flags |= 2u << kLbItemIndentShift;
  Item(3)->symbol = 1001;
  Select({4, 5});
  ListboxStoreSelection(panel_, lb_, nullptr, nullptr);
  Item(6)->flags |= kLbItemCaret;
  // A drag from row 4 held at the boundary above row 1.
  ListboxMouse(panel_, lb_, 1, Point{90, 50}, 0);
  ListboxMouse(panel_, lb_, 3, Point{22, 50}, 0);
  ListboxMouse(panel_, lb_, 3, Point{21, 50}, 0);
  ASSERT_EQ(lb::DropPosition(lb_), 1);

  const Rect all{0, 0, 140, 100};
  const struct {
    int32 depth, mode;
    const char* golden;
  } sheets[] = {{32, kDrawModeNormal, "listbox.png"},
                {32, kDrawModeBlink, "listbox-blink.png"},
                {1, kDrawModeNormal, "listbox-bw.png"},
                {1, kDrawModeBlink, "listbox-bw-blink.png"}};
  PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
  for (const auto& sheet : sheets) {
    SCOPED_TRACE(sheet.golden);
    int32 image = 0;
    ASSERT_EQ(ICreatePixmap(-1, &all, sheet.depth, &image), kNoErr);
    ImageSaveRecord into{};
    IOpen(image, &into);
    DSelectNormPen(0xFFFFFF, 0xFFFFFF);
    DPaintRect(&all);
    ListboxDrawScrollBar(panel_, lb_, sheet.mode, 1);
    IClose(image, &into);
    PlatSurfaceClear(surface, 0x808080);
    IDraw(image, nullptr, &all, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF);
    IRelease(image);
    qxtest::ExpectMatchesGolden(surface, dir / sheet.golden,
                                "QX_UPDATE_GOLDENS=1 test_controls --gtest_filter=ListboxDraw.*, then check by eye");
  }
  ListboxMouse(panel_, lb_, 2, Point{21, 50}, 0);
  SetBuiltInPict(2019, 0);
  IRelease(pict);
  ListboxDisposeSymbols();
  SetRunTimeRsrcFile(0);
  RCloseFile(file);
}

}  // namespace
namespace {
// A press through the panel's event (the application inactive, so the
// track ends at once) reaches the listbox: the row under it is selected,
// the value follows, and the release gives it the key focus.
TEST_F(ListboxTest, APressThroughThePanelSelectsTheRowAndTakesTheFocus) {
  Make(0, {"a", "b", "c"});
  SetW(dco_, 5, lb_);
  WSetAppInactive(1);
  WEventRecord down{};
  down.code = weMouseDown;
  down.where = (20 << 16) | 30;  // h 20, v 30: row 1
  TRPanelEvent(&down, panel_);
  WSetAppInactive(0);
  EXPECT_EQ(Marked(kLbItemSelected), Ints{1});
  EXPECT_EQ(SingleValue(), 1);
  EXPECT_EQ(int32(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtKeyFocus)), lb_);
  FPReleaseKeyFocus(panel_);
}
}  // namespace
