// Tables: cell geometry and the grid's visible counts, what a draw leaves on
// the screen, value display against a previous value, cell storage and
// growth, the cell-look list's storing rules, the pop-up items and the blink
// colours.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/table.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/window/lmenu.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/objdraw.h"
#include "panel/paneldisplay.h"
#include "panel/panel_test_support.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"

namespace table_test {

using ptest::SlotPatch;

constexpr DColor kGridColour = 0x0000FF, kAreaBack = 0xFFFFFF, kMarker = 0x00FF00;

// The codes of the items inserted into each menu, in order.
std::vector<std::pair<MenuHandle, int32>> gTracked;
int32 TrackedInsert(int32, MenuHandle menu, ConstPStr text, int32 code, int32) {
  static const uChar kSpace[] = {1, ' '};
  if (text ? MInsertLItem(menu, kSpace, nullptr, 0, nullptr, 0, -1, 0) : MInsertLSeparator(menu, nullptr, -1, 0))
    return 0;
  gTracked.push_back({menu, code});
  return MCountItems(menu);
}

class Table : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsJoinTableSlots();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    WSetup(window_, &port_);
    dco_ = Control(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}), kClsTable, &table_);
    area_ = Obj(kClsCosmetic, table_, kTablePartCells);
    SetBounds(area_, Rect{10, 10, 55, 100});
    ctrl::SetPartColours(panel_, area_, kGridColour, kAreaBack);
    ASSERT_EQ(Alloc(dco_), kNoErr);
    ASSERT_NE(TableStateOf(panel_, table_), nullptr);
    WValidate(window_);
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
    for (UHandle h : values_) DSDisposeHandle(h);
    WRestore(&port_);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  TableState* St() { return TableStateOf(panel_, table_); }
  void Flag(uInt32 bits, bool on) { SetW(table_, 0, int32(on ? W(table_, 0) | bits : W(table_, 0) & ~bits)); }
  static UHandle Str(const std::string& s) {
    UHandle h = DSNewHandle(int32(4 + s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    return h;
  }
  // A rows x columns array whose cell (r, c) holds "rc".
  static UHandle Value(int32 rows, int32 columns, int32 changedRow = -1) {
    UHandle a = DSNewHClr(8 + 4 * rows * columns);
    PutNative32(*a, uInt32(rows));
    PutNative32(*a + 4, uInt32(columns));
    for (int32 r = 0; r < rows; ++r)
      for (int32 c = 0; c < columns; ++c) {
        const UHandle s = Str(std::to_string(r) + std::to_string(c) + (r == changedRow ? "x" : ""));
        std::memcpy(*a + 8 + 4 * (r * columns + c), &s, 4);
      }
    return a;
  }
  void SetValue(UHandle a) {
    UHandle* v = TableValue(panel_, table_);
    ASSERT_NE(v, nullptr);
    *v = a;
  }
  int32 Count(UHandle a, int32 dim) { return int32(GetNative32(*a + 4 * dim)); }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 Pixel(int32 h, int32 v) const { return PlatSurfaceGetPixel(Surface(), h, v) & 0xFFFFFF; }
  void Paint(const Rect& r, DColor c) {
    DSelectNormPen(c, c);
    DPaintRect(&r);
  }
  TableCellFontRec Look(int32 r, int32 c) {
    TableCellFontRec l = kTableDefaultLook;
    l.row = r, l.column = c;
    TableCellFormatMerge(panel_, table_, &l);
    return l;
  }
  int32 Looks() { return St()->cellFormats ? int32(GetNative32(*St()->cellFormats)) : 0; }
  int32 Set(int32 r, int32 c, uInt32 mask, DColor text, DColor back, int32 font = 0) {
    TableCellFontRec l{};
    l.row = r, l.column = c, l.textColor = text, l.backColor = back, l.font = font;
    return TableSetCellFormat(panel_, table_, &l, mask);
  }

  // A value disposed at the end of the test.
  UHandle KeepValue(UHandle h) {
    values_.push_back(h);
    return h;
  }

  std::vector<UHandle> values_;
  WPortState port_{};
  int32 dco_ = 0, table_ = 0, area_ = 0;
};

// The draw counts the rows and columns that are at least partly inside the
// area; cells are placed from the header or the origin, a header one line
// apart more, and the last shown row and column are cut at the edges.
TEST_F(Table, CellsArePlacedCutAndCounted) {
  struct Case {
    uInt32 headers;
    int32 row, column;
    std::vector<int16> rect;
    int32 flags;
    int32 visible[2];
  };
  const Case cases[] = {
      {0, 0, 0, {11, 11, 25, 39}, 0, {3, 3}},
      {0, 2, 0, {45, 11, 55, 39}, 2, {3, 3}},
      {0, 0, 2, {11, 73, 25, 100}, 4, {3, 3}},
      {0, 2, 2, {45, 73, 55, 100}, 6, {3, 3}},
      {0, 3, 0, {0, 0, 0, 0}, 1, {3, 3}},
      {0, -1, 0, {0, 0, 0, 0}, 1, {3, 3}},
      {kTableFlagColumnHeaders | kTableFlagRowHeaders, -1, 0, {11, 44, 25, 72}, 0, {2, 2}},
      {kTableFlagColumnHeaders | kTableFlagRowHeaders, 0, -1, {30, 11, 44, 39}, 0, {2, 2}},
      {kTableFlagColumnHeaders | kTableFlagRowHeaders, 1, 1, {47, 75, 55, 100}, 6, {2, 2}},
      {kTableFlagColumnHeaders | kTableFlagRowHeaders, -1, -1, {11, 11, 25, 39}, 0, {2, 2}},
  };
  SetValue(Value(3, 4));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.column) + " headers " + std::to_string(c.headers));
    Flag(kTableFlagColumnHeaders | kTableFlagRowHeaders, false);
    Flag(c.headers, true);
    TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawFull, kDrawModeNormal);
    EXPECT_EQ(St()->visibleRows, c.visible[0]);
    EXPECT_EQ(St()->visibleColumns, c.visible[1]);
    Rect r;
    EXPECT_EQ(TableCellRect(panel_, table_, c.row, c.column, &r), c.flags);
    EXPECT_EQ(R(r), c.rect);
  }
  // Selection kinds on corners given in any order.
  const struct {
    int32 sel[4], row, column, kind;
  } kinds[] = {{{2, 1, 2, 1}, 2, 1, 1}, {{2, 1, 2, 1}, 2, 2, 0}, {{3, 3, 1, 1}, 2, 2, 4}, {{1, 1, 3, 3}, 3, 3, 0},
               {{3, 1, 1, 1}, 2, 1, 3}, {{3, 1, 1, 1}, 2, 2, 0}, {{1, 3, 1, 0}, 1, 2, 2}, {{1, 3, 1, 0}, 2, 2, 0}};
  for (const auto& k : kinds) EXPECT_EQ(TableSelKind(k.row, k.column, k.sel), k.kind) << k.row << "," << k.column;
  // Scroll totals: at least the count + 1, at least the origin + what shows.
  struct Totals {
    UHandle value;
    int32 top;
    int32 total;
  };
  const Totals totals[] = {{nullptr, 0, 2}, {nullptr, 5, 7}, {Value(4, 1), 0, 5}};
  for (const Totals& t : totals) {
    St()->topRow = t.top;
    int32 origin, visible, total;
    TableScrollNumbers(panel_, table_, t.value ? &t.value : nullptr, 1, &origin, &visible, &total);
    EXPECT_EQ(total, t.total);
    EXPECT_EQ(origin, t.top);
  }
  DSDisposeHandle(totals[2].value);
}

