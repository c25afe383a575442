// Regions, region drawing with the current pen, and scrolling a window's
// content, checked on the window's pixels, its update region and the trace
// of its device context.
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_event.h"
#include "platform/qx_thread.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_trace.h"
#include "test_support.h"

namespace {

int32 Packed(int32 h, int32 v) { return int32(uInt32(uint16_t(h)) << 16 | uint16_t(v)); }
std::string Str(int32 l, int32 t, int32 r, int32 b) {
  return std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(b);
}

// A 200 x 100 window whose pixel (x, y) is y << 8 | x, its port's origin at
// (h 20, v 10), set up for drawing with its context traced.
class Regions : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect r{40, 40, 140, 240};
    w_ = WCreate(0x3C, nullptr, nullptr, &r, 0, true, 0);
    surface_ = PlatWindowSurface(WHostWindow(w_));
    for (int32 y = 0; y < 100; ++y)
      for (int32 x = 0; x < 200; ++x) PlatSurfaceSetPixel(surface_, x, y, uint32_t(y << 8 | x));
    WSetOrigin(w_, Point{10, 20});
    PlatValidateRect(WHostWindow(w_), nullptr);
    WSetup(w_, &saved_);
    trace_.lines.clear();
    PlatSetTraceSink(gDrawState.dc, &trace_);
  }
  void TearDown() override {
    PlatSetTraceSink(gDrawState.dc, nullptr);
    WRestore(&saved_);
    DDisposeDraw();
    WDestroyAllWindows();
    PlatWindowsReset();
    // Take the input signal the shown window raised on this thread, so that
    // a later wait of the thread is not ended by it.
    PlatEvent* ev = PlatEventCreate(false);
    PlatWaitEventOrInput(ev, 0);
    PlatEventDestroy(ev);
  }
  uint32_t Pixel(int32 x, int32 y) { return PlatSurfaceGetPixel(surface_, x, y) & 0xFFFFFF; }
  WindowRef w_ = kWNoWindow;
  PlatSurface* surface_ = nullptr;
  WPortState saved_{};
  PlatTraceRecorder trace_;
  Capture capture_;
};

