// Operating containers, colour controls and paths: clicks handed to the
// objects inside, the key focus among a cluster's elements and into a type
// definition's control, colours and tracked ramp values, path validity and
// text, and the range states of controllers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <utility>

#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/window/textrec.h"
#include "panel/ctrdoit.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "operate_fixture.h"
#include "panel_test_support.h"
#include "mgsource/window/wdrag.h"
#include "panel/dataxfer.h"
#include "panel/fppanel.h"
#include "platform/qx_alert.h"
#include "platform/qx_droptarget.h"

namespace {

class CtrDoit : public OperateRootTest {
 protected:
  int32 Click(int32 obj, int32 mode, Point at, ActionParams* p, TransactionFrame** f) {
    TransactionState s{mode, 0, 0, nullptr};
    std::memcpy(&s.point, &at, sizeof at);
    *f = Path({});
    return OSendMessage<int32>(kMsgOClick, panel_, obj, &s, *f, p);
  }
  // An object owned by owner without being one of its parts.
  int32 Element(int32 cls, int32 owner, Rect r) {
    const int32 e = Obj(cls);
    SetW(e, kPWOwner, owner);
    SetBounds(e, r);
    return e;
  }
  int32 Part(int32 owner, int16 id, Rect r, int32 cls = kClsCosmetic) {
    const int32 part = Obj(cls, owner, id);
    SetBounds(part, r);
    return part;
  }
};

ActionParams Key(int32 key, int32 modifiers = 0) {
  ActionParams p{};
  p.eventCode = 6;
  p.keyCode = key;
  p.modifiers = modifiers;
  return p;
}

// Presses and pop-up clicks in a cluster, a refnum and an array: the object
// under the point answers, the container stays the hit object between them.
TEST_F(CtrDoit, ContainersHandClicksToTheObjectsInside) {
  const int32 cluster = Obj(kClsCluster, root_);
  SetBounds(cluster, Rect{0, 0, 100, 200});
  Part(cluster, 28, Rect{10, 10, 90, 190});
  const int32 e0 = Element(kClsBoolean, cluster, Rect{20, 20, 40, 60}), e1 = Element(kClsBoolean, cluster, Rect{20, 120, 40, 160});
  Part(e0, 21, Rect{20, 20, 40, 60}), Part(e1, 21, Rect{20, 120, 40, 160});
  SetW(cluster, 11, vib::NewList(panel_, {e0, e1}));
  const int32 refnum = Obj(kClsRefNum, root_);
  SetBounds(refnum, Rect{200, 0, 260, 100});
  Part(refnum, 28, Rect{205, 5, 255, 95});
  const int32 inner = Element(kClsBoolean, refnum, Rect{210, 10, 250, 90});
  Part(inner, 21, Rect{210, 10, 250, 90});
  SetW(refnum, 10, inner);
  const int32 array = Obj(kClsArray, root_);
  SetBounds(array, Rect{300, 0, 400, 200});
  Part(array, 28, Rect{300, 0, 400, 200});
  const int32 cell = Element(kClsBoolean, array, Rect{300, 0, 320, 40});
  Part(cell, 21, Rect{300, 0, 320, 40});
  SetW(array, kPWArrayElement, cell);
  SetW(array, kPWArrayGrid, ArrayCell(1, 1));
  struct Case { int32 object, mode; Point at; int32 answer, hit, level, index, partId; };
  const Case cases[] = {
      {cluster, 2, {30, 130}, 14, e1, 1, 1, 21},      // on the second element
      {cluster, 2, {60, 100}, 14, cluster, 0, 0, 28},  // between the elements: the cluster, part 28
      {refnum, 2, {230, 50}, 1, inner, 1, 0, 21},      // the inner press is absorbed
      {array, 0, {330, 70}, 4, cell, 3, ArrayCell(1, 1), 21},  // pop-up on the cell below right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object * 100 + c.mode);
    ActionParams p{};
    TransactionFrame* f = nullptr;
    EXPECT_EQ(Click(c.object, c.mode, c.at, &p, &f), c.answer);
    EXPECT_EQ(f[0].object, c.object);
    EXPECT_EQ(f[0].mode * 0x10000 + f[0].index, c.level * 0x10000 + c.index);
    EXPECT_EQ(c.level ? f[1].object : f[0].object, c.hit);
    EXPECT_EQ(p.partId, c.partId);
  }
  EXPECT_EQ(W(array, kPWArrayShown), ArrayCell(1, 1)) << "the array scrolled to the cell";
}

// An element's answer 12 makes the cluster record itself with the rectangle
// of its interior: the first part of id 28 and order 0 in its part list,
// past entries that name no part (none at all, or a first one too short for
// an object: the cluster's own bounds).
int32 AskForOwner(ObjHeap, int32, void*, void*, void*) { return kClickRecordOwner; }
TEST_F(CtrDoit, AClusterRecordsItselfWithItsInteriorsRectangle) {
  auto* booleans = const_cast<ObjClassRecord*>(ClassRecord(kClsBoolean));
  const ObjMethodAddr saved =
      std::exchange(booleans->methods[kMsgOClick], reinterpret_cast<ObjMethodAddr>(&AskForOwner));
  const int32 end = int32(OHWord(panel_, kOHEndOffset)) + 1;
  struct Case {
    const char* name;
    std::vector<int32> before;  // list entries ahead of the parts
    bool interior;              // an order-0 interior part after an order-1 one
    Rect want;
    bool shortFirst = false;    // first, an order-0 interior too short for an object's fields
  };
  const Case cases[] = {
      {"order 1, then order 0", {}, true, Rect{12, 14, 88, 186}},
      {"entries naming no part first", {end - 4, end - 13, 4, -8}, true, Rect{12, 14, 88, 186}},
      {"only an order-1 interior", {end - 4}, false, Rect{0, 0, 100, 200}},
      {"a short interior first", {}, true, Rect{0, 0, 100, 200}, true},
  };
  for (const Case& c : cases) {
    const int32 cluster = Obj(kClsCluster, root_);
    SetBounds(cluster, Rect{0, 0, 100, 200});
    Part(cluster, 5, Rect{0, 0, 10, 10});
    const int32 first = Obj(kClsCosmetic, cluster, 28, 1);
    SetBounds(first, Rect{10, 10, 90, 190});
    if (c.interior) {
      const int32 second = Obj(kClsCosmetic, cluster, 28, 0);
      SetBounds(second, c.want);
    }
    std::vector<int32> entries = c.before;
    int32 part = c.shortFirst ? Obj(kClsCosmetic, 0, 28) : 0;
    if (part && OHSetBlockSize(panel_, &part, kObjBounds + 8) == kNoErr) entries.insert(entries.begin(), part);
    const int32 parts = W(cluster, kObjPartList / 4);
    for (int32 i = 0, n = ObjListCount(panel_, parts); i < n; ++i) entries.push_back(ObjListGet(panel_, parts, i));
    SetW(cluster, kObjPartList / 4, vib::NewList(panel_, entries));
    const int32 e = Element(kClsBoolean, cluster, Rect{20, 20, 40, 60});
    SetW(cluster, 11, vib::NewList(panel_, {e}));
    ActionParams p{};
    *RecordOf(&p) = RecordOwnerWords{0, 2, {}};  // the interior's rectangle wanted
    TransactionFrame* f = nullptr;
    EXPECT_EQ(Click(cluster, 2, Point{30, 30}, &p, &f), kClickRecordOwner) << c.name;
    const Rect got = RecordOf(&p)->rect;
    EXPECT_EQ(RecordOf(&p)->owner, cluster) << c.name;
    EXPECT_EQ((std::vector<int16>{got.top, got.left, got.bottom, got.right}),
              (std::vector<int16>{c.want.top, c.want.left, c.want.bottom, c.want.right}))
        << c.name;
  }
  booleans->methods[kMsgOClick] = saved;
}

// An element's do-it runs clipped to the cluster's interior; its redraw,
// which the cluster's frame does not take, marks the root, marked or not.
Rect gClipSeen;
int32 RedrawDoit(ObjHeap, int32, TransactionFrame*, int32, ActionParams*) {
  WGetClipRect(WCurrentPort(), &gClipSeen);
  return 0x80;
}
TEST_F(CtrDoit, AnElementsRedrawRunsClippedAndMarksTheRoot) {
  ShowInWindow();
  ptest::SlotPatch patch(kClsBoolean, kMsgODoit, &RedrawDoit);
  const int32 cluster = Obj(kClsCluster, root_), e = Element(kClsBoolean, cluster, Rect{20, 20, 40, 60});
  Part(cluster, 28, Rect{10, 10, 90, 190});
  SetW(cluster, 11, vib::NewList(panel_, {e}));
  for (int32 mark : {0, 0x80000}) {
    SetW(root_, 0, mark);
    ActionParams p{};
    EXPECT_EQ(Do(cluster, Path({{cluster, kCatDDO, 1, 0}, {e, kCatDDO, 2, 0}}), 27, &p), 0x10000) << mark;
    EXPECT_EQ(W(root_, 0), 0x80000) << mark;
    EXPECT_EQ(R(gClipSeen), R(Rect{10, 10, 90, 190})) << mark;
  }
}

// Tab at a cluster's last element goes to its first; when no other element
// takes it, the pass-on stays for the panel.  Ctrl+Down enters the cluster.
TEST_F(CtrDoit, TabWalksAClustersElementsBeforeLeavingIt) {
  const int32 cluster = Obj(kClsCluster, root_);
  int32 e[3];
  for (int32& x : e) x = Element(kClsBoolean, cluster, Rect{0, 0, 10, 10});
  SetW(cluster, 10, vib::NewList(panel_, {e[0], e[1], e[2]}));
  SetW(cluster, 11, vib::NewList(panel_, {e[0], e[1], e[2]}));
  struct Case { int32 start, key; uInt32 othersFlags; int32 focus, passOn; };
  const Case cases[] = {{2, kKeyTab, 0, e[0], 0}, {0, kKeyShiftTab, 0, e[2], 0}, {2, kKeyTab, 0x80, 0, 0x800},
                        {-1, kKeyCtrlDown, 0, e[0], 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    for (int32 x : e) SetW(x, 0, int32(c.othersFlags));
    if (c.start >= 0) SetW(e[c.start], 0, 0);
    FPReleaseKeyFocus(panel_);
    if (c.start >= 0) { ASSERT_EQ(FPKeyFocusUpdate(panel_, e[c.start], 0, nullptr), kNoErr); }
    ActionParams p = Key(c.key, c.key == kKeyShiftTab ? 2 : 0);
    TransactionFrame* f = c.start >= 0 ? Path({{cluster, kCatDDO, 1, c.start}, {e[c.start], kCatDDO, 2, 0}})
                                       : Path({{cluster, kCatDDO, 2, 0}});
    const int32 reply = Do(cluster, f, kActOperate, &p);
    EXPECT_EQ(Ext(kHeapExtKeyFocus), uInt32(c.focus));
    EXPECT_EQ(reply & 0x800, c.passOn);
  }
}

// The focus keys of a type definition go to its control (8010); one that
// may not act passes Tab on and answers 0 to the read-back key.
TEST_F(CtrDoit, ATypeDefinitionSendsTheFocusKeysToItsControl) {
  const int32 td = Obj(kClsTypeDefinition, root_);
  const int32 glyph = Obj(kClsBoolean, td, 8010);
  struct Case { uInt32 flags; int32 key, reply; int32 focus; };
  const Case cases[] = {{0, kKeyTab, 1, glyph}, {0x8, kKeyTab, 0x800, 0}, {0x8, kKeyReadBack, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags + c.key);
    FPReleaseKeyFocus(panel_);
    SetW(td, 0, int32(c.flags));
    ActionParams p = Key(c.key);
    TransactionFrame* f = Path({{td, kCatDDO, 2, 0}, {}, {}});
    EXPECT_EQ(Do(td, f, kActOperate, &p), c.reply);
    EXPECT_EQ(Ext(kHeapExtKeyFocus), uInt32(c.focus));
  }
}

int gBeeps = 0;
PanelScaleInfo gScale{0, 100, 200, 100, 0, nullptr, 0, 0};
Bool32 FakeScaleInfo(ObjHeap, int32, PanelScaleInfo* info) {
  *info = gScale;
  return 1;
}
// Pixels 100..200 map to 100..0.
void FakeMap(ObjHeap, int32, int32 type, const int16* px, int32, int32, void* out, int32) {
  const double v = 200 - *px;
  ConvertNum(kTDDBL, &v, type, out);
}

// Colour boxes refuse a transparent write on a front panel and keep a
// picked colour; a ramp's tracking pins the mouse to its scale's ends.
TEST_F(CtrDoit, ColourBoxesAndRampsTakeColoursAndTrackedValues) {
  int32 box = 0, ramp = 0;
  ASSERT_EQ(Alloc(Control(tdb::U32(), kClsColorBox, &box)), kNoErr);
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsColorRamp, &ramp)), kNoErr);
  const int32 face = Part(box, 41, Rect{0, 0, 20, 20});
  SetBounds(box, Rect{0, 0, 20, 20});
  const int32 marker = Part(ramp, 69, Rect{100, 0, 200, 20});
  Obj(kClsScale, ramp, 17);
  (void)face, (void)marker;
  auto value = [&](int32 o) { return *reinterpret_cast<int32*>(uintptr_t(uInt32(OGetDataPtr(panel_, o, 0, 2, nullptr)))); };
  const PlatBeepProc oldBeep = PlatSetBeepProc([] { ++gBeeps; });
  const PanelScaleHooks oldScale = SetPanelScaleHooks({.scaleInfo = &FakeScaleInfo, .mapPixelsToValues = &FakeMap});
  struct Case { int32 object; uInt32 flags; int32 action, request, fg, bg, point, reply, value, beeps; };
  const Case cases[] = {
      {box, 0, 6, 0x10100, 0x1000000, 5, 0, 0, 0, 1},        // transparent foreground refused
      {box, 0, 6, 0x10100, 0x123456, 0x1000000, 0, 8, 0x123456, 0},  // a picked foreground
      {box, 0x100000, 6, 0x10100, 0x1000000, 0, 0, 8, 0x1000000, 0},  // own colours: transparent kept
      {box, 0, 6, 0x40100, 0x777777, 0, 0, 0, 0x1000000, 0},  // a read request stores nothing
      {ramp, 0, 14, 3, 0, 0, 0x00000000 | 150, 9, 50, 0},     // mid-ramp
      {ramp, 0, 14, 3, 0, 0, 20, 9, 100, 0},                   // above the top: pinned
      {ramp, 0, 14, 2, 0, 0, 150, 0, 100, 0},                  // a release ends tracking
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    gBeeps = 0;
    SetW(c.object, 0, int32(c.flags));
    ActionParams p{};
    p.eventCode = c.request, p.window = c.fg, p.localPoint = c.bg;
    if (c.object == ramp) p.localPoint = c.point;
    EXPECT_EQ(Do(c.object, Path({{c.object, kCatDDO, 0, 0}, {c.object == box ? face : marker, kCatCOSM, 2, 0}}),
                 c.action, &p) & 9, c.reply);
    EXPECT_EQ(value(c.object), c.value);
    EXPECT_EQ(gBeeps, c.beeps);
  }
  SetPanelScaleHooks(oldScale);
  PlatSetBeepProc(oldBeep);
  // A press on the face asks for both colours through the palette opened
  // at its bottom-left; an indicator absorbs the press.
  for (uInt32 flags : {0u, 1u}) {
    SetW(box, 0, int32(flags));
    ActionParams p{};
    TransactionFrame* f = nullptr;
    const int32 palettes = PanelDisplayCallCounts().palettes;
    EXPECT_EQ(Click(box, 2, Point{5, 5}, &p, &f), flags ? 1 : 6);
    if (!flags) {
      EXPECT_EQ(p.eventCode, 0x9B80);
      EXPECT_EQ(p.point.v * 1000 + p.point.h, 20000);
      EXPECT_EQ(PanelDisplayCallCounts().palettes, palettes + 1);
    }
  }
}

