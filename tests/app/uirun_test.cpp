// The program run headless with input scripts, and its loop's end on a
// termination signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/uiloop.h"
#include "emulation.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_png.h"
#include "platform/qx_time.h"
#include "platform/qx_window.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

namespace fs = std::filesystem;

bool IsGreyScreen(const std::string& png) {
  PlatSurface* s = PlatPngReadFile(png.c_str());
  const bool ok = s && PlatSurfaceWidth(s) == 64 && PlatSurfaceHeight(s) == 48 && PlatSurfaceGetPixel(s, 5, 40) == (kPlatOpaque | 0x808080u);
  PlatSurfaceDestroy(s);
  return ok;
}

// The program with the run-time's resources appended: it needs them to
// start.  Made once per test process.
const std::string& RunTimeProgram() {
  static TempFolder dir("qx_uiprog");
  static const std::string path = [] {
    rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&w);
    std::string error;
    const std::string out = dir.Dir() + "/quenlix";
    EXPECT_TRUE(qxbuild::AppendToProgram(QX_QUENLIX, w.Write(), out, &error, 0)) << error;
    return out;
  }();
  return path;
}

// Runs the program headless in the folder with its script, its own runtime
// folder and registry (no other run is taken for the first instance), the
// screen written at exit to exit/; the exit status, the error output in *err.
int RunHeadless(const std::string& dir, const std::string& program, const std::string& env, std::string* err) {
  const std::string cmd = env + "QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                          "/reg.ini QX_UI=headless QX_SCREEN=64x48 QX_INPUT_SCRIPT=" + dir +
                          "/script.txt QX_SNAPSHOT_AT_EXIT=" + dir + "/exit " + program + " 2>" + dir + "/err";
  const int raw = std::system(cmd.c_str());
  std::stringstream text;
  text << std::ifstream(dir + "/err").rdbuf();
  *err = text.str();
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(Program, RunsItsScriptAndWritesTheScreenAtExit) {
  const struct {
    const char* script;
    int status;
    const char* stderrHas;
  } kRuns[] = {
      {"wait\nsnapshot @/shot.png\nquit\n", 0, ""},
      {"wait\nsnapshot @/shot.png\n", 0, ""},  // nothing is open: the run ends
      {"snapshot @/shot.png\nclick 1\n", 2, "script.txt:2: click needs X and Y"},
      {"snapshot @/shot.png\nsnapshot-window \"None\" @/w.png\n", 1, "script.txt:2: no shown window titled \"None\""},
  };
  for (const auto& run : kRuns) {
    SCOPED_TRACE(run.script);
    TempFolder tmp("qx_uirun");
    std::string text = run.script;
    for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, tmp.Dir());
    std::ofstream(tmp.Dir() + "/script.txt") << text;
    std::string err;
    EXPECT_EQ(RunHeadless(tmp.Dir(), RunTimeProgram(), "", &err), run.status);
    EXPECT_NE(err.find(run.stderrHas), std::string::npos) << err;
    // The script runs while the program starts: the splash window covers
    // the small screen (a bad script runs no step); the frame is never shown.
    EXPECT_EQ(std::filesystem::exists(tmp.Dir() + "/shot.png"), run.status != 2);
    // A run that reaches its start event has destroyed the splash again.
    if (std::string(run.script).find("quit") == std::string::npos && run.status == 0) {
      EXPECT_TRUE(IsGreyScreen(tmp.Dir() + "/exit/screen.png"));
    }
    EXPECT_FALSE(std::filesystem::exists(tmp.Dir() + "/exit/window-2.png")) << "the frame is never shown";
  }
}

