// The directory of a VI library: the checked reader, listings and lookups.
#include <cstring>
#include <new>

#include "archive_internal.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/path_internal.h"
#include "mgsource/sorting.h"
#include "rtrsrc.h"

using namespace archfmt;

namespace archive {

MgErr ArchiveDir::Attach(const uChar* bytes, int32 size) {
  p_ = bytes;
  at_.clear();
  if (!bytes || size < kDirHeaderSize || std::memcmp(bytes + kDirTag, kDirTagBytes, 4) != 0 ||
      GetBE32(bytes + kDirVersion) != kDirVersionValue)
    return kRsrcFileNotFoundErr;
  const uInt32 count = GetBE32(bytes + kDirCount);
  // Every entry takes at least the bytes of an empty name.
  if (count > uInt32(size - kDirHeaderSize) / uInt32(EntrySize(0))) return kRsrcFileNotFoundErr;
  try {
    at_.reserve(count);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  uInt32 at = kDirHeaderSize;
  for (uInt32 i = 0; i < count; ++i) {
    if (uInt32(size) - at < uInt32(kEntryFixedSize + 1)) break;
    const uInt32 length = uInt32(EntrySize(bytes[at + kEntryName]));
    if (uInt32(size) - at < length) break;
    at_.push_back(at);
    at += length;
  }
  if (at_.size() != count) {
    at_.clear();
    return kRsrcFileNotFoundErr;
  }
  return kNoErr;
}

int32 ArchiveDir::Find(ConstPStr name) const {
  for (int32 i = 0; i < Count(); ++i)
    if (PStrCaseEqual(Name(i), name)) return i;
  return -1;
}

int32 ArchiveDir::LargestId() const {
  int32 largest = 0;
  for (int32 i = 0; i < Count(); ++i)
    if (Id(i) > largest) largest = Id(i);
  return largest;
}

std::vector<uChar> EmptyDir() {
  std::vector<uChar> b(kDirHeaderSize, 0);
  std::memcpy(&b[kDirTag], kDirTagBytes, 4);
  PutBE32(&b[kDirVersion], kDirVersionValue);
  return b;
}

namespace {

struct SortContext {
  const uChar* dir;
  int32 mode;
};

int32 CompareRecords(const void* a, const void* b, void* data) {
  const SortContext* c = static_cast<const SortContext*>(data);
  const ListRecord* x = static_cast<const ListRecord*>(a);
  const ListRecord* y = static_cast<const ListRecord*>(b);
  if (c->mode == 2 || c->mode == 3) {
    const bool xTop = (x->flags & int32(kFlagTopLevel)) != 0, yTop = (y->flags & int32(kFlagTopLevel)) != 0;
    if (xTop != yTop) return (xTop == (c->mode == 2)) ? -1 : 1;
  }
  return PStrCaseCmp(c->dir + x->nameOffset, c->dir + y->nameOffset);
}

// Writes the sorted listing into the caller's handles: the names as a
// CPStr, and recordSize (8 or 12) bytes per name when records is given.
MgErr StoreListing(const uChar* dirBytes, const std::vector<ListRecord>& recs, CPStrHandle names, UHandle records,
                   int32 recordSize) {
  UHandle nh = reinterpret_cast<UHandle>(names);
  if (path_detail::HandleSize(nh) < 0 || (records && path_detail::HandleSize(records) < 0)) return kArgErr;
  int32 bytes = 4;
  for (const ListRecord& r : recs) bytes += 1 + dirBytes[r.nameOffset];
  if (MgErr err = path_detail::SetSize(nh, bytes)) return err;
  uChar* out = *nh;
  PutNative32(out, uInt32(recs.size()));
  out += 4;
  for (const ListRecord& r : recs) {
    std::memcpy(out, dirBytes + r.nameOffset, size_t(dirBytes[r.nameOffset]) + 1);
    out += 1 + dirBytes[r.nameOffset];
  }
  if (!records) return kNoErr;
  if (MgErr err = path_detail::SetSize(records, recordSize * int32(recs.size()))) return err;
  uChar* rec = *records;
  for (const ListRecord& r : recs) {
    PutNative32(rec, uInt32(r.flags));
    PutNative32(rec + 4, r.type);
    if (recordSize == 12) PutNative32(rec + 8, uInt32(r.id));
    rec += recordSize;
  }
  return kNoErr;
}

// Lists an open library.
MgErr ListLibrary(RsrcFileRef library, CPStrHandle names, UHandle records, int32 sortMode, int32 recordSize) {
  if (!names) return kArgErr;
  UHandle h = nullptr;
  ArchiveDir dir;
  if (MgErr err = LoadDir(library, &h, &dir)) return err;
  const uChar* bytes = h ? *h : nullptr;
  std::vector<ListRecord> recs;
  if (MgErr err = SortedListing(bytes, dir, sortMode, &recs)) return err;
  return StoreListing(bytes, recs, names, records, recordSize);
}

MgErr ListPath(Path path, CPStrHandle names, UHandle records, int32 sortMode, int32 recordSize) {
  Scope scope;
  RsrcFileRef library = 0;
  if (MgErr err = OpenCached(path, &library)) return err;
  return ListLibrary(library, names, records, sortMode, recordSize);
}

}  // namespace

MgErr SplitMemberPath(Path member, Path* library, PStr name) {
  *library = nullptr;
  if (!FIsAbsPath(member)) return kArgErr;
  if (MgErr err = FNamePtr(member, name)) return err;
  Path lib = FEmptyPath(nullptr);
  if (!lib) return kMemFullErr;
  if (MgErr err = FDirName(member, lib)) {
    FDisposePath(lib);
    return err;
  }
  *library = lib;
  return kNoErr;
}

MgErr SortedListing(const uChar* dirBytes, const ArchiveDir& dir, int32 sortMode, std::vector<ListRecord>* out) {
  try {
    out->resize(size_t(dir.Count()));
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  for (int32 i = 0; i < dir.Count(); ++i)
    (*out)[size_t(i)] = ListRecord{dir.Offset(i) + kEntryName, int32((dir.Flags(i) & kFlagTopLevel) | 3u),
                                   dir.Type(i), dir.Id(i), 0};
  if (sortMode != 0 && out->size() > 1) {
    SortContext c{dirBytes, sortMode};
    QSortData(out->data(), int32(out->size()), int32(sizeof(ListRecord)), CompareRecords, &c);
  }
  return kNoErr;
}

MgErr OpenMemberLibrary(Path member, RsrcFileRef* ref, PStr name) {
  Path library = nullptr;
  if (MgErr err = SplitMemberPath(member, &library, name)) return err;
  MgErr err = OpenCached(library, ref);
  FDisposePath(library);
  return err;
}

MgErr LoadDir(RsrcFileRef library, UHandle* handle, ArchiveDir* dir) {
  *handle = nullptr;
  UHandle h = nullptr;
  MgErr err = RGet(library, kRsrcDir, kDirId, &h);
  if (err == kRsrcNotFoundErr) {  // a library without members yet
    dir->Clear();
    return kNoErr;
  }
  if (err) return err;
  if (MgErr bad = dir->Attach(*h, AZGetHandleSize(h))) return bad;
  *handle = h;
  return kNoErr;
}

MgErr FindMember(RsrcFileRef library, ConstPStr name, uInt32* type, int32* id) {
  UHandle h = nullptr;
  ArchiveDir dir;
  if (MgErr err = LoadDir(library, &h, &dir)) return err;
  const int32 i = dir.Find(name);
  if (i < 0) return kFileNotFoundErr;
  if (type) *type = dir.Type(i);
  if (id) *id = dir.Id(i);
  return kNoErr;
}

}  // namespace archive

using namespace archive;

MgErr ArchiveDirList(Path path, CPStrHandle names, DirEntryTypeHandle types, int32 sortMode, int32 /*extra*/) {
  return ListPath(path, names, reinterpret_cast<UHandle>(types), sortMode, 8);
}

MgErr ArchiveDirListEx(Path path, CPStrHandle names, UHandle records, int32 sortMode, int32 /*extra*/,
                       int32 options) {
  return ListPath(path, names, records, sortMode, (options & kArchiveListRecords12) ? 12 : 8);
}

MgErr ArchiveDirListRef(RsrcFileRef library, CPStrHandle names, UHandle records, int32 sortMode, int32 /*extra*/) {
  Scope scope;
  return ListLibrary(library, names, records, sortMode, 12);
}

MgErr ArchiveLookupMember(Path library, ConstPStr name, uInt32* type) {
  if (!name) return kArgErr;
  Scope scope;
  if (IsBuiltApp() && RunTimeRsrcFile()) {
    MgErr err = FindMember(RunTimeRsrcFile(), name, type, nullptr);
    if (err != kFileNotFoundErr) return err;
  }
  if (!library) return kFileNotFoundErr;
  RsrcFileRef ref = 0;
  if (MgErr err = OpenCached(library, &ref)) return err;
  return FindMember(ref, name, type, nullptr);
}

MgErr ArchivePathMemberInfo(Path member, FileInfoRec* info) {
  if (!info) return kArgErr;
  Scope scope;
  Str255 name;
  RsrcFileRef ref = 0;
  if (MgErr err = OpenMemberLibrary(member, &ref, name)) return err;
  UHandle h = nullptr;
  ArchiveDir dir;
  if (MgErr err = LoadDir(ref, &h, &dir)) return err;
  const int32 i = dir.Find(name);
  if (i < 0) return kFileNotFoundErr;
  std::memset(info, 0, sizeof *info);
  info->type = dir.Type(i);
  info->creator = kCreator;
  info->mdate = dir.ModDate(i);
  info->cdate = dir.Date2(i);
  return kNoErr;
}
