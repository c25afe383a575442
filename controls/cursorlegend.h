// The cursor legend of a graph as other parts of the system ask about it.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// Nonzero when the object is the string of a graph's cursor legend: a text
// part (part id 11) of a String (class 81) inside a Cluster (83) inside an
// Array (82) of part id 8014; the graph (the array's owner) goes to *graph
// when given.  Owner words that name no object of the heap answer 0.
QX_EXTERN_C int32 IsCursorLegendString(ObjHeap heap, int32 object, int32* graph);

// Gives the object system the graph services it asks for; called at start-up.
void ControlsInstallPanelHooks();

// ---- The cursor legend's rows and the cursor movement control -----------------------
// Row bits of UpdateCursorLegendRow: the displays to refresh (x, y, z, the
// selected indicator), forced for any cursor, invalidate, write.
enum : int32 {
  kLegendRowX = 0x1, kLegendRowY = 0x2, kLegendRowZ = 0x4, kLegendRowSelected = 0x8,
  kLegendRowForce = 0x10, kLegendRowInval = 0x20, kLegendRowWrite = 0x40,
};
// Moves the legend's element object to the cell of the cursor when that
// cell is visible (1); 0, nothing moved, otherwise.  *previous (when given)
// gets the index the element stood for before.
QX_EXTERN_C int32 ShowCursorLegendRow(ObjHeap heap, int32 legend, int32 cursorIndex, int32* previous);
typedef void (*CursorLegendRowProc)(ObjHeap heap, int32 element, uChar* cursor, void* arg);
// Walks the visible cells, columns fastest, moving the element object to
// each and calling proc with the record it shows (null without a list).
QX_EXTERN_C void ForEachCursorLegendRow(ObjHeap heap, int32 legend, UHandle list, CursorLegendRowProc proc,
                                        Bool32 force, void* arg);
// The legend's part 28 and 1 when the legend and that part are shown; else
// an empty rectangle and 0.
QX_EXTERN_C int32 CursorLegendRowsRect(ObjHeap heap, int32 graph, Rect* out);
QX_EXTERN_C void InvalCursorLegendIcons(ObjHeap heap, int32 graph);
QX_EXTERN_C void DrawCursorStyleIcon(ObjHeap heap, int32 element, uChar* cursor, int32 graph);
QX_EXTERN_C void InvalCursorStyleIcon(ObjHeap heap, int32 element, uChar* cursor, const Rect* rect);
QX_EXTERN_C void UpdateCursorLegendValues(ObjHeap heap, int32 graph, int32 bits);
QX_EXTERN_C void UpdateCursorLegendRow(ObjHeap heap, int32 element, uChar* cursor, int32 bits);
QX_EXTERN_C void SetCursorColorFromTool(ObjHeap heap, int32 graph, DColor colour, Bool32 redraw);
// The do-it record of the legend and the movement control.
struct CursorDoitRec {
  int32 partId;
  Point click;
  int32 flags;
};
// Result bits the legend reads.
enum : int32 { kDoitResultActive = 0x8, kDoitResultEdit = 0x80, kDoitResultNoRedraw = 0x400 };
QX_EXTERN_C int32 CursorLegendDoit(ObjHeap heap, int32 graph, int32 target, int32 code, const CursorDoitRec* rec,
                                   int32 result);
