// Dialog item values, states and listboxes on a dialog built from a DLG2
// block in a dialog VI, with the object system's services and a window
// whose handler records the dialog events.
#include <cstring>
#include <string>
#include <vector>

#include "app/dlgservices.h"
#include "engine/dsalloc.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/dlgpanel.h"
#include "engine/engine_test_support.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "mgsource/memory.h"
#include "panel/oinit.h"
#include "rtlib/panellocators.h"
#include "shell/help.h"
#include "tools/dlgwriter.h"
#include "shell/extshell.h"

// Declared in engine/vi/viinst.h, whose hooks' names clash with a type
// another shell test uses in the same unity batch.
QX_EXTERN_C ObjHeap NewDialogVIHeap();
QX_EXTERN_C void DisposeVI(UHandle vi, Bool32 unlink);

namespace {

std::vector<WEventRecord> gDlgEvents;
WEventRecord gKeySeen{};  // the key event as the filter saw it
int32 RecordDlgEvent(WEventRecord* e, uInt32) {
  gDlgEvents.push_back(*e);
  if (e->code == kDlgEvItemKey) std::memcpy(&gKeySeen, reinterpret_cast<void*>(uintptr_t(uInt32(e->character))), 40);
  return 0;
}

// The focus moves by the heap extension's word alone.
void SetFocusWord(ObjHeap heap, int32 object) {
  PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtKeyFocus, uInt32(object));
}
MgErr ReleaseFocus(ObjHeap heap) {
  SetFocusWord(heap, 0);
  return kNoErr;
}
int32 TakeFocus(ObjHeap heap, int32, int32 object, int32, int32) {
  SetFocusWord(heap, object);
  return 1;
}

class DialogItems : public qxtest::EngineTest {
 protected:
  enum : int32 { kText = 1, kNumber = 2, kList = 3, kButton = 4 };
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    EnginePanelHooks h{};
    h.oAllocate = &OAllocate;
    h.newPanelRoot = &FPNewPanelRoot;
    SetEnginePanelHooks(&h);
    PanelInstallDialogHooks();
    DlgPanelServices services = AppDialogServices();
    services.releaseKeyFocus = &ReleaseFocus;
    services.setKeyFocus = &TakeFocus;
    DlgSetPanelServices(services);
    using namespace dlgwriter;
    Dialog d;
    d.title = "Items";
    const Rect r{10, 10, 26, 200};
    ObjectRecord number{"Numeric", {{kRsrcDDOD, DisplayTemplate(0, 0, {})}, {kRsrcSNUM, NumericTemplate(3, 0)}}};
    ObjectRecord list{"Listbox",
                      {{kRsrcDDOD, DisplayTemplate(0, 0, {})},
                       {kRsrcSLBX, ListboxTemplate(0xFFFFFFFF, 0)},
                       {kRsrcLabl, LabelTemplate(0, r, "")}}};
    d.objects = {StringItem("Name", r), number, list, ButtonItem("OK", {60, 10, 82, 80})};
    d.items = {0, 1, 2, 3};
    d.nav[0] = 3;
    const rsrcw::Bytes bytes = DialogBlock(d);
    UHandle block = AZNewHandle(int32(bytes.size()));
    ASSERT_NE(block, nullptr);
    std::memcpy(*block, bytes.data(), bytes.size());
    dlg_ = NewDialogVIHeap();
    ASSERT_NE(dlg_, nullptr);
    vi_ = PanelHeapOwner(dlg_);
    ASSERT_EQ(LoadDlgPanel(dlg_, block), 0);
    AZDisposeHandle(block);
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0, nullptr, &RecordDlgEvent, &place, 0, 0, uInt32(uintptr_t(dlg_)));
    const int32 ext = int32(OHWord(dlg_, kOHExtension));
    PutNative32(*dlg_ + ext + kHeapExtWindow, uInt32(window_));
    PutNative32(*dlg_ + ext + kHeapExtDialogFilter, uInt32(uintptr_t(&DlgDefaultProc)));
    gDlgEvents.clear();
  }
  void TearDown() override {
    DlgSetPanelServices(DlgPanelServices{});
    SetDlgPanelHooks(nullptr);
    if (window_) WDestroy(window_);
    if (vi_) DisposeVI(vi_, 0);
    SetEnginePanelHooks(nullptr);
    EngineTest::TearDown();
  }
  uInt32 Flags(int32 item) { return OHWord(dlg_, uInt32(DlgItemDisplay(dlg_, item))); }
  // The listbox's data and the flag word of one of its entries.
  UPtr ListData() { return FPHeapDataPtr(dlg_, int32(OHWord(dlg_, uInt32(DlgItemDisplay(dlg_, kList) + 40)))); }
  uInt32 EntryFlags(int32 i) {
    UHandle entries = reinterpret_cast<UHandle>(uintptr_t(GetNative32(ListData() + 4)));
    return GetNative32(*entries + 4 + 12 * i);
  }

  ObjHeap dlg_ = nullptr;
  UHandle vi_ = nullptr;
  WindowRef window_ = kWNoWindow;
};

