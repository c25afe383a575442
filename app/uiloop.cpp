#include "app/uiloop.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/qx_dde.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_uitest.h"
#include "platform/qx_window.h"

namespace {

constexpr const char* kFrameClass = "QXFrame";
// The frame carries the application but is never seen.
constexpr PlatRect kFrameRect{-10000, -10000, -9990, -9990};

PlatWindow gFrame = 0;

PlatResult FrameProc(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  // Closing the frame (a termination signal) quits the application.
  if (message == kPlatMsgClose) {
    PlatPostQuitMessage(0);
    return 0;
  }
  return PlatDefWindowProc(w, message, wParam, lParam);
}

}  // namespace

bool AppUiAnythingOpen() {
  std::vector<PlatWindow> all(size_t(PlatWindowZOrder(nullptr, 0)));
  all.resize(size_t(PlatWindowZOrder(all.data(), int32_t(all.size()))));
  for (PlatWindow w : all)
    if (w != PlatGetFrameWindow() && !PlatDdeIsInstanceWindow(w) && PlatIsWindowVisible(w)) return true;
  return false;
}

namespace {

int Loop() {
  PlatMsg m;
  for (;;) {
    if (!PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
      if (!AppUiAnythingOpen()) return 0;
      if (!PlatGetMessage(&m, 0, 0, 0)) return int(m.wParam);
    } else if (m.message == kPlatMsgQuit) {
      return int(m.wParam);
    }
    PlatTranslateMessage(&m);
    PlatDispatchMessage(&m);
  }
}

}  // namespace

bool AppUiStart(const char* argv0) {
  if (!PlatWindowSystemStart()) {
    std::fprintf(stderr, "quenlix: QX_UI names a display this program does not have\n");
    return false;
  }
  PlatRegisterClass(PlatWindowClass{kFrameClass, FrameProc, 0, PlatGetSysColour(kPlatColourWindow)});
  const char* base = argv0 ? std::strrchr(argv0, '/') : nullptr;
  base = base ? base + 1 : argv0 ? argv0 : "";
  gFrame = PlatCreateWindow(kFrameClass, base, kPlatWsDlgFrame | kPlatWsSysMenu, 0, kFrameRect, 0);
  if (!gFrame) {
    std::fprintf(stderr, "quenlix: the frame window cannot be made\n");
    return false;
  }
  PlatSetFrameWindow(gFrame);
  return true;
}

int AppUiRun() {
  int status = PlatUiRunScriptFromEnv();
  if (status == 0) status = Loop();
  PlatUiSnapshotAtExit();
  return status;
}

void AppUiFinish() {
  if (gFrame) PlatDestroyWindow(gFrame);
  gFrame = 0;
  PlatUnregisterClass(kFrameClass);
}

int AppUiScript() {
  if (const int status = PlatUiRunScriptFromEnv()) return status;
  PlatMsg m;
  if (PlatPeekMessage(&m, 0, kPlatMsgQuit, kPlatMsgQuit, kPlatPeekRemove)) return int(m.wParam);
  return -1;
}
