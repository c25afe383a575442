// A control's description edited in its dialog, the operator's typing
// scripted between loading and running it: what is stored, when the VI is
// marked modified and the help window refreshed, and the read-only look.
#include <memory>
#include <optional>
#include <string>

#include "app/dlgservices.h"
#include "dialog_blocks.h"
#include "engine/dsalloc.h"
#include "engine/viinst_test_support.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "panel/ctrlops.h"
#include "panel/fppanel.h"
#include "panel/objload.h"
#include "shell/descdialog.h"
#include "shell/dialog.h"
#include "shell/progmenu.h"

using namespace qxvitest;

namespace {

struct Script {
  std::optional<std::string> typed;  // none: the operator types nothing
  std::string title;
  bool cancelHidden = false, textIndicator = false;
  int32 helps = 0;
} gScript;

// The dialog as the shell runs it, with the operator's typing in between.
int32 Scripted(ConstPStr label, UHandle* description, Bool32 readOnly, Bool32 hint) {
  const DialogRef d = DescriptionDialogLoad(label, *description, readOnly, hint);
  if (!d) return 0;
  Str255 title;
  DlgGetCtrlVal(d, kDescItemTitle, kDlgPStrValueType, title);
  gScript.title.assign(reinterpret_cast<const char*>(title + 1), title[0]);
  gScript.cancelHidden = OHWord(d, uInt32(DlgItemDisplay(d, kDescItemCancel))) & kDlgItemHidden;
  gScript.textIndicator = OHWord(d, uInt32(DlgItemDisplay(d, kDescItemText))) & 1;
  if (gScript.typed) {
    Str255 text;
    text[0] = uChar(gScript.typed->size());
    std::memcpy(text + 1, gScript.typed->data(), gScript.typed->size());
    DlgSetCtrlVal(d, kDescItemText, kDlgPStrValueType, text);
  }
  return DescriptionDialogRun(d, readOnly ? 0 : 1, description);
}

class Description : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    blocks_ = std::make_unique<RunTimeDialogBlocks>();
    EnginePanelHooks panel = *GetEnginePanelHooks();
    panel.oAllocate = &OAllocate;
    SetEnginePanelHooks(&panel);
    DlgSetPanelServices(AppDialogServices());
    menus_ = ProgMenuHooksInUse();
    ProgMenuHooks m = menus_;
    m.setIndicator = [](ObjHeap heap, int32 object) { OSetIndicator(heap, object, 1); };
    SetProgMenuHooks(m);
    SetCtrlOpsShellHooks({&Scripted, nullptr, [](ObjHeap, int32) { ++gScript.helps; }});
  }
  void TearDown() override {
    SetProgMenuHooks(menus_);
    DlgSetPanelServices(DlgPanelServices{});
    SetEnginePanelHooks(nullptr);
    blocks_.reset();
    VITest::TearDown();
  }
  std::unique_ptr<RunTimeDialogBlocks> blocks_;
  ProgMenuHooks menus_{};
};

// Another dialog's "Yes" button stands for a control with its label.
TEST_F(Description, ConfirmedTextIsStoredOnceAndTheVIMarkedOnce) {
  const DialogRef panel = DlgLoad(RunTimeRsrcFile(), dlgwriter::kThreeButtonAlertId, nullptr, 13, nullptr, 0);
  ASSERT_NE(panel, nullptr);
  const UHandle vi = PanelHeapOwner(panel);
  const int32 button = DlgItemDisplay(panel, 1);
  ASSERT_NE(button, 0);
  struct Case {
    const char* name;
    const char* before;  // null: no description
    std::optional<std::string> typed;
    bool editable, noMarks;
    std::string after;
    int32 marks, empties;
  };
  const Case cases[] = {
      {"a new text", "old", "new", true, false, "new", 1, 0},
      {"emptied: dropped", "old", "", true, false, "<none>", 1, 1},
      {"nothing typed into none", nullptr, "", true, false, "<none>", 0, 0},
      {"the same text", "old", std::nullopt, true, false, "old", 0, 0},
      {"read-only", "old", "new", false, false, "old", 0, 0},
      {"the VI not to be marked", "old", "new", true, true, "old", 0, 0},
  };
  const auto description = [&]() { return reinterpret_cast<UHandle>(uintptr_t(OHWord(panel, uInt32(button + kObjDescription)))); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (UHandle old = description()) AZDisposeHandle(old);
    UHandle before = nullptr;
    if (c.before && (before = AZNewHandle(int32(4 + std::strlen(c.before))))) {
      PutNative32(*before, uInt32(std::strlen(c.before)));
      std::memcpy(*before + 4, c.before, std::strlen(c.before));
    }
    OHSetWord(panel, uInt32(button + kObjDescription), uInt32(uintptr_t(before)));
    VIRec(vi)->flags2 = c.editable ? kOwnerModeEditable : 0;
    VIRec(vi)->flags = c.noMarks ? kVIFlagNoDocMod : 0;
    gScript = Script{c.typed, {}};
    ClearReports();
    EditCtrlDescription(panel, button, 0);
    const UHandle after = description();
    EXPECT_EQ(after ? std::string(reinterpret_cast<char*>(*after + 4), GetNative32(*after)) : "<none>", c.after);
    EXPECT_EQ(qxtest::Reports::Get().Count("modMask 80002000"), c.marks);
    EXPECT_EQ(qxtest::Reports::Get().Count(" empty string no label saved "), c.empties);
    EXPECT_EQ(gScript.helps, c.marks) << "the help window follows a stored change";
    EXPECT_EQ(gScript.title, "Yes Description");
    EXPECT_EQ(gScript.cancelHidden && gScript.textIndicator, !c.editable);
  }
  if (UHandle last = description()) AZDisposeHandle(last);
  OHSetWord(panel, uInt32(button + kObjDescription), 0);
  EXPECT_EQ(DlgUnload(panel), kNoErr);
}

}  // namespace
