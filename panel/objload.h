// The load (slot 12) and unload (slot 13) messages of the panel classes:
// each object reads its own resources from the VI file under the numbers
// after its resource number and binds its data offsets to the VI's data
// space; unloading releases what loading made.  The heap-level steps that
// send them are the engine's (engine/vi/objload.h).
#pragma once
#include "panel/objects.h"



// The sending entry points.
QX_EXTERN_C int32 OLoad(ObjHeap heap, int32 object);
QX_EXTERN_C int32 ODispose(ObjHeap heap, int32 object);

// The load and unload methods of a class; the slot's default (NullMethod or
// ErrorMethod) for a class without one.
ObjMethodAddr OLoadMethodFor(int32 cls);
ObjMethodAddr ODisposeMethodFor(int32 cls);
// The common steps of display objects: the description read from the VI
// file (0 or the read's error), and released.
QX_EXTERN_C int32 OLoadDescription(ObjHeap heap, int32 object);
QX_EXTERN_C int32 OUnloadDescription(ObjHeap heap, int32 object);

// The graph service that tells whether a label is the string of a graph's
// cursor legend (the graph out, or null); filled at start-up by the
// controls, answering 0 until then.
typedef int32 (*CursorLegendProc)(ObjHeap heap, int32 object, int32* graph);
void SetCursorLegendHook(CursorLegendProc proc);
CursorLegendProc CursorLegendHookInUse();

// The callback words that a loaded Tag holds: a global value and the
// procedure the tag calls.
extern int32 gTagCallbackValue;
QX_EXTERN_C int32 TagCallbackProc(ObjHeap heap, int32 object, int32 value);

// Object words that the load steps set (byte offsets).
enum : int32 {
  kObjDescription = 28,     // display objects: the description handle (stored: nonzero when there is one)
  kObjImage = 24,           // cosmetics: the image reference
  kObjText = 36,            // labels: the text record
  kObjStringList = 44,      // multi-labels: the string list
  kObjImageCount = 36,      // multi-cosmetics: int16 count, int16 current index
  kObjImageIndex = 38,
  kObjImageList = 40,       // multi-cosmetics: the image references (big ones: 20-byte entries)
  kBigImageEntry = 20,
  kBigImageRef = 16,        // the image reference inside a big entry
  kTableFonts = 68,         // Table: the font handle (count, then font numbers)
  kTagCallbackValueWord = 44, kTagCallbackProcWord = 48,
  kRootDataSpace = 56,      // Front Panel: the bound data space
  kRootRegion = 64,         // Front Panel: its region
  kDCOFlags16 = 16,         // FrontPanelDataController: 16-bit flag word
  kGraphKind = 98,          // Graph/Chart: unsigned 16-bit kind
};
// Object flag bits the load steps change.
enum : uInt32 {
  kObjFlagDataProc = 0x8000,
  kObjFlagRingItems = 0x80000,
  kObjFlagSlideLoaded = 0x400000,
  kObjFlagChart = 0x1000000,
};
