// Operating Booleans, cosmetics and labels: mechanical actions and keys,
// hit areas and cursors, label editing, dropped text and multi-line items.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wdrag.h"
#include "panel/datamsg.h"
#include "panel/dataxfer.h"
#include "panel/editmsg.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/zktag.h"
#include "draw_start.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_activate.h"
#include "platform/qx_alert.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "operate_fixture.h"
#include "panel_test_support.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "mgsource/window/wsysinfo.h"
#include "panel/clipmenu.h"
#include "panel/fppanel.h"
#include "tools/dlgwriter.h"
#include "platform/qx_droptarget.h"

namespace {

using ptest::PanelRootTest;

class Operate : public OperateRootTest {
 protected:
  void TearDown() override {
    SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
    TrackState(0, nullptr, 1);
    OperateRootTest::TearDown();
  }
  int32 Click(int32 obj, int32 mode, Point at, ActionParams* p) {
    TransactionState s{mode, 0, 0, nullptr};
    std::memcpy(&s.point, &at, sizeof at);
    return OSendMessage<int32>(kMsgOClick, panel_, obj, &s, Path({}), p);
  }
  int32 TextObj(int32 cls, int32 owner, int16 id, const char* text, Rect r = {10, 10, 30, 60}) {
    const int32 o = Obj(cls, owner, id);
    SetBounds(o, r);
    SetPartText(panel_, o, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), 0, 0);
    texts_.push_back(o);
    return o;
  }
  static ActionParams Key(int32 key, int32 character = 0, int32 modifiers = 0) {
    ActionParams p{};
    p.eventCode = 6;
    p.keyCode = key;
    p.character = character;
    p.modifiers = modifiers;
    return p;
  }
  uChar& Value(int32 b) { return *reinterpret_cast<uChar*>(uintptr_t(uInt32(OGetDataPtr(panel_, b, 0, 0, nullptr)))); }
};

// The four mechanical actions (and the two-state halves) through press (P),
// moves out (O) and in (I), release (R) and end (E).
TEST_F(Operate, BooleansSwitchByTheirMechanicalAction) {
  int32 b = 0;
  ASSERT_EQ(Alloc(Control(tdb::Boolean(), kClsBoolean, &b)), kNoErr);
  const int32 button = Obj(kClsCosmetic, b, 21), half = Obj(kClsCosmetic, b, 63);
  SetBounds(button, Rect{0, 0, 20, 20});
  struct Case { uInt32 flags; int32 part; uChar start; const char* steps; uChar value; int32 tracked, pressed; };
  const Case cases[] = {
      {0, button, 0, "P", 1, 0, 0},       {0x10000, button, 0, "P", 1, 1, 0},
      {0x10000, button, 0, "PR", 0, 0, 0}, {0x10000, button, 0, "PE", 0, 0, 0},
      {0x30000, button, 0, "PR", 1, 1, 0}, {0x40000, button, 0, "P", 0, 1, 1},
      {0x40000, button, 0, "PO", 0, 1, 0}, {0x40000, button, 0, "POIR", 1, 0, 0},
      {0x40000, button, 0, "POR", 0, 0, 0}, {0x40000, button, 0, "PE", 0, 0, 0},
      {0, half, 1, "P", 1, 0, 0},          {0, half, 0, "P", 1, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.steps) + " " + std::to_string(c.flags) + " " + std::to_string(c.part == half));
    SetW(b, 0, int32(c.flags));
    Value(b) = c.start;
    SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
    TrackState(0, nullptr, 1);
    const int32 index = c.part == button ? 0 : 1;
    for (const char* s = c.steps; *s; ++s) {
      ActionParams p{};
      p.eventCode = *s == 'P' ? 1 : *s == 'R' ? 2 : *s == 'E' ? 5 : 3;
      p.localPoint = *s == 'O' ? 0x00500050 : 0x00050005;
      Do(b, Path({{b, kCatDDO, 0, index}, {c.part, kCatCOSM, 2, 0}}), kActTrack, &p);
    }
    int32 pressed = -1;
    TrackState(0, &pressed, 0);
    EXPECT_EQ(Value(b), c.value);
    EXPECT_EQ(IsBoolTracking(panel_, b), c.tracked);
    EXPECT_EQ(pressed, c.pressed);
  }
  // In a dialog the Boolean takes the key focus and ends the path.
  SetW(b, 0, 0);
  Ext(kHeapExtDialogFilter) = 1;
  ActionParams p{};
  p.eventCode = 1;
  TransactionFrame* f = Path({{b, kCatDDO, 0, 0}, {button, kCatCOSM, 2, 0}});
  EXPECT_EQ(Do(b, f, kActTrack, &p) & 9, 8);
  EXPECT_EQ(f[0].mode * 1000 + int32(f[1].kind), 2000);
  EXPECT_EQ(Ext(kHeapExtKeyFocus), uInt32(b));
  Ext(kHeapExtDialogFilter) = 0;
}

