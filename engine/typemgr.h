// The type heap: every type descriptor that a loaded VI uses lives once,
// interned, in one object heap of the whole process (kind "DTHP").  A VI
// holds type numbers (TypeID, 1-based: TypeID n is entry n - 1 of the VI's
// current type list, 0 is no type) whose entries name the interned
// descriptor objects; equal descriptors of different VIs are stored once.
// Descriptors that no VI names any more are freed by a garbage collection.
//
// Heap layout:
// - the heap extension (class 126, 132 bytes) holds at byte 100 the offset of
//   the VI list and at byte 104 the offset of the shared list, both offset
//   lists (class 7) rewritten whenever a list moves;
// - the shared list: the interned descriptor objects (class 131, a block of
//   exactly the descriptor's size), sorted by CompareHeapTDs; element 0 is a
//   copy of the void descriptor and is never collected;
// - the VI list: one InstrumentTypeRecord (class 130) per registered VI, in
//   registration order: the VI's record handle, its list of type lists and
//   its current type list.  The VI record caches its position in the VI list
//   (kVITypeHeapIndex), rewritten after every change of the list.
//
// The type heap has no lock: it is used on the thread that loads, creates
// and disposes VIs.  Pointers into it (TypeIDToTD, FindTypeIDEntry) are valid
// until the next allocation in it.
#pragma once
#include "engine/datatype.h"
#include "engine/objswap.h"
#include "engine/vi/virecord.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/objlist.h"
#include "mgsource/rsrc.h"

// The heap.
constexpr uInt32 kTypeHeapKind = FourCC("DTHP");
constexpr int32 kTypeHeapDataSize = 2000;
constexpr int32 kHeapExtensionSize = 132;
// Bytes of the heap extension that belong to the type heap.
constexpr int32 kTypeHeapExtVIList = 100;
constexpr int32 kTypeHeapExtSharedList = 104;
// The heap extension of a panel heap (33 words): byte offsets of the words
// that the engine and the panel code read.
enum : int32 {
  kHeapExtRoot = 0,            // offset of the root object ("Front Panel")
  kHeapExtOwner = 4,           // the VI record that owns the heap
  kHeapExtSelection = 8,       // offset of the selection list, 0 for none
  kHeapExtKeyFocus = 16,       // offset of the key-focus object, 0 for none
  kHeapExtFocusText = 20,      // the text record of the key-focus object
  kHeapExtStashedText = 24,    // the text record set aside by a stashed entry
  kHeapExtConfirm = 28,        // the panel's confirm record
  kHeapExtSavedFrames = 32,    // handle of the transaction frames saved with the key focus
  kHeapExtWindow = 40,         // the window that shows the heap, 0 for none
  kHeapExtContentRect = 56,    // words 14 and 15: the content rectangle
  kHeapExtPanelBounds = 64,    // words 16 and 17: the cached panel bounds
  kHeapExtContentOrigin = 72,  // the content's top-left corner in global coordinates
  kHeapExtDialogFilter = 80,   // the dialog filter procedure, 0 unless the panel is a dialog
  kHeapExtDialogData = 88,     // the word a dialog hands its filter on every call
  // Two 16-bit window option words.  The first: the window's part flags (1
  // horizontal scroll bar, 2 vertical scroll bar, 4 icon pane, 8 tool bar,
  // 16 own menu bar, 128 a dialog's) and how it is placed (32 centred, 64
  // filling the screen); the second: the window's style (WCreate).
  kHeapExtWindowOptions = 84,
  kHeapExtWindowStyle = 86,
  kHeapExtMenuBar = 92,        // the menu bar drawn in the window
  kHeapExtUndo28 = 112,        // an undo record
  kHeapExtBlinkList = 116,     // the panel's blink list
  kHeapExtUndo30 = 120,        // undo records
  kHeapExtUndo31 = 124,
};
// The window part flag (first option word) that the dialog manager sets on
// its dialogs: the panel refuses right-button pop-up menus.
constexpr uInt16 kWindowPartNoPopups = 0x80;
// The VI record that owns a front-panel heap (heap extension word 1); null
// for another kind of heap or one without owner.
UHandle PanelHeapOwner(ObjHeap heap);
// The kind of a front-panel heap.
constexpr uInt32 kPanelHeapKind = FourCC("FPHP");

// The record of a VI in the type heap (descriptor objects are of class
// kClsTypeDescriptor, the extension of class kClsObjHeapHdrExtension).
constexpr int32 kObjClassInstrTypeRec = 130;
constexpr int32 kInstrTypeRecSize = 12;

// The words of an InstrumentTypeRecord (byte offsets).
enum : int32 {
  kITRVI = 0,           // the VI's record handle
  kITRTypeLists = 4,    // offset of the list of type lists
  kITRCurrentList = 8,  // offset of the current type list
};

