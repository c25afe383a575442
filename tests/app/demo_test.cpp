// The demo application: run headless as the program, its panel's snapshot
// taken once its run is over; and the record it logs at completion, with and
// without execution threads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/demovi.h"
#include "engine/datamgr.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "rtlib/datalog.h"
#include "tools/tdbuilder.h"
#include "golden_image.h"
#include "platform/qx_png.h"
#include "platform/qx_surface.h"
#include "temp_folder.h"

namespace {

namespace fs = std::filesystem;

// The script's wait turns the program's main loop until the demo has opened,
// run and gone idle: without that, no window titled "Demo.vi" is shown yet.
// The window shows its frame parts around the panel: its background and
// the controls' name labels (the controls' own drawing comes later), the
// scroll bars sized by the controls' rectangles.
TEST(Demo, RunsHeadlessAndItsPanelMatchesTheGolden) {
  TempFolder tmp("qx_demo");
  const std::string dir = tmp.Dir(), program = dir + "/quenlix-demo";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, program, 20, "", &error)) << error;
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
  const int32_t w = PlatSurfaceWidth(shot);
  EXPECT_EQ(w, demo::kContentWidth + kV - 1);
  auto at = [&](int32_t x, int32_t y) { return PlatSurfaceGetPixel(shot, x, y) & 0xFFFFFF; };
  for (int32_t y = 0; y < kP - 1; ++y) EXPECT_EQ(at(w - 35, y), 0u) << "the icon pane's left line, row " << y;
  EXPECT_EQ(at(w - 3, 1), 0xFFFFFFu) << "the icon pane's white";
  EXPECT_EQ(at(2, 2), 0xC0C0C0u) << "the menu bar";
  EXPECT_EQ(at(w - 40, kP - 10), 0xEEEEEEu) << "the tool bar's background";
  EXPECT_EQ(at(w - 40, kP - 1), 0u) << "the line under the tool bar";
  EXPECT_EQ(at(10, kP + 4), 0xB3B3B3u) << "the panel's background";
  EXPECT_EQ(at(w - kV / 2, kP + kV + 2), 0xCCCCCCu) << "the vertical scroll bar's track below its arrow";
  qxtest::ExpectMatchesGolden(shot, fs::path(QX_SOURCE_DIR) / "tests/app/goldens/demo-panel.png",
                              "QX_UPDATE_GOLDENS=1 build/tests/test_app --gtest_filter=Demo.*");
  PlatSurfaceDestroy(shot);
}

