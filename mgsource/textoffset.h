// Stepping through text by whole characters.
#pragma once
#include "extcode.h"

// The offset of the character that follows the one at offset.  Every font of
// the system is single-byte for now, so the next character is one byte on.
QX_EXTERN_C int32 TNextCharOffset(const uChar* text, int32 offset, int32 font);
