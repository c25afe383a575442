// The program's entry point.
#include "app/appstart.h"
#include "app/uiloop.h"
#include "platform/x11/qx_display_x11.h"

int main(int argc, char** argv) {
  // QX_UI=x11 shows the windows on the X display.
  PlatX11Register();
  int status = 1;
  if (AppUiStart(argc > 0 ? argv[0] : nullptr)) {
    if (AppStartup(argc, argv) == kNoErr) {
      status = AppUiRun();
      AppShutdown();
    }
    AppUiFinish();
  }
  return status;
}
