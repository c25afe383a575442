// The text of a multi-label from its string list.
#include "panel/booltext.h"

#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/textparts.h"

namespace {

constexpr int32 kTextWord = 36;
constexpr uInt32 kShowsCodes = 0x1000000;

// The entry's bytes inside the list (an empty list gives the empty text):
// false for an index past the count or a list shorter than its count says.
bool ListEntry(UHandle list, int32 index, const uChar** bytes, int32* length) {
  if (!list || !AZIsHandle(list)) return false;
  const int32 size = AZGetHandleSize(list);
  if (size < 4) return false;
  *bytes = nullptr;
  *length = 0;
  const int32 count = int32(GetNative32(*list));
  if (count == 0) return true;
  if (index >= count) return false;
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

MgErr UpdateBoolText(ObjHeap heap, int32 textPart, UHandle list, int32 index) {
  if (!heap || OHBlockSize(heap, textPart) < kTextWord + 4) return kArgErr;
  TRecord r = reinterpret_cast<TRecord>(uintptr_t(GetNative32(*heap + textPart + kTextWord)));
  if (!r || !MemIsDSHandle(r)) return kArgErr;
  const uChar* bytes = nullptr;
  int32 length = 0;
  if (index < 0 || !ListEntry(list, index, &bytes, &length)) return kArgErr;
  if (!(GetNative32(*heap + textPart) & kShowsCodes)) return TReplaceText(r, bytes, length);
  std::vector<uChar> counted(size_t(length) + 4);
  PutNative32(counted.data(), uInt32(length));
  if (length) std::memcpy(counted.data() + 4, bytes, size_t(length));
  return SetTextShowingCodes(r, reinterpret_cast<const LStr*>(counted.data()));
}
