// Input of the window system: the click and activation sequence, keys,
// capture and the sizing loop, as exact message logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>

#include "platform/qx_alert.h"
#include "platform/qx_file.h"
#include "platform/qx_input.h"
#include "platform/qx_paint.h"
#include "platform/qx_thread.h"
#include "platform/qx_time.h"
#include "winsys_support.h"

namespace {

using winsys_test::Pump;
using winsys_test::Recorder;
using Lines = std::vector<std::string>;

class WinInput : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowsReset();
    Recorder& r = Recorder::Get();
    r.Clear();
    r.answers.clear();
    r.addFlags.clear();
    r.logMoves = true;
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"log", winsys_test::LoggingProc, 0, kPlatNoBrush}));
  }
  void TearDown() override {
    winsys_test::Pump();
    PlatWindowsReset();
  }
  static PlatWindow Make(const char* name, const PlatRect& r, uint32_t style = 0) {
    const PlatWindow w = PlatCreateWindow("log", name, style, 0, r, 0);
    Recorder::Get().names[w] = name;
    PlatShowWindow(w, kPlatSwShowNoActivate);
    PlatValidateRect(w, nullptr);
    return w;
  }
  // A at the left, W at the right; A active, nothing logged yet.
  void TwoWindows() {
    a = Make("A", PlatRect{0, 0, 100, 100});
    w = Make("W", PlatRect{200, 0, 300, 100});
    PlatSetActiveWindow(a);
    Pump();
    Recorder::Get().Clear();
  }
  PlatWindow a = 0, w = 0;
};

const Lines kActivation = {"WindowPosChanging W", "NcActivate A off",    "Activate A Inactive other=W",
                           "NcActivate W on",     "Activate W ClickActive other=A", "KillFocus A",
                           "SetFocus W"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines v;
  for (const Lines& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

TEST_F(WinInput, ClickOnAnInactiveWindowByMouseActivateAnswer) {
  struct Case {
    const char* what;
    int32_t answer;
    uint32_t addFlags;  // what W's WindowPosChanging handler adds
    bool activates;
    Lines log;
  };
  const Lines down = {"LButtonDown W 50,40 w=1"};
  const Lines up = {"NcHitTest W", "SetCursor W", "LButtonUp W 50,40 w=0"};
  const Case cases[] = {
      {"activate and eat", kPlatMaActivateAndEat, 0, true,
       Join({{"NcHitTest W", "MouseActivate W"}, kActivation, {"SetCursor W"}, up})},
      {"activate", kPlatMaActivate, 0, true,
       Join({{"NcHitTest W", "MouseActivate W"}, kActivation, {"SetCursor W"}, down, up})},
      {"no activate", kPlatMaNoActivate, 0, false,
       Join({{"NcHitTest W", "MouseActivate W", "SetCursor W"}, down, up})},
      {"no activate and eat", kPlatMaNoActivateAndEat, 0, false,
       Join({{"NcHitTest W", "MouseActivate W", "SetCursor W"}, up})},
      {"refused by the position handler", kPlatMaActivate, kPlatSwpNoActivate, false,
       Join({{"NcHitTest W", "MouseActivate W", "WindowPosChanging W", "SetCursor W"}, down, up})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    TwoWindows();
    Recorder::Get().answers[kPlatMsgMouseActivate] = c.answer;
    if (c.addFlags) Recorder::Get().addFlags[w] = c.addFlags;
    ASSERT_TRUE(PlatInjectMouseButton(kPlatButtonLeft, true, 250, 40, 1000));
    ASSERT_TRUE(PlatInjectMouseButton(kPlatButtonLeft, false, 250, 40, 1010));
    PlatMsg m;
    std::vector<uint32_t> times;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
      times.push_back(m.time);
      PlatDispatchMessage(&m);
    }
    EXPECT_EQ(Recorder::Get().Take(), c.log);
    EXPECT_EQ(times.back(), 1010u);
    if (times.size() == 2) { EXPECT_EQ(times.front(), 1000u) << "the injected time"; }
    EXPECT_EQ(PlatGetActiveWindow(), c.activates ? w : a);
    EXPECT_EQ(PlatGetFocus(), c.activates ? w : a);
    TearDown();
  }
}

TEST_F(WinInput, AClickWhileTheApplicationIsInactiveActivatesItFirst) {
  TwoWindows();
  PlatSetAppActive(false);
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcActivate A off", "Activate A Inactive other=0", "KillFocus A", "ActivateApp A 0", "ActivateApp W 0"}));
  EXPECT_EQ(PlatGetActiveWindow(), 0);
  PlatInjectMouseButton(kPlatButtonLeft, true, 250, 40, 5);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcHitTest W", "MouseActivate W", "WindowPosChanging W", "ActivateApp W 1", "ActivateApp A 1",
                   "NcActivate W on", "Activate W ClickActive other=0", "SetFocus W", "SetCursor W",
                   "LButtonDown W 50,40 w=1"}));
  EXPECT_TRUE(PlatIsAppActive());
}

