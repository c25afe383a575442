// The units of panel objects: the conversion pair (offset and scale, base
// value = (label value + offset) * scale) that an object's unit label names.
#pragma once
#include "mgsource/objheap.h"

// 1 when the object's data has a unit (numeric codes 25 to 30; an array's
// element or a cluster's first element counts) and its unit label (part 65,
// on the object or on the owners it is a part of) parses to the data's
// dimensions; the outputs (each may be null) then get the label's offset and
// scale, the data's type code and the label part's flags.  Else 0, outputs
// untouched.  Objects of classes 15 and 16 stand for their owner; a scale
// that is part 18, 19 or 68 of its control takes the control's label part
// 71, 72 or 73 of its order, and its values are doubles.  A label text of
// more than 255 characters is replaced, in the label too, by the text that
// says so.
QX_EXTERN_C int32 GetObjUnits(ObjHeap heap, int32 object, float64* offset, float64* scale, int32* numType,
                              int32* labelFlags);

// Converts the value of numeric type (bit 0x10, a unit, is ignored; complex
// values convert both parts) into result: direction non-zero from label to
// base units, (v + offset) * scale; zero from base to label, v / scale - offset.
QX_EXTERN_C void UnitConvertValue(const void* value, int32 direction, void* result, int32 type, float64 offset,
                                  float64 scale);
// Converts the value with the object's unit (GetObjUnits); 1 when it has one
// and the value was converted, else 0 and nothing written.
QX_EXTERN_C int32 UnitConvertObjValue(ObjHeap heap, int32 object, const void* value, int32 direction,
                                      void* result);
