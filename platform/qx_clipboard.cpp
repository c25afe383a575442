#include "qx_clipboard.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "qx_drawobj.h"
#include "qx_file.h"
#include "qx_globalmem.h"
#include "qx_metafile.h"
#include "qx_msgqueue.h"
#include "qx_thread.h"

namespace {

struct Handler {
  PlatClipValidProc valid = nullptr;
  PlatClipDeleteProc del = nullptr;
};

bool ValidGlobal(uintptr_t data) { return PlatGlobalIsValid(PlatGlobal(data)); }
void FreeGlobal(uintptr_t data) { PlatGlobalFree(PlatGlobal(data)); }
bool ValidBitmap(uintptr_t data) { return PlatObjectKind(PlatObj(data)) == kPlatObjBitmap; }
bool ValidPalette(uintptr_t data) { return PlatObjectKind(PlatObj(data)) == kPlatObjPalette; }
void FreeObject(uintptr_t data) { PlatDeleteObject(PlatObj(data)); }
bool ValidMetafile(uintptr_t data) { return PlatIsMetafile(PlatMetafile(data)); }
void FreeMetafile(uintptr_t data) { PlatDeleteMetafile(PlatMetafile(data)); }
constexpr Handler kMetafileHandler{ValidMetafile, FreeMetafile};

int32_t Slot(uint32_t format) {
  switch (format) {
    case kPlatClipText: return 0;
    case kPlatClipBitmap: return 1;
    case kPlatClipOemText: return 2;
    case kPlatClipPalette: return 3;
    case kPlatClipMetafile: return 4;
    default: return -1;
  }
}
constexpr int32_t kSlots = 5;

struct Clipboard {
  std::mutex lock;
  Handler handlers[kSlots] = {{ValidGlobal, FreeGlobal},
                              {ValidBitmap, FreeObject},
                              {ValidGlobal, FreeGlobal},
                              {ValidPalette, FreeObject},
                              kMetafileHandler};
  std::map<uint32_t, uintptr_t> items;
  uint32_t holderThread = 0;  // 0: closed
  PlatWindow holderWindow = 0;
  PlatWindow owner = 0;
  bool changed = false;  // since it was opened
  PlatWindow viewer = 0; // head of the viewer chain
};

Clipboard& TheClipboard() {
  static Clipboard* c = new Clipboard;
  return *c;
}

bool HeldByCaller(const Clipboard& c) {
  if (c.holderThread != 0 && c.holderThread == PlatThreadCurrentId()) return true;
  PlatSetLastError(kPlatErrAccessDenied);
  return false;
}

// Frees items taken out of the clipboard, outside its lock.
struct Dropped {
  std::vector<std::pair<PlatClipDeleteProc, uintptr_t>> items;
  ~Dropped() {
    for (auto& [del, data] : items)
      if (del) del(data);
  }
};

void TakeAll(Clipboard& c, Dropped& out) {
  for (auto& [format, data] : c.items) out.items.emplace_back(c.handlers[Slot(format)].del, data);
  c.items.clear();
}

// Closes the clipboard; the viewer to tell of a change, or 0.  The caller
// holds the lock.
PlatWindow Release(Clipboard& c) {
  c.holderThread = 0;
  c.holderWindow = 0;
  const PlatWindow viewer = c.changed ? c.viewer : 0;
  c.changed = false;
  return viewer;
}

// A thread that ends holding the clipboard open lets it go, so that it does
// not stay locked for the rest of the process.  The viewers are told by a
// post: the ending thread may have no queue left to serve a send with.
void ReleaseAtThreadEnd(void*) {
  Clipboard& c = TheClipboard();
  PlatWindow viewer = 0;
  {
    std::lock_guard<std::mutex> g(c.lock);
    if (c.holderThread != PlatThreadCurrentId()) return;
    viewer = Release(c);
  }
  if (viewer) PlatPostMessage(viewer, kPlatMsgDrawClipboard, 0, 0);
}

int32_t ExitSlot() {
  static const int32_t slot = PlatThreadExitSlot(ReleaseAtThreadEnd);
  return slot;
}

}  // namespace

bool PlatClipboardSetFormatHandler(uint32_t format, PlatClipValidProc valid, PlatClipDeleteProc del) {
  const int32_t slot = Slot(format);
  if (slot < 0) return false;
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> g(c.lock);
  c.handlers[slot] = Handler{valid, del};
  return true;
}

