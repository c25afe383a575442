// Moving the view over a panel: the wheel, the grabber with its axis lock,
// the automatic scrolling of a drag near the edge and its limits, and the
// drop highlight.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "draw_start.h"
#include "engine/objswap.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/winproc.h"
#include "panel/panelscroll.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_window.h"

namespace panelscrolltest {

class Scroll : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    window_ = StartDrawingWindow(Rect{40, 40, 240, 340}, nullptr);
    ASSERT_NE(window_, kWNoWindow);
    MLoadMenuColors();
    ext_ = int32(OHWord(panel_, kOHExtension));
    PutNative32(*panel_ + ext_ + kHeapExtWindow, uInt32(window_));
    SetVisible(Rect{0, 0, 200, 300});
    PutNative16(*panel_ + ext_ + kHeapExtWindowOptions, kPanelWheelScrolls);
    const Rect contents{0, 0, 400, 500};
    std::memcpy(*panel_ + ext_ + kHeapExtPanelBounds, &contents, sizeof contents);
    SetPanelScrollHooks({});
  }
  void TearDown() override {
    StopDrawingWindow(&port_);
    window_ = kWNoWindow;
    PanelTest::TearDown();
  }
  Rect Visible() const {
    Rect r;
    std::memcpy(&r, *panel_ + ext_ + kHeapExtContentRect, sizeof r);
    return r;
  }
  void SetVisible(const Rect& r) { std::memcpy(*panel_ + ext_ + kHeapExtContentRect, &r, sizeof r); }
  int32 ext_ = 0;
  WPortState port_{};
};

