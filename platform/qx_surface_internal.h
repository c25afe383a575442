// The surface record, for the rasteriser's inner paths of this folder.
#pragma once
#include "platform/qx_surface.h"

struct PlatSurface {
  int32_t width;
  int32_t height;
  PlatSurfaceFormat format;
  int32_t stride;
  uint8_t* bits;
};
