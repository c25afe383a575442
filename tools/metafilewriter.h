// A writer of metafile bytes for tests and fuzz seeds: one picture of
// rectangles, polylines, text and stretched 8-bit DIBs, written as an
// enhanced metafile or a plain (optionally placeable) one, and drawn
// directly on a context for comparison.
//
// The picture's frame is (0, 0)-(width - 1, height - 1).  The enhanced form
// uses a reference device of 1280 x 1024 pixels on 320 x 256 mm, so one
// pixel is 25 units of 0.01 mm; the plain form sets the window to the frame.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_drawobj.h"

namespace mfw {

enum class Kind { kRect, kPolyline, kText, kDib };

struct Shape {
  Kind kind = Kind::kRect;
  std::vector<int32_t> v;    // rect: l, t, r, b; polyline: x, y pairs; text: x, y; DIB: x, y, w, h
  uint32_t pen = 0;          // 0x00BBGGRR: outline, polyline or text colour
  int32_t penWidth = 1;
  uint32_t brush = 0xFFFFFF; // rectangle inside
  std::string text;          // text bytes; font height -fontHeight
  int32_t fontHeight = 14;
  bool wide = false;         // 32-bit points; text as wide characters
  bool baseline = false;     // text: (x, y) is on the baseline
  // DIB: 8-bit pixels (rows top first), its size and colour table; with a
  // depth of 1 the pixels are 0 or 1 and the table holds two colours.
  int32_t dibW = 0, dibH = 0, dibDepth = 8;
  std::vector<uint8_t> pixels;
  std::vector<uint32_t> colours;  // 0x00RRGGBB
};

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<Shape> shapes;
  // When set (right > left), every shape is clipped to clip less exclude.
  PlatRect clip{0, 0, 0, 0}, exclude{0, 0, 0, 0};
};

// The face every text shape is written with.
constexpr const char* kFace = "DejaVu Sans";

std::vector<uint8_t> WriteEmf(const Picture& p);
std::vector<uint8_t> WriteWmf(const Picture& p, bool placeable = false);
// The picture drawn straight on the context, the frame at (0, 0).
void DrawDirect(PlatObj dc, const Picture& p);
// A picture of each kind of shape, for tests and seeds.
Picture Sample();

}  // namespace mfw
