// The fixture of the picture tests: a drawing window with the colour maps,
// the menu colours and the three blend pens, pixmaps of any depth drawn
// into, and a port that logs what it is asked to draw.
#pragma once
#include <cstring>
#include <functional>
#include <vector>

#include "controls/picc.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw_window.h"
#include "mgsource/window/menus.h"
#include "shell/shellglobals.h"
#include "colour_maps.h"

namespace picctest {

inline constexpr DColor kFore = 0x2050A0, kBack = 0xF0C040;
inline int32 gPens[3] = {};

class Picc : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(LoadDefaultColourMaps(), kNoErr);
    MLoadMenuColors();
    for (int32 i = 0; i < 3; ++i) {
      PenState s{};
      std::memcpy(s.pattern, kShellBlendPatterns[i], 8);
      gPens[i] = DNewPen(kDefaultPenBase, kPenPattern, &s);
    }
    PiccSetBlendPenSource([](int32 which) { return gPens[which]; });
  }
  void TearDown() override {
    PiccSetBlendPenSource(nullptr);
    for (int32 id : images_) IRelease(id);
    DResetColors();
    DrawWindow::TearDown();
  }
  int32 Pixmap(int32 w, int32 h, int32 depth) {
    const Rect r{0, 0, int16(h), int16(w)};
    int32 id = 0;
    EXPECT_EQ(ICreatePixmap(window_, &r, depth, &id), kNoErr);
    images_.push_back(id);
    return id;
  }
  PlatSurface* SurfaceOf(int32 pixmap) { return PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra)); }
  // Draws into a white pixmap of that size and depth.
  int32 DrawInto(int32 w, int32 h, int32 depth, const std::function<void()>& draw) {
    const int32 id = Pixmap(w, h, depth);
    ImageSaveRecord save;
    IOpen(id, &save);
    IEraseImage(id);
    draw();
    IClose(id, &save);
    return id;
  }
  uInt32 Pix(int32 pixmap, int32 x, int32 y) { return PlatSurfaceGetPixel(SurfaceOf(pixmap), x, y) & 0xFFFFFF; }
  // The pixels that differ between two pixmaps of one size.
  int32 Differing(int32 a, int32 b, int32 w, int32 h) {
    PlatSurface *sa = SurfaceOf(a), *sb = SurfaceOf(b);
    int32 n = 0;
    for (int32 y = 0; y < h; ++y)
      for (int32 x = 0; x < w; ++x) n += PlatSurfaceGetPixel(sa, x, y) != PlatSurfaceGetPixel(sb, x, y);
    return n;
  }
  std::vector<int32> images_;
};

// A port of a chosen depth that logs the pens and the painted rectangles.
struct LogPort {
  static inline int32 depth = 8, bw = 0, drawn = 0;
  struct Paint {
    Rect r;
    int32 pen;  // 1 the normal pen
    DColor colour;
  };
  static inline std::vector<Paint> paints;
  static inline int32 pen = 0;
  static inline DColor colour = 0;
  static DPort Make() {
    DPort p = gNullPort;
    p.getDepth = [] { return depth; };
    p.isBW = [] { return bw; };
    p.isScreenPort = [] { return 1; };
    p.selectNormPen = [](DColor c, DColor) { return pen = 1, colour = c, 0; };
    p.selectPen = [](int32 n, DColor, DColor) { return pen = n, 0; };
    p.paintRect = [](const Rect* r) {
      paints.push_back(Paint{*r, pen, colour});
      return ++drawn, 0;
    };
    auto count = [](auto...) { return ++drawn, 0; };
    p.setPixel = count, p.moveTo = [](int32, int32) { return 0; }, p.lineTo = count, p.mhLineTo = count;
    p.line = count, p.mhLine = count, p.polyLine = count, p.paintPoly = count, p.frameRect = count;
    p.frameRoundRect = count, p.paintRoundRect = count, p.frameOval = count, p.paintOval = count;
    p.frameArc = count, p.paintArc = count, p.drawImage = count, p.textBox = count;
    return p;
  }
};

}  // namespace picctest
