#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulation.h"
#include "mgsource/cfgwords.h"
#include "mgsource/datetime.h"
#include "mgsource/thread.h"
#include "platform/qx_thread.h"
#include "platform/qx_event.h"
#include <valgrind/helgrind.h>
#include "test_support.h"

namespace {

// A gate that threads wait at until the test opens it.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  int arrived = 0;
  void Arrive() {
    std::unique_lock<std::mutex> g(m);
    ++arrived;
    cv.notify_all();
    cv.wait(g, [this] { return open; });
  }
  void WaitArrived(int n) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return arrived >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> g(m);
    open = true;
    cv.notify_all();
  }
};

int32 WaitAtGate(void* gate) {
  static_cast<Gate*>(gate)->Arrive();
  return 0;
}

std::atomic<int> gNeverRuns{0};
int32 CountRun(void*) {
  gNeverRuns.fetch_add(1);
  return 0;
}

// Starts a thread that waits at the gate; the test opens the gate and destroys it.
ThThread StartWaiter(Gate* gate) {
  ThThread t = nullptr;
  EXPECT_EQ(ThThreadCreate(&t, WaitAtGate, gate), kNoErr);
  return t;
}

}  // namespace

// Priorities -------------------------------------------------------------------

const char* const kPriorityKeys[5] = {"thpri_bgrnd", "thpri_normal", "thpri_high", "thpri_vhigh",
                                      "thpri_tcrit"};

class ThPriority : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    for (const char* key : kPriorityKeys) CfgTestRemoveValue(key);
  }
  void TearDown() override {
    Stop();
    for (const char* key : kPriorityKeys) CfgTestRemoveValue(key);
    ReInit();  // back to the default priorities for later tests
  }
  // Starts the thread manager again: the record of the calling thread that
  // the last start made goes first.
  static MgErr ReInit() {
    ThThreadDestroy(ThThreadCurrent());
    return ThInit();
  }
  // Starts the thread manager again (it reads the keys) with a thread waiting at a gate.
  void Restart() {
    Stop();
    CfgLoadDefaultWords();  // as a new start-up: absent keys take their defaults
    ASSERT_EQ(ReInit(), kNoErr);
    gate_ = std::make_unique<Gate>();
    thread_ = StartWaiter(gate_.get());
    ASSERT_NE(thread_, nullptr);
  }
  void Stop() {
    if (!thread_) return;
    gate_->Open();
    ThThreadDestroy(thread_);
    thread_ = nullptr;
  }
  // The host priority recorded for the thread set to level.
  int32 PriorityOfLevel(int32 level) {
    EXPECT_EQ(ThThreadSetPriority(thread_, level), kNoErr);
    return PlatThreadGetPriority(thread_->handle);
  }
  std::unique_ptr<Gate> gate_;
  ThThread thread_ = nullptr;
};

TEST_F(ThPriority, DefaultsAndEqualKeysMapEveryLevel) {
  Restart();
  const int32 defaults[5] = {-15, 0, 1, 2, 15};
  for (int32 level = 0; level < 5; ++level) EXPECT_EQ(PriorityOfLevel(level), defaults[level]);

  for (const char* key : kPriorityKeys) CfgTestSetValue(key, "7");
  Restart();
  for (int32 level = 0; level < 5; ++level) EXPECT_EQ(PriorityOfLevel(level), 7);
}

TEST_F(ThPriority, KeysAreSortedAscending) {
  CfgTestSetValue("thpri_high", "20");
  Restart();
  const int32 expected[5] = {-15, 0, 2, 15, 20};
  for (int32 level = 0; level < 5; ++level) EXPECT_EQ(PriorityOfLevel(level), expected[level]);
}

