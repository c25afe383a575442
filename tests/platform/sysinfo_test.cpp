// System values, colours, cursors and global blocks of the platform layer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/qx_cursor.h"
#include "platform/qx_display.h"
#include "platform/qx_file.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_surface.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_window.h"

namespace {

TEST(SystemValues, ColoursAreTheThirteenOfTheTableInBothByteOrders) {
  const struct {
    int32_t index;
    uint32_t bgr;
  } kTable[] = {
      {kPlatColourButtonFace, 0xC0C0C0},   {kPlatColourMenu, 0xC0C0C0},          {kPlatColourScrollBar, 0xC0C0C0},
      {kPlatColourButtonShadow, 0x808080}, {kPlatColourGreyText, 0x808080},      {kPlatColourHighlight, 0x800000},
      {kPlatColourButtonHighlight, 0xFFFFFF}, {kPlatColourWindow, 0xFFFFFF},     {kPlatColourHighlightText, 0xFFFFFF},
      {kPlatColourButtonText, 0},          {kPlatColourWindowText, 0},           {kPlatColourWindowFrame, 0},
      {kPlatColourMenuText, 0},
  };
  static_assert(std::size(kTable) == kPlatColourCount);
  for (const auto& row : kTable) {
    SCOPED_TRACE(row.index);
    EXPECT_EQ(PlatGetSysColour(row.index), row.bgr);
    const uint32_t rgb = PlatSysColourRgb(row.index);
    EXPECT_EQ((rgb & 0xFF) << 16 | (rgb & 0xFF00) | rgb >> 16, row.bgr);
  }
  EXPECT_EQ(PlatSysColourRgb(kPlatColourHighlight), 0x000080u);  // dark blue, not dark red
  EXPECT_EQ(PlatGetSysColour(-1), 0u);
  EXPECT_EQ(PlatGetSysColour(kPlatColourCount), 0u);
}

TEST(SystemValues, MetricsVersionAndDoubleClickOfTheOneScreen) {
  PlatWindowsReset();
  const int32_t w = PlatGetDisplay()->Width(), h = PlatGetDisplay()->Height();
  ASSERT_GT(w, 0);
  ASSERT_GT(h, 0);
  // A work area set for a test leaves the screen as it is.
  PlatSetWorkArea(PlatRect{0, 0, 800, 600});
  const struct {
    int32_t metric, value;
  } kTable[] = {
      {kPlatMetricScreenWidth, w},   {kPlatMetricScreenHeight, h},   {kPlatMetricVScrollWidth, 16},
      {kPlatMetricHScrollHeight, 16}, {kPlatMetricVScrollArrow, 16}, {kPlatMetricHScrollArrow, 16},
      {kPlatMetricVirtualLeft, 0},   {kPlatMetricVirtualTop, 0},     {kPlatMetricVirtualWidth, w},
      {kPlatMetricVirtualHeight, h}, {kPlatMetricMonitors, 1},       {kPlatMetricSameDisplayFormat, 1},
      {kPlatMetricScreenDepth, 32},  {kPlatMetricMenuHeight, 20},    {kPlatMetricSizeBoxWidth, 16},
      {kPlatMetricSizeBoxHeight, 16}, {kPlatMetricCount, 0},
      {-5, 0},
  };
  for (const auto& row : kTable) EXPECT_EQ(PlatGetSystemMetric(row.metric), row.value) << row.metric;
  PlatWindowsReset();
  EXPECT_EQ(PlatGetWorkArea().right, w);
  const PlatVersion v = PlatGetVersion();
  EXPECT_EQ(v.major, 4);
  EXPECT_EQ(v.minor, 0);
  EXPECT_TRUE(v.isNT);
  EXPECT_EQ(PlatGetDoubleClickTime(), 500u);
}

// A cursor whose top-left 2 x 2 pixels carry the four AND/XOR pairs:
// (0,0) a=0 x=0, (1,0) a=0 x=1, (0,1) a=1 x=0, (1,1) a=1 x=1; the rest a=1 x=0.
PlatCursor FourRuleCursor(int32_t hotX, int32_t hotY) {
  uint8_t andPlane[kPlatCursorPlaneBytes], xorPlane[kPlatCursorPlaneBytes];
  std::memset(andPlane, 0xFF, sizeof andPlane);
  std::memset(xorPlane, 0, sizeof xorPlane);
  andPlane[0] = 0x3F;  // row 0: pixels 0 and 1 a=0
  xorPlane[0] = 0x40;  // row 0: pixel 1 x=1
  xorPlane[4] = 0x40;  // row 1: pixel 1 x=1
  return PlatCreateCursor(hotX, hotY, andPlane, xorPlane);
}

TEST(Cursors, TheFourPixelRulesOverAScreen) {
  PlatCursorsReset();
  const PlatCursor c = FourRuleCursor(0, 0);
  ASSERT_NE(c, 0u);
  const uint32_t screen = 0xFF123456;
  const struct {
    int32_t x, y;
    uint32_t want;
  } kRules[] = {
      {0, 0, 0xFF000000}, {1, 0, 0xFFFFFFFF}, {0, 1, screen}, {1, 1, 0xFFEDCBA9}, {31, 31, screen}, {32, 0, screen},
  };
  for (const auto& r : kRules) EXPECT_EQ(PlatCursorPixel(c, r.x, r.y, screen), r.want) << r.x << "," << r.y;

  // Drawn with the hot spot at (5, 5) of a grey surface, clipped at its edge.
  PlatSurface* s = PlatSurfaceCreate(8, 8, kPlatRgb32);
  PlatSurfaceClear(s, 0x808080);
  const PlatCursor hot = FourRuleCursor(1, 1);
  ASSERT_TRUE(PlatCursorDraw(hot, s, 5, 5));
  EXPECT_EQ(PlatSurfaceGetPixel(s, 4, 4), 0xFF000000u);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 5, 4), 0xFFFFFFFFu);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 4, 5), 0xFF808080u);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 5, 5), 0xFF7F7F7Fu);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 7, 7), 0xFF808080u);
  EXPECT_FALSE(PlatCursorDraw(hot, nullptr, 0, 0));
  PlatSurfaceDestroy(s);
}

