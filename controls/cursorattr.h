// The cursor properties of a graph: the active cursor, its members one by
// one or as a cluster, the whole cursor list and the selected cursors.  A
// write keeps the cursor's record, legend row, drawing and snapping in step.
// User-interface thread only.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"

// Sub-indices of the cursor property set.
enum : int32 {
  kCursPropActive = 0, kCursPropCluster = 1, kCursPropName = 2, kCursPropColour = 3, kCursPropStyle = 4,
  kCursPropPoint = 5, kCursPropShowName = 6, kCursPropDrag = 7, kCursPropLock = 8, kCursPropPlot = 9,
  kCursPropIndex = 10, kCursPropPosition = 11, kCursPropX = 12, kCursPropY = 13, kCursPropList = 14,
  kCursPropSelected = 15,
};
// Change marks a write collects.
enum : int32 {
  kCursMarkDrag = 0x1, kCursMarkName = 0x4, kCursMarkColour = 0x8, kCursMarkStyle = 0x10, kCursMarkPoint = 0x20,
  kCursMarkShowName = 0x40, kCursMarkLock = 0x100, kCursMarkPlot = 0x200, kCursMarkIndex = 0x400,
  kCursMarkX = 0x1000, kCursMarkY = 0x2000,
};

// Reads property sub of the active cursor into value (descriptor td); an
// active cursor outside the list reads the record the cursor legend shows.
// 0, or 16 when a string cannot be resized.
QX_EXTERN_C int32 GetCursorAttr(ObjHeap heap, int32 graph, const TypeDescriptor* td, void* value, int32 sub,
                                int32 active);
// Writes property sub of the active cursor: reply flags (0x20000 a legend
// display was invalidated, 16 memory ran out).
QX_EXTERN_C int32 SetCursorAttr(ObjHeap heap, int32 graph, const TypeDescriptor* td, void* value, int32 sub,
                                int32 active, Bool32 noDisplay, Bool32 defer);
// The whole list as a 1-D array of 10-member clusters (td the array's).
QX_EXTERN_C MgErr ReadCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array);
QX_EXTERN_C MgErr WriteCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array,
                               Bool32 noDisplay, Bool32 defer);
// The indices of the selected cursors, ascending (a 1-D numeric array).
QX_EXTERN_C MgErr ReadSelectedCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array);
QX_EXTERN_C MgErr WriteSelectedCursors(ObjHeap heap, int32 graph, const TypeDescriptor* td, UHandle* array,
                                       Bool32 noDisplay, Bool32 defer);
