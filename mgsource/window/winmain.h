// The program's entry: the command line, one running instance per user
// (a later start hands its documents to the first over DDE), the window
// classes and the frame window, the managers' start-up in their fixed
// order, the shell's main routine, and the tear-down.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_window.h"

// The application's names, from the executable's base name.
struct AppNames {
  uInt32 rsrcSlot;       // the run-time resource file slot
  char shortName[256];   // the DDE service name
  char displayName[256]; // the frame title
  char className[256];
};
typedef void (*WBuildAppNamesProc)(AppNames* names, const char* baseName);

// What the higher layers do at start-up, filled before WinMain runs; each
// null slot does nothing (the names: both the base name).
struct WStartupHooks {
  WBuildAppNamesProc buildAppNames;  // the shell's names
  int32 (*wMain)();                  // the shell's main routine
  void (*oleServerUnregister)();     // "/Unregister"
  MgErr (*netStart)();               // the network layer
  void (*netStop)();
  int32 (*versionMajor)();           // test hook: the host's major version (else the layer's)
  void (*retryPause)(int32 ms);      // test hook: the pause between single-instance attempts
  void (*startStep)(const char* step);  // test hook: each start-up and tear-down step, by name
};
void WSetStartupHooks(const WStartupHooks& hooks);
const WStartupHooks& WStartupHooksInUse();

// The events the start-up posts to the root window.
enum : WEventCode { kWEvOpenDocument = -18, kWEvStart = -2 };

// Start-up modes.
enum : int32 { kWStartNormal = 0, kWStartAutomation = 1, kWStartUnregister = 2 };

// Returns 0 in every case.
QX_EXTERN_C int32 WinMain(uInt32 instance, uInt32 previousInstance, CStr commandLine, int32 showCommand);
// Splits text in place into argv (null: only counts); returns the count.
QX_EXTERN_C int32 WSplitCommandLine(CStr text, CStr* argv);
// 1 "/Automation", 2 "/Unregister" (the first found, exact case), else 0.
QX_EXTERN_C int32 WFindStartMode(int32 argc, const CStr* argv);
// 1 for an argument that names no document: an empty one, or "-pref",
// which also skips the next (the configuration file) by advancing *index.
QX_EXTERN_C int32 WSkipArgument(ConstCStr arg, int32* index);
// 0 for the first instance, 1 when another runs.
QX_EXTERN_C int32 WInstanceRunning();
// Leaves the single-instance count (the first instance's way out).
void WInstanceLeave();
// Hands the documents (or, without any, "activate") to the running
// instance; 1 when the conversation took place.
QX_EXTERN_C int32 WForwardToRunningInstance(int32 argc, const CStr* argv);
QX_EXTERN_C MgErr WStartup(int32 argc, const CStr* argv);
// Posts -18 for each document, then the start event -2; the last post's result.
QX_EXTERN_C MgErr GetLaunchArgs(int32 argc, const CStr* argv);
QX_EXTERN_C void WShutdown();

// Registers QXFrame, QXDChild and QXMenuWnd in that order.
void WRegisterAppClasses();
// The application's names, the start-up mode, the base name, the frame window.
const AppNames* WAppNames();
int32 WStartMode();
const char* WBaseName();
PlatWindow WFrameWindow();
// Brings the frame window to the foreground.
void WFrameToFront();
// The time-slice flag ("CheckWindowsQueueMsgTime") and "useTaskBar".
Bool32 WTimeSliceFlag();
Bool32 WUseTaskBar();

// Builds the command line WinMain takes from a program's arguments (the
// program name excluded): each in double quotes when it is empty or holds
// a blank; an absolute host path that is no switch in the system's form.
std::string WCommandLineFromArgs(int argc, const char* const* argv);
