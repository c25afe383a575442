// Shared set-up of the VI instance tests: the type heap and the event queue
// made once, the services of other modules replaced by recording stand-ins,
// the host windows reset, and every VI a test made disposed after it.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/link/linker.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "engine_test_support.h"
#include "live_handles.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/pool.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "platform/qx_window.h"

namespace qxvitest {

// Starts the linker afresh with no linker services and no VI link hooks
// (the start-up blocks are made once); true when its table was made.
inline bool StartBareLinker() {
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  SetLinkerServices(nullptr);
  SetVILinkHooks(nullptr);
  InitLinker();
  return gLinkTable != nullptr;
}

// A Pascal string of a text.
struct PS {
  uChar s[256];
  explicit PS(const std::string& t) {
    s[0] = uChar(t.size());
    std::memcpy(s + 1, t.data(), t.size());
  }
  operator ConstPStr() const { return s; }
};
inline std::string Name(UHandle vi) {
  const uChar* n = VIRec(vi)->name;
  return std::string(reinterpret_cast<const char*>(n + 1), n[0]);
}

// What the stand-ins saw.
struct Calls {
  std::vector<std::string> linked;    // "QXIN:name" for every entry added
  std::vector<std::string> unlinked;  // the same for every entry removed
  std::vector<std::vector<int32>> posted;  // sub-code and five words of each user event
  int runInit = 0, initDCOs = 0, disposeProc = 0, reserve = 0, abort = 0, resetRemove = 0;
  int exitRetrieve = 0, menuBar = 0;
  std::vector<UHandle> loadedCallerOf;  // VIs that answer "has a loaded caller"
};
inline Calls& Seen() {
  static Calls c;
  return c;
}

inline std::string CodeText(uInt32 code) { return std::string(reinterpret_cast<const char*>(&code), 4); }

inline int16 StandInAdd(void*, ConstPStr name, const void*, uInt32 code, Path) {
  Seen().linked.push_back(CodeText(code) + ":" + std::string(reinterpret_cast<const char*>(name + 1), name[0]));
  return 0;
}
inline void StandInUnlink(ConstPStr name, uInt32 code) {
  Seen().unlinked.push_back(CodeText(code) + ":" + std::string(reinterpret_cast<const char*>(name + 1), name[0]));
}
// A VI has a loaded caller when a VI of its callers list is loaded.
inline int32 StandInHasLoadedCaller(UHandle vi) {
  UHandle callers = VIRec(vi)->callers;
  if (!callers) return 0;
  for (int32 i = 0, n = int32(GetNative32(*callers)); i < n; ++i) {
    UHandle c = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*callers + 4 + 4 * i)));
    if (c != vi && IsVILoaded(c)) return 1;
  }
  return 0;
}
inline int32 StandInPost(WindowRef, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, Bool32, int32) {
  Seen().posted.push_back({sub, a1, a2, a3, a4, a5});
  return 0;
}
inline int32 StandInRoot(ObjHeap heap) { return OHNewBlock(heap, 76, 76); }

// What both zones hold: their totals, the live handles and the live blocks.
// Only the live counts are compared: the totals are the pool's size, which
// includes the emptied pages it keeps for reuse, so a test that is the first
// to need a page leaves the total larger without leaking anything.
struct Footprint {
  int32 azTotal, dsTotal, handles, blocks;
  bool operator==(const Footprint& o) const { return handles == o.handles && blocks == o.blocks; }
};
inline std::ostream& operator<<(std::ostream& os, const Footprint& f) {
  return os << "az " << f.azTotal << " ds " << f.dsTotal << " handles " << f.handles << " blocks " << f.blocks;
}
inline Footprint ZoneTotals() {
  MemStatsRecord az{}, ds{};
  AZMemStats(&az);
  DSMemStats(&ds);
  return {az.allocTotal, ds.allocTotal, LiveHandleCount(), PoolBlockCount(PoolInitDefault())};
}

// Makes a VI of the kind with the n-th allocation failing, n = 1, 2, ...
// until one succeeds (that VI is disposed): each failure prints "NewVICore
// Failed" once and leaves the zones and the list as they were, then
// check(n) runs.  The number of failures.
template <class Check>
int FailEachAllocation(int16 kind, Check check) {
  int failures = 0;
  for (int n = 1; n < 200; ++n) {
    qxtest::Reports::Get().Clear();
    const Footprint before = ZoneTotals();
    MemFailNthAllocation(n);
    UHandle vi = NewVICore(kind, reinterpret_cast<ConstPStr>("\007fragile"), -1);
    MemFailNthAllocation(0);
    if (vi) {
      EXPECT_EQ(qxtest::Reports::Get().Count("NewVICore Failed"), 0);
      DisposeVI(vi, 1);
      EXPECT_EQ(ZoneTotals(), before) << "after a success, n " << n;
      break;
    }
    ++failures;
    EXPECT_EQ(qxtest::Reports::Get().Count("NewVICore Failed"), 1) << n;
    EXPECT_EQ(ZoneTotals(), before) << "n " << n;
    EXPECT_EQ(LoadedVICount(), 0) << n;
    check(n);
  }
  return failures;
}

