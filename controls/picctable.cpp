// The table of the 375 built-in control pictures, their registration at
// start-up, and the default answers every picture procedure falls back on.
#include <algorithm>
#include <array>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "controls/pictproc.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "panel/osupport.h"

using namespace picc;

namespace {

using Table = std::array<PictureProcEntry, kPictureProcCount>;

// The table in picture-code order, built from its runs of entries.
Table BuildTable() {
  Table t{};
  int32 n = 0;
  auto add = [&](PictureProc proc, std::initializer_list<uInt32> styles, uInt32 plus = 0) {
    for (uInt32 style : styles)
      if (n < kPictureProcCount) t[size_t(n++)] = PictureProcEntry{proc, style + plus};
  };
  // The twelve words of the bevelled shapes, the nine of the push buttons,
  // and the twenty direction-and-look words of the triangles.
  const auto shapes = {0x4201u, 0x4101u, 0x4401u, 0x2201u, 0x1101u, 0x8401u,
                       0x4202u, 0x4102u, 0x4402u, 0x2202u, 0x1102u, 0x8402u};
  const auto push = {0x2100u, 0x2300u, 0x2200u, 0x1100u, 0x1300u, 0x1200u, 0x4100u, 0x4300u, 0x4200u};
  const auto w = {0x14200u, 0x24200u, 0x44200u, 0x84200u, 0x14100u, 0x24100u, 0x44100u,
                  0x84100u, 0x14400u, 0x24400u, 0x44400u, 0x84400u, 0x12200u, 0x22200u,
                  0x42200u, 0x82200u, 0x11100u, 0x21100u, 0x41100u, 0x81100u};
  const auto leds = {0x100u, 0x400u, 0x200u, 0x800u};
  const auto frames = {0x200u, 0x100u, 0x400u};
  const auto raised = {0x14200u, 0x24200u, 0x44200u, 0x84200u};
  const auto flat = {0x14400u, 0x24400u, 0x44400u, 0x84400u};
  add(RectPictProc, shapes);
  add(OvalPictProc, shapes);
  add(RectFramePictProc, frames);
  add(OvalFramePictProc, frames);
  add(WideRectFramePictProc, {0x400});
  add(WideOvalFramePictProc, {0x400});
  add(CheckBoxPictProc, {0x4400});
  add(RoundPushPictProc, push);
  add(SquarePushPictProc, push);
  add(SwitchPictProc, {0x10000, 0x20000, 0x40000, 0x80000});
  add(TogglePictProc, {0x10000, 0x20000, 0x40000, 0x80000, 0xC0000, 0x30000});
  add(SliderPictProc, {0x12000, 0x22000, 0x42000, 0x82000, 0x11000, 0x21000, 0x41000, 0x81000, 0x14000, 0x24000,
                       0x44000, 0x84000});
  add(RoundLEDPictProc, leds);
  add(SquareLEDPictProc, leds);
  add(LEDButtonPictProc,
      {0x2100, 0x2400, 0x1100, 0x1400, 0x4100, 0x4400, 0x2200, 0x2800, 0x1200, 0x1800, 0x4200, 0x4800});
  add(TrianglePictProc, w);
  add(RightTrianglePictProc, w);
  add(ArrowRectPictProc, w);
  add(RndRectPictProc, shapes);
  add(OblongPictProc, shapes, 0xC0000);
  add(OblongPictProc, shapes, 0x30000);
  add(HalfOvalPictProc, w);
  add(HalfOvalPictProc, {0x18400, 0x28400, 0x48400, 0x88400});
  add(RectPictProc, {0x34201, 0x34101, 0x34401, 0x32201, 0x31101, 0xC4201, 0xC4101, 0xC4401, 0xC2201, 0xC1101});
  add(LinePictProc, {0x10001, 0x20001, 0x10002, 0x20002, 0x10002, 0x20002});
  add(RectFramePictProc, {0x201});
  add(RectPictProc, {0x4400});
  add(RefNumPictProc, {0x1100, 0x4400, 0x8400});
  add(KnobPictProc, {0});
  add(PathGlyphPictProc, {0x4400, 0x8400});
  add(RectPictProc, {0x102202, 0x101102});
  add(OvalPictProc, {0x102202, 0x101102});
  add(RndRectPictProc, {0x102202, 0x101102});
  add(OblongPictProc, {0x1C2202, 0x1C1102, 0x132202, 0x131102});
  add(RectFramePictProc, {0xA00, 0x900, 0xC00});
  add(OvalFramePictProc, {0xA00, 0x900, 0xC00});
  add(GlyphButtonPictProc, {0x4200, 0x4100, 0x4201, 0x4101, 0x4202, 0x4102});
  add(ArrowTabPictProc, {0x14200, 0x24200});
  add(DiamondPictProc, {0x4400, 0x8400});
  add(DlgButtonPictProc, {0, 1, 2, 3});
  add(RefNumPictProc, {0x2200});
  add(DlgRingPictProc, {0});
  add(GlyphButtonPictProc, {0x4203, 0x4103, 0x4204, 0x4104, 0x4205, 0x4105, 0x4206, 0x4106, 0x4207, 0x4107});
  add(TrianglePictProc, {0x18400, 0x28400, 0x48400, 0x88400});
  add(DlgRadioPictProc, {0, 1, 2, 3});
  add(DlgCheckBoxPictProc, {0, 1, 2, 3});
  add(DlgBoxPictProc, {0, 0, 0});
  add(BevelRingPictProc, {0});
  // The process-plant pictures: raised, then (from index 316) flat.
  for (const auto& looks : {raised, flat}) {
    add(ValvePictProc, looks);
    add(RoundValvePictProc, looks);
    add(TeePictProc, looks);
    add(ElbowPictProc, looks);
    const uInt32 look = *looks.begin() & 0xFF00;
    add(PipePictProc, {0x30000 | look, 0xC0000 | look});
    add(PumpPictProc, {0x10000 | look, 0x20000 | look});
    add(MotorPictProc, {0x30000 | look});
  }
  add(BarPictProc, {0x38800, 0xC8800});
  add(PlainTrianglePictProc, {0x48800, 0x88800, 0x28800, 0x18800});
  add(HopperAPictProc, {0x4200});
  add(StemPictProc, {0x8400});
  add(HopperBPictProc, {0x4200});
  add(OpenTankPictProc, {0x4400});
  add(OvalZigzagPictProc, {0x4400});
  add(FlaskPictProc, {0x4400});
  add(DrumPictProc, {0x4400});
  add(OvalCrossPictProc, {0x4400});
  add(TwinTrianglePictProc, {0x4400});
  add(TrapezoidPictProc, {0x4400});
  add(ZigzagPictProc, {0x4400});
  add(SystemFramePictProc, {0x4400, 0x8400});
  add(FaceFillPictProc, {0});
  add(DlgRingPictProc, {1});
  add(LinePictProc, {0x30001, 0xC0001, 0x30002, 0xC0002, 0x30002, 0xC0002});
  add(PopupArrowPictProc, {0x200, 0x100});
  add(TagGlyphPictProc, {0x4000, 0x8000});
  add(PopupArrowPictProc, {0x400, 0x800});
  add(MenuFillPictProc, {0});
  add(MenuBoxPictProc, {0});
  add(RectFramePictProc, {0xA01});
  add(RectPictProc, {0x2C4400, 0x234400});
  if (n != kPictureProcCount) DBAssert(__FILE__, __LINE__, "the control picture table is not 375 entries");
  return t;
}

}  // namespace

