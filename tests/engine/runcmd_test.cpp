// VI run commands and execution states: run, done, suspend and resume,
// reserve and release, abort and reset, the completion step of a subVI
// call, and errors reported from a run.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codeentry_test_support.h"
#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

#include "loadedvi_decl.h"

using namespace qxcodetest;
using qxexectest::OnlySlots;
using qxtest::Reports;

namespace {

// User events of the run commands (beside those of the code header).
constexpr int32 kEventOpenPanel = 1, kEventClosePanel = 2, kEventCompletion = 11;

struct Posted {
  int32 code, a1, a2, a3, a4, a5;
};
std::vector<Posted> gPosted;
std::mutex gPostedLock;
MgErr RecordEvent(int32, int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, int32, int32) {
  std::lock_guard<std::mutex> g(gPostedLock);
  gPosted.push_back({code, a1, a2, a3, a4, a5});
  return kNoErr;
}
int PostedCount(int32 code) {
  std::lock_guard<std::mutex> g(gPostedLock);
  int n = 0;
  for (const Posted& p : gPosted) n += p.code == code;
  return n;
}

// What the hooks saw.
struct Seen {
  int toolbar = 0, place = 0, transfers = 0, slots = 0, rtMenu = 0, closeLog = 0, px = 0, pxAborted = -1,
      pxReset = 0, cleared = 0, printed = 0, updated = 0;
  int32 flag17 = 0, flag18 = 0;
  MgErr writeErr = kNoErr;
  bool logOpen = false;
  Path logPath = nullptr;
  std::vector<std::pair<int32, int32>> moves;  // h, then ms since load
  uInt32 loadedAt = 0;
  int stepsAtFirstMove = -1;  // the dialog's steps before its first move
  int unloads = 0, steps = 0, doneHandled = 0;
  std::string dialogText;
  int controls = 0;  // controls of the subVI's panel
  std::vector<UHandle> placed;  // the VIs whose windows were placed (null: the sweep)
};
Seen gSeen;

RunCmdHooks RecordingHooks() {
  RunCmdHooks h{};
  h.placePanelWindow = [](UHandle vi) {
    ++gSeen.place;
    gSeen.placed.push_back(vi);
  };
  h.fpHeapFlag17 = [](UHandle) { return gSeen.flag17; };
  h.fpHeapFlag18 = [](UHandle) { return gSeen.flag18; };
  h.refreshToolbar = [](UHandle) { ++gSeen.toolbar; };
  h.rtmNewVIMenuRef = [](UHandle) -> MgErr {
    ++gSeen.rtMenu;
    return kNoErr;
  };
  h.updateTransferSlots = [](ObjHeap) { ++gSeen.slots; };
  h.writeDatalogRecord = [](UHandle, int32, Bool32) { return gSeen.writeErr; };
  h.closeLogFile = [](UHandle) { ++gSeen.closeLog; };
  h.logFileOpen = [](UHandle) -> Bool32 { return gSeen.logOpen; };
  h.logPath = [](UHandle) { return gSeen.logPath; };
  h.clearLogPath = [](UHandle) { ++gSeen.cleared; };
  h.printVIPanel = [](UHandle, WindowRef, int32, int32, int32) -> MgErr {
    ++gSeen.printed;
    return kNoErr;
  };
  h.updateIndicators = [](ObjHeap) { ++gSeen.updated; };
  h.pxCallerFinish = [](DataSpace, Bool32 aborted) {
    ++gSeen.px;
    gSeen.pxAborted = aborted;
  };
  h.pxResetCallers = [](DataSpace) { ++gSeen.pxReset; };
  h.controlKindAndName = [](ObjHeap, int32 n, PStr kind, PStr name) -> Bool32 {
    if (n > gSeen.controls) return 0;
    std::memcpy(kind, "\x07numeric", 8);
    std::memcpy(name, "\x04Gain", 5);
    return 1;
  };
  h.dlgLoad = [](RsrcFileRef, int32 id, ConstPStr, int32, void*, int32) -> UHandle {
    gSeen.loadedAt = MilliSecs();
    return id == kResettingDialogId ? reinterpret_cast<UHandle>(&gSeen) : nullptr;
  };
  h.dlgSetCtrlVal = [](UHandle, int32 item, int32 type, const void* value) -> int32 {
    const uChar* p = static_cast<const uChar*>(value);
    if (item == kResettingTextItem && type == 53) gSeen.dialogText.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return 0;
  };
  h.dlgMove = [](UHandle, int32 hpos, int32) {
    if (gSeen.moves.empty()) gSeen.stepsAtFirstMove = gSeen.steps;
    gSeen.moves.push_back({hpos, int32(MilliSecs() - gSeen.loadedAt)});
  };
  h.dlgBoxStep = [](UHandle) -> int32 {
    ++gSeen.steps;
    return 0;
  };
  h.dlgUnload = [](UHandle) -> MgErr {
    ++gSeen.unloads;
    return kNoErr;
  };
  h.handleQueuedUserEvents = [](int32 code) { gSeen.doneHandled += code == kUserEventDone; };
  return h;
}

void SetName(UHandle vi, const char* name) {
  VIRecord* r = VIRec(vi);
  r->name[0] = uChar(std::strlen(name));
  std::memcpy(r->name + 1, name, r->name[0]);
}

// The completion trampoline's address: code that returns it ends its run.
uint32_t Trampoline() { return uint32_t(reinterpret_cast<uintptr_t>(&DSCompletionTrampoline)); }

extern "C" int32 ElementResetPending(QueueElement* e) { return e->resetPending; }

// Top-level code that ends at once (counting its runs in a data word).
std::vector<uint8_t> OnceCode(int32 counter) {
  emit::Code c;
  c.SetEntry();
  c.IncMem(emit::EBP, counter);
  c.MovRegImm(emit::EAX, Trampoline());
  c.Ret();
  return c.Finish();
}

// Top-level code whose clump yields until its element is being reset.
std::vector<uint8_t> YieldingCode(int32 counter) {
  emit::Code c;
  auto top = c.NewLabel(), done = c.NewLabel();
  c.SetEntry();
  c.Bind(top);
  c.PushReg(emit::ESI);
  c.MovRegReg(emit::ESI, emit::EAX);
  c.PushReg(emit::EAX);
  c.MovRegImm(emit::ECX, uint32_t(reinterpret_cast<uintptr_t>(&ElementResetPending)));
  c.CallReg(emit::ECX);
  c.AddRegImm(emit::ESP, 4);
  c.PopReg(emit::ESI);
  c.TestRegReg(emit::EAX, emit::EAX);
  c.Jcc(emit::kNZ, done);
  c.IncMem(emit::EBP, counter);
  c.LoadLabelAddress(emit::EAX, top);
  c.Ret();
  c.Bind(done);
  c.MovRegImm(emit::EAX, Trampoline());
  c.Ret();
  return c.Finish();
}

class RunTest : public CodeTest {
 protected:
  void SetUp() override {
    CodeTest::SetUp();
    {
      std::lock_guard<std::mutex> g(gPostedLock);
      gPosted.clear();
    }
    gSeen = Seen{};
    ExecSetPostUserEventProc(&RecordEvent);
    RunCmdHooks h = RecordingHooks();
    SetRunCmdHooks(&h);
  }
  void TearDown() override {
    for (UHandle vi : loaded_) RemoveLoadedVI(vi);
    for (auto& d : vis_) {
      for (UHandle* l : {&d->VI()->callers, &d->VI()->subVIs})
        if (*l) AZDisposeHandle(*l), *l = nullptr;
      if (d->VI()->panelHeap) OHDisposeHeap(d->VI()->panelHeap), d->VI()->panelHeap = nullptr;
    }
    RunCleanupProcs(nullptr);
    DisposeCleanupList();
    vis_.clear();
    codes_.clear();
    SetRunCmdHooks(nullptr);
    ExecSetPostUserEventProc(nullptr);
    CodeTest::TearDown();
  }
  void Start(const std::vector<std::pair<int, int>>& slots = {}) {
    OnlySlots(slots);
    ASSERT_EQ(InitExec(), kNoErr);
  }
  // A VI of the kind with a data space, idle, with a panel heap.
  CodeDS& VI(const char* name, int priority = kPriNormal, int16 kind = kVIKindDatalog, int system = kESysUserInterface,
             int slot = 0) {
    vis_.push_back(std::make_unique<CodeDS>(priority, system, slot, false, kind));
    CodeDS& d = *vis_.back();
    SetName(d.vi(), name);
    d.VI()->eState = kVIStateIdle;
    d.VI()->callers = AZNewHClr(4);
    d.VI()->subVIs = AZNewHClr(4);
    d.VI()->panelHeap = OHNewHeap(64, 0, 0, 0);
    InsertLoadedVI(d.vi());
    loaded_.push_back(d.vi());
    return d;
  }
  static void Append(UHandle list, UHandle vi) {
    const int32 n = int32(GetNative32(*list));
    ASSERT_EQ(AZSetHandleSize(list, 8 + 4 * n), kNoErr);
    PutNative32(*list + 4 + 4 * n, uInt32(uintptr_t(vi)));
    PutNative32(*list, uInt32(n + 1));
  }
  static void Calls(CodeDS& caller, CodeDS& sub) {
    Append(caller.VI()->subVIs, sub.vi());
    Append(sub.VI()->callers, caller.vi());
  }
  // Idle VIs named in order and the calls between them, each a pair of
  // indexes (caller, subVI).
  std::vector<CodeDS*> Hierarchy(std::initializer_list<const char*> names,
                                 std::initializer_list<std::pair<int, int>> calls) {
    std::vector<CodeDS*> v;
    for (const char* n : names) v.push_back(&VI(n));
    for (auto [caller, sub] : calls) Calls(*v[size_t(caller)], *v[size_t(sub)]);
    return v;
  }
  // Gives the VI top-level code and the normal procedures.
  void Code(CodeDS& d, const std::vector<uint8_t>& bytes) {
    codes_.push_back(std::make_unique<LoadedCode>(bytes));
    SetCodeEntryAndPatch(codes_.back()->handle(), d.handle());
    void* entry = DSProc(*d.handle(), kDSProcInit);
    VINormalInitCProcsHelper(d.handle(), 0);
    DSProc(*d.handle(), kDSProcTopCode) = entry;
  }
  // Runs the user-interface slot's clumps until none is left.
  static void RunUI() { ExecThreadProc(ExecContextAt(0)); }
  // Hands the posted done events to the done command.
  static int HandleDone() {
    std::vector<Posted> done;
    {
      std::lock_guard<std::mutex> g(gPostedLock);
      for (auto it = gPosted.begin(); it != gPosted.end();) {
        if (it->code == kUserEventDone) {
          done.push_back(*it);
          it = gPosted.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const Posted& p : done) DoDoneCommand(reinterpret_cast<DataSpace>(uintptr_t(uInt32(p.a1))));
    return int(done.size());
  }
  // Registers a cleanup as the VI's top-level clump would while it runs.
  static void RegisterWhileRunning(CodeDS& d, RTCleanupProc proc, int32 mode) {
    ExecContextAt(0)->current.store(&d.run());
    d->entrance.owner = &d.run();
    d->busy = 1;
    EXPECT_EQ(RTSetCleanupProc(proc, nullptr, mode), 1);
    d->entrance.owner = nullptr;
    d->busy = 0;
    ExecContextAt(0)->current.store(nullptr);
  }
  static uInt32 State(CodeDS& d) { return d.VI()->eState & kVIStateMask; }
  static int Count(const std::string& text) { return Reports::Get().Count(text); }

  std::vector<std::unique_ptr<CodeDS>> vis_;
  std::vector<std::unique_ptr<LoadedCode>> codes_;
  std::vector<UHandle> loaded_;
};

constexpr int32 kCounter = kDataSpaceHeaderSize;  // a data word after the header

// ---- The run command ----------------------------------------------------------------

TEST_F(RunTest, EachStateGivesItsResultAndDebugText) {
  Start();
  struct Case {
    uInt32 state;
    int32 result;
    const char* text;
  } cases[] = {
      {2, kRunCannotRun, "DoRunCommand: \"v\" can not be run. eState=0x2"},
      {4, kRunCannotRun, "DoRunCommand: \"v\" can not be run. eState=0x4"},
      {6, kRunCannotRun, "eState=0x6"},
      {8, kRunCannotRun, "eState=0x8"},
      {9, kRunCannotRun, "eState=0x9"},
      {14, kRunCannotRun, "eState=0xE"},
      {12, kRunCannotRun, "DoRunCommand: \"v\" unknown eState=0xC"},
      {3, kRunCannotRun, "unknown eState=0x3"},
      {0, kRunBroken, "The VI is not executable."},
      {7, kRunCannotRun, nullptr},  // resuming not allowed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    CodeDS& d = VI("v");
    d.VI()->eState = c.state;
    d.VI()->flags = 1;
    Reports::Get().Clear();
    EXPECT_EQ(DoRunCommand(d.vi(), 0), c.result);
    if (c.text) { EXPECT_EQ(Count(c.text), 1) << Reports::Get().Text(); }
    EXPECT_EQ(State(d), c.state) << "refused or broken: the state stays";
  }
  CodeDS& noPanel = VI("np");
  OHDisposeHeap(noPanel.VI()->panelHeap);
  noPanel.VI()->panelHeap = nullptr;
  EXPECT_EQ(DoRunCommand(noPanel.vi(), 1), kRunNoPanelHeap);
  EXPECT_EQ(Count("DoRunCommand: \"np\" can not be run. fpHeap not open"), 1);
  CodeDS& ctlErr = VI("ce");
  gSeen.flag17 = 1;
  EXPECT_EQ(DoRunCommand(ctlErr.vi(), 1), kRunControlError);
  EXPECT_EQ(Count("DoRunCommand: \"ce\" can not be run. fp control error"), 1);
  EXPECT_EQ(State(ctlErr), kVIStateIdle);
  // A VI whose code was never entered is not started by any caller.
  CodeDS& unentered = VI("ue");
  unentered.VI()->flags2 |= kVIFlags2CodeNotEntered;
  EXPECT_EQ(StartVIRun(unentered.handle()), kRunCannotRun);
  EXPECT_EQ(State(unentered), kVIStateIdle);
}

TEST_F(RunTest, BrokenAlertTextFollowsTheFlags) {
  Start();
  struct Case {
    uInt32 flags;
    int32 entry;
    const char* text;
  } cases[] = {
      {0x1, 1, "The VI is not executable."},
      {0x400000, 1, "The VI is not executable."},
      {0x10000 | 0x8, 1, "The VI is not executable."},
      {0x8, 2, "A subVI is not executable."},
      {0x4, 3, "A subVI, Type Definition, or external subroutine is missing"},
      {0x10, 4, "A subVI is already running."},
      {0x100, 5, "VI has an error of type 100."},
  };
  CodeDS& d = VI("b");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(BrokenAlertEntry(c.flags), c.entry);
    d.VI()->flags = c.flags;
    d.VI()->eState = 0;
    Reports::Get().Clear();
    EXPECT_EQ(DoRunCommand(d.vi(), 0), kRunBroken);
    EXPECT_EQ(Count(c.text), 1) << Reports::Get().Text();
  }
  d.VI()->eState = kVIStateIdle;
  Reports::Get().Clear();
  ShowVIBrokenAlert(d.vi());
  EXPECT_EQ(Count("error of type"), 0) << "only a broken VI shows it";
}

TEST_F(RunTest, TopLevelRunCompletesAndRunsCleanupsOnce) {
  Start();
  CodeDS& d = VI("top");
  CodeDS& sub = VI("sub");
  Calls(d, sub);
  Code(d, OnceCode(kCounter));
  EXPECT_EQ(DoRunCommand(d.vi(), 0), 0);
  EXPECT_EQ(State(d), 2u);
  EXPECT_TRUE(ExecVIRunning());
  EXPECT_EQ(State(sub), 4u) << "the subVI is reserved";
  EXPECT_EQ(sub.VI()->reservations, 1);
  EXPECT_EQ(gSeen.rtMenu, 1);
  auto Placed = [](UHandle vi) { return std::count(gSeen.placed.begin(), gSeen.placed.end(), vi); };
  EXPECT_EQ(Placed(d.vi()), 1) << "the top VI's window when it starts";
  EXPECT_EQ(Placed(sub.vi()), 1) << "the subVI's when it is reserved";
  EXPECT_EQ(DoRunCommand(d.vi(), 0), kRunCannotRun) << "a second run command";
  EXPECT_EQ(State(d), 2u) << "leaves it running";
  // A cleanup of the top VI, registered while its clump runs.
  static std::atomic<int> cleanups{0};
  cleanups = 0;
  RegisterWhileRunning(d, [](void*) -> int32 { return ++cleanups; }, kCleanupTopVI);

  RunUI();
  EXPECT_EQ(d.Word(kCounter).load(), 1);
  ASSERT_EQ(PostedCount(kUserEventDone), 1) << "the completion posts event 6";
  EXPECT_EQ(HandleDone(), 1);
  EXPECT_EQ(State(d), kVIStateIdle);
  EXPECT_EQ(State(sub), kVIStateIdle) << "released";
  EXPECT_EQ(sub.VI()->reservations, 0);
  EXPECT_EQ(Placed(sub.vi()), 2) << "its last reservation released";
  EXPECT_EQ(Placed(nullptr), 1) << "the last running VI stopped: the sweep";
  EXPECT_EQ(cleanups.load(), 1);
  EXPECT_FALSE(ExecVIRunning());
  // A second run does not run the cleanup again.
  EXPECT_EQ(DoRunCommand(d.vi(), 0), 0);
  RunUI();
  HandleDone();
  EXPECT_EQ(cleanups.load(), 1);
  EXPECT_EQ(d.Word(kCounter).load(), 2);
}

TEST_F(RunTest, RunContinuouslyRerunsUntilTheBitClears) {
  Start();
  CodeDS& d = VI("loop");
  Code(d, OnceCode(kCounter));
  DoRunButton(d.vi());
  EXPECT_NE(d.VI()->flags2 & kVIFlags2RunContinuously, 0u);
  for (int i = 1; i <= 3; ++i) {
    RunUI();
    ASSERT_EQ(HandleDone(), 1);
    EXPECT_EQ(d.Word(kCounter).load(), i);
    EXPECT_EQ(State(d), 2u) << "queued again";
  }
  DoRunButton(d.vi());  // running: toggles the bit off
  RunUI();
  HandleDone();
  EXPECT_EQ(d.Word(kCounter).load(), 4);
  EXPECT_EQ(State(d), kVIStateIdle);
  RunUI();
  EXPECT_EQ(d.Word(kCounter).load(), 4) << "not queued again";
}

TEST_F(RunTest, LogFileThatCannotOpenStopsTheRun) {
  Start();
  CodeDS& d = VI("logger");
  CodeDS& sub = VI("sublog");
  Calls(d, sub);
  Code(d, OnceCode(kCounter));
  sub.VI()->flags2 |= kVIFlags2LogAtCompletion;
  gSeen.writeErr = MgErr(6);
  Reports::Get().Clear();
  EXPECT_EQ(StartVIRun(d.handle()), 1);
  EXPECT_EQ(Count("Cannot log front panel of VI \"sublog\". There is no log file associated with the VI."), 1)
      << Reports::Get().Text();
  EXPECT_EQ(State(d), kVIStateIdle);
  Path p = nullptr;
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>("/tmp/x.log"), 10, &p), kNoErr);
  gSeen.logPath = p;
  Reports::Get().Clear();
  EXPECT_EQ(StartVIRun(d.handle()), 1);
  EXPECT_EQ(Count("Could not open log file"), 1) << Reports::Get().Text();
  EXPECT_EQ(Count("x.log"), 1);
  // A subVI that a running hierarchy holds is not checked.
  sub.VI()->reservations = 1;
  EXPECT_EQ(StartVIRun(d.handle()), 0);
  sub.VI()->reservations = 0;
  FDisposePath(p);
}

