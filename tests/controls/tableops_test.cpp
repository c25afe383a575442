// Working tables: hit kinds and cursors over the grid, the keys that move
// the edit cell, clicks and drags, text commits, scroll steps and the
// table's properties, on a table with both headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/tableops.h"
#include "controls/tablesel.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/objsize.h"
#include "panel/operate.h"
#include "panel/panel_test_support.h"

namespace tableops_test {

using ptest::SlotPatch;
using Sel = std::vector<int32>;

// The index display that last took an action and its key.
int32 gFocused = 0, gFocusKey = 0, gFocusEnd = 0;
int32 RecordingDoit(ObjHeap, int32 object, TransactionFrame*, int32 action, ActionParams* p) {
  if (action == kActOperate) gFocused = object, gFocusKey = p->keyCode, gFocusEnd = p->selEnd;
  return 1;
}

// A part's click answering a cursor query where the point lies inside it.
int32 PartCursorClick(ObjHeap heap, int32 part, TransactionState* click, TransactionFrame*, ActionParams*) {
  Point at;
  std::memcpy(&at, &click->point, sizeof at);
  const Rect r = ctrl::BoundsOf(heap, part);
  return at.v >= r.top && at.v < r.bottom && at.h >= r.left && at.h < r.right ? 2 : 0;
}

// A part's click taking a press inside it.
int32 PartPressClick(ObjHeap heap, int32 part, TransactionState* click, TransactionFrame* f, ActionParams* p) {
  return PartCursorClick(heap, part, click, f, p) ? 1 : 0;
}

class TableOps : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsJoinTableSlots();
    ControlsJoinTableOpSlots();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    WSetup(window_, &port_);
    dco_ = Control(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}), kClsTable, &table_, root_);
    SetW(root_, 10, vib::NewList(panel_, {dco_}));
    area_ = Obj(kClsCosmetic, table_, kTablePartCells);
    SetBounds(area_, Rect{10, 10, 110, 160});
    frame_ = Obj(kClsCosmetic, table_, kTablePartFrame);
    SetBounds(frame_, Rect{5, 5, 115, 180});
    ctrl::SetPartColours(panel_, area_, 0x0000FF, 0xFFFFFF);
    vbar_ = Obj(kClsCosmetic, table_, kTablePartVBar);
    SetBounds(vbar_, Rect{10, 160, 110, 176});
    edit_ = Obj(kClsLabel, table_, 11);
    const Rect r{0, 0, 10, 10};
    text_ = TNew(&r, 0, nullptr, 0, 0, 0, 0xFFFFFF);
    ASSERT_NE(text_, nullptr);
    SetW(edit_, 9, int32(uintptr_t(text_)));
    SetW(table_, kTableEditPartWord, edit_);
    ASSERT_EQ(Alloc(dco_), kNoErr);
    ASSERT_NE(St(), nullptr);
    Flag(kTableFlagColumnHeaders | kTableFlagRowHeaders | kTableFlagShowSelection, true);
    SetValue(Value(3, 2));
    Draw();
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
    FPReleaseKeyFocus(panel_);
    if (text_) {
      SetW(edit_, 9, 0);
      TDispose(text_);
    }
    WRestore(&port_);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  TableState* St() { return TableStateOf(panel_, table_); }
  void Flag(uInt32 bits, bool on) { SetW(table_, 0, int32(on ? W(table_, 0) | bits : W(table_, 0) & ~bits)); }
  void Draw() { TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawFull, kDrawModeNormal); }
  static UHandle Str(const std::string& s) {
    UHandle h = DSNewHandle(int32(4 + s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    return h;
  }
  static UHandle Value(int32 rows, int32 columns) {
    UHandle a = DSNewHClr(8 + 4 * rows * columns);
    PutNative32(*a, uInt32(rows));
    PutNative32(*a + 4, uInt32(columns));
    for (int32 i = 0; i < rows * columns; ++i) {
      const UHandle s = Str(std::to_string(i));
      std::memcpy(*a + 8 + 4 * i, &s, 4);
    }
    return a;
  }
  // The value replaced (its strings disposed).
  void SetValue(UHandle a) {
    UHandle* v = TableValue(panel_, table_);
    ASSERT_NE(v, nullptr);
    DropValue();
    *v = a;
  }
  void DropValue() {
    UHandle* v = TableValue(panel_, table_);
    if (!v || !*v) return;
    int32 rows, columns;
    ASSERT_TRUE(TableValueSize(*v, &rows, &columns));
    for (int32 i = 0; i < rows * columns; ++i) {
      UHandle s;
      std::memcpy(&s, **v + 8 + 4 * i, 4);
      if (s) DSDisposeHandle(s);
    }
    DSDisposeHandle(*v);
    *v = nullptr;
  }
  std::string Cell(int32 r, int32 c) {
    UHandle* v = TableValue(panel_, table_);
    int32 rows, columns;
    if (!v || !TableValueSize(*v, &rows, &columns) || r >= rows || c >= columns) return "<none>";
    UHandle s;
    std::memcpy(&s, **v + 8 + 4 * (r * columns + c), 4);
    return s ? std::string(reinterpret_cast<char*>(*s + 4), GetNative32(*s)) : "";
  }
  void Edit(int32 r, int32 c) { SetW(table_, kTableEditRowWord, r), SetW(table_, kTableEditColumnWord, c); }
  Sel EditCell() { return {W(table_, kTableEditRowWord), W(table_, kTableEditColumnWord)}; }
  Sel Selection() { return {St()->selRow1, St()->selColumn1, St()->selRow2, St()->selColumn2}; }
  void Select(const Sel& s) { St()->selRow1 = s[0], St()->selColumn1 = s[1], St()->selRow2 = s[2], St()->selColumn2 = s[3]; }
  // The table takes the key focus on its path, with its edit text.
  void Focus() {
    void* const previous = TRPushFrame();
    ASSERT_EQ(GetObjAttrRec(panel_, table_, nullptr, nullptr), 1);
    ASSERT_EQ(FPKeyFocusUpdate(panel_, table_, 1, text_), kNoErr);
    TRSetStackTop(previous);
  }
  // A key at the table through its do-it, on a path on the stack.
  int32 Key(int32 code, int32 character = 0, int32 modifiers = 0) {
    ActionParams p{};
    p.eventCode = kSubKeyDown, p.keyCode = code, p.character = character, p.modifiers = modifiers;
    void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
    frame[0] = TransactionFrame{table_, kCatDDO, 2, 0};
    frame[1].kind = 0;
    const int32 reply = OSendMessage<int32>(kMsgODoit, panel_, table_, frame, kActOperate, &p);
    TRSetStackTop(previous);
    return reply;
  }
  // A tracking step at the table.
  int32 Track(int32 event, Point at, int32 flags, int32 modifiers, TableTrackWords* words) {
    ActionParams p{};
    p.eventCode = event, p.modifiers = modifiers;
    std::memcpy(&p.localPoint, &at, 4);
    words->flags = flags;
    *TableTrackOf(&p) = *words;
    void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
    frame[0] = TransactionFrame{table_, kCatDDO, 2, 0};
    frame[1].kind = 0;
    const int32 reply = OSendMessage<int32>(kMsgODoit, panel_, table_, frame, kActTrack, &p);
    TRSetStackTop(previous);
    *words = *TableTrackOf(&p);
    return reply;
  }
  void SetText(const std::string& s) {
    TReplaceText(text_, reinterpret_cast<const uChar*>(s.data()), int32(s.size()));
    SetW(edit_, 0, W(edit_, 0) | int32(kObjFlagTextPending));
  }
  int32 Attr(int32 selector, bool read, const tdb::TD& td, void* value) {
    std::vector<uChar> b = td.Bytes();
    UHandle types = Keep(AZNewHandle(int32(b.size())));
    std::memcpy(*types, b.data(), b.size());
    AttrCallRec rec{};
    rec.types = types, rec.read = read, rec.selector = selector, rec.value = value, rec.last = 1;
    return TableAttr(panel_, table_, &rec);
  }

  WPortState port_{};
  int32 dco_ = 0, table_ = 0, frame_ = 0, area_ = 0, vbar_ = 0, edit_ = 0;
  TRecord text_ = nullptr;
};

// Cells from the header's edges and the origin; lines count by mode; the
// corner takes the headers' rectangle with their double lines.
TEST_F(TableOps, HitsFindCellsLinesAndTheCornerWithTheirCursors) {
  EXPECT_EQ(St()->visibleRows, 5);
  EXPECT_EQ(St()->visibleColumns, 4);
  const struct {
    int16 v, h;
    int32 mode, hit, row, column;
    std::vector<int16> rect;
  } cases[] = {
      {35, 50, 0, kTableHitCell, 0, 0, {30, 44, 44, 72}},
      {35, 73, 0, kTableHitVLine, 0, 0, {10, 73, 110, 74}},
      {45, 50, 0, kTableHitHLine, 0, 0, {45, 10, 46, 160}},
      {35, 41, 0, kTableHitRowHeaderLine, 0, -1, {29, 40, 110, 43}},
      {27, 50, 0, kTableHitColumnHeaderLine, -1, 0, {26, 43, 29, 160}},
      {35, 73, 2, kTableHitCell, 0, 0, {30, 44, 44, 72}},   // tracking: no lines
      {35, 74, 2, kTableHitCell, 0, 1, {30, 75, 44, 103}},
      {35, 73, 1, kTableHitCell, 0, 0, {30, 44, 44, 72}},   // mode 1: only the header's lines
      {35, 41, 1, kTableHitRowHeaderLine, 0, -1, {29, 40, 110, 43}},
      {15, 15, 1, kTableHitCell, -1, -1, {10, 10, 29, 43}},  // the corner
      {105, 150, 0, kTableHitCell, 4, 3, {98, 137, 110, 160}},  // cut at the area
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + "," + std::to_string(c.h) + " mode " + std::to_string(c.mode));
    Rect r;
    int32 row, column;
    EXPECT_EQ(TableHitTest(panel_, table_, Point{c.v, c.h}, &r, &row, &column, c.mode), c.hit);
    EXPECT_EQ(row, c.row);
    EXPECT_EQ(column, c.column);
    EXPECT_EQ((std::vector<int16>{r.top, r.left, r.bottom, r.right}), c.rect);
  }
  // Cursors of the feedback: cells, separators, the corner by "Show
  // Selection", and the frame's zones.
  const struct {
    int32 kind;
    int16 part, v, h;
    bool showSel;
    int32 cursor;
  } cursors[] = {
      {kClickCursor, kTablePartCells, 35, 50, true, kTableCursorCell},
      {kClickCursor, kTablePartCells, 35, 41, true, kTableCursorRowSep},
      {kClickCursor, kTablePartCells, 27, 50, true, kTableCursorColumnSep},
      {kClickCursor, kTablePartCells, 15, 15, true, kTableCursorCorner},
      {kClickCursor, kTablePartCells, 15, 15, false, kCursorStandard},
      {5, kTablePartCells, 35, 73, true, kTableCursorVLine},
      {5, kTablePartCells, 45, 50, true, kTableCursorHLine},
      {kClickCursor, kTablePartFrame, 7, 50, true, 48},   // above the cells
      {kClickCursor, kTablePartFrame, 35, 7, true, 49},   // left of them
      {kClickCursor, kTablePartFrame, 7, 7, true, 50},    // the corner
  };
  for (const auto& c : cursors) {
    SCOPED_TRACE(std::to_string(c.v) + "," + std::to_string(c.h) + " kind " + std::to_string(c.kind));
    Flag(kTableFlagShowSelection, c.showSel);
    // The generic click's answer to a cursor query over the part.
    SlotPatch generic(kClsCosmetic, kMsgOClick, &PartCursorClick);
    TransactionState click{c.kind, 0, 0, nullptr};
    const Point at{c.v, c.h};
    std::memcpy(&click.point, &at, 4);
    ActionParams p{};
    p.point = at;
    CursorOf(&p)->cursor = -7;
    void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
    const int32 part = c.part == kTablePartCells ? area_ : frame_;
    // The frame lies behind the cells (parts answer front to back).
    SetBounds(table_, Rect{0, 0, 200, 200});
    EXPECT_EQ(OClick(panel_, table_, &click, frame, &p), 2);
    TRSetStackTop(previous);
    EXPECT_EQ(p.partId, ctrl::PartIdOf(panel_, part));
    EXPECT_EQ(CursorOf(&p)->cursor, c.cursor);
  }
}

