// Editing text-edit records: selection by program, keys, insertion and
// deletion with their style-run upkeep, fonts and colours on the selection,
// and cut, copy and paste through a clipboard record.
#include "mgsource/window/textedit.h"

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/extsupport.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"
#include "mgsource/textoffset.h"
#include "mgsource/walert.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textdraw.h"

namespace {

// Which end moves; kept in a flag bit of the record that no other use has.
constexpr uInt32 kTRFlagStartMoves = 0x10000;
constexpr uInt32 kTRFlagPlacement = kTRFlagAnchorBelow | kTRFlagMovingBelow;
constexpr uInt32 kTRFlagKeyState = kTRFlagWordDrag | kTRFlagHexHalf;

bool Valid(TRecord r) {
  if (r && *r && TRData(r)->text && *TRData(r)->text) return true;
  DBAssert(__FILE__, __LINE__, "no text record");
  return false;
}

// The text's length, never past what its handle holds.
int32 Length(TRecord r) {
  UHandle t = TRData(r)->text;
  const int32 size = DSGetHandleSize(t);
  if (size < 4) return 0;
  const uInt32 n = GetNative32(*t);
  return n > uInt32(size - 4) ? size - 4 : int32(n);
}
const uChar* Bytes(TRecord r) { return *TRData(r)->text + 4; }
std::string Text(TRecord r) { return std::string(reinterpret_cast<const char*>(Bytes(r)), size_t(Length(r))); }

void ForgetCaretColumn(TRecord r) {
  UHandle lines = TRData(r)->lines;
  if (lines && DSGetHandleSize(lines) >= kTLHeader) PutNative16(*lines + kTLCaretColumn, kTLNoCaretColumn);
}
int32 CaretColumn(TRecord r) {
  UHandle lines = TRData(r)->lines;
  return lines && DSGetHandleSize(lines) >= kTLHeader ? int32(GetNative16(*lines + kTLCaretColumn))
                                                      : kTLNoCaretColumn;
}
void SetCaretColumn(TRecord r, int32 column) {
  UHandle lines = TRData(r)->lines;
  if (lines && DSGetHandleSize(lines) >= kTLHeader) PutNative16(*lines + kTLCaretColumn, uInt16(column));
}

void PinSelection(TRecord r) {
  TRecordData* d = TRData(r);
  const int32 n = Length(r);
  if (d->selStart < 0) d->selStart = 0;
  if (d->selStart > n) d->selStart = n;
  if (d->selEnd < d->selStart) d->selEnd = d->selStart;
  if (d->selEnd > n) d->selEnd = n;
}

// ---- runs as a vector: entries 1.. of the record

using Runs = std::vector<TStyleRun>;

Runs LoadRuns(TRecord r) {
  const TRecordData* d = TRData(r);
  return Runs(d->runs + 1, d->runs + 1 + d->runCount);
}

// Makes room for count runs; the handle keeps its block when it shrinks.
MgErr ReserveRuns(TRecord r, int32 count) {
  const int32 want = kTRRuns + (count + 1) * kTRRunSize;
  if (DSGetHandleSize(r) >= want) return kNoErr;
  return DSSetHandleSize(r, want);
}

// Stores the runs (room reserved before any change was made).
void StoreRuns(TRecord r, const Runs& runs) {
  const int32 n = int32(runs.size());
  if (ReserveRuns(r, n) != kNoErr) {
    DBAssert(__FILE__, __LINE__, "text runs stored without room");
    return;
  }
  TRecordData* d = TRData(r);
  if (n) std::memcpy(d->runs + 1, runs.data(), size_t(n) * sizeof(TStyleRun));
  d->runCount = n;
  DSSetHandleSize(r, kTRRuns + (n + 1) * kTRRunSize);
}

bool SameStyle(const TStyleRun& a, const TStyleRun& b) {
  return a.colour == b.colour && (a.font == b.font || TFontCompare(a.font, b.font, kFontMaskAll) == 0);
}

void DropRun(Runs& runs, size_t at) {
  TDisposeFont(runs[at].font);
  runs.erase(runs.begin() + ptrdiff_t(at));
}

void Normalize(Runs& runs, int32 length, const TStyleRun& insertion) {
  if (length == 0) {
    while (!runs.empty()) DropRun(runs, runs.size() - 1);
    return;
  }
  for (size_t i = runs.size(); i-- > 0;)
    if (runs[i].start >= uInt32(length)) DropRun(runs, i);
  // A run whose successor starts at or before it is empty.
  for (size_t i = runs.size(); i-- > 1;)
    if (runs[i].start <= runs[i - 1].start) DropRun(runs, i - 1);
  if (runs.empty()) return;
  runs[0].start = 0;
  for (size_t i = runs.size(); i-- > 1;)
    if (SameStyle(runs[i], runs[i - 1])) DropRun(runs, i);
  if (runs.size() == 1 && SameStyle(runs[0], insertion)) DropRun(runs, 0);
}

// The index of the run in force at offset.
size_t RunAt(const Runs& runs, int32 offset) {
  size_t i = 0;
  while (i + 1 < runs.size() && runs[i + 1].start <= uInt32(offset)) ++i;
  return i;
}

// Splits so that a run starts at offset (inside the text).
void Split(Runs& runs, int32 offset, int32 length) {
  if (runs.empty() || offset <= 0 || offset >= length) return;
  const size_t i = RunAt(runs, offset);
  if (runs[i].start == uInt32(offset)) return;
  TStyleRun copy = runs[i];
  copy.start = uInt32(offset);
  TAddFontReference(copy.font);
  runs.insert(runs.begin() + ptrdiff_t(i) + 1, copy);
}

// Runs of the range [start, end) after splitting: without runs, one run of
// the old insertion style stands for the whole text first.
template <typename Change>
void ChangeRange(Runs& runs, const TStyleRun& oldStyle, int32 start, int32 end, int32 length, Change change) {
  if (length == 0) return;
  if (runs.empty()) {
    TAddFontReference(oldStyle.font);
    runs.push_back(TStyleRun{0, oldStyle.font, oldStyle.colour});
  }
  Split(runs, start, length);
  Split(runs, end, length);
  for (size_t i = 0; i < runs.size(); ++i)
    if (runs[i].start >= uInt32(start) && runs[i].start < uInt32(end)) change(runs[i]);
}

// The insertion style from the run in force at the selection (the character
// before an empty selection).
void TakeInsertionStyle(TRecord r) {
  TRecordData* d = TRData(r);
  if (d->runCount == 0) return;
  const Runs runs = LoadRuns(r);
  int32 at = d->selStart;
  if (d->selStart == d->selEnd && at > 0) --at;
  const TStyleRun& run = runs[RunAt(runs, at)];
  if (run.font != d->runs[0].font) {
    TAddFontReference(run.font);
    TDisposeFont(d->runs[0].font);
    d->runs[0].font = run.font;
  }
  d->runs[0].colour = run.colour;
  if (d->runCount == 1 && SameStyle(d->runs[1], d->runs[0])) {
    // A single run like the new insertion style folds into it.
    TDisposeFont(d->runs[1].font);
    d->runCount = 0;
    DSSetHandleSize(r, kTRFixedSize);
  }
}

void NormalizeStored(TRecord r) {
  Runs runs = LoadRuns(r);
  Normalize(runs, Length(r), TRData(r)->runs[0]);
  StoreRuns(r, runs);
}

// Gives the record a text of its own with room for length bytes.
MgErr GrowText(TRecord r, int32 length) {
  TRecordData* d = TRData(r);
  if (length < 0 || length > 0x7FFFFFF0) return kMemFullErr;
  if (d->flags & kTRFlagSharedText) {
    UHandle own = DSNewHandle(4 + (length > Length(r) ? length : Length(r)));
    if (!own) return kMemFullErr;
    const int32 n = Length(r);
    PutNative32(*own, uInt32(n));
    std::memcpy(*own + 4, Bytes(r), size_t(n));
    d = TRData(r);
    d->text = own;
    d->flags &= ~kTRFlagSharedText;
    return kNoErr;
  }
  if (DSGetHandleSize(d->text) >= 4 + length) return kNoErr;
  return DSSetHandleSize(d->text, 4 + length);
}

// Removes [start, end) from the text and its runs (room is never needed).
void DeleteRange(TRecord r, int32 start, int32 end) {
  if (end <= start) return;
  const int32 n = Length(r), cut = end - start;
  if (GrowText(r, n) != kNoErr) return;  // a shared text is copied first
  uChar* bytes = *TRData(r)->text + 4;
  std::memmove(bytes + start, bytes + end, size_t(n - end));
  PutNative32(*TRData(r)->text, uInt32(n - cut));
  DSSetHandleSize(TRData(r)->text, 4 + n - cut);
  Runs runs = LoadRuns(r);
  for (TStyleRun& run : runs) {
    if (run.start >= uInt32(end)) run.start -= uInt32(cut);
    else if (run.start > uInt32(start)) run.start = uInt32(start);
  }
  Normalize(runs, n - cut, TRData(r)->runs[0]);
  StoreRuns(r, runs);
  TRecordData* d = TRData(r);
  d->selStart = d->selEnd = start;
  d->flags |= kTRFlagPlacement;
  TMarkRelayout(r, start, cut, 0);
}

void DeleteSelection(TRecord r) {
  PinSelection(r);
  DeleteRange(r, TRData(r)->selStart, TRData(r)->selEnd);
  TakeInsertionStyle(r);
}

// The insertion style from the run in force at offset.
void TakeStyleFrom(TRecord r, const Runs& runs, int32 at) {
  if (runs.empty()) return;
  const TStyleRun& run = runs[RunAt(runs, at)];
  TRecordData* d = TRData(r);
  if (run.font != d->runs[0].font) {
    TAddFontReference(run.font);
    TDisposeFont(d->runs[0].font);
    d->runs[0].font = run.font;
  }
  d->runs[0].colour = run.colour;
}

// Puts the selected range [at, at + count) in one style.
void StyleRange(Runs& runs, const TStyleRun& style, const TStyleRun& whole, int32 at, int32 end, int32 length) {
  ChangeRange(runs, whole, at, end, length, [&](TStyleRun& run) {
    if (run.font != style.font) {
      TAddFontReference(style.font);
      TDisposeFont(run.font);
      run.font = style.font;
    }
    run.colour = style.colour;
  });
}

// Inserts the bytes in place of the selection, which is deleted first (its
// runs normalised, the insertion style taken there).  Typed text (pasted
// null) takes the insertion style where the run in force has another; a
// paste brings its own runs (relative to its bytes; none: its one style
// own).  Nothing changes when the text or the runs cannot grow.
MgErr InsertAtSelection(TRecord r, const uChar* bytes, int32 count, const Runs* pasted, const TStyleRun* own) {
  PinSelection(r);
  const std::string copy(reinterpret_cast<const char*>(bytes), size_t(count));  // bytes may lie in the text
  const int32 n = Length(r), s = TRData(r)->selStart, e = TRData(r)->selEnd, cut = e - s;
  if (int64(n) - cut + count > 0x7FFFFFF0) return kMemFullErr;
  const int32 length = n - cut + count;
  MgErr err = GrowText(r, length > n ? length : n);
  const int32 extra = pasted ? int32(pasted->size()) + 1 : 0;
  if (!err) err = ReserveRuns(r, TRData(r)->runCount + 3 + extra);
  if (err) return err;
  TRecordData* d = TRData(r);
  uChar* text = *d->text + 4;
  std::memmove(text + s + count, text + e, size_t(n - e));
  std::memcpy(text + s, copy.data(), size_t(count));
  PutNative32(*d->text, uInt32(length));
  if (length < n) DSSetHandleSize(d->text, 4 + length);
  TMarkRelayout(r, s, cut, count);
  d = TRData(r);
  d->selStart = d->selEnd = s + count;
  d->flags &= ~kTRFlagStartMoves;
  Runs runs = LoadRuns(r);
  if (cut) {
    for (TStyleRun& run : runs) {
      if (run.start >= uInt32(e)) run.start -= uInt32(cut);
      else if (run.start > uInt32(s)) run.start = uInt32(s);
    }
    // The runs as they are without the selection (the new bytes count to
    // none of them yet), and the insertion style taken there.
    Normalize(runs, n - cut, TRData(r)->runs[0]);
    TakeStyleFrom(r, runs, s > 0 ? s - 1 : 0);
    d = TRData(r);
    d->flags |= kTRFlagPlacement;
  }
  const TStyleRun insertion = TRData(r)->runs[0];
  for (TStyleRun& run : runs)
    if (run.start > uInt32(s) || (run.start == uInt32(s) && !SameStyle(run, insertion))) run.start += uInt32(count);
  if (count > 0 && !pasted && !runs.empty() && !SameStyle(runs[RunAt(runs, s)], insertion))
    StyleRange(runs, insertion, insertion, s, s + count, length);
  if (count > 0 && pasted && !(pasted->size() <= 1 && SameStyle(pasted->empty() ? *own : (*pasted)[0], insertion))) {
    // The clipboard's runs over the new bytes.
    if (runs.empty()) {
      TAddFontReference(insertion.font);
      runs.push_back(TStyleRun{0, insertion.font, insertion.colour});
    }
    Split(runs, s, length);
    Split(runs, s + count, length);
    for (size_t i = runs.size(); i-- > 0;)
      if (runs[i].start >= uInt32(s) && runs[i].start < uInt32(s + count)) DropRun(runs, i);
    size_t where = 0;
    while (where < runs.size() && runs[where].start < uInt32(s)) ++where;
    const Runs brought = pasted->empty() ? Runs{TStyleRun{0, own->font, own->colour}} : *pasted;
    for (const TStyleRun& run : brought) {
      if (run.start >= uInt32(count)) continue;
      TAddFontReference(run.font);
      runs.insert(runs.begin() + ptrdiff_t(where++), TStyleRun{run.start + uInt32(s), run.font, run.colour});
    }
  }
  Normalize(runs, length, insertion);
  StoreRuns(r, runs);
  return kNoErr;
}

bool IsBreak(uChar c) { return c == '\r' || c == '\n'; }

// Horizontal movement (keys 6 and 7).
void StepHorizontal(TRecord r, int32 step, bool extend) {
  TRecordData* d = TRData(r);
  const int32 n = Length(r), font = d->runs[0].font;
  int32 caret;
  if (extend) {
    const bool startMoves = d->flags & kTRFlagStartMoves;
    const int32 moved = TStepCharOffset(Bytes(r), n, startMoves ? d->selStart : d->selEnd, step, font);
    const int32 anchor = startMoves ? d->selEnd : d->selStart;
    d = TRData(r);
    if (moved < anchor) d->selStart = moved, d->selEnd = anchor, d->flags |= kTRFlagStartMoves;
    else d->selStart = anchor, d->selEnd = moved, d->flags &= ~kTRFlagStartMoves;
    caret = moved;
  } else {
    if (d->selStart != d->selEnd) caret = step < 0 ? d->selStart : d->selEnd;
    else caret = TStepCharOffset(Bytes(r), n, d->selStart, step, font);
    d = TRData(r);
    d->selStart = d->selEnd = caret;
    d->flags &= ~kTRFlagStartMoves;
  }
  ForgetCaretColumn(r);
  TakeInsertionStyle(r);
  const uChar* bytes = Bytes(r);
  if ((caret > 0 && IsBreak(bytes[caret - 1])) || (caret < n && IsBreak(bytes[caret])))
    TRData(r)->flags |= kTRFlagPlacement;
}

// The index of the line holding offset (a soft line start without the
// placement flag belongs to the line above).
int32 LineOf(TRecord r, int32 offset, bool atLineStart) {
  const int32 count = TLineCount(r);
  int32 line = 0;
  while (line + 1 < count && TLineAt(r, line + 1).start <= offset) ++line;
  if (line > 0 && TLineAt(r, line).start == offset && !atLineStart && offset > 0 && !IsBreak(Bytes(r)[offset - 1]))
    --line;
  return line;
}

// Vertical movement (keys 4 and 5).
void StepVertical(TRecord r, bool down, bool extend) {
  TValidateLines(r);
  TRecordData* d = TRData(r);
  const bool startMoves = d->flags & kTRFlagStartMoves;
  int32 moving;
  if (extend) {
    moving = startMoves ? d->selStart : d->selEnd;
  } else {
    moving = down ? d->selEnd : d->selStart;
    d->selStart = d->selEnd = moving;
  }
  const bool below = d->flags & kTRFlagMovingBelow;
  int32 column = CaretColumn(r);
  if (column == kTLNoCaretColumn) {
    column = TOffsetToPt(r, moving, below, nullptr).h;
    SetCaretColumn(r, column);
  }
  const int32 count = TLineCount(r), line = LineOf(r, moving, below);
  int32 target;
  bool setFlags;
  if (!down && line == 0) {
    target = 0, setFlags = true;
  } else if (down && line >= count - 1) {
    target = Length(r), setFlags = false;
  } else {
    const int32 to = down ? line + 1 : line - 1;
    const TLineEntry entry = TLineAt(r, to);
    Point at = TOffsetToPt(r, entry.start, 1, nullptr);
    at.h = int16(column);
    target = TPtToOffset(r, at, 0);
    setFlags = (TRData(r)->flags & kTRFlagMovingBelow) != 0;
    if (to + 1 < count && target == TLineAt(r, to + 1).start) setFlags = false;
    else if (target == entry.start) setFlags = true;
  }
  d = TRData(r);
  if (setFlags) d->flags |= kTRFlagPlacement;
  else d->flags &= ~kTRFlagPlacement;
  if (extend) {
    const int32 anchor = startMoves ? d->selEnd : d->selStart;
    if (target < anchor) d->selStart = target, d->selEnd = anchor, d->flags |= kTRFlagStartMoves;
    else d->selStart = anchor, d->selEnd = target, d->flags &= ~kTRFlagStartMoves;
  } else {
    d->selStart = d->selEnd = target;
  }
  TakeInsertionStyle(r);
}

bool HexDigit(uChar c, int32* value) {
  const uChar* at = &c;
  const int32 v = HexStrToNum(&at, 1, 3);
  if (at == &c) return false;
  *value = v;
  return true;
}

// Types a character (bytes 1 or 2); backspace and DEL delete backwards.
// True when the text changed.
bool Type(TRecord r, const uChar* bytes, int32 count, uInt32 hexWasHalf) {
  TRecordData* d = TRData(r);
  if (d->mode & kTRModeHex) {
    int32 digit = 0;
    if (!HexDigit(bytes[0], &digit)) {
      WBeep();
      return false;
    }
    if (hexWasHalf && d->selStart == d->selEnd && d->selStart > 0) {
      if (GrowText(r, Length(r)) != kNoErr) return false;  // a shared text is copied first
      d = TRData(r);
      uChar* previous = *d->text + 4 + d->selStart - 1;
      *previous = uChar(*previous * 16 + digit);
      TMarkRelayout(r, d->selStart - 1, 1, 1);
      return true;
    }
    const uChar byte = uChar(digit);
    if (InsertAtSelection(r, &byte, 1, nullptr, nullptr) != kNoErr) return false;
    TRData(r)->flags |= kTRFlagHexHalf;
    return true;
  }
  return InsertAtSelection(r, bytes, count, nullptr, nullptr) == kNoErr;
}

}  // namespace

