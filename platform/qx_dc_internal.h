// The drawing-context record and the painting helpers shared by the
// drawing calls of this folder.  A context is used by one thread at a time.
#pragma once
#include <pixman.h>

#include <cstdarg>
#include <memory>

#include "platform/qx_dc.h"
#include "platform/qx_drawobj_internal.h"
#include "platform/qx_surface_internal.h"

namespace qxdraw {

struct Dc : Object {
  Dc() : Object(kPlatObjDc) {
    pixman_region32_init(&userClip);
    pixman_region32_init(&clip_);
  }
  ~Dc() override;
  PlatDrawTarget* target = nullptr;  // screen and target contexts
  std::unique_ptr<PlatDrawTarget> ownedTarget;
  bool memory = false;
  std::shared_ptr<Bitmap> bitmap;
  Pen* pen = nullptr;      // held (see Select)
  Brush* brush = nullptr;  // held
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
  // The user clip: read through SettleClip first (a rectangle set by
  // SetUserRectLater is made a region only then).
  mutable bool hasClip = false;
  mutable pixman_region32_t userClip;  // changed through SetUserClip only
  PlatTraceSink* trace = nullptr;

  PlatSurface* Surface() const {
    if (target) return target->Surface();
    return bitmap ? bitmap->surface : nullptr;
  }
  // System clip (the surface bounds) intersected with the user clip.
  void EffectiveClip(pixman_region32_t* out) const;
  // The same, kept until the user clip or the surface's size changes; s is
  // the context's surface.
  const pixman_region32_t* Clip() const { return Clip(Surface()); }
  const pixman_region32_t* Clip(PlatSurface* s) const {
    if (clipStale_ || s != clipSurface_ || !s || s->width != clipWidth_ || s->height != clipHeight_) Reclip(s);
    return &clip_;
  }
  // The boxes of Clip(s), apart, and their count.
  const pixman_box32_t* ClipBoxes(PlatSurface* s, int* n) const {
    Clip(s);
    *n = clipCount_;
    return clipBoxes_;
  }
  // The user clip: none, or the region (moved by dx, dy).
  void SetUserClip(const pixman_region32_t* region, int32_t dx = 0, int32_t dy = 0);
  // The user clip: none, or the rectangle as a rectangular region holds it
  // (empty when the rectangle is), made a region when it is next read.  A
  // window's clip is often set and put back before anything is drawn.
  void SetUserRectLater(const PlatRect* rect) {
    rectPending_ = true;
    pendingHas_ = rect != nullptr;
    if (rect) {
      // Field by field: no vector register is wanted for the copy.
      pendingRect_.left = rect->left;
      pendingRect_.top = rect->top;
      pendingRect_.right = rect->right;
      pendingRect_.bottom = rect->bottom;
    }
    clipStale_ = true;
  }
  // Makes a rectangle set by SetUserRectLater the user clip.
  void SettleClip() const {
    if (rectPending_) SettlePending();
  }
  // One trace line, printf style, when a sink is set.
  template <class... Args>
  void Trace(const char* fmt, Args... args) const {
    if (!trace) return;
    // A line without arguments is printed as it is.
    if constexpr (sizeof...(Args) == 0) TraceLine("%s", fmt);
    else TraceLine(fmt, args...);
  }
  void TraceLine(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
  // Makes a pen or brush handle the selected one: its object.  Null for
  // others, with *other the object looked up (null, and
  // kPlatErrInvalidHandle, for a handle of none).
  Object* SelectPenOrBrush(PlatObj h, std::shared_ptr<Object>* other = nullptr);
  // The same for a pen or brush the context holds and knows to be
  // registered still, the common case, without a call; null for any other
  // handle.
  Object* SelectHeld(PlatObj h) {
    Held* set = held_[(h ^ (h >> 16)) % kHeldSets];
    const uint32_t dropped = gDroppedPens.load(std::memory_order_acquire);
    for (int k = 0; k < kHeldWays; ++k) {
      Held& held = set[k];
      if (held.handle == h && held.checked == dropped && held.obj) return Take(held, h);
    }
    return nullptr;
  }

 private:
  // The pens and brushes selected lately, held by the context, so that
  // selecting one again looks nothing up: one is known to be registered
  // under its handle while no pen or brush has been dropped since it was
  // checked.  Sets of three by handle; the selected pen and brush are always
  // held, so each set has room for a third.
  struct Held {
    PlatObj handle = 0;
    uint32_t checked = 0;
    uint32_t used = 0;
    std::shared_ptr<Object> obj;
  };
  static constexpr int kHeldSets = 32, kHeldWays = 3;
  Held held_[kHeldSets][kHeldWays];
  uint32_t heldClock_ = 0;
  // Selects the held object of handle h: its object.
  Object* Take(Held& held, PlatObj h) {
    held.used = ++heldClock_;
    Object* o = held.obj.get();
    if (o->kind == kPlatObjPen) {
      pen = static_cast<Pen*>(o);
      penH = h;
    } else {
      brush = static_cast<Brush*>(o);
      brushH = h;
    }
    return o;
  }

  void Reclip(PlatSurface* s) const;
  void SettlePending() const;
  mutable bool rectPending_ = false, pendingHas_ = false;
  PlatRect pendingRect_{0, 0, 0, 0};
  mutable pixman_region32_t clip_;
  mutable const pixman_box32_t* clipBoxes_ = nullptr;
  mutable int clipCount_ = 0;
  mutable const PlatSurface* clipSurface_ = nullptr;
  mutable int32_t clipWidth_ = -1, clipHeight_ = -1;
  mutable bool clipStale_ = true;
};

// The context of a handle (null with kPlatErrInvalidHandle for anything
// else).  Valid until the handle is deleted.
//
// Drawing calls come in long runs on one or two contexts (a copy reads a
// memory context and writes the window's): each thread keeps the last two
// contexts it found, valid while no context handle has been dropped since.
// The table keeps the contexts alive meanwhile; a context is used by one
// thread at a time, so none is dropped during a call on it.
struct LastDc {
  PlatObj handle = 0;
  Dc* dc = nullptr;
  uint32_t dropped = 0;
};
inline thread_local LastDc tLastDc[2];  // the latest found first
Dc* FindDc(PlatObj h);
inline Dc* GetDc(PlatObj h) {
  const uint32_t dropped = gDroppedContexts.load(std::memory_order_acquire);
  for (const LastDc& last : tLastDc)
    if (h && h == last.handle && last.dropped == dropped) return last.dc;
  return FindDc(h);
}
// Puts a screen or target context back as it was made: the stock pen,
// brush, palette and font selected, no clip, no trace, every mode and
// colour at its first value; the pens and brushes it holds stay held.
// False for a handle that is no such context.
bool ResetDc(PlatObj h);
// The trace line of the context's selected brush.
void TraceBrush(const Dc& dc);
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
// Paints the pixels of the box that the context's effective clip keeps,
// with the paint or with one colour (0x00BBGGRR).
void FillClipped(const Dc& dc, const pixman_box32_t& box, const Paint& paint, uint8_t fn);
void FillClipped(const Dc& dc, const pixman_box32_t& box, uint32_t colour, uint8_t fn);
// A solid copy of the surface word v into the box (inside the surface, not
// empty) of an Rgb32 surface.
void SolidCopy(PlatSurface* s, const pixman_box32_t& box, uint32_t v);
// Copies the words of row (as many as the box is wide, 16-byte aligned)
// into every row of the box (inside the surface, not empty) of an Rgb32
// surface.
void RowCopy(PlatSurface* s, const pixman_box32_t& box, const uint32_t* row);

// Boxes painted in one colour (0x00BBGGRR) with one function where the
// context's effective clip keeps them, as FillClipped paints each.  The
// surface, the colour's pixel and the clip are found once for all of them,
// so a run of lines costs little; valid while the context's surface and
// clip stay as they are.
class SolidBoxes {
 public:
  SolidBoxes(const Dc& dc, uint32_t colour, uint8_t fn)
      : dc_(dc), colour_(colour), fn_(fn), surface_(dc.Surface()) {
    copy_ = fn == 0xF0 && surface_ && surface_->format == kPlatRgb32;
    if (!copy_) return;
    pixel_ = ColourToPixel(colour);
    clip_ = dc.ClipBoxes(surface_, &clipCount_);
  }
  // Boxes painted from now on take this colour (0x00BBGGRR).
  void SetColour(uint32_t colour) {
    colour_ = colour;
    if (copy_) pixel_ = ColourToPixel(colour);
  }
  // The one box of the clip when the boxes are copied into an Rgb32
  // surface straight, else null.
  const pixman_box32_t* OnlyClipBox() const { return copy_ && clipCount_ == 1 ? clip_ : nullptr; }
  PlatSurface* Surface() const { return surface_; }
  void Paint(const pixman_box32_t& box) const {
    if (!copy_ || clipCount_ != 1) return PaintClipped(box);
    // One clip box, the common case: the part of the box inside it.
    const pixman_box32_t& c = clip_[0];
    const pixman_box32_t part{box.x1 > c.x1 ? box.x1 : c.x1, box.y1 > c.y1 ? box.y1 : c.y1,
                              box.x2 < c.x2 ? box.x2 : c.x2, box.y2 < c.y2 ? box.y2 : c.y2};
    if (part.x1 < part.x2 && part.y1 < part.y2) SolidCopy(surface_, part, pixel_);
  }

 private:
  void PaintClipped(const pixman_box32_t& box) const;

  const Dc& dc_;
  uint32_t colour_;
  uint8_t fn_;
  bool copy_ = false;  // a copy into an Rgb32 surface, stored directly
  PlatSurface* surface_;
  uint32_t pixel_ = 0;
  const pixman_box32_t* clip_ = nullptr;
  int clipCount_ = 0;
};
// Paints the pixels of the region that the context's effective clip keeps.
void FillRegion(const Dc& dc, const pixman_region32_t* region, const Paint& paint, uint8_t fn);

}  // namespace qxdraw
