#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "mgsource/blockmove.h"
#include "test_support.h"

namespace {

TEST(BlockMove, OverlappingMovesEqualMemmoveInBothDirections) {
  uInt8 ref[128], got[128];
  for (int srcOff = 0; srcOff < 8; ++srcOff)
    for (int delta = -9; delta <= 9; ++delta)
      for (int count = 0; count <= 40; ++count) {
        int dstOff = 20 + srcOff + delta;
        for (int i = 0; i < 128; ++i) ref[i] = got[i] = uInt8(i * 13 + 1);
        std::memmove(ref + dstOff, ref + 20 + srcOff, size_t(count));
        MoveBlock(got + 20 + srcOff, got + dstOff, count);
        ASSERT_EQ(std::memcmp(ref, got, sizeof ref), 0)
            << "src " << srcOff << " delta " << delta << " count " << count;
      }
}

TEST(BlockMove, OneByteShiftsDuplicateTheEdgeByte) {
  uInt8 b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MoveBlock(b, b + 1, 5);
  const uInt8 up[8] = {1, 1, 2, 3, 4, 5, 7, 8};
  EXPECT_EQ(std::memcmp(b, up, 8), 0);
  uInt8 c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MoveBlock(c + 1, c, 5);
  const uInt8 down[8] = {2, 3, 4, 5, 6, 6, 7, 8};
  EXPECT_EQ(std::memcmp(c, down, 8), 0);
}

TEST(BlockMove, ZeroCountsDoNothingAndClearZeroesExactly) {
  uInt8 b[16];
  std::memset(b, 0x77, sizeof b);
  MoveBlock(b + 4, b, 0);
  ClearMem(b, 0);
  for (uInt8 x : b) EXPECT_EQ(x, 0x77);
  for (int off = 0; off < 4; ++off)
    for (int n = 0; n <= 11; ++n) {
      std::memset(b, 0x77, sizeof b);
      ClearMem(b + off, n);
      for (int i = 0; i < 16; ++i) ASSERT_EQ(b[i], (i >= off && i < off + n) ? 0 : 0x77) << off << "," << n;
    }
}

TEST(BlockMove, SwapBlockBytewiseAndByWords) {
  uInt8 a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {9, 8, 7, 6, 5, 4};
  SwapBlock(a, b, 6);
  const uInt8 ea[6] = {9, 8, 7, 6, 5, 4}, eb[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(std::memcmp(a, ea, 6), 0);
  EXPECT_EQ(std::memcmp(b, eb, 6), 0);
  alignas(4) uInt32 x[2] = {0x11111111, 0x22222222}, y[2] = {0x33333333, 0x44444444};
  SwapBlock(x, y, 8);
  EXPECT_EQ(x[0], 0x33333333u);
  EXPECT_EQ(x[1], 0x44444444u);
  EXPECT_EQ(y[0], 0x11111111u);
  EXPECT_EQ(y[1], 0x22222222u);
}

TEST(BlockMove, TestAndSetSetsBitZeroOnly) {
  volatile int32 w = 0;
  EXPECT_EQ(TestAndSet(&w), 0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(TestAndSet(&w), 1);
  w = 0x40;
  EXPECT_EQ(TestAndSet(&w), 0);
  EXPECT_EQ(w, 0x41);
}

TEST(BlockMoveThreads, ExactlyOneRacingThreadGetsZero) {
  for (int round = 0; round < Scaled(100); ++round) {
    volatile int32 w = 0;
    std::atomic<int> zeros{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> ts;
    for (int i = 0; i < 8; ++i)
      ts.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        if (TestAndSet(&w) == 0) ++zeros;
      });
    go = true;
    for (auto& t : ts) t.join();
    ASSERT_EQ(zeros.load(), 1);
  }
}

TEST(BlockMove, FPUSetNearestRestoresRoundToNearest) {
  uInt16 cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  uInt16 down = uInt16((cw & ~0x0C00) | 0x0400);
  __asm__ __volatile__("fldcw %0" : : "m"(down));
  EXPECT_EQ(FPUSetNearest(), 1);
  uInt16 now;
  __asm__ __volatile__("fnstcw %0" : "=m"(now));
  EXPECT_EQ(now & 0x0C00, 0);
  EXPECT_EQ(now >> 8, 0x13);
  EXPECT_EQ(now & 0xFF, cw & 0xFF) << "exception masks kept";
  EXPECT_EQ(FPUSetNearest(), 0);
  __asm__ __volatile__("fldcw %0" : : "m"(cw));
}

TEST(BlockMove, CheckFPStatReadsTheStatusWord) {
  __asm__ __volatile__("fnclex");
  EXPECT_EQ(CheckFPStat() & 0x3F, 0) << "no exception flags after clearing them";
  // A masked division by zero sets the zero-divide flag (bit 2); one value
  // left on the register stack moves its top (bits 11 to 13) from 0 to 7.
  int32 top0 = (CheckFPStat() >> 11) & 7;
  __asm__ __volatile__("fld1\n\tfldz\n\tfdivrp %%st, %%st(1)" ::: "st");
  int32 st = CheckFPStat();
  EXPECT_EQ(st & 4, 4) << std::hex << st;
  EXPECT_EQ((st >> 11) & 7, (top0 + 7) & 7) << std::hex << st;
  __asm__ __volatile__("fstp %%st(0)\n\tfnclex" ::: "st");
  st = CheckFPStat();
  EXPECT_EQ(st & 4, 0);
  EXPECT_EQ((st >> 11) & 7, top0);
}

std::atomic<int> gAlertCalls{0};
MgErr CountingInvalidLibraryAlert() {
  ++gAlertCalls;
  return kNoErr;
}

TEST(BlockMove, LoadLibrary16StubCallsTheShellAlertAndReturnsZero) {
  EXPECT_EQ(LoadLibrary16Stub(123), 0);
  SetInvalidLibraryAlertHook(CountingInvalidLibraryAlert);
  EXPECT_EQ(LoadLibrary16Stub(0), 0);
  EXPECT_EQ(gAlertCalls.load(), 1);
  SetInvalidLibraryAlertHook(nullptr);
}

}  // namespace
