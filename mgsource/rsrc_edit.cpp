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

// An entry of the write-back: its place in the map, its record's offset and
// length, and whether its data is written from memory (changed data).
struct Pending {
  uInt32 entry, offset, length, fromMemory;
};
static_assert(sizeof(Pending) == 16, "write-back entry");

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
  m.ForEachEntry([&](const EntryAt& at) {
    uInt64 off = uInt64(m.W(at.entry + kRefDataOffset)) + shift;
    m.SetW(at.entry + kRefDataOffset, off > 0xFFFFFFFFu ? 0xFFFFFFFFu : uInt32(off));
    return true;
  });
  m.SetW(kHdrDataSize, m.DataSize() + shift);
  m.SetW(kHdrDataOffset, kHeaderSize);
}

// What a write-back writes.  all[0 .. inPlace) are records that stay where
// they are, at the start of the data section; the others move, in this
// order: the unchanged ones by offset, then the changed ones.
struct Plan {
  Pending* all;
  int32 n, inPlace;
  uInt64 kept;      // bytes of the records in place: where the moving ones start
  uInt64 dataSize;  // of the compacted data section
};

MgErr MakePlan(const FileRec& rec, const Map& m, Plan* plan) {
  Pending* all = plan->all;
  const int32 n = plan->n;
  int32 k = 0;
  m.ForEachEntry([&](const EntryAt& at) {
    const bool changed = IsChanged(m, at.entry);
    const UHandle h = m.HandleAt(at.entry);
    all[k++] = Pending{at.entry, m.W(at.entry + kRefDataOffset),
                       changed ? uInt32(AZGetHandleSize(h)) : 0u, changed ? 1u : 0u};
    return true;
  });
  // Unchanged ones first; the changed ones keep the order this leaves them in.
  int32 front = 0, back = n - 1;
  for (;;) {
    while (front <= back && !all[front].fromMemory) ++front;
    while (back >= front && all[back].fromMemory) --back;
    if (front >= back) break;
    std::swap(all[front], all[back]);
  }
  const int32 nUnchanged = front;

  // The unchanged records, by offset: each must lie in the data section and
  // apart from the next, or writing one could overwrite another.
  for (k = 0; k < nUnchanged; ++k)
    if (MgErr err = RecordLength(rec, m, all[k].offset, &all[k].length)) return err;
  QSort(all, nUnchanged, int32(sizeof(Pending)), CompareOffsets);
  for (k = 1; k < nUnchanged; ++k)
    if (uInt64(all[k - 1].offset) + RecordSize(all[k - 1].length) > all[k].offset) return kEOFErr;

  uInt64 pos = 0;
  for (k = 0; k < nUnchanged && all[k].offset == pos; ++k) pos += RecordSize(all[k].length);
  plan->inPlace = k;
  plan->kept = pos;
  for (; k < n; ++k) pos += RecordSize(all[k].length);
  plan->dataSize = pos;
  return kNoErr;
}

// Writes the moving records back to back from the data offset at.
MgErr WriteMoving(const FileRec& rec, const Map& m, const Plan& plan, uInt64 at, uChar* staging) {
  for (int32 k = plan.inPlace; k < plan.n; ++k) {
    const Pending& p = plan.all[k];
    UHandle data = p.fromMemory ? m.HandleAt(p.entry) : nullptr;
    if (!data)
      if (MgErr err = ReadRecord(rec, m, p.offset, &data)) return err;
    MgErr err = WriteRecord(rec.file, kHeaderSize + at, data, staging);
    if (!p.fromMemory) AZDisposeHandle(data);
    if (err) return err;
    at += RecordSize(p.length);
  }
  return kNoErr;
}

