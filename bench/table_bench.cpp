// A whole draw of a table (every cell, what 4) of 10,000 rows by 10 columns
// showing 30 rows, against the text boxes of its visible cells alone (the
// same rectangles, strings, font and colours, "x_tbox"), and against the same
// draw of a 100-row table ("x_100": the cost follows what is visible, not
// the row count).  Thread CPU time per draw.
#include <benchmark/benchmark.h>

#include <time.h>

#include <string>
#include <vector>

#include "controls/table.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/dport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "table_scene.h"

namespace {

using tablebench::kColumns;
using tablebench::ThreadNs;
using tablebench::Value;

struct Scene : PanelScene {
  int32 table = 0;
  UHandle big = nullptr, small = nullptr;
  Rect area{};
  std::vector<Rect> rects;           // the visible cells' text rectangles
  std::vector<std::string> strings;  // and their strings
  bool ok = false;
};

Scene& Get() {
  static Scene s = [] {
    Scene s;
    int32 area = 0;
    if (!(s.table = tablebench::MakeTable(s, &area, [](int32) { return true; }))) return s;
    std::memcpy(&s.area, *s.heap + area + kObjBounds, sizeof s.area);
    s.big = Value(10000), s.small = Value(100);
    UHandle* slot = TableValue(s.heap, s.table);
    if (!s.big || !s.small || !slot) return s;
    *slot = s.big;
    WPortState port;
    WSetup(s.window, &port);
    TableDraw(s.heap, s.table, nullptr, slot, kTableDrawAll, kDrawModeNormal);
    WRestore(&port);
    const TableState* st = TableStateOf(s.heap, s.table);
    for (int32 r = 0; st && r < st->visibleRows; ++r)
      for (int32 c = 0; c < st->visibleColumns; ++c) {
        Rect rect;
        if (TableCellRect(s.heap, s.table, r, c, &rect) & kTableCellHidden) continue;
        s.rects.push_back(rect);
        s.strings.push_back("cell " + std::to_string(r * kColumns + c));
      }
    s.ok = st && st->visibleRows == 30 && !s.rects.empty();
    return s;
  }();
  return s;
}

template <typename Draw>
double Draws(benchmark::State& st, Scene& s, Draw draw) {
  WPortState port;
  WSetup(s.window, &port);
  double ns = 0;
  for (auto _ : st) {
    const double start = ThreadNs();
    draw();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  WRestore(&port);
  return st.iterations() ? ns / double(st.iterations()) : 0;
}

double gTBoxNs = 0, gSmallNs = 0;

void BM_TableVisibleTextBoxes(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the table could not be built");
  gTBoxNs = Draws(st, s, [&] {
    const Rect saved = gDrawState.clipRect;
    DSetClipRect(&s.area);
    for (size_t i = 0; i < s.rects.size(); ++i)
      TBox(&s.rects[i], kTableTextFlags, reinterpret_cast<const uChar*>(s.strings[i].data()),
           int32(s.strings[i].size()), kAppFont, 0, 0xB3B3B3, 0, 0xFFFFFF);
    DSetClipRect(&saved);
  });
}

void BM_TableDraw100Rows(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the table could not be built");
  UHandle* slot = TableValue(s.heap, s.table);
  *slot = s.small;
  gSmallNs = Draws(st, s, [&] { TableDraw(s.heap, s.table, nullptr, slot, kTableDrawAll, kDrawModeNormal); });
  if (gTBoxNs > 0) st.counters["x_tbox"] = gSmallNs / gTBoxNs;
}

void BM_TableDraw10000Rows(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the table could not be built");
  UHandle* slot = TableValue(s.heap, s.table);
  *slot = s.big;
  const double ns =
      Draws(st, s, [&] { TableDraw(s.heap, s.table, nullptr, slot, kTableDrawAll, kDrawModeNormal); });
  if (gTBoxNs > 0) st.counters["x_tbox"] = ns / gTBoxNs;
  if (gSmallNs > 0) st.counters["x_100"] = ns / gSmallNs;
}

BENCHMARK(BM_TableVisibleTextBoxes)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableDraw100Rows)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableDraw10000Rows)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
