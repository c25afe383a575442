// Scale records and the mappings between values, pixels and angles.
#include <cmath>
#include <cstring>

#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/objects.h"
#include "rtlib/panellocators.h"

namespace {

constexpr float64 kTwoPi = 6.283185307179586;
constexpr float64 kLn10 = 2.302585092994046;

// The plain numeric type of a code, 0 (with an assertion) for one the
// mappings do not take.
int32 MapType(int32 numType) {
  int32 t = numType & ~0x10;
  switch (t) {
    case kTDI8: case kTDI16: case kTDI32: case kTDU8: case kTDU16: case kTDU32:
    case kTDSGL: case kTDDBL: case kTDEXT:
      return t;
    default:
      DBAssert(__FILE__, __LINE__, "scale: unsupported numeric type");
      return 0;
  }
}

float64 Read(int32 t, const void* p) {
  float64 v = 0;
  ConvertNum(t, p, kTDDBL, &v);
  return v;
}

// Integers clamped to their type, then rounded half to even.
void Store(int32 t, float64 x, void* dst) {
  auto clamp = [&](float64 lo, float64 hi) { return std::isnan(x) ? lo : std::nearbyint(x > hi ? hi : x < lo ? lo : x); };
  switch (t) {
    case kTDI8: { int8 v = int8(clamp(-128, 127)); std::memcpy(dst, &v, 1); break; }
    case kTDU8: { uInt8 v = uInt8(clamp(0, 255)); std::memcpy(dst, &v, 1); break; }
    case kTDI16: { int16 v = int16(clamp(-32768, 32767)); std::memcpy(dst, &v, 2); break; }
    case kTDU16: { uInt16 v = uInt16(clamp(0, 65535)); std::memcpy(dst, &v, 2); break; }
    case kTDI32: { int32 v = int32(clamp(-2147483648.0, 2147483647.0)); std::memcpy(dst, &v, 4); break; }
    case kTDU32: { uInt32 v = uInt32(clamp(0, 4294967295.0)); std::memcpy(dst, &v, 4); break; }
    case kTDSGL: { float32 v = float32(x); std::memcpy(dst, &v, 4); break; }
    case kTDDBL: std::memcpy(dst, &x, 8); break;
    default: ConvertNum(kTDDBL, &x, kTDEXT, dst); break;
  }
}

// The record, when its mapping is one the operations know.
const ScaleRec* MappedRec(const ScaleRec* r) {
  if (r && r->mapping != kScaleLinear && r->mapping != kScaleLog) {
    DBAssert(__FILE__, __LINE__, "scale: unknown mapping");
    return nullptr;
  }
  return r;
}

// The record at the offset with a mapping the operations know.
const ScaleRec* Mapped(ObjHeap heap, int32 dataOffset) { return MappedRec(ScaleRecAt(heap, dataOffset)); }

// The ends in the mapping's space: the values, or their logarithms.
void MappedEnds(const ScaleRec* r, float64* a, float64* b) {
  bool log = r->mapping == kScaleLog;
  *a = log ? std::log10(r->min) : r->min;
  *b = log ? std::log10(r->max) : r->max;
}

// What both mapping directions start from: the record, the plain type, the
// ends in the mapping's space and whether that space is logarithmic.
struct Mapping {
  const ScaleRec* r;
  int32 t;
  float64 a, b;
  bool log;
};

// False when the type or the record cannot be mapped.  A caller that has
// found the record already gives it as found.
bool ForMapping(ObjHeap heap, int32 dataOffset, int32 numType, Mapping* m, const ScaleRec* found = nullptr) {
  m->t = MapType(numType);
  m->r = !m->t ? nullptr : found ? MappedRec(found) : Mapped(heap, dataOffset);
  if (!m->r) return false;
  MappedEnds(m->r, &m->a, &m->b);
  m->log = m->r->mapping == kScaleLog;
  return true;
}

// Linear span and origin, or the same of the logarithms.
void SpanOrigin(const ScaleRec* r, float64* span, float64* origin) {
  if (r->mapping == kScaleLog) {
    *span = std::log10(r->max / r->min);
    *origin = std::log10(r->min);
  } else {
    *span = r->max - r->min;
    *origin = r->min;
  }
}

}  // namespace

ScaleRec* ScaleRecAt(ObjHeap heap, int32 dataOffset) {
  UHandle vi = heap && *heap ? PanelHeapOwner(heap) : nullptr;
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (!ds || !*ds || dataOffset < kPanelDataFloor || (dataOffset & 3) ||
      int64(dataOffset) + int64(sizeof(ScaleRec)) > DSGetHandleSize(ds)) {
    DBAssert(__FILE__, __LINE__, "scale: no ScaleRec");
    return nullptr;
  }
  return reinterpret_cast<ScaleRec*>(*ds + dataOffset);
}

