// Regions, region drawing with the current pen, and scrolling a window's
// content, checked on the pixels of the window's surface and on its update
// region.
#include "mgsource/draw/dregion.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_trace.h"
#include "test_support.h"

namespace {

int32 Packed(int32 h, int32 v) { return int32((uInt32(uint16_t(h)) << 16) | uint16_t(v)); }

class Regions : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    const Rect r{40, 40, 140, 240};  // 200 x 100
    w_ = WCreate(0x3C, nullptr, nullptr, &r, 0, true, 0);
    ASSERT_NE(w_, kWNoWindow);
    surface_ = PlatWindowSurface(w_);
    for (int32 y = 0; y < 100; ++y)
      for (int32 x = 0; x < 200; ++x) PlatSurfaceSetPixel(surface_, x, y, uint32_t(y << 8 | x));
  }
  void TearDown() override {
    WDestroyAllWindows();
    PlatWindowsReset();
  }
  uint32_t Pixel(int32 x, int32 y) { return PlatSurfaceGetPixel(surface_, x, y) & 0xFFFFFF; }
  WindowRef w_ = kWNoWindow;
  PlatSurface* surface_ = nullptr;
  Capture capture_;
};

TEST_F(Regions, CombineTestAndBound) {
  const Rect ra{0, 0, 10, 10}, rb{5, 5, 15, 15};  // top, left, bottom, right
  const DRgn a = DRectRgn(&ra), b = DRectRgn(&rb), d = DRectRgn(nullptr);
  EXPECT_TRUE(DEmptyRgn(d));
  // (op, kind, pixels (h, v) inside/outside: 2 in a only, 7 in both, 12 in b only)
  const struct { int32 op, kind; bool aOnly, both, bOnly; } cases[] = {
      {0, 2, false, true, false}, {1, 2, true, true, false}, {2, 3, true, false, false},
      {7, 3, true, false, true},  {3, 3, true, true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DCombineRgn(d, a, b, c.op), c.kind) << c.op;
    EXPECT_EQ(DPtInRgn(Packed(2, 2), d), c.aOnly) << c.op;
    EXPECT_EQ(DPtInRgn(Packed(7, 7), d), c.both) << c.op;
    EXPECT_EQ(DPtInRgn(Packed(12, 12), d), c.bOnly) << c.op;
  }
  // Packed points: vertical low, horizontal high, each signed.
  DOffsetRgn(d, -20, 0);  // union moved to h -20..-5, v 0..15
  EXPECT_TRUE(DPtInRgn(Packed(-10, 14), d));
  EXPECT_FALSE(DPtInRgn(Packed(14, -20), d));
  Rect box;
  DRgnBounds(d, &box);
  EXPECT_EQ((std::vector<int>{box.top, box.left, box.bottom, box.right}), (std::vector<int>{0, -20, 15, -5}));
  const Rect touch{14, -6, 20, 0}, beside{0, -5, 20, 0};
  EXPECT_TRUE(DRectInRgn(&touch, d));
  EXPECT_FALSE(DRectInRgn(&beside, d));
  EXPECT_EQ(DInsetRgn(d, 4), 4);
  EXPECT_TRUE(capture_.Alerts().empty());
  // Null regions: false, and each use of one reported.
  EXPECT_FALSE(DPtInRgn(0, 0) || DRectInRgn(&touch, 0));
  EXPECT_EQ(DCombineRgn(d, a, 0, 3), 0);
  EXPECT_EQ(DCombineRgn(d, a, 0, 1), 2) << "a copy does not read b";
  DDestroyRgn(0);
  EXPECT_EQ(capture_.Alerts().size(), 2u);
  // Only regions are destroyed.
  const PlatObj pen = PlatCreatePen(0, 1, 0);
  DDestroyRgn(pen);
  EXPECT_EQ(PlatObjectKind(pen), kPlatObjPen);
  PlatDeleteObject(pen);
  for (DRgn r : {a, b, d}) DDestroyRgn(r);
  EXPECT_EQ(PlatObjectKind(a), kPlatObjNone);
}

