// File-kind resources ('FDFL') through the file dialog's reader and its
// kind ring.  Invariants: a resource is accepted only when its group count,
// padded names and type counts account for every byte; what is accepted
// reads back as the bytes say; a refused one gives no groups, so the ring
// holds only "View All" and "Custom Pattern"; the ring keeps a file exactly
// when its group lists the file's type, and everything for "View All".
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "shell/filedlg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  static const bool started = FuzzStartManagers(&FuzzAbortWhenArmed);
  FUZZ_CHECK(started);
  FuzzArmed() = true;
  const std::vector<uChar> bytes(data, data + size);
  FDKindRing ring;
  const bool ok = FDParseKinds(bytes.data(), int32(size), &ring.groups);
  // The reference walk.
  bool fits = size >= 4;
  size_t at = 4;
  const uint32_t count = fits ? GetBE32(data) : 0;
  for (uint32_t g = 0; fits && g < count; ++g) {
    if (at >= size) { fits = false; break; }
    const size_t padded = (size_t(data[at]) + 4) / 4 * 4;
    if (at + padded + 4 > size) { fits = false; break; }
    at += padded;
    const uint64_t types = GetBE32(data + at);
    at += 4;
    if (types * 4 > size - at) { fits = false; break; }
    at += size_t(types) * 4;
  }
  fits = fits && at == size;
  FUZZ_CHECK(ok == fits);
  FUZZ_CHECK(ok ? ring.groups.size() == count : ring.groups.empty());
  FUZZ_CHECK(ring.Count() == int32(ring.groups.size()) + 2 && ring.IsCustom(ring.Count() - 1));
  static const uChar kName[] = "\x04" "a.vi";
  for (int32 i = 0; i < ring.Count() - 1; ++i) {
    const uint32_t type = i > 0 && !ring.groups[size_t(i - 1)].types.empty() ? ring.groups[size_t(i - 1)].types[0] : 0;
    FUZZ_CHECK(ring.Keeps(i, type, kName, nullptr) == (i == 0 || !ring.groups[size_t(i - 1)].types.empty()));
  }
  FuzzArmed() = false;
  return 0;
}
