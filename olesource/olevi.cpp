// The VirtualInstrument automation object, its apartment thread and the
// hand-off of its requests to the user-interface thread.
#include "olesource/olevi.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>
#include <mutex>
#include <new>
#include <vector>

#include "engine/membertab.h"
#include "engine/vi/vihooks.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/wevent.h"
#include "olesource/oledisp.h"
#include "olesource/oleserv.h"
#include "olesource/oletypeinfo.h"
#include "platform/qx_typeinfo.h"
#include "olesource/olevar.h"
#include "olesource/servreq.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"
#include "server/viref.h"

namespace {

OleVirtualInstrument* Self(PlatComDispatch* d) { return reinterpret_cast<OleVirtualInstrument*>(d); }

// ---- Posted requests -------------------------------------------------------------------
// A request a VI thread handed to the user-interface thread lives on the VI
// thread's stack until it is answered or given up.  The list below is what
// the user-interface thread may still take: a posted word that names no
// entry of it (a request given up at the stop, or answered while the
// user-interface thread waited for an apartment) is ignored.
enum : int32 { kPosted, kTaken, kAnswered, kGivenUp };
struct Posted {
  VIServRequest q;
  int32 state;  // under gPostedLock
};
std::mutex gPostedLock;
std::vector<Posted*>& PostedList() {
  static auto* list = new std::vector<Posted*>;
  return *list;
}

// Takes the entry off the list (state kTaken): null when not there.
Posted* Take(Posted* wanted) {
  std::lock_guard<std::mutex> g(gPostedLock);
  std::vector<Posted*>& all = PostedList();
  for (size_t i = 0; i < all.size(); ++i)
    if (!wanted || all[i] == wanted) {
      Posted* p = all[i];
      all.erase(all.begin() + long(i));
      p->state = kTaken;
      return p;
    }
  return nullptr;
}

// Runs a taken request and answers its thread.  The request's event is set
// under the list's lock together with the state, so the VI thread, which
// reads the state under that lock, never leaves before the event is set
// (and never finds its own wake-up stale).
void Answer(Posted* p) {
  PlatEvent* done = p->q.completion;
  p->q.completion = nullptr;
  VIServRequestDispatch(&p->q);
  std::lock_guard<std::mutex> g(gPostedLock);
  p->state = kAnswered;
  PlatEventSet(done);
}

// The object's own members, with the flag that chooses the window
// manager's no-duplicate flag when a request for the id is posted.
bool NoDuplicate(int32 member) {
  const AutoPropInfo* prop = PropInfoLookup(kAutoClassVI, member);
  if (prop && prop->helpId != -1) return (prop->flags & 0x20) != 0;
  const AutoMethodInfo* method = MethodInfoLookup(kAutoClassVI, member);
  if (method && method->helpId != -1) return (method->flags & 0x20) != 0;
  return true;  // ids outside the table
}

// Hands a request to the user-interface thread and waits for its answer:
// the request's result when set, else its status mapped into the object's
// error text.  Called directly when the object has no event or runs on the
// user-interface thread itself.
int32 HandOff(OleVirtualInstrument* vi, int32 member, int32 op, int32 argCount, const uintptr_t* args) {
  std::vector<uintptr_t> block(args, args + argCount);
  Posted p{VIServRequest{op, nullptr, argCount, block.data(), 0, 0}, kPosted};
  if (!vi->completion || PlatThreadCurrentId() == OleServerUIThreadId()) {
    VIServRequestDispatch(&p.q);
  } else {
    p.q.completion = vi->completion;
    {
      std::lock_guard<std::mutex> g(gPostedLock);
      PostedList().push_back(&p);
    }
    const int32 word = int32(uInt32(reinterpret_cast<uintptr_t>(&p)));
    const VIShellHooks& shell = VIShell();
    const int32 posted =
        shell.postUserEvent ? shell.postUserEvent(kWRootWindow, kUEAutomation, word, 0, 0, 0, 0, NoDuplicate(member) ? 1 : 0, 0)
                            : kMemFullErr;
    if (posted == kNoErr && OleServerUIThreadId()) PlatThreadRaiseInput(OleServerUIThreadId());
    for (;;) {
      if (posted != kNoErr) {
        // Not posted: nobody would ever answer it.
        if (Take(&p)) p.q.status = kMemFullErr;
        break;
      }
      PlatEventWait(vi->completion, kPlatWaitForever);
      std::lock_guard<std::mutex> g(gPostedLock);
      if (p.state == kAnswered) break;
      // Woken by the server's stop before the request ran: it never will.
      if (p.state == kPosted && OleServerShuttingDown()) {
        std::vector<Posted*>& all = PostedList();
        for (size_t i = 0; i < all.size(); ++i)
          if (all[i] == &p) all.erase(all.begin() + long(i));
        p.state = kGivenUp;
        p.q.status = kOleErrShuttingDown;
        break;
      }
    }
  }
  if (p.q.result) return p.q.result;
  return OleMapVIServError(p.q.status, nullptr, &vi->errorText);
}

// ---- The object --------------------------------------------------------------------------

bool Answers(const PlatGuid& iid) {
  return PlatGuidEqual(iid, kPlatIidUnknownRecord) || PlatGuidEqual(iid, kPlatIidDispatch) ||
         PlatGuidEqual(iid, OleServerGuid(kOleGuidVITypeInfo)) ||
         PlatGuidEqual(iid, OleServerGuid(kOleGuidVIInterface));
}

PlatHResult Query(PlatComDispatch* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid || !Answers(*iid)) return kPlatNoInterface;
  ++Self(self)->refs;
  *out = self;
  return kPlatOk;
}
uint32_t AddRef(PlatComDispatch* self) {
  DBPrintf("Addref::Instr thread id = %d", int(PlatThreadCurrentId()));
  return uint32_t(++Self(self)->refs);
}
uint32_t Release(PlatComDispatch* self) {
  OleVirtualInstrument* vi = Self(self);
  DBPrintf("Release::Instr thread id = %d", int(PlatThreadCurrentId()));
  if (--vi->refs > 0) return uint32_t(vi->refs);
  if (vi->refs < 0) {
    vi->refs = 0;
    return 0;
  }
  if (!OleServerShuttingDown()) {
    // The reference goes, the thread's loop ends, and the thread deletes
    // the object once its clients are disconnected.
    const uintptr_t args[1] = {uintptr_t(vi->viRef)};
    HandOff(vi, -1, kServReqRelease, 1, args);
    vi->viRef = 0;
    PlatPostQuitMessage(0);
    if (vi->typeInfo) PlatComRelease(vi->typeInfo);
    vi->typeInfo = nullptr;
  }
  return 0;
}

