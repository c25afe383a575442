// The allocation pass: entries, padding, the DataSpaceTD it leaves behind,
// memory failures at every allocation, and misuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data_test_util.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "tools/vibuilder.h"

namespace {

using Bytes = std::vector<uChar>;

struct Entry {
  uChar code;
  uChar flags;
  int32 offset;  // data offset
  int32 size;    // data size
  int32 count;   // block byte count (code 0x60)
};

class DSAllocTest : public dtest::DataTest {
 protected:
  void TearDown() override {
    if (DSAllocCurrentState()->active) AllocEndPass();
    for (UHandle vi : vis_) vib::DisposeVI(vi);
    SetEnginePanelHooks(nullptr);
    SetDataSpaceMovedProc(nullptr);
    MemFailNthAllocation(0);
    MemFullReset();
    dtest::DataTest::TearDown();
  }
  UHandle NewVI(const std::vector<tdb::TD>& entries = {}) {
    UHandle vi = vib::NewVI(entries);
    EXPECT_NE(vi, nullptr);
    vis_.push_back(vi);
    return vi;
  }
  static UHandle DS(UHandle vi) { return VIRec(vi)->dataSpace; }
  static UHandle TDH(UHandle vi) { return VIRec(vi)->dsTypeMap; }
  static int32 UsedSize(UHandle vi) { return DSHdr(DS(vi))->size; }

  // The entries as the DataSpaceTD describes them, after checking that it
  // walks cleanly within its handle.
  static std::vector<Entry> Entries(UHandle vi) {
    std::vector<Entry> out;
    UHandle td = TDH(vi);
    int32 hsize = DSGetHandleSize(td);
    uInt16 word = GetNative16(*td);
    // The handle holds the true size at 65,535 bytes or more; below, the
    // size word is the size (a handle that could not be trimmed is longer).
    int32 size = word == kTDSizeInHolder ? hsize : int32(word);
    EXPECT_LE(size, hsize);
    EXPECT_EQ(TDCheckBounds(*td, size), kNoErr) << "the DataSpaceTD walks within its size";
    int32 n = int16(GetNative16(*td + 4));
    const uChar* e = *td + 6;
    int32 off = 0;
    for (int32 i = 0; i < n; ++i) {
      const TypeDescriptor* t = reinterpret_cast<const TypeDescriptor*>(e);
      int32 count = e[2] == kTDBlock ? int32(GetNative32(e + 4)) : 0;
      out.push_back({e[2], e[3], off, DataSize(t), count});
      off += DataSize(t);
      e += GetNative16(e);
    }
    EXPECT_EQ(e, *td + size) << "the entries fill the descriptor exactly";
    EXPECT_EQ(off, DataSize(reinterpret_cast<const TypeDescriptor*>(*td)));
    return out;
  }
  // The data space's used size equals the data size of its type and fits its handle.
  static void ExpectConsistent(UHandle vi) {
    std::vector<Entry> es = Entries(vi);
    ASSERT_FALSE(es.empty());
    int32 end = es.back().offset + es.back().size;
    EXPECT_EQ(UsedSize(vi), end);
    EXPECT_LE(end, DSGetHandleSize(DS(vi)));
    for (size_t i = 1; i < es.size(); ++i) EXPECT_GE(es[i].offset, kDataSpaceHeaderSize) << "entry " << i;
  }
  static int32 Entry1(const tdb::TD& t, Bool32 stored = 0, int32* tdOffset = nullptr) {
    Bytes b = t.Bytes();
    return CreateDSEntry(tdb::AsTD(b), tdOffset, stored);
  }
  static int Reports(const char* what) { return qxtest::Reports::Get().Count(what); }

