// TDraw of a 60-line record with three style runs into a 640 x 480 window
// against drawing the same lines with the font layer's text call directly
// (each line's runs at the same places, the same fonts and colours; the
// bar is 1.5x).  The ratio is a counter of the measured run.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include "held_port.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_text.h"

namespace {

struct TextScene {
  bool ok = false;
  WindowRef window = kWNoWindow;
  TRecord record = nullptr;
  int32 fonts[3] = {0, 0, 0};
  std::string text;
  TextScene() {
    BenchMemInit();
    BenchThInit();
    BenchFileMgr();
    if (BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    BenchFontsInit();
    const Rect r{0, 0, 480, 640};
    window = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    if (!window) return;
    const HeldPort port(window);
    for (int32 i = 0; i < 60; ++i) text += "Line " + std::to_string(i) + ": the quick brown fox jumps over\n";
    const Rect view{0, 0, 480, 640};
    record = TNew(&view, kTRKindLines, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), kAppFont, 0,
                  0xFFFFFF);
    if (!record) return;
    fonts[0] = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 9, 0, 0);
    fonts[1] = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 7, 0, 0);
    fonts[2] = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 8, 0, 0);
    if (DSSetHandleSize(record, kTRRuns + 4 * kTRRunSize) != kNoErr) return;
    const uInt32 starts[3] = {0, uInt32(text.size() / 3), uInt32(2 * text.size() / 3)};
    for (int32 i = 0; i < 3; ++i) {
      TAddFontReference(fonts[i]);
      TRData(record)->runs[i + 1] = TStyleRun{starts[i], fonts[i], DColor(0x330000 * i)};
    }
    TRData(record)->runCount = 3;
    TRecalc(record);
    TValidateLines(record);
    ok = TLineCount(record) >= 60;
  }
};
TextScene& Scene() {
  static TextScene s;
  return s;
}

std::chrono::steady_clock::duration gTDraw{}, gDirect{};
int64_t gTDrawIters = 0, gDirectIters = 0;

void BM_TDrawRecord60Lines(benchmark::State& st) {
  TextScene& s = Scene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) TDraw(s.record);
  gTDraw = std::chrono::steady_clock::now() - t0;
  gTDrawIters = st.iterations();
}
BENCHMARK(BM_TDrawRecord60Lines)->Unit(benchmark::kMicrosecond);

// The same pieces: each line cut at the run bounds, painted and drawn with
// the font layer's call at the positions the layout gives.
void BM_DirectTextLines60(benchmark::State& st) {
  TextScene& s = Scene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  struct Piece {
    int32 x, y, from, to, font;
    DColor colour;
  };
  std::vector<Piece> pieces;
  const int32 count = TLineCount(s.record), n = int32(s.text.size());
  int32 top = 0;
  // The lines TDraw draws: those starting above the view's bottom.
  for (int32 i = 0; i < count && top < 480; ++i) {
    const TLineEntry e = TLineAt(s.record, i);
    const int32 end = i + 1 < count ? TLineAt(s.record, i + 1).start : n;
    int32 x = 1;
    for (int32 k = 0; k < 3; ++k) {
      const TStyleRun run = TRData(s.record)->runs[k + 1];
      const int32 rs = int32(run.start), re = k < 2 ? int32(TRData(s.record)->runs[k + 2].start) : n;
      const int32 from = std::max(rs, e.start), to = std::min(re, end);
      if (to <= from) continue;
      int32 ascent = 0;
      TGetFontMetrics(run.font, &ascent, nullptr, nullptr);
      pieces.push_back({x, top + e.ascent - ascent, from, to, run.font, run.colour});
      x += TMeasureRange(s.record, from, to - from);
    }
    top += e.height;
  }
  const PlatObj dc = gDrawState.dc;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    const Rect all{0, 0, 480, 640};
    DSelectNormPen(0xFFFFFF, 0xFFFFFF);
    DPaintRect(&all);
    PlatSetBkMode(dc, 1);
    for (const Piece& p : pieces) {
      TSelectFontIntoDC(dc, TFontEntry(p.font)->object);
      PlatSetTextColor(dc, DColorToGDIColor(p.colour));
      PlatTextOut(dc, p.x, p.y, 0, nullptr, s.text.data() + p.from, p.to - p.from);
    }
  }
  gDirect = std::chrono::steady_clock::now() - t0;
  gDirectIters = st.iterations();
  if (gTDrawIters && gDirectIters) {
    const double a = std::chrono::duration<double>(gTDraw).count() / double(gTDrawIters);
    const double b = std::chrono::duration<double>(gDirect).count() / double(gDirectIters);
    st.counters["tdraw_over_direct"] = a / b;
  }
}
BENCHMARK(BM_DirectTextLines60)->Unit(benchmark::kMicrosecond);

}  // namespace
