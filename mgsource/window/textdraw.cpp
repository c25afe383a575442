// Text boxes and text records drawn through the host port, scrolling and
// the records' scroll bars.
#include "mgsource/window/textdraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/fonts_internal.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_text.h"

namespace {

int16 Clip16Rect(int64 v) { return int16(std::clamp<int64>(v, -32768, 32767)); }

bool Valid(TRecord r) {
  return r && *r && DSGetHandleSize(r) >= kTRFixedSize && TRData(r)->text && *TRData(r)->text;
}

int32 TextLength(TRecord r) {
  const UHandle t = TRData(r)->text;
  return t && *t ? int32(GetNative32(*t)) : 0;
}

// The bytes to show: the display form of password and hex modes, else a
// copy with tabs and NUL bytes as blanks.
std::string Shown(uInt32 mode, const uChar* bytes, int32 n) {
  if (n <= 0) return std::string();
  int32 len = n;
  if (UPtr p = TMakeDisplayText(mode, bytes, &len, 0)) {
    std::string s(reinterpret_cast<const char*>(p), size_t(len));
    DSDisposePtr(p);
    return s;
  }
  std::string s(reinterpret_cast<const char*>(bytes), size_t(n));
  for (auto& c : s)
    if (c == '\t' || c == '\0') c = ' ';
  return s;
}

int32 Extent(PlatObj fontObject, const std::string& s) {
  const PlatObj dc = fontsinternal::ScreenDc();
  if (!dc || !fontObject) return 0;
  TSelectFontIntoDC(dc, fontObject);
  int32_t w = 0;
  PlatGetTextExtent(dc, s.data(), int32_t(s.size()), &w, nullptr);
  return w;
}

// The width of the bytes in the font and the character extra to draw them
// with: a scaled font gets the spacing that brings the text to its unscaled
// width times the scale, lowered until it fits target.
int32 Measure(int32 font, const std::string& s, int32 target, int32* extra) {
  *extra = 0;
  const FontEntry* e = TFontEntry(font);
  if (!e || e->hScale == 0 || s.size() < 2 || !e->unscaled) {
    Point size{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(s.data()), int32(s.size()), font, &size);
    return size.h;
  }
  const float32 scale = e->hScale;
  const PlatObj scaledObject = e->object, unscaledObject = e->unscaled;
  const int32 scaled = Extent(scaledObject, s);
  const int32 missing = int32(std::lround(double(Extent(unscaledObject, s)) * scale)) - scaled;
  if (missing <= 0) return scaled;
  const int32 gaps = int32(s.size()) - 1;
  int32 x = missing / gaps;
  while (x > 0 && int64(scaled) + int64(x) * gaps > target) --x;
  *extra = x;
  return scaled + x * gaps;
}

PlatRect Device(const Rect& r) {
  return PlatRect{r.left - gDrawState.originH, r.top - gDrawState.originV, r.right - gDrawState.originH,
                  r.bottom - gDrawState.originV};
}

// Draws bytes with the font at (h, top) in the colour, clipped to clip when
// given; the baseline follows the font's ascent shift.
void DrawBytes(int32 font, const std::string& s, int32 h, int32 top, DColor colour, const Rect* clip,
               int32 extra) {
  const PlatObj dc = gDrawState.dc;
  const FontEntry* e = TFontEntry(font);
  if (!dc || !e || s.empty() || colour == kTransparentColor) return;
  // Selected here and put back, so that the font table never remembers a
  // window's context that may go away.
  const PlatObj oldFont = PlatSelectObject(dc, e->object);
  const uInt32 oldText = PlatSetTextColor(dc, DColorToGDIColor(colour));
  const int32 oldMode = PlatSetBkMode(dc, kPlatBkTransparent);
  const int32 oldExtra = PlatSetTextCharacterExtra(dc, extra);
  PlatRect box{};
  if (clip) box = Device(*clip);
  PlatTextOut(dc, h - gDrawState.originH, top + e->ascentShift - gDrawState.originV, clip ? uint32_t(kPlatTextClip) : 0u,
              clip ? &box : nullptr, s.data(), int32_t(s.size()));
  PlatSetTextCharacterExtra(dc, oldExtra);
  PlatSetBkMode(dc, oldMode);
  PlatSetTextColor(dc, oldText);
  if (oldFont) PlatSelectObject(dc, oldFont);
}

void Paint(const Rect& r, DColor colour, DColor bw) {
  if (colour == kTransparentColor || DEmptyRect(&r)) return;
  DSelectNormPen(colour, bw);
  DPaintRect(&r);
}

// White under dark text, black under light text.
DColor Contrast(DColor text) {
  const int32 r = (text >> 16) & 0xFF, g = (text >> 8) & 0xFF, b = text & 0xFF;
  return r * 30 + g * 59 + b * 11 < 12800 ? kWhiteColor : kBlackColor;
}

}  // namespace

