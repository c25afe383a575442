// Test tooling of the window system: input injected at screen points, the
// calling thread's queue pumped until idle, a log of the messages window
// procedures see, PNG screenshots, and input scripts (qx_uitest_script.h).
//
// Injection goes through the window system's own entry points (qx_input.h),
// so the input is cooked exactly as real input is.  Run these calls on the
// thread that started the window system.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_droptarget.h"
#include "platform/qx_msgqueue.h"

// Dispatches everything the calling thread has to retrieve (translating
// keys) until nothing is left; returns how many messages were dispatched.
// Stops after limit messages (a window that keeps invalidating itself) and
// returns -1 then.
int32_t PlatUiPump(int32_t limit = 1000000);

// Each injector pumps until idle afterwards; false when the window system
// refused the input.  The injected time advances by 10 ms an event.
bool PlatUiMove(int32_t x, int32_t y);
bool PlatUiClick(int32_t x, int32_t y);
// A key press and release with the modifiers (kScriptShift, kScriptCtrl,
// kScriptAlt) held around it.
bool PlatUiKey(uint32_t vk, uint32_t mods);
// Types each character with the key (and Shift) that types it on the US
// layout; false at a character no key types (what came before stays typed).
bool PlatUiType(const std::string& text);
bool PlatUiWheel(int32_t steps, int32_t x, int32_t y);
// A drag of data between programs over screen points: the drop target
// registered for the window under a point gets DragEnter at the first point
// over it, DragOver at each further one and DragLeave when the point moves
// off it; at the last point it gets Drop, or DragLeave when drop is false.
// Each call is followed by a pump.  The drag holds a reference to the data
// and to the target it is over.  *effect (when given): what the last target
// called answered, none when no target was met.  False without data or
// points.
bool PlatUiOleDrag(PlatDataObject* data, const std::vector<PlatScreenPoint>& points, bool drop,
                   uint32_t* effect = nullptr);

// The message log: while on, PlatUiLog records what a test's window
// procedure is given.
struct PlatUiLogEntry {
  PlatWindow window;
  uint32_t message;
  PlatWParam wParam;
  PlatLParam lParam;
  bool operator==(const PlatUiLogEntry&) const = default;
};
void PlatUiLogStart();
// Stops logging and returns the log.
std::vector<PlatUiLogEntry> PlatUiLogStop();
void PlatUiLog(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam);

// The composed screen, or the client surface of the frontmost shown window
// whose title is exactly title, as a PNG file; 0 or a host error
// (kPlatErrFileNotFound for no such window).
int32_t PlatUiSnapshot(const char* path);
int32_t PlatUiSnapshotWindow(const char* title, const char* path);

// The program's idle hook: one turn of its main loop, answering true when
// the loop would now block with nothing to do (no engine work, no event,
// no message) or is quitting.  With it set, a wait step runs turns until
// that answer (failing after 60 s without it); without, it pumps the
// calling thread's queue.  Null takes it away.
typedef bool (*PlatUiIdleTurn)();
void PlatUiSetIdleHook(PlatUiIdleTurn turn);

// Runs the script's steps, pumping until idle after each.  Status: 0 when
// all ran (a quit step posts Quit to the calling thread and ends the run),
// 2 for a script that cannot be read or has a bad line, 1 for a step that
// failed; in both cases "FILE:LINE: what" goes to stderr first.
int32_t PlatUiRunScript(const char* path);
// Runs the script QX_INPUT_SCRIPT names, if any, and returns its status
// (0 without one).
int32_t PlatUiRunScriptFromEnv();
// With QX_SNAPSHOT_AT_EXIT=DIR: writes DIR/screen.png and, for each shown
// window front to back, DIR/window-N.png (N from 1); returns how many files
// were written (0 without the variable).  The program calls it before it
// tears the window system down.
int32_t PlatUiSnapshotAtExit();
