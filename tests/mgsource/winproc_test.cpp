// Host input through the window procedures into events, the frame window's
// notifications, the main loop, tracking and window timers, injected
// headless through the layer's test tooling.
#include <atomic>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "mgsource/datetime.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wservices.h"
#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_display.h"
#include "platform/qx_drop.h"
#include "platform/qx_droptarget.h"
#include "platform/qx_drives.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_uitest.h"
#include "platform/qx_uitest_script.h"
#include "temp_folder.h"
#include "test_support.h"

namespace winproc_test {

struct Ev {
  int32 code, modifiers, character, keyCode, where = 0;
  WindowRef window = 0;
};
std::vector<Ev> gLog;
std::function<void(WEventRecord*)> gOnEvent;

int32 Log(WEventRecord* e, uInt32) {
  gLog.push_back(Ev{e->code, e->modifiers, e->character, e->keyCode, e->where, e->window});
  if (gOnEvent) gOnEvent(e);
  return 0;
}

WEventRecord Rec(int32 code, WindowRef window) {
  WEventRecord e{};
  e.code = code;
  e.window = window;
  return e;
}

float AsFloat(int32 bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

class WinProc : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    PlatWindowsReset();
    PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
    PlatRegisterClass(PlatWindowClass{"QXMenuWnd", &QXMenuWndProc, kPlatCsSaveBits, kPlatNoBrush});
    PlatRegisterClass(PlatWindowClass{"QXFrame", &QXFrameProc, 0, kPlatNoBrush});
    frame_ = PlatCreateWindow("QXFrame", "frame", 0, 0, PlatRect{-10000, -10000, -9990, -9990}, 0);
    PlatSetFrameWindow(frame_);
    WBuildKeyTable();
    WResetMainLoop();
    WSetWinProcOptions(WWinProcOptions{0, 0, 0});
    WSetEventHandler(kWRootWindow, &Log);
    gLog.clear();
    gOnEvent = nullptr;
  }
  void TearDown() override {
    gOnEvent = nullptr;
    WSetEventHandler(kWRootWindow, nullptr);
    WResetMainLoop();
    WResetMainLoopHooks();
    WTimersInit(0);
    WDestroyAllWindows();
    PlatWindowsReset();
    WEventRecord e;
    while (WGetNextEvent(&e)) {
    }
  }
  // A shown, active document window whose content lies at (100, 100).
  WindowRef Doc(uInt32 style = 0x1C, int16 left = 100) {
    const Rect r{100, left, 300, int16(left + 300)};
    const WindowRef w = WCreate(style, nullptr, &Log, &r, 0, 1, 0);
    PlatUiPump();
    gLog.clear();
    return w;
  }
  static std::vector<Ev> Only(std::initializer_list<int32> codes) {
    std::vector<Ev> v;
    for (const Ev& e : gLog)
      for (int32 c : codes)
        if (e.code == c) v.push_back(e);
    return v;
  }
  PlatWindow frame_ = 0;
  Capture capture_;
};