// Tab and Shift+Tab wrap inside the visible block; Return walks a
// selection column by column; Up reaches the header row only with column
// headers; the index displays take the focus at the block's ends; Ctrl+Down
// goes to the top-left visible cell.
TEST_F(TableOps, KeysMoveTheEditCell) {
  SlotPatch displays(kClsNumeric, kMsgODoit, &RecordingDoit);
  const struct {
    const char* what;
    Sel start;
    int32 code, character, modifiers;
    Sel selection;
    bool displays, columnHeaders;
    Sel want;
    int32 focused;  // the index display's order that took the focus, -1 none
  } cases[] = {
      {"Tab on the last visible column", {2, 2}, kKeyTab, 0, 0, {0, 0, 0, 0}, false, true, {3, 0}, -1},
      {"Tab on the bottom-right cell", {3, 2}, kKeyTab, 0, 0, {0, 0, 0, 0}, false, true, {0, 0}, -1},
      {"Shift+Tab on the top-left cell", {0, 0}, kKeyShiftTab, 0, kWModShift, {0, 0, 0, 0}, false, true, {3, 2}, -1},
      {"Return in a 2x2 selection: down", {1, 1}, vkAscii, 10, 0, {1, 1, 3, 3}, false, true, {2, 1}, -1},
      {"Return: next column", {2, 1}, vkAscii, 10, 0, {1, 1, 3, 3}, false, true, {1, 2}, -1},
      {"Return: again from the start", {2, 2}, vkAscii, 10, 0, {3, 3, 1, 1}, false, true, {1, 1}, -1},
      {"Return outside a selection", {2, 2}, vkAscii, 10, 0, {0, 0, 0, 0}, false, true, {3, 2}, -1},
      {"Up from row 0 with column headers", {0, 1}, vkUp, 0, kWModShift, {0, 0, 0, 0}, false, true, {-1, 1}, -1},
      {"Up from row 0 without", {0, 1}, vkUp, 0, kWModShift, {0, 0, 0, 0}, false, false, {0, 1}, -1},
      {"Shift+Tab on the top-left with displays", {0, 0}, kKeyShiftTab, 0, kWModShift, {0, 0, 0, 0}, true, true, {0, 0}, 0},
      {"Tab on the bottom-right with displays", {3, 2}, kKeyTab, 0, 0, {0, 0, 0, 0}, true, true, {3, 2}, 1},
  };
  const int32 columnDisplay = Obj(kClsNumeric, table_, kTablePartIndex, 0);
  const int32 rowDisplay = Obj(kClsNumeric, table_, kTablePartIndex, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int32 d : {columnDisplay, rowDisplay}) SetW(d, 0, c.displays ? W(d, 0) & ~0x8 : W(d, 0) | 0x8);
    Flag(kTableFlagColumnHeaders, c.columnHeaders);
    Draw();
    Select(c.selection);
    Edit(c.start[0], c.start[1]);
    Focus();
    gFocused = 0;
    Key(c.code, c.character, c.modifiers);
    EXPECT_EQ(EditCell(), c.want);
    EXPECT_EQ(gFocused, c.focused < 0 ? 0 : c.focused == 0 ? columnDisplay : rowDisplay);
    if (c.focused >= 0) {
      EXPECT_EQ(gFocusKey, kKeyTab);
      EXPECT_EQ(gFocusEnd, 0x7FFFFFFF);
    }
  }
  // Keys of the panel's key handler reach the table along its saved path:
  // Return moves the edit cell down, the typed text goes into the edit
  // text and is stored in the cell it leaves.
  for (int32 d : {columnDisplay, rowDisplay}) SetW(d, 0, W(d, 0) | 0x8);
  Select({0, 0, 0, 0});
  Edit(0, 1);
  TableActivateEdit(panel_, table_, nullptr, nullptr);
  Focus();
  for (const auto& [code, character] : {std::pair{vkAscii, int32('z')}, {vkAscii, 10}}) {
    WEventRecord e{weKey, 0, 0, 0, 0, character, WKeyCode(code), {}};
    FPHandleKey(&e, panel_);
  }
  EXPECT_EQ(EditCell(), (Sel{1, 1}));
  EXPECT_EQ(Cell(0, 1), "z");
  // Ctrl+Down (no focus part) goes to the top-left visible cell.
  St()->topRow = 2, St()->leftColumn = 1;
  Edit(9, 9);
  Focus();
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtFocusText, 0);
  for (int32 d : {columnDisplay, rowDisplay}) SetW(d, 0, W(d, 0) | 0x8);
  Key(kKeyCtrlDown);
  EXPECT_EQ(EditCell(), (Sel{2, 1}));
}

