// The embedded-object host: a table of objects made from state files.
#include "platform/qx_embed.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/qx_paint.h"
#include "platform/qx_surface.h"

namespace {

constexpr uint32_t kMagic = 0x5158454F;  // "QXEO"
constexpr uint32_t kVersion = 1;

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The dispatch interface: only the three reference entries do anything.
struct Dispatch {
  PlatComDispatch face;
  std::atomic<uint32_t> refs{1};
};
PlatHResult QueryInterface(PlatComDispatch* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid || (std::memcmp(iid, &kPlatIidDispatch, sizeof *iid) && std::memcmp(iid, &kPlatIidUnknownRecord, sizeof *iid)))
    return kPlatNoInterface;
  self->slots->addRef(self);
  *out = self;
  return kPlatOk;
}
uint32_t AddRef(PlatComDispatch* self) { return ++reinterpret_cast<Dispatch*>(self)->refs; }
uint32_t Release(PlatComDispatch* self) {
  Dispatch* d = reinterpret_cast<Dispatch*>(self);
  const uint32_t left = --d->refs;
  if (!left) delete d;
  return left;
}
PlatHResult TypeInfoCount(PlatComDispatch*, uint32_t* count) {
  if (count) *count = 0;
  return count ? kPlatOk : kPlatPointer;
}
PlatHResult TypeInfo(PlatComDispatch*, uint32_t, uint32_t, void**) { return kPlatNotImpl; }
PlatHResult IdsOfNames(PlatComDispatch*, const PlatGuid*, uint16_t**, uint32_t, uint32_t, int32_t*) {
  return kPlatNotImpl;
}
PlatHResult Invoke(PlatComDispatch*, int32_t, const PlatGuid*, uint32_t, uint16_t, PlatDispParams*, PlatVariant*,
                   PlatExcepInfo*, uint32_t*) {
  return kPlatNotImpl;
}
const PlatComDispatchSlots kDispatchSlots = {&QueryInterface, &AddRef, &Release, &TypeInfoCount,
                                             &TypeInfo,       &IdsOfNames, &Invoke};

struct Object {
  QxEmbedState state;
  PlatWindow window = 0;
  PlatRect bounds{};
  bool active = false, focused = false;
  uint32_t foreground = 0, background = 0xFFFFFF;
  std::string name, font;
  int32_t fontSize = 0;
  Dispatch* dispatch = nullptr;
};

std::mutex gLock;
std::map<int32_t, Object> gObjects;
int32_t gNextToken = 1;
int32_t gFailNext = 0;

Object* Find(int32_t token) {
  auto it = gObjects.find(token);
  return it == gObjects.end() ? nullptr : &it->second;
}

// Paints every object living in the window into its retained surface.
// Lock order: the host's table lock, then the window system's (taken inside
// PlatWindowSurface); the window system never calls the host holding its own.
void PaintObjects(PlatWindow w) {
  std::lock_guard<std::mutex> g(gLock);
  PlatSurface* s = nullptr;
  for (auto& [token, o] : gObjects) {
    if (o.window != w) continue;
    if (!s && !(s = PlatWindowSurface(w))) return;
    const PlatRect& r = o.bounds;
    const int32_t right = std::min(r.right, PlatSurfaceWidth(s)), bottom = std::min(r.bottom, PlatSurfaceHeight(s));
    for (int32_t y = std::max(r.top, 0); y < bottom; ++y)
      for (int32_t x = std::max(r.left, 0); x < right; ++x) {
        const bool edge = x == r.left || y == r.top || x == r.right - 1 || y == r.bottom - 1;
        PlatSurfaceSetPixel(s, x, y, edge ? 0 : o.state.colour);
      }
  }
}

// The paint hook is in place while any object lives.
void KeepHook() {
  if (!gObjects.empty()) PlatSetEndPaintHook(&PaintObjects);
}
void DropHookIfEmpty() {
  if (gObjects.empty()) PlatSetEndPaintHook(nullptr);
}

template <class F>
int32_t With(int32_t token, F f) {
  std::lock_guard<std::mutex> g(gLock);
  Object* o = Find(token);
  return o ? f(*o) : 1;
}

}  // namespace

std::vector<uint8_t> QxEmbedWriteState(const QxEmbedState& st) {
  std::vector<uint8_t> b;
  b.reserve(kQxEmbedStateSize);
  Put32(b, kMagic);
  Put32(b, kVersion);
  Put32(b, st.kind);
  Put32(b, uint32_t(st.width));
  Put32(b, uint32_t(st.height));
  Put32(b, st.flags);
  Put32(b, st.colour & 0xFFFFFF);
  return b;
}

bool QxEmbedReadState(const uint8_t* p, int32_t len, QxEmbedState* st) {
  if (!p || len < kQxEmbedStateSize || !st) return false;
  if (Get32(p) != kMagic || Get32(p + 4) != kVersion) return false;
  QxEmbedState r;
  r.kind = Get32(p + 8);
  r.width = int32_t(Get32(p + 12));
  r.height = int32_t(Get32(p + 16));
  r.flags = Get32(p + 20);
  r.colour = Get32(p + 24) & 0xFFFFFF;
  if (r.width < 0 || r.height < 0) return false;
  *st = r;
  return true;
}

