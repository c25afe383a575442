// Arrays as spreadsheet text and back.
#include "rtlib/sheettable.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/support.h"
#include "rtlib/arraysize.h"
#include "rtlib/rtstrings.h"
#include "rtlib/strformat.h"
#include "rtlib/strscan.h"

namespace {

const uChar kStringFormat[] = {'%', 's'};
const uChar kOtherFormat[] = {'%', 'g'};
const uChar kTab[] = {'\t'};
const uChar kCRLF[] = {'\r', '\n'};
// A header index written as "%d": at most 11 characters.
constexpr int32 kIndexText = 11;

// The array or array-view descriptor: its rank and element descriptor.
bool ReadArrayTD(const TypeDescriptor* td, bool viewToo, int32* rank, const TypeDescriptor** elem) {
  if (!td) return false;
  if (td->code != kTDArray && !(viewToo && td->code == kTDArrayView)) return false;
  int16 n;
  std::memcpy(&n, reinterpret_cast<const uChar*>(td) + 4, 2);
  if (n < 1) return false;
  *rank = n;
  *elem = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4 * int32(n));
  return true;
}

struct Bytes {
  const uChar* p;
  int32 n;
};

Bytes DefaultFormat(const TypeDescriptor* elem, int32 length, const uChar* format) {
  if (format && length > 0) return {format, length};
  return elem->code == kTDString ? Bytes{kStringFormat, 2} : Bytes{kOtherFormat, 2};
}

Bytes Delimiter(int32 length, const uChar* delimiter) {
  if (delimiter && length > 0) return {delimiter, length};
  return {kTab, 1};
}

// The system's line end.
Bytes LineEnd() {
  LStrHandle h = SupportConsts().crlf;
  if (h && *h && (*h)->cnt > 0) return {(*h)->str, (*h)->cnt};
  return {kCRLF, 2};
}

// ---- Writing ------------------------------------------------------------------

// What one pass over the array produces, measured or written.
struct TableJob {
  const ArrayViewData* array;
  int32 rank;
  const TypeDescriptor* elem;
  Bytes format, delimiter, eol;
};

// Counts the bytes a pass would write.
struct MeasureSink {
  int64_t total = 0;
  void Put(Bytes b) { total += b.n; }
  void Index(int32) { total += kIndexText; }
  bool Elem(const TableJob& j, const uChar* p) {
    total += FormatMeasure(j.elem, p, j.format.p, j.format.n, 0);
    return true;
  }
  // Past the 32-bit range the text is refused: no need to count further.
  bool Stopped() const { return total > INT32_MAX; }
};

// Writes, never past the room it was given: more text than room is a
// broken invariant and ends the pass.
struct WriteSink {
  uChar* w;
  uChar* end;
  bool overflow = false;
  bool failed = false;
  void Put(Bytes b) {
    if (overflow) return;
    if (b.n > end - w) {
      overflow = true;
      return;
    }
    std::memcpy(w, b.p, size_t(b.n));
    w += b.n;
  }
  void Index(int32 v) {
    char text[16];
    int32 n = NumToDecStr(v, text);
    Put({reinterpret_cast<const uChar*>(text), n});
  }
  bool Elem(const TableJob& j, const uChar* p) {
    if (overflow) return false;
    uChar* e = FormatWrite(j.elem, p, j.format.p, j.format.n, w, int32(end - w), 0);
    if (!e) {
      failed = true;
      return false;
    }
    w = e;
    return true;
  }
  bool Stopped() const { return overflow || failed; }
};

// The rows of one page (or of a 1-D or 2-D array) at base.
template <class Sink>
void PutRows(const TableJob& j, const uChar* base, Sink& s) {
  const ArrayViewDim* d = j.array->dims;
  int32 rows = 1, rowStride = 0;
  const ArrayViewDim& cols = d[j.rank - 1];
  if (j.rank >= 2) {
    rows = d[j.rank - 2].size;
    rowStride = d[j.rank - 2].stride;
  }
  for (int32 r = 0; r < rows && !s.Stopped(); ++r) {
    const uChar* row = base + ptrdiff_t(r) * rowStride;
    for (int32 c = 0; c < cols.size && !s.Stopped(); ++c) {
      if (c > 0) s.Put(j.delimiter);
      if (!s.Elem(j, row + ptrdiff_t(c) * cols.stride)) return;
    }
    s.Put(j.eol);
  }
}

