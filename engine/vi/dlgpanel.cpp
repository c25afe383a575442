#include "engine/vi/dlgpanel.h"

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "engine/objswap.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/debug.h"
#include "mgsource/window/window.h"

using viinst::ExtAt;
using viinst::PanelWindow;

namespace {

DlgPanelHooks gHooks{};

// The block being built: its handle and size, and the sub-resources of the
// object being initialised (read position, end of its record, how many of
// its sub-resources remain).
struct Loader {
  UHandle block = nullptr;
  int32 size = 0;
  int32 pos = 0, end = 0, remaining = 0;
} gLoad;

// Templates read from the resource file, handed out until released.
std::mutex gGivenMutex;
std::set<void*>& Given() {
  static auto* s = new std::set<void*>;
  return *s;
}

int32 Word(const uChar* b, int32 at) { return int32(GetNative32(b + at)); }

// One object record: where it starts and ends, its class name and the place
// and count of its sub-resources.
struct Record {
  int32 start, end, name, subs, subCount;
};

// The layout of a converted block: false when any count, length or object
// number does not fit.
struct Layout {
  std::vector<Record> records;
  std::vector<int32> items;
  std::vector<int32> nav;  // empty when the block has no key navigation
};

// The room of a padded Pascal string at `at`, or -1 when it runs past `end`.
int32 PStrEnd(const uChar* b, int32 at, int32 end) {
  if (at >= end) return -1;
  const int32 next = at + PaddedPStrRoom(b[at]);
  return next <= end ? next : -1;
}

// A list of object numbers: a count (exactly `want` when want >= 0), then the
// numbers, each below k (or -1 when empty slots are allowed).
bool ReadNumbers(const uChar* b, int32 size, int32* p, int32 want, int32 k, bool emptyOk, std::vector<int32>* out) {
  if (size - *p < 4) return false;
  const int32 n = Word(b, *p);
  if (n < 0 || (want >= 0 && n != want) || n > (size - *p - 4) / 4) return false;
  *p += 4;
  out->reserve(size_t(n));
  for (int32 i = 0; i < n; ++i, *p += 4) {
    const int32 v = Word(b, *p);
    if (!((v >= 0 && v < k) || (emptyOk && v == -1))) return false;
    out->push_back(v);
  }
  return true;
}

bool ParseBlock(const uChar* b, int32 size, Layout* l) {
  int32 p = PStrEnd(b, kDlgTitleAt, size);
  if (p < 0 || size - p < 4) return false;
  const int32 k = Word(b, p);
  if (k < 0 || k > (size - p - 4) / 4) return false;
  p += 4;
  l->records.reserve(size_t(k));
  for (int32 i = 0; i < k; ++i) {
    if (size - p < 4) return false;
    const int32 len = Word(b, p);
    if (len < 4 || len > size - p) return false;
    Record r{p, p + len, p + 4, 0, 0};
    const int32 afterName = PStrEnd(b, r.name, r.end);
    if (afterName < 0 || r.end - afterName < 4) return false;
    r.subCount = Word(b, afterName);
    r.subs = afterName + 4;
    if (r.subCount < 0 || r.subCount > (r.end - r.subs) / 8) return false;
    // Every sub-resource lies inside the record.
    int32 s = r.subs;
    for (int32 j = 0; j < r.subCount; ++j) {
      if (r.end - s < 8) return false;
      const int32 slen = Word(b, s);
      if (slen < 8 || slen > r.end - s) return false;
      s += slen;
    }
    l->records.push_back(r);
    p = r.end;
  }
  if (!ReadNumbers(b, size, &p, -1, k, false, &l->items)) return false;
  if (p < size && !ReadNumbers(b, size, &p, kDlgKeyNavSlots, k, true, &l->nav)) return false;
  return true;
}

void Forget() { gLoad = Loader{}; }

// Builds the objects and tables of a parsed block; 1 when a step fails.
int32 Build(ObjHeap panel, const Layout& l) {
  const DlgPanelHooks& h = gHooks;
  std::vector<int32> objects;
  objects.reserve(l.records.size());
  for (const Record& r : l.records) {
    if (!h.newObject || !h.initObject) return 1;
    Str255 name;
    std::memcpy(name, *gLoad.block + r.name, size_t((*gLoad.block)[r.name]) + 1);
    int32 object = h.newObject(panel, name, kDlgObjectKind);
    if (!object) return 1;
    gLoad.pos = r.subs;
    gLoad.end = r.end;
    gLoad.remaining = r.subCount;
    object = h.initObject(panel, object, -1);
    gLoad.pos = gLoad.end = gLoad.remaining = 0;
    if (!object) return 1;
    if (OHBlockClass(panel, object) == kDlgClassLabel && h.resizeObject) h.resizeObject(panel, object);
    if (h.addChild && h.addChild(panel, object) != kNoErr) return 1;
    if (h.isKindOf && h.isKindOf(panel, object, kDlgClassDisplay) && OHBlockClass(panel, object) != kDlgClassGrouper)
      OHSetWord(panel, uInt32(object), OHWord(panel, uInt32(object)) & ~kDlgClearedFlag);
    objects.push_back(object);
  }
  std::vector<int32> items;
  items.reserve(l.items.size());
  for (int32 n : l.items) items.push_back(objects[size_t(n)]);
  if (h.setDialogItems && h.setDialogItems(panel, items.data(), int32(items.size())) != kNoErr) return 1;
  if (!l.nav.empty()) {
    std::vector<int32> nav;
    nav.reserve(l.nav.size());
    for (int32 n : l.nav) nav.push_back(n < 0 ? 0 : objects[size_t(n)]);
    if (h.setKeyNavigation && h.setKeyNavigation(panel, nav.data(), int32(nav.size())) != kNoErr) return 1;
  }
  return 0;
}

}  // namespace

