#include "tools/metafilewriter.h"

#include <algorithm>
#include <cstring>

#include "platform/qx_dc.h"
#include "platform/qx_dib.h"
#include "platform/qx_draw.h"
#include "platform/qx_font.h"
#include "platform/qx_region.h"
#include "platform/qx_text.h"

namespace mfw {

namespace {

struct Bytes {
  std::vector<uint8_t> b;
  void U8(uint32_t v) { b.push_back(uint8_t(v)); }
  void U16(uint32_t v) { U8(v), U8(v >> 8); }
  void U32(uint32_t v) { U16(v), U16(v >> 16); }
  void I32(int32_t v) { U32(uint32_t(v)); }
  void Raw(const void* p, size_t n) { b.insert(b.end(), (const uint8_t*)p, (const uint8_t*)p + n); }
  void Pad4() {
    while (b.size() % 4) U8(0);
  }
  size_t Size() const { return b.size(); }
  void Put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  }
};

// The 40-byte header and colour table, and the bottom-up rows, of a shape's DIB.
void Dib(const Shape& s, std::vector<uint8_t>* head, std::vector<uint8_t>* bits) {
  Bytes h;
  const bool one = s.dibDepth == 1;
  uint32_t row = one ? (uint32_t(s.dibW) + 31) / 32 * 4 : (uint32_t(s.dibW) + 3) / 4 * 4;
  h.U32(40), h.I32(s.dibW), h.I32(s.dibH), h.U16(1), h.U16(one ? 1 : 8), h.U32(0), h.U32(row * uint32_t(s.dibH));
  h.U32(0), h.U32(0), h.U32(uint32_t(s.colours.size())), h.U32(0);
  for (uint32_t c : s.colours) h.U8(c), h.U8(c >> 8), h.U8(c >> 16), h.U8(0);
  *head = h.b;
  bits->assign(size_t(row) * size_t(s.dibH), 0);
  for (int32_t y = 0; y < s.dibH; ++y)
    for (int32_t x = 0; x < s.dibW; ++x) {
      const uint8_t v = s.pixels[size_t(y) * size_t(s.dibW) + size_t(x)];
      uint8_t& at = (*bits)[size_t(s.dibH - 1 - y) * row + size_t(one ? x / 8 : x)];
      if (!one) at = v;
      else if (v & 1) at = uint8_t(at | (0x80 >> (x % 8)));
    }
}

// ---- Enhanced ----

class Emf {
 public:
  Bytes out;
  uint32_t records = 0;
  size_t start = 0;
  void Begin(uint32_t type) {
    start = out.Size();
    out.U32(type);
    out.U32(0);
  }
  void End() {
    out.Pad4();
    out.Put32(start + 4, uint32_t(out.Size() - start));
    ++records;
  }
  void Rec(uint32_t type, std::initializer_list<int32_t> v) {
    Begin(type);
    for (int32_t x : v) out.I32(x);
    End();
  }
  void Bounds(int32_t l, int32_t t, int32_t r, int32_t b) { out.I32(l), out.I32(t), out.I32(r), out.I32(b); }
};

void EmfShape(Emf& e, const Shape& s) {
  switch (s.kind) {
    case Kind::kRect:
      e.Rec(38, {1, 0, s.penWidth, 0, int32_t(s.pen)});  // pen into handle 1
      e.Rec(39, {2, 0, int32_t(s.brush), 0});             // brush into handle 2
      e.Rec(37, {1});
      e.Rec(37, {2});
      e.Rec(43, {s.v[0], s.v[1], s.v[2], s.v[3]});
      e.Rec(37, {int32_t(0x80000007)});  // black pen
      e.Rec(37, {int32_t(0x80000000)});  // white brush
      e.Rec(40, {1});
      e.Rec(40, {2});
      return;
    case Kind::kPolyline: {
      e.Rec(38, {1, 0, s.penWidth, 0, int32_t(s.pen)});
      e.Rec(37, {1});
      e.Begin(s.wide ? 4 : 87);
      e.Bounds(0, 0, 0, 0);
      e.out.U32(uint32_t(s.v.size() / 2));
      for (int32_t x : s.v) s.wide ? e.out.I32(x) : e.out.U16(uint32_t(x));
      e.End();
      e.Rec(37, {int32_t(0x80000007)});
      e.Rec(40, {1});
      return;
    }
    case Kind::kText: {
      e.Begin(82);
      e.out.U32(3);
      e.out.I32(-s.fontHeight), e.out.I32(0), e.out.I32(0), e.out.I32(0), e.out.I32(400);
      e.out.U32(0), e.out.U32(0);
      std::string face = kFace;
      for (int i = 0; i < 32; ++i) e.out.U16(i < int(face.size()) ? uint8_t(face[size_t(i)]) : 0);
      e.End();
      e.Rec(37, {3});
      if (s.baseline) e.Rec(22, {24});
      e.Rec(24, {int32_t(s.pen)});
      e.Rec(18, {1});
      e.Begin(s.wide ? 84 : 83);
      e.Bounds(0, 0, 0, 0);
      e.out.U32(1), e.out.U32(0), e.out.U32(0);
      e.out.I32(s.v[0]), e.out.I32(s.v[1]);
      e.out.U32(uint32_t(s.text.size()));
      e.out.U32(76);  // the string follows the fixed part
      e.out.U32(0);
      e.Bounds(0, 0, 0, 0);
      e.out.U32(0);
      for (char c : s.text) s.wide ? e.out.U16(uint8_t(c)) : e.out.U8(uint8_t(c));
      e.End();
      if (s.baseline) e.Rec(22, {0});
      e.Rec(37, {int32_t(0x8000000D)});
      e.Rec(40, {3});
      return;
    }
    case Kind::kDib: {
      std::vector<uint8_t> head, bits;
      Dib(s, &head, &bits);
      e.Begin(81);
      e.Bounds(s.v[0], s.v[1], s.v[0] + s.v[2] - 1, s.v[1] + s.v[3] - 1);
      e.out.I32(s.v[0]), e.out.I32(s.v[1]), e.out.I32(0), e.out.I32(0), e.out.I32(s.dibW), e.out.I32(s.dibH);
      e.out.U32(80), e.out.U32(uint32_t(head.size()));
      e.out.U32(uint32_t(80 + head.size())), e.out.U32(uint32_t(bits.size()));
      e.out.U32(0), e.out.U32(0xCC0020), e.out.I32(s.v[2]), e.out.I32(s.v[3]);
      e.out.Raw(head.data(), head.size());
      e.out.Raw(bits.data(), bits.size());
      e.End();
      return;
    }
  }
}

// ---- Plain ----

class Wmf {
 public:
  Bytes out;
  uint32_t maxRecord = 0;
  void Rec(uint32_t fn, std::initializer_list<int32_t> params) {
    Rec(fn, std::vector<int32_t>(params));
  }
  void Rec(uint32_t fn, const std::vector<int32_t>& params, const std::vector<uint8_t>& tail = {}) {
    uint32_t words = 3 + uint32_t(params.size()) + uint32_t(tail.size() + 1) / 2;
    out.U32(words);
    out.U16(fn);
    for (int32_t p : params) out.U16(uint32_t(p));
    out.Raw(tail.data(), tail.size());
    if (tail.size() % 2) out.U8(0);
    maxRecord = std::max(maxRecord, words);
  }
};

std::vector<int32_t> Colour(uint32_t c) { return {int32_t(c & 0xFFFF), int32_t(c >> 16)}; }

void WmfShape(Wmf& w, const Shape& s) {
  switch (s.kind) {
    case Kind::kRect: {
      auto pc = Colour(s.pen), bc = Colour(s.brush);
      w.Rec(0x02FA, {0, s.penWidth, 0, pc[0], pc[1]});  // slot 0
      w.Rec(0x02FC, {0, bc[0], bc[1], 0});              // slot 1
      w.Rec(0x012D, {0});
      w.Rec(0x012D, {1});
      w.Rec(0x041B, {s.v[3], s.v[2], s.v[1], s.v[0]});
      w.Rec(0x01F0, {0});
      w.Rec(0x01F0, {1});
      return;
    }
    case Kind::kPolyline: {
      auto pc = Colour(s.pen);
      w.Rec(0x02FA, {0, s.penWidth, 0, pc[0], pc[1]});
      w.Rec(0x012D, {0});
      std::vector<int32_t> p{int32_t(s.v.size() / 2)};
      p.insert(p.end(), s.v.begin(), s.v.end());
      w.Rec(0x0325, p);
      w.Rec(0x01F0, {0});
      return;
    }
    case Kind::kText: {
      std::vector<uint8_t> tail(8 + 32, 0);  // italic .. pitch, then the face
      std::memcpy(tail.data() + 8, kFace, std::strlen(kFace));
      w.Rec(0x02FB, {-s.fontHeight, 0, 0, 0, 400}, tail);
      w.Rec(0x012D, {0});
      auto tc = Colour(s.pen);
      w.Rec(0x0209, {tc[0], tc[1]});
      w.Rec(0x0102, {1});
      if (s.baseline) w.Rec(0x012E, {24});
      std::vector<uint8_t> text(s.text.begin(), s.text.end());
      if (text.size() % 2) text.push_back(0);
      std::vector<int32_t> params{int32_t(s.text.size())};
      for (size_t i = 0; i < text.size(); i += 2) params.push_back(text[i] | text[i + 1] << 8);
      params.push_back(s.v[1]);
      params.push_back(s.v[0]);
      w.Rec(0x0521, params);
      if (s.baseline) w.Rec(0x012E, {0});
      w.Rec(0x01F0, {0});
      return;
    }
    case Kind::kDib: {
      std::vector<uint8_t> head, bits;
      Dib(s, &head, &bits);
      head.insert(head.end(), bits.begin(), bits.end());
      w.Rec(0x0F43, {0x0020, 0x00CC, 0, s.dibH, s.dibW, 0, 0, s.v[3], s.v[2], s.v[1], s.v[0]}, head);
      return;
    }
  }
}

}  // namespace

