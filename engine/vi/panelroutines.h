// Operations beside the engine that serve the object system, the VI
// window's tool bar and the menus: ring item tables kept as long as their
// texts, the key focus handed to an object's text, the label parts worked
// at run time, mark passes on two heaps at once, the content rectangle of a
// drop target, the tool bar's step flags, and palette menus.
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"
#include "mgsource/window/menus.h"

// 1 when the ring's item table or its text list was lengthened to the
// other's length; 0 when they were equally long or the ring lacks part 12
// (texts) or part 14 (item table).  Nothing is removed.
QX_EXTERN_C int32 RingSyncItemCount(ObjHeap heap, int32 ring);
// Commits the pending entry of the panel's key focus, or, without one,
// makes the panel's window the active window.
QX_EXTERN_C void FPCommitOrActivate(ObjHeap heap);
// FPCommitOrActivate, then the focus goes to the object and its text record
// (none: the focus stays) with the tool bar in its text-entry state.
QX_EXTERN_C void FPSetKeyFocus(ObjHeap heap, int32 object, void* text);
// Part ids 10, 11, 12, 16 and 22 are worked at run time; id 0 when the word
// after the part's order is 0.
QX_EXTERN_C int32 IsRunTimeEditablePart(ObjHeap heap, int32 part);
// A mark pass of kind 1 on the heap and on the second heap when one is
// given that is not the first; the end ends both the same way.
QX_EXTERN_C void OHBeginMarkPassPair(ObjHeap heap, ObjHeap second);
QX_EXTERN_C void OHEndMarkPassPair(ObjHeap heap, ObjHeap second);
// The rectangle that marks the object as a drop target: 0 (found 0) for a
// missing heap or object or a panel without window; else 1, with found 1
// for a class with a content area (the panel, refnums, arrays, clusters,
// the connector pane) and 0 otherwise (the object's bounds, or nothing for
// a heap that is not a front panel).
QX_EXTERN_C int32 GetObjContentRect(ObjHeap heap, int32 object, Rect* rect, int32* found);
// Clears flags2 bit 0x40 and redraws tool-bar slots 1 and 4
// (UpdateToolbarButton) with the images the state gives now.
QX_EXTERN_C void VIClearStepFlags(UHandle vi);

// Part ids and classes these operations read.
enum : int32 {
  kRingTextPart = 12, kRingTablePart = 14,
  kRingTextWord = 44,      // part 12: the handle of the item texts (CPStr)
  kRingItemCountAt = 36,   // part 14: int16 count, int16 current, then the items
  kRingCurrentAt = 38,
  kRingItemsAt = 40, kRingItemSize = 20,
  kPartBoundsAt = 16,      // every object: its bounds
  kPartFurtherWord = 12,   // int16 after the part's order
  kRefNumFramePart = 9, kGroupFramePart = 28,
};
enum : int32 {
  kClassFrontPanel = 76, kClassArray = 82, kClassCluster = 83, kClassRefNum = 85, kClassConnectorPane = 127,
};
constexpr int32 kSelectionPassKind = 1;
constexpr uInt32 kVIFlags2StepInto = 0x40, kVIFlags2StepOver = 0x80;

// The object system's and the shell's part, filled at start-up by their
// owners.  Without them: no part is found (rings are left alone), the
// focus cannot move, slots are not redrawn and the icon pane is empty.
struct PanelRoutineHooks {
  int32 (*findPart)(ObjHeap heap, int32 object, int32 partId, int32 order);
  // Inserts an item at the index of the ring's item table; the part's new
  // offset is written back.
  MgErr (*resizePartObject)(ObjHeap heap, int32 ring, int32* part, int32 index);
  void (*keyFocusUpdate)(ObjHeap heap, int32 object, int32 toolbar, void* text);
  void (*iconPaneRect)(ObjHeap panel, Rect* pane, Rect* icon);
  int32 (*statePnlSlotIcon)(ObjHeap panel, int32 slot);
};
void SetPanelRoutineHooks(const PanelRoutineHooks* hooks);
const PanelRoutineHooks& PanelRoutines();