PlatHResult GetTypeInfoCount(PlatComDispatch* self, uint32_t* count) {
  return OleDispTypeInfoCount(Self(self)->typeInfo, count);
}
PlatHResult GetTypeInfo(PlatComDispatch* self, uint32_t index, uint32_t lcid, void** info) {
  return OleDispTypeInfo(Self(self)->typeInfo, index, lcid, info, kPlatPointer);
}
PlatHResult GetIDsOfNames(PlatComDispatch* self, const PlatGuid* iid, uint16_t** names, uint32_t count,
                          uint32_t lcid, int32_t* ids) {
  return OleDispIdsOfNames(Self(self)->typeInfo, iid, names, count, lcid, ids);
}

// Disabled or shutting down: error 1032 in the error fields.
bool ServerRefuses(OleVirtualInstrument* vi) {
  if (OleServerEnabled() && !OleServerShuttingDown()) return false;
  vi->errorCode = OleMapVIServError(kVIRefAccessErr, nullptr, &vi->errorText);
  return true;
}

// A text argument as a string of its own (the caller frees it): 0 or the
// change's failure.
PlatHResult TextArg(PlatVariant* arg, PlatBstr* out) {
  *out = nullptr;
  if (!arg) return kPlatDispParamNotOptional;
  PlatVariant v;
  PlatVariantInit(&v);
  const PlatHResult r = PlatVariantChangeType(&v, arg, 0, kPlatVtBstr);
  if (r != kPlatOk) return r;
  *out = v.bstr;
  if (!*out) *out = PlatBstrAlloc(nullptr, 0);
  return *out ? kPlatOk : kPlatOutOfMemory;
}

