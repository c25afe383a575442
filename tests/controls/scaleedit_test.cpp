// A scale edited by typing into its labels and through its pop-up menu,
// the menu raised by a pop-up click through the panel's event handler, and
// a slide's slider kept off a disabled item.
#include <cstring>
#include <map>
#include <vector>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "draw_start.h"
#include "mgsource/byteorder.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/winproc.h"
#include "panel/clipmenu.h"
#include "panel/methsupport.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/panel_test_support.h"
#include "panel/textparts.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"

namespace {

// The items a build pass inserts: code, position, level.
struct Inserted {
  int32 code, position, level;
};
std::vector<Inserted> gInserted;
int32 RecordInsert(int32 level, MenuHandle menu, ConstPStr, int32 code, int32) {
  static const uChar kText[] = {1, 'x'};
  if (MInsertLItem(menu, kText, nullptr, 0, nullptr, 0, -1, 0) != kNoErr) return 0;
  gInserted.push_back({code, MCountItems(menu), level});
  return MCountItems(menu);
}

class ScaleEdit : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    ControlsJoinScaleSlots();
    if (!TRStackBlock()) TRInit();
    ASSERT_EQ(Alloc(Control(tdb::DBL(), kClsSlide, &slide_, root_)), kNoErr);
    SetBounds(slide_, Rect{0, 0, 60, 120});
    scale_ = Obj(kClsScale, slide_, kControlPartScale);
    ASSERT_EQ(Alloc(scale_), kNoErr);
    SetBounds(scale_, Rect{0, 0, 40, 110});
    SetW(scale_, 0, int32(kScaleHorizontal | kScaleArbitrary | kScaleColours));
    ScaleRec* r = Rec();
    r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 0, r->pixelEnd = 100;
    SetMarkers({0, 5, 10});
    ASSERT_EQ(MNewLMenu(&menu_, reinterpret_cast<const uChar*>("\001P"), 72), kNoErr);
    PopupShellHooks popup{};
    popup.menuInsertItemAt = &RecordInsert;
    SetPopupShellHooks(popup);
    gInserted.clear();
  }
  void TearDown() override {
    SetPopupShellHooks({});
    SetPanelShellHooks({});
    if (menu_) MDisposeMenu(menu_);
    PanelRootTest::TearDown();
  }
  ScaleRec* Rec() { return ScaleRecOf(panel_, scale_); }
  // The marker values (colours 0), and the values read back.
  void SetMarkers(const std::vector<double>& values) {
    ASSERT_EQ(ScaleResizeMarkers(Rec(), int32(values.size())), kNoErr);
    for (size_t i = 0; i < values.size(); ++i)
      std::memcpy(*Rec()->markers + 4 + 12 * i, &values[i], 8), std::memset(*Rec()->markers + 12 + 12 * i, 0, 4);
  }
  std::vector<double> Markers() {
    std::vector<double> out(GetNative32(*Rec()->markers));
    for (size_t i = 0; i < out.size(); ++i) std::memcpy(&out[i], *Rec()->markers + 4 + 12 * i, 8);
    return out;
  }
  // A pop-up record of the scale's own menu in the phase, with the marker.
  ActionParams Popup(int32 phase, int32 marker, int32 menuId = 72, int32 item = 0) {
    ActionParams p{};
    auto* rec = reinterpret_cast<ScalePopupRecord*>(&p);
    rec->popup.category = kScaleTag, rec->popup.menu72 = menu_, rec->popup.phase = phase;
    rec->popup.level = phase == kPopupRun ? -1 : 0;
    rec->popup.menuId = menuId, rec->popup.item = item, rec->marker = marker;
    rec->popup.point = Point{20, 70};
    return p;
  }
  // Codes of the menu built for the marker, each 'e' enabled, 'd' disabled,
  // 'c' checked.
  std::map<int32, char> Built(int32 marker) {
    while (MCountItems(menu_)) MDeleteItem(menu_, 1);
    gInserted.clear();
    ActionParams p = Popup(kPopupBuild, marker);
    EXPECT_EQ(OPopup(panel_, scale_, &p), 0);
    std::map<int32, char> out;
    for (const Inserted& i : gInserted) {
      EXPECT_EQ(i.level, 1) << "the scale's own level";
      const LItemRecord* item = MGetLItemPtr(menu_, i.position);
      out[i.code] = !item->enabled ? 'd' : item->mark ? 'c' : 'e';
    }
    return out;
  }
  // A path on the transaction stack: the scale at its part's position,
  // then the part as the target.
  TransactionFrame* PathTo(int32 part) {
    TRPushFrame();
    auto* top = static_cast<TransactionFrame*>(TRStackTop());
    int32 at = 0;
    while (ObjListGet(panel_, W(scale_, kObjPartList / 4), at) != part) ++at;
    top[0] = {scale_, kScaleTag, 0, at}, top[1] = {part, kCatCOSM, 2, 0}, top[2] = TransactionFrame{};
    return top;
  }

  int32 slide_ = 0, scale_ = 0;
  MenuHandle menu_ = nullptr;
};

