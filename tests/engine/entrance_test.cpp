// VI entrances (callers wait, are sent back, are resumed by priority), the
// subroutine lock, resets through the entrance, and the code procedures of a
// data space.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "codeentry_test_support.h"
#include "engine/datatype.h"
#include "mgsource/byteorder.h"

using namespace qxcodetest;
using qxexectest::OnlySlots;
using qxtest::Reports;

namespace {

// The user events posted to the user-interface thread.
struct Posted {
  int32 code;
  int32 a1, a2, a3, a4, a5;
};
std::vector<Posted> gPosted;
MgErr RecordEvent(int32 window, int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, int32, int32) {
  EXPECT_EQ(window, kRootWindow);
  gPosted.push_back({code, a1, a2, a3, a4, a5});
  return kNoErr;
}

class EntranceTest : public CodeTest {
 protected:
  void SetUp() override {
    CodeTest::SetUp();
    gPosted.clear();
    ExecSetPostUserEventProc(&RecordEvent);
    OnlySlots({});
    ASSERT_EQ(InitExec(), kNoErr);
    ctx_ = ExecContextAt(0);
    record_ = ctx_->runRecord;
  }
  void TearDown() override {
    ExecSetPostUserEventProc(nullptr);
    CodeTest::TearDown();
  }
  // A caller element of the data space, running on the user-interface context.
  QueueElement Caller(CodeDS& ds, uInt32* flag) {
    QueueElement e = NewElement(ds.handle());
    e.runningContext = ctx_;
    e.flagRecord = flag;
    return e;
  }
  std::vector<QueueElement*> Queued() {
    std::vector<QueueElement*> v;
    for (QueueElement* e = record_->runQueue->head; e; e = e->next) v.push_back(e);
    return v;
  }
  void Drain() {
    while (DeQElm(record_->runQueue)) {
    }
  }
  ExecContext* ctx_ = nullptr;
  ExecRunRecord* record_ = nullptr;
};

TEST_F(EntranceTest, SecondCallerWaitsUntilVIExitResumesIt) {
  CodeDS sub(kPriNormal, kESysUserInterface, 0);
  CodeDS a(kPriNormal, kESysUserInterface, 0), b(kPriNormal, kESysUserInterface, 0);
  sub->subVIEntry = reinterpret_cast<void*>(0x1234);
  uInt32 fa = kQECallBit | kQEWaitingForLockBit, fb = kQECallBit;
  QueueElement ca = Caller(a, &fa), cb = Caller(b, &fb);

  EXPECT_EQ(VIEntrance(&ca, sub.entrance()), 1) << "free: in line";
  EXPECT_EQ(ctx_->current.load(), &sub.own());
  EXPECT_EQ(sub.own().runningContext, ctx_);
  EXPECT_EQ(sub.entrance()->owner, &ca);
  EXPECT_EQ(sub->busy, 1);
  EXPECT_EQ(fa & kQEWaitingForLockBit, 0u);
  EXPECT_EQ(ca.entryContext, ctx_);

  EXPECT_EQ(VIEntrance(&cb, sub.entrance()), 0) << "owned: waits";
  EXPECT_EQ(sub.entrance()->waitQueue->head, &cb);
  EXPECT_TRUE(Queued().empty());

  // The first caller leaves: it goes on here, the VI runs again for the second.
  EXPECT_EQ(VIExit(sub.entrance()), &ca);
  EXPECT_EQ(ctx_->current.load(), &ca);
  EXPECT_EQ(fa & kQECallBit, 0u);
  EXPECT_EQ(sub.entrance()->owner, &cb);
  EXPECT_EQ(sub.own().runState, 1);
  EXPECT_EQ(sub.own().code, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&sub.own()});
  EXPECT_EQ(sub->resetCount, 1);
  Drain();

  // The second leaves: the VI is free.
  sub.own().runningContext = ctx_;
  EXPECT_EQ(VIExit(sub.entrance()), &cb);
  EXPECT_EQ(sub.entrance()->owner, nullptr);
  EXPECT_EQ(sub->busy, 0);
  EXPECT_EQ(sub.own().runState, 0);
  EXPECT_EQ(fb & kQECallBit, 0u);
  EXPECT_EQ(sub->resetCount, 2);
  EXPECT_TRUE(Queued().empty());
}