// ---- States --------------------------------------------------------------------------

TEST_F(RunTest, SuspendResumeAndTheTwinStep) {
  Start();
  CodeDS& d = VI("s");
  VINormalInitCProcsHelper(d.handle(), 0);
  d.VI()->eState = 2;
  const int32 count = d->resetCount;
  DoSuspendCommand(d.handle());
  EXPECT_EQ(State(d), 7u);
  EXPECT_EQ(d->suspendPending, 1);
  EXPECT_EQ(d->resetCount, count + 1);
  EXPECT_EQ(DoRunCommand(d.vi(), 1), 0);
  EXPECT_EQ(State(d), 9u) << "resumed";
  EXPECT_EQ(ExecContextAt(0)->runRecord->runQueue->head, &d.own()) << "the resume element is queued";
  EXPECT_EQ(d.own().code, reinterpret_cast<void*>(&DSCompletionTrampoline));
  DeQElm(ExecContextAt(0)->runRecord->runQueue);

  // A suspension that came after a reset of the owner: it goes on as a subVI.
  d.VI()->eState = 2;
  d.own().resetPending = 1;
  d->wholeReset = 0;
  DoSuspendCommand(d.handle());
  EXPECT_EQ(State(d), 12u);
  EXPECT_EQ(d.own().runState, 2);
  // With a whole reset it takes effect.
  d.own().resetPending = 1;
  d->wholeReset = 1;
  DoSuspendCommand(d.handle());
  EXPECT_EQ(State(d), 7u);
  EXPECT_EQ(d.own().runState, 0);
  EXPECT_EQ(d.own().resetPending, 0);

  // The run button continues a suspended VI as a subVI.
  DoRunButton(d.vi());
  EXPECT_EQ(State(d), 12u);
  EXPECT_EQ(d.own().code, DSProc(*d.handle(), kDSProcTopCode));
  DeQElm(ExecContextAt(0)->runRecord->runQueue);
}

