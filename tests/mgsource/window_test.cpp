// Windows of the window manager over the headless host windows.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mgsource/draw/dregion.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wsysinfo.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_window.h"
#include "mgsource/memory.h"
#include "test_support.h"

namespace {

std::vector<std::pair<int32, uInt32>> gDelivered;  // code and reference word

int32 Record(WEventRecord* e, uInt32 refCon) {
  gDelivered.push_back({e->code, refCon});
  return 7;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    PlatWindowsReset();
    gDelivered.clear();
  }
  void TearDown() override {
    WDestroyAllWindows();
    PlatWindowsReset();
    WEventRecord e;
    while (WGetNextEvent(&e)) {
    }
  }
  static std::vector<int32> Codes() {
    std::vector<int32> v;
    for (auto& d : gDelivered) v.push_back(d.first);
    return v;
  }
  static ConstPStr P(const char* s) {
    static uChar buf[256];
    buf[0] = uChar(std::strlen(s));
    std::memcpy(buf + 1, s, buf[0]);
    return buf;
  }
  Capture capture_;
};

TEST_F(WindowTest, CreatingShowingAndHidingSendTheirEvents) {
  const Rect r{50, 60, 250, 460};
  const WindowRef w = WCreate(0x3C, P("Panel"), &Record, &r, 0, 1, 1234);
  ASSERT_NE(w, kWNoWindow);
  EXPECT_EQ(Codes(), (std::vector<int32>{weWindCreate, weWindShow}));
  EXPECT_EQ(gDelivered[0].second, 1234u);
  EXPECT_TRUE(WIsWindow(w));
  EXPECT_TRUE(WIsVisible(w));
  EXPECT_TRUE(PlatIsWindowVisible(WHostWindow(w)));
  EXPECT_EQ(WGetRefCon(w), 1234u);
  EXPECT_EQ(WGetStyle(w), 0x3Cu);
  WShow(w);  // visible already: nothing
  EXPECT_EQ(gDelivered.size(), 2u);
  WHide(w);
  EXPECT_FALSE(WIsVisible(w));
  EXPECT_EQ(Codes().back(), weWindHide);
  Str255 t;
  WGetTitle(w, t);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t + 1), t[0]), "Panel");
  WSetTitle(w, P("Renamed"));
  WGetTitle(w, t);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t + 1), t[0]), "Renamed");
  // An empty rectangle becomes 0, 0, 5, 5; without show the window stays hidden.
  const WindowRef small = WCreate(0, nullptr, nullptr, nullptr, 0, 0, 0);
  Rect g;
  WGetGlobalRect(small, &g);
  EXPECT_EQ(g.bottom, 5);
  EXPECT_EQ(g.right, 5);
  EXPECT_FALSE(WIsVisible(small));
}

TEST_F(WindowTest, OriginsRectanglesAndSizes) {
  const Rect r{100, 200, 300, 500};
  const WindowRef w = WCreate(0, P("w"), &Record, &r, 0, 0, 0);
  Rect port;
  WGetRect(w, &port);
  EXPECT_EQ(port.top, 0);
  EXPECT_EQ(port.bottom, 200);
  EXPECT_EQ(port.right, 300);
  WSetOrigin(w, Point{-20, 40});
  Point o;
  WGetOrigin(w, &o);
  EXPECT_EQ(o.v, -20);
  EXPECT_EQ(o.h, 40);
  WGetRect(w, &port);
  EXPECT_EQ(port.top, -20);
  EXPECT_EQ(port.left, 40);
  EXPECT_EQ(port.bottom, 180);
  EXPECT_EQ(port.right, 340);
  gDelivered.clear();
  const Rect moved{110, 200, 310, 500};  // same size
  WSize(w, &moved);
  EXPECT_EQ(Codes(), (std::vector<int32>{weWindMove}));
  gDelivered.clear();
  const Rect grown{110, 200, 410, 500};
  WSize(w, &grown);
  EXPECT_EQ(Codes(), (std::vector<int32>{weWindSize}));
  gDelivered.clear();
  WSize(w, &grown);
  EXPECT_TRUE(gDelivered.empty());
  Rect g;
  WGetGlobalRect(w, &g);
  EXPECT_EQ(g.bottom, 410);
  // Moving keeps the size; global and local points convert both ways with
  // the origin; a move is pinned so that the rectangle stays in 16 bits.
  gDelivered.clear();
  WMove(w, 50, 60);
  EXPECT_EQ(Codes(), (std::vector<int32>{weWindMove}));
  WGetGlobalRect(w, &g);
  EXPECT_EQ((std::vector<int32>{g.top, g.left, g.bottom, g.right}), (std::vector<int32>{50, 60, 350, 360}));
  Point pt{55, 70};
  WGlobalToLocal(w, &pt);
  EXPECT_EQ(pt.v, 5 - 20);
  EXPECT_EQ(pt.h, 10 + 40);
  WLocalToGlobal(w, &pt);
  EXPECT_EQ(pt.v, 55);
  EXPECT_EQ(pt.h, 70);
  WMove(w, 40000, -40000);
  WGetGlobalRect(w, &g);
  EXPECT_EQ((std::vector<int32>{g.top, g.left, g.bottom}), (std::vector<int32>{32767 - 300, -32768, 32767}));
}