// Values set and read through the types, the grey states and where the
// focus goes, and calls with a bad dialog, item, type or slot.
TEST_F(DialogItems, ValuesStatesAndBadCallsChangeOnlyWhatTheyMay) {
  int32 v = 42;
  ASSERT_EQ(DlgSetCtrlVal(dlg_, kNumber, 3 + 16, &v), 0) << "bit 16 of the type ignored";
  double d = 0;
  EXPECT_EQ(DlgGetCtrlVal(dlg_, kNumber, 10, &d), 0);
  EXPECT_EQ(d, 42.0);
  const std::string longText(300, 'x');
  ASSERT_EQ(DlgSetCtrlVal(dlg_, kText, kDlgCStrValue, longText.c_str()), 0);
  uChar p[256] = {};
  EXPECT_EQ(DlgGetCtrlVal(dlg_, kText, kDlgPStrValueType, p), 0);
  EXPECT_EQ(p[0], 255) << "cut to a Pascal string";
  std::vector<char> c(301, 'y');
  EXPECT_EQ(DlgGetCtrlVal(dlg_, kText, kDlgCStrValue, c.data()), 0);
  EXPECT_EQ(std::string(c.data()), longText);
  EXPECT_EQ(DlgSetCtrlVal(dlg_, kText, 3, &v), kDlgValueFailed) << "a number is no text";
  EXPECT_EQ(DlgGetCtrlVal(dlg_, kText, kDlgPStrValueType, p), 0);
  EXPECT_EQ(p[0], 255) << "the item unchanged";

  // Grey states: other values change nothing; greying the focus item sends
  // the focus to item 1.
  SetFocusWord(dlg_, DlgItemDisplay(dlg_, kNumber));
  struct Gray {
    int32 state, answer;
    uInt32 flags;
  };
  const Gray grays[] = {{3, 0, 0}, {-1, 0, 0}, {2, 0, 0x280}, {1, 2, 0x200}, {2, 1, 0x280}, {0, 2, 0}};
  for (const Gray& g : grays) {
    EXPECT_EQ(DlgGrayControl(dlg_, kNumber, g.state), g.answer) << g.state;
    EXPECT_EQ(Flags(kNumber) & 0x280, g.flags) << g.state;
  }
  EXPECT_EQ(DlgGetKbdFocus(dlg_), 1) << "the focus left the greyed item";

  // Bad calls: reported, and nothing changes.
  ObjHeap freed = OHNewHeap(200, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ASSERT_NE(freed, nullptr);
  OHDisposeHeap(freed);
  struct Bad {
    ObjHeap dialog;
    int32 item, type;
    const char* what;
  };
  const Bad bad[] = {{dlg_, 0, 3, "item 0"},         {dlg_, 5, 3, "item past the count"},
                     {freed, kNumber, 3, "a freed heap"}, {dlg_, kNumber, kDlgCStrValue, "a C string on a number"},
                     {dlg_, kNumber, 15, "type 15"},   {dlg_, kNumber, 0, "type 0"}};
  const uInt32 flagsBefore = Flags(kNumber);
  for (const Bad& b : bad) {
    ClearReports();
    int32 w = 7;
    EXPECT_EQ(DlgSetCtrlVal(b.dialog, b.item, b.type, &w), kDlgValueFailed) << b.what;
    EXPECT_EQ(DlgGetCtrlVal(b.dialog, b.item, b.type, &w), kDlgValueFailed) << b.what;
    EXPECT_EQ(w, 7) << b.what;
    if (b.dialog != dlg_ || b.item != kNumber) {
      DlgGrayControl(b.dialog, b.item, 2);
      DlgHideControl(b.dialog, b.item);
    }
    EXPECT_FALSE(ReportText().empty()) << b.what;
  }
  ClearReports();
  DlgSetKeyNavItem(dlg_, kNumber, 55);
  EXPECT_EQ(DlgKeyNavItem(dlg_, 55, nullptr), 0);
  EXPECT_FALSE(ReportText().empty()) << "slot 55";
  EXPECT_EQ(Flags(kNumber), flagsBefore);
  EXPECT_EQ(DlgGetCtrlVal(dlg_, kNumber, 10, &d), 0);
  EXPECT_EQ(d, 42.0);
  EXPECT_EQ(DlgKeyNavItem(dlg_, 0, nullptr), kButton) << "the default button stays";
}

// Listbox entries: inserting out of range appends, enabling and disabling,
// reading a text pins the index, and the double-clicked entry commits the
// change event and clears once read.
// Controls are found by their label's text; an object without a label has
// no label text.
TEST_F(DialogItems, ControlsAreFoundByTheirLabels) {
  const auto label = [](const char* text) {
    static std::vector<uChar> b;
    b.assign(4 + std::strlen(text), 0);
    const int32 n = int32(std::strlen(text));
    std::memcpy(b.data(), &n, 4);
    std::memcpy(b.data() + 4, text, size_t(n));
    return reinterpret_cast<const LStr*>(b.data());
  };
  EXPECT_EQ(FindCtlByLabel(dlg_, label("Name")), DItemToDCOId(dlg_, kText));
  EXPECT_EQ(FindCtlByLabel(dlg_, label("OK")), DItemToDCOId(dlg_, kButton));
  EXPECT_EQ(FindCtlByLabel(dlg_, label("Nam")), 0);
  EXPECT_EQ(ObjGetLabelText(dlg_, DlgItemDisplay(dlg_, kNumber)), nullptr);
}

TEST_F(DialogItems, ListboxEntriesAndTheDoubleClick) {
  const struct {
    int32 index;
    const char* text;
  } inserts[] = {{0, "\x01" "b"}, {-1, "\x01" "c"}, {0, "\x01" "a"}, {9, "\x01" "d"}};
  for (const auto& in : inserts)
    ASSERT_EQ(DlgInsertListItem(dlg_, kList, in.index, reinterpret_cast<ConstPStr>(in.text), 7), 0);
  ASSERT_EQ(DlgGetListItemCount(dlg_, kList), 4);
  const char* const order[] = {"\x01" "a", "\x01" "b", "\x01" "c", "\x01" "d"};
  for (int32 i = 0; i < 4; ++i)
    EXPECT_EQ(DlgFindListItem(dlg_, kList, reinterpret_cast<ConstPStr>(order[i])), i);
  struct Text {
    int32 index, answer;
    char text;
  };
  for (const Text& t : {Text{-3, 0, 'a'}, Text{2, 1, 'c'}, Text{4, 0, 'd'}}) {
    LStrHandle h = nullptr;
    EXPECT_EQ(DlgGetListItemText(dlg_, kList, t.index, &h), t.answer) << t.index;
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(char((*h)->str[0]), t.text) << t.index;
  }
  DlgSetSelectedListItem(dlg_, kList, 1, 0);
  int32 selected = -1;
  EXPECT_EQ(DlgGetSelectedListItem(dlg_, kList, &selected, nullptr), 1);
  EXPECT_EQ(selected, 1);
  DlgEnableListItem(dlg_, kList, 1, 0);
  EXPECT_EQ(EntryFlags(1) & 0x7, 0x5u) << "disabled, not selected";
  EXPECT_EQ(DlgGetSelectedListItem(dlg_, kList, &selected, nullptr), 0) << "a disabled entry";
  DlgEnableListItem(dlg_, kList, 1, 1);
  EXPECT_EQ(EntryFlags(1) & 0x7, 0u);
  // The listbox's own operations: a separator's glyph makes an entry no
  // selectable separator, and a scrolled selection brings its entry into
  // view (two rows shown: entry 3 puts the top row at 2).
  DlgSetListItemGlyph(dlg_, kList, 2, -1);
  DlgEnableListItem(dlg_, kList, 2, 1);
  EXPECT_EQ(EntryFlags(2) & 0x17, 0x14u) << "a separator";
  const int16 rows = 2;
  std::memcpy(*dlg_ + DlgItemDisplay(dlg_, kList) + 58, &rows, 2);
  DlgSetSelectedListItem(dlg_, kList, 3, 1);
  EXPECT_EQ(int16(GetNative16(ListData())), 2) << "the top row";

  // The panel reports a double-click without the committed bit.
  PutNative16(ListData() + 2, 2);
  DlgItemChangeToFilter(dlg_, DlgItemDisplay(dlg_, kList), 0x10000, 5, nullptr);
  ASSERT_EQ(gDlgEvents.size(), 1u);
  EXPECT_EQ(gDlgEvents[0].code, kDlgEvItemChange);
  EXPECT_EQ(gDlgEvents[0].where, kList);
  EXPECT_EQ(gDlgEvents[0].globalWhere, 0x10000 | kDlgResultCommitted);
  int32 clicked = -1;
  EXPECT_EQ(DlgGetDoubleClickListItem(dlg_, kList, &clicked), 1);
  EXPECT_EQ(clicked, 2);
  EXPECT_EQ(DlgGetDoubleClickListItem(dlg_, kList, &clicked), 0) << "cleared once read";
  DlgItemChangeToFilter(dlg_, DlgItemDisplay(dlg_, kList), 0x10000, 5, nullptr);
  EXPECT_EQ(gDlgEvents.back().globalWhere, 0x10000);
  EXPECT_EQ(DlgDeleteList(dlg_, kList), 0);
  EXPECT_EQ(DlgGetListItemCount(dlg_, kList), 0);
}

// Return without modifiers reaches the filter as key code 2 and is
// restored after; a description is a format for the ring's texts only when
// it asks for one text.
TEST_F(DialogItems, ReturnReachesTheFilterAsCodeTwoAndDescriptionsFormatOneText) {
  struct KeyCase {
    int32 modifiers, seenCode, seenChar, afterCode, afterChar;
  };
  for (const KeyCase& k : {KeyCase{0, 2, 0, 27, 10}, KeyCase{0x200, 13, 10, 13, 10}}) {
    int32 block[16] = {};
    WEventRecord key{};
    key.code = weKey;
    key.modifiers = k.modifiers;
    key.character = 10;
    key.keyCode = 13;
    std::memcpy(block + 3, &key, sizeof key);
    DlgItemKeyToFilter(dlg_, DlgItemDisplay(dlg_, kText), nullptr, block);
    EXPECT_EQ(gKeySeen.keyCode, k.seenCode) << k.modifiers;
    EXPECT_EQ(gKeySeen.character, k.seenChar) << k.modifiers;
    std::memcpy(&key, block + 3, sizeof key);
    EXPECT_EQ(key.keyCode, k.afterCode) << k.modifiers;
    EXPECT_EQ(key.character, k.afterChar) << k.modifiers;
  }
  const int32 ring = DlgItemDisplay(dlg_, kNumber);
  struct Format {
    const char* description;
    MgErr err;
    const char* after;
  };
  for (const Format& f : {Format{"Pick %s: 100%%", kNoErr, "Pick : 100%"}, Format{"%s%s", kArgErr, "%s%s"},
                          Format{"%d", kArgErr, "%d"}}) {
    const int32 n = int32(std::strlen(f.description));
    UHandle h = AZNewHandle(4 + n);
    ASSERT_NE(h, nullptr);
    PutNative32(*h, uInt32(n));
    std::memcpy(*h + 4, f.description, size_t(n));
    UHandle was = reinterpret_cast<UHandle>(uintptr_t(OHWord(dlg_, uInt32(ring + 28))));
    OHSetWord(dlg_, uInt32(ring + 28), uInt32(uintptr_t(h)));
    if (was) AZDisposeHandle(was);
    EXPECT_EQ(DlgSetRingHelpText(dlg_, kNumber, ", "), f.err) << f.description;
    UHandle now = reinterpret_cast<UHandle>(uintptr_t(OHWord(dlg_, uInt32(ring + 28))));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(*now + 4), GetNative32(*now)), f.after) << f.description;
  }
}

