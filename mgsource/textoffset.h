// Stepping through text by whole characters.  A character is one byte, or,
// in a font whose character set is not ANSI, what the layer's code page steps
// over (at most two bytes).
#pragma once
#include "extcode.h"

// The offset of the character that follows the one at offset.
QX_EXTERN_C int32 TNextCharOffset(const uChar* text, int32 offset, int32 font);
// The offset of the character before offset (0 at the start).
QX_EXTERN_C int32 TPrevCharOffset(const uChar* text, int32 offset, int32 font);
// Moves offset by one character back (step < 0) or forward, pinned to
// 0..length.
QX_EXTERN_C int32 TStepCharOffset(const uChar* text, int32 length, int32 offset, int32 step, int32 font);
// The most bytes a character of the font takes (1 or 2) and whether the font
// is single-byte; either pointer may be null.
QX_EXTERN_C void TGetFontCharInfo(int32 font, int32* maxCharBytes, Bool32* singleByte);