TEST(Cursors, SystemCursorsSetShowAndStaleHandles) {
  PlatCursorsReset();
  const PlatCursor arrow = PlatLoadSystemCursor(kPlatCursorArrow);
  const PlatCursor wait = PlatLoadSystemCursor(kPlatCursorWait);
  const PlatCursor size = PlatLoadSystemCursor(kPlatCursorSizeNWSE);
  ASSERT_NE(arrow, 0u);
  EXPECT_NE(arrow, wait);
  EXPECT_NE(wait, size);
  EXPECT_EQ(PlatLoadSystemCursor(99), 0u);
  // The arrow is black-edged at its hot spot and shows the screen far off.
  EXPECT_EQ(PlatCursorPixel(arrow, 0, 0, 0xFF00FF00), 0xFF000000u);
  EXPECT_EQ(PlatCursorPixel(arrow, 30, 30, 0xFF00FF00), 0xFF00FF00u);
  EXPECT_EQ(PlatGetCursor(), arrow);
  EXPECT_EQ(PlatSetCursor(wait), arrow);
  EXPECT_EQ(PlatSetCursor(size), wait);
  EXPECT_FALSE(PlatDestroyCursor(size));  // system cursors stay

  const PlatCursor made = FourRuleCursor(0, 0);
  EXPECT_EQ(PlatSetCursor(made), size);
  EXPECT_FALSE(PlatDestroyCursor(made));  // in use
  EXPECT_EQ(PlatLastError(), kPlatErrBusy);
  PlatSetCursor(arrow);
  EXPECT_TRUE(PlatCursorIsValid(made));
  EXPECT_TRUE(PlatDestroyCursor(made));
  EXPECT_FALSE(PlatCursorIsValid(made));
  EXPECT_FALSE(PlatDestroyCursor(made));
  EXPECT_EQ(PlatSetCursor(made), 0u);  // a stale handle changes nothing
  EXPECT_EQ(PlatGetCursor(), arrow);
  EXPECT_EQ(PlatSetCursor(12345), 0u);
  EXPECT_EQ(FourRuleCursor(32, 0), 0u);
  EXPECT_EQ(PlatCreateCursor(0, 0, nullptr, nullptr), 0u);

  EXPECT_TRUE(PlatCursorVisible());
  EXPECT_EQ(PlatShowCursor(false), -1);
  EXPECT_FALSE(PlatCursorVisible());
  EXPECT_EQ(PlatShowCursor(true), 0);
  EXPECT_TRUE(PlatCursorVisible());
  PlatSetCursor(0);
  EXPECT_FALSE(PlatCursorVisible());
  PlatCursorsReset();
}

