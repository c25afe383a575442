// The text of a multi-label (a Boolean's text part among them), chosen by
// index from its string list.
#pragma once
#include "panel/objects.h"

// Sets the text record of the multi-label (its text in word 9) to string
// number index of the list (a count, then Pascal strings; a Boolean's entry
// 0 for false and 1 for true), an empty text past the list's end; through
// the backslash-code form when the label's flag bit 24 is set.  0, 1 when
// the list or the part cannot give the text (nothing changed), or the
// text's memory error.
QX_EXTERN_C MgErr UpdateBoolText(ObjHeap heap, int32 textPart, UHandle list, int32 index);
