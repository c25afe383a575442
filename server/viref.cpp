#include "server/viref.h"

#include <cstring>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/rttable.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/vifind.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "rtlib/filehooks.h"
#include "server/callbyr.h"
#include "server/embobj.h"
#include "server/proxy.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "server/tcpserver.h"

// The engine's poster of user events (the compiled-code header that declares
// it cannot share a unit with the VI instances' header).
MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);

namespace {

constexpr int32 kRefSize = int32(sizeof(VIRef));
constexpr int32 kListGrowth = 4;
// The busy bits of the VI's second flags word.
constexpr uInt32 kVIFlags2Busy = 0x400800;

// The call whose completion runs (freed only once its completion has
// returned), and the VI whose references go because it is being disposed.
AsyncRef gInCompletion = nullptr;
bool gFreeAfterCompletion = false;
UHandle gDisposingVI = nullptr;

uInt32 StateOf(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }
DataSpace FirstDS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
bool Reentrant(UHandle vi) { return (VIRec(vi)->flags & kVIFlagReentrant) != 0; }
int32 Word(const void* p) { return int32(uintptr_t(p)); }

// ---- The VI's list of references -------------------------------------------------------
int32 ListCount(UHandle vi) {
  UHandle list = VIRec(vi)->viRefList;
  return list ? GLCount(list, kRefSize) : 0;
}
std::vector<VIRef> ListOf(UHandle vi) {
  std::vector<VIRef> refs;
  UHandle list = VIRec(vi)->viRefList;
  for (int32 i = 0, n = ListCount(vi); i < n; ++i) {
    VIRef ref = 0;
    if (GLGet(list, &ref, kRefSize, i)) refs.push_back(ref);
  }
  return refs;
}
MgErr AddToList(UHandle vi, VIRef ref) {
  UHandle& list = VIRec(vi)->viRefList;
  if (!list && !(list = GLNew(kListGrowth, kRefSize))) return kMemFullErr;
  // An index past the end appends.
  return GLInsert(list, &ref, kRefSize, kListGrowth, 0x7FFFFFFF) ? kMemFullErr : kNoErr;
}
bool RemoveFromList(UHandle vi, VIRef ref) {
  UHandle list = VIRec(vi)->viRefList;
  return list && GLRemoveMatch(list, &ref, kRefSize);
}

// Records of references, a few freed ones kept for the next opens (opens and
// releases run on the user-interface thread; a record freed elsewhere goes
// to that thread's own few).
constexpr int kSpareRecords = 8;
struct SpareRecords {
  VIRefRecord* r[kSpareRecords] = {};
  int n = 0;
};
thread_local SpareRecords tSpare;
VIRefRecord* NewRecord() {
  VIRefRecord* r = tSpare.n > 0 ? tSpare.r[--tSpare.n]
                                : reinterpret_cast<VIRefRecord*>(AZNewPtr(int32(sizeof(VIRefRecord))));
  if (r) std::memset(r, 0, sizeof *r);
  return r;
}
void FreeRecord(VIRefRecord* r) {
  if (tSpare.n < kSpareRecords) tSpare.r[tSpare.n++] = r;
  else AZDisposePtr(reinterpret_cast<UPtr>(r));
}

}  // namespace

VIRefRecord* NewVIRefRecord() { return NewRecord(); }
void FreeVIRefRecord(VIRefRecord* r) {
  if (r) FreeRecord(r);
}
MgErr VIRefListAdd(UHandle vi, VIRef ref) { return vi && *vi ? AddToList(vi, ref) : kArgErr; }
Bool32 VIRefListRemove(UHandle vi, VIRef ref) { return vi && *vi && RemoveFromList(vi, ref) ? 1 : 0; }

void DropSpareVIRefRecords() {
  while (tSpare.n > 0) AZDisposePtr(reinterpret_cast<UPtr>(tSpare.r[--tSpare.n]));
}

