// The automation request dispatcher and the mapping of VI-server errors to
// automation codes and texts.
#include "olesource/servreq.h"

#include <cstring>
#include <new>
#include <type_traits>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/membertab.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/debug.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "olesource/oleserv.h"
#include "olesource/olevar.h"
#include "olesource/oleautomgr.h"
#include "server/appserve.h"
#include "server/protocol.h"
#include "server/embobj.h"
#include "server/viref.h"

namespace {

// Automation clients are gated by the server's own switch, not by the
// access lists of remote VI-server clients.
constexpr int32 kOptions = kVIRefOptTrusted;
constexpr int32 kArgCounts[kServReqOpCount] = {4, 4, 1, 5, 5, 4, 4, 2, 2, 2, 7, 4, 4};
enum : int32 { kRunVIMethod = 1003, kGetVariantMethod = 1013, kSetVariantMethod = 1014 };
constexpr int32 kMgErrTextsList = 10001, kAppErrTextsList = 10002;

template <typename T>
T Arg(const VIServRequest* q, int32 i) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(q->args[i]);
  else return T(q->args[i]);
}

bool ListText(int32 list, int32 item, std::string* out) { return OleListText(list, item, out); }

// ---- Typed data for one value -----------------------------------------------------------
// Storage for a datum of a type, empty once made, disposed at the end.
class Value {
 public:
  Value() = default;
  ~Value() {
    if (live_) DisposeData(td_, data(), static_cast<uChar*>(data()) + DataSize(td_));
  }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  // An empty value of the type: 0, or the data manager's error.
  MgErr Make(const TypeDescriptor* td) {
    td_ = td;
    bytes_.assign(size_t(DataSize(td) + 7) / 8 + 1, 0.0);
    const MgErr err = InitEmptyData(td, data());
    live_ = err == kNoErr;
    return err;
  }
  void* data() { return bytes_.data(); }
  const TypeDescriptor* td() const { return td_; }

 private:
  const TypeDescriptor* td_ = nullptr;
  std::vector<double> bytes_;
  bool live_ = false;
};

bool IsVoid(const TypeDescriptor* td) { return !td || DataSize(td) == 0; }

// The variant an argument stands for: a variant by reference is followed.
// Null (with E_INVALIDARG) for a reference to nothing.
const PlatVariant* Deref(const PlatVariant* v) {
  if (v->vt == (kPlatVtByRef | kPlatVtVariant)) return static_cast<const PlatVariant*>(v->byRef);
  if ((v->vt & kPlatVtByRef) && !v->byRef) return nullptr;
  return v;
}

// An argument into typed data: 0 or an HRESULT.  A missing argument
// (empty, or an error value) leaves the data empty.
int32 IntoData(const PlatVariant* arg, Value* value) {
  const PlatVariant* v = Deref(arg);
  if (!v) return kPlatInvalidArg;
  if (v->vt == kPlatVtEmpty || v->vt == kPlatVtError) return kPlatOk;
  return OleVariantToData(v, value->data(), value->td());
}

// Typed data back into an argument: into the variant a by-reference
// variant names, into the storage of another by-reference value (its old
// value freed), or in place of the variant's own value.
int32 FromData(Value* value, PlatVariant* arg) {
  if (arg->vt == (kPlatVtByRef | kPlatVtVariant)) {
    auto* inner = static_cast<PlatVariant*>(arg->byRef);
    return inner ? OleDataToVariant(value->data(), value->td(), 0, inner) : kPlatInvalidArg;
  }
  if (!(arg->vt & kPlatVtByRef)) return OleDataToVariant(value->data(), value->td(), 0, arg);
  const uInt16 base = arg->vt & ~kPlatVtByRef;
  const int32 size = OleByRefSize(base);
  if (!arg->byRef || size == 0) return kPlatInvalidArg;
  PlatVariant fresh;
  PlatVariantInit(&fresh);
  if (int32 r = OleDataToVariant(value->data(), value->td(), base, &fresh); r != kPlatOk) return r;
  PlatVariant old;
  PlatVariantInit(&old);
  old.vt = base;
  std::memcpy(&old.i8, arg->byRef, size_t(size));
  PlatVariantClear(&old);
  std::memcpy(arg->byRef, &fresh.i8, size_t(size));
  return kPlatOk;
}