int32 TGetMovingEnd(TRecord record) {
  return Valid(record) && (TRData(record)->flags & kTRFlagStartMoves) ? 1 : 0;
}
void TSetMovingEnd(TRecord record, int32 startMoves) {
  if (!Valid(record)) return;
  if (startMoves) TRData(record)->flags |= kTRFlagStartMoves;
  else TRData(record)->flags &= ~kTRFlagStartMoves;
}

Bool32 TGetSelection(TRecord record, int32* start, int32* end) {
  if (!Valid(record)) return 0;
  const TRecordData* d = TRData(record);
  if (start) *start = d->selStart;
  if (end) *end = d->selEnd;
  return d->selStart != d->selEnd;
}

void TSelectText(TRecord record, int32 start, int32 end) {
  if (!Valid(record)) return;
  const int32 n = Length(record);
  start = start < 0 ? 0 : start > n ? n : start;
  end = end < start ? start : end > n ? n : end;
  TRecordData* d = TRData(record);
  const bool wasEmpty = d->selStart == d->selEnd, nowEmpty = start == end;
  d->selStart = start;
  d->selEnd = end;
  TakeInsertionStyle(record);
  if (!(TRData(record)->flags & kTRFlagActive) || wasEmpty == nowEmpty) return;
  // An empty selection flashes again; a non-empty one is only shown.
  if (!nowEmpty) TStopFlashing(record, 0);
  TStartFlashing(record, nowEmpty ? kTCaretFirstMs : 0);
}