// GraphDemo.vi's clump writes its 1,000-point sine to the waveform graph
// through the transfer record (the array copied by the VI's own transfer
// procedure); the built program, headless, shows it on the panel: five
// periods in white between the plot area's top and bottom rows.  Below it,
// the strip chart fed 300 points of a sine one a loop shows the last 100
// (two periods) across its plot area, with threads (the points pass
// through the writers' shadow) and without.
TEST(Demo, GraphDemoShowsItsThousandPointPlotHeadless) {
  TempFolder tmp("qx_demog");
  const std::string dir = tmp.Dir(), program = dir + "/quenlix-graph";
  std::ofstream(dir + "/script.txt") << "wait\nsnapshot-window \"GraphDemo.vi\" " << dir << "/panel.png\nquit\n";
  fs::create_directories(dir + "/t");
  // An opaque plot area's background lies under the plot, in its own colour,
  // whether the plot is drawn through the cached image (the default) or
  // directly.  Only the default look has a golden.
  const struct {
    const char* offscreen;  // the preference, "" for the default
    uint32_t back;
  } kRuns[] = {{"", 0x000000}, {"True", 0x00C000}, {"False", 0x00C000}};
  for (const auto& run : kRuns) {
    SCOPED_TRACE(std::string("offscreenUpdates=") + run.offscreen);
    std::string error, pref;
    ASSERT_TRUE(demo::BuildGraphDemo(QX_QUENLIX, program, &error, run.back)) << error;
    if (*run.offscreen) {
      pref = " -pref " + dir + "/pref.ini";
      std::ofstream(dir + "/pref.ini") << "[Quenlix]\noffscreenUpdates=" << run.offscreen << "\n";
    }
    fs::remove(dir + "/panel.png");
    const std::string cmd = "TMPDIR=" + dir + "/t QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                            "/reg.ini QX_UI=headless QX_SCREEN=500x480 QX_INPUT_SCRIPT=" + dir +
                            "/script.txt timeout 60 " + program + pref + " 2>" + dir + "/err";
    const int raw = std::system(cmd.c_str());
    std::stringstream err;
    err << std::ifstream(dir + "/err").rdbuf();
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << err.str();
    PlatSurface* shot = PlatPngReadFile((dir + "/panel.png").c_str());
    ASSERT_NE(shot, nullptr);
    // The content starts below the menu and tool bars (42 rows); the plot
    // area spans panel rows 20 .. 169 and columns 50 .. 339.
    constexpr int32_t kTop = 42 + 20, kBottom = 42 + 169, kLeft = 50, kRight = 339;
    std::vector<int32_t> peaks(2, 0);  // columns reaching the top and the bottom rows (+-2)
    int32_t white = 0, back = 0;
    for (int32_t x = kLeft; x <= kRight; ++x)
      for (int32_t y = kTop; y <= kBottom; ++y) {
        const uint32_t c = PlatSurfaceGetPixel(shot, x, y) & 0xFFFFFF;
        back += c == run.back;
        if (c != 0xFFFFFF) continue;
        ++white;
        if (y <= kTop + 2) ++peaks[0];
        if (y >= kBottom - 2) ++peaks[1];
      }
    EXPECT_GT(white, 600) << "the plot's line";
    EXPECT_GT(back, (kRight - kLeft) * (kBottom - kTop) * 9 / 10) << "the plot area's background";
    EXPECT_GE(peaks[0], 5) << "five crests";
    EXPECT_GE(peaks[1], 5) << "five troughs";
    // The chart's plot area: panel rows 220 .. 359, columns 50 .. 339.  The
    // last 100 points span it: the trace reaches both ends and both the top
    // and the bottom rows (its crests, at the scale's ends, are clipped flat
    // by the area's edges: a few columns hold no trace).
    constexpr int32_t kCTop = 42 + 220, kCBottom = 42 + 359;
    int32_t traced = 0, crests = 0, troughs = 0;
    for (int32_t x = kLeft + 1; x < kRight; ++x) {
      bool any = false;
      for (int32_t y = kCTop; y <= kCBottom; ++y) {
        if ((PlatSurfaceGetPixel(shot, x, y) & 0xFFFFFF) != 0xFFFFFF) continue;
        any = true;
        crests += y <= kCTop + 2;
        troughs += y >= kCBottom - 2;
      }
      traced += any;
    }
    EXPECT_GT(traced, (kRight - kLeft) * 8 / 10) << "the chart's trace across its plot area";
    EXPECT_GE(crests, 2) << "two crests";
    EXPECT_GE(troughs, 2) << "two troughs";
    if (!*run.offscreen)
      qxtest::ExpectMatchesGolden(shot, fs::path(QX_SOURCE_DIR) / "tests/app/goldens/graph-demo-panel.png",
                                  "QX_UPDATE_GOLDENS=1 build/tests/test_app --gtest_filter=Demo.GraphDemo*");
    PlatSurfaceDestroy(shot);
  }
}

