// A slide's needle and fill following its value through its scale.
#include <algorithm>
#include <string>
#include <vector>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "platform/qx_surface.h"
#include "platform/qx_trace.h"
#include "platform/qx_window.h"
#include "panel/datageom.h"
#include "panel/panel_test_support.h"
#include "panel/valuedraw.h"

namespace {

// The scale's own drawing, its context traced while it draws.
ObjMethodAddr gScaleDraw = nullptr;
PlatTraceRecorder* gScaleTrace = nullptr;
int32 TracedScaleDraw(ObjHeap heap, int32 object, const void* value, int32 arg, int32 mode) {
  const PlatObj dc = gDrawState.dc;
  if (gScaleTrace && dc) PlatSetTraceSink(dc, gScaleTrace);
  const int32 answer =
      reinterpret_cast<int32 (*)(ObjHeap, int32, const void*, int32, int32)>(gScaleDraw)(heap, object, value, arg, mode);
  if (dc) PlatSetTraceSink(dc, nullptr);
  return answer;
}

class DataBounds : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    slide_ = Obj(kClsSlide);
    SetW(slide_, kPWDDOTypeId, int32(Type(tdb::DBL())));
    const int32 scale = Obj(kClsScale, slide_, kControlPartScale);
    ASSERT_EQ(Alloc(scale), kNoErr);
    ScaleRec* r = ScaleRecOf(panel_, scale);
    ASSERT_NE(r, nullptr);
    r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 100, r->pixelEnd = 0;
    needle_ = Part(kPartNeedle, Rect{95, 0, 105, 20});
    fill_ = Part(kPartFill, Rect{100, 5, 101, 15});
    Part(kPartHousing, Rect{0, 0, 110, 20});
    ShowInWindow();
  }
  int32 Part(int16 id, Rect r) {
    const int32 p = Obj(kClsCosmetic, slide_, id);
    SetBounds(p, r);
    return p;
  }
  Rect B(int32 o) {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  int32 slide_ = 0, needle_ = 0, fill_ = 0;
};

TEST_F(DataBounds, NeedleAndFillFollowTheValue) {
  // Inside the housing with the cached image usable: drawn at once.
  ClearValueDrawCalls();
  const float64 five = 5, six = 6;
  EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, nullptr, &five, kBoundsDrawNow | kBoundsSetPort), 0);
  EXPECT_EQ(R(B(needle_)), R(Rect{45, 0, 55, 20})) << "centred on the value, its size kept";
  EXPECT_EQ(R(B(fill_)), R(Rect{50, 5, 101, 15})) << "from the base to the value";
  EXPECT_EQ(ValueDrawCalls().size(), 1u);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{0, 0, 0, 0}));
  // Without the cached image the change is invalidated: with fill flag bit 1
  // only the strip that grew, else the whole fill.
  SetW(slide_, 0, int32(kObjFlagNoCachedImage));
  for (bool strips : {true, false}) {
    SetW(fill_, 0, strips ? int32(kFillFlagStrips) : 0);
    SetBounds(fill_, Rect{50, 5, 101, 15});
    SetBounds(needle_, Rect{45, 0, 55, 20});
    TakeInvalid();
    EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, &five, &six, kBoundsDrawNow), kBoundsInvalidated);
    EXPECT_EQ(R(B(fill_)), R(Rect{40, 5, 101, 15}));
    EXPECT_TRUE(InvalidAt(10, 41));
    EXPECT_EQ(InvalidAt(10, 90), !strips);
  }
  // The fill mapping alone reports the rectangles left and entered.
  Rect left, entered;
  EXPECT_EQ(ObjMapDataToScale(panel_, slide_, 0, &left, &entered, &six), 0);
  const float64 two = 2;
  EXPECT_EQ(ObjMapDataToScale(panel_, slide_, 0, &left, &entered, &two), 1);
  EXPECT_EQ(R(left), R(Rect{40, 5, 101, 15}));
  EXPECT_EQ(R(entered), R(Rect{80, 5, 101, 15}));
  ClearReports();
  EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, nullptr, &five, 8), 0);
  EXPECT_EQ(Asserts(), 1);
}

