// Dialogs loaded, placed, run and ended: the events a filter sees, the
// modal loop without an operator, nested loops, the quit event, item
// descriptions, and the load progress dialog of the load methods.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/dlgservices.h"
#include "engine/dsalloc.h"
#include "panel/fppanel.h"
#include "dialog_blocks.h"
#include "engine/link/loadmethods.h"
#include "engine/viinst_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_alert.h"
#include "panel/dlghelpparts.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "shell/dialog.h"
#include "shell/dlghelp.h"
#include "shell/loaddialog.h"
#include "shell/prefdlg.h"
#include "shell/viinfo.h"
#include "mgsource/config.h"
#include "mgsource/config_test_file.h"
#include "mgsource/prefs.h"

using namespace qxvitest;

namespace {

constexpr int32 kThree = dlgwriter::kThreeButtonAlertId;

// A three-button dialog whose 'DHLP' holds two entries, and one whose
// second length runs past the resource.
rsrcw::Bytes Help(std::vector<std::string> texts, int32 overrun) {
  rsrcw::Bytes b;
  auto word = [&](uInt32 v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uChar(v >> s));
  };
  word(uInt32(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) {
    word(uInt32(texts[i].size()) + (i + 1 == texts.size() ? uInt32(overrun) : 0));
    b.insert(b.end(), texts[i].begin(), texts[i].end());
    while (b.size() % 4) b.push_back(0);
  }
  return b;
}
rsrcw::Writer WithHelp() {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  for (int32 id : {901, 902})
    w.Add(dlgwriter::kDLG2, id, dlgwriter::DialogBlock(dlgwriter::AlertDialog({"Yes", "No", "Cancel"})));
  w.Add(kDialogHelpType, 901, Help({"first", ""}, 0));
  w.Add(kDialogHelpType, 902, Help({"first", "second"}, 40));
  return w;
}

// Binds the item (0: none) to key-navigation slot 0.
void SetDefaultButton(DialogRef d, int32 item) {
  const int32 root = int32(GetNative32(*d + OHWord(d, kOHExtension) + kHeapExtRoot));
  const int32 nav = int32(OHWord(d, uInt32(root + kRootKeyNav)));
  ASSERT_NE(nav, 0);
  ObjListSet(d, nav, 0, item ? DlgItemDisplay(d, item) : 0);
}

struct RunSeen {
  std::vector<WEventRecord> events;
  int32 quitOn = 0;  // the event code on which the filter quits, with the item as code
} gRun;

// The dialog events among what the window gets.
bool DialogEvent(const WEventRecord* e) { return e->code >= kDlgEvItemChange && e->code <= kDlgEvQuit; }
int32 Recorder(const WEventRecord* e, DialogRef d, int32) {
  if (DialogEvent(e) || e->code == weKey || e->code == weKeyRepeat || e->code == kWEvClose) gRun.events.push_back(*e);
  if (e->code == gRun.quitOn) DlgQuit(d, e->code == kDlgEvCancel ? 36 : e->where);
  return 0;
}

class DialogRun : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    blocks_ = std::make_unique<RunTimeDialogBlocks>(WithHelp());
    gRun = RunSeen{};
    // Items keep their values in the dialog VI's data; the focus moves by
    // the heap extension's word alone (no transaction stack here).
    EnginePanelHooks panel = *GetEnginePanelHooks();
    panel.oAllocate = &OAllocate;
    panel.newPanelRoot = &FPNewPanelRoot;
    SetEnginePanelHooks(&panel);
    DlgPanelServices services = AppDialogServices();
    services.releaseKeyFocus = [](ObjHeap heap) -> MgErr {
      PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtKeyFocus, 0);
      return kNoErr;
    };
    services.setKeyFocus = [](ObjHeap heap, int32, int32 object, int32, int32) -> int32 {
      PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtKeyFocus, uInt32(object));
      return 1;
    };
    DlgSetPanelServices(services);
  }
  void TearDown() override {
    DlgSetPanelServices(DlgPanelServices{});
    SetEnginePanelHooks(nullptr);
    SetLoadMethodHooks(nullptr);
    blocks_.reset();
    VITest::TearDown();
  }
  DialogRef Load(int32 id = kThree, DlgFilterProc f = &Recorder) {
    return DlgLoad(RunTimeRsrcFile(), id, nullptr, 13, f, 0);
  }
  std::unique_ptr<RunTimeDialogBlocks> blocks_;
};

