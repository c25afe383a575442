#include "qx_alert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static std::atomic<PlatAlertProc> gAlertProc{nullptr};

PlatAlertProc PlatSetAlertProc(PlatAlertProc proc) { return gAlertProc.exchange(proc); }

int32_t PlatAlertDefaultAnswer(int32_t buttons) {
  switch (buttons) {
    case kPlatAbortRetryIgnore: return kPlatAnsIgnore;
    case kPlatRetryCancel: return kPlatAnsCancel;
    case kPlatYesNo: return kPlatAnsNo;
    case kPlatYesNoCancel: return kPlatAnsCancel;
    default: return kPlatAnsOK;
  }
}

int32_t PlatAlert(const char* title, const char* text, int32_t buttons, int32_t icon) {
  if (PlatAlertProc proc = gAlertProc.load()) return proc(title, text, buttons, icon);
  std::fprintf(stderr, "[alert%s%s] %s\n", title ? ": " : "", title ? title : "", text ? text : "");
  std::fflush(stderr);
  return PlatAlertDefaultAnswer(buttons);
}

void PlatBeep() {
  // A terminal bell is the nearest thing to a beep a headless process has.
  if (isatty(2)) {
    (void)!write(2, "\a", 1);
  }
}

void PlatExitProcess(int32_t status) {
  std::fflush(nullptr);
  std::_Exit(status);
}