TEST_F(WinProc, KeysBecomeKeyEventsAsTheTableAndTheCharacterRulesSay) {
  Doc();
  struct Row {
    const char* what;
    std::function<void()> press;
    std::vector<Ev> keys;  // code 6 and 4 events: code, modifiers, character, key code
  };
  const auto key = [](uint32_t vk, uint32_t mods) { return [=] { PlatUiKey(vk, mods); }; };
  const uint32_t t = PlatTickMs();
  const std::vector<Row> rows = {
      {"Ctrl+A", key('A', kScriptCtrl), {{4, 0x31, 0, 0}, {6, 0x31, 'a', 27}, {4, 0, 0, 0}}},
      {"Ctrl+Shift+A", key('A', kScriptCtrl | kScriptShift),
       {{4, 0x31, 0, 0}, {4, 0x33, 0, 0}, {6, 0x33, 'A', 27}, {4, 0x31, 0, 0}, {4, 0, 0, 0}}},
      {"Shift alone", key(kPlatVkShift, 0), {{4, 0x02, 0, 0}, {4, 0, 0, 0}}},
      {"Return", key(kPlatVkReturn, 0), {{6, 0, 0, 2}}},
      {"keypad Enter",
       [=] {
         PlatInjectKey(kPlatVkReturn, true, t, true);
         PlatInjectKey(kPlatVkReturn, false, t + 1, true);
         PlatUiPump();
       },
       {{6, 0x200, 0, 2}}},
      {"a held letter",
       [=] {
         PlatInjectKey('B', true, t);
         PlatUiPump();
         PlatInjectKey('B', true, t + 40);
         PlatUiPump();
         PlatInjectKey('B', false, t + 80);
         PlatUiPump();
       },
       {{6, 0, 'b', 27}, {6, 0x800, 'b', 27}}},
      {"punctuation through the character", key(kPlatVkSemicolon, kScriptShift), {{4, 2, 0, 0}, {6, 2, ':', 27}, {4, 0, 0, 0}}},
      {"punctuation through the table's Shift half", key(kPlatVkEquals, kScriptCtrl | kScriptShift),
       {{4, 0x31, 0, 0}, {4, 0x33, 0, 0}, {6, 0x31, '+', 27}, {4, 0x31, 0, 0}, {4, 0, 0, 0}}},
      {"keypad digit", key(kPlatVkNumpad0 + 7, 0), {{6, 0, '7', 27}}},
      {"Alt+F", key('F', kScriptAlt), {{6, 0x40, 'f', 36}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    gLog.clear();
    row.press();
    const std::vector<Ev> got = Only({4, 6});
    ASSERT_EQ(got.size(), row.keys.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].code, row.keys[i].code) << i;
      EXPECT_EQ(got[i].modifiers, row.keys[i].modifiers) << i;
      EXPECT_EQ(got[i].character, row.keys[i].character) << i;
      EXPECT_EQ(got[i].keyCode, row.keys[i].keyCode) << i;
    }
  }
  // Every named key, and F10 as an ordinary key when asked.
  const std::pair<uint32_t, int32> named[] = {
      {kPlatVkClear, 1}, {kPlatVkCancel, 3},   {kPlatVkUp, 4},     {kPlatVkDown, 5},   {kPlatVkLeft, 6},
      {kPlatVkRight, 7}, {kPlatVkInsert, 8},   {kPlatVkDelete, 9}, {kPlatVkHome, 10},  {kPlatVkEnd, 11},
      {kPlatVkPrior, 12}, {kPlatVkNext, 13},   {kPlatVkF1, 15},    {kPlatVkF12, 26},   {kPlatVkEscape, 27}};
  for (const auto& [vk, code] : named) {
    gLog.clear();
    PlatUiKey(vk, 0);
    ASSERT_EQ(Only({6}).size(), 1u) << vk;
    EXPECT_EQ(Only({6})[0].keyCode, code) << vk;
  }
  WSetWinProcOptions(WWinProcOptions{1, 0, 0});
  gLog.clear();
  PlatUiKey(kPlatVkF10, 0);
  ASSERT_FALSE(Only({6}).empty());
  EXPECT_EQ(Only({6})[0].keyCode, 24);
  // Keys the layer does not have index nothing.
  WEventRecord e{};
  EXPECT_EQ(WTranslateKeyDown(1, 256 + kPlatVkReturn, &e), 0);
  EXPECT_EQ(WKeyTableEntry(512), 0);
}

