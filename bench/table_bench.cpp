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
#include "panel_scene.h"

namespace {

constexpr int32 kColumns = 10;

struct Scene : PanelScene {
  int32 table = 0;
  UHandle big = nullptr, small = nullptr;
  Rect area{};
  std::vector<Rect> rects;           // the visible cells' text rectangles
  std::vector<std::string> strings;  // and their strings
  bool ok = false;
};

UHandle Value(int32 rows) {
  UHandle a = DSNewHClr(8 + 4 * rows * kColumns);
  if (!a) return nullptr;
  PutNative32(*a, uInt32(rows));
  PutNative32(*a + 4, uInt32(kColumns));
  for (int32 i = 0; i < rows * kColumns; ++i) {
    const std::string t = "cell " + std::to_string(i);
    UHandle s = DSNewHandle(int32(4 + t.size()));
    if (!s) return nullptr;
    PutNative32(*s, uInt32(t.size()));
    std::memcpy(*s + 4, t.data(), t.size());
    std::memcpy(*a + 8 + 4 * i, &s, 4);
  }
  return a;
}

Scene& Get() {
  static Scene s = [] {
    Scene s;
    if (!s.OpenPanel(600, 400)) return s;
    ControlsJoinTableSlots();
    ObjSetWord(s.heap, s.root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(s.vi)->dataSpace)));
    const TypeID type = s.Type(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}));
    const int32 dco = s.NewControl(type, kClsTable, &s.table);
    const int32 area = s.Obj(kClsCosmetic, s.table, kTablePartCells);
    s.Place(area, 10, 10, 30 * 17, kColumns * 31 + 1);
    std::memcpy(&s.area, *s.heap + area + kObjBounds, sizeof s.area);
    ctrl::SetPartColours(s.heap, area, 0x000000, 0xFFFFFF);
    if (AllocObjDataSpace(s.heap, dco) != kNoErr) return s;
    if (DSAllocCurrentState()->active) AllocEndPass();
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

double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
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
