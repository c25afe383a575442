// Calls through a strictly typed reference and the reference nodes, over VIs
// the tools write.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "mgsource/debug.h"
#include "mgsource/occur.h"
#include "rtlib/filehooks.h"
#include "rtlib/postedevt.h"
#include "server/callbyr.h"
#include "server/server_vi_fixture.h"
#include "tools/tdbuilder.h"

namespace {

using namespace runvi;

DataSpace FirstDS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }

// A caller's table of Add's pane over three words, and room for the
// callee's.
struct Tables {
  int32 a = 2, b = 3, sum = -1;
  ErrorIOCluster error{};
  struct Table {
    uInt32 tag, flags;
    ErrorIOCluster* error;
    VIRef ref;
    CallTermSlot slots[3];
  } caller{}, callee{};
  Tables() { caller = {kParamTableTag, kParamTableCallInProgress, &error, 0, {{&a, 1}, {&b, 1}, {&sum, 1}}}; }
  ~Tables() {
    if (error.source) DSDisposeHandle(reinterpret_cast<UHandle>(error.source));
  }
  ParamTable* Caller() { return reinterpret_cast<ParamTable*>(&caller); }
  ParamTable* Callee() { return reinterpret_cast<ParamTable*>(&callee); }
  int32 Code() const {
    const int32 c = error.code;
    return c;
  }
};

class CallByRefTest : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    DBSetContinueAfterFailure(1);
  }
  void TearDown() override {
    DBSetContinueAfterFailure(0);
    ServerVITest::TearDown();
  }
  // A native reference reserved for calls.
  VIRef Native(const std::string& name) {
    const VIRef ref = Open(name, kVIRefOptTrusted | kVIRefOptNative);
    EXPECT_EQ(Reserve(ref, kVIRefModeCall), kNoErr) << name;
    return ref;
  }
  // Add with the sum's connector flags replaced.
  UHandle LoadAddWithSumFlags(const std::string& name, uInt16 flags) {
    vif::VIFile v = runvi::File(name, Clumps::kAdd);
    v.connPane = tdb::Function(0, {0, 0, flags}, {tdb::I32().Named("a"), tdb::I32().Named("b"),
                                                   tdb::I32().Named("sum")});
    return ServerVITest::Load(name, vif::Write(v));
  }
  // Hands out user events 22 as the shell does, the others as the fixture does.
  static void PumpReleases() {
    WEventRecord e;
    while (WGetNextEvent(&e)) {
      if (e.code == kWEvUser && e.where == kUECallInUIThread) VIRefFinishRelease(int32(e.globalWhere));
      else HandleUserEvent(e);
    }
  }
};