int32 TNLines(TRecord record) {
  if (!Valid(record)) return -1;
  TValidateLines(record);
  return TRData(record)->lines ? TLineCount(record) : -1;
}

void TSelectLine(TRecord record, int32 line, int32* start, int32* end) {
  int32 from = -1, to = -1;
  if (Valid(record)) {
    const int32 count = TNLines(record), n = Length(record);
    const bool emptyLast = count > 0 && line == count - 1 && TLineAt(record, line).start == n && n > 0 &&
                           IsBreak(Bytes(record)[n - 1]);
    if (line >= 0 && line < count && !emptyLast) {
      from = TLineAt(record, line).start;
      to = line + 1 < count ? TLineAt(record, line + 1).start : n;
      TSelectText(record, from, to);
      TRData(record)->flags |= kTRFlagShown;
    } else {
      TRData(record)->flags &= ~kTRFlagShown;
    }
    TDraw(record);
  }
  if (start) *start = from;
  if (end) *end = to;
}

void TWordAt(TRecord record, int32 offset, int32* start, int32* end) {
  int32 from = 0, to = 0;
  if (Valid(record)) {
    const std::string t = Text(record);
    const int32 n = int32(t.size());
    offset = offset < 0 ? 0 : offset > n ? n : offset;
    const uInt32 mode = TRData(record)->mode;
    const auto isAlnum = [](uChar c) { return IsAlpha(c) || IsDigit(c) || c == '_'; };
    if (mode & kTRModePassword) {
      from = offset, to = offset;
      while (from > 0 && !IsBreak(uChar(t[size_t(from - 1)]))) --from;
      while (to < n && !IsBreak(uChar(t[size_t(to)]))) ++to;
    } else if (mode & kTRModeHex) {
      from = offset & 1 ? offset - 1 : offset;
      to = from + 2 > n ? n : from + 2;
    } else {
      const uChar point = uChar(NumDefaultDecimalPt());
      const auto at = [&](int32 i) { return i < n ? uChar(t[size_t(i)]) : uChar(0); };
      // A number: backwards over its characters, forwards by its syntax.
      from = offset;
      while (from > 0) {
        const uChar c = at(from - 1);
        if (!(c == '+' || c == '-' || c == point || isAlnum(c))) break;
        --from;
      }
      int32 i = from;
      if (at(i) == '+' || at(i) == '-') ++i;
      while (IsDigit(at(i))) ++i;
      if (at(i) == point) ++i;
      while (IsDigit(at(i))) ++i;
      if (at(i) == 'e' || at(i) == 'E') {
        int32 j = i + 1;
        if (at(j) == '+' || at(j) == '-') ++j;
        if (IsDigit(at(j))) {
          while (IsDigit(at(j))) ++j;
          i = j;
        }
      }
      to = i;
      const bool number = from < offset && offset < to && !(IsAlpha(at(to)) || at(to) == '_') && to > from;
      if (!number) {
        from = to = offset;
        while (from > 0 && isAlnum(at(from - 1))) --from;
        while (to < n && isAlnum(at(to))) ++to;
        if (from == to) to = offset < n ? offset + 1 : n, from = to - (offset < n ? 1 : 0);
      }
    }
  }
  if (start) *start = from;
  if (end) *end = to;
}

