// Line layout of text-edit records.  The layout works on a copy of the text
// and runs, so measuring (which may allocate) never sees handles move.
#include "mgsource/draw/textlayout.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/textoffset.h"

namespace {

constexpr int32 kMaxExtent = 32767;
constexpr int32 kScratchGrowth = 128;

int16 Pin16(int32 v) { return int16(v < 0 ? 0 : v > kMaxExtent ? kMaxExtent : v); }

bool IsBreak(uChar c) { return c == '\r' || c == '\n'; }
bool IsBlank(uChar c) { return c == ' ' || c == '\t'; }

// The length of the break at i (0, 1 or 2: CR LF and LF CR are one break).
int32 BreakLength(const std::string& t, int32 i) {
  const int32 n = int32(t.size());
  if (i >= n || !IsBreak(uChar(t[i]))) return 0;
  if (i + 1 < n && IsBreak(uChar(t[i + 1])) && t[i + 1] != t[i]) return 2;
  return 1;
}

struct Run {
  int32 start;
  int32 font;
};

// What a layout needs of the record, copied out of it.
struct Snapshot {
  std::string text;
  std::vector<Run> runs;  // the record's runs (none: the insertion style alone)
  int32 insertionFont = 0;
  uInt32 mode = 0;
  uInt32 flags = 0;
  int32 selStart = 0, selEnd = 0;
  Rect view{};
  LRect dest{};
};

Snapshot Take(TRecord r) {
  Snapshot s;
  const TRecordData* d = TRData(r);
  if (d->text && *d->text) {
    const uInt32 n = GetNative32(*d->text);
    s.text.assign(reinterpret_cast<const char*>(*d->text + 4), n);
  }
  const int32 n = int32(s.text.size());
  s.insertionFont = d->runs[0].font;
  const int32 count = d->runCount < 0 ? 0 : d->runCount;
  for (int32 i = 1; i <= count; ++i) {
    // A run starting past the end is taken to end there.
    const int32 start = int32(std::min<uInt32>(d->runs[i].start, uInt32(n)));
    s.runs.push_back({start, d->runs[i].font});
  }
  s.mode = d->mode;
  s.flags = d->flags;
  s.selStart = std::clamp(d->selStart, 0, n);
  s.selEnd = std::clamp(d->selEnd, 0, n);
  s.view = d->view;
  s.dest = d->dest;
  return s;
}

void Metrics(int32 font, int32* ascent, int32* rest) {
  int32 a = 0, de = 0, l = 0;
  TGetFontMetrics(font, &a, &de, &l);
  *ascent = a;
  *rest = de + l;
}

// The display form of bytes under the mode: password "*" per character
// (breaks kept), hex digits with a blank after every second byte.
std::string Display(uInt32 mode, const uChar* b, int32 n) {
  std::string out;
  if (mode & kTRModeHex) {
    static const char kDigits[] = "0123456789ABCDEF";
    out.reserve(size_t(n) * 5 / 2 + 1);
    for (int32 i = 0; i < n; ++i) {
      out += kDigits[b[i] >> 4];
      out += kDigits[b[i] & 15];
      if (i & 1) out += ' ';
    }
  } else if (mode & kTRModePassword) {
    out.assign(reinterpret_cast<const char*>(b), size_t(n));
    for (auto& c : out)
      if (!IsBreak(uChar(c))) c = '*';
  } else {
    out.assign(reinterpret_cast<const char*>(b), size_t(n));
  }
  return out;
}

// The width of bytes shown in a font, tabs and NULs as blanks; measured in
// chunks so that long texts are not cut at 16 bits.
int32 ChunkWidths(const uChar* b, size_t n, int32 font) {
  int64 width = 0;
  constexpr size_t kChunk = 1024;
  for (size_t at = 0; at < n; at += kChunk) {
    Point size{0, 0};
    TTextSize(b + at, int32(std::min(kChunk, n - at)), font, &size);
    width += size.h > 0 ? size.h : 0;
    if (width > kMaxExtent) return kMaxExtent;
  }
  return int32(width);
}

int32 TextWidth(uInt32 mode, const uChar* b, int32 n, int32 font) {
  if (n <= 0) return 0;
  // Plain text without tabs or NULs is measured where it lies.
  if (!(mode & (kTRModePassword | kTRModeHex)) && !std::memchr(b, '\t', size_t(n)) && !std::memchr(b, 0, size_t(n)))
    return ChunkWidths(b, size_t(n), font);
  std::string shown = Display(mode, b, n);
  for (auto& c : shown)
    if (c == '\t' || c == '\0') c = ' ';
  return ChunkWidths(reinterpret_cast<const uChar*>(shown.data()), shown.size(), font);
}

int32 BlankWidth(int32 font) {
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>(" "), 1, font, &size);
  return size.h < 1 ? 1 : size.h;  // a font measuring 0 counts as 1
}

