// Scroll bars: geometry, drawing and the two trackers.
#include "mgsource/window/sbar.h"

#include <algorithm>

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/rects.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"

namespace {

int32 gTrackTimeout = 50;

int16 Clip16(int64 v) { return int16(std::clamp<int64>(v, -32768, 32767)); }

// The colours of one call.
struct BarColours {
  DColor glyph, face, track, light, shadow;
};

BarColours Pick(const DColor* glyph, const DColor* face) {
  const MenuColours& m = gMenuColours;
  BarColours c{glyph ? *glyph : m.buttonText, m.face, m.scrollTrack, m.light, m.shadow};
  if (face) {
    c.face = c.track = *face;
    DGetHilites(*face, &c.light, &c.shadow);
  }
  return c;
}

void PaintIn(const Rect* r, DColor colour, DColor bw) {
  if (colour == kTransparentColor) return;
  DSelectNormPen(colour, bw);
  DPaintRect(r);
}

int32 GlyphOf(Bool32 vertical, bool second) {
  return vertical ? (second ? kSBarGlyphDown : kSBarGlyphUp) : (second ? kSBarGlyphRight : kSBarGlyphLeft);
}

void DrawArrowBox(const Rect* box, int32 direction, bool pressed, bool active, const BarColours& c) {
  DrawSBarButton(box, pressed ? c.shadow : c.light, c.shadow, pressed ? kBlackColor : kWhiteColor, direction,
                 active ? c.glyph : c.shadow, c.face);
}

void DrawTrack(const SBarParts& p, Bool32 vertical, const BarColours& c) {
  const Rect none{0, 0, 0, 0};
  DrawSBarThumb(&p.track, p.active ? &p.thumb : &none, vertical, c.track, c.face, c.light, c.shadow);
}

}  // namespace

void WSetTrackTimeout(int32 ms) { gTrackTimeout = ms; }
int32 WTrackTimeout() { return gTrackTimeout; }

void SBarGeometry(const Rect* r, int32 value, int32 visible, int32 total, Bool32 vertical, SBarParts* out) {
  if (!out) return;
  *out = SBarParts{};
  if (!r) return;
  const bool active = total > visible && visible > 0;
  if (!active) value = 0, visible = 1, total = 2;
  value = int32(std::clamp<int64>(value, 0, int64(total) - visible));
  const int32 length = std::max(0, vertical ? RectHeight(r) : RectWidth(r));
  const int32 thick = std::max(0, vertical ? RectWidth(r) : RectHeight(r));
  int32 a = std::max<int32>(6, vertical ? gMenuMetrics.vArrowHeight : gMenuMetrics.hArrowWidth);
  if (4 * int64(a) > length) a = std::min(length / 4, thick);
  const int32 t = length - 2 * a;
  int64 m = int64(t) * visible / total;
  if (m < thick) m = t > thick ? thick : t / 2;
  const int64 start = (int64(t) - m) * value / (int64(total) - visible);
  out->arrow = a;
  out->trackLength = t;
  out->thumbLength = int32(m);
  out->value = value, out->visible = visible, out->total = total;
  out->active = active;
  const int32 from = vertical ? r->top : r->left, to = vertical ? r->bottom : r->right;
  const auto span = [&](int64 lo, int64 hi) {
    Rect x = *r;
    if (vertical) x.top = Clip16(lo), x.bottom = Clip16(hi);
    else x.left = Clip16(lo), x.right = Clip16(hi);
    return x;
  };
  out->arrow1 = span(from, int64(from) + a);
  out->arrow2 = span(int64(to) - a, to);
  out->track = span(int64(from) + a, int64(to) - a);
  const int64 thumbStart = int64(from) + a + start;
  out->thumb = active ? span(thumbStart, thumbStart + m) : Rect{0, 0, 0, 0};
}

