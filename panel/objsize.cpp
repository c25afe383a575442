#include "panel/objsize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/fewlist.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/numconv.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/ctrldraw.h"
#include "panel/methsupport.h"
#include "panel/objimage.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/ooffset.h"
#include "panel/osupport.h"

namespace {

constexpr const char* kSource = "size";

// Parts nest a few levels and objects have a few dozen parts; a stored heap
// whose part lists or anchors loop is stopped by the depth and by a budget
// of nested sends for one outermost message.
constexpr int32 kMaxDepth = 64, kMaxSends = 100000;
int32 gDepth = 0, gSends = 0;

// The (object, part id) pairs one outermost resize has re-fitted around.
std::vector<std::pair<int32, int32>> gRefitted;

KnobScaleResizeProc gKnobScaleResize = nullptr;

using namespace objsize;

// Object words of the classes sized here.
constexpr int32 kElementWord = 10;        // an array's element object
constexpr int32 kPictureCopyWord = 10;    // a picture's cached image
constexpr int32 kSlideImageWord = 13;     // a slide's or knob's cached housing image
constexpr uInt32 kFlagRedrawImage = 0x400000;
constexpr uInt32 kFlagBoolTextKeyed = 0x10;
constexpr int32 kNumFormatAt = 40;

enum : int16 {
  kPartNumText = 10, kPartItemText = 12, kPartItemPicture = 14, kPartRefText = 11, kPartScale = 17,
  kPartButton = 21, kPartBoolText = 22, kPartSlider = 23, kPartContent = 28, kPartSwatch = 41,
  kPartStateOn = 63, kPartStateOff = 64, kPartNotRoot = kPartIdNotFoundByZero,
};

int32 PartIdOf(ObjHeap heap, int32 o) { return Half(heap, o, kObjPartId); }
int32 AnchorOf(ObjHeap heap, int32 o) { return Half(heap, o, kObjAnchor); }
int32 AttachOf(ObjHeap heap, int32 o) { return uInt16(Half(heap, o, kObjAttach)); }
bool Hidden(ObjHeap heap, int32 o) { return FlagsOf(heap, o) & kObjFlagHidden; }

// The part of that id: order 0 first, else the first of any order.
int32 PartById(ObjHeap heap, int32 object, int32 partId) {
  if (!partId) return 0;
  if (const int32 p = FindPart(heap, object, partId, 0)) return p;
  int32 found = 0;
  ForEachPart(heap, object, [&](int32 p) {
    if (!found && PartIdOf(heap, p) == partId) found = p;
  });
  return found;
}

// The parts of the object, copied: sends may change the list.
std::vector<int32> Parts(ObjHeap heap, int32 object) {
  std::vector<int32> parts;
  if (!Live(heap, object, kObjPartList + 4)) return parts;
  ForEachPart(heap, object, [&](int32 p) {
    if (p != object && Live(heap, p, kObjBounds + 8)) parts.push_back(p);
  });
  return parts;
}

// What a frame fit finds among the parts: the union of the visible ones
// but the frame part, the frame part, and whether a rectangle was asked of
// a part by a message (whose method may change the heap).
struct PartsUnion {
  Rect u{0, 0, 0, 0};
  bool any = false;
  int32 frame = 0;
  bool sent = false;
};

// The last part list and part whose headers a frame fit read: a fit of the
// same object again reads them back while no block's layout has changed.
thread_local OHBlockMemo gFitList, gFitPart;

// One part's share of a frame fit, read from the heap: true when done,
// false (nothing done) when its rectangle must be asked of it by a message.
[[gnu::always_inline]] inline bool UnitePartRead(ObjHeap heap, int32 p, PartsUnion* all) {
  // One header read checks that the part still holds its bounds (its
  // flags and id lie before them) and gives its class, whose rectangle
  // method LivePartRect would look up.
  int32 usable = 0, cls = 0;
  if (p <= 0 || !OHUsedBlockReadMemo(&gFitPart, heap, p, &usable, &cls) || usable < kObjBounds + 8) return true;
  if (ObjWord(heap, p, kObjFlags / 4) & kObjFlagHidden) return true;
  if (ObjInt16(heap, p, kObjPartId) == kPartFrameAround) {
    if (!all->frame) all->frame = p;
    return true;
  }
  Rect r;
  const ObjMethodAddr method = OClassMethodAsSent(cls, kMsgOGetRect);
  if (method == reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) {
    std::memcpy(&r, *heap + p + kObjBounds, sizeof r);
  } else if (!OGetRectBoundsRead(heap, p, usable, cls, method, &r)) {
    return false;
  }
  Unite(&all->u, &all->any, r);
  return true;
}

// The share of a part UnitePartRead just refused, its rectangle asked by
// the message.
void UnitePartSent(ObjHeap heap, int32 p, PartsUnion* all) {
  Rect r;
  std::memcpy(&r, *heap + p + kObjBounds, sizeof r);
  OGetRect(heap, p, &r, kRectBounds);
  all->sent = true;
  Unite(&all->u, &all->any, r);
}

// The parts after the first whose rectangle is sent for, copied before the
// send (the message may change the list), then united.
[[gnu::noinline]] void UniteRest(ObjHeap heap, int32 object, int32 list, int32 from, int32 count, int32 sent,
                                 PartsUnion* all) {
  FewList<int32, 16> rest;
  for (int32 j = from; j < count; ++j) {
    int32 q;
    std::memcpy(&q, *heap + list + 4 + 4 * j, sizeof q);
    if (q && q != object) rest.push_back(q);
  }
  UnitePartSent(heap, sent, all);
  for (int32 q : rest)
    if (!UnitePartRead(heap, q, all)) UnitePartSent(heap, q, all);
}

// The parts of an object (a used block of usable bytes and class cls) as
// FitFramePart unites them: the part list's entries as they are when the
// fit starts.
PartsUnion UniteParts(ObjHeap heap, int32 object, int32 usable, int32 cls) {
  PartsUnion all;
  const int32 word = cls == kClsFrontPanel ? kRootObjectListWord : kObjPartList / 4;
  if (usable < kObjPartList + 4 || usable < 4 * (word + 1)) return all;
  const int32 list = ObjWord(heap, object, word);
  if (!list) return all;
  // The count fits the list's block: its entries lie inside it.
  const int32 count = ObjListCountRead(heap, list, &gFitList);
  for (int32 i = 0; i < count; ++i) {
    int32 p;
    std::memcpy(&p, *heap + list + 4 + 4 * i, sizeof p);
    if (p <= 0 || p == object || UnitePartRead(heap, p, &all)) continue;
    // Nothing has changed the heap so far.
    UniteRest(heap, object, list, i + 1, count, p, &all);
    break;
  }
  return all;
}

// The end of a frame fit: out is the union, or with a frame part the union
// grown by 2 and the frame part sized to it.
MgErr FitFrameTo(ObjHeap heap, const PartsUnion& all, Rect* out) {
  *out = all.u;
  if (!all.frame) return kNoErr;
  *out = Grow(all.u, 2);
  return SendSize(heap, all.frame, out, 0);
}

bool Refitted(int32 object, int32 partId) {
  for (const auto& e : gRefitted)
    if (e.first == object && e.second == partId) return true;
  gRefitted.emplace_back(object, partId);
  return false;
}

// The union of the visible parts but those of two ids (empty: none).
Rect VisibleUnion(ObjHeap heap, int32 object, int32 without1, int32 without2) {
  Rect u{0, 0, 0, 0};
  bool any = false;
  for (int32 p : Parts(heap, object)) {
    const int32 id = PartIdOf(heap, p);
    if (!Hidden(heap, p) && id != without1 && id != without2) Unite(&u, &any, PartRect(heap, p, kRectBounds));
  }
  return u;
}

// Moves the parts anchored to the changed part p (step 3 of the re-fit).
MgErr FollowPart(ObjHeap heap, int32 object, int32 p) {
  const int32 part = PartById(heap, object, p);
  if (!part) return kNoErr;
  const Rect pOld = LastOldBounds;
  const Rect pNew = PartRect(heap, part, 1);
  const std::vector<int32> parts = Parts(heap, object);
  for (int32 q : parts) {
    if (q == part || !Live(heap, q, kObjBounds + 8) || AnchorOf(heap, q) != p) continue;
    const Rect qRect = PartRect(heap, q, 1);
    Rect out;
    if (!ApplyAttachment(&pOld, &pNew, &qRect, &out, AttachOf(heap, q))) continue;
    if (const MgErr err = MoveOrSizePart(heap, q, &qRect, &out, p)) return err;
    const int32 qId = PartIdOf(heap, q);
    if (Half(heap, q, kObjPartOrder) != 0 || qId == p) continue;
    bool anchors = false;
    for (int32 o : parts)
      if (o != q && o != part && Live(heap, o, kObjBounds + 8) && AnchorOf(heap, o) == qId) anchors = true;
    if (anchors && !Refitted(object, qId))
      if (const MgErr err = SendSize(heap, object, nullptr, qId)) return err;
  }
  return kNoErr;
}

// The object's bounds become the union of its parts (the frame part
// fitted around them); its bounds before the resize are left in
// LastOldBounds for its owner.
MgErr Refit(ObjHeap heap, int32 object, const Rect& old) {
  Rect u;
  if (const MgErr err = FitFramePart(heap, object, &u)) return err;
  SetBoundsOf(heap, object, u);
  LastOldBounds = old;
  return kNoErr;
}

template <typename M>
ObjMethodAddr Addr(M m) {
  return reinterpret_cast<ObjMethodAddr>(m);
}

}  // namespace

