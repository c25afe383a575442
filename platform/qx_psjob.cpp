#include "platform/qx_psjob.h"

#include <cstdio>
#include <map>
#include <tuple>

namespace {

std::string Num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

uint32_t* Row(PlatSurface* s, int32_t y) {
  return reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y) * PlatSurfaceStride(s));
}

struct Box {
  int32_t x1, x2, y1, y2;
  uint32_t colour;
};

void Emit(const Box& b, uint32_t* lastColour, std::string* out) {
  char line[96];
  if (b.colour != *lastColour) {
    std::snprintf(line, sizeof line, "%.4f %.4f %.4f setrgbcolor\n", ((b.colour >> 16) & 0xFF) / 255.0,
                  ((b.colour >> 8) & 0xFF) / 255.0, (b.colour & 0xFF) / 255.0);
    *out += line;
    *lastColour = b.colour;
  }
  // Inset by a quarter device pixel on every side: the edges fall inside
  // the run's own pixels, so a renderer that paints every pixel a shape
  // touches paints exactly the run at any resolution.
  std::snprintf(line, sizeof line, "%d.25 %d.25 %d.5 %d.5 rectfill\n", b.x1, b.y1, b.x2 - b.x1 - 1,
                b.y2 - b.y1 - 1);
  *out += line;
}

}  // namespace

std::string PlatPsPieceOpen(const PlatPsGeometry& g) {
  double s = 72.0 / g.dpi;
  return "gsave [" + Num(s) + " 0 0 " + Num(-s) + " " + Num(g.offsetX * s) + " " +
         Num(g.paperH - g.offsetY * s) + "] concat\n";
}

void PlatPsClearPage(PlatSurface* page) {
  if (!PlatSurfaceBits(page) || PlatSurfaceFormatOf(page) != kPlatRgb32) return;
  for (int32_t y = 0; y < PlatSurfaceHeight(page); ++y) {
    uint32_t* r = Row(page, y);
    for (int32_t x = 0; x < PlatSurfaceWidth(page); ++x) r[x] = 0x00FFFFFFu;
  }
}

bool PlatPsRasterPiece(PlatSurface* page, const PlatPsGeometry& g, bool mono, std::string* out) {
  if (!PlatSurfaceBits(page) || PlatSurfaceFormatOf(page) != kPlatRgb32) return false;
  const int32_t w = PlatSurfaceWidth(page), h = PlatSurfaceHeight(page);
  // Rectangles still growing, keyed by the run they end in on the last row.
  typedef std::tuple<int32_t, int32_t, uint32_t> Run;
  std::map<Run, Box> open, next;
  std::string body;
  uint32_t lastColour = 0xFFFFFFFFu;
  for (int32_t y = 0; y <= h; ++y) {
    next.clear();
    if (y < h) {
      uint32_t* r = Row(page, y);
      for (int32_t x = 0; x < w;) {
        if ((r[x] >> 24) == 0) {
          ++x;
          continue;
        }
        uint32_t c = r[x] & 0xFFFFFF;
        if (mono) c = ((c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF)) >= 3 * 128 ? 0xFFFFFF : 0;
        int32_t x1 = x;
        // Mono pages compare the mapped colour, so runs join across shades.
        auto colourAt = [&](int32_t i) {
          uint32_t v = r[i] & 0xFFFFFF;
          if (mono) v = ((v >> 16 & 0xFF) + (v >> 8 & 0xFF) + (v & 0xFF)) >= 3 * 128 ? 0xFFFFFF : 0;
          return v;
        };
        while (x < w && (r[x] >> 24) != 0 && colourAt(x) == c) r[x++] &= 0xFFFFFF;
        Run run(x1, x, c);
        auto it = open.find(run);
        if (it != open.end()) {
          Box b = it->second;
          b.y2 = y + 1;
          next.emplace(run, b);
          open.erase(it);
        } else {
          next.emplace(run, Box{x1, x, y, y + 1, c});
        }
      }
    }
    for (const auto& kv : open) Emit(kv.second, &lastColour, &body);
    open.swap(next);
  }
  if (body.empty()) return false;
  *out += PlatPsPieceOpen(g) + body + "grestore\n";
  return true;
}

std::string PlatPsImagePage(const PlatSurface* page, const PlatPsGeometry& g) {
  const int32_t w = PlatSurfaceWidth(page), h = PlatSurfaceHeight(page);
  std::string out = PlatPsPieceOpen(g);
  char line[128];
  std::snprintf(line, sizeof line,
                "%d %d 8 [1 0 0 1 0 0] currentfile /ASCIIHexDecode filter false 3 colorimage\n", w, h);
  out += line;
  static const char hex[] = "0123456789ABCDEF";
  out.reserve(out.size() + size_t(w) * h * 6 + h * 2 + 64);
  const uint8_t* bits = PlatSurfaceBits(page);
  for (int32_t y = 0; y < h; ++y) {
    const auto* r = reinterpret_cast<const uint32_t*>(bits + size_t(y) * PlatSurfaceStride(page));
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v = r[x];
      for (int shift = 16; shift >= 0; shift -= 8) {
        out += hex[(v >> (shift + 4)) & 0xF];
        out += hex[(v >> shift) & 0xF];
      }
    }
    out += '\n';
  }
  out += ">\ngrestore\n";
  return out;
}

std::string PlatPsDocument(const std::string& title, const PlatPsGeometry& g,
                           const std::vector<std::string>& pages) {
  std::string t;
  for (char c : title) t += (c == '\r' || c == '\n' || uint8_t(c) < 32) ? ' ' : c;
  std::string out = "%!PS-Adobe-3.0\n%%Title: " + t + "\n%%Pages: " + std::to_string(pages.size()) +
                    "\n%%BoundingBox: 0 0 " + std::to_string(g.paperW) + " " + std::to_string(g.paperH) +
                    "\n%%EndComments\n<< /PageSize [" + std::to_string(g.paperW) + " " +
                    std::to_string(g.paperH) + "] >> setpagedevice\n";
  for (size_t k = 0; k < pages.size(); ++k) {
    std::string n = std::to_string(k + 1);
    out += "%%Page: " + n + " " + n + "\ngsave\n" + pages[k] + "grestore showpage\n";
  }
  out += "%%EOF\n";
  return out;
}
