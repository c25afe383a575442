// The data messages of panel objects: where the data an object shows lies
// (OGetDataPtr, slot 41), the object's type (OGetType, slot 35) and its data
// procedure for the data manager (ODataSpace, slot 73), with the panel
// services they use.
#pragma once
#include "engine/panelrec.h"
#include "panel/objects.h"



// The modes of OGetDataPtr: 0 the data as it is, 1 the default data (after
// the value in a controller's record), 2 the operate data; 5 and 6 are 1 and
// 2 asked from inside the same heap.  Mode 0 alone may grow an array to reach
// the element its control shows.
enum : int32 {
  kDataPtrPlain = 0, kDataPtrDefault = 1, kDataPtrOperate = 2,
  kDataPtrDefaultHere = 5, kDataPtrOperateHere = 6,
};

// Where the data of the object, or of its part (0: none), lies.  With handle
// given, the data-space (or array) handle is stored there and the result is
// the offset inside it; else the absolute address.  0 when there is no data
// (and a null handle).
QX_EXTERN_C int32 OGetDataPtr(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle);
// The object's TypeID.
QX_EXTERN_C TypeID OGetType(ObjHeap heap, int32 object);

// Sends message 73: the object's data procedure builds its data-manager
// programs; non-zero when it built programs that its owner must call.
QX_EXTERN_C int32 ODataSpace(ObjHeap heap, int32 object, int32 arg);

// The address of the panel's data-space handle (word 14 of the root object);
// null, with an assertion, for a heap that is no front-panel heap or has no
// root.  The address is valid until the heap next grows.
QX_EXTERN_C UHandle* FPGetDataSpace(ObjHeap heap);

// The services of other panel layers that the data classes use, filled at
// start-up by the layers that own them.  Until then a scale has no text
// labels (null) and an embedded object no dispatch interface (0).
struct PanelDataHooks {
  // The text-label list of the scale of a slide, knob or colour ramp.
  UHandle (*slideScaleMarkerList)(ObjHeap heap, int32 part) = nullptr;
  // The automation refnum of the dispatch interface of a container's
  // embedded object (its object record), cached in the record.
  int32 (*embUpdateDispatch)(UHandle record) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
PanelDataHooks SetPanelDataHooks(const PanelDataHooks& hooks);
// The text-label list of the scale part through the hook; null without one.
UHandle PanelScaleMarkerList(ObjHeap heap, int32 part);
// The dispatch refnum of an embedded object through the hook; 0 without one.
int32 PanelEmbUpdateDispatch(UHandle record);

// Redisplays the value in the object (message 39, oDisplayVal, with flags)
// when value is given and the object has a text part (part 10, order 0),
// with the panel's key-focus object cleared for the call so that a focused
// text is rewritten too; the reply, or 0.

QX_EXTERN_C int32 DisplayValQuiet(ObjHeap heap, int32 object, const void* value, int32 flags);

// Gives the run-time locators the data message and the data manager its
// messages and class categories; called at start-up.
void PanelInstallDataHooks();
void PanelInstallDataMgrHooks();
