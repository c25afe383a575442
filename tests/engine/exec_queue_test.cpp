// Run queues: placement by level, removal, yields and resting elements.
#include <algorithm>
#include <memory>
#include <random>
#include <thread>

#include "exec_test_support.h"

using namespace qxexectest;

namespace {

class QueueTest : public ExecTest {
 protected:
  void TearDown() override {
    for (ExecQueue* q : queues_) DisposeExecQueue(q);
    ExecTest::TearDown();
  }
  ExecQueue* Queue(int levels) {
    ExecQueue* q = NewExecQueue(levels);
    EXPECT_NE(q, nullptr);
    queues_.push_back(q);
    return q;
  }
  // A data space of each priority 0..5.
  DataSpace Ds(int priority) {
    if (!ds_[priority]) ds_[priority] = std::make_unique<TestDataSpace>(priority);
    return ds_[priority]->handle();
  }
  static std::vector<QueueElement*> Drain(ExecQueue* q) {
    std::vector<QueueElement*> out;
    while (QueueElement* e = DeQElm(q)) out.push_back(e);
    return out;
  }
  std::vector<ExecQueue*> queues_;
  std::unique_ptr<TestDataSpace> ds_[6];
};

TEST_F(QueueTest, NewQueueTailsDesignateTheHead) {
  for (int levels = 1; levels <= 5; ++levels) {
    ExecQueue* q = Queue(levels);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->signature, kExecQueueSig);
    EXPECT_EQ(q->levels, levels);
    EXPECT_EQ(q->head, nullptr);
    QueueElement*** tails = &q->tail[0];
    for (int k = 0; k <= levels; ++k) EXPECT_EQ(tails[k], &q->head) << levels << " " << k;
  }
  EXPECT_EQ(ExecFailures(), 0);
  for (int bad : {0, 6, -1}) EXPECT_EQ(NewExecQueue(bad), nullptr) << bad;
  EXPECT_EQ(ExecFailures(), 3);
}

TEST_F(QueueTest, LevelsComeOutHighestFirstInArrivalOrder) {
  ExecQueue* q = Queue(5);
  QueueElement e[4] = {NewElement(Ds(1)), NewElement(Ds(3)), NewElement(Ds(3)), NewElement(Ds(5))};
  for (QueueElement& x : e) InsertQElm(q, &x);
  EXPECT_EQ(e[0].level, 1);
  EXPECT_EQ(e[3].level, 5);
  std::vector<QueueElement*> want = {&e[3], &e[1], &e[2], &e[0]};
  EXPECT_EQ(Drain(q), want);
  EXPECT_EQ(DeQElm(q), nullptr);
  for (QueueElement& x : e) EXPECT_EQ(x.next, nullptr);
  EXPECT_EQ(ExecFailures(), 0);
}

// Levels above the queue's level count stand at its top level, in arrival order.
TEST_F(QueueTest, LevelAboveTheCountGoesToTheTop) {
  struct Case {
    int levels;
    std::vector<int> in;
    std::vector<int> outOrder;  // indexes into in
  } cases[] = {
      {3, {1, 5}, {1, 0}},
      {3, {3, 5, 4, 2}, {0, 1, 2, 3}},
      {5, {4, 5, 0}, {1, 0, 2}},
      {1, {3, 1, 5, 2, 0}, {0, 1, 2, 3, 4}},  // the rest queue keeps arrival order
      {1, {0, 2, 0, 1}, {1, 3, 0, 2}},
      {2, {0, 1, 2, 5, 1}, {2, 3, 1, 4, 0}},
  };
  for (const Case& c : cases) {
    ExecQueue* q = Queue(c.levels);
    std::vector<QueueElement> e;
    for (int lv : c.in) e.push_back(NewElement(Ds(lv)));
    for (QueueElement& x : e) InsertQElm(q, &x);
    std::vector<QueueElement*> want;
    for (int i : c.outOrder) want.push_back(&e[i]);
    EXPECT_EQ(Drain(q), want) << "levels " << c.levels;
  }
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, RemovingHeadMiddleAndLastKeepsLaterInsertsInOrder) {
  ExecQueue* q = Queue(5);
  QueueElement a = NewElement(Ds(5)), b = NewElement(Ds(3)), c = NewElement(Ds(3)), d = NewElement(Ds(1));
  QueueElement e = NewElement(Ds(3)), f = NewElement(Ds(1)), g = NewElement(Ds(3)), h = NewElement(Ds(5));
  for (QueueElement* x : {&a, &b, &c, &d}) InsertQElm(q, x);
  EXPECT_TRUE(RemQElm(q, &b));  // middle
  EXPECT_EQ(b.next, nullptr);
  InsertQElm(q, &e);
  EXPECT_TRUE(RemQElm(q, &a));  // head
  EXPECT_TRUE(RemQElm(q, &d));  // last
  EXPECT_FALSE(RemQElm(q, &d));
  InsertQElm(q, &f);
  InsertQElm(q, &g);
  InsertQElm(q, &h);
  std::vector<QueueElement*> want = {&h, &c, &e, &g, &f};
  EXPECT_EQ(Drain(q), want);
  EXPECT_FALSE(RemQElm(q, &c));
  EXPECT_EQ(ExecFailures(), 0);
}

