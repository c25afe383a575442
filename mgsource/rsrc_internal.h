// Shared parts of the resource manager: the open-file record, the manager's
// state, the map in memory and the record readers.
//
// The map in memory holds the stored bytes in host order (type codes, the
// signature and bytes 4-5 stay in reading order); its header copy carries the
// offsets of the map and the data section from the host file's first byte.
// A map is checked whole when it is opened and every change keeps its layout:
// type list at 52, reference lists back to back in type order after it, the
// name list after them up to the map's end.  Opened maps of other layouts are
// read as they are; writable ones are brought into this layout first.
#pragma once
#include <atomic>

#include "cookie.h"
#include "memory.h"
#include "rsrc.h"
#include "thread.h"

struct PlatView;

namespace rsrc {
using namespace rsrcfmt;

// The information of one open file's cookie: seven 32-bit words.
struct FileRec {
  int32 kind;          // always kFileKind
  FileRef file;        // null for a memory image
  UHandle mapHandle;   // null when the map lies inside the memory image
  UPtr mapAddr;        // the map inside the memory image
  void* region;        // the mapped view (a file) or the memory image's handle
  UPtr data;           // the data section in memory; null when it is read through the file
  int32 regionLength;  // bytes of the view or the image
};
static_assert(sizeof(FileRec) == 28 && offsetof(FileRec, file) == 4 && offsetof(FileRec, mapHandle) == 8 &&
                  offsetof(FileRec, mapAddr) == 12 && offsetof(FileRec, region) == 16 &&
                  offsetof(FileRec, data) == 20 && offsetof(FileRec, regionLength) == 24,
              "open resource file record");
constexpr int32 kFileKind = 1;
constexpr int32 kFirstUnusedId = 128;
constexpr int32 kLastUniqueId = 0x7FFFFFF;

// The resource last returned by a reader or added.
struct LastResource {
  RsrcFileRef file;
  ResType type;
  UHandle handle;
  int32 id;
};

struct Manager {
  ThMutex mutex = nullptr;
  CookieJar jar = nullptr;
  UHandle cookies = nullptr;  // receives the jar's cookie list in searches
  uInt32 granularity = 4096;  // of mapped views
  LastResource last = {};
  int32 unusedId = kFirstUnusedId;
};
extern Manager gMgr;
// Bytes written to files by the manager, for tests.
extern std::atomic<uInt64> gBytesWritten;

// The resource mutex for the life of a scope.
class Lock {
 public:
  Lock() { ThMutexLock(gMgr.mutex); }
  ~Lock() { ThMutexUnlock(gMgr.mutex); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
};

// A pointer block of the application zone for the length of a scope; null
// when it can't be had (sizes of 2 GB or more included).
class ScratchBlock {
 public:
  explicit ScratchBlock(uInt64 bytes)
      : p_(bytes < uInt64(INT32_MAX) ? AZNewPtr(int32(bytes ? bytes : 1)) : nullptr) {}
  ~ScratchBlock() {
    if (p_) AZDisposePtr(p_);
  }
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  UPtr Get() const { return p_; }

 private:
  UPtr p_;
};

// A place in the walk over a map's reference entries.
struct EntryAt {
  int32 type;    // index in the type list
  int32 index;   // in the type's reference list
  uInt32 entry;  // offset of the reference entry in the map
};

// The one walk over a map's reference entries: every type in type-list
// order and, within a type, every entry of its list (in id order).  get reads
// a word in the map's byte order (GetBE32 for a stored map, whose lists must
// have been checked, GetNative32 for one in memory).  visit(EntryAt) returns
// false to stop the walk, which then returns false.
template <typename Get, typename Visit>
bool WalkEntries(const uChar* map, uInt32 typeList, uInt32 nTypes, Get get, Visit&& visit) {
  for (uInt32 t = 0; t < nTypes; ++t) {
    const uInt32 te = typeList + kTypeCountSize + kTypeEntrySize * t;
    const uInt64 count = uInt64(get(map + te + kTypeCountMinus1)) + 1;
    const uInt32 list = typeList + get(map + te + kTypeRefListOffset);
    for (uInt64 i = 0; i < count; ++i)
      if (!visit(EntryAt{int32(t), int32(i), list + kRefEntrySize * uInt32(i)})) return false;
  }
  return true;
}

// A map in memory, addressed by byte offsets from its start.  Every offset
// handed to it lies inside the map: the map was checked when it was opened.
class Map {
 public:
  explicit Map(uChar* p) : p_(p) {}
  uChar* Bytes() const { return p_; }
  uInt32 W(uInt32 at) const { return GetNative32(p_ + at); }
  void SetW(uInt32 at, uInt32 v) { PutNative32(p_ + at, v); }

