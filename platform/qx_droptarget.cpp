#include "qx_droptarget.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "qx_com.h"
#include "qx_drop.h"

namespace {

std::atomic<int32_t> gLiveDataObjects{0};

class DataObject final : public PlatCounted<PlatDataObject, kPlatIidDataObject> {
 public:
  DataObject(uint32_t format, std::string bytes)
      : PlatCounted(1), format_(format), bytes_(std::move(bytes)) {
    gLiveDataObjects++;
  }

  PlatOleResult QueryGetData(const PlatFormat& f) override {
    return f.format == format_ && f.targetDevice == 0 && f.aspect == kPlatAspectContent && f.index == -1 &&
                   (f.medium & kPlatMediumGlobal)
               ? kPlatOleOk
               : kPlatOleBadFormat;
  }
  PlatOleResult GetData(const PlatFormat& f, PlatMedium* m) override {
    if (!m) return kPlatOleInvalidArg;
    *m = PlatMedium{};
    if (QueryGetData(f) != kPlatOleOk) return kPlatOleBadFormat;
    const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalMovable, uint32_t(bytes_.size()));
    void* p = g ? PlatGlobalLock(g) : nullptr;
    if (!p) {
      if (g) PlatGlobalFree(g);
      return kPlatOleOutOfMemory;
    }
    std::memcpy(p, bytes_.data(), bytes_.size());
    PlatGlobalUnlock(g);
    *m = PlatMedium{kPlatMediumGlobal, g};
    return kPlatOleOk;
  }

 private:
  ~DataObject() override { gLiveDataObjects--; }
  const uint32_t format_;
  const std::string bytes_;
};

std::string FileListBytes(const std::vector<std::string>& names) {
  std::string b(4, '\0');
  const uint32_t offset = 4;
  std::memcpy(b.data(), &offset, 4);
  for (const std::string& n : names) b.append(n.c_str()).push_back('\0');
  b.push_back('\0');
  return b;
}

// The OLE start count and the registered targets.  Objects' AddRef runs
// under the lock (a lookup must not lose its target to a revoke); Release,
// which may destroy an object, runs outside it.  Lock order: the registry's
// lock, then the window system's (whether a window exists); the window system
// never calls here.
struct Registry {
  std::mutex lock;
  int32_t oleStarts = 0;
  std::unordered_map<PlatWindow, PlatDropTarget*> targets;
  std::unordered_map<PlatUnknown*, int32_t> externalLocks;
};

Registry& TheRegistry() {
  static Registry* r = new Registry;
  return *r;
}

}  // namespace

void PlatReleaseMedium(PlatMedium* m) {
  if (!m) return;
  if (m->medium == kPlatMediumGlobal && m->global) PlatGlobalFree(m->global);
  *m = PlatMedium{};
}

PlatDataObject* PlatNewFilesDataObject(const std::vector<std::string>& names) {
  if (names.empty()) return nullptr;
  return new DataObject(kPlatCfFileList, FileListBytes(names));
}

PlatDataObject* PlatNewTextDataObject(const std::string& text) {
  return new DataObject(kPlatCfText, std::string(text.c_str(), text.size() + 1));
}

int32_t PlatDataObjectLiveCount() { return gLiveDataObjects.load(); }

PlatGlobal PlatFileListBlock(const std::vector<std::string>& names) {
  const std::string b = FileListBytes(names);
  const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalFixed, uint32_t(b.size()));
  if (void* p = g ? PlatGlobalLock(g) : nullptr) std::memcpy(p, b.data(), b.size());
  return g;
}

namespace {
// Where the last query of a list stopped: callers ask for the names in
// order, and each then starts there instead of at the first name.  Only a
// starting point: every name is still read within the block.
struct ListMark {
  PlatGlobal block = 0;
  const char* data = nullptr;
  uint32_t total = 0, index = 0, at = 0;
};
thread_local ListMark gMark;
}  // namespace

