#include "server/viref.h"

#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/rttable.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/rsrc.h"
#include "rtlib/filehooks.h"
#include "server/embobj.h"
#include "server/proxy.h"

// The engine's poster of user events (the compiled-code header that declares
// it cannot share a unit with the VI instances' header).
MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);

namespace {

// What a reference holds.
struct VIRefRecord {
  UHandle vi;
  uInt32 flags;     // the open options
  int32 mode;       // reservation: 0 none, 2 run or call
  AsyncRef call;    // the call record of a reference reserved for calls
  bool releasing;
};

// The references by number.  Used on the user-interface thread.
std::map<int32, VIRefRecord>& Refs() {
  static auto* m = new std::map<int32, VIRefRecord>;
  return *m;
}
int32 gNextRef = 1;
// The local application's running calls, and the call whose completion runs
// (freed only once its completion has returned).
AsyncRef gRunning = nullptr;
AsyncRef gInCompletion = nullptr;
bool gFreeAfterCompletion = false;

constexpr int16 kVIKindGlobal = 4;

VIRefRecord* ResolveVIRef(VIRef ref) {
  auto it = Refs().find(ref);
  if (it == Refs().end() || !it->second.vi || !*it->second.vi) {
    DBPrintf("ResolveVIRef: couldn't find 0x%lx in cookie jar", long(ref));
    return nullptr;
  }
  return &it->second;
}

void Unlink(AsyncRef a) {
  for (AsyncRef* p = &gRunning; *p; p = &(*p)->next)
    if (*p == a) {
      *p = a->next;
      a->next = nullptr;
      return;
    }
}

int32 CallAborted(void* cookie);
int32 CallEnded(void* cookie);

void ForgetCleanups(AsyncRef a) {
  RTSetCleanupProc(&CallAborted, a, kCleanupRemove);
  RTSetCleanupProc(&CallEnded, a, kCleanupRemove);
}

// The run was reset: the end that follows reports it so.
int32 CallAborted(void* cookie) {
  static_cast<AsyncRef>(cookie)->state = kVIRefDoneReset;
  return 0;
}

// The run of a call ended.
// The call is no longer running; its completion learns how it ended.
void VIRefNotifyCallDone(AsyncRef a, int32 state) {
  bool listed = false;
  for (AsyncRef b = gRunning; b && !listed; b = b->next) listed = b == a;
  if (!listed) DBPrintf("VIRefNotifyCallDone: could not find asyncRef in list");
  Unlink(a);
  a->busy = 0;
  a->error = kNoErr;
  a->state = state;
  gInCompletion = a;
  if (a->completion) a->completion(a);
  gInCompletion = nullptr;
  if (gFreeAfterCompletion) {
    gFreeAfterCompletion = false;
    delete a;
  } else {
    a->state = 0;
  }
}

int32 CallEnded(void* cookie) {
  AsyncRef a = static_cast<AsyncRef>(cookie);
  ForgetCleanups(a);
  VIRefNotifyCallDone(a, a->state == kVIRefDoneReset ? kVIRefDoneReset : kVIRefDoneSuccessful);
  return 0;
}

void FreeCall(VIRefRecord* r) {
  AsyncRef a = r->call;
  r->call = nullptr;
  if (!a) return;
  ForgetCleanups(a);
  Unlink(a);
  if (a == gInCompletion) gFreeAfterCompletion = true;
  else delete a;
}

DataSpace FirstDS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
uInt32 StateOf(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }

// Moves the reference to the reservation mode.  Edit reservations (1) do not
// exist in the run-time.  A reference reserved for calls runs its VI on the
// VI's own data space, so the VI must be an idle standard VI.
MgErr SetReservation(VIRefRecord* r, int32 mode) {
  if (mode == r->mode) return kNoErr;
  if (mode != 0 && mode != 2) return kVIRefReserveErr;
  if (r->call && r->call->busy) return kVIRefNotIdleErr;
  if (mode == 0) {
    FreeCall(r);
    r->mode = 0;
    return kNoErr;
  }
  UHandle vi = r->vi;
  if (VIRec(vi)->viKind != kVIKindDatalog) return kVIRefKindErr;
  if (StateOf(vi) == kVIStateBroken) return kVIRefNotExecErr;
  if (StateOf(vi) != kVIStateIdle && !(VIRec(vi)->flags & kVIFlagReentrant)) return kVIRefNotIdleErr;
  if (!FirstDS(vi)) return kVIRefNotExecErr;
  if (!(r->flags & kVIRefOptNative)) {
    r->call = new (std::nothrow) AsyncRefRec{};
    if (!r->call) return kMemFullErr;
    r->call->op = kAsyncNonNativeCallVIOp;
  }
  r->mode = 2;
  return kNoErr;
}

UHandle LoadedVINamed(ConstPStr name) {
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next)
    if (PStrCaseCmp(VIRec(vi)->name, name) == 0) return vi;
  return nullptr;
}

