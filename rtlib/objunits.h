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

// ---- Unit labels being edited (user-interface thread) ---------------------------------
// Parses the label text (a counted text handle; null is empty) without
// operators into the offset and scale outputs (each may be null), which are
// 0 when it does not parse.  The object must be null (anything else is
// reported); part and the two other words are not read.  Always 0.
QX_EXTERN_C int32 ParseUnitText(const void* object, int32 part, int32 unused1, float64* offset, float64* scale,
                                int32 unused2, LStrHandle text);
// Applies the edited unit label of the numeric object: "?" marks are
// removed; a text that does not parse beeps and gets a "?" where parsing
// stopped; a label whose dimensions do not fit the data is reset to the
// data's unit text (flag bit 3 of the label cleared) and 0 returned; a
// fitting one rescales the display part's factor and offset from the
// cached label to the new one.  Else 0x10000 joined with the flags of the
// label-text updates.
QX_EXTERN_C int32 ApplyUnitLabelText(ObjHeap heap, int32 object);
// Keeps a copy of the label part's text (nothing for an empty text), keyed
// by the part's id and order, for ApplyUnitLabelText; clears it first.
QX_EXTERN_C void GetCachedUnitLabel(ObjHeap heap, int32 part);
// Frees the cached copy and clears its keys.
QX_EXTERN_C void ClearUnitLabelCache();

// The panel services the label editing uses, filled at start-up by the
// layers that own them.  Until then: nothing is invalidated, a text is set
// by nobody (0 flags), a beep is silent (but counted), a text part's text is
// the handle in its text word and no object has display data.
struct UnitLabelHooks {
  void (*inval)(ObjHeap heap, int32 object, int32 flag) = nullptr;
  int32 (*setPartText)(ObjHeap heap, int32 part, const uChar* text, int32 length, int32 keyCode,
                       int32 modifiers) = nullptr;
  void (*beep)() = nullptr;
  LStrHandle (*getText)(ObjHeap heap, int32 part) = nullptr;
  UPtr (*displayData)(ObjHeap heap, int32 part) = nullptr;
};
// Installs the hooks (null members keep their defaults); returns the former set.
UnitLabelHooks SetUnitLabelHooks(const UnitLabelHooks& hooks);
// The beeps the label editing has sounded.
int32 UnitLabelBeeps();
