// Small routines shared by the operate-mode and display methods of panel
// objects: the part-id classes, the key-binding lookup of dialog panels,
// the edge drawing of a selection mark, the needle length of a knob and the
// colour interpolation of a colour ramp.  Objects come from VI files: every
// offset is checked to name a used block before it is read.
// User-interface thread only.
#pragma once
#include "mgsource/window/wevent.h"
#include "panel/objects.h"

// The part-id classes: parts that a click operates, parts of an indicator
// that still operate, and parts that take keys.
QX_EXTERN_C int32 IsOperatePartId(int32 part);
QX_EXTERN_C int32 IsIndicatorPartOperable(int32 part);
QX_EXTERN_C int32 IsKeyPart(int32 part);

// Whether the object's class edits a text when it has the key focus: every
// class but Boolean, Color Box and Ring.
QX_EXTERN_C int32 IsTextFocusClass(ObjHeap heap, int32 object);

// Whether a container may hand the action to the object: not action 15 to
// a hidden object, nor to a disabled one (0x280) unless the panel's owner
// is in the mode where disabled objects take clicks.
QX_EXTERN_C int32 ContainerActionAllowed(ObjHeap heap, int32 object, int32 action);

// The object that the panel's key-binding table binds to the key of the
// event (the event words of an action record), 0 for none.  Dialog-kind
// panels only: not in the owner's click-through mode, not on a root VI's
// panel.  Only a table of the full 55 slots is read, and only a live
// object is answered.
enum : int32 { kKeySlotReturn = 0, kKeySlotEscape = 1, kKeySlotClear = 6, kKeySlotCount = 55 };
QX_EXTERN_C int32 KeyBindingTarget(ObjHeap heap, const WEventRecord* event);

// Whether a data display object lies, through data display owners, inside
// an Array.
QX_EXTERN_C int32 IsInArray(ObjHeap heap, int32 object);

// Draws the edges that the code names on the rectangle, in the current pen:
// corners 1 top-left, 2 top-right, 4 bottom-left, 8 bottom-right; 3 the top
// side, 5 the left, 10 the right, 12 the bottom, 15 the whole frame; any
// other code draws nothing.
QX_EXTERN_C void DrawRectEdges(int32 code, const Rect* rect);

// The knob's needle length from its thumb (part 23) of that order: the
// thumb's height when it is under 2 pixels wide, its width when under 2
// pixels high, else its rounded diagonal.  Stored in the knob's word 15; its
// pointer (part 8) of that order is then redrawn.  -1 without the thumb.
constexpr int32 kKnobNeedleWord = 15;
QX_EXTERN_C int32 KnobNeedleLength(ObjHeap heap, int32 knob, int32 order);

// The colour a fraction of the way from the lower to the upper colour (red,
// green and blue bytes, each rounded; the top byte is 0); the fraction is
// (value - lower value) / (upper value - lower value), 0 when the two values
// are equal.
QX_EXTERN_C uInt32 RampInterpolate(uInt32 lower, uInt32 upper, double lowerValue, double upperValue, double value);

// Redraws the object's frame (OInval level 2) and invalidates the pixel at
// its top-left corner in the panel's window, so that an update surely comes.
QX_EXTERN_C void InvalObjPart(ObjHeap heap, int32 object);

// Gives the object at frame (its frame in the transaction path, which ends
// there) the key focus without a text, redraws it and sets its highlight
// flag; the reply comes back without 0x800 and 0x100000, and without its
// keep-tracking bit when the focus could not be taken.
constexpr uInt32 kObjFlagHighlight = 0x40;
QX_EXTERN_C int32 FPFocusObject(ObjHeap heap, int32 object, void* frame, int32 reply);

// The edge code (for DrawRectEdges) of the data-selection mark on the cell
// the array shows: 15 inside the selection in every dimension, a side for an
// empty selection (a line between cells) next to the cell, 0 elsewhere or
// without a selection record.  The record (at the data-space offset in the
// array's word 13, its descriptor at word 14, checked to be the array's
// entry: a cluster led by three arrays) holds three handles of a count and one index per
// dimension: the shown index, the selection start and end.  The last
// dimension is the columns (its line clears the right or left corners), the
// one before it the rows (the bottom or top corners).
QX_EXTERN_C int32 ArrayEltLayout(ObjHeap heap, int32 array, UHandle dataSpace);