// What a full draw leaves: grid lines in the first colour word, the double
// line after the header, cell looks' backgrounds, selection frames; an
// empty table still shows its grid and headers.
TEST_F(Table, DrawShowsGridHeadersLooksAndSelection) {
  SetValue(Value(3, 4));
  Flag(kTableFlagColumnHeaders | kTableFlagShowSelection, true);
  St()->selRow1 = 0, St()->selColumn1 = 0, St()->selRow2 = 1, St()->selColumn2 = 1;  // one cell: a frame
  St()->selColor = 0xFF0000;
  EXPECT_EQ(Set(0, 1, kCellLookBack, 0, 0x00FF00) & kCellChangedColour, kCellChangedColour);
  PlatSurfaceClear(Surface(), 0x808080);
  TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawAll, kDrawModeNormal);
  struct Probe {
    int32 h, v;
    uInt32 colour;
    const char* what;
  };
  const Probe probes[] = {
      {20, 26, kGridColour, "the header's line"},      {20, 27, kAreaBack, "the gap of the double line"},
      {20, 28, kGridColour, "the second line"},        {40, 20, kGridColour, "a column line"},
      {40, 27, kAreaBack, "the gap cuts the column line"}, {69, 43, 0x00FF00, "the cell's own background"},
      {10, 30, 0xFF0000, "the selected cell's frame"}, {5, 5, 0x808080, "nothing outside the area"},
  };
  for (const Probe& p : probes) EXPECT_EQ(Pixel(p.h, p.v), p.colour) << p.what;
  // On a black-and-white port the grid is black, the background and the
  // cells' text boxes are the port's pair.
  const Rect place{0, 0, 60, 110};
  int32 image = 0;
  ASSERT_EQ(ICreatePixmap(window_, &place, 1, &image), kNoErr);
  ImageSaveRecord save;
  IOpen(image, &save);
  IEraseImage(image);
  TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawAll, kDrawModeNormal);
  IClose(image, &save);
  PlatSurface* bw = PlatBitmapSurface(PlatObj(IEntryOf(image).extra));
  const Probe bwProbes[] = {{20, 26, 0, "the header's line"}, {20, 27, 0xFFFFFF, "the gap"},
                            {40, 20, 0, "a column line"},     {69, 43, 0xFFFFFF, "a cell's box"}};
  for (const Probe& p : bwProbes) EXPECT_EQ(PlatSurfaceGetPixel(bw, p.h, p.v) & 0xFFFFFF, p.colour) << p.what;
  IRelease(image);
  // Through the class's draw method: the cell area's part draws, then the grid over it.
  PlatSurfaceClear(Surface(), 0x808080);
  ODraw(panel_, table_, TableValue(panel_, table_), int32(0), int32(kDrawModeNormal));
  EXPECT_EQ(Pixel(40, 20), kGridColour);
  // An empty value: grid and headers, cells painted in the background.
  SetValue(nullptr);
  PlatSurfaceClear(Surface(), 0x808080);
  TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawAll, kDrawModeNormal);
  EXPECT_EQ(Pixel(20, 26), kGridColour);
  EXPECT_EQ(Pixel(20, 35), kAreaBack);
  EXPECT_EQ(Pixel(40, 35), kGridColour);
}