// ---- Shared steps ------------------------------------------------------------------------

namespace objsize {


Rect Grow(Rect r, int32 by) {
  return Rect{Pin16(int64(r.top) - by), Pin16(int64(r.left) - by), Pin16(int64(r.bottom) + by),
              Pin16(int64(r.right) + by)};
}

void Unite(Rect* all, bool* any, const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;  // empty
  if (!*any) {
    *all = r;
    *any = true;
  } else {
    DUnionRect(&r, all);
  }
}


Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r{0, 0, 0, 0};
  if (Live(heap, o, kObjBounds + 8)) std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}
void SetBoundsOf(ObjHeap heap, int32 o, const Rect& r) {
  if (Live(heap, o, kObjBounds + 8)) std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
}
uInt32 FlagsOf(ObjHeap heap, int32 o) { return Live(heap, o, 4) ? uInt32(ObjWord(heap, o, 0)) : 0; }
void SetFlagsOf(ObjHeap heap, int32 o, uInt32 f) {
  if (Live(heap, o, 4)) ObjSetWord(heap, o, 0, int32(f));
}
void MarkChanged(ObjHeap heap, int32 o) {
  if (Live(heap, o, 4)) ObjSetWord(heap, o, 0, ObjWord(heap, o, 0) | kObjFlagMoved);
}
int16 Half(ObjHeap heap, int32 o, int32 at) { return Live(heap, o, at + 2) ? ObjInt16(heap, o, at) : 0; }

