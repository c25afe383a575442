#include "server/callbyr.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "engine/exec/rttable.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "server/tcpserver.h"

// The engine's poster of user events (the compiled-code header that declares
// it cannot share a unit with the VI instances' header).
MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);

namespace {

constexpr char kPrepareSource[] = "Call By Reference";
// Calls nested deeper than this are taken for a broken chain.
constexpr int32 kMaxChainLevels = 100000;

// ---- Native calls ---------------------------------------------------------------------------
__attribute__((noinline, cold)) MgErr Fail(ParamTable* callerTable, DataSpace callerDS, MgErr err) {
  if (callerTable && callerTable->error)
    SetErrorIOClust(callerTable->error, 1, err, kErrSourceCStr, kPrepareSource, callerDS);
  return err;
}

// The data space that called this one, none at the top of its chain or
// when it does not run.  Read without locks: the chain of the data space the
// calling thread runs does not change under it.
DataSpace CallerOf(DataSpace ds) {
  DataSpaceHeader* h = ds && *ds ? *ds : nullptr;
  if (!h || !h->busy) return nullptr;
  QueueElement* owner = h->entrance.owner;
  if (!owner || owner == h->runElement) return nullptr;
  return owner->dataSpace;
}

// Whether a call of the VI on callDS from the caller would enter a data
// space of the caller's chain: the caller itself on callDS, the VI above
// it, or callDS at the top.  Another data space of the VI may call it.
bool Recursive(UHandle vi, DataSpace callDS, DataSpace caller) {
  if (!caller || !*caller) return false;
  if (caller == callDS) return true;
  DataSpace top = caller;
  DataSpace up = CallerOf(caller);
  for (int32 level = 0; up && *up && level < kMaxChainLevels; ++level) {
    if ((*up)->owner == vi) return true;
    top = up;
    up = CallerOf(up);
  }
  return top == callDS;
}

// The VI's connector pane: its terminal count and flag words, when the pane
// is a function type that holds them.
struct Pane {
  int32 terminals = -1;
  const uChar* flags = nullptr;
  uInt16 Flags(int32 i) const {
    uInt16 f = 0;
    std::memcpy(&f, flags + 2 * i, sizeof f);
    return f;
  }
};
Pane PaneOf(UHandle vi) {
  Pane p;
  UHandle pane = vi && *vi ? VIRec(vi)->connPane : nullptr;
  if (!pane || !*pane) {
    p.terminals = 0;
    return p;
  }
  const int32 size = AZGetHandleSize(pane);
  if (size < 8 || reinterpret_cast<const TypeDescriptor*>(*pane)->code != kTDFunction) return p;
  int16 count = 0;
  std::memcpy(&count, *pane + 4, sizeof count);
  if (count < 0 || 8 + 2 * int32(count) > size) return p;
  p.terminals = count;
  p.flags = reinterpret_cast<const uChar*>(*pane) + 8;
  return p;
}

// The reference this thread began its latest native call through, and the
// record it resolved to, so that the next call through it and the call's
// end find the record without the jar.  A record goes only after its
// cookie, and every cookie that goes moves the epoch (under the mutex), so
// the record is trusted while the epoch has not moved; a call whose end
// comes on another thread looks the record up.
struct LastNativeCall {
  VIRef ref;
  VIRefRecord* record;
  uInt32 epoch;
  bool open;  // the call has not ended on this thread
};
thread_local LastNativeCall tLastNativeCall{};

// The finished count wraps long before the begun count would: both are
// brought down together, under the mutex, once the begun count is large.
constexpr int32 kNativeCountRebase = 0x40000000;

// The start of a native call, in line in the prepare: every call through a
// reference comes here, so the mutex is taken and the refnum resolved
// without a procedure to call under it.
inline __attribute__((always_inline)) MgErr BeginNativeCall(VIRef ref, UHandle* vi, DataSpace* callDS) {
  MgErr err = kNoErr;
  ThMutexLock(gVIRefMutex);
  LastNativeCall& last = tLastNativeCall;
  VIRefRecord* r =
      last.ref == ref && ref && last.epoch == gVIRefReleaseEpoch ? last.record : ResolveVIRefHeld(ref);
  if (!r || (r->flags & kVIRefReleasePending)) err = kVIRefInvalidErr;
  else if (r->mode != kVIRefModeCall) err = kVIRefReserveErr;
  else if (!r->callDS) err = kVIRefInvalidErr;
  if (!err) {
    if (__builtin_expect(r->nativeCalls >= kNativeCountRebase, 0)) {
      const uInt32 done = __atomic_load_n(&r->nativeDone, __ATOMIC_ACQUIRE) & ~kVIRefDoneReleaseBit;
      __atomic_fetch_sub(&r->nativeDone, done, __ATOMIC_ACQ_REL);
      r->nativeCalls -= int32(done);
    }
    ++r->nativeCalls;
    *vi = r->vi;
    *callDS = r->callDS;
    last = {ref, r, gVIRefReleaseEpoch, true};
  }
  VIRefUnlock();
  return err;
}
}  // namespace

