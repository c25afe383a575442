#include "qx_window.h"

#include <algorithm>
#include <cstring>

#include "qx_activate.h"
#include "qx_defproc.h"
#include "qx_display.h"
#include "qx_file.h"
#include "qx_input.h"
#include "qx_paint.h"
#include "qx_thread.h"
#include "qx_winsys_internal.h"

namespace qxwin {

namespace {

constexpr int32_t kCaptionHeight = 19;
constexpr int32_t kThickFrame = 4;
constexpr int32_t kDialogFrame = 3;
constexpr int32_t kClientEdge = 2;
constexpr size_t kMaxTitle = 255;
constexpr size_t kMaxClasses = 64;
// Ids are reused only after this many windows were made.
constexpr PlatWindow kMaxId = 0x3FFFFFFF;

}  // namespace

Sys& TheSys() {
  static Sys* s = new Sys;
  return *s;
}

Window* Find(Sys& s, PlatWindow w) {
  auto it = s.windows.find(w);
  return it == s.windows.end() || it->second->destroying ? nullptr : it->second.get();
}

Queue* ExistingQueue(Sys& s, uint32_t thread) {
  auto it = s.queues.find(thread);
  return it == s.queues.end() ? nullptr : it->second.get();
}

bool IsTopmost(const Window& w) { return (w.exStyle & kPlatWsExTopmost) != 0; }

PlatRect ClientOf(const Window& w) {
  if (w.sizeState == kMinimized) return PlatRect{w.frame.left, w.frame.top, w.frame.left, w.frame.top};
  const PlatRect in = PlatFrameInsets(w.style, w.exStyle);
  PlatRect c{w.frame.left + in.left, w.frame.top + in.top, w.frame.right - in.right,
             w.frame.bottom - in.bottom};
  if (c.right < c.left) c.right = c.left;
  if (c.bottom < c.top) c.bottom = c.top;
  return c;
}

void SetInvalidHandle() { PlatSetLastError(kPlatErrInvalidHandle); }

void Raise(uint32_t thread) {
  if (thread) PlatThreadRaiseInput(thread);
}

PlatResult CallProc(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  Sys& s = TheSys();
  PlatWindowProc proc;
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.windows.find(w);
    if (it == s.windows.end()) return 0;
    // A window being destroyed still gets its Destroy.
    if (it->second->destroying && message != kPlatMsgDestroy) return 0;
    proc = it->second->cls ? it->second->cls->proc : nullptr;
  }
  return proc ? proc(w, message, wParam, lParam) : PlatDefWindowProc(w, message, wParam, lParam);
}

namespace {

// The index where the band of non-topmost windows starts.
size_t BandStart(Sys& s) {
  size_t i = 0;
  while (i < s.z.size()) {
    Window* o = Find(s, s.z[i]);
    if (!o || !IsTopmost(*o)) break;
    ++i;
  }
  return i;
}

bool Owns(Sys& s, PlatWindow owner, PlatWindow w) {
  for (int depth = 0; w && depth < 64; ++depth) {
    Window* r = Find(s, w);
    if (!r) return false;
    if (r->owner == owner) return true;
    w = r->owner;
  }
  return false;
}

}  // namespace

// Places w in the z-order: directly behind insertAfter, or at the top or
// bottom of its band; the windows it owns in the same band come along,
// directly in front of it, keeping their order.
void Place(Sys& s, PlatWindow w, PlatWindow insertAfter) {
  Window* rec = Find(s, w);
  if (!rec) return;
  const bool top = IsTopmost(*rec);
  std::vector<PlatWindow> owned;
  for (PlatWindow o : s.z) {
    Window* r = Find(s, o);
    if (o != w && r && IsTopmost(*r) == top && Owns(s, w, o)) owned.push_back(o);
  }
  auto gone = [&](PlatWindow o) { return o == w || std::find(owned.begin(), owned.end(), o) != owned.end(); };
  s.z.erase(std::remove_if(s.z.begin(), s.z.end(), gone), s.z.end());
  const size_t band = BandStart(s);
  size_t at;
  if (insertAfter == kPlatInsertBottom) at = top ? band : s.z.size();
  else if (insertAfter == kPlatInsertTop || insertAfter == kPlatInsertTopmost || insertAfter == kPlatInsertNoTopmost)
    at = top ? 0 : band;
  else {
    auto it = std::find(s.z.begin(), s.z.end(), insertAfter);
    at = it == s.z.end() ? (top ? 0 : band) : size_t(it - s.z.begin()) + 1;
  }
  if (top) at = std::min(at, band);
  else at = std::max(at, band);
  s.z.insert(s.z.begin() + std::ptrdiff_t(at), w);
  s.z.insert(s.z.begin() + std::ptrdiff_t(at), owned.begin(), owned.end());
}

