// What the value display and the drawing of panel objects share: the data
// space of a panel checked before it is read, the display type of an
// object, and the cells of an array's visible grid that one element object
// shows in turn.  Objects and records come from VI files: every word is
// checked before it is used.  User-interface thread only.
#pragma once
#include "engine/datatype.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"

// The descriptor of a type ID of the panel (typedefs looked through); null
// when it names none.
const TypeDescriptor* PanelTypeOf(ObjHeap heap, TypeID id);
// The panel's data space (the root's); null, asserted in the caller's name
// (source file and text), when there is none.
UHandle PanelDataSpaceOrAssert(ObjHeap heap, const char* source, int32 line, const char* who);
// Whether count bytes at offset lie in the data space above its header.
bool PanelInData(UHandle ds, int32 offset, int32 count);

// The array's visible grid and the cell its element shows, each row and
// column count pinned to 1..16000 and the cell into the grid.
struct ArrayGrid {
  int32 rows, columns, row, column;
};
ArrayGrid ArrayGridOf(ObjHeap heap, int32 array);
// Records the cell the element shows (the array's word 12).
void SetArrayShownCell(ObjHeap heap, int32 array, int32 row, int32 column);
// The element's cell: its bounds, one pixel larger on each side for an
// array whose cells overlap.
Rect ArrayCellRect(ObjHeap heap, int32 element, bool wide);
// A part's background colour (transparent for a part without one).
DColor PartBackColour(ObjHeap heap, int32 part);
// Greys a cell beyond the data in the background (0xB3B3B3 when that is
// transparent).
void GreyArrayCell(const Rect& cell, DColor background);
// The descriptor of the array's selection record (a cluster of three
// handles and the default element), null unless the array's words name
// that entry of the data space.
const TypeDescriptor* ArraySelectionRecord(ObjHeap heap, int32 array);
// The array's default element: the value after the three handles of its
// selection record; -1, asserted in the caller's name, when the record is
// not there.
int32 ArrayDefaultElementOffset(ObjHeap heap, int32 array, UHandle ds, const char* source, int32 line,
                                const char* who);
// Draws the edges of the array's selection that pass along the cell the
// element shows (0x0000FF; black on black-and-white ports).
void DrawCellSelection(ObjHeap heap, int32 array, UHandle ds, const Rect& cell);
// The text being edited in a cell follows the element back to its own
// cell: moved by (dh, dv) when its moved rectangle meets the cell, and
// handed back to the element.
void FollowPendingText(ObjHeap heap, int32 element, UHandle pending, int32 dh, int32 dv, const Rect& cell);
// What the walks over an array's cells switch off until their last cell:
// the generic step of drawing (gDDODrawEnabled) and the tracked object and
// state.  BeginCellWalk saves and clears them, EndCellWalk puts them back.
struct CellWalkSaved {
  int32 drawing;
  ObjHeap trackHeap;
  int32 trackObject, trackState;
};
CellWalkSaved BeginCellWalk();
void EndCellWalk(const CellWalkSaved& saved);
