// The edit messages of listboxes and graphs: font changes and re-fits reach
// a listbox's text object and a graph's plot legend and cursor labels; the
// graph frames the key focus like any display object.  They replace the
// generic handler of their classes at start-up.  User-interface thread only.
#pragma once
#include "panel/editmsg.h"

QX_EXTERN_C int32 ListboxOSelectMethod(ObjHeap heap, int32 listbox, int32 code, EditMsgRecord* rec);
QX_EXTERN_C int32 GraphOSelectMethod(ObjHeap heap, int32 graph, int32 code, EditMsgRecord* rec);
QX_EXTERN_C int32 GraphOFrameSelMethod(ObjHeap heap, int32 graph, ObjHeap port, int32 offset, int32 flags);
// The plot legend (part 32) made rows high: its bottom at its top (of rect,
// or of its bounds when rect is null) plus (name height + 6) per row; the
// record's hit part becomes the legend.  0, or 0x10 when the resize fails.
QX_EXTERN_C int32 PlotLegendFitRows(ObjHeap heap, int32 graph, int32 rows, EditMsgRecord* rec, const Rect* rect);
// The listbox's row height from its text object's font: nothing changes
// here yet (0).
QX_EXTERN_C int32 ListboxCalcRowHeight(ObjHeap heap, int32 listbox);
// The cursor labels measured again after a font message (21, 32) of a
// graph that is not a chart, the graph invalidated when a shown label
// changed size; 0.
QX_EXTERN_C int32 GraphCursorsFontMsg(ObjHeap heap, int32 graph, int32 code);

// Fills the panel's listbox and graph edit hooks.
void ControlsInstallEditHooks();