void ShiftChildren(Sys& s, PlatWindow w, int32_t dx, int32_t dy) {
  if (!dx && !dy) return;
  std::vector<PlatWindow> level{w};
  for (int depth = 0; !level.empty() && depth < 64; ++depth) {
    std::vector<PlatWindow> next;
    for (auto& kv : s.windows) {
      Window& c = *kv.second;
      if (!IsChild(c) || std::find(level.begin(), level.end(), c.owner) == level.end()) continue;
      c.frame = PlatRect{c.frame.left + dx, c.frame.top + dy, c.frame.right + dx, c.frame.bottom + dy};
      c.restore = PlatRect{c.restore.left + dx, c.restore.top + dy, c.restore.right + dx, c.restore.bottom + dy};
      next.push_back(kv.first);
    }
    level.swap(next);
  }
}

}  // namespace qxwin

using namespace qxwin;

PlatRect PlatFrameInsets(uint32_t style, uint32_t exStyle) {
  int32_t side = 0;
  if (style & kPlatWsThickFrame) side = kThickFrame;
  else if ((style & (kPlatWsCaption | kPlatWsDlgFrame)) || (exStyle & kPlatWsExDlgModalFrame)) side = kDialogFrame;
  else if (style & kPlatWsBorder) side = 1;
  if (exStyle & kPlatWsExClientEdge) side += kClientEdge;
  const int32_t top = side + ((style & kPlatWsCaption) ? kCaptionHeight : 0);
  return PlatRect{side, top, side, side};
}

void PlatAdjustWindowRect(PlatRect* rect, uint32_t style, uint32_t exStyle) {
  if (!rect) return;
  const PlatRect in = PlatFrameInsets(style, exStyle);
  rect->left -= in.left;
  rect->top -= in.top;
  rect->right += in.right;
  rect->bottom += in.bottom;
}

bool PlatRegisterClass(const PlatWindowClass& cls) {
  if (!cls.name || !*cls.name) return false;
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.classes.count(cls.name) || s.classes.size() >= kMaxClasses) return false;
  auto c = std::make_shared<Class>();
  c->name = cls.name;
  c->proc = cls.proc;
  c->style = cls.style;
  c->background = cls.background;
  s.classes[cls.name] = c;
  return true;
}

bool PlatUnregisterClass(const char* name) {
  if (!name) return false;
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return s.classes.erase(name) != 0;
}

