// Panel objects drawing themselves: draw modes by heap and blinking part,
// parts from the last to the first, the key-focus frame, the background by
// imaging mode, the show-all state, labels in blink colours and the focus
// text set aside; and a panel of cosmetics, labels, a cluster, an array
// and a greyed object against its goldens at full colour and black and
// white.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "panel/oinit.h"
#include "engine/datasupp.h"
#include "engine/vi/virecord.h"
#include "golden_image.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/prefs.h"
#include "mgsource/window/textrec.h"
#include "panel/methsupport.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"

namespace objdraw {

using ptest::SlotPatch;

// What the recording methods saw: (object, mode) of draws, framed objects.
std::vector<std::pair<int32, int32>> gDrawn;
int32 RecordDraw(ObjHeap, int32 object, const void*, int32, int32 mode) { return gDrawn.emplace_back(object, mode), 0; }
std::vector<int32> gFramed;
int32 RecordFrame(ObjHeap, int32 object, ObjHeap, int32, int32 kind) { return gFramed.push_back(kind == 16 ? object : 0), 0; }
Rect gBounds{0, 0, 0, 0};
Rect* Bounds(ObjHeap) { return &gBounds; }

class Draw : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    Ext(kHeapExtWindow) = uInt32(window_);
    Ext(kHeapExtContentRect) = 0, Ext(kHeapExtContentRect + 4) = (300u << 16) | 200u;
    SetW(root_, kRootPanelColour / 4, 0xB3B3B3);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    gDrawn.clear(), gFramed.clear();
    SetPanelDrawHooks({&Bounds});
    WSetup(window_, &port_);
  }
  void TearDown() override {
    WRestore(&port_);
    gBounds = Rect{0, 0, 0, 0};
    for (int32 image : images_) IRelease(image);
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  uInt32& Ext(int32 at) { return *reinterpret_cast<uInt32*>(*panel_ + OHWord(panel_, kOHExtension) + at); }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 Pixel(int32 h, int32 v) const { return PlatSurfaceGetPixel(Surface(), h, v) & 0xFFFFFF; }
  bool Any(const Rect& r, uInt32 colour) const {
    for (int32 v = r.top; v < r.bottom; ++v)
      for (int32 h = r.left; h < r.right; ++h)
        if (Pixel(h, v) == colour) return true;
    return false;
  }
  int32 Part(int32 cls, int32 owner, int16 id, Rect r) {
    const int32 o = Obj(cls, owner, id);
    SetBounds(o, r);
    return o;
  }
  int32 Label(int32 owner, int16 id, Rect r, const char* text) {
    const int32 l = Part(kClsLabel, owner, id, r);
    SetPartText(panel_, l, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), 0, 0);
    return l;
  }
  TRecord TextOf(int32 label) { return PartTextRecord(panel_, label); }
  Rect BoundsOf(int32 o) const {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  // A pixmap of one colour, released at the end.
  int32 Image(int16 w, int16 h, DColor colour) {
    const Rect r{0, 0, h, w};
    int32 image = 0;
    EXPECT_EQ(ICreatePixmap(-1, &r, 0, &image), kNoErr);
    ImageSaveRecord save{};
    IOpen(image, &save);
    DSelectNormPen(colour, colour);
    DPaintRect(&r);
    IClose(image, &save);
    images_.push_back(image);
    return image;
  }

  WPortState port_{};
  std::vector<int32> images_;
};

