// Hand-offs between emitted clumps through the engine's run queues, against
// the plain way to do the same with a mutex and a condition variable.
//
// A hand-off: the running clump counts down, re-arms its partner's fire
// count and schedules it (CondSchedClmp: decrement under "dsRights", queue
// on the slot's run record, wake its thread), returns 0, and the execution
// thread takes the partner off the queue and enters it.  The baseline does
// the same work with its own queue: one mutex around the fire count, another
// around the queue, a notify per push, a worker waiting in the usual loop,
// and the same emitted clump (its scheduling call aimed at the baseline's
// procedure) called through a function pointer.
//
// The engine's hand-off: the decrement under the data space's "dsRights",
// an insert by level into the slot's five-level run queue under its mutex,
// and the dequeue under the same mutex after a look at the rest queue and
// one look for pending occurrences.  The slot's event is signalled only
// when one of its threads sleeps on it, so a hand-off within one busy thread
// costs the same locked instructions as the baseline's.  What stands between
// this and the baseline is the run queue's work by level and the checks of
// the records' signatures.  Also reported: the
// same chain with the partners in two slots, so that every hand-off wakes
// the other slot's thread, and a subVI called in line (VIEntrance, callee,
// VIExit) against a bare entry of the callee.
//
// A call through a strictly typed reference: Add called in line by a caller
// that prepares the call through the reference (its parameter table copied
// into the callee's, the native call counted), enters Add, which reads its
// inputs and writes the sum through the table's slots, and ends the native
// call; against the same caller handing Add its inputs in Add's data space
// and reading the sum there, as a plain subVI call does.  The counter
// x_plain of the call by reference is its time per call over the plain
// call's (target: at most 1.5).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/exec/rttable.h"
#include "mgsource/config.h"
#include "mgsource/config_internal.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "engine/vi/virecord.h"
#include "server/appserve.h"
#include "server/callbyr.h"
#include "server/viref.h"
#include "tools/clumpemit.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"

namespace {

constexpr int32 kHandOffs = 1000000;
constexpr int32 kD = kDataSpaceHeaderSize;
// The slots that have a thread: standard normal and standard high.
constexpr int32 kSlotA = 2, kSlotB = 4;

// Hand-offs still to go, and the signal of the last clump.
int32 gRemaining = 0;
std::atomic<int32> gDone{0};
extern "C" void ChainDone() {
  gDone.store(1);
  gDone.notify_one();
}
void WaitDone() {
  while (!gDone.load()) gDone.wait(0);
  gDone.store(0);
}

uint32_t Addr(const void* p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }

// The clump: counts down; at 0 it signals, else it re-arms its partner
// (codeWords[0] of its element) and schedules it, then returns 0.  With
// sched set the scheduling call goes there by mov/call, else to
// CondSchedClmp through the run-time table.
std::vector<uint8_t> ChainClump(void (*sched)(QueueElement*, int32)) {
  emit::Code c;
  auto done = c.NewLabel();
  c.SetEntry();
  c.MovRegImm(emit::ECX, Addr(&gRemaining));
  c.DecMem(emit::ECX, 0);
  c.Jcc(emit::kZ, done);
  c.MovRegMem(emit::ECX, emit::EAX, offsetof(QueueElement, codeWords));
  c.MovMemImm(emit::ECX, offsetof(QueueElement, fireCount), 1);
  c.PushImm(uint32_t(kESysSameAsCaller));
  c.PushReg(emit::ECX);
  if (sched) {
    c.MovRegImm(emit::EAX, Addr(reinterpret_cast<const void*>(sched)));
    c.CallReg(emit::EAX);
  } else {
    c.CallRT(770);  // CondSchedClmp
  }
  c.AddRegImm(emit::ESP, 8);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  c.Bind(done);
  c.MovRegImm(emit::EAX, Addr(reinterpret_cast<const void*>(&ChainDone)));
  c.CallReg(emit::EAX);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  return c.Finish();
}

// A data space routed to one slot, with its entrance.
DataSpace NewRoutedDS(int32 slot, int32 system, int32 priority, int32 data = 64) {
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize + data));
  DataSpaceHeader* h = *ds;
  h->signature = kDataSpaceSig;
  h->self = ds;
  h->selfPtr = h;
  h->effPriority = h->basePriority = int16(priority);
  h->priority = uInt16(priority);
  h->execSystem = system;
  h->slot = slot;
  h->rtTable = reinterpret_cast<void*>(QXRTTable);
  NewVIEntrance(ds, 0, 0);
  return ds;
}

QueueElement NewElement(DataSpace ds, void* code) {
  QueueElement e{};
  e.signature = kQueueElementSig;
  e.dataSpace = ds;
  e.code = code;
  return e;
}

