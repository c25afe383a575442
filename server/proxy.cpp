#include "server/proxy.h"

#include <cstring>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
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

// ---- The proxy caller's data space ------------------------------------------------------
// After the header: the run element, its flag word, then the proxy's own
// record, the data-space offsets of the target's terminals and the call's
// terminal table.
constexpr uInt32 kProxyRecTag = FourCC("PXCR");
constexpr int32 kRunAt = kDataSpaceHeaderSize;
constexpr int32 kFlagAt = kRunAt + int32(sizeof(QueueElement));
constexpr int32 kRecAt = kFlagAt + 4;
struct ProxyRec {
  uInt32 tag;         // "PXCR"
  DataSpace target;   // the data space the target runs on
  int32 terminals;    // of the target's connector pane
  int32 ownsTarget;   // the target data space is a clone made for this one
  uInt32 savedState;  // the target's state before the call
  int32 running;      // a call runs on this data space
};
constexpr int32 kOffsetsAt = kRecAt + int32(sizeof(ProxyRec));
int32 TableAt(int32 terminals) { return kOffsetsAt + 4 * terminals; }
int32 ProxyDSSize(int32 terminals) { return TableAt(terminals) + 16 + 8 * terminals; }

constexpr uChar kProxyCallerSuffix[] = "\013ProxyCaller";
// The second flags' bit of a VI whose code is still to be made.
constexpr uInt32 kVIFlags2NeedsCode = 0x2000;

ProxyRec* RecOf(DataSpace ds) {
  if (!ds || !*ds || !(*ds)->owner || !*(*ds)->owner || VIRec((*ds)->owner)->viKind != kVIKindProxyCaller)
    return nullptr;
  if (DSGetHandleSize(reinterpret_cast<UHandle>(ds)) < kOffsetsAt) return nullptr;
  auto* r = reinterpret_cast<ProxyRec*>(reinterpret_cast<uChar*>(*ds) + kRecAt);
  return r->tag == kProxyRecTag ? r : nullptr;
}
int32* OffsetsOf(DataSpace ds) { return reinterpret_cast<int32*>(reinterpret_cast<uChar*>(*ds) + kOffsetsAt); }
ParamTable* TableOf(DataSpace ds, int32 terminals) {
  return reinterpret_cast<ParamTable*>(reinterpret_cast<uChar*>(*ds) + TableAt(terminals));
}

// The data-space's message lock, which a reset leaves held by this thread,
// given up at every level it is held.
void ReleaseMessageLock(DataSpace ds) {
  ThMutex m = ds && *ds ? (*ds)->entrance.dsMessageLock : nullptr;
  while (m && PlatRecMutexOwned(&m->section)) ThMutexRelease(m);
}

UHandle TargetOf(DataSpace target) { return target && *target ? (*target)->owner : nullptr; }

// The terminal count of a connector pane, -1 when it is none.
int32 PaneTerminals(UHandle vi) {
  UHandle pane = VIRec(vi)->connPane;
  if (!pane || !*pane) return 0;
  const int32 size = AZGetHandleSize(pane);
  if (size < 8 || TDCheckBounds(*pane, size) != kNoErr) return -1;
  const auto* p = reinterpret_cast<const TypeDescriptor*>(*pane);
  if (p->code != kTDFunction) return -1;
  int16 count = 0;
  std::memcpy(&count, *pane + 4, sizeof count);
  return count < 0 ? -1 : count;
}

// Points the table's slots at the target data space's terminals (the block
// may have moved since the last call), none present.
void FillSlots(DataSpace ds) {
  ProxyRec* r = RecOf(ds);
  if (!r) return;
  const int32 n = r->terminals;
  DataSpace t = r->target;
  const int32 tSize = t && *t ? DSGetHandleSize(reinterpret_cast<UHandle>(t)) : 0;
  ParamTable* table = TableOf(ds, n);
  const int32* offsets = OffsetsOf(ds);
  for (int32 i = 0; i < n; ++i) {
    const int32 at = offsets[i];
    table->slots[i].value = at >= 0 && at < tSize ? reinterpret_cast<uChar*>(*t) + at : nullptr;
    table->slots[i].present = 0;
  }
}

// The standard preparation of a run (the run element at the completion).
typedef QueueElement* (*PrepareProc)(DataSpace);
PrepareProc gNormalPrepare = nullptr;

