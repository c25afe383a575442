// Painting windows: update regions, paint order, begin/end paint, growing,
// scrolling, retained surfaces and the headless display.
#include <gtest/gtest.h>

#include <functional>

#include "platform/qx_display.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_input.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_text.h"
#include "winsys_support.h"

namespace {

using winsys_test::Pump;
using winsys_test::Recorder;
using Lines = std::vector<std::string>;

// What the last Paint saw.
struct Seen {
  PlatRect box{};
  int32_t black = 0;
  int paints = 0;
};
Seen gSeen;

// Paints everything it may black and counts what the clip let through.
intptr_t PaintingProc(PlatWindow w, uint32_t m, uintptr_t wp, intptr_t lp) {
  if (m != kPlatMsgPaint) return winsys_test::LoggingProc(w, m, wp, lp);
  winsys_test::LoggingProc(w, m, wp, lp);  // logged only: the test answers Paint there
  PlatPaintInfo pi;
  const PlatObj dc = PlatBeginPaint(w, &pi);
  EXPECT_NE(dc, 0u);
  gSeen.box = pi.paint;
  PlatSurface* s = PlatWindowSurface(w);
  for (int32_t y = 0; y < PlatSurfaceHeight(s); ++y)
    for (int32_t x = 0; x < PlatSurfaceWidth(s); ++x) PlatSurfaceSetPixel(s, x, y, 0xFFFFFF);
  PlatPatBlt(dc, 0, 0, 1000, 1000, kPlatBlackness);
  gSeen.black = 0;
  for (int32_t y = 0; y < PlatSurfaceHeight(s); ++y)
    for (int32_t x = 0; x < PlatSurfaceWidth(s); ++x) gSeen.black += PlatSurfaceGetPixel(s, x, y) == 0xFF000000u;
  ++gSeen.paints;
  PlatEndPaint(w, &pi);
  return 0;
}

class WinPaint : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowsReset();
    Recorder::Get().Clear();
    Recorder::Get().answers.clear();
    Recorder::Get().answers[kPlatMsgPaint] = 0;
    Recorder::Get().logMoves = true;
    gSeen = Seen{};
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"paint", PaintingProc, 0, kPlatNoBrush}));
    ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"brush", nullptr, 0, 0x00FF00}));
  }
  void TearDown() override {
    winsys_test::Pump();
    PlatWindowsReset();
  }
  static PlatWindow Make(const char* name, const PlatRect& r, const char* cls = "paint") {
    const PlatWindow w = PlatCreateWindow(cls, name, 0, 0, r, 0);
    Recorder::Get().names[w] = name;
    PlatShowWindow(w, kPlatSwShowNoActivate);
    PlatValidateRect(w, nullptr);
    Recorder::Get().Clear();
    return w;
  }
  static PlatRect Update(PlatWindow w) {
    PlatRect r{};
    PlatGetUpdateRect(w, &r);
    return r;
  }
};

bool Same(const PlatRect& a, const PlatRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(WinPaint, OnePaintAfterPostsAndInputWithTheRegionAsClip) {
  const PlatWindow w = Make("W", PlatRect{0, 0, 200, 200});
  PlatRect r1{10, 10, 20, 20}, r2{30, 30, 40, 40};
  ASSERT_TRUE(PlatInvalidateRect(w, &r1, false));
  ASSERT_TRUE(PlatInvalidateRect(w, &r2, false));
  PlatPostMessage(w, kPlatMsgUser0, 0, 0);
  PlatInjectMouseMove(100, 100, 1);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"Msg1024 W", "NcHitTest W", "SetCursor W", "MouseMove W", "Paint W"}));
  EXPECT_TRUE(Same(gSeen.box, PlatRect{10, 10, 40, 40}));

  EXPECT_EQ(gSeen.black, 200);
  EXPECT_FALSE(PlatGetUpdateRect(w, nullptr)) << "begin-paint empties the region";
}