// A plain press leaves an insertion mark; Shift extends from the
// selection's first row; a drag below the area with "Selection Scrolling"
// scrolls one row per step; the press into a cell lays the edit text there.
TEST_F(TableOps, PressesAndDragsSelectAndScroll) {
  TableTrackWords t{};
  t.anchorRow = t.anchorColumn = 0;
  EXPECT_EQ(Track(kSubPress, Point{50, 80}, kTableTrackSelect, 0, &t) & kActionTracking, kActionTracking);
  EXPECT_EQ(Selection(), (Sel{1, 1, 1, 1}));
  Select({1, 1, 2, 2});
  Track(kSubPress, Point{85, 110}, kTableTrackSelect, kWModShift, &t);
  EXPECT_EQ(Selection(), (Sel{1, 1, 4, 3}));
  EXPECT_EQ(t.anchorRow, 1);
  // Above the first row: the span runs to the end, the anchor its last row.
  Track(kSubPress, Point{35, 110}, kTableTrackSelect, kWModShift, &t);
  EXPECT_EQ(Selection(), (Sel{0, 1, 4, 3}));
  EXPECT_EQ(t.anchorRow, 3);
  // Dragging below the area scrolls a row at each step.
  St()->topRow = 0;
  t.anchorRow = 1, t.anchorColumn = 1;
  Track(kSubMove, Point{130, 50}, kTableTrackSelect | kTableTrackScroll, 0, &t);
  EXPECT_EQ(St()->topRow, 1);
  Track(kSubMove, Point{130, 50}, kTableTrackSelect | kTableTrackScroll, 0, &t);
  EXPECT_EQ(St()->topRow, 2);
  EXPECT_EQ(Track(kSubRelease, Point{130, 50}, kTableTrackSelect, 0, &t) & kActionTracking, 0);
  // A press on the double line after the row headers: an insertion line
  // before the row, over all columns, dragged along the rows.
  St()->topRow = 0;
  {
    SlotPatch parts(kClsCosmetic, kMsgOClick, &PartPressClick);
    SetBounds(table_, Rect{0, 0, 200, 200});
    const struct { int16 v, h; Sel selection; int32 anchorRow, anchorColumn; } presses[] = {
        {50, 41, {1, 0, 1, 2}, 1, -1},   // after the row headers, at row 1
        {27, 80, {0, 1, 3, 1}, -1, 1},   // below the column headers, at column 1
    };
    for (const auto& c : presses) {
      TransactionState click{kClickPress, 0, 0, nullptr};
      const Point at{c.v, c.h};
      std::memcpy(&click.point, &at, 4);
      ActionParams p{};
      p.point = at;
      void* const previous = TRPushFrame();
      auto* frame = static_cast<TransactionFrame*>(TRStackTop());
      EXPECT_EQ(OClick(panel_, table_, &click, frame, &p), kClickTrack);
      EXPECT_EQ((Sel{frame->object, frame->mode}), (Sel{table_, 2})) << "the table tracks itself";
      TRSetStackTop(previous);
      EXPECT_EQ(Selection(), c.selection);
      EXPECT_EQ(p.dragObject, table_);
      EXPECT_EQ((Sel{TableTrackOf(&p)->anchorRow, TableTrackOf(&p)->anchorColumn, TableTrackOf(&p)->flags}),
                (Sel{c.anchorRow, c.anchorColumn, kTableTrackSelect}));
    }
  }
  // A press into a cell moves the edit text over it with its string.
  St()->topRow = 0;
  Draw();
  Track(kSubPress, Point{50, 80}, kTableTrackEdit, 0, &t);
  EXPECT_EQ(EditCell(), (Sel{1, 1}));
  UHandle shown = TGetText(text_);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*shown + 4), GetNative32(*shown)), "3");
  Rect view;
  LRect dest;
  TGetRect(text_, &view, &dest);
  EXPECT_EQ((std::vector<int16>{view.top, view.left}), (std::vector<int16>{47, 75}));
}

