// Element counts and the core resize of array handles.
#include <gtest/gtest.h>

#include <climits>

#include "data_test_util.h"

using namespace tdb;
using namespace dtest;

namespace {

using ArraySizing = DataTest;

TEST_F(ArraySizing, BitLengthsAndElementCounts) {
  EXPECT_EQ(BitLength(0), 0);
  EXPECT_EQ(BitLength(1), 1);
  EXPECT_EQ(BitLength(-1), 1);
  EXPECT_EQ(BitLength(255), 8);
  EXPECT_EQ(BitLength(-256), 9);
  EXPECT_EQ(BitLength(INT_MAX), 31);
  EXPECT_EQ(BitLength(INT_MIN), 32);

  int32 tight[2] = {65535, 32767};
  EXPECT_EQ(NArrayElts(2, tight), -1) << "16 + 15 bits reach 31";
  int32 million[2] = {1000, 1000};
  EXPECT_EQ(NArrayElts(2, million), 1000000);
  int32 neg[1] = {-1};
  EXPECT_EQ(NArrayElts(1, neg), -1);
  EXPECT_EQ(NArrayElts(0, nullptr), 1);
  int32 zero[3] = {0, 7, 9};
  EXPECT_EQ(NArrayElts(3, zero), 0);
  int32 negLater[2] = {0, -4};
  EXPECT_EQ(NArrayElts(2, negLater), -1);
}

TEST_F(ArraySizing, ArrayResizeWritesTheSizes) {
  UHandle h = nullptr;
  int32 sizes[2] = {0, 5};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, Dims(sizes)), kNoErr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(DSGetHandleSize(h), 8);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{0, 5}));
  int32 grow[2] = {2, 3};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, Dims(grow)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 8 + 48);
  for (int i = 8; i < 56; ++i) EXPECT_EQ((*h)[i], 0);
  // The sizes may lie in the handle being resized, which then moves.
  int32 big[2] = {40, 50};
  std::memcpy(*h + 8, big, 8);
  ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, Dims(reinterpret_cast<int32*>(*h + 8))), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 8 + 8 * 2000);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{40, 50}));
  ASSERT_EQ(ArrayResize(StdTDTable[kTDDBL], 2, &h, nullptr), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{0, 0}));
  EXPECT_EQ(DSGetHandleSize(h), 8);
  DSDisposeHandle(h);
}

// Compiled code passes another array's handle as the list: the handle is the
// address of a pointer to its header.
TEST_F(ArraySizing, AnArraysHandleIsAListOfItsSizes) {
  UHandle src = nullptr, dst = nullptr;
  int32 sizes[2] = {3, 4};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 2, &src, Dims(sizes)), kNoErr);
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 2, &dst, reinterpret_cast<int32**>(src)), kNoErr);
  EXPECT_EQ(Sizes(dst, 2), (std::vector<int32>{3, 4}));
  EXPECT_EQ(DSGetHandleSize(dst), 8 + 24);
  // Its own handle: the sizes stand, also when the block moves.
  int32 big[2] = {300, 400};
  std::memcpy(*dst, big, 8);
  ASSERT_EQ(ArrayResizeElts(StdTDTable[kTDI16], 2, &dst, 12), kArgErr) << "the sizes claim more than is held";
  std::memcpy(*dst, sizes, 8);
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 2, &dst, reinterpret_cast<int32**>(dst)), kNoErr);
  EXPECT_EQ(Sizes(dst, 2), (std::vector<int32>{3, 4}));
  EXPECT_EQ(DSGetHandleSize(dst), 8 + 24);
  // A null pointer behind the address is no list.
  int32* none = nullptr;
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 2, &dst, &none), kNoErr);
  EXPECT_EQ(Sizes(dst, 2), (std::vector<int32>{0, 0}));
  EXPECT_EQ(DSGetHandleSize(dst), 8);
  // A rank outside 0 to 0x7FFF is reported and refused.
  ClearReports();
  std::vector<uChar> before(*dst, *dst + 8);
  EXPECT_EQ(ArrayResize(StdTDTable[kTDI16], -1, &dst, nullptr), kArgErr);
  EXPECT_EQ(ArrayResize(StdTDTable[kTDI16], 0x8000, &dst, nullptr), kArgErr);
  EXPECT_EQ(ArrayResizeElts(StdTDTable[kTDI16], 0x8000, &dst, 1), kArgErr);
  EXPECT_EQ(DataFailures(), 3);
  EXPECT_EQ(std::vector<uChar>(*dst, *dst + DSGetHandleSize(dst)), before);
  DSDisposeHandle(src);
  DSDisposeHandle(dst);
}

TEST_F(ArraySizing, SizesThatCannotBeAreRefusedWithNothingChanged) {
  UHandle h = nullptr;
  int32 one[1] = {1};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI32], 1, &h, Dims(one)), kNoErr);
  int32 neg[1] = {-3};
  EXPECT_EQ(ArrayResize(StdTDTable[kTDI32], 1, &h, Dims(neg)), kMemFullErr);
  EXPECT_EQ(I32At(h, 0), 1);
  EXPECT_EQ(DSGetHandleSize(h), 8);
  int32 over[2] = {65536, 32768};
  EXPECT_EQ(ArrayResize(StdTDTable[kTDU8], 2, &h, Dims(over)), kMemFullErr);
  EXPECT_EQ(I32At(h, 0), 1);
  DSDisposeHandle(h);
}

