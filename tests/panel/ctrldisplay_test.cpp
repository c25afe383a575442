// Controls showing their values: the numeric's digital text and its
// unchanged value, the ring's item index by type, the colour box's
// transparent colour, the path's malformed mark, and what a user item, a
// colour box and a path's state button leave on the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/path.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textrec.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrldisplay.h"
#include "panel/ctrldraw.h"
#include "panel/methsupport.h"
#include "panel/osupport.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/paneldisplay.h"
#include "panel/transact.h"
#include "panel/textparts.h"
#include "panel_test_support.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"

namespace ctrldisplay_test {

using ptest::SlotPatch;

// What the recording methods were given: the states and indexes sent to
// image parts, the parts drawn.
std::vector<int32> gShown, gDrawn;
int32 RecordShown(ObjHeap, int32, const void*, const void* value) {
  int32 v = 0;
  std::memcpy(&v, value, sizeof v);
  return gShown.push_back(v), 0;
}
int32 RecordDrawn(ObjHeap, int32 object, const void*, int32, int32) { return gDrawn.push_back(object), 0; }
// The colour a text part was drawn in and the highlight inversion then.
DColor gDrawnColour = 0;
Bool32 gDrawnInverted = 0;
int32 RecordColour(ObjHeap heap, int32 label, const void*, int32, int32) {
  TGetColors(PartTextRecord(heap, label), &gDrawnColour, nullptr);
  gDrawnInverted = gInvertHilite;
  return 0;
}
// The objects framed with the key-focus frame.
std::vector<int32> gFramed;
int32 RecordFrame(ObjHeap, int32 object, ObjHeap, int32, int32 kind) { return gFramed.push_back(kind == 16 ? object : 0), 0; }
// Records the part and paints its bounds red.
int32 PaintRed(ObjHeap heap, int32 object, const void*, int32, int32) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  DSelectNormPen(0xFF0000, 0xFF0000);
  DPaintRect(&r);
  return gDrawn.push_back(object), 0;
}

class CtrlDisplay : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    PlatSurfaceClear(Surface(), 0xB3B3B3);
    WSetup(window_, &port_);
  }
  void TearDown() override {
    WRestore(&port_);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 Pixel(int32 h, int32 v) const { return PlatSurfaceGetPixel(Surface(), h, v) & 0xFFFFFF; }
  void Bounds(int32 o, Rect r) { std::memcpy(*panel_ + o + kObjBounds, &r, sizeof r); }
  std::string Text(int32 label) {
    UHandle t = TGetText(PartTextRecord(panel_, label));
    return std::string(reinterpret_cast<char*>(*t + 4), GetNative32(*t));
  }
  WPortState port_{};
};

// The digital text follows the value; the same value again leaves the text
// alone; a greyed numeric leaves its drawing to the window's update.
TEST_F(CtrlDisplay, NumericsShowTheirTextOnceAndDeferWhenGreyed) {
  int32 numeric = 0;
  Control(tdb::DBL(), kClsNumeric, &numeric);
  const int32 text = Obj(kClsLabel, numeric, 10);
  Bounds(text, Rect{10, 10, 26, 80});
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("0"), 1, 0, 0);
  const float64 a = 42, b = 7;
  EXPECT_EQ(NumericODisplayValMethod(panel_, numeric, nullptr, &a), 0);
  const std::string shown = Text(text);
  EXPECT_EQ(shown.substr(0, 2), "42");
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("x"), 1, 0, 0);
  EXPECT_EQ(NumericODisplayValMethod(panel_, numeric, &a, &a), 0);
  EXPECT_EQ(Text(text), "x") << "an unchanged value is not shown again";
  SetW(numeric, 0, int32(ctrl::kFlagGreyed));
  EXPECT_EQ(NumericODisplayValMethod(panel_, numeric, &a, &b) & ctrl::kReplyInvalidated, ctrl::kReplyInvalidated);
  EXPECT_EQ(Text(text).substr(0, 1), "7") << "the text is set, its drawing deferred";
}

