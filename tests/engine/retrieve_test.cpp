// A VI's window follows its options when placed (filled, centred, kept when
// maximised), its menu bar follows its kind and state, and retrieval mode
// drives the log through the run-time library's hooks.
#include <algorithm>

#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/shellsvc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/vifind.h"
#include "mgsource/path.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wport.h"
#include "viinst_test_support.h"

using namespace qxvitest;
using viinst::ExtHalf;
using viinst::ExtWord;
using viinst::SetExtHalf;

namespace {

// The stand-in log and VI window: what they were asked and what they answer.
struct Log {
  MgErr openErr = 0, chooseErr = 0;
  int failOpens = -1;  // how many opens fail with openErr (-1: every one)
  int32 count = 0, shown = 0;
  bool marked = false;
  int opens = 0, closes = 0, purges = 0, shows = 0, newMarks = 0, disposeMarks = 0, refreshed = 0;
  std::vector<std::string> alerts, questions;
  std::string field;
  int fieldsMade = 0, fieldsGone = 0, slots39 = 0;
  int32 yes = 1;
};
Log& L() {
  static Log l;
  return l;
}
std::string Text(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

void InstallLog() {
  RetrieveLogHooks h{};
  h.openLog = [](UHandle) -> MgErr {
    ++L().opens;
    if (L().failOpens == 0) return kNoErr;
    if (L().failOpens > 0) --L().failOpens;
    return L().openErr;
  };
  h.closeLog = [](UHandle) { ++L().closes; };
  h.recordCount = [](UHandle) { return L().count; };
  h.chooseLogFile = [](UHandle vi) -> MgErr {
    if (L().chooseErr) return L().chooseErr;
    DatalogBindingRec* b = reinterpret_cast<DatalogBindingRec*>(*VIRec(vi)->logRecord);
    Path p = nullptr;
    FTextToPath(reinterpret_cast<const uChar*>("C:\\new.log"), 10, &p);
    if (b->logPath) FDisposePath(b->logPath);
    b->logPath = p;
    return kNoErr;
  };
  h.refreshBinding = [](UHandle) { ++L().refreshed; };
  h.shownRecord = [](UHandle) { return L().shown; };
  h.newMarks = [](UHandle) -> MgErr { return ++L().newMarks, kNoErr; };
  h.disposeMarks = [](UHandle) { ++L().disposeMarks; };
  h.anyMarked = [](UHandle) -> Bool32 { return L().marked; };
  h.purge = [](UHandle) -> MgErr { return ++L().purges, kNoErr; };
  h.showRecord = [](UHandle) -> MgErr { return ++L().shows, kNoErr; };
  SetRetrieveLogHooks(&h);
  VIWindowHooks w{};
  // A tool bar of 22 pixels above the content when the parts ask for it.
  w.contentToWindow = [](int32 parts, const Rect* c, Rect* win) {
    *win = *c;
    if (parts & kWindowPartToolBar) win->top = int16(win->top - 22);
  };
  w.windowToContent = [](WindowRef, int32 parts, const Rect* win, Rect* c) {
    *c = *win;
    if (parts & kWindowPartToolBar) c->top = int16(c->top + 22);
  };
  w.menuBarRect = [](ObjHeap, Rect* r) { *r = Rect{-40, 0, -22, 100}; };
  w.toolBarRect = [](ObjHeap, Rect* r) { *r = Rect{-22, 0, 0, 100}; };
  w.createRecordField = [](UHandle, const Rect* at, ConstPStr text) {
    ++L().fieldsMade;
    L().field = Text(text) + "@" + std::to_string(at->left) + "," + std::to_string(at->top) + "," +
                std::to_string(at->right - at->left) + "x" + std::to_string(at->bottom - at->top);
  };
  w.setRecordField = [](UHandle, ConstPStr text) { L().field = Text(text); };
  w.disposeRecordField = [](UHandle) { ++L().fieldsGone; };
  w.drawToolbarSlot = [](UHandle, int32 image, int32) { L().slots39 += image == kRecordSlotImage; };
  SetVIWindowHooks(&w);
  SetOneButtonAlertProc([](int32, const void* m, ConstPStr, int32, int32) {
    L().alerts.push_back(Text(static_cast<ConstPStr>(m)));
    return 0;
  });
  VIFindShellHooks shell{};
  shell.twoButtonAlert = [](ConstPStr m, ConstPStr yes, ConstPStr no, int32 defaultButton) {
    L().questions.push_back(Text(m) + "|" + Text(yes) + "|" + Text(no) + "|" + std::to_string(defaultButton));
    return L().yes;
  };
  SetVIFindShellHooks(&shell);
}

class RetrieveTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    L() = Log{};
    InstallLog();
    SetWindowOptionMode(0);
    PlatRect work{};
    work.right = 800;
    work.bottom = 600;
    PlatSetWorkArea(work);
    vi_ = NewVICore(kVIKindDatalog, PS("logger"), -1);
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(OpenFrontPanel(vi_), 1);
    panel_ = VIRec(vi_)->panelHeap;
    w_ = viinst::PanelWindow(panel_);
    ASSERT_NE(w_, 0);
  }
  void TearDown() override {
    SetRetrieveLogHooks(nullptr);
    SetVIWindowHooks(nullptr);
    SetOneButtonAlertProc(nullptr);
    SetVIFindShellHooks(nullptr);
    WSetZoomedProc(nullptr);
    VITest::TearDown();
  }
  Rect Global() {
    Rect r;
    WGetGlobalRect(w_, &r);
    return r;
  }
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
  WindowRef w_ = 0;
};

