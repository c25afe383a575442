// The panel clipboard's kinds and fills, the data commands on blocks of
// arrays, pastes into single objects, and the clipboard left empty by a
// fill that fails anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/dmprog.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/blockdata.h"
#include "panel/clipmenu.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "mgsource/objlist.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/popup.h"
#include "panel/textparts.h"
#include "operate_fixture.h"
#include "tools/dlgwriter.h"
#include "draw_start.h"
#include "mgsource/window/window.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_droptarget.h"

namespace {

// A 2-D array of I32 with the given sizes; cell (r, c) holds 10 r + c.
UHandle Grid(int32 rows, int32 columns) {
  UHandle a = DSNewHClr(8 + 4 * rows * columns);
  PutNative32(*a, uInt32(rows));
  PutNative32(*a + 4, uInt32(columns));
  for (int32 i = 0; i < rows * columns; ++i) PutNative32(*a + 8 + 4 * i, uInt32(10 * (i / columns) + i % columns));
  return a;
}
std::vector<int32> Cells(UHandle a) {
  std::vector<int32> v{int32(GetNative32(*a)), int32(GetNative32(*a + 4))};
  for (int32 i = 0; i < v[0] * v[1]; ++i) v.push_back(int32(GetNative32(*a + 8 + 4 * i)));
  return v;
}

class DataBlocks : public qxtest::EngineTest {};

// The block arithmetic in n dimensions: whole dimensions a cut leaves,
// pinning, a paste whose resize both grows and shrinks (sizes, then the
// cells, row-major).
TEST_F(DataBlocks, CutTrimAndPasteResizeAndWriteTheBlock) {
  const std::vector<uChar> bytes = tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}).Bytes();
  const TypeDescriptor* td = tdb::AsTD(bytes);
  struct Case {
    const char* what;
    int32 code, rows, columns;
    DataBlock block;
    std::vector<int32> value, start, end;
  };
  const Case cases[] = {
      {"whole rows: rows only", kEditCutData, 3, 2, {{1, 0}, {2, 2}}, {2, 2, 0, 1, 20, 21}, {1, 0}, {1, 2}},
      {"everything", kEditCutData, 2, 2, {{0, 0}, {2, 2}}, {0, 0}, {0, 0}, {0, 0}},
      {"past the ends: pinned", kEditCopyData, 2, 2, {{-5, 1}, {9, 7}}, {2, 1, 1, 11}, {0, 0}, {2, 1}},
  };
  for (const Case& c : cases) {
    UHandle v = Grid(c.rows, c.columns);
    DataBlock b = c.block;
    EXPECT_EQ(c.code == kEditCutData ? BlockCut(td, &v, &b) : BlockTrim(td, &v, &b), 0) << c.what;
    EXPECT_EQ(Cells(v), c.value) << c.what;
    EXPECT_EQ(b.start, c.start) << c.what;
    EXPECT_EQ(b.end, c.end) << c.what;
    DSDisposeHandle(v);
  }
  // 1 x 3 over a 2 x 1 block: a row goes, two columns come (insertions and
  // deletions in separate steps), the source written at the block's start.
  UHandle v = Grid(3, 3), src = Grid(1, 3);
  DataBlock b{{0, 0}, {2, 1}};
  ASSERT_EQ(BlockPaste(td, &v, &b, src), 0);
  EXPECT_EQ(Cells(v), (std::vector<int32>{2, 5, 0, 1, 2, 11, 12, 0, 0, 20, 21, 22}));
  EXPECT_EQ(b.end, (std::vector<int32>{1, 3}));
  DSDisposeHandle(v), DSDisposeHandle(src);
}

