// The clipboard, its viewer chain, dropped files and the script runner of
// the test tooling, over the headless window system.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/qx_clipboard.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_alert.h"
#include "platform/qx_drop.h"
#include "platform/qx_input.h"
#include "platform/qx_file.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_paint.h"
#include "platform/qx_png.h"
#include "platform/qx_uitest.h"

namespace {

// Each viewer keeps the next one and passes the chain's messages on, as
// viewers must; drops are read and finished by the handler.
std::map<PlatWindow, PlatWindow> gNextViewer;
std::vector<std::string> gDropped;

PlatResult ViewerProc(PlatWindow w, uint32_t m, PlatWParam wp, PlatLParam lp) {
  PlatUiLog(w, m, wp, lp);
  switch (m) {
    case kPlatMsgDrawClipboard:
      if (gNextViewer[w]) PlatSendMessage(gNextViewer[w], m, wp, lp);
      return 0;
    case kPlatMsgChangeCbChain:
      if (PlatWindow(wp) == gNextViewer[w])
        gNextViewer[w] = PlatWindow(lp);
      else if (gNextViewer[w])
        PlatSendMessage(gNextViewer[w], m, wp, lp);
      return 0;
    case kPlatMsgDropFiles: {
      const PlatDrop d = PlatDrop(wp);
      int32_t x = 0, y = 0;
      PlatDragQueryPoint(d, &x, &y);
      gDropped.push_back(std::to_string(x) + "," + std::to_string(y));
      for (uint32_t i = 0; i < PlatDragQueryFile(d, kPlatDropCount, nullptr, 0); ++i) {
        char name[kPlatDropMaxName + 1];
        PlatDragQueryFile(d, i, name, sizeof name);
        gDropped.push_back(name);
      }
      PlatDragFinish(d);
      return 0;
    }
    default: return PlatDefWindowProc(w, m, wp, lp);
  }
}

class WindowSystemLeaves : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PlatWindowSystemStart());
    PlatRegisterClass(PlatWindowClass{"QXLeafTest", ViewerProc, 0, 0xFFFFFF});
    PlatClipboardReset();
    gNextViewer.clear();
    gDropped.clear();
  }
  void TearDown() override {
    for (PlatWindow w : made_) PlatDestroyWindow(w);
    PlatUiPump();
    PlatClipboardReset();
  }
  PlatWindow Make(const char* title, int32_t left, int32_t top, bool shown = true) {
    PlatRect frame{};
    frame.left = left;
    frame.top = top;
    frame.right = left + 100;
    frame.bottom = top + 80;
    const PlatWindow w = PlatCreateWindow("QXLeafTest", title, shown ? uint32_t(kPlatWsVisible) : 0u, 0, frame, 0);
    made_.push_back(w);
    return w;
  }
  static PlatGlobal Text(const char* s) {
    const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalMovable, uint32_t(std::strlen(s) + 1));
    std::memcpy(PlatGlobalLock(g), s, std::strlen(s) + 1);
    PlatGlobalUnlock(g);
    return g;
  }
  static std::vector<PlatUiLogEntry> Only(const std::vector<PlatUiLogEntry>& log, uint32_t m) {
    std::vector<PlatUiLogEntry> v;
    for (const auto& e : log)
      if (e.message == m) v.push_back(e);
    return v;
  }
  std::vector<PlatWindow> made_;
};

