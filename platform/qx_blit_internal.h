// The transfer engine behind qx_blit.h, shared with the DIB calls.
#pragma once
#include <cstdint>

#include "platform/qx_dc_internal.h"

namespace qxdraw {

// How source words become destination words when the formats differ.
enum class Convert {
  kSame,          // equal formats
  kMonoToColour,  // 0: text colour, 1: background colour (destination's)
  kByBack,        // colour to mono: the source background colour gives 1
  kNearest,       // colour to mono: nearest of black and white (black on ties)
};

struct TransferSource {
  const PlatSurface* surface;
  Convert convert;
  uint32_t back;  // kByBack: the source context's background, 0x00RRGGBB
};

// Transfers the source rectangle (sx, sy, sw, sh) onto the destination
// rectangle (x, y, w, h) of the context.  fn0 is the raster function where
// the mask bit is 0 (or without a mask), fn1 where it is 1.  All sizes > 0.
void Transfer(const Dc& dst, int32_t x, int32_t y, int32_t w, int32_t h, const TransferSource& src,
              int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint8_t fn0, uint8_t fn1,
              const PlatSurface* mask, int32_t mx, int32_t my);

// White or black (0x00RRGGBB), whichever is nearer; black on ties.
uint32_t NearestMono(uint32_t word);

// The conversion from a surface of the given format onto the destination.
Convert ConvertFor(const PlatSurface* from, const PlatSurface* to, bool byBack);

}  // namespace qxdraw