Bool32 gInvertHilite = 0;

void TGetHiliteColors(DColor* text, DColor* background) {
  DColor t = PlatSysColourRgb(kPlatColourHighlightText), b = PlatSysColourRgb(kPlatColourHighlight);
  if (gInvertHilite) std::swap(t, b);
  if (text) *text = t;
  if (background) *background = b;
}

// ---- text boxes

int32 HostTextBox(const Rect* r, int32 mode, const uChar* text, int32 length, int32 font, DColor fore, DColor back,
                  DColor bwFore, DColor bwBack) {
  if (gDrawState.recording) {
    if (length < 0 || (length && !text)) return DBAssert(__FILE__, __LINE__, "TBox: bad text");
    PictOpArgs a;
    a.rect = *r;
    a.a = mode;
    a.bytes = text;
    a.count = length;
    a.ref = uInt32(font);
    a.colours[0] = fore;
    a.colours[1] = back;
    a.colours[2] = bwFore;
    a.colours[3] = bwBack;
    DRecordPictOp(kPictOpTextBox, &a);
    return 0;
  }
  if (!r) return DBAssert(__FILE__, __LINE__, "TBox: no rectangle");
  if (length < 0 || (length && !text)) return DBAssert(__FILE__, __LINE__, "TBox: bad text");
  const bool greyed = (mode & 0xF00) == kTBoxGreyed;
  if (greyed) mode &= ~kTBoxGreyed;
  // Text boxes come from pictures as well, stored ones included: the bits
  // no box may carry are reported on the debug output, never asserted on.
  if (mode & (0x40 | 0x80)) {
    DBPrintf("TBox: mode bits 0x40 and 0x80 are not allowed");
    mode &= ~(0x40 | 0x80);
  }
  const bool bw = DIsBW() != 0;
  const DColor background = bw ? bwBack : back;
  if (length == 0) {
    Paint(*r, background, bwBack);
    return 0;
  }
  const int32 kind = mode & kTRModeKind;
  if (kind != 0 && kind != kTBoxKindLineInBox) {
    // Other kinds are laid out by a temporary record.
    TRecord t = TNew(r, uInt32(mode) | (greyed ? uInt32(kTBoxGreyed) : 0u), text, length, font, fore, back);
    if (!t) return DBAssert(__FILE__, __LINE__, "TBox: out of memory");
    TDraw(t);
    TDispose(t);
    return 0;
  }
  if (!TFontEntry(font)) font = kAppFont;
  std::string s = Shown(uInt32(mode), text, length);
  const int32 just = mode & kTRModeJustify;
  if (just == kTRJustifyCentre)
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  const int32 k = kind == kTBoxKindLineInBox ? 1 : 0;
  int32 extra = 0;
  const int32 width = Measure(font, s, RectWidth(r) - k, &extra);
  Paint(*r, background, bwBack);
  int32 offset = 0;
  if (just == kTRJustifyRight) offset = RectWidth(r) - width - k;
  else if (just == kTRJustifyCentre) offset = (RectWidth(r) - width - k) / 2;
  DColor colour = bw ? bwFore : fore;
  bool greyOut = false;
  if (greyed) {
    const bool sameAsGrey =
        back != kTransparentColor && DColorToGDIColor(back) == DColorToGDIColor(kTGreyText);
    if (bw || sameAsGrey) {
      colour = kBlackColor;
      greyOut = true;
    } else {
      colour = kTGreyText;
    }
  }
  DrawBytes(font, s, r->left + offset, r->top, colour, r, extra);
  if (greyOut) DGrayOutRect(r, kWhiteColor);
  return 0;
}