Rect PartRect(ObjHeap heap, int32 part, int32 kind) {
  return Live(heap, part, kObjBounds + 8) ? LivePartRect(heap, part, kind) : Rect{0, 0, 0, 0};
}

Rect LivePartRect(ObjHeap heap, int32 part, int32 kind) {
  Rect r;
  std::memcpy(&r, *heap + part + kObjBounds, sizeof r);
  // A part of no known class (a damaged template or panel) has no method to
  // answer with: its bounds stand for its rectangle.
  if (OFindMethod(heap, part, kMsgOGetRect) != reinterpret_cast<ObjMethodAddr>(&ErrorMethod))
    OGetRect(heap, part, &r, kind);
  return r;
}

int32 SendSize(ObjHeap heap, int32 o, const Rect* r, int32 partId) {
  const SizeScope scope;
  return scope.Entered() ? OSize(heap, o, r, partId) : kArgErr;
}

int32 SendOffset(ObjHeap heap, int32 o, Point by) {
  const SizeScope scope;
  return scope.Entered() ? OOffset(heap, o, by) : kArgErr;
}

void TellImage(int32 imageRef, Rect* now, const Rect& old) {
  if (imageRef < kObjImageHeld) return;
  const int32 image = imageRef & 0xFFFF;
  if (!image || !IKindOf(image)) return;
  Rect before = old;
  PictMessageBlock block{};
  block.rect = now;
  block.otherRect = &before;
  IProcImageMessage(image, 5, &block);
}

void ReleaseCachedImage(ObjHeap heap, int32 o, int32 word, uInt32 flag) {
  if (!Live(heap, o, 4 * (word + 1))) return;
  const int32 image = ObjWord(heap, o, word);
  if (!image) return;
  // A word read from a damaged file can name no image: reported, and only
  // the word is cleared (the image is made afresh when next drawn).
  if (IKindOf(image))
    IRelease(image);
  else
    DBPrintf("ReleaseCachedImage: the cached image word names no image");
  ObjSetWord(heap, o, word, 0);
  SetFlagsOf(heap, o, FlagsOf(heap, o) | flag);
}

void InvalInWindow(ObjHeap heap, const Rect& r) {
  if (!heap || !*heap) return;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (!Live(heap, ext, kHeapExtWindow + 4)) return;
  const WindowRef window = WindowRef(OHWord(heap, uInt32(ext + kHeapExtWindow)));
  if (window) WInvalRect(window, &r);
}

}  // namespace objsize