TEST_F(RunTest, ReleaseOfASuspendedVIAndTheIdleStep) {
  Start();
  struct Case {
    bool busy;
    uInt32 expect;
  } cases[] = {{true, 12}, {false, 4}};
  for (const Case& c : cases) {
    CodeDS& d = VI("r");
    d.VI()->eState = 7;
    d->busy = c.busy;
    SetVIReserved(d.vi(), 1);
    EXPECT_EQ(State(d), c.expect) << c.busy;
  }
  CodeDS& r = VI("r2");
  r.VI()->eState = 12;
  SetVIIdle(r.vi(), r.handle());
  EXPECT_EQ(State(r), 13u) << "the idle step keeps bits 4 and 8";
  // A reentrant VI stays 7.
  CodeDS& re = VI("re");
  re.VI()->flags |= kVIFlagReentrant;
  re.VI()->eState = 7;
  SetVIReserved(re.vi(), 1);
  EXPECT_EQ(State(re), 7u);
  // A VI whose state follows its data spaces: nothing while busy.
  CodeDS& f = VI("f");
  f.VI()->flags |= kVIFlagFollowsDataSpaces;
  f.VI()->eState = 13;
  f->busy = 1;
  SetVIReserved(f.vi(), 1);
  EXPECT_EQ(State(f), 13u);
  f->busy = 0;
  SetVIReserved(f.vi(), 1);
  EXPECT_EQ(State(f), 5u);
  // The reserve command sets bit 8 while a data space is busy.
  CodeDS& b = VI("b");
  b.VI()->eState = 5;
  b->busy = 1;
  DoReserveCommand(b.vi());
  EXPECT_EQ(State(b), 13u);
  b->busy = 0;
  DoReserveCommand(b.vi());
  EXPECT_EQ(State(b), 5u);
}

