// The X11 display under a real server (Xvfb in ./test.sh): input comes
// through XTest from a second connection, pixels are read back with
// XGetImage.  Without a server the tests skip, unless QX_REQUIRE_DISPLAY=1.
// GoogleTest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "golden_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/rects.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_cursor.h"
#include "platform/qx_draw.h"
#include "platform/qx_event.h"
#include "platform/qx_input.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_paint.h"
#include "platform/qx_png.h"
#include "platform/qx_thread.h"
#include "platform/qx_text.h"
#include "platform/qx_time.h"
#include "platform/qx_uitest.h"
#include "platform/x11/qx_display_x11.h"
#include "platform/x11/qx_x11_internal.h"
#include "tests/mgsource/menu_scene.h"
#include "tests/mgsource/test_support.h"

namespace {

// Left, top, width and height of an X window on the screen.
std::vector<int> Geometry(Display* d, Window x) {
  XWindowAttributes a{};
  Window child;
  int rx = -1, ry = -1;
  XGetWindowAttributes(d, x, &a);
  XTranslateCoordinates(d, x, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
  return {rx, ry, a.width, a.height};
}

struct Logged {
  PlatWindow window;
  uint32_t message;
  PlatWParam wParam;
  PlatLParam lParam;
  uint32_t time;
  bool operator==(const Logged& o) const {
    return window == o.window && message == o.message && wParam == o.wParam && lParam == o.lParam;
  }
};
std::vector<Logged> gLog;
bool gCaptureOnDown = false;
intptr_t gQueryOpen = 1;

bool Logs(uint32_t m) {
  return m == kPlatMsgPaint || (m >= kPlatMsgKeyFirst && m <= kPlatMsgKeyLast) ||
         (m >= kPlatMsgLButtonDown && m <= kPlatMsgMButtonUp) || m == kPlatMsgMouseActivate ||
         m == kPlatMsgActivate || m == kPlatMsgSetFocus || m == kPlatMsgDrawClipboard ||
         m == kPlatMsgSize || m == kPlatMsgQueryOpen || m == kPlatMsgSysCommand;
}

// Paints a 5 x 5 black square at each click.
intptr_t SquareProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgLButtonDown) {
    const PlatObj dc = PlatGetDc(w);
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockNullBrush));
    PlatPatBlt(dc, PlatLowWord(lp), PlatHighWord(lp), 5, 5, kPlatBlackness);
    PlatReleaseDc(w, dc);
    return 0;
  }
  return PlatDefWindowProc(w, m, wp, lp);
}

// The squares, and each typed character written after the last.
int gTyped = 0;
intptr_t ScriptProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgChar) {
    const char c = char(wp);
    const PlatObj dc = PlatGetDc(w);
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockFont));
    PlatTextOut(dc, 8 + 9 * gTyped++, 8, 0, nullptr, &c, 1);
    PlatReleaseDc(w, dc);
    return 0;
  }
  return SquareProc(w, m, wp, lp);
}

// Runs the script over a fresh window and returns its surface's PNG.
std::vector<uint8_t> RunScriptWindow(const std::string& dir) {
  PlatRegisterClass(PlatWindowClass{"ScriptWin", ScriptProc, 0, 0xFFFFFF});
  gTyped = 0;
  const PlatWindow w = PlatCreateWindow("ScriptWin", "Script", kPlatWsPopup, 0, PlatRect{100, 80, 300, 230}, 0);
  PlatShowWindow(w, kPlatSwShowNormal);
  const std::string script = dir + "/steps.txt", png = dir + "/window.png";
  FILE* f = std::fopen(script.c_str(), "w");
  if (!f) return {};
  std::fprintf(f, "wait\nclick 150 100\ntype \"Ab c!\"\nclick 295 225\nkey Shift+Tab\nwait\n");
  std::fclose(f);
  std::vector<uint8_t> bytes;
  if (PlatUiRunScript(script.c_str()) == 0) PlatPngWriteMemory(PlatWindowSurface(w), &bytes);
  PlatDestroyWindow(w);
  return bytes;
}

intptr_t LogProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (Logs(m)) gLog.push_back(Logged{w, m, wp, lp, PlatGetMessageTime()});
  if (m == kPlatMsgLButtonDown && gCaptureOnDown) PlatSetCapture(w);
  if (m == kPlatMsgLButtonUp && gCaptureOnDown) PlatReleaseCapture();
  if (m == kPlatMsgUser0) return 42;
  if (m == kPlatMsgQueryOpen) return gQueryOpen;
  return PlatDefWindowProc(w, m, wp, lp);
}

class X11 : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* need = std::getenv("QX_REQUIRE_DISPLAY");
    // A server resetting after its last client left refuses connections for
    // a moment: tried for 5 s when a display is named.
    test_ = XOpenDisplay(nullptr);
    for (const uint32_t start = PlatTickMs(); !test_ && std::getenv("DISPLAY") && PlatTickMs() - start < 5000;) {
      PlatSleepMs(50);
      test_ = XOpenDisplay(nullptr);
    }
    if (!test_) {
      if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
      GTEST_SKIP() << "no X display";
    }
    int ev, err, major, minor;
    ASSERT_TRUE(XTestQueryExtension(test_, &ev, &err, &major, &minor)) << "the server has no XTest";
    PlatX11Register();
    setenv("QX_UI", "x11", 1);
    ASSERT_TRUE(PlatWindowSystemStart());
    unsetenv("QX_UI");
    ASSERT_STREQ(PlatGetDisplay()->Name(), "x11");
    ASSERT_NE(PlatX11Connection(), nullptr);
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"X11Log", LogProc, 0, 0xFFFFFF}));
    gLog.clear();
    gCaptureOnDown = false;
    gQueryOpen = 1;
  }
  void TearDown() override {
    if (!test_) return;
    PlatWindowsReset();
    PlatX11Sync();
    XCloseDisplay(test_);
  }

  // Until nothing is left: what the test connection sent reaches the
  // server, what the server sent is read, and every message is dispatched.
  void Settle() {
    for (int round = 0; round < 1000; ++round) {
      XSync(test_, False);
      ASSERT_TRUE(PlatX11Sync());
      const int32_t n = PlatUiPump();
      ASSERT_TRUE(PlatX11Sync());
      if (n == 0 && XPending(PlatX11Connection()) == 0 && !PlatQueueHasWork()) return;
    }
    FAIL() << "the display never went idle";
  }

  // The windows, activation and classes go; the test's class comes back.
  void Restart() {
    PlatWindowsReset();
    ASSERT_TRUE(PlatWindowSystemStart());
    PlatRegisterClass(PlatWindowClass{"X11Log", LogProc, 0, 0xFFFFFF});
  }

  PlatWindow Make(const PlatRect& client, bool activate = true) {
    const PlatWindow w = PlatCreateWindow("X11Log", "T", kPlatWsPopup, 0, client, 0);
    PlatShowWindow(w, activate ? kPlatSwShowNormal : kPlatSwShowNoActivate);
    Settle();
    return w;
  }

  void Move(int x, int y) { XTestFakeMotionEvent(test_, DefaultScreen(test_), x, y, CurrentTime), Settle(); }
  void Button(unsigned b, bool down) { XTestFakeButtonEvent(test_, b, down, CurrentTime), Settle(); }
  void Key(KeySym ks, bool down) { XTestFakeKeyEvent(test_, XKeysymToKeycode(test_, ks), down, CurrentTime), Settle(); }

  // The window's X pixels against its surface; the first difference.
  std::string PixelsDiffer(PlatWindow w) {
    const PlatSurface* s = PlatWindowSurface(w);
    const int32_t wd = PlatSurfaceWidth(s), ht = PlatSurfaceHeight(s);
    XImage* img = XGetImage(test_, PlatX11WindowOf(w), 0, 0, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
    if (!img) return "no image";
    std::string diff;
    for (int32_t y = 0; y < ht && diff.empty(); ++y)
      for (int32_t x = 0; x < wd && diff.empty(); ++x) {
        const uint32_t want = PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF;
        const uint32_t got = uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF;
        if (got != want) diff = "at " + std::to_string(x) + "," + std::to_string(y);
      }
    XDestroyImage(img);
    return diff;
  }

  std::vector<Logged> Take(uint32_t only = 0) {
    std::vector<Logged> v;
    for (const Logged& l : gLog)
      if (!only || l.message == only || (only == kPlatMsgLButtonDown && l.message == kPlatMsgLButtonUp)) v.push_back(l);
    gLog.clear();
    return v;
  }

  Display* test_ = nullptr;
};