// The error and its text as an automation result.
int32 Mapped(MgErr err, ConstPStr text, PlatBstr* slot) { return OleMapVIServError(err, text, slot); }

// ---- Op 10: invoke by dispatch id ---------------------------------------------------------
enum class Member { kNone, kProperty, kMethod };

Member Classify(int32 cls, int32 id) {
  if (cls == kAutoClassApp) {
    if (id >= 0 && id <= 45) return Member::kProperty;
    if (id >= 2000 && id <= 2018) return Member::kMethod;
  } else if (cls == kAutoClassVI) {
    if (id >= 500 && id <= 568) return Member::kProperty;
    if (id >= 1000 && id <= 1022) return Member::kMethod;
  }
  return Member::kNone;
}

int32 Property(int32 cls, uInt32 ref, int32 id, uInt16 flags, const PlatDispParams* dp, PlatVariant* result,
               PlatBstr* slot) {
  const AutoPropInfo* info = PropInfoLookup(cls, id);
  const TypeDescriptor* td = PropInfoTypeDesc(cls, id);
  if (!info || info->helpId == -1 || !td) return Mapped(kOleErrUnknownProperty, nullptr, slot);
  const bool get = (flags & kPlatDispatchPropertyGet) != 0;
  // A put needs its value, and nothing is written without one.
  if (!get && (!dp || dp->count < 1 || !dp->args)) return Mapped(kOleErrParamCount, nullptr, slot);
  Value value;
  if (MgErr err = value.Make(td)) return Mapped(err, nullptr, slot);
  Str255 text;
  text[0] = 0;
  MgErr err;
  if (get) {
    err = cls == kAutoClassApp ? AppGetAttribute(kLocalAppRef, id, value.data(), kOptions, text, nullptr, nullptr)
                               : VIRefGetAttributes(VIRef(ref), id, value.data(), kOptions, text, nullptr, nullptr);
    if (err) return Mapped(err, text, slot);
    return result ? OleDataToVariant(value.data(), td, OleNaturalVarType(td) == kPlatVtError ? 0 : OleNaturalVarType(td),
                                     result)
                  : kPlatOk;
  }
  if (int32 r = IntoData(&dp->args[0], &value); r != kPlatOk) return r;
  err = cls == kAutoClassApp ? AppSetAttribute(kLocalAppRef, id, value.data(), kOptions, text, nullptr, nullptr)
                             : VIRefSetAttributes(VIRef(ref), id, value.data(), kOptions, text, nullptr, nullptr);
  return err ? Mapped(err, text, slot) : kPlatOk;
}

// A method that completes later runs on unheard.
void Unheard(AsyncRef) {}

