// What the engine asks of the shell's alerts and of the window manager's
// window titles.
//
// The alerts work headless on the platform's alert (stderr, answered with
// the one button) until the shell installs its own one-button alert; the
// error texts come from the run-time resource file.  Window titles go to the
// procedure the window manager installs; without one there is no window to
// title and nothing happens.
#pragma once
#include "mgsource/extcode.h"

// Kinds of alert message.
enum : int32 { kAlertCStr = 52, kAlertPStr = 53 };
// The position that centres an alert.
constexpr int32 kAlertDefaultPos = -32768;

// The one-button alert: the message (a C string for kind 52, a Pascal string
// for kind 53), the button's text (null: the alert's own), its position.
// Returns 0 once the operator closed it; 1 for another kind (nothing shown).
typedef int32 (*OneButtonAlertProc)(int32 kind, const void* message, ConstPStr button, int32 h, int32 v);
QX_EXTERN_C int32 OneButtonAlert(int32 kind, const void* message, ConstPStr button, int32 h, int32 v);
// Installs the shell's alert; null goes back to the headless one.
void SetOneButtonAlertProc(OneButtonAlertProc proc);
OneButtonAlertProc OneButtonAlertProcInUse();

// The list of manager error texts and of application error texts (entry
// N: error 999 + N) in the run-time resource file, and the text shown when
// a code has none.
constexpr int32 kMgErrTextsListId = 10001;
constexpr const char* kMgErrTextsListName = "_mgerr descriptions";
constexpr int32 kAppErrTextsListId = 10002;
constexpr int32 kAppErrBase = 999;
constexpr int32 kAppErrUnspecified = 1018;
constexpr int32 kAppErrTextCount = 45;
constexpr const char* kUnspecifiedErrText = "Unspecified error occurred.";

// The text of an error code as a Pascal string (cut at 255 characters):
// empty for 0; application errors from 1000 up read their entry of the
// application list, smaller codes the manager list; a code without an entry
// gets the unspecified error's text.
QX_EXTERN_C void ErrDescription(MgErr code, PStr out);
// Shows the text of an error code, then a line feed and the detail when one
// is given, in the one-button alert.  Nothing for code 0, nor while an
// error alert is already up.
QX_EXTERN_C void ErrDialog(MgErr code, ConstPStr detail);
// The same with a detail of any length.
void ErrDialogText(MgErr code, const char* detail);

// Sets the title of a window of the window manager.
typedef void (*WindowTitleProc)(int32 window, ConstPStr title);
void SetWindowTitleProc(WindowTitleProc proc);
WindowTitleProc WindowTitleProcInUse();
void SetWindowTitle(int32 window, ConstPStr title);
