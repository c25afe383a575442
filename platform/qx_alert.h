// Alerts and message boxes of the platform layer.
//
// Headless, an alert is written to stderr and answered with its default
// button, unless a procedure is installed that answers instead (a test, or
// a display showing its own dialog), or the environment variable QX_ALERT_ANSWERS scripts the
// answers: button names separated by commas ("OK", "Cancel", "Abort",
// "Retry", "Ignore", "Yes", "No", any case), one taken by each alert in
// turn.  An alert whose scripted answer is not one of its buttons, or that
// comes after the list ran out, gets its default button.
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

// A procedure run before every alert; NULL removes it.  Returns the one
// installed before.  The one installed at start sends CancelMode to the
// window holding the mouse capture, if any (posted when that window belongs
// to another thread).
typedef void (*PlatAlertPreludeProc)();
PlatAlertPreludeProc PlatSetAlertPrelude(PlatAlertPreludeProc proc);

// Reads QX_ALERT_ANSWERS again, starting its list from the first answer
// (it is read once, at the first alert, otherwise).  Returns how many
// answers it holds; a word that names no button counts and answers with the
// default button.
int32_t PlatAlertReloadAnswers();

// Shows an alert and returns the button chosen.  Headless, the answer is the
// button that neither loops nor ends the process: OK, or Ignore for
// Abort/Retry/Ignore, Cancel for Retry/Cancel, No for Yes/No.
int32_t PlatAlert(const char* title, const char* text, int32_t buttons, int32_t icon);

// The default answer for a set of buttons.
int32_t PlatAlertDefaultAnswer(int32_t buttons);

void PlatBeep();
// A display's own beep in place of the default; NULL restores the default.
// Returns the one installed before.
typedef void (*PlatBeepProc)();
PlatBeepProc PlatSetBeepProc(PlatBeepProc proc);
[[noreturn]] void PlatExitProcess(int32_t status);