int32 RunEnd(const Snapshot& s, size_t i) {
  return i + 1 < s.runs.size() ? std::max(s.runs[i + 1].start, s.runs[i].start) : int32(s.text.size());
}

// The width of a range, run by run.
int32 RangeWidth(const Snapshot& s, int32 start, int32 length) {
  const int32 n = int32(s.text.size());
  start = std::clamp(start, 0, n);
  const int32 end = std::clamp(start + std::max(length, 0), start, n);
  const auto* b = reinterpret_cast<const uChar*>(s.text.data());
  if (s.runs.size() < 2) {
    const int32 font = s.runs.empty() ? s.insertionFont : s.runs[0].font;
    return TextWidth(s.mode, b + start, end - start, font);
  }
  int64 width = 0;
  for (size_t i = 0; i < s.runs.size(); ++i) {
    const int32 a = std::max(start, s.runs[i].start), z = std::min(end, RunEnd(s, i));
    if (a < z) width += TextWidth(s.mode, b + a, z - a, s.runs[i].font);
  }
  return int32(std::min<int64>(width, kMaxExtent));
}

// Ascent, height and width of length bytes from e->start.
int32 MeasureLine(const Snapshot& s, TLineEntry* e, int32 length) {
  const int32 n = int32(s.text.size());
  const int32 start = std::clamp(e->start, 0, n);
  const int32 end = std::clamp(start + std::max(length, 0), start, n);
  const bool selectionInLine = s.selStart >= start && s.selStart <= end;
  int32 ascent = 0, rest = 0;
  if (s.runs.size() < 2) {
    Metrics(s.runs.empty() ? s.insertionFont : s.runs[0].font, &ascent, &rest);
    if (s.runs.size() == 1 && selectionInLine) {
      int32 ia = 0, ir = 0;
      Metrics(s.insertionFont, &ia, &ir);
      // The insertion font's larger ascent or height counts too.
      const int32 height = std::max(ascent + rest, ia + ir);
      ascent = std::max(ascent, ia);
      rest = height - ascent;
    }
  } else {
    for (size_t i = 0; i < s.runs.size(); ++i) {
      const int32 a = s.runs[i].start, z = RunEnd(s, i);
      const bool overlaps = (a < end && z > start) || (start == end && a <= start && (z > start || z == n));
      if (!overlaps) continue;
      int32 ra = 0, rr = 0;
      Metrics(s.runs[i].font, &ra, &rr);
      ascent = std::max(ascent, ra);
      rest = std::max(rest, rr);
    }
    if (selectionInLine) {
      int32 ia = 0, ir = 0;
      Metrics(s.insertionFont, &ia, &ir);
      ascent = std::max(ascent, ia);
      rest = std::max(rest, ir);
    }
  }
  const int32 width = RangeWidth(s, start, end - start);
  e->ascent = Pin16(ascent);
  e->height = Pin16(ascent + rest);
  e->width = Pin16(width);
  return width;
}

