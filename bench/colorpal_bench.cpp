// The colour palette's cells at depth 8 (233 cells in 16 columns): a
// redraw from the cached cell image against drawing every cell again
// (target: at most 0.3x).  The two are timed in turns; the ratio is the
// counter x_cells_drawn.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include "held_port.h"

#include <chrono>
#include <cstring>

#include "engine/vi/rtrsrc.h"
#include "mgsource/draw/dport.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/window.h"
#include "panel/colorpal.h"
#include "tests/colour_maps.h"
#include "tools/colorwriter.h"
#include "tools/rsrcwriter.h"

namespace {

struct PaletteScene {
  bool ok = false;
  WindowRef window = kWNoWindow;
  MenuHandle menu = nullptr;
  PaletteScene() {
    if (BenchMemInit() != kNoErr || BenchResources() != kNoErr || BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    BenchFontsInit();
    if (LoadDefaultColourMaps() != kNoErr) return;
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddColorResources(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle image = AZNewHandle(int32(file.size()));
    if (!image) return;
    std::memcpy(*image, file.data(), file.size());
    RsrcFileRef ref = 0;
    if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image) != kNoErr) return;
    const RsrcFileRef saved = RunTimeRsrcFile();
    SetRunTimeRsrcFile(ref);
    const bool made = InitPanelColorPalette(&menu) == kNoErr;
    if (made) {
      PrepareColorPalette(0, 0xFFFFFF, 0x300, 8, nullptr, 0);
      MCalcMenuSize(menu);
    }
    SetRunTimeRsrcFile(saved);
    const Rect r{0, 0, 300, 300};
    window = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    ok = made && window && ColorPalette()->table == 2;
  }
};

PaletteScene& Scene() {
  static PaletteScene s;
  return s;
}

double Ns(bool cached) {
  const auto start = std::chrono::steady_clock::now();
  DrawColorPaletteCells(ColorPalette(), cached ? 1 : 0);
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void BM_PaletteRedrawFromCache(benchmark::State& st) {
  PaletteScene& s = Scene();
  if (!s.ok) return st.SkipWithError("no palette");
  const HeldPort port(s.window);
  Ns(true);  // the cache is made by the first drawing
  double cached = 0, drawn = 0;
  for (auto _ : st) {
    const double c = Ns(true);
    drawn += Ns(false);
    cached += c;
    st.SetIterationTime(c / 1e9);
  }
  if (drawn > 0) st.counters["x_cells_drawn"] = cached / drawn;
}

}  // namespace

BENCHMARK(BM_PaletteRedrawFromCache)->UseManualTime()->Unit(benchmark::kMicrosecond);
