#include "io/unitaccess.h"

#include "engine/link/loadmethods.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

UnitAccessRec* NewUnitAccessRec(int32 size, int32 levels, int32 execSystem, Bool32 withMutex) {
  if (size < int32(sizeof(UnitAccessRec))) return nullptr;
  auto* r = reinterpret_cast<UnitAccessRec*>(AZNewPClr(size));
  if (!r) return nullptr;
  r->signature = kUnitAccessSignature;
  r->execSystem = execSystem;
  r->waiters = NewExecQueue(levels < 1 ? 1 : levels);
  bool ok = r->waiters != nullptr;
  if (ok && withMutex) ok = ThMutexCreate(&r->mutex, "UnitRights") == kNoErr;
  if (!ok) {
    if (r->waiters) DisposeExecQueue(r->waiters);
    AZDisposePtr(reinterpret_cast<UPtr>(r));
    return nullptr;
  }
  return r;
}

UnitAccessRec* AllocStdUnitAccessRec(int32 execSystem) {
  return NewUnitAccessRec(int32(sizeof(UnitAccessRec)), kUnitAccessLevels, execSystem, 1);
}

void DisposeUnitAccessRec(UnitAccessRec* record) {
  if (!record || record->signature != kUnitAccessSignature) {
    DBAssert("unitacc", __LINE__, "not a unit-access record");
    return;
  }
  if (record->waiters) DisposeExecQueue(record->waiters);
  if (record->mutex) ThMutexDestroy(record->mutex);
  record->signature = 0;
  record->execSystem = -1;
  AZDisposePtr(reinterpret_cast<UPtr>(record));
}

void IOInstallUnitAccessHooks() {
  LoadMethodHooks h = LoadHooks();
  h.allocUnitAccess = [](int32 unit) -> void* { return AllocStdUnitAccessRec(unit); };
  h.disposeUnitAccess = [](void* r) { DisposeUnitAccessRec(static_cast<UnitAccessRec*>(r)); };
  SetLoadMethodHooks(&h);
}
