// Geometry of composite data objects: fitted frames, needles and fills
// following values, index displays, text parts taking keys, Tab between
// elements and arrays scrolled by whole cells.
#include "panel/datageom.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/fewlist.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/numconv.h"
#include "mgsource/objlist.h"
#include "mgsource/rects.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/ctrldraw.h"
#include "panel/methsupport.h"
#include "panel/objdraw.h"
#include "panel/oinval.h"
#include "panel/osupport.h"

namespace {

const char kSource[] = "datageom";

constexpr int32 kLeading = int32(sizeof(ObjLeadingFields));
constexpr int32 kMaxOwnerChain = 64;  // deeper nesting than any panel builds
constexpr int32 kMaxElements = 4096;  // more sliders or elements than any panel holds
constexpr int32 kActOperate = 15;
constexpr int32 kReplyPassOn = 0x800, kReplyCommitted = 0x40;
constexpr uInt32 kFlagsCommit = 1u << 11, kFlagsNoCommit = 1u << 20, kFlagsKeep = 1u << 0;
constexpr int32 kSelAll = 0x7FFFFFFF;

bool Live(ObjHeap heap, int32 o, int32 bytes = kLeading) {
  return heap && *heap && o > 0 && OHIsUsedBlockOf(heap, o, bytes);
}
uInt32 Flags(ObjHeap heap, int32 o) { return uInt32(ObjWord(heap, o, 0)); }
void SetFlags(ObjHeap heap, int32 o, uInt32 f) { ObjSetWord(heap, o, 0, int32(f)); }
bool Hidden(ObjHeap heap, int32 o) { return Flags(heap, o) & kObjFlagHidden; }
Rect Bounds(ObjHeap heap, int32 o) {
  Rect r;
  std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
int16 I16(ObjHeap heap, int32 o, int32 at) { return ObjInt16(heap, o, at); }
void SetI16(ObjHeap heap, int32 o, int32 at, int32 v) {
  const int16 x = int16(std::clamp(v, -32768, 32767));
  std::memcpy(*heap + o + at, &x, 2);
}
int16 Pin16(int64 v) { return int16(std::clamp<int64>(v, -32768, 32767)); }
int32 Ext(ObjHeap heap, int32 at) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  return Live(heap, ext, kHeapExtensionSize) ? int32(GetNative32(*heap + ext + at)) : 0;
}
void SetExt(ObjHeap heap, int32 at, int32 v) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (Live(heap, ext, kHeapExtensionSize)) PutNative32(*heap + ext + at, uInt32(v));
}
WindowRef Window(ObjHeap heap) { return WindowRef(Ext(heap, kHeapExtWindow)); }
UHandle OwnerVI(ObjHeap heap) {
  UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? vi : nullptr;
}
uInt32 OwnerMode(ObjHeap heap) {
  UHandle vi = OwnerVI(heap);
  return vi ? VIRec(vi)->flags2 : 0;
}

// The object's rectangle (bounds kind); empty for an object that is none.
Rect RectOf(ObjHeap heap, int32 o) {
  Rect r{0, 0, 0, 0};
  if (Live(heap, o)) OGetRect(heap, o, &r, kRectBounds);
  return r;
}
Rect Grow(Rect r, int32 top, int32 left, int32 bottom, int32 right) {
  return Rect{Pin16(int64(r.top) - top), Pin16(int64(r.left) - left), Pin16(int64(r.bottom) + bottom),
              Pin16(int64(r.right) + right)};
}
// The element's cell: its rectangle, one pixel larger on each side when the
// array widens its cells.
Rect CellOf(ObjHeap heap, int32 array, int32 element) {
  const Rect r = RectOf(heap, element);
  return (Flags(heap, array) & kArrayFlagWideCells) ? Grow(r, 1, 1, 1, 1) : r;
}

// The frame (part 9) grown by the border between it and its inner area
// (part 28) to hold area; false without a frame.
bool FrameAround(ObjHeap heap, int32 o, const Rect& area, Rect* frame, int32* frameOut) {
  const int32 outer = FindPart(heap, o, kPartFrame, 0);
  if (!Live(heap, outer)) return false;
  const int32 inner = FindPart(heap, o, kPartFrameInner, 0);
  const Rect f = Bounds(heap, outer);
  const Rect i = Live(heap, inner) ? Bounds(heap, inner) : f;
  *frame = Grow(area, i.top - f.top, i.left - f.left, f.bottom - i.bottom, f.right - i.right);
  *frameOut = outer;
  return true;
}

