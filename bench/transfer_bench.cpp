// Diagram writes to indicators: 4 threads write changing doubles to 16
// indicators through WriteDCOTransferData (a control's mutex, the transfer
// copy, one update-queue entry per control between drains, one event per
// burst), then the user-interface side drains the queue once.  The baseline
// stores the same values into 16 doubles under one std::mutex, then copies
// them out once.  The baseline runs first; the engine's run reports
// "x_mutex", its time per write over the baseline's.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/virecord.h"
#include "engine/typemgr.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "panel/objects.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kIndicators = 16, kWriters = 4, kWritesPerThread = 20000;
constexpr int32 kRecBytes = 56;

struct Setup {
  UHandle ds = nullptr, vi = nullptr;
  int32 records = 0;
  bool ok = false;
  DCOOpData* Op(int32 i) const { return reinterpret_cast<DCOOpData*>(*ds + records + i * kRecBytes); }
  double* Copy0(int32 i) const { return reinterpret_cast<double*>(*ds + records + i * kRecBytes + 16); }
};

const Setup& Get() {
  static Setup s = [] {
    Setup s;
    BenchMemInit();
    BenchThInit();
    BenchOccurInit();
    if (!ExecInitialised() && InitExec() != kNoErr) return s;
    if (!ExecThreadsOn()) return s;
    const int32 table = kDataSpaceHeaderSize;
    s.records = table + kIndicators * 36 + 8;
    s.ds = DSNewHClr(s.records + kIndicators * kRecBytes);
    s.vi = DSNewHClr(sizeof(VIRecord));
    ObjHeap heap = OHNewHeap(4096, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    if (!s.ds || !s.vi || !heap) return s;
    reinterpret_cast<VIRecord*>(*s.vi)->dataSpace = s.ds;
    const int32 root = FPNewPanelRoot(heap);
    OHSetWord(heap, uInt32(int32(OHWord(heap, kOHExtension)) + kHeapExtRoot), uInt32(root));
    int32 list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
    DataSpaceHeader* h = reinterpret_cast<DataSpaceHeader*>(*s.ds);
    for (int32 i = 0; i < kIndicators; ++i) {
      const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize);
      const int32 display = vib::NewObject(heap, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize);
      ObjSetWord(heap, dco, 5, display);
      if (OHListInsert(heap, &list, dco, kObjListAppend) != kNoErr) return s;
      TransferEntry e{i, uInt32(s.records + i * kRecBytes), 0, 8, 1, uInt32(s.records + i * kRecBytes + 16), {}};
      std::memcpy(*s.ds + table + 36 * i, &e, sizeof e);
      if (InitDisposeDCOOpDataFlags(s.Op(i), 1) != kNoErr) return s;
    }
    ObjSetWord(heap, root, kRootItemList / 4, list);
    h = reinterpret_cast<DataSpaceHeader*>(*s.ds);
    h->dcoCount = kIndicators;
    h->dcoTableOffset = table;
    h->panel = reinterpret_cast<UHandle>(heap);
    h->owner = s.vi;
    h->transferMode = 1;
    h->hasDataControllers = 1;
    h->updateQueue = reinterpret_cast<UHandle>(NewUpdateQueue(16));
    s.ok = h->updateQueue != nullptr;
    return s;
  }();
  return s;
}

double gBaselineNs = 0;

template <typename Write, typename Drain>
double Round(Write write, Drain drain) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int32 t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] {
      for (int32 k = 0; k < kWritesPerThread; ++k) write((t * 4 + k) % kIndicators, double(t * kWritesPerThread + k));
    });
  }
  for (auto& th : threads) th.join();
  drain();
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void BM_IndicatorWritesOneMutex(benchmark::State& st) {
  std::mutex m;
  double values[kIndicators] = {}, shown[kIndicators] = {};
  double ns = 0;
  for (auto _ : st) {
    const double t = Round(
        [&](int32 i, double v) {
          std::lock_guard<std::mutex> g(m);
          values[i] = v;
        },
        [&] {
          std::lock_guard<std::mutex> g(m);
          std::memcpy(shown, values, sizeof shown);
        });
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  benchmark::DoNotOptimize(shown);
  gBaselineNs = ns / double(st.iterations()) / (kWriters * kWritesPerThread);
  st.SetItemsProcessed(st.iterations() * kWriters * kWritesPerThread);
}

void BM_IndicatorWritesTransfer(benchmark::State& st) {
  const Setup& s = Get();
  if (!s.ok) {
    st.SkipWithError("no execution threads");
    return;
  }
  DataSpace ds = reinterpret_cast<DataSpace>(s.ds);
  double ns = 0;
  for (auto _ : st) {
    const double t = Round(
        [&](int32 i, double v) { WriteDCOTransferData(ds, i, s.Op(i), s.Copy0(i), &v, 8, 1, 0); },
        [&] { ProcessUpdateQueue(int32(uintptr_t(s.ds)), int32(uintptr_t(s.vi)), 1); });
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  const double perWrite = ns / double(st.iterations()) / (kWriters * kWritesPerThread);
  if (gBaselineNs > 0) st.counters["x_mutex"] = perWrite / gBaselineNs;
  st.SetItemsProcessed(st.iterations() * kWriters * kWritesPerThread);
}

}  // namespace

BENCHMARK(BM_IndicatorWritesOneMutex)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndicatorWritesTransfer)->UseManualTime()->Unit(benchmark::kMillisecond);
