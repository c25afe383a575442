#include "platform/qx_dib.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/qx_blit.h"
#include "platform/qx_blit_internal.h"
#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"

using namespace qxdraw;

// Index k of 1-7 and 9-15: red, green and blue from bits 0, 1 and 2 of k
// (k - 8 above 8) at 0x80 and 0xFF; 0 black, 8 light grey.
const uint32_t kPlatStandard16[16] = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080,
    0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

namespace {

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool Refuse() {
  PlatSetLastError(kPlatErrInvalidParam);
  return false;
}

bool KnownDepth(int32_t d) { return d == 1 || d == 4 || d == 8 || d == 16 || d == 24 || d == 32; }

uint64_t RowBytesOf(int64_t width, int32_t depth) { return (uint64_t(width) * uint64_t(depth) + 31) / 32 * 4; }

// 0x00RRGGBB of a table entry (blue, green, red).
uint32_t EntryColour(const uint8_t* e) { return uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0]; }

uint32_t Distance(uint32_t a, uint32_t b) {
  uint32_t d = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int32_t v = int32_t((a >> shift) & 0xFF) - int32_t((b >> shift) & 0xFF);
    d += uint32_t(v * v);
  }
  return d;
}

// Maps 0x00RRGGBB colours to the nearest table index, remembering answers.
class Nearest {
 public:
  explicit Nearest(const std::vector<uint32_t>& table) : table_(table) {}
  uint32_t Index(uint32_t rgb) {
    auto it = memo_.find(rgb);
    if (it != memo_.end()) return it->second;
    uint32_t best = 0, bestD = UINT32_MAX;
    for (size_t i = 0; i < table_.size() && bestD; ++i) {
      uint32_t d = Distance(table_[i], rgb);
      if (d < bestD) {
        bestD = d;
        best = uint32_t(i);
      }
    }
    memo_.emplace(rgb, best);
    return best;
  }

 private:
  const std::vector<uint32_t>& table_;
  std::unordered_map<uint32_t, uint32_t> memo_;
};

}  // namespace

bool PlatDibReadHeader(const void* data, uint32_t size, PlatDibInfo* info) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (!p || !info || size < 4) return Refuse();
  uint32_t hs = Le32(p);
  if ((hs != 12 && hs != 40) || size < hs) return Refuse();
  PlatDibInfo in{};
  in.headerSize = int32_t(hs);
  int64_t width, height;
  uint32_t planes, used = 0;
  if (hs == 40) {
    width = int32_t(Le32(p + 4));
    height = int32_t(Le32(p + 8));
    planes = Le16(p + 12);
    in.bitsPerPixel = int32_t(Le16(p + 14));
    if (Le32(p + 16) != 0) return Refuse();  // compressed
    used = Le32(p + 32);
  } else {
    width = Le16(p + 4);
    height = Le16(p + 6);
    planes = Le16(p + 8);
    in.bitsPerPixel = int32_t(Le16(p + 10));
  }
  if (planes != 1 || width <= 0 || height == 0 || !KnownDepth(in.bitsPerPixel)) return Refuse();
  in.topDown = height < 0;
  if (height < 0) height = -height;  // from an int32: at most 2^31, checked below
  if (height > INT32_MAX) return Refuse();
  in.width = int32_t(width);
  in.height = int32_t(height);
  uint32_t most = in.bitsPerPixel <= 8 ? 1u << in.bitsPerPixel : 256;
  if (used > most) return Refuse();
  in.colourCount = int32_t(used ? used : in.bitsPerPixel <= 8 ? most : 0);
  in.tableBytes = uint32_t(in.colourCount) * (hs == 40 ? 4 : 3);
  if (uint64_t(size) < uint64_t(hs) + in.tableBytes) return Refuse();
  uint64_t row = RowBytesOf(width, in.bitsPerPixel), image = row * uint64_t(height);
  if (image > UINT32_MAX) return Refuse();
  in.rowBytes = uint32_t(row);
  in.imageBytes = uint32_t(image);
  *info = in;
  return true;
}

bool PlatDibReadPacked(const void* data, uint32_t size, PlatDibInfo* info) {
  PlatDibInfo in;
  if (!PlatDibReadHeader(data, size, &in)) return false;
  if (uint64_t(size) - uint32_t(in.headerSize) - in.tableBytes < in.imageBytes) return Refuse();
  *info = in;
  return true;
}

PlatSurface* PlatDibToSurface(const void* header, uint32_t headerBytes, const void* bits,
                              uint32_t bitsBytes) {
  return PlatDibPartToSurface(header, headerBytes, bits, bitsBytes, PlatRect{0, 0, INT32_MAX, INT32_MAX});
}