std::string R(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}

TEST_F(RetrieveTest, PlacementFillsCentresOrKeepsTheWindow) {
  Rect m;
  WGetShellRect(kWindowOptions2Default, &m);
  // A running VI takes its own options.
  VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | 2;
  SetExtHalf(panel_, kHeapExtWindowStyle, kWindowOptions2Default);
  struct Case {
    uInt16 options;
    bool fill;
  };
  const Case cases[] = {{kWindowOptionCentred, false}, {kWindowOptionFill, true}};
  // The window opened around its content with the default parts (the tool
  // bar among them): placed once with the cases' parts, its size is theirs.
  VIRec(vi_)->windowOptions = kWindowOptionCentred;
  GetPanelWindowOptions(panel_, nullptr, nullptr);
  PlacePanelWindow(panel_);
  for (const Case& c : cases) {
    const Rect before = Global();
    const int32 w = before.right - before.left, h = before.bottom - before.top;
    const int32 left = m.left + (800 - w - m.left - m.right) / 2, top = m.top + (600 - h - m.top - m.bottom) / 2;
    const Rect want = c.fill ? Rect{m.top, m.left, int16(600 - m.bottom), int16(800 - m.right)}
                             : Rect{int16(top), int16(left), int16(top + h), int16(left + w)};
    VIRec(vi_)->windowOptions = c.options;
    GetPanelWindowOptions(panel_, nullptr, nullptr);
    UpdateVIMenuBar(panel_);  // settled: only the placement may redraw
    WValidate(w_);
    PlacePanelWindow(panel_);
    EXPECT_EQ(R(Global()), R(want)) << c.options;
    Point at;
    std::memcpy(&at, viinst::ExtAt(panel_, kHeapExtContentOrigin), sizeof at);
    EXPECT_EQ(at.v, want.top) << "the content's origin follows";
    EXPECT_EQ(WGetUpdateRect(w_, nullptr), c.fill) << "only a changed size is redrawn";
    EXPECT_EQ(WGetStyle(w_), uInt32(kWindowOptions2Default)) << "the host style follows the second word";
    if (c.fill) {
      // The tool bar taken in: the port's origin moves up by its height and
      // the content stays where it was on the screen.
      Rect clip;
      EXPECT_TRUE(WGetClipRect(w_, &clip));
      continue;
    }
    VIRec(vi_)->windowOptions = kWindowOptionCentred | kWindowPartToolBar;
    Point o0, o1;
    WGetOrigin(w_, &o0);
    PlacePanelWindow(panel_);
    WGetOrigin(w_, &o1);
    EXPECT_EQ(o1.v, o0.v - 22);
    EXPECT_EQ(Global().bottom - Global().top, h + 22);
  }
  // A maximised window keeps its place and size.
  WSetZoomedProc([](WindowRef) -> Bool32 { return 1; });
  WValidate(w_);
  const Rect g1 = Global();
  VIRec(vi_)->windowOptions = kWindowOptionCentred;
  PlacePanelWindow(panel_);
  EXPECT_EQ(R(Global()), R(g1));
  EXPECT_TRUE(WGetUpdateRect(w_, nullptr)) << "the whole window is redrawn";
}

