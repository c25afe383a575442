// The VI methods of the local application (table entry 6): run and abort,
// control values as flat data and as automation variants, reinitialise to
// defaults, the panel's image and print, the strings' import and the lock
// state; the rest of the 23 methods are not in this run-time (1043).
//
// Parameters are attribute-style triples whose value pointers may be null
// (an absent parameter); parameter 0 is the return value.  Strings and
// arrays are the caller's data-zone handles.  Types travel as flattened
// types: I16 arrays of the big-endian descriptor's words.  Everything a
// caller hands in (types, flat data, counts) is checked before it is used,
// and a method that fails leaves the control and its outputs as they were.
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/datamgr.h"
#include "engine/exec/callchain.h"
#include "engine/exec/runcmd.h"
#include "engine/flatten.h"
#include "engine/membertab.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printvi.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "server/srvhooks.h"
#include "server/srvvalues.h"
#include "server/viref.h"
#include "server/vistrmethod.h"

using namespace srvval;

namespace {

// Flags of the method entries tested here.
enum : int32 { kMethodNeedsPanel = 0x02, kMethodControlVI = 0x40, kMethodGlobalVI = 0x80 };
// The methods.
enum : int32 {
  kImportStrings = 1001, kRunVI = 1003, kAbortVI = 1004, kSetControl = 1009, kGetControl = 1010,
  kReinitialise = 1012, kGetVariant = 1013, kSetVariant = 1014, kPanelImage = 1016, kPrintPanel = 1019,
  kAllControls = 1020, kLockState = 1021,
};
// The automation-only methods take three parameters: the result, the
// control's name and the variant.
constexpr int32 kVariantParams = 3;
constexpr uInt32 kVIFlags2Busy = 0x400800;
constexpr int32 kReplyFailed = 0x10;
const uChar kAbortedText[] = "\016VI was aborted";

ServerUIHooks gHooks{};

struct Params {
  int32 count;
  AttrEntry* list;
  void* at(int32 i) const { return i >= 0 && i < count ? list[i].value : nullptr; }
};

uInt32 StateOf(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }
ObjHeap PanelOf(UHandle vi) { return VIRec(vi)->panelHeap; }

// The bytes of a type descriptor (none for one too large to keep).
std::vector<uChar> TypeBytes(const TypeDescriptor* td) {
  const uInt16 size = uInt16(GetI16(reinterpret_cast<const uChar*>(td)));
  if (size < 4 || size == kTDSizeInHolder) return {};
  return std::vector<uChar>(reinterpret_cast<const uChar*>(td), reinterpret_cast<const uChar*>(td) + size);
}

// The value the last set replaced, kept for the next set of a value of its
// type: reading into its handles, which already have the sizes the
// control's values have, spares allocating and clearing them anew (the pages
// of a large array above all).
struct KeptValue {
  std::mutex lock;
  std::vector<uChar> type;  // empty: nothing kept
  std::vector<double> bytes;
};
KeptValue& Kept() {
  static auto* kept = new KeptValue;
  return *kept;
}
// Takes what is kept out, leaving nothing kept; or puts a value in.
void SwapKept(std::vector<uChar>* type, std::vector<double>* bytes) {
  KeptValue& k = Kept();
  std::lock_guard<std::mutex> g(k.lock);
  k.type.swap(*type);
  k.bytes.swap(*bytes);
}
void DisposeTaken(const std::vector<uChar>& type, std::vector<double>* bytes) {
  if (type.empty()) return;
  const auto* td = reinterpret_cast<const TypeDescriptor*>(type.data());
  DisposeData(td, bytes->data(), reinterpret_cast<uChar*>(bytes->data()) + DataSize(td));
}

// A datum of a type outside any data space: aligned storage, and once
// filled, the owner of its handles.
class Datum {
 public:
  explicit Datum(const TypeDescriptor* td) : td_(td), bytes_(size_t(DataSize(td) + 7) / 8, 0) {}
  ~Datum() {
    if (live_) DisposeData(td_, get(), static_cast<uChar*>(get()) + DataSize(td_));
  }
  Datum(const Datum&) = delete;
  Datum& operator=(const Datum&) = delete;
  void* get() { return bytes_.data(); }
  // The datum holds data whose handles it owns (copied in by the caller).
  void Own() { live_ = true; }
  // An empty value of the type: the kept one when it is of the type.
  MgErr Fresh() {
    live_ = true;
    std::vector<uChar> type;
    std::vector<double> kept;
    SwapKept(&type, &kept);
    if (!type.empty() && type == TypeBytes(td_)) {
      bytes_.swap(kept);
      return kNoErr;
    }
    SwapKept(&type, &kept);  // another type's: it stays kept
    return InitEmptyData(td_, get());
  }
  // Keeps the value for the next set of its type; a value kept before goes.
  void Keep() {
    std::vector<uChar> type = TypeBytes(td_);
    if (!live_ || type.empty()) return;
    SwapKept(&type, &bytes_);
    live_ = false;
    DisposeTaken(type, &bytes_);
  }