TEST_F(EntranceTest, ResetPendingCallersAreSentBack) {
  CodeDS sub(kPriNormal, kESysUserInterface, 0);
  CodeDS a(kPriNormal, kESysUserInterface, 0), b(kPriNormal, kESysUserInterface, 0);
  uInt32 fa = kQECallBit, fb = kQECallBit;
  QueueElement ca = Caller(a, &fa), cb = Caller(b, &fb);

  // Free VI: run state 0, no call bit, back on its thread's queue.
  ca.resetPending = 1;
  ca.runState = 3;
  EXPECT_EQ(VIEntrance(&ca, sub.entrance()), 0);
  EXPECT_EQ(ca.runState, 0);
  EXPECT_EQ(fa & kQECallBit, 0u);
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&ca});
  EXPECT_EQ(sub.entrance()->owner, nullptr);
  Drain();

  // Owned VI: sent back with its run state kept.
  ca.resetPending = 0;
  fa = kQECallBit;
  ASSERT_EQ(VIEntrance(&ca, sub.entrance()), 1);
  cb.resetPending = 1;
  cb.runState = 4;
  EXPECT_EQ(VIEntrance(&cb, sub.entrance()), 0);
  EXPECT_EQ(cb.runState, 4);
  EXPECT_EQ(fb & kQECallBit, 0u);
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&cb});
  Drain();

  // A waiting caller that is being reset is sent back by VIExit, not resumed.
  fb = kQECallBit;
  cb.resetPending = 0;
  ASSERT_EQ(VIEntrance(&cb, sub.entrance()), 0);
  cb.resetPending = 1;
  EXPECT_EQ(VIExit(sub.entrance()), &ca);
  EXPECT_EQ(cb.runState, 0);
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&cb});
  EXPECT_EQ(sub.entrance()->owner, nullptr);
  EXPECT_EQ(sub->busy, 0);
  Drain();
}

// The message lock of a data space called by proxy: the entrance keeps it
// on return (the proxy procedure gives it up), VIExit takes and gives it up
// and, while there is one, never starts the VI for the next caller on the
// exiting thread but sends the exiting owner back; a reset keeps it for the
// proxy side.
int32 HeldDepth(ThMutex m) {
  return m && m->section.owner == PlatThreadToken() ? m->section.depth : 0;
}