class Clipboard : public OperateRootTest {
 protected:
  void SetUp() override {
    OperateRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    dlgwriter::AddLabelTemplates(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle fh = AZNewHandle(int32(file.size()));
    std::memcpy(*fh, file.data(), file.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rf_, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(rf_);
    FPPanelClipboardLife(1);
    ASSERT_NE(PanelClipboardVI(), nullptr);
    clip_ = VIRec(PanelClipboardVI())->panelHeap;
  }
  void TearDown() override {
    FPPanelClipboardLife(0);
    SetRunTimeRsrcFile(0);
    if (rf_) RCloseFile(rf_);
    OperateRootTest::TearDown();
  }
  // A control of the panel: its controller in the root's object and
  // controller lists, as a loaded panel has it.
  int32 Control(const tdb::TD& td, int32 cls, int32* display, int32 = 0) {
    const int32 dco = OperateRootTest::Control(td, cls, display, root_);
    int32 list = W(root_, kRootItemList / 4);
    if (!list) list = vib::NewList(panel_, {dco});
    else EXPECT_EQ(OHListInsert(panel_, &list, dco, kObjListAppend), kNoErr);
    SetW(root_, kRootItemList / 4, list);
    return dco;
  }
  // An array control of rank n of the element type, with its data.
  int32 ArrayControl(const tdb::TD& elem, int32 n, int32* array, int32 elemClass = kClsNumeric) {
    const int32 dco = Control(tdb::Array(elem, std::vector<int32>(size_t(n), kTDVariable)), kClsArray, array);
    const int32 e = Obj(elemClass, *array, 8001);
    SetW(e, kPWDDOTypeId, int32(Type(elem)));
    SetW(*array, kPWArrayElement, e);
    EXPECT_EQ(Alloc(dco), kNoErr);
    return dco;
  }
  UHandle& Value(ObjHeap h, int32 o) {
    return *reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(h, o, 0, kDataPtrPlain, nullptr))));
  }
  // Sets the array's selection start and end vectors.
  void Select(int32 array, std::vector<int32> start, std::vector<int32> end) {
    for (int32 which : {1, 2}) {
      const UHandle h = *reinterpret_cast<UHandle*>(*DS() + W(array, kPWArrayPrivate) + 4 * which);
      const std::vector<int32>& v = which == 1 ? start : end;
      for (size_t k = 0; k < v.size(); ++k) PutNative32(*h + 4 + 4 * k, uInt32(v[k]));
    }
  }
  // A text part of the object (a label of the part id) showing the text.
  int32 TextObj(int32 cls, int32 owner, int16 id, const char* text, Rect r = {10, 10, 30, 60}) {
    const int32 o = Obj(cls, owner, id);
    SetBounds(o, r);
    SetPartText(panel_, o, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), 0, 0);
    texts_.push_back(o);
    return o;
  }
  std::string Text(ObjHeap h, int32 o) {
    const TRecord t = PartTextRecord(h, o);
    const UHandle s = t ? TGetText(t) : nullptr;
    return s ? std::string(reinterpret_cast<const char*>(*s + 4), GetNative32(*s)) : "<none>";
  }
  // "Copy Data" or "Cut Data" chosen on the object's pop-up menu.
  int32 DataCommand(int32 object, int32 item) {
    PopupMsgRecord rec{};
    rec.phase = kPopupRun, rec.menuId = kPopupMenuId, rec.item = item, rec.level = -1;
    return OPopup(panel_, object, &rec);
  }
  // The clipboard's first control (the display of its first controller).
  int32 ClipControl() {
    const int32 root = int32(GetNative32(*clip_ + OHWord(clip_, kOHExtension) + kHeapExtRoot));
    const int32 list = ObjWord(clip_, root, kRootItemList / 4);
    return list && ObjListCount(clip_, list) ? ObjWord(clip_, ObjListGet(clip_, list, 0), kPWDCODisplay) : 0;
  }
  RsrcFileRef rf_ = 0;
  ObjHeap clip_ = nullptr;
};

// Copy Data on a numeric: its data in the clipboard (kind 6), Paste Data
// then offered to a numeric of its type only; two labels copied: kind 5;
// "12.5" as the text: offered to a DBL numeric, not to an I32 one.
TEST_F(Clipboard, KindsFollowWhatWasCopiedAndEnablePasteByType) {
  int32 num = 0, same = 0, str = 0, dbl = 0;
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsNumeric, &num, root_)), kNoErr);
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsNumeric, &same, root_)), kNoErr);
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsString, &str, root_)), kNoErr);
  ASSERT_EQ(Alloc(Control(tdb::DBL(), kClsNumeric, &dbl, root_)), kNoErr);
  for (int32 n : {num, same, dbl}) TextObj(kClsLabel, n, 10, "0");
  *reinterpret_cast<int32*>(uintptr_t(uInt32(OGetDataPtr(panel_, num, 0, kDataPtrPlain, nullptr)))) = 42;
  EXPECT_EQ(DataCommand(num, kPopupCopyData) & 0x10, 0);
  EXPECT_EQ(PanelClipboardKind(), kClipKindPanelData);
  EXPECT_EQ(FPSelectionCount(panel_), 0) << "the source's selection is given back";
  EXPECT_EQ(PasteDataEnabled(panel_, same) * 10 + PasteDataEnabled(panel_, str), 10);
  EXPECT_EQ(PasteDataToObject(panel_, same) & 0x8, 0x8);
  EXPECT_EQ(*reinterpret_cast<int32*>(uintptr_t(uInt32(OGetDataPtr(panel_, same, 0, kDataPtrPlain, nullptr)))), 42);

  const int32 a = TextObj(kClsLabel, root_, 0, "a"), b = TextObj(kClsLabel, root_, 0, "b");
  FPSelectObject(panel_, a), FPSelectObject(panel_, b);
  EXPECT_EQ(DoDataOperation(panel_, 5) & 0x10, 0);
  EXPECT_EQ(PanelClipboardKind(), kClipKindDecorations);
  ClearSelectionList(panel_);

  LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 4));
  (*text)->cnt = 4;
  std::memcpy((*text)->str, "12.5", 4);
  ImportClipboardText(text);
  ASSERT_EQ(PanelClipboardKind(), kClipKindText);
  const int32 label = FPSelectedObject(clip_, 0);
  Rect at;
  std::memcpy(&at, *clip_ + label + kObjBounds, sizeof at);
  EXPECT_EQ(std::make_pair(at.top, at.left), std::make_pair(int16(50), int16(50)));
  EXPECT_EQ(PasteDataEnabled(panel_, dbl) * 10 + PasteDataEnabled(panel_, same), 10);
}

