#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/pool.h"
#include "platform/qx_vmem.h"
#include "test_support.h"

namespace {

class Memory : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    MemFullReset();
  }
};

TEST_F(Memory, HandlesOfSizeZeroAreValidAndAligned) {
  for (bool ds : {false, true}) {
    UHandle h = ds ? DSNewHandle(0) : AZNewHandle(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ds ? DSCheckHandle(h) : AZCheckHandle(h), kNoErr);
    EXPECT_EQ(ds ? DSGetHandleSize(h) : AZGetHandleSize(h), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(*h) & 3, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(h) & 3, 0u);
    EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kNoErr);
  }
  UPtr p = AZNewPtr(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(AZCheckPtr(p), kNoErr);
  EXPECT_EQ(AZDisposePtr(p), kNoErr);
}

TEST_F(Memory, ResizingKeepsDataAndClearingZeroesOnlyAddedBytes) {
  UHandle h = AZNewHandle(10);
  for (int i = 0; i < 10; ++i) (*h)[i] = uInt8(i + 1);
  UPtr before = *h;
  EXPECT_EQ(AZSetHandleSize(h, 10), kNoErr);
  EXPECT_EQ(*h, before) << "same size keeps the address";
  for (int32 n : {100, 5000, 40000, 7, 20}) {
    ASSERT_EQ(AZSetHandleSize(h, n), kNoErr);
    EXPECT_EQ(AZGetHandleSize(h), n);
    for (int i = 0; i < 7; ++i) ASSERT_EQ((*h)[i], uInt8(i + 1));
  }
  // Fill, shrink, then grow with clearing: exactly the added bytes are zero.
  std::memset(*h, 0xAA, 20);
  ASSERT_EQ(AZSetHandleSize(h, 8), kNoErr);
  ASSERT_EQ(AZSetHSzClr(h, 16), kNoErr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ((*h)[i], 0xAA);
  for (int i = 8; i < 16; ++i) EXPECT_EQ((*h)[i], 0);
  UHandle d = DSNewHandle(4);
  std::memset(*d, 0xBB, 4);
  ASSERT_EQ(DSSetHandleSize(d, 2), kNoErr);
  ASSERT_EQ(DSSetHSzClr(d, 30000), kNoErr);
  EXPECT_EQ((*d)[1], 0xBB);
  for (int i = 2; i < 30000; ++i) ASSERT_EQ((*d)[i], 0) << i;
  AZDisposeHandle(h);
  DSDisposeHandle(d);
}

// A large handle resized by steps that keep, cross and leave its committed
// 4 KB pages: its bytes stay, the added ones are zero when cleared, its data
// stays aligned, and it keeps its place while its pages hold the new size.
TEST_F(Memory, LargeHandleResizedAcrossPageBoundaries) {
  constexpr int32 kPage = 4096, kOver = 16 + 28;  // handle header, page header
  auto pages = [&](int32 n) { return (n + kOver + kPage - 1) / kPage; };
  struct Step {
    int32 n;
    bool clear;
  };
  const Step steps[] = {{100000, false}, {100500, true},  {102400 - kOver, true}, {102401 - kOver, true},
                        {102400 - kOver, false}, {90000, true}, {16000, false}, {20000, true},
                        {300000, true}, {17000, false}};
  UHandle h = DSNewHandle(steps[0].n);
  ASSERT_NE(h, nullptr);
  int32 size = steps[0].n;
  auto fill = [&](int32 n) {
    for (int32 i = 0; i < n; ++i) (*h)[i] = uInt8(i * 7 + 1);
  };
  fill(size);
  for (const Step& s : steps) {
    UPtr before = *h;
    ASSERT_EQ(s.clear ? DSSetHSzClr(h, s.n) : DSSetHandleSize(h, s.n), kNoErr) << s.n;
    EXPECT_EQ(DSGetHandleSize(h), s.n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(*h) & 3, 0u) << s.n;
    if (size > 16384 && s.n > 16384 && pages(size) == pages(s.n)) {
      EXPECT_EQ(*h, before) << s.n;
    }
    const int32 kept = size < s.n ? size : s.n;
    for (int32 i = 0; i < kept; ++i) ASSERT_EQ((*h)[i], uInt8(i * 7 + 1)) << s.n << " at " << i;
    for (int32 i = kept; s.clear && i < s.n; ++i) ASSERT_EQ((*h)[i], 0) << s.n << " at " << i;
    fill(s.n);
    size = s.n;
  }
  EXPECT_EQ(DSHeapCheck(0), kNoErr);
  EXPECT_EQ(DSDisposeHandle(h), kNoErr);
}

TEST_F(Memory, CopiesAppendsAndRecovery) {
  for (bool ds : {false, true}) {
    const char text[] = "hello, world";
    UHandle h = nullptr;
    ASSERT_EQ(ds ? DSPtrToHand(text, &h, 5) : AZPtrToHand(text, &h, 5), kNoErr);
    ASSERT_EQ(ds ? DSPtrAndHand(text + 5, h, 7) : AZPtrAndHand(text + 5, h, 7), kNoErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(*h), 12), "hello, world");
    UHandle copy = h;
    ASSERT_EQ(ds ? DSHandToHand(&copy) : AZHandToHand(&copy), kNoErr);
    EXPECT_NE(copy, h);
    EXPECT_EQ(std::memcmp(*copy, *h, 12), 0);
    ASSERT_EQ(ds ? DSHandAndHand(h, copy) : AZHandAndHand(h, copy), kNoErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(*copy), 24), "hello, worldhello, world");
    ASSERT_EQ(ds ? DSHandAndHand(copy, copy) : AZHandAndHand(copy, copy), kNoErr) << "appending to itself";
    EXPECT_EQ(ds ? DSGetHandleSize(copy) : AZGetHandleSize(copy), 48);
    EXPECT_EQ(std::memcmp(*copy + 24, *copy, 24), 0);
    ASSERT_EQ(ds ? DSPtrToXHand("xyz", h, 3) : AZPtrToXHand("xyz", h, 3), kNoErr);
    EXPECT_EQ(ds ? DSGetHandleSize(h) : AZGetHandleSize(h), 3);
    EXPECT_EQ(std::memcmp(*h, "xyz", 3), 0);
    EXPECT_EQ(ds ? DSRecoverHandle(*h) : AZRecoverHandle(*h), h);
    (ds ? DSDisposeHandle : AZDisposeHandle)(h);
    (ds ? DSDisposeHandle : AZDisposeHandle)(copy);
  }
  UHandle a = AZNewHandle(6);
  std::memcpy(*a, "abcdef", 6);
  UHandle moved = a;
  ASSERT_EQ(AZHandToDSHand(&moved), kNoErr);
  EXPECT_EQ(DSCheckHandle(moved), kNoErr);
  EXPECT_EQ(AZCheckHandle(a), kZoneErr) << "the AZ handle is gone";
  EXPECT_EQ(std::memcmp(*moved, "abcdef", 6), 0);
  DSDisposeHandle(moved);
}