TEST_F(WinProc, ClicksCountAndTheWheelAndTheSizeBoxAndAModalWindowInFront) {
  const WindowRef w = Doc();
  for (int i = 0; i < 3; ++i) PlatUiClick(150 + (i & 1), 150);
  std::vector<Ev> downs = Only({1});
  ASSERT_EQ(downs.size(), 3u);
  // The left button's own bit 0x40 is in each.
  EXPECT_EQ(downs[0].modifiers & 0x1C0, 0x40);
  EXPECT_EQ(downs[1].modifiers & 0x1C0, 0xC0);
  EXPECT_EQ(downs[2].modifiers & 0x1C0, 0x1C0);
  EXPECT_EQ(downs[0].where, WPackPoint(Point{50, 50}));
  PlatUiClick(170, 150);  // 20 pixels away: a single click again
  EXPECT_EQ(Only({1}).back().modifiers & 0x1C0, 0x40);
  gLog.clear();
  const uint32_t t = PlatTickMs() + 5000;
  PlatInjectMouseButton(kPlatButtonRight, true, 150, 150, t);
  PlatInjectMouseButton(kPlatButtonRight, false, 150, 150, t + 10);
  PlatUiWheel(1, 150, 150);
  PlatUiMove(160, 160);
  PlatUiMove(160, 160);
  const std::vector<Ev> got = Only({19, 2, 49});
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].code, 19);
  EXPECT_EQ(got[0].modifiers & 0x5C0, 0x440) << "the right button and a single click";
  EXPECT_EQ(got[1].code, 2);
  EXPECT_EQ(got[2].code, 49);
  EXPECT_EQ(AsFloat(got[2].character), 1.0f);
  EXPECT_EQ(Only({3, 4}).back().code, 4) << "a move to the same point";
  // The size box sizes the window through the host's sizing loop.
  Rect before, after;
  WGetRect(w, &before);
  const int32 cx = 100 + before.right - 2, cy = 100 + before.bottom - 2;
  PlatInjectMouseButton(kPlatButtonLeft, true, cx, cy, t + 100);
  PlatInjectMouseMove(cx + 30, cy + 20, t + 110);
  PlatInjectMouseButton(kPlatButtonLeft, false, cx + 30, cy + 20, t + 120);
  PlatUiPump();
  WGetRect(w, &after);
  EXPECT_EQ(after.right - before.right, 30);
  EXPECT_EQ(after.bottom - before.bottom, 20);
  EXPECT_FALSE(Only({10}).empty());
  // With a modal window in front a click on the document is eaten and
  // raises the modal window; without one a click in the content activates
  // and is eaten unless clicks drop through.
  const PlatLParam inContent = PlatMakeLParam(kPlatHtClient, kPlatMsgLButtonDown);
  const PlatWindow hw = WHostWindow(w);
  EXPECT_EQ(PlatSendMessage(hw, kPlatMsgMouseActivate, hw, inContent), kPlatMaActivateAndEat);
  WSetWinProcOptions(WWinProcOptions{0, 1, 0});
  EXPECT_EQ(PlatSendMessage(hw, kPlatMsgMouseActivate, hw, inContent), kPlatMaActivate);
  const Rect mr{400, 500, 500, 700};
  const WindowRef modal = WCreate(0x05, nullptr, &Log, &mr, 0, 1, 0);
  PlatUiPump();
  EXPECT_EQ(PlatSendMessage(hw, kPlatMsgMouseActivate, hw, inContent), kPlatMaNoActivateAndEat);
  EXPECT_EQ(PlatSendMessage(WHostWindow(modal), kPlatMsgMouseActivate, hw, inContent), kPlatMaActivate);
  gLog.clear();
  PlatUiClick(150, 150);
  EXPECT_TRUE(Only({1}).empty());
  WindowRef order[4];
  ASSERT_GE(WWindowsInOrder(order, 4), 2);
  EXPECT_EQ(order[0], modal);
  // While an alert is up no window gets an event.
  WHide(modal);
  PlatUiPump();
  static std::vector<Ev>* sLog = &gLog;
  const PlatAlertProc old = PlatSetAlertProc([](const char*, const char*, int32_t, int32_t) -> int32_t {
    sLog->clear();
    PlatUiClick(150, 150);
    return Only({1, 2}).empty() ? 1 : 0;
  });
  WAlert(reinterpret_cast<ConstPStr>("\x02hi"), 0);
  PlatSetAlertProc(old);
  EXPECT_TRUE(Only({1, 2}).empty());
}