inline void InstallStandIns() {
  VILinkHooks link{};
  link.addLinkEntry = &StandInAdd;
  link.unlinkItemByName = &StandInUnlink;
  link.viHasLoadedCaller = &StandInHasLoadedCaller;
  SetVILinkHooks(&link);
  VIShellHooks shell{};
  shell.postUserEvent = &StandInPost;
  SetVIShellHooks(&shell);
  VICodeHooks code{};
  code.runInitProc = [](DataSpace) { ++Seen().runInit; };
  code.initDCOs = [](DataSpace) -> MgErr {
    ++Seen().initDCOs;
    return kNoErr;
  };
  code.callDisposeProc = [](DataSpace) { ++Seen().disposeProc; };
  SetVICodeHooks(&code);
  VIRunHooks run{};
  run.doReserveCommand = [](UHandle) { ++Seen().reserve; };
  run.abortVI = [](DataSpace) { ++Seen().abort; };
  run.resetDSRemove = [](DataSpace) { ++Seen().resetRemove; };
  run.exitRetrieveMode = [](UHandle) { ++Seen().exitRetrieve; };
  run.updateVIMenuBar = [](ObjHeap) { ++Seen().menuBar; };
  SetVIRunHooks(&run);
  EnginePanelHooks panel{};
  panel.newPanelRoot = &StandInRoot;
  SetEnginePanelHooks(&panel);
}

class VITest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    Drain();
    PlatWindowsReset();
    Seen() = Calls{};
    InstallStandIns();
    CollectTypeHeapGarbage();
  }
  void TearDown() override {
    MemFailNthAllocation(0);
    while (UHandle vi = FirstLoadedVI()) DisposeVI(vi, 0);
    for (UHandle vi : extra_) DisposeVI(vi, 0);
    extra_.clear();
    HoldVIName(nullptr, 1);
    Drain();
    SetVICodeHooks(nullptr);
    SetVIRunHooks(nullptr);
    SetVILinkHooks(nullptr);
    SetVIShellHooks(nullptr);
    SetVIServerHooks(nullptr);
    SetEnginePanelHooks(nullptr);
    WDestroyAllWindows();
    PlatWindowsReset();
    CollectTypeHeapGarbage();
    EngineTest::TearDown();
  }

  static void Drain() {
    WEventRecord e;
    while (WGetNextEvent(&e)) {
    }
  }

  // A VI that stays out of the list (kinds 0, 1, 3, 5), disposed after the test.
  UHandle Keep(UHandle vi) {
    if (vi) extra_.push_back(vi);
    return vi;
  }
  void Forget(UHandle vi) {
    for (auto it = extra_.begin(); it != extra_.end(); ++it)
      if (*it == vi) {
        extra_.erase(it);
        return;
      }
  }

  // Appends a VI to a callers or subVIs list.
  static void AddTo(UHandle list, UHandle vi) {
    const int32 n = int32(GetNative32(*list));
    ASSERT_EQ(AZSetHandleSize(list, 4 + 4 * (n + 1)), kNoErr);
    PutNative32(*list + 4 + 4 * n, uInt32(uintptr_t(vi)));
    PutNative32(*list, uInt32(n + 1));
  }
  // Makes caller call sub.
  static void Link(UHandle caller, UHandle sub) {
    AddTo(VIRec(caller)->subVIs, sub);
    AddTo(VIRec(sub)->callers, caller);
  }
  static std::vector<std::string> ListNames() {
    std::vector<std::string> v;
    for (UHandle e = FirstLoadedVI(); e; e = VIRec(e)->next) v.push_back(Name(e));
    return v;
  }
  static ObjHeap Panel(UHandle vi) { return VIRec(vi)->panelHeap; }
  static int32 Ext(ObjHeap panel) { return int32(OHWord(panel, kOHExtension)); }
  static uInt32 ExtWord(ObjHeap panel, int32 at) { return GetNative32(*panel + Ext(panel) + at); }
  static void SetExtWord(ObjHeap panel, int32 at, uInt32 v) { PutNative32(*panel + Ext(panel) + at, v); }

 private:
  std::vector<UHandle> extra_;
};

}  // namespace qxvitest