PlatSurface* PlatDibPartToSurface(const void* header, uint32_t headerBytes, const void* bits, uint32_t bitsBytes,
                                  const PlatRect& part) {
  PlatDibInfo in;
  if (!PlatDibReadHeader(header, headerBytes, &in)) return nullptr;
  if (!bits || bitsBytes < in.imageBytes) {
    Refuse();
    return nullptr;
  }
  // The part within the bitmap: only its pixels are converted.
  const int32_t l = std::max(part.left, 0), t = std::max(part.top, 0);
  const int32_t r = std::min(part.right, in.width), b = std::min(part.bottom, in.height);
  if (r <= l || b <= t) {
    Refuse();
    return nullptr;
  }
  PlatSurface* s = PlatSurfaceCreate(r - l, b - t, kPlatRgb32);
  if (!s) return nullptr;
  const auto* table = static_cast<const uint8_t*>(header) + in.headerSize;
  uint32_t entry = in.headerSize == 40 ? 4 : 3;
  std::vector<uint32_t> colours(256, kPlatOpaque);  // indexes past the table: black
  for (int32_t i = 0; i < in.colourCount && i < 256; ++i)
    colours[size_t(i)] = kPlatOpaque | EntryColour(table + size_t(i) * entry);
  const auto* rows = static_cast<const uint8_t*>(bits);
  int32_t depth = in.bitsPerPixel;
  for (int32_t y = t; y < b; ++y) {
    const int32_t r0 = in.topDown ? y : in.height - 1 - y;
    const uint8_t* row = rows + size_t(r0) * in.rowBytes;
    auto* out = reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y - t) * size_t(PlatSurfaceStride(s)));
    for (int32_t x = l; x < r; ++x) {
      uint32_t v;
      switch (depth) {
        case 1: v = colours[(row[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: v = colours[(row[x >> 1] >> (x & 1 ? 0 : 4)) & 0xF]; break;
        case 8: v = colours[row[x]]; break;
        case 16: {
          uint32_t w = Le16(row + 2 * size_t(x));
          uint32_t r5 = (w >> 10) & 31, g5 = (w >> 5) & 31, b5 = w & 31;
          v = kPlatOpaque | (r5 << 3 | r5 >> 2) << 16 | (g5 << 3 | g5 >> 2) << 8 | (b5 << 3 | b5 >> 2);
          break;
        }
        case 24: v = kPlatOpaque | EntryColour(row + 3 * size_t(x)); break;
        default: v = kPlatOpaque | EntryColour(row + 4 * size_t(x)); break;
      }
      out[x - l] = v;
    }
  }
  return s;
}

namespace {

// The write table of a depth up to 8, as 0x00RRGGBB; false for a bad context.
bool WriteTable(PlatObj dch, int32_t depth, std::vector<uint32_t>* table) {
  table->clear();
  if (depth == 1) {
    *table = {0x000000, 0xFFFFFF};
  } else if (depth == 4) {
    for (uint32_t c : kPlatStandard16) table->push_back(ColourToPixel(c) & 0xFFFFFF);
  } else if (depth == 8) {
    auto dc = GetDc(dch);
    if (!dc) return false;
    if (dc->palette)
      for (uint32_t c : dc->palette->colours) table->push_back(ColourToPixel(c) & 0xFFFFFF);
    table->resize(256, 0);
  }
  return true;
}

}  // namespace

bool PlatSurfaceToDib(const PlatSurface* s, PlatObj dc, int32_t depth, int32_t headerSize,
                      bool topDown, std::vector<uint8_t>* out) {
  if (!s || !out || !KnownDepth(depth) || (headerSize != 12 && headerSize != 40)) return Refuse();
  int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  if (w <= 0 || h <= 0) return Refuse();
  if (headerSize == 12 && (topDown || w > 0xFFFF || h > 0xFFFF)) return Refuse();
  uint64_t row = RowBytesOf(w, depth), image = row * uint64_t(h);
  std::vector<uint32_t> table;
  if (depth <= 8 && !WriteTable(dc, depth, &table)) return false;
  uint64_t total = uint64_t(headerSize) + table.size() * (headerSize == 40 ? 4 : 3) + image;
  if (total > INT32_MAX) {
    PlatSetLastError(kPlatErrNoMemory);
    return false;
  }
  out->clear();
  out->reserve(size_t(total));
  Put32(out, uint32_t(headerSize));
  if (headerSize == 40) {
    Put32(out, uint32_t(w));
    Put32(out, uint32_t(topDown ? -h : h));
    Put16(out, 1);
    Put16(out, uint32_t(depth));
    Put32(out, 0);                // no compression
    Put32(out, uint32_t(image));  // image size
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);  // colours used: the whole table
    Put32(out, 0);
  } else {
    Put16(out, uint32_t(w));
    Put16(out, uint32_t(h));
    Put16(out, 1);
    Put16(out, uint32_t(depth));
  }
  for (uint32_t c : table) {
    out->push_back(uint8_t(c));
    out->push_back(uint8_t(c >> 8));
    out->push_back(uint8_t(c >> 16));
    if (headerSize == 40) out->push_back(0);
  }
  size_t start = out->size();
  out->resize(start + size_t(image), 0);
  Nearest nearest(table);
  for (int32_t r = 0; r < h; ++r) {
    int32_t y = topDown ? r : h - 1 - r;
    uint8_t* o = out->data() + start + size_t(r) * size_t(row);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t c = PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF;
      switch (depth) {
        case 1: o[x >> 3] |= uint8_t(nearest.Index(c) << (7 - (x & 7))); break;
        case 4: o[x >> 1] |= uint8_t(nearest.Index(c) << (x & 1 ? 0 : 4)); break;
        case 8: o[x] = uint8_t(nearest.Index(c)); break;
        case 16: {
          uint32_t v = ((c >> 19) & 31) << 10 | ((c >> 11) & 31) << 5 | ((c >> 3) & 31);
          o[2 * x] = uint8_t(v);
          o[2 * x + 1] = uint8_t(v >> 8);
          break;
        }
        default: {
          uint8_t* px = o + size_t(x) * size_t(depth / 8);
          px[0] = uint8_t(c);
          px[1] = uint8_t(c >> 8);
          px[2] = uint8_t(c >> 16);
        }
      }
    }
  }
  return true;
}

