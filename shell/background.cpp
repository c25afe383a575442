#include "shell/background.h"

#include <atomic>

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "mgsource/occur.h"

namespace {
std::atomic<int32> gInBackground{0};
}

int32 WBackground(Bool32 shortSlice) {
  ChkOccurrences();
  ExecContext* ui = ExecContextAt(0);
  if (!ui || GetCurExecContext() != ui) return 0;
  int32 expected = 0;
  if (!gInBackground.compare_exchange_strong(expected, 1)) return 0;
  if (ExecTimeSlice() != 0) ExecSetTimeSlice(shortSlice ? 1 : 2);
  const bool threadsOff = !ExecThreadsOn();
  if (threadsOff && ui->countdown) ui->countdown->store(ExecTimeSlice());
  ExecThreadProc(nullptr);
  if (threadsOff && ui->countdown) ui->countdown->store(0);
  gInBackground.store(0);
  if (!ExecVIRunning()) return 0;
  ExecRunRecord* r = ui->runRecord;
  ThMutexAcquire(r->mutex);
  const bool queued = r->runQueue->head != nullptr;
  ThMutexRelease(r->mutex);
  return ui->current.load() || queued ? 2 : 1;
}
