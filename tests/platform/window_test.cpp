// Headless host windows: records, z-order, titles, the work area and frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_defproc.h"
#include "platform/qx_thread.h"
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
  const PlatWindow a = PlatWindowCreate(PlatRect{20, 10, 220, 110}, "first", kPlatFrameCaption);
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
  ASSERT_TRUE(PlatWindowSetContent(c, PlatRect{2, 1, 4, 3}));
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

TEST_F(HostWindows, TheWorkAreaIsTheScreenUnlessATestSetsOne) {
  PlatRect r = PlatGetWorkArea();
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, PlatSurfaceHeight(PlatScreenSurface()));
  EXPECT_EQ(r.right, PlatSurfaceWidth(PlatScreenSurface()));
  PlatSetWorkArea(PlatRect{0, 20, 800, 600});
  r = PlatGetWorkArea();
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right, 800);
  PlatWindowsReset();
  EXPECT_EQ(PlatGetWorkArea().bottom, PlatSurfaceHeight(PlatScreenSurface()));
}

TEST_F(HostWindows, FrameMarginsByKind) {
  struct Case {
    uint32_t frame;
    int32_t top, side;
  };
  const Case cases[] = {
      {0, 0, 0},
      {kPlatFrameBorder, 1, 1},
      {kPlatFrameCaption, 22, 3},
      {kPlatFrameCaption | kPlatFrameEdge, 24, 5},
      {kPlatFrameCaption | kPlatFrameSizable | kPlatFrameEdge, 25, 6},
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

namespace {

std::vector<std::string> gCalls;
intptr_t ClassProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m == kPlatMsgCreate) gCalls.push_back("create");
  if (m == kPlatMsgDestroy) gCalls.push_back("destroy " + std::to_string(w));
  if (m == kPlatMsgUser0) return intptr_t(wp) + 1;
  return PlatDefWindowProc(w, m, wp, lp);
}

class WindowRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowsReset();
    gCalls.clear();
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"c", ClassProc, 0, kPlatNoBrush}));
  }
  void TearDown() override { PlatWindowsReset(); }
  static PlatWindow Make(uint32_t ex = 0, PlatWindow owner = 0) {
    return PlatCreateWindow("c", "t", 0, ex, PlatRect{0, 0, 50, 50}, owner);
  }
  static std::vector<PlatWindow> Order() {
    std::vector<PlatWindow> v(size_t(PlatWindowZOrder(nullptr, 0)));
    PlatWindowZOrder(v.data(), int32_t(v.size()));
    return v;
  }
};

TEST_F(WindowRecords, ClassesProceduresAndWords) {
  EXPECT_FALSE(PlatRegisterClass(PlatWindowClass{"c", nullptr, 0, kPlatNoBrush})) << "name taken";
  EXPECT_FALSE(PlatRegisterClass(PlatWindowClass{nullptr, nullptr, 0, kPlatNoBrush}));
  EXPECT_EQ(PlatCreateWindow("missing", "t", 0, 0, PlatRect{0, 0, 1, 1}, 0), 0);
  const PlatWindow w = Make();
  ASSERT_NE(w, 0);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"create"}));
  EXPECT_EQ(PlatSendMessage(w, kPlatMsgUser0, 41, 0), 42);
  EXPECT_EQ(PlatGetWindowThread(w), PlatThreadCurrentId());
  EXPECT_TRUE(PlatSetWindowWord(w, 1234));
  EXPECT_EQ(PlatGetWindowWord(w), 1234);
  const std::string longTitle(300, 'x');
  ASSERT_TRUE(PlatWindowSetTitle(w, longTitle.c_str()));
  EXPECT_EQ(PlatWindowGetTitle(w, nullptr, 0), 255) << "long titles are cut";
  const PlatWindow owned = Make(0, w);
  ASSERT_TRUE(PlatDestroyWindow(w));
  EXPECT_EQ(gCalls, (std::vector<std::string>{"create", "create", "destroy " + std::to_string(owned),
                                              "destroy " + std::to_string(w)}));
  EXPECT_FALSE(PlatIsWindow(owned));
  EXPECT_FALSE(PlatSetWindowWord(w, 1));
}

TEST_F(WindowRecords, ZOrderTopmostBandOwnersAndInsertAfter) {
  const PlatWindow a = Make(), b = Make();
  const PlatWindow top = Make(kPlatWsExTopmost);
  const PlatWindow c = Make();
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{top, c, b, a})) << "topmost band leads";
  const PlatWindow owned = Make(0, a);
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{top, c, b, owned, a})) << "directly in front of its owner";
  ASSERT_TRUE(PlatWindowRaise(a));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{top, owned, a, c, b})) << "raised with its owner, below the band";
  ASSERT_TRUE(PlatSetWindowPos(b, c, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{top, owned, a, c, b}));
  ASSERT_TRUE(PlatSetWindowPos(c, kPlatInsertBottom, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate));
  ASSERT_TRUE(PlatSetWindowPos(c, owned, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{top, owned, c, a, b})) << "directly behind";
  ASSERT_TRUE(PlatSetWindowPos(b, kPlatInsertTopmost, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{b, top, owned, c, a}));
  ASSERT_TRUE(PlatSetWindowPos(top, kPlatInsertBottom, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate));
  EXPECT_EQ(Order(), (std::vector<PlatWindow>{b, top, owned, c, a})) << "the band keeps a topmost window in front";
  EXPECT_EQ(PlatWindowFromPoint(10, 10), 0) << "hidden windows are not hit";
  PlatShowWindow(c, kPlatSwShowNoActivate);
  EXPECT_EQ(PlatWindowFromPoint(10, 10), c);
  EXPECT_EQ(PlatWindowFromPoint(60, 10), 0);
}

TEST_F(WindowRecords, FrameInsetsPerSideAndClientPoints) {
  struct Case {
    uint32_t style, ex;
    int32_t top, side;
  };
  const Case cases[] = {
      {0, 0, 0, 0},
      {kPlatWsBorder, 0, 1, 1},
      {kPlatWsDlgFrame, 0, 3, 3},
      {0, kPlatWsExDlgModalFrame, 3, 3},
      {kPlatWsCaption, 0, 22, 3},
      {kPlatWsCaption | kPlatWsThickFrame, kPlatWsExClientEdge, 25, 6},
      {kPlatWsThickFrame | kPlatWsBorder, 0, 4, 4},
      {kPlatWsBorder, kPlatWsExClientEdge, 3, 3},
  };
  for (const Case& c : cases) {
    const PlatRect in = PlatFrameInsets(c.style, c.ex);
    EXPECT_EQ(in.top, c.top) << c.style;
    EXPECT_EQ(in.left, c.side) << c.style;
    EXPECT_EQ(in.right, c.side) << c.style;
    EXPECT_EQ(in.bottom, c.side) << c.style;
  }
  const PlatWindow w = PlatCreateWindow("c", "t", kPlatWsCaption, 0, PlatRect{100, 50, 300, 250}, 0);
  PlatRect r;
  ASSERT_TRUE(PlatGetClientRect(w, &r));
  EXPECT_EQ(r.right, 200 - 6);
  EXPECT_EQ(r.bottom, 200 - 25);
  int32_t x = 0, y = 0;
  ASSERT_TRUE(PlatClientToScreen(w, &x, &y));
  EXPECT_EQ(x, 103);
  EXPECT_EQ(y, 72);
  ASSERT_TRUE(PlatScreenToClient(w, &x, &y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

}  // namespace
