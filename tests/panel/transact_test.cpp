// Transactions and the key focus: the stack's bounds, the roads of a panel
// event, pop-up and colour actions, labels shifting the saved focus, and keys
// reaching the focus object; the root's click and do-it are recording
// methods installed into its class's slots.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "draw_start.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"

namespace {

using namespace ptest;

int32* Words(void* record) { return static_cast<int32*>(record); }

struct Sent {
  int32 action;
  void* frame;
  std::vector<int32> words;
};
std::vector<Sent> gSent;
std::function<int32(int32 action, void* frame, int32* words)> gDoit;
int32 gClickAnswer = 1;
int32 gClickMode = -1;
int32 gBeeps = 0;
size_t gCopyWords = 16;  // a key-action block's length; action records are longer

int32 RecDoit(ObjHeap, int32, void* frame, int32 action, void* arg) {
  int32* w = static_cast<int32*>(arg);
  gSent.push_back({action, frame, w ? std::vector<int32>(w, w + gCopyWords) : std::vector<int32>{}});
  return gDoit ? gDoit(action, frame, w) : 0;
}
std::function<void(ActionParams*)> gOnClick;  // what the click writes into the record
int32 RecClick(ObjHeap, int32 root, void* state, void* top, void* record) {
  gClickMode = static_cast<TransactionState*>(state)->mode;
  TRPutFrame(top, root, kCatFPSC, 2, 0);
  if (gOnClick) gOnClick(static_cast<ActionParams*>(record));
  return gClickAnswer;
}

class Transact : public PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    if (!TRStackBlock()) TRInit();
    std::memset(TRStackBlock(), 0, kTransactionStackBytes);
    TRSetStackTop(nullptr);
    root_rec_ = const_cast<ObjClassRecord*>(ClassRecord(kClsFrontPanel));
    saved_[0] = root_rec_->methods[kMsgOClick];
    saved_[1] = root_rec_->methods[kMsgODoit];
    root_rec_->methods[kMsgOClick] = reinterpret_cast<ObjMethodAddr>(&RecClick);
    root_rec_->methods[kMsgODoit] = reinterpret_cast<ObjMethodAddr>(&RecDoit);
    gSent.clear();
    gDoit = nullptr;
    gOnClick = nullptr;
    gCopyWords = 16;
    gClickAnswer = 1;
    gBeeps = 0;
    beep_ = PlatSetBeepProc([] { ++gBeeps; });
    PanelDisplayCallCounts() = {};
    ClearReports();
  }
  void TearDown() override {
    if (root_rec_) {
      root_rec_->methods[kMsgOClick] = saved_[0];
      root_rec_->methods[kMsgODoit] = saved_[1];
    }
    if (UHandle saved = reinterpret_cast<UHandle>(uintptr_t(Ext(kHeapExtSavedFrames)))) AZDisposeHandle(saved);
    SetExt(kHeapExtSavedFrames, 0);
    SetPanelShellHooks({});
    PlatSetBeepProc(beep_);
    TRSetStackTop(nullptr);
    PanelRootTest::TearDown();
  }
  int32 Ext(int32 at) { return int32(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + at)); }
  void SetExt(int32 at, int32 v) { PutNative32(*panel_ + OHWord(panel_, kOHExtension) + at, uInt32(v)); }
  static TransactionFrame* Base() { return reinterpret_cast<TransactionFrame*>(TRStackBlock()); }
  // A path of n frames at frame `at` of the block, ended after it.
  static void LayPath(int32 at, int32 n) {
    for (int32 i = 0; i < n; ++i) Base()[at + i] = {i + 1, kCatDDO, 2, i};
    Base()[at + n].kind = 0;
  }
  WEventRecord Event(int32 code, int32 keyCode = 0, int32 character = 0, int32 modifiers = 0) {
    WEventRecord e{};
    e.code = WEventCode(code);
    e.where = 0x00140010;
    e.keyCode = WKeyCode(keyCode);
    e.character = character;
    e.modifiers = WModifiers(modifiers);
    return e;
  }
  ObjClassRecord* root_rec_ = nullptr;
  ObjMethodAddr saved_[2] = {};
  PlatBeepProc beep_ = nullptr;
};

