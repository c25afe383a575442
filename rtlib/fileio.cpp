// Reading, writing, positioning, sizing and locking of byte-stream files
// through refnums.  Calls on datalog refnums go to the datalog functions.
#include <cstring>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/flatten.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "rtlib/filerefnum.h"

namespace {

// Lines are read in pieces of at most this many bytes.
constexpr int32 kLinePiece = 1024;
// Reads of this many bytes or more measure the rest of the file first.
constexpr int32 kLargeRead = 0x100000;
constexpr uChar kCR = 13, kLF = 10;

bool ModeOk(int32 mode) { return mode >= kFPFromStart && mode <= kFPFromCurrent; }
// The file manager's origin of a position mode.
int32 FMMode(int32 mode) { return mode + 1; }

const TypeDescriptor* TDAt(UHandle h, int32 offset) {
  if (!h || !*h || offset < 0) return nullptr;
  return reinterpret_cast<const TypeDescriptor*>(*h + offset);
}

// The record type when the refnum's type sends the call to the datalog side.
const TypeDescriptor* DatalogSide(UHandle refnumType, int32 offset) {
  const TypeDescriptor* rec = DatalogRecordType(TDAt(refnumType, offset));
  return rec && Datalog().validRecordType(rec) ? rec : nullptr;
}

bool IsStringTD(const TypeDescriptor* td) {
  return td && (td->code == kTDString || td->code == kTDString37);
}

int32 Tell(FileRef f) {
  int32 pos = 0;
  return FMTell(f, &pos) == kNoErr ? pos : 0;
}

// Bytes from the position to the end of the file (0 when unknown).
int32 Rest(FileRef f) {
  int32 pos = 0, size = 0;
  if (FMTell(f, &pos) || FGetEOF(f, &size)) return 0;
  return size > pos ? size - pos : 0;
}

// Gives a data-zone string room for n bytes, its count n.
MgErr SizeString(LStrHandle* s, int32 n) {
  const int32 bytes = int32(sizeof(int32)) + n;
  if (!*s) {
    *s = reinterpret_cast<LStrHandle>(DSNewHandle(bytes));
    if (!*s) return kMemFullErr;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(*s), bytes)) {
    return err;
  }
  (**s)->cnt = n;
  return kNoErr;
}

void EmptyString(LStrHandle* s) {
  if (*s && **s) SizeString(s, 0);
}

// Reads up to n bytes at the string's end; the count becomes what was read.
MgErr AppendRead(FileRef f, LStrHandle* s, int32 n, int32* got) {
  *got = 0;
  const int32 have = *s && **s ? (**s)->cnt : 0;
  if (have > INT32_MAX - int32(sizeof(int32)) - n) return kMemFullErr;
  if (MgErr err = SizeString(s, have + n)) return err;
  int32 actual = 0;
  MgErr err = n ? FMRead(f, n, &actual, (**s)->str + have) : kNoErr;
  if (actual < 0 || actual > n) actual = 0;
  *got = actual;
  if (actual < n) SizeString(s, have + actual);
  return err;
}

// Count bytes into a string; above 1 MB the rest of the file is measured
// first so that a count far past the end allocates nothing.
MgErr ReadBytes(FileRef f, int32 count, LStrHandle* out) {
  bool cut = false;
  if (count >= kLargeRead) {
    const int32 rest = Rest(f);
    if (rest < count) {
      count = rest;
      cut = true;
    }
  }
  // The string is sized once for the whole read and cut to what came.
  if (MgErr err = SizeString(out, count)) return err;
  int32 actual = 0;
  MgErr err = count ? FMRead(f, count, &actual, (**out)->str) : kNoErr;
  if (actual < 0 || actual > count) actual = 0;
  if (actual < count) SizeString(out, actual);
  if (!err && cut) err = kEOFErr;
  return err;
}