// A commit stores typed text; beyond the array it grows the array only for
// a text that is not empty; an unchanged commit replies 0; memory refused
// keeps the old text and replies 0x10.
TEST_F(TableOps, CommitsStoreTypedTextAndGrowOnlyForText) {
  Edit(1, 0);
  SetText("2");
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0), 0) << "the cell holds the same text";
  SetText("abc");
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0), kReplyChanged);
  EXPECT_EQ(Cell(1, 0), "abc");
  Edit(5, 1);
  SetText("");
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0), 0);
  EXPECT_EQ(Cell(5, 1), "<none>");
  SetText("far");
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0) & kReplyChanged, kReplyChanged);
  EXPECT_EQ(Cell(5, 1), "far");
  EXPECT_EQ(Cell(4, 0), "");
  EXPECT_EQ(W(table_, 0) & int32(kTableFlagGrown), 0);
  // A header cell replies a redraw.
  Edit(-1, 0);
  SetText("head");
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0), 0x10000);
  // Memory refused: the cell keeps its text.
  Edit(0, 0);
  SetText("a much longer text than before, to make the block grow");
  MemFailNthAllocation(1);
  EXPECT_EQ(TableCommitEdit(panel_, table_, 0), kReplyFailed);
  MemFailNthAllocation(0);
  EXPECT_EQ(Cell(0, 0), "0");
}

