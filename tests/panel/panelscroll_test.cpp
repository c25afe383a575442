// Moving the view over a panel: the wheel, the grabber with its axis lock,
// the automatic scrolling of a drag near the edge and its limits, and the
// drop highlight.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include "draw_start.h"
#include "engine/objswap.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/wdrag.h"
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

// A root whose click puts the transaction in the grabber mode.
int32 GrabberClick(ObjHeap, int32, void* state, void*, void*) {
  static_cast<TransactionState*>(state)->mode = kTRModeGrabber;
  return 1;
}

TEST_F(Scroll, AShiftGrabberDragFirstSidewaysNeverScrollsVertically) {
  ASSERT_NE(MakeRoot(), 0);
  if (!TRStackBlock()) TRInit();
  auto* rec = const_cast<ObjClassRecord*>(ClassRecord(kClsFrontPanel));
  const ObjMethodAddr savedClick = rec->methods[kMsgOClick];
  rec->methods[kMsgOClick] = reinterpret_cast<ObjMethodAddr>(&GrabberClick);
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
    TRPanelEvent(&press, panel_);
    WRestore(&port);
    EXPECT_EQ(gNext, gSteps.size());
    EXPECT_GT(Visible().left, 0) << shift;
    if (shift) EXPECT_EQ(Visible().top, 0) << "locked to the first axis";
    else EXPECT_GT(Visible().top, 0) << "free";
  }
  rec->methods[kMsgOClick] = savedClick;
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

// A drag over the panel, delivered to the window's drop handler: the root's
// click is the hit test and its do-it the target's actions.
struct DragScript {
  std::vector<int32> hits;  // the hit tests' answers in turn (then the last)
  int32 target = 0;         // the object the hit test finds
  int32 overReply = 0;      // the target's reply to the drag-over action
  int32 clicks = 0;
  std::vector<std::pair<int32, int32>> actions;  // action, the path's last object
};
DragScript gDrag;
int32 DragClick(ObjHeap, int32 root, void*, void* top, void*) {
  const int32 answer = gDrag.hits[std::min<size_t>(size_t(gDrag.clicks), gDrag.hits.size() - 1)];
  ++gDrag.clicks;
  const TransactionFrame path[3] = {{root, kCatFPSC, 2, 0}, {gDrag.target, kCatFPSC, 2, 0}, {0, 0, 0, 0}};
  TRWriteFrames(top, gDrag.target ? path : path + 2, gDrag.target ? 3 : 1);
  return answer;
}
int32 DragDoit(ObjHeap, int32, void* frame, int32 action, void*) {
  int32 last = 0;
  for (const auto* f = static_cast<const TransactionFrame*>(frame); f->kind; ++f) last = f->object;
  gDrag.actions.push_back({action, last});
  return action == kActDragOver ? gDrag.overReply : 0;
}

TEST_F(Scroll, DragsOverTheWindowHitTestAgainWhileTheAnswerIsDragOver) {
  const int32 root = MakeRoot();
  ASSERT_NE(root, 0);
  auto* rec = const_cast<ObjClassRecord*>(ClassRecord(kClsFrontPanel));
  const ObjMethodAddr saved[2] = {rec->methods[kMsgOClick], rec->methods[kMsgODoit]};
  rec->methods[kMsgOClick] = reinterpret_cast<ObjMethodAddr>(&DragClick);
  rec->methods[kMsgODoit] = reinterpret_cast<ObjMethodAddr>(&DragDoit);
  if (!TRStackBlock()) TRInit();
  const int32 target = Obj(kClsCosmetic, root);
  const Rect r{20, 30, 60, 90};
  std::memcpy(*panel_ + target + kObjBounds, &r, sizeof r);
  WSetRefCon(window_, uInt32(uintptr_t(panel_)));
  DragAcceptWindow(window_, [](WEventRecord* e, uInt32 refCon) {
    return DragTrackPanelRec(e, reinterpret_cast<ObjHeap>(uintptr_t(refCon)));
  });
  using A = std::vector<std::pair<int32, int32>>;
  const struct {
    std::vector<int32> hits;
    int32 found, overReply;
    int32 moves;     // drag movements after entering
    int32 lastCode;  // then left or dropped
    int32 clicks, result;
    A actions;
  } cases[] = {
      // Found: the target takes the drag (bit 1): later movements go to it
      // without a hit test; the drop goes down its kept path.
      {{kActDragOver}, target, 1, 2, kDragDropped, 1, 0,
       A{{kActDragOver, target}, {kActDragOver, target}, {kActDragOver, target}, {kActDragOver, target},
         {kActDrop, target}}},
      // A target that does not take it is hit-tested again while the answer
      // is drag over, a bounded number of times.
      {{kActDragOver, kActDragOver, 3}, target, 0, 0, kDragLeft, 3, 0,
       A{{kActDragOver, target}, {kActDragOver, target}}},
      {{kActDragOver}, target, 0, 0, kDragLeft, 16, 0, A(15, {kActDragOver, target})},
      // Nothing under the point: 77; a refused drop beeps and sends nothing.
      {{3}, 0, 0, 1, kDragDropped, 3, kDragNoTarget, A{}},
      {{1}, 0, 0, 0, kDragDropped, 2, kDragNoTarget, A{}},
  };
  const PlatWindow hwnd = WHostWindow(window_);
  Point at{40, 50};
  WLocalToGlobal(window_, &at);
  for (const auto& c : cases) {
    gDrag = DragScript{c.hits, c.found, c.overReply, 0, {}};
    WEventRecord e{};
    DragSendEvent(&e, kDragEntered, kDragKindDrop, hwnd, at);
    for (int32 i = 0; i < c.moves; ++i) DragSendEvent(&e, kWEvDragOver, kDragKindDrop, hwnd, at);
    const int32 result = DragSendEvent(&e, c.lastCode, kDragKindDrop, hwnd, at);
    EXPECT_EQ(gDrag.clicks, c.clicks) << c.hits[0] << " " << c.overReply;
    if (c.lastCode == kDragDropped) { EXPECT_EQ(result, c.result); }
    EXPECT_EQ(gDrag.actions, c.actions) << c.hits[0] << " " << c.overReply;
  }
  DragRefuseWindow(window_);
  rec->methods[kMsgOClick] = saved[0];
  rec->methods[kMsgODoit] = saved[1];
}

}  // namespace panelscrolltest