// ---- The stack -----------------------------------------------------------------------------
TEST_F(Transact, PathsThatWouldPassTheStackAreRefused) {
  // The last path ends at frame 240: a new one would start at byte 3856.
  LayPath(0, 240);
  TRSetStackTop(Base());
  EXPECT_EQ(TRSendAction(panel_, nullptr, 21, nullptr), 16);
  EXPECT_EQ(TRStackTop(), Base()) << "the top is left as it was";
  EXPECT_TRUE(gSent.empty());
  EXPECT_EQ(Asserts(), 1);
  // 300 nested clusters: the path to the innermost would pass the block's
  // end; the writer refuses it and nothing past the block is written.
  int32 owner = root_;
  for (int32 i = 0; i < 300; ++i) owner = Obj(kClsCluster, owner);
  TRSetStackTop(Base());
  ClearReports();
  EXPECT_EQ(GetObjAttrRec(panel_, owner, nullptr, nullptr), 0);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(TRWriteFrames(Base() + 249, Base(), 2), 0) << "the last frame holds one frame only";
  EXPECT_EQ(TRWriteFrames(reinterpret_cast<uChar*>(Base()) + 8, Base(), 1), 0) << "off a frame boundary";
}

// Paths through nested clusters: the path to each one starts with the path to
// its owner's owner chain, however deep (the walk keeps a few steps and
// takes a longer chain another way); a path that does not fit before the
// block's end is written up to the frame that fails, reported once.
TEST_F(Transact, PathsOfAnyDepthShareTheirOwnersSteps) {
  std::vector<int32> chain;
  for (int32 owner = root_; chain.size() < 40;) chain.push_back(owner = Obj(kClsCluster, owner));
  TRSetStackTop(Base());
  ASSERT_EQ(GetObjAttrRec(panel_, chain.back(), nullptr, nullptr), 1);
  const std::vector<TransactionFrame> deepest(Base(), Base() + 41);
  EXPECT_EQ(Base()[41].kind, 0u);
  for (size_t k : {0, 1, 14, 15, 16, 17, 30, 39}) {
    SCOPED_TRACE(k);
    ASSERT_EQ(GetObjAttrRec(panel_, chain[k], nullptr, nullptr), 1);
    for (size_t i = 0; i <= k; ++i) {
      EXPECT_EQ(Base()[i].object, deepest[i].object) << i;
      EXPECT_EQ(Base()[i].kind, deepest[i].kind) << i;
      EXPECT_EQ(Base()[i].mode, deepest[i].mode) << i;
      EXPECT_EQ(Base()[i].index, deepest[i].index) << i;
    }
    EXPECT_EQ(Base()[k + 1].object, chain[k]);
    EXPECT_EQ(Base()[k + 1].mode, 2);
    EXPECT_EQ(Base()[k + 2].kind, 0u);
  }
  struct Case {
    int32 top, depth, written;
  } cases[] = {{243, 4, 6}, {244, 4, 5}, {246, 20, 3}, {249, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.top);
    LayPath(c.top - 1, 250 - c.top);  // frames to be overwritten, up to the block's end
    TRSetStackTop(Base() + c.top);
    ClearReports();
    const bool fits = c.written == c.depth + 2;
    EXPECT_EQ(GetObjAttrRec(panel_, chain[c.depth], nullptr, nullptr), fits ? 1 : 0);
    EXPECT_EQ(Asserts(), fits ? 0 : 1);
    for (int32 i = 0; i < c.written; ++i) EXPECT_EQ(Base()[c.top + i].object, deepest[i].object) << i;
    if (c.top + c.written < 250) {
      EXPECT_EQ(Base()[c.top + c.written].kind, 0u);
    }
    EXPECT_EQ(Base()[c.top - 1].object, 1) << "nothing before the top is written";
  }
}