MgErr TSplitRuns(TRecord record, int32 offset) {
  if (!Valid(record)) return kArgErr;
  if (ReserveRuns(record, TRData(record)->runCount + 1) != kNoErr) return kMemFullErr;
  Runs runs = LoadRuns(record);
  Split(runs, offset, Length(record));
  StoreRuns(record, runs);
  return kNoErr;
}

void TNormalizeRuns(TRecord record) {
  if (Valid(record)) NormalizeStored(record);
}

MgErr TSetFontInRange(TRecord record, int32 font, int32 mask) {
  if (!Valid(record)) return kArgErr;
  TValidateLinesLeft(record);
  PinSelection(record);
  if (ReserveRuns(record, TRData(record)->runCount + 3) != kNoErr) return kMemFullErr;
  const bool toggle = (mask & kFontMaskStyle) && (mask & kFontMaskToggle);
  const auto styleOf = [](int32 f) {
    int32 style = 0;
    TGetFontInfo(f, nullptr, nullptr, &style, nullptr);
    return style & 0x1F;
  };
  const TStyleRun old = TRData(record)->runs[0];
  TAddFontReference(old.font);  // kept for the runs made from the old style
  int32 keep = toggle ? styleOf(font) & styleOf(old.font) : mask & kFontMaskSetStyle ? -1 : 0;
  const int32 newInsertion = TApplyFontChange(old.font, font, mask, keep);
  TRecordData* d = TRData(record);
  d->runs[0].font = newInsertion;
  const int32 start = d->selStart, end = d->selEnd, n = Length(record);
  TMarkRelayout(record, start, end - start, end - start);
  Runs runs = LoadRuns(record);
  if (!(runs.empty() && start == 0 && end == n)) {
    if (toggle && !runs.empty()) {
      keep = 0x1F;
      for (size_t i = RunAt(runs, start); i < runs.size() && runs[i].start < uInt32(end); ++i)
        keep &= styleOf(runs[i].font);
      keep &= styleOf(font);
    }
    if (runs.empty()) {
      // The old style before and after, the new one over the selection.
      ChangeRange(runs, old, start, end, n, [&](TStyleRun& run) {
        TAddFontReference(newInsertion);
        TDisposeFont(run.font);
        run.font = newInsertion;
      });
    } else {
      ChangeRange(runs, old, start, end, n, [&](TStyleRun& run) {
        run.font = TApplyFontChange(run.font, font, mask, keep);
      });
    }
  }
  Normalize(runs, n, TRData(record)->runs[0]);
  StoreRuns(record, runs);
  TDisposeFont(old.font);
  return kNoErr;
}