TEST_F(ThPriority, LevelOutsideRangeTakesLevelOneWithOneReport) {
  CfgTestSetValue("thpri_normal", "-3");
  Restart();
  for (int32 level : {5, -1}) {
    EXPECT_EQ(PriorityOfLevel(3), 2);
    Capture reports;
    EXPECT_EQ(PriorityOfLevel(level), -3) << "level " << level;
    EXPECT_EQ(reports.Count("Failure"), 1) << reports.Debug();
  }
  {
    Capture reports;
    EXPECT_EQ(PriorityOfLevel(7), -3);
    EXPECT_EQ(reports.Count("Failure"), 2) << "above 6 and outside 0 to 4: " << reports.Debug();
  }
  EXPECT_EQ(ThThreadSetPriority(nullptr, 2), kNoErr);
}

// The thread table ---------------------------------------------------------------

TEST(ThThreadTable, FullTableStartsNoThreadAndFreedSlotIsReused) {
  EnsureManagers();
  Gate gate;
  std::vector<ThThread> threads;
  for (int i = 1; i < kThMaxThreads; ++i) {
    ThThread t = nullptr;
    ASSERT_EQ(ThThreadCreate(&t, WaitAtGate, &gate), kNoErr) << "creation " << i;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(ThThreadIndex(t), i);
    threads.push_back(t);
  }
  {
    Capture reports;
    ThThread extra = reinterpret_cast<ThThread>(&gate);
    EXPECT_EQ(ThThreadCreate(&extra, CountRun, nullptr), kMemFullErr);
    EXPECT_EQ(extra, nullptr);
    EXPECT_EQ(reports.Count("Thread Array full!!"), 1) << reports.Debug();
  }
  // Slot 5 freed is the one the next creation takes.
  gate.WaitArrived(kThMaxThreads - 1);
  gate.Open();
  ThThreadDestroy(threads[4]);
  ThThread again = nullptr;
  ASSERT_EQ(ThThreadCreate(&again, WaitAtGate, &gate), kNoErr);
  EXPECT_EQ(ThThreadIndex(again), 5);
  threads[4] = again;
  for (ThThread t : threads) ThThreadDestroy(t);
  EXPECT_EQ(gNeverRuns.load(), 0) << "the refused thread never ran";
}

namespace {
struct SelfLookup {
  ThThread current = nullptr;
  int32 index = -1;
};
int32 LookUpSelf(void* p) {
  auto* s = static_cast<SelfLookup*>(p);
  s->current = ThThreadCurrent();
  s->index = ThThreadIndex(nullptr);
  return 42;
}
}  // namespace

TEST(ThThreadTable, LookupsOfStartingCreatedAndForeignThreads) {
  EnsureManagers();
  ThThread self = ThThreadCurrent();
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->signature, kThThreadSig);
  EXPECT_EQ(std::memcmp(&self->signature, "Thrd", 4), 0);
  EXPECT_EQ(ThThreadIndex(nullptr), 0);
  EXPECT_EQ(ThThreadIndex(self), 0);

  SelfLookup seen;
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, LookUpSelf, &seen), kNoErr);
  int32 slot = ThThreadIndex(t);
  EXPECT_GT(slot, 0);
  EXPECT_LT(slot, kThMaxThreads);
  ASSERT_EQ(PlatThreadWaitEnd(t->handle, 10000), 0);
  uint32_t code = 0;
  EXPECT_EQ(PlatThreadExitCode(t->handle, &code), 0);
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(seen.current, t);
  EXPECT_EQ(seen.index, slot);
  ThThreadDestroy(t);

  Capture reports;
  ThThread foreignCurrent = self;
  int32 foreignIndex = -1;
  std::thread foreign([&] {
    foreignCurrent = ThThreadCurrent();
    foreignIndex = ThThreadIndex(nullptr);
  });
  foreign.join();
  EXPECT_EQ(foreignCurrent, nullptr);
  EXPECT_EQ(foreignIndex, kThMaxThreads);
  EXPECT_EQ(reports.Count("Failure"), 2) << reports.Debug();
}

