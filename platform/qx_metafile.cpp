#include "platform/qx_metafile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_file.h"
#include "platform/qx_metafile_internal.h"
#include "platform/qx_region.h"
#include "platform/qx_shapes.h"
#include "platform/qx_shapes_internal.h"
#include "platform/qx_text.h"
#include "platform/qx_wide.h"

namespace qxmeta {

void Grow(PlatRect* box, int32_t l, int32_t t, int32_t r, int32_t b) {
  if (r < l || b < t) return;
  if (box->right < box->left || box->bottom < box->top) {
    *box = PlatRect{l, t, r, b};
    return;
  }
  box->left = std::min(box->left, l);
  box->top = std::min(box->top, t);
  box->right = std::max(box->right, r);
  box->bottom = std::max(box->bottom, b);
}

namespace {

int32_t Clamp(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Source index of destination index i (of n, from full): the sampling rule
// of block transfers.
int64_t SourceIndex(int64_t i, int64_t n, int64_t full) { return qxdraw::MulFloorDiv(2 * i + 1, full, 2 * n); }

// The pixels of a cosmetic line without its end point (see qx_draw.h).
void SegmentBox(PlatRect* box, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  int64_t dx = int64_t(x1) - x0, dy = int64_t(y1) - y0;
  int64_t n = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
  if (n == 0) return;
  int64_t ex, ey;
  auto minor = [&](int64_t m) {
    int64_t a = m < 0 ? -m : m;
    int64_t k = qxdraw::WideFloorDiv(qxdraw::WideAdd(qxdraw::WideMul(2 * (n - 1), a), qxdraw::WideOf(n)), 2 * n);
    return m < 0 ? -k : k;
  };
  if ((dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy)) {
    ex = x0 + (dx < 0 ? -(n - 1) : n - 1);
    ey = y0 + minor(dy);
  } else {
    ey = y0 + (dy < 0 ? -(n - 1) : n - 1);
    ex = x0 + minor(dx);
  }
  Grow(box, Clamp(std::min<int64_t>(x0, ex)), Clamp(std::min<int64_t>(y0, ey)), Clamp(std::max<int64_t>(x0, ex)),
       Clamp(std::max<int64_t>(y0, ey)));
}

// The pixels of a polyline (closed: a polygon's outline) with the pen.
void StrokeBox(PlatRect* box, const std::vector<PlatPoint>& p, bool closed, BoxState& st) {
  if (st.penStyle == kPlatPenNull || p.size() < 2) return;
  PlatRect wide;
  if (st.penWidth >= 2) {
    if (qxdraw::WidePolylineBox(p.data(), int32_t(p.size()), closed, st.penWidth, st.penStyle, &wide, &st.work))
      Grow(box, wide.left, wide.top, wide.right, wide.bottom);
    return;
  }
  size_t segments = closed ? p.size() : p.size() - 1;
  for (size_t i = 0; i < segments; ++i) {
    const PlatPoint& a = p[i];
    const PlatPoint& b = p[(i + 1) % p.size()];
    SegmentBox(box, a.x, a.y, b.x, b.y);
  }
}

std::vector<PlatPoint> PointsOf(const std::vector<int32_t>& v) {
  std::vector<PlatPoint> p;
  for (size_t i = 0; i + 1 < v.size(); i += 2) p.push_back(PlatPoint{v[i], v[i + 1]});
  return p;
}

void RectsBox(PlatRect* box, const std::vector<int32_t>& v, size_t from) {
  for (size_t i = from; i + 3 < v.size(); i += 4)
    if (v[i + 2] > v[i] && v[i + 3] > v[i + 1])
      Grow(box, v[i], v[i + 1], Clamp(int64_t(v[i + 2]) - 1), Clamp(int64_t(v[i + 3]) - 1));
}

}  // namespace

void InsideRange(int64_t n, int64_t full, int64_t at, int64_t size, bool reduce, int64_t* x0, int64_t* x1) {
  reduce = reduce && full > n;
  // The source pixels [a, b) destination i reads; both ends grow with i.
  // ceil(i full / n) when reducing.
  auto up = [&](int64_t i) { return -qxdraw::MulFloorDiv(-i, full, n); };
  auto a = [&](int64_t i) { return reduce ? up(i) : SourceIndex(i, n, full); };
  auto b = [&](int64_t i) { return reduce ? up(i + 1) : SourceIndex(i, n, full) + 1; };
  auto first = [&](auto&& reaches) {
    int64_t lo = 0, hi = n;
    while (lo < hi) {
      int64_t mid = lo + (hi - lo) / 2;
      if (reaches(mid)) hi = mid;
      else lo = mid + 1;
    }
    return lo;
  };
  *x0 = first([&](int64_t i) { return b(i) > at; });
  *x1 = std::max(*x0, first([&](int64_t i) { return a(i) >= at + size; }));
}

void BoxState::Note(const Rec& rec) {
  const auto& v = rec.v;
  switch (rec.op) {
    case kPen:
      if (v.size() >= 2) penStyle = v[0], penWidth = v[1];
      break;
    case kBrush:
      if (!v.empty()) brushOn = v[0] != kPlatBrushNull;
      break;
    case kStretchMode:
      if (!v.empty()) stretchMode = v[0];
      break;
    case kFillMode:
      if (!v.empty()) fillMode = v[0];
      break;
    case kMoveTo:
    case kLineTo:
      if (v.size() >= 2) posX = v[0], posY = v[1];
      break;
    default:
      break;
  }
}

bool RecordBox(const Rec& rec, BoxState& st, int32_t textW, int32_t textH, PlatRect* out) {
  PlatRect box{0, 0, -1, -1};
  const auto& v = rec.v;
  switch (rec.op) {
    case kPatFill:
    case kBlit: {
      if (v.size() < 4) return false;
      int64_t x = v[0], y = v[1], w = v[2], h = v[3];
      if (rec.op == kBlit && (w <= 0 || h <= 0)) return false;
      if (w < 0) x += w, w = -w;
      if (h < 0) y += h, h = -h;
      if (rec.op == kBlit && !rec.src.Empty()) {
        if (!rec.src.Valid()) return false;  // played as nothing
        // Only destination pixels whose source lies inside its surface.
        bool reduce = st.stretchMode == 1 || st.stretchMode == 2;
        int64_t x0, x1, y0, y1;
        InsideRange(w, rec.src.FullW(), rec.src.ox, rec.src.w, reduce, &x0, &x1);
        InsideRange(h, rec.src.FullH(), rec.src.oy, rec.src.h, reduce, &y0, &y1);
        x += x0, y += y0, w = x1 - x0, h = y1 - y0;
      }
      if (w > 0 && h > 0) Grow(&box, Clamp(x), Clamp(y), Clamp(x + w - 1), Clamp(y + h - 1));
      break;
    }
    case kInvert:
      if (v.size() < 4 || v[2] <= v[0] || v[3] <= v[1]) return false;
      Grow(&box, v[0], v[1], Clamp(int64_t(v[2]) - 1), Clamp(int64_t(v[3]) - 1));
      break;
    case kEllipse:
    case kRoundRect:
    case kArc:
    case kPie: {
      size_t need = rec.op == kRoundRect ? 6 : rec.op == kEllipse ? 4 : 8;
      if (v.size() < need) return false;
      int32_t kind = rec.op == kEllipse ? 0 : rec.op == kRoundRect ? 1 : rec.op == kArc ? 2 : 3;
      int32_t ew = kind == 1 ? v[4] : 0, eh = kind == 1 ? v[5] : 0;
      int32_t sx = kind >= 2 ? v[4] : 0, sy = kind >= 2 ? v[5] : 0, ex = kind >= 2 ? v[6] : 0,
              ey = kind >= 2 ? v[7] : 0;
      if (!qxdraw::FigureBox(kind, v[0], v[1], v[2], v[3], ew, eh, sx, sy, ex, ey, st.penWidth,
                             st.penStyle != kPlatPenNull, st.brushOn, &box))
        return false;
      break;
    }
    case kLineTo:
      if (v.size() < 2) return false;
      StrokeBox(&box, {PlatPoint{st.posX, st.posY}, PlatPoint{v[0], v[1]}}, false, st);
      break;
    case kPolyline:
      StrokeBox(&box, PointsOf(v), false, st);
      break;
    case kPolygon: {
      auto p = PointsOf(v);
      if (p.size() < 2) return false;
      if (st.penStyle != kPlatPenNull && st.penWidth < 2) {
        // The outline runs through every vertex; the inside stays within them.
        for (const PlatPoint& q : p) Grow(&box, q.x, q.y, q.x, q.y);
      } else {
        StrokeBox(&box, p, true, st);
        PlatRect fill;
        if (st.brushOn && qxdraw::PolygonFillBox(p.data(), int32_t(p.size()), st.fillMode, &fill, &st.work))
          Grow(&box, fill.left, fill.top, fill.right, fill.bottom);
      }
      break;
    }
    case kFillRgn:
      RectsBox(&box, v, 10);
      break;
    case kFrameRgn:
      RectsBox(&box, v, 12);
      break;
    case kText: {
      if (v.size() < 3 || textW <= 0 || textH <= 0) return false;
      PlatRect t{v[0], v[1], Clamp(int64_t(v[0]) + textW - 1), Clamp(int64_t(v[1]) + textH - 1)};
      if ((v[2] & kPlatTextClip) && v.size() >= 7) {
        t.left = std::max(t.left, v[3]);
        t.top = std::max(t.top, v[4]);
        t.right = std::min<int64_t>(t.right, int64_t(v[5]) - 1);
        t.bottom = std::min<int64_t>(t.bottom, int64_t(v[6]) - 1);
      }
      Grow(&box, t.left, t.top, t.right, t.bottom);
      break;
    }
    default:
      return false;
  }
  if (box.right < box.left) return false;
  *out = box;
  return true;
}

namespace {

// The table of metafiles: slot index (low 16 bits, from 1) and generation.
struct Table {
  std::mutex lock;
  std::vector<std::shared_ptr<List>> slots;
  std::vector<uint16_t> gens;
};
Table& TheTable() {
  static Table* t = new Table;
  return *t;
}

std::shared_ptr<List> Lookup(PlatMetafile h) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> g(t.lock);
  uint32_t i = h & 0xFFFF;
  if (i == 0 || i > t.slots.size() || !t.slots[i - 1] || t.gens[i - 1] != (h >> 16)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return nullptr;
  }
  return t.slots[i - 1];
}

}  // namespace

PlatMetafile Adopt(List&& list) {
  auto p = std::make_shared<List>(std::move(list));
  Table& t = TheTable();
  std::lock_guard<std::mutex> g(t.lock);
  size_t i = 0;
  while (i < t.slots.size() && t.slots[i]) ++i;
  if (i == t.slots.size()) {
    if (i >= 0xFFFF) {
      PlatSetLastError(kPlatErrNoMemory);
      return 0;
    }
    t.slots.emplace_back();
    t.gens.push_back(0);
  }
  t.slots[i] = std::move(p);
  if (++t.gens[i] == 0) t.gens[i] = 1;
  return (uint32_t(t.gens[i]) << 16) | uint32_t(i + 1);
}

}  // namespace qxmeta

