// New values shown in numerics: a 10 x 10 array of doubles shown in an
// array of numerics, against the same 100 values in 100 separate numeric
// indicators, each numeric showing its text.  Every iteration shows new
// values (all of them change).  The separate numerics run first; the
// array's run reports "x_separate", its thread CPU time per value over
// theirs.
//
// A picture control of 1,000 records (pen changes and painted rectangles)
// redrawn: replayed (a picture that erases first), then from its
// off-screen copy; the copy's run reports
// "x_replay", its thread CPU time per redraw over the replay's.
//
// A vertical slide (a bevelled housing, a scale of eleven labelled markers
// lying on it, a fill and a slider) takes a new value each iteration: drawn
// whole by its ODraw without the housing image (the housing drawn straight,
// as where the image cannot be used), then moved by its display method,
// which repairs the moved slider from the housing image inside the housing;
// the move's run reports "x_full_draw", its thread CPU time per value over
// the full draw's.
#include <benchmark/benchmark.h>

#include "insn_marks.h"
#include "panel_scene.h"

#include "controls/picc.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"

#include <time.h>

#include <cstring>
#include <utility>
#include <vector>

#include "engine/datasupp.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/ctrldraw.h"
#include "panel/datageom.h"
#include "panel/objimage.h"
#include "panel/oinit.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/transact.h"
#include "panel/paneldisplay.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

constexpr int32 kSide = 10, kValues = kSide * kSide;

struct Scene : PanelScene {
  bool ok = false;
  std::vector<int32> numerics;  // controllers of the separate numerics
  std::vector<float64*> numericValues;
  int32 array = 0;              // the array's controller
  UHandle arrayValue = nullptr;  // the array shown last
  UHandle arrayNext = nullptr;   // the next round's values, then the old value kept beside them
  int32 picture = 0;            // the picture control and its value
  UHandle pictureValue = nullptr;
  int32 slideDco = 0, slide = 0, housing = 0;  // the slide's controller, its display, its housing
  float64* slideValue = nullptr;

  // A numeric's text part (part 10) in its bounds.
  bool Text(int32 numeric, int16 top, int16 left) {
    const int32 label = Obj(kClsLabel, numeric, 10);
    if (!label) return false;
    Place(label, top, left, 16, 60);
    const Rect r{top, left, int16(top + 16), int16(left + 60)};
    TRecord t = TNew(&r, 0, reinterpret_cast<const uChar*>("0"), 1, kAppFont, 0, 0xFFFFFF);
    ObjSetWord(heap, label, kObjText / 4, int32(uintptr_t(t)));
    return t != nullptr;
  }

  // A cosmetic part of the slide drawn by a built-in picture procedure.
  int32 Pictured(int32 owner, int16 id, PictureProc proc, uInt32 style, int16 top, int16 left, int16 h, int16 w) {
    const int32 part = Obj(kClsCosmetic, owner, id);
    int32 image = 0;
    if (!part || INewProcImage(proc, style, &image) != kNoErr) return 0;
    Place(part, top, left, h, w);
    ObjSetWord(heap, part, kObjImage / 4, kObjImageHeld | image);
    ObjSetWord(heap, part, kObjCosmFore / 4, 0x303030);
    ObjSetWord(heap, part, kObjCosmBack / 4, 0xC0C0C0);
    return part;
  }

  // The slide: parts listed front to back, the housing last (behind the scale).
  bool Slide(std::vector<int32>& dcos) {
    ControlsInstallScaleHooks();
    ControlsJoinScaleSlots();
    slideDco = NewControl(Type(tdb::DBL()), kClsSlide, &slide);
    Place(slide, 460, 10, 240, 90);
    if (!Pictured(slide, kPartNeedle, SliderPictProc, 0x42000, 465, 40, 10, 40) ||
        !Pictured(slide, kPartFill, RectPictProc, 0x4401, 680, 55, 1, 10))
      return false;
    const int32 scale = Obj(kClsScale, slide, kControlPartScale);
    Place(scale, 470, 12, 220, 26);
    ObjSetWord(heap, scale, 0, int32(kScaleEndLabels | kScaleEndTicks));
    const int32 label = Obj(kClsLabel, scale, kScalePartLabel);
    Place(label, 470, 12, 14, 20);
    const Rect lr{470, 12, 484, 32};
    TRecord t = TNew(&lr, 0, reinterpret_cast<const uChar*>("0"), 1, kAppFont, 0, 0xFFFFFF);
    if (!t) return false;
    ObjSetWord(heap, label, kObjText / 4, int32(uintptr_t(t)));
    if (!Pictured(scale, kScalePartTick, RectPictProc, 0x4401, 470, 34, 1, 4)) return false;
    housing = Pictured(slide, kPartHousing, RectPictProc, 0x4202, 460, 10, 240, 90);
    if (!housing) return false;
    dcos.push_back(slideDco);
    return true;
  }