// A real press through the panel event: the click answers 14, the Boolean
// gets the press and then the track's end (the application is inactive, so
// the track is over at once), and is no longer the tracked object afterwards.
TEST_F(Operate, APressThroughThePanelTracksTheBooleanItHits) {
  int32 b = 0;
  const int32 dco = Control(tdb::Boolean(), kClsBoolean, &b, root_);
  ASSERT_EQ(Alloc(dco), kNoErr);
  SetBounds(b, Rect{0, 0, 40, 40});
  SetBounds(Obj(kClsCosmetic, b, 21), Rect{0, 0, 40, 40});
  SetW(dco, 5, b);
  struct Case { uInt32 flags; uChar value; } cases[] = {{0, 1}, {0x10000, 0}, {0x40000, 0}};
  WSetAppInactive(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    SetW(b, 0, int32(c.flags));
    Value(b) = 0;
    WEventRecord down{};
    down.code = weMouseDown;
    down.where = 0x00140014;
    TRPanelEvent(&down, panel_);
    EXPECT_EQ(Value(b), c.value);
    EXPECT_EQ(IsBoolTracking(panel_, b), 0);
  }
  WSetAppInactive(0);
  ClearReports();
  ActionParams none{};
  EXPECT_EQ(TrackLastPathSeg(panel_, &none), 0);
  EXPECT_EQ(Asserts(), 1) << "a tracking click that names no object";
}

TEST_F(Operate, BooleanKeysToggleSetOrChangeNothing) {
  int32 b = 0;
  ASSERT_EQ(Alloc(Control(tdb::Boolean(), kClsBoolean, &b)), kNoErr);
  struct Case { uInt32 flags; uChar start; int32 key, character, modifiers; uChar value; } cases[] = {
      {0, 1, 27, 't', 0, 1}, {0, 1, 27, ' ', 0, 0},  {0, 1, 27, 'F', 0, 0},    {0, 0, 27, '1', 0, 1},
      {0, 0, 27, 'x', 0, 0}, {0, 0, 2, 0, 0, 1},     {0, 0, 2, 0, 0x400, 0},   {0, 0, 42, 0, 0, 1},
      {0x80, 0, 42, 0, 0, 0}, {0, 0, 38, 0, 0, 0},   {1, 0, 2, 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.key) + " " + char(c.character));
    SetW(b, 0, int32(c.flags));
    Value(b) = c.start;
    ActionParams p = Key(c.key, c.character, c.modifiers);
    const int32 reply = Do(b, Path({{b, kCatDDO, 2, 0}}), kActOperate, &p);
    EXPECT_EQ(Value(b), c.value);
    EXPECT_EQ((reply & 8) != 0, c.value != c.start) << "only a change writes";
  }
  // A committed Boolean text is reported as a modification.
  const int32 text = TextObj(kClsLabel, b, 22, "on");
  SetW(text, 0, int32(kObjFlagTextModified));
  ActionParams commit = Key(2);
  ClearReports();
  EXPECT_EQ(Do(b, Path({{b, kCatDDO, 0, 0}, {text, kCatCOSM, 2, 0}}), kActOperate, &commit) & 0x40, 0x40);
  EXPECT_EQ(Reports("modMask 80000800"), 1);
  // Without data the key fails and nothing is written.
  const int32 lone = Obj(kClsBoolean);
  ActionParams p = Key(2);
  EXPECT_EQ(Do(lone, Path({{lone, kCatDDO, 2, 0}}), kActOperate, &p), 16);
}

TEST_F(Operate, CosmeticsAnswerByHitAreaModeAndFlags) {
  const int32 c = Obj(kClsCosmetic, root_);
  SetBounds(c, Rect{10, 10, 30, 40});
  struct Case { uInt32 flags; int32 mode; Point at; int32 answer; } cases[] = {
      {0, 2, {8, 20}, 14}, {0, 2, {6, 20}, 0},        {0, 2, {20, 42}, 14}, {8, 2, {20, 20}, 0},
      {1, 2, {20, 20}, 1}, {0x800, 0, {20, 20}, 1}, {0, 3, {20, 20}, 2},  {4, 3, {20, 20}, 2}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.flags * 100 + k.mode);
    SetW(c, 0, int32(k.flags));
    ActionParams p{};
    EXPECT_EQ(Click(c, k.mode, k.at, &p), k.answer);
    const std::vector<int16> pixel{20, 20, 21, 21}, bounds{10, 10, 30, 40};
    if (k.answer == 14) {
      EXPECT_EQ(p.dragObject, c);
    } else if (k.answer == 2) {
      EXPECT_EQ(R(CursorOf(&p)->rect), k.flags & 4 ? pixel : bounds);
    }
  }
}