template <class Sink>
void PutTable(const TableJob& j, Sink& s) {
  const uChar* base = j.array->ptr;
  if (j.rank <= 2) {
    PutRows(j, base, s);
    return;
  }
  int32 pageDims = j.rank - 2;
  const ArrayViewDim* d = j.array->dims;
  for (int32 k = 0; k < pageDims; ++k)
    if (d[k].size <= 0) return;
  dm::RankBuffer buf(pageDims);
  if (!buf.ok()) return;
  int32* index = buf.get();
  std::memset(index, 0, sizeof(int32) * size_t(pageDims));
  static const uChar kOpen[] = {'['}, kSep[] = {',', ' '}, kClose[] = {']'};
  while (!s.Stopped()) {
    const uChar* page = base;
    s.Put({kOpen, 1});
    for (int32 k = 0; k < j.rank; ++k) {
      if (k > 0) s.Put({kSep, 2});
      s.Index(k < pageDims ? index[k] : 0);
      if (k < pageDims) page += ptrdiff_t(index[k]) * d[k].stride;
    }
    s.Put({kClose, 1});
    s.Put(j.eol);
    PutRows(j, page, s);
    s.Put(j.eol);
    // The next page: the last page index turns fastest.
    int32 k = pageDims - 1;
    while (k >= 0 && ++index[k] >= d[k].size) index[k--] = 0;
    if (k < 0) break;
  }
}

bool ElementIsHandle(const TableJob& j, LStrHandle h) {
  if (j.elem->code != kTDString && j.elem->code != kTDString37) return false;
  // Every element is visited; the pages are walked by their indices.
  const ArrayViewDim* d = j.array->dims;
  int32 count = NSubArrayElts(j.rank, d);
  for (int32 e = 0; e < count; ++e) {
    const uChar* p = j.array->ptr;
    int32 rest = e;
    for (int32 k = j.rank - 1; k >= 0; --k) {
      p += ptrdiff_t(rest % d[k].size) * d[k].stride;
      rest /= d[k].size;
    }
    LStrHandle v;
    std::memcpy(&v, p, sizeof v);
    if (v == h) return true;
  }
  return false;
}

MgErr WriteTable(const TableJob& j, int32 bound, LStrHandle* out) {
  uChar* start;
  if (MgErr err = RTSizeString(out, bound, &start)) return err;
  WriteSink s{start, start + bound};
  PutTable(j, s);
  if (s.failed) {
    RTSetString(out, nullptr, 0);
    return kMemFullErr;
  }
  if (s.overflow) DBAssert(__FILE__, __LINE__, "table text longer than its measure");
  int32 length = int32(s.w - start);
  if (length < bound) return RTSizeString(out, length, nullptr);
  return kNoErr;
}

}  // namespace

MgErr ArrayToTable(const ArrayViewData* array, const TypeDescriptor* elementType, int32 formatLength,
                   const uChar* format, LStrHandle* out, int32 delimiterLength, const uChar* delimiter) {
  TableJob j;
  if (!array || !out || !ReadArrayTD(elementType, true, &j.rank, &j.elem)) return kArgErr;
  if (*out && DSCheckHandle(*out) != kNoErr) return kZoneErr;
  int32 count = NSubArrayElts(j.rank, array->dims);
  if (count < 0) return kMemFullErr;
  j.array = array;
  j.format = DefaultFormat(j.elem, formatLength, format);
  j.delimiter = Delimiter(delimiterLength, delimiter);
  j.eol = LineEnd();
  // Every row is a line of at least the line end, even when it has no
  // elements: so many rows that their line ends alone pass 2^31 bytes are
  // refused before they are walked.
  int64_t lines = 1;
  for (int32 k = 0; k + 1 < j.rank && lines <= INT32_MAX; ++k) lines *= array->dims[k].size;
  if (lines * j.eol.n > INT32_MAX - 4) return kMemFullErr;
  MeasureSink m;
  PutTable(j, m);
  if (m.total > INT32_MAX - 4) return kMemFullErr;
  int32 bound = int32(m.total);
  // Text read out of the output's own block is written elsewhere first.
  LStrHandle cur = *out;
  bool apart = cur && (RTBytesInHandle(cur, j.format.p, j.format.n) ||
                       RTBytesInHandle(cur, j.delimiter.p, j.delimiter.n) ||
                       (count > 0 && RTBytesInHandle(cur, array->ptr, 1)) || ElementIsHandle(j, cur));
  if (!apart) return WriteTable(j, bound, out);
  LStrHandle temp = nullptr;
  MgErr err = WriteTable(j, bound, &temp);
  if (!err) err = RTSetString(out, (*temp)->str, (*temp)->cnt);
  if (temp) DSDisposeHandle(reinterpret_cast<UHandle>(temp));
  return err;
}