// Mark-pass kinds on the type heap and on a loaded 'DTHP' heap.
enum : int32 { kMarkPassLoadTypes = 7, kMarkPassTypeGarbage = 9 };

// The resource that holds a VI's saved types: an object heap in file order
// whose shared-list word names the VI's saved type list.
constexpr ResType kTypeHeapRsrcType = FourCC("DTHP");

// The byte offset in a VI record of its cached position in the VI list (a
// memory-only word of the record).
constexpr int32 kVITypeHeapIndex = offsetof(VIRecord, typeHeapIndex);
static_assert(kVITypeHeapIndex == 104, "the VI list position lies at byte 104 of the VI record");

// The generic error of the type heap.
constexpr MgErr kTypeHeapErr = 42;

// The type heap's handle (null before TypeHeapInit).
ObjHeap TypeHeap();

QX_EXTERN_C MgErr TypeHeapInit();
// Disposes the type heap at shut-down; TypeHeapInit makes a new one.
void TypeHeapDispose();

// VIs.  vi is the handle of the VI's record.
QX_EXTERN_C MgErr RegisterVI(UHandle vi);
QX_EXTERN_C MgErr UnregisterVI(UHandle vi);
QX_EXTERN_C int32 FindInstrTypeRec(UHandle vi);
// True when the VI is registered (without FindInstrTypeRec's debug text).
Bool32 VIHasTypeRec(UHandle vi);
QX_EXTERN_C void RenumberInstrTypeRecs();

// Loads the VI's saved types from its 'DTHP' resource of the given id, right
// after RegisterVI: 0 with the found flag 0 when the file has none; 1 when
// the resource is malformed, 2 when memory runs out, else the resource
// manager's error.  On any failure every VI's lists are as they were, and a
// malformed resource leaves the type heap untouched.
QX_EXTERN_C MgErr LoadVITypes(UHandle vi, int32 rsrcId, RsrcFileRef rsrcFile, Bool32* found);
// The same from a detached 'DTHP' handle in file order, which it takes over
// (it is disposed in every case).
MgErr LoadVITypesFromHandle(UHandle vi, UHandle stored);

// Type IDs of the VI that owns a panel heap ("FPHP").  Selector 0 names the
// current type list (the only one supported).
QX_EXTERN_C int32* FindTypeIDEntry(ObjHeap panel, TypeID id, int32 selector);
QX_EXTERN_C int32 TypeIDEntryValue(ObjHeap panel, TypeID id, int32 selector);
QX_EXTERN_C TypeDescriptor* TypeIDToTD(ObjHeap panel, TypeID id);
QX_EXTERN_C TypeDescriptor* TypeIDGetTD(ObjHeap panel, TypeID id, int32 selector);
QX_EXTERN_C MgErr RegisterTypeID(UHandle vi, int32 tdObject, TypeID* id);
// A new type ID of dst's VI naming the descriptor of the model type ID of
// src's VI, or the void descriptor when model is 0; 0 when it fails.
QX_EXTERN_C TypeID AllocTypeID(ObjHeap dst, ObjHeap src, TypeID model);
QX_EXTERN_C void ReleaseTypeID(ObjHeap panel, TypeID id);
// Descriptors of 64 KB or more (size field 0xFFFF) have no place in the type
// heap: SetTypeIDTDPtr answers 1 for them, NewTypeIDForTD and InternTD 0,
// and nothing is changed.
QX_EXTERN_C MgErr SetTypeIDTDPtr(ObjHeap panel, TypeID id, TypeDescriptor* td);
QX_EXTERN_C MgErr SetTypeIDTD(ObjHeap panel, TypeID id, int32 tdObject);
// Replaces the type ID's descriptor by a copy carrying the name (no name for
// an empty or null one).
QX_EXTERN_C MgErr SetTypeIDName(ObjHeap panel, TypeID id, ConstPStr name);
QX_EXTERN_C TypeID NewStdTypeID(ObjHeap panel, int32 stdIndex);
QX_EXTERN_C TypeID NewTypeIDForTD(ObjHeap panel, const TypeDescriptor* td);

// Descriptors.  NewTDObject: a descriptor object of 1..65,535 bytes, 0 when
// memory is full.  InternTD normalises the descriptor's pad bytes in place
// and returns the offset of the interned equal descriptor (0: memory full).
QX_EXTERN_C int32 NewTDObject(int32 size);
QX_EXTERN_C int32 InternTD(TypeDescriptor* td, Bool32* alreadyThere);
QX_EXTERN_C int32 TDToTypeHeap(TypeDescriptor* td);
// The order of a descriptor against a shared-list element (a pointer to the
// element's offset): sizes as unsigned 16-bit values first, then the bytes.
QX_EXTERN_C int32 CompareHeapTDs(const void* td, const void* element);

QX_EXTERN_C void CollectTypeHeapGarbage();