TEST_F(WinInput, PointerEventsOverTheActiveWindowAndTheDesktop) {
  TwoWindows();
  PlatSetActiveWindow(w);
  Recorder::Get().Clear();
  PlatInjectMouseMove(260, 10, 1);
  PlatInjectMouseMove(270, 20, 2);  // merges with the move before: same window
  PlatInjectMouseMove(10, 10, 3);
  PlatInjectMouseMove(500, 500, 4);  // over the desktop: nothing
  PlatInjectMouseButton(kPlatButtonRight, true, 220, 30, 5);
  PlatInjectMouseWheel(-240, 10, 10, 6);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcHitTest W", "SetCursor W", "MouseMove W", "NcHitTest A", "SetCursor A", "MouseMove A",
                   "NcHitTest W", "SetCursor W", "RButtonDown W 20,30 w=2",
                   // The wheel goes to the focus window, at its client point.
                   "MouseWheel W -190,10 w=" + std::to_string((uint32_t(-240) << 16) | kPlatMkRButton)}));
  int32_t x, y;
  PlatGetCursorPos(&x, &y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(PlatGetKeyState(kPlatVkRButton) & 0x8000, 0x8000);
}

TEST_F(WinInput, CaptureTakesEveryMouseMessageWithoutHitTests) {
  TwoWindows();
  PlatSetActiveWindow(w);
  Recorder::Get().Clear();
  EXPECT_EQ(PlatSetCapture(w), 0);
  PlatInjectMouseButton(kPlatButtonLeft, true, 250, 40, 1);
  PlatInjectMouseButton(kPlatButtonLeft, false, 20, 30, 2);  // released over A
  PlatInjectMouseMove(600, 600, 3);                          // over the desktop
  Pump();
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"LButtonDown W 50,40 w=1", "LButtonUp W -180,30 w=0", "MouseMove W"}));
  struct Ending {
    const char* what;
    void (*end)(PlatWindow);
  };
  const Ending endings[] = {
      {"hide", [](PlatWindow x) { PlatShowWindow(x, kPlatSwHide); }},
      {"destroy", [](PlatWindow x) { PlatDestroyWindow(x); }},
      {"release", [](PlatWindow) { PlatReleaseCapture(); }},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.what);
    const PlatWindow c = Make("C", PlatRect{400, 0, 450, 50});
    PlatSetCapture(c);
    EXPECT_EQ(PlatGetCapture(), c);
    e.end(c);
    EXPECT_EQ(PlatGetCapture(), 0);
    PlatDestroyWindow(c);
  }
}