TEST_F(X11, WindowIsAnXWindowOfItsClientRectShowingItsSurface) {
  const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
  const Window xid = PlatX11WindowOf(w);
  ASSERT_NE(xid, 0u);
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(test_, xid, &a));
  EXPECT_EQ(a.map_state, IsViewable);
  EXPECT_EQ(Geometry(test_, xid), (std::vector<int>{100, 80, 200, 150}));
  // A fill through a context, a gradient set pixel by pixel, then a flush.
  const PlatObj dc = PlatGetDc(w);
  const PlatObj brush = PlatCreateSolidBrush(0x3366CC);
  PlatSelectObject(dc, brush);
  PlatPatBlt(dc, 10, 10, 120, 90, kPlatPatCopy);
  PlatSurface* s = PlatWindowSurface(w);
  for (int32_t y = 100; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x) PlatSurfaceSetPixel(s, x, y, uint32_t(x) | uint32_t(y) << 8 | 0x400000);
  PlatFlush(dc);
  // No pumping: only what the flush itself sent is waited for, so that the
  // server has done it before this test's own connection reads it back.
  XSync(PlatX11Connection(), False);
  EXPECT_EQ(PixelsDiffer(w), "") << "a flush presents at once";
  PlatReleaseDc(w, dc);
  PlatDeleteObject(brush);
  // Moving and resizing the record moves the X window.
  PlatWindowSetContent(w, PlatRect{40, 50, 140, 110});
  Settle();
  EXPECT_EQ(Geometry(test_, xid), (std::vector<int>{40, 50, 100, 60}));
  EXPECT_EQ(PixelsDiffer(w), "");
  // The title, as UTF-8 and as the class the window manager sees.
  PlatWindowSetTitle(w, "caf\xE9");
  Settle();
  char* name = nullptr;
  ASSERT_TRUE(XFetchName(test_, xid, &name));
  EXPECT_STREQ(name, "caf\xE9");
  XFree(name);
  XClassHint cls;
  ASSERT_TRUE(XGetClassHint(test_, xid, &cls));
  EXPECT_STREQ(cls.res_class, "quenlix");
  XFree(cls.res_name), XFree(cls.res_class);
  // Destroying the record destroys the X window.
  PlatDestroyWindow(w);
  Settle();
  EXPECT_EQ(PlatX11WindowOf(w), 0u);
}

TEST_F(X11, ClickGivesClientPointsAndMatchesTheInjectedLog) {
  const PlatWindow a = Make(PlatRect{100, 80, 300, 230});
  gLog.clear();
  const uint32_t before = PlatTickMs();
  Move(150, 100), Button(1, true), Button(1, false);
  const uint32_t after = PlatTickMs();
  const std::vector<Logged> got = Take(kPlatMsgLButtonDown);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (Logged{a, kPlatMsgLButtonDown, kPlatMkLButton, PlatMakeLParam(50, 20), 0}));
  EXPECT_EQ(got[1], (Logged{a, kPlatMsgLButtonUp, 0, PlatMakeLParam(50, 20), 0}));
  EXPECT_TRUE(got[0].time >= before && got[0].time <= after) << "message time is the tick when read";
  // On an inactive window the log equals the one of the same click injected.
  std::vector<std::vector<Logged>> logs;
  for (int viaX = 0; viaX < 2; ++viaX) {
    Restart();
    Make(PlatRect{100, 80, 300, 230}, false);
    Make(PlatRect{400, 80, 500, 230});
    Move(600, 600);
    gLog.clear();
    if (viaX) Move(150, 100), Button(1, true), Button(1, false);
    else PlatUiClick(150, 100);
    logs.push_back(Take());
  }
  EXPECT_FALSE(logs[0].empty());
  EXPECT_EQ(logs[0], logs[1]);
}

TEST_F(X11, KeysGiveKeyDownsAndTheLayoutsCharacters) {
  const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
  const KeyCode q = XKeysymToKeycode(test_, XK_q);
  int per = 0;
  KeySym* old = XGetKeyboardMapping(test_, q, 1, &per);
  ASSERT_NE(old, nullptr);
  std::vector<KeySym> plain(old, old + per);
  XFree(old);
  std::vector<KeySym> acute = plain;
  acute[1] = XK_eacute;  // Shift+Q types e-acute
  typedef std::vector<std::pair<uint32_t, uintptr_t>> Seen;
  struct Case {
    bool remap;
    KeySym key;
    Seen want;
  } cases[] = {
      {false, XK_a, {{kPlatMsgKeyDown, kPlatVkShift}, {kPlatMsgKeyDown, 'A'}, {kPlatMsgChar, 'A'}}},
      {false, XK_KP_Enter, {{kPlatMsgKeyDown, kPlatVkShift}, {kPlatMsgKeyDown, kPlatVkReturn}, {kPlatMsgChar, '\r'}}},
      {true, XK_q, {{kPlatMsgKeyDown, kPlatVkShift}, {kPlatMsgKeyDown, 'Q'}, {kPlatMsgChar, 0xE9}}},
  };
  for (const Case& c : cases) {
    XChangeKeyboardMapping(test_, q, per, c.remap ? acute.data() : plain.data(), 1);
    Settle();
    Key(XK_Shift_L, true), Key(c.key, true), Key(c.key, false), Key(XK_Shift_L, false);
    Seen seen;
    for (const Logged& l : Take()) {
      if (l.message == kPlatMsgKeyDown || l.message == kPlatMsgChar) seen.emplace_back(l.message, l.wParam);
      if (l.message == kPlatMsgKeyDown && l.wParam == kPlatVkReturn) {
        EXPECT_EQ((l.lParam >> 24) & 1, 1) << "extended";
      }
      EXPECT_EQ(l.window, w);
    }
    EXPECT_EQ(seen, c.want) << c.key;
  }
  XChangeKeyboardMapping(test_, q, per, plain.data(), 1);
}

TEST_F(X11, HeldKeyRepeatsWithThePreviousStateBit) {
  Make(PlatRect{100, 80, 300, 230});
  unsigned oldDelay = 0, oldInterval = 0;
  XkbGetAutoRepeatRate(test_, XkbUseCoreKbd, &oldDelay, &oldInterval);
  ASSERT_TRUE(XkbSetAutoRepeatRate(test_, XkbUseCoreKbd, 200, 50));
  XTestFakeKeyEvent(test_, XKeysymToKeycode(test_, XK_b), True, CurrentTime);
  Settle();
  // Held for 600 ms, and past that until a repeat came (5 s at most).
  const uint32_t start = PlatTickMs();
  auto repeats = [] {
    return std::count_if(gLog.begin(), gLog.end(),
                         [](const Logged& l) { return l.message == kPlatMsgKeyDown && ((l.lParam >> 30) & 1); });
  };
  PlatEvent* never = PlatEventCreate(false);
  while (PlatTickMs() - start < 600 || (repeats() == 0 && PlatTickMs() - start < 5000)) {
    PlatWaitEventOrInput(never, 20);
    PlatUiPump();
  }
  PlatEventDestroy(never);
  Key(XK_b, false);
  XkbSetAutoRepeatRate(test_, XkbUseCoreKbd, oldDelay, oldInterval);
  std::vector<Logged> downs, ups;
  for (const Logged& l : Take()) {
    if (l.message == kPlatMsgKeyDown) downs.push_back(l);
    if (l.message == kPlatMsgKeyUp) ups.push_back(l);
  }
  ASSERT_GE(downs.size(), 2u);
  EXPECT_EQ((downs[0].lParam >> 30) & 1, 0) << "the first press";
  for (size_t i = 1; i < downs.size(); ++i) {
    EXPECT_EQ((downs[i].lParam >> 30) & 1, 1);
    EXPECT_GE(downs[i].lParam & 0xFFFF, 2);
  }
  ASSERT_EQ(ups.size(), 1u);
  EXPECT_EQ(ups[0].wParam, uintptr_t('B'));
}

