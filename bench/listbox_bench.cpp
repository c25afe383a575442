// Listboxes of 10,000 and 100 items with 20 visible rows of text, drawn
// into their panel's window: Down on the last visible row (the selection
// moves and the list scrolls one row, rows and scroll bar drawn), against
// the same on 100 items and against drawing the 20 visible rows alone
// (ListboxDrawContents); and typing a prefix found near the end of 10,000
// items against a plain case-insensitive prefix scan of the same texts.
#include <benchmark/benchmark.h>

#include <strings.h>

#include <string>
#include <vector>

#include "controls/listbox.h"
#include "engine/dsalloc.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "panel/objects.h"
#include "panel/datamsg.h"
#include "panel_scene.h"

namespace {

struct ListScene : PanelScene {
  int32 listbox = 0;
  std::vector<std::string> texts;

  bool Make(int32 count) {
    if (!OpenPanel(400, 300)) return false;
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    const int32 dco = NewControl(Type(tdb::I32()), kClsListbox, &listbox);
    if (AllocObjDataSpace(heap, dco) != kNoErr) return false;
    if (DSAllocCurrentState()->active) AllocEndPass();
    if (!ObjWord(heap, listbox, kLbDataWord) && AllocObjDataSpace(heap, listbox) != kNoErr) return false;
    const int16 rows = 20, height = 16;
    std::memcpy(*heap + listbox + kLbRowsByte, &rows, 2);
    std::memcpy(*heap + listbox + kLbRowHeightByte, &height, 2);
    const int32 list = Obj(kClsCosmetic, listbox, kLbListPart);
    Place(list, 0, 0, rows * height, 200);
    // The text object whose record gives the rows' font and colour.
    const int32 text = Obj(kClsLabel, listbox, 0);
    const Rect view{0, 0, int16(rows * height), 200};
    TRecord record = TNew(&view, 0, nullptr, 0, kAppFont, 0, kTransparentColor);
    if (!record) return false;
    ObjSetWord(heap, text, kObjText / 4, int32(uintptr_t(record)));
    ObjSetWord(heap, listbox, kLbTextWord, text);
    if (ListboxSetItemCount(heap, listbox, count) != kNoErr) return false;
    for (int32 i = 0; i < count; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "%c%c item %05d", 'a' + (i * 26 / count), 'a' + i % 26, i);
      texts.push_back(text);
      UHandle h = DSNewHandle(int32(4 + texts.back().size()));
      if (!h) return false;
      PutNative32(*h, uInt32(texts.back().size()));
      std::memcpy(*h + 4, text, texts.back().size());
      int32 n;
      lb::Item(lb::Items(lb::Data(heap, listbox), &n), i)->text = h;
    }
    return lb::Value(heap, listbox) != nullptr;
  }
};

ListScene& Scene(int32 count) {
  static ListScene scenes[2];
  ListScene& s = scenes[count == 100 ? 0 : 1];
  if (!s.listbox && !s.Make(count)) s.listbox = -1;
  return s;
}

// Down from the last visible row, then back to it: each Down scrolls by one.
// The selection is put back on row 19 through the listbox (untimed).
void DownOnTheLastVisibleRow(benchmark::State& state) {
  ListScene& s = Scene(int32(state.range(0)));
  if (s.listbox <= 0) return state.SkipWithError("no listbox");
  WPortState port;
  WSetup(s.window, &port);
  for (auto _ : state) {
    state.PauseTiming();
    lb::SetTop(lb::Data(s.heap, s.listbox), 0);
    int32 row = 19;
    ListboxApplySelection(s.heap, s.listbox, &row, 0);
    ListboxStoreSelection(s.heap, s.listbox, nullptr, nullptr);
    state.ResumeTiming();
    benchmark::DoNotOptimize(ListboxKey(s.heap, s.listbox, vkDown, 0, 1));
  }
  WRestore(&port);
}
BENCHMARK(DownOnTheLastVisibleRow)->Arg(100)->Arg(10000);

// The 20 visible rows of the 10,000 drawn alone.
void DrawContentsOfTheVisibleRows(benchmark::State& state) {
  ListScene& s = Scene(10000);
  if (s.listbox <= 0) return state.SkipWithError("no listbox");
  WPortState port;
  WSetup(s.window, &port);
  for (auto _ : state) ListboxDrawContents(s.heap, s.listbox, nullptr, 0, 19, kDrawModeNormal);
  WRestore(&port);
}
BENCHMARK(DrawContentsOfTheVisibleRows);

// The type-ahead's search for "zz item 099" among 10,000 items.
void TypeAheadFind(benchmark::State& state) {
  static ListScene s;
  if (!s.listbox && !s.Make(10000)) {
    state.SkipWithError("no listbox");
    return;
  }
  static const uChar prefix[] = "zz item 099";
  for (auto _ : state) benchmark::DoNotOptimize(ListboxFindPrefix(s.heap, s.listbox, prefix, 11, 0));
}
BENCHMARK(TypeAheadFind);

void PlainPrefixScan(benchmark::State& state) {
  static ListScene s;
  if (!s.listbox && !s.Make(10000)) {
    state.SkipWithError("no listbox");
    return;
  }
  for (auto _ : state) {
    int32 found = -1;
    for (size_t i = 0; i < s.texts.size() && found < 0; ++i)
      if (s.texts[i].size() >= 11 && strncasecmp(s.texts[i].c_str(), "zz item 099", 11) == 0) found = int32(i);
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(PlainPrefixScan);

}  // namespace