// A full draw leaves every shown cell's one-pixel margin in the area's
// background (a cell without a string wholly) and every grid line whole
// but for the double line's gap: the margins and lines are filled in
// batches, which must cover the pixels the pen would, no more.
TEST_F(Table, MarginsAndGridLinesCoverTheirPixelsExactly) {
  SetValue(Value(3, 4));
  Flag(kTableFlagColumnHeaders, true);
  PlatSurfaceClear(Surface(), 0x808080);
  TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawAll, kDrawModeNormal);
  const Rect a{10, 10, 55, 100};
  std::string bad;
  auto expect = [&](int32 h, int32 v, uInt32 colour) {
    if (h >= a.left && h < a.right && v >= a.top && v < a.bottom && Pixel(h, v) != colour && bad.size() < 200)
      bad += " (" + std::to_string(h) + "," + std::to_string(v) + ")";
  };
  for (int32 r = -1; r < 3; ++r)
    for (int32 c = 0; c < 4; ++c) {
      Rect t;
      if (TableCellRect(panel_, table_, r, c, &t) & kTableCellHidden) continue;
      const Rect f = TableCellFrame(t);
      for (int32 v = f.top; v < f.bottom; ++v)
        for (int32 h = f.left; h < f.right; ++h)
          if (r == -1 || v == f.top || v == f.bottom - 1 || h == f.left || h == f.right - 1) expect(h, v, kAreaBack);
    }
  for (int32 h = a.left; h < a.right; ++h) expect(h, 26, kGridColour), expect(h, 28, kGridColour);
  for (int32 v = a.top; v < a.bottom; ++v)
    if (v != 27) expect(40, v, kGridColour);
  EXPECT_EQ(bad, "");
  // A full draw fills every margin at once and then the grid; the changed
  // cells' margins and then the grid and marks, drawn apart, go row by row:
  // both leave the same pixels, with cells without strings and a cut row.
  struct Case {
    uInt32 headers;
    int32 rows, columns;
  };
  const Case cases[] = {{0, 3, 4}, {kTableFlagColumnHeaders, 1, 2}, {kTableFlagColumnHeaders | kTableFlagRowHeaders, 3, 4},
                        {kTableFlagRowHeaders, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    Flag(kTableFlagColumnHeaders | kTableFlagRowHeaders, false);
    Flag(c.headers | kTableFlagShowSelection, true);
    St()->selRow1 = 0, St()->selColumn1 = 1, St()->selRow2 = 0, St()->selColumn2 = 3;
    SetValue(KeepValue(Value(c.rows, c.columns)));
    std::vector<uInt32> pixels[2];
    for (int32 pass = 0; pass < 2; ++pass) {
      PlatSurfaceClear(Surface(), 0x808080);
      for (int32 what : pass ? std::vector<int32>{kTableDrawChanged, kTableDrawFull}
                             : std::vector<int32>{kTableDrawChanged | kTableDrawFull})
        TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), what, kDrawModeNormal);
      for (int32 v = 0; v < a.bottom + 3; ++v)
        for (int32 h = 0; h < a.right + 3; ++h) pixels[pass].push_back(Pixel(h, v));
    }
    EXPECT_TRUE(pixels[0] == pixels[1]);
  }
  SetValue(nullptr);
}

