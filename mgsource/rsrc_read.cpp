// Reading resources: by type and id, index or name, the list resources, and
// the questions asked of a resource's handle.
#include <cstring>

#include "counted_strings.h"
#include "debug.h"
#include "memory.h"
#include "rsrc_internal.h"

using namespace rsrc;

namespace {

// The resource of a type and id: 15 when either is absent.
MgErr Lookup(const Map& m, ResType type, int32 id, int32* t, uInt32* e) {
  if (m.Empty()) return kRsrcNotFoundErr;
  *t = m.FindType(type);
  if (*t < 0) return kRsrcNotFoundErr;
  int32 i = m.FindId(*t, id);
  if (i < 0) return kRsrcNotFoundErr;
  *e = m.Entry(*t, i);
  return kNoErr;
}

MgErr GetLocked(RsrcFileRef ref, ResType type, int32 id, UHandle* handle) {
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  int32 t;
  uInt32 e;
  if (MgErr err = Lookup(m, type, id, &t, &e)) return err;
  return LoadEntry(ref, rec, m, t, e, handle);
}

// Walks a list resource from its count word to the wanted entry.  Each list
// form says how long the entry at the current position is; an entry running
// past the resource's end stops the walk with 4.
class ListWalk {
 public:
  explicit ListWalk(UHandle h) : p_(*h), size_(uInt32(AZGetHandleSize(h))), at_(0) {}
  // The entry at the position (and then the position itself).
  const uChar* Here() const { return p_ + at_; }
  bool Has(uInt64 n) const { return uInt64(at_) + n <= size_; }
  void Skip(uInt64 n) { at_ = uInt32(at_ + n); }

 private:
  const uChar* p_;
  uInt32 size_;
  uInt32 at_;
};

}  // namespace

MgErr RGet(RsrcFileRef ref, ResType type, int32 id, UHandle* handle) {
  if (!handle) return kArgErr;
  *handle = nullptr;
  Lock lock;
  return GetLocked(ref, type, id, handle);
}

MgErr RGetString(RsrcFileRef ref, int32 id, UHandle* handle) { return RGet(ref, kTypeString, id, handle); }

MgErr RGetInd(RsrcFileRef ref, ResType type, int32 index, UHandle* handle) {
  if (!handle) return kArgErr;
  *handle = nullptr;
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  int32 t = m.Empty() ? -1 : m.FindType(type);
  if (t < 0 || index < 1 || index > m.RefCount(t)) return kRsrcNotFoundErr;
  return LoadEntry(ref, rec, m, t, m.Entry(t, index - 1), handle);
}

MgErr RGetNamed(RsrcFileRef ref, ResType type, ConstPStr name, UHandle* handle) {
  if (!handle) return kArgErr;
  *handle = nullptr;
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  int32 t = m.Empty() || !name ? -1 : m.FindType(type);
  if (t < 0) return kRsrcNotFoundErr;
  for (int32 i = 0, n = m.RefCount(t); i < n; ++i) {
    uInt32 e = m.Entry(t, i);
    const uChar* own = m.Name(e);
    if (own && PStrCaseEqual(own, name)) return LoadEntry(ref, rec, m, t, e, handle);
  }
  return kRsrcNotFoundErr;
}

MgErr RCount(RsrcFileRef ref, ResType type, int32* count) {
  if (!count) return kArgErr;
  *count = 0;
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  int32 t = m.Empty() ? -1 : m.FindType(type);
  if (t >= 0) *count = m.RefCount(t);
  return kNoErr;
}

MgErr RCountTypes(RsrcFileRef ref, int32* count) {
  if (!count) return kArgErr;
  *count = 0;
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  *count = MapOf(rec).TypeCount();
  return kNoErr;
}

MgErr RGetIndType(RsrcFileRef ref, ResType* type, int32 index) {
  if (!type) return kArgErr;
  *type = 0;
  Lock lock;
  FileRec rec;
  if (MgErr err = GetFile(ref, &rec)) return err;
  Map m = MapOf(rec);
  if (index < 1 || index > m.TypeCount()) return kRsrcNotFoundErr;
  *type = m.TypeAt(index - 1);
  return kNoErr;
}