TEST_F(RunTest, PriorityPropagatesFromCallers) {
  Start();
  CodeDS& top = VI("top", kPriHigh);
  CodeDS& sub = VI("sub", kPriNormal);
  CodeDS& leaf = VI("leaf", kPriBackground);
  Calls(top, sub);
  Calls(sub, leaf);
  top.VI()->execSystem = kESysStandard;
  sub.VI()->execSystem = kESysStandard;
  PropagatePriority(top.vi());
  EXPECT_EQ(top->effPriority, kPriHigh);
  EXPECT_EQ(sub->effPriority, kPriHigh) << "a priority-1 subVI called by a priority-3 VI runs at 3";
  EXPECT_EQ(sub->basePriority, kPriNormal);
  EXPECT_EQ(sub->slot, ExecSysSlot(kPriHigh, kESysStandard));
  EXPECT_EQ(leaf->effPriority, kPriHigh);
  // Without that caller a later start recomputes it.
  top.VI()->priority = kPriBackground;
  PropagatePriority(top.vi());
  EXPECT_EQ(sub->effPriority, kPriNormal);
  EXPECT_EQ(leaf->effPriority, kPriNormal);
  // A subroutine-priority caller does not raise its subVIs.
  top.VI()->priority = kPriSubroutine;
  PropagatePriority(top.vi());
  EXPECT_EQ(sub->effPriority, kPriNormal);
  EXPECT_EQ(top->routingRow, nullptr);
}