// The common ending: the object invalidated, its frame and then the object
// sized, the object invalidated again; 1 when the frame changed.
int32 FitFrameTo(ObjHeap heap, int32 o, int32 frame, const Rect& r) {
  const Rect now = Bounds(heap, frame);
  if (DEqualRect(&now, &r)) return 0;
  OInval(heap, o, kInvalAll);
  OSizeObj(heap, frame, &r, 0);
  OSizeObj(heap, o, nullptr, kPartFrame);
  OInval(heap, o, kInvalAll);
  return 1;
}

// The entries of the object's list word that name objects (a list whose
// count does not fit its block gives none).
std::vector<int32> Entries(ObjHeap heap, int32 list) {
  std::vector<int32> out;
  if (!Live(heap, list, 4)) return out;
  const int32 n = int32(GetNative32(*heap + list));
  if (n < 0 || n > (OHBlockSize(heap, list) - 4) / 4 || n > kMaxElements) return out;
  for (int32 i = 0; i < n; ++i) out.push_back(ObjListGet(heap, list, i));
  return out;
}
std::vector<int32> ListOf(ObjHeap heap, int32 o, int32 word) {
  return Live(heap, o, 4 * (word + 1)) ? Entries(heap, ObjWord(heap, o, word)) : std::vector<int32>{};
}

}  // namespace

// ---- Frames ------------------------------------------------------------------------------

int32 ArrayFitFrame(ObjHeap heap, int32 array) {
  if (!Live(heap, array, kArrayFirstRowAt + 2)) return 0;
  const int32 element = ObjWord(heap, array, kContainerElementsWord);
  if (!Live(heap, element)) return 0;
  const Rect cell = CellOf(heap, array, element);
  const int64 h = cell.bottom - cell.top, w = cell.right - cell.left;
  const int64 top = cell.top - h * I16(heap, array, kArrayFirstRowAt);
  const int64 left = cell.left - w * I16(heap, array, kArrayFirstColAt);
  const Rect grid{Pin16(top), Pin16(left), Pin16(top + h * (I16(heap, array, kArrayGridRowsAt) + 1)),
                  Pin16(left + w * (I16(heap, array, kArrayGridColsAt) + 1))};
  Rect frame;
  int32 part = 0;
  return FrameAround(heap, array, grid, &frame, &part) ? FitFrameTo(heap, array, part, frame) : 0;
}

int32 RefNumFitFrame(ObjHeap heap, int32 refnum) {
  if (!Live(heap, refnum, 4 * (kContainerElementsWord + 1))) return 0;
  const int32 inner = ObjWord(heap, refnum, kContainerElementsWord);
  const int32 frame = FindPart(heap, refnum, kPartFrame, 0);
  if (!Live(heap, inner) || !Live(heap, frame)) return 0;
  const Rect r = RectOf(heap, inner);
  const int32 area = FindPart(heap, refnum, kPartFrameInner, 0);
  if (Live(heap, area)) {
    const Rect a = Bounds(heap, area);
    if (DEqualRect(&a, &r)) {
      OInval(heap, refnum, kInvalValue);
      return 0;
    }
  }
  return FitFrameTo(heap, refnum, frame, Grow(r, 5, 5, 5, 5));
}

int32 ClusterFitList(ObjHeap heap, int32 cluster, int32 list, int32 margin) {
  Rect all{0, 0, 0, 0};
  bool any = false;
  for (int32 e : Entries(heap, list)) {
    if (!Live(heap, e) || Hidden(heap, e)) continue;
    const Rect r = RectOf(heap, e);
    if (!any) all = r, any = true;
    else DUnionRect(&r, &all);
  }
  if (!any) return 0;
  Rect frame;
  int32 part = 0;
  if (!FrameAround(heap, cluster, Grow(all, margin, margin, margin, margin), &frame, &part)) return 0;
  const Rect now = Bounds(heap, part);
  const uInt32 f = Flags(heap, cluster);
  if (!(f & kClusterFlagFollowH)) frame.left = now.left, frame.right = now.right;
  if (!(f & kClusterFlagFollowV)) frame.top = now.top, frame.bottom = now.bottom;
  return FitFrameTo(heap, cluster, part, frame);
}

int32 ClusterFitFrame(ObjHeap heap, int32 cluster, int32 margin) {
  // A cluster without an element list has nothing to fit.
  const int32 list = ClusterElementList(heap, cluster);
  return list ? ClusterFitList(heap, cluster, list, margin) : 0;
}

// ---- Needles and fills ---------------------------------------------------------------------