TEST_F(WinInput, HidingOrDestroyingTheActiveWindowPassesActivationToItsOwner) {
  TwoWindows();
  const PlatWindow o = PlatCreateWindow("log", "O", 0, 0, PlatRect{0, 0, 10, 10}, w);
  Recorder::Get().names[o] = "O";
  PlatShowWindow(o, kPlatSwShowNormal);
  EXPECT_EQ(PlatGetActiveWindow(), o);
  Recorder::Get().Clear();
  PlatDestroyWindow(o);
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"WindowPosChanging W", "NcActivate O off", "Activate O Inactive other=W", "NcActivate W on",
                   "Activate W Active other=O", "KillFocus O", "SetFocus W", "Destroy O"}));
  EXPECT_EQ(PlatGetActiveWindow(), w);
  // The owner refuses: nothing is active.
  const PlatWindow p = PlatCreateWindow("log", "P", 0, 0, PlatRect{0, 0, 10, 10}, w);
  PlatShowWindow(p, kPlatSwShowNormal);
  Recorder::Get().addFlags[w] = kPlatSwpNoActivate;
  PlatShowWindow(p, kPlatSwHide);
  EXPECT_EQ(PlatGetActiveWindow(), 0);
  // Explicit activation always works.
  EXPECT_EQ(PlatSetActiveWindow(w), 0);
  EXPECT_EQ(PlatGetActiveWindow(), w);
  EXPECT_EQ(PlatSetActiveWindow(0x7FFF), 0);
  EXPECT_EQ(PlatGetActiveWindow(), w);
}

// Keys: each line is the message and, for key messages, wParam and lParam.
std::string Key(const char* name, uint32_t vk, uint32_t count, uint32_t scan, uint32_t bits) {
  return std::string(name) + " W " + std::to_string(vk) + " " + std::to_string(count | (scan << 16) | bits);
}
constexpr uint32_t kExt = 1u << 24, kAlt = 1u << 29, kPrev = 1u << 30, kUp = 1u << 31;

