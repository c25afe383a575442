// The program's entry point: the window system, the hooks between the
// layers, and the entry of the window manager with the command line made
// from the arguments.
#include <cstdio>
#include <string>

#include "app/appstart.h"
#include "app/uiloop.h"
#include "io/netconn.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/winmain.h"
#include "panel/fppanel.h"
#include "panel/osupport.h"
#include "platform/qx_display.h"
#include "platform/qx_uitest.h"
#include "platform/x11/qx_display_x11.h"
#include "shell/shellmain.h"

namespace {

int gStatus = 0;

// The input script before the main loop: its status (or its quit's code)
// ends the run.  So does a start that leaves nothing open once what waits
// has been handled.
Bool32 BeforeLoop() {
  if (const int status = AppUiScript(); status >= 0) {
    gStatus = status;
    return 1;
  }
  for (int turns = 0; turns < 1000 && !WQuitting() && (WMainLoop(0, 0) || WCountPendingEvents() > 0); ++turns) {
  }
  return WQuitting() || !AppUiAnythingOpen() ? 1 : 0;
}

// The screen and the shown windows, whichever way the run ended.
void AfterLoop() { PlatUiSnapshotAtExit(); }

}  // namespace

int main(int argc, char** argv) {
  // QX_UI=x11 shows the windows on the X display.
  PlatX11Register();
  if (!PlatWindowSystemStart()) {
    std::fprintf(stderr, "quenlix: QX_UI names a display this program does not have\n");
    return 1;
  }
  AppInstallHooks();
  ShellMainHooks hooks{};
  hooks.startEngine = &AppStartEngine;
  hooks.beforeLoop = &BeforeLoop;
  hooks.afterLoop = &AfterLoop;
  hooks.loadCursors = [] { GetCursorImage(24); };
  hooks.panelClipboard = &FPPanelClipboardLife;
  ShellSetMainHooks(hooks);
  // The network layer starts with the managers and stops after the shell.
  WStartupHooks entry{};
  entry.netStart = &NCInitMutexes;
  entry.netStop = [] { NCShutdown(); };
  ShellInstallEntryHooks(entry);
  std::string line = WCommandLineFromArgs(argc - 1, argv + 1);
  WinMain(1, 0, reinterpret_cast<CStr>(line.data()), 1);
  // A start-up that failed ends the program with its error.
  return gStatus ? gStatus : WMainResult();
}