TEST_F(RunTest, CallersMarkedBadWhileASubVIRunsLoseItAtRunEnd) {
  Start();
  const auto v = Hierarchy({"a", "b", "c1", "c2"}, {{0, 1}, {1, 2}, {1, 3}});
  CodeDS &a = *v[0], &b = *v[1], &c1 = *v[2], &c2 = *v[3];
  Code(c1, OnceCode(kCounter));
  Code(c2, OnceCode(kCounter));
  ASSERT_EQ(DoRunCommand(c1.vi(), 0), 0);
  ASSERT_EQ(DoRunCommand(c2.vi(), 0), 0);
  for (CodeDS* d : {&a, &b}) {
    EXPECT_NE(d->VI()->flags & kVIFlagSubVIRunning, 0u);
    EXPECT_EQ(State(*d), kVIStateBroken);
  }
  Reports::Get().Clear();
  EXPECT_EQ(DoRunCommand(b.vi(), 0), kRunBroken);
  EXPECT_EQ(Count("A subVI is already running."), 1);
  // c1 ends first: c2 still runs and holds b (and so a).
  RunUI();
  std::vector<Posted> done;
  {
    std::lock_guard<std::mutex> g(gPostedLock);
    done = gPosted;
    gPosted.clear();
  }
  ASSERT_EQ(done.size(), 2u);
  DoDoneCommand(c1.handle());
  EXPECT_EQ(State(b), kVIStateBroken) << "c2 still running";
  EXPECT_NE(a.VI()->flags & kVIFlagSubVIRunning, 0u);
  DoDoneCommand(c2.handle());
  for (CodeDS* d : {&a, &b}) {
    EXPECT_EQ(d->VI()->flags & kVIFlagSubVIRunning, 0u);
    EXPECT_EQ(State(*d), kVIStateIdle);
  }
}

TEST_F(RunTest, BadStatePropagatesAndClears) {
  Start();
  // c calls a again: a cycle of callers ends too.
  const auto v = Hierarchy({"a", "b", "c", "other"}, {{0, 1}, {1, 2}, {0, 3}, {2, 0}});
  CodeDS &a = *v[0], &b = *v[1], &c = *v[2], &other = *v[3];
  PropagateVIBad(c.vi(), 1);
  for (CodeDS* d : {&a, &b, &c}) EXPECT_EQ(State(*d), kVIStateBroken);
  EXPECT_NE(b.VI()->flags & kVIFlagSubVINotExec, 0u);
  other.VI()->flags |= kVIFlagSubVIMissing;  // another subVI keeps a bad
  PropagateVIBad(c.vi(), 0);
  EXPECT_EQ(State(c), kVIStateIdle);
  EXPECT_EQ(State(b), kVIStateIdle);
  EXPECT_EQ(b.VI()->flags & kVIFlagSubVINotExec, 0u);
  EXPECT_EQ(State(a), kVIStateBroken) << "held by its other subVI";
  // SetVIBad ends run-continuously.
  a.VI()->flags2 |= kVIFlags2RunContinuously;
  SetVIBad(a.vi());
  EXPECT_EQ(a.VI()->flags2 & kVIFlags2RunContinuously, 0u);
}

// ---- Abort and reset -----------------------------------------------------------------

// A reset procedure (slot 8) that takes the element out of the entrance, as
// the normal one does, without a linked data space.
int32 ResetClumps(DataSpace ds, QueueElement* element) { return RemQEVIEntry(element, &(*ds)->entrance); }

TEST_F(RunTest, AbortResetsAYieldingClumpAndRunsAbortCleanups) {
  CfgTestSetValue("resettingDlgDelay", "50");
  Start({{2, 1}});
  ExecSetTimeSlice(2);
  CodeDS& d = VI("spin", kPriNormal, kVIKindDatalog, kESysStandard, 2);
  d.VI()->execSystem = kESysStandard;
  Code(d, YieldingCode(kCounter));
  DSProc(*d.handle(), kDSProcResetClumps) = reinterpret_cast<void*>(&ResetClumps);
  static std::atomic<int> normal{0}, aborted{0};
  normal = aborted = 0;
  ExecContextAt(0)->current.store(&d.run());
  d->entrance.owner = &d.run();
  d->busy = 1;
  ASSERT_EQ(RTSetCleanupProc([](void*) -> int32 { return ++normal; }, nullptr, kCleanupTopVI), 1);
  ASSERT_EQ(RTSetCleanupProc([](void*) -> int32 { return ++aborted; }, nullptr, kCleanupTopVIAbort), 1);
  d->entrance.owner = nullptr;
  d->busy = 0;
  ExecContextAt(0)->current.store(nullptr);

  ASSERT_EQ(DoRunCommand(d.vi(), 0), 0);
  for (int i = 0; i < 10000 && d.Word(kCounter).load() < 50; ++i) WSleep(1);
  ASSERT_GE(d.Word(kCounter).load(), 50) << "the clump keeps yielding";
  // The top-level code holds its own entrance while it runs.
  ThMutexAcquire(d->entrance.dsRights);
  d->entrance.owner = &d.run();
  d->busy = 1;
  ThMutexRelease(d->entrance.dsRights);
  EXPECT_EQ(AbortTopVI(d.vi()), 0);
  EXPECT_FALSE(ExecAbortInProgress());
  EXPECT_EQ(gSeen.dialogText, "Resetting VI: spin");
  EXPECT_EQ(gSeen.unloads, 1);
  EXPECT_GE(gSeen.steps, 1);
  EXPECT_EQ(gSeen.doneHandled, 1) << "waiting done events are handled at once";
  ASSERT_FALSE(gSeen.moves.empty());
  EXPECT_EQ(gSeen.moves.front().first, kDlgOffScreen);
  // The clump sees the reset and ends its run: the done event comes.
  for (int i = 0; i < 10000 && PostedCount(kUserEventDone) == 0; ++i) WSleep(1);
  ThMutexAcquire(d->entrance.dsRights);
  d->entrance.owner = nullptr;
  d->busy = 0;
  ThMutexRelease(d->entrance.dsRights);
  ASSERT_EQ(HandleDone(), 1);
  EXPECT_EQ(State(d), kVIStateIdle);
  EXPECT_EQ(d.run().resetPending, 0);
  EXPECT_EQ(aborted.load(), 1) << "mode 3 after an abort";
  EXPECT_EQ(normal.load(), 1) << "mode 2 when it leaves the running state";
  EXPECT_EQ(DoAbortCommand(d.handle()), kRunCannotRun) << "idle: nothing to abort";
  CfgTestRemoveValue("resettingDlgDelay");
}

