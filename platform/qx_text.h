// Text of a drawing context, in the font selected into it (qx_font.h).
//
// Each byte is one character of code page 1252.  The reference point of a
// text is the top-left of its cell: the baseline lies at y + ascent, and
// each glyph sits at its bearings from the pen, which moves by the byte's
// advance plus the context's character extra.  Glyphs are FreeType's
// monochrome images with the face's hinting; every set bit paints exactly
// the text colour (the ROP2 does not apply to text).  With an opaque
// background the cell run (x, y)-(x + extent, y + ascent + descent) is
// filled with the background colour first.  Underline and strike-out are
// solid runs of the text colour over the same width, at the face's
// positions and thickness.  What is painted is limited by the context's
// clip, and with kPlatTextClip by the rectangle given as well.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"
#include "platform/qx_font.h"

enum : uint32_t {
  kPlatTextClip = 4,  // limit drawing to the rectangle
};

// Draws n bytes (any values, NUL included).  A negative n, a null text with
// n > 0, unknown options, or the clip option without a rectangle fail with
// kPlatErrInvalidParam and draw nothing.
bool PlatTextOut(PlatObj dc, int32_t x, int32_t y, uint32_t options, const PlatRect* rect,
                 const char* bytes, int32_t n);
// Width (the sum of the advances plus n x character extra) and height
// (ascent + descent) of n bytes; either out-pointer may be null.
bool PlatGetTextExtent(PlatObj dc, const char* bytes, int32_t n, int32_t* width, int32_t* height);
bool PlatGetTextMetrics(PlatObj dc, PlatTextMetrics* tm);
// Copies the selected font's face name (cut to size - 1 bytes, NUL added);
// returns the bytes copied, or with a null buffer the size the whole name
// needs with its NUL.  -1 for a bad context.
int32_t PlatGetTextFace(PlatObj dc, char* out, int32_t size);
// Sets the extra pixels after each character; returns the previous value
// (0 for a bad context).
int32_t PlatSetTextCharacterExtra(PlatObj dc, int32_t extra);
int32_t PlatGetTextCharacterExtra(PlatObj dc);
