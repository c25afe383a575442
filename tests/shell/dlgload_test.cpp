// Dialogs built from the preloaded panel blocks of the run-time resource
// file: the records the shell keeps for them, their panels, and blocks that
// are missing or bad (no dialog).
#include <cstring>
#include <memory>

#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "dialog_blocks.h"
#include "engine/viinst_test_support.h"
#include "panel/oinit.h"
#include "shell/dialog.h"
#include "shell/dlgpanelload.h"

using namespace qxvitest;

namespace {

rsrcw::Writer WithBadBlock() {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  dlgwriter::Dialog bad = dlgwriter::StatusDialog();
  bad.items = {1};
  w.Add(dlgwriter::kDLG2, 901, dlgwriter::DialogBlock(bad));
  return w;
}

class DialogBoundary : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    blocks_ = std::make_unique<RunTimeDialogBlocks>(WithBadBlock());
  }
  void TearDown() override {
    blocks_.reset();
    VITest::TearDown();
  }
  static constexpr int32 kBadId = 901;
  std::unique_ptr<RunTimeDialogBlocks> blocks_;
};

TEST_F(DialogBoundary, TheRunTimeDialogsLoadWithTheirTitlesItemsAndNavigation) {
  struct Case {
    int32 id;
    dlgwriter::Dialog d;
  };
  const Case cases[] = {{dlgwriter::kLoadProgressDialogId, dlgwriter::LoadProgressDialog()},
                        {dlgwriter::kStatusDialogId, dlgwriter::StatusDialog()},
                        {dlgwriter::kOneButtonAlertId, dlgwriter::AlertDialog({"OK"})},
                        {dlgwriter::kTwoButtonAlertId, dlgwriter::AlertDialog({"OK", "Cancel"})},
                        {dlgwriter::kThreeButtonAlertId, dlgwriter::AlertDialog({"Yes", "No", "Cancel"})}};
  for (const Case& c : cases) {
    const DialogRef panel = DlgLoad(RunTimeRsrcFile(), c.id, nullptr, 13, nullptr, 0);
    ASSERT_NE(panel, nullptr) << c.id;
    const int32 ext = int32(OHWord(panel, kOHExtension));
    const WindowRef w = WindowRef(GetNative32(*panel + ext + kHeapExtWindow));
    // The window kind is the style word; the part flags mark a dialog.
    EXPECT_EQ(WGetStyle(w), 13u);
    EXPECT_EQ(GetNative16(*panel + ext + kHeapExtWindowStyle), 13);
    EXPECT_EQ(GetNative16(*panel + ext + kHeapExtWindowOptions), kDialogWindowPart);
    Str255 title;
    WGetTitle(w, title);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(title + 1), title[0]), c.d.title) << c.id;
    const int32 root = int32(GetNative32(*panel + ext + kHeapExtRoot));
    const int32 items = int32(OHWord(panel, uInt32(root + kRootItemList)));
    EXPECT_EQ(ObjListCount(panel, items), int32(c.d.items.size())) << c.id;
    const int32 nav = int32(OHWord(panel, uInt32(root + kRootKeyNav)));
    for (int32 s = 0; s < kKeyNavSlots; ++s) {
      const int32 n = c.d.keyNav ? c.d.nav[size_t(s)] : -1;
      const int32 want = n < 0 ? 0 : DlgItemDisplay(panel, n + 1);
      EXPECT_EQ(nav ? ObjListGet(panel, nav, s) : 0, want) << c.id << " slot " << s;
    }
    EXPECT_EQ(DlgUnload(panel), kNoErr);
  }
}

TEST_F(DialogBoundary, AMissingOrBadBlockGivesNoDialog) {
  const int32 heaps = [] {
    int32 n = 0;
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++n;
    return n;
  }();
  EXPECT_EQ(DlgLoad(RunTimeRsrcFile(), 4242, nullptr, 0, nullptr, 0), nullptr) << "no such block";
  EXPECT_EQ(DlgLoad(RunTimeRsrcFile(), kBadId, nullptr, 0, nullptr, 0), nullptr) << "an item past the objects";
  int32 after = 0;
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++after;
  EXPECT_EQ(after, heaps) << "nothing left behind";
}

