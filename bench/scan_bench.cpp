// DoScanfNode against sscanf with the equivalent C formats on the same
// inputs: "%d,%d", "%f %s" (C: "%lf %s"), "%x" and "%d %d %d %d".  The
// baseline does the node's work with the outputs: each "%s" text copied into
// an LStr handle resized with DSSetHandleSize, and the unconsumed tail (found
// with "%n") copied into the remainder's handle the same way.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format_bench_support.h"
#include "mgsource/memory.h"
#include "rtlib/strscan.h"

namespace {

using fmtbench::EnsureInit;
using fmtbench::List;
using fmtbench::NewStr;
using fmtbench::SimpleTD;
using fmtbench::StringTD;
using fmtbench::TD;

const SimpleTD kI32TD = {4, kTDI32, 0};
const SimpleTD kU32TD = {4, kTDU32, 0};
const SimpleTD kDBLTD = {4, kTDDBL, 0};
const StringTD kStrTD = {8, kTDString, 0, -1};

enum Which { kPair, kFloatWord, kHex, kFour };
const char* const kNodeFormats[] = {"%d,%d", "%f %s", "%x", "%d %d %d %d"};
const char* const kCFormats[] = {"%d,%d%n", "%lf %255s%n", "%x%n", "%d %d %d %d%n"};

std::vector<std::string> MakeInputs(Which w) {
  std::mt19937 g(11);
  std::uniform_int_distribution<int32> ints(-1000000, 1000000);
  std::uniform_real_distribution<double> reals(-10000.0, 10000.0);
  const char* const words[] = {"alpha", "be", "gamma", "delta-x", "e", "zeta", "etaeta", "theta"};
  std::vector<std::string> v;
  char buf[128];
  for (int k = 0; k < 256; ++k) {
    switch (w) {
      case kPair: std::snprintf(buf, sizeof buf, "%d,%d tail", ints(g), ints(g)); break;
      case kFloatWord: std::snprintf(buf, sizeof buf, "%.4f %s rest", reals(g), words[k & 7]); break;
      case kHex: std::snprintf(buf, sizeof buf, "%X", unsigned(ints(g))); break;
      case kFour: std::snprintf(buf, sizeof buf, "%d %d %d %d", ints(g), ints(g), ints(g), ints(g)); break;
    }
    v.push_back(buf);
  }
  return v;
}

void SetText(LStrHandle h, const char* text, int32 n) {
  DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + n);
  std::memcpy((*h)->str, text, size_t(n));
  (*h)->cnt = n;
}

void BM_ScanNode(benchmark::State& st) {
  EnsureInit();
  Which w = Which(st.range(0));
  std::vector<LStrHandle> inputs;
  for (const std::string& s : MakeInputs(w)) inputs.push_back(NewStr(s));
  LStrHandle fmt = NewStr(kNodeFormats[w]);
  LStrHandle rest = NewStr("");
  LStrHandle word = NewStr("");
  int32 n[4];
  uInt32 u;
  double d;
  List l{};
  int32 count = 0;
  switch (w) {
    case kPair:
      l.args[0] = {TD(&kI32TD), &n[0]};
      l.args[1] = {TD(&kI32TD), &n[1]};
      count = 2;
      break;
    case kFloatWord:
      l.args[0] = {TD(&kDBLTD), &d};
      l.args[1] = {TD(&kStrTD), &word};
      count = 2;
      break;
    case kHex:
      l.args[0] = {TD(&kU32TD), &u};
      count = 1;
      break;
    case kFour:
      for (int k = 0; k < 4; ++k) l.args[k] = {TD(&kI32TD), &n[k]};
      count = 4;
      break;
  }
  size_t i = 0;
  int32 past = 0;
  for (auto _ : st) {
    LStrHandle in = inputs[i++ & 255];
    benchmark::DoNotOptimize(DoScanfNode(nullptr, fmt, in, &rest, 0, &past, count, nullptr, l.Get()));
  }
  for (LStrHandle h : inputs) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  for (LStrHandle h : {fmt, rest, word}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}
BENCHMARK(BM_ScanNode)->DenseRange(0, 3)->ArgName("format");

void BM_ScanCLibrary(benchmark::State& st) {
  EnsureInit();
  Which w = Which(st.range(0));
  std::vector<LStrHandle> inputs;
  for (const std::string& s : MakeInputs(w)) inputs.push_back(NewStr(s));
  LStrHandle rest = NewStr("");
  LStrHandle word = NewStr("");
  const char* f = kCFormats[w];
  size_t i = 0;
  for (auto _ : st) {
    LStrHandle in = inputs[i++ & 255];
    // sscanf needs a terminated text: the handle's text copied out first.
    char text[128];
    int32 len = (*in)->cnt;
    std::memcpy(text, (*in)->str, size_t(len));
    text[len] = 0;
    int n[4], used = 0;
    unsigned u;
    double d;
    char buf[256];
    switch (w) {
      case kPair: std::sscanf(text, f, &n[0], &n[1], &used); break;
      case kFloatWord:
        if (std::sscanf(text, f, &d, buf, &used) == 2) SetText(word, buf, int32(std::strlen(buf)));
        break;
      case kHex: std::sscanf(text, f, &u, &used); break;
      case kFour: std::sscanf(text, f, &n[0], &n[1], &n[2], &n[3], &used); break;
    }
    SetText(rest, text + used, len - used);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(d);
    benchmark::DoNotOptimize(u);
  }
  for (LStrHandle h : inputs) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  for (LStrHandle h : {rest, word}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}
BENCHMARK(BM_ScanCLibrary)->DenseRange(0, 3)->ArgName("format");

}  // namespace
