// DoPrintfNode against the C library doing the same work: for each of
// "%d %s %.3f", "%5d|%-8s|%x" (C: "%X", upper-case digits), "%e" (C: "%.6E")
// and "%s=%d", a measuring snprintf(nullptr, 0, ...), the output LStr resized
// with DSSetHandleSize to that length, a second snprintf writing into it and
// the handle set to the written length: the node's own two resizes.  Also,
// with no bar, a bare snprintf into a stack buffer, and "%.1{km}f" of a
// double in metres against snprintf of "%.1f km" on the value / 1000.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "format_bench_support.h"
#include "rtlib/strformat.h"

namespace {

using fmtbench::EnsureInit;
using fmtbench::List;
using fmtbench::NewStr;
using fmtbench::SimpleTD;
using fmtbench::StringTD;
using fmtbench::TD;

// A unit numeric's descriptor as compiled code finds it in memory.
struct UnitTD {
  uInt16 size;
  uChar code;
  uChar flags;
  int16 count;
  int16 unit;
  int16 power;
};
const SimpleTD kI32TD = {4, kTDI32, 0};
const SimpleTD kDBLTD = {4, kTDDBL, 0};
const StringTD kStrTD = {8, kTDString, 0, -1};
const UnitTD kMetresTD = {10, kTDUnitDBL, 0, 1, kUnitM, 1};

const char* const kWords[] = {"alpha", "be", "gamma", "delta-x", "e", "zeta", "etaeta", "theta"};

struct Values {
  int32 i;
  int k;
  double d;
  double e;
};

std::vector<Values> MakeValues() {
  std::mt19937 g(7);
  std::uniform_int_distribution<int32> ints(-1000000, 1000000);
  std::uniform_real_distribution<double> reals(-10000.0, 10000.0);
  std::uniform_real_distribution<double> expo(-30.0, 30.0);
  std::vector<Values> v;
  for (int k = 0; k < 256; ++k) v.push_back({ints(g), k & 7, reals(g), reals(g) * std::pow(10.0, expo(g))});
  return v;
}

enum Which { kIntStrFixed, kFields, kExp, kStrInt, kUnit };

const char* const kNodeFormats[] = {"%d %s %.3f", "%5d|%-8s|%x", "%e", "%s=%d", "%.1{km}f"};
const char* const kCFormats[] = {"%d %s %.3f", "%5d|%-8s|%X", "%.6E", "%s=%d", "%.1f km"};

// The C library's part: measure, resize, write, set the length.
template <class... T>
void CFormat(LStrHandle out, const char* fmt, T... v) {
  int n = std::snprintf(nullptr, 0, fmt, v...);
  DSSetHandleSize(reinterpret_cast<UHandle>(out), 4 + n + 1);
  std::snprintf(reinterpret_cast<char*>((*out)->str), size_t(n) + 1, fmt, v...);
  (*out)->cnt = n;
  DSSetHandleSize(reinterpret_cast<UHandle>(out), 4 + n);
}

void BM_Node(benchmark::State& st) {
  EnsureInit();
  Which w = Which(st.range(0));
  auto vals = MakeValues();
  LStrHandle fmt = NewStr(kNodeFormats[w]);
  LStrHandle words[8];
  for (int k = 0; k < 8; ++k) words[k] = NewStr(kWords[k]);
  LStrHandle out = NewStr("");
  size_t i = 0;
  for (auto _ : st) {
    const Values& v = vals[i++ & 255];
    List l{};
    int32 count = 0;
    switch (w) {
      case kIntStrFixed:
        l.args[0] = {TD(&kI32TD), const_cast<int32*>(&v.i)};
        l.args[1] = {TD(&kStrTD), &words[v.k]};
        l.args[2] = {TD(&kDBLTD), const_cast<double*>(&v.d)};
        count = 3;
        break;
      case kFields:
        l.args[0] = {TD(&kI32TD), const_cast<int32*>(&v.i)};
        l.args[1] = {TD(&kStrTD), &words[v.k]};
        l.args[2] = {TD(&kI32TD), const_cast<int32*>(&v.i)};
        count = 3;
        break;
      case kExp:
        l.args[0] = {TD(&kDBLTD), const_cast<double*>(&v.e)};
        count = 1;
        break;
      case kStrInt:
        l.args[0] = {TD(&kStrTD), &words[v.k]};
        l.args[1] = {TD(&kI32TD), const_cast<int32*>(&v.i)};
        count = 2;
        break;
      case kUnit:
        l.args[0] = {TD(&kMetresTD), const_cast<double*>(&v.d)};
        count = 1;
        break;
    }
    benchmark::DoNotOptimize(DoPrintfNode(nullptr, fmt, nullptr, &out, count, l.Get()));
  }
  for (LStrHandle h : words) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  DSDisposeHandle(reinterpret_cast<UHandle>(out));
  DSDisposeHandle(reinterpret_cast<UHandle>(fmt));
}
BENCHMARK(BM_Node)->DenseRange(0, 4)->ArgName("format");

// The baseline with the handle's two resizes.
void BM_CLibraryIntoHandle(benchmark::State& st) {
  EnsureInit();
  Which w = Which(st.range(0));
  auto vals = MakeValues();
  LStrHandle out = NewStr("");
  const char* f = kCFormats[w];
  size_t i = 0;
  for (auto _ : st) {
    const Values& v = vals[i++ & 255];
    switch (w) {
      case kIntStrFixed: CFormat(out, f, v.i, kWords[v.k], v.d); break;
      case kFields: CFormat(out, f, v.i, kWords[v.k], v.i); break;
      case kExp: CFormat(out, f, v.e); break;
      case kStrInt: CFormat(out, f, kWords[v.k], v.i); break;
      case kUnit: CFormat(out, f, v.d / 1000); break;
    }
    benchmark::DoNotOptimize(out);
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(out));
}
BENCHMARK(BM_CLibraryIntoHandle)->DenseRange(0, 4)->ArgName("format");

// A bare snprintf into a stack buffer, for reference only.
void BM_CLibraryBare(benchmark::State& st) {
  Which w = Which(st.range(0));
  auto vals = MakeValues();
  char buf[256];
  const char* f = kCFormats[w];
  size_t i = 0;
  for (auto _ : st) {
    const Values& v = vals[i++ & 255];
    switch (w) {
      case kIntStrFixed: std::snprintf(buf, sizeof buf, f, v.i, kWords[v.k], v.d); break;
      case kFields: std::snprintf(buf, sizeof buf, f, v.i, kWords[v.k], v.i); break;
      case kExp: std::snprintf(buf, sizeof buf, f, v.e); break;
      case kStrInt: std::snprintf(buf, sizeof buf, f, kWords[v.k], v.i); break;
      case kUnit: std::snprintf(buf, sizeof buf, f, v.d / 1000); break;
    }
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_CLibraryBare)->DenseRange(0, 4)->ArgName("format");

}  // namespace
