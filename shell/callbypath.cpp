#include "shell/callbypath.h"

#include <cstdarg>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/vi/viload.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "shell/appprint.h"

namespace {

CallInstrHooks gHooks{};

// The state of one call that the completion reads.
struct CallState {
  int32 ref;
  UHandle data;
  std::vector<CallInstrOutput> outputs;
  MgErr result;
};

constexpr int32 kMaxParams = 4096;

int16 I16At(const TypeDescriptor* td, int32 at) {
  int16 v;
  std::memcpy(&v, reinterpret_cast<const uChar*>(td) + at, sizeof v);
  return v;
}

// The name of the path's last component.
bool LastName(Path path, PStr name) {
  if (!path || !*path || (*path)->count < 1) return false;
  const uChar* c = (*path)->comps;
  for (int32 i = 1; i < (*path)->count; ++i) c += 1 + c[0];
  std::memcpy(name, c, size_t(c[0]) + 1);
  return true;
}

MgErr Release(int32 ref) { return gHooks.release ? gHooks.release(ref) : kNoErr; }

}  // namespace

void SetCallInstrHooks(const CallInstrHooks& hooks) { gHooks = hooks; }
const CallInstrHooks& CallInstrHooksInUse() { return gHooks; }

int32 FindParamByName(const TypeDescriptor* pane, ConstPStr name, int32* offset) {
  if (!pane || !name || pane->code != kTDFunction) return -1;
  int32 off = 0;
  for (int32 i = 0, n = I16At(pane, 4); i < n; ++i) {
    const TypeDescriptor* el = ElemTD(pane, i);
    off = AlignDatum(el, off);
    ConstPStr elName = TDNamePtr(el);
    if (elName && elName[0] == name[0] && std::memcmp(elName + 1, name + 1, name[0]) == 0) {
      if (offset) *offset = off;
      return i;
    }
    off += DataSize(el);
  }
  return -1;
}

void CallInstrumentDone(const CallInstrCompletion* record) {
  if (!record || !record->context) {
    DBAssert(__FILE__, __LINE__, "call completion without its record");
    return;
  }
  CallState* s = static_cast<CallState*>(record->context);
  switch (record->mode) {
    case kCallDone:
      for (const CallInstrOutput& o : s->outputs)
        if (MgErr err = CopyData(o.td, *s->data + o.offset, o.value)) {
          s->result = err;
          break;
        }
      break;
    case kCallAbandoned:
      if (gHooks.killAsync) gHooks.killAsync(record->async);
      return;
    case kCallAborted:
      s->result = kCallAbortedErr;
      break;
    default:
      DBAssert(__FILE__, __LINE__, "call completion of an unknown mode");
      break;
  }
  WEventRecord e{};
  e.code = kLeaveNestedLoopEvent;
  e.window = -2;
  WPostEvent(&e, 0, kWPostTopLevel);
}

