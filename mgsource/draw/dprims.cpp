// The host port's drawing primitives, the point markers, the point buffer
// and the tangent table of arcs.
//
// While a picture is recorded a primitive draws nothing: it hands its
// opcode and arguments to the picture recorder.
#include "mgsource/draw/dprims.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/draw/picture.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_shapes.h"

namespace {

double gTangent[46];
UHandle gPointBuf = nullptr;
int32 gPointCap = 0;

int32 X(int32 h) { return h - gDrawState.originH; }
int32 Y(int32 v) { return v - gDrawState.originV; }

void SetPenLocation(int32 h, int32 v) {
  gDrawState.penH = int16(h);
  gDrawState.penV = int16(v);
}

// A rectangle in device coordinates.
struct Box {
  int32 l, t, r, b;
};
Box DeviceBox(const Rect& r) { return Box{X(r.left), Y(r.top), X(r.right), Y(r.bottom)}; }
bool EmptyBox(const Box& b) { return b.r <= b.l || b.b <= b.t; }
Box Inset(Box b, int32 d) { return Box{b.l + d, b.t + d, b.r - d, b.b - d}; }

// The device context to draw a shape into: 0 while recording, without a
// context, or while the pen is invisible.
PlatObj ShapeDc() {
  if (gDrawState.recording || gDrawState.invisiblePen) return 0;
  return gDrawState.dc;
}

// A host line from (x, y) to one pixel right of it: the pixel itself.
void Pixel(PlatObj dc, int32 x, int32 y) {
  const PlatPoint to{x + 1, y};
  PlatMoveLineTo(dc, x, y, &to, 1);
}

// The points as host points in the point buffer: n + 1 of them, or false
// (nothing is to be drawn) when the buffer cannot hold them.
MgErr SizePointBuf(int64_t points);
PlatPoint* HostPoints(const Point* points, int32 n) {
  if (SizePointBuf(int64_t(n) + 1) != kNoErr) return nullptr;
  PlatPoint* p = reinterpret_cast<PlatPoint*>(*gPointBuf);
  for (int32 i = 0; i <= n; ++i) p[i] = PlatPoint{X(points[i].h), Y(points[i].v)};
  return p;
}

void ShowAllocationFailure() {
  static const char kText[] = "WPoint memory allocation failed";
  uChar text[sizeof kText];
  text[0] = uChar(sizeof kText - 1);
  std::memcpy(text + 1, kText, sizeof kText - 1);
  WAlert(text, 0);
}

MgErr SizePointBuf(int64_t points) {
  if (points == gPointCap && (points == 0 || gPointBuf)) return kNoErr;
  if (points < 0) return kArgErr;
  if (points == 0) {
    if (gPointBuf) AZDisposeHandle(gPointBuf);
    gPointBuf = nullptr;
    gPointCap = 0;
    return kNoErr;
  }
  const int64_t bytes = points * int64_t(sizeof(PlatPoint));
  MgErr err = kNoErr;
  if (bytes > INT32_MAX) {
    err = kMemFullErr;  // no handle holds that many
  } else if (!gPointBuf) {
    gPointBuf = AZNewHandle(int32(bytes));
    if (!gPointBuf) err = kMemFullErr;
  } else {
    err = AZSetHandleSize(gPointBuf, int32(bytes));
  }
  if (err != kNoErr) {
    ShowAllocationFailure();
    return err;
  }
  gPointCap = int32(points);
  return kNoErr;
}

// A line of the pen from (x0, y0) to (x1, y1), device coordinates, covering
// both ends.
void LineCovering(PlatObj dc, int32 x0, int32 y0, int32 x1, int32 y1) {
  PlatPoint to[2] = {{x1, y1}, {x1 + 1, y1}};
  int32 n = 1;
  if (x0 == x1) to[0].y = y1 >= y0 ? y1 + 1 : y1 - 1;
  else if (y0 == y1) to[0].x = x1 > x0 ? x1 + 1 : x1 - 1;
  else n = 2;
  PlatMoveLineTo(dc, x0, y0, to, n);
}

// Ovals and round rectangles: frames are drawn inside their rectangle.
Box FrameBox(const Rect& r, int32 width) {
  Box b = DeviceBox(r);
  if (width != 1) {
    b = Inset(b, width / 2);
    ++b.r;
    ++b.b;
  }
  return b;
}

int32 ReportNoRect(int32 line) { return DBAssert(__FILE__, line, "drawing with a null rectangle"); }

// Recording: one record of a point, a rectangle (with two words), and 0.
int32 RecordPoint(int32 opcode, int32 h, int32 v, int32 a = 0) {
  PictOpArgs args;
  args.h = h;
  args.v = v;
  args.a = a;
  DRecordPictOp(opcode, &args);
  return 0;
}
int32 RecordRect(int32 opcode, const Rect* r, int32 a = 0, int32 b = 0, DColor colour = 0) {
  if (!r) return ReportNoRect(__LINE__);
  PictOpArgs args;
  args.rect = *r;
  args.a = a;
  args.b = b;
  args.colours[0] = colour;
  DRecordPictOp(opcode, &args);
  return 0;
}
int32 RecordPoints(int32 opcode, const Point* points, int32 n, int32 flag) {
  if (n < 1) return 0;
  if (!points) return ReportNoRect(__LINE__);
  PictOpArgs args;
  args.points = points;
  args.n = n;
  args.a = flag;
  DRecordPictOp(opcode, &args);
  return 0;
}

}  // namespace