// One line: pieces of at most 1024 bytes until a CR or LF; the line keeps
// its end (CR, LF or CR LF) and the position is set just after it.  limit
// bounds the bytes read in all (0: none).
MgErr ReadLine(FileRef f, int32 limit, LStrHandle* out) {
  if (MgErr err = SizeString(out, 0)) return err;
  int32 start = 0;
  if (MgErr err = FMTell(f, &start)) return err;
  int32 total = 0;
  for (;;) {
    int32 want = kLinePiece;
    if (limit > 0 && limit - total < want) want = limit - total;
    if (want <= 0) return kNoErr;  // the limit is reached without a line end
    int32 got = 0;
    MgErr err = AppendRead(f, out, want, &got);
    if (err && err != kEOFErr) return err;
    const uChar* p = (**out)->str;
    for (int32 i = total; i < total + got; ++i) {
      if (p[i] != kCR && p[i] != kLF) continue;
      int32 len = i + 1;
      if (p[i] == kCR) {
        if (i + 1 < total + got) {
          if (p[i + 1] == kLF) ++len;
        } else if (limit <= 0 || total + got < limit) {
          // The piece ends with CR: one more byte tells whether LF follows.
          int32 extra = 0;
          MgErr e2 = AppendRead(f, out, 1, &extra);
          if (e2 && e2 != kEOFErr) return e2;
          if (extra == 1 && (**out)->str[i + 1] == kLF) ++len;
        }
      }
      if (MgErr e3 = SizeString(out, len)) return e3;
      return FMSeek(f, start + len, kFStart);
    }
    total += got;
    if (err == kEOFErr || got < want) return kEOFErr;
  }
}

// The address of element i of a one-dimensional array handle.
uChar* ElementAt(UHandle a, const TypeDescriptor* elt, int32 i) {
  return *a + AlignDatum(elt, int32(sizeof(int32))) + i * DataSize(elt);
}

void SetCount(UHandle a, int32 n) {
  if (a && *a) std::memcpy(*a, &n, sizeof n);
}

MgErr SizeArray(const TypeDescriptor* elt, UHandle* a, int32 n) {
  if (MgErr err = ArrayResizeElts(elt, 1, a, n)) return err;
  SetCount(*a, n);
  return kNoErr;
}

void EmptyArray(const TypeDescriptor* elt, UHandle* a) {
  if (*a) SizeArray(elt, a, 0);
}

// An array of elements of a fixed flat size, read in one piece.
MgErr ReadFixedArray(FileRef f, const TypeDescriptor* elt, int32 esize, int32 count, UHandle* out, int32 options) {
  bool cut = false;
  const int64 total = int64(count) * esize;
  const int32 rest = Rest(f);
  if (total > INT32_MAX || (total > kLargeRead && total > rest)) {
    count = rest / esize;
    cut = true;
  }
  const int32 bytes = count * esize;
  UHandle buf = AZNewHandle(bytes ? bytes : 1);
  if (!buf) return kMemFullErr;
  int32 actual = 0;
  MgErr err = bytes ? FMRead(f, bytes, &actual, *buf) : kNoErr;
  if (err && err != kEOFErr) {
    AZDisposeHandle(buf);
    return err;
  }
  if (actual < 0 || actual > bytes) actual = 0;
  const int32 n = actual / esize;
  if (n < count) cut = true;
  if (MgErr e2 = SizeArray(elt, out, n)) {
    AZDisposeHandle(buf);
    return e2;
  }
  if (FlatEltSizeClass(elt, options & kFlatOldBooleans) == 1 && DataSize(elt) == 1) {
    std::memcpy(ElementAt(*out, elt, 0), *buf, size_t(n));
  } else {
    for (int32 i = 0; i < n; ++i) {
      if (UnFlattenData(buf, i * esize, elt, ElementAt(*out, elt, i), esize, options) > esize) {
        AZDisposeHandle(buf);
        return kFileIOErr;
      }
    }
  }
  AZDisposeHandle(buf);
  return cut ? kEOFErr : kNoErr;
}

// An array of elements of other types, unflattened one by one into room
// that starts at min(count, 1024) elements and doubles.
MgErr ReadStreamArray(FileRef f, const TypeDescriptor* elt, int32 count, UHandle* out, int32 options) {
  int32 room = count < kLinePiece ? count : kLinePiece;
  if (MgErr err = SizeArray(elt, out, room)) return err;
  for (int32 i = 0; i < count; ++i) {
    if (i == room) {
      room = room > count / 2 ? count : room * 2;
      if (MgErr err = SizeArray(elt, out, room)) return err;
    }
    MgErr err = UnFlattenFromStream(elt, ElementAt(*out, elt, i), &FPStreamRead, f, options);
    if (err) {
      SizeArray(elt, out, i);
      return err;
    }
  }
  return SizeArray(elt, out, count);
}

