// Text-edit records: making, copying, scaling, loading and disposing them,
// their rectangles, mode and colours, and the text manager's start-up.
#include "mgsource/window/textrec.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/extsupport.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/rects.h"
#include "platform/qx_sysinfo.h"

DColor gDefaultTextColor = 0;

namespace {

int32 gGreyPen = 0;
Occurrence gCaretFlash = 0;

bool Valid(TRecord r) {
  if (r && *r) return true;
  DBAssert(__FILE__, __LINE__, "no text record");
  return false;
}

UHandle NewText(const uChar* bytes, uInt32 count) {
  UHandle t = DSNewHandle(int32(4 + count));
  if (!t) return nullptr;
  PutNative32(*t, count);
  if (count) std::memcpy(*t + 4, bytes, count);
  return t;
}

int32 TextLength(UHandle t) { return t && *t ? int32(GetNative32(*t)) : 0; }

// The line table's header: the pending flag word at 4, the changed range's
// start at 8 and the remembered caret column at 20.  A record without a
// table is laid out in full at its first layout anyway.

UHandle Lines(TRecord r) { return TRData(r)->lines; }

void MarkFullRelayout(TRecord r) { TMarkRelayout(r, -1, 0, 0); }

void ForgetCaretColumn(TRecord r) {
  UHandle lines = Lines(r);
  if (lines && DSGetHandleSize(lines) >= kTLHeader) PutNative16(*lines + kTLCaretColumn, kTLNoCaretColumn);
}

// Kinds 0 and 3 never have scroll bars.
uInt32 KindMode(uInt32 mode) {
  const uInt32 kind = mode & kTRModeKind;
  return kind == kTRKindOneLine || kind == kTRKindBox ? mode & ~uInt32(kTRModeBars) : mode;
}

int32 VBarWidth(uInt32 mode) {
  return mode & kTRModeThinBars ? 8 : PlatGetSystemMetric(kPlatMetricVScrollWidth);
}
int32 HBarHeight(uInt32 mode) {
  return mode & kTRModeThinBars ? 8 : PlatGetSystemMetric(kPlatMetricHScrollHeight);
}

void DisposeRunFonts(TRecord r) {
  const TRecordData* d = TRData(r);
  for (int32 i = 0; i <= d->runCount; ++i) TDisposeFont(TRData(r)->runs[i].font);
}

// The record's size for its run count.
int32 RecordSize(int32 runs) { return kTRRuns + (runs + 1) * kTRRunSize; }

}  // namespace

TRecord TNew(const Rect* view, uInt32 mode, const uChar* text, int32 length, int32 font, DColor textColour,
             DColor background) {
  if (length < 0 || (length > 0 && !text)) {
    DBAssert(__FILE__, __LINE__, "bad text for a new text record");
    return nullptr;
  }
  TRecord r = DSNewHClr(kTRFixedSize);
  UHandle t = r ? NewText(text, uInt32(length)) : nullptr;
  if (!t) {
    if (r) DSDisposeHandle(r);
    return nullptr;
  }
  if (TAddFontReference(font) != 0) {
    font = kAppFont;
    gFontErr |= 16;
    TAddFontReference(font);
  }
  TRecordData* d = TRData(r);
  d->mode = KindMode(mode);
  d->flags = mode & kTRModeKeepShown ? uInt32(kTRFlagShown) : 0u;
  d->text = t;
  d->background = background;
  d->runs[0] = TStyleRun{0, font, textColour};
  const Rect none{0, 0, 0, 0};
  TSetRect(r, view ? view : &none);
  return r;
}

void TDispose(TRecord record) {
  if (!Valid(record)) return;
  if (TRData(record)->flags & kTRFlagActive) {
    DBPrintf("### Disposing Active Text!");
    TDeactivate(record, 0);
  }
  if (UHandle lines = Lines(record)) DSDisposeHandle(lines);
  UHandle t = TRData(record)->text;
  if (t && !(TRData(record)->flags & kTRFlagSharedText)) DSDisposeHandle(t);
  DisposeRunFonts(record);
  DSDisposeHandle(record);
}