int32 Method(int32 cls, uInt32 ref, int32 id, const PlatDispParams* dp, PlatVariant* result, PlatBstr* slot) {
  const AutoMethodInfo* info = MethodInfoLookup(cls, id);
  if (!info || info->helpId == -1) return Mapped(kOleErrUnknownMethod, nullptr, slot);
  const int32 n = info->paramCount;
  const uInt32 count = dp ? dp->count : 0, named = dp ? dp->namedCount : 0;
  // Counts and named ids come from the client: every one is checked before
  // a slot is written.
  if (int64_t(count) + 1 > n || named > count || (count && !dp->args) || (named && !dp->namedIds))
    return Mapped(kOleErrParamCount, nullptr, slot);
  std::vector<bool> filled(size_t(n), false);
  for (uInt32 i = 0; i < named; ++i) {
    const int64_t s = int64_t(dp->namedIds[i]) + 1;
    if (s < 1 || s >= n || filled[size_t(s)]) return Mapped(kOleErrParamCount, nullptr, slot);
    filled[size_t(s)] = true;
  }
  std::vector<Value> values(static_cast<size_t>(n));
  std::vector<AttrEntry> slots(size_t(n), AttrEntry{0, 0, nullptr});
  std::vector<const TypeDescriptor*> types(static_cast<size_t>(n));
  for (int32 i = 0; i < n; ++i) {
    types[size_t(i)] = MethodParamTypeDesc(cls, id, i);
    if (IsVoid(types[size_t(i)])) continue;
    if (MgErr err = values[size_t(i)].Make(types[size_t(i)])) return Mapped(err, nullptr, slot);
    slots[size_t(i)].value = values[size_t(i)].data();
  }
  auto input = [&](int32 s) { return slots[size_t(s)].value && (info->params[s].direction & kAutoParamIn); };
  // The return slot pairs with the first argument, which it takes only
  // when the return value is an input as well.
  if (count && input(0))
    if (int32 r = IntoData(&dp->args[0], &values[0]); r != kPlatOk) return r;
  // Named arguments first, then the positional ones, last first, into the
  // slots not taken.
  struct Pair {
    int32 slot;
    PlatVariant* arg;
  };
  std::vector<Pair> pairs;
  for (uInt32 i = 0; i < named; ++i) pairs.push_back({dp->namedIds[i] + 1, &dp->args[i]});
  int32 next = 1;
  for (uInt32 j = count; j > named; --j) {
    while (next < n && filled[size_t(next)]) ++next;
    if (next >= n) return Mapped(kOleErrParamCount, nullptr, slot);
    filled[size_t(next)] = true;
    pairs.push_back({next++, &dp->args[j - 1]});
  }
  for (const Pair& p : pairs)
    if (input(p.slot))
      if (int32 r = IntoData(p.arg, &values[size_t(p.slot)]); r != kPlatOk) return r;
  Str255 text;
  text[0] = 0;
  AsyncRef async = nullptr;
  MgErr err = cls == kAutoClassApp
                  ? AppDoMethod(kLocalAppRef, id, n, slots.data(), kOptions, text, &Unheard, &async)
                  : VIRefDoMethod(VIRef(ref), id, n, slots.data(), kOptions, text, &Unheard, &async);
  if (err == kVIRefPendingErr) err = kNoErr;
  if (err) return Mapped(err, text, slot);
  if (result && slots[0].value)
    if (int32 r = OleDataToVariant(values[0].data(), types[0], 0, result); r != kPlatOk) return r;
  for (const Pair& p : pairs)
    if (slots[size_t(p.slot)].value && (info->params[p.slot].direction & kAutoParamOut))
      if (int32 r = FromData(&values[size_t(p.slot)], p.arg); r != kPlatOk) return r;
  return kPlatOk;
}

int32 Invoke(const VIServRequest* q) {
  const int32 cls = Arg<int32>(q, 0), id = Arg<int32>(q, 2);
  const uInt32 ref = Arg<uInt32>(q, 1);
  const uInt16 flags = uInt16(Arg<uInt32>(q, 3));
  auto* dp = Arg<PlatDispParams*>(q, 4);
  auto* result = Arg<PlatVariant*>(q, 5);
  auto* slot = Arg<PlatBstr*>(q, 6);
  switch (Classify(cls, id)) {
    case Member::kProperty: return Property(cls, ref, id, flags, dp, result, slot);
    case Member::kMethod: return Method(cls, ref, id, dp, result, slot);
    default: return Mapped(kOleErrUnknownMethod, nullptr, slot);
  }
}

// ---- Ops 11 and 12: control values as variants ----------------------------------------------
int32 ControlValue(const VIServRequest* q, int32 method) {
  const VIRef ref = Arg<VIRef>(q, 0);
  const auto* name = Arg<const uInt16*>(q, 1);
  auto* variant = Arg<PlatVariant*>(q, 2);
  auto* slot = Arg<PlatBstr*>(q, 3);
  LStrHandle label = nullptr;
  if (MgErr err = OleTextFromBstr(name, int32(PlatBstrLength(name)), kOleTextLStr, &label, 0)) return Mapped(err, nullptr, slot);
  if (variant && !Deref(variant)) {
    if (label) DSDisposeHandle(reinterpret_cast<UHandle>(label));
    return kPlatInvalidArg;
  }
  int32 status = 0;
  AttrEntry params[3] = {{0, 0, &status}, {0, 0, &label}, {0, 0, variant}};
  Str255 text;
  text[0] = 0;
  MgErr err = VIRefDoMethod(ref, method, 3, params, kOptions, text, nullptr, nullptr);
  if (label) DSDisposeHandle(reinterpret_cast<UHandle>(label));
  // A control the panel lacks is a parameter not found.
  if (err == kArgErr) err = kOleErrParamNotFound;
  return err ? Mapped(err, text, slot) : kPlatOk;
}

// ---- Op 8: run ------------------------------------------------------------------------------
// Runs and calls whose waiters wait for their end.
struct Waiter {
  AsyncRef async;
  VIServRunRecord* run;
  VIServCallRecord* call;
  std::vector<Cookie> refnums;  // calls: the refnums made of objects
};
std::vector<Waiter>& Waiters() {
  static auto* w = new std::vector<Waiter>;
  return *w;
}