// ---- Events and actions ---------------------------------------------------------------------
TEST_F(Transact, PanelEventsTakeTheirRoads) {
  const int32 focus = Obj(kClsNumeric, root_);
  // The wheel amount is the character word read as single precision,
  // truncated; NaN and values past the int32 range are not converted.
  auto bits = [](float f) {
    int32 b;
    std::memcpy(&b, &f, 4);
    return b;
  };
  struct Case {
    int32 code, character, click;
    uInt16 windowParts;
    int32 mode, scrolls;
    bool focusKept;
    int32 word3;  // for the wheel
  } cases[] = {
      {wePopupClick, 0, 3, kWindowPartNoPopups, kTRModeTracking, 0, true, 0},  // a dialog: tracking
      {kWEvWheel, bits(2.75f), 1, 0, kTRModeWheel, 1, true, 2},               // untaken wheel scrolls
      {kWEvWheel, bits(-3e9f), 1, 0, kTRModeWheel, 1, true, INT32_MIN},
      {kWEvWheel, bits(3e9f), 1, 0, kTRModeWheel, 1, true, INT32_MAX},
      {kWEvWheel, bits(std::nanf("")), 1, 0, kTRModeWheel, 1, true, 0},
      {weMouseMove, 0, 3, 0, kTRModeTracking, 0, true, 0},
  };
  int32 word3 = 0;
  gOnClick = [&](ActionParams* r) { word3 = reinterpret_cast<int32*>(r)[3]; };
  for (const Case& c : cases) {
    PutNative16(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindowOptions, c.windowParts);
    SetExt(kHeapExtKeyFocus, focus);
    gClickAnswer = c.click;
    PanelDisplayCallCounts() = {};
    WEventRecord e = Event(c.code, 0, c.character);
    TRPanelEvent(&e, panel_);
    EXPECT_EQ(gClickMode, c.mode) << c.code;
    if (c.code == kWEvWheel) { EXPECT_EQ(word3, c.word3) << c.character; }
    EXPECT_EQ(PanelDisplayCallCounts().wheelScrolls, c.scrolls) << c.code;
    EXPECT_EQ(Ext(kHeapExtKeyFocus) == focus, c.focusKept) << c.code;
    EXPECT_TRUE(gSent.empty()) << "no release sent";
    EXPECT_EQ(TRStackTop(), nullptr);
    EXPECT_EQ(TRState()->mode, 0) << "the state is put back";
  }
  gOnClick = nullptr;
  EXPECT_EQ(Asserts(), 0);
  SetExt(kHeapExtKeyFocus, 0);
  // Action 50 sends nothing; a nested action without the nesting flag asserts.
  EXPECT_EQ(TRSendAction(panel_, nullptr, kActNone, nullptr), 0);
  EXPECT_TRUE(gSent.empty());
  static int32 depth = 0;
  gDoit = [&](int32, void*, int32*) {
    if (depth) return 0;
    ++depth;
    const int32 inner = TRSendAction(panel_, nullptr, 21, nullptr);
    --depth;
    return inner | 0x480;
  };
  EXPECT_EQ(TRSendAction(panel_, nullptr, 21, nullptr), 0x480);
  EXPECT_EQ(Asserts(), 1) << "the nested action";
  EXPECT_FALSE(VIRec(vi_)->flags & kVIFlagInTransaction);
  EXPECT_EQ(VISetTransactionNesting(vi_), 1);
  EXPECT_EQ(Asserts(), 2) << "set outside a transaction";
  gSent.clear();
  EXPECT_EQ(TRSendAction(panel_, nullptr, 21, nullptr), 0x480);
  EXPECT_EQ(Asserts(), 2);
  EXPECT_EQ(VIClearTransactionNesting(vi_), 1);
  EXPECT_EQ(VIClearTransactionNesting(vi_), 0);
}

TEST_F(Transact, VIActionsWithoutAHeap) {
  PanelShellHooks h{};
  h.importVIStrings = [](UHandle, Path, uInt8 alerts, Path) -> MgErr { return alerts ? 7 : 0; };
  h.viInfoDialog = [](UHandle, int32 flag) { return flag + 100; };
  SetPanelShellHooks(h);
  struct {
    int32 action, word4, answer, word3, word6, asserts;
  } cases[] = {{kActImportStrings, 1, 16, 0, 7, 0}, {kActImportStrings, 0, 0, 0, 0, 0}, {kActVIInfo, 5, 0, 105, -1, 0},
               {kActNothing, 0, 0, 0, -1, 0}, {55, 0, 16, 0, -1, 1}};
  for (const auto& c : cases) {
    int32 w[20] = {};
    w[4] = c.word4;
    w[6] = -1;
    ClearReports();
    EXPECT_EQ(TRSendVIAction(vi_, c.action, w), c.answer) << c.action;
    EXPECT_EQ(w[3], c.word3) << c.action;
    EXPECT_EQ(w[6], c.word6) << c.action;
    EXPECT_EQ(Asserts(), c.asserts) << c.action;
  }
}