TEST_F(X11, CoveringAndUncoveringCausesNoPaint) {
  const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
  PlatSurface* s = PlatWindowSurface(w);
  for (int32_t y = 0; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x) PlatSurfaceSetPixel(s, x, y, uint32_t(x * 7) | uint32_t(y) << 16);
  Settle();
  gLog.clear();
  XSetWindowAttributes a;
  a.override_redirect = True;
  a.background_pixel = 0x00FF00;
  const Window cover = XCreateWindow(test_, DefaultRootWindow(test_), 50, 50, 200, 120, 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
  XMapRaised(test_, cover);
  Settle();
  XUnmapWindow(test_, cover);
  Settle();
  XDestroyWindow(test_, cover);
  Settle();
  EXPECT_TRUE(Take(kPlatMsgPaint).empty());
  EXPECT_EQ(PixelsDiffer(w), "");
}

TEST_F(X11, CaptureKeepsTheReleaseInTheCapturingWindow) {
  struct Case {
    bool capture;
    bool releaseInW;
  };
  for (const Case c : {Case{true, true}, Case{false, false}}) {
    SCOPED_TRACE(c.capture);
    Restart();
    const PlatWindow v = Make(PlatRect{400, 80, 500, 230});
    const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
    gCaptureOnDown = c.capture;
    Move(150, 100), Button(1, true);
    Move(450, 120);
    Button(1, false);
    const std::vector<Logged> got = Take(kPlatMsgLButtonDown);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].window, w);
    EXPECT_EQ(got[1].window, c.releaseInW ? w : v);
    EXPECT_EQ(got[1].lParam, c.releaseInW ? PlatMakeLParam(350, 40) : PlatMakeLParam(50, 40));
    EXPECT_EQ(PlatGetCapture(), 0);
  }
}

// A viewable top-level window with that name, waited for (10 s at most).
Window WaitForNamed(Display* d, const char* name) {
  const uint32_t start = PlatTickMs();
  while (PlatTickMs() - start < 10000) {
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    Window found = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) {
      for (unsigned i = 0; i < n && !found; ++i) {
        char* got = nullptr;
        XWindowAttributes a;
        if (XFetchName(d, kids[i], &got) && got && std::strcmp(got, name) == 0 && XGetWindowAttributes(d, kids[i], &a) &&
            a.map_state == IsViewable)
          found = kids[i];
        if (got) XFree(got);
      }
      if (kids) XFree(kids);
    }
    if (found) return found;
    PlatSleepMs(5);
  }
  return 0;
}

TEST_F(X11, AlertIsCentredAndAnswersKeysWhileServingSends) {
  const PlatWindow owner = Make(PlatRect{100, 80, 300, 230});
  struct Case {
    KeySym key;
    int32_t answer;
  };
  for (const Case c : {Case{XK_Return, kPlatAnsOK}, Case{XK_Escape, kPlatAnsCancel}}) {
    intptr_t sent = 0;
    int centreX = -1, centreY = -1;
    std::atomic<bool> answered{false};
    std::thread helper([&] {
      Display* d = XOpenDisplay(nullptr);
      if (!d) return;
      if (const Window x = WaitForNamed(d, "Seven")) {
        const std::vector<int> g = Geometry(d, x);
        centreX = g[0] + g[2] / 2, centreY = g[1] + g[3] / 2;
        sent = PlatSendMessage(owner, kPlatMsgUser0, 0, 0);
        // The key is typed once the alert holds the focus; on a slow machine
        // it may come after the window shows, so the key is typed again
        // while the alert stays up.
        const uint32_t start = PlatTickMs();
        uint32_t typed = 0;
        while (!answered.load() && PlatTickMs() - start < 20000) {
          Window focus = 0;
          int revert = 0;
          XGetInputFocus(d, &focus, &revert);
          if (focus == x && (typed == 0 || PlatTickMs() - typed > 2000)) {
            XTestFakeKeyEvent(d, XKeysymToKeycode(d, c.key), True, CurrentTime);
            XTestFakeKeyEvent(d, XKeysymToKeycode(d, c.key), False, CurrentTime);
            XSync(d, False);
            typed = PlatTickMs();
          }
          PlatSleepMs(10);
        }
      }
      XCloseDisplay(d);
    });
    const int32_t got = PlatAlert("Seven", "Proceed with the seven steps?", kPlatOKCancel, kPlatIconInfo);
    answered.store(true);
    helper.join();
    EXPECT_EQ(got, c.answer);
    EXPECT_EQ(sent, 42) << "a send from another thread is answered while the alert is up";
    const PlatRect work = PlatGetWorkArea();
    EXPECT_NEAR(centreX, (work.left + work.right) / 2, 1);
    EXPECT_NEAR(centreY, (work.top + work.bottom) / 2, 1);
    Settle();
  }
  EXPECT_EQ(PlatGetActiveWindow(), owner) << "activation returns to the owner";
}

// What the selection's owner answers for a target: the reply's type and bytes.
bool AskSelection(Display* d, Window requestor, Atom target, Atom* type, std::string* bytes,
                  const std::function<void()>& serve) {
  const Atom clip = XInternAtom(d, "CLIPBOARD", False), prop = XInternAtom(d, "TEST_PROP", False);
  XConvertSelection(d, clip, target, prop, requestor, CurrentTime);
  XSync(d, False);
  XEvent e;
  const uint32_t start = PlatTickMs();
  while (!XCheckTypedWindowEvent(d, requestor, SelectionNotify, &e)) {
    if (PlatTickMs() - start > 10000) return false;
    serve();
    XSync(d, False);
  }
  if (e.xselection.property == None) return false;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  XGetWindowProperty(d, requestor, prop, 0, 1 << 20, True, AnyPropertyType, type, &format, &n, &after, &data);
  if (!data) return false;
  bytes->assign(reinterpret_cast<char*>(data), format == 8 ? n : n * sizeof(long));
  XFree(data);
  return true;
}

