#include "panel/panelscroll.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/rects.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

PanelScrollHooks gHooks;
int32 gInterval = 100;
PanelDragState gDrag{};

int32 ExtAt(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= kHeapExtWindowStyle + 2 ? ext : 0;
}
WindowRef WindowOf(ObjHeap heap) { return WindowRef(opmeth::ExtWord(heap, kHeapExtWindow)); }
Rect Visible(ObjHeap heap) {
  Rect r{0, 0, 0, 0};
  if (const int32 ext = ExtAt(heap)) std::memcpy(&r, *heap + ext + kHeapExtContentRect, sizeof r);
  return r;
}
void SetVisible(ObjHeap heap, const Rect& r) {
  if (const int32 ext = ExtAt(heap)) std::memcpy(*heap + ext + kHeapExtContentRect, &r, sizeof r);
}
Rect ContentBounds(ObjHeap heap) {
  if (gHooks.panelBounds)
    if (const Rect* r = gHooks.panelBounds(heap)) return *r;
  Rect r{0, 0, 0, 0};
  if (const int32 ext = ExtAt(heap)) std::memcpy(&r, *heap + ext + kHeapExtPanelBounds, sizeof r);
  return r;
}
void DropRgnCache(ObjHeap heap) {
  if (gHooks.disposeRgnCache) gHooks.disposeRgnCache(heap);
}
bool Inside(const Rect& r, Point p) { return p.h >= r.left && p.h < r.right && p.v >= r.top && p.v < r.bottom; }
Point PointOfWord(int32 w) {
  Point p;
  std::memcpy(&p, &w, sizeof p);
  return p;
}
int32 WordOfPoint(Point p) {
  int32 w;
  std::memcpy(&w, &p, sizeof w);
  return w;
}

}  // namespace

void SetPanelScrollHooks(const PanelScrollHooks& hooks) { gHooks = hooks; }
int32 TrackingInterval() { return gInterval; }
void SetTrackingInterval(int32 ms) { gInterval = std::max(ms, 1); }
PanelDragState& PanelDrag() { return gDrag; }

void ScrollPanelBy(ObjHeap heap, int32 dh, int32 dv) {
  if ((dh == 0 && dv == 0) || !ExtAt(heap)) return;
  Rect visible = Visible(heap);
  const WindowRef w = WindowOf(heap);
  if (!WIsWindow(w)) {
    DOffsetRect(&visible, dh, dv);
    SetVisible(heap, visible);
    return;
  }
  WPortState saved{};
  WSetup(w, &saved);
  Point origin;
  WGetOrigin(w, &origin);
  // The pixels shown move by (-dh, -dv); what they uncover is drawn again.
  Rect shown = visible;
  DScrollRect(&shown, -dh, -dv, 0, kTransparentColor, kTransparentColor);
  WSetOrigin(w, Point{int16(origin.v + dv), int16(origin.h + dh)});
  DOffsetRect(&visible, dh, dv);
  SetVisible(heap, visible);
  if (dv) {
    Rect strip = visible;
    if (dv > 0) strip.top = int16(std::max(int32(strip.top), strip.bottom - dv));
    else strip.bottom = int16(std::min(int32(strip.bottom), strip.top - dv));
    WInvalRect(w, &strip);
  }
  if (dh) {
    Rect strip = visible;
    if (dh > 0) strip.left = int16(std::max(int32(strip.left), strip.right - dh));
    else strip.right = int16(std::min(int32(strip.right), strip.left - dh));
    WInvalRect(w, &strip);
  }
  WUpdate(w);
  WRestore(&saved);
}

