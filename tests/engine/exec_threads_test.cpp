// Execution threads taking elements, waiting for a data space to go idle,
// and the tick procedure.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "exec_test_support.h"
#include "mgsource/datetime.h"
#include "platform/qx_thread.h"

using namespace qxexectest;

namespace {

// What the execution threads do with the elements they take.
std::atomic<int>* gTaken = nullptr;
QueueElement* gBase = nullptr;
std::atomic<int> gTakenTotal{0};
std::atomic<ExecContext*> gTakers[2];
// An element that keeps its thread until released.
std::atomic<QueueElement*> gBlockOn{nullptr};
std::atomic<int> gEntered{0};
std::atomic<int> gRelease{0};
std::atomic<ExecContext*> gBlockedIn{nullptr};

void CountingRun(ExecContext* ctx, QueueElement* e) {
  gTaken[e - gBase].fetch_add(1);
  if (e->runningContext != ctx || ctx->current.load() != e) gTaken[e - gBase].fetch_add(100);
  ExecContext* expected = nullptr;
  if (!gTakers[0].compare_exchange_strong(expected, ctx) && expected != ctx) {
    expected = nullptr;
    gTakers[1].compare_exchange_strong(expected, ctx);
  }
  gTakenTotal.fetch_add(1);
}

void BlockingRun(ExecContext*, QueueElement* e) {
  if (e != gBlockOn.load()) return;
  gBlockedIn.store(e->runningContext);
  gEntered.store(1);
  while (!gRelease.load()) WSleep(1);
}

bool WaitFor(const std::atomic<int>& flag, int value, int ms) {
  uInt32 end = MilliSecs() + uInt32(ms);
  while (flag.load() < value) {
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    WSleep(1);
  }
  return true;
}

class ThreadsTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    gTakenTotal.store(0);
    gTakers[0].store(nullptr);
    gTakers[1].store(nullptr);
    gBlockOn.store(nullptr);
    gBlockedIn.store(nullptr);
    gEntered.store(0);
    gRelease.store(0);
  }
  void TearDown() override {
    gRelease.store(1);
    ExecTest::TearDown();
  }
};

// Producers on plain threads queue elements of every level on one slot
// served by two threads: each element is taken exactly once.
TEST_F(ThreadsTest, EveryElementTakenOnceConcurrent) {
  const bool valgrind = std::getenv("QX_UNDER_VALGRIND") != nullptr;
  const int producers = valgrind ? 8 : 4;
  const int each = valgrind ? 1000 : 25000;
  const int total = producers * each;
  OnlySlots({{2, 2}});
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_EQ(ExecSlotRunRecord(2)->threads, 2);

  std::vector<std::unique_ptr<TestDataSpace>> spaces;
  for (int p = 0; p < 5; ++p) spaces.push_back(std::make_unique<TestDataSpace>(p, kESysStandard, 2));
  std::vector<QueueElement> elements(total);
  std::unique_ptr<std::atomic<int>[]> taken(new std::atomic<int>[total]);
  for (int i = 0; i < total; ++i) {
    elements[i] = NewElement(spaces[i % 5]->handle());
    taken[i].store(0);
  }
  gBase = elements.data();
  gTaken = taken.get();
  ExecSetTestRunProc(CountingRun);

  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p)
    threads.emplace_back([&, p] {
      for (int i = p * each; i < (p + 1) * each; ++i) {
        if (i % 2) EnQRunQ(&elements[i]);
        else EnqPrRunQ(2, &elements[i]);
      }
    });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(WaitFor(gTakenTotal, total, 120000)) << gTakenTotal.load();
  FinishExec();
  int wrong = 0;
  for (int i = 0; i < total; ++i)
    if (taken[i].load() != 1) ++wrong;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(gTakenTotal.load(), total);
  EXPECT_NE(gTakers[0].load(), nullptr);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(ThreadsTest, WaitDataSpaceIdleWaitsForTheRunningElementThreads) {
  OnlySlots({{1, 1}, {2, 1}});  // a background thread and a normal one
  ASSERT_EQ(InitExec(), kNoErr);
  TestDataSpace busy(0, kESysStandard, 1), other(1);
  QueueElement e = NewElement(busy.handle());
  gBlockOn.store(&e);
  ExecSetTestRunProc(BlockingRun);
  EnqPrRunQ(1, &e);
  ASSERT_TRUE(WaitFor(gEntered, 1, 10000));
  ExecContext* runner = gBlockedIn.load();
  ASSERT_NE(runner, nullptr);
  EXPECT_EQ(runner->slot, 1);

  WaitDataSpaceIdle(other.handle());  // returns at once
  std::atomic<int> idle{0};
  std::thread waiter([&] {
    WaitDataSpaceIdle(busy.handle());
    idle.store(1);
  });
  WSleep(60);
  EXPECT_EQ(idle.load(), 0);
  gRelease.store(1);
  waiter.join();
  EXPECT_EQ(idle.load(), 1);
  EXPECT_EQ(runner->current.load(), nullptr);
  // The background thread was raised while waited for, then put back.
  EXPECT_EQ(PlatThreadGetPriority(runner->thread->handle), -15);
  EXPECT_EQ(ExecFailures(), 0);
}