TEST_F(WinProc, TheFrameAnnouncesActivationClipboardAndQuitToTheRoot) {
  const WindowRef doc = Doc();
  const Rect fr{100, 500, 150, 600};
  const WindowRef floater = WCreate(0x02, nullptr, &Log, &fr, 0, 1, 0);
  ASSERT_TRUE(WIsVisible(floater));
  gLog.clear();
  PlatSendMessage(frame_, kPlatMsgActivateApp, 0, 0);
  ASSERT_FALSE(Only({17}).empty());
  EXPECT_EQ(WGetActiveWindow(), kWNoWindow);
  EXPECT_FALSE(WIsVisible(floater));
  PlatSendMessage(frame_, kPlatMsgActivateApp, 1, 0);
  EXPECT_FALSE(Only({18}).empty());
  EXPECT_TRUE(WIsVisible(floater));
  // Clipboard changes: at once, or with the lazy setting at the next activation.
  gLog.clear();
  PlatSendMessage(frame_, kPlatMsgDrawClipboard, 0, 0);
  EXPECT_EQ(Only({28}).size(), 1u);
  WSetWinProcOptions(WWinProcOptions{0, 0, 1});
  gLog.clear();
  PlatSendMessage(frame_, kPlatMsgDrawClipboard, 0, 0);
  EXPECT_TRUE(Only({28}).empty());
  PlatSendMessage(frame_, kPlatMsgActivateApp, 1, 0);
  EXPECT_EQ(Only({28}).size(), 1u);
  // Engine time takes the counted events one level deeper.
  WAdjustNesting(1);
  WEventRecord outer = Rec(kWEvUser, doc), any = Rec(kWEvUser - 1, doc);
  WPostEvent(&outer, 0, kWPostTopLevel);
  WPostEvent(&any, 0, kWPostAnyLevel);
  gLog.clear();
  PlatSendMessage(frame_, kPlatMsgUser3, 0, 0);
  ASSERT_EQ(gLog.size(), 1u);
  EXPECT_EQ(gLog[0].code, kWEvUser - 1);
  WAdjustNesting(-1);
  // Close quits at once through the root's handler and answers the quit flag.
  gOnEvent = [](WEventRecord* e) {
    if (e->code == kWEvQuit) WQuit();
  };
  EXPECT_EQ(PlatSendMessage(frame_, kPlatMsgClose, 0, 0), 1);
  EXPECT_EQ(gLog.back().code, kWEvQuit);
  WEventRecord late = Rec(weMouseUp, doc);
  EXPECT_EQ(WSendEvent(&late), 0);
  EXPECT_EQ(gLog.back().code, kWEvQuit) << "nothing is delivered after the quit";
}