 private:
  const TypeDescriptor* td_;
  std::vector<double> bytes_;
  bool live_ = false;
};

// ---- Finding a control by its label ------------------------------------------------------
struct Control {
  ObjHeap heap = nullptr;
  int32 object = 0;
  const TypeDescriptor* td = nullptr;
};

// The label a name parameter gives: its string, or the empty string for a
// name that is absent, null or malformed.
class Label {
 public:
  explicit Label(const void* value) {
    LStrHandle h = value ? *static_cast<const LStrHandle*>(value) : nullptr;
    const uChar* bytes = nullptr;
    int32 n = 0;
    if (StringBytes(h, &bytes, &n)) text_.assign(reinterpret_cast<const char*>(bytes), size_t(n));
    buffer_.resize(4 + text_.size());
    const int32 count = int32(text_.size());
    std::memcpy(buffer_.data(), &count, 4);
    std::memcpy(buffer_.data() + 4, text_.data(), text_.size());
  }
  const LStr* get() const { return reinterpret_cast<const LStr*>(buffer_.data()); }

 private:
  std::string text_;
  std::vector<uChar> buffer_;
};

void* OperateData(const Control& c) { return gHooks.operateData ? gHooks.operateData(c.heap, c.object) : nullptr; }

MgErr Say(PStr text, MgErr err, const char* format, const Label& label) {
  if (text) PPrintf(text, format, label.get());
  return err;
}

// Whether a given type (an I16 array handle) is the control's: at least two
// words, its descriptor's size even and within the array, and word for word
// the control's flattened type.  The given words are only compared, never
// read as a descriptor.
bool SameType(UHandle given, const TypeDescriptor* td) {
  uChar* first = nullptr;
  int32 words = 0;
  if (!ArrayElements(given, 2, &first, &words) || words < 2) return false;
  const uInt16 size = uInt16(GetI16(first));
  if ((size & 1) || size < 4 || size > 2 * words) return false;
  const std::vector<int16> own = TypeWords(td);
  return int32(own.size()) == words && std::memcmp(own.data(), first, own.size() * 2) == 0;
}

// The control of the label among the panel's controls, with its type;
// typeValue, when given, names the type the caller says it has.
MgErr FindControl(UHandle vi, const Label& label, const void* typeValue, Control* c, PStr text) {
  c->heap = PanelOf(vi);
  c->object = c->heap && gHooks.findCtlByLabel ? gHooks.findCtlByLabel(c->heap, label.get()) : 0;
  if (!c->object) return Say(text, kArgErr, "\"%P\" not found", label);
  c->td = gHooks.controlType ? gHooks.controlType(c->heap, c->object) : nullptr;
  if (!c->td) return Say(text, kArgErr, "\"%P\": no type descriptor!!", label);
  if (UHandle given = typeValue ? *static_cast<const UHandle*>(typeValue) : nullptr; given && !SameType(given, c->td))
    return Say(text, kArgErr, "\"%P\" type descriptor does not match", label);
  if (!OperateData(*c)) return Say(text, kVIRefGenericErr, "Can't get operate data for \"%P\"", label);
  return kNoErr;
}

// The new value replaces the control's (their bytes swap, so that the datum
// then holds the old value), which is shown.
void Replace(const Control& c, Datum* value) {
  void* at = OperateData(c);
  if (!at) return;
  const size_t n = size_t(DataSize(c.td));
  std::vector<uChar> hold(static_cast<uChar*>(at), static_cast<uChar*>(at) + n);
  std::memcpy(at, value->get(), n);
  std::memcpy(value->get(), hold.data(), n);
  if (gHooks.showValue) gHooks.showValue(c.heap, c.object, value->get());
}

// The control's value flattened into the string variable (made when null)
// and its type into the I16 array variable, each when given.
MgErr GetValue(const Control& c, void* dataValue, void* typeValue, const Label& label, PStr text) {
  if (dataValue) {
    auto* slot = static_cast<LStrHandle*>(dataValue);
    if (!*slot && !(*slot = reinterpret_cast<LStrHandle>(DSNewHClr(4))))
      return Say(text, kMemFullErr, "Could not allocate memory for \"%P\" data", label);
    const void* at = OperateData(c);
    if (!at) return Say(text, kVIRefGenericErr, "Can't get operate data for \"%P\"", label);
    if (MgErr err = FlattenToLStr(*slot, c.td, at, 0))
      return Say(text, err, "Could not allocate memory for \"%P\" data", label);
  }
  if (typeValue) return SetWords(static_cast<UHandle*>(typeValue), TypeWords(c.td));
  return kNoErr;
}

// ---- The methods ------------------------------------------------------------------------
MgErr SetControlValue(UHandle vi, const Params& p, PStr text) {
  const Label label(p.at(1));
  Control c;
  if (MgErr err = FindControl(vi, label, p.at(2), &c, text)) return err;
  if (gHooks.isIndicator && gHooks.isIndicator(c.heap, c.object))
    return Say(text, kArgErr, "\"%P\" is an indicator, not a control", label);
  LStrHandle flat = p.at(3) ? *static_cast<LStrHandle*>(p.at(3)) : nullptr;
  const uChar* bytes = nullptr;
  int32 n = 0;
  if (!StringBytes(flat, &bytes, &n) || !flat) return kArgErr;
  Datum value(c.td);
  if (MgErr err = value.Fresh()) return err;
  // The whole string is the value: data short, long or malformed is refused.
  if (UnFlattenData(reinterpret_cast<UHandle>(flat), 4, c.td, value.get(), n, 0) != n) return kArgErr;
  Replace(c, &value);
  value.Keep();
  return kNoErr;
}

MgErr GetControlValue(UHandle vi, const Params& p, PStr text) {
  const Label label(p.at(1));
  Control c;
  if (MgErr err = FindControl(vi, label, nullptr, &c, text)) return err;
  return GetValue(c, p.at(0), p.at(2), label, text);
}

MgErr GetVariant(UHandle vi, const Params& p, PStr text) {
  const Label label(p.at(1));
  Control c;
  if (MgErr err = FindControl(vi, label, nullptr, &c, text)) return err;
  if (!p.at(2)) return kVIRefParamMissingErr;
  if (!gHooks.toVariant) return kVIRefUnsupportedErr;
  return gHooks.toVariant(OperateData(c), c.td, p.at(2));
}

MgErr SetVariant(UHandle vi, const Params& p, PStr text) {
  const Label label(p.at(1));
  Control c;
  if (MgErr err = FindControl(vi, label, nullptr, &c, text)) return err;
  if (!p.at(2)) return kVIRefParamMissingErr;
  if (!gHooks.fromVariant) return kVIRefUnsupportedErr;
  Datum value(c.td);
  if (MgErr err = value.Fresh()) return err;
  if (int32 hr = gHooks.fromVariant(p.at(2), value.get(), c.td)) return hr;
  Replace(c, &value);
  value.Keep();
  return kNoErr;
}

// Every control (controls) or every indicator (not controls) of the panel in
// its order: name, type and flat data.
MgErr GetAllControlValues(UHandle vi, const Params& p, PStr text) {
  auto* slot = static_cast<UHandle*>(p.at(0));
  if (!slot) return kNoErr;
  const bool controls = p.at(1) && GetBool(p.at(1));
  const ObjHeap heap = PanelOf(vi);
  std::vector<int32> listed;
  for (int32 i = 0, c = 0; heap && gHooks.controlAt && (c = gHooks.controlAt(heap, i)) != 0; ++i) {
    if (c < 0) continue;
    const bool indicator = gHooks.isIndicator && gHooks.isIndicator(heap, c);
    if (indicator != controls) listed.push_back(c);
  }
  const TypeDescriptor* arrayTD = MethodParamTypeDesc(kAutoClassVI, kAllControls, 0);
  const TypeDescriptor* eltTD = ArrayElement(arrayTD);
  const std::vector<int32> field = ElementOffsets(eltTD);
  const int32 stride = DataSize(eltTD);
  // Each value is made in a cluster of its own and moved into the array
  // once whole, so that the array's handle may move meanwhile.
  MgErr err = kNoErr;
  if (!SizeArray(slot, eltTD, int32(listed.size()), &err)) return err ? err : MgErr(kMemFullErr);
  for (size_t i = 0; i < listed.size(); ++i) {
    Control c{heap, listed[i], gHooks.controlType ? gHooks.controlType(heap, listed[i]) : nullptr};
    LStrHandle nameText = gHooks.labelText ? gHooks.labelText(heap, listed[i]) : nullptr;
    const Label label(nameText ? &nameText : nullptr);
    if (!c.td) return Say(text, kArgErr, "\"%P\": no type descriptor!!", label);
    uChar* e = **slot + AlignDatum(eltTD, 4) + i * size_t(stride);
    Datum element(eltTD);
    std::memcpy(element.get(), e, size_t(stride));
    std::memset(e, 0, size_t(stride));
    element.Own();
    auto* at = static_cast<uChar*>(element.get());
    const uChar* bytes = nullptr;
    int32 n = 0;
    StringBytes(nameText, &bytes, &n);
    err = SetString(reinterpret_cast<LStrHandle*>(at + field[0]), bytes, n);
    if (!err) err = GetValue(c, at + field[2], at + field[1], label, text);
    e = **slot + AlignDatum(eltTD, 4) + i * size_t(stride);
    std::memcpy(e, element.get(), size_t(stride));
    std::memset(element.get(), 0, size_t(stride));
    if (err) return err;
  }
  return kNoErr;
}

MgErr Reinitialise(UHandle vi) {
  if (VIRec(vi)->flags2 & kVIFlags2Busy) return kVIRefNotIdleErr;
  const int32 result = gHooks.reinitialise && PanelOf(vi) ? gHooks.reinitialise(PanelOf(vi)) : kReplyFailed;
  if (result & kReplyFailed) return kMemFullErr;
  if (result) DBPrintf("DoTransaction of %s returned 0x%lx", "kSetAllFromDflt", static_cast<unsigned long>(result));
  return kNoErr;
}

MgErr PanelImage(UHandle vi, const Params& p) {
  const bool whole = p.at(1) ? GetBool(p.at(1)) : true;
  int32 depth = p.at(2) ? GetI32(p.at(2)) : 8;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 24) depth = 8;
  Rect bounds{0, 0, 0, 0};
  if (MgErr err = VIGetPanelImage(vi, &depth, whole, static_cast<UHandle*>(p.at(3)), static_cast<UHandle*>(p.at(4)),
                                  &bounds))
    return err;
  if (p.at(5)) PutRect(p.at(5), bounds);
  return kNoErr;
}