TEST_F(EntranceTest, ProxyMessageLockIsKeptByTheEntranceAndStopsTheHandOverOnExit) {
  FinishExec();
  OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_TRUE(ExecThreadsOn());
  ctx_ = ExecContextAt(0);
  record_ = ctx_->runRecord;
  for (const bool proxy : {false, true}) {
    SCOPED_TRACE(proxy ? "called by proxy" : "no message lock");
    CodeDS sub(kPriNormal, kESysUserInterface, 0);
    CodeDS a(kPriNormal, kESysUserInterface, 0), b(kPriNormal, kESysUserInterface, 0);
    DisposeVIEntrance(sub.handle());
    ASSERT_EQ(NewVIEntrance(sub.handle(), 0, proxy ? 1 : 0), kNoErr);
    ThMutex lock = sub.entrance()->dsMessageLock;
    ASSERT_EQ(lock != nullptr, proxy);
    sub->subVIEntry = reinterpret_cast<void*>(0x1234);
    uInt32 fa = kQECallBit, fb = kQECallBit;
    QueueElement ca = Caller(a, &fa), cb = Caller(b, &fb);

    ASSERT_EQ(VIEntrance(&ca, sub.entrance()), 1);
    EXPECT_EQ(HeldDepth(lock), proxy ? 1 : 0) << "kept on return";
    EXPECT_EQ(HeldDepth(sub.entrance()->dsRights), 0);
    // The proxy procedure gives it up; another thread can take it now.
    ThMutexRelease(lock);
    std::atomic<int32> taken{0};
    std::thread other([&] {
      ThMutexAcquire(lock);
      taken = 1;
      ThMutexRelease(lock);
    });
    other.join();
    EXPECT_EQ(taken.load(), 1);
    ASSERT_EQ(VIEntrance(&cb, sub.entrance()), 0) << "the second caller waits";
    EXPECT_EQ(HeldDepth(lock), proxy ? 1 : 0);
    ThMutexRelease(lock);

    QueueElement* result = VIExit(sub.entrance());
    EXPECT_EQ(HeldDepth(lock), 0) << "VIExit gives it up again";
    EXPECT_EQ(sub.entrance()->owner, &cb);
    EXPECT_EQ(sub.own().runState, 1);
    if (proxy) {
      EXPECT_EQ(result, nullptr);
      EXPECT_EQ(Queued(), std::vector<QueueElement*>{&ca}) << "the exiting owner goes back to its thread";
    } else {
      EXPECT_EQ(result, &ca) << "the owner goes on here";
      EXPECT_EQ(Queued(), std::vector<QueueElement*>{&sub.own()});
      EXPECT_EQ(sub.own().code, reinterpret_cast<void*>(0x1234));
    }
    Drain();
    EXPECT_EQ(VIExit(sub.entrance()), &cb);
    EXPECT_EQ(HeldDepth(lock), 0);
    Drain();

    // A reset through the entrance keeps the lock for the proxy side.
    EXPECT_EQ(RemQEVIEntry(nullptr, sub.entrance()), 1);
    EXPECT_EQ(HeldDepth(lock), proxy ? 1 : 0);
    EXPECT_EQ(HeldDepth(sub.entrance()->dsRights), 0);
    ThMutexRelease(lock);
    UHandle list = ExecResetList();
    reinterpret_cast<int32*>(*list)[0] = 0;
  }
}

TEST_F(EntranceTest, HigherPriorityWaitingCallerIsResumedFirst) {
  CodeDS sub(kPriNormal, kESysUserInterface, 0);
  CodeDS a(kPriNormal, kESysUserInterface, 0), low(kPriNormal, kESysUserInterface, 0),
      high(kPriHigh, kESysUserInterface, 0);
  uInt32 f = 0;
  QueueElement ca = Caller(a, &f), cl = Caller(low, &f), ch = Caller(high, &f);
  ASSERT_EQ(VIEntrance(&ca, sub.entrance()), 1);
  ASSERT_EQ(VIEntrance(&cl, sub.entrance()), 0);
  ASSERT_EQ(VIEntrance(&ch, sub.entrance()), 0);
  EXPECT_EQ(VIExit(sub.entrance()), nullptr) << "a higher next caller: the exiting owner is queued";
  EXPECT_EQ(sub.entrance()->owner, &ch);
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&ca});
  Drain();
  sub.own().runningContext = ctx_;
  EXPECT_EQ(VIExit(sub.entrance()), &ch);
  EXPECT_EQ(sub.entrance()->owner, &cl);
  Drain();
  sub.own().runningContext = ctx_;
  EXPECT_EQ(VIExit(sub.entrance()), &cl);
  EXPECT_EQ(sub.entrance()->owner, nullptr);
  Drain();
}

TEST_F(EntranceTest, BusySubroutineSetsWaitingForLock) {
  CodeDS sub(kPriSubroutine, kESysSameAsCaller, 0, true);
  CodeDS a(kPriNormal, kESysUserInterface, 0), b(kPriNormal, kESysUserInterface, 0);
  uInt32 fa = 0, fb = 0;
  QueueElement ca = Caller(a, &fa), cb = Caller(b, &fb);
  ASSERT_NE(sub.entrance()->lockWord, nullptr);
  EXPECT_EQ(sub.entrance()->waitQueue, nullptr);

  EXPECT_EQ(SubrVIEntrance(&ca, sub.entrance()), 1);
  EXPECT_EQ(ctx_->current.load(), &sub.own());
  EXPECT_EQ(ctx_->subroutineCaller.load(), &ca);
  EXPECT_EQ(SubrVIEntrance(&cb, sub.entrance()), 0);
  EXPECT_EQ(fb & kQEWaitingForLockBit, kQEWaitingForLockBit);
  EXPECT_EQ(SubrVIExit(sub.entrance()), &ca);
  EXPECT_EQ(ctx_->subroutineCaller.load(), nullptr);
  EXPECT_EQ(ctx_->current.load(), &ca);
  EXPECT_EQ(*sub.entrance()->lockWord, 0);

  // The second caller gets in now; an owner in run state 5 goes on as 2.
  EXPECT_EQ(SubrVIEntrance(&cb, sub.entrance()), 1);
  EXPECT_EQ(fb & kQEWaitingForLockBit, 0u);
  cb.runState = 5;
  EXPECT_EQ(SubrVIExit(sub.entrance()), nullptr);
  EXPECT_EQ(cb.runState, 2);
  EXPECT_EQ(*sub.entrance()->lockWord, 0);
}