TEST_F(WinPaint, TopmostFirstHiddenKeepsShowingAndGrowingInvalidate) {
  const PlatWindow back = Make("B", PlatRect{0, 0, 50, 50});
  const PlatWindow front = Make("F", PlatRect{20, 20, 70, 70});
  PlatInvalidateRect(back, nullptr, false);
  PlatInvalidateRect(front, nullptr, false);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"Paint F", "Paint B"}));
  // Hidden: the region is kept, no paint; showing invalidates all.
  PlatShowWindow(back, kPlatSwHide);
  PlatRect small{1, 1, 2, 2};
  PlatInvalidateRect(back, &small, false);
  Recorder::Get().Clear();
  EXPECT_EQ(Pump(), 0);
  EXPECT_TRUE(Same(Update(back), small));
  PlatShowWindow(back, kPlatSwShowNoActivate);
  EXPECT_TRUE(Same(Update(back), PlatRect{0, 0, 50, 50}));
  PlatValidateRect(back, nullptr);
  // Growing 100 -> 120 columns invalidates the new strip, white.
  const PlatWindow g = Make("G", PlatRect{200, 0, 300, 50});
  PlatSurface* s = PlatWindowSurface(g);
  PlatSurfaceClear(s, 0x123456);
  ASSERT_TRUE(PlatMoveWindow(g, PlatRect{200, 0, 320, 50}));
  EXPECT_TRUE(Same(Update(g), PlatRect{100, 0, 120, 50}));
  EXPECT_EQ(PlatSurfaceGetPixel(s, 99, 10), 0xFF123456u) << "retained";
  EXPECT_EQ(PlatSurfaceGetPixel(s, 100, 10), 0xFFFFFFFFu);
  // Moving a window over another and away never makes it paint.
  PlatValidateRect(g, nullptr);
  PlatMoveWindow(front, PlatRect{200, 0, 250, 50});
  PlatMoveWindow(front, PlatRect{400, 400, 450, 450});
  EXPECT_FALSE(PlatGetUpdateRect(g, nullptr));
  EXPECT_FALSE(PlatInvalidateRect(0x7FFF, nullptr, false));
  EXPECT_EQ(PlatBeginPaint(0x7FFF, nullptr), 0u);
}

TEST_F(WinPaint, UpdateNowEraseOnlyWithABrushAndDefaultPainting) {
  const PlatWindow w = Make("W", PlatRect{0, 0, 30, 30});
  PlatRect r{0, 0, 10, 10};
  PlatInvalidateRect(w, &r, true);
  EXPECT_TRUE(PlatUpdateWindow(w));
  EXPECT_EQ(gSeen.paints, 1) << "painted at once";
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"Paint W"})) << "no class brush: no EraseBackground";
  // A class with a background and the default procedure: erased, painted.
  const PlatWindow b = Make("B", PlatRect{100, 0, 130, 30}, "brush");
  PlatInvalidateRect(b, nullptr, true);
  PlatMsg m;
  ASSERT_TRUE(PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove));
  EXPECT_EQ(m.message, uint32_t(kPlatMsgPaint));
  PlatDispatchMessage(&m);
  EXPECT_FALSE(PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove));
  EXPECT_EQ(PlatSurfaceGetPixel(PlatWindowSurface(b), 5, 5), 0xFF00FF00u);
}