int32 CommitLabel(ObjHeap, int32, TransactionFrame*, int32, ActionParams*) { return 0x40; }

// A label's committed text sets the value of the marker being edited: the
// upper end's sets max, an interior one the marker; a text that is not a
// number changes nothing; editing ends with the action.
TEST_F(ScaleEdit, TypedLabelsSetTheEditedMarkersValue) {
  SetW(scale_, 0, int32(kScaleHorizontal));
  const int32 label = Obj(kClsLabel, scale_, kScalePartLabel);
  SetBounds(label, Rect{20, 0, 35, 30});
  const ptest::SlotPatch commit(kClsLabel, kMsgODoit, &CommitLabel);
  struct Case {
    int32 marker;
    const char* text;
    double min, max;
    bool changed;
  };
  const Case cases[] = {{0, "100", 0, 100, true}, {1, "-5", -5, 10, true}, {0, "abc", 0, 10, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Rec()->min = 0, Rec()->max = 10;
    SetPartText(panel_, label, reinterpret_cast<const uChar*>(c.text), int32(std::strlen(c.text)), 0, 0);
    std::memcpy(*panel_ + scale_ + kScaleObjEditIndex, &c.marker, 2);
    void* const before = TRStackTop();
    ActionParams p{};
    p.eventCode = kSubKeyDown, p.keyCode = 2;
    const int32 reply = OSendMessage<int32>(kMsgODoit, panel_, scale_, PathTo(label), int32(kActOperate), &p);
    TRSetStackTop(before);
    EXPECT_EQ((reply & 0x200) != 0, c.changed);
    EXPECT_EQ(Rec()->min, c.min);
    EXPECT_EQ(Rec()->max, c.max);
    EXPECT_EQ(ObjInt16(panel_, scale_, kScaleObjEditIndex), -1);
  }
  if (TRecord t = PartTextRecord(panel_, label)) TDispose(t);
}

// The menu of a colour scale: the ramp and colour items; with arbitrary
// markers "Delete Marker" only on an interior marker and "Marker Color" on
// a marker clicked; uniform markers offer neither, nor "Add Marker".
TEST_F(ScaleEdit, TheMenuOffersWhatTheMarkersAllow) {
  struct Case {
    uInt32 flags;
    int32 marker;
    std::map<int32, char> items;
  };
  const uInt32 colour = kScaleHorizontal | kScaleColours, arbitrary = colour | kScaleArbitrary;
  const Case cases[] = {
      {arbitrary, 3, {{171, 'c'}, {266, 'e'}, {267, 'e'}, {268, 'e'}, {269, 'e'}, {184, 'c'}}},
      {arbitrary, 1, {{171, 'c'}, {266, 'e'}, {267, 'e'}, {268, 'd'}, {269, 'e'}, {184, 'c'}}},
      {arbitrary | kScaleNoInterpolation, -1,
       {{171, 'c'}, {266, 'e'}, {267, 'e'}, {268, 'd'}, {269, 'd'}, {184, 'e'}}},
      {colour, 3, {{171, 'c'}, {266, 'e'}, {267, 'd'}, {268, 'd'}, {269, 'd'}, {184, 'c'}}},
      {kScaleHorizontal | kScaleArbitrary, 3, {{266, 'e'}, {267, 'e'}, {268, 'e'}}},
  };
  Obj(kClsCosmetic, scale_, kScalePartRamp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker);
    SetW(scale_, 0, int32(c.flags));
    EXPECT_EQ(Built(c.marker), c.items);
  }
  // The ramp hidden: the item unchecked; another object's record builds
  // nothing.
  SetW(FindPart(panel_, scale_, kScalePartRamp, 0), 0, int32(kObjFlagHidden));
  SetW(scale_, 0, int32(kScaleHorizontal | kScaleColours));
  EXPECT_EQ(Built(3)[kPopupRamp], 'e');
  ActionParams p = Popup(kPopupBuild, 3);
  reinterpret_cast<PopupMsgRecord*>(&p)->category = kCatDDO;
  gInserted.clear();
  EXPECT_EQ(OPopup(panel_, scale_, &p), 0);
  EXPECT_TRUE(gInserted.empty());
}

