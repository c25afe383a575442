// Lists and strings read from files: block lists, string lists, long strings
// with their line ends, and wildcard patterns.  Every walk must stay inside
// its handle whatever the counts and lengths say.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/counted_strings.h"

namespace {
UHandle Copy(const uint8_t* data, size_t size, bool appZone) {
  UHandle h = appZone ? AZNewHandle(int32(size)) : DSNewHandle(int32(size));
  if (h && size) std::memcpy(*h, data, size);
  return h;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  (void)started;
  if (size < 1 || size > 1 << 16) return 0;
  const uint8_t selector = data[0];
  ++data;
  --size;

  // A block list from a file, converted and indexed.
  if (UHandle h = Copy(data, size, true)) {
    if (LStrListSwap(h) == kNoErr) {
      for (int32 i = -1; i < 4; ++i) {
        if (LStrPtr p = LStrListIndex(h, i)) {
          if (p->cnt > 0) (void)BlockCmp(p->str, p->str, p->cnt);
        }
      }
    }
    AZDisposeHandle(h);
  }

  // The same bytes as a list of Pascal strings.
  if (UHandle h = Copy(data, size, true)) {
    CPStrHandle list = reinterpret_cast<CPStrHandle>(h);
    (void)CPStrSize(list);
    int32 i = selector % 7 - 2;
    if (PStr s = CPStrIndex(list, i)) (void)PStrLen(s);
    Str255 text = {3, 'a', 'b', 'c'};
    if (CPStrInsert(list, text, i) == kNoErr) {
      if (CPStrSize(list) != AZGetHandleSize(h)) __builtin_trap();
      CPStrReplace(list, CPStrIndex(list, i + 1), i);
      CPStrRemove(list, i);
      if (CPStrSize(list) != AZGetHandleSize(h)) __builtin_trap();
    }
    AZDisposeHandle(h);
  }

  // A long string: its line ends converted both ways.
  if (UHandle h = Copy(data, size, false)) {
    LStrHandle l = reinterpret_cast<LStrHandle>(h);
    int32 offset = selector & 7;
    if (StrHConvertToNative(l, offset, false) == kNoErr) StrHConvertFromNative(l, offset, false);
    DSDisposeHandle(h);
  }

  // A pattern and a name, split where the selector says.
  size_t split = size ? selector % (size + 1) : 0;
  (void)StrMatchPattern(data, data + split, int32(split), int32(size - split), nullptr, 0,
                        (selector & 1) ? '\\' : 0);
  return 0;
}