TEST_F(RetrieveTest, TheMenuBarFollowsKindStateAndOptions) {
  struct Case {
    int16 kind;
    uInt32 state;
    uInt16 options;
    Bool32 rtm;
    uInt32 want;
  };
  const Case cases[] = {
      {kVIKindDialog, 1, 0, 0, kMenuBarDialog},       {kVIKindDatalog, 1, 0, 0, kMenuBarPanel},
      {kVIKindDatalog, 2, kWindowPartMenuBar, 0, kMenuBarPlain}, {kVIKindDatalog, 2, 0, 1, kMenuBarRunTime},
      {kVIKindDatalog, 1, 0, 1, kMenuBarPanel},       {kVIKindControl, 1, 0, 0, kMenuBarPlain},
  };
  static Bool32 rtm = 0;
  RunCmdHooks h = RunCmd();
  h.rtmHasVIMenuRef = [](UHandle) { return rtm; };
  SetRunCmdHooks(&h);
  WSetActiveWindow(w_);
  WSetOrigin(w_, Point{-40, 0});  // the menu bar lies inside the content
  for (const Case& c : cases) {
    rtm = c.rtm;
    VIRec(vi_)->viKind = c.kind;
    VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | c.state;
    SetExtHalf(panel_, kHeapExtWindowOptions, c.options);
    viinst::SetExtWord(panel_, kHeapExtMenuBar, 0);
    WValidate(w_);
    UpdateVIMenuBar(panel_);
    EXPECT_EQ(ExtWord(panel_, kHeapExtMenuBar), c.want) << c.kind << " " << c.state;
    Rect r;
    ASSERT_TRUE(WGetUpdateRect(w_, &r));
    EXPECT_EQ(R(r), "-40,0,-23,100") << "the menu bar less its bottom line";
    WValidate(w_);
    UpdateVIMenuBar(panel_);
    EXPECT_FALSE(WGetUpdateRect(w_, nullptr)) << "unchanged: not redrawn";
  }
  VIRec(vi_)->viKind = kVIKindDatalog;
  h.rtmHasVIMenuRef = nullptr;
  SetRunCmdHooks(&h);
}

TEST_F(RetrieveTest, EnteringNeedsAnOpenLogWithRecords) {
  struct Case {
    MgErr openErr;
    int32 count;
    const char* alert;  // "" for none
    bool on;
  };
  const Case cases[] = {
      {6, 3, "Cannot enter interactive retrieval mode.  An error occurred while trying to open the VI's log file.",
       false},
      {71, 3,
       "Cannot enter interactive retrieval mode.  The data in the VI's log file is incompatible with the VI's front "
       "panel.",
       false},
      {0, 0, "Cannot enter interactive retrieval mode.  The VI's log file has no records.", false},
      {0, 10, "", true},
  };
  for (const Case& c : cases) {
    L() = Log{};
    L().openErr = c.openErr;
    L().count = c.count;
    EnterRetrieveMode(vi_);
    EXPECT_EQ((VIRec(vi_)->flags2 & kVIFlags2RetrievalMode) != 0, c.on) << c.alert;
    EXPECT_EQ(L().alerts.empty() ? "" : L().alerts[0], std::string(c.alert));
    EXPECT_EQ(L().closes, c.openErr == 0 && !c.on ? 1 : 0) << "a log without records is closed";
    EXPECT_EQ(L().shows, c.on ? 1 : 0);
  }
  EXPECT_EQ(L().field, "0@96,4,32x15");
  EXPECT_EQ(L().newMarks, 1);
  EXPECT_EQ(ExtHalf(panel_, kHeapExtWindowOptions) & kWindowPartToolBar, kWindowPartToolBar);
  // Entering again does nothing.
  EnterRetrieveMode(vi_);
  EXPECT_EQ(L().opens, 1);
  // Record 99 of 10 shows record 9 in the field and on the panel.
  ShowLogRecord(vi_, 99);
  EXPECT_EQ(L().field, "9");
  EXPECT_EQ(L().slots39, 1);
  EXPECT_EQ(L().shows, 2);
  ShowLogRecord(vi_, -5);
  EXPECT_EQ(L().field, "0");
}

