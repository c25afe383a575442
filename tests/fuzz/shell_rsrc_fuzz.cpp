// The version, file-type table and rectangle list resources of the
// run-time resource file through the start-up's readers.  Invariants: a version resource is read
// whole only when its short text lies within its bytes, the numbers read
// are the bytes' big-endian values whenever they fit, and a file-type table
// is accepted only when its entries lie within the handle, its count then
// in native order and its bytes otherwise untouched; a rectangle list gives
// exactly the rectangles its bytes hold, up to the table's size, and an
// error only when its count runs past them.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "shell/shellglobals.h"
#include "shell/shellinit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  static const bool started = FuzzStartManagers();
  FUZZ_CHECK(started);
  // Exactly the bytes given: a resource is read within its own size.
  std::vector<uChar> bytes(data, data + size);
  ShellVers v;
  const bool whole = ShellParseVers(bytes.data(), int32(size), &v);
  FUZZ_CHECK(whole == (size >= 7 && size_t(7 + bytes[6]) <= size));
  FUZZ_CHECK(v.version == (size >= 4 ? GetBE32(bytes.data()) : 0));
  if (whole) FUZZ_CHECK(std::memcmp(v.shortText, bytes.data() + 6, size_t(bytes[6]) + 1) == 0);
  else FUZZ_CHECK(v.shortText[0] == 0);

  UHandle h = AZNewHandle(int32(size));
  if (!h) return 0;
  if (size) std::memcpy(*h, data, size);
  const MgErr err = ShellCheckExtTable(h);
  const bool fits = size >= 4 && uint64_t(GetBE32(data)) * 8 + 4 <= size;
  FUZZ_CHECK((err == kNoErr) == fits);
  if (fits) FUZZ_CHECK(GetNative32(*h) == GetBE32(data));
  else FUZZ_CHECK(size == 0 || std::memcmp(*h, data, size) == 0);
  if (size > 4) FUZZ_CHECK(std::memcmp(*h + 4, data + 4, size - 4) == 0);
  AZDisposeHandle(h);

  Rect rects[kGlyphCount + 1];
  int32 stored = -1, read = -1;
  const MgErr rerr = ShellReadRectList(bytes.data(), int32(size), rects, kGlyphCount, &stored, &read);
  if (size < 2) {
    FUZZ_CHECK(rerr != kNoErr && read == 0);
  } else {
    const int32 count = GetBE16(data), fit = int32((size - 2) / 8);
    FUZZ_CHECK(stored == count);
    FUZZ_CHECK((rerr != kNoErr) == (count > fit));
    int32 want = count < fit ? count : fit;
    if (want > kGlyphCount) want = kGlyphCount;
    FUZZ_CHECK(read == want);
    for (int32 i = 0; i < read; ++i) {
      const uint8_t* r = data + 2 + 8 * i;
      FUZZ_CHECK(rects[i].top == int16(GetBE16(r)) && rects[i].left == int16(GetBE16(r + 2)) &&
                 rects[i].bottom == int16(GetBE16(r + 4)) && rects[i].right == int16(GetBE16(r + 6)));
    }
  }
  return 0;
}
