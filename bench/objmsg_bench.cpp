// The type message (35) sent through its entry point to 1,000 numerics of a
// panel heap, against a C++ virtual call of the same body (the TypeID word
// of the object in the same heap) on 1,000 objects.  The baseline runs
// first; the message's run reports "x_virtual", its thread CPU time over
// the baseline's.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <time.h>

#include <memory>
#include <vector>

#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "mgsource/memory.h"
#include "panel/datamsg.h"
#include "tools/vibuilder.h"

namespace {

constexpr int kObjects = 1000;

struct Panel {
  ObjHeap heap = nullptr;
  std::vector<int32> numerics;
};

const Panel* MakePanel() {
  static const Panel* panel = []() -> const Panel* {
    if (BenchMemInit() != kNoErr) return nullptr;
    auto* p = new Panel;
    p->heap = OHNewHeap(64 * kObjects, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    if (!p->heap) return nullptr;
    for (int i = 0; i < kObjects; ++i) {
      const int32 o = vib::NewObject(p->heap, kClsNumeric, 52);
      if (!o) return nullptr;
      ObjSetWord(p->heap, o, 9, i + 1);
      p->numerics.push_back(o);
    }
    return p;
  }();
  return panel;
}

}  // namespace

// The baseline's classes have external linkage and two overriders, so that
// the compiler cannot turn the call into a direct one.
namespace objmsgbench {
struct Shown {
  virtual ~Shown() = default;
  virtual TypeID GetType(ObjHeap heap, int32 offset) const = 0;
};
struct ShownNumeric : Shown {
  TypeID GetType(ObjHeap heap, int32 offset) const override { return DDOTypeID(heap, offset); }
};
struct ShownOther : Shown {
  TypeID GetType(ObjHeap, int32) const override { return 0; }
};
__attribute__((noinline)) std::unique_ptr<Shown> MakeShown(bool numeric) {
  if (numeric) return std::make_unique<ShownNumeric>();
  return std::make_unique<ShownOther>();
}
}  // namespace objmsgbench

namespace {

using objmsgbench::Shown;

double gBaselineNs = 0;

// The thread's CPU time: other work on the machine does not count.
double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double NsPerRound(benchmark::State& st, double since) {
  return st.iterations() ? (CpuNs() - since) / double(st.iterations()) : 0;
}

void BM_TypeVirtualCall(benchmark::State& st) {
  const Panel* p = MakePanel();
  if (!p) {
    st.SkipWithError("no panel heap");
    return;
  }
  std::vector<std::unique_ptr<Shown>> objects;
  for (int i = 0; i < kObjects; ++i) objects.push_back(objmsgbench::MakeShown(st.iterations() >= 0));
  uInt32 sum = 0;
  const double start = CpuNs();
  for (auto _ : st) {
    for (int i = 0; i < kObjects; ++i) sum += objects[size_t(i)]->GetType(p->heap, p->numerics[size_t(i)]);
    benchmark::DoNotOptimize(sum);
  }
  gBaselineNs = NsPerRound(st, start);
  st.SetItemsProcessed(st.iterations() * kObjects);
}
BENCHMARK(BM_TypeVirtualCall);

void BM_TypeMessage(benchmark::State& st) {
  const Panel* p = MakePanel();
  if (!p) {
    st.SkipWithError("no panel heap");
    return;
  }
  uInt32 sum = 0;
  const double start = CpuNs();
  for (auto _ : st) {
    for (int i = 0; i < kObjects; ++i) sum += OGetType(p->heap, p->numerics[size_t(i)]);
    benchmark::DoNotOptimize(sum);
  }
  const double ns = NsPerRound(st, start);
  if (sum == 0) st.SkipWithError("the message answered no type");
  if (gBaselineNs > 0) st.counters["x_virtual"] = ns / gBaselineNs;
  st.SetItemsProcessed(st.iterations() * kObjects);
}
BENCHMARK(BM_TypeMessage);

}  // namespace