// The commands: spacing to arbitrary and back keeps the markers; a marker
// is added at the click in order and an interior one deleted; the mapping,
// the ramp and the interpolation switch; the palette's reply recolours the
// clicked marker.
TEST_F(ScaleEdit, MenuCommandsChangeTheScale) {
  const int32 ramp = Obj(kClsCosmetic, scale_, kScalePartRamp);
  SetW(ramp, 0, int32(kObjFlagHidden));
  struct Case {
    int32 menuId, item, marker, reply;
    std::vector<double> markers;
    uInt32 bit;  // a flag bit of the scale afterwards, and whether set
    bool set;
  };
  const Case cases[] = {
      {98, 1, -1, 0x10280, {0, 5, 10}, kScaleArbitrary, false},
      {98, 2, -1, 0x10280, {0, 5, 10}, kScaleArbitrary, true},
      {72, kPopupAddMarker, -1, 0x280, {0, 5, 7, 10}, 0, false},
      {72, kPopupDeleteMarker, 3, 0x280, {0, 10}, 0, false},
      {72, kPopupDeleteMarker, 1, 0, {0, 5, 10}, 0, false},
      {72, kPopupInterpolateColor, -1, 0x10200, {0, 5, 10}, kScaleNoInterpolation, true},
      {72, kPopupRamp, -1, 0x80, {0, 5, 10}, 0, false},
      {59, 2, -1, 0x280, {0, 5, 10}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.menuId) + " " + std::to_string(c.item));
    SetMarkers({0, 5, 10});
    const bool rampHidden = W(ramp, 0) & kObjFlagHidden;
    ActionParams p = Popup(kPopupRun, c.marker, c.menuId, c.item);
    EXPECT_EQ(OPopup(panel_, scale_, &p), c.reply);
    EXPECT_EQ(Markers(), c.markers);
    if (c.bit) { EXPECT_EQ((uInt32(W(scale_, 0)) & c.bit) != 0, c.set); }
    EXPECT_EQ(((W(ramp, 0) & kObjFlagHidden) != 0) != rampHidden, c.item == kPopupRamp);
    if (c.menuId == 59) { EXPECT_EQ(Rec()->mapping, kScaleLog); }
  }
  // "Marker Color": the palette is prepared with the clicked marker; its
  // reply stores a new colour once; the palette without cells chooses
  // nothing.
  Built(3);
  EXPECT_EQ(ScaleMarkerColorReply(0xFF0000, 0, kPaletteForeground | kPaletteFinal, scale_), 0x20200);
  EXPECT_EQ(GetNative32(*Rec()->markers + 4 + 12 + 8), 0xFF0000u);
  EXPECT_EQ(ScaleMarkerColorReply(0xFF0000, 0, kPaletteForeground | kPaletteFinal, scale_), 0) << "unchanged";
  EXPECT_EQ(ScaleMarkerColorReply(0x00FF00, 0, kPaletteFinal, scale_), 0) << "no choice";
  ActionParams p = Popup(kPopupRun, 3, kColorPaletteMenuId, 1);
  EXPECT_EQ(OPopup(panel_, scale_, &p), 0);
  EXPECT_EQ(GetNative32(*Rec()->markers + 4 + 12 + 8), 0xFF0000u);
}

// A pop-up click on a tick of a slide's scale, through the panel's event
// handler: the scale's menu opens at the click, and "Add Marker" chosen with
// the keyboard adds the value under the click in order.
std::map<int32, Inserted> gTracked;
TEST_F(ScaleEdit, APopUpClickAddsTheMarkerUnderTheClick) {
  // The pop-up click lands on the tick of the marker at 3 (pixel 30).
  SetW(scale_, 0, int32(kScaleHorizontal | kScaleArbitrary | kScaleEndTicks | kScaleInnerTicks));
  SetBounds(Obj(kClsCosmetic, scale_, kScalePartTick), Rect{20, 0, 30, 1});
  SetMarkers({0, 3, 10});
  static MenuHandle shown = nullptr;
  shown = menu_;
  WPortState port{};
  ASSERT_NE(StartMenuWindow(Rect{40, 40, 300, 400}, &port), kWNoWindow);
  PanelShellHooks h{};
  h.standardMenu = [](int32 id) { return id == 72 ? shown : MenuHandle(nullptr); };
  h.menuFindTracked = [](int32* owner, int32* id, int32* item) {
    for (const Inserted& i : gInserted)
      if (*id == 72 && i.position == *item) return *owner = i.level, *item = i.code, 1;
    return 0;
  };
  SetPanelShellHooks(h);
  WMainLoopHooks loop{};
  loop.background = [](Bool32) {
    static bool pressed = false;
    if (!(*shown)->window || pressed) return 0;
    pressed = true;
    for (uInt32 vk : {kPlatVkDown, kPlatVkDown, kPlatVkReturn})
      PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs());
    return 0;
  };
  WSetMainLoopHooks(loop);
  WEventRecord e{};
  e.code = wePopupClick;
  e.where = (31 << 16) | 25;  // h 31, v 25: the value 3.1
  TRPanelEvent(&e, panel_);
  WResetMainLoopHooks();
  StopDrawingWindow(&port);
  ASSERT_EQ(gInserted.size(), 3u);
  EXPECT_EQ(gInserted[1].code, kPopupAddMarker);
  EXPECT_EQ(Markers(), (std::vector<double>{0, 3, 3.1, 10}));
}