int32_t QxEmbedLoad(const uint8_t* bytes, int32_t len, PlatWindow window, const PlatRect& bounds, int32_t* token,
                    uint32_t* loadFlags) {
  if (token) *token = 0;
  if (loadFlags) *loadFlags = 0;
  std::lock_guard<std::mutex> g(gLock);
  if (const int32_t fail = gFailNext) {
    gFailNext = 0;
    return fail;
  }
  QxEmbedState st;
  if (!token || !QxEmbedReadState(bytes, len, &st)) return 1;
  if (window && !PlatIsWindow(window)) return 1;
  Object o;
  o.state = st;
  o.window = window;
  o.bounds = bounds;
  // An object that asks for its natural size takes it at the bounds' top left.
  if (st.flags & kQxEmbedStateNaturalSize)
    o.bounds = PlatRect{bounds.left, bounds.top, bounds.left + st.width, bounds.top + st.height};
  o.dispatch = new Dispatch;
  o.dispatch->face.slots = &kDispatchSlots;
  const int32_t t = gNextToken++;
  if (gNextToken <= 0) gNextToken = 1;
  gObjects.emplace(t, std::move(o));
  KeepHook();
  *token = t;
  if (loadFlags && (st.flags & kQxEmbedStateNaturalSize)) *loadFlags = kQxEmbedLoadNaturalSize;
  return 0;
}

int32_t QxEmbedSave(int32_t token, std::vector<uint8_t>* out) {
  return With(token, [&](Object& o) {
    if (!out) return 1;
    *out = QxEmbedWriteState(o.state);
    return 0;
  });
}

int32_t QxEmbedDestroy(int32_t token) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gObjects.find(token);
  if (it == gObjects.end()) return 1;
  Dispatch* d = it->second.dispatch;
  gObjects.erase(it);
  DropHookIfEmpty();
  if (d) Release(&d->face);
  return 0;
}

int32_t QxEmbedActivate(int32_t token, bool on) {
  return With(token, [&](Object& o) {
    if (on && (o.state.flags & kQxEmbedStateNoInPlace)) return 1;
    o.active = on;
    if (!on) o.focused = false;
    return 0;
  });
}

uint32_t QxEmbedMiscFlags(int32_t token) {
  std::lock_guard<std::mutex> g(gLock);
  const Object* o = Find(token);
  if (!o) return 0;
  return ((o->state.flags & kQxEmbedStateRunOnly) ? kQxEmbedMiscRunOnly : 0) |
         ((o->state.flags & kQxEmbedStateNoInPlace) ? 0 : kQxEmbedMiscInPlace);
}

int32_t QxEmbedSetWindow(int32_t token, PlatWindow window) {
  return With(token, [&](Object& o) {
    if (window && !PlatIsWindow(window)) return 1;
    o.window = window;
    if (!window) o.focused = false;
    return 0;
  });
}

int32_t QxEmbedSetBounds(int32_t token, const PlatRect& bounds) {
  return With(token, [&](Object& o) {
    o.bounds = bounds;
    return 0;
  });
}

int32_t QxEmbedGetBounds(int32_t token, PlatRect* bounds) {
  return With(token, [&](Object& o) {
    if (!bounds) return 1;
    *bounds = o.bounds;
    return 0;
  });
}

int32_t QxEmbedFocus(int32_t token, bool) {
  return With(token, [&](Object& o) {
    if (!(o.state.flags & kQxEmbedStateTakesFocus) || !o.window) return 1;
    o.focused = true;
    return 0;
  });
}

int32_t QxEmbedAmbientForeground(int32_t token, uint32_t colour) {
  return With(token, [&](Object& o) { return o.foreground = colour, 0; });
}
int32_t QxEmbedAmbientBackground(int32_t token, uint32_t colour) {
  return With(token, [&](Object& o) { return o.background = colour, 0; });
}
int32_t QxEmbedAmbientName(int32_t token, const char* name) {
  return With(token, [&](Object& o) { return o.name = name ? name : "", 0; });
}
int32_t QxEmbedAmbientFont(int32_t token, const char* face, int32_t size) {
  return With(token, [&](Object& o) {
    o.font = face ? face : "";
    o.fontSize = size;
    return 0;
  });
}

int32_t QxEmbedGetPicture(int32_t token, QxEmbedPicture* picture) {
  return With(token, [&](Object& o) {
    if (!picture) return 1;
    picture->width = o.bounds.right - o.bounds.left;
    picture->height = o.bounds.bottom - o.bounds.top;
    picture->colour = o.state.colour;
    return 0;
  });
}

int32_t QxEmbedDispatch(int32_t token, PlatComDispatch** out) {
  return With(token, [&](Object& o) {
    if (!out) return 1;
    *out = &o.dispatch->face;
    return 0;
  });
}

bool QxEmbedQuery(int32_t token, QxEmbedInfo* info) {
  std::lock_guard<std::mutex> g(gLock);
  const Object* o = Find(token);
  if (!o || !info) return false;
  info->state = o->state;
  info->window = o->window;
  info->bounds = o->bounds;
  info->active = o->active;
  info->focused = o->focused;
  info->foreground = o->foreground;
  info->background = o->background;
  info->name = o->name;
  info->font = o->font;
  info->fontSize = o->fontSize;
  info->dispatchRefs = o->dispatch ? o->dispatch->refs.load() : 0;
  return true;
}

int32_t QxEmbedCount() {
  std::lock_guard<std::mutex> g(gLock);
  return int32_t(gObjects.size());
}

void QxEmbedFailNextLoad(int32_t code) {
  std::lock_guard<std::mutex> g(gLock);
  gFailNext = code;
}