TEST(ThThreadTable, DestroyGivesUpOnAThreadThatWillNotEnd) {
  EnsureManagers();
  Gate gate;
  std::atomic<bool> ended{false};
  struct Ctx {
    Gate* gate;
    std::atomic<bool>* ended;
  } ctx{&gate, &ended};
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, [](void* p) -> int32 {
              auto* c = static_cast<Ctx*>(p);
              c->gate->Arrive();
              c->ended->store(true);
              return 0;
            }, &ctx), kNoErr);
  gate.WaitArrived(1);
  ThSetKillWait(100);
  Capture reports;
  uInt32 start = MilliSecs();
  ThThreadDestroy(t);
  int32 took = MillisecCmp(MilliSecs(), start);
  ThSetKillWait(10000);
  EXPECT_GE(took, 99);
  EXPECT_LT(took, 5000);
  EXPECT_EQ(reports.Count("still running after 100 ms"), 1) << reports.Debug();
  EXPECT_EQ(reports.Count("TerminateThread"), 0);
  EXPECT_EQ(reports.Count("Failure"), 0) << reports.Debug();
  EXPECT_FALSE(ended.load()) << "the thread is left running, not terminated";
  gate.Open();
  while (!ended.load()) WSleep(1);
}

namespace {
int32 ReturnZero(void*) { return 0; }
int32 DestroyOwnRecord(void*) {
  ThThreadDestroy(ThThreadCurrent());
  return 0;
}
}  // namespace

TEST(ThThreadTable, AThreadDestroyingItselfIsNotWaitedFor) {
  EnsureManagers();
  Capture reports;
  // The first free slot, which the thread will take.
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, ReturnZero, nullptr), kNoErr);
  int32 slot = ThThreadIndex(t);
  ThThreadDestroy(t);
  ASSERT_EQ(ThThreadCreate(&t, DestroyOwnRecord, nullptr), kNoErr);
  // The thread takes its record out of the table without waiting for itself,
  // so its slot is soon free again.
  int32 probeSlot = -1;
  for (int i = 0; i < 2000 && probeSlot != slot; ++i) {
    ThThread probe = nullptr;
    ASSERT_EQ(ThThreadCreate(&probe, ReturnZero, nullptr), kNoErr);
    probeSlot = ThThreadIndex(probe);
    ThThreadDestroy(probe);
    if (probeSlot != slot) WSleep(1);
  }
  EXPECT_EQ(probeSlot, slot);
  EXPECT_EQ(reports.Count("still running"), 0) << reports.Debug();
  EXPECT_EQ(reports.Count("Failure"), 0) << reports.Debug();
}

TEST(ThThreadTable, KillOfABadHandleReportsBothHostFailures) {
  EnsureManagers();
  Capture reports;
  ThThreadKill(nullptr);
  EXPECT_EQ(reports.Count("GetExitCodeThread returns FALSE, LastError = 0x"), 1) << reports.Debug();
  EXPECT_EQ(reports.Count("CloseHandle returns FALSE, LastError = 0x"), 1) << reports.Debug();
  EXPECT_EQ(reports.Count("Failure"), 2) << reports.Debug();
  ThThreadDestroy(nullptr);  // ignored
}

TEST(ThThreadTable, LimitsProcessorsAndSleeps) {
  EnsureManagers();
  int32 words[3] = {0, 0, 0};
  ThGetThreadLimits(words);
  EXPECT_EQ(words[0], 1);
  EXPECT_EQ(words[1], 3);
  EXPECT_EQ(words[2], 1);
  EXPECT_GE(ThProcessorCount(), 1);

  uInt32 now = MilliSecs();
  EXPECT_EQ(ThSleepUntil(now - 5, now), 0u);
  EXPECT_EQ(ThSleepUntil(now, now), 0u);
  now = MilliSecs();
  uInt32 after = ThSleepUntil(now + 10, now);
  EXPECT_GE(MillisecCmp(after, now), 9);
  now = MilliSecs();
  after = ThSleepUntil(now + 1, now);
  EXPECT_GE(MillisecCmp(after, now), 1);
  now = MilliSecs();
  WSleep(5);
  EXPECT_GE(MillisecCmp(MilliSecs(), now), 5);
}