namespace {

// The values of a slide or knob: one scalar, or the elements of a cluster.
struct Values {
  const TypeDescriptor* td = nullptr;
  int32 count = 0;
  // Where each value lies, its size and numeric type: one scalar in place,
  // a cluster's elements in the list.
  struct Element {
    int32 offset = 0, size = 0, type = 0;
  };
  Element one;
  std::vector<Element> elements;
  const Element& operator[](int32 i) const { return count == 1 && elements.empty() ? one : elements[size_t(i)]; }
};
int32 NumTypeOf(const TypeDescriptor* td) {
  const int32 t = td ? (td->code & ~0x10) : 0;
  return t >= kTDI8 && t <= kTDEXT ? t : 0;
}
// known: the object's type descriptor (typedefs skipped) when the caller
// has read it, else null.
bool ValuesOf(ObjHeap heap, int32 object, Values* v, const TypeDescriptor* known = nullptr) {
  if (!Live(heap, object, 4 * (kPWDDOTypeId + 1))) return false;
  const TypeDescriptor* td = known;
  if (!td) {
    const TypeID id = TypeID(ObjWord(heap, object, kPWDDOTypeId));
    td = id ? TypeIDToTD(heap, id) : nullptr;
    td = td ? SkipTypedefs(td) : nullptr;
  }
  if (!td) return false;
  v->td = td;
  if (td->code != kTDCluster) {
    if (!NumTypeOf(td)) return false;
    v->count = 1;
    v->one = {0, DataSize(td), NumTypeOf(td)};
    return true;
  }
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  if (n < 1 || n > kMaxElements) return false;
  int32 at = 0;
  v->elements.reserve(size_t(n));
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* e = ElemTD(td, i);
    if (!e || !NumTypeOf(e)) return false;
    at = AlignDatum(e, at);
    v->elements.push_back({at, DataSize(e), NumTypeOf(e)});
    at += DataSize(e);
  }
  v->count = n;
  return true;
}
double ValueAt(const Values& v, const void* data, int32 i) {
  double d = 0;
  ConvertNum(v[i].type, static_cast<const uChar*>(data) + v[i].offset, kTDDBL, &d);
  return d;
}

// The parts of an object as FindPart finds them, read once: an update
// looks several up by id and order.  Up to kKept parts are kept; an object
// with more is asked FindPart each time.
class Parts {
 public:
  Parts(ObjHeap heap, int32 object) : heap_(heap), object_(object) {
    ForEachPartReading(heap, object, [&](int32 p) {
      if (n_ < kKept) list_[n_] = {p, ObjInt16(heap, p, kObjPartId), ObjInt16(heap, p, kObjPartOrder)};
      ++n_;
    });
  }
  // The first part of the id and order, 0 for none.
  int32 Find(int16 id, int32 order) const {
    if (n_ > kKept) return FindPart(heap_, object_, id, order);
    for (int32 i = 0; i < n_; ++i)
      if (list_[i].id == id && list_[i].order == order) return list_[i].part;
    return 0;
  }
  // Calls visit(part) for each part of the id, in list order.
  template <typename Visit>
  void EachOf(int16 id, Visit visit) const {
    if (n_ > kKept) {
      ForEachPart(heap_, object_, [&](int32 p) {
        if (ObjInt16(heap_, p, kObjPartId) == id) visit(p);
      });
      return;
    }
    for (int32 i = 0; i < n_; ++i)
      if (list_[i].id == id) visit(list_[i].part);
  }

 private:
  static constexpr int32 kKept = 16;
  struct Entry {
    int32 part;
    int16 id, order;
  };
  ObjHeap heap_;
  int32 object_;
  Entry list_[kKept];
  int32 n_ = 0;
};

// The scale of a slide or knob (part 17): its range and the data offset of
// its record; false without one or before the controls are there.
struct ScaleInfo {
  float64 min = 0, max = 0;
  int32 data = 0;
  // The last value mapped to a pixel and its pixel: a slide's needle and
  // fill map the same value in one update, and the record stays as it is.
  mutable float64 mapped = 0;
  mutable int32 pixel = 0;
  mutable bool any = false;
};
bool ScaleOf(ObjHeap heap, const Parts& parts, ScaleInfo* s) {
  const int32 scale = parts.Find(kPartScale, 0);
  const PanelScaleHooks& h = PanelScale();
  PanelScaleInfo info{};
  if (!Live(heap, scale, 4 * (kPWScaleData + 1)) || !h.scaleInfo || !h.scaleValueToPixelPinned ||
      !h.knobValueToPoint || !h.scaleInfo(heap, scale, &info))
    return false;
  *s = ScaleInfo{};
  s->min = info.min, s->max = info.max, s->data = ObjWord(heap, scale, kPWScaleData);
  return true;
}
int32 PixelOf(ObjHeap heap, const ScaleInfo& s, float64 value) {
  if (s.any && s.mapped == value) return s.pixel;
  int16 p = 0;
  s.mapped = value;
  PanelScale().scaleValueToPixelPinned(heap, s.data, kTDDBL, &value, &p);
  s.pixel = p, s.any = true;
  return p;
}
Point KnobPointOf(ObjHeap heap, const ScaleInfo& s, int32 radius, float64 value) {
  Point p{0, 0};
  PanelScale().knobValueToPoint(heap, s.data, kTDDBL, radius, &value, &p);
  return p;
}

