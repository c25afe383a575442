// Panel objects asking to be redrawn (read back from the window's waiting
// area), their rectangles by kind, the overlap marking with the idle region
// it leaves on the window, and the opacity test of cosmetic parts.
#include <vector>

#include "engine/vi/virecord.h"
#include "mgsource/draw/image.h"
#include "panel/objimage.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel_test_support.h"
#include "tools/vibuilder.h"

namespace {

constexpr uInt32 kTransparent = 0x1000000;

class Inval : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ShowInWindow();
  }
  int32 Part(int32 owner, int32 cls, int16 id, Rect r, uInt32 flags = 0) {
    const int32 p = Obj(cls, owner, id);
    SetBounds(p, r);
    SetW(p, 0, int32(flags));
    return p;
  }
  uInt32 Flags(int32 o) const { return uInt32(W(o, 0)); }
  void TopLevel(std::vector<int32> objects) { SetW(root_, kRootObjectList / 4, vib::NewList(panel_, objects)); }
  // A numeric at 10, 10 to 50, 110: its frame (the main part), text and
  // label.
  int32 Numeric(int32* text) {
    const int32 n = Obj(kClsNumeric);
    SetBounds(n, Rect{10, 10, 50, 110});
    Part(n, kClsCosmetic, 0, Rect{20, 10, 40, 100});
    *text = Part(n, kClsLabel, 8001, Rect{22, 12, 38, 98});
    Part(n, kClsLabel, 16, Rect{10, 10, 19, 60});
    return n;
  }
};

TEST_F(Inval, LevelsRedrawTheValueOrTheFrameStripsAndNothingHidden) {
  int32 text = 0;
  const int32 n = Numeric(&text);
  struct Case {
    const char* what;
    int32 level;
    uInt32 flags;
    Rect redrawn;
    bool middle;  // the rectangle's middle waits too
  } cases[] = {
      {"value: the text only", kInvalValue, 0, {22, 12, 38, 98}, true},
      {"all parts", kInvalAll, 0, {10, 10, 40, 100}, true},
      {"frame: strips of the main part grown by 1", kInvalFrame, 0, {19, 9, 41, 101}, false},
      {"hidden: nothing", kInvalAll, kObjFlagHidden, {0, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SetW(n, 0, int32(c.flags));
    OInval(panel_, n, c.level);
    EXPECT_EQ(InvalidAt(30, 30), c.middle) << c.what;
    EXPECT_EQ(R(TakeInvalid()), R(c.redrawn)) << c.what;
  }
  // A moved cosmetic grows by 4 to the right and below, once.
  const int32 deco = Part(0, kClsCosmetic, 0, Rect{100, 100, 110, 120}, kObjFlagMoved);
  OInval(panel_, deco, kInvalAll);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{100, 100, 114, 124}));
  EXPECT_EQ(Flags(deco) & kObjFlagMoved, 0u);
  OInval(panel_, deco, kInvalAll);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{100, 100, 110, 120}));
  // Without a window nothing is asked.
  SetW(int32(OHWord(panel_, kOHExtension)), kHeapExtWindow / 4, 0);
  OInval(panel_, deco, kInvalAll);
  SetW(int32(OHWord(panel_, kOHExtension)), kHeapExtWindow / 4, int32(window_));
  EXPECT_EQ(R(TakeInvalid()), R(Rect{0, 0, 0, 0}));
}

TEST_F(Inval, FrameRectanglesAndThePanelsBoundsSkipWhatIsHidden) {
  const int32 b = Obj(kClsBoolean);
  SetBounds(b, Rect{0, 0, 60, 60});
  Part(b, kClsMultiCosmetic, 0, Rect{10, 10, 30, 30});
  const int32 text = Part(b, kClsMultiLabel, 22, Rect{32, 10, 40, 50});
  Rect r;
  OGetRect(panel_, b, &r, kRectFrame);
  EXPECT_EQ(R(r), R(Rect{9, 9, 41, 51})) << "the text grown by one";
  SetW(text, 0, kObjFlagHidden);
  OGetRect(panel_, b, &r, kRectFrame);
  EXPECT_EQ(R(r), R(Rect{9, 9, 31, 31}));

  int32 shown = 0, hiddenShown = 0;
  const int32 visible = Control(tdb::DBL(), kClsNumeric, &shown);
  const int32 ofHidden = Control(tdb::DBL(), kClsNumeric, &hiddenShown);
  SetBounds(shown, Rect{0, 0, 10, 10});
  SetBounds(hiddenShown, Rect{0, 0, 200, 200});
  SetW(hiddenShown, 0, kObjFlagHidden);
  const int32 hidden = Part(0, kClsCosmetic, 0, Rect{0, 0, 300, 300}, kObjFlagHidden);
  TopLevel({visible, ofHidden, hidden, b});
  OGetRect(panel_, root_, &r, kRectBounds);
  EXPECT_EQ(R(r), R(Rect{0, 0, 60, 60}));
  // In confirm mode the recorded object counts even when hidden.
  SetW(int32(OHWord(panel_, kOHExtension)), kHeapExtConfirm / 4, hidden);
  VIRec(vi_)->flags2 |= 0x400000;
  OGetRect(panel_, root_, &r, kRectBounds);
  EXPECT_EQ(R(r), R(Rect{0, 0, 300, 300}));
}