// Scroll steps: a page on by visible - 1, a page back by visible + 1, the
// thumb's position, never below 0; a press on the bar's page area moves
// the origin through the tracker.
TEST_F(TableOps, ScrollBarsStepTheOrigin) {
  const struct { int32 result, origin, visible, want; } steps[] = {
      {0, 5, 4, 5}, {1, 5, 4, 5}, {2, 5, 4, 4}, {5, 5, 4, 6}, {7, 5, 4, 8}, {9, 5, 4, 8},
      {6, 10, 4, 5}, {8, 3, 4, 0}, {int32(0x80000000u | 42), 5, 4, 42}, {2, 0, 4, 0},
  };
  for (const auto& s : steps) EXPECT_EQ(TableScrollStep(s.result, s.origin, s.visible), s.want) << s.result;
  SetValue(Value(40, 2));
  Draw();
  SBarResetTrackers();
  ActionParams p{};
  p.eventCode = kSubPress;
  const Point below{70, 168};
  std::memcpy(&p.localPoint, &below, 4);
  void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
  const int32 list = W(table_, kObjPartList / 4);
  int32 at = 0;
  while (ObjListGet(panel_, list, at) != vbar_) ++at;
  frame[0] = TransactionFrame{table_, kCatDDO, 0, at};
  frame[1] = TransactionFrame{vbar_, kCatCOSM, 2, 0};
  frame[2].kind = 0;
  OSendMessage<int32>(kMsgODoit, panel_, table_, frame, kActTrack, &p);
  EXPECT_EQ(St()->topRow, 4) << "a page on: visible - 1";
  p.eventCode = kSubRelease;
  EXPECT_EQ(OSendMessage<int32>(kMsgODoit, panel_, table_, frame, kActTrack, &p), 0x10000);
  TRSetStackTop(previous);
}