// Control values (ids 1013 and 1014): ops 11 and 12.
PlatHResult ControlValue(OleVirtualInstrument* vi, int32 member, PlatDispParams* params, PlatVariant* result) {
  PlatBstr name = nullptr;
  if (PlatHResult r = TextArg(OleDispArg(params, 0), &name); r != kPlatOk) return r;
  PlatVariant* value = result;
  if (member == kOleVISetControlValue) {
    value = OleDispArg(params, 1);
    if (!value) {
      PlatBstrFree(name);
      return kPlatDispParamNotOptional;
    }
  } else if (result) {
    PlatVariantClear(result);
  }
  PlatVariant scratch;
  PlatVariantInit(&scratch);
  const uintptr_t args[4] = {uintptr_t(vi->viRef), uintptr_t(name), uintptr_t(value ? value : &scratch),
                             uintptr_t(&vi->errorText)};
  vi->errorCode = HandOff(vi, member, member == kOleVIGetControlValue ? kServReqGetControl : kServReqSetControl, 4,
                          args);
  PlatVariantClear(&scratch);
  PlatBstrFree(name);
  return kPlatOk;
}

// Run (id 1017): waits for the VI's end unless asked not to.
PlatHResult Run(OleVirtualInstrument* vi, PlatDispParams* params) {
  VIServRunRecord run{nullptr, 1, 0, nullptr};
  PlatVariant* async = OleDispArg(params, 0);
  if (!OleArgMissing(async)) {
    PlatVariant b;
    PlatVariantInit(&b);
    if (PlatHResult r = PlatVariantChangeType(&b, async, 0, kPlatVtBool); r != kPlatOk) return r;
    run.wait = b.boolVal == 0 ? 1 : 0;
  }
  if (run.wait && !(run.done = PlatEventCreate(false))) return kPlatOutOfMemory;
  const uintptr_t args[2] = {uintptr_t(vi->viRef), uintptr_t(&run)};
  const int32 r = HandOff(vi, kOleVIRun, kServReqRun, 2, args);
  if (r == kPlatOk && run.wait) PlatEventWait(run.done, kPlatWaitForever);
  PlatEventDestroy(run.done);
  vi->errorCode = run.status ? run.status : r;
  if (run.errorText) {
    PlatBstrFree(vi->errorText);
    vi->errorText = run.errorText;
  }
  return kPlatOk;
}

// The array a names or values argument holds (by reference or not), with
// its type word without the reference bit.
PlatSafeArray* ArrayOf(const PlatVariant* v, uInt16* vt) {
  *vt = v->vt & ~kPlatVtByRef;
  if (!(*vt & kPlatVtArray)) return nullptr;
  if (v->vt & kPlatVtByRef) return v->byRef ? *static_cast<PlatSafeArray**>(v->byRef) : nullptr;
  return v->array;
}
int32 Elements(const PlatSafeArray* a) {
  int32 lower = 0, upper = -1;
  PlatSafeArrayGetBounds(a, 1, &lower, &upper);
  return upper >= lower ? upper - lower + 1 : 0;
}

// One reservation property read or written through a request.
int32 Reservation(OleVirtualInstrument* vi, int32 op, int32* mode) {
  Str255 text;
  text[0] = 0;
  const uintptr_t args[4] = {uintptr_t(vi->viRef), uintptr_t(kVIRefReservationProp), uintptr_t(mode),
                             uintptr_t(text)};
  const int32 r = HandOff(vi, kOleVICall, op, 4, args);
  // The property's own text, when it gave one, replaces the mapped one.
  if (r > 0 && text[0]) OleMapVIServError(r, text, &vi->errorText);
  return r;
}

