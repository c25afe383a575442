// Routines the operate-mode methods of numerics, rings and containers share:
// the owner walks that find a control's container, the numeric's display
// format, the typed-character filter of numeric text, the disabled items of
// a ring, and the focusing of a numeric's text in a dialog.  Objects come from VI files:
// every offset is checked to name a used block, and every owner climb stops
// after as many steps as the heap has blocks (a looping chain answers none).
// User-interface thread only.
#pragma once
#include "panel/ctrldisplay.h"
#include "panel/objects.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"

// The nearest RefNum up the owner chain whose inner object (word 10) is the
// step below, 0 when there is none.
QX_EXTERN_C int32 FindOwnerRefNum(ObjHeap heap, int32 object);
// 1 when object is an owner, at any depth, of start.
QX_EXTERN_C int32 IsInOwnerChain(ObjHeap heap, int32 object, int32 start);
// 1 when any owner of the object is a Type Definition.
QX_EXTERN_C int32 IsInTypeDef(ObjHeap heap, int32 object);
// 1 when, climbing through data display objects and cosmetics whose part id
// is 0 or that of a type definition's control, an owner is a Type Definition
// without a link (word 11 is 0) and without flag 0x20000.
QX_EXTERN_C int32 IsInPlainTypeDef(ObjHeap heap, int32 object);


// The numeric's display format (the 16-bit value at byte 40): 0x40 signed
// decimal, 0x41 unsigned decimal, 0x42 hex, 0x43 octal, 0x44 binary, -2
// floating decimal, and the engineering and time codes (set through
// NumericSetFormatStyle, panel/objsize.h).
constexpr int32 kNumFormatByte = 40;
constexpr int32 kNumFormatFloat = -2;
QX_EXTERN_C int32 NumGetFormat(ObjHeap heap, int32 numeric);

// Whether the key event of the action record may be typed into a numeric
// of that type code and display format: 1 or 0.  Keys other than key down
// and repeat answer 0.  The record is normalised first: a character 10
// becomes Enter, and Enter with Shift the character 10.  Editing and
// moving keys pass; a character passes the format's or type's character
// set; a paste passes when every character of the clipboard's text does
// (or is a space).
QX_EXTERN_C int32 NumTextEntryKeyFilter(ActionParams* params, int32 type, int32 format);

// In a dialog panel whose owner is not in the owner mode (0x80000): ends the
// path at the object's frame, selects all the text of its visible text part
// (10) and activates it, gives the object the key focus with that text and
// frames it (OFrameSel, 0x10).  The focus error, or 0 when nothing is to do.
QX_EXTERN_C MgErr FPFocusNumText(ObjHeap heap, int32 object, TransactionFrame* frame);
