// The caret, activation, the drop caret and selecting with the mouse.
#include "mgsource/window/textcaret.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/rects.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/wport.h"
#include "platform/qx_sysinfo.h"

namespace {

// The one caret: its record, window and flash word (bit 0: scheduled).
struct Caret {
  TRecord owner = nullptr;
  WindowRef window = 0;
  uInt16 flash = 0;
  OccurHdlr handler = 0;
} gCaret;

struct DropCaret {
  TRecord record = nullptr;
  WindowRef window = 0;
  int32 offset = 0;
  bool drawn = false;
} gDrop;

// The word a double-click selected, kept while it is extended by words.
int32 gWordStart = 0, gWordEnd = 0;

bool Valid(TRecord r) {
  if (r && *r && TRData(r)->text) return true;
  DBAssert(__FILE__, __LINE__, "no text record");
  return false;
}

uInt32 EditClass(TRecord r) { return TRData(r)->mode & kTRModeEditClass; }
bool Flashes(TRecord r) {
  const TRecordData* d = TRData(r);
  return d->selStart == d->selEnd && (EditClass(r) == 0x400 || EditClass(r) == 0x500);
}

void ForgetCaretColumn(TRecord r) {
  UHandle lines = TRData(r)->lines;
  if (lines && DSGetHandleSize(lines) >= kTLHeader) PutNative16(*lines + kTLCaretColumn, kTLNoCaretColumn);
}

Rect Outer(TRecord r) {
  Rect outer;
  TGetRect(r, &outer, nullptr);
  return outer;
}

// The highlight of the range [start, end) (the caret bar when it is empty)
// inverted in the current port.
void InvertRange(TRecord r, int32 start, int32 end) {
  if (TRData(r)->flags & kTRFlagCollapsed) return;
  TValidateLines(r);
  const Rect view = TRData(r)->view;
  const LRect dest = TRData(r)->dest;
  // The highlight pair against the text and background colours (a
  // transparent background as white or black by the text colour, a
  // transparent text colour as white).
  DColor hiliteText = 0, hiliteBack = 0xFFFFFF;
  TGetHiliteColors(&hiliteText, &hiliteBack);
  DColor text = TRData(r)->runs[0].colour, back = TRData(r)->background;
  if (text == kTransparentColor) text = 0xFFFFFF;
  if (back == kTransparentColor) back = text == 0 ? 0xFFFFFF : 0;
  const auto invert = [&](int32 top, int32 left, int32 bottom, int32 right) {
    if (left < dest.left) left = dest.left;
    if (right > dest.right) right = dest.right;
    Rect band{int16(top < view.top ? view.top : top), int16(left < view.left ? view.left : left),
              int16(bottom > view.bottom ? view.bottom : bottom), int16(right > view.right ? view.right : right)};
    if (band.top < band.bottom && band.left < band.right) DHiliteRect(&band, hiliteBack, back, hiliteText, text, 0);
  };
  if (start == end) {
    TLineEntry line{};
    const Point at = TOffsetToPt(r, start, (TRData(r)->flags & kTRFlagMovingBelow) != 0, &line);
    const int32 top = at.v - line.ascent;
    invert(top, at.h - 1, top + line.height, at.h);
    return;
  }
  const int32 count = TLineCount(r);
  for (int32 i = 0; i < count; ++i) {
    const TLineEntry line = TLineAt(r, i);
    const int32 next = i + 1 < count ? TLineAt(r, i + 1).start : 0x7FFFFFFF;
    if (next <= start || line.start >= end) continue;
    const int32 from = start > line.start ? start : line.start;
    const Point left = TOffsetToPt(r, from, 1, nullptr);
    const int32 top = left.v - line.ascent;
    const int32 right = end < next ? TOffsetToPt(r, end, 0, nullptr).h : dest.right;
    invert(top, left.h, top + line.height, right);
  }
}

// Inverts the record's selection in its window (the current port when the
// window is not known); the caret-drawn flag follows.
void Toggle(TRecord r, WindowRef window) {
  TRData(r)->flags ^= kTRFlagShown;
  if (!window) window = WCurrentPort();
  if (!window || !WIsWindow(window)) return;
  WPortState saved;
  WSetup(window, &saved);
  InvertRange(r, TRData(r)->selStart, TRData(r)->selEnd);
  WRestore(&saved);
}

}  // namespace