TRecord TDuplicate(TRecord record, Bool32 shareText) {
  if (!Valid(record)) return nullptr;
  TRecord copy = record;
  if (DSHandToHand(&copy) != kNoErr) return nullptr;
  TRecordData* d = TRData(copy);
  d->lines = nullptr;
  if (shareText) {
    d->flags |= kTRFlagSharedText;
  } else {
    UHandle t = TRData(record)->text;
    if (t && DSHandToHand(&t) != kNoErr) {
      DSDisposeHandle(copy);
      return nullptr;
    }
    TRData(copy)->text = t;
    TRData(copy)->flags &= ~uInt32(kTRFlagSharedText);
  }
  d = TRData(copy);
  d->flags &= ~uInt32(kTRFlagSuspended | kTRFlagActive | kTRFlagShown | kTRFlagHexHalf | kTRFlagWordDrag);
  if (d->mode & kTRModeKeepShown) d->flags |= kTRFlagShown;
  for (int32 i = 0; i <= d->runCount; ++i) {
    if (TAddFontReference(TRData(copy)->runs[i].font) == 0) continue;
    gFontErr |= 16;
    TAddFontReference(kAppFont);
    TRData(copy)->runs[i].font = kAppFont;
  }
  return copy;
}

TRecord TScaleText(TRecord record, const Rect* from, const Rect* to) {
  if (!Valid(record)) return nullptr;
  TRecord copy = TDuplicate(record, 0);
  if (!copy) {
    DBPrintf("Failed to TDuplicate text in TScaleText");
    return nullptr;
  }
  if (!from || !to || (TRData(copy)->flags & kTRFlagCollapsed)) return copy;
  TRecordData* d = TRData(copy);
  d->flags |= kTRFlagScaled;
  MarkFullRelayout(copy);
  DMapRect(&d->view, from, to);
  Rect dest;
  LRectToRect(&d->dest, &dest);
  DMapRect(&dest, from, to);
  RectToLRect(&dest, &d->dest);
  // The scroll bars' thickness, mapped as sizes at from's corner.
  const int32 barWidth = VBarWidth(d->mode), barHeight = HBarHeight(d->mode);
  Rect bars{from->top, from->left, int16(from->top + barHeight), int16(from->left + barWidth)};
  DMapRect(&bars, from, to);
  d->selStart = RectWidth(&bars);
  d->selEnd = RectHeight(&bars);
  for (int32 i = 0; i <= TRData(copy)->runCount; ++i) {
    const int32 old = TRData(copy)->runs[i].font;
    const int32 scaled = TScaleFont(old, from, to);
    TRData(copy)->runs[i].font = scaled;
    TDisposeFont(old);
  }
  return copy;
}

void TGetRect(TRecord record, Rect* view, LRect* dest) {
  if (!Valid(record)) return;
  // A box sizes itself to its text, and the destination depends on the
  // layout: both are laid out first.
  if (dest || (TRData(record)->mode & kTRModeKind) == kTRKindBox) TValidateLines(record);
  const TRecordData* d = TRData(record);
  if (view) {
    *view = d->view;
    if (d->mode & kTRModeVBar) view->right = int16(view->right + VBarWidth(d->mode));
    if (d->mode & kTRModeHBar) view->bottom = int16(view->bottom + HBarHeight(d->mode));
  }
  if (dest) *dest = d->dest;
}

void TSetRect(TRecord record, const Rect* outer) {
  if (!Valid(record) || !outer) return;
  TRecordData* d = TRData(record);
  const uInt32 mode = d->mode;
  const int32 vBar = mode & kTRModeVBar ? VBarWidth(mode) : 0;
  const int32 hBar = mode & kTRModeHBar ? HBarHeight(mode) : 0;
  const int32 width = RectWidth(outer), height = RectHeight(outer);
  if (width < 2 + vBar + hBar || height < 0) d->flags |= kTRFlagCollapsed;
  else d->flags &= ~uInt32(kTRFlagCollapsed);
  Rect view = *outer;
  view.right = int16(view.right - vBar);
  view.bottom = int16(view.bottom - hBar);
  d->view = view;
  const int32 viewWidth = RectWidth(&view);
  int32 destWidth = LRectWidth(&d->dest);
  if ((mode & kTRModeKind) != kTRKindLines || destWidth < viewWidth) destWidth = viewWidth;
  const int32 destHeight = LRectHeight(&d->dest);
  // A loaded destination may hold any 32-bit values: placed wide, pinned.
  int64 left;
  switch (mode & kTRModeJustify) {
    case kTRJustifyRight: left = int64(view.right) - destWidth; break;
    case kTRJustifyCentre: left = (view.left + view.right) / 2 - int64(destWidth / 2); break;
    default: left = view.left; break;
  }
  const auto pin = [](int64 v) { return int32(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); };
  d->dest = LRect{view.top, pin(left + 1), pin(int64(view.top) + destHeight), pin(left + destWidth)};
  ForgetCaretColumn(record);
  MarkFullRelayout(record);
}