TEST(GlobalBlocks, LockUnlockSizeFreeAndRefusedHandles) {
  const int32_t before = PlatGlobalLiveCount();
  const PlatGlobal movable = PlatGlobalAlloc(kPlatGlobalMovable | kPlatGlobalZeroInit, 100);
  const PlatGlobal fixed = PlatGlobalAlloc(kPlatGlobalFixed, 0);
  ASSERT_NE(movable, 0u);
  ASSERT_NE(fixed, 0u);
  EXPECT_EQ(PlatGlobalLiveCount(), before + 2);
  EXPECT_EQ(PlatGlobalSize(movable), 100u);
  EXPECT_EQ(PlatGlobalSize(fixed), 0u);
  auto* p = static_cast<uint8_t*>(PlatGlobalLock(movable));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0] | p[99], 0);
  EXPECT_EQ(PlatGlobalLock(movable), p);
  EXPECT_EQ(PlatGlobalLockCount(movable), 2);
  EXPECT_EQ(PlatGlobalUnlock(movable), 1);
  EXPECT_EQ(PlatGlobalUnlock(movable), 0);
  EXPECT_EQ(PlatGlobalUnlock(movable), -1);
  EXPECT_EQ(PlatLastError(), kPlatErrNotLocked);
  EXPECT_NE(PlatGlobalLock(fixed), nullptr);
  EXPECT_EQ(PlatGlobalUnlock(fixed), 0);
  EXPECT_EQ(PlatGlobalLockCount(fixed), 0);

  EXPECT_EQ(PlatGlobalAlloc(0x1000, 1), 0u);
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
  EXPECT_EQ(PlatGlobalAlloc(0, kPlatGlobalMaxSize + 1), 0u);

  EXPECT_TRUE(PlatGlobalFree(movable));
  EXPECT_TRUE(PlatGlobalFree(fixed));
  EXPECT_EQ(PlatGlobalLiveCount(), before);
  // Freed and never-made handles are refused by every call.
  for (PlatGlobal bad : {movable, fixed, PlatGlobal(0), PlatGlobal(0xDEADBEEF)}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(PlatGlobalIsValid(bad));
    EXPECT_EQ(PlatGlobalLock(bad), nullptr);
    EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
    EXPECT_EQ(PlatGlobalUnlock(bad), -1);
    EXPECT_EQ(PlatGlobalSize(bad), 0u);
    EXPECT_EQ(PlatGlobalLockCount(bad), -1);
    EXPECT_FALSE(PlatGlobalFree(bad));
  }
  // A new block never takes a freed block's handle.
  const PlatGlobal again = PlatGlobalAlloc(0, 4);
  EXPECT_NE(again, movable);
  EXPECT_NE(again, fixed);
  PlatGlobalFree(again);
}

}  // namespace