// A display against a previous value redraws only the cells that differ;
// a greyed table only invalidates; the corner has no string; a store past
// the array grows it; a failed growth stores nothing.
TEST_F(Table, DisplayRedrawsChangedCellsAndStoresGrow) {
  SetValue(Value(3, 4));
  const UHandle before = KeepValue(Value(3, 4)), after = Value(3, 4, 1);
  TableDraw(panel_, table_, nullptr, &before, kTableDrawFull, kDrawModeNormal);
  Rect unchanged, changed;
  TableCellRect(panel_, table_, 0, 0, &unchanged);
  TableCellRect(panel_, table_, 1, 0, &changed);
  Paint(unchanged, kMarker);
  Paint(changed, kMarker);
  SetValue(after);
  EXPECT_EQ(oDisplayVal(panel_, table_, int32(uintptr_t(&before)), TableValue(panel_, table_)), 0);
  EXPECT_EQ(Pixel(unchanged.left + 1, unchanged.top + 1), kMarker) << "the same string is not drawn again";
  EXPECT_NE(Pixel(changed.left + 1, changed.top + 1), kMarker) << "the changed string is";

  Flag(kTableFlagGreyed, true);
  Paint(changed, kMarker);
  EXPECT_EQ(TableoDisplayValMethod(panel_, table_, &before, TableValue(panel_, table_)), 0x20000);
  EXPECT_EQ(Pixel(changed.left + 1, changed.top + 1), kMarker);
  Flag(kTableFlagGreyed, false);

  struct Store {
    int32 row, column;
    int32 failAt;
    bool got;
    int32 rows, columns;
    bool grown;
  };
  const Store stores[] = {{-1, -1, 0, false, 3, 4, false},
                          {1, 1, 0, true, 3, 4, false},
                          {4, 5, 1, false, 3, 4, false},
                          {4, 5, 0, true, 5, 6, true}};
  for (const Store& s : stores) {
    SCOPED_TRACE(std::to_string(s.row) + "," + std::to_string(s.column));
    Flag(kTableFlagGrown, false);
    SetW(table_, kTableCurRowWord, s.row);
    SetW(table_, kTableCurColumnWord, s.column);
    MemFailNthAllocation(s.failAt);
    const int32 cell = OGetDataPtr(panel_, table_, 0, kDataPtrPlain, nullptr);
    MemFailNthAllocation(0);
    EXPECT_EQ(cell != 0, s.got);
    const UHandle a = *TableValue(panel_, table_);
    EXPECT_EQ(Count(a, 0), s.rows);
    EXPECT_EQ(Count(a, 1), s.columns);
    EXPECT_EQ((W(table_, 0) & kTableFlagGrown) != 0, s.grown);
  }
  // Other kinds, and a paste onto the selected table, reach the whole value.
  EXPECT_EQ(OGetDataPtr(panel_, table_, 0, kDataPtrOperate, nullptr), int32(uintptr_t(TableValue(panel_, table_))));
  const UHandle block = KeepValue(Value(2, 2));
  ASSERT_EQ(SelectObject(panel_, table_), 0);
  // Every cell selected: the pasted block replaces the whole value.
  St()->selRow1 = 0, St()->selColumn1 = 0, St()->selRow2 = 5, St()->selColumn2 = 6;
  EditMsgRecord rec{};
  rec.sourceHeap = panel_, rec.sourceType = TypeID(W(table_, kPWDDOTypeId)), rec.sourceData = &block;
  EXPECT_EQ(OSelectCode(panel_, table_, kEditPasteData, &rec) & 0x10, 0);
  EXPECT_EQ(Count(*TableValue(panel_, table_), 0), 2);
  ClearSelectionList(panel_);
}