PlatWindow PlatCreateWindow(const char* className, const char* title, uint32_t style,
                            uint32_t exStyle, const PlatRect& frame, PlatWindow owner) {
  Sys& s = TheSys();
  PlatWindow id;
  {
    std::lock_guard<std::mutex> g(s.lock);
    std::shared_ptr<Class> cls;
    if (className) {
      auto it = s.classes.find(className);
      if (it == s.classes.end()) {
        PlatSetLastError(kPlatErrInvalidParam);
        return 0;
      }
      cls = it->second;
    }
    if (owner && !Find(s, owner)) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return 0;
    }
    if ((style & kPlatWsChild) && !owner) {
      PlatSetLastError(kPlatErrInvalidParam);
      return 0;
    }
    if (s.windows.size() >= size_t(kMaxId)) return 0;
    id = s.nextId;
    while (s.windows.count(id)) id = id >= kMaxId ? 1 : id + 1;
    s.nextId = id >= kMaxId ? 1 : id + 1;
    auto w = std::make_unique<Window>();
    w->id = id;
    w->cls = cls;
    w->title = title ? std::string(title).substr(0, kMaxTitle) : "";
    w->style = style & ~uint32_t(kPlatWsVisible | kPlatWsDisabled);
    w->enabled = !(style & kPlatWsDisabled);
    w->exStyle = exStyle;
    w->owner = owner;
    w->thread = PlatThreadCurrentId();
    if (!s.uiThread) s.uiThread = w->thread;
    QueueOf(s, w->thread);
    w->frame = frame;
    w->restore = frame;
    Window* rec = w.get();
    s.windows[id] = std::move(w);
    if (IsChild(*rec)) {
      // On its parent's client area, out of the top-level z-order.
    } else if (owner) {
      // Directly in front of its owner.
      auto it = std::find(s.z.begin(), s.z.end(), owner);
      PlatWindow before = it == s.z.begin() || it == s.z.end() ? kPlatInsertTop : *(it - 1);
      s.z.insert(s.z.begin(), id);
      Place(s, id, before);
      if (before == kPlatInsertTop) Place(s, id, kPlatInsertTop);
    } else {
      s.z.insert(s.z.begin(), id);
      Place(s, id, kPlatInsertTop);
    }
    SyncSurface(s, *rec);
    pixman_region32_clear(&rec->update);
  }
  if (CallProc(id, kPlatMsgCreate, 0, 0) == -1) {
    PlatDestroyWindow(id);
    return 0;
  }
  if (style & kPlatWsVisible) PlatShowWindow(id, (style & kPlatWsChild) ? kPlatSwShowNoActivate : kPlatSwShowNormal);
  return id;
}

bool PlatDestroyWindow(PlatWindow w) {
  Sys& s = TheSys();
  std::vector<PlatWindow> owned;
  PlatWindow owner;
  bool shown;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* rec = Find(s, w);
    if (!rec) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    for (auto& kv : s.windows)
      if (kv.second->owner == w && !kv.second->destroying) owned.push_back(kv.first);
    owner = rec->owner;
    shown = rec->shown;
  }
  for (PlatWindow o : owned) PlatDestroyWindow(o);
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* rec = Find(s, w);
    if (!rec) return true;  // destroyed meanwhile by a handler
    rec->shown = false;
  }
  // Activation leaves it while it still answers.
  WindowGoing(w, shown ? owner : 0);
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* rec = Find(s, w);
    if (!rec) return true;
    rec->destroying = true;
    if (s.capture == w) s.capture = 0;
    if (s.active == w) s.active = 0;
  }
  CallProc(w, kPlatMsgDestroy, 0, 0);
  PlatObj spare = 0;  // the context the window kept, deleted outside the lock
  std::shared_ptr<Pixels> pixels;  // what it paints into, kept until then
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.windows.find(w);
    if (it == s.windows.end()) return true;
    if (Queue* q = ExistingQueue(s, it->second->thread))
      q->posts.erase(std::remove_if(q->posts.begin(), q->posts.end(), [w](const PlatMsg& m) { return m.window == w; }),
                     q->posts.end());
    s.z.erase(std::remove(s.z.begin(), s.z.end(), w), s.z.end());
    if (s.active == w) s.active = 0;
    if (s.capture == w) s.capture = 0;
    if (s.frameWindow == w) s.frameWindow = 0;
    if (s.lastMoveWindow == w) s.lastMoveWindow = 0;
    if ((spare = it->second->spareDc)) {
      pixels = it->second->pixels;
      s.dcs.erase(spare);
    }
    s.windows.erase(it);
  }
  if (spare) PlatDeleteDc(spare);
  return true;
}

bool PlatIsWindow(PlatWindow w) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return Find(s, w) != nullptr;
}

bool PlatGetWindowRect(PlatWindow w, PlatRect* frame) {
  if (!frame) return false;
  return With(w, [&](Sys&, Window& r) { *frame = r.frame; });
}