// The start of a run (user-interface thread, from the run command): the
// target shows as running (its former state kept for the end, unless
// another data space of the proxy runs it already) and the table's slots
// point at the target's terminals, the call in progress.
QX_EXTERN_C QueueElement* PxCallerPrepareRun(DataSpace ds) {
  QueueElement* e = gNormalPrepare ? gNormalPrepare(ds) : nullptr;
  ProxyRec* r = RecOf(ds);
  UHandle target = r ? TargetOf(r->target) : nullptr;
  if (!r || !target || !*target) return e;
  bool other = false;
  for (DataSpace d = reinterpret_cast<DataSpace>(VIRec((*ds)->owner)->dataSpace); d; d = (*d)->nextClone)
    if (ProxyRec* o = d != ds ? RecOf(d) : nullptr; o && o->running && TargetOf(o->target) == target) other = true;
  r = RecOf(ds);
  if (!other) r->savedState = VIRec(target)->eState;
  r->running = 1;
  const uInt32 s = VIRec(target)->eState & kVIStateMask;
  VIRec(target)->eState = (VIRec(target)->eState & ~kVIStateMask) | ((s & ~1u) | 2u);
  FillSlots(ds);
  TableOf(ds, r->terminals)->flags |= kParamTableCallInProgress;
  return e;
}

// Runs the proxy data space's call (execution thread): enters the target
// through its entrance with the call's table in the target's call word.
// The run element goes on at the completion when the target has run, which
// ends the run.
QX_EXTERN_C int32 PxCallerRunProc(DataSpace ds, QueueElement* element) {
  ProxyRec* r = RecOf(ds);
  const int32 finish = int32(reinterpret_cast<uintptr_t>(&DSCompletionTrampoline));
  if (!r || !element || !r->target || !*r->target || !(*r->target)->subVIEntry) return finish;
  DataSpace t = r->target;
  (*ds)->linkedDS = t;
  element->code = reinterpret_cast<void*>(&DSCompletionTrampoline);
  (*t)->callTable = TableOf(ds, r->terminals);
  if (!VIEntrance(element, &(*t)->entrance)) return 0;
  return int32(reinterpret_cast<uintptr_t>((*t)->subVIEntry));
}

// The reset of a proxy run: the entrance takes the run (and leaves the
// message lock held, which is given up at once, before the reset goes on
// and waits), then the target's clumps that run for it are reset.
QX_EXTERN_C int32 PxCallerResetClumps(DataSpace ds, QueueElement* element) {
  if (!RecOf(ds)) return 0;
  RemQEVIEntry(element, &(*ds)->entrance);
  ReleaseMessageLock(ds);
  DataSpace linked = (*ds)->linkedDS;
  if (linked && linked != ds && *linked) DSCallResetClumps(linked, (*ds)->runElement);
  return 0;
}

// The proxy data space's procedures: the standard ones, its top-level code
// the run procedure through the code entry.
void InstallCallerProcs(DataSpace ds) {
  VINormalInitCProcsHelper(ds, 0);
  if (!gNormalPrepare) gNormalPrepare = reinterpret_cast<PrepareProc>(DSProc(*ds, kDSProcPrepareRun));
  DSProc(*ds, kDSProcPrepareRun) = reinterpret_cast<void*>(&PxCallerPrepareRun);
  DSProc(*ds, kDSProcResetClumps) = reinterpret_cast<void*>(&PxCallerResetClumps);
  DSProc(*ds, kDSProcTopCode) = reinterpret_cast<void*>(&PxRunTrampoline);
  DSProc(*ds, 23) = reinterpret_cast<void*>(&PxCallerRunProc);
}

// Binds a proxy data space to the target data space: the terminals'
// offsets and the table.
void BindProxyDS(DataSpace ds, DataSpace target, bool ownsTarget) {
  ProxyRec* r = RecOf(ds);
  UHandle tvi = TargetOf(target);
  r->target = target;
  r->ownsTarget = ownsTarget ? 1 : 0;
  r->running = 0;
  int32* offsets = OffsetsOf(ds);
  for (int32 i = 0; i < r->terminals; ++i) offsets[i] = VITerminalOffset(tvi, i);
  ParamTable* table = TableOf(ds, r->terminals);
  table->tag = kParamTableTag;
  table->flags = 0;
  FillSlots(ds);
}