// Releases a waiter: the status is the mapped error, but for a reset or
// kill (1039) and the server's stop (5015), which keep their own codes; the
// text is the error's.
int32 Release(PlatEvent* done, int32* status, PlatBstr* slot, MgErr err, ConstPStr text) {
  const int32 mapped = OleMapVIServError(err, text, slot);
  *status = err == kVIRefAbortedErr ? err : mapped;
  if (done) PlatEventSet(done);
  return *status;
}
int32 ReleaseRun(VIServRunRecord* run, MgErr err, ConstPStr text) {
  return Release(run->done, &run->status, &run->errorText, err, text);
}

Waiter TakeWaiter(AsyncRef a) {
  std::vector<Waiter>& all = Waiters();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].async == a) {
      const Waiter w = all[i];
      all.erase(all.begin() + long(i));
      return w;
    }
  return Waiter{nullptr, nullptr, nullptr, {}};
}

void RunDone(AsyncRef a) {
  const Waiter w = TakeWaiter(a);
  if (w.run) ReleaseRun(w.run, a->error, a->errorText);
}

int32 Run(const VIServRequest* q) {
  const VIRef ref = Arg<VIRef>(q, 0);
  auto* run = Arg<VIServRunRecord*>(q, 1);
  if (!run) return Mapped(kArgErr, nullptr, nullptr);
  uChar wait = run->wait ? 1 : 0;
  AttrEntry params[2] = {{0, 0, nullptr}, {0, 0, &wait}};
  Str255 text;
  text[0] = 0;
  AsyncRef async = nullptr;
  const MgErr err = VIRefDoMethod(ref, kRunVIMethod, 2, params, kOptions, text, &RunDone, &async);
  if (err == kVIRefPendingErr && async && run->wait) {
    Waiters().push_back(Waiter{async, run, nullptr, {}});
    return kPlatOk;
  }
  if (err == kNoErr || err == kVIRefPendingErr) {
    // Started, and nobody waits for its end (or it has ended already).
    if (async) async->completion = nullptr;
    if (run->wait) ReleaseRun(run, kNoErr, nullptr);
    return kPlatOk;
  }
  return ReleaseRun(run, err, text);
}

// ---- Op 7 and op 9: calls with named parameters --------------------------------------------
// The connector pane: its terminal count (-1 for a descriptor that is
// none), each terminal's flags and descriptor.
int32 PaneTerminals(const TypeDescriptor* pane) {
  if (!pane || pane->code != kTDFunction || pane->size < 8) return -1;
  int16 n = 0;
  std::memcpy(&n, reinterpret_cast<const uChar*>(pane) + 4, 2);
  return n >= 0 && pane->size >= 8 + 2 * n ? n : -1;
}
uInt16 TermFlags(const TypeDescriptor* pane, int32 i) {
  uInt16 f = 0;
  std::memcpy(&f, reinterpret_cast<const uChar*>(pane) + 8 + 2 * i, 2);
  return f;
}
constexpr uInt16 kTermOutput = 0x100, kTermRequired = 0x1000;

// A text of list 18300 with "%p" standing for the name, as a counted string.
void FormatItem(int32 item, ConstPStr name, PStr out) {
  std::string format;
  out[0] = 0;
  if (!ListText(kOleServerTextsList, item, &format)) return;
  PPrintf(out, format.c_str(), name, name);
}

int32 CallInfo(const VIServRequest* q) {
  auto* info = Arg<VIServCallInfo*>(q, 1);
  if (!info) return kArgErr;
  return VIRefGetCallInfo(Arg<VIRef>(q, 0), info->slots, info->count);
}

// The call's end, on every path: the parameter table freed, the waiter
// released with the status and its text.
int32 ReleaseCall(VIServCallRecord* call, MgErr err, ConstPStr text) {
  delete[] call->params;
  call->params = nullptr;
  call->paramCount = 0;
  // The record is packed: its fields are read and written whole.
  PlatBstr slot = call->errorText;
  int32 status = 0;
  Release(nullptr, &status, &slot, err, text);
  call->errorText = slot;
  call->status = status;
  if (call->done) PlatEventSet(call->done);
  return status;
}