// The record's clip region, read outside drawing, holds the content limited
// by the clip whatever the order of clip changes inside and outside drawing
// brackets and of origin moves.
TEST_F(WindowTest, TheClipRegionFollowsTheClipChangesInAndOutOfDrawing) {
  const Rect r{100, 200, 300, 500};  // content 0, 0, 200, 300
  const Rect a{10, 20, 50, 80}, b{100, 150, 120, 170};
  const auto clipped = [](const Rect* clip) {
    Rect saved;
    WSetClipRect(clip, &saved);
  };
  const auto restored = [] {
    const Rect none{0, 0, 0, 0};
    WRestoreClip(&none);
  };
  struct Case {
    const char* name;
    std::vector<std::function<void(WindowRef)>> steps;  // each inside a bracket unless it says
    PlatRect box;
  };
  const auto bracket = [](std::function<void()> f) {
    return [f](WindowRef w) {
      WPortState saved;
      WSetup(w, &saved);
      f();
      WRestore(&saved);
    };
  };
  const std::vector<Case> cases = {
      {"set and put back", {bracket([&] { clipped(&a); restored(); })}, {0, 0, 300, 200}},
      {"left set", {bracket([&] { clipped(&a); })}, {20, 10, 80, 50}},
      {"set and put back twice", {bracket([&] { clipped(&a); restored(); }), bracket([&] { clipped(&a); restored(); })},
       {0, 0, 300, 200}},
      {"put back inside, content set outside, put back again",
       {bracket([&] { clipped(&a); restored(); }), [&](WindowRef w) { WSetContentRect(w, &b); },
        bracket([&] { restored(); })},
       {0, 0, 300, 200}},
      {"set again after a content set outside",
       {bracket([&] { clipped(&a); }), [&](WindowRef w) { WSetContentRect(w, &b); }, bracket([&] { clipped(&a); })},
       {20, 10, 80, 50}},
      {"origin moved inside after a clip set",
       {[&](WindowRef w) {
         WPortState saved;
         WSetup(w, &saved);
         clipped(&a);
         WSetOrigin(w, Point{-10, 0});  // content and clip move up by 10
         WRestore(&saved);
       }},
       {20, 0, 80, 40}},
      {"nested brackets", {bracket([&] {
                             WPortState inner;
                             WSetup(WCurrentPort(), &inner);
                             clipped(&b);
                             WRestore(&inner);
                             clipped(&a);
                           })},
       {20, 10, 80, 50}},
  };
  for (const Case& c : cases) {
    const WindowRef w = WCreate(0, P("w"), &Record, &r, 0, 0, 0);
    ASSERT_NE(WRecord(w), nullptr);
    for (const auto& step : c.steps) step(w);
    PlatRect box{};
    PlatGetRgnBox(WRecord(w)->clipRgn, &box);
    EXPECT_EQ((std::vector<int32_t>{box.left, box.top, box.right, box.bottom}),
              (std::vector<int32_t>{c.box.left, c.box.top, c.box.right, c.box.bottom}))
        << c.name;
    WDestroy(w);
  }
}

struct Delivery {
  int32 code;
  uInt32 refCon;
  int32 where;
};
std::vector<Delivery> gLog;
WindowRef gOther = kWNoWindow;
int32 LogAndInterfere(WEventRecord* e, uInt32 refCon) {
  gLog.push_back({e->code, refCon, e->where});
  // A handler that tries to change the active window while it changes.
  if (e->code == weSetFocus && gOther) WSetActiveWindow(gOther);
  return 1;
}

