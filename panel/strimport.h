// The string import of panel objects: the selection message (29) with code
// 53 reads an object's elements of a VI string file in its class's order,
// replaces the strings that differ and passes the message on to its parts
// and children; code 52 (export) is answered with 0.  The readers are in
// rtlib/vistrread.h.
#pragma once
#include "panel/objects.h"
#include "rtlib/vistrread.h"

// The selection method of the classes that import strings (slot 29), for
// the class table; null for the panel's root, whose own selection method
// hands code 53 to PanelImportStrings.
ObjMethodAddr StringImportSelectMethodFor(int32 cls);
// An object's import by its class's order (the selection methods' strings
// step); the reply bits.
int32 ImportObjectStrings(ObjHeap heap, int32 object, ImportStringsRequest* rq);
// The object-text step of the selection messages 52 and 53: 53 reads the
// object's own elements (and its parts') from the request, 52 writes
// nothing; the reply bits.  Other codes answer 0.
QX_EXTERN_C int32 VIStrImportObjText(ObjHeap heap, int32 object, int32 code, void* request);
// The root's import: CONTENT, its top-level objects from the last to the
// first, the closing CONTENT; the reply bits.
int32 PanelImportStrings(ObjHeap heap, int32 root, ImportStringsRequest* rq);
// What the import sends the panel: the selection emptied, the panel's window
// (or the default port) the drawing port, the root sent code 53; the reply.
// A heap without a root records error 1.
QX_EXTERN_C int32 FPImportStrings(ObjHeap heap, ImportStringsRequest* rq);

// The shared wrappers; each records its error and answers kImportStop.
int32 ReadControlOpen(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadControlClose(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadWrapperTag(ObjHeap heap, int32 object, ImportStringsRequest* rq, int32 tag, bool closing);
int32 ReadObjectDesc(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadPartTag(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadControlTag(ObjHeap heap, int32 object, ImportStringsRequest* rq);
// The DEFAULT readers, LABEL, STEXT, MLABEL and the private strings.
int32 ReadStringDefault(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadPathDefault(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadArrayDefault(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadTableDefault(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadLabel(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadLabelText(ObjHeap heap, int32 object, ImportStringsRequest* rq, bool* changed);
int32 ReadMultiLabel(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadTablePriv(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadListboxPriv(ObjHeap heap, int32 object, ImportStringsRequest* rq);
int32 ReadGraphPriv(ObjHeap heap, int32 object, ImportStringsRequest* rq);

// (CtrlMakeDefaultOrReinit, which takes a changed default as the value, is
// in panel/ctrlops.h.)

// The services of the control layer that the import uses, filled at
// start-up.  Until then a slide's scale is not refitted and graphs have no
// cursors, plots, table headers or listbox items to read.
struct StringImportHooks {
  int32 (*scaleFitToItemCount)(ObjHeap heap, int32 slide) = nullptr;
  // The graph's cursor list (cursor records) and its count;
  // null when there is none.
  UPtr (*graphCursorList)(ObjHeap heap, int32 graph, int32* count) = nullptr;
  int32 (*graphCursorFont)(ObjHeap heap, int32 graph) = nullptr;
  void (*measureCursorLabel)(UPtr entry, int32 font) = nullptr;
  // Invalidates a cursor label's rectangle (after: 0 before a change, 1 after).
  void (*cursorLabelInval)(ObjHeap heap, int32 graph, UPtr entry, int32 after) = nullptr;
  // The graph's plot list (entries of kPlotEntryBytes), the listbox's item
  // list (kListboxItemBytes), a table's row and column headers (arrays of
  // counted strings: a count, then the handles) and its cell-font list;
  // null when there is none.
  UPtr (*graphPlotList)(ObjHeap heap, int32 graph, int32* count) = nullptr;
  UPtr (*listboxItems)(ObjHeap heap, int32 listbox, int32* count) = nullptr;
  UHandle (*tableHeaders)(ObjHeap heap, int32 table, int32 columns) = nullptr;
  UPtr (*tableCellFonts)(ObjHeap heap, int32 table, int32* count) = nullptr;
  // The table's font-table entry: its font, replaced (the old one released).
  int32 (*tableFont)(ObjHeap heap, int32 table, int32 index) = nullptr;
  void (*setTableFont)(ObjHeap heap, int32 table, int32 index, int32 font) = nullptr;
};
// Cursor entries are GraphCursorRecordSize() bytes apart, the name (a
// string handle) at GraphCursorFieldAt(kCursorNameField) (panel/graphstate.h).
constexpr int32 kCursorNameField = 4;
constexpr uInt32 kCursorLabelShown = 0x10;
constexpr int32 kPlotEntryBytes = 60, kPlotNameAt = 16;
constexpr int32 kListboxItemBytes = 12, kListboxItemTextAt = 8;
// A cell-font entry is a table's look record: row and column first, the
// index of its font in the table's font list at 8, its text colour at 16.
constexpr int32 kCellFontEntryBytes = 40, kCellFontIndexAt = 8, kCellFontColourAt = 16;
constexpr int16 kPartPlotLegend = 32, kPartCursorLegend = 8014;
StringImportHooks SetStringImportHooks(const StringImportHooks& hooks);