TEST_F(EntranceTest, RemQEVIEntryMarksTheResetAndGrowsTheResetList) {
  CodeDS sub(kPriNormal, kESysUserInterface, 0);
  CodeDS a(kPriNormal, kESysUserInterface, 0), b(kPriNormal, kESysUserInterface, 0);
  uInt32 f = kQECallBit;
  QueueElement ca = Caller(a, &f), cb = Caller(b, &f);
  ASSERT_EQ(VIEntrance(&ca, sub.entrance()), 1);
  ASSERT_EQ(VIEntrance(&cb, sub.entrance()), 0);

  // A waiting caller is taken out of the wait queue and sent back.
  EXPECT_EQ(RemQEVIEntry(&cb, sub.entrance()), 0);
  EXPECT_EQ(sub.entrance()->waitQueue->head, nullptr);
  EXPECT_EQ(Queued(), std::vector<QueueElement*>{&cb});
  Drain();
  // The run element only gets its reset-pending flag.
  EXPECT_EQ(RemQEVIEntry(&sub.run(), sub.entrance()), 0);
  EXPECT_EQ(sub.run().resetPending, 1);
  // An element in no queue of the entrance is not queued again.
  QueueElement stray = Caller(b, &f);
  EXPECT_EQ(RemQEVIEntry(&stray, sub.entrance()), 0);
  EXPECT_TRUE(Queued().empty());

  // The owner: a reset of the data space's chain.
  sub.run().resetPending = 0;
  QueueElement clump = NewElement(sub.handle());
  sub.own().chain = &clump;
  sub->suspendPending = 1;
  EXPECT_EQ(RemQEVIEntry(&ca, sub.entrance()), 1);
  EXPECT_EQ(sub->resetCount, 1);
  EXPECT_EQ(sub->wholeReset, 0);
  EXPECT_EQ(sub.own().runState, 2);
  EXPECT_EQ(sub->suspendPending, 0);
  EXPECT_EQ(sub.own().resetPending, 1);
  EXPECT_EQ(clump.resetPending, 1);
  auto* list = reinterpret_cast<int32*>(*ExecResetList());
  ASSERT_EQ(list[0], 1);
  EXPECT_EQ(list[1], int32(reinterpret_cast<intptr_t>(sub.handle())));
  // Again, without an element: a whole reset, entered once.
  EXPECT_EQ(RemQEVIEntry(nullptr, sub.entrance()), 1);
  EXPECT_EQ(sub->wholeReset, 1);
  EXPECT_EQ(reinterpret_cast<int32*>(*ExecResetList())[0], 1);

  // More data spaces than the list's first room: it grows.
  std::vector<DataSpace> many;
  for (int i = 0; i < kResetListRoom + 3; ++i) {
    DataSpace h = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize));
    (*h)->self = h;
    (*h)->entrance.signature = kVIEntranceSig;
    many.push_back(h);
    EXPECT_EQ(RemQEVIEntry(nullptr, &(*h)->entrance), 1);
  }
  list = reinterpret_cast<int32*>(*ExecResetList());
  EXPECT_EQ(list[0], kResetListRoom + 4);
  EXPECT_GE(DSGetHandleSize(ExecResetList()), 4 + 4 * (kResetListRoom + 4));
  EXPECT_EQ(list[kResetListRoom + 4], int32(reinterpret_cast<intptr_t>(many.back())));
  for (DataSpace h : many) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