// Modes by heap; a part drawn for a mode, by whether its class blinks it and
// whether drawing is forced; parts from the last to the first, hidden ones
// left out.
TEST_F(Draw, ModesByHeapAndBlinkingPartsAndPartOrder) {
  ObjHeap other = OHNewHeap(256, FourCC("XXHP"), kHeapExtensionSize, kClsObjHeapHdrExtension);
  ASSERT_NE(other, nullptr);
  struct ModeCase { int32 given, panel, elsewhere; };
  ClearReports();
  for (const ModeCase& c : {ModeCase{0, 4, 4}, {1, 1, 4}, {2, 2, 4}, {3, 4, 4}, {4, 4, 4}, {8, 8, 8}}) {
    int32 a = c.given, b = c.given;
    CheckDrawMode(panel_, &a);
    CheckDrawMode(other, &b);
    EXPECT_EQ(a, c.panel) << c.given;
    EXPECT_EQ(b, c.elsewhere) << c.given;
  }
  EXPECT_EQ(Asserts(), 2) << "modes 0 and 3 on a front panel";
  OHDisposeHeap(other);

  const SlotPatch image(kClsMultiCosmetic, kMsgODraw, &RecordDraw), frame(kClsCosmetic, kMsgODraw, &RecordDraw);
  const int32 boolean = Obj(kClsBoolean, root_);
  const int32 button = Obj(kClsMultiCosmetic, boolean, 21), range = Obj(kClsCosmetic, boolean, 20);
  using Seen = std::vector<std::pair<int32, int32>>;
  struct PartCase { int32 mode; Bool32 force; Seen seen; };
  for (const PartCase& c : {PartCase{1, 0, {{button, 1}}}, {2, 0, {{button, 2}}}, {1, 1, {{button, 1}, {range, 4}}},
                            {4, 0, {{button, 4}, {range, 4}}}}) {
    gDrawn.clear();
    DrawPartForMode(panel_, boolean, nullptr, button, 21, c.mode, c.force);
    DrawPartForMode(panel_, boolean, nullptr, range, 20, c.mode, c.force);
    EXPECT_EQ(gDrawn, c.seen) << c.mode << c.force;
  }
  const int32 ddo = Obj(kClsDataDisplayObject, root_);
  const int32 first = Obj(kClsCosmetic, ddo), hidden = Obj(kClsCosmetic, ddo), last = Obj(kClsCosmetic, ddo);
  SetW(hidden, 0, int32(kObjFlagHidden));
  gDrawn.clear();
  DDOODrawMethod(panel_, ddo, nullptr, 0, 2);
  EXPECT_EQ(gDrawn, (Seen{{last, 2}, {first, 2}}));
}

// The key-focus frame by the object's flag 0x40, the dialog and its text
// entry; the background by imaging mode; the show-all state drawing hidden
// objects and hiding them again.
TEST_F(Draw, FocusFrameImagingModesAndShowAll) {
  const SlotPatch framing(kClsDataDisplayObject, kMsgOFrameSel, &RecordFrame);
  const int32 ddo = Obj(kClsDataDisplayObject, root_);
  // focus, flag 0x40, dialog, text entry, generic step on: framed.
  const bool frames[][6] = {{0, 1, 1, 0, 1, 0}, {1, 1, 0, 0, 1, 1}, {1, 0, 1, 0, 1, 1}, {1, 0, 1, 1, 1, 0},
                            {1, 0, 0, 0, 1, 0}, {1, 1, 1, 1, 1, 1}, {1, 1, 0, 0, 0, 0}};
  for (const bool* c : frames) {
    Ext(kHeapExtKeyFocus) = c[0] ? uInt32(ddo) : 0;
    SetW(ddo, 0, c[1] ? int32(kObjFlagHighlight) : 0);
    Ext(kHeapExtDialogFilter) = c[2];
    OHSetWord(panel_, kOHFlags, c[3] ? kHeapFlagTextEntry : 0);
    gFramed.clear();
    const DisplaySwitchScope drawing(gDDODrawEnabled, c[4]);
    DDOODrawMethod(panel_, ddo, nullptr, 0, 4);
    EXPECT_EQ(gFramed, c[5] ? std::vector<int32>{ddo} : std::vector<int32>{}) << (c - frames[0]) / 6;
  }
  Ext(kHeapExtKeyFocus) = Ext(kHeapExtDialogFilter) = 0;
  OHSetWord(panel_, kOHFlags, 0);

  // The background: the content (0), nothing (1), the panel's bounds (2).
  Ext(kHeapExtContentRect) = (10u << 16) | 10u, Ext(kHeapExtContentRect + 4) = (50u << 16) | 50u;
  gBounds = Rect{60, 60, 90, 90};
  for (int32 mode : {0, 1, 2}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    const int32 saved = PanelSetImagingMode(mode);
    ODrawPanel(panel_);
    PanelSetImagingMode(saved);
    EXPECT_EQ(Pixel(20, 20), mode == 0 ? 0xB3B3B3u : 0xFFFFFFu) << mode;
    EXPECT_EQ(Pixel(70, 70), mode == 2 ? 0xB3B3B3u : 0xFFFFFFu) << mode;
  }

  const SlotPatch cosmetics(kClsCosmetic, kMsgODraw, &RecordDraw), controls(kClsNumeric, kMsgODraw, &RecordDraw);
  const int32 shy = Obj(kClsCosmetic, root_);
  int32 control = 0;
  Control(tdb::I32(), kClsNumeric, &control, root_);
  for (int32 o : {shy, control}) SetW(o, 0, int32(kObjFlagHidden));
  Ext(kHeapExtConfirm) = uInt32(shy);
  for (bool all : {false, true}) {
    VIRec(vi_)->flags2 = all ? 0x400000 : 0;
    gDrawn.clear();
    ODrawPanel(panel_);
    EXPECT_EQ(gDrawn.size(), all ? 2u : 0u) << "the control through its controller, and the cosmetic";
    EXPECT_TRUE((W(shy, 0) & W(control, 0)) & kObjFlagHidden) << "hidden again, a controller's control too";
  }
  VIRec(vi_)->flags2 = 0;
}

