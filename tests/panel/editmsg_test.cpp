// Edit messages of panel objects: the selection list, moves into another
// owner or heap, pastes of typed data, password cleaning of clipboard
// copies, font changes that re-fit numerics, and the key-focus frame.
#include <cstring>
#include <memory>
#include <string>

#include "engine/datamgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/panel_test_support.h"
#include "panel/rangecheck.h"
#include "panel/textparts.h"
#include "platform/qx_alert.h"

namespace {

int gEditBeeps = 0;

class EditMsg : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    qxtest::Reports::Get().Clear();
    gEditBeeps = 0;
    oldBeep_ = PlatSetBeepProc([] { ++gEditBeeps; });
  }
  void TearDown() override {
    PlatSetBeepProc(oldBeep_);
    PanelRootTest::TearDown();
  }
  // A controller in the root's controller list around a display object.
  int32 Listed(const tdb::TD& td, int32 cls, int32* display) {
    const int32 dco = Control(td, cls, display, root_);
    int32 list = W(root_, kRootItemList / 4);
    if (!list) list = vib::NewList(panel_, {});
    EXPECT_EQ(OHListInsert(panel_, &list, dco, 0x7FFFFFFF), kNoErr);
    SetW(root_, kRootItemList / 4, list);
    return dco;
  }
  // A text part of the owner holding s, in password display when asked.
  int32 TextPart(int32 owner, int16 id, const char* s, bool password = false) {
    const int32 part = Obj(kClsLabel, owner, id);
    SetBounds(part, Rect{10, 10, 30, 80});
    SetPartText(panel_, part, reinterpret_cast<const uChar*>(s), int32(std::strlen(s)), 0, 0);
    if (password) TSetMode(PartTextRecord(panel_, part), TGetMode(PartTextRecord(panel_, part)) | kTRModePassword, 0);
    return part;
  }
  UPtr Data(int32 display, int32 mode) {
    return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, display, 0, mode, nullptr))));
  }
  static void SetString(UPtr at, const char* s) {
    UHandle h;
    std::memcpy(&h, at, sizeof h);
    const int32 n = int32(std::strlen(s));
    ASSERT_EQ(DSSetHandleSize(h, 4 + n), kNoErr);
    PutNative32(*h, uInt32(n));
    std::memcpy(*h + 4, s, size_t(n));
  }
  static std::string StringAt(UPtr at) {
    UHandle h;
    std::memcpy(&h, at, sizeof h);
    return std::to_string(DSGetHandleSize(h)) + ":" + std::string(reinterpret_cast<char*>(*h + 4), GetNative32(*h));
  }
  Rect BoundsOf(int32 o) const {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  static int DocMods(const char* mask) { return Reports((std::string("modMask ") + mask).c_str()); }

  PlatBeepProc oldBeep_ = nullptr;
};

TEST_F(EditMsg, SelectingOneObjectLeavesItAlone) {
  ClearSelectionList(nullptr);
  ClearSelectionList(panel_);  // no list yet: nothing made
  EXPECT_EQ(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtSelection), 0u);
  int32 o[4];
  for (int32& x : o) x = Obj(kClsCosmetic, root_);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(FPSelectObject(panel_, o[i]), kNoErr);
  EXPECT_EQ(SelectObject(panel_, o[3]), 0);
  EXPECT_EQ(FPSelectionCount(panel_), 1);
  EXPECT_TRUE(IsObjSelected(panel_, o[3]));
  EXPECT_FALSE(IsObjSelected(panel_, o[0]));
  ClearSelectionList(panel_);
  EXPECT_EQ(FPSelectionCount(panel_), 0);
}

// A selected control moved within its panel and into another: the copy at
// the end of the target panel, the only one selected there; an object moved
// once already is left alone; a copy that no owner takes is not left behind.
int32 gEditInsertAnswer = 0;
int32 RefusingInsert(ObjHeap, int32, int32, int32) { return gEditInsertAnswer; }