TEST_F(Memory, LockAndStateWords) {
  UHandle h = AZNewHandle(4);
  EXPECT_EQ(AZHGetState(h), 0);
  EXPECT_EQ(AZHLock(h), kNoErr);
  EXPECT_EQ(AZHGetState(h) & 1, 1);
  AZHSetState(h, 0x80);
  EXPECT_EQ(AZHGetState(h), 0x80);
  EXPECT_EQ(AZHUnlock(h), kNoErr);
  EXPECT_EQ(AZHGetState(h), 0x80);
  // The state moves with the block.
  AZHSetState(h, 0x81);
  AZSetHandleSize(h, 60000);
  EXPECT_EQ(AZHGetState(h), 0x81);
  EXPECT_EQ(AZRecoverHandle(*h), h);
  AZDisposeHandle(h);
  EXPECT_EQ(AZHLock(h), kZoneErr);
  EXPECT_EQ(AZIsHandle(h), 0);
}

TEST_F(Memory, WrongZoneAndBadValuesAreRejectedWithOneReportEach) {
  Capture cap;
  UHandle az = AZNewHandle(8);
  UHandle ds = DSNewHandle(8);
  EXPECT_EQ(DSGetHandleSize(az), -1);
  EXPECT_EQ(DSDisposeHandle(az), kZoneErr);
  EXPECT_EQ(DSSetHandleSize(az, 4), kZoneErr);
  EXPECT_EQ(AZGetHandleSize(ds), -1);
  EXPECT_EQ(AZDisposeHandle(ds), kZoneErr);
  EXPECT_EQ(AZSetHSzClr(ds, 4), kZoneErr);
  EXPECT_EQ(cap.Count("Error #3"), 6);
  cap.Clear();
  // Checks and locks are silent.
  EXPECT_EQ(DSCheckHandle(az), kZoneErr);
  EXPECT_EQ(AZCheckHandle(ds), kZoneErr);
  EXPECT_EQ(AZHLock(ds), kZoneErr);
  EXPECT_EQ(AZDisposePtr(nullptr), kArgErr);
  EXPECT_EQ(AZCheckPtr(nullptr), kZoneErr);
  EXPECT_EQ(DSCheckPtr(nullptr), kZoneErr);
  EXPECT_EQ(AZIsHandle(nullptr), 0);
  EXPECT_EQ(cap.Count("Error #"), 0);
  // A disposed handle, a handle's data address, odd values, a stack address.
  UHandle gone = AZNewHandle(4);
  AZDisposeHandle(gone);
  int local = 0;
  for (const void* bad : {static_cast<const void*>(gone), static_cast<const void*>(*az),
                          static_cast<const void*>(reinterpret_cast<uInt8*>(az) + 1),
                          static_cast<const void*>(reinterpret_cast<uInt8*>(az) + 2),
                          static_cast<const void*>(&local), static_cast<const void*>(nullptr)}) {
    EXPECT_EQ(AZCheckHandle(bad), kZoneErr);
    EXPECT_EQ(AZDisposeHandle(reinterpret_cast<UHandle>(const_cast<void*>(bad))), kZoneErr);
  }
  EXPECT_EQ(cap.Count("Error #3"), 6);
  EXPECT_EQ(AZGetHandleSize(az), 8) << "nothing changed";
  AZDisposeHandle(az);
  DSDisposeHandle(ds);
}