// Random inserts, removals and takes against a plain list kept in order.
TEST_F(QueueTest, RandomOperationsMatchAModel) {
  std::mt19937 rng(24);
  for (int levels = 1; levels <= 5; ++levels) {
    ExecQueue* q = Queue(levels);
    std::vector<QueueElement> pool(64);
    for (size_t i = 0; i < pool.size(); ++i) pool[i] = NewElement(Ds(int(i % 6)));
    std::vector<QueueElement*> model;
    auto capped = [&](QueueElement* x) { return std::min<int>(x->level, levels); };
    for (int step = 0; step < 4000; ++step) {
      int op = int(rng() % 3);
      QueueElement* x = &pool[rng() % pool.size()];
      bool queued = std::find(model.begin(), model.end(), x) != model.end();
      if (op == 0 && !queued) {
        InsertQElm(q, x);
        auto at = std::find_if(model.begin(), model.end(), [&](QueueElement* y) { return capped(y) < capped(x); });
        model.insert(at, x);
      } else if (op == 1) {
        ASSERT_EQ(RemQElm(q, x), queued ? 1 : 0);
        if (queued) model.erase(std::find(model.begin(), model.end(), x));
      } else {
        QueueElement* got = DeQElm(q);
        ASSERT_EQ(got, model.empty() ? nullptr : model.front());
        if (!model.empty()) model.erase(model.begin());
      }
      // The chain and the model agree after every step.
      std::vector<QueueElement*> chain;
      for (QueueElement* y = q->head; y && chain.size() <= pool.size(); y = y->next) chain.push_back(y);
      ASSERT_EQ(chain, model) << "levels " << levels << " step " << step;
    }
  }
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, BadCallsAreReported) {
  ExecQueue* q = Queue(5);
  QueueElement a = NewElement(Ds(2)), b = NewElement(Ds(2));
  InsertQElm(q, &a);
  InsertQElm(q, &b);

  ClearReports();
  InsertQElm(q, &a);  // queued, with a next element
  EXPECT_EQ(ExecFailures(), 1);
  InsertQElm(q, &b);  // queued as the last element
  EXPECT_EQ(ExecFailures(), 2);

  QueueElement bad = NewElement(Ds(1));
  bad.signature = FourCC("QELX");
  InsertQElm(q, &bad);
  EXPECT_EQ(ExecFailures(), 3);
  EXPECT_FALSE(RemQElm(q, &bad));
  EXPECT_EQ(ExecFailures(), 4);

  TestDataSpace high(9);
  QueueElement tooHigh = NewElement(high.handle());
  InsertQElm(q, &tooHigh);
  EXPECT_EQ(ExecFailures(), 5);
  EXPECT_EQ(tooHigh.level, 5);  // kept, at the top
  EXPECT_EQ(q->head, &tooHigh);

  uInt32 saved = q->signature;
  q->signature = 0;
  EXPECT_EQ(DeQElm(q), nullptr);
  EXPECT_EQ(ExecFailures(), 6);
  q->signature = saved;

  std::vector<QueueElement*> want = {&tooHigh, &a, &b};
  EXPECT_EQ(Drain(q), want);
}

