// The normal code procedures of a data space, the completion procedure, the
// compiled initialisation and the guarded callers of the procedure slots.
#include "engine/exec/dsprocs.h"

#include <algorithm>
#include <vector>

#include "engine/datatype.h"
#include "engine/dsalloc.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

VIRecord* OwnerVI(DataSpaceHeader* h) {
  return h && h->owner && *h->owner ? reinterpret_cast<VIRecord*>(*h->owner) : nullptr;
}

bool IsBad(DataSpaceHeader* h) {
  VIRecord* vi = OwnerVI(h);
  return vi && (vi->flags & kVIFlagBad);
}

// The kinds whose data spaces run initialisation and controllers.
bool KindRuns(DataSpaceHeader* h) {
  VIRecord* vi = OwnerVI(h);
  if (!vi) return false;
  switch (vi->viKind) {
    case 1: case 2: case 4: case 6: case 7: case 8: case 9: return true;
    default: return false;
  }
}

void ClearSlots(DataSpaceHeader* h) {
  for (int32 s = kDSProcFirst; s <= kDSProcLast; ++s) DSProc(h, s) = nullptr;
}

DataSpaceHeader* Header(DataSpace ds) { return ds ? *ds : nullptr; }

// The normal procedures.
QueueElement* NormPrepareRun(DataSpace ds) {
  QueueElement* e = (*ds)->runElement;
  if (!e) return nullptr;
  e->callKind = kCallTopLevelStart;
  e->code = reinterpret_cast<void*>(&DSCompletionTrampoline);
  return e;
}
QueueElement* NormResumeElement(DataSpace ds) {
  QueueElement* e = &(*ds)->entrance.ownElement;
  e->callKind = kCallTopLevelStart;
  e->code = reinterpret_cast<void*>(&DSCompletionTrampoline);
  return e;
}
QueueElement* NormContinueElement(DataSpace ds) {
  QueueElement* e = &(*ds)->entrance.ownElement;
  e->callKind = kCallTopLevelStart;
  e->code = DSProc(*ds, kDSProcTopCode);
  return e;
}
// The data spaces whose clumps the calling thread is resetting now: linked
// data spaces may name each other in a ring, which is walked once.
thread_local std::vector<DataSpace> tResetting;

int32 NormResetClumps(DataSpace ds, QueueElement* element) {
  if (std::find(tResetting.begin(), tResetting.end(), ds) != tResetting.end()) return 0;
  tResetting.push_back(ds);
  DataSpaceHeader* h = *ds;
  RemQEVIEntry(element, &h->entrance);
  // The linked data space is written by compiled code; none, or this data
  // space itself, has no clumps of another data space to reset.
  DataSpace linked = (*ds)->linkedDS;
  if (linked && linked != ds) DSCallResetClumps(linked, (*ds)->runElement);
  tResetting.pop_back();
  return 0;
}
DataSpace NormDispose(DataSpace ds) { return ds; }
int32 NormNothing(DataSpace) { return 0; }
int32 NormReset(DataSpace ds, int32 code, int32 source, int32 kind) {
  PostReset(ds, source, kind, code);
  return 0;
}
int32 CloneReset(DataSpace ds, int32 code, int32 source, int32 kind) {
  DataSpace caller = (*ds)->cloneCaller;
  if (!caller || caller == ds) {
    PostReset(ds, source, kind, code);
    return 0;
  }
  return DSCallResetProc(caller, code, source, kind);
}
DataSpace NormIdentity(DataSpace ds) { return ds; }

template <typename F>
void* Addr(F f) {
  return reinterpret_cast<void*>(f);
}

// Asserts for an empty required slot.
bool Required(DataSpaceHeader* h, int32 slot) {
  if (DSProc(h, slot)) return true;
  DBAssert(__FILE__, __LINE__, "an empty procedure slot was called");
  return false;
}

}  // namespace

DataSpace VINormalInitCProcsHelper(DataSpace ds, Bool32 clone) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return ds;
  if (clone) {
    DSProc(h, 5) = Addr(&NormPrepareRun);
    DSProc(h, 13) = Addr(&CloneReset);
  } else {
    DSProc(h, 5) = Addr(&NormPrepareRun);
    DSProc(h, 6) = Addr(&NormResumeElement);
    DSProc(h, 7) = Addr(&NormContinueElement);
    DSProc(h, 8) = Addr(&NormResetClumps);
    DSProc(h, 9) = Addr(&NormDispose);
    DSProc(h, 11) = Addr(&NormNothing);
    DSProc(h, 12) = Addr(&NormNothing);
    DSProc(h, 13) = Addr(&NormReset);
    for (int32 s = 14; s <= 20; ++s) DSProc(h, s) = Addr(&NormNothing);
    DSProc(h, 21) = Addr(&DSCompletionTrampoline);
    DSProc(h, 24) = Addr(&NormIdentity);
  }
  DSProc(h, 25) = Addr(&DSCompletionProc);
  return ds;
}

