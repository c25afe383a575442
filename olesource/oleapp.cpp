#include "olesource/oleapp.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "engine/vi/viinst.h"
#include "mgsource/debug.h"
#include "olesource/oledisp.h"
#include "olesource/oletypeinfo.h"
#include "platform/qx_typeinfo.h"
#include "olesource/oleserv.h"
#include "olesource/olevar.h"
#include "olesource/olevi.h"
#include "mgsource/path.h"
#include "mgsource/memory.h"
#include "olesource/servreq.h"
#include "server/tcpserver.h"

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
  OleObjectList* list = OleAppObjectList();
  if (list) list->Remove(a);
  if (a->typeInfo) PlatComRelease(a->typeInfo);
  PlatBstrFree(a->errorText);
  delete a;
  // The last client gone with automatic quit on: quit unless a VI or a TCP
  // client still needs the program.
  if (list && list->Count() == 0 && OleAutoQuit() && LoadedVICount() == 0 && TCPServerConnCount() == 0) OleQuit();
  return 0;
}
PlatHResult GetTypeInfoCount(PlatComDispatch* self, uint32_t* count) {
  return OleDispTypeInfoCount(Self(self)->typeInfo, count);
}
PlatHResult GetTypeInfo(PlatComDispatch* self, uint32_t index, uint32_t lcid, void** info) {
  return OleDispTypeInfo(Self(self)->typeInfo, index, lcid, info, kPlatInvalidHandle);
}
PlatHResult GetIDsOfNames(PlatComDispatch* self, const PlatGuid* iid, uint16_t** names, uint32_t count,
                          uint32_t lcid, int32_t* ids) {
  return OleDispIdsOfNames(Self(self)->typeInfo, iid, names, count, lcid, ids);
}

// The automatic-quit property: get answers a Boolean, put takes the value
// made Boolean (true only for -1).
PlatHResult AutoQuitMember(uint16_t flags, PlatDispParams* params, PlatVariant* result) {
  if (flags & kPlatDispatchPropertyGet) {
    if (result) {
      PlatVariantClear(result);
      result->vt = kPlatVtBool;
      result->boolVal = OleAutoQuit() ? int16_t(-1) : int16_t(0);
    }
    return kPlatOk;
  }
  if (!(flags & kPlatDispatchPropertyPut)) return kPlatDispMemberNotFound;
  if (!params || params->count < 1 || !params->args) return kPlatDispBadParamCount;
  PlatVariant value{};
  const PlatHResult r = PlatVariantChangeType(&value, &params->args[0], 0, kPlatVtBool);
  if (r != kPlatOk) return r;
  OleSetAutoQuit(value.boolVal == -1);
  return kPlatOk;
}

// GetVIReference: a VI object for the VI at the path (named by its last
// component), with an optional password; failures stay in the error fields.
PlatHResult VIReferenceMember(OleApplication* a, PlatDispParams* params, PlatVariant* result) {
  if (!OleServerEnabled() || OleServerShuttingDown()) {
    a->errorCode = OleMapVIServError(kVIRefAccessErr, nullptr, &a->errorText);
    return kPlatOk;
  }
  PlatVariant* pathArg = OleDispArg(params, 0);
  if (!pathArg) return kPlatDispParamNotOptional;
  PlatVariant text;
  PlatVariantInit(&text);
  if (PlatHResult r = PlatVariantChangeType(&text, pathArg, 0, kPlatVtBstr); r != kPlatOk) return r;
  // The path's text may be of any length: it goes through a string handle.
  LStrHandle h = nullptr;
  MgErr err = OleTextFromBstr(text.bstr, int32(PlatBstrLength(text.bstr)), kOleTextLStr, &h, 0);
  PlatVariantClear(&text);
  Path path = nullptr;
  if (err == kNoErr) err = FTextToPath(h && *h ? LStrBuf(*h) : nullptr, h && *h ? (*h)->cnt : 0, &path);
  if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  Str255 name;
  name[0] = 0;
  if (err == kNoErr && path) err = FNamePtr(path, name);
  Str255 password;
  password[0] = 0;
  PlatVariant* pw = OleDispArg(params, 1);
  const bool withPassword = pw && (pw->vt & ~kPlatVtByRef) == kPlatVtBstr;
  if (err == kNoErr && withPassword) {
    const uInt16* s = (pw->vt & kPlatVtByRef) ? (pw->byRef ? *static_cast<PlatBstr*>(pw->byRef) : nullptr) : pw->bstr;
    err = OleTextFromBstr(s, int32(PlatBstrLength(s)), kOleTextPStr, password, 255);
  }
  if (err != kNoErr) {
    if (path) FDisposePath(path);
    a->errorCode = OleMapVIServError(err, nullptr, &a->errorText);
    return kPlatOk;
  }
  PlatComDispatch* vi = nullptr;
  a->errorCode = OleVICreate(name, path, withPassword ? password : nullptr, &a->errorText, &vi);
  FDisposePath(path);
  if (vi && result) {
    PlatVariantClear(result);
    result->vt = kPlatVtDispatch;
    result->dispatch = vi;
  } else if (vi) {
    PlatComRelease(vi);
  }
  return kPlatOk;
}