// An I32 block pasted into a DBL array converts; the block of a Cut Data
// leaves the source and lands trimmed in the clipboard.
TEST_F(Clipboard, ArrayBlocksAreCutIntoTheClipboardAndPastedConverted) {
  int32 src = 0, dst = 0;
  ArrayControl(tdb::I32(), 2, &src);
  ArrayControl(tdb::DBL(), 2, &dst);
  DSDisposeHandle(Value(panel_, src));
  Value(panel_, src) = Grid(4, 4);
  Select(src, {1, 1}, {3, 3});
  EXPECT_EQ(DataCommand(src, kPopupCutData) & 0x10, 0);
  EXPECT_EQ(PanelClipboardKind(), kClipKindPanelData);
  EXPECT_EQ(Cells(Value(panel_, src)), (std::vector<int32>{2, 2, 0, 3, 30, 33}));
  const int32 copy = ClipControl();
  ASSERT_NE(copy, 0);
  EXPECT_EQ(Cells(Value(clip_, copy)), (std::vector<int32>{2, 2, 11, 12, 21, 22}));
  ASSERT_TRUE(PasteDataEnabled(panel_, dst));
  Select(dst, {0, 0}, {0, 0});
  EXPECT_EQ(PasteDataToObject(panel_, dst) & 0x18, 0x8);
  const UHandle v = Value(panel_, dst);
  ASSERT_EQ(GetNative32(*v) * 10 + GetNative32(*v + 4), 22u);
  float64 cell;
  std::memcpy(&cell, *v + 8 + 3 * 8, sizeof cell);
  EXPECT_EQ(cell, 22.0);
}

// A fill that fails at any allocation leaves the clipboard empty (kind 0,
// no label) or whole (kind 4 with the text); a Cut Data that fails leaves
// the source's block where it was.
TEST_F(Clipboard, AFillFailingAnywhereLeavesNothingHalfMade) {
  auto objects = [&] {
    const int32 root = int32(GetNative32(*clip_ + OHWord(clip_, kOHExtension) + kHeapExtRoot));
    return ObjListCount(clip_, ObjWord(clip_, root, kRootObjectListWord));
  };
  bool failed = false, done = false;
  for (int32 n = 1; n < 200 && !done; ++n) {
    LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 3));
    (*text)->cnt = 3;
    std::memcpy((*text)->str, "abc", 3);
    MemFailNthAllocation(n);
    ImportClipboardText(text);
    MemFailNthAllocation(0);
    if (PanelClipboardKind() == 0) {
      failed = true;
      EXPECT_EQ(objects(), 0) << n;
      EXPECT_EQ(FPSelectionCount(clip_), 0) << n;
    } else {
      EXPECT_EQ(PanelClipboardKind(), kClipKindText) << n;
      EXPECT_EQ(Text(clip_, FPSelectedObject(clip_, 0)), "abc") << n;
      done = true;
    }
  }
  EXPECT_TRUE(failed && done);

  int32 array = 0;
  ArrayControl(tdb::I32(), 2, &array);
  failed = done = false;
  for (int32 n = 1; n < 400 && !done; ++n) {
    DSDisposeHandle(Value(panel_, array));
    Value(panel_, array) = Grid(3, 3);
    Select(array, {0, 1}, {3, 2});
    MemFailNthAllocation(n);
    const int32 reply = DataCommand(array, kPopupCutData);
    MemFailNthAllocation(0);
    DMDisposePending();
    if (reply & 0x10) {
      failed = true;
      EXPECT_EQ(PanelClipboardKind(), 0) << n;
      EXPECT_EQ(Cells(Value(panel_, array)), Cells(Grid(3, 3))) << n;
    } else {
      EXPECT_EQ(Cells(Value(panel_, array)), (std::vector<int32>{3, 2, 0, 2, 10, 12, 20, 22})) << n;
      done = true;
    }
  }
  EXPECT_TRUE(failed && done);
}

