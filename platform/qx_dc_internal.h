// The drawing-context record and the painting helpers shared by the
// drawing calls of this folder.  A context is used by one thread at a time.
#pragma once
#include <pixman.h>

#include <cstdarg>
#include <memory>

#include "platform/qx_dc.h"
#include "platform/qx_drawobj_internal.h"

namespace qxdraw {

struct Dc : Object {
  Dc() : Object(kPlatObjDc) { pixman_region32_init(&userClip); }
  ~Dc() override;
  PlatDrawTarget* target = nullptr;  // screen and target contexts
  std::unique_ptr<PlatDrawTarget> ownedTarget;
  bool memory = false;
  std::shared_ptr<Bitmap> bitmap;
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Object> font;
  std::shared_ptr<Palette> palette;
  PlatObj bitmapH = 0, penH = 0, brushH = 0, fontH = 0, paletteH = 0;
  int32_t rop2 = kPlatRop2CopyPen;
  int32_t fillMode = kPlatFillAlternate;
  int32_t bkMode = kPlatBkOpaque;
  int32_t stretchMode = 1;  // and (see qx_blit.h)
  uint32_t text = 0, back = 0xFFFFFF;  // 0x00BBGGRR
  int32_t orgX = 0, orgY = 0;          // brush origin, 0..7
  int32_t posX = 0, posY = 0;
  int32_t charExtra = 0;               // added after each character of text
  bool hasClip = false;
  pixman_region32_t userClip;
  PlatTraceSink* trace = nullptr;

  PlatSurface* Surface() const;
  // System clip (the surface bounds) intersected with the user clip.
  void EffectiveClip(pixman_region32_t* out) const;
  // One trace line, printf style, when a sink is set.
  void Trace(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
};

std::shared_ptr<Dc> GetDc(PlatObj h);
// Sets an integer mode of the context after checking lo <= value <= hi
// (else kPlatErrInvalidParam); traces "name value"; the previous value, 0
// on failure.
int32_t SetMode(PlatObj dc, int32_t Dc::*field, int32_t lo, int32_t hi, const char* name, int32_t value);

// What a fill paints at each pixel: the colour of pattern cell
// [(y + oy) & 7][(x + ox) & 7] as a surface word.
struct Paint {
  bool solid = true;
  uint32_t cell[8][8];
  int32_t ox = 0, oy = 0;
};
// Null brush: false.
bool MakePaint(const Dc& dc, const Brush& brush, Paint* paint);
// A solid paint of one colour (0x00BBGGRR).
Paint SolidPaint(uint32_t colour);

// Raster function (bits 16-23 of a ROP3 code) of a ROP2 code: the pattern
// plays the pen.
uint8_t Rop2Function(int32_t rop2);
// True when the function reads no source.
inline bool SourceFree(uint8_t fn) { return ((fn >> 2) & 0x33) == (fn & 0x33); }

// Paints the box, already inside the surface, with the function.
void FillBox(PlatSurface* s, const pixman_box32_t& box, const Paint& paint, uint8_t fn);
// Paints the pixels of the region that the context's effective clip keeps.
void FillRegion(const Dc& dc, const pixman_region32_t* region, const Paint& paint, uint8_t fn);

}  // namespace qxdraw
