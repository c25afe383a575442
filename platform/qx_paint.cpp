#include "qx_paint.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "qx_dc_internal.h"
#include "qx_file.h"
#include "qx_msgqueue.h"
#include "qx_region.h"
#include "qx_region_internal.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// The bounding box of a region; all zero when it is empty.
PlatRect BoxOf(pixman_region32_t* r) {
  const pixman_box32_t* e = pixman_region32_extents(r);
  return pixman_region32_not_empty(r) ? PlatRect{e->x1, e->y1, e->x2, e->y2} : PlatRect{0, 0, 0, 0};
}

pixman_region32_t* RegionOf(PlatObj rgn) {
  auto r = qxdraw::Get<qxdraw::Region>(rgn, kPlatObjRegion);
  return r ? &r->r : nullptr;
}

void ClientBox(const Window& w, pixman_region32_t* out) {
  const PlatRect c = ClientOf(w);
  pixman_region32_init_rect(out, 0, 0, uint32_t(c.right - c.left), uint32_t(c.bottom - c.top));
}

// Adds a region (client coordinates) to the update region, kept inside the
// client area.
void AddUpdate(Window& w, pixman_region32_t* add, bool erase) {
  pixman_region32_t client;
  ClientBox(w, &client);
  pixman_region32_intersect(add, add, &client);
  pixman_region32_fini(&client);
  if (!pixman_region32_not_empty(add)) return;
  pixman_region32_union(&w.update, &w.update, add);
  if (erase) w.erase = true;
  Raise(w.thread);
}

// Makes a context on the window's pixels, remembered so the pixels outlive
// the window while it exists.
PlatObj MakeDc(Sys& s, Window& w) {
  const PlatObj dc = PlatCreateTargetDc(w.pixels.get());
  if (dc) s.dcs[dc] = w.pixels;
  return dc;
}

bool DropDc(PlatObj dc) {
  Sys& s = TheSys();
  std::shared_ptr<Pixels> keep;
  {
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.dcs.find(dc);
    if (it == s.dcs.end()) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    keep = it->second;
    s.dcs.erase(it);
  }
  return PlatDeleteDc(dc);
}

}  // namespace

namespace qxwin {

PlatWindow NextPaint(Sys& s, uint32_t thread) {
  auto due = [&](const Window* r) {
    return r && r->thread == thread && r->shown && r->sizeState != kMinimized && !r->painting &&
           pixman_region32_not_empty(&r->update);
  };
  for (PlatWindow id : s.z)
    if (due(Find(s, id))) return id;
  // Child windows are out of the z-order: they paint after the top-level
  // ones, over what their parents painted, and only while every parent up
  // the chain is shown.
  auto parentsShown = [&](const Window& c) {
    const Window* r = &c;
    for (int depth = 0; IsChild(*r) && depth < 64; ++depth) {
      r = Find(s, r->owner);
      if (!r || !r->shown || r->sizeState == kMinimized) return false;
    }
    return true;
  };
  for (auto& kv : s.windows)
    if (IsChild(*kv.second) && !kv.second->destroying && due(kv.second.get()) && parentsShown(*kv.second))
      return kv.first;
  return 0;
}

void SyncSurface(Sys&, Window& w) {
  if (w.sizeState == kMinimized) return;
  const PlatRect c = ClientOf(w);
  const int32_t nw = c.right - c.left, nh = c.bottom - c.top;
  PlatSurface* surf = w.pixels->surface;
  const int32_t ow = PlatSurfaceWidth(surf), oh = PlatSurfaceHeight(surf);
  if (nw == ow && nh == oh) return;
  if (!PlatSurfaceResize(surf, nw, nh)) return;
  // The strips gained are white and need painting.
  pixman_region32_t gained, old;
  pixman_region32_init_rect(&gained, 0, 0, uint32_t(nw), uint32_t(nh));
  pixman_region32_init_rect(&old, 0, 0, uint32_t(std::max(0, ow)), uint32_t(std::max(0, oh)));
  pixman_region32_subtract(&gained, &gained, &old);
  int n = 0;
  const pixman_box32_t* b = pixman_region32_rectangles(&gained, &n);
  if (ow <= 0 || oh <= 0) {
    PlatSurfaceClear(surf, kWhite);  // all of it is new: one pass
    n = 0;
  }
  for (int i = 0; i < n; ++i)
    for (int32_t y = b[i].y1; y < b[i].y2; ++y)
      for (int32_t x = b[i].x1; x < b[i].x2; ++x) PlatSurfaceSetPixel(surf, x, y, kWhite);
  pixman_region32_intersect(&w.update, &w.update, &old);
  AddUpdate(w, &gained, true);
  pixman_region32_fini(&gained);
  pixman_region32_fini(&old);
}

}  // namespace qxwin

bool PlatInvalidateRect(PlatWindow w, const PlatRect* rect, bool erase) {
  return With(w, [&](Sys&, Window& r) {
    pixman_region32_t add;
    if (rect && (rect->right <= rect->left || rect->bottom <= rect->top)) return;
    if (rect)
      pixman_region32_init_rect(&add, rect->left, rect->top, uint32_t(rect->right - rect->left),
                                uint32_t(rect->bottom - rect->top));
    else
      ClientBox(r, &add);
    AddUpdate(r, &add, erase);
    pixman_region32_fini(&add);
  });
}

