// The PostScript port's image slots: icons, masks, icon families and
// pixmaps are written as imagemask, image or colorimage operators with
// their samples in hexadecimal; pictures and procedural images draw
// themselves through the port; enhanced metafiles are played straight onto
// the printer between two pieces of the page's PostScript.
#include <cstring>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/psport.h"
#include "mgsource/draw/psport_internal.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_metafile.h"
#include "platform/qx_region.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr const char* kReadHex = "{currentfile pictstr readhexstring pop} ";

bool DepthSupported(int32 depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// One pixel of a row at a supported depth above 1.
inline uInt32 Pixel(int32 depth, const uInt8*& p, int32 column, const uInt32* table, bool grey) {
  uInt32 c;
  switch (depth) {
    case 4:
      c = table[column & 1 ? (*p++ & 0x0F) : (*p >> 4)];
      return c;
    case 8: return table[*p++];
    case 16: {
      const uInt32 w = (uInt32(p[0]) << 8) | p[1];
      p += 2;
      const uInt32 r = (w >> 10) & 31, g = (w >> 5) & 31, b = w & 31;
      c = ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) | (b << 3 | b >> 2);
      break;
    }
    case 24:
      c = (uInt32(p[0]) << 16) | (uInt32(p[1]) << 8) | p[2];
      p += 3;
      break;
    default:
      c = (uInt32(p[1]) << 16) | (uInt32(p[2]) << 8) | p[3];
      p += 4;
      break;
  }
  if (!grey) return c;
  const uInt32 r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  return r / 4 + r / 8 + g / 2 + b / 8;
}

// The two upper-case hex digits of every byte value.
const char* Pairs() {
  static const struct Table {
    char t[512];
    Table() {
      for (int32 i = 0; i < 256; ++i) {
        t[2 * i] = kHexDigits[i >> 4];
        t[2 * i + 1] = kHexDigits[i & 15];
      }
    }
  } table;
  return table.t;
}

// Hex digits gathered into lines of the page.
class HexLines {
 public:
  explicit HexLines(int32 limit) : limit_(limit) {}
  void Byte(uInt32 b) {
    std::memcpy(b_ + n_, Pairs() + 2 * (b & 0xFF), 2);
    n_ += 2;
  }
  // Lines of 56 digits: written when they reach the limit.
  void ByteReach(uInt32 b) {
    Byte(b);
    if (n_ >= limit_) End();
  }
  // Lines of image samples: written when they pass the limit.
  bool Past() const { return n_ > limit_; }
  void End() {
    if (!n_) return;
    b_[n_++] = '\r';
    PSWriteBytes(b_, n_);
    n_ = 0;
  }

 private:
  int32 limit_;
  int32 n_ = 0;
  char b_[320];
};

void WriteOut(PSLine& o) {
  o.C('\r');
  PSWriteBytes(o.Data(), o.Size());
}