  std::vector<UHandle> vis_;
};

TEST_F(DSAllocTest, AByteThenADoubleGetsSevenBytesOfPaddingAndABooleanNone) {
  UHandle vi = NewVI();
  AllocBeginPass(vi);
  EXPECT_EQ(Entry1(tdb::U8()), 528);
  EXPECT_EQ(Entry1(tdb::DBL()), 536);
  EXPECT_EQ(Entry1(tdb::Boolean()), 544);
  AllocEndPass();
  std::vector<Entry> es = Entries(vi);
  ASSERT_EQ(es.size(), 5u);
  EXPECT_EQ(es[0].count, 528);
  EXPECT_EQ(es[1].code, kTDU8);
  EXPECT_EQ(es[2].code, kTDBlock);
  EXPECT_EQ(es[2].count, 7);
  EXPECT_EQ(es[2].flags & kDSEntryStored, 0) << "padding is not stored";
  EXPECT_EQ(es[3].code, kTDDBL);
  EXPECT_EQ(es[4].code, kTDBoolean);
  EXPECT_EQ(UsedSize(vi), 545);
  ExpectConsistent(vi);
}

TEST_F(DSAllocTest, EachCodeAlignsAsItsRuleSays) {
  struct Case {
    const char* what;
    tdb::TD td;
    int32 align;
  };
  const Case cases[] = {
      {"complex double", tdb::CDB(), 8},
      {"complex single", tdb::CSG(), 4},
      {"complex extended", tdb::CXT(), 8},
      {"complex double with unit", tdb::Unit(kTDUnitCDB, {{1, 1}}), 8},
      {"string", tdb::String(), 4},
      {"handle", tdb::Handle(), 4},
      {"path", tdb::Path(), 4},
      {"string 0x33", tdb::StringOf(kTDString33), 4},
      {"string 0x37", tdb::StringOf(kTDString37), 4},
      {"array of U8", tdb::Array(tdb::U8()), 4},
      {"refnum", tdb::Refnum(3), 4},
      {"typed reference", tdb::TypedRef(tdb::I8()), 4},
      {"cluster of I16 first", tdb::Cluster({tdb::I16(), tdb::DBL()}), 2},
      {"cluster of a cluster of DBL", tdb::Cluster({tdb::Cluster({tdb::DBL()}), tdb::U8()}), 8},
      {"empty cluster", tdb::Cluster({}), 1},
      {"wrapper of I32", tdb::Wrapper(tdb::I32()), 4},
      {"I64", tdb::I64(), 8},
      {"extended", tdb::EXT(), 8},
      {"single", tdb::SGL(), 4},
      {"enum of U16", tdb::Enum(kTDEnumU16, {"a"}), 2},
      {"unit double", tdb::Unit(kTDUnitDBL, {{1, 1}}), 8},
      {"boolean", tdb::Boolean(), 1},
      {"old boolean", tdb::OldBoolean(), 1},
      {"block", tdb::Block(3), 1},
      {"typedef of DBL", tdb::Typedef("t", tdb::DBL()), 1},
      {"variant", tdb::Variant(), 1},
      {"opaque 0x34", tdb::Header(kTDOpaque34), 1},
      {"void", tdb::Void(), 1},
  };
  UHandle vi = NewVI();
  AllocBeginPass(vi);
  for (const Case& c : cases) {
    AllocDSBlock(0, 0, 0, 8);
    Entry1(tdb::U8());  // the end of data is now 1 past a multiple of 8
    int32 end = DSAllocEndOfData();
    ASSERT_EQ(end % 8, 1);
    int32 count = DSAllocCurrentState()->entryCount;
    int32 off = Entry1(c.td);
    EXPECT_EQ(off, (end + c.align - 1) / c.align * c.align) << c.what;
    EXPECT_EQ(DSAllocCurrentState()->entryCount, count + (off != end ? 2 : 1)) << c.what << ": padding entry";
    EXPECT_EQ(DSAllocEndOfData(), off + DataSize(tdb::AsTD(c.td.Bytes()))) << c.what;
  }
  AllocEndPass();
  ExpectConsistent(vi);
}

TEST_F(DSAllocTest, StoredFlagOffsetsAndCountsOfEntries) {
  UHandle vi = NewVI({tdb::I32()});
  AllocBeginPass(vi);
  const DSAllocState* s = DSAllocCurrentState();
  EXPECT_EQ(s->active, 1);
  EXPECT_EQ(s->entryCount, 2);
  EXPECT_EQ(s->endOfData, 532);
  EXPECT_EQ(s->alignLimit, 1);
  int32 tdUsed = s->tdUsed;
  int32 at1 = -1, at2 = -1;
  EXPECT_EQ(Entry1(tdb::String().WithFlags(kDSEntryStored), 0, &at1), 532);
  EXPECT_EQ(at1, tdUsed);
  EXPECT_EQ(Entry1(tdb::I16().WithFlags(0x10), 1, &at2), 536);
  EXPECT_EQ(at2, tdUsed + 8);
  EXPECT_EQ(s->lastTDOffset, at2);
  AllocEndPass();
  EXPECT_EQ(DSAllocCurrentState()->active, 0);
  std::vector<Entry> es = Entries(vi);
  ASSERT_EQ(es.size(), 4u);
  EXPECT_EQ(es[2].flags, 0) << "not stored: bit 0x20 cleared";
  EXPECT_EQ(es[3].flags, kDSEntryStored | 0x10) << "stored: bit 0x20 set, other bits kept";
  ExpectConsistent(vi);
  // The handle and the old form name the same descriptor.
  UHandle h = nullptr;
  Bytes b = tdb::Cluster({tdb::U8(), tdb::DBL()}).Bytes();
  ASSERT_EQ(AZPtrToHand(b.data(), &h, int32(b.size())), kNoErr);
  AllocBeginPass(vi);
  int32 at3 = 0;
  EXPECT_EQ(CreateDSEntry_Old(h, 6, &at3, 0), 538);
  EXPECT_EQ(CreateDSEntry_Old(h, 10, nullptr, 0), 544) << "the DBL element of the cluster";
  AllocEndPass();
  AZDisposeHandle(h);
  ExpectConsistent(vi);
}

TEST_F(DSAllocTest, BlocksAlignToTheLowestSetBitOfTheirAlignment) {
  struct Case {
    int32 align, expect;
  };
  const Case cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 1}, {4, 4}, {12, 4}, {6, 2}, {16, 8}, {64, 8}, {-8, 8}};
  UHandle vi = NewVI();
  AllocBeginPass(vi);
  for (const Case& c : cases) {
    Entry1(tdb::U8());
    int32 end = DSAllocEndOfData();
    int32 off = AllocDSBlock(5, 0, 1, c.align);
    EXPECT_EQ(off, (end + c.expect - 1) / c.expect * c.expect) << "alignment " << c.align;
    EXPECT_EQ(DSAllocEndOfData(), off + 5);
  }
  AllocEndPass();
  std::vector<Entry> es = Entries(vi);
  int stored = 0;
  for (const Entry& e : es) stored += e.code == kTDBlock && e.count == 5 && (e.flags & kDSEntryStored);
  EXPECT_EQ(stored, 10) << "the blocks themselves carry the stored flag, their padding does not";
  ExpectConsistent(vi);
}

