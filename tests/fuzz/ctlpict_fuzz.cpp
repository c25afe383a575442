// The control picture primitives take rectangles, colours, style words,
// widths and line end points from panel objects and "PICC" resources of VI
// files: any of them.  Each input calls one primitive, or the line geometry,
// on a small pixmap of 32, 8, 4 or 1 bits.  Invariants: nothing is drawn
// outside the primitive's rectangle, the caller's rectangle comes back as
// it was, every call returns without a report, and the line buffers are
// never read or written past their ends (the sanitizers watch).
//
// An input whose first byte is 0xC0 or more sends one message (0 to 5, 7,
// 10 to 14) to one picture of the control picture table, with state words,
// a version and a flattened state made from the input.  Invariants: the
// state is never read past its handle; the points a state of 12 bytes or
// more holds are the ones message 13 then reports; a flattened state reads
// back to the same style and points; answers are in their ranges; drawing
// stays inside the rectangle; only the messages a picture does not answer
// are reported.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "controls/picc.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/menus.h"
#include "platform/qx_surface.h"
#include "shell/shellglobals.h"
#include "tests/controls/picc_calls.h"
#include "tests/draw_start.h"

namespace {

constexpr int32 kSide = 48;
const int32 kDepths[4] = {32, 8, 4, 1};
int32 gPixmaps[4] = {};
int32 gPens[3] = {};

bool Init() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
  static WPortState saved;
  const WindowRef window = StartDrawingWindow(Rect{40, 40, 140, 240}, &saved);
  if (!window) return false;
  MLoadMenuColors();
  DSetPointBuf(16);
  for (int32 i = 0; i < 3; ++i) {
    PenState s{};
    std::memcpy(s.pattern, kShellBlendPatterns[i], 8);
    gPens[i] = DNewPen(kDefaultPenBase, kPenPattern, &s);
  }
  PiccSetBlendPenSource([](int32 which) { return gPens[which]; });
  const Rect frame{0, 0, kSide, kSide};
  for (int32 i = 0; i < 4; ++i)
    if (ICreatePixmap(window, &frame, kDepths[i], &gPixmaps[i]) != kNoErr) return false;
  return true;
}

// A coordinate: mostly about the pixmap, sometimes at the 16-bit ends.
int16 Coordinate(FuzzReader& in) {
  const uint8_t kind = in.Byte();
  const int16 v = int16(in.Byte() << 8 | in.Byte());
  if (kind < 0xC0) return int16(int32(v % 64) - 8);
  if (kind < 0xE0) return int16(v > 0 ? 32767 - (v & 0xFF) : -32768 + (v & 0xFF));
  return v;
}

DColor Colour(FuzzReader& in) {
  const uint8_t kind = in.Byte();
  const DColor c = in.Word();
  if (kind < 0x20) return kTransparentColor;
  if (kind < 0x40) return c;  // any word, a colour or not
  return c & 0xFFFFFF;
}

Point PointOf(FuzzReader& in) {
  Point p;
  p.h = Coordinate(in);
  p.v = Coordinate(in);
  return p;
}

// Whether anything but white lies outside the rectangle on the pixmap.
bool DrewOutside(int32 pixmap, const Rect& rect) {
  PlatSurface* s = PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra));
  FUZZ_CHECK(s);
  for (int32 y = 0; y < kSide; ++y)
    for (int32 x = 0; x < kSide; ++x) {
      const bool inside = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
      if (!inside && (PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF) != 0xFFFFFF) {
        std::fprintf(stderr, "drew at (%d, %d) outside (%d, %d, %d, %d)\n", int(x), int(y), int(rect.left),
                     int(rect.top), int(rect.right), int(rect.bottom));
        return true;
      }
    }
  return false;
}

