// What the dialogs of the shell ask of the object system, and the dialog
// events the panel code sends to the shell: the program fills both at
// start-up (the shell does not link the object system).
#pragma once
#include "controls/listbox.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/dlghelpparts.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "shell/dialog.h"

inline DlgPanelServices AppDialogServices() {
  DlgPanelServices s{};
  s.findPart = &FindPart;
  s.getDataPtr = &OGetDataPtr;
  s.getType = [](ObjHeap heap, int32 object) -> uInt32 { return uInt32(OGetType(heap, object)); };
  s.displayVal = &oDisplayVal;
  s.size = &OSize;
  s.inval = &OInval;
  s.commitKeyFocus = &FPCommitKeyFocus;
  s.releaseKeyFocus = &FPReleaseKeyFocus;
  s.setKeyFocus = [](ObjHeap heap, int32, int32 object, int32 start, int32 end) {
    return FPSendKeyToObj(heap, object, start, end);
  };
  s.rebindTransferEntry = &FPRebindTransferEntry;
  s.setPartText = &SetPartText;
  s.ringInsertItem = &RingInsertItem;
  s.ringRemoveItem = &RingRemoveItem;
  s.ringSetItemText = &RingSetItemText;
  s.isBoolTracking = &IsBoolTracking;
  s.offset = &OOffset;
  s.getRect = &OGetRect;
  s.partFont = [](ObjHeap heap, int32 part) -> int32 {
    TRecord text = PartTextRecord(heap, part);
    return text ? TGetFont(text) : 0;
  };
  s.helpPartsTransparent = &DlgHelpPartsTransparent;
  // The listbox's own operations serve the dialogs' lists.
  s.listSetItemCount = &ListboxSetItemCount;
  s.listFixItemFlags = [](void* entry) { ListboxFixItemFlags(static_cast<::ListboxItem*>(entry)); };
  s.listScrollBy = [](ObjHeap heap, int32 listbox, int32 index) {
    return ListboxScrollToItem(heap, listbox, index, 0, nullptr);
  };
  s.listDrawScrollBar = &ListboxSyncScrollBar;
  return s;
}

// The shell's senders and key slots in the panel's hooks.
inline void AppFillDialogSenders(PanelShellHooks* hooks) {
  hooks->dlgSendItemChange = &DlgItemChangeToFilter;
  hooks->dlgSendItemClick = [](ObjHeap heap, int32 object, int32 code, ActionParams* record) {
    return DlgItemClickToFilter(heap, object, code, record);
  };
  hooks->dlgSendItemKey = &DlgItemKeyToFilter;
  hooks->dlgGetKeyNavItem = &DlgKeyNavItem;
}