TEST_F(WinProc, TheLoopRunsOneTurnNestsSleepsWhenIdleAndEndsAsAsked) {
  const WindowRef doc = Doc();
  static std::atomic<int32> slices{0};
  static std::atomic<int32> state{0};
  slices = 0;
  WMainLoopHooks hooks{};
  hooks.background = [](Bool32) -> int32 {
    ++slices;
    return state.load();
  };
  hooks.execState = []() -> int32 { return state.load(); };
  WSetMainLoopHooks(hooks);
  WEventRecord a = Rec(kWEvUser, doc), b = Rec(kWEvUser - 1, doc);
  WPostEvent(&a, 0, kWPostAnyLevel);
  WPostEvent(&b, 0, kWPostAnyLevel);
  WMainLoop(0, 0);
  ASSERT_EQ(gLog.size(), 1u) << "one turn, one event";
  WMainLoop(0, 0);
  EXPECT_EQ(gLog.size(), 2u);
  // Idle: the loop sleeps until another thread posts; the handler ends it.
  gOnEvent = [](WEventRecord*) { WQuitNestedMainLoop(); };
  slices = 0;
  std::thread poster([doc] {
    PlatSleepMs(300);
    WEventRecord e = Rec(kWEvUser, doc);
    WPostEvent(&e, 0, kWPostAnyLevel);
  });
  WMainLoop(1, 0);
  poster.join();
  EXPECT_LE(slices.load(), 3) << "an idle loop does not spin";
  // Engine state 2 never blocks: the loop turns until its slice ends it.
  state = 2;
  hooks.background = [](Bool32) -> int32 {
    if (++slices > 50) WQuitNestedMainLoop();
    return 2;
  };
  WSetMainLoopHooks(hooks);
  slices = 0;
  WMainLoop(1, 0);
  EXPECT_GT(slices.load(), 50);
  state = 0;
  hooks.background = [](Bool32) -> int32 { return 0; };
  WSetMainLoopHooks(hooks);
  // A kind-2 event posted at level 2 runs after the nested loop returns.
  gLog.clear();
  gOnEvent = [doc](WEventRecord* e) {
    WEventRecord next = Rec(0, doc);
    if (e->code == 100) {  // level 1: a nested loop
      next.code = 101;
      WPostEvent(&next, 0, kWPostAnyLevel);
      WMainLoop(1, 0);
    } else if (e->code == 101) {  // level 2
      next.code = 102;
      WPostEvent(&next, 0, kWPostOuterLevel);
      next.code = 103;
      WPostEvent(&next, 0, kWPostAnyLevel);
    } else {
      WQuitNestedMainLoop();
    }
  };
  WEventRecord start = Rec(100, doc);
  WPostEvent(&start, 0, kWPostAnyLevel);
  WMainLoop(1, 0);
  std::vector<int32> codes;
  for (const Ev& e : gLog) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int32>{100, 101, 103, 102}));
  // The memory-full alert once after the event that ran out; compaction
  // only at level 1.
  gOnEvent = [](WEventRecord* e) {
    if (e->code == 104) {
      MemFailNthAllocation(1);
      EXPECT_EQ(AZNewHandle(64), nullptr);
    } else if (e->code == 105) {
      AZRequestCompact();
      WMainLoop(0, 0);
      EXPECT_EQ(MemCompactRequested(), 1) << "not at level 2";
      AZRequestCompact();
    }
  };
  capture_.Clear();
  WEventRecord full = Rec(104, doc), compact = Rec(105, doc);
  WPostEvent(&full, 0, kWPostAnyLevel);
  WMainLoop(0, 0);
  EXPECT_EQ(capture_.Alerts().size(), 1u);
  EXPECT_EQ(MemFullPending(nullptr), 0);
  WPostEvent(&compact, 0, kWPostAnyLevel);
  WMainLoop(0, 0);
  EXPECT_EQ(MemCompactRequested(), 0) << "taken at level 1";
  // Input waiting: a move over the active window counts; one over another
  // window is dropped and counts as nothing.
  gOnEvent = nullptr;
  WEventRecord left;
  while (WGetNextEvent(&left)) {
  }
  const WindowRef other = Doc(0x1C, 500);
  const uint32_t t = PlatTickMs() + 20000;
  PlatInjectMouseMove(150, 150, t);
  EXPECT_EQ(WEventAvail(), 0);
  EXPECT_FALSE(PlatQueueHasWork()) << "the move was taken away";
  PlatInjectMouseMove(600, 150, t + 10);
  EXPECT_EQ(WEventAvail(), 1);
  PlatUiPump();
  const Rect all{0, 0, 200, 300};
  const uInt32 rgn = DRectRgn(&all);
  WSetIdleRgn(other, rgn, 0);
  DDestroyRgn(rgn);
  PlatInjectMouseMove(610, 160, t + 20);
  EXPECT_EQ(WEventAvail(), 0) << "its idle region does not want it";
  WDestroy(other);
  // Event 48 ends a loop run from the root.
  // The loop runs with no current window; the caller's comes back after.
  WPortState saved{};
  WSetup(doc, &saved);
  WindowRef currentInside = doc;
  gOnEvent = [&](WEventRecord* e) {
    if (e->code == kWEvUser) currentInside = WCurrentPort();
  };
  WEventRecord look = Rec(kWEvUser, doc), leave = Rec(kWEvLeaveRootLoop, doc);
  WPostEvent(&look, 0, kWPostAnyLevel);
  WPostEvent(&leave, 0, kWPostAnyLevel);
  WRunRootMainLoop();
  EXPECT_EQ(WNestingLevel(), 0);
  EXPECT_EQ(currentInside, kWNoWindow);
  EXPECT_EQ(WCurrentPort(), doc);
  WRestore(&saved);
  gOnEvent = nullptr;
}

