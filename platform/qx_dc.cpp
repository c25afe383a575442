#include "platform/qx_dc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_region.h"
#include "platform/qx_region_internal.h"
#include "platform/qx_surface_internal.h"

namespace qxdraw {

Dc::~Dc() {
  if (bitmap && !bitmap->stock) --bitmap->selectedIn;
  pixman_region32_fini(&userClip);
  pixman_region32_fini(&clip_);
}

void Dc::EffectiveClip(pixman_region32_t* out) const { pixman_region32_copy(out, Clip()); }

void Dc::SettlePending() const {
  rectPending_ = false;
  if (pendingHas_) {
    SetRect(&userClip, pendingRect_.left, pendingRect_.top, pendingRect_.right, pendingRect_.bottom);
    hasClip = true;
  } else {
    hasClip = false;
    SetRect(&userClip, 0, 0, 0, 0);
  }
}

void Dc::Reclip(PlatSurface* s) const {
  SettleClip();
  const int32_t w = s ? s->width : 0, h = s ? s->height : 0;
  SetRect(&clip_, 0, 0, w, h);
  if (hasClip) pixman_region32_intersect(&clip_, &clip_, const_cast<pixman_region32_t*>(&userClip));
  clipBoxes_ = pixman_region32_rectangles(&clip_, &clipCount_);
  clipSurface_ = s;
  clipWidth_ = w;
  clipHeight_ = h;
  // Without a surface nothing is kept: the next call looks again.
  clipStale_ = !s;
}

void Dc::SetUserClip(const pixman_region32_t* region, int32_t dx, int32_t dy) {
  rectPending_ = false;
  if (!region) {
    hasClip = false;
    SetRect(&userClip, 0, 0, 0, 0);
  } else {
    if (region != &userClip) pixman_region32_copy(&userClip, const_cast<pixman_region32_t*>(region));
    if (dx || dy) pixman_region32_translate(&userClip, dx, dy);
    hasClip = true;
  }
  clipStale_ = true;
}

Object* Dc::SelectPenOrBrush(PlatObj h, std::shared_ptr<Object>* other) {
  const uint32_t dropped = gDroppedPens.load(std::memory_order_acquire);
  Held* set = held_[(h ^ (h >> 16)) % kHeldSets];
  Held* found = nullptr;
  for (int k = 0; k < kHeldWays; ++k) {
    if (set[k].handle == h && set[k].obj) {
      found = &set[k];
      break;
    }
  }
  if (!found || found->checked != dropped) {
    std::shared_ptr<Object> o = Lookup(h, kPlatObjNone);
    if (!o || (o->kind != kPlatObjPen && o->kind != kPlatObjBrush)) {
      if (other) *other = std::move(o);
      return nullptr;
    }
    if (!found) {
      // The least recently used place of the set whose object is not
      // selected.
      for (int k = 0; k < kHeldWays; ++k) {
        const Object* held = set[k].obj.get();
        if (held && (held == pen || held == brush)) continue;
        if (!found || set[k].used < found->used) found = &set[k];
      }
      found->handle = h;
      found->obj = std::move(o);
    }
    found->checked = dropped;
  }
  return Take(*found, h);
}

void Dc::TraceLine(const char* fmt, ...) const {
  if (!trace) return;
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  trace->Line(buf);
}

Dc* FindDc(PlatObj h) {
  const uint32_t dropped = gDroppedContexts.load(std::memory_order_acquire);
  const std::shared_ptr<Dc> found = Get<Dc>(h, kPlatObjDc);
  if (!found) return nullptr;
  tLastDc[1] = tLastDc[0];
  tLastDc[0] = LastDc{h, found.get(), dropped};
  return found.get();
}

void TraceBrush(const Dc& dc) {
  const Brush& b = *dc.brush;
  if (b.brushKind == kPlatBrushNull) {
    dc.Trace("brush null");
  } else if (b.brushKind == kPlatBrushSolid) {
    dc.Trace("brush solid 0x%06X", b.colour);
  } else {
    const uint8_t* r = b.pattern;
    dc.Trace("brush pattern %02X%02X%02X%02X%02X%02X%02X%02X", r[0], r[1], r[2], r[3], r[4], r[5],
             r[6], r[7]);
  }
}

namespace {

class ScreenTarget : public PlatDrawTarget {
 public:
  ScreenTarget() {
    int32_t w = 1280, h = 1024;
    if (const char* v = std::getenv("QX_SCREEN")) {
      int ww = 0, hh = 0;
      if (std::sscanf(v, "%dx%d", &ww, &hh) == 2 && ww > 0 && hh > 0 && ww <= 16384 && hh <= 16384) {
        w = ww;
        h = hh;
      }
    }
    surface_ = PlatSurfaceCreate(w, h, kPlatRgb32);
  }
  PlatSurface* Surface() override { return surface_; }

