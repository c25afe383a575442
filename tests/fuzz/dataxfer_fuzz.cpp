// Listbox fields and dropped selections come from stored panels: a
// listbox's row height, visible rows and list-area rectangle, the rows asked
// for, and the words of a selection list are whatever the input holds.  A
// changed row count is never negative, never more than asked, and ends the
// list area at or above the coordinate limit (none for an area starting
// past it) unless it is the count asked for; an unchanged answer leaves the
// count alone.  Every item answers 0 or
// 1, a path only for an item standing for a VI, and a copied path only for
// such an item.  Nothing is reported and nothing is left behind.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "panel/dataxfer.h"
#include "panel_fuzz_support.h"

namespace {

void FuzzListbox(FuzzReader& in, ObjHeap heap) {
  const int32 box = vib::NewObject(heap, kClsListbox, ClassRecord(kClsListbox)->instanceSize);
  const int32 list = box ? vib::NewObject(heap, kClsLabel, 40, box, int16(in.Byte() & 1 ? 26 : in.Byte())) : 0;
  if (!list) return;
  in.Bytes(*heap + list + kObjBounds, sizeof(Rect));
  in.Bytes(*heap + box + kListboxRowHeightByte, 4);
  const int32 rows = int32(in.Word()), before = ObjInt16(heap, box, kListboxVisibleRowsByte);
  const int32 height = ObjInt16(heap, box, kListboxRowHeightByte);
  const int32 answer = ListboxSetRowCount(heap, box, rows);
  const int32 after = ObjInt16(heap, box, kListboxVisibleRowsByte);
  Rect r;
  std::memcpy(&r, *heap + list + kObjBounds, sizeof r);
  FUZZ_CHECK(answer == 0 || answer == 1);
  if (answer == 0) FUZZ_CHECK(after == before);
  if (answer == 1)
    FUZZ_CHECK(after != before && after >= 0 && after <= rows &&
               (after == rows || int64_t(r.top) + int64_t(after) * height <= (r.top > kCoordinateLimit ? r.top : kCoordinateLimit)));
}

void FuzzSelection(FuzzReader& in, ObjHeap heap, UHandle vi) {
  const int32 objects[] = {vib::NewObject(heap, kClsLabel, 40), vib::NewObject(heap, kClsTypeDefinition, 52),
                           vib::NewObject(heap, kClsConnectorPane, 32)};
  if (in.Byte() & 1) TypeDefSetLink(heap, objects[1], vi);
  if (in.Byte() & 1) FNotAPath(VIRec(vi)->path);
  std::vector<int32> words;
  for (int32 k = in.Byte() % 8; k > 0; --k) {
    const uint8_t b = in.Byte();
    words.push_back(b < 192 ? objects[b % 3] : int32(in.Word()));
  }
  DataXferRec rec{};
  DataXferInitObj(heap, vib::NewList(heap, words), 0, &rec);
  const Path out = FEmptyPath(nullptr);
  for (int32 i = -1; i <= rec.count; ++i) {
    const int32 hasVI = DataXferItemHasVI(rec, i, nullptr), isPath = DataXferItemIsPath(rec, i, nullptr);
    FUZZ_CHECK((hasVI == 0 || hasVI == 1) && (isPath == 0 || isPath == 1) && isPath <= hasVI);
    FUZZ_CHECK((DataXferItemPath(rec, i, out) == kNoErr) == (isPath == 1));
  }
  FDisposePath(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 1024) return 0;
  FuzzReader in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return 0;
  VIRec(vi)->path = FEmptyPath(nullptr);
  FAppendName(VIRec(vi)->path, reinterpret_cast<const uChar*>("\004a.vi"));
  FuzzArmed() = true;
  if (in.Byte() & 1) FuzzListbox(in, heap);
  else FuzzSelection(in, heap, vi);
  FuzzArmed() = false;
  FDisposePath(VIRec(vi)->path);
  VIRec(vi)->path = nullptr;
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