ScaleRec* ScaleRecOf(ObjHeap heap, int32 scale) {
  if (!heap || !*heap || !scale) return nullptr;
  int32 data = int32(OHWord(heap, uInt32(scale + 4 * kScaleObjData)));
  int32 td = int32(OHWord(heap, uInt32(scale + 4 * kScaleObjDataTD)));
  if (!data || !PanelEntryTD(heap, data, td, int32(sizeof(ScaleRec)))) {
    // A scale read from a damaged file can lack its record: reported, and
    // every caller treats the scale as having none.
    DBPrintf("scale: no ScaleRec (%s line %ld)", __FILE__, long(__LINE__));
    return nullptr;
  }
  return ScaleRecAt(heap, data);
}

int32 GetScaleRange(ObjHeap heap, int32 control, float64* min, float64* max, int16* pixelStart, int16* pixelEnd) {
  const int32 scale = heap && *heap && control ? FindPart(heap, control, kControlPartScale, 0) : 0;
  const ScaleRec* r = scale ? ScaleRecOf(heap, scale) : nullptr;
  if (!r) return 0;
  if (min) *min = r->min;
  if (max) *max = r->max;
  if (pixelStart) *pixelStart = r->pixelStart;
  if (pixelEnd) *pixelEnd = r->pixelEnd;
  const bool agree = (r->pixelStart < r->pixelEnd) == (r->min < r->max);
  const bool horizontal = OHWord(heap, uInt32(scale)) & kScaleHorizontal;
  return horizontal ? !agree : agree;
}

namespace {

// A mapped coordinate on the pixel grid: NaN 15005, pinned to +-15000,
// halves away from zero.
inline int16 PinnedPixel(float64 p) {
  if (p != p) return 15005;
  // Pinned and rounded without branches (min, max, the sign copied to the half).
  p = p < -15000 ? -15000 : p;
  p = p > 15000 ? 15000 : p;
  return int16(int32(p + std::copysign(0.5, p)));
}

// One multiply-add a value: the type's load, the logarithm on a
// logarithmic scale, the pinned rounding.
template <typename T, bool Log>
void MapLoop(const uChar* v, int32 valueStride, int32 count, uChar* px, int32 pixelStride, float64 origin, float64 k,
             float64 pixelStart) {
  for (int32 i = 0; i < count; ++i, v += valueStride, px += pixelStride) {
    T raw;
    std::memcpy(&raw, v, sizeof raw);
    float64 x = float64(raw);
    if constexpr (Log) x = (x <= 0 || x != x) ? -INFINITY : std::log10(x);
    const int16 out = PinnedPixel((x - origin) * k + pixelStart);
    std::memcpy(px, &out, 2);
  }
}

template <bool Log>
void MapTyped(int32 t, const uChar* v, int32 vs, int32 n, uChar* px, int32 ps, float64 origin, float64 k, float64 s) {
  switch (t) {
    case kTDI8: MapLoop<int8, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDI16: MapLoop<int16, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDI32: MapLoop<int32, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDU8: MapLoop<uInt8, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDU16: MapLoop<uInt16, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDU32: MapLoop<uInt32, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDSGL: MapLoop<float32, Log>(v, vs, n, px, ps, origin, k, s); break;
    case kTDDBL: MapLoop<float64, Log>(v, vs, n, px, ps, origin, k, s); break;
    default:  // extended: through the conversion, one value at a time
      for (int32 i = 0; i < n; ++i, v += vs, px += ps) {
        float64 x = Read(t, v);
        MapLoop<float64, Log>(reinterpret_cast<const uChar*>(&x), 0, 1, px, 0, origin, k, s);
      }
      break;
  }
}

}  // namespace

int16 ScaleValuePixel(const ScaleRec* r, float64 value) {
  float64 a, b;
  MappedEnds(r, &a, &b);
  const float64 k = (float64(r->pixelEnd) - float64(r->pixelStart)) / (b - a);
  if (r->mapping == kScaleLog) value = (value <= 0 || value != value) ? -INFINITY : std::log10(value);
  return PinnedPixel((value - a) * k + r->pixelStart);
}

namespace {

void MapValues(ObjHeap heap, int32 dataOffset, int32 numType, const void* values, int32 valueStride, int32 count,
               int16* pixels, int32 pixelStride, const ScaleRec* found) {
  Mapping m;
  if (count <= 0 || !values || !pixels || !ForMapping(heap, dataOffset, numType, &m, found)) return;
  const float64 k = (float64(m.r->pixelEnd) - float64(m.r->pixelStart)) / (m.b - m.a);
  const float64 start = m.r->pixelStart;
  const auto* v = static_cast<const uChar*>(values);
  auto* px = reinterpret_cast<uChar*>(pixels);
  if (m.log) MapTyped<true>(m.t, v, valueStride, count, px, pixelStride, m.a, k, start);
  else MapTyped<false>(m.t, v, valueStride, count, px, pixelStride, m.a, k, start);
}

}  // namespace

void MapValuesToPixels(ObjHeap heap, int32 dataOffset, int32 numType, const void* values, int32 valueStride,
                       int32 count, int16* pixels, int32 pixelStride) {
  MapValues(heap, dataOffset, numType, values, valueStride, count, pixels, pixelStride, nullptr);
}

