// The property sets of graphs, charts, intensity graphs and intensity
// charts and the dispatch of the cursor set: each reads or writes one
// property (or one whole cluster of them) of the graph's fields and answers
// with reply flags telling its caller what to redraw.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"
#include "panel/attrcall.h"

// The set procedures by their table numbers (10 graph, 9 chart, 17
// intensity graph, 7 intensity chart, 16 cursors).
QX_EXTERN_C int32 GraphAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 ChartAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 IGraphAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 IChartAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
QX_EXTERN_C int32 CursAttr(ObjHeap heap, int32 object, AttrCallRec* rec);
// The static descriptors of the five sets (graph 56 properties, chart 58
// declared plus "History Data", intensity graph 67, intensity chart 69,
// cursors 16).
const TypeDescriptor* GraphAttrTable();
const TypeDescriptor* ChartAttrTable();
const TypeDescriptor* IGraphAttrTable();
const TypeDescriptor* IChartAttrTable();
const TypeDescriptor* CursAttrTable();

// Redraws the graph after a property changed: 0x10000 alone when deferred
// or hidden; immediate with a zero second word draws the plot area now
// (0x10000 | the drawing's result); otherwise invalidates (0x30000).
QX_EXTERN_C int32 AttrRedraw(ObjHeap heap, int32 object, int32 immediate, int32 deferred, int32 second,
                             int32 allowAutoscale);
// The active plot's "Active Plot" (0), "Plot Name" (1), "Plot Info" (2) and
// its members (3..10).
QX_EXTERN_C int32 PlotInfoAttrGet(ObjHeap heap, int32 object, const TypeDescriptor* td, void* value, int32 index,
                                  int32 plot);
QX_EXTERN_C int32 PlotInfoAttrSet(ObjHeap heap, int32 object, const TypeDescriptor* td, void* value, int32 index,
                                  int32 plot, int32 immediate, int32 deferred, int32 second);
// "Grid Colors" (0), "X Color" (1), "Y Color" (2).
QX_EXTERN_C int32 GridColorsAttrSet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value,
                                    AttrCallRec* rec);
// The chart's history, oldest point first, into the array (descriptor of
// the array type): 0 or 16.
QX_EXTERN_C int32 ChartHistoryGet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle* array);
// Replaces the chart's history by the array's points: reply flags.
QX_EXTERN_C int32 ChartHistorySet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle array,
                                  int32 immediate, int32 deferred, int32 second);
// Writes the first min(count, 256) colours of the array into the colour
// table: 1 when it changed, else 0.
QX_EXTERN_C int32 ColorTableAttrSet(ObjHeap heap, int32 object, const TypeDescriptor* td, UHandle array);
// The count word and the 256 colours of the table into the array: 0 or 16.
QX_EXTERN_C int32 ColorTableAttrGet(ObjHeap heap, int32 object, UHandle* array);
// Invalidates the plot's legend row: its image (what bit 2) and its name
// (what bit 1).
QX_EXTERN_C void InvalLegendRow(ObjHeap heap, int32 object, int32 plot, int32 what);

// Enters the five sets into the property tables; start-up.
void ControlsInstallGraphAttr();