int32 HostSetPixel(int32 h, int32 v) {
  if (gDrawState.recording) return RecordPoint(kPictOpSetPixel, h, v);
  SetPenLocation(h, v);
  const PlatObj dc = gDrawState.dc;
  if (!dc) return 0;
  if (!gDrawState.invisiblePen) Pixel(dc, X(h), Y(v));
  PlatMoveTo(dc, X(h), Y(v), nullptr);
  return 0;
}

int32 HostMove(int32 dh, int32 dv) {
  if (gDrawState.recording) return RecordPoint(kPictOpMove, dh, dv);
  SetPenLocation(gDrawState.penH + dh, gDrawState.penV + dv);
  return 0;
}

int32 HostMoveTo(int32 h, int32 v) {
  if (gDrawState.recording) return RecordPoint(kPictOpMoveTo, h, v);
  SetPenLocation(h, v);
  if (gDrawState.dc) PlatMoveTo(gDrawState.dc, X(h), Y(v), nullptr);
  return 0;
}

int32 HostLineTo(int32 h, int32 v) {
  if (gDrawState.recording) return RecordPoint(kPictOpLineTo, h, v);
  const int32 x0 = X(gDrawState.penH), y0 = Y(gDrawState.penV), x1 = X(h), y1 = Y(v);
  SetPenLocation(h, v);
  const PlatObj dc = gDrawState.dc;
  if (!dc) return 0;
  if (gDrawState.invisiblePen) PlatMoveTo(dc, x1, y1, nullptr);
  else LineCovering(dc, x0, y0, x1, y1);
  return 0;
}

int32 HostLine(int32 dh, int32 dv) {
  if (gDrawState.recording) return RecordPoint(kPictOpLine, dh, dv);
  return HostLineTo(gDrawState.penH + dh, gDrawState.penV + dv);
}

int32 HostMHLineTo(int32 h, int32 v, Bool32 verticalFirst) {
  if (gDrawState.recording) return RecordPoint(kPictOpMHLineTo, h, v, verticalFirst ? 1 : 0);
  const int32 x0 = X(gDrawState.penH), y0 = Y(gDrawState.penV), x1 = X(h), y1 = Y(v);
  SetPenLocation(h, v);
  const PlatObj dc = gDrawState.dc;
  if (!dc) return 0;
  if (gDrawState.invisiblePen) {
    PlatMoveTo(dc, x1, y1, nullptr);
    return 0;
  }
  const DPenUse pen = DCurrentPenUse();
  const int32 dx = x1 - x0, dy = y1 - y0;
  if ((pen.patterned || !pen.exact) && pen.style == 0) {
    // Filled strips keep a pattern aligned and an inexact colour dithered
    // as fills are.
    const uInt32 op = DModeFillOp(pen.mode);
    const int32 w = pen.width < 1 ? 1 : pen.width;
    const int32 legX = verticalFirst ? x0 : x1, legY = verticalFirst ? y1 : y0;
    if (dy) PlatPatBlt(dc, legX, dy < 0 ? y1 : y0, w, (dy < 0 ? -dy : dy) + 1, op);
    if (dx) PlatPatBlt(dc, dx < 0 ? x1 : x0, legY, (dx < 0 ? -dx : dx) + 1, w, op);
    PlatMoveTo(dc, x1, y1, nullptr);
    return 0;
  }
  const int32 grow = pen.width <= 1 ? 1 : 0;
  const PlatPoint to[2] = {verticalFirst ? PlatPoint{x0, y1} : PlatPoint{x1, y0},
                           verticalFirst ? PlatPoint{x1 + (dx < 0 ? -grow : grow), y1}
                                         : PlatPoint{x1, y1 + (dy < 0 ? -grow : grow)}};
  PlatMoveLineTo(dc, x0, y0, to, 2);
  return 0;
}