int32 TBoxShadowed(const Rect* r, int32 mode, const uChar* text, int32 length, int32 font, DColor fore, DColor back,
                   DColor bwFore, DColor bwBack, DColor shadow, Bool32 flag) {
  if (!flag || !r) return TBox(r, mode, text, length, font, fore, back, bwFore, bwBack);
  Paint(*r, DIsBW() ? bwBack : back, bwBack);
  Rect offset = *r;
  DOffsetRect(&offset, 1, 1);
  TBox(&offset, mode, text, length, font, shadow, kTransparentColor, shadow, kTransparentColor);
  return TBox(r, mode, text, length, font, fore, kTransparentColor, bwFore, kTransparentColor);
}

// ---- records

namespace {

int32 BarThickness(const TRecordData* d, bool vertical) {
  if (d->flags & kTRFlagScaled) return vertical ? d->selStart : d->selEnd;
  if (d->mode & kTRModeThinBars) return 8;
  return PlatGetSystemMetric(vertical ? kPlatMetricVScrollWidth : kPlatMetricHScrollHeight);
}

int32 LineEnd(TRecord r, int32 line, int32 count, int32 n) {
  return line + 1 < count ? std::min(TLineAt(r, line + 1).start, n) : n;
}

int32 Justify(const TRecordData* d, const TLineEntry& e) {
  const int64 width = int64(d->dest.right) - d->dest.left;
  switch (d->mode & kTRModeJustify) {
    case kTRJustifyRight: return int32(std::clamp<int64>(width - e.width, -32768, 32767));
    case kTRJustifyCentre: return int32(std::clamp<int64>((width - e.trimmed) / 2, -32768, 32767));
    default: return 0;
  }
}

// Draws line i, whose top is top, inside the view.
void DrawLine(TRecord r, int32 i, int32 count, int64 top, bool bw, DColor hiliteText) {
  const TRecordData* d = TRData(r);
  const TLineEntry e = TLineAt(r, i);
  const Rect view = d->view;
  const int32 n = TextLength(r);
  Rect band{Clip16Rect(top), view.left, Clip16Rect(top + e.height), view.right};
  const bool cut = band.top < view.top || band.bottom > view.bottom;
  band.top = std::max(band.top, view.top);
  band.bottom = std::min(band.bottom, view.bottom);
  const int64 x0 = int64(d->dest.left) + Justify(d, e);
  bool clip = cut || e.trimmed > RectWidth(&view) || x0 < view.left || x0 + e.width > view.right;
  const bool active = d->flags & kTRFlagActive;
  const DColor textColour = d->runs[0].colour;
  if (d->background != kTransparentColor) Paint(band, d->background, kWhiteColor);
  else if (active) Paint(band, Contrast(textColour), kWhiteColor);
  const int32 start = std::clamp(e.start, 0, n);
  int32 end = LineEnd(r, i, count, n);
  const uChar* bytes = *d->text + 4;
  if (!(d->mode & kTRModeHex))
    while (end > start && (bytes[end - 1] == '\r' || bytes[end - 1] == '\n')) --end;
  // The pieces: the runs cut at the line's bounds.
  struct Piece {
    int32 from, to, font;
    DColor colour;
  };
  std::vector<Piece> pieces;
  const int32 runs = d->runCount;
  const auto addPiece = [&](int32 from, int32 to, int32 font, DColor colour) {
    if (to > from) pieces.push_back(Piece{from, to, font, colour});
  };
  if (runs <= 0) {
    addPiece(start, end, d->runs[0].font, d->runs[0].colour);
  } else {
    for (int32 k = 1; k <= runs; ++k) {
      const int32 rs = int32(std::min<uInt32>(TRData(r)->runs[k].start, uInt32(n)));
      const int32 re = k < runs ? int32(std::min<uInt32>(TRData(r)->runs[k + 1].start, uInt32(n))) : n;
      addPiece(std::max(rs, start), std::min(re, end), TRData(r)->runs[k].font, TRData(r)->runs[k].colour);
    }
  }
  for (size_t k = 0; k < pieces.size() && !clip; ++k) {
    int32 style = 0;
    TGetFontInfo(pieces[k].font, nullptr, nullptr, &style, nullptr);
    clip = (style & (kFontItalic | kFontUnderline)) != 0;
  }
  int64 x = x0;
  for (const Piece& p : pieces) {
    d = TRData(r);
    const std::string s = Shown(d->mode, *d->text + 4 + p.from, p.to - p.from);
    int32 ascent = 0;
    const int32 font = TFontEntry(p.font) ? p.font : kAppFont;
    TGetFontMetrics(font, &ascent, nullptr, nullptr);
    const int32 width = TMeasureRange(r, p.from, p.to - p.from);
    int32 extra = 0;
    Measure(font, s, width, &extra);
    DrawBytes(font, s, int32(std::clamp<int64>(x, -32768, 32767)), int32(top + e.ascent - ascent),
              bw ? hiliteText : p.colour, clip ? &band : nullptr, extra);
    x += width;
  }
}

}  // namespace

