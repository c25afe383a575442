#include "shell/appcolors.h"

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"

namespace {

// A copy of the resource with each whole 32-bit word in host order (the
// file's resource itself stays as stored); null when it can't be had.
UHandle LoadCopy(RsrcFileRef file, ResType type, int32 id, bool swapWords, MgErr* err) {
  UHandle res = nullptr;
  *err = RGet(file, type, id, &res);
  if (*err) return nullptr;
  UHandle copy = res;
  *err = AZHandToHand(&copy);
  RRelease(res);
  if (*err) return nullptr;
  if (swapWords) RevBLHandle(copy);
  return copy;
}

void Dispose(UHandle h) {
  if (h) AZDisposeHandle(h);
}

}  // namespace

void InitAppColors(RsrcFileRef file) {
  MgErr err;
  UHandle list = LoadCopy(file, FourCC("CLR#"), kAppColorListId, true, &err);
  DBMgErr(__FILE__, __LINE__, err, "CLR# 1003");
  UHandle palette = LoadCopy(file, FourCC("PALT"), kAppPaletteId, true, &err);
  DBMgErr(__FILE__, __LINE__, err, "PALT 1001");
  UHandle preferred = LoadCopy(file, FourCC("PALT"), kPreferredColorsId, true, &err);
  if (err) DBPrintf("can't get preferred colors %ld", long(err));
  DBMgErr(__FILE__, __LINE__, DSetAppColors(list, palette, preferred), "DSetAppColors");
  Dispose(list);
  Dispose(palette);
  Dispose(preferred);

  const bool few = !gDManyColors;
  const struct {
    ResType type;
    int32 id;
    int32 map;
  } maps[] = {
      {FourCC("4BCT"), kColorTable4Id, kDMapColors4},
      {FourCC("8BCT"), kColorTable8Id, kDMapColors8},
      {FourCC("4BIT"), kIndexToM4Id, kDMapToM4},
      {FourCC("8BIT"), few ? kIndexToM8FewId : kIndexToM8Id, kDMapToM8},
      {FourCC("4BIT"), kMToIndex4Id, kDMapToD4},
      {FourCC("8BIT"), few ? kMToIndex8FewId : kMToIndex8Id, kDMapToD8},
  };
  for (const auto& m : maps) {
    const bool words = m.map == kDMapColors4 || m.map == kDMapColors8;
    UHandle h = LoadCopy(file, m.type, m.id, words, &err);
    if (!err) err = DSetColorMap(m.map, h);
    DBMgErr(__FILE__, __LINE__, err, "colour map");
    Dispose(h);
  }
}