TEST_F(DSAllocTest, DescriptorsOfSixtyFiveThousandBytesPutTheirSizeInTheHandle) {
  UHandle vi = NewVI();
  Bytes big = tdb::Cluster({tdb::I32().Named(std::string(200, 'n'))}).Named(std::string(250, 'c')).Bytes();
  AllocBeginPass(vi);
  int32 n = 0;
  while (DSAllocCurrentState()->tdUsed < 0xFFFF + 600) {
    CreateDSEntry(tdb::AsTD(big), nullptr, 1);
    ++n;
  }
  AllocEndPass();
  UHandle td = TDH(vi);
  EXPECT_EQ(GetNative16(*td), kTDSizeInHolder);
  EXPECT_GT(DSGetHandleSize(td), 0xFFFF);
  EXPECT_EQ(int16(GetNative16(*td + 4)), n + 1);
  ExpectConsistent(vi);
  // A second pass reads the true size from the handle.
  AllocBeginPass(vi);
  EXPECT_EQ(DSAllocCurrentState()->tdUsed, DSGetHandleSize(td));
  Entry1(tdb::U8());
  AllocEndPass();
  EXPECT_EQ(int16(GetNative16(*td + 4)), n + 2);
  ExpectConsistent(vi);
}

TEST_F(DSAllocTest, MisuseIsReported) {
  UHandle vi = NewVI();
  ClearReports();
  AllocEndPass();
  EXPECT_EQ(Reports("AllocEndPass without AllocBeginPass"), 1);
  AllocBeginPass(vi);
  AllocBeginPass(vi);
  EXPECT_EQ(Reports("a pass is already active"), 1);
  EXPECT_EQ(DSAllocCurrentState()->active, 1) << "the first pass goes on";
  // A descriptor inside the handles being grown.
  int32 count = DSAllocCurrentState()->entryCount;
  EXPECT_EQ(CreateDSEntry(reinterpret_cast<const TypeDescriptor*>(*TDH(vi) + 6), nullptr, 0), 0);
  EXPECT_EQ(Reports("inside the handles being grown"), 1);
  EXPECT_EQ(DSAllocCurrentState()->entryCount, count) << "nothing counted";
  EXPECT_EQ(DSAllocErrorFlags(), kDSAllocMemErr);
  AllocEndPass();
  ExpectConsistent(vi);
  EXPECT_EQ(Entry1(tdb::I8()), 0);
  EXPECT_EQ(Reports("CreateDSEntry outside a pass"), 1);
  // A VI without data space: counted, nothing written.
  UHandle bare = vib::NewVI({}, false);
  vis_.push_back(bare);
  AllocBeginPass(bare);
  EXPECT_EQ(Reports("no data space"), 1);
  Entry1(tdb::I8());
  EXPECT_EQ(DSAllocErrorFlags(), kDSAllocMemErr);
  AllocEndPass();
}