TEST(ThThreadTable, FreeSlotsTestProcessorsAndAnInjectedFailure) {
  EnsureManagers();
  Gate gate;
  int32 freeBefore = ThFreeThreadSlots();
  EXPECT_LE(freeBefore, kThMaxThreads - 1);  // the starting thread holds slot 0
  ThThread a = nullptr, b = nullptr, c = nullptr;
  ASSERT_EQ(ThThreadCreate(&a, WaitAtGate, &gate), kNoErr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 1);
  // The second next creation fails with nothing made; the one after succeeds.
  ThSetTestCreateFailure(2);
  ASSERT_EQ(ThThreadCreate(&b, WaitAtGate, &gate), kNoErr);
  c = reinterpret_cast<ThThread>(&gate);
  EXPECT_EQ(ThThreadCreate(&c, CountRun, nullptr), kMemFullErr);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 2);
  ASSERT_EQ(ThThreadCreate(&c, WaitAtGate, &gate), kNoErr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 3);
  gate.WaitArrived(3);
  gate.Open();
  for (ThThread t : {a, b, c}) ThThreadDestroy(t);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  EXPECT_EQ(gNeverRuns.load(), 0);

  int32 host = ThProcessorCount();
  ThSetTestProcessorCount(64);
  EXPECT_EQ(ThProcessorCount(), 64);
  ThSetTestProcessorCount(0);
  EXPECT_EQ(ThProcessorCount(), host);
}

// Mutexes -------------------------------------------------------------------------

namespace {
struct Counter {
  ThMutex mutex;
  int32 value;
  int32 rounds;
};
int32 Increment(void* p) {
  auto* c = static_cast<Counter*>(p);
  for (int32 i = 0; i < c->rounds; ++i) {
    ThMutexAcquire(c->mutex);
    ++c->value;
    ThMutexRelease(c->mutex);
  }
  return 0;
}
}  // namespace

TEST(ThMutexThreads, EightThreadsCountExactly) {
  EnsureManagers();
  Counter c{nullptr, 0, Scaled(100000)};
  ASSERT_EQ(ThMutexCreate(&c.mutex, "counter"), kNoErr);
  EXPECT_STREQ(c.mutex->name, "counter");
  ThThread t[8];
  for (ThThread& th : t) ASSERT_EQ(ThThreadCreate(&th, Increment, &c), kNoErr);
  for (ThThread th : t) ThThreadDestroy(th);
  EXPECT_EQ(c.value, 8 * c.rounds);
  ThMutexDestroy(c.mutex);
}

namespace {
struct Owned {
  ThMutex mutex;
  int32 got;
};
int32 TakeOnce(void* p) {
  auto* o = static_cast<Owned*>(p);
  ThMutexAcquire(o->mutex);
  o->got = 1;
  ThMutexRelease(o->mutex);
  return 0;
}
}  // namespace

TEST(ThMutexThreads, OwnerReentersAndOthersWaitForTheLastRelease) {
  EnsureManagers();
  Owned o{nullptr, 0};
  ASSERT_EQ(ThMutexCreate(&o.mutex, nullptr), kNoErr);
  EXPECT_STREQ(o.mutex->name, "");
  ThMutexAcquire(o.mutex);
  ThMutexAcquire(o.mutex);
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, TakeOnce, &o), kNoErr);
  WSleep(30);
  EXPECT_EQ(o.got, 0);
  ThMutexRelease(o.mutex);
  WSleep(30);
  EXPECT_EQ(o.got, 0) << "still held once by its owner";
  ThMutexRelease(o.mutex);
  ThThreadDestroy(t);
  EXPECT_EQ(o.got, 1);
  ThMutexDestroy(o.mutex);

  ThMutexAcquire(nullptr);
  ThMutexRelease(nullptr);
  ThMutexDestroy(nullptr);
}