int32 DSCompletionProc(DataSpace ds, QueueElement* element) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return 0;
  QueueElement* run = h->runElement;
  int32 kind = element && (element == run || element == &h->entrance.ownElement) ? element->callKind : 1;
  if (kind == kCallTopLevelStart && run && !QEResetPending(run)) {
    run->callKind = kCallTopLevelEntered;
    run->entryContext = run->runningContext;
    DataSpace linked = h->linkedDS;
    if (h->flagRecord) *h->flagRecord = linked ? 65535 : 0;
    DataSpace target = linked ? linked : ds;
    void* code = DSProc(*target, kDSProcTopCode);
    ExecContext* ctx = run->runningContext;
    QueueElement* current = ctx ? ctx->current.load() : run;
    if (!code) {
      DBAssert(__FILE__, __LINE__, "completion: the VI has no top-level code");
      return 0;
    }
    return CallCompiledCode(code, target, current);
  }
  if (kind == kCallTopLevelStart || kind == kCallTopLevelEntered) {
    Done(ds);
    return 0;
  }
  DBAssert(__FILE__, __LINE__, "completion entered with an unexpected call kind");
  return 0;
}

void DSRunInitProc(DataSpace ds) {
  DataSpaceHeader* h = Header(ds);
  VIRecord* vi = OwnerVI(h);
  if (!h || !vi) return;
  if (vi->flags & kVIFlagBad) ClearSlots(h);
  if (!KindRuns(h)) return;
  VICodeRec* code = VICodeRecord(vi->codeHandle);
  // Code that patching refused is only partly patched, and the code of a VI
  // stored bad was never patched: neither is entered.
  if (code && (code->refused || !code->patched)) return;
  if (!DSProc(h, kDSProcInit) && code) {
    uInt32 entry = GetNative32(code->start + 4 * kCodeWordEntry);
    if (entry < uInt32(code->size)) DSProc(h, kDSProcInit) = code->start + entry;
  }
  if (!Required(h, kDSProcInit)) return;
  reinterpret_cast<int32 (*)(DataSpace, int32)>(DSProc(h, kDSProcInit))(ds, 0);
}

MgErr DSInitDCOs(DataSpace ds) {
  DataSpaceHeader* h = Header(ds);
  VIRecord* vi = OwnerVI(h);
  if (!h || !vi) return kArgErr;
  if (vi->flags & kVIFlagBad) {
    ClearSlots(h);
    return kMemFullErr;
  }
  if (!KindRuns(h)) return kNoErr;
  h->basePriority = vi->priority;
  h->effPriority = vi->priority;
  h->execSystem = vi->execSystem;
  h->slot = ExecSysSlot(vi->priority, vi->execSystem);
  if (!Required(h, kDSProcInitDCOs)) return 1;
  MgErr err = reinterpret_cast<MgErr (*)(DataSpace)>(DSProc(h, kDSProcInitDCOs))(ds);
  h = *ds;
  vi = OwnerVI(h);
  if (err || !vi || reinterpret_cast<DataSpace>(vi->dataSpace) != ds) return err;
  if (h->dcoCount <= 0 || vi->version < kDCONoShrinkFixFirst || vi->version >= kDCONoShrinkFixEnd) return err;
  const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(ds));
  const int32 tdSize = h->typeDesc ? DSGetHandleSize(h->typeDesc) : 0;
  for (int32 i = 0; i < h->dcoCount; ++i) {
    int64_t at = int64_t(h->dcoTableOffset) + int64_t(i) * 4 * kDCOWords;
    if (h->dcoTableOffset < kDataSpaceHeaderSize || at + 4 * kDCOWords > size) break;
    auto* dco = reinterpret_cast<uChar*>(*ds) + at;
    if (GetNative32(dco + 4 * kDCOWordFifth) != 0) continue;
    uInt32 tdOffset = GetNative32(dco + 4 * kDCOWordTD);
    if (int64_t(tdOffset) + 4 > tdSize) continue;
    auto* td = reinterpret_cast<TypeDescriptor*>(*h->typeDesc + tdOffset);
    if (td->flags & kTDFlagNoShrink10) continue;
    td->flags |= kTDFlagNoShrink10;
    DBPrintf("SETTING cleared tdNoShrinkMask in dco %d of \"%z\"", i, vi->path);
  }
  return err;
}

// ---- Guarded callers ----------------------------------------------------------------

void DSCallProc5(DataSpace ds) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return;
  if (IsBad(h)) {
    DBAssert(__FILE__, __LINE__, "DSCallProc5: the VI is bad");
    return;
  }
  if (!Required(h, 5)) return;
  reinterpret_cast<QueueElement* (*)(DataSpace)>(DSProc(h, 5))(ds);
}

static QueueElement* ElementProc(DataSpace ds, int32 slot) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return nullptr;
  if (IsBad(h)) DBAssert(__FILE__, __LINE__, "element procedure: the VI is bad");
  if (!Required(h, slot)) return &h->entrance.ownElement;
  return reinterpret_cast<QueueElement* (*)(DataSpace)>(DSProc(h, slot))(ds);
}

QueueElement* DSGetResumeElement(DataSpace ds) { return ElementProc(ds, kDSProcResumeElement); }
QueueElement* DSGetContinueElement(DataSpace ds) { return ElementProc(ds, kDSProcContinueElement); }

