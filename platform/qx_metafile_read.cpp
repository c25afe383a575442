#include "platform/qx_metafile_read.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qx_dib.h"
#include "platform/qx_file.h"
#include "platform/qx_metafile_internal.h"
#include "platform/qx_text.h"

using namespace qxmeta;

namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
int16_t I16(const uint8_t* p) { return int16_t(U16(p)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
int32_t I32(const uint8_t* p) { return int32_t(U32(p)); }

int32_t Round(double v) { return int32_t(std::clamp(std::floor(v + 0.5), -1073741823.0, 1073741823.0)); }

// Windows code page 1252 for the text the layer draws: code points below
// 256 stand for themselves, others become "?".
std::string Narrow(const uint8_t* p, uint32_t chars) {
  std::string s;
  for (uint32_t i = 0; i < chars; ++i) {
    uint16_t c = U16(p + 2 * i);
    s.push_back(c < 256 ? char(c) : '?');
  }
  return s;
}

// Hatch styles as 8 x 8 patterns (0 bits take the brush's colour).
void HatchRows(uint32_t hatch, int32_t* rows) {
  for (int y = 0; y < 8; ++y) {
    uint8_t r = 0xFF;
    for (int x = 0; x < 8; ++x) {
      bool on = false;
      switch (hatch) {
        case 0: on = y == 4; break;
        case 1: on = x == 4; break;
        case 2: on = x == y; break;
        case 3: on = x == 7 - y; break;
        case 4: on = x == 4 || y == 4; break;
        default: on = x == y || x == 7 - y; break;
      }
      if (on) r = uint8_t(r & ~(0x80 >> x));
    }
    rows[y] = r;
  }
}

struct Obj {
  enum Kind { kFree, kPenObj, kBrushObj, kFontObj, kPaletteObj, kOther } kind = kFree;
  std::vector<int32_t> v;  // pen: style, logical width, colour; brush: 10 values
  PlatFontDesc font{};     // logical height and width
  std::vector<uint32_t> palette;
};

struct MapState {
  int32_t mode = 1;
  double wox = 0, woy = 0, wex = 1, wey = 1, vox = 0, voy = 0, vex = 1, vey = 1;
};

// Builds a display list from records, keeping the converter's own state:
// the mapping, the object table, the pen width and position for bounds.
class Converter {
 public:
  List list;
  MapState map;
  std::vector<MapState> saved;
  std::vector<Obj> objs;
  double pxPerMmX = 1, pxPerMmY = 1;
  bool bad = false;
  BoxState boxState;
  bool trackBounds = false;
  uint32_t align = 0, back = 0xFFFFFF;
  PlatFontDesc font{};  // the selected font, in device sizes
  bool hasFont = false;

  // Text at a reference point of its alignment: the top-left of its cell
  // is found from the selected font's ascent, height and advances.  With
  // the opaque option the rectangle is filled with the background colour
  // first.
  void Text(int32_t x, int32_t y, std::string bytes, uint32_t options, const int32_t* rect) {
    if (align & 0x1E) {
      PlatObj f = hasFont ? PlatCreateFont(font) : 0;
      PlatObj use = f ? f : PlatGetStockObject(kPlatStockFont);
      PlatTextMetrics tm{};
      PlatGetFontMetrics(use, &tm);
      int64_t width = 0;
      for (char ch : bytes) width += PlatGetCharAdvance(use, uint8_t(ch));
      if ((align & 24) == 24) y -= tm.ascent;
      else if (align & 8) y -= tm.height;
      if ((align & 6) == 6) x = int32_t(x - width / 2);
      else if (align & 2) x = int32_t(x - width);
      if (f) PlatDeleteObject(f);
    }
    if ((options & 2) && rect) {
      std::vector<int32_t> v = Brush(0, back, 0);
      v.insert(v.end(), rect, rect + 4);
      Emit(kFillRgn, std::move(v));
    }
    Rec rec;
    rec.op = kText;
    rec.bytes = std::move(bytes);
    rec.v = {x, y, int32_t(options & kPlatTextClip)};
    if ((options & kPlatTextClip) && rect) rec.v.insert(rec.v.end(), rect, rect + 4);
    Emit(std::move(rec));
  }

  double Sx() const {
    switch (map.mode) {
      case 1: return 1;
      case 7: case 8: return map.vex / map.wex;
      default: return pxPerMmX / UnitsPerMm();
    }
  }
  double Sy() const {
    switch (map.mode) {
      case 1: return 1;
      case 7: case 8: return map.vey / map.wey;
      default: return -pxPerMmY / UnitsPerMm();
    }
  }
  double UnitsPerMm() const {
    switch (map.mode) {
      case 2: return 10;
      case 3: return 100;
      case 4: return 100 / 25.4;
      case 5: return 1000 / 25.4;
      default: return 1440 / 25.4;
    }
  }
  int32_t X(double x) const { return Round((x - map.wox) * Sx() + map.vox); }
  int32_t Y(double y) const { return Round((y - map.woy) * Sy() + map.voy); }
  int32_t W(double d) const { return Round(std::fabs(d * Sx())); }
  int32_t H(double d) const { return Round(std::fabs(d * Sy())); }

  void Emit(Rec&& r) {
    if (trackBounds) {
      PlatRect box;
      if (RecordBox(r, boxState, 0, 0, &box)) Grow(&list.bounds, box.left, box.top, box.right, box.bottom);
    }
    boxState.Note(r);
    list.recs.push_back(std::move(r));
  }
  void Emit(Op op, std::vector<int32_t> v) {
    Rec r;
    r.op = op;
    r.v = std::move(v);
    Emit(std::move(r));
  }

  // Shapes from logical rectangles.
  void Box(Op op, double l, double t, double r, double b, std::vector<int32_t> extra = {}) {
    int32_t L = X(l), T = Y(t), R = X(r), B = Y(b);
    if (L > R) std::swap(L, R);
    if (T > B) std::swap(T, B);
    std::vector<int32_t> v{L, T, R, B};
    v.insert(v.end(), extra.begin(), extra.end());
    Emit(op, std::move(v));
  }
  // A rectangle: outline on its edge pixels, the brush inside.
  void Rectangle(double l, double t, double r, double b) {
    int32_t L = X(l), T = Y(t), R = X(r), B = Y(b);
    if (L > R) std::swap(L, R);
    if (T > B) std::swap(T, B);
    if (R - L < 1 || B - T < 1) return;
    Emit(kPolygon, {L, T, R - 1, T, R - 1, B - 1, L, B - 1});
  }

  // Object table.
  Obj* Slot(uint32_t i) {
    if (i >= objs.size()) {
      bad = true;
      return nullptr;
    }
    return &objs[i];
  }
  void Select(const Obj& o) {
    Rec r;
    switch (o.kind) {
      case Obj::kPenObj: {
        int32_t w = o.v[1] == 0 ? 0 : std::max(1, W(o.v[1]));
        Emit(kPen, {o.v[0], w, o.v[2]});
        return;
      }
      case Obj::kBrushObj:
        Emit(kBrush, o.v);
        return;
      case Obj::kFontObj: {
        r.op = kFont;
        r.font = o.font;
        if (o.font.height) {
          int32_t h = H(o.font.height);
          r.font.height = (o.font.height < 0 ? -1 : 1) * std::max(1, h);
        }
        if (o.font.width) r.font.width = std::max(1, W(o.font.width));
        font = r.font;
        hasFont = true;
        Emit(std::move(r));
        return;
      }
      case Obj::kPaletteObj:
        list.palette = o.palette;
        return;
      default:
        return;
    }
  }
  void SelectStock(uint32_t n) {
    Obj o;
    static const uint32_t greys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0};
    if (n <= 4) {
      o.kind = Obj::kBrushObj;
      o.v = {kPlatBrushSolid, int32_t(greys[n]), 0, 0, 0, 0, 0, 0, 0, 0};
    } else if (n == 5) {
      o.kind = Obj::kBrushObj;
      o.v = {kPlatBrushNull, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    } else if (n >= 6 && n <= 8) {
      o.kind = Obj::kPenObj;
      o.v = {n == 8 ? kPlatPenNull : kPlatPenSolid, 0, n == 6 ? 0xFFFFFF : 0};
    } else if (n >= 10 && n <= 17 && n != 15) {
      o.kind = Obj::kFontObj;
      PlatGetFontDesc(PlatGetStockObject(n == 13 ? kPlatStockFont2 : kPlatStockFont), &o.font);
    } else {
      return;
    }
    Select(o);
  }
  static std::vector<int32_t> Brush(uint32_t style, uint32_t colour, uint32_t hatch) {
    std::vector<int32_t> v(10, 0);
    if (style == 1) {
      v[0] = kPlatBrushNull;
    } else {
      v[0] = kPlatBrushSolid;
      v[1] = int32_t(colour & 0xFFFFFF);
      if (style == 2) {
        v[0] = kPlatBrushPattern;
        HatchRows(hatch, &v[2]);
      }
    }
    return v;
  }
  static int32_t PenStyle(uint32_t style) {
    uint32_t s = style & 0xF;
    return s <= 5 ? int32_t(s) : kPlatPenSolid;
  }

  void Save() {
    saved.push_back(map);
    Emit(kSave, {});
  }
  void Restore(int32_t rel) {
    int64_t n = rel < 0 ? -int64_t(rel) : rel;
    if (n < 1 || uint64_t(n) > saved.size()) return;  // nothing to restore: skipped
    map = saved[saved.size() - size_t(n)];
    saved.resize(saved.size() - size_t(n));
    Emit(kRestore, {int32_t(n)});
  }

  // A block transfer of DIB pixels: the source rectangle of the DIB onto
  // the device rectangle.
  // Only the source rectangle's pixels are read and kept, a 1-bit bitmap's
  // one bit each: what a record keeps stays within what it holds.
  bool Dib(const uint8_t* bmi, uint32_t bmiBytes, const uint8_t* bits, uint32_t bitsBytes, int32_t x, int32_t y,
           int32_t w, int32_t h, int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop) {
    PlatDibInfo in;
    if (!PlatDibReadHeader(bmi, bmiBytes, &in) || !bits || bitsBytes < in.imageBytes) return false;
    // The source rectangle lies in the bitmap: a small bitmap cannot stand
    // for a huge picture.
    if (sx < 0 || sy < 0 || sw < 0 || sh < 0 || int64_t(sx) + sw > in.width || int64_t(sy) + sh > in.height)
      return false;
    Rec r;
    r.op = kBlit;
    uint32_t fn = (rop >> 16) & 0xFF;
    r.v = {x, y, w, h, int32_t(fn), int32_t(fn), sx, sy, sw, sh};
    if (sw > 0 && sh > 0 && int64_t(sw) * sh <= (int64_t(1) << 24)) {
      PlatSurface* s = PlatDibPartToSurface(bmi, bmiBytes, bits, bitsBytes, PlatRect{sx, sy, sx + sw, sy + sh});
      if (!s) return false;
      r.src.w = sw;
      r.src.h = sh;
      if (in.bitsPerPixel == 1) {
        // Two colours: the first pixel's and the other one, found as the
        // bits are set.
        r.src.bits.assign(r.src.RowBits() * size_t(sh), 0);
        r.src.colours[0] = r.src.colours[1] = PlatSurfaceGetPixel(s, 0, 0) & 0xFFFFFF;
        bool second = false;
        for (int32_t j = 0; j < sh; ++j)
          for (int32_t i = 0; i < sw; ++i) {
            const uint32_t c = PlatSurfaceGetPixel(s, i, j) & 0xFFFFFF;
            if (c == r.src.colours[0]) continue;
            if (!second) r.src.colours[1] = c, second = true;
            r.src.bits[size_t(j) * r.src.RowBits() + size_t(i) / 8] |= uint8_t(0x80 >> (i % 8));
          }
      } else {
        r.src.px.resize(size_t(sw) * size_t(sh));
        for (int32_t j = 0; j < sh; ++j)
          for (int32_t i = 0; i < sw; ++i)
            r.src.px[size_t(j) * size_t(sw) + size_t(i)] = PlatSurfaceGetPixel(s, i, j) & 0xFFFFFF;
      }
      PlatSurfaceDestroy(s);
    }
    if (!r.src.Empty()) Emit(std::move(r));
    return true;
  }
};

PlatMetafile Finish(Converter& c) {
  if (c.bad) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  return Adopt(std::move(c.list));
}

PlatMetafile Refuse() {
  PlatSetLastError(kPlatErrInvalidParam);
  return 0;
}

// ---- Enhanced metafiles ----------------------------------------------------

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

// The fixed part of each record the converter reads (type, size included).
uint32_t EmfFixed(uint32_t type) {
  switch (type) {
    case 3: case 4: case 6: case 86: case 87: case 89: return 28;
    case 90: case 91: return 32;
    case 9: case 10: case 11: case 12: case 13: case 26: case 27: case 54: return 16;
    case 17: case 18: case 19: case 20: case 21: case 22: case 24: case 25: case 34: case 37: case 40: return 12;
    case 29: case 30: case 42: case 43: return 24;
    case 44: return 32;
    case 45: case 47: return 40;
    case 38: return 28;
    case 39: return 24;
    case 49: return 16;
    case 75: return 16;
    case 76: return 100;
    case 77: return 108;
    case 80: return 76;
    case 81: return 80;
    case 82: return 104;
    case 83: case 84: return 76;
    case 95: return 52;
    case 14: return 20;
    default: return 8;
  }
}

bool EmfRecord(Converter& c, const uint8_t* r, uint32_t size) {
  uint32_t type = U32(r);
  if (size < EmfFixed(type)) return false;
  const uint8_t* d = r + 8;
  auto pt = [&](const uint8_t* p, bool small) {
    return small ? std::pair<double, double>(I16(p), I16(p + 2)) : std::pair<double, double>(I32(p), I32(p + 4));
  };
  switch (type) {
    case 3: case 4: case 86: case 87: case 6: case 89: {  // polygon, polyline (32 and 16), polyline-to
      bool small = type == 86 || type == 87 || type == 89;
      uint32_t n = U32(d + 16), unit = small ? 4 : 8;
      if (n > (size - 28) / unit) return false;
      std::vector<int32_t> v;
      for (uint32_t i = 0; i < n; ++i) {
        auto [x, y] = pt(d + 20 + i * unit, small);
        v.push_back(c.X(x));
        v.push_back(c.Y(y));
      }
      if (type == 6 || type == 89) {
        for (size_t i = 0; i + 1 < v.size(); i += 2) c.Emit(kLineTo, {v[i], v[i + 1]});
      } else {
        c.Emit(type == 3 || type == 86 ? kPolygon : kPolyline, std::move(v));
      }
      return true;
    }
    case 90: case 91: {  // poly-polyline 16, poly-polygon 16
      uint32_t polys = U32(d + 16), total = U32(d + 20);
      if (polys > (size - 32) / 4) return false;
      uint32_t at = 32 + polys * 4;
      if (total > (size - at) / 4) return false;
      uint64_t sum = 0;
      for (uint32_t i = 0; i < polys; ++i) sum += U32(r + 32 + i * 4);
      if (sum != total) return false;
      for (uint32_t i = 0; i < polys; ++i) {
        uint32_t n = U32(r + 32 + i * 4);
        std::vector<int32_t> v;
        for (uint32_t k = 0; k < n; ++k, at += 4) {
          v.push_back(c.X(I16(r + at)));
          v.push_back(c.Y(I16(r + at + 2)));
        }
        c.Emit(type == 91 ? kPolygon : kPolyline, std::move(v));
      }
      return true;
    }
    case 9: case 11: {  // window / viewport extent
      int32_t x = I32(d), y = I32(d + 4);
      if (x == 0 || y == 0) return true;
      (type == 9 ? c.map.wex : c.map.vex) = x;
      (type == 9 ? c.map.wey : c.map.vey) = y;
      return true;
    }
    case 10: c.map.wox = I32(d), c.map.woy = I32(d + 4); return true;
    case 12: c.map.vox = I32(d), c.map.voy = I32(d + 4); return true;
    case 17: {
      uint32_t m = U32(d);
      if (m >= 1 && m <= 8) c.map.mode = int32_t(m);
      return true;
    }
    case 13: c.Emit(kBrushOrg, {I32(d), I32(d + 4)}); return true;
    case 18: c.Emit(kBkMode, {int32_t(U32(d))}); return true;
    case 19: c.Emit(kFillMode, {int32_t(U32(d))}); return true;
    case 20: c.Emit(kRop2, {int32_t(U32(d))}); return true;
    case 21: c.Emit(kStretchMode, {int32_t(U32(d))}); return true;
    case 24: c.Emit(kTextColour, {int32_t(U32(d) & 0xFFFFFF)}); return true;
    case 25:
      c.back = U32(d) & 0xFFFFFF;
      c.Emit(kBkColour, {int32_t(c.back)});
      return true;
    case 22: c.align = U32(d); return true;
    case 26: c.Emit(kOffsetClip, {Round(I32(d) * c.Sx()), Round(I32(d + 4) * c.Sy())}); return true;
    case 27: c.Emit(kMoveTo, {c.X(I32(d)), c.Y(I32(d + 4))}); return true;
    case 54: c.Emit(kLineTo, {c.X(I32(d)), c.Y(I32(d + 4))}); return true;
    case 30: c.Box(kIntersectClip, I32(d), I32(d + 4), I32(d + 8), I32(d + 12)); return true;
    case 29: c.Box(kExcludeClip, I32(d), I32(d + 4), I32(d + 8), I32(d + 12)); return true;
    case 33: c.Save(); return true;
    case 34: c.Restore(I32(d)); return true;
    case 42: c.Box(kEllipse, I32(d), I32(d + 4), I32(d + 8), I32(d + 12)); return true;
    case 43: c.Rectangle(I32(d), I32(d + 4), I32(d + 8), I32(d + 12)); return true;
    case 44:
      c.Box(kRoundRect, I32(d), I32(d + 4), I32(d + 8), I32(d + 12), {c.W(I32(d + 16)), c.H(I32(d + 20))});
      return true;
    case 45: case 47:
      c.Box(type == 45 ? kArc : kPie, I32(d), I32(d + 4), I32(d + 8), I32(d + 12),
            {c.X(I32(d + 16)), c.Y(I32(d + 20)), c.X(I32(d + 24)), c.Y(I32(d + 28))});
      return true;
    case 37: {
      uint32_t ih = U32(d);
      if (ih & 0x80000000u) {
        c.SelectStock(ih & 0x7FFFFFFF);
        return true;
      }
      Obj* o = c.Slot(ih);
      if (!o) return false;
      c.Select(*o);
      return true;
    }
    case 48: {
      uint32_t ih = U32(d);
      if (ih & 0x80000000u) return true;
      Obj* o = c.Slot(ih);
      if (!o) return false;
      c.Select(*o);
      return true;
    }
    case 40: {
      Obj* o = c.Slot(U32(d));
      if (!o) return false;
      *o = Obj{};
      return true;
    }
    case 38: case 39: case 95: case 82: case 49: {
      Obj* o = c.Slot(U32(d));
      if (!o) return false;
      Obj n;
      if (type == 38) {
        n.kind = Obj::kPenObj;
        n.v = {Converter::PenStyle(U32(d + 4)), I32(d + 8), int32_t(U32(d + 16) & 0xFFFFFF)};
      } else if (type == 95) {
        n.kind = Obj::kPenObj;
        n.v = {Converter::PenStyle(U32(d + 20)), I32(d + 24), int32_t(U32(d + 32) & 0xFFFFFF)};
      } else if (type == 39) {
        n.kind = Obj::kBrushObj;
        n.v = Converter::Brush(U32(d + 4), U32(d + 8), U32(d + 12));
      } else if (type == 82) {
        const uint8_t* lf = d + 4;
        n.kind = Obj::kFontObj;
        n.font.height = I32(lf);
        n.font.width = Round(std::fabs(double(I32(lf + 4))));
        n.font.weight = std::clamp(I32(lf + 16), 0, 1000);
        n.font.italic = lf[20] != 0;
        n.font.underline = lf[21] != 0;
        n.font.strikeOut = lf[22] != 0;
        uint32_t len = 0;
        while (len < 32 && U16(lf + 28 + 2 * len)) ++len;
        std::string face = Narrow(lf + 28, len);
        PlatSetFaceName(&n.font, face.data(), int32_t(face.size()));
      } else {
        uint32_t count = U16(d + 6);
        if (count > (size - 16) / 4) return false;
        n.kind = Obj::kPaletteObj;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* e = r + 16 + 4 * i;
          n.palette.push_back(uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16);
        }
      }
      *o = std::move(n);
      return true;
    }
    case 75: {
      uint32_t cb = U32(d), mode = U32(d + 4);
      if (cb > size - 16) return false;
      if (cb == 0) {
        if (mode == 5) c.Emit(kClipNone, {});
        return true;
      }
      const uint8_t* rd = r + 16;
      if (cb < 32) return false;
      uint32_t n = U32(rd + 8);
      if (n > (cb - 32) / 16) return false;
      std::vector<int32_t> v;
      for (uint32_t i = 0; i < n; ++i)
        for (int k = 0; k < 4; ++k) v.push_back(I32(rd + 32 + 16 * i + 4 * k));
      if (mode == 5) c.Emit(kClip, std::move(v));
      else if (mode == 1 && n == 1) c.Emit(kIntersectClip, std::move(v));
      return true;
    }
    case 76: case 77: case 81: case 80: {
      int32_t x, y, w, h, sx, sy, sw, sh;
      uint32_t offBmi, cbBmi, offBits, cbBits, rop;
      if (type == 81) {
        x = I32(d + 16), y = I32(d + 20), sx = I32(d + 24), sy = I32(d + 28), sw = I32(d + 32), sh = I32(d + 36);
        offBmi = U32(d + 40), cbBmi = U32(d + 44), offBits = U32(d + 48), cbBits = U32(d + 52);
        rop = U32(d + 60), w = I32(d + 64), h = I32(d + 68);
      } else if (type == 80) {
        x = I32(d + 16), y = I32(d + 20), sx = I32(d + 24), sy = I32(d + 28), sw = I32(d + 32), sh = I32(d + 36);
        offBmi = U32(d + 40), cbBmi = U32(d + 44), offBits = U32(d + 48), cbBits = U32(d + 52);
        rop = 0xCC0020, w = sw, h = sh;
      } else {
        x = I32(d + 16), y = I32(d + 20), w = I32(d + 24), h = I32(d + 28), rop = U32(d + 32);
        sx = I32(d + 36), sy = I32(d + 40);
        offBmi = U32(d + 76), cbBmi = U32(d + 80), offBits = U32(d + 84), cbBits = U32(d + 88);
        sw = type == 77 ? I32(d + 92) : w;
        sh = type == 77 ? I32(d + 96) : h;
      }
      int32_t X0 = c.X(x), Y0 = c.Y(y);
      int32_t DW = type == 80 ? w : c.X(double(x) + w) - X0, DH = type == 80 ? h : c.Y(double(y) + h) - Y0;
      if (cbBmi == 0 && (type == 76 || type == 77)) {  // a pattern transfer
        c.Emit(kBlit, {X0, Y0, DW, DH, int32_t((rop >> 16) & 0xFF), int32_t((rop >> 16) & 0xFF), 0, 0, 0, 0});
        return true;
      }
      if (offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits) return false;
      return c.Dib(r + offBmi, cbBmi, r + offBits, cbBits, X0, Y0, DW, DH, sx, sy, sw, sh, rop);
    }
    case 83: case 84: {
      const uint8_t* t = d + 28;  // the text part
      int32_t x = I32(t), y = I32(t + 4);
      uint32_t n = U32(t + 8), off = U32(t + 12), options = U32(t + 16);
      uint32_t unit = type == 84 ? 2 : 1;
      if (off > size || n > (size - off) / unit) return false;
      int32_t l = c.X(I32(t + 20)), tp = c.Y(I32(t + 24)), rr = c.X(I32(t + 28)), b = c.Y(I32(t + 32));
      const int32_t rect[4] = {std::min(l, rr), std::min(tp, b), std::max(l, rr), std::max(tp, b)};
      c.Text(c.X(x), c.Y(y), type == 84 ? Narrow(r + off, n) : std::string(reinterpret_cast<const char*>(r + off), n),
             options, rect);
      return true;
    }
    case 14: {
      uint32_t n = U32(d), off = U32(d + 4);
      if (n == 0) return true;
      if (off > size || n > (size - off) / 4) return false;
      c.list.palette.clear();
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = r + off + 4 * i;
        c.list.palette.push_back(uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16);
      }
      return true;
    }
    default:
      return true;  // drawn by nothing here: skipped
  }
}