// ---- Code procedures -------------------------------------------------------------------

std::atomic<int32> gSlot10Calls{0}, gInitCalls{0}, gTopCalls{0};
MgErr Slot10(DataSpace) {
  ++gSlot10Calls;
  return kNoErr;
}
int32 InitProc(DataSpace ds, int32 zero) {
  EXPECT_EQ(zero, 0);
  ++gInitCalls;
  VINormalInitCProcsHelper(ds, 0);
  DSProc(*ds, 10) = reinterpret_cast<void*>(&Slot10);
  return 0;
}

class ProcsTest : public EntranceTest {
 protected:
  void SetUp() override {
    EntranceTest::SetUp();
    gSlot10Calls = gInitCalls = gTopCalls = 0;
  }
};

TEST_F(ProcsTest, NormalAndCloneSlots) {
  CodeDS ds(kPriNormal, kESysUserInterface, 0);
  DSProc(*ds.handle(), 10) = reinterpret_cast<void*>(&Slot10);
  DSProc(*ds.handle(), 22) = reinterpret_cast<void*>(&InitProc);
  EXPECT_EQ(VINormalInitCProcsHelper(ds.handle(), 0), ds.handle());
  for (int32 s = kDSProcFirst; s <= kDSProcLast; ++s) {
    bool set = DSProc(*ds.handle(), s) != nullptr;
    EXPECT_EQ(set, s != 23) << "slot " << s;
  }
  EXPECT_EQ(DSProc(*ds.handle(), 21), reinterpret_cast<void*>(&DSCompletionTrampoline));
  EXPECT_EQ(DSProc(*ds.handle(), 25), reinterpret_cast<void*>(&DSCompletionProc));
  EXPECT_EQ(DSProc(*ds.handle(), 10), reinterpret_cast<void*>(&Slot10)) << "left to the compiled initialisation";

  CodeDS clone(kPriNormal, kESysUserInterface, 0);
  VINormalInitCProcsHelper(clone.handle(), 1);
  for (int32 s = kDSProcFirst; s <= kDSProcLast; ++s) {
    bool set = DSProc(*clone.handle(), s) != nullptr;
    EXPECT_EQ(set, s == 5 || s == 13 || s == 25) << "clone slot " << s;
  }
  // Slot 5 prepares the run element for the completion trampoline.
  DSCallProc5(clone.handle());
  EXPECT_EQ(clone.run().callKind, kCallTopLevelStart);
  EXPECT_EQ(clone.run().code, reinterpret_cast<void*>(&DSCompletionTrampoline));
  // Slots 6 and 7 give the own element.
  EXPECT_EQ(DSGetResumeElement(ds.handle()), &ds.own());
  EXPECT_EQ(ds.own().code, reinterpret_cast<void*>(&DSCompletionTrampoline));
  EXPECT_EQ(DSGetContinueElement(ds.handle()), &ds.own());
  EXPECT_EQ(ds.own().code, DSProc(*ds.handle(), 21));
}