// A run record of one slot made by hand, without threads.
struct HandRecord {
  HandRecord() {
    rec.signature = kExecRunRecordSig;
    rec.runQueue = NewExecQueue(5);
    rec.restQueue = NewExecQueue(1);
    ctx.signature = kExecContextSig;
    ctx.runRecord = &rec;
    ctx.running.store(1);
  }
  ~HandRecord() {
    DisposeExecQueue(rec.runQueue);
    DisposeExecQueue(rec.restQueue);
  }
  ExecRunRecord rec{};
  ExecContext ctx{};
};

TEST_F(QueueTest, YieldKeepsTheElementWhenNothingOutranksIt) {
  HandRecord r;
  QueueElement y = NewElement(Ds(3));
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &y);  // empty queue
  QueueElement low = NewElement(Ds(1));
  EnQElm(&r.rec, &low);
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &y);  // lower-level head
  EXPECT_EQ(r.rec.runQueue->head, &low);
  EXPECT_EQ(low.next, nullptr);
  EXPECT_EQ(y.next, nullptr);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, YieldAtAnEqualLevelTakesTurns) {
  HandRecord r;
  QueueElement a = NewElement(Ds(3)), b = NewElement(Ds(3)), y = NewElement(Ds(3)), low = NewElement(Ds(2));
  for (QueueElement* x : {&a, &low, &b}) EnQElm(&r.rec, x);
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &a);
  // The yielder stands behind its peers and before lower levels.
  std::vector<QueueElement*> want = {&b, &y, &low};
  std::vector<QueueElement*> got;
  while (QueueElement* x = WaitDeQElm(&r.rec, 0, &r.ctx)) got.push_back(x);
  EXPECT_EQ(got, want);

  // A higher head is taken as well.
  QueueElement high = NewElement(Ds(4));
  EnQElm(&r.rec, &high);
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &high);
  EXPECT_EQ(r.rec.runQueue->head, &y);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, RestingElementsComeBackOnEverySecondYield) {
  HandRecord r;
  QueueElement rest1 = NewElement(Ds(1)), rest2 = NewElement(Ds(1)), y = NewElement(Ds(1));
  for (QueueElement* x : {&rest1, &rest2}) {
    x->runningContext = &r.ctx;
    Rest(x);
  }
  EXPECT_TRUE(r.rec.restPending);
  EXPECT_EQ(r.rec.runQueue->head, nullptr);
  // First yield: the toggle flips, nothing moves.
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &y);
  EXPECT_TRUE(r.rec.restPending);
  EXPECT_EQ(r.rec.runQueue->head, nullptr);
  // Second yield: both come back, in order, and the first takes the turn.
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &rest1);
  EXPECT_FALSE(r.rec.restPending);
  EXPECT_EQ(r.rec.restQueue->head, nullptr);
  std::vector<QueueElement*> got;
  while (QueueElement* x = WaitDeQElm(&r.rec, 0, &r.ctx)) got.push_back(x);
  std::vector<QueueElement*> want = {&rest2, &y};
  EXPECT_EQ(got, want);

  // Rest again: a third and fourth yield bring it back once more.
  rest1.runningContext = &r.ctx;
  Rest(&rest1);
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &y);
  EXPECT_EQ(SwitchQElm(&r.rec, &y), &rest1);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, TakingFromAnEmptyRunQueueTakesAResterAndSignalsForTheRest) {
  HandRecord r;
  QueueElement a = NewElement(Ds(1)), b = NewElement(Ds(2));
  for (QueueElement* x : {&a, &b}) {
    x->runningContext = &r.ctx;
    Rest(x);
  }
  EXPECT_EQ(WaitDeQElm(&r.rec, 0, &r.ctx), &a);
  EXPECT_TRUE(r.rec.restPending);
  EXPECT_EQ(WaitDeQElm(&r.rec, 0, &r.ctx), &b);
  EXPECT_FALSE(r.rec.restPending);
  EXPECT_EQ(WaitDeQElm(&r.rec, 0, &r.ctx), nullptr);
  // A stopped context takes nothing.
  EnQElm(&r.rec, &a);
  r.ctx.running.store(0);
  EXPECT_EQ(WaitDeQElm(&r.rec, 1, &r.ctx), nullptr);
  EXPECT_EQ(r.rec.runQueue->head, &a);
}

