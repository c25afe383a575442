// The controls drawing themselves (message 18, ODraw) and the value drawing
// routines behind them: each draws the parts of one control, the last part
// first, giving every part the piece of the value it shows (a digital
// display its text, a ring part its item, a Boolean part its state, an
// arrow whether it is pressed, the range frame the range state).  Blinking
// calls the same routines in a blink mode without force, so that only the
// blinking parts are drawn again.  Every class method ends with the
// generic step of data display objects.
//
// The value pointer is the control's value in the panel's data space (null:
// its default look); handles are checked against their sizes before they
// are read.  User-interface thread only, inside the window manager's WSetup.
#pragma once
#include "mgsource/rects.h"
#include "panel/objects.h"

// The value drawing routines: (heap, object, value or null, mode, force).
QX_EXTERN_C int32 DrawNumericValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
QX_EXTERN_C int32 DrawRingValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
QX_EXTERN_C int32 DrawStringValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
QX_EXTERN_C int32 DrawPathValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
QX_EXTERN_C int32 DrawColorRampValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
QX_EXTERN_C int32 DrawBooleanValue(ObjHeap heap, int32 object, const void* value, int32 mode, Bool32 force);
// A slide or knob: with onlyPart not 0, the walk starts at that part (23
// and 31 stand for each other).  The housing (part 8) with the scale and
// part 44 on it is kept in an off-screen image on screen ports: drawn into
// it once (again after a depth change or with flag bit 22), then copied.
QX_EXTERN_C int32 DrawSlideValue(ObjHeap heap, int32 slide, const void* value, int32 onlyPart, int32 mode,
                                 Bool32 force);
// One part of a slide: its piece of the value; parts 17 and 23 clipped to
// the housing when the scale lies on it; only the active slider's parts
// blink.
QX_EXTERN_C int32 DrawSlidePart(ObjHeap heap, int32 slide, const void* value, int32 part, int32 mode, Bool32 force,
                                const Rect* housing, Bool32 scaleOnHousing);
// The slide's housing (part 8, visible) and its rectangle; whether the
// scale lies on it (the housing at or after the scale in the part list, the
// scale's ticks and labels inside the housing).  Nonzero when it has one.
QX_EXTERN_C int32 SlideHousingRect(ObjHeap heap, int32 slide, Rect* rect, Bool32* scaleOnHousing);
// A picture value (a pointer to its handle) drawn through part 28: mode bit
// 1 into the off-screen copy (made when missing), bit 2 to the screen.  0,
// or 0x10 when the picture or the copy cannot be made.
enum : int32 { kPictIntoCopy = 1, kPictToScreen = 2 };
QX_EXTERN_C int32 DrawPictureValue(ObjHeap heap, int32 picture, const void* value, int32 content, int32 modeBits);

// The class methods (slot 18): (heap, object, value, pass-through, mode).
QX_EXTERN_C int32 NumericODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 RingODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 SlideODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 StringODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 TagODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 PathODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 ColorRampODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 PictureODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 BooleanODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 StdRefNumODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 OleVariantODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
// A user item: drawn by its dialog's handler (event 35), elsewhere white
// with its size as text ("120x40") framed in black.
QX_EXTERN_C int32 DrawUserItem(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
QX_EXTERN_C int32 UserItemODrawMethod(ObjHeap heap, int32 object, const void* value, int32 pass, int32 mode);
// The method of a control class for slot 18, null for another class.
ObjMethodAddr CtrlODrawMethodFor(int32 cls);

// The window option bit (first option word of the heap extension) that
// gives the Return button the default frame whatever its images.
constexpr uInt16 kWindowPartDefaultFrame = 0x100;
// The user-item draw event sent to a dialog's window: data word 0 the
// item's 1-based position among the panel's controllers, words 2 and 3
// (where, globalWhere) the item's rectangle.
constexpr int32 kUserItemDrawEvent = 35;