// The ring's item index by type: a negative float is no item, a negative
// signed integer the first, anything past 65535 no item.
TEST_F(CtrlDisplay, RingIndexesByType) {
  struct Case {
    int32 code;
    float64 value;
    int32 index;
  } cases[] = {{kTDDBL, -1.0, 65535}, {kTDI32, -1, 0}, {kTDI32, 70000, 65535}, {kTDDBL, 70000, 65535},
               {kTDU16, 3, 3},        {kTDI16, -5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    uChar data[16] = {};
    ConvertNum(kTDDBL, &c.value, c.code, data);
    EXPECT_EQ(ctrl::RingIndexOf(c.code, data), c.index);
  }
}

// A colour box shows the transparent colour only when it allows it; the
// swatch is then white with its mark.  A path that is no path marks its
// text part and slashes its state button; a good path clears the mark.  A
// user item shows white framed in black.
TEST_F(CtrlDisplay, ColourBoxesPathsAndUserItemsOnTheScreen) {
  for (const bool allowed : {false, true}) {
    SCOPED_TRACE(allowed);
    int32 box = 0;
    Control(tdb::U32(), kClsColorBox, &box);
    const int32 swatch = Obj(kClsCosmetic, box, 41);
    Bounds(swatch, Rect{40, 40, 60, 60});
    SetW(box, 0, allowed ? int32(ctrl::kFlagTransparentAllowed) : 0);
    PlatSurfaceClear(Surface(), 0xB3B3B3);
    const uInt32 none = kTransparentColor;
    EXPECT_EQ(ColorBoxODisplayValMethod(panel_, box, nullptr, &none), 0);
    EXPECT_EQ(ctrl::PartBack(panel_, swatch), allowed ? kTransparentColor : 0u);
    EXPECT_EQ(Pixel(42, 55), allowed ? 0xFFFFFFu : 0xB3B3B3u) << "the white swatch";
    EXPECT_EQ(Pixel(50, 45), allowed ? 0u : 0xB3B3B3u) << "the mark's stem";
  }

  int32 path = 0;
  Control(tdb::Path(), kClsPath, &path);
  const int32 text = Obj(kClsLabel, path, 11);
  const int32 state = Obj(kClsCosmetic, path, 43);
  Bounds(text, Rect{100, 10, 116, 150});
  Bounds(state, Rect{100, 160, 120, 180});
  SetPartText(panel_, text, reinterpret_cast<const uChar*>(""), 0, 0, 0);
  Path good = FEmptyPath(nullptr);
  ASSERT_NE(good, nullptr);
  UHandle bad = AZNewHClr(2);  // too short for a path
  for (UHandle value : {bad, reinterpret_cast<UHandle>(good)}) {
    const bool isPath = value != bad;
    SCOPED_TRACE(isPath);
    PathODisplayValMethod(panel_, path, nullptr, &value);
    EXPECT_EQ((ctrl::Flags(panel_, text) & ctrl::kFlagMalformedPath) != 0, !isPath);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    ctrl::SetPartColours(panel_, state, 0x000000, kTransparentColor);
    DrawPathValue(panel_, path, &value, kDrawModeNormal, 1);
    // d = (20 / 2 + 1) / 2 = 5: the slash from (160, 114) to (179, 105).
    EXPECT_EQ(Pixel(160, 114), isPath ? 0xFFFFFFu : 0u);
  }
  FDisposePath(good);
  AZDisposeHandle(bad);

  const int32 item = Obj(kClsUserItem);
  Bounds(item, Rect{130, 20, 170, 140});
  PlatSurfaceClear(Surface(), 0xB3B3B3);
  DrawUserItem(panel_, item, nullptr, 0, kDrawModeNormal);
  EXPECT_EQ(Pixel(20, 130), 0u) << "the frame";
  EXPECT_EQ(Pixel(22, 132), 0xFFFFFFu) << "white inside";
  int32 dark = 0;
  for (int32 h = 21; h < 139; ++h)
    for (int32 v = 131; v < 169; ++v) dark += Pixel(h, v) == 0;
  EXPECT_GT(dark, 20) << "its size as text";
}

// A Boolean held with the mouse shows states 2 and 3 when it shows
// transitions; a disabled ring item is greyed; a picture of no opcodes that
// erases first draws only its background part.
TEST_F(CtrlDisplay, HeldBooleansDisabledRingItemsAndEmptyPictures) {
  int32 boolean = 0;
  Control(tdb::Boolean(), kClsBoolean, &boolean);
  Obj(kClsMultiCosmetic, boolean, 21);
  const SlotPatch shown(kClsMultiCosmetic, kMsgODisplayVal, &RecordShown);
  struct Case {
    bool transitions, held;
    uChar value;
    int32 state;
  } cases[] = {{false, false, 1, 1}, {false, false, 0, 0}, {true, false, 1, 1},
               {true, true, 1, 2},   {true, true, 0, 3},   {false, true, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.state));
    SetW(boolean, 0, c.transitions ? int32(ctrl::kFlagTracksTransitions) : 0);
    SetTrackObject(c.held ? panel_ : nullptr, c.held ? boolean : 0, nullptr, nullptr, 1);
    TrackState(c.held ? 1 : 0, nullptr, 1);
    gShown.clear();
    BooleanODisplayValMethod(panel_, boolean, nullptr, &c.value);
    EXPECT_EQ(gShown, std::vector<int32>{c.state});
  }
  SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
  TrackState(0, nullptr, 1);

  int32 ring = 0;
  ASSERT_EQ(Alloc(Control(tdb::U16(), kClsRing, &ring)), kNoErr);
  while (RingInsertDeleteItem(panel_, ring, 0, 0) >= 0) {}
  for (int32 i = 0; i < 2; ++i) RingInsertDeleteItem(panel_, ring, i, 1);
  PutNative32(*ObjItemData(panel_, ring) + 8, 1);  // item 1 disabled
  const int32 text = Obj(kClsLabel, ring, 12);
  Bounds(text, Rect{20, 20, 40, 80});
  ctrl::SetPartColours(panel_, text, 0, 0x0000FF);  // greyed in its background colour
  for (int32 item : {0, 1}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    GrayDisabledRingItem(panel_, ring, text, item);
    int32 changed = 0;
    for (int32 h = 21; h < 79; ++h) changed += Pixel(h, 25) != 0xFFFFFF;
    EXPECT_EQ(changed > 0, item == 1) << item;
    EXPECT_EQ(Pixel(20, 20), 0xFFFFFFu) << "inset by 1";
  }

  int32 picture = 0;
  Control(tdb::String(), kClsPicture, &picture);
  const int32 content = Obj(kClsCosmetic, picture, 28);
  Bounds(content, Rect{50, 50, 90, 90});
  const SlotPatch drawn(kClsCosmetic, kMsgODraw, &RecordDrawn);
  UHandle empty = DSNewHClr(4);  // a picture of no opcodes
  for (const bool erase : {false, true}) {
    SetW(picture, 0, erase ? int32(ctrl::kFlagFitted) : 0);
    SetW(content, 0, int32(ctrl::kFlagOpaque));
    gDrawn.clear();
    EXPECT_EQ(PictureODisplayValMethod(panel_, picture, nullptr, &empty), 0);
    EXPECT_EQ(gDrawn, erase ? std::vector<int32>{content} : std::vector<int32>{}) << erase;
  }
  DSDisposeHandle(empty);
}