TEST_F(ProcsTest, GuardedCallersOnBadVIsAndEmptySlots) {
  CodeDS ds(kPriNormal, kESysUserInterface, 0);
  // Empty slots: an assertion and 1, but the range check answers 0 silently.
  struct Call {
    const char* name;
    int32 (*call)(DataSpace);
  } calls[] = {
      {"11", [](DataSpace d) { return DSCallProc11(d); }},
      {"13", [](DataSpace d) { return DSCallResetProc(d, 1, 2, 3); }},
      {"17", [](DataSpace d) { return DSCallProc17(d, 1); }},
      {"18", [](DataSpace d) { return DSCallTransferProc(d, 1, 2, 3); }},
      {"19", [](DataSpace d) { return DSCallProc19(d, 1, 2); }},
      {"20", [](DataSpace d) { return DSCallDatalogProc(d, 1, 2); }},
  };
  for (const Call& c : calls) {
    Reports::Get().Clear();
    EXPECT_EQ(c.call(ds.handle()), 1) << c.name;
    EXPECT_EQ(Reports::Get().Count("empty procedure slot"), 1) << c.name;
  }
  Reports::Get().Clear();
  EXPECT_EQ(DSCallChkRangeProc(ds.handle(), 1, 2, 3), 0);
  DSCallDisposeProc(ds.handle());
  EXPECT_EQ(Reports::Get().Text(), "");

  // Normal slots: 0, and 13 posts the reset.
  VINormalInitCProcsHelper(ds.handle(), 0);
  for (const Call& c : calls) EXPECT_EQ(c.call(ds.handle()), 0) << c.name;
  ASSERT_EQ(gPosted.size(), 1u);
  EXPECT_EQ(gPosted[0].code, kUserEventReset);
  EXPECT_EQ(gPosted[0].a1, int32(reinterpret_cast<intptr_t>(ds.handle())));
  EXPECT_EQ(gPosted[0].a2, 2);
  EXPECT_EQ(gPosted[0].a3, 3);
  EXPECT_EQ(gPosted[0].a4, 1);

  // A bad VI: 2, or 0 for the range check, and nothing called.
  ds.VI()->flags |= kVIFlagBad;
  for (const Call& c : calls) EXPECT_EQ(c.call(ds.handle()), 2) << c.name;
  EXPECT_EQ(DSCallChkRangeProc(ds.handle(), 1, 2, 3), 0);
  EXPECT_EQ(gPosted.size(), 1u);
}

TEST_F(ProcsTest, ResetSlotCallsTheLinkedDataSpaceOnlyWhenItIsAnother) {
  CodeDS ds(kPriNormal, kESysUserInterface, 0), other(kPriNormal, kESysUserInterface, 0);
  VINormalInitCProcsHelper(ds.handle(), 0);
  VINormalInitCProcsHelper(other.handle(), 0);
  uInt32 f = 0;
  QueueElement owner = Caller(ds, &f);
  ASSERT_EQ(VIEntrance(&owner, ds.entrance()), 1);
  ds->word432 = 7;
  // No linked data space, then itself: the reset ends here.
  for (DataSpace linked : {DataSpace(nullptr), ds.handle()}) {
    ds->linkedDS = linked;
    DSCallResetClumps(ds.handle(), &owner);
    EXPECT_EQ(ds->word432, 0);
    EXPECT_EQ(other->resetCount, 0);
  }
  EXPECT_EQ(ds->resetCount, 2);
  // Another data space: its slot 8 gets this data space's run element.
  ds->linkedDS = other.handle();
  other->word432 = 7;
  DSCallResetClumps(ds.handle(), &owner);
  EXPECT_EQ(other->word432, 0) << "the other's slot 8 ran";
  EXPECT_EQ(other.run().resetPending, 0) << "not the other's run element";
  EXPECT_EQ(reinterpret_cast<int32*>(*ExecResetList())[0], 1);
}

TEST_F(ProcsTest, CompletionEnteredTwicePostsDoneOnce) {
  emit::Code c;
  c.SetEntry();
  c.IncMem(emit::EBP, kD);
  // The top-level code ends by entering the completion procedure.
  c.PushReg(emit::EAX);
  c.PushMem(emit::EBP, offsetof(DataSpaceHeader, self));
  c.CallMem(emit::EBP, offsetof(DataSpaceHeader, procs) + 4 * (25 - kDSProcFirst));
  c.AddRegImm(emit::ESP, 8);
  c.Ret();
  LoadedCode code(c.Finish());
  CodeDS ds(kPriNormal, kESysUserInterface, 0);
  SetCodeEntryAndPatch(code.handle(), ds.handle());
  VINormalInitCProcsHelper(ds.handle(), 0);
  DSProc(*ds.handle(), 21) = DSProc(*ds.handle(), 22);
  ds.flag_ = 99;
  DSCallProc5(ds.handle());
  ds.run().runningContext = ctx_;
  ctx_->current.store(&ds.run());
  EXPECT_EQ(CallCompiledCode(ds.run().code, ds.handle(), &ds.run()), 0);
  ctx_->current.store(nullptr);
  EXPECT_EQ(ds.Word(kD).load(), 1);
  EXPECT_EQ(ds.run().callKind, kCallTopLevelEntered);
  EXPECT_EQ(ds.flag_, 0u);
  ASSERT_EQ(gPosted.size(), 1u);
  EXPECT_EQ(gPosted[0].code, kUserEventDone);
  EXPECT_EQ(gPosted[0].a1, int32(reinterpret_cast<intptr_t>(ds.handle())));
  // A reset-pending run element goes straight to Done.
  gPosted.clear();
  DSCallProc5(ds.handle());
  ds.run().resetPending = 1;
  EXPECT_EQ(DSCompletionProc(ds.handle(), &ds.run()), 0);
  EXPECT_EQ(ds.Word(kD).load(), 1);
  EXPECT_EQ(gPosted.size(), 1u);
  // Another element counts as kind 1: an assertion, 0.
  QueueElement other = NewElement(ds.handle());
  EXPECT_EQ(DSCompletionProc(ds.handle(), &other), 0);
  EXPECT_EQ(Reports::Get().Count("unexpected call kind"), 1);
}