TEST_F(EditMsg, MovesWithinAndIntoAnotherHeap) {
  int32 num;
  ASSERT_EQ(Alloc(Listed(tdb::I32(), kClsNumeric, &num)), kNoErr);
  SetBounds(num, Rect{10, 10, 30, 50});
  ASSERT_EQ(SelectObject(panel_, num), 0);

  // Within the heap: moved by the offset, marked as moved.
  EditMsgRecord move{};
  move.offset = Point{5, 7};
  OHBeginMarkPassPair(panel_, nullptr);
  EXPECT_EQ(OSelectCode(panel_, root_, kEditMove, &move), 0x80);
  EXPECT_EQ(R(BoundsOf(num)), R(Rect{15, 17, 35, 57}));
  EXPECT_EQ(OSelectCode(panel_, root_, kEditMove, &move), 0) << "moved once already";
  EXPECT_EQ(R(BoundsOf(num)), R(Rect{15, 17, 35, 57}));
  OHEndMarkPassPair(panel_, nullptr);
  EXPECT_EQ(DocMods("80001000"), 1);

  // Into another panel.
  const UHandle vi2 = vib::NewVI();
  ASSERT_EQ(RegisterVI(vi2), kNoErr);
  const ObjHeap other = vib::NewPanel(vi2);
  const int32 root2 = FPNewPanelRoot(other);
  PutNative32(*other + OHWord(other, kOHExtension) + kHeapExtRoot, uInt32(root2));
  const struct {
    int32 insertAnswer;  // 0: the panel's own insertion
    int32 reply, copies;
  } cases[] = {{0, 0x400, 1}, {2, 0x10, 0}, {7, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.insertAnswer);
    qxtest::Reports::Get().Clear();
    gEditInsertAnswer = c.insertAnswer;
    std::unique_ptr<ptest::SlotPatch> patch;
    if (c.insertAnswer) patch = std::make_unique<ptest::SlotPatch>(kClsFrontPanel, kMsgOInsert, &RefusingInsert);
    int32 blocks = 0;
    OHForEachBlockWith(other, [](ObjHeap, int32, void* n) -> int32 { ++*static_cast<int32*>(n); return 0; }, &blocks);
    const int32 before = PanelListCount(other, ObjWord(other, root2, kRootObjectListWord));
    OHBeginMarkPassPair(other, panel_);
    EditMsgRecord into{};
    into.flags = root2;
    into.targetHeap = other;
    EXPECT_EQ(OSelectCode(panel_, root_, kEditMove, &into), c.reply);
    OHEndMarkPassPair(other, panel_);
    const int32 list = ObjWord(other, root2, kRootObjectListWord);
    EXPECT_EQ(PanelListCount(other, list) - before, c.copies);
    EXPECT_EQ(DocMods("80000001"), c.copies);
    if (c.copies) {
      // The panel takes the copy into a controller of its own, at the end.
      const int32 last = ObjListGet(other, list, PanelListCount(other, list) - 1);
      ASSERT_EQ(FPSelectionCount(other), 1);
      const int32 copy = FPSelectedObject(other, 0);
      EXPECT_EQ(ObjClass(other, copy), kClsNumeric);
      EXPECT_EQ(ObjWord(other, copy, kObjOwner / 4), last);
    } else {
      int32 after = 0;
      OHForEachBlockWith(other, [](ObjHeap, int32, void* n) -> int32 { ++*static_cast<int32*>(n); return 0; }, &after);
      EXPECT_EQ(after, blocks) << "the refused copy was released";
    }
    qxtest::Reports::Get().Clear();  // the refused insertion's assertion
  }
  UnregisterVI(vi2);
  vib::DisposeVI(vi2);
}