// An abort right after the run is asked for, before its clump has entered
// its code (it holds no entrance yet): the queued run element is reset, the
// clump sees it when it starts, the run ends and the VI is idle.
TEST_F(RunTest, AbortBeforeTheClumpStartsEndsTheRun) {
  Start();
  CodeDS& d = VI("early");
  Code(d, YieldingCode(kCounter));
  DSProc(*d.handle(), kDSProcResetClumps) = reinterpret_cast<void*>(&ResetClumps);
  ASSERT_EQ(DoRunCommand(d.vi(), 0), 0);
  EXPECT_EQ(AbortTopVI(d.vi()), 0);
  ASSERT_EQ(d.run().resetPending, 1) << "the queued run element is reset";
  RunUI();
  ASSERT_EQ(HandleDone(), 1);
  EXPECT_EQ(State(d), kVIStateIdle);
  EXPECT_EQ(d.Word(kCounter).load(), 0) << "its clump ran no round";
  EXPECT_EQ(d.run().resetPending, 0);
}

TEST_F(RunTest, ResettingDialogMovesOnlyAfterTheDelay) {
  CfgTestSetValue("resettingDlgDelay", "50");
  Start();
  EXPECT_EQ(ExecResettingDlgDelay(), 50);
  CodeDS& d = VI("slow");
  QueueElement clump = NewElement(d.handle());
  d.own().chain = &clump;
  ASSERT_EQ(RemQEVIEntry(nullptr, d.entrance()), 1) << "a whole reset enters the list";
  ASSERT_EQ(clump.resetPending, 1);
  std::atomic<int32> release{0};
  std::thread clearer([&] {
    WSleep(150);
    ThMutexAcquire(d->entrance.dsRights);
    clump.resetPending = 0;
    ThMutexRelease(d->entrance.dsRights);
    release.store(1);
  });
  RunResettingDialog(d.handle());
  clearer.join();
  EXPECT_EQ(release.load(), 1) << "the dialog stays until the list is empty";
  ASSERT_EQ(gSeen.moves.size(), 2u);
  EXPECT_EQ(gSeen.moves[0].first, kDlgOffScreen);
  EXPECT_EQ(gSeen.moves[1].first, kDlgCentred);
  // Off screen as it loads, before the dialog runs; the delay runs from
  // there (a loaded machine may stall anywhere, so no clock bound holds for
  // the first move).
  EXPECT_EQ(gSeen.stepsAtFirstMove, 0);
  EXPECT_GE(gSeen.moves[1].second - gSeen.moves[0].second, 50);
  EXPECT_GT(gSeen.steps, 1);
  EXPECT_EQ(gSeen.unloads, 1);
  EXPECT_EQ(gSeen.dialogText, "Resetting VI: slow");
  d.own().chain = nullptr;
  d.own().resetPending = 0;
  CfgTestRemoveValue("resettingDlgDelay");
}

TEST_F(RunTest, AbortCleanupsRunOnlyAfterAnAbort) {
  Start();
  CodeDS& d = VI("t");
  Code(d, OnceCode(kCounter));
  static std::atomic<int> aborted{0};
  aborted = 0;
  RegisterWhileRunning(d, [](void*) -> int32 { return ++aborted; }, kCleanupTopVIAbort);
  ASSERT_EQ(DoRunCommand(d.vi(), 0), 0);
  RunUI();
  HandleDone();
  EXPECT_EQ(aborted.load(), 0);
  EXPECT_EQ(CleanupProcCount(), 1);
}

TEST_F(RunTest, StaleResetIsIgnored) {
  Start();
  CodeDS& d = VI("r");
  d.VI()->eState = 2;
  d->resetCount = 5;
  static int resets = 0;
  resets = 0;
  DSProc(*d.handle(), kDSProcResetClumps) =
      reinterpret_cast<void*>(+[](DataSpace, QueueElement*) -> int32 { return ++resets; });
  Reports::Get().Clear();
  DoResetCommand(d.handle(), 0, 3, 7, 4);
  EXPECT_EQ(resets, 0) << "an old reset count";
  EXPECT_EQ(Count("was stopped"), 0);
  DoResetCommand(d.handle(), 0, 3, 7, 5);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(Count("VI \"r\" was stopped at node  0x3 of subVI \"\""), 1) << Reports::Get().Text();
}

