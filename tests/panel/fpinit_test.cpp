// New panel objects initialised from templates of the run-time resource
// file, the images they share, and inserting them from creation records.
#include <set>

#include "engine/vi/objload.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "panel/fpinit.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/trinsert.h"
#include "panel_test_support.h"
#include "tools/dlgwriter.h"

using namespace dlgwriter;

namespace {

constexpr uInt32 kPredefinedBad = 9u << 16;  // kind 0 (predefined), index 9: past the three
std::vector<int32> gCalls;                 // the objects the recording methods were sent to
int32 gInsertAnswer = 0;
int32 RecordSize(ObjHeap, int32 object, const Rect*, int32) { return gCalls.push_back(object), 0; }
int32 AnswerInsert(ObjHeap, int32, int32, int32) { return gInsertAnswer; }

// A class's slot holds another method while it lives.
struct SlotOverride {
  SlotOverride(int32 cls, int32 slot, ObjMethodAddr m)
      : r(const_cast<ObjClassRecord*>(ClassRecord(cls))), slot(slot), old(r->methods[slot]) {
    r->methods[slot] = m;
  }
  ~SlotOverride() { r->methods[slot] = old; }
  ObjClassRecord* r;
  int32 slot;
  ObjMethodAddr old;
};

class FPInitTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    w.Add(kRsrcLabl, 10, LabelTemplate(kLabelPartId, {0, 0, 16, 90}, "Count"));
    w.Add(kRsrcLabl, 11, LabelTemplate(0, {0, 0, 16, 40}, "x", kPredefinedBad));
    w.Add(kRsrcDDOD, 20, DisplayTemplate(1, 0, {{kClsLabel, 10}}));
    w.Add(kRsrcSNUM, 20, NumericTemplate(3, 7));
    w.Add(kRsrcDDOD, 21, DisplayTemplate(0, 0, {}));
    w.Add(kRsrcSNUM, 21, NumericTemplate(3, 0));
    w.Add(kRsrcDDOD, kDefaultButtonTemplate, DisplayTemplate(0, 0, {}));
    w.Add(kRsrcCosm, 30, CosmeticTemplate(0, {0, 0, 10, 10}, {2, 40}));
    rsrcw::Bytes dsim = {0, 1, 0, 2, 0, 30, 0, 40, 0, 8, 0, 2};
    dsim.resize(30, 0);
    for (int16 id : {40, 41}) w.Add(FourCC("DSIM"), id, dsim);
    const rsrcw::Bytes file = w.Write();
    ptest::OpenRunTimeRsrcBytes(file, &file_);
    if (HasFatalFailure()) return;
    ASSERT_EQ(OInit(panel_, root_, Point{0, 0}, 0), root_);
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    if (file_) RCloseFile(file_);
    PanelRootTest::TearDown();
  }
  int32 New(int32 cls) { return OHNewBlock(panel_, ClassRecord(cls)->instanceSize, cls); }
  int32 Blocks(ObjHeap heap = nullptr) {
    int32 n = 0;
    OHForEachBlockWith(heap ? heap : panel_, [](ObjHeap, int32, void* c) { return ++*static_cast<int32*>(c), 0; }, &n);
    return n;
  }
  RsrcFileRef file_ = 0;
};

