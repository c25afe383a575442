// Controls showing their values: the numeric's digital text and its
// unchanged value, the ring's item index by type, the colour box's
// transparent colour, the path's malformed mark, and what a user item, a
// colour box and a path's state button leave on the screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/path.h"
#include "mgsource/window/textrec.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrldisplay.h"
#include "panel/ctrldraw.h"
#include "panel/methsupport.h"
#include "panel/osupport.h"
#include "panel/objdraw.h"
#include "panel/paneldisplay.h"
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

}  // namespace ctrldisplay_test
