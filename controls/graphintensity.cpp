// Intensity graphs and charts: the colour table, the sample-to-pixel tables,
// the 8-bit index image built from 2-D data, its picture, the Z autoscale
// and the drawing of an intensity chart's newest columns.
//
// Data arrays come from diagrams and chart histories, the intensity record
// from the panel's data space: every dimension, index range and handle size
// is checked before an element or entry is read, and every index byte is a
// colour-table entry (0 .. 255).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "controls/graphintensity.h"
#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/methsupport.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/paneldisplay.h"
#include "rtlib/panellocators.h"

namespace {

constexpr const char* kModule = "plotsup2";
constexpr int32 kResultFailed = 16;
constexpr int32 kPixelMapOpcode = 29;
constexpr DColor kSweepLineColor = 0xFF0000;

bool Live(ObjHeap heap, int32 o, int32 bytes) {
  return heap && *heap && o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= bytes;
}

int32 ColourScaleOf(ObjHeap heap, int32 graph) {
  const int32 z = FindPart(heap, graph, kGPartZScale, 0);
  return z > 0 && ScaleRecOf(heap, z) ? z : 0;
}

// A handle's size when it is a live data-space handle, else -1.
int32 HandleBytes(UHandle h) {
  if (!h || !*h || !MemIsDSHandle(h)) return -1;
  return DSGetHandleSize(h);
}

// The marker entries of a colour scale, read within their handle.
struct Markers {
  const uChar* at = nullptr;
  int32 count = 0;
  float64 Value(int32 i) const {
    float64 v;
    std::memcpy(&v, at + kScaleMarkerEntry * i, sizeof v);
    return v;
  }
  uInt32 Colour(int32 i) const { return GetNative32(at + kScaleMarkerEntry * i + 8); }
};
Markers ReadMarkers(UHandle h) {
  Markers m;
  const int32 size = HandleBytes(h);
  if (size < 4) return m;
  const int32 n = int32(GetNative32(*h));
  if (n <= 0 || int64(n) * kScaleMarkerEntry + 4 > size) return m;
  m.at = *h + 4;
  m.count = n;
  return m;
}
int32 MarkerIndex(const Markers& m, float64 value) {
  int32 i = 0;
  while (i < m.count && m.Value(i) <= value) ++i;
  return i;
}

// The colour table, when the handle holds all of it.
const uInt32* TableEntries(UHandle table) {
  if (HandleBytes(table) < kColorTableBytes || GetNative32(*table) != uInt32(kColorTableEntries)) return nullptr;
  return reinterpret_cast<const uInt32*>(*table + 4);
}

// A table that cannot be read whole is rebuilt from the scale; a table
// given directly ("Ignore Color Array") is never rebuilt, so its missing
// entries are made black instead.  0 or 16.
int32 EnsureColorTable(ObjHeap heap, int32 graph, int32 zScale) {
  IntensityRec* rec = IntensityRecOf(heap, graph);
  if (!rec) return kResultFailed;
  if (TableEntries(rec->colorTable)) return 0;
  if (!(OHWord(heap, uInt32(zScale)) & kZScaleIgnoreColorArray)) return BuildColorTable(heap, graph);
  const int32 had = std::max(0, HandleBytes(rec->colorTable));
  UHandle t = DSNewHClr(kColorTableBytes);
  if (!t) return kResultFailed;
  rec = IntensityRecOf(heap, graph);
  if (had > 4) std::memcpy(*t + 4, *rec->colorTable + 4, size_t(std::min(had, kColorTableBytes) - 4));
  PutNative32(*t, uInt32(kColorTableEntries));
  if (rec->colorTable && HandleBytes(rec->colorTable) >= 0) DSDisposeHandle(rec->colorTable);
  rec->colorTable = t;
  return 0;
}

// ---- Samples of any numeric element type --------------------------------------------------

// Element readers: the value as the comparisons and the index see it.
template <typename T>
struct Plain {
  using V = T;
  static V Load(const uChar* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static V Lowest() { return std::numeric_limits<T>::has_infinity ? -std::numeric_limits<T>::infinity()
                                                                  : std::numeric_limits<T>::lowest(); }
};
struct Extended {
  using V = float64;
  static V Load(const uChar* p) {
    float64 d = 0;
    ConvertNum(11, p, 10, &d);
    return d;
  }
  static V Lowest() { return -std::numeric_limits<float64>::infinity(); }
};

// What turns a sample into an index byte.
struct IndexRule {
  float64 lo, hi, factor, offset;
  bool stepped;
  Markers markers;
  uChar Of(float64 v) const {
    if (v > hi) return 255;
    if (!(v >= lo)) return 0;  // below the range, or NaN
    if (stepped) return uChar(std::min(MarkerIndex(markers, v), 254));
    if (hi == lo) return 1;    // a range of one value: that value is its lowest colour
    const int32 i = RndToNearest(v * factor + offset);
    return uChar(std::clamp(i, 1, 254));
  }
};

// One direction of the walk: the byte offset of each sample, the samples
// of each pixel run and the pixels of each sample run.
struct Axis {
  std::vector<int32> offset;  // per sample, in walk order
  struct Run {
    int32 first, samples, pixels;
  };
  std::vector<Run> runs;
  int32 covered = 0;          // pixels the runs fill, from the first one
};

// The runs of a span table: decimation gives one run per pixel, replication
// one per sample covering at least one pixel.
void RunsOf(const int32* table, int32 n, int32 pixels, bool more, Axis* a) {
  a->runs.clear();
  a->covered = 0;
  if (more) {
    int32 s = 0;
    for (int32 p = 0; p < pixels; ++p) {
      const int32 c = std::clamp(table[p], 0, n - s);
      a->runs.push_back({s, c, 1});
      s += c;
    }
    a->covered = pixels;
  } else {
    for (int32 s = 0; s < n; ++s) {
      const int32 e = std::min(table[s], pixels - a->covered);
      if (e <= 0) continue;
      a->runs.push_back({s, 1, e});
      a->covered += e;
    }
  }
}

template <typename R>
void FillImage(const uChar* base, const Axis& across, const Axis& down, const IndexRule& rule, uChar* rows,
               int32 rowLength) {
  using V = typename R::V;
  int32 row = 0;
  for (const Axis::Run& d : down.runs) {
    uChar* line = rows + int64(row) * rowLength;
    int32 col = 0;
    for (const Axis::Run& a : across.runs) {
      uChar index = 0;
      if (a.samples > 0 && d.samples > 0) {
        // NaN never wins: a pixel of NaNs only stays at the lowest value,
        // which is below the range as NaN is.
        V best = R::Lowest();
        for (int32 i = 0; i < a.samples; ++i) {
          const uChar* column = base + across.offset[size_t(a.first + i)];
          for (int32 j = 0; j < d.samples; ++j) {
            const V v = R::Load(column + down.offset[size_t(d.first + j)]);
            if (v > best) best = v;
          }
        }
        index = rule.Of(float64(best));
      }
      if (a.pixels == 1) line[col] = index;
      else std::memset(line + col, index, size_t(a.pixels));
      col += a.pixels;
    }
    // Rows a sample covers are copies of its first.
    for (int32 k = 1; k < d.pixels; ++k) std::memcpy(line + int64(k) * rowLength, line, size_t(rowLength));
    row += d.pixels;
  }
}

// The 2-D data of an intensity graph or chart: its two sizes, element size
// and type and first element, checked against the handle.
struct Block {
  int32 dims[2] = {0, 0};
  int32 elemSize = 0;
  int32 type = 0;
  const uChar* base = nullptr;
};
bool ReadBlock(ObjHeap heap, int32 graph, UHandle data, Block* b) {
  const TypeDescriptor* td = TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
  td = td ? SkipTypedefs(td) : nullptr;
  if (!td || (td->code != kTDArray && td->code != kTDArrayView) ||
      int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) != 2)
    return false;
  const TypeDescriptor* elem = SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(
      reinterpret_cast<const uChar*>(td) + 6 + 4 * 2));
  if (!elem) return false;
  b->type = elem->code & ~0x10;
  b->elemSize = DataSize(elem);
  const int32 size = HandleBytes(data);
  if (size < 8 || b->elemSize <= 0) return false;
  b->dims[0] = int32(GetNative32(*data));
  b->dims[1] = int32(GetNative32(*data + 4));
  if (b->dims[0] < 0 || b->dims[1] < 0) return false;
  const int32 first = AlignDatum(elem, 8);
  if (int64(first) + int64(b->dims[0]) * b->dims[1] * b->elemSize > size) return false;
  b->base = *data + first;
  return true;
}