bool PlatGetClientRect(PlatWindow w, PlatRect* client) {
  if (!client) return false;
  return With(w, [&](Sys&, Window& r) {
    const PlatRect c = ClientOf(r);
    *client = PlatRect{0, 0, c.right - c.left, c.bottom - c.top};
  });
}

bool PlatClientToScreen(PlatWindow w, int32_t* x, int32_t* y) {
  if (!x || !y) return false;
  return With(w, [&](Sys&, Window& r) {
    const PlatRect c = ClientOf(r);
    *x += c.left;
    *y += c.top;
  });
}

bool PlatScreenToClient(PlatWindow w, int32_t* x, int32_t* y) {
  if (!x || !y) return false;
  return With(w, [&](Sys&, Window& r) {
    const PlatRect c = ClientOf(r);
    *x -= c.left;
    *y -= c.top;
  });
}

uint32_t PlatGetWindowStyle(PlatWindow w) {
  uint32_t v = 0;
  With(w, [&](Sys&, Window& r) { v = r.style | (r.shown ? uint32_t(kPlatWsVisible) : 0u) | (r.enabled ? 0u : uint32_t(kPlatWsDisabled)); });
  return v;
}

uint32_t PlatGetWindowExStyle(PlatWindow w) {
  uint32_t v = 0;
  With(w, [&](Sys&, Window& r) { v = r.exStyle; });
  return v;
}

namespace {

bool SetPos(PlatWindow w, PlatWindow insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags,
            const PlatRect* before);

uint32_t SetStyles(PlatWindow w, bool extended, uint32_t value) {
  uint32_t old = 0;
  bool reframe = false;
  PlatRect client{};
  if (!With(w, [&](Sys&, Window& r) {
        client = ClientOf(r);
        const PlatRect before = PlatFrameInsets(r.style, r.exStyle);
        if (extended) {
          old = r.exStyle;
          r.exStyle = (value & ~uint32_t(kPlatWsExTopmost)) | (r.exStyle & kPlatWsExTopmost);
        } else {
          old = r.style | (r.shown ? uint32_t(kPlatWsVisible) : 0u) | (r.enabled ? 0u : uint32_t(kPlatWsDisabled));
          r.style = (value & ~uint32_t(kPlatWsVisible | kPlatWsDisabled | kPlatWsChild)) | (r.style & kPlatWsChild);
        }
        const PlatRect after = PlatFrameInsets(r.style, r.exStyle);
        reframe = before.left != after.left || before.top != after.top || before.right != after.right ||
                  before.bottom != after.bottom;
      }))
    return 0;
  if (reframe) SetPos(w, 0, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoZOrder | kPlatSwpNoActivate, &client);
  return old;
}

}  // namespace

uint32_t PlatSetWindowStyle(PlatWindow w, uint32_t style) { return SetStyles(w, false, style); }
uint32_t PlatSetWindowExStyle(PlatWindow w, uint32_t exStyle) { return SetStyles(w, true, exStyle); }

PlatWindow PlatGetOwner(PlatWindow w) {
  PlatWindow v = 0;
  With(w, [&](Sys&, Window& r) { v = r.owner; });
  return v;
}

PlatWindow PlatGetParent(PlatWindow w) {
  PlatWindow v = 0;
  With(w, [&](Sys&, Window& r) { v = IsChild(r) ? r.owner : 0; });
  return v;
}

int32_t PlatGetChildWindows(PlatWindow w, PlatWindow* out, int32_t max) {
  int32_t n = 0;
  With(w, [&](Sys& s, Window&) {
    // The map keeps ids in order, which is the order of making until ids wrap.
    for (auto& kv : s.windows) {
      if (kv.second->owner != w || !IsChild(*kv.second) || kv.second->destroying) continue;
      if (out && n < max) out[n] = kv.first;
      ++n;
    }
  });
  return n;
}