int32 Bits(float f) {
  int32 w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

TEST_F(Scroll, TheWheelScrolls30PixelsA_Step150WithShiftAndOnlyWhenAllowed) {
  const struct {
    float amount;
    WModifiers modifiers;
    uInt16 options;
    int32 code, answer, top;
  } cases[] = {
      {1.0f, 0, kPanelWheelScrolls, kWEvWheel, 1, -30},
      {1.0f, kWModShift, kPanelWheelScrolls, kWEvWheel, 1, -150},
      {-0.5f, 0, kPanelWheelScrolls, kWEvWheel, 1, 15},
      {1.0f, 0, 0, kWEvWheel, 0, 0},
      {1.0f, 0, kPanelWheelScrolls, weMouseMove, 0, 0},
      {std::numeric_limits<float>::infinity(), 0, kPanelWheelScrolls, kWEvWheel, 1, 0},
      {std::numeric_limits<float>::quiet_NaN(), 0, kPanelWheelScrolls, kWEvWheel, 1, 0},
      {1e9f, 0, kPanelWheelScrolls, kWEvWheel, 1, 0},
  };
  for (const auto& c : cases) {
    SetVisible(Rect{0, 0, 200, 300});
    PutNative16(*panel_ + ext_ + kHeapExtWindowOptions, c.options);
    WEventRecord e{};
    e.code = c.code;
    e.modifiers = c.modifiers;
    e.character = Bits(c.amount);
    EXPECT_EQ(PanelWheelScroll(panel_, &e), c.answer) << c.amount;
    EXPECT_EQ(Visible().top, c.top) << c.amount;
    EXPECT_EQ(Visible().bottom - Visible().top, 200) << c.amount;
    Point origin;
    WGetOrigin(window_, &origin);
    EXPECT_EQ(origin.v, c.top) << "the window's origin follows";
    WSetOrigin(window_, Point{0, 0});
  }
}

// The grabber's input, injected from the tracking loop's waits.
std::vector<std::function<void()>> gSteps;
size_t gNext = 0;
int32 Background(Bool32) {
  if (gNext < gSteps.size()) gSteps[gNext++]();
  return 0;
}

TEST_F(Scroll, AShiftGrabberDragFirstSidewaysNeverScrollsVertically) {
  WBuildKeyTable();
  PlatSetActiveWindow(WHostWindow(window_));
  WMainLoopHooks hooks{};
  hooks.background = &Background;
  WSetMainLoopHooks(hooks);
  for (bool shift : {true, false}) {
    SetVisible(Rect{0, 0, 200, 300});
    WSetOrigin(window_, Point{0, 0});
    Point at{100, 150};
    WLocalToGlobal(window_, &at);
    PlatInjectMouseButton(kPlatButtonLeft, true, at.h, at.v, PlatTickMs());
    // Sideways first, then down and to the side.
    gSteps = {[=] { PlatInjectMouseMove(at.h - 5, at.v, PlatTickMs()); },
              [=] { PlatInjectMouseMove(at.h - 10, at.v - 20, PlatTickMs()); },
              [=] { PlatInjectMouseMove(at.h - 20, at.v - 40, PlatTickMs()); },
              [=] { PlatInjectMouseButton(kPlatButtonLeft, false, at.h - 20, at.v - 40, PlatTickMs()); }};
    gNext = 0;
    WEventRecord press{};
    press.code = weMouseDown;
    press.where = WPackPoint(Point{100, 150});
    press.modifiers = shift ? kWModShift : 0;
    WPortState port{};
    WSetup(window_, &port);  // the panel event handler runs in its window
    GrabberTrack(panel_, &press);
    WRestore(&port);
    EXPECT_EQ(gNext, gSteps.size());
    EXPECT_GT(Visible().left, 0) << shift;
    if (shift) EXPECT_EQ(Visible().top, 0) << "locked to the first axis";
    else EXPECT_GT(Visible().top, 0) << "free";
  }
  WResetMainLoopHooks();
}

TEST_F(Scroll, ADragNearTheEdgeScrollsAfterThreeIntervalsThenEveryInterval) {
  SetTrackingInterval(100);
  const Rect v{0, 0, 200, 300};
  const Point below{210, 150};  // 10 pixels under the visible rectangle
  const struct {
    Point at;
    uInt32 now;
    int32 due;
  } steps[] = {
      {below, 1000, 0},             // armed: due at 1300
      {below, 1299, 0}, {below, 1300, 1},  // then at every later call (the drag's
      {below, 1350, 1}, {below, 1400, 1},  // events come once an interval)
      {Point{100, 100}, 1500, 0},   // back inside: disarmed
      {below, 1600, 0},             // armed again
      {below, 1800, 0}, {below, 1900, 1},
      {Point{230, 150}, 2000, 0},   // 30 pixels out: past the band
  };
  DragTimer timer{};
  for (const auto& s : steps) EXPECT_EQ(DragAutoScrollDueAt(s.at, &v, &timer, s.now), s.due) << s.now;
  EXPECT_EQ(InAutoScrollBand(Point{215, 150}, &v), 1);
  EXPECT_EQ(InAutoScrollBand(Point{216, 150}, &v), 0);
}

TEST_F(Scroll, AutoScrollStepsStopPastAQuarterMoreThanTheViewBeyondTheContents) {
  for (bool shift : {false, true}) {
    SetVisible(Rect{0, 0, 200, 300});
    WSetOrigin(window_, Point{0, 0});
    WEventRecord drag{};
    drag.where = WPackPoint(Point{205, 150});
    drag.modifiers = shift ? kWModShift : 0;
    ASSERT_EQ(DragAutoScroll(panel_, &drag), 1);
    EXPECT_EQ(Visible().top, shift ? 40 : 8);
    EXPECT_EQ(WordToPoint(drag.where).v, 205 + (shift ? 40 : 8)) << "the point moves with the view";
    int32 steps = 0;
    while (DragAutoScroll(panel_, &drag) && steps < 1000) ++steps;
    // The contents end at 400; 1.25 views beyond is 650.
    EXPECT_GE(Visible().bottom, 650) << shift;
    EXPECT_LT(Visible().bottom, 650 + (shift ? 40 : 8)) << shift;
    drag.where = WPackPoint(Point{int16(Visible().top - 5), 150});
    while (DragAutoScroll(panel_, &drag) && steps < 2000) ++steps;
    EXPECT_LE(Visible().top, -250) << "upwards too";
    EXPECT_GT(Visible().top, -250 - (shift ? 40 : 8));
  }
}

TEST_F(Scroll, TheDropHighlightIsFourStripsDrawnThenInvalidated) {
  const int32 target = Obj(kClsCosmetic);
  const Rect r{20, 30, 60, 90};
  std::memcpy(*panel_ + target + kObjBounds, &r, sizeof r);
  PlatSurface* s = PlatWindowSurface(WHostWindow(window_));
  PlatSurfaceClear(s, 0xFFFFFF);
  DropHiliteShow(panel_, target);
  const auto pixel = [&](int32 h, int32 v) { return PlatSurfaceGetPixel(s, h, v) & 0xFFFFFF; };
  const uInt32 white = 0xFFFFFF;
  for (const Point p : {Point{20, 50}, Point{21, 50}, Point{59, 50}, Point{40, 30}, Point{40, 89}})
    EXPECT_NE(pixel(p.h, p.v), white) << p.v << "," << p.h;
  for (const Point p : {Point{22, 50}, Point{40, 32}, Point{40, 60}, Point{19, 50}})
    EXPECT_EQ(pixel(p.h, p.v), white) << "outside the strips " << p.v << "," << p.h;
  DropHiliteHide(panel_, target);
  EXPECT_EQ(pixel(40, 30), white) << "the strips are drawn again";
}

}  // namespace panelscrolltest