MgErr VIRefBeginNativeCall(VIRef ref, UHandle* vi, DataSpace* callDS) {
  UHandle v = nullptr;
  DataSpace ds = nullptr;
  const MgErr err = BeginNativeCall(ref, &v, &ds);
  if (vi) *vi = v;
  if (callDS) *callDS = ds;
  return err;
}

// The end of a native call counts it finished with one atomic step on the
// record's finished count, without "gVIRefMutex" when this thread began the
// call.  Why that is sound:
// - The record stays while the call is counted in progress: a release
//   finding calls in progress is deferred, and the user-interface thread
//   releases only when, under the mutex, none is left.  This call is in
//   progress until its own step, so the record is read only before it and
//   never after.
// - The release sets the count's high bit in one atomic step with the
//   finished count, under the mutex.  A call whose step comes first is
//   counted by the release (which then waits for none or for the others); a
//   call whose step comes after sees the bit and posts the event, so the last
//   call to finish always posts after its step, and the user-interface
//   thread, looking under the mutex, finds none left.  Earlier posts find
//   calls left (or the record gone) and do nothing.
// - Calls begin only under the mutex and never once the release is asked,
//   so the begun count a looker reads under the mutex is final.
// Under Valgrind the step is taken under the mutex too, so that the race
// detectors see every access to the count ordered by the mutex.
MgErr VIRefFinishNativeCall(VIRef ref) {
  LastNativeCall& last = tLastNativeCall;
  uInt32 done = 0;
  if (last.open && last.ref == ref && ref && !PlatUnderValgrind() &&
      last.epoch == __atomic_load_n(&gVIRefReleaseEpoch, __ATOMIC_ACQUIRE)) {
    last.open = false;
    done = __atomic_fetch_add(&last.record->nativeDone, 1u, __ATOMIC_ACQ_REL);
  } else {
    bool known = false, counted = false;
    VIRefRecord* r = VIRefLockResolve(ref);
    if (r) {
      known = true;
      if (VIRefNativeCallsHeld(r) > 0) {
        counted = true;
        done = __atomic_fetch_add(&r->nativeDone, 1u, __ATOMIC_ACQ_REL);
      }
      if (last.ref == ref) last.open = false;
    }
    VIRefUnlock();
    if (!known) {
      DBAssert(__FILE__, __LINE__, "VIRefFinishNativeCall: unknown VI reference");
      return kArgErr;
    }
    if (!counted) return kNoErr;
  }
  // The release waited for this call: the user-interface thread finishes it.
  if (done & kVIRefDoneReleaseBit) ExecPostUserEvent(kUECallInUIThread, int32(ref), 0, 0, 0, 0);
  return kNoErr;
}

