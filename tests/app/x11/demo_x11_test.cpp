// The demo application in an X11 window under a real (virtual) server: the
// window shows what the headless run shows, an XTest click on Run runs it
// again (a second logged record), and File -> Close in the window's own menu
// bar closes it: the program ends by itself with 0, leaving no temporary file.
// Without a server the test skips, unless QX_REQUIRE_DISPLAY=1.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_png.h"
#include "platform/qx_surface.h"
#include "emulation.h"
#include "golden_image.h"
#include "temp_folder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace {

// An emulated program, sanitized at that, answers the X server's events several
// times slower: the pauses that let each step reach it and the waits grow.
int Pace() { return qxtest::UnderUserModeEmulation() ? 6 : 1; }

// Polls until done() or the seconds (times the pace) have passed.
bool Within(int seconds, const std::function<bool()>& done) {
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds * Pace());
       std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(std::chrono::milliseconds(20)))
    if (done()) return true;
  return false;
}

// The record count of the log's header (big-endian, after "DTLG" and the
// version); -1 before the file is there.
int32_t LogCount(const std::string& log) {
  unsigned char b[12] = {};
  std::ifstream in(log, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(b), sizeof b)) return -1;
  return int32_t(uint32_t(b[8]) << 24 | uint32_t(b[9]) << 16 | uint32_t(b[10]) << 8 | b[11]);
}

// The shown top-level window of that title, 0 for none.
::Window FindWindow(Display* d, const char* title) {
  ::Window root = DefaultRootWindow(d), r, parent, *kids = nullptr, found = 0;
  unsigned n = 0;
  if (!XQueryTree(d, root, &r, &parent, &kids, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    XWindowAttributes a;
    char* name = nullptr;
    if (XGetWindowAttributes(d, kids[i], &a) && a.map_state == IsViewable && XFetchName(d, kids[i], &name) && name) {
      if (std::strcmp(name, title) == 0) found = kids[i];
      XFree(name);
    }
  }
  if (kids) XFree(kids);
  return found;
}

// Errors about a window that went meanwhile fail the step, not the process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The window's own menu bar is 20 pixels high.
constexpr int kMenuBar = 20;

void Click(Display* d, ::Window w, int x, int y) {
  int rx = 0, ry = 0;
  ::Window child;
  XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &rx, &ry, &child);
  // Each step reaches the program before the next: a menu follows the
  // pointer before it takes the press.
  XTestFakeMotionEvent(d, DefaultScreen(d), rx, ry, CurrentTime);
  XFlush(d);
  std::this_thread::sleep_for(std::chrono::milliseconds(100 * Pace()));
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XFlush(d);
  std::this_thread::sleep_for(std::chrono::milliseconds(100 * Pace()));
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XFlush(d);
}

// Runs the program in the X11 window system, its temporary files in dir/t.
pid_t Spawn(std::string program, const std::string& dir) {
  std::filesystem::create_directories(dir + "/t");
  std::vector<std::string> env = {"QX_UI=x11", "TMPDIR=" + dir + "/t", "QX_RUNTIME_DIR=" + dir + "/run",
                                  "QX_REGISTRY_FILE=" + dir + "/reg.ini"};
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "QX_", 3) != 0 && std::strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
  std::vector<char*> envp, argv{program.data(), nullptr};
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : 0;
}

// A menu shows as a viewable override-redirect window of the root.
bool MenuShown(Display* d) {
  ::Window r, parent, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &r, &parent, &kids, &n)) return false;
  bool shown = false;
  for (unsigned i = 0; i < n && !shown; ++i) {
    XWindowAttributes a;
    shown = XGetWindowAttributes(d, kids[i], &a) && a.map_state == IsViewable && a.override_redirect;
  }
  if (kids) XFree(kids);
  return shown;
}

// File, then, once its menu shows (a loaded machine can take longer than any
// pause), the row at y of the menu (rows 16 high under the bar); Escape ends
// a tracking that missed the row.
void ChooseInFile(Display* d, ::Window w, int row) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200 * Pace()));
  Click(d, w, 15, kMenuBar / 2);
  Within(5, [&] { return MenuShown(d); });
  Click(d, w, 20, kMenuBar + 16 * row - 6);
  const KeyCode escape = XKeysymToKeycode(d, XK_Escape);
  XTestFakeKeyEvent(d, escape, True, CurrentTime);
  XTestFakeKeyEvent(d, escape, False, CurrentTime);
  XFlush(d);
}

