// Proxy VIs: the proxy caller that runs a VI for the VI server through the
// subVI machinery, and the proxy callee that stands for a remote VI.
#include "server/proxy.h"

#include <atomic>

#include "engine/exec/dsprocs.h"
#include "engine/exec/exec.h"
#include "mgsource/memory.h"
#include "server/tcp_fixture.h"
#include "tools/tdbuilder.h"

namespace {

using namespace runvi;

struct Ends {
  int32 count = 0, state = -1;
  MgErr error = 0;
  std::string text;
};
Ends gEnds;
void Ended(AsyncRef a) {
  ++gEnds.count;
  gEnds.state = a->callState;
  gEnds.error = a->error;
  if (a->errorText) gEnds.text.assign(reinterpret_cast<const char*>(a->errorText + 1), a->errorText[0]);
}

class ProxyTest : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    gEnds = Ends{};
  }
  static std::vector<uint8_t> AddPane() {
    return tdb::Function(0, {0, 0, 0x100}, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")})
        .Bytes();
  }
  // A reference on the VI reserved for calls by a remote client.
  static VIRef OpenForCalls(const std::string& name, MgErr want = kNoErr) {
    const auto pane = AddPane();
    return Open(name, kVIRefOptTrusted, want, reinterpret_cast<const TypeDescriptor*>(pane.data()));
  }
  // Calls the reference with a and b; the sum, or -1 when the call did not
  // end done.
  static int32 Call(VIRef ref, int32 a, int32 b) {
    CallTermSlot slots[3] = {};
    EXPECT_EQ(VIRefGetCallInfo(ref, slots, 3), kNoErr);
    if (!slots[0].value || !slots[2].value) return -1;
    std::memcpy(slots[0].value, &a, 4);
    std::memcpy(slots[1].value, &b, 4);
    const int32 before = gEnds.count;
    AsyncRef call = nullptr;
    EXPECT_EQ(VIRefStartCall(ref, &Ended, &call), kNoErr);
    if (!Pump([&] { return gEnds.count > before; })) return -1;
    if (gEnds.state != kVIRefDoneSuccessful) return -1;
    int32 sum = 0;
    std::memcpy(&sum, slots[2].value, 4);
    return sum;
  }
  static UHandle ProxyOf(const std::string& target) { return FindVIByName(srvtest::PS(target + ".proxycaller")); }
  static int32 DataSpaces(UHandle vi) {
    int32 n = 0;
    for (DataSpace d = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); d; d = (*d)->nextClone) ++n;
    return n;
  }
};

// Two references on a non-reentrant VI share one proxy caller VI with a data
// space each; each call runs the VI as a subVI and ends done with the sum;
// the proxy goes with the last reference.  A reentrant target gets a clone
// for each.
TEST_F(ProxyTest, OneProxyCallerServesEveryReferenceOnExecutionThreadsAndGoesWithTheLast) {
  for (const bool reentrant : {false, true}) {
    SCOPED_TRACE(reentrant);
    const std::string name = reentrant ? "AddR.vi" : "Add.vi";
    UHandle vi = Load(name, Clumps::kAdd, reentrant ? uInt32(kVIFlagReentrant) : 0u);
    ASSERT_NE(vi, nullptr);
    const VIRef first = OpenForCalls(name), second = OpenForCalls(name);
    UHandle proxy = ProxyOf(name);
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(VIRec(proxy)->viKind, kVIKindProxyCaller);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(VIRec(proxy)->name + 1), VIRec(proxy)->name[0]),
              name + ".ProxyCaller");
    EXPECT_EQ(DataSpaces(proxy), 2);
    EXPECT_EQ(Call(first, 2, 3), 5);
    EXPECT_EQ(Call(second, 40, 2), 42);
    EXPECT_EQ(Call(first, -1, 1), 0) << "a second call through the same reference";
    EXPECT_EQ(VIRec(vi)->eState & 2, 0u) << "the target is not left running";
    EXPECT_EQ(VIRefRelease(first), kNoErr);
    EXPECT_EQ(ProxyOf(name), proxy);
    EXPECT_EQ(Call(second, 1, 1), 2) << "the other reference's data space stays";
    // A new reference takes the data space the first left.
    const VIRef third = OpenForCalls(name);
    EXPECT_EQ(DataSpaces(proxy), 2);
    EXPECT_EQ(Call(third, 7, 8), 15);
    EXPECT_EQ(VIRefRelease(third), kNoErr);
    EXPECT_EQ(VIRefRelease(second), kNoErr);
    EXPECT_EQ(ProxyOf(name), nullptr);
  }
}