MgErr ReadArray(FileRef f, const TypeDescriptor* elt, int32 count, UHandle* out, int32 options) {
  // Arrays hold no arrays.
  if (SkipTypedefs(elt)->code == kTDArray) return kArgErr;
  if (DataIsFixedSize(elt)) {
    const int32 esize = FlatSize(elt, nullptr);
    if (esize > 0) return ReadFixedArray(f, elt, esize, count, out, options);
  }
  return ReadStreamArray(f, elt, count, out, options);
}

// Empties what a failed read left in the output.
void EmptyOutput(const TypeDescriptor* elt, bool hasCount, void* data) {
  if (!data) return;
  if (!elt) {
    EmptyString(static_cast<LStrHandle*>(data));
  } else if (hasCount) {
    EmptyArray(elt, static_cast<UHandle*>(data));
  }
  // A single value is emptied by the unflattener itself.
}

}  // namespace

// ---- Stream procedures of the unflattener -------------------------------------------------

MgErr FPStreamRead(void* buffer, int32 count, void* context) {
  FileRef f = static_cast<FileRef>(context);
  if (count < 0) return kArgErr;
  if (!buffer) return count ? FMSeek(f, count, kFCurrent) : kNoErr;
  int32 actual = 0;
  return count ? FMRead(f, count, &actual, static_cast<UPtr>(buffer)) : kNoErr;
}

MgErr FPCheckAvail(void* context, int32 count) {
  FileRef f = static_cast<FileRef>(context);
  if (count <= Rest(f)) return kNoErr;
  FMSeek(f, 0, kFEnd);
  return kEOFErr;
}

// ---- Read and write ------------------------------------------------------------------------

MgErr FPRead(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
             const int32* count, UHandle eltType, int32 eltTypeOffset, void* data, Bool32 lineMode,
             Bool32 convertEOL, int32 options, int32* positionOut) {
  FileRef f = nullptr;
  if ((count && *count < 0) || !ModeOk(mode) || !data || FRefNumToFD(refnum, &f) != kNoErr) return kArgErr;
  if (const TypeDescriptor* rec = DatalogSide(refnumType, refnumTypeOffset))
    return Datalog().read(refnum, rec, mode, offset, count, data, options, positionOut);
  const TypeDescriptor* elt = TDAt(eltType, eltTypeOffset);
  MgErr err = FMSeek(f, offset, FMMode(mode));
  if (err == kNoErr || err == kEOFErr) {
    MgErr readErr;
    if (!elt) {
      LStrHandle* s = static_cast<LStrHandle*>(data);
      readErr = lineMode ? ReadLine(f, count ? *count : 0, s) : ReadBytes(f, count ? *count : 0, s);
      if ((readErr == kNoErr || readErr == kEOFErr) && convertEOL && *s) {
        if (MgErr cerr = StrHConvertFromNative(*s, 0, 0)) readErr = cerr;
      }
    } else if (count) {
      readErr = ReadArray(f, elt, *count, static_cast<UHandle*>(data), options);
    } else {
      readErr = UnFlattenFromStream(elt, data, &FPStreamRead, f, options);
    }
    // The seek's end of file stands unless the read failed otherwise.
    if (readErr) err = readErr;
  }
  if (err && err != kEOFErr) EmptyOutput(elt, count != nullptr, data);
  if (positionOut) *positionOut = Tell(f);
  return err;
}

MgErr FPReadConvert(const FPReadParams* p) {
  if (!p) return kArgErr;
  return FPRead(p->refnum, p->refnumType, p->refnumTypeOffset, p->mode, p->offset, p->count, p->eltType,
                p->eltTypeOffset, p->data, p->lineMode, p->convertEOL, p->options, p->positionOut);
}

