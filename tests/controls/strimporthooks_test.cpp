// The string import through the controls' own lists, as the program's
// start-up fills its hooks: a table's headers, look records and fonts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "controls/strimporthooks.h"
#include "controls/table.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "panel/panel_test_support.h"

namespace {

class TableStringImport : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsJoinTableSlots();
    StringImportHooks hooks{};
    ControlsFillStringImportHooks(&hooks);
    former_ = SetStringImportHooks(hooks);
    dco_ = Control(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}), kClsTable, &table_);
    SetW(root_, kRootObjectListWord, vib::NewList(panel_, {dco_}));
    ASSERT_EQ(Alloc(dco_), kNoErr);
    ASSERT_NE(TableStateOf(panel_, table_), nullptr);
  }
  void TearDown() override {
    SetStringImportHooks(former_);
    PanelRootTest::TearDown();
  }
  static UHandle Str(const std::string& s) {
    UHandle h = DSNewHandle(int32(4 + s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    return h;
  }
  static std::string Text(UHandle h) {
    return std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h));
  }
  int32 Import(const std::string& priv) {
    const std::string file = "<CONTENT><CONTROL ID=92 name=\"\"><DESC></DESC>" + priv +
                             "<DEFAULT><STRINGS></STRINGS></DEFAULT></CONTROL></CONTENT>";
    UHandle h = Keep(DSNewHandle(int32(4 + file.size())));
    PutNative32(*h, uInt32(file.size()));
    std::memcpy(*h + 4, file.data(), file.size());
    InitImportContext(&context_);
    ImportStringsRequest rq{};
    rq.text = h;
    rq.context = &context_;
    FPImportStrings(panel_, &rq);
    return context_.errCode;
  }
  int32 FontAt(int32 index) {
    const UHandle fonts = reinterpret_cast<UHandle>(uintptr_t(uInt32(W(table_, kTableFontListWord))));
    return int32(GetNative32(*fonts + 4 + 4 * index));
  }

  StringImportHooks former_{};
  ImportStringsContext context_;
  int32 dco_ = 0, table_ = 0;
};

// The row headers and the cell fonts are read from the table's own lists
// and replaced where they differ (the all-cells record, with no FONT tag
// before the next cell position, keeps its settings); a look list whose
// count runs past its handle is not read at all.
TEST_F(TableStringImport, HeadersAndCellFontsComeFromTheTablesLists) {
  TableState* st = TableStateOf(panel_, table_);
  st->rowHeaders = DSNewHandle(12);
  PutNative32(*st->rowHeaders, 2);
  for (int32 i = 0; i < 2; ++i) {
    const UHandle s = Str(i ? "old" : "r1");
    std::memcpy(*st->rowHeaders + 4 + 4 * i, &s, 4);
  }
  TableCellFontRec look{};
  look.row = 0, look.column = 1, look.font = TNewFont(nullptr, 9, 0, 0), look.textColor = 0x123456;
  ASSERT_EQ(TableSetCellFormat(panel_, table_, &look, kCellLookFont | kCellLookText) & kCellChangeFailed, 0);
  TDisposeFont(look.font);
  st = TableStateOf(panel_, table_);
  const int32 records = int32(GetNative32(*st->cellFormats));
  ASSERT_GE(records, 1);
  // The all-cells record comes first, then the cell's.
  std::string cells;
  for (int32 i = 0; i < records; ++i) {
    TableCellFontRec r;
    std::memcpy(&r, *st->cellFormats + 4 + 40 * i, sizeof r);
    cells += "[" + std::to_string(r.row) + " " + std::to_string(r.column) + "]" +
             (r.row == 0 ? "<FONT size=20 color=00FF00>" : "");
  }
  EXPECT_EQ(Import("<PRIV><ROW_HEADER><STRING>r1</STRING><STRING>r2</STRING></ROW_HEADER><CELL_FONTS>" + cells +
                   "</CELL_FONTS></PRIV>"),
            -1);
  st = TableStateOf(panel_, table_);
  UHandle second;
  std::memcpy(&second, *st->rowHeaders + 8, 4);
  EXPECT_EQ(Text(second), "r2");
  TableCellFontRec mine = kTableDefaultLook;
  mine.row = 0, mine.column = 1;
  TableCellFormatMerge(panel_, table_, &mine);
  int32 size = 0;
  TGetFontInfo(FontAt(mine.font), nullptr, &size, nullptr, nullptr);
  EXPECT_EQ(size, 20);
  EXPECT_EQ(mine.textColor, 0x00FF00u);

  // A count past the handle's end: no cell fonts, so the tag is unexpected.
  PutNative32(*st->cellFormats, 1000);
  EXPECT_NE(Import("<PRIV><ROW_HEADER><STRING>r1</STRING><STRING>r2</STRING></ROW_HEADER><CELL_FONTS>[0 1]"
                   "</CELL_FONTS></PRIV>"),
            -1);
  PutNative32(*st->cellFormats, uInt32(records));
}

}  // namespace
