// Opening a 30-item pop-up menu (placement, menu window, first drawing,
// closing) against creating a plain window of the same size, filling it
// and destroying it (target: at most 3x).  The ratio is a counter of the
// measured run.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include "held_port.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"

namespace {

struct Scene {
  bool ok = false;
  WindowRef owner = kWNoWindow;
  MenuHandle menu = nullptr;
  Rect screen{};
  Scene() {
    BenchMemInit();
    BenchThInit();
    if (BenchScreenImage() != kNoErr || BenchResources() != kNoErr) return;
    BenchDrawInit();
    BenchFontsInit();
    MLoadMenuColors();
    const Rect r{40, 40, 400, 600};
    owner = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    if (!owner) return;
    const HeldPort port(owner);
    const uChar title[] = {5, 'B', 'e', 'n', 'c', 'h'};
    if (MNewLMenu(&menu, title, 1) != kNoErr) return;
    for (int32 i = 1; i <= 30; ++i) {
      uChar text[32];
      text[0] = uChar(std::snprintf(reinterpret_cast<char*>(text + 1), 30, "Menu item number %d", int(i)));
      if (MInsertLItem(menu, text, nullptr, 0, nullptr, 0, -1, uInt32(i)) != kNoErr) return;
    }
    WGetScreenRect(Point{100, 100}, &screen);
    ok = true;
  }
};
Scene& TheScene() {
  static Scene s;
  return s;
}

double gPlainNs = 0;
Rect gMenuRect{};

double NsPer(benchmark::State& st, std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / double(st.iterations());
}

void BM_PlainWindowFill(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.owner);
  const Rect anchor{100, 100, 100, 100};
  MPlaceMenu(s.menu, &anchor, kMPlacePopUp, &s.screen, &gMenuRect, 0);
  const Rect local{0, 0, int16(gMenuRect.bottom - gMenuRect.top), int16(gMenuRect.right - gMenuRect.left)};
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    const WindowRef w = WCreate(kWStyleModal | kWStyleFloating, nullptr, nullptr, &gMenuRect, 0, 1, 0);
    WPortState saved{};
    WSetup(w, &saved);
    DSelectNormPen(0xCCCCCC, 0xFFFFFF);
    DPaintRect(&local);
    WRestore(&saved);
    WDestroy(w);
  }
  gPlainNs = NsPer(st, std::chrono::steady_clock::now() - t0);
}
BENCHMARK(BM_PlainWindowFill)->Unit(benchmark::kMicrosecond);

void BM_PopUpMenuOpen30(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.owner);
  const Rect anchor{100, 100, 100, 100};
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    Rect r;
    MPlaceMenu(s.menu, &anchor, kMPlacePopUp, &s.screen, &r, 0);
    const WindowRef w = MCreateMenuWindow(s.menu, &r);
    const Rect size = (*s.menu)->size;
    WInvalRect(w, &size);
    WUpdate(w);
    MCloseMenuWindow(s.menu, nullptr);
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  if (gPlainNs > 0) st.counters["x_plain"] = ns / gPlainNs;
}
BENCHMARK(BM_PopUpMenuOpen30)->Unit(benchmark::kMicrosecond);

}  // namespace