// ---- Plain metafiles -------------------------------------------------------

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;

struct WmfRec {
  const uint8_t* p;
  uint32_t words;  // of parameters
  int32_t P(uint32_t i) const { return I16(p + 6 + 2 * i); }
  uint32_t U(uint32_t i) const { return U16(p + 6 + 2 * i); }
  uint32_t Colour(uint32_t i) const { return (U(i) | U(i + 1) << 16) & 0xFFFFFF; }
};

// The number of parameter words each record needs.
uint32_t WmfFixed(uint32_t fn) {
  switch (fn) {
    case 0x020B: case 0x020C: case 0x0209: case 0x0201: case 0x0214: case 0x0213: case 0x0220: return 2;
    case 0x0102: case 0x0106: case 0x0104: case 0x0107: case 0x012D: case 0x01F0: case 0x0127:
    case 0x0234: case 0x0325: case 0x0324: case 0x0521: case 0x012E: return 1;
    case 0x041B: case 0x0418: case 0x0416: case 0x0415: return 4;
    case 0x061C: return 6;
    case 0x0817: case 0x081A: return 8;
    case 0x02FA: return 5;
    case 0x02FC: return 4;
    case 0x02FB: return 9;
    case 0x0A32: return 4;
    case 0x0F43: return 11;
    case 0x0B41: return 10;
    case 0x00F7: return 2;
    default: return 0;
  }
}

