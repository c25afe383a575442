// In-memory pixel surfaces that drawing contexts paint into.
//
// Rgb32: one 32-bit word a pixel, 0xFFRRGGBB (alpha always 0xFF), rows of
// width words.  Mono1: one bit a pixel, 0 black and 1 white, the high bit of
// each byte leftmost, rows padded to 32 bits.  Pixel (x, y) covers
// [x, x+1) x [y, y+1); row 0 is the top one.  A fresh surface, and the area a
// resize adds, is black.  Surfaces whose pixel store would pass 2^31 bytes
// are refused.
#pragma once
#include <cstdint>

enum PlatSurfaceFormat : int32_t {
  kPlatRgb32 = 0,
  kPlatMono1 = 1,
};

constexpr uint32_t kPlatOpaque = 0xFF000000u;

struct PlatSurface;

// Null (kPlatErrInvalidParam for a negative size or unknown format,
// kPlatErrNoMemory for one too large) on failure.
PlatSurface* PlatSurfaceCreate(int32_t width, int32_t height, PlatSurfaceFormat format);
void PlatSurfaceDestroy(PlatSurface* s);
// New size, keeping the pixels of the top-left part both sizes share.  On
// failure the surface is unchanged.
bool PlatSurfaceResize(PlatSurface* s, int32_t width, int32_t height);

int32_t PlatSurfaceWidth(const PlatSurface* s);
int32_t PlatSurfaceHeight(const PlatSurface* s);
PlatSurfaceFormat PlatSurfaceFormatOf(const PlatSurface* s);
int32_t PlatSurfaceStride(const PlatSurface* s);  // bytes a row
uint8_t* PlatSurfaceBits(PlatSurface* s);          // null for an empty surface
const uint8_t* PlatSurfaceBits(const PlatSurface* s);
// Total bytes of the pixel store (stride x height).
uint32_t PlatSurfaceByteSize(const PlatSurface* s);

// The pixel as 0xFFRRGGBB (Mono1: black or white); 0 outside the surface.
uint32_t PlatSurfaceGetPixel(const PlatSurface* s, int32_t x, int32_t y);
// Rgb32 stores 0xFF000000 | (rgb & 0xFFFFFF); Mono1 stores 1 only for exact
// white.  Outside the surface nothing happens.
void PlatSurfaceSetPixel(PlatSurface* s, int32_t x, int32_t y, uint32_t rgb);
// Every pixel to one colour.
void PlatSurfaceClear(PlatSurface* s, uint32_t rgb);