// Import VI Strings: unless the reference holds mode 1, the VI must be idle,
// not busy, and held in mode 1 or 2 by no other reference.
MgErr ImportStrings(VIRefRecord* ref, const Params& p) {
  UHandle vi = ref->vi;
  Path file = p.at(1) ? *static_cast<Path*>(p.at(1)) : nullptr;
  if (!file) return kVIRefParamMissingErr;
  if (ref->mode != kVIRefModeEdit) {
    if (StateOf(vi) > kVIStateIdle || (VIRec(vi)->flags2 & kVIFlags2Busy)) return kVIRefNotIdleErr;
    for (VIRef other : VIRefsOf(vi))
      if (VIRefRecord* o = other == ref->self ? nullptr : ResolveVIRef(other); o && o->mode != kVIRefModeNone)
        return kVIRefNotIdleErr;
  }
  const uInt8 alerts = p.at(2) ? uInt8(GetBool(p.at(2))) : 0;
  Path log = p.at(3) ? *static_cast<Path*>(p.at(3)) : nullptr;
  return VIMethodImportStrings(vi, file, alerts, log);
}

// ---- Run VI ----------------------------------------------------------------------------------
MgErr AbortRun(UHandle vi);

int32 RunEnded(void* cookie);
int32 RunAborted(void* cookie);