bool WmfNewObject(Converter& c, Obj&& o) {
  for (Obj& slot : c.objs)
    if (slot.kind == Obj::kFree) {
      slot = std::move(o);
      return true;
    }
  return false;
}

bool WmfRecord(Converter& c, const WmfRec& r, uint32_t fn, bool* haveExt, double* ext) {
  if (r.words < WmfFixed(fn)) return false;
  switch (fn) {
    case 0x020B: ext[0] = r.P(1), ext[1] = r.P(0); return true;  // window origin
    case 0x020C:
      ext[2] = r.P(1), ext[3] = r.P(0);
      *haveExt = true;
      return true;
    case 0x0102: c.Emit(kBkMode, {r.P(0)}); return true;
    case 0x0106: c.Emit(kFillMode, {r.P(0)}); return true;
    case 0x0104: c.Emit(kRop2, {r.P(0)}); return true;
    case 0x0107: c.Emit(kStretchMode, {r.P(0)}); return true;
    case 0x0209: c.Emit(kTextColour, {int32_t(r.Colour(0))}); return true;
    case 0x0201:
      c.back = r.Colour(0);
      c.Emit(kBkColour, {int32_t(c.back)});
      return true;
    case 0x012E: c.align = r.U(0); return true;
    case 0x0214: c.Emit(kMoveTo, {r.P(1), r.P(0)}); return true;
    case 0x0213: c.Emit(kLineTo, {r.P(1), r.P(0)}); return true;
    case 0x0220: c.Emit(kOffsetClip, {r.P(1), r.P(0)}); return true;
    case 0x041B: c.Rectangle(r.P(3), r.P(2), r.P(1), r.P(0)); return true;
    case 0x0418: c.Box(kEllipse, r.P(3), r.P(2), r.P(1), r.P(0)); return true;
    case 0x0416: c.Box(kIntersectClip, r.P(3), r.P(2), r.P(1), r.P(0)); return true;
    case 0x0415: c.Box(kExcludeClip, r.P(3), r.P(2), r.P(1), r.P(0)); return true;
    case 0x061C: c.Box(kRoundRect, r.P(5), r.P(4), r.P(3), r.P(2), {std::abs(r.P(1)), std::abs(r.P(0))}); return true;
    case 0x0817: case 0x081A:
      c.Box(fn == 0x0817 ? kArc : kPie, r.P(7), r.P(6), r.P(5), r.P(4), {r.P(3), r.P(2), r.P(1), r.P(0)});
      return true;
    case 0x0325: case 0x0324: {
      uint32_t n = r.U(0);
      if (n > (r.words - 1) / 2) return false;
      std::vector<int32_t> v;
      for (uint32_t i = 0; i < n; ++i) v.insert(v.end(), {r.P(1 + 2 * i), r.P(2 + 2 * i)});
      c.Emit(fn == 0x0325 ? kPolyline : kPolygon, std::move(v));
      return true;
    }
    case 0x001E: c.Save(); return true;
    case 0x0127: c.Restore(r.P(0)); return true;
    case 0x012D: case 0x0234: {
      Obj* o = c.Slot(r.U(0));
      if (!o) return false;
      c.Select(*o);
      return true;
    }
    case 0x01F0: {
      Obj* o = c.Slot(r.U(0));
      if (!o) return false;
      *o = Obj{};
      return true;
    }
    case 0x02FA: case 0x02FC: case 0x02FB: case 0x00F7: {
      Obj o;
      if (fn == 0x02FA) {
        o.kind = Obj::kPenObj;
        o.v = {Converter::PenStyle(r.U(0)), std::abs(r.P(1)), int32_t(r.Colour(3))};
      } else if (fn == 0x02FC) {
        o.kind = Obj::kBrushObj;
        o.v = Converter::Brush(r.U(0), r.Colour(1), r.U(3));
      } else if (fn == 0x02FB) {
        o.kind = Obj::kFontObj;
        o.font.height = r.P(0);
        o.font.width = std::abs(r.P(1));
        o.font.weight = std::clamp(r.P(4), 0, 1000);
        const uint8_t* b = r.p + 6 + 10;
        o.font.italic = b[0] != 0;
        o.font.underline = b[1] != 0;
        o.font.strikeOut = b[2] != 0;
        uint32_t room = r.words * 2 - 18, len = 0;
        while (len < room && len < 32 && b[8 + len]) ++len;
        PlatSetFaceName(&o.font, reinterpret_cast<const char*>(b + 8), int32_t(len));
      } else {
        uint32_t n = r.U(1);
        if (n > (r.words - 2) / 2) return false;
        o.kind = Obj::kPaletteObj;
        for (uint32_t i = 0; i < n; ++i) {
          const uint8_t* e = r.p + 10 + 4 * i;
          o.palette.push_back(uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16);
        }
      }
      return WmfNewObject(c, std::move(o));
    }
    case 0x00F8: case 0x01F9: case 0x0142: case 0x06FF: {  // objects not drawn with: hold their slot
      Obj o;
      o.kind = Obj::kOther;
      return WmfNewObject(c, std::move(o));
    }
    case 0x0521: {
      uint32_t n = r.U(0), padded = (n + 1) / 2;
      if (r.words < 1 + padded + 2) return false;
      c.Text(r.P(1 + padded + 1), r.P(1 + padded), std::string(reinterpret_cast<const char*>(r.p + 8), n), 0, nullptr);
      return true;
    }
    case 0x0A32: {
      uint32_t n = r.U(2), options = r.U(3), at = 4;
      bool hasRect = options & 6;
      if (hasRect) at += 4;
      if (r.words < at + (n + 1) / 2) return false;
      int32_t rect[4] = {0, 0, 0, 0};
      if (hasRect) rect[0] = r.P(4), rect[1] = r.P(5), rect[2] = r.P(6), rect[3] = r.P(7);
      c.Text(r.P(1), r.P(0), std::string(reinterpret_cast<const char*>(r.p + 6 + 2 * at), n), options,
             hasRect ? rect : nullptr);
      return true;
    }
    case 0x0F43: case 0x0B41: {
      uint32_t rop = r.U(0) | r.U(1) << 16, k = fn == 0x0F43 ? 3 : 2;
      int32_t sh = r.P(k), sw = r.P(k + 1), sy = r.P(k + 2), sx = r.P(k + 3);
      int32_t h = r.P(k + 4), w = r.P(k + 5), y = r.P(k + 6), x = r.P(k + 7);
      uint32_t off = 6 + 2 * (k + 8), bytes = r.words * 2 + 6 - off;
      PlatDibInfo info;
      if (!PlatDibReadHeader(r.p + off, bytes, &info)) return false;
      uint32_t head = uint32_t(info.headerSize) + info.tableBytes;
      return c.Dib(r.p + off, head, r.p + off + head, bytes - head, x, y, w, h, sx, sy, sw, sh, rop);
    }
    default:
      return true;
  }
}

}  // namespace