TEST_F(WinPaint, ScrollingMovesPixelsAndTheRegionInside) {
  const PlatWindow w = Make("W", PlatRect{0, 0, 50, 100});
  PlatSurface* s = PlatWindowSurface(w);
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 50; ++x) PlatSurfaceSetPixel(s, x, y, uint32_t(y));
  PlatRect pending{0, 50, 5, 55};
  PlatInvalidateRect(w, &pending, false);
  PlatRect uncovered{};
  EXPECT_EQ(PlatScrollWindowEx(w, 0, 10, nullptr, nullptr, &uncovered, kPlatScrollInvalidate), kPlatRgnSimple);
  EXPECT_TRUE(Same(uncovered, PlatRect{0, 0, 50, 10}));
  for (int32_t y : {0, 9, 10, 55, 99}) {
    const uint32_t want = y < 10 ? uint32_t(y) : uint32_t(y - 10);
    EXPECT_EQ(PlatSurfaceGetPixel(s, 3, y) & 0xFFFFFF, want) << y;
  }
  PlatObj rgn = PlatCreateRectRgn(0, 0, 0, 0);
  PlatGetUpdateRgn(w, rgn);
  std::vector<PlatRect> rects;
  PlatGetRgnRects(rgn, &rects);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_TRUE(Same(rects[0], PlatRect{0, 0, 50, 10}));
  EXPECT_TRUE(Same(rects[1], PlatRect{0, 60, 5, 65})) << "the pending region moved along";
  // Inside a rectangle and a clip, without invalidation.
  PlatValidateRect(w, nullptr);
  PlatRect rect{0, 20, 50, 40}, clip{0, 0, 50, 35};
  EXPECT_EQ(PlatScrollWindowEx(w, 0, -5, &rect, &clip, &uncovered, 0), kPlatRgnSimple);
  EXPECT_TRUE(Same(uncovered, PlatRect{0, 30, 50, 35}));
  EXPECT_EQ(PlatSurfaceGetPixel(s, 0, 14) & 0xFFFFFF, 4u) << "above the destination: kept";
  EXPECT_EQ(PlatSurfaceGetPixel(s, 0, 15) & 0xFFFFFF, 10u) << "moved out of the rectangle, inside the clip";
  EXPECT_EQ(PlatSurfaceGetPixel(s, 0, 20) & 0xFFFFFF, 15u);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 0, 36) & 0xFFFFFF, 26u) << "outside the clip: kept";
  EXPECT_FALSE(PlatGetUpdateRect(w, nullptr));
  PlatDeleteObject(rgn);
}