// A slot's own event is signalled only while one of its threads sleeps on
// it; a sleeping taker is woken by the next queueing and takes the element.
TEST_F(QueueTest, QueueingSignalsOnlySleepingSlotThreads) {
  HandRecord r;
  r.rec.slot = 2;
  r.rec.ownsEvent = 1;
  ASSERT_EQ(ThEventCreate(&r.rec.event, "test:qeAvail", 0), kNoErr);
  ASSERT_EQ(ThMutexCreate(&r.rec.mutex, "test:qRights"), kNoErr);
  auto signalled = [&] {
    const bool set = ThEventSleepBegin(r.rec.event);
    ThEventSleepEnd(r.rec.event);
    return set;
  };
  QueueElement a = NewElement(Ds(2)), b = NewElement(Ds(2));
  EnQElm(&r.rec, &a);
  EXPECT_FALSE(signalled()) << "no thread of the slot sleeps";
  EXPECT_EQ(WaitDeQElm(&r.rec, 1, &r.ctx), &a) << "a queued element is taken without a wait";
  EXPECT_EQ(r.rec.sleeping, 0);

  // A taker that finds nothing counts itself and sleeps until b comes.
  std::atomic<QueueElement*> got{nullptr};
  std::thread taker([&] { got.store(WaitDeQElm(&r.rec, 1, &r.ctx)); });
  for (int i = 0; i < 10000; ++i) {
    ThMutexAcquire(r.rec.mutex);
    const int32 sleeping = r.rec.sleeping;
    ThMutexRelease(r.rec.mutex);
    if (sleeping == 1) break;
    WSleep(1);
  }
  EnQElm(&r.rec, &b);
  taker.join();
  EXPECT_EQ(got.load(), &b);
  EXPECT_EQ(r.rec.sleeping, 0) << "the woken taker no longer counts";

  // The user-interface slot's event has other waiters: always signalled.
  r.rec.slot = 0;
  EnQElm(&r.rec, &a);
  EXPECT_TRUE(signalled());
  ThEventDestroy(r.rec.event);
  ThMutexDestroy(r.rec.mutex);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, AResetPendingElementNeverRests) {
  HandRecord r;
  QueueElement x = NewElement(Ds(2));
  x.runningContext = &r.ctx;
  x.resetPending = 1;
  Rest(&x);
  EXPECT_EQ(r.rec.runQueue->head, &x);
  EXPECT_EQ(r.rec.restQueue->head, nullptr);
  EXPECT_FALSE(r.rec.restPending);
  EXPECT_EQ(ExecFailures(), 0);
}

TEST_F(QueueTest, RestWithoutARunningContextIsReported) {
  HandRecord r;
  QueueElement x = NewElement(Ds(2));
  x.signature = 0;
  Rest(&x);
  EXPECT_EQ(ExecFailures(), 1);
  x.signature = kQueueElementSig;
  x.runningContext = nullptr;
  // Without a started system there is no record to park it on either.
  Rest(&x);
  EXPECT_GE(ExecFailures(), 2);
  EXPECT_EQ(r.rec.restQueue->head, nullptr);
}

// With the execution systems started without threads, WakeUpRest brings the
// resting elements of the user-interface record back.
TEST_F(QueueTest, WakeUpRestMovesEveryRestingElement) {
  SetKey("ESys.StdNParallel", 0);
  ASSERT_EQ(InitExec(), kNoErr);
  ExecRunRecord* rec = ExecRunRecordAt(0);
  ASSERT_NE(rec, nullptr);
  QueueElement a = NewElement(Ds(1)), b = NewElement(Ds(3));
  for (QueueElement* x : {&a, &b}) {
    x->runningContext = GetCurExecContext();
    Rest(x);
  }
  EXPECT_EQ(rec->runQueue->head, nullptr);
  WakeUpRest();
  EXPECT_FALSE(rec->restPending);
  EXPECT_EQ(WaitDeQElm(rec, 0, GetCurExecContext()), &b);
  EXPECT_EQ(WaitDeQElm(rec, 0, GetCurExecContext()), &a);
  EXPECT_EQ(ExecFailures(), 0);
}

}  // namespace