TEST_F(ArraySizing, ResizeEltsLimitsAndCounts) {
  UHandle h = nullptr;
  EXPECT_EQ(ArrayResizeElts(StdTDTable[kTDI32], 1, &h, -2), kMemFullErr);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(ArrayResizeElts(StdTDTable[kTDI32], 1, &h, 0x10000000), kMemFullErr) << "1 GiB of elements";
  ASSERT_EQ(ArrayResizeElts(StdTDTable[kTDI32], 1, &h, -1), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 4);
  EXPECT_EQ(ArrayResizeElts(StdTDTable[27], 1, &h, 1), kArgErr) << "an array of arrays";
  EXPECT_GE(DataFailures(), 1);
  // Elements of size 0 take no room, whatever their count.
  ASSERT_EQ(ArrayResizeElts(StdTDTable[kStdTDVoid], 1, &h, 0x7FFFFFFF), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 4);
  DSDisposeHandle(h);
}

TEST_F(ArraySizing, ACorruptHeaderLeavesTheArrayAsItIs) {
  // Two strings under sizes that are negative, overflow, or claim more
  // elements than the handle holds: growing or shrinking gives 1, reported,
  // and neither string is touched.
  Built strings(Array(String(), {kTDVariable, kTDVariable}));
  for (std::vector<int32> sizes : {std::vector<int32>{-1, 2}, {65536, 32768}, {2, 3}}) {
    UHandle h = DSNewHClr(8 + 8);
    PutStr(*h + 8, "one");
    PutStr(*h + 12, "two");
    std::memcpy(*h, sizes.data(), 8);
    std::vector<uChar> before(*h, *h + 16);
    ClearReports();
    for (int32 count : {1, 4}) {
      EXPECT_EQ(ArrayResizeElts(StdTDTable[kStdTDString], 2, &h, count), kArgErr) << sizes[0] << " " << count;
      EXPECT_EQ(std::vector<uChar>(*h, *h + DSGetHandleSize(h)), before);
    }
    EXPECT_EQ(DataFailures(), 2);
    EXPECT_EQ(StrAt(*h + 8), "one");
    EXPECT_EQ(StrAt(*h + 12), "two");
    int32 two[2] = {1, 2};
    std::memcpy(*h, two, 8);
    DisposeData(strings.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);
  }
}

// Shrinking an array of strings disposes the removed strings first; when the
// memory manager then fails to give back their room, the shrink stands with
// the room kept, and the array disposes without a leak.
TEST_F(ArraySizing, AShrinkStandsWhenTheRoomCannotBeGivenBack) {
  UHandle strs = nullptr;
  int32 three[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &strs, Dims(three)), kNoErr);
  for (int i = 0; i < 3; ++i) PutStr(*strs + 4 + 4 * i, "element");
  int32 live = LiveHandles();
  int32 one[1] = {1};
  MemFailNthAllocation(1);
  EXPECT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &strs, Dims(one)), kNoErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(LiveHandles(), live - 2);
  EXPECT_EQ(I32At(strs, 0), 1);
  EXPECT_EQ(DSGetHandleSize(strs), 16) << "the room stays";
  EXPECT_EQ(StrAt(*strs + 4), "element");
  // Flat elements are untouched when the size change fails.
  UHandle dbl = nullptr;
  ASSERT_EQ(ArrayResizeElts(StdTDTable[kTDDBL], 1, &dbl, 3), kNoErr);
  MemFailNthAllocation(1);
  EXPECT_EQ(ArrayResizeElts(StdTDTable[kTDDBL], 1, &dbl, 1), kMemFullErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(DSGetHandleSize(dbl), 4 + 24);
  DSDisposeHandle(dbl);
  DisposeData(StdTDTable[25], reinterpret_cast<uChar*>(&strs), reinterpret_cast<uChar*>(&strs) + 4);
}

TEST_F(ArraySizing, GrowingClearsAndShrinkingDisposes) {
  UHandle h = DSNewHandle(4 + 12);
  std::memset(*h, 0x6B, 16);
  int32 one = 1;
  std::memcpy(*h, &one, 4);
  // Bytes past the first element are stale: the new elements are zeros.
  ASSERT_EQ(ArrayResizeElts(StdTDTable[kTDI32], 1, &h, 4), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 20);
  EXPECT_EQ(I32At(h, 4), 0x6B6B6B6B);
  for (int i = 8; i < 20; ++i) EXPECT_EQ((*h)[i], 0) << i;
  DSDisposeHandle(h);

  UHandle strs = nullptr;
  int32 three[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &strs, Dims(three)), kNoErr);
  for (int i = 0; i < 3; ++i) PutStr(*strs + 4 + 4 * i, "element");
  int32 one1[1] = {1};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &strs, Dims(one1)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(strs), 8);
  EXPECT_EQ(StrAt(*strs + 4), "element");
  DisposeData(StdTDTable[25], reinterpret_cast<uChar*>(&strs), reinterpret_cast<uChar*>(&strs) + 4);
}

}  // namespace