TEST_F(RetrieveTest, ExitingAsksAboutMarkedRecordsOnly) {
  struct Case {
    bool marked;
    int32 answer;
    int questions, purges;
  };
  const Case cases[] = {{false, 1, 0, 0}, {true, 0, 1, 0}, {true, 1, 1, 1}};
  for (const Case& c : cases) {
    L() = Log{};
    L().count = 4;
    EnterRetrieveMode(vi_);
    ASSERT_TRUE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode);
    L().marked = c.marked;
    L().yes = c.answer;
    ExitRetrieveMode(vi_);
    EXPECT_FALSE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode);
    ASSERT_EQ(int(L().questions.size()), c.questions);
    if (c.questions) {
      EXPECT_EQ(L().questions[0],
                "There are records in the VI's log file marked for deletion.  Do you wish to delete them?|Yes|No|2") << "No is the default";
    }
    EXPECT_EQ(L().purges, c.purges);
    EXPECT_EQ(L().closes, 1);
    EXPECT_EQ(L().disposeMarks, 1);
    EXPECT_EQ(L().fieldsGone, 1);
  }
  // Not in retrieval mode: nothing.
  ExitRetrieveMode(vi_);
  EXPECT_EQ(L().closes, 1);
}

TEST_F(RetrieveTest, ChangingTheLogPutsTheOldPathBackOnAnOpenError) {
  DatalogBindingRec* b = reinterpret_cast<DatalogBindingRec*>(*VIRec(vi_)->logRecord);
  Path old = nullptr;
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>("C:\\old.log"), 10, &old), kNoErr);
  if (b->logPath) FDisposePath(b->logPath);
  b->logPath = old;
  auto PathText = [&] {
    Str255 t = {0};
    FNamePtr(reinterpret_cast<DatalogBindingRec*>(*VIRec(vi_)->logRecord)->logPath, t);
    return Text(t);
  };
  // Outside retrieval mode the binding is refreshed.
  ChangeLogFile(vi_);
  EXPECT_NE(PathText().find("new.log"), std::string::npos);
  EXPECT_EQ(L().refreshed, 1);
  // In retrieval mode, a new log that does not open: the alert, the old path
  // back, the old log reopened with new marks.
  old = nullptr;
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>("C:\\old.log"), 10, &old), kNoErr);
  FPathCpy(b->logPath, old);
  FDisposePath(old);
  L().count = 5;
  EnterRetrieveMode(vi_);
  L().openErr = 7;
  L().failOpens = 1;
  L().shown = 3;
  L().alerts.clear();
  ChangeLogFile(vi_);
  ASSERT_EQ(L().alerts.size(), 1u);
  EXPECT_EQ(L().alerts[0], "Error changing VI's log file to selected log file.");
  EXPECT_NE(PathText().find("old.log"), std::string::npos) << PathText();
  EXPECT_TRUE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode) << "the old log is open again";
  // Opening well: the noted record is shown again; a log without records
  // ends retrieval mode.
  L().openErr = 0;
  L().field.clear();
  ChangeLogFile(vi_);
  EXPECT_EQ(L().field, "3");
  L().count = 0;
  L().alerts.clear();
  ChangeLogFile(vi_);
  EXPECT_FALSE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode);
  ASSERT_EQ(L().alerts.size(), 1u);
  EXPECT_EQ(L().alerts[0], "Exiting interactive retrieval mode.  The VI's log file has no records.");
  // Neither the new nor the old log opens: retrieval mode ends.
  L().count = 5;
  EnterRetrieveMode(vi_);
  ASSERT_TRUE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode);
  L().openErr = 7;
  L().failOpens = 2;
  const int closes = L().closes;
  ChangeLogFile(vi_);
  EXPECT_FALSE(VIRec(vi_)->flags2 & kVIFlags2RetrievalMode);
  EXPECT_EQ(L().closes, closes + 2) << "the new log closed, then the mode's end";
  // A cancelled choice changes nothing.
  L().chooseErr = kCancelErr;
  const int opens = L().opens;
  ChangeLogFile(vi_);
  EXPECT_EQ(L().opens, opens);
}

