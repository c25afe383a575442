#include "qx_window.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct HostWindow {
  PlatRect content;
  std::string title;
  uint32_t frame;
  bool shown;
};

constexpr PlatRect kDefaultWorkArea{0, 0, 768, 1024};
// The frame parts, in pixels.
constexpr int32_t kCaptionHeight = 18;
constexpr int32_t kFixedFrame = 3;
constexpr int32_t kSizingFrame = 4;
constexpr int32_t kEdge = 2;
// Ids are reused only after this many windows were made.
constexpr PlatWindow kMaxId = 0x3FFFFFFF;

struct Screen {
  std::mutex lock;
  std::map<PlatWindow, HostWindow> windows;
  std::vector<PlatWindow> zOrder;  // front first
  PlatWindow nextId = 1;
  PlatRect workArea = kDefaultWorkArea;
};

Screen& TheScreen() {
  static Screen* s = new Screen;
  return *s;
}

HostWindow* Find(Screen& s, PlatWindow w) {
  auto it = s.windows.find(w);
  return it == s.windows.end() ? nullptr : &it->second;
}

void Unstack(Screen& s, PlatWindow w) { s.zOrder.erase(std::remove(s.zOrder.begin(), s.zOrder.end(), w), s.zOrder.end()); }

}  // namespace

PlatWindow PlatWindowCreate(const PlatRect& content, const char* title, uint32_t frame) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.windows.size() >= size_t(kMaxId)) return 0;
  PlatWindow id = s.nextId;
  while (s.windows.count(id)) id = id >= kMaxId ? 1 : id + 1;
  s.nextId = id >= kMaxId ? 1 : id + 1;
  s.windows[id] = HostWindow{content, title ? title : "", frame, false};
  s.zOrder.insert(s.zOrder.begin(), id);
  return id;
}

bool PlatWindowDestroy(PlatWindow w) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.windows.erase(w)) return false;
  Unstack(s, w);
  return true;
}

bool PlatWindowExists(PlatWindow w) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  return Find(s, w) != nullptr;
}

bool PlatWindowSetContent(PlatWindow w, const PlatRect& content) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  if (!hw) return false;
  hw->content = content;
  return true;
}

bool PlatWindowGetContent(PlatWindow w, PlatRect* content) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  if (!hw || !content) return false;
  *content = hw->content;
  return true;
}

bool PlatWindowSetTitle(PlatWindow w, const char* title) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  if (!hw) return false;
  hw->title = title ? title : "";
  return true;
}

int32_t PlatWindowGetTitle(PlatWindow w, char* out, int32_t size) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  if (!hw) return -1;
  if (out && size > 0) {
    size_t n = std::min(hw->title.size(), size_t(size - 1));
    std::memcpy(out, hw->title.data(), n);
    out[n] = 0;
  }
  return int32_t(hw->title.size());
}

bool PlatWindowShow(PlatWindow w, bool shown) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  if (!hw) return false;
  hw->shown = shown;
  return true;
}

bool PlatWindowIsShown(PlatWindow w) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  HostWindow* hw = Find(s, w);
  return hw && hw->shown;
}

bool PlatWindowRaise(PlatWindow w) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Find(s, w)) return false;
  Unstack(s, w);
  s.zOrder.insert(s.zOrder.begin(), w);
  return true;
}

int32_t PlatWindowZOrder(PlatWindow* out, int32_t max) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  for (int32_t i = 0; out && i < max && size_t(i) < s.zOrder.size(); ++i) out[i] = s.zOrder[size_t(i)];
  return int32_t(s.zOrder.size());
}

PlatRect PlatWindowFrameMargins(uint32_t frame) {
  int32_t side = 0;
  if (frame & kPlatFrameSizable) side = kSizingFrame;
  else if (frame & kPlatFrameCaption) side = kFixedFrame;
  else if (frame & kPlatFrameBorder) side = 1;
  if (frame & kPlatFrameEdge) side += kEdge;
  const int32_t top = side + ((frame & kPlatFrameCaption) ? kCaptionHeight : 0);
  return PlatRect{top, side, side, side};
}

void PlatSetWorkArea(const PlatRect& area) {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  s.workArea = area;
}

PlatRect PlatGetWorkArea() {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  return s.workArea;
}

void PlatWindowsReset() {
  Screen& s = TheScreen();
  std::lock_guard<std::mutex> g(s.lock);
  s.windows.clear();
  s.zOrder.clear();
  s.nextId = 1;
  s.workArea = kDefaultWorkArea;
}