int32 PanelWheelScroll(ObjHeap heap, const WEventRecord* event) {
  if (!heap || !event) {
    DBAssert(__FILE__, __LINE__, "a wheel scroll without panel or event");
    return 0;
  }
  ++PanelDisplayCallCounts().wheelScrolls;
  const int32 ext = ExtAt(heap);
  if (event->code != kWEvWheel || !ext) return 0;
  uInt16 options = 0;
  std::memcpy(&options, *heap + ext + kHeapExtWindowOptions, sizeof options);
  if (!(options & kPanelWheelScrolls)) return 0;
  float amount;
  std::memcpy(&amount, &event->character, sizeof amount);
  // An amount that is not finite, or whose pixels leave the panel's range,
  // scrolls nothing.
  const double pixels = -double(amount) * ((event->modifiers & kWModShift) ? 150.0 : 30.0);
  if (!std::isfinite(pixels) || std::fabs(pixels) > 32767.0) return 1;
  ScrollPanelBy(heap, 0, int32(pixels));
  DropRgnCache(heap);
  return 1;
}

void GrabberTrack(ObjHeap heap, const WEventRecord* event) {
  if (!heap || !*heap || !event) return;
  enum Lock { kFree, kUndecided, kHorizontal, kVertical };
  Lock lock = (event->modifiers & kWModShift) ? kUndecided : kFree;
  Point anchor = PointOfWord(event->where);
  const WindowRef w = WindowOf(heap);
  Point before{0, 0};
  if (WIsWindow(w)) WGetOrigin(w, &before);
  WStartTrack();
  for (;;) {
    WEventRecord e{};
    WGetTrackEvent(&e, gInterval);
    if (e.code == kWEvTrackOver) break;
    if (e.code == weMouseMove) {
      const Point p = PointOfWord(e.where);
      int32 dh = anchor.h - p.h, dv = anchor.v - p.v;
      if (lock == kUndecided) lock = dh ? kHorizontal : dv ? kVertical : kUndecided;
      if (lock == kHorizontal) dv = 0;
      if (lock == kVertical) dh = 0;
      if (!Inside(Visible(heap), p)) dh = dv = 0;
      ScrollPanelBy(heap, dh, dv);
      anchor = Point{int16(p.v + dv), int16(p.h + dh)};
    }
    if (e.code == weMouseUp) break;
  }
  WEndTrack();
  if (gHooks.hideTipStrip) gHooks.hideTipStrip();
  Point after{0, 0};
  if (WIsWindow(w)) WGetOrigin(w, &after);
  if (after.h != before.h || after.v != before.v) DropRgnCache(heap);
}

void GrabberSetIdleRgn(ObjHeap heap, ActionParams* record) {
  const WindowRef window = WindowOf(heap);
  if (!heap || !*heap || !record) return;
  const int32* w = reinterpret_cast<const int32*>(record);
  // Words 3 and 4 the rectangle, 5 a region, 6 the cursor.
  if (WIsWindow(window)) {
    if (w[5]) {
      WSetIdleRgn(window, uInt32(w[5]), 1);
    } else {
      Rect r, visible = Visible(heap), both;
      std::memcpy(&r, w + 3, sizeof r);
      if (DSectRect(&visible, &r, &both)) {
        const DRgn rgn = DRectRgn(&both);
        WSetIdleRgn(window, uInt32(uintptr_t(rgn)), 0);
        if (rgn) DDestroyRgn(rgn);
      }
    }
  }
  UpdateCursor(0);
  const UHandle vi = PanelHeapOwner(heap);
  const bool plain = vi && *vi && VIRec(vi)->viKind == 0 && w[6] == 0 && !(VIRec(vi)->flags & 0x80000);
  SetCursorByNumber(plain ? -1 : w[6], 0);
}

int32 InAutoScrollBand(Point p, const Rect* r) {
  if (!r) return 0;
  const bool inside = Inside(*r, p);
  const bool near = p.h >= r->left - kAutoScrollBand && p.h < r->right + kAutoScrollBand &&
                    p.v >= r->top - kAutoScrollBand && p.v < r->bottom + kAutoScrollBand;
  return !inside && near ? 1 : 0;
}

int32 DragAutoScrollDueAt(Point where, const Rect* visible, DragTimer* timer, uInt32 now) {
  if (!timer) return 0;
  if (!InAutoScrollBand(where, visible)) {
    timer->armed = 0;
    return 0;
  }
  if (!timer->armed) {
    timer->armed = 1;
    timer->due = now + uInt32(3 * gInterval);
    return 0;
  }
  if (int32(now - timer->due) < 0) return 0;
  timer->due = now;
  return 1;
}