TEST_F(Operate, LabelsEditOnlyWhenNotLockedNorInsideALinkedTypeDefinition) {
  const int32 free = TextObj(kClsLabel, root_, 0, "abc");
  const int32 owner = Obj(kClsNumeric, root_);
  const int32 caption = TextObj(kClsLabel, owner, 10, "cap");
  struct Case { int32 label; uInt32 flags, ownerMode; int32 typeDef, mode, answer; } cases[] = {
      {free, 0, 0, 0, 2, 15},   {free, 0x400, 0, 0, 2, 1},      {free, 0x400, 0, 0, 7, 2},
      {free, 0, 0, 123, 2, 1}, {caption, 0, 0, 123, 2, 15}, {caption, 0, 0x4000000, 0, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags + c.ownerMode + c.typeDef);
    SetW(c.label, 0, int32(c.flags));
    VIRec(vi_)->flags2 = c.ownerMode;
    SetEnclosingTypeDef(c.typeDef);
    ActionParams p{};
    EXPECT_EQ(Click(c.label, c.mode, Point{15, 12}, &p), c.answer);
    if (c.answer == 15) {
      EXPECT_EQ(p.focusObject, c.label);
    } else if (c.answer == 2) {
      EXPECT_EQ(CursorOf(&p)->cursor, kCursorStandard) << "no text cursor";
    }
  }
  SetEnclosingTypeDef(0);
  VIRec(vi_)->flags2 = 0;
  // An edited label commits.
  SetW(free, 0, int32(kObjFlagTextModified));
  ActionParams p = Key(2);
  EXPECT_EQ(Do(free, Path({{free, kCatCOSM, 2, 0}}), kActOperate, &p) & 0x40, 0x40);
}

TEST_F(Operate, TextDroppedOnALabelLandsAtTheDropPointSelected) {
  const int32 label = TextObj(kClsLabel, root_, 0, "ab");
  PlatDataObject* data = PlatNewTextDataObject("XY");
  DragData drag = nullptr;
  ASSERT_EQ(DragNewData(&drag, uInt32(reinterpret_cast<uintptr_t>(data))), kNoErr);
  ActionParams p{};
  auto* rec = reinterpret_cast<DataXferRec*>(&p.eventCode);
  ASSERT_EQ(DataXferInitDrag(drag, kDragKindDataObject, rec), kNoErr);
  TRecord text = PartTextRecord(panel_, label);
  TSelectText(text, 0, 0);
  p.point = Point{15, 59};  // after the last character
  EXPECT_EQ(Do(label, Path({{label, kCatCOSM, 2, 0}}), kActTextDrop, &p) & 16, 0);
  int32 start = -1, end = -1;
  TGetSelection(text, &start, &end);
  UHandle h = TGetText(text);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h)), "abXY");
  EXPECT_EQ(start * 10 + end, 24);
  DragDisposeData(drag);
  data->Release();
}

TEST_F(Operate, ShiftEnterOnAMultiLabelAddsAnEmptyItemAfterTheActiveOne) {
  int32 ring = 0;
  ASSERT_EQ(Alloc(Control(tdb::U16(), kClsRing, &ring)), kNoErr);
  const int32 items = TextObj(kClsMultiLabel, ring, 12, "a");
  UHandle list = AZNewHandle(8);
  std::memcpy(*list, "\2\0\0\0\1a\1b", 8);
  SetW(items, 11, int32(uintptr_t(list)));
  ActionParams p = Key(2, 0, 2);
  EXPECT_EQ(Do(items, Path({{items, kCatCOSM, 2, 0}}), kActOperate, &p) & 0x249, 0x249);
  EXPECT_EQ(AZGetHandleSize(list), 9);
  EXPECT_EQ(std::memcmp(*list, "\3\0\0\0\1a\0\1b", 9), 0);
  EXPECT_EQ(W(items, 10), 1);
  SetW(items, 11, 0);
  AZDisposeHandle(list);
}

}  // namespace

// Clicks through the panel's root, its controllers and the display objects
// down to a part: the front-most first; hidden objects and the connector
// pane pass the click on; disabled ones absorb it.
TEST_F(Operate, ClicksFindTheFrontMostControlAndItsPart) {
  Obj(kClsConnectorPane, root_);
  int32 b[2] = {}, face[2] = {};
  for (int32 i = 0; i < 2; ++i) {
    const int32 dco = Control(tdb::Boolean(), kClsBoolean, &b[i], root_);
    SetBounds(b[i], Rect{int16(10 * i), 0, 40, 40});
    face[i] = Obj(kClsCosmetic, b[i], 21);
    SetBounds(face[i], Rect{int16(10 * i), 0, 40, 40});
    SetW(dco, 5, b[i]);
  }
  struct Case { uInt32 frontFlags, faceFlags; int32 mode; Point at; int32 answer, target; };
  const Case cases[] = {
      {0, 0, 2, {20, 20}, 14, b[0]},       {8, 0, 2, {20, 20}, 14, b[1]},      {0x80, 0, 2, {20, 20}, 1, b[0]},
      {0x80, 0, 3, {20, 20}, 2, b[0]},     {0x800, 0x800, 0, {20, 20}, 1, b[0]}, {0, 0x800, 0, {20, 20}, 4, b[0]},
      {0, 0, 2, {60, 60}, 1, root_},       {0, 0, 3, {60, 60}, 2, root_}};
  PanelShellHooks hooks{};
  hooks.panelGetRgn = [](ObjHeap, int32) { return DRgn(1234); };
  SetPanelShellHooks(hooks);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frontFlags * 100 + c.mode);
    SetW(b[0], 0, int32(c.frontFlags));
    SetW(face[0], 0, int32(c.faceFlags));
    SetW(face[1], 0, int32(c.faceFlags));
    ActionParams p{};
    p.partId = 99;
    TransactionState s{c.mode, 0, 0, nullptr};
    std::memcpy(&s.point, &c.at, sizeof c.at);
    TransactionFrame* top = Path({});
    EXPECT_EQ(OClick(panel_, root_, &s, top, &p), c.answer);
    if (c.target == root_) {
      EXPECT_EQ(top[0].mode * 1000 + int32(top[1].kind), 2000) << "the panel is the target";
    } else {
      EXPECT_EQ(top[2].object, c.target);
      EXPECT_EQ(p.partId, c.frontFlags & 0x80 && c.mode == 2 ? 0 : 21);
    }
    if (c.answer == 2) { EXPECT_EQ(CursorOf(&p)->cursor * 10000 + CursorOf(&p)->region, 1234) << "the panel's region"; }
  }
  SetPanelShellHooks({});
}