// Close and Escape are the cancel event for a dialog VI only; other keys
// reach the filter as they are.
TEST_F(DialogRun, CloseAndEscapeReachTheFilterAsTheCancelEvent) {
  const DialogRef d = Load();
  ASSERT_NE(d, nullptr);
  UHandle vi = PanelHeapOwner(d);
  struct Case {
    WEventCode code;
    int32 character;
    int16 kind;
    std::vector<WEventCode> seen;
  };
  const Case cases[] = {{kWEvClose, 0, 0, {kWEvClose, kDlgEvCancel}},
                        {weKey, 27, 0, {weKey, kDlgEvCancel}},
                        {weKeyRepeat, 27, 0, {weKeyRepeat, kDlgEvCancel}},
                        {weKey, 13, 0, {weKey}},
                        {kWEvClose, 0, 2, {kWEvClose}}};
  for (const Case& c : cases) {
    VIRec(vi)->viKind = c.kind;
    gRun.events.clear();
    WEventRecord e{};
    e.code = c.code;
    e.window = WindowRef(DlgWindow(d));
    e.character = c.character;
    e.where = 7;
    EXPECT_EQ(DlgFilterVIEvents(&e, d), 0) << c.code;
    ASSERT_EQ(gRun.events.size(), c.seen.size()) << c.code;
    for (size_t i = 0; i < c.seen.size(); ++i) EXPECT_EQ(gRun.events[i].code, c.seen[i]) << c.code;
    EXPECT_EQ(gRun.events.back().where, 7) << "word 2 unchanged";
  }
  VIRec(vi)->viKind = 0;
  // A plain Return is key code 2 to the filter and given back after.
  for (int32 mods : {0, 0x200}) {
    gRun.events.clear();
    WEventRecord e{};
    e.code = weKey;
    e.character = 10;
    e.modifiers = mods;
    DlgFilterKey(&e, d);
    EXPECT_EQ(gRun.events.at(0).keyCode, mods ? 0 : kDlgReturnKeyCode);
    EXPECT_EQ(gRun.events.at(0).character, mods ? 10 : 0);
    EXPECT_EQ(e.character, 10);
    EXPECT_EQ(e.keyCode, mods ? 0 : 27);
  }
  EXPECT_EQ(DlgUnload(d), kNoErr);
}

// Without an operator the default button comes once, then the cancel
// event; the loop ends on the filter's DlgQuit with its code.
TEST_F(DialogRun, TheLoopAnswersWithTheDefaultButtonThenCancelsAndEndsOnQuit) {
  struct Case {
    int32 slot0;  // the default button's item, 0 for none
    WEventCode quitOn;
    int32 result;
    std::vector<WEventCode> seen;
  };
  const Case cases[] = {{2, kDlgEvItemChange, 2, {kDlgEvItemChange, kDlgEvQuit}},
                        {2, kDlgEvCancel, 36, {kDlgEvItemChange, kDlgEvCancel, kDlgEvQuit}},
                        {0, kDlgEvCancel, 36, {kDlgEvCancel, kDlgEvQuit}},
                        {2, 999, 0, {kDlgEvItemChange, kDlgEvCancel}}};  // never quits: ended
  for (const Case& c : cases) {
    const DialogRef d = Load();
    ASSERT_NE(d, nullptr);
    SetDefaultButton(d, c.slot0);
    gRun = RunSeen{{}, c.quitOn};
    EXPECT_EQ(DlgBoxLoop(d), c.result) << c.quitOn;
    ASSERT_EQ(gRun.events.size(), c.seen.size()) << c.quitOn;
    for (size_t i = 0; i < c.seen.size(); ++i) EXPECT_EQ(gRun.events[i].code, c.seen[i]) << c.quitOn << " " << i;
    if (c.slot0) {
      EXPECT_EQ(gRun.events[0].where, c.slot0);
      EXPECT_EQ(gRun.events[0].globalWhere & kDlgResultCommitted, kDlgResultCommitted);
    }
    EXPECT_FALSE(WIsVisible(WindowRef(DlgWindow(d))));
    EXPECT_EQ(DlgUnload(d), kNoErr);
  }
}