bool SizeNestingEnter() {
  if (gDepth == 0) gSends = 0;
  if (gDepth >= kMaxDepth || ++gSends > kMaxSends) return false;
  ++gDepth;
  return true;
}

void SizeNestingLeave() {
  if (--gDepth == 0) gRefitted.clear();
}

// ---- Attachment -------------------------------------------------------------------------

int32 ProportionalPos(int32 oldLength, int32 newLength, int32 pos) {
  if (pos == 0) return 0;
  if (pos == oldLength) return Pin16(newLength);
  if (oldLength == newLength || oldLength <= 0) return Pin16(pos);
  if (pos == oldLength / 2) return Pin16(newLength / 2);
  const int32 t = (3 * oldLength) >> 3;
  if (pos == t) return Pin16((newLength >> 2) + (newLength >> 3));
  if (pos == oldLength - t) return Pin16(int64(newLength) - (newLength >> 2) - (newLength >> 3));
  const float64 v = float64(pos) * float64(newLength) / float64(oldLength);
  return Pin16(RndToNearest(std::clamp(v, -65536.0, 65536.0)));
}

int32 AutoAttachEdges(int32 flags, const Rect* d, const Rect* a) {
  if (!(flags & kAttachAuto) || !d || !a) return flags;
  if (!(flags & (kStretchTop | kStretchBottom | kPropTop | kPropBottom))) {
    const int32 mid = (int32(a->top) + a->bottom) >> 1;
    if (d->bottom <= mid) flags |= kAttachTop;
    else if (d->top >= mid) flags |= kAttachBottom;
    else flags |= std::abs(int32(d->bottom) - a->bottom) < std::abs(int32(d->top) - a->top) ? kAttachBottom : kAttachTop;
  }
  if (!(flags & (kStretchLeft | kStretchRight | kPropLeft | kPropRight))) {
    const int32 mid = (int32(a->left) + a->right) >> 1;
    if (d->right <= mid) flags |= kAttachLeft;
    else if (d->left >= mid) flags |= kAttachRight;
    else flags |= std::abs(int32(d->right) - a->right) < std::abs(int32(d->left) - a->left) ? kAttachRight : kAttachLeft;
  }
  return flags;
}

namespace {

// One axis of the follow rule: the dependent's low and high edges after
// its anchor's edges went from (aLo, aHi) to (bLo, bHi).
void FollowAxis(int32 flags, int32 lowBit, int32 highBit, int32 aLo, int32 aHi, int32 bLo, int32 bHi, int32 dLo,
                int32 dHi, int32* outLo, int32* outHi) {
  const int32 dLow = bLo - aLo, dHigh = bHi - aHi;
  if ((flags & lowBit) && (flags & highBit)) {
    if (dHigh == -dLow) return;
    const int32 size = dHi - dLo, half = size / 2;
    const int32 pos = dLo - aLo + half;
    *outLo = bLo + ProportionalPos(aHi - aLo, bHi - bLo, pos) - half;
    *outHi = *outLo + size;
  } else if (flags & highBit) {
    *outLo += dHigh, *outHi += dHigh;
  } else if (flags & lowBit) {
    *outLo += dLow, *outHi += dLow;
  }
}

}  // namespace

int32 ApplyAttachment(const Rect* a, const Rect* b, const Rect* d, Rect* out, int32 flags) {
  if (!a || !b || !d || !out) return 0;
  *out = *d;
  if (!flags || DEqualRect(a, b)) return 0;
  const int32 dTop = b->top - a->top, dLeft = b->left - a->left, dBottom = b->bottom - a->bottom,
              dRight = b->right - a->right;
  int32 top = d->top, left = d->left, bottom = d->bottom, right = d->right;
  if (dTop == dBottom && dLeft == dRight) {
    top += dTop, bottom += dTop, left += dLeft, right += dLeft;
  } else {
    flags = AutoAttachEdges(flags, d, a);
    if (flags & kStretchTop) top += dTop;
    if (flags & kStretchLeft) left += dLeft;
    if (flags & kStretchBottom) bottom += dBottom;
    if (flags & kStretchRight) right += dRight;
    FollowAxis(flags, kAttachTop, kAttachBottom, a->top, a->bottom, b->top, b->bottom, d->top, d->bottom, &top,
               &bottom);
    FollowAxis(flags, kAttachLeft, kAttachRight, a->left, a->right, b->left, b->right, d->left, d->right, &left,
               &right);
    const int32 ha = RectHeight(a), hb = RectHeight(b), wa = RectWidth(a), wb = RectWidth(b);
    if (flags & kPropTop) top = b->top + ProportionalPos(ha, hb, d->top - a->top);
    if (flags & kPropBottom) bottom = b->top + ProportionalPos(ha, hb, d->bottom - a->top);
    if (flags & kPropLeft) left = b->left + ProportionalPos(wa, wb, d->left - a->left);
    if (flags & kPropRight) right = b->left + ProportionalPos(wa, wb, d->right - a->left);
  }
  *out = Rect{Pin16(top), Pin16(left), Pin16(bottom), Pin16(right)};
  return !DEqualRect(out, d);
}

