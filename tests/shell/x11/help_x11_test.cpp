// The help window on the X11 display: the X window shows, pixel for pixel,
// the headless golden of a control's description.  Without a server the test
// skips, unless QX_REQUIRE_DISPLAY=1.
// The scene relies on what the fixture includes.
#include "shell/x11/shell_x11_fixture.h"
#include "shell/help_scene.h"

namespace {

class HelpWindowX11 : public ShellX11 {
 protected:
  void SetUp() override {
    ShellX11::SetUp();
    if (test_) Shown(0, Rect{100, 50, 400, 450});  // the drawing side started
  }
  void TearDown() override {
    if (test_) HelpReset();
    ShellX11::TearDown();
  }
};

TEST_F(HelpWindowX11, TheXWindowShowsTheGolden) {
  HelpScene scene(panel_);
  Settle();
  const PlatWindow host = WHostWindow(HelpStateNow().window);
  ASSERT_STREQ(PlatGetDisplay()->Name(), "x11");
  ASSERT_NE(PlatX11WindowOf(host), 0u);
  PlatSurface* shown = ShownPixels(host);
  ASSERT_NE(shown, nullptr);
  qxtest::ExpectMatchesGolden(shown, HelpScene::Golden(), "the X window of the help window");
  PlatSurfaceDestroy(shown);
}

}  // namespace
