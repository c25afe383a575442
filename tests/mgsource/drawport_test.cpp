// The drawing port: which port a target gets, the null port's reports, the
// entries that do more than forward, and windows drawing through the
// screen image.
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_event.h"
#include "platform/qx_region.h"
#include "platform/qx_thread.h"
#include "platform/qx_trace.h"
#include "platform/qx_window.h"
#include "test_support.h"

namespace {

class DrawPort : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
  }
  void TearDown() override {
    IAttachTarget(0, 0);
    DInstallTestPort(nullptr);
    for (int32 id : images_) IRelease(id);
    WDestroyAllWindows();
    PlatWindowsReset();
    // The input signal the host raised for the windows' messages is taken,
    // so that a later wait of this thread is not ended by it.
    PlatEvent* ev = PlatEventCreate(false);
    PlatWaitEventOrInput(ev, 0);
    PlatEventDestroy(ev);
  }
  WindowRef Window(uInt32 style, bool show) {
    const Rect r{40, 40, 140, 240};
    return WCreate(style, nullptr, nullptr, &r, 0, show, 0);
  }
  int32 ImageOf(WindowRef w) {
    int32 id = 0;
    EXPECT_EQ(ICreateWindowImage(&id, w), kNoErr);
    images_.push_back(id);
    return id;
  }
  std::vector<int32> images_;
  Capture capture_;
};

TEST_F(DrawPort, TargetChoosesThePort) {
  const WindowRef shown = Window(0x3C, true), hidden = Window(0x3C, false), page = Window(kWStyleRecordOnly, false);
  const struct {
    int32 image;
    const DPort* port;
  } cases[] = {
      {0, &gNullPort},
      {ImageOf(shown), &gHostPort},
      {ImageOf(hidden), &gNullPort},
      {ImageOf(page), &gHostPort},  // style 0x4000 draws even hidden
  };
  for (const auto& c : cases) {
    DSetPortTarget(c.image);
    EXPECT_EQ(DCurrentPort(), c.port) << "image " << c.image;
    EXPECT_EQ(c.port->target, uInt32(c.image)) << "slot 31 stores the id";
  }
  EXPECT_TRUE(capture_.Alerts().empty());
}

// Every entry of a drawing slot, called once with harmless arguments.
std::vector<std::function<void()>> DrawingEntries(int32 image) {
  static const Rect r{0, 0, 10, 10};
  static const Point pts[2] = {{0, 0}, {5, 5}};
  static const uChar text[] = "x";
  return {
      [] { DIsBW(); }, [] { DIsScreenPort(); }, [] { DSelectNormPen(0, 0); }, [] { DSelectPen(1, 0, 0); },
      [] { DSetPixel(1, 1); }, [] { DMove(1, 1); }, [] { DMoveTo(1, 1); }, [] { DLine(1, 1); },
      [] { DLineTo(1, 1); }, [] { DMHLine(1, 1, 0); }, [] { DMHLineTo(1, 1, 1); }, [] { DPolyLine(pts, 1); },
      [] { DPaintPoly(pts, 2, 0); }, [] { DFrameRect(&r); }, [] { DPaintRect(&r); },
      [] { DFrameRoundRect(&r, 2, 2); }, [] { DPaintRoundRect(&r, 2, 2); }, [] { DFrameOval(&r); },
      [] { DPaintOval(&r); }, [] { DFrameArc(&r, 0, 90); }, [] { DPaintArc(&r, 0, 90); },
      [] { DGrayOutRect(&r, 0); }, [image] { IDraw(image, nullptr, &r, 0, 0xFFFFFF, 0, 0xFFFFFF); },
      [] { DDrawBits(nullptr, nullptr, nullptr); }, [] { TBox(&r, 0, text + 1, 1, 0, 0, 0, 0, 0); },
      [] { TDraw(nullptr); }, [] { DHiliteRect(&r, 0, 0, 0, 0, 0); }, [] { DScrollRect(&r, 1, 1, 0, 0, 0); },
  };
}