void VIRefFinishRelease(int32 ref) {
  struct Ctx {
    VIRef ref;
    VIRefRecord* r;
  } c{VIRef(ref), nullptr};
  WithVIRefMutex(
      [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        VIRefRecord* r = ResolveVIRefHeld(c->ref);
        if (r && (r->flags & kVIRefReleasePending) && VIRefNativeCallsHeld(r) == 0) c->r = r;
      },
      &c);
  if (c.r) c.r->app->methods.releaseRef(c.r);
}

int32 VIRefNativeCalls(VIRef ref) {
  int32 n = -1;
  struct Ctx {
    VIRef ref;
    int32* n;
  } ctx{ref, &n};
  WithVIRefMutex(
      [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        if (VIRefRecord* r = ResolveVIRefHeld(c->ref)) *c->n = VIRefNativeCallsHeld(r);
      },
      &ctx);
  return n;
}

MgErr CBRPrepareCall(VIRef ref, DataSpace* calleeDS, DataSpace callerDS, ParamTable* calleeTable,
                     ParamTable* callerTable) {
  if (calleeDS) *calleeDS = nullptr;
  if (!callerTable || callerTable->tag != kParamTableTag) {
    DBAssert(__FILE__, __LINE__, "CBRPrepareCall: the caller's parameter table has no \"PTAB\" tag");
    return Fail(callerTable, callerDS, kArgErr);
  }
  if (!calleeDS || !calleeTable) return Fail(callerTable, callerDS, kArgErr);
  UHandle vi = nullptr;
  DataSpace callDS = nullptr;
  if (MgErr err = BeginNativeCall(ref, &vi, &callDS)) return Fail(callerTable, callerDS, err);
  if (Recursive(vi, callDS, callerDS)) {
    VIRefFinishNativeCall(ref);
    return Fail(callerTable, callerDS, kVIRefRecursiveErr);
  }
  // Both tables have a slot per terminal of the pane (the reference is
  // strictly typed); a terminal taking another caller slot must name one.
  // One pass checks the flags and notes whether any terminal takes another
  // slot: most panes have none, and their slots are copied as one block.
  const Pane pane = PaneOf(vi);
  bool bad = pane.terminals < 0;
  bool remapped = false;
  for (int32 i = 0; !bad && i < pane.terminals; ++i) {
    const uInt16 f = pane.Flags(i);
    if (f & kConnTermFromCaller) {
      remapped = true;
      bad = int32(f & 0xFF) >= pane.terminals;
    }
  }
  if (__builtin_expect(bad, 0)) {
    VIRefFinishNativeCall(ref);
    return Fail(callerTable, callerDS, kArgErr);
  }
  // The caller's table copied, the reference stored and "in progress"
  // cleared; each slot is the caller's own or the one its terminal names.
  calleeTable->tag = callerTable->tag;
  calleeTable->flags = callerTable->flags & ~kParamTableCallInProgress;
  calleeTable->error = callerTable->error;
  calleeTable->ref = ref;
  if (!remapped) {
    std::memcpy(reinterpret_cast<uChar*>(calleeTable) + offsetof(ParamTable, slots),
                reinterpret_cast<const uChar*>(callerTable) + offsetof(ParamTable, slots),
                size_t(pane.terminals) * sizeof(CallTermSlot));
  } else {
    for (int32 i = 0; i < pane.terminals; ++i) {
      const uInt16 f = pane.Flags(i);
      calleeTable->slots[i] = callerTable->slots[(f & kConnTermFromCaller) ? int32(f & 0xFF) : i];
    }
  }
  // The callee finds its table in its data space's call word, and takes it
  // (clearing the word) once it has entered.
  (*callDS)->callTable = calleeTable;
  *calleeDS = callDS;
  return kNoErr;
}