int32 HostTextDraw(UHandle record) {
  if (gDrawState.recording) {
    DRecordTextRecord(record);
    return 0;
  }
  if (!Valid(record)) return DBAssert(__FILE__, __LINE__, "TDraw: not a text record");
  TRecordData* d = TRData(record);
  const uInt32 kind = d->mode & kTRModeKind;
  const bool active = d->flags & kTRFlagActive;
  const bool keep = d->mode & kTRModeKeepShown;
  if (!(kind == kTRKindOneLine && d->runCount <= 1 && !active && !keep)) TValidateLines(record);
  d = TRData(record);
  if (d->flags & kTRFlagCollapsed) {
    if (!DEmptyRect(&d->view)) Paint(d->view, d->background, kWhiteColor);
    return 0;
  }
  const int32 count = TLineCount(record);
  const bool plain = !d->lines || ((kind == kTRKindOneLine || (kind != kTRKindBox && count == 1)) && !active &&
                                   !keep && d->runCount <= 1 && d->dest.top == d->view.top &&
                                   d->dest.left == d->view.left + 1);
  DColor hiliteText = kBlackColor, hiliteBack = kWhiteColor;
  TGetHiliteColors(&hiliteText, &hiliteBack);
  if (plain) {
    const int32 font = d->runCount >= 1 ? d->runs[1].font : d->runs[0].font;
    const Rect view = d->view;
    const int32 n = TextLength(record);
    // The text is copied: drawing may move the record's blocks.
    std::string text(reinterpret_cast<const char*>(*d->text + 4), size_t(n));
    // Nothing is selected here: on one-bit ports the text is black on white
    // (its background left alone where it has none), as the lines below draw it.
    TBox(&view, int32((d->mode & ~kTRModeKind) | kTBoxKindLineInBox), reinterpret_cast<const uChar*>(text.data()),
         n, font, d->runs[0].colour, d->background, kBlackColor,
         d->background == kTransparentColor ? kTransparentColor : kWhiteColor);
  } else {
    const bool bw = DIsBW() != 0;
    const Rect view = d->view;
    int64 top = d->dest.top;
    for (int32 i = 0; i < count && top < view.bottom; ++i) {
      const int32 h = TLineAt(record, i).height;
      if (top + h > view.top) DrawLine(record, i, count, top, bw, hiliteText);
      top += h;
    }
    d = TRData(record);
    Rect below{Clip16Rect(std::max<int64>(top, view.top)), view.left, view.bottom, view.right};
    if (d->background != kTransparentColor) Paint(below, d->background, kWhiteColor);
    else if (active) Paint(below, Contrast(d->runs[0].colour), kWhiteColor);
    TRedrawShownCaret(record);
  }
  TDrawBars(record);
  return 0;
}

// ---- scroll bars of records