bool IsRunRecord(AsyncRef a) {
  return IsLiveAsyncRef(a) && a->op == kAsyncVIDoMethodOp && a->param[0] == uInt32(kRunVI);
}

void ForgetRunCleanups(AsyncRef a) {
  SetCleanupProcEntry(nullptr, nullptr, &RunEnded, a, kCleanupRemove);
  SetCleanupProcEntry(nullptr, nullptr, &RunAborted, a, kCleanupRemove);
}

// The run ended (or was aborted): the other entry goes, the completion hears
// the outcome, and the record is freed.
void FinishRun(AsyncRef a, MgErr err, ConstPStr source) {
  ForgetRunCleanups(a);
  UnlinkAsyncRef(a->app, a);
  a->error = err;
  a->errorText = const_cast<PStr>(source);
  if (a->completion) a->completion(a);
  FreeAsyncRef(a);
}

int32 RunEnded(void* cookie) {
  if (AsyncRef a = static_cast<AsyncRef>(cookie); IsRunRecord(a)) FinishRun(a, kNoErr, nullptr);
  return 0;
}

int32 RunAborted(void* cookie) {
  if (AsyncRef a = static_cast<AsyncRef>(cookie); IsRunRecord(a)) FinishRun(a, kVIRefAbortedErr, kAbortedText);
  return 0;
}