// The properties as a property node sets and reads them.
TEST_F(TableOps, PropertiesSetSizeSelectionEditCellAndLooks) {
  uInt32 u = 0;
  // Visible rows 0 give one; too many columns give those that fit.
  EXPECT_EQ(Attr(1, false, tdb::U32(), &u), 0x30080);
  EXPECT_EQ(St()->visibleRows, 1);
  u = 20000;
  Attr(0, false, tdb::U32(), &u);
  EXPECT_EQ(St()->visibleColumns, (16000 - 33) / 31);
  EXPECT_EQ(ctrl::BoundsOf(panel_, frame_).right, 10 + 33 + 31 * ((16000 - 33) / 31) + 20);
  // The selection start keeps a 3 x 2 selection 3 x 2.
  Select({1, 1, 4, 3});
  struct Pair { int32 a, b; } pair{5, -4};
  const tdb::TD i2 = tdb::Cluster({tdb::I32(), tdb::I32()});
  EXPECT_EQ(Attr(14, false, i2, &pair), 0x10000);
  EXPECT_EQ(Selection(), (Sel{5, 0, 8, 2}));
  pair = {-1, 7};
  Attr(17, false, i2, &pair);
  EXPECT_EQ(Selection(), (Sel{5, 0, 5, 7}));
  // The corner is never the edit cell.
  pair = {-1, -1};
  Attr(8, false, i2, &pair);
  EXPECT_EQ(EditCell(), (Sel{-1, 0}));
  // A cell width for the active cell (5, 7) sets column 7's width.
  pair = {5, 7};
  Attr(22, false, i2, &pair);
  u = 44;
  EXPECT_EQ(Attr(28, false, tdb::U32(), &u) & 0x20080, 0x20080);
  EXPECT_EQ(TableColumnWidth(panel_, table_, 7), 44);
  EXPECT_EQ(TableRowHeight(panel_, table_, 5), 16);
  // Row headers set to their current value change nothing.
  bool on = true;
  EXPECT_EQ(Attr(5, false, tdb::Boolean(), &on), 0);
  on = false;
  EXPECT_EQ(Attr(5, false, tdb::Boolean(), &on), 0x30000);
  EXPECT_EQ(W(table_, 0) & int32(kTableFlagRowHeaders), 0);
  // Colours: a transparent text colour is ignored, a transparent background taken.
  pair = {1, 1};
  Attr(22, false, i2, &pair);
  u = 0x1000000;
  EXPECT_EQ(Attr(25, false, tdb::U32(), &u), 0);
  Attr(26, false, tdb::U32(), &u);
  uInt32 back = 0;
  Attr(26, true, tdb::U32(), &back);
  EXPECT_EQ(back, 0x1000000u);
  // The origin below 0 is 0.
  pair = {-3, 2};
  Attr(11, false, tdb::Cluster({tdb::U32(), tdb::U32()}), &pair);
  EXPECT_EQ((Sel{St()->topRow, St()->leftColumn}), (Sel{0, 2}));
  // Headers are deep copies both ways.
  UHandle headers = DSNewHClr(12);
  PutNative32(*headers, 2);
  for (int32 i = 0; i < 2; ++i) {
    const UHandle h = Str(i ? "beta" : "alpha");
    std::memcpy(*headers + 4 + 4 * i, &h, 4);
  }
  const tdb::TD strings = tdb::Array(tdb::String());
  EXPECT_EQ(Attr(20, false, strings, &headers), 0x30000);
  UHandle back2 = nullptr;
  EXPECT_EQ(Attr(20, true, strings, &back2), 0);
  ASSERT_NE(back2, nullptr);
  ASSERT_EQ(GetNative32(*back2), 2u);
  UHandle second, stored, given;
  std::memcpy(&second, *back2 + 8, 4);
  std::memcpy(&stored, *St()->rowHeaders + 8, 4);
  std::memcpy(&given, *headers + 8, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*second + 4), GetNative32(*second)), "beta");
  EXPECT_TRUE(second != stored && stored != given) << "each side holds its own strings";
  for (UHandle h : {back2}) {
    for (int32 i = 0; i < 2; ++i) {
      UHandle e;
      std::memcpy(&e, *h + 4 + 4 * i, 4);
      DSDisposeHandle(e);
    }
    DSDisposeHandle(h);
  }
  for (int32 i = 0; i < 2; ++i) {
    UHandle e;
    std::memcpy(&e, *headers + 4 + 4 * i, 4);
    DSDisposeHandle(e);
  }
  DSDisposeHandle(headers);
  // Index 30 is no property.
  EXPECT_EQ(Attr(30, false, tdb::U32(), &u), 0);
  EXPECT_EQ(Asserts(), 1);
  qxtest::Reports::Get().Clear();
}

}  // namespace tableops_test

