// Walking a scale's markers: the order of the ends, interior markers and
// minor ticks, the placement of the tick, minor tick and label parts at each,
// the label texts (numbers in displayed units, or the owner's text labels)
// and the walk procedures that count markers, unite their parts' bounds and
// draw grid lines.
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/numconv.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/osupport.h"

namespace {

constexpr int32 kMaxInnerMarkers = 1000;
// With a text list the walk is not cut off at 1000, but no more markers than
// the marker count can hold are walked (a range of many increments would
// otherwise keep the walk going for ever); nor more minor ticks in all.
constexpr int32 kMaxListMarkers = 32767;
constexpr int32 kMaxMinorTicks = 32767;
// Minor ticks between two markers, at most.
constexpr int32 kMaxStretchTicks = 1000;

constexpr uInt32 kEndBits = kScaleEndLabels | kScaleEndTicks;
constexpr uInt32 kLabelBits = kScaleEndLabels | kScaleInnerLabels;
constexpr uInt32 kTickBits = kScaleEndTicks | kScaleInnerTicks | kScaleMinorTicks;
constexpr uInt32 kInnerBits = kScaleInnerLabels | kScaleInnerTicks | kScaleMinorTicks;
constexpr uInt32 kStyleBits = kEndBits | kInnerBits;

uInt32 Flags(ObjHeap heap, int32 obj) { return OHWord(heap, uInt32(obj)); }

void SetBounds(ObjHeap heap, int32 part, const Rect& r) {
  if (ScaleHasBytes(heap, part, kObjBounds + 8)) std::memcpy(*heap + part + kObjBounds, &r, sizeof r);
}

// A coordinate held to 16 bits; one that is not finite gives fallback.
int16 Coord(float64 x, int16 fallback = 0) {
  if (!std::isfinite(x)) return fallback;
  return int16(x < -32768 ? -32768 : x > 32767 ? 32767 : x);
}
// truncate(x + 0.5), held to 16 bits.
int16 Half(float64 x, int16 fallback = 0) { return Coord(std::trunc(x + 0.5), fallback); }

// The rectangle of r's size whose top-left corner is (top, left).
Rect At(const Rect& r, int32 top, int32 left) {
  const int32 h = int32(r.bottom) - r.top, w = int32(r.right) - r.left;
  return Rect{Coord(top), Coord(left), Coord(top + h), Coord(left + w)};
}
// The rectangle of r's size centred on (v, h), halves truncated.
Rect CentredOn(const Rect& r, int32 v, int32 h) {
  return At(r, v - (int32(r.bottom) - r.top) / 2, h - (int32(r.right) - r.left) / 2);
}

bool Overlap(Rect a, const Rect& b) {
  a.top = int16(a.top + 1), a.left = int16(a.left + 1), a.bottom = int16(a.bottom - 1), a.right = int16(a.right - 1);
  return !DEmptyRect(&a) && !DEmptyRect(&b) && a.top < b.bottom && b.top < a.bottom && a.left < b.right &&
         b.left < a.right;
}

// A handle of either zone and its size; -1 for anything else.
int32 AnyHandleSize(UHandle h) {
  if (!h) return -1;
  if (DSCheckHandle(h) == kNoErr) return *h ? DSGetHandleSize(h) : -1;
  if (AZCheckHandle(h) == kNoErr) return *h ? AZGetHandleSize(h) : -1;
  return -1;
}

// The owner's label texts, copied: the strings of the list that lie inside
// its handle (a count larger than the handle holds leaves the rest empty),
// and which items of the owner's ring are disabled.
struct TextList {
  bool present = false;
  int32 count = 0;
  std::vector<uChar> bytes;
  std::vector<int32> offsets;
  std::vector<uInt8> disabled;