// The walk over one direction: count samples from first toward last, the
// outer direction wrapping around its size, the inner one kept inside it.
// False when the direction holds nothing.
bool Walk(int32 first, int32 last, int32 size, int32 stride, bool wraps, std::vector<int32>* offsets) {
  offsets->clear();
  if (size < 1) return false;
  if (!wraps) {
    first = std::clamp(first, 0, size - 1);
    last = std::clamp(last, 0, size - 1);
  }
  const int32 step = first <= last ? 1 : -1;
  const int64 count = std::min<int64>(std::abs(int64(last) - first) + 1, size);
  int64 at = ((int64(first) % size) + size) % size;
  offsets->reserve(size_t(count));
  for (int64 k = 0; k < count; ++k) {
    offsets->push_back(int32(at * stride));
    at += step;
    if (at == size) at = 0;
    if (at < 0) at = size - 1;
  }
  return true;
}

struct Walks {
  std::vector<int32> outer, inner;
};
bool WalkBlock(const Block& b, int32 firstInner, int32 firstOuter, int32 lastInner, int32 lastOuter,
               bool transposed, Walks* w) {
  // The outer (horizontal) direction is the first dimension, the inner
  // (vertical) one the second; transposed data the other way round.
  const int32 outerSize = transposed ? b.dims[1] : b.dims[0], innerSize = transposed ? b.dims[0] : b.dims[1];
  const int64 outerStride = transposed ? b.elemSize : int64(b.elemSize) * b.dims[1];
  const int64 innerStride = transposed ? int64(b.elemSize) * b.dims[1] : b.elemSize;
  // Every offset is a byte of the handle, which an int32 measures.
  if (outerStride * outerSize > std::numeric_limits<int32>::max() ||
      innerStride * innerSize > std::numeric_limits<int32>::max())
    return false;
  return Walk(firstOuter, lastOuter, outerSize, int32(outerStride), true, &w->outer) &&
         Walk(firstInner, lastInner, innerSize, int32(innerStride), false, &w->inner);
}

