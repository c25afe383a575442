// Spreadsheet text of a 1,000 x 10 array of doubles: ArrayToTable with
// "%.6f" against a loop of snprintf per element into a growing buffer, and
// TableToArray of that text against a loop of strtod per field.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "format_bench_support.h"
#include "mgsource/memory.h"
#include "rtlib/sheettable.h"

namespace {

constexpr int32 kRows = 1000, kCols = 10;

// A 2-D descriptor of doubles as compiled code lays it out: the header, the
// rank, two variable dimensions, then the element.
struct __attribute__((packed)) Array2TD {
  uInt16 size;
  uChar code;
  uChar flags;
  int16 rank;
  int32 dims[2];
  uInt16 elemSize;
  uChar elemCode;
  uChar elemFlags;
};
static_assert(sizeof(Array2TD) == 18, "descriptor layout");
const Array2TD kViewTD = {18, kTDArrayView, 0, 2, {-1, -1}, 4, kTDDBL, 0};
const Array2TD kArrayTD = {18, kTDArray, 0, 2, {-1, -1}, 4, kTDDBL, 0};
const TypeDescriptor* TD(const Array2TD& t) { return reinterpret_cast<const TypeDescriptor*>(&t); }

std::vector<double> Values() {
  std::mt19937 g(47);
  std::uniform_real_distribution<double> u(-100000.0, 100000.0);
  std::vector<double> v(size_t(kRows * kCols));
  for (double& x : v) x = u(g);
  return v;
}

struct View {
  uChar* ptr;
  ArrayViewDim dims[2];
};

View MakeView(std::vector<double>& v) {
  return {reinterpret_cast<uChar*>(v.data()), {{kRows, 8 * kCols}, {kCols, 8}}};
}

const uChar kFormat[] = {'%', '.', '6', 'f'};

void BM_ArrayToTable(benchmark::State& st) {
  fmtbench::EnsureInit();
  std::vector<double> v = Values();
  View view = MakeView(v);
  LStrHandle out = nullptr;
  for (auto _ : st) {
    MgErr err = ArrayToTable(reinterpret_cast<ArrayViewData*>(&view), TD(kViewTD), 4, kFormat, &out, 0, nullptr);
    benchmark::DoNotOptimize(err);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * (*out)->cnt);
  DSDisposeHandle(reinterpret_cast<UHandle>(out));
}
BENCHMARK(BM_ArrayToTable)->Unit(benchmark::kMicrosecond);

void BM_SnprintfTable(benchmark::State& st) {
  std::vector<double> v = Values();
  for (auto _ : st) {
    std::vector<char> buf;
    size_t used = 0;
    for (int32 r = 0; r < kRows; ++r) {
      for (int32 c = 0; c < kCols; ++c) {
        if (buf.size() - used < 64) buf.resize(buf.size() * 2 + 64);
        int n = std::snprintf(buf.data() + used, buf.size() - used, "%.6f", v[size_t(r * kCols + c)]);
        used += size_t(n);
        buf[used++] = c + 1 < kCols ? '\t' : '\r';
        if (c + 1 == kCols) buf[used++] = '\n';
      }
    }
    benchmark::DoNotOptimize(buf.data());
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(used));
  }
}
BENCHMARK(BM_SnprintfTable)->Unit(benchmark::kMicrosecond);

std::string TableText() {
  std::vector<double> v = Values();
  View view = MakeView(v);
  LStrHandle out = nullptr;
  ArrayToTable(reinterpret_cast<ArrayViewData*>(&view), TD(kViewTD), 4, kFormat, &out, 0, nullptr);
  std::string t(reinterpret_cast<const char*>((*out)->str), size_t((*out)->cnt));
  DSDisposeHandle(reinterpret_cast<UHandle>(out));
  return t;
}

void BM_TableToArray(benchmark::State& st) {
  fmtbench::EnsureInit();
  std::string text = TableText();
  UHandle out = nullptr;
  for (auto _ : st) {
    MgErr err = TableToArray(int32(text.size()), reinterpret_cast<const uChar*>(text.data()), 4, kFormat,
                             TD(kArrayTD), &out, 0, nullptr);
    benchmark::DoNotOptimize(err);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(text.size()));
  DSDisposeHandle(out);
}
BENCHMARK(BM_TableToArray)->Unit(benchmark::kMicrosecond);

void BM_StrtodTable(benchmark::State& st) {
  fmtbench::EnsureInit();
  std::string text = TableText();
  for (auto _ : st) {
    std::vector<double> v;
    v.reserve(size_t(kRows * kCols));
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end) {
      char* next;
      v.push_back(std::strtod(p, &next));
      p = next;
      while (p < end && (*p == '\t' || *p == '\r' || *p == '\n')) ++p;
    }
    benchmark::DoNotOptimize(v.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_StrtodTable)->Unit(benchmark::kMicrosecond);

}  // namespace