// Every refusal of the prepare leaves the native count as it was and the
// error in the caller's cluster; a clone of a reentrant VI may call the VI.
TEST_F(CallByRefTest, ThePrepareRefusesWhatCannotBeCalledAndRestoresTheCount) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  UHandle radd = Load("RAdd.vi", Clumps::kAdd, kVIFlagReentrant);
  UHandle far = LoadAddWithSumFlags("Far.vi", kConnTermOutput | kConnTermFromCaller | 7);
  UHandle near = LoadAddWithSumFlags("Near.vi", kConnTermOutput | kConnTermFromCaller | 0);
  ASSERT_TRUE(add && radd && far && near);
  const VIRef addRef = Native("Add.vi"), raddRef = Native("RAdd.vi"), farRef = Native("Far.vi"),
              nearRef = Native("Near.vi");
  const VIRef untyped = Open("Add.vi", kVIRefOptTrusted | kVIRefOptNative);
  const VIRef released = Native("RAdd.vi");
  ASSERT_EQ(VIRefRelease(released), kNoErr);
  struct Case {
    const char* what;
    VIRef ref;
    DataSpace caller;
    bool tagged;
    MgErr want;
  } cases[] = {
      {"a VI calling itself", addRef, FirstDS(add), true, kVIRefRecursiveErr},
      {"a clone of a reentrant VI calling it", raddRef, FirstDS(radd), true, kNoErr},
      {"another VI calling", addRef, FirstDS(radd), true, kNoErr},
      {"a reference not reserved for calls", untyped, FirstDS(radd), true, kVIRefReserveErr},
      {"a released reference", released, FirstDS(add), true, kVIRefInvalidErr},
      {"a caller table without its tag", addRef, FirstDS(radd), false, kArgErr},
      {"a terminal taking a caller slot that is not there", farRef, FirstDS(add), true, kArgErr},
      {"a terminal taking the first caller slot", nearRef, FirstDS(add), true, kNoErr},
  };
  for (const Case& c : cases) {
    Tables t;
    if (!c.tagged) t.caller.tag = 0;
    const int32 before = VIRefNativeCalls(c.ref);
    DataSpace callee = reinterpret_cast<DataSpace>(1);
    EXPECT_EQ(CBRPrepareCall(c.ref, &callee, c.caller, t.Callee(), t.Caller()), c.want) << c.what;
    if (c.want) {
      EXPECT_EQ(VIRefNativeCalls(c.ref), before) << c.what;
      EXPECT_EQ(callee, nullptr) << c.what;
      EXPECT_EQ(t.Code(), c.want) << c.what << ": the caller's cluster";
      EXPECT_EQ(t.callee.tag, 0u) << c.what << ": nothing copied";
      continue;
    }
    EXPECT_EQ(VIRefNativeCalls(c.ref), before + 1) << c.what;
    VIRefRecord* r = ResolveVIRef(c.ref);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(callee, r->callDS) << c.what;
    EXPECT_EQ((*callee)->callTable, t.Callee()) << c.what << ": the callee finds its table";
    EXPECT_EQ(t.callee.tag, kParamTableTag) << c.what;
    EXPECT_EQ(t.callee.ref, c.ref) << c.what;
    EXPECT_EQ(t.callee.flags & kParamTableCallInProgress, 0u) << c.what;
    EXPECT_EQ(t.callee.error, &t.error) << c.what;
    EXPECT_EQ(t.callee.slots[0].value, &t.a) << c.what;
    EXPECT_EQ(t.callee.slots[2].value, c.ref == nearRef ? &t.a : &t.sum) << c.what;
    EXPECT_EQ(VIRefFinishNativeCall(c.ref), kNoErr) << c.what;
    EXPECT_EQ(VIRefNativeCalls(c.ref), before) << c.what;
    (*callee)->callTable = nullptr;
  }
  // A reentrant VI's references call on clones of their own.
  EXPECT_NE(ResolveVIRef(raddRef)->callDS, FirstDS(radd));
}

// A reference closed while a native call runs goes only when the call
// returns, through user event 22 on the user-interface thread.
TEST_F(CallByRefTest, ACloseDuringANativeCallReleasesTheReferenceAfterTheCall) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  UHandle other = Load("Other.vi", Clumps::kOnce);
  ASSERT_TRUE(add && other);
  const VIRef ref = Native("Add.vi");
  Tables t;
  DataSpace callee = nullptr;
  ASSERT_EQ(CBRPrepareCall(ref, &callee, FirstDS(other), t.Callee(), t.Caller()), kNoErr);
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  PumpReleases();
  EXPECT_EQ(Refs(add), 1) << "the call still runs";
  Tables second;
  EXPECT_EQ(CBRPrepareCall(ref, &callee, FirstDS(other), second.Callee(), second.Caller()), kVIRefInvalidErr)
      << "a releasing reference takes no new call";
  EXPECT_EQ(VIRefFinishNativeCall(ref), kNoErr);
  EXPECT_EQ(Refs(add), 1) << "finished on the user-interface thread";
  PumpReleases();
  EXPECT_EQ(Refs(add), 0);
  EXPECT_FALSE(IsVIRefnum(uInt32(ref)));
  EXPECT_EQ(VIRec(add)->reservations, 0);
}