const PictureProcEntry* PictureProcTable() {
  static const Table table = BuildTable();
  return table.data();
}

MgErr INewProcImage(PictureProc proc, uInt32 style, int32* image) {
  return ICreateProcImage(reinterpret_cast<ImageProc>(proc), int32(style), image);
}

void InitFPImages() {
  const PictureProcEntry* table = PictureProcTable();
  for (int32 n = 0; n < kPictureProcCount; ++n) {
    int32 image = 0;
    if (INewProcImage(table[n].proc, table[n].style, &image) != kNoErr) image = 0;
    SetBuiltInPict(kFirstControlPict + n, image);
  }
}

// ---- Default answers ---------------------------------------------------------------------

Bool32 PtInEllipse(Point p, const Rect* r) {
  if (!r || !DPtInRect(p, r)) return 0;
  const int32 a = (r->right - r->left) / 2, b = (r->bottom - r->top) / 2;
  const int32 dx = p.h - (r->left + r->right) / 2, dy = p.v - (r->top + r->bottom) / 2;
  // A semi-axis of 0 (a rectangle one pixel thin) holds only its centre line.
  auto term = [](int32 d, int32 axis) {
    if (axis == 0) return d == 0 ? 0.0 : 2.0;
    return double(d) * d / (double(axis) * axis);
  };
  return term(dx, a) + term(dy, b) <= 1.0;
}