TEST_F(X11, ClipboardTextGoesBothWaysAndAnotherOwnerIsNoticed) {
  const PlatWindow frame = PlatCreateWindow("X11Log", "Frame", kPlatWsPopup, 0, PlatRect{0, 0, 10, 10}, 0);
  PlatSetFrameWindow(frame);
  const PlatWindow a = Make(PlatRect{100, 80, 300, 230});
  const PlatWindow b = Make(PlatRect{400, 80, 500, 230});
  ASSERT_TRUE(PlatOpenClipboard(a));
  ASSERT_TRUE(PlatEmptyClipboard());
  const PlatGlobal h = PlatGlobalAlloc(0, 5);
  std::memcpy(PlatGlobalLock(h), "a\r\nb", 5);
  PlatGlobalUnlock(h);
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipText, h));
  ASSERT_TRUE(PlatCloseClipboard());
  // A second client reads it as UTF8_STRING with LF line ends.
  const Window req = XCreateWindow(test_, DefaultRootWindow(test_), 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
  Atom type = 0;
  std::string bytes;
  const Atom utf8 = XInternAtom(test_, "UTF8_STRING", False);
  ASSERT_TRUE(AskSelection(test_, req, utf8, &type, &bytes, [&] { Settle(); }));
  EXPECT_EQ(type, utf8);
  EXPECT_EQ(bytes, "a\nb");
  // A bitmap put beside the text goes out as a PNG file, offered in TARGETS.
  const uint32_t px[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x123456, 0};
  ASSERT_TRUE(PlatOpenClipboard(a));
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipBitmap, uintptr_t(PlatCreateBitmap(3, 2, 32, px, sizeof px))));
  ASSERT_TRUE(PlatCloseClipboard());
  const Atom png = XInternAtom(test_, "image/png", False);
  ASSERT_TRUE(AskSelection(test_, req, XInternAtom(test_, "TARGETS", False), &type, &bytes, [&] { Settle(); }));
  EXPECT_EQ(type, Atom(XA_ATOM));
  const Atom* offered = reinterpret_cast<const Atom*>(bytes.data());
  EXPECT_NE(std::find(offered, offered + bytes.size() / sizeof(Atom), png), offered + bytes.size() / sizeof(Atom));
  ASSERT_TRUE(AskSelection(test_, req, png, &type, &bytes, [&] { Settle(); }));
  PlatSurface* img = PlatPngReadMemory(bytes.data(), bytes.size());
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(std::make_pair(PlatSurfaceWidth(img), PlatSurfaceHeight(img)), std::make_pair(3, 2));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(PlatSurfaceGetPixel(img, i % 3, i / 3) & 0xFFFFFF, px[i]) << i;
  PlatSurfaceDestroy(img);
  // Another program takes the selection with "x", LF, "y", e-acute and a
  // character outside the code page.
  std::atomic<bool> owning{false}, stop{false};
  std::thread other([&] {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    const Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    const Atom clip = XInternAtom(d, "CLIPBOARD", False), u8 = XInternAtom(d, "UTF8_STRING", False),
               targets = XInternAtom(d, "TARGETS", False), incr = XInternAtom(d, "INCR", False);
    // The second read of the text is sent incrementally, in two pieces.
    const std::string text = "x\ny \xC3\xA9\xE4\xB8\xAD";
    int reads = 0;
    std::vector<std::string> pieces;
    Window to = 0;
    Atom toProp = 0;
    XSetSelectionOwner(d, clip, w, CurrentTime);
    XSync(d, False);
    owning = true;
    const uint32_t start = PlatTickMs();
    while (!stop && PlatTickMs() - start < 20000) {
      while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == PropertyNotify && e.xproperty.state == PropertyDelete && e.xproperty.window == to &&
            e.xproperty.atom == toProp && !pieces.empty()) {
          XChangeProperty(d, to, toProp, u8, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(pieces.front().data()), int(pieces.front().size()));
          pieces.erase(pieces.begin());
          XFlush(d);
        }
        if (e.type != SelectionRequest) continue;
        const XSelectionRequestEvent& r = e.xselectionrequest;
        XSelectionEvent reply{SelectionNotify, 0, True, d, r.requestor, r.selection, r.target, r.property, r.time};
        if (r.target == u8 && ++reads == 2) {
          pieces = {text.substr(0, 3), text.substr(3), ""};
          to = r.requestor, toProp = r.property;
          XSelectInput(d, to, PropertyChangeMask);
          const long size = long(text.size());
          XChangeProperty(d, to, toProp, incr, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&size), 1);
        } else if (r.target == u8) {
          XChangeProperty(d, r.requestor, r.property, u8, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
        } else if (r.target == targets) {
          const Atom t[] = {targets, u8};
          XChangeProperty(d, r.requestor, r.property, XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(t), 2);
        } else {
          reply.property = None;
        }
        XSendEvent(d, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(d);
      }
      PlatSleepMs(2);
    }
    XCloseDisplay(d);
  });
  while (!owning) PlatSleepMs(2);
  gLog.clear();
  PlatSetActiveWindow(a);
  Settle();
  const auto draws = Take(kPlatMsgDrawClipboard);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].window, frame);
  ASSERT_TRUE(PlatOpenClipboard(b));
  EXPECT_TRUE(PlatIsClipboardFormatAvailable(kPlatClipText));
  for (int read = 0; read < 2; ++read) {  // the second one incremental
    const PlatGlobal got = PlatGlobal(PlatGetClipboardData(kPlatClipText));
    ASSERT_NE(got, 0u) << read;
    EXPECT_STREQ(static_cast<const char*>(PlatGlobalLock(got)), "x\r\ny \xE9?");
    PlatGlobalUnlock(got);
  }
  PlatCloseClipboard();
  stop = true;
  other.join();
  XDestroyWindow(test_, req);
  PlatClipboardReset();
}

TEST_F(X11, DeleteWindowIconifyAndRestoreFromOtherClients) {
  const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
  const Window xid = PlatX11WindowOf(w);
  auto deleteWindow = [&] {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = xid;
    e.xclient.message_type = XInternAtom(test_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(test_, "WM_DELETE_WINDOW", False));
    XSendEvent(test_, xid, False, NoEventMask, &e);
    Settle();
  };
  auto codes = [&] {
    std::vector<std::string> v;
    for (const Logged& l : Take())
      if (l.message == kPlatMsgSize || l.message == kPlatMsgQueryOpen || l.message == kPlatMsgSysCommand)
        v.push_back(std::to_string(l.message) + ":" + std::to_string(l.wParam));
    return v;
  };
  const std::string size = std::to_string(kPlatMsgSize) + ":", query = std::to_string(kPlatMsgQueryOpen) + ":0";
  // Iconified by another client (as a window manager does), then mapped
  // again: refused by QueryOpen it goes back to its icon; then granted.
  struct Case {
    intptr_t queryOpen;
    bool iconicAfter;
  };
  for (const Case c : {Case{0, true}, Case{1, false}}) {
    SCOPED_TRACE(c.queryOpen);
    gLog.clear();
    std::vector<std::string> want;
    if (!PlatIsIconic(w)) {
      XUnmapWindow(test_, xid);
      Settle();
      want.push_back(size + std::to_string(kPlatSizeMinimized));
    }
    EXPECT_TRUE(PlatIsIconic(w));
    gQueryOpen = c.queryOpen;
    XMapWindow(test_, xid);
    Settle();
    want.push_back(query);
    if (!c.iconicAfter) want.push_back(size + std::to_string(kPlatSizeRestored));
    EXPECT_EQ(codes(), want);
    EXPECT_EQ(PlatIsIconic(w), c.iconicAfter);
    XWindowAttributes a;
    XGetWindowAttributes(test_, xid, &a);
    EXPECT_EQ(a.map_state == IsViewable, !c.iconicAfter);
  }
  // The window manager is offered Close only while it is enabled.
  auto motifFunctions = [&] {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    const Atom hints = XInternAtom(test_, "_MOTIF_WM_HINTS", False);
    XGetWindowProperty(test_, xid, hints, 0, 5, False, hints, &type, &format, &n, &after, &data);
    const long f = data && n == 5 ? reinterpret_cast<long*>(data)[1] : -1;
    if (data) XFree(data);
    return f;
  };
  EXPECT_EQ(motifFunctions(), 4 | 32) << "move and close";
  PlatEnableClose(w, false);
  Settle();
  EXPECT_EQ(motifFunctions(), 4);
  // WM_DELETE_WINDOW: ignored while Close is disabled, then SysCommand(Close).
  PlatEnableClose(w, false);
  deleteWindow();
  EXPECT_TRUE(codes().empty());
  EXPECT_TRUE(PlatIsWindow(w));
  PlatEnableClose(w, true);
  deleteWindow();
  EXPECT_EQ(codes(), (std::vector<std::string>{std::to_string(kPlatMsgSysCommand) + ":" + std::to_string(kPlatScClose)}));
  EXPECT_FALSE(PlatIsWindow(w)) << "the default Close destroys";
}

TEST_F(X11, WindowManagersMaximisedStateReachesTheWindow) {
  const PlatWindow w = PlatCreateWindow("X11Log", "T", kPlatWsPopup | kPlatWsMaximizeBox, 0, PlatRect{100, 80, 300, 230}, 0);
  PlatShowWindow(w, kPlatSwShowNormal);
  Settle();
  const Window xid = PlatX11WindowOf(w);
  const Atom state = XInternAtom(test_, "_NET_WM_STATE", False);
  const Atom both[] = {XInternAtom(test_, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                       XInternAtom(test_, "_NET_WM_STATE_MAXIMIZED_HORZ", False)};
  struct Case {
    int atoms;  // of both, as a window manager writes them
    bool zoomed;
    uint32_t size;
  } cases[] = {{2, true, kPlatSizeMaximized}, {1, false, kPlatSizeRestored}, {2, true, kPlatSizeMaximized},
               {0, false, kPlatSizeRestored}};
  for (const Case& c : cases) {
    gLog.clear();
    XChangeProperty(test_, xid, state, XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(both),
                    c.atoms);
    Settle();
    EXPECT_EQ(PlatIsZoomed(w), c.zoomed) << c.atoms;
    const auto sizes = Take(kPlatMsgSize);
    ASSERT_FALSE(sizes.empty()) << c.atoms;
    EXPECT_EQ(sizes.back().wParam, c.size);
  }
}

TEST_F(X11, LostConnectionPostsCloseToTheFrame) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const PlatWindow frame = PlatCreateWindow("X11Log", "Frame", kPlatWsPopup, 0, PlatRect{0, 0, 10, 10}, 0);
  PlatSetFrameWindow(frame);
  const PlatWindow w = Make(PlatRect{100, 80, 300, 230});
  auto lose = [&] {
    // Another client kills our connection, as a server going away would.
    XKillClient(test_, PlatX11WindowOf(w));
    XSync(test_, False);
    PlatX11Sync();
    PlatMsg m;
    const bool close = PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove) && m.window == frame && m.message == kPlatMsgClose;
    // Screenshots fall back to the headless composition: the window's pixels.
    char dir[] = "/tmp/qxlostXXXXXX";
    bool shot = mkdtemp(dir) != nullptr;
    const std::string screen = std::string(dir) + "/screen.png";
    shot = shot && PlatUiSnapshot(screen.c_str()) == 0;
    PlatSurface* s = shot ? PlatPngReadFile(screen.c_str()) : nullptr;
    shot = s && PlatSurfaceGetPixel(s, 150, 150) == PlatSurfaceGetPixel(PlatWindowSurface(w), 50, 70);
    PlatSurfaceDestroy(s);
    unlink(screen.c_str());
    setenv("QX_SNAPSHOT_AT_EXIT", dir, 1);
    shot = shot && PlatUiSnapshotAtExit() >= 1 && access(screen.c_str(), R_OK) == 0;
    unsetenv("QX_SNAPSHOT_AT_EXIT");
    std::system(("rm -rf " + std::string(dir)).c_str());
    std::_Exit(close && shot && PlatX11Connection() == nullptr ? 0 : 1);
  };
  EXPECT_EXIT(lose(), ::testing::ExitedWithCode(0), "lost");
}