// An inner loop run from the outer dialog's filter ends the outer one's
// loop only after its own; the outer one keeps its code and its focus.
DialogRef gOuter, gInner;
int32 OuterFilter(const WEventRecord* e, DialogRef, int32) {
  if (!DialogEvent(e)) return 0;
  gRun.events.push_back(*e);
  if (e->code != kDlgEvItemChange) return 0;
  EXPECT_EQ(DlgBoxLoop(gInner), 9);
  return 0;
}
int32 InnerFilter(const WEventRecord* e, DialogRef d, int32) {
  if (!DialogEvent(e)) return 0;
  gRun.events.push_back(*e);
  if (e->code == kDlgEvItemChange) {
    PutNative32(*gOuter + OHWord(gOuter, kOHExtension) + kHeapExtKeyFocus, 0);  // the inner window took the focus
    DlgQuit(gOuter, 5);
  }
  if (e->code == kDlgEvCancel) DlgQuit(d, 9);
  return 0;
}
TEST_F(DialogRun, NestedLoopsEndTheirOwnDialogAndRestoreTheOuterFocus) {
  gOuter = Load(kThree, &OuterFilter);
  gInner = Load(kThree, &InnerFilter);
  ASSERT_TRUE(gOuter && gInner);
  SetDefaultButton(gOuter, 1);
  SetDefaultButton(gInner, 1);
  DlgSetKbdFocus(gOuter, 3, 0, 0);
  EXPECT_EQ(DlgBoxLoop(gOuter), 5);
  const std::vector<WEventCode> seen = {kDlgEvItemChange, kDlgEvItemChange, kDlgEvQuit, kDlgEvCancel, kDlgEvQuit};
  ASSERT_EQ(gRun.events.size(), seen.size());
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(gRun.events[i].code, seen[i]) << i;
  EXPECT_EQ(gRun.events[2].window, WindowRef(DlgWindow(gOuter))) << "the outer quit, seen in the inner loop";
  EXPECT_EQ(DlgGetKbdFocus(gOuter), 3);
  EXPECT_EQ(DlgUnload(gInner), kNoErr);
  EXPECT_EQ(DlgUnload(gOuter), kNoErr);
}

// Descriptions: the items a 'DHLP' entry names get them; a resource that
// runs past its end gives none and the dialog still loads.
TEST_F(DialogRun, ItemDescriptionsComeFromTheHelpResource) {
  struct Case {
    int32 id;
    std::vector<std::string> want;  // per item, "" for none
  };
  const Case cases[] = {{901, {"first", "", "", ""}}, {902, {"", "", "", ""}}};
  for (const Case& c : cases) {
    const DialogRef d = Load(c.id);
    ASSERT_NE(d, nullptr) << c.id;
    ASSERT_EQ(DlgItemCount(d), int32(c.want.size()));
    for (int32 item = 1; item <= DlgItemCount(d); ++item) {
      const int32 entry = DItemToDCOId(d, item);
      const int32 shown = int32(OHWord(d, uInt32(entry + 20)));
      const int32 object = OHBlockClass(d, entry) == 18 ? shown : entry;
      UHandle h = reinterpret_cast<UHandle>(uintptr_t(OHWord(d, uInt32(object + 28))));
      const std::string got = h ? std::string(reinterpret_cast<char*>(*h + 4), GetNative32(*h)) : "";
      EXPECT_EQ(got, c.want[size_t(item - 1)]) << c.id << " item " << item;
      const int32 label = FindPart(d, object, 16, 0);  // a described item shows through its label
      if (item == DlgItemCount(d)) continue;           // the message has its text part only
      ASSERT_NE(label, 0);
      EXPECT_EQ(OHWord(d, uInt32(label + kObjCosmBack)) == kTransparentColor, !got.empty()) << item;
    }
    EXPECT_EQ(DlgUnload(d), kNoErr);
  }
}

