// The panel classes' string import: objects read in reverse list order,
// their checks, and what a differing string does to its object.
#include <cstring>
#include <string>

#include "mgsource/counted_strings.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/panel_test_support.h"
#include "panel/graphstate.h"
#include "panel/strimport.h"
#include "panel/vistring_fixture.h"

namespace {

class StringImportTest : public ptest::PanelRootTest {
 protected:
  // Sends the panel the file's CONTENT element; the reply.
  int32 Import(const std::string& file, bool enumRing = false) {
    p_ = vsfix::Build(panel_, root_, enumRing);
    text_ = file;
    UHandle h = Keep(DSNewHandle(int32(4 + text_.size())));
    PutNative32(*h, uInt32(text_.size()));
    std::memcpy(*h + 4, text_.data(), text_.size());
    InitImportContext(&context_);
    ImportStringsRequest rq{};
    rq.text = h;
    rq.position = uInt32(text_.find("<CONTENT>"));
    rq.syntaxVersion = 2;
    rq.context = &context_;
    ClearReports();
    return FPImportStrings(panel_, &rq);
  }
  std::string Item(int32 i) {
    CPStrHandle items = reinterpret_cast<CPStrHandle>(uintptr_t(uInt32(W(p_.items, 11))));
    ConstPStr s = CPStrIndex(items, i);
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
  }
  vsfix::Panel p_{};
  std::string text_;
  ImportStringsContext context_;
};

TEST_F(StringImportTest, ObjectsAreCheckedAndDifferingStringsReplaced) {
  struct Case {
    vsfix::File file;
    bool enumRing;
    int32 error;            // -1: none
    bool changed;           // the reply says an object changed
    const char* label;      // the free label's text afterwards
    const char* lastItem;   // the ring's fourth item afterwards
  } cases[] = {
      {{}, false, -1, false, "Hello", "d"},
      {{.name = "name"}, false, kVSControlName, false, "Hello", "d"},  // names compare exactly
      {{.ringItems = "abc"}, false, kVSItemCount, false, "Hello", "d"},
      {{.ringItems = "abc"}, true, -1, false, "Hello", "d"},  // an enumeration's items are its type's
      {{.ringItems = "abcx"}, false, -1, true, "Hello", "x"},
      {{.label = "Bye<CR>now"}, false, -1, true, "Bye\rnow", "d"},
  };
  for (const Case& c : cases) {
    const int32 reply = Import(vsfix::Section(c.file), c.enumRing);
    EXPECT_EQ(context_.errCode, c.error) << text_;
    EXPECT_EQ((reply & kImportStop) != 0, c.error != -1) << text_;
    EXPECT_EQ((reply & kImportChanged) != 0, c.changed) << text_;
    EXPECT_EQ(vsfix::TextOf(panel_, p_.label), c.label) << text_;
    EXPECT_EQ(Item(3), c.lastItem) << text_;
    // Only a change is reported as a modification.
    EXPECT_EQ(Reports("Doc Mod") > 0, c.changed) << text_;
    if (c.error == kVSControlName) {
      EXPECT_EQ(context_.errObject, uInt32(p_.string));
    }
  }
}

}  // namespace

// The private strings of tables, listboxes and graphs, reached through the
// control layer's hooks (here over lists of the test's own).
struct PrivLists {
  uChar items[2][kListboxItemBytes] = {}, plot[kPlotEntryBytes] = {}, cursor[256] = {};
  int32 cells[10] = {0, 1, 0};  // a look record: row, column, font index, ..., colour at 16
  UHandle rows = nullptr;
  int32 font = 0, measured = 0;
  std::vector<int32> labelInvals;
} gLists;

LStrHandle Str(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
std::string StrAt(const uChar* at) {
  LStrHandle h;
  std::memcpy(&h, at, sizeof h);
  return std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt));
}