void TGetBarRects(TRecord record, Rect* vertical, Rect* horizontal) {
  const Rect none{0, 0, 0, 0};
  if (vertical) *vertical = none;
  if (horizontal) *horizontal = none;
  if (!Valid(record)) return;
  const TRecordData* d = TRData(record);
  const Rect v = d->view;
  if (vertical && (d->mode & kTRModeVBar))
    *vertical = Rect{v.top, v.right, v.bottom, Clip16Rect(int64(v.right) + BarThickness(d, true))};
  if (horizontal && (d->mode & kTRModeHBar))
    *horizontal = Rect{v.bottom, v.left, Clip16Rect(int64(v.bottom) + BarThickness(d, false)), v.right};
}

namespace {

// The numbers of a record's bars: value, visible, total.
void BarNumbers(const TRecordData* d, bool vertical, int32* value, int32* visible, int32* total) {
  const auto pin = [](int64 x) { return int32(std::clamp<int64>(x, INT32_MIN, INT32_MAX)); };
  if (vertical) {
    *value = pin(int64(d->view.top) - d->dest.top);
    *visible = RectHeight(&d->view);
    *total = pin(int64(d->dest.bottom) - d->dest.top);
  } else {
    *value = pin(int64(d->view.left) + 1 - d->dest.left);
    *visible = RectWidth(&d->view);
    *total = pin(int64(d->dest.right) - d->dest.left);
  }
}

}  // namespace

void TDrawBars(TRecord record) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagCollapsed)) return;
  TValidateLines(record);  // the bars show the text's whole height
  Rect bars[2];
  TGetBarRects(record, &bars[0], &bars[1]);
  for (int32 i = 0; i < 2; ++i) {
    if (DEmptyRect(&bars[i])) continue;
    int32 value, visible, total;
    BarNumbers(TRData(record), i == 0, &value, &visible, &total);
    DrawSBar(&bars[i], value, visible, total, nullptr, nullptr, i == 0);
  }
}

int32 TClickScrollBars(TRecord record, Point point) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagCollapsed)) return 0;
  TValidateLines(record);
  Rect bars[2];
  TGetBarRects(record, &bars[0], &bars[1]);
  int32 which = -1;
  for (int32 i = 0; i < 2 && which < 0; ++i)
    if (!DEmptyRect(&bars[i]) && DPtInRect(point, &bars[i])) which = i;
  if (which < 0) return 0;
  const bool vertical = which == 0;
  for (;;) {
    int32 value, visible, total;
    BarNumbers(TRData(record), vertical, &value, &visible, &total);
    const int32 result = TrackSBar(&bars[which], point, value, visible, total, nullptr, nullptr, vertical);
    if (result == 0) break;
    if (result != 1) TScrollByPart(record, result, 1);
  }
  return vertical ? 1 : 2;
}

// ---- scrolling

namespace {

void ForgetCaretColumn(TRecord r) {
  UHandle lines = TRData(r)->lines;
  if (lines && DSGetHandleSize(lines) >= kTLHeader) PutNative16(*lines + kTLCaretColumn, kTLNoCaretColumn);
}

void MoveDest(TRecord r, int32 dv, int32 dh) {
  TValidateLinesForMove(r, dv);
  LOffsetRect(&TRData(r)->dest, dh, dv);
  if (dh) ForgetCaretColumn(r);
}

void Move(TRecord r, int32 dv, int32 dh, Bool32 redraw) {
  if (redraw) TScrollBy(r, dv, dh, 1);
  else MoveDest(r, dv, dh);
}

// The top of a line (count: the text's bottom) from the destination's top.
int64 LineTop(TRecord r, int32 line) {
  int64 top = TRData(r)->dest.top;
  for (int32 i = 0; i < line; ++i) top += TLineAt(r, i).height;
  return top;
}

}  // namespace

void TScrollBy(TRecord record, int32 dv, int32 dh, Bool32 drawBars) {
  if (!Valid(record) || (dv == 0 && dh == 0)) return;
  MoveDest(record, dv, dh);
  const TRecordData* d = TRData(record);
  if (d->flags & kTRFlagCollapsed) return;
  if ((d->mode & kTRModeInvalOnDeactivate) && !(d->flags & kTRFlagActive)) {
    Rect outer;
    TGetRect(record, &outer, nullptr);
    WInvalRect(WCurrentPort(), &outer);
    WUpdate(WCurrentPort());
    return;
  }
  TDraw(record);
  if (drawBars) TDrawBars(record);
}

