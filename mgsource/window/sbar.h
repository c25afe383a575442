// Scroll bars drawn and tracked by the system itself.  A bar has no record:
// every call gives its rectangle, the three numbers (value, visible amount,
// total; 0 <= value <= total - visible), the orientation and optionally a
// glyph colour and one colour for the arrow faces and the track.  A bar
// whose total is not above its visible amount (or whose visible amount is
// not positive) is inactive: drawn as value 0, visible 1, total 2 without a
// thumb, its glyphs in the shadow colour.  Any int32 numbers are accepted:
// values are clamped and the arithmetic is done in 64 bits, so huge totals
// place the thumb and report drag values exactly.
//
// Tracking results: a part code (2/3 up/down arrow, 4/5 left/right arrow,
// 6/7 page up/down, 8/9 page left/right), a thumb value OR-ed with
// 0x80000000 (vertical) or 0xC0000000 (horizontal) (decode with AND
// 0x3FFFFFFF), 1 while nothing happens, 0 when tracking ends or is refused.
//
// User-interface thread only; drawing goes through the current port.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

enum : int32 {
  kSBarUpArrow = 2,
  kSBarDownArrow = 3,
  kSBarLeftArrow = 4,
  kSBarRightArrow = 5,
  kSBarPageUp = 6,
  kSBarPageDown = 7,
  kSBarPageLeft = 8,
  kSBarPageRight = 9,
};
constexpr uInt32 kSBarThumbVertical = 0x80000000u;
constexpr uInt32 kSBarThumbHorizontal = 0xC0000000u;
constexpr uInt32 kSBarThumbValueMask = 0x3FFFFFFFu;

// Glyph directions of DrawSBarArrow, and its pressed state.
enum : int32 { kSBarGlyphLeft = 0, kSBarGlyphRight = 1, kSBarGlyphUp = 2, kSBarGlyphDown = 3, kSBarNoGlyph = -1 };
enum : int32 { kSBarRaised = 0, kSBarPressed = 2 };

// The parts of a bar: the two arrow boxes (up or left first), the track
// between them and the thumb in it (empty when inactive), with the lengths
// and the normalised numbers they were made from.
struct SBarParts {
  Rect arrow1, arrow2, track, thumb;
  int32 arrow, trackLength, thumbLength;
  int32 value, visible, total;
  Bool32 active;
};
QX_EXTERN_C void SBarGeometry(const Rect* r, int32 value, int32 visible, int32 total, Bool32 vertical, SBarParts* out);

QX_EXTERN_C void DrawSBar(const Rect* r, int32 value, int32 visible, int32 total, const DColor* glyph,
                          const DColor* face, Bool32 vertical);
// Redraws what changed between the old numbers and the new ones.
QX_EXTERN_C void UpdateSBar(const Rect* r, int32 value, int32 visible, int32 total, int32 oldValue,
                            int32 oldVisible, int32 oldTotal, const DColor* glyph, const DColor* face,
                            Bool32 vertical);
// Polling tracker: the first call captures the mouse and handles a press at
// the point; later calls wait for the next tracking event (the tracking
// time-out) and handle it; capture ends with result 0.
QX_EXTERN_C int32 TrackSBar(const Rect* r, Point point, int32 value, int32 visible, int32 total, const DColor* glyph,
                            const DColor* face, Bool32 vertical);
// Tracker for callers with their own event loop: each tracking event is
// passed in (the first one the press).
QX_EXTERN_C int32 TrackSBarEvent(const Rect* r, Point point, int32 eventCode, int32 value, int32 visible,
                                 int32 total, const DColor* glyph, const DColor* face, Bool32 vertical);
// An arrow box or the thumb: painted in the face colour, then pressed (bw
// colour black: an outline in the first colour) or raised, then the glyph
// unless direction is kSBarNoGlyph.
QX_EXTERN_C void DrawSBarButton(const Rect* r, DColor first, DColor second, DColor bwColour, int32 direction,
                                DColor glyph, DColor face);
QX_EXTERN_C void DrawSBarArrow(const Rect* r, int32 direction, DColor colour, int32 state);
QX_EXTERN_C void DrawSBarThumb(const Rect* track, const Rect* thumb, Bool32 vertical, DColor trackColour,
                               DColor face, DColor light, DColor shadow);

// The tracking time-out (ms) the polling trackers wait between steps; the
// shell sets it from "trackTimeout".
QX_EXTERN_C void WSetTrackTimeout(int32 ms);
int32 WTrackTimeout();
// Forgets both trackers' state (tests).
void SBarResetTrackers();
