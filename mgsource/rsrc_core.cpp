// The resource manager's state, its life, the map in memory, records and the
// search of all open files by handle.
#include <climits>
#include <cstring>

#include "debug.h"
#include "memory.h"
#include "platform/qx_file.h"
#include "rsrc_internal.h"
#include "sorting.h"

namespace rsrc {

Manager gMgr;
std::atomic<uInt64> gBytesWritten{0};

bool HeaderValid(const uChar* h) {
  if (GetNative32(h + kHdrSignature) != kSignature) return false;
  int16 version = int16(GetBE16(h + kHdrVersion));
  if (version == kOldVersion) return true;
  return version >= kVersion && h[kHdrLineEnd] == kLineEnd0 && h[kHdrLineEnd + 1] == kLineEnd1;
}

// ---- The map ------------------------------------------------------------------------

uInt32 Map::RefListsEnd() const {
  int32 n = TypeCount();
  if (n == 0) return kMapFixedSize;
  return Entry(n - 1, RefCount(n - 1));
}

int32 Map::EntryCount() const {
  int32 n = 0;
  for (int32 t = 0, nTypes = TypeCount(); t < nTypes; ++t) n += RefCount(t);
  return n;
}

const uChar* Map::Name(uInt32 e) const {
  uInt32 off = W(e + kRefNameOffset);
  if (off == kNoName) return nullptr;
  return p_ + NameList() + off;
}

int32 Map::FindType(ResType type) const {
  int32 n = TypeCount();
  for (int32 t = 0; t < n; ++t)
    if (TypeAt(t) == type) return t;
  return -1;
}

namespace {
int32 CompareId(const void* key, const void* entry) {
  int32 a = *static_cast<const int32*>(key);
  int32 b = int32(GetNative32(static_cast<const uChar*>(entry) + kRefId));
  return a < b ? -1 : (a > b ? 1 : 0);
}
}  // namespace

int32 Map::FindId(int32 t, int32 id) const {
  return BinSearch(p_ + RefList(t), RefCount(t), kRefEntrySize, &id, CompareId);
}

namespace {
inline uInt32 Convert(uChar* p, bool toHost) {
  uInt32 before = GetNative32(p);
  uInt32 after = __builtin_bswap32(before);
  PutNative32(p, after);
  return toHost ? after : before;
}
}  // namespace

void ConvertMap(uChar* m, bool toHost) {
  SwapBW(m + kHdrVersion);
  Convert(m + kHdrMapOffset, toHost);
  uInt32 size = Convert(m + kHdrMapSize, toHost);
  Convert(m + kHdrDataOffset, toHost);
  Convert(m + kHdrDataSize, toHost);
  Convert(m + kMapFileRef, toHost);
  Convert(m + kMapAttrs, toHost);
  uInt32 typeList = Convert(m + kMapTypeList, toHost);
  Convert(m + kMapNameList, toHost);
  if (size <= kMapEmptyLimit) return;
  // The entries are walked while the type list is in host order: after it
  // is converted when going to host order, before when leaving it.
  auto types = [&] {
    uInt32 nTypes = Convert(m + typeList, toHost) + 1;
    for (uInt32 t = 0; t < nTypes; ++t) {
      uChar* te = m + typeList + kTypeCountSize + kTypeEntrySize * t;
      Convert(te + kTypeCountMinus1, toHost);
      Convert(te + kTypeRefListOffset, toHost);
    }
  };
  if (toHost) types();
  WalkEntries(m, typeList, GetNative32(m + typeList) + 1, GetNative32, [&](const EntryAt& at) {
    for (uInt32 word : {kRefId, kRefNameOffset, kRefAttrs, kRefDataOffset}) Convert(m + at.entry + word, toHost);
    return true;
  });
  if (!toHost) types();
}

void StoredMap(const Map& m, uChar* out) {
  uInt32 length = m.Length();
  std::memcpy(out, m.Bytes(), length);
  Map copy(out);
  // The run-time words have no meaning on disk: the reference and the handles are 0.
  copy.SetW(kMapFileRef, 0);
  copy.ForEachEntry([&](const EntryAt& at) {
    copy.SetHandle(at.entry, nullptr);
    return true;
  });
  ConvertMap(out, false);
}

void DisposeLoaded(Map& m) {
  m.ForEachEntry([&](const EntryAt& at) {
    if (UHandle h = m.HandleAt(at.entry)) {
      AZDisposeHandle(h);
      m.SetHandle(at.entry, nullptr);
    }
    return true;
  });
}

// ---- Open files -----------------------------------------------------------------------

MgErr GetFile(RsrcFileRef ref, FileRec* rec) {
  if (!gMgr.jar || !ref || MCGetCookieInfo(gMgr.jar, ref, rec) != kNoErr) return kRsrcFileNotFoundErr;
  return kNoErr;
}

void SetFile(RsrcFileRef ref, const FileRec& rec) { MCSetCookieInfo(gMgr.jar, ref, &rec); }

namespace {
// The entry of the type and id whose handle is h, or 0.
uInt32 EntryWithHandle(const Map& m, int32 t, int32 id, UHandle h) {
  int32 i = m.FindId(t, id);
  if (i < 0) return 0;
  uInt32 e = m.Entry(t, i);
  return m.HandleAt(e) == h ? e : 0;
}
}  // namespace

MgErr FindByHandle(UHandle h, Found* found) {
  if (!h || !gMgr.jar) return kRsrcNotFoundErr;
  const LastResource& last = gMgr.last;
  if (h == last.handle && GetFile(last.file, &found->rec) == kNoErr) {
    Map m = MapOf(found->rec);
    int32 t = m.FindType(last.type);
    if (t >= 0) {
      if (uInt32 e = EntryWithHandle(m, t, last.id, h)) {
        found->ref = last.file;
        found->type = t;
        found->entry = e;
        return kNoErr;
      }
    }
  }
  if (MCGetCookieList(gMgr.jar, &gMgr.cookies) != kNoErr) return kRsrcNotFoundErr;
  int32 n;
  std::memcpy(&n, *gMgr.cookies, sizeof n);
  for (int32 k = 0; k < n; ++k) {
    RsrcFileRef ref;
    std::memcpy(&ref, *gMgr.cookies + sizeof(int32) * (k + 1), sizeof ref);
    if (GetFile(ref, &found->rec) != kNoErr) continue;
    const Map m = MapOf(found->rec);
    const bool searched = m.ForEachEntry([&](const EntryAt& at) {
      if (m.HandleAt(at.entry) != h) return true;
      found->ref = ref;
      found->type = at.type;
      found->entry = at.entry;
      return false;
    });
    if (!searched) return kNoErr;
  }
  return kRsrcNotFoundErr;
}

// ---- Records ------------------------------------------------------------------------

MgErr ReadAt(FileRef f, uInt64 pos, void* buf, int32 n) {
  if (pos > uInt64(INT32_MAX)) return kEOFErr;
  if (MgErr err = FMSeek(f, int32(pos), kFStart)) return err;
  return FMRead(f, n, nullptr, static_cast<UPtr>(buf));
}

MgErr WriteAt(FileRef f, uInt64 pos, const void* buf, int32 n) {
  if (pos + uInt64(n) > uInt64(INT32_MAX)) return kDiskFullErr;
  int32 size;
  if (MgErr err = FGetEOF(f, &size)) return err;
  // The file layer seeks only inside the file: reach a position past its end first.
  if (pos > uInt64(size))
    if (MgErr err = FSetEOF(f, int32(pos))) return err;
  if (MgErr err = FMSeek(f, int32(pos), kFStart)) return err;
  int32 done = 0;
  MgErr err = FMWrite(f, n, &done, buf);
  gBytesWritten.fetch_add(uInt64(done > 0 ? done : 0), std::memory_order_relaxed);
  if (err == kNoErr && done != n) err = kDiskFullErr;
  return err;
}

MgErr RecordLength(const FileRec& f, const Map& m, uInt32 offset, uInt32* length) {
  const uInt64 size = m.DataSize();
  if (uInt64(offset) + kRecordLengthSize > size) return kEOFErr;
  uChar word[4];
  if (f.data) {
    std::memcpy(word, f.data + offset, 4);
  } else if (MgErr err = ReadAt(f.file, uInt64(m.DataOffset()) + offset, word, 4)) {
    return err;
  }
  uInt32 n = GetBE32(word);
  if (uInt64(offset) + kRecordLengthSize + n > size) return kEOFErr;
  *length = n;
  return kNoErr;
}

MgErr ReadRecord(const FileRec& f, const Map& m, uInt32 offset, UHandle* out) {
  *out = nullptr;
  uInt32 n;
  if (MgErr err = RecordLength(f, m, offset, &n)) return err;
  if (n > uInt32(INT32_MAX)) return kMemFullErr;
  UHandle h = AZNewHandle(int32(n));
  if (!h) return kMemFullErr;
  const uInt64 at = uInt64(offset) + kRecordLengthSize;
  if (f.data) {
    std::memcpy(*h, f.data + at, n);
  } else if (MgErr err = ReadAt(f.file, uInt64(m.DataOffset()) + at, *h, int32(n))) {
    AZDisposeHandle(h);
    return err;
  }
  *out = h;
  return kNoErr;
}

MgErr LoadEntry(RsrcFileRef ref, const FileRec& f, Map& m, int32 t, uInt32 e, UHandle* out) {
  UHandle h = m.HandleAt(e);
  if (!h) {
    if (MgErr err = ReadRecord(f, m, m.W(e + kRefDataOffset), &h)) return err;
    m.SetHandle(e, h);
  }
  gMgr.last = LastResource{ref, m.TypeAt(t), h, m.Id(e)};
  *out = h;
  return kNoErr;
}

}  // namespace rsrc

using namespace rsrc;

// ---- Manager life ---------------------------------------------------------------------

MgErr RInitResources() {
  gMgr.granularity = PlatMapGranularity();
  if (!gMgr.mutex)
    if (MgErr err = ThMutexCreate(&gMgr.mutex, "RsrcMutex")) return err;
  if (!gMgr.jar) {
    gMgr.jar = MCNewBigJar(int32(sizeof(FileRec)));
    if (!gMgr.jar) return kMemFullErr;
  }
  gMgr.last = LastResource{};
  gMgr.unusedId = kFirstUnusedId;
  return kNoErr;
}

void RExitResources() {
  if (gMgr.jar) MCDisposeJar(gMgr.jar);
  gMgr.jar = nullptr;
  if (gMgr.cookies) AZDisposeHandle(gMgr.cookies);
  gMgr.cookies = nullptr;
  if (gMgr.mutex) ThMutexDestroy(gMgr.mutex);
  gMgr.mutex = nullptr;
  gMgr.last = LastResource{};
}