void ProportionalRect(const Rect* o, const Rect* n, const Rect* r, Rect* out) {
  if (!o || !n || !r || !out) return;
  const int32 ho = RectHeight(o), wo = RectWidth(o);
  if (ho <= 0 || wo <= 0) {
    *out = *r;
    return;
  }
  const float64 sy = float64(RectHeight(n)) / ho, sx = float64(RectWidth(n)) / wo;
  auto map = [](int32 v, int32 from, float64 s, int32 to) {
    return Pin16(int64(std::trunc(std::clamp((v - from) * s + to, -65536.0, 65536.0))));
  };
  *out = Rect{map(r->top, o->top, sy, n->top), map(r->left, o->left, sx, n->left),
              map(r->bottom, o->top, sy, n->top), map(r->right, o->left, sx, n->left)};
}

MgErr MoveOrSizePart(ObjHeap heap, int32 part, const Rect* oldRect, const Rect* newRect, int32 partId) {
  if (!oldRect || !newRect) return kArgErr;
  if (RectHeight(oldRect) == RectHeight(newRect) && RectWidth(oldRect) == RectWidth(newRect)) {
    const Point by{Pin16(int32(newRect->top) - oldRect->top), Pin16(int32(newRect->left) - oldRect->left)};
    return SendOffset(heap, part, by);
  }
  return SendSize(heap, part, newRect, partId);
}

MgErr FitFramePart(ObjHeap heap, int32 object, Rect* out) {
  if (!out) return kArgErr;
  int32 usable = 0, cls = 0;
  const bool live = heap && *heap && object > 0 && OHUsedBlockRead(heap, object, &usable, &cls);
  return FitFrameTo(heap, live ? UniteParts(heap, object, usable, cls) : PartsUnion{}, out);
}

int32 TransferStretchToRoot(ObjHeap heap, int32 object, int32 p) {
  if (!p) return p;
  const int32 root = FindPart(heap, object, 0, 0);
  if (!root || PartIdOf(heap, root) == p) return p;
  const int32 part = PartById(heap, object, p);
  const int32 flags = part ? AttachOf(heap, part) : 0;
  if (!part || AnchorOf(heap, part) != PartIdOf(heap, root) || !(flags & kStretchAll) || (flags & kAttachCentred))
    return p;
  const Rect pOld = LastOldBounds, pNew = PartRect(heap, part, kRectBounds), rootRect = PartRect(heap, root, kRectBounds);
  Rect out;
  if (!ApplyAttachment(&pOld, &pNew, &rootRect, &out, flags)) return p;
  OInval(heap, object, kInvalAll);
  if (SendSize(heap, part, &pOld, 0)) DBAssert(kSource, 180, "TransferStretchToRoot: the part was not put back");
  if (SendSize(heap, root, &out, 0)) DBAssert(kSource, 181, "TransferStretchToRoot: the root was not sized");
  OInval(heap, object, kInvalAll);
  return PartIdOf(heap, root);
}

// ---- The data display methods -------------------------------------------------------------

MgErr FollowAnchoredParts(ObjHeap heap, int32 object, int32 partId) {
  if (!Live(heap, object, kObjPartList + 4)) return kArgErr;
  return FollowPart(heap, object, partId);
}

