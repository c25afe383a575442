// The container library: a shared object of its own that hosts the objects
// front-panel containers embed.  The program loads it by name and calls its
// 28 entries (kQxContainerNames, in slot order); the window system's calls
// it makes resolve against the program, which exports them.
//
// Objects are made from state files (QxEmbedReadState) named by the
// caller, saved to such files, live in a window at client bounds, and
// paint their colour and a black frame into that window's surface at the
// end of every paint of it.  An object in a window has a site there: a
// child window of its rectangle, by which the program finds the object
// (slots 10 and 26); the site's own paint paints the object again.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_embed.h"
#include "platform/qx_comvar.h"
#include "platform/qx_file.h"
#include "platform/qx_paint.h"
#include "platform/qx_surface.h"

#define QXC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The dispatch interface: references, and two members by number: 1 the
// object's colour (property, read), 2 "SetColour" (method, one integer).
struct Dispatch {
  PlatComDispatch face;
  std::atomic<uint32_t> refs{1};
  std::atomic<int32_t> token{0};  // 0 once the object is destroyed
};
constexpr int32_t kMemberColour = 1, kMemberSetColour = 2;
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
PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid*, uint32_t, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo*, uint32_t*);
PlatHResult InvokeOn(Dispatch* d, int32_t member, uint16_t flags, PlatDispParams* params, PlatVariant* result);
PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid*, uint32_t, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo*, uint32_t*) {
  return InvokeOn(reinterpret_cast<Dispatch*>(self), member, flags, params, result);
}
const PlatComDispatchSlots kDispatchSlots = {&QueryInterface, &AddRef, &Release, &TypeInfoCount,
                                             &TypeInfo,       &IdsOfNames, &Invoke};

struct Object {
  QxEmbedState state;
  PlatWindow window = 0;
  // The caller's position (top, left) and extent (height, width), and the
  // window's origin, which the position is relative to.
  int32_t top = 0, left = 0, height = 0, width = 0, ox = 0, oy = 0;
  PlatRect Client() const { return PlatRect{left - ox, top - oy, left - ox + width, top - oy + height}; }
  bool active = false, focused = false;
  uint32_t foreground = 0, background = 0xFFFFFF;
  std::string name, font;
  int32_t fontSize = 0;
  Dispatch* dispatch = nullptr;
  PlatWindow site = 0;  // the child window of the object's rectangle, 0 in the root window
  void* record = nullptr;
  int32_t focusWord = 0;
};

std::mutex gLock;
std::map<int32_t, Object> gObjects;
int32_t gNextToken = 1;
int32_t gFailNext = 0;
int32_t gFailAdopt = 0;

Object* Find(int32_t token) {
  auto it = gObjects.find(token);
  return it == gObjects.end() ? nullptr : &it->second;
}

// Paints every object living in the window into its retained surface.
// Lock order: the library's table lock, then the window system's (taken
// inside PlatWindowSurface); the window system never calls the library
// holding its own.
void PaintObjects(PlatWindow w) {
  std::lock_guard<std::mutex> g(gLock);
  for (auto& [token, o] : gObjects) {
    // The window's paint, or the paint of the object's site.
    if (!w || (o.window != w && o.site != w)) continue;
    PlatSurface* s = PlatWindowSurface(o.window);
    if (!s) continue;
    const PlatRect r = o.Client();
    const int32_t right = std::min(r.right, PlatSurfaceWidth(s)), bottom = std::min(r.bottom, PlatSurfaceHeight(s));
    for (int32_t y = std::max(r.top, 0); y < bottom; ++y)
      for (int32_t x = std::max(r.left, 0); x < right; ++x) {
        const bool edge = x == r.left || y == r.top || x == r.right - 1 || y == r.bottom - 1;
        PlatSurfaceSetPixel(s, x, y, edge ? 0 : o.state.colour);
      }
  }
}