// A target that cannot run refuses a proxy caller, and the open fails with
// nothing left; the proxy's own errors reach the call's completion.
TEST_F(ProxyTest, ABadTargetRefusesAProxyErrorsStopTheCallAndLongNamesAreCut) {
  UHandle vi = Load("Add.vi", Clumps::kAdd);
  ASSERT_NE(vi, nullptr);
  const uInt32 state = VIRec(vi)->eState;
  VIRec(vi)->eState = (state & ~kVIStateMask) | kVIStateBroken;
  UHandle proxy = nullptr;
  DataSpace ds = nullptr;
  EXPECT_EQ(PxCallerNew(vi, &proxy, &ds), kArgErr);
  EXPECT_EQ(proxy, nullptr);
  EXPECT_EQ(qxtest::Reports::Get().Count("needs to be recompiled"), 1);
  VIRec(vi)->eState = state;
  const VIRef ref = OpenForCalls("Add.vi");
  proxy = ProxyOf("Add.vi");
  ASSERT_NE(proxy, nullptr);
  ds = reinterpret_cast<DataSpace>(VIRec(proxy)->dataSpace);
  ASSERT_NE((*ds)->pxCallAsync, nullptr);
  static_cast<AsyncRef>((*ds)->pxCallAsync)->completion = &Ended;
  VIErrorNotify(proxy, ds, nullptr, 12, 42);
  EXPECT_EQ(gEnds.count, 1);
  EXPECT_EQ(gEnds.state, kVIRefDoneErrorStop);
  EXPECT_EQ(gEnds.error, 42);
  EXPECT_NE(gEnds.text.find("was stopped"), std::string::npos) << gEnds.text;
  EXPECT_EQ(qxtest::Reports::Get().Count("was stopped"), 0) << "no dialog for a proxy";
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(ProxyOf("Add.vi"), nullptr);
  // A long name: the proxy's name is cut to 255 characters and found again.
  const std::string longName = std::string(240, 'x') + ".vi";
  ASSERT_NE(Load(longName, Clumps::kAdd), nullptr);
  const VIRef refs[2] = {OpenForCalls(longName), OpenForCalls(longName)};
  UHandle cut = ResolveVIRef(refs[0])->proxyVI;
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(VIRec(cut)->name[0], 255);
  EXPECT_EQ(ResolveVIRef(refs[1])->proxyVI, cut);
  EXPECT_EQ(Call(refs[1], 20, 22), 42);
  for (VIRef r : refs) EXPECT_EQ(VIRefRelease(r), kNoErr);
}

