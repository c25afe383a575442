// Copying panel objects into another VI's panel: once per pass, sub-objects
// re-owned, handles and images made anew, moved by the offset, values queued;
// a copy cut short by memory leaves a destination that passes the load check.
#include "engine/dmprog.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
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
  TRecord Text(int32 label) {
    const Rect view{0, 0, 20, 100};
    texts_.push_back(TNew(&view, 1, reinterpret_cast<const uChar*>("abc"), 3, kAppFont, 0, kTransparentColor));
    SetW(label, kObjText / 4, int32(uintptr_t(texts_.back())));
    return texts_.back();
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
  ASSERT_NE(text, nullptr);
  EXPECT_NE(text, texts_.back());
  Rect view;
  TGetRect(text, &view, nullptr);
  EXPECT_EQ(R(view), (std::vector<int16>{5, 10, 25, 110}));
  ObjHeap srcHeap = nullptr;
  int32 srcObj = 0, reserved = 0;
  uInt32 flags = 0;
  ASSERT_TRUE(DMFindDataProc(dst_, copy, &srcHeap, &srcObj, &reserved, &flags));
  EXPECT_EQ(flags, kCopyDataProcFlags | kCopyDataProcMarked);
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
  EXPECT_GT(n, 2);
}

}  // namespace