// Call (id 1015): the VI called with named parameters, the outputs written
// back into the values.
PlatHResult Call(OleVirtualInstrument* vi, PlatDispParams* params) {
  PlatVariant* names = OleDispArg(params, 0);
  PlatVariant* values = OleDispArg(params, 1);
  VIServCallRecord call{};
  if (OleArgMissing(names)) {
    if (!OleArgMissing(values)) {
      vi->errorCode = OleMapVIServError(kOleErrNoNames, nullptr, &vi->errorText);
      return kPlatOk;
    }
  } else {
    uInt16 namesVt = 0, valuesVt = 0;
    PlatSafeArray* n = ArrayOf(names, &namesVt);
    PlatSafeArray* v = values ? ArrayOf(values, &valuesVt) : nullptr;
    int32 code = 0;
    if (!n || (namesVt != (kPlatVtArray | kPlatVtBstr) && namesVt != (kPlatVtArray | kPlatVtVariant)) ||
        n->dims != 1)
      code = kOleErrNamesType;
    else if (!v || valuesVt != (kPlatVtArray | kPlatVtVariant) || v->dims != 1)
      code = kOleErrValuesType;
    else if (Elements(n) != Elements(v))
      code = kOleErrCountMismatch;
    if (code) {
      vi->errorCode = OleMapVIServError(code, nullptr, &vi->errorText);
      return kPlatOk;
    }
    call.namesVt = uInt16(namesVt & ~kPlatVtArray);
    call.names = n;
    call.values = v;
  }
  // The call needs the reference reserved for running (mode 2); the mode
  // it had comes back afterwards.
  int32 mode = 0;
  int32 r = Reservation(vi, kServReqVIGet, &mode);
  const bool restore = r == kPlatOk && mode != 2;
  if (restore) {
    int32 two = 2;
    r = Reservation(vi, kServReqVISet, &two);
  }
  if (r == kPlatOk) {
    call.done = PlatEventCreate(false);
    if (!call.done) r = kPlatOutOfMemory;
  }
  if (r == kPlatOk) {
    const uintptr_t args[2] = {uintptr_t(vi->viRef), uintptr_t(&call)};
    r = HandOff(vi, kOleVICall, kServReqCall, 2, args);
    if (r == kPlatOk) PlatEventWait(call.done, kPlatWaitForever);
    // The record is packed: its fields are read whole.
    const int32 status = call.status;
    PlatBstr text = call.errorText;
    if (status) r = status;
    if (text) {
      PlatBstrFree(vi->errorText);
      vi->errorText = text;
    }
  }
  PlatEventDestroy(call.done);
  if (restore) {
    const int32 back = Reservation(vi, kServReqVISet, &mode);
    if (r == kPlatOk) r = back;
  }
  vi->errorCode = r;
  return kPlatOk;
}

bool OwnMember(int32 member) {
  return member == kOleVIGetControlValue || member == kOleVISetControlValue || member == kOleVICall ||
         member == kOleVIRun;
}

PlatHResult OwnInvoke(OleVirtualInstrument* vi, int32 member, PlatDispParams* params, PlatVariant* result) {
  if (ServerRefuses(vi)) return kPlatOk;
  switch (member) {
    case kOleVIGetControlValue:
    case kOleVISetControlValue: return ControlValue(vi, member, params, result);
    case kOleVICall: return Call(vi, params);
    default: return Run(vi, params);
  }
}

PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid* iid, uint32_t lcid, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception, uint32_t* argError) {
  OleVirtualInstrument* vi = Self(self);
  DBPrintf("Instr thread id = %d", int(PlatThreadCurrentId()));
  if ((iid && !PlatGuidEqual(*iid, kPlatGuidNull)) || OleServerShuttingDown()) return kPlatDispUnknownInterface;
  if (!OleLanguageAccepted(lcid)) return kPlatDispUnknownLcid;
  vi->errorCode = 0;
  PlatBstrFree(vi->errorText);
  vi->errorText = nullptr;
  PlatHResult r;
  if (OwnMember(member)) {
    r = vi->typeInfo ? PlatTypeInfoInvoke(vi->typeInfo, vi, member, flags & 0xFFFF, params, result, exception, argError)
                     : OwnInvoke(vi, member, params, result);
  } else {
    const uintptr_t args[7] = {uintptr_t(kAutoClassVI),    uintptr_t(vi->viRef),  uintptr_t(uint32_t(member)),
                               uintptr_t(flags),           uintptr_t(params),     uintptr_t(result),
                               uintptr_t(&vi->errorText)};
    const int32 outcome = HandOff(vi, member, kServReqInvoke, 7, args);
    // A negative outcome is the call's own failure; a positive one the
    // server's, reported as an exception.
    r = outcome < 0 ? outcome : kPlatOk;
    vi->errorCode = outcome;
  }
  if (r == kPlatOk && (vi->errorCode || vi->errorText)) {
    const PlatHResult reported = exception ? OleReportException(vi->errorCode, vi->errorText, exception) : kPlatOk;
    r = reported == kPlatOutOfMemory ? reported : kPlatDispException;
  }
  PlatBstrFree(vi->errorText);
  vi->errorText = nullptr;
  return r;
}

// ---- Member slots -------------------------------------------------------------------
// The interface's members in the type information's order follow the
// dispatch slots; the object serves its four own ones, which the type
// information's invoke reaches with their arguments in declaration order.
// The others are never reached that way: their ids go to the dispatcher.
constexpr size_t kGetControlSlot = 108, kSetControlSlot = 109, kCallSlot = 110, kRunSlot = 112;

template <int32 Member>
PlatHResult OwnSlot(void* object, PlatVariant* args, uint32_t count, PlatVariant* result) {
  // The arguments as a call's positional ones (the last first).
  std::vector<PlatVariant> store(args, args + count);
  std::reverse(store.begin(), store.end());
  PlatDispParams dp{store.data(), nullptr, count, 0};
  return OwnInvoke(static_cast<OleVirtualInstrument*>(object), Member, &dp, result);
}
template <size_t I>
PlatHResult NotBuilt(void*, PlatVariant*, uint32_t, PlatVariant*) {
  DBAssert(__FILE__, __LINE__, "VirtualInstrument: a member the object does not serve was called");
  return 0;
}
template <size_t... I>
constexpr std::array<PlatMemberSlot, sizeof...(I)> NotBuilts(std::index_sequence<I...>) {
  return {&NotBuilt<I>...};
}
constexpr std::array<PlatMemberSlot, kOleVIMemberCount> MemberSlots() {
  auto a = NotBuilts(std::make_index_sequence<kOleVIMemberCount>());
  a[kGetControlSlot] = &OwnSlot<kOleVIGetControlValue>;
  a[kSetControlSlot] = &OwnSlot<kOleVISetControlValue>;
  a[kCallSlot] = &OwnSlot<kOleVICall>;
  a[kRunSlot] = &OwnSlot<kOleVIRun>;
  return a;
}
struct SlotTable {
  PlatComDispatchSlots dispatch;
  std::array<PlatMemberSlot, kOleVIMemberCount> members;
};
static_assert(offsetof(SlotTable, members) == sizeof(PlatComDispatchSlots), "members follow the seven slots");
constexpr SlotTable kSlotTable{
    {&Query, &AddRef, &Release, &GetTypeInfoCount, &GetTypeInfo, &GetIDsOfNames, &Invoke}, MemberSlots()};

// ---- The thread ----------------------------------------------------------------------------
// What the creator hands its VI thread: read by the thread until it signals
// the start event, written by the creator before it lets the thread go.
struct StartRecord {
  VIRef viRef;
  PlatHResult status;
  PlatEvent* start;
  PlatComStream* stream;
  PlatThread* thread;
  void* dispatch;
  PlatEvent* completion;
  // The thread is made running and waits here until the creator lets it
  // go; told to quit instead, it ends at once.
  PlatEvent* resume;
  bool quit;
};