TEST_F(WindowTest, AClickActivatesItsWindowFirstAndTheIdleRegionFiltersMoves) {
  const Rect ra{10, 10, 110, 110}, rb{10, 200, 110, 300};
  const WindowRef a = WCreate(0x0C, P("a"), &LogAndInterfere, &ra, 0, 1, 1);
  const WindowRef b = WCreate(0x0C, P("b"), &LogAndInterfere, &rb, 0, 1, 2);
  WSetActiveWindow(a);
  gLog.clear();
  WSetRefCon(b, 22);
  gOther = a;
  WEventRecord click{};
  click.code = weMouseDown;
  click.window = b;
  EXPECT_EQ(WDispatchEvent(&click), 1);
  gOther = kWNoWindow;
  ASSERT_EQ(gLog.size(), 3u);
  EXPECT_EQ((std::vector<int32>{gLog[0].code, int32(gLog[0].refCon), gLog[0].where}),
            (std::vector<int32>{weKillFocus, 1, b}));
  EXPECT_EQ((std::vector<int32>{gLog[1].code, int32(gLog[1].refCon), gLog[1].where}),
            (std::vector<int32>{weSetFocus, 22, a}));
  EXPECT_EQ(gLog[2].code, weMouseDown);
  EXPECT_TRUE(WIsActive(b));
  EXPECT_FALSE(WIsActive(a));
  // A click on the active window is only delivered; to its new handler
  // once it has one.
  gLog.clear();
  WDispatchEvent(&click);
  ASSERT_EQ(gLog.size(), 1u);
  gDelivered.clear();
  WSetEventHandler(b, &Record);
  EXPECT_EQ(WDispatchEvent(&click), 7);
  EXPECT_EQ(gDelivered.size(), 1u);
  WSetEventHandler(b, &LogAndInterfere);

  // Moves inside (5, 5) and outside (50, 50) an idle region of (0, 0, 10, 10).
  const Rect idle{0, 0, 10, 10};
  const DRgn rgn = DRectRgn(&idle);
  ASSERT_NE(rgn, 0u);
  const int32 inside = 5 | 5 << 16, outside = 50 | 50 << 16;
  const struct {
    DRgn region;
    Bool32 flag;
    int32 where;
    bool delivered;
  } rows[] = {
      {0, 0, inside, true},      // no region yet
      {rgn, 0, inside, false},   {rgn, 0, outside, true},
      {rgn, 1, inside, true},    {rgn, 1, outside, false},
      {0, 1, inside, false},     // a null region is empty
  };
  bool first = true;
  for (const auto& row : rows) {
    if (!first) WSetIdleRgn(b, row.region, row.flag);
    first = false;
    gLog.clear();
    WEventRecord move{};
    move.code = weMouseMove;
    move.window = b;
    move.where = row.where;
    WDispatchEvent(&move);
    EXPECT_EQ(gLog.size(), row.delivered ? 1u : 0u) << row.region << " " << row.flag << " " << row.where;
  }
  // The region was copied.
  DDestroyRgn(rgn);
  WSetIdleRgn(b, 0, 0);
}

TEST_F(WindowTest, BringingToFrontRaisesAndShows) {
  const Rect r{0, 0, 10, 10};
  const WindowRef a = WCreate(0, nullptr, nullptr, &r, 0, 0, 0);
  const WindowRef b = WCreate(0, nullptr, nullptr, &r, 0, 0, 0);
  WindowRef order[2];
  ASSERT_EQ(WWindowsInOrder(order, 2), 2);
  EXPECT_EQ(order[0], b);
  WBringToFront(a);
  WWindowsInOrder(order, 2);
  EXPECT_EQ(order[0], a);
  EXPECT_TRUE(WIsVisible(a));
  EXPECT_FALSE(WIsVisible(b));
  // The Close command follows WSetCloseable on the host window.
  WSetCloseable(a, 0);
  EXPECT_FALSE(PlatIsCloseEnabled(WHostWindow(a)));
  WSetCloseable(a, 1);
  EXPECT_TRUE(PlatIsCloseEnabled(WHostWindow(a)));
}

int32 Handles(const MemStatsRecord& m) { return m.nUnlockedHandles + m.nLockedHandles; }

// Takes the queued events and dispatches them, as the main loop does (a
// bounded number: a deferred disposal posts itself again).
void Drain(int32 rounds = 64) {
  WEventRecord e;
  for (int32 i = 0; i < rounds && WGetNextEvent(&e); ++i) WDispatchEvent(&e);
}

