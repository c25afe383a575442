// Snapping colours to the 8-bit application palette: DColorToIndex over a
// million random colours against a plain cube lookup of the same colours
// through three premultiplied quantisation tables, without the grey step:
// once called like DColorToIndex (out of line, same arguments), once as
// the bare loop.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "mgsource/draw/dcolors.h"

namespace {

const std::vector<DColor>& Colours() {
  static const std::vector<DColor> v = [] {
    std::mt19937 gen(70);
    std::vector<DColor> c(1000000);
    for (DColor& x : c) x = gen() & 0xFFFFFF;
    return c;
  }();
  return v;
}

void BM_DColorToIndex8(benchmark::State& st) {
  const std::vector<DColor>& c = Colours();
  for (auto _ : st) {
    uint32_t sum = 0;
    for (DColor x : c) sum += uint32_t(DColorToIndex(x, 8, nullptr));
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(st.iterations() * int64_t(c.size()));
}
BENCHMARK(BM_DColorToIndex8)->Unit(benchmark::kMillisecond);

struct CubeTables {
  uint8_t r36[256], g6[256], level[256];
  CubeTables() {
    for (int x = 0; x < 256; ++x) {
      level[x] = uint8_t((x + 25) / 51);
      r36[x] = uint8_t(36 * level[x]);
      g6[x] = uint8_t(6 * level[x]);
    }
  }
};
const CubeTables kCube;

__attribute__((noipa)) int32 PlainCubeIndex(DColor x, int32 depth, DColor* matched) {
  const int32 index = kCube.r36[(x >> 16) & 0xFF] + kCube.g6[(x >> 8) & 0xFF] + kCube.level[x & 0xFF];
  if (matched && depth < 0) *matched = 0;
  return index;
}

void BM_PlainCubeLookupCall(benchmark::State& st) {
  const std::vector<DColor>& c = Colours();
  for (auto _ : st) {
    uint32_t sum = 0;
    for (DColor x : c) sum += uint32_t(PlainCubeIndex(x, 8, nullptr));
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(st.iterations() * int64_t(c.size()));
}
BENCHMARK(BM_PlainCubeLookupCall)->Unit(benchmark::kMillisecond);

void BM_PlainCubeLookup(benchmark::State& st) {
  const uint8_t *r36 = kCube.r36, *g6 = kCube.g6, *level = kCube.level;
  const std::vector<DColor>& c = Colours();
  for (auto _ : st) {
    uint32_t sum = 0;
    for (DColor x : c) sum += uint32_t(r36[(x >> 16) & 0xFF] + g6[(x >> 8) & 0xFF] + level[x & 0xFF]);
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(st.iterations() * int64_t(c.size()));
}
BENCHMARK(BM_PlainCubeLookup)->Unit(benchmark::kMillisecond);

}  // namespace
