// The VI window on the X11 display under a real (virtual) server: the X
// window shows what the window drew, and an XTest click on Run runs the VI.
// Without a server the tests skip, unless QX_REQUIRE_DISPLAY=1.
// GoogleTest and the fixture before Xlib, whose macros clash with them.
#include "shell/viwindow_fixture.h"

#include "app/dlgservices.h"
#include "engine/vi/dlgpanel.h"
#include "panel/oinit.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"
#include "mgsource/window/wsysinfo.h"
#include "shell/dialog.h"

namespace {

class VIWindowX11 : public VIWindowBoundary {
 protected:
  void SetUp() override {
    test_ = XOpenDisplay(nullptr);
    if (!test_) {
      const char* need = std::getenv("QX_REQUIRE_DISPLAY");
      if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
      GTEST_SKIP() << "no X display";
    }
    VIWindowBoundary::SetUp();
  }
  void StartDisplay() override {
    PlatX11Register();
    setenv("QX_UI", "x11", 1);
    ASSERT_TRUE(PlatWindowSystemStart());
    unsetenv("QX_UI");
  }
  void TearDown() override {
    if (!test_) return;
    VIWindowBoundary::TearDown();
    PlatX11Sync();
    XCloseDisplay(test_);
  }
  // Until what either connection sent is read and every message dispatched.
  void Settle() {
    for (int round = 0; round < 1000; ++round) {
      XSync(test_, False);
      PlatX11Sync();
      const int32_t n = PlatUiPump();
      PlatX11Sync();
      if (n == 0 && XPending(PlatX11Connection()) == 0 && !PlatQueueHasWork()) return;
    }
    FAIL() << "the display never went idle";
  }
  Display* test_ = nullptr;
};

TEST_F(VIWindowX11, TheXWindowShowsTheDrawingAndAClickOnRunRunsTheVI) {
  MLoadMenuColors();
  const WindowRef w = Shown(kVIWindToolBar | kVIWindHScroll | kVIWindVScroll, Rect{40, 0, 200, 300});
  WInvalRect(w, nullptr);
  Settle();
  // Every pixel of the X window is the window's surface.
  const PlatWindow host = WHostWindow(w);
  ASSERT_STREQ(PlatGetDisplay()->Name(), "x11");
  ASSERT_NE(PlatX11WindowOf(host), 0u);
  const PlatSurface* s = PlatWindowSurface(host);
  const int32_t wd = PlatSurfaceWidth(s), ht = PlatSurfaceHeight(s);
  XImage* img = XGetImage(test_, PlatX11WindowOf(host), 0, 0, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  int64_t differ = 0;
  for (int32_t y = 0; y < ht; ++y)
    for (int32_t x = 0; x < wd; ++x)
      differ += (uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF) != (PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF);
  XDestroyImage(img);
  EXPECT_EQ(differ, 0);
  // A click on Run at its place on the screen.
  static int32 runs = 0;
  RunCmdHooks run{};
  run.endTextEdit = [](UHandle) { ++runs; };
  SetRunCmdHooks(&run);
  VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | 1;
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar));
  Point p{int16(bar.top + 10), int16(bar.left + 38)};
  WLocalToGlobal(w, &p);
  XTestFakeMotionEvent(test_, DefaultScreen(test_), p.h, p.v, CurrentTime);
  XTestFakeButtonEvent(test_, 1, True, CurrentTime);
  XTestFakeButtonEvent(test_, 1, False, CurrentTime);
  Settle();
  EXPECT_EQ(runs, 1);
}