void DrawSBarArrow(const Rect* r, int32 direction, DColor colour, int32 state) {
  if (!r || direction < kSBarGlyphLeft || direction > kSBarGlyphDown) return;
  const int32 w = RectWidth(r), h = RectHeight(r);
  const bool horizontal = direction <= kSBarGlyphRight;
  const int32 across = horizontal ? h : w, along = horizontal ? w : h;
  if (across < 8 || along < 7) return;
  const int32 s = (std::min(w, h) - 4) / 3;
  if (s < 1) return;
  int32 ch = (r->left + r->right) / 2, cv = (r->top + r->bottom) / 2;
  if (state == kSBarPressed) ++ch, ++cv;
  DSelectNormPen(colour, kBlackColor);
  // Row k from the tip is 2k + 1 pixels wide; the tip lies (s - 1) / 2
  // ahead of the centre and the base (row s - 1) s / 2 behind it.
  for (int32 k = 0; k < s; ++k) {
    const int32 ahead = (s - 1) / 2 - k;
    switch (direction) {
      case kSBarGlyphUp: DMoveTo(ch - k, cv - ahead), DLineTo(ch + k, cv - ahead); break;
      case kSBarGlyphDown: DMoveTo(ch - k, cv + ahead), DLineTo(ch + k, cv + ahead); break;
      case kSBarGlyphLeft: DMoveTo(ch - ahead, cv - k), DLineTo(ch - ahead, cv + k); break;
      default: DMoveTo(ch + ahead, cv - k), DLineTo(ch + ahead, cv + k); break;
    }
  }
}

void DrawSBarButton(const Rect* r, DColor first, DColor second, DColor bwColour, int32 direction, DColor glyph,
                    DColor face) {
  if (!r) return;
  PaintIn(r, face, kWhiteColor);
  const bool pressed = bwColour == kBlackColor;
  if (pressed) {
    DSelectNormPen(first, kBlackColor);
    DFrameRect(r);
  } else if (face == gMenuColours.face) {
    DrawBevelFrame(r, kBevelRaised);
  } else {
    // Caller colours: a face/frame ring, then a light/shadow one inside it.
    DrawBevelRing(r, kBevelFaceFrame, kBlackColor);
    const int32 top = r->top + 1, left = r->left + 1, bottom = r->bottom - 2, right = r->right - 2;
    if (bottom >= top && right >= left) {
      DSelectNormPen(first, kWhiteColor);
      DMoveTo(left, bottom), DLineTo(left, top), DLineTo(right, top);
      DSelectNormPen(second, kBlackColor);
      DMoveTo(left, bottom), DLineTo(right, bottom), DLineTo(right, top);
    }
  }
  if (direction != kSBarNoGlyph) DrawSBarArrow(r, direction, glyph, pressed ? kSBarPressed : kSBarRaised);
}

void DrawSBarThumb(const Rect* track, const Rect* thumb, Bool32 vertical, DColor trackColour, DColor face,
                   DColor light, DColor shadow) {
  if (!track || DEmptyRect(track)) return;
  // The track: a 50 % pattern of the two colours, one pixel narrower on each
  // side across, edged in shadow (near side) and light (far side).
  Rect inner = *track;
  if (vertical) inner.left = int16(inner.left + 1), inner.right = int16(inner.right - 1);
  else inner.top = int16(inner.top + 1), inner.bottom = int16(inner.bottom - 1);
  if (!DEmptyRect(&inner)) {
    PenState s{trackColour, face, {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}, 1, 0, 0, 0};
    const int32 pen = DNewPen(kDefaultPenBase, kPenAll, &s);
    if (pen > 0) {
      DSelectPen(pen, kWhiteColor, kBlackColor);
      DPaintRect(&inner);
      DSelectNormPen(kBlackColor, kBlackColor);
      DDestroyPen(pen);
    }
  }
  if (vertical) {
    DSelectNormPen(shadow, kBlackColor);
    DMoveTo(track->left, track->top), DLineTo(track->left, track->bottom - 1);
    DSelectNormPen(light, kBlackColor);
    DMoveTo(track->right - 1, track->top), DLineTo(track->right - 1, track->bottom - 1);
  } else {
    DSelectNormPen(shadow, kBlackColor);
    DMoveTo(track->left, track->top), DLineTo(track->right - 1, track->top);
    DSelectNormPen(light, kBlackColor);
    DMoveTo(track->left, track->bottom - 1), DLineTo(track->right - 1, track->bottom - 1);
  }
  if (thumb && !DEmptyRect(thumb)) DrawSBarButton(thumb, light, shadow, kWhiteColor, kSBarNoGlyph, 0, face);
}