TEST_F(WindowSystemLeaves, ClipboardRoundTripOwnerAndASecondOpenFails) {
  const PlatWindow a = Make("A", 10, 10);
  ASSERT_TRUE(PlatOpenClipboard(a));
  ASSERT_TRUE(PlatEmptyClipboard());
  const PlatGlobal text = Text("first line\r\nsecond");
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipText, text));
  EXPECT_FALSE(PlatSetClipboardData(kPlatClipOemText, text));  // one handle, two formats
  // Another thread cannot open, read or change it meanwhile.
  bool otherOpen = true, otherSet = true;
  uintptr_t otherGet = 1;
  std::thread([&] {
    otherOpen = PlatOpenClipboard(0);
    otherGet = PlatGetClipboardData(kPlatClipText);
    otherSet = PlatEmptyClipboard();
  }).join();
  EXPECT_FALSE(otherOpen);
  EXPECT_EQ(otherGet, 0u);
  EXPECT_FALSE(otherSet);
  EXPECT_FALSE(PlatOpenClipboard(a + 1000));  // no such window
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
  const PlatWindow b = Make("B", 10, 10);
  EXPECT_FALSE(PlatOpenClipboard(b));  // another owner on this thread too
  EXPECT_EQ(PlatLastError(), kPlatErrAccessDenied);
  EXPECT_TRUE(PlatOpenClipboard(a));          // the holder again
  ASSERT_TRUE(PlatCloseClipboard());
  EXPECT_FALSE(PlatCloseClipboard());
  EXPECT_EQ(PlatGetClipboardOwner(), a);
  EXPECT_TRUE(PlatIsClipboardFormatAvailable(kPlatClipText));
  EXPECT_FALSE(PlatIsClipboardFormatAvailable(kPlatClipBitmap));
  EXPECT_EQ(PlatGetClipboardData(kPlatClipText), 0u);  // not open

  std::string back;
  std::thread([&] {
    if (!PlatOpenClipboard(0)) return;
    const PlatGlobal g = PlatGlobal(PlatGetClipboardData(kPlatClipText));
    if (const char* p = static_cast<const char*>(PlatGlobalLock(g))) back.assign(p), PlatGlobalUnlock(g);
    PlatCloseClipboard();
  }).join();
  EXPECT_EQ(back, "first line\r\nsecond");
  // Replacing the text frees the old block.
  ASSERT_TRUE(PlatOpenClipboard(a));
  const PlatGlobal text2 = Text("x");
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipText, text2));
  EXPECT_FALSE(PlatGlobalIsValid(text));
  EXPECT_EQ(PlatGetClipboardData(kPlatClipText), text2);
  PlatCloseClipboard();
  // A thread that ends holding it open lets it go.
  bool opened = false;
  std::thread([&] { opened = PlatOpenClipboard(0); }).join();
  EXPECT_TRUE(opened);
  EXPECT_EQ(PlatClipboardHolder(), 0u);
  EXPECT_TRUE(PlatOpenClipboard(a));
  PlatCloseClipboard();
}

TEST_F(WindowSystemLeaves, EmptyingFreesEachFormatAndRefusesBadItems) {
  const PlatWindow a = Make("A", 10, 10);
  const PlatObj bitmap = PlatCreateBitmap(8, 8, 32, nullptr, 0);
  const uint32_t colours[2] = {0, 0xFFFFFF};
  const PlatObj palette = PlatCreatePalette(colours, 2);
  const PlatGlobal oem = Text("oem");
  ASSERT_NE(bitmap, 0u);
  ASSERT_NE(palette, 0u);
  EXPECT_FALSE(PlatSetClipboardData(kPlatClipBitmap, bitmap));  // not open
  EXPECT_EQ(PlatLastError(), kPlatErrAccessDenied);
  ASSERT_TRUE(PlatOpenClipboard(a));
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipBitmap, bitmap));
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipPalette, palette));
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipOemText, oem));
  const struct {
    uint32_t format;
    uintptr_t data;
    int32_t error;
  } kRefused[] = {
      {kPlatClipBitmap, palette, kPlatErrInvalidHandle},     // wrong kind
      {kPlatClipPalette, 0xDEAD, kPlatErrInvalidHandle},     // never made
      {kPlatClipText, 0, kPlatErrInvalidHandle},
      {kPlatClipMetafile, 1, kPlatErrInvalidHandle},         // not a metafile
      {99, 1, kPlatErrInvalidParam},
  };
  for (const auto& r : kRefused) {
    EXPECT_FALSE(PlatSetClipboardData(r.format, r.data)) << r.format;
    EXPECT_EQ(PlatLastError(), r.error) << r.format;
  }
  // Another metafile handler, once registered, frees its items too.
  static std::vector<uintptr_t> freedMetafiles;
  freedMetafiles.clear();
  ASSERT_TRUE(PlatClipboardSetFormatHandler(
      kPlatClipMetafile, [](uintptr_t d) { return d == 77; }, [](uintptr_t d) { freedMetafiles.push_back(d); }));
  EXPECT_FALSE(PlatSetClipboardData(kPlatClipMetafile, 78));
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipMetafile, 77));
  ASSERT_TRUE(PlatEmptyClipboard());
  EXPECT_EQ(PlatObjectKind(bitmap), kPlatObjNone);
  EXPECT_EQ(PlatObjectKind(palette), kPlatObjNone);
  EXPECT_FALSE(PlatGlobalIsValid(oem));
  EXPECT_EQ(freedMetafiles, std::vector<uintptr_t>{77});
  EXPECT_FALSE(PlatIsClipboardFormatAvailable(kPlatClipBitmap));
  PlatCloseClipboard();
}