uint32_t PlatGetWindowThread(PlatWindow w) {
  uint32_t v = 0;
  With(w, [&](Sys&, Window& r) { v = r.thread; });
  return v;
}

bool PlatSetWindowWord(PlatWindow w, intptr_t value) {
  return With(w, [&](Sys&, Window& r) { r.word = value; });
}

intptr_t PlatGetWindowWord(PlatWindow w) {
  intptr_t v = 0;
  With(w, [&](Sys&, Window& r) { v = r.word; });
  return v;
}

bool PlatIsWindowVisible(PlatWindow w) {
  bool v = false;
  With(w, [&](Sys&, Window& r) { v = r.shown; });
  return v;
}

bool PlatIsIconic(PlatWindow w) {
  bool v = false;
  With(w, [&](Sys&, Window& r) { v = r.sizeState == kMinimized; });
  return v;
}

bool PlatIsZoomed(PlatWindow w) {
  bool v = false;
  With(w, [&](Sys&, Window& r) { v = r.sizeState == kMaximized; });
  return v;
}

bool PlatEnableWindow(PlatWindow w, bool enable) {
  return With(w, [&](Sys&, Window& r) { r.enabled = enable; });
}

bool PlatIsWindowEnabled(PlatWindow w) {
  bool v = false;
  With(w, [&](Sys&, Window& r) { v = r.enabled; });
  return v;
}

bool PlatEnableClose(PlatWindow w, bool enable) {
  return With(w, [&](Sys&, Window& r) { r.closeEnabled = enable; });
}

bool PlatIsCloseEnabled(PlatWindow w) {
  bool v = false;
  With(w, [&](Sys&, Window& r) { v = r.closeEnabled; });
  return v;
}

bool PlatGetRestoredRect(PlatWindow w, PlatRect* frame) {
  if (!frame) return false;
  return With(w, [&](Sys&, Window& r) { *frame = r.sizeState == kNormal ? r.frame : r.restore; });
}

PlatWindow PlatWindowFromPoint(int32_t x, int32_t y) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  for (PlatWindow id : s.z) {
    Window* r = Find(s, id);
    if (!r || !r->shown || !r->enabled || r->sizeState == kMinimized) continue;
    if (x >= r->frame.left && x < r->frame.right && y >= r->frame.top && y < r->frame.bottom) return id;
  }
  return 0;
}

bool PlatSetWindowPos(PlatWindow w, PlatWindow insertAfter, int32_t x, int32_t y, int32_t cx,
                      int32_t cy, uint32_t flags) {
  return SetPos(w, insertAfter, x, y, cx, cy, flags, nullptr);
}