std::vector<uint8_t> WriteEmf(const Picture& p) {
  Emf e;
  e.Begin(1);
  e.Bounds(0, 0, p.width - 1, p.height - 1);
  e.Bounds(0, 0, (p.width - 1) * 25, (p.height - 1) * 25);
  e.out.U32(0x464D4520), e.out.U32(0x10000), e.out.U32(0), e.out.U32(0);
  e.out.U16(4), e.out.U16(0);
  const char desc[] = "qx fixture";
  e.out.U32(sizeof desc), e.out.U32(88 + 12), e.out.U32(0);
  e.out.I32(1280), e.out.I32(1024), e.out.I32(320), e.out.I32(256);
  e.out.U32(0), e.out.U32(0), e.out.U32(0);  // no pixel format, not OpenGL
  for (char c : desc) e.out.U16(uint8_t(c));
  e.End();
  if (p.clip.right > p.clip.left) e.Rec(30, {p.clip.left, p.clip.top, p.clip.right, p.clip.bottom});
  if (p.exclude.right > p.exclude.left) e.Rec(29, {p.exclude.left, p.exclude.top, p.exclude.right, p.exclude.bottom});
  for (const Shape& s : p.shapes) EmfShape(e, s);
  e.Rec(14, {0, 16, 20});
  e.out.Put32(48, uint32_t(e.out.Size()));
  e.out.Put32(52, e.records);
  return e.out.b;
}

