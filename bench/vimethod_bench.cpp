// "Get Control Value" and "Set Control Value" of a control holding a 1 MB
// array of DBL, through the references' front door, against flattening the
// same value into a buffer and unflattening it back.  The panel's control is
// the one the hooks stand for.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <ctime>
#include <mutex>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "server/srvhooks.h"
#include "server/srvvalues.h"
#include "server/viref.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kElements = (1 << 20) / 8;
const uChar kName[] = "\013Controls.vi";

double ThreadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

std::vector<uChar> gType;
UHandle gValue = nullptr;  // the control's data: one array handle
VIRef gRef = 0;

const TypeDescriptor* Type() { return reinterpret_cast<const TypeDescriptor*>(gType.data()); }

bool Ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
    if (BenchTypeHeapInit() != kNoErr || VIRefInit() != kNoErr) return;
    ServerInstallEngineHooks();
    gType = tdb::Array(tdb::DBL()).Bytes();
    MgErr err = kNoErr;
    auto* first = reinterpret_cast<double*>(srvval::SizeArray(&gValue, StdTDTable[10], kElements, &err));
    if (!first) return;
    for (int32 i = 0; i < kElements; ++i) first[i] = i * 0.5;
    UHandle vi = NewVICore(kVIKindDatalog, kName, -1);
    if (!vi || HoldVIName(kName, 0) != kNoErr || !vib::NewPanel(vi)) return;
    ServerUIHooks h{};
    h.findCtlByLabel = [](ObjHeap, const LStr* label) -> int32 { return label->cnt == 1 && label->str[0] == 'a'; };
    h.controlType = [](ObjHeap, int32) { return Type(); };
    h.isIndicator = [](ObjHeap, int32) -> Bool32 { return 0; };
    h.operateData = [](ObjHeap, int32) -> void* { return &gValue; };
    SetServerUIHooks(h);
    ready = AppOpenVIRefByName(kLocalAppRef, kName, nullptr, kVIRefOptTrusted, nullptr, &gRef, nullptr, nullptr,
                               nullptr) == kNoErr;
  });
  return ready;
}

void BM_ControlValueVsFlatten(benchmark::State& st) {
  if (!Ready()) {
    st.SkipWithError("no control");
    return;
  }
  const int32 size = FlatSize(Type(), &gValue);
  std::vector<uChar> buffer(size_t(size) + 16);
  UHandle copy = nullptr;  // the baseline's destination
  CopyData(Type(), &gValue, &copy);
  LStrHandle name = nullptr, flat = nullptr;
  srvval::SetString(&name, reinterpret_cast<const uChar*>("a"), 1);
  FlattenToLStr(flat = reinterpret_cast<LStrHandle>(DSNewHClr(4)), Type(), &gValue, 0);
  double flatten = 0, unflatten = 0, get = 0, set = 0;
  for (auto _ : st) {
    const double t0 = ThreadNs();
    benchmark::DoNotOptimize(FlattenData(Type(), &gValue, buffer.data()) - buffer.data());
    const double t1 = ThreadNs();
    benchmark::DoNotOptimize(UnFlattenData(reinterpret_cast<UHandle>(flat), 4, Type(), &copy, size, 0));
    const double t2 = ThreadNs();
    AttrEntry g[] = {{1, 0, &flat}, {0, 0, &name}};
    benchmark::DoNotOptimize(VIRefDoMethod(gRef, 1010, 2, g, kVIRefOptTrusted, nullptr, nullptr, nullptr));
    const double t3 = ThreadNs();
    AttrEntry s[] = {{0, 0, nullptr}, {0, 0, &name}, {0, 0, nullptr}, {0, 0, &flat}};
    benchmark::DoNotOptimize(VIRefDoMethod(gRef, 1009, 4, s, kVIRefOptTrusted, nullptr, nullptr, nullptr));
    const double t4 = ThreadNs();
    flatten += t1 - t0;
    unflatten += t2 - t1;
    get += t3 - t2;
    set += t4 - t3;
  }
  const double n = double(st.iterations());
  st.counters["us_flatten"] = n ? flatten / n / 1e3 : 0;
  st.counters["us_get"] = n ? get / n / 1e3 : 0;
  st.counters["us_unflatten"] = n ? unflatten / n / 1e3 : 0;
  st.counters["us_set"] = n ? set / n / 1e3 : 0;
  st.counters["x_get_flatten"] = flatten > 0 ? get / flatten : 0;
  st.counters["x_set_unflatten"] = unflatten > 0 ? set / unflatten : 0;
  DisposeData(Type(), &copy, &copy + 1);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  DSDisposeHandle(reinterpret_cast<UHandle>(flat));
}
BENCHMARK(BM_ControlValueVsFlatten);

}  // namespace