int32 DragAutoScrollDue(Point where, const Rect* visible, DragTimer* timer) {
  return DragAutoScrollDueAt(where, visible, timer, MilliSecs());
}

int32 DragAutoScroll(ObjHeap heap, WEventRecord* drag) {
  if (!heap || !*heap || !drag) return 0;
  const int32 step = (drag->modifiers & kWModShift) ? 40 : 8;
  const Rect v = Visible(heap);
  // The contents with the view at the panel's origin: a union with the view
  // where it is now would move the limits along with every step.
  const int32 width = v.right - v.left, height = v.bottom - v.top;
  Rect u = ContentBounds(heap);
  const Rect home{0, 0, int16(height), int16(width)};
  DUnionRect(&home, &u);
  const int32 beyondH = int32(1.25 * width), beyondV = int32(1.25 * height);
  const Point p = PointOfWord(drag->where);
  int32 dh = 0, dv = 0;
  if (p.h >= v.right && v.right < u.right + beyondH) dh = step;
  else if (p.h < v.left && v.left > u.left - beyondH) dh = -step;
  if (p.v >= v.bottom && v.bottom < u.bottom + beyondV) dv = step;
  else if (p.v < v.top && v.top > u.top - beyondV) dv = -step;
  if (dh || dv) {
    ScrollPanelBy(heap, dh, dv);
    DropRgnCache(heap);
  }
  drag->where = WordOfPoint(Point{int16(p.v + dv), int16(p.h + dh)});
  return dh || dv ? 1 : 0;
}

namespace {

// The four 2-pixel strips inside the target's content rectangle.
void Strips(ObjHeap heap, int32 target, Rect strips[4], Rect* whole) {
  Rect r{0, 0, 0, 0};
  int32 found = 0;
  GetObjContentRect(heap, target, &r, &found);
  *whole = r;
  strips[0] = Rect{r.top, r.left, int16(r.top + 2), r.right};
  strips[1] = Rect{int16(r.bottom - 2), r.left, r.bottom, r.right};
  strips[2] = Rect{r.top, r.left, r.bottom, int16(r.left + 2)};
  strips[3] = Rect{r.top, int16(r.right - 2), r.bottom, r.right};
}

}  // namespace

void DropHiliteShow(ObjHeap heap, int32 target) {
  const WindowRef w = WindowOf(heap);
  if (!heap || !*heap || !target || !WIsWindow(w)) return;
  Rect strips[4], whole;
  Strips(heap, target, strips, &whole);
  const Rect visible = Visible(heap);
  WPortState saved{};
  WSetup(w, &saved);
  DSelectNormPen(gMenuColours.selection, kBlackColor);
  for (Rect& s : strips) {
    Rect clipped;
    if (DSectRect(&s, &visible, &clipped)) DPaintRect(&clipped);
  }
  WRestore(&saved);
}

void DropHiliteHide(ObjHeap heap, int32 target) {
  const WindowRef w = WindowOf(heap);
  if (!heap || !*heap || !target || !WIsWindow(w)) return;
  Rect strips[4], whole;
  Strips(heap, target, strips, &whole);
  if (ObjClass(heap, target) == kClsConnectorPane) {
    WInvalRect(w, &whole);
  } else {
    for (const Rect& s : strips) WInvalRect(w, &s);
  }
  WUpdate(w);
}