TEST_F(Inval, MarkingFlagsOverlapsAndTransparencyAndLeavesTheIdleRegion) {
  const int32 first = Part(0, kClsCosmetic, 0, Rect{10, 10, 50, 50});
  const int32 second = Part(0, kClsCosmetic, 0, Rect{40, 40, 80, 80});
  const int32 clear = Part(0, kClsCosmetic, 0, Rect{200, 200, 220, 220});
  SetW(clear, 8, int32(kTransparent));
  const int32 graph = Obj(kClsGraphChart);
  SetBounds(graph, Rect{100, 300, 150, 400});
  const int32 plot = Part(graph, kClsCosmetic, 28, Rect{110, 310, 140, 390});
  SetW(plot, 7, int32(kTransparent));
  TopLevel({first, second, clear, graph});
  const int32 ext = int32(OHWord(panel_, kOHExtension));
  const Rect content{0, 0, 380, 580};
  std::memcpy(*panel_ + ext + kHeapExtContentRect, &content, sizeof content);
  OMarkInRect(panel_, root_, DRgn(0), static_cast<const Rect*>(nullptr), 0);
  EXPECT_EQ(Flags(first) & kObjFlagOverlapMark, 0u) << "visited first";
  EXPECT_NE(Flags(second) & kObjFlagOverlapMark, 0u) << "overlaps the first";
  EXPECT_NE(Flags(clear) & kObjFlagOverlapMark, 0u) << "transparent";
  EXPECT_EQ(uInt32(W(plot, 7)), kTransparent) << "the grey is put back";
  EXPECT_EQ(Flags(plot) & kObjFlagOverlapMark, 0u) << "counts as opaque while marking";
  const DRgn idle = WRecord(window_)->idleRgn;
  auto in = [&](int32 h, int32 v) { return DPtInRgn(int32((uInt32(h) << 16) | uInt16(v)), idle) != 0; };
  struct Probe {
    int32 h, v;
    bool in;
  } probes[] = {{15, 15, true}, {75, 75, true}, {210, 210, true}, {350, 120, true},
                {100, 100, false}, {590, 100, true}, {100, 390, true}, {250, 300, false}};
  for (const Probe& p : probes) EXPECT_EQ(in(p.h, p.v), p.in) << p.h << "," << p.v;
}

TEST_F(Inval, CosmeticsAreOpaqueWhenTheirLookPaintsEveryPixel) {
  const Rect place{0, 0, 20, 20};
  int32 pixmap = 0, picture = 0;
  ASSERT_EQ(ICreatePixmap(0, &place, 0, &pixmap), kNoErr);
  ASSERT_EQ(ICreatePict(0, &place, 0, nullptr, 0, &picture), kNoErr);
  struct Case {
    const char* what;
    int32 image;
    uInt32 back;
    int32 opaque;
  } cases[] = {
      {"a pixmap paints every pixel", pixmap, 0xFFFFFF, 1},
      {"an empty picture paints none", picture, 0xFFFFFF, 0},
      {"a transparent colour", pixmap, kTransparent, 0},
      {"opaque again", pixmap, 0xFFFFFF, 1},
  };
  const int32 part = Part(0, kClsCosmetic, 0, place);
  uInt32 was = 0;
  for (const Case& c : cases) {
    SetW(part, 6, kObjImageHeld | c.image);
    SetW(part, 8, int32(c.back));
    SetW(root_, 0, 0);
    EXPECT_EQ(FPInvalDiff(panel_, part), c.opaque) << c.what;
    EXPECT_EQ(Flags(part) & kObjFlagOpaque, c.opaque ? kObjFlagOpaque : 0u) << c.what;
    EXPECT_EQ((Flags(root_) & kRootFlagRemark) != 0, (Flags(part) & kObjFlagOpaque) != was) << c.what;
    was = Flags(part) & kObjFlagOpaque;
  }
  SetW(part, 6, 0);
  IRelease(pixmap);
  IRelease(picture);
}

}  // namespace
