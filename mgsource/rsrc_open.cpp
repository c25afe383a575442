// Opening and closing resource files, and the check of every file and
// memory image before anything of it is kept.
//
// A file is untrusted.  Before the map is allocated the header's numbers are
// checked in 64-bit arithmetic against the host file or image: map and data
// section inside it, after the header and apart.  The map is then checked
// whole (type list, counts, reference lists in type order and apart, ids
// ascending, names inside the name list and apart) and so are the records
// (by data offset and length word, apart).  Whatever fails is 13.
#include <climits>
#include <cstring>

#include "debug.h"
#include "filemgr_internal.h"
#include "memory.h"
#include "platform/qx_file.h"
#include "rsrc_internal.h"
#include "sorting.h"

namespace rsrc {
namespace {

// A byte range [start, end).
struct Span {
  uInt32 start, end;
};
static_assert(sizeof(Span) == 8, "span");

int32 CompareSpans(const void* a, const void* b) {
  uInt32 x = static_cast<const Span*>(a)->start, y = static_cast<const Span*>(b)->start;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// True when no two of the spans overlap.
bool Apart(Span* spans, int32 n) {
  QSort(spans, n, int32(sizeof(Span)), CompareSpans);
  for (int32 i = 1; i < n; ++i)
    if (spans[i].start < spans[i - 1].end) return false;
  return true;
}

// Where a resource file comes from.
struct Source {
  FileRef file;
  UHandle image;
  uInt64 size;  // of the host file or the image

  // The 32 header bytes at base: 13 when they are not all there.
  MgErr Header(uInt32 base, uChar* h) const {
    if (uInt64(base) + kHeaderSize > size) return kRsrcFileNotFoundErr;
    if (image) {
      std::memcpy(h, *image + base, kHeaderSize);
      return kNoErr;
    }
    if (FMSeek(file, int32(base), kFStart) != kNoErr) return kRsrcFileNotFoundErr;
    MgErr err = FMRead(file, kHeaderSize, nullptr, h);
    return err == kEOFErr ? kRsrcFileNotFoundErr : err;
  }
};

// The last 4 bytes of the host file: the offset of an appended resource file.
MgErr TrailerOffset(FileRef file, uInt32* base) {
  if (MgErr err = FMSeek(file, -4, kFEnd)) return err;
  uChar w[4];
  if (MgErr err = FMRead(file, 4, nullptr, w)) return err;
  *base = GetLE32(w);
  return kNoErr;
}

// The header of a resource file: at the start, else (in a host file) at
// the offset in the last 4 bytes.  13 when neither is valid.
MgErr FindHeader(const Source& src, uInt32* base, uChar* h) {
  *base = 0;
  if (MgErr err = src.Header(0, h)) return err;
  if (HeaderValid(h)) return kNoErr;
  if (src.image) return kRsrcFileNotFoundErr;
  if (MgErr err = TrailerOffset(src.file, base)) return err;
  if (MgErr err = src.Header(*base, h)) return err;
  return HeaderValid(h) ? kNoErr : kRsrcFileNotFoundErr;
}

// Where the header puts the map and the data section, from the host file's
// first byte.
struct Sections {
  uInt64 mapAt, mapSize, dataAt, dataSize;
};

// The header's map and data section: inside the host file or image, after
// the header, and apart.
MgErr CheckSections(const Source& src, uInt32 base, const uChar* h, Sections* s) {
  constexpr MgErr kBad = kRsrcFileNotFoundErr;
  const uInt64 mapOff = GetBE32(h + kHdrMapOffset), dataOff = GetBE32(h + kHdrDataOffset);
  *s = Sections{base + mapOff, GetBE32(h + kHdrMapSize), base + dataOff, GetBE32(h + kHdrDataSize)};
  if (s->mapSize != 0 && (s->mapSize < uInt64(kMapFixedSize) || mapOff < uInt64(kHeaderSize) ||
                          s->mapAt + s->mapSize > src.size))
    return kBad;
  if (dataOff < uInt64(kHeaderSize) || s->dataAt + s->dataSize > src.size) return kBad;
  if (s->mapSize != 0 && s->dataSize != 0 && s->mapAt < s->dataAt + s->dataSize &&
      s->dataAt < s->mapAt + s->mapSize)
    return kBad;
  return kNoErr;
}

// What the check of a map found.
struct MapShape {
  uInt32 nEntries;
  uInt32 namesSize;  // bytes of the names of all entries
  bool canonical;    // type list at 52, lists back to back, names back to back at the end
};

// The type list and reference lists of a stored map.
struct StoredLists {
  uInt32 typeList, nameList, nTypes;
};
StoredLists ListsOf(const uChar* m) {
  const uInt32 tl = GetBE32(m + kMapTypeList);
  return StoredLists{tl, GetBE32(m + kMapNameList), GetBE32(m + tl) + 1};
}

// Checks a stored (big-endian) map of length bytes.
MgErr CheckMap(const uChar* m, uInt32 length, MapShape* shape) {
  constexpr MgErr kBad = kRsrcFileNotFoundErr;
  if (length < uInt32(kMapFixedSize)) return kBad;
  const uInt64 L = length;
  const uInt64 tl = GetBE32(m + kMapTypeList);
  const uInt64 nl = GetBE32(m + kMapNameList);
  if (tl < uInt64(kMapFixedSize) || tl + kTypeCountSize > L) return kBad;
  const uInt64 nTypes = uInt64(GetBE32(m + tl)) + 1;
  const uInt64 typeListEnd = tl + kTypeCountSize + kTypeEntrySize * nTypes;
  if (typeListEnd > L) return kBad;

  // The reference lists: inside the map, in type order, apart from the type
  // list, each other and the start of the name list.
  bool canonical = tl == uInt64(kMapFixedSize);
  uInt64 prevEnd = typeListEnd;
  uInt64 nEntries = 0;
  uInt64 nameListEnd = L;
  if (nl != 0 && (nl < uInt64(kMapFixedSize) || nl > L)) return kBad;
  if (nl != 0 && nl < typeListEnd) {
    if (nl > tl) return kBad;  // inside the type list
    nameListEnd = tl;
  }
  for (uInt64 t = 0; t < nTypes; ++t) {
    const uChar* te = m + tl + kTypeCountSize + kTypeEntrySize * t;
    const uInt64 count = uInt64(GetBE32(te + kTypeCountMinus1)) + 1;
    const uInt64 list = tl + GetBE32(te + kTypeRefListOffset);
    if (list < prevEnd) return kBad;  // out of type order, or over the type list or another list
    if (list != prevEnd) canonical = false;
    const uInt64 end = list + kRefEntrySize * count;
    if (end > L) return kBad;
    if (nl != 0 && nl >= typeListEnd) {
      if (nl > list && nl < end) return kBad;  // the name list starts inside this list
      if (list >= nl && list < nameListEnd) nameListEnd = list;
    }
    prevEnd = end;
    nEntries += count;
  }
  if (nl == 0 ? prevEnd != L : (nl != prevEnd || nameListEnd != L)) canonical = false;

  // The entries: ids ascending within a type; names inside the name list
  // and apart.
  ScratchBlock scratch(uInt64(sizeof(Span)) * nEntries);
  Span* spans = reinterpret_cast<Span*>(scratch.Get());
  if (!spans) return kMemFullErr;
  int32 nNames = 0;
  uInt64 namesSize = 0;
  int32 prevId = 0;
  const bool sound = WalkEntries(m, uInt32(tl), uInt32(nTypes), GetBE32, [&](const EntryAt& at) {
    const uChar* e = m + at.entry;
    const int32 id = int32(GetBE32(e + kRefId));
    if (at.index > 0 && id <= prevId) return false;
    prevId = id;
    const uInt32 off = GetBE32(e + kRefNameOffset);
    if (off == kNoName) return true;
    const uInt64 name = nl + off;
    if (nl == 0 || name + 1 > nameListEnd || name + 1 + m[name] > nameListEnd) return false;
    spans[nNames++] = Span{uInt32(name), uInt32(name + 1 + m[name])};
    namesSize += 1 + m[name];
    return true;
  });
  if (!sound || !Apart(spans, nNames)) return kBad;
  // Names back to back, filling the name list.
  if (nl != 0 && namesSize != nameListEnd - nl) canonical = false;
  shape->nEntries = uInt32(nEntries);
  shape->namesSize = uInt32(namesSize);
  shape->canonical = canonical;
  return kNoErr;
}

// The entry of a name, for the rebuilding of a name list.
struct NameRef {
  uInt32 offset;  // in the old name list
  uInt32 entry;   // the entry's place in the new map
};

int32 CompareNameRefs(const void* a, const void* b) {
  uInt32 x = static_cast<const NameRef*>(a)->offset, y = static_cast<const NameRef*>(b)->offset;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The map of a writable file in the layout that editing keeps: type list at
// 52, reference lists back to back, the names back to back in their old
// order at the end.  Returns a new handle.
MgErr CanonicalMap(const uChar* m, const MapShape& shape, UHandle* out) {
  const StoredLists old = ListsOf(m);
  const uInt32 refsAt = kMapFixedSize + kTypeCountSize + kTypeEntrySize * old.nTypes;
  const uInt32 namesAt = refsAt + kRefEntrySize * shape.nEntries;
  ScratchBlock scratch(uInt64(sizeof(NameRef)) * shape.nEntries);
  NameRef* names = reinterpret_cast<NameRef*>(scratch.Get());
  UHandle h = names ? AZNewHandle(int32(namesAt + shape.namesSize)) : nullptr;
  if (!h) return kMemFullErr;
  uChar* p = *h;
  std::memcpy(p, m, kMapFixedSize);
  PutBE32(p + kMapTypeList, kMapFixedSize);
  PutBE32(p + kMapNameList, shape.namesSize ? namesAt : 0);
  PutBE32(p + kMapFixedSize, old.nTypes - 1);
  // The types, each with its list moved up against the one before.
  uInt32 at = refsAt;
  for (uInt32 t = 0; t < old.nTypes; ++t) {
    const uChar* te = m + old.typeList + kTypeCountSize + kTypeEntrySize * t;
    uChar* ne = p + kMapFixedSize + kTypeCountSize + kTypeEntrySize * t;
    const uInt32 bytes = kRefEntrySize * (GetBE32(te + kTypeCountMinus1) + 1);
    std::memcpy(ne, te, kTypeEntrySize);
    PutBE32(ne + kTypeRefListOffset, at - kMapFixedSize);
    std::memcpy(p + at, m + old.typeList + GetBE32(te + kTypeRefListOffset), bytes);
    at += bytes;
  }
  // The names, in their old order, after the lists.
  int32 nNames = 0;
  WalkEntries(p, kMapFixedSize, old.nTypes, GetBE32, [&](const EntryAt& e) {
    const uInt32 off = GetBE32(p + e.entry + kRefNameOffset);
    if (off != kNoName) names[nNames++] = NameRef{off, e.entry};
    return true;
  });
  QSort(names, nNames, int32(sizeof(NameRef)), CompareNameRefs);
  for (int32 k = 0; k < nNames; ++k) {
    const uChar* name = m + old.nameList + names[k].offset;
    PutBE32(p + names[k].entry + kRefNameOffset, at - namesAt);
    std::memcpy(p + at, name, size_t(name[0]) + 1);
    at += uInt32(name[0]) + 1;
  }
  PutBE32(p + kHdrMapSize, at);
  *out = h;
  return kNoErr;
}

// Checks the records of a stored map: no two of those that lie inside the
// data section overlap.  A record whose length word or bytes run past the
// section's end is left out: reading it gives end of file, and the others
// still read.
MgErr CheckRecords(const uChar* m, const MapShape& shape, const Source& src, const uChar* data,
                   const Sections& s) {
  const StoredLists lists = ListsOf(m);
  ScratchBlock scratch(uInt64(sizeof(Span)) * shape.nEntries);
  Span* spans = reinterpret_cast<Span*>(scratch.Get());
  if (!spans) return kMemFullErr;
  int32 n = 0;
  MgErr err = kNoErr;
  WalkEntries(m, lists.typeList, lists.nTypes, GetBE32, [&](const EntryAt& at) {
    const uInt64 off = GetBE32(m + at.entry + kRefDataOffset);
    if (off + kRecordLengthSize > s.dataSize) return true;
    uChar w[4];
    if (data) {
      std::memcpy(w, data + off, 4);
    } else if ((err = ReadAt(src.file, s.dataAt + off, w, 4)) != kNoErr) {
      if (err == kEOFErr) err = kRsrcFileNotFoundErr;
      return false;
    }
    const uInt64 end = off + RecordSize(GetBE32(w));
    if (off + kRecordLengthSize + GetBE32(w) > s.dataSize) return true;
    spans[n++] = Span{uInt32(off), uInt32(end > 0xFFFFFFFFu ? 0xFFFFFFFFu : end)};
    return true;
  });
  if (err) return err;
  return Apart(spans, n) ? kNoErr : kRsrcFileNotFoundErr;
}

// What an opening has made so far, undone unless it is kept.
struct Opening {
  UHandle map = nullptr;
  PlatView* view = nullptr;
  bool keep = false;
  ~Opening() {
    if (keep) return;
    if (map) AZDisposeHandle(map);
    if (view) PlatUnmapView(view);
  }
};

// The map, checked and still in stored order: read from the file into a new
// handle (rebuilt in the editing layout for a writable file), in place inside
// a memory image, or an empty 52-byte map when the header has none.
MgErr LoadMap(const Source& src, int32 mode, const Sections& s, Opening& o, uChar** map, MapShape* shape) {
  *shape = MapShape{0, 0, true};
  if (s.mapSize == 0) {
    o.map = AZNewHClr(kMapFixedSize);
    if (!o.map) return kMemFullErr;
    *map = *o.map;
    return kNoErr;
  }
  uChar* m;
  if (src.image) {
    m = *src.image + s.mapAt;
  } else {
    if (s.mapSize > uInt64(INT32_MAX) || !(o.map = AZNewHandle(int32(s.mapSize)))) return kMemFullErr;
    MgErr err = ReadAt(src.file, s.mapAt, *o.map, int32(s.mapSize));
    if (err) return err == kEOFErr ? kRsrcFileNotFoundErr : err;
    m = *o.map;
  }
  if (MgErr err = CheckMap(m, uInt32(s.mapSize), shape)) return err;
  if (mode == kRsrcReadWrite && !shape->canonical) {
    UHandle c;
    if (MgErr err = CanonicalMap(m, *shape, &c)) return err;
    AZDisposeHandle(o.map);
    o.map = c;
    m = *c;
  }
  *map = m;
  return kNoErr;
}

// The open-file record: the data section inside the image, or a read-only
// view of the file (data is read through the file when the view can't be had).
FileRec RecordOf(const Source& src, int32 mode, const Sections& s, Opening& o, uChar* map) {
  FileRec rec = {kFileKind, src.file, o.map, nullptr, nullptr, nullptr, 0};
  if (src.image) {
    if (!o.map) rec.mapAddr = map;
    rec.region = src.image;
    rec.data = *src.image + s.dataAt;
    rec.regionLength = int32(src.size);
  } else if (mode == kRsrcReadOnly && s.dataSize != 0) {
    const uInt64 aligned = s.dataAt - s.dataAt % gMgr.granularity;
    const uInt64 span = s.dataSize + (s.dataAt - aligned);
    const uint8_t* addr = nullptr;
    if (span <= 0xFFFFFFFFu &&
        PlatFileMapView(filemgr_detail::Plat(src.file), int64(aligned), uInt32(span), &o.view, &addr) == 0) {
      rec.region = o.view;
      rec.data = const_cast<UPtr>(addr) + (s.dataAt - aligned);
      rec.regionLength = int32(span);
    }
  }
  return rec;
}

// Turns the checked map into host order for the open file of cookie.  The
// header copy becomes the checked header, with the offsets taken from the
// host file's first byte; nothing is loaded yet, so no data is changed.
void AdoptMap(uChar* m, UHandle mapHandle, const uChar* h, const Sections& s, int32 mode, RsrcFileRef cookie) {
  std::memcpy(m, h, kHeaderSize);
  if (s.mapSize == 0) {
    PutBE32(m + kMapTypeList, kMapFixedSize);
    PutBE32(m + kMapNameList, 0);
  } else if (mapHandle) {
    PutBE32(m + kHdrMapSize, uInt32(AZGetHandleSize(mapHandle)));  // a rebuilt map is shorter
  }
  ConvertMap(m, true);
  Map map(m);
  map.SetW(kHdrMapOffset, uInt32(s.mapAt));
  map.SetW(kHdrDataOffset, uInt32(s.dataAt));
  m[kHdrLineEnd] = kLineEnd0;
  m[kHdrLineEnd + 1] = kLineEnd1;
  int16 version = kVersion;
  std::memcpy(m + kHdrVersion, &version, 2);
  map.SetW(kMapFileRef, cookie);
  map.SetW(kMapAttrs, mode == kRsrcReadOnly ? uInt32(kMapAttrReadOnly) : 0u);
  map.ForEachEntry([&](const EntryAt& at) {
    map.SetHandle(at.entry, nullptr);
    map.SetW(at.entry + kRefAttrs, map.W(at.entry + kRefAttrs) & ~uInt32(kAttrChanged));
    return true;
  });
}

MgErr OpenLocked(const Source& src, int32 mode, RsrcFileRef* ref, uInt32* fileType, uInt32* creator) {
  uChar h[kHeaderSize];
  uInt32 base = 0;
  if (MgErr err = FindHeader(src, &base, h)) return err;
  // A write-back puts its header at the host file's first byte: an appended
  // file is only read.
  if (base != 0 && mode == kRsrcReadWrite) return kFilePermErr;
  Sections s;
  if (MgErr err = CheckSections(src, base, h, &s)) return err;

  Opening o;
  uChar* m = nullptr;
  MapShape shape;
  if (MgErr err = LoadMap(src, mode, s, o, &m, &shape)) return err;
  FileRec rec = RecordOf(src, mode, s, o, m);
  if (s.mapSize != 0)
    if (MgErr err = CheckRecords(m, shape, src, rec.data, s)) return err;

  RsrcFileRef cookie = MCNewCookie(gMgr.jar, &rec);
  if (!cookie) return kMemFullErr;
  o.keep = true;
  AdoptMap(m, o.map, h, s, mode, cookie);
  Map map(m);
  if (fileType) *fileType = map.FileType();
  if (creator) *creator = map.Creator();
  *ref = cookie;
  return kNoErr;
}

}  // namespace
}  // namespace rsrc

using namespace rsrc;

MgErr ROpenFileOrHandle(FileRef fileRef, int32 mode, RsrcFileRef* ref, uInt32* fileType, uInt32* creator,
                        UHandle memoryImage) {
  if (ref) *ref = 0;
  if (fileType) *fileType = 0;
  if (creator) *creator = 0;
  MgErr err = kArgErr;
  const bool modeOk = mode == kRsrcReadWrite || mode == kRsrcReadOnly;
  if (ref && modeOk && (fileRef != nullptr) != (memoryImage != nullptr) &&
      (!memoryImage || (mode == kRsrcReadOnly && AZIsHandle(memoryImage)))) {
    Source src = {fileRef, memoryImage, 0};
    if (memoryImage) {
      src.size = uInt64(AZGetHandleSize(memoryImage));
      err = kNoErr;
    } else {
      int32 size = 0;
      err = FGetEOF(fileRef, &size);
      src.size = uInt64(size);
    }
    if (err == kNoErr) {
      Lock lock;
      err = OpenLocked(src, mode, ref, fileType, creator);
    }
  }
  if (err != kNoErr && fileRef) FMClose(fileRef);
  return err;
}

MgErr ROpenFile(Path path, int32 mode, RsrcFileRef* ref, uInt32* fileType, uInt32* creator) {
  if (ref) *ref = 0;
  if (mode != kRsrcReadWrite && mode != kRsrcReadOnly) return kArgErr;
  FileRef f = nullptr;
  if (MgErr err = FMOpen(&f, path, mode, kDenyNone)) return err;
  return ROpenFileOrHandle(f, mode, ref, fileType, creator, nullptr);
}

MgErr ROpenFileDefault(Path path, int32 mode, RsrcFileRef* ref) {
  return ROpenFile(path, mode, ref, nullptr, nullptr);
}

MgErr RIsResFile(Path path, uInt32* fileType, uInt32* creator) {
  if (fileType) *fileType = 0;
  if (creator) *creator = 0;
  FileRef f = nullptr;
  if (MgErr err = FMOpen(&f, path, kAccessRead, kDenyNone)) return err;
  int32 size = 0;
  MgErr err = FGetEOF(f, &size);
  uChar h[kHeaderSize];
  if (err == kNoErr) {
    uInt32 base = 0;
    err = FindHeader(Source{f, nullptr, uInt64(size)}, &base, h);
  }
  FMClose(f);
  if (err != kNoErr) return err;
  if (fileType) *fileType = GetNative32(h + kHdrFileType);
  if (creator) *creator = GetNative32(h + kHdrCreator);
  return kNoErr;
}

MgErr RCloseFile(RsrcFileRef ref) {
  FileRec rec;
  MgErr updateErr = kNoErr;
  {
    Lock lock;
    if (MgErr err = GetFile(ref, &rec)) return err;
    // A failed write-back leaves the file open so that it can be tried
    // again, unless the failure lies in the file itself: a record that its
    // map names outside the data section never heals, and such a file is
    // released as it is on disk (the write-back changed nothing there).
    updateErr = RUpdateFile(ref);
    if (updateErr && !WriteBackHitDamage(updateErr)) return updateErr;
    Map m = MapOf(rec);
    DisposeLoaded(m);
    if (rec.file && rec.region) PlatUnmapView(static_cast<PlatView*>(rec.region));
    if (!rec.file && rec.region) AZDisposeHandle(static_cast<UHandle>(rec.region));
    if (rec.mapHandle) AZDisposeHandle(rec.mapHandle);
    MCDisposeCookie(gMgr.jar, ref, nullptr);
    if (gMgr.last.file == ref) gMgr.last = LastResource{};
  }
  const MgErr closeErr = rec.file ? FMClose(rec.file) : kNoErr;
  return updateErr ? updateErr : closeErr;
}

MgErr RGetModDate(Path path, RsrcFileRef ref, uInt32* date, Bool32* readOnly) {
  if (ref == 0) return FGetModDate(path, nullptr, date, readOnly);
  FileRec rec;
  {
    Lock lock;
    if (MgErr err = GetFile(ref, &rec)) return err;
  }
  if (!rec.file) return kArgErr;  // a memory image has no file
  return FGetModDate(nullptr, rec.file, date, readOnly);
}