// A new proxy data space for the target data space: the first of the VI
// or a clone after it.
DataSpace NewProxyDS(UHandle proxy, DataSpace target, int32 terminals, bool ownsTarget) {
  UHandle tvi = TargetOf(target);
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(ProxyDSSize(terminals)));
  if (!ds) return nullptr;
  DataSpaceHeader* h = *ds;
  h->owner = proxy;
  h->size = kDataSpaceHeaderSize;
  InitDataSpace(ds);
  h = *ds;
  InstallCallerProcs(ds);
  uChar* base = reinterpret_cast<uChar*>(*ds);
  auto* run = reinterpret_cast<QueueElement*>(base + kRunAt);
  run->dataSpace = ds;
  run->signature = kQueueElementSig;
  h->runElement = run;
  h->flagRecord = reinterpret_cast<uInt32*>(base + kFlagAt);
  h->basePriority = h->effPriority = int16(VIRec(tvi)->priority);
  h->execSystem = VIRec(tvi)->execSystem;
  h->slot = ExecSysSlot(VIRec(tvi)->priority, VIRec(tvi)->execSystem);
  if (h->slot < 0) h->slot = ExecSysSlot(VIRec(tvi)->priority, kESysStandard);
  auto* r = reinterpret_cast<ProxyRec*>(base + kRecAt);
  r->tag = kProxyRecTag;
  r->terminals = terminals;
  BindProxyDS(ds, target, ownsTarget);
  return ds;
}

// A data space of the proxy VI that no reference uses (its first, kept
// while clones live), or null.
DataSpace UnusedDS(UHandle proxy) {
  for (DataSpace d = reinterpret_cast<DataSpace>(VIRec(proxy)->dataSpace); d; d = (*d)->nextClone)
    if (ProxyRec* r = RecOf(d); r && !r->target && !(*d)->pxCallAsync) return d;
  return nullptr;
}

// The proxy caller of that name among the target's callers.
UHandle FindProxyCaller(UHandle target, ConstPStr name) {
  UHandle list = VIRec(target)->callers;
  if (!list || !*list) return nullptr;
  const int32 bytes = AZGetHandleSize(list);
  int32 count = 0;
  std::memcpy(&count, *list, 4);
  for (int32 i = 0; i < count && 4 + 4 * (i + 1) <= bytes; ++i) {
    UHandle caller = nullptr;
    std::memcpy(&caller, *list + 4 + 4 * i, 4);
    if (caller && *caller && VIRec(caller)->viKind == kVIKindProxyCaller && PStrCaseCmp(VIRec(caller)->name, name) == 0)
      return caller;
  }
  return nullptr;
}

void ReleaseTarget(ProxyRec* r) {
  if (r->ownsTarget && r->target) LinkDisposeDataSpace(reinterpret_cast<UHandle>(r->target), 0);
  r->target = nullptr;
  r->ownsTarget = 0;
}


// The end of the data space's run: the table and the target's call word
// let go, and the target back in its former state unless another data
// space of the proxy still runs it; the proxy idle when none runs.
void EndRun(DataSpace ds) {
  ProxyRec* r = RecOf(ds);
  r->running = 0;
  DataSpace t = r->target;
  const uInt32 saved = r->savedState;
  ParamTable* table = TableOf(ds, r->terminals);
  table->flags &= ~kParamTableCallInProgress;
  (*ds)->linkedDS = nullptr;
  if (t && *t && (*t)->callTable == table) (*t)->callTable = nullptr;
  UHandle target = TargetOf(t);
  UHandle proxy = (*ds)->owner;
  bool proxyRuns = false, targetRuns = false;
  for (DataSpace d = reinterpret_cast<DataSpace>(VIRec(proxy)->dataSpace); d; d = (*d)->nextClone)
    if (ProxyRec* o = RecOf(d); o && o->running) {
      proxyRuns = true;
      targetRuns = targetRuns || TargetOf(o->target) == target;
    }
  if (!proxyRuns) VIRec(proxy)->eState = (VIRec(proxy)->eState & ~kVIStateMask) | kVIStateIdle;
  if (!target || !*target || targetRuns) return;
  VIRec(target)->eState = (VIRec(target)->eState & ~kVIStateMask) | (saved & kVIStateMask);
  bool any = false;
  for (UHandle v = FirstLoadedVI(); v && !any; v = VIRec(v)->next) any = (VIRec(v)->eState & 2) != 0;
  ExecSetVIRunning(any ? 1 : 0);
}

// True when another data space of the proxy runs.
bool OtherRuns(DataSpace ds) {
  for (DataSpace d = reinterpret_cast<DataSpace>(VIRec((*ds)->owner)->dataSpace); d; d = (*d)->nextClone)
    if (ProxyRec* o = d != ds ? RecOf(d) : nullptr; o && o->running) return true;
  return false;
}
void SetIdle(UHandle vi) { VIRec(vi)->eState = (VIRec(vi)->eState & ~kVIStateMask) | kVIStateIdle; }