// The engine started once with a thread in each of the two slots.
struct Engine {
  VICode engineCode = nullptr, baselineCode = nullptr;
  bool ok = false;
  Engine();
};

void BaselineSched(QueueElement* e, int32);

Engine::Engine() {
  BenchMemInit();
  BenchThInit();
  BenchOccurInit();
  char path[] = "/tmp/qxbenchcfgXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return;
  close(fd);
  const char* args[] = {"bench", "-pref", path};
  CfgChooseFile(3, args);
  CfgWriteRaw(reinterpret_cast<ConstPStr>("\x11" "ESys.StdNParallel"), "-1");
  const char* systems[] = {"ESys.", "ESys.instrument.", "ESys.DAQ.", "ESys.other1.", "ESys.other2."};
  const char* priorities[] = {"Bgrnd", "Normal", "High", "VHigh", "TCritical"};
  for (int s = 1; s <= 25; ++s) {
    std::string key = std::string(systems[(s - 1) / 5]) + priorities[(s - 1) % 5];
    Str255 k;
    k[0] = uChar(key.size());
    key.copy(reinterpret_cast<char*>(k + 1), key.size());
    CfgWriteRaw(k, s == kSlotA || s == kSlotB ? "1" : "0");
  }
  QXRTRegisterEngine();
  QXRTCloseRegistration();
  ok = InitExec() == kNoErr && ExecThreadsOn();
  std::remove(path);
  std::vector<uint8_t> a = ChainClump(nullptr), b = ChainClump(&BaselineSched);
  ok = ok && NewVICode(a.data(), int32(a.size()), &engineCode) == kNoErr &&
       NewVICode(b.data(), int32(b.size()), &baselineCode) == kNoErr;
  if (!ok) return;
  SetCodeEntryAndPatch(reinterpret_cast<UHandle>(engineCode), NewRoutedDS(kSlotA, kESysStandard, kPriNormal));
  ok = (*engineCode)->refused == 0;
}

Engine& TheEngine() {
  static Engine engine;
  return engine;
}
void* EntryOf(VICode code) {
  uint32_t offset = 0;
  std::memcpy(&offset, (*code)->start + 4 * kCodeWordEntry, 4);
  return (*code)->start + offset;
}

// Wall time of a benchmark's loop per hand-off.
struct PerHandOff {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double Ns(const benchmark::State& st) const {
    const double total = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    return st.iterations() ? total / (double(st.iterations()) * kHandOffs) : 0;
  }
};

// Pairs the two elements and runs the chain from the first, once per
// iteration; the nanoseconds per hand-off.
double RunChain(benchmark::State& st, QueueElement& a, QueueElement& b, void (*schedule)(QueueElement*, int32)) {
  a.codeWords[0] = int32(Addr(&b));
  b.codeWords[0] = int32(Addr(&a));
  PerHandOff timer;
  for (auto _ : st) {
    gRemaining = kHandOffs;
    a.fireCount = 1;
    schedule(&a, kESysSameAsCaller);
    WaitDone();
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * kHandOffs);
  return timer.Ns(st);
}

void DisposeRoutedDS(DataSpace ds) {
  DisposeVIEntrance(ds);
  DSDisposeHandle(reinterpret_cast<UHandle>(ds));
}

// Nanoseconds per hand-off of the fastest baseline repetition of this run,
// for the engine's ratio (the least favourable one on a busy machine).
double gBaselineNs = 0;

// ---- The baseline: mutex + condition-variable queue ---------------------------------
std::mutex gFireMutex, gQueueMutex;
std::condition_variable gQueueCv;
std::deque<QueueElement*> gQueue;
bool gWorkerStop = false;

void BaselineSched(QueueElement* e, int32) {
  bool fire;
  {
    std::lock_guard<std::mutex> g(gFireMutex);
    fire = --e->fireCount == 0;
  }
  if (!fire) return;
  {
    std::lock_guard<std::mutex> g(gQueueMutex);
    gQueue.push_back(e);
  }
  gQueueCv.notify_one();
}

void BaselineWorker() {
  for (;;) {
    QueueElement* e;
    {
      std::unique_lock<std::mutex> g(gQueueMutex);
      gQueueCv.wait(g, [] { return !gQueue.empty() || gWorkerStop; });
      if (gQueue.empty()) return;
      e = gQueue.front();
      gQueue.pop_front();
    }
    CallCompiledCode(e->code, e->dataSpace, e);
  }
}