// A two-button alert is a window of its own at the default place; Escape
// answers 0, Return 1.
// A watcher on its own connection finds the window, reads where the server
// put it and presses Escape; a loop that never ends fails the run.
TEST_F(VIWindowX11, ATwoButtonAlertMapsAtTheDefaultPlaceAndEscapeAnswersNone) {
  MLoadMenuColors();
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  drawing_ = true;
  // The dialogs' panels, as the program joins them at start-up.
  EnginePanelHooks engine = *GetEnginePanelHooks();
  engine.newPanelRoot = &FPNewPanelRoot;
  engine.oAllocate = &OAllocate;
  SetEnginePanelHooks(&engine);
  PanelInstallDialogHooks();
  if (!TRStackBlock()) TRInit();
  DlgSetPanelServices(AppDialogServices());
  VIWindHooks window = VIWindHooksInUse();
  window.panelEvent = &TRPanelEvent;
  window.drawPanel = &ODrawPanel;
  window.handleKey = &FPHandleKey;
  window.keyNavItem = &DlgGetKeyNavItem;
  window.dialogFilter = &DlgFilterVIEvents;
  VIWindSetHooks(window);
  PanelShellHooks senders{};
  AppFillDialogSenders(&senders);
  const PanelShellHooks savedShell = SetPanelShellHooks(senders);
  Display* const watch = XOpenDisplay(nullptr);
  ASSERT_NE(watch, nullptr);
  const ::Window root = DefaultRootWindow(watch);
  const auto viewable = [&](std::vector<::Window>* out) {
    ::Window r, parent, *kids = nullptr;
    unsigned n = 0;
    out->clear();
    if (!XQueryTree(watch, root, &r, &parent, &kids, &n)) return;
    for (unsigned i = 0; i < n; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(watch, kids[i], &a) && a.map_state == IsViewable) out->push_back(kids[i]);
    }
    if (kids) XFree(kids);
  };
  // Escape is no button; Return presses the default one.
  const struct {
    KeySym key;
    int32 want;
  } cases[] = {{XK_Escape, 0}, {XK_Return, 1}};
  for (const auto& c : cases) {
    const KeySym key = c.key;
    std::vector<::Window> before;
    viewable(&before);
    std::atomic<bool> answered{false};
    int found = 0, x = 0, y = 0;
    unsigned width = 0, height = 0;
    std::thread watcher([&] {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      std::vector<::Window> now;
      // The alert is the new window that holds the keyboard focus.
      while (!found && std::chrono::steady_clock::now() < until) {
        viewable(&now);
        ::Window focus = 0;
        int revert;
        XGetInputFocus(watch, &focus, &revert);
        for (::Window w : now) {
          if (w != focus || std::find(before.begin(), before.end(), w) != before.end()) continue;
          ::Window r, child;
          unsigned border, depth;
          int lx, ly;
          XGetGeometry(watch, w, &r, &lx, &ly, &width, &height, &border, &depth);
          XTranslateCoordinates(watch, w, root, 0, 0, &x, &y, &child);
          found = 1;
        }
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      // The loop may take a moment to wait for input after mapping: the key
      // until it answers.
      const KeyCode code = XKeysymToKeycode(watch, key);
      for (int i = 0; i < 100 && !answered; ++i) {
        XTestFakeKeyEvent(watch, code, True, CurrentTime);
        XTestFakeKeyEvent(watch, code, False, CurrentTime);
        XFlush(watch);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (!answered) {
        std::fprintf(stderr, "the alert never ended\n");
        std::_Exit(1);
      }
    });
    const uChar message[] = "\x05" "Sure?";
    const int32 answer = TwoButtonAlert(kDlgPStrValueType, message, nullptr, nullptr, 1, kDlgDefaultPos, kDlgDefaultPos);
    answered = true;
    watcher.join();
    EXPECT_EQ(answer, c.want) << key;
    EXPECT_TRUE(found) << "no alert window was mapped";
    // Inside the alert kind's frame: half the free width across, a third of
    // the free height down.
    Rect work, frame;
    WGetWorkAreaRect(Point{kDlgDefaultPos, kDlgDefaultPos}, &work);
    WGetShellRect(kAlertWindowKind, &frame);
    EXPECT_EQ(x - work.left, frame.left + (work.right - work.left - int(width) - frame.left - frame.right) / 2);
    EXPECT_EQ(y - work.top, frame.top + (work.bottom - work.top - int(height) - frame.top - frame.bottom) / 3);
  }
  DlgSetPanelServices(DlgPanelServices{});
  SetDlgPanelHooks(nullptr);
  SetEnginePanelHooks(nullptr);
  SetPanelShellHooks(savedShell);
  XCloseDisplay(watch);
}

}  // namespace