namespace {

// ---- Calls -----------------------------------------------------------------------------
bool CallRunning(AsyncRef a) { return a && a->callState == kVIRefCallRunning; }

// A running call stops without telling its completion: its run is reset.
void StopCallUnheard(VIRefRecord* r) {
  AsyncRef a = r->call;
  if (!CallRunning(a)) return;
  UnlinkAsyncRef(ThisAppRecord(), a);
  a->callState = kVIRefCallIdle;
  if (r->proxyDS) DoAbortCommand(r->proxyDS);
}

// Frees what a reservation for calls made.
void FreeCallResources(VIRefRecord* r) {
  if (AsyncRef a = r->call) {
    r->call = nullptr;
    UnlinkAsyncRef(ThisAppRecord(), a);
    if (a == gInCompletion) gFreeAfterCompletion = true;
    else FreeAsyncRef(a);
  }
  UHandle proxyVI = r->proxyVI;
  DataSpace proxyDS = r->proxyDS;
  r->proxyVI = nullptr;
  r->proxyDS = nullptr;
  if (proxyDS && *proxyDS) (*proxyDS)->pxCallAsync = nullptr;
  if (proxyVI) PxCallerDispose(proxyVI, proxyDS);
  if (r->callDS && r->vi && r->callDS != FirstDS(r->vi)) LinkDisposeDataSpace(reinterpret_cast<UHandle>(r->callDS), 0);
  r->callDS = nullptr;
}

struct DropContext {
  VIRefRecord* r;
  MgErr err;
};

MgErr ChangeReservation(VIRefRecord* r, int32 mode, bool releasing) {
  if (mode == r->mode) return kNoErr;
  if (mode < kVIRefModeNone || mode > kVIRefModeCall) return kVIRefReserveErr;
  // The current mode is dropped first.
  if (r->mode == kVIRefModeEdit) {
    r->mode = kVIRefModeNone;
  } else if (r->mode == kVIRefModeCall) {
    // A running non-native call keeps its record: a property change waits
    // for its end; a release stops it first.
    if (CallRunning(r->call)) {
      if (!releasing) return kVIRefNotIdleErr;
      StopCallUnheard(r);
    }
    DropContext c{r, kNoErr};
    WithVIRefMutex(
        [](void* p) {
          auto* c = static_cast<DropContext*>(p);
          if (VIRefNativeCallsHeld(c->r) > 0) c->err = kVIRefReserveErr;
          else c->r->mode = kVIRefModeNone;
        },
        &c);
    if (c.err) return c.err;
    const bool reserved = (r->flags & kVIRefOptNative) || r->proxyVI;
    FreeCallResources(r);
    if (reserved && r->vi && *r->vi) ReleaseVIReservation(r->vi);
  }
  if (mode == kVIRefModeNone) return kNoErr;
  if (mode == kVIRefModeEdit) return kVIRefReserveErr;
  // Mode 2.
  UHandle vi = r->vi;
  if (!vi || !*vi || VIRec(vi)->viKind != kVIKindDatalog) return kVIRefKindErr;
  for (VIRef other : ListOf(vi)) {
    VIRefRecord* o = other == r->self ? nullptr : ResolveVIRef(other);
    if (o && o->mode == kVIRefModeEdit) return kVIRefEditReservedErr;
  }
  if (VIRec(vi)->flags2 & kVIFlags2Busy) return kVIRefNotIdleErr;
  if (StateOf(vi) == kVIStateBroken || !FirstDS(vi)) return kVIRefNotExecErr;
  if (StateOf(vi) == 2 && !Reentrant(vi)) return kVIRefNotIdleErr;
  if (r->flags & kVIRefOptNative) {
    DataSpace ds = Reentrant(vi) ? reinterpret_cast<DataSpace>(LinkNewDataSpace(vi, 0)) : FirstDS(vi);
    if (!ds) return kMemFullErr;
    // A clone runs where the VI's own data space runs (a new one is routed
    // to no run slot of its own yet).
    if (ds != FirstDS(vi) && FirstDS(vi)) {
      const DataSpaceHeader* first = *FirstDS(vi);
      (*ds)->basePriority = first->basePriority;
      (*ds)->effPriority = first->effPriority;
      (*ds)->execSystem = first->execSystem;
      (*ds)->slot = first->slot;
      (*ds)->routingRow = first->routingRow;
    }
    r->callDS = ds;
    SetVIReserved(vi, 0);
  } else {
    UHandle proxyVI = nullptr;
    DataSpace proxyDS = nullptr;
    if (MgErr err = PxCallerNew(vi, &proxyVI, &proxyDS)) return err;
    const int32 terminals = PxCallerTerminals(proxyDS);
    AsyncRef a = NewAsyncRef(kAsyncNonNativeCallVIOp, ThisAppRecord());
    UPtr table = a && terminals > 0 ? AZNewPClr(terminals * 8) : nullptr;
    if (!a || terminals < 0 || (terminals > 0 && !table)) {
      if (table) AZDisposePtr(table);
      if (a) FreeAsyncRef(a);
      PxCallerDispose(proxyVI, proxyDS);
      return terminals < 0 ? kArgErr : kMemFullErr;
    }
    // The proxy's data space names the call for the end of its runs.
    (*proxyDS)->pxCallAsync = a;
    a->terminals = table;
    a->param[2] = uInt32(terminals);
    a->ref = r->self;
    r->call = a;
    r->proxyVI = proxyVI;
    r->proxyDS = proxyDS;
    if (proxyVI) SetVIReserved(vi, 0);
  }
  r->mode = kVIRefModeCall;
  return kNoErr;
}

// The common open of both ways.  *released tells that a reference was made
// and released again (its release disposed of a VI nothing holds).
MgErr CommonOpen(AppRef app, UHandle vi, const TypeDescriptor* connType, int32 options, VIRef* out,
                 bool* released) {
  *released = false;
  const int16 kind = VIRec(vi)->viKind;
  if (kind != kVIKindDatalog && kind != kVIKindControl && kind != kVIKindGlobal) return kVIRefKindErr;
  VIRefRecord* r = NewRecord();
  if (!r) return kMemFullErr;
  r->app = ThisAppRecord();
  r->appRef = app;
  r->vi = vi;
  // The reference's own state bits are never taken from a caller: a release
  // pending from the start could never be released.
  r->flags = uInt32(options) & ~uInt32(kVIRefReleasePending | kVIRefStrictlyTyped | kVIRefLoadedPanel);
  r->self = NewVIRefCookie(r);
  if (!r->self) {
    FreeRecord(r);
    return kMemFullErr;
  }
  if (AddToList(vi, r->self) != kNoErr) {
    DisposeVIRefCookie(r->self);
    FreeRecord(r);
    return kMemFullErr;
  }
  if (connType) {
    UHandle pane = VIRec(vi)->connPane;
    MgErr err = kVIRefTypeErr;
    if (pane && *pane && TDCompareLoose(connType, reinterpret_cast<const TypeDescriptor*>(*pane)) == 0) {
      r->flags |= kVIRefStrictlyTyped;
      err = ChangeReservation(r, kVIRefModeCall, false);
    }
    if (err) {
      *released = true;
      VIRefRelease(r->self);
      return err;
    }
  }
  *out = r->self;
  return kNoErr;
}

void PostCloseVI(UHandle vi) {
  if (vi && vi != gDisposingVI && VIIsDisposable(vi)) ExecPostUserEvent(kUECloseVI, Word(vi), 0, 0, 0, 0);
}

// Loads the VI file at the path under the name: null when it is no VI file
// or does not load.
UHandle LoadVIFile(Path path, ConstPStr name) {
  Path dir = FEmptyPath(nullptr);
  RsrcFileRef file = 0;
  Bool32 fromLibrary = 0;
  const bool opened = dir && FDirName(path, dir) == kNoErr &&
                      OpenVIFileInDir(dir, name, kFindTypeVI, kRsrcReadOnly, &file, 0, &fromLibrary) == kFindInFolder;
  if (dir) FDisposePath(dir);
  if (!opened) return nullptr;
  Path own = path;
  if (FPathToPath(&own) != kNoErr) {
    RCloseFile(file);
    return nullptr;
  }
  // The loader keeps the path it is given (or disposes it) and closes the file.
  UHandle vi = nullptr;
  if (LoadInstrument(own, 0, name, file, &vi, 0) != kLoadLoaded) return nullptr;
  return vi;
}

VIPropPanelHooks gPanelHooks{};

}  // namespace