void TRedrawShownCaret(TRecord record) {
  if (record && *record && (TRData(record)->flags & kTRFlagShown))
    InvertRange(record, TRData(record)->selStart, TRData(record)->selEnd);
}

namespace {

int32 Flash(void*) {
  TRecord r = gCaret.owner;
  if (!r || !*r || !(gCaret.flash & 1)) return 0;
  if (TRData(r)->selStart != TRData(r)->selEnd) DBPrintf("### Text flashing with non-empty selection!!");
  Toggle(r, gCaret.window);
  OnOccurrence(gCaret.handler, 1);
  OccurAtTime(TCaretFlashOccurrence(), MilliSecs() + kTCaretPeriodMs);
  return 0;
}

void InstallCaret(TRecord r) {
  if (gCaret.owner && gCaret.owner != r) {
    DBPrintf("Some other text is still flashing in Install caret");
    TRecord other = gCaret.owner;
    TStopFlashing(other, 1);
    gCaret = Caret{nullptr, 0, 0, gCaret.handler};
  }
  gCaret.owner = r;
  gCaret.window = WCurrentPort();
}

void RemoveCaret(TRecord r) {
  if (gCaret.owner != r) {
    DBPrintf("### Trying to remove caret from wrong text!");
    return;
  }
  if (gCaret.flash & 1) DBPrintf("### Trying to remove flashing caret!");
  gCaret = Caret{nullptr, 0, 0, gCaret.handler};
}

// The selection from an anchor to a moving offset; only a changed highlight
// is drawn again.
void SelectFromAnchor(TRecord r, int32 anchor, int32 moving) {
  TRecordData* d = TRData(r);
  const int32 start = moving < anchor ? moving : anchor, end = moving < anchor ? anchor : moving;
  if (start == d->selStart && end == d->selEnd) {
    TSetMovingEnd(r, moving < anchor);
    return;
  }
  const bool shown = d->flags & kTRFlagShown;
  if (shown) Toggle(r, 0);
  d = TRData(r);
  d->selStart = start;
  d->selEnd = end;
  TSetMovingEnd(r, moving < anchor);
  if (shown) Toggle(r, 0);
}

// One line or one "M" column towards a point outside the view, drawn.
void AutoScroll(TRecord r, Point point) {
  TValidateLines(r);  // the text's whole height decides
  const Rect view = TRData(r)->view;
  const LRect dest = TRData(r)->dest;
  if (dest.bottom - dest.top > view.bottom - view.top) {
    if (point.v < view.top) TScrollByPart(r, 2, 1);
    else if (point.v >= view.bottom) TScrollByPart(r, 3, 1);
  }
  if (dest.right - dest.left > view.right - view.left) {
    if (point.h < view.left) TScrollByPart(r, 4, 1);
    else if (point.h >= view.right) TScrollByPart(r, 5, 1);
  }
}

// Which bar of the record the point lies on (1 vertical, 2 horizontal, 0
// none).
int32 BarAt(TRecord r, Point point) {
  Rect vertical, horizontal;
  TGetBarRects(r, &vertical, &horizontal);
  if (DPtInRect(point, &vertical)) return kTClickVBar;
  if (DPtInRect(point, &horizontal)) return kTClickHBar;
  return 0;
}

}  // namespace

TRecord TCaretOwner() { return gCaret.owner; }

void TStopFlashing(TRecord record, Bool32 erase) {
  if (!record || !*record) return;
  if ((TRData(record)->flags & kTRFlagShown) && erase) Toggle(record, record == gCaret.owner ? gCaret.window : 0);
  if (record == gCaret.owner && (gCaret.flash & 1)) {
    CancelOnOccur(gCaret.handler);
    CancelOccurAtTime(TCaretFlashOccurrence());
    gCaret.flash &= uInt16(~1u);
  }
}