int32 TScrollByPart(TRecord record, int32 part, Bool32 redraw) {
  if (!Valid(record) || (TRData(record)->flags & kTRFlagCollapsed)) return 0;
  TValidateLines(record);
  const TRecordData* d = TRData(record);
  const int64 vRange = LRectHeight(&d->dest) - int64(RectHeight(&d->view));
  const int64 hRange = LRectWidth(&d->dest) - (int64(RectWidth(&d->view)) - 1);
  const int64 scrolledV = int64(d->view.top) - d->dest.top;
  const int64 scrolledH = int64(d->view.left) + 1 - d->dest.left;
  int64 dv = 0, dh = 0;
  const uInt32 code = uInt32(part);
  if (code & 0x80000000u) {
    const int64 at = code & kSBarThumbValueMask;
    if (code & 0x40000000u) {
      if (hRange >= 0) dh = scrolledH - std::min(at, hRange);
    } else if (vRange >= 0) {
      dv = scrolledV - std::min(at, vRange);
    }
  } else {
    const int32 count = TLineCount(record);
    // The first line whose bottom lies below the view's top, and its top.
    int32 top = 0;
    int64 topLine = d->dest.top;
    while (top < count && topLine + TLineAt(record, top).height <= d->view.top) topLine += TLineAt(record, top++).height;
    switch (part) {
      case kSBarUpArrow: {
        if (vRange < 0) break;
        int64 step = d->view.top - topLine;
        if (step <= 0 && top > 0) step = TLineAt(record, top - 1).height;
        dv = std::max<int64>(0, std::min(step, scrolledV));
        break;
      }
      case kSBarDownArrow: {
        if (vRange < 0) break;
        int32 i = top;
        int64 lineTop = topLine;
        while (i < count && lineTop + TLineAt(record, i).height <= d->view.bottom) lineTop += TLineAt(record, i++).height;
        const int64 step = i < count ? lineTop + TLineAt(record, i).height - d->view.bottom : 0;
        dv = -std::max<int64>(0, std::min(step, vRange - scrolledV));
        break;
      }
      case kSBarLeftArrow:
      case kSBarRightArrow: {
        if (hRange < 0) break;
        Point m{0, 0};
        TTextSize(reinterpret_cast<const uChar*>("M"), 1, d->runs[0].font, &m);
        d = TRData(record);
        dh = part == kSBarLeftArrow ? std::min<int64>(m.h, scrolledH) : -std::min<int64>(m.h, hRange - scrolledH);
        break;
      }
      case kSBarPageUp:
        if (vRange >= 0) dv = std::min<int64>(RectHeight(&d->view), scrolledV);
        break;
      case kSBarPageDown:
        if (vRange >= 0) dv = -std::min<int64>(RectHeight(&d->view), vRange - scrolledV);
        break;
      case kSBarPageLeft:
        if (hRange >= 0) dh = std::min<int64>(RectWidth(&d->view), scrolledH);
        break;
      case kSBarPageRight:
        if (hRange >= 0) dh = -std::min<int64>(RectWidth(&d->view), hRange - scrolledH);
        break;
      default: break;
    }
  }
  dv = std::clamp<int64>(dv, INT32_MIN / 2, INT32_MAX / 2);
  dh = std::clamp<int64>(dh, INT32_MIN / 2, INT32_MAX / 2);
  if (dv == 0 && dh == 0) return 0;
  Move(record, int32(dv), int32(dh), redraw);
  return 1;
}

void TScroll(TRecord record, int32 part) { TScrollByPart(record, part, 1); }