// The screen rectangle of the object's client bounds in its window.
PlatRect SiteRect(const Object& o) {
  PlatRect r = o.Client();
  int32_t x = 0, y = 0;
  PlatClientToScreen(o.window, &x, &y);
  return PlatRect{r.left + x, r.top + y, r.right + x, r.bottom + y};
}
// A shown child window of the object's window over its rectangle; 0 in the
// root window.  Called without the table lock: the window system sends the
// new window its messages at once.
PlatWindow MakeSite(const Object& o) {
  if (!o.window) return 0;
  return PlatCreateWindow(nullptr, "", kPlatWsChild | kPlatWsVisible, 0, SiteRect(o), o.window);
}
// The object's site follows its rectangle (no lock held).
void MoveSite(PlatWindow site, const PlatRect& r) {
  if (site) PlatMoveWindow(site, r);
}
Object* FindSite(PlatWindow site) {
  if (!site) return nullptr;
  for (auto& [token, o] : gObjects)
    if (o.site == site) return &o;
  return nullptr;
}

// The paint hook is in place while any object lives.
void KeepHook() {
  if (!gObjects.empty()) PlatSetEndPaintHook(&PaintObjects);
}
void DropHookIfEmpty() {
  if (gObjects.empty()) PlatSetEndPaintHook(nullptr);
}

// Unloaded with objects still alive: the program must not call into the
// unmapped paint procedure (another hook is left in place).
__attribute__((destructor)) void Unloading() {
  const PlatEndPaintHook old = PlatSetEndPaintHook(nullptr);
  if (old && old != &PaintObjects) PlatSetEndPaintHook(old);
}

template <class F>
int32_t With(int32_t token, int32_t missing, F f) {
  std::lock_guard<std::mutex> g(gLock);
  Object* o = Find(token);
  return o ? f(*o) : missing;
}

PlatHResult InvokeOn(Dispatch* d, int32_t member, uint16_t flags, PlatDispParams* params, PlatVariant* result) {
  const uint32_t count = params ? params->count : 0;
  if (member == kMemberColour && (flags & kPlatDispatchPropertyGet)) {
    if (count) return kPlatDispBadParamCount;
    uint32_t colour = 0;
    if (With(d->token, 1, [&](Object& o) { return colour = o.state.colour, 0; })) return kPlatDispMemberNotFound;
    if (result) result->vt = kPlatVtI4, result->i4 = int32_t(colour);
    return kPlatOk;
  }
  if (member == kMemberSetColour && (flags & kPlatDispatchMethod)) {
    if (count != 1 || !params->args) return kPlatDispBadParamCount;
    if (params->args[0].vt != kPlatVtI4) return kPlatDispTypeMismatch;
    const uint32_t colour = uint32_t(params->args[0].i4) & 0xFFFFFF;
    if (With(d->token, 1, [&](Object& o) { return o.state.colour = colour, 0; })) return kPlatDispMemberNotFound;
    if (result) result->vt = kPlatVtEmpty;
    return kPlatOk;
  }
  return kPlatDispMemberNotFound;
}

// A wide string (ended by 0, at most max characters) as text; characters
// beyond Latin-1 become '?'.
std::string Narrow(const uint16_t* w, size_t max) {
  std::string s;
  for (size_t i = 0; w && i < max && w[i]; ++i) s.push_back(w[i] < 256 ? char(w[i]) : '?');
  return s;
}

// Files are named by the system's path texts and reached through the
// program's file layer.
bool ReadFile(const char* file, std::vector<uint8_t>* out) {
  PlatFile* f = nullptr;
  if (!file || PlatFileOpen(file, kPlatOpenExisting, 1, 0, &f)) return false;
  int64_t size = 0;
  uint32_t done = 0;
  // A state file is small: anything beyond a megabyte is no state file.
  bool ok = !PlatFileGetSize(f, &size) && size >= 0 && size <= (1 << 20);
  if (ok) out->resize(size_t(size));
  if (ok && size) ok = !PlatFileRead(f, out->data(), uint32_t(size), &done) && done == uint32_t(size);
  PlatFileClose(f);
  return ok;
}