TEST_F(DialogBoundary, ItemsMapToTheirObjectsBothWaysAndBadReferencesNameNone) {
  const DialogRef dlg = DlgLoad(RunTimeRsrcFile(), dlgwriter::kThreeButtonAlertId, nullptr, 13, nullptr, 0);
  ASSERT_NE(dlg, nullptr);
  const int32 ext = int32(OHWord(dlg, kOHExtension));
  const int32 root = int32(GetNative32(*dlg + ext + kHeapExtRoot));
  const int32 items = int32(OHWord(dlg, uInt32(root + kRootItemList)));
  const int32 zorder = int32(OHWord(dlg, uInt32(root + kRootObjectList)));
  const int32 n = DlgItemCount(dlg);
  ASSERT_EQ(n, int32(dlgwriter::AlertDialog({"Yes", "No", "Cancel"}).items.size()));
  for (int32 item = 1; item <= n; ++item) {
    const int32 object = DItemToDCOId(dlg, item);
    EXPECT_EQ(object, ObjListGet(dlg, items, item - 1)) << item;
    EXPECT_EQ(DCOIdToDItem(dlg, object), item);
    const DlgObjRef byIndex{root, FourCC("FPSC"), 3, item - 1};
    EXPECT_EQ(DlgObjRefToDItem(dlg, &byIndex), item);
  }
  for (int32 z = 0; z < ObjListCount(dlg, zorder); ++z) {  // the item showing each object, or none
    int32 want = 0;
    for (int32 item = 1; item <= n && !want; ++item)
      if (DlgItemDisplay(dlg, item) == ObjListGet(dlg, zorder, z)) want = item;
    const DlgObjRef byZ{root, FourCC("FPSC"), 1, z};
    EXPECT_EQ(ZPlaneIndexToDItem(dlg, z), want) << z;
    EXPECT_EQ(DlgObjRefToDItem(dlg, &byZ), want) << z;
  }
  PutNative32(*dlg + ext + kHeapExtKeyFocus, uInt32(DItemToDCOId(dlg, 2)));
  EXPECT_EQ(DlgGetKbdFocus(dlg), 2);
  DlgSetData(dlg, 77);
  EXPECT_EQ(DlgUserData(dlg), 77);

  // Items outside 1..count, other reference modes, objects that are no item,
  // and dialogs that are freed, foreign or null: reported, none named.
  ObjHeap freed = OHNewHeap(200, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ObjHeap foreign = OHNewHeap(200, FourCC("DTHP"), kHeapExtensionSize, kClsObjHeapHdrExtension);
  ASSERT_TRUE(freed && foreign);
  OHDisposeHeap(freed);
  struct Bad {
    DialogRef dialog;
    int32 item, mode, index;
    const char* what;
  };
  const Bad bad[] = {{dlg, 0, 3, n, "item 0, index past the items"},
                     {dlg, n + 1, 1, ObjListCount(dlg, zorder), "item past the count, z past the list"},
                     {dlg, -1, 2, 0, "negative item, mode 2"},
                     {freed, 1, 3, 0, "a freed heap"},
                     {foreign, 1, 3, 0, "a heap of another kind"},
                     {nullptr, 1, 1, 0, "no dialog"}};
  for (const Bad& b : bad) {
    EXPECT_EQ(DItemToDCOId(b.dialog, b.item), 0) << b.what;
    const DlgObjRef ref{0, FourCC("FPSC"), b.mode, b.index};
    EXPECT_EQ(DlgObjRefToDItem(b.dialog, &ref), 0) << b.what;
    if (b.dialog == dlg) continue;
    DlgSetData(b.dialog, 5);
    EXPECT_EQ(DlgUserData(b.dialog), 0) << b.what;
  }
  EXPECT_EQ(DCOIdToDItem(dlg, root), 0) << "the root is no item";
  EXPECT_EQ(DlgUserData(dlg), 77) << "unchanged";
  OHDisposeHeap(foreign);
  DlgUnload(dlg);
}

TEST_F(DialogBoundary, EachValueTypeConvertsThroughItsDescriptor) {
  struct Case {
    int32 type, code;  // the descriptor's code, -1: refused
  };
  const Case cases[] = {{0, -1},   {1, 1},     {14, 14},   {15, -1},  {16, -1},  {17, 1},     {30, 14},
                        {31, -1},  {33, StdTDTable[kStdTDBoolean]->code}, {48, 0x30}, {52, 0x30},
                        {53, 0x30}, {55, 0x37}, {54, -1},   {56, -1},  {-17, -1}, {0x10001, -1}};
  for (const Case& c : cases) {
    const TypeDescriptor* td = DlgValueTypeTD(c.type);
    EXPECT_EQ(td ? int32(td->code) : -1, c.code) << c.type;
    if (c.code >= 1 && c.code <= 14) {
      EXPECT_EQ(td, StdTDTable[c.code]) << c.type;
    }
  }
}

}  // namespace