// The default position: centred across the work area inside the frame, a
// third of the free height down; a given coordinate stays.
TEST_F(DialogRun, MovesPlaceTheWindowAtTheGivenOrDefaultPosition) {
  const DialogRef d = Load();
  ASSERT_NE(d, nullptr);
  const Rect size{0, 0, 60, 200};
  DlgSize(d, &size);
  Rect work, inset;
  WGetWorkAreaRect(Point{-32768, -32768}, &work);
  WGetShellRect(13, &inset);
  const int32 h = inset.left + (work.right - work.left - 200 - inset.left - inset.right) / 2 + work.left;
  const int32 v = inset.top + (work.bottom - work.top - 60 - inset.top - inset.bottom) / 3 + work.top;
  struct Case {
    int32 h, v, wantH, wantV;
  };
  for (const Case& c : {Case{30, 40, 30, 40}, Case{kDlgDefaultPos, 40, h, 40}, Case{30, kDlgDefaultPos, 30, v}}) {
    DlgMove(d, c.h, c.v);
    Rect at;
    WGetGlobalRect(WindowRef(DlgWindow(d)), &at);
    EXPECT_EQ(at.left, c.wantH);
    EXPECT_EQ(at.top, c.wantV);
    EXPECT_EQ(at.right - at.left, 200);
    EXPECT_EQ(at.bottom - at.top, 60);
  }
  EXPECT_EQ(DlgUnload(d), kNoErr);
  // A freed dialog, and the panel of a VI that is no dialog, are refused.
  DlgMove(d, 1, 2);
  EXPECT_EQ(DlgUnload(d), kArgErr);
  UHandle vi = NewVICore(2, reinterpret_cast<ConstPStr>("\x04" "A.vi"), -1);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(DlgUnload(VIRec(vi)->panelHeap), kArgErr);
  EXPECT_TRUE(IsVILoaded(vi)) << "the VI stays";
}

// The VI Info dialog, with nobody to answer: its OK button, committed for
// the operator (the commit in the change's result word, no action word),
// ends it with 1 before the cancel that would answer 0.
TEST_F(DialogRun, TheVIInfoDialogEndsOnItsCommittedOKButton) {
  UHandle vi = NewVICore(2, reinterpret_cast<ConstPStr>("\x04" "A.vi"), -1);
  ASSERT_NE(vi, nullptr);
  EXPECT_EQ(VIInfoDialog(vi, 1), 1);
}