TEST(ThMutexThreads, LongNamesAreCutAt255Characters) {
  EnsureManagers();
  std::string name(300, 'n');
  for (size_t i = 0; i < name.size(); ++i) name[i] = char('a' + i % 26);
  ThMutex m = nullptr;
  ASSERT_EQ(ThMutexCreate(&m, name.c_str()), kNoErr);
  EXPECT_EQ(std::memcmp(&m->signature, "Mutx", 4), 0);
  // The name ends at the record's last byte, a NUL: nothing follows it inside the record.
  EXPECT_EQ(sizeof(ThMutexRec), offsetof(ThMutexRec, name) + 256);
  EXPECT_EQ(m->name[255], 0);
  EXPECT_EQ(std::string(m->name), name.substr(0, 255));
  EXPECT_EQ(AZHeapCheck(0), kNoErr);
  ThMutexDestroy(m);

  ThEvent e = nullptr;
  ASSERT_EQ(ThEventCreate(&e, name.c_str(), false), kNoErr);
  EXPECT_EQ(std::memcmp(&e->signature, "Evnt", 4), 0);
  EXPECT_EQ(std::string(e->name), name.substr(0, 255));
  ThEventDestroy(e);
}

// Events --------------------------------------------------------------------------

namespace {
// A waiter thread and what it saw, under a mutex of its own.
struct Waiter {
  ThEvent event = nullptr;
  ThTimedEvent timed = nullptr;
  ThMutex lock = nullptr;
  bool done = false;
  int32 result = -5;
  uInt32 endedAt = 0;
  uInt32 timeout = kThWaitForever;

  Waiter() { ThMutexCreate(&lock, "waiter"); }
  ~Waiter() { ThMutexDestroy(lock); }
  bool Done() {
    ThMutexAcquire(lock);
    bool d = done;
    ThMutexRelease(lock);
    return d;
  }
  void Finish(int32 r) {
    ThMutexAcquire(lock);
    done = true;
    result = r;
    endedAt = MilliSecs();
    ThMutexRelease(lock);
  }
};
int32 WaitEvent(void* p) {
  auto* w = static_cast<Waiter*>(p);
  ThEventWait(w->event);
  w->Finish(0);
  return 0;
}
// A pumping waiter that first makes its input channel and tells the test
// its kernel thread id, so that input raised for it from then on is kept and
// the test can see when it blocks.
struct PumpingWaiter : Waiter {
  std::atomic<pid_t> tid{0};
};
int32 WaitPumping(void* p) {
  auto* w = static_cast<PumpingWaiter*>(p);
  PlatThreadRegisterInput();
  w->tid = pid_t(syscall(SYS_gettid));
  w->Finish(ThEventWaitPumping(w->event, w->timeout));
  return 0;
}

// The system call a thread of this process is blocked in, -1 when it runs,
// or -2 when the host doesn't tell.
long BlockedSyscall(pid_t tid) {
  std::string name = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  FILE* f = std::fopen(name.c_str(), "r");
  if (!f) return -2;
  char word[32] = {0};
  int got = std::fscanf(f, "%31s", word);
  std::fclose(f);
  if (got != 1) return -2;
  if (std::strcmp(word, "running") == 0) return -1;
  return std::strtol(word, nullptr, 10);
}

// Waits until the thread sits in poll(), where a pumping wait blocks; the
// only call that can block between the announcement and the end of its wait.
// Where the host doesn't say, a pause stands in for it.
void UntilBlockedInPoll(const PumpingWaiter& w) {
  while (!w.tid) std::this_thread::yield();
  const long kPoll = 168, kPpoll = 309, kPpollTime64 = 414;  // i386 numbers
  // An emulated thread blocks in the host's own call, shown by its x86-64 number.
  const long kHostPoll = 7, kHostPpoll = 271;
  const bool emulated = qxtest::UnderUserModeEmulation();
  for (;;) {
    long nr = BlockedSyscall(w.tid);
    if (nr == -2) {
      WSleep(50);
      return;
    }
    if (nr == kPoll || nr == kPpoll || nr == kPpollTime64) return;
    if (emulated && (nr == kHostPoll || nr == kHostPpoll)) return;
    std::this_thread::yield();
  }
}
int32 WaitTimed(void* p) {
  auto* w = static_cast<Waiter*>(p);
  ThTimedEventWait(w->timed);
  w->Finish(0);
  return 0;
}
}  // namespace

