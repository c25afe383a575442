// Unit-access records: made with their waiter queue and mutex or not at
// all, disposed once, and given to the load methods.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "engine/exec_test_support.h"
#include "engine/link/loadmethods.h"
#include "io/unitaccess.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "platform/qx_alert.h"

namespace {

std::atomic<int> gAlerts{0};
int32_t CountAlert(const char*, const char*, int32_t buttons, int32_t) {
  gAlerts.fetch_add(1);
  return PlatAlertDefaultAnswer(buttons);
}

class UnitAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The managers as every other test of the folder starts them, once.
    qxexectest::StartThreadManagers();
    PlatSetAlertProc(CountAlert);
    DBSetContinueAfterFailure(1);
    gAlerts.store(0);
  }
  void TearDown() override {
    SetLoadMethodHooks(nullptr);
    PlatSetAlertProc(nullptr);
    DBSetContinueAfterFailure(0);
  }
};

TEST_F(UnitAccessTest, RecordsAreMadeWholeOrNotAtAll) {
  struct Case {
    int32 size, levels;
    Bool32 mutex;
    bool made;
    int32 queueLevels;
  } cases[] = {{20, 5, 1, true, 5},  {64, 0, 0, true, 1},  {20, -3, 1, true, 1},
               {20, 9, 1, true, 5},  {19, 5, 1, false, 0}, {0, 5, 0, false, 0}};
  for (const Case& c : cases) {
    UnitAccessRec* r = NewUnitAccessRec(c.size, c.levels, 3, c.mutex);
    ASSERT_EQ(r != nullptr, c.made) << c.size;
    if (!r) continue;
    EXPECT_EQ(r->signature, kUnitAccessSignature);
    EXPECT_EQ(r->execSystem, 3);
    EXPECT_EQ(r->owner, nullptr);
    ASSERT_NE(r->waiters, nullptr);
    EXPECT_EQ(r->waiters->levels, c.queueLevels) << c.levels;
    EXPECT_EQ(r->mutex != nullptr, c.mutex != 0);
    DisposeUnitAccessRec(r);
  }
  UnitAccessRec* std = AllocStdUnitAccessRec(0);
  ASSERT_NE(std, nullptr);
  EXPECT_NE(std->mutex, nullptr);
  EXPECT_EQ(std->execSystem, 0);
  DisposeUnitAccessRec(std);
  EXPECT_EQ(gAlerts.load(), 0);
  // Every allocation that fails leaves nothing behind.
  int failures = 0;
  for (int32 n = 1; n < 10; ++n) {
    int32 before = 0, after = 0, unused = 0;
    MemZoneCounts(0, &before, &unused);
    MemFailNthAllocation(n);
    UnitAccessRec* r = AllocStdUnitAccessRec(0);
    MemFailNthAllocation(0);
    if (r) DisposeUnitAccessRec(r);
    else ++failures;
    MemZoneCounts(0, &after, &unused);
    EXPECT_EQ(after, before) << n;
  }
  EXPECT_GT(failures, 0);
}

TEST_F(UnitAccessTest, ForeignRecordsAreRefusedAndTheLoadMethodsGetRecords) {
  DisposeUnitAccessRec(nullptr);
  const int afterNull = gAlerts.load();
  EXPECT_GE(afterNull, 1);
  UnitAccessRec fake{};
  DisposeUnitAccessRec(&fake);
  const int afterFake = gAlerts.load();
  EXPECT_GT(afterFake, afterNull);
  IOInstallUnitAccessHooks();
  void* r = LoadHooks().allocUnitAccess(0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(static_cast<UnitAccessRec*>(r)->signature, kUnitAccessSignature);
  LoadHooks().disposeUnitAccess(r);
  EXPECT_EQ(gAlerts.load(), afterFake);
}

}  // namespace