MgErr RunVI(VIRefRecord* ref, const Params& p, AsyncCompletion completion, AsyncRef* async) {
  if (!completion || !async) return kArgErr;
  UHandle vi = ref->vi;
  const bool wait = p.at(1) ? GetBool(p.at(1)) : true;
  if (int32 err = DoRunCommand(vi, 0)) return err;
  if (!wait) return kNoErr;
  AsyncRef a = NewAsyncRef(kAsyncVIDoMethodOp, ref->app);
  if (a) {
    a->completion = completion;
    a->ref = ref->self;
    a->param[0] = uInt32(kRunVI);
    a->param[1] = uInt32(p.count);
    a->param[2] = uInt32(uintptr_t(p.list));
    if (!SetCleanupProcEntry(vi, nullptr, &RunEnded, a, kCleanupTopVI) ||
        !SetCleanupProcEntry(vi, nullptr, &RunAborted, a, kCleanupTopVIAbort)) {
      ForgetRunCleanups(a);
      FreeAsyncRef(a);
      a = nullptr;
    }
  }
  if (!a) {
    // Nobody would hear of the run's end: it is stopped again.
    AbortRun(vi);
    return kMemFullErr;
  }
  AppendAsyncRef(ref->app, a);
  *async = a;
  return kVIRefPendingErr;
}