namespace {

// PlatSetWindowPos, with Move and Size judged against the client area
// before (the current one when null): a style change has already moved it.
bool SetPos(PlatWindow w, PlatWindow insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags,
            const PlatRect* before) {
  Sys& s = TheSys();
  PlatWindowPos pos{w, insertAfter, x, y, cx, cy, flags};
  PlatRect oldClient;
  PlatWindow owner;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    if (flags & kPlatSwpNoMove) pos.x = r->frame.left, pos.y = r->frame.top;
    if (flags & kPlatSwpNoSize) pos.cx = r->frame.right - r->frame.left, pos.cy = r->frame.bottom - r->frame.top;
    oldClient = before ? *before : ClientOf(*r);
    owner = r->owner;
  }
  PlatSendMessage(w, kPlatMsgWindowPosChanging, 0, PlatLParam(&pos));
  bool showing = false, hiding = false, raised = false;
  PlatRect newClient;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) return false;
    const bool child = IsChild(*r);
    if (child) pos.flags |= kPlatSwpNoZOrder | kPlatSwpNoActivate;
    if (!(pos.flags & kPlatSwpNoZOrder)) {
      if (pos.insertAfter == kPlatInsertTopmost) r->exStyle |= kPlatWsExTopmost;
      if (pos.insertAfter == kPlatInsertNoTopmost) r->exStyle &= ~kPlatWsExTopmost;
      Place(s, w, pos.insertAfter);
      raised = pos.insertAfter == kPlatInsertTop || pos.insertAfter == kPlatInsertTopmost;
    }
    if (!(pos.flags & kPlatSwpNoMove) || !(pos.flags & kPlatSwpNoSize)) {
      const int32_t cx2 = std::max(0, pos.cx), cy2 = std::max(0, pos.cy);
      r->frame = PlatRect{pos.x, pos.y, pos.x + cx2, pos.y + cy2};
    }
    if ((pos.flags & kPlatSwpShowWindow) && !r->shown) {
      r->shown = true;
      showing = true;
    }
    if ((pos.flags & kPlatSwpHideWindow) && r->shown) {
      r->shown = false;
      hiding = true;
    }
    SyncSurface(s, *r);
    if (showing) {
      // Showing invalidates all of the client area.
      const PlatRect c = ClientOf(*r);
      pixman_region32_union_rect(&r->update, &r->update, 0, 0, uint32_t(c.right - c.left),
                                 uint32_t(c.bottom - c.top));
      r->erase = true;
      Raise(r->thread);
    }
    newClient = ClientOf(*r);
    ShiftChildren(s, w, newClient.left - oldClient.left, newClient.top - oldClient.top);
  }
  if (hiding) WindowGoing(w, owner);
  if ((showing || raised) && !(pos.flags & kPlatSwpNoActivate)) PlatSetActiveWindow(w);
  if (newClient.left != oldClient.left || newClient.top != oldClient.top)
    PlatSendMessage(w, kPlatMsgMove, 0, PlatMakeLParam(newClient.left, newClient.top));
  if (newClient.right - newClient.left != oldClient.right - oldClient.left ||
      newClient.bottom - newClient.top != oldClient.bottom - oldClient.top) {
    uint32_t kind = kPlatSizeRestored;
    With(w, [&](Sys&, Window& r) { kind = uint32_t(r.sizeState); });
    PlatSendMessage(w, kPlatMsgSize, kind,
                    PlatMakeLParam(newClient.right - newClient.left, newClient.bottom - newClient.top));
  }
  return true;
}

}  // namespace

bool PlatMoveWindow(PlatWindow w, const PlatRect& frame) {
  return PlatSetWindowPos(w, 0, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                          kPlatSwpNoZOrder | kPlatSwpNoActivate);
}