int32 TScrollToLine(TRecord record, int32 line, int32 how, Bool32 redraw) {
  if (!Valid(record)) return 0;
  TValidateLines(record);
  if (TRData(record)->flags & kTRFlagCollapsed) return 0;
  const int32 count = TLineCount(record);
  line = std::clamp(line, 0, count);
  const TRecordData* d = TRData(record);
  const Rect view = d->view;
  if (LRectHeight(&d->dest) <= RectHeight(&view)) return 0;
  const int64 lineTop = LineTop(record, line);
  const int64 lineBottom = lineTop + (line < count ? TLineAt(record, line).height : 0);
  d = TRData(record);
  if (how == 3) {
    if (lineTop >= view.top && lineBottom <= view.bottom) return 0;
    how = lineBottom < view.bottom ? 1 : 2;
  }
  int64 dv;
  if (how == 1) dv = std::max<int64>(view.top - lineTop, int64(view.bottom) - d->dest.bottom);
  else if (how == 2) dv = std::min<int64>(view.bottom - lineBottom, int64(view.top) - d->dest.top);
  else return 0;
  dv = std::clamp<int64>(dv, INT32_MIN / 2, INT32_MAX / 2);
  if (dv == 0) return 0;
  Move(record, int32(dv), 0, redraw);
  return int32(dv);
}

int32 TGetTopLine(TRecord record, int32* line) {
  if (!Valid(record)) return 0;
  TValidateLines(record);
  const TRecordData* d = TRData(record);
  if (d->flags & kTRFlagCollapsed) return 0;
  const int32 count = TLineCount(record);
  int64 bottom = d->dest.top;
  int32 i = 0;
  for (; i < count; ++i) {
    bottom += TLineAt(record, i).height;
    if (bottom > d->view.top) break;
  }
  if (i == count && count > 0) i = count - 1;
  if (line) *line = i;
  return int32(std::clamp<int64>(d->view.top - bottom, INT32_MIN, INT32_MAX));
}

int32 TScrollToOffset(TRecord record, int32 offset, Bool32 redraw) {
  if (!Valid(record)) return 0;
  // Only the lines up to the offset's are needed (the rest may be left for
  // the next full layout: typing into a long text lays out a few lines).
  TValidateLinesTo(record, offset);
  if (TRData(record)->flags & kTRFlagCollapsed) return 0;
  const Bool32 atStart = (TRData(record)->flags & kTRFlagAnchorBelow) != 0;
  TLineEntry e{};
  const Point pt = TOffsetToPt(record, offset, atStart, &e);
  const TRecordData* d = TRData(record);
  const Rect view = d->view;
  const int32 lineTop = pt.v - e.ascent, lineBottom = lineTop + e.height;
  int64 dv = 0, dh = 0;
  if (lineBottom > view.bottom) dv = view.bottom - lineBottom;
  else if (lineTop < view.top) dv = view.top - lineTop;
  if ((d->mode & kTRModeKind) == kTRKindLines && LRectWidth(&d->dest) > RectWidth(&view)) {
    const int32 n = TextLength(record);
    const int32 before = TOffsetToPt(record, std::max(0, offset - 1), atStart, nullptr).h;
    const int32 after = TOffsetToPt(record, std::min(n, offset + 1), atStart, nullptr).h;
    d = TRData(record);
    if (after > view.right) dh = int64(view.right) - after;
    else if (before < view.left) dh = std::min<int64>(int64(view.left) - before, int64(view.left) + 1 - d->dest.left);
  }
  if (dv == 0 && dh == 0) return 0;
  Move(record, int32(dv), int32(dh), redraw);
  return 1;
}

int32 TGetRunCount(TRecord record) { return Valid(record) ? std::max(0, TRData(record)->runCount) : 0; }

void TGetRunInfo(TRecord record, int32 run, int32* font, DColor* colour, int32* start, int32* end) {
  if (!Valid(record)) return;
  const TRecordData* d = TRData(record);
  const int32 n = TextLength(record), count = std::max(0, d->runCount);
  int32 f = d->runs[0].font, s = 0, e = n;
  DColor c = d->runs[0].colour;
  if (count > 0) {
    run = std::clamp(run, 0, count - 1);
    f = d->runs[run + 1].font;
    c = d->runs[run + 1].colour;
    s = int32(std::min<uInt32>(d->runs[run + 1].start, uInt32(n)));
    e = run + 1 < count ? int32(std::min<uInt32>(d->runs[run + 2].start, uInt32(n))) : n;
  }
  if (font) *font = f;
  if (colour) *colour = c;
  if (start) *start = s;
  if (end) *end = e;
}