void TOffsetRect(TRecord record, Point by) {
  if (!Valid(record)) return;
  TRecordData* d = TRData(record);
  DOffsetRect(&d->view, by.h, by.v);
  LOffsetRect(&d->dest, by.h, by.v);
  ForgetCaretColumn(record);
}

uInt32 TGetMode(TRecord record) { return Valid(record) ? TRData(record)->mode : 0; }

void TSetMode(TRecord record, uInt32 mode, Bool32 redraw) {
  if (!Valid(record)) return;
  TRecordData* d = TRData(record);
  mode = KindMode(mode);
  const uInt32 old = d->mode;
  if (mode == old) return;
  d->mode = mode;
  if ((mode ^ old) & kTRModeKeepShown) {
    if (mode & kTRModeKeepShown) d->flags |= kTRFlagShown;
    else if (!(d->flags & kTRFlagActive)) d->flags &= ~uInt32(kTRFlagShown);
  }
  MarkFullRelayout(record);
  if (redraw) TDraw(record);
}

void TSetColors(TRecord record, const DColor* text, const DColor* background, Bool32 redraw) {
  if (!Valid(record)) return;
  if (text) TSetColorInRange(record, *text);  // the selection's runs as well
  if (background) TRData(record)->background = *background;
  if (redraw && Lines(record)) TDraw(record);
}

void TGetColors(TRecord record, DColor* text, DColor* background) {
  if (!Valid(record)) return;
  if (text) *text = TRData(record)->runs[0].colour;
  if (background) *background = TRData(record)->background;
}

UHandle TGetText(TRecord record) { return record && *record ? TRData(record)->text : nullptr; }

TRecord TCheckedRecord(uInt32 word) {
  auto r = reinterpret_cast<TRecord>(uintptr_t(word));
  if (!r || DSCheckHandle(r) != kNoErr) return nullptr;
  const int32 size = DSGetHandleSize(r);
  if (size < kTRFixedSize) return nullptr;
  const int32 runs = TRData(r)->runCount;
  if (runs < 0 || runs > (size - kTRFixedSize) / kTRRunSize) return nullptr;
  UHandle t = TRData(r)->text;
  if (!t || DSCheckHandle(t) != kNoErr) return nullptr;
  const int32 tsize = DSGetHandleSize(t);
  const int64 n = tsize >= 4 ? int32(GetNative32(*t)) : -1;
  return n >= 0 && n <= tsize - 4 ? r : nullptr;
}

Bool32 TIsBlank(TRecord record) {
  if (!Valid(record)) return 1;
  UHandle t = TRData(record)->text;
  const int32 n = TextLength(t);
  for (int32 i = 0; i < n; ++i) {
    switch ((*t)[4 + i]) {
      case ' ': case '\t': case '\n': case '\r': case '\f': case '\b': continue;
      default: return 0;
    }
  }
  return 1;
}

void TRecalc(TRecord record) {
  if (Valid(record)) MarkFullRelayout(record);
}

int32 TGetFont(TRecord record) {
  if (!Valid(record)) return kAppFont;
  const int32 font = TRData(record)->runs[0].font;
  TAddFontReference(font);  // refused (nothing added) for an invalid number
  return font;
}