// The rectangles to redraw; and the unions of the rectangles the fills left
// and entered.
struct Changes {
  FewList<Rect, 8> rects;  // a needle and a fill each leave and enter
  Rect left{0, 0, 0, 0}, entered{0, 0, 0, 0};
  int32 fills = 0;
  void Add(const Rect& r) {
    if (!DEmptyRect(&r)) rects.push_back(r);
  }
  static void Unite(Rect* all, const Rect& r) {
    if (DEmptyRect(&r)) return;
    if (DEmptyRect(all)) *all = r;
    else DUnionRect(&r, all);
  }
};

// A part moved to r: the rectangles it leaves and enters collected.
void MovePart(ObjHeap heap, int32 part, const Rect& r, Changes* c, bool always = false) {
  const Rect old = Bounds(heap, part);
  if (DEqualRect(&old, &r) && !always) return;
  c->Add(old), c->Add(r);
  OSizeObj(heap, part, &r, 0);
}

// A fill part sized to r: with strips only the sides that changed.
void SizeFill(ObjHeap heap, int32 fill, const Rect& r, bool horizontal, Changes* c, bool always) {
  const Rect old = Bounds(heap, fill);
  if (DEqualRect(&old, &r) && !always) return;
  Changes::Unite(&c->left, old), Changes::Unite(&c->entered, r), ++c->fills;
  if (!(Flags(heap, fill) & kFillFlagStrips) || DEmptyRect(&old) || DEmptyRect(&r)) {
    c->Add(old), c->Add(r);
  } else if (horizontal) {
    c->Add(Rect{old.top, std::min(old.left, r.left), old.bottom, std::max(old.left, r.left)});
    c->Add(Rect{old.top, std::min(old.right, r.right), old.bottom, std::max(old.right, r.right)});
  } else {
    c->Add(Rect{std::min(old.top, r.top), old.left, std::max(old.top, r.top), old.right});
    c->Add(Rect{std::min(old.bottom, r.bottom), old.left, std::max(old.bottom, r.bottom), old.right});
  }
  OSizeObj(heap, fill, &r, 0);
}

void MoveNeedles(ObjHeap heap, int32 object, bool knob, const Parts& parts, const Values& v, const void* oldData,
                 const void* newData, bool inArray, const ScaleInfo& sr, Changes* c) {
  const bool horizontal = Flags(heap, object) & kSlideFlagHorizontal;
  for (int32 i = 0; i < v.count; ++i) {
    const bool changed = !oldData || inArray || v.count == 1 ||
                         std::memcmp(static_cast<const uChar*>(oldData) + v[i].offset,
                                     static_cast<const uChar*>(newData) + v[i].offset, size_t(v[i].size)) != 0;
    const int32 needle = parts.Find(kPartNeedle, i);
    if (!changed || !Live(heap, needle)) continue;
    const double value = ValueAt(v, newData, i);
    const Rect r = Bounds(heap, needle);
    const int32 h = r.bottom - r.top, w = r.right - r.left;
    // The needle's new top-left (computed wide: a stored needle may be too
    // large to move without leaving the coordinates, and then stays).
    int32 top = r.top, left = r.left;
    if (knob) {
      if (!Live(heap, object, 4 * (kKnobNeedleWord + 1))) continue;
      const Point p = KnobPointOf(heap, sr, ObjWord(heap, object, kKnobNeedleWord), value);
      top = p.v - h / 2, left = p.h - w / 2;
    } else if (horizontal) {
      left = PixelOf(heap, sr, value) - w / 2;
    } else {
      top = PixelOf(heap, sr, value) - h / 2;
    }
    if (top < -32768 || top + h > 32767 || left < -32768 || left + w > 32767) continue;
    MovePart(heap, needle, Rect{int16(top), int16(left), int16(top + h), int16(left + w)}, c, inArray);
    const Rect now = Bounds(heap, needle);
    QX_ASSERT_MSG(now.bottom - now.top == h && now.right - now.left == w, "a needle changed its size");
  }
}