// The start-up's fatal checks end the run before any window with their
// alert and error, and a run leaves no temporary resource file behind.
TEST(Program, StartUpChecksTheResourceFileAndLeavesNoTemporaryFiles) {
  TempFolder progs("qx_uivers");
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  rsrcw::Bytes vers(6, 0);
  const uChar kVers[] = {5, 1, 0x80, 4, 0, 0, 0, 0};
  vers.assign(kVers, kVers + sizeof kVers);
  w.Add(FourCC("vers"), 1, vers);
  qxbuild::AddRunTimeResources(&w);
  std::string error;
  const std::string mismatch = progs.Dir() + "/quenlix";
  ASSERT_TRUE(qxbuild::AppendToProgram(QX_QUENLIX, w.Write(), mismatch, &error, 0)) << error;
  const struct {
    std::string program;
    int status;
    const char* stderrHas;
  } runs[] = {
      {mismatch, 1, "Executable version (5.0.1) doesn't match resource file (5.0.1).\nCheck your configuration."},
      {QX_QUENLIX, 13, "Unable to open resource files."},
      {RunTimeProgram(), 0, ""},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.program);
    TempFolder tmp("qx_uistart");
    std::ofstream(tmp.Dir() + "/script.txt") << "quit\n";
    fs::create_directories(tmp.Dir() + "/t");
    std::string err;
    EXPECT_EQ(RunHeadless(tmp.Dir(), run.program, "TMPDIR=" + tmp.Dir() + "/t ", &err), run.status);
    EXPECT_NE(err.find(run.stderrHas), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(tmp.Dir() + "/t")) << "no qxtr or qxtl file left";
    // Only a start that passed its checks has shown the splash window.
    EXPECT_EQ(fs::exists(tmp.Dir() + "/exit/window-1.png"), run.status == 0);
  }
}

// The start-up parses the VI server's access lists from the preferences into
// its tables, each entry shown in the debug output.
TEST(Program, StartUpParsesTheAccessListsIntoTheServersTables) {
  TempFolder tmp("qx_uiaccess");
  std::ofstream(tmp.Dir() + "/script.txt") << "quit\n";
  std::ofstream(tmp.Dir() + "/a.ini") << "[Quenlix]\ndebugging=True\nserver.vi.access=+*;-Secret*.vi;Main.vi\n";
  std::string err;
  ASSERT_EQ(RunHeadless(tmp.Dir(), RunTimeProgram() + " -pref " + tmp.Dir() + "/a.ini", "", &err), 0) << err;
  for (const char* line : {"QXSSpecifyTcpAccess(0x000000)", "QXSSpecifyViAccess(0x", "     0: 0x020002 *",
                           "     1: 0x000005 Secret*.vi", "     2: 0x000001 Main.vi", "Server: Syntax errors!"})
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
}

// In a child: the handlers stay installed for the rest of the process.
void LoopEndsOnSigterm(const std::string& dir) {
  setenv("QX_SNAPSHOT_AT_EXIT", dir.c_str(), 1);
  setenv("QX_UI", "headless", 1);
  // A signal that comes before the frame exists waits for it.
  if (!PlatWindowSystemStart() || qxtest::RaiseSignal(SIGTERM) != 0) std::_Exit(10);
  PlatMsg m;
  for (int i = 0; i < 100; ++i, PlatSleepMs(2)) PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove);
  if (!AppUiStart("/bin/quenlix")) std::_Exit(11);
  const PlatWindow w = PlatCreateWindow(nullptr, "open", kPlatWsVisible, 0, PlatRect{0, 0, 20, 20}, 0);
  if (!PlatPeekMessage(&m, PlatGetFrameWindow(), kPlatMsgClose, kPlatMsgClose, kPlatPeekNoRemove)) std::_Exit(12);
  const int status = AppUiRun();  // waits, with a window open, until the frame's Close
  AppUiFinish();
  std::_Exit(status == 0 && PlatIsWindow(w) && std::filesystem::exists(dir + "/window-1.png") ? 0 : 13);
}

TEST(Program, ATerminationSignalClosesTheFrameAndEndsTheLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder tmp("qx_uirun");
  EXPECT_EXIT(LoopEndsOnSigterm(tmp.Dir() + "/exit"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