MgErr TReplaceText(TRecord record, const uChar* bytes, int32 length) {
  if (!Valid(record) || length < 0 || (length > 0 && !bytes)) return kArgErr;
  UHandle t = TRData(record)->text;
  if (t && TextLength(t) == length && (length == 0 || std::memcmp(*t + 4, bytes, size_t(length)) == 0))
    return kNoErr;
  // An owned text is resized in place; a shared one (or none) is replaced
  // by a new handle.  Either way a failure leaves the record as it was.
  if (length > 0x7FFFFFF0) return kMemFullErr;
  // Bytes inside the text itself would move when it is resized.
  const uintptr_t at = uintptr_t(bytes), from = t ? uintptr_t(*t) : 0;
  const bool inside = t && at >= from && at < from + uintptr_t(DSGetHandleSize(t));
  const bool owned = t && !inside && !(TRData(record)->flags & kTRFlagSharedText);
  UHandle fresh = nullptr;
  if (owned) {
    if (DSSetHandleSize(t, 4 + length) != kNoErr) return kMemFullErr;
    PutNative32(*t, uInt32(length));
    if (length) std::memmove(*t + 4, bytes, size_t(length));
    fresh = t;
  } else if (!(fresh = NewText(bytes, uInt32(length)))) {
    return kMemFullErr;
  }
  TRecordData* d = TRData(record);
  if (d->runCount > 0) {
    // The insertion style takes the first run's font (and its reference)
    // and colour.
    TDisposeFont(d->runs[0].font);
    d->runs[0].font = d->runs[1].font;
    d->runs[0].colour = d->runs[1].colour;
    for (int32 i = 2; i <= d->runCount; ++i) TDisposeFont(TRData(record)->runs[i].font);
    TRData(record)->runCount = 0;
    DSSetHandleSize(record, kTRFixedSize);  // shrinking keeps the block
  }
  d = TRData(record);
  if (t && t != fresh && !(d->flags & kTRFlagSharedText)) DSDisposeHandle(t);
  d->text = fresh;
  d->flags &= ~uInt32(kTRFlagSharedText | kTRFlagWordDrag | kTRFlagHexHalf);
  if (d->selStart > length) d->selStart = length;
  if (d->selEnd > length) d->selEnd = length;
  MarkFullRelayout(record);
  ForgetCaretColumn(record);
  return kNoErr;
}

// ---- the saved form

namespace {

// The saved record's fixed part: which words are 16 bits wide.
bool IsHalfWord(int32 at) { return (at >= kTRView && at < kTRDest) || at == kTRCarried || at == kTRCarried + 2; }

// Whether the runs (big-endian, 1 + runs entries at kTRRuns) ascend from 0
// inside a text of length bytes.
bool RunsFit(const uChar* record, int32 runs, uInt32 length) {
  uInt32 previous = 0;
  for (int32 i = 1; i <= runs; ++i) {
    const uInt32 start = GetBE32(record + kTRRuns + i * kTRRunSize);
    if ((i == 1 && start != 0) || start < previous || start > length) return false;
    previous = start;
  }
  return true;
}

}  // namespace

MgErr TUnflattenTextRecord(RsrcFileRef file, TRecord r, UHandle text, Bool32 check) {
  if (!r || !*r) return kArgErr;
  const int32 size = DSGetHandleSize(r);
  if (size < kTRFixedSize) return kArgErr;
  // The fixed part (up to the runs) in memory order; the handle words are
  // replaced below, never used as stored.
  for (int32 at = 0; at < kTRRuns; at += IsHalfWord(at) ? 2 : 4) {
    if (IsHalfWord(at)) PutNative16(*r + at, GetBE16(*r + at));
    else PutNative32(*r + at, GetBE32(*r + at));
  }
  const uInt32 storedText = GetNative32(*r + kTRText);
  PutNative32(*r + kTRText, 0);
  PutNative32(*r + kTRLines, 0);
  int32 runs = TRData(r)->runCount;
  const int64 recordSize = kTRRuns + (int64(runs) + 1) * kTRRunSize;
  if (runs < 0 || recordSize > size) return kArgErr;
  // The text: none stored, or a count and the bytes after the record.
  const uChar* storedBytes = nullptr;
  uInt32 storedCount = 0;
  if (storedText == 0 && recordSize < size) {
    const int64 rest = size - recordSize;
    storedCount = rest >= 4 ? GetBE32(*r + recordSize) : 0;
    if (rest < 4 || storedCount > uInt64(rest - 4)) return kArgErr;
    storedBytes = *r + recordSize + 4;
  }
  // The stored record must be whole: runs ascending from 0 and a selection
  // inside the stored text (inside any text when none is stored).
  const uInt32 storedLimit = storedText == 0 ? storedCount : 0xFFFFFFFFu;
  TRecordData* d = TRData(r);
  if (!RunsFit(*r, runs, storedLimit) || d->selStart < 0 || d->selStart > d->selEnd ||
      uInt32(d->selEnd) > storedLimit)
    return kArgErr;
  // Then it is fitted to the text it ends with: runs past its end dropped,
  // the selection pinned.
  uInt32 length = storedCount;
  if (text) {
    if (!*text || DSGetHandleSize(text) < 4 || TextLength(text) < 0 || TextLength(text) > DSGetHandleSize(text) - 4)
      return kArgErr;
    length = uInt32(TextLength(text));
  }
  while (runs > 0 && GetBE32(*r + kTRRuns + runs * kTRRunSize) > length) --runs;
  d->runCount = runs;
  if (uInt32(d->selEnd) > length) d->selEnd = int32(length);
  if (uInt32(d->selStart) > length) d->selStart = int32(length);
  UHandle t = text ? text : NewText(storedBytes ? storedBytes : nullptr, storedCount);
  if (!t) return kMemFullErr;
  // The runs: fonts through the file's map.
  int32 errs = gFontErr;
  for (int32 i = 0; i <= runs; ++i) {
    const int32 at = kTRRuns + i * kTRRunSize;
    const uInt32 start = GetBE32(*r + at), index = GetBE32(*r + at + 4), colour = GetBE32(*r + at + 8);
    uInt32 mapFlags = 0;
    int32 font = TMapFontReference(file, int32(index), &mapFlags);
    if (font < 0) {
      DBPrintf("Error loading text !!!!! %ld", long(index));
      font = kAppFont;
      TAddFontReference(font);  // the record owns a reference to each run's font
    }
    if (check && (mapFlags & kFontMapMarked)) errs |= 64;
    TRData(r)->runs[i] = TStyleRun{start, font, colour};
  }
  DSSetHandleSize(r, RecordSize(runs));  // shrinking keeps the block
  d = TRData(r);
  d->text = t;
  // The record owns the text it loaded and starts inactive and unsuspended,
  // whatever the stored flags say.
  d->flags &= ~uInt32(kTRFlagWordDrag | kTRFlagHexHalf | kTRFlagSharedText | kTRFlagActive | kTRFlagSuspended);
  if (d->mode & kTRModeBars) {
    const Rect view = d->view;
    TSetRect(r, &view);
  }
  gFontErr = errs;
  return kNoErr;
}