  void Read(ObjHeap heap, int32 scale, UHandle list) {
    const int32 size = AnyHandleSize(list);
    if (size < 4) return;
    present = true;
    bytes.assign(*list, *list + size);
    count = int32(GetNative32(bytes.data()));
    int64 at = 4;
    for (int32 i = 0; i < count && at < size && at + 1 + bytes[size_t(at)] <= size; ++i) {
      offsets.push_back(int32(at));
      at += 1 + bytes[size_t(at)];
    }
    // The disabled items of the owner's display ring (bit 0 of each word).
    const int32 owner = ObjWord(heap, scale, kPWOwner);
    const int32 ring = ScaleHasBytes(heap, owner, kObjBounds) ? FindPart(heap, owner, kPartDigital, 0) : 0;
    const UHandle items = ring && ObjIsA(heap, ring, kClsRing) ? ObjItemData(heap, ring) : nullptr;
    const int32 itemsSize = AnyHandleSize(items);
    const int32 n = itemsSize >= 4 ? int32(GetNative32(*items)) : 0;
    for (int32 i = 0; i < n && 8 + 4 * int64(i) <= itemsSize && i < int32(offsets.size()); ++i)
      disabled.push_back(uInt8(GetNative32(*items + 4 + 4 * i) & 1));
  }
  // The entry of a marker index (0 the last entry, n the entry n - 1), -1
  // when the list has none there.
  int32 Entry(int32 index) const {
    const int32 i = index == 0 ? count - 1 : index - 1;
    return i >= 0 && i < int32(offsets.size()) ? i : -1;
  }
};

// Everything the walk keeps between markers.
struct Walk {
  ObjHeap heap;
  int32 scale;
  ScaleRec r;  // a copy: the procedures may allocate and move the data space
  uInt32 flags, style;
  int32 mode;
  bool round, horizontal, log;
  float64 lower, upper, span;
  int32 labelPart, tickPart, minorPart;
  int16 editIndex;
  TRecord labelText;
  TextList texts;
  std::vector<float64> entries;  // arbitrary markers
  int32 firstInterior;
  Rect upperLabel{0, 0, 0, 0}, lastLabel{0, 0, 0, 0};
  int32 minorTicks;
  float64 logMinor;
  ScaleMarkerProc proc;
  ScaleMarkerRec m;
};

// The record's marker array within its handle.
std::vector<float64> MarkerValues(const ScaleRec& r) {
  std::vector<float64> values;
  UHandle m = r.markers;
  if (!m || DSCheckHandle(m) != kNoErr || !*m) return values;
  const int32 size = DSGetHandleSize(m);
  const int32 count = size >= 4 ? int32(GetNative32(*m)) : 0;
  if (count < 0 || int64(count) * kScaleMarkerEntry + 4 > size) return values;
  values.resize(size_t(count));
  for (int32 i = 0; i < count; ++i)
    std::memcpy(&values[size_t(i)], *m + offsetof(ScaleMarkers, entries) + kScaleMarkerEntry * i, 8);
  return values;
}

// The marker's angle (round scales) or pixel (straight ones).
void Position(Walk& w, float64 value) {
  if (w.round) {
    const float64 frac = w.log ? std::log10(value / w.r.min) : value - w.r.min;
    float64 part = frac / w.span;
    if (!std::isfinite(part)) part = 0;
    const float64 angle = w.r.startAngle - w.r.sweep * part;
    w.m.sine = std::sin(angle);
    w.m.cosine = std::cos(angle);
    w.m.pixel = 0;
  } else {
    w.m.sine = w.m.cosine = 0;
    w.m.pixel = ScaleValuePixel(&w.r, value);
  }
}

// The tick part placed at the marker; its length.
float64 PlaceTick(ObjHeap heap, int32 part, uInt32 flags, const ScaleRec& r, const ScaleMarkerRec& m) {
  if (!ScaleHasBytes(heap, part, kObjBounds + 8)) return 0;
  const Rect b = ScalePartBounds(heap, part);
  const float64 w = float64(b.right) - b.left, h = float64(b.bottom) - b.top;
  const bool horizontal = flags & kScaleHorizontal;
  if (!(flags & kScaleRound)) {
    SetBounds(heap, part, horizontal ? At(b, b.top, m.pixel - int32(w) / 2) : At(b, m.pixel - int32(h) / 2, b.left));
    return horizontal ? h : w;
  }
  const float64 s = m.sine, c = m.cosine;
  if (ScalePartIsLine(heap, part)) {
    // A picture drawn as a line from the radius outward (inward).
    float64 length = ObjInt16(heap, part, kObjPartId) == kScalePartMinorTick ? 3 : 5;
    if (horizontal) length = -length;
    auto point = [&](float64 d) {
      return Point{Coord(RndToNearest(r.centre.v - d * s)), Coord(RndToNearest(r.centre.h + d * c))};
    };
    Rect area = b;
    const int32 image = int32(OHWord(heap, uInt32(part + kObjImage))) & 0xFFFF;
    // The rectangle the picture answers for its line becomes the part's bounds.
    if (IProcImageBounds(image, point(r.radius), point(r.radius + length), &area) != kCapabilityErr)
      SetBounds(heap, part, area);
    return length;
  }
  float64 length = std::fabs(c) * w + std::fabs(s) * h;
  if (horizontal) length = -length;
  const float64 d = r.radius + length / 2;
  SetBounds(heap, part, CentredOn(b, Half(r.centre.v - d * s, r.centre.v), Half(r.centre.h + d * c, r.centre.h)));
  return length;
}

// The marker's label text into the label part's text record: the owner's
// text (flagging a disabled item), else the value in displayed units; empty
// for the edited marker and past the list.
void SetLabelText(Walk& w, int32 index, float64 value) {
  const bool edited = (w.mode & kScaleWalkEditing) && index == w.editIndex;
  const uChar* text = nullptr;
  int32 length = 0;
  char buffer[256];
  if (w.texts.present) {
    const int32 entry = w.texts.Entry(index);
    if (entry >= 0 && size_t(entry) < w.texts.disabled.size() && w.texts.disabled[size_t(entry)])
      w.m.flags |= kScaleMarkerDisabled;
    if (entry >= 0 && !edited) {
      text = &w.texts.bytes[size_t(w.texts.offsets[size_t(entry)])];
      length = *text++;
    }
  } else if (!edited) {
    const float64 shown = value * w.r.multiplier + w.r.offset;
    length = NumToText(&shown, kTDDBL, ObjInt16(w.heap, w.scale, kScaleObjFormat), buffer, int32(sizeof buffer));
    text = reinterpret_cast<const uChar*>(buffer);
    if (length < 0) length = 0;
  }
  TReplaceText(w.labelText, text, length);
}

// The label part placed at the marker: its bounds with the new text (or the
// text's own box grown by 1 when the label fits its text), centred on a
// straight scale's pixel or, on a round scale, at the label radius plus
// half its extent along the angle (less, inside) and past the tick.
Rect PlaceLabel(Walk& w, float64 tickLength) {
  const Rect old = ScalePartBounds(w.heap, w.labelPart);
  Rect b = old;
  if (w.labelText && (Flags(w.heap, w.labelPart) & kScaleLabelFitsText)) {
    TGetRect(w.labelText, &b, nullptr);
    b = Rect{int16(b.top - 1), int16(b.left - 1), int16(b.bottom + 1), int16(b.right + 1)};
  }
  Rect placed;
  if (!w.round) {
    placed = w.horizontal ? At(b, b.top, w.m.pixel - (int32(b.right) - b.left) / 2)
                          : At(b, w.m.pixel - (int32(b.bottom) - b.top) / 2, b.left);
  } else {
    const float64 lw = float64(b.right) - b.left, lh = float64(b.bottom) - b.top;
    float64 half = (std::fabs(w.m.cosine) * lw + std::fabs(w.m.sine) * lh) / 2;
    if (w.horizontal) half = -half;
    float64 d = w.r.radius + half;
    if (w.style & kTickBits) d += tickLength;
    placed = CentredOn(b, Half(w.r.centre.v - d * w.m.sine, w.r.centre.v), Half(w.r.centre.h + d * w.m.cosine, w.r.centre.h));
  }
  SetBounds(w.heap, w.labelPart, placed);
  // The text record moves with the part.
  if (w.labelText) TOffsetRect(w.labelText, Point{int16(placed.top - b.top), int16(placed.left - b.left)});
  return placed;
}

// One marker (or minor tick) handed to the procedure; its answer.
int32 Visit(Walk& w, int32 index, float64 value, bool minor) {
  const bool end = index < 2;
  w.m.index = index;
  w.m.flags = 0;
  Position(w, value);
  if (minor) {
    w.m.flags = kScaleMarkerMinor;
    if (!(w.mode & kScaleWalkPositions)) PlaceTick(w.heap, w.minorPart, w.flags, w.r, w.m);
    return w.proc(w.heap, w.scale, &w.m);
  }
  if (w.style & (end ? kScaleEndLabels : kScaleInnerLabels)) w.m.flags |= kScaleMarkerLabel;
  if (w.style & (end ? kScaleEndTicks : kScaleInnerTicks)) w.m.flags |= kScaleMarkerTick;
  if (!(w.mode & kScaleWalkPositions)) {
    const float64 tickLength = PlaceTick(w.heap, w.tickPart, w.flags, w.r, w.m);
    if ((w.m.flags & kScaleMarkerLabel) && w.labelPart) {
      SetLabelText(w, index, value);
      const Rect label = PlaceLabel(w, tickLength);
      // Numbers that would overlap the upper end's label or the last one
      // shown are left out; their ticks stay.
      if (!w.texts.present) {
        if (Overlap(label, w.upperLabel) || Overlap(label, w.lastLabel)) {
          w.m.flags &= uInt16(~kScaleMarkerLabel);
        } else {
          w.lastLabel = label;
          if (index == 0) w.upperLabel = label;
        }
      }
    }
  }
  return w.proc(w.heap, w.scale, &w.m);
}

// The minor ticks between the marker at c and the next at n; the first
// non-zero answer of the procedure.  Linear: upward from c by the minor
// increment, or, below the start value, downward from the start while above
// c.  Logarithmic: the multiples of the minor increment above c, the
// increment then multiplied by the ratio for the next stretch.
int32 MinorTicks(Walk& w, int32 index, float64 c, float64 n) {
  if (w.log) {
    const float64 m = w.logMinor;
    w.logMinor *= w.r.increment;
    if (!(m > 0) || !std::isfinite(m) || !std::isfinite(c) || !std::isfinite(n)) return 0;
    float64 k = std::floor(c / m) + 1;
    for (int32 i = 0; i < kMaxStretchTicks && w.minorTicks < kMaxMinorTicks; ++i, ++k) {
      const float64 t = k * m;
      if (ScaleValueReached(t, n)) break;
      if (!(t > c)) continue;
      ++w.minorTicks;
      if (int32 answer = Visit(w, index, t, true)) return answer;
    }
    return 0;
  }
  const float64 m = w.r.minorIncrement;
  if (!(m > 0) || !std::isfinite(m)) return 0;
  const bool below = c < w.r.start;
  for (int32 k = 1; k <= kMaxStretchTicks && w.minorTicks < kMaxMinorTicks; ++k) {
    const float64 t = below ? w.r.start - m * k : c + m * k;
    if (below ? !ScaleValueBeyond(t, c) : ScaleValueReached(t, n)) break;
    ++w.minorTicks;
    if (int32 answer = Visit(w, index, t, true)) return answer;
  }
  return 0;
}

}  // namespace

