#include "panel/loggedctls.h"

#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/wport.h"
#include "panel/panel_internal.h"
#include "rtlib/datalog.h"

namespace {

constexpr MgErr kMismatchErr = 42;

ObjHeap PanelOf(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  ObjHeap h = reinterpret_cast<const VIRecord*>(*vi)->panelHeap;
  return h && *h ? h : nullptr;
}

int32 CollectController(ObjHeap heap, int32 object, void* context) {
  if (ObjClass(heap, object) == kClsFPDataController) static_cast<std::vector<int32>*>(context)->push_back(object);
  return 0;
}

// The logged controls in record order; a map entry naming no controller
// gives 0 in its place.
std::vector<int32> LoggedControls(UHandle vi, ObjHeap heap) {
  std::vector<int32> controllers, logged;
  OHForEachBlockWith(heap, &CollectController, &controllers);
  const VIRecord* r = reinterpret_cast<const VIRecord*>(*vi);
  UHandle b = r->viKind == kVIKindDatalog ? r->logRecord : nullptr;
  if (!b || !*b || AZGetHandleSize(b) < int32(sizeof(DatalogBindingRec))) return logged;
  UHandle map = reinterpret_cast<const DatalogBindingRec*>(*b)->controlMap;
  const int32 size = map && *map ? AZGetHandleSize(map) : 0;
  if (size < 2) return logged;
  const int32 count = int16(GetNative16(*map));
  for (int32 i = 0; i < count && 2 + 2 * (i + 1) <= size; ++i) {
    const int32 at = int16(GetNative16(*map + 2 + 2 * i));
    logged.push_back(at >= 0 && at < int32(controllers.size()) ? controllers[size_t(at)] : 0);
  }
  return logged;
}

int32 ClusterCount(const TypeDescriptor* td) {
  td = td ? SkipTypedefs(td) : nullptr;
  if (!td || td->code != kTDCluster || td->size < 6) return -1;
  int16 n = 0;
  std::memcpy(&n, reinterpret_cast<const uChar*>(td) + 4, 2);
  return n;
}

// Walks the panel data's elements with their controls' operate copies:
// visit(element type, element data offset, control's data, heap, control).
template <class Visit>
MgErr EachLogged(UHandle vi, const TypeDescriptor* panelType, Visit visit) {
  ObjHeap heap = PanelOf(vi);
  if (!heap) return kArgErr;
  const std::vector<int32> logged = LoggedControls(vi, heap);
  if (ClusterCount(panelType) != int32(logged.size())) return kMismatchErr;
  const TypeDescriptor* cluster = SkipTypedefs(panelType);
  int32 offset = 0;
  for (size_t i = 0; i < logged.size(); ++i) {
    const TypeDescriptor* elem = ElemTD(cluster, int32(i));
    DCORecordPlace at;
    if (!elem || !logged[i] || !FindDCORecord(heap, logged[i], &at)) return kMismatchErr;
    const TypeDescriptor* value = ElemTD(at.rec, kRecOperate);
    if (!value || TDCompareLoose(elem, value) != 0) return kMismatchErr;
    offset = AlignDatum(elem, offset);
    if (MgErr err = visit(elem, offset, reinterpret_cast<uChar*>(*at.ds) + at.offsets[kRecOperate])) return err;
    offset += DataSize(elem);
  }
  return kNoErr;
}

}  // namespace

int32 PanelLoggedControlCount(UHandle vi) {
  ObjHeap heap = PanelOf(vi);
  if (!heap) return -1;
  int32 n = 0;
  for (int32 c : LoggedControls(vi, heap)) n += c != 0;
  return n;
}

MgErr PanelCopyLoggedControls(UHandle vi, const TypeDescriptor* panelType, void* panelData) {
  if (!panelData) return kArgErr;
  return EachLogged(vi, panelType, [&](const TypeDescriptor* elem, int32 offset, const uChar* value) {
    return CopyData(elem, value, static_cast<uChar*>(panelData) + offset);
  });
}

MgErr PanelShowLoggedRecord(UHandle vi, const TypeDescriptor* panelType, const void* panelData) {
  if (!panelData) return kArgErr;
  const MgErr err = EachLogged(vi, panelType, [&](const TypeDescriptor* elem, int32 offset, uChar* value) {
    return CopyData(elem, static_cast<const uChar*>(panelData) + offset, value);
  });
  if (ObjHeap heap = PanelOf(vi)) {
    const int32 ext = int32(OHWord(heap, kOHExtension));
    if (ext > 0) {
      const WindowRef w = WindowRef(GetNative32(*heap + ext + kHeapExtWindow));
      if (w) WInvalRect(w, nullptr);
    }
  }
  return err;
}

void PanelInstallDatalogHooks() {
  DatalogUIHooks ui = DatalogUI();
  ui.loggedControlCount = &PanelLoggedControlCount;
  ui.copyLoggedControls = &PanelCopyLoggedControls;
  ui.showRecord = &PanelShowLoggedRecord;
  SetDatalogUIHooks(&ui);
}