  bool Empty() const { return W(kHdrMapSize) <= kMapEmptyLimit; }
  uInt32 Length() const { return Empty() ? uInt32(kMapFixedSize) : W(kHdrMapSize); }
  uInt32 DataOffset() const { return W(kHdrDataOffset); }  // from the host file's start
  uInt32 DataSize() const { return W(kHdrDataSize); }
  uInt32 Attrs() const { return W(kMapAttrs); }
  bool ReadOnly() const { return (Attrs() & kMapAttrReadOnly) != 0; }
  void MarkChanged() { SetW(kMapAttrs, Attrs() | kMapAttrChanged); }
  uInt32 TypeList() const { return W(kMapTypeList); }
  uInt32 NameList() const { return W(kMapNameList); }
  ResType FileType() const { return W(kHdrFileType); }
  ResType Creator() const { return W(kHdrCreator); }

  int32 TypeCount() const { return Empty() ? 0 : int32(W(TypeList()) + 1); }
  uInt32 TypeEntry(int32 t) const { return TypeList() + kTypeCountSize + kTypeEntrySize * uInt32(t); }
  ResType TypeAt(int32 t) const { return W(TypeEntry(t) + kTypeCode); }
  int32 RefCount(int32 t) const { return int32(W(TypeEntry(t) + kTypeCountMinus1) + 1); }
  uInt32 RefList(int32 t) const { return TypeList() + W(TypeEntry(t) + kTypeRefListOffset); }
  uInt32 Entry(int32 t, int32 i) const { return RefList(t) + kRefEntrySize * uInt32(i); }
  // The end of the reference lists (the name list's place).
  uInt32 RefListsEnd() const;

  int32 Id(uInt32 e) const { return int32(W(e + kRefId)); }
  UHandle HandleAt(uInt32 e) const { return reinterpret_cast<UHandle>(uintptr_t(W(e + kRefHandle))); }
  void SetHandle(uInt32 e, UHandle h) { SetW(e + kRefHandle, uInt32(reinterpret_cast<uintptr_t>(h))); }
  // The name's length byte, or null for an unnamed resource.
  const uChar* Name(uInt32 e) const;

  // Every reference entry, as WalkEntries gives them.
  template <typename Visit>
  bool ForEachEntry(Visit&& visit) const {
    return WalkEntries(p_, TypeList(), uInt32(TypeCount()), GetNative32, visit);
  }
  // The number of reference entries.
  int32 EntryCount() const;

  // The type's index, or -1.
  int32 FindType(ResType type) const;
  // BinSearch's answer for the id in the type's list.
  int32 FindId(int32 t, int32 id) const;

 private:
  uChar* p_;
};

inline Map MapOf(const FileRec& f) { return Map(f.mapHandle ? *f.mapHandle : f.mapAddr); }

// A header is valid with the signature and either version 2, or version 3
// or more and the bytes 0x0D 0x0A at 4-5.
bool HeaderValid(const uChar* header);

// The open file of a cookie: 13 when there is none.
MgErr GetFile(RsrcFileRef ref, FileRec* rec);
void SetFile(RsrcFileRef ref, const FileRec& rec);

// A resource found by its handle.
struct Found {
  RsrcFileRef ref;
  FileRec rec;
  int32 type;    // index in the type list
  uInt32 entry;  // offset of the reference entry in the map
};
// 15 when no open file holds the handle.
MgErr FindByHandle(UHandle h, Found* found);

// Reads or writes n bytes at a position of the host file.
MgErr ReadAt(FileRef f, uInt64 pos, void* buf, int32 n);
MgErr WriteAt(FileRef f, uInt64 pos, const void* buf, int32 n);

// The record at a data offset: its length (4 when the record does not lie
// inside the data section) and its bytes in a new handle.
MgErr RecordLength(const FileRec& f, const Map& m, uInt32 offset, uInt32* length);
MgErr ReadRecord(const FileRec& f, const Map& m, uInt32 offset, UHandle* out);
// True for a write-back error that lies in the file itself: a record its map
// names runs outside the data section or over another (4).  The write-back
// has then written nothing that the file's header names.
inline bool WriteBackHitDamage(MgErr err) { return err == kEOFErr; }
// The resource's data, loaded into the map when it has none yet, and noted as
// the last resource.
MgErr LoadEntry(RsrcFileRef ref, const FileRec& f, Map& m, int32 t, uInt32 e, UHandle* out);

// Byte order of a whole map: toHost converts from the stored form.
void ConvertMap(uChar* map, bool toHost);

// The map of a file as it is written: big-endian, run-time words cleared.
void StoredMap(const Map& m, uChar* out);

// Disposes the handles still in the map.
void DisposeLoaded(Map& m);

}  // namespace rsrc