// The map as it is stored once the moving records lie from the data offset
// at: their offsets, no changed data, and the header words of that file.
void StoredMapFor(const Map& m, const Plan& plan, uInt64 at, uChar* out) {
  StoredMap(m, out);
  for (int32 k = plan.inPlace; k < plan.n; ++k) {
    const uInt32 e = plan.all[k].entry;
    PutBE32(out + e + kRefDataOffset, uInt32(at));
    PutBE32(out + e + kRefAttrs, m.W(e + kRefAttrs) & ~uInt32(kAttrChanged));
    at += RecordSize(plan.all[k].length);
  }
  PutBE32(out + kHdrDataOffset, kHeaderSize);
  PutBE32(out + kHdrDataSize, uInt32(at));
  PutBE32(out + kHdrMapOffset, uInt32(kHeaderSize + at));
  PutBE32(out + kHdrMapSize, m.Length());
}

// The map in memory once the header names the file written from at.
void Commit(Map& m, Plan& plan, uInt64 at) {
  for (int32 k = plan.inPlace; k < plan.n; ++k) {
    Pending& p = plan.all[k];
    p.offset = uInt32(at);
    m.SetW(p.entry + kRefDataOffset, p.offset);
    m.SetW(p.entry + kRefAttrs, m.W(p.entry + kRefAttrs) & ~uInt32(kAttrChanged));
    at += RecordSize(p.length);
  }
  m.SetW(kHdrDataOffset, kHeaderSize);
  m.SetW(kHdrDataSize, uInt32(at));
  m.SetW(kHdrMapOffset, uInt32(kHeaderSize + at));
  m.SetW(kHdrMapSize, m.Length());
}

// One pass of the write-back: the moving records from the data offset at,
// the map after them, and then, once they are on disk, the header that names
// them.  Until the header is written the file on disk is as it was, and so
// is the map in memory.
MgErr WriteFrom(const FileRec& rec, Map& m, Plan& plan, uInt64 at, uChar* staging, uChar* stored) {
  const uInt64 mapAt = kHeaderSize + at + (plan.dataSize - plan.kept);
  if (mapAt + m.Length() > uInt64(INT32_MAX)) return kDiskFullErr;
  if (MgErr err = WriteMoving(rec, m, plan, at, staging)) return err;
  StoredMapFor(m, plan, at, stored);
  if (MgErr err = WriteAt(rec.file, mapAt, stored, int32(m.Length()))) return err;
  if (MgErr err = FFlush(rec.file)) return err;
  if (MgErr err = WriteAt(rec.file, 0, stored, kHeaderSize)) return err;
  Commit(m, plan, at);
  return kNoErr;
}

// The write-back of an empty map: the header of an empty file, then the
// file cut to it.
MgErr WriteEmpty(FileRef f, Map& m) {
  uChar h[kHeaderSize];
  EmptyHeader(h, m.FileType(), m.Creator());
  if (MgErr err = WriteAt(f, 0, h, kHeaderSize)) return err;
  m.SetW(kHdrMapOffset, kHeaderSize);
  m.SetW(kHdrDataOffset, kHeaderSize);
  m.SetW(kHdrDataSize, 0);
  if (MgErr err = FSetEOF(f, kHeaderSize)) return err;
  return FFlush(f);
}