 private:
  PlatSurface* surface_;
};

ScreenTarget& Screen() {
  static ScreenTarget* s = new ScreenTarget;  // the desktop lives as long as the process
  return *s;
}

// Selects the stock pen, brush, palette and font, as a new context has them.
void SelectStock(Dc& dc) {
  for (const int32_t stock : {kPlatStockBlackPen, kPlatStockWhiteBrush}) {
    const PlatObj o = PlatGetStockObject(stock);
    if (!dc.SelectHeld(o)) dc.SelectPenOrBrush(o);
  }
  const PlatObj palette = PlatGetStockObject(kPlatStockPalette), font = PlatGetStockObject(kPlatStockFont);
  if (dc.paletteH != palette) {
    dc.paletteH = palette;
    dc.palette = Get<Palette>(palette, kPlatObjPalette);
  }
  if (dc.fontH != font) {
    dc.fontH = font;
    dc.font = Lookup(font, kPlatObjFont);
  }
}

PlatObj NewDc(PlatDrawTarget* target, bool memory) {
  auto dc = std::make_shared<Dc>();
  dc->target = target;
  dc->memory = memory;
  SelectStock(*dc);
  if (memory) {
    dc->bitmapH = PlatGetStockObject(kPlatStockBitmap);
    dc->bitmap = Get<Bitmap>(dc->bitmapH, kPlatObjBitmap);
    // The stock bitmap may sit in any number of contexts: it is never drawn
    // on for real (1 x 1), so it is not counted.
  }
  return Register(dc);
}

}  // namespace

bool ResetDc(PlatObj h) {
  Dc* dc = GetDc(h);
  if (!dc || dc->memory) return false;
  // As NewDc and the member initialisers make it.
  SelectStock(*dc);
  dc->rop2 = kPlatRop2CopyPen;
  dc->fillMode = kPlatFillAlternate;
  dc->bkMode = kPlatBkOpaque;
  dc->stretchMode = 1;
  dc->text = 0, dc->back = 0xFFFFFF;
  dc->orgX = dc->orgY = 0;
  dc->posX = dc->posY = 0;
  dc->charExtra = 0;
  dc->SettleClip();
  if (dc->hasClip) dc->SetUserClip(nullptr);
  dc->trace = nullptr;
  return true;
}

}  // namespace qxdraw

using namespace qxdraw;

PlatSurface* PlatScreenSurface() { return Screen().Surface(); }
PlatObj PlatCreateMemoryDc() { return NewDc(nullptr, true); }
PlatObj PlatCreateScreenDc() { return NewDc(&Screen(), false); }

PlatObj PlatCreateTargetDc(PlatDrawTarget* target) {
  if (!target) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  return NewDc(target, false);
}

PlatObj PlatCreateOwnedTargetDc(PlatDrawTarget* target) {
  PlatObj h = PlatCreateTargetDc(target);
  if (!h) {
    delete target;
    return 0;
  }
  GetDc(h)->ownedTarget.reset(target);
  return h;
}

PlatDrawTarget* PlatDcTarget(PlatObj dch) {
  auto dc = GetDc(dch);
  return dc ? dc->target : nullptr;
}

bool PlatDeleteDc(PlatObj dc) {
  if (!GetDc(dc)) return false;
  return Unregister(dc);
}