std::vector<std::pair<int32, int32>> gIndexShown;  // (order, origin) given to index displays
int32 RecordIndex(ObjHeap heap, int32 part, const void*, const void* value) {
  gIndexShown.push_back({ObjInt16(heap, part, kObjPartOrder), *static_cast<const int32*>(value)});
  return 0;
}

// The bars are drawn again when their count changed (invalidated when they
// may not draw in place), the index displays get the origin when there is
// no previous value; a look change redraws or invalidates only its cells.
TEST_F(Table, BarsIndexDisplaysAndLookChangesFollow) {
  const int32 bar = Obj(kClsCosmetic, table_, kTablePartHBar);
  SetBounds(bar, Rect{60, 10, 76, 100});
  SetW(bar, 0, int32(kTablePartNoDrawInPlace));
  Obj(kClsNumeric, table_, kTablePartIndex, 0), Obj(kClsNumeric, table_, kTablePartIndex, 1);
  const SlotPatch index(kClsNumeric, kMsgODisplayVal, &RecordIndex);
  SetValue(Value(3, 4));
  St()->topRow = 2, St()->leftColumn = 1;
  const UHandle same = KeepValue(Value(2, 4)), other = KeepValue(Value(3, 2));
  struct Case {
    const UHandle* previous;
    bool barInvalid;
    std::vector<std::pair<int32, int32>> shown;
  };
  const Case cases[] = {{nullptr, true, {{0, 1}, {1, 2}}}, {&same, false, {}}, {&other, true, {}}};
  for (const Case& c : cases) {
    gIndexShown.clear();
    WValidate(window_);
    const int32 reply = oDisplayVal(panel_, table_, int32(uintptr_t(c.previous)), TableValue(panel_, table_));
    EXPECT_EQ(reply, c.barInvalid ? 0x20000 : 0);
    EXPECT_EQ(InvalidAt(50, 70), c.barInvalid);
    EXPECT_EQ(gIndexShown, c.shown);
  }
  St()->topRow = St()->leftColumn = 0;
  TableDraw(panel_, table_, nullptr, TableValue(panel_, table_), kTableDrawAll, kDrawModeNormal);
  struct Inval {
    int32 row, column;
    Bool32 defer;
    uInt32 areaFlags;
    int32 reply;
    bool cell00, cell11;  // cell (0, 0) and (1, 1) invalid afterwards
  };
  const Inval invals[] = {{1, 1, 0, kTablePartNoDrawInPlace, 0x20000, false, true},
                          {-2, 1, 0, kTablePartNoDrawInPlace, 0x20000, false, true},
                          {0, -2, 0, kTablePartNoDrawInPlace, 0x20000, true, false},
                          {-2, -2, 1, 0, 0x20000, true, true},
                          {1, 1, 0, 0, 0, false, false}};
  for (const Inval& c : invals) {
    SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.column));
    SetW(area_, 0, int32(c.areaFlags));
    WValidate(window_);
    EXPECT_EQ(TableInvalCells(panel_, table_, c.row, c.column, c.defer), c.reply);
    EXPECT_EQ(InvalidAt(20, 15), c.cell00);
    EXPECT_EQ(InvalidAt(50, 32), c.cell11);
  }
}