// ---- Pop-up and colour ------------------------------------------------------------------------
TEST_F(Transact, AnEmptyPopUpBeepsAndColourPicksApplyTheCurrentPair) {
  static MenuHandle menu = nullptr;
  const uChar title[] = {1, 'P'};
  ASSERT_EQ(MNewMenu(&menu, 72, title), kNoErr);
  PanelShellHooks h{};
  h.standardMenu = [](int32) { return menu; };
  SetPanelShellHooks(h);
  gClickAnswer = 4;
  WEventRecord e = Event(wePopupClick);
  TRPanelEvent(&e, panel_);
  EXPECT_EQ(gBeeps, 1);
  EXPECT_TRUE(gSent.empty());
  MDisposeMenu(menu);
  // Colour picks: the current pair applied as action 6 with 0x50000, or
  // nothing when the object (its pair in words 4 and 5) has it already.
  SetPanelCurrentColours(0x102030, 0xFFFFFF);
  gClickAnswer = 6;
  for (int32 fg : {0x102030, 0x000000}) {
    gOnClick = [fg](ActionParams* r) { Words(r)[4] = fg, Words(r)[5] = 0xFFFFFF; };
    gSent.clear();
    WEventRecord down = Event(weMouseDown);
    TRPanelEvent(&down, panel_);
    ASSERT_EQ(gSent.size(), fg == 0x102030 ? 0u : 1u);
    if (gSent.empty()) continue;
    EXPECT_EQ(gSent[0].action, kActColour);
    EXPECT_EQ(gSent[0].words[3] & 0x50000, 0x50000);
    EXPECT_EQ(gSent[0].words[4], 0x102030);
  }
}

// A choice in a real pop-up (Down, Down, Return: item 2) is looked up, the
// tracked menus released, and sent as action 4: menu words cleared, kind 1
// -> 3, the character cleared, the tracked word negated; 0x480 marks the
// bounds stale, bit 0 sends action 15.
TEST_F(Transact, APopUpChoiceIsSentNegatedAndOperatesOnBitZero) {
  static MenuHandle menu = nullptr;
  static std::vector<int32> calls;  // 1 find, 2 release, 3 bounds
  calls.clear();
  WPortState port{};
  ASSERT_NE(StartMenuWindow(Rect{40, 40, 200, 300}, &port), kWNoWindow);
  const uChar title[] = {1, 'P'}, a[] = {1, 'a'}, b[] = {1, 'b'};
  ASSERT_EQ(MNewLMenu(&menu, title, 72), kNoErr);
  MInsertLItem(menu, a, nullptr, 0, nullptr, 0, -1, 1), MInsertLItem(menu, b, nullptr, 0, nullptr, 0, -1, 2);
  PanelShellHooks h{};
  h.standardMenu = [](int32 id) { return id == 72 ? menu : nullptr; };
  h.menuFindTracked = [](int32* owner, int32* id, int32* item) {
    calls.push_back(*id == 72 && *item == 2 ? 1 : -1);
    return *owner = 0x55, *item = 9, 1;
  };
  h.menuReleaseTracked = [] { calls.push_back(2); };
  h.panelInvalBounds = [](ObjHeap) { calls.push_back(3); };
  SetPanelShellHooks(h);
  WMainLoopHooks loop{};
  static Rect shown{};
  shown = {};
  loop.background = [](Bool32) {
    if (!(*menu)->window || shown.bottom) return 0;
    WGetGlobalRect((*menu)->window, &shown);
    PlatInjectMouseMove(0, 0, PlatTickMs());
    for (uInt32 vk : {kPlatVkDown, kPlatVkDown, kPlatVkReturn})
      PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs());
    return 0;
  };
  WSetMainLoopHooks(loop);
  gClickAnswer = 4;
  gOnClick = [](ActionParams* r) { r->character = 'x'; };
  gDoit = [](int32 action, void*, int32*) { return action == kActMenuChoice ? 0x481 : 0; };
  WEventRecord e = Event(wePopupClick);
  TRPanelEvent(&e, panel_);
  WResetMainLoopHooks();
  Point at{16, 20};  // the event's point in the window
  WLocalToGlobal(WCurrentPort(), &at);
  MDisposeMenu(menu);
  WRestore(&port);
  WDestroyAllWindows(), DDisposeDraw(), TXFinishFonts(), PlatWindowsReset();
  EXPECT_LE(std::abs(shown.top - at.v) + std::abs(shown.left - at.h), 2) << "opened beside the mouse point";
  ASSERT_EQ(gSent.size(), 2u);
  EXPECT_EQ(gSent[0].action, kActMenuChoice);
  const std::vector<int32> w = gSent[0].words;
  EXPECT_EQ(std::vector<int32>(w.begin() + 4, w.begin() + 12), (std::vector<int32>{0, 0, 0, -0x55, 0, 72, 9, 3}));
  EXPECT_EQ(gSent[1].action, kActKeyOrText);
  EXPECT_EQ(calls, (std::vector<int32>{2, 1, 2, 3})) << "released before the click, found, released, bounds";
}

