// The help window: created hidden by a diagram's move, sized for its
// picture, scrolled; online help from a diagram; and the diagram's calls
// handed to the user-interface thread.
#include "shell/viwindow_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <atomic>
#include <fstream>
#include <thread>

#include "engine/exec/exec.h"
#include "mgsource/draw/imagegeom.h"
#include "platform/qx_sysinfo.h"
#include "shell/help.h"
#include "shell/help_scene.h"
#include "shell/userevent.h"
#include "temp_folder.h"

namespace {

class HelpWindowTest : public VIWindowBoundary {
 protected:
  void SetUp() override {
    VIWindowBoundary::SetUp();
    Shown(0, Rect{100, 50, 400, 450});  // the drawing side started
  }
  void TearDown() override {
    HelpReset();
    VIWindowBoundary::TearDown();
  }
  // Runs the posted callbacks waiting in the queue.
  static void Pump() {
    WEventRecord e;
    while (WGetNextEvent(&e))
      if (e.code == kWEvUser && e.where == 3 /* posted callback */)
        RunPostedCallback(reinterpret_cast<UHandle>(uintptr_t(uInt32(UserEventArg(&e, 1)))));
  }
};

TEST_F(HelpWindowTest, AMoveMakesTheWindowHiddenAndTheStatusReportsIt) {
  const Point to{120, 300};
  ASSERT_EQ(ControlHelpWindow(&to, nullptr), kNoErr);
  ASSERT_NE(HelpStateNow().window, kWNoWindow);
  Point at{0, 0};
  uChar shown = 9;
  ASSERT_EQ(GetHelpWindowStatus(&at, &shown), kNoErr);
  EXPECT_EQ(shown, 0);
  EXPECT_FALSE(WIsVisible(HelpStateNow().window));
  EXPECT_EQ(at.v, to.v);
  EXPECT_EQ(at.h, to.h);
}

// Off the user-interface thread the call waits for that thread to run it;
// an abort ends the wait with 1.
TEST_F(HelpWindowTest, ADiagramsCallRunsOnTheUserInterfaceThread) {
  const Point to{120, 300};
  std::atomic<int32> answer{-1};
  std::thread diagram([&] { answer = ControlHelpWindow(&to, nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(HelpStateNow().window, kWNoWindow) << "nothing made on the diagram's thread";
  while (answer < 0) Pump();
  diagram.join();
  EXPECT_EQ(answer, kNoErr);
  EXPECT_NE(HelpStateNow().window, kWNoWindow);
  const uChar show = 1;
  std::thread aborted([&] { answer = ControlHelpWindow(nullptr, &show); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ExecSetAbortInProgress(1);
  aborted.join();
  ExecSetAbortInProgress(0);
  EXPECT_EQ(answer, 1);
  Pump();  // the abandoned call still runs, harmlessly
}

TEST_F(HelpWindowTest, OnlineHelpOpensTheResolvedFileAtTheKeyword) {
  TempFolder tmp("qxhelpwin");
  const std::string help = tmp.Dir() + "/qxdiag.hlp", args = tmp.Dir() + "/args", viewer = tmp.Dir() + "/v.sh";
  std::ofstream(help) << "help";
  std::ofstream(viewer) << "#!/bin/sh\necho \"$@\" > " << args << ".tmp && mv " << args << ".tmp " << args << "\n";
  ASSERT_EQ(chmod(viewer.c_str(), 0755), 0);
  setenv("QX_HELP_VIEWER", viewer.c_str(), 1);
  std::string text = "C:" + tmp.Dir() + "/caller.vi";
  std::replace(text.begin(), text.end(), '/', '\\');
  Path caller = nullptr;
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &caller), kNoErr);
  Path relative = FMakePath(nullptr, kRelPath, "\x0aqxdiag.hlp", nullptr);
  LStrHandle keyword = reinterpret_cast<LStrHandle>(AZNewHandle(9));
  PutNative32(reinterpret_cast<uChar*>(*keyword), 5);
  std::memcpy(reinterpret_cast<uChar*>(*keyword) + 4, "Loops", 5);
  EXPECT_EQ(ControlOnlineHelp(relative, keyword, 3, caller), 1) << "no such command";
  EXPECT_EQ(ControlOnlineHelp(relative, keyword, 1, nullptr), 2) << "nothing to resolve against";
  EXPECT_FALSE(std::filesystem::exists(args));
  ASSERT_EQ(ControlOnlineHelp(relative, keyword, 1, caller), 0);
  auto viewed = [&] {
    for (int i = 0; i < 500 && !std::filesystem::exists(args); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(args);
    std::string seen(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(args);
    return seen;
  };
  EXPECT_EQ(viewed(), help + "#Loops\n");
  // The Help menu's reference: kept once found, opened at its tag.
  EXPECT_EQ(HelpOnlineRefValid(relative, reinterpret_cast<ConstPStr>("\x04Tags")), 0) << "no folder to resolve it";
  Path folder = FEmptyPath(nullptr), absolute = FEmptyPath(nullptr);
  ASSERT_EQ(FDirName(caller, folder), kNoErr);
  ASSERT_EQ(FAddPath(folder, relative, absolute), kNoErr);
  FDisposePath(folder);
  EXPECT_EQ(HelpOnlineRefValid(absolute, reinterpret_cast<ConstPStr>("\x04Tags")), 1);
  EXPECT_EQ(HelpOpenOnline(), 0);
  EXPECT_EQ(viewed(), help + "#Tags\n");
  FDisposePath(absolute);
  unsetenv("QX_HELP_VIEWER");
  AZDisposeHandle(reinterpret_cast<UHandle>(keyword));
  FDisposePath(relative);
  FDisposePath(caller);
}

// A small picture still gets a window for 100 x 100; a resize by hand sets
// the limit, one the program made does not.
TEST_F(HelpWindowTest, SizingFollowsThePictureAndTheOperator) {
  HelpWindowOpen(1);
  const WindowRef w = HelpStateNow().window;
  ASSERT_NE(w, kWNoWindow);
  int32 picture = 0;
  const Rect small{0, 0, 50, 50};
  ASSERT_EQ(ICreatePict(int32(w), &small, 0, nullptr, 0, &picture), kNoErr);
  HelpSetTipTarget(panel_, 0, 0);  // armed: growth allowed
  HelpSetImage(picture);
  const Point limit = HelpStateNow().limit;
  Rect port;
  WGetRect(w, &port);
  const int32 bar = PlatGetSystemMetric(kPlatMetricVScrollWidth);
  EXPECT_EQ(port.right - port.left, 100 + 8 + bar + 16);
  EXPECT_EQ(port.bottom - port.top, 100 + 8 + PlatGetSystemMetric(kPlatMetricHScrollHeight) + 8);
  EXPECT_EQ(HelpStateNow().limit.h, limit.h) << "the program's own resize";
  WEventRecord e{};
  e.code = weWindSize;
  e.window = w;
  HelpWindowProc(&e, 0);  // the operator's
  EXPECT_EQ(HelpStateNow().limit.h, port.right - port.left - bar - 16);
}

// Arrows step by at most 32; a page stops at maximum - page.
TEST_F(HelpWindowTest, ScrollingIsBounded) {
  HelpWindowOpen(1);
  int32 picture = 0;
  const Rect big{0, 0, 700, 100};
  ASSERT_EQ(ICreatePict(int32(HelpStateNow().window), &big, 0, nullptr, 0, &picture), kNoErr);
  HelpSetImage(picture);
  WUpdate(HelpStateNow().window);
  const HelpBar b = HelpStateNow().vbar;
  HelpScrollStep(kSBarDownArrow, true);
  EXPECT_EQ(HelpStateNow().origin.v, 32);
  for (int i = 0; i < 20; ++i) HelpScrollStep(kSBarPageDown, true);
  EXPECT_EQ(HelpStateNow().origin.v, b.maximum - b.page);
  HelpScrollStep(kSBarUpArrow, true);
  EXPECT_EQ(HelpStateNow().origin.v, b.maximum - b.page - 32);
}

// A numeric's description with an emphasised word, under its label, in the
// help window with its bars and the online-help button: as its golden.
TEST_F(HelpWindowTest, TheDescriptionLooksAsItsGolden) {
  HelpScene scene(panel_);
  ASSERT_EQ(HelpStateNow().help.object, scene.numeric);
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(HelpStateNow().window)), HelpScene::Golden(),
                              "the help window; QX_UPDATE_GOLDENS=1 makes it again");
}

}  // namespace
