// A 1,000,000-element DBL array to a variant and back into the array,
// against a loop that passes each double through ConvertNum into a
// contiguous buffer and back.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "olesource/olestart.h"
#include "olesource/olevar.h"
#include "tools/tdbuilder.h"

namespace {

constexpr int32 kN = 1000000;

bool Started() {
  static bool ok = [] {
    if (BenchMemInit() != kNoErr) return false;
    OleInstallEngineHooks();
    return true;
  }();
  return ok;
}

void BM_VariantDBLArrayRoundTrip(benchmark::State& st) {
  if (!Started()) return st.SkipWithError("start-up failed");
  const std::vector<uChar> tdBytes = tdb::Array(tdb::DBL()).Bytes();
  UHandle type = DSNewHandle(int32(tdBytes.size()));
  std::memcpy(*type, tdBytes.data(), tdBytes.size());
  const TypeDescriptor* td = tdb::AsTD(tdBytes);
  UHandle src = nullptr, dst = nullptr;
  int32 size = kN;
  int32* list = &size;
  if (ArrayResize(StdTDTable[kTDDBL], 1, &src, &list) != kNoErr) return st.SkipWithError("no array");
  for (int32 i = 0; i < kN; ++i) {
    const float64 x = i * 0.25;
    std::memcpy(*src + 4 + 8 * i, &x, 8);
  }
  for (auto _ : st) {
    PlatVariant v;
    PlatVariantInit(&v);
    if (ConvertToOLEVariant(&src, type, 0, nullptr, nullptr, 0, &v) != kPlatOk ||
        ConvertToQXData(&v, &dst, type, 0) != kPlatOk)
      return st.SkipWithError("conversion failed");
    PlatVariantClear(&v);
    benchmark::DoNotOptimize(*dst);
  }
  st.SetItemsProcessed(st.iterations() * kN);
  DisposeData(td, &src, &src + 1);
  DisposeData(td, &dst, &dst + 1);
  DSDisposeHandle(type);
}
BENCHMARK(BM_VariantDBLArrayRoundTrip)->Unit(benchmark::kMillisecond);

void BM_ConvertNumDBLRoundTrip(benchmark::State& st) {
  std::vector<float64> in(kN), mid(kN), out(kN);
  for (int32 i = 0; i < kN; ++i) in[size_t(i)] = i * 0.25;
  for (auto _ : st) {
    for (int32 i = 0; i < kN; ++i) ConvertNum(kTDDBL, &in[size_t(i)], kTDDBL, &mid[size_t(i)]);
    for (int32 i = 0; i < kN; ++i) ConvertNum(kTDDBL, &mid[size_t(i)], kTDDBL, &out[size_t(i)]);
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(st.iterations() * kN);
}
BENCHMARK(BM_ConvertNumDBLRoundTrip)->Unit(benchmark::kMillisecond);

}  // namespace