// The open common to both ways: the kind, a new reference, the type check.
MgErr OpenOn(UHandle vi, const TypeDescriptor* connType, int32 options, VIRef* out) {
  const int16 kind = VIRec(vi)->viKind;
  if (kind != kVIKindDatalog && kind != kVIKindControl && kind != kVIKindGlobal) return kVIRefKindErr;
  const VIRef ref = NewVIRef(vi);
  if (!ref) return kMemFullErr;
  VIRefRecord* r = ResolveVIRef(ref);
  r->flags = uInt32(options);
  if (connType) {
    UHandle pane = VIRec(vi)->connPane;
    MgErr err = !pane || !*pane || TDCompareLoose(connType, reinterpret_cast<const TypeDescriptor*>(*pane)) != 0
                    ? kVIRefTypeErr
                    : SetReservation(r, 2);
    if (err) {
      VIRefRelease(ref);
      return err;
    }
  }
  *out = ref;
  return kNoErr;
}

// The local application's release: a running call is reset (its completion
// no longer comes), the reference goes, and a VI no longer held is closed by
// the user-interface thread.
MgErr ThisApp_ReleaseRef(VIRef ref, VIRefRecord* r) {
  if (r->call && r->call->busy) {
    AsyncRef a = r->call;
    ForgetCleanups(a);
    Unlink(a);
    a->busy = 0;
    DoAbortCommand(FirstDS(r->vi));
  }
  UHandle vi = r->vi;
  DisposeVIRef(ref);
  if (VIIsDisposable(vi)) ExecPostUserEvent(kUECloseVI, int32(uintptr_t(vi)), 0, 0, 0, 0);
  return kNoErr;
}

// The local application's kill of a call: 1000 once it has ended, else its
// run is reset and its end completes it as reset.
MgErr ThisApp_KillAsyncRef(VIRefRecord* r, AsyncRef async) {
  bool listed = false;
  for (AsyncRef a = gRunning; a && !listed; a = a->next) listed = a == async;
  if (!listed || !async->busy) return kVIRefNotIdleErr;
  DoAbortCommand(FirstDS(r->vi));
  return kNoErr;
}

void ClearText(PStr text) {
  if (text) text[0] = 0;
}

}  // namespace

int32 NewVIRef(UHandle vi) {
  if (!vi) return 0;
  int32 ref = gNextRef;
  while (ref == 0 || Refs().count(ref)) ref = ref == 0x7FFFFFFF ? 1 : ref + 1;
  gNextRef = ref == 0x7FFFFFFF ? 1 : ref + 1;
  Refs()[ref] = VIRefRecord{vi, 0, 0, nullptr, false};
  return ref;
}

MgErr DisposeVIRef(int32 ref) {
  auto it = Refs().find(ref);
  if (it == Refs().end()) return kArgErr;
  FreeCall(&it->second);
  Refs().erase(it);
  return kNoErr;
}

int32 VIHasRefs(UHandle vi, int32) {
  int32 n = 0;
  for (auto& kv : Refs()) n += kv.second.vi == vi;
  return n;
}

void DisposeVIRefList(UHandle vi) {
  for (auto it = Refs().begin(); it != Refs().end();) {
    if (it->second.vi != vi) {
      ++it;
      continue;
    }
    FreeCall(&it->second);
    it = Refs().erase(it);
  }
}