TEST_F(WindowTest, DestroyingTheCurrentWindowDefersItsFreeingAndNeutralisesItsEvents) {
  const Rect r{0, 0, 10, 10};
  MemStatsRecord before{};
  AZMemStats(&before);
  const WindowRef w = WCreate(0, nullptr, &Record, &r, 0, 1, 0);
  const PlatWindow host = WHostWindow(w);
  ASSERT_NE(host, 0);
  EXPECT_EQ(WFindWindowByHwnd(host), w);
  WEventRecord e{};
  e.code = weMouseDown;
  e.window = w;
  ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
  for (int32 nested : {0, 1}) {
    // Current (depth 1) and set up under another window (depth 2).
    WPortState saved, inner;
    WSetup(w, &saved);
    if (nested) WSetup(WRootWindow(), &inner);
    if (!nested) {
      WDestroy(w);
      EXPECT_EQ(Codes().back(), weWindHide);
    }
    EXPECT_FALSE(WIsWindow(w));
    gDelivered.clear();
    Drain();
    EXPECT_TRUE(gDelivered.empty()) << "its queued click found no handler";
    EXPECT_NE(WRecord(w), nullptr) << "not freed while set up";
    EXPECT_TRUE(PlatIsWindow(host));
    if (nested) WRestore(&inner);
    WRestore(&saved);
  }
  EXPECT_EQ(capture_.Count("still set up"), 1) << "the set-up case is reported once";
  Drain();
  EXPECT_EQ(WRecord(w), nullptr);
  EXPECT_FALSE(PlatIsWindow(host));
  EXPECT_EQ(WFindWindowByHwnd(host), kWNoWindow);
  MemStatsRecord after{};
  AZMemStats(&after);
  EXPECT_EQ(Handles(after), Handles(before));
}

intptr_t FailCreate(PlatWindow, uint32_t message, uintptr_t, intptr_t) { return message == kPlatMsgCreate ? -1 : 0; }

TEST_F(WindowTest, AHostWindowThatCannotBeMadeLeavesNoWindow) {
  ASSERT_TRUE(PlatRegisterClass(PlatWindowClass{"QXDChild", &FailCreate, 0, 0}));
  WRootWindow();
  MemStatsRecord before{};
  AZMemStats(&before);
  const Rect r{0, 0, 10, 10};
  EXPECT_EQ(WCreate(0x0C, nullptr, &Record, &r, 0, 1, 0), kWNoWindow);
  EXPECT_TRUE(gDelivered.empty()) << "no -3 for a window that is not there";
  EXPECT_EQ(WFirstWindow(), WDisposalWindow());
  MemStatsRecord after{};
  AZMemStats(&after);
  EXPECT_EQ(Handles(after), Handles(before));
  EXPECT_EQ(capture_.Count("host window cannot be made"), 1);
}

// References that are no live record report 26 and act on the root window.
TEST_F(WindowTest, AReferenceThatIsNoWindowReportsAndTheRootStandsIn) {
  const Rect r{0, 0, 10, 10};
  // The live window is made first: made after, it could take the freed one's
  // place.  Past it lies the next handle, which may be a live window of
  // another test: the inside reference is one no handle can have.
  const WindowRef live = WCreate(0, nullptr, nullptr, &r, 0, 0, 0);
  const WindowRef freed = WCreate(0, nullptr, nullptr, &r, 0, 0, 0);
  WDestroy(freed);
  Drain();
  const UHandle foreign = AZNewHClr(64);
  const WindowRef bad[] = {kWNoWindow, freed, WindowRef(uintptr_t(foreign)), live + 2, 0x7654321};
  WSetRefCon(kWRootWindow, 99);
  for (WindowRef w : bad) {
    capture_.Clear();
    EXPECT_EQ(WGetRefCon(w), 99u) << w;
    Str255 t;
    WGetTitle(w, t);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t + 1), t[0]), "Event handler");
    EXPECT_EQ(WResolveWindow(w), WRootWindow());
    EXPECT_EQ(capture_.Count("no window"), 3) << w;
  }
  WSetRefCon(kWRootWindow, 0);
  AZDisposeHandle(foreign);
}

// Events posted to the root, whichever way it is named, come out naming the
// window WRootWindow() answers; the root's timers agree.
TEST_F(WindowTest, TheRootWindowGoesByOneName) {
  const WindowRef root = WRootWindow();
  ASSERT_NE(root, kWNoWindow);
  EXPECT_EQ(WResolveWindow(kWRootWindow), root);
  EXPECT_EQ(WResolveWindow(root), root);
  for (WindowRef posted : {WindowRef(kWNoWindow), WindowRef(kWRootWindow), root}) {
    WEventRecord e{};
    e.code = kWEvUser;
    e.window = posted;
    ASSERT_EQ(WPostEvent(&e, 0, kWPostAnyLevel), kNoErr);
    WEventRecord out{};
    ASSERT_TRUE(WGetNextEvent(&out));
    EXPECT_EQ(out.window, root) << posted;
  }
  ASSERT_EQ(WStartTimer(root, 100000, 77), 1);
  EXPECT_EQ(WStartTimer(kWRootWindow, 100000, 77), 0) << "one timer of that id on the root";
  EXPECT_EQ(WKillTimer(kWRootWindow, 77), 1);
}

