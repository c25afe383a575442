#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "emulation.h"
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

namespace {
// The permissions ("r-xp", "rwxp" ...) of the mapping holding p.
std::string MappingPerms(const void* p) {
  FILE* f = std::fopen("/proc/self/maps", "r");
  if (!f) return "";
  char line[512];
  std::string perms;
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  while (std::fgets(line, sizeof line, f)) {
    unsigned long lo = 0, hi = 0;
    char pr[8] = {};
    if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, pr) == 3 && a >= lo && a < hi) {
      perms = pr;
      break;
    }
  }
  std::fclose(f);
  return perms;
}
}  // namespace

// Sealed code runs and cannot be written; opened for a patch it can be
// written and still runs; restored it is sealed again.
TEST(PlatformVMem, CodeIsWritableOnlyBetweenMakeWritableAndRestore) {
  const uint32_t size = 3 * kPlatPageSize;
  auto* code = static_cast<unsigned char*>(PlatCodeAlloc(size));
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(MappingPerms(code), "rwxp") << "a new block is filled in place";
  unsigned char* last = code + size - 6;
  // mov eax, 7; ret
  const unsigned char body[] = {0xB8, 7, 0, 0, 0, 0xC3};
  std::memcpy(last, body, sizeof body);
  ASSERT_TRUE(PlatCodeRestore(code, size));
  EXPECT_EQ(MappingPerms(code), "r-xp");
  EXPECT_EQ(MappingPerms(last), "r-xp");
  EXPECT_EQ(reinterpret_cast<int (*)()>(last)(), 7);

  // Only the pages of the range open.
  ASSERT_TRUE(PlatCodeMakeWritable(last + 1, 4));
  EXPECT_EQ(MappingPerms(last), "rwxp");
  EXPECT_EQ(MappingPerms(code), "r-xp");
  last[1] = 9;
  EXPECT_EQ(reinterpret_cast<int (*)()>(last)(), 9);
  ASSERT_TRUE(PlatCodeRestore(last + 1, 4));
  EXPECT_EQ(MappingPerms(last), "r-xp");

  EXPECT_FALSE(PlatCodeMakeWritable(nullptr, 4));
  EXPECT_FALSE(PlatCodeRestore(nullptr, 4));
  PlatCodeFree(code, size);
}

TEST(PlatformVMemDeathTest, SealedCodeRefusesWrites) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto* code = static_cast<volatile unsigned char*>(PlatCodeAlloc(kPlatPageSize));
  ASSERT_NE(code, nullptr);
  ASSERT_TRUE(PlatCodeRestore(const_cast<unsigned char*>(code), kPlatPageSize));
  EXPECT_DEATH(code[10] = 1, "");
  PlatCodeFree(const_cast<unsigned char*>(code), kPlatPageSize);
}

// A word written into loaded code leaves every page it touches with the
// access it had, and a page that is not mapped is refused.
TEST(PlatformVMem, CodeWordWriteKeepsEachPagesAccess) {
  const uint32_t size = 2 * kPlatPageSize;
  auto* code = static_cast<unsigned char*>(PlatCodeAlloc(size));
  ASSERT_NE(code, nullptr);
  unsigned char* second = code + kPlatPageSize;
  struct Case {
    const char* what;
    int firstProt, secondProt;  // -1: leave as allocated (rwx)
    uint32_t offset;            // of the word from the block's start
    const char* firstPerms;
    const char* secondPerms;
  };
  const Case cases[] = {
      {"writable code stays writable", -1, -1, 100, "rwxp", "rwxp"},
      {"sealed code is sealed again", PROT_READ | PROT_EXEC, PROT_READ | PROT_EXEC, 200, "r-xp", "r-xp"},
      {"read-only data stays read-only", PROT_READ, PROT_READ, 300, "r--p", "r--p"},
      {"a word across a sealed and a writable page", PROT_READ | PROT_EXEC, -1, kPlatPageSize - 2, "r-xp",
       "rwxp"},
      {"a word across a writable and a sealed page", -1, PROT_READ | PROT_EXEC, kPlatPageSize - 1, "rwxp",
       "r-xp"},
  };
  uint32_t value = 0x11223344;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(mprotect(code, size, PROT_READ | PROT_WRITE | PROT_EXEC), 0);
    if (c.firstProt >= 0) {
      ASSERT_EQ(mprotect(code, kPlatPageSize, c.firstProt), 0);
    }
    if (c.secondProt >= 0) {
      ASSERT_EQ(mprotect(second, kPlatPageSize, c.secondProt), 0);
    }
    ++value;
    EXPECT_TRUE(PlatCodeWriteWord(code + c.offset, value));
    uint32_t read = 0;
    std::memcpy(&read, code + c.offset, 4);
    EXPECT_EQ(read, value);
    EXPECT_EQ(MappingPerms(code), c.firstPerms);
    EXPECT_EQ(MappingPerms(second), c.secondPerms);
  }
  ASSERT_EQ(mprotect(code, size, PROT_READ | PROT_WRITE | PROT_EXEC), 0);
  PlatCodeFree(code, size);
  // Reserved address space without access is no code: nothing is written.
  auto* reserved = static_cast<unsigned char*>(PlatReserve(kPlatRegionUnit));
  ASSERT_NE(reserved, nullptr);
  EXPECT_FALSE(PlatCodeWriteWord(reserved + 8, 1));
  // The emulator lists no mapping without access in its view of the maps.
  if (!qxtest::UnderUserModeEmulation()) { EXPECT_EQ(MappingPerms(reserved), "---p"); }
  PlatRelease(reserved, kPlatRegionUnit);
  EXPECT_FALSE(PlatCodeWriteWord(nullptr, 1));
}