// ---- Reading ------------------------------------------------------------------

namespace {

// The text as lines and fields.
class TableText {
 public:
  TableText(const uChar* t, int32 n, Bytes delim, bool delimOn) : t_(t), n_(n), d_(delim), on_(delimOn) {}

  // Walks the line at *at, calling field(start, stop) for each of its fields
  // (a non-empty line has one plus one per delimiter, an empty line none),
  // and moves *at past its line end.  Its bytes are [*start, *end).  False at
  // the end of the text.
  template <class Field>
  bool WalkLine(int32* at, int32* start, int32* end, Field field) const {
    int32 j = *at;
    if (j >= n_) return false;
    int32 from = j;
    *start = j;
    const uChar first = d_.p[0];
    while (j < n_) {
      uChar c = t_[j];
      if (on_ && c == first && Match(j)) {
        field(from, j);
        j += d_.n;
        from = j;
        continue;
      }
      if (c == '\r' || c == '\n') break;
      ++j;
    }
    *end = j;
    if (j > *start) field(from, j);
    if (j < n_) j += (t_[j] == '\r' && j + 1 < n_ && t_[j + 1] == '\n') ? 2 : 1;
    *at = j;
    return true;
  }
  bool SkipLine(int32* at, int32* start, int32* end) const {
    return WalkLine(at, start, end, [](int32, int32) {});
  }
  const uChar* At(int32 at) const { return t_ + at; }

 private:
  bool Match(int32 j) const {
    return d_.n == 1 || (j + d_.n <= n_ && !std::memcmp(t_ + j, d_.p, size_t(d_.n)));
  }
  const uChar* t_;
  int32 n_;
  Bytes d_;
  bool on_;
};

// The indices of a page header: the numbers in it in order, up to count
// (missing ones 0); an index beyond 32 bits saturates.  False when one is
// negative.
bool ReadHeader(const uChar* p, int32 n, int32* index, int32 count) {
  bool ok = true;
  int32 at = 0;
  for (int32 k = 0; k < count; ++k) {
    index[k] = 0;
    while (at < n && !(p[at] >= '0' && p[at] <= '9') && p[at] != '-') ++at;
    if (at >= n) continue;
    bool neg = p[at] == '-';
    if (neg) ++at;
    int64_t v = 0;
    bool digits = false;
    while (at < n && p[at] >= '0' && p[at] <= '9') {
      digits = true;
      v = v * 10 + (p[at++] - '0');
      if (v > INT32_MAX) v = INT32_MAX;
    }
    if (neg && digits && v > 0) ok = false;
    index[k] = int32(v);
  }
  return ok;
}

struct ReadJob {
  const TableText* text;
  int32 rank;
  const TypeDescriptor* elem;
  Bytes format;
  int32 elemSize;
};

// Scans the fields of the line at *at into the elements of a row; false at
// the end of the text.  A line with no bytes at all ends a page.
bool FillLine(const ReadJob& j, int32* at, uChar* row, bool* empty) {
  int32 ls = 0, le = 0, c = 0;
  bool more = j.text->WalkLine(at, &ls, &le, [&](int32 fs, int32 fe) {
    if (row)
      ScanFormatted(j.elem, j.format.p, j.format.n, j.text->At(fs), fe - fs, nullptr,
                    row + ptrdiff_t(c) * j.elemSize, 0);
    ++c;
  });
  *empty = ls == le;
  return more;
}

bool HoldsLineEnd(Bytes b) {
  for (int32 k = 0; k < b.n; ++k)
    if (b.p[k] == '\r' || b.p[k] == '\n') return true;
  return false;
}

}  // namespace

