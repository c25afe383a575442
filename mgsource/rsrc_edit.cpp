// Creating resource files, adding and removing resources, and the
// write-back that compacts a file.
//
// A writable file always starts at its host file's first byte (appended
// files open read-only), and its map has the layout that editing keeps: type
// list at 52, reference lists back to back in type order, the name list last.
#include <algorithm>
#include <cstring>

#include "debug.h"
#include "memory.h"
#include "rsrc_internal.h"
#include "sorting.h"

using namespace rsrc;

namespace {

constexpr int32 kStagingSize = 4096;
constexpr int32 kPreAllocMin = 10240;

// The header of an empty resource file.
void EmptyHeader(uChar* h, ResType fileType, ResType creator) {
  std::memset(h, 0, kHeaderSize);
  PutNative32(h + kHdrSignature, kSignature);
  h[kHdrLineEnd] = kLineEnd0;
  h[kHdrLineEnd + 1] = kLineEnd1;
  PutBE16(h + kHdrVersion, uInt16(kVersion));
  PutNative32(h + kHdrFileType, fileType);
  PutNative32(h + kHdrCreator, creator);
  PutBE32(h + kHdrMapOffset, kHeaderSize);
  PutBE32(h + kHdrDataOffset, kHeaderSize);
}

// Writes one record (big-endian length, data, zero padding) at a position
// of the file: the length and up to the first 4,092 bytes through the staging
// buffer, the rest directly.
MgErr WriteRecord(FileRef f, uInt64 at, UHandle data, uChar* staging) {
  const uInt32 n = uInt32(AZGetHandleSize(data));
  const uInt32 first = std::min<uInt32>(n, kStagingSize - kRecordLengthSize);
  PutBE32(staging, n);
  std::memcpy(staging + kRecordLengthSize, *data, first);
  if (n == first) {
    const uInt32 size = uInt32(RecordSize(n));
    std::memset(staging + kRecordLengthSize + n, 0, size - kRecordLengthSize - n);
    return WriteAt(f, at, staging, int32(size));
  }
  if (MgErr err = WriteAt(f, at, staging, kStagingSize)) return err;
  if (MgErr err = WriteAt(f, at + kStagingSize, *data + first, int32(n - first))) return err;
  const uInt32 pad = uInt32(PaddedSize(n)) - n;
  static const uChar zeros[4] = {0, 0, 0, 0};
  return pad ? WriteAt(f, at + kRecordLengthSize + n, zeros, int32(pad)) : kNoErr;
}

// An entry of the write-back: its place in the map, its record's offset and,
// for an unchanged one, its record's length.
struct Pending {
  uInt32 entry, offset, length;
};
static_assert(sizeof(Pending) == 12, "write-back entry");

int32 CompareOffsets(const void* a, const void* b) {
  uInt32 x = static_cast<const Pending*>(a)->offset, y = static_cast<const Pending*>(b)->offset;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Changed data in memory: the attribute bit and a handle to write from.
bool IsChanged(const Map& m, uInt32 e) { return (m.W(e + kRefAttrs) & kAttrChanged) && m.HandleAt(e); }

// The records start at 32 from now on: offsets are taken from there, and
// every record keeps its place in the file.
void Rebase(Map& m) {
  const uInt32 shift = m.DataOffset() - kHeaderSize;
  if (shift == 0) return;
  for (int32 t = 0, nTypes = m.TypeCount(); t < nTypes; ++t)
    for (int32 i = 0, n = m.RefCount(t); i < n; ++i) {
      uInt32 e = m.Entry(t, i);
      uInt64 off = uInt64(m.W(e + kRefDataOffset)) + shift;
      m.SetW(e + kRefDataOffset, off > 0xFFFFFFFFu ? 0xFFFFFFFFu : uInt32(off));
    }
  m.SetW(kHdrDataSize, m.DataSize() + shift);
  m.SetW(kHdrDataOffset, kHeaderSize);
}

MgErr WriteEmpty(FileRef f, Map& m) {
  uChar h[kHeaderSize];
  EmptyHeader(h, m.FileType(), m.Creator());
  if (MgErr err = FSetEOF(f, kHeaderSize)) return err;
  if (MgErr err = WriteAt(f, 0, h, kHeaderSize)) return err;
  m.SetW(kHdrMapOffset, kHeaderSize);
  m.SetW(kHdrDataOffset, kHeaderSize);
  m.SetW(kHdrDataSize, 0);
  return FFlush(f);
}

MgErr UpdateLocked(const FileRec& rec) {
  Map m = MapOf(rec);
  if (!(m.Attrs() & kMapAttrChanged)) return kNoErr;
  if (m.ReadOnly() || !rec.file) return kFilePermErr;
  FileRef f = rec.file;
  if (m.Empty()) {
    if (MgErr err = WriteEmpty(f, m)) return err;
    m.SetW(kMapAttrs, m.Attrs() & ~kMapAttrChanged);
    return kNoErr;
  }

  // Every entry, in type order and id order; unchanged ones first.
  const int32 nTypes = m.TypeCount();
  int32 n = 0;
  for (int32 t = 0; t < nTypes; ++t) n += m.RefCount(t);
  ScratchBlock pendingBlock(int32(sizeof(Pending)) * n);
  ScratchBlock staging(kStagingSize);
  ScratchBlock stored(int32(m.Length()));
  Pending* all = reinterpret_cast<Pending*>(pendingBlock.Get());
  if (!all || !staging.Get() || !stored.Get()) return kMemFullErr;
  Rebase(m);
  for (int32 t = 0, k = 0; t < nTypes; ++t)
    for (int32 i = 0, c = m.RefCount(t); i < c; ++i, ++k) {
      uInt32 e = m.Entry(t, i);
      all[k] = Pending{e, m.W(e + kRefDataOffset), 0};
    }
  int32 front = 0, back = n - 1;
  for (;;) {
    while (front <= back && !IsChanged(m, all[front].entry)) ++front;
    while (back >= front && IsChanged(m, all[back].entry)) --back;
    if (front >= back) break;
    std::swap(all[front], all[back]);
  }
  const int32 nUnchanged = front;

  // The unchanged records, by offset: each must lie in the data section and
  // apart from the next, or moving them could overwrite one not yet read.
  for (int32 k = 0; k < nUnchanged; ++k)
    if (MgErr err = RecordLength(rec, m, all[k].offset, &all[k].length)) return err;
  QSort(all, nUnchanged, int32(sizeof(Pending)), CompareOffsets);
  for (int32 k = 1; k < nUnchanged; ++k)
    if (uInt64(all[k - 1].offset) + RecordSize(all[k - 1].length) > all[k].offset) return kEOFErr;

  // Records already in place stay.
  uInt64 pos = 0;
  int32 k = 0;
  for (; k < nUnchanged && all[k].offset == pos; ++k) pos += RecordSize(all[k].length);

  // The other unchanged records move down, read from the file.
  for (; k < nUnchanged; ++k) {
    const uInt32 e = all[k].entry;
    UHandle data;
    if (MgErr err = ReadRecord(rec, m, all[k].offset, &data)) return err;
    if (MgErr err = WriteRecord(f, kHeaderSize + pos, data, staging.Get())) {
      // The record's old place may be overwritten now: keep its data in
      // memory, to be written by the next write-back.
      if (m.HandleAt(e)) {
        AZDisposeHandle(data);
      } else {
        m.SetHandle(e, data);
      }
      m.SetW(e + kRefAttrs, m.W(e + kRefAttrs) | kAttrChanged);
      return err;
    }
    AZDisposeHandle(data);
    m.SetW(e + kRefDataOffset, uInt32(pos));
    pos += RecordSize(all[k].length);
  }
  // Then the changed ones, from memory.
  for (k = nUnchanged; k < n; ++k) {
    const uInt32 e = all[k].entry;
    UHandle data = m.HandleAt(e);
    if (MgErr err = WriteRecord(f, kHeaderSize + pos, data, staging.Get())) return err;
    m.SetW(e + kRefDataOffset, uInt32(pos));
    m.SetW(e + kRefAttrs, m.W(e + kRefAttrs) & ~uInt32(kAttrChanged));
    pos += RecordSize(uInt32(AZGetHandleSize(data)));
  }

  // The map after the data, then the header.
  const uInt32 length = m.Length();
  const uInt64 mapAt = kHeaderSize + pos;
  if (mapAt + length > uInt64(INT32_MAX)) return kDiskFullErr;
  m.SetW(kHdrDataOffset, kHeaderSize);
  m.SetW(kHdrDataSize, uInt32(pos));
  m.SetW(kHdrMapOffset, uInt32(mapAt));
  m.SetW(kHdrMapSize, length);
  StoredMap(m, stored.Get());
  if (MgErr err = WriteAt(f, mapAt, stored.Get(), int32(length))) return err;
  if (MgErr err = FSetEOF(f, int32(mapAt + length))) return err;
  if (MgErr err = WriteAt(f, 0, stored.Get(), kHeaderSize)) return err;
  if (MgErr err = FFlush(f)) return err;
  m.SetW(kMapAttrs, m.Attrs() & ~kMapAttrChanged);
  return kNoErr;
}

// The file of ref when it may be changed.
MgErr WritableFile(RsrcFileRef ref, FileRec* rec) {
  if (MgErr err = GetFile(ref, rec)) return err;
  return MapOf(*rec).ReadOnly() ? kFilePermErr : kNoErr;
}

// The resource of a handle when its file may be changed.
MgErr FindWritable(UHandle handle, Found* found) {
  if (MgErr err = FindByHandle(handle, found)) return err;
  return MapOf(found->rec).ReadOnly() ? kFilePermErr : kNoErr;
}

void PutEntry(Map& m, uInt32 e, int32 id, uInt32 nameOffset, UHandle h) {
  m.SetW(e + kRefId, uInt32(id));
  m.SetW(e + kRefNameOffset, nameOffset);
  m.SetW(e + kRefAttrs, kAttrChanged);
  m.SetW(e + kRefDataOffset, 0);
  m.SetHandle(e, h);
}

}  // namespace

// ---- Files ------------------------------------------------------------------------------

MgErr RCreateFile(Path path, Bool32 replace, uInt32 creator, uInt32 fileType, int32 permissions) {
  FileRef f = nullptr;
  MgErr err = replace ? FCreateAlways(&f, path, permissions, kAccessReadWrite, kDenyNone, nullptr)
                      : FCreate(&f, path, permissions, kAccessReadWrite, kDenyNone, nullptr);
  if (err) return err;
  uChar h[kHeaderSize];
  EmptyHeader(h, fileType, creator);
  int32 done = 0;
  err = FMWrite(f, kHeaderSize, &done, h);
  gBytesWritten.fetch_add(uInt64(done > 0 ? done : 0), std::memory_order_relaxed);
  if (err == kNoErr && done != kHeaderSize) err = kDiskFullErr;
  MgErr closeErr = FMClose(f);
  return err ? err : closeErr;
}

MgErr RSetFileTypeCreator(Path path, uInt32 fileType, uInt32 creator) {
  FileRef f = nullptr;
  if (MgErr err = FMOpen(&f, path, kAccessReadWrite, kDenyNone)) return err;
  uChar h[kHeaderSize];
  MgErr err = ReadAt(f, 0, h, kHeaderSize);
  if (err == kEOFErr) err = kRsrcFileNotFoundErr;
  if (err == kNoErr && !HeaderValid(h)) err = kRsrcFileNotFoundErr;
  if (err == kNoErr) {
    PutNative32(h + kHdrFileType, fileType);
    PutNative32(h + kHdrCreator, creator);
    err = WriteAt(f, 0, h, kHeaderSize);
  }
  MgErr closeErr = FMClose(f);
  return err ? err : closeErr;
}

MgErr RUpdateFile(RsrcFileRef ref) {
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  return UpdateLocked(rec);
}

MgErr RPreAllocFile(RsrcFileRef ref, int32 byteCount) {
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  if (MapOf(rec).ReadOnly() || !rec.file) {
    DBPrintf("Tried to call RPreAllocFile on a readonly file");
    return kFilePermErr;
  }
  if (byteCount < 0) return kArgErr;
  ScratchBlock buffer(std::max(byteCount, kPreAllocMin));
  if (!buffer.Get()) return kMemFullErr;
  std::memset(buffer.Get(), 0, size_t(byteCount));
  int32 size = 0;
  if (MgErr err = FGetEOF(rec.file, &size)) return err;
  MgErr err = WriteAt(rec.file, uInt64(size), buffer.Get(), byteCount);
  if (err == kNoErr) err = FFlush(rec.file);
  if (err) FSetEOF(rec.file, size);
  return err;
}

// ---- Resources ------------------------------------------------------------------------

int32 RUniqueID(RsrcFileRef ref, ResType type) {
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  if (m.Empty()) return kFirstUnusedId;
  int32 id = gMgr.unusedId;
  const int32 t = m.FindType(type);
  if (t >= 0) {
    // The ids are sorted: step over the run of used ids from the counter on.
    int32 i = m.FindId(t, id);
    if (i >= 0) {
      const int32 n = m.RefCount(t);
      for (; i < n && m.Id(m.Entry(t, i)) == id; ++i) {
        if (id >= kLastUniqueId) return 0;
        ++id;
      }
    }
    if (id > kLastUniqueId) return 0;
  }
  const int32 counter = gMgr.unusedId;
  gMgr.unusedId = counter < kFirstUnusedId || counter == INT32_MAX ? kFirstUnusedId : counter + 1;
  return id;
}

MgErr RAdd(UHandle handle, RsrcFileRef ref, ResType type, int32 id, ConstPStr name) {
  if (!handle) return kCantAddRsrcErr;
  Lock lock;
  FileRec rec;
  if (MgErr err = WritableFile(ref, &rec)) return err;
  Found held;
  if (!AZIsHandle(handle) || FindByHandle(handle, &held) == kNoErr) return kCantAddRsrcErr;

  Map m = MapOf(rec);
  const uInt32 nameBytes = name && name[0] ? uInt32(name[0]) + 1 : 0;
  const uInt32 length = m.Length();
  uInt32 grown;  // the map's length before the name
  if (m.Empty()) {
    grown = kMapFixedSize + kTypeCountSize + kTypeEntrySize + kRefEntrySize;
    if (AZSetHandleSize(rec.mapHandle, int32(grown + nameBytes)) != kNoErr) return kMemFullErr;
    m = MapOf(rec);
    const uInt32 te = kMapFixedSize + kTypeCountSize;
    m.SetW(kMapTypeList, kMapFixedSize);
    m.SetW(kMapNameList, 0);
    m.SetW(kMapFixedSize, 0);
    m.SetW(te + kTypeCode, type);
    m.SetW(te + kTypeCountMinus1, 0);
    m.SetW(te + kTypeRefListOffset, kTypeCountSize + kTypeEntrySize);
    PutEntry(m, te + kTypeEntrySize, id, kNoName, handle);
  } else if (int32 t = m.FindType(type); t >= 0) {
    int32 i = m.FindId(t, id);
    if (i >= 0) return kCantAddRsrcErr;
    i = ~i;
    const int32 nTypes = m.TypeCount();
    const uInt32 at = m.Entry(t, i);
    grown = length + kRefEntrySize;
    if (AZSetHandleSize(rec.mapHandle, int32(grown + nameBytes)) != kNoErr) return kMemFullErr;
    m = MapOf(rec);
    std::memmove(m.Bytes() + at + kRefEntrySize, m.Bytes() + at, length - at);
    for (int32 j = t + 1; j < nTypes; ++j) {
      uInt32 te = m.TypeEntry(j) + kTypeRefListOffset;
      m.SetW(te, m.W(te) + kRefEntrySize);
    }
    if (m.NameList()) m.SetW(kMapNameList, m.NameList() + kRefEntrySize);
    PutEntry(m, at, id, kNoName, handle);
    uInt32 te = m.TypeEntry(t) + kTypeCountMinus1;
    m.SetW(te, m.W(te) + 1);
  } else {
    const int32 nTypes = m.TypeCount();
    const uInt32 typesEnd = m.TypeEntry(nTypes);
    const uInt32 refsEnd = m.RefListsEnd();
    grown = length + kTypeEntrySize + kRefEntrySize;
    if (AZSetHandleSize(rec.mapHandle, int32(grown + nameBytes)) != kNoErr) return kMemFullErr;
    m = MapOf(rec);
    uChar* p = m.Bytes();
    std::memmove(p + refsEnd + kTypeEntrySize + kRefEntrySize, p + refsEnd, length - refsEnd);
    std::memmove(p + typesEnd + kTypeEntrySize, p + typesEnd, refsEnd - typesEnd);
    for (int32 j = 0; j < nTypes; ++j) {
      uInt32 te = m.TypeEntry(j) + kTypeRefListOffset;
      m.SetW(te, m.W(te) + kTypeEntrySize);
    }
    const uInt32 entry = refsEnd + kTypeEntrySize;
    m.SetW(typesEnd + kTypeCode, type);
    m.SetW(typesEnd + kTypeCountMinus1, 0);
    m.SetW(typesEnd + kTypeRefListOffset, entry - m.TypeList());
    m.SetW(m.TypeList(), uInt32(nTypes));
    if (m.NameList()) m.SetW(kMapNameList, m.NameList() + kTypeEntrySize + kRefEntrySize);
    PutEntry(m, entry, id, kNoName, handle);
  }
  m.SetW(kHdrMapSize, grown + nameBytes);
  if (nameBytes) {
    // The name goes at the end of the name list, which ends the map.
    if (!m.NameList()) m.SetW(kMapNameList, grown);
    std::memcpy(m.Bytes() + grown, name, nameBytes);
    const int32 t = m.FindType(type);
    const uInt32 e = m.Entry(t, m.FindId(t, id));
    m.SetW(e + kRefNameOffset, grown - m.NameList());
  }
  m.MarkChanged();
  gMgr.last = LastResource{ref, type, handle, id};
  return kNoErr;
}

MgErr RRemove(UHandle handle, RsrcFileRef ref) {
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  if (!handle) return kCantAddRsrcErr;
  Found found;
  if (MgErr err = FindWritable(handle, &found)) return err;
  Map m = MapOf(found.rec);
  const uInt32 e = found.entry;
  const int32 t = found.type;
  if (m.W(e + kRefAttrs) & kAttrProtected) return kRsrcNotFoundErr;
  const int32 nTypes = m.TypeCount();
  const int32 count = m.RefCount(t);
  if (gMgr.last.handle == handle) gMgr.last = LastResource{};

  if (nTypes == 1 && count == 1) {
    // Back to the empty map.
    if (AZSetHandleSize(found.rec.mapHandle, kMapFixedSize) != kNoErr) return kMemFullErr;
    m = MapOf(found.rec);
    m.SetW(kHdrMapOffset, kHeaderSize);
    m.SetW(kHdrMapSize, 0);
    m.SetW(kHdrDataOffset, kHeaderSize);
    m.SetW(kHdrDataSize, 0);
    m.SetW(kMapTypeList, kMapFixedSize);
    m.SetW(kMapNameList, 0);
    m.MarkChanged();
    return kNoErr;
  }

  uChar* p = m.Bytes();
  uInt32 length = m.Length();
  const uInt32 nameOffset = m.W(e + kRefNameOffset);
  if (nameOffset != kNoName) {
    const uInt32 at = m.NameList() + nameOffset;
    const uInt32 bytes = uInt32(p[at]) + 1;
    std::memmove(p + at, p + at + bytes, length - at - bytes);
    length -= bytes;
    for (int32 j = 0; j < nTypes; ++j)
      for (int32 i = 0, c = m.RefCount(j); i < c; ++i) {
        uInt32 other = m.Entry(j, i) + kRefNameOffset;
        uInt32 off = m.W(other);
        if (off != kNoName && off > nameOffset) m.SetW(other, off - bytes);
      }
  }
  // The entry; the lists after it move down.
  std::memmove(p + e, p + e + kRefEntrySize, length - e - kRefEntrySize);
  length -= kRefEntrySize;
  for (int32 j = t + 1; j < nTypes; ++j) {
    uInt32 te = m.TypeEntry(j) + kTypeRefListOffset;
    m.SetW(te, m.W(te) - kRefEntrySize);
  }
  uInt32 removed = kRefEntrySize;
  if (count == 1) {
    const uInt32 te = m.TypeEntry(t);
    std::memmove(p + te, p + te + kTypeEntrySize, length - te - kTypeEntrySize);
    length -= kTypeEntrySize;
    m.SetW(m.TypeList(), uInt32(nTypes - 2));
    for (int32 j = 0; j < nTypes - 1; ++j) {
      uInt32 off = m.TypeEntry(j) + kTypeRefListOffset;
      m.SetW(off, m.W(off) - kTypeEntrySize);
    }
    removed += kTypeEntrySize;
  } else {
    uInt32 te = m.TypeEntry(t) + kTypeCountMinus1;
    m.SetW(te, m.W(te) - 1);
  }
  if (m.NameList()) m.SetW(kMapNameList, m.NameList() - removed);
  m.SetW(kHdrMapSize, length);
  AZSetHandleSize(found.rec.mapHandle, int32(length));  // a smaller block: cannot fail
  MapOf(found.rec).MarkChanged();
  return kNoErr;
}

namespace {
// The resource's attributes become (old & keep) | set, and the map is changed.
MgErr SetAttrBits(UHandle handle, uInt32 keep, uInt32 set) {
  Lock lock;
  Found found;
  if (MgErr err = FindWritable(handle, &found)) return err;
  Map m = MapOf(found.rec);
  m.SetW(found.entry + kRefAttrs, (m.W(found.entry + kRefAttrs) & keep) | set);
  m.MarkChanged();
  return kNoErr;
}
}  // namespace

// Data changed in memory stays marked until it is written.
MgErr RSetAttrs(UHandle handle, int32 attrs) { return SetAttrBits(handle, kAttrChanged, uInt32(attrs)); }

MgErr RChanged(UHandle handle) { return SetAttrBits(handle, ~0u, kAttrChanged); }

MgErr RWrite(UHandle handle) {
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  Map m = MapOf(found.rec);
  const uInt32 e = found.entry;
  if (!(m.W(e + kRefAttrs) & kAttrChanged)) return kNoErr;
  if (m.ReadOnly() || !found.rec.file) return kFilePermErr;
  ScratchBlock staging(kStagingSize);
  if (!staging.Get()) return kMemFullErr;
  // At the end of the data section, on a 4-byte boundary.
  const uInt64 at = PaddedSize(m.DataSize());
  const uInt64 size = RecordSize(uInt32(AZGetHandleSize(handle)));
  if (m.DataOffset() + at + size > uInt64(INT32_MAX)) return kDiskFullErr;
  if (MgErr err = WriteRecord(found.rec.file, m.DataOffset() + at, handle, staging.Get())) return err;
  m.SetW(e + kRefDataOffset, uInt32(at));
  m.SetW(e + kRefAttrs, m.W(e + kRefAttrs) & ~uInt32(kAttrChanged));
  m.SetW(kHdrDataSize, uInt32(at + size));
  return kNoErr;
}
