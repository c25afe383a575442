// The shell's services to the run commands: the user events they post and
// their handlers, the panel heap's flag bits, the tool bar's state and the
// headless dialog records.
#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/viinst_test_support.h"
#include "shell/runshell.h"
#include "shell/userevent.h"
#include "shell/vishell.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/window/wport.h"
#include "temp_folder.h"

using namespace qxvitest;

namespace {

class RunCommandBoundary : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ShellInstallEngineHooks();
  }
  void TearDown() override {
    SetRunCmdHooks(nullptr);
    VITest::TearDown();
  }
  UHandle Make(const char* name, uInt32 state) {
    UHandle vi = NewVICore(kVIKindDatalog, PS(name), -1);
    EXPECT_NE(vi, nullptr);
    if (!VIRec(vi)->dataSpace) { EXPECT_EQ(NewMinimalDataSpace(vi), kNoErr); }
    VIRec(vi)->eState = state;
    return vi;
  }
  static DataSpace DS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
  static int32 W(const void* p) { return int32(uintptr_t(p)); }
  static uInt32 State(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }
  static void Post(int32 sub, int32 a1, int32 a2 = 0, int32 a3 = 0, int32 a4 = 0, int32 a5 = 0) {
    ASSERT_EQ(PostUserEvent(kWRootWindow, sub, a1, a2, a3, a4, a5, 0, 0), kNoErr);
  }
  // Dispatches every queued event; the number handled.
  static int DispatchAll() {
    int n = 0;
    WEventRecord e;
    while (WGetNextEvent(&e)) n += DispatchUserEvent(&e);
    return n;
  }
};

TEST_F(RunCommandBoundary, HandlersOfTheRunCommandEvents) {
  UHandle done = Make("done", 2), susp = Make("susp", 2), res = Make("res", 5), stale = Make("stale", 2),
          menu = Make("menu", 1);
  ASSERT_NE(DS(done), nullptr);
  (*DS(res))->busy = 1;
  (*DS(stale))->resetCount = 4;
  ASSERT_EQ(RTMNewVIMenuRef(menu), kNoErr);
  Post(kUEVIDone, W(DS(done)));
  Post(kUESuspend, W(DS(susp)));
  Post(kUEReserve, W(res));
  Post(kUEReset, W(DS(stale)), 0, 1, 7, 3);  // an old reset count
  Post(kUEDisposeRTMenu, W(menu));
  Post(kUECompletion, W(DS(menu)), 0);
  EXPECT_EQ(DispatchAll(), 6);
  EXPECT_EQ(State(done), kVIStateIdle) << "6: done";
  EXPECT_EQ(State(susp), 7u) << "7: suspended";
  EXPECT_EQ(State(res), 13u) << "9: busy as a subVI";
  EXPECT_EQ(State(stale), 2u) << "8: a stale reset is ignored";
  EXPECT_FALSE(RTMHasVIMenuRef(menu)) << "27: the run-time menu goes";
  EXPECT_EQ((*DS(menu))->completion, 0) << "11: nothing to reclaim";
}

TEST_F(RunCommandBoundary, ReachabilityEventMarksAndPurges) {
  UHandle kept = Make("kept", 1);
  Make("unused", 1);
  ASSERT_EQ(OpenFrontPanel(kept), 1);
  ASSERT_EQ(LoadedVICount(), 2);
  PostPurgeUnreachable();  // the engine's post procedure is the shell's
  Post(kUEReachability, 0);
  EXPECT_EQ(DispatchAll(), 2);
  EXPECT_NE(VIRec(kept)->marks & kVIMarkReachable, 0u);
  EXPECT_EQ(LoadedVICount(), 1) << "the VI nothing holds is purged";
  EXPECT_EQ(FirstLoadedVI(), kept);
}

TEST_F(RunCommandBoundary, OpenPanelEventOnlyForTheCurrentGeneration) {
  struct Case {
    int32 generation;
    uInt16 state, mode;
    bool goesOn, opens;
  };
  const Case cases[] = {
      {1, 3, 0, false, false}, {2, 2, 0, false, false}, {2, 3, 1, true, false}, {2, 3, 0, true, true}};
  for (const Case& c : cases) {
    UHandle vi = Make("sub", 4);
    (*DS(vi))->resetCount = 2;
    QueueElement* e = &(*DS(vi))->entrance.ownElement;
    e->dataSpace = DS(vi);
    e->runState = c.state;
    e->resetPending = int16(c.mode);
    WindowRef windows[8];
    const int32 before = WWindowsInOrder(windows, 8);
    Post(kUEOpenPanel, W(vi), W(e), W(DS(vi)), c.generation);
    DispatchAll();
    EXPECT_EQ(WWindowsInOrder(windows, 8), before + (c.opens ? 1 : 0)) << c.generation << " " << c.state;
    EXPECT_EQ(e->runState, c.goesOn ? 1 : c.state);
    if (c.goesOn) {
      ASSERT_EQ(InitExec(), kNoErr);
      FinishExec();
    }
    e->next = nullptr;
    e->resetPending = 0;
    DisposeVI(vi, 1);
    DispatchAll();
  }
}