TEST_F(StringImportTest, PrivateStringsOfTablesListboxesAndGraphsAreReplaced) {
  StringImportHooks hooks;
  hooks.listboxItems = [](ObjHeap, int32, int32* n) { return (*n = 2), &gLists.items[0][0]; };
  hooks.graphPlotList = [](ObjHeap, int32, int32* n) { return (*n = 1), gLists.plot; };
  hooks.graphCursorList = [](ObjHeap, int32, int32* n) { return (*n = 1), gLists.cursor; };
  hooks.graphCursorFont = [](ObjHeap, int32) { return TNewFont(nullptr, 0, 0, 0); };
  hooks.measureCursorLabel = [](UPtr, int32) { ++gLists.measured; };
  hooks.cursorLabelInval = [](ObjHeap, int32, UPtr, int32 after) { gLists.labelInvals.push_back(after); };
  hooks.tableHeaders = [](ObjHeap, int32, int32 columns) { return columns ? nullptr : gLists.rows; };
  hooks.tableCellFonts = [](ObjHeap, int32, int32* n) { return (*n = 1), reinterpret_cast<UPtr>(gLists.cells); };
  hooks.tableFont = [](ObjHeap, int32, int32) { return gLists.font; };
  hooks.setTableFont = [](ObjHeap, int32, int32, int32 font) { gLists.font = font; };
  const StringImportHooks former = SetStringImportHooks(hooks);
  for (const char* cell : {"[0 1]", "[1 1]"}) {
    gLists = PrivLists{};
    for (auto* at : {&gLists.items[0][kListboxItemTextAt], &gLists.items[1][kListboxItemTextAt],
                     &gLists.plot[kPlotNameAt], &gLists.cursor[GraphCursorFieldAt(kCursorNameField)]}) {
      LStrHandle h = Str("old");
      std::memcpy(at, &h, sizeof h);
    }
    PutNative32(gLists.cursor, kCursorLabelShown);
    gLists.rows = AZNewHandle(12);
    PutNative32(*gLists.rows, 2);
    for (int32 i = 0; i < 2; ++i) {
      LStrHandle h = Str(i ? "old" : "r1");
      std::memcpy(*gLists.rows + 4 + 4 * i, &h, sizeof h);
    }
    gLists.font = TNewFont(nullptr, 0, 0, 0);
    int32 table, listbox, graph;
    const std::vector<int32> top = {Control(tdb::U8(), kClsTable, &table), Control(tdb::U8(), kClsListbox, &listbox),
                                    Control(tdb::U8(), kClsGraphChart, &graph)};
    SetW(root_, kRootObjectListWord, vib::NewList(panel_, top));
    InitImportContext(&context_);
    const std::string file = std::string("<CONTENT><CONTROL ID=94 name=\"\"><DESC></DESC><PRIV><PLOTS>") +
                             "<STRING>p1</STRING></PLOTS><CURSORS><STRING>c1</STRING></CURSORS></PRIV></CONTROL>" +
                             "<CONTROL ID=105 name=\"\"><DESC></DESC><LBLABEL></LBLABEL><PRIV><ITEMS>" +
                             "<STRING>i1</STRING><STRING>i2</STRING></ITEMS></PRIV></CONTROL>" +
                             "<CONTROL ID=92 name=\"\"><DESC></DESC><PRIV><ROW_HEADER><STRING>r1</STRING>" +
                             "<STRING>r2</STRING></ROW_HEADER><CELL_FONTS>" + cell +
                             "<FONT size=20></CELL_FONTS></PRIV><DEFAULT></DEFAULT></CONTROL></CONTENT>";
    UHandle h = Keep(DSNewHandle(int32(4 + file.size())));
    PutNative32(*h, uInt32(file.size()));
    std::memcpy(*h + 4, file.data(), file.size());
    ImportStringsRequest rq{};
    rq.text = h;
    rq.context = &context_;
    FPImportStrings(panel_, &rq);
    EXPECT_EQ(StrAt(gLists.plot + kPlotNameAt) + StrAt(gLists.cursor + GraphCursorFieldAt(kCursorNameField)), "p1c1");
    EXPECT_EQ(StrAt(gLists.items[0] + kListboxItemTextAt) + StrAt(gLists.items[1] + kListboxItemTextAt), "i1i2");
    // A shown label's old and new rectangles are invalidated around its measuring.
    EXPECT_EQ(gLists.labelInvals, (std::vector<int32>{0, 1}));
    EXPECT_EQ(gLists.measured, 1);
    EXPECT_EQ(StrAt(*gLists.rows + 8), "r2");
    EXPECT_EQ(std::make_pair(W(table, 12), W(table, 13)), std::make_pair(1, -1));
    int32 size = 0;
    TGetFontInfo(gLists.font, nullptr, &size, nullptr, nullptr);
    EXPECT_EQ(context_.errCode, cell[1] == '0' ? -1 : kVSCellPosition);
    EXPECT_EQ(size, cell[1] == '0' ? 20 : size);
  }
  SetStringImportHooks(former);
}