// Logged at completion: the run's record, read as the datalog functions read
// it, holds x and y = 2 * x + 2; with execution threads and without.  The
// clump writes y only to its transfer record: the panel gives it to the log.
TEST(Demo, TheRecordLoggedAtCompletionHoldsXAndTwiceXPlusTwo) {
  ASSERT_EQ(MemInit(), kNoErr);
  TempFolder tmp("qx_demoy");
  const std::string uiOnly = tmp.Dir() + "/ui.ini";
  std::ofstream(uiOnly) << "[Quenlix]\nESys.StdNParallel=0\n";
  std::vector<uChar> record =
      tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U16()}), tdb::Cluster({tdb::I32(), tdb::I32()})}).Bytes();
  const TypeDescriptor* td = tdb::AsTD(record);
  const struct {
    int32 x;
    bool threads;
  } kRuns[] = {{20, true}, {20, false}, {7, true}};
  for (const auto& run : kRuns) {
    SCOPED_TRACE(std::to_string(run.x) + (run.threads ? " threads" : " user-interface thread"));
    const std::string app = tmp.Dir() + "/demo", log = tmp.Dir() + "/log" + std::to_string(run.threads);
    std::string error;
    ASSERT_TRUE(demo::BuildDemo(QX_BUILT_VI_RUNNER, app, run.x, log, &error)) << error;
    std::filesystem::remove(log);
    const std::string cmd = "timeout 30 " + app + (run.threads ? "" : " -pref " + uiOnly) + " >/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::string text = "C:" + log;
    for (char& ch : text) ch = ch == '/' ? '\\' : ch;
    Path path = nullptr;
    FileRef file = nullptr;
    ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path), kNoErr);
    ASSERT_EQ(FMOpen(&file, path, kAccessRead, kDenyNone), kNoErr);
    int32 count = 0, next = 0;
    std::vector<uChar> data(size_t(DataSize(td)));
    EXPECT_EQ(DatalogCount(file, td, &count), kNoErr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(DatalogRead(file, td, 0, nullptr, data.data(), 0, &next), kNoErr);
    int32 xy[2];
    std::memcpy(xy, data.data() + data.size() - 8, 8);
    EXPECT_EQ(xy[0], run.x);
    EXPECT_EQ(xy[1], 2 * run.x + 2);
    FMClose(file);
    FDisposePath(path);
  }
}

// The end of a run sets the panel's range checking up again through the
// program's own start-up filler: the root takes the limit bits of its
// controllers, none of which checks its range (stored: no bit set).
TEST(Demo, TheEndOfARunSetsThePanelsRangeCheckingUp) {
  TempFolder tmp("qx_demor");
  const std::string app = tmp.Dir() + "/demo", out = tmp.Dir() + "/out";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_BUILT_VI_RUNNER, app, 20, "", &error)) << error;
  ASSERT_EQ(std::system(("timeout 30 " + app + " -range >" + out).c_str()), 0);
  std::stringstream text;
  text << std::ifstream(out).rdbuf();
  EXPECT_EQ(text.str(), "range=e0\n");
}

// Printed at completion on a raster printer: the page shows the panel as
// the window does, its background and its controls' name labels.
TEST(Demo, ThePagePrintedAtCompletionShowsThePanel) {
  TempFolder tmp("qx_demop");
  const std::string dir = tmp.Dir(), program = dir + "/quenlix-demo";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, program, 20, "", &error, true)) << error;
  std::ofstream(dir + "/printers.ini") << "[Raster Printer]\ndpi = 72\npaper = 400 x 300\nmargins = 0\npostscript = no\n";
  std::ofstream(dir + "/script.txt") << "wait\nquit\n";
  fs::create_directories(dir + "/t");
  fs::create_directories(dir + "/pages");
  const std::string cmd = "TMPDIR=" + dir + "/t QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                          "/reg.ini QX_UI=headless QX_SCREEN=400x300 QX_PRINTERS=" + dir + "/printers.ini QX_PRINT_DIR=" +
                          dir + "/pages QX_INPUT_SCRIPT=" + dir + "/script.txt timeout 60 " + program + " 2>" + dir + "/err";
  const int raw = std::system(cmd.c_str());
  std::stringstream err;
  err << std::ifstream(dir + "/err").rdbuf();
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << err.str();
  std::vector<fs::path> pages;
  for (const auto& e : fs::directory_iterator(dir + "/pages"))
    if (e.path().extension() == ".png") pages.push_back(e.path());
  ASSERT_EQ(pages.size(), 1u) << err.str();
  PlatSurface* page = PlatPngReadFile(pages[0].string().c_str());
  ASSERT_NE(page, nullptr);
  int32_t background = 0, ink = 0;
  for (int32_t y = 0; y < PlatSurfaceHeight(page); ++y)
    for (int32_t x = 0; x < PlatSurfaceWidth(page); ++x) {
      const uint32_t c = PlatSurfaceGetPixel(page, x, y) & 0xFFFFFF;
      background += c == 0xB3B3B3;
      ink += (c & 0xFF) < 0x60 && ((c >> 8) & 0xFF) < 0x60;
    }
  EXPECT_GT(background, 1000) << "the panel's background";
  EXPECT_GT(ink, 4) << "the labels' text";
  PlatSurfaceDestroy(page);
}

}  // namespace