// The end of the line's content: before its trailing break.
int32 ContentEnd(const std::string& t, int32 start, int32 end, bool hex) {
  if (hex) return end;
  while (end > start && IsBreak(uChar(t[end - 1]))) --end;
  return end;
}

TLineEntry MakeEntry(const Snapshot& s, int32 start, int32 end) {
  TLineEntry e{start, 0, 0, 0, 0};
  const bool hex = (s.mode & kTRModeHex) != 0;
  const int32 content = ContentEnd(s.text, start, end, hex);
  MeasureLine(s, &e, content - start);
  int32 trimmedEnd = content;
  while (trimmedEnd > start && IsBlank(uChar(s.text[trimmedEnd - 1]))) --trimmedEnd;
  e.trimmed = trimmedEnd == content ? e.width : Pin16(RangeWidth(s, start, trimmedEnd - start));
  return e;
}

// The ends of lines broken at line breaks only.
void BreakLines(const Snapshot& s, std::vector<int32>* starts) {
  const int32 n = int32(s.text.size());
  starts->push_back(0);
  if (s.mode & kTRModeHex) return;
  for (int32 i = 0; i < n;) {
    const int32 b = BreakLength(s.text, i);
    if (b) {
      i += b;
      starts->push_back(i);
    } else {
      ++i;
    }
  }
}

// Widths of prefixes of a line: by arithmetic for one fixed-width font, by
// measuring otherwise.
struct LineMeasure {
  const Snapshot& s;
  bool fixed = false;
  int32 advance = 1, overhang = 0;
  int32 Width(int32 start, int32 length) const {
    if (fixed) return std::min<int64>(int64(length) * advance + overhang, kMaxExtent);
    return RangeWidth(s, start, length);
  }
};

// Kinds 1 and 4: the starts of wrapped lines.
void WrapLines(const Snapshot& s, std::vector<int32>* starts) {
  const std::string& t = s.text;
  const int32 n = int32(t.size());
  const uInt32 kind = s.mode & kTRModeKind;
  const bool rightJustified = (s.mode & kTRModeJustify) == kTRJustifyRight;
  const bool password = (s.mode & kTRModePassword) != 0;
  const int64 avail64 = int64(s.dest.right) - s.dest.left;
  const int32 avail = int32(std::clamp<int64>(avail64, 0, INT32_MAX));
  const int32 font = s.runs.empty() ? s.insertionFont : s.runs[0].font;
  starts->push_back(0);
  if (n == 0) return;

  if (s.mode & kTRModeHex) {
    // Whole bytes per line: two digits and half a blank each.
    const int32 blank = BlankWidth(font);
    int32 bytes = int32((2 * int64(avail)) / (5 * int64(blank)));
    bytes = bytes >= 2 ? bytes & ~1 : 1;
    if (n == bytes + 1 && (int64(bytes) * 5 / 2 + 2) * blank <= avail) ++bytes;
    for (int32 at = bytes; at < n; at += bytes) starts->push_back(at);
    return;
  }

  LineMeasure m{s};
  const FontEntry* fe = s.runs.size() < 2 ? TFontEntry(font) : nullptr;
  if (fe && fe->fixedWidth) {
    Point qx{0, 0};
    TTextSize(reinterpret_cast<const uChar*>("QX"), 2, font, &qx);
    m.fixed = true;
    m.advance = std::max(1, qx.h - int32(fe->fixedWidth));
    m.overhang = std::max(0, qx.h - 2 * m.advance);
  }
  const int32 scanLimit = std::max<int32>(1, RectWidth(&s.view));

  int32 pos = 0;
  while (pos < n) {
    int32 lineStart = pos;
    if (rightJustified && lineStart > 0) {
      int32 i = lineStart;
      while (i < n && IsBlank(uChar(t[i]))) ++i;
      if (i >= n) break;  // only blanks left: they stay with the line above
      lineStart = i;
    }
    int32 pe = lineStart;
    while (pe < n && !IsBreak(uChar(t[pe]))) ++pe;
    int32 end = lineStart;
    int64 lineWidth = 0;  // of lineStart..end; widths add word by word
    while (end < pe) {
      // The next word: leading blanks (the first word's), then up to a blank,
      // tab or break, or just after a punctuation mark.
      int32 i = end, scanned = 0;
      if (!password)
        while (i < pe && IsBlank(uChar(t[i]))) ++i;
      if (i < pe) {
        ++i;
        ++scanned;
        while (i < pe && scanned < scanLimit) {
          const uChar c = uChar(t[i]);
          if (!password && IsBlank(c)) break;
          ++i;
          ++scanned;
          if (c == ',' || c == ':' || c == '/' || c == '\\') break;
        }
      }
      const int32 wordEnd = i;
      const int64 withWord = m.fixed ? m.Width(lineStart, wordEnd - lineStart) : lineWidth + m.Width(end, wordEnd - end);
      if (withWord <= avail) {
        end = wordEnd;
        lineWidth = withWord;
        if (!rightJustified && !password) {
          const int32 wordStop = end;
          while (end < pe && IsBlank(uChar(t[end]))) ++end;
          if (!m.fixed && end > wordStop) lineWidth += m.Width(wordStop, end - wordStop);
        }
        continue;
      }
      if (kind == kTRKindBreakChar || end == lineStart) {
        // As many characters as fit, at least one.
        int32 lo = end + 1, hi = wordEnd;
        if (m.Width(lineStart, lo - lineStart) <= avail) {
          while (lo < hi) {
            const int32 mid = lo + (hi - lo + 1) / 2;
            if (m.Width(lineStart, mid - lineStart) <= avail) lo = mid;
            else hi = mid - 1;
          }
        } else if (end > lineStart) {
          lo = end;  // not even one more character fits after the content
        }
        end = lo;
      }
      break;
    }
    if (end == pe) end += BreakLength(t, pe);  // the break goes with the line
    if (lineStart > 0) starts->push_back(lineStart);
    pos = end;
  }
}

