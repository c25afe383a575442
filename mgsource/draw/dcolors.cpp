// Colours and the application palette.
#include "mgsource/draw/dcolors.h"

#include <cmath>
#include <cstring>
#include <new>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dib.h"

Bool32 gDManyColors = 1;

namespace {

constexpr int32 kMapEntries[kDMapCount] = {16, 256, kDPaletteCount4, kDPaletteCount8, 16, 256};
constexpr bool kMapIsWords[kDMapCount] = {true, true, false, false, false, false};
// Drawing indexes are bytes in the maps, so no table needs more entries.
constexpr uInt32 kMaxTableEntries = 256;

std::vector<DPaletteEntry>& Table() {
  static auto* t = new std::vector<DPaletteEntry>(DDefaultPaletteTable());
  return *t;
}
std::vector<uInt32>& ColourList() {
  static auto* v = new std::vector<uInt32>;
  return *v;
}
std::vector<uInt32>& Preferred() {
  static auto* v = new std::vector<uInt32>;
  return *v;
}
std::vector<uInt32>& Map(int32 map) {
  static auto* maps = new std::vector<uInt32>[kDMapCount];
  return maps[map];
}
PlatObj gPalette = 0;

int32 R(DColor c) { return int32((c >> 16) & 0xFF); }
int32 G(DColor c) { return int32((c >> 8) & 0xFF); }
int32 B(DColor c) { return int32(c & 0xFF); }
DColor Rgb(int32 r, int32 g, int32 b) { return DColor((r << 16) | (g << 8) | b); }
uInt32 SwapRB(uInt32 c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// The 6-level quantisation (0-25, 26-76, 77-127, 128-178, 179-229,
// 230-255), kept premultiplied for the red, green and blue parts of a cube
// index.
struct Quant6 {
  uChar red[256], green[256], blue[256];
  constexpr Quant6() : red{}, green{}, blue{} {
    for (int32 x = 0; x < 256; ++x) {
      blue[x] = uChar((x + 25) / 51);
      green[x] = uChar(6 * blue[x]);
      red[x] = uChar(36 * blue[x]);
    }
  }
};
constexpr Quant6 kQuant6;

// The grey step at depth 8, one rule per cube cell: with S = +-R +-G +-B
// (the cell's signs), a colour of the cell takes grey1 when S > high, grey2
// when S < low, else stays in the cell.  Each of the step's conditions
// (R - g) +- G +- B against a bound, and the diagonal cells' second test
// against g' = g - 51, is turned into that form; with components of 0-255
// and g of 25-229, R - g never leaves 16 bits.  Cells away from the grey
// diagonal have bounds no sum reaches.
struct GreyRules {
  struct Cell {
    int8 neg[3];   // 0 or -1: the sign of R, G and B in S
    uChar grey1;   // the cell itself when it has no rule; grey2 is grey1 - 1
    int16 high, low;
  } cell[kDCubeCount8];
  static_assert(sizeof(Cell) == 8, "one cell in 8 bytes");
  constexpr GreyRules() : cell{} {
    constexpr int32 kGrey[5] = {25, 76, 127, 178, 229};
    for (int32 i = 0; i < kDCubeCount8; ++i) {
      Cell& c = cell[i];
      c = Cell{{0, 0, 0}, uChar(i), 32767, -32768};
      const int32 k = i / 43, rest = i % 43;
      if (k >= 5) continue;
      const int32 g = kGrey[k];
      auto rule = [&](bool r, bool gr, bool b, int32 high) {
        c.neg[0] = int8(r ? 0 : -1), c.neg[1] = int8(gr ? 0 : -1), c.neg[2] = int8(b ? 0 : -1);
        c.high = int16(high);
        c.grey1 = uChar(kDCubeCount8 + k);
      };
      switch (rest) {
        case 0: rule(true, true, true, 3 * g - 38); break;      // (R - g) + G + B > 2g - 38
        case 1: rule(true, true, false, g - 38); break;         // (R - g) + G - B >= -37
        case 6: rule(true, false, true, g - 38); break;         // (R - g) - G + B >= -37
        case 7: rule(true, false, false, -g - 38); break;       // (R - g) - G - B > -2g - 38
        case 36: rule(false, true, true, g - 38); break;        // (R - g) - G - B < 38 - 2g
        case 37: rule(false, true, false, -g - 38); break;      // (R - g) - G + B < 38
        case 42: rule(false, false, true, -g - 38); break;      // (R - g) + G - B < 38
        default: break;
      }
      if (rest == 0 && k > 0) {  // (R - g') + G + B < 2g' + 38
        c.low = int16(3 * (g - 51) + 38);
      }
    }
  }
};
constexpr GreyRules kGreyRules;

// A map's entry, 0 with a report outside a loaded map.
uInt32 MapEntry(int32 map, int32 index) {
  const std::vector<uInt32>& m = Map(map);
  if (index >= 0 && size_t(index) < m.size()) return m[size_t(index)];
  DBAssert(__FILE__, __LINE__, m.empty() ? "colour map not loaded" : "colour map index out of range");
  return 0;
}

int32 ScreenDepth() { return WGetDepth(0); }

uInt32 gPaletteGeneration = 0;

// Pins a converted component to 0-255; NaN gives 0.
int32 Component(float64 v) {
  const float64 x = v * 255.0 + 0.5;
  if (!(x >= 0.0)) return 0;
  if (x >= 255.0) return 255;
  return int32(x);
}

inline float64 HlsValue(float64 m1, float64 m2, float64 x) {
  if (x > 360.0) x -= 360.0;
  if (x < 0.0) x += 360.0;
  if (x < 60.0) return m1 + (m2 - m1) * x / 60.0;
  if (x < 180.0) return m2;
  if (x < 240.0) return m1 + (m2 - m1) * (240.0 - x) / 60.0;
  return m1;
}

}  // namespace

int32 DPaletteSize(int32 depth) {
  if (depth < 4) return 2;
  if (depth == 4) return kDPaletteCount4;
  if (depth >= 8) return kDPaletteCount8;
  DBPrintf("Depth is %ld !!!", long(depth));
  DBAssert(__FILE__, __LINE__, "unsupported depth");
  return 0;
}

void DBuildLogPalette(int32 depth, DLogPalette* out) {
  if (!out) return;
  const int32 size = DPaletteSize(depth);
  const std::vector<DPaletteEntry>& t = Table();
  out->version = 0x300;
  out->count = uInt16(size);
  out->entries.assign(size_t(size), 0);
  for (int32 i = 0; i < size; ++i) {
    DColor c;
    if (depth >= 8) c = size_t(size - 1 - i) < t.size() ? t[size_t(size - 1 - i)].depth8 : 0;
    else if (depth == 4) c = size_t(i) < t.size() ? t[size_t(i)].depth4 : 0;
    else c = DIndexToColor(i, 1);
    out->entries[size_t(i)] = c;
  }
}

PlatObj DAppPalette() { return gPalette; }

void DDisposeAppPalette() {
  if (gPalette) PlatDeleteObject(gPalette);
  gPalette = 0;
}

MgErr DSetAppColors(UHandle colourList, UHandle paletteTable, UHandle preferred) {
  if (!colourList || !paletteTable || !*colourList || !*paletteTable) return kArgErr;
  const int32 depth = ScreenDepth();
  const int32 size = DPaletteSize(depth);
  const int32 bytes = AZGetHandleSize(paletteTable);
  if (bytes < 4) return kArgErr;
  uInt32 count;
  std::memcpy(&count, *paletteTable, 4);
  if (count < uInt32(size) || int64(bytes) < 4 + 8 * int64(count)) {
    DBPrintf("DSetAppColors: palette table of %lu entries in %ld bytes refused", static_cast<unsigned long>(count),
             long(bytes));
    return kArgErr;
  }
  try {
    const uInt32 kept = count < kMaxTableEntries ? count : kMaxTableEntries;
    std::vector<DPaletteEntry> table(kept);
    std::memcpy(table.data(), *paletteTable + 4, kept * sizeof(DPaletteEntry));
    auto words = [](UHandle h) {
      std::vector<uInt32> v;
      if (!h || !*h) return v;
      const int32 n = AZGetHandleSize(h) / 4;
      v.resize(size_t(n > 0 ? n : 0));
      if (n > 0) std::memcpy(v.data(), *h, size_t(n) * 4);
      return v;
    };
    std::vector<uInt32> list = words(colourList), pref = words(preferred);
    Table().swap(table);
    ++gPaletteGeneration;
    ColourList().swap(list);
    Preferred().swap(pref);
    DLogPalette log;
    DBuildLogPalette(depth, &log);
    std::vector<uInt32> host(log.entries.size());
    for (size_t i = 0; i < host.size(); ++i) host[i] = SwapRB(log.entries[i]);
    if (!host.empty()) {
      const PlatObj palette = PlatCreatePalette(host.data(), int32(host.size()));
      if (!palette) {
        DBAssert(__FILE__, __LINE__, "CreatePalette failed");
      } else {
        if (gPalette) PlatDeleteObject(gPalette);
        gPalette = palette;
      }
    }
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return kNoErr;
}

int32 DAllocAppColor(DColor) { return 0; }
// The same routine is exported under a second name that external code links by.
QX_EXTERN_C int32 GetRsrcIDFromName(DColor) __attribute__((alias("DAllocAppColor")));

uInt32 DColorToGDIColor(DColor colour) {
  if (colour > 0xFFFFFF) {
    DBAssert(__FILE__, __LINE__, "DColorToGDIColor: not a colour");
    colour &= 0xFFFFFF;
  }
  if (colour != kBlackColor && colour != kWhiteColor) {
    const int32 depth = ScreenDepth();
    colour = DIndexToColor(DColorToIndex(colour, depth, nullptr), depth);
  }
  return 0x02000000 | SwapRB(colour & 0xFFFFFF);
}

DColor DGDIColorToColor(uInt32 hostColour) { return SwapRB(hostColour & 0xFFFFFF); }

namespace {

// The 8-bit palette index: the 6-level cube cell, then the grey step.
inline int32 Index8(DColor colour) {
  const int32 r = R(colour), g = G(colour), b = B(colour);
  const int32 index = kQuant6.red[r] + kQuant6.green[g] + kQuant6.blue[b];
  // Colours near the grey diagonal take one of the extra greys (black and
  // white never do: their cells' rules cannot hold for them).  Selected by
  // masks rather than branches: which rule holds is data.
  const GreyRules::Cell& c = kGreyRules.cell[index];
  const int32 sum = ((r ^ c.neg[0]) - c.neg[0]) + ((g ^ c.neg[1]) - c.neg[1]) + ((b ^ c.neg[2]) - c.neg[2]);
  const int32 take1 = (c.high - sum) >> 31, take2 = (sum - c.low) >> 31;
  const int32 other = index ^ ((index ^ (c.grey1 - 1)) & take2);
  return other ^ ((other ^ c.grey1) & take1);
}

__attribute__((noinline)) int32 IndexAtDepth(DColor colour, int32 depth, DColor* matched) {
  int32 index;
  if (depth >= 8) {
    index = Index8(colour);
  } else if (depth == 4) {
    index = 25 * ((R(colour) + 32) / 64) + 5 * ((G(colour) + 32) / 64) + (B(colour) + 32) / 64;
  } else {
    index = kQuant6.red[R(colour)] + kQuant6.green[G(colour)] + kQuant6.blue[B(colour)];
  }
  if (matched) *matched = DIndexToColor(index, depth);
  return index;
}

}  // namespace

uInt32 DPaletteGeneration() { return gPaletteGeneration; }

int32 DColorToIndex(DColor colour, int32 depth, DColor* matched) {
  // The common call, at screen depth without the matched colour, stays
  // short; the others are made out of line.
  if (depth >= 8 && !matched) return Index8(colour);
  return IndexAtDepth(colour, depth, matched);
}

DColor DIndexToColor(int32 index, int32 depth) {
  if (depth < 4) return index != 0 ? kWhiteColor : kBlackColor;
  if (depth > 4 && depth < 8) {
    DBPrintf("Weird depth (%d) in DIndexToColor", int(depth));
    return 0;
  }
  const std::vector<DPaletteEntry>& t = Table();
  if (index < 0 || size_t(index) >= t.size()) {
    DBAssert(__FILE__, __LINE__, "palette index out of range");
    return 0;
  }
  return depth == 4 ? t[size_t(index)].depth4 : t[size_t(index)].depth8;
}

DColor MIndexToDColor(int32 mIndex, int32 depth) {
  if (depth < 4) return mIndex == 0 ? kWhiteColor : kBlackColor;
  return MapEntry(depth == 4 ? kDMapColors4 : kDMapColors8, mIndex);
}

int32 DColorToMIndex(DColor colour, int32 depth) {
  if (depth >= 4)
    return int32(MapEntry(depth == 4 ? kDMapToM4 : kDMapToM8, DColorToIndex(colour, depth, nullptr)));
  const int32 r = R(colour), g = G(colour), b = B(colour);
  return r / 4 + r / 8 + g / 2 + b / 8 < 127 ? 1 : 0;
}

int32 MIndexToIndex(int32 mIndex, int32 depth) {
  if (depth == 8 || depth == 4) {
    const int32 map = depth == 8 ? kDMapToD8 : kDMapToD4;
    if (!Map(map).empty()) return int32(MapEntry(map, mIndex));
    return DColorToIndex(MIndexToDColor(mIndex, depth), depth, nullptr);
  }
  return mIndex != 0 ? 1 : 0;
}

void DCalcHiliteColor(DColor colour, DColor* hilite, DColor* shadow) {
  DColor h = kTransparentColor, s = kTransparentColor;
  if (colour != kTransparentColor) {
    const int32 r = R(colour), g = G(colour), b = B(colour);
    h = Rgb((r + 256) / 2, (g + 256) / 2, (b + 256) / 2);
    s = Rgb(r / 2, g / 2, b / 2);
  }
  if (hilite) *hilite = h;
  if (shadow) *shadow = s;
}

void DGetHilites(DColor colour, DColor* hilite, DColor* shadow) {
  DColor h = kTransparentColor, s = kTransparentColor;
  if (colour != kTransparentColor) {
    const int32 depth = WGetDepth(WCurrentPort());
    if (depth == 4) {
      h = 0xE4E4E4;
      s = 0x666666;
    } else if (depth > 4) {
      DCalcHiliteColor(colour, &h, &s);
    } else {
      h = s = kBlackColor;
    }
  }
  if (hilite) *hilite = h;
  if (shadow) *shadow = s;
}

void rgb2hls(DColor colour, float32* hue, float32* lightness, float32* saturation) {
  const float64 r = R(colour) / 255.0, g = G(colour) / 255.0, b = B(colour) / 255.0;
  const float64 mx = std::fmax(r, std::fmax(g, b)), mn = std::fmin(r, std::fmin(g, b));
  const float64 l = (mx + mn) / 2.0;
  float64 h = -1.0, s = 0.0;
  if (mx != mn) {
    const float64 d = mx - mn;
    s = l <= 0.5 ? d / (mx + mn) : d / (2.0 - mx - mn);
    const float64 rc = (mx - r) / d, gc = (mx - g) / d, bc = (mx - b) / d;
    if (r == mx) h = bc - gc;
    else if (g == mx) h = 2.0 + rc - bc;
    else h = 4.0 + gc - rc;
    h *= 60.0;
    if (h < 0.0) h += 360.0;
  }
  if (hue) *hue = float32(h);
  if (lightness) *lightness = float32(l);
  if (saturation) *saturation = float32(s);
}

void hls2rgb(float32 hue, float32 lightness, float32 saturation, DColor* colour) {
  if (!colour) return;
  const float64 h = hue, l = lightness, s = saturation;
  const float64 m2 = l <= 0.5 ? l * (1.0 + s) : l + s - l * s;
  const float64 m1 = 2.0 * l - m2;
  float64 r, g, b;
  if (s == 0.0) {
    r = g = b = l;
  } else {
    r = HlsValue(m1, m2, h + 120.0);
    g = HlsValue(m1, m2, h);
    b = HlsValue(m1, m2, h - 120.0);
  }
  *colour = Rgb(Component(r), Component(g), Component(b));
}

int32 DColorMapEntries(int32 map) { return map >= 0 && map < kDMapCount ? kMapEntries[map] : 0; }

MgErr DSetColorMap(int32 map, UHandle data) {
  if (map < 0 || map >= kDMapCount) return kArgErr;
  if (!data) {
    Map(map).clear();
    return kNoErr;
  }
  const int32 entries = kMapEntries[map], each = kMapIsWords[map] ? 4 : 1;
  const int32 bytes = *data ? AZGetHandleSize(data) : 0;
  if (bytes < entries * each) {
    DBPrintf("colour map %ld of %ld bytes is shorter than its %ld entries", long(map), long(bytes), long(entries));
    return kArgErr;
  }
  try {
    std::vector<uInt32> v(static_cast<size_t>(entries));
    for (int32 i = 0; i < entries; ++i) {
      if (each == 4) std::memcpy(&v[size_t(i)], *data + 4 * i, 4);
      else v[size_t(i)] = uChar((*data)[i]);
    }
    Map(map).swap(v);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return kNoErr;
}

void DResetColors() {
  Table() = DDefaultPaletteTable();
  ++gPaletteGeneration;
  ColourList().clear();
  Preferred().clear();
  for (int32 m = 0; m < kDMapCount; ++m) Map(m).clear();
  if (gPalette) PlatDeleteObject(gPalette);
  gPalette = 0;
  gDManyColors = 1;
}

// The built-in tables.

const std::vector<DPaletteEntry>& DDefaultPaletteTable() {
  static const std::vector<DPaletteEntry> table = [] {
    std::vector<DPaletteEntry> t(kDPaletteCount8, DPaletteEntry{0, 0});
    constexpr int32 kLevels4[5] = {0, 64, 128, 192, 255};
    constexpr int32 kGreys4[4] = {32, 96, 160, 224};
    for (int32 i = 0; i < kDPaletteCount8; ++i) {
      DPaletteEntry& e = t[size_t(i)];
      if (i < kDCubeCount8) e.depth8 = Rgb(51 * (i / 36), 51 * (i / 6 % 6), 51 * (i % 6));
      else e.depth8 = Rgb(25 + 51 * (i - kDCubeCount8), 25 + 51 * (i - kDCubeCount8), 25 + 51 * (i - kDCubeCount8));
      if (i < 125) e.depth4 = Rgb(kLevels4[i / 25], kLevels4[i / 5 % 5], kLevels4[i % 5]);
      else if (i < kDPaletteCount4) e.depth4 = Rgb(kGreys4[i - 125], kGreys4[i - 125], kGreys4[i - 125]);
    }
    return t;
  }();
  return table;
}

std::vector<DColor> DStandardColors() {
  std::vector<DColor> v;
  for (uint32_t c : kPlatStandard16) v.push_back(SwapRB(c));
  return v;
}

std::vector<uInt32> DDefaultColorMap(int32 map) {
  const std::vector<DPaletteEntry>& t = DDefaultPaletteTable();
  auto dist = [](DColor a, DColor b) {
    const int32 dr = R(a) - R(b), dg = G(a) - G(b), db = B(a) - B(b);
    return dr * dr + dg * dg + db * db;
  };
  // The index of the nearest colour, the lowest on ties.
  auto nearest = [&](DColor c, const std::vector<DColor>& among) {
    int32 best = 0;
    for (int32 i = 1; i < int32(among.size()); ++i)
      if (dist(c, among[size_t(i)]) < dist(c, among[size_t(best)])) best = i;
    return uInt32(best);
  };
  std::vector<DColor> colours4, colours8, palette4, palette8;
  const std::vector<DColor> standard = DStandardColors();
  for (int32 m = 0; m < 16; ++m) colours4.push_back(standard[size_t(15 - m)]);
  for (int32 m = 0; m < 256; ++m)
    colours8.push_back(m < kDCubeCount8 ? t[size_t(kDCubeCount8 - 1 - m)].depth8
                                        : m < kDPaletteCount8 ? t[size_t(m)].depth8 : kBlackColor);
  for (int32 i = 0; i < kDPaletteCount4; ++i) palette4.push_back(t[size_t(i)].depth4);
  for (int32 i = 0; i < kDPaletteCount8; ++i) palette8.push_back(t[size_t(i)].depth8);
  std::vector<uInt32> out;
  switch (map) {
    case kDMapColors4: out.assign(colours4.begin(), colours4.end()); break;
    case kDMapColors8: out.assign(colours8.begin(), colours8.end()); break;
    case kDMapToM4: for (DColor c : palette4) out.push_back(nearest(c, colours4)); break;
    case kDMapToM8: for (DColor c : palette8) out.push_back(nearest(c, colours8)); break;
    case kDMapToD4: for (DColor c : colours4) out.push_back(nearest(c, palette4)); break;
    case kDMapToD8: for (DColor c : colours8) out.push_back(nearest(c, palette8)); break;
    default: break;
  }
  return out;
}