TEST_F(X11, WindowKindsAndOwnersReachTheWindowManager) {
  const PlatWindow owner = Make(PlatRect{300, 300, 400, 400});
  // A class saving the bits under its windows makes menu windows, which
  // have the modal frame too.
  PlatRegisterClass(PlatWindowClass{"X11Menu", LogProc, kPlatCsSaveBits, 0xFFFFFF});
  struct Case {
    uint32_t style, ex;
    bool redirect;
    const char* type;
    const char* cls = "X11Log";
  } cases[] = {{kPlatWsPopup, kPlatWsExToolWindow, true, "_NET_WM_WINDOW_TYPE_POPUP_MENU"},
               {kPlatWsPopup, kPlatWsExTopmost | kPlatWsExDlgModalFrame, true, "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                "X11Menu"},
               {kPlatWsPopup, kPlatWsExTopmost, true, "_NET_WM_WINDOW_TYPE_TOOLTIP"},
               {kPlatWsPopup | kPlatWsCaption, kPlatWsExToolWindow, false, "_NET_WM_WINDOW_TYPE_UTILITY"},
               {kPlatWsCaption, kPlatWsExDlgModalFrame, false, "_NET_WM_WINDOW_TYPE_DIALOG"},
               {kPlatWsPopup, 0, false, "_NET_WM_WINDOW_TYPE_NORMAL"}};
  for (const Case& c : cases) {
    const PlatWindow w = PlatCreateWindow(c.cls, "M", c.style, c.ex, PlatRect{10, 10, 60, 40}, owner);
    PlatShowWindow(w, kPlatSwShowNoActivate);
    Settle();
    const Window xid = PlatX11WindowOf(w);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(test_, xid, &a));
    EXPECT_EQ(bool(a.override_redirect), c.redirect) << c.type;
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(test_, xid, XInternAtom(test_, "_NET_WM_WINDOW_TYPE", False), 0, 1, False, XA_ATOM, &type,
                       &format, &n, &after, &data);
    ASSERT_TRUE(data && n == 1) << c.type;
    EXPECT_EQ(*reinterpret_cast<long*>(data), long(XInternAtom(test_, c.type, False))) << c.type;
    XFree(data);
    Window transientFor = 0;
    EXPECT_TRUE(XGetTransientForHint(test_, xid, &transientFor));
    EXPECT_EQ(transientFor, PlatX11WindowOf(owner));
    PlatDestroyWindow(w);
  }
  // The server's stacking follows the records' z-order (XQueryTree lists
  // bottom first).
  const PlatWindow top = Make(PlatRect{350, 350, 450, 450});
  auto order = [&] {
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    XQueryTree(test_, DefaultRootWindow(test_), &root, &parent, &kids, &n);
    std::vector<Window> ours;
    for (unsigned i = 0; i < n; ++i)
      if (kids[i] == PlatX11WindowOf(owner) || kids[i] == PlatX11WindowOf(top)) ours.push_back(kids[i]);
    if (kids) XFree(kids);
    return ours;
  };
  EXPECT_EQ(order(), (std::vector<Window>{PlatX11WindowOf(owner), PlatX11WindowOf(top)}));
  PlatWindowRaise(owner);
  Settle();
  EXPECT_EQ(order(), (std::vector<Window>{PlatX11WindowOf(top), PlatX11WindowOf(owner)}));
}

TEST_F(X11, ScreenAfterXTestClicksEqualsTheInjectedOne) {
  PlatRegisterClass(PlatWindowClass{"Squares", SquareProc, 0, 0xFFFFFF});
  const Window root = DefaultRootWindow(test_);
  XSetWindowBackground(test_, root, 0x808080);
  XClearWindow(test_, root);
  const PlatRect client{100, 80, 300, 230};
  const int clicks[3][2] = {{110, 90}, {200, 150}, {295, 225}};
  // The same clicks injected, composed as the headless display composes.
  PlatSurface* want = PlatSurfaceCreate(PlatGetDisplay()->Width(), PlatGetDisplay()->Height(), kPlatRgb32);
  PlatSurfaceClear(want, 0x808080);
  std::vector<PlatSurface*> got;
  for (int viaX = 0; viaX < 2; ++viaX) {
    const PlatWindow w = PlatCreateWindow("Squares", "S", kPlatWsPopup, 0, client, 0);
    PlatShowWindow(w, kPlatSwShowNormal);
    Settle();
    for (const auto& c : clicks) {
      if (viaX) Move(c[0], c[1]), Button(1, true), Button(1, false);
      else PlatUiClick(c[0], c[1]);
    }
    Settle();
    if (!viaX) {
      const PlatSurface* s = PlatWindowSurface(w);
      for (int32_t y = 0; y < PlatSurfaceHeight(s); ++y)
        for (int32_t x = 0; x < PlatSurfaceWidth(s); ++x)
          PlatSurfaceSetPixel(want, client.left + x, client.top + y, PlatSurfaceGetPixel(s, x, y));
    } else {
      got.push_back(PlatSurfaceCreate(0, 0, kPlatRgb32));
      ASSERT_TRUE(PlatGetDisplay()->Compose(got.back()));
    }
    PlatDestroyWindow(w);
    Settle();
  }
  const int32_t wd = PlatSurfaceWidth(want), ht = PlatSurfaceHeight(want);
  ASSERT_EQ(PlatSurfaceWidth(got[0]), wd);
  PlatSurface* diff = PlatSurfaceCreate(wd, ht, kPlatRgb32);
  int64_t differ = 0;
  for (int32_t y = 0; y < ht; ++y)
    for (int32_t x = 0; x < wd; ++x) {
      const bool same = (PlatSurfaceGetPixel(want, x, y) & 0xFFFFFF) == (PlatSurfaceGetPixel(got[0], x, y) & 0xFFFFFF);
      differ += !same;
      PlatSurfaceSetPixel(diff, x, y, same ? 0xFFFFFF : 0xFF0000);
    }
  EXPECT_EQ(differ, 0);
  if (differ) {
    PlatPngWriteFile(want, "x11_clicks_headless.png");
    PlatPngWriteFile(got[0], "x11_clicks_x11.png");
    PlatPngWriteFile(diff, "x11_clicks_diff.png");
  }
  EXPECT_EQ(PlatSurfaceGetPixel(want, 112, 92) & 0xFFFFFF, 0u) << "a square was drawn";
  PlatSurfaceDestroy(want);
  PlatSurfaceDestroy(got[0]);
  PlatSurfaceDestroy(diff);
}