TEST_F(Regions, CombineTestAndBound) {
  const Rect ra{0, 0, 10, 10}, rb{5, 5, 15, 15};
  const DRgn a = DRectRgn(&ra), b = DRectRgn(&rb), d = DRectRgn(nullptr);
  EXPECT_TRUE(DEmptyRgn(d));
  // op, kind of the result, and whether (2, 2) (a only), (7, 7) (both) and
  // (12, 12) (b only) are in it.
  const int32 cases[][5] = {{0, 2, 0, 1, 0}, {1, 2, 1, 1, 0}, {2, 3, 1, 0, 0}, {7, 3, 1, 0, 1}, {3, 3, 1, 1, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(DCombineRgn(d, a, b, c[0]), c[1]) << c[0];
    for (int32 k = 0; k < 3; ++k) EXPECT_EQ(DPtInRgn(Packed(2 + 5 * k, 2 + 5 * k), d), c[2 + k]) << c[0] << k;
  }
  DOffsetRgn(d, -20, 0);  // the union at h -20..-5: packed halves are signed, h the high one
  EXPECT_TRUE(DPtInRgn(Packed(-10, 14), d) && !DPtInRgn(Packed(14, -10), d));
  Rect box;
  DRgnBounds(d, &box);
  EXPECT_EQ(Str(box.left, box.top, box.right, box.bottom), "-20,0,-5,15");
  const Rect touch{14, -6, 20, 0}, beside{0, -5, 20, 0};
  EXPECT_TRUE(DRectInRgn(&touch, d) && !DRectInRgn(&beside, d) && DInsetRgn(d, 4) == 4);
  EXPECT_TRUE(capture_.Alerts().empty());
  // Null regions contain nothing and are reported where used; only regions
  // are destroyed.
  EXPECT_FALSE(DPtInRgn(0, 0) || DRectInRgn(&touch, 0));
  EXPECT_EQ(DCombineRgn(d, a, 0, 3), 0);
  EXPECT_EQ(DCombineRgn(d, a, 0, 1), 2) << "a copy does not read b";
  const PlatObj pen = PlatCreatePen(0, 1, 0);
  for (DRgn r : {DRgn(0), DRgn(pen), a, b, d}) DDestroyRgn(r);
  EXPECT_EQ(capture_.Alerts().size(), 3u);
  EXPECT_TRUE(PlatObjectKind(pen) == kPlatObjPen && PlatObjectKind(a) == kPlatObjNone);
  PlatDeleteObject(pen);
}

TEST_F(Regions, FrameAndPaintTakeThePensWidthAndBrushWithoutTheOrigin) {
  const PenState white{0xFFFFFF, 0xFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 2, 0, 0, 0};
  const int32 pen = DNewPen(kDefaultPenBase, kPenAll, &white);
  DSelectPen(pen, 0, 0xFFFFFF);
  trace_.lines.clear();
  const Rect r{10, 10, 20, 20}, inner{14, 14, 16, 16};
  const DRgn rgn = DRectRgn(&r), hole = DRectRgn(&inner);
  gDrawState.invisiblePen = 1;
  DFrameRgn(rgn);
  DPaintRgn(rgn);
  EXPECT_TRUE(trace_.lines.empty());
  gDrawState.invisiblePen = 0;
  DFrameRgn(rgn);
  DPaintRgn(hole);
  ASSERT_EQ(trace_.lines.size(), 2u);
  EXPECT_EQ(trace_.lines[0].rfind("framergn 2,2 ", 0), 0u) << trace_.lines[0];
  EXPECT_EQ((std::vector<uint32_t>{Pixel(11, 15), Pixel(12, 15), Pixel(15, 15)}),
            (std::vector<uint32_t>{0xFFFFFF, 0xF0C, 0xFFFFFF}));
  for (PlatObj o : {rgn, hole}) PlatDeleteObject(o);
}

// Scrolling the port rectangle 10, 20, 110, 220: the whole client area.
TEST_F(Regions, ScrollRectMovesPaintsAndInvalidates) {
  const struct {
    int32 dh, dv;
    DColor fill;
    const char *update, *strips;  // client coordinates
    int32 x, y;
    uint32_t pixel;
  } cases[] = {
      {0, 10, 0xFFFFFF, "0,0,200,10", "0,0,200,10;", 50, 50, 0x2832},
      {0, 100, 0xFFFFFF, "0,0,200,100", "0,0,200,100;", 50, 50, 0xFFFFFF},
      {0, 10, kTransparentColor, "0,0,200,10", "", 50, 5, 0x0532},
      {5, 10, 0xFFFFFF, "0,0,200,100", "0,0,200,10;0,10,5,90;", 10, 50, 0x2805},
      {-5, -10, 0xFFFFFF, "0,0,200,100", "0,90,200,10;195,0,5,90;", 100, 50, 0x3C69},
      {INT32_MIN, 0, 0xFFFFFF, "0,0,200,100", "0,0,200,100;", 50, 50, 0xFFFFFF},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    const Rect r{10, 20, 110, 220};
    DScrollRect(&r, c.dh, c.dv, 1, c.fill, c.fill);
    std::string strips;
    for (const auto& line : trace_.lines)
      if (line.rfind("patfill ", 0) == 0) strips += line.substr(8, line.find(" 0x") - 8) + ";";
    PlatRect u{};
    PlatGetUpdateRect(WHostWindow(w_), &u);
    EXPECT_EQ(Str(u.left, u.top, u.right, u.bottom), c.update) << c.dh << "," << c.dv;
    EXPECT_EQ(strips, c.strips) << c.dh << "," << c.dv;
    EXPECT_EQ(Pixel(c.x, c.y), c.pixel) << c.dh << "," << c.dv;
  }
  EXPECT_TRUE(capture_.Alerts().empty()) << (capture_.Alerts().empty() ? "" : capture_.Alerts()[0]);
}

}  // namespace