bool PlatShowWindow(PlatWindow w, int32_t command) {
  Sys& s = TheSys();
  bool was = false;
  int32_t state = kNormal;
  PlatRect restore{}, frame{};
  uint32_t style = 0, exStyle = 0;
  if (!With(w, [&](Sys&, Window& r) {
        was = r.shown;
        state = r.sizeState;
        restore = r.restore;
        frame = r.frame;
        style = r.style;
        exStyle = r.exStyle;
      }))
    return false;
  const PlatRect work = PlatGetWorkArea();
  const uint32_t kShowFlags = kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpShowWindow;
  auto setState = [&](int32_t st, const PlatRect& to, bool keepRestore) {
    With(w, [&](Sys&, Window& r) {
      if (!keepRestore && r.sizeState == kNormal) r.restore = r.frame;
      r.sizeState = st;
    });
    PlatSetWindowPos(w, kPlatInsertTop, to.left, to.top, to.right - to.left, to.bottom - to.top,
                     kPlatSwpShowWindow | (st == kMinimized ? uint32_t(kPlatSwpNoActivate) : 0u));
  };
  switch (command) {
    case kPlatSwHide:
      if (was) {
        PlatSendMessage(w, kPlatMsgShowWindow, 0, 0);
        PlatSetWindowPos(w, 0, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoZOrder | kPlatSwpNoActivate | kPlatSwpHideWindow);
      }
      break;
    case kPlatSwShowNoActivate:
    case kPlatSwShow:
      if (!was) PlatSendMessage(w, kPlatMsgShowWindow, 1, 0);
      PlatSetWindowPos(w, kPlatInsertTop, 0, 0, 0, 0,
                       kShowFlags | (command == kPlatSwShowNoActivate ? kPlatSwpNoActivate | kPlatSwpNoZOrder : 0));
      break;
    case kPlatSwShowNormal:
    case kPlatSwRestore:
      if (!was) PlatSendMessage(w, kPlatMsgShowWindow, 1, 0);
      if (state == kMinimized && PlatSendMessage(w, kPlatMsgQueryOpen, 0, 0) == 0) break;
      if (state != kNormal) {
        With(w, [&](Sys&, Window& r) { r.sizeState = kNormal; });
        PlatSetWindowPos(w, kPlatInsertTop, restore.left, restore.top, restore.right - restore.left,
                         restore.bottom - restore.top, kPlatSwpShowWindow);
      } else {
        PlatSetWindowPos(w, kPlatInsertTop, 0, 0, 0, 0, kShowFlags);
      }
      break;
    case kPlatSwMinimize:
      if (state == kMinimized) break;
      if (!was) PlatSendMessage(w, kPlatMsgShowWindow, 1, 0);
      setState(kMinimized, PlatRect{frame.left, frame.top, frame.left + 160, frame.top + 24}, state == kMaximized);
      PlatSendMessage(w, kPlatMsgSize, kPlatSizeMinimized, 0);
      if (PlatGetActiveWindow() == w) WindowGoing(w, PlatGetOwner(w));
      break;
    case kPlatSwMaximize: {
      if (state == kMaximized) break;
      if (!was) PlatSendMessage(w, kPlatMsgShowWindow, 1, 0);
      PlatRect to = work;
      PlatAdjustWindowRect(&to, style, exStyle);
      if (state == kMinimized) With(w, [&](Sys&, Window& r) { r.sizeState = kNormal; });
      setState(kMaximized, to, state == kMinimized);
      break;
    }
    default:
      PlatSetLastError(kPlatErrInvalidParam);
      return false;
  }
  (void)s;
  return was;
}

int32_t PlatWindowZOrder(PlatWindow* out, int32_t max) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  for (int32_t i = 0; out && i < max && size_t(i) < s.z.size(); ++i) out[i] = s.z[size_t(i)];
  return int32_t(s.z.size());
}

bool PlatWindowSetTitle(PlatWindow w, const char* title) {
  return With(w, [&](Sys&, Window& r) { r.title = title ? std::string(title).substr(0, kMaxTitle) : ""; });
}

int32_t PlatWindowGetTitle(PlatWindow w, char* out, int32_t size) {
  int32_t n = -1;
  With(w, [&](Sys&, Window& r) {
    if (out && size > 0) {
      size_t k = std::min(r.title.size(), size_t(size - 1));
      std::memcpy(out, r.title.data(), k);
      out[k] = 0;
    }
    n = int32_t(r.title.size());
  });
  return n;
}

void PlatSetWorkArea(const PlatRect& area) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  s.workArea = area;
  s.workAreaSet = true;
}

PlatRect PlatGetWorkArea() {
  {
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.workAreaSet) return s.workArea;
  }
  // The display is asked without the window system's lock.
  const PlatDisplay* d = PlatGetDisplay();
  return PlatRect{0, 0, d->Width(), d->Height()};
}

namespace {

uint32_t StyleOfFrame(uint32_t frame, uint32_t* exStyle) {
  uint32_t style = 0;
  *exStyle = 0;
  if (frame & kPlatFrameCaption) style |= kPlatWsCaption;
  if (frame & kPlatFrameSizable) style |= kPlatWsThickFrame;
  if (frame & kPlatFrameBorder) style |= kPlatWsBorder;
  if (frame & kPlatFrameEdge) *exStyle |= kPlatWsExClientEdge;
  return style;
}

}  // namespace

PlatWindow PlatWindowCreate(const PlatRect& content, const char* title, uint32_t frame) {
  uint32_t ex;
  const uint32_t style = StyleOfFrame(frame, &ex);
  PlatRect r = content;
  PlatAdjustWindowRect(&r, style, ex);
  return PlatCreateWindow(nullptr, title, style, ex, r, 0);
}

