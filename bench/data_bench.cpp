// A deep copy and disposal of a cluster {I32, 1-D array of 10,000 strings of
// 16 to 64 bytes, 1-D array of 1,000 clusters {DBL, string}} against copy
// construction and destruction of the equivalent standard-library struct
// holding the same contents.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "mgsource/memory.h"
#include "mgsource/pool.h"

namespace {

// The TD {I32, [string], [{DBL, string}]}, in memory order.
const uChar kTD[] = {
    56, 0, 0x50, 0, 3, 0,                                // cluster of 3
    4, 0, 0x03, 0,                                       // I32
    18, 0, 0x40, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF,        // 1-D array of
    8, 0, 0x30, 0, 0xFF, 0xFF, 0xFF, 0xFF,               //   string
    28, 0, 0x40, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF,        // 1-D array of
    18, 0, 0x50, 0, 2, 0,                                //   cluster of 2
    4, 0, 0x0A, 0,                                       //     DBL
    8, 0, 0x30, 0, 0xFF, 0xFF, 0xFF, 0xFF,               //     string
};
static_assert(sizeof kTD == 56, "TD length");

const TypeDescriptor* TD() { return reinterpret_cast<const TypeDescriptor*>(kTD); }
const TypeDescriptor* Elem(int32 off) { return reinterpret_cast<const TypeDescriptor*>(kTD + off); }

struct Baseline {
  int32_t n;
  std::vector<std::string> strings;
  std::vector<std::pair<double, std::string>> records;
};

struct Contents {
  Baseline std;
  uChar data[12];
};

LStrHandle NewString(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(s.size()) + 4));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}

Contents& Source() {
  static Contents* c = [] {
    BenchMemInit();
    auto* k = new Contents;
    std::mt19937 g(11);
    std::uniform_int_distribution<int> len(16, 64), ch('a', 'z');
    auto text = [&] {
      std::string s(size_t(len(g)), ' ');
      for (char& x : s) x = char(ch(g));
      return s;
    };
    k->std.n = 42;
    for (int i = 0; i < 10000; ++i) k->std.strings.push_back(text());
    for (int i = 0; i < 1000; ++i) k->std.records.emplace_back(i * 0.5, text());

    std::memset(k->data, 0, sizeof k->data);
    std::memcpy(k->data, &k->std.n, 4);
    UHandle strs = nullptr, recs = nullptr;
    int32 n1 = 10000, n2 = 1000;
    int32 *c1 = &n1, *c2 = &n2;
    ArrayResize(Elem(20), 1, &strs, &c1);
    for (int i = 0; i < n1; ++i) {
      LStrHandle s = NewString(k->std.strings[size_t(i)]);
      std::memcpy(*strs + 4 + 4 * i, &s, 4);
    }
    ArrayResize(Elem(38), 1, &recs, &c2);
    for (int i = 0; i < n2; ++i) {
      uChar* e = *recs + 4 + 12 * i;
      std::memcpy(e, &k->std.records[size_t(i)].first, 8);
      LStrHandle s = NewString(k->std.records[size_t(i)].second);
      std::memcpy(e + 8, &s, 4);
    }
    std::memcpy(k->data + 4, &strs, 4);
    std::memcpy(k->data + 8, &recs, 4);
    return k;
  }();
  return *c;
}

void BM_CopyDataThenDispose(benchmark::State& st) {
  Contents& src = Source();
  uChar dst[12];
  for (auto _ : st) {
    std::memset(dst, 0, sizeof dst);
    if (CopyData(TD(), src.data, dst) != kNoErr) st.SkipWithError("copy failed");
    benchmark::DoNotOptimize(dst);
    DisposeData(TD(), dst, dst + sizeof dst);
  }
}
BENCHMARK(BM_CopyDataThenDispose)->Unit(benchmark::kMicrosecond);

void BM_StdStructCopyThenDestroy(benchmark::State& st) {
  Contents& src = Source();
  for (auto _ : st) {
    Baseline copy(src.std);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_StdStructCopyThenDestroy)->Unit(benchmark::kMicrosecond);


}  // namespace