void SetDlgPanelHooks(const DlgPanelHooks* hooks) { gHooks = hooks ? *hooks : DlgPanelHooks{}; }
const DlgPanelHooks& DlgPanel() { return gHooks; }

int32 LoadDlgPanel(ObjHeap panel, UHandle block) {
  if (!block || !*block) {
    DBAssert(__FILE__, __LINE__, "no preloaded panel block");
    return 1;
  }
  if (!panel || !*panel || !ExtAt(panel, 0)) return 1;
  const int32 size = AZGetHandleSize(block);
  if (size < kDlgTitleAt + 1 || SwapScrapRsrc(*block, kToMemoryOrder, size) != kNoErr) return 1;
  Layout layout;
  if (!ParseBlock(*block, size, &layout)) return 1;
  gLoad.block = block;
  gLoad.size = size;
  const WindowRef window = PanelWindow(panel);
  if (window) WSetTitle(window, *block + kDlgTitleAt);
  const uInt32 origin = GetNative32(*block + kDlgOriginAt);
  const int32 failed = Build(panel, layout);
  if (failed) {
    Forget();
    return 1;
  }
  Rect bounds{0, 0, 0, 0};
  if (gHooks.panelBounds) gHooks.panelBounds(panel, &bounds);
  viinst::SetExtWord(panel, kHeapExtContentOrigin, origin);
  if (window) {
    Point at;
    std::memcpy(&at, &origin, sizeof at);
    WSetOrigin(window, Point{bounds.top, bounds.left});
    Rect placed{at.v, at.h, int16(at.v + RectHeight(&bounds)), int16(at.h + RectWidth(&bounds))};
    WSize(window, &placed);
  }
  Forget();
  return 0;
}

void* GetPreloadedRsrcSized(uInt32 type, int32 id, int32* size) {
  if (size) *size = 0;
  if (id == 0) {
    DBAssert(__FILE__, __LINE__, "preloaded resource id 0");
    return nullptr;
  }
  if (id != -1) {
    UHandle h = nullptr;
    if (RGet(RunTimeRsrcFile(), type, id, &h) != kNoErr || !h) return nullptr;
    const int32 n = AZGetHandleSize(h);
    UPtr copy = AZNewPtr(n > 0 ? n : 1);
    if (copy && n > 0) std::memcpy(copy, *h, size_t(n));
    RRelease(h);
    if (!copy) return nullptr;
    std::lock_guard<std::mutex> lock(gGivenMutex);
    Given().insert(copy);
    if (size) *size = n;
    return copy;
  }
  // The next sub-resource of the object being built; the lengths were
  // checked against the record when the block was parsed, and are again.
  if (!gLoad.block || gLoad.remaining <= 0 || gLoad.end - gLoad.pos < 8) return nullptr;
  const uChar* at = *gLoad.block + gLoad.pos;
  const int32 len = Word(at, 0);
  if (len < 8 || len > gLoad.end - gLoad.pos) return nullptr;
  uInt32 stored;
  std::memcpy(&stored, at + 4, 4);
  if (stored != type) return nullptr;
  gLoad.pos += len;
  --gLoad.remaining;
  if (size) *size = len - 8;
  return const_cast<uChar*>(at) + 8;
}

void* GetPreloadedRsrc(uInt32 type, int32 id) { return GetPreloadedRsrcSized(type, id, nullptr); }

void ReleasePreloadedRsrc(void* data) {
  if (!data) return;
  if (gLoad.block && *gLoad.block) {
    const uChar* p = static_cast<const uChar*>(data);
    if (p >= *gLoad.block && p < *gLoad.block + gLoad.size) return;
  }
  {
    std::lock_guard<std::mutex> lock(gGivenMutex);
    if (!Given().erase(data)) {
      DBAssert(__FILE__, __LINE__, "not a template given out");
      return;
    }
  }
  AZDisposePtr(static_cast<UPtr>(data));
}
