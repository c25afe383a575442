// The colour resources come from the application file: any bytes as a
// palette table for DSetAppColors, and as each of the six colour-index
// maps, are refused or taken without reading past them; whatever was
// taken, the conversions answer colours and indexes in range, and a bad
// input leaves no report behind.  The first byte picks what the rest is.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/draw/dcolors.h"

namespace {

UHandle HandleOf(const uint8_t* data, size_t size) {
  UHandle h = AZNewHandle(int32(size));
  if (h && size) std::memcpy(*h, data, size);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  if (!started || size < 1 || size > 8192) return 0;
  const int32 live = FuzzLiveHandles();
  const uint8_t pick = data[0];
  UHandle h = HandleOf(data + 1, size - 1);
  if (!h) return 0;
  FuzzArmed() = true;
  if (pick % 7 == 6) {
    static const uint8_t kList[4] = {0, 0, 0, 0};
    UHandle list = HandleOf(kList, sizeof kList);
    const MgErr err = DSetAppColors(list, h, nullptr);
    FUZZ_CHECK(err == kNoErr || err == kArgErr);
    if (err == kNoErr) {
      uInt32 count;
      std::memcpy(&count, *h, 4);
      FUZZ_CHECK(count >= kDPaletteCount8 && size - 1 >= 4 + 8 * uint64_t(count));
    }
    AZDisposeHandle(list);
  } else {
    const int32 map = pick % 7;
    const MgErr err = DSetColorMap(map, h);
    FUZZ_CHECK((err == kNoErr) == (int64_t(size - 1) >= int64_t(DColorMapEntries(map)) * (map < 2 ? 4 : 1)));
  }
  AZDisposeHandle(h);
  // Conversions of colours and of palette indexes stay in range.
  for (size_t i = 1; i + 3 <= size && i < 64; i += 3) {
    const DColor c = (DColor(data[i]) << 16) | (DColor(data[i + 1]) << 8) | data[i + 2];
    for (int32 depth : {1, 4, 8, 24, 32}) {
      const int32 index = DColorToIndex(c, depth, nullptr);
      FUZZ_CHECK(index >= 0 && index < (depth == 4 ? 125 : depth < 8 ? kDCubeCount8 : kDPaletteCount8));
      if (depth < 4) FUZZ_CHECK(DColorToMIndex(c, depth) <= 1);
    }
    float32 hue, l, s;
    rgb2hls(c, &hue, &l, &s);
    FUZZ_CHECK((hue == -1.0f || (hue >= 0.0f && hue <= 360.0f)) && l >= 0.0f && l <= 1.0f && s >= 0.0f && s <= 1.0f);
    DColor back = 0x1000000;
    hls2rgb(hue, l, s, &back);
    FUZZ_CHECK(back <= 0xFFFFFF);
    float32 raw[3] = {0, 0, 0};
    std::memcpy(raw, data + i, sizeof raw <= size - i ? sizeof raw : size - i);
    hls2rgb(raw[0], raw[1], raw[2], &back);
    FUZZ_CHECK(back <= 0xFFFFFF);
  }
  FuzzArmed() = false;
  // Looking up an index in a loaded map reads only within it (reported when
  // outside, which is the caller's fault, not the file's).
  for (int32 m = 0; m < 300; m += 37) {
    const DColor c = MIndexToDColor(m, 8);
    if (m >= 256) FUZZ_CHECK(c == 0);
    MIndexToIndex(m, 4);
  }
  DResetColors();
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
