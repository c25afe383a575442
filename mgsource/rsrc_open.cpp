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

// What the check of a map found.
struct MapShape {
  uInt32 nEntries;
  uInt32 namesSize;  // bytes of the names of all entries
  bool canonical;    // type list at 52, lists back to back, names back to back at the end
};

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
    for (uInt64 i = 1; i < count; ++i) {
      int32 a = int32(GetBE32(m + list + kRefEntrySize * (i - 1) + kRefId));
      int32 b = int32(GetBE32(m + list + kRefEntrySize * i + kRefId));
      if (b <= a) return kBad;
    }
    prevEnd = end;
    nEntries += count;
  }
  if (nl == 0 ? prevEnd != L : (nl != prevEnd || nameListEnd != L)) canonical = false;

  // Names: inside the name list, apart.
  ScratchBlock scratch(uInt64(sizeof(Span)) * nEntries);
  Span* spans = reinterpret_cast<Span*>(scratch.Get());
  if (!spans) return kMemFullErr;
  int32 nNames = 0;
  uInt64 namesSize = 0;
  for (uInt64 t = 0; t < nTypes; ++t) {
    const uChar* te = m + tl + kTypeCountSize + kTypeEntrySize * t;
    const uInt64 count = uInt64(GetBE32(te + kTypeCountMinus1)) + 1;
    const uChar* e = m + tl + GetBE32(te + kTypeRefListOffset);
    for (uInt64 i = 0; i < count; ++i, e += kRefEntrySize) {
      uInt32 off = GetBE32(e + kRefNameOffset);
      if (off == kNoName) continue;
      const uInt64 at = nl + off;
      if (nl == 0 || at + 1 > nameListEnd || at + 1 + m[at] > nameListEnd) return kBad;
      spans[nNames++] = Span{uInt32(at), uInt32(at + 1 + m[at])};
      namesSize += 1 + m[at];
    }
  }
  if (!Apart(spans, nNames)) return kBad;
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
  const uInt32 tl = GetBE32(m + kMapTypeList);
  const uInt32 nl = GetBE32(m + kMapNameList);
  const uInt32 nTypes = GetBE32(m + tl) + 1;
  const uInt32 refsAt = kMapFixedSize + kTypeCountSize + kTypeEntrySize * nTypes;
  const uInt32 namesAt = refsAt + kRefEntrySize * shape.nEntries;
  ScratchBlock scratch(uInt64(sizeof(NameRef)) * shape.nEntries);
  NameRef* names = reinterpret_cast<NameRef*>(scratch.Get());
  UHandle h = names ? AZNewHandle(int32(namesAt + shape.namesSize)) : nullptr;
  if (!h) return kMemFullErr;
  uChar* p = *h;
  std::memcpy(p, m, kMapFixedSize);
  PutBE32(p + kMapTypeList, kMapFixedSize);
  PutBE32(p + kMapNameList, shape.namesSize ? namesAt : 0);
  PutBE32(p + kMapFixedSize, nTypes - 1);
  uInt32 at = refsAt;
  int32 nNames = 0;
  for (uInt32 t = 0; t < nTypes; ++t) {
    const uChar* te = m + tl + kTypeCountSize + kTypeEntrySize * t;
    uChar* ne = p + kMapFixedSize + kTypeCountSize + kTypeEntrySize * t;
    const uInt32 count = GetBE32(te + kTypeCountMinus1) + 1;
    std::memcpy(ne, te, kTypeEntrySize);
    PutBE32(ne + kTypeRefListOffset, at - kMapFixedSize);
    std::memcpy(p + at, m + tl + GetBE32(te + kTypeRefListOffset), kRefEntrySize * count);
    for (uInt32 i = 0; i < count; ++i, at += kRefEntrySize) {
      uInt32 off = GetBE32(p + at + kRefNameOffset);
      if (off != kNoName) names[nNames++] = NameRef{off, at};
    }
  }
  QSort(names, nNames, int32(sizeof(NameRef)), CompareNameRefs);
  for (int32 k = 0; k < nNames; ++k) {
    const uChar* name = m + nl + names[k].offset;
    PutBE32(p + names[k].entry + kRefNameOffset, at - namesAt);
    std::memcpy(p + at, name, size_t(name[0]) + 1);
    at += uInt32(name[0]) + 1;
  }
  PutBE32(p + kHdrMapSize, at);
  *out = h;
  return kNoErr;
}

