// The set-up of the tests of VI references over VIs the tools write: the
// run-time file, the linker and the execution systems started, the jars
// made, user events queued for the test to hand out, and every VI and
// reference gone after each test.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/wservices.h"
#include "server/viref.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "user_event_queue.h"

typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);

namespace srvtest {

using qxevents::PostToQueue;

// A Pascal string of a text (one buffer per call site's lifetime).
struct PS {
  uChar s[256];
  explicit PS(const std::string& t) {
    s[0] = uChar(t.size());
    std::memcpy(s + 1, t.data(), t.size());
  }
  operator ConstPStr() const { return s; }
};

// The panel loader reopens a VI's file at its path.
inline void InstallPanelReopen() {
  VILoadPanelHooks h{};
  h.reopenVIFile = [](UHandle vi, uInt32, RsrcFileRef* file) {
    return ROpenFile(VIRec(vi)->path, kRsrcReadOnly, file, nullptr, nullptr);
  };
  SetVILoadPanelHooks(&h);
}

// A VI with Add's pane ("a", "b" in, "sum" out), the flags of its terminals
// as given, running the clumps of the kind.
inline vif::VIFile PaneVI(const std::string& name, runvi::Clumps kind, std::vector<uInt16> flags) {
  vif::VIFile v = runvi::File(name, kind);
  if (kind != runvi::Clumps::kAdd) {
    v.entries.push_back(tdb::I32().Named("a"));
    v.entries.push_back(tdb::I32().Named("b"));
    v.entries.push_back(tdb::I32().Named("sum"));
  }
  v.connPane = tdb::Function(0, flags, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")});
  return v;
}

class ServerVITest : public qxexectest::ExecTest {
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
    ASSERT_TRUE(rt_.Make("qxviref"));
    if (!AZPBlocks()->linkerNames) AZPAllocInit();
    ExecSetPostUserEventProc(&PostToQueue);
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    InitLinker();
    InstallLoadMethods();
    qxexectest::OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    ServerInstallEngineHooks();
    ASSERT_EQ(VIRefInit(), kNoErr);
  }
  void TearDown() override {
    HoldVIName(nullptr, 1);
    VIRefReleaseAll();
    for (UHandle vi = FirstLoadedVI(); vi; vi = FirstLoadedVI()) {
      if ((VIRec(vi)->eState & kVIStateMask) == 2) AbortTopVI(vi);
      DisposeVI(vi, 1);
    }
    FinishExec();
    Pump([] { return false; }, 0);
    VIRefExit();
    linkcheck::DisposeTables();
    ExecSetPostUserEventProc(nullptr);
    WEventQueueInit(0);
    rt_.Remove();
    ExecTest::TearDown();
  }
  // Writes the VI file into the run-time folder (L:\name).
  void Write(const std::string& name, const vif::Bytes& bytes) {
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.Host(name), bytes));
  }
  UHandle Load(const std::string& name, const vif::Bytes& bytes) {
    Write(name, bytes);
    // The loaded VI keeps the path (the loader disposes it on failure).
    Path path = pathtest::ToPath("L:\\" + name);
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    UHandle vi = nullptr;
    EXPECT_EQ(LoadInstrument(path, 0, PS(name), ref, &vi, 0), kLoadLoaded) << name;
    // The test holds its VIs: the release of their last reference would
    // close them otherwise.
    if (vi) {
      EXPECT_EQ(HoldVIName(VIRec(vi)->name, 0), kNoErr);
    }
    return vi;
  }
  UHandle Load(const std::string& name, runvi::Clumps kind, uInt32 flags = 0) {
    return Load(name, vif::Write(runvi::File(name, kind, 1, flags)));
  }
  // Hands a done or reset event to its command, and the close of a VI
  // nothing holds to CloseVI (as the shell does).
  static void HandleUserEvent(const WEventRecord& e) {
    if (e.code != kWEvUser) return;
    DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(uInt32(e.globalWhere)));
    if (e.where == kUEVIDone) DoDoneCommand(ds);
    if (e.where == kUEReset) DoResetCommand(ds, e.modifiers, e.character, e.keyCode, e.data[0]);
    if (e.where == kUECloseVI) {
      UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(e.globalWhere)));
      if (IsVILoaded(vi)) CloseVI(vi, 0, 1, 0);
    }
  }
  // Hands out the events until cond holds.
  static bool Pump(const std::function<bool()>& cond, int ms = 10000) {
    const uInt32 end = MilliSecs() + uInt32(ms);
    for (;;) {
      WEventRecord e;
      while (WGetNextEvent(&e)) HandleUserEvent(e);
      if (cond()) return true;
      if (MillisecCmp(MilliSecs(), end) > 0) return false;
      WSleep(1);
    }
  }
  static VIRef Open(const std::string& name, int32 options = kVIRefOptTrusted, MgErr want = kNoErr,
                    const TypeDescriptor* type = nullptr) {
    VIRef ref = 0;
    EXPECT_EQ(AppOpenVIRefByName(kLocalAppRef, PS(name), type, options, nullptr, &ref, nullptr, nullptr, nullptr),
              want)
        << name;
    return ref;
  }
  static MgErr Reserve(VIRef ref, int32 mode) {
    return VIRefSetAttributes(ref, kVIRefReservationProp, &mode, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  }
  static int32 Refs(UHandle vi) {
    int32 n = -1;
    VIHasRefs(vi, &n);
    return n;
  }

  qxtest::RuntimeRoot rt_;
};

}  // namespace srvtest