// The members the object serves itself; the others go to the dispatcher.
bool OwnMember(int32_t member) {
  return member == kOleAppAutoQuit || member == kOleAppQuit || member == kOleAppGetVIReference;
}

PlatHResult OwnInvoke(OleApplication* a, int32_t member, uint16_t flags, PlatDispParams* params,
                      PlatVariant* result) {
  if (member == kOleAppAutoQuit) return AutoQuitMember(flags, params, result);
  if (member == kOleAppGetVIReference) return VIReferenceMember(a, params, result);
  if (!(flags & kPlatDispatchMethod)) return kPlatDispMemberNotFound;
  if (result) PlatVariantClear(result);
  OleQuit();
  return kPlatOk;
}

// Own members run here, the others as the dispatcher's invoke of the local
// application's members; a VI-server failure leaves as an exception with
// its code and text.
PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid* iid, uint32_t lcid, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception, uint32_t* argError) {
  OleApplication* a = Self(self);
  if ((iid && !PlatGuidEqual(*iid, kPlatGuidNull)) || OleServerShuttingDown()) return kPlatDispUnknownInterface;
  if (!OleLanguageAccepted(lcid)) return kPlatDispUnknownLcid;
  a->errorCode = 0;
  PlatBstrFree(a->errorText);
  a->errorText = nullptr;
  PlatHResult r;
  if (OwnMember(member)) {
    r = a->typeInfo ? PlatTypeInfoInvoke(a->typeInfo, a, member, flags & 0xFFFF, params, result, exception, argError)
                    : OwnInvoke(a, member, flags, params, result);
  } else {
    uintptr_t args[7] = {0, uintptr_t(-1), uintptr_t(uint32_t(member)), flags, uintptr_t(params), uintptr_t(result),
                         uintptr_t(&a->errorText)};
    VIServRequest q{kServReqInvoke, nullptr, 7, args, 0, 0};
    VIServRequestDispatch(&q);
    // A negative result is the call's own failure; any other code is the
    // server's, reported as an exception.
    r = q.result < 0 ? q.result : kPlatOk;
    a->errorCode = q.result ? q.result : OleMapVIServError(q.status, nullptr, &a->errorText);
  }
  if (r == kPlatOk && (a->errorCode || a->errorText)) {
    // Without a place for the report the caller still learns of the failure.
    const PlatHResult reported = exception ? OleReportException(a->errorCode, a->errorText, exception) : kPlatOk;
    r = reported == kPlatOutOfMemory ? reported : kPlatDispException;
  }
  PlatBstrFree(a->errorText);
  a->errorText = nullptr;
  return r;
}

// ---- Member slots -------------------------------------------------------------------
// The interface's members in the type information's order follow the
// dispatch slots; the object serves four of them itself (ids 35 get and
// put, 2004, 2013), which the type information's invoke reaches with their
// arguments in declaration order.  The others are never reached that way:
// their ids go to the dispatcher.
constexpr size_t kAutoQuitGetSlot = 35, kAutoQuitPutSlot = 36, kVIReferenceSlot = 47, kQuitSlot = 48;

