// The scale properties of graphs, charts and slides and the colour-scale
// properties of intensity plots and colour ramps: the members of the scale
// clusters read from and written to a scale part's record and words.
#pragma once
#include "controls/scale.h"
#include "engine/datatype.h"
#include "mgsource/objheap.h"

// The short scale cluster of a scale part (index 0-11): its style, format and
// precision, range, flipped state, mapping and editability.  Nothing for a
// part that does not exist.  The set replies 0x20080 or 0x20280 after a
// change, 0 otherwise.
QX_EXTERN_C int32 ScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                               const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 ScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                               const TypeDescriptor* td, void* value);
// The graph form (index 0-15): the autoscale fit, the offset and multiplier,
// then the short form's members (index - 4).
QX_EXTERN_C int32 ScaleInfoAttrGet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value,
                                   int32 partId, int32 partOrder);
QX_EXTERN_C int32 ScaleInfoAttrSet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value,
                                   int32 partId, int32 partOrder, int32 immediate, int32 deferred, int32 second);
// The colour-scale cluster of part 68 (graph form of the scale members) or
// part 17 (short form): interpolation, the two out-of-range colours, the
// markers, then the scale members (index - 4).  16 when memory ran out.
QX_EXTERN_C int32 ColorScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                    const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 ColorScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                                    const TypeDescriptor* td, void* value, int32 deferred, int32 second);

// Whether the scale runs against its pixels (the flags are the scale part's).
QX_EXTERN_C Bool32 ScaleIsFlipped(const ScaleRec* rec, uInt32 flags);
// The two range ends in user units, the smaller first (the first end when
// they are equal).
QX_EXTERN_C void ScaleRangeEnds(const ScaleRec* rec, float64* min, float64* max);

// Gives the panel's property procedures the four cluster procedures; called
// at start-up.
void ControlsInstallScaleAttrHooks();