TEST(ThEventThreads, CreatedSignalledReleasesOneWaitThenBlocks) {
  EnsureManagers();
  Waiter w;
  ASSERT_EQ(ThEventCreate(&w.event, "ev", true), kNoErr);
  EXPECT_EQ(w.event->flag, 0);
  ThEventWait(w.event);
  EXPECT_EQ(w.event->flag, 1);
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, WaitEvent, &w), kNoErr);
  WSleep(50);
  EXPECT_FALSE(w.Done());
  ThEventSignal(w.event);
  ThThreadDestroy(t);
  EXPECT_TRUE(w.Done());
  ThEventDestroy(w.event);

  ThEventSignal(nullptr);
  ThEventWait(nullptr);
  EXPECT_EQ(ThEventWaitPumping(nullptr, 0), kThWaitFailed);
  ThEventDestroy(nullptr);
}

TEST(ThEventThreads, TwoSignalsAreConsumedByOneWait) {
  EnsureManagers();
  Waiter w;
  ASSERT_EQ(ThEventCreate(&w.event, nullptr, false), kNoErr);
  EXPECT_EQ(w.event->flag, 1);
  ThEventSignal(w.event);
  ThEventSignal(w.event);
  ThEventWait(w.event);
  EXPECT_EQ(w.event->flag, 1);
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, WaitEvent, &w), kNoErr);
  WSleep(50);
  EXPECT_FALSE(w.Done()) << "the second signal was not kept for another wait";
  ThEventSignal(w.event);
  ThThreadDestroy(t);
  EXPECT_TRUE(w.Done());
  ThEventDestroy(w.event);
}

TEST(ThEventThreads, PumpingWaitEndsOnInputOnTimeOutAndOnSignal) {
  EnsureManagers();
  PumpingWaiter w;
  ASSERT_EQ(ThEventCreate(&w.event, nullptr, false), kNoErr);
  // Messages earlier tests posted to this thread left its input signal raised.
  while (ThEventWaitPumping(w.event, 0) == kThWaitInput) {
  }

  // Window input for the waiting thread, raised once its input channel
  // exists (input that comes before the wait itself is kept).
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, WaitPumping, &w), kNoErr);
  while (!w.tid) std::this_thread::yield();
  EXPECT_TRUE(PlatThreadRaiseInput(t->id));
  ThThreadDestroy(t);
  EXPECT_EQ(w.result, kThWaitInput);
  EXPECT_EQ(w.event->flag, 1);

  // The time-out.
  uInt32 start = MilliSecs();
  EXPECT_EQ(ThEventWaitPumping(w.event, 30), kThWaitTimeout);
  EXPECT_GE(MillisecCmp(MilliSecs(), start), 30);
  EXPECT_EQ(ThEventWaitPumping(w.event, 0), kThWaitTimeout);

  // Input raised for the starting thread before it waits is not lost.
  EXPECT_TRUE(PlatThreadRaiseInput(ThThreadCurrent()->id));
  EXPECT_EQ(ThEventWaitPumping(w.event, kThWaitForever), kThWaitInput);

  // A signal during the wait ends it and stays pending for the next wait.
  w.done = false;
  w.tid = 0;
  ASSERT_EQ(ThThreadCreate(&t, WaitPumping, &w), kNoErr);
  UntilBlockedInPoll(w);
  ThEventSignal(w.event);
  ThThreadDestroy(t);
  EXPECT_EQ(w.result, kThWaitEvent);
  EXPECT_EQ(w.event->flag, 0);
  EXPECT_EQ(ThEventWaitPumping(w.event, 0), kThWaitEvent);
  ThEventSignal(w.event);
  ThEventWait(w.event);  // returns at once
  ThEventDestroy(w.event);
}