// The load methods' progress dialog: presses reach their filter, an item
// gets its text, and the dialog goes with the load.
DialogRef gProgressDialog = nullptr;
TEST_F(DialogRun, TheLoadDialogPassesScriptedPressesToTheLoadMethods) {
  ShellInstallLoadDialogHooks();
  static LoadMethodHooks shell;
  shell = LoadHooks();
  LoadMethodHooks h = shell;
  h.dlgLoad = [](int32 id, int32 x, int32 y, LoadDlgFilterProc f, void* c) -> void* {
    gProgressDialog = static_cast<DialogRef>(shell.dlgLoad(id, x, y, f, c));
    return gProgressDialog;
  };
  SetLoadMethodHooks(&h);
  ASSERT_EQ(BeginLoadStatus(), 1);
  const uChar main[] = "\x07Main.vi", sub[] = "\x06Sub.vi";
  EXPECT_EQ(LinkHookCallFind(main, nullptr, kFindTypeVI), -1) << "the first report names the dialog";
  DlgScriptClicks({kProgItemIgnore});
  EXPECT_EQ(LinkHookCallSearch(sub, nullptr, kFindTypeVI), kFindGiveUp);
  ASSERT_TRUE(DlgIsLiveDialog(gProgressDialog));
  Rect at;
  WGetGlobalRect(WindowRef(DlgWindow(gProgressDialog)), &at);
  EXPECT_EQ(at.left, kLoadProgressDlgPos);
  EXPECT_EQ(at.top, kLoadProgressDlgPos);
  Str255 text{};
  EXPECT_EQ(DlgGetCtrlVal(gProgressDialog, kProgItemSearched, kDlgPStrValueType, text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]), "Sub.vi");
  EndLoadStatus(1);
  EXPECT_FALSE(DlgIsLiveDialog(gProgressDialog)) << "the dialog went";
}

}  // namespace

namespace {

int32_t gPlatformAnswer = 0;
int32_t PlatformAnswer(const char*, const char*, int32_t, int32_t) { return gPlatformAnswer; }

// Alerts run as dialogs: the operator's answer arrives as a press or the
// cancel event, the alert filter ends the dialog, and the dialog goes.
TEST_F(DialogRun, AlertsAnswerThroughTheirDialogsFilter) {
  struct Case {
    int32 buttons, defaultButton, answer, result;
  };
  const Case cases[] = {{2, 1, 0, 1},           {2, 2, 0, 0},  {2, 1, kPlatAnsCancel, 0}, {2, 2, kPlatAnsOK, 1},
                        {3, 1, kPlatAnsCancel, 3}, {3, 3, 0, 3}, {3, 1, kPlatAnsNo, 2}};
  auto heaps = [] {
    int32 n = 0;
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) ++n;
    return n;
  };
  const int32 before = heaps();
  for (const Case& c : cases) {
    gPlatformAnswer = c.answer;
    PlatSetAlertProc(c.answer ? &PlatformAnswer : nullptr);
    const int32 got = c.buttons == 2 ? TwoButtonAlert(53, "\x02hi", nullptr, nullptr, c.defaultButton, -32768, -32768)
                                     : ThreeButtonAlert(53, "\x02hi", nullptr, nullptr, nullptr, c.defaultButton,
                                                        -32768, -32768);
    EXPECT_EQ(got, c.result) << c.buttons << " " << c.defaultButton << " " << c.answer;
    EXPECT_EQ(heaps(), before) << "the alert's dialog went";
  }
  PlatSetAlertProc(nullptr);
}

}  // namespace