TEST_F(Memory, HugeAndNegativeSizesFailAsExhaustedMemory) {
  EXPECT_EQ(AZNewPtr(int32(0x80000000u)), nullptr);
  int32 rec[4] = {-1, -1, -1, -1};
  EXPECT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(rec[1], int32(0x80000000u));
  EXPECT_EQ(rec[0], 0);
  EXPECT_EQ(rec[3], 0);
  MemFullReset();
  EXPECT_EQ(DSNewHandle(int32(0xFFFFFFF0u)), nullptr);
  EXPECT_EQ(MemFullPending(nullptr), 1);
  MemFullReset();
  UHandle h = DSNewHandle(5);
  std::memcpy(*h, "abcde", 5);
  EXPECT_EQ(DSSetHandleSize(h, -1), kArgErr);
  EXPECT_EQ(DSSetHSzClr(h, -1), kArgErr);
  UHandle one = AZNewHandle(1);
  EXPECT_EQ(AZSetHandleSize(one, -5), kArgErr);
  AZDisposeHandle(one);
  EXPECT_EQ(DSGetHandleSize(h), 5);
  EXPECT_EQ(std::memcmp(*h, "abcde", 5), 0);
  EXPECT_EQ(MemFullPending(nullptr), 0) << "a bad argument is no memory failure";
  DSDisposeHandle(h);
}

TEST_F(Memory, RecoverHandleChecksTheBackLink) {
  Capture cap;
  UHandle h = AZNewHandle(32);
  EXPECT_EQ(AZRecoverHandle(*h), h);
  EXPECT_EQ(DSRecoverHandle(*h), nullptr) << "the back link names another zone";
  EXPECT_EQ(AZRecoverHandle(*h + 4), nullptr);
  UPtr p = AZNewPtr(64);
  std::memset(p, 0, 64);
  EXPECT_EQ(AZRecoverHandle(p + 16), nullptr) << "zeros are no back link";
  int local[8] = {};
  EXPECT_EQ(AZRecoverHandle(&local[4]), nullptr) << "no allocator block behind a stack address";
  EXPECT_EQ(AZRecoverHandle(nullptr), nullptr);
  EXPECT_EQ(cap.Count("Error #3"), 1) << "only the NULL pointer is an invalid-handle report";
  AZDisposePtr(p);
  AZDisposeHandle(h);
}

