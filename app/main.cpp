// The program's entry point: the window system, the hooks between the
// layers, and the entry of the window manager with the command line made
// from the arguments.
#include <cstdio>
#include <string>

#include "app/appstart.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_display.h"
#include "platform/x11/qx_display_x11.h"
#include "shell/shellmain.h"

int main(int argc, char** argv) {
  // QX_UI=x11 shows the windows on the X display.
  PlatX11Register();
  if (!PlatWindowSystemStart()) {
    std::fprintf(stderr, "quenlix: QX_UI names a display this program does not have\n");
    return 1;
  }
  // Every hook between the layers, the shell's main routine and the entry's.
  AppInstallHooks();
  std::string line = WCommandLineFromArgs(argc - 1, argv + 1);
  WinMain(1, 0, reinterpret_cast<CStr>(line.data()), 1);
  // A start-up that failed ends the program with its error.
  return AppScriptStatus() ? AppScriptStatus() : WMainResult();
}