// Panel objects dragged over a selected control or grouper stop there, with
// part 0; over one not selected, or with nothing dragged, the parts are
// walked.
TEST_F(Operate, ADragOverASelectedObjectIsTakenByTheObject) {
  int32 b = 0;
  Control(tdb::Boolean(), kClsBoolean, &b, root_);
  const int32 grouper = Obj(kClsGrouperObject, root_);
  for (int32 o : {b, grouper}) {
    SetBounds(o, Rect{0, 0, 40, 40});
    SetBounds(Obj(kClsCosmetic, o, 21), Rect{0, 0, 40, 40});
  }
  struct Case { int32 object; bool selected; int32 items; int32 part; } cases[] = {
      {b, true, 1, 0}, {b, false, 1, 21}, {b, true, 0, 21}, {grouper, true, 1, 99}, {grouper, false, 1, 21}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object * 100 + c.selected * 10 + c.items);
    FPEmptySelection(panel_);
    if (c.selected) { ASSERT_EQ(FPSelectObject(panel_, c.object), kNoErr); }
    ActionParams p{};
    p.partId = 99;
    const DataXferRec rec{panel_, 0, 0, c.items, kDataXferObjKind, nullptr, 0};
    std::memcpy(&p.eventCode, &rec, sizeof rec);
    TransactionFrame* top = Path({});
    TransactionState s{kClickDropTest, 0, 0, nullptr};
    const Point at{20, 20};
    std::memcpy(&s.point, &at, sizeof at);
    OSendMessage<int32>(kMsgOClick, panel_, c.object, &s, top, &p);
    EXPECT_EQ(p.partId, c.part);
    if (c.part != 21) { EXPECT_EQ(top[0].mode * 1000 + int32(top[1].kind), 2000) << "the object is the target"; }
  }
  FPEmptySelection(panel_);
}

// Keys at a data display object: Tab takes the focus or passes it on.
TEST_F(Operate, TabTakesTheKeyFocusOrPassesItOn) {
  int32 n = 0;
  Control(tdb::I32(), kClsDataDisplayObject, &n, root_);
  struct Case { uInt32 flags; int32 key, focus, reply; };
  const Case cases[] = {{0, 38, 0, 1}, {0, 38, n, 0x800}, {0x2000, 39, 0, 0x800}, {1, 42, 0, 0}, {0, 41, 0, 0x100801}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    SetW(n, 0, int32(c.flags | (c.focus ? 0x40 : 0)));
    Ext(kHeapExtKeyFocus) = uInt32(c.focus);
    ActionParams p = Key(c.key);
    EXPECT_EQ(Do(n, Path({{n, kCatDDO, 2, 0}}), kActOperate, &p), c.reply);
    EXPECT_EQ((W(n, 0) & 0x40) != 0, c.reply == 1) << "the highlight follows the focus";
  }
  Ext(kHeapExtKeyFocus) = 0;
}

// Tab order through the panel's controllers: wrapping both ways, skipping
// one that passes the focus on, and a list of one sent the key once.
TEST_F(Operate, TabWalksTheControllersAndWraps) {
  int32 shown[3] = {}, dco[3] = {};
  for (int32 i = 0; i < 3; ++i) dco[i] = Control(tdb::I32(), kClsDataDisplayObject, &shown[i], root_);
  struct Case { int32 count, start, modifiers, key; uInt32 middleFlags; int32 focus, reply; };
  const Case cases[] = {{3, 2, 0, 38, 0, 0, 0},      {3, 0, 2, 39, 0, 2, 0}, {3, 0, 0, 38, 0x2000, 2, 0},
                        {1, 0, 0, 38, 0, 0, 1},      {3, 0, 0, 42, 0, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count * 100 + c.start * 10 + c.key);
    SetW(root_, 10, vib::NewList(panel_, std::vector<int32>(dco, dco + c.count)));
    SetW(shown[1], 0, int32(c.middleFlags));
    Ext(kHeapExtKeyFocus) = 0;
    ActionParams p = Key(c.key, 0, c.modifiers);
    EXPECT_EQ(FPNextKeyFocus(panel_, Path({{root_, kCatFPSC, 3, c.start}, {0, kCatDCO, 0, 0}, {}}), &p), c.reply);
    EXPECT_EQ(Ext(kHeapExtKeyFocus), c.focus < 0 ? 0u : uInt32(shown[c.focus]));
  }
}

