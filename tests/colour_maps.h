// The colour maps the shell loads at start-up, made from the built-in tables
// for tests, fuzz targets and benchmarks that draw without the shell.
#pragma once
#include <cstring>
#include <vector>

#include "mgsource/draw/dcolors.h"
#include "mgsource/memory.h"

// 0, or the first error a map gave.
inline MgErr LoadDefaultColourMaps() {
  MgErr first = kNoErr;
  for (int32 map = 0; map < kDMapCount; ++map) {
    const std::vector<uInt32> words = DDefaultColorMap(map);
    const bool colours = map == kDMapColors4 || map == kDMapColors8;
    UHandle h = AZNewHandle(int32(words.size() * (colours ? 4 : 1)));
    if (!h) return kMemFullErr;
    for (size_t i = 0; i < words.size(); ++i) {
      if (colours) std::memcpy(*h + 4 * i, &words[i], 4);
      else (*h)[i] = uInt8(words[i]);
    }
    const MgErr err = DSetColorMap(map, h);
    if (err && !first) first = err;
    AZDisposeHandle(h);
  }
  return first;
}