// Checks the records of a stored map: each one whose length word lies in the
// data section takes its padded length (or the rest of the section when it
// runs past), and no two of them overlap.
MgErr CheckRecords(const uChar* m, const MapShape& shape, const Source& src, const uChar* data,
                   uInt64 dataAt, uInt32 dataSize) {
  const uInt32 tl = GetBE32(m + kMapTypeList);
  const uInt32 nTypes = GetBE32(m + tl) + 1;
  ScratchBlock scratch(uInt64(sizeof(Span)) * shape.nEntries);
  Span* spans = reinterpret_cast<Span*>(scratch.Get());
  if (!spans) return kMemFullErr;
  int32 n = 0;
  for (uInt32 t = 0; t < nTypes; ++t) {
    const uChar* te = m + tl + kTypeCountSize + kTypeEntrySize * t;
    const uInt32 count = GetBE32(te + kTypeCountMinus1) + 1;
    const uChar* e = m + tl + GetBE32(te + kTypeRefListOffset);
    for (uInt32 i = 0; i < count; ++i, e += kRefEntrySize) {
      const uInt64 off = GetBE32(e + kRefDataOffset);
      if (off + kRecordLengthSize > dataSize) continue;  // read later as end of file
      uChar w[4];
      if (data) {
        std::memcpy(w, data + off, 4);
      } else if (MgErr err = ReadAt(src.file, dataAt + off, w, 4)) {
        return err == kEOFErr ? kRsrcFileNotFoundErr : err;
      }
      uInt64 end = off + RecordSize(GetBE32(w));
      if (off + kRecordLengthSize + GetBE32(w) > dataSize) end = dataSize;
      spans[n++] = Span{uInt32(off), uInt32(end > 0xFFFFFFFFu ? 0xFFFFFFFFu : end)};
    }
  }
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

MgErr OpenLocked(const Source& src, int32 mode, RsrcFileRef* ref, uInt32* fileType, uInt32* creator) {
  uChar h[kHeaderSize];
  uInt32 base = 0;
  if (MgErr err = src.Header(base, h)) return err;
  if (!HeaderValid(h)) {
    if (src.image) return kRsrcFileNotFoundErr;
    if (MgErr err = TrailerOffset(src.file, &base)) return err;
    if (uInt64(base) + kHeaderSize > src.size) return kRsrcFileNotFoundErr;
    if (MgErr err = src.Header(base, h)) return err;
    if (!HeaderValid(h)) return kRsrcFileNotFoundErr;
  }
  // A write-back puts its header at the host file's first byte: an appended
  // file is only read.
  if (base != 0 && mode == kRsrcReadWrite) return kFilePermErr;

  const uInt64 mapOff = GetBE32(h + kHdrMapOffset), mapSize = GetBE32(h + kHdrMapSize);
  const uInt64 dataOff = GetBE32(h + kHdrDataOffset), dataSize = GetBE32(h + kHdrDataSize);
  const uInt64 end = src.size;
  if (mapSize != 0 && (mapSize < uInt64(kMapFixedSize) || mapOff < uInt64(kHeaderSize) ||
                       base + mapOff + mapSize > end))
    return kRsrcFileNotFoundErr;
  if (dataOff < uInt64(kHeaderSize) || base + dataOff + dataSize > end) return kRsrcFileNotFoundErr;
  if (mapSize != 0 && dataSize != 0 && mapOff < dataOff + dataSize && dataOff < mapOff + mapSize)
    return kRsrcFileNotFoundErr;

  // The map, still in stored order.
  Opening o;
  uChar* m;
  MapShape shape = {0, 0, true};
  if (mapSize == 0) {
    o.map = AZNewHClr(kMapFixedSize);
    if (!o.map) return kMemFullErr;
    m = *o.map;
  } else {
    if (src.image) {
      m = *src.image + base + mapOff;
    } else {
      if (mapSize > uInt64(INT32_MAX) || !(o.map = AZNewHandle(int32(mapSize)))) return kMemFullErr;
      MgErr err = ReadAt(src.file, base + mapOff, *o.map, int32(mapSize));
      if (err) return err == kEOFErr ? kRsrcFileNotFoundErr : err;
      m = *o.map;
    }
    if (MgErr err = CheckMap(m, uInt32(mapSize), &shape)) return err;
    if (mode == kRsrcReadWrite && !shape.canonical) {
      UHandle c;
      if (MgErr err = CanonicalMap(m, shape, &c)) return err;
      AZDisposeHandle(o.map);
      o.map = c;
      m = *c;
    }
  }

  // The data section: inside the image, or a read-only view of the file.
  FileRec rec = {kFileKind, src.file, o.map, nullptr, nullptr, nullptr, 0};
  if (src.image) {
    if (!o.map) rec.mapAddr = m;
    rec.region = src.image;
    rec.data = *src.image + base + dataOff;
    rec.regionLength = int32(src.size);
  } else if (mode == kRsrcReadOnly && dataSize != 0) {
    const uInt64 at = base + dataOff;
    const uInt64 aligned = at - at % gMgr.granularity;
    const uInt64 span = dataSize + (at - aligned);
    const uint8_t* addr = nullptr;
    if (span <= 0xFFFFFFFFu &&
        PlatFileMapView(filemgr_detail::Plat(src.file), int64(aligned), uInt32(span), &o.view, &addr) == 0) {
      rec.region = o.view;
      rec.data = const_cast<UPtr>(addr) + (at - aligned);
      rec.regionLength = int32(span);
    }
  }
  if (mapSize != 0)
    if (MgErr err = CheckRecords(m, shape, src, rec.data, base + dataOff, uInt32(dataSize))) return err;

  RsrcFileRef cookie = MCNewCookie(gMgr.jar, &rec);
  if (!cookie) return kMemFullErr;
  o.keep = true;

  // Into host order.  The header copy becomes the checked header, with the
  // offsets taken from the host file's first byte.
  std::memcpy(m, h, kHeaderSize);
  if (mapSize == 0) {
    PutBE32(m + kMapTypeList, kMapFixedSize);
    PutBE32(m + kMapNameList, 0);
  } else if (o.map) {
    PutBE32(m + kHdrMapSize, uInt32(AZGetHandleSize(o.map)));  // a rebuilt map is shorter
  }
  ConvertMap(m, true);
  Map map(m);
  map.SetW(kHdrMapOffset, uInt32(base + mapOff));
  map.SetW(kHdrDataOffset, uInt32(base + dataOff));
  m[kHdrLineEnd] = kLineEnd0;
  m[kHdrLineEnd + 1] = kLineEnd1;
  int16 version = kVersion;
  std::memcpy(m + kHdrVersion, &version, 2);
  map.SetW(kMapFileRef, cookie);
  map.SetW(kMapAttrs, mode == kRsrcReadOnly ? uInt32(kMapAttrReadOnly) : 0u);
  // Nothing is loaded yet, so no data in memory is changed.
  for (int32 t = 0, nTypes = map.TypeCount(); t < nTypes; ++t)
    for (int32 i = 0, n = map.RefCount(t); i < n; ++i) {
      uInt32 e = map.Entry(t, i);
      map.SetHandle(e, nullptr);
      map.SetW(e + kRefAttrs, map.W(e + kRefAttrs) & ~uInt32(kAttrChanged));
    }
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
    Source src = {f, nullptr, uInt64(size)};
    err = src.Header(0, h);
    if (err == kNoErr && !HeaderValid(h)) {
      uInt32 base = 0;
      err = TrailerOffset(f, &base);
      if (err == kNoErr) err = src.Header(base, h);
      if (err == kNoErr && !HeaderValid(h)) err = kRsrcFileNotFoundErr;
    }
  }
  FMClose(f);
  if (err != kNoErr) return err;
  if (fileType) *fileType = GetNative32(h + kHdrFileType);
  if (creator) *creator = GetNative32(h + kHdrCreator);
  return kNoErr;
}

MgErr RCloseFile(RsrcFileRef ref) {
  FileRec rec;
  {
    Lock lock;
    if (MgErr err = GetFile(ref, &rec)) return err;
    if (MgErr err = RUpdateFile(ref)) return err;
    Map m = MapOf(rec);
    DisposeLoaded(m);
    if (rec.file && rec.region) PlatUnmapView(static_cast<PlatView*>(rec.region));
    if (!rec.file && rec.region) AZDisposeHandle(static_cast<UHandle>(rec.region));
    if (rec.mapHandle) AZDisposeHandle(rec.mapHandle);
    MCDisposeCookie(gMgr.jar, ref, nullptr);
    if (gMgr.last.file == ref) gMgr.last = LastResource{};
  }
  return rec.file ? FMClose(rec.file) : kNoErr;
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