TEST_F(RunTest, ResetListOfManyDataSpacesIsWorked) {
  Start();
  std::vector<std::unique_ptr<CodeDS>> many;
  std::vector<QueueElement> clumps(600);
  for (int i = 0; i < 600; ++i) {
    many.push_back(std::make_unique<CodeDS>(kPriNormal, kESysUserInterface, 0));
    CodeDS& d = *many.back();
    clumps[size_t(i)] = NewElement(d.handle());
    d.run().chain = &clumps[size_t(i)];
    d->entrance.owner = &d.run();  // running at top level
    EXPECT_EQ(RemQEVIEntry(&d.run(), d.entrance()), 1);
    EXPECT_EQ(clumps[size_t(i)].resetPending, 1);
  }
  UHandle list = ExecResetList();
  EXPECT_EQ(*reinterpret_cast<int32*>(*list), 600);
  EXPECT_EQ(WorkResetList(), 600) << "every chain still reset-pending";
  for (int i = 0; i < 600; i += 2) clumps[size_t(i)].resetPending = 0;
  EXPECT_EQ(WorkResetList(), 300);
  // A waiting clump goes back on its run record to see the reset.
  clumps[1].runState = 3;
  WorkResetList();
  EXPECT_EQ(clumps[1].runState, 0);
  EXPECT_EQ(ExecContextAt(0)->runRecord->runQueue->head, &clumps[1]);
  DeQElm(ExecContextAt(0)->runRecord->runQueue);
  Reports::Get().Clear();
  ResetDSRemove(many[1]->handle());
  EXPECT_EQ(Count("ResetDSRemove: removing dsh 0x"), 1);
  EXPECT_EQ(WorkResetList(), 299);
  for (auto& c : clumps) c.resetPending = 0;
  EXPECT_EQ(WorkResetList(), 0);
  for (auto& d : many) (*d)->entrance.owner = nullptr;
}

TEST_F(RunTest, ResetListConcurrentEntriesAreAllWorked) {
  Start({{2, 1}});
  const int n = qxtest::Scaled(200) < 20 ? 20 : qxtest::Scaled(200);
  std::vector<std::unique_ptr<CodeDS>> many;
  for (int i = 0; i < n; ++i) many.push_back(std::make_unique<CodeDS>(kPriNormal, kESysStandard, 2));
  std::atomic<int32> entered{0};
  // Whole resets entered by another thread while this one works the list.
  std::thread enter([&] {
    for (auto& d : many) {
      RemQEVIEntry(nullptr, d->entrance());
      entered.fetch_add(1);
    }
  });
  int32 left = 0;
  do {
    left = WorkResetList();
  } while (entered.load() < n || left > 0);
  enter.join();
  EXPECT_EQ(WorkResetList(), 0);
  for (auto& d : many) {
    ThMutexAcquire((*d)->entrance.dsRights);
    EXPECT_EQ((*d)->wholeReset, 1);
    (*d)->entrance.ownElement.resetPending = 0;
    ThMutexRelease((*d)->entrance.dsRights);
  }
}

// ---- The completion step of a subVI call ---------------------------------------------

TEST_F(RunTest, SubVIStartUpOverFlagWords) {
  Start();
  CodeDS& sub = VI("sub");
  struct Case {
    uInt32 word;
    uInt16 panelFlag2, viFlags, bit12;
    uInt16 show, open, close;
  } cases[] = {
      {0x00000000, 0, 0, 0, 1, 0, 0},
      {0x12340000, 1, 0xFFFF, 1, 1, 0, 0},      // low half 0: defaults
      {0x00000001, 0, 0, 0, 0, 0, 0},
      {0x00000001, 1, 0, 0, 1, 0, 0},           // second panel flag
      {0x00800001, 0, 0, 0, 1, 0, 0},           // u 0x80
      {0x10000001, 0, 0, 0, 1, 0x1000 & 0, 0},  // u 0x1000: close
      {0x80000001, 0, 0, 0, 1, 0x8000, 0},      // u 0x8000 opens and shows
      {0x00400001, 0, 0, 0, 0, 0x40, 0},
      {0x00000003, 0, 0x8040 | 0x10, 0, 1, 0x8040, 0},
      {0x00000001, 0, 0, 1, 1, 0x40, 1},
  };
  cases[5].open = 0x40;
  cases[5].close = 0x1000;
  uInt32 flag = 0;
  QueueElement caller = NewElement(sub.handle());
  caller.flagRecord = &flag;
  sub->entrance.owner = &caller;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.word);
    flag = c.word;
    sub->panelFlag2 = c.panelFlag2;
    sub->viFlagsCopy = c.viFlags;
    sub->flagsBit12 = c.bit12;
    sub->completion = 9;
    SubVIStartUp(sub.handle());
    EXPECT_EQ(sub->callFlags, uInt16(c.word & 0xFFFF));
    EXPECT_EQ(sub->showPanel, c.show);
    EXPECT_EQ(sub->openOptions, c.open);
    EXPECT_EQ(sub->closeOptions, c.close);
    EXPECT_EQ(sub->completion, 0);
  }
  sub->entrance.owner = nullptr;
}

TEST_F(RunTest, SubVIFinishAndTheCompletionCommand) {
  Start();
  CodeDS& sub = VI("sub");
  sub->callFlags = 0;
  EXPECT_EQ(SubVIFinish(sub.handle()), 1) << "nothing to do";
  sub->callFlags = kCallPrintAtCompletion;
  EXPECT_EQ(SubVIFinish(sub.handle()), 1) << "print needs an open panel";
  sub->panelOpen = 1;
  EXPECT_EQ(SubVIFinish(sub.handle()), 0);
  ASSERT_EQ(PostedCount(kEventCompletion), 1);
  {
    std::lock_guard<std::mutex> g(gPostedLock);
    EXPECT_EQ(gPosted.back().a1, int32(reinterpret_cast<intptr_t>(sub.handle())));
    EXPECT_EQ(gPosted.back().a2, int32(reinterpret_cast<intptr_t>(&sub.own())));
  }
  sub.own().runningContext = ExecContextAt(0);
  DoCompletionCommand(sub.handle(), &sub.own());
  EXPECT_EQ(gSeen.printed, 1);
  EXPECT_EQ(gSeen.updated, 1);
  EXPECT_EQ(ExecContextAt(0)->runRecord->runQueue->head, &sub.own()) << "queued again";
  DeQElm(ExecContextAt(0)->runRecord->runQueue);

  struct Case {
    MgErr err;
    const char* text;
  } cases[] = {
      {71, "The data in the VI's log file is incompatible with the VI's front panel."},
      {6, "Error logging front panel data to VI's log file."},
  };
  sub->callFlags = kCallLogAtCompletion;
  sub->reclaimMemory = 1;
  for (const Case& c : cases) {
    gSeen.writeErr = c.err;
    Reports::Get().Clear();
    const int cleared = gSeen.cleared;
    EXPECT_EQ(SubVIFinish(sub.handle()), 0);
    DoCompletionCommand(sub.handle(), &sub.own());
    EXPECT_EQ(Count(c.text), 1) << Reports::Get().Text();
    EXPECT_EQ(gSeen.cleared, cleared + 1) << "the log path is cleared";
    EXPECT_EQ(sub->completion, 1) << "reclaimed";
    DeQElm(ExecContextAt(0)->runRecord->runQueue);
  }
}

