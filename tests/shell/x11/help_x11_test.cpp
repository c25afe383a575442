// The help window on the X11 display: the X window shows, pixel for pixel,
// the headless golden of a control's description.  Without a server the test
// skips, unless QX_REQUIRE_DISPLAY=1.
// GoogleTest and the fixture before Xlib, whose macros clash with them.
#include "shell/viwindow_fixture.h"
#include "shell/help_scene.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"

namespace {

class HelpWindowX11 : public VIWindowBoundary {
 protected:
  void SetUp() override {
    test_ = XOpenDisplay(nullptr);
    if (!test_) {
      const char* need = std::getenv("QX_REQUIRE_DISPLAY");
      if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
      GTEST_SKIP() << "no X display";
    }
    VIWindowBoundary::SetUp();
    Shown(0, Rect{100, 50, 400, 450});  // the drawing side started
  }
  void StartDisplay() override {
    PlatX11Register();
    setenv("QX_UI", "x11", 1);
    ASSERT_TRUE(PlatWindowSystemStart());
    unsetenv("QX_UI");
  }
  void TearDown() override {
    if (!test_) return;
    HelpReset();
    VIWindowBoundary::TearDown();
    PlatX11Sync();
    XCloseDisplay(test_);
  }
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

TEST_F(HelpWindowX11, TheXWindowShowsTheGolden) {
  HelpScene scene(panel_);
  Settle();
  const PlatWindow host = WHostWindow(HelpStateNow().window);
  ASSERT_STREQ(PlatGetDisplay()->Name(), "x11");
  ASSERT_NE(PlatX11WindowOf(host), 0u);
  const PlatSurface* s = PlatWindowSurface(host);
  const int32_t wd = PlatSurfaceWidth(s), ht = PlatSurfaceHeight(s);
  XImage* img = XGetImage(test_, PlatX11WindowOf(host), 0, 0, unsigned(wd), unsigned(ht), AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  PlatSurface* shown = PlatSurfaceCreate(wd, ht, kPlatRgb32);
  for (int32_t y = 0; y < ht; ++y)
    for (int32_t x = 0; x < wd; ++x) PlatSurfaceSetPixel(shown, x, y, uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF);
  XDestroyImage(img);
  qxtest::ExpectMatchesGolden(shown, HelpScene::Golden(), "the X window of the help window");
  PlatSurfaceDestroy(shown);
}

}  // namespace
