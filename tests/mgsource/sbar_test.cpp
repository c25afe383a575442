// Bevel frames and scroll bars: rings and styles, bar geometry, drawing and
// the event tracker.
#include <gtest/gtest.h>

#include <filesystem>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"

namespace {

class Bars : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    TXInitFonts();
    MLoadMenuColors();
    // Palette colours, so that what is drawn is what is read back.
    gMenuColours.face = 0xCCCCCC, gMenuColours.frame = 0x000000, gMenuColours.light = 0xFFFFCC;
    gMenuColours.shadow = 0x666666, gMenuColours.scrollTrack = 0x999999, gMenuColours.buttonText = 0x000000;
    gMenuMetrics.vArrowHeight = gMenuMetrics.hArrowWidth = 16;
    SBarResetTrackers();
  }
  void TearDown() override {
    SBarResetTrackers();
    TXFinishFonts();
    DrawWindow::TearDown();
  }
};

TEST_F(Bars, BevelStylesDrawTheirRingsOrNothing) {
  const struct {
    int32 style;
    uInt32 outerTL, outerBR, innerTL, innerBR;  // at (10,10), (19,19), (11,11), (18,18)
    int32 changed, reports;
  } cases[] = {
      {64, 0xCCCCCC, 0x000000, 0xFFFFCC, 0x666666, 36 + 28, 0},
      {69, 0x666666, 0xFFFFCC, 0xFFFFCC, 0x666666, 36 + 28, 0},
      {70, 0x666666, 0x666666, 0xFFFFFF, 0xFFFFFF, 36, 0},
      {888, 0xFF3300, 0xFF3300, 0xFF3300, 0xFF3300, 36 + 28, 2},
      {0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0, 0},
      {63, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0, 0},
      {72, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0, 0},
  };
  for (const auto& c : cases) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    capture_.Clear();
    const Rect r{10, 10, 20, 20};
    DrawBevelFrame(&r, c.style);
    EXPECT_EQ(At(10, 10), c.outerTL) << c.style;
    EXPECT_EQ(At(19, 19), c.outerBR) << c.style;
    EXPECT_EQ(At(11, 11), c.innerTL) << c.style;
    EXPECT_EQ(At(18, 18), c.innerBR) << c.style;
    EXPECT_EQ(At(12, 12), 0xFFFFFFu) << c.style;
    EXPECT_EQ(Changed(), c.changed) << c.style;
    EXPECT_EQ(capture_.Count("error bevel frame"), c.reports) << c.style;
  }
  // Black-and-white ports: the outer ring black, the inner white.
  PlatSurfaceClear(Surface(), 0x999999);
  gDrawState.bw = 1;
  const Rect r{10, 10, 20, 20};
  DrawBevelFrame(&r, 64);
  gDrawState.bw = 0;
  EXPECT_EQ(At(10, 10), 0u);
  EXPECT_EQ(At(19, 19), 0u);
  EXPECT_EQ(At(11, 11), 0xFFFFFFu);
  EXPECT_EQ(At(12, 12), 0x999999u);
}

TEST_F(Bars, GeometryPlacesArrowsTrackAndThumb) {
  const struct {
    Rect r;
    int32 value, visible, total;
    Bool32 vertical;
    int32 arrow, track, thumbTop, thumbBottom;
  } cases[] = {
      {{0, 0, 100, 16}, 0, 10, 100, 1, 16, 68, 16, 32},
      {{0, 0, 100, 16}, 90, 10, 100, 1, 16, 68, 68, 84},
      {{0, 0, 100, 16}, 500, 10, 100, 1, 16, 68, 68, 84},   // clamped
      {{0, 0, 40, 16}, 0, 10, 100, 1, 10, 20, 10, 26},      // short: a = L / 4
      {{0, 0, 16, 100}, 0, 10, 10, 0, 16, 68, 0, 0},        // inactive: no thumb
      {{0, 0, 16, 100}, -7, -3, -100, 0, 16, 68, 0, 0},
      // 2,000,000,000 total: 32-bit products would overflow.
      {{0, 0, 1016, 16}, 1000000000, 1000000, 2000000000, 1, 16, 984, 500, 516},
  };
  for (const auto& c : cases) {
    SBarParts p;
    SBarGeometry(&c.r, c.value, c.visible, c.total, c.vertical, &p);
    EXPECT_EQ(p.arrow, c.arrow);
    EXPECT_EQ(p.trackLength, c.track);
    const int32 top = c.vertical ? p.thumb.top : p.thumb.left, bottom = c.vertical ? p.thumb.bottom : p.thumb.right;
    EXPECT_EQ(top, c.thumbTop) << c.value;
    EXPECT_EQ(bottom, c.thumbBottom) << c.value;
  }
}