bool IntegerType(int32 t) { return (t >= 1 && t <= 3) || (t >= 5 && t <= 7); }

}  // namespace

IntensityRec* IntensityRecOf(ObjHeap heap, int32 graph) {
  if (!Live(heap, graph, kGraphObjectBytes)) return nullptr;
  const int32 at = ObjWord(heap, graph, kGraphImageWord);
  if (at <= 0 || !FPHeapDataPtr(heap, at + int32(sizeof(IntensityRec)) - 1)) return nullptr;
  return reinterpret_cast<IntensityRec*>(FPHeapDataPtr(heap, at));
}

int32 BuildColorTable(ObjHeap heap, int32 graph) {
  const int32 z = ColourScaleOf(heap, graph);
  if (!z || !IntensityRecOf(heap, graph)) {
    DBAssert(kModule, __LINE__, "colour table of a graph without its colour scale or intensity record");
    return kResultFailed;
  }
  UHandle t = DSNewHClr(kColorTableBytes);
  if (!t) {
    DBPrintf("Failed allocation for color table of size %ld", long(kColorTableBytes));
    return kResultFailed;
  }
  const ScaleRec* s = ScaleRecOf(heap, z);
  const float64 lo = std::min(s->min, s->max), hi = std::max(s->min, s->max);
  auto put = [&](int32 i, uInt32 c) { PutNative32(*t + 4 + 4 * i, c); };
  PutNative32(*t, uInt32(kColorTableEntries));
  put(0, s->endParts[0]);
  put(255, s->endParts[1]);
  if (OHWord(heap, uInt32(z)) & kZScaleStepped) {
    const Markers m = ReadMarkers(s->markers);
    for (int32 i = 0; i < std::min(m.count, 254); ++i) put(i + 1, m.Colour(i));
  } else {
    const float64 step = (hi - lo) / 254;
    for (int32 i = 1; i <= 254; ++i) put(i, PanelLookupValue(heap, z, lo + (i - 1) * step));
  }
  IntensityRec* rec = IntensityRecOf(heap, graph);
  if (rec->colorTable && HandleBytes(rec->colorTable) >= 0) DSDisposeHandle(rec->colorTable);
  rec->colorTable = t;
  return 0;
}