namespace {

// PlatSelectObject of the objects not held: fonts, bitmaps, regions.
PlatObj SelectOther(Dc* dc, PlatObj dch, PlatObj obj, std::shared_ptr<Object> o) {
  PlatObj old = 0;
  switch (o->kind) {
    case kPlatObjFont:
      old = dc->fontH;
      dc->font = o;
      dc->fontH = obj;
      dc->Trace("font");
      return old;
    case kPlatObjBitmap: {
      auto bm = std::static_pointer_cast<Bitmap>(o);
      if (!dc->memory || (!bm->stock && bm->selectedIn > 0 && bm != dc->bitmap)) {
        PlatSetLastError(kPlatErrInvalidParam);
        return 0;
      }
      old = dc->bitmapH;
      if (bm != dc->bitmap) {
        if (!bm->stock) ++bm->selectedIn;
        if (!dc->bitmap->stock) --dc->bitmap->selectedIn;
        dc->bitmap = bm;  // a deleted bitmap let go here is freed now
      }
      dc->bitmapH = obj;
      dc->Trace("bitmap %d %d %d", PlatSurfaceWidth(bm->surface), PlatSurfaceHeight(bm->surface),
                int(PlatSurfaceFormatOf(bm->surface)));
      return old;
    }
    case kPlatObjRegion:
      return PlatObj(PlatSelectClipRgn(dch, obj));
    default:
      PlatSetLastError(kPlatErrInvalidHandle);
      return 0;
  }
}

}  // namespace

PlatObj PlatSelectObject(PlatObj dch, PlatObj obj) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  // Pens and brushes, the most selected, are found among those the context
  // holds.
  const PlatObj oldPen = dc->penH, oldBrush = dc->brushH;
  std::shared_ptr<Object> o;
  Object* held = dc->SelectHeld(obj);
  if (!held) held = dc->SelectPenOrBrush(obj, &o);
  if (held) {
    if (held->kind == kPlatObjBrush) {
      if (dc->trace) TraceBrush(*dc);
      return oldBrush;
    }
    dc->Trace("pen %d %d 0x%06X", dc->pen->style, dc->pen->width, dc->pen->colour);
    return oldPen;
  }
  return o ? SelectOther(dc, dch, obj, std::move(o)) : 0;
}

PlatObj PlatCurrentObject(PlatObj dch, PlatObjKind kind) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  switch (kind) {
    case kPlatObjPen: return dc->penH;
    case kPlatObjBrush: return dc->brushH;
    case kPlatObjFont: return dc->fontH;
    case kPlatObjBitmap: return dc->bitmapH;
    case kPlatObjPalette: return dc->paletteH;
    default:
      PlatSetLastError(kPlatErrInvalidParam);
      return 0;
  }
}

namespace qxdraw {

int32_t SetMode(PlatObj dch, int32_t Dc::*field, int32_t lo, int32_t hi, const char* name, int32_t value) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  if (value < lo || value > hi) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  int32_t old = (*dc).*field;
  (*dc).*field = value;
  dc->Trace("%s %d", name, value);
  return old;
}

}  // namespace qxdraw

int32_t PlatSetRop2(PlatObj dc, int32_t rop2) {
  return SetMode(dc, &Dc::rop2, kPlatRop2Black, kPlatRop2White, "rop2", rop2);
}

int32_t PlatGetRop2(PlatObj dch) {
  auto dc = GetDc(dch);
  return dc ? dc->rop2 : 0;
}

int32_t PlatSetPolyFillMode(PlatObj dc, int32_t mode) {
  return SetMode(dc, &Dc::fillMode, kPlatFillAlternate, kPlatFillWinding, "fillmode", mode);
}

namespace {

uint32_t SetColour(PlatObj dch, uint32_t Dc::*field, const char* name, uint32_t colour) {
  auto dc = GetDc(dch);
  if (!dc) return kPlatInvalidColour;
  uint32_t old = (*dc).*field;
  (*dc).*field = colour & 0xFFFFFF;
  dc->Trace("%s 0x%06X", name, colour & 0xFFFFFF);
  return old;
}

}  // namespace