TEST_F(X11, ScriptGivesTheSameSurfaceAsHeadless) {
  char dir[] = "/tmp/qx_x11_scriptXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  // The headless half runs in a process of its own without a display.
  const std::string cmd = std::string("env -u DISPLAY -u QX_UI QX_X11_SCRIPT_DIR=") + dir + " '" + self +
                          "' --gtest_filter=X11Script.HeadlessHalf >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::vector<uint8_t> headless;
  if (FILE* f = std::fopen((std::string(dir) + "/headless.png").c_str(), "rb")) {
    uint8_t buf[4096];
    size_t k;
    while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) headless.insert(headless.end(), buf, buf + k);
    std::fclose(f);
  }
  const std::vector<uint8_t> x11 = RunScriptWindow(dir);
  Settle();
  ASSERT_FALSE(x11.empty());
  EXPECT_EQ(gTyped, 6) << "every character drawn, the tab of Shift+Tab too";
  EXPECT_EQ(x11, headless) << "one script, the same window surface headless and on X11";
  (void)!std::system((std::string("rm -rf '") + dir + "'").c_str());
}

// Not a test of its own: the headless half of the one above.
TEST(X11Script, HeadlessHalf) {
  const char* dir = std::getenv("QX_X11_SCRIPT_DIR");
  if (!dir) GTEST_SKIP() << "run by ScriptGivesTheSameSurfaceAsHeadless";
  ASSERT_TRUE(PlatWindowSystemStart());
  ASSERT_STREQ(PlatGetDisplay()->Name(), "headless");
  const std::vector<uint8_t> png = RunScriptWindow(dir);
  ASSERT_FALSE(png.empty());
  FILE* f = std::fopen((std::string(dir) + "/headless.png").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(png.data(), 1, png.size(), f);
  std::fclose(f);
}

// ---- Conversions ------------------------------------------------------------

TEST(X11Convert, KeysymsMapToVirtualKeys) {
  struct Case {
    KeySym ks;
    uint32_t vk;
    bool ext;
  } cases[] = {
      {XK_a, 'A', false},          {XK_Z, 'Z', false},           {XK_7, '7', false},
      {XK_KP_Enter, kPlatVkReturn, true}, {XK_Return, kPlatVkReturn, false}, {XK_Left, kPlatVkLeft, true},
      {XK_KP_Left, kPlatVkLeft, false}, {XK_Delete, kPlatVkDelete, true}, {XK_KP_Divide, kPlatVkDivide, true},
      {XK_KP_3, kPlatVkNumpad0 + 3, false}, {XK_F12, kPlatVkF12, false}, {XK_bracketleft, kPlatVkLBracket, false},
      {XK_Control_R, kPlatVkControl, false}, {XK_eacute, 0, false},
  };
  for (const Case& c : cases) {
    bool ext = !c.ext;
    EXPECT_EQ(qxx11::VkOfKeysym(c.ks, &ext), c.vk) << c.ks;
    EXPECT_EQ(ext, c.ext) << c.ks;
  }
}

TEST(X11Convert, TextBetweenCodePage1252AndUtf8) {
  struct Case {
    std::string cp, utf8;
  } cases[] = {{"abc", "abc"}, {"caf\xE9", "caf\xC3\xA9"}, {"\x80 5", "\xE2\x82\xAC 5"}, {"", ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(qxx11::Cp1252ToUtf8(c.cp), c.utf8);
    EXPECT_EQ(qxx11::Utf8ToCp1252(c.utf8), c.cp);
  }
  struct Lines {
    std::string crlf, lf;
  } lines[] = {{"a\r\nb", "a\nb"}, {"\r\n\r\n", "\n\n"}, {"a\rb", "a\rb"}, {"end\r\n", "end\n"}};
  for (const Lines& l : lines) {
    EXPECT_EQ(qxx11::CrLfToLf(l.crlf), l.lf);
    EXPECT_EQ(qxx11::LfToCrLf(l.lf), l.crlf == "a\rb" ? "a\rb" : l.crlf);
  }
  EXPECT_EQ(qxx11::LfToCrLf("a\r\nb\nc"), "a\r\nb\r\nc") << "line ends already native stay";
  // Outside the code page, bad and cut sequences become "?".
  EXPECT_EQ(qxx11::Utf8ToCp1252("\xE4\xB8\xAD|\xFF|\xC3"), "?|?|?");
  const char latin[] = {'\xE9', '\x85', 'q'};
  EXPECT_EQ(qxx11::CharOfLatin1(latin, 1), 0xE9);
  EXPECT_EQ(qxx11::CharOfLatin1(latin + 1, 1), 0) << "C1 controls give no character";
  EXPECT_EQ(qxx11::CharOfLatin1(latin, 2), 0);
}

TEST(X11Convert, CursorsBecomeSourceAndMaskPlanes) {
  // One row of each kind: AND/XOR 0/0 black, 0/1 white, 1/0 screen, 1/1 invert.
  uint8_t andPlane[kPlatCursorPlaneBytes], xorPlane[kPlatCursorPlaneBytes];
  std::memset(andPlane, 0xFF, sizeof andPlane);
  std::memset(xorPlane, 0, sizeof xorPlane);
  struct Row {
    int y;
    uint8_t a, x;
    bool mask, source;
  } rows[] = {{0, 0x00, 0x00, true, true}, {1, 0x00, 0xFF, true, false}, {2, 0xFF, 0x00, false, false},
              {3, 0xFF, 0xFF, true, true}};
  for (const Row& r : rows) std::memset(andPlane + r.y * 4, r.a, 4), std::memset(xorPlane + r.y * 4, r.x, 4);
  const PlatCursor c = PlatCreateCursor(3, 4, andPlane, xorPlane);
  ASSERT_NE(c, 0u);
  std::vector<uint8_t> source, mask;
  ASSERT_TRUE(qxx11::CursorPlanes(c, &source, &mask));
  for (const Row& r : rows)
    for (int b = 0; b < 4; ++b) {
      EXPECT_EQ(mask[size_t(r.y * 4 + b)], r.mask ? 0xFF : 0) << r.y;
      EXPECT_EQ(source[size_t(r.y * 4 + b)], r.source ? 0xFF : 0) << r.y;
    }
  EXPECT_EQ(mask[4 * 4], 0) << "the rest is transparent";
  int32_t hx = 0, hy = 0;
  EXPECT_TRUE(PlatCursorHotSpot(c, &hx, &hy));
  EXPECT_EQ(std::make_pair(hx, hy), std::make_pair(3, 4));
  PlatDestroyCursor(c);
  EXPECT_FALSE(qxx11::CursorPlanes(c, &source, &mask));
}

TEST(X11Convert, PixelsToVisualsAndChangedBands) {
  const qxx11::Masks direct = qxx11::MasksOf(0xFF0000, 0xFF00, 0xFF);
  const qxx11::Masks bgr = qxx11::MasksOf(0xFF, 0xFF00, 0xFF0000);
  const qxx11::Masks r565 = qxx11::MasksOf(0xF800, 0x7E0, 0x1F);
  EXPECT_TRUE(direct.direct);
  EXPECT_EQ(qxx11::ConvertPixel(direct, 0xFF123456), 0x123456u);
  EXPECT_EQ(qxx11::ConvertPixel(bgr, 0xFF123456), 0x563412u);
  EXPECT_EQ(qxx11::ConvertPixel(r565, 0xFFFF8040), (0x1Fu << 11) | (0x20u << 5) | 0x08u);
  // Changed rows in runs; the shown copy catches up.
  std::vector<uint32_t> now(8 * 6, 1), shown(8 * 6, 1);
  now[1 * 8 + 2] = now[2 * 8 + 5] = now[4 * 8 + 7] = 9;
  const auto bands = qxx11::ChangedBands(now.data(), shown.data(), 8, 6);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ((std::vector<int32_t>{bands[0].left, bands[0].top, bands[0].right, bands[0].bottom}),
            (std::vector<int32_t>{2, 1, 6, 3}));
  EXPECT_EQ((std::vector<int32_t>{bands[1].left, bands[1].top, bands[1].right, bands[1].bottom}),
            (std::vector<int32_t>{7, 4, 8, 5}));
  EXPECT_EQ(now, shown);
  EXPECT_TRUE(qxx11::ChangedBands(now.data(), shown.data(), 8, 6).empty());
}

}  // namespace

namespace {

int32 gDrawEvents = 0;
int32 DrawSquare(WEventRecord* e, uInt32) {
  if (e->code != weWindDraw) return 0;
  ++gDrawEvents;
  const Rect r{10, 20, 60, 90};
  DSelectNormPen(0x3366CC, 0);
  DPaintRect(&r);
  return 0;
}

// A window of the window manager shows on the server what its draw event
// drew into the surface that headless runs show.
TEST_F(X11, AWindowManagerWindowIsDrawnByItsDrawEvent) {
  EnsureManagers();
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  const Rect place{80, 100, 230, 300};
  const WindowRef w = WCreate(0x000C, nullptr, &DrawSquare, &place, 0, 1, 0);
  ASSERT_NE(w, kWNoWindow);
  Settle();
  const PlatWindow host = WHostWindow(w);
  EXPECT_GE(gDrawEvents, 1);
  EXPECT_EQ(PlatSurfaceGetPixel(PlatWindowSurface(host), 40, 30) & 0xFFFFFF, 0x3366CCu);
  EXPECT_EQ(PixelsDiffer(host), "");
  WDestroyAllWindows();
  DDisposeDraw();
}

}  // namespace

namespace {

std::vector<WEventRecord> gProcEvents;
int32 LogEvent(WEventRecord* e, uInt32) {
  gProcEvents.push_back(*e);
  return 0;
}

// Real keys, clicks and a wheel notch through the window procedure make the
// events the headless injection makes.
TEST_F(X11, XTestInputThroughTheWindowProcedureLogsAsHeadless) {
  EnsureManagers();
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
  WBuildKeyTable();
  const Rect place{100, 100, 300, 400};
  const WindowRef w = WCreate(0x1C, nullptr, &LogEvent, &place, 0, 1, 0);
  ASSERT_NE(w, kWNoWindow);
  Settle();
  gProcEvents.clear();
  Key(XK_Control_L, true);
  Key(XK_a, true);
  Key(XK_a, false);
  Key(XK_Control_L, false);
  Move(150, 150);
  for (int i = 0; i < 3; ++i) {
    Button(1, true);
    Button(1, false);
  }
  Button(4, true);
  Button(4, false);
  std::vector<WEventRecord> keys, downs, wheels;
  for (const WEventRecord& e : gProcEvents) {
    if (e.code == weKey) keys.push_back(e);
    if (e.code == weMouseDown) downs.push_back(e);
    if (e.code == 49) wheels.push_back(e);
  }
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].character, 'a');
  EXPECT_EQ(keys[0].keyCode, 27);
  EXPECT_EQ(keys[0].modifiers & 0x31, 0x31);
  ASSERT_EQ(downs.size(), 3u);
  EXPECT_EQ(downs[0].modifiers & 0x1C0, 0x40);
  EXPECT_EQ(downs[1].modifiers & 0x1C0, 0xC0);
  EXPECT_EQ(downs[2].modifiers & 0x1C0, 0x1C0);
  ASSERT_EQ(wheels.size(), 1u);
  float notches;
  std::memcpy(&notches, &wheels[0].character, sizeof notches);
  EXPECT_EQ(notches, 1.0f);
  WDestroyAllWindows();
}

}  // namespace