MgErr TSetColorInRange(TRecord record, DColor colour) {
  if (!Valid(record)) return kArgErr;
  PinSelection(record);
  if (ReserveRuns(record, TRData(record)->runCount + 3) != kNoErr) return kMemFullErr;
  const TStyleRun old = TRData(record)->runs[0];
  TRData(record)->runs[0].colour = colour;
  const int32 start = TRData(record)->selStart, end = TRData(record)->selEnd, n = Length(record);
  Runs runs = LoadRuns(record);
  if (!(runs.empty() && start == 0 && end == n))
    ChangeRange(runs, old, start, end, n, [&](TStyleRun& run) { run.colour = colour; });
  Normalize(runs, n, TRData(record)->runs[0]);
  StoreRuns(record, runs);
  return kNoErr;
}

void TSetFont(TRecord record, int32 font, int32 mask, Bool32 redraw) {
  if (!Valid(record) || TSetFontInRange(record, font, mask) != kNoErr) return;
  ForgetCaretColumn(record);
  if (redraw) TDraw(record);
}

MgErr TInsert(TRecord record, const uChar* bytes, int32 length) {
  if (!Valid(record) || length < 0 || (length > 0 && !bytes)) return kArgErr;
  TValidateLinesLeft(record);
  const MgErr err = InsertAtSelection(record, bytes, length, nullptr, nullptr);
  if (err) return err;
  ForgetCaretColumn(record);
  TRData(record)->flags &= ~kTRFlagKeyState;
  return kNoErr;
}