// Native calls begun and finished on other threads while the reference is
// closed: whichever call finishes last, the reference goes once, after it.
TEST_F(CallByRefTest, ACloseRacingNativeCallsOnOtherThreadsGoesAfterTheLast) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  ASSERT_TRUE(add);
  // Under Valgrind one round of each count of calls before the close: its
  // threads run one at a time, so a spinning caller costs seconds a round.
  const bool underValgrind = std::getenv("QX_UNDER_VALGRIND") != nullptr;
  const int rounds = underValgrind ? 4 : 40;
  for (int round = 0; round < rounds; ++round) {
    const VIRef ref = Native("Add.vi");
    std::atomic<int> begun{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 2; ++t)
      callers.emplace_back([&] {
        while (VIRefBeginNativeCall(ref, nullptr, nullptr) == kNoErr) {
          begun.fetch_add(1);
          VIRefFinishNativeCall(ref);
          // Valgrind runs one thread at a time: the closing thread gets its turn.
          if (underValgrind) std::this_thread::yield();
        }
      });
    while (begun.load() < 2 * (round % 4 + 1)) std::this_thread::yield();
    EXPECT_EQ(VIRefRelease(ref), kNoErr) << round;
    for (std::thread& t : callers) t.join();
    PumpReleases();
    EXPECT_FALSE(IsVIRefnum(uInt32(ref))) << round;
    EXPECT_EQ(Refs(add), 0) << round;
  }
}

// The kill of each kind of pending operation of the local application.
TEST_F(CallByRefTest, TheKillOfAnOperationFollowsItsKind) {
  struct Case {
    int32 op;
    uInt32 marker;
    MgErr want;
    bool forgotten;
  } cases[] = {
      {kAsyncGetAppRefOp, 0, kNoErr, true},      {kAsyncGetVIRefOp, 0, kNoErr, true},
      {kAsyncAppAttrVectOp, 0, kNoErr, true},    {kAsyncVIAttrVectOp, 0, kNoErr, true},
      {kAsyncCallVIPxCalleeOp, 0, kNoErr, true}, {kAsyncNonNativeCallVIOp, 0, kArgErr, false},
      {kAsyncVIDoMethodOp, 1004, kVIRefGenericErr, false}, {kAsyncAppDoMethodOp, 0, kVIRefGenericErr, false},
  };
  for (const Case& c : cases) {
    AsyncRef a = NewAsyncRef(c.op, ThisAppRecord());
    ASSERT_NE(a, nullptr);
    a->completion = [](AsyncRef) {};
    a->param[0] = c.marker;
    a->ref = 0x7654321;  // no reference
    EXPECT_EQ(KillQXObjAsyncRef(a), c.want) << AsyncOpName(c.op);
    EXPECT_EQ(a->completion == nullptr, c.forgotten) << AsyncOpName(c.op);
    FreeAsyncRef(a);
  }
}