// ---- The VI's references ------------------------------------------------------------------

std::vector<VIRef> VIRefsOf(UHandle vi) { return vi && *vi ? ListOf(vi) : std::vector<VIRef>{}; }

Bool32 VIHasRefs(UHandle vi, int32* count) {
  const int32 n = vi && *vi ? ListCount(vi) : 0;
  if (count) *count = n;
  return n > 0 ? 1 : 0;
}

void DisposeVIRefList(UHandle vi) {
  if (!vi || !*vi || !VIRec(vi)->viRefList) return;
  UHandle saved = gDisposingVI;
  gDisposingVI = vi;
  const std::vector<VIRef> refs = ListOf(vi);
  for (auto it = refs.rbegin(); it != refs.rend(); ++it) VIRefRelease(*it);
  // A reference whose release waits for its native calls outlives the VI:
  // it forgets the VI, and its release finds none.
  const std::vector<VIRef> left = ListOf(vi);
  if (!left.empty()) DBPrintf("DisposeVIRefList: \"%p\" non-empty viRefList??", VIRec(vi)->name);
  for (VIRef ref : left)
    if (VIRefRecord* r = ResolveVIRef(ref); r && r->vi == vi) r->vi = nullptr;
  GLDispose(VIRec(vi)->viRefList);
  VIRec(vi)->viRefList = nullptr;
  gDisposingVI = saved;
}