TEST_F(Regions, FrameAndPaintTakeThePensWidthAndBrushWithoutTheOrigin) {
  WSetOrigin(w_, Point{5, 5});
  WPortState saved;
  WSetup(w_, &saved);
  const PlatObj dc = gDrawState.dc, pen = PlatCreatePen(0, 2, 0), brush = PlatCreateSolidBrush(0xFFFFFF);
  PlatSelectObject(dc, pen);
  PlatSelectObject(dc, brush);
  PlatTraceRecorder trace;
  PlatSetTraceSink(dc, &trace);
  const Rect r{10, 10, 20, 20}, inner{12, 12, 18, 18};
  const DRgn rgn = DRectRgn(&r), hole = DRectRgn(&inner);
  gDrawState.invisiblePen = 1;
  DFrameRgn(rgn);
  DPaintRgn(rgn);
  EXPECT_TRUE(trace.lines.empty()) << trace.lines[0];
  gDrawState.invisiblePen = 0;
  DFrameRgn(rgn);
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_EQ(trace.lines[0].rfind("framergn 2,2 ", 0), 0u) << trace.lines[0];
  EXPECT_EQ(Pixel(10, 10), 0xFFFFFFu);
  EXPECT_EQ(Pixel(11, 15), 0xFFFFFFu);
  EXPECT_EQ(Pixel(12, 15), 0xF0Cu) << "two pixels wide, at the region's own place";
  DCombineRgn(hole, rgn, hole, 2);
  PlatSurfaceSetPixel(surface_, 15, 15, 0x123456);
  DPaintRgn(hole);
  EXPECT_EQ(Pixel(15, 15), 0x123456u);
  ASSERT_EQ(trace.lines.size(), 2u);
  EXPECT_EQ(trace.lines[1].rfind("fillrgn ", 0), 0u) << trace.lines[1];
  PlatSetTraceSink(dc, nullptr);
  WRestore(&saved);
  PlatDeleteObject(pen);
  PlatDeleteObject(brush);
  DDestroyRgn(rgn);
  DDestroyRgn(hole);
  EXPECT_TRUE(capture_.Alerts().empty());
}

// Scrolling inside the local rectangle 10, 20, 110, 220 of a window whose
// origin is (h 20, v 10): the whole client area, 200 x 100.
TEST_F(Regions, ScrollRectMovesPaintsAndInvalidates) {
  const struct {
    int32 dh, dv;
    DColor fill;
    const char* update;  // client coordinates l,t,r,b
    int32 x, y;          // a pixel...
    uint32_t was;        // ...showing what was at (was & 0xFF, was >> 8), or white
    const char* strips;  // the fills, when checked
  } cases[] = {
      {0, 10, 0xFFFFFF, "0,0,200,10", 50, 9, 0xFFFFFF, "patfill 0,0,200,10 0xF00021;"},
      {0, 10, 0xFFFFFF, "0,0,200,10", 50, 50, 0x2832, nullptr},
      {0, 100, 0xFFFFFF, "0,0,200,100", 50, 50, 0xFFFFFF, "patfill 0,0,200,100 0xF00021;"},
      {0, 10, kTransparentColor, "0,0,200,10", 50, 5, 0x0532, ""},
      {5, 10, 0xFFFFFF, "0,0,200,100", 2, 50, 0xFFFFFF, "patfill 0,0,200,10 0xF00021;patfill 0,10,5,90 0xF00021;"},
      {5, 10, 0xFFFFFF, "0,0,200,100", 10, 50, 0x2805, nullptr},
      {-5, -10, 0xFFFFFF, "0,0,200,100", 197, 95, 0xFFFFFF, "patfill 0,90,200,10 0xF00021;patfill 195,0,5,90 0xF00021;"},
      {INT32_MIN, 0, 0xFFFFFF, "0,0,200,100", 50, 50, 0xFFFFFF, nullptr},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    WSetOrigin(w_, Point{10, 20});
    PlatValidateRect(w_, nullptr);
    WPortState saved;
    WSetup(w_, &saved);
    PlatTraceRecorder trace;
    PlatSetTraceSink(gDrawState.dc, &trace);
    const Rect r{10, 20, 110, 220};
    DScrollRect(&r, c.dh, c.dv, 1, c.fill, c.fill);
    PlatSetTraceSink(gDrawState.dc, nullptr);
    WRestore(&saved);
    std::string fills;
    for (const auto& line : trace.lines)
      if (line.rfind("patfill", 0) == 0) fills += line + ";";
    if (c.strips) {
      EXPECT_EQ(fills, c.strips) << c.dh << "," << c.dv;
    }
    PlatRect u{};
    PlatGetUpdateRect(w_, &u);
    EXPECT_EQ(std::to_string(u.left) + "," + std::to_string(u.top) + "," + std::to_string(u.right) + "," +
                  std::to_string(u.bottom),
              c.update)
        << c.dh << "," << c.dv;
    EXPECT_EQ(Pixel(c.x, c.y), c.was) << c.dh << "," << c.dv;
  }
  EXPECT_TRUE(capture_.Alerts().empty());
}

}  // namespace