std::vector<uint8_t> WriteWmf(const Picture& p, bool placeable) {
  Wmf w;
  w.Rec(0x020B, {0, 0});
  w.Rec(0x020C, {p.height, p.width});
  if (p.clip.right > p.clip.left) w.Rec(0x0416, {p.clip.bottom, p.clip.right, p.clip.top, p.clip.left});
  if (p.exclude.right > p.exclude.left)
    w.Rec(0x0415, {p.exclude.bottom, p.exclude.right, p.exclude.top, p.exclude.left});
  for (const Shape& s : p.shapes) WmfShape(w, s);
  w.Rec(0x0000, {});
  Bytes out;
  if (placeable) {
    out.U32(0x9AC6CDD7), out.U16(0);
    out.U16(0), out.U16(0), out.U16(uint32_t(p.width)), out.U16(uint32_t(p.height));
    out.U16(96), out.U32(0);
    uint16_t sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(out.b[i] | out.b[i + 1] << 8);
    out.U16(sum);
  }
  out.U16(1), out.U16(9), out.U16(0x300);
  out.U32(uint32_t(9 + w.out.Size() / 2));
  out.U16(2), out.U32(w.maxRecord), out.U16(0);
  out.Raw(w.out.b.data(), w.out.Size());
  return out.b;
}

