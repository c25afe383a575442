// The VI window on the X11 display under a real (virtual) server: the X
// window shows what the window drew, and an XTest click on Run runs the VI.
// Without a server the tests skip, unless QX_REQUIRE_DISPLAY=1.
// GoogleTest and the fixture before Xlib, whose macros clash with them.
#include "shell/viwindow_fixture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"

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

}  // namespace