// Killing the call of one reference resets only its run, also when it runs
// on the proxy's first data space; the other reference's call of the same
// reentrant VI goes on until it is killed.
TEST_F(ProxyTest, AKillResetsOnlyItsOwnCallOnExecutionThreads) {
  UHandle vi = Load("spin", Clumps::kSpin, kVIFlagReentrant);
  ASSERT_NE(vi, nullptr);
  std::vector<int32> states;
  static std::vector<int32>* seen;
  seen = &states;
  const VIRef refs[2] = {Open("spin"), Open("spin")};
  AsyncRef calls[2] = {};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Reserve(refs[i], 2), kNoErr);
    ASSERT_EQ(VIRefStartCall(refs[i], [](AsyncRef a) { seen->push_back(a->callState); }, &calls[i]), kNoErr);
  }
  UHandle proxy = ProxyOf("spin");
  ASSERT_NE(proxy, nullptr);
  ASSERT_EQ(DataSpaces(proxy), 2);
  // Both run inside their clone of the VI.
  DataSpace targets[2] = {PxCallerTargetDS(ResolveVIRef(refs[0])->proxyDS),
                          PxCallerTargetDS(ResolveVIRef(refs[1])->proxyDS)};
  ASSERT_TRUE(targets[0] && targets[1] && targets[0] != targets[1]);
  ASSERT_TRUE(Pump([&] { return (*targets[0])->entrance.owner && (*targets[1])->entrance.owner; }));
  // The first reference's data space is the proxy's first.
  EXPECT_EQ(ResolveVIRef(refs[0])->proxyDS, reinterpret_cast<DataSpace>(VIRec(proxy)->dataSpace));
  EXPECT_EQ(KillQXObjAsyncRef(calls[0]), kNoErr);
  ASSERT_TRUE(Pump([&] { return states.size() == 1; }));
  EXPECT_EQ(states[0], kVIRefDoneReset);
  EXPECT_NE((*targets[1])->entrance.owner, nullptr) << "the other call still runs";
  EXPECT_EQ(KillQXObjAsyncRef(calls[0]), kVIRefNotIdleErr) << "its call has ended";
  EXPECT_EQ(KillQXObjAsyncRef(calls[1]), kNoErr);
  ASSERT_TRUE(Pump([&] { return states.size() == 2; }));
  EXPECT_EQ(states[1], kVIRefDoneReset);
  for (VIRef ref : refs) EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(ProxyOf("spin"), nullptr);
}

// ---- Proxy callees ------------------------------------------------------------------------

// A caller's clump resumed after its call: counted.
std::atomic<int32> gResumed{0};
QX_EXTERN_C int32 CallerResumed() {
  ++gResumed;
  return 0;
}

class CalleeTest : public tcptest::TCPTest {
 protected:
  void SetUp() override {
    TCPTest::SetUp();
    gResumed = 0;
    gEnds = Ends{};
  }
  // Events and the user-interface slot (where callees run) until cond.
  static bool Serve(const std::function<bool()>& cond) {
    return Pump([&] {
      ExecUserInterfaceSlice(0);
      return cond();
    });
  }
  // A reference through this process's own server to the VI, typed as Add.
  VIRef OpenRemoteAdd(const std::string& name, AppRef* app) {
    AsyncRef async = nullptr;
    EXPECT_EQ(OpenAppRefByName(srvtest::PS("127.0.0.1"), port_, app, nullptr, &Ended, &async), kVIRefPendingErr);
    EXPECT_TRUE(Pump([] { return gEnds.count == 1; }));
    auto pane = tcptest::AddPane();
    VIRef ref = 0;
    EXPECT_EQ(AppOpenVIRefByName(*app, srvtest::PS(name), tdb::AsTD(pane), 0, nullptr, &ref, nullptr, &Ended, &async),
              kVIRefPendingErr);
    EXPECT_TRUE(Pump([] { return gEnds.count == 2; }));
    EXPECT_EQ(gEnds.error, kNoErr);
    return ref;
  }
  // A caller's element of the data space, resumed at CallerResumed; each
  // used once (an execution thread has touched those before).
  QueueElement* CallerOf(DataSpace ds) {
    QueueElement* e = &elements_[used_++];
    e->signature = kQueueElementSig;
    e->dataSpace = ds;
    e->code = reinterpret_cast<void*>(&CallerResumed);
    return e;
  }
  QueueElement elements_[4]{};
  int used_ = 0;
};