MgErr CallInstrumentWithParams(int32 ref, int32 nIn, int32 nOut, const CallInstrParam* params) {
  if (!gHooks.getAttribute || !gHooks.startCall) return kCapabilityErr;
  const TypeDescriptor* pane = nullptr;
  CallState s{ref, nullptr, {}, kNoErr};
  if (MgErr err = gHooks.getAttribute(ref, kVIPropConnectorPane, &pane)) return err;
  if (MgErr err = gHooks.getAttribute(ref, kVIPropCallData, &s.data)) return err;
  if (!pane || pane->code != kTDFunction || !s.data || !*s.data) return kArgErr;
  const int32 count = I16At(pane, 4);
  std::vector<bool> given(size_t(count > 0 ? count : 0), false);
  // A value is copied by the parameter's own descriptor only when the
  // caller's is the same: any other would write past the parameter's data.
  const auto check = [&](const CallInstrParam& p, int32* index, int32* offset) -> MgErr {
    *index = FindParamByName(pane, p.name, offset);
    if (*index >= 0 && gHooks.paramOffset) *offset = gHooks.paramOffset(ref, *index);
    if (*index < 0 || *offset < 0) {
      DBPrintf("Call Instrument: Param %p not found", p.name);
      return kArgErr;
    }
    if (!p.td || !p.value || TDCompare(p.td, ElemTD(pane, *index)) != 0) {
      DBPrintf("Call Instrument: Param %p has another type", p.name);
      return kArgErr;
    }
    return kNoErr;
  };
  for (int32 i = 0; i < nIn; ++i) {
    int32 index = -1, offset = 0;
    if (MgErr err = check(params[i], &index, &offset)) return err;
    if (uInt16(I16At(pane, 8 + 2 * index)) & kParamIndicatorFlag) {
      DBPrintf("Call Instrument: Param %p is an indicator", params[i].name);
      return kArgErr;
    }
    if (MgErr err = CopyData(ElemTD(pane, index), params[i].value, *s.data + offset)) return err;
    given[size_t(index)] = true;
  }
  for (int32 i = nIn; i < nIn + nOut; ++i) {
    CallInstrOutput o{params[i].td, params[i].value, -1, 0};
    if (MgErr err = check(params[i], &o.index, &o.offset)) return err;
    s.outputs.push_back(o);
  }
  if (MgErr err = gHooks.startCall(ref, &CallInstrumentDone, &s)) return err;
  WRunRootMainLoop();
  DBPrintf("Call Instrument Finished");
  return s.result;
}

MgErr CallInstrumentByPath(Path path, int32 setPanelFlag, int32 nIn, int32 nOut, ...) {
  if (!path || nIn < 0 || nOut < 0 || nIn + nOut > kMaxParams) return kArgErr;
  std::vector<CallInstrParam> params(size_t(nIn + nOut));
  va_list args;
  va_start(args, nOut);
  for (CallInstrParam& p : params) {
    p.name = va_arg(args, ConstPStr);
    p.td = va_arg(args, const TypeDescriptor*);
    p.value = va_arg(args, void*);
    if (!p.name) {
      va_end(args);
      return kArgErr;
    }
  }
  va_end(args);
  Str255 name;
  if (!LastName(path, name)) return kArgErr;
  if (!gHooks.openByName && !gHooks.openByPath) return kCapabilityErr;
  int32 ref = 0;
  MgErr err = gHooks.openByName ? gHooks.openByName(name, kOpenRefOptions, &ref) : kCapabilityErr;
  if (err) err = gHooks.openByPath ? gHooks.openByPath(path, kOpenRefOptions, &ref) : kCapabilityErr;
  if (err) return err;
  // From here every path releases the reference.
  UHandle vi = gHooks.findVI ? gHooks.findVI(name) : FindVIByName(name);
  if (!vi) {
    Release(ref);
    return kArgErr;
  }
  err = gHooks.loadPanel ? gHooks.loadPanel(vi) : LoadFPHeap(vi);
  if (err) {
    Release(ref);
    return err;
  }
  uInt16* flags = gHooks.panelFlags ? gHooks.panelFlags(vi) : nullptr;
  const uInt16 savedFlags = flags ? *flags : 0;
  if (flags && setPanelFlag) *flags = uInt16(*flags | 1);
  int32 reservation = 0;
  bool changed = false;
  err = gHooks.getAttribute ? gHooks.getAttribute(ref, kVIPropReservation, &reservation) : kCapabilityErr;
  if (!err) {
    const int32 two = 2;
    err = gHooks.setAttribute ? gHooks.setAttribute(ref, kVIPropReservation, &two) : kCapabilityErr;
    changed = !err;
  }
  if (!err) err = CallInstrumentWithParams(ref, nIn, nOut, params.data());
  if (flags) *flags = savedFlags;
  if (changed) gHooks.setAttribute(ref, kVIPropReservation, &reservation);
  Release(ref);
  return err;
}