TEST_F(WinPaint, AContextGivenBackIsKeptAndHandedOutAsNew) {
  const PlatWindow w = Make("W", PlatRect{0, 0, 20, 10});
  const PlatObj pen = PlatCreatePen(kPlatPenSolid, 3, 0x0000FF), brush = PlatCreateSolidBrush(0x00FF00);
  const PlatObj clip = PlatCreateRectRgn(0, 0, 2, 2);
  // Each setting changed on the first context, and as a new context has it.
  struct Setting {
    const char* name;
    std::function<void(PlatObj)> change;
    std::function<int64_t(PlatObj)> read;
    int64_t fresh;
  };
  const Setting settings[] = {
      {"text", [](PlatObj dc) { PlatSetTextColor(dc, 0x123456); }, [](PlatObj dc) { return PlatSetTextColor(dc, 0); }, 0},
      {"back", [](PlatObj dc) { PlatSetBkColor(dc, 0x123456); }, [](PlatObj dc) { return PlatSetBkColor(dc, 0xFFFFFF); }, 0xFFFFFF},
      {"bkmode", [](PlatObj dc) { PlatSetBkMode(dc, kPlatBkTransparent); },
       [](PlatObj dc) { return PlatSetBkMode(dc, kPlatBkOpaque); }, kPlatBkOpaque},
      {"rop2", [](PlatObj dc) { PlatSetRop2(dc, kPlatRop2Black); }, [](PlatObj dc) { return PlatGetRop2(dc); }, kPlatRop2CopyPen},
      {"fill", [](PlatObj dc) { PlatSetPolyFillMode(dc, kPlatFillWinding); },
       [](PlatObj dc) { return PlatSetPolyFillMode(dc, kPlatFillAlternate); }, kPlatFillAlternate},
      {"extra", [](PlatObj dc) { PlatSetTextCharacterExtra(dc, 4); },
       [](PlatObj dc) { return PlatSetTextCharacterExtra(dc, 0); }, 0},
      {"pen", [&](PlatObj dc) { PlatSelectObject(dc, pen); },
       [](PlatObj dc) { return PlatCurrentObject(dc, kPlatObjPen); }, PlatGetStockObject(kPlatStockBlackPen)},
      {"brush", [&](PlatObj dc) { PlatSelectObject(dc, brush); },
       [](PlatObj dc) { return PlatCurrentObject(dc, kPlatObjBrush); }, PlatGetStockObject(kPlatStockWhiteBrush)},
      {"org", [](PlatObj dc) { PlatSetBrushOrg(dc, 3, 5, nullptr, nullptr); },
       [](PlatObj dc) {
         int32_t x = -1, y = -1;
         PlatSetBrushOrg(dc, 0, 0, &x, &y);
         return int64_t(x) * 8 + y;
       },
       0},
      {"clip", [&](PlatObj dc) { PlatSelectClipRgn(dc, clip); },
       [](PlatObj dc) {
         PlatRect box{};
         PlatGetClipBox(dc, &box);
         return int64_t(box.right) * 100 + box.bottom;
       },
       20 * 100 + 10},
  };
  const PlatObj first = PlatGetDc(w);
  ASSERT_NE(first, 0u);
  for (const Setting& s : settings) s.change(first);
  ASSERT_TRUE(PlatReleaseDc(w, first));
  const PlatObj again = PlatGetDc(w);
  EXPECT_EQ(again, first) << "the window kept it";
  for (const Setting& s : settings) EXPECT_EQ(s.read(again), s.fresh) << s.name;
  // It paints the window's pixels; a second context at the same time is
  // another, and only one is kept.
  PlatPatBlt(again, 0, 0, 20, 10, kPlatBlackness);
  EXPECT_EQ(PlatSurfaceGetPixel(PlatWindowSurface(w), 19, 9), 0xFF000000u);
  const PlatObj second = PlatGetDc(w);
  EXPECT_NE(second, again);
  ASSERT_TRUE(PlatReleaseDc(w, again));
  EXPECT_FALSE(PlatReleaseDc(w, again)) << "given back twice";
  ASSERT_TRUE(PlatReleaseDc(w, second));
  EXPECT_FALSE(PlatDeleteDc(second)) << "not kept: deleted";
  PlatDestroyWindow(w);
  EXPECT_FALSE(PlatDeleteDc(again)) << "deleted with its window";
  for (PlatObj o : {pen, brush, clip}) PlatDeleteObject(o);
}

TEST_F(WinPaint, TheHeadlessDisplayComposesWindowsInZOrder) {
  ASSERT_TRUE(PlatWindowSystemStart());
  EXPECT_STREQ(PlatGetDisplay()->Name(), "headless");
  const PlatWindow a = Make("A", PlatRect{10, 10, 60, 60});
  const PlatWindow b = Make("B", PlatRect{40, 40, 90, 90});
  PlatSurfaceClear(PlatWindowSurface(a), 0xFF0000);
  PlatSurfaceClear(PlatWindowSurface(b), 0x0000FF);
  PlatSurface* out = PlatSurfaceCreate(1, 1, kPlatRgb32);
  ASSERT_TRUE(PlatGetDisplay()->Compose(out));
  struct Probe {
    int32_t x, y;
    uint32_t want;
  };
  const Probe probes[] = {{5, 5, 0xFF808080u}, {20, 20, 0xFFFF0000u}, {50, 50, 0xFF0000FFu}, {80, 80, 0xFF0000FFu}};
  for (const Probe& p : probes) EXPECT_EQ(PlatSurfaceGetPixel(out, p.x, p.y), p.want) << p.x;
  PlatWindowRaise(a);
  PlatGetDisplay()->Compose(out);
  EXPECT_EQ(PlatSurfaceGetPixel(out, 50, 50), 0xFFFF0000u);
  PlatSurfaceDestroy(out);
}

