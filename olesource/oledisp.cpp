#include "olesource/oledisp.h"

#include <atomic>
#include <string>

#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "olesource/oleserv.h"
#include "olesource/servreq.h"
#include "platform/qx_typeinfo.h"

namespace {

std::atomic<Bool32> gAutoQuit{0};

PlatBstr Text(const std::string& s) { return PlatBstrFromText(s.data(), uint32_t(s.size())); }

}  // namespace

PlatHResult OleReportException(int32 code, const uint16_t* text, PlatExcepInfo* exception) {
  if (!exception) return kPlatInvalidArg;
  if (code < 0) {
    exception->scode = code;
    return kPlatOk;
  }
  PlatBstr source = Text(OleProductName());
  PlatBstr description = nullptr;
  std::string item;
  if (text) description = PlatBstrAlloc(text, PlatBstrLength(text));
  else if (OleListText(kOleServerTextsList, code - 5000, &item)) description = Text(item);
  else description = Text("Quenlix : Unknown Error");
  if (!source || !description) {
    PlatBstrFree(source);
    PlatBstrFree(description);
    return kPlatOutOfMemory;
  }
  exception->source = source;
  exception->description = description;
  exception->code = uint16_t(code);
  return kPlatOk;
}

Bool32 OleAutoQuit() { return gAutoQuit.load(); }
void OleSetAutoQuit(Bool32 on) { gAutoQuit.store(on ? 1 : 0); }

MgErr OleQuit() {
  WEventRecord e{};
  e.code = weMenuSelect;
  e.window = WRootWindow();
  e.where = 10;
  e.globalWhere = 0;
  e.modifiers = 25;
  return WPostEvent(&e, 1, kWPostAnyLevel);
}

PlatVariant* OleDispArg(PlatDispParams* params, uint32_t index) {
  if (!params || !params->args || params->namedCount > params->count) return nullptr;
  if (params->namedIds)
    for (uint32_t j = 0; j < params->namedCount; ++j)
      if (params->namedIds[j] == int32_t(index)) return &params->args[j];
  const uint32_t positional = params->count - params->namedCount;
  return index < positional ? &params->args[params->count - 1 - index] : nullptr;
}

PlatHResult OleDispTypeInfoCount(void* typeInfo, uint32_t* count) {
  if (!count) return kPlatPointer;
  *count = typeInfo ? 1 : 0;
  return kPlatOk;
}

PlatHResult OleDispTypeInfo(void* typeInfo, uint32_t index, uint32_t lcid, void** info, PlatHResult nullOut) {
  if (index != 0) return kPlatDispBadIndex;
  if (!info) return nullOut;
  *info = nullptr;
  if (!OleLanguageAccepted(lcid)) return kPlatDispUnknownLcid;
  if (!typeInfo) return kPlatNotImpl;
  PlatComAddRef(typeInfo);
  *info = typeInfo;
  return kPlatOk;
}

PlatHResult OleDispIdsOfNames(void* typeInfo, const PlatGuid* iid, uint16_t** names, uint32_t count,
                              uint32_t lcid, int32_t* ids) {
  if ((iid && !PlatGuidEqual(*iid, kPlatGuidNull)) || OleServerShuttingDown()) return kPlatDispUnknownInterface;
  if (!OleLanguageAccepted(lcid)) return kPlatDispUnknownLcid;
  if (!typeInfo) return kPlatDispUnknownName;
  return PlatTypeInfoIdsOfNames(typeInfo, names, count, ids);
}