TEST_F(RunCommandBoundary, QueuedDoneEventsAreHandledAtOnce) {
  UHandle a = Make("a", 2), b = Make("b", 2), c = Make("c", 2);
  Post(kUEVIDone, W(DS(a)));
  Post(kUESuspend, W(DS(c)));
  Post(kUEVIDone, W(DS(b)));
  HandleQueuedUserEvents(kUEVIDone);
  EXPECT_EQ(State(a), kVIStateIdle);
  EXPECT_EQ(State(b), kVIStateIdle);
  EXPECT_EQ(State(c), 2u);
  EXPECT_EQ(DispatchAll(), 1) << "only the suspend event is left";
  EXPECT_EQ(State(c), 7u);
}

TEST_F(RunCommandBoundary, VIInstancesReachTheRunCommands) {
  const VIRunHooks before = VIRun();
  InstallRunCommands();
  EXPECT_EQ(VIRun().abortVI, &AbortVI);
  EXPECT_EQ(VIRun().doReserveCommand, &DoReserveCommand);
  EXPECT_EQ(VIRun().resetDSRemove, &ResetDSRemove);
  EXPECT_EQ(VIRun().exitRetrieveMode, &ExitRetrieveMode);
  EXPECT_EQ(VIRun().updateVIMenuBar, &UpdateVIMenuBar);
  EXPECT_EQ(VIRun().loadPanelHeap, before.loadPanelHeap) << "the other members stay";
  EXPECT_EQ(VIRun().unloadPanelObjects, before.unloadPanelObjects);
  // Opening the panel of a reserved VI whose data space is busy updates its
  // reserve state through the reserve command.
  UHandle vi = Make("reserved", 5);
  (*DS(vi))->busy = 1;
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  EXPECT_EQ(State(vi), 13u);
  (*DS(vi))->busy = 0;
}

TEST_F(RunCommandBoundary, PanelHeapFlagBits) {
  UHandle vi = Make("p", 1);
  EXPECT_EQ(FPHeapFlag17(vi), 0) << "no panel";
  EXPECT_EQ(FPHeapFlag18(nullptr), 0);
  ASSERT_EQ(OpenFrontPanel(vi), 1);
  ObjHeap panel = VIRec(vi)->panelHeap;
  const uInt32 flags = OHWord(panel, kOHFlags);
  struct Case {
    uInt32 bits;
    int32 f17, f18;
  } cases[] = {{0, 0, 0}, {kPanelControlErrorBit, 1, 0}, {kPanelFlag18Bit, 0, 1}, {0x60000, 1, 1}, {0x10000, 0, 0}};
  for (const Case& c : cases) {
    OHSetWord(panel, kOHFlags, (flags & ~0x70000u) | c.bits);
    EXPECT_EQ(FPHeapFlag17(vi), c.f17) << c.bits;
    EXPECT_EQ(FPHeapFlag18(vi), c.f18) << c.bits;
  }
  OHSetWord(panel, kOHFlags, flags);
}

// A panel print opens the session's printer (the layer's first printer)
// and prints, or the printer named without the dialog; a name not in the
// printer list gives 1, a cancelled job dialog 43, a bad name handle 1; the
// completion step reaches it through the run commands' hook.
TEST_F(RunCommandBoundary, PrintingAPanelThroughThePrintLayer) {
  TempFolder out("qxrunprint");
  setenv("QX_PRINT_DIR", out.Dir().c_str(), 1);
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  UHandle vi = Make("p", 1);
  UHandle name = DSNewHandle(8);
  ASSERT_NE(name, nullptr);
  PutNative32(*name, 4);
  std::memcpy(*name + 4, "lp01", 4);
  UHandle empty = DSNewHClr(4);
  // A freed handle, an address that is no handle and an interior pointer.
  UHandle freed = DSNewHClr(8);
  ASSERT_NE(freed, nullptr);
  DSDisposeHandle(freed);
  UPtr block = nullptr;
  UHandle foreign = &block;
  UHandle interior = reinterpret_cast<UHandle>(*name + 4);
  struct Case {
    UHandle printer;
    int32 showDialog;
    const char* dialog;
    MgErr want;
  } cases[] = {{nullptr, 0, "", 0},       {nullptr, 1, "", 0}, {empty, 0, "", 0},   {name, 0, "", 1},
               {name, 1, "cancel", 43}, {freed, 1, "", 1},   {foreign, 1, "", 1}, {interior, 1, "", 1}};
  for (const Case& c : cases) {
    setenv("QX_PRINT_DIALOG", c.dialog, 1);
    EXPECT_EQ(PrintVIPanel(vi, 0, 1, c.printer, c.showDialog), c.want) << c.showDialog << " " << c.dialog;
  }
  unsetenv("QX_PRINT_DIALOG");
  ASSERT_NE(RunCmd().printVIPanel, nullptr);
  EXPECT_EQ(RunCmd().printVIPanel(vi, 0, 0, 0, 0), 0);
  const int before = qxtest::Reports::Get().Count("PrintVIPanel: no VI");
  EXPECT_EQ(PrintVIPanel(nullptr, 0, 0, nullptr, 0), 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("PrintVIPanel: no VI"), before + 1);
  DSDisposeHandle(name);
  DSDisposeHandle(empty);
  PFreeDevHandles();
  DDisposeDraw();
  unsetenv("QX_PRINT_DIR");
}

}  // namespace