int32 HostMHLine(int32 dh, int32 dv, Bool32 verticalFirst) {
  return HostMHLineTo(gDrawState.penH + dh, gDrawState.penV + dv, verticalFirst);
}

int32 HostPolyLine(const Point* points, int32 n) {
  if (gDrawState.recording) return RecordPoints(kPictOpPolyLine, points, n, 0);
  if (n < 1) return 0;
  if (!points) return ReportNoRect(__LINE__);
  const PlatObj dc = gDrawState.dc;
  if (gDrawState.invisiblePen || !dc) return HostMoveTo(points[n].h, points[n].v);
  PlatPoint* p = HostPoints(points, n);
  if (!p) return 0;
  const PlatPoint last = p[n];
  PlatPolyline(dc, p, n + 1);
  Pixel(dc, last.x, last.y);
  return HostMoveTo(points[n].h, points[n].v);
}

int32 HostPaintPoly(const Point* points, int32 n, int32 flag) {
  if (gDrawState.recording) return RecordPoints(kPictOpPaintPoly, points, n, flag);
  if (n < 1) return 0;
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!points) return ReportNoRect(__LINE__);
  if (PlatPoint* p = HostPoints(points, n)) PlatPolygon(dc, p, n + 1);
  return 0;
}

int32 HostFrameRect(const Rect* r) {
  if (gDrawState.recording) return RecordRect(kPictOpFrameRect, r);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = DeviceBox(*r);
  if (EmptyBox(b)) return 0;
  const DPenUse pen = DCurrentPenUse();
  const uInt32 op = DModeFillOp(pen.mode);
  const int32 w = pen.width < 1 ? 1 : pen.width, width = b.r - b.l, height = b.b - b.t;
  if (2 * int64_t(w) >= width || 2 * int64_t(w) >= height) {
    // Sides that meet or cross fill the rectangle, each pixel once.
    PlatPatBlt(dc, b.l, b.t, width, height, op);
    return 0;
  }
  // Four strips that do not overlap: each pixel is touched once.
  PlatPatBlt(dc, b.l, b.t, width - w, w, op);
  PlatPatBlt(dc, b.r - w, b.t, w, height - w, op);
  PlatPatBlt(dc, b.l + w, b.b - w, width - w, w, op);
  PlatPatBlt(dc, b.l, b.t + w, w, height - w, op);
  return 0;
}

int32 HostPaintRect(const Rect* r) {
  if (gDrawState.recording) return RecordRect(kPictOpPaintRect, r);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  if (r->left > r->right || r->top > r->bottom) return DBAssert(__FILE__, __LINE__, "DPaintRect: bad rectangle");
  const DPenUse pen = DCurrentPenUse();
  const Box b = Inset(DeviceBox(*r), pen.width / 2);
  if (EmptyBox(b)) return 0;
  PlatPatBlt(dc, b.l, b.t, b.r - b.l, b.b - b.t, DModeFillOp(pen.mode));
  return 0;
}

int32 HostFrameOval(const Rect* r) {
  if (gDrawState.recording) return RecordRect(kPictOpFrameOval, r);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = FrameBox(*r, DCurrentPenUse().width);
  const PlatObj brush = PlatSelectObject(dc, DNullBrush());
  PlatEllipse(dc, b.l, b.t, b.r, b.b);
  if (brush) PlatSelectObject(dc, brush);
  return 0;
}

int32 HostPaintOval(const Rect* r) {
  if (gDrawState.recording) return RecordRect(kPictOpPaintOval, r);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = FrameBox(*r, DCurrentPenUse().width);
  PlatEllipse(dc, b.l, b.t, b.r, b.b);
  return 0;
}

