// Dialog panels built from one preloaded panel block: a handle holding the
// dialog's title, origin, object records with the templates (sub-resources)
// their initialisation reads, the dialog items and the key navigation.
//
// The block, in file order (converted as a whole to memory order first):
//   0   8 bytes   header words not used here
//   8   4         origin: v, h (the whole word is also kept in the panel)
//   12  20        header words not used here
//   32  1+n       title (Pascal string, padded to a multiple of 4)
//       4         k, the number of object records
//       ...       k records: length (counted from its own start), the class
//                 name (Pascal string, padded), the count of sub-resources,
//                 then the sub-resources: length (from its own start), type,
//                 data
//       4+4m      the dialog items: m, then m object numbers (0-based)
//       4+4*55    optional key navigation: 55, then 55 object numbers or -1
//
// Every count, length and object number is checked against the block: a
// block that does not hold together is refused whole, before any object is
// made.  Building runs on the user-interface thread, one block at a time.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"

// Builds the dialog panel into the heap: 0, or 1 when the block is missing,
// does not convert or hold together, or an object cannot be made or
// initialised (the objects made so far stay in the heap, which the caller
// disposes).
QX_EXTERN_C int32 LoadDlgPanel(ObjHeap panel, UHandle block);

// A template for an object's initialisation.  Id -1 takes the next
// sub-resource of the object being built from a block, which must be of the
// type asked for; any other id reads the resource from the run-time resource
// file.  None (null) for id 0, for -1 outside a build or past the object's
// last sub-resource or of another type, and for a resource that cannot be
// read.  Release what it gives with ReleasePreloadedRsrc.
QX_EXTERN_C void* GetPreloadedRsrc(uInt32 type, int32 id);
// The same with the size of the data.
void* GetPreloadedRsrcSized(uInt32 type, int32 id, int32* size);
// Releases a template: nothing for one inside the block being built; a
// pointer it did not give out (or gave and took back) is refused.
QX_EXTERN_C void ReleasePreloadedRsrc(void* data);

// The object kind new dialog objects are made with.
constexpr uInt32 kDlgObjectKind = FourCC("QXCT");
constexpr int32 kDlgKeyNavSlots = 55;
constexpr int32 kDlgTitleAt = 32, kDlgOriginAt = 8;
// Classes the builder treats apart: a label is resized after it is made,
// and display objects other than groupers lose flag bit 15.
constexpr int32 kDlgClassLabel = 10, kDlgClassDisplay = 77, kDlgClassGrouper = 172;
constexpr uInt32 kDlgClearedFlag = 0x8000;

// The object system's part of the build, filled at start-up by its owner.
// Without it no object can be made and every block with objects is refused.
struct DlgPanelHooks {
  // A new object of the class name, made with the object kind; 0 on failure.
  int32 (*newObject)(ObjHeap heap, ConstPStr className, uInt32 kind);
  // The initialise message with no data and the resource id: the object,
  // or 0 after it disposed the object.
  int32 (*initObject)(ObjHeap heap, int32 object, int32 rsrcId);
  // The resize message with no size.
  void (*resizeObject)(ObjHeap heap, int32 object);
  // Appends the object to the children of the panel's top object.
  MgErr (*addChild)(ObjHeap heap, int32 object);
  // Whether the object's class is the class or derives from it.
  Bool32 (*isKindOf)(ObjHeap heap, int32 object, int32 cls);
  // The dialog-item table (item i + 1 is objects[i]) and the key-navigation
  // slots (0 for an empty slot).
  MgErr (*setDialogItems)(ObjHeap heap, const int32* objects, int32 count);
  MgErr (*setKeyNavigation)(ObjHeap heap, const int32* objects, int32 count);
  // Recomputes the panel's bounds (marked stale first) into *bounds.
  void (*panelBounds)(ObjHeap heap, Rect* bounds);
};
void SetDlgPanelHooks(const DlgPanelHooks* hooks);
const DlgPanelHooks& DlgPanel();