// Text tracking: the object asks to go on, the track ends (code 5) and the
// answer loses bit 0; every change reaches the dialog filter.
TEST_F(Transact, TextTrackingStopsWhenTheTrackEnds) {
  static int32 field = 0, changes = 0;
  static TRecord text = nullptr;
  field = Obj(kClsString, root_);
  changes = 0;
  const Rect view{0, 0, 20, 100};
  text = TNew(&view, kTRKindLines | 0x400, reinterpret_cast<const uChar*>("hello"), 5, kAppFont, 0, 0xFFFFFF);
  ASSERT_NE(text, nullptr);
  gClickAnswer = 15;
  gOnClick = [](ActionParams* r) { r->focusObject = field, r->text = reinterpret_cast<UHandle>(text); };
  PanelShellHooks h{};
  h.dlgSendItemChange = [](ObjHeap, int32 object, int32, int32 action, void*) { changes += object == field && action == 15; };
  SetPanelShellHooks(h);
  gDoit = [](int32, void*, int32* w) { return w[19] |= kActionTracking, 1; };
  WEventRecord down = Event(weMouseDown);
  down.where = 0x00050005;
  EXPECT_EQ(TRPanelEvent(&down, panel_) & 1, 0);
  EXPECT_EQ(gSent.size(), 1u);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(gSent[0].words[3], int32(weMouseDown));
  TDispose(text);
}

// ---- Labels ------------------------------------------------------------------------------------
TEST_F(Transact, ANewLabelShiftsTheSavedFocusAndTakesTheText) {
  struct {
    int32 savedIndex, expected;
  } cases[] = {{2, 3}, {3, 4}, {1, 1}};
  gCopyWords = 20;
  for (const auto& c : cases) {
    // The focus was saved at {root, index}; the label goes in at index 2.
    UHandle saved = AZNewHandle(3 * 16);
    auto* s = reinterpret_cast<TransactionFrame*>(*saved);
    s[0] = {root_, kCatFPSC, 2, c.savedIndex};
    s[1] = {77, kCatDDO, 2, 0};
    s[2] = {0, 0, 0, 0};
    SetExt(kHeapExtSavedFrames, int32(uintptr_t(saved)));
    SetExt(kHeapExtKeyFocus, 77);
    gSent.clear();
    gDoit = [&](int32 action, void* frame, int32*) -> int32 {
      if (action != kActCreate) return 0;
      static_cast<TransactionFrame*>(frame)->index = 2;
      TRPutFrame(static_cast<TransactionFrame*>(frame) + 1, 99, kCatCOSM, 2, 0);
      return 1;
    };
    UHandle text = AZNewHandle(4 + 3);
    PutNative32(*text, 3);
    std::memcpy(*text + 4, "abc", 3);
    EXPECT_EQ(TRPlaceLabel(panel_, text, 0x00050006), 0);
    EXPECT_EQ(reinterpret_cast<TransactionFrame*>(*saved)[0].index, c.expected) << c.savedIndex;
    ASSERT_EQ(gSent.size(), 2u);
    const auto* creation = reinterpret_cast<const uChar*>(gSent[0].words.data());
    EXPECT_EQ(gSent[0].words[3], int32(kCatCOSM));
    EXPECT_EQ(std::memcmp(creation + 24, "\005Label", 6), 0);
    EXPECT_EQ(GetNative16(creation + 20), 128u);
    // The text typed into the label: a key-down of code 32 over all of it.
    EXPECT_EQ(gSent[1].action, kActKeyOrText);
    EXPECT_EQ(gSent[1].words[3], int32(weKey));
    EXPECT_EQ(gSent[1].words[9], 32);
    EXPECT_EQ(gSent[1].words[15], 0x7FFFFFFF);
    EXPECT_NE(gSent[1].words[16], 0);
    AZDisposeHandle(saved);
    SetExt(kHeapExtSavedFrames, 0);
  }
  SetExt(kHeapExtKeyFocus, 0);
}

