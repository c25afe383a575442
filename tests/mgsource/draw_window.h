// A shown headless window set up as the drawing port, with the drawing
// manager started: the fixture of the pen and primitive tests.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_event.h"
#include "platform/qx_paint.h"
#include "platform/qx_surface.h"
#include "platform/qx_thread.h"
#include "platform/qx_trace.h"
#include "platform/qx_window.h"
#include "test_support.h"


class DrawWindow : public ::testing::Test {
 protected:
  // The content at screen (41, 40), 200 x 100: its left edge is not on a
  // pattern cell boundary.
  static constexpr Rect kPlace{40, 41, 140, 241};

  void SetUp() override {
    EnsureManagers();
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    window_ = WCreate(0x3C, nullptr, nullptr, &kPlace, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    Begin();
  }
  void TearDown() override {
    End();
    DDisposeDraw();
    // Allocations failed on purpose leave no memory-full notice behind.
    MemFullReset();
    WDestroyAllWindows();
    PlatWindowsReset();
    PlatEvent* ev = PlatEventCreate(false);
    PlatWaitEventOrInput(ev, 0);
    PlatEventDestroy(ev);
  }
  // Makes the window the port (again), its content white.
  void Begin() {
    WSetup(window_, &saved_);
    setUp_ = true;
    PlatSurfaceClear(Surface(), 0xFFFFFF);
  }
  void End() {
    if (setUp_) WRestore(&saved_);
    setUp_ = false;
  }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 At(int32 x, int32 y) const { return PlatSurfaceGetPixel(Surface(), x, y) & 0xFFFFFF; }
  // The pixels that are not white, as rows of "#" and "." over (x, y, w, h).
  std::string Mask(int32 x0, int32 y0, int32 w, int32 h) const {
    std::string m;
    for (int32 y = y0; y < y0 + h; ++y) {
      if (y > y0) m += '\n';
      for (int32 x = x0; x < x0 + w; ++x) m += At(x, y) != 0xFFFFFF ? '#' : '.';
    }
    return m;
  }
  int32 Changed() const {
    int32 n = 0;
    for (int32 y = 0; y < PlatSurfaceHeight(Surface()); ++y)
      for (int32 x = 0; x < PlatSurfaceWidth(Surface()); ++x) n += At(x, y) != 0xFFFFFF;
    return n;
  }
  int32 Pen(DColor fore, int32 width, int32 mode = 0, const uChar* pattern = nullptr, DColor back = 0xFFFFFF) {
    PenState s{fore, back, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, int16(width), int16(mode), 0, 0};
    if (pattern) std::memcpy(s.pattern, pattern, 8);
    return DNewPen(kDefaultPenBase, kPenAll, &s);
  }

  WindowRef window_ = kWNoWindow;
  WPortState saved_{};
  bool setUp_ = false;
  Capture capture_;
};