bool PlatWindowDestroy(PlatWindow w) { return PlatDestroyWindow(w); }
bool PlatWindowExists(PlatWindow w) { return PlatIsWindow(w); }

bool PlatWindowSetContent(PlatWindow w, const PlatRect& content) {
  uint32_t style = 0, ex = 0;
  if (!With(w, [&](Sys&, Window& r) { style = r.style, ex = r.exStyle; })) return false;
  PlatRect f = content;
  PlatAdjustWindowRect(&f, style, ex);
  return PlatMoveWindow(w, f);
}

bool PlatWindowSetFrame(PlatWindow w, uint32_t frame) {
  uint32_t ex;
  const uint32_t style = StyleOfFrame(frame, &ex);
  constexpr uint32_t kFrameStyles = kPlatWsCaption | kPlatWsThickFrame | kPlatWsBorder;
  // The rectangle around a content made by the old insets, made again with
  // the new ones.
  auto reframe = [](PlatRect f, const PlatRect& from, uint32_t st, uint32_t exSt) {
    PlatRect c{f.left + from.left, f.top + from.top, f.right - from.right, f.bottom - from.bottom};
    PlatAdjustWindowRect(&c, st, exSt);
    return c;
  };
  return With(w, [&](Sys& s, Window& r) {
    const PlatRect before = ClientOf(r);
    const PlatRect old = PlatFrameInsets(r.style, r.exStyle);
    r.style = (r.style & ~kFrameStyles) | style;
    r.exStyle = (r.exStyle & ~kPlatWsExClientEdge) | ex;
    // A minimised or maximised window keeps its frame (the screen's or the
    // icon's); its restored one keeps its content like a normal window.
    if (r.sizeState == kNormal) r.frame = reframe(r.frame, old, r.style, r.exStyle);
    else r.restore = reframe(r.restore, old, r.style, r.exStyle);
    SyncSurface(s, r);
    const PlatRect after = ClientOf(r);
    ShiftChildren(s, w, after.left - before.left, after.top - before.top);
  });
}

bool PlatWindowGetContent(PlatWindow w, PlatRect* content) {
  if (!content) return false;
  return With(w, [&](Sys&, Window& r) { *content = ClientOf(r); });
}

bool PlatWindowShow(PlatWindow w, bool shown) {
  if (!PlatIsWindow(w)) return false;
  PlatShowWindow(w, shown ? kPlatSwShowNoActivate : kPlatSwHide);
  return true;
}

bool PlatWindowIsShown(PlatWindow w) { return PlatIsWindowVisible(w); }

bool PlatWindowRaise(PlatWindow w) {
  return PlatSetWindowPos(w, kPlatInsertTop, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate);
}

PlatRect PlatWindowFrameMargins(uint32_t frame) {
  uint32_t ex;
  const uint32_t style = StyleOfFrame(frame, &ex);
  return PlatFrameInsets(style, ex);
}

void PlatWindowsReset() {
  Sys& s = TheSys();
  std::vector<PlatWindow> all;
  {
    std::lock_guard<std::mutex> g(s.lock);
    for (auto& kv : s.windows) all.push_back(kv.first);
  }
  for (PlatWindow w : all) PlatDestroyWindow(w);
  std::lock_guard<std::mutex> g(s.lock);
  s.windows.clear();
  s.z.clear();
  s.classes.clear();
  s.nextId = 1;
  s.workAreaSet = false;
  s.uiThread = 0;
  s.active = 0;
  s.capture = 0;
  s.appActive = true;
  s.frameWindow = 0;
  s.lastMoveWindow = 0;
  s.altAlone = false;
  std::memset(s.keys, 0, sizeof s.keys);
  std::memset(s.injected, 0, sizeof s.injected);
  std::memset(s.keyText, 0xFF, sizeof s.keyText);
  s.mouseX = s.mouseY = 0;
  for (auto& kv : s.queues) {
    kv.second->posts.clear();
    kv.second->input.clear();
    kv.second->quit = false;
  }
}