bool WriteFile(const char* file, const std::vector<uint8_t>& bytes) {
  PlatFile* f = nullptr;
  if (!file || PlatFileOpen(file, kPlatCreateAlways, 0, 0, &f)) return false;
  uint32_t done = 0;
  const bool ok = !PlatFileWrite(f, bytes.data(), uint32_t(bytes.size()), &done) && done == bytes.size();
  return !PlatFileClose(f) && ok;
}

}  // namespace

// 0, 1, 3, 11, 12, 16, 21, 22, 25: entries for inserting and editing objects
// interactively, which this library does not offer: each fails.
QXC_EXPORT int32_t QxcInsertObject() { return 0; }
QXC_EXPORT int32_t QxcInsertFile() { return 0; }
QXC_EXPORT int32_t QxcGetObjectDispatch() { return 0; }
QXC_EXPORT int32_t QxcObjectGetPopupMenu() { return 0; }
QXC_EXPORT int32_t QxcObjectDoVerb() { return 1; }
QXC_EXPORT int32_t QxcOpenEditObject() { return 1; }
QXC_EXPORT int32_t QxcObjAmbUIDeadChange() { return 1; }
QXC_EXPORT int32_t QxcObjAmbUserModeChange() { return 1; }
QXC_EXPORT int32_t QxcInsertObjectSilent() { return 0; }

// 2: non-zero when the object was destroyed (its dispatch interface loses
// the library's reference).
QXC_EXPORT int32_t QxcDestroyObject(int32_t token) {
  std::unique_lock<std::mutex> g(gLock);
  auto it = gObjects.find(token);
  if (it == gObjects.end()) return 0;
  Dispatch* d = it->second.dispatch;
  const PlatWindow site = it->second.site;
  if (d) d->token = 0;
  gObjects.erase(it);
  DropHookIfEmpty();
  if (d) Release(&d->face);
  g.unlock();
  if (site) PlatDestroyWindow(site);
  return 1;
}

// 4: the dispatch interface, lent; 0 on success.
QXC_EXPORT int32_t QxcGetObjectDispatchSingle(int32_t token, PlatComDispatch** out) {
  if (out) *out = nullptr;
  return With(token, 1, [&](Object& o) {
    if (!out) return 1;
    *out = &o.dispatch->face;
    return 0;
  });
}

// Positions are (top, left) and extents (height, width), in the caller's
// coordinates, which are the window's client coordinates plus its origin.
//
// 5: makes an object from the state file at the position with the extent
// (or its natural size); 0 with the token and flags bit 0 when the object
// chose its own size.
QXC_EXPORT int32_t QxcLoadObject(int32_t* token, PlatWindow window, int32_t py, int32_t px, int32_t ey, int32_t ex,
                                 int32_t ox, int32_t oy, const char* file, int32_t* flags) {
  if (token) *token = 0;
  if (flags) *flags = 0;
  {
    std::lock_guard<std::mutex> g(gLock);
    if (const int32_t fail = gFailNext) {
      gFailNext = 0;
      return fail;
    }
  }
  std::vector<uint8_t> bytes;
  QxEmbedState st;
  if (!token || !ReadFile(file, &bytes) || !QxEmbedReadState(bytes.data(), int32_t(bytes.size()), &st)) return 1;
  if (window && !PlatIsWindow(window)) return 1;
  if (ex < 0 || ey < 0) return 1;
  Object o;
  o.state = st;
  o.window = window;
  o.top = py, o.left = px, o.height = ey, o.width = ex, o.ox = ox, o.oy = oy;
  if (st.flags & kQxEmbedStateNaturalSize) o.height = st.height, o.width = st.width;
  o.site = MakeSite(o);
  if (window && !o.site) return 1;
  o.dispatch = new Dispatch;
  o.dispatch->face.slots = &kDispatchSlots;
  std::lock_guard<std::mutex> g(gLock);
  const int32_t t = gNextToken++;
  if (gNextToken <= 0) gNextToken = 1;
  o.dispatch->token = t;
  gObjects.emplace(t, std::move(o));
  KeepHook();
  *token = t;
  if (flags && (st.flags & kQxEmbedStateNaturalSize)) *flags = 1;
  return 0;
}