TEST_F(WinInput, KeysCookIntoMessagesWithTheirBits) {
  struct Press {
    uint32_t vk;
    bool down;
    bool extended;
  };
  struct Case {
    const char* what;
    std::vector<Press> presses;
    Lines log;
  };
  const Case cases[] = {
      {"Shift, A",
       {{kPlatVkShift, true, false}, {'A', true, false}, {'A', false, false}, {kPlatVkShift, false, false}},
       {Key("KeyDown", kPlatVkShift, 1, 0x2A, 0), Key("KeyDown", 'A', 1, 0x1E, 0), Key("Char", 'A', 1, 0x1E, 0),
        Key("KeyUp", 'A', 1, 0x1E, kPrev | kUp), Key("KeyUp", kPlatVkShift, 1, 0x2A, kPrev | kUp)}},
      {"keypad Enter",
       {{kPlatVkReturn, true, true}, {kPlatVkReturn, false, true}},
       {Key("KeyDown", kPlatVkReturn, 1, 0x1C, kExt), Key("Char", '\r', 1, 0x1C, kExt),
        Key("KeyUp", kPlatVkReturn, 1, 0x1C, kExt | kPrev | kUp)}},
      {"an arrow is extended", {{kPlatVkLeft, true, false}}, {Key("KeyDown", kPlatVkLeft, 1, 0x4B, kExt)}},
      {"Alt+F",
       {{kPlatVkAlt, true, false}, {'F', true, false}, {'F', false, false}, {kPlatVkAlt, false, false}},
       {Key("SysKeyDown", kPlatVkAlt, 1, 0x38, kAlt), Key("SysKeyDown", 'F', 1, 0x21, kAlt),
        Key("SysChar", 'f', 1, 0x21, kAlt), "SysCommand W 5 102", Key("SysKeyUp", 'F', 1, 0x21, kAlt | kPrev | kUp),
        Key("SysKeyUp", kPlatVkAlt, 1, 0x38, kAlt | kPrev | kUp)}},
      {"Alt alone",
       {{kPlatVkAlt, true, false}, {kPlatVkAlt, false, false}},
       {Key("SysKeyDown", kPlatVkAlt, 1, 0x38, kAlt), Key("SysKeyUp", kPlatVkAlt, 1, 0x38, kAlt | kPrev | kUp),
        "SysCommand W 5 0"}},
      {"F10",
       {{kPlatVkF10, true, false}, {kPlatVkF10, false, false}},
       {Key("SysKeyDown", kPlatVkF10, 1, 0x44, 0), Key("SysKeyUp", kPlatVkF10, 1, 0x44, kPrev | kUp),
        "SysCommand W 5 0"}},
      {"repeats merge",
       {{'B', true, false}, {'B', true, false}, {'B', true, false}, {'B', false, false}},
       {Key("KeyDown", 'B', 1, 0x30, 0), Key("Char", 'b', 1, 0x30, 0), Key("KeyDown", 'B', 3, 0x30, kPrev),
        Key("Char", 'b', 3, 0x30, kPrev), Key("KeyUp", 'B', 1, 0x30, kPrev | kUp)}},
      {"Ctrl+C",
       {{kPlatVkControl, true, false}, {'C', true, false}},
       {Key("KeyDown", kPlatVkControl, 1, 0x1D, 0), Key("KeyDown", 'C', 1, 0x2E, 0), Key("Char", 3, 1, 0x2E, 0)}},
      {"Shift+2 and the slash",
       {{kPlatVkShift, true, false}, {'2', true, false}, {kPlatVkShift, false, false}, {kPlatVkSlash, true, false}},
       {Key("KeyDown", kPlatVkShift, 1, 0x2A, 0), Key("KeyDown", '2', 1, 0x03, 0), Key("Char", '@', 1, 0x03, 0),
        Key("KeyUp", kPlatVkShift, 1, 0x2A, kPrev | kUp), Key("KeyDown", kPlatVkSlash, 1, 0x35, 0),
        Key("Char", '/', 1, 0x35, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const PlatWindow win = Make("W", PlatRect{0, 0, 50, 50});
    PlatSetActiveWindow(win);
    Recorder::Get().Clear();
    for (const Press& p : c.presses) ASSERT_TRUE(PlatInjectKey(p.vk, p.down, 1, p.extended));
    // The key state is that of the message last retrieved.
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
      if (m.message == kPlatMsgKeyDown || m.message == kPlatMsgSysKeyDown) {
        EXPECT_EQ(PlatGetKeyState(uint32_t(m.wParam)) & 0x8000, 0x8000);
      }
      if (m.message == kPlatMsgKeyUp || m.message == kPlatMsgSysKeyUp) {
        EXPECT_EQ(PlatGetKeyState(uint32_t(m.wParam)) & 0x8000, 0);
      }
      PlatTranslateMessage(&m);
      PlatDispatchMessage(&m);
    }
    EXPECT_EQ(Recorder::Get().Take(), c.log);
    TearDown();
  }
}

TEST_F(WinInput, CapsLockTogglesAndBadInputIsRefused) {
  const PlatWindow win = Make("W", PlatRect{0, 0, 50, 50});
  PlatSetActiveWindow(win);
  for (bool down : {true, false}) PlatInjectKey(kPlatVkCapital, down, 1);
  PlatInjectKey('Q', true, 2);
  Pump();
  EXPECT_EQ(PlatGetKeyState(kPlatVkCapital), 1);
  const Lines log = Recorder::Get().Take();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), Key("Char", 'Q', 1, 0x10, 0));
  EXPECT_FALSE(PlatInjectKey(0x1FF, true, 1));
  EXPECT_FALSE(PlatInjectKey(0xFE, true, 1)) << "no such key";
  EXPECT_FALSE(PlatInjectMouseButton(7, true, 0, 0, 1));
  struct Scan {
    char c;
    int32_t want;
  };
  const Scan scans[] = {{'a', 'A'}, {'A', 'A' | 0x100}, {'7', '7'}, {'&', '7' | 0x100}, {'?', int32_t(kPlatVkSlash) | 0x100},
                        {' ', kPlatVkSpace}, {'\x01', -1}};
  for (const Scan& s : scans) EXPECT_EQ(PlatVkKeyScan(s.c), s.want) << s.c;
}

bool gAlertOnSize = false;

// A window whose frame can be sized between 60 x 40 and 150 x 120; with
// gAlertOnSize, its next Size shows an alert.
intptr_t LimitedProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgSize && std::exchange(gAlertOnSize, false)) PlatAlert("t", "sizing", kPlatOK, kPlatIconNone);
  if (m == kPlatMsgGetMinMaxInfo) {
    auto* mm = reinterpret_cast<PlatMinMaxInfo*>(lp);
    *mm = PlatMinMaxInfo{60, 40, 150, 120};
  }
  if (m == kPlatMsgUser3) return 7;
  return winsys_test::LoggingProc(w, m, wp, lp);
}

