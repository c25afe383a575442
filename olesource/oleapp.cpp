#include "olesource/oleapp.h"

#include <new>

#include "olesource/oleserv.h"
#include "olesource/servreq.h"

namespace {

OleApplication* Self(PlatComDispatch* d) { return reinterpret_cast<OleApplication*>(d); }

bool Answers(const PlatGuid& iid) {
  return PlatGuidEqual(iid, kPlatIidUnknownRecord) || PlatGuidEqual(iid, kPlatIidDispatch) ||
         PlatGuidEqual(iid, OleServerGuid(kOleGuidAppTypeInfo)) ||
         PlatGuidEqual(iid, OleServerGuid(kOleGuidAppInterface));
}

PlatHResult Query(PlatComDispatch* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid || !Answers(*iid)) return kPlatNoInterface;
  ++Self(self)->refs;
  *out = self;
  return kPlatOk;
}
uint32_t AddRef(PlatComDispatch* self) { return uint32_t(++Self(self)->refs); }
uint32_t Release(PlatComDispatch* self) {
  OleApplication* a = Self(self);
  if (--a->refs > 0) return uint32_t(a->refs);
  if (OleObjectList* list = OleAppObjectList()) list->Remove(a);
  PlatBstrFree(a->errorText);
  delete a;
  return 0;
}
PlatHResult TypeInfoCount(PlatComDispatch* self, uint32_t* count) {
  if (!count) return kPlatPointer;
  *count = Self(self)->typeInfo ? 1 : 0;
  return kPlatOk;
}
PlatHResult TypeInfo(PlatComDispatch*, uint32_t index, uint32_t, void** info) {
  if (info) *info = nullptr;
  return index != 0 ? kPlatDispBadIndex : kPlatNotImpl;
}
PlatHResult IdsOfNames(PlatComDispatch*, const PlatGuid*, uint16_t**, uint32_t, uint32_t, int32_t*) {
  return OleServerShuttingDown() ? kPlatDispUnknownInterface : kPlatDispUnknownName;
}

// Every member goes to the dispatcher; a VI-server failure leaves as an
// exception with its code and text.
PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid* iid, uint32_t, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception, uint32_t*) {
  OleApplication* a = Self(self);
  if ((iid && !PlatGuidEqual(*iid, kPlatGuidNull)) || OleServerShuttingDown()) return kPlatDispUnknownInterface;
  a->errorCode = 0;
  PlatBstrFree(a->errorText);
  a->errorText = nullptr;
  uintptr_t args[7] = {0, uintptr_t(-1), uintptr_t(uint32_t(member)), flags, uintptr_t(params), uintptr_t(result),
                       uintptr_t(&a->errorText)};
  VIServRequest q{kServReqInvoke, nullptr, 7, args, 0, 0};
  VIServRequestDispatch(&q);
  a->errorCode = q.result ? q.result : OleMapVIServError(q.status, nullptr, &a->errorText);
  if (a->errorCode < 0) return a->errorCode;
  PlatHResult r = kPlatOk;
  if (a->errorCode || a->errorText) {
    if (exception) {
      *exception = PlatExcepInfo{};
      exception->code = uint16_t(a->errorCode);
      exception->description = a->errorText;
      a->errorText = nullptr;
    }
    r = kPlatDispException;
  }
  PlatBstrFree(a->errorText);
  a->errorText = nullptr;
  return r;
}

const PlatComDispatchSlots kSlots{&Query, &AddRef, &Release, &TypeInfoCount, &TypeInfo, &IdsOfNames, &Invoke};

}  // namespace

PlatHResult OleApplicationCreate(OleApplication** out) {
  *out = nullptr;
  OleObjectList* list = OleAppObjectList();
  if (!list) return kPlatClassNotAvailable;
  auto* a = new (std::nothrow) OleApplication{{&kSlots}, 0, nullptr, 0, nullptr};
  if (!a) return kPlatOutOfMemory;
  if (list->Insert(a, OleObjectList::kAppend) != kNoErr) {
    delete a;
    return kPlatOutOfMemory;
  }
  *out = a;
  return kPlatOk;
}