// The glyph of a linked type definition locks the labels it holds; a
// picture records itself as the one under the mouse until a click finds none.
TEST_F(Operate, LinkedTypeDefinitionsLockTheirLabelsAndPicturesRecordTheMouse) {
  const int32 typeDef = Obj(kClsTypeDefinition, root_), picture = Obj(kClsPicture, root_);
  SetBounds(typeDef, Rect{0, 0, 50, 50});
  SetBounds(picture, Rect{60, 60, 80, 80});
  TextObj(kClsLabel, typeDef, 8010, "g", Rect{0, 0, 50, 50});
  for (int32 link : {0, 1}) {
    SetW(typeDef, 11, link);
    ActionParams p{};
    EXPECT_EQ(Click(typeDef, 2, Point{20, 20}, &p), link ? 1 : 15) << link;
  }
  SetW(typeDef, 11, 0);
  EXPECT_EQ(EnclosingTypeDef(), 0) << "given back after the walk";
  for (Point at : {Point{70, 70}, Point{90, 90}}) {
    ActionParams p{};
    TransactionState s{3, 0, 0, nullptr};
    std::memcpy(&s.point, &at, sizeof at);
    EXPECT_EQ(OClick(panel_, root_, &s, Path({}), &p), 2);
    EXPECT_EQ(PictureUnderMouse().object, at.v == 70 ? picture : 0);
    if (at.v == 70) { EXPECT_EQ(R(CursorOf(&p)->rect), (std::vector<int16>{70, 70, 71, 71})); }
  }
}

// A dialog's user item tells the window of a click with its item number;
// the handler's answer is the click's.
int32 gItemEvent[3];
int32 ItemHandler(WEventRecord* e, uInt32) {
  gItemEvent[0] = e->code, gItemEvent[1] = e->where, gItemEvent[2] = e->character;
  e->character = 77;
  return 0;
}
TEST_F(Operate, ADialogUserItemTellsItsWindowOfAClick) {
  int32 first = 0, item = 0;
  const int32 dcos[] = {Control(tdb::I32(), kClsDataDisplayObject, &first, root_),
                        Control(tdb::I32(), kClsUserItem, &item, root_)};
  SetW(root_, 10, vib::NewList(panel_, {dcos[0], dcos[1]}));
  SetBounds(item, Rect{0, 0, 30, 30});
  const Rect place{0, 0, 100, 100};
  const WindowRef w = WCreate(0, nullptr, &ItemHandler, &place, 0, 0, 0);
  Ext(kHeapExtWindow) = uInt32(w);
  Ext(kHeapExtDialogFilter) = 1;
  ActionParams p{};
  EXPECT_EQ(Click(item, 2, Point{10, 10}, &p), 77);
  EXPECT_EQ(std::vector<int32>(gItemEvent, gItemEvent + 3), (std::vector<int32>{33, 2, 1}));
  Ext(kHeapExtDialogFilter) = Ext(kHeapExtWindow) = 0;
  WDestroy(w);
}

// A string's committed text lands in its data.
TEST_F(Operate, ACommittedStringLandsInItsData) {
  int32 string = 0;
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsString, &string, root_)), kNoErr);
  const int32 text = TextObj(kClsLabel, string, 11, "hello");
  SetW(text, 0, int32(kObjFlagTextModified));
  Ext(kHeapExtKeyFocus) = uInt32(string);
  ActionParams p = Key(2);
  EXPECT_EQ(Do(string, Path({{string, kCatDDO, 2, 0}}), kActOperate, &p) & 0x48, 0x08);
  const UHandle data = *reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(panel_, string, 0, 2, nullptr))));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*data + 4), GetNative32(*data)), "hello");
}