// The nodes as the diagram posts them: each completes once, at once or
// through its operation's completion, and an aborted node hears nothing.
TEST_F(CallByRefTest, TheReferenceNodesCompleteOnceOrNotAtAll) {
  // The calling VI lies in the run-time folder; the path is relative to it.
  UHandle caller = Load("Caller.vi", Clumps::kOnce);
  // "Run VI" shows the panel.
  srvtest::InstallPanelReopen();
  UHandle spin = Load("Spin.vi", vif::WriteWithPanel(runvi::File("Spin.vi", Clumps::kSpin)));
  UHandle once = Load("Once.vi", vif::WriteWithPanel(runvi::File("Once.vi", Clumps::kOnce)));
  Write("Add.vi", vif::Write(runvi::File("Add.vi", Clumps::kAdd)));
  ASSERT_TRUE(caller && spin && once);
  const VIRef spinRef = Open("Spin.vi"), onceRef = Open("Once.vi");
  // The requester stays loaded throughout.
  FileShellHooks shell = FileShell();
  shell.targetValid = [](UHandle) -> Bool32 { return 1; };
  SetFileShellHooks(&shell);
  Path relative = FMakePath(nullptr, kRelPath, srvtest::PS("Add.vi").s, nullptr);
  ASSERT_NE(relative, nullptr);
  Occurrence occ = AllocOccur();
  UHandle valid = DSNewHClr(4);
  uInt8 wait = 1;  // "Run VI": wait until done
  AttrEntry runParams[2] = {{0, 0, nullptr}, {1, 0, &wait}};
  int32 mode = -1;
  AttrEntry reservation{1, kVIRefReservationProp, &mode};
  struct Case {
    const char* what;
    int32 kind;
    CBRNodeIn in;
    int32 wantStep;
    bool abort;
    MgErr wantError;
  } cases[] = {
      {"open by a path relative to the caller", kCBROpenVIRef, {}, 0, false, kNoErr},
      {"a property of a VI", kCBRPropertyNode, {}, 0, false, kNoErr},
      {"Run VI, waited for", kCBRInvokeNode, {}, 1, false, kNoErr},
      {"Run VI, aborted while pending", kCBRInvokeNode, {}, 1, true, -7},
      {"an application reference by an empty name", kCBROpenAppRef, {}, 0, false, kNoErr},
      {"a request of no node", 9, {}, 0, false, kArgErr},
  };
  cases[0].in.app = kLocalAppRef;
  cases[0].in.path = relative;
  cases[1].in.count = 1;
  cases[1].in.entries = &reservation;
  cases[2].in.ref = onceRef;
  cases[3].in.ref = spinRef;
  for (Case* c : {&cases[2], &cases[3]}) {
    c->in.selector = 1003;
    c->in.count = 2;
    c->in.entries = runParams;
  }
  VIRef opened = 0;
  for (Case& c : cases) {
    c.in.occurrence = occ;
    c.in.valid = valid;
    c.in.caller = FirstDS(caller);
    if (c.kind == kCBRPropertyNode) c.in.ref = opened;
    **reinterpret_cast<int32**>(valid) = 1;
    CBRNodeOut out{-7, 0, 0, 0, nullptr};
    UHandle request = NewPostedEvtHandle(caller, c.kind == 9 ? kPostedCallByRefLast : c.kind, &c.in, &out, 0,
                                         nullptr);
    ASSERT_NE(request, nullptr);
    if (c.kind == 9) (*reinterpret_cast<PostedEvtRec**>(request))->kind = 9;
    EXPECT_EQ(RunPostedEvt(request), c.wantStep) << c.what;
    DisposePostedEvt(request);
    if (c.wantStep == 1) {
      EXPECT_NE(out.async, nullptr) << c.what;
      if (c.abort) {
        EXPECT_EQ(CBRAbortNode(&c.in, &out), kNoErr) << c.what;
        EXPECT_EQ(out.async, nullptr) << c.what;
      }
      EXPECT_TRUE(Pump([&] { return (VIRec(c.in.ref == spinRef ? spin : once)->eState & kVIStateMask) ==
                                    kVIStateIdle; }))
          << c.what;
      Pump([] { return false; }, 50);
    }
    EXPECT_EQ(CBRPendingNodes(), 0) << c.what;
    EXPECT_EQ(out.error, c.wantError) << c.what;
    EXPECT_EQ(out.async, nullptr) << c.what;
    if (c.kind == kCBROpenVIRef) {
      opened = out.ref;
      VIRefRecord* r = ResolveVIRef(opened);
      ASSERT_NE(r, nullptr) << c.what;
      EXPECT_EQ(PStrCmp(VIRec(r->vi)->name, srvtest::PS("Add.vi")), 0) << c.what;
      EXPECT_EQ(r->flags & (kVIRefOptNative | kVIRefOptTrusted), uInt32(kCBROpenOptions)) << c.what;
    }
    if (c.kind == kCBRPropertyNode) { EXPECT_EQ(mode, kVIRefModeNone) << c.what; }
    if (c.kind == kCBROpenAppRef) { EXPECT_EQ(out.app, kLocalAppRef) << c.what; }
  }
  // The close is done at once.
  CBRNodeIn close{};
  close.ref = opened;
  CBRNodeOut closed{-7, 0, 0, 0, nullptr};
  EXPECT_EQ(CallByRefStep(kCBRCloseRef, &close, &closed), 0);
  EXPECT_EQ(closed.error, kNoErr);
  EXPECT_FALSE(IsVIRefnum(uInt32(opened)));
  SetFileShellHooks(nullptr);
  FDisposePath(relative);
  DSDisposeHandle(valid);
  DeallocOccur(occ);
}

}  // namespace