namespace {

// DDOOSizeMethod past its check of the object's block: a used block of
// usable bytes and class cls, unchanged since it was checked.
[[gnu::always_inline]] inline int32 DDOSize(ObjHeap heap, int32 object, int32 usable, int32 cls, const Rect* newRect,
                                           int32 partId) {
  if (usable < kObjPartList + 4) return kArgErr;
  const SizeScope scope;
  if (!scope.Entered()) return kArgErr;
  // The object holds its part list (checked above), so its flags and bounds.
  ObjSetWord(heap, object, kObjFlags / 4, ObjWord(heap, object, kObjFlags / 4) | int32(kObjFlagMoved));
  Rect old;
  std::memcpy(&old, *heap + object + kObjBounds, sizeof old);
  if (newRect) {
    const int32 root = FindPart(heap, object, 0, 0);
    if (!root) {
      // A damaged file can make one: reported, and the object keeps its size.
      DBPrintf("DDOOSizeMethod: no root part");
      return 0;
    }
    const Rect rootRect = PartRect(heap, root, 1);
    Rect out;
    if (!ApplyAttachment(&old, newRect, &rootRect, &out, kStretchAll)) return 0;
    if (const MgErr err = MoveOrSizePart(heap, root, &rootRect, &out, 0)) return err;
    const int32 rootId = PartIdOf(heap, root);
    Refitted(object, rootId);
    return SendSize(heap, object, nullptr, rootId);
  }
  if (partId && PartById(heap, object, partId)) {
    if (const MgErr err = FollowPart(heap, object, partId)) return err;
    return Refit(heap, object, old);
  }
  // Nothing but the flags word changed since the block was checked: its
  // part list is read without checking it again, and so are its bounds
  // when no message was sent on the way.
  const PartsUnion all = UniteParts(heap, object, usable, cls);
  Rect u;
  if (const MgErr err = FitFrameTo(heap, all, &u)) return err;
  if (all.sent || all.frame)
    SetBoundsOf(heap, object, u);
  else
    std::memcpy(*heap + object + kObjBounds, &u, sizeof u);
  LastOldBounds = old;
  return kNoErr;
}

}  // namespace

int32 DDOOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  // The object's block checked once for its flags, bounds and part list.
  int32 usable = 0, cls = 0;
  if (object <= 0 || !OHUsedBlockRead(heap, object, &usable, &cls)) return kArgErr;
  return DDOSize(heap, object, usable, cls, newRect, partId);
}

int32 OSizeChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, int32 partId) {
  // The method the message would reach, called here for the data display
  // method and the numeric's, which hands it the ids it does not transfer.
  const ObjMethodAddr method = OClassMethodAsSent(cls, kMsgOSize);
  if (method == Addr(&DDOOSizeMethod) ||
      (method == Addr(&NumericOSizeMethod) && partId != kPartNumText && partId != kPartItemText &&
       partId != kPartSwatch))
    return DDOSize(heap, object, usable, cls, nullptr, partId);
  return OSize(heap, object, nullptr, partId);
}

int32 NumericOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (partId == kPartNumText || partId == kPartItemText || partId == kPartSwatch)
    partId = TransferStretchToRoot(heap, object, partId);
  return DDOOSizeMethod(heap, object, newRect, partId);
}

int32 RefNumOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (partId == kPartRefText) partId = TransferStretchToRoot(heap, object, partId);
  return DDOOSizeMethod(heap, object, newRect, partId);
}

int32 StringOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  return DDOOSizeMethod(heap, object, newRect, TransferStretchToRoot(heap, object, partId));
}

int32 PictureOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (partId == kPartContent) partId = TransferStretchToRoot(heap, object, partId);
  const int32 err = DDOOSizeMethod(heap, object, newRect, partId);
  ReleaseCachedImage(heap, object, kPictureCopyWord, 0);
  return err;
}

int32 ArrayOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  const Rect entry = BoundsOf(heap, object);
  if (newRect && Live(heap, object, 4 * (kElementWord + 1))) {
    const int32 element = ObjWord(heap, object, kElementWord);
    if (element && element != object && Live(heap, element, kObjBounds + 8)) {
      const Point by{Pin16(int32(newRect->top) - entry.top), Pin16(int32(newRect->left) - entry.left)};
      if (const int32 err = SendOffset(heap, element, by)) return err;
    }
  }
  const int32 err = DDOOSizeMethod(heap, object, newRect, partId);
  if (!newRect) LastOldBounds = entry;
  return err;
}

int32 RingOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (const int32 err = NumericOSizeMethod(heap, object, newRect, partId)) return err;
  if (PartById(heap, object, kPartItemPicture))
    SetBoundsOf(heap, object, VisibleUnion(heap, object, kPartItemPicture, kPartItemPicture));
  return 0;
}

int32 SlideOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (const int32 err = NumericOSizeMethod(heap, object, newRect, partId)) return err;
  Rect u = BoundsOf(heap, object), scales{0, 0, 0, 0};
  FPUnionScaleRects(heap, object, &scales);
  bool any = !DEmptyRect(&u);
  Unite(&u, &any, scales);
  SetBoundsOf(heap, object, u);
  ReleaseCachedImage(heap, object, kSlideImageWord, kFlagRedrawImage);
  return 0;
}

