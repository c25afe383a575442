// What the VI server's application properties and VI methods ask of the
// shell, the panels and the automation client: the program fills it at
// start-up (the server links none of them).
#pragma once
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/objheap.h"
#include "olesource/olevar.h"
#include "panel/datamsg.h"
#include "panel/fptransfer.h"
#include "panel/objects.h"
#include "panel/paneldisplay.h"
#include "panel/transact.h"
#include "server/srvhooks.h"
#include "shell/extshell.h"
#include "shell/filedlg.h"
#include "shell/prefdlg.h"
#include "shell/shellinit.h"

inline void AppInstallServerUIHooks() {
  constexpr int32 kReinitialiseAction = 42;
  ServerUIHooks h{};
  h.findCtlByLabel = &FindCtlByLabel;
  h.labelText = &PanelControlLabel;
  h.controlAt = &PanelControlAt;
  h.controlType = [](ObjHeap heap, int32 control) -> const TypeDescriptor* {
    const TypeID id = DCOTypeID(reinterpret_cast<UHandle>(heap), control);
    return id ? TypeIDToTD(heap, id) : nullptr;
  };
  // A control is an indicator when its controller or the object it shows
  // carries the flag.
  h.isIndicator = [](ObjHeap heap, int32 control) -> Bool32 {
    const auto flags = [heap](int32 object) {
      return object > 0 && OHBlockSize(heap, object) >= 4 ? OHWord(heap, uInt32(object)) : 0u;
    };
    const int32 display = OHBlockSize(heap, control) >= 4 * (kPWDCODisplay + 1)
                              ? int32(OHWord(heap, uInt32(control + 4 * kPWDCODisplay)))
                              : 0;
    return ((flags(control) | flags(display)) & kObjFlagIndicator) ? 1 : 0;
  };
  h.operateData = [](ObjHeap heap, int32 control) -> void* {
    return reinterpret_cast<void*>(uintptr_t(uInt32(OGetDataPtr(heap, control, 0, kDataPtrOperate, nullptr))));
  };
  // The new value is shown, then written where the diagram reads it.
  h.showValue = [](ObjHeap heap, int32 control, const void* old) {
    const void* value =
        reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, control, 0, kDataPtrOperate, nullptr))));
    if (value) PanelDisplayValues(heap, control, old, value);
    FPUpdateTransferSlot(heap, control);
  };
  // The panel's actions travel with a parameter block, which this one does
  // not read.
  h.reinitialise = [](ObjHeap heap) {
    ActionParams params{};
    return TRSendAction(heap, nullptr, kReinitialiseAction, &params);
  };
  h.toVariant = [](const void* data, const TypeDescriptor* td, void* variant) {
    return OleDataToVariant(data, td, 0, static_cast<PlatVariant*>(variant));
  };
  h.fromVariant = [](const void* variant, void* data, const TypeDescriptor* td) {
    return OleVariantToData(static_cast<const PlatVariant*>(variant), data, td);
  };
  h.versionText = &ShellVersionText;
  h.getDefaultDir = &FDGetDefaultDir;
  h.setDefaultDir = &FDSetDefaultDir;
  h.writeAccessList = [](Bool32 tcpList, CPStrHandle list) { return PrefWriteAccessKey(tcpList != 0, list); };
  SetServerUIHooks(h);
}
