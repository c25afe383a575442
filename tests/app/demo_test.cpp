// The demo application: run headless as the program, its panel's snapshot
// taken once its run is over; and its clump's result with and without
// execution threads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/demovi.h"
#include "golden_image.h"
#include "platform/qx_png.h"
#include "platform/qx_surface.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;

// The script's wait turns the program's main loop until the demo has opened,
// run and gone idle: without that, no window titled "Demo.vi" is shown yet.
// Controls draw nothing yet: the window shows its frame parts around an
// empty content area.
TEST(Demo, RunsHeadlessAndItsPanelMatchesTheGolden) {
  TempFolder tmp("qx_demo");
  const std::string dir = tmp.Dir(), program = dir + "/quenlix-demo";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, program, 20, &error)) << error;
  std::ofstream(dir + "/script.txt") << "wait\nsnapshot-window \"Demo.vi\" " << dir << "/panel.png\nquit\n";
  fs::create_directories(dir + "/t");
  const std::string cmd = "TMPDIR=" + dir + "/t QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                          "/reg.ini QX_UI=headless QX_SCREEN=400x300 QX_INPUT_SCRIPT=" + dir +
                          "/script.txt timeout 60 " + program + " 2>" + dir + "/err";
  const int raw = std::system(cmd.c_str());
  std::stringstream err;
  err << std::ifstream(dir + "/err").rdbuf();
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << err.str();
  EXPECT_TRUE(fs::is_empty(dir + "/t")) << "no temporary file left";
  PlatSurface* shot = PlatPngReadFile((dir + "/panel.png").c_str());
  ASSERT_NE(shot, nullptr);
  // The window's parts by their geometry: the own menu bar (M high) over
  // the tool bar (T = 21 with the menu bar), the icon pane 35 wide at the
  // right spanning both (P = M + T + 1), the content below, the scroll bars
  // (V wide) of the idle panel's parts along its right and bottom.
  constexpr int32_t kM = 20, kT = 21, kP = kM + kT + 1, kV = 16;
  const int32_t w = PlatSurfaceWidth(shot), h = PlatSurfaceHeight(shot);
  EXPECT_EQ(w, demo::kContentWidth + kV - 1);
  auto at = [&](int32_t x, int32_t y) { return PlatSurfaceGetPixel(shot, x, y) & 0xFFFFFF; };
  for (int32_t y = 0; y < kP - 1; ++y) EXPECT_EQ(at(w - 35, y), 0u) << "the icon pane's left line, row " << y;
  EXPECT_EQ(at(w - 3, 1), 0xFFFFFFu) << "the icon pane's white";
  EXPECT_EQ(at(2, 2), 0xC0C0C0u) << "the menu bar";
  EXPECT_EQ(at(w - 40, kP - 10), 0xEEEEEEu) << "the tool bar's background";
  EXPECT_EQ(at(w - 40, kP - 1), 0u) << "the line under the tool bar";
  EXPECT_EQ(at(10, kP + 4), 0u) << "the content, drawn by nothing yet";
  EXPECT_EQ(at(w - kV / 2, h / 2), 0xCCCCCCu) << "the vertical scroll bar";
  qxtest::ExpectMatchesGolden(shot, fs::path(QX_SOURCE_DIR) / "tests/app/goldens/demo-panel.png",
                              "QX_UPDATE_GOLDENS=1 build/tests/test_app --gtest_filter=Demo.*");
  PlatSurfaceDestroy(shot);
}

// y = 2 * x + 2 reaches y's transfer record: with execution threads its
// transfer copy (3), which the panel's update copies to the shown copy (0);
// on the user-interface thread alone the shown copy directly.
TEST(Demo, TheClumpWritesTwiceXPlusTwoToY) {
  TempFolder tmp("qx_demoy");
  const std::string uiOnly = tmp.Dir() + "/ui.ini";
  std::ofstream(uiOnly) << "[Quenlix]\nESys.StdNParallel=0\n";
  const struct {
    int32 x;
    bool threads;
    const char* words;
  } kRuns[] = {{20, true, "word=42\nword=42\n"}, {20, false, "word=42\nword=0\n"}, {7, true, "word=16\nword=16\n"}};
  for (const auto& run : kRuns) {
    SCOPED_TRACE(std::to_string(run.x) + (run.threads ? " threads" : " user-interface thread"));
    const std::string app = tmp.Dir() + "/demo" + std::to_string(run.x);
    std::string error;
    ASSERT_TRUE(demo::BuildDemo(QX_BUILT_VI_RUNNER, app, run.x, &error)) << error;
    const std::string cmd = "timeout 30 " + app + " -word " + std::to_string(demo::kRecY + demo::kCopies) + " -word " +
                            std::to_string(demo::kRecY + demo::kCopies + 12) + (run.threads ? "" : " -pref " + uiOnly);
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char line[256];
    while (std::fgets(line, sizeof line, p)) out += line;
    EXPECT_EQ(pclose(p), 0) << out;
    EXPECT_EQ(out, run.words);
  }
}

}  // namespace