TEST_F(ProcsTest, InitDCOsOnBadVIsAndTheVersionFixUp) {
  CodeDS ds(kPriHigh, kESysStandard, 0);
  ds.VI()->viKind = 2;
  // A bad VI: every slot cleared, 2, slot 10 not called.
  VINormalInitCProcsHelper(ds.handle(), 0);
  DSProc(*ds.handle(), 10) = reinterpret_cast<void*>(&Slot10);
  ds.VI()->flags = kVIFlagBad;
  EXPECT_EQ(DSInitDCOs(ds.handle()), kMemFullErr);
  for (int32 s = kDSProcFirst; s <= kDSProcLast; ++s) EXPECT_EQ(DSProc(*ds.handle(), s), nullptr);
  EXPECT_EQ(gSlot10Calls.load(), 0);

  // Kinds other than 1, 2, 4, 6..9 are left alone.
  ds.VI()->flags = 0;
  ds.VI()->viKind = 3;
  DSProc(*ds.handle(), 10) = reinterpret_cast<void*>(&Slot10);
  EXPECT_EQ(DSInitDCOs(ds.handle()), kNoErr);
  EXPECT_EQ(gSlot10Calls.load(), 0);

  // Two controllers, one with a fifth word of 0, in a VI of the version window.
  ds.VI()->viKind = 2;
  ds.VI()->version = 0x05010000;
  UHandle td = DSNewHClr(16);
  (*td)[4 + 3] = 0;
  (*td)[8 + 3] = 0;
  ds->typeDesc = td;
  ds->dcoCount = 2;
  ds->dcoTableOffset = kD + 64;
  uChar* base = reinterpret_cast<uChar*>(*ds.handle()) + kD + 64;
  PutNative32(base + 4 * kDCOWordTD, 4);
  PutNative32(base + 4 * kDCOWordFifth, 0);
  PutNative32(base + 36 + 4 * kDCOWordTD, 8);
  PutNative32(base + 36 + 4 * kDCOWordFifth, 1);
  EXPECT_EQ(DSInitDCOs(ds.handle()), kNoErr);
  EXPECT_EQ(gSlot10Calls.load(), 1);
  EXPECT_EQ(ds->basePriority, kPriHigh);
  EXPECT_EQ(ds->effPriority, kPriHigh);
  EXPECT_EQ(ds->slot, ExecSysSlot(kPriHigh, kESysStandard));
  EXPECT_EQ((*td)[4 + 3] & kTDFlagNoShrink10, kTDFlagNoShrink10);
  EXPECT_EQ((*td)[8 + 3] & kTDFlagNoShrink10, 0);
  EXPECT_EQ(Reports::Get().Count("SETTING cleared tdNoShrinkMask in dco 0 of \""), 1);
  // Set already, or outside the window: no message.
  EXPECT_EQ(DSInitDCOs(ds.handle()), kNoErr);
  ds.VI()->version = kDCONoShrinkFixEnd;
  (*td)[4 + 3] = 0;
  EXPECT_EQ(DSInitDCOs(ds.handle()), kNoErr);
  EXPECT_EQ((*td)[4 + 3], 0);
  EXPECT_EQ(Reports::Get().Count("SETTING"), 1);
  // An empty slot 10: an assertion.
  DSProc(*ds.handle(), 10) = nullptr;
  EXPECT_EQ(DSInitDCOs(ds.handle()), 1);
  EXPECT_EQ(Reports::Get().Count("empty procedure slot"), 1);
  ds->typeDesc = nullptr;
  DSDisposeHandle(td);
}

