// Data spaces of VIs: the header every data space starts with, clones and
// their disposal.
#include "engine/exec/exec.h"
#include "engine/exec/rttable.h"
#include "mgsource/path.h"
#include "viinst_test_support.h"

using namespace qxvitest;

namespace {

uInt32 U32(DataSpace ds, int at) { return GetNative32(reinterpret_cast<const uChar*>(*ds) + at); }
uInt16 U16(DataSpace ds, int at) { return GetNative16(reinterpret_cast<const uChar*>(*ds) + at); }
uInt32 Word(const void* p) { return uInt32(uintptr_t(p)); }
DataSpace FirstDS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }

class DataSpaceTest : public VITest {
 protected:
  // A kind-2 VI with a first data space.
  UHandle NewVIWithDS(const char* name, uInt32 flags = 0, uInt32 flags2 = 0) {
    UHandle vi = NewVICore(kVIKindDatalog, PS(name), -1);
    EXPECT_NE(vi, nullptr);
    VIRec(vi)->flags |= flags;
    VIRec(vi)->flags2 |= flags2;
    EXPECT_EQ(NewMinimalDataSpace(vi), kNoErr);
    InitDataSpace(FirstDS(vi));
    return vi;
  }
  // A clone of the VI's data space.
  static DataSpace NewClone(UHandle vi) {
    DataSpace clone = nullptr;
    EXPECT_EQ(NewDataSpaceFromTD(VIRec(vi)->dsTypeMap, &clone), kNoErr);
    (*clone)->owner = vi;
    InitDataSpace(clone);
    return clone;
  }
};

TEST_F(DataSpaceTest, EveryHeaderFieldAtItsOffsetWithAndWithoutAPanel) {
  for (bool withPanel : {false, true}) {
    SCOPED_TRACE(withPanel ? "panel" : "no panel");
    UHandle vi = NewVICore(kVIKindDatalog, PS("dump"), -1);
    ASSERT_NE(vi, nullptr);
    ObjHeap panel = Panel(vi);
    if (!withPanel) VIRec(vi)->panelHeap = nullptr;
    VIRec(vi)->flags |= 0x8000 | 0x40 | 0x1000 | kVIFlagPanelBinding;
    VIRec(vi)->flags2 |= kVIFlags2LogAtCompletion | kVIFlags2PrintAtCompletion;
    VIRec(vi)->priority = 3;
    VIRec(vi)->path = FEmptyPath(nullptr);
    const auto before = ZoneTotals();
    ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
    DataSpace ds = FirstDS(vi);
    InitDataSpace(ds);

    EXPECT_EQ(U32(ds, 0), 0u);
    EXPECT_EQ(U32(ds, 4), 0u);
    EXPECT_EQ(U16(ds, 8), 3u);
    EXPECT_EQ(U16(ds, 10), 0xFFFFu);
    EXPECT_EQ(U16(ds, 12), 0u);
    EXPECT_EQ(U16(ds, 14), 0u);
    EXPECT_EQ(U32(ds, 16), Word(vi));
    EXPECT_EQ(U32(ds, 104), Word(VIRec(vi)->dsTypeMap));
    EXPECT_EQ(U32(ds, 108), Word(ds));
    EXPECT_EQ(U32(ds, 112), withPanel ? Word(panel) : 0u);
    EXPECT_EQ(U32(ds, 116), Word(QXRTTable));
    EXPECT_EQ(U32(ds, 120), uInt32(kDataSpaceHeaderSize));
    EXPECT_EQ(U16(ds, 124), 0u);
    EXPECT_EQ(U16(ds, 126), 1u);  // the panel, or the VI's binding flag
    EXPECT_EQ(U16(ds, 128), 0x8040u);
    EXPECT_EQ(U16(ds, 130), 1u);
    EXPECT_EQ(U16(ds, 134), 0u);
    EXPECT_EQ(U32(ds, 160), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(*ds) + 164, 4), "DATA");
    const uInt32 queue = U32(ds, 188);
    ASSERT_NE(queue, 0u);
    const ExecQueue* q = reinterpret_cast<const ExecQueue*>(uintptr_t(queue));
    EXPECT_EQ(q->signature, kExecQueueSig);
    EXPECT_EQ(q->levels, 5);
    EXPECT_EQ(U32(ds, 192 + 8), queue);  // the entrance's wait queue is the same one
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(*ds) + 192 + 20, 4), "VENT");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(*ds) + 216 + 48, 4), "QELM");
    EXPECT_EQ(U32(ds, 192), 0u);  // no mutex without execution threads
    EXPECT_EQ(U32(ds, 316), Word(*ds));
    EXPECT_EQ(U16(ds, 408), 3u);
    EXPECT_EQ(U32(ds, 412), Word(VIRec(vi)->path));
    EXPECT_EQ(U32(ds, 424), 0u);
    EXPECT_EQ(U32(ds, 472), 0u);
    EXPECT_EQ(U32(ds, 504), 0u);
    EXPECT_EQ(U32(ds, 512), 0u);
    if (withPanel) {
      const int32 root = int32(ExtWord(panel, kHeapExtRoot));
      ASSERT_NE(root, 0);
      EXPECT_EQ(GetNative32(*panel + root + 4 * kPanelRootDataSpaceWord), Word(ds));
    }

    // The data space and its one queue go; only the type stays with the VI.
    DisposeDataSpace(ds, 1);
    EXPECT_EQ(VIRec(vi)->dataSpace, nullptr);
    DSDisposeHandle(VIRec(vi)->dsTypeMap);
    VIRec(vi)->dsTypeMap = nullptr;
    EXPECT_EQ(ZoneTotals(), before);
    VIRec(vi)->panelHeap = panel;
    DisposeVI(vi, 1);
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(DataSpaceTest, FlagsCopiedOnlyWhenTheirBitsAreSet) {
  struct Case {
    uInt32 flags, flags2;
    uInt16 dsFlags, viFlagsCopy, bit12;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0},
      {0x40, kVIFlags2LogAtCompletion, 1, 0, 0},           // bit 0x40 alone is not copied
      {0x8000, kVIFlags2PrintAtCompletion, 2, 0x8000, 0},
      {0x8000 | 0x40 | 0x1000, 0, 0, 0x8040, 1},
  };
  for (const Case& c : cases) {
    UHandle vi = NewVIWithDS("flags", c.flags, c.flags2);
    DataSpace ds = FirstDS(vi);
    EXPECT_EQ((*ds)->dsFlags, c.dsFlags) << c.flags;
    EXPECT_EQ((*ds)->viFlagsCopy, c.viFlagsCopy) << c.flags;
    EXPECT_EQ((*ds)->flagsBit12, c.bit12) << c.flags;
    DisposeVI(vi, 1);
  }
}

