// New panel objects: made by class name and filled by their initialise
// message (slot 5) from a template resource, which the dialog builder hands
// out from its preloaded block (engine/vi/dlgpanel.h); the root object's
// dialog tables; and the resize message of a new object.
#pragma once
#include "panel/objects.h"



// A new object, cleared, of the class of that name: a built-in class, or one
// the link table knows under the reference class (loaded when absent); 0
// when no class with a record has that name or the heap is full.
QX_EXTERN_C int32 NewObjectByClassName(ObjHeap heap, ConstPStr className, uInt32 refClass);
// Message 5: fills the object from its template of the resource id; the
// object, or 0 after the object (and what it made) was disposed.
QX_EXTERN_C int32 OInit(ObjHeap heap, int32 object, Point where, int32 rsrcId);
// The second entry point of message 5, for an object made elsewhere.
QX_EXTERN_C int32 OInitObject(ObjHeap heap, int32 object, Point where, int32 rsrcId);
ObjMethodAddr OInitMethodFor(int32 cls);
// The resize message with no size: the object's bounds grow to take in its
// parts' bounds.
QX_EXTERN_C void OSizeToParts(ObjHeap heap, int32 object);
// Whether the class is `base` or derives from it.
bool ClassIsKindOf(int32 cls, int32 base);

// The template layouts these initialisations read (byte offsets).
enum : int32 {
  kTplFlags = 0, kTplHalf4 = 4, kTplHalf6 = 6, kTplHalf7 = 8,
  kDDODPartCount = 10, kDDODParts = 12, kDDODPartSize = 8,
  kCosmRect = 12, kCosmFixedSize = 36, kLablFixedSize = 53,
};

// The words of the "Front Panel" root object these steps fill: the list of
// its data controllers (the dialog items, in item order), the list of its
// top-level objects, and the key-navigation table (a count of 55, then one
// object per slot, 0 for none).
enum : int32 { kRootItemList = 40, kRootObjectList = 44, kRootKeyNav = 68 };
constexpr int32 kKeyNavSlots = 55;
// The object's leading half-words 4 to 7 (bytes 8 to 15).
enum : int32 { kObjHalf4 = 8, kObjHalf5 = 10, kObjHalf6 = 12, kObjHalf7 = 14 };

// The dialog builder's steps of the object system, filled at start-up.
void PanelInstallDialogHooks();
// One 20-byte item inserted into a ring's item table at the index (the part
// is re-created larger and its new offset written back; the new item becomes
// current); and its registration, with the key focus's move
// (FPKeyFocusUpdate), with the engine's panel routines.
QX_EXTERN_C MgErr ResizePartObject(ObjHeap heap, int32 ring, int32* part, int32 index);
void PanelInstallRoutineHooks();