TEST_F(DSAllocTest, ThePairRecordedForRelocationIsClearedWhenTheBlockMoves) {
  for (int32 grow : {0, 200000}) {
    UHandle vi = NewVI();
    DataSpaceHeader* h = DSHdr(DS(vi));
    h->relocPair[0] = 5;
    h->relocPair[1] = 6;
    const void* before = *DS(vi);
    AllocBeginPass(vi);
    if (grow) AllocDSBlock(grow, 0, 0, 1);
    AllocEndPass();
    bool moved = *DS(vi) != before;
    EXPECT_EQ(moved, grow != 0) << "a block grown this far moves";
    h = DSHdr(DS(vi));
    EXPECT_EQ(h->relocPair[0], moved ? 0 : 5);
    EXPECT_EQ(h->relocPair[1], moved ? 0 : 6);
  }
}

// ---- Passes over an object ----------------------------------------------------------

// A stand-in for the panel classes: the object allocates these entries.
std::vector<int32> gOffsets;
std::vector<Bytes> gEntryTDs;
int32 AllocateTestEntries(ObjHeap, int32) {
  for (Bytes& b : gEntryTDs) gOffsets.push_back(CreateDSEntry(tdb::AsTD(b), nullptr, 1));
  return 0;
}
int gMoved = 0;
void CountMoved(UHandle) { ++gMoved; }

TEST_F(DSAllocTest, AFailureAtEveryAllocationKeepsOffsetsAndPublishesOnlyWhatWasWritten) {
  gEntryTDs.clear();
  for (int i = 0; i < 60; ++i) {
    gEntryTDs.push_back(tdb::U8().Bytes());
    gEntryTDs.push_back(tdb::String(TDFixed(i + 1)).Bytes());  // allocates its empty value
    gEntryTDs.push_back(tdb::Cluster({tdb::DBL().Named(std::string(120, 'x')), tdb::Array(tdb::I32())}).Bytes());
  }
  EnginePanelHooks hooks{};
  hooks.oAllocate = &AllocateTestEntries;
  SetEnginePanelHooks(&hooks);
  // The offsets of a pass that nothing disturbs.
  UHandle ref = NewVI();
  vib::NewPanel(ref);
  gOffsets.clear();
  ASSERT_EQ(AllocObjDataSpace(VIRec(ref)->panelHeap, 0), kNoErr);
  std::vector<int32> expected = gOffsets;
  ExpectConsistent(ref);
  ASSERT_GT(Entries(ref).size(), size_t(1 + 180)) << "header, entries and their padding";

  SetDataSpaceMovedProc(&CountMoved);
  bool failedLate = false;
  for (int32 n = 1; !failedLate; ++n) {
    UHandle vi = NewVI();
    ObjHeap panel = vib::NewPanel(vi);
    UPtr recorded = *DS(vi);
    gOffsets.clear();
    gMoved = 0;
    MemFullReset();
    MemFailNthAllocation(n);
    MgErr err = AllocObjDataSpace(panel, 0);
    bool anyFailure = MemFullPending(nullptr) != 0;
    MemFailNthAllocation(0);
    failedLate = !anyFailure;
    EXPECT_EQ(gOffsets, expected) << "offsets stay consistent, n=" << n;
    ExpectConsistent(vi);
    size_t published = Entries(vi).size();
    if (err == kMemFullErr) {
      EXPECT_TRUE(anyFailure);
      EXPECT_LE(published, Entries(ref).size()) << "n=" << n;
    } else {
      EXPECT_EQ(err, kNoErr);
      EXPECT_EQ(published, Entries(ref).size()) << "a failure that the pass did not need, n=" << n;
    }
    EXPECT_EQ(gMoved, *DS(vi) != recorded ? 1 : 0) << "the moved-block procedure, n=" << n;
    vib::DisposeVI(vi);
    vis_.pop_back();
    ASSERT_LT(n, 2000);
  }
}