// The arguments as a call's positional ones (the last first).
PlatDispParams Positional(PlatVariant* args, uint32_t count, std::vector<PlatVariant>* store) {
  store->assign(args, args + count);
  std::reverse(store->begin(), store->end());
  return PlatDispParams{store->data(), nullptr, count, 0};
}
PlatHResult AutoQuitGetSlot(void*, PlatVariant*, uint32_t, PlatVariant* result) {
  return AutoQuitMember(kPlatDispatchPropertyGet, nullptr, result);
}
PlatHResult AutoQuitPutSlot(void*, PlatVariant* args, uint32_t count, PlatVariant*) {
  std::vector<PlatVariant> store;
  PlatDispParams dp = Positional(args, count, &store);
  return AutoQuitMember(kPlatDispatchPropertyPut, &dp, nullptr);
}
PlatHResult VIReferenceSlot(void* object, PlatVariant* args, uint32_t count, PlatVariant* result) {
  std::vector<PlatVariant> store;
  PlatDispParams dp = Positional(args, count, &store);
  return OwnInvoke(static_cast<OleApplication*>(object), kOleAppGetVIReference, kPlatDispatchMethod, &dp, result);
}
PlatHResult QuitSlot(void* object, PlatVariant*, uint32_t, PlatVariant* result) {
  return OwnInvoke(static_cast<OleApplication*>(object), kOleAppQuit, kPlatDispatchMethod, nullptr, result);
}
template <size_t I>
PlatHResult NotBuilt(void*, PlatVariant*, uint32_t, PlatVariant*) {
  DBAssert(__FILE__, __LINE__, "_Application: a member the object does not serve was called");
  return 0;
}
template <size_t... I>
constexpr std::array<PlatMemberSlot, sizeof...(I)> NotBuilts(std::index_sequence<I...>) {
  return {&NotBuilt<I>...};
}
constexpr std::array<PlatMemberSlot, kOleAppMemberCount> MemberSlots() {
  auto a = NotBuilts(std::make_index_sequence<kOleAppMemberCount>());
  a[kAutoQuitGetSlot] = &AutoQuitGetSlot;
  a[kAutoQuitPutSlot] = &AutoQuitPutSlot;
  a[kVIReferenceSlot] = &VIReferenceSlot;
  a[kQuitSlot] = &QuitSlot;
  return a;
}

struct SlotTable {
  PlatComDispatchSlots dispatch;
  std::array<PlatMemberSlot, kOleAppMemberCount> members;
};
static_assert(offsetof(SlotTable, members) == sizeof(PlatComDispatchSlots), "members follow the seven slots");
constexpr SlotTable kSlotTable{
    {&Query, &AddRef, &Release, &GetTypeInfoCount, &GetTypeInfo, &GetIDsOfNames, &Invoke}, MemberSlots()};

}  // namespace

PlatHResult OleApplicationCreate(OleApplication** out) {
  *out = nullptr;
  OleObjectList* list = OleAppObjectList();
  if (!list) return kPlatClassNotAvailable;
  // The shared type information: loaded by the first object, with one
  // reference for the process and one for each object.
  if (!OleAppTypeInfo()) {
    void* info = nullptr;
    PlatHResult r = OleLoadTypeInfo(OleServerGuid(kOleGuidAppTypeInfo), kOleTypeInfoLcid, &info);
    // Its members are the object's slots: a file of another count would
    // reach past them.
    if (r == kPlatOk && PlatTypeInfoMemberCount(info) != kOleAppMemberCount) r = kPlatTypeLibLoadFailed;
    if (r != kPlatOk) {
      if (info) PlatComRelease(info);
      return r;
    }
    OleSetAppTypeInfo(info);
  }
  auto* a = new (std::nothrow) OleApplication{{&kSlotTable.dispatch}, 0, OleAppTypeInfo(), 0, nullptr};
  if (!a) return kPlatOutOfMemory;
  PlatComAddRef(a->typeInfo);
  if (list->Insert(a, OleObjectList::kAppend) != kNoErr) {
    PlatComRelease(a->typeInfo);
    delete a;
    return kPlatOutOfMemory;
  }
  *out = a;
  return kPlatOk;
}