// The panel root's do-it: its own actions, what its children answer, and
// the reports of both.
int32 gChildReply = 0;
int32 ChildDoit(ObjHeap, int32, void*, int32, void*) { return gChildReply; }
TEST_F(Operate, ThePanelRootActsAndReportsWhatItsChildrenAnswer) {
  int32 shown[2] = {}, dco[2] = {};
  for (int32 i = 0; i < 2; ++i) dco[i] = Control(tdb::I32(), kClsDataDisplayObject, &shown[i], root_);
  SetW(root_, 10, vib::NewList(panel_, {dco[0], dco[1]}));
  auto* rec = const_cast<ObjClassRecord*>(ClassRecord(kClsDataDisplayObject));
  struct Case { int32 action, level, key, start, child, reply; const char* report; int32 reports, focus; };
  const Case cases[] = {{99, 2, 0, 0, 0, 0, "supcodoit action=63?", 1, -1},
                        {43, 2, 0, 0, 0, 0, "modMask 24000000", 1, -1},
                        {15, 2, 38, 5, -1, 1, "modMask", 0, 1},
                        {15, 3, 6, 0, 0x100, 0x100, "modMask 80000200", 1, -1},
                        {27, 3, 6, 0, 0x100, 0x100, "modMask 80000200", 0, -1},
                        {15, 3, 6, 0, 0x10, 0x10, "modMask", 0, -1},
                        {15, 3, 6, 0, 0x80, 0x80, "modMask", 0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action * 100 + c.key);
    const ObjMethodAddr saved = rec->methods[kMsgODoit];
    if (c.child >= 0) rec->methods[kMsgODoit] = reinterpret_cast<ObjMethodAddr>(&ChildDoit);
    gChildReply = c.child;
    Ext(kHeapExtKeyFocus) = 0;
    SetW(root_, 0, 0);
    ActionParams p = Key(c.key);
    p.focusObject = c.start;
    ClearReports();
    const int32 reply = Do(root_, Path({{root_, kCatFPSC, c.level, 0}, {dco[0], kCatDCO, 0, 0}, {shown[0], kCatDDO, 2, 0}}),
                           c.action, &p);
    rec->methods[kMsgODoit] = saved;
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(Reports(c.report), c.reports);
    if (c.focus >= 0) { EXPECT_EQ(Ext(kHeapExtKeyFocus), uInt32(shown[c.focus])); }
    EXPECT_EQ((W(root_, 0) & 0x80000) != 0, c.child == 0x80) << "a redraw marks the panel for marking again";
  }
}

// Panel objects dropped on the panel itself: the source panel's root is
// asked to move its selection with both heaps in a selection pass and this
// heap named as the destination when the drag's flags ask; a record that is
// no object transfer, holds nothing or names no live heap moves nothing.
struct DropSeen { ObjHeap heap; int32 action, destination, marked, calls; } gDrop;
int32 SourceSelect(ObjHeap heap, int32, void* record) {
  auto* rec = static_cast<PanelActionRecord*>(record);
  const auto* move = static_cast<const EditMsgRecord*>(rec->frame);
  int32 marked = 0;
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h)) marked += (OHWord(h, kOHFlags) & kOHMarkPass) != 0;
  gDrop = {heap, rec->action, int32(uintptr_t(move->targetHeap)), marked, gDrop.calls + 1};
  *rec->result = 0x80;
  return 0;
}
TEST_F(Operate, PanelObjectsDroppedOnThePanelAskTheirPanelToMoveThem) {
  const UHandle vi2 = vib::NewVI();
  const ObjHeap other = vib::NewPanel(vi2);
  ASSERT_NE(other, nullptr);
  const int32 root2 = FPNewPanelRoot(other);
  PutNative32(*other + OHWord(other, kOHExtension) + kHeapExtRoot, uInt32(root2));
  auto* cls = const_cast<ObjClassRecord*>(ClassRecord(kClsFrontPanel));
  const ObjMethodAddr saved = std::exchange(cls->methods[kMsgOSelect], reinterpret_cast<ObjMethodAddr>(&SourceSelect));
  int32 notAHeap = 0;
  const ObjHeap fake = reinterpret_cast<ObjHeap>(&notAHeap);
  const int32 self = int32(uintptr_t(panel_));
  struct Case { ObjHeap source; int32 kind, count, flags, reply; ObjHeap seen; int32 destination, marked; } cases[] = {
      {panel_, kDataXferObjKind, 2, 1, 0x80, panel_, self, 1}, {other, kDataXferObjKind, 1, 0, 0x80, other, 0, 2},
      {other, 1, 1, 1, 0, nullptr, 0, 0},                       {fake, kDataXferObjKind, 1, 1, 0, nullptr, 0, 0},
      {panel_, kDataXferObjKind, 0, 1, 0, nullptr, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count * 100 + c.kind);
    gDrop = {};
    ActionParams p{};
    const DataXferRec rec{c.source, 0, 0, c.count, c.kind, nullptr, c.flags};
    std::memcpy(&p.eventCode, &rec, sizeof rec);
    EXPECT_EQ(Do(root_, Path({{root_, kCatFPSC, 2, 0}}), kActTextDrop, &p), c.reply);
    EXPECT_EQ(gDrop.calls, c.seen ? 1 : 0);
    EXPECT_EQ(gDrop.heap, c.seen);
    if (c.seen) {
      EXPECT_EQ(std::make_tuple(gDrop.action, gDrop.destination, gDrop.marked),
                std::make_tuple(kSelectMoveObjects, c.destination, c.marked));
    }
    EXPECT_EQ((OHWord(panel_, kOHFlags) | OHWord(other, kOHFlags)) & kOHMarkPass, 0u) << "the passes ended";
  }
  cls->methods[kMsgOSelect] = saved;
  vib::DisposeVI(vi2);
}

