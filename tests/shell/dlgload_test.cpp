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
#include "shell/dlgpanelload.h"
#include "shell/runshell.h"

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
    void* dlg = DlgLoad(RunTimeRsrcFile(), c.id, 13, 0, nullptr, nullptr);
    ASSERT_NE(dlg, nullptr) << c.id;
    ObjHeap panel = DlgPanelHeap(dlg);
    ASSERT_NE(panel, nullptr);
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
      const int32 want = n < 0 ? 0 : ObjListGet(panel, items, n);
      EXPECT_EQ(nav ? ObjListGet(panel, nav, s) : 0, want) << c.id << " slot " << s;
    }
    DlgUnload(dlg);
  }
}

TEST_F(DialogBoundary, AMissingOrBadBlockGivesNoDialog) {
  const int32 before = DlgLiveCount();
  const int32 heaps = [] {
    int32 n = 0;
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++n;
    return n;
  }();
  EXPECT_EQ(DlgLoad(RunTimeRsrcFile(), 4242, 0, 0, nullptr, nullptr), nullptr) << "no such block";
  EXPECT_EQ(DlgLoad(RunTimeRsrcFile(), kBadId, 0, 0, nullptr, nullptr), nullptr) << "an item past the objects";
  EXPECT_EQ(DlgLiveCount(), before);
  int32 after = 0;
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++after;
  EXPECT_EQ(after, heaps) << "nothing left behind";
}

TEST_F(DialogBoundary, DialogRecordsAddressItemsByNumberAndRefuseForeignOnes) {
  const int32 before = DlgLiveCount();
  void* d = DlgLoad(0, kResettingDialogId, 0, 0, nullptr, nullptr);
  ASSERT_NE(d, nullptr);
  DlgSetCtrlVal(d, kResettingTextItem, kDlgPStrValue, "\x0eResetting VI: ");
  DlgSetCtrlVal(d, 9, 1, "\x01x");  // not a Pascal-string value
  DlgMove(d, kDlgOffScreen, kDlgOffScreen);
  DlgShow(d, 1);
  EXPECT_EQ(DlgBoxStep(d), 0);
  int32 id = 0, h = 0, v = 0, shown = 0;
  ASSERT_TRUE(DlgInfo(d, &id, &h, &v, &shown));
  EXPECT_EQ(id, kResettingDialogId);
  EXPECT_EQ(h, kDlgOffScreen);
  EXPECT_EQ(v, kDlgOffScreen);
  EXPECT_EQ(shown, 1);
  std::string text;
  ASSERT_TRUE(DlgItemText(d, kResettingTextItem, &text));
  EXPECT_EQ(text, "Resetting VI: ");
  EXPECT_FALSE(DlgItemText(d, 9, &text));
  DlgUnload(d);
  EXPECT_EQ(DlgLiveCount(), before);
  EXPECT_FALSE(DlgInfo(d, &id, nullptr, nullptr, nullptr)) << "unloaded";
  // A freed or foreign record is refused (reported, nothing written).
  int foreign = 0;
  DlgMove(&foreign, 1, 2);
  DlgUnload(&foreign);
  DlgMove(d, 1, 2);
  EXPECT_EQ(foreign, 0);
  EXPECT_EQ(DlgLiveCount(), before);
}

}  // namespace