void DrawDirect(PlatObj dc, const Picture& p) {
  if (p.clip.right > p.clip.left) {
    PlatObj rgn = PlatCreateRectRgn(p.clip.left, p.clip.top, p.clip.right, p.clip.bottom);
    PlatObj out = PlatCreateRectRgn(p.exclude.left, p.exclude.top, p.exclude.right, p.exclude.bottom);
    PlatCombineRgn(rgn, rgn, out, kPlatRgnDiff);
    PlatSelectClipRgn(dc, rgn);
    PlatDeleteObject(rgn);
    PlatDeleteObject(out);
  }
  for (const Shape& s : p.shapes) {
    switch (s.kind) {
      case Kind::kRect:
      case Kind::kPolyline: {
        PlatObj pen = PlatCreatePen(kPlatPenSolid, s.penWidth, s.pen);
        PlatObj brush = PlatCreateSolidBrush(s.brush);
        PlatObj oldPen = PlatSelectObject(dc, pen), oldBrush = PlatSelectObject(dc, brush);
        std::vector<PlatPoint> pts;
        if (s.kind == Kind::kRect) {
          int32_t l = s.v[0], t = s.v[1], r = s.v[2] - 1, b = s.v[3] - 1;
          pts = {{l, t}, {r, t}, {r, b}, {l, b}};
          PlatPolygon(dc, pts.data(), 4);
        } else {
          for (size_t i = 0; i + 1 < s.v.size(); i += 2) pts.push_back({s.v[i], s.v[i + 1]});
          PlatPolyline(dc, pts.data(), int32_t(pts.size()));
        }
        PlatSelectObject(dc, oldPen);
        PlatSelectObject(dc, oldBrush);
        PlatDeleteObject(pen);
        PlatDeleteObject(brush);
        break;
      }
      case Kind::kText: {
        PlatFontDesc d{};
        d.height = -s.fontHeight;
        d.weight = 400;
        PlatSetFaceName(&d, kFace, int32_t(std::strlen(kFace)));
        PlatObj f = PlatCreateFont(d);
        PlatObj old = PlatSelectObject(dc, f);
        uint32_t oldText = PlatSetTextColor(dc, s.pen);
        int32_t oldBk = PlatSetBkMode(dc, kPlatBkTransparent);
        PlatTextMetrics tm{};
        PlatGetTextMetrics(dc, &tm);
        PlatTextOut(dc, s.v[0], s.v[1] - (s.baseline ? tm.ascent : 0), 0, nullptr, s.text.data(),
                    int32_t(s.text.size()));
        PlatSetBkMode(dc, oldBk);
        PlatSetTextColor(dc, oldText);
        if (old) PlatSelectObject(dc, old);
        PlatDeleteObject(f);
        break;
      }
      case Kind::kDib: {
        std::vector<uint8_t> head, bits;
        Dib(s, &head, &bits);
        PlatStretchDibBits(dc, s.v[0], s.v[1], s.v[2], s.v[3], 0, 0, s.dibW, s.dibH, head.data(),
                           uint32_t(head.size()), bits.data(), uint32_t(bits.size()), 0xCC0020);
        break;
      }
    }
  }
}

Picture Sample() {
  Picture p;
  p.width = 120;
  p.height = 80;
  Shape r;
  r.kind = Kind::kRect;
  r.v = {4, 6, 50, 30};
  r.pen = 0x0000FF;
  r.brush = 0x00FF00;
  p.shapes.push_back(r);
  Shape l;
  l.kind = Kind::kPolyline;
  l.v = {60, 10, 110, 20, 70, 40, 115, 70};
  l.pen = 0xFF0000;
  l.penWidth = 3;
  p.shapes.push_back(l);
  Shape l32 = l;
  l32.wide = true;
  l32.penWidth = 1;
  l32.v = {2, 78, 40, 50};
  p.shapes.push_back(l32);
  Shape t;
  t.kind = Kind::kText;
  t.v = {8, 40};
  t.text = "Qx 42";
  t.pen = 0x800000;
  p.shapes.push_back(t);
  Shape d;
  d.kind = Kind::kDib;
  d.v = {60, 50, 40, 24};
  d.dibW = 5;
  d.dibH = 3;
  d.colours = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000};
  for (int i = 0; i < 15; ++i) d.pixels.push_back(uint8_t(i % 5));
  p.shapes.push_back(d);
  return p;
}

}  // namespace mfw