// Codes 26, 60 and 32 through the panel's root.
TEST_F(EditMsg, PastesCleaningsAndFontChanges) {
  // A paste: an incompatible type beeps and writes nothing; a number is
  // converted into the control's value.
  int32 num;
  ASSERT_EQ(Alloc(Listed(tdb::I32(), kClsNumeric, &num)), kNoErr);
  ASSERT_EQ(SelectObject(panel_, num), 0);
  const TypeID i16 = Type(tdb::I16()), str = Type(tdb::String());
  const int16 seven = 7;
  const struct { TypeID type; int32 reply, beeps, value; } pastes[] = {{str, 0, 1, 0}, {i16, 8, 0, 7}};
  for (const auto& p : pastes) {
    EditMsgRecord rec{};
    rec.sourceHeap = panel_, rec.sourceType = p.type, rec.sourceData = &seven;
    gEditBeeps = 0;
    EXPECT_EQ(OSelectCode(panel_, root_, kEditPasteData, &rec) & 0xFF, p.reply);
    EXPECT_EQ(gEditBeeps, p.beeps);
    EXPECT_EQ(*reinterpret_cast<int32*>(Data(num, kDataPtrPlain)), p.value);
    EXPECT_EQ(rec.hitPartId, 0);
  }
  ClearSelectionList(panel_);

  // A cleaning: the password string of a cluster is emptied in the copy and
  // its default; a cluster without one is not even asked for its data.
  for (bool password : {false, true}) {  // the one without first: nothing else is listed yet
    SCOPED_TRACE(password);
    int32 cluster;
    ASSERT_EQ(Alloc(Listed(tdb::Cluster({tdb::String(), tdb::I32()}), kClsCluster, &cluster)), kNoErr);
    const int32 member = Obj(kClsString, cluster);
    Obj(kClsNumeric, cluster);
    TextPart(member, 11, "secret", password);
    SetW(cluster, kPWClusterElements, vib::NewList(panel_, {member}));
    SetString(Data(cluster, kDataPtrPlain), "abc");
    SetString(Data(cluster, kDataPtrDefault), "xy");
    EditMsgRecord rec{};
    OSelectCode(panel_, root_, kEditCleanCopy, &rec);
    EXPECT_EQ(StringAt(Data(cluster, kDataPtrPlain)), password ? "4:" : "7:abc");
    EXPECT_EQ(StringAt(Data(cluster, kDataPtrDefault)), password ? "4:" : "6:xy");
    EXPECT_EQ(rec.value != nullptr, password);
  }

  // A font change: the numeric whose text is re-fitted answers 0x10 and the
  // cluster's walk stops there; the member walked after it is untouched.
  int32 cluster;
  Listed(tdb::Cluster({tdb::I32(), tdb::I32()}), kClsCluster, &cluster);
  int32 n[2];
  for (int32& x : n) {
    x = Obj(kClsNumeric, cluster);
    SetBounds(TextPart(x, 10, "1"), Rect{0, 0, 60, 40});
  }
  SetW(cluster, kPWClusterElements, vib::NewList(panel_, {n[0], n[1]}));
  ASSERT_EQ(SelectObject(panel_, cluster), 0);
  const Rect first = BoundsOf(FindPart(panel_, n[0], 10, 0));
  EditMsgRecord font{};
  font.flags = kEditFocusOnly;
  EXPECT_TRUE(OSelectCode(panel_, root_, kEditFont, &font) & 0x10);
  EXPECT_NE(R(BoundsOf(FindPart(panel_, n[1], 10, 0))), R(Rect{0, 0, 60, 40})) << "the last member is re-fitted first";
  EXPECT_EQ(R(BoundsOf(FindPart(panel_, n[0], 10, 0))), R(first)) << "the walk stopped";
  EXPECT_EQ(font.flags, kEditFocusOnly) << "flags restored";
}

// The key-focus frame: around the object, except around a numeric whose
// text shows the built-in picture and around decorations.
TEST_F(EditMsg, FramesOfTheKeyFocus) {
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  const Rect place{0, 0, 200, 300};
  window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(window_, kWNoWindow);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
  WPortState port{};
  WSetup(window_, &port);
  const struct { int32 cls; int32 image; bool framed; } cases[] = {
      {kClsNumeric, 0, true}, {kClsNumeric, 301, false}, {kClsCosmetic, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    PlatSurfaceClear(surface, 0xFFFFFF);
    const int32 o = Obj(c.cls, root_);
    SetBounds(o, Rect{40, 40, 80, 100});
    if (c.cls == kClsNumeric) {
      const int32 text = Obj(kClsCosmetic, o, 10);
      SetBounds(text, Rect{40, 40, 80, 100});
      SetW(text, kObjImage / 4, int32(uInt32(uInt16(-c.image)) << 16));
    }
    DSelectNormPen(0, 0);
    OFrameSel(panel_, o, panel_, int32(uInt32(10) << 16 | 20u), 0x10);  // 20 down, 10 right
    bool black = false;
    for (int32 v = 55; v < 105 && !black; ++v)
      for (int32 h = 45; h < 115 && !black; ++h) black = (PlatSurfaceGetPixel(surface, h, v) & 0xFFFFFF) == 0;
    EXPECT_EQ(black, c.framed);
  }
  WRestore(&port);
  DDisposeDraw();
}

}  // namespace