TEST_F(DataSpaceTest, SubroutineVIsGetALockWordAndNoWaitQueue) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("subr"), -1);
  VIRec(vi)->flags |= kVIFlagSubroutine;
  VIRec(vi)->priority = kVIPrioritySubroutine;
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  InitDataSpace(FirstDS(vi));
  DataSpace ds = FirstDS(vi);
  EXPECT_NE((*ds)->entrance.lockWord, nullptr);
  EXPECT_EQ(*(*ds)->entrance.lockWord, 0);
  EXPECT_EQ((*ds)->waitQueue, nullptr);
  EXPECT_EQ((*ds)->entrance.waitQueue, nullptr);
  EXPECT_EQ(VIRec(vi)->flags & kVIFlagBad, 0u);
  DisposeVI(vi, 1);
}

TEST_F(DataSpaceTest, ClonesFollowTheFirstAndShareItsWords) {
  UHandle vi = NewVIWithDS("reentrant");
  DataSpace first = FirstDS(vi);
  (*first)->sharedWord = 0x1234;
  (*first)->updateQueue = reinterpret_cast<UHandle>(uintptr_t(0x5678));
  DataSpace a = NewClone(vi), b = NewClone(vi);
  // Each clone goes right after the first one.
  EXPECT_EQ((*first)->nextClone, b);
  EXPECT_EQ((*b)->nextClone, a);
  EXPECT_EQ((*a)->nextClone, nullptr);
  for (DataSpace c : {a, b}) {
    EXPECT_EQ((*c)->sharedWord, 0x1234);
    EXPECT_EQ((*c)->updateQueue, (*first)->updateQueue);
    EXPECT_EQ((*c)->panelFlag1, 0);
    EXPECT_EQ((*c)->panelFlag2, 0);
    EXPECT_EQ((*c)->panelOpen, 0);
    EXPECT_EQ((*c)->signature, kDataSpaceSig);
    EXPECT_TRUE(VIOwnsDataSpace(vi, c));
  }
  EXPECT_EQ(VIRec(vi)->dataSpace, reinterpret_cast<UHandle>(first));
  (*first)->updateQueue = nullptr;
  (*a)->updateQueue = (*b)->updateQueue = nullptr;

  // The panel bound to a clone goes back to the first when the clone goes.
  ObjHeap panel = Panel(vi);
  const int32 root = int32(ExtWord(panel, kHeapExtRoot));
  PutNative32(*panel + root + 4 * kPanelRootDataSpaceWord, Word(b));
  const int before = Seen().disposeProc;
  DisposeDataSpace(b, 1);
  EXPECT_EQ(Seen().disposeProc, before + 1);
  EXPECT_EQ((*first)->nextClone, a);
  EXPECT_FALSE(VIOwnsDataSpace(vi, b));
  EXPECT_TRUE(VIOwnsDataSpace(vi, a));
  EXPECT_EQ(GetNative32(*panel + root + 4 * kPanelRootDataSpaceWord), Word(first));
  EXPECT_EQ((*first)->panel, panel);
  // Only the first's data space entry is unlinked, never a clone's.
  for (const std::string& u : Seen().unlinked) EXPECT_NE(u, "VIDS:reentrant");

  DataSpace stranger = nullptr;
  ASSERT_EQ(NewDataSpaceFromTD(VIRec(vi)->dsTypeMap, &stranger), kNoErr);
  EXPECT_FALSE(VIOwnsDataSpace(vi, stranger));
  DSDisposeHandle(reinterpret_cast<UHandle>(stranger));
  DisposeVI(vi, 1);
}