void MapPixelsToValues(ObjHeap heap, int32 dataOffset, int32 numType, const int16* pixels, int32 pixelStride,
                       int32 count, void* values, int32 valueStride) {
  Mapping m;
  if (!ForMapping(heap, dataOffset, numType, &m)) return;
  const ScaleRec* r = m.r;
  float64 step = (m.b - m.a) / (float64(r->pixelEnd) - float64(r->pixelStart));
  uChar* v = static_cast<uChar*>(values);
  for (int32 i = 0; i < count; ++i, v += valueStride) {
    int16 p = pixels[int64(i) * pixelStride];
    float64 x = p == r->pixelStart ? m.a : p == r->pixelEnd ? m.b : (p - r->pixelStart) * step + m.a;
    if (m.log) x = std::exp(x * kLn10);
    Store(m.t, x, v);
  }
}

void ScalePixelToValuePinned(ObjHeap heap, int32 dataOffset, int32 numType, int16* pixel, void* value) {
  const ScaleRec* r = pixel ? ScaleRecAt(heap, dataOffset) : nullptr;
  if (!r) return;
  int16 lo = r->pixelStart < r->pixelEnd ? r->pixelStart : r->pixelEnd;
  int16 hi = r->pixelStart < r->pixelEnd ? r->pixelEnd : r->pixelStart;
  if (*pixel < lo) *pixel = lo;
  if (*pixel > hi) *pixel = hi;
  MapPixelsToValues(heap, dataOffset, numType, pixel, 1, 1, value, 0);
}

void KnobPointToAngle(ObjHeap heap, int32 dataOffset, Point point, float64* angle) {
  const ScaleRec* r = angle ? ScaleRecAt(heap, dataOffset) : nullptr;
  if (!r) return;
  if (point.v == r->centre.v && point.h == r->centre.h) {
    *angle = 0;
    return;
  }
  float64 a = std::atan2(float64(r->centre.v) - point.v, float64(point.h) - r->centre.h);
  *angle = a < 0 ? a + kTwoPi : a;
}

void KnobAngleToValue(ObjHeap heap, int32 dataOffset, int32 numType, float64 angle, void* value) {
  int32 t = MapType(numType);
  const ScaleRec* r = t && value ? Mapped(heap, dataOffset) : nullptr;
  if (!r) return;
  float64 gap = kTwoPi - r->sweep;
  float64 d = angle - r->startAngle;
  if (d < 0) d += kTwoPi;
  float64 x;
  if (d < gap / 2) {
    x = r->min;
  } else if (d < gap) {
    x = r->max;
  } else {
    if (angle > r->startAngle) angle -= kTwoPi;
    float64 span, origin;
    SpanOrigin(r, &span, &origin);
    x = (r->startAngle - angle) / r->sweep * span + origin;
    if (r->mapping == kScaleLog) x = std::pow(10.0, x);
  }
  ConvertNum(kTDDBL, &x, t, value);
}

void ScaleValueToPixelPinned(ObjHeap heap, int32 dataOffset, int32 numType, const void* value, int16* pixel) {
  const ScaleRec* r = pixel && value ? ScaleRecAt(heap, dataOffset) : nullptr;
  if (!r) return;
  int16 p = 15005;
  MapValues(heap, dataOffset, numType, value, 0, 1, &p, 1, r);
  const int16 lo = r->pixelStart < r->pixelEnd ? r->pixelStart : r->pixelEnd;
  const int16 hi = r->pixelStart < r->pixelEnd ? r->pixelEnd : r->pixelStart;
  *pixel = p < lo ? lo : p > hi ? hi : p;
}

void KnobValueToPoint(ObjHeap heap, int32 dataOffset, int32 numType, int32 radius, const void* value, Point* point) {
  const int32 t = MapType(numType);
  const ScaleRec* r = t && value && point ? Mapped(heap, dataOffset) : nullptr;
  if (!r) return;
  if (radius == 0) {
    *point = r->centre;
    return;
  }
  // The value held between the ends, whatever their order (NaN at the lower).
  const float64 lo = r->min < r->max ? r->min : r->max, hi = r->min < r->max ? r->max : r->min;
  float64 x = Read(t, value);
  x = !(x > lo) ? lo : x > hi ? hi : x;
  float64 frac, span;
  if (r->mapping == kScaleLog) {
    frac = std::log10(x / r->min);
    span = std::log10(r->max / r->min);
  } else {
    frac = x - r->min;
    span = r->max - r->min;
  }
  float64 part = frac / span;
  if (!std::isfinite(part)) part = 0;
  const float64 angle = r->startAngle - r->sweep * part;
  // Truncated after adding a half; a coordinate that is not finite, or past
  // 16 bits, stays at the centre or is pinned.
  auto coord = [](float64 c, int16 centre) {
    if (!std::isfinite(c)) return centre;
    c = std::trunc(c);
    return int16(c < -32768 ? -32768 : c > 32767 ? 32767 : c);
  };
  point->h = coord(std::cos(angle) * radius + r->centre.h + 0.5, r->centre.h);
  point->v = coord(r->centre.v - std::sin(angle) * radius + 0.5, r->centre.v);
}