// A tick clicked on a control's scale: in edit mode the cursor is the
// drag cursor and a press drags the marker; operating, neither.
TEST_F(ScaleEdit, TicksAreDraggedOnlyInEditMode) {
  SetW(scale_, 0, int32(kScaleHorizontal | kScaleArbitrary | kScaleEndTicks | kScaleInnerTicks));
  SetBounds(Obj(kClsCosmetic, scale_, kScalePartTick), Rect{20, 0, 30, 1});
  struct Case {
    uInt32 mode;
    int32 kind, answer, cursor;
  };
  const Case cases[] = {{0x80000, kClickCursor, 2, kCursorScaleHorizontal}, {0, kClickCursor, 2, 0},
                        {0x80000, kClickPress, kClickTrack, -1}, {0, kClickPress, kClickAbsorbed, -1}};
  for (const Case& c : cases) {
    VIRec(vi_)->flags2 = c.mode;
    void* const before = TRPushFrame();
    TransactionState click{c.kind, (51 << 16) | 25, 0, nullptr};
    ActionParams p{};
    const int32 answer = OSendMessage<int32>(kMsgOClick, panel_, scale_, &click, TRStackTop(), &p);
    TRSetStackTop(before);
    EXPECT_EQ(answer, c.answer) << c.mode << " " << c.kind;
    if (c.cursor >= 0) { EXPECT_EQ(CursorOf(&p)->cursor, c.cursor); }
    EXPECT_EQ(p.dragObject, answer == kClickTrack ? scale_ : 0);
  }
  VIRec(vi_)->flags2 = 0;
  ScaleDragMarker(panel_, scale_, kScaleDragEnd, 0, Point{}, 0, 0);
}

// A slide with text labels keeps its value when the mouse reaches a
// disabled item, unless the owner's mode takes items (0x80000).
TEST_F(ScaleEdit, ASliderStopsShortOfADisabledItem) {
  int32 slide = 0;
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsSlide, &slide, root_)), kNoErr);
  const int32 scale = Obj(kClsScale, slide, kControlPartScale);
  ASSERT_EQ(Alloc(scale), kNoErr);
  SetW(scale, 0, int32(kScaleHorizontal));
  ScaleRec* r = ScaleRecOf(panel_, scale);
  r->min = 0, r->max = 4, r->increment = 1, r->multiplier = 1, r->pixelStart = 0, r->pixelEnd = 40;
  const int32 ring = Obj(kClsRing, slide, 8001);
  SetW(ring, kPWDDOTypeId, int32(Type(tdb::I32())));
  ASSERT_EQ(Alloc(ring), kNoErr);
  while (RingInsertDeleteItem(panel_, ring, 0, 0) >= 0) {}
  for (int32 i = 0; i < 5; ++i) RingInsertDeleteItem(panel_, ring, i, 1);
  ASSERT_NE(ObjItemData(panel_, ring), nullptr);
  PutNative32(*ObjItemData(panel_, ring) + 4 + 4 * 3, 1);  // item 3 disabled
  for (const auto& [mode, after] : {std::pair{0u, 1}, {0x80000u, 3}}) {
    VIRec(vi_)->flags2 = mode;
    int32 value = 1, changed = 0;
    ActionParams p{};
    p.partId = 23, p.eventCode = 3, p.point = Point{10, 30};
    EXPECT_EQ(SlideTrackSlider(panel_, slide, nullptr, &p, &value, &changed), kNoErr);
    EXPECT_EQ(value, after) << mode;
    EXPECT_EQ(changed, after != 1);
  }
  VIRec(vi_)->flags2 = 0;
}

}  // namespace
