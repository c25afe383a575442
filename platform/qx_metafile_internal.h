// The display list behind a metafile, shared by the recorder and the
// importers of metafile bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_draw.h"
#include "platform/qx_font.h"
#include "platform/qx_metafile.h"

namespace qxmeta {

enum Op : uint8_t {
  // State: v holds the values.
  kPen,          // style, width, colour
  kBrush,        // kind, colour, 8 pattern rows
  kFont,         // font
  kRop2,
  kFillMode,
  kBkMode,
  kTextColour,
  kBkColour,
  kBrushOrg,     // x, y
  kCharExtra,
  kStretchMode,
  kClip,         // rectangles (l, t, r, b)...; none at all: an empty clip
  kClipNone,
  kOffsetClip,   // dx, dy
  kIntersectClip,  // l, t, r, b
  kExcludeClip,    // l, t, r, b
  kSave,
  kRestore,      // how many levels back (>= 1)
  // Drawing.
  kPatFill,      // x, y, w, h, rop3
  kInvert,       // l, t, r, b
  kMoveTo,       // x, y
  kLineTo,       // x, y
  kPolyline,     // x, y pairs
  kPolygon,      // x, y pairs
  kFillRgn,      // brush (10 values), rectangles
  kFrameRgn,     // brush (10 values), w, h, rectangles
  kText,         // x, y, options, l, t, r, b (options 4 only); bytes
  kEllipse,      // l, t, r, b
  kRoundRect,    // l, t, r, b, ew, eh
  kArc,          // l, t, r, b, sx, sy, ex, ey
  kPie,
  kBlit,         // x, y, w, h, fn0, fn1; src (empty: no source), mask
  kOpCount,
};

// Pixels of a snapshot, 0x00RRGGBB, rows top first.  A transfer's source
// rectangle may run past its surface: the snapshot then holds the part
// inside, at (ox, oy) of the fw x fh source rectangle, and destination
// pixels whose source lies outside it are left alone, as the direct call
// leaves them.
struct Pixels {
  int32_t w = 0, h = 0;
  int32_t ox = 0, oy = 0, fw = 0, fh = 0;  // fw, fh 0: the snapshot is the whole rectangle
  bool mono = false;
  std::vector<uint32_t> px;
  // In place of px, the pixels of a two-colour source, one bit each: rows
  // of (w + 7) / 8 bytes, top first, the high bit leftmost; a set bit is
  // colours[1].  A 1-bit bitmap is kept at its own size.
  std::vector<uint8_t> bits;
  uint32_t colours[2] = {0, 0};
  bool Empty() const { return w <= 0 || h <= 0; }
  int32_t FullW() const { return fw > 0 ? fw : w; }
  int32_t FullH() const { return fh > 0 ? fh : h; }
  size_t RowBits() const { return (size_t(w) + 7) / 8; }
  uint32_t At(size_t x, size_t y) const {
    if (bits.empty()) return px[y * size_t(w) + x];
    return colours[(bits[y * RowBits() + x / 8] >> (7 - x % 8)) & 1];
  }
  // Pixels for every place of a snapshot that lies within its rectangle.
  bool Valid() const {
    return w > 0 && h > 0 && int64_t(w) * h <= (int64_t(1) << 26) &&
           (bits.empty() ? px.size() == size_t(w) * size_t(h) : px.empty() && bits.size() == RowBits() * size_t(h)) &&
           ox >= 0 && oy >= 0 && fw >= 0 && fh >= 0 && int64_t(ox) + w <= FullW() && int64_t(oy) + h <= FullH();
  }
};

// The destination pixels [x0, x1) of a transfer onto n pixels from a
// source rectangle of full pixels whose pixels [at, at + size) are inside:
// those that read an inside source pixel (the index rules of qx_blit.h;
// reduce: a shrink in stretch mode 1 or 2).
void InsideRange(int64_t n, int64_t full, int64_t at, int64_t size, bool reduce, int64_t* x0, int64_t* x1);

struct Rec {
  Op op = kOpCount;
  std::vector<int32_t> v;
  std::string bytes;
  PlatFontDesc font{};
  Pixels src, mask;
};

struct List {
  std::vector<Rec> recs;
  PlatRect bounds{0, 0, -1, -1};
  PlatRect frame{0, 0, -1, -1};
  std::vector<uint32_t> palette;
  std::string description;
};

// The box (right and bottom included) grown to hold another one.
void Grow(PlatRect* box, int32_t l, int32_t t, int32_t r, int32_t b);

// The rows of polygon edges and pixels of wide strokes one metafile may
// spend on exact boxes of its records; past them a record's box is that of
// its points (which holds its pixels), so that a file's bounds cost time in
// proportion to its size, not to the areas it names.
constexpr int64_t kBoxWorkPerFile = int64_t(1) << 18;

// What the box of a drawing record depends on, kept up to date by Note,
// with the work left for exact boxes.
struct BoxState {
  int32_t penStyle = kPlatPenSolid, penWidth = 1;
  bool brushOn = true;
  int32_t stretchMode = 1, fillMode = 1;
  int32_t posX = 0, posY = 0;
  int64_t work = kBoxWorkPerFile;
  void Note(const Rec& rec);
};
// The box of the pixels a drawing record paints, whatever the clip, from
// the state before it and a text extent; false when it paints nothing.
bool RecordBox(const Rec& rec, BoxState& state, int32_t textW, int32_t textH, PlatRect* box);

// A handle for a list; 0 (kPlatErrNoMemory) when the table is full.
PlatMetafile Adopt(List&& list);

}  // namespace qxmeta