// The pixel at x of a row of depth 1 or 4.
inline uInt32 SubBytePixel(const uInt8* row, int32 x, int32 depth) {
  if (depth == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1;
  return (row[x >> 1] >> (x & 1 ? 0 : 4)) & 15;
}
inline void PutSubBytePixel(uInt8* row, int32 x, int32 depth, uInt32 v) {
  if (depth == 1) row[x >> 3] = uInt8(row[x >> 3] | (v << (7 - (x & 7))));
  else row[x >> 1] = uInt8(row[x >> 1] | (v << (x & 1 ? 0 : 4)));
}

// Copies the part of rows (rowBytes apart) at column left, row top, w by
// h, into out, outRowBytes apart.
void CopyPart(const uInt8* rows, int32 rowBytes, int32 depth, int32 left, int32 top, int32 w, int32 h, uInt8* out,
              int32 outRowBytes) {
  for (int32 y = 0; y < h; ++y) {
    const uInt8* from = rows + size_t(top + y) * size_t(rowBytes);
    uInt8* to = out + size_t(y) * size_t(outRowBytes);
    if (depth >= 8) {
      const int32 bytes = depth / 8;
      std::memcpy(to, from + size_t(left) * size_t(bytes), size_t(w) * size_t(bytes));
    } else {
      for (int32 x = 0; x < w; ++x) PutSubBytePixel(to, x, depth, SubBytePixel(from, left + x, depth));
    }
  }
}

// The bounds of the set bits of a w by h mask; false when none is set.
bool MaskBounds(const PSMask& m, int32 w, int32 h, Rect* box) {
  int32 l = w, t = h, r = -1, b = -1;
  for (int32 y = 0; y < h; ++y) {
    const uInt8* row = m.bits + size_t(y) * size_t(m.rowBytes);
    for (int32 x = 0; x < w; ++x) {
      if (!((row[x >> 3] >> (7 - (x & 7))) & 1)) continue;
      if (x < l) l = x;
      if (x > r) r = x;
      if (y < t) t = y;
      if (y > b) b = y;
    }
  }
  if (r < 0) return false;
  *box = Rect{int16(t), int16(l), int16(b + 1), int16(r + 1)};
  return true;
}

// "w h true [w 0 0 h 0 0]" and the imagemask call, then the rows.
void WriteImageMask(const uInt8* rows, int32 rowBytes, int32 w, int32 h) {
  PSLine o;
  o.I(w).C(' ').I(h).S(" true [").I(w).S(" 0 0 ").I(h).S(" 0 0]");
  WriteOut(o);
  o.Clear();
  o.S(kReadHex).S("imagemask");
  WriteOut(o);
  const int32 bytes = (w + 7) / 8;
  HexLines hex(56);
  for (int32 y = 0; y < h; ++y) {
    const uInt8* row = rows + size_t(y) * size_t(rowBytes);
    for (int32 i = 0; i < bytes; ++i) hex.ByteReach(row[i]);
  }
  hex.End();
}

}  // namespace

int32 PSRowBytes(int32 depth, int32 width) {
  if (width < 1 || width > 0x1FFFFFF || depth < 1 || depth > 32) return 0;
  switch (depth) {
    case 16: return 2 * width;
    case 24: return 3 * width;
    case 32: return 4 * width;
    default: return (width * depth + 15) / 16 * 2;
  }
}

uInt32 PSPixel(int32 depth, const uInt8** cursor, int32 column, const uInt32* table, Bool32 grey) {
  if (!cursor || !*cursor) return 0;
  if (depth == 1 || depth == 2 || depth == 4 || depth == 8) {
    if (!table) return DBAssert(__FILE__, __LINE__, "PSPixel: no colour table"), 0;
    // Only nibbles and bytes are indexes: depths 1 and 2 read bytes.
    const int32 d = depth == 4 ? 4 : 8;
    return Pixel(d, *cursor, column, table, false);
  }
  if (depth != 16 && depth != 24 && depth != 32) {
    DBAssert(__FILE__, __LINE__, "PSPixel: depth not supported");
    return 0;
  }
  return Pixel(depth, *cursor, column, table, grey != 0);
}