// A name of the names array as a counted string: 5001 for an element that
// is no string.
int32 NameAt(const VIServCallRecord* call, int32 index, PStr name) {
  PlatVariant v;
  PlatVariantInit(&v);
  const uInt16 vt = call->names->vt;
  int32 r = kPlatOk;
  if (vt == kPlatVtBstr) {
    r = PlatSafeArrayGetElement(call->names, &index, &v.bstr);
    if (r == kPlatOk) v.vt = kPlatVtBstr;
  } else if (vt == kPlatVtVariant) {
    r = PlatSafeArrayGetElement(call->names, &index, &v);
  } else {
    r = kOleErrNamesType;
  }
  if (r == kPlatOk && v.vt != kPlatVtBstr) r = kOleErrNamesType;
  if (r == kPlatOk) OleTextFromBstr(v.bstr, int32(PlatBstrLength(v.bstr)), kOleTextPStr, name, 255);
  PlatVariantClear(&v);
  return r;
}

// The elements of a one-dimensional array, lower bound first.
bool Bounds(const PlatSafeArray* a, int32* lower, int32* count) {
  int32 upper = 0;
  if (!a || a->dims != 1 || PlatSafeArrayGetBounds(a, 1, lower, &upper) != kPlatOk) return false;
  *count = upper >= *lower ? upper - *lower + 1 : 0;
  return true;
}

void CallDone(AsyncRef a) {
  const Waiter w = TakeWaiter(a);
  VIServCallRecord* call = w.call;
  if (!call) return;
  for (Cookie c : w.refnums) AutoRefRelease(c);
  if (a->callState == kVIRefDoneReset) {
    ReleaseCall(call, kVIRefAbortedErr, nullptr);
    return;
  }
  if (a->callState != kVIRefDoneSuccessful) {
    Str255 text;
    FormatItem(kOleErrTerminated - 5000, nullptr, text);
    ReleaseCall(call, kOleErrTerminated, text);
    return;
  }
  const TypeDescriptor* pane = nullptr;
  VIRefGetAttributes(a->ref, kVIRefConnPaneProp, &pane, kOptions, nullptr, nullptr, nullptr);
  const auto* slots = reinterpret_cast<const CallTermSlot*>(a->terminals);
  const int32 terminals = int32(a->param[2]);
  int32 lower = 0, count = 0;
  Bounds(call->values, &lower, &count);
  int32 r = kPlatOk;
  for (int32 k = 0; k < call->paramCount && r == kPlatOk; ++k) {
    const VIServCallParam& p = call->params[k];
    if (!p.output || !pane || p.terminal >= terminals || p.terminal >= PaneTerminals(pane) || !slots ||
        !slots[p.terminal].value || k >= count)
      continue;
    const TypeDescriptor* td = ElemTD(pane, p.terminal);
    PlatVariant v;
    PlatVariantInit(&v);
    r = OleDataToVariant(slots[p.terminal].value, td, 0, &v);
    int32 index = lower + k;
    if (r == kPlatOk) r = PlatSafeArrayPutElement(call->values, &index, &v);
    PlatVariantClear(&v);
  }
  ReleaseCall(call, r, nullptr);
}

