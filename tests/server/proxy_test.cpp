// The run of a VI for a remote caller: its completion, abort and error
// reports reach the proxy, which keeps them for the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "engine/engine_test_support.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/virecord.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "server/proxy.h"
#include "server/viref.h"

namespace {

// Resets the data space's clumps as the normal procedure does for a VI
// without a linked data space: the entrance takes the whole data space.
int32 ResetWhole(DataSpace ds, QueueElement*) { return RemQEVIEntry(nullptr, &(*ds)->entrance); }

class BoundaryProxy : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    saved_ = RunCmd();
    ServerInstallEngineHooks();
    vi_ = DSNewHClr(kVIHeaderSize);
    ds_ = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize));
    ASSERT_TRUE(vi_ && ds_);
    VI()->viKind = kVIKindProxyCaller;
    VI()->eState = 2;
    static const uChar kName[] = "\x06remote";
    std::memcpy(VI()->name, kName, sizeof kName - 1);
    (*ds_)->owner = vi_;
    (*ds_)->self = ds_;
    (*ds_)->signature = kDataSpaceSig;
    ASSERT_EQ(NewVIEntrance(ds_, 0, 1), kNoErr);
    // Without execution threads the entrance makes no mutexes: the proxy's
    // message lock is made here.
    if (!(*ds_)->entrance.dsMessageLock) {
      ThMutex lock = nullptr;
      ASSERT_EQ(ThMutexCreate(&lock, "dsMessageLock"), kNoErr);
      (*ds_)->entrance.dsMessageLock = lock;
    }
    ASSERT_NE((*ds_)->entrance.dsMessageLock, nullptr);
    run_.signature = kQueueElementSig;
    run_.dataSpace = ds_;
    (*ds_)->runElement = &run_;
    PxTakeCallResult(ds_);
  }
  void TearDown() override {
    PxTakeCallResult(ds_);
    DisposeVIEntrance(ds_);
    DSDisposeHandle(reinterpret_cast<UHandle>(ds_));
    DSDisposeHandle(vi_);
    SetRunCmdHooks(&saved_);
    EngineTest::TearDown();
  }
  VIRecord* VI() { return reinterpret_cast<VIRecord*>(*vi_); }
  uInt32 State() { return VI()->eState & kVIStateMask; }
  RunCmdHooks saved_{};
  UHandle vi_ = nullptr;
  DataSpace ds_ = nullptr;
  QueueElement run_{};
};

TEST_F(BoundaryProxy, TheCompletionOfARemoteRunGoesToTheProxy) {
  ASSERT_EQ(RunCmd().pxCallerFinish, &PxCallerFinish);
  DoDoneCommand(ds_);
  EXPECT_EQ(State(), kVIStateIdle);
  PxCallResult r = PxTakeCallResult(ds_);
  EXPECT_EQ(r.state, kPxDone);
  EXPECT_EQ(r.error, kNoErr);
  EXPECT_EQ(PxTakeCallResult(ds_).state, kPxRunning) << "taken once";

  // An aborted run: the caller learns of the abort, the flags are cleared.
  VI()->eState = 2;
  run_.resetPending = 1;
  run_.runState = 3;
  DoDoneCommand(ds_);
  EXPECT_EQ(PxTakeCallResult(ds_).state, kPxAborted);
  EXPECT_EQ(run_.resetPending, 0);
  EXPECT_EQ(run_.runState, 0);
  EXPECT_EQ(State(), kVIStateIdle);
  PxCallerFinish(nullptr, 0);  // nothing
}

TEST_F(BoundaryProxy, AnAbortThroughTheProxyGivesUpTheMessageLockThreads) {
  DSProc(*ds_, kDSProcResetClumps) = reinterpret_cast<void*>(&ResetWhole);
  ASSERT_EQ(RunCmd().pxResetCallers, &PxResetCallers);
  EXPECT_EQ(DoAbortCommand(ds_), 0);
  EXPECT_EQ((*ds_)->wholeReset, 1) << "the clumps were reset";
  ThMutex lock = (*ds_)->entrance.dsMessageLock;
  EXPECT_FALSE(PlatRecMutexOwned(&lock->section)) << "the reset left it held; the proxy gave it up";
  // Another thread can take it.
  std::atomic<bool> took{false};
  std::thread other([&] {
    if (PlatRecMutexTryLock(&lock->section)) {
      took = true;
      PlatRecMutexUnlock(&lock->section);
    }
  });
  other.join();
  EXPECT_TRUE(took.load());
  EXPECT_EQ(PxTakeCallResult(ds_).state, kPxAborted);
  // A VI that does not run is not aborted.
  VI()->eState = 1;
  EXPECT_EQ(DoAbortCommand(ds_), kRunCannotRun);
  EXPECT_EQ(PxTakeCallResult(ds_).state, kPxRunning);
  PxResetCallers(nullptr);  // nothing
}

TEST_F(BoundaryProxy, ErrorsOfARemoteRunGoToItsCaller) {
  VIErrorNotify(vi_, ds_, nullptr, 12, 42);
  const PxCallResult r = PxTakeCallResult(ds_);
  EXPECT_EQ(r.error, 42);
  EXPECT_EQ(r.text, "VI \"remote\" was stopped at node  0xC of subVI \"\"");
  EXPECT_EQ(qxtest::Reports::Get().Count("was stopped"), 0) << "no dialog here";
}

}  // namespace