void TKey(TRecord record, int32 keyCode, int32 character, int32 modifiers, Bool32 redraw) {
  if (!Valid(record)) return;
  const uInt32 hexWasHalf = TRData(record)->flags & kTRFlagHexHalf;
  TRData(record)->flags &= ~kTRFlagKeyState;
  PinSelection(record);
  const bool extend = modifiers & kTModExtend;
  bool changed = false;
  const bool acts = keyCode == kTKeyClear || (keyCode >= kTKeyUp && keyCode <= kTKeyRight) ||
                    keyCode == kTKeyDelete || keyCode == kTKeyHome || keyCode == kTKeyEnd || keyCode == kTKeyChar ||
                    keyCode == kTKeyDoubleByte;
  if (acts) TStopFlashing(record, redraw);
  const auto deleteKey = [&](int32 step) {
    TRecordData* d = TRData(record);
    ForgetCaretColumn(record);
    if (d->selStart == d->selEnd) {
      if (step < 0) d->selStart = TStepCharOffset(Bytes(record), Length(record), d->selStart, -1, d->runs[0].font);
      else if (step > 0) d->selEnd = TStepCharOffset(Bytes(record), Length(record), d->selEnd, 1, d->runs[0].font);
    }
    d = TRData(record);
    if (d->selStart == d->selEnd) return;
    DeleteSelection(record);
    changed = true;
  };
  switch (keyCode) {
    case kTKeyClear: deleteKey(0); break;
    case kTKeyUp: StepVertical(record, false, extend); break;
    case kTKeyDown: StepVertical(record, true, extend); break;
    case kTKeyLeft: StepHorizontal(record, -1, extend); break;
    case kTKeyRight: StepHorizontal(record, 1, extend); break;
    case kTKeyDelete: deleteKey(1); break;
    case kTKeyHome:
    case kTKeyEnd: {
      TRecordData* d = TRData(record);
      const int32 to = keyCode == kTKeyHome ? 0 : Length(record);
      if (!extend) d->selStart = d->selEnd = to;
      else if (keyCode == kTKeyHome) d->selStart = 0;
      else d->selEnd = to;
      TSetMovingEnd(record, keyCode == kTKeyHome);
      ForgetCaretColumn(record);
      TakeInsertionStyle(record);
      break;
    }
    case kTKeyPageUp: TScroll(record, 6); return;
    case kTKeyPageDown: TScroll(record, 7); return;
    case kTKeyChar: {
      ForgetCaretColumn(record);
      const uChar c = uChar(character);
      if (c == 8 || c == 127) deleteKey(-1);
      else changed = Type(record, &c, 1, hexWasHalf);
      break;
    }
    case kTKeyDoubleByte: {
      ForgetCaretColumn(record);
      const uChar pair[2] = {uChar(character), uChar(character >> 8)};
      changed = Type(record, pair, 2, hexWasHalf);
      break;
    }
    default: return;  // key 29 carries no defined bytes: nothing is typed
  }
  const TRecordData* d = TRData(record);
  TScrollToOffset(record, TGetMovingEnd(record) ? d->selStart : d->selEnd, redraw && !changed);
  if (changed && redraw) TDraw(record);
  TStartFlashing(record, kTCaretFirstMs);
}