// ---- List resources -----------------------------------------------------------------

MgErr RGetIndString(RsrcFileRef ref, PStr text, int32 listId, int32 index) {
  if (!text) return kArgErr;
  text[0] = 0;
  Lock lock;
  UHandle list;
  if (MgErr err = GetLocked(ref, kTypeStrList, listId, &list)) return err;
  ListWalk w(list);
  if (!w.Has(2)) return kEOFErr;
  const int32 count = GetBE16(w.Here());
  if (index < 1 || index > count) return kRsrcNotFoundErr;
  w.Skip(2);
  for (int32 i = 1;; ++i) {
    if (!w.Has(1) || !w.Has(1 + uInt64(w.Here()[0]))) return kEOFErr;
    const uInt32 n = w.Here()[0];
    if (i == index) {
      std::memcpy(text, w.Here(), n + 1);
      return kNoErr;
    }
    w.Skip(1 + n);
  }
}

MgErr RGetIndLStr(RsrcFileRef ref, LStrHandle* text, int32 listId, int32 index) {
  if (!text) return kArgErr;
  *text = nullptr;
  Lock lock;
  UHandle list;
  if (MgErr err = GetLocked(ref, kTypeLStrList, listId, &list)) return err;
  ListWalk w(list);
  if (!w.Has(4)) return kEOFErr;
  const uInt32 count = GetBE32(w.Here());
  if (index < 1 || uInt32(index) > count) return kRsrcNotFoundErr;
  w.Skip(4);
  for (int32 i = 1;; ++i) {
    if (!w.Has(4)) return kEOFErr;
    const uInt32 n = GetBE32(w.Here());
    if (!w.Has(4 + uInt64(n))) return kEOFErr;
    if (i == index) {
      UHandle h = AZNewHandle(int32(sizeof(int32) + n));
      if (!h) return kMemFullErr;
      const int32 cnt = int32(n);
      std::memcpy(*h, &cnt, sizeof cnt);
      std::memcpy(*h + sizeof cnt, w.Here() + 4, n);
      *text = reinterpret_cast<LStrHandle>(h);
      return kNoErr;
    }
    w.Skip(RecordSize(n));
  }
}

namespace {

// Releases a list that this call loaded; one that was loaded before stays,
// since its holder may still use it.
void ReleaseIfLoadedHere(UHandle list, bool wasLoaded) {
  if (wasLoaded) return;
  Found found;
  if (FindByHandle(list, &found) != kNoErr) return;
  Map m = MapOf(found.rec);
  m.SetHandle(found.entry, nullptr);
  AZDisposeHandle(list);
  if (gMgr.last.handle == list) gMgr.last = LastResource{};
}

// Whether the resource has its data in memory before a reader loads it.
bool IsLoaded(RsrcFileRef ref, ResType type, int32 id) {
  FileRec rec;
  if (GetFile(ref, &rec) != kNoErr) return false;
  Map m = MapOf(rec);
  int32 t;
  uInt32 e;
  return Lookup(m, type, id, &t, &e) == kNoErr && m.HandleAt(e) != nullptr;
}

}  // namespace