TEST_F(WindowTest, TheMenuEventAsksTheWindowsHandler) {
  const Rect r{0, 0, 10, 10};
  const WindowRef w = WCreate(kWStyleNoHost, nullptr, &Record, &r, 0, 0, 5);
  gDelivered.clear();
  EXPECT_EQ(MSendMenuEvent(w), 7) << "the handler's answer decides whether the menu is shown";
  EXPECT_EQ(gDelivered, (std::vector<std::pair<int32, uInt32>>{{-106, 5}}));
}

TEST_F(WindowTest, WorkAreaAndFrameMargins) {
  Rect area;
  WGetWorkAreaRect(Point{0, 0}, &area);
  // The whole screen.
  EXPECT_EQ(area.bottom, PlatSurfaceHeight(PlatScreenSurface()));
  EXPECT_EQ(area.right, PlatSurfaceWidth(PlatScreenSurface()));
  PlatSetWorkArea(PlatRect{40, 0, 800, 600});
  WGetWorkAreaRect(Point{0, 0}, &area);
  EXPECT_EQ(area.left, 40);
  struct Case {
    uInt32 style;
    int16 top, side;
  };
  const Case cases[] = {{0, 0, 0},       {0x0100, 1, 1},  {0x0004, 24, 5},
                        {0x003C, 25, 6}, {0x0014, 25, 6}, {0x0110, 4, 4}};
  for (const Case& c : cases) {
    Rect m;
    WGetShellRect(c.style, &m);
    EXPECT_EQ(m.top, c.top) << c.style;
    EXPECT_EQ(m.left, c.side) << c.style;
    EXPECT_EQ(m.right, c.side) << c.style;
    EXPECT_EQ(m.bottom, c.side) << c.style;
  }
}

// A new style word makes the host window again around the same content;
// a change of the closeable bit alone keeps it.
TEST_F(WindowTest, ARestyleMakesTheHostWindowAgainAroundTheContent) {
  const Rect r{100, 50, 300, 450};
  const WindowRef w = WCreate(0x003C, P("w"), &Record, &r, 0, 1, 1);
  for (uInt32 style : {0x0100u, 0u, 0x0004u, 0x0110u}) {
    const PlatWindow old = WHostWindow(w);
    gDelivered.clear();
    WSetStyle(w, style);
    EXPECT_TRUE(gDelivered.empty()) << "the old window's hide is not reported";
    EXPECT_FALSE(PlatIsWindow(old));
    EXPECT_EQ(WFindWindowByHwnd(WHostWindow(w)), w);
    EXPECT_TRUE(PlatIsWindowVisible(WHostWindow(w)));
    Rect m, c;
    PlatRect f;
    WGetShellRect(style, &m), WGetGlobalRect(w, &c), PlatGetWindowRect(WHostWindow(w), &f);
    EXPECT_EQ((std::vector<int32>{c.top, c.left, f.top, f.left, f.bottom, f.right}),
              (std::vector<int32>{100, 50, 100 - m.top, 50 - m.left, 300 + m.bottom, 450 + m.right})) << style;
  }
  const PlatWindow kept = WHostWindow(w);
  WSetStyle(w, 0x0118);
  EXPECT_EQ(WHostWindow(w), kept);
  EXPECT_TRUE(PlatIsCloseEnabled(kept));
  PlatShowWindow(WHostWindow(w), kPlatSwMinimize);
  EXPECT_TRUE(WIsIconic(w));
}

}  // namespace