TEST_F(DrawPort, NullPortIsSilentOnHiddenWindowsAndReportsEachCallWithoutTarget) {
  const int32 hidden = ImageOf(Window(0x3C, false));
  DSetPortTarget(hidden);
  for (auto& call : DrawingEntries(hidden)) call();
  EXPECT_TRUE(capture_.Alerts().empty()) << capture_.Alerts()[0];
  DSetPortTarget(0);
  for (auto& call : DrawingEntries(hidden)) {
    capture_.Clear();
    call();
    EXPECT_EQ(capture_.Alerts().size(), 1u);
  }
  capture_.Clear();
  EXPECT_EQ(DGetDepth(), 0);
  DFlush();
  EXPECT_TRUE(capture_.Alerts().empty());
  // Before any port is installed: one report for a drawing entry, nothing
  // for the clip and image entries.
  DInstallTestPort(nullptr);
  DLineTo(3, 3);
  EXPECT_EQ(capture_.Alerts().size(), 1u);
  const Rect r{0, 0, 5, 5};
  DSetClipRect(&r);
  IDraw(hidden, nullptr, &r, 0, 0, 0, 0);
  EXPECT_EQ(capture_.Alerts().size(), 1u);
}

// A port that records the slots it is called through.
std::vector<int32> gSlotsCalled;
Rect gClipSeen;
const Rect kBounds{3, 4, 50, 60};
DPort RecordingPort() {
  DPort p = gNullPort;
  p.setClip = [](const Rect* r) {
    gSlotsCalled.push_back(23);
    gClipSeen = *r;
    return 0;
  };
  p.drawImage = [](int32, const Rect*, const Rect*, DColor, DColor, DColor, DColor) {
    gSlotsCalled.push_back(24);
    return 0;
  };
  p.textBox = [](const Rect*, int32, const uChar*, int32, int32, DColor, DColor, DColor, DColor) {
    gSlotsCalled.push_back(26);
    return 0;
  };
  p.bounds = [](Rect* out) {
    gSlotsCalled.push_back(32);
    *out = kBounds;
    return 0;
  };
  return p;
}