bool PlatInvalidateWithChildren(PlatWindow w, bool erase) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Find(s, w)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  // The window, then its descendants level by level; the depth is bounded
  // as owner chains are elsewhere.
  std::vector<PlatWindow> level{w};
  for (int depth = 0; !level.empty() && depth < 64; ++depth) {
    std::vector<PlatWindow> next;
    for (PlatWindow id : level) {
      Window* r = Find(s, id);
      if (!r) continue;
      pixman_region32_t add;
      ClientBox(*r, &add);
      AddUpdate(*r, &add, erase);
      pixman_region32_fini(&add);
      for (auto& kv : s.windows)
        if (kv.second->owner == id && IsChild(*kv.second) && !kv.second->destroying) next.push_back(kv.first);
    }
    level.swap(next);
  }
  return true;
}

bool PlatInvalidateRgn(PlatWindow w, PlatObj rgn, bool erase) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Window* r = Find(s, w);
  pixman_region32_t* src = RegionOf(rgn);
  if (!r || !src) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  pixman_region32_t add;
  pixman_region32_init(&add);
  pixman_region32_copy(&add, src);
  AddUpdate(*r, &add, erase);
  pixman_region32_fini(&add);
  return true;
}

bool PlatValidateRect(PlatWindow w, const PlatRect* rect) {
  return With(w, [&](Sys&, Window& r) {
    if (!rect) {
      pixman_region32_clear(&r.update);
      r.erase = false;
    } else if (rect->right > rect->left && rect->bottom > rect->top) {
      pixman_region32_t sub;
      pixman_region32_init_rect(&sub, rect->left, rect->top, uint32_t(rect->right - rect->left),
                                uint32_t(rect->bottom - rect->top));
      pixman_region32_subtract(&r.update, &r.update, &sub);
      pixman_region32_fini(&sub);
    }
  });
}

bool PlatGetUpdateRect(PlatWindow w, PlatRect* box) {
  bool any = false;
  With(w, [&](Sys&, Window& r) {
    any = pixman_region32_not_empty(&r.update);
    if (box) *box = BoxOf(&r.update);
  });
  return any;
}

int32_t PlatGetUpdateRgn(PlatWindow w, PlatObj rgn) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Window* r = Find(s, w);
  pixman_region32_t* dst = RegionOf(rgn);
  if (!r || !dst) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return kPlatRgnError;
  }
  pixman_region32_copy(dst, &r->update);
  return qxdraw::RegionKind(dst);
}

PlatObj PlatBeginPaint(PlatWindow w, PlatPaintInfo* info) {
  Sys& s = TheSys();
  PlatObj dc, clip;
  bool erase, brush;
  PlatRect box;
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return 0;
    }
    box = BoxOf(&r->update);
    clip = PlatCreateRectRgn(0, 0, 0, 0);
    if (pixman_region32_t* c = RegionOf(clip)) pixman_region32_copy(c, &r->update);
    pixman_region32_clear(&r->update);
    erase = r->erase;
    r->erase = false;
    brush = r->cls && r->cls->background != kPlatNoBrush;
    dc = MakeDc(s, *r);
  }
  if (dc) PlatSelectClipRgn(dc, clip);
  PlatDeleteObject(clip);
  if (!dc) return 0;
  if (erase && brush && PlatSendMessage(w, kPlatMsgEraseBackground, PlatWParam(dc), 0) != 0) erase = false;
  if (info) *info = PlatPaintInfo{dc, box, erase};
  return dc;
}

namespace {
std::atomic<PlatEndPaintHook> gEndPaintHook{nullptr};
}  // namespace

PlatEndPaintHook PlatSetEndPaintHook(PlatEndPaintHook hook) { return gEndPaintHook.exchange(hook); }

bool PlatEndPaint(PlatWindow w, const PlatPaintInfo* info) {
  if (!info) return false;
  if (PlatEndPaintHook hook = gEndPaintHook.load()) hook(w);
  return DropDc(info->dc);
}

bool PlatUpdateWindow(PlatWindow w) {
  Sys& s = TheSys();
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    if (!r->shown || !pixman_region32_not_empty(&r->update)) return true;
  }
  PlatSendMessage(w, kPlatMsgPaint, 0, 0);
  return true;
}

PlatObj PlatGetDc(PlatWindow w) {
  PlatObj dc = 0;
  With(w, [&](Sys& s, Window& r) {
    dc = r.spareDc ? r.spareDc : MakeDc(s, r);
    r.spareDc = 0;
  });
  return dc;
}

