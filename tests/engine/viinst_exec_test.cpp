// Data spaces of VIs with execution threads on: their mutexes and update
// queues, and disposal while an execution thread still runs an element.
#include <atomic>
#include <thread>

#include "exec_test_support.h"
#include "mgsource/datetime.h"
#include "viinst_test_support.h"

using namespace qxvitest;
using namespace qxexectest;

namespace {

std::atomic<QueueElement*> gHold{nullptr};
std::atomic<int> gEntered{0}, gRelease{0};
std::atomic<int> gQueuesMade{0}, gQueuesDisposed{0};

void HoldingRun(ExecContext*, QueueElement* e) {
  if (e != gHold.load()) return;
  gEntered.store(1);
  while (!gRelease.load()) WSleep(1);
}

void* CountingNewQueue(int32 room) {
  gQueuesMade.fetch_add(1);
  return AZNewPClr(room);
}
void CountingDisposeQueue(void* q) {
  gQueuesDisposed.fetch_add(1);
  AZDisposePtr(static_cast<UPtr>(q));
}

bool WaitFor(const std::atomic<int>& flag, int ms) {
  const uInt32 end = MilliSecs() + uInt32(ms);
  while (!flag.load()) {
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    WSleep(1);
  }
  return true;
}

class VIExecTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    Seen() = Calls{};
    InstallStandIns();
    EnginePanelHooks panel = *GetEnginePanelHooks();
    panel.newUpdateQueue = &CountingNewQueue;
    panel.disposeUpdateQueue = &CountingDisposeQueue;
    SetEnginePanelHooks(&panel);
    gHold.store(nullptr);
    gEntered.store(0);
    gRelease.store(0);
    gQueuesMade.store(0);
    gQueuesDisposed.store(0);
  }
  void TearDown() override {
    gRelease.store(1);
    while (UHandle vi = FirstLoadedVI()) DisposeVI(vi, 0);
    SetVICodeHooks(nullptr);
    SetVIRunHooks(nullptr);
    SetVILinkHooks(nullptr);
    SetVIShellHooks(nullptr);
    SetEnginePanelHooks(nullptr);
    ExecTest::TearDown();
  }
};

TEST_F(VIExecTest, WithThreadsADataSpaceHasItsMutexesAndOneUpdateQueueForItsClones) {
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_TRUE(ExecThreadsOn());
  UHandle caller = NewVICore(kVIKindProxyCaller, PS("remote"), -1);
  ASSERT_NE(caller, nullptr);
  ASSERT_EQ(NewMinimalDataSpace(caller), kNoErr);
  DataSpace first = reinterpret_cast<DataSpace>(VIRec(caller)->dataSpace);
  InitDataSpace(first);
  EXPECT_EQ((*first)->threadsOn, 1);
  EXPECT_NE((*first)->entrance.dsRights, nullptr);
  EXPECT_NE((*first)->entrance.dsMessageLock, nullptr);  // a data space called by proxy
  EXPECT_EQ(gQueuesMade.load(), 1);
  DataSpace clone = nullptr;
  ASSERT_EQ(NewDataSpaceFromTD(VIRec(caller)->dsTypeMap, &clone), kNoErr);
  (*clone)->owner = caller;
  InitDataSpace(clone);
  EXPECT_EQ(gQueuesMade.load(), 1);
  EXPECT_EQ((*clone)->updateQueue, (*first)->updateQueue);
  EXPECT_NE((*clone)->entrance.dsRights, (*first)->entrance.dsRights);
  DisposeDataSpace(clone, 1);
  EXPECT_EQ(gQueuesDisposed.load(), 0);
  DisposeDataSpace(first, 1);
  EXPECT_EQ(gQueuesDisposed.load(), 1);
  DisposeVI(caller, 1);
}

TEST_F(VIExecTest, DisposalWaitsUntilTheThreadRunningAnElementLetsItGo) {
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  UHandle vi = NewVICore(kVIKindDatalog, PS("busy"), -1);
  ASSERT_NE(vi, nullptr);
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
  InitDataSpace(ds);
  QueueElement e = NewElement(ds);
  gHold.store(&e);
  ExecSetTestRunProc(HoldingRun);
  EnqPrRunQ(2, &e);
  ASSERT_TRUE(WaitFor(gEntered, 10000));

  std::atomic<int> disposed{0};
  std::thread disposer([&] {
    DisposeDataSpace(ds, 1);
    disposed.store(1);
  });
  WSleep(60);
  EXPECT_EQ(disposed.load(), 0);
  EXPECT_EQ((*ds)->signature, kDataSpaceSig);
  gRelease.store(1);
  disposer.join();
  EXPECT_EQ(disposed.load(), 1);
  EXPECT_EQ(VIRec(vi)->dataSpace, nullptr);
  DisposeVI(vi, 1);
  EXPECT_EQ(ExecFailures(), 0);
}

}  // namespace