TEST_F(WinProc, TrackingCapturesTimesOutAndEndsOnActivation) {
  const WindowRef w = Doc();
  WPortState saved{};
  WSetup(w, &saved);
  WStartTrack();
  WEventRecord e{};
  WGetTrackEvent(&e, 0);
  EXPECT_EQ(e.code, 4) << "nothing pending";
  const uint32_t t = PlatTickMs() + 9000;
  struct Row {
    std::function<void()> inject;
    int32 code, keyCode;
  };
  const Row rows[] = {
      {[=] { PlatInjectMouseButton(kPlatButtonLeft, true, 150, 150, t); }, 1, 0},
      {[=] { PlatInjectMouseButton(kPlatButtonLeft, false, 900, 700, t + 10); }, 2, 0},  // outside: captured
      {[=] { PlatInjectMouseButton(kPlatButtonMiddle, true, 150, 150, t + 20); }, 4, 0},
      {[=] { PlatInjectMouseButton(kPlatButtonRight, true, 150, 150, t + 30); }, 19, 0},
      {[=] {
         PlatInjectKey(kPlatVkAlt, true, t + 40);
         PlatInjectKey('G', true, t + 50);
       },
       6, 36},
  };
  for (const Row& row : rows) {
    row.inject();
    // Moves, and the idle events of modifier keys, may come first.
    do {
      e = WEventRecord{};
      WGetTrackEvent(&e, -1);
    } while (e.code == 3 || (e.code == 4 && row.code != 4));
    EXPECT_EQ(e.code, row.code);
    EXPECT_EQ(e.keyCode, row.keyCode);
  }
  // Another window taking activation cancels the tracking.
  const WindowRef other = Doc(0x1C, 500);
  (void)other;
  PlatSetActiveWindow(WHostWindow(other));
  PlatUiPump();
  WGetTrackEvent(&e, -1);
  EXPECT_EQ(e.code, 5);
  WEndTrack();
  WRestore(&saved);
}

TEST_F(WinProc, TimersFireOnceInDueOrderAndDieWithTheirWindow) {
  const WindowRef w = Doc();
  ASSERT_EQ(WStartTimer(w, 20, 1), 1);
  ASSERT_EQ(WStartTimer(w, 20, 2), 1);
  EXPECT_EQ(WStartTimer(w, 5, 2), 0) << "a used id";
  ASSERT_EQ(WStartTimer(w, 20, 3), 1);
  EXPECT_EQ(WKillTimer(w, 3), 1);
  EXPECT_EQ(WKillTimer(w, 3), 0);
  PlatSleepMs(30);
  EXPECT_EQ(WCheckTimers(), 2);
  WEventRecord e;
  std::vector<int32> ids;
  while (WGetNextEvent(&e))
    if (e.code == kWEvTimer) ids.push_back(e.where);
  EXPECT_EQ(ids, (std::vector<int32>{1, 2}));
  // Many at random: each once, in due order. The timer reads the clock
  // itself, so its due time is only known to lie between the readings taken
  // around the start; a slow machine can move the clock between them.
  std::mt19937 rng(7);
  std::vector<uInt32> earliest(1000), latest(1000);
  for (int32 i = 0; i < 1000; ++i) {
    const int32 interval = int32(rng() % 40);
    earliest[size_t(i)] = MilliSecs() + uInt32(interval);
    ASSERT_EQ(WStartTimer(w, interval, i), 1);
    latest[size_t(i)] = MilliSecs() + uInt32(interval);
  }
  PlatSleepMs(50);
  EXPECT_EQ(WCheckTimers(), 1000);
  std::vector<bool> seen(1000);
  bool first = true;
  uInt32 floor = 0;  // the latest "earliest" of the timers fired so far
  while (WGetNextEvent(&e)) {
    if (e.code != kWEvTimer) continue;
    ASSERT_FALSE(seen[size_t(e.where)]);
    seen[size_t(e.where)] = true;
    if (!first) {
      EXPECT_GE(MillisecCmp(latest[size_t(e.where)], floor), 0) << "fired before an earlier one";
    }
    if (first || MillisecCmp(earliest[size_t(e.where)], floor) > 0) floor = earliest[size_t(e.where)];
    first = false;
  }
  EXPECT_EQ(WCheckTimers(), 0);
  // A failed growth stores nothing and says so.
  for (int32 i = 0; i < 4; ++i) ASSERT_EQ(WStartTimer(w, 1000, i), 1);
  MemFailNthAllocation(1);
  EXPECT_EQ(WStartTimer(w, 1000, 9), 0);
  EXPECT_EQ(WKillTimer(w, 9), 0);
  MemFullReset();
  // A destroyed window's timers go with it.
  WDestroy(w);
  while (WGetNextEvent(&e)) WDispatchEvent(&e);
  for (int32 i = 0; i < 4; ++i) EXPECT_EQ(WKillTimer(w, i), 0);
}

