// The proxy callee: the local VI of a remote VI.  It has no diagram: its
// code is one shared header whose entry fills the data space's procedures,
// and its run procedure sends the call to the remote application.
#include <cstring>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/exec.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "server/proxy.h"
#include "server/tcpserver.h"
#include "server/viref.h"

QX_EXTERN_C void PxRunTrampoline();
// The entrance and the completion trampoline of the compiled-code layer
// (whose header cannot share a unit with the VI instances' header).
QX_EXTERN_C int32 VIEntrance(QueueElement* caller, VIEntranceRec* entrance);
QX_EXTERN_C QueueElement* VIExit(VIEntranceRec* entrance);
QX_EXTERN_C int32 RemQEVIEntry(QueueElement* element, VIEntranceRec* entrance);
QX_EXTERN_C void DSCompletionTrampoline();
void ExecSetVIRunning(Bool32 on);

namespace {

// The callee's data space: the header, then its run element.
constexpr int32 kCalleeRunAt = kDataSpaceHeaderSize;
constexpr int32 kCalleeDSSize = kCalleeRunAt + int32(sizeof(QueueElement));
// The code header: eight words, the entry's offset in word 0, the
// architecture in word 1 and the tag in word 5.
constexpr int32 kPxCodeWords = 8;
constexpr int32 kPxCodeEntry = 0, kPxCodeArch = 1, kPxCodeTag = 5;
// VIExit's answer when the caller was queued on its own thread.
QueueElement* const kExitQueued = reinterpret_cast<QueueElement*>(1);

// The shared code header, made on first use (user-interface thread).
UHandle gCalleeCode = nullptr;

// The state word of a data space: a word of its own element.
int32& StateWord(DataSpace ds) { return (*ds)->entrance.ownElement.codeWords[0]; }

bool IsCallee(DataSpace ds) {
  return ds && *ds && (*ds)->owner && *(*ds)->owner && VIRec((*ds)->owner)->viKind == kVIKindProxyCallee &&
         DSGetHandleSize(reinterpret_cast<UHandle>(ds)) >= kCalleeDSSize;
}

DataSpace FirstDS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }

void* Addr(const void* f) { return const_cast<void*>(f); }
template <typename F>
void* ProcAddr(F f) {
  return reinterpret_cast<void*>(f);
}

// The entrance's message lock, which the entrance leaves held by this
// thread, given up at every level.
void ReleaseEntrance(DataSpace ds) {
  ThMutex m = ds && *ds ? (*ds)->entrance.dsMessageLock : nullptr;
  while (m && PlatRecMutexOwned(&m->section)) ThMutexRelease(m);
}

// An error stop of the remote VI goes to the caller inside the callee.
QX_EXTERN_C int32 PxCalleeForwardError(DataSpace ds, int32 code, int32 source, int32 kind) {
  QueueElement* owner = ds && *ds ? (*ds)->entrance.owner : nullptr;
  DataSpace caller = owner ? owner->dataSpace : nullptr;
  if (caller && caller != ds && *caller) return DSCallResetProc(caller, code, source, kind);
  if (ds && *ds) PostReset(ds, source, kind, code);
  return 0;
}

QX_EXTERN_C DataSpace PxCalleeDisposeProc(DataSpace ds) { return ds; }

void LogCall(const char* what, DataSpace ds) {
  if (!TSLogWanted(kTSSideClient)) return;
  auto* table = static_cast<ParamTable*>((*ds)->callTable);
  const VIRef ref = table ? table->ref : 0;
  UHandle vi = (*ds)->owner;
  char format[96];
  std::snprintf(format, sizeof format, "%s\"%%p\"; ptab=0x%%lx; ds=0x%%lx", what);
  TSLog(kTSSideClient, "PxCalleeRunProc", format, static_cast<unsigned long>(uInt32(ref)), VIRec(vi)->name,
        static_cast<unsigned long>(uInt32(uintptr_t(table))), static_cast<unsigned long>(uInt32(uintptr_t(ds))));
}

}  // namespace

// ---- Code and procedures -----------------------------------------------------------------

void PxCalleeProcs(DataSpace ds) {
  if (!ds || !*ds) return;
  VINormalInitCProcsHelper(ds, 0);
  DataSpaceHeader* h = *ds;
  DSProc(h, kDSProcResetClumps) = ProcAddr(&PxCalleeResetProc);
  DSProc(h, kDSProcDispose) = ProcAddr(&PxCalleeDisposeProc);
  DSProc(h, kDSProcReset) = ProcAddr(&PxCalleeForwardError);
  DSProc(h, kDSProcInit) = ProcAddr(&PxCalleeProcs);
  DSProc(h, 23) = ProcAddr(&PxCalleeRunProc);
  PxCalleeInit(ds);
}