// A timer service of the test's own, so that ticks come only when called.
ExecCountdown gSharedRegister{0};
std::atomic<ExecTickProc> gRegistered{nullptr};
std::atomic<int> gShutdowns{0};
ThEvent gTimerEvent = nullptr;
MgErr FakeStart() { return kNoErr; }
void FakeShutdown() { gShutdowns.fetch_add(1); }
ThEvent FakeEvent() { return gTimerEvent; }
void FakeCountdown(ExecCountdown** countdown, int32* second, ExecCountdown* own, Bool32 shared) {
  *countdown = shared ? &gSharedRegister : own;
  *second = 77;
}
void FakeSetTick(ExecTickProc proc) { gRegistered.store(proc); }
const ExecTimerService kFakeTimer = {FakeStart, FakeShutdown, FakeEvent, FakeCountdown, FakeSetTick};

class TickTest : public ThreadsTest {
 protected:
  void SetUp() override {
    ThreadsTest::SetUp();
    gRegistered.store(nullptr);
    gShutdowns.store(0);
    ThEventCreate(&gTimerEvent, "test wake-up", 0);
    ExecSetTimerService(&kFakeTimer);
  }
  void TearDown() override {
    ThreadsTest::TearDown();
    ThEventDestroy(gTimerEvent);
    gTimerEvent = nullptr;
  }
};

TEST_F(TickTest, NothingBeforeStartOrAfterShutDown) {
  ExecTick();  // no contexts yet
  SetKey("ESys.StdNParallel", 0);
  ASSERT_EQ(InitExec(), kNoErr);
  // Without threads the tick procedure is not registered, the user-interface
  // context polls the shared register, and its record takes the timer's event.
  EXPECT_EQ(gRegistered.load(), nullptr);
  EXPECT_EQ(ExecTimeSlice(), 2);
  ExecContext* ui = ExecContextAt(0);
  EXPECT_EQ(ui->countdown, &gSharedRegister);
  EXPECT_EQ(ui->countdownSecond, 77);
  EXPECT_EQ(ExecRunRecordAt(0)->event, gTimerEvent);
  FinishExec();
  EXPECT_EQ(gShutdowns.load(), 1);
  ExecTick();
}

TEST_F(TickTest, CountdownsRunDownAsTheThreadsNeed) {
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(gRegistered.load(), &ExecTick);
  ExecContext* ui = ExecContextAt(0);
  ExecContext* worker = ExecContextAt(1);
  EXPECT_EQ(ui->countdown, &ui->ownCountdown);
  EXPECT_EQ(worker->countdown, &worker->ownCountdown);
  EXPECT_EQ(ExecRunRecordAt(0)->event, gTimerEvent);
  EXPECT_FALSE(ExecRunRecordAt(0)->ownsEvent);

  ui->countdown->store(3);
  worker->countdown->store(3);
  ExecTick();
  EXPECT_EQ(ui->countdown->load(), 2);      // always runs down
  EXPECT_EQ(worker->countdown->load(), 3);  // nothing waits for the worker

  // The worker holds one element while another waits on its slot.
  TestDataSpace ds(1, kESysStandard, 2);
  QueueElement held = NewElement(ds.handle()), waiting = NewElement(ds.handle());
  gBlockOn.store(&held);
  ExecSetTestRunProc(BlockingRun);
  EnqPrRunQ(2, &held);
  ASSERT_TRUE(WaitFor(gEntered, 1, 10000));
  // Taking the element gave the thread its slice.
  EXPECT_EQ(worker->countdown->load(), ExecTimeSlice());
  worker->countdown->store(3);
  EnqPrRunQ(2, &waiting);
  ExecTick();
  EXPECT_EQ(worker->countdown->load(), 2);

  // A subroutine running in line keeps its slice.
  worker->subroutineCaller.store(&held);
  ExecTick();
  EXPECT_EQ(worker->countdown->load(), 2);
  // An abort runs every countdown down, to 0 and no further.
  ExecSetAbortInProgress(1);
  ExecTick();
  EXPECT_EQ(worker->countdown->load(), 1);
  worker->subroutineCaller.store(nullptr);
  ExecRunRecord* r = ExecSlotRunRecord(2);
  ThMutexAcquire(r->mutex);
  EXPECT_TRUE(RemQElm(r->runQueue, &waiting));
  ThMutexRelease(r->mutex);
  ExecTick();
  ExecTick();
  EXPECT_EQ(worker->countdown->load(), 0);
  EXPECT_EQ(ui->countdown->load(), 0);
  ExecSetAbortInProgress(0);
  worker->countdown->store(3);
  ExecTick();
  EXPECT_EQ(worker->countdown->load(), 3);

  gRelease.store(1);
  FinishExec();
  EXPECT_EQ(gRegistered.load(), nullptr);
  EXPECT_EQ(gShutdowns.load(), 1);
}

}  // namespace