// A cluster of three values moves three needles and three fills: twelve
// rectangles left and entered, more than an update keeps in place, each
// waiting to be redrawn (without the cached image).  Each fill's new place
// is looked at where only that fill's rectangle lies.
TEST_F(DataBounds, EveryNeedleAndFillOfAClusterWaitsToBeRedrawn) {
  const int32 slide = Obj(kClsSlide);
  SetW(slide, kPWDDOTypeId, int32(Type(tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()}))));
  SetW(slide, 0, int32(kObjFlagNoCachedImage));
  const int32 scale = Obj(kClsScale, slide, kControlPartScale);
  ASSERT_EQ(Alloc(scale), kNoErr);
  ScaleRec* r = ScaleRecOf(panel_, scale);
  ASSERT_NE(r, nullptr);
  r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 100, r->pixelEnd = 0;
  for (int16 i = 0; i < 3; ++i) {
    const int16 left = int16(30 + 30 * i);
    SetBounds(Obj(kClsCosmetic, slide, kPartNeedle, i), Rect{95, left, 105, int16(left + 20)});
    SetBounds(Obj(kClsCosmetic, slide, kPartFill, i), Rect{100, int16(left + 5), 101, int16(left + 15)});
  }
  const float64 from[3] = {1, 2, 3}, to[3] = {7, 8, 9};
  TakeInvalid();
  EXPECT_EQ(ObjUpdateDataBounds(panel_, slide, from, to, kBoundsDrawNow), kBoundsInvalidated);
  for (int32 i = 0; i < 3; ++i) {
    const int32 h = 30 + 30 * i + 10, pixel = 100 - 10 * (7 + i);
    EXPECT_TRUE(InvalidAt(h, pixel)) << "needle " << i << " at its value";
    EXPECT_TRUE(InvalidAt(h, 100)) << "needle " << i << " left, fill " << i << " at its base";
    EXPECT_TRUE(InvalidAt(h, 60)) << "fill " << i << " grown to its value";
  }
}