void KeepInRange(LRect* dest, const Rect& view) {
  if (dest->right < view.right) {
    const int32 dx = view.right - dest->right;
    dest->left += dx;
    dest->right += dx;
  }
  if (dest->left > view.left + 1) {
    const int32 dx = dest->left - (view.left + 1);
    dest->left -= dx;
    dest->right -= dx;
  }
  if (dest->bottom < view.bottom) {
    const int32 dy = view.bottom - dest->bottom;
    dest->top += dy;
    dest->bottom += dy;
  }
  if (dest->top > view.top) {
    const int32 dy = dest->top - view.top;
    dest->top -= dy;
    dest->bottom -= dy;
  }
}

MgErr StoreTable(TRecord r, const std::vector<TLineEntry>& lines) {
  const int32 size = kTLHeader + int32(lines.size()) * kTLEntrySize;
  UHandle h = TRData(r)->lines;
  if (!h) {
    h = DSNewHandle(size);
    if (!h) return kMemFullErr;
    TRData(r)->lines = h;
    std::memset(*h, 0, kTLHeader);
    PutNative16(*h + kTLCaretColumn, kTLNoCaretColumn);
  } else if (DSSetHandleSize(h, size) != kNoErr) {
    return kMemFullErr;
  }
  PutNative32(*h + kTLCount, uInt32(lines.size()));
  PutNative32(*h + kTLPending, 0);
  PutNative32(*h + kTLChangeStart, 0);
  PutNative32(*h + kTLChangeEnd, 0);
  PutNative32(*h + kTLDelta, 0);
  for (size_t i = 0; i < lines.size(); ++i) std::memcpy(*h + kTLHeader + i * kTLEntrySize, &lines[i], kTLEntrySize);
  return kNoErr;
}