MgErr FPWrite(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
              UHandle dataType, int32 dataTypeOffset, const void* data, int32 flags, int32* positionOut) {
  FileRef f = nullptr;
  const TypeDescriptor* td = TDAt(dataType, dataTypeOffset);
  if (!ModeOk(mode) || !td || !data || FRefNumToFD(refnum, &f) != kNoErr) return kArgErr;
  if (const TypeDescriptor* rec = DatalogSide(refnumType, refnumTypeOffset))
    return Datalog().write(refnum, rec, td, data, flags, positionOut);
  MgErr err = FMSeek(f, offset, FMMode(mode));
  if (!err) {
    const TypeDescriptor* t = SkipTypedefs(td);
    const bool isString = IsStringTD(t);
    const LStrHandle* sp = static_cast<const LStrHandle*>(data);
    LStrHandle converted = nullptr;
    if (isString && (flags & kFPWriteConvertEOL) && *sp && **sp) {
      err = CopyString(*sp, &converted);
      if (!err) err = StrHConvertToNative(converted, 0, 0);
    }
    const LStrHandle str = converted ? converted : isString ? *sp : nullptr;
    if (err) {
      // nothing written
    } else if (isString && !(flags & kFPWriteSizes)) {
      const int32 n = str && *str ? LStrLen(*str) : 0;
      int32 done = 0;
      if (n) err = FMWrite(f, n, &done, (*str)->str);
    } else {
      const void* value = isString ? static_cast<const void*>(&str) : data;
      UHandle flat = FlattenToNewHandle(nullptr, td, value, flags & kFPWriteOldBooleans);
      if (!flat) {
        err = kMemFullErr;
      } else {
        int32 skip = 0;
        if (!(flags & kFPWriteSizes) && t->code == kTDArray) {
          int16 rank = 0;
          std::memcpy(&rank, reinterpret_cast<const uChar*>(t) + 4, sizeof rank);
          skip = 4 * rank;
        }
        const int32 n = AZGetHandleSize(flat) - skip;
        int32 done = 0;
        if (n > 0) err = FMWrite(f, n, &done, *flat + skip);
        AZDisposeHandle(flat);
      }
    }
    if (converted) DSDisposeHandle(reinterpret_cast<UHandle>(converted));
  }
  if (positionOut) *positionOut = Tell(f);
  return err;
}

// ---- Size, position, locking ----------------------------------------------------------------

MgErr FPSeek(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
             int32* positionOut) {
  FileRef f = nullptr;
  if (!ModeOk(mode) || FRefNumToFD(refnum, &f) != kNoErr) return kArgErr;
  if (const TypeDescriptor* rec = DatalogSide(refnumType, refnumTypeOffset))
    return Datalog().seek(refnum, rec, mode, offset, positionOut);
  MgErr err = mode == kFPFromCurrent && offset == 0 ? kNoErr : FMSeek(f, offset, FMMode(mode));
  if (positionOut) *positionOut = Tell(f);
  return err;
}

MgErr FPEOF(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
            int32* sizeOut) {
  FileRef f = nullptr;
  if (!ModeOk(mode) || FRefNumToFD(refnum, &f) != kNoErr) {
    if (sizeOut) *sizeOut = 0;
    return kArgErr;
  }
  if (const TypeDescriptor* rec = DatalogSide(refnumType, refnumTypeOffset))
    return Datalog().count(refnum, rec, sizeOut);
  int32 size = 0;
  MgErr err = FGetEOF(f, &size);
  if (!err && !(mode == kFPFromEnd && offset == 0)) {
    int32 base = 0;
    if (mode == kFPFromEnd) base = size;
    else if (mode == kFPFromCurrent) err = FMTell(f, &base);
    const int64 target = int64(base) + offset;
    if (!err && (target < 0 || target > INT32_MAX)) err = kArgErr;
    if (!err) err = FSetEOF(f, int32(target));
    if (!err) size = int32(target);
  }
  if (sizeOut) *sizeOut = err ? 0 : size;
  return err;
}

MgErr FPLockRange(FileRefnum refnum, int32 mode, int32 position, int32 count, Bool32 lock) {
  FileRef f = nullptr;
  if (count < 0 || !ModeOk(mode) || FRefNumToFD(refnum, &f) != kNoErr) return kArgErr;
  return FLockOrUnlockRange(f, FMMode(mode), position, count, lock);
}