// The root records itself for an answer 12 that no container took, hands
// action 3 to the insertion and data commands on (no clipboard: Cut beeps).
int32 ChildClick(ObjHeap, int32, void*, void*, void*) { return 12; }
int gBeeps = 0;
TEST_F(Operate, TheRootRecordsItselfPlacesNewObjectsAndHandsOnDataCommands) {
  int32 shown = 0;
  Control(tdb::I32(), kClsDataDisplayObject, &shown, root_);
  auto* rec = const_cast<ObjClassRecord*>(ClassRecord(kClsFPDataController));
  const ObjMethodAddr saved = std::exchange(rec->methods[kMsgOClick], reinterpret_cast<ObjMethodAddr>(&ChildClick));
  const int32 self = int32(uintptr_t(panel_));
  for (auto c : {std::array<int32, 4>{0, 1, self, 9}, {77, 1, 77, 1}, {0, 0, self, 0}}) {
    ActionParams p{};
    *RecordOf(&p) = RecordOwnerWords{c[0], c[1], {}};
    EXPECT_EQ(Click(root_, 2, Point{10, 10}, &p), 12);
    EXPECT_EQ(std::make_pair(RecordOf(&p)->owner, RecordOf(&p)->flags), std::make_pair(c[2], c[3]));
  }
  rec->methods[kMsgOClick] = saved;
  CreationRecord creation{};
  std::memcpy(creation.className, "\007Nothing", 8);
  ClearReports();
  EXPECT_EQ(Do(root_, Path({{root_, kCatFPSC, 2, 0}}), 3, reinterpret_cast<ActionParams*>(&creation)), 16);
  const PlatBeepProc oldBeep = PlatSetBeepProc([] { ++gBeeps; });
  for (int32 command : {4, 6}) {
    ActionParams p{};
    p.eventCode = command;
    EXPECT_EQ(Do(root_, Path({{root_, kCatFPSC, 2, 0}}), 45, &p), 0);
  }
  PlatSetBeepProc(oldBeep);
  EXPECT_EQ(gBeeps, 1) << "Cut beeps, Paste does not";
  EXPECT_EQ(Reports("ErrorMethod"), 0);
}

// Text through the panel clipboard: Copy leaves the focus's selection in
// the clipboard's selected label (kind 4) and on the system clipboard, Clear
// touches neither, and Paste puts the label's text back into the focus.
TEST_F(Operate, CutCopyAndPasteOfTextGoThroughTheClipboardLabel) {
  ASSERT_EQ(RInitResources(), kNoErr);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  dlgwriter::AddLabelTemplates(&w);
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef rf = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rf, nullptr, nullptr, fh), kNoErr);
  SetRunTimeRsrcFile(rf);
  FPPanelClipboardLife(1);
  ASSERT_NE(PanelClipboardVI(), nullptr);
  const ObjHeap clip = VIRec(PanelClipboardVI())->panelHeap;
  int32 string = 0;
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsString, &string, root_)), kNoErr);
  const int32 part = TextObj(kClsLabel, string, 11, "hello world");
  const int32 dco = ObjWord(panel_, string, kPWOwner);
  auto command = [&](int32 code) {
    // The focus on the string's text, "world" selected.
    UHandle saved = AZNewHandle(5 * 16);
    auto* f = reinterpret_cast<TransactionFrame*>(*saved);
    f[0] = {root_, kCatFPSC, 1, 0}, f[1] = {dco, kCatDCO, 0, 0}, f[2] = {string, kCatDDO, 0, 0};
    f[3] = {part, kCatCOSM, 2, 0}, f[4] = {};
    if (UHandle old = reinterpret_cast<UHandle>(uintptr_t(Ext(kHeapExtSavedFrames)))) AZDisposeHandle(old);
    Ext(kHeapExtSavedFrames) = uInt32(uintptr_t(saved));
    Ext(kHeapExtKeyFocus) = uInt32(part);
    TSelectText(PartTextRecord(panel_, part), 6, 11);
    ActionParams p{};
    p.eventCode = code;
    return Do(root_, Path({{root_, kCatFPSC, 2, 0}}), 45, &p);
  };
  auto text = [&](ObjHeap h, int32 o) {
    const UHandle t = TGetText(PartTextRecord(h, o));
    return std::string(reinterpret_cast<const char*>(*t + 4), GetNative32(*t));
  };
  EXPECT_EQ(command(5) & 16, 0);
  EXPECT_EQ(PanelClipboardKind(), 4);
  ASSERT_EQ(FPSelectionCount(clip), 1);
  EXPECT_EQ(text(clip, FPSelectedObject(clip, 0)), "world");
  LStrHandle sys = reinterpret_cast<LStrHandle>(DSNewHandle(4));
  ASSERT_EQ(TGetClipboard(sys), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*sys)->str), (*sys)->cnt), "world");
  DSDisposeHandle(reinterpret_cast<UHandle>(sys));
  command(7);
  EXPECT_EQ(text(panel_, part), "hello ");
  EXPECT_EQ(text(clip, FPSelectedObject(clip, 0)), "world") << "Clear leaves the clipboard";
  command(6);
  EXPECT_EQ(text(panel_, part), "hello world");
  // Paste is offered to a key focus only, never in the clipboard's panel.
  EXPECT_EQ(PanelPasteEnabled(panel_) * 10 + PanelPasteEnabled(clip), 10);
  // Text from another program becomes the clipboard's selected label.
  LStrHandle outside = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 3));
  (*outside)->cnt = 3;
  std::memcpy((*outside)->str, "abc", 3);
  SetPanelClipboardKind(0);
  ImportClipboardText(outside);
  EXPECT_EQ(PanelClipboardKind(), 4);
  EXPECT_EQ(text(clip, FPSelectedObject(clip, 0)), "abc");
  FPPanelClipboardLife(0);
  SetRunTimeRsrcFile(0);
  RCloseFile(rf);
}