// A slide's housing is drawn once into its off-screen image and from then
// on copied from it, until the slide asks for the image to be drawn again;
// a housing drawn through the window's update is never cached.
TEST_F(CtrlDisplay, SlidesRepairTheirHousingFromItsImage) {
  int32 slide = 0;
  Control(tdb::DBL(), kClsSlide, &slide);
  const int32 housing = Obj(kClsCosmetic, slide, 8), arrow = Obj(kClsCosmetic, slide, 6);
  Bounds(housing, Rect{30, 40, 130, 60});
  Bounds(arrow, Rect{10, 40, 28, 60});
  const SlotPatch drawn(kClsCosmetic, kMsgODraw, &PaintRed);
  const float64 v = 1;
  struct Step {
    uInt32 slideFlags, housingFlags;
    std::vector<int32> drawn;  // the housing twice: into the image and to the screen
    bool cached;
  } steps[] = {{0, 0, {arrow, housing, housing}, true},
               {0, 0, {arrow}, true},
               {ctrl::kFlagRedrawImage, 0, {arrow, housing, housing}, true},
               {0, ctrl::kFlagNoDrawInPlace, {arrow, housing}, false}};
  for (const Step& st : steps) {
    SetW(slide, 0, int32(st.slideFlags));
    SetW(housing, 0, int32(st.housingFlags));
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    gDrawn.clear();
    DrawSlideValue(panel_, slide, &v, 0, kDrawModeNormal, 1);
    std::vector<int32> got = gDrawn;
    std::sort(got.begin(), got.end());
    std::vector<int32> want = st.drawn;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(Pixel(40, 30), 0xFF0000u) << "the housing's corner, drawn or copied";
    EXPECT_EQ(Pixel(59, 129), 0xFF0000u) << "and its far corner";
    EXPECT_EQ(W(slide, 0) & ctrl::kFlagRedrawImage, 0) << "the image is drawn";
  }
  EXPECT_NE(W(slide, ctrl::kSlideImageWord), 0);
  // A port of another depth re-makes the image at its depth; back on the
  // screen it is re-made again and the housing drawn into it.
  SetW(housing, 0, 0);
  const Rect all{0, 0, 200, 300};
  int32 bits = 0;
  ASSERT_EQ(ICreatePixmap(-1, &all, 1, &bits), kNoErr);
  ImageSaveRecord save{};
  IOpen(bits, &save);
  DrawSlideValue(panel_, slide, &v, 0, kDrawModeNormal, 1);
  IClose(bits, &save);
  IRelease(bits);
  EXPECT_EQ(IGetDepth(W(slide, ctrl::kSlideImageWord)), 1);
  gDrawn.clear();
  DrawSlideValue(panel_, slide, &v, 0, kDrawModeNormal, 1);
  EXPECT_EQ(IGetDepth(W(slide, ctrl::kSlideImageWord)), DGetDepth());
  EXPECT_EQ(std::count(gDrawn.begin(), gDrawn.end(), housing), 2) << "into the re-made image and to the screen";
  ODispose(panel_, slide);
}