class SizingLoop : public WinInput {
 protected:
  PlatWindow MakeSizable() {
    PlatRegisterClass(PlatWindowClass{"limited", LimitedProc, 0, kPlatNoBrush});
    const PlatWindow s = PlatCreateWindow("limited", "S", kPlatWsThickFrame, 0, PlatRect{0, 0, 100, 80}, 0);
    Recorder::Get().names[s] = "S";
    PlatShowWindow(s, kPlatSwShowNormal);
    Pump();
    Recorder::Get().Clear();
    Recorder::Get().logMoves = false;
    return s;
  }
};

TEST_F(SizingLoop, MovesSizeTheFrameClampedAndEscapeRestores) {
  const PlatWindow s = MakeSizable();
  PlatInjectMouseButton(kPlatButtonLeft, true, 98, 78, 1);  // the bottom-right corner
  PlatInjectMouseMove(90, 70, 2);
  PlatInjectMouseMove(400, 400, 3);  // clamped to the maximum
  PlatInjectMouseButton(kPlatButtonLeft, false, 400, 400, 4);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcHitTest S", "SetCursor S", "NcLButtonDown S", "GetMinMaxInfo S", "WindowPosChanging S",
                   "Size S 84,64 w=0", "WindowPosChanging S", "Size S 142,112 w=0", "Paint S"}));
  EXPECT_EQ(PlatGetCapture(), 0);
  PlatRect r;
  PlatGetWindowRect(s, &r);
  EXPECT_EQ(r.right, 150);
  EXPECT_EQ(r.bottom, 120);
  PlatInjectMouseButton(kPlatButtonLeft, true, 148, 118, 5);
  PlatInjectMouseMove(10, 10, 6);  // clamped to the minimum
  PlatInjectKey(kPlatVkEscape, true, 7);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcHitTest S", "SetCursor S", "NcLButtonDown S", "GetMinMaxInfo S", "WindowPosChanging S",
                   "Size S 52,32 w=0", "WindowPosChanging S", "Size S 142,112 w=0", "Paint S"}));
  PlatGetWindowRect(s, &r);
  EXPECT_EQ(r.right, 150);
}

TEST_F(SizingLoop, AnAlertCancelsItBackToTheStartSize) {
  const PlatWindow s = MakeSizable();
  const PlatAlertProc old = PlatSetAlertProc([](const char*, const char*, int32_t, int32_t) { return int32_t(kPlatAnsOK); });
  gAlertOnSize = true;
  PlatInjectMouseButton(kPlatButtonLeft, true, 98, 78, 1);
  PlatInjectMouseMove(120, 100, 2);
  Pump();
  PlatSetAlertProc(old);
  // The alert runs inside the procedure, before Size is logged.
  EXPECT_EQ(Recorder::Get().Take(),
            (Lines{"NcHitTest S", "SetCursor S", "NcLButtonDown S", "GetMinMaxInfo S", "WindowPosChanging S",
                   "CancelMode S", "Size S 114,94 w=0", "WindowPosChanging S", "Size S 92,72 w=0", "Paint S"}));
  EXPECT_EQ(PlatGetCapture(), 0);
  PlatRect r;
  PlatGetWindowRect(s, &r);
  EXPECT_EQ(r.right, 100);
  EXPECT_EQ(r.bottom, 80);
}

TEST_F(SizingLoop, ThreadsSendsDuringTheLoopAreAllAnswered) {
  const PlatWindow s = MakeSizable();
  constexpr int kSends = 1000;
  std::atomic<int> answered{0};
  PlatInjectMouseButton(kPlatButtonLeft, true, 98, 78, 1);
  std::thread sender([&] {
    for (int i = 0; i < kSends; ++i) {
      if (PlatSendMessage(s, kPlatMsgUser3, 0, 0) == 7) ++answered;
      PlatSleepMs(1);
    }
    PlatInjectMouseButton(kPlatButtonLeft, false, 98, 78, 2);
  });
  PlatMsg m;
  while (answered.load() < kSends || PlatGetCapture() != 0 || PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove)) {
    if (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
  }
  sender.join();
  EXPECT_EQ(answered, kSends);
}

}  // namespace