void MoveFills(ObjHeap heap, int32 object, const Parts& parts, const Values& v, const void* data, bool inArray,
               const ScaleInfo& sr, Changes* c) {
  const double top = std::max(sr.min, sr.max), bottom = std::min(sr.min, sr.max);
  const bool horizontal = Flags(heap, object) & kSlideFlagHorizontal;
  auto pinned = [&](int32 i) { return std::clamp(ValueAt(v, data, i), bottom, top); };
  FewList<int32, 4> fills;
  parts.EachOf(kPartFill, [&](int32 p) {
    if (Live(heap, p) && !Hidden(heap, p)) fills.push_back(p);
  });
  for (int32 fill : fills) {
    const int32 order = v.count == 1 ? 0 : ObjInt16(heap, fill, kObjPartOrder);
    if (order < 0 || order >= v.count) continue;
    const double value = pinned(order);
    double base = (Flags(heap, fill) & kFillFlagFromTop) ? top : bottom;
    if (v.td->code == kTDCluster && (Flags(heap, fill) & kFillFlagStopAtNeedle)) {
      for (int32 j = 0; j < v.count; ++j) {
        const double other = pinned(j);
        if (j != order && other >= std::min(value, base) && other <= std::max(value, base) &&
            std::fabs(other - value) < std::fabs(base - value))
          base = other;
      }
    }
    const int32 a = PixelOf(heap, sr, value), b = PixelOf(heap, sr, base);
    Rect r = Bounds(heap, fill);
    if (horizontal) r.left = Pin16(std::min(a, b)), r.right = Pin16(std::max(a, b) + 1);
    else r.top = Pin16(std::min(a, b)), r.bottom = Pin16(std::max(a, b) + 1);
    SizeFill(heap, fill, r, horizontal, c, inArray);
  }
}

// Brackets drawing into the panel's window w (0: none).
class PanelPort {
 public:
  explicit PanelPort(WindowRef w) {
    if (!w || !WIsWindow(w)) return;
    // A setup around this one already draws into the window itself: its
    // port is used as it is rather than set up again.
    int32 image = 0, window = 0;
    IGetCurrentTarget(&image, &window);
    if (WCurrentPort() == w && window == w && image && IKindOf(image) == kImageWindow) return;
    WSetup(w, &saved_), on_ = true;
  }
  ~PanelPort() {
    if (on_) WRestore(&saved_);
  }
  PanelPort(const PanelPort&) = delete;
  PanelPort& operator=(const PanelPort&) = delete;

 private:
  WPortState saved_{};
  bool on_ = false;
};

}  // namespace

int32 ObjMapDataToScale(ObjHeap heap, int32 object, int32 scalePart, Rect* left, Rect* entered, const void* data) {
  Values v;
  ScaleInfo sr;
  Changes c;
  if (left) *left = c.left;
  if (entered) *entered = c.entered;
  if (!data || !Live(heap, object) || ObjIsA(heap, object, kClsKnob) || !ValuesOf(heap, object, &v)) return 0;
  const Parts parts(heap, object);
  if ((scalePart && scalePart != parts.Find(kPartScale, 0)) || !ScaleOf(heap, parts, &sr)) return 0;
  MoveFills(heap, object, parts, v, data, IsInArray(heap, object), sr, &c);
  if (left) *left = c.left;
  if (entered) *entered = c.entered;
  return c.fills ? 1 : 0;
}

int32 ObjUpdateDataBounds(ObjHeap heap, int32 object, const void* oldData, const void* newData, int32 options) {
  return ObjUpdateDataBoundsOfType(heap, object, nullptr, oldData, newData, options);
}

