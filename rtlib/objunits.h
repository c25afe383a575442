// The units of panel objects: the conversion pair (offset and scale, base
// value = (label value + offset) * scale) that an object's unit label names.
#pragma once
#include "mgsource/objheap.h"

// 1 when the object's data has a unit (numeric codes 25 to 30; an array's
// element or a cluster's first element counts) and its unit label (part 65,
// on the object or on the owners it is a part of) parses to the data's
// dimensions; the outputs (each may be null) then get the label's offset and
// scale, the data's type code and the label part's flags.  Else 0, outputs
// untouched.
QX_EXTERN_C int32 GetObjUnits(ObjHeap heap, int32 object, float64* offset, float64* scale, int32* numType,
                              int32* labelFlags);