TEST_F(DrawPort, EntriesThatFilterBeforeTheSlot) {
  static const DPort port = RecordingPort();
  DInstallTestPort(&port);
  gSlotsCalled.clear();
  const int32 live = ImageOf(Window(0x3C, true));
  int32 freed = 0;
  ASSERT_EQ(ICreateWindowImage(&freed, 0), kNoErr);
  IRelease(freed);
  const Rect r{0, 0, 10, 10}, empty{5, 5, 5, 5};
  const int32 ids[] = {0, 65535, freed};
  for (int32 id : ids) IDraw(id, nullptr, &r, 0, 0, 0, 0);
  EXPECT_EQ(capture_.Alerts().size(), 3u) << "each invalid id is reported";
  IDraw(live, nullptr, &r, kTransparentColor, kTransparentColor, 0, 0);
  gFontErr = 8;
  TBox(&empty, 0, nullptr, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(gFontErr, 0);
  EXPECT_TRUE(gSlotsCalled.empty());
  IDraw(live, nullptr, &r, kTransparentColor, 0, 0, 0);
  TBox(&r, 0, nullptr, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(gSlotsCalled, (std::vector<int32>{24, 26}));
  gSlotsCalled.clear();
  DSetClipRect(nullptr);
  EXPECT_EQ(gSlotsCalled, (std::vector<int32>{32, 23}));
  EXPECT_TRUE(DEqualRect(&gClipSeen, &kBounds));
  EXPECT_TRUE(DEqualRect(&gDrawState.clipRect, &kBounds));
  PlatRect box;
  PlatGetRgnBox(gDrawState.clipRgn, &box);
  EXPECT_EQ((std::vector<int32_t>{box.left, box.top, box.right, box.bottom}), (std::vector<int32_t>{4, 3, 60, 50}));
}

// Windows: the screen image follows the window set up, and its clip reaches
// the window's device context.
class TraceLines : public PlatTraceSink {
 public:
  void Line(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

TEST_F(DrawPort, BoundaryWindowSetupAttachesTheScreenImage) {
  const WindowRef w = Window(0x3C, true);
  WPortState saved;
  WSetup(w, &saved);
  EXPECT_EQ(IWindowOf(WScreenImage()), w);
  EXPECT_EQ(gDrawState.target, uInt32(WScreenImage()));
  EXPECT_EQ(DIsScreenPort(), 1);
  EXPECT_EQ(DGetDepth(), 32);
  ASSERT_NE(gDrawState.dc, 0u);
  const Rect clip{10, 20, 30, 50};
  Rect before;
  WSetClipRect(&clip, &before);
  EXPECT_TRUE(DEmptyRect(&before));
  PlatRect box;
  PlatGetClipBox(gDrawState.dc, &box);
  EXPECT_EQ((std::vector<int32_t>{box.left, box.top, box.right, box.bottom}), (std::vector<int32_t>{20, 10, 50, 30}));
  const Rect limit{0, 0, 20, 30};
  Rect prior;
  WLimitClip(&limit, &prior);
  PlatGetClipBox(gDrawState.dc, &box);
  EXPECT_EQ((std::vector<int32_t>{box.left, box.top, box.right, box.bottom}), (std::vector<int32_t>{20, 10, 30, 20}));
  WRestoreClip(&prior);
  PlatGetClipBox(gDrawState.dc, &box);
  EXPECT_EQ(box.right, 50);
  // A screen clip region is limited to the port and moved by its origin.
  const Rect wide{-50, 5, 40, 500};
  const DRgn screen = DRectRgn(&wide);
  WSetOrigin(w, Point{-10, 0});
  ASSERT_TRUE(WNewScreenClipRgn());
  WSetScreenClipRgn(screen);
  WDisposeScreenClipRgn();
  DDestroyRgn(screen);
  PlatGetClipBox(gDrawState.dc, &box);
  EXPECT_EQ((std::vector<int32_t>{box.left, box.top, box.right, box.bottom}), (std::vector<int32_t>{5, 0, 200, 50}));
  WSetOrigin(w, Point{0, 0});
  WRestoreClip(&prior);
  TraceLines trace;
  PlatSetTraceSink(gDrawState.dc, &trace);
  DFlush();
  PlatSetTraceSink(gDrawState.dc, nullptr);
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_NE(trace.lines[0].find("flush"), std::string::npos) << trace.lines[0];
  WRestore(&saved);
  EXPECT_EQ(gDrawState.target, 0u);
  EXPECT_EQ(gDrawState.dc, 0u);
  EXPECT_EQ(DCurrentPort(), &gNullPort);
  EXPECT_TRUE(capture_.Alerts().empty());
}

// A depth-0 pixmap takes the depth of its window's context: the port's
// 8-bit memory context for the port's window, else a window or screen one.
TEST_F(DrawPort, PixmapsMatchTheContextOfTheirWindow) {
  const WindowRef w1 = Window(0x3C, true), w2 = Window(0x3C, true);
  const PlatObj bits8 = PlatCreateBitmap(4, 4, 8, nullptr, 0);
  const auto depths = [&](std::vector<int32> windows) {
    PlatSelectObject(gDrawState.memDc = PlatCreateMemoryDc(), bits8);
    const Rect r{0, 0, 3, 5};
    for (int32& w : windows) {
      int32 id = 0;
      EXPECT_EQ(ICreatePixmap(w, &r, 0, &id), kNoErr);
      w = IGetDepth(id);
      IRelease(id);
    }
    return windows;
  };
  gDrawState.window = w1;
  EXPECT_EQ(depths({0, w2, -1}), (std::vector<int32>{8, 24, 24}));  // no current window yet
  WPortState saved;
  WSetup(w1, &saved);
  EXPECT_EQ(depths({-1}), (std::vector<int32>{8}));
  WRestore(&saved);
  PlatDeleteObject(bits8);
}

TEST_F(DrawPort, BoundaryWindowsWithoutHostWindow) {
  for (uInt32 style : {uInt32(kWStyleNoHost), uInt32(kWStyleRecordOnly)}) {
    const WindowRef w = Window(style, true);
    ASSERT_NE(w, kWNoWindow);
    EXPECT_EQ(WHostWindow(w), 0);
    EXPECT_EQ(WGetDepth(w), 32);
    Rect r;
    WGetRect(w, &r);
    EXPECT_EQ(r.bottom, style == kWStyleNoHost ? 0 : 100) << "an event handler has no port rectangle";
    WDestroy(w);
    EXPECT_FALSE(WIsWindow(w));
  }
}

}  // namespace

namespace {

// Two threads drawing into their own windows: between WSetup and WRestore
// each sees only its own window as the target.
TEST_F(DrawPort, ConcurrentSetupsSerialiseOnTheDrawingMutex) {
  const int rounds = std::getenv("QX_UNDER_VALGRIND") ? 20 : 2000;
  const WindowRef a = Window(0x3C, true), b = Window(0x3C, true);
  std::atomic<int> wrong{0};
  auto draw = [&](WindowRef w) {
    for (int i = 0; i < rounds; ++i) {
      WPortState saved;
      WSetup(w, &saved);
      if (gDrawState.window != w || IWindowOf(WScreenImage()) != w || DCurrentPort() != &gHostPort) ++wrong;
      WRestore(&saved);
    }
  };
  std::thread t1(draw, a), t2(draw, b);
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(gDrawState.target, 0u);
}

}  // namespace