// ---- Keys --------------------------------------------------------------------------------------
TEST_F(Transact, KeysWithoutAFocusStartFromTheFirstOrLastObject) {
  const int32 selectable = Obj(kClsNumeric, root_);
  struct {
    int32 keyCode, character, modifiers;
    bool selected;
    int32 object, sends, beeps;
  } cases[] = {
      {vkAscii, 9, 0, false, 0, 1, 0},                   // Tab: from the start
      {vkAscii, 9, kWModShift, false, 0x7FFFFFFF, 1, 0},  // Shift+Tab: from the end
      {vkAscii, 9, 0, true, -1, 1, 0},                    // with a selection
      {vkDelete, 0, 0, true, 0, 0, 1},                    // Delete on a selection nobody binds
  };
  for (const auto& c : cases) {
    FPEmptySelection(panel_);
    if (c.selected) {
      ASSERT_EQ(FPSelectObject(panel_, selectable), kNoErr);
    }
    gSent.clear();
    gBeeps = 0;
    WEventRecord e = Event(weKey, c.keyCode, c.character, c.modifiers);
    FPHandleKey(&e, panel_);
    ASSERT_EQ(int32(gSent.size()), c.sends) << c.keyCode;
    EXPECT_EQ(gBeeps, c.beeps);
    if (!c.sends) continue;
    EXPECT_EQ(gSent[0].action, kActKeyOrText);
    EXPECT_EQ(gSent[0].words[13], c.object);
    EXPECT_EQ(gSent[0].words[15], 0x7FFFFFFF);
    EXPECT_EQ(gSent[0].words[9], c.modifiers ? kKeyShiftTab : kKeyTab);
  }
}