int32 HostFrameRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight) {
  if (gDrawState.recording) return RecordRect(kPictOpFrameRoundRect, r, ovalWidth, ovalHeight);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = FrameBox(*r, DCurrentPenUse().width);
  const PlatObj brush = PlatSelectObject(dc, DNullBrush());
  PlatRoundRect(dc, b.l, b.t, b.r, b.b, ovalWidth, ovalHeight);
  if (brush) PlatSelectObject(dc, brush);
  return 0;
}

int32 HostPaintRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight) {
  if (gDrawState.recording) return RecordRect(kPictOpPaintRoundRect, r, ovalWidth, ovalHeight);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = Inset(DeviceBox(*r), DCurrentPenUse().width / 2);
  PlatRoundRect(dc, b.l, b.t, b.r, b.b, ovalWidth, ovalHeight);
  return 0;
}

void DArcPoint(int32 l, int32 t, int32 r, int32 b, int32 angle, int32* h, int32* v) {
  const int32 ch = (l + r) / 2, cv = (t + b) / 2, hw = (r - l) / 2, hh = (b - t) / 2;
  const int32 a = ((angle % 360) + 360) % 360;
  auto at = [](double value) { return int32(value); };  // truncation
  if (a <= 45) *h = at(ch + hh * gTangent[a] - 1), *v = t;
  else if (a <= 90) *h = r, *v = at(cv - hw * gTangent[90 - a] - 1);
  else if (a <= 135) *h = r, *v = at(cv + hw * gTangent[a - 90] - 1);
  else if (a <= 180) *h = at(ch + hh * gTangent[180 - a] - 1), *v = b;
  else if (a <= 225) *h = at(ch - hh * gTangent[a - 180] - 1), *v = b;
  else if (a <= 270) *h = l, *v = at(cv + hw * gTangent[270 - a] - 1);
  else if (a <= 315) *h = l, *v = at(cv - hw * gTangent[a - 270] - 1);
  else *h = at(ch - hh * gTangent[360 - a] - 1), *v = t;
}

namespace {

// The host's start and end of an arc on the box (device coordinates): the
// host sweeps counter-clockwise, so a clockwise arc is handed over reversed.
void ArcEnds(const Box& b, int32 startAngle, int32 arcAngle, PlatPoint* s, PlatPoint* e) {
  const int64_t end = int64_t(startAngle) + arcAngle;
  DArcPoint(b.l, b.t, b.r, b.b, startAngle, &s->x, &s->y);
  DArcPoint(b.l, b.t, b.r, b.b, int32(end % 360), &e->x, &e->y);
  if (arcAngle > 0) std::swap(*s, *e);
}

}  // namespace

int32 HostFrameArc(const Rect* r, int32 startAngle, int32 arcAngle) {
  if (gDrawState.recording) return RecordRect(kPictOpFrameArc, r, startAngle, arcAngle);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const int32 w = DCurrentPenUse().width;
  Box b = DeviceBox(*r);
  if (w > 1) b = Inset(b, w / 2);
  PlatPoint s, e;
  ArcEnds(b, startAngle, arcAngle, &s, &e);
  PlatArc(dc, b.l, b.t, b.r, b.b, s.x, s.y, e.x, e.y);
  return 0;
}

int32 HostPaintArc(const Rect* r, int32 startAngle, int32 arcAngle) {
  if (gDrawState.recording) return RecordRect(kPictOpPaintArc, r, startAngle, arcAngle);
  if (!ShapeDc()) return 0;
  if (!r) return ReportNoRect(__LINE__);
  // A pie is painted with a one-pixel outline, inside the rectangle.
  const int32 pen = DCurrentPenNumber();
  const int32 width = DCurrentPenUse().width;
  Box b = DeviceBox(*r);
  PenState saved{}, narrow{};
  narrow.width = 1;
  bool narrowed = false;
  if (width != 1) {
    b = Inset(b, 1);
    narrowed = pen >= kGrayPen && DGetPenState(pen, kPenWidth, &saved) == kNoErr &&
               DSetPenState(pen, kPenWidth, &narrow) == kNoErr;
  }
  PlatPoint s, e;
  ArcEnds(b, startAngle, arcAngle, &s, &e);
  if (const PlatObj dc = gDrawState.dc) PlatPie(dc, b.l, b.t, b.r, b.b, s.x, s.y, e.x, e.y);
  if (narrowed) DSetPenState(pen, kPenWidth, &saved);
  return 0;
}