void PxCalleeInit(DataSpace ds) {
  if (!IsCallee(ds)) return;
  DataSpaceHeader* h = *ds;
  h->callTable = nullptr;
  h->pxCallAsync = nullptr;
  auto* run = reinterpret_cast<QueueElement*>(reinterpret_cast<uChar*>(h) + kCalleeRunAt);
  QueueElement* own = &h->entrance.ownElement;
  for (QueueElement* e : {run, own}) {
    e->signature = kQueueElementSig;
    e->dataSpace = ds;
    e->code = Addr(reinterpret_cast<const void*>(&PxRunTrampoline));
  }
  h->runElement = run;
  h->subVIEntry = Addr(reinterpret_cast<const void*>(&PxRunTrampoline));
  UHandle vi = h->owner;
  h->basePriority = h->effPriority = int16(VIRec(vi)->priority);
  h->execSystem = VIRec(vi)->execSystem;
  h->slot = ExecSysSlot(VIRec(vi)->priority, VIRec(vi)->execSystem);
  StateWord(ds) = kPxCalleeEntering;
}

MgErr PxCalleeInstallCode(UHandle vi) {
  if (!vi || !*vi || VIRec(vi)->viKind != kVIKindProxyCallee) return kArgErr;
  if (!gCalleeCode) {
    UHandle code = DSNewHClr(4 * kPxCodeWords);
    if (!code) return kMemFullErr;
    const uInt32 entry = uInt32(uintptr_t(&PxCalleeProcs) - uintptr_t(*code));
    PutNative32(*code + 4 * kPxCodeEntry, entry);
    PutNative32(*code + 4 * kPxCodeArch, FourCC("i386"));
    PutNative32(*code + 4 * kPxCodeTag, FourCC("code"));
    gCalleeCode = code;
  }
  VIRec(vi)->codeHandle = gCalleeCode;
  if (VIRec(vi)->dataSpace) return kNoErr;
  if (MgErr err = NewMinimalDataSpace(vi)) return err;
  DataSpace ds = FirstDS(vi);
  if (DSSetHSzClr(reinterpret_cast<UHandle>(ds), kCalleeDSSize) != kNoErr) return kMemFullErr;
  InitDataSpace(ds);
  PxCalleeProcs(ds);
  return kNoErr;
}

MgErr PxCalleeNewClone(UHandle vi, DataSpace* out) {
  if (out) *out = nullptr;
  if (!vi || !*vi || !out || VIRec(vi)->viKind != kVIKindProxyCallee || !(VIRec(vi)->flags & kVIFlagReentrant) ||
      !FirstDS(vi))
    return kArgErr;
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(kCalleeDSSize));
  if (!ds) return kMemFullErr;
  (*ds)->owner = vi;
  (*ds)->size = kDataSpaceHeaderSize;
  InitDataSpace(ds);
  PxCalleeProcs(ds);
  *out = ds;
  return kNoErr;
}

void PxCalleeDisposeClone(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds || ds == FirstDS(vi) || !VIOwnsDataSpace(vi, ds)) return;
  DisposeDataSpace(ds, 1);
}

void PxCalleeMarkReentrant(UHandle vi) {
  if (vi && *vi && VIRec(vi)->viKind == kVIKindProxyCallee) VIRec(vi)->flags |= kVIFlagReentrant;
}

QueueElement* PxCalleeCallElement(DataSpace ds) { return ds && *ds ? &(*ds)->entrance.ownElement : nullptr; }

void PxCalleeSetCallError(DataSpace ds, MgErr error, ConstPStr text) {
  if (!ds || !*ds) return;
  auto* table = static_cast<ParamTable*>((*ds)->callTable);
  if (!table || table->tag != kParamTableTag || !table->error) return;
  ErrorIOCluster* e = table->error;
  e->status = error ? 1 : 0;
  e->code = error;
  if (!text) return;
  LStrHandle source = e->source;
  const int32 n = text[0];
  if (!source) {
    source = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
    if (!source) return;
    e->source = source;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(source), 4 + n) != kNoErr) {
    return;
  }
  (**source).cnt = n;
  std::memcpy((**source).str, text + 1, size_t(n));
}

void PxCalleeErrorNotify(DataSpace ds, MgErr error, ConstPStr text) {
  if (!ds || !*ds) return;
  PxCalleeSetCallError(ds, error, text);
  if (DSProc(*ds, kDSProcReset)) DSCallResetProc(ds, error, 0, 0);
}

// ---- The run and the reset -----------------------------------------------------------------

