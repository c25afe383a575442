// The VI header record: its stored form, the byte-order swap, short and long
// stored headers, the datalog binding record and the version boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "engine_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace {

using Bytes = std::vector<uChar>;

class VIRecordTest : public qxtest::EngineTest {};

Bytes RandomBytes(size_t n, uInt32 seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (uChar& c : b) c = uChar(rng());
  return b;
}

TEST_F(VIRecordTest, SwappingTwiceGivesTheStoredBytesAndTouchesOnlyTheStoredFields) {
  const std::set<int> swapped32 = {0, 400, 40, 44, 52, 56, 96, 412, 404, 424};
  const std::set<int> swapped16 = {84, 86, 88, 90};
  for (uInt32 seed = 1; seed <= 20; ++seed) {
    Bytes stored = RandomBytes(kVIHeaderSize, seed);
    Bytes b = stored;
    SwapVIHeader(b.data());
    for (int at = 0; at < kVIHeaderSize;) {
      if (swapped32.count(at)) {
        EXPECT_EQ(GetNative32(&b[size_t(at)]), GetBE32(&stored[size_t(at)])) << at;
        at += 4;
      } else if (swapped16.count(at)) {
        EXPECT_EQ(GetNative16(&b[size_t(at)]), GetBE16(&stored[size_t(at)])) << at;
        at += 2;
      } else {
        EXPECT_EQ(b[size_t(at)], stored[size_t(at)]) << "byte " << at << " is not a stored field";
        at += 1;
      }
    }
    SwapVIHeader(b.data());
    EXPECT_EQ(b, stored);
  }
}

TEST_F(VIRecordTest, ABigEndianHeaderReadsBackItsFields) {
  Bytes f(kVIHeaderSize, 0);
  PutBE32(&f[0], 0x00400401);
  PutBE32(&f[40], 4711);
  PutBE32(&f[52], 0x00800020);
  PutBE16(&f[86], 31);
  PutBE16(&f[88], uInt16(-1));
  PutBE16(&f[90], kVIKindDatalog);
  PutBE32(&f[96], kRunTimeVersion);
  PutBE32(&f[400], kVIMarkReadOnly | kVIMarkFromLibrary);
  PutBE32(&f[404], uInt32(-1));
  PutBE32(&f[412], kVIStateIdle);
  const char name[] = "\x07Main VI";
  std::memcpy(&f[124], name, 8);
  PutBE32(&f[20], 0x11223344);  // a memory-only word stays as it is
  UHandle h = nullptr;
  ASSERT_EQ(AZPtrToHand(f.data(), &h, int32(f.size())), kNoErr);
  ASSERT_EQ(VIHeaderFromStored(h), kNoErr);
  const VIRecord* r = VIRec(h);
  EXPECT_EQ(r->flags, 0x00400401u);
  EXPECT_TRUE(r->flags & kVIFlagsNotRunnable);
  EXPECT_TRUE(r->flags & kVIFlagOpenPanel);
  EXPECT_EQ(r->rsrcID, 4711u);
  EXPECT_EQ(r->flags2, 0x00800020u);
  EXPECT_EQ(r->windowOptions, 31);
  EXPECT_EQ(r->priority, -1);
  EXPECT_EQ(r->viKind, kVIKindDatalog);
  EXPECT_EQ(r->version, kRunTimeVersion);
  EXPECT_EQ(r->marks, kVIMarkReadOnly | kVIMarkFromLibrary);
  EXPECT_EQ(r->execSystem, -1);
  EXPECT_EQ(r->eState & kVIStateMask, kVIStateIdle);
  EXPECT_EQ(std::memcmp(r->name, name, 8), 0) << "the name is bytes";
  EXPECT_EQ(GetNative32(*h + 20), GetNative32(&f[20]));
  AZDisposeHandle(h);
}

TEST_F(VIRecordTest, ShortHeadersAreExtendedWithZerosAndLongOnesCut) {
  for (int32 size : {0, 4, 300, 451, 452, 500}) {
    Bytes f = RandomBytes(size_t(size), uInt32(size) + 7);
    UHandle h = nullptr;
    ASSERT_EQ(AZPtrToHand(f.data(), &h, size), kNoErr);
    ASSERT_EQ(VIHeaderFromStored(h), kNoErr);
    ASSERT_EQ(AZGetHandleSize(h), kVIHeaderSize);
    SwapVIHeader(*h);  // back to the stored order
    for (int32 i = 0; i < kVIHeaderSize; ++i)
      ASSERT_EQ((*h)[i], i < size ? f[size_t(i)] : 0) << "size " << size << " byte " << i;
    AZDisposeHandle(h);
  }
  EXPECT_EQ(VIHeaderFromStored(nullptr), kArgErr);
}

TEST_F(VIRecordTest, DatalogBindingSwapsAllWordsButTheSixth) {
  Bytes stored = RandomBytes(28, 99);
  Bytes b = stored;
  ASSERT_EQ(SwapDatalogBinding(b.data(), 28), kNoErr);
  for (int w = 0; w < 7; ++w) {
    uInt32 expect = w == 5 ? GetNative32(&stored[size_t(4 * w)]) : GetBE32(&stored[size_t(4 * w)]);
    EXPECT_EQ(GetNative32(&b[size_t(4 * w)]), expect) << "word " << w;
  }
  Bytes shorter = stored;
  EXPECT_EQ(SwapDatalogBinding(shorter.data(), 27), kArgErr);
  EXPECT_EQ(shorter, stored) << "a short record is left alone";
  EXPECT_EQ(SwapDatalogBinding(nullptr, 28), kArgErr);
}

TEST_F(VIRecordTest, VersionBoundariesCompareUnsignedAndTheRunTimeCheckSigned) {
  struct Case {
    uInt32 version;
    bool logTypes, dcos, aboveRunTime;
  };
  const Case cases[] = {
      {0x04502026, false, false, false}, {0x04502027, true, false, false}, {0x05008006, true, false, false},
      {0x05008007, true, true, false},   {0x05018003, true, true, false},  {0x05018004, true, true, true},
      {0x80000000, true, true, false},   {0x7FFFFFFF, true, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VIVersionAtLeast(c.version, kVersionStoresLogTypes), c.logTypes) << std::hex << c.version;
    EXPECT_EQ(VIVersionAtLeast(c.version, kVersionPanelDataControllers), c.dcos) << std::hex << c.version;
    EXPECT_EQ(VIVersionAboveRunTime(c.version), c.aboveRunTime) << std::hex << c.version;
  }
  EXPECT_EQ(kVIFlagsNotRunnable, uInt32(0x1F | 0x10000 | 0x400000));
  EXPECT_EQ(kVITypeHeapIndex, 104);
  EXPECT_EQ(kVIHeaderRsrcType, FourCC("QXIN"));
}

}  // namespace