int32 ColorMarkerIndex(float64 value, UHandle markers) { return MarkerIndex(ReadMarkers(markers), value); }

int32* SpanRunTable(int32 n, int32 firstPixel, int32 endPixel, int32 firstData, int32 lastData, Bool32* moreSamples) {
  const int32 p = endPixel - firstPixel;
  const bool more = n > p;
  if (moreSamples) *moreSamples = more;
  const int32 entries = n < 1 || p < 1 ? 0 : more ? p : n;
  auto* t = reinterpret_cast<int32*>(DSNewPtr(4 * std::max(entries, 1)));
  if (!t) return nullptr;
  t[0] = 0;
  if (!entries) return t;
  if (more) {
    const float64 step = float64(n) / p;
    float64 acc = step;
    int32 sum = 0;
    for (int32 i = 0; i < p; ++i, acc += step) {
      t[i] = RndToNearest(acc) - sum;
      sum += t[i];
    }
  } else {
    const float64 step = (float64(lastData) - firstData) / n;
    float64 acc = firstData + step;
    int32 pos = firstPixel;
    for (int32 i = 0; i < n; ++i, acc += step) {
      const int32 r = RndToNearest(acc);
      int32 e = r - pos;
      if (e < 0) {
        t[i] = 0;
        continue;
      }
      if (r > endPixel) e = std::max(0, e - (r - endPixel));
      t[i] = e;
      pos = r;
    }
  }
  return t;
}