Bool32 ScaleValueReached(float64 v, float64 end) {
  if (end == 0) return v >= 0;
  if (v == 0) return end < 0;
  if ((v > 0) == (end > 0)) {
    float64 r = v / end;
    return end > 0 ? r - 1 > -1e-13 : r - 1 < 1e-13;
  }
  return v > end;
}

void ScaleUnite(Rect* into, Rect r) {
  if (!DEmptyRect(&r)) DUnionRect(&r, into);
}

Rect ScalePartBounds(ObjHeap heap, int32 part) {
  Rect r{0, 0, 0, 0};
  if (heap && *heap && ScaleHasBytes(heap, part, kObjBounds + 8)) std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
  return r;
}

Bool32 ScalePartIsLine(ObjHeap heap, int32 part) {
  if (!heap || !*heap || !ScaleHasBytes(heap, part, kObjImage + 4) || ObjClass(heap, part) != kClsCosmetic) return 0;
  const int32 image = int32(OHWord(heap, uInt32(part + kObjImage))) & 0xFFFF;
  return image && IProcImageIsOpaque(image, nullptr, nullptr) == 2;
}

float64 ScalePlaceTickPart(ObjHeap heap, int32 scale, int32 part, const ScaleMarkerRec* marker) {
  const ScaleRec* r = marker ? ScaleRecOf(heap, scale) : nullptr;
  if (!r) return 0;
  const ScaleRec rec = *r;
  return PlaceTick(heap, part, Flags(heap, scale), rec, *marker);
}