uint32_t PlatFileListQuery(PlatGlobal block, uint32_t index, char* buffer, uint32_t size) {
  const uint32_t total = PlatGlobalSize(block);
  const char* p = total >= 4 ? static_cast<const char*>(PlatGlobalLock(block)) : nullptr;
  if (!p) return 0;
  uint32_t offset;
  std::memcpy(&offset, p, 4);
  uint32_t found = 0, result = 0, at = offset;
  const ListMark& m = gMark;
  if (index != kPlatDropCount && m.block == block && m.data == p && m.total == total && m.index <= index &&
      m.at > offset && m.at < total && p[m.at - 1] == 0) {
    found = m.index;
    at = m.at;
  }
  bool done = false;
  for (; !done && at >= 4 && at < total && p[at];) {
    if (index != kPlatDropCount) gMark = ListMark{block, p, total, found, at};
    const char* end = static_cast<const char*>(std::memchr(p + at, 0, total - at));
    const uint32_t len = end ? uint32_t(end - (p + at)) : total - at;
    if (index != kPlatDropCount && found == index) {
      result = len;
      if (buffer) {
        const uint32_t k = size ? std::min(len, size - 1) : 0;
        if (size) {
          std::memcpy(buffer, p + at, k);
          buffer[k] = 0;
        }
        result = k;
      }
      done = true;
    }
    ++found;
    at += len + 1;
  }
  PlatGlobalUnlock(block);
  return index == kPlatDropCount ? found : result;
}

PlatOleResult PlatOleInit() {
  if (PlatComMultithreaded()) return kPlatOleChangedMode;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  PlatComInit(false);
  return r.oleStarts++ == 0 ? kPlatOleOk : kPlatOleFalse;
}

void PlatOleUninit() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  if (r.oleStarts <= 0) return;
  --r.oleStarts;
  PlatComUninit();
}

int32_t PlatOleStartCount() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.oleStarts;
}

PlatOleResult PlatRegisterDropTarget(PlatWindow w, PlatDropTarget* target) {
  Registry& r = TheRegistry();
  std::vector<PlatDropTarget*> stale;
  PlatOleResult result = kPlatOleOk;
  {
    std::lock_guard<std::mutex> g(r.lock);
    for (auto it = r.targets.begin(); it != r.targets.end();) {
      if (PlatIsWindow(it->first)) {
        ++it;
      } else {
        stale.push_back(it->second);
        it = r.targets.erase(it);
      }
    }
    if (r.oleStarts == 0) result = kPlatOleNotInitialized;
    else if (!target) result = kPlatOleInvalidArg;
    else if (!PlatIsWindow(w)) result = kPlatOleInvalidWindow;
    else if (r.targets.count(w)) result = kPlatOleAlreadyRegistered;
    else {
      target->AddRef();
      r.targets.emplace(w, target);
    }
  }
  for (PlatDropTarget* t : stale) t->Release();
  return result;
}

PlatOleResult PlatRevokeDropTarget(PlatWindow w) {
  Registry& r = TheRegistry();
  PlatDropTarget* t = nullptr;
  {
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.targets.find(w);
    if (it == r.targets.end()) return kPlatOleNotRegistered;
    t = it->second;
    r.targets.erase(it);
  }
  t->Release();
  return kPlatOleOk;
}

PlatDropTarget* PlatDropTargetOf(PlatWindow w) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.targets.find(w);
  if (it == r.targets.end() || !PlatIsWindow(w)) return nullptr;
  it->second->AddRef();
  return it->second;
}

PlatOleResult PlatLockObjectExternal(PlatUnknown* object, bool lock) {
  if (!object) return kPlatOleInvalidArg;
  Registry& r = TheRegistry();
  {
    std::lock_guard<std::mutex> g(r.lock);
    if (lock) {
      object->AddRef();
      ++r.externalLocks[object];
      return kPlatOleOk;
    }
    auto it = r.externalLocks.find(object);
    if (it == r.externalLocks.end()) return kPlatOleInvalidArg;
    if (--it->second == 0) r.externalLocks.erase(it);
  }
  object->Release();
  return kPlatOleOk;
}
