// Where a graph's cursor list and cursor-mover buttons lie inside its
// private data block: found by walking the block's static descriptor, the
// one walk that the object system's data answers (parts 8011 and 8014) and
// the cursor code share.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"

// The static descriptor of a graph's private data block, built once and
// kept for the run (null when it cannot be built).
const TypeDescriptor* GraphStateStaticTD();
// The cursor record's descriptor (the list's element cluster) and its size
// in memory (0 without a descriptor).
const TypeDescriptor* GraphCursorRecordTD();
int32 GraphCursorRecordSize();
// The byte offset of element i (0-based) of the cursor record, -1 outside.
int32 GraphCursorFieldAt(int32 i);
// Offsets inside the block of the cursor-mover buttons (four Booleans) and
// of the cursor list; false without a descriptor.
bool GraphStateCursorOffsets(int32* mover, int32* list, const TypeDescriptor** listTD);
// The address of the cursor list inside the block at that data offset of
// the panel's data space, the list's array descriptor in *td when given;
// 0 (and a null descriptor) when the graph has no data there.
QX_EXTERN_C UPtr GraphCursorListField(ObjHeap heap, int32 graphData, const TypeDescriptor** td);