MgErr RGetIndPath(RsrcFileRef ref, Path* path, int32 listId, int32 index) {
  if (!path) return kArgErr;
  *path = nullptr;
  Lock lock;
  const bool wasLoaded = IsLoaded(ref, kTypePathList, listId);
  UHandle list;
  if (MgErr err = GetLocked(ref, kTypePathList, listId, &list)) return err;
  MgErr err = kNoErr;
  ListWalk w(list);
  if (!w.Has(4)) {
    err = kEOFErr;
  } else if (index < 1 || uInt32(index) > GetBE32(w.Here())) {
    err = kRsrcNotFoundErr;
  } else {
    w.Skip(4);
    // Entries are "PTH0", a body length and the body; one that is not a flat
    // path is passed over by its length word all the same.
    for (int32 i = 1;; ++i) {
      if (!w.Has(kFlatPathHeaderSize)) {
        err = kEOFErr;
        break;
      }
      const uInt32 n = GetBE32(w.Here() + 4);
      const uInt64 entry = uInt64(kFlatPathHeaderSize) + n;
      if (!w.Has(entry)) {
        err = kEOFErr;
        break;
      }
      if (i == index) {
        if (GetNative32(w.Here()) == kFlatPathTag) {
          Path p = nullptr;
          int32 used = FUnFlattenPathData(w.Here(), &p, int32(entry));
          if (used > int32(entry) && p) FDisposePath(p);
          *path = used > int32(entry) ? nullptr : p;
        }
        break;
      }
      w.Skip(PaddedSize(entry));
    }
  }
  ReleaseIfLoadedHere(list, wasLoaded);
  return err;
}

MgErr RGetPath(RsrcFileRef ref, ResType type, int32 id, Path* path) {
  if (!path) return kArgErr;
  *path = nullptr;
  Lock lock;
  const bool wasLoaded = IsLoaded(ref, type, id);
  UHandle h;
  if (MgErr err = GetLocked(ref, type, id, &h)) return err;
  int32 size = AZGetHandleSize(h);
  Path p = nullptr;
  int32 used = FUnFlattenPathData(*h, &p, size);
  MgErr err = kNoErr;
  if (used > size) {
    if (p) FDisposePath(p);
    err = kMemCorruptErr;
  } else {
    *path = p;
  }
  ReleaseIfLoadedHere(h, wasLoaded);
  return err;
}

// ---- By handle ------------------------------------------------------------------------

MgErr RFindByHandle(UHandle handle, RsrcFileRef* ref, ResType* type, int32* id) {
  if (ref) *ref = 0;
  if (type) *type = 0;
  if (id) *id = 0;
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  Map m = MapOf(found.rec);
  if (ref) *ref = found.ref;
  if (type) *type = m.TypeAt(found.type);
  if (id) *id = m.Id(found.entry);
  return kNoErr;
}

MgErr RGetInfo(UHandle handle, int32* id, ResType* type, PStr name) {
  if (id) *id = 0;
  if (type) *type = 0;
  if (name) name[0] = 0;
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  Map m = MapOf(found.rec);
  if (id) *id = m.Id(found.entry);
  if (type) *type = m.TypeAt(found.type);
  if (name)
    if (const uChar* own = m.Name(found.entry)) std::memcpy(name, own, size_t(own[0]) + 1);
  return kNoErr;
}

MgErr RGetAttrs(UHandle handle, int32* attrs) {
  if (!attrs) return kArgErr;
  *attrs = 0;
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  *attrs = int32(MapOf(found.rec).W(found.entry + kRefAttrs));
  return kNoErr;
}

MgErr RSize(UHandle handle, int32* size) {
  if (!size) return kArgErr;
  *size = -1;
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  *size = AZGetHandleSize(handle);
  return kNoErr;
}

MgErr RLoad(UHandle handle) {
  Lock lock;
  Found found;
  return FindByHandle(handle, &found);
}

namespace {
// Forgets the handle in the map; disposes it when asked.  A resource changed
// in memory keeps its handle: its data is not written yet.
MgErr Forget(UHandle handle, bool dispose) {
  Lock lock;
  Found found;
  if (MgErr err = FindByHandle(handle, &found)) return err;
  Map m = MapOf(found.rec);
  if (m.W(found.entry + kRefAttrs) & kAttrChanged) {
    DBAssert(__FILE__, __LINE__, dispose ? "releasing a changed resource" : "detaching a changed resource");
    return kArgErr;
  }
  m.SetHandle(found.entry, nullptr);
  if (gMgr.last.handle == handle) gMgr.last = LastResource{};
  if (dispose) AZDisposeHandle(handle);
  return kNoErr;
}
}  // namespace

MgErr RRelease(UHandle handle) { return Forget(handle, true); }

MgErr RDetach(UHandle handle) { return Forget(handle, false); }