void VIRefReleaseAll() {
  std::vector<VIRef> refs(64);
  for (;;) {
    const int32 n = VIRefList(refs.data(), int32(refs.size()));
    if (n <= int32(refs.size())) {
      refs.resize(size_t(n));
      break;
    }
    refs.resize(size_t(n));
  }
  for (VIRef ref : refs) VIRefRelease(ref);
  TCPServerExit();
}

MgErr SetReservation(VIRefRecord* ref, int32 mode) { return ref ? ChangeReservation(ref, mode, false) : kArgErr; }

// ---- The local application's entries -------------------------------------------------------

MgErr ThisApp_OpenByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options, ConstPStr,
                         VIRef* out, PStr, AsyncCompletion, AsyncRef*) {
  UHandle vi = FindVIByName(name);
  if (!vi) return kVIRefNotInMemoryErr;
  if (!(options & kVIRefOptTrusted) && !QXSViAccessAllowed(VIRec(vi)->name, VIRec(vi)->path)) return kVIRefAccessErr;
  bool released = false;
  return CommonOpen(app, vi, connType, options, out, &released);
}

MgErr ThisApp_OpenByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr,
                         VIRef* out, PStr, AsyncCompletion, AsyncRef*) {
  Str255 name;
  if (MgErr err = FNamePtr(path, name)) return err;
  if (!(options & kVIRefOptTrusted) && !QXSViAccessAllowed(name, path)) return kVIRefAccessErr;
  UHandle vi = FindVIByName(name);
  bool loadedHere = false;
  if (!vi && (vi = LoadVIFile(path, name))) loadedHere = true;
  if (!vi) return kFileNotFoundErr;
  bool released = false;
  const MgErr err = CommonOpen(app, vi, connType, options, out, &released);
  // A VI loaded for nothing goes again (a release has already seen to it).
  if (err && loadedHere && !released) PostCloseVI(vi);
  return err;
}

MgErr ThisApp_ReleaseRef(VIRefRecord* r) {
  if (!r) return kArgErr;
  const VIRef ref = r->self;
  UHandle vi = r->vi && *r->vi ? r->vi : nullptr;
  if (r->mode != kVIRefModeNone) ChangeReservation(r, kVIRefModeNone, true);
  // Every operation of the local application that names the reference.
  if (ThisAppRecord()->asyncList) {
    std::vector<AsyncRef> mine;
    for (AsyncRef a = ThisAppRecord()->asyncList; a; a = a->next)
      if (a->ref == ref) mine.push_back(a);
    for (AsyncRef a : mine)
      if (IsLiveAsyncRef(a)) KillQXObjAsyncRef(a);
  }
  if (vi && !RemoveFromList(vi, ref))
    DBPrintf("ThisApp_ReleaseRef: didn't find ref (0x%lx) in \"%p\"'s reflist!!", static_cast<unsigned long>(uInt32(ref)),
             VIRec(vi)->name);
  DisposeVIRefCookie(ref);
  if (vi && (r->flags & kVIRefLoadedPanel)) {
    bool other = false;
    for (VIRef o : ListOf(vi))
      if (VIRefRecord* orec = ResolveVIRef(o); orec && (orec->flags & kVIRefLoadedPanel)) other = true;
    if (!other) VIRec(vi)->marks &= ~uInt32(kVIMarkPanelByRefs);
  }
  FreeRecord(r);
  PostCloseVI(vi);
  return kNoErr;
}

