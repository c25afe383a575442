#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/qx_mutex.h"
#include "platform/qx_time.h"
#include "platform/qx_vmem.h"

TEST(PlatformVMem, ReservationsAre64KAlignedAndCommitZeroes) {
  for (uint32_t size : {1u, 4096u, 65535u, 65536u, 200000u}) {
    void* p = PlatReserve(size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) & 0xFFFF, 0u);
    ASSERT_TRUE(PlatCommit(p, size));
    auto* b = static_cast<unsigned char*>(p);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[size - 1], 0);
    std::memset(b, 0xAB, size);
    ASSERT_TRUE(PlatDecommit(p, size));
    ASSERT_TRUE(PlatCommit(p, size));
    EXPECT_EQ(b[0], 0) << "decommitted pages come back zeroed";
    PlatRelease(p, size);
  }
}

TEST(PlatformVMem, FailHookFailsExactlyTheNextReservations) {
  PlatFailNextReservations(2);
  EXPECT_EQ(PlatReserve(4096), nullptr);
  EXPECT_EQ(PlatReserve(4096), nullptr);
  void* p = PlatReserve(4096);
  EXPECT_NE(p, nullptr);
  PlatRelease(p, 4096);
}

TEST(PlatformMutex, RecursionDepthIsReleasedAndRestored) {
  PlatRecMutex m;
  PlatRecMutexInit(&m);
  PlatRecMutexLock(&m);
  PlatRecMutexLock(&m);
  PlatRecMutexLock(&m);
  EXPECT_TRUE(PlatRecMutexOwned(&m));
  int32_t depth = PlatRecMutexReleaseAll(&m);
  EXPECT_EQ(depth, 3);
  EXPECT_FALSE(PlatRecMutexOwned(&m));
  PlatRecMutexReacquire(&m, depth);
  EXPECT_EQ(m.depth, 3);
  for (int i = 0; i < 3; ++i) PlatRecMutexUnlock(&m);
  EXPECT_FALSE(PlatRecMutexOwned(&m));
  EXPECT_EQ(m.state, 0);
  PlatRecMutexDestroy(&m);
}

TEST(PlatformTime, TickStartsNearOneThousand) {
  uint32_t t = PlatTickMs();
  EXPECT_GE(t, 1000u);
  EXPECT_LT(t, 1000u + 600000u);
  PlatTickShift(5000);
  EXPECT_GE(PlatTickMs(), t + 5000);
  PlatTickShift(-5000);
}
