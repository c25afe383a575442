// The table's data commands on its selected cells, reached through the
// edit message as the panel sends it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "controls/ctlselect.h"
#include "controls/table.h"
#include "panel/editmsg.h"
#include "panel/fppanel.h"
#include "panel/panel_test_support.h"
#include "platform/qx_alert.h"

namespace {

int gBeeps = 0;

class TableData : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsJoinTableSlots();
    ControlsInstallEditHooks();
    dco_ = Control(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}), kClsTable, &table_);
    ASSERT_EQ(Alloc(dco_), kNoErr);
    ASSERT_NE(TableStateOf(panel_, table_), nullptr);
    beep_ = PlatSetBeepProc([] { ++gBeeps; });
  }
  void TearDown() override {
    PlatSetBeepProc(beep_);
    PanelRootTest::TearDown();
  }
  // A rows x columns array of strings; cell (r, c) holds "rc".
  static UHandle Cells(int32 rows, int32 columns) {
    UHandle a = DSNewHClr(8 + 4 * rows * columns);
    PutNative32(*a, uInt32(rows));
    PutNative32(*a + 4, uInt32(columns));
    for (int32 i = 0; i < rows * columns; ++i) {
      const std::string s = std::to_string(i / columns) + std::to_string(i % columns);
      UHandle h = DSNewHandle(int32(4 + s.size()));
      PutNative32(*h, uInt32(s.size()));
      std::memcpy(*h + 4, s.data(), s.size());
      std::memcpy(*a + 8 + 4 * i, &h, 4);
    }
    return a;
  }
  // The value as its sizes, then the cells' texts.
  std::vector<std::string> Shown() {
    const UHandle a = *TableValue(panel_, table_);
    std::vector<std::string> out{std::to_string(GetNative32(*a)) + "x" + std::to_string(GetNative32(*a + 4))};
    for (uInt32 i = 0; i < GetNative32(*a) * GetNative32(*a + 4); ++i) {
      UHandle h;
      std::memcpy(&h, *a + 8 + 4 * i, 4);
      out.emplace_back(h ? std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h)) : "");
    }
    return out;
  }
  std::vector<int32> Selection() {
    const TableState* st = TableStateOf(panel_, table_);
    return {st->selRow1, st->selColumn1, st->selRow2, st->selColumn2};
  }
  int32 Command(int32 code, const std::vector<int32>& selection, EditMsgRecord* rec) {
    TableState* st = TableStateOf(panel_, table_);
    st->selRow1 = selection[0], st->selColumn1 = selection[1], st->selRow2 = selection[2], st->selColumn2 = selection[3];
    SelectObject(panel_, table_);
    const int32 reply = OSelectCode(panel_, table_, code, rec);
    ClearSelectionList(panel_);
    return reply;
  }
  int32 dco_ = 0, table_ = 0;
  PlatBeepProc beep_ = nullptr;
};

TEST_F(TableData, CutCopyAndPasteWorkOnTheSelectedCells) {
  struct Case {
    const char* what;
    int32 code;
    std::vector<int32> selection;
    std::vector<std::string> value;
    std::vector<int32> after;
  };
  const Case cases[] = {
      // Corners in either order: the whole first column goes, only it.
      {"column cut", kEditCutData, {2, 1, 0, 0}, {"2x2", "01", "02", "11", "12"}, {0, 0, 2, 0}},
      {"empty row range: copy unchanged", kEditCopyData, {1, 0, 1, 3}, {"2x3", "00", "01", "02", "10", "11", "12"},
       {1, 0, 1, 3}},
      {"copy trims", kEditCopyData, {1, 1, 2, 3}, {"1x2", "11", "12"}, {0, 0, 1, 2}},
  };
  for (const Case& c : cases) {
    *TableValue(panel_, table_) = Cells(2, 3);
    EditMsgRecord rec{};
    EXPECT_EQ(Command(c.code, c.selection, &rec), 0x8) << c.what;
    EXPECT_EQ(Shown(), c.value) << c.what;
    EXPECT_EQ(Selection(), c.after) << c.what;
  }
  // A 2 x 3 block pasted over a 1 x 1 selection: one row and two columns
  // more, the block written at the selection's start, the selection 2 x 3.
  *TableValue(panel_, table_) = Cells(2, 2);
  UHandle block = Cells(2, 3);
  const TypeID type = Type(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}));
  EditMsgRecord rec{};
  rec.sourceHeap = panel_, rec.sourceType = type, rec.sourceData = &block;
  EXPECT_EQ(Command(kEditPasteData, {1, 1, 2, 2}, &rec), 0x8);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"3x4", "00", "", "", "01", "", "00", "01", "02", "10", "10", "11", "12"}));
  EXPECT_EQ(Selection(), (std::vector<int32>{1, 1, 3, 4}));
  // Another type beeps and leaves both value and size.
  const std::vector<std::string> before = Shown();
  rec.sourceType = Type(tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}));
  gBeeps = 0;
  EXPECT_EQ(Command(kEditPasteData, {0, 0, 1, 1}, &rec), 0);
  EXPECT_EQ(gBeeps, 1);
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(Selection(), (std::vector<int32>{0, 0, 1, 1}));
}

}  // namespace