void Layout(TRecord r) {
  Snapshot s = Take(r);
  const uInt32 kind = s.mode & kTRModeKind;
  const int32 n = int32(s.text.size());
  std::vector<int32> starts;
  const bool wraps = kind == kTRKindBreakChar || kind == kTRKindWordWrap;
  // A collapsed record is not wrapped: it keeps one line (and the one after a
  // final break), so that its table still covers the text it holds now.
  if (kind == kTRKindOneLine || kind > kTRKindWordWrap) starts.push_back(0);
  else if (wraps && !(s.flags & kTRFlagCollapsed)) WrapLines(s, &starts);
  else if (wraps) starts.push_back(0);
  else BreakLines(s, &starts);
  // A text ending in a break has a last line at its end (one-line kinds and
  // hex show everything on the lines they have).
  if (!(s.mode & kTRModeHex) && kind != kTRKindOneLine && kind <= kTRKindWordWrap && n > 0 &&
      IsBreak(uChar(s.text[n - 1])) && starts.back() != n)
    starts.push_back(n);
  std::vector<TLineEntry> lines;
  lines.reserve(((starts.size() + kScratchGrowth - 1) / kScratchGrowth) * kScratchGrowth);
  int64 height = 0;
  int32 widest = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const int32 end = i + 1 < starts.size() ? starts[i + 1] : n;
    lines.push_back(MakeEntry(s, starts[i], end));
    height += lines.back().height;
    widest = std::max<int32>(widest, lines.back().width);
  }
  if (StoreTable(r, lines) != kNoErr) return;

  const Rect view = s.view;
  LRect dest = s.dest;
  const int32 viewWidth = RectWidth(&view);
  const int32 total = int32(std::min<int64>(height, INT32_MAX / 2));
  switch (kind) {
    case kTRKindBreakChar:
    case kTRKindWordWrap:
      dest.bottom = dest.top + total;
      break;
    case kTRKindLines:
      dest.right = dest.left + std::max(widest, viewWidth - 1);
      dest.bottom = dest.top + total;
      break;
    case kTRKindBox: {
      int32 left = view.left + 1;
      if ((s.mode & kTRModeJustify) == kTRJustifyRight) left = view.right - widest;
      else if ((s.mode & kTRModeJustify) == kTRJustifyCentre) left = view.left + (viewWidth - widest) / 2;
      dest = LRect{view.top, left, view.top + total, left + widest};
      // The view follows the box, its right edge one less.
      TRData(r)->view = Rect{int16(view.top), int16(std::clamp(dest.left - 1, -32768, 32767)),
                             int16(std::clamp(dest.bottom, -32768, 32767)),
                             int16(std::clamp(dest.right - 1, -32768, 32767))};
      break;
    }
    default:
      dest = LRect{view.top, view.left + 1, view.top + lines[0].height, view.right};
      break;
  }
  KeepInRange(&dest, TRData(r)->view);
  TRData(r)->dest = dest;
}

}  // namespace

int32 TLineCount(TRecord record) {
  if (!record || !*record) return 0;
  UHandle h = TRData(record)->lines;
  return h && *h ? int32(GetNative32(*h + kTLCount)) : 0;
}

TLineEntry TLineAt(TRecord record, int32 line) {
  TLineEntry e{0, 0, 0, 0, 0};
  if (line < 0 || line >= TLineCount(record)) return e;
  std::memcpy(&e, *TRData(record)->lines + kTLHeader + line * kTLEntrySize, kTLEntrySize);
  return e;
}

void TValidateLines(TRecord record) {
  if (!record || !*record) return;
  UHandle h = TRData(record)->lines;
  if (h && *h && !(GetNative32(*h + kTLPending) & 1)) return;
  Layout(record);
}