// Paste Data of a text: the object's whole text is replaced and committed,
// and the focus given back.
TEST_F(Clipboard, PasteDataOfTextReplacesTheWholeTextAndEndsTheFocus) {
  int32 str = 0;
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsString, &str, root_)), kNoErr);
  const int32 part = TextObj(kClsLabel, str, 11, "old text");
  LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 3));
  (*text)->cnt = 3;
  std::memcpy((*text)->str, "new", 3);
  ImportClipboardText(text);
  ASSERT_TRUE(PasteDataEnabled(panel_, str));
  EXPECT_EQ(PasteDataToObject(panel_, str), 1);
  EXPECT_EQ(Text(panel_, part), "new");
  EXPECT_EQ(Ext(kHeapExtKeyFocus), 0u);
  const UHandle value = Value(panel_, str);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*value + 4), GetNative32(*value)), "new");
}

// A control copied from a panel with a window: a picture of it goes onto
// the system clipboard, the copy keeps its place, and the clipboard's
// window opens hidden at its defaults before it is shown.
TEST_F(Clipboard, AnObjectCopyPublishesAPictureAndTheWindowShowsTheClipboard) {
  WPortState saved{};
  const WindowRef window = StartDrawingWindow(Rect{40, 40, 300, 400}, &saved);
  ASSERT_NE(window, kWNoWindow);
  Ext(kHeapExtWindow) = uInt32(window);
  int32 num = 0;
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsNumeric, &num, root_)), kNoErr);
  SetBounds(num, Rect{20, 30, 40, 60});
  FPSelectObject(panel_, num);
  PlatEmptyClipboard();
  EXPECT_EQ(DoDataOperation(panel_, 5) & 0x10, 0);
  EXPECT_EQ(PanelClipboardKind(), kClipKindObjects);
  EXPECT_TRUE(PlatIsClipboardFormatAvailable(kPlatClipMetafile));
  const int32 copy = FPSelectedObject(clip_, 0);
  Rect r;
  std::memcpy(&r, *clip_ + copy + kObjBounds, sizeof r);
  EXPECT_EQ(std::make_pair(r.top, r.left), std::make_pair(int16(20), int16(30)));
  ShowClipboardWindow();
  const WindowRef shown = WindowRef(GetNative32(*clip_ + OHWord(clip_, kOHExtension) + kHeapExtWindow));
  ASSERT_NE(shown, kWNoWindow);
  EXPECT_TRUE(WIsVisible(shown));
  Ext(kHeapExtWindow) = 0;
  ClearSelectionList(panel_);
  StopDrawingWindow(&saved);
}

// Copy Data of an array of password strings: the clipboard's copy holds
// every element emptied; the source keeps its texts.
TEST_F(Clipboard, CopiedPasswordTextsAreEmptiedInTheClipboard) {
  int32 array = 0;
  ArrayControl(tdb::String(), 1, &array, kClsString);
  const int32 element = W(array, kPWArrayElement);
  const int32 text = TextObj(kClsLabel, element, 11, "");
  TSetMode(PartTextRecord(panel_, text), TGetMode(PartTextRecord(panel_, text)) | kTRModePassword, 0);
  UHandle v = DSNewHClr(4 + 8);
  PutNative32(*v, 2);
  for (int32 i = 0; i < 2; ++i) {
    UHandle s = DSNewHandle(4 + 6);
    PutNative32(*s, 6);
    std::memcpy(*s + 4, "secret", 6);
    std::memcpy(*v + 4 + 4 * i, &s, 4);
  }
  DSDisposeHandle(Value(panel_, array));
  Value(panel_, array) = v;
  Select(array, {0}, {2});
  EXPECT_EQ(DataCommand(array, kPopupCopyData) & 0x10, 0);
  const int32 copy = ClipControl();
  ASSERT_NE(copy, 0);
  auto lengths = [](UHandle a) {
    std::vector<uInt32> out;
    for (uInt32 i = 0; i < GetNative32(*a); ++i) {
      UHandle s;
      std::memcpy(&s, *a + 4 + 4 * i, 4);
      out.push_back(s ? GetNative32(*s) : 0);
    }
    return out;
  };
  EXPECT_EQ(lengths(Value(clip_, copy)), (std::vector<uInt32>{0, 0}));
  EXPECT_EQ(lengths(Value(panel_, array)), (std::vector<uInt32>{6, 6}));
}

}  // namespace
