// Copying panel objects into another VI's panel: once per pass, sub-objects
// re-owned, handles and images made anew, moved by the offset, values queued;
// a copy cut short by memory leaves a destination that passes the load check.
#include "engine/dmprog.h"
#include "mgsource/memory.h"  // before the link check's header, which uses it
#include "engine/link_check.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/objload.h"
#include "panel/ocopy.h"
#include "panel/oinit.h"
#include "panel_test_support.h"

namespace {

constexpr int32 kBy = (10 << 16) | 5;  // vertical 5, horizontal 10

class OCopyTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    dstVI_ = vib::NewVI();
    ASSERT_EQ(RegisterVI(dstVI_), kNoErr);
    dst_ = vib::NewPanel(dstVI_);
    std::memcpy(VIRec(dstVI_)->name, "\003Dst", 4);
  }
  void TearDown() override {
    DMDisposePending();
    for (TRecord t : texts_) TDispose(t);
    OHForEachBlockWith(dst_, &DisposeText, nullptr);
    UnregisterVI(dstVI_);
    vib::DisposeVI(dstVI_);
    PanelRootTest::TearDown();
  }
  static int32 DisposeText(ObjHeap h, int32 obj, void*) {
    if (OHBlockClass(h, obj) == kClsLabel && OHBlockSize(h, obj) >= kObjText + 4)
      TDispose(reinterpret_cast<TRecord>(uintptr_t(uInt32(ObjWord(h, obj, kObjText / 4)))));
    return 0;
  }
  int32 Copy(int32 obj, int32 flags = 0) { return OCopy(panel_, obj, dst_, kBy, flags); }
  int32 CopyOf(int32 obj) { return OHBlockMarkWord(panel_, obj); }
  int32 D(int32 obj, int32 word) { return ObjWord(dst_, obj, word); }
  std::vector<int16> Bounds(ObjHeap h, int32 obj, int32 at = kObjBounds) {
    Rect r;
    std::memcpy(&r, *h + obj + at, sizeof r);
    return R(r);
  }
  void Text(int32 label) {
    const Rect view{0, 0, 20, 100};
    texts_.push_back(TNew(&view, 1, reinterpret_cast<const uChar*>("abc"), 3, kAppFont, 0, kTransparentColor));
    SetW(label, kObjText / 4, int32(uintptr_t(texts_.back())));
  }
  // A cluster of two numerics (the first in both element lists), a label
  // with text, and a part 66.
  int32 Cluster() {
    const int32 cluster = Obj(kClsCluster, root_), e1 = Obj(kClsNumeric, cluster), e2 = Obj(kClsNumeric, cluster);
    SetW(cluster, 10, vib::NewList(panel_, {e1, e2}));
    SetW(cluster, 11, vib::NewList(panel_, {e1}));
    Obj(kClsLabel, cluster, kPartIdNotFoundByZero);
    Text(Obj(kClsLabel, cluster, 16));
    SetBounds(cluster, Rect{1, 2, 30, 40});
    return cluster;
  }

  UHandle dstVI_ = nullptr;
  ObjHeap dst_ = nullptr;
  std::vector<TRecord> texts_;
};

TEST_F(OCopyTest, EachObjectIsCopiedOnceWithItsPartsOwnedAndMoved) {
  const int32 cluster = Cluster(), e1 = ObjListGet(panel_, W(cluster, 10), 0);
  const int32 label = ObjListGet(panel_, W(cluster, 6), 3);
  OHBeginMarkPassPair(panel_, dst_);
  ASSERT_EQ(Copy(cluster, kCopyFlagMarkData), 0);
  const int32 copy = CopyOf(cluster);
  EXPECT_EQ(Copy(cluster), 0) << "copied once per pass";
  EXPECT_EQ(CopyOf(cluster), copy);
  EXPECT_EQ(D(copy, kPWOwner), 0);
  EXPECT_EQ(ObjListCount(dst_, D(copy, 6)), 3) << "part 66 left out";
  const int32 e1Copy = CopyOf(e1);
  EXPECT_EQ(ObjListGet(dst_, D(copy, 10), 0), e1Copy);
  EXPECT_EQ(ObjListGet(dst_, D(copy, 11), 0), e1Copy) << "one copy in both lists";
  EXPECT_EQ(D(e1Copy, kPWOwner), copy);
  EXPECT_EQ(Bounds(dst_, copy), (std::vector<int16>{6, 12, 35, 50}));
  const TRecord text = reinterpret_cast<TRecord>(uintptr_t(uInt32(D(CopyOf(label), kObjText / 4))));
  ASSERT_TRUE(text && text != texts_.back());
  Rect view;
  TGetRect(text, &view, nullptr);
  EXPECT_EQ(R(view), (std::vector<int16>{5, 10, 25, 110}));
  ObjHeap srcHeap = nullptr;
  int32 srcObj = 0, reserved = 0, flags = 0;
  ASSERT_TRUE(DMFindDataProc(dst_, copy, &srcHeap, &srcObj, &reserved, reinterpret_cast<uInt32*>(&flags)));
  EXPECT_EQ(uInt32(flags), kCopyDataProcFlags | kCopyDataProcMarked);
  EXPECT_EQ(srcObj, cluster);
  OHEndMarkPassPair(panel_, dst_);
  EXPECT_EQ(CheckStoredPanelObjects(dst_), kNoErr);
  EXPECT_EQ(Asserts(), 0);
}

