// Palettes come from files: any bytes as a PLM2 with its CPST, or as an old
// PALM, are read by the checked readers; what reads is written and read
// back the same, and members put in and freed keep the two lists in step.
// The first byte picks the reader; the next two split the rest into the two
// resources, each in a block of exactly its size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/vi/archive_internal.h"
#include "fuzz_support.h"

namespace {

bool Same(const archive::Palette& a, const archive::Palette& b) {
  if (a.columns != b.columns || a.entries.size() != b.entries.size() || a.names != b.names) return false;
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const archive::PaletteEntry &x = a.entries[i], &y = b.entries[i];
    if (x.id != y.id || x.flags != y.flags || x.kind != y.kind || x.marker != y.marker || x.text != y.text)
      return false;
  }
  return true;
}

void CheckRoundTrip(const archive::Palette& p) {
  const std::vector<uChar> e = archive::PaletteBytes(p), n = archive::PaletteNameBytes(p);
  archive::Palette q;
  FUZZ_CHECK(archive::ReadPalette(e.data(), int32(e.size()), n.data(), int32(n.size()), &q) == kNoErr);
  FUZZ_CHECK(Same(p, q));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = FuzzStartManagers();
  if (!ready || size < 3 || size > 1 << 16) return 0;
  const bool old = data[0] & 1;
  const size_t split = std::min<size_t>(size - 3, (size_t(data[1]) << 8) | data[2]);
  const size_t n1 = split, n2 = size - 3 - split;
  std::unique_ptr<uChar[]> a(new uChar[n1 ? n1 : 1]), b(new uChar[n2 ? n2 : 1]);
  if (n1) std::memcpy(a.get(), data + 3, n1);
  if (n2) std::memcpy(b.get(), data + 3 + n1, n2);
  archive::Palette p;
  const MgErr err = old ? archive::ReadOldPalette(a.get(), int32(n1), &p)
                        : archive::ReadPalette(a.get(), int32(n1), b.get(), int32(n2), &p);
  FUZZ_CHECK(err == kNoErr || err == kRsrcFileNotFoundErr);
  if (err) return 0;
  FUZZ_CHECK(p.names.size() == p.entries.size());
  for (const archive::PaletteEntry& e : p.entries) FUZZ_CHECK(e.id >= 0 && e.id <= 0xFFFF && e.text.size() <= 255);
  if (old)
    for (const archive::PaletteEntry& e : p.entries) FUZZ_CHECK(e.marker == -1);
  CheckRoundTrip(p);
  // Members in and out: the lists stay in step and the columns hold them.
  const int32 id = 1 + int32(data[0] >> 1);
  const uInt32 type = (data[0] & 2) ? archfmt::kTypeVI : archfmt::kTypeControl;
  if (archive::PalettePut(&p, id, type, "fuzz member")) {
    FUZZ_CHECK(p.names.size() == p.entries.size());
    FUZZ_CHECK(int64_t(p.columns) * p.columns >= int64_t(p.entries.size()));
    CheckRoundTrip(p);
    FUZZ_CHECK(archive::PaletteFree(&p, "FUZZ MEMBER") >= 1);
    FUZZ_CHECK(p.names.size() == p.entries.size());
    FUZZ_CHECK(p.entries.empty() || p.entries.back().id != 0);
    for (size_t i = 0; i < p.entries.size(); ++i)
      FUZZ_CHECK(!(p.entries[i].marker == -1 && p.names[i] == "fuzz member"));
    CheckRoundTrip(p);
  }
  return 0;
}