TEST_F(Memory, MasterPointersComeTenThousandAtATimeAndAreReusedLastInFirstOut) {
  int32 blocks0, free0;
  MemZoneCounts(1, &blocks0, &free0);
  std::vector<UHandle> hs;
  for (int32 i = 0; i < free0; ++i) hs.push_back(DSNewHandle(0));
  int32 blocks1, free1;
  MemZoneCounts(1, &blocks1, &free1);
  EXPECT_EQ(free1, 0);
  EXPECT_EQ(blocks1, blocks0);
  hs.push_back(DSNewHandle(0));
  int32 blocks2, free2;
  MemZoneCounts(1, &blocks2, &free2);
  EXPECT_EQ(blocks2, blocks0 + 1);
  EXPECT_EQ(free2, 9999);
  UHandle victim = hs[123];
  DSDisposeHandle(victim);
  UHandle again = DSNewHandle(3);
  EXPECT_EQ(again, victim) << "the free chain is last in, first out";
  hs[123] = again;
  EXPECT_EQ(DSHeapCheck(0), kNoErr);
  for (UHandle h : hs) ASSERT_EQ(DSDisposeHandle(h), kNoErr);
  int32 blocks3, free3;
  MemZoneCounts(1, &blocks3, &free3);
  EXPECT_EQ(free3, free0 + 10000);
  EXPECT_EQ(DSMoreMasters(), kNoErr);
  MemZoneCounts(1, &blocks3, &free3);
  EXPECT_EQ(blocks3, blocks0 + 2);
}

TEST_F(Memory, HeapCheckPrintsThreeLinesAndStatsCarryThePoolSize) {
  Capture cap;
  EXPECT_EQ(AZHeapCheck(1), kNoErr);
  std::string out = cap.Debug();
  EXPECT_NE(out.find("Free: totSize 0, maxSize 0, nBlocks 0"), std::string::npos) << out;
  EXPECT_NE(out.find("Allocated: totSize "), std::string::npos);
  EXPECT_NE(out.find("    nPointers 0, nUnlockedHdls 0, nLockedHdls 0"), std::string::npos);
  MemStatsRecord st;
  EXPECT_EQ(DSMemStats(&st), kNoErr);
  EXPECT_EQ(st.allocTotal, int32(PoolSize(PoolInitDefault())));
  EXPECT_EQ(st.minusOne, -1);
  EXPECT_NE(st.zone, nullptr);
  EXPECT_EQ(st.freeTotal, 0);
  EXPECT_EQ(AZMaxMem(), 0);
  EXPECT_EQ(DSMaxMem(), 0);
}

TEST_F(Memory, CheckingModeIsToggledWithADebugLine) {
  Capture cap;
  EXPECT_EQ(MemCheckingOn(), 0);
  MemToggleChecking();
  EXPECT_EQ(MemCheckingOn(), 1);
  UHandle h = AZNewHandle(12);  // runs the heap check and the chain check
  UPtr p = AZNewPtr(12);
  EXPECT_EQ(AZCompact(), kNoErr);
  MemToggleChecking();
  EXPECT_EQ(MemCheckingOn(), 0);
  std::string out = cap.Debug();
  EXPECT_NE(out.find("turning memory checking on"), std::string::npos);
  EXPECT_NE(out.find("turning memory checking off"), std::string::npos);
  EXPECT_NE(out.find("Free: totSize"), std::string::npos) << "AZCompact printed the heap check";
  EXPECT_EQ(cap.Count("Failure"), 0);
  AZDisposeHandle(h);
  AZDisposePtr(p);
  AZRequestCompact();
  EXPECT_EQ(MemCompactRequested(), 1);
  EXPECT_EQ(MemCompactRequested(), 0);
}

