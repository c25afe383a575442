#include "shell/background.h"

#include <atomic>

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "mgsource/config.h"
#include "mgsource/occur.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wevent.h"
#include "mgsource/thread.h"
#include "platform/qx_msgqueue.h"
#include "shell/shellinit.h"

namespace {
// 2 when the user-interface context holds an element or its queue is not
// empty, else 1.
int32 UserInterfaceWork(ExecContext* ui) {
  ExecRunRecord* r = ui->runRecord;
  if (!r) return 1;
  ThMutexAcquire(r->mutex);
  const bool queued = r->runQueue && r->runQueue->head != nullptr;
  ThMutexRelease(r->mutex);
  return ui->current.load() || queued ? 2 : 1;
}
}  // namespace

int32 WBackground(Bool32 shortSlice) {
  ChkOccurrences();
  if (!ExecUserInterfaceSlice(shortSlice)) return 0;
  if (!ExecVIRunning()) return 0;
  return UserInterfaceWork(ExecContextAt(0));
}

int32 MainLoopExecState() {
  ExecContext* ui = ExecContextAt(0);
  // A loop nested inside a clump of the slice gets no time for the engine:
  // its idle procedure would not run one.
  if (!ui || GetCurExecContext() != ui || ExecUserInterfaceSliceRunning() || !ExecVIRunning()) return 0;
  return UserInterfaceWork(ui);
}

bool ShellIdleTurn() {
  const Bool32 handled = WMainLoop(0, 0);
  if (WQuitting()) return true;
  PlatMsg m;
  if (MainLoopExecState() == 0 && WCountPendingEvents() == 0 && !PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove))
    return true;
  if (!handled) WSleep(1);
  return false;
}

void ShellClearEngineActive() { ExecSetVIRunning(0); }

void ShellInstallMainLoopHooks() {
  WMainLoopHooks hooks{};
  hooks.background = &WBackground;
  hooks.execState = &MainLoopExecState;
  WSetMainLoopHooks(hooks);
}

void ShellReadMainLoopOptions() {
  WWinProcOptions options{0, 0, 0};
  static const uChar kFKeys[] = "\x0b" "useAllFKeys";
  static const uChar kDrop[] = "\x11" "dropThroughClicks";
  static const uChar kLazy[] = "\x13" "lazyUpdateClipboard";
  static const uChar kQueue[] = "\x18" "CheckWindowsQueueMsgTime";
  CfgGetDefault(kCfgBool, kFKeys, &options.useAllFKeys);
  CfgGetDefault(kCfgBool, kDrop, &options.dropThroughClicks);
  CfgGetDefault(kCfgBool, kLazy, &options.lazyUpdateClipboard);
  WSetWinProcOptions(options);
  Bool32 queueTime = 0;
  CfgGetDefault(kCfgBool, kQueue, &queueTime);
  WSetCheckQueueMsgTime(queueTime);
  // The scroll-bar trackers' pace between steps.
  static const uChar kTrack[] = "\x0c" "trackTimeout";
  int32 trackTimeout = 0;
  if (CfgGetDefault(kCfgInt, kTrack, &trackTimeout) == kNoErr) WSetTrackTimeout(trackTimeout);
}

// shell/userevent.h's poster (its header and the engine's code header name
// different things VICode, so one file cannot include both).
QX_EXTERN_C int32 PostUserEvent(WindowRef window, int32 subCode, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5,
                                Bool32 noDuplicate, int32 priority);

// The engine's posts from execution threads (a clump done, a reset, a
// callback) reach the user-interface thread as user events.
void ShellInstallExecEvents() { ExecSetPostUserEventProc(&PostUserEvent); }

// The calling thread's countdown register cleared, so that a running clump
// yields at its next check (QXShutDown).
void ShellClearExecCountdown() {
  if (ExecCountdown* c = ExecThreadCountdown()) c->store(0);
}
