// New values shown by the controls and by the image and text parts they are
// built from (message 39, oDisplayVal): each method compares the value with
// what is shown, draws the parts that show it, or invalidates them when it
// may not draw in place (a greyed control, a deferred display, a part
// marked to be drawn through the window's update), and answers reply
// flags: 0x10 memory ran out, 0x80 a part changed size, 0x1000 newly out
// of range, 0x20000 something waits for the window's update.
//
// The value pointer is the object's value in the panel's data space:
// numbers where they lie, strings, paths and pictures as handles (checked
// against their sizes before they are read); labels take a long string,
// multi-images and multi-labels a 16-bit index.  User-interface thread only.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/rects.h"
#include "panel/objects.h"

QX_EXTERN_C int32 MultiCosmeticODisplayValMethod(ObjHeap heap, int32 cosmetic, const void* old, const void* index);
QX_EXTERN_C int32 BigMultiCosmeticODisplayValMethod(ObjHeap heap, int32 cosmetic, const void* old, const void* index);
QX_EXTERN_C int32 LabelODisplayValMethod(ObjHeap heap, int32 label, const void* old, const void* text);
QX_EXTERN_C int32 MultiLabelODisplayValMethod(ObjHeap heap, int32 label, const void* old, const void* index);
QX_EXTERN_C int32 NumericODisplayValMethod(ObjHeap heap, int32 numeric, const void* old, const void* value);
QX_EXTERN_C int32 RingODisplayValMethod(ObjHeap heap, int32 ring, const void* old, const void* value);
QX_EXTERN_C int32 ColorBoxODisplayValMethod(ObjHeap heap, int32 box, const void* old, const void* value);
QX_EXTERN_C int32 SlideODisplayValMethod(ObjHeap heap, int32 slide, const void* old, const void* value);
QX_EXTERN_C int32 StringODisplayValMethod(ObjHeap heap, int32 string, const void* old, const void* value);
QX_EXTERN_C int32 TagODisplayValMethod(ObjHeap heap, int32 tag, const void* old, const void* value);
QX_EXTERN_C int32 PathODisplayValMethod(ObjHeap heap, int32 path, const void* old, const void* value);
QX_EXTERN_C int32 TypeDefODisplayValMethod(ObjHeap heap, int32 typeDef, const void* old, const void* value);
QX_EXTERN_C int32 UserItemODisplayValMethod(ObjHeap heap, int32 item, const void* old, const void* value);
QX_EXTERN_C int32 ColorRampODisplayValMethod(ObjHeap heap, int32 ramp, const void* old, const void* value);
QX_EXTERN_C int32 PictureODisplayValMethod(ObjHeap heap, int32 picture, const void* old, const void* value);
QX_EXTERN_C int32 BooleanODisplayValMethod(ObjHeap heap, int32 boolean, const void* old, const void* value);
// The method of a control class for slot 39, null for another class.
ObjMethodAddr CtrlODisplayValMethodFor(int32 cls);

// The mark of the transparent colour, in the current pen, inside the
// rectangle inset by 1: with h half the smaller side and c the middle
// column, kind 0 an X from c - h to c + h between the top and bottom
// edges, any other kind a T (the top edge from c - h to c + h and a
// vertical line at c).
QX_EXTERN_C void DrawTransparentMark(const Rect* rect, int32 kind);

// Draws a text object after its text changed: a focus text of a dialog
// without text entry is selected whole; drawn in place (a blinking owner's
// look when one blinks) unless it may not be, else its rectangle is
// invalidated (0x20000).
QX_EXTERN_C int32 RedrawDisplayedText(ObjHeap heap, int32 text, Bool32 isFocusText);

// Whether item (pinned to the items there) of the ring's item list is
// disabled (bit 0 of its word); a ring without a list is an assertion (0).
QX_EXTERN_C int32 IsRingItemDisabled(ObjHeap heap, int32 ring, int32 item);
// Greys the part's bounds inset by 1, in its background colour (the
// panel's when that is transparent), when the ring's item is disabled.
QX_EXTERN_C void GrayDisabledRingItem(ObjHeap heap, int32 ring, int32 part, int32 item);

// Shows a path value (a pointer to its handle; an empty handle is the
// empty path) as text in the path's text part: its text form, or "?" and
// the error code.  Draw-only draws the part in the mode (blinking
// honoured, force as for the drawing routines); otherwise a fitted part
// takes the text and the path is laid out again around it, else the text
// is displayed.  The reply.
QX_EXTERN_C int32 DisplayPathText(ObjHeap heap, int32 path, int32 textPart, const void* value, Bool32 drawOnly,
                                  int32 mode, Bool32 force);

// Shows the Boolean text of a state (0 to 3) in its text part over the
// button part: a transparent text the colour of the button is shown white
// on black (the highlight inverted meanwhile), else black; drawn (force or
// a one-string list) or displayed; the text's colours are put back.
QX_EXTERN_C int32 DisplayBoolText(ObjHeap heap, int32 textPart, int32 buttonPart, int32 state, Bool32 forceDraw,
                                  int32 mode);

// The background a part's image shows: the part's background colour, or,
// when that is transparent, the colour its image is erased with.
QX_EXTERN_C DColor PartImageBackColor(ObjHeap heap, int32 part);