// Blink phase 1 shows a label in the blink colours unless it is the focus
// text, which never blinks; the focus text drawn normally is set aside for
// a copy and comes back through the stash down the focus's saved path.
TEST_F(Draw, LabelsBlinkAndTheFocusTextIsSetAside) {
  const int32 label = Label(root_, 0, Rect{10, 10, 30, 90}, "Wwww");
  PrefSet(kPrefBlinkFG, 0xFF0000);
  PrefSet(kPrefBlinkBG, 0x0000FF);
  const TRecord text = TextOf(label);
  UHandle frames = Keep(AZNewHClr(3 * 16));
  const TransactionFrame path[] = {{root_, kCatFPSC, 2, 0}, {label, kCatCOSM, 2, 0}, {}};
  std::memcpy(*frames, path, sizeof path);
  Ext(kHeapExtSavedFrames) = uInt32(uintptr_t(frames));
  struct Case { bool focus; int32 mode; bool blinks, setAside; };
  for (const Case& c : {Case{false, 1, true, false}, Case{true, 1, false, true}, Case{true, 4, false, true},
                        Case{false, 4, false, false}}) {
    SCOPED_TRACE(c.focus * 10 + c.mode);
    Ext(kHeapExtKeyFocus) = c.focus ? uInt32(label) : 0;
    Ext(kHeapExtFocusText) = c.focus ? uInt32(uintptr_t(text)) : 0;
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    ODrawObj(panel_, label, 0, 0, c.mode);
    EXPECT_EQ(Any(Rect{10, 10, 30, 90}, 0xFF0000), c.blinks);
    EXPECT_EQ(Any(Rect{10, 10, 30, 90}, 0x000000), !c.blinks);
    EXPECT_EQ(Ext(kHeapExtStashedText), c.setAside ? uInt32(uintptr_t(text)) : 0u);
    EXPECT_EQ(TextOf(label) != text, c.setAside) << "the label goes on with a copy";
    if (!c.setAside) continue;
    HeapStashText(panel_, label);
    EXPECT_EQ(TextOf(label), text);
    EXPECT_EQ(Ext(kHeapExtStashedText), 0u);
  }
  Ext(kHeapExtKeyFocus) = Ext(kHeapExtFocusText) = Ext(kHeapExtSavedFrames) = 0;
}