void DrawSBar(const Rect* r, int32 value, int32 visible, int32 total, const DColor* glyph, const DColor* face,
              Bool32 vertical) {
  if (!r) return;
  SBarParts p;
  SBarGeometry(r, value, visible, total, vertical, &p);
  const BarColours c = Pick(glyph, face);
  PaintIn(r, c.track, kWhiteColor);
  DrawTrack(p, vertical, c);
  DrawArrowBox(&p.arrow1, GlyphOf(vertical, false), false, p.active, c);
  DrawArrowBox(&p.arrow2, GlyphOf(vertical, true), false, p.active, c);
}

void UpdateSBar(const Rect* r, int32 value, int32 visible, int32 total, int32 oldValue, int32 oldVisible,
                int32 oldTotal, const DColor* glyph, const DColor* face, Bool32 vertical) {
  if (!r) return;
  SBarParts now, was;
  SBarGeometry(r, value, visible, total, vertical, &now);
  SBarGeometry(r, oldValue, oldVisible, oldTotal, vertical, &was);
  if (now.value == was.value && now.visible == was.visible && now.total == was.total && now.active == was.active)
    return;
  const BarColours c = Pick(glyph, face);
  if (now.active != was.active) {
    if (!now.active) {
      // The arrow boxes' insides in the face colour, the track in its own.
      for (const Rect* box : {&now.arrow1, &now.arrow2}) {
        Rect inside = *box;
        DInsetRect(&inside, 2, 2);
        if (!DEmptyRect(&inside)) PaintIn(&inside, c.face, kWhiteColor);
      }
      PaintIn(&now.track, c.track, kWhiteColor);
    }
    // Redrawn with the glyphs of the new state.
    DrawArrowBox(&now.arrow1, GlyphOf(vertical, false), false, now.active, c);
    DrawArrowBox(&now.arrow2, GlyphOf(vertical, true), false, now.active, c);
  }
  if (!DEqualRect(&now.track, &was.track) || !DEqualRect(&now.thumb, &was.thumb) || now.active != was.active)
    DrawTrack(now, vertical, c);
}

// ---- tracking