// What a drop handler read of the dropped files.
struct Dropped {
  int32 code = 0, kind = 0, count = 0, setupDepth = 0, outside = -1;
  std::vector<std::string> paths;
  std::vector<std::pair<bool, bool>> fileText;
  std::string text;
  std::vector<int32> codes;  // of every event so far
} gDropped;

int32 ReadDrop(WEventRecord* e, uInt32) {
  std::vector<int32> codes = std::move(gDropped.codes);
  gDropped = Dropped{};
  gDropped.codes = std::move(codes);
  gDropped.codes.push_back(e->code);
  gDropped.code = e->code;
  gDropped.kind = e->character;
  gDropped.setupDepth = WSetupDepth();
  DragData d = reinterpret_cast<DragData>(uintptr_t(uInt32(e->modifiers)));
  gDropped.count = DragGetItemCount(d, e->character);
  EXPECT_EQ(DragBuildItemFlags(d, e->character), kNoErr);
  for (int32 i = 0; i < gDropped.count; ++i) {
    gDropped.fileText.emplace_back(DragItemIsFile(d, i), DragItemIsText(d, i));
    Path p = nullptr;
    if (DragGetItemPath(d, i, &p, e->character) == kNoErr) {
      LStrHandle text = nullptr;
      FPathToDSString(p, &text);
      gDropped.paths.emplace_back(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt));
      DSDisposeHandle(reinterpret_cast<UHandle>(text));
      FDisposePath(p);
    }
    if (gDropped.fileText.back().second) {
      LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHClr(4));
      EXPECT_EQ(DragGetItemText(d, i, text, e->character), kNoErr);
      gDropped.text.assign(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt));
      DSDisposeHandle(reinterpret_cast<UHandle>(text));
    }
  }
  gDropped.outside = DragItemIsFile(d, gDropped.count);  // reported, then 0
  return 0;
}

TEST_F(WinProc, DroppedFilesReachTheDropHandlerInsideSetup) {
  Capture capture;
  const WindowRef w = Doc();
  const int32 liveDrops = PlatDropLiveCount();
  gDropped = Dropped{};
  DragAcceptWindow(w, &ReadDrop);
  const char* names[] = {"C:\\data\\one.txt", "C:\\two.vi", "D:\\x\\three"};
  ASSERT_TRUE(PlatDropFiles(WRecord(w)->hwnd, names, 3, 10, 20));
  PlatUiPump();
  EXPECT_EQ(gDropped.code, kWEvDrop);
  EXPECT_EQ(gDropped.kind, kDragKindDrop);
  EXPECT_GT(gDropped.setupDepth, 0);
  EXPECT_EQ(gDropped.count, 3);
  EXPECT_EQ(gDropped.fileText, (std::vector<std::pair<bool, bool>>(3, {true, false})));
  EXPECT_EQ(gDropped.paths, (std::vector<std::string>{names[0], names[1], names[2]}));
  EXPECT_EQ(gDropped.outside, 0);
  EXPECT_EQ(capture.Count("drag item index out of range"), 1);
  EXPECT_EQ(PlatDropLiveCount(), liveDrops);
  // Without a handler the event answers 1; a refused window takes no files.
  WEventRecord e{};
  EXPECT_EQ(DragSendEvent(&e, kWEvDragLeave, kDragKindDataObject, 0, Point{0, 0}), 1);
  EXPECT_EQ(DragRefuseWindow(w), 0);
  EXPECT_FALSE(PlatDropFiles(WRecord(w)->hwnd, names, 1, 0, 0));
}