// A label takes a new text unless it is the text being edited (and the
// dialog code has not allowed it); a multi-image draws only when the image
// it shows changes, and a big one moves to its entry's rectangle.
TEST_F(CtrlDisplay, EditedLabelsRefuseAndImagesDrawOnlyWhenTheyChange) {
  const int32 label = Obj(kClsLabel);
  Bounds(label, Rect{10, 10, 26, 90});
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("a"), 1, 0, 0);
  const int32 ext = int32(OHWord(panel_, kOHExtension));
  struct Case {
    bool focus, refuses, allowed;
    const char* given;
    const char* shown;
  } cases[] = {{false, true, false, "b", "b"},
               {true, true, false, "c", "b"},
               {true, true, true, "c", "c"},
               {true, false, false, "d", "d"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    SetW(label, 0, c.refuses ? int32(ctrl::kFlagFocusRefuses) : 0);
    PutNative32(*panel_ + ext + kHeapExtKeyFocus, c.focus ? uInt32(label) : 0);
    PutNative32(*panel_ + ext + kHeapExtFocusText, uInt32(uintptr_t(PartTextRecord(panel_, label))));
    gAllowFocusTextDisplay = c.allowed;
    ClearReports();
    const int32 text[2] = {1, c.given[0]};  // a long string of one character
    EXPECT_EQ(LabelODisplayValMethod(panel_, label, nullptr, text), 0);
    EXPECT_EQ(Text(label), c.shown);
    EXPECT_EQ(Reports("can't display val to heapTextObj"), c.focus && c.refuses && !c.allowed ? 1 : 0);
  }
  gAllowFocusTextDisplay = 0;
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, 0);
  PutNative32(*panel_ + ext + kHeapExtFocusText, 0);

  // Images 0 and 1 are one white pixmap, image 2 a red one.
  int32 white = 0, red = 0;
  const Rect square{0, 0, 20, 20};
  for (auto [image, colour] : {std::pair<int32*, DColor>{&white, 0xFFFFFF}, {&red, 0xFF0000}}) {
    ASSERT_EQ(ICreatePixmap(-1, &square, 0, image), kNoErr);
    ImageSaveRecord save{};
    IOpen(*image, &save);
    DSelectNormPen(colour, colour);
    DPaintRect(&square);
    IClose(*image, &save);
  }
  const int32 multi = vib::NewObject(panel_, kClsMultiCosmetic, kObjImageList + 3 * 4, 0, 0, 0);
  Bounds(multi, Rect{100, 100, 120, 120});
  PutNative16(*panel_ + multi + kObjImageCount, 3);
  for (int32 i = 0; i < 3; ++i) SetW(multi, (kObjImageList + 4 * i) / 4, i == 2 ? red : white);
  SetW(multi, kObjImage / 4, white);
  ctrl::SetPartColours(panel_, multi, 0, 0xFFFFFF);
  struct Step {
    int16 index, stored;
    uInt32 pixel;  // at the image's middle after the display
  } steps[] = {{1, 1, 0xB3B3B3}, {9, 2, 0xFF0000}, {2, 2, 0xB3B3B3}};
  for (const Step& st : steps) {
    SCOPED_TRACE(st.index);
    PlatSurfaceClear(Surface(), 0xB3B3B3);
    EXPECT_EQ(MultiCosmeticODisplayValMethod(panel_, multi, nullptr, &st.index), 0);
    EXPECT_EQ(ObjInt16(panel_, multi, kObjImageIndex), st.stored);
    EXPECT_EQ(Pixel(110, 110), st.pixel);
  }
  SetW(multi, kObjImage / 4, 0);

  const int32 big = vib::NewObject(panel_, kClsBigMultiCosmetic, kObjImageList + 2 * kBigImageEntry, 0, 0, 0);
  Bounds(big, Rect{100, 100, 120, 120});
  PutNative16(*panel_ + big + kObjImageCount, 2);
  for (int32 i = 0; i < 2; ++i) {
    const Rect place{int16(100 + 30 * i), 100, int16(120 + 30 * i), 120};
    std::memcpy(*panel_ + big + kObjImageList + kBigImageEntry * i, &place, sizeof place);
    SetW(big, (kObjImageList + kBigImageEntry * i + 12) / 4, 0xFFFFFF);
  }
  const int16 second = 1;
  EXPECT_EQ(BigMultiCosmeticODisplayValMethod(panel_, big, nullptr, &second), ctrl::kReplyInvalidated);
  EXPECT_EQ(ctrl::BoundsOf(panel_, big).top, 130) << "moved to its entry's rectangle";
  IRelease(white);
  IRelease(red);
}