// A done event of the data space still queued.
int32 IsDoneOf(WindowRef, const WEventRecord* e, void* ds) {
  return e->code == kWEvUser && e->where == kUEVIDone && uInt32(e->globalWhere) == uInt32(uintptr_t(ds)) ? 1 : 0;
}

}  // namespace

// ---- Proxy callers ----------------------------------------------------------------------

MgErr PxCallerNew(UHandle target, UHandle* proxyVI, DataSpace* proxyDS) {
  if (proxyVI) *proxyVI = nullptr;
  if (proxyDS) *proxyDS = nullptr;
  if (!target || !*target || !proxyVI || !proxyDS) return kArgErr;
  const uInt32 state = VIRec(target)->eState & kVIStateMask;
  // A bad VI, one whose code is still to be made, or code without an entry
  // for a caller cannot be called.
  DataSpace first = reinterpret_cast<DataSpace>(VIRec(target)->dataSpace);
  if (state == kVIStateBroken || (state == kVIStateIdle && (VIRec(target)->flags2 & kVIFlags2NeedsCode)) ||
      !first || !*first || !(*first)->subVIEntry) {
    DBPrintf("PxCallerNew: subVI (\"%p\") needs to be recompiled!!", VIRec(target)->name);
    return kArgErr;
  }
  const int32 terminals = PaneTerminals(target);
  if (terminals < 0) return kArgErr;
  Str255 name;
  Str255 targetName;
  std::memcpy(targetName, VIRec(target)->name, size_t(VIRec(target)->name[0]) + 1);
  PPrintf(name, "%p.%p", targetName, kProxyCallerSuffix);

  // The data space the target runs on for this proxy.
  const bool reentrant = (VIRec(target)->flags & kVIFlagReentrant) != 0;
  DataSpace t = reentrant ? reinterpret_cast<DataSpace>(LinkNewDataSpace(target, 0))
                          : reinterpret_cast<DataSpace>(VIRec(target)->dataSpace);
  if (!t) return kMemFullErr;
  if (reentrant) {
    // The clone runs where the VI's first data space is routed.
    DataSpaceHeader* f = *reinterpret_cast<DataSpace>(VIRec(target)->dataSpace);
    DataSpaceHeader* c = *t;
    c->basePriority = f->basePriority;
    c->effPriority = f->effPriority;
    c->execSystem = f->execSystem;
    c->slot = f->slot;
    c->routingRow = f->routingRow;
  }
  auto dropTarget = [&] {
    if (reentrant) LinkDisposeDataSpace(reinterpret_cast<UHandle>(t), 0);
  };

  if (UHandle existing = FindProxyCaller(target, name)) {
    DataSpace ds = UnusedDS(existing);
    if (ds && RecOf(ds)->terminals == terminals) BindProxyDS(ds, t, reentrant);
    else ds = NewProxyDS(existing, t, terminals, reentrant);
    if (!ds) {
      dropTarget();
      return kMemFullErr;
    }
    *proxyVI = existing;
    *proxyDS = ds;
    return kNoErr;
  }
  UHandle vi = NewVICore(kVIKindProxyCaller, name, -1);
  if (!vi) {
    dropTarget();
    return kMemFullErr;
  }
  VIRec(vi)->priority = VIRec(target)->priority;
  VIRec(vi)->execSystem = VIRec(target)->execSystem;
  auto fail = [&]() -> MgErr {
    if (VIRec(vi)->dataSpace) {
      if (ProxyRec* r = RecOf(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace))) r->ownsTarget = 0;
    }
    DisposeVI(vi, 1);
    dropTarget();
    return kMemFullErr;
  };
  UHandle pane = VIRec(target)->connPane;
  const void* typeBlock = pane && *pane ? static_cast<const void*>(*pane) : nullptr;
  if (!AddExtern(vi, -1, VIRec(vi)->name, kLinkClassCodes[kLinkClassVI], targetName, typeBlock,
                 kLinkClassCodes[kLinkClassVI], nullptr, nullptr) ||
      !FindProxyCaller(target, VIRec(vi)->name))
    return fail();
  DataSpace ds = NewProxyDS(vi, t, terminals, reentrant);
  if (!ds) return fail();
  const int16 linked = AddLinkEntry(ds, VIRec(vi)->name, nullptr, kLinkClassCodes[kLinkClassDataSpace], nullptr);
  if (linked == 1) DBPrintf("PxCallerNew: Public already exists for \"%p\"!", VIRec(vi)->name);
  else if (linked != 0) return fail();
  *proxyVI = vi;
  *proxyDS = ds;
  return kNoErr;
}