  // The scale's range along the housing, once its record is in the data space.
  bool SlideScale() {
    const int32 scale = FindPart(heap, slide, kControlPartScale, 0);
    ScaleRec* r = scale ? ScaleRecOf(heap, scale) : nullptr;
    if (!r) return false;
    r->min = 0, r->max = 10, r->start = 0, r->increment = 1, r->multiplier = 1;
    r->pixelStart = 680, r->pixelEnd = 480;
    slideValue = reinterpret_cast<float64*>(uintptr_t(uInt32(OGetDataPtr(heap, slideDco, 0, kDataPtrOperate, nullptr))));
    return slideValue != nullptr;
  }

  Scene() {
    if (!OpenPanel(700, 900)) return;
    const TypeID dbl = Type(tdb::DBL()), grid = Type(tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}));
    std::vector<int32> dcos;
    for (int32 i = 0; i < kValues; ++i) {
      int32 shown = 0;
      numerics.push_back(NewControl(dbl, kClsNumeric, &shown));
      const int16 top = int16(10 + 20 * (i / kSide)), left = int16(10 + 64 * (i % kSide));
      Place(shown, top, left, 16, 60);
      if (!Text(shown, top, left)) return;
      dcos.push_back(numerics.back());
    }
    int32 shown = 0;
    array = NewControl(grid, kClsArray, &shown);
    const int32 content = Obj(kClsCosmetic, shown, 28), element = Obj(kClsNumeric, shown, kPartDigital);
    Place(content, 250, 10, 20 * kSide, 64 * kSide);
    Place(element, 250, 10, 16, 60);
    if (!Text(element, 250, 10)) return;
    ObjSetWord(heap, element, kPWDDOTypeId, int32(dbl));
    ObjSetWord(heap, shown, kPWArrayElement, element);
    ObjSetWord(heap, shown, kPWArrayGrid, ((kSide - 1) << 16) | (kSide - 1));
    dcos.push_back(array);
    if (!Slide(dcos)) return;
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    ObjSetWord(heap, root, 10, vib::NewList(heap, dcos));
    for (int32 dco : dcos)
      if (AllocObjDataSpace(heap, dco) != kNoErr) return;
    for (int32 dco : numerics)
      numericValues.push_back(reinterpret_cast<float64*>(uintptr_t(uInt32(OGetDataPtr(heap, dco, 0, kDataPtrOperate, nullptr)))));
    // The picture: 500 pen changes, 500 rectangles.
    picture = Obj(kClsPicture);
    const int32 area = Obj(kClsCosmetic, picture, 28);
    Place(picture, 300, 700, 150, 150);
    Place(area, 300, 700, 150, 150);
    ObjSetWord(heap, area, 0, 0x2);  // opaque
    if (!(pictureValue = DSNewHClr(4))) return;
    for (int32 i = 0; i < 500; ++i) {
      PictOpArgs a;
      a.colours[0] = a.colours[2] = DColor(0x010203 * (i % 80));
      a.rect = Rect{int16(i % 140), int16((i * 7) % 140), int16(i % 140 + 10), int16((i * 7) % 140 + 10)};
      if (PictAppendOp(pictureValue, 0, kPictOpNormPen, &a) != kNoErr ||
          PictAppendOp(pictureValue, 0, kPictOpPaintRect, &a) != kNoErr)
        return;
    }
    if (!SlideScale()) return;
    int32 sizes[] = {kSide, kSide};
    int32* sz = sizes;
    if (ArrayResize(StdTDTable[kTDDBL], 2, &arrayValue, &sz) != kNoErr || !arrayValue) return;
    sz = sizes;
    if (ArrayResize(StdTDTable[kTDDBL], 2, &arrayNext, &sz) != kNoErr || !arrayNext) return;
    ok = true;
  }
};

Scene& Get() {
  static Scene s;
  return s;
}

double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double gSeparateNs = 0;