int32 KnobOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  if (const int32 part = PartById(heap, object, partId)) {
    const Rect pOld = LastOldBounds, pNew = PartRect(heap, part, 1);
    const int32 oldHeight = RectHeight(&pOld), newHeight = RectHeight(&pNew);
    const int32 thumb = FindPart(heap, object, kPartSlider, 0);
    if (thumb && AnchorOf(heap, thumb) == partId && Live(heap, object, 4 * (kKnobNeedleWord + 1)) && oldHeight > 0) {
      const float64 v = std::trunc(float64(ObjWord(heap, object, kKnobNeedleWord)) * newHeight / oldHeight + 0.5);
      ObjSetWord(heap, object, kKnobNeedleWord, int32(std::clamp(v, -2147483648.0, 2147483647.0)));
    }
    const int32 scale = FindPart(heap, object, kPartScale, 0);
    if (scale && AnchorOf(heap, scale) == partId && gKnobScaleResize) gKnobScaleResize(heap, scale, &pOld, &pNew);
    LastOldBounds = pOld;
  }
  if (const int32 err = DDOOSizeMethod(heap, object, newRect, partId)) return err;
  Rect housing;
  if (SlideHousingRect(heap, object, &housing, nullptr)) SetBoundsOf(heap, object, VisibleUnion(heap, object, kPartSlider, kPartScale));
  ReleaseCachedImage(heap, object, kSlideImageWord, kFlagRedrawImage);
  return 0;
}

int32 BooleanOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32 partId) {
  const int32 button = FindPart(heap, object, kPartButton, 0);
  const int32 text = partId == kPartBoolText && button ? FindPart(heap, object, kPartBoolText, 0) : 0;
  if (text && AnchorOf(heap, text) == kPartButton && AttachOf(heap, text) == kAttachCentred &&
      (FlagsOf(heap, text) & kFlagBoolTextKeyed)) {
    const Rect t = BoundsOf(heap, text);
    Rect b = BoundsOf(heap, button);
    const int32 dw = RectWidth(&t) - RectWidth(&b) + 8, dh = RectHeight(&t) - RectHeight(&b) + 4;
    if (dw > 0 || dh > 0) {
      if (dw > 0) b.left = Pin16(int32(b.left) - (dw >> 1)), b.right = Pin16(int32(b.right) + (dw >> 1));
      if (dh > 0) b.top = Pin16(int32(b.top) - (dh >> 1)), b.bottom = Pin16(int32(b.bottom) + (dh >> 1));
      if (const int32 err = SendSize(heap, button, &b, 0)) return err;
      OInval(heap, button, kInvalAll);
      partId = kPartButton;
    }
    return DDOOSizeMethod(heap, object, newRect, partId);
  }
  const int32 on = FindPart(heap, object, kPartStateOn, 0), off = FindPart(heap, object, kPartStateOff, 0);
  if (on && off && button && AttachOf(heap, on) == kAttachCentred && AttachOf(heap, off) == kAttachCentred) {
    if (const int32 err = DDOOSizeMethod(heap, object, newRect, partId)) return err;
    const Rect b = BoundsOf(heap, button);
    const int32 quarter = RectHeight(&b) / 4;
    const int32 lines[2] = {b.top + quarter, b.top + quarter * 3};
    const int32 texts[2] = {on, off};
    for (int32 i = 0; i < 2; ++i) {
      const Rect t = BoundsOf(heap, texts[i]);
      const Point by{Pin16(lines[i] - RectHeight(&t) / 2 - t.top), Pin16(int32(b.right) + 3 - t.left)};
      if (const int32 err = SendOffset(heap, texts[i], by)) return err;
    }
    return 0;
  }
  return DDOOSizeMethod(heap, object, newRect, partId);
}

int32 GrouperOSizeMethod(ObjHeap heap, int32 object, const Rect* newRect, int32) {
  if (!Live(heap, object, kObjPartList + 4)) return kArgErr;
  const SizeScope scope;
  if (!scope.Entered()) return kArgErr;
  // The object holds its part list (checked above), so its flags and bounds.
  ObjSetWord(heap, object, kObjFlags / 4, ObjWord(heap, object, kObjFlags / 4) | int32(kObjFlagMoved));
  Rect old;
  std::memcpy(&old, *heap + object + kObjBounds, sizeof old);
  if (newRect) {
    InvalInWindow(heap, *newRect);
    for (int32 member : Parts(heap, object)) {
      int32 m = member;
      if (ObjClass(heap, m) == kClsFPDataController && Live(heap, m, kDCODisplay + 4)) {
        const int32 display = ObjWord(heap, m, kDCODisplay / 4);
        if (display && display != m && Live(heap, display, kObjBounds + 8)) m = display;
      }
      const Rect r = PartRect(heap, m, kRectMain);
      Rect out;
      ProportionalRect(&old, newRect, &r, &out);
      if (const int32 err = SendSize(heap, m, &out, 0)) return err;
    }
  }
  return Refit(heap, object, old);
}