namespace {

// The path from the root to the current drop target, as its hit test wrote
// it (the end frame included): the drag-over action of a later event goes
// down it again.
std::vector<TransactionFrame> gTargetPath;

// The frames from top to the path's end, read within the stack's block.
void KeepTargetPath(const void* top) {
  gTargetPath.clear();
  const auto* f = static_cast<const TransactionFrame*>(top);
  for (; opmeth::OnStack(f, 1); ++f) {
    gTargetPath.push_back(*f);
    if (f->kind == 0) return;
  }
  gTargetPath.clear();  // no end inside the block: no usable path
}

// The action sent to the current target inside a pushed frame.
int32 SendToTarget(ObjHeap heap, int32 action, void* transfer) {
  if (gTargetPath.empty()) return 0;
  void* const previous = TRPushFrame();
  void* const top = TRStackTop();
  int32 reply = 0;
  if (top && TRWriteFrames(top, gTargetPath.data(), int32(gTargetPath.size())))
    reply = TRSendAction(heap, top, action, transfer);
  TRSetStackTop(previous);
  return reply;
}

// The hit test of the drag's point: the root's click in the drag mode builds
// the path to the target on a pushed frame.  The click's answer; the target
// (the path's last object, 0 for none) in *target, its path kept.
int32 DragHitTest(ObjHeap heap, const WEventRecord* drag, int32* target) {
  TransactionState* state = TRState();
  const TransactionState saved = *state;
  void* const previous = TRPushFrame();
  state->mode = kTRModeDrag;
  state->point = drag->where;
  state->modifiers = int32(drag->modifiers);
  ActionParams record{};
  std::memcpy(&record.point, &drag->where, sizeof record.point);
  void* const top = TRStackTop();
  const int32 hit = OClick(heap, int32(opmeth::ExtWord(heap, kHeapExtRoot)), state, top, &record);
  *target = 0;
  for (const auto* f = static_cast<const TransactionFrame*>(top); f && opmeth::OnStack(f, 1) && f->kind != 0;
       ++f)
    *target = f->object;
  if (*target) KeepTargetPath(top);
  TRSetStackTop(previous);
  *state = saved;
  return hit;
}

// Hit tests that keep answering "drag over" with targets that do not take
// the drag would repeat for ever: the passes of one event are bounded.
constexpr int32 kMostDragPasses = 16;

}  // namespace

int32 DragTrackPanel(ObjHeap heap, WEventRecord* drag, void* transfer) {
  if (!heap || !*heap || !drag) return 0;
  PanelDragState& d = gDrag;
  const int32 code = drag->code;
  if (code == kDragEntered) {
    if (d.heap && d.target) DropHiliteHide(d.heap, d.target);
    d = PanelDragState{heap, 0, 0, DragTimer{0, 0}};
    gTargetPath.clear();
  }
  if (code == kDragLeft) {
    if (d.heap == heap) {
      if (d.reply & 1) SendToTarget(heap, kActDrop, transfer);
      if (d.target) DropHiliteHide(heap, d.target);
      d.target = d.reply = 0;
      gTargetPath.clear();
    }
    return 0;
  }
  d.heap = heap;
  // One auto-scroll step at most per event: the steps keep to the interval.
  const Rect visible = Visible(heap);
  if (DragAutoScrollDue(PointOfWord(drag->where), &visible, &d.timer)) {
    if (d.target) DropHiliteHide(heap, d.target);
    if (DragAutoScroll(heap, drag) && d.target) DropHiliteShow(heap, d.target);
  }
  int32 hit = 0;
  for (int32 pass = 0; pass < kMostDragPasses; ++pass) {
    const int32 before = hit;
    hit = 0;
    if (d.target && ((d.reply & 1) || before == kActDragOver)) d.reply = SendToTarget(heap, kActDragOver, transfer);
    if (d.reply & 1) break;
    int32 target = 0;
    hit = DragHitTest(heap, drag, &target);
    if (target != d.target) {
      if (d.target) DropHiliteHide(heap, d.target);
      d.target = target;
      d.reply = 0;
      if (target) DropHiliteShow(heap, target);
    }
    if (!target) gTargetPath.clear();
    if (hit != kActDragOver) break;
  }
  const int32 result = d.target ? 0 : kDragNoTarget;
  if (code == kDragDropped) {
    if (hit == 1) {
      WBeep();
    } else if (d.target) {
      DropHiliteHide(heap, d.target);
      SendToTarget(heap, kActDrop, transfer);
      d.target = d.reply = 0;
      gTargetPath.clear();
    }
  }
  return result;
}

int32 DragTrackPanelRec(WEventRecord* drag, ObjHeap heap) { return DragTrackPanel(heap, drag, drag); }