void DSCallResetClumps(DataSpace ds, QueueElement* element) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return;
  if (IsBad(h)) {
    DBAssert(__FILE__, __LINE__, "DSCallResetClumps: the VI is bad");
    return;
  }
  if (!Required(h, kDSProcResetClumps)) return;
  reinterpret_cast<int32 (*)(DataSpace, QueueElement*)>(DSProc(h, kDSProcResetClumps))(ds, element);
  (*ds)->word432 = 0;
}

void DSCallDisposeProc(DataSpace ds) {
  DataSpaceHeader* h = Header(ds);
  if (!h || IsBad(h) || !DSProc(h, kDSProcDispose)) return;
  reinterpret_cast<DataSpace (*)(DataSpace)>(DSProc(h, kDSProcDispose))(ds);
}

// The callers that give 2 for a bad VI and 1 (after an assertion) for an
// empty slot.
#define QX_GUARDED(slot, call)                     \
  DataSpaceHeader* h = Header(ds);                  \
  if (!h) return 1;                                 \
  if (IsBad(h)) return 2;                           \
  if (!Required(h, slot)) return 1;                 \
  return call;

int32 DSCallProc11(DataSpace ds) {
  QX_GUARDED(11, reinterpret_cast<int32 (*)(DataSpace)>(DSProc(h, 11))(ds))
}
int32 DSCallResetProc(DataSpace ds, int32 code, int32 source, int32 kind) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return 1;
  if (IsBad(h)) return 2;
  if (!Required(h, kDSProcReset)) return 1;
  reinterpret_cast<int32 (*)(DataSpace, int32, int32, int32)>(DSProc(h, kDSProcReset))(ds, code, source, kind);
  return 0;
}
int32 DSCallChkRangeProc(DataSpace ds, int32 a, int32 b, int32 c) {
  DataSpaceHeader* h = Header(ds);
  if (!h || IsBad(h) || !DSProc(h, kDSProcChkRange)) return 0;
  return reinterpret_cast<int32 (*)(DataSpace, int32, int32, int32)>(DSProc(h, kDSProcChkRange))(ds, a, b, c);
}
int32 DSCallProc17(DataSpace ds, int32 a) {
  QX_GUARDED(17, reinterpret_cast<int32 (*)(DataSpace, int32)>(DSProc(h, 17))(ds, a))
}
int32 DSCallTransferProc(DataSpace ds, int32 a, int32 b, int32 c) {
  QX_GUARDED(kDSProcTransfer,
             reinterpret_cast<int32 (*)(DataSpace, int32, int32, int32)>(DSProc(h, kDSProcTransfer))(ds, a, b, c))
}
int32 DSCallProc19(DataSpace ds, int32 a, int32 b) {
  QX_GUARDED(19, reinterpret_cast<int32 (*)(DataSpace, int32, int32)>(DSProc(h, 19))(ds, a, b))
}
int32 DSCallDatalogProc(DataSpace ds, int32 a, int32 b) {
  QX_GUARDED(kDSProcDatalog, reinterpret_cast<int32 (*)(DataSpace, int32, int32)>(DSProc(h, kDSProcDatalog))(ds, a, b))
}
#undef QX_GUARDED

// ---- Posted events --------------------------------------------------------------------

int32 Done(DataSpace ds) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return 0;
  QueueElement* run = h->runElement;
  ExecContext* ctx = run ? run->runningContext : nullptr;
  if (ctx && ctx->profiling) ProfileStopStartAccum(reinterpret_cast<UPtr>(&run->profileAccum), 0);
  // Posted first: whoever sees the run ended finds its done event queued.
  ExecPostUserEvent(kUserEventDone, int32(reinterpret_cast<intptr_t>(ds)));
  ExecTopRunEnded(ds);
  return 0;
}

void Suspend(DataSpace ds) { ExecPostUserEvent(kUserEventSuspend, int32(reinterpret_cast<intptr_t>(ds))); }

void PostReset(DataSpace ds, int32 subVI, int32 location, int32 error) {
  DataSpaceHeader* h = Header(ds);
  if (!h) return;
  ExecPostUserEvent(kUserEventReset, int32(reinterpret_cast<intptr_t>(ds)), subVI, location, error, h->resetCount);
}

// ---- The moved-block step -------------------------------------------------------------

void DSBlockMoved(UHandle handle) {
  auto ds = reinterpret_cast<DataSpace>(handle);
  DataSpaceHeader* h = Header(ds);
  if (!h) return;
  VIRecord* vi = OwnerVI(h);
  const uInt32 state = vi ? vi->eState & 0xF : 0;
  if (state == 2 || state == 6 || state == 9 || state == 14) {
    DBAssert(__FILE__, __LINE__, "a running VI's data space moved");
  }
  DSCallDisposeProc(ds);
  if (DSProc(*ds, kDSProcInitDCOs)) DSInitDCOs(ds);
}

void InitDSProcs() {
  SetDataSpaceMovedProc(&DSBlockMoved);
  InstallVICodeHooks();
}
