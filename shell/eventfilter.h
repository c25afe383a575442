// The main event filter of the root window: the start and open-document
// events, quit and close requests, menu, key, timer and clipboard events,
// and the user events other threads post; with the services around it:
// the quit notifications, the shut-down request, the VI windows' count,
// the requests on a VI by name and the memory-full procedure.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/occur.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"

// Event codes of the root window the filter handles beyond the window
// layer's named ones (start, open document, quit, close, menu, key, menu
// command and user events).
enum ShellEvent : WEventCode {
  kShellEvActivateVI = -6,
  kShellEvMenuState = -130,
  kShellEvReserved131 = -131,
  kShellEvAboutBox = 27,
  kShellEvClipboardChanged = 28,
  kShellEvTimer = 29,
};
// Timers of the root window.
enum : int32 { kShellTipTimerId = 2, kShellBlinkTimerId = 200 };
// The Help key's code in a key-down event.
constexpr int32 kShellHelpKeyCode = 14;
// The list menu every root event is offered to first.
constexpr int32 kShellAppMenuId = 4;
// The status text of an opened document: "Loading \"%p\"" (entry 1).
constexpr int32 kShellLoadingListId = 15001;

// What later parts of the shell and the layers beside it do for the
// filter.  Every null member does nothing (answers 0), except the menu
// command, which is then the application's (AppMenuCommand).
struct ShellEventHooks {
  int32 (*appMenuCommand)(int32 menu, int32 item, int32 command);
  void (*aboutBox)();
  void (*closeAboutDialog)();  // forgets the about dialog and posts it the dialog quit, when it is open
  void (*destroySplash)();     // destroys and forgets the splash window, when there is one
  void (*debugKey)(WEventRecord* event);
  int32 (*menuEnableUpdate)(WindowRef window);
  int32 (*handleLMenuEvent)(WEventRecord* event, int32 menu, const Rect* bar);
  void (*tipStripSetTarget)(int32 menu, int32 item, Point where);
  void (*tipTimer)();
  void (*blinkTimerEvent)(int32 id);
  void (*importExternalClipboard)(int32 flag);
  void (*updateHelpForPanel)(ObjHeap panel);
  void (*processUpdateQueue)(int32 a1, int32 a2, int32 flag);
  void (*viRefRunCallInUIThread)(int32 reference);
  void (*viServRequestDispatch)(int32 request);
  void (*serverEvent)(const WEventRecord* event);
  void (*setCursorByNumber)(int32 number, int32 argument);
  Bool32 (*quitOnLastWindow)();  // automation-server mode with quitting on the last window on
};
void ShellSetEventHooks(const ShellEventHooks& hooks);
const ShellEventHooks& ShellEventHooksInUse();

// The root window's event handler; 0 except where a handler answers.
QX_EXTERN_C int32 ShellEventFilter(WEventRecord* event, uInt32 refCon);

// The requests of event -6 on the VI named under the key "----" of the
// event's data (word 3): word 2 minus 10 is 0 run, 1 abort, 2 answer in
// word 4 whether it runs, 3 post its panel window a close request.  1004
// when no loaded VI has the name (or the data holds none).
QX_EXTERN_C MgErr ActivateVIByName(WEventRecord* event);
constexpr MgErr kShellNoSuchVI = 1004;

// 1 when a VI other than the root VI has a panel with an open window.
QX_EXTERN_C Bool32 AnyVIWindowOpen();
// With no VI window open: the root VI's panel window hidden, the help
// window hidden, and the quit event posted.
QX_EXTERN_C void QuitIfNoVIWindowsLeft();
// In automation-server mode with quitting on the last window: the quit
// event when no VI window is open.
QX_EXTERN_C void QuitIfNoVIWindows();
QX_EXTERN_C void DestroySplashWindow();

// The shut-down request of external code: the flag set, the quit event
// posted, the execution countdown cleared so a running clump yields.
QX_EXTERN_C void QXShutDown();
Bool32 ShellShutDownRequested();
void ShellClearShutDownRequest();
// Adds (front) or removes an occurrence of the quit notifications; the quit
// occurrence out when asked.  2 without memory, 42 removing one not there.
QX_EXTERN_C MgErr InstallQuitNotification(Occurrence occurrence, Bool32 add, Occurrence* quitOccurrence);
constexpr MgErr kShellNotInList = 42;
// The registered occurrences, newest first.
int32 QuitNotificationCount();
Occurrence QuitNotificationAt(int32 index);
// Forgets them with the quit occurrence (at the end of the main routine).
void DisposeQuitNotifications();
// Fires the registered quit notifications: how many.
int32 FireQuitNotifications();
// Fires the quit occurrence (a quit that was cancelled), when there is one.
void FireQuitOccurrence();

// The shell's memory-full procedure: the busy cursor, a compaction
// requested, the data of idle VIs compacted, the tracked menus released;
// with nothing freed, mode 1 shows the memory-full text and any mode
// records the condition as pending.  The bytes freed.
QX_EXTERN_C int32 MemFullProcedure(int32 zone, int32 mode);
constexpr int32 kShellMemFullListId = 317, kShellMemFullEntry = 2, kShellMemFullCursor = 24;
