// Drawing contexts: the state that drawing calls paint with (pen, brush,
// raster operation, colours, brush origin, clip) and the surface they paint
// into.  A memory context paints into the bitmap selected into it (a 1 x 1
// Mono1 one at first); a screen context into the desktop surface
// (1280 x 1024, or QX_SCREEN=WxH); later window surfaces come through
// PlatDrawTarget.  Contexts are drawing-object handles (kPlatObjDc).
//
// Defaults: black pen, white brush, ROP2 copy, alternate fill, text black,
// background white and opaque, brush origin and position (0, 0), no user
// clip.  What is painted is limited by the effective clip: the system clip
// (the surface bounds) intersected with the user clip.
#pragma once
#include <cstdint>
#include <string>

#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"

// A surface that contexts can paint into; it outlives the contexts made on it.
class PlatDrawTarget {
 public:
  virtual ~PlatDrawTarget() = default;
  virtual PlatSurface* Surface() = 0;
  virtual void Flush() {}
  // A device-capability answer of its own (printers); false leaves the
  // query to the screen's answers.
  virtual bool DeviceCap(int32_t /*cap*/, int32_t* /*value*/) { return false; }
};

// Receives one line a public call of a context that has it (see qx_trace.h).
class PlatTraceSink {
 public:
  virtual ~PlatTraceSink() = default;
  virtual void Line(const std::string& line) = 0;
  // Right after a transfer line: the pixels it reads, the rectangle of the
  // source (null when it reads none) and the mask from (mx, my), one to one
  // with the destination (null without a mask).  For sinks that keep
  // drawings.
  virtual void Pixels(const PlatSurface* /*source*/, const PlatRect& /*rect*/,
                      const PlatSurface* /*mask*/, int32_t /*mx*/, int32_t /*my*/) {}
};

enum PlatRop2 : int32_t {
  kPlatRop2Black = 1,
  kPlatRop2NotMergePen = 2,
  kPlatRop2MaskNotPen = 3,
  kPlatRop2NotCopyPen = 4,
  kPlatRop2MaskPenNot = 5,
  kPlatRop2Not = 6,
  kPlatRop2XorPen = 7,
  kPlatRop2NotMaskPen = 8,
  kPlatRop2MaskPen = 9,
  kPlatRop2NotXorPen = 10,
  kPlatRop2Nop = 11,
  kPlatRop2MergeNotPen = 12,
  kPlatRop2CopyPen = 13,
  kPlatRop2MergePenNot = 14,
  kPlatRop2MergePen = 15,
  kPlatRop2White = 16,
};

enum PlatFillMode : int32_t { kPlatFillAlternate = 1, kPlatFillWinding = 2 };
enum PlatBkMode : int32_t { kPlatBkTransparent = 1, kPlatBkOpaque = 2 };

// Raster operations of pattern fills: the function is in bits 16-23.
enum : uint32_t {
  kPlatPatCopy = 0xF00021,
  kPlatPatInvert = 0x5A0049,
  kPlatPatMerge = 0xFA0089,   // destination OR pattern
  kPlatPatMask = 0xA000C9,    // destination AND pattern
  kPlatDstInvert = 0x550009,
  kPlatBlackness = 0x000042,
  kPlatWhiteness = 0xFF0062,
};

constexpr uint32_t kPlatInvalidColour = 0xFFFFFFFFu;

PlatObj PlatCreateMemoryDc();
PlatObj PlatCreateScreenDc();
PlatObj PlatCreateTargetDc(PlatDrawTarget* target);
// The same, the context owning the target: deleting the context deletes it.
PlatObj PlatCreateOwnedTargetDc(PlatDrawTarget* target);
// The target of a target context, null for others.
PlatDrawTarget* PlatDcTarget(PlatObj dc);
bool PlatDeleteDc(PlatObj dc);
// The desktop surface that screen contexts share.
PlatSurface* PlatScreenSurface();

// Selects a pen, brush, bitmap (memory contexts only; a bitmap can be in one
// context at a time), font or region (as the clip, copied: returns the clip
// kind, not a handle).  Returns the previously selected object of that kind,
// 0 on failure.
PlatObj PlatSelectObject(PlatObj dc, PlatObj obj);
PlatObj PlatCurrentObject(PlatObj dc, PlatObjKind kind);

// Each setter returns the previous value (0, or kPlatInvalidColour for the
// colours, on failure).
int32_t PlatSetRop2(PlatObj dc, int32_t rop2);
int32_t PlatGetRop2(PlatObj dc);
int32_t PlatSetPolyFillMode(PlatObj dc, int32_t mode);
uint32_t PlatSetTextColor(PlatObj dc, uint32_t colour);
uint32_t PlatSetBkColor(PlatObj dc, uint32_t colour);
int32_t PlatSetBkMode(PlatObj dc, int32_t mode);
// The brush origin names the pattern pixel at the context's (0, 0); taken
// modulo 8.
bool PlatSetBrushOrg(PlatObj dc, int32_t x, int32_t y, int32_t* oldX, int32_t* oldY);

// The clip: a copy of the region, 0 removes the user clip.  Returns the kind
// of the effective clip.
int32_t PlatSelectClipRgn(PlatObj dc, PlatObj rgn);
// The same for a region of the one rectangle, made of no region object.
int32_t PlatSelectClipRect(PlatObj dc, const PlatRect& rect);
// PlatSelectClipRect (rect) or PlatSelectClipRgn (dc, 0) (null) for a
// caller that takes no answer: the kind of the effective clip is not worked
// out.  False for a bad handle.
bool PlatSetClipRect(PlatObj dc, const PlatRect* rect);
int32_t PlatOffsetClipRgn(PlatObj dc, int32_t dx, int32_t dy);
// Copies the user clip into rgn: 1, or 0 when there is none (rgn is left
// alone), -1 for a bad handle.
int32_t PlatGetClipRgn(PlatObj dc, PlatObj rgn);
// Bounds of the effective clip, and its kind.
int32_t PlatGetClipBox(PlatObj dc, PlatRect* box);

enum PlatDeviceCap : int32_t {
  kPlatCapHorzRes = 0,
  kPlatCapVertRes = 1,
  kPlatCapBitsPixel = 2,
  kPlatCapPlanes = 3,
  kPlatCapLogPixelsX = 4,
  kPlatCapLogPixelsY = 5,
  kPlatCapNumColors = 6,
};
int32_t PlatGetDeviceCaps(PlatObj dc, int32_t cap);
// Every colour is exact on the 24-bit screen: the argument itself.
uint32_t PlatGetNearestColor(PlatObj dc, uint32_t colour);

// Palettes: the previous palette, 0 on failure; realising gives the number
// of entries realised.
PlatObj PlatSelectPalette(PlatObj dc, PlatObj palette);
int32_t PlatRealizePalette(PlatObj dc);

// Trace of the context's public calls (null stops it).  The sink must outlive
// its use.
bool PlatSetTraceSink(PlatObj dc, PlatTraceSink* sink);