MgErr ThisApp_KillAsyncRef(AppRecord* app, AsyncRef async) {
  const unsigned long asyncWord = static_cast<unsigned long>(uInt32(Word(async)));
  switch (async->op) {
    case kAsyncGetAppRefOp:
    case kAsyncGetVIRefOp:
    case kAsyncAppAttrVectOp:
    case kAsyncVIAttrVectOp:
    case kAsyncCallVIPxCalleeOp:
      if (async->op == kAsyncCallVIPxCalleeOp)
        DBPrintf("ThisApp_KillAsyncRef: %s: what do we do here??", AsyncOpName(async->op));
      async->completion = nullptr;
      return kNoErr;
    case kAsyncNonNativeCallVIOp: {
      const char* op = AsyncOpName(async->op);
      const bool listed = UnlinkAsyncRef(app, async);
      if (!listed) DBPrintf("ThisApp_KillAsyncRef: asyncRef 0x%08lx not on asyncRefList", asyncWord);
      VIRefRecord* r = ResolveVIRef(async->ref);
      if (!r || r->call != async) {
        DBPrintf("ThisApp_KillAsyncRef:%s: unknown viref 0x%08lx", op, static_cast<unsigned long>(uInt32(async->ref)));
        return kArgErr;
      }
      ConstPStr name = r->vi && *r->vi ? VIRec(r->vi)->name : reinterpret_cast<ConstPStr>("");
      // A call that has ended is no longer on the list: its kill is late.
      if (!CallRunning(async)) {
        DBPrintf("ThisApp_KillAsyncRef:%s: call to 0x%08lx \"%p\" no longer in progress", op,
                 static_cast<unsigned long>(uInt32(async->ref)), name);
        return kVIRefNotIdleErr;
      }
      if (!listed) return kArgErr;
      DBPrintf("ThisApp_KillAsyncRef:%s: resetting 0x%08lx: \"%p\"", op, static_cast<unsigned long>(uInt32(async->ref)),
               name);
      // The reset ends the run, and its end completes the call as reset.
      DoAbortCommand(r->proxyDS);
      return kNoErr;
    }
    case kAsyncVIDoMethodOp:
      if (MgErr err = VIMethodKillRun(async)) {
        DBAssert(__FILE__, __LINE__, "ThisApp_KillAsyncRef: only a \"Run VI\" completes later");
        return err;
      }
      return kNoErr;
    default:
      DBAssert(__FILE__, __LINE__, "ThisApp_KillAsyncRef: unknown asyncOp");
      return kVIRefGenericErr;
  }
}

// ---- Calls ----------------------------------------------------------------------------------

void VIRefNotifyCallDone(AsyncRef a, int32 state) {
  if (!UnlinkAsyncRef(ThisAppRecord(), a)) DBPrintf("VIRefNotifyCallDone: could not find asyncRef in list");
  if (TSLogWanted(kTSSideServer)) {
    VIRefRecord* r = ResolveVIRef(a->ref);
    TSLog(kTSSideServer, "Finishing VI call", "viRef=0x%08lx; ds=0x%lx: \"%p\"", static_cast<unsigned long>(uInt32(a->ref)),
          static_cast<unsigned long>(uInt32(Word(r ? r->proxyDS : nullptr))),
          r && r->vi && *r->vi ? VIRec(r->vi)->name : reinterpret_cast<ConstPStr>(""));
  }
  a->error = kNoErr;
  a->callState = state;
  gInCompletion = a;
  if (a->completion) a->completion(a);
  gInCompletion = nullptr;
  if (gFreeAfterCompletion) {
    gFreeAfterCompletion = false;
    FreeAsyncRef(a);
  } else {
    a->callState = kVIRefCallIdle;
  }
}