TEST_F(FPInitTest, ObjectsAreFilledFromTheirTemplatesOrRefusedLeavingNothing) {
  struct Case {
    const char* what;
    int32 cls, rsrc;
    bool made;
    int32 asserts;
    const char* line;
  } cases[] = {
      {"a labelled numeric", kClsNumeric, 20, true, 0, nullptr},
      {"a missing template", kClsNumeric, 99, false, 0, "Grouper doesn't have a partsList"},
      {"a bad predefined font", kClsLabel, 11, true, 0, "The predefined font is not valid, using gAppFont"},
      {"a class not made at run time", kClsSlide, 20, false, 1, nullptr},
      {"an annex", kClsAnnex, 20, true, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearReports();
    const int32 before = Blocks();
    const int32 o = OInit(panel_, New(c.cls), Point{0, 0}, c.rsrc);
    EXPECT_EQ(o != 0, c.made);
    EXPECT_EQ(Asserts(), c.asserts) << ReportText();
    if (c.line) { EXPECT_EQ(Reports(c.line), 1) << ReportText(); }
    if (!c.made) { EXPECT_EQ(Blocks(), before) << "the new block and all it made are gone"; }
  }
}

TEST_F(FPInitTest, ALabelledObjectIsSizedAroundItsLabelOneWithoutOnce) {
  SlotOverride label(kClsLabel, kMsgOSize, reinterpret_cast<ObjMethodAddr>(&RecordSize));
  SlotOverride numeric(kClsNumeric, kMsgOSize, reinterpret_cast<ObjMethodAddr>(&RecordSize));
  for (int32 rsrc : {20, 21}) {
    gCalls.clear();
    const int32 o = OInit(panel_, New(kClsNumeric), Point{0, 0}, rsrc);
    ASSERT_NE(o, 0);
    const int32 lbl = FindPart(panel_, o, kLabelPartId, 0);
    const std::vector<int32> want = rsrc == 20 ? std::vector<int32>{lbl, o} : std::vector<int32>{o};
    EXPECT_EQ(gCalls, want) << rsrc;
    EXPECT_EQ(ObjInt16(panel_, o, kNumericFormat), rsrc == 20 ? 7 : 0);
    EXPECT_NE(W(o, kObjTypeId / 4), 0);
  }
}

TEST_F(FPInitTest, TheRootFailsWholeAtEachOfItsBlocks) {
  // With the heap full and memory refused, room freed for k of the three
  // blocks fails the root at block k + 1.
  for (int32 k = 0; k < 3; ++k) {
    ObjHeap heap = OHNewHeap(64, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    const int32 root = heap ? FPNewPanelRoot(heap) : 0;
    ASSERT_NE(root, 0);
    const int32 holes[] = {OHNewBlock(heap, 8, kObjClassList), OHNewBlock(heap, 8, kObjClassList)};
    MemFailAllocations(1, -1);
    for (int32 s = 1 << 16; s >= 4; s /= 2)
      while (OHNewBlock(heap, s, kObjClassList)) {}
    for (int32 i = 0; i < k; ++i) OHDisposeBlock(heap, holes[i]);
    const int32 before = Blocks(heap);
    EXPECT_EQ(OInit(heap, root, Point{0, 0}, 0), 0) << k;
    MemFailAllocations(0, 0);
    EXPECT_EQ(Blocks(heap), before - 1) << "the root and its blocks are gone: " << k;
    OHDisposeHeap(heap);
  }
}

TEST_F(FPInitTest, ControllersTakeTheirDisplayAndACrossListOnlyForKindTwo) {
  using InitDCO = int32 (*)(ObjHeap, int32, int32, int32);
  for (int16 kind : {2, 7}) {
    VIRec(vi_)->viKind = kind;
    const int32 display = OInit(panel_, New(kClsNumeric), Point{0, 0}, 20);
    const int32 dco = reinterpret_cast<InitDCO>(reinterpret_cast<void (*)()>(&OInit))(panel_, New(kClsFPDataController), display, 0);
    ASSERT_NE(dco, 0) << kind;
    EXPECT_EQ(W(dco, 2) != 0, kind == 2) << kind;
    EXPECT_EQ(W(display, 1), dco);
    EXPECT_EQ(W(dco, 0) & 1, 1) << "an indicator's controller";
  }
}

TEST_F(FPInitTest, TheDefaultButtonTemplateTakesAnEmptySlotOnly) {
  const int32 nav = W(root_, kRootKeyNav / 4);
  const int32 first = OInit(panel_, New(kClsBoolean), Point{0, 0}, kDefaultButtonTemplate);
  const int32 second = OInit(panel_, New(kClsBoolean), Point{0, 0}, kDefaultButtonTemplate);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(ObjListGet(panel_, nav, 0), first);
}

TEST_F(FPInitTest, ImagesOfOneResourceAreSharedUntilTheLastUse) {
  EXPECT_EQ(SetRsrcCounter(10), 10);
  EXPECT_EQ(GetRsrcCounter(), 11);
  const int32 entries = FPImageTableCount();
  int32 a = 40 << 16, b = 40 << 16, c = 41 << 16;
  SetRsrcCounter(39);
  ASSERT_EQ(FPLoadObjImage(file_, &a, nullptr, 0), kNoErr);
  ASSERT_EQ(FPLoadObjImage(file_, &b, nullptr, 0), kNoErr);
  ASSERT_EQ(FPLoadObjImage(file_, &c, nullptr, 0), kNoErr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(FPImageTableCount(), entries + 2);
  ClearReports();
  EXPECT_EQ(FPCheckImageRef(0x50000 | (entries + 3)), 1) << "past the table";
  EXPECT_EQ(Reports("past the image table"), 1);
  EXPECT_EQ(FPSetObjImage(a), 0);
  EXPECT_EQ(FPObjImageUses(b), 1);
  EXPECT_EQ(FPSetObjImage(b), 0);
  EXPECT_FALSE(FPObjImageHeld(b));
  FPSetObjImage(c);
  // A cosmetic takes its image at the point; disposing it releases it.
  const int32 cos = OInit(panel_, New(kClsCosmetic), Point{5, 7}, 30);
  ASSERT_NE(cos, 0);
  EXPECT_EQ(ObjInt16(panel_, cos, kObjBounds), 5);
  EXPECT_TRUE(FPObjImageHeld(W(cos, 6)));
  const int32 ref = W(cos, 6);
  DisposeObjectTree(panel_, cos);
  EXPECT_FALSE(FPObjImageHeld(ref));
}

TEST_F(FPInitTest, InsertionFailuresClearTheRecordOrShowTheMemoryTextOnce) {
  SlotOverride insert(kClsFrontPanel, kMsgOInsert, reinterpret_cast<ObjMethodAddr>(&AnswerInsert));
  struct Case {
    const char* className;
    uInt32 kind;
    int32 answer, result, alerts, asserts;
  } cases[] = {
      {"Nothing", kCatCOSM, 1, 16, 0, 0},
      {"Label", FourCC("LIST"), 1, 16, 0, 1},
      {"Label", kCatCOSM, 2, 0, 1, 0},
      {"Label", kCatCOSM, 1, 128, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    CreationRecord rec{};
    rec.kind = c.kind;
    rec.flags = 10;
    rec.newObject = 99;
    rec.className[0] = uChar(std::strlen(c.className));
    std::memcpy(rec.className + 1, c.className, rec.className[0]);
    gInsertAnswer = c.answer;
    ClearReports();
    if (c.alerts) MemNoteFailure(1 << 20);
    EXPECT_EQ(TRInsertNewObject(panel_, root_, nullptr, &rec, 0), c.result);
    EXPECT_EQ(Asserts(), c.asserts) << ReportText();
    EXPECT_EQ(Reports("memory"), c.alerts) << ReportText();
    if (c.result == 16) { EXPECT_EQ(rec.newObject, 0); }
  }
}

// A copy takes one more use of its image: each of the two releases one.
TEST_F(FPInitTest, ACopiedCosmeticTakesAUseOfItsImage) {
  const int32 cos = OInit(panel_, New(kClsCosmetic), Point{5, 7}, 30), ref = W(cos, 6);
  OHBeginMarkPassPair(panel_, nullptr);
  ASSERT_EQ(OCopy(panel_, cos, panel_, 0, 0), 0);
  const int32 copy = OHBlockMarkWord(panel_, cos);
  OHEndMarkPassPair(panel_, nullptr);
  EXPECT_EQ(FPObjImageUses(ref), 2);
  DisposeObjectTree(panel_, copy);
  EXPECT_EQ(FPObjImageUses(ref), 1);
  DisposeObjectTree(panel_, cos);
  EXPECT_FALSE(FPObjImageHeld(ref));
}

}  // namespace

namespace {
// A procedure whose picture keeps state of its own (message 10 says so).
int32 StatefulPicture(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message == 10) b->result = 1;
  return 0;
}
}  // namespace

// A picture that keeps state is its object's own copy: a copied object gets
// a copy of it, and each object releases its own when it goes.
TEST_F(FPInitTest, AStatefulBuiltInPictureGoesWithItsObject) {
  int32 shared = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&StatefulPicture), 0, &shared), kNoErr);
  ASSERT_EQ(SetBuiltInPict(232, shared), kNoErr);
  const int32 cos = New(kClsCosmetic), ref = GetPictIndex(232), own = ref & 0xFFFF;
  ASSERT_NE(own, shared);
  SetW(cos, kObjImage / 4, ref);
  OHBeginMarkPassPair(panel_, nullptr);
  ASSERT_EQ(OCopy(panel_, cos, panel_, 0, 0), 0);
  const int32 copy = OHBlockMarkWord(panel_, cos);
  OHEndMarkPassPair(panel_, nullptr);
  const int32 copied = W(copy, kObjImage / 4) & 0xFFFF;
  EXPECT_EQ(W(copy, kObjImage / 4) >> 16, ref >> 16);
  EXPECT_NE(copied, own);
  EXPECT_EQ(IKindOf(copied), kImageProc);
  DisposeObjectTree(panel_, copy);
  EXPECT_EQ(IKindOf(copied), 0);
  EXPECT_EQ(IKindOf(own), kImageProc);
  DisposeObjectTree(panel_, cos);
  EXPECT_EQ(IKindOf(own), 0);
  EXPECT_EQ(IKindOf(shared), kImageProc) << "the table's picture stays";
  SetBuiltInPict(232, 0);
  IRelease(shared);
}