void DeleteObject(OleVirtualInstrument* vi) {
  if (vi->typeInfo) PlatComRelease(vi->typeInfo);
  PlatEventDestroy(vi->completion);
  PlatBstrFree(vi->errorText);
  delete vi;
}

// Takes this thread's record off the VI thread list: true when it was
// there (the stop takes records it waits for itself).
bool DropRecord(PlatThread* thread) {
  OleObjectList* list = OleVIThreadList();
  if (!list) return false;
  list->Lock();
  OleVIThreadRec* rec = nullptr;
  for (int32 i = list->Count() - 1; i >= 0 && !rec; --i) {
    auto* r = static_cast<OleVIThreadRec*>(list->At(i));
    if (r && r->thread == thread) rec = static_cast<OleVIThreadRec*>(list->DeleteAt(i));
  }
  list->Unlock();
  delete rec;
  return rec != nullptr;
}

int32_t ThreadProc(void* context) {
  auto* start = static_cast<StartRecord*>(context);
  if (!start) return kPlatPointer;
  PlatEventWait(start->resume, kPlatWaitForever);
  if (start->quit) return 0;
  PlatComInit(false);
  PlatThread* const thread = start->thread;
  auto* vi = new (std::nothrow) OleVirtualInstrument{{&kSlotTable.dispatch}, 0, nullptr, nullptr, start->viRef, 0, nullptr};
  PlatHResult r = vi ? kPlatOk : kPlatOutOfMemory;
  if (r == kPlatOk) r = OleLoadTypeInfo(OleServerGuid(kOleGuidVITypeInfo), kOleTypeInfoLcid, &vi->typeInfo);
  // Its members are the object's slots: a file of another count would reach
  // past them.
  if (r == kPlatOk && PlatTypeInfoMemberCount(vi->typeInfo) != kOleVIMemberCount) r = kPlatTypeLibLoadFailed;
  if (r == kPlatOk && !(vi->completion = PlatEventCreate(false))) r = kPlatOutOfMemory;
  void* dispatch = nullptr;
  if (r == kPlatOk) r = Query(&vi->face, &kPlatIidDispatch, &dispatch);
  if (r == kPlatOk) {
    start->completion = vi->completion;
    PlatComStreamRewind(start->stream);
    r = PlatComMarshalInterface(start->stream, kPlatIidUnknownRecord, static_cast<PlatComUnknown*>(dispatch));
    // The stream's entry holds the object now (or nothing does).
    --vi->refs;
  }
  start->status = r;
  PlatEventSet(start->start);  // the record is the creator's again from here
  if (r != kPlatOk) {
    // Nothing was handed out: the creator ends this thread's handle.
    if (vi) DeleteObject(vi);
    PlatComUninit();
    return r;
  }
  PlatMsg m;
  while (PlatGetMessage(&m, 0, 0, 0)) {
    PlatTranslateMessage(&m);
    PlatDispatchMessage(&m);
  }
  PlatComDisconnectObject(PlatAsUnknown(&vi->face));
  PlatComUninit();
  const bool own = DropRecord(thread);
  DeleteObject(vi);
  if (own) PlatThreadClose(thread);
  return 0;
}

}  // namespace

// ---- Creation -----------------------------------------------------------------------------