TEST_F(WindowSystemLeaves, ChangesGoDownTheViewerChainAndViewersLeaveIt) {
  const PlatWindow v1 = Make("V1", 0, 0), v2 = Make("V2", 0, 0), v3 = Make("V3", 0, 0);
  EXPECT_EQ(gNextViewer[v1] = PlatSetClipboardViewer(v1), 0);
  EXPECT_EQ(gNextViewer[v2] = PlatSetClipboardViewer(v2), v1);
  EXPECT_EQ(gNextViewer[v3] = PlatSetClipboardViewer(v3), v2);
  auto change = [&] {
    PlatUiLogStart();
    EXPECT_TRUE(PlatOpenClipboard(v1));
    EXPECT_TRUE(PlatEmptyClipboard());
    EXPECT_TRUE(PlatSetClipboardData(kPlatClipText, Text("t")));
    EXPECT_TRUE(PlatCloseClipboard());
    std::vector<PlatWindow> order;
    for (const auto& e : Only(PlatUiLogStop(), kPlatMsgDrawClipboard)) order.push_back(e.window);
    return order;
  };
  EXPECT_EQ(change(), (std::vector<PlatWindow>{v3, v2, v1}));
  // Opening and closing without a change tells nobody.
  PlatUiLogStart();
  PlatOpenClipboard(v1);
  PlatCloseClipboard();
  EXPECT_TRUE(Only(PlatUiLogStop(), kPlatMsgDrawClipboard).empty());
  // V2 leaves from the middle: V3 links to V1.
  PlatUiLogStart();
  EXPECT_TRUE(PlatChangeClipboardChain(v2, gNextViewer[v2]));
  const auto chain = Only(PlatUiLogStop(), kPlatMsgChangeCbChain);
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0].window, v3);
  EXPECT_EQ(PlatWindow(chain[0].wParam), v2);
  EXPECT_EQ(PlatWindow(chain[0].lParam), v1);
  EXPECT_EQ(change(), (std::vector<PlatWindow>{v3, v1}));
  // The head leaves: the next one becomes the head and nobody is sent anything.
  PlatUiLogStart();
  EXPECT_TRUE(PlatChangeClipboardChain(v3, gNextViewer[v3]));
  EXPECT_TRUE(PlatUiLogStop().empty());
  EXPECT_EQ(PlatGetClipboardViewer(), v1);
  EXPECT_EQ(change(), (std::vector<PlatWindow>{v1}));
  EXPECT_FALSE(PlatChangeClipboardChain(0, 0));
  EXPECT_EQ(PlatSetClipboardViewer(0x7FFFFFF), 0);  // no such window: no change
  EXPECT_EQ(PlatGetClipboardViewer(), v1);
}

