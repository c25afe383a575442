// Interpolation, threshold and the strip-chart history.
#include "rtlib/chartdata.h"

#include <cstring>
#include <emmintrin.h>

#include "engine/datatype.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/hookset.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "rtlib/rtnumeric.h"

namespace {

// ------------------------------------------------------------ array reading

// One 1-D array of plain numbers or points as the reads below see it.
struct ValueArray {
  const uChar* first = nullptr;  // element 0
  int32 n = 0;                   // elements that lie inside the handle
  int32 stride = 0;
  int32 yOffset = 0;             // of Y inside a point
  int32 yType = 0;
  int32 xType = 0;               // 0: plain numbers
};

bool IsNumType(int32 t) { return t >= 1 && t <= 14; }

void PutNumericTD(uChar* at, int32 type) {
  PutNative16(at, 4);
  at[2] = uChar(type);
  at[3] = 0;
}

// Splits the type word and lays out the array; false (reported) for a type
// outside 1 to 14.  An element count that the handle cannot hold is cut to
// what it holds.
bool ReadArray(int32 types, UHandle array, ValueArray* a) {
  a->yType = int32(uInt32(types) >> 16);
  a->xType = int16(uInt32(types) & 0xFFFF);
  if (!IsNumType(a->yType) || (a->xType != 0 && !IsNumType(a->xType))) {
    DBAssert(__FILE__, __LINE__, "interpolation: numeric type out of range");
    return false;
  }
  uChar td[14];
  if (a->xType == 0) {
    PutNumericTD(td, a->yType);
  } else {
    PutNative16(td, sizeof td);
    td[2] = kTDCluster;
    td[3] = 0;
    PutNative16(td + 4, 2);
    PutNumericTD(td + 6, a->xType);
    PutNumericTD(td + 10, a->yType);
    const auto* yTD = reinterpret_cast<const TypeDescriptor*>(td + 10);
    a->yOffset = AlignDatum(yTD, NumSize(a->xType));
  }
  const auto* elem = reinterpret_cast<const TypeDescriptor*>(td);
  a->stride = DataSize(elem);
  int32 firstOffset = AlignDatum(elem, 4);
  if (!array || !*array || a->stride <= 0) return true;
  int32 size = DSGetHandleSize(array);
  if (size < 4) return true;
  int32 count = int32(GetNative32(*array));
  int64 room = size >= firstOffset ? int64(size - firstOffset) / a->stride : 0;
  a->n = count < 0 ? 0 : int32(count < room ? count : room);
  a->first = *array + firstOffset;
  return true;
}

// Value readers: doubles are read as they are, other types converted.
struct DoubleReader {
  float64 operator()(const uChar* p, int32) const {
    float64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
};
struct ConvertReader {
  float64 operator()(const uChar* p, int32 type) const {
    float64 v;
    ConvertNum(type, p, kTDDBL, &v);
    return v;
  }
};

// Less-or-equal under the comparison rule, as one test: a pair with a NaN
// is never greater.
inline bool LEq(float64 a, float64 b) { return !(a > b); }

// The first k from `from` on whose value at p + k * stride satisfies
// LEq(v, value), or n when there is none.  Doubles at a stride known when
// compiled (plain arrays and {DBL, DBL} points) are read without a
// conversion or a variable step.
template <int32 Stride>
int32 FirstAtOrAboveDbl(const uChar* p, int32 from, int32 n, float64 v) {
  for (int32 k = from; k < n; ++k) {
    float64 y;
    std::memcpy(&y, p + size_t(k) * Stride, sizeof y);
    if (LEq(v, y)) return k;
  }
  return n;
}
int32 FirstAtOrAbove(const ValueArray& a, const uChar* p, int32 type, int32 from, float64 v) {
  if (type == kTDDBL && a.stride == 8) return FirstAtOrAboveDbl<8>(p, from, a.n, v);
  if (type == kTDDBL && a.stride == 16) return FirstAtOrAboveDbl<16>(p, from, a.n, v);
  for (int32 k = from; k < a.n; ++k) {
    float64 y;
    ConvertNum(type, p + size_t(k) * size_t(a.stride), kTDDBL, &y);
    if (LEq(v, y)) return k;
  }
  return a.n;
}

template <class R>
float64 InterpolatePlain(const ValueArray& a, float64 x, R rd) {
  int32 n = a.n;
  auto y = [&](int32 i) { return rd(a.first + size_t(i) * size_t(a.stride), a.yType); };
  if (rtnum::GT(x, 0.0) && rtnum::LT(x, float64(n - 1))) {
    int32 i = int32(std::floor(x));
    float64 yi = y(i);
    return yi + (x - i) * (y(i + 1) - yi);
  }
  if (rtnum::GE(x, float64(n - 1))) return y(n - 1);
  return y(0);
}

template <class RX, class RY>
float64 InterpolatePoints(const ValueArray& a, float64 x, RX rx, RY ry) {
  auto X = [&](int32 k) { return rx(a.first + size_t(k) * size_t(a.stride), a.xType); };
  auto Y = [&](int32 k) { return ry(a.first + size_t(k) * size_t(a.stride) + a.yOffset, a.yType); };
  if (!rtnum::GT(x, X(0))) return Y(0);
  int32 k = FirstAtOrAbove(a, a.first, a.xType, 1, x);
  if (k == a.n) return Y(a.n - 1);
  float64 x0 = X(k - 1), y0 = Y(k - 1);
  return y0 + (x - x0) / (X(k) - x0) * (Y(k) - y0);
}

template <class RX, class RY>
float64 ThresholdOf(const ValueArray& a, int32 start, float64 level, RX rx, RY ry) {
  bool points = a.xType != 0;
  int32 yOff = points ? a.yOffset : 0;
  auto at = [&](int32 k) { return a.first + size_t(k) * size_t(a.stride); };
  auto Y = [&](int32 k) { return ry(at(k) + yOff, a.yType); };
  auto X = [&](int32 k) { return points ? rx(at(k), a.xType) : float64(k); };
  if (!rtnum::GT(level, Y(start))) return X(start);
  int32 k = FirstAtOrAbove(a, a.first + yOff, a.yType, start + 1, level);
  if (k == a.n) return X(a.n - 1);
  float64 y0 = Y(k - 1), y1 = Y(k);
  if (!points) return (k - 1) + (level - y0) / (y1 - y0);
  float64 x0 = X(k - 1);
  return x0 + (level - y0) / (y1 - y0) * (X(k) - x0);
}

// ------------------------------------------------------------ chart history

ChartPanelHooks gHooks;

UPtr NoDataPtr(ObjHeap, int32) { return nullptr; }
int32 NoPart(ObjHeap, int32, int32, int32) { return 0; }
void NoInval(ObjHeap, int32, int32) {}
MgErr NoScaleRecalc(ObjHeap, int32) { return kNoErr; }
MgErr NoScaleMarkers(ObjHeap, int32, float64, float64, Bool32, Bool32, Bool32* changed) {
  if (changed) *changed = false;
  return kNoErr;
}

const ChartPanelHooks& Hooks() {
  if (!gHooks.dataPtr) gHooks.dataPtr = NoDataPtr;
  if (!gHooks.findPart) gHooks.findPart = NoPart;
  if (!gHooks.inval) gHooks.inval = NoInval;
  if (!gHooks.scaleRecalc) gHooks.scaleRecalc = NoScaleRecalc;
  if (!gHooks.calcScaleMarkers) gHooks.calcScaleMarkers = NoScaleMarkers;
  return gHooks;
}

// The buffer of a history as the copies see it: capacity, where the points
// start, and the bytes of one point.  False when the history cannot take
// points: no buffer, a capacity that is not positive, or one whose points
// would not fit in the buffer.  The stored counters are brought into range.
struct HistoryView {
  int32 capacity;
  UPtr points;
  int32 pointBytes;
};

bool ViewHistory(ChartHistory* h, int32 pointBytes, int32 headerOffset, HistoryView* v) {
  if (!h || !h->buffer || !*h->buffer || pointBytes <= 0 || headerOffset < 4) return false;
  int32 size = DSGetHandleSize(h->buffer);
  if (size < 4) return false;
  int32 c = int32(GetNative32(*h->buffer + kChartHistCapacity));
  if (c <= 0 || int64(headerOffset) + int64(c) * pointBytes > size) return false;
  if (h->pending < 0) h->pending = 0;
  if (h->pending > c) h->pending = c;
  if (h->writePos < 0 || h->writePos >= c) h->writePos = int32(((int64(h->writePos) % c) + c) % c);
  v->capacity = c;
  v->points = *h->buffer + headerOffset;
  v->pointBytes = pointBytes;
  return true;
}

void AddTotal(ChartHistory* h, int32 n) { h->total = int32(uInt32(h->total) + uInt32(n)); }

// Drops the oldest of *count points beyond the capacity: the counters move
// past them and the count becomes the capacity.  Returns the points dropped.
int32 SkipOldest(ChartHistory* h, const HistoryView& v, int32* count) {
  if (*count <= v.capacity) return 0;
  int32 skip = *count - v.capacity;
  AddTotal(h, skip);
  h->writePos = int32((int64(h->writePos) + skip) % v.capacity);
  *count = v.capacity;
  return skip;
}

void FinishWrite(ChartHistory* h, const HistoryView& v, int32 count) {
  AddTotal(h, count);
  h->writePos = int32((int64(h->writePos) + count) % v.capacity);
  h->pending = int32(int64(h->pending) + count < v.capacity ? h->pending + count : v.capacity);
}

// Copies count whole points from src into the ring from the write position,
// wrapping at the end: at most two blocks.
// Copies n bytes of points.  A history's points start 8 bytes into a data
// handle, so the destination is rarely 16-byte aligned, which the library
// copy handles slowly: a long copy aligns its destination first and then
// moves 64 bytes a step with unaligned loads and aligned stores.
void CopyPointBytes(uChar* dst, const uChar* src, size_t n) {
  if (n < 256) {
    std::memcpy(dst, src, n);
    return;
  }
  const size_t head = (16 - reinterpret_cast<uintptr_t>(dst) % 16) % 16;
  std::memcpy(dst, src, head);
  dst += head;
  src += head;
  n -= head;
  for (; n >= 64; n -= 64, dst += 64, src += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48));
    _mm_store_si128(reinterpret_cast<__m128i*>(dst), a);
    _mm_store_si128(reinterpret_cast<__m128i*>(dst + 16), b);
    _mm_store_si128(reinterpret_cast<__m128i*>(dst + 32), c);
    _mm_store_si128(reinterpret_cast<__m128i*>(dst + 48), d);
  }
  std::memcpy(dst, src, n);
}

