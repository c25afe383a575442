// Calls of a VI through a reference of the local application: a VI whose
// emitted code never ends is loaded from its file, opened, reserved and
// called; the call, killed, completes as reset.
#include "server/server_vi_fixture.h"

namespace {

using namespace runvi;

int32 gEnded, gState;
void Ended(AsyncRef a) {
  ++gEnded;
  gState = a->callState;
}

class VICallTest : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    gEnded = gState = 0;
  }
  UHandle Load(const std::string& name, Clumps kind) { return ServerVITest::Load(name, kind); }
};

// The adder's run through a reference is in the built-program test of the
// shell (calling a VI by path); here the refusals and the kill.
TEST_F(VICallTest, AKilledCallCompletesAsResetAndRefusalsLeaveNoReference) {
  UHandle vi = Load("spin", Clumps::kSpin);
  ASSERT_NE(vi, nullptr);
  Open("spin", 0, kVIRefAccessErr);  // untrusted
  Open("none", kVIRefOptTrusted, kVIRefNotInMemoryErr);
  const auto other = tdb::Function(0, {0}, {tdb::DBL().Named("x")}).Bytes();
  Open("spin", kVIRefOptTrusted, kVIRefTypeErr, reinterpret_cast<const TypeDescriptor*>(other.data()));
  EXPECT_EQ(VIHasRefs(vi, 0), 0);
  const VIRef ref = Open("spin");
  AsyncRef call = nullptr, second = nullptr;
  EXPECT_EQ(VIRefStartCall(ref, &Ended, &call), kVIRefReserveErr) << "not reserved for calls";
  EXPECT_EQ(Reserve(ref, 1), kVIRefReserveErr) << "no edit reservation in the run-time";
  ASSERT_EQ(Reserve(ref, 2), kNoErr);
  ASSERT_EQ(VIRefStartCall(ref, &Ended, &call), kNoErr);
  EXPECT_EQ(VIRefStartCall(ref, &Ended, &second), kVIRefNotIdleErr) << "one call at a time";
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(Reserve(ref, 0), kVIRefNotIdleErr) << "the call's record stays while it runs";
  EXPECT_EQ(KillQXObjAsyncRef(call), kNoErr);
  ASSERT_TRUE(Pump([] { return gEnded > 0; }));
  EXPECT_EQ(gState, kVIRefDoneReset);
  EXPECT_EQ(KillQXObjAsyncRef(call), kVIRefNotIdleErr) << "the call has ended";
  AsyncRefRec foreign{};
  EXPECT_EQ(KillQXObjAsyncRef(&foreign), kArgErr);
  EXPECT_EQ(Reserve(ref, 0), kNoErr);
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(VIRefRelease(ref), kVIRefInvalidErr);
  EXPECT_EQ(VIHasRefs(vi, 0), 0);
  EXPECT_EQ(gEnded, 1);
}

}  // namespace