int32 Call(const VIServRequest* q) {
  const VIRef ref = Arg<VIRef>(q, 0);
  auto* call = Arg<VIServCallRecord*>(q, 1);
  if (!call) return kArgErr;
  call->params = nullptr;
  call->paramCount = 0;
  Str255 text;
  text[0] = 0;
  const TypeDescriptor* pane = nullptr;
  if (MgErr err = VIRefGetAttributes(ref, kVIRefConnPaneProp, &pane, kOptions, text, nullptr, nullptr))
    return ReleaseCall(call, err, text);
  const int32 terminals = PaneTerminals(pane);
  if (terminals < 0) return ReleaseCall(call, kArgErr, nullptr);
  int32 lower = 0, count = 0;
  const bool withNames = call->names != nullptr;
  if (withNames && !Bounds(call->names, &lower, &count)) return ReleaseCall(call, kOleErrNamesType, nullptr);
  int32 valuesLower = 0, valuesCount = 0;
  if (withNames && (!Bounds(call->values, &valuesLower, &valuesCount) || valuesCount != count))
    return ReleaseCall(call, kOleErrCountMismatch, nullptr);
  call->params = count ? new (std::nothrow) VIServCallParam[size_t(count)] : nullptr;
  if (count && !call->params) return ReleaseCall(call, kMemFullErr, nullptr);
  call->paramCount = count;
  std::vector<bool> named(size_t(terminals), false);
  for (int32 k = 0; k < count; ++k) {
    Str255 name;
    if (int32 r = NameAt(call, lower + k, name); r != kPlatOk) return ReleaseCall(call, r, nullptr);
    int32 t = 0;
    while (t < terminals && !(TDNamePtr(ElemTD(pane, t)) && PStrCmp(TDNamePtr(ElemTD(pane, t)), name) == 0)) ++t;
    if (t == terminals) {
      FormatItem(kOleErrParamNotFound - 5000, name, text);
      return ReleaseCall(call, kOleErrParamNotFound, text);
    }
    const int32 offset = int32(reinterpret_cast<const uChar*>(ElemTD(pane, t)) - reinterpret_cast<const uChar*>(pane));
    call->params[k] = VIServCallParam{t, offset, (TermFlags(pane, t) & kTermOutput) ? 1 : 0};
    named[size_t(t)] = true;
  }
  for (int32 t = 0; t < terminals; ++t)
    if ((TermFlags(pane, t) & kTermRequired) && !named[size_t(t)]) {
      FormatItem(kOleErrParamRequired - 5000, TDNamePtr(ElemTD(pane, t)), text);
      return ReleaseCall(call, kOleErrParamRequired, text);
    }
  VIRefRecord* r = ResolveVIRef(ref);
  AsyncRef callRec = r ? r->call : nullptr;
  auto* slots = callRec ? reinterpret_cast<CallTermSlot*>(callRec->terminals) : nullptr;
  const int32 slotCount = callRec ? int32(callRec->param[2]) : 0;
  Waiter w{nullptr, nullptr, call, {}};
  if (MgErr err = VIRefGetCallInfo(ref, slots, slotCount)) return ReleaseCall(call, err, nullptr);
  for (int32 k = 0; k < count; ++k) {
    const VIServCallParam& p = call->params[k];
    if (p.terminal >= slotCount || !slots[p.terminal].value) continue;
    slots[p.terminal].present = 1;
    if (p.output) continue;
    PlatVariant v;
    PlatVariantInit(&v);
    int32 index = valuesLower + k;
    int32 hr = PlatSafeArrayGetElement(call->values, &index, &v);
    const PlatVariant* in = hr == kPlatOk ? Deref(&v) : nullptr;
    if (hr == kPlatOk && !in) hr = kPlatInvalidArg;
    if (hr == kPlatOk && (in->vt & ~kPlatVtByRef) == kPlatVtDispatch) {
      // An object becomes an automation refnum, released when the call ends.
      PlatComDispatch* d = (in->vt & kPlatVtByRef) ? *static_cast<PlatComDispatch**>(in->byRef) : in->dispatch;
      Cookie c = 0;
      if (d && AutoRefMake(reinterpret_cast<EmbDispatch*>(d), &c, false) != kNoErr) hr = kPlatOutOfMemory;
      std::memcpy(slots[p.terminal].value, &c, sizeof c);
      if (c) w.refnums.push_back(c);
    } else if (hr == kPlatOk) {
      hr = OleVariantToData(in, slots[p.terminal].value, ElemTD(pane, p.terminal));
    }
    PlatVariantClear(&v);
    if (hr != kPlatOk) {
      for (Cookie c : w.refnums) AutoRefRelease(c);
      return ReleaseCall(call, hr, nullptr);
    }
  }
  AsyncRef started = nullptr;
  if (MgErr err = VIRefStartCall(ref, &CallDone, &started)) {
    for (Cookie c : w.refnums) AutoRefRelease(c);
    return ReleaseCall(call, err, nullptr);
  }
  w.async = started;
  Waiters().push_back(w);
  return kPlatOk;
}