namespace {

// Caller VIs whose compiled clumps call Add through a strictly typed
// reference, run by the execution threads: each gets its own sum, a
// reentrant Add serving two callers at once on a clone for each.
TEST_F(CallByRefTest, CallerVIsGetTheSumThroughTheReference) {
  struct Case {
    const char* what;
    uInt32 addFlags;
    int callers;
    int32 callerSystem;
  } cases[] = {{"one caller of Add", 0, 1, kESysStandard},
               {"two callers of a reentrant Add at once", kVIFlagReentrant, 2, kESysStandard},
               {"a caller on the user-interface thread", 0, 1, kESysUserInterface}};
  int round = 0;
  for (const Case& c : cases) {
    const std::string add = "Add" + std::to_string(round) + ".vi";
    ASSERT_NE(Load(add, Clumps::kAdd, c.addFlags), nullptr) << c.what;
    std::vector<UHandle> callers;
    std::vector<VIRef> refs;
    for (int i = 0; i < c.callers; ++i) {
      const std::string name = "Caller" + std::to_string(round) + std::to_string(i) + ".vi";
      vif::VIFile file = runvi::File(name, Clumps::kCaller);
      file.execSystem = c.callerSystem;
      UHandle vi = ServerVITest::Load(name, vif::Write(file));
      ASSERT_NE(vi, nullptr) << c.what;
      refs.push_back(Native(add));
      uChar* d = reinterpret_cast<uChar*>(*FirstDS(vi));
      const int32 words[4] = {refs.back(), 2 + 10 * i, 3 + 10 * i, -1};
      std::memcpy(d + kCallRef, words, sizeof words);
      if (c.callerSystem == kESysUserInterface) {
        EXPECT_EQ((*FirstDS(vi))->slot, 0) << c.what << ": runs in the user-interface slot";
      }
      callers.push_back(vi);
    }
    if (c.callers == 2) {
      EXPECT_NE(ResolveVIRef(refs[0])->callDS, ResolveVIRef(refs[1])->callDS) << c.what << ": a clone for each";
    }
    for (UHandle vi : callers) ASSERT_EQ(StartVIRun(FirstDS(vi)), 0) << c.what;
    // The user-interface slot gets its slices here, as the main loop gives them.
    EXPECT_TRUE(Pump([&] {
      ExecUserInterfaceSlice(0);
      for (UHandle vi : callers)
        if ((VIRec(vi)->eState & kVIStateMask) != kVIStateIdle) return false;
      return true;
    }))
        << c.what;
    for (int i = 0; i < c.callers; ++i) {
      const uChar* d = reinterpret_cast<const uChar*>(*FirstDS(callers[size_t(i)]));
      int32 result = -1, sum = -1;
      std::memcpy(&result, d + kCallResult, 4);
      std::memcpy(&sum, d + kCallSum, 4);
      EXPECT_EQ(result, 0) << c.what << " " << i;
      EXPECT_EQ(sum, 5 + 20 * i) << c.what << " " << i;
      EXPECT_EQ(VIRefNativeCalls(refs[size_t(i)]), 0) << c.what;
      EXPECT_EQ((*ResolveVIRef(refs[size_t(i)])->callDS)->callTable, nullptr) << c.what << ": the table was taken";
    }
    ++round;
  }
}

}  // namespace