// ---- Reference nodes ------------------------------------------------------------------------
namespace {

// A node waiting for its operation's completion.  What the completion needs
// is kept here: the node's own inputs are read again only once its
// validity handle says it still waits.
struct Pending {
  AsyncRef async;
  int32 kind;
  Occurrence occurrence;
  UHandle valid;
  CBRNodeOut* out;
};
std::mutex gPendingLock;
std::vector<Pending> gPending;

bool TakePending(AsyncRef a, Pending* out) {
  std::lock_guard<std::mutex> g(gPendingLock);
  for (size_t i = 0; i < gPending.size(); ++i)
    if (gPending[i].async == a) {
      *out = gPending[i];
      gPending.erase(gPending.begin() + std::ptrdiff_t(i));
      return true;
    }
  return false;
}

bool StillWaits(UHandle valid) {
  if (!valid || DSCheckHandle(valid) != kNoErr || DSGetHandleSize(valid) < int32(sizeof(int32))) return false;
  int32 word = 0;
  std::memcpy(&word, *valid, sizeof word);
  return word != 0;
}

// The operation's end: the results go to the node once, and its occurrence
// fires, unless the node was aborted meanwhile.
void NodeCompletion(AsyncRef a) {
  Pending p{};
  if (!TakePending(a, &p)) return;
  if (!StillWaits(p.valid)) return;
  CBRNodeOut* out = p.out;
  out->error = a->error;
  switch (p.kind) {
    case kCBROpenVIRef: out->ref = a->error ? 0 : a->ref; break;
    case kCBRPropertyNode: out->index = int32(a->param[2]); break;
    case kCBROpenAppRef: out->app = a->error ? kNoAppRef : AppRef(a->param[0]); break;
    default: break;
  }
  out->async = nullptr;
  const int32 done = 0;
  std::memcpy(*p.valid, &done, sizeof done);
  if (p.occurrence) Occur(p.occurrence);
}

// Keeps the node waiting for the operation: 1 (pending).
int32 Pend(int32 kind, CBRNodeIn* in, CBRNodeOut* out, AsyncRef a) {
  out->async = a;
  std::lock_guard<std::mutex> g(gPendingLock);
  gPending.push_back(Pending{a, kind, in->occurrence, in->valid, out});
  return 1;
}

// The node's path made absolute: a relative path against the folder of
// the calling VI's file, or the application's folder when the caller has
// none.  2 when no path can be made.
MgErr AbsolutePath(const CBRNodeIn* in, Path* out) {
  *out = nullptr;
  int32 type = -1;
  if (FGetPathType(in->path, &type) != kNoErr) return kArgErr;
  Path abs = FEmptyPath(nullptr);
  if (!abs) return kMemFullErr;
  MgErr err = kNoErr;
  if (type != kRelPath) {
    err = FPathCpy(abs, in->path);
  } else {
    Path base = FEmptyPath(nullptr);
    UHandle vi = in->caller && *in->caller ? (*in->caller)->owner : nullptr;
    Path viPath = vi && *vi ? VIRec(vi)->path : nullptr;
    bool made = base && viPath && FDirName(viPath, base) == kNoErr && FIsAPathOfType(base, kAbsPath);
    if (base && !made) made = GetAppPath(base) == kNoErr && FIsAPathOfType(base, kAbsPath);
    err = made && FAddPath(base, in->path, abs) == kNoErr ? kNoErr : kMemFullErr;
    if (base) FDisposePath(base);
  }
  if (err) {
    FDisposePath(abs);
    return err;
  }
  *out = abs;
  return kNoErr;
}

int32 OpenVIRef(CBRNodeIn* in, CBRNodeOut* out) {
  const int32 options = kCBROpenOptions | (in->options & kCBRNodeOptionMask);
  AsyncRef a = nullptr;
  VIRef ref = 0;
  MgErr err;
  if (in->name && in->name[0]) {
    err = AppOpenVIRefByName(in->app, in->name, in->connType, options, in->password, &ref, nullptr, &NodeCompletion,
                             &a);
  } else if (!in->path) {
    err = kArgErr;
  } else {
    Path abs = nullptr;
    err = AbsolutePath(in, &abs);
    if (!err) {
      err = AppOpenVIRefByPath(in->app, abs, in->connType, options, in->password, &ref, nullptr, &NodeCompletion,
                               &a);
      FDisposePath(abs);
    }
  }
  if (err == kVIRefPendingErr && a) return Pend(kCBROpenVIRef, in, out, a);
  out->ref = err ? 0 : ref;
  out->error = err;
  return 0;
}

int32 PropertyNode(CBRNodeIn* in, CBRNodeOut* out) {
  AsyncRef a = nullptr;
  MgErr error = kNoErr;
  int32 index = 0;
  const MgErr result =
      in->ref ? VIRefAttrVector(in->ref, in->count, in->entries, kVIRefOptTrusted, &error, &index, nullptr,
                                &NodeCompletion, &a)
              : AppAttrVector(in->app, in->count, in->entries, kVIRefOptTrusted, &error, &index, nullptr,
                              &NodeCompletion, &a);
  if (result == kVIRefPendingErr && a) return Pend(kCBRPropertyNode, in, out, a);
  out->error = result ? result : error;
  out->index = index;
  return 0;
}

int32 InvokeNode(CBRNodeIn* in, CBRNodeOut* out) {
  AsyncRef a = nullptr;
  const MgErr result =
      in->ref ? VIRefDoMethod(in->ref, in->selector, in->count, in->entries, kVIRefOptTrusted, nullptr,
                              &NodeCompletion, &a)
              : AppDoMethod(in->app, in->selector, in->count, in->entries, kVIRefOptTrusted, nullptr, &NodeCompletion,
                            &a);
  if (result == kVIRefPendingErr && a) return Pend(kCBRInvokeNode, in, out, a);
  out->error = result;
  return 0;
}

int32 OpenAppRef(CBRNodeIn* in, CBRNodeOut* out) {
  AsyncRef a = nullptr;
  AppRef app = kNoAppRef;
  static const uChar kNone[1] = {0};
  const MgErr err = OpenAppRefByName(in->name ? in->name : kNone, uInt16(in->port), &app, nullptr, &NodeCompletion, &a);
  if (err == kVIRefPendingErr && a) return Pend(kCBROpenAppRef, in, out, a);
  out->app = err ? kNoAppRef : app;
  out->error = err;
  return 0;
}

}  // namespace