TEST_F(DataSpaceTest, DisposingTheFirstTakesItsClonesAndUnlinksItsEntryOnce) {
  UHandle vi = NewVIWithDS("owner");
  NewClone(vi);
  NewClone(vi);
  const auto before = ZoneTotals();
  DataSpace first = FirstDS(vi);
  const int resetRemovals = Seen().resetRemove;
  DisposeDataSpace(first, 1);
  EXPECT_EQ(VIRec(vi)->dataSpace, nullptr);
  EXPECT_EQ(Seen().resetRemove, resetRemovals + 3);
  int unlinks = 0;
  for (const std::string& u : Seen().unlinked) unlinks += u == "VIDS:owner";
  EXPECT_EQ(unlinks, 1);
  EXPECT_LT(ZoneTotals().blocks, before.blocks);
  DisposeVI(vi, 1);
}

TEST_F(DataSpaceTest, AMissingWaitQueueMakesTheVIBad) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("short"), -1);
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  MemFailNthAllocation(1);  // the wait queue
  InitDataSpace(FirstDS(vi));
  MemFailNthAllocation(0);
  EXPECT_EQ(VIRec(vi)->flags & kVIFlagBad, kVIFlagBad);
  EXPECT_EQ((*FirstDS(vi))->waitQueue, nullptr);
  EXPECT_EQ((*FirstDS(vi))->signature, kDataSpaceSig);
  const auto before = LiveHandleCount();
  DisposeVI(vi, 1);
  EXPECT_LT(LiveHandleCount(), before);
}

TEST_F(DataSpaceTest, NewDataSpaceFromTDRefusesTypesThatDoNotCoverTheHeader) {
  DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(1));
  EXPECT_EQ(NewDataSpaceFromTD(nullptr, &ds), kArgErr);
  EXPECT_EQ(ds, nullptr);
  // A cluster of one 100-byte block is too small for a header.
  UHandle td = DSNewHClr(14);
  PutNative16(*td, 14);
  (*td)[2] = kTDCluster;
  PutNative16(*td + 4, 1);
  PutNative16(*td + 6, 8);
  (*td)[8] = kTDBlock;
  PutNative32(*td + 10, 100);
  EXPECT_EQ(NewDataSpaceFromTD(td, &ds), kArgErr);
  PutNative32(*td + 10, 528);
  MemFailNthAllocation(1);
  EXPECT_EQ(NewDataSpaceFromTD(td, &ds), kMemFullErr);
  MemFailNthAllocation(0);
  ASSERT_EQ(NewDataSpaceFromTD(td, &ds), kNoErr);
  EXPECT_EQ((*ds)->size, 528);
  EXPECT_EQ((*ds)->typeDesc, td);
  DSDisposeHandle(reinterpret_cast<UHandle>(ds));
  DSDisposeHandle(td);
}

TEST_F(DataSpaceTest, TheMinimalTypeIsOneFixedBlockOfTheHeader) {
  UHandle vi = Keep(NewVICore(kVIKindDialog, PS("dialog"), -1));
  ASSERT_NE(vi, nullptr);
  UHandle td = VIRec(vi)->dsTypeMap;
  ASSERT_NE(td, nullptr);
  ASSERT_EQ(DSGetHandleSize(td), kMinimalDataSpaceTDSize);
  const uChar expected[14] = {14, 0, 0x50, 0, 1, 0, 8, 0, 0x60, 0, 0x10, 0x02, 0, 0};
  EXPECT_EQ(std::memcmp(*td, expected, 14), 0);
  // A VI that has a data space gets no second one.
  EXPECT_EQ(NewMinimalDataSpace(vi), kArgErr);
  EXPECT_GE(Failures() + qxtest::Reports::Get().Count("dsinit"), 1);
}

}  // namespace