namespace {

TRecord gScrolled = nullptr;
int32 gBarClicks = 0;
int32 ScrollingRecordWindow(WEventRecord* e, uInt32) {
  if (!gScrolled || (e->code != weWindDraw && e->code != weMouseDown)) return 0;
  WPortState saved;
  WSetup(e->window, &saved);
  if (e->code == weWindDraw) TDraw(gScrolled);
  else gBarClicks += TClickScrollBars(gScrolled, WordToPoint(e->where));
  WRestore(&saved);
  return 0;
}

// A thumb dragged with real input scrolls the record by the value its
// place gives, and the server shows what the surface holds.
TEST_F(X11, DraggingARecordsThumbScrollsItsText) {
  EnsureManagers();
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
  WBuildKeyTable();
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  TXInitFonts();
  MLoadMenuColors();
  std::string text;
  for (int32 i = 0; i < 40; ++i) text += "Line " + std::to_string(i) + "\n";
  const Rect view{0, 0, 150, 180};
  gScrolled = TNew(&view, uInt32(kTRKindLines) | kTRModeVBar, reinterpret_cast<const uChar*>(text.data()),
                   int32(text.size()), kAppFont, 0, 0xFFFFFF);
  ASSERT_NE(gScrolled, nullptr);
  gBarClicks = 0;
  const Rect place{100, 100, 250, 300};
  const WindowRef w = WCreate(0x1C, nullptr, &ScrollingRecordWindow, &place, 0, 1, 0);
  ASSERT_NE(w, kWNoWindow);
  Settle();
  Rect bar, none;
  TGetBarRects(gScrolled, &bar, &none);
  const int32 total = int32(LRectHeight(&TRData(gScrolled)->dest)), visible = RectHeight(&view);
  SBarParts p;
  SBarGeometry(&bar, 0, visible, total, 1, &p);
  const int x = place.left + (bar.left + bar.right) / 2, y = place.top + p.thumb.top + 2;
  // The drag and the release come from another client while the press is
  // being tracked; the helper starts once the server has the press, which a
  // loaded machine may take long to reach.
  Move(x, y);
  XTestFakeButtonEvent(test_, 1, True, CurrentTime);
  XSync(test_, False);
  std::thread helper([&] {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    PlatSleepMs(300);
    XTestFakeMotionEvent(d, DefaultScreen(d), x, y + 40, CurrentTime);
    XFlush(d);
    PlatSleepMs(200);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XFlush(d);
    PlatSleepMs(100);
    XCloseDisplay(d);
  });
  Settle();
  helper.join();
  Settle();
  EXPECT_EQ(gBarClicks, 1);
  const int64 room = p.trackLength - p.thumbLength, range = total - visible;
  EXPECT_EQ(RectHeight(&view) ? TRData(gScrolled)->view.top - TRData(gScrolled)->dest.top : 0,
            int32(std::min<int64>(range, (40 * range + room / 2) / room)));
  EXPECT_EQ(PixelsDiffer(WHostWindow(w)), "");
  TDispose(gScrolled);
  gScrolled = nullptr;
  WDestroyAllWindows();
  TXFinishFonts();
  DDisposeDraw();
}

}  // namespace