int32 PxCalleeRunProc(DataSpace ds, QueueElement* element) {
  if (!IsCallee(ds) || !element) return 0;
  QueueElement* own = &(*ds)->entrance.ownElement;
  const int32 state = element == own ? StateWord(ds) : kPxCalleeEntering;
  if (element != own && !VIEntrance(element, &(*ds)->entrance)) {
    // The caller waits for the VI, or the call goes on elsewhere.
    ReleaseEntrance(ds);
    return 0;
  }
  bool finish = state == kPxCalleeWaiting;
  if (state != kPxCalleeEntering && state != kPxCalleeWaiting) {
    ReleaseEntrance(ds);
    return 0;
  }
  static const uChar kSendFailed[] = "\040Remote VI call could not be sent";
  static_assert(sizeof kSendFailed == sizeof kPxSendFailedText + 1, "the send failure's text");
  for (;;) {
    if (!finish) {
      StateWord(ds) = kPxCalleeWaiting;
      auto* table = static_cast<ParamTable*>((*ds)->callTable);
      if (table && table->tag == kParamTableTag) table->flags &= ~kParamTableCallInProgress;
      LogCall("starting call: ref=0x%lx; ", ds);
      own->code = Addr(reinterpret_cast<const void*>(&PxRunTrampoline));
      const MgErr err = table && table->tag == kParamTableTag ? TSSendCall(table->ref, ds) : kArgErr;
      if (!err) {
        // The reply queues the own element again (state 3).
        ReleaseEntrance(ds);
        return 0;
      }
      PxCalleeSetCallError(ds, err, kSendFailed);
    }
    LogCall("finishing call: ref=0x%lx; ", ds);
    StateWord(ds) = kPxCalleeFinishing;
    (*ds)->callTable = nullptr;
    // An element the exit queues for the next caller starts its call.
    StateWord(ds) = kPxCalleeEntering;
    own->code = Addr(reinterpret_cast<const void*>(&PxRunTrampoline));
    QueueElement* next = VIExit(&(*ds)->entrance);
    if (next && next != kExitQueued) {
      // The caller goes on on this thread, queued again to its run queue.
      EnQRunQ(next);
      ReleaseEntrance(ds);
      return 0;
    }
    if (QERunState(own) != 1) break;
    // The next caller is inside the VI: its call is sent from here.
    finish = false;
  }
  ReleaseEntrance(ds);
  return 0;
}

void PxCalleeResetProc(DataSpace ds, QueueElement* element) {
  if (!IsCallee(ds)) return;
  if (!RemQEVIEntry(element, &(*ds)->entrance)) return;
  DBPrintf("PxCalleeResetProc: resetting \"%p\"", VIRec((*ds)->owner)->name);
  if (AsyncRef a = static_cast<AsyncRef>((*ds)->pxCallAsync)) KillQXObjAsyncRef(a);
  ReleaseEntrance(ds);
}

// ---- Finding and making callees ------------------------------------------------------------

namespace {

int32 TDBytes(const TypeDescriptor* td) {
  return int32(reinterpret_cast<const uChar*>(NextTD(td)) - reinterpret_cast<const uChar*>(td));
}

// Replaces the VI's connector pane with a copy of the type.
MgErr SetPane(UHandle vi, const TypeDescriptor* type) {
  const int32 size = TDBytes(type);
  if (size < 8) return kArgErr;
  UHandle pane = AZNewHandle(size);
  if (!pane) return kMemFullErr;
  std::memcpy(*pane, type, size_t(size));
  if (VIRec(vi)->connPane) AZDisposeHandle(VIRec(vi)->connPane);
  VIRec(vi)->connPane = pane;
  return kNoErr;
}

// The empty connector pane of a callee opened without a type: a function
// of no terminals.
MgErr SetEmptyPane(UHandle vi) {
  uChar empty[8] = {};
  const int16 size = 8;
  std::memcpy(empty, &size, sizeof size);
  empty[2] = kTDFunction;
  return SetPane(vi, reinterpret_cast<const TypeDescriptor*>(empty));
}

bool HeldForCalls(UHandle vi) {
  for (VIRef ref : VIRefsOf(vi))
    if (VIRefRecord* r = ResolveVIRef(ref); r && r->mode == kVIRefModeCall) return true;
  return false;
}

}  // namespace

MgErr PxCalleeFindOrCreate(ConstPStr name, const TypeDescriptor* connType, UHandle* outVI, DataSpace* outDS) {
  if (outVI) *outVI = nullptr;
  if (outDS) *outDS = nullptr;
  if (!name || !name[0] || !outVI || (connType && connType->code != kTDFunction)) return kArgErr;
  UHandle vi = FindVIByName(name);
  const bool made = !vi;
  if (vi && VIRec(vi)->viKind != kVIKindProxyCallee) return kArgErr;
  if (made) {
    if (!(vi = NewVICore(kVIKindProxyCallee, name, -1))) return kMemFullErr;
    if (MgErr err = SetEmptyPane(vi)) {
      DisposeVI(vi, 1);
      return err;
    }
  }
  UHandle pane = VIRec(vi)->connPane;
  if (connType && (!pane || !*pane || TDCompare(connType, reinterpret_cast<const TypeDescriptor*>(*pane)) != 0)) {
    MgErr err = !made && HeldForCalls(vi) ? MgErr(kVIRefTypeErr) : SetPane(vi, connType);
    if (err) {
      if (made) DisposeVI(vi, 1);
      return err;
    }
  }
  DataSpace ds = FirstDS(vi);
  MgErr err = ds ? kNoErr : kMemFullErr;
  if (!err && outDS && (VIRec(vi)->flags & kVIFlagReentrant)) err = PxCalleeNewClone(vi, &ds);
  if (err) {
    if (made) DisposeVI(vi, 1);
    return err;
  }
  *outVI = vi;
  if (outDS) *outDS = ds;
  return kNoErr;
}