using namespace qxmeta;

namespace {

// ---- Recording -------------------------------------------------------------

std::vector<int32_t> Numbers(const char* s) {
  std::vector<int32_t> v;
  while (*s) {
    char* end = nullptr;
    long n = std::strtol(s, &end, 0);
    if (end == s) {
      ++s;
      continue;
    }
    v.push_back(int32_t(n));
    s = end;
  }
  return v;
}

// Brush text of a trace line ("null", "solid 0xC", "pattern HEX") as the 10
// values of a brush record; the rest of the line after it.
const char* ParseBrush(const char* s, std::vector<int32_t>* v) {
  int32_t kind = kPlatBrushNull, colour = 0;
  uint8_t pat[8] = {};
  if (!std::strncmp(s, "solid ", 6)) {
    kind = kPlatBrushSolid;
    char* end;
    colour = int32_t(std::strtoul(s + 6, &end, 16));
    s = end;
  } else if (!std::strncmp(s, "pattern ", 8)) {
    kind = kPlatBrushPattern;
    s += 8;
    for (int i = 0; i < 8 && s[0] && s[1]; ++i, s += 2) {
      char two[3] = {s[0], s[1], 0};
      pat[i] = uint8_t(std::strtoul(two, nullptr, 16));
    }
  } else if (!std::strncmp(s, "null", 4)) {
    s += 4;
  }
  v->push_back(kind);
  v->push_back(colour);
  for (uint8_t p : pat) v->push_back(p);
  return s;
}

// The part of the source rectangle (x, y, w, h) inside the surface; empty
// when none of it is (or it is too large to keep).
Pixels Snapshot(const PlatSurface* s, int32_t x, int32_t y, int32_t w, int32_t h) {
  Pixels p;
  if (!s || w <= 0 || h <= 0) return p;
  int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  int64_t x1 = std::min<int64_t>(int64_t(x) + w, PlatSurfaceWidth(s));
  int64_t y1 = std::min<int64_t>(int64_t(y) + h, PlatSurfaceHeight(s));
  if (x0 >= x1 || y0 >= y1 || (x1 - x0) * (y1 - y0) > (int64_t(1) << 26)) return p;
  p.w = int32_t(x1 - x0);
  p.h = int32_t(y1 - y0);
  p.ox = int32_t(x0 - x);
  p.oy = int32_t(y0 - y);
  p.fw = w;
  p.fh = h;
  p.mono = PlatSurfaceFormatOf(s) == kPlatMono1;
  p.px.resize(size_t(p.w) * size_t(p.h));
  for (int32_t j = 0; j < p.h; ++j)
    for (int32_t i = 0; i < p.w; ++i)
      p.px[size_t(j) * size_t(p.w) + size_t(i)] = PlatSurfaceGetPixel(s, int32_t(x0 + i), int32_t(y0 + j)) & 0xFFFFFF;
  return p;
}

// Keeps the calls of its context as records.
class Recorder : public PlatTraceSink {
 public:
  PlatObj dc = 0;
  List list;
  BoxState boxState;

