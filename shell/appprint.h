// What printing asks of the shell: the print preferences and the print
// dialog record set up at start-up, the device blocks freed at shut-down,
// the error alert and temporary paths of the print manager, and the mark
// that a native modal dialog (file or print) runs.
#pragma once
#include "engine/vi/viinst.h"  // FindVIByName
#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"
#include "shell/filedlg.h"


// Gives the print manager the shell's services; called with the other hooks.
void ShellInstallPrintHooks();

// The hidden window of style 44 titled "Closed" through which panels are
// drawn off-screen, made on first use; 0 when it cannot be made.
WindowRef ShellClosedWindow();
// Prepares the print dialog record (once, at start-up; the print
// preferences are read with the others); destroys the hidden "Closed"
// window at shut-down (the window manager's tear-down frees the printer's
// device blocks).
void ShellInitPrinting();
void ShellFinishPrinting();