// A Boolean's text the colour of its button is drawn white on a black
// button, black on another, and gets its own colours back; a text of
// another colour is drawn as it is.
TEST_F(CtrlDisplay, BooleanTextsStayReadableOnTheirButton) {
  int32 boolean = 0;
  Control(tdb::Boolean(), kClsBoolean, &boolean);
  const int32 button = Obj(kClsCosmetic, boolean, 21), text = Obj(kClsLabel, boolean, 22);
  Bounds(button, Rect{10, 10, 40, 90});
  Bounds(text, Rect{15, 20, 31, 80});
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("OK"), 2, 0, 0);
  const SlotPatch drawn(kClsLabel, kMsgODraw, &RecordColour);
  struct Case {
    DColor button, text, drawn;
    Bool32 inverted;
  } cases[] = {{0x000000, 0x000000, 0xFFFFFF, 1},
               {0xB3B3B3, 0xB3B3B3, 0x000000, 0},
               {0x000000, 0x00FF00, 0x00FF00, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ctrl::SetPartColours(panel_, button, 0, c.button);
    const DColor none = kTransparentColor;
    TSetColors(PartTextRecord(panel_, text), &c.text, &none, 0);
    gDrawnColour = 0x123456;
    DisplayBoolText(panel_, text, button, 1, 1, kDrawModeNormal);
    EXPECT_EQ(gDrawnColour, c.drawn);
    EXPECT_EQ(gDrawnInverted, c.inverted);
    DColor after = 0;
    TGetColors(PartTextRecord(panel_, text), &after, nullptr);
    EXPECT_EQ(after, c.text) << "its own colour back";
    EXPECT_EQ(gInvertHilite, 0);
  }
}