void TMarkRelayout(TRecord record, int32 start, int32 oldLength, int32 newLength) {
  if (!record || !*record) return;
  UHandle h = TRData(record)->lines;
  if (!h || !*h) return;
  if (start >= 0 && oldLength == 0 && newLength == 0) return;
  const bool pending = GetNative32(*h + kTLPending) & 1;
  const int32 oldStart = int32(GetNative32(*h + kTLChangeStart));
  if (start < 0 || (pending && oldStart < 0)) {
    PutNative32(*h + kTLChangeStart, uInt32(-1));
  } else if (!pending) {
    PutNative32(*h + kTLChangeStart, uInt32(start));
    PutNative32(*h + kTLChangeEnd, uInt32(start + newLength));
    PutNative32(*h + kTLDelta, uInt32(newLength - oldLength));
  } else {
    // A second change widens the pending range.
    const int32 oldEnd = int32(GetNative32(*h + kTLChangeEnd));
    const int32 delta = int32(GetNative32(*h + kTLDelta));
    const int32 newEnd = std::max(oldEnd + newLength - oldLength, start + newLength);
    PutNative32(*h + kTLChangeStart, uInt32(std::min(oldStart, start)));
    PutNative32(*h + kTLChangeEnd, uInt32(newEnd));
    PutNative32(*h + kTLDelta, uInt32(delta + newLength - oldLength));
  }
  PutNative32(*h + kTLPending, GetNative32(*h + kTLPending) | 1);
}

int32 TMeasureLine(TRecord record, TLineEntry* entry, int32 length) {
  if (!record || !*record || !entry) return 0;
  return MeasureLine(Take(record), entry, length);
}

int32 TMeasureRange(TRecord record, int32 start, int32 length) {
  if (!record || !*record) return 0;
  return RangeWidth(Take(record), start, length);
}

UPtr TMakeDisplayText(uInt32 mode, const uChar* bytes, int32* length, int32 /*font*/) {
  if (!(mode & (kTRModePassword | kTRModeHex)) || !length || *length < 0 || (*length && !bytes)) return nullptr;
  const std::string shown = Display(mode, bytes, *length);
  UPtr p = DSNewPtr(int32(shown.size()) + 1);
  if (!p) return nullptr;
  std::memcpy(p, shown.data(), shown.size());
  *length = int32(shown.size());
  return p;
}

namespace {

int32 Justified(const Snapshot& s, const TLineEntry& e) {
  const int64 width = int64(s.dest.right) - s.dest.left;
  switch (s.mode & kTRModeJustify) {
    case kTRJustifyRight: return int32(std::clamp<int64>(width - e.width, INT32_MIN / 2, INT32_MAX / 2));
    case kTRJustifyCentre: return int32(std::clamp<int64>((width - e.trimmed) / 2, INT32_MIN / 2, INT32_MAX / 2));
    default: return 0;
  }
}

int16 PinPoint(int64 v) { return int16(std::clamp<int64>(v, -32768, 32767)); }

void SetCaretFlags(TRecord r, int32 options, bool set) {
  if (!(options & kTPtSetFlags)) return;
  const uInt32 bits = uInt32(options) & (kTRFlagAnchorBelow | kTRFlagMovingBelow);
  if (set) TRData(r)->flags |= bits;
  else TRData(r)->flags &= ~bits;
}

}  // namespace

Point TOffsetToPt(TRecord record, int32 offset, Bool32 atLineStart, TLineEntry* entry) {
  Point pt{0, 0};
  if (!record || !*record) return pt;
  TValidateLines(record);
  const Snapshot s = Take(record);
  const int32 n = int32(s.text.size()), count = TLineCount(record);
  if (count <= 0) return pt;
  offset = std::clamp(offset, 0, n);
  int32 line = 0;
  int64 top = s.dest.top;
  for (int32 i = 1; i < count && TLineAt(record, i).start <= offset; ++i) {
    top += TLineAt(record, i - 1).height;
    line = i;
  }
  TLineEntry e = TLineAt(record, line);
  int64 h;
  if (!atLineStart && offset > 0 && line > 0 && offset == e.start &&
      (!IsBreak(uChar(s.text[offset - 1])) || (s.mode & kTRModeHex))) {
    // A soft break: the end of the line above.
    e = TLineAt(record, line - 1);
    top -= e.height;
    h = int64(s.dest.left) + e.width;
  } else {
    h = int64(s.dest.left) + RangeWidth(s, e.start, offset - e.start);
  }
  h += Justified(s, e);
  pt.h = PinPoint(h);
  pt.v = PinPoint(top + e.ascent);
  if (entry) *entry = e;
  return pt;
}