// ---- Numeric text height ----------------------------------------------------------------------

void NumericTextPartMode(ObjHeap heap, int32 numeric, int32 style) {
  const int32 part = FindPart(heap, numeric, kPartNumText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (!text) return;
  const uInt32 kind = style >= 512 && style <= 1536 ? kTRKindLines : kTRKindOneLine;
  TSetMode(text, (TGetMode(text) & ~uInt32(kTRModeKind)) | kind, 0);
}

MgErr NumericFitTextPart(ObjHeap heap, int32 numeric) {
  if (!Live(heap, numeric, kNumFormatAt + 2) || !ObjIsA(heap, numeric, kClsNumeric)) return kArgErr;
  const int32 style = ObjInt16(heap, numeric, kNumFormatAt);
  OInval(heap, numeric, kInvalAll);
  const int32 part = FindPart(heap, numeric, kPartNumText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  MgErr err = kNoErr;
  if (text) {
    const int32 lines = style >= 512 && style <= 1536 && ((style - 512) & 0x4) && ((style - 512) & 0x20) ? 2 : 1;
    // A line is as high as one character of the part's font.
    const int32 font = TGetFont(text);
    Point cell{0, 0};
    TTextSize(reinterpret_cast<const uChar*>("0"), 1, font, &cell);
    TDisposeFont(font);
    Rect view{0, 0, 0, 0};
    TGetRect(text, &view, nullptr);
    Rect r = BoundsOf(heap, part);
    const int32 margin = RectHeight(&r) - RectHeight(&view);
    r.bottom = Pin16(int64(r.top) + int64(lines) * cell.v + margin);
    err = SendSize(heap, part, &r, 0);
    if (!err) err = SendSize(heap, numeric, nullptr, kPartNumText);
  }
  NumericTextPartMode(heap, numeric, style);
  OInval(heap, numeric, kInvalAll);
  return err;
}

MgErr NumericSetFormatStyle(ObjHeap heap, int32 numeric, int32 style) {
  if (!Live(heap, numeric, kNumFormatAt + 2) || !ObjIsA(heap, numeric, kClsNumeric) || style < -32768 ||
      style > 32767)
    return kArgErr;
  if (ObjInt16(heap, numeric, kNumFormatAt) == style) return kNoErr;
  const int16 v = int16(style);
  std::memcpy(*heap + numeric + kNumFormatAt, &v, sizeof v);
  return NumericFitTextPart(heap, numeric);
}

void SetKnobScaleResizeHook(KnobScaleResizeProc proc) { gKnobScaleResize = proc; }
KnobScaleResizeProc KnobScaleResizeHookInUse() { return gKnobScaleResize; }

// ---- The class table -----------------------------------------------------------------------

namespace {

}  // namespace

ObjMethodAddr OSizeMethodFor(int32 cls) {
  switch (cls) {
    case kClsCosmetic: return Addr(&CosmeticOSizeMethod);
    case kClsLabel: case kClsSelLabel: return Addr(&LabelOSizeMethod);
    case kClsMultiCosmetic: return Addr(&MultiCosmeticOSizeMethod);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticOSizeMethod);
    case kClsMultiLabel: return Addr(&MultiLabelOSizeMethod);
    case kClsBigMultiLabel: return Addr(&BigMultiLabelOSizeMethod);
    case kClsDataDisplayObject: case kClsTable: case kClsCluster: case kClsUserItem: case kClsTypeDefinition:
    case kClsOleVariant:
      return Addr(&DDOOSizeMethod);
    case kClsNumeric: case kClsColorBox: case kClsColorRamp: return Addr(&NumericOSizeMethod);
    case kClsRefNum: return Addr(&RefNumOSizeMethod);
    case kClsString: case kClsTag: case kClsPath: return Addr(&StringOSizeMethod);
    case kClsPicture: return Addr(&PictureOSizeMethod);
    case kClsArray: return Addr(&ArrayOSizeMethod);
    case kClsRing: return Addr(&RingOSizeMethod);
    case kClsSlide: return Addr(&SlideOSizeMethod);
    case kClsKnob: return Addr(&KnobOSizeMethod);
    case kClsBoolean: return Addr(&BooleanOSizeMethod);
    case kClsGrouperObject: return Addr(&GrouperOSizeMethod);
    default: return nullptr;  // listboxes, containers, scales and graphs join from the controls
  }
}