PlatMetafile PlatMetafileFromEmf(const void* data, uint32_t size) {
  const auto* b = static_cast<const uint8_t*>(data);
  if (!b || size < 88 || U32(b) != 1) return Refuse();
  uint32_t headSize = U32(b + 4), total = U32(b + 48);
  if (headSize < 88 || headSize % 4 || headSize > size || U32(b + 40) != kEmfSignature || total > size ||
      total < headSize)
    return Refuse();
  int32_t devX = I32(b + 72), devY = I32(b + 76), mmX = I32(b + 80), mmY = I32(b + 84);
  if (devX <= 0 || devY <= 0 || mmX <= 0 || mmY <= 0) return Refuse();
  Converter c;
  c.pxPerMmX = double(devX) / mmX;
  c.pxPerMmY = double(devY) / mmY;
  c.objs.resize(U16(b + 56));
  c.list.bounds = PlatRect{I32(b + 8), I32(b + 12), I32(b + 16), I32(b + 20)};
  auto frame = [&](int32_t v, double dev, double mm) { return Round(double(v) * dev / (mm * 100)); };
  c.list.frame = PlatRect{frame(I32(b + 24), devX, mmX), frame(I32(b + 28), devY, mmY),
                          frame(I32(b + 32), devX, mmX), frame(I32(b + 36), devY, mmY)};
  uint32_t nDesc = U32(b + 60), offDesc = U32(b + 64);
  if (nDesc && offDesc <= headSize && nDesc <= (headSize - offDesc) / 2) {
    std::string d = Narrow(b + offDesc, nDesc);
    c.list.description = d.substr(0, d.find('\0'));
  }
  for (uint32_t at = headSize; at < total;) {
    if (total - at < 8) return Refuse();
    uint32_t type = U32(b + at), n = U32(b + at + 4);
    if (n < 8 || n % 4 || n > total - at) return Refuse();
    if (!EmfRecord(c, b + at, n) || c.bad) return Refuse();
    at += n;
    if (type == 14) break;
  }
  return Finish(c);
}

