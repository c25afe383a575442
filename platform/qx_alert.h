// Alerts and message boxes of the platform layer.
//
// There is no native dialog on this host: an alert is written to stderr and
// answered with its default button, unless a test installs a script that
// answers instead.
#pragma once
#include <cstdint>

enum PlatAlertButtons : int32_t {
  kPlatOK = 0,                // OK
  kPlatOKCancel = 1,          // OK, Cancel
  kPlatAbortRetryIgnore = 2,  // Abort, Retry, Ignore
  kPlatYesNoCancel = 3,
  kPlatYesNo = 4,
  kPlatRetryCancel = 5,
};

enum PlatAlertAnswer : int32_t {
  kPlatAnsOK = 1,
  kPlatAnsCancel = 2,
  kPlatAnsAbort = 3,
  kPlatAnsRetry = 4,
  kPlatAnsIgnore = 5,
  kPlatAnsYes = 6,
  kPlatAnsNo = 7,
};

enum PlatAlertIcon : int32_t { kPlatIconNone = 0, kPlatIconStop = 1, kPlatIconWarning = 2, kPlatIconInfo = 3 };

// A hook that answers alerts in place of the default; NULL restores the default.
typedef int32_t (*PlatAlertProc)(const char* title, const char* text, int32_t buttons, int32_t icon);
PlatAlertProc PlatSetAlertProc(PlatAlertProc proc);

// Shows an alert and returns the button chosen.  Headless, the answer is the
// button that neither loops nor ends the process: OK, or Ignore for
// Abort/Retry/Ignore, Cancel for Retry/Cancel, No for Yes/No.
int32_t PlatAlert(const char* title, const char* text, int32_t buttons, int32_t icon);

// The default answer for a set of buttons.
int32_t PlatAlertDefaultAnswer(int32_t buttons);

void PlatBeep();
[[noreturn]] void PlatExitProcess(int32_t status);