// The look list's storing rules.
TEST_F(Table, LooksStoreOnlyWhatDiffersFromWhatCellsInherit) {
  // A cell's background equal to its column's stores nothing.
  Set(-2, 1, kCellLookBack, 0, 0xFF0000);
  const int32 withColumn = Looks();
  Set(0, 1, kCellLookBack, 0, 0xFF0000);
  EXPECT_EQ(Looks(), withColumn);
  // A column's text colour takes the bit from the column's cell records.
  Set(0, 1, kCellLookText, 0x0000FF, 0);
  EXPECT_EQ(Looks(), withColumn + 1);
  EXPECT_EQ(Set(-2, 1, kCellLookText, 0x00FF00, 0) & kCellChangedLayout, kCellChangedLayout) << "a record dropped";
  EXPECT_EQ(Looks(), withColumn);
  EXPECT_EQ(Look(0, 1).textColor, 0x00FF00u);
  // All cells' font and text: other records keep their font bit only.
  Set(-2, -2, kCellLookFont, 0, 0, 78);
  Set(2, 2, kCellLookFont | kCellLookText, 0x123456, 0, 77);
  Set(-2, -2, kCellLookFont | kCellLookText, 0x654321, 0, 79);
  EXPECT_EQ(Look(2, 2).font, 1) << "the index of its own font";
  EXPECT_EQ(Look(0, 0).font, 2);
  EXPECT_EQ(Look(2, 2).textColor, 0x654321u);
  // Header cells take the header row's records and the all-cells record.
  Set(-1, -2, kCellLookBack, 0, 0xABCDEF);
  EXPECT_EQ(Look(-1, 3).backColor, 0xABCDEFu);
  EXPECT_EQ(Look(0, 3).backColor, 0xB3B3B3u);
  EXPECT_EQ(Look(-1, 3).textColor, 0x654321u);
  // The list is sorted: all cells, rows, columns, cells by descending column.
  const UHandle h = St()->cellFormats;
  std::vector<std::pair<int32, int32>> order;
  for (int32 i = 0; i < Looks(); ++i)
    order.push_back({int32(GetNative32(*h + 4 + 40 * i)), int32(GetNative32(*h + 8 + 40 * i))});
  EXPECT_EQ(order, (std::vector<std::pair<int32, int32>>{{-2, -2}, {-1, -2}, {-2, 1}, {2, 2}}));
  // A list that cannot grow changes nothing.
  MemFailNthAllocation(1);
  EXPECT_EQ(Set(1, 3, kCellLookBack, 0, 0x111111), kCellChangeFailed);
  MemFailNthAllocation(0);
  EXPECT_EQ(Look(1, 3).backColor, 0xB3B3B3u);
  qxtest::Reports::Get().Install();
  MemFailNthAllocation(1);
  TableCellFontRec line{};
  line.row = 1, line.column = -2, line.textColor = 0x222222;
  EXPECT_EQ(TableSetLineFormat(panel_, table_, &line, kCellLookText, 0) & kCellChangeFailed, kCellChangeFailed);
  MemFailNthAllocation(0);
  EXPECT_EQ(Reports("Low memory: table fonts may not be correct"), 1);
}

// A row's setting wins over the column records that cross it.
TEST_F(Table, RowSettingWinsOverCrossingColumns) {
  Set(-2, 2, kCellLookText, 0x0000FF, 0);
  TableCellFontRec row{};
  row.row = 1, row.column = -2, row.textColor = 0xFF0000;
  TableSetCellFont(panel_, table_, &row, kCellLookText, 0);
  EXPECT_EQ(Look(1, 2).textColor, 0xFF0000u);
  EXPECT_EQ(Look(0, 2).textColor, 0x0000FFu);
  EXPECT_EQ(Look(1, 0).textColor, 0xFF0000u);
}