TEST_F(RetrieveTest, TheEndOfATopLevelRunPlacesTheWindowWhereItsOptionsMayChange) {
  static std::vector<UHandle> placed;
  const RunCmdHooks saved = RunCmd();
  RunCmdHooks h = saved;
  h.placePanelWindow = [](UHandle vi) { placed.push_back(vi); };
  SetRunCmdHooks(&h);
  struct Case {
    const char* what;
    uInt32 flags, flags2;
    uInt16 reservations;
    bool placed;
  };
  const Case cases[] = {
      {"nothing asks", 0, 0, 0, false},
      {"flags2 0x800000", 0, 0x800000, 0, true},
      {"the root flag 0x2000", kVIFlagRoot, 0, 0, true},
      {"still reserved", 0, 0, 1, true},
      {"the owner mode 0x80000 wins", kVIFlagRoot, 0x800000 | 0x80000, 1, false},
      {"a read-only file without the readOnlyLock key", 0, 0, 0, false},
  };
  const uInt32 flags = VIRec(vi_)->flags, flags2 = VIRec(vi_)->flags2;
  for (const Case& c : cases) {
    placed.clear();
    VIRec(vi_)->flags = flags | c.flags;
    VIRec(vi_)->flags2 = flags2 | c.flags2;
    VIRec(vi_)->reservations = c.reservations;
    VIRec(vi_)->marks |= kVIMarkReadOnly;
    VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | 2;
    SetVIIdle(vi_, nullptr);
    EXPECT_EQ(std::count(placed.begin(), placed.end(), vi_), c.placed ? 1 : 0) << c.what;
    EXPECT_EQ(std::count(placed.begin(), placed.end(), nullptr), 1) << c.what << ": the sweep";
  }
  // Without a window nothing is placed.
  viinst::ClosePanelWindow(vi_);
  placed.clear();
  VIRec(vi_)->flags2 = flags2 | 0x800000;
  VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | 2;
  SetVIIdle(vi_, nullptr);
  EXPECT_EQ(std::count(placed.begin(), placed.end(), vi_), 0);
  VIRec(vi_)->flags = flags;
  VIRec(vi_)->flags2 = flags2;
  VIRec(vi_)->reservations = 0;
  SetRunCmdHooks(&saved);
}

TEST_F(RetrieveTest, TogglesFlipTheFlagsAndReportTheChange) {
  ASSERT_EQ(NewMinimalDataSpace(vi_), kNoErr);
  DataSpace ds = viinst::AsDS(VIRec(vi_)->dataSpace);
  ASSERT_NE(ds, nullptr);
  const uInt16 ds0 = (*ds)->dsFlags;
  const uInt32 f0 = VIRec(vi_)->flags2;
  qxtest::Reports::Get().Clear();
  ToggleLogAtCompletion(vi_);
  TogglePrintAtCompletion(vi_);
  EXPECT_EQ(VIRec(vi_)->flags2 ^ f0, kVIFlags2LogAtCompletion | kVIFlags2PrintAtCompletion);
  EXPECT_EQ((*ds)->dsFlags ^ ds0, kDSFlagLogAtCompletion | kDSFlagPrintAtCompletion);
  ToggleLogAtCompletion(vi_);
  TogglePrintAtCompletion(vi_);
  EXPECT_EQ(VIRec(vi_)->flags2, f0);
  EXPECT_EQ((*ds)->dsFlags, ds0);
  EXPECT_EQ(qxtest::Reports::Get().Count("modMask 10000100"), 4);
  // The root VI's changes are not reported.
  VIRec(vi_)->flags |= kVIFlagRoot;
  ToggleLogAtCompletion(vi_);
  EXPECT_EQ(qxtest::Reports::Get().Count("modMask 10000100"), 4);
}

}  // namespace