// 6: writes the object's state file; non-zero on success.
QXC_EXPORT int32_t QxcSaveObject(int32_t token, const char* file) {
  std::vector<uint8_t> bytes;
  if (!With(token, 0, [&](Object& o) { return bytes = QxEmbedWriteState(o.state), 1; }) || !file) return 0;
  return WriteFile(file, bytes) ? 1 : 0;
}

// 7: new position and extent; 0 on success.
QXC_EXPORT int32_t QxcSetObjectBounds(int32_t token, int32_t py, int32_t px, int32_t ey, int32_t ex) {
  PlatWindow site = 0;
  PlatRect to{};
  const int32_t result = With(token, 1, [&](Object& o) {
    if (ex < 0 || ey < 0) return 1;
    o.top = py, o.left = px, o.height = ey, o.width = ex;
    site = o.site;
    if (site) to = SiteRect(o);
    return 0;
  });
  MoveSite(site, to);
  return result;
}

// 8: the extent (height, width); 0 on success.
QXC_EXPORT int32_t QxcGetObjectBounds(int32_t token, int32_t* ey, int32_t* ex) {
  return With(token, 1, [&](Object& o) {
    if (!ex || !ey) return 1;
    *ey = o.height;
    *ex = o.width;
    return 0;
  });
}

// 9: moves the object into another window (0: the root, where it is not
// painted) with that window's origin, keeping its position; 0 on success.
// The object's site goes with it: the old one is destroyed, a new one made
// in the new window.
QXC_EXPORT int32_t QxcAdoptObject(int32_t token, PlatWindow window, int32_t ox, int32_t oy) {
  Object moved;
  PlatWindow old = 0;
  const int32_t result = With(token, 1, [&](Object& o) {
    if (gFailAdopt) return gFailAdopt;
    if (window && !PlatIsWindow(window)) return 1;
    old = o.site;
    o.site = 0;
    o.window = window;
    o.ox = ox, o.oy = oy;
    if (!window) o.focused = false;
    moved = o;
    return 0;
  });
  if (result) return result;
  if (old) PlatDestroyWindow(old);
  const PlatWindow site = MakeSite(moved);
  if (!site) return 0;
  // The object may have gone meanwhile: then so does the new site.
  if (With(token, 1, [&](Object& o) { return o.site = site, 0; })) PlatDestroyWindow(site);
  return 0;
}

// 10: the object whose site the child window is takes the window's new
// origin, keeping its position, and its site moves with it; 1 for a child
// window that is no site.
QXC_EXPORT int32_t QxcSetOrigin(PlatWindow child, int32_t ox, int32_t oy) {
  PlatRect to{};
  {
    std::lock_guard<std::mutex> g(gLock);
    Object* o = FindSite(child);
    if (!o) return 1;
    o->ox = ox, o->oy = oy;
    to = SiteRect(*o);
  }
  MoveSite(child, to);
  return 0;
}

QXC_EXPORT int32_t QxcActivateObject(int32_t token) {
  return With(token, 1, [&](Object& o) {
    if (o.state.flags & kQxEmbedStateNoInPlace) return 1;
    o.active = true;
    return 0;
  });
}
QXC_EXPORT int32_t QxcDeactivateObject(int32_t token) {
  return With(token, 1, [&](Object& o) {
    o.active = o.focused = false;
    return 0;
  });
}