// The pop-up items and what each does at the table's own level.
TEST_F(Table, PopupItemsToggleAndEmpty) {
  SetValue(Value(3, 4));
  MenuHandle m64 = nullptr, m72 = nullptr;
  const uChar title[] = {1, 'P'};
  ASSERT_EQ(MNewLMenu(&m64, title, kTablePopupMenu64), kNoErr);
  ASSERT_EQ(MNewLMenu(&m72, title, kPopupMenuId), kNoErr);
  PopupShellHooks hooks{};
  hooks.menuInsertItemAt = &TrackedInsert;
  const PopupShellHooks saved = SetPopupShellHooks(hooks);
  auto build = [&] {
    gTracked.clear();
    MDeleteAllItems(m64);
    PopupMsgRecord rec{};
    rec.menu64 = m64, rec.menu72 = m72, rec.phase = kPopupBuild;
    OPopup(panel_, table_, &rec);
    std::string out;
    for (MenuHandle m : {m72, m64}) {
      int32 i = 0;
      for (const auto& [menu, code] : gTracked) {
        if (menu != m) continue;
        MenuItemInfo info{};
        MGetItemInfo(m, ++i, &info);
        out += std::to_string(code) + (info.enabled ? "" : "-") + (info.mark ? "*" : "") + " ";
      }
    }
    return out;
  };
  // menu 72 is cleared by the generic items first, menu 64 holds ours after.
  VIRec(vi_)->flags2 |= 0x800;
  EXPECT_NE(build().find("0- 170- 159 0- 247 "), std::string::npos) << build();
  VIRec(vi_)->flags2 &= ~0x800u;
  Flag(kTableFlagShowSelection | kTableFlagSelScrolling, true);
  EXPECT_NE(build().find("0- 170 159* 0- 247* "), std::string::npos);
  struct Run {
    int32 item;
    int32 reply;
    uInt32 flags;
  };
  St()->topRow = 2, St()->leftColumn = 1;
  const Run runs[] = {{kPopupShowSelection, 0x10000, kTableFlagSelScrolling},
                      {kTablePopupSelScrolling, 0x10000, 0},
                      {kTablePopupEmpty, 8, 0}};
  for (const Run& r : runs) {
    PopupMsgRecord rec{};
    rec.phase = kPopupRun, rec.menuId = kPopupMenuId, rec.item = r.item, rec.level = -2;
    EXPECT_EQ(OPopup(panel_, table_, &rec), r.reply);
    EXPECT_EQ(W(table_, 0) & (kTableFlagShowSelection | kTableFlagSelScrolling), r.flags);
  }
  const UHandle a = *TableValue(panel_, table_);
  EXPECT_TRUE(!a || (Count(a, 0) * Count(a, 1)) == 0);
  EXPECT_EQ(St()->topRow, 0);
  EXPECT_EQ(St()->leftColumn, 0);
  SetPopupShellHooks(saved);
  MDisposeMenu(m64);
  MDisposeMenu(m72);
}

// Blink phase 1 draws a blinking cell in the blink colours, a transparent
// blink foreground falling back to the area's background, then black.
TEST_F(Table, BlinkingCellsTakeTheBlinkColours) {
  struct Case {
    int32 mode;
    int32 blink;
    DColor fore, area;
    DColor text, back;
  };
  const Case cases[] = {
      {kDrawModeBlink, kCellBlinking, 0xFF0000, 0xFFFFFF, 0xFF0000, 0x00FF00},
      {kDrawModeBlink, kCellBlinking, kTransparentColor, 0xFFFFFF, 0xFFFFFF, 0x00FF00},
      {kDrawModeBlink, kCellBlinking, kTransparentColor, kTransparentColor, 0, 0x00FF00},
      {kDrawModeBlink, 0, 0xFF0000, 0xFFFFFF, 0x111111, 0x222222},
      {kDrawModeNormal, kCellBlinking, 0xFF0000, 0xFFFFFF, 0x111111, 0x222222},
  };
  const int32 savedFore = PrefGet(kPrefBlinkFG), savedBack = PrefGet(kPrefBlinkBG);
  for (const Case& c : cases) {
    PrefSet(kPrefBlinkFG, int32(c.fore));
    PrefSet(kPrefBlinkBG, 0x00FF00);
    ctrl::SetPartColours(panel_, area_, kGridColour, c.area);
    TableCellFontRec look = kTableDefaultLook;
    look.textColor = 0x111111, look.backColor = 0x222222, look.blink = c.blink, look.mask = kCellLookAll;
    DColor got[4];
    TableCellColors(panel_, table_, &look, c.mode, got);
    EXPECT_EQ(got[0], c.text);
    EXPECT_EQ(got[1], c.back);
  }
  PrefSet(kPrefBlinkFG, savedFore);
  PrefSet(kPrefBlinkBG, savedBack);
  // The blink setter marks the cell; the draw in phase 1 paints it.
  ctrl::SetPartColours(panel_, area_, kGridColour, kAreaBack);
  SetValue(Value(3, 4));
  TableCellFontRec mark{};
  mark.row = 1, mark.column = 1, mark.blink = kCellBlinking;
  EXPECT_EQ(TableSetCellFont(panel_, table_, &mark, kCellLookBlink, 0), kCellChangedLayout);
  EXPECT_EQ(Look(1, 1).blink, kCellBlinking);
  EXPECT_EQ(Look(1, 2).blink, 0);
}

}  // namespace table_test

