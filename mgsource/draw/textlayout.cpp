// Line layout of text-edit records.  The layout reads the text where it
// lies: measuring goes through the font table and the layer's width
// information only, never through the data zone, so the text handle stays
// put until the line table is written.
#include "mgsource/draw/textlayout.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/textoffset.h"
#include "platform/qx_codepage.h"

namespace {

constexpr int32 kMaxExtent = 32767;
constexpr int32 kScratchGrowth = 128;  // new lines go into a table grown by as many
constexpr int32 kParagraphWindow = 2048;  // bytes first searched for a line's paragraph end
constexpr char kHexDigits[] = "0123456789ABCDEF";

int32 gMeasuredLines = 0;
bool gMayLeave = true;  // test tooling: layouts may leave lines for later

int16 Pin16(int64 v) { return int16(v < 0 ? 0 : v > kMaxExtent ? kMaxExtent : v); }

bool IsBreak(uChar c) { return c == '\r' || c == '\n'; }

// Bytes that end words: blanks before them, punctuation after them.
enum : uChar { kWordChar = 0, kBlankChar = 1, kPunctuationChar = 2 };
struct CharKinds {
  uChar of[256];
  constexpr CharKinds() : of{} {
    of[uChar(' ')] = of[uChar('\t')] = kBlankChar;
    of[uChar(',')] = of[uChar(':')] = of[uChar('/')] = of[uChar('\\')] = kPunctuationChar;
  }
};
constexpr CharKinds kCharKinds;
bool IsBlank(uChar c) { return c == ' ' || c == '\t'; }

// The length of the break at i (0, 1 or 2: CR LF and LF CR are one break).
int32 BreakLength(const uChar* t, int32 n, int32 i) {
  if (i >= n || !IsBreak(t[i])) return 0;
  if (i + 1 < n && IsBreak(t[i + 1]) && t[i + 1] != t[i]) return 2;
  return 1;
}

// The end of the character at i, never past n: the next byte, or for a
// double-byte font (wide) the end of what the code page steps over.
int32 CharEnd(const uChar* t, int32 n, int32 i, bool wide) {
  if (!wide || i + 1 >= n) return i + 1;
  const char* p = reinterpret_cast<const char*>(t) + i;
  return PlatCharNext(p) - p == 2 ? i + 2 : i + 1;
}

// The display form of bytes under the mode: password "*" per character
// (breaks kept), hex digits with a blank after every second byte.
std::string Display(uInt32 mode, const uChar* b, int32 n) {
  std::string out;
  if (mode & kTRModeHex) {
    out.reserve(size_t(n) * 5 / 2 + 1);
    for (int32 i = 0; i < n; ++i) {
      out += kHexDigits[b[i] >> 4];
      out += kHexDigits[b[i] & 15];
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

// The width of the display form measured by the font table in pieces, tabs
// and NULs as blanks (fonts whose characters may take two bytes).
int32 MeasuredWidth(uInt32 mode, const uChar* b, int32 n, int32 font) {
  std::string shown = Display(mode, b, n);
  for (auto& c : shown)
    if (c == '\t' || c == '\0') c = ' ';
  int64 width = 0;
  constexpr size_t kChunk = 1024;
  for (size_t at = 0; at < shown.size(); at += kChunk) {
    Point size{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(shown.data()) + at, int32(std::min(kChunk, shown.size() - at)), font,
              &size);
    width += size.h > 0 ? size.h : 0;
    if (width > kMaxExtent) return kMaxExtent;
  }
  return int32(width);
}

// The metrics and byte widths of one font, looked up once per layout: the
// font table's fixed width or width table where it has one, else each byte
// measured the first time it is met.  Tabs and NULs measure as blanks.
struct FontWidths {
  int32 font = 0;
  int32 ascent = 0, rest = 0;  // rest: descent + leading
  bool bytewise = true;        // characters are bytes and widths add
  int16 w[256];

  void Init(int32 f) {
    font = f;
    // Measuring first makes a standard font that is not made yet, as the
    // font table does for every measure.
    Point blankSize{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(" "), 1, f, &blankSize);
    int32 a = 0, d = 0, l = 0;
    TGetFontMetrics(f, &a, &d, &l);
    ascent = a;
    rest = d + l;
    const FontEntry* e = TFontEntry(f);
    if (e && (e->widthFlags & kFontNotAnsi)) bytewise = false;
    if (e && e->fixedWidth) {
      std::fill(std::begin(w), std::end(w), int16(e->fixedWidth));
    } else if (e && (e->widthFlags & kFontWidthTable) && e->name && *e->name) {
      const uChar* table = *e->name + 1 + (*e->name)[0];
      for (int32 c = 0; c < 256; ++c) w[c] = int16(table[c]);
    } else {
      std::fill(std::begin(w), std::end(w), int16(-1));
    }
    const int16 blank = int16(Of(' '));
    w[uChar('\t')] = w[0] = blank;
  }
  int32 Of(uChar c) {
    const int32 v = w[c];
    return v >= 0 ? v : Measure(c);
  }
  void MeasureAll() {
    for (int32 c = 0; c < 256; ++c) Of(uChar(c));
  }
  int32 Measure(uChar c) {
    Point p{0, 0};
    TTextSize(&c, 1, font, &p);
    w[c] = int16(std::max<int32>(0, p.h));
    return w[c];
  }
  // The width of bytes in their display form.
  int64 Sum(uInt32 mode, const uChar* b, int32 n) {
    if (n <= 0) return 0;
    if (!bytewise) return MeasuredWidth(mode, b, n, font);
    int64 sum = 0;
    if (mode & kTRModeHex) {
      const int32 blank = Of(' ');
      for (int32 i = 0; i < n; ++i) sum += Of(kHexDigits[b[i] >> 4]) + Of(kHexDigits[b[i] & 15]) + (i & 1 ? blank : 0);
    } else if (mode & kTRModePassword) {
      const int32 star = Of('*');
      for (int32 i = 0; i < n; ++i) sum += IsBreak(b[i]) ? Of(b[i]) : star;
    } else {
      // Four sums at once: the loads do not wait on one another.
      int32 s0 = 0, s1 = 0, s2 = 0, s3 = 0;
      int32 i = 0;
      for (; i + 4 <= n; i += 4) {
        s0 += Of(b[i]);
        s1 += Of(b[i + 1]);
        s2 += Of(b[i + 2]);
        s3 += Of(b[i + 3]);
        if (((i + 4) & 0xFFFF) == 0) sum += int64(s0) + s1 + s2 + s3, s0 = s1 = s2 = s3 = 0;
      }
      for (; i < n; ++i) s0 += Of(b[i]);
      sum += int64(s0) + s1 + s2 + s3;
    }
    return sum;
  }
};

// A style run as a stretch of the text: a run starting past the end ends
// there, one starting before its predecessor starts where that one does.
struct Piece {
  int32 start, end, slot;
};

// What a layout needs of the record.
struct Snapshot {
  const uChar* text = nullptr;
  int32 n = 0;
  int32 runCount = 0;          // the record's runs (0: the insertion style alone)
  std::vector<Piece> pieces;   // with 2 or more runs
  std::vector<FontWidths> fonts;
  int32 insertion = 0;         // slot of the insertion font
  int32 single = 0;            // slot of the font of a text with fewer than 2 runs
  bool additive = true;        // widths of a range are the sums of its parts
  bool wide = false;           // some font's characters may take two bytes
  uInt32 mode = 0;
  uInt32 flags = 0;
  int32 selStart = 0, selEnd = 0;
  Rect view{};
  LRect dest{};

  int32 Slot(int32 font) {
    for (size_t i = 0; i < fonts.size(); ++i)
      if (fonts[i].font == font) return int32(i);
    fonts.emplace_back();
    fonts.back().Init(font);
    if (!fonts.back().bytewise) additive = false, wide = true;
    return int32(fonts.size()) - 1;
  }
};

Snapshot Take(TRecord r) {
  Snapshot s;
  const TRecordData* d = TRData(r);
  if (d->text && *d->text && DSGetHandleSize(d->text) >= 4) {
    const int64 stored = GetNative32(*d->text);
    s.n = int32(std::min<int64>(stored, int64(DSGetHandleSize(d->text)) - 4));
    s.text = *d->text + 4;
  }
  const int32 n = s.n;
  s.runCount = d->runCount < 0 ? 0 : d->runCount;
  s.fonts.reserve(4);
  s.insertion = s.Slot(d->runs[0].font);
  s.single = s.runCount == 0 ? s.insertion : s.Slot(d->runs[1].font);
  if (s.runCount >= 2) {
    s.pieces.reserve(size_t(s.runCount));
    int32 last = 0;
    for (int32 i = 1; i <= s.runCount; ++i) {
      int32 start = int32(std::min<uInt32>(d->runs[i].start, uInt32(n)));
      if (i > 1) start = std::max(start, last);
      if (i > 1) s.pieces.back().end = start;
      s.pieces.push_back({start, n, s.Slot(d->runs[i].font)});
      last = start;
    }
  }
  s.mode = d->mode;
  if (s.mode & kTRModeHex) s.additive = false;
  s.flags = d->flags;
  s.selStart = std::clamp(d->selStart, 0, n);
  s.selEnd = std::clamp(d->selEnd, 0, n);
  s.view = d->view;
  s.dest = d->dest;
  return s;
}

// The first piece that may hold offsets from start on.
size_t FirstPiece(const Snapshot& s, int32 start) {
  return size_t(std::lower_bound(s.pieces.begin(), s.pieces.end(), start,
                                 [](const Piece& p, int32 v) { return p.end < v; }) -
                s.pieces.begin());
}

// The end of the character at i in the font of its run, some font being
// double-byte (kept out of line: the single-byte scans stay as they are).
[[gnu::noinline]] int32 WideCharEnd(const Snapshot& s, int32 i) {
  int32 slot = s.single;
  if (s.runCount >= 2) {
    const size_t k = FirstPiece(s, i + 1);
    slot = k < s.pieces.size() && s.pieces[k].start <= i ? s.pieces[k].slot : s.insertion;
  }
  return CharEnd(s.text, s.n, i, !s.fonts[size_t(slot)].bytewise);
}

int32 CharEndAt(const Snapshot& s, int32 i) { return s.wide ? WideCharEnd(s, i) : i + 1; }

// The width of a range, run by run, not pinned.
int64 RangeWidth64(Snapshot& s, int32 start, int32 length) {
  start = std::clamp(start, 0, s.n);
  const int32 end = int32(std::clamp<int64>(int64(start) + std::max(length, 0), start, s.n));
  if (start == end) return 0;
  if (s.runCount < 2) return s.fonts[size_t(s.single)].Sum(s.mode, s.text + start, end - start);
  int64 width = 0;
  for (size_t i = FirstPiece(s, start); i < s.pieces.size() && s.pieces[i].start < end; ++i) {
    const int32 a = std::max(start, s.pieces[i].start), z = std::min(end, s.pieces[i].end);
    if (a < z) width += s.fonts[size_t(s.pieces[i].slot)].Sum(s.mode, s.text + a, z - a);
  }
  return width;
}

int32 RangeWidth(Snapshot& s, int32 start, int32 length) {
  return int32(std::min<int64>(RangeWidth64(s, start, length), kMaxExtent));
}

// Ascent, height and width of length bytes from e->start; width, when not
// negative, is the width the caller measured already.
int32 MeasureLine(Snapshot& s, TLineEntry* e, int32 length, int64 width = -1) {
  const int32 n = s.n;
  const int32 start = std::clamp(e->start, 0, n);
  const int32 end = int32(std::clamp<int64>(int64(start) + std::max(length, 0), start, n));
  const bool selectionInLine = s.selStart >= start && s.selStart <= end;
  const FontWidths& ins = s.fonts[size_t(s.insertion)];
  int32 ascent = 0, rest = 0;
  if (s.runCount < 2) {
    ascent = s.fonts[size_t(s.single)].ascent;
    rest = s.fonts[size_t(s.single)].rest;
    if (s.runCount == 1 && selectionInLine) {
      // The insertion font's larger ascent or height counts too.
      const int32 height = std::max(ascent + rest, ins.ascent + ins.rest);
      ascent = std::max(ascent, ins.ascent);
      rest = height - ascent;
    }
  } else {
    for (size_t i = FirstPiece(s, start); i < s.pieces.size() && s.pieces[i].start <= end; ++i) {
      const int32 a = s.pieces[i].start, z = s.pieces[i].end;
      const bool overlaps = (a < end && z > start) || (start == end && a <= start && (z > start || z == n));
      if (!overlaps) continue;
      const FontWidths& f = s.fonts[size_t(s.pieces[i].slot)];
      ascent = std::max(ascent, f.ascent);
      rest = std::max(rest, f.rest);
    }
    if (selectionInLine) {
      ascent = std::max(ascent, ins.ascent);
      rest = std::max(rest, ins.rest);
    }
  }
  if (width < 0) width = RangeWidth64(s, start, end - start);
  e->ascent = Pin16(ascent);
  e->height = Pin16(ascent + rest);
  e->width = Pin16(width);
  return int32(std::min<int64>(width, kMaxExtent));
}

// The end of the line's content: before its trailing break.
int32 ContentEnd(const uChar* t, int32 start, int32 end, bool hex) {
  if (hex) return end;
  while (end > start && IsBreak(t[end - 1])) --end;
  return end;
}

// One laid-out line: where it starts, where its content (before its break)
// ends, where the next line may start, and its content's width when the
// layout measured it (-1: not yet).
struct LineSpan {
  int32 start, contentEnd, next;
  int64 width;
  // Where the last word that fitted ends, before its blanks, and the
  // line's width there (-1: not known).
  int32 wordStop = -1;
  int64 wordStopWidth = 0;
};

TLineEntry MakeEntry(Snapshot& s, const LineSpan& span) {
  ++gMeasuredLines;
  TLineEntry e{span.start, 0, 0, 0, 0};
  const int32 start = span.start, content = span.contentEnd;
  const int64 width = span.width >= 0 ? span.width : RangeWidth64(s, start, content - start);
  MeasureLine(s, &e, content - start, width);
  int32 trimmedEnd = content;
  while (trimmedEnd > start && IsBlank(s.text[trimmedEnd - 1])) --trimmedEnd;
  if (trimmedEnd == content) e.trimmed = e.width;
  else if (trimmedEnd == span.wordStop) e.trimmed = Pin16(span.wordStopWidth);
  else if (s.additive) e.trimmed = Pin16(width - RangeWidth64(s, trimmedEnd, content - trimmedEnd));
  else e.trimmed = Pin16(RangeWidth64(s, start, trimmedEnd - start));
  return e;
}

// Makes the lines of the record's kind one at a time, each from a position
// where a line may start.
class LineMaker {
 public:
  explicit LineMaker(Snapshot& s) : s_(s) {
    const uInt32 kind = s.mode & kTRModeKind;
    const bool hex = (s.mode & kTRModeHex) != 0;
    if (kind == kTRKindOneLine || kind > kTRKindWordWrap) {
      way_ = kOne;
    } else if (kind == kTRKindLines || kind == kTRKindBox) {
      way_ = hex ? kOne : kBreaks;
    } else if (s.flags & kTRFlagCollapsed) {
      // A collapsed record is not wrapped: it keeps one line (and the one
      // after a final break), so its table still covers the text it holds.
      way_ = kOne;
    } else if (hex) {
      way_ = kHex;
      HexBytes();
    } else {
      way_ = kWords;
      WordSetup();
    }
    finalLine_ = !hex && kind != kTRKindOneLine && kind <= kTRKindWordWrap && s.n > 0 && IsBreak(s.text[s.n - 1]);
  }

  // Whether lines past a change can be kept.
  bool Incremental() const { return way_ != kOne; }
  // Whether the line ending at a line start p read text at or after to: the
  // word it tried last runs from p up to a blank, break or punctuation mark,
  // at most the scan's limit.  Hex lines and lines at breaks read nothing
  // past their end.
  bool ReadsUpTo(int32 p, int32 to) const {
    if (way_ != kWords) return false;
    const uChar* t = s_.text;
    // A word of double-byte text may end one byte past the scan's limit.
    const int32 stop = int32(std::min<int64>({int64(to), int64(s_.n), int64(p) + scanLimit_ + 1 + s_.wide}));
    int32 i = p;
    if (!password_)
      while (i < stop && IsBlank(t[i])) ++i;
    if (s_.wide) {
      for (bool first = true; i < stop; i = CharEndAt(s_, i), first = false) {
        if (CharEndAt(s_, i) - i > 1) continue;
        const uChar c = t[i];
        if (IsBreak(c) || (!first && !password_ && IsBlank(c))) return false;
        if (kCharKinds.of[c] == kPunctuationChar) return false;
      }
      return i >= to;
    }
    for (bool first = true; i < stop; ++i, first = false) {
      const uChar c = t[i];
      if (IsBreak(c) || (!first && !password_ && IsBlank(c))) return false;
      if (kCharKinds.of[c] == kPunctuationChar) return false;
    }
    return i >= to;
  }

  // Whether a line from a ends at b (the next line's start) whatever the
  // text from b + 1 on holds: the text through the byte at b is wider than
  // the line, widths adding up, and that byte is neither a blank nor a
  // break, so that no word, blank or character takes the line past b.
  bool EndsAtWhateverFollows(int32 a, int32 b) {
    if (way_ != kWords || s_.wide || !s_.additive || rightJustified_ || password_ || a >= b || b >= s_.n) return false;
    const uChar c = s_.text[b];
    if (IsBlank(c) || IsBreak(c)) return false;
    return (fixed_ ? FixedWidth(b + 1 - a) : RangeWidth64(s_, a, b + 1 - a)) > avail_;
  }

  // Whether a text ending in a break gets a last line at its end.
  bool FinalLine() const { return finalLine_; }

  // The line from pos; false when no line starts there.
  bool Next(int32 pos, LineSpan* out) {
    const int32 n = s_.n;
    if (pos >= n && pos > 0) return false;
    switch (way_) {
      case kOne:
        if (pos > 0) return false;
        *out = {0, ContentEnd(s_.text, 0, n, (s_.mode & kTRModeHex) != 0), n, -1};
        return true;
      case kBreaks: {
        int32 i = pos;
        while (i < n && !IsBreak(s_.text[i])) ++i;
        *out = {pos, i, i + BreakLength(s_.text, n, i), -1};
        return true;
      }
      case kHex: {
        const int32 end = int32(std::min<int64>(int64(pos) + bytes_, n));
        *out = {pos, end, end, -1};
        return true;
      }
      default:
        return Words(pos, out);
    }
  }

 private:
  enum Way { kOne, kBreaks, kHex, kWords };

  // Hex lines: whole bytes, two digits and half a blank each.
  void HexBytes() {
    const int32 avail = Avail();
    const int32 blank = std::max(1, s_.fonts[size_t(s_.single)].Of(' '));  // a font measuring 0 counts as 1
    int32 bytes = int32((2 * int64(avail)) / (5 * int64(blank)));
    bytes = bytes >= 2 ? bytes & ~1 : 1;
    if (s_.n == bytes + 1 && (int64(bytes) * 5 / 2 + 2) * blank <= avail) ++bytes;
    bytes_ = bytes;
  }

  int32 Avail() const { return int32(std::clamp<int64>(int64(s_.dest.right) - s_.dest.left, 0, INT32_MAX)); }

  void WordSetup() {
    avail_ = Avail();
    scanLimit_ = std::max<int32>(1, RectWidth(&s_.view));
    rightJustified_ = (s_.mode & kTRModeJustify) == kTRJustifyRight;
    password_ = (s_.mode & kTRModePassword) != 0;
    wordWrap_ = (s_.mode & kTRModeKind) == kTRKindWordWrap;
    if (s_.runCount < 2) {
      const int32 font = s_.fonts[size_t(s_.single)].font;
      const FontEntry* fe = TFontEntry(font);
      if (fe && fe->fixedWidth) {
        // One fixed-width font: widths by arithmetic.
        Point qx{0, 0};
        TTextSize(reinterpret_cast<const uChar*>("QX"), 2, font, &qx);
        fixed_ = true;
        advance_ = std::max(1, qx.h - int32(fe->fixedWidth));
        overhang_ = std::max(0, qx.h - 2 * advance_);
      }
    }
    inline_ = !fixed_ && s_.runCount < 2 && s_.additive;
    plain_ = inline_ && !password_ && !rightJustified_;
    styled_ = s_.runCount >= 2 && s_.additive && !s_.wide && !password_ && !rightJustified_;
    fw_ = &s_.fonts[size_t(s_.single)];
    if (inline_) fw_->MeasureAll();
    if (inline_ && !password_) {
      for (int32 c = 0; c < 256; ++c) cells_[c] = uInt32(kCharKinds.of[c]) << 16 | uInt16(fw_->w[c]);
      return;
    }
    const int32 star = inline_ ? fw_->Of('*') : 0;
    for (int32 c = 0; c < 256; ++c) {
      uInt32 kind = kCharKinds.of[c];
      if (password_ && kind == kBlankChar) kind = kWordChar;  // blanks do not end password words
      const int32 width = !inline_ ? 0 : password_ ? star : fw_->w[c];
      cells_[c] = kind << 16 | uInt32(width);
    }
  }

  int64 FixedWidth(int32 length) const { return std::min<int64>(int64(length) * advance_ + overhang_, kMaxExtent); }

  // The width of the byte at i as a range of it measures (additive
  // single-byte text of 2 or more runs): in the font of the piece holding
  // it, none outside the pieces.  The piece found last is kept.
  int32 ByteWidth(int32 i) {
    if (i < segStart_ || i >= segEnd_) Seek(i);
    if (!segFont_) return 0;
    uChar c = s_.text[i];
    if (password_ && !IsBreak(c)) c = '*';
    const int32 v = segFont_->w[c];
    return v >= 0 ? v : segFont_->Measure(c);
  }
  void Seek(int32 i) {
    const size_t k = FirstPiece(s_, i + 1);
    if (k < s_.pieces.size() && s_.pieces[k].start <= i) {
      segStart_ = s_.pieces[k].start;
      segEnd_ = s_.pieces[k].end;
      segFont_ = &s_.fonts[size_t(s_.pieces[k].slot)];
    } else {
      segStart_ = segEnd_ = i;  // outside the pieces: looked for again next time
      segFont_ = nullptr;
    }
  }

  // The width of the character from i to end as measured in the line.
  int64 CharWidth(int32 i, int32 end) {
    if (inline_) return fw_->Of(password_ ? uChar('*') : s_.text[i]);
    return RangeWidth64(s_, i, end - i);
  }

  // Kinds 1 and 4: a line built word by word.
  bool Words(int32 pos, LineSpan* out) {
    const uChar* t = s_.text;
    const int32 n = s_.n;
    int32 lineStart = pos;
    if (rightJustified_ && lineStart > 0) {
      // Leading blanks are skipped; only blanks left stay with the line above.
      while (lineStart < n && IsBlank(t[lineStart])) ++lineStart;
      if (lineStart >= n) return false;
    }
    // The paragraph's end: the next CR or LF, looked for from the line's
    // start up to a window's end (the searches serve the lines after it as
    // well).  A paragraph end where the search stopped, not at a break, is
    // one only when the line does not reach it; else the window grows.
    for (int64 window = kParagraphWindow;; window *= 16) {
      const int32 upTo = int32(std::min<int64>(n, lineStart + window));
      const int32 lf = FindFrom(lfSearch_, '\n', lineStart, upTo);
      const int32 pe = std::min(lf, FindFrom(crSearch_, '\r', lineStart, std::min(lf, upTo)));
      const int32 reach = WordsIn(lineStart, pe, out);
      if (pe >= n || IsBreak(t[pe]) || reach < pe) return true;
    }
  }

  // The line from lineStart (after any blanks skipped) in the paragraph
  // ending at pe; returns how far it read: the line depends on pe only when
  // that is pe.
  int32 WordsIn(int32 lineStart, int32 pe, LineSpan* out) {
    const uChar* t = s_.text;
    int32 end = lineStart;
    int64 lineWidth = 0;  // of lineStart..end; widths add word by word
    if (plain_) {
      const int32 reach = PlainWords(lineStart, pe, &end, &lineWidth);
      Finish(lineStart, pe, end, lineWidth, out);
      out->wordStop = wordStop_;
      out->wordStopWidth = wordStopWidth_;
      return reach;
    }
    if (styled_) {
      const int32 reach = StyledWords(lineStart, pe, &end, &lineWidth);
      Finish(lineStart, pe, end, lineWidth, out);
      out->wordStop = wordStop_;
      out->wordStopWidth = wordStopWidth_;
      return reach;
    }
    // Plain text in one font adds byte widths while it scans.
    const bool sums = inline_;
    const int16* widths = fw_->w;
    int32 reach = lineStart;
    while (end < pe) {
      // The next word: leading blanks (the first word's), then up to a blank,
      // tab or break, or just after a punctuation mark.
      int32 i = end;
      int64 wordWidth = 0;
      if (!password_)
        for (; i < pe && IsBlank(t[i]); ++i) wordWidth += widths[t[i]];
      if (i < pe && s_.wide) {
        i = WideWord(i, pe);
      } else if (i < pe) {
        const int32 limit = pe - i > scanLimit_ ? i + scanLimit_ : pe;
        // A character's cell holds its width and what it does to the word;
        // a word is at most as many bytes as the view is wide, so 32 bits
        // hold its width.
        int32 word = int32(cells_[t[i]] & 0xFFFF);
        ++i;
        while (i < limit) {
          const uInt32 cell = cells_[t[i]];
          if (cell >> 16) {
            if ((cell >> 16) == kBlankChar) break;
            word += int32(cell & 0xFFFF);  // punctuation ends the word after it
            ++i;
            break;
          }
          word += int32(cell);
          ++i;
        }
        wordWidth += word;
      }
      const int32 wordEnd = i;
      reach = std::max(reach, wordEnd);
      const int64 withWord = fixed_ ? FixedWidth(wordEnd - lineStart)
                             : lineWidth + (sums ? wordWidth : RangeWidth64(s_, end, wordEnd - end));
      if (withWord <= avail_) {
        end = wordEnd;
        lineWidth = withWord;
        if (!rightJustified_ && !password_) {
          const int32 wordStop = end;
          int64 blanks = 0;
          for (; end < pe && IsBlank(t[end]); ++end) blanks += widths[t[end]];
          if (sums) lineWidth += blanks;
          else if (!fixed_ && end > wordStop) lineWidth += RangeWidth64(s_, wordStop, end - wordStop);
        }
        continue;
      }
      Overflow(lineStart, wordEnd, &end, &lineWidth);
      break;
    }
    Finish(lineStart, pe, end, lineWidth, out);
    return std::max(reach, end);
  }

  // The end of the word of double-byte text starting at i (not a blank
  // unless in password mode), stepping whole characters: up to a blank or
  // just after a punctuation mark, at most the scan's limit (but at least
  // the first character).  Trail bytes are never blanks or punctuation.
  int32 WideWord(int32 i, int32 pe) const {
    const int32 limit = pe - i > scanLimit_ ? i + scanLimit_ : pe;
    i = CharEndAt(s_, i);
    while (i < limit) {
      const int32 next = CharEndAt(s_, i);
      if (next - i == 1) {
        const uInt32 kind = cells_[s_.text[i]] >> 16;
        if (kind == kBlankChar) break;
        if (kind == kPunctuationChar) return next;
      }
      if (next > limit) break;
      i = next;
    }
    return i;
  }

  // A word ending at wordEnd did not fit on the line: in kind 1, or when it
  // is the line's first word, the line takes as many characters as fit, at
  // least one; in kind 4 it ends where it is.
  void Overflow(int32 lineStart, int32 wordEnd, int32* endIo, int64* widthIo) {
    if (wordWrap_ && *endIo != lineStart) return;
    int32 z = *endIo;
    int64 w = *widthIo;
    if (!fixed_ && !inline_ && !s_.wide && s_.additive && s_.runCount >= 2) {
      // Styled single-byte text: byte widths from the run in force.
      while (z < wordEnd) {
        const int64 next = w + ByteWidth(z);
        if (next > avail_) break;
        w = next;
        ++z;
      }
    } else {
      while (z < wordEnd) {
        const int32 ze = CharEndAt(s_, z);
        const int64 next = fixed_ ? FixedWidth(ze - lineStart) : w + CharWidth(z, ze);
        if (next > avail_) break;
        w = next;
        z = ze;
      }
    }
    if (z == lineStart) {
      const int32 ze = CharEndAt(s_, z);
      w = fixed_ ? FixedWidth(ze - lineStart) : w + CharWidth(z, ze);
      z = ze;
    }
    *endIo = z;
    *widthIo = w;
  }

  bool Finish(int32 lineStart, int32 pe, int32 end, int64 lineWidth, LineSpan* out) const {
    const int32 content = end;
    if (end == pe) end += BreakLength(s_.text, s_.n, pe);  // the break goes with the line
    *out = {lineStart, content, end, fixed_ ? -1 : lineWidth};
    return true;
  }

  // The words of a line of plain text in one font whose widths add, blanks
  // going with the word before them: the common case, scanned with the
  // byte cells alone.  The same lines as the general loop above.
  int32 PlainWords(int32 lineStart, int32 pe, int32* endOut, int64* widthOut) {
    const uChar* const t = s_.text;
    const uInt32* const cells = cells_;
    const int64 avail = avail_;
    const int32 scanLimit = scanLimit_;
    int64 lineWidth = 0;
    int32 end = lineStart, i = lineStart;
    int64 wordWidth = 0;
    int32 wordStop = -1;
    int64 wordStopWidth = 0;
    for (; i < pe && IsBlank(t[i]); ++i) wordWidth += cells[t[i]] & 0xFFFF;  // the first word's leading blanks
    for (;;) {
      const bool hasWord = i < pe;
      if (hasWord) {
        const int32 limit = pe - i > scanLimit ? i + scanLimit : pe;
        int32 word = int32(cells[t[i]] & 0xFFFF);
        for (++i; i < limit; ++i) {
          const uInt32 cell = cells[t[i]];
          if (cell >> 16) {
            if ((cell >> 16) != kBlankChar) word += int32(cell & 0xFFFF), ++i;  // punctuation ends the word after it
            break;
          }
          word += int32(cell);
        }
        wordWidth += word;
      }
      const int64 withWord = lineWidth + wordWidth;
      if (withWord > avail) {
        Overflow(lineStart, i, &end, &lineWidth);
        break;
      }
      end = i;
      lineWidth = withWord;
      if (hasWord) wordStop = end, wordStopWidth = lineWidth;
      int64 blanks = 0;
      for (; end < pe && IsBlank(t[end]); ++end) blanks += cells[t[end]] & 0xFFFF;
      lineWidth += blanks;
      if (end >= pe) break;
      i = end;
      wordWidth = 0;
    }
    *endOut = end;
    *widthOut = lineWidth;
    wordStop_ = wordStop;
    wordStopWidth_ = wordStopWidth;
    return std::max(end, i);
  }

  // The words of a line of styled text (styled_): as PlainWords, each
  // byte's width taken from the font of the run holding it.  A word is
  // scanned only until the line with it is too wide: the characters that
  // fit lie before that point, and a word that does not fit ends the line
  // before it wherever it ends.
  int32 StyledWords(int32 lineStart, int32 pe, int32* endOut, int64* widthOut) {
    const uChar* const t = s_.text;
    int64 lineWidth = 0;
    int32 end = lineStart, i = lineStart;
    int64 wordWidth = 0;
    int32 wordStop = -1;
    int64 wordStopWidth = 0;
    for (; i < pe && IsBlank(t[i]); ++i) wordWidth += ByteWidth(i);  // the first word's leading blanks
    for (;;) {
      const bool hasWord = i < pe;
      if (hasWord) {
        const int32 limit = pe - i > scanLimit_ ? i + scanLimit_ : pe;
        const int64 room = avail_ - lineWidth;
        wordWidth += ByteWidth(i);
        for (++i; i < limit && wordWidth <= room; ++i) {
          const uChar kind = kCharKinds.of[t[i]];
          if (kind != kWordChar) {
            if (kind != kBlankChar) wordWidth += ByteWidth(i), ++i;  // punctuation ends the word after it
            break;
          }
          wordWidth += ByteWidth(i);
        }
      }
      const int64 withWord = lineWidth + wordWidth;
      if (withWord > avail_) {
        Overflow(lineStart, i, &end, &lineWidth);
        break;
      }
      end = i;
      lineWidth = withWord;
      if (hasWord) wordStop = end, wordStopWidth = lineWidth;
      for (; end < pe && IsBlank(t[end]); ++end) lineWidth += ByteWidth(end);
      if (end >= pe) break;
      i = end;
      wordWidth = 0;
    }
    *endOut = end;
    *widthOut = lineWidth;
    wordStop_ = wordStop;
    wordStopWidth_ = wordStopWidth;
    return std::max(end, i);
  }

  Snapshot& s_;
  Way way_ = kOne;
  bool finalLine_ = false;
  int32 bytes_ = 1;
  int32 avail_ = 0, scanLimit_ = 1;
  bool rightJustified_ = false, password_ = false, wordWrap_ = false;
  bool fixed_ = false;
  bool inline_ = false;           // one font whose byte widths add
  bool plain_ = false;            // and neither password nor right-justified text
  bool styled_ = false;           // runs of single-byte fonts whose widths add, neither of those
  int32 segStart_ = 0, segEnd_ = 0;  // the piece ByteWidth found last
  FontWidths* segFont_ = nullptr;
  uInt32 cells_[256];             // per byte: what it does to a word << 16 | its width when inline_
  FontWidths* fw_ = nullptr;
  int32 advance_ = 1, overhang_ = 0;
  // A search for one byte: [from, to) searched, at its first hit there (to
  // when none).
  struct ByteSearch {
    int32 from = INT32_MAX, to = 0, at = 0;
  };
  ByteSearch lfSearch_, crSearch_;

  // The first c at or after pos as far as searched, searching up to upTo at
  // least when none was found yet (then upTo or beyond, where the search
  // stopped).  A search from a position not after pos serves again.
  int32 FindFrom(ByteSearch& b, char c, int32 pos, int32 upTo) {
    if (pos < b.from || pos > b.at) b.from = b.to = b.at = pos;
    if (b.at == b.to && b.to < upTo) {
      b.at = Find(c, b.to, upTo);
      b.to = upTo;
    }
    return b.at;
  }
  // The last fitted word's end and the line's width there (PlainWords).
  int32 wordStop_ = -1;
  int64 wordStopWidth_ = 0;

  // The first c in from..to, else to.
  int32 Find(char c, int32 from, int32 to) const {
    const void* at = to > from ? std::memchr(s_.text + from, c, size_t(to - from)) : nullptr;
    return at ? int32(static_cast<const uChar*>(at) - s_.text) : to;
  }
};

int32 StartAt(UHandle h, int32 line) { return int32(GetNative32(*h + kTLHeader + line * kTLEntrySize)); }

int16 HeightAt(UHandle h, int32 line) {
  TLineEntry e;
  std::memcpy(&e, *h + kTLHeader + line * kTLEntrySize, kTLEntrySize);
  return e.height;
}

// The heights of the lines before line, added in 32 bits by blocks of
// lines too few to overflow them.
int64 HeightsBefore(UHandle h, int32 line) {
  const uChar* p = *h + kTLHeader + offsetof(TLineEntry, height);
  int64 sum = 0;
  for (int32 done = 0; done < line;) {
    const int32 stop = std::min(line, done + 32768);
    int32 block = 0;
    for (; done < stop; ++done, p += kTLEntrySize) {
      int16 height;
      std::memcpy(&height, p, sizeof height);
      block += height;
    }
    sum += block;
  }
  return sum;
}

// The first of the lines from..count-1 (starts ascending) whose start is at
// least at.
int32 FirstStartingAt(UHandle h, int32 from, int32 count, int64 at) {
  while (from < count) {
    const int32 mid = from + (count - from) / 2;
    if (StartAt(h, mid) < at) from = mid + 1;
    else count = mid;
  }
  return from;
}

// Whether no line's height depends on the selection: every font of the
// record (its runs' and the insertion style's) has the same ascent and the
// same descent plus leading, so the insertion font's part changes nothing.
bool HeightsIgnoreSelection(const Snapshot& s) {
  for (const FontWidths& f : s.fonts)
    if (f.ascent != s.fonts[0].ascent || f.rest != s.fonts[0].rest) return false;
  return true;
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

// Where a pending change lets the layout keep lines: the first line laid
// out again and the change in old and new offsets.
struct Change {
  int32 first = 0;
  int32 end = 0;     // end of the change in the new text
  int32 oldEnd = 0;  // and in the old one
  int32 delta = 0;
};

// A pending change that leaves lines to keep: relayout begins two lines
// before the first line starting after the change.
bool PendingChange(UHandle h, const Snapshot& s, LineMaker& maker, Change* c) {
  if (!h || !*h || DSGetHandleSize(h) < kTLHeader || !(GetNative32(*h + kTLPending) & 1)) return false;
  const int32 count = int32(GetNative32(*h + kTLCount));
  const int32 start = int32(GetNative32(*h + kTLChangeStart)), end = int32(GetNative32(*h + kTLChangeEnd));
  const int32 delta = int32(GetNative32(*h + kTLDelta));
  const int64 oldEnd = int64(end) - delta, oldLength = int64(s.n) - delta;
  if (start < 0 || count < 1 || int64(DSGetHandleSize(h)) < kTLHeader + int64(count) * kTLEntrySize || end < start ||
      end > s.n || oldEnd < start || oldLength < oldEnd || StartAt(h, 0) != 0 || StartAt(h, count - 1) > oldLength)
    return false;
  int32 lo = 0, hi = count;
  while (lo < hi) {
    const int32 mid = lo + (hi - lo) / 2;
    if (StartAt(h, mid) <= start) lo = mid + 1;
    else hi = mid;
  }
  c->first = std::max(0, lo - 2);
  // A line ending in a word that runs across short lines into the change is
  // laid out again too, unless it ends where it does whatever follows the
  // line after it (a long word broken by characters).
  while (c->first > 0 && maker.ReadsUpTo(StartAt(h, c->first), start) &&
         !(StartAt(h, c->first) < start && maker.EndsAtWhateverFollows(StartAt(h, c->first - 1), StartAt(h, c->first))))
    --c->first;
  c->end = end;
  c->oldEnd = int32(oldEnd);
  c->delta = delta;
  return true;
}

// Writes the table: the lines before first stay, the new ones follow, then
// the old lines from keep on (none when keep is negative), their starts
// moved by delta.
MgErr WriteTable(TRecord r, int32 first, const std::vector<TLineEntry>& made, int32 keep, int32 delta) {
  UHandle h = TRData(r)->lines;
  const int32 oldCount = h && *h ? int32(GetNative32(*h + kTLCount)) : 0;
  const int32 tail = keep < 0 ? 0 : oldCount - keep;
  const int32 count = first + int32(made.size()) + tail;
  const int32 size = kTLHeader + count * kTLEntrySize;
  if (!h) {
    h = DSNewHandle(size);
    if (!h) return kMemFullErr;
    TRData(r)->lines = h;
    std::memset(*h, 0, kTLHeader);
    PutNative16(*h + kTLCaretColumn, kTLNoCaretColumn);
  }
  const int32 to = first + int32(made.size());
  const int32 oldSize = DSGetHandleSize(h);
  if (size > oldSize && DSSetHandleSize(h, size) != kNoErr) return kMemFullErr;
  if (tail > 0) {
    UPtr base = *h + kTLHeader;
    std::memmove(base + to * kTLEntrySize, base + keep * kTLEntrySize, size_t(tail) * kTLEntrySize);
    if (delta)
      for (UPtr p = base + to * kTLEntrySize, stop = base + count * kTLEntrySize; p < stop; p += kTLEntrySize) {
        uInt32 start;
        std::memcpy(&start, p, 4);  // the table is in native order
        start += uInt32(delta);
        std::memcpy(p, &start, 4);
      }
  }
  if (size < oldSize) DSSetHandleSize(h, size);  // shrinking keeps the block
  if (!made.empty()) std::memcpy(*h + kTLHeader + first * kTLEntrySize, made.data(), made.size() * kTLEntrySize);
  PutNative32(*h + kTLCount, uInt32(count));
  PutNative32(*h + kTLPending, 0);
  PutNative32(*h + kTLChangeStart, 0);
  PutNative32(*h + kTLChangeEnd, 0);
  PutNative32(*h + kTLDelta, 0);
  return kNoErr;
}

// Lays the text out; with upTo below the text's length the lines after the
// one holding upTo may be left for a later layout (see leaving below).
void Layout(TRecord r, int32 upTo) {
  Snapshot s = Take(r);
  LineMaker maker(s);
  const uInt32 kind = s.mode & kTRModeKind;
  const int32 n = s.n;
  UHandle h = TRData(r)->lines;
  Change change;
  const bool incremental = maker.Incremental() && PendingChange(h, s, maker, &change);
  const int32 oldCount = incremental ? int32(GetNative32(*h + kTLCount)) : 0;
  const int32 first = incremental ? change.first : 0;

  // New lines until one starts where a moved old one does, each measured
  // as it is made.
  std::vector<TLineEntry> made;
  made.reserve(kScratchGrowth);
  int64 madeHeight = 0;
  const auto add = [&](const LineSpan& sp) {
    if (made.size() == made.capacity()) made.reserve(made.size() + kScratchGrowth);
    made.push_back(MakeEntry(s, sp));
    madeHeight += made.back().height;
  };
  // An edit can move every line after it (a long word broken by
  // characters moves by each byte typed).  The lines after upTo may then be
  // left for later, as lines of a change still pending from where they
  // start, when the layout does not need them: the text wraps (the
  // destination's width is the view's), no line's height depends on the
  // selection, and the lines made reach the view's bottom, so that the
  // destination's height is read only once all is laid out and keeping the
  // destination in range moves it as it would with every line made.
  const bool mayLeave = gMayLeave && incremental && upTo < n && (kind == kTRKindBreakChar || kind == kTRKindWordWrap) &&
                        HeightsIgnoreSelection(s);
  int64 firstTop = 0;
  bool firstTopKnown = false;
  int32 leaveAt = -1;
  int32 keep = -1, k = first + 1;
  LineSpan span{};
  for (bool more = maker.Next(incremental ? StartAt(h, first) : 0, &span); more;
       more = maker.Next(span.next, &span)) {
    if (incremental && span.start > change.end) {
      while (k < oldCount && int64(StartAt(h, k)) + change.delta < span.start) ++k;
      if (k < oldCount && StartAt(h, k) + change.delta == span.start && StartAt(h, k) >= change.oldEnd) {
        keep = k;
        break;
      }
    }
    if (mayLeave && span.start > upTo) {
      if (!firstTopKnown) {
        // The destination's top as kept in range (its bottom reaching the
        // view's bottom: the top moves up to the view's at most).
        firstTop = std::min<int64>(s.dest.top, s.view.top) + HeightsBefore(h, first);
        firstTopKnown = true;
      }
      if (firstTop + madeHeight >= s.view.bottom) {
        // The old lines of unchanged text starting after leaveAt stay.
        leaveAt = span.start;
        keep = FirstStartingAt(h, first, oldCount, std::max<int64>(change.oldEnd, int64(leaveAt) - change.delta + 1));
        break;
      }
    }
    add(span);
    if (span.next >= n) break;
  }
  // A text ending in a break has a last line at its end.
  if (keep < 0 && maker.FinalLine() && (made.empty() || made.back().start != n)) add(LineSpan{n, n, n, 0});
  int64 replacedHeight = 0;
  for (int32 i = first, end = keep < 0 ? oldCount : keep; incremental && i < end; ++i) replacedHeight += HeightAt(h, i);
  if (WriteTable(r, first, made, keep, incremental ? change.delta : 0) != kNoErr) return;
  h = TRData(r)->lines;
  if (leaveAt >= 0) {
    // What is left: the lines from leaveAt up to the kept ones (now moved).
    PutNative32(*h + kTLPending, kTLPendingChange | kTLPendingLater);
    PutNative32(*h + kTLChangeStart, uInt32(leaveAt));
    PutNative32(*h + kTLChangeEnd, uInt32(std::max(leaveAt, change.end)));
  }
  const int32 count = int32(GetNative32(*h + kTLCount));

  const Rect view = s.view;
  LRect dest = s.dest;
  const int32 viewWidth = RectWidth(&view);
  auto pinned = [](int64 v) { return int32(std::clamp<int64>(v, 0, INT32_MAX / 2)); };
  int64 total = 0;
  int32 widest = 0;
  if (kind == kTRKindLines || kind == kTRKindBox) {
    for (int32 i = 0; i < count; ++i) {
      TLineEntry e;
      std::memcpy(&e, *h + kTLHeader + i * kTLEntrySize, kTLEntrySize);
      total += e.height;
      widest = std::max<int32>(widest, e.width);
    }
  }
  switch (kind) {
    case kTRKindBreakChar:
    case kTRKindWordWrap:
      // The height changes by the new lines' heights less the replaced ones'.
      total = incremental ? int64(s.dest.bottom) - s.dest.top + madeHeight - replacedHeight : madeHeight;
      dest.bottom = dest.top + pinned(total);
      break;
    case kTRKindLines:
      dest.right = dest.left + std::max(widest, viewWidth - 1);
      dest.bottom = dest.top + pinned(total);
      break;
    case kTRKindBox: {
      // The box starts as the view less its left column and is aligned
      // inside that: left, right or centred (halves truncated).  The view
      // then follows the box, one column wider on the left, so that laying
      // the box out again from it gives the same box.
      int32 left = view.left + 1;
      if ((s.mode & kTRModeJustify) == kTRJustifyRight) left = view.right - widest;
      else if ((s.mode & kTRModeJustify) == kTRJustifyCentre) left = view.left + 1 + (viewWidth - 1 - widest) / 2;
      dest = LRect{view.top, left, view.top + pinned(total), left + widest};
      TRData(r)->view = Rect{int16(view.top), int16(std::clamp(dest.left - 1, -32768, 32767)),
                             int16(std::clamp(dest.bottom, -32768, 32767)),
                             int16(std::clamp(dest.right, -32768, 32767))};
      break;
    }
    default:
      dest = LRect{view.top, view.left + 1, view.top + HeightAt(h, 0), view.right};
      break;
  }
  KeepInRange(&dest, TRData(r)->view);
  TRData(r)->dest = dest;
}

}  // namespace

int32 TLayoutMeasuredLines() { return gMeasuredLines; }

void TLayoutSetLeaving(bool may) { gMayLeave = may; }

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
  if (h && *h && !(GetNative32(*h + kTLPending) & kTLPendingChange)) return;
  Layout(record, INT32_MAX);
}

void TValidateLinesTo(TRecord record, int32 offset) {
  if (!record || !*record) return;
  UHandle h = TRData(record)->lines;
  if (h && *h) {
    const uInt32 pending = GetNative32(*h + kTLPending);
    if (!(pending & kTLPendingChange)) return;
    if ((pending & kTLPendingLater) && offset < int32(GetNative32(*h + kTLChangeStart))) return;
  }
  Layout(record, offset);
}

void TValidateLinesLeft(TRecord record) {
  if (!record || !*record) return;
  UHandle h = TRData(record)->lines;
  if (h && *h && (GetNative32(*h + kTLPending) & kTLPendingLater)) TValidateLines(record);
}

void TValidateLinesForMove(TRecord record, int32 dv) {
  if (!record || !*record || dv == 0) return;
  UHandle h = TRData(record)->lines;
  if (!h || !*h || !(GetNative32(*h + kTLPending) & kTLPendingLater)) return;
  const int32 count = int32(GetNative32(*h + kTLCount));
  const int32 left = FirstStartingAt(h, 0, count, int64(int32(GetNative32(*h + kTLChangeStart))) + 1);
  const TRecordData* d = TRData(record);
  const int64 top = int64(d->dest.top) + dv;
  if (top > d->view.top || top + HeightsBefore(h, left) < d->view.bottom) TValidateLines(record);
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
  // A new change: the lines left for later are laid out with it.
  PutNative32(*h + kTLPending, (GetNative32(*h + kTLPending) | kTLPendingChange) & ~kTLPendingLater);
}

int32 TMeasureLine(TRecord record, TLineEntry* entry, int32 length) {
  if (!record || !*record || !entry) return 0;
  Snapshot s = Take(record);
  return MeasureLine(s, entry, length);
}

int32 TMeasureRange(TRecord record, int32 start, int32 length) {
  if (!record || !*record) return 0;
  Snapshot s = Take(record);
  return RangeWidth(s, start, length);
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
  TValidateLinesTo(record, offset);
  Snapshot s = Take(record);
  const int32 n = s.n, count = TLineCount(record);
  if (count <= 0) return pt;
  offset = std::clamp(offset, 0, n);
  // The last line whose start is at most the offset (starts ascend), and
  // its top.
  UHandle lines = TRData(record)->lines;
  const int32 line = std::max(0, FirstStartingAt(lines, 1, count, int64(offset) + 1) - 1);
  int64 top = s.dest.top + HeightsBefore(lines, line);
  TLineEntry e = TLineAt(record, line);
  int64 h;
  if (!atLineStart && offset > 0 && line > 0 && offset == e.start &&
      (!IsBreak(s.text[offset - 1]) || (s.mode & kTRModeHex))) {
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
  Snapshot s = Take(record);
  const int32 n = s.n, count = TLineCount(record);
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
    after = std::min(end, CharEnd(s.text, n, after, !s.fonts[size_t(s.insertion)].bytewise));
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
  Snapshot s = Take(record);
  const int32 n = s.n;
  start = std::clamp(start, 0, n);
  const int32 end = int32(std::clamp<int64>(int64(start) + std::max(length, 0), start, n));
  std::vector<int32> at{start};
  for (int32 i = start; i < end;) {
    i = (s.mode & kTRModeHex) ? i + 1 : std::min(end, CharEndAt(s, i));
    at.push_back(i);
  }
  if (positions) {
    UHandle h = DSNewHandle(int32(at.size() * sizeof(int32)));
    if (h) std::memcpy(*h, at.data(), at.size() * sizeof(int32));
    *positions = h;
  }
  return int32(at.size()) - 1;
}