MgErr TableToArray(int32 textLength, const uChar* text, int32 formatLength, const uChar* format,
                   const TypeDescriptor* arrayType, UHandle* out, int32 delimiterLength, const uChar* delimiter) {
  ReadJob j;
  if (!out || !ReadArrayTD(arrayType, false, &j.rank, &j.elem)) return kArgErr;
  if (*out && DSCheckHandle(*out) != kNoErr) return kArgErr;
  if (!text || textLength < 0) textLength = 0;
  j.format = DefaultFormat(j.elem, formatLength, format);
  j.elemSize = DataSize(j.elem);
  Bytes delim = Delimiter(delimiterLength, delimiter);
  TableText t(text, textLength, delim, j.rank == 1 || !HoldsLineEnd(delim));
  j.text = &t;
  int32 pageDims = j.rank > 2 ? j.rank - 2 : 0;
  dm::RankBuffer buf(j.rank + j.rank);
  if (!buf.ok()) return kMemFullErr;
  int32* sizes = buf.get();
  int32* index = sizes + j.rank;

  // Counting: columns, rows (of a page), and the page dimensions from the
  // headers.  Header lines hold no fields.
  int32 columns = 0, rows = 0, pageRows = -1;
  for (int32 k = 0; k < pageDims; ++k) sizes[k] = 1;
  int32 at = 0, ls = 0, le = 0;
  bool header = pageDims > 0, refused = false;
  for (;;) {
    if (header) {
      if (!t.SkipLine(&at, &ls, &le)) break;
      header = false;
      if (ReadHeader(t.At(ls), le - ls, index, j.rank)) {
        for (int32 k = 0; k < pageDims; ++k) {
          if (index[k] == INT32_MAX) refused = true;
          else if (index[k] + 1 > sizes[k]) sizes[k] = index[k] + 1;
        }
      }
      continue;
    }
    int32 f = 0;
    if (!t.WalkLine(&at, &ls, &le, [&f](int32, int32) { ++f; })) break;
    if (pageDims > 0 && ls == le) {
      if (pageRows < 0) pageRows = rows;
      header = true;
      continue;
    }
    ++rows;
    if (f > columns) columns = f;
  }
  if (refused) return kMemFullErr;
  if (pageDims > 0 && pageRows < 0) pageRows = rows;
  if (j.rank == 1) {
    sizes[0] = columns;
  } else {
    sizes[j.rank - 1] = columns;
    sizes[j.rank - 2] = pageDims > 0 ? pageRows : rows;
    // A page without rows holds nothing: the empty array.
    if (pageDims > 0 && pageRows == 0)
      for (int32 k = 0; k < j.rank; ++k) sizes[k] = 0;
  }
  int32 count = NArrayElts(j.rank, sizes);
  if (count < 0 || (j.elemSize > 0 && count > (kMaxArrayBytes - 1) / j.elemSize)) return kMemFullErr;
  UHandle fresh = nullptr;
  int32* sizesList = sizes;
  if (MgErr err = ArrayResize(j.elem, j.rank, &fresh, &sizesList)) return err;
  uChar* base = reinterpret_cast<uChar*>(*fresh) + AlignDatum(j.elem, 4 * j.rank);
  int32 rowBytes = columns * j.elemSize;

  // Filling.
  at = 0;
  bool empty;
  if (j.rank == 1) {
    FillLine(j, &at, base, &empty);
  } else if (pageDims == 0) {
    for (int32 r = 0; r < rows && FillLine(j, &at, base + ptrdiff_t(r) * rowBytes, &empty); ++r) {
    }
  } else if (count > 0) {
    header = true;
    bool placed = false;
    uChar* page = base;
    int32 r = 0;
    for (;;) {
      if (header) {
        if (!t.SkipLine(&at, &ls, &le)) break;
        header = false;
        placed = ReadHeader(t.At(ls), le - ls, index, j.rank);
        int64_t linear = 0;
        for (int32 k = 0; k < pageDims && placed; ++k) {
          if (index[k] >= sizes[k]) placed = false;
          linear = linear * sizes[k] + index[k];
        }
        page = base + ptrdiff_t(linear) * pageRows * rowBytes;
        r = 0;
        continue;
      }
      uChar* row = placed && r < pageRows ? page + ptrdiff_t(r) * rowBytes : nullptr;
      if (!FillLine(j, &at, row, &empty)) break;
      if (empty) header = true;
      else ++r;
    }
  }
  if (*out) DisposeData(reinterpret_cast<const TypeDescriptor*>(arrayType), out, out + 1);
  *out = fresh;
  return kNoErr;
}