TEST_F(RunTest, PanelRequestsOfARunningSubVI) {
  Start();
  CodeDS& sub = VI("sub");
  QueueElement caller = NewElement(sub.handle());
  sub->entrance.owner = &caller;
  sub->resetCount = 3;
  sub->openOptions = 0x40;
  EXPECT_EQ(ExecOpenFP(nullptr, sub.handle()), 0x40) << "panel closed";
  sub->panelOpen = 1;
  EXPECT_EQ(ExecOpenFP(nullptr, sub.handle()), 0);
  ASSERT_EQ(PostedCount(kEventOpenPanel), 2);
  {
    std::lock_guard<std::mutex> g(gPostedLock);
    const Posted& p = gPosted.back();
    EXPECT_EQ(p.a1, int32(reinterpret_cast<intptr_t>(sub.vi())));
    EXPECT_EQ(p.a2, int32(reinterpret_cast<intptr_t>(&caller)));
    EXPECT_EQ(p.a3, int32(reinterpret_cast<intptr_t>(sub.handle())));
    EXPECT_EQ(p.a4, 3);
  }
  EXPECT_EQ(ExecCloseFP(nullptr, sub.handle()), 0);
  EXPECT_EQ(PostedCount(kEventClosePanel), 1);
  sub->panelOpen = 0;
  OHDisposeHeap(sub.VI()->panelHeap);
  sub.VI()->panelHeap = nullptr;
  EXPECT_EQ(ExecCloseFP(nullptr, sub.handle()), 1) << "no panel";
  EXPECT_EQ(PostedCount(kEventClosePanel), 1);
  sub->entrance.owner = nullptr;
}

TEST_F(RunTest, ErrorNotifyTexts) {
  Start();
  CodeDS& top = VI("top");
  CodeDS& sub = VI("sub");
  gSeen.controls = 2;
  struct Case {
    int32 location;
    MgErr err;
    const char* text;  // null: nothing shown
  } cases[] = {
      {-2, 7, "VI \"top\" was stopped at numeric Gain 0x2 of subVI \"sub\""},
      {-3, 7, "VI \"top\" was stopped at control  0x3 of subVI \"sub\""},  // past the panel's controls
      {12, 7, "VI \"top\" was stopped at node  0xC of subVI \"sub\""},
      {0, 7, "VI \"top\" was stopped at node  0x0 of subVI \"sub\""},
      {-1, 43, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    Reports::Get().Clear();
    VIErrorNotify(top.vi(), top.handle(), sub.vi(), c.location, c.err);
    if (c.text) EXPECT_EQ(Count(c.text), 1) << Reports::Get().Text();
    else EXPECT_EQ(Count("was stopped"), 0);
  }
  // Without a panel the control is named by its kind only.
  OHDisposeHeap(sub.VI()->panelHeap);
  sub.VI()->panelHeap = nullptr;
  Reports::Get().Clear();
  VIErrorNotify(top.vi(), top.handle(), sub.vi(), -1, 7);
  EXPECT_EQ(Count("stopped at control  0x1 of subVI"), 1);
  Reports::Get().Clear();
  VIDocMod(top.vi(), nullptr, 0x30);
  EXPECT_EQ(Count("Doc Mod in RT!!!!! vi "), 1);
  EXPECT_EQ(Count("modMask 30"), 1);
}

TEST_F(RunTest, ProxyVIsCompleteAndAbortThroughTheProxy) {
  Start();
  CodeDS& p = VI("proxy", kPriNormal, 8);
  p.VI()->eState = 2;
  EXPECT_EQ(DoAbortCommand(p.handle()), 0);
  EXPECT_EQ(gSeen.pxReset, 1);
  p.run().resetPending = 1;
  p.own().resetPending = 1;
  DoDoneCommand(p.handle());
  EXPECT_EQ(gSeen.px, 1);
  EXPECT_EQ(gSeen.pxAborted, 1);
  EXPECT_EQ(p.run().resetPending, 0);
  EXPECT_EQ(p.own().resetPending, 0);
  EXPECT_EQ(State(p), 2u) << "the proxy completes it";
}

}  // namespace

namespace {

// The run-time resource file carries the texts the run commands fall back
// on, entry for entry.
TEST_F(RunTest, RunTimeFileCarriesTheRunCommandTexts) {
  static std::once_flag once;
  std::call_once(once, [] {
    ASSERT_EQ(RInitResources(), kNoErr);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
  });
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunCommandTexts(&w);
  const rsrcw::Bytes bytes = w.Write();
  UHandle h = AZNewHandle(int32(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  RsrcFileRef rt = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt, nullptr, nullptr, h), kNoErr);
  for (const RunTextList& l : kRunTextLists) {
    const int32 count = RunTextCount(l.id);
    ASSERT_GT(count, 0) << l.id;
    for (int32 i = 1; i <= count; ++i) {
      Str255 s;
      ASSERT_EQ(RGetIndString(rt, s, l.id, i), kNoErr) << l.id << " " << i;
      const char* want = RunTextOf(l.id, i);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(s + 1), s[0]), want ? want : "") << l.id << " " << i;
    }
    Str255 past;
    EXPECT_NE(RGetIndString(rt, past, l.id, count + 1), kNoErr) << l.id;
  }
  UHandle str = nullptr;
  ASSERT_EQ(RGetString(rt, kResettingStrId, &str), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*str + 1), **str), "Resetting VI: ");
  RRelease(str);

  // With the file in place the resetting dialog reads its text from it.
  SetRunTimeRsrcFile(rt);
  Start();
  CodeDS& d = VI("named");
  RunResettingDialog(d.handle());
  EXPECT_EQ(gSeen.dialogText, "Resetting VI: named");
  SetRunTimeRsrcFile(0);
  RCloseFile(rt);
}

}  // namespace