TEST_F(ProcsTest, RunInitEntersOnlyCodeThatPatchingAccepted) {
  // The compiled initialisation: call the C procedure that fills the slots.
  emit::Code c;
  c.SetEntry();
  c.MovRegImm(emit::EAX, uint32_t(reinterpret_cast<uintptr_t>(&InitProc)));
  c.Byte(0xFF);  // jmp eax: the procedure returns to our caller
  c.Byte(0xE0);
  for (bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "accepted");
    gInitCalls = 0;
    emit::Code copy = c;
    if (refused) copy.AddPatch(8, 1707);
    LoadedCode code(copy.Finish());
    CodeDS ds(kPriNormal, kESysUserInterface, 0);
    ds.VI()->codeHandle = code.handle();
    SetCodeEntryAndPatch(code.handle(), ds.handle());
    DSRunInitProc(ds.handle());
    EXPECT_EQ(gInitCalls.load(), refused ? 0 : 1);
    EXPECT_EQ(DSProc(*ds.handle(), 25) != nullptr, !refused);
    // Slot 22 is set again from the code handle when it is empty.
    if (!refused) {
      DSProc(*ds.handle(), 22) = nullptr;
      DSRunInitProc(ds.handle());
      EXPECT_EQ(gInitCalls.load(), 2);
      EXPECT_EQ(DSProc(*ds.handle(), 22), code.At(24));
    }
  }
}

// The moved-block step of allocation: dispose, then the controllers again.
TEST_F(ProcsTest, MovedBlockRunsDisposeAndControllers) {
  CodeDS ds(kPriNormal, kESysStandard, 0);
  VINormalInitCProcsHelper(ds.handle(), 0);
  DSBlockMoved(reinterpret_cast<UHandle>(ds.handle()));
  EXPECT_EQ(gSlot10Calls.load(), 0) << "slot 10 empty";
  DSProc(*ds.handle(), 10) = reinterpret_cast<void*>(&Slot10);
  DSBlockMoved(reinterpret_cast<UHandle>(ds.handle()));
  EXPECT_EQ(gSlot10Calls.load(), 1);
  ds.VI()->eState = 2;
  DSBlockMoved(reinterpret_cast<UHandle>(ds.handle()));
  EXPECT_EQ(Reports::Get().Count("running VI's data space moved"), 1);
}

TEST_F(ProcsTest, DoneSuspendAndPostResetPost) {
  CodeDS ds(kPriNormal, kESysUserInterface, 0);
  ds->resetCount = 5;
  EXPECT_EQ(Done(ds.handle()), 0);
  Suspend(ds.handle());
  PostReset(ds.handle(), 11, -3, 43);
  ASSERT_EQ(gPosted.size(), 3u);
  EXPECT_EQ(gPosted[0].code, kUserEventDone);
  EXPECT_EQ(gPosted[1].code, kUserEventSuspend);
  EXPECT_EQ(gPosted[2].code, kUserEventReset);
  const int32 h = int32(reinterpret_cast<intptr_t>(ds.handle()));
  for (const Posted& p : gPosted) EXPECT_EQ(p.a1, h);
  EXPECT_EQ(gPosted[2].a2, 11);
  EXPECT_EQ(gPosted[2].a3, -3);
  EXPECT_EQ(gPosted[2].a4, 43);
  EXPECT_EQ(gPosted[2].a5, 5);
  // Without the shell's procedure nothing is posted and nothing fails.
  ExecSetPostUserEventProc(nullptr);
  EXPECT_EQ(Done(ds.handle()), 0);
  EXPECT_EQ(gPosted.size(), 3u);
}

}  // namespace
