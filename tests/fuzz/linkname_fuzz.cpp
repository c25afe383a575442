// Linker names come from the link information of VI files: any bytes.  The
// input is a script of names to intern (as given and in flipped ASCII case)
// and of releases; after it every chain must be in strict case-insensitive
// order, every block in the chain of its own bucket, and the blocks in the
// chains exactly those interned and not released.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "engine/link/linker.h"
#include "fuzz_support.h"
#include "mgsource/counted_strings.h"

namespace {
// The heap can always grow here: no failure may be reported.
int32_t TrapOnReport(const char*, const char* text, int32_t, int32_t) {
  std::fprintf(stderr, "%s\n", text);
  __builtin_trap();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartManagers(TrapOnReport);
  if (!init || size > 1 << 14) return 0;
  gLinkNameHeap = OHNewHeap(kNameHeapDataSize, kNameHeapKind, kNameTableSize, kNameTableClass);
  if (!gLinkNameHeap) return 0;
  std::vector<int32> live;  // one entry per distinct interned block
  size_t at = 0;
  while (at < size) {
    const uint8_t op = data[at++];
    if (op < 0xE0) {
      // Intern a name of op bytes (below 0x40) or of 2 (op - 0x40) bytes.
      size_t n = op < 0x40 ? op : size_t(op - 0x40) * 2;
      if (n > size - at) n = size - at;
      if (n > 255) n = 255;
      Str255 name;
      name[0] = uChar(n);
      std::memcpy(name + 1, data + at, n);
      at += n;
      int32 block = 0;
      const int32 bucket = InternLinkName(name, &block);
      Check(block > 0 && bucket == LinkNameHash(name), "intern");
      Check(PStrCaseCmp(LinkNameOf(block), name) == 0, "interned name");
      // The same name in other ASCII case is the same block.
      for (size_t i = 1; i <= n; ++i)
        if ((name[i] | 0x20) >= 'a' && (name[i] | 0x20) <= 'z') name[i] ^= 0x20;
      int32 again = 0;
      InternLinkName(name, &again);
      Check(again == block, "case");
      if (std::find(live.begin(), live.end(), block) == live.end()) live.push_back(block);
    } else if (!live.empty()) {
      // Release a live block, or try one that is not a chained block.
      const size_t k = (at < size ? data[at++] : 0) % live.size();
      if (op & 1) {
        ReleaseLinkName(live[k] + 4 * ((op >> 1) & 3));
        if (((op >> 1) & 3) == 0) live.erase(live.begin() + long(k));
      } else {
        ReleaseLinkName(live[k]);
        live.erase(live.begin() + long(k));
      }
    }
  }
  // Walk every chain.
  std::set<int32> chained;
  const uInt32 ext = OHWord(gLinkNameHeap, kOHExtension);
  for (int32 b = 0; b < kLinkBucketCount; ++b) {
    std::vector<uChar> prev;
    for (int32 blk = int32(OHWord(gLinkNameHeap, ext + 4 * uInt32(b))); blk;
         blk = int32(OHWord(gLinkNameHeap, uInt32(blk) + kNameBlockNext))) {
      Check(chained.insert(blk).second, "a block twice");
      Check(OHBlockClass(gLinkNameHeap, blk) == kNameBlockClass, "class");
      ConstPStr name = LinkNameOf(blk);
      Check(name && LinkNameHash(name) == b, "bucket");
      if (!prev.empty()) Check(PStrCaseCmp(prev.data(), name) < 0, "order");
      prev.assign(name, name + name[0] + 1);
    }
  }
  Check(chained == std::set<int32>(live.begin(), live.end()), "live blocks");
  OHDisposeHeap(gLinkNameHeap);
  gLinkNameHeap = nullptr;
  return 0;
}