namespace {

// An array's DEFAULT is read element by element against its default data:
// differing paths are replaced in place, a count that differs stops.
TEST_F(StringImportTest, AnArrayOfPathsTakesItsDefaultElementByElement) {
  int32 array = 0;
  const int32 dco = Control(tdb::Array(tdb::Path()), kClsArray, &array);
  const int32 element = vsfix::Obj(panel_, kClsPath, array);
  SetW(array, kPWArrayElement, element);
  SetW(element, kPWDDOTypeId, int32(Type(tdb::Path())));
  ASSERT_EQ(Alloc(dco), kNoErr);
  SetW(root_, kRootObjectListWord, vib::NewList(panel_, {dco}));
  UPtr data = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, array, 0, kDataPtrDefault, nullptr))));
  ASSERT_NE(data, nullptr);
  UHandle paths = DSNewHClr(12);
  PutNative32(*paths, 2);
  std::memcpy(data, &paths, sizeof paths);
  for (const std::string count : {"2", "3"}) {
    const std::string file = "<CONTENT><CONTROL ID=82 name=\"\"><DESC></DESC><DEFAULT><ARRAY nElems=" + count +
                             "><PATH type=\"relative\">a</PATH><PATH type=\"relative\">b<SEP>c</PATH></ARRAY>" +
                             "</DEFAULT><CONTENT><CONTROL ID=91 name=\"\"><DESC></DESC><DEFAULT><PATH></PATH>" +
                             "</DEFAULT></CONTROL></CONTENT></CONTROL></CONTENT>";
    UHandle h = Keep(DSNewHandle(int32(4 + file.size())));
    PutNative32(*h, uInt32(file.size()));
    std::memcpy(*h + 4, file.data(), file.size());
    InitImportContext(&context_);
    ImportStringsRequest rq{};
    rq.text = h;
    rq.context = &context_;
    FPImportStrings(panel_, &rq);
    EXPECT_EQ(context_.errCode, count == "2" ? -1 : kVSStructure);
    Path second;
    std::memcpy(&second, *paths + 8, sizeof second);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(FDepth(second), 2);
  }
}

}  // namespace

namespace {

// The selection message's string codes on scales: a control's own scale
// (part 17 of a slide) is read with the control and answers at once; a
// scale of its own reads its element, here missing: the import stops.
TEST_F(StringImportTest, AControlsScaleLeavesItsTextToTheControl) {
  int32 slide = 0;
  Control(tdb::DBL(), kClsSlide, &slide, root_);
  const int32 own = Obj(kClsScale, slide, 17), free = Obj(kClsScale, root_, 0);
  UHandle h = Keep(DSNewHClr(4));
  for (const auto& [scale, stops] : {std::pair{own, false}, {free, true}}) {
    InitImportContext(&context_);
    ImportStringsRequest rq{};
    rq.text = h, rq.syntaxVersion = 2, rq.context = &context_;
    ClearReports();
    const int32 reply = OSelectCode(panel_, scale, kEditImportStrings, reinterpret_cast<EditMsgRecord*>(&rq));
    EXPECT_EQ((reply & kImportStop) != 0, stops) << scale;
    EXPECT_EQ(context_.errCode != -1, stops) << scale;
    EXPECT_EQ(OSelectCode(panel_, scale, kEditExportStrings, reinterpret_cast<EditMsgRecord*>(&rq)), 0);
  }
}

}  // namespace