TEST_F(WinProc, DragsFromOtherProgramsReachTheDropHandler) {
  TempFolder tmp{"qxdrag"};
  std::filesystem::create_directories(tmp.Dir() + "/real");
  std::filesystem::create_symlink(tmp.Dir() + "/real", tmp.Dir() + "/link.lnk");
  ASSERT_EQ(PlatDriveMap('S', tmp.Dir().c_str(), 1), 0);
  DragInit();
  ASSERT_TRUE(DragOleStarted());
  const int32 liveObjects = PlatDataObjectLiveCount();
  const WindowRef w = Doc(), bare = Doc(0x1C, 500);
  DragAcceptWindow(w, &ReadDrop);
  DragAcceptWindow(w, &ReadDrop);  // one target per window
  DragAcceptWindow(bare, nullptr);
  const auto drag = [](PlatDataObject* data, std::vector<PlatScreenPoint> at, bool drop) {
    gDropped = Dropped{};
    uint32_t effect = 99;
    EXPECT_TRUE(PlatUiOleDrag(data, at, drop, &effect));
    data->Release();
    return effect;
  };
  EXPECT_EQ(drag(PlatNewFilesDataObject({"C:\\data\\one.txt", "S:\\LINK.lnk", "D:\\x\\three"}), {{150, 150}, {160, 170}}, true),
            kPlatDropEffectCopy);
  EXPECT_EQ(gDropped.codes, (std::vector<int32>{kWEvDragEnter, kWEvDragOver, kWEvDrop}));
  EXPECT_EQ(gDropped.kind, kDragKindDataObject);
  EXPECT_GT(gDropped.setupDepth, 0);
  EXPECT_EQ(gDropped.fileText, (std::vector<std::pair<bool, bool>>(3, {true, false})));
  EXPECT_EQ(gDropped.paths, (std::vector<std::string>{"C:\\data\\one.txt", "S:\\real", "D:\\x\\three"}));
  EXPECT_EQ(drag(PlatNewTextDataObject("one\r\ntwo\rthree"), {{150, 150}}, true), kPlatDropEffectCopy);
  EXPECT_EQ(gDropped.fileText, (std::vector<std::pair<bool, bool>>{{false, true}}));
  EXPECT_EQ(gDropped.text, "one\ntwo\nthree");
  // Leaving: 44 once, no point, and the data object's count where it was.
  PlatDataObject* data = PlatNewTextDataObject("x");
  data->AddRef();
  EXPECT_EQ(drag(data, {{150, 150}, {1000, 1000}}, true), kPlatDropEffectCopy);
  EXPECT_EQ(gDropped.codes, (std::vector<int32>{kWEvDragEnter, kWEvDragLeave}));
  EXPECT_EQ(data->AddRef(), 2u);
  data->Release();
  data->Release();
  // Without a handler every drag is refused.
  EXPECT_EQ(drag(PlatNewTextDataObject("x"), {{550, 150}}, true), kPlatDropEffectNone);
  EXPECT_EQ(PlatDataObjectLiveCount(), liveObjects);
  PlatDropTarget* target = PlatDropTargetOf(WRecord(w)->hwnd);
  ASSERT_NE(target, nullptr);
  void* other = &other;
  EXPECT_EQ(target->QueryInterface(kPlatIidDataObject, &other), kPlatOleNoInterface);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(target->DragEnter(nullptr, 0, {150, 150}, nullptr), kPlatOleInvalidArg);
  target->Release();
  EXPECT_EQ(DragRefuseWindow(w), 0);
  EXPECT_EQ(PlatDropTargetOf(WRecord(w)->hwnd), nullptr);
  WDestroy(bare);  // revokes its target
  DragShutdown();
  EXPECT_FALSE(DragOleStarted());
  PlatDriveMap('S', nullptr, 0);
}

}  // namespace winproc_test
