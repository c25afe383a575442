// Panel objects come from VI files: their owner, part and element words,
// data offsets, part ids and shown indexes are whatever the file held.  The
// input builds such objects over a real data space; every data message and
// locator must answer inside the handles it names, or none.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "panel_fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "rtlib/panellocators.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using Input = FuzzReader;

const int16 kClasses[] = {kClsFPDataController, kClsDataDisplayObject, kClsBoolean, kClsNumeric, kClsString,
                          kClsArray, kClsCluster, kClsRefNum, kClsRing, kClsSlide, kClsKnob, kClsGraphChart,
                          kClsColorRamp, kClsTag, kClsOleVariant, kClsGrouperObject, kClsLabel, kClsScale};
const int16 kPartIds[] = {0, 9, 11, 12, 14, 17, 22, 23, 31, 8001, 8010, 8011, 8014, 5};

// An answer that names a handle lies inside it (the tag's inline field and
// the 16-bit cells are absolute addresses and name none).
void CheckAnswer(int32 r, UHandle h) {
  if (!r || !h) return;
  if (!*h || r < 0 || r >= DSGetHandleSize(h)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = FuzzStartPanelManagers();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::String(), tdb::I32(), tdb::DBL(), tdb::Array(tdb::I32(), {-1, -1})}, &vi);
  if (!heap) return 0;
  const tdb::TD types[] = {tdb::I32(), tdb::Boolean(), tdb::Array(tdb::I16()), tdb::Array(tdb::DBL(), {-1, -1}),
                           tdb::Cluster({tdb::I32(), tdb::DBL()}), tdb::String(), tdb::DBL()};
  std::vector<TypeID> ids;
  for (const tdb::TD& t : types) {
    std::vector<uChar> b = t.Bytes();
    ids.push_back(NewTypeIDForTD(heap, tdb::AsTD(b)));
  }

  // Objects with words from the input.
  std::vector<int32> objs;
  int32 count = 2 + in.Byte() % 10;
  for (int32 i = 0; i < count; ++i) {
    int16 cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
    int16 partId = kPartIds[in.Byte() % (sizeof kPartIds / sizeof kPartIds[0])];
    int32 o = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, 0, partId, int16(in.Byte() % 4));
    if (o) objs.push_back(o);
  }
  auto pick = [&](uint8_t b) -> int32 {
    if (b < 16) return 0;
    if (b < 32) return int32(b) * 4 + 57;  // not an object
    return objs[b % objs.size()];
  };
  for (int32 o : objs) {
    int32 words = OHBlockSize(heap, o) / 4;
    for (int32 w = 1; w < words; ++w) {
      uint8_t how = in.Byte();
      int32 v;
      if (w == kPWOwner || w == kPWDCODisplay || w == kPWArrayElement) v = pick(how);
      else if (w == kPWDDOTypeId || w == kPWDCOTypeId) v = how < 200 ? int32(ids[how % ids.size()]) : int32(how);
      else if (how < 64) v = vib::NewList(heap, {pick(in.Byte()), pick(in.Byte()), pick(in.Byte())});
      else if (how < 128) v = int32(in.Word());
      else v = 528 + 4 * (how - 128);
      if (w == 2) continue;  // part id and order stay
      OHSetWord(heap, uInt32(o + 4 * w), uInt32(v));
    }
  }
  for (int32 o : objs) {
    for (int32 k = 0; k < 3; ++k) {
      int32 part = pick(in.Byte());
      int32 mode = in.Byte() % 8;
      UHandle h = nullptr;
      int32 r = OGetDataPtr(heap, o, part, mode, &h);
      CheckAnswer(r, h);
      OGetDataPtr(heap, o, part, mode, nullptr);
      OGetType(heap, o);
      UHandle array = nullptr;
      UPtr p = ArrayDisplayEltPtr(heap, o, &array, mode == 0);
      if (p && (!array || p < *array || p >= *array + DSGetHandleSize(array))) __builtin_trap();
      if (array) DSDisposeHandle(array);
      ClusterEltOffset(heap, o, part, 1000, nullptr);
    }
  }
  FuzzDisposePanel(heap, vi);
  return 0;
}