namespace {

TEST_F(WindowTest, StylesMapToHostStylesAndClasses) {
  const uint32_t caption = kPlatWsClipChildren | kPlatWsCaption | kPlatWsSysMenu;
  const uint32_t popup = kPlatWsPopup | kPlatWsClipChildren;
  const uint32_t edges = kPlatWsExClientEdge | kPlatWsExWindowEdge;
  const struct {
    uInt32 style;
    uint32_t ws, ex;
    const char* cls;
  } rows[] = {
      {0x0000, popup, 0, "QXDChild"},
      {0x0100, popup | kPlatWsBorder, 0, "QXDChild"},
      {0x0104, caption, edges, "QXDChild"},
      {0x003C, caption | kPlatWsThickFrame | kPlatWsMaximizeBox | kPlatWsMinimizeBox, edges, "QXDChild"},
      {0x0031, popup | kPlatWsThickFrame | kPlatWsMaximizeBox, kPlatWsExDlgModalFrame, "QXDChild"},
      {0x0002, popup, kPlatWsExTopmost, "QXDChild"},
      {0x0003, popup, kPlatWsExTopmost | kPlatWsExDlgModalFrame, "QXMenuWnd"},
  };
  for (const auto& row : rows) {
    uint32_t ws = 0, ex = 0;
    EXPECT_STREQ(WStyleToWin32(row.style, &ws, &ex), row.cls) << row.style;
    EXPECT_EQ(ws, row.ws) << row.style;
    EXPECT_EQ(ex, row.ex) << row.style;
    const Rect r{10, 10, 60, 60};
    const WindowRef w = WCreate(row.style, P("t"), nullptr, &r, 0, 0, 0);
    const WindowRecord* rec = WRecord(w);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(PlatGetWindowWord(rec->hwnd), intptr_t(w));
    EXPECT_EQ(PlatIsCloseEnabled(rec->hwnd), (row.style & 0x0008) != 0) << row.style;
    EXPECT_EQ((std::vector<int32>{rec->minSize[0], rec->maxSize[1], rec->cursor}),
              (std::vector<int32>{1, 30000, -1}));
  }
}

TEST_F(WindowTest, FloatersWaitForADocumentWindowAndModalWindowsStack) {
  const Rect r{10, 10, 60, 60};
  const WindowRef doc = WCreate(0x0C, P("doc"), &Record, &r, 0, 0, 0);
  const WindowRef floater = WCreate(0x02, P("f"), &Record, &r, 0, 1, 0);
  const WindowRef stays = WCreate(0x82, P("s"), &Record, &r, 0, 1, 0);
  EXPECT_FALSE(WIsVisible(floater)) << "no document window is active";
  EXPECT_EQ(WActiveDocWind(), kWNoWindow);
  WShow(doc);
  WSetActiveWindow(doc);
  EXPECT_EQ(WActiveDocWind(), doc);
  EXPECT_TRUE(WIsVisible(floater) && WIsVisible(stays));
  // A modal window in front hides the floating windows but those of 0x0080,
  // and owns the document windows made meanwhile.
  const WindowRef m1 = WCreate(0x0D, P("m1"), &Record, &r, 0, 1, 0);
  EXPECT_FALSE(WIsVisible(floater));
  EXPECT_TRUE(WIsVisible(stays));
  const WindowRef m2 = WCreate(0x0D, P("m2"), &Record, &r, 0, 1, 0);
  EXPECT_EQ(WFrontModal(), m2);
  EXPECT_EQ(WActiveDocWind(), m2);
  const WindowRef owned = WCreate(0x0C, P("o"), &Record, &r, 0, 0, 0);
  EXPECT_EQ(PlatGetOwner(WHostWindow(owned)), WHostWindow(m1)) << "the last window of the stack";
  WHide(m2);
  EXPECT_EQ(WFrontModal(), m1);
  WDestroy(m1);
  EXPECT_EQ(WFrontModal(), kWNoWindow);
  EXPECT_TRUE(WIsVisible(floater)) << "shown again with no modal window in front";
  // While the application is inactive every floating window is held back.
  WShowFloaters(1, 0);
  EXPECT_FALSE(WIsVisible(floater) || WIsVisible(stays));
  WShowFloaters(0, 0);
  EXPECT_TRUE(WIsVisible(floater) && WIsVisible(stays));
}

std::vector<std::pair<int32, int32>> gDraws;  // where and globalWhere of event 14
int32 RecordDraw(WEventRecord* e, uInt32) {
  if (e->code == weWindDraw) gDraws.push_back({e->where, e->globalWhere});
  return 0;
}

TEST_F(WindowTest, TheRedrawSendsTheUpdateBoxInLocalCoordinatesAndTheKeptPortStays) {
  const Rect r{10, 10, 110, 210};
  const WindowRef w = WCreate(0x0C, P("w"), &RecordDraw, &r, 0, 1, 0);
  WSetOrigin(w, Point{-20, 30});
  const PlatWindow host = WHostWindow(w);
  PlatValidateRect(host, nullptr);
  const Rect area{-10, 40, 0, 90};  // client (10, 10) to (60, 20)
  WInvalRect(w, &area);
  gDraws.clear();
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
  ASSERT_EQ(gDraws.size(), 1u);
  const auto pt = [](int32 v, int32 h) { return int32(uint32_t(uint16_t(v)) | uint32_t(uint16_t(h)) << 16); };
  EXPECT_EQ(gDraws[0], std::make_pair(pt(-10, 40), pt(0, 90)));
  EXPECT_FALSE(WUpdating());
  // The kept port: WRestore to depth 0 leaves the window selected; the next
  // WSetup of it skips the switch; a destroy drops it.
  WSetKeptPortMode(1);
  WPortState saved;
  WSetup(w, &saved);
  WRestore(&saved);
  EXPECT_EQ(WCurrentPort(), w);
  EXPECT_EQ(WKeptPort(), w);
  WSetup(w, &saved);
  EXPECT_EQ(saved.window, kWNoWindow);
  // A nested setup of the kept window restores it for the outer one.
  WPortState inner;
  WSetup(w, &inner);
  WRestore(&inner);
  EXPECT_EQ(WCurrentPort(), w);
  WRestore(&saved);
  WDestroy(w);
  EXPECT_EQ(WKeptPort(), kWNoWindow);
  EXPECT_EQ(WCurrentPort(), kWNoWindow);
  WSetKeptPortMode(0);
  // Invalidating all windows skips the root window's style.
  const WindowRef skip = WCreate(0x8000, nullptr, nullptr, &r, 0, 1, 0);
  PlatValidateRect(WHostWindow(skip), nullptr);
  WInvalRect(kWAllWindows, nullptr);
  EXPECT_FALSE(WGetUpdateRect(skip, nullptr));
  Str255 t;
  WGetTitle(skip, t);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t + 1), t[0]), "Root window");
}

}  // namespace