// The validity menu's choice switches the path only when it differs; a
// committed text becomes the path; the browse button's release is noted.
TEST_F(CtrDoit, PathsSwitchValidityAndTakeCommittedText) {
  int32 path = 0;
  ASSERT_EQ(Alloc(Control(tdb::Path(), kClsPath, &path)), kNoErr);
  const int32 text = Part(path, 11, Rect{0, 0, 15, 100}, kClsLabel);
  const int32 button = Part(path, 43, Rect{0, 100, 15, 115});
  (void)button;
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("/a/b"), 4, 0, 0);
  auto value = [&] { return reinterpret_cast<::Path>(uintptr_t(GetNative32(reinterpret_cast<const uChar*>(uintptr_t(uInt32(OGetDataPtr(panel_, path, 0, 2, nullptr))))))); };
  FNotAPath(value());
  struct Case { int32 action, sub, chosen, index, partReply; int32 reply; bool isPath; };
  const Case cases[] = {{22, 8, 0, 0, 0, 0, false}, {22, 8, 1, 0, 0, 8, true}, {22, 8, 0, 0, 0, 8, false}};
  for (const Case& c : cases) {
    ActionParams p{};
    p.eventCode = c.sub, p.window = c.chosen;
    EXPECT_EQ(Do(path, Path({{path, kCatDDO, 2, 0}}), c.action, &p) & 8, c.reply);
    EXPECT_EQ(FIsAPath(value()) != 0, c.isPath);
  }
  ActionParams commit = Key(2);
  SetW(text, 0, int32(kObjFlagTextModified));
  EXPECT_EQ(Do(path, Path({{path, kCatDDO, 2, 0}}), kActOperate, &commit) & 0x48, 8);
  EXPECT_TRUE(FIsAPath(value()));
  // A dropped file is copied in and the selection emptied.
  PlatDataObject* files = PlatNewFilesDataObject({"C:\\one.txt"});
  DragData drag = nullptr;
  ASSERT_EQ(DragNewData(&drag, uInt32(reinterpret_cast<uintptr_t>(files))), kNoErr);
  ActionParams drop{};
  ASSERT_EQ(DataXferInitDrag(drag, kDragKindDataObject, reinterpret_cast<DataXferRec*>(&drop.eventCode)), kNoErr);
  ASSERT_EQ(FPSelectObject(panel_, path), kNoErr);
  EXPECT_EQ(Do(path, Path({{path, kCatDDO, 2, 0}}), kActTextDrop, &drop) & 8, 8);
  uChar name[256] = {};
  FNamePtr(value(), name);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]) + char('0' + FPSelectionCount(panel_)), "one.txt0");
  DragDisposeData(drag);
  files->Release();
  ActionParams release{};
  release.eventCode = 2;
  Do(path, Path({{path, kCatDDO, 0, 1}, {button, kCatCOSM, 2, 0}}), kActTrack, &release);
  EXPECT_EQ(Reports("StdPathODoitMethod: invalidate glyph"), 1);
}