void TCopy(TRecord record, TRecord clipboard) {
  if (!Valid(record) || !Valid(clipboard) || record == clipboard) return;
  PinSelection(record);
  if (TReplaceText(clipboard, nullptr, 0) != kNoErr) return;
  const TStyleRun style = TRData(record)->runs[0];
  TAddFontReference(style.font);
  TDisposeFont(TRData(clipboard)->runs[0].font);
  TRData(clipboard)->runs[0] = TStyleRun{0, style.font, style.colour};
  TRData(clipboard)->selStart = TRData(clipboard)->selEnd = 0;
  const uInt32 mode = TRData(record)->mode;
  if (mode & kTRModePassword) return;
  const int32 start = TRData(record)->selStart, end = TRData(record)->selEnd;
  Runs runs = LoadRuns(record);
  if (ReserveRuns(clipboard, int32(runs.size())) != kNoErr) return;
  const std::string picked = Text(record).substr(size_t(start), size_t(end - start));
  if (TReplaceText(clipboard, reinterpret_cast<const uChar*>(picked.data()), int32(picked.size())) != kNoErr) return;
  for (TStyleRun& run : runs) {
    TAddFontReference(run.font);
    run.start = run.start > uInt32(start) ? run.start - uInt32(start) : 0;
  }
  Normalize(runs, end - start, TRData(clipboard)->runs[0]);
  StoreRuns(clipboard, runs);
  TRData(clipboard)->selStart = TRData(clipboard)->selEnd = end - start;
  TakeInsertionStyle(clipboard);
  if (!(mode & kTRModeHex) || picked.empty()) return;
  // The display form, run by run so that each run keeps its bytes.
  runs = LoadRuns(clipboard);
  std::string shown;
  std::vector<uInt32> starts;
  const size_t pieces = runs.empty() ? 1 : runs.size();
  for (size_t i = 0; i < pieces; ++i) {
    const uInt32 from = runs.empty() ? 0 : runs[i].start;
    const uInt32 to = i + 1 < runs.size() ? runs[i + 1].start : uInt32(picked.size());
    int32 length = int32(to - from);
    const int32 font = runs.empty() ? TRData(clipboard)->runs[0].font : runs[i].font;
    UPtr form = TMakeDisplayText(kTRModeHex, reinterpret_cast<const uChar*>(picked.data()) + from, &length, font);
    if (!form) return;
    starts.push_back(uInt32(shown.size()));
    shown.append(reinterpret_cast<const char*>(form), size_t(length));
    DSDisposePtr(form);
  }
  // TReplaceText folds the runs into the insertion style: stored again after.
  for (TStyleRun& run : runs) TAddFontReference(run.font);
  if (TReplaceText(clipboard, reinterpret_cast<const uChar*>(shown.data()), int32(shown.size())) != kNoErr) {
    for (TStyleRun& run : runs) TDisposeFont(run.font);
    return;
  }
  TAddFontReference(style.font);
  TDisposeFont(TRData(clipboard)->runs[0].font);
  TRData(clipboard)->runs[0] = TStyleRun{0, style.font, style.colour};
  for (size_t i = 0; i < runs.size(); ++i) runs[i].start = starts[i];
  Normalize(runs, int32(shown.size()), TRData(clipboard)->runs[0]);
  StoreRuns(clipboard, runs);
  TRData(clipboard)->selStart = TRData(clipboard)->selEnd = int32(shown.size());
}

