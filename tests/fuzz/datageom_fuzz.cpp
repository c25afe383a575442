// Composite objects whose stored words are whatever the file held: element
// lists claiming any count, element and inner-object words naming anything,
// grid counts and shown positions of any size, and slide needles and fills
// of any rectangle.  Fitting answers 0 or 1 and leaves the frame alone on 0;
// a scroll answers the cells it added to the shown position; a path's element
// is none or a used block; Tab reaches only listed elements; nothing is
// asserted on and no handle is left behind.
#include <cstdint>
#include <vector>

#include "controls/scale.h"
#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "panel/datageom.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

std::vector<int32> gReached;
int32 Answer(ObjHeap, int32 o) {
  gReached.push_back(o);
  return 0;
}

int32 NewObj(ObjHeap heap, int32 cls, int32 owner = 0, int16 id = 0, int16 order = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, order);
}
Rect AnyRect(Input& in) {
  return Rect{int16(in.Word()), int16(in.Word()), int16(in.Word()), int16(in.Word())};
}
void SetRect(ObjHeap heap, int32 o, Rect r) { std::memcpy(*heap + o + kObjBounds, &r, sizeof r); }
Rect RectOf(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}

void FuzzContainers(Input& in, ObjHeap heap, int32 root) {
  std::vector<int32> objects{root};
  int32 made[3] = {};
  for (int32 k = 0; k < 3; ++k) {
    const int32 o = made[k] = NewObj(heap, k == 0 ? kClsCluster : k == 1 ? kClsArray : kClsRefNum);
    if (!o) return;
    objects.push_back(o);
    for (int16 id : {int16(kPartFrame), int16(kPartFrameInner), int16(kPartArrayIndex), int16(kPartArrayIndex)})
      if (const int32 p = NewObj(heap, kClsNumeric, o, id, int16(in.Byte() % 3))) SetRect(heap, p, AnyRect(in)), objects.push_back(p);
  }
  auto pick = [&]() { const uInt8 b = in.Byte(); return b < 200 ? objects[b % objects.size()] : int32(in.Word()); };
  const int32 list = vib::NewList(heap, {pick(), pick(), pick()});
  if (!list) return;
  if (in.Byte() > 200) OHSetWord(heap, uInt32(list), in.Word());
  const int32 cluster = made[0], array = made[1], refnum = made[2];
  OHSetWord(heap, uInt32(cluster + 4 * kContainerElementsWord), in.Byte() & 1 ? uInt32(list) : in.Word());
  OHSetWord(heap, uInt32(array + 4 * kContainerElementsWord), uInt32(pick()));
  OHSetWord(heap, uInt32(refnum + 4 * kContainerElementsWord), uInt32(pick()));
  for (int32 at : {kArrayGridColsAt, kArrayFirstColAt}) OHSetWord(heap, uInt32(array + at), in.Word());
  OHSetWord(heap, uInt32(array), in.Word());
  for (int32 o : {cluster, array, refnum}) {
    const int32 frame = FindPart(heap, o, kPartFrame, 0);
    const Rect before = frame ? RectOf(heap, frame) : Rect{};
    const int32 r = o == cluster ? ClusterFitFrame(heap, o, int16(in.Word())) : o == array ? ArrayFitFrame(heap, o) : RefNumFitFrame(heap, o);
    FUZZ_CHECK(r == 0 || r == 1);
    if (r == 0 && frame) FUZZ_CHECK(std::memcmp(&before, *heap + frame + kObjBounds, sizeof before) == 0);
  }
  ArrayFitIndexText(heap, array, pick());
  TransactionState request{int32(in.Byte()), int32(in.Word()), 0, nullptr};
  DataXferRec xfer{};
  DataXferInitObj(heap, vib::NewList(heap, {pick(), array}), 0, &xfer);
  const int16 row = ObjInt16(heap, array, kArrayFirstRowAt), col = ObjInt16(heap, array, kArrayFirstColAt);
  const Point cells = WordToPoint(ArrayDragScroll(heap, array, &request, in.Byte() & 1 ? &xfer : nullptr));
  FUZZ_CHECK(cells.v == 0 || int16(row + cells.v) == ObjInt16(heap, array, kArrayFirstRowAt) || row + cells.v > 32767 || row + cells.v < -32768);
  FUZZ_CHECK(cells.h == 0 || int16(col + cells.h) == ObjInt16(heap, array, kArrayFirstColAt) || col + cells.h > 32767 || col + cells.h < -32768);
  TransactionFrame path[4] = {{pick(), kCatDDO, 2, 0}, {pick(), kCatDDO, 2, 0}, {}, {}};
  const int32 element = PathFindElement(heap, path, pick());
  FUZZ_CHECK(element == 0 || OHIsUsedBlock(heap, element));
  // Tab over the cluster's stored list: only its live entries answer.
  auto* f = reinterpret_cast<TransactionFrame*>(TRStackBlock());
  if (!f) return;
  f[0] = TransactionFrame{cluster, kCatDDO, 3, 0};
  ActionParams p{};
  p.keyCode = kKeyTab, p.modifiers = in.Byte() & 2;
  gReached.clear();
  ElementTabNext(heap, 0, f, &p);
  for (int32 o : gReached) FUZZ_CHECK(OHListFind(heap, int32(OHWord(heap, uInt32(cluster + 4 * kContainerElementsWord))), o) >= 0);
}

// A slide of a double with its scale, needle and fill at any rectangles.
void FuzzSlide(Input& in, ObjHeap heap) {
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(tdb::DBL().Bytes()));
  const int32 slide = NewObj(heap, kClsSlide), scale = slide ? NewObj(heap, kClsScale, slide, kControlPartScale) : 0;
  if (!t || !scale || AllocObjDataSpace(heap, scale) != kNoErr) return;
  OHSetWord(heap, uInt32(slide + 4 * kPWDDOTypeId), t);
  OHSetWord(heap, uInt32(slide), in.Word());
  if (ScaleRec* r = ScaleRecOf(heap, scale)) {
    r->min = float64(int32(in.Word())), r->max = float64(int32(in.Word()));
    r->pixelStart = int16(in.Word()), r->pixelEnd = int16(in.Word());
  }
  for (int16 id : {kPartNeedle, kPartFill, kPartFill, kPartHousing})
    if (const int32 p = NewObj(heap, kClsCosmetic, slide, id)) SetRect(heap, p, AnyRect(in)), OHSetWord(heap, uInt32(p), in.Word() & ~kObjFlagHidden);
  const float64 a = float64(int32(in.Word())), b = float64(int32(in.Word()));
  const int32 r = ObjUpdateDataBounds(heap, slide, in.Byte() & 1 ? &a : nullptr, &b, in.Byte() % 8);
  FUZZ_CHECK(r == 0 || r == kBoundsInvalidated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    ControlsInstallScaleHooks();
    TRInit();
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return 0;
  const int32 root = FuzzPanelRoot(heap);
  SetBadClassHook(&Answer);  // the elements' do-it answers without one of their own
  FuzzArmed() = true;
  if (in.Byte() & 1) FuzzContainers(in, heap, root);
  else FuzzSlide(in, heap);
  FuzzArmed() = false;
  ClearBadClassHook();
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