// The write-back.  The file on disk opens with its old contents or its new
// ones at every step: nothing is written over what its header names until a
// new header names something else.  When the place of the moving records and
// the new map holds anything of the file, they are first written past the
// file's end and named by the header; the compacted file is then written over
// what that left unused, named by the header in turn, and the file is cut
// after its map.  A failure leaves the map in memory describing the file on
// disk, with the map-changed attribute set, so the next write-back carries on.
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

  const int32 n = m.EntryCount();
  ScratchBlock pending(uInt64(sizeof(Pending)) * uInt32(n));
  ScratchBlock staging(kStagingSize);
  ScratchBlock stored(m.Length());
  if (!pending.Get() || !staging.Get() || !stored.Get()) return kMemFullErr;
  Rebase(m);
  Plan plan = {reinterpret_cast<Pending*>(pending.Get()), n, 0, 0, 0};
  if (MgErr err = MakePlan(rec, m, &plan)) return err;
  int32 size = 0;
  if (MgErr err = FGetEOF(f, &size)) return err;
  const uInt64 end = kHeaderSize + plan.dataSize + m.Length();
  if (end > uInt64(INT32_MAX)) return kDiskFullErr;

  // The first pass writes only past the file's end.
  const bool staged = kHeaderSize + plan.kept < uInt64(size);
  const uInt64 first = staged ? PaddedSize(std::max<uInt64>(uInt64(size), end)) - kHeaderSize : plan.kept;
  if (MgErr err = WriteFrom(rec, m, plan, first, staging.Get(), stored.Get())) {
    FSetEOF(f, size);  // what was written past the old end means nothing
    return err;
  }
  if (staged)
    if (MgErr err = WriteFrom(rec, m, plan, plan.kept, staging.Get(), stored.Get())) return err;
  if (MgErr err = FSetEOF(f, int32(end))) return err;
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

namespace {

// Where a new resource goes in a map grown for it: its reference entry, and
// the end of the map before its name.
struct Room {
  uInt32 entry, end;
};

// An empty map grown to one type with one entry.
MgErr RoomInEmptyMap(const FileRec& rec, ResType type, uInt32 nameBytes, Room* room) {
  const uInt32 te = kMapFixedSize + kTypeCountSize;
  const uInt32 end = te + kTypeEntrySize + kRefEntrySize;
  if (AZSetHandleSize(rec.mapHandle, int32(end + nameBytes)) != kNoErr) return kMemFullErr;
  Map m = MapOf(rec);
  m.SetW(kMapTypeList, kMapFixedSize);
  m.SetW(kMapNameList, 0);
  m.SetW(kMapFixedSize, 0);  // one type
  m.SetW(te + kTypeCode, type);
  m.SetW(te + kTypeCountMinus1, 0);
  m.SetW(te + kTypeRefListOffset, kTypeCountSize + kTypeEntrySize);
  *room = Room{te + kTypeEntrySize, end};
  return kNoErr;
}

// A new entry at index i of type t's list; the later lists and the names
// move up.
MgErr RoomInType(const FileRec& rec, int32 t, int32 i, uInt32 nameBytes, Room* room) {
  Map m = MapOf(rec);
  const int32 nTypes = m.TypeCount();
  const uInt32 length = m.Length(), at = m.Entry(t, i);
  if (AZSetHandleSize(rec.mapHandle, int32(length + kRefEntrySize + nameBytes)) != kNoErr) return kMemFullErr;
  m = MapOf(rec);
  std::memmove(m.Bytes() + at + kRefEntrySize, m.Bytes() + at, length - at);
  for (int32 j = t + 1; j < nTypes; ++j) {
    const uInt32 list = m.TypeEntry(j) + kTypeRefListOffset;
    m.SetW(list, m.W(list) + kRefEntrySize);
  }
  if (m.NameList()) m.SetW(kMapNameList, m.NameList() + kRefEntrySize);
  const uInt32 count = m.TypeEntry(t) + kTypeCountMinus1;
  m.SetW(count, m.W(count) + 1);
  *room = Room{at, length + kRefEntrySize};
  return kNoErr;
}

// A new type entry after the last one, its list of one entry after the last
// list; the lists move up by a type entry, the names by both.
MgErr RoomForType(const FileRec& rec, ResType type, uInt32 nameBytes, Room* room) {
  Map m = MapOf(rec);
  const int32 nTypes = m.TypeCount();
  const uInt32 length = m.Length(), typesEnd = m.TypeEntry(nTypes), refsEnd = m.RefListsEnd();
  const uInt32 end = length + kTypeEntrySize + kRefEntrySize;
  if (AZSetHandleSize(rec.mapHandle, int32(end + nameBytes)) != kNoErr) return kMemFullErr;
  m = MapOf(rec);
  uChar* p = m.Bytes();
  std::memmove(p + refsEnd + kTypeEntrySize + kRefEntrySize, p + refsEnd, length - refsEnd);
  std::memmove(p + typesEnd + kTypeEntrySize, p + typesEnd, refsEnd - typesEnd);
  for (int32 j = 0; j < nTypes; ++j) {
    const uInt32 list = m.TypeEntry(j) + kTypeRefListOffset;
    m.SetW(list, m.W(list) + kTypeEntrySize);
  }
  const uInt32 entry = refsEnd + kTypeEntrySize;
  m.SetW(typesEnd + kTypeCode, type);
  m.SetW(typesEnd + kTypeCountMinus1, 0);
  m.SetW(typesEnd + kTypeRefListOffset, entry - m.TypeList());
  m.SetW(m.TypeList(), uInt32(nTypes));
  if (m.NameList()) m.SetW(kMapNameList, m.NameList() + kTypeEntrySize + kRefEntrySize);
  *room = Room{entry, end};
  return kNoErr;
}

}  // namespace