uint32_t PlatSetTextColor(PlatObj dc, uint32_t colour) {
  return SetColour(dc, &Dc::text, "textcolor", colour);
}

uint32_t PlatSetBkColor(PlatObj dc, uint32_t colour) {
  return SetColour(dc, &Dc::back, "bkcolor", colour);
}

int32_t PlatSetBkMode(PlatObj dc, int32_t mode) {
  return SetMode(dc, &Dc::bkMode, kPlatBkTransparent, kPlatBkOpaque, "bkmode", mode);
}

bool PlatSetBrushOrg(PlatObj dch, int32_t x, int32_t y, int32_t* oldX, int32_t* oldY) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (oldX) *oldX = dc->orgX;
  if (oldY) *oldY = dc->orgY;
  dc->orgX = x & 7;
  dc->orgY = y & 7;
  dc->Trace("brushorg %d,%d", dc->orgX, dc->orgY);
  return true;
}

namespace {

// The trace line of a clip just selected.
void TraceClip(Dc* dc) {
  if (dc->trace) {
    int n = 0;
    const pixman_box32_t* b = pixman_region32_rectangles(&dc->userClip, &n);
    std::string line = dc->hasClip ? "clip" : "clip none";
    char part[64];
    for (int i = 0; i < n; ++i) {
      std::snprintf(part, sizeof part, " %d,%d,%d,%d", b[i].x1, b[i].y1, b[i].x2, b[i].y2);
      line += part;
    }
    dc->trace->Line(line);
  }
}

// The answer of a clip just selected: its kind.
int32_t ClipKind(Dc* dc, PlatObj dch) {
  // A clip of at most one rectangle meets the surface in at most one: its
  // kind comes from the boxes alone, and the region is intersected only when
  // the context next draws (a clip often changes again before that).
  const int n = dc->hasClip ? pixman_region32_n_rects(&dc->userClip) : 1;
  if (n > 1) return PlatGetClipBox(dch, nullptr);
  if (n == 0) return kPlatRgnEmpty;
  PlatSurface* surface = dc->Surface();
  pixman_box32_t box{0, 0, surface ? surface->width : 0, surface ? surface->height : 0};
  if (dc->hasClip) {
    const pixman_box32_t* e = pixman_region32_extents(&dc->userClip);
    box = pixman_box32_t{std::max(box.x1, e->x1), std::max(box.y1, e->y1), std::min(box.x2, e->x2),
                         std::min(box.y2, e->y2)};
  }
  return box.x2 > box.x1 && box.y2 > box.y1 ? kPlatRgnSimple : kPlatRgnEmpty;
}

// The trace and the answer of a clip just selected.
int32_t ClipSelected(Dc* dc, PlatObj dch) {
  TraceClip(dc);
  return ClipKind(dc, dch);
}

// The context's user clip set to the rectangle (as a rectangular region
// holds it: empty when the rectangle is), or none for null, and traced.
void SetClipRect(Dc* dc, const PlatRect* rect) {
  if (rect) {
    SetRect(&dc->userClip, rect->left, rect->top, rect->right, rect->bottom);
    dc->SetUserClip(&dc->userClip);
  } else {
    dc->SetUserClip(nullptr);
  }
  TraceClip(dc);
}

// SetClipRect, kept out of the callers that mostly take another way.
__attribute__((noinline)) void SetClipRectNow(Dc* dc, const PlatRect* rect) { SetClipRect(dc, rect); }

}  // namespace

int32_t PlatSelectClipRgn(PlatObj dch, PlatObj rgn) {
  auto dc = GetDc(dch);
  if (!dc) return kPlatRgnError;
  if (rgn == 0) {
    SetClipRect(dc, nullptr);
    return ClipKind(dc, dch);
  }
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!g) return kPlatRgnError;
  dc->SetUserClip(&g->r);
  return ClipSelected(dc, dch);
}