// One round per iteration, timed by the thread's CPU clock; the time per value.
template <typename Round>
double Rounds(benchmark::State& st, Round round) {
  double ns = 0;
  int32 n = 0;
  for (auto _ : st) {
    ++n;
    const double start = ThreadNs();
    QxInsnMarkBegin();
    round(n);
    QxInsnMarkEnd();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  st.SetItemsProcessed(st.iterations() * kValues);
  return ns / double(st.iterations()) / kValues;
}

// Each round's values differ from the last by a whole unit, so each shows as a
// new text under the numerics' format in both benchmarks.  (With half steps a
// separate numeric's text stayed the same every other round and was not drawn
// again, while the array's one element, drawing every cell in turn, compares
// with the cell it drew before and draws every cell.)
void BM_NewValuesSeparateNumerics(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  gSeparateNs = Rounds(st, [&](int32 n) {
    for (int32 i = 0; i < kValues; ++i) {
      const float64 old = *s.numericValues[i];
      *s.numericValues[i] = n + i;
      PanelDisplayValues(s.heap, s.numerics[i], &old, s.numericValues[i]);
    }
  });
}

void BM_NewValuesArrayOfNumerics(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  // As the panel's update path shows an array by default: with the array shown
  // before as the old value, as each separate numeric gets its own.
  const double ns = Rounds(st, [&](int32 n) {
    auto* values = reinterpret_cast<float64*>(*s.arrayNext + 8);
    for (int32 i = 0; i < kValues; ++i) values[i] = n + i;
    PanelDisplayValues(s.heap, s.array, &s.arrayValue, &s.arrayNext);
    std::swap(s.arrayValue, s.arrayNext);
  });
  if (gSeparateNs > 0) st.counters["x_separate"] = ns / gSeparateNs;
}

double gReplayNs = 0;

// One redraw of the picture per iteration, inside the window's port.
template <typename Draw>
double Redraws(benchmark::State& st, Scene& s, Draw draw) {
  WPortState port;
  WSetup(s.window, &port);
  double ns = 0;
  for (auto _ : st) {
    const double start = ThreadNs();
    QxInsnMarkBegin();
    draw();
    QxInsnMarkEnd();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  WRestore(&port);
  return ns / double(st.iterations());
}

void BM_PictureReplayed(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  ObjSetWord(s.heap, s.picture, 0, 0x20000);  // erased first, never through a copy
  gReplayNs = Redraws(st, s, [&] { ODrawObj(s.heap, s.picture, int32(uintptr_t(&s.pictureValue)), 0, 4); });
}

void BM_PictureFromItsCopy(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  ObjSetWord(s.heap, s.picture, 0, 0x10000);  // shown through its copy
  const double ns = Redraws(st, s, [&] { ODrawObj(s.heap, s.picture, int32(uintptr_t(&s.pictureValue)), 0, 4); });
  if (gReplayNs > 0) st.counters["x_replay"] = ns / gReplayNs;
}

double gFullDrawNs = 0;

void BM_SlideDrawnWhole(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  // Without the housing image: the housing and its scale drawn every time.
  ObjSetWord(s.heap, s.housing, 0, ObjWord(s.heap, s.housing, 0) | 0x4);
  int32 n = 0;
  gFullDrawNs = Redraws(st, s, [&] {
    *s.slideValue = (++n % 10) + 0.5;
    ODrawObj(s.heap, s.slide, int32(uintptr_t(s.slideValue)), 0, 4);
  });
  ObjSetWord(s.heap, s.housing, 0, ObjWord(s.heap, s.housing, 0) & ~0x4);
}

void BM_SlideMovedFromItsHousingImage(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the panel could not be built");
  {
    // The first drawing on the screen makes the housing image.
    WPortState port;
    WSetup(s.window, &port);
    ODrawObj(s.heap, s.slide, int32(uintptr_t(s.slideValue)), 0, 4);
    WRestore(&port);
  }
  Rect housing;
  Bool32 onHousing = 0;
  if (!SlideHousingRect(s.heap, s.slide, &housing, &onHousing) || !onHousing)
    return st.SkipWithError("the scale does not lie on the housing");
  double ns = 0;
  int32 n = 0;
  for (auto _ : st) {
    const float64 old = *s.slideValue;
    *s.slideValue = (++n % 10) + 0.5;
    const double start = ThreadNs();
    QxInsnMarkBegin();
    PanelDisplayValues(s.heap, s.slideDco, &old, s.slideValue);
    QxInsnMarkEnd();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  ns /= double(st.iterations());
  if (gFullDrawNs > 0) st.counters["x_full_draw"] = ns / gFullDrawNs;
}

}  // namespace

BENCHMARK(BM_SlideDrawnWhole)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SlideMovedFromItsHousingImage)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PictureReplayed)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PictureFromItsCopy)->UseManualTime()->Unit(benchmark::kMicrosecond);
// 1,000 rounds each: the values shown grow in digits round by round, so both
// show the same values only over the same number of rounds.
BENCHMARK(BM_NewValuesSeparateNumerics)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewValuesArrayOfNumerics)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
