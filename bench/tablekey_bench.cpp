// Down on the last visible row of a table of 10,000 rows by 10 columns
// showing 30 rows: the edit cell moves on, the table scrolls a row and is
// drawn again, the edit text is laid over the new cell.  Against the same
// key on a 100-row table ("x_100": the cost follows what is visible, not
// the row count) and against a draw of the visible cells alone (TableDraw,
// what 4: "x_draw").  Thread CPU time per key.
#include <benchmark/benchmark.h>

#include <time.h>

#include <string>

#include "controls/tableops.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/dport.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/operate.h"
#include "table_scene.h"

namespace {

using tablebench::kColumns;
using tablebench::ThreadNs;
using tablebench::Value;

struct KeyScene : PanelScene {
  int32 table = 0, edit = 0;
  UHandle big = nullptr, small = nullptr;
  TRecord text = nullptr;
  bool ok = false;
};

KeyScene& Get() {
  static KeyScene s = [] {
    KeyScene s;
    int32 area = 0;
    s.table = tablebench::MakeTable(s, &area, [&s](int32 table) {
      if (!TRStackBlock()) TRInit();
      s.edit = s.Obj(kClsLabel, table, 11);
      const Rect none{0, 0, 10, 10};
      s.text = TNew(&none, 0, nullptr, 0, 0, 0, 0xFFFFFF);
      if (!s.text) return false;
      ObjSetWord(s.heap, s.edit, 9, int32(uintptr_t(s.text)));
      ObjSetWord(s.heap, table, kTableEditPartWord, s.edit);
      return true;
    });
    if (!s.table) return s;
    s.big = Value(10000), s.small = Value(100);
    UHandle* slot = TableValue(s.heap, s.table);
    if (!s.big || !s.small || !slot) return s;
    *slot = s.big;
    WPortState port;
    WSetup(s.window, &port);
    TableDraw(s.heap, s.table, nullptr, slot, kTableDrawAll, kDrawModeNormal);
    WRestore(&port);
    // The table holds the key focus (its own path, saved as the focus moves).
    const int32 ext = int32(OHWord(s.heap, kOHExtension));
    PutNative32(*s.heap + ext + kHeapExtKeyFocus, uInt32(s.table));
    const TableState* st = TableStateOf(s.heap, s.table);
    s.ok = st && st->visibleRows == 30;
    return s;
  }();
  return s;
}

// Down on the last visible row, the origin at top: each key scrolls by one.
double Downs(benchmark::State& bs, KeyScene& s, UHandle value, int32 top) {
  UHandle* slot = TableValue(s.heap, s.table);
  *slot = value;
  WPortState port;
  WSetup(s.window, &port);
  void* const previous = TRPushFrame();
  auto* frame = static_cast<TransactionFrame*>(TRStackTop());
  double ns = 0;
  for (auto _ : bs) {
    TableState* st = TableStateOf(s.heap, s.table);
    st->topRow = top;
    ObjSetWord(s.heap, s.table, kTableEditRowWord, top + st->visibleRows - 1);
    ObjSetWord(s.heap, s.table, kTableEditColumnWord, 3);
    frame[0] = TransactionFrame{s.table, kCatDDO, 2, 0};
    frame[1].kind = 0;
    ActionParams p{};
    p.eventCode = kSubKeyDown, p.keyCode = vkDown;
    const double start = ThreadNs();
    TableKey(s.heap, s.table, 0, kTableKeyFocusPart, frame, &p);
    const double t = ThreadNs() - start;
    bs.SetIterationTime(t / 1e9);
    ns += t;
    if (TableStateOf(s.heap, s.table)->topRow != top + 1) {
      bs.SkipWithError("Down did not scroll one row");
      break;
    }
  }
  TRSetStackTop(previous);
  WRestore(&port);
  return bs.iterations() ? ns / double(bs.iterations()) : 0;
}

double gDrawNs = 0, gSmallNs = 0;

void BM_TableDrawVisible(benchmark::State& bs) {
  KeyScene& s = Get();
  if (!s.ok) return bs.SkipWithError("the table could not be built");
  UHandle* slot = TableValue(s.heap, s.table);
  *slot = s.big;
  TableStateOf(s.heap, s.table)->topRow = 5000;
  WPortState port;
  WSetup(s.window, &port);
  double ns = 0;
  for (auto _ : bs) {
    const double start = ThreadNs();
    TableDraw(s.heap, s.table, nullptr, slot, kTableDrawAll, kDrawModeNormal);
    const double t = ThreadNs() - start;
    bs.SetIterationTime(t / 1e9);
    ns += t;
  }
  WRestore(&port);
  gDrawNs = bs.iterations() ? ns / double(bs.iterations()) : 0;
}

void BM_TableDown100Rows(benchmark::State& bs) {
  KeyScene& s = Get();
  if (!s.ok) return bs.SkipWithError("the table could not be built");
  gSmallNs = Downs(bs, s, s.small, 50);
  if (gDrawNs > 0) bs.counters["x_draw"] = gSmallNs / gDrawNs;
}

void BM_TableDown10000Rows(benchmark::State& bs) {
  KeyScene& s = Get();
  if (!s.ok) return bs.SkipWithError("the table could not be built");
  const double ns = Downs(bs, s, s.big, 5000);
  if (gDrawNs > 0) bs.counters["x_draw"] = ns / gDrawNs;
  if (gSmallNs > 0) bs.counters["x_100"] = ns / gSmallNs;
}

BENCHMARK(BM_TableDrawVisible)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableDown100Rows)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableDown10000Rows)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