void PSCopyImage(const uInt8* bits, const DColor* table, int32 count, const Rect* srcRect, const Rect* bitsRect,
                 const Rect* destRect, DColor fore, DColor back, const PSMask* mask, int32 depth) {
  if (!bits || !bitsRect || !destRect) return;
  if (!DepthSupported(depth)) {
    DBAssert(__FILE__, __LINE__, "PSCopyImage: depth not supported");
    return;
  }
  Rect dest = *destRect;
  const int32 bw = bitsRect->right - bitsRect->left, bh = bitsRect->bottom - bitsRect->top;
  if (dest.right <= dest.left || dest.bottom <= dest.top || bw <= 0 || bh <= 0) return;
  // The part asked for, cut to the bits; the destination loses as much.
  const Rect asked = srcRect ? *srcRect : *bitsRect;
  Rect src;
  if (!DSectRect(&asked, bitsRect, &src)) return;
  if (std::memcmp(&src, &asked, sizeof src) != 0) {
    const int64 aw = asked.right - asked.left, ah = asked.bottom - asked.top;
    const int64 tw = dest.right - dest.left, th = dest.bottom - dest.top;
    const Rect d = dest;
    dest.left = int16(d.left + (src.left - asked.left) * tw / aw);
    dest.right = int16(d.right - (asked.right - src.right) * tw / aw);
    dest.top = int16(d.top + (src.top - asked.top) * th / ah);
    dest.bottom = int16(d.bottom - (asked.bottom - src.bottom) * th / ah);
    if (dest.right <= dest.left || dest.bottom <= dest.top) return;
  }
  const int32 dw = dest.right - dest.left, dh = dest.bottom - dest.top;
  const int32 w = src.right - src.left, h = src.bottom - src.top;
  const uInt8* rows = bits;
  int32 rowBytes = PSRowBytes(depth, bw);
  PSMask m{nullptr, 0};
  if (mask && mask->bits) {
    if (mask->rowBytes >= (bw + 7) / 8) m = *mask;
    else DBPrintf("PSCopyImage: masks of %ld row bytes for a width of %ld are not supported", long(mask->rowBytes),
                  long(bw));
  }
  std::vector<uInt8> part, partMask;
  if (w != bw || h != bh) {
    const int32 partRowBytes = PSRowBytes(depth, w);
    part.assign(size_t(partRowBytes) * size_t(h), 0);
    CopyPart(bits, rowBytes, depth, src.left - bitsRect->left, src.top - bitsRect->top, w, h, part.data(),
             partRowBytes);
    rows = part.data();
    rowBytes = partRowBytes;
    if (m.bits) {
      const int32 maskRowBytes = (w + 7) / 8;
      partMask.assign(size_t(maskRowBytes) * size_t(h), 0);
      CopyPart(m.bits, m.rowBytes, 1, src.left - bitsRect->left, src.top - bitsRect->top, w, h, partMask.data(),
               maskRowBytes);
      m = PSMask{partMask.data(), maskRowBytes};
    }
  }
  const bool level2 = gPrintPrefs.postScriptLevel2 != 0;
  const bool colour = depth > 1 && level2;
  // Deeper maps are clipped to the bounds of their mask's set bits, unless
  // the mask covers both corners; the clip is written inside the save, so
  // that its restore takes the clip away again.
  Rect maskClip{0, 0, 0, 0};
  bool clipToMask = false;
  if (depth > 1 && m.bits) {
    if (m.rowBytes != (w + 7) / 8) {
      DBPrintf("PSCopyImage: masks of %ld row bytes for a width of %ld are not supported", long(m.rowBytes),
               long(w));
    } else {
      const bool first = m.bits[0] & 0x80;
      const uInt8 lastByte = m.bits[size_t(h - 1) * size_t(m.rowBytes) + size_t((w - 1) >> 3)];
      const bool last = (lastByte >> (7 - ((w - 1) & 7))) & 1;
      if (!(first && last)) {
        Rect box;
        if (!MaskBounds(m, w, h, &box)) return;  // nothing of the image shows
        maskClip.left = int16(dest.left + int32(int64(box.left) * dw / w));
        maskClip.right = int16(dest.left + int32(int64(box.right) * dw / w));
        maskClip.top = int16(dest.top + int32(int64(box.top) * dh / h));
        maskClip.bottom = int16(dest.top + int32(int64(box.bottom) * dh / h));
        const Rect c = gPSPort.clip;
        if (c.right > c.left && c.bottom > c.top && !DSectRect(&maskClip, &c, &maskClip)) return;
        clipToMask = true;
      }
    }
  }
  PSWriteLine("gsave\r");
  const Rect writtenBefore = gPSPort.writtenClip, clipBefore = gPSPort.clip;
  if (clipToMask) {
    gPSPort.clip = maskClip;
    PSClipUpdate();
  }
  PSLine o;
  const int32 sampleBytes = depth == 1 ? (w + 7) / 8 : w;
  o.S("/pictstr ").I(colour ? 3 * sampleBytes : sampleBytes).S(" string def");
  WriteOut(o);
  o.Clear();
  o.I(dest.left).C(' ').I(dest.top).S(" translate ").I(dw).C(' ').I(dh).S(" scale");
  WriteOut(o);
  if (depth == 1) {
    if (back != kTransparentColor) {
      o.Clear();
      PSColour(o, back, true);
      if (!m.bits) {
        o.S("0 0 1 1 rect fill");
        WriteOut(o);
      } else {
        WriteOut(o);
        WriteImageMask(m.bits, m.rowBytes, w, h);
      }
    }
    if (fore != kTransparentColor) {
      o.Clear();
      PSColour(o, fore, true);
      WriteOut(o);
      WriteImageMask(rows, rowBytes, w, h);
    }
  } else {
    // The table of the pixel values at depths up to 8: the system's
    // colours, those given in their place, as grey levels without level 2.
    uInt32 colours[256];
    if (depth <= 8) {
      const int32 n = depth == 4 ? 16 : 256;
      for (int32 i = 0; i < n; ++i) colours[i] = MIndexToDColor(i, depth == 4 ? 4 : 8);
      if (table)
        for (int32 i = 0; i < count && i < n; ++i) colours[i] = table[i] & 0xFFFFFF;
      if (!level2) {
        uInt8 grey[256];
        IColorsToGrey(colours, grey, n);
        for (int32 i = 0; i < n; ++i) colours[i] = grey[i];
      }
    }
    o.Clear();
    o.I(w).C(' ').I(h).S(" 8 [").I(w).S(" 0 0 ").I(h).S(" 0 0] ").S(kReadHex);
    o.S(level2 ? "false 3 colorimage" : "image");
    WriteOut(o);
    HexLines hex(248);
    for (int32 y = 0; y < h; ++y) {
      const uInt8* p = rows + size_t(y) * size_t(rowBytes);
      if (level2 && depth == 24) {
        // Red, green and blue bytes are the samples as they stand.
        for (int32 x = 0; x < w; ++x, p += 3) {
          hex.Byte(p[0]);
          hex.Byte(p[1]);
          hex.Byte(p[2]);
          if (hex.Past()) hex.End();
        }
      } else if (level2) {
        for (int32 x = 0; x < w; ++x) {
          const uInt32 c = Pixel(depth, p, x, colours, false);
          hex.Byte(c >> 16);
          hex.Byte(c >> 8);
          hex.Byte(c);
          if (hex.Past()) hex.End();
        }
      } else {
        for (int32 x = 0; x < w; ++x) {
          hex.Byte(Pixel(depth, p, x, colours, true));
          if (hex.Past()) hex.End();
        }
      }
      hex.End();
    }
  }
  PSWriteLine("grestore\r");
  // The restore put back the clip written before the save.
  gPSPort.writtenClip = writtenBefore;
  gPSPort.clip = clipBefore;
}