// Child windows: made only with a parent, out of the z-order and never
// active, listed in the order they were made, painted after the top-level
// windows, moved with their parent down the tree, and invalidated as a tree
// without erasing.
TEST_F(WinPaint, ChildWindowsMoveWithTheirParentAndInvalidateAsATree) {
  const PlatWindow p = Make("P", PlatRect{0, 0, 200, 200});
  auto child = [&](const char* name, const PlatRect& r, PlatWindow parent) {
    const PlatWindow c = PlatCreateWindow("paint", name, kPlatWsChild | kPlatWsVisible, 0, r, parent);
    Recorder::Get().names[c] = name;
    PlatValidateRect(c, nullptr);
    return c;
  };
  const PlatWindow c1 = child("C1", PlatRect{10, 10, 50, 50}, p);
  const PlatWindow c2 = child("C2", PlatRect{60, 10, 100, 50}, p);
  const PlatWindow g = child("G", PlatRect{20, 20, 30, 30}, c1);
  ASSERT_TRUE(c1 && c2 && g);
  EXPECT_EQ(PlatCreateWindow("paint", "orphan", kPlatWsChild, 0, PlatRect{0, 0, 5, 5}, 0), 0);
  EXPECT_EQ(PlatGetParent(c1), p);
  EXPECT_EQ(PlatGetParent(g), c1);
  EXPECT_EQ(PlatGetParent(p), 0);
  PlatWindow kids[4] = {};
  EXPECT_EQ(PlatGetChildWindows(p, kids, 4), 2);
  EXPECT_EQ(kids[0], c1);
  EXPECT_EQ(kids[1], c2);
  EXPECT_EQ(PlatGetChildWindows(c1, nullptr, 0), 1);
  EXPECT_EQ(PlatWindowZOrder(nullptr, 0), 1) << "children stay out of the z-order";
  EXPECT_NE(PlatGetActiveWindow(), c1);
  Recorder::Get().Clear();
  PlatInvalidateRect(c1, nullptr, false);
  PlatInvalidateRect(p, nullptr, false);
  Pump();
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"Paint P", "Paint C1"})) << "the parent first";
  PlatShowWindow(p, kPlatSwHide);
  Pump();
  Recorder::Get().Clear();
  PlatInvalidateRect(c1, nullptr, false);
  EXPECT_EQ(Pump(), 0) << "no paint under a hidden parent";
  PlatShowWindow(p, kPlatSwShowNoActivate);
  PlatValidateRect(p, nullptr);
  Recorder::Get().Clear();
  Pump();
  EXPECT_EQ(Recorder::Get().Take(), (Lines{"Paint C1"}));

  // The parent moves by (5, 7): every descendant with it.
  ASSERT_TRUE(PlatMoveWindow(p, PlatRect{5, 7, 205, 207}));
  const struct {
    PlatWindow w;
    PlatRect frame;
  } moved[] = {{c1, {15, 17, 55, 57}}, {c2, {65, 17, 105, 57}}, {g, {25, 27, 35, 37}}};
  for (const auto& m : moved) {
    PlatRect r{};
    ASSERT_TRUE(PlatGetWindowRect(m.w, &r));
    EXPECT_TRUE(Same(r, m.frame)) << Recorder::Get().names[m.w];
  }

  // A child and its descendants, whole, without erasing; the rest untouched.
  ASSERT_TRUE(PlatInvalidateWithChildren(c1, false));
  EXPECT_FALSE(PlatInvalidateWithChildren(0x7FFF, false));
  const struct {
    PlatWindow w;
    bool invalid;
  } tree[] = {{p, false}, {c1, true}, {c2, false}, {g, true}};
  for (const auto& t : tree) {
    EXPECT_EQ(PlatGetUpdateRect(t.w, nullptr), t.invalid) << Recorder::Get().names[t.w];
    if (!t.invalid) continue;
    PlatPaintInfo pi{};
    ASSERT_NE(PlatBeginPaint(t.w, &pi), 0u);
    EXPECT_FALSE(pi.erase);
    PlatEndPaint(t.w, &pi);
  }
  PlatDestroyWindow(p);
  EXPECT_FALSE(PlatIsWindow(g)) << "children go with their parent";
}

}  // namespace