Bool32 RectMeetsEllipse(const Rect* test, const Rect* oval) {
  if (!test || !oval) return 0;
  // Doubled coordinates keep the centre on whole numbers.
  const int32 tl = 2 * test->left, tr = 2 * test->right, tt = 2 * test->top, tb = 2 * test->bottom;
  const int32 cx = oval->left + oval->right, cy = oval->top + oval->bottom;
  if (cx >= tl && cx <= tr) return 2 * oval->top < tb && tt < 2 * oval->bottom;
  if (cy >= tt && cy <= tb) return 2 * oval->left < tr && tl < 2 * oval->right;
  const double dx = (tl < cx ? tr : tl) - cx, dy = (tt < cy ? tb : tt) - cy;
  const double width = oval->right - oval->left, height = oval->bottom - oval->top;
  if (width <= 0 || height <= 0) return 0;
  return (dx / width) * (dx / width) + (dy / height) * (dy / height) <= 1.0;
}

namespace {

// The placeholder of a picture that draws nothing of its own: the shape in
// backColor (transparent as black), framed in foreColor (transparent as
// white), and both diagonals.
void Placeholder(const Rect* r, DColor fore, DColor back, bool oval) {
  if (!r || DEmptyRect(r)) return;
  Pen(back == kTransparentColor ? kBlackColor : back);
  if (oval) DPaintOval(r);
  else DPaintRect(r);
  Pen(fore == kTransparentColor ? kWhiteColor : fore);
  if (oval) DFrameOval(r);
  else DFrameRect(r);
  DMoveTo(r->left, r->top);
  DLineTo(r->right - 1, r->bottom - 1);
  DMoveTo(r->left, r->bottom - 1);
  DLineTo(r->right - 1, r->top);
}

int32 DefaultAnswer(int32 message, PictMessageBlock* b, bool oval) {
  switch (message) {
    case kPictMsgInit:
    case kPictMsgMoved:
    case kPictMsgNothing: return 0;
    default: break;
  }
  const bool known = message == kPictMsgDraw || message == kPictMsgHit || message == kPictMsgRectHit ||
                     message == kPictMsgSize || message == kPictMsgShape || message == kPictMsgOwnState;
  if (!known) {
    DBAssert(__FILE__, __LINE__, "picture procedure: a message it does not answer");
    return 0;
  }
  if (!b) return 0;
  switch (message) {
    case kPictMsgDraw: Placeholder(b->rect, b->foreColor, b->backColor, oval); break;
    case kPictMsgHit:
      b->result = b->rect && (oval ? PtInEllipse(b->point, b->rect) : DPtInRect(b->point, b->rect)) ? 1 : 0;
      break;
    case kPictMsgRectHit: {
      Rect meet;
      b->result = b->rect && b->otherRect &&
                          (oval ? RectMeetsEllipse(b->otherRect, b->rect) : DSectRect(b->otherRect, b->rect, &meet))
                      ? 1
                      : 0;
      break;
    }
    case kPictMsgSize:
      if (b->rect) *b->rect = Rect{0, 0, 32, 32};
      break;
    case kPictMsgShape:
      b->shapeKind = oval ? kPictShapeOval : kPictShapeRect;
      b->result = oval && BothColours(b) ? 1 : 0;
      break;
    case kPictMsgOwnState: b->result = 0; break;
    default: break;
  }
  return 0;
}

}  // namespace

int32 RectDefaultPictProc(int32 message, PictStyleBlock*, PictMessageBlock* block) {
  return DefaultAnswer(message, block, false);
}

int32 OvalDefaultPictProc(int32 message, PictStyleBlock*, PictMessageBlock* block) {
  return DefaultAnswer(message, block, true);
}