MgErr RAdd(UHandle handle, RsrcFileRef ref, ResType type, int32 id, ConstPStr name) {
  if (!handle) return kCantAddRsrcErr;
  Lock lock;
  FileRec rec;
  if (MgErr err = WritableFile(ref, &rec)) return err;
  Found held;
  if (!AZIsHandle(handle) || FindByHandle(handle, &held) == kNoErr) return kCantAddRsrcErr;

  // The map grows by the entry (and the type), and the name at its end.
  const uInt32 nameBytes = name && name[0] ? uInt32(name[0]) + 1 : 0;
  Map m = MapOf(rec);
  const int32 t = m.Empty() ? -1 : m.FindType(type);
  const int32 i = t >= 0 ? m.FindId(t, id) : 0;
  if (i >= 0 && t >= 0) return kCantAddRsrcErr;
  Room room;
  MgErr err = m.Empty() ? RoomInEmptyMap(rec, type, nameBytes, &room)
              : t >= 0  ? RoomInType(rec, t, ~i, nameBytes, &room)
                        : RoomForType(rec, type, nameBytes, &room);
  if (err) return err;
  m = MapOf(rec);
  PutEntry(m, room.entry, id, kNoName, handle);
  if (nameBytes) {
    if (!m.NameList()) m.SetW(kMapNameList, room.end);
    std::memcpy(m.Bytes() + room.end, name, nameBytes);
    m.SetW(room.entry + kRefNameOffset, room.end - m.NameList());
  }
  m.SetW(kHdrMapSize, room.end + nameBytes);
  m.MarkChanged();
  gMgr.last = LastResource{ref, type, handle, id};
  return kNoErr;
}