int32 BuildIntensityBitmap(ObjHeap heap, int32 graph, int32 colourScale, UHandle data, int32 firstInner,
                           int32 firstOuter, int32 lastInner, int32 lastOuter, UHandle image, const Rect* pixels,
                           const Rect* dataPixels, Bool32 transposed) {
  // 1. The index image: one byte a pixel, rows of an even length.
  const int32 w = pixels ? std::max(0, pixels->right - pixels->left) : 0;
  const int32 h = pixels ? std::max(0, pixels->bottom - pixels->top) : 0;
  const int32 rowLength = w + (w & 1);
  const int64 bytes = kIndexImageHeader + int64(h) * rowLength;
  if (HandleBytes(image) < 0 || DSSetHandleSize(image, int32(bytes)) != kNoErr) {
    DBPrintf("null bmHan");
    return kResultFailed;
  }
  PutNative32(*image, uInt32(h));
  PutNative32(*image + 4, uInt32(rowLength));
  std::memset(*image + kIndexImageHeader, 0, size_t(bytes - kIndexImageHeader));
  const ScaleRec* z = Live(heap, colourScale, 4) ? ScaleRecOf(heap, colourScale) : nullptr;
  if (!z) {
    DBAssert(kModule, __LINE__, "intensity image without its colour scale");
    return kResultFailed;
  }
  if (const int32 r = EnsureColorTable(heap, graph, colourScale)) return r;
  // 2. The element type and the walk over the visible indexes.
  Block b;
  Walks walk;
  if (!w || !h || !ReadBlock(heap, graph, data, &b) ||
      !WalkBlock(b, firstInner, firstOuter, lastInner, lastOuter, transposed, &walk))
    return 0;
  const bool known = IntegerType(b.type) || (b.type >= 9 && b.type <= 11);
  if (!known) {
    DBAssert(kModule, __LINE__, "intensity image of an element type it cannot draw");
    return 0;
  }
  // 3. The two span tables.
  const Rect span = dataPixels ? *dataPixels : *pixels;
  Axis across, down;
  across.offset = std::move(walk.outer);
  down.offset = std::move(walk.inner);
  Bool32 moreAcross = false, moreDown = false;
  int32* ta = SpanRunTable(int32(across.offset.size()), pixels->left, pixels->right, span.left, span.right, &moreAcross);
  int32* td = SpanRunTable(int32(down.offset.size()), pixels->top, pixels->bottom, span.top, span.bottom, &moreDown);
  if (!ta || !td) {
    FreeAndClearPtr(reinterpret_cast<void**>(&ta));
    FreeAndClearPtr(reinterpret_cast<void**>(&td));
    return kResultFailed;
  }
  RunsOf(ta, int32(across.offset.size()), w, moreAcross, &across);
  RunsOf(td, int32(down.offset.size()), h, moreDown, &down);
  // 7. Both tables are freed.
  FreeAndClearPtr(reinterpret_cast<void**>(&ta));
  FreeAndClearPtr(reinterpret_cast<void**>(&td));
  // 4. The range maps lo to 1 and hi to 254.
  z = ScaleRecOf(heap, colourScale);
  IndexRule rule{};
  rule.lo = std::min(z->min, z->max);
  rule.hi = std::max(z->min, z->max);
  if (IntegerType(b.type)) rule.lo = std::nearbyint(rule.lo), rule.hi = std::nearbyint(rule.hi);
  rule.factor = rule.hi > rule.lo ? 253 / (rule.hi - rule.lo) : 0;
  rule.offset = 1 - rule.lo * rule.factor;
  rule.stepped = (OHWord(heap, uInt32(colourScale)) & kZScaleStepped) != 0;
  rule.markers = ReadMarkers(z->markers);
  // 5. Every pixel from the largest of its samples.
  uChar* rows = *image + kIndexImageHeader;
  switch (b.type) {
    case 1: FillImage<Plain<int8>>(b.base, across, down, rule, rows, rowLength); break;
    case 2: FillImage<Plain<int16>>(b.base, across, down, rule, rows, rowLength); break;
    case 3: FillImage<Plain<int32>>(b.base, across, down, rule, rows, rowLength); break;
    case 5: FillImage<Plain<uInt8>>(b.base, across, down, rule, rows, rowLength); break;
    case 6: FillImage<Plain<uInt16>>(b.base, across, down, rule, rows, rowLength); break;
    case 7: FillImage<Plain<uInt32>>(b.base, across, down, rule, rows, rowLength); break;
    case 9: FillImage<Plain<float32>>(b.base, across, down, rule, rows, rowLength); break;
    case 10: FillImage<Plain<float64>>(b.base, across, down, rule, rows, rowLength); break;
    default: FillImage<Extended>(b.base, across, down, rule, rows, rowLength); break;
  }
  return 0;
}

