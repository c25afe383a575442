// The text of a Boolean's text part from its string list.
#include "panel/booltext.h"

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr int32 kTextWord = 36;

// The entry's bytes inside the list; false when the list is shorter.
bool ListEntry(UHandle list, int32 index, const uChar** bytes, int32* length) {
  if (!list || !AZIsHandle(list)) return false;
  const int32 size = AZGetHandleSize(list);
  if (size < 4 || int32(GetNative32(*list)) <= index) return false;
  int32 at = 4;
  for (int32 i = 0;; ++i) {
    if (at >= size || at + 1 + (*list)[at] > size) return false;
    if (i == index) {
      *bytes = *list + at + 1;
      *length = (*list)[at];
      return true;
    }
    at += 1 + (*list)[at];
  }
}

}  // namespace

MgErr UpdateBoolTextState(ObjHeap heap, int32 textPart, UHandle list, int32 index) {
  if (!heap || OHBlockSize(heap, textPart) < kTextWord + 4) return kArgErr;
  TRecord r = reinterpret_cast<TRecord>(uintptr_t(GetNative32(*heap + textPart + kTextWord)));
  if (!r || !MemIsDSHandle(r)) return kArgErr;
  const uChar* bytes = nullptr;
  int32 length = 0;
  if (index < 0 || !ListEntry(list, index, &bytes, &length)) return kArgErr;
  return TReplaceText(r, bytes, length);
}

MgErr UpdateBoolText(ObjHeap heap, int32 textPart, UHandle list) { return UpdateBoolTextState(heap, textPart, list, 0); }