bool PlatReleaseDc(PlatWindow w, PlatObj dc) {
  // The window keeps one context of its own for its next PlatGetDc, put
  // back as it was made (the object table's lock is taken inside this one,
  // as everywhere); others go.
  {
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (r && dc && r->spareDc == dc) {
      // Given back already: a second release must not delete the kept one.
      PlatSetLastError(kPlatErrInvalidHandle);
      return false;
    }
    const auto it = s.dcs.find(dc);
    if (r && !r->spareDc && !r->destroying && it != s.dcs.end() && it->second == r->pixels &&
        qxdraw::ResetDc(dc)) {
      r->spareDc = dc;
      return true;
    }
  }
  return DropDc(dc);
}

PlatSurface* PlatWindowSurface(PlatWindow w) {
  PlatSurface* surface = nullptr;
  With(w, [&](Sys&, Window& r) { surface = r.pixels->surface; });
  return surface;
}

int32_t PlatScrollWindowEx(PlatWindow w, int32_t dx, int32_t dy, const PlatRect* rect, const PlatRect* clip,
                           PlatRect* uncovered, uint32_t flags) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Window* r = Find(s, w);
  if (!r) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return kPlatRgnError;
  }
  PlatSurface* surf = r->pixels->surface;
  const int32_t cw = PlatSurfaceWidth(surf), ch = PlatSurfaceHeight(surf);
  auto box = [&](const PlatRect* p) {
    PlatRect b = p ? *p : PlatRect{0, 0, cw, ch};
    b.left = std::max(b.left, 0), b.top = std::max(b.top, 0);
    b.right = std::min(b.right, cw), b.bottom = std::min(b.bottom, ch);
    if (b.right < b.left) b.right = b.left;
    if (b.bottom < b.top) b.bottom = b.top;
    return b;
  };
  const PlatRect rc = box(rect), cl = box(clip);
  // The source: rect ∩ clip; the destination: the source moved, inside clip.
  PlatRect src{std::max(rc.left, cl.left), std::max(rc.top, cl.top), std::min(rc.right, cl.right),
               std::min(rc.bottom, cl.bottom)};
  if (src.right < src.left) src.right = src.left;
  if (src.bottom < src.top) src.bottom = src.top;
  const int64_t dl = int64_t(src.left) + dx, dt = int64_t(src.top) + dy;
  PlatRect dst{int32_t(std::max<int64_t>(dl, cl.left)), int32_t(std::max<int64_t>(dt, cl.top)),
               int32_t(std::min<int64_t>(int64_t(src.right) + dx, cl.right)),
               int32_t(std::min<int64_t>(int64_t(src.bottom) + dy, cl.bottom))};
  if (dst.right > dst.left && dst.bottom > dst.top) {
    const int32_t wpx = dst.right - dst.left;
    std::vector<uint32_t> rows(size_t(wpx) * size_t(dst.bottom - dst.top));
    uint8_t* bits = PlatSurfaceBits(surf);
    const int32_t stride = PlatSurfaceStride(surf);
    for (int32_t y = dst.top; y < dst.bottom; ++y)
      std::memcpy(&rows[size_t(y - dst.top) * size_t(wpx)],
                  bits + size_t(y - dy) * size_t(stride) + size_t(dst.left - dx) * 4, size_t(wpx) * 4);
    for (int32_t y = dst.top; y < dst.bottom; ++y)
      std::memcpy(bits + size_t(y) * size_t(stride) + size_t(dst.left) * 4, &rows[size_t(y - dst.top) * size_t(wpx)],
                  size_t(wpx) * 4);
  } else {
    dst = PlatRect{0, 0, 0, 0};
  }
  // The update region inside rect moves along, staying inside clip.
  pixman_region32_t inside, moved, clipR;
  pixman_region32_init_rect(&inside, rc.left, rc.top, uint32_t(rc.right - rc.left), uint32_t(rc.bottom - rc.top));
  pixman_region32_init_rect(&clipR, cl.left, cl.top, uint32_t(cl.right - cl.left), uint32_t(cl.bottom - cl.top));
  pixman_region32_init(&moved);
  pixman_region32_intersect(&moved, &r->update, &inside);
  pixman_region32_subtract(&r->update, &r->update, &inside);
  if (qxdraw::OffsetFits(&moved, dx, dy)) pixman_region32_translate(&moved, dx, dy);
  pixman_region32_intersect(&moved, &moved, &clipR);
  pixman_region32_union(&r->update, &r->update, &moved);
  // Uncovered: the source less the destination.
  pixman_region32_t gone, dstR;
  pixman_region32_init_rect(&gone, src.left, src.top, uint32_t(src.right - src.left), uint32_t(src.bottom - src.top));
  pixman_region32_init_rect(&dstR, dst.left, dst.top, uint32_t(dst.right - dst.left), uint32_t(dst.bottom - dst.top));
  pixman_region32_subtract(&gone, &gone, &dstR);
  const int32_t kind = qxdraw::RegionKind(&gone);
  if (uncovered) *uncovered = BoxOf(&gone);
  if (flags & kPlatScrollInvalidate) AddUpdate(*r, &gone, (flags & kPlatScrollErase) != 0);
  for (pixman_region32_t* p : {&inside, &moved, &clipR, &gone, &dstR}) pixman_region32_fini(p);
  return kind;
}
