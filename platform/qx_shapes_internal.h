// Wide strokes and pixel-set helpers shared by the line, curve and transfer
// calls of this folder.
#pragma once
#include <pixman.h>

#include <cstdint>
#include <vector>

#include "platform/qx_dc_internal.h"
#include "platform/qx_draw.h"

namespace qxdraw {

// Cosmetic dash lengths (pixels) of pen styles 0-4, starting with an "on"
// run; wide pens use them unscaled, so screen and printed strokes agree.
struct Dashes {
  int32_t n;
  int32_t len[6];
  int32_t period;
};
extern const Dashes kDashes[5];

// Strokes a polyline (closed: back to the first point) with the context's
// wide pen (width >= 2).  Solid pens: pixels whose centre is within w/2 of a
// segment joining the centre points (pixel centres for odd w, top-left
// corners for even w).  Styles 1-4: flat caps; a dash [a, b) along a segment
// covers the pixels whose centre projects into [a, b) at signed distance
// -w/2 <= d < w/2; the cosmetic dash lengths run on across the segments.
// Each pixel is painted once; gaps stay untouched.  Exact for coordinates
// within +-2^28; farther segments are first clipped near the clip box.
void WidePolyline(const Dc& dc, const PlatPoint* pts, int32_t n, bool closed);

// The box (right and bottom included) of the pixels WidePolyline paints
// with such a pen, whatever the clip; false when none.  With `work`, the
// pixels tested are counted against it: once it runs out, the box of the
// points grown by the pen (which holds the pixels) is answered instead.
bool WidePolylineBox(const PlatPoint* pts, int32_t n, bool closed, int32_t width, int32_t style, PlatRect* box,
                     int64_t* work = nullptr);

// The box of the pixels a figure paints (kind 0 ellipse, 1 round rectangle,
// 2 arc, 3 pie; arguments as the qx_shapes.h calls take them), whatever the
// clip; false when it paints none.
bool FigureBox(int32_t kind, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew, int32_t eh, int32_t sx,
               int32_t sy, int32_t ex, int32_t ey, int32_t penWidth, bool penOn, bool brushOn, PlatRect* box);

// The box of the pixels PlatPolygon's brush fills (the outline aside) in
// the fill mode; false when none.  With `work`, each row an edge crosses is
// counted against it: once it runs out, the box of the vertices (which
// holds the fill) is answered instead.
bool PolygonFillBox(const PlatPoint* pts, int32_t n, int32_t fillMode, PlatRect* box, int64_t* work = nullptr);

// Collects pixel boxes and makes one region of them.
struct BoxList {
  std::vector<pixman_box32_t> boxes;
  void Add(int64_t x0, int64_t y, int64_t x1) {
    if (x0 < x1) boxes.push_back({int32_t(x0), int32_t(y), int32_t(x1), int32_t(y + 1)});
  }
  // Replaces *r (initialised) by the union of the boxes.
  void Into(pixman_region32_t* r) const;
};

}  // namespace qxdraw