// The tag button pops the installed names: a choice becomes the text and
// the data; a cancelled list changes nothing.
std::vector<uInt32> gMenuKeys;
int32 PressMenuKeys(Bool32) {
  for (uInt32 vk : gMenuKeys) PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs());
  gMenuKeys.clear();
  return 0;
}
TEST_F(Operate, TheTagButtonPopsTheInstalledTagsAndAChoiceSetsTheText) {
  WPortState saved{};
  const WindowRef window = StartMenuWindow(Rect{40, 40, 400, 400}, &saved, &PressMenuKeys);
  Ext(kHeapExtWindow) = uInt32(window);
  ASSERT_EQ(InitTagLists(), kNoErr);
  UHandle list = DSNewHClr(4 + 10), names[2] = {DSNewHandle(8), DSNewHandle(8)};
  PutNative32(*list, 2);
  for (int32 i = 0; i < 2; ++i) {
    PutNative32(*names[i], 4), std::memcpy(*names[i] + 4, i ? "Dev2" : "Dev1", 4);
    PutNative32(*list + 4 + 5 * i, uInt32(uintptr_t(names[i])));
  }
  ASSERT_EQ(InstallTagList(list), kNoErr);
  int32 tag = 0, at = 0;
  ASSERT_EQ(Alloc(Control(tdb::String(), kClsTag, &tag, root_)), kNoErr);
  TextObj(kClsLabel, tag, 11, "old");
  const int32 button = Obj(kClsCosmetic, tag, 79);
  SetBounds(button, Rect{10, 60, 30, 80});
  while (ObjListGet(panel_, W(tag, 6), at) != button) ++at;
  for (auto [keys, reply, data] : {std::tuple{std::vector<uInt32>{kPlatVkEscape}, 0, ""},
                                   {{kPlatVkDown, kPlatVkDown, kPlatVkReturn}, 0x8, "Dev2"}}) {
    gMenuKeys = keys;
    ActionParams p{};
    p.eventCode = 1;
    EXPECT_EQ(Do(tag, Path({{tag, kCatDDO, 0, at}}), kActTrack, &p) & 0x59, reply) << "tracking ends";
    const UHandle h = *reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(panel_, tag, 0, 2, nullptr))));
    EXPECT_EQ(h ? std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h)) : "", data);
  }
  WResetMainLoopHooks();
  DisposeTagLists();
  for (UHandle h : {names[0], names[1], list}) DSDisposeHandle(h);
  Ext(kHeapExtWindow) = 0;
  StopDrawingWindow(&saved);
}

// A range-checked controller's state follows its control's changed values;
// the tip target is a type definition at once, another object where a part
// answers.
TEST_F(Operate, RangeStateAndTipTargetFollowTheControl) {
  int32 shown = 0;
  const int32 dco = Control(tdb::I32(), kClsDataDisplayObject, &shown, root_);
  for (auto c : {std::array<int32, 3>{0x100, 0x1008, 0x104}, {0x10C, 0x8, 0x100}, {0x10C, 0x1000, 0x10C},
                 {0x200, 0x1008, 0x200}}) {
    SetW(dco, 8, c[0]);
    EXPECT_EQ(DDOCheckReplyRange(panel_, dco, nullptr, c[1]), c[1]);
    EXPECT_EQ(W(dco, 8), c[2]) << c[1];
  }
  static std::vector<std::pair<int32, int32>> tips;
  PanelShellHooks hooks{};
  hooks.tipStripSetTarget = [](ObjHeap, int32 object, int32 part) { tips.push_back({object, part}); };
  SetPanelShellHooks(hooks);
  for (auto [cls, at, part] : {std::tuple{kClsDataDisplayObject, 15, 21}, {kClsDataDisplayObject, 35, -1},
                               {kClsTypeDefinition, 35, 0}}) {
    const int32 obj = Obj(cls, root_);
    SetBounds(obj, Rect{0, 0, 40, 40});
    SetBounds(Obj(kClsCosmetic, obj, 21), Rect{10, 10, 20, 20});
    tips.clear();
    ActionParams p{};
    Click(obj, 3, Point{int16(at), int16(at)}, &p);
    EXPECT_EQ(tips.size(), part < 0 ? 0u : 1u) << cls << " " << at;
    if (!tips.empty()) { EXPECT_EQ(tips[0], std::make_pair(obj, part)); }
  }
  SetPanelShellHooks({});
}