TEST_F(Bars, TrackerReportsPartsHoldsAndDrags) {
  const Rect v{0, 0, 100, 16}, h{0, 0, 16, 100};
  // Up arrow held, moved off and back, released.
  EXPECT_EQ(TrackSBarEvent(&v, {5, 8}, weMouseDown, 0, 10, 100, nullptr, nullptr, 1), 2);
  EXPECT_EQ(TrackSBarEvent(&v, {50, 40}, weMouseMove, 0, 10, 100, nullptr, nullptr, 1), 1);
  EXPECT_EQ(TrackSBarEvent(&v, {5, 8}, weMouseMove, 0, 10, 100, nullptr, nullptr, 1), 2);
  EXPECT_EQ(TrackSBarEvent(&v, {5, 8}, weKey, 0, 10, 100, nullptr, nullptr, 1), 1);
  EXPECT_EQ(TrackSBarEvent(&v, {5, 8}, weMouseUp, 0, 10, 100, nullptr, nullptr, 1), 0);
  // Page down, with the bar moved 50 pixels between calls.
  EXPECT_EQ(TrackSBarEvent(&v, {60, 8}, weMouseDown, 0, 10, 100, nullptr, nullptr, 1), kSBarPageDown);
  const Rect moved{50, 0, 150, 16};
  EXPECT_EQ(TrackSBarEvent(&moved, {110, 8}, weMouseIdle, 0, 10, 100, nullptr, nullptr, 1), kSBarPageDown);
  EXPECT_EQ(TrackSBarEvent(&moved, {60, 8}, weMouseIdle, 0, 10, 100, nullptr, nullptr, 1), 1);  // above the thumb
  EXPECT_EQ(TrackSBarEvent(&moved, {60, 8}, weMouseUp, 0, 10, 100, nullptr, nullptr, 1), 0);
  // A horizontal thumb dragged to the far end.
  EXPECT_EQ(TrackSBarEvent(&h, {8, 20}, weMouseDown, 0, 10, 100, nullptr, nullptr, 0), 1);
  EXPECT_EQ(uInt32(TrackSBarEvent(&h, {8, 300}, weMouseMove, 0, 10, 100, nullptr, nullptr, 0)), 90u | 0xC0000000u);
  EXPECT_EQ(TrackSBarEvent(&h, {8, 301}, weMouseMove, 0, 10, 100, nullptr, nullptr, 0), 1);
  EXPECT_EQ(TrackSBarEvent(&h, {8, 301}, weMouseUp, 0, 10, 100, nullptr, nullptr, 0), 0);
  // Total equal to visible: refused at once.
  EXPECT_EQ(TrackSBarEvent(&v, {5, 8}, weMouseDown, 0, 10, 10, nullptr, nullptr, 1), 0);
  EXPECT_EQ(TrackSBar(&v, {5, 8}, 0, 10, 10, nullptr, nullptr, 1), 0);
  // Two billion: the drag value of the 64-bit formula.
  const Rect tall{0, 0, 1016, 16};
  const int64 total = 2000000000, visible = 1000000, room = 984 - 16;
  EXPECT_EQ(TrackSBarEvent(&tall, {20, 8}, weMouseDown, 0, int32(visible), int32(total), nullptr, nullptr, 1), 1);
  const int64 want = (300 * (total - visible) + room / 2) / room;
  EXPECT_EQ(uInt32(TrackSBarEvent(&tall, {320, 8}, weMouseMove, 0, int32(visible), int32(total), nullptr, nullptr, 1)),
            uInt32(want) | 0x80000000u);
  EXPECT_EQ(TrackSBarEvent(&tall, {320, 8}, weMouseUp, 0, int32(visible), int32(total), nullptr, nullptr, 1), 0);
}

TEST_F(Bars, BarsButtonsAndOvalsMatchGolden) {
  const Rect v{2, 2, 98, 18}, h{2, 24, 18, 120}, inactive{24, 24, 40, 120}, bar40{2, 126, 42, 142};
  DrawSBar(&v, 30, 10, 100, nullptr, nullptr, 1);
  DrawSBar(&h, 0, 10, 100, nullptr, nullptr, 0);
  DrawSBar(&inactive, 0, 10, 10, nullptr, nullptr, 0);
  const DColor glyph = 0x0000FF, face = 0x99CCFF;
  DrawSBar(&bar40, 5, 10, 100, &glyph, &face, 1);
  const Rect pressed{46, 24, 62, 40}, raised{46, 44, 62, 60};
  DrawSBarButton(&pressed, 0x666666, 0x666666, kBlackColor, kSBarGlyphDown, 0, 0xCCCCCC);
  DrawSBarButton(&raised, 0xFFFFCC, 0x666666, kWhiteColor, kSBarGlyphRight, 0, 0xCCCCCC);
  // UpdateSBar from active to inactive equals drawing it inactive.
  const Rect upd{44, 66, 60, 162};
  DrawSBar(&upd, 20, 10, 100, nullptr, nullptr, 0);
  UpdateSBar(&upd, 0, 10, 5, 20, 10, 100, nullptr, nullptr, 0);
  int16 x = 24;
  for (int32 style : {64, 65, 66, 67, 68, 69, 888}) {
    const Rect o{76, x, 96, int16(x + 20)};
    DrawBevelOval(&o, style);
    x = int16(x + 22);
  }
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/sbar.png",
                              "scroll bars; QX_UPDATE_GOLDENS=1 makes it again");
}

}  // namespace