int32 ObjUpdateDataBoundsOfType(ObjHeap heap, int32 object, const TypeDescriptor* td, const void* oldData,
                                const void* newData, int32 options) {
  if (options < 0 || options > kBoundsOptionsMax) {
    DBAssert(kSource, __LINE__, "ObjUpdateDataBounds: options above 7");
    return 0;
  }
  // ValuesOf checks the object's block for its leading fields and more.
  static_assert(kLeading <= 4 * (kPWDDOTypeId + 1), "the type word lies past the leading fields");
  Values v;
  if (!newData || !ValuesOf(heap, object, &v, td)) return 0;
  const Parts parts(heap, object);
  ScaleInfo sr;
  if (!ScaleOf(heap, parts, &sr)) return 0;
  // The panel's window, read again only after a digital display (whose
  // method may change what the heap shows in).
  WindowRef window = Window(heap);
  const PanelPort port((options & kBoundsSetPort) ? window : 0);
  const bool inArray = IsInArray(heap, object);
  const bool knob = ObjIsA(heap, object, kClsKnob);
  Changes c;
  MoveNeedles(heap, object, knob, parts, v, oldData, newData, inArray, sr, &c);
  if (!knob) MoveFills(heap, object, parts, v, newData, inArray, sr, &c);
  bool shown = false;
  if (options & kBoundsShowDigital)
    for (int32 i = 0; i < v.count; ++i)
      if (const int32 digital = parts.Find(kPartDigital, i)) {
        ODisplayValObj(heap, digital, 0, static_cast<const uChar*>(newData) + v[i].offset);
        shown = true;
      }
  if (shown) window = Window(heap);
  if (!(options & kBoundsDrawNow) || c.rects.empty() || !window) return 0;
  const int32 housing = parts.Find(kPartHousing, 0);
  const Rect h = Live(heap, housing) ? Bounds(heap, housing) : Rect{0, 0, 0, 0};
  bool inside = !DEmptyRect(&h) && !(Flags(heap, object) & kObjFlagNoCachedImage);
  Rect moved = c.rects.front();
  for (const Rect& r : c.rects) {
    // The rectangles are not empty: each lies in the housing when their
    // meeting is the rectangle itself, that is when its sides lie inside.
    inside = inside && r.top >= h.top && r.left >= h.left && r.bottom <= h.bottom && r.right <= h.right;
    DUnionRect(&r, &moved);
  }
  if (inside) {
    // Only what moved is drawn again: the rest of the housing already shows
    // the same pixels, and the housing's image is copied for these alone.
    Rect saved;
    WLimitClip(&moved, &saved);
    DrawSlideValue(heap, object, newData, 0, BlinkPartState(heap, object, kDrawModeNormal), 0);
    WRestoreClip(&saved);
    return 0;
  }
  for (const Rect& r : c.rects) WInvalRect(window, &r);
  return kBoundsInvalidated;
}

// ---- Index displays -------------------------------------------------------------------------

void ArrayFitIndexText(ObjHeap heap, int32 array, int32 changed) {
  if (!Live(heap, array)) return;
  std::vector<int32> parts;
  ForEachPart(heap, array, [&](int32 p) { parts.push_back(p); });
  const int32 changedText = Live(heap, changed) ? FindPart(heap, changed, kPartTextOfDisplay, 0) : 0;
  const TRecord model = Live(heap, changedText, 4 * (kPWLabelText + 1)) ? PartTextRecord(heap, changedText) : nullptr;
  if (model) {
    for (int32 d : parts) {
      if (d == changed || !Live(heap, d) || ObjInt16(heap, d, kObjPartId) != kPartArrayIndex) continue;
      const int32 text = FindPart(heap, d, kPartTextOfDisplay, 0);
      if (!Live(heap, text, 4 * (kPWLabelText + 1))) continue;
      const TRecord old = PartTextRecord(heap, text);
      TRecord copy = TDuplicate(model, 0);
      if (!copy) continue;
      Rect place = Bounds(heap, text);
      if (old) TGetRect(old, &place, nullptr);
      TSetRect(copy, &place);
      ObjSetWord(heap, text, kPWLabelText, int32(uintptr_t(copy)));
      if (old) TDispose(old);
      OSizeObj(heap, text, nullptr, 0);
      OSizeObj(heap, d, nullptr, kPartTextOfDisplay);
    }
  }
  int32 bottom = 0;
  for (size_t i = parts.size(); i-- > 0;) {
    const int32 d = parts[i];
    if (!Live(heap, d) || ObjInt16(heap, d, kObjPartId) != kPartArrayIndex) continue;
    const Rect r = Bounds(heap, d);
    if (ObjInt16(heap, d, kObjPartOrder) != 0 && r.top != bottom) OOffsetObj(heap, d, Point{Pin16(bottom - r.top), 0});
    bottom = Bounds(heap, d).bottom;
  }
  const int32 frame = FindPart(heap, array, kPartIndexFrame, 0);
  if (!Live(heap, frame)) return;
  Rect f = Bounds(heap, frame);
  if (f.bottom != bottom + 2) {
    OInval(heap, frame, kInvalAll);
    f.bottom = Pin16(bottom + 2);
    OSizeObj(heap, frame, &f, 0);
    OSizeObj(heap, array, nullptr, 0);
  }
  OInval(heap, frame, kInvalAll);
}

