// Compiled code from a VI file: SetCodeEntryAndPatch on arbitrary blocks
// (never run).  The block lies between guard bytes that must not change;
// the VI is marked bad exactly when some pair, the list's place or the entry
// is out of the block; the words of the accepted pairs (up to a place that
// stops patching) hold what each pair asks for, and no other byte changes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/exec/codeentry.h"
#include "engine/exec/rttable.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"

namespace {

constexpr int32 kGuard = 64;
constexpr uChar kFill = 0xC7;

uInt32 Word(const std::vector<uint8_t>& b, uInt32 at) { return GetNative32(&b[at]); }

// What patching should leave: the block, and whether it is refused.
bool Model(std::vector<uint8_t>& b, uintptr_t base) {
  const uInt32 size = uInt32(b.size());
  const uInt32 entry = Word(b, 0);
  const uInt32 list = Word(b, 8);
  if (entry >= size) return true;
  if (list == 0) return false;
  if (list >= size) return true;
  bool bad = false;
  for (uInt32 pos = list;; pos += 8) {
    if (uint64_t(pos) + 8 > size) return true;
    uInt32 offset = Word(b, pos);
    int32 index = int32(Word(b, pos + 4));
    if (offset == 0) break;
    if (uint64_t(offset) + 4 > size) {
      bad = true;
      continue;
    }
    uInt32 value;
    if (!CodePatchValue(b.data(), base, offset, index, &value)) {
      bad = true;
      continue;
    }
    // A later pair reads the list after earlier writes: keep them in order.
    PutNative32(&b[offset], value);
  }
  return bad;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  if (!started || size < 24 || size > 4096) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  VICode code = nullptr;
  FUZZ_CHECK(NewVICodeGuarded(bytes.data(), int32(size), kGuard, kFill, &code) == kNoErr);
  UHandle vi = DSNewHClr(kVIHeaderSize);
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize));
  FUZZ_CHECK(vi && ds);
  (*ds)->owner = vi;
  UPtr start = (*code)->start;

  std::vector<uint8_t> expected = bytes;
  const bool refused = Model(expected, reinterpret_cast<uintptr_t>(start));
  SetCodeEntryAndPatch(reinterpret_cast<UHandle>(code), ds);

  auto* v = reinterpret_cast<VIRecord*>(*vi);
  FUZZ_CHECK(((v->flags & kVIFlagsBadCode) == kVIFlagsBadCode) == refused);
  FUZZ_CHECK(((*code)->refused != 0) == refused);
  const uInt32 entry = GetNative32(&bytes[0]);
  FUZZ_CHECK(DSProc(*ds, 22) == (entry < size ? start + entry : nullptr));
  for (int32 g = 1; g <= kGuard; ++g) {
    FUZZ_CHECK(start[-g] == kFill);
    FUZZ_CHECK(start[int32(size) + g - 1] == kFill);
  }
  // Exactly the words of the accepted pairs changed, refused block or not.
  FUZZ_CHECK(std::memcmp(start, expected.data(), size) == 0);

  // The missing-routine scan of the same list stays inside the block.
  const uInt32 list = GetNative32(&bytes[8]);
  if (list != 0 && list < size)
    (void)UsesMissingRTEntries(reinterpret_cast<const CodePatchList*>(start + list), int32(size - list));

  DisposeVICode(code);
  DSDisposeHandle(reinterpret_cast<UHandle>(ds));
  DSDisposeHandle(vi);
  return 0;
}