namespace {

constexpr int32 kDragging = 100;

struct Tracker {
  int32 state = 0;       // 0 idle, a part code, or kDragging
  int32 grab = 0;        // pointer minus the thumb's start, along the bar
  int32 lastValue = 0;   // the value the thumb shows
  Bool32 pressedDrawn = 0;
};
Tracker gPollTracker, gEventTracker;

int32 Along(Point p, Bool32 vertical) { return vertical ? p.v : p.h; }
int32 StartOf(const Rect& r, Bool32 vertical) { return vertical ? r.top : r.left; }
int32 EndOf(const Rect& r, Bool32 vertical) { return vertical ? r.bottom : r.right; }

// The part under a point: a code, or 0 for the thumb.
int32 HitPart(const SBarParts& p, Point pt, Bool32 vertical) {
  const int32 at = Along(pt, vertical);
  const int32 base = vertical ? 0 : 2;
  if (at < EndOf(p.arrow1, vertical)) return kSBarUpArrow + base;
  if (at >= StartOf(p.arrow2, vertical)) return kSBarDownArrow + base;
  if (at < StartOf(p.thumb, vertical)) return kSBarPageUp + base;
  if (at >= EndOf(p.thumb, vertical)) return kSBarPageDown + base;
  return 0;
}

bool IsArrow(int32 part) { return part >= kSBarUpArrow && part <= kSBarRightArrow; }
const Rect& ArrowBox(const SBarParts& p, int32 part) {
  return part == kSBarUpArrow || part == kSBarLeftArrow ? p.arrow1 : p.arrow2;
}
int32 ArrowGlyph(int32 part) {
  switch (part) {
    case kSBarUpArrow: return kSBarGlyphUp;
    case kSBarDownArrow: return kSBarGlyphDown;
    case kSBarLeftArrow: return kSBarGlyphLeft;
    default: return kSBarGlyphRight;
  }
}

// The value a thumb start gives: rounded to the nearest, in 0..total - visible.
int32 DragValue(const SBarParts& p, int64 start, int64 trackStart) {
  const int64 room = int64(p.trackLength) - p.thumbLength, range = int64(p.total) - p.visible;
  if (room <= 0 || start < trackStart) return 0;
  const int64 into = std::min(start - trackStart, room);
  return int32(std::min(range, (into * range + room / 2) / room));
}

void EndTracking(Tracker& k, const Rect* r, int32 visible, int32 total, Bool32 vertical, const BarColours& c) {
  SBarParts p;
  if (k.state == kDragging) {
    SBarGeometry(r, k.lastValue, visible, total, vertical, &p);
    DrawTrack(p, vertical, c);
  } else if (IsArrow(k.state) && k.pressedDrawn) {
    SBarGeometry(r, 0, visible, total, vertical, &p);
    DrawArrowBox(&ArrowBox(p, k.state), ArrowGlyph(k.state), false, true, c);
  }
  k = Tracker{};
}

int32 TrackStep(Tracker& k, const Rect* r, Point pt, int32 code, int32 value, int32 visible, int32 total,
                const DColor* glyph, const DColor* face, Bool32 vertical) {
  if (!r) return 0;
  const BarColours c = Pick(glyph, face);
  if (!(total > visible && visible > 0)) {
    k = Tracker{};
    return 0;
  }
  // The parts follow the caller's rectangle and numbers on every call.
  SBarParts p;
  SBarGeometry(r, value, visible, total, vertical, &p);
  if (k.state == 0) {
    if (code != weMouseDown) return 0;
    const int32 part = HitPart(p, pt, vertical);
    if (part == 0) {
      k.state = kDragging;
      k.grab = Along(pt, vertical) - StartOf(p.thumb, vertical);
      k.lastValue = p.value;
      return 1;
    }
    k.state = part;
    if (IsArrow(part)) {
      DrawArrowBox(&ArrowBox(p, part), ArrowGlyph(part), true, true, c);
      k.pressedDrawn = 1;
    }
    return part;
  }
  switch (code) {
    case weMouseDown:
    case weMouseMove:
    case weMouseIdle:
    case 46:
      break;
    case weKey:
    case weKeyRepeat:
      return 1;
    default:
      EndTracking(k, r, visible, total, vertical, c);
      return 0;
  }
  if (k.state == kDragging) {
    const int64 start = int64(Along(pt, vertical)) - k.grab;
    const int32 v = DragValue(p, start, StartOf(p.track, vertical));
    if (v == k.lastValue) return 1;
    k.lastValue = v;
    SBarParts moved;
    SBarGeometry(r, v, visible, total, vertical, &moved);
    DrawTrack(moved, vertical, c);
    return int32(uInt32(v) | (vertical ? kSBarThumbVertical : kSBarThumbHorizontal));
  }
  if (IsArrow(k.state)) {
    const Rect& box = ArrowBox(p, k.state);
    const bool inside = DPtInRect(pt, &box);
    if (inside != bool(k.pressedDrawn)) {
      DrawArrowBox(&box, ArrowGlyph(k.state), inside, true, c);
      k.pressedDrawn = inside;
    }
    return inside ? k.state : 1;
  }
  // A page part: the track on its own side of the thumb.
  if (!DPtInRect(pt, &p.track)) return 1;
  const int32 at = Along(pt, vertical);
  const bool before = k.state == kSBarPageUp || k.state == kSBarPageLeft;
  const bool onSide = before ? at < StartOf(p.thumb, vertical) : at >= EndOf(p.thumb, vertical);
  return onSide ? k.state : 1;
}

}  // namespace

int32 TrackSBarEvent(const Rect* r, Point point, int32 eventCode, int32 value, int32 visible, int32 total,
                     const DColor* glyph, const DColor* face, Bool32 vertical) {
  return TrackStep(gEventTracker, r, point, eventCode, value, visible, total, glyph, face, vertical);
}

int32 TrackSBar(const Rect* r, Point point, int32 value, int32 visible, int32 total, const DColor* glyph,
                const DColor* face, Bool32 vertical) {
  const bool started = gPollTracker.state != 0;
  int32 result;
  if (!started) {
    if (!r || !(total > visible && visible > 0)) return 0;
    WStartTrack();
    result = TrackStep(gPollTracker, r, point, weMouseDown, value, visible, total, glyph, face, vertical);
  } else {
    WEventRecord ev{};
    WGetTrackEvent(&ev, gTrackTimeout);
    result = TrackStep(gPollTracker, r, WordToPoint(ev.where), ev.code, value, visible, total, glyph, face,
                       vertical);
  }
  if (result == 0) WEndTrack();
  return result;
}

void SBarResetTrackers() { gPollTracker = gEventTracker = Tracker{}; }
