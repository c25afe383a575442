// The object table behind qx_drawobj.h, shared by the drawing contexts,
// regions and rasteriser of this folder.
#pragma once
#include <pixman.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"

namespace qxfont {
struct FontImpl;
}

namespace qxdraw {

struct Object {
  explicit Object(PlatObjKind k) : kind(k) {}
  virtual ~Object() = default;
  PlatObjKind kind;
  bool stock = false;
};

struct Pen : Object {
  Pen() : Object(kPlatObjPen) {}
  int32_t style = 0, width = 1;
  uint32_t colour = 0;
  bool flatCap = false;
};

struct Brush : Object {
  Brush() : Object(kPlatObjBrush) {}
  int32_t brushKind = kPlatBrushSolid;
  uint32_t colour = 0;
  uint8_t pattern[8] = {};  // 0 bits: text colour, 1 bits: background colour
};

struct Bitmap : Object {
  Bitmap() : Object(kPlatObjBitmap) {}
  ~Bitmap() override { PlatSurfaceDestroy(surface); }
  PlatSurface* surface = nullptr;
  int32_t depth = 1;       // bits per pixel it reports (Rgb32 holds 4 to 32)
  int32_t selectedIn = 0;  // contexts that hold it (at most one)
};

struct Palette : Object {
  Palette() : Object(kPlatObjPalette) {}
  std::vector<uint32_t> colours;
};

struct Font : Object {
  Font() : Object(kPlatObjFont) {}
  std::shared_ptr<qxfont::FontImpl> impl;  // qx_font_internal.h
};

struct Region : Object {
  Region() : Object(kPlatObjRegion) { pixman_region32_init(&r); }
  ~Region() override { pixman_region32_fini(&r); }
  pixman_region32_t r;
};

// Registers an object and returns its handle (0 when the table is full).
PlatObj Register(std::shared_ptr<Object> obj);
// The live object of a handle and kind (kPlatObjNone: any kind); null with
// kPlatErrInvalidHandle for anything else.
std::shared_ptr<Object> Lookup(PlatObj h, PlatObjKind kind);
// The live region of a handle (null with kPlatErrInvalidHandle for anything
// else), held for the calling thread until it next looks a region up: for an
// operation on the one region that looks up nothing meanwhile.
Region* LookupHeldRegion(PlatObj h);
// Drops the handle; the object lives on while others hold it.
bool Unregister(PlatObj h);
// Count the drawing contexts, and the pens and brushes, whose handles were
// dropped: one found before its count last changed is still registered.
extern std::atomic<uint32_t> gDroppedContexts, gDroppedPens;

template <class T>
std::shared_ptr<T> Get(PlatObj h, PlatObjKind kind) {
  return std::static_pointer_cast<T>(Lookup(h, kind));
}

// 0x00BBGGRR (any high byte) to the surface word 0xFFRRGGBB.
inline uint32_t ColourToPixel(uint32_t c) {
  return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline uint32_t PixelToColour(uint32_t p) {
  return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

}  // namespace qxdraw
