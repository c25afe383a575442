// Reading, writing, positioning, sizing and locking of byte-stream files
// through refnums.  Calls on datalog refnums go to the datalog functions.
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/flatten.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "rtlib/filerefnum.h"
#include "rtlib/fileio_internal.h"

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

void SetCount(UHandle a, int32 n) {
  if (a && *a) std::memcpy(*a, &n, sizeof n);
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

// An array of elements of other types, unflattened one by one into room
// that starts at min(count, 1024) elements and doubles.
MgErr ReadStreamArray(FileRef f, const TypeDescriptor* elt, int32 count, UHandle* out, int32 options) {
  int32 room = count < kLinePiece ? count : kLinePiece;
  if (MgErr err = FileArrayResize(elt, out, room)) return err;
  for (int32 i = 0; i < count; ++i) {
    if (i == room) {
      room = room > count / 2 ? count : room * 2;
      if (MgErr err = FileArrayResize(elt, out, room)) return err;
    }
    MgErr err = UnFlattenFromStream(elt, FileArrayElement(*out, elt, i), &FPStreamRead, f, options);
    if (err) {
      FileArrayResize(elt, out, i);
      return err;
    }
  }
  return FileArrayResize(elt, out, count);
}

MgErr ReadArray(FileRef f, const TypeDescriptor* elt, int32 count, UHandle* out, int32 options) {
  // Arrays hold no arrays.
  if (SkipTypedefs(elt)->code == kTDArray) return kArgErr;
  if (DataIsFixedSize(elt)) {
    const int32 esize = FlatSize(elt, nullptr);
    if (esize > 0) return FileReadFixedArray(f, elt, esize, count, out, options);
  }
  return ReadStreamArray(f, elt, count, out, options);
}

void EmptyArray(const TypeDescriptor* elt, UHandle* a) {
  if (*a) FileArrayResize(elt, a, 0);
}

// A numeric field of a record whose flat form is its numbers, big-endian,
// one after another: its place in memory and in the flat bytes.
struct SwapField {
  int32 mem, flat, width;
};
constexpr size_t kMaxSwapFields = 64;

// The fields of such a record type (numbers and clusters of them); false
// for any other type.
bool SwapPlan(const TypeDescriptor* td, int32 mem, int32* flat, std::vector<SwapField>* plan) {
  int32 width = 0, parts = 1;
  switch (td->code) {
    case kTDI8: case kTDU8: width = 1; break;
    case kTDI16: case kTDU16: width = 2; break;
    case kTDI32: case kTDU32: case kTDSGL: width = 4; break;
    case kTDI64: case kTDU64: case kTDDBL: width = 8; break;
    case kTDCSG: width = 4, parts = 2; break;
    case kTDCDB: width = 8, parts = 2; break;
    case kTDCluster: {
      const uChar* p = reinterpret_cast<const uChar*>(td);
      int16 n = 0;
      std::memcpy(&n, p + 4, sizeof n);
      const uChar* e = p + 6;
      int32 off = mem;
      for (int32 i = 0; i < n; ++i) {
        const TypeDescriptor* et = reinterpret_cast<const TypeDescriptor*>(e);
        if (et->size < 4) return false;
        off = AlignDatum(et, off);
        if (!SwapPlan(et, off, flat, plan)) return false;
        off += DataSize(et);
        e += et->size;
      }
      return true;
    }
    default: return false;
  }
  for (int32 k = 0; k < parts; ++k) {
    if (plan->size() >= kMaxSwapFields) return false;
    plan->push_back(SwapField{mem + k * width, *flat, width});
    *flat += width;
  }
  return true;
}

// Turns n flat records at the start of the array's elements into memory
// records in place, the last first: a memory record is never shorter than
// its flat form, so each lands on bytes already read, and its fields are
// all read before any is written.
void SwapInPlace(uChar* base, int32 n, int32 esize, int32 stride, const std::vector<SwapField>& plan) {
  const size_t fields = plan.size();
  bool sameLayout = stride == esize;
  for (const SwapField& f : plan) sameLayout = sameLayout && f.mem == f.flat;
  if (sameLayout) {
    // Each field is swapped where it stands, one field of every record at a time.
    for (const SwapField& f : plan) {
      uChar* p = base + f.mem;
      const uChar* end = p + int64(n) * esize;
      switch (f.width) {
        case 2:
          for (; p < end; p += esize) PutNative16(p, GetBE16(p));
          break;
        case 4:
          for (; p < end; p += esize) PutNative32(p, GetBE32(p));
          break;
        case 8:
          for (; p < end; p += esize) {
            const uInt64 v = GetBE64(p);
            __builtin_memcpy(p, &v, 8);
          }
          break;
        default: break;  // single bytes stay
      }
    }
    return;
  }
  uInt64 v[kMaxSwapFields];
  const bool pads = stride > esize;
  for (int32 i = n - 1; i >= 0; --i) {
    const uChar* s = base + int64(i) * esize;
    uChar* d = base + int64(i) * stride;
    for (size_t k = 0; k < fields; ++k) {
      const SwapField& f = plan[k];
      switch (f.width) {
        case 1: v[k] = s[f.flat]; break;
        case 2: v[k] = GetBE16(s + f.flat); break;
        case 4: v[k] = GetBE32(s + f.flat); break;
        default: v[k] = GetBE64(s + f.flat);
      }
    }
    if (pads) std::memset(d, 0, size_t(stride));
    for (size_t k = 0; k < fields; ++k) {
      const SwapField& f = plan[k];
      switch (f.width) {
        case 1: d[f.mem] = uChar(v[k]); break;
        case 2: PutNative16(d + f.mem, uInt16(v[k])); break;
        case 4: PutNative32(d + f.mem, uInt32(v[k])); break;
        default: __builtin_memcpy(d + f.mem, &v[k], 8);
      }
    }
  }
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

uChar* FileArrayElement(UHandle a, const TypeDescriptor* elt, int32 i) {
  return *a + AlignDatum(elt, int32(sizeof(int32))) + i * DataSize(elt);
}

MgErr FileArrayResize(const TypeDescriptor* elt, UHandle* a, int32 n) {
  if (MgErr err = ArrayResizeElts(elt, 1, a, n)) return err;
  SetCount(*a, n);
  return kNoErr;
}

MgErr FileReadFixedArray(FileRef f, const TypeDescriptor* elt, int32 esize, int32 count, UHandle* out, int32 options) {
  bool cut = false;
  const int64 total = int64(count) * esize;
  const int32 rest = Rest(f);
  if (total > INT32_MAX || (total > kLargeRead && total > rest)) {
    count = rest / esize;
    cut = true;
  }
  const int32 bytes = count * esize;
  // Records of numbers are read straight into the array and swapped there.
  std::vector<SwapField> plan;
  int32 flat = 0;
  const int32 stride = DataSize(elt);
  if (stride >= esize && SwapPlan(SkipTypedefs(elt), 0, &flat, &plan) &&
      flat == esize) {
    if (MgErr err = FileArrayResize(elt, out, count)) return err;
    uChar* base = FileArrayElement(*out, elt, 0);
    int32 actual = 0;
    MgErr err = bytes ? FMRead(f, bytes, &actual, base) : kNoErr;
    if (err && err != kEOFErr) {
      FileArrayResize(elt, out, 0);
      return err;
    }
    if (actual < 0 || actual > bytes) actual = 0;
    const int32 n = actual / esize;
    SwapInPlace(base, n, esize, stride, plan);
    if (MgErr e2 = FileArrayResize(elt, out, n)) return e2;
    return cut || n < count ? kEOFErr : kNoErr;
  }
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
  if (MgErr e2 = FileArrayResize(elt, out, n)) {
    AZDisposeHandle(buf);
    return e2;
  }
  if (FlatEltSizeClass(elt, options & kFlatOldBooleans) == 1 && DataSize(elt) == 1) {
    std::memcpy(FileArrayElement(*out, elt, 0), *buf, size_t(n));
  } else {
    for (int32 i = 0; i < n; ++i) {
      if (UnFlattenData(buf, i * esize, elt, FileArrayElement(*out, elt, i), esize, options) > esize) {
        AZDisposeHandle(buf);
        return kFileIOErr;
      }
    }
  }
  AZDisposeHandle(buf);
  return cut ? kEOFErr : kNoErr;
}

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
  if ((count && *count < 0) || !ModeOk(mode) || !data) return kArgErr;
  FileRefnumUse use(refnum);
  FileRef f = use.file();
  if (!f) return kArgErr;
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
  const TypeDescriptor* td = TDAt(dataType, dataTypeOffset);
  if (!ModeOk(mode) || !td || !data) return kArgErr;
  FileRefnumUse use(refnum);
  FileRef f = use.file();
  if (!f) return kArgErr;
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
  if (!ModeOk(mode)) return kArgErr;
  FileRefnumUse use(refnum);
  FileRef f = use.file();
  if (!f) return kArgErr;
  if (const TypeDescriptor* rec = DatalogSide(refnumType, refnumTypeOffset))
    return Datalog().seek(refnum, rec, mode, offset, positionOut);
  MgErr err = mode == kFPFromCurrent && offset == 0 ? kNoErr : FMSeek(f, offset, FMMode(mode));
  if (positionOut) *positionOut = Tell(f);
  return err;
}

MgErr FPEOF(FileRefnum refnum, UHandle refnumType, int32 refnumTypeOffset, int32 mode, int32 offset,
            int32* sizeOut) {
  FileRefnumUse use(refnum);
  FileRef f = use.file();
  if (!ModeOk(mode) || !f) {
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
  if (count < 0 || !ModeOk(mode)) return kArgErr;
  FileRefnumUse use(refnum);
  FileRef f = use.file();
  if (!f) return kArgErr;
  return FLockOrUnlockRange(f, FMMode(mode), position, count, lock);
}
