// A panel of 100 controls shown again with unchanged values: 60 numerics,
// 20 clusters of three numbers and 20 two-by-two arrays, each displayed
// through PanelDisplayValues with an old value equal to the new one (the
// update drain's case when a diagram rewrites what is shown).  The baseline
// compares the same bytes with memcmp and sets up and restores the window's
// port once per control.  The baseline runs first; the display's run
// reports "x_memcmp", its thread CPU time per control over the baseline's.
#include <benchmark/benchmark.h>

#include "panel_scene.h"

#include <time.h>

#include <cstring>
#include <vector>

#include "engine/datasupp.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/paneldisplay.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kNumerics = 60, kClusters = 20, kArrays = 20;

struct Control {
  int32 dco;
  const void* value;  // the value in the data space
  std::vector<uChar> old;  // a copy of its bytes
};

struct Scene : PanelScene {
  bool ok = false;
  std::vector<Control> controls;

  Scene() {
    if (!OpenPanel(600, 800)) return;
    const TypeID i32 = Type(tdb::I32()), dbl = Type(tdb::DBL());
    const TypeID cluster = Type(tdb::Cluster({tdb::I32(), tdb::DBL(), tdb::I32()}));
    const TypeID array = Type(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}));
    std::vector<int32> dcos;
    for (int32 i = 0; i < kNumerics + kClusters + kArrays; ++i) {
      int32 shown = 0;
      const int16 top = int16(10 + 30 * (i % 18)), left = int16(10 + 120 * (i / 18));
      if (i < kNumerics) {
        dcos.push_back(NewControl(i % 2 ? dbl : i32, kClsNumeric, &shown));
        Place(shown, top, left, 20, 100);
      } else if (i < kNumerics + kClusters) {
        dcos.push_back(NewControl(cluster, kClsCluster, &shown));
        Place(Obj(kClsCosmetic, shown, 28), top, left, 20, 100);
        std::vector<int32> elements;
        for (int32 k = 0; k < 3; ++k) {
          elements.push_back(Obj(kClsNumeric, shown));
          ObjSetWord(heap, elements.back(), kPWDDOTypeId, int32(k == 1 ? dbl : i32));
        }
        ObjSetWord(heap, shown, kPWClusterElements, vib::NewList(heap, elements));
      } else {
        dcos.push_back(NewControl(array, kClsArray, &shown));
        const int32 content = Obj(kClsCosmetic, shown, 28), element = Obj(kClsNumeric, shown, kPartDigital);
        Place(content, top, left, 20, 100);
        Place(element, top, left, 10, 50);
        ObjSetWord(heap, content, 8, 0xC0C0C0);
        ObjSetWord(heap, element, kPWDDOTypeId, int32(i32));
        ObjSetWord(heap, shown, kPWArrayElement, element);
        ObjSetWord(heap, shown, kPWArrayGrid, (1 << 16) | 1);
      }
    }
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    int32 list = vib::NewList(heap, dcos);
    ObjSetWord(heap, root, 10, list);
    for (int32 dco : dcos)
      if (AllocObjDataSpace(heap, dco) != kNoErr) return;
    for (int32 dco : dcos) {
      const void* at = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, dco, 0, kDataPtrOperate, nullptr))));
      const TypeDescriptor* td = at ? TypeIDToTD(heap, DCOTypeID(heap, dco)) : nullptr;
      if (!td) return;
      if (td->code == kTDArray) {
        int32 sizes[] = {2, 2};
        int32* sz = sizes;
        UHandle h = nullptr;
        if (ArrayResize(StdTDTable[kTDI32], 2, &h, &sz) != kNoErr) return;
        *static_cast<UHandle*>(const_cast<void*>(at)) = h;
      }
      const auto* bytes = static_cast<const uChar*>(at);
      controls.push_back({dco, at, std::vector<uChar>(bytes, bytes + DataSize(td))});
    }
    ok = true;
  }
};

Scene& Get() {
  static Scene s;
  return s;
}

double gBaselineNs = 0;

// The thread's CPU time: what other programs on the machine do is not
// counted.
double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Runs one round over the controls per iteration, timed by the thread's
// CPU clock; the time per control.
template <typename Show>
double Rounds(benchmark::State& st, const Scene& s, Show show) {
  double ns = 0;
  for (auto _ : st) {
    const double start = ThreadNs();
    for (const Control& c : s.controls) show(c);
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  st.SetItemsProcessed(st.iterations() * int64_t(s.controls.size()));
  return ns / double(st.iterations()) / double(s.controls.size());
}

void BM_UnchangedValuesMemcmp(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  int32 differ = 0;
  gBaselineNs = Rounds(st, s, [&](const Control& c) {
    WPortState port;
    WSetup(s.window, &port);
    differ += std::memcmp(c.old.data(), c.value, c.old.size()) != 0;
    WRestore(&port);
  });
  benchmark::DoNotOptimize(differ);
}

void BM_UnchangedValuesPanelDisplay(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  const double ns =
      Rounds(st, s, [&](const Control& c) { PanelDisplayValues(s.heap, c.dco, c.old.data(), c.value); });
  if (gBaselineNs > 0) st.counters["x_memcmp"] = ns / gBaselineNs;
}

}  // namespace

BENCHMARK(BM_UnchangedValuesMemcmp)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnchangedValuesPanelDisplay)->UseManualTime()->Unit(benchmark::kMicrosecond);