  void Line(const std::string& line) override {
    pendingBlit_ = false;  // a transfer whose pixels never came drew nothing
    const char* s = line.c_str();
    const char* sp = std::strchr(s, ' ');
    std::string word = sp ? std::string(s, sp) : line;
    const char* rest = sp ? sp + 1 : "";
    Rec r;
    auto state = [&](Op op) {
      r.op = op;
      r.v = Numbers(rest);
    };
    if (word == "pen") {
      state(kPen);
    } else if (word == "brush") {
      r.op = kBrush;
      ParseBrush(rest, &r.v);
    } else if (word == "font") {
      r.op = kFont;
      if (!PlatGetFontDesc(PlatCurrentObject(dc, kPlatObjFont), &r.font)) return;
    } else if (word == "rop2") {
      state(kRop2);
    } else if (word == "fillmode") {
      state(kFillMode);
    } else if (word == "bkmode") {
      state(kBkMode);
    } else if (word == "textcolor") {
      state(kTextColour);
    } else if (word == "bkcolor") {
      state(kBkColour);
    } else if (word == "brushorg") {
      state(kBrushOrg);
    } else if (word == "charextra") {
      state(kCharExtra);
    } else if (word == "stretchmode") {
      state(kStretchMode);
    } else if (word == "clip") {
      if (!std::strncmp(rest, "none", 4)) r.op = kClipNone;
      else state(kClip);
    } else if (word == "offsetclip") {
      state(kOffsetClip);
    } else if (word == "patfill") {
      state(kPatFill);
    } else if (word == "invert") {
      state(kInvert);
    } else if (word == "moveto") {
      state(kMoveTo);
    } else if (word == "lineto") {
      state(kLineTo);
    } else if (word == "polyline" || word == "polygon") {
      state(word == "polyline" ? kPolyline : kPolygon);
      if (!r.v.empty()) r.v.erase(r.v.begin());  // the count
    } else if (word == "fillrgn" || word == "framergn") {
      r.op = word == "fillrgn" ? kFillRgn : kFrameRgn;
      std::vector<int32_t> wh;
      if (r.op == kFrameRgn) {
        wh = Numbers(std::string(rest, std::strcspn(rest, " ")).c_str());
        rest += std::strcspn(rest, " ");
        if (*rest) ++rest;
      }
      const char* after = ParseBrush(rest, &r.v);
      r.v.insert(r.v.end(), wh.begin(), wh.end());
      auto rects = Numbers(after);
      r.v.insert(r.v.end(), rects.begin(), rects.end());
    } else if (word == "text") {
      ParseText(rest, &r);
    } else if (word == "ellipse") {
      state(kEllipse);
    } else if (word == "roundrect") {
      state(kRoundRect);
    } else if (word == "arc") {
      state(kArc);
    } else if (word == "pie") {
      state(kPie);
    } else if (word == "blit" || word == "stretchdib") {
      // Its pixels follow (Pixels); a transfer of nothing keeps nothing.
      const char* fn = std::strstr(rest, " fn ");
      auto n = Numbers(fn ? std::string(rest, fn).c_str() : rest);
      if (n.size() < (fn ? 8u : 9u)) return;
      r.op = kBlit;
      uint32_t fn0, fn1;
      if (fn) {
        char* end;
        fn0 = uint32_t(std::strtoul(fn + 4, &end, 16)) & 0xFF;
        fn1 = uint32_t(std::strtoul(end, nullptr, 16)) & 0xFF;
      } else {
        fn0 = fn1 = (uint32_t(n[8]) >> 16) & 0xFF;
      }
      r.v = {n[0], n[1], n[2], n[3], int32_t(fn0), int32_t(fn1), n[4], n[5], n[6], n[7]};
      // Kept once its pixels come (Pixels).
      pending_ = std::move(r);
      pendingBlit_ = true;
      return;
    } else {
      return;  // selections of bitmaps and palettes, read-backs, flush
    }
    Add(std::move(r));
  }

