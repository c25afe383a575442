// Device-independent bitmaps (DIBs): pixels in a byte layout of their own,
// as files, resources and the clipboard carry them, read into and written
// from surfaces and bitmaps.
//
// Layout (all fields little-endian): a 40-byte header (u32 size 40, i32
// width, i32 height, u16 planes 1, u16 bits per pixel, u32 compression 0,
// u32 image size, i32 x and y pixels per metre, u32 colours used, u32
// colours important) or a 12-byte one (u32 size 12, u16 width, u16 height,
// u16 planes 1, u16 bits per pixel); then the colour table; then the rows,
// each padded to 32 bits, bottom row first for a positive height, top row
// first for a negative one (12-byte headers are always bottom-up).
// Depths 1, 4, 8, 16, 24 and 32, uncompressed: 16 bits are 5-5-5 with blue
// lowest; 24 and 32 bits are blue, green, red (then an unused byte).
// Colour table: entries of 4 bytes (blue, green, red, 0) after a 40-byte
// header, 3 bytes after a 12-byte one; as many as colours used, else
// 2^depth for depths 1-8 and none above.
//
// Reading refuses (kPlatErrInvalidParam) a header size other than 12 or
// 40, planes other than 1, width <= 0, height 0, another depth or any
// compression, more colours than 2^depth (256 above depth 8), row bytes
// times height past 32 bits, and a header, table or bits shorter than the
// header says: nothing is read past the given bytes.  Pixel indexes past
// the table read as black.
//
// Writing uses as the table: at 1 bit black, white; at 4 bits the 16
// standard colours (index k of 1-7: red, green, blue at 0x80 in bits 0, 1
// and 2 of k; 8: 0xC0C0C0; k of 9-15: the same at 0xFF for k - 8); at 8
// bits the context's selected palette, then black up to 256 entries.  Each
// pixel takes its exact entry, else the nearest (least squared distance,
// lowest index).  16-bit pixels keep the high 5 bits of each component;
// reading spreads them back (v << 3 | v >> 2).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"

struct PlatDibInfo {
  int32_t headerSize;   // 12 or 40
  int32_t width, height;  // height > 0
  bool topDown;
  int32_t bitsPerPixel;
  int32_t colourCount;  // table entries
  uint32_t tableBytes;
  uint32_t rowBytes;
  uint32_t imageBytes;  // rowBytes x height
};

// The 16 standard colours of 4-bit tables, 0x00BBGGRR.
extern const uint32_t kPlatStandard16[16];

// Checks a header and its colour table within [data, data + size).
bool PlatDibReadHeader(const void* data, uint32_t size, PlatDibInfo* info);
// A packed DIB: header, table and then the bits, all within size bytes.
bool PlatDibReadPacked(const void* data, uint32_t size, PlatDibInfo* info);

// A new Rgb32 surface of the DIB's pixels (null on failure).  header holds
// the header and table, bits the rows.
PlatSurface* PlatDibToSurface(const void* header, uint32_t headerBytes, const void* bits,
                              uint32_t bitsBytes);
// The same of the part (l, t, r, b; cut to the bitmap) of the DIB alone, so
// that a small part of a large DIB costs its own pixels; null on failure or
// when the part holds no pixel of the bitmap.
PlatSurface* PlatDibPartToSurface(const void* header, uint32_t headerBytes, const void* bits, uint32_t bitsBytes,
                                  const PlatRect& part);
// A packed DIB of the surface: depth 1, 4, 8, 16, 24 or 32, a 12- or
// 40-byte header, rows in either order (12 bytes: bottom-up only).  dc
// gives the 8-bit table.
bool PlatSurfaceToDib(const PlatSurface* s, PlatObj dc, int32_t depth, int32_t headerSize,
                      bool topDown, std::vector<uint8_t>* out);

// The bitmap's pixels as a packed DIB; depth 0: the bitmap's own depth.
bool PlatGetDibBits(PlatObj dc, PlatObj bitmap, int32_t depth, int32_t headerSize, bool topDown,
                    std::vector<uint8_t>* out);
// The DIB's pixels into the bitmap from its top-left corner (clipped to it).
// A Mono1 bitmap takes the nearest of black and white.
bool PlatSetDibBits(PlatObj dc, PlatObj bitmap, const void* header, uint32_t headerBytes,
                    const void* bits, uint32_t bitsBytes);
// A bitmap of the context's compatible format holding the DIB's pixels.
PlatObj PlatCreateDibBitmap(PlatObj dc, const void* header, uint32_t headerBytes, const void* bits,
                            uint32_t bitsBytes);
// The DIB's rectangle (sx, sy, sw, sh), in top-row-first coordinates, onto
// the context's (x, y, w, h), as PlatStretchBlt does (a Mono1 destination
// takes the nearest of black and white).
bool PlatStretchDibBits(PlatObj dc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
                        int32_t sy, int32_t sw, int32_t sh, const void* header,
                        uint32_t headerBytes, const void* bits, uint32_t bitsBytes, uint32_t rop3);
// One to one, copying.
bool PlatDibToDevice(PlatObj dc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy,
                     const void* header, uint32_t headerBytes, const void* bits, uint32_t bitsBytes);