int32 HostGrayOutRect(const Rect* r, DColor colour) {
  if (gDrawState.recording) return RecordRect(kPictOpGrayOut, r, 0, 0, colour);
  const PlatObj dc = ShapeDc();
  if (!dc) return 0;
  if (!r) return ReportNoRect(__LINE__);
  const Box b = DeviceBox(*r);
  if (EmptyBox(b)) return 0;
  DPenRecord saved;
  DSaveCurPen(&saved);
  DSelectPen(kGrayPen, kWhiteColor, kBlackColor);
  // The pattern's 1 bits are first cleared, then take the colour.
  const uInt32 text = PlatSetTextColor(dc, kBlackColor), back = PlatSetBkColor(dc, kWhiteColor);
  PlatPatBlt(dc, b.l, b.t, b.r - b.l, b.b - b.t, kPlatPatMask);
  PlatSetTextColor(dc, DColorToGDIColor(colour));
  PlatSetBkColor(dc, kBlackColor);
  PlatPatBlt(dc, b.l, b.t, b.r - b.l, b.b - b.t, kPlatPatMerge);
  PlatSetTextColor(dc, text);
  PlatSetBkColor(dc, back);
  DRestoreCurPen(&saved);
  return 0;
}

namespace {

void Invert(const Rect* r) {
  if (!gDrawState.window) {
    DBAssert(__FILE__, __LINE__, "inverting without a target window");
    return;
  }
  const PlatObj dc = gDrawState.dc;
  if (!dc) return;
  if (!r) {
    ReportNoRect(__LINE__);
    return;
  }
  const Box b = DeviceBox(*r);
  if (EmptyBox(b)) return;
  const uInt32 text = PlatSetTextColor(dc, kWhiteColor), back = PlatSetBkColor(dc, kBlackColor);
  PlatInvertRect(dc, PlatRect{b.l, b.t, b.r, b.b});
  PlatSetTextColor(dc, text);
  PlatSetBkColor(dc, back);
}

}  // namespace

int32 HostHiliteRect(const Rect* r, DColor, DColor, DColor, DColor, int32) {
  if (gDrawState.recording) return 0;
  Invert(r);
  return 0;
}

void DInvertRect(const Rect* r, DColor, DColor, DColor, DColor) {
  if (gDrawState.recording) return;
  Invert(r);
}

void DDrawMarkers(const uChar* pattern, int32 n, const int16* hs, const int16* vs, const Rect* rect) {
  DBPrintf("onscreen pattern");
  if (!pattern || !rect) {
    DBAssert(__FILE__, __LINE__, "DDrawMarkers: null pattern or rectangle");
    return;
  }
  if (gDrawState.recording) {
    if (n < 0 || (n && (!hs || !vs))) {
      DBAssert(__FILE__, __LINE__, "DDrawMarkers: null points");
      return;
    }
    PictOpArgs args;
    args.bytes = pattern;
    args.n = n;
    args.hs = hs;
    args.vs = vs;
    args.rect = *rect;
    DRecordPictOp(kPictOpMarkers, &args);
    return;
  }
  if (n < 1) return;
  if (!hs || !vs) {
    DBAssert(__FILE__, __LINE__, "DDrawMarkers: null points");
    return;
  }
  const PlatObj dc = gDrawState.dc;
  if (dc && !gDrawState.invisiblePen) {
    for (int32 i = 0; i < n; ++i) {
      for (int32 column = 0; column < 5; ++column) {
        const uChar bits = pattern[column];
        for (int32 row = 0; row < 5; ++row)
          if (bits & (0x80 >> row)) Pixel(dc, X(hs[i] + column - 2), Y(vs[i] + row - 2));
      }
    }
  }
  HostMoveTo(hs[n - 1], vs[n - 1]);
}

MgErr DSetPointBuf(int32 n) { return SizePointBuf(n); }
int32 DPointBufCapacity() { return gPointCap; }

void DFillTangentTable() {
  for (int32 i = 0; i <= 45; ++i) gTangent[i] = std::tan(i * M_PI / 180.0);
}
