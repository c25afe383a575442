// One step up or down of a numeric's value: by the increment arrows, the Up
// and Down keys, or the digit under the text cursor.  The step context
// travels in the action record (words 20 on) while the mouse is held:
// IncDecStoreValue prepares it from the object's data, type and range,
// NumIncDecText chooses the step and computes the stepped value, and
// NumIncDecArrow stores it (and, while the arrow is held, steps again).
// Ranges come from the panel's data space: the offset in the numeric's
// word 11 is checked to lie in it before minimum, maximum and increment are
// read.  User-interface thread only.
#pragma once
#include "panel/objects.h"
#include "panel/rangecheck.h"

// The arrow direction of the action record: 1 up and 2 down at the press,
// 3 and 4 while held.
enum : int16 { kArrowUp = 1, kArrowDown = 2, kArrowHeldUp = 3, kArrowHeldDown = 4 };
// Increment modes: a ring's value wraps within its items and skips the
// disabled ones; a slide's steps the active slider's value.
enum : int32 { kIncModeNumeric = 0, kIncModeRing = 1, kIncModeSlide = 2 };

// The step context inside the action record (its words 20 on).
struct IncDecContext {
  int32 mode;         // the increment mode, set by the caller
  int32 type;         // the numeric type code (1 to 11), 0 until prepared
  uChar data[8];      // the address of the value in the data
  uChar step[16];     // the step and the stepped value, as extended numbers
  uChar value[16];
  uInt32 rangeFlags;  // 0x20, 0x40, 0x80: no minimum, maximum, increment
  uChar min[16];
  uChar max[16];
  uChar increment[16];
};
static_assert(sizeof(IncDecContext) <= sizeof(ActionParams::words20), "the step context fits the action record");
IncDecContext GetIncDecContext(const ActionParams* params);
void SetIncDecContext(ActionParams* params, const IncDecContext& context);

// Prepares a step of the object's value at data: its numeric type (of a
// cluster, the first element's; bit 0x10 ignored), its range (a ring: 0 to
// its item count less one) and the current value.  kArgErr for no data, a
// type outside 1 to 11 (complex values do not step) or a range outside the
// data space.
// The numeric type of the object's value (a cluster's first element), bit
// 0x10 ignored; 0 when it is none that steps.
int32 NumStepType(ObjHeap heap, int32 object);

QX_EXTERN_C MgErr IncDecStoreValue(ObjHeap heap, int32 object, ActionParams* params, void* data);
// The stepped value (an extended number in the context), or null when no
// step can be taken (none prepared, or the value at its range's end).
// With keepSelection and a text selection recorded (selEnd not -1), the
// step is the place value of the digit left of the cursor in the object's
// text (part 10); otherwise the increment, or 1 without one.
QX_EXTERN_C void* NumIncDecText(ObjHeap heap, int32 object, ActionParams* params, int32 keepSelection);
// Stores value (an extended number) into the prepared data in the value's
// type; while the arrow is held (direction 3 or 4) value is the data's
// address and the value is first stepped once more from it.  8 with the
// redisplay's reply when the value changed, 0 when not, 16 when nothing
// is prepared.  The range state is re-checked.
QX_EXTERN_C int32 NumIncDecArrow(ObjHeap heap, int32 object, ActionParams* params, void* value, int32 type);
