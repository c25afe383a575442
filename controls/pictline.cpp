// The line picture: a line between two end points kept in its image's
// state words, drawn with its outline and arrow polygons, following the
// edges of its rectangle when that changes, and flattened to the 12 bytes
// a panel stores as its "PICC" resource.
#include <algorithm>

#include "controls/picc.h"
#include "controls/pictproc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"

using namespace picc;

namespace {

constexpr int32 kFlatLineSize = 12;

struct Ends {
  Point p1, p2;
};
Ends EndsOf(const PictStyleBlock* s) { return Ends{WordToPoint(int32(s->state1)), WordToPoint(int32(s->state2))}; }
void SetEnds(PictStyleBlock* s, Point p1, Point p2) {
  s->state1 = uInt32(PointToWord(p1));
  s->state2 = uInt32(PointToWord(p2));
}

// The line's width: the variant, a plain line below 2.
int32 WidthOf(const PictStyleBlock* s) { return int32(s->style & kPictVariantMask); }

// The rectangle the two points span (right and bottom exclusive), widened
// to hold the polygons the line is drawn with.
Rect Bounds(const PictStyleBlock* s) {
  const Ends e = EndsOf(s);
  const Box spanned{std::min(e.p1.v, e.p2.v), std::min(e.p1.h, e.p2.h), std::max(e.p1.v, e.p2.v) + 1,
                    std::max(e.p1.h, e.p2.h) + 1};
  Rect r = RectOf(spanned);
  LinePolys lp{};
  BuildLinePolys(kLineDraw, e.p1, e.p2, WidthOf(s), int32(s->style), &lp);
  LinePolysBounds(&lp, &r);
  return r;
}

// The end points a rectangle gives by the line's direction.
void InitFromRect(PictStyleBlock* s, const Rect& r) {
  const int32 direction = int32(s->style & kPictDirectionMask);
  const int32 right = r.right - 1, bottom = r.bottom - 1;
  if (direction == kPictHorizontal) {
    const int32 v = (r.top + r.bottom - 1) / 2;
    SetEnds(s, Pt(r.left, v), Pt(right, v));
  } else if (direction == kPictVertical) {
    const int32 h = (r.left + r.right - 1) / 2;
    SetEnds(s, Pt(h, r.top), Pt(h, bottom));
  } else if (direction == kPictLeft) {
    SetEnds(s, Pt(r.left, r.top), Pt(right, bottom));
  } else {
    SetEnds(s, Pt(right, r.top), Pt(r.left, bottom));
  }
}

void Draw(const PictStyleBlock* s, const Rect& r, DColor fore) {
  if (fore == kTransparentColor || DEmptyRect(&r)) return;
  Ends e = EndsOf(s);
  const int32 width = WidthOf(s);
  LinePolys lp{};
  BuildLinePolys(kLineDraw, e.p1, e.p2, width, int32(s->style), &lp);
  // Drawn into another rectangle than its own, the line is stretched onto it.
  const Rect bounds = Bounds(s);
  if (!DEqualRect(&bounds, &r)) {
    MapLinePolys(&lp, &bounds, &r);
    DMapPt(&e.p1, &bounds, &r);
    DMapPt(&e.p2, &bounds, &r);
  }
  Pen(fore);
  if (width <= 1) {
    DMoveTo(e.p1.h, e.p1.v);
    DLineTo(e.p2.h, e.p2.v);
  }
  PaintLinePolys(&lp);
}

bool Hit(const PictStyleBlock* s, const Rect& r, Point p) {
  const Ends e = EndsOf(s);
  LinePolys lp{};
  BuildLinePolys(kLineHit, e.p1, e.p2, std::min(WidthOf(s), 253) + 2, int32(s->style), &lp);
  const Rect bounds = Bounds(s);
  if (!DEqualRect(&bounds, &r)) MapLinePolys(&lp, &bounds, &r);
  return PtInLinePolys(p, &lp) != 0;
}

// Each end follows the edge of the rectangle it lies toward.
void Follow(PictStyleBlock* s, const Rect& now, const Rect& was) {
  Ends e = EndsOf(s);
  const int32 dTop = now.top - was.top, dBottom = now.bottom - was.bottom;
  const int32 dLeft = now.left - was.left, dRight = now.right - was.right;
  const bool firstLower = e.p1.v >= e.p2.v, firstRighter = e.p1.h >= e.p2.h;
  e.p1 = Pt(e.p1.h + (firstRighter ? dRight : dLeft), e.p1.v + (firstLower ? dBottom : dTop));
  e.p2 = Pt(e.p2.h + (firstRighter ? dLeft : dRight), e.p2.v + (firstLower ? dTop : dBottom));
  SetEnds(s, e.p1, e.p2);
}

// The size of a handle of either zone; -1 for anything else.
int32 StateSize(UHandle h) {
  if (!h) return -1;
  if (AZCheckHandle(h) == kNoErr) return *h ? AZGetHandleSize(h) : -1;
  if (DSCheckHandle(h) == kNoErr) return *h ? DSGetHandleSize(h) : -1;
  return -1;
}

void Flatten(const PictStyleBlock* s, PictMessageBlock* b) {
  UHandle h = AZNewHandle(kFlatLineSize);
  b->stateHandle = h;
  if (!h) return;
  const Ends e = EndsOf(s);
  uChar* p = *h;
  PutBE32(p, s->style);
  PutBE16(p + 4, uInt16(e.p1.v));
  PutBE16(p + 6, uInt16(e.p1.h));
  PutBE16(p + 8, uInt16(e.p2.v));
  PutBE16(p + 10, uInt16(e.p2.h));
}

void Unflatten(PictStyleBlock* s, PictMessageBlock* b) {
  const int32 size = StateSize(b->stateHandle);
  if (size < kFlatLineSize) {
    // A short or missing state: the line starts afresh from its rectangle.
    DBPrintf("LinePictProc: a flattened state of %ld bytes, not 12", long(size));
    if (b->rect) InitFromRect(s, *b->rect);
    return;
  }
  const uChar* p = *b->stateHandle;
  s->style = GetBE32(p);
  const Point p1{int16(GetBE16(p + 4)), int16(GetBE16(p + 6))};
  const Point p2{int16(GetBE16(p + 8)), int16(GetBE16(p + 10))};
  SetEnds(s, p1, p2);
}

}  // namespace