namespace {

constexpr int32 kPRScale = 32;  // the print record's printer pixels per point (f32)
constexpr int32 kIconSide = 32;

// The bytes of an icon of a kind held in memory; null when it has none.
const uInt8* IconBits(int32 image, int32 kind) {
  const ImageEntry e = IEntryOf(image);
  UHandle h = IHandleOf(e.data);
  if (!h) return nullptr;
  if ((e.flags & kImageInFile) && RLoad(h) != kNoErr) return nullptr;
  const int32 depth = kind == kImageIcon4 ? 4 : kind == kImageIcon8 ? 8 : 1;
  if (!*h || AZGetHandleSize(h) < kIconSide * PSRowBytes(depth, kIconSide)) return nullptr;
  return reinterpret_cast<const uInt8*>(*h);
}

// Device pixels of page points: the page's origin is the printable area's
// top-left corner on the printer as in the page's PostScript, so no offset
// for the unprintable border is added.
int32 ToDevice(float32 points, float32 scale) {
  const float32 v = points * scale;
  if (!(v > -1e9f && v < 1e9f)) return 0;
  return int32(v < 0 ? v - 0.5f : v + 0.5f);
}

// An enhanced metafile: the PostScript so far goes to the printer, the
// metafile is played onto the printer's page within the clip, and the page
// goes on with a fresh prolog.
void DrawMetafile(int32 image, const Rect* subRect, const Rect* r) {
  const ImageEntry e = IEntryOf(image);
  UHandle record = PSPageRecord();
  const PlatObj dc = PSPrinterDc();
  if (!e.data || !record || !dc) return;
  PSClose(nullptr, 1);
  Rect d = *r;
  if (subRect) {
    IGetRect(image, &d);
    DMapRect(&d, subRect, r);
  }
  // The clip: the port's, or the page when it has none.
  Rect clip = gPSPort.clip;
  if (clip.right <= clip.left || clip.bottom <= clip.top) gPSPort.bounds(&clip);
  else DOffsetRect(&clip, int16(-gDrawState.originH), int16(-gDrawState.originV));
  float32 h = 0.0f, v = 0.0f, s = 1.0f;
  if (gPSContext.sectionActive) {
    h = gPSContext.sectionH;
    v = gPSContext.sectionV;
    s = gPSContext.sectionScale;
  }
  float32 scale = 1.0f;
  std::memcpy(&scale, *record + kPRScale, 4);
  if (!(scale > 0.0f && scale < 1000.0f)) scale = 1.0f;
  // Points of the drawing, moved and scaled by the open section.
  auto device = [&](const Rect& a) {
    return PlatRect{ToDevice(float32(a.left) * s + h, scale), ToDevice(float32(a.top) * s + v, scale),
                    ToDevice(float32(a.right) * s + h, scale), ToDevice(float32(a.bottom) * s + v, scale)};
  };
  const PlatRect dst = device(d), cl = device(clip);
  PlatRect saved{0, 0, 0, 0};
  PlatGetClipBox(dc, &saved);
  const PlatObj clipRgn = PlatCreateRectRgn(cl.left, cl.top, cl.right, cl.bottom);
  PlatSelectClipRgn(dc, clipRgn);
  PlatPlayMetafile(dc, PlatMetafile(e.data), dst);
  const PlatObj savedRgn = PlatCreateRectRgn(saved.left, saved.top, saved.right, saved.bottom);
  PlatSelectClipRgn(dc, savedRgn);
  if (clipRgn) PlatDeleteObject(clipRgn);
  if (savedRgn) PlatDeleteObject(savedRgn);
}

int32 DrawImage(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                DColor bwBack, int32 nesting) {
  if (!r) return DBAssert(__FILE__, __LINE__, "IDraw: no destination");
  const int32 kind = IKindOf(image);
  if (!kind) return DBAssert(__FILE__, __LINE__, "IDraw: invalid image");
  if (kind == kImageSub) {
    // A sub-image is the part of its parent; a chain of them that never
    // reaches a drawable image is reported.
    Rect part{0, 0, 0, 0};
    IGetRect(image, &part);
    const int32 parent = int32(IEntryOf(image).data & 0xFFFF);
    if (nesting > 4 || !IKindOf(parent)) return DBAssert(__FILE__, __LINE__, "IDraw: sub-image without a parent");
    Rect src = part;
    if (subRect) {
      src = *subRect;
      DOffsetRect(&src, part.left, part.top);
    }
    return DrawImage(parent, &src, r, fore, back, bwFore, bwBack, nesting + 1);
  }
  const DColor fg = IChooseColor(fore, bwFore, 1), bg = IChooseColor(back, bwBack, 0);
  // Pictures draw record by record through this port.
  if (kind == kImagePicture) return IDrawPictureInto(image, subRect, r, fg, bg, bwFore, bwBack);
  if (kind == kImageProc) return IDrawProcInto(image, r, fore, fg, bg);
  Rect src{0, 0, 0, 0};
  if (subRect) src = *subRect;
  else IGetRect(image, &src);
  if (DEmptyRect(&src) || DEmptyRect(r)) return 0;
  PSClipUpdate();
  const Rect iconRect{0, 0, kIconSide, kIconSide};
  switch (kind) {
    case kImageIcon1:
    case kImageIcon4:
    case kImageIcon8:
    case kImageMask: {
      const uInt8* bits = IconBits(image, kind);
      if (!bits) return 0;
      const int32 depth = kind == kImageIcon4 ? 4 : kind == kImageIcon8 ? 8 : 1;
      // A mask paints its set bits in the back colour.
      if (kind == kImageMask) PSCopyImage(bits, nullptr, 0, &src, &iconRect, r, bg, fg, nullptr, 1);
      else PSCopyImage(bits, nullptr, 0, &src, &iconRect, r, fg, bg, nullptr, depth);
      return 0;
    }
    case kImageFamily: {
      const ImageEntry e = IEntryOf(image);
      const int32 members[3] = {int32(e.data), int32(e.extra), int32(e.third)};
      auto usable = [&](int32 k) { return members[k] && IKindOf(members[k]) == kImageIcon1 + k; };
      int32 k = -1;
      if (usable(2) && PSPageDepth() >= 8) k = 2;
      else if (usable(1)) k = 1;
      else if (usable(0)) k = 0;
      if (k < 0) return 0;
      const uInt8* bits = IconBits(members[k], kImageIcon1 + k);
      if (!bits) return 0;
      PSMask mask{nullptr, 0};
      if (e.fourth && IKindOf(int32(e.fourth)) == kImageMask)
        mask = PSMask{IconBits(int32(e.fourth), kImageMask), 4};
      const int32 depth = k == 2 ? 8 : k == 1 ? 4 : 1;
      PSCopyImage(bits, nullptr, 0, &src, &iconRect, r, fg, bg, mask.bits ? &mask : nullptr, depth);
      return 0;
    }
    case kImagePixmap: {
      const PixmapInfo* info = IInfoOf<PixmapInfo>(IEntryOf(image).data);
      if (!info) return 0;
      const Rect bounds = info->bounds;
      int32 depth = int32(info->depth);
      const int32 width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
      const int32 rowBytes = PSRowBytes(depth, width);
      if (width <= 0 || height <= 0 || rowBytes <= 0 || !DepthSupported(depth)) return 0;
      UHandle own = IHandleOf(info->bits);
      if (own) {
        // A BMAP's rows follow its 4-byte size.
        if ((IEntryOf(image).flags & kImageInFile) && RLoad(own) != kNoErr) return 0;
        if (!*own || AZGetHandleSize(own) - 4 < int64(rowBytes) * height) return 0;
        PSCopyImage(reinterpret_cast<const uInt8*>(*own) + 4, nullptr, 0, &src, &bounds, r, fg, bg, nullptr, depth);
        return 0;
      }
      int32 hostRowBytes = 0, size = 0;
      if (IGetHostBits(image, 0, &depth, nullptr, &hostRowBytes, &size, nullptr, nullptr) != kNoErr ||
          hostRowBytes != rowBytes || int64(size) < int64(rowBytes) * height)
        return 0;
      std::vector<uInt8> rows(size_t(size), 0);
      if (IGetHostBits(image, 0, &depth, nullptr, &hostRowBytes, &size, rows.data(), nullptr) != kNoErr) return 0;
      PSCopyImage(rows.data(), nullptr, 0, &src, &bounds, r, fg, bg, nullptr, depth);
      return 0;
    }
    case kImageMeta: DrawMetafile(image, subRect, r); return 0;
    default: return 0;
  }
}

}  // namespace