TEST_F(DSAllocTest, ObjectPassesNeedAnOwnerAndAnIdleVI) {
  ObjHeap orphan = OHNewHeap(500, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ClearReports();
  EXPECT_EQ(AllocObjDataSpace(orphan, 0), kArgErr);
  EXPECT_EQ(Reports("no owner VI"), 1);
  OHDisposeHeap(orphan);
  // A running VI whose block moves is reported.
  gEntryTDs.assign(1, tdb::Array(tdb::U8(), {TDFixed(1)}).Bytes());
  EnginePanelHooks hooks{};
  hooks.oAllocate = &AllocateTestEntries;
  SetEnginePanelHooks(&hooks);
  UHandle vi = NewVI();
  ObjHeap panel = vib::NewPanel(vi);
  VIRec(vi)->eState = 2;
  DSHdr(DS(vi))->selfPtr = nullptr;  // recorded elsewhere: the block counts as moved
  EXPECT_EQ(AllocObjDataSpace(panel, 0), kNoErr);
  EXPECT_GE(Reports("eState"), 1);
  VIRec(vi)->eState = 1;
  ClearReports();
  EXPECT_EQ(AllocObjDataSpace(panel, 0), kNoErr);
  EXPECT_EQ(Reports("eState"), 0);
  // Without the object system nothing is allocated.
  SetEnginePanelHooks(nullptr);
  int32 used = UsedSize(vi);
  EXPECT_EQ(AllocObjDataSpace(panel, 0), kNoErr);
  EXPECT_EQ(UsedSize(vi), used);
}

}  // namespace

namespace {

// Without the object system the start-up blocks are made all the same, and
// a block that cannot be had is reported.
TEST_F(DSAllocTest, StartUpBlocksAndTheirFailureReport) {
  int32 runs = AZPBlocks()->runs;
  ClearReports();
  MemFailNthAllocation(2);
  AZPAllocInit();
  MemFailNthAllocation(0);
  const AZPAllocBlocks* b = AZPBlocks();
  EXPECT_EQ(b->runs, runs + 1);
  EXPECT_NE(b->linkerTable, nullptr);
  EXPECT_EQ(b->linkerNames, nullptr) << "the second allocation failed";
  EXPECT_NE(b->block4000a, nullptr);
  EXPECT_NE(b->emptyHandle, nullptr);
  EXPECT_EQ(b->pairTable, nullptr) << "no object system: no pair table";
  EXPECT_EQ(Reports("AZPAllocInit: out of memory"), 1);
  UHandle first = b->emptyHandle;
  ClearReports();
  AZPAllocInit();
  EXPECT_NE(AZPBlocks()->linkerNames, nullptr);
  EXPECT_EQ(Reports("AZPAllocInit"), 0);
  // The blocks live until the process ends; the fixture counts handles.
  AZDisposeHandle(first);
  AZDisposeHandle(AZPBlocks()->emptyHandle);
}

}  // namespace