// A value shown through the housing image leaves the slide's pixels as a
// whole drawing of the slide at that value without the image leaves them:
// the slider's old place repaired from the image, its new place drawn.
TEST_F(DataBounds, AMoveRepairedFromTheHousingImageLooksAsAWholeDrawing) {
  // Parts drawn by pixmaps: the housing in bands so that a copy from the
  // wrong place shows, the needle red, the fill blue.
  // A window of the screen, where the housing image is used.
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  WDestroy(window_);
  const Rect place{0, 0, 200, 300};
  window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(window_, kWNoWindow);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  std::vector<int32> images;
  auto paint = [&](int32 part, Rect r, std::vector<DColor> bands) {
    const Rect at{0, 0, int16(r.bottom - r.top), int16(r.right - r.left)};
    int32 image = 0;
    ASSERT_EQ(ICreatePixmap(-1, &at, 0, &image), kNoErr);
    images.push_back(image);
    WPortState port;
    WSetup(window_, &port);
    ImageSaveRecord save{};
    IOpen(image, &save);
    const int16 h = int16((at.bottom + int16(bands.size()) - 1) / int16(bands.size()));
    for (size_t i = 0; i < bands.size(); ++i) {
      const Rect band{int16(h * int16(i)), 0, int16(h * int16(i + 1)), at.right};
      DSelectNormPen(bands[i], bands[i]);
      DPaintRect(&band);
    }
    IClose(image, &save);
    WRestore(&port);
    SetW(part, kObjImage / 4, 0x10000 | image);
  };
  const int32 housing = FindPart(panel_, slide_, kPartHousing, 0);
  paint(housing, B(housing), {0x101010, 0x303030, 0x505050, 0x707070, 0x909090, 0xB0B0B0});
  paint(needle_, B(needle_), {0xFF0000});
  paint(fill_, B(fill_), {0x0000FF});
  PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
  auto shot = [&] {
    std::vector<uInt32> px;
    for (int32 v = 0; v < 110; ++v)
      for (int32 h = 0; h < 20; ++h) px.push_back(PlatSurfaceGetPixel(surface, h, v) & 0xFFFFFF);
    return px;
  };
  auto whole = [&](const float64& value, bool viaImage) {
    SetW(housing, 0, viaImage ? 0 : int32(ctrl::kFlagNoDrawInPlace));
    PlatSurfaceClear(surface, 0xFFFFFF);
    WPortState port;
    WSetup(window_, &port);
    ODrawObj(panel_, slide_, int32(uintptr_t(&value)), 0, kDrawModeNormal);
    WRestore(&port);
    SetW(housing, 0, 0);
    return shot();
  };
  // The texts the scale draws while a call runs, traced on the context the
  // scale draws on: its labels lie on the housing, so a repair from the
  // housing image draws none of them.
  ControlsJoinScaleSlots();
  const int32 scale = FindPart(panel_, slide_, kControlPartScale, 0);
  SetBounds(scale, Rect{0, 2, 110, 18});
  SetW(scale, 0, int32(kScaleEndLabels | kScaleEndTicks));
  // Its markers' labels all inside the housing.
  ScaleRec* range = ScaleRecOf(panel_, scale);
  range->start = 0, range->pixelStart = 95, range->pixelEnd = 15;
  const int32 label = Obj(kClsLabel, scale, kScalePartLabel);
  const Rect at{0, 2, 12, 18};
  SetBounds(label, at);
  TRecord text = TNew(&at, 0, reinterpret_cast<const uChar*>("0"), 1, kAppFont, 0, kTransparentColor);
  ASSERT_NE(text, nullptr);
  SetW(label, kObjText / 4, int32(uintptr_t(text)));
  // Parts front to back: needle, fill, scale, housing (the scale behind
  // the needle, as in the image).
  const int32 parts = W(slide_, kObjPartList / 4);
  ASSERT_EQ(ObjListCount(panel_, parts), 4);
  const int32 order[] = {needle_, fill_, scale, housing};
  for (int32 i = 0; i < 4; ++i) ObjListSet(panel_, parts, i, order[i]);
  gScaleDraw = ClassRecord(kClsScale)->methods[kMsgODraw];
  const ptest::SlotPatch traced(kClsScale, kMsgODraw, &TracedScaleDraw);
  auto texts = [&](auto call) {
    PlatTraceRecorder trace;
    gScaleTrace = &trace;
    call();
    gScaleTrace = nullptr;
    return std::count_if(trace.lines.begin(), trace.lines.end(), [](const std::string& l) { return l.rfind("text ", 0) == 0; });
  };
  const float64 values[] = {5, 2, 9.5, 0, 8};
  for (size_t i = 0; i + 1 < std::size(values); ++i) {
    SCOPED_TRACE(values[i + 1]);
    whole(values[i], true);
    EXPECT_EQ(texts([&] {
                ASSERT_EQ(ObjUpdateDataBounds(panel_, slide_, &values[i], &values[i + 1], 7), 0) << "drawn at once";
              }),
              0)
        << "no scale text redrawn";
    const std::vector<uInt32> repaired = shot();
    std::vector<uInt32> drawn;
    EXPECT_GT(texts([&] { drawn = whole(values[i + 1], false); }), 0) << "a whole drawing draws the scale's texts";
    EXPECT_EQ(repaired, drawn);
  }
  const int32 made = W(slide_, ctrl::kSlideImageWord);
  EXPECT_NE(made, 0) << "the housing image was made";
  if (made) IRelease(made);
  SetW(slide_, ctrl::kSlideImageWord, 0);
  for (int32 part : {housing, needle_, fill_}) SetW(part, kObjImage / 4, 0);
  for (int32 image : images) IRelease(image);
  SetW(label, kObjText / 4, 0);
  TDispose(text);
  DDisposeDraw();
}

}  // namespace