int32 PSDrawImage(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                  DColor bwBack) {
  return DrawImage(image, subRect, r, fore, back, bwFore, bwBack, 0);
}

int32 PSDrawBits(const void* descriptor, const void* colourTable, const void* bitsIn) {
  if (!descriptor || !bitsIn) return DBAssert(__FILE__, __LINE__, "DDrawBits: no descriptor or bits");
  DDrawBitsDesc d;
  std::memcpy(&d, descriptor, sizeof d);
  PSClipUpdate();
  if (d.fore == kTransparentColor && d.back == kTransparentColor) return 0;
  const DColor fore = IChooseColor(d.fore, kBlackColor, 1), back = IChooseColor(d.back, kWhiteColor, 0);
  DOffsetRect(&d.source, int16(-d.source.left), int16(-d.source.top));
  const int32 width = d.source.right, height = d.source.bottom;
  const int32 rowBytes = DepthSupported(d.depth) ? PSRowBytes(d.depth, width) : 0;
  if (height < 1 || rowBytes <= 0 || int64(rowBytes) * height > int64(d.count)) {
    DBPrintf("DDrawBits: the pixels do not hold the rows");
    return 0;
  }
  std::vector<DColor> table;
  if (colourTable && d.entries > 0 && d.depth <= 8) {
    const int32 n = d.entries < 256 ? d.entries : 256;
    table.resize(size_t(n));
    IColorTableToRGB(static_cast<const uInt8*>(colourTable), n, table.data());
  }
  PSCopyImage(static_cast<const uInt8*>(bitsIn), table.empty() ? nullptr : table.data(), int32(table.size()), nullptr,
              &d.source, &d.dest, fore, back, nullptr, d.depth);
  return 0;
}