TEST_F(WindowSystemLeaves, AThreeFileDropReachesOnlyAnAcceptingWindow) {
  const PlatWindow accepting = Make("accepting", 10, 10), other = Make("other", 200, 10);
  ASSERT_TRUE(PlatDragAcceptFiles(accepting, true));
  EXPECT_TRUE(PlatAcceptsFiles(accepting));
  EXPECT_FALSE(PlatAcceptsFiles(other));
  // Accepting is the window's extended style bit, both ways.
  EXPECT_EQ(PlatGetWindowExStyle(accepting), uint32_t(kPlatWsExAcceptFiles));
  EXPECT_EQ(PlatSetWindowExStyle(other, kPlatWsExAcceptFiles | kPlatWsExToolWindow), 0u);
  EXPECT_TRUE(PlatAcceptsFiles(other));
  EXPECT_EQ(PlatSetWindowExStyle(other, 0), uint32_t(kPlatWsExAcceptFiles | kPlatWsExToolWindow));
  EXPECT_FALSE(PlatAcceptsFiles(other));
  const std::string longest(kPlatDropMaxName, 'n');
  const char* names[] = {"C:\\data\\one.vi", "C:\\data\\two.qlb", longest.c_str()};
  const int32_t liveBefore = PlatDropLiveCount();

  PlatUiLogStart();
  EXPECT_FALSE(PlatDropFiles(other, names, 3, 5, 6));
  EXPECT_EQ(PlatLastError(), kPlatErrAccessDenied);
  ASSERT_TRUE(PlatDropFiles(accepting, names, 3, 7, 8));
  PlatUiPump();
  const auto drops = Only(PlatUiLogStop(), kPlatMsgDropFiles);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].window, accepting);
  EXPECT_EQ(gDropped, (std::vector<std::string>{"7,8", names[0], names[1], longest}));
  EXPECT_EQ(PlatDropLiveCount(), liveBefore);
  // The finished handle is refused by every call.
  const PlatDrop stale = PlatDrop(drops[0].wParam);
  char buf[8];
  EXPECT_EQ(PlatDragQueryFile(stale, kPlatDropCount, nullptr, 0), 0u);
  EXPECT_EQ(PlatDragQueryFile(stale, 0, buf, sizeof buf), 0u);
  EXPECT_FALSE(PlatDragQueryPoint(stale, nullptr, nullptr));
  EXPECT_FALSE(PlatDragFinish(stale));

  const std::string tooLong(kPlatDropMaxName + 1, 'n');
  const char* bad[][1] = {{tooLong.c_str()}, {""}, {nullptr}};
  for (auto& b : bad) EXPECT_FALSE(PlatDropFiles(accepting, b, 1, 0, 0));
  EXPECT_FALSE(PlatDropFiles(accepting, names, 0, 0, 0));
  ASSERT_TRUE(PlatDragAcceptFiles(accepting, false));
  EXPECT_FALSE(PlatDropFiles(accepting, names, 1, 0, 0));
  EXPECT_FALSE(PlatDragAcceptFiles(0x7FFFFFF, true));
  EXPECT_FALSE(PlatDropFiles(0x7FFFFFF, names, 1, 0, 0));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
  // A name is cut to the buffer given.
  ASSERT_TRUE(PlatDragAcceptFiles(other, true));
  ASSERT_TRUE(PlatDropFiles(other, names, 1, 0, 0));
  PlatMsg m;
  ASSERT_TRUE(PlatPeekMessage(&m, other, kPlatMsgDropFiles, kPlatMsgDropFiles, kPlatPeekRemove));
  EXPECT_EQ(PlatDragQueryFile(PlatDrop(m.wParam), 0, buf, sizeof buf), 7u);
  EXPECT_STREQ(buf, "C:\\data");
  EXPECT_EQ(PlatDragQueryFile(PlatDrop(m.wParam), 0, nullptr, 0), std::strlen(names[0]));
  EXPECT_EQ(PlatDragQueryFile(PlatDrop(m.wParam), 1, buf, sizeof buf), 0u);
  EXPECT_TRUE(PlatDragFinish(PlatDrop(m.wParam)));
}

std::string WriteScript(const std::string& name, const std::string& text) {
  const std::string path = "/tmp/qx_uitest_" + std::to_string(getpid()) + "_" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}