TEST(ThEventThreads, DeadlineEventWaitsForItsDeadline) {
  EnsureManagers();
  Waiter w;
  ASSERT_EQ(ThTimedEventCreate(&w.timed, false), kNoErr);
  EXPECT_EQ(std::memcmp(&w.timed->signature, "Evnt", 4), 0);
  EXPECT_EQ(w.timed->deadline, 0u);
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, WaitTimed, &w), kNoErr);
  WSleep(50);
  EXPECT_FALSE(w.Done()) << "deadline 0 waits without limit";
  uInt32 deadline = MilliSecs() + 60;
  ThTimedEventSet(w.timed, deadline);
  ThThreadDestroy(t);
  ASSERT_TRUE(w.Done());
  // A wait of 2 ms or more is aimed 1 ms short of the deadline.
  EXPECT_GE(MillisecCmp(w.endedAt, deadline), -1);

  // Moving the deadline earlier wakes the waiter sooner.
  w.done = false;
  uInt32 start = MilliSecs();
  ThTimedEventSet(w.timed, start + 5000);
  ASSERT_EQ(ThThreadCreate(&t, WaitTimed, &w), kNoErr);
  WSleep(30);
  EXPECT_FALSE(w.Done());
  deadline = MilliSecs() + 40;
  ThTimedEventSet(w.timed, deadline);
  ThThreadDestroy(t);
  ASSERT_TRUE(w.Done());
  EXPECT_GE(MillisecCmp(w.endedAt, deadline), -1);
  EXPECT_LT(MillisecCmp(w.endedAt, start), 2500);

  // A deadline already past returns without waiting.
  ThTimedEventSet(w.timed, MilliSecs() - 10);
  start = MilliSecs();
  ThTimedEventWait(w.timed);
  EXPECT_LT(MillisecCmp(MilliSecs(), start), 1000);
  ThTimedEventDestroy(w.timed);

  ThTimedEventSet(nullptr, 5);
  ThTimedEventWait(nullptr);
  ThTimedEventDestroy(nullptr);
}

namespace {
// One side of a ping-pong: waits on its own event and signals the other's,
// `rounds` times; the first side starts by signalling.
struct PingPong {
  ThEvent mine = nullptr;
  ThEvent theirs = nullptr;
  int32 rounds = 0;
  bool starts = false;
  std::atomic<int32> done{0};
};
int32 PlayPingPong(void* p) {
  auto* s = static_cast<PingPong*>(p);
  for (int32 i = 0; i < s->rounds; ++i) {
    if (s->starts) {
      ThEventSignal(s->theirs);
      ThEventWait(s->mine);
    } else {
      ThEventWait(s->mine);
      ThEventSignal(s->theirs);
    }
    s->done.store(i + 1, std::memory_order_relaxed);
  }
  return 0;
}
}  // namespace