void TStartFlashing(TRecord record, int32 delayMs) {
  if (!record || !*record || record != gCaret.owner) return;
  if (!(TRData(record)->flags & kTRFlagShown)) Toggle(record, gCaret.window);
  if (!Flashes(record)) return;
  if (!gCaret.handler) gCaret.handler = AllocOccurHdlr(TCaretFlashOccurrence(), Flash, nullptr);
  if (!gCaret.handler) return;
  if (!(gCaret.flash & 1)) {
    OnOccurrence(gCaret.handler, 1);
    gCaret.flash |= 1;
  }
  OccurAtTime(TCaretFlashOccurrence(), MilliSecs() + uInt32(delayMs));
}

void TXFinishCaret() {
  if (gCaret.handler) DeallocOccurHdlr(gCaret.handler);
  gCaret = Caret{};
  gDrop = DropCaret{};
}

void TActivate(TRecord record, Bool32 redraw) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagActive)) return;
  TRData(record)->flags |= kTRFlagActive;
  if (redraw) TDraw(record);
  TValidateLines(record);
  InstallCaret(record);
  TStartFlashing(record, kTCaretFirstMs);
}

void TDeactivate(TRecord record, Bool32 redraw) {
  if (!Valid(record) || !(TRData(record)->flags & kTRFlagActive)) return;
  const bool keepShown = TRData(record)->mode & kTRModeKeepShown;
  TStopFlashing(record, redraw && !keepShown);
  if (gCaret.owner == record) RemoveCaret(record);
  TRecordData* d = TRData(record);
  d->flags &= ~uInt32(kTRFlagActive);
  if (redraw && !(d->flags & kTRFlagCollapsed) &&
      (d->background == kTransparentColor || (d->mode & kTRModeInvalOnDeactivate))) {
    const Rect outer = Outer(record);
    WInvalRect(WCurrentPort(), &outer);
  }
}

void TSuspend(TRecord record) {
  if (!Valid(record)) return;
  TRData(record)->flags |= kTRFlagSuspended;
  TStopFlashing(record, 1);
  if (gCaret.owner == record) RemoveCaret(record);
}

void TResume(TRecord record) {
  if (!Valid(record)) return;
  TRData(record)->flags &= ~uInt32(kTRFlagSuspended);
  if (TRData(record)->flags & kTRFlagActive) {
    InstallCaret(record);
    TStartFlashing(record, kTCaretFirstMs);
  }
}

int32 TIdle(TRecord record, Point point) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagCollapsed)) return kTIdleOutside;
  const Rect outer = Outer(record);
  if (!DPtInRect(point, &outer)) return kTIdleOutside;
  if (const int32 bar = BarAt(record, point)) return bar;
  return EditClass(record) == 0 || EditClass(record) == 0x100 ? kTIdleReadOnly : kTIdleEdit;
}

int32 TClick(TRecord record, Point point, int32 flags) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagCollapsed)) return kTClickOutside;
  Rect outer = Outer(record);
  if (!DPtInRect(point, &outer)) return kTClickOutside;
  if (BarAt(record, point)) {
    if ((TRData(record)->mode & kTRModeInvalOnDeactivate) && !(TRData(record)->flags & kTRFlagActive))
      WInvalRect(WCurrentPort(), &outer);
    return TClickScrollBars(record, point);
  }
  if (EditClass(record) == 0 || EditClass(record) == 0x100) return kTClickReadOnly;
  TValidateLines(record);
  if (!(TRData(record)->flags & kTRFlagActive)) {
    const TRecordData* d = TRData(record);
    TActivate(record, d->background == kTransparentColor || (d->mode & kTRModeInvalOnDeactivate));
    flags &= ~kTClickExtend;
  }
  if (TRData(record)->selStart == TRData(record)->selEnd) TStopFlashing(record, 1);
  const Rect view = TRData(record)->view;
  point.v = int16(point.v < view.top ? view.top : point.v >= view.bottom ? view.bottom - 1 : point.v);
  point.h = int16(point.h < view.left ? view.left : point.h >= view.right ? view.right - 1 : point.h);
  const int32 offset = TPtToOffset(record, point, kTPtClick);
  int32 result = kTClickDrag;
  TRecordData* d = TRData(record);
  if (flags & kTClickExtend) {
    SelectFromAnchor(record, TGetMovingEnd(record) ? d->selEnd : d->selStart, offset);
  } else if (flags & kTClickAll) {
    SelectFromAnchor(record, 0, int32(GetNative32(*d->text)));
    result = kTClickDone;
  } else if (flags & kTClickWord) {
    TWordAt(record, offset, &gWordStart, &gWordEnd);
    SelectFromAnchor(record, gWordStart, gWordEnd);
    TRData(record)->flags |= kTRFlagWordDrag;
  } else {
    SelectFromAnchor(record, offset, offset);
    TRData(record)->flags &= ~uInt32(kTRFlagWordDrag | kTRFlagHexHalf);
  }
  ForgetCaretColumn(record);
  TSelectText(record, TRData(record)->selStart, TRData(record)->selEnd);  // the insertion style
  TStartFlashing(record, kTCaretFirstMs);
  return result;
}

