// Regions, the drawing origin and black-and-white switch, and the host
// port's clip (slot 23) and scroll (slot 29) procedures.
#include "mgsource/draw/dregion.h"

#include <cstdlib>

#include "mgsource/debug.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/picture.h"
#include "platform/qx_dc.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_draw.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"

namespace {

// A null region is a caller's mistake: reported, and the host call still
// made (it fails on the null handle and changes nothing).
void CheckRgn(DRgn rgn, int32 line) {
  if (!rgn) DBAssert(__FILE__, line, "null region");
}

int16 Pin16(int32_t v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

}  // namespace

DRgn DRectRgn(const Rect* r) {
  return r ? PlatCreateRectRgn(r->left, r->top, r->right, r->bottom) : PlatCreateRectRgn(0, 0, 0, 0);
}

DRgn DRoundRectRgn(const Rect* r, int32 ovalWidth, int32 ovalHeight) {
  if (!r) return PlatCreateRectRgn(0, 0, 0, 0);
  return PlatCreateRoundRectRgn(r->left, r->top, r->right, r->bottom, ovalWidth, ovalHeight);
}

DRgn DOvalRgn(const Rect* r) {
  return r ? PlatCreateEllipticRgn(r->left, r->top, r->right, r->bottom) : PlatCreateRectRgn(0, 0, 0, 0);
}

void DSetRectRgn(DRgn rgn, const Rect* r) {
  CheckRgn(rgn, __LINE__);
  if (r) PlatSetRectRgn(rgn, r->left, r->top, r->right, r->bottom);
  else PlatSetEmptyRgn(rgn);
}

void DSetEmptyRgn(DRgn rgn) {
  CheckRgn(rgn, __LINE__);
  PlatSetEmptyRgn(rgn);
}

void DDestroyRgn(DRgn rgn) {
  if (!rgn) {
    CheckRgn(rgn, __LINE__);
    return;
  }
  // Only a region is deleted here: a handle of another kind (a pen, a
  // context) passed by mistake is refused, not freed under its owner.
  if (PlatObjectKind(rgn) != kPlatObjRegion || !PlatDeleteObject(rgn))
    DBAssert(__FILE__, __LINE__, "DDestroyRgn: region not deleted");
}

Bool32 DPtInRgn(int32 point, DRgn rgn) {
  if (!rgn) return 0;
  const int16 v = int16(uInt32(point) & 0xFFFF), h = int16(uInt32(point) >> 16);
  return PlatPtInRegion(rgn, h, v) ? 1 : 0;
}

Bool32 DRectInRgn(const Rect* r, DRgn rgn) {
  if (!rgn || !r) return 0;
  return PlatRectInRegion(rgn, PlatRect{r->left, r->top, r->right, r->bottom}) ? 1 : 0;
}

Bool32 DEmptyRgn(DRgn rgn) {
  CheckRgn(rgn, __LINE__);
  if (!rgn) return 1;  // a missing region holds no pixel
  // The kind of a copy says whether anything is in it.
  const PlatObj copy = PlatCreateRectRgn(0, 0, 0, 0);
  if (!copy) return PlatRgnIsEmpty(rgn) ? 1 : 0;
  const int32 kind = PlatCombineRgn(copy, rgn, 0, kPlatRgnCopy);
  PlatDeleteObject(copy);
  return kind == kPlatRgnEmpty || kind == kPlatRgnError ? 1 : 0;
}

int32 DCombineRgn(DRgn dst, DRgn a, DRgn b, int32 op) {
  int32 hostOp = kPlatRgnXor;
  switch (op) {
    case kDRgnSect: hostOp = kPlatRgnAnd; break;
    case kDRgnCopy: hostOp = kPlatRgnCopy; break;
    case kDRgnDiff: hostOp = kPlatRgnDiff; break;
    case kDRgnUnion: hostOp = kPlatRgnOr; break;
    default: break;
  }
  CheckRgn(dst, __LINE__);
  CheckRgn(a, __LINE__);
  if (hostOp != kPlatRgnCopy) CheckRgn(b, __LINE__);  // a copy does not read b
  return PlatCombineRgn(dst, a, b, hostOp);
}

void DOffsetRgn(DRgn rgn, int32 dh, int32 dv) {
  CheckRgn(rgn, __LINE__);
  PlatOffsetRgn(rgn, dh, dv);
}

int32 DInsetRgn(DRgn rgn, int32 d) {
  CheckRgn(rgn, __LINE__);
  return d;
}

void DFrameRgn(DRgn rgn) {
  CheckRgn(rgn, __LINE__);
  if (gDrawState.recording) {
    PictOpArgs a;
    a.ref = rgn;
    DRecordPictOp(kPictOpFrameRgn, &a);
    return;
  }
  if (gDrawState.invisiblePen || !gDrawState.dc) return;
  const int32 w = DCurPenWidth();
  PlatFrameRgn(gDrawState.dc, rgn, DCurPenBrush(), w, w);
}

void DPaintRgn(DRgn rgn) {
  CheckRgn(rgn, __LINE__);
  if (gDrawState.recording) {
    PictOpArgs a;
    a.ref = rgn;
    DRecordPictOp(kPictOpPaintRgn, &a);
    return;
  }
  if (gDrawState.invisiblePen || !gDrawState.dc) return;
  PlatFillRgn(gDrawState.dc, rgn, DCurPenBrush());
}

void DRgnBounds(DRgn rgn, Rect* out) {
  if (!out) return;
  PlatRect box{0, 0, 0, 0};
  if (PlatGetRgnBox(rgn, &box) == kPlatRgnError) box = PlatRect{0, 0, 0, 0};
  *out = Rect{Pin16(box.top), Pin16(box.left), Pin16(box.bottom), Pin16(box.right)};
}

void DSetOrigin(int32 point) {
  gDrawState.originH = int16(uInt32(point) >> 16);
  gDrawState.originV = int16(uInt32(point) & 0xFFFF);
}

void DSetBWDrawing(Bool32 on) {
  if (gDrawState.depth > 1) gDrawState.bw = on ? 1 : 0;
}

// Slot 23.  A picture being recorded gets the clip as a record; a pixmap's
// context is clipped to the clip region moved by minus the drawing origin;
// windows and pages are clipped by the window manager (WSetClipRect).
int32 HostSetClip(const Rect* r) {
  const int32 kind = IKindOf(int32(gDrawState.target));
  if (kind == kImagePicture && gDrawState.recording) {
    if (!r) return 0;
    PictOpArgs a;
    a.rect = *r;
    DRecordPictOp(kPictOpSetClip, &a);
  } else if ((kind == kImagePixmap || kind == kImagePICT || kind == kImageMeta) && gDrawState.dc) {
    PlatSelectClipRgn(gDrawState.dc, gDrawState.clipRgn);
    PlatOffsetClipRgn(gDrawState.dc, -gDrawState.originH, -gDrawState.originV);
  }
  return 0;
}

// Slot 29.  Scrolls the content of the target window inside the rectangle
// and paints what is uncovered in fill; when everything leaves the
// rectangle, invalidates and paints all of it instead.
int32 HostScrollRect(const Rect* r, int32 dh, int32 dv, Bool32 invalidate, DColor fill, DColor bwFill) {
  if (!r) return DBAssert(__FILE__, __LINE__, "DScrollRect: no rectangle");
  if (DEmptyRect(r)) return 0;
  // Distances come from callers unchecked: |INT32_MIN| does not fit 32 bits.
  const int64_t adh = std::llabs(int64_t(dh)), adv = std::llabs(int64_t(dv));
  const int32 width = r->right - r->left, height = r->bottom - r->top;
  const bool paint = fill != kTransparentColor;
  if (adh < width && adv < height) {
    const WindowRef window = gDrawState.window;
    if (!window) return DBAssert(__FILE__, __LINE__, "DScrollRect: no target window");
    const PlatRect device{r->left - gDrawState.originH, r->top - gDrawState.originV,
                          r->right - gDrawState.originH, r->bottom - gDrawState.originV};
    PlatScrollWindowEx(WHostWindow(window), dh, dv, &device, &device, nullptr, invalidate ? uint32_t(kPlatScrollInvalidate) : 0u);
    if (!paint || (dh == 0 && dv == 0)) return 0;
    // The rows uncovered first, across the whole width; then the columns,
    // beside those rows only.
    Rect strips[2];
    int32 n = 0;
    Rect rest = *r;
    if (dv > 0) {
      strips[n++] = Rect{r->top, r->left, int16(r->top + dv), r->right};
      rest.top = int16(r->top + dv);
    } else if (dv < 0) {
      strips[n++] = Rect{int16(r->bottom + dv), r->left, r->bottom, r->right};
      rest.bottom = int16(r->bottom + dv);
    }
    if (dh > 0) strips[n++] = Rect{rest.top, r->left, rest.bottom, int16(r->left + dh)};
    else if (dh < 0) strips[n++] = Rect{rest.top, int16(r->right + dh), rest.bottom, r->right};
    DPaintRectsInColour(strips, n, fill, bwFill);
    return 0;
  }
  if (invalidate && gDrawState.window) WInvalRect(gDrawState.window, r);
  if (paint) DPaintRectsInColour(r, 1, fill, bwFill);
  return 0;
}
