// A window update of a panel of 200 cosmetics and labels (100 of each)
// whose region meets 10 of them, against the same update of a panel that
// holds only those 10.  Both run the window's redraw (its update event
// draws the panel through the object system); the panel of 10 runs first,
// and the large panel's run reports "x_ten", its thread CPU time per update
// over the small one's.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <time.h>

#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/transact.h"
#include "platform/qx_window.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kObjects = 200;
// The region updated: the top-left corner of the panel, where the first
// five cosmetics and five labels lie.
constexpr Rect kRegion{0, 0, 18, 250};

int32 DrawPanel(WEventRecord* event, uInt32 refCon) {
  if (event->code == weWindDraw) ODrawPanel(reinterpret_cast<ObjHeap>(uintptr_t(refCon)));
  return 0;
}

struct Panel {
  ObjHeap heap = nullptr;
  WindowRef window = kWNoWindow;
  std::vector<TRecord> texts;

  int32 Obj(int32 cls, int32 owner) { return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, 0, 0); }
  // Objects laid out in rows of ten, 25 wide and 20 high, from the corner;
  // with `only`, only those that meet the updated region are made.
  bool Build(int32 image, bool only) {
    UHandle vi = vib::NewVI();
    if (!vi || RegisterVI(vi) != kNoErr || !(heap = vib::NewPanel(vi))) return false;
    const int32 root = FPNewPanelRoot(heap);
    if (!root) return false;
    const int32 ext = int32(OHWord(heap, kOHExtension));
    PutNative32(*heap + ext + kHeapExtRoot, uInt32(root));
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    const Rect place{0, 0, 500, 500};
    window = WCreate(0x3C, nullptr, &DrawPanel, &place, 0, 1, uInt32(uintptr_t(heap)));
    if (window == kWNoWindow) return false;
    PutNative32(*heap + ext + kHeapExtWindow, uInt32(window));
    const Rect content{0, 0, 500, 500};
    std::memcpy(*heap + ext + kHeapExtContentRect, &content, sizeof content);
    for (int32 i = 0; i < kObjects; ++i) {
      const bool label = i % 2;
      const int16 top = int16(20 * (i / 20)), left = int16(25 * (i % 20));
      const Rect r{top, left, int16(top + 18), int16(left + 24)};
      Rect meet;
      if (only && !DSectRect(&r, &kRegion, &meet)) continue;
      const int32 o = Obj(label ? kClsLabel : kClsCosmetic, root);
      if (!o) return false;
      std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
      if (label) {
        TRecord t = TNew(&r, 0, reinterpret_cast<const uChar*>("Ab"), 2, kAppFont, 0, kTransparentColor);
        if (!t) return false;
        texts.push_back(t);
        ObjSetWord(heap, o, kObjText / 4, int32(uintptr_t(t)));
      } else {
        ObjSetWord(heap, o, kObjImage / 4, 0x10000 | image);
        ObjSetWord(heap, o, kObjCosmBack / 4, 0xFFFFFF);
      }
    }
    return true;
  }
  void Update() {
    WInvalRect(window, &kRegion);
    WUpdate(window);
  }
};

struct Scene {
  bool ok = false;
  Panel all, ten;
  Scene() {
    if (BenchMemInit() != kNoErr || BenchTypeHeapInit() != kNoErr || BenchScreenImage() != kNoErr) return;
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    BenchDrawInit();
    const Rect r{0, 0, 18, 24};
    int32 image = 0;
    if (ICreatePixmap(-1, &r, 0, &image) != kNoErr) return;
    ok = all.Build(image, false) && ten.Build(image, true);
  }
};

Scene& Get() {
  static Scene s;
  return s;
}

double gTenNs = 0;

double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double Updates(benchmark::State& st, Panel& p) {
  double ns = 0;
  for (auto _ : st) {
    const double start = ThreadNs();
    p.Update();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  return ns / double(st.iterations());
}

void BM_UpdateOfTheTenAlone(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panels could not be built");
  gTenNs = Updates(st, s.ten);
}

void BM_UpdateMeetingTenOf200(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panels could not be built");
  const double ns = Updates(st, s.all);
  if (gTenNs > 0) st.counters["x_ten"] = ns / gTenNs;
}

}  // namespace

BENCHMARK(BM_UpdateOfTheTenAlone)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateMeetingTenOf200)->UseManualTime()->Unit(benchmark::kMicrosecond);