int32_t PlatSelectClipRect(PlatObj dch, const PlatRect& rect) {
  auto dc = GetDc(dch);
  if (!dc) return kPlatRgnError;
  SetClipRect(dc, &rect);
  return ClipKind(dc, dch);
}

// Built without vector registers for the rectangle's copy: they need a
// realigned stack, which costs more here than the copy saves.
__attribute__((optimize("no-tree-slp-vectorize"))) bool PlatSetClipRect(PlatObj dch, const PlatRect* rect) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  // A traced context shows the region in its trace line now.
  if (dc->trace) SetClipRectNow(dc, rect);
  else dc->SetUserRectLater(rect);
  return true;
}

int32_t PlatOffsetClipRgn(PlatObj dch, int32_t dx, int32_t dy) {
  auto dc = GetDc(dch);
  if (!dc) return kPlatRgnError;
  dc->SettleClip();
  if (dc->hasClip) {
    if (!OffsetFits(&dc->userClip, dx, dy)) {
      PlatSetLastError(kPlatErrInvalidParam);
      return kPlatRgnError;
    }
    dc->SetUserClip(&dc->userClip, dx, dy);
  }
  dc->Trace("offsetclip %d,%d", dx, dy);
  return PlatGetClipBox(dch, nullptr);
}

int32_t PlatGetClipRgn(PlatObj dch, PlatObj rgn) {
  auto dc = GetDc(dch);
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!dc || !g) return -1;
  dc->SettleClip();
  if (!dc->hasClip) return 0;
  pixman_region32_copy(&g->r, &dc->userClip);
  return 1;
}

int32_t PlatGetClipBox(PlatObj dch, PlatRect* box) {
  auto dc = GetDc(dch);
  if (!dc) return kPlatRgnError;
  const pixman_region32_t* clip = dc->Clip();
  int32_t kind = RegionKind(clip);
  if (box) {
    const pixman_box32_t* e = pixman_region32_extents(const_cast<pixman_region32_t*>(clip));
    *box = kind == kPlatRgnEmpty ? PlatRect{0, 0, 0, 0} : PlatRect{e->x1, e->y1, e->x2, e->y2};
  }
  return kind;
}

int32_t PlatGetDeviceCaps(PlatObj dch, int32_t cap) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  int32_t own = 0;
  if (dc->target && dc->target->DeviceCap(cap, &own)) return own;
  const PlatSurface* screen = PlatScreenSurface();
  switch (cap) {
    case kPlatCapHorzRes: return PlatSurfaceWidth(screen);
    case kPlatCapVertRes: return PlatSurfaceHeight(screen);
    case kPlatCapBitsPixel: return 24;
    case kPlatCapPlanes: return 1;
    case kPlatCapLogPixelsX:
    case kPlatCapLogPixelsY: return 96;
    case kPlatCapNumColors: return -1;
    default:
      PlatSetLastError(kPlatErrInvalidParam);
      return 0;
  }
}

uint32_t PlatGetNearestColor(PlatObj dch, uint32_t colour) {
  return GetDc(dch) ? colour : kPlatInvalidColour;
}

PlatObj PlatSelectPalette(PlatObj dch, PlatObj palette) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  auto p = Get<Palette>(palette, kPlatObjPalette);
  if (!p) return 0;
  PlatObj old = dc->paletteH;
  dc->palette = p;
  dc->paletteH = palette;
  dc->Trace("palette %zu", p->colours.size());
  return old;
}

int32_t PlatRealizePalette(PlatObj dch) {
  auto dc = GetDc(dch);
  if (!dc) return -1;
  dc->Trace("realizepalette");
  return dc->palette ? int32_t(dc->palette->colours.size()) : 0;
}

bool PlatSetTraceSink(PlatObj dch, PlatTraceSink* sink) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  dc->trace = sink;
  return true;
}

PlatObj PlatCreateCompatibleBitmap(PlatObj dch, int32_t width, int32_t height) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  int32_t depth = dc->memory && dc->bitmap ? dc->bitmap->depth : 24;
  return PlatCreateBitmap(width, height, depth, nullptr, 0);
}