MgErr TLoad(RsrcFileRef file, UHandle text, int32 id, TRecord* record, Bool32 check) {
  if (!record) return kArgErr;
  *record = nullptr;
  gFontErr = 0;
  UHandle saved = nullptr;
  MgErr err = RGet(file, kTextRecordType, id, &saved);
  if (err) err = RGet(file, kOldTextRecordType, id, &saved);
  if (err) {
    gFontErr |= 2;
    return err;
  }
  const int32 size = AZGetHandleSize(saved);
  if (size < kTRFixedSize) {
    RRelease(saved);
    return kArgErr;
  }
  TRecord r = DSNewHandle(size);
  if (!r) {
    RRelease(saved);
    return kMemFullErr;
  }
  std::memcpy(*r, *saved, size_t(size));
  RRelease(saved);
  // The font table of the file maps the runs' fonts.
  if ((err = TLoadFontTable(file, nullptr, 0)) || (err = TUnflattenTextRecord(file, r, text, check))) {
    DSDisposeHandle(r);
    return err;
  }
  *record = r;
  return kNoErr;
}

uInt32 PStrHash(ConstPStr text, Bool32 upperCase) {
  if (!text || text[0] == 0) return 0;
  uInt32 h = 0;
  for (int32 i = 1; i <= text[0]; ++i) {
    const uInt32 c = upperCase ? uInt32(uChar(ToUpper(text[i]))) : text[i];
    h = (h << 4) + c;
    if (const uInt32 g = h & 0xF0000000u) {
      h ^= g >> 24;
      h &= 0x0FFFFFFFu;
    }
  }
  return h;
}

// ---- start-up and shut-down

void TXInitText() {
  if (!gCaretFlash) gCaretFlash = AllocOccur();
  TXInitFonts();
  if (!gGreyPen) {
    PenState grey{};
    grey.fore = 0x666666;
    grey.back = 0xB3B3B3;
    for (int32 row = 0; row < 8; ++row) grey.pattern[row] = row & 1 ? 0x55 : 0xAA;
    const int32 pen = DNewPen(kDefaultPenBase, 88, &grey);
    gGreyPen = pen > 0 ? pen : 0;
  }
}

void TXFinishText() {
  TXFinishCaret();
  TXFinishFonts();
  if (gGreyPen) DDestroyPen(gGreyPen);
  gGreyPen = 0;
  if (gCaretFlash) DeallocOccur(gCaretFlash);
  gCaretFlash = 0;
}

int32 TGreyPen() { return gGreyPen; }
uInt32 TCaretFlashOccurrence() { return gCaretFlash; }
