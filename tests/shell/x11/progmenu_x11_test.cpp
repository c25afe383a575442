// The VI window's own menu bar on the X11 display: the X window shows the
// trimmed bar as drawn, and XTest clicks open the File menu and choose its
// first item.  Without a server the test skips, unless QX_REQUIRE_DISPLAY=1.
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/x11/shell_x11_fixture.h"

namespace {

std::vector<std::pair<int32, int32>> gChosen;

class MenuBarX11 : public ShellX11 {
 protected:
  void SetUp() override {
    ShellX11::SetUp();
    if (!test_) return;
    MenuTableReset(0);
    ASSERT_EQ(InitAppMenus(), kNoErr);
  }
  void TearDown() override {
    if (test_) {
      DisposeAppMenus();
      MenuTableReset(1);
    }
    ShellX11::TearDown();
  }
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
  EXPECT_EQ(DifferingPixels(host), 0);
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