namespace {

TEST_F(WinInput, StyleChangesReframeTheClientArea) {
  const PlatWindow w = Make("W", PlatRect{10, 10, 110, 90});
  Recorder::Get().Clear();
  EXPECT_EQ(PlatSetWindowStyle(w, kPlatWsCaption | kPlatWsDisabled), uint32_t(kPlatWsVisible));
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"WindowPosChanging W", "Move W", "Size W 94,55 w=0"}));
  EXPECT_EQ(PlatGetWindowStyle(w), uint32_t(kPlatWsVisible | kPlatWsCaption));  // shown and enabled as before
  EXPECT_EQ(PlatSetWindowExStyle(w, kPlatWsExTopmost | kPlatWsExAcceptFiles), 0u);
  EXPECT_EQ(PlatGetWindowExStyle(w), uint32_t(kPlatWsExAcceptFiles));  // topmost stays the z-order's
  EXPECT_TRUE(Recorder::Get().Take().empty()) << "the same frame";
  EXPECT_EQ(PlatSetWindowStyle(0x7FFFFFF, 0), 0u);
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
}

TEST_F(WinInput, SystemCommandsByDefault) {
  struct Case {
    const char* what;
    uint32_t command;
    int32_t queryOpen;  // QueryOpen's answer
    bool minimisedFirst;
    bool closeEnabled;
    Lines log;
    bool exists, iconic, zoomed;
  };
  // A frameless window maximises to the work area: the whole screen.
  const PlatRect work = PlatGetWorkArea();
  const std::string screen = std::to_string(work.right) + "," + std::to_string(work.bottom);
  const Case cases[] = {
      {"close", kPlatScClose, 1, false, true, {"SysCommand W 1 0", "Close W", "Destroy W"}, false, false, false},
      {"close disabled", kPlatScClose, 1, false, false, {"SysCommand W 1 0"}, true, false, false},
      {"minimise", kPlatScMinimize, 1, false, true, {"SysCommand W 2 0", "WindowPosChanging W", "Size W 0,0 w=1"},
       true, true, false},
      {"maximise", kPlatScMaximize, 1, false, true,
       {"SysCommand W 3 0", "WindowPosChanging W", "Move W", "Size W " + screen + " w=2"}, true, false, true},
      {"restore asks first", kPlatScRestore, 1, true, true,
       {"SysCommand W 4 0", "QueryOpen W", "WindowPosChanging W", "Size W 40,30 w=0"}, true, false, false},
      {"restore refused", kPlatScRestore, 0, true, true, {"SysCommand W 4 0", "QueryOpen W"}, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const PlatWindow win = Make("W", PlatRect{10, 10, 50, 40});
    Recorder::Get().answers[kPlatMsgQueryOpen] = c.queryOpen;
    PlatEnableClose(win, c.closeEnabled);
    if (c.minimisedFirst) PlatShowWindow(win, kPlatSwMinimize);
    Recorder::Get().Clear();
    PlatSendMessage(win, kPlatMsgSysCommand, c.command, 0);
    Lines log = Recorder::Get().Take();
    // Activation is not what this test is about.
    log.erase(std::remove_if(log.begin(), log.end(),
                             [](const std::string& l) {
                               return l.find("Activate") != std::string::npos || l.find("Focus") != std::string::npos ||
                                      l.find("ShowWindow") == 0;
                             }),
              log.end());
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(PlatIsWindow(win), c.exists);
    EXPECT_EQ(PlatIsIconic(win), c.iconic);
    EXPECT_EQ(PlatIsZoomed(win), c.zoomed);
    if (c.exists) {
      PlatRect r;
      ASSERT_TRUE(PlatGetRestoredRect(win, &r));
      EXPECT_EQ(r.right, 50);
    }
    TearDown();
  }
}

}  // namespace