void PictureMessage(FuzzReader& in, int32 pixmap) {
  static const int32 kMessages[] = {0, 1, 2, 3, 4, 5, 7, 10, 11, 12, 13, 14};
  const PictureProcEntry& entry = PictureProcTable()[in.Word() % kPictureProcCount];
  const int32 message = kMessages[in.Byte() % 12];
  const bool line = entry.proc == LinePictProc;
  PictStyleBlock style{entry.style, line ? in.Word() : 0, line ? in.Word() : 0};
  Rect rect{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)};
  Rect other{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)};
  const Rect given = rect;
  PictMessageBlock b{};
  b.rect = &rect;
  b.otherRect = &other;
  b.foreColor = Colour(in);
  b.backColor = Colour(in);
  b.point = PointOf(in);
  b.version = in.Word();
  b.point1 = PointOf(in);
  b.point2 = PointOf(in);
  // The flattened state: exactly the bytes that remain, at most 16.
  const size_t stateSize = std::min<size_t>(in.n, 16);
  UHandle state = DSNewHandle(int32(stateSize));
  if (!state) return;
  in.Bytes(*state, stateSize);
  b.stateHandle = state;
  if (message == kPictMsgDraw) {
    ImageSaveRecord save;
    IOpen(pixmap, &save);
    IEraseImage(pixmap);
    FuzzArmed() = true;
    entry.proc(message, &style, &b);
    FuzzArmed() = false;
    IClose(pixmap, &save);
    FUZZ_CHECK(!DrewOutside(pixmap, given));
  } else {
    // Messages 11 to 14 belong to the line; other pictures report them.
    FuzzArmed() = line || message < kPictMsgFlatten;
    entry.proc(message, &style, &b);
    FuzzArmed() = false;
  }
  switch (message) {
    case kPictMsgHit:
    case kPictMsgRectHit: FUZZ_CHECK(b.result == 0 || b.result == 1); break;
    case kPictMsgShape:
      FUZZ_CHECK(b.shapeKind >= 0 && b.shapeKind <= 2 && (b.result == 0 || b.result == 1));
      FUZZ_CHECK((b.shapeKind == 2) == line);
      break;
    case kPictMsgSize:
      if (!line) FUZZ_CHECK(rect.top == 0 && rect.left == 0 && rect.bottom > 0 && rect.right > 0);
      break;
    case kPictMsgUnflatten:
      if (line && stateSize >= 12) {
        PictMessageBlock q{};
        entry.proc(kPictMsgGetEnds, &style, &q);
        const uChar* p = *state;
        FUZZ_CHECK(style.style == GetBE32(p));
        FUZZ_CHECK(q.point1.v == int16(GetBE16(p + 4)) && q.point1.h == int16(GetBE16(p + 6)));
        FUZZ_CHECK(q.point2.v == int16(GetBE16(p + 8)) && q.point2.h == int16(GetBE16(p + 10)));
      }
      break;
    case kPictMsgFlatten:
      if (line && b.stateHandle) {
        // Read back into a fresh block: the same style and ends.
        PictStyleBlock back{0, 0, 0};
        PictMessageBlock q{};
        q.stateHandle = b.stateHandle;
        entry.proc(kPictMsgUnflatten, &back, &q);
        FUZZ_CHECK(back.style == style.style && back.state1 == style.state1 && back.state2 == style.state2);
        AZDisposeHandle(b.stateHandle);
      }
      break;
    default: break;
  }
  DSDisposeHandle(state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready) return 0;
  FuzzReader in{data, size};
  const auto& calls = picctest::Calls();
  const uint8_t which = in.Byte();
  const int32 depthIndex = in.Byte() & 3;
  const int32 pixmap = gPixmaps[depthIndex];
  if (which >= 0xC0) {
    PictureMessage(in, pixmap);
    return 0;
  }

  if (which % (calls.size() + 1) == calls.size()) {
    // The line geometry, on buffers that may already hold polygons, or
    // claim counts they cannot hold.
    LinePolys lp{};
    const uint8_t fill = in.Byte();
    if (fill & 1) BuildLinePolys(kLineDraw, PointOf(in), PointOf(in), in.Byte(), int32(in.Word()), &lp);
    if (fill & 2) lp.nPolys = int32(in.Word()), lp.nPoints = int32(in.Word());
    const int32 mode = in.Byte() & 1;
    const Point p1 = PointOf(in), p2 = PointOf(in);
    const int32 width = in.Byte(), style = int32(in.Word());
    FuzzArmed() = true;
    const int32 added = BuildLinePolys(mode, p1, p2, width, style, &lp);
    FUZZ_CHECK(added >= 0 && added <= kLinePolyMaxPolys);
    // What it appended lies within the buffers (what was there before may
    // be anything).
    if (added) {
      FUZZ_CHECK(lp.nPolys <= kLinePolyMaxPolys && lp.nPoints <= kLinePolyMaxPoints);
      for (int32 i = lp.nPolys - added; i < lp.nPolys; ++i)
        FUZZ_CHECK(lp.polys[i].first >= 0 && lp.polys[i].count >= 3 &&
                   lp.polys[i].first + lp.polys[i].count <= lp.nPoints);
    }
    PtInLinePolys(PointOf(in), &lp);
    LineHitTest(PointOf(in), p1, p2, int32(in.Word()), style);
    Rect bounds{0, 0, 0, 0};
    LinePolysBounds(&lp, &bounds);
    const Rect to{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)};
    MapLinePolys(&lp, &bounds, &to);
    ImageSaveRecord save;
    IOpen(pixmap, &save);
    DSelectNormPen(0x123456, kBlackColor);
    PaintLinePolys(&lp);
    IClose(pixmap, &save);
    FUZZ_CHECK(lp.nPolys == 0 && lp.nPoints == 0);
    FuzzArmed() = false;
    return 0;
  }

  const picctest::Call& call = calls[which % (calls.size() + 1)];
  if (call.colourOnly && kDepths[depthIndex] == 1) return 0;
  const Rect rect{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)};
  picctest::Args a{};
  a.fore = Colour(in);
  a.back = Colour(in);
  a.looks = int32(in.Word());
  a.width = in.Byte();
  a.direction = int32(in.Word());
  a.state = int8_t(in.Byte());
  ImageSaveRecord save;
  IOpen(pixmap, &save);
  IEraseImage(pixmap);
  FuzzArmed() = true;
  Rect r = rect;
  call.draw(&r, a);
  FuzzArmed() = false;
  IClose(pixmap, &save);
  FUZZ_CHECK(std::memcmp(&r, &rect, sizeof r) == 0);
  if (DrewOutside(pixmap, rect)) {
    std::fprintf(stderr, "by %s\n", call.name);
    std::abort();
  }
  return 0;
}
