// Listboxes of 10,000 and 100 items with 20 visible rows: Down on the last
// visible row (the caret moves and the list scrolls one row), and typing a
// prefix found near the end of 10,000 items against a plain
// case-insensitive prefix scan of the same texts.
#include <benchmark/benchmark.h>

#include <strings.h>

#include <string>
#include <vector>

#include "controls/listbox.h"
#include "engine/dsalloc.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/winproc.h"
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

// Down from the last visible row, then back to it: each Down scrolls by one.
void DownOnTheLastVisibleRow(benchmark::State& state) {
  static ListScene scenes[2];
  ListScene& s = scenes[state.range(0) == 100 ? 0 : 1];
  if (!s.listbox && !s.Make(int32(state.range(0)))) {
    state.SkipWithError("no listbox");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    uChar* d = lb::Data(s.heap, s.listbox);
    lb::SetTop(d, 0);
    int32 n;
    UHandle items = lb::Items(d, &n);
    for (int32 i : {0, 19, 20}) lb::Item(items, i)->flags &= ~uInt32(kLbItemSelected);
    lb::Item(items, 19)->flags |= kLbItemSelected;
    state.ResumeTiming();
    benchmark::DoNotOptimize(ListboxKey(s.heap, s.listbox, vkDown, 0, 1));
  }
}
BENCHMARK(DownOnTheLastVisibleRow)->Arg(100)->Arg(10000);

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