int32 OleVICreate(ConstPStr name, Path path, ConstPStr password, PlatBstr* errorText, PlatComDispatch** out) {
  if (!out) return int32(0x80070006u);
  *out = nullptr;
  StartRecord start{};
  start.resume = PlatEventCreate(false);
  if (!start.resume) return kPlatOutOfMemory;
  uint32_t threadId = 0;
  if (int err = PlatThreadCreate(&ThreadProc, &start, &start.thread, &threadId)) {
    PlatEventDestroy(start.resume);
    return err > 0 ? int32(0x80070000u | uint32_t(err)) : kPlatFail;
  }
  int32 r = PlatComStreamCreate(&start.stream);
  if (r == kPlatOk && !(start.start = PlatEventCreate(false))) r = kPlatOutOfMemory;
  // The VI: by name in the local application, else by path.
  VIRef ref = 0;
  if (r == kPlatOk) {
    Str255 text;
    text[0] = 0;
    uintptr_t byName[5] = {uintptr_t(kLocalAppRef), uintptr_t(name), uintptr_t(password), uintptr_t(&ref),
                           uintptr_t(text)};
    VIServRequest q{kServReqOpenByName, nullptr, 5, byName, 0, 0};
    VIServRequestDispatch(&q);
    if (q.status && path) {
      text[0] = 0;
      ref = 0;
      uintptr_t byPath[5] = {uintptr_t(kLocalAppRef), uintptr_t(path), uintptr_t(password), uintptr_t(&ref),
                             uintptr_t(text)};
      q = VIServRequest{kServReqOpenByPath, nullptr, 5, byPath, 0, 0};
      VIServRequestDispatch(&q);
    }
    if (q.status) {
      PlatBstr scratch = nullptr;
      r = OleMapVIServError(q.status, text, errorText ? errorText : &scratch);
      PlatBstrFree(scratch);
      ref = 0;
    }
  }
  bool started = false;
  void* unknown = nullptr;
  if (r == kPlatOk) {
    start.viRef = ref;
    start.status = kPlatFail;
    PlatEventSet(start.resume);
    started = true;
    PlatEventWait(start.start, kPlatWaitForever);
    r = start.status;
  }
  if (r == kPlatOk) {
    PlatComStreamRewind(start.stream);
    r = PlatComUnmarshalInterface(start.stream, kPlatIidUnknownRecord, &unknown);
    if (r == kPlatOk) {
      void* iface = nullptr;
      r = PlatComQuery(unknown, OleServerGuid(kOleGuidVIInterface), &iface);
      *out = static_cast<PlatComDispatch*>(iface);
      PlatComRelease(unknown);
    }
  }
  if (r == kPlatOk) {
    auto* rec = new (std::nothrow) OleVIThreadRec{start.thread, threadId, start.completion};
    OleObjectList* list = OleVIThreadList();
    if (!rec || !list || list->Insert(rec, OleObjectList::kAppend) != kNoErr) {
      delete rec;
      r = list ? kPlatOutOfMemory : kPlatClassNotAvailable;
    }
  }
  if (r != kPlatOk) {
    // The interface's last release gives the VI reference back on the
    // thread; without one the reference goes here.  The thread is told to
    // end and its end awaited: it may hold its apartment and locks.
    if (*out) {
      PlatComRelease(*out);
      *out = nullptr;
    } else if (ref) {
      uintptr_t args[1] = {uintptr_t(ref)};
      VIServRequest q{kServReqRelease, nullptr, 1, args, 0, 0};
      VIServRequestDispatch(&q);
    }
    if (!started) {
      start.quit = true;
      PlatEventSet(start.resume);
    } else if (start.status == kPlatOk) {
      PlatPostThreadMessage(threadId, kPlatMsgQuit, 0, 0);
    }
    // A thread whose object was handed out drops its own handle: without a
    // record this one stays the creator's to wait for.
    PlatThreadWaitEnd(start.thread, kPlatWaitForever);
    PlatThreadClose(start.thread);
  }
  if (start.start) PlatEventDestroy(start.start);
  PlatEventDestroy(start.resume);
  PlatComStreamRelease(start.stream);
  return r;
}

// ---- Posted requests on the user-interface thread --------------------------------------------

void OleRunPostedRequest(int32 word) {
  if (Posted* p = Take(reinterpret_cast<Posted*>(uintptr_t(uInt32(word))))) Answer(p);
}

void OleServePostedRequests() {
  if (!OleServerUIThreadId() || PlatThreadCurrentId() != OleServerUIThreadId()) return;
  while (Posted* p = Take(nullptr)) Answer(p);
}

int32 OlePostedRequestCount() {
  std::lock_guard<std::mutex> g(gPostedLock);
  return int32(PostedList().size());
}
