// The shell's side of the program's entry: the application's names, and
// the main routine the entry runs once the managers are up: the engine's
// start, the main loop until quit, the engine's end.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/memory.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/window.h"

// The names from the executable's base name: in a built application the
// short and the display name are the base name; otherwise "QXRT" and
// "Quenlix Runtime".  The class name is always "QXRT".
QX_EXTERN_C void BuildAppNames(AppNames* names, const char* baseName);

// What the program adds around the shell's start and end, and its loop.
struct ShellMainHooks {
  MgErr (*startEngine)();   // after the shell's start; an error ends WMain
  void (*stopEngine)();     // before the shell's end
  void (*afterEngine)();    // after it
  Bool32 (*beforeLoop)();   // the gate open: non-zero ends the run without the loop
  void (*afterLoop)();      // once the loop has ended (or was not entered)
  // At their steps: the object system's cursors (null: none), the
  // memory-full procedure and the auto-launch list (null: the shell's).
  void (*loadCursors)();
  MemFullProc memFullProc;
  void (*autoLaunch)();
  // The panel clipboard's VI: made (1) after the root VI, gone (0) before it.
  void (*panelClipboard)(Bool32 make);
};
void ShellSetMainHooks(const ShellMainHooks& hooks);
const ShellMainHooks& ShellMainHooksInUse();
// The shell's main routine: ShellInit, the program's start, the root VI,
// the memory-full procedure, the main event filter on the root window, the
// auto-launch list, the main loop's hooks, the start gate opened, WMainLoop
// until it quits, the root VI's end and the clean-up procedures,
// ShellShutDown.  The start's error (nothing was started then), else 0.
QX_EXTERN_C int32 WMain();
// What the last WMain returned; 1 while it runs its main loop.
int32 WMainResult();
Bool32 ShellMainLoopRunning();
// Hands the entry BuildAppNames and WMain (the other start-up hooks kept).
void ShellInstallEntryHooks(WStartupHooks hooks);