// The data space a top-level run of the VI runs on: the one its panel shows
// (a reentrant VI's may be a clone), else its first.
DataSpace RunDataSpace(UHandle vi) {
  DataSpace ds = PanelOf(vi) ? viinst::PanelDataSpace(PanelOf(vi)) : nullptr;
  return ds ? ds : reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
}

// Abort VI: a VI running at top level (also once resumed after a
// suspension) is aborted, whether or not its clump has started yet.
MgErr AbortRun(UHandle vi) {
  const uInt32 s = StateOf(vi);
  DataSpace ds = RunDataSpace(vi);
  if ((s != 2 && s != 6 && s != 9 && s != 14) || !ds) return kArgErr;
  return DoAbortCommand(ds);
}

MgErr BadMethod(int32 method) {
  DBPrintf("ThisApp_VIDoMethod: bad selector: %ld", long(method));
  return kVIRefMethodErr;
}

}  // namespace

MgErr VIMethodKillRun(AsyncRef a) {
  if (!IsRunRecord(a)) return kVIRefGenericErr;
  UnlinkAsyncRef(a->app, a);
  ForgetRunCleanups(a);
  a->completion = nullptr;
  VIRefRecord* r = ResolveVIRef(a->ref);
  UHandle vi = r && r->vi && *r->vi ? r->vi : nullptr;
  FreeAsyncRef(a);
  if (vi) AbortRun(vi);
  return kNoErr;
}

void DropKeptControlValue() {
  std::vector<uChar> type;
  std::vector<double> bytes;
  SwapKept(&type, &bytes);
  DisposeTaken(type, &bytes);
}

void SetServerUIHooks(const ServerUIHooks& hooks) { gHooks = hooks; }
const ServerUIHooks& ServerUI() { return gHooks; }

MgErr ThisApp_VIDoMethod(VIRefRecord* ref, int32 method, int32 count, AttrEntry* params, int32, PStr text,
                         AsyncCompletion completion, AsyncRef* async) {
  if (async) *async = nullptr;
  UHandle vi = ref->vi;
  if (!vi || !*vi) return kVIRefInvalidErr;
  const AutoMethodInfo* info = MethodInfoLookup(kAutoClassVI, method);
  if (!info || method == 1015 || method == 1017) return BadMethod(method);
  const int16 kind = VIRec(vi)->viKind;
  if ((kind == kVIKindControl && !(info->flags & kMethodControlVI)) ||
      (kind == kVIKindGlobal && !(info->flags & kMethodGlobalVI)))
    return kVIRefKindErr;
  // More parameters than the method has, or a list that is not there.
  const int32 known = method == kGetVariant || method == kSetVariant ? kVariantParams : info->paramCount;
  if (count < 0 || count > known || (count > 0 && !params)) return kArgErr;
  const Params p{count, params};
  OperatedByRef operated(ref, "ThisApp_DoVIMethod");
  if (info->flags & kMethodNeedsPanel)
    if (MgErr err = VIRefLoadPanel(ref)) return err;
  switch (method) {
    case kImportStrings: return ImportStrings(ref, p);
    case kRunVI: return RunVI(ref, p, completion, async);
    case kAbortVI: return AbortRun(vi);
    case kSetControl: return SetControlValue(vi, p, text);
    case kGetControl: return GetControlValue(vi, p, text);
    case kReinitialise: return Reinitialise(vi);
    case kGetVariant: return GetVariant(vi, p, text);
    case kSetVariant: return SetVariant(vi, p, text);
    case kPanelImage: return PanelImage(vi, p);
    case kPrintPanel: return VIPrintFrontPanel(vi, p.at(1) && GetBool(p.at(1)));
    case kAllControls: return GetAllControlValues(vi, p, text);
    case kLockState:
      if (p.at(0)) PutI32(p.at(0), 2);
      if (p.at(1)) PutBool(p.at(1), false);
      return kNoErr;
    default:  // 1000, 1002, 1005-1008, 1011, 1018, 1022
      return kVIRefUnsupportedErr;
  }
}