int32 LinePictProc(int32 message, PictStyleBlock* s, PictMessageBlock* b) {
  if (!s) return RectDefaultPictProc(message, s, b);
  switch (message) {
    case kPictMsgInit:
      if (HasRect(b)) InitFromRect(s, *b->rect);
      return 0;
    case kPictMsgDraw:
      if (HasRect(b)) Draw(s, *b->rect, b->foreColor);
      return 0;
    case kPictMsgHit:
      if (HasRect(b)) b->result = Hit(s, *b->rect, b->point) ? 1 : 0;
      return 0;
    case kPictMsgSize:
      if (HasRect(b)) *b->rect = Bounds(s);
      return 0;
    case kPictMsgMoved:
      // The block may be no more than the two rectangle pointers.
      if (HasRect(b) && b->otherRect) {
        Follow(s, *b->rect, *b->otherRect);
        *b->rect = Bounds(s);
      }
      return 0;
    case kPictMsgShape: return AnswerShape(b, kPictShapeOther, false);
    case kPictMsgOwnState:
      if (b) b->result = b->version != 0 && b->version < kLinePictOwnStateVersion ? 0 : 1;
      return 0;
    case kPictMsgFlatten:
      if (b) Flatten(s, b);
      return 0;
    case kPictMsgUnflatten:
      if (b) Unflatten(s, b);
      return 0;
    case kPictMsgGetEnds:
      if (b) {
        const Ends e = EndsOf(s);
        b->point1 = e.p1;
        b->point2 = e.p2;
      }
      return 0;
    case kPictMsgSetEnds:
      if (b) {
        SetEnds(s, b->point1, b->point2);
        if (b->rect) *b->rect = Bounds(s);
      }
      return 0;
    default: return RectDefaultPictProc(message, s, b);
  }
}