void CopyBlocks(const HistoryView& v, int32 w, const uChar* src, int32 count) {
  int32 first = v.capacity - w < count ? v.capacity - w : count;
  CopyPointBytes(v.points + size_t(w) * size_t(v.pointBytes), src, size_t(first) * size_t(v.pointBytes));
  if (count > first) {
    CopyPointBytes(v.points, src + size_t(first) * size_t(v.pointBytes),
                   size_t(count - first) * size_t(v.pointBytes));
  }
}

// The two sizes of a 2-D array handle and where its values start; false for
// a handle that cannot hold them.
bool Read2D(UHandle src, int32 valueBytes, int32* d0, int32* d1, const uChar** values) {
  if (!src || !*src) return false;
  int32 size = DSGetHandleSize(src);
  if (size < 8) return false;
  *d0 = int32(GetNative32(*src));
  *d1 = int32(GetNative32(*src + 4));
  if (*d0 < 0 || *d1 < 0) return false;
  if (int64(*d0) * *d1 * valueBytes > int64(size) - 8) return false;
  *values = *src + 8;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- interfaces

void RTInterpolate(int32 types, UHandle array, const float64* x, float64* result) {
  float64 r = rtnum::NaN<float64>();
  ValueArray a;
  if (ReadArray(types, array, &a) && a.n > 0) {
    float64 xv = *x;
    if (a.xType == 0) {
      r = a.yType == kTDDBL ? InterpolatePlain(a, xv, DoubleReader()) : InterpolatePlain(a, xv, ConvertReader());
    } else if (a.xType == kTDDBL && a.yType == kTDDBL) {
      r = InterpolatePoints(a, xv, DoubleReader(), DoubleReader());
    } else {
      r = InterpolatePoints(a, xv, ConvertReader(), ConvertReader());
    }
  }
  *result = r;
}

void RTThreshold(int32 types, UHandle array, int32 start, const float64* level, float64* result) {
  float64 r = rtnum::NaN<float64>();
  ValueArray a;
  if (start < 0) start = 0;
  if (ReadArray(types, array, &a) && a.n - start > 0) {
    float64 lv = *level;
    bool dblX = a.xType == 0 || a.xType == kTDDBL;
    if (a.yType == kTDDBL && dblX) {
      r = ThresholdOf(a, start, lv, DoubleReader(), DoubleReader());
    } else {
      r = ThresholdOf(a, start, lv, ConvertReader(), ConvertReader());
    }
  }
  *result = r;
}

MgErr Copy1DToChartHistory(int32 pointSize, int32 headerOffset, const void* points, int32 count,
                           ChartHistory* history) {
  HistoryView v;
  if (count <= 0 || !points || !ViewHistory(history, pointSize, headerOffset, &v)) return kNoErr;
  const uChar* src = static_cast<const uChar*>(points);
  if (count == 1) {
    std::memcpy(v.points + size_t(history->writePos) * size_t(pointSize), src, size_t(pointSize));
    FinishWrite(history, v, 1);
    return kNoErr;
  }
  src += size_t(SkipOldest(history, v, &count)) * size_t(pointSize);
  CopyBlocks(v, history->writePos, src, count);
  FinishWrite(history, v, count);
  return kNoErr;
}

MgErr Copy2DToChartHistory(int32 pointSize, int32 headerOffset, ObjHeap heap, int32 chart, UHandle source,
                           ChartHistory* history, uInt32 options) {
  int32 d0 = 0, d1 = 0;
  const uChar* values = nullptr;
  if (pointSize <= 0) return kArgErr;
  if (source && *source && DSGetHandleSize(source) >= 8 &&
      (GetNative32(*source) == 0 || GetNative32(*source + 4) == 0)) {
    return kNoErr;  // an empty source
  }
  if (!Read2D(source, pointSize, &d0, &d1, &values)) return source ? kArgErr : kNoErr;
  bool transposed = (options & kChartOptTransposed) != 0;
  int32 points = transposed ? d1 : d0;
  int32 plots = transposed ? d0 : d1;
  if (!history || !history->buffer || !*history->buffer || headerOffset < 8 ||
      DSGetHandleSize(history->buffer) < 8) {
    return kArgErr;
  }
  if (int32(GetNative32(*history->buffer + kChartHistPlots)) != plots) {
    MgErr err = ResetChartHistory(heap, chart, history, pointSize, headerOffset, plots);
    if (err) return err;
  }
  if (int64(pointSize) * plots > 0x3FFFFFFF) return kNoErr;
  HistoryView v;
  if (!ViewHistory(history, pointSize * plots, headerOffset, &v)) return kNoErr;
  int32 count = points;
  int32 skip = SkipOldest(history, v, &count);
  int32 w = history->writePos;
  if (!transposed) {
    CopyBlocks(v, w, values + size_t(skip) * size_t(v.pointBytes), count);
  } else {
    for (int32 p = 0; p < plots; ++p) {
      const uChar* src = values + (size_t(p) * size_t(points) + size_t(skip)) * size_t(pointSize);
      int32 slot = w;
      for (int32 i = 0; i < count; ++i, src += pointSize) {
        std::memcpy(v.points + size_t(slot) * size_t(v.pointBytes) + size_t(p) * size_t(pointSize), src,
                    size_t(pointSize));
        if (++slot == v.capacity) slot = 0;
      }
    }
  }
  FinishWrite(history, v, count);
  return kNoErr;
}

MgErr ResetChartHistory(ObjHeap heap, int32 chart, ChartHistory* history, int32 pointSize, int32 headerOffset,
                        int32 plots) {
  if (!history || !history->buffer || !*history->buffer || pointSize <= 0 || headerOffset < 8 || plots < 0 ||
      DSGetHandleSize(history->buffer) < 4) {
    return kArgErr;
  }
  int32 c = int32(GetNative32(*history->buffer + kChartHistCapacity));
  if (c < 0) c = 0;
  int64 bytes = int64(c) * plots * pointSize + headerOffset;
  if (bytes > 0x3FFFFFFF || DSSetHandleSize(history->buffer, int32(bytes)) != kNoErr) return kMemFullErr;
  PutNative32(*history->buffer + kChartHistPlots, uInt32(plots));
  history->total = history->pending = history->writePos = 0;
  if (!heap || !chart) return kNoErr;

  const ChartPanelHooks& hk = Hooks();
  OHSetWord(heap, uInt32(chart), OHWord(heap, uInt32(chart)) | kChartFlagHistoryReset);
  UPtr data = hk.dataPtr(heap, chart);
  if (!data) return kNoErr;
  PutNative32(data + kChartDataUpdateWord, 0);
  float64 lo, hi;
  std::memcpy(&lo, data, sizeof lo);
  std::memcpy(&hi, data + sizeof lo, sizeof hi);
  int32 scale = hk.findPart(heap, chart, kChartPartXScale, 0);
  if (!scale) return kNoErr;
  Bool32 changed = false;
  // The history starts again at x = 0: the scale shows the chart's width from there.
  MgErr err = hk.calcScaleMarkers(heap, scale, 0, std::fabs(hi - lo), false, false, &changed);
  if (err) DBMgErr(__FILE__, __LINE__, err, "ResetChartHistory: scale markers");
  if (changed) {
    err = hk.scaleRecalc(heap, scale);
    if (err) DBMgErr(__FILE__, __LINE__, err, "ResetChartHistory: scale");
    int32 area = hk.findPart(heap, chart, kChartPartScrollbar, 0);
    if (area) hk.inval(heap, area, 0);
  }
  return kNoErr;
}

ChartPanelHooks SetChartPanelHooks(const ChartPanelHooks& hooks) {
  Hooks();  // the defaults first, so that the former set is complete
  return SetGivenHooks(&gHooks, hooks,
                       &ChartPanelHooks::dataPtr, &ChartPanelHooks::findPart, &ChartPanelHooks::inval,
                       &ChartPanelHooks::scaleRecalc, &ChartPanelHooks::calcScaleMarkers);
}
