#include "shell/background.h"

#include <atomic>

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "mgsource/occur.h"
#include "mgsource/window/wevent.h"
#include "shell/shellinit.h"

int32 WBackground(Bool32 shortSlice) {
  ChkOccurrences();
  if (!ExecUserInterfaceSlice(shortSlice)) return 0;
  if (!ExecVIRunning()) return 0;
  ExecContext* ui = ExecContextAt(0);
  ExecRunRecord* r = ui->runRecord;
  ThMutexAcquire(r->mutex);
  const bool queued = r->runQueue->head != nullptr;
  ThMutexRelease(r->mutex);
  return ui->current.load() || queued ? 2 : 1;
}

// shell/userevent.h's poster (its header and the engine's code header name
// different things VICode, so one file cannot include both).
QX_EXTERN_C int32 PostUserEvent(WindowRef window, int32 subCode, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5,
                                Bool32 noDuplicate, int32 priority);

// The engine's posts from execution threads (a clump done, a reset, a
// callback) reach the user-interface thread as user events.
void ShellInstallExecEvents() { ExecSetPostUserEventProc(&PostUserEvent); }