namespace {

TRecord gEdited = nullptr;
int32 EditingRecordWindow(WEventRecord* e, uInt32) {
  if (!gEdited || (e->code != weWindDraw && e->code != weKey && e->code != weMouseDown)) return 0;
  WPortState saved;
  WSetup(e->window, &saved);
  if (e->code == weWindDraw) TDraw(gEdited);
  else if (e->code == weKey) TKey(gEdited, e->keyCode, e->character, e->modifiers, 1);
  else TClick(gEdited, WordToPoint(e->where), (e->modifiers & kWModTripleClick) == kWModDoubleClick ? kTClickWord : 0);
  WRestore(&saved);
  return 0;
}

// The input of the record test: clicks (a double-click when twice) and
// typed text at screen points.
struct EditInput {
  std::function<void(int, int, int)> click;
  std::function<void(const std::string&)> type;
};

constexpr Rect kEditPlace{100, 100, 130, 260};

// An editable record holding " world" fills a window: a click at its start,
// "Hello" typed, a double-click inside "world".  Gives "text|start|end";
// the window stays open (host in *host) until EndRecordWindow.
std::string EditRecordWindow(const EditInput& input, PlatWindow* host) {
  EnsureManagers();
  if (WEventQueueInit(1) != kNoErr || WInitScreenImage() != kNoErr) return "no window layer";
  WEventSetGate(1);
  PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
  WBuildKeyTable();
  DInitDraw();
  TXInitFonts();
  MLoadMenuColors();
  const Rect view{0, 0, int16(kEditPlace.bottom - kEditPlace.top), int16(kEditPlace.right - kEditPlace.left)};
  gEdited = TNew(&view, uInt32(kTRKindLines) | 0x400, reinterpret_cast<const uChar*>(" world"), 6, kAppFont, 0,
                 0xFFFFFF);
  const WindowRef w = WCreate(0x1C, nullptr, &EditingRecordWindow, &kEditPlace, 0, 1, 0);
  if (!gEdited || w == kWNoWindow) return "no record window";
  *host = WHostWindow(w);
  TValidateLines(gEdited);
  const auto screen = [&](int32 offset, int dx) {
    const Point p = TOffsetToPt(gEdited, offset, 0, nullptr);
    return std::make_pair(kEditPlace.left + p.h + dx, kEditPlace.top + p.v - 3);
  };
  const auto start = screen(0, 1);
  input.click(start.first, start.second, 1);
  input.type("Hello");
  const auto inWorld = screen(8, 1);
  input.click(inWorld.first, inWorld.second, 2);
  int32 s = -1, e = -1;
  TGetSelection(gEdited, &s, &e);
  const UHandle t = TGetText(gEdited);
  return std::string(reinterpret_cast<const char*>(*t + 4), GetNative32(*t)) + "|" + std::to_string(s) + "|" +
         std::to_string(e);
}

void EndRecordWindow() {
  if (gEdited) TDeactivate(gEdited, 0), TDispose(gEdited);
  gEdited = nullptr;
  WDestroyAllWindows();
  TXFinishFonts();
  DDisposeDraw();
}

const std::filesystem::path kSelectionGolden =
    std::filesystem::path(QX_SOURCE_DIR) / "tests/platform/goldens/x11_record_selection.png";

// Keys typed and a word double-clicked with real input reach the record as
// the injected ones do headless; the server shows the highlighted word as
// the golden does.
TEST_F(X11, TypingAndADoubleClickInARecordWindowEditAsHeadless) {
  char dir[] = "/tmp/qx_x11_recordXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  const std::string cmd = std::string("env -u DISPLAY -u QX_UI QX_X11_RECORD_DIR=") + dir + " '" + self +
                          "' --gtest_filter=X11Record.HeadlessHalf >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "the headless half failed: " << cmd;
  std::string headless;
  if (FILE* f = std::fopen((std::string(dir) + "/result.txt").c_str(), "rb")) {
    char buf[256];
    headless.assign(buf, std::fread(buf, 1, sizeof buf, f));
    std::fclose(f);
  }
  (void)!std::system((std::string("rm -rf '") + dir + "'").c_str());
  EXPECT_EQ(headless, "Hello world|6|11");
  const EditInput viaX{
      [&](int x, int y, int times) {
        Move(x, y);
        // The presses of a double-click are read in one go: under any load
        // they fall within the double-click time.
        for (int i = 0; i < times; ++i)
          XTestFakeButtonEvent(test_, 1, True, CurrentTime), XTestFakeButtonEvent(test_, 1, False, CurrentTime);
        Settle();
      },
      [&](const std::string& text) {
        for (const char c : text) {
          const bool upper = c >= 'A' && c <= 'Z';
          if (upper) Key(XK_Shift_L, true);
          Key(KeySym(upper ? c - 'A' + 'a' : c), true), Key(KeySym(upper ? c - 'A' + 'a' : c), false);
          if (upper) Key(XK_Shift_L, false);
        }
      }};
  PlatWindow host = 0;
  EXPECT_EQ(EditRecordWindow(viaX, &host), headless);
  Settle();
  ASSERT_NE(host, 0u);
  // What the server shows of the window, against the golden.
  const int wd = kEditPlace.right - kEditPlace.left, ht = kEditPlace.bottom - kEditPlace.top;
  XImage* img = XGetImage(test_, PlatX11WindowOf(host), 0, 0, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  PlatSurface* shown = PlatSurfaceCreate(wd, ht, kPlatRgb32);
  for (int y = 0; y < ht; ++y)
    for (int x = 0; x < wd; ++x) PlatSurfaceSetPixel(shown, x, y, uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF);
  XDestroyImage(img);
  EndRecordWindow();
  qxtest::ExpectMatchesGolden(shown, kSelectionGolden,
                              "QX_UPDATE_GOLDENS=1 test_platform_x11 --gtest_filter=*InARecordWindow*");
  PlatSurfaceDestroy(shown);
}

// Not a test of its own: the headless half of the one above, whose window
// surface shows the golden too.
TEST(X11Record, HeadlessHalf) {
  const char* dir = std::getenv("QX_X11_RECORD_DIR");
  if (!dir) GTEST_SKIP() << "run by TypingAndADoubleClickInARecordWindowEditAsHeadless";
  ASSERT_TRUE(PlatWindowSystemStart());
  ASSERT_STREQ(PlatGetDisplay()->Name(), "headless");
  const EditInput injected{[](int x, int y, int times) {
                             for (int i = 0; i < times; ++i) PlatUiClick(x, y);
                           },
                           [](const std::string& text) { PlatUiType(text); }};
  PlatWindow host = 0;
  const std::string result = EditRecordWindow(injected, &host);
  FILE* f = std::fopen((std::string(dir) + "/result.txt").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(result.data(), 1, result.size(), f);
  std::fclose(f);
  if (!qxtest::UpdatingGoldens()) qxtest::ExpectMatchesGolden(PlatWindowSurface(host), kSelectionGolden, "headless");
  EndRecordWindow();
}

// A title and then a submenu's item clicked with real input: the choice
// arrives, the menu windows are override-redirect at their placed
// rectangles showing their surfaces, and the server shows over the owner
// what the headless run's golden holds.
TEST_F(X11, MenusClickedWithRealInputShowAsHeadless) {
  EnsureManagers();
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
  PlatRegisterClass(PlatWindowClass{"QXMenuWnd", &QXMenuWndProc, kPlatCsSaveBits, kPlatNoBrush});
  WBuildKeyTable();
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  TXInitFonts();
  MLoadMenuColors();
  const Rect& r = menuscene::kScenePlace;
  const int wd = r.right - r.left, ht = r.bottom - r.top;
  PlatSurface* shown = PlatSurfaceCreate(wd, ht, kPlatRgb32);
  const auto fake = [this](Point p, bool click) {
    XTestFakeMotionEvent(test_, DefaultScreen(test_), p.h, p.v, CurrentTime);
    if (click) XTestFakeButtonEvent(test_, 1, True, CurrentTime), XTestFakeButtonEvent(test_, 1, False, CurrentTime);
    XSync(test_, False);
  };
  const menuscene::Input viaX{[&](Point p) { fake(p, false); }, [&](Point p) { fake(p, true); }};
  // The platform frame of the menu windows (modal frame): the headless
  // screen paints it, an override-redirect X window has none.
  std::vector<std::pair<PlatRect, Rect>> frames;
  const std::string chosen = menuscene::Run(viaX, [&](MenuHandle pull, MenuHandle sub) {
    PlatX11Sync();
    for (MenuHandle m : {pull, sub}) {
      const PlatWindow host = WHostWindow((*m)->window);
      Rect g{};
      WGetGlobalRect((*m)->window, &g);
      PlatRect frame{};
      PlatGetWindowRect(host, &frame);
      frames.emplace_back(frame, g);
      XWindowAttributes a{};
      ASSERT_TRUE(XGetWindowAttributes(test_, PlatX11WindowOf(host), &a));
      EXPECT_TRUE(a.override_redirect);
      EXPECT_EQ(Geometry(test_, PlatX11WindowOf(host)), (std::vector<int>{g.left, g.top, g.right - g.left, g.bottom - g.top}));
    }
    XImage* img = XGetImage(test_, DefaultRootWindow(test_), r.left, r.top, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
    ASSERT_NE(img, nullptr);
    for (int y = 0; y < ht; ++y)
      for (int x = 0; x < wd; ++x) PlatSurfaceSetPixel(shown, x, y, uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF);
    XDestroyImage(img);
  });
  EXPECT_EQ(chosen, "20,2");
  WDestroyAllWindows();
  TXFinishFonts();
  DDisposeDraw();
  const auto golden = std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/menubar_open.png";
  PlatSurface* want = PlatPngReadFile(golden.c_str());
  ASSERT_NE(want, nullptr);
  for (const auto& [f, c] : frames)
    for (int y = std::max<int>(f.top, r.top); y < std::min<int>(f.bottom, r.bottom); ++y)
      for (int x = std::max<int>(f.left, r.left); x < std::min<int>(f.right, r.right); ++x)
        if (y < c.top || y >= c.bottom || x < c.left || x >= c.right)
          PlatSurfaceSetPixel(shown, x - r.left, y - r.top, PlatSurfaceGetPixel(want, x - r.left, y - r.top));
  PlatSurfaceDestroy(want);
  if (!qxtest::UpdatingGoldens())
    qxtest::ExpectMatchesGolden(shown, golden, "made by test_mgsource --gtest_filter=*PullDownWithItsSubmenu*");
  PlatSurfaceDestroy(shown);
}

}  // namespace