bool PlatOpenClipboard(PlatWindow owner) {
  if (owner != 0 && !PlatIsWindow(owner)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  Clipboard& c = TheClipboard();
  const uint32_t self = PlatThreadCurrentId();
  std::lock_guard<std::mutex> g(c.lock);
  if (c.holderThread != 0 && (c.holderThread != self || c.holderWindow != owner)) {
    PlatSetLastError(kPlatErrAccessDenied);
    return false;
  }
  if (c.holderThread == 0) c.changed = false;
  c.holderThread = self;
  c.holderWindow = owner;
  PlatThreadSetExitValue(ExitSlot(), &c);
  return true;
}

namespace {
std::atomic<const PlatClipboardHost*> gHost{nullptr};
}  // namespace

void PlatClipboardSetHost(const PlatClipboardHost* host) { gHost.store(host); }

bool PlatCloseClipboard() {
  Clipboard& c = TheClipboard();
  PlatWindow viewer = 0;
  bool changed;
  {
    std::lock_guard<std::mutex> g(c.lock);
    if (!HeldByCaller(c)) return false;
    changed = c.changed;
    viewer = Release(c);
  }
  PlatThreadSetExitValue(ExitSlot(), nullptr);
  const PlatClipboardHost* host = gHost.load();
  if (changed && host && host->taken) host->taken();
  // Sent without the lock: a viewer reads the clipboard in its handler.
  if (viewer) PlatSendMessage(viewer, kPlatMsgDrawClipboard, 0, 0);
  return true;
}

bool PlatEmptyClipboard() {
  Clipboard& c = TheClipboard();
  Dropped dropped;
  std::lock_guard<std::mutex> g(c.lock);
  if (!HeldByCaller(c)) return false;
  TakeAll(c, dropped);
  c.owner = c.holderWindow;
  c.changed = true;
  return true;
}

bool PlatSetClipboardData(uint32_t format, uintptr_t data) {
  Clipboard& c = TheClipboard();
  const int32_t slot = Slot(format);
  Handler h;
  {
    std::lock_guard<std::mutex> g(c.lock);
    if (!HeldByCaller(c)) return false;
    if (slot >= 0) h = c.handlers[slot];
  }
  if (!h.valid || !h.del) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  if (!h.valid(data)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  Dropped dropped;
  std::lock_guard<std::mutex> g(c.lock);
  if (!HeldByCaller(c)) return false;
  // One handle under two formats would be freed twice.
  for (auto& [f, d] : c.items)
    if (f != format && d == data) {
      PlatSetLastError(kPlatErrInvalidParam);
      return false;
    }
  auto it = c.items.find(format);
  if (it != c.items.end() && it->second != data) dropped.items.emplace_back(h.del, it->second);
  c.items[format] = data;
  c.changed = true;
  return true;
}

uintptr_t PlatGetClipboardData(uint32_t format) {
  Clipboard& c = TheClipboard();
  const PlatClipboardHost* host = gHost.load();
  if (format == kPlatClipText && host && host->foreign && host->readText && PlatClipboardHolder() == PlatThreadCurrentId() &&
      host->foreign()) {
    // Another program's text, kept as the clipboard's item until it changes.
    std::string text;
    if (!host->readText(&text)) return 0;
    const PlatGlobal h = PlatGlobalAlloc(0, uint32_t(text.size() + 1));
    if (!h) return 0;
    std::memcpy(PlatGlobalLock(h), text.c_str(), text.size() + 1);
    PlatGlobalUnlock(h);
    Dropped dropped;
    std::lock_guard<std::mutex> g(c.lock);
    if (!HeldByCaller(c)) {
      dropped.items.emplace_back(FreeGlobal, uintptr_t(h));
      return 0;
    }
    auto it = c.items.find(format);
    if (it != c.items.end()) dropped.items.emplace_back(c.handlers[Slot(format)].del, it->second);
    c.items[format] = uintptr_t(h);
    return uintptr_t(h);
  }
  std::lock_guard<std::mutex> g(c.lock);
  if (!HeldByCaller(c)) return 0;
  auto it = c.items.find(format);
  return it == c.items.end() ? 0 : it->second;
}

bool PlatIsClipboardFormatAvailable(uint32_t format) {
  Clipboard& c = TheClipboard();
  const PlatClipboardHost* host = gHost.load();
  if (host && host->foreign && host->foreign()) return format == kPlatClipText && host->hasText && host->hasText();
  std::lock_guard<std::mutex> g(c.lock);
  return c.items.count(format) != 0;
}

PlatWindow PlatGetClipboardOwner() {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> g(c.lock);
  return c.owner;
}

uint32_t PlatClipboardHolder() {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> g(c.lock);
  return c.holderThread;
}

PlatWindow PlatSetClipboardViewer(PlatWindow w) {
  if (!PlatIsWindow(w)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return 0;
  }
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> g(c.lock);
  const PlatWindow next = c.viewer;
  c.viewer = w;
  return next;
}

bool PlatChangeClipboardChain(PlatWindow remove, PlatWindow next) {
  if (remove == 0) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  Clipboard& c = TheClipboard();
  PlatWindow head;
  {
    std::lock_guard<std::mutex> g(c.lock);
    // No viewer links to the head: it just hands the chain on.
    if (c.viewer == remove) {
      c.viewer = next;
      return true;
    }
    head = c.viewer;
  }
  if (head) PlatSendMessage(head, kPlatMsgChangeCbChain, PlatWParam(remove), PlatLParam(next));
  return true;
}

PlatWindow PlatGetClipboardViewer() {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> g(c.lock);
  return c.viewer;
}

void PlatClipboardReset() {
  Clipboard& c = TheClipboard();
  Dropped dropped;
  std::lock_guard<std::mutex> g(c.lock);
  TakeAll(c, dropped);
  c.holderThread = 0;
  c.holderWindow = 0;
  c.owner = 0;
  c.changed = false;
  c.viewer = 0;
  c.handlers[Slot(kPlatClipMetafile)] = kMetafileHandler;
}
