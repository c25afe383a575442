#include "shell/dlghelp.h"

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"

namespace {

// The offset of the entry after the one at `at`, or -1 when the entry runs
// past the resource.
int64_t NextEntry(const uChar* bytes, int64_t size, int64_t at) {
  if (at + 4 > size) return -1;
  const int64_t length = GetBE32(bytes + at);
  const int64_t next = at + 4 + ((length + 3) & ~int64_t(3));
  // The padding of the last entry may be missing; its text may not.
  return at + 4 + length <= size ? (next < size ? next : size) : -1;
}

}  // namespace

MgErr DlgReadHelpTexts(const uChar* bytes, int32 size, int32 itemCount, DlgHelpTake take, void* context) {
  if (!bytes || size < 4) {
    if (size) DBAssert(__FILE__, __LINE__, "item descriptions: no room for the count");
    return size ? kArgErr : kNoErr;
  }
  const int64_t count = GetBE32(bytes);
  // Every entry is checked before any text is taken, so that a bad
  // resource leaves the dialog with no descriptions rather than some.
  int64_t at = 4;
  for (int64_t i = 0; i < count; ++i) {
    at = NextEntry(bytes, size, at);
    if (at < 0) {
      DBAssert(__FILE__, __LINE__, "item descriptions run past their resource");
      return kArgErr;
    }
  }
  at = 4;
  for (int32 item = 1; item <= itemCount && item - 1 < count; ++item) {
    const int32 length = int32(GetBE32(bytes + at));
    if (length > 0 && take)
      if (MgErr err = take(context, item, bytes + at + 4, length)) return err;
    at = NextEntry(bytes, size, at);
  }
  return kNoErr;
}