// ---- Text parts ------------------------------------------------------------------------------

namespace {
bool IsFocusKey(int32 key) { return key == kKeyTab || key == kKeyShiftTab || key == kKeyReadBack || key == 43; }
// The keys a text takes on an object that a click does not operate (an
// indicator): those that move, copy, revert or end, none that edits.
bool IndicatorTextKey(int32 key) {
  switch (key) {
    case vkEnter: case vkUp: case vkDown: case vkLeft: case vkRight: case vkHome: case vkEnd: case vkPageUp:
    case vkPageDown: case kKeyExtra2: case vkRestore: case vkFinish:
      return true;
    default:
      return false;
  }
}
}  // namespace

int32 ObjTextActivate(ObjHeap heap, int32 object, int32 part, int32 partId, ActionParams* params, int32 flags) {
  if (!params || !Live(heap, object)) return flags;
  if (!part) part = FindPart(heap, object, partId, 0);
  if (!Live(heap, part) || Hidden(heap, part)) return flags;
  const int32 action = params->eventCode;
  const bool key = action == 6 || action == 7;
  const uInt32 f = uInt32(flags);
  if (key && (params->keyCode == kKeyReadBack || params->keyCode == 43) && !(f & (kFlagsKeep | kFlagsCommit)))
    return flags;
  const TRecord text = PartTextRecord(heap, part);
  int32 result = flags;
  if (!(f & kFlagsCommit)) {
    if (key) {
      QX_ASSERT_MSG(Ext(heap, kHeapExtKeyFocus) == object, "a key for a text whose object has no key focus");
      if (IsFocusKey(params->keyCode)) {
        if (text) {
          TSelectText(text, params->selStart, params->selEnd);
          StatePnlSetTextEntry(heap, 1);
          if (Window(heap)) TActivate(text, 1);
          SetExt(heap, kHeapExtFocusText, int32(uintptr_t(text)));
          result |= 1;
        }
      } else if (ObjClickOperates(heap, object) || IndicatorTextKey(params->keyCode)) {
        result = TextPartDoit(heap, part, params, result);
      }
    } else if (action == 1) {
      const bool operates = ObjClickOperates(heap, object);
      if (text && FPKeyFocusUpdate(heap, object, operates, text) == kNoErr && Ext(heap, kHeapExtKeyFocus) == object) {
        TSelectText(text, params->selStart, params->selEnd);
        if (Window(heap)) TActivate(text, 1);
        result |= 1;
      } else {
        result &= ~1;
      }
      if (Ext(heap, kHeapExtDialogFilter) && !(OwnerMode(heap) & kVIFlags2OwnerMode))
        OFrameSel(heap, object, heap, 0, 16);
    } else {
      result = TextPartDoit(heap, part, params, result);
    }
    const uInt32 of = Flags(heap, object);
    if ((of & kObjFlagNoCachedImage) && (of & kObjFlagTextModified)) {
      SetFlags(heap, object, of & ~kObjFlagTextModified);
      result |= kReplyCommitted;
    }
    return result;
  }
  if (f & kFlagsNoCommit) return result;
  if (text && Window(heap)) TDeactivate(text, 1);
  params->text = text;
  params->partId = ObjInt16(heap, part, kObjPartId);
  if (Flags(heap, part) & kObjFlagTextModified) {
    SetFlags(heap, part, Flags(heap, part) & ~kObjFlagTextModified);
    result |= kReplyCommitted;
  }
  return result;
}

// ---- Tab between elements ---------------------------------------------------------------------

