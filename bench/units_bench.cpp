// Unit conversions over 1,000,000 values in both directions, called through
// a function pointer as the data manager's programs and the panel code call
// them, against a plain function of the same signature computing
// (v + offset) * scale and v / scale - offset, called the same way.  Also,
// without a reference: I16 values, and converting through an object's "km"
// label (found and parsed on every call).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/support.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "rtlib/objunits.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kN = 1000000;
constexpr float64 kOffset = 273.15, kScale = 1.8;

using ConvertProc = void (*)(const void*, int32, void*, int32, float64, float64);

void PlainConvert(const void* value, int32 direction, void* result, int32, float64 offset, float64 scale) {
  float64 v;
  std::memcpy(&v, value, 8);
  v = direction ? (v + offset) * scale : v / scale - offset;
  std::memcpy(result, &v, 8);
}

bool Started() {
  static bool ok = BenchMemInit() == kNoErr && BenchSupportInit() == kNoErr && BenchTypeHeapInit() == kNoErr &&
                   BenchUnitsInit() == kNoErr;
  return ok;
}

// Converts every value forth and back; the pointer is read through a
// volatile so that neither call is inlined.
template <typename T>
void Run(benchmark::State& st, ConvertProc proc, int32 type) {
  if (!Started()) return st.SkipWithError("start-up failed");
  std::vector<T> in(kN), mid(kN), out(kN);
  for (int32 i = 0; i < kN; ++i) in[size_t(i)] = T(i % 1000);
  ConvertProc volatile call = proc;
  for (auto _ : st) {
    ConvertProc f = call;
    for (int32 i = 0; i < kN; ++i) f(&in[size_t(i)], 1, &mid[size_t(i)], type, kOffset, kScale);
    for (int32 i = 0; i < kN; ++i) f(&mid[size_t(i)], 0, &out[size_t(i)], type, kOffset, kScale);
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(st.iterations() * 2 * kN);
}

void BM_UnitConvertValueDBL(benchmark::State& st) { Run<float64>(st, &UnitConvertValue, kTDUnitDBL); }
BENCHMARK(BM_UnitConvertValueDBL)->Unit(benchmark::kMillisecond);

void BM_PlainConvertDBL(benchmark::State& st) { Run<float64>(st, &PlainConvert, kTDDBL); }
BENCHMARK(BM_PlainConvertDBL)->Unit(benchmark::kMillisecond);

void BM_UnitConvertValueI16(benchmark::State& st) { Run<int16>(st, &UnitConvertValue, kTDI16); }
BENCHMARK(BM_UnitConvertValueI16)->Unit(benchmark::kMillisecond);

// A numeric on metres whose label says "km", converted through the object.
void BM_UnitConvertObjValueKm(benchmark::State& st) {
  if (!Started()) return st.SkipWithError("start-up failed");
  UHandle vi = vib::NewVI();
  ObjHeap heap = vi && RegisterVI(vi) == kNoErr ? vib::NewPanel(vi) : nullptr;
  std::vector<uChar> b = tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}).Bytes();
  TypeID id = heap ? NewTypeIDForTD(heap, tdb::AsTD(b)) : 0;
  int32 n = id ? vib::NewObject(heap, kClsNumeric, 4 * 32) : 0;
  int32 label = n ? vib::NewObject(heap, kClsLabel, 4 * 32, n, 65) : 0;
  const Rect place{0, 0, 10, 10};
  TRecord text = TNew(&place, 0, reinterpret_cast<const uChar*>("km"), 2, kAppFont, 0, kTransparentColor);
  if (!label || !text) return st.SkipWithError("no labelled numeric");
  OHSetWord(heap, uInt32(n + 4 * kPWDDOTypeId), uInt32(id));
  OHSetWord(heap, uInt32(label + 4 * kPWLabelText), uInt32(uintptr_t(text)));
  for (auto _ : st) {
    for (int32 i = 0; i < 1000; ++i) {
      float64 v = i, r = 0;
      UnitConvertObjValue(heap, n, &v, 1, &r);
      benchmark::DoNotOptimize(r);
    }
  }
  st.SetItemsProcessed(st.iterations() * 1000);
  OHSetWord(heap, uInt32(label + 4 * kPWLabelText), 0);
  TDispose(text);
  UnregisterVI(vi);
  vib::DisposeVI(vi);
}
BENCHMARK(BM_UnitConvertObjValueKm)->Unit(benchmark::kMicrosecond);

}  // namespace