// Resting on a dialog's item with the help window hidden sends the dialog
// the item-help event for the item; with the window shown the object's help
// is asked for instead, and the same target again asks nothing more.
int32 gHelpAsked = 0;
TEST_F(DialogItems, ATipOnAnItemSendsItemHelpOrAsksForItsDescription) {
  const int32 number = DlgItemDisplay(dlg_, kNumber);
  HelpSetTipTarget(dlg_, number, 1);
  HelpShowPending();
  ASSERT_EQ(gDlgEvents.size(), 1u);
  EXPECT_EQ(gDlgEvents[0].code, kDlgEvItemHelp);
  EXPECT_EQ(gDlgEvents[0].globalWhere, kNumber);
  HelpObjectServices s{};
  s.sendHelp = [](ObjHeap, int32, int32) { return ++gHelpAsked; };
  HelpSetObjectServices(s);
  HelpWindowOpen(0);  // the armed target's help is asked for at once
  EXPECT_EQ(gHelpAsked, 1);
  EXPECT_EQ(HelpStateNow().help.object, 0) << "no picture came: the former target back";
  HelpSetTipTarget(dlg_, number, 2);
  s.sendHelp = [](ObjHeap, int32, int32) {
    HelpSetImage(0);
    return ++gHelpAsked;
  };
  HelpSetObjectServices(s);
  HelpShowPending();
  EXPECT_EQ(HelpStateNow().help.object, number);
  HelpSetTipTarget(dlg_, number, 2);
  HelpShowPending();
  EXPECT_EQ(gHelpAsked, 2);
  EXPECT_EQ(gDlgEvents.size(), 1u);
  HelpSetObjectServices(HelpObjectServices{});
  HelpReset();
}

}  // namespace