// File -> Close in the window titled title: the last window closed, the
// program quits by itself with 0, leaving no temporary file.  On a loaded
// machine a press on File that comes as a run ends can open no menu until an
// Escape: the choice is made again, up to three times, while the window
// stays.  Should the program not end, it is killed so that the test cannot
// hang.
void CloseThroughFile(Display* d, const char* title, pid_t pid, const std::string& dir) {
  int status = -1;
  bool ended = false;
  auto reaped = [&] { return ended = ended || waitpid(pid, &status, WNOHANG) == pid; };
  for (int tries = 0; tries < 3 && !reaped(); ++tries) {
    if (::Window w = FindWindow(d, title)) ChooseInFile(d, w, 2);
    Within(10, [&] { return reaped() || !FindWindow(d, title); });
  }
  if (!Within(20, reaped)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "File -> Close did not end the program";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(std::filesystem::is_empty(dir + "/t")) << "no temporary file left";
}

TEST(DemoX11, TheWindowMatchesTheGoldenAndAClickOnRunLogsASecondRecord) {
  Display* d = XOpenDisplay(nullptr);
  XSetErrorHandler(&IgnoreXError);
  if (!d) {
    const char* need = std::getenv("QX_REQUIRE_DISPLAY");
    if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
    GTEST_SKIP() << "no X display";
  }
  TempFolder tmp("qx_demox");
  const std::string dir = tmp.Dir(), log = dir + "/demo.log", program = dir + "/quenlix-demo";
  ASSERT_EQ(std::system((std::string(QX_DEMO_BUILD) + " " + QX_QUENLIX + " " + program + " 20 " + log + " >/dev/null").c_str()), 0);
  const pid_t pid = Spawn(program, dir);
  ASSERT_NE(pid, 0);
  // The run when opened logs the first record.
  ::Window w = 0;
  EXPECT_TRUE(Within(20, [&] { return LogCount(log) == 1 && (w = FindWindow(d, "Demo.vi")) != 0; }));
  if (w) {
    // Its pixels are the headless run's, once the window has drawn.
    PlatSurface* golden = PlatPngReadFile(QX_SOURCE_DIR "/tests/app/goldens/demo-panel.png");
    ASSERT_NE(golden, nullptr);
    const int gw = PlatSurfaceWidth(golden), gh = PlatSurfaceHeight(golden);
    int64_t differ = -1;
    // The host window may be made anew while the program sets up: each look
    // finds it again.
    Within(20, [&] {
      if (::Window now = FindWindow(d, "Demo.vi")) w = now;
      XImage* img = XGetImage(d, w, 0, 0, unsigned(gw), unsigned(gh), AllPlanes, ZPixmap);
      if (!img) return false;
      differ = 0;
      for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x)
          differ += (uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF) != (PlatSurfaceGetPixel(golden, x, y) & 0xFFFFFF);
      XDestroyImage(img);
      return differ == 0;
    });
    PlatSurfaceDestroy(golden);
    EXPECT_EQ(differ, 0) << "pixels unlike the golden";
    // Run, in the tool bar under the menu bar: a second record.
    if (::Window now = FindWindow(d, "Demo.vi")) w = now;
    Click(d, w, 38, kMenuBar + 10);
    EXPECT_TRUE(Within(20, [&] { return LogCount(log) == 2; })) << LogCount(log);
  }
#ifdef QX_SANITIZE
  // Emulated and sanitized, File -> Close leaves the program running (not so
  // natively with the sanitizers, nor emulated without them): the close is
  // left to the other builds.
  if (qxtest::UnderUserModeEmulation()) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(d);
    GTEST_SKIP() << "emulated i386 with the sanitizers: File -> Close is checked by the other builds";
  }
#endif
  // The host window may have been made anew meanwhile: found again.
  // File's second row is Close.
  EXPECT_TRUE(Within(20, [&] { return (w = FindWindow(d, "Demo.vi")) != 0; }));
  CloseThroughFile(d, "Demo.vi", pid, dir);
  XCloseDisplay(d);
}

// A VI that runs until its window closes, with the minimal run-time menu:
// its window shows that bar while it runs, and the bar's Close, an item of
// the program's own, closes it as the program's File -> Close does.
TEST(DemoX11, TheMinimalRunTimeMenuShowsAndItsCloseClosesTheWindow) {
  Display* d = XOpenDisplay(nullptr);
  XSetErrorHandler(&IgnoreXError);
  if (!d) {
    const char* need = std::getenv("QX_REQUIRE_DISPLAY");
    if (need && std::strcmp(need, "1") == 0) FAIL() << "no X display could be opened";
    GTEST_SKIP() << "no X display";
  }
  TempFolder tmp("qx_menux");
  const std::string dir = tmp.Dir(), program = dir + "/quenlix-menu";
  ASSERT_EQ(std::system((std::string(QX_DEMO_BUILD) + " " + QX_QUENLIX + " " + program + " menu >/dev/null").c_str()), 0);
  const pid_t pid = Spawn(program, dir);
  ASSERT_NE(pid, 0);
  ::Window w = 0;
  EXPECT_TRUE(Within(20, [&] { return (w = FindWindow(d, "Menu.vi")) != 0; }));
  if (w) {
    // The bar, left of the icon pane (no scroll bars while it runs), once
    // it is drawn as the golden shows it.
    const std::filesystem::path png = std::filesystem::path(QX_SOURCE_DIR) / "tests/app/goldens/minimal-menu-bar.png";
    const int width = 240 - 35;
    PlatSurface* bar = PlatSurfaceCreate(width, kMenuBar, kPlatRgb32);
    PlatSurface* golden = PlatPngReadFile(png.c_str());
    Within(20, [&] {
      XImage* img = XGetImage(d, w, 0, 0, unsigned(width), kMenuBar, AllPlanes, ZPixmap);
      if (!img) return false;
      bool same = golden != nullptr;
      for (int y = 0; y < kMenuBar; ++y)
        for (int x = 0; x < width; ++x) {
          PlatSurfaceSetPixel(bar, x, y, uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF);
          same = same && ((PlatSurfaceGetPixel(bar, x, y) ^ PlatSurfaceGetPixel(golden, x, y)) & 0xFFFFFF) == 0;
        }
      XDestroyImage(img);
      return same;
    });
    if (golden) PlatSurfaceDestroy(golden);
    qxtest::ExpectMatchesGolden(bar, png, "QX_UPDATE_GOLDENS=1 xvfb-run -a build/tests/test_app_x11");
    PlatSurfaceDestroy(bar);
  }
  // File's second row is Close: New, Save and Save As, which the program's
  // own bar lacks, are left out.
  CloseThroughFile(d, "Menu.vi", pid, dir);
  XCloseDisplay(d);
}

}  // namespace