int32 ScaleForEachMarker(ObjHeap heap, int32 scale, ScaleMarkerProc proc, void* cookie, const Rect* rect, int32 mode,
                         uInt32 callerMode, UHandle textList) {
  const ScaleRec* rec = proc ? ScaleRecOf(heap, scale) : nullptr;
  if (!rec) return 0;
  Walk w{};
  w.heap = heap;
  w.scale = scale;
  w.proc = proc;
  w.mode = mode;
  // 1. The parts and the style, replaced by ticks only, or none when hidden.
  w.labelPart = FindPart(heap, scale, kScalePartLabel, 0);
  w.tickPart = FindPart(heap, scale, kScalePartTick, 0);
  w.minorPart = FindPart(heap, scale, kScalePartMinorTick, 0);
  w.flags = Flags(heap, scale);
  w.style = w.flags;
  if (mode & (kScaleWalkEndTicks | kScaleWalkInnerTicks | kScaleWalkMinorTicks)) {
    w.style &= ~kStyleBits;
    if (mode & kScaleWalkEndTicks) w.style |= kScaleEndTicks;
    if (mode & kScaleWalkInnerTicks) w.style |= kScaleInnerTicks;
    if (mode & kScaleWalkMinorTicks) w.style |= kScaleMinorTicks;
  } else if (w.flags & kScaleHidden) {
    w.style &= ~kStyleBits;
  }
  w.round = w.flags & kScaleRound;
  w.horizontal = w.flags & kScaleHorizontal;
  w.m = ScaleMarkerRec{0, callerMode, 0, 0, w.tickPart, w.minorPart, w.labelPart, cookie,
                       rect ? *rect : Rect{0, 0, 0, 0}, 0, 0};

  // 2. A label being edited: the label part's bounds are kept, and on a
  // front panel whose editing state holds no text the edited text record is
  // parked there while the walk works on a copy.
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const bool extOk = ScaleHasBytes(heap, ext, kHeapExtWindow + 4);
  w.editIndex = ScaleHasBytes(heap, scale, kScaleObjEditIndex + 2) ? ObjInt16(heap, scale, kScaleObjEditIndex) : -1;
  const bool editing = w.editIndex != -1 && !(mode & kScaleWalkPositions) && (w.style & kLabelBits) && w.labelPart;
  Rect savedBounds{0, 0, 0, 0};
  TRecord parked = nullptr;
  if (editing) {
    savedBounds = ScalePartBounds(heap, w.labelPart);
    const TRecord text = PartTextRecord(heap, w.labelPart);
    if (text && extOk && OHWord(heap, kOHKind) == kPanelHeapKind && !OHWord(heap, uInt32(ext + kHeapExtStashedText)) &&
        ScaleHasBytes(heap, w.labelPart, 4 * (kPWLabelText + 1))) {
      if (const TRecord copy = TDuplicate(text, 0)) {
        parked = text;
        OHSetWord(heap, uInt32(ext + kHeapExtStashedText), uInt32(uintptr_t(text)));
        ObjSetWord(heap, w.labelPart, kPWLabelText, int32(uintptr_t(copy)));
      }
    }
  }
  w.labelText = w.labelPart && !(mode & kScaleWalkPositions) ? PartTextRecord(heap, w.labelPart) : nullptr;
  if (textList) w.texts.Read(heap, scale, textList);

  // 3. The ends in order, the first interior index, the minor increment.
  ScaleRec* live = ScaleRecOf(heap, scale);
  if (live && live->minorIncrement == 0) live->minorIncrement = 0.5;
  w.r = live ? *live : *rec;
  w.log = w.r.mapping == kScaleLog;
  w.lower = w.r.min < w.r.max ? w.r.min : w.r.max;
  w.upper = w.r.min < w.r.max ? w.r.max : w.r.min;
  w.span = w.log ? std::log10(w.r.max / w.r.min) : w.r.max - w.r.min;
  w.logMinor = w.r.minorIncrement;
  const bool arbitrary = w.flags & kScaleArbitrary;
  w.firstInterior = 2;
  if (arbitrary) {
    w.entries = MarkerValues(w.r);
    for (float64 v : w.entries)
      if (v < w.lower) ++w.firstInterior;
  }
  const int32 count = int32(w.entries.size());
  // The value of a marker array entry by marker index, or the upper end.
  auto entry = [&](int32 index) { return index - 2 < count ? w.entries[size_t(index - 2)] : w.upper; };
  auto step = [&](float64 v) { return w.log ? v * w.r.increment : v + w.r.increment; };

  // 4. The first marker: the upper end when the ends show, else the first
  // interior one.
  int32 index;
  float64 value;
  bool walking = true;
  if (w.style & kEndBits) {
    index = 0;
    value = w.upper;
  } else {
    index = w.firstInterior;
    value = arbitrary ? entry(index) : w.r.start;
    if (value >= w.upper) value = w.upper;
    walking = !ScaleValueReached(value, w.upper);
  }
  int32 answer = 0;
  bool cut = false;
  // 5. Each marker.
  while (walking) {
    if (index >= kMaxInnerMarkers && !w.texts.present) {
      DBPrintf("min %{fD}f, max %{fD}f, inc %{fD}f, start %{fD}f", &w.r.min, &w.r.max, &w.r.increment, &w.r.start);
      const long linear = !w.log;
      DBPrintf("d %{fD}f, mult %{fD}f, off %{fD}f lin %ld", &value, &w.r.multiplier, &w.r.offset, linear);
      DBAssert(__FILE__, __LINE__, "scale: more than 1000 markers");
      index = 0;
      value = w.upper;
      cut = true;
    }
    if (index >= kMaxListMarkers) break;
    if ((answer = Visit(w, index, value, false)) != 0 || cut) break;
    // 7. The next marker.
    int32 nextIndex = index + 1;
    float64 next;
    if (index == 0) {
      index = 1;
      value = w.lower;
      continue;
    }
    if (index == 1) {
      if (!(w.style & kInnerBits)) break;
      nextIndex = w.firstInterior;
      next = arbitrary ? entry(nextIndex) : w.r.start == w.lower ? step(w.r.start) : w.r.start;
    } else {
      next = arbitrary ? entry(nextIndex) : step(value);
    }
    if (next >= w.upper) next = w.upper;
    // An increment that does not advance would never reach the upper end.
    if (!arbitrary && !(next > value)) break;
    // 8. The minor ticks up to the next marker.
    if ((w.style & kScaleMinorTicks) && (answer = MinorTicks(w, index, value, next)) != 0) break;
    if (ScaleValueReached(next, w.upper)) break;
    index = nextIndex;
    value = next;
  }

  // 6. The edited label back in place.
  if (editing) {
    SetBounds(heap, w.labelPart, savedBounds);
    const bool stays = parked && (mode & kScaleWalkEditing) && extOk &&
                       int32(OHWord(heap, uInt32(ext + kHeapExtKeyFocus))) == w.labelPart;
    if (parked && !stays) {
      const TRecord copy = PartTextRecord(heap, w.labelPart);
      ObjSetWord(heap, w.labelPart, kPWLabelText, int32(uintptr_t(parked)));
      OHSetWord(heap, uInt32(ext + kHeapExtStashedText), 0);
      if (copy && copy != parked) TDispose(copy);
      if ((mode & kScaleWalkEditing) && OHWord(heap, uInt32(ext + kHeapExtWindow))) TDraw(parked);
    } else if (const TRecord text = PartTextRecord(heap, w.labelPart)) {
      const Rect inner{int16(savedBounds.top + 1), int16(savedBounds.left + 1), int16(savedBounds.bottom - 1),
                       int16(savedBounds.right - 1)};
      TSetRect(text, &inner);
    }
  }
  return answer;
}