// The callee's code is the one shared header; a call through its run
// procedure is sent to the remote VI and ends with its outputs, or, when it
// cannot be sent, with the error and our text in the caller's cluster; a
// caller waiting for the callee is taken out by a reset.
TEST_F(CalleeTest, ACallThroughTheCalleeGoesToTheRemoteVIAndItsCallerGoesOnAcrossThreads) {
  UHandle add = Load("Add.vi", Clumps::kAdd);
  ASSERT_NE(add, nullptr);
  AppRef app = 0;
  const VIRef ref = OpenRemoteAdd("Add.vi", &app);
  ASSERT_NE(ref, 0);
  UHandle callee = ResolveVIRef(ref)->vi;
  DataSpace ds = ResolveVIRef(ref)->callDS;
  ASSERT_TRUE(callee && ds);
  EXPECT_EQ(VIRec(callee)->viKind, kVIKindProxyCallee);
  // The shared header: the entry fills the callee's procedures.
  UHandle code = VIRec(callee)->codeHandle;
  ASSERT_NE(code, nullptr);
  const uInt32* words = reinterpret_cast<const uInt32*>(*code);
  EXPECT_EQ(uintptr_t(*code) + words[0], uintptr_t(&PxCalleeProcs));
  EXPECT_EQ(words[1], FourCC("i386"));
  EXPECT_EQ(words[5], FourCC("code"));
  EXPECT_EQ(words[2] | words[3] | words[4] | words[6] | words[7], 0u);
  UHandle other = nullptr;
  DataSpace otherDS = nullptr;
  ASSERT_EQ(PxCalleeFindOrCreate(srvtest::PS("Other@nowhere"), nullptr, &other, &otherDS), kNoErr);
  EXPECT_EQ(VIRec(other)->codeHandle, code) << "one header for every callee";
  DisposeVI(other, 1);
  // Held for calls by the reference, the callee keeps its pane: another
  // type is refused, the same one found.
  auto dbl = tdb::Function(0, {0}, {tdb::DBL().Named("x")}).Bytes();
  auto same = tcptest::AddPane();
  EXPECT_EQ(PxCalleeFindOrCreate(VIRec(callee)->name, tdb::AsTD(dbl), &other, nullptr), kVIRefTypeErr);
  EXPECT_EQ(PxCalleeFindOrCreate(VIRec(callee)->name, tdb::AsTD(same), &other, nullptr), kNoErr);
  EXPECT_EQ(other, callee);
  DataSpace addDS = reinterpret_cast<DataSpace>(VIRec(add)->dataSpace);
  struct Row {
    const char* what;
    VIRef tableRef;
    int32 sum;
    MgErr code;
    std::string source;
  } rows[] = {
      {"sent and answered", ref, 5, kNoErr, ""},
      {"not sent", 0, -1, kVIRefGenericErr, "Remote VI call could not be sent"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    tcptest::AddCall call(2, 3);
    call.table.ref = row.tableRef;
    call.table.flags = kParamTableCallInProgress;
    (*ds)->callTable = &call.table;
    QueueElement* caller = CallerOf(addDS);
    const int32 resumed = gResumed;
    EXPECT_EQ(PxCalleeRunProc(ds, caller), 0);
    ASSERT_TRUE(Serve([&] { return gResumed > resumed; }));
    EXPECT_EQ(call.sum, row.sum);
    EXPECT_EQ(call.Code(), row.code);
    EXPECT_EQ(call.Source(), row.source);
    EXPECT_EQ(call.table.flags & kParamTableCallInProgress, 0u);
    EXPECT_EQ((*ds)->entrance.owner, nullptr) << "the callee is free";
    EXPECT_EQ((*ds)->pxCallAsync, nullptr);
  }
  // A second caller waits while the first is inside; a reset takes it out
  // and sends it back without a call.
  tcptest::AddCall call(1, 1);
  call.table.ref = ref;
  (*ds)->callTable = &call.table;
  QueueElement *first = CallerOf(addDS), *second = CallerOf(addDS);
  const int32 resumed = gResumed;
  EXPECT_EQ(PxCalleeRunProc(ds, first), 0);
  EXPECT_EQ(PxCalleeRunProc(ds, second), 0);
  EXPECT_EQ((*ds)->entrance.owner, first);
  DSCallResetClumps(ds, second);
  ASSERT_TRUE(Serve([&] { return gResumed == resumed + 2 && !(*ds)->entrance.owner; }));
  EXPECT_EQ(call.sum, 2) << "the first caller's call only";
  EXPECT_EQ(qxtest::Reports::Get().Count("PxCalleeResetProc: resetting"), 0) << "the waiting caller had no call";
  (*ds)->callTable = nullptr;
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
}

}  // namespace