PlatMetafile PlatMetafileFromWmf(const void* data, uint32_t size) {
  const auto* b = static_cast<const uint8_t*>(data);
  if (!b) return Refuse();
  if (size >= 22 && U32(b) == kPlaceableKey) b += 22, size -= 22;
  if (size < 18) return Refuse();
  uint32_t type = U16(b), head = U16(b + 2), version = U16(b + 4), words = U32(b + 6);
  if ((type != 1 && type != 2) || head != 9 || (version != 0x100 && version != 0x300) || words < 9 ||
      words > size / 2)
    return Refuse();
  Converter c;
  c.trackBounds = true;
  c.objs.resize(U16(b + 10));
  bool haveExt = false;
  double ext[4] = {0, 0, 0, 0};  // window origin x, y, extent x, y
  for (uint32_t at = 9; at < words;) {
    if (words - at < 3) return Refuse();
    const uint8_t* p = b + 2 * at;
    uint32_t n = U32(p), fn = U16(p + 4);
    if (n < 3 || n > words - at) return Refuse();
    if (fn == 0) break;
    WmfRec r{p, n - 3};
    if (!WmfRecord(c, r, fn, &haveExt, ext) || c.bad) return Refuse();
    at += n;
  }
  if (haveExt && ext[2] > 0 && ext[3] > 0)
    c.list.frame = PlatRect{int32_t(ext[0]), int32_t(ext[1]), int32_t(ext[0] + ext[2] - 1), int32_t(ext[1] + ext[3] - 1)};
  else
    c.list.frame = c.list.bounds;
  return Finish(c);
}

PlatMetafile PlatMetafileFromBytes(const void* data, uint32_t size) {
  const auto* b = static_cast<const uint8_t*>(data);
  if (b && size >= 4 && U32(b) == 1 && size >= 44 && U32(b + 40) == kEmfSignature) return PlatMetafileFromEmf(data, size);
  return PlatMetafileFromWmf(data, size);
}
