#include "panel/zktag.h"

#include <cstring>
#include <string>

#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "panel/osupport.h"
#include "panel/textparts.h"

namespace {

constexpr int32 kEntry = 5;
constexpr int32 kTagAttrFlagged = 33;
constexpr int32 kTagTextPart = 11, kTagFramePart = 79;
constexpr int32 kMaxChain = 256;

ThMutex gTagMutex = nullptr;
UHandle gTagList = nullptr;  // application zone; under gTagMutex

// A copy of one name per thread: what TagListItem points at.
thread_local std::string tItemText;

struct TagLock {
  TagLock() {
    if (gTagMutex) ThMutexAcquire(gTagMutex);
  }
  ~TagLock() {
    if (gTagMutex) ThMutexRelease(gTagMutex);
  }
};

int32 CountOf(UHandle list) { return int32(GetNative32(*list)); }
UPtr EntryOf(UHandle list, int32 i) { return *list + 4 + kEntry * i; }
LStrHandle NameOf(UHandle list, int32 i) {
  return reinterpret_cast<LStrHandle>(uintptr_t(GetNative32(EntryOf(list, i))));
}
int32 SizeFor(int32 count) { return count ? 4 + kEntry * count : 4 + kEntry; }

void DisposeInstalled() {
  if (!gTagList) return;
  for (int32 i = 0; i < CountOf(gTagList); ++i)
    if (LStrHandle n = NameOf(gTagList, i)) AZDisposeHandle(reinterpret_cast<UHandle>(n));
  AZDisposeHandle(gTagList);
  gTagList = nullptr;
}

// The caller's list: a data-zone handle whose count fits its size and whose
// names are data-zone LStr handles whose lengths fit theirs.
bool ListIsSound(UHandle list) {
  if (!list) return true;
  if (DSCheckHandle(list) != kNoErr) return false;
  const int32 size = DSGetHandleSize(list);
  if (size < 4) return false;
  const int32 n = CountOf(list);
  if (n < 0 || n > (size - 4) / kEntry) return false;
  for (int32 i = 0; i < n; ++i) {
    LStrHandle name = NameOf(list, i);
    if (!name || DSCheckHandle(name) != kNoErr) return false;
    const int32 room = DSGetHandleSize(reinterpret_cast<UHandle>(name));
    if (room < 4 || (*name)->cnt < 0 || (*name)->cnt > room - 4) return false;
  }
  return true;
}

// Steps 1 to 3 of the installation, under the mutex.
MgErr CopyIn(UHandle list) {
  const int32 n = list ? CountOf(list) : 0;
  const int32 size = SizeFor(n);
  if (!gTagList) {
    gTagList = AZNewHClr(size);
    if (!gTagList) return kMemFullErr;
  } else {
    const int32 old = CountOf(gTagList);
    for (int32 i = n; i < old; ++i) {
      if (LStrHandle name = NameOf(gTagList, i)) AZDisposeHandle(reinterpret_cast<UHandle>(name));
      PutNative32(EntryOf(gTagList, i), 0);
    }
    if (n < old) PutNative32(*gTagList, uInt32(n));  // the surplus names are gone
    if (n != old)
      if (MgErr err = AZSetHSzClr(gTagList, size)) return err;
  }
  PutNative32(*gTagList, uInt32(n));
  for (int32 i = 0; i < n; ++i) {
    LStrHandle from = NameOf(list, i);
    const int32 len = (*from)->cnt;
    EntryOf(gTagList, i)[4] = EntryOf(list, i)[4];
    LStrHandle to = NameOf(gTagList, i);
    if (!to) {
      to = reinterpret_cast<LStrHandle>(AZNewHClr(4 + len));
      if (!to) return kMemFullErr;
      PutNative32(EntryOf(gTagList, i), uInt32(uintptr_t(to)));
    } else if ((*to)->cnt != len) {
      if (MgErr err = AZSetHandleSize(reinterpret_cast<UHandle>(to), 4 + len)) return err;
    }
    (*to)->cnt = len;
    if (len) std::memcpy((*to)->str, (*from)->str, size_t(len));
  }
  return kNoErr;
}

int32 InvalTag(ObjHeap heap, int32 object, void*) {
  if (ObjClass(heap, object) != kClsTag) return 0;
  if (const int32 array = FindOwnerArray(heap, object)) {
    OInval(heap, array, 0);
    return 0;
  }
  for (int32 id : {kTagFramePart, kTagTextPart})
    if (const int32 part = FindPart(heap, object, id, 0)) OInval(heap, part, 0);
  return 0;
}

void RedrawTagControls() {
  for (ObjHeap heap = OHFirstHeap(); heap; heap = OHNextHeap(heap)) {
    if (!*heap || OHWord(heap, kOHKind) != kPanelHeapKind) continue;
    const int32 ext = int32(OHWord(heap, kOHExtension));
    if (ext <= 0 || !GetNative32(*heap + ext + kHeapExtWindow)) continue;
    OHForEachBlockWith(heap, &InvalTag, nullptr);
  }
}

bool IsBlank(const uChar* s, int32 n) {
  for (int32 i = 0; i < n; ++i)
    if (!std::strchr(" \b\f\n\r\t", s[i]) || !s[i]) return false;
  return true;
}

bool SameIgnoringCase(const uChar* a, const uChar* b, int32 n) {
  for (int32 i = 0; i < n; ++i) {
    uChar x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = uChar(x + 32);
    if (y >= 'A' && y <= 'Z') y = uChar(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

MgErr InstallTagList(UHandle list) {
  if (!ListIsSound(list)) return kArgErr;
  MgErr err;
  {
    TagLock lock;
    err = CopyIn(list);
    if (err) DisposeInstalled();
  }
  if (err) return err;
  RedrawTagControls();
  return kNoErr;
}

int32 StringInTagList(LStrHandle text) {
  if (!text || !*text) return 0;
  const int32 len = (*text)->cnt;
  TagLock lock;
  if (!gTagList) return 0;
  for (int32 i = 0; i < CountOf(gTagList); ++i) {
    LStrHandle name = NameOf(gTagList, i);
    if (name && (*name)->cnt == len && SameIgnoringCase((*name)->str, (*text)->str, len)) return 1;
  }
  return 0;
}

int32 IsValidTag(ObjHeap heap, int32 control, int32 textPart) {
  if (!heap || !*heap || !control) return 0;
  const int32 part = textPart ? textPart : FindPart(heap, control, kTagTextPart, 0);
  TRecord record = part ? PartTextRecord(heap, part) : nullptr;
  if (!record) return 0;
  LStrHandle text = reinterpret_cast<LStrHandle>(TGetText(record));
  if (IsBlank((*text)->str, (*text)->cnt)) return 0;
  return StringInTagList(text);
}

int32 TagListItem(ObjHeap, int32, UHandle list, const uChar** text, int32* attributes, int32 index) {
  tItemText.clear();
  if (text) *text = reinterpret_cast<const uChar*>(tItemText.c_str());
  if (attributes) *attributes = 0;
  if (!list) return 0;
  TagLock lock;
  if (list != gTagList) return 0;  // a list that is no longer installed may be gone
  const int32 n = CountOf(gTagList);
  if (index < 0) return n;
  if (index >= n) return 0;
  LStrHandle name = NameOf(gTagList, index);
  if (!name) {
    QX_ASSERT_MSG(false, "tag list entry without a name");
    return 0;
  }
  tItemText.assign(reinterpret_cast<const char*>((*name)->str), size_t((*name)->cnt));
  if (text) *text = reinterpret_cast<const uChar*>(tItemText.data());
  if (attributes) *attributes = EntryOf(gTagList, index)[4] ? kTagAttrFlagged : 0;
  return (*name)->cnt;
}

UHandle TagListHandle() {
  TagLock lock;
  return gTagList;
}

MgErr InitTagLists() {
  if (!gTagMutex)
    if (MgErr err = ThMutexCreate(&gTagMutex, nullptr)) return err;
  return InstallTagList(nullptr);
}

void DisposeTagLists() {
  {
    TagLock lock;
    DisposeInstalled();
  }
  if (gTagMutex) ThMutexDestroy(gTagMutex);
  gTagMutex = nullptr;
}

int32 FindOwnerArray(ObjHeap heap, int32 object) {
  if (!heap || !*heap) return 0;
  int32 step = object;
  for (int32 depth = 0; step && depth < kMaxChain; ++depth) {
    if (!OHIsUsedBlock(heap, step) || OHBlockSize(heap, step) < 8) return 0;
    const int32 owner = ObjWord(heap, step, kPWOwner);
    if (!owner || !OHIsUsedBlock(heap, owner)) return 0;
    if (ObjClass(heap, owner) == kClsArray && OHBlockSize(heap, owner) >= 4 * (kPWArrayElement + 1) &&
        ObjWord(heap, owner, kPWArrayElement) == step)
      return owner;
    step = owner;
  }
  return 0;
}