int32 ScaleCountMarkers(ObjHeap, int32, ScaleMarkerRec* marker) {
  if (marker && marker->cookie && !(marker->flags & kScaleMarkerMinor)) ++*static_cast<int32*>(marker->cookie);
  return 0;
}

int32 ScaleUnionMarkerRect(ObjHeap heap, int32, ScaleMarkerRec* marker) {
  if (!marker || !marker->cookie) return 0;
  Rect* into = static_cast<Rect*>(marker->cookie);
  const bool ticks = marker->callerMode & kScaleUnionTicks, labels = marker->callerMode & kScaleUnionLabels;
  if (ticks && (marker->flags & kScaleMarkerMinor)) ScaleUnite(into, ScalePartBounds(heap, marker->minorPart));
  if (ticks && (marker->flags & kScaleMarkerTick)) ScaleUnite(into, ScalePartBounds(heap, marker->tickPart));
  if (labels && (marker->flags & kScaleMarkerLabel)) ScaleUnite(into, ScalePartBounds(heap, marker->labelPart));
  return 0;
}

int32 ScaleGridLine(ObjHeap heap, int32 scale, ScaleMarkerRec* marker) {
  const ScaleRec* r = marker && marker->cookie ? ScaleRecOf(heap, scale) : nullptr;
  if (!r || marker->pixel == r->pixelStart || marker->pixel == r->pixelEnd) return 0;
  const auto* pens = static_cast<const ScaleGridPens*>(marker->cookie);
  const Rect& area = marker->rect;
  const int32 p = marker->pixel;
  const bool horizontal = Flags(heap, scale) & kScaleHorizontal;
  if (horizontal ? (p < area.left || p >= area.right) : (p < area.top || p >= area.bottom)) return 0;
  DSelectPen((marker->flags & kScaleMarkerMinor) ? pens->minorPen : pens->majorPen, pens->bwFore, pens->bwBack);
  if (horizontal) {
    DMoveTo(p, area.top);
    DLineTo(p, area.bottom - 1);
  } else {
    DMoveTo(area.left, p);
    DLineTo(area.right - 1, p);
  }
  return 0;
}
