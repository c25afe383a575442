#include "qx_drop.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "qx_file.h"
#include "qx_msgqueue.h"
#include "qx_winsys_internal.h"

namespace {

struct DropRecord {
  PlatWindow window;
  std::vector<std::string> names;
  int32_t x, y;
};

// Lock order: the drops' lock, then the window system's (whether a window
// accepts files is its extended style bit); the window system never calls
// here with its lock held.
struct Drops {
  std::mutex lock;
  std::unordered_map<PlatDrop, DropRecord> live;
  PlatDrop next = 1;
};

Drops& TheDrops() {
  static Drops* d = new Drops;
  return *d;
}

}  // namespace

bool PlatDragAcceptFiles(PlatWindow w, bool accept) {
  return qxwin::With(w, [&](qxwin::Sys&, qxwin::Window& r) {
    if (accept)
      r.exStyle |= kPlatWsExAcceptFiles;
    else
      r.exStyle &= ~uint32_t(kPlatWsExAcceptFiles);
  });
}

bool PlatAcceptsFiles(PlatWindow w) { return (PlatGetWindowExStyle(w) & kPlatWsExAcceptFiles) != 0; }

bool PlatDropFiles(PlatWindow w, const char* const* names, int32_t count, int32_t x, int32_t y) {
  if (!PlatIsWindow(w)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  if (!names || count <= 0) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  DropRecord rec{w, {}, x, y};
  rec.names.reserve(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    const char* n = names[i];
    const size_t len = n ? strnlen(n, kPlatDropMaxName + 1) : 0;
    if (len == 0 || len > kPlatDropMaxName) {
      PlatSetLastError(kPlatErrInvalidParam);
      return false;
    }
    rec.names.emplace_back(n, len);
  }
  Drops& d = TheDrops();
  PlatDrop h;
  {
    std::lock_guard<std::mutex> g(d.lock);
    if (!PlatAcceptsFiles(w)) {
      PlatSetLastError(PlatIsWindow(w) ? kPlatErrAccessDenied : kPlatErrInvalidHandle);
      return false;
    }
    // A window destroyed with the drop still queued never finishes it.
    for (auto it = d.live.begin(); it != d.live.end();)
      it = PlatIsWindow(it->second.window) ? std::next(it) : d.live.erase(it);
    h = d.next;
    while (h == 0 || d.live.count(h)) ++h;
    d.next = h + 1;
    d.live.emplace(h, std::move(rec));
  }
  if (PlatPostMessage(w, kPlatMsgDropFiles, PlatWParam(h), 0)) return true;
  // The window went away meanwhile: nobody will finish the drop.
  const int32_t err = PlatLastError();
  PlatDragFinish(h);
  PlatSetLastError(err);
  return false;
}

uint32_t PlatDragQueryFile(PlatDrop h, uint32_t index, char* buffer, uint32_t size) {
  Drops& d = TheDrops();
  std::lock_guard<std::mutex> g(d.lock);
  auto it = d.live.find(h);
  if (it == d.live.end()) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return 0;
  }
  const std::vector<std::string>& names = it->second.names;
  if (index == kPlatDropCount) return uint32_t(names.size());
  if (index >= names.size()) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  const std::string& n = names[index];
  if (!buffer) return uint32_t(n.size());
  if (size == 0) return 0;
  const uint32_t k = std::min<uint32_t>(uint32_t(n.size()), size - 1);
  std::memcpy(buffer, n.data(), k);
  buffer[k] = 0;
  return k;
}

bool PlatDragQueryPoint(PlatDrop h, int32_t* x, int32_t* y) {
  Drops& d = TheDrops();
  std::lock_guard<std::mutex> g(d.lock);
  auto it = d.live.find(h);
  if (it == d.live.end()) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  if (x) *x = it->second.x;
  if (y) *y = it->second.y;
  return true;
}

bool PlatDragFinish(PlatDrop h) {
  Drops& d = TheDrops();
  std::lock_guard<std::mutex> g(d.lock);
  if (!d.live.erase(h)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  return true;
}

int32_t PlatDropLiveCount() {
  Drops& d = TheDrops();
  std::lock_guard<std::mutex> g(d.lock);
  return int32_t(d.live.size());
}