UHandle BitmapToPict(UHandle colorTable, int32 depth, const Rect* bounds, UHandle image) {
  const int32 imageBytes = HandleBytes(image);
  if (imageBytes < kIndexImageHeader || !bounds) return nullptr;
  const int32 h = int32(GetNative32(*image)), rowLength = int32(GetNative32(*image + 4));
  if (h < 0 || rowLength < 0 || int64(h) * rowLength > imageBytes - kIndexImageHeader) return nullptr;
  const int32 n = h * rowLength;
  int32 colours = 0;
  if (const int32 tb = HandleBytes(colorTable); tb >= 4)
    colours = std::clamp(int32(GetNative32(*colorTable)), 0, std::min(kColorTableEntries, (tb - 4) / 4));
  const int32 c = colours ? 2 + 8 * colours : 0;
  const int64 total = 34 + int64(n) + c;
  if (total > std::numeric_limits<int32>::max()) return nullptr;
  UHandle pict = DSNewHandle(int32(total));
  if (!pict) return nullptr;
  uChar* p = *pict + 4;  // the picture header is the image layer's
  auto be16 = [&](int32 v) {
    PutBE16(p, uInt16(v));
    p += 2;
  };
  auto be32 = [&](uInt32 v) {
    PutBE32(p, v);
    p += 4;
  };
  be16(kPixelMapOpcode);
  be32(uInt32(n + c + 24));
  be32(uInt32(n));
  be16(bounds->top), be16(bounds->left), be16(bounds->bottom), be16(bounds->right);
  be16(depth);
  be32(0);
  be32(0xFFFFFF);
  be16(colours ? colours - 1 : 0);
  if (colours) {
    PutNative16(p, 0x8000);  // the flags word keeps the processor's order
    p += 2;
    for (int32 i = 0; i < colours; ++i) {
      const uInt32 rgb = GetNative32(*colorTable + 4 + 4 * i);
      const uInt32 r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, bl = rgb & 0xFF;
      be16(0), be16(int32(r * 0x101)), be16(int32(g * 0x101)), be16(int32(bl * 0x101));
    }
  }
  if (n) std::memcpy(p, *image + kIndexImageHeader, size_t(n));
  return pict;
}

int32 ScanZRange(ObjHeap heap, int32 graph, UHandle data, int32 firstInner, int32 firstOuter, int32 lastInner,
                 int32 lastOuter, Bool32 transposed, int32* changed) {
  if (changed) *changed = 0;
  const int32 zs = ColourScaleOf(heap, graph);
  if (!zs) {
    DBAssert(kModule, __LINE__, "Z autoscale without a colour scale");
    return kArgErr;
  }
  Block b;
  Walks walk;
  if (!ReadBlock(heap, graph, data, &b) || !b.dims[0] || !b.dims[1] ||
      !WalkBlock(b, firstInner, firstOuter, lastInner, lastOuter, transposed, &walk))
    return kNoErr;
  const bool log = ScaleRecOf(heap, zs)->mapping == kScaleLog;
  // The inner indexes are contiguous in memory order whichever way they run.
  const int32 innerStride = transposed ? b.elemSize * b.dims[1] : b.elemSize;
  const int32 firstRow = *std::min_element(walk.inner.begin(), walk.inner.end());
  const int32 rows = int32(walk.inner.size());
  float64 lo = 0, hi = 0;
  int16 found = 0;
  for (int32 column : walk.outer)
    ScanNumericRange(b.base + column + firstRow, innerStride, rows, b.type, &lo, &hi, &found, log);
  if (!found) return kNoErr;
  Bool32 moved = false;
  const MgErr err = CalcScaleMarkers(heap, zs, lo, hi, false, false, &moved);
  if (err) return err;
  if (changed) *changed = moved ? 1 : 0;
  if (moved) RescaleColorMarkers(heap, zs);
  return kNoErr;
}

namespace {

// Update modes of intensity drawing: 0 the charts that keep a circular
// image (103, 106), 1 (102, 105), 2 the charts with a sweep line (101,
// 104); -1 for graphs.
int32 IntensityMode(int32 type) {
  switch (type) {
    case 103: case 106: return 0;
    case 102: case 105: return 1;
    case 101: case 104: return 2;
    default: return -1;
  }
}

DColor PlotAreaColour(ObjHeap heap, int32 graph) {
  const int32 area = FindPart(heap, graph, kGPartPlotArea, 0);
  return Live(heap, area, kObjCosmBack + 4) ? DColor(ObjWord(heap, area, kObjCosmBack / 4)) : kTransparentColor;
}

// Paints the columns left .. right - 1 of the inner rectangle in the plot
// area's colour and draws the grid over them.
void PaintColumns(ObjHeap heap, int32 graph, const Rect& inner, int32 left, int32 right, DColor colour) {
  const Rect r{inner.top, int16(std::max<int32>(left, inner.left)), inner.bottom,
               int16(std::min<int32>(right, inner.right))};
  if (r.left >= r.right || r.top >= r.bottom) return;
  if (colour != kTransparentColor) {
    DSelectNormPen(colour, colour);
    DPaintRect(&r);
  }
  DrawGraphGrids(heap, graph, &r, 0, 0, 0);
}

void DrawBand(ObjHeap heap, int32 graph, int32 picture, const Rect& band) {
  IDraw(picture, nullptr, &band, 0, 0xFFFFFF, 0, 0xFFFFFF);
  DrawGraphGrids(heap, graph, &band, 0, 0, 0);
}

bool XReversed(const ScaleRec* x) { return (x->pixelStart < x->pixelEnd) != (x->min < x->max); }

}  // namespace

