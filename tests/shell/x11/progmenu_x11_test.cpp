// The VI window's own menu bar on the X11 display: the X window shows the
// trimmed bar as drawn, and XTest clicks open the File menu and choose its
// first item.  Without a server the test skips, unless QX_REQUIRE_DISPLAY=1.
// GoogleTest and the fixture before Xlib, whose macros clash with them.
#include "shell/viwindow_fixture.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"

namespace {

std::vector<std::pair<int32, int32>> gChosen;

class MenuBarX11 : public VIWindowBoundary {
 protected:
  void SetUp() override {
    test_ = XOpenDisplay(nullptr);
    if (!test_) {
      const char* need = std::getenv("QX_REQUIRE_DISPLAY");
      if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
      GTEST_SKIP() << "no X display";
    }
    VIWindowBoundary::SetUp();
    MenuTableReset(0);
    ASSERT_EQ(InitAppMenus(), kNoErr);
  }
  void StartDisplay() override {
    PlatX11Register();
    setenv("QX_UI", "x11", 1);
    ASSERT_TRUE(PlatWindowSystemStart());
    unsetenv("QX_UI");
  }
  void TearDown() override {
    if (!test_) return;
    DisposeAppMenus();
    MenuTableReset(1);
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
  void Click(Point p) {
    XTestFakeMotionEvent(test_, DefaultScreen(test_), p.h, p.v, CurrentTime);
    XTestFakeButtonEvent(test_, 1, True, CurrentTime);
    XTestFakeButtonEvent(test_, 1, False, CurrentTime);
  }
  Display* test_ = nullptr;
};

TEST_F(MenuBarX11, TheBarShowsAsDrawnAndAClickOpensTheFileMenu) {
  MLoadMenuColors();
  const int32 bars = PrefGet(kPrefUseWindowMenuBars);
  PrefSet(kPrefUseWindowMenuBars, 1);
  viinst::SetExtWord(panel_, kHeapExtMenuBar, kMenuBarPlain);
  VIWindHooks h = VIWindHooksInUse();
  h.appMenuCommand = [](int32 menu, int32 item, int32) { return gChosen.emplace_back(menu, item), 1; };
  h.setupMenus = &VIWindSetupMenus;
  h.menuCommand = &VIWindMenuCommand;
  h.popUpLMenu = &MPopUpLMenu;
  const VIWindHooks former = VIWindSetHooks(h);
  const WindowRef w = Shown(kVIWindMenuBar, Rect{40, 0, 200, 300});
  WInvalRect(w, nullptr);
  Settle();
  const PlatWindow host = WHostWindow(w);
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
  // A click on "File", then one on its first row; Escape ends a tracking
  // that missed the row, so the test cannot hang.
  Rect bar;
  ASSERT_TRUE(VIWindMenuBarRect(panel_, &bar));
  int32 positions[kMaxBarTitles + 1];
  ASSERT_GE(MLayoutMenuBar(MenuTableGet(kBarPanelId), &bar, positions), 1);
  Point title{int16((bar.top + bar.bottom) / 2), int16((positions[0] + positions[1]) / 2)};
  WLocalToGlobal(w, &title);
  Click(title);
  Point row{int16(title.v + (bar.bottom - bar.top) / 2 + 10), int16(title.h + 10)};
  Click(row);
  XTestFakeKeyEvent(test_, XKeysymToKeycode(test_, XK_Escape), True, CurrentTime);
  XTestFakeKeyEvent(test_, XKeysymToKeycode(test_, XK_Escape), False, CurrentTime);
  gChosen.clear();
  Settle();
  EXPECT_EQ(gChosen, (std::vector<std::pair<int32, int32>>{{kFileMenu, 1}})) << "the File menu's first item";
  VIWindSetHooks(former);
  PrefSet(kPrefUseWindowMenuBars, bars);
}

}  // namespace