namespace {

std::vector<int32> gNeeds;  // WNeedsDraw of two rectangles during event 14
int32 AskNeedsDraw(WEventRecord* e, uInt32) {
  if (e->code != weWindDraw) return 0;
  const Rect inside{0, 0, 5, 5}, outside{50, 50, 60, 60};
  gNeeds = {WNeedsDraw(&inside), WNeedsDraw(&outside)};
  return 0;
}

TEST_F(WindowTest, SizeLimitsZoomUpdateAndFinding) {
  const Rect r{100, 100, 300, 400};
  const WindowRef w = WCreate(0x1C, P("w"), &AskNeedsDraw, &r, 0, 1, 0);
  Rect m, g;
  WGetShellRect(0x1C, &m);
  // Outer limits: the content is clamped to them less the frame.
  const Point small{int16(50 + m.top + m.bottom), int16(60 + m.left + m.right)};
  WSetSizeLimits(w, nullptr, &small);
  WGetGlobalRect(w, &g);
  EXPECT_EQ((std::vector<int32>{g.top, g.left, g.bottom, g.right}), (std::vector<int32>{100, 100, 150, 160}));
  WZoom(w, 1);
  EXPECT_TRUE(WIsZoomed(w));
  EXPECT_EQ(WRecord(w)->restoreRect.bottom, 150);
  WZoom(w, 0);
  EXPECT_FALSE(WIsZoomed(w));
  // WUpdate redraws at once; WNeedsDraw answers for the box redrawn only
  // during the redraw.
  PlatValidateRect(WHostWindow(w), nullptr);
  const Rect corner{0, 0, 10, 10};
  WInvalRect(w, &corner);
  WUpdate(w);
  EXPECT_EQ(gNeeds, (std::vector<int32>{1, 0}));
  EXPECT_EQ(WNeedsDraw(&corner), 1);
  Point at{110, 120};
  EXPECT_EQ(WFindWindowAt(kWNoWindow, &at), w);
  EXPECT_EQ((std::vector<int32>{at.v, at.h}), (std::vector<int32>{10, 20}));
}

}  // namespace

