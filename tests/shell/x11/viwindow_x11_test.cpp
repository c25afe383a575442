// The VI window on the X11 display under a real (virtual) server: the X
// window shows what the window drew, and an XTest click on Run runs the VI.
// Without a server the tests skip, unless QX_REQUIRE_DISPLAY=1.
#include "shell/x11/shell_x11_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "mgsource/window/wsysinfo.h"
#include "shell/dialog.h"

namespace {

class VIWindowX11 : public ShellX11 {};

TEST_F(VIWindowX11, TheXWindowShowsTheDrawingAndAClickOnRunRunsTheVI) {
  MLoadMenuColors();
  const WindowRef w = Shown(kVIWindToolBar | kVIWindHScroll | kVIWindVScroll, Rect{40, 0, 200, 300});
  WInvalRect(w, nullptr);
  Settle();
  // Every pixel of the X window is the window's surface.
  const PlatWindow host = WHostWindow(w);
  ASSERT_STREQ(PlatGetDisplay()->Name(), "x11");
  ASSERT_NE(PlatX11WindowOf(host), 0u);
  EXPECT_EQ(DifferingPixels(host), 0);
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
  Click(p);
  Settle();
  EXPECT_EQ(runs, 1);
}

// A two-button alert is a window of its own at the default place; Escape
// answers 0, Return 1.
// A watcher on its own connection finds the window, reads where the server
// put it and presses Escape; a loop that never ends fails the run.
TEST_F(VIWindowX11, ATwoButtonAlertMapsAtTheDefaultPlaceAndEscapeAnswersNone) {
  JoinDialogs();
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
      // until it answers.  A key sent again while a slow build still works
      // on the first one would stay queued for the next alert: each key gets
      // two seconds to answer before the next.
      const KeyCode code = XKeysymToKeycode(watch, key);
      for (int i = 0; i < 10 && !answered; ++i) {
        XTestFakeKeyEvent(watch, code, True, CurrentTime);
        XTestFakeKeyEvent(watch, code, False, CurrentTime);
        XFlush(watch);
        for (int wait = 0; wait < 100 && !answered; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
  XCloseDisplay(watch);
}

}  // namespace
