#include "platform/qx_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/qx_blit.h"
#include "platform/qx_draw.h"
#include "platform/qx_shapes.h"
#include "platform/qx_region.h"

namespace {

bool Number(const std::string& word, int32_t* v) {
  char* end = nullptr;
  long long n = std::strtoll(word.c_str(), &end, 0);
  if (word.empty() || *end || n < INT32_MIN || n > UINT32_MAX) return false;
  *v = int32_t(uint32_t(n));
  return true;
}

// "a,b[,c,d]" into count numbers.
bool Numbers(const std::string& word, int32_t* v, int count) {
  std::stringstream in(word);
  std::string part;
  int k = 0;
  while (std::getline(in, part, ',')) {
    if (k == count || !Number(part, &v[k])) return false;
    ++k;
  }
  return k == count;
}

// A brush from "solid 0x..", "null" or "pattern HEX", read from words[at].
PlatObj Brush(const std::vector<std::string>& w, size_t* at) {
  if (*at >= w.size()) return 0;
  const std::string& kind = w[(*at)++];
  if (kind == "null") return PlatGetStockObject(kPlatStockNullBrush);
  if (*at >= w.size()) return 0;
  const std::string& arg = w[(*at)++];
  if (kind == "solid") {
    int32_t c;
    return Number(arg, &c) ? PlatCreateSolidBrush(uint32_t(c)) : 0;
  }
  if (kind != "pattern" || arg.size() != 16) return 0;
  uint8_t bits[16] = {};
  for (int i = 0; i < 8; ++i) {
    char byte[3] = {arg[2 * size_t(i)], arg[2 * size_t(i) + 1], 0};
    char* end = nullptr;
    bits[2 * i] = uint8_t(std::strtoul(byte, &end, 16));
    if (*end) return 0;
  }
  PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
  PlatObj b = PlatCreatePatternBrush(bm);
  PlatDeleteObject(bm);
  return b;
}

// The rectangles of words[at..] as a region.
PlatObj RectsRegion(const std::vector<std::string>& w, size_t at) {
  PlatObj rgn = PlatCreateRectRgn(0, 0, 0, 0);
  PlatObj one = PlatCreateRectRgn(0, 0, 0, 0);
  for (; at < w.size(); ++at) {
    int32_t r[4];
    if (!Numbers(w[at], r, 4)) {
      PlatDeleteObject(rgn);
      rgn = 0;
      break;
    }
    PlatSetRectRgn(one, r[0], r[1], r[2], r[3]);
    PlatCombineRgn(rgn, rgn, one, kPlatRgnOr);
  }
  PlatDeleteObject(one);
  return rgn;
}

bool Points(const std::vector<std::string>& w, std::vector<PlatPoint>* pts) {
  int32_t n;
  if (w.size() < 2 || !Number(w[1], &n) || n < 0 || size_t(n) != w.size() - 2) return false;
  for (size_t i = 2; i < w.size(); ++i) {
    int32_t p[2];
    if (!Numbers(w[i], p, 2)) return false;
    pts->push_back({p[0], p[1]});
  }
  return true;
}

bool Play(PlatObj dc, const std::string& line) {
  std::vector<std::string> w;
  std::stringstream in(line);
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty()) return false;
  const std::string& op = w[0];
  int32_t v[4];
  if (op == "font" || op == "bitmap" || op == "palette" || op == "realizepalette") return true;
  if (op == "flush") return PlatFlush(dc);
  if (op == "pen" && w.size() == 4 && Number(w[1], &v[0]) && Number(w[2], &v[1]) && Number(w[3], &v[2])) {
    PlatObj pen = PlatCreatePen(v[0], v[1], uint32_t(v[2]));
    PlatObj old = PlatSelectObject(dc, pen);
    PlatObjInfo info;
    if (old && PlatDescribeObject(old, &info) && !info.stock) PlatDeleteObject(old);
    return pen != 0 && old != 0;
  }
  if (op == "brush") {
    size_t at = 1;
    PlatObj b = Brush(w, &at);
    if (!b || at != w.size()) return false;
    PlatObj old = PlatSelectObject(dc, b);
    PlatObjInfo info;
    if (old && PlatDescribeObject(old, &info) && !info.stock) PlatDeleteObject(old);
    return old != 0;
  }
  if (w.size() == 2 && Number(w[1], &v[0])) {
    if (op == "rop2") return PlatSetRop2(dc, v[0]) != 0;
    if (op == "fillmode") return PlatSetPolyFillMode(dc, v[0]) != 0;
    if (op == "bkmode") return PlatSetBkMode(dc, v[0]) != 0;
    if (op == "textcolor") return PlatSetTextColor(dc, uint32_t(v[0])) != kPlatInvalidColour;
    if (op == "bkcolor") return PlatSetBkColor(dc, uint32_t(v[0])) != kPlatInvalidColour;
    if (op == "stretchmode") return PlatSetStretchBltMode(dc, v[0]) != 0;
  }
  if ((op == "ellipse" || op == "roundrect" || op == "arc" || op == "pie") && w.size() >= 2 && Numbers(w[1], v, 4)) {
    int32_t a[2], b[2];
    if (op == "ellipse") return w.size() == 2 && PlatEllipse(dc, v[0], v[1], v[2], v[3]);
    if (op == "roundrect")
      return w.size() == 3 && Numbers(w[2], a, 2) && PlatRoundRect(dc, v[0], v[1], v[2], v[3], a[0], a[1]);
    if (w.size() != 4 || !Numbers(w[2], a, 2) || !Numbers(w[3], b, 2)) return false;
    return (op == "arc" ? PlatArc : PlatPie)(dc, v[0], v[1], v[2], v[3], a[0], a[1], b[0], b[1]);
  }
  if (op == "brushorg" && w.size() == 2 && Numbers(w[1], v, 2))
    return PlatSetBrushOrg(dc, v[0], v[1], nullptr, nullptr);
  if (op == "clip") {
    if (w.size() == 2 && w[1] == "none") return PlatSelectClipRgn(dc, 0) != kPlatRgnError;
    PlatObj rgn = RectsRegion(w, 1);
    bool ok = rgn && PlatSelectClipRgn(dc, rgn) != kPlatRgnError;
    PlatDeleteObject(rgn);
    return ok;
  }
  if (op == "offsetclip" && w.size() == 2 && Numbers(w[1], v, 2))
    return PlatOffsetClipRgn(dc, v[0], v[1]) != kPlatRgnError;
  if (op == "patfill" && w.size() == 3 && Numbers(w[1], v, 4)) {
    int32_t code;
    return Number(w[2], &code) && PlatPatBlt(dc, v[0], v[1], v[2], v[3], uint32_t(code));
  }
  if (op == "invert" && w.size() == 2 && Numbers(w[1], v, 4))
    return PlatInvertRect(dc, {v[0], v[1], v[2], v[3]});
  if (op == "moveto" && w.size() == 2 && Numbers(w[1], v, 2)) return PlatMoveTo(dc, v[0], v[1], nullptr);
  if (op == "lineto" && w.size() == 2 && Numbers(w[1], v, 2)) return PlatLineTo(dc, v[0], v[1]);
  if (op == "polyline" || op == "polygon") {
    std::vector<PlatPoint> pts;
    if (!Points(w, &pts)) return false;
    return op == "polyline" ? PlatPolyline(dc, pts.data(), int32_t(pts.size()))
                            : PlatPolygon(dc, pts.data(), int32_t(pts.size()));
  }
  if (op == "charextra" && w.size() == 2 && Number(w[1], &v[0])) {
    PlatSetTextCharacterExtra(dc, v[0]);
    return true;
  }
  if (op == "text" && w.size() == 5 && Numbers(w[1], v, 2) && (w[4] == "-" || w[4].size() % 2 == 0)) {
    int32_t options, r[4] = {};
    if (!Number(w[2], &options) || (w[3] != "-" && !Numbers(w[3], r, 4))) return false;
    std::string bytes;
    for (size_t i = 0; w[4] != "-" && i < w[4].size(); i += 2) {
      int32_t b;
      if (!Number("0x" + w[4].substr(i, 2), &b)) return false;
      bytes += char(b);
    }
    PlatRect rect = {r[0], r[1], r[2], r[3]};
    return PlatTextOut(dc, v[0], v[1], uint32_t(options), w[3] == "-" ? nullptr : &rect, bytes.data(),
                       int32_t(bytes.size()));
  }
  if (op == "fillrgn" || op == "framergn") {
    size_t at = 1;
    if (op == "framergn" && (w.size() < 2 || !Numbers(w[at++], v, 2))) return false;
    PlatObj b = Brush(w, &at);
    if (!b) return false;
    PlatObj rgn = RectsRegion(w, at);
    bool ok = rgn && (op == "fillrgn" ? PlatFillRgn(dc, rgn, b) : PlatFrameRgn(dc, rgn, b, v[0], v[1]));
    PlatDeleteObject(rgn);
    PlatDeleteObject(b);
    return ok;
  }
  return false;
}

}  // namespace

int32_t PlatReplayTrace(PlatObj dc, const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (!Play(dc, lines[i])) return int32_t(i);
  return -1;
}
