// The text of a Boolean's text part, chosen by the Boolean's state from its
// string list.
#pragma once
#include "panel/objects.h"

// Sets the text record of the text part (a multi-label: its text in word 9)
// to the list's string of the state: a count, then Pascal strings, entry 0
// for false and 1 for true.  A loaded panel shows the false state until its
// data arrive.  0, or 1 when the list or the part cannot give the text
// (nothing changed), or the text's memory error.
QX_EXTERN_C MgErr UpdateBoolText(ObjHeap heap, int32 textPart, UHandle list);
// The same for a given state (a Boolean's 0 or 1), or the index of a
// multi-label's string.
MgErr UpdateBoolTextState(ObjHeap heap, int32 textPart, UHandle list, int32 index);
