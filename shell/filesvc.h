// What the shell answers for the diagram's file functions: the two-button
// alert, the "vi.lib" and default folders, the validity of a posted
// request's VI, and run-time menu refnums.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/appdirs.h"
#include "mgsource/path.h"
#include "shell/dialog.h"

// True while the VI that posted the request is loaded with the data space
// it had when it posted it.
QX_EXTERN_C Bool32 UserEventTargetValid(UHandle request);
// True for the refnum of a run-time menu of a running VI.
QX_EXTERN_C Bool32 RTMIsMenuRefnum(uInt32 refnum);

// Fills the run-time library's shell services; called at start-up.
void ShellInstallFileHooks();
