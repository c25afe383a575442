// Calls of a VI through a reference of the local application: a VI whose
// emitted code never ends is loaded from its file, opened, reserved and
// called; the call, killed, completes as reset.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "engine/exec/rttable.h"
#include "engine/exec/runcmd.h"
#include "engine/exec_test_support.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/link_check.h"
#include "engine/runtime_root.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "mgsource/datetime.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/wservices.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wevent.h"
#include "server/viref.h"
#include "tools/runvi.h"

typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);

namespace {

using namespace runvi;

MgErr PostCallEvent(int32 window, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, int32 noDup,
                    int32 priority) {
  WEventRecord e{};
  e.code = kWEvUser;
  e.window = window;
  e.where = sub;
  e.globalWhere = a1;
  e.modifiers = a2;
  e.character = a3;
  e.keyCode = a4;
  e.data[0] = a5;
  return WPostEvent(&e, noDup, priority);
}

int32 gEnded, gState;
void Ended(AsyncRef a) {
  ++gEnded;
  gState = a->callState;
}

class VICallTest : public qxexectest::ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] {
      EXPECT_EQ(RInitResources(), kNoErr);
      EXPECT_EQ(QXRTRegisterEngine(), kNoErr);
      EXPECT_EQ(QXRTRegisterServer(), kNoErr);
      QXRTCloseRegistration();
    });
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(rt_.Make("qxvicall"));
    ASSERT_EQ(VIRefInit(), kNoErr);
    if (!AZPBlocks()->linkerNames) AZPAllocInit();
    ExecSetPostUserEventProc(&PostCallEvent);
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    InitLinker();
    InstallLoadMethods();
    qxexectest::OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    gEnded = gState = 0;
  }
  void TearDown() override {
    VIRefReleaseAll();
    for (UHandle vi = FirstLoadedVI(); vi; vi = FirstLoadedVI()) {
      if ((VIRec(vi)->eState & kVIStateMask) == 2) AbortTopVI(vi);
      DisposeVI(vi, 1);
    }
    FinishExec();
    Pump([] { return false; }, 0);
    linkcheck::DisposeTables();
    ExecSetPostUserEventProc(nullptr);
    WEventQueueInit(0);
    rt_.Remove();
    ExecTest::TearDown();
  }
  UHandle Load(const std::string& name, Clumps kind) {
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.Host(name), vif::Write(File(name, kind))));
    pathtest::Owned path(pathtest::ToPath("L:\\" + name));
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(path.p, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    UHandle vi = nullptr;
    EXPECT_EQ(LoadInstrument(path.p, 0, PName(name), ref, &vi, 0), kLoadLoaded) << name;
    return vi;
  }
  static const uChar* PName(const std::string& s) {
    static uChar buf[256];
    buf[0] = uChar(s.size());
    std::memcpy(buf + 1, s.data(), s.size());
    return buf;
  }
  // Hands done events to their command until cond holds.
  static bool Pump(const std::function<bool()>& cond, int ms = 10000) {
    const uInt32 end = MilliSecs() + uInt32(ms);
    for (;;) {
      WEventRecord e;
      while (WGetNextEvent(&e)) {
        DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(uInt32(e.globalWhere)));
        if (e.code == kWEvUser && e.where == kUEVIDone) DoDoneCommand(ds);
        if (e.code == kWEvUser && e.where == kUEReset) DoResetCommand(ds, e.modifiers, e.character, e.keyCode, e.data[0]);
      }
      if (cond()) return true;
      if (MillisecCmp(MilliSecs(), end) > 0) return false;
      WSleep(1);
    }
  }
  static VIRef Open(const std::string& name, int32 options = kVIRefOptTrusted, MgErr want = kNoErr,
                    const TypeDescriptor* type = nullptr) {
    VIRef ref = 0;
    EXPECT_EQ(AppOpenVIRefByName(kLocalAppRef, PName(name), type, options, nullptr, &ref, nullptr, nullptr, nullptr),
              want);
    return ref;
  }
  static MgErr Reserve(VIRef ref, int32 mode) {
    return VIRefSetAttributes(ref, kVIRefReservationProp, &mode, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  }

  qxtest::RuntimeRoot rt_;
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