// A picture shown through its off-screen copy draws into the copy once and
// then repairs from it without drawing its background part again; the
// value stays the data space's.
TEST_F(CtrlDisplay, PicturesRepairFromTheirCopy) {
  int32 picture = 0;
  Control(tdb::String(), kClsPicture, &picture);
  const int32 content = Obj(kClsCosmetic, picture, 28);
  Bounds(picture, Rect{50, 50, 90, 90});
  Bounds(content, Rect{50, 50, 90, 90});
  SetW(picture, 0, int32(ctrl::kFlagViaCopy));
  SetW(content, 0, int32(ctrl::kFlagOpaque));
  UHandle value = DSNewHClr(4);
  PictOpArgs a;
  a.colours[0] = a.colours[2] = 0xFF0000;
  ASSERT_EQ(PictAppendOp(value, 0, kPictOpNormPen, &a), kNoErr);
  a.rect = Rect{0, 0, 10, 10};
  ASSERT_EQ(PictAppendOp(value, 0, kPictOpPaintRect, &a), kNoErr);
  const int32 size = DSGetHandleSize(value);
  // Out of memory for the picture's image (first allocation) or for its
  // copy (second): 0x10, nothing drawn or kept, the value untouched.
  for (int32 k : {1, 2}) {
    MemFailNthAllocation(k);
    EXPECT_EQ(PictureODisplayValMethod(panel_, picture, nullptr, &value), 0x10) << k;
    MemFailNthAllocation(0);
    EXPECT_EQ(W(picture, ctrl::kPictureCopyWord), 0) << k;
    EXPECT_EQ(Pixel(52, 52), 0xB3B3B3u) << k;
    ASSERT_EQ(DSCheckHandle(value), kNoErr);
    EXPECT_EQ(DSGetHandleSize(value), size);
  }
  const SlotPatch drawn(kClsCosmetic, kMsgODraw, &RecordDrawn);
  gDrawn.clear();
  EXPECT_EQ(PictureODisplayValMethod(panel_, picture, nullptr, &value), 0);
  EXPECT_EQ(Pixel(52, 52), 0xFF0000u) << "drawn into the copy and copied to the screen";
  EXPECT_NE(W(picture, ctrl::kPictureCopyWord), 0);
  ASSERT_EQ(DSCheckHandle(value), kNoErr) << "the value is not the image's to dispose";
  EXPECT_EQ(DSGetHandleSize(value), size);
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  gDrawn.clear();
  EXPECT_EQ(PictureODrawMethod(panel_, picture, &value, 0, kDrawModeNormal), 0);
  EXPECT_EQ(Pixel(52, 52), 0xFF0000u) << "copied from the off-screen copy";
  EXPECT_EQ(gDrawn, std::vector<int32>{}) << "the background part is in the copy";
  ODispose(panel_, picture);
  DSDisposeHandle(value);
}