int32 DrawIntensChartUpdate(ObjHeap heap, int32 graph, const Rect* clip, Bool32 fullRedraw) {
  // 1. Nothing while drawing is suppressed.
  if (!gDDODrawEnabled) return 0;
  const int32 mode = IntensityMode(GraphTypeOf(heap, graph));
  const int32 zs = ColourScaleOf(heap, graph);
  if (!zs || !IntensityRecOf(heap, graph)) {
    DBAssert(kModule, __LINE__, "intensity drawing without its colour scale or intensity record");
    return 0;
  }
  // 2. The pending image and the colour table as a picture.
  if (EnsureColorTable(heap, graph, zs)) return kResultFailed;
  IntensityRec* rec = IntensityRecOf(heap, graph);
  const Rect drawn = rec->Drawn();
  UHandle pict = BitmapToPict(rec->colorTable, 8, &drawn, rec->image);
  if (!pict) return kResultFailed;
  int32 picture = 0;
  if (ICreatePict(0, &drawn, 8, pict, kImageBorrowed, &picture) != kNoErr || !picture) {
    DSDisposeHandle(pict);
    return kResultFailed;
  }
  // 3. Into the offscreen image over an opaque area, else the window.
  Rect bounds;
  GraphPlotBounds(heap, graph, &bounds);
  Rect inner = bounds;
  DInsetRect(&inner, 1, 1);
  // Bands wrap over the inside of the plot area, as the circular image is
  // shown (from the position word to its end, then from its start).
  const int32 width = std::max(0, inner.right - inner.left);
  const DColor back = PlotAreaColour(heap, graph);
  int32 pixmap = ObjWord(heap, graph, kGraphPixmapWord);
  if (pixmap && IKindOf(pixmap) != kImagePixmap) pixmap = 0;
  const bool offscreen = pixmap && back != kTransparentColor;
  ImageSaveRecord save{};
  Rect savedClip{0, 0, 0, 0};
  if (offscreen) {
    IOpen(pixmap, &save);
  } else {
    Rect c = inner;
    if (clip && !DSectRect(&c, clip, &c)) c = Rect{0, 0, 0, 0};
    WLimitClip(&c, &savedClip);
  }
  // 4. The band of the new columns: the image's rectangle moved by the
  // chart's position word, back by the width when it starts past the end.
  auto bandAt = [&](int32 pos) {
    Rect b = drawn;
    DOffsetRect(&b, pos, 0);
    if (b.left >= inner.right) DOffsetRect(&b, -width, 0);
    return b;
  };
  int32 pos = mode >= 0 ? ObjWord(heap, graph, kGraphPixmapPosWord) : 0;
  Rect band = bandAt(pos);
  // 5. A full redraw restarts the circular image and paints around the band.
  bool full = fullRedraw;
  if (full) {
    if (pos) {
      pos = 0;
      ObjSetWord(heap, graph, kGraphPixmapPosWord, 0);
      band = bandAt(0);
    }
    PaintColumns(heap, graph, inner, inner.left, band.left, back);
    PaintColumns(heap, graph, inner, band.right, inner.right, back);
  } else if (mode == 0) {
    full = uInt32(ObjWord(heap, graph, kGraphXGridColorWord)) != kTransparentColor ||
           uInt32(ObjWord(heap, graph, kGraphYGridColorWord)) != kTransparentColor;
  } else if (mode == 2) {
    full = true;
  }
  const int32 xs = FindPart(heap, graph, kGPartXScale, 0);
  ScaleRec* x = xs > 0 ? ScaleRecOf(heap, xs) : nullptr;
  // 6. A band past either end also shows at the other side.
  if (mode == 0 && (band.right > inner.right || band.left < inner.left)) {
    Rect copy = band;
    DOffsetRect(&copy, band.right > inner.right ? -width : width, 0);
    if (full) {
      const Rect& l = copy.left < band.left ? copy : band;
      const Rect& r = copy.left < band.left ? band : copy;
      PaintColumns(heap, graph, inner, l.right, r.left, back);
    }
    DrawBand(heap, graph, picture, copy);
  } else if (mode == 2 && !IsChartScrollTracked(heap, graph) &&
             (band.right >= inner.right || band.left <= inner.left)) {
    Rect copy = band;
    DOffsetRect(&copy, band.right >= inner.right ? -(width - 1) : width - 1, 0);
    // The copy's grid is that of the previous span.
    const float64 span = x ? std::floor(std::fabs(x->max - x->min)) : 0;
    const bool lower = x && span > 0 && x->min >= span && x->max >= span;
    if (lower) {
      x->min -= span, x->max -= span;
      if (x->increment > 0) x->start -= std::floor(span / x->increment) * x->increment;
    }
    DrawBand(heap, graph, picture, copy);
    x = xs > 0 ? ScaleRecOf(heap, xs) : nullptr;
    if (lower && x) {
      x->min += span, x->max += span;
      if (x->increment > 0 && std::isfinite(x->start)) {
        const float64 gap = std::min(x->min, x->max) - x->start;
        if (gap > 0) x->start += std::ceil(gap / x->increment) * x->increment;
        while (x->start < x->min && x->start < x->max) x->start += x->increment;
      }
    }
  }
  // 7. The picture and the grid over it.
  DrawBand(heap, graph, picture, band);
  // 8. The sweep line after the newest column.
  x = xs > 0 ? ScaleRecOf(heap, xs) : nullptr;
  if (mode == 2) {
    const int32 at = x && XReversed(x) ? band.left - 1 : band.right;
    if (at > inner.left && at < inner.right - 1) {
      DSelectNormPen(kSweepLineColor, kSweepLineColor);
      DMoveTo(at, inner.top);
      DLineTo(at, inner.bottom - 1);
    }
  }
  // 9. Back to where drawing went before.
  int32 reply = 0;
  if (offscreen) {
    IClose(pixmap, &save);
    reply = kPlotResultRedraw;
  } else {
    WRestoreClip(&savedClip);
  }
  IRelease(picture);
  DSDisposeHandle(pict);
  if (!PrefGet(kPrefKeepIntensityBitmap)) {
    rec = IntensityRecOf(heap, graph);
    if (rec && HandleBytes(rec->image) >= 0 && DSSetHandleSize(rec->image, kIndexImageHeader) == kNoErr) {
      PutNative32(*rec->image, 0);
      PutNative32(*rec->image + 4, 0);
    }
  }
  return reply;
}

int32 RedrawIntensityImage(ObjHeap heap, int32 graph) {
  const int32 zs = ColourScaleOf(heap, graph);
  if (!zs || !IntensityRecOf(heap, graph)) return 0;
  if (!(OHWord(heap, uInt32(zs)) & kZScaleIgnoreColorArray))
    if (const int32 r = BuildColorTable(heap, graph)) return r;
  const int32 r = DrawIntensChartUpdate(heap, graph, nullptr, false);
  if (r & kPlotResultRedraw) {
    const int32 pixmap = ObjWord(heap, graph, kGraphPixmapWord);
    Rect bounds;
    GraphPlotBounds(heap, graph, &bounds);
    if (pixmap && IKindOf(pixmap) == kImagePixmap) IDraw(pixmap, nullptr, &bounds, 0, 0xFFFFFF, 0, 0xFFFFFF);
  }
  return r;
}