// 15: the recorded picture; 0 on success.
QXC_EXPORT int32_t QxcObjectToPicture(int32_t token, QxEmbedPicture* out) {
  return With(token, 1, [&](Object& o) {
    if (!out) return 1;
    out->width = o.width;
    out->height = o.height;
    out->colour = o.state.colour;
    return 0;
  });
}

QXC_EXPORT int32_t QxcObjAmbBGColorChange(int32_t token, uint32_t colour) {
  return With(token, 1, [&](Object& o) { return o.background = colour, 0; });
}
QXC_EXPORT int32_t QxcObjAmbFGColorChange(int32_t token, uint32_t colour) {
  return With(token, 1, [&](Object& o) { return o.foreground = colour, 0; });
}
QXC_EXPORT int32_t QxcObjAmbDisplayNameChange(int32_t token, const uint16_t* name) {
  return With(token, 1, [&](Object& o) { return o.name = Narrow(name, 0x10000), 0; });
}
QXC_EXPORT int32_t QxcObjAmbFontChange(int32_t token, QxEmbedFontDesc font) {
  return With(token, 1, [&](Object& o) {
    if (font.size != sizeof(QxEmbedFontDesc)) return 1;
    o.font = Narrow(font.face, 255);
    o.fontSize = int32_t(font.sizeLow);
    return 0;
  });
}

// 23: the object takes the focus when it accepts it and lives in a window.
QXC_EXPORT int32_t QxcFocusObject(int32_t token, int32_t word) {
  return With(token, 1, [&](Object& o) {
    o.focusWord = word;
    if (!(o.state.flags & kQxEmbedStateTakesFocus) || !o.window) return 1;
    o.focused = true;
    return 0;
  });
}

QXC_EXPORT int32_t QxcObjectMiscFlags(int32_t token) {
  return With(token, 0, [&](Object& o) {
    return int32_t(((o.state.flags & kQxEmbedStateRunOnly) ? kQxEmbedMiscRunOnly : 0) |
                   ((o.state.flags & kQxEmbedStateNoInPlace) ? 0 : kQxEmbedMiscInPlace));
  });
}

// 26: the record registered (slot 27) for the object whose site the child
// window is, null for none; 0 on success.
QXC_EXPORT int32_t QxcGetTokenOfObj(PlatWindow child, void** record) {
  if (!record) return 1;
  std::lock_guard<std::mutex> g(gLock);
  const Object* o = FindSite(child);
  *record = o ? o->record : nullptr;
  return 0;
}
// 27: registers the caller's record for the token.
QXC_EXPORT int32_t QxcSetTokenOfObj(int32_t token, void* record) {
  return With(token, 1, [&](Object& o) { return o.record = record, 0; });
}

// ---- Test entries ----------------------------------------------------------------------
QXC_EXPORT bool QxcQueryObject(int32_t token, QxEmbedInfo* info) {
  std::lock_guard<std::mutex> g(gLock);
  const Object* o = Find(token);
  if (!o || !info) return false;
  info->state = o->state;
  info->window = o->window;
  info->site = o->site;
  info->bounds = o->Client();
  info->active = o->active;
  info->focused = o->focused;
  info->foreground = o->foreground;
  info->background = o->background;
  info->name = o->name;
  info->font = o->font;
  info->fontSize = o->fontSize;
  info->dispatchRefs = o->dispatch ? o->dispatch->refs.load() : 0;
  info->record = o->record;
  info->lastFocusWord = o->focusWord;
  return true;
}
QXC_EXPORT int32_t QxcObjectCount() {
  std::lock_guard<std::mutex> g(gLock);
  return int32_t(gObjects.size());
}
QXC_EXPORT void QxcFailNextLoad(int32_t code) {
  std::lock_guard<std::mutex> g(gLock);
  gFailNext = code;
}
QXC_EXPORT void QxcFailAdoptions(int32_t code) {
  std::lock_guard<std::mutex> g(gLock);
  gFailAdopt = code;
}
