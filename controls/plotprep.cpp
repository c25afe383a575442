// Turning a plot's values into its int16 pixel arrays: the autoscale scan,
// implicit x ramps of waveforms, clipping to the x scale, the mapping
// through both scales and the reductions that keep the drawing
// proportional to the plot's width rather than its number of points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/graph.h"
#include "controls/scale.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/objects.h"

namespace {

constexpr const char* kModule = "plotprep";

// The numeric type with the units bit of 0x19..0x1B taken off.
int32 BaseType(int32 t) { return t >= 0x19 && t <= 0x1B ? t - 0x10 : t; }

template <typename T>
T Load(const uChar* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
float64 LoadExt(const uChar* p) {
  float64 d = 0;
  ConvertNum(11, p, 10, &d);
  return d;
}

// The range of count values from data at stride; skipped values never
// start it.  Returns whether one was found.
template <typename T, typename Read>
bool ScanTyped(const uChar* p, int32 stride, int32 count, bool isFloat, bool positive, Read read, float64* lo,
               float64* hi) {
  bool any = false;
  T mn{}, mx{};
  for (int32 i = 0; i < count; ++i, p += stride) {
    const T v = read(p);
    if (isFloat && !std::isfinite(float64(v))) continue;
    if (positive && !(v > T(0))) continue;
    if (!any) {
      mn = mx = v;
      any = true;
    } else if (v > mx) {
      mx = v;
    } else if (v < mn) {
      mn = v;
    }
  }
  if (any) {
    *lo = float64(mn);
    *hi = float64(mx);
  }
  return any;
}

// The data of a pixel handle (a count, then int16 pixels) when it holds n.
int16* PixelsOf(UHandle h, int32 n) {
  if (!h || !*h || n < 0 || !MemIsDSHandle(h)) return nullptr;
  if (int64(DSGetHandleSize(h)) < 4 + 2 * int64(n)) return nullptr;
  return reinterpret_cast<int16*>(*h + 4);
}
// Sizes a pixel handle to n pixels and stores the count.
bool SizePixels(UHandle h, int32 n) {
  if (!h || !MemIsDSHandle(h) || n < 0 || n > (0x7FFFFFFF - 4) / 2) return false;
  if (DSSetHandleSize(h, 4 + 2 * n) != kNoErr) return false;
  PutNative32(*h, uInt32(n));
  return true;
}
// The valid point count of a record's pixel arrays: its count, bounded by
// what both handles hold.
int32 HeldPoints(const PlotRec* p) {
  if (!p->xs || !p->ys || !*p->xs || !*p->ys || p->count <= 0) return 0;
  const int32 a = (DSGetHandleSize(p->xs) - 4) / 2, b = (DSGetHandleSize(p->ys) - 4) / 2;
  return std::max(0, std::min({p->count, a, b}));
}
void SetPointCount(PlotRec* p, int32 n) {
  p->count = n;
  PutNative32(*p->xs, uInt32(n));
  PutNative32(*p->ys, uInt32(n));
}

bool IsGap(int16 h, int16 v) { return h == kPlotGap || v == kPlotGap; }

// Whether the plot's pixels may be thinned: nothing fills to another plot
// and no plot fills to this one.
bool MayReduce(const PlotRec* p) { return p->fillStyle < 255 && !(p->fillTarget & 1); }
bool NoMarksNoBars(const PlotRec* p) { return p->pointStyle == 0 && (p->fillStyle & 3) == 0; }

// Maps count values to pixels at pixel stride 2; types the mapping cannot
// take (64-bit integers among them) and missing values become gaps.
void MapOrGap(ObjHeap heap, int32 scale, int32 type, const void* values, int32 stride, int32 count, int16* out) {
  type = BaseType(type);
  const bool mappable = values && type >= 1 && type <= 11 && type != 4 && type != 8;
  if (!mappable) {
    std::fill(out, out + count, kPlotGap);
    return;
  }
  MapValuesToPixels(heap, ObjWord(heap, scale, kScaleObjData), type, values, stride, count, out, 2);
}

}  // namespace

void ScanNumericRange(const void* data, int32 stride, int32 count, int32 type, float64* min, float64* max,
                      int16* found, Bool32 positiveOnly) {
  if (count < 1 || !data || !min || !max || !found) return;
  const auto* p = static_cast<const uChar*>(data);
  const bool pos = positiveOnly != 0;
  float64 lo = 0, hi = 0;
  bool any = false;
  switch (BaseType(type)) {
    case 1: any = ScanTyped<int8>(p, stride, count, false, pos, Load<int8>, &lo, &hi); break;
    case 2: any = ScanTyped<int16>(p, stride, count, false, pos, Load<int16>, &lo, &hi); break;
    case 3: any = ScanTyped<int32>(p, stride, count, false, pos, Load<int32>, &lo, &hi); break;
    case 4: any = ScanTyped<int64>(p, stride, count, false, pos, Load<int64>, &lo, &hi); break;
    case 5: any = ScanTyped<uInt8>(p, stride, count, false, pos, Load<uInt8>, &lo, &hi); break;
    case 6: any = ScanTyped<uInt16>(p, stride, count, false, pos, Load<uInt16>, &lo, &hi); break;
    case 7: any = ScanTyped<uInt32>(p, stride, count, false, pos, Load<uInt32>, &lo, &hi); break;
    case 8: any = ScanTyped<uInt64>(p, stride, count, false, pos, Load<uInt64>, &lo, &hi); break;
    case 9: any = ScanTyped<float32>(p, stride, count, true, pos, Load<float32>, &lo, &hi); break;
    case 10: any = ScanTyped<float64>(p, stride, count, true, pos, Load<float64>, &lo, &hi); break;
    case 11: any = ScanTyped<float64>(p, stride, count, true, pos, LoadExt, &lo, &hi); break;
    default:
      DBAssert(kModule, __LINE__, "range scan of a type that is not a number");
      return;
  }
  if (!any) return;
  if (!std::isfinite(lo) || !std::isfinite(hi)) {
    DBAssert(kModule, __LINE__, "range scan found a value that is not finite");
    return;
  }
  if (*found) {
    *min = std::min(*min, lo);
    *max = std::max(*max, hi);
  } else {
    *min = lo;
    *max = hi;
    *found = 1;
  }
}

void* MakeRampArray(float64 x0, float64 dx, int32 count, Bool32 integers, int32* elementSize, int32* type) {
  if (elementSize) *elementSize = 0;
  if (type) *type = 0;
  if (count < 0) return nullptr;
  const int64 n = count;
  // Integer ramps only for whole steps: a rounded fractional step would
  // collapse or stretch the axis.
  const bool whole = integers && std::isfinite(x0) && std::isfinite(dx) && dx == std::floor(dx) &&
                     std::fabs(dx) < 4294967296.0 && std::fabs(x0) < 4294967296.0;
  int32 size = 8, code = 10;
  int64 first = 0, step = 0;
  if (whole) {
    first = int64(std::nearbyint(x0));
    step = int64(dx);
    const int64 last = first + (n > 0 ? n - 1 : 0) * step;
    auto within = [&](int64 lo, int64 hi) { return first >= lo && first <= hi && last >= lo && last <= hi; };
    if (within(0, 65535)) size = 2, code = 6;
    else if (within(-2147483648LL, 2147483647LL)) size = 4, code = 3;
  }
  if (n * size > 0x7FFFFFF0) return nullptr;
  UPtr block = DSNewPtr(int32(std::max<int64>(n * size, 1)));
  if (!block) return nullptr;
  if (size == 2) {
    auto* v = reinterpret_cast<uInt16*>(block);
    for (int64 i = 0; i < n; ++i) v[i] = uInt16(first + i * step);
  } else if (size == 4) {
    auto* v = reinterpret_cast<int32*>(block);
    for (int64 i = 0; i < n; ++i) v[i] = int32(first + i * step);
  } else {
    auto* v = reinterpret_cast<float64*>(block);
    float64 x = x0;
    for (int64 i = 0; i < n; ++i, x += dx) v[i] = x;
  }
  if (elementSize) *elementSize = size;
  if (type) *type = code;
  return block;
}

void FreeAndClearPtr(void** p) {
  if (!p) return;
  if (*p) DSDisposePtr(static_cast<UPtr>(*p));
  *p = nullptr;
}

int32 ClipWaveformToScale(ObjHeap heap, int32, int32 xScaleData, float64* x0, int32* count, float64 dx) {
  if (!x0 || !count || *count <= 0) return 0;
  const ScaleRec* r = ScaleRecAt(heap, xScaleData);
  if (!r) return 0;
  const int32 n = *count;
  // A step of 0 or a start or step that is not a number places no point:
  // the plot shows nothing rather than dividing by it.
  if (dx == 0 || !std::isfinite(dx) || !std::isfinite(*x0)) {
    *count = 0;
    return 0;
  }
  // A stored scale may have equal or unbounded ends: it shows no points.
  if (r->min == r->max || !std::isfinite(r->min) || !std::isfinite(r->max)) {
    *count = 0;
    return 0;
  }
  const float64 lo = std::min(r->min, r->max), hi = std::max(r->min, r->max);
  float64 first = *x0, last = first + float64(n - 1) * dx;
  // For a falling ramp the roles of the two ends swap.
  const bool up = dx > 0;
  if (up ? (first > hi || last < lo) : (first < lo || last > hi)) {
    *count = 0;
    *x0 = 0;
    return 0;
  }
  float64 skip = 0;
  bool changed = false;
  if (up ? last - dx > hi : last - dx < lo) {
    last = first + std::ceil(((up ? hi : lo) - first) / dx) * dx;
    changed = true;
  }
  if (up ? first + dx < lo : first + dx > hi) {
    skip = std::floor(((up ? lo : hi) - first) / dx);
    first += skip * dx;
    changed = true;
  }
  if (!changed) return 0;
  // Rounding may not push the window outside the data.
  skip = std::clamp(skip, 0.0, float64(n - 1));
  float64 kept = std::round((last - first) / dx) + 1;
  kept = std::clamp(kept, 0.0, float64(n) - skip);
  *x0 = first;
  *count = int32(kept);
  return int32(skip);
}

void RemoveDuplicatePoints(PlotRec* plot) {
  if (!plot) return;
  const int32 n = HeldPoints(plot);
  if (n < 2) return;
  int16* h = reinterpret_cast<int16*>(*plot->xs + 4);
  int16* v = reinterpret_cast<int16*>(*plot->ys + 4);
  int32 out = 1;
  for (int32 i = 1; i < n; ++i) {
    if (h[i] == h[out - 1] && v[i] == v[out - 1]) continue;
    h[out] = h[i];
    v[out] = v[i];
    ++out;
  }
  SetPointCount(plot, out);
}

void RemoveCollinearPoints(PlotRec* plot) {
  if (!plot) return;
  const int32 n = HeldPoints(plot);
  if (n < 3) return;
  int16* h = reinterpret_cast<int16*>(*plot->xs + 4);
  int16* v = reinterpret_cast<int16*>(*plot->ys + 4);
  auto sign = [](int32 a) { return (a > 0) - (a < 0); };
  int32 out = 1, dx = 0, dy = 0;
  bool fresh = true;  // no running segment (start, or next to a gap)
  for (int32 i = 1; i < n; ++i) {
    const int32 sx = int32(h[i]) - h[out - 1], sy = int32(v[i]) - v[out - 1];
    const bool gap = IsGap(h[i], v[i]) || IsGap(h[out - 1], v[out - 1]);
    bool extends = false;
    if (!fresh && !gap && out >= 2) {
      extends = (sx == 0 && sy == 0) || (sy == 0 && dy == 0 && sign(sx) == sign(dx)) ||
                (sx == 0 && dx == 0 && sign(sy) == sign(dy)) || (sx == dx && sy == dy);
    }
    if (extends) {
      h[out - 1] = h[i];
      v[out - 1] = v[i];
      continue;
    }
    h[out] = h[i];
    v[out] = v[i];
    ++out;
    dx = sx;
    dy = sy;
    fresh = gap;
  }
  SetPointCount(plot, out);
}

int32 MapPlotToPixels(ObjHeap heap, int32, int32 xScale, int32 yScale, PlotRec* plot, const void* x, const void* y,
                      int32 xStride, int32 yStride, int32 count, int32 xType, int32 yType) {
  if (!plot) return 0;
  if (!plot->xs || !plot->ys) {
    DBAssert(kModule, __LINE__, "plot record without its pixel arrays");
    return kPlotResultFailed;
  }
  if (count < 0) {
    DBAssert(kModule, __LINE__, "negative point count");
    count = 0;
  }
  if (!SizePixels(plot->xs, count) || !SizePixels(plot->ys, count)) {
    plot->count = 0;
    return kPlotResultFailed;
  }
  plot->count = count;
  if (!count) return 0;
  MapOrGap(heap, xScale, xType, x, xStride, count, reinterpret_cast<int16*>(*plot->xs + 4));
  MapOrGap(heap, yScale, yType, y, yStride, count, reinterpret_cast<int16*>(*plot->ys + 4));
  if (!MayReduce(plot)) return 0;
  if (NoMarksNoBars(plot) && plot->interpolation != 1 && plot->interpolation != 3) RemoveCollinearPoints(plot);
  else RemoveDuplicatePoints(plot);
  return 0;
}

namespace {

// The column walk of the min/max reduction over y values of type T: for
// each run of equal x pixels, the indexes of its extremes in the order
// they were found.  Values that are not numbers never become extremes
// while a number is there.
template <typename T, typename Read>
int32 ColumnExtremes(const int16* px, const uChar* y, int32 stride, int32 count, Read read,
                     std::vector<int32>* picks) {
  int32 i = 0;
  while (i < count) {
    const int16 col = px[i];
    int32 mn = i, mx = i;
    T lo = read(y + int64(i) * stride), hi = lo;
    int32 j = i + 1;
    for (; j < count && px[j] == col; ++j) {
      const T v = read(y + int64(j) * stride);
      if (v < lo || lo != lo) lo = v, mn = j;
      if (v > hi || hi != hi) hi = v, mx = j;
    }
    picks->push_back(std::min(mn, mx));
    if (mn != mx) picks->push_back(std::max(mn, mx));
    i = j;
  }
  return int32(picks->size());
}

}  // namespace

int32 DecimateMinMax(ObjHeap heap, int32, int32 xScale, int32 yScale, PlotRec* plot, const void* x, const void* y,
                     int32 xStride, int32 yStride, int32 count, int32 xType, int32 yType) {
  if (!plot || count < 1) return 0;
  if (!x || !y) return kPlotResultFailed;
  int16* h = PixelsOf(plot->xs, count);
  int16* v = PixelsOf(plot->ys, count);
  if (!h || !v) return kPlotResultFailed;
  MapOrGap(heap, xScale, xType, x, xStride, count, h);
  // At most two points a column: a few thousand for any plot area.
  std::vector<int32> picks;
  picks.reserve(size_t(std::min(count, 8192)));
  const auto* yb = static_cast<const uChar*>(y);
  int32 n = 0;
  yType = BaseType(yType);
  switch (yType) {
    case 1: n = ColumnExtremes<int8>(h, yb, yStride, count, Load<int8>, &picks); break;
    case 2: n = ColumnExtremes<int16>(h, yb, yStride, count, Load<int16>, &picks); break;
    case 3: n = ColumnExtremes<int32>(h, yb, yStride, count, Load<int32>, &picks); break;
    case 4: n = ColumnExtremes<int64>(h, yb, yStride, count, Load<int64>, &picks); break;
    case 5: n = ColumnExtremes<uInt8>(h, yb, yStride, count, Load<uInt8>, &picks); break;
    case 6: n = ColumnExtremes<uInt16>(h, yb, yStride, count, Load<uInt16>, &picks); break;
    case 7: n = ColumnExtremes<uInt32>(h, yb, yStride, count, Load<uInt32>, &picks); break;
    case 8: n = ColumnExtremes<uInt64>(h, yb, yStride, count, Load<uInt64>, &picks); break;
    case 9: n = ColumnExtremes<float32>(h, yb, yStride, count, Load<float32>, &picks); break;
    case 10: n = ColumnExtremes<float64>(h, yb, yStride, count, Load<float64>, &picks); break;
    case 11: n = ColumnExtremes<float64>(h, yb, yStride, count, LoadExt, &picks); break;
    default:
      // Not a number: every point a gap, one per column.
      n = ColumnExtremes<int32>(h, yb, 0, count, [](const uChar*) { return 0; }, &picks);
      break;
  }
  // The chosen y values side by side, mapped in one pass.
  const int32 size = yType >= 1 && yType <= 11 ? NumSize(yType) : 1;
  std::vector<uChar> chosen(static_cast<size_t>(n) * size);
  std::vector<int16> ypx(static_cast<size_t>(n));
  for (int32 k = 0; k < n; ++k) std::memcpy(&chosen[size_t(k) * size], yb + int64(picks[k]) * yStride, size);
  MapOrGap(heap, yScale, yType, yType >= 1 && yType <= 11 ? chosen.data() : nullptr, size, n, ypx.data());
  // Write in place: the k-th kept point never lies after the point it came from.
  int32 out = 0;
  for (int32 k = 0; k < n; ++k) {
    const int16 col = h[picks[k]];
    if (out > 0 && h[out - 1] == col && v[out - 1] == ypx[k]) continue;  // both extremes on one pixel
    h[out] = col;
    v[out] = ypx[k];
    ++out;
  }
  SetPointCount(plot, out);
  return 0;
}

int32 MapPlotToPixelsDecimated(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot, const void* x,
                               const void* y, int32 xStride, int32 yStride, int32 count, int32 xType, int32 yType) {
  if (!plot) return 0;
  if (!plot->xs || !plot->ys) {
    DBAssert(kModule, __LINE__, "plot record without its pixel arrays");
    return kPlotResultFailed;
  }
  count = std::max(count, 0);
  if (!SizePixels(plot->xs, count) || !SizePixels(plot->ys, count)) {
    plot->count = 0;
    return kPlotResultFailed;
  }
  plot->count = count;
  if (!count) return 0;
  if (!x || !y) return kPlotResultFailed;
  const ScaleRec* xr = ScaleRecOf(heap, xScale);
  const bool linear = xr && xr->mapping != kScaleLog;
  const float64 span = xr ? std::fabs(float64(xr->pixelEnd) - float64(xr->pixelStart)) : 0;
  if (linear && span * 2.4 < float64(count) && MayReduce(plot) && NoMarksNoBars(plot))
    return DecimateMinMax(heap, graph, xScale, yScale, plot, x, y, xStride, yStride, count, xType, yType);
  MapOrGap(heap, xScale, xType, x, xStride, count, reinterpret_cast<int16*>(*plot->xs + 4));
  MapOrGap(heap, yScale, yType, y, yStride, count, reinterpret_cast<int16*>(*plot->ys + 4));
  if (MayReduce(plot)) RemoveDuplicatePoints(plot);
  return 0;
}
