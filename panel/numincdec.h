// One step up or down of a numeric's, ring's or slide's value: by the
// increment arrows, the Up and Down keys, or the digit under the text
// cursor.  The step state travels in the action record while the mouse is
// held: NumIncDecSetup prepares it from the object's data, type, range and
// text; IncDecStep chooses and applies the step within the range (smaller
// steps near a limit, wrapping for rings), repeats it at a fixed interval
// while the arrow is held and accelerates under Shift; NumIncDecArrow and
// RingIncDec store a committed value and redisplay the object.
// Ranges, ring item lists and texts come from the panel's data: every
// offset and count is checked against its block before it is read.
// User-interface thread only.
#pragma once
#include "panel/objects.h"
#include "panel/rangecheck.h"

// Press states: 1 increment and 2 decrement at the first press, 3 and 4
// while held.
enum : int16 { kArrowUp = 1, kArrowDown = 2, kArrowHeldUp = 3, kArrowHeldDown = 4 };
// Kinds of control; bit 0 set means the value wraps at the range's ends.
enum : int16 { kIncKindNumeric = 0, kIncKindRing = 1, kIncKindSlide = 2, kIncKindWraps = 1 };
// Range flag bits: no minimum, maximum or increment set.
enum : uInt16 { kIncNoMin = 0x20, kIncNoMax = 0x40, kIncNoInc = 0x80 };
// Progress bits: started, a computed value waits for its commit, the step
// has been multiplied by acceleration.
enum : uInt32 { kIncStarted = 0x1, kIncPending = 0x8, kIncMultiplied = 0x10 };
// The repeat intervals of a held arrow, in milliseconds.
enum : int32 { kIncRepeatMs = 320, kIncFastRepeatMs = 96 };

// The step state, inside the action record.  Value fields are wide enough
// for an extended number; only the representation's size is used.
struct IncDecState {
  int16 pressState;
  int16 repr;        // the numeric type code, without the unit bit 0x10
  int16 selStart;    // the text selection, -1 when not used
  int16 selEnd;      // the text cursor
  int16 multiplier;  // 16 hexadecimal, 8 octal, 2 binary, else 10
  int16 kind;
  uInt16 rangeFlags;
  uChar value[10];
  uChar max[10];
  uChar min[10];
  uChar increment[10];
  UPtr data;
  UHandle text;
  uChar initialStep[10];
  uChar step[10];
  uInt32 lastCommit;
  int32 commitCount;
  uInt32 progress;
};
static_assert(sizeof(void*) != 4 ||
                  (offsetof(IncDecState, rangeFlags) == 12 && offsetof(IncDecState, value) == 14 &&
                   offsetof(IncDecState, max) == 24 && offsetof(IncDecState, min) == 34 &&
                   offsetof(IncDecState, increment) == 44 && offsetof(IncDecState, data) == 56 &&
                   offsetof(IncDecState, text) == 60 && offsetof(IncDecState, initialStep) == 64 &&
                   offsetof(IncDecState, step) == 74 && offsetof(IncDecState, lastCommit) == 84 &&
                   offsetof(IncDecState, progress) == 92 && sizeof(IncDecState) == 96),
              "step state layout");
static_assert(sizeof(void*) != 4 || (offsetof(OperateRecord, words20) == 80 &&
                                     sizeof(IncDecState) <= sizeof(OperateRecord::words20)),
              "the step state lies in the operate record after the event");
inline IncDecState* IncDecOf(OperateRecord* p) { return reinterpret_cast<IncDecState*>(p->words20); }
inline const IncDecState* IncDecOf(const OperateRecord* p) {
  return reinterpret_cast<const IncDecState*>(p->words20);
}

// The procedure of one representation.  Operations: 0 multiply (*b = +1) or
// divide (-1) the step at a by the scale factor; 1 whether the value at a,
// cut to whole steps of b, is a whole multiple of multiplier times b; 2
// whether the step at a is zero; 3 add or subtract the step at a to the
// candidate at b and check the range (0 accepted, 1 refused; a wrapping kind
// takes the other limit and accepts); 4 the unset limits (not for a wrapping
// kind) and the unset increment take the type's defaults.
typedef int32 (*IncDecStepProc)(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepI8(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepI16(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepI32(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepI64(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepU8(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepU16(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepU32(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepU64(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepSGL(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepDBL(int32 op, IncDecState* s, void* a, void* b);
QX_EXTERN_C int32 IncDecStepEXT(int32 op, IncDecState* s, void* a, void* b);
// The procedure of a representation; null for complex values.
IncDecStepProc IncDecProcFor(int32 repr);

// Prepares the record for a press: the data pointer (null when the object
// has none: the caller answers 16), range flags, representation, value,
// range, text selection (with useTextCursor), multiplier and, for rings and
// slides, their own limits.
QX_EXTERN_C UPtr NumIncDecSetup(ObjHeap heap, int32 object, ActionParams* p, Bool32 useTextCursor);
// The object's range flags and representation into the record; false for a
// representation outside 1 to 30 (an assertion).
QX_EXTERN_C Bool32 IncDecGetRepr(ObjHeap heap, int32 object, IncDecState* s);
// Minimum, maximum and increment (each only when its flag bit is clear)
// from the range values at the data offset; nothing for offset 0 or when all
// three bits are set; false when the values do not lie in the data space.
QX_EXTERN_C Bool32 IncDecLoadRange(ObjHeap heap, int32 object, IncDecState* s, int32 rangeOffset);
// One step: 8 when a value was committed into the record, else 0.
QX_EXTERN_C int32 IncDecStep(ObjHeap heap, int32 object, ActionParams* p);
// One step stored at data and shown: 8 with the display's reply when the
// value changed; a ring goes to RingIncDec.
QX_EXTERN_C int32 NumIncDecArrow(ObjHeap heap, int32 object, ActionParams* p, UPtr data, int32 repr);
QX_EXTERN_C int32 RingIncDec(ObjHeap heap, int32 object, ActionParams* p, UPtr data, int32 repr);

// Steps chosen from the text: the place value of the digit at the cursor,
// in the representation at step; false when no rule finds one (the caller
// then takes the unit step).
QX_EXTERN_C Bool32 IncDecTextStep(ObjHeap heap, int32 object, IncDecState* s, void* step);
Bool32 IncDecDecimalStep(const uChar* text, int32 len, int32 cursor, int32 repr, void* step);
Bool32 IncDecRelTimeStep(const uChar* text, int32 len, int32 cursor, int32 repr, void* step);
Bool32 IncDecDateTimeStep(const uChar* text, int32 len, int32 cursor, int32 flags, const IncDecState* s,
                          void* step);
// The step 1 of the representation.
QX_EXTERN_C void IncDecUnitStep(int32 repr, void* step);
// The step taken from the object's display unit to its data unit, without
// the unit's offset (only the scale acts).
QX_EXTERN_C void IncDecUnitScaleStep(ObjHeap heap, int32 object, int32 repr, void* step);

// The numeric type of the object's value (a cluster's first element), bit
// 0x10 ignored; 0 when it is none that steps.
int32 NumStepType(ObjHeap heap, int32 object);
// The object's value (OGetDataPtr of the kind), null unless the whole value
// of its type lies inside the block that holds it.
UPtr NumValueData(ObjHeap heap, int32 object, int32 kind);
