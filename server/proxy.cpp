#include "server/proxy.h"

#include <map>
#include <mutex>

#include <cstring>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "server/protocol.h"
#include "server/viref.h"

namespace {

// Results by data space.  Written on the user-interface thread, collected
// by the server's threads.
std::mutex gLock;
std::map<DataSpace, PxCallResult>& Results() {
  static auto* m = new std::map<DataSpace, PxCallResult>;
  return *m;
}

void Record(DataSpace ds, int32 state) {
  std::lock_guard<std::mutex> g(gLock);
  Results()[ds].state = state;
}

// The reset leaves the data space's message lock held by this thread: the
// proxy gives it up at every level it holds.
void ReleaseMessageLock(DataSpace ds) {
  ThMutex m = *ds ? (*ds)->entrance.dsMessageLock : nullptr;
  while (m && PlatRecMutexOwned(&m->section)) ThMutexRelease(m);
}

}  // namespace

void PxCallerFinish(DataSpace ds, Bool32 aborted) {
  if (!ds || !*ds) return;
  UHandle vi = (*ds)->owner;
  if (vi && *vi) SetVIIdle(vi, ds);
  Record(ds, aborted ? kPxAborted : kPxDone);
}

void PxResetCallers(DataSpace ds) {
  if (!ds || !*ds) return;
  AbortVI(ds);
  ReleaseMessageLock(ds);
  Record(ds, kPxAborted);
}

PxCallResult PxTakeCallResult(DataSpace ds) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = Results().find(ds);
  if (it == Results().end()) return PxCallResult{kPxRunning, kNoErr, {}};
  PxCallResult r = it->second;
  Results().erase(it);
  return r;
}

void ServerInstallProxyHooks() {
  RunCmdHooks h = RunCmd();
  h.pxCallerFinish = &PxCallerFinish;
  h.pxResetCallers = &PxResetCallers;
  h.pxErrorNotify = [](DataSpace ds, MgErr code, ConstPStr text) {
    std::lock_guard<std::mutex> g(gLock);
    PxCallResult& r = Results()[ds];
    r.error = code;
    r.text = text ? std::string(reinterpret_cast<const char*>(text + 1), text[0]) : std::string();
  };
  SetRunCmdHooks(&h);
}

// ---- Proxy callees ---------------------------------------------------------------------------

namespace {

DataSpace FirstDataSpace(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }

int32 TDBytes(const TypeDescriptor* td) {
  return int32(reinterpret_cast<const uChar*>(NextTD(td)) - reinterpret_cast<const uChar*>(td));
}

// Replaces the VI's connector pane with a copy of the type (memory order).
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
  int32 n = 0;
  if (!VIHasRefs(vi, &n)) return false;
  std::vector<VIRef> refs(size_t(n > 0 ? n : 0));
  UHandle list = VIRec(vi)->viRefList;
  for (int32 i = 0; i < n; ++i) {
    VIRef ref = 0;
    if (list && GLGet(list, &ref, 4, i))
      if (VIRefRecord* r = ResolveVIRef(ref); r && r->mode == kVIRefModeCall) return true;
  }
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
  DataSpace ds = FirstDataSpace(vi);
  if (!ds) {
    if (made) DisposeVI(vi, 1);
    return kMemFullErr;
  }
  *outVI = vi;
  if (outDS) *outDS = ds;
  return kNoErr;
}

void PxCalleeMarkReentrant(UHandle vi) {
  if (vi && *vi && VIRec(vi)->viKind == kVIKindProxyCallee) VIRec(vi)->flags |= kVIFlagReentrant;
}

MgErr PxCalleeNewClone(UHandle vi, DataSpace* ds) {
  if (ds) *ds = nullptr;
  if (!vi || !*vi || !ds || VIRec(vi)->viKind != kVIKindProxyCallee || !(VIRec(vi)->flags & kVIFlagReentrant))
    return kArgErr;
  *ds = FirstDataSpace(vi);
  return *ds ? kNoErr : kMemFullErr;
}

void PxCalleeDisposeClone(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds || ds == FirstDataSpace(vi)) return;
  LinkDisposeDataSpace(reinterpret_cast<UHandle>(ds), 0);
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