int32 TPtToOffset(TRecord record, Point point, int32 options) {
  if (!record || !*record) return 0;
  if (TRData(record)->flags & kTRFlagCollapsed) return 0;
  TValidateLines(record);
  const Snapshot s = Take(record);
  const int32 n = int32(s.text.size()), count = TLineCount(record);
  if (point.v < s.dest.top) {
    SetCaretFlags(record, options, true);
    return 0;
  }
  if (point.v >= s.dest.bottom || count <= 0) {
    SetCaretFlags(record, options, false);
    return n;
  }
  int64 h = std::clamp<int64>(point.h, s.dest.left, s.dest.right);
  if (options & kTPtClampToView) {
    if (point.v < s.view.top) h = s.dest.left;
    else if (point.v > s.view.bottom) h = s.dest.right;
  }
  int32 line = 0;
  for (int64 top = s.dest.top; line + 1 < count; ++line) {
    top += TLineAt(record, line).height;
    if (point.v < top) break;
  }
  const TLineEntry e = TLineAt(record, line);
  const int32 start = std::clamp(e.start, 0, n);
  int32 end = line + 1 < count ? std::clamp(TLineAt(record, line + 1).start, start, n) : n;
  if (!(s.mode & kTRModeHex)) end = start + (ContentEnd(s.text, start, end, false) - start);
  h -= Justified(s, e);
  if (end == start) return start;
  if (point.h > s.dest.right) return end;
  const int64 x = h - s.dest.left;
  int32 before = start, after = start;
  int64 wBefore = 0, wAfter = 0;
  while (after < end) {
    before = after;
    wBefore = wAfter;
    after = std::min(end, TNextCharOffset(reinterpret_cast<const uChar*>(s.text.data()), after, s.insertionFont));
    if (after <= before) after = before + 1;
    wAfter = RangeWidth(s, start, after - start);
    if (wAfter >= x) break;
  }
  if (wAfter < x) {
    SetCaretFlags(record, options, false);
    return end;
  }
  const bool leftHalf = 2 * (x - wBefore) <= wAfter - wBefore;
  SetCaretFlags(record, options, leftHalf);
  // The nearer boundary wins; a tie goes to the later one.
  return wAfter - x <= x - wBefore ? after : before;
}

int32 TCharPositions(TRecord record, int32 start, int32 length, UHandle* positions) {
  if (positions) *positions = nullptr;
  if (!record || !*record) return 0;
  const Snapshot s = Take(record);
  const int32 n = int32(s.text.size());
  start = std::clamp(start, 0, n);
  const int32 end = int32(std::clamp<int64>(int64(start) + std::max(length, 0), start, n));
  std::vector<int32> at{start};
  const auto* b = reinterpret_cast<const uChar*>(s.text.data());
  for (int32 i = start; i < end;) {
    int32 font = s.insertionFont;
    for (size_t k = 0; k < s.runs.size() && s.runs[k].start <= i; ++k) font = s.runs[k].font;
    i = (s.mode & kTRModeHex) ? i + 1 : std::min(end, std::max(i + 1, TNextCharOffset(b, i, font)));
    at.push_back(i);
  }
  if (positions) {
    UHandle h = DSNewHandle(int32(at.size() * sizeof(int32)));
    if (h) std::memcpy(*h, at.data(), at.size() * sizeof(int32));
    *positions = h;
  }
  return int32(at.size()) - 1;
}