TEST_F(OCopyTest, OffsetsMoveLabelsItemsAndScalePositions) {
  const int32 big = vib::NewObject(panel_, kClsBigMultiLabel, 84, root_);
  PutNative16(*panel_ + big + 48, 2);
  for (int32 i = 0; i < 2; ++i) std::memcpy(*panel_ + big + 52 + 16 * i, "\0\0\1\0\2\0\3\0", 8);
  const struct {
    uInt32 flags;
    std::vector<int16> shorts;
  } scales[] = {{0x200000, {1, 2, 3, 14, 15, 6}}, {0x10000, {6, 12, 3, 4, 5, 6}}, {0, {1, 2, 3, 9, 10, 6}}};
  OHBeginMarkPassPair(panel_, dst_);
  ASSERT_EQ(Copy(big), 0);
  EXPECT_EQ(Bounds(dst_, CopyOf(big), 52 + 16), (std::vector<int16>{5, 11, 7, 13}));
  for (const auto& s : scales) {
    const int32 scale = Obj(kClsScale, root_);
    SetW(scale, 0, int32(s.flags));
    ASSERT_EQ(Alloc(scale), kNoErr);
    for (int16 i = 0; i < 6; ++i) PutNative16(*DS() + W(scale, 7) + 72 + 2 * i, uInt16(i + 1));
    ASSERT_EQ(Copy(scale), 0);
    UHandle ds = VIRec(dstVI_)->dataSpace;
    std::vector<int16> got;
    for (int32 i = 0; i < 6; ++i) got.push_back(int16(GetNative16(*ds + D(CopyOf(scale), 7) + 72 + 2 * i)));
    EXPECT_EQ(got, s.shorts) << s.flags;
  }
  OHEndMarkPassPair(panel_, dst_);
}

// Every allocation of a copy fails in turn: the answer is 2 and the
// destination stays loadable, until the copy goes through.
TEST_F(OCopyTest, ACopyCutShortLeavesALoadableDestination) {
  const int32 cluster = Cluster();
  int32 answer = 2, n = 1;
  for (; answer == 2 && n < 300; ++n) {
    OHBeginMarkPassPair(panel_, dst_);
    MemFailNthAllocation(n);
    answer = Copy(cluster);
    MemFailNthAllocation(0);
    OHEndMarkPassPair(panel_, dst_);
    EXPECT_EQ(CheckStoredPanelObjects(dst_), kNoErr) << n;
    DMDisposePending();
  }
  EXPECT_EQ(answer, 0);
}

class OCopyDataTest : public OCopyTest {
 protected:
  // The destination's root, bound to its VI's data space, with a
  // key-navigation table; the source's root gets one too.
  int32 DstRoot() {
    const int32 root = FPNewPanelRoot(dst_);
    PutNative32(*dst_ + OHWord(dst_, kOHExtension) + kHeapExtRoot, uInt32(root));
    ObjSetWord(dst_, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(dstVI_)->dataSpace)));
    ObjSetWord(dst_, root, kRootKeyNav / 4, vib::NewList(dst_, std::vector<int32>(kKeyNavSlots)));
    SetW(root_, kRootKeyNav / 4, vib::NewList(panel_, std::vector<int32>(kKeyNavSlots)));
    return root;
  }
  UPtr Value(ObjHeap h, int32 obj) { return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(h, obj, 0, 2, nullptr)))); }
};