void VIRefReleaseAll() {
  for (auto& kv : Refs()) FreeCall(&kv.second);
  Refs().clear();
}

MgErr AppOpenVIRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options, ConstPStr,
                         VIRef* out, PStr text, AsyncCompletion, AsyncRef* async) {
  ClearText(text);
  if (async) *async = nullptr;
  if (!name || !name[0] || !out) return kArgErr;
  if (app != kLocalAppRef) return kAppRefInvalidErr;
  // No exported-VI list is consulted here: an untrusted caller is refused.
  if (!(options & kVIRefOptTrusted)) return kVIRefAccessErr;
  UHandle vi = LoadedVINamed(name);
  if (!vi) return kVIRefNotInMemoryErr;
  return OpenOn(vi, connType, options, out);
}

MgErr AppOpenVIRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr,
                         VIRef* out, PStr text, AsyncCompletion, AsyncRef* async) {
  ClearText(text);
  if (async) *async = nullptr;
  if (!out) return kArgErr;
  if (app != kLocalAppRef) return kAppRefInvalidErr;
  Str255 name;
  if (!path) return kArgErr;
  if (MgErr err = FNamePtr(path, name)) return err;
  if (!(options & kVIRefOptTrusted)) return kVIRefAccessErr;
  UHandle vi = LoadedVINamed(name);
  bool loaded = false;
  if (!vi) {
    RsrcFileRef file = 0;
    Path own = path;
    if (ROpenFile(path, kRsrcReadOnly, &file, nullptr, nullptr) != kNoErr) return kFileNotFoundErr;
    if (FPathToPath(&own) != kNoErr) {
      RCloseFile(file);
      return kMemFullErr;
    }
    // The loader keeps the path it is given and closes the file.
    if (LoadInstrument(own, 0, name, file, &vi, 0) != kLoadLoaded || !vi) return kFileNotFoundErr;
    loaded = true;
  }
  MgErr err = OpenOn(vi, connType, options, out);
  if (err && loaded && VIIsDisposable(vi)) DisposeVI(vi, 1);
  return err;
}

MgErr VIRefRelease(VIRef ref) {
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || r->releasing) return kVIRefInvalidErr;
  r->releasing = true;
  return ThisApp_ReleaseRef(ref, r);
}

MgErr VIRefGetAttributes(VIRef ref, int32 selector, void* value, int32, PStr text, AsyncCompletion,
                         AsyncRef* async) {
  ClearText(text);
  if (async) *async = nullptr;
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || r->releasing) return kVIRefInvalidErr;
  if (selector < 500 || selector > 568) return kVIRefSelectorErr;
  if (!value) return kNoErr;
  switch (selector) {
    case kVIRefReservationProp: *static_cast<int32*>(value) = r->mode; return kNoErr;
    case kVIRefCallDataProp: *static_cast<DataSpace*>(value) = r->mode == 2 ? FirstDS(r->vi) : nullptr; return kNoErr;
    case kVIRefConnPaneProp: {
      UHandle pane = VIRec(r->vi)->connPane;
      *static_cast<const TypeDescriptor**>(value) =
          pane && *pane ? reinterpret_cast<const TypeDescriptor*>(*pane) : nullptr;
      return kNoErr;
    }
    default: return kVIRefUnsupportedErr;
  }
}

MgErr VIRefSetAttributes(VIRef ref, int32 selector, void* value, int32, PStr text, AsyncCompletion,
                         AsyncRef* async) {
  ClearText(text);
  if (async) *async = nullptr;
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || r->releasing) return kVIRefInvalidErr;
  if (selector < 500 || selector > 568 || selector == kVIRefConnPaneProp) return kVIRefSelectorErr;
  if (selector == kVIRefCallDataProp) return 1029;  // read-only
  if (selector != kVIRefReservationProp) return kVIRefUnsupportedErr;
  if (!value) return kArgErr;
  return SetReservation(r, *static_cast<const int32*>(value));
}