void TCut(TRecord record, TRecord clipboard, Bool32 redraw) {
  if (!Valid(record)) return;
  if (clipboard) TCopy(record, clipboard);
  TStopFlashing(record, redraw);
  DeleteSelection(record);
  ForgetCaretColumn(record);
  TRData(record)->flags &= ~kTRFlagKeyState;
  TScrollToOffset(record, TRData(record)->selEnd, 0);
  if (redraw && TRData(record)->lines) TDraw(record);
  if (TRData(record)->flags & kTRFlagActive) {
    TValidateLines(record);
    TStartFlashing(record, kTCaretFirstMs);
  }
}

void TPaste(TRecord clipboard, TRecord record, Bool32 redraw) {
  if (!Valid(record)) return;
  if (clipboard && !Valid(clipboard)) return;
  TValidateLinesLeft(record);
  const std::string bytes = clipboard ? Text(clipboard) : std::string();
  std::string insert = bytes;
  const bool hex = TRData(record)->mode & kTRModeHex;
  if (hex) {
    // Hex digit pairs among blanks, tabs and line ends, nothing else.
    insert.clear();
    int32 high = -1;
    for (const char ch : bytes) {
      const uChar c = uChar(ch);
      int32 digit = 0;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (!HexDigit(c, &digit)) {
        WBeep();
        return;
      }
      if (high < 0) {
        high = digit;
      } else {
        insert.push_back(char(high * 16 + digit));
        high = -1;
      }
    }
  }
  TStopFlashing(record, redraw);
  ForgetCaretColumn(record);
  TRData(record)->flags &= ~kTRFlagWordDrag;
  const Runs pasted = clipboard && !hex ? LoadRuns(clipboard) : Runs();
  const TStyleRun own = clipboard ? TRData(clipboard)->runs[0] : TRData(record)->runs[0];
  const MgErr err = InsertAtSelection(record, reinterpret_cast<const uChar*>(insert.data()), int32(insert.size()),
                                      hex ? nullptr : &pasted, &own);
  if (err) {
    TStartFlashing(record, kTCaretFirstMs);
    return;
  }
  TakeInsertionStyle(record);
  TScrollToOffset(record, TRData(record)->selEnd, 0);
  if (redraw) TDraw(record);
  TStartFlashing(record, kTCaretFirstMs);
}