void PxCallerDispose(UHandle proxyVI, DataSpace proxyDS) {
  if (!proxyVI || !*proxyVI || !RecOf(proxyDS) || (*proxyDS)->owner != proxyVI) return;
  if ((*proxyDS)->pxCallAsync) {
    DBAssert(__FILE__, __LINE__, "PxCallerDispose: the data space still has a call");
    return;
  }
  // A run still going is reset first (the reset waits for its end); the
  // end of a run whose done event is still queued is made here, and the
  // event goes.
  const uInt32 state = VIRec(proxyVI)->eState & kVIStateMask;
  if (ExecTopRunActive(proxyDS) && (state == 2 || state == 6 || state == 14)) {
    AbortVI(proxyDS);
    ReleaseMessageLock(proxyDS);
  }
  if (RecOf(proxyDS)->running) {
    WPurgeEvents(kWRootWindow, &IsDoneOf, proxyDS);
    EndRun(proxyDS);
  }
  ReleaseTarget(RecOf(proxyDS));
  // The first data space holds the clones: it stays, unused, while any
  // lives, and the VI goes with the last one used.
  DataSpace first = reinterpret_cast<DataSpace>(VIRec(proxyVI)->dataSpace);
  if (proxyDS != first) DisposeDataSpace(proxyDS, 1);
  for (DataSpace d = first; d; d = (*d)->nextClone)
    if (ProxyRec* r = RecOf(d); !r || r->target || (*d)->pxCallAsync) return;
  DisposeVI(proxyVI, 1);
}

void PxCallerFinish(DataSpace ds, Bool32 aborted) {
  ProxyRec* r = RecOf(ds);
  if (!r) return;
  AsyncRef a = static_cast<AsyncRef>((*ds)->pxCallAsync);
  ReleaseMessageLock(ds);
  // A run reset before it entered the target ends without having run it.
  if (r->running) EndRun(ds);
  else if (!OtherRuns(ds)) SetIdle((*ds)->owner);
  // A call stopped unheard (its reference going) tells nobody.
  if (a && a->callState == kVIRefCallRunning) VIRefNotifyCallDone(a, aborted ? kVIRefDoneReset : kVIRefDoneSuccessful);
}

void PxErrorNotify(DataSpace ds, MgErr code, ConstPStr source) {
  if (!RecOf(ds)) return;
  AsyncRef a = static_cast<AsyncRef>((*ds)->pxCallAsync);
  if (!a || !a->completion) return;
  a->error = code;
  if (a->errorText) AZDisposePtr(a->errorText);
  a->errorText = nullptr;
  if (source) {
    a->errorText = AZNewPtr(int32(source[0]) + 1);
    if (a->errorText) std::memcpy(a->errorText, source, size_t(source[0]) + 1);
  }
  a->callState = kVIRefDoneErrorStop;
  a->completion(a);
}

void PxResetCallers(DataSpace ds) {
  if (!RecOf(ds)) return;
  UHandle proxy = (*ds)->owner;
  DataSpace first = reinterpret_cast<DataSpace>(VIRec(proxy)->dataSpace);
  auto runs = [](DataSpace d) {
    ProxyRec* r = RecOf(d);
    return r && (r->running || ExecTopRunActive(d));
  };
  // The first data space stands for the whole VI: its abort resets every
  // run of the VI, unless it runs a call of its own, which alone is reset
  // (a kill of one reference's call leaves the others' calls alone).
  std::vector<DataSpace> resets;
  if (ds == first && !runs(ds)) {
    for (DataSpace d = first; d; d = (*d)->nextClone)
      if (runs(d)) resets.push_back(d);
  } else {
    resets.push_back(ds);
  }
  for (DataSpace d : resets) {
    AbortVI(d);
    ReleaseMessageLock(d);
  }
}

ParamTable* PxCallerTable(DataSpace ds) {
  ProxyRec* r = RecOf(ds);
  if (!r) return nullptr;
  if (!r->running) FillSlots(ds);
  return TableOf(ds, RecOf(ds)->terminals);
}

int32 PxCallerTerminals(DataSpace ds) {
  ProxyRec* r = RecOf(ds);
  return r ? r->terminals : -1;
}

DataSpace PxCallerTargetDS(DataSpace ds) {
  ProxyRec* r = RecOf(ds);
  return r ? r->target : nullptr;
}

void ServerInstallProxyHooks() {
  RunCmdHooks h = RunCmd();
  h.pxCallerFinish = &PxCallerFinish;
  h.pxResetCallers = &PxResetCallers;
  h.pxErrorNotify = &PxErrorNotify;
  SetRunCmdHooks(&h);
}