// Four pairs of threads hand a signal back and forth: a lost wake-up would
// leave both sides of a pair waiting for good.
TEST(ThEventThreads, EightThreadsPingPongLoseNoWakeUp) {
  EnsureManagers();
  const int32 rounds = std::getenv("QX_UNDER_VALGRIND") ? 2000 : 100000;
  constexpr int kPairs = 4;
  ThEvent events[2 * kPairs] = {};
  PingPong sides[2 * kPairs];
  for (ThEvent& e : events) ASSERT_EQ(ThEventCreate(&e, nullptr, false), kNoErr);
  for (int p = 0; p < kPairs; ++p) {
    PingPong& a = sides[2 * p];
    PingPong& b = sides[2 * p + 1];
    a.mine = b.theirs = events[2 * p];
    b.mine = a.theirs = events[2 * p + 1];
    a.rounds = b.rounds = rounds;
    a.starts = true;
  }
  // The progress words are only watched for a stall.
  for (PingPong& s : sides) ANNOTATE_BENIGN_RACE_SIZED(&s.done, sizeof s.done, "progress counter");
  ThThread threads[2 * kPairs] = {};
  for (int i = 0; i < 2 * kPairs; ++i) ASSERT_EQ(ThThreadCreate(&threads[i], PlayPingPong, &sides[i]), kNoErr);
  // A stall of ten seconds without progress is a lost wake-up.
  int32 last = -1;
  uInt32 since = MilliSecs();
  for (;;) {
    int32 sum = 0;
    for (PingPong& s : sides) sum += s.done.load(std::memory_order_relaxed);
    if (sum == 2 * kPairs * rounds) break;
    if (sum != last) {
      last = sum;
      since = MilliSecs();
    }
    ASSERT_LT(MillisecCmp(MilliSecs(), since), 10000) << "no progress: a wake-up was lost";
    WSleep(5);
  }
  for (ThThread t : threads) ThThreadDestroy(t);
  for (ThEvent e : events) {
    EXPECT_EQ(e->flag, 1) << "every signal was consumed";
    EXPECT_EQ(e->sleepers, 0);
    ThEventDestroy(e);
  }
}

// A signal that finds nobody blocked stores the flag only; one that finds a
// sleeper also sets the host event, which wakes it.
TEST(ThEventThreads, SignalSetsTheHostEventOnlyForASleeper) {
  EnsureManagers();
  ThEvent e = nullptr;
  ASSERT_EQ(ThEventCreate(&e, nullptr, false), kNoErr);
  const int32 before = ThEventHostSetCount();
  ThEventSignal(e);
  ThEventSignal(e);
  EXPECT_EQ(ThEventHostSetCount(), before);
  EXPECT_EQ(e->flag, 0);
  ThEventWait(e);
  EXPECT_EQ(e->flag, 1);
  EXPECT_EQ(ThEventWaitPumping(e, 0), kThWaitTimeout);
  EXPECT_EQ(ThEventHostSetCount(), before);

  // A thread blocked in the wait is woken through the host event.
  PumpingWaiter w;
  w.event = e;
  ThThread t = nullptr;
  ASSERT_EQ(ThThreadCreate(&t, WaitPumping, &w), kNoErr);
  UntilBlockedInPoll(w);
  EXPECT_EQ(e->sleepers, 1);
  ThEventSignal(e);
  ThThreadDestroy(t);
  EXPECT_EQ(w.result, kThWaitEvent);
  EXPECT_EQ(ThEventHostSetCount(), before + 1);
  EXPECT_EQ(e->sleepers, 0);

  // A wait outside the manager brackets itself: inside the bracket a signal
  // sets the host event, which a poll() of the descriptor sees.
  ThEventWait(e);  // consumes the signal left by the pumping wait
  EXPECT_FALSE(ThEventSleepBegin(e));
  ThEventSignal(e);
  EXPECT_EQ(ThEventHostSetCount(), before + 2);
  EXPECT_EQ(PlatEventWait(e->host, 0), kPlatWaitEvent);
  ThEventSleepEnd(e);
  EXPECT_TRUE(ThEventSleepBegin(e)) << "the flag is still pending";
  ThEventSleepEnd(e);
  EXPECT_EQ(e->sleepers, 0);
  EXPECT_TRUE(ThEventSleepBegin(nullptr));
  ThEventSleepEnd(nullptr);
  ThEventDestroy(e);
}
