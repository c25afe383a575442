// The program's entry point.
#include "app/appstart.h"
#include "app/uiloop.h"

int main(int argc, char** argv) {
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