namespace {

// The alert layout on the alert dialogs, with a fixed-pitch test font (7
// pixels a character, 13 a line) and buttons 70 x 22: the message's text part
// and the window, then button 1's top-left.
TEST_F(DialogRun, AnAlertIsLaidOutAroundItsMessage) {
  const DlgPanelServices saved = DlgServices();
  DlgPanelServices services = saved;
  services.partFont = [](ObjHeap, int32) { return TNewFont(reinterpret_cast<ConstPStr>("\x10" "DejaVu Sans Mono"), 13, 0, 0); };
  DlgSetPanelServices(services);
  std::string lines;
  for (int32 i = 0; i < 200; ++i) lines += "line\n";
  const struct {
    const char* what;
    int32 id, buttons;
    std::string message;
    const char* want;
  } cases[] = {
      // W + 20 wide with the text centred; the lone button moves by (W + 20) / 4.
      {"short line", dlgwriter::kOneButtonAlertId, 1, "hi", "10,81,25,99 180x72 39,55"},
      // 1,995 pixels: rewrapped to 266, then to 272 wide (eight lines).
      {"2,000-pixel line", dlgwriter::kTwoButtonAlertId, 2, std::string(285, 'w'), "10,10,116,285 295x163 130,67"},
      // Clipped to the screen's 1,024 less 80 and the band of 22 + 35.
      {"200 lines", dlgwriter::kTwoButtonAlertId, 2, lines, "10,74,899,106 180x946 913,10"},
      {"no buttons", dlgwriter::kStatusDialogId, 0, "hi", "20,20,35,38 58x55"},
  };
  Rect screen;
  WGetScreenRect(Point{10, 10}, &screen);
  ASSERT_EQ(screen.bottom - screen.top, 1024);
  for (const auto& c : cases) {
    const DialogRef d = Load(c.id);
    ASSERT_NE(d, nullptr) << c.what;
    DlgFitAlertText(d, 52, c.message.c_str(), c.buttons);
    Rect text, at, button;
    OGetRect(d, FindPart(d, DlgItemDisplay(d, c.buttons + 1), 11, 0), &text, 0);
    WGetGlobalRect(WindowRef(DlgWindow(d)), &at);
    char got[80];
    std::snprintf(got, sizeof got, "%d,%d,%d,%d %dx%d", text.top, text.left, text.bottom, text.right,
                  at.right - at.left, at.bottom - at.top);
    std::string all = got;
    if (c.buttons) {
      DlgGetItemRect(d, 1, 0, &button);
      all += " " + std::to_string(button.top) + "," + std::to_string(button.left);
    }
    EXPECT_EQ(all, c.want) << c.what;
    EXPECT_EQ(DlgUnload(d), kNoErr);
  }
  DlgSetPanelServices(saved);
}

// The dialog of the run-time resources, run without an operator (its loop
// presses OK): the first opening with -1 shows "Paths"; after OK on
// "Colors" the next one shows "Colors".  A letter typed into a separator
// restores it, "." replaces it.
TEST_F(DialogRun, PreferencesRememberTheirPageAndSeparatorsTakePunctuation) {
  TestConfigFile::Use();
  CfgSetSectionName("Quenlix");
  std::ifstream in(TestConfigFile::Name(), std::ios::binary);
  const std::string kept((std::istreambuf_iterator<char>(in)), {});
  PrefResetState();
  EXPECT_EQ(PrefDialog(-1, nullptr), 1);
  EXPECT_EQ(PrefLastPage(), kPrefPaths);
  EXPECT_EQ(PrefDialog(kPrefColors, nullptr), 1);
  EXPECT_EQ(PrefDialog(-1, nullptr), 1);
  EXPECT_EQ(PrefLastPage(), kPrefColors);
  DialogRef d = DlgLoad(RunTimeRsrcFile(), dlgwriter::kPreferencesDialogId, nullptr, kAlertWindowKind,
                        reinterpret_cast<DlgFilterProc>(&PrefDialogFilter), 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(DlgItemCount(d), 140);
  PrefSet(kPrefDateSeparator, '/');
  PrefLoadValues(d);
  for (const auto& [typed, shown] : {std::pair{'a', '/'}, {'.', '.'}, {'7', '.'}}) {
    WEventRecord key{}, e{};
    key.character = typed;
    e.code = kDlgEvItemKey;
    e.where = 102;
    e.character = int32(uintptr_t(&key));
    EXPECT_EQ(PrefDialogFilter(&e, d, 0), 1);
    Str255 text{};
    EXPECT_EQ(DlgGetCtrlVal(d, 102, kDlgPStrValueType, text), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), std::string(1, shown)) << typed;
    // The separator is the live one only after OK: the next key compares with it.
    if (typed == '.') *static_cast<int32*>(PrefItemByKey("dateSeparator")->current) = '.';
  }
  DlgUnload(d);
  PrefResetToDefaults();
  PrefResetState();
  std::ofstream(TestConfigFile::Name(), std::ios::binary) << kept;
}

}  // namespace
