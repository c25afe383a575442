// The program's entry with a loop of its own: prints "running" once the
// first instance runs, "open <path>" for each open-document event, "start"
// for the start event, "activated" each time the frame comes forward (it is
// then put back), and "pause" for each pause between single-instance
// attempts (QX_PROBE_PAUSE_MS long, else 1 s).  SIGTERM ends it.  Exit
// status: the entry's, 0.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mgsource/path.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_activate.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_time.h"

namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Pause(int32 ms) {
  Say("pause");
  const char* own = std::getenv("QX_PROBE_PAUSE_MS");
  PlatSleepMs(own ? uint32_t(std::atoi(own)) : uint32_t(ms));
}

// The frame's Close (SIGTERM) is the quit event to the root window.
int32 Root(WEventRecord* e, uInt32) {
  if (e->code == -19) PlatPostQuitMessage(0);
  return e->code == -19 ? 1 : 0;
}

int32 Loop() {
  WSetEventHandler(kWRootWindow, &Root);
  WEventSetGate(1);
  Say("running");
  for (;;) {
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
      if (m.message == kPlatMsgQuit) return 0;
      PlatDispatchMessage(&m);
    }
    WEventRecord e;
    while (WGetNextEvent(&e)) {
      if (e.code == kWEvStart) Say("start");
      if (e.code != kWEvOpenDocument) continue;
      const Path p = reinterpret_cast<Path>(uintptr_t(uInt32(e.where)));
      LStrHandle text = nullptr;
      if (FPathToAZString(p, &text) == kNoErr && text)
        Say("open " + std::string(reinterpret_cast<char*>((*text)->str), size_t((*text)->cnt)));
      FDisposePath(p);
    }
    if (PlatGetActiveWindow() == WFrameWindow() && WFrameWindow()) {
      Say("activated");
      PlatSetActiveWindow(0);
    }
    PlatSleepMs(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!PlatWindowSystemStart()) return 1;
  WStartupHooks hooks{};
  hooks.wMain = &Loop;
  hooks.retryPause = &Pause;
  WSetStartupHooks(hooks);
  std::string line = WCommandLineFromArgs(argc - 1, argv + 1);
  return WinMain(1, 0, reinterpret_cast<CStr>(line.data()), 1);
}
