// Drawing a block of pixels (the host port's slot 25) and what it shares
// with picture playback.
#pragma once
#include <cstddef>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// The descriptor DDrawBits reads: the pixel byte count, the source bounds,
// the destination, the depth, the two colours and the colour table's size
// (its entries are 8 bytes: u16 index, u16 red, green, blue, the byte at
// the higher offset of each used).
struct DDrawBitsDesc {
  uInt32 count;
  Rect source;
  Rect dest;
  int16 depth;
  DColor fore;
  DColor back;
  int16 entries;
  int16 flags;
};
static_assert(sizeof(DDrawBitsDesc) == 36 && offsetof(DDrawBitsDesc, depth) == 20 &&
                  offsetof(DDrawBitsDesc, fore) == 24 && offsetof(DDrawBitsDesc, entries) == 32,
              "pixel block descriptor");

// Whether pixels drawn on a one-bit target are dithered: on screens and
// pixmaps, and on the printer's page window.  Set from the configuration
// at start-up.
extern Bool32 gDitherBits;
extern Bool32 gPrinterDitherBits;

// What every port draws alike: a picture record by record into the
// destination mapped from the sub-rectangle, clipped to r; a procedural image
// through its draw message (fore transparent stays transparent).
int32 IDrawPictureInto(int32 image, const Rect* subRect, const Rect* r, DColor fg, DColor bg, DColor bwFore,
                       DColor bwBack);
int32 IDrawProcInto(int32 image, const Rect* r, DColor fore, DColor fg, DColor bg);

// The bytes of a row of the system's format at a depth (0 for another
// depth or a width that does not fit).
int32 ISystemRowBytes(int32 width, int32 depth);