void BM_ClumpChainMutexCondvar(benchmark::State& st) {
  Engine& eng = TheEngine();
  if (!eng.ok) {
    st.SkipWithError("the execution systems did not start");
    return;
  }
  DataSpace ds = NewRoutedDS(kSlotA, kESysStandard, kPriNormal);
  QueueElement a = NewElement(ds, EntryOf(eng.baselineCode)), b = NewElement(ds, EntryOf(eng.baselineCode));
  gWorkerStop = false;
  std::thread worker(BaselineWorker);
  const double ns = RunChain(st, a, b, &BaselineSched);
  if (gBaselineNs <= 0 || ns < gBaselineNs) gBaselineNs = ns;
  {
    std::lock_guard<std::mutex> g(gQueueMutex);
    gWorkerStop = true;
  }
  gQueueCv.notify_one();
  worker.join();
  st.counters["ns_per_handoff"] = ns;
  DisposeRoutedDS(ds);
}

// Runs the chain of two elements through the engine; the elements' data
// spaces choose the slots their clumps run in.
void RunEngineChain(benchmark::State& st, int32 slotA, int32 slotB) {
  Engine& eng = TheEngine();
  if (!eng.ok) {
    st.SkipWithError("the execution systems did not start");
    return;
  }
  DataSpace dsA = NewRoutedDS(slotA, kESysStandard, ExecSlotTable()[slotA].priority);
  DataSpace dsB = NewRoutedDS(slotB, kESysStandard, ExecSlotTable()[slotB].priority);
  QueueElement a = NewElement(dsA, EntryOf(eng.engineCode)), b = NewElement(dsB, EntryOf(eng.engineCode));
  const double ns = RunChain(st, a, b, &CondSchedClmp);
  st.counters["ns_per_handoff"] = ns;
  // Against the baseline of the same run (the bar is 1.3 for one thread).
  if (gBaselineNs > 0) st.counters["x_mutex_condvar"] = ns / gBaselineNs;
  DisposeRoutedDS(dsA);
  DisposeRoutedDS(dsB);
}

void BM_ClumpChainEngine(benchmark::State& st) { RunEngineChain(st, kSlotA, kSlotA); }
void BM_ClumpChainEngineTwoThreads(benchmark::State& st) { RunEngineChain(st, kSlotA, kSlotB); }

// ---- SubVI calls in line -----------------------------------------------------------
// The callee counts its calls; entered as a subVI it ends with VIExit and
// returns its caller's resume address, entered bare it returns 0.
void BM_SubVICallInLine(benchmark::State& st, bool bare) {
  Engine& eng = TheEngine();
  if (!eng.ok) {
    st.SkipWithError("the execution systems did not start");
    return;
  }
  emit::Code c;
  auto viEntry = c.NewLabel();
  c.SetEntry();
  c.IncMem(emit::EBP, kD);
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  c.Bind(viEntry);
  c.IncMem(emit::EBP, kD);
  qxemit::EmitSubVIExit(c);
  std::vector<uint8_t> bytes = c.Finish();
  VICode code = nullptr;
  if (NewVICode(bytes.data(), int32(bytes.size()), &code) != kNoErr) {
    st.SkipWithError("no code");
    return;
  }
  DataSpace callee = NewRoutedDS(0, kESysUserInterface, kPriNormal);
  DataSpace callerDS = NewRoutedDS(0, kESysUserInterface, kPriNormal);
  SetCodeEntryAndPatch(reinterpret_cast<UHandle>(code), callee);
  (*callee)->subVIEntry = (*code)->start + c.Offset(viEntry);
  void* bareEntry = EntryOf(code);
  uInt32 flag = 0;
  QueueElement caller = NewElement(callerDS, bareEntry);
  caller.flagRecord = &flag;
  ExecContext* ctx = GetCurExecContext();
  caller.runningContext = ctx;
  VIEntranceRec* entrance = &(*callee)->entrance;
  QueueElement* own = &entrance->ownElement;
  int64_t failures = 0;
  for (auto _ : st) {
    if (bare) {
      benchmark::DoNotOptimize(CallCompiledCode(bareEntry, callee, own));
    } else {
      if (VIEntrance(&caller, entrance) != 1) ++failures;
      if (CallCompiledCode((*callee)->subVIEntry, callee, own) != int32(Addr(bareEntry))) ++failures;
    }
  }
  ctx->current.store(nullptr);
  if (failures) st.SkipWithError("a call did not run in line");
  st.SetItemsProcessed(int64_t(st.iterations()));
  DisposeRoutedDS(callee);
  DisposeRoutedDS(callerDS);
  DisposeVICode(code);
}

// ---- Calls through a reference ---------------------------------------------------------
// Nanoseconds per plain call of this run, for the ratio.
double gPlainCallNs = 0;