TEST_F(Transact, TheFocusKeepsReleasesAndRedrawsTheDefaultButton) {
  static int32 button = 0;
  button = Obj(kClsBoolean, root_);
  const int32 boolean = Obj(kClsBoolean, root_);
  const int32 text1 = Obj(kClsNumeric, root_), text2 = Obj(kClsNumeric, root_);
  PanelShellHooks h{};
  h.dlgGetKeyNavItem = [](ObjHeap, int32 slot, int32* object) -> int32 {
    *object = slot == 0 ? button : 0;
    return *object ? 1 : 0;
  };
  SetPanelShellHooks(h);
  // Moving the focus: a release (key 34) of the previous one, and the
  // default button redrawn once on Boolean to text, never on text to text.
  struct {
    int32 from, to, redraws;
  } moves[] = {{boolean, text1, 1}, {text1, text2, 0}};
  ShowInWindow();
  SetBounds(button, Rect{5, 5, 25, 65});
  for (const auto& m : moves) {
    ASSERT_EQ(FPKeyFocusUpdate(panel_, m.from, 0, nullptr), kNoErr);
    gSent.clear();
    TakeInvalid();
    ASSERT_EQ(FPKeyFocusUpdate(panel_, m.to, 1, nullptr), kNoErr);
    EXPECT_EQ(R(TakeInvalid()), m.redraws ? R(Rect{5, 5, 26, 66}) : R(Rect{0, 0, 0, 0})) << m.from;
    ASSERT_EQ(gSent.size(), 1u);
    EXPECT_EQ(gSent[0].words[9], kKeyRelease);
    EXPECT_EQ(Ext(kHeapExtKeyFocus), m.to);
    EXPECT_TRUE(OHWord(panel_, kOHFlags) & kHeapFlagTextEntry);
  }
  // Commit keeps an accepting focus; release always clears it, once.
  gDoit = [](int32, void*, int32*) { return 1; };
  EXPECT_EQ(FPCommitKeyFocus(panel_), kNoErr);
  EXPECT_EQ(Ext(kHeapExtKeyFocus), text2);
  gDoit = nullptr;
  EXPECT_EQ(FPReleaseKeyFocus(panel_), kNoErr);
  EXPECT_EQ(Ext(kHeapExtKeyFocus), 0);
  EXPECT_FALSE(OHWord(panel_, kOHFlags) & kHeapFlagTextEntry);
  gSent.clear();
  EXPECT_EQ(FPReleaseKeyFocus(panel_), kNoErr);
  EXPECT_TRUE(gSent.empty()) << "nothing to release";
  // Enter in a text control is the default button's in a dialog (the focus
  // is put back when the key reads back as 42); on a Boolean it is not.
  SetExt(kHeapExtDialogFilter, 1);
  for (int32 focus : {text1, boolean}) {
    ASSERT_EQ(FPKeyFocusUpdate(panel_, focus, 0, nullptr), kNoErr);
    gDoit = [](int32, void*, int32* w) { return w[9] = kKeyReadBack, 2; };
    WEventRecord enter = Event(weKey, vkEnter);
    EXPECT_EQ(FPHandleKey(&enter, panel_), 1);
    EXPECT_EQ(Ext(kHeapExtKeyFocus), focus == text1 ? text1 : 0) << focus;
    if (Ext(kHeapExtKeyFocus)) FPReleaseKeyFocus(panel_);
  }
  SetExt(kHeapExtDialogFilter, 0);
  EXPECT_EQ(Asserts(), 0);
  // An answer with 0x10 gives 0.
  ASSERT_EQ(FPKeyFocusUpdate(panel_, text1, 0, nullptr), kNoErr);
  gDoit = [](int32, void*, int32*) { return 0x11; };
  WEventRecord key = Event(weKey, vkAscii, 'a');
  EXPECT_EQ(FPHandleKey(&key, panel_), 0);
  gDoit = nullptr;
  FPReleaseKeyFocus(panel_);
}

TEST_F(Transact, SavedFocusPathsNeverPassTheStack) {
  const int32 focus = Obj(kClsNumeric, root_);
  // A focus taken on a 200-frame path.
  LayPath(0, 200);
  TRSetStackTop(Base());
  ASSERT_EQ(FPKeyFocusUpdate(panel_, focus, 0, nullptr), kNoErr);
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(uintptr_t(Ext(kHeapExtSavedFrames)))), 201 * 16);
  // Replayed from frame 101 it would pass the end: the key is refused.
  LayPath(0, 100);
  TRSetStackTop(Base());
  ClearReports();
  WEventRecord key = Event(weKey, vkAscii, 'a');
  EXPECT_EQ(FPHandleKey(&key, panel_), 0);
  EXPECT_TRUE(gSent.empty());
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(Base()[250 - 1].object, 0) << "nothing written at the block's last frame";
  // From the block's start it fits.
  TRSetStackTop(nullptr);
  gDoit = [](int32, void* frame, int32*) { return static_cast<TransactionFrame*>(frame)[199].index == 199 ? 1 : 0; };
  EXPECT_EQ(FPHandleKey(&key, panel_), 1);
  EXPECT_EQ(Ext(kHeapExtKeyFocus), focus);
  gDoit = nullptr;
  FPReleaseKeyFocus(panel_);
  // Saving on memory that runs out: no focus, the error.
  MemFailNthAllocation(1);
  EXPECT_EQ(FPKeyFocusUpdate(panel_, focus, 1, nullptr), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Ext(kHeapExtKeyFocus), 0);
  EXPECT_FALSE(OHWord(panel_, kOHFlags) & kHeapFlagTextEntry);
  // A bracket for an unknown area.
  ClearReports();
  WPortState port{};
  Rect clip{1, 1, 1, 1};
  FPBeginWindowPart(panel_, 3, &port, &clip);
  EXPECT_EQ(Asserts(), 1);
}

}  // namespace