// The Return button of the active panel gets the default frame, unless text
// is being entered, another Boolean holds the key focus, the button shows
// no built-in button picture and the window asks for no frame, or the
// window is not the active one.
TEST_F(CtrlDisplay, TheReturnButtonOfTheActivePanelIsFramed) {
  int32 boolean = 0, other = 0;
  Control(tdb::Boolean(), kClsBoolean, &boolean);
  Control(tdb::Boolean(), kClsBoolean, &other);
  const int32 button = Obj(kClsCosmetic, boolean, 21);
  Bounds(boolean, Rect{10, 10, 40, 90});
  Bounds(button, Rect{10, 10, 40, 90});
  std::vector<int32> slots(55, 0);
  slots[0] = boolean;
  SetW(root_, kRootKeyNav / 4, vib::NewList(panel_, slots));
  const int32 ext = int32(OHWord(panel_, kOHExtension));
  const SlotPatch framing(kClsBoolean, kMsgOFrameSel, &RecordFrame);
  enum Spoil { kNone, kTextEntry, kBooleanFocus, kNoFrameAsked, kOtherReturn, kInactive };
  for (const Spoil spoil : {kNone, kTextEntry, kBooleanFocus, kNoFrameAsked, kOtherReturn, kInactive}) {
    SCOPED_TRACE(int(spoil));
    const uInt32 flags = OHWord(panel_, kOHFlags);
    OHSetWord(panel_, kOHFlags, spoil == kTextEntry ? flags | kHeapFlagTextEntry : flags & ~kHeapFlagTextEntry);
    PutNative32(*panel_ + ext + kHeapExtKeyFocus, spoil == kBooleanFocus ? uInt32(other) : 0);
    PutNative16(*panel_ + ext + kHeapExtWindowOptions, spoil == kNoFrameAsked ? 0 : kWindowPartDefaultFrame);
    slots[0] = spoil == kOtherReturn ? other : boolean;
    SetW(root_, kRootKeyNav / 4, vib::NewList(panel_, slots));
    WSetActiveWindow(spoil == kInactive ? kWNoWindow : window_);
    gFramed.clear();
    const uChar on = 1;
    BooleanODrawMethod(panel_, boolean, &on, 0, kDrawModeNormal);
    EXPECT_EQ(gFramed, spoil == kNone ? std::vector<int32>{boolean} : std::vector<int32>{});
  }
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) & ~kHeapFlagTextEntry);
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, 0);
  WSetActiveWindow(kWNoWindow);
}

// An object-reference refnum shows the picture of its object type: types 1
// and 2 have one (none to draw without the run-time file), any other is
// reported with its type.
TEST_F(CtrlDisplay, RefnumsReportAnUnknownObjectType) {
  for (const int16 type : {1, 2, 3}) {
    SCOPED_TRACE(type);
    int32 refnum = 0;
    Control(tdb::ObjectRefnum(type), kClsRefNum, &refnum);
    Bounds(Obj(kClsCosmetic, refnum, 83), Rect{10, 10, 26, 26});
    ClearReports();
    StdRefNumODrawMethod(panel_, refnum, nullptr, 0, kDrawModeNormal);
    EXPECT_EQ(Reports("StdRefNumODrawMethod: QXObjRef: unknown QXObjType=0x3?|!!"), type == 3 ? 1 : 0);
  }
}

}  // namespace ctrldisplay_test