bool PlatGetDibBits(PlatObj dch, PlatObj bitmap, int32_t depth, int32_t headerSize, bool topDown,
                    std::vector<uint8_t>* out) {
  auto dc = GetDc(dch);
  auto bm = Get<Bitmap>(bitmap, kPlatObjBitmap);
  if (!dc || !bm) return false;
  dc->Trace("getdibits %d %d", depth, headerSize);
  return PlatSurfaceToDib(bm->surface, dch, depth ? depth : bm->depth, headerSize, topDown, out);
}

namespace {

// Copies the DIB surface into the bitmap's from the top-left corner.
void CopyInto(const PlatSurface* from, PlatSurface* to) {
  int32_t w = std::min(PlatSurfaceWidth(from), PlatSurfaceWidth(to));
  int32_t h = std::min(PlatSurfaceHeight(from), PlatSurfaceHeight(to));
  bool mono = PlatSurfaceFormatOf(to) == kPlatMono1;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v = PlatSurfaceGetPixel(from, x, y);
      PlatSurfaceSetPixel(to, x, y, mono ? NearestMono(v) : v);
    }
}

}  // namespace

bool PlatSetDibBits(PlatObj dch, PlatObj bitmap, const void* header, uint32_t headerBytes,
                    const void* bits, uint32_t bitsBytes) {
  auto dc = GetDc(dch);
  auto bm = Get<Bitmap>(bitmap, kPlatObjBitmap);
  if (!dc || !bm) return false;
  dc->Trace("setdibits");
  PlatSurface* s = PlatDibToSurface(header, headerBytes, bits, bitsBytes);
  if (!s) return false;
  CopyInto(s, bm->surface);
  PlatSurfaceDestroy(s);
  return true;
}

PlatObj PlatCreateDibBitmap(PlatObj dch, const void* header, uint32_t headerBytes, const void* bits,
                            uint32_t bitsBytes) {
  auto dc = GetDc(dch);
  if (!dc) return 0;
  dc->Trace("dibbitmap");
  PlatSurface* s = PlatDibToSurface(header, headerBytes, bits, bitsBytes);
  if (!s) return 0;
  PlatObj bm = PlatCreateCompatibleBitmap(dch, PlatSurfaceWidth(s), PlatSurfaceHeight(s));
  if (bm) CopyInto(s, PlatBitmapSurface(bm));
  PlatSurfaceDestroy(s);
  return bm;
}

bool PlatStretchDibBits(PlatObj dch, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
                        int32_t sy, int32_t sw, int32_t sh, const void* header,
                        uint32_t headerBytes, const void* bits, uint32_t bitsBytes, uint32_t rop3) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  PlatDibInfo in;
  if (!PlatDibReadHeader(header, headerBytes, &in)) return false;
  if (!bits || bitsBytes < in.imageBytes) return Refuse();
  dc->Trace("stretchdib %d,%d,%d,%d from %d,%d,%d,%d 0x%06X", x, y, w, h, sx, sy, sw, sh, rop3);
  PlatSurface* s = nullptr;
  if (dc->trace && (s = PlatDibToSurface(header, headerBytes, bits, bitsBytes)))
    dc->trace->Pixels(s, PlatRect{sx, sy, sx + sw, sy + sh}, nullptr, 0, 0);
  if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || !dc->Surface()) {
    PlatSurfaceDestroy(s);
    return true;
  }
  if (!s) s = PlatDibToSurface(header, headerBytes, bits, bitsBytes);
  if (!s) return false;
  TransferSource src{s, ConvertFor(s, dc->Surface(), false), 0};
  uint8_t fn = uint8_t(rop3 >> 16);
  Transfer(*dc, x, y, w, h, src, sx, sy, sw, sh, fn, fn, nullptr, 0, 0);
  PlatSurfaceDestroy(s);
  return true;
}

bool PlatDibToDevice(PlatObj dc, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy,
                     const void* header, uint32_t headerBytes, const void* bits, uint32_t bitsBytes) {
  return PlatStretchDibBits(dc, x, y, w, h, sx, sy, w, h, header, headerBytes, bits, bitsBytes,
                            kPlatSrcCopy);
}
