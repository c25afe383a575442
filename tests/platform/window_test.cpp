// Headless host windows: records, z-order, titles, the work area and frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/qx_window.h"

namespace {

class HostWindows : public ::testing::Test {
 protected:
  void SetUp() override { PlatWindowsReset(); }
  void TearDown() override { PlatWindowsReset(); }
  static std::vector<PlatWindow> Order() {
    std::vector<PlatWindow> v(size_t(PlatWindowZOrder(nullptr, 0)));
    PlatWindowZOrder(v.data(), int32_t(v.size()));
    return v;
  }
};

TEST_F(HostWindows, ANewWindowIsHiddenInFrontWithItsRectangleAndTitle) {
  const PlatWindow a = PlatWindowCreate(PlatRect{10, 20, 110, 220}, "first", kPlatFrameCaption);
  const PlatWindow b = PlatWindowCreate(PlatRect{0, 0, 5, 5}, nullptr, 0);
  ASSERT_NE(a, 0);
  ASSERT_NE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{b, a}));
  EXPECT_FALSE(PlatWindowIsShown(a));
  PlatRect r{};
  ASSERT_TRUE(PlatWindowGetContent(a, &r));
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right, 220);
  char title[16];
  EXPECT_EQ(PlatWindowGetTitle(a, title, sizeof title), 5);
  EXPECT_STREQ(title, "first");
  EXPECT_EQ(PlatWindowGetTitle(b, title, sizeof title), 0);
  EXPECT_STREQ(title, "");
}

TEST_F(HostWindows, RaisingShowingRetitlingAndDestroying) {
  const PlatWindow a = PlatWindowCreate(PlatRect{0, 0, 10, 10}, "a", 0);
  const PlatWindow b = PlatWindowCreate(PlatRect{0, 0, 10, 10}, "b", 0);
  const PlatWindow c = PlatWindowCreate(PlatRect{0, 0, 10, 10}, "c", 0);
  EXPECT_TRUE(PlatWindowRaise(a));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{a, c, b}));
  EXPECT_TRUE(PlatWindowShow(b, true));
  EXPECT_TRUE(PlatWindowIsShown(b));
  EXPECT_TRUE(PlatWindowShow(b, false));
  EXPECT_FALSE(PlatWindowIsShown(b));
  ASSERT_TRUE(PlatWindowSetTitle(c, "a much longer title"));
  char small[6];
  EXPECT_EQ(PlatWindowGetTitle(c, small, sizeof small), 19);
  EXPECT_STREQ(small, "a muc");
  ASSERT_TRUE(PlatWindowSetContent(c, PlatRect{1, 2, 3, 4}));
  PlatRect r{};
  PlatWindowGetContent(c, &r);
  EXPECT_EQ(r.left, 2);
  EXPECT_TRUE(PlatWindowDestroy(c));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{a, b}));
  // A window that is gone is refused everywhere.
  EXPECT_FALSE(PlatWindowExists(c));
  EXPECT_FALSE(PlatWindowDestroy(c));
  EXPECT_FALSE(PlatWindowRaise(c));
  EXPECT_FALSE(PlatWindowShow(c, true));
  EXPECT_FALSE(PlatWindowSetTitle(c, "x"));
  EXPECT_FALSE(PlatWindowSetContent(c, r));
  EXPECT_FALSE(PlatWindowGetContent(c, &r));
  EXPECT_EQ(PlatWindowGetTitle(c, small, sizeof small), -1);
  EXPECT_FALSE(PlatWindowGetContent(a, nullptr));
  EXPECT_FALSE(PlatWindowExists(0));
}

TEST_F(HostWindows, TheWorkAreaIsConfigurable) {
  PlatRect r = PlatGetWorkArea();
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 768);
  EXPECT_EQ(r.right, 1024);
  PlatSetWorkArea(PlatRect{20, 0, 600, 800});
  r = PlatGetWorkArea();
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 800);
  PlatWindowsReset();
  EXPECT_EQ(PlatGetWorkArea().bottom, 768);
}

TEST_F(HostWindows, FrameMarginsByKind) {
  struct Case {
    uint32_t frame;
    int32_t top, side;
  };
  const Case cases[] = {
      {0, 0, 0},
      {kPlatFrameBorder, 1, 1},
      {kPlatFrameCaption, 21, 3},
      {kPlatFrameCaption | kPlatFrameEdge, 23, 5},
      {kPlatFrameCaption | kPlatFrameSizable | kPlatFrameEdge, 24, 6},
      {kPlatFrameSizable, 4, 4},
  };
  for (const Case& c : cases) {
    const PlatRect m = PlatWindowFrameMargins(c.frame);
    EXPECT_EQ(m.top, c.top) << c.frame;
    EXPECT_EQ(m.left, c.side) << c.frame;
    EXPECT_EQ(m.bottom, c.side) << c.frame;
    EXPECT_EQ(m.right, c.side) << c.frame;
  }
}

}  // namespace