MgErr VIRefStartCall(VIRef ref, AsyncCompletion completion, AsyncRef* out) {
  if (out) *out = nullptr;
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || (r->flags & kVIRefReleasePending)) return kVIRefInvalidErr;
  if (r->app != ThisAppRecord() || (r->flags & kVIRefOptNative) || (r->mode == kVIRefModeCall && !r->call))
    return kArgErr;
  if (r->mode != kVIRefModeCall) return kVIRefReserveErr;
  AsyncRef a = r->call;
  // A non-reentrant VI runs one call at a time: its terminals are shared.
  if (CallRunning(a) || !r->vi || ((StateOf(r->vi) & 2) && !Reentrant(r->vi)) || !r->proxyDS) return kVIRefNotIdleErr;
  a->completion = completion;
  a->error = kNoErr;
  a->callState = kVIRefCallIdle;
  // The proxy caller's end reports the call (PxCallerFinish).
  if (MgErr err = StartVIRun(r->proxyDS)) return err;
  a->callState = kVIRefCallRunning;
  AppendAsyncRef(ThisAppRecord(), a);
  TSLog(kTSSideServer, "Starting VI call", "viRef=0x%08lx; ds=0x%lx: \"%p\"", static_cast<unsigned long>(uInt32(ref)),
        static_cast<unsigned long>(uInt32(Word(r->proxyDS))), VIRec(r->vi)->name);
  if (out) *out = a;
  return kNoErr;
}

MgErr VIRefGetCallInfo(VIRef ref, CallTermSlot* table, int32 count) {
  VIRefRecord* r = ResolveVIRef(ref);
  if (!r || (r->flags & kVIRefReleasePending)) return kVIRefInvalidErr;
  if (r->app != ThisAppRecord() || (r->flags & kVIRefOptNative)) return kArgErr;
  if (r->mode != kVIRefModeCall || !r->call) return kVIRefReserveErr;
  if (CallRunning(r->call)) return kVIRefNotIdleErr;
  if (count != int32(r->call->param[2]) || (count > 0 && !table) || !r->proxyDS || !*r->proxyDS) return kArgErr;
  // The proxy's terminals: where each terminal's value lies in the data
  // space the call runs on, none asked for yet.
  const ParamTable* own = PxCallerTable(r->proxyDS);
  if (!own || PxCallerTerminals(r->proxyDS) != count) return kArgErr;
  for (int32 i = 0; i < count; ++i) table[i] = own->slots[i];
  return kNoErr;
}

int32 VIRefTerminalOffset(VIRef ref, int32 terminal) {
  VIRefRecord* r = ResolveVIRef(ref);
  return VITerminalOffset(r ? r->vi : nullptr, terminal);
}

int32 VITerminalOffset(UHandle vi, int32 terminal) {
  UHandle pane = vi && *vi ? VIRec(vi)->connPane : nullptr;
  UHandle types = vi && *vi ? VIRec(vi)->dsTypeMap : nullptr;
  if (!pane || !*pane || !types || !*types) return -1;
  if (TDCheckBounds(*types, DSGetHandleSize(types)) != kNoErr) return -1;
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

// ---- Start-up -------------------------------------------------------------------------------

void SetVIPropPanelHooks(const VIPropPanelHooks& hooks) { gPanelHooks = hooks; }
const VIPropPanelHooks& VIPropPanel() { return gPanelHooks; }

MgErr QXRTRegisterServer() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(781, KillQXObjAsyncRef),
      QX_RT_ENTRY(1650, CBRPrepareCall),
      QX_RT_ENTRY(1651, VIRefRelease),
      QX_RT_ENTRY(1667, QXAppRefRelease),
      QX_RT_ENTRY(1670, VIRefFinishNativeCall),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
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
  kinds.isAppRefnum = &IsAppRefnum;
  kinds.isVIRefnum = &IsVIRefnum;
  kinds.callByRefStep = &CallByRefStep;
  SetRefnumKindHooks(&kinds);
}