MgErr VIRefStartCall(VIRef ref, AsyncCompletion completion, AsyncRef* out) {
  if (out) *out = nullptr;
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || r->releasing) return kVIRefInvalidErr;
  if ((r->flags & kVIRefOptNative) || (r->mode == 2 && !r->call)) return kArgErr;
  if (r->mode != 2) return kVIRefReserveErr;
  AsyncRef a = r->call;
  if (a->busy || StateOf(r->vi) != kVIStateIdle) return kVIRefNotIdleErr;
  a->ref = ref;
  a->completion = completion;
  a->error = kNoErr;
  a->state = 0;
  if (!ExtRTSetCleanupProc(VIRec(r->vi)->name, &CallEnded, a, kCleanupNamedVI) ||
      !ExtRTSetCleanupProc(VIRec(r->vi)->name, &CallAborted, a, kCleanupNamedVIAbort)) {
    ForgetCleanups(a);
    return kMemFullErr;
  }
  if (MgErr err = StartVIRun(FirstDS(r->vi))) {
    ForgetCleanups(a);
    return err;
  }
  a->busy = 1;
  a->state = kVIRefCallRunning;
  a->next = gRunning;
  gRunning = a;
  if (out) *out = a;
  return kNoErr;
}

MgErr KillQXObjAsyncRef(AsyncRef async) {
  // The record is read only once it is known to be one of ours: a freed or
  // foreign address is refused by its value alone.
  VIRefRecord* r = nullptr;
  for (auto& kv : Refs())
    if (async && kv.second.call == async) r = &kv.second;
  if (!r || !r->vi || !*r->vi) return kArgErr;
  return ThisApp_KillAsyncRef(r, async);
}

int32 VIRefTerminalOffset(VIRef ref, int32 terminal) {
  VIRefRecord* r = ResolveVIRef(ref);
  UHandle pane = r ? VIRec(r->vi)->connPane : nullptr;
  UHandle types = r ? VIRec(r->vi)->dsTypeMap : nullptr;
  if (!pane || !*pane || !types || !*types) return -1;
  const auto* p = reinterpret_cast<const TypeDescriptor*>(*pane);
  const auto* t = reinterpret_cast<const TypeDescriptor*>(*types);
  if (p->code != kTDFunction || t->code != kTDCluster) return -1;
  int16 count = 0;
  std::memcpy(&count, reinterpret_cast<const uChar*>(p) + 4, sizeof count);
  if (terminal < 0 || terminal >= count) return -1;
  ConstPStr name = TDNamePtr(ElemTD(p, terminal));
  if (!name || !name[0]) return -1;
  // The entries lie packed, the header block first.
  int16 entries = 0;
  std::memcpy(&entries, reinterpret_cast<const uChar*>(t) + 4, sizeof entries);
  for (int32 i = 0, at = 0; i < entries; ++i) {
    const TypeDescriptor* e = ElemTD(t, i);
    ConstPStr own = TDNamePtr(e);
    if (own && PStrCmp(own, name) == 0) return TDCompare(e, ElemTD(p, terminal)) == 0 ? at : -1;
    at += DataSize(e);
  }
  return -1;
}

MgErr QXRTRegisterServer() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(781, KillQXObjAsyncRef),
      QX_RT_ENTRY(1651, VIRefRelease),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}

MgErr PxCalleeInstallCode(UHandle vi) {
  if (!vi || !*vi || VIRec(vi)->viKind != kVIKindProxyCallee) return kArgErr;
  if (VIRec(vi)->dataSpace) return kNoErr;
  if (MgErr err = NewMinimalDataSpace(vi)) return err;
  InitDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace));
  return kNoErr;
}

void ServerInstallEngineHooks() {
  VIServerHooks hooks{};
  hooks.disposeVIRefList = &DisposeVIRefList;
  hooks.viHasRefs = &VIHasRefs;
  hooks.viRefReleaseAll = &VIRefReleaseAll;
  hooks.pxCalleeInstallCode = &PxCalleeInstallCode;
  SetVIServerHooks(&hooks);
  ServerInstallProxyHooks();
  ServerInstallRefnumHooks();
}

void ServerInstallRefnumHooks() {
  RefnumKindHooks kinds = RefnumKinds();
  kinds.isAutomationRefnum = &IsAutomationRefnum;
  SetRefnumKindHooks(&kinds);
}