TEST_F(WindowSystemLeaves, AScriptClicksAndWritesScreenshotsOrStopsAtItsBadLine) {
  const PlatWindow w = Make("Shot", 40, 30);
  PlatUiPump();
  PlatRect client{};
  ASSERT_TRUE(PlatGetClientRect(w, &client));
  int32_t cx = 0, cy = 0;
  PlatClientToScreen(w, &cx, &cy);
  const std::string shot = WriteScript("screen.png", ""), winShot = WriteScript("window.png", "");
  const std::string script = WriteScript(
      "good.txt", "# click inside, then take both pictures\nclick " + std::to_string(cx + 5) + " " +
                      std::to_string(cy + 5) + "\nwait\nsnapshot " + shot + "\nsnapshot-window \"Shot\" " + winShot +
                      "\nquit\nclick 0 0\n");
  PlatUiLogStart();
  ASSERT_EQ(PlatUiRunScript(script.c_str()), 0);
  const auto log = PlatUiLogStop();
  const auto downs = Only(log, kPlatMsgLButtonDown);
  ASSERT_EQ(downs.size(), 1u);  // the click after quit never ran
  EXPECT_EQ(downs[0].window, w);
  EXPECT_EQ(PlatLowWord(downs[0].lParam), 5);
  EXPECT_EQ(PlatHighWord(downs[0].lParam), 5);
  PlatMsg m;
  EXPECT_TRUE(PlatPeekMessage(&m, 0, kPlatMsgQuit, kPlatMsgQuit, kPlatPeekRemove));

  PlatSurface* screen = PlatPngReadFile(shot.c_str());
  PlatSurface* window = PlatPngReadFile(winShot.c_str());
  ASSERT_NE(screen, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(PlatSurfaceWidth(screen), PlatGetDisplay()->Width());
  EXPECT_EQ(PlatSurfaceWidth(window), client.right - client.left);
  EXPECT_EQ(PlatSurfaceGetPixel(screen, 0, 0), 0xFF808080u);      // the desktop
  EXPECT_EQ(PlatSurfaceGetPixel(screen, cx + 1, cy + 1), 0xFFFFFFFFu);  // the white client
  EXPECT_EQ(PlatSurfaceGetPixel(window, 1, 1), 0xFFFFFFFFu);
  PlatSurfaceDestroy(screen);
  PlatSurfaceDestroy(window);

  const struct {
    const char* text;
    int32_t status;
  } kRuns[] = {
      {"wait\nclick 1\n", 2},
      {"wait\nsnapshot-window \"No such\" x.png\n", 1},
      {"type \"\x01\"\n", 2},
  };
  for (const auto& r : kRuns) EXPECT_EQ(PlatUiRunScript(WriteScript("run.txt", r.text).c_str()), r.status) << r.text;
  EXPECT_EQ(PlatUiRunScript("/nonexistent/script.txt"), 2);
  for (const std::string& p : {shot, winShot, script}) std::remove(p.c_str());
}

TEST_F(WindowSystemLeaves, AnAlertFirstSendsTheCaptureWindowCancelMode) {
  const PlatWindow w = Make("Tracking", 10, 10);
  PlatAlertProc old = PlatSetAlertProc([](const char*, const char*, int32_t, int32_t) { return int32_t(kPlatAnsOK); });
  PlatUiLogStart();
  PlatAlert("t", "no capture", kPlatOK, kPlatIconNone);
  PlatSetCapture(w);
  PlatAlert("t", "with capture", kPlatOK, kPlatIconNone);
  EXPECT_EQ(PlatGetCapture(), 0) << "the default procedure ends the capture";
  const auto cancels = Only(PlatUiLogStop(), kPlatMsgCancelMode);
  ASSERT_EQ(cancels.size(), 1u);
  EXPECT_EQ(cancels[0].window, w);
  PlatSetAlertProc(old);
}

TEST_F(WindowSystemLeaves, ScriptsFromTheEnvironmentAndSnapshotsAtExit) {
  Make("Front", 10, 10);
  Make("Hidden", 30, 30, false);
  unsetenv("QX_INPUT_SCRIPT");
  EXPECT_EQ(PlatUiRunScriptFromEnv(), 0);
  const std::string good = WriteScript("env.txt", "wait\n");
  setenv("QX_INPUT_SCRIPT", good.c_str(), 1);
  EXPECT_EQ(PlatUiRunScriptFromEnv(), 0);
  const std::string bad = WriteScript("bad.txt", "wait\nclick\n");
  setenv("QX_INPUT_SCRIPT", bad.c_str(), 1);
  EXPECT_EQ(PlatUiRunScriptFromEnv(), 2);
  unsetenv("QX_INPUT_SCRIPT");

  unsetenv("QX_SNAPSHOT_AT_EXIT");
  EXPECT_EQ(PlatUiSnapshotAtExit(), 0);
  const std::string dir = "/tmp/qx_uitest_exit_" + std::to_string(getpid());
  setenv("QX_SNAPSHOT_AT_EXIT", dir.c_str(), 1);
  std::vector<PlatWindow> all(size_t(PlatWindowZOrder(nullptr, 0)));
  PlatWindowZOrder(all.data(), int32_t(all.size()));
  int32_t shown = 0;
  for (PlatWindow w : all) shown += PlatIsWindowVisible(w) ? 1 : 0;
  EXPECT_GE(shown, 1);
  EXPECT_LT(shown, int32_t(all.size()));  // the hidden one is left out
  EXPECT_EQ(PlatUiSnapshotAtExit(), 1 + shown);
  unsetenv("QX_SNAPSHOT_AT_EXIT");
  for (const std::string name : {"screen.png", "window-1.png"}) {
    PlatSurface* s = PlatPngReadFile((dir + "/" + name).c_str());
    EXPECT_NE(s, nullptr) << name;
    PlatSurfaceDestroy(s);
  }
  for (int32_t i = 1; i <= shown; ++i) std::remove((dir + "/window-" + std::to_string(i) + ".png").c_str());
  std::remove((dir + "/screen.png").c_str());
  rmdir(dir.c_str());
  for (const std::string& p : {good, bad}) std::remove(p.c_str());
}

}  // namespace
