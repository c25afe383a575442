#include "platform/qx_text.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_font_internal.h"
#include "platform/qx_region_internal.h"

using namespace qxdraw;

namespace {

int32_t ClampInt(int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

// The font selected into the context (its stock font at least), which lives
// while the context holds it.
qxfont::FontImpl* FontOf(const Dc& dc) {
  return dc.font && dc.font->kind == kPlatObjFont ? static_cast<Font*>(dc.font.get())->impl.get() : nullptr;
}

// Fills [l, r) x [t, b) (int64, clamped) within the clip with a colour.
void FillRun(const Dc& dc, const pixman_region32_t* clip, int64_t l, int64_t t, int64_t r, int64_t b,
             uint32_t colour) {
  if (l >= r || t >= b) return;
  pixman_region32_t area;
  pixman_region32_init(&area);
  SetRect(&area, ClampInt(l), ClampInt(t), ClampInt(r), ClampInt(b));
  pixman_region32_intersect(&area, &area, const_cast<pixman_region32_t*>(clip));
  FillRegion(dc, &area, SolidPaint(colour), 0xF0);  // pattern copy
  pixman_region32_fini(&area);
}

// Paints the set bits of a glyph whose top-left pixel is at (gx, gy), inside
// the clip boxes.  Within a box the coordinates fit 32 bits, and a zero
// byte of the glyph skips its eight pixels.
void Blit(PlatSurface* s, const pixman_box32_t* boxes, int nBoxes, const qxfont::Glyph& g, int64_t gx,
          int64_t gy, uint32_t pixel) {
  bool rgb = PlatSurfaceFormatOf(s) == kPlatRgb32;
  uint8_t* bits = PlatSurfaceBits(s);
  size_t stride = size_t(PlatSurfaceStride(s));
  for (int i = 0; i < nBoxes; ++i) {
    const pixman_box32_t& b = boxes[i];
    int64_t x0 = gx > b.x1 ? gx : b.x1, x1 = gx + g.width < b.x2 ? gx + g.width : b.x2;
    int64_t y0 = gy > b.y1 ? gy : b.y1, y1 = gy + g.rows < b.y2 ? gy + g.rows : b.y2;
    if (x0 >= x1 || y0 >= y1) continue;
    const int32_t c0 = int32_t(x0 - gx), c1 = int32_t(x1 - gx), left = int32_t(x0);
    for (int32_t y = int32_t(y0); y < int32_t(y1); ++y) {
      const uint8_t* row = &g.bits[size_t(y - gy) * size_t(g.pitch)];
      auto* out = reinterpret_cast<uint32_t*>(bits + size_t(y) * stride) + (left - c0);
      for (int32_t c = c0; c < c1; ++c) {
        const uint8_t byte = row[c >> 3];
        if (!byte) {
          c |= 7;
          continue;
        }
        if (!(byte & (0x80 >> (c & 7)))) continue;
        if (rgb)
          out[c] = pixel;
        else
          PlatSurfaceSetPixel(s, left - c0 + c, y, pixel);
      }
    }
  }
}

}  // namespace

bool PlatTextOut(PlatObj dch, int32_t x, int32_t y, uint32_t options, const PlatRect* rect,
                 const char* bytes, int32_t n) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (n < 0 || (n > 0 && !bytes) || (options & ~uint32_t(kPlatTextClip)) ||
      ((options & kPlatTextClip) && !rect)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  if (dc->trace) {
    char head[96];
    std::snprintf(head, sizeof head, "text %d,%d %u ", x, y, options);
    std::string line = head;
    if (rect)
      std::snprintf(head, sizeof head, "%d,%d,%d,%d ", rect->left, rect->top, rect->right, rect->bottom);
    line += rect ? head : "- ";
    for (int32_t i = 0; i < n; ++i) {
      std::snprintf(head, sizeof head, "%02X", uint8_t(bytes[i]));
      line += head;
    }
    dc->trace->Line(n ? line : line + "-");
  }
  auto font = FontOf(*dc);
  PlatSurface* s = dc->Surface();
  if (!font || !s) return true;
  const auto* text = reinterpret_cast<const uint8_t*>(bytes);
  int64_t width = qxfont::Extent(*font, text, n, dc->charExtra);
  int64_t top = y, baseline = int64_t(y) + font->ascent, bottom = baseline + font->descent;

  pixman_region32_t clip;
  pixman_region32_init(&clip);
  dc->EffectiveClip(&clip);
  if (options & kPlatTextClip) {
    pixman_region32_t r;
    pixman_region32_init(&r);
    SetRect(&r, rect->left, rect->top, rect->right, rect->bottom);
    pixman_region32_intersect(&clip, &clip, &r);
    pixman_region32_fini(&r);
  }
  if (dc->bkMode == kPlatBkOpaque) FillRun(*dc, &clip, x, top, int64_t(x) + width, bottom, dc->back);

  int nBoxes = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&clip, &nBoxes);
  uint32_t pixel = ColourToPixel(dc->text);
  if (PlatSurfaceFormatOf(s) == kPlatMono1) pixel = (pixel & 0xFFFFFF) == 0xFFFFFF ? 0xFFFFFFFFu : kPlatOpaque;
  if (nBoxes > 0 && font->drawable) {
    std::lock_guard<std::mutex> lock(font->mx);
    qxfont::Glyph scratch;
    int64_t pen = x;
    for (int32_t i = 0; i < n; ++i) {
      if (const qxfont::Glyph* g = font->GlyphOf(text[i], &scratch))
        Blit(s, boxes, nBoxes, *g, pen + g->left, baseline - g->top, pixel);
      pen += int64_t(font->advance[text[i]]) + dc->charExtra;
    }
  }
  if (font->desc.underline)
    FillRun(*dc, &clip, x, baseline + font->underTop, int64_t(x) + width,
            baseline + font->underTop + font->underThick, dc->text);
  if (font->desc.strikeOut)
    FillRun(*dc, &clip, x, baseline + font->strikeTop, int64_t(x) + width,
            baseline + font->strikeTop + font->strikeThick, dc->text);
  pixman_region32_fini(&clip);
  return true;
}

bool PlatGetTextExtent(PlatObj dch, const char* bytes, int32_t n, int32_t* width, int32_t* height) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (n < 0 || (n > 0 && !bytes)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  auto font = FontOf(*dc);
  if (!font) return false;
  if (width) *width = qxfont::Extent(*font, reinterpret_cast<const uint8_t*>(bytes), n, dc->charExtra);
  if (height) *height = font->ascent + font->descent;
  return true;
}

bool PlatGetTextMetrics(PlatObj dch, PlatTextMetrics* tm) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  auto font = FontOf(*dc);
  if (!font || !tm) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  qxfont::MetricsOf(*font, tm);
  return true;
}

int32_t PlatGetTextFace(PlatObj dch, char* out, int32_t size) {
  auto dc = GetDc(dch);
  if (!dc) return -1;
  auto font = FontOf(*dc);
  if (!font) return -1;
  int32_t len = int32_t(std::strlen(font->desc.face));
  if (!out) return len + 1;
  if (size <= 0) return 0;
  if (len > size - 1) len = size - 1;
  std::memcpy(out, font->desc.face, size_t(len));
  out[len] = 0;
  return len;
}

int32_t PlatSetTextCharacterExtra(PlatObj dch, int32_t extra) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  int32_t old = dc->charExtra;
  dc->charExtra = extra;
  dc->Trace("charextra %d", extra);
  return old;
}

int32_t PlatGetTextCharacterExtra(PlatObj dch) {
  auto dc = GetDc(dch);
  return dc ? dc->charExtra : 0;
}
