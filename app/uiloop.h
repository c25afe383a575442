// The input script of the test tooling and the program's exit snapshots,
// and a stand-alone loop with a frame window of its own that retrieves and
// dispatches messages until the frame is closed (the program itself runs
// the shell's main loop).
#pragma once

// Starts the window system on the calling thread, which becomes the
// user-interface thread, and creates the frame window (hidden, off the
// screen, titled with the executable's base name).  The frame turns Close,
// which SIGTERM and SIGINT post to it, into the end of the loop.  False,
// with the reason on stderr, when the display cannot be had.
bool AppUiStart(const char* argv0);
// Runs the script QX_INPUT_SCRIPT names, then the loop until Quit, or until
// nothing waits and no window but the frame is open.  With
// QX_SNAPSHOT_AT_EXIT=DIR the screen and the shown windows are written
// there before it returns, whichever way the run ended.  Returns the exit
// status: Quit's code, 0 when nothing was left open, or the script's status
// (2 for a bad script, 1 for a step that failed; file and line on stderr).
int AppUiRun();
// Destroys the frame window and unregisters its class.
void AppUiFinish();

// The program's main routine runs the main loop itself; around it go the
// script and the snapshots.  AppUiScript runs the script QX_INPUT_SCRIPT
// names and returns -1 when the run goes on, else the exit status: the
// script's (as AppUiRun's) or the code of the quit posted while it ran.
int AppUiScript();
// Whether a shown window other than the frame exists (the shell's hidden
// windows and DDE's do not count).
bool AppUiAnythingOpen();