namespace {

struct AlertSeen {
  std::string title;
  Bool32 inAlert = 0, nativeModal = 0;
} gAlert;
int32_t SeeAlert(const char* title, const char*, int32_t, int32_t) {
  gAlert = AlertSeen{title, WInAlert(), WNativeModal()};
  return 0;
}
int32 AlertWhileDrawing(WEventRecord* e, uInt32) {
  if (e->code == weWindDraw) WAlert(reinterpret_cast<ConstPStr>("\x02hi"), 0);
  return 0;
}

TEST_F(WindowTest, AnAlertDuringARedrawTakesTheWindowOutOfViewAndInvalidatesTheOthers) {
  const PlatWindow frame = PlatCreateWindow(nullptr, "frame", 0, 0, PlatRect{-100, -100, -90, -90}, 0);
  PlatSetFrameWindow(frame);
  const PlatAlertProc before = PlatSetAlertProc(&SeeAlert);
  const Rect r{10, 10, 60, 60}, s{10, 100, 60, 160};
  const WindowRef drawing = WCreate(0x0C, P("d"), &AlertWhileDrawing, &r, 0, 1, 0);
  const WindowRef other = WCreate(0x0C, P("o"), nullptr, &s, 0, 1, 0);
  PlatValidateRect(WHostWindow(other), nullptr);
  WUpdate(drawing);
  PlatSetAlertProc(before);
  EXPECT_EQ(gAlert.title, "") << "an empty caption";
  EXPECT_TRUE(gAlert.inAlert && gAlert.nativeModal);
  EXPECT_FALSE(WInAlert() || WNativeModal());
  EXPECT_FALSE(WIsVisible(drawing));
  EXPECT_TRUE(WGetUpdateRect(other, nullptr)) << "all windows invalidated";
  PlatMsg m;
  ASSERT_TRUE(PlatPeekMessage(&m, frame, kPlatMsgUser4, kPlatMsgUser4, kPlatPeekRemove));
  ASSERT_TRUE(PlatPeekMessage(&m, WHostWindow(drawing), kPlatMsgSysCommand, kPlatMsgSysCommand, kPlatPeekRemove));
  EXPECT_EQ(m.wParam, uintptr_t(kPlatScMinimize));
  PlatSetFrameWindow(0);
}

}  // namespace

namespace {

// Random create, show, hide, activate, destroy, post and purge steps against
// a small model: the visible and live sets, the active window, and each
// window's queued clicks reaching only a live window's handler.
std::vector<WindowRef> gClicked;
int32 RecordClick(WEventRecord* e, uInt32) {
  if (e->code == weKey) gClicked.push_back(e->window);
  return 0;
}

TEST_F(WindowTest, RandomStepsKeepTheListsAndTheModelInStep) {
  MemStatsRecord before{};
  WRootWindow();
  AZMemStats(&before);
  uint32_t seed = 12345;
  const auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  struct Model {
    bool visible;
    int32 queued;
  };
  std::map<WindowRef, Model> model;
  std::vector<WindowRef> gone;
  WindowRef active = kWNoWindow;
  const Rect r{10, 10, 40, 40};
  for (int32 step = 0; step < 600; ++step) {
    std::vector<WindowRef> live;
    for (auto& kv : model) live.push_back(kv.first);
    const WindowRef pick = live.empty() ? kWNoWindow : live[next(uint32_t(live.size()))];
    switch (next(7)) {
      case 0:
        if (model.size() < 12) {
          const Bool32 show = Bool32(next(2));
          const WindowRef w = WCreate(0x0C, nullptr, &RecordClick, &r, 0, show, 0);
          ASSERT_NE(w, kWNoWindow);
          model[w] = Model{show != 0, 0};
        }
        break;
      case 1:
        if (pick) WShow(pick), model[pick].visible = true;
        break;
      case 2:
        if (pick) {
          WHide(pick);
          model[pick].visible = false;
          if (active == pick) active = kWNoWindow;
        }
        break;
      case 3:
        if (pick) WSetActiveWindow(pick), active = pick, model[pick].visible = true;
        break;
      case 4:
        if (pick) {
          WDestroy(pick);
          model.erase(pick);
          gone.push_back(pick);
          if (active == pick) active = kWNoWindow;
        }
        break;
      case 5:
        if (pick) {
          WEventRecord e{};
          e.code = weKey;
          e.window = pick;
          ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
          ++model[pick].queued;
        }
        break;
      default: {
        gClicked.clear();
        Drain(1000);
        std::map<WindowRef, int32> got;
        for (WindowRef w : gClicked) ++got[w];
        for (auto& kv : model) {
          EXPECT_EQ(got[kv.first], kv.second.queued) << step;
          got.erase(kv.first);
          kv.second.queued = 0;
        }
        EXPECT_TRUE(got.empty()) << "an event reached a destroyed window";
        for (WindowRef w : gone) EXPECT_EQ(WRecord(w), nullptr) << step;
        gone.clear();
        break;
      }
    }
    int32 listed = 0;
    for (WindowRef w = WFirstWindow(); w; w = WNextWindow(w)) listed += model.count(w) ? 1 : 0;
    ASSERT_EQ(listed, int32(model.size())) << step;
    for (auto& kv : model) ASSERT_EQ(WIsVisible(kv.first) != 0, kv.second.visible) << step;
    ASSERT_EQ(WGetActiveWindow(), active) << step;
  }
  WDestroyAllWindows();
  Drain(1000);
  MemStatsRecord after{};
  AZMemStats(&after);
  EXPECT_EQ(Handles(after), Handles(before));
  EXPECT_EQ(capture_.Alerts().size(), 0u);
}

}  // namespace