namespace {

// The map of a file whose only resource is removed: empty again.
MgErr RemoveLast(const FileRec& rec) {
  if (AZSetHandleSize(rec.mapHandle, kMapFixedSize) != kNoErr) return kMemFullErr;
  Map m = MapOf(rec);
  m.SetW(kHdrMapOffset, kHeaderSize);
  m.SetW(kHdrMapSize, 0);
  m.SetW(kHdrDataOffset, kHeaderSize);
  m.SetW(kHdrDataSize, 0);
  m.SetW(kMapTypeList, kMapFixedSize);
  m.SetW(kMapNameList, 0);
  m.MarkChanged();
  return kNoErr;
}

// Removes entry e's name from the end part of the map of length bytes; the
// later names' offsets follow.  Returns the new length.
uInt32 RemoveName(Map& m, uInt32 e, uInt32 length) {
  const uInt32 nameOffset = m.W(e + kRefNameOffset);
  if (nameOffset == kNoName) return length;
  uChar* p = m.Bytes();
  const uInt32 at = m.NameList() + nameOffset;
  const uInt32 bytes = uInt32(p[at]) + 1;
  std::memmove(p + at, p + at + bytes, length - at - bytes);
  m.ForEachEntry([&](const EntryAt& other) {
    const uInt32 off = m.W(other.entry + kRefNameOffset);
    if (off != kNoName && off > nameOffset) m.SetW(other.entry + kRefNameOffset, off - bytes);
    return true;
  });
  return length - bytes;
}

// Removes entry e of type t (and the type's entry when it was its only one)
// from a map of length bytes.  Returns the new length.
uInt32 RemoveEntry(Map& m, int32 t, uInt32 e, uInt32 length) {
  uChar* p = m.Bytes();
  const int32 nTypes = m.TypeCount();
  const bool lastOfType = m.RefCount(t) == 1;
  std::memmove(p + e, p + e + kRefEntrySize, length - e - kRefEntrySize);
  length -= kRefEntrySize;
  for (int32 j = t + 1; j < nTypes; ++j) {
    const uInt32 list = m.TypeEntry(j) + kTypeRefListOffset;
    m.SetW(list, m.W(list) - kRefEntrySize);
  }
  uInt32 removed = kRefEntrySize;
  if (lastOfType) {
    const uInt32 te = m.TypeEntry(t);
    std::memmove(p + te, p + te + kTypeEntrySize, length - te - kTypeEntrySize);
    length -= kTypeEntrySize;
    m.SetW(m.TypeList(), uInt32(nTypes - 2));
    for (int32 j = 0; j < nTypes - 1; ++j) {
      const uInt32 list = m.TypeEntry(j) + kTypeRefListOffset;
      m.SetW(list, m.W(list) - kTypeEntrySize);
    }
    removed += kTypeEntrySize;
  } else {
    const uInt32 count = m.TypeEntry(t) + kTypeCountMinus1;
    m.SetW(count, m.W(count) - 1);
  }
  if (m.NameList()) m.SetW(kMapNameList, m.NameList() - removed);
  return length;
}

}  // namespace

MgErr RRemove(UHandle handle, RsrcFileRef ref) {
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  if (!handle) return kCantAddRsrcErr;
  Found found;
  if (MgErr err = FindWritable(handle, &found)) return err;
  Map m = MapOf(found.rec);
  if (m.W(found.entry + kRefAttrs) & kAttrProtected) return kRsrcNotFoundErr;
  if (gMgr.last.handle == handle) gMgr.last = LastResource{};
  if (m.TypeCount() == 1 && m.RefCount(found.type) == 1) return RemoveLast(found.rec);

  uInt32 length = RemoveName(m, found.entry, m.Length());
  length = RemoveEntry(m, found.type, found.entry, length);
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
  // After the data section and past everything the file holds (its map
  // among it), on a 4-byte boundary: the file on disk stays as its header
  // names it until the next write-back.
  int32 eof = 0;
  if (MgErr err = FGetEOF(found.rec.file, &eof)) return err;
  const uInt64 dataEnd = uInt64(m.DataOffset()) + m.DataSize();
  const uInt64 at = PaddedSize(std::max<uInt64>(uInt64(eof), dataEnd)) - m.DataOffset();
  const uInt64 size = RecordSize(uInt32(AZGetHandleSize(handle)));
  if (m.DataOffset() + at + size > uInt64(INT32_MAX)) return kDiskFullErr;
  if (MgErr err = WriteRecord(found.rec.file, m.DataOffset() + at, handle, staging.Get())) {
    FSetEOF(found.rec.file, eof);  // what was written past the end means nothing
    return err;
  }
  m.SetW(e + kRefDataOffset, uInt32(at));
  m.SetW(e + kRefAttrs, m.W(e + kRefAttrs) & ~uInt32(kAttrChanged));
  m.SetW(kHdrDataSize, uInt32(at + size));
  return kNoErr;
}