void TTrackTo(TRecord record, Point point, int32 eventCode) {
  (void)eventCode;
  if (!Valid(record)) return;
  TStopFlashing(record, 0);
  const int32 offset = TPtToOffset(record, point, kTPtDrag);
  TRecordData* d = TRData(record);
  if (d->flags & kTRFlagWordDrag) {
    int32 ws = offset, we = offset;
    TWordAt(record, offset, &ws, &we);
    if (offset < gWordStart) SelectFromAnchor(record, gWordEnd, ws);
    else SelectFromAnchor(record, gWordStart, we > gWordEnd ? we : gWordEnd);
  } else {
    SelectFromAnchor(record, TGetMovingEnd(record) ? d->selEnd : d->selStart, offset);
  }
  const Rect outer = Outer(record);
  if (!DPtInRect(point, &outer)) AutoScroll(record, point);
}

int32 TTrack(TRecord record, Point point, int32 flags) {
  const int32 result = TClick(record, point, flags);
  if (result != kTClickDrag) return result;
  WStartTrack();
  for (;;) {
    WEventRecord event{};
    WGetTrackEvent(&event, 100);
    int32 code = event.code;
    if (!(code == 1 || code == 2 || code == 3 || code == 4 || code == 6 || code == 7)) code = 2;
    const Point at{int16(event.where & 0xFFFF), int16(uInt32(event.where) >> 16)};
    TTrackTo(record, at, code);
    if (code == 2) break;
  }
  WEndTrack();
  TRData(record)->flags |= kTRFlagShown;
  TSelectText(record, TRData(record)->selStart, TRData(record)->selEnd);
  TStartFlashing(record, kTCaretFirstMs);
  return kTClickDone;
}

void TShowDropCaret(TRecord record, Point point, WindowRef window) {
  if (!Valid(record)) return;
  TValidateLines(record);
  TRecordData* d = TRData(record);
  TStopFlashing(record, d->selStart == d->selEnd);
  gDrop = DropCaret{record, window, TPtToOffset(record, point, 0), false};
  TMoveDropCaret(record, point);
}

namespace {
// Inverts the drop caret: the record's selection set to the drop offset
// for the time of drawing.
void ToggleDrop() {
  TRecord r = gDrop.record;
  TRecordData* d = TRData(r);
  const int32 s = d->selStart, e = d->selEnd;
  const uInt32 shown = d->flags & kTRFlagShown;
  d->selStart = d->selEnd = gDrop.offset;
  Toggle(r, gDrop.window);
  d = TRData(r);
  d->selStart = s;
  d->selEnd = e;
  d->flags = (d->flags & ~uInt32(kTRFlagShown)) | shown;
  gDrop.drawn = !gDrop.drawn;
}
}  // namespace

void TMoveDropCaret(TRecord record, Point point) {
  if (!Valid(record) || record != gDrop.record) return;
  const int32 offset = TPtToOffset(record, point, 0);
  if (gDrop.drawn && offset == gDrop.offset) return;
  if (gDrop.drawn) ToggleDrop();
  gDrop.offset = offset;
  ToggleDrop();
}

void THideDropCaret() {
  TRecord r = gDrop.record;
  if (!r || !*r) return;
  if (gDrop.drawn) ToggleDrop();
  gDrop = DropCaret{};
  TStartFlashing(r, kTCaretFirstMs);
}

int32 TGetDropOffset() { return gDrop.offset; }
