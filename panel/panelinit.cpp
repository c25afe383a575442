// The object system's registration with the engine at start-up.
#include "engine/dsalloc.h"
#include "engine/vi/objload.h"
#include "engine/vi/viload.h"
#include "panel/blink.h"
#include "panel/ctlattr.h"
#include "panel/objimage.h"
#include "panel/fppanel.h"
#include "panel/fptransfer.h"
#include "panel/loggedctls.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/printparts.h"

void PanelInstallEngineHooks() {
  // Heap conversion reaches the panel classes' converters (slot 1).
  const ObjClassRecord* const* table = ClassIdTable();
  for (int32 cls = 0; cls < kClassIdCount; ++cls) {
    ObjSwapProc own = ObjSwapForClass(cls);
    if (own && reinterpret_cast<ObjMethodAddr>(own) == table[cls]->methods[kMsgOSwap]) SetObjSwapProc(cls, own);
  }
  EnginePanelHooks hooks{};
  hooks.oAllocate = &OAllocate;
  hooks.newPairTable = &NewPairTable;
  hooks.initTransactionStack = &TRInit;
  hooks.newPanelRoot = &FPNewPanelRoot;
  hooks.commitKeyFocus = &FPCommitKeyFocus;
  hooks.transferAllControls = &FPTransferAllControls;
  hooks.newUpdateQueue = &NewUpdateQueue;
  hooks.disposeUpdateQueue = &DisposeUpdateQueue;
  hooks.clearPanelClipboard = &ClearPanelClipboard;
  SetEnginePanelHooks(&hooks);
  ObjLoadHooks load{&OLoad, &ODispose};
  SetObjLoadHooks(&load);
  // What loading a VI's panel heap asks of the object system.
  VILoadPanelHooks panel = VILoadPanel();
  panel.setBadClassHook = &SetBadClassHook;
  panel.checkPanelObjects = &CheckStoredPanelObjects;
  panel.clearBadClassHook = &ClearBadClassHook;
  panel.clearImageTable = [](ObjHeap) { FPClearImageTable(); };
  panel.clearUndoRecords = &ClearUndoRecords;
  panel.emptySelection = &FPEmptySelection;
  panel.trPushFrame = &TRPushFrame;
  panel.trStackTop = &TRStackTop;
  panel.trSetStackTop = &TRSetStackTop;
  panel.oDoit = &ODoit;
  panel.getObjAttrRec = &GetObjAttrRec;
  panel.blinkAddHeap = &BlinkAddHeap;
  SetVILoadPanelHooks(&panel);
  PanelInstallLinkHooks();
  PanelInstallRunHooks();
  PanelInstallDataHooks();
  PanelInstallDialogHooks();
  PanelInstallRoutineHooks();
  PanelInstallDatalogHooks();
  PanelInstallPrintHooks();
  PanelInstallAttrTables();
}
