// The graph's cursors as the string import reaches them: the cursor list
// inside the graph's private data, the font of the cursor labels and the
// measuring of one label.
#pragma once
#include "controls/graph.h"
#include "mgsource/objheap.h"

// Cursor records: the flags word (0x10: the label is shown), the name (a
// counted-string handle) at byte 16, the label's text mode at byte 56 and
// its measured height and width (int16) at bytes 60 and 62.
constexpr int32 kGraphCursorBytes = 284, kGraphCursorName = 16, kGraphCursorLabelMode = 56,
                kGraphCursorLabelHeight = 60, kGraphCursorLabelWidth = 62;
constexpr uInt32 kGraphCursorLabelShown = 0x10;

// The first cursor record of the graph's private data at that offset, and
// their count; null (count 0) when there is no list, or the list does not
// hold its count of records.
QX_EXTERN_C UPtr GetGraphCursorList(ObjHeap heap, int32 graphData, int32* count);
// The font of the cursor labels: the font of the name's text part in the
// cursor legend's element, else the application font; one new reference
// that the caller releases.
QX_EXTERN_C int32 GetGraphCursorFont(ObjHeap heap, int32 graph);
// Measures the cursor's name in the font into its label height and width;
// 1 when the label is shown and its size changed, else 0.
QX_EXTERN_C int32 MeasureCursorLabel(UPtr cursor, int32 font);