// The panel's range summary follows its controllers' replies: an out of
// range reply sets 4 and the control flag; a plain change combines the
// controllers' states, an out-of-range indicator setting 0x40000; a reply
// without data, or of a controller whose replies are not re-checked, leaves
// the summary alone.
TEST_F(CtrDoit, PanelRangeSummaryFollowsItsControllersReplies) {
  int32 shownA = 0, shownB = 0;
  const int32 a = Control(tdb::I32(), kClsNumeric, &shownA, root_);
  const int32 b = Control(tdb::I32(), kClsNumeric, &shownB, root_);
  SetW(root_, 10, vib::NewList(panel_, {a, b}));
  struct Case { int32 reply; uInt32 aRange, bRange, bFlags; int32 out, state; uInt32 flags; };
  const Case cases[] = {
      {0x1008, 0x100, 0x100, 0, 0x1000, 4, 0x20000},  // the reply says out of range
      {0x8, 0x100, 0x100, 0, 0, 0, 0},               // both in range
      {0x2, 0x100, 0x104, 1, 0x1000, 4, 0x40000},    // an indicator out of range
      {0x8, 0x100, 0x104, 0, 0x1000, 4, 0x20000},    // a control out of range
      {0x80, 0x100, 0x104, 0, 0, 0, 0},              // no data changed: nothing combined
      {0x8, 0x300, 0x104, 0, 0, 0, 0},               // a's replies are not re-checked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    SetW(root_, 0, 0), SetW(root_, 8, 0x100);
    SetW(a, 8, int32(c.aRange)), SetW(b, 8, int32(c.bRange)), SetW(shownB, 0, int32(c.bFlags));
    EXPECT_EQ(DDOCheckReplyData(panel_, root_, a, c.reply) & 0x1000, c.out);
    EXPECT_EQ(W(root_, 8) & 0xC, c.state);
    EXPECT_EQ(uInt32(W(root_, 0)) & 0x60000, c.flags);
  }
  // The panel's do-it passes a reply on only when it holds one of
  // kFilterDataBits: a reply of any other bit leaves everything alone.
  for (uInt32 bit = 1; bit; bit <<= 1) {
    if (bit & kFilterDataBits) continue;
    SCOPED_TRACE(bit);
    SetW(root_, 0, 0), SetW(root_, 8, 0x100);
    SetW(a, 8, 0x100), SetW(b, 8, 0x104), SetW(shownB, 0, 0);
    EXPECT_EQ(DDOCheckReplyData(panel_, root_, a, int32(bit)), int32(bit));
    EXPECT_EQ(std::make_pair(W(root_, 0), W(root_, 8)), std::make_pair(0, 0x100));
  }
}

}  // namespace