  void Pixels(const PlatSurface* source, const PlatRect& rect, const PlatSurface* mask, int32_t mx,
              int32_t my) override {
    if (!pendingBlit_) return;
    pendingBlit_ = false;
    Rec& r = pending_;
    if (source) {
      r.src = Snapshot(source, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
      if (r.src.Empty()) return;  // all of the source outside: nothing is painted
    }
    if (mask) r.mask = Snapshot(mask, mx, my, r.v[2], r.v[3]);
    Add(std::move(r));
  }

 private:
  bool pendingBlit_ = false;
  Rec pending_;

  void ParseText(const char* rest, Rec* r) {
    r->op = kText;
    std::istringstream in(rest);
    std::string xy, opts, rect, hex;
    in >> xy >> opts >> rect >> hex;
    r->v = Numbers(xy.c_str());
    if (r->v.size() != 2) r->v.assign(2, 0);
    r->v.push_back(int32_t(std::strtoul(opts.c_str(), nullptr, 10)));
    if (rect != "-") {
      auto q = Numbers(rect.c_str());
      q.resize(4, 0);
      r->v.insert(r->v.end(), q.begin(), q.end());
    }
    if (hex != "-")
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        r->bytes.push_back(char(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }

  void Add(Rec&& r) {
    int32_t tw = 0, th = 0;
    if (r.op == kText && !r.bytes.empty())
      PlatGetTextExtent(dc, r.bytes.data(), int32_t(r.bytes.size()), &tw, &th);
    PlatRect box;
    if (RecordBox(r, boxState, tw, th, &box)) Grow(&list.bounds, box.left, box.top, box.right, box.bottom);
    boxState.Note(r);
    list.recs.push_back(std::move(r));
  }
};

// The recording context's target: nothing is painted (a 1 x 1 surface
// takes what the calls paint), the recorder keeps the calls.
class RecordTarget : public PlatDrawTarget {
 public:
  RecordTarget() : surface_(PlatSurfaceCreate(1, 1, kPlatRgb32)) {}
  ~RecordTarget() override { PlatSurfaceDestroy(surface_); }
  PlatSurface* Surface() override { return surface_; }
  Recorder recorder;

 private:
  PlatSurface* surface_;
};

RecordTarget* RecordingOf(PlatObj dc) {
  auto* t = dynamic_cast<RecordTarget*>(PlatDcTarget(dc));
  if (!t) PlatSetLastError(kPlatErrInvalidHandle);
  return t;
}

// ---- Playing ---------------------------------------------------------------

struct Mapping {
  double dl, dt, fl, ft, sx, sy;
  int32_t X(int64_t x) const { return Round(dl + (double(x) - fl) * sx); }
  int32_t Y(int64_t y) const { return Round(dt + (double(y) - ft) * sy); }
  int32_t W(int64_t d) const { return Round(double(d) * sx); }
  int32_t H(int64_t d) const { return Round(double(d) * sy); }
  static int32_t Round(double v) {
    v = std::floor(v + 0.5);
    return int32_t(std::clamp(v, -1073741823.0, 1073741823.0));
  }
};

// Beyond every mapped coordinate: a clip of everything.
constexpr int32_t kFar = 1073741824;

struct PlayState {
  std::vector<int32_t> pen{kPlatPenSolid, 0, 0}, brush;
  bool hasPen = false, hasBrush = false, hasFont = false;
  PlatFontDesc font{};
  std::vector<std::pair<Op, std::vector<int32_t>>> modes;  // last value of each mode
  PlatObj clip = 0;  // in play coordinates; 0: none of its own
};

class Player {
 public:
  Player(PlatObj dc, const List& list, const Mapping& m) : dc_(dc), list_(list), m_(m) {}

  bool Run() {
    Save();
    bool ok = true;
    for (const Rec& r : list_.recs) ok = Play(r) && ok;
    Restore();
    return ok;
  }

 private:
  PlatObj dc_;
  const List& list_;
  Mapping m_;
  PlayState st_;
  std::vector<PlayState> stack_;
  PlatObj madePen_ = 0, madeBrush_ = 0, madeFont_ = 0;
  // What the context had.
  PlatObj oldPen_ = 0, oldBrush_ = 0, oldFont_ = 0, baseClip_ = 0;
  bool hasBase_ = false;
  int32_t rop2_ = 0, fill_ = 0, bk_ = 0, extra_ = 0, stretch_ = 0, ox_ = 0, oy_ = 0;
  uint32_t text_ = 0, back_ = 0;
  PlatPoint pos_{0, 0};

  void Save() {
    oldPen_ = PlatCurrentObject(dc_, kPlatObjPen);
    oldBrush_ = PlatCurrentObject(dc_, kPlatObjBrush);
    oldFont_ = PlatCurrentObject(dc_, kPlatObjFont);
    rop2_ = PlatGetRop2(dc_);
    fill_ = PlatSetPolyFillMode(dc_, kPlatFillAlternate);
    PlatSetPolyFillMode(dc_, fill_);
    bk_ = PlatSetBkMode(dc_, kPlatBkOpaque);
    PlatSetBkMode(dc_, bk_);
    text_ = PlatSetTextColor(dc_, 0);
    PlatSetTextColor(dc_, text_);
    back_ = PlatSetBkColor(dc_, 0);
    PlatSetBkColor(dc_, back_);
    extra_ = PlatGetTextCharacterExtra(dc_);
    stretch_ = PlatGetStretchBltMode(dc_);
    PlatSetBrushOrg(dc_, 0, 0, &ox_, &oy_);
    PlatSetBrushOrg(dc_, ox_, oy_, nullptr, nullptr);
    PlatMoveTo(dc_, 0, 0, &pos_);
    PlatMoveTo(dc_, pos_.x, pos_.y, nullptr);
    baseClip_ = PlatCreateRectRgn(0, 0, 0, 0);
    hasBase_ = PlatGetClipRgn(dc_, baseClip_) == 1;
  }
  void Restore() {
    PlatSelectObject(dc_, oldPen_);
    PlatSelectObject(dc_, oldBrush_);
    if (oldFont_) PlatSelectObject(dc_, oldFont_);
    for (PlatObj o : {madePen_, madeBrush_, madeFont_})
      if (o) PlatDeleteObject(o);
    if (rop2_) PlatSetRop2(dc_, rop2_);
    if (fill_) PlatSetPolyFillMode(dc_, fill_);
    if (bk_) PlatSetBkMode(dc_, bk_);
    PlatSetTextColor(dc_, text_);
    PlatSetBkColor(dc_, back_);
    PlatSetTextCharacterExtra(dc_, extra_);
    if (stretch_) PlatSetStretchBltMode(dc_, stretch_);
    PlatSetBrushOrg(dc_, ox_, oy_, nullptr, nullptr);
    PlatMoveTo(dc_, pos_.x, pos_.y, nullptr);
    PlatSelectClipRgn(dc_, hasBase_ ? baseClip_ : 0);
    PlatDeleteObject(baseClip_);
    if (st_.clip) PlatDeleteObject(st_.clip);
    for (PlayState& s : stack_)
      if (s.clip) PlatDeleteObject(s.clip);
  }

  void ApplyPen() {
    const auto& p = st_.pen;
    int32_t w = p[1] == 0 ? 0 : std::max(1, std::abs(m_.W(p[1])));
    PlatObj pen = PlatCreatePen(p[0], w, uint32_t(p[2]));
    if (!pen) return;
    PlatSelectObject(dc_, pen);
    if (madePen_) PlatDeleteObject(madePen_);
    madePen_ = pen;
  }
  void ApplyBrush() {
    const auto& b = st_.brush;
    PlatObj brush = 0;
    if (b[0] == kPlatBrushSolid) {
      brush = PlatCreateSolidBrush(uint32_t(b[1]));
    } else if (b[0] == kPlatBrushPattern) {
      uint8_t rows[8];
      for (int i = 0; i < 8; ++i) rows[i] = uint8_t(b[2 + i]);
      // Mono1 rows padded to 16 bits.
      uint8_t bits[16] = {};
      for (int i = 0; i < 8; ++i) bits[2 * i] = rows[i];
      PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
      brush = PlatCreatePatternBrush(bm);
      PlatDeleteObject(bm);
    } else {
      brush = PlatGetStockObject(kPlatStockNullBrush);
    }
    if (!brush) return;
    PlatSelectObject(dc_, brush);
    if (madeBrush_) PlatDeleteObject(madeBrush_);
    madeBrush_ = brush;
  }
  void ApplyFont() {
    PlatFontDesc d = st_.font;
    if (d.height != 0) {
      int32_t h = m_.H(d.height);
      d.height = h == 0 ? (d.height < 0 ? -1 : 1) : h;
    }
    if (d.width != 0) d.width = std::max(1, std::abs(m_.H(d.width)));
    PlatObj f = PlatCreateFont(d);
    if (!f) return;
    PlatSelectObject(dc_, f);
    if (madeFont_) PlatDeleteObject(madeFont_);
    madeFont_ = f;
  }
  void ApplyMode(Op op, const std::vector<int32_t>& v) {
    if (v.empty()) return;
    switch (op) {
      case kRop2: PlatSetRop2(dc_, v[0]); break;
      case kFillMode: PlatSetPolyFillMode(dc_, v[0]); break;
      case kBkMode: PlatSetBkMode(dc_, v[0]); break;
      case kTextColour: PlatSetTextColor(dc_, uint32_t(v[0])); break;
      case kBkColour: PlatSetBkColor(dc_, uint32_t(v[0])); break;
      case kCharExtra: PlatSetTextCharacterExtra(dc_, m_.W(v[0])); break;
      case kStretchMode: PlatSetStretchBltMode(dc_, v[0]); break;
      case kBrushOrg:
        if (v.size() >= 2) PlatSetBrushOrg(dc_, m_.X(v[0]), m_.Y(v[1]), nullptr, nullptr);
        break;
      default: break;
    }
  }
  void ApplyClip() {
    if (!st_.clip) {
      PlatSelectClipRgn(dc_, hasBase_ ? baseClip_ : 0);
      return;
    }
    PlatObj c = PlatCreateRectRgn(0, 0, 0, 0);
    PlatCombineRgn(c, st_.clip, baseClip_, hasBase_ ? kPlatRgnAnd : kPlatRgnCopy);
    PlatSelectClipRgn(dc_, c);
    PlatDeleteObject(c);
  }
  void ApplyAll() {
    if (st_.hasPen) ApplyPen();
    if (st_.hasBrush) ApplyBrush();
    if (st_.hasFont) ApplyFont();
    for (auto& [op, v] : st_.modes) ApplyMode(op, v);
    ApplyClip();
  }
  void SetMode(Op op, const std::vector<int32_t>& v) {
    for (auto& m : st_.modes)
      if (m.first == op) {
        m.second = v;
        ApplyMode(op, v);
        return;
      }
    st_.modes.emplace_back(op, v);
    ApplyMode(op, v);
  }

  PlatObj MappedRects(const std::vector<int32_t>& v, size_t from) {
    PlatObj rgn = PlatCreateRectRgn(0, 0, 0, 0), one = PlatCreateRectRgn(0, 0, 0, 0);
    for (size_t i = from; i + 3 < v.size(); i += 4) {
      PlatSetRectRgn(one, m_.X(v[i]), m_.Y(v[i + 1]), m_.X(v[i + 2]), m_.Y(v[i + 3]));
      PlatCombineRgn(rgn, rgn, one, kPlatRgnOr);
    }
    PlatDeleteObject(one);
    return rgn;
  }
  std::vector<PlatPoint> Points(const std::vector<int32_t>& v) {
    std::vector<PlatPoint> p;
    for (size_t i = 0; i + 1 < v.size(); i += 2) p.push_back(PlatPoint{m_.X(v[i]), m_.Y(v[i + 1])});
    return p;
  }
  PlatObj BrushOf(const std::vector<int32_t>& v) {
    if (v.size() < 10 || v[0] == kPlatBrushNull) return PlatGetStockObject(kPlatStockNullBrush);
    if (v[0] == kPlatBrushSolid) return PlatCreateSolidBrush(uint32_t(v[1]));
    uint8_t bits[16] = {};
    for (int i = 0; i < 8; ++i) bits[2 * i] = uint8_t(v[2 + i]);
    PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
    PlatObj b = PlatCreatePatternBrush(bm);
    PlatDeleteObject(bm);
    return b;
  }

  bool Play(const Rec& r) {
    const auto& v = r.v;
    auto need = [&](size_t n) { return v.size() >= n; };
    switch (r.op) {
      case kPen:
        if (!need(3)) return false;
        st_.pen = {v[0], v[1], v[2]};
        st_.hasPen = true;
        ApplyPen();
        return true;
      case kBrush:
        if (!need(10)) return false;
        st_.brush = v;
        st_.hasBrush = true;
        ApplyBrush();
        return true;
      case kFont:
        st_.font = r.font;
        st_.hasFont = true;
        ApplyFont();
        return true;
      case kRop2: case kFillMode: case kBkMode: case kTextColour: case kBkColour: case kBrushOrg:
      case kCharExtra: case kStretchMode:
        SetMode(r.op, v);
        return true;
      case kClip:
        if (st_.clip) PlatDeleteObject(st_.clip);
        st_.clip = MappedRects(v, 0);
        ApplyClip();
        return true;
      case kClipNone:
        if (st_.clip) PlatDeleteObject(st_.clip);
        st_.clip = 0;
        ApplyClip();
        return true;
      case kOffsetClip:
        if (!need(2)) return false;
        if (st_.clip) PlatOffsetRgn(st_.clip, m_.W(v[0]), m_.H(v[1]));
        ApplyClip();
        return true;
      case kIntersectClip: {
        if (!need(4)) return false;
        PlatObj rect = MappedRects(v, 0);
        if (st_.clip) {
          PlatCombineRgn(st_.clip, st_.clip, rect, kPlatRgnAnd);
          PlatDeleteObject(rect);
        } else {
          st_.clip = rect;
        }
        ApplyClip();
        return true;
      }
      case kExcludeClip: {
        if (!need(4)) return false;
        PlatObj rect = MappedRects(v, 0);
        if (!st_.clip) st_.clip = PlatCreateRectRgn(-kFar, -kFar, kFar, kFar);
        PlatCombineRgn(st_.clip, st_.clip, rect, kPlatRgnDiff);
        PlatDeleteObject(rect);
        ApplyClip();
        return true;
      }
      case kSave: {
        PlayState copy = st_;
        if (copy.clip) {
          copy.clip = PlatCreateRectRgn(0, 0, 0, 0);
          PlatCombineRgn(copy.clip, st_.clip, 0, kPlatRgnCopy);
        }
        stack_.push_back(std::move(copy));
        return true;
      }
      case kRestore: {
        int32_t n = need(1) ? v[0] : 1;
        if (n < 1 || size_t(n) > stack_.size()) return false;
        while (n-- > 0) {
          if (st_.clip) PlatDeleteObject(st_.clip);
          st_ = std::move(stack_.back());
          stack_.pop_back();
        }
        ApplyAll();
        return true;
      }
      case kPatFill: {
        if (!need(5)) return false;
        int32_t x = m_.X(v[0]), y = m_.Y(v[1]);
        return PlatPatBlt(dc_, x, y, m_.X(int64_t(v[0]) + v[2]) - x, m_.Y(int64_t(v[1]) + v[3]) - y,
                          uint32_t(v[4]));
      }
      case kInvert:
        if (!need(4)) return false;
        return PlatInvertRect(dc_, PlatRect{m_.X(v[0]), m_.Y(v[1]), m_.X(v[2]), m_.Y(v[3])});
      case kMoveTo:
        return need(2) && PlatMoveTo(dc_, m_.X(v[0]), m_.Y(v[1]), nullptr);
      case kLineTo:
        return need(2) && PlatLineTo(dc_, m_.X(v[0]), m_.Y(v[1]));
      case kPolyline:
      case kPolygon: {
        auto p = Points(v);
        return r.op == kPolyline ? PlatPolyline(dc_, p.data(), int32_t(p.size()))
                                 : PlatPolygon(dc_, p.data(), int32_t(p.size()));
      }
      case kFillRgn:
      case kFrameRgn: {
        size_t from = r.op == kFillRgn ? 10 : 12;
        if (!need(from)) return false;
        PlatObj rgn = MappedRects(v, from), brush = BrushOf(v);
        bool ok = r.op == kFillRgn ? PlatFillRgn(dc_, rgn, brush)
                                   : PlatFrameRgn(dc_, rgn, brush, std::max(1, m_.W(v[10])),
                                                  std::max(1, m_.H(v[11])));
        PlatDeleteObject(rgn);
        PlatDeleteObject(brush);
        return ok;
      }
      case kText: {
        if (!need(3)) return false;
        PlatRect rect{};
        bool clip = (v[2] & kPlatTextClip) && need(7);
        if (clip) rect = PlatRect{m_.X(v[3]), m_.Y(v[4]), m_.X(v[5]), m_.Y(v[6])};
        return PlatTextOut(dc_, m_.X(v[0]), m_.Y(v[1]), clip ? uint32_t(kPlatTextClip) : 0u, clip ? &rect : nullptr,
                           r.bytes.data(), int32_t(r.bytes.size()));
      }
      case kEllipse:
        return need(4) && PlatEllipse(dc_, m_.X(v[0]), m_.Y(v[1]), m_.X(v[2]), m_.Y(v[3]));
      case kRoundRect:
        return need(6) && PlatRoundRect(dc_, m_.X(v[0]), m_.Y(v[1]), m_.X(v[2]), m_.Y(v[3]),
                                        std::abs(m_.W(v[4])), std::abs(m_.H(v[5])));
      case kArc:
      case kPie: {
        if (!need(8)) return false;
        auto f = r.op == kArc ? PlatArc : PlatPie;
        return f(dc_, m_.X(v[0]), m_.Y(v[1]), m_.X(v[2]), m_.Y(v[3]), m_.X(v[4]), m_.Y(v[5]), m_.X(v[6]),
                 m_.Y(v[7]));
      }
      case kBlit:
        return need(6) && Blit(r);
      default:
        return false;
    }
  }

  // A bitmap of the snapshot's pixels in a memory context.
  static PlatObj BitmapOf(const Pixels& p) {
    PlatObj bm = PlatCreateBitmap(p.w, p.h, p.mono ? 1 : 32, nullptr, 0);
    PlatSurface* s = PlatBitmapSurface(bm);
    if (!s) return bm;
    for (int32_t y = 0; y < p.h; ++y)
      for (int32_t x = 0; x < p.w; ++x) PlatSurfaceSetPixel(s, x, y, p.At(size_t(x), size_t(y)));
    return bm;
  }
  // The part (l, t, r, b) of the snapshot's whole rectangle resampled to
  // w x h as block transfers sample; every pixel of the part is inside.
  static Pixels Resample(const Pixels& p, int32_t w, int32_t h, const PlatRect& part) {
    Pixels o;
    o.w = part.right - part.left;
    o.h = part.bottom - part.top;
    o.mono = p.mono;
    o.px.resize(size_t(o.w) * size_t(o.h));
    for (int32_t y = 0; y < o.h; ++y) {
      int64_t sy = SourceIndex(part.top + y, h, p.FullH()) - p.oy;
      for (int32_t x = 0; x < o.w; ++x) {
        int64_t sx = SourceIndex(part.left + x, w, p.FullW()) - p.ox;
        o.px[size_t(y) * size_t(o.w) + size_t(x)] = p.At(size_t(sx), size_t(sy));
      }
    }
    return o;
  }

  bool Blit(const Rec& r) {
    const auto& v = r.v;
    int32_t x = m_.X(v[0]), y = m_.Y(v[1]);
    int32_t w = m_.X(int64_t(v[0]) + v[2]) - x, h = m_.Y(int64_t(v[1]) + v[3]) - y;
    uint32_t fn0 = uint32_t(v[4]) & 0xFF, fn1 = uint32_t(v[5]) & 0xFF;
    if (w <= 0 || h <= 0) return true;
    if (r.src.Empty()) return PlatBitBlt(dc_, x, y, w, h, 0, 0, 0, fn0 << 16);
    // A mask is whole: the source's destination rectangle, one to one.
    if (!r.src.Valid() || (!r.mask.Empty() && (!r.mask.Valid() || r.mask.FullW() != r.mask.w ||
                                              r.mask.FullH() != r.mask.h)))
      return false;
    if (int64_t(w) * h > (int64_t(1) << 26)) return false;
    PlatObj mem = PlatCreateMemoryDc();
    bool ok;
    if (!r.mask.Empty()) {
      // One to one: only the destination pixels whose source is inside.
      int64_t x0, x1, y0, y1;
      InsideRange(w, r.src.FullW(), r.src.ox, r.src.w, false, &x0, &x1);
      InsideRange(h, r.src.FullH(), r.src.oy, r.src.h, false, &y0, &y1);
      if (x0 >= x1 || y0 >= y1) {
        PlatDeleteDc(mem);
        return true;
      }
      PlatRect part{int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
      Pixels src = Resample(r.src, w, h, part), mask = Resample(r.mask, w, h, part);
      PlatObj sb = BitmapOf(src), mb = BitmapOf(mask);
      PlatSelectObject(mem, sb);
      ok = PlatMaskBlt(dc_, x + part.left, y + part.top, src.w, src.h, mem, 0, 0, mb, 0, 0, (fn0 << 24) | (fn1 << 16));
      PlatDeleteDc(mem);
      PlatDeleteObject(sb);
      PlatDeleteObject(mb);
      return ok;
    }
    // The snapshot stands where the inside part of the source rectangle
    // stood: destination pixels whose source lies outside stay untouched.
    PlatObj sb = BitmapOf(r.src);
    PlatSelectObject(mem, sb);
    ok = PlatStretchBlt(dc_, x, y, w, h, mem, -r.src.ox, -r.src.oy, r.src.FullW(), r.src.FullH(), fn0 << 16);
    PlatDeleteDc(mem);
    PlatDeleteObject(sb);
    return ok;
  }
};

}  // namespace

PlatObj PlatCreateMetafileDc(const char* /*fileName*/, const char* description) {
  auto* t = new RecordTarget;
  PlatObj dc = PlatCreateOwnedTargetDc(t);
  if (!dc) {
    delete t;
    return 0;
  }
  t->recorder.dc = dc;
  t->recorder.list.description = description ? description : "";
  PlatSetTraceSink(dc, &t->recorder);
  return dc;
}

bool PlatIsMetafileDc(PlatObj dc) { return dynamic_cast<RecordTarget*>(PlatDcTarget(dc)) != nullptr; }

PlatMetafile PlatCloseMetafileDc(PlatObj dc) {
  RecordTarget* t = RecordingOf(dc);
  if (!t) return 0;
  List list = std::move(t->recorder.list);
  list.frame = list.bounds;
  PlatSetTraceSink(dc, nullptr);
  PlatDeleteDc(dc);
  return Adopt(std::move(list));
}

bool PlatPlayMetafile(PlatObj dc, PlatMetafile mf, const PlatRect& rect) {
  auto list = Lookup(mf);
  if (!list) return false;
  if (PlatObjectKind(dc) != kPlatObjDc) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  const PlatRect& f = list->frame;
  int64_t fw = int64_t(f.right) - f.left + 1, fh = int64_t(f.bottom) - f.top + 1;
  if (fw <= 0 || fh <= 0) return true;  // an empty picture
  Mapping m{double(rect.left), double(rect.top), double(f.left), double(f.top),
            (double(rect.right) - rect.left) / double(fw), (double(rect.bottom) - rect.top) / double(fh)};
  Player p(dc, *list, m);
  p.Run();
  return true;
}

PlatMetafile PlatCopyMetafile(PlatMetafile mf) {
  auto list = Lookup(mf);
  if (!list) return 0;
  List copy = *list;  // every record holds its data by value
  return Adopt(std::move(copy));
}

bool PlatDeleteMetafile(PlatMetafile mf) {
  Table& t = TheTable();
  std::shared_ptr<List> gone;
  std::lock_guard<std::mutex> g(t.lock);
  uint32_t i = mf & 0xFFFF;
  if (i == 0 || i > t.slots.size() || !t.slots[i - 1] || t.gens[i - 1] != (mf >> 16)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  gone = std::move(t.slots[i - 1]);
  return true;
}

bool PlatIsMetafile(PlatMetafile mf) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> g(t.lock);
  uint32_t i = mf & 0xFFFF;
  return i != 0 && i <= t.slots.size() && t.slots[i - 1] && t.gens[i - 1] == (mf >> 16);
}

bool PlatGetMetafileHeader(PlatMetafile mf, PlatMetaHeader* header) {
  auto list = Lookup(mf);
  if (!list || !header) return false;
  *header = PlatMetaHeader{list->bounds, list->frame, int32_t(list->recs.size()),
                           int32_t(list->palette.size())};
  return true;
}

std::string PlatMetafileDescription(PlatMetafile mf) {
  auto list = Lookup(mf);
  return list ? list->description : std::string();
}

int32_t PlatGetMetafilePalette(PlatMetafile mf, uint32_t* colours, int32_t max) {
  auto list = Lookup(mf);
  if (!list) return -1;
  int32_t n = int32_t(list->palette.size());
  for (int32_t i = 0; colours && i < std::min(n, max); ++i) colours[i] = list->palette[size_t(i)];
  return n;
}
