// Block transfers between contexts: copy, stretch and masked copy of pixels
// through a ROP3 code, whose function (bits 16-23) combines the destination
// context's brush p, the source pixel s and the destination pixel d bit by
// bit (see qx_raster.h).  Any context whose surface is set is a source:
// memory contexts (their selected bitmap), the screen and target contexts.
//
// Format changes: a Mono1 source on an Rgb32 destination gives 0 bits the
// destination's text colour and 1 bits its background colour; an Rgb32
// source on a Mono1 destination gives 1 where the pixel is the source
// context's background colour, 0 elsewhere.
//
// Sizes: destination pixel i of dw takes source pixel floor((2i + 1) sw /
// 2dw).  When shrinking, stretch mode 1 (the default) ANDs and mode 2 ORs
// all the source pixels j with floor(j dw / sw) = i; modes 3 and 4 sample.
// Zero or negative sizes draw nothing (true).  Destination pixels whose
// source lies outside the source surface are left alone; a code whose
// function reads no source covers the whole destination rectangle.  What is painted is
// limited by the destination's effective clip.  Failures give false with
// the host error in PlatLastError.
#pragma once
#include <cstdint>

#include "platform/qx_drawobj.h"

enum PlatStretchMode : int32_t {
  kPlatStretchAnd = 1,
  kPlatStretchOr = 2,
  kPlatStretchSample = 3,
  kPlatStretchSample2 = 4,
};

// The codes the drawing layers use.
enum : uint32_t {
  kPlatSrcCopy = 0xCC0020,
  kPlatSrcAnd = 0x8800C6,
  kPlatSrcPaint = 0xEE0086,     // d or s
  kPlatMergePaint = 0xBB0226,   // d or not s
  kPlatSrcErase2 = 0x220326,    // d and not s
  kPlatPaintMaskOr = 0xEA02E9,  // d or (p and s)
  kPlatMaskCopy = 0xCCAA0020,   // masked: copy where the mask bit is 0
};

// The previous mode, 0 on failure (a bad handle or a mode outside 1-4).
int32_t PlatSetStretchBltMode(PlatObj dc, int32_t mode);
int32_t PlatGetStretchBltMode(PlatObj dc);

// src may be 0 when the code's function reads no source.
bool PlatBitBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src, int32_t sx,
                int32_t sy, uint32_t rop3);
bool PlatStretchBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop3);
// One to one through a Mono1 mask bitmap (pixel (mx + i, my + j) for
// destination pixel (x + i, y + j)): bits 24-31 of rop4 hold the function
// for mask bit 0, bits 16-23 the one for mask bit 1.  Mask 0: every bit 0.
// A mask that is not Mono1 or does not cover the area fails.
bool PlatMaskBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src, int32_t sx,
                 int32_t sy, PlatObj mask, int32_t mx, int32_t my, uint32_t rop4);