// A CPStr list in an AZ handle.
CPStrHandle MakeList(const std::vector<std::string>& items) {
  std::vector<uInt8> bytes(4, 0);
  int32 n = int32(items.size());
  std::memcpy(bytes.data(), &n, 4);
  for (auto& s : items) {
    bytes.push_back(uInt8(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  UHandle h = nullptr;
  EXPECT_EQ(AZPtrToHand(bytes.data(), &h, int32(bytes.size())), kNoErr);
  return reinterpret_cast<CPStrHandle>(h);
}

TEST_F(Memory, FirstFailedSizeIsKeptAndTheAlertShowsItOnce) {
  Capture cap;
  PlatFailNextReservations(2);
  EXPECT_EQ(AZNewPtr(100000), nullptr);
  EXPECT_EQ(DSNewHandle(200000), nullptr);
  int32 rec[4];
  ASSERT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(rec[1], 100000);
  MemFullAlert(0, 7);
  EXPECT_EQ(MemFullPending(nullptr), 0);
  MemFullAlert(0, 7);
  auto alerts = cap.Alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], "Not enough memory to complete this operation.");
  EXPECT_NE(cap.Debug().find("Not enough memory to complete this operation."), std::string::npos);

  CPStrHandle list = MakeList({"Not enough memory to complete this operation.",
                               "Not enough memory to open control editor.",
                               "Not enough memory to change to customize mode.",
                               "Not enough memory to update probe.",
                               "Not enough memory to create this object."});
  MemSetFullTexts(list);
  cap.Clear();
  MemNoteFailure(77);
  MemFullAlert(4, 1);
  ASSERT_EQ(cap.Alerts().size(), 1u);
  EXPECT_EQ(cap.Alerts()[0], "Not enough memory to create this object.");
  EXPECT_EQ(cap.Debug().find("create this object"), std::string::npos) << "bit 1 clear: no debug line";
  MemSetFullTexts(nullptr);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
}

TEST_F(Memory, FailedResizeLeavesTheHandleIntact) {
  UHandle h = AZNewHandle(20000);
  std::memset(*h, 0x3C, 20000);
  UPtr before = *h;
  PlatFailNextReservations(1);
  EXPECT_EQ(AZSetHandleSize(h, 500000), kMemFullErr);
  EXPECT_EQ(*h, before);
  EXPECT_EQ(AZGetHandleSize(h), 20000);
  EXPECT_EQ((*h)[19999], 0x3C);
  int32 rec[4];
  ASSERT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(rec[1], 500000 + 16);
  UHandle copy = h;
  PlatFailNextReservations(1);
  EXPECT_EQ(AZHandToHand(&copy), kMemFullErr);
  EXPECT_EQ(copy, nullptr);
  AZDisposeHandle(h);
}

TEST_F(Memory, MemFullPendingZeroesTheRecordWhenClear) {
  int32 rec[4] = {5, 6, 7, 8};
  EXPECT_EQ(MemFullPending(rec), 0);
  EXPECT_EQ(rec[0], 0);
  EXPECT_EQ(rec[1], 0);
  EXPECT_EQ(rec[2], 7);
}

// The test hook fails exactly the n-th next allocation or resize, of either
// zone and of handles and pointers alike, then is spent.
TEST_F(Memory, TheNthNextAllocationFailsOnce) {
  struct Step {
    const char* what;
    bool (*run)(UHandle keep);  // true when the operation succeeded
  };
  const Step steps[] = {
      {"AZNewHandle", [](UHandle) { UHandle h = AZNewHandle(8); return h && AZDisposeHandle(h) == kNoErr; }},
      {"DSNewHClr", [](UHandle) { UHandle h = DSNewHClr(8); return h && DSDisposeHandle(h) == kNoErr; }},
      {"AZNewPtr", [](UHandle) { UPtr p = AZNewPtr(8); return p && AZDisposePtr(p) == kNoErr; }},
      {"DSNewPClr", [](UHandle) { UPtr p = DSNewPClr(8); return p && DSDisposePtr(p) == kNoErr; }},
      {"AZSetHandleSize", [](UHandle keep) { return AZSetHandleSize(keep, AZGetHandleSize(keep) + 4) == kNoErr; }},
  };
  UHandle keep = AZNewHClr(4);
  ASSERT_NE(keep, nullptr);
  for (const Step& s : steps) {
    for (int32 n = 1; n <= 3; ++n) {
      MemFullReset();
      MemFailNthAllocation(n);
      for (int32 i = 1; i <= 4; ++i) {
        int32 before = AZGetHandleSize(keep);
        bool ok = s.run(keep);
        EXPECT_EQ(ok, i != n) << s.what << " n=" << n << " call " << i;
        if (!ok) {
          EXPECT_EQ(MemFullPending(nullptr), 1) << "recorded as memory full";
          EXPECT_EQ(AZGetHandleSize(keep), before) << "a failed resize changes nothing";
        }
      }
    }
  }
  MemFailNthAllocation(2);
  MemFailNthAllocation(0);
  UHandle a = AZNewHandle(4), b = AZNewHandle(4);
  EXPECT_TRUE(a && b) << "0 disarms";
  AZDisposeHandle(a);
  AZDisposeHandle(b);
  AZSetHandleSize(keep, 8);
  MemFailNthAllocation(1);
  EXPECT_EQ(AZSetHandleSize(keep, 8), kNoErr) << "a resize to the same size reaches no allocation";
  EXPECT_EQ(AZSetHandleSize(keep, 12), kMemFullErr);
  AZDisposeHandle(keep);
  MemFullReset();
}

// A run fails allocations n .. n+count-1 (count < 0: every one from n on
// until disarmed) and passes the rest.
TEST_F(Memory, ARunOfAllocationsFailsFromTheNthOn) {
  struct Case {
    int32 n, count;
    const char* pattern;  // call i succeeds where pattern[i] is '+'
  } const cases[] = {{2, 3, "+---++"}, {1, -1, "------"}, {3, 1, "++-+++"}, {0, 5, "++++++"}};
  for (const Case& c : cases) {
    MemFailAllocations(c.n, c.count);
    std::string got;
    for (int i = 0; i < 6; ++i) {
      UHandle h = (i & 1) ? DSNewHandle(8) : AZNewHandle(8);
      got += h ? '+' : '-';
      if (h) (i & 1) ? DSDisposeHandle(h) : AZDisposeHandle(h);
    }
    MemFailAllocations(0, 0);
    EXPECT_EQ(got, c.pattern) << "n=" << c.n << " count=" << c.count;
  }
  MemFullReset();
}

TEST(MemoryThreads, ConcurrentHandleTrafficInBothZones) {
  EnsureMemInit();
  std::vector<std::thread> ts;
  std::atomic<bool> bad{false};
  for (int t = 0; t < 8; ++t)
    ts.emplace_back([&, t] {
      std::vector<UHandle> mine;
      for (int i = 0; i < Scaled(20000); ++i) {
        bool ds = (i + t) & 1;
        UHandle h = ds ? DSNewHandle(i % 100) : AZNewHandle(i % 100);
        if (!h) { bad = true; continue; }
        std::memset(*h, t, size_t(i % 100));
        mine.push_back(h);
        if (mine.size() > 50) {
          UHandle v = mine[size_t(i) % mine.size()];
          bool vds = MemIsDSHandle(v);
          int32 n = vds ? DSGetHandleSize(v) : AZGetHandleSize(v);
          for (int32 k = 0; k < n; ++k)
            if ((*v)[k] != t) bad = true;
          if ((vds ? DSDisposeHandle(v) : AZDisposeHandle(v)) != kNoErr) bad = true;
          mine[size_t(i) % mine.size()] = mine.back();
          mine.pop_back();
        }
      }
      for (UHandle h : mine) (MemIsDSHandle(h) ? DSDisposeHandle : AZDisposeHandle)(h);
    });
  for (auto& t : ts) t.join();
  EXPECT_FALSE(bad.load());
  EXPECT_EQ(AZHeapCheck(0), kNoErr);
}

}  // namespace