// A control's value reaches its copy when the destination's data space is
// built; a ring's items are copied at once; key-navigation slots are taken
// only when free or asked for.
TEST_F(OCopyDataTest, ValuesRingItemsAndKeySlotsFollowTheCopy) {
  const int32 dstRoot = DstRoot();
  int32 num = 0, ring = 0, other = 0;
  Control(tdb::I32(), kClsNumeric, &num, root_);
  Control(tdb::U16(), kClsRing, &ring, root_);
  Control(tdb::I32(), kClsNumeric, &other, root_);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  PutNative32(Value(panel_, num), 42);
  UHandle items = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(ring, 15))));
  ASSERT_TRUE(items && GetNative32(*items) == 1);
  PutNative32(*items + 4, 7);
  const int32 srcNav = W(root_, kRootKeyNav / 4), dstNav = ObjWord(dst_, dstRoot, kRootKeyNav / 4);
  ObjListSet(panel_, srcNav, 3, num), ObjListSet(panel_, srcNav, 4, ring), ObjListSet(panel_, srcNav, 5, other);
  ObjListSet(dst_, dstNav, 3, dstRoot), ObjListSet(dst_, dstNav, 5, dstRoot);  // slots taken
  OHBeginMarkPassPair(panel_, dst_);
  ASSERT_EQ(Copy(num), 0);
  ASSERT_EQ(Copy(ring), 0);
  ASSERT_EQ(Copy(other, kCopyFlagTakeKeyNav), 0);
  EXPECT_EQ(ObjListGet(dst_, dstNav, 3), dstRoot);
  EXPECT_EQ(ObjListGet(dst_, dstNav, 4), CopyOf(ring));
  EXPECT_EQ(ObjListGet(dst_, dstNav, 5), CopyOf(other));
  UHandle copied = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*VIRec(dstVI_)->dataSpace + D(CopyOf(ring), 15))));
  ASSERT_TRUE(copied && copied != items);
  EXPECT_EQ(GetNative32(*copied + 4), 7u);
  const int32 numCopy = CopyOf(num);
  OHEndMarkPassPair(panel_, dst_);
  ASSERT_EQ(OInsert(dst_, dstRoot, numCopy, 0x7FFFFFFF), 1);
  ASSERT_EQ(DataMgrRunForHeap(dstVI_), kNoErr);
  EXPECT_EQ(int32(GetNative32(Value(dst_, numCopy))), 42);
  EXPECT_EQ(Asserts(), 0) << ReportText();
}

// Into a VI of kind 1 a type definition's control stands for it; into any
// other the copy is linked to the definition's VI by name.
TEST_F(OCopyTest, TypeDefinitionsCopyAsTheirControlOrLinkByName) {
  ASSERT_TRUE(linkcheck::StartLinker());
  const uInt32 kVI = FourCC("QXIN");
  ASSERT_EQ(AddLinkEntry(dstVI_, VIRec(dstVI_)->name, nullptr, kVI, nullptr), 0);
  ASSERT_EQ(AddLinkEntry(dst_, VIRec(dstVI_)->name, nullptr, kPanelHeapKind, nullptr), 0);
  const int32 def = Obj(kClsTypeDefinition, root_), inner = Obj(kClsNumeric, def, kPartIdTypeDefControl);
  TypeDefSetLink(panel_, def, vi_);
  uChar name[256] = {0};
  for (int16 kind : {1, 2}) {
    VIRec(dstVI_)->viKind = kind;
    OHBeginMarkPassPair(panel_, dst_);
    const int32 r = Copy(def), copy = CopyOf(def);
    EXPECT_EQ(ObjClass(dst_, copy), kind == 1 ? kClsNumeric : kClsTypeDefinition);
    EXPECT_EQ(copy == CopyOf(inner), kind == 1);
    EXPECT_EQ(r, (uInt32(D(copy, 0)) & 0x40000) && kind == 2 ? kCopyLinkedTypeDef : 0);
    EXPECT_EQ(GetLinkItemName(VIRec(dstVI_)->name, kPanelHeapKind, copy, kVI, name), kind == 2);
    OHEndMarkPassPair(panel_, dst_);
  }
  EXPECT_EQ(GetLinkItemName(VIRec(dstVI_)->name, kVI, -1, kVI, name), 1);
  EXPECT_EQ(std::string(name + 1, name + 1 + name[0]), "Test");
  EXPECT_EQ(Asserts(), 0) << ReportText();
  UnlinkItemByName(VIRec(dstVI_)->name, kPanelHeapKind);
  UnlinkItemByName(VIRec(dstVI_)->name, kVI);
  linkcheck::DisposeTables();
}

}  // namespace