// A panel of an image cosmetic, a multi-image, free labels, a cluster of two
// labelled numerics, a 2 x 2 array of three values with its first row
// selected and a greyed string, drawn as a window update draws it.
TEST_F(Draw, APanelOfCosmeticsLabelsClusterAndArrayLooksAsItsGoldens) {
  SetW(Part(kClsCosmetic, root_, 0, Rect{10, 10, 40, 40}), kObjImage / 4, 0x10000 | Image(30, 30, 0xCC3300));
  const int32 multi = vib::NewObject(panel_, kClsMultiCosmetic, kObjImageList + 8, root_, 0, 0);
  SetBounds(multi, Rect{10, 50, 30, 70});
  PutNative16(*panel_ + multi + kObjImageCount, 2);
  for (int32 i : {0, 1}) SetW(multi, kObjImageList / 4 + i, 0x10000 | Image(20, 20, i ? 0x0000AA : 0x00AA00));
  const int16 beyond = 7;  // clamped to the last image, and kept
  ODrawObj(panel_, multi, int32(uintptr_t(&beyond)), 0, 4);
  EXPECT_EQ(ObjInt16(panel_, multi, kObjImageIndex), 1);
  const DColor yellow = 0xFFFF00;
  Label(root_, 0, Rect{10, 80, 30, 160}, "Free label");
  TSetColors(TextOf(Label(root_, 0, Rect{10, 170, 30, 280}, "On yellow")), nullptr, &yellow, 0);
  const TypeID i32 = Type(tdb::I32());
  int32 cluster = 0, array = 0, string = 0;
  const int32 clusterDco = Control(tdb::Cluster({tdb::I32(), tdb::I32()}), kClsCluster, &cluster, root_);
  SetBounds(cluster, Rect{50, 10, 110, 140});
  TSetColors(TextOf(Label(cluster, 28, Rect{50, 10, 110, 140}, "")), nullptr, &yellow, 0);
  std::vector<int32> elements;
  for (int16 i = 0; i < 2; ++i) {
    elements.push_back(Part(kClsNumeric, cluster, 0, Rect{int16(60 + 25 * i), 20, int16(80 + 25 * i), 130}));
    SetW(elements.back(), kPWDDOTypeId, int32(i32));
    Label(elements.back(), 16, Rect{int16(60 + 25 * i), 20, int16(80 + 25 * i), 80}, i ? "second" : "first");
  }
  SetW(cluster, kPWClusterElements, vib::NewList(panel_, elements));
  const int32 arrayDco = Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &array, root_);
  SetBounds(array, Rect{120, 10, 170, 110});
  SetW(Part(kClsCosmetic, array, 28, Rect{120, 10, 170, 110}), kObjCosmBack / 4, 0xFFFFFF);
  const int32 element = Part(kClsNumeric, array, kPartDigital, Rect{120, 10, 145, 60});
  SetW(element, kPWDDOTypeId, int32(i32));
  Label(element, 16, Rect{122, 12, 143, 58}, "cell");
  SetW(array, kPWArrayElement, element), SetW(array, kPWArrayGrid, ArrayCell(1, 1));
  SetW(array, 0, int32(kArrayShowsSelection));
  Control(tdb::String(), kClsString, &string, root_);
  SetBounds(string, Rect{120, 150, 150, 280});
  Label(string, 16, Rect{125, 155, 145, 275}, "greyed");
  SetW(string, 0, int32(kObjFlagGreyed));
  for (int32 dco : {clusterDco, arrayDco}) ASSERT_EQ(Alloc(dco), kNoErr);
  // One row of two values where the controller draws its value from (the
  // second row beyond the data), the first row selected.
  int32 sizes[] = {1, 2}, *sz = sizes;
  const TypeDescriptor* td = TypeIDToTD(panel_, TypeID(W(arrayDco, kPWDCOTypeId)));
  UHandle* at = reinterpret_cast<UHandle*>(*DS() + AlignDatum(td, W(arrayDco, kPWDCORecord) + 12));
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI32], 2, at, &sz), kNoErr);
  for (int32 k : {1, 2}) {
    const UHandle sel = *reinterpret_cast<UHandle*>(*DS() + W(array, kPWArrayPrivate) + 4 * k);
    ASSERT_TRUE(sel && DSGetHandleSize(sel) >= 12);
    PutNative32(*sel + 4, k - 1), PutNative32(*sel + 8, 2 * (k - 1));
  }
  // At full colour on the window, and into a one-bit pixmap copied onto it.
  const Rect all{0, 0, 200, 300};
  int32 bits = 0;
  ASSERT_EQ(ICreatePixmap(-1, &all, 1, &bits), kNoErr);
  images_.push_back(bits);
  for (bool bw : {false, true}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    ImageSaveRecord save{};
    if (bw) IOpen(bits, &save);
    ODrawPanel(panel_);
    if (bw) IClose(bits, &save), IDraw(bits, nullptr, &all, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF);
    EXPECT_EQ(R(BoundsOf(element)), R(Rect{120, 10, 145, 60})) << "the element ends on its cell";
    qxtest::ExpectMatchesGolden(Surface(),
                                std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens" / (bw ? "panel-bw.png" : "panel.png"),
                                "QX_UPDATE_GOLDENS=1 build/tests/test_panel --gtest_filter=Draw.*");
  }
}

}  // namespace objdraw