void BM_AddCalledByReference(benchmark::State& st, bool byRef) {
  Engine& eng = TheEngine();
  if (!eng.ok || VIRefInit() != kNoErr) {
    st.SkipWithError("the execution systems or the references did not start");
    return;
  }
  emit::Code c;
  c.SetEntry();
  c.XorRegReg(emit::EAX, emit::EAX);
  c.Ret();
  auto entry = c.NewLabel();
  c.Bind(entry);
  runvi::EmitAddForCaller(c);
  std::vector<uint8_t> bytes = c.Finish();
  VICode code = nullptr;
  if (NewVICode(bytes.data(), int32(bytes.size()), &code) != kNoErr) {
    st.SkipWithError("no code");
    return;
  }
  DataSpace callee = NewRoutedDS(0, kESysUserInterface, kPriNormal, runvi::kAddSum + 4 - kD);
  DataSpace callerDS = NewRoutedDS(0, kESysUserInterface, kPriNormal);
  SetCodeEntryAndPatch(reinterpret_cast<UHandle>(code), callee);
  (*callee)->subVIEntry = (*code)->start + c.Offset(entry);
  void* resume = EntryOf(code);
  // Add as a loaded VI shows itself to the prepare: its connector pane.
  const std::vector<uChar> paneBytes =
      tdb::Function(0, {0, 0, kConnTermOutput}, {tdb::I32(), tdb::I32(), tdb::I32()}).Bytes();
  UHandle pane = AZNewHandle(int32(paneBytes.size()));
  UHandle vi = AZNewHClr(int32(sizeof(VIRecord)));
  VIRefRecord* r = NewVIRefRecord();
  if (!pane || !vi || !r) {
    st.SkipWithError("no memory");
    return;
  }
  std::memcpy(*pane, paneBytes.data(), paneBytes.size());
  VIRec(vi)->connPane = pane;
  r->app = ThisAppRecord();
  r->vi = vi;
  r->mode = kVIRefModeCall;
  r->callDS = callee;
  r->self = NewVIRefCookie(r);
  int32 a = 2, b = 3, sum = 0;
  ErrorIOCluster error{};
  struct {
    uInt32 tag, flags;
    ErrorIOCluster* error;
    VIRef ref;
    CallTermSlot slots[3];
  } callerTable{kParamTableTag, kParamTableCallInProgress, &error, r->self, {{&a, 1}, {&b, 1}, {&sum, 1}}},
      calleeTable{};
  uInt32 flag = 0;
  QueueElement caller = NewElement(callerDS, resume);
  caller.flagRecord = &flag;
  ExecContext* ctx = GetCurExecContext();
  caller.runningContext = ctx;
  VIEntranceRec* entrance = &(*callee)->entrance;
  QueueElement* own = &entrance->ownElement;
  int64_t failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    ++a;
    if (byRef) {
      DataSpace ds = nullptr;
      if (CBRPrepareCall(r->self, &ds, callerDS, reinterpret_cast<ParamTable*>(&calleeTable),
                         reinterpret_cast<ParamTable*>(&callerTable)) != kNoErr)
        ++failures;
      if (VIEntrance(&caller, entrance) != 1) ++failures;
      if (CallCompiledCode((*callee)->subVIEntry, callee, own) != int32(Addr(resume))) ++failures;
      VIRefFinishNativeCall(r->self);
    } else {
      uChar* d = reinterpret_cast<uChar*>(*callee);
      std::memcpy(d + runvi::kAddA, &a, 4);
      std::memcpy(d + runvi::kAddB, &b, 4);
      if (VIEntrance(&caller, entrance) != 1) ++failures;
      if (CallCompiledCode((*callee)->subVIEntry, callee, own) != int32(Addr(resume))) ++failures;
      std::memcpy(&sum, d + runvi::kAddSum, 4);
    }
    if (sum != a + b) ++failures;
  }
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                    double(st.iterations() ? st.iterations() : 1);
  ctx->current.store(nullptr);
  if (failures) st.SkipWithError("a call did not give the sum in line");
  st.SetItemsProcessed(int64_t(st.iterations()));
  st.counters["ns_per_call"] = ns;
  if (!byRef) gPlainCallNs = ns;
  if (byRef && gPlainCallNs > 0) st.counters["x_plain"] = ns / gPlainCallNs;
  DisposeVIRefCookie(r->self);
  FreeVIRefRecord(r);
  AZDisposeHandle(vi);
  AZDisposeHandle(pane);
  DisposeRoutedDS(callee);
  DisposeRoutedDS(callerDS);
  DisposeVICode(code);
}

}  // namespace

BENCHMARK(BM_ClumpChainMutexCondvar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClumpChainEngine)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClumpChainEngineTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_SubVICallInLine, bare, true);
BENCHMARK_CAPTURE(BM_SubVICallInLine, entrance_and_exit, false);
BENCHMARK_CAPTURE(BM_AddCalledByReference, plain_subvi, false);
BENCHMARK_CAPTURE(BM_AddCalledByReference, by_reference, true);
