#include "panel/dlghelpparts.h"

#include <cstring>

#include "engine/objswap.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/memory.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/textparts.h"

namespace {

constexpr int32 kHelpPartA = 82, kHelpPartB = 16, kBoolTextPart = 22;
constexpr uInt32 kHiddenFlag = 0x8;
constexpr int32 kSizeChanged = 0x80;

bool Hidden(ObjHeap heap, int32 object) { return OHWord(heap, uInt32(object)) & kHiddenFlag; }

// The text all entries of a Boolean's text list share (count, then Pascal
// strings), null when they differ, there are none, or the list does not
// hold together.
const uChar* CommonText(UHandle list) {
  if (!list || AZCheckHandle(list) != kNoErr) return nullptr;
  const int32 size = AZGetHandleSize(list);
  if (size < 4) return nullptr;
  const int64_t count = GetNative32(*list);
  const uChar* first = nullptr;
  int64_t at = 4;
  for (int64_t i = 0; i < count; ++i) {
    if (at >= size || at + 1 + (*list)[at] > size) return nullptr;
    const uChar* s = *list + at;
    if (!first) first = s;
    else if (s[0] != first[0] || std::memcmp(s + 1, first + 1, s[0]) != 0) return nullptr;
    at += 1 + s[0];
  }
  return first;
}

}  // namespace

void DlgHelpPartsTransparent(ObjHeap heap, int32 object) {
  int32 part = FindPart(heap, object, kHelpPartA, 0);
  if (!part) part = FindPart(heap, object, kHelpPartB, 0);
  if (!part || OHBlockSize(heap, part) < kObjCosmBack + 4) return;
  OHSetWord(heap, uInt32(part + kObjCosmFore), kTransparentColor);
  OHSetWord(heap, uInt32(part + kObjCosmBack), kTransparentColor);
  if (!Hidden(heap, part) || OHBlockClass(heap, object) != kClsBoolean) return;
  const int32 texts = FindPart(heap, object, kBoolTextPart, 0);
  if (!texts || Hidden(heap, texts) || OHBlockSize(heap, texts) < kObjStringList + 4) return;
  const uChar* common =
      CommonText(reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(texts + kObjStringList)))));
  if (!common) return;
  uChar text[256];
  std::memcpy(text, common, size_t(common[0]) + 1);  // the list may move while the text changes
  if (SetPartText(heap, part, text + 1, text[0], 0, 0) & kSizeChanged)
    OSize(heap, object, nullptr, ObjInt16(heap, part, kObjPartId));
}