int32 ElementTabNext(ObjHeap heap, int32 object, TransactionFrame* frame, ActionParams* params) {
  if (!frame || !params || params->keyCode == kKeyReadBack || params->keyCode == 43) return 0;
  const int32 owner = object ? object : frame->object;
  const std::vector<int32> elements = ListOf(heap, owner, kContainerElementsWord);
  const int32 n = int32(elements.size());
  if (n == 0) return 0;
  int32 start = -1;
  if (frame->mode == 3) start = frame->index;
  else if (frame->mode == 1) start = int32(std::find(elements.begin(), elements.end(), frame[1].object) - elements.begin());
  if (start < 0 || start >= n) {
    DBAssert(kSource, __LINE__, "ElementTabNext: the element is not in its owner's list");
    return 0;
  }
  frame->mode = 3;
  frame->index = start;
  // The frames written must stay on the transaction stack.
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  const bool onStack = frame >= block && frame + 4 <= block + kTransactionStackBytes / int32(sizeof(TransactionFrame));
  auto send = [&](int32 i) {
    const int32 e = elements[size_t(i)];
    // A stored list can name any block: only the owner's own elements are sent to.
    if (!Live(heap, e) || ObjWord(heap, e, kPWOwner) != owner) return 0;
    frame->index = i;
    const bool dco = ObjIsA(heap, e, kClsFPDataController);
    const int32 display = dco && Live(heap, e, 4 * (kPWDCODisplay + 1)) ? ObjWord(heap, e, kPWDCODisplay) : 0;
    const TransactionFrame viaController[] = {{e, kCatDCO, 2, 0}, {display, kCatDDO, 2, 0}, {}};
    const TransactionFrame direct[] = {{e, kCatDDO, 2, 0}, {}};
    if (!onStack || !(dco ? TRWriteFrames(frame + 1, viaController, 3) : TRWriteFrames(frame + 1, direct, 2)))
      return 0;
    return OSendMessage<int32>(kMsgODoit, heap, e, static_cast<void*>(frame + 1), kActOperate, params);
  };
  const bool back = params->modifiers & kWModShift;
  int32 i = start, reply = 0, sent = 0;
  for (;;) {
    FPReleaseKeyFocus(heap);
    i = back ? (i + n - 1) % n : (i + 1) % n;
    params->selStart = 0, params->selEnd = kSelAll;
    if (sent > 0 && i == start) break;
    reply = send(i), ++sent;
    if (!(reply & kReplyPassOn)) break;
  }
  if (n == 1) reply = send(0);
  return reply;
}

int32 PathFindElement(ObjHeap heap, const TransactionFrame* path, int32 object) {
  int32 o = object;
  for (int32 depth = 0; depth < kMaxOwnerChain; ++depth) {
    if (!Live(heap, o)) return 0;
    if (!ObjIsA(heap, o, kClsGrouperObject)) return o;
    if (!path || path[depth].kind == 0) return 0;
    o = path[depth].object;
  }
  return 0;
}

// ---- Scrolling by cells ------------------------------------------------------------------------

namespace {
// Whether o is the array or lies inside it through its owners.
bool WithinArray(ObjHeap heap, int32 o, int32 array) {
  for (int32 depth = 0; depth < kMaxOwnerChain && Live(heap, o); ++depth) {
    if (o == array) return true;
    o = ObjWord(heap, o, kPWOwner);
  }
  return false;
}
}  // namespace

int32 ArrayDragScroll(ObjHeap heap, int32 array, TransactionState* request, const DataXferRec* xfer) {
  if (!request || !Live(heap, array, kArrayFirstRowAt + 2)) return 0;
  const int32 element = ObjWord(heap, array, kContainerElementsWord);
  if (!Live(heap, element)) return 0;
  const Rect cell = CellOf(heap, array, element);
  const Point cells = WordToPoint(RCShift(WordToPoint(request->point), &cell));
  if (cells.v == 0 && cells.h == 0) return 0;
  const Point by{Pin16(int32(cells.v) * (cell.bottom - cell.top)), Pin16(int32(cells.h) * (cell.right - cell.left))};
  if (request->mode == kTRModeDragOver && xfer && xfer->kind == kDataXferObjKind && xfer->heap == heap) {
    bool own = false;
    const std::vector<int32> items = Entries(heap, xfer->list);
    for (size_t i = 0; i < items.size() && int32(i) < xfer->count && !own; ++i)
      own = WithinArray(heap, items[i], array);
    if (own) {
      const Point p = WordToPoint(request->point);
      request->point = PointToWord(Point{Pin16(p.v - by.v), Pin16(p.h - by.h)});
      return 0;
    }
  }
  if (!(request->mode & 1)) {
    UHandle vi = OwnerVI(heap);
    const uInt32 held = vi ? VIRec(vi)->flags & 1 : 0;
    if (vi) VIRec(vi)->flags &= ~1u;
    FPReleaseKeyFocus(heap);
    if ((vi = OwnerVI(heap))) VIRec(vi)->flags |= held;
  }
  SetI16(heap, array, kArrayFirstRowAt, I16(heap, array, kArrayFirstRowAt) + cells.v);
  SetI16(heap, array, kArrayFirstColAt, I16(heap, array, kArrayFirstColAt) + cells.h);
  OOffsetObj(heap, element, by);
  return PointToWord(cells);
}
