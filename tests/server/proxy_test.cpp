// Proxy VIs: the proxy caller that runs a VI for the VI server through the
// subVI machinery, and the proxy callee that stands for a remote VI.
#include "server/proxy.h"

#include "mgsource/memory.h"
#include "server/add_call.h"
#include "server/server_vi_fixture.h"
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
TEST_F(ProxyTest, OneProxyCallerServesEveryReferenceOfAVIAndGoesWithTheLast) {
  for (const bool reentrant : {false, true}) {
    SCOPED_TRACE(reentrant);
    const std::string name = reentrant ? "AddR.vi" : "Add.vi";
    UHandle vi = Load(name, Clumps::kAdd, reentrant ? kVIFlagReentrant : 0);
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
TEST_F(ProxyTest, ABadTargetRefusesAProxyAndErrorsStopTheCall) {
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
}

}  // namespace