int32 CallByRefStep(int32 kind, void* data, void* result) {
  auto* in = static_cast<CBRNodeIn*>(data);
  auto* out = static_cast<CBRNodeOut*>(result);
  if (!in || !out) return kArgErr;
  out->async = nullptr;
  switch (kind) {
    case kCBROpenVIRef: return OpenVIRef(in, out);
    case kCBRPropertyNode: return PropertyNode(in, out);
    case kCBRCloseRef: out->error = in->ref ? VIRefRelease(in->ref) : QXAppRefRelease(in->app); return 0;
    case kCBRInvokeNode: return InvokeNode(in, out);
    case kCBROpenAppRef: return OpenAppRef(in, out);
    default: out->error = kArgErr; return 0;
  }
}

MgErr CBRAbortNode(CBRNodeIn* in, CBRNodeOut* out) {
  if (!out) return kArgErr;
  AsyncRef a = out->async;
  out->async = nullptr;
  Pending p{};
  // Forgotten first, so that no completion reaches the node; then killed.
  const bool pending = a && TakePending(a, &p);
  const MgErr err = pending ? KillQXObjAsyncRef(a) : kNoErr;
  if (in && in->valid && DSCheckHandle(in->valid) == kNoErr && DSGetHandleSize(in->valid) >= int32(sizeof(int32))) {
    const int32 done = 0;
    std::memcpy(*in->valid, &done, sizeof done);
  }
  return err;
}

int32 CBRPendingNodes() {
  std::lock_guard<std::mutex> g(gPendingLock);
  return int32(gPending.size());
}
