// New panel objects: made by class name and filled by their initialise
// message (slot 5) from a template resource, which the dialog builder hands
// out from its preloaded block (engine/vi/dlgpanel.h); the root object's
// dialog tables; and the resize message of a new object.
#pragma once
#include "mgsource/draw/dcolor.h"
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
// Whether objects of the class are made from templates at run time (the
// classes whose initialisation is an assertion are not).
bool ClassCreatableAtRunTime(int32 cls);
// The resize message (slot 25) of the panel classes (panel/objsize.cpp);
// null where the class's own comes from the controls.
ObjMethodAddr OSizeMethodFor(int32 cls);
// The resize message with no size: the object's bounds grow to take in its
// parts' bounds.
QX_EXTERN_C void OSizeToParts(ObjHeap heap, int32 object);
// Disposes a new object: its parts (and a listbox's label), its type, what
// its unload message releases, then its block.
void DisposeObjectTree(ObjHeap heap, int32 object);
// Whether the class is `base` or derives from it.
bool ClassIsKindOf(int32 cls, int32 base);

// The template layouts these initialisations read (byte offsets).
enum : int32 {
  kTplFlags = 0, kTplHalf4 = 4, kTplHalf6 = 6, kTplHalf7 = 8,
  kDDODPartCount = 10, kDDODParts = 12, kDDODPartSize = 8,
  kCosmRect = 12, kTplFore = 20, kTplBack = 24, kTplImageKind = 28, kCosmFixedSize = 36,
  // "Labl": the font word (first byte the kind, second a predefined font's
  // index), the text mode, then the text as a padded Pascal string.
  kLablFont = 36, kLablMode = 48, kLablText = 52, kLablFixedSize = 53,
  // "BCos": the image count, then per image a rectangle, two colours and
  // the (kind, number) pair.
  kBCosCount = 12, kBCosEntries = 16, kBCosEntrySize = 24,
};
// Object fields the initialisations fill (byte offsets).
enum : int32 {
  kObjCosmFore = 28, kObjCosmBack = 32,   // cosmetics' colours (words 7 and 8)
  kBooleanHalf16 = 32,
  kNumericFormat = 40,              // half-word 20
  kRingHalf28 = 56,
  kListboxLabel = 48, kListboxMode = 52,
  kDCOCrossList = 8, kDCOType = 12, kDCODisplay = 20,
  kRootPanelColour = 60,            // word 15
};
constexpr uInt32 kListboxModeMask = 0xBC0B, kListboxMultiple = 0x2000;
constexpr uInt32 kRingItemsPlaced = 0x10000;
constexpr int32 kListboxRowsStd = 42;
constexpr int32 kDefaultButtonTemplate = 3130;
constexpr int32 kPredefinedFonts = 3;  // application, system, dialog
constexpr int16 kViKindCrossList = 2;
constexpr int16 kViKindNoNewObjects = 7;
constexpr DColor kDefaultPanelColour = 0xB3B3B3;

// The words of the "Front Panel" root object these steps fill: the list of
// its data controllers (the dialog items, in item order), the list of its
// top-level objects, and the key-navigation table (a count of 55, then one
// object per slot, 0 for none).
enum : int32 { kRootItemList = 40, kRootObjectList = 4 * kRootObjectListWord, kRootKeyNav = 68 };
constexpr int32 kKeyNavSlots = 55;
// The object's leading half-words 4 to 7 (bytes 8 to 15).
enum : int32 { kObjHalf4 = 8, kObjHalf5 = 10, kObjHalf6 = 12, kObjHalf7 = 14 };

// The listbox row-height step of the controls, filled at start-up: nonzero
// when the listbox's row height changed (none installed: no change).
typedef int32 (*ListboxRowHeightProc)(ObjHeap heap, int32 listbox);
void SetListboxRowHeightHook(ListboxRowHeightProc proc);
ListboxRowHeightProc ListboxRowHeightHookInUse();

// The dialog builder's steps of the object system, filled at start-up.
void PanelInstallDialogHooks();
// One 20-byte item inserted into a ring's item table at the index (the part
// is re-created larger and its new offset written back; the new item becomes
// current); and its registration, with the key focus's move
// (FPKeyFocusUpdate), with the engine's panel routines.
QX_EXTERN_C MgErr ResizePartObject(ObjHeap heap, int32 ring, int32* part, int32 index);
void PanelInstallRoutineHooks();