void Perform(VIServRequest* q) {
  switch (q->op) {
    case kServReqAppGet:
      q->status = AppGetAttribute(Arg<AppRef>(q, 0), Arg<int32>(q, 1), Arg<void*>(q, 2), kOptions, Arg<PStr>(q, 3),
                                  nullptr, nullptr);
      break;
    case kServReqAppSet:
      q->status = AppSetAttribute(Arg<AppRef>(q, 0), Arg<int32>(q, 1), Arg<void*>(q, 2), kOptions, Arg<PStr>(q, 3),
                                  nullptr, nullptr);
      break;
    case kServReqRelease: q->status = VIRefRelease(Arg<VIRef>(q, 0)); break;
    case kServReqOpenByName:
      q->status = AppOpenVIRefByName(Arg<AppRef>(q, 0), Arg<ConstPStr>(q, 1), nullptr, kOptions, Arg<ConstPStr>(q, 2),
                                     Arg<VIRef*>(q, 3), Arg<PStr>(q, 4), nullptr, nullptr);
      break;
    case kServReqOpenByPath:
      q->status = AppOpenVIRefByPath(Arg<AppRef>(q, 0), Arg<Path>(q, 1), nullptr, kOptions, Arg<ConstPStr>(q, 2),
                                     Arg<VIRef*>(q, 3), Arg<PStr>(q, 4), nullptr, nullptr);
      break;
    case kServReqVIGet:
      q->status = VIRefGetAttributes(Arg<VIRef>(q, 0), Arg<int32>(q, 1), Arg<void*>(q, 2), kOptions, Arg<PStr>(q, 3),
                                     nullptr, nullptr);
      break;
    case kServReqVISet:
      q->status = VIRefSetAttributes(Arg<VIRef>(q, 0), Arg<int32>(q, 1), Arg<void*>(q, 2), kOptions, Arg<PStr>(q, 3),
                                     nullptr, nullptr);
      break;
    case kServReqCallInfo: q->status = CallInfo(q); break;
    case kServReqRun: q->result = Run(q); break;
    case kServReqCall: q->result = Call(q); break;
    case kServReqInvoke: q->result = Invoke(q); break;
    case kServReqGetControl: q->result = ControlValue(q, kGetVariantMethod); break;
    case kServReqSetControl: q->result = ControlValue(q, kSetVariantMethod); break;
  }
}

}  // namespace

void VIServRequestDispatch(VIServRequest* q) {
  if (!q) return;
  if (q->op < 0 || q->op >= kServReqOpCount || q->argCount != kArgCounts[q->op] || (q->argCount && !q->args)) {
    DBAssert(__FILE__, __LINE__, "VIServRequestDispatch: bad op or argument count");
    q->status = kArgErr;
  } else if (!OleServerEnabled() && q->op != kServReqRelease) {
    q->status = kVIRefAccessErr;
  } else if (OleServerShuttingDown()) {
    q->status = kOleErrShuttingDown;
  } else {
    Perform(q);
  }
  if (q->completion) PlatEventSet(q->completion);
}

int32 OleMapVIServError(int32 code, ConstPStr text, PlatBstr* slot) {
  const int32 result = code == 0 ? 0 : code < 0 ? code : code < 5001 ? code + kOleErrMapOffset : code;
  if (result <= 0 || !slot) return result;
  std::string message;
  bool found = false;
  if (text && text[0]) {
    message.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    found = true;
  } else if (code < 90) {
    found = ListText(kMgErrTextsList, code, &message);
  } else if (code >= 1000 && code <= 1044) {
    found = ListText(kAppErrTextsList, code - 999, &message);
  } else if (code < 5001) {
    found = ListText(kOleServerTextsList, kOleTextUnknown, &message);
  } else {
    found = ListText(kOleServerTextsList, code - 5000, &message);
  }
  if (!found) return result;
  std::string prefix;
  ListText(kOleServerTextsList, kOleTextPrefix, &prefix);
  const std::string whole = prefix + message;
  PlatBstrFree(*slot);
  *slot = PlatBstrFromText(whole.data(), uInt32(whole.size()));
  return result;
}

void VIServReleaseWaiters() {
  std::vector<Waiter> all;
  all.swap(Waiters());
  std::string t;
  Str255 text;
  text[0] = 0;
  if (ListText(kOleServerTextsList, kOleErrShuttingDown - 5000, &t)) {
    text[0] = uChar(t.size() > 255 ? 255 : t.size());
    std::memcpy(text + 1, t.data(), text[0]);
  }
  for (const Waiter& w : all) {
    if (IsLiveAsyncRef(w.async)) w.async->completion = nullptr;
    if (w.run) ReleaseRun(w.run, kOleErrShuttingDown, text);
    for (Cookie c : w.refnums) AutoRefRelease(c);
    if (w.call) ReleaseCall(w.call, kOleErrShuttingDown, text);
  }
}

int32 VIServWaiterCount() { return int32(Waiters().size()); }