namespace tableops_test {

// The cell area dragged on its own resizes the grid by whole rows and
// columns: new lines take the active cell's look, a count never drops
// below 3, the frame fits the shown lines, and the shown value (a full
// draw counts the lines again) agrees.
TEST_F(TableOps, DraggingTheCellSizeHandleShowsWholeRowsAndColumns) {
  St()->topRow = St()->leftColumn = 0;
  St()->visibleRows = 4, St()->visibleColumns = 3;
  TableCellFontRec wide{kTableAll, 1, 0, 0, 0, 0, 40, 0, 0, 0}, tall{1, kTableAll, 0, 0, 0, 0, 0, 20, 0, 0};
  TableSetCellFont(panel_, table_, &wide, kCellLookWidth, 0);
  TableSetCellFont(panel_, table_, &tall, kCellLookHeight, 0);
  St()->activeRow = 1, St()->activeColumn = 1;
  // The cell area's far edges follow the frame's.
  PutNative16(*panel_ + area_ + kObjAnchor, kTablePartFrame);
  PutNative16(*panel_ + area_ + kObjAttach, 0x20 | 0x80);
  struct Case {
    Point offset;
    int32 rows, columns, bottom, right;
  } cases[] = {
      // Two rows of 17 pixels down, as tall as the active cell's row; one
      // column of 31 pixels less: 3 stays 3.
      {{34, -40}, 6, 3, 10 + 19 + 17 + 21 + 17 + 17 + 21 + 21 + 5, 10 + 33 + 31 + 41 + 31 + 20},
      // Two columns more, both as wide as the active cell's column; rows as they are.
      {{8, 62}, 6, 5, 10 + 19 + 17 + 21 + 17 + 17 + 21 + 21 + 5, 10 + 33 + 31 + 41 + 31 + 41 + 41 + 20},
  };
  const Rect area = ctrl::BoundsOf(panel_, area_);
  for (const Case& c : cases) {
    SelectObject(panel_, area_);
    EditMsgRecord rec{};
    rec.offset = c.offset;
    OHBeginMarkPassPair(panel_, nullptr);
    const int32 reply = TableOSelectMethod(panel_, table_, kEditMove, &rec);
    OHEndMarkPassPair(panel_, nullptr);
    EXPECT_EQ(reply & 0x10080, 0x10000) << c.offset.h;
    EXPECT_EQ(St()->visibleRows, c.rows) << c.offset.h;
    EXPECT_EQ(St()->visibleColumns, c.columns) << c.offset.h;
    const Rect f = ctrl::BoundsOf(panel_, frame_);
    EXPECT_EQ(f.bottom, c.bottom) << c.offset.h;
    EXPECT_EQ(f.right, c.right) << c.offset.h;
    const Rect a = ctrl::BoundsOf(panel_, area_);
    EXPECT_TRUE(a.top == area.top && a.left == area.left && a.bottom == f.bottom - 5 && a.right == f.right - 20)
        << "the handle is not moved: the area keeps its place and follows the frame";
  }
  EXPECT_EQ(TableColumnWidth(panel_, table_, 3), 40);
  EXPECT_EQ(TableColumnWidth(panel_, table_, 4), 40);
  EXPECT_EQ(TableColumnWidth(panel_, table_, 5), 30);
  EXPECT_EQ(TableRowHeight(panel_, table_, 4), 20) << "rows 4 and 5 came into view with the active row's height";
  EXPECT_EQ(TableRowHeight(panel_, table_, 3), 16);
  // The table selected too: an ordinary move of the whole table.
  SelectObject(panel_, table_);
  OHSetWord(panel_, uInt32(area_ + kObjCopyForwardWord), 0);
  EditMsgRecord rec{};
  rec.offset = Point{34, 0};
  OHBeginMarkPassPair(panel_, nullptr);
  EXPECT_EQ(TableOSelectMethod(panel_, table_, kEditMove, &rec) & 0x10000, 0);
  OHEndMarkPassPair(panel_, nullptr);
  EXPECT_EQ(St()->visibleRows, 6);
  ClearSelectionList(panel_);
}

}  // namespace tableops_test
