#include "platform/qx_drawobj.h"

#include <cstring>
#include <mutex>

#include "platform/qx_drawobj_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_font_internal.h"

namespace qxdraw {
namespace {

struct Slot {
  uint16_t generation = 0;
  std::shared_ptr<Object> obj;
};

struct Table {
  std::mutex mx;
  std::vector<Slot> slots{1};  // slot 0 is never used: handle 0 is no object
  std::vector<uint16_t> free;
};

// Made while the program loads, before any thread can ask for it, so every
// lookup reads a pointer that never changes; it lives to the end of the
// process, as stock objects do.
Table* const gTable = new Table;

Table& TheTable() { return *gTable; }

PlatObj Handle(uint32_t index, uint16_t generation) {
  return (uint32_t(generation) << 16) | index;
}

}  // namespace

std::atomic<uint32_t> gDroppedContexts{0}, gDroppedPens{0};

namespace {

// Region handles are looked up in runs on one region (a window's clip region
// set and set back around each clipped call): each thread keeps the last
// region it found, good while no region handle has been dropped since.  A
// handle names one object for its whole life, and the kept reference holds
// the object as the table's did when it was found.
std::atomic<uint32_t> gDroppedRegions{0};
struct LastRegion {
  PlatObj handle = 0;
  uint32_t dropped = 0;
  std::shared_ptr<Object> obj;
};
thread_local LastRegion tLastRegion;

}  // namespace

PlatObj Register(std::shared_ptr<Object> obj) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mx);
  uint32_t index;
  if (!t.free.empty()) {
    index = t.free.back();
    t.free.pop_back();
  } else if (t.slots.size() <= 0xFFFF) {
    index = uint32_t(t.slots.size());
    t.slots.emplace_back();
  } else {
    PlatSetLastError(kPlatErrNoMemory);
    return 0;
  }
  Slot& s = t.slots[index];
  s.generation = uint16_t(s.generation + 1 ? s.generation + 1 : 1);
  s.obj = std::move(obj);
  return Handle(index, s.generation);
}

std::shared_ptr<Object> Lookup(PlatObj h, PlatObjKind kind) {
  const bool region = kind == kPlatObjRegion;
  uint32_t dropped = 0;
  if (region) {
    dropped = gDroppedRegions.load(std::memory_order_acquire);
    LastRegion& last = tLastRegion;
    if (h && h == last.handle && last.dropped == dropped) return last.obj;
  }
  Table& t = TheTable();
  uint32_t index = h & 0xFFFF;
  uint16_t generation = uint16_t(h >> 16);
  std::shared_ptr<Object> found;
  {
    std::lock_guard<std::mutex> lock(t.mx);
    if (index != 0 && index < t.slots.size()) {
      const Slot& s = t.slots[index];
      if (s.obj && s.generation == generation && (kind == kPlatObjNone || s.obj->kind == kind)) found = s.obj;
    }
  }
  if (found) {
    // The region kept before is let go here, outside the table's lock.
    if (region) tLastRegion = LastRegion{h, dropped, found};
    return found;
  }
  PlatSetLastError(kPlatErrInvalidHandle);
  return nullptr;
}

Region* LookupHeldRegion(PlatObj h) {
  const LastRegion& last = tLastRegion;
  if (h && h == last.handle && last.dropped == gDroppedRegions.load(std::memory_order_acquire))
    return static_cast<Region*>(last.obj.get());
  // A region found is kept as the thread's last one, which holds it.
  const std::shared_ptr<Object> found = Lookup(h, kPlatObjRegion);
  return static_cast<Region*>(found.get());
}

bool Unregister(PlatObj h) {
  std::shared_ptr<Object> gone;  // released outside the lock
  Table& t = TheTable();
  uint32_t index = h & 0xFFFF;
  uint16_t generation = uint16_t(h >> 16);
  {
    std::lock_guard<std::mutex> lock(t.mx);
    if (index != 0 && index < t.slots.size()) {
      Slot& s = t.slots[index];
      if (s.obj && s.generation == generation) {
        if (s.obj->stock) return true;
        if (s.obj->kind == kPlatObjDc) gDroppedContexts.fetch_add(1, std::memory_order_release);
        if (s.obj->kind == kPlatObjRegion) gDroppedRegions.fetch_add(1, std::memory_order_release);
        if (s.obj->kind == kPlatObjPen || s.obj->kind == kPlatObjBrush)
          gDroppedPens.fetch_add(1, std::memory_order_release);
        gone = std::move(s.obj);
        s.obj.reset();
        // A slot whose generations are used up is retired, never reused.
        if (s.generation != 0xFFFF) t.free.push_back(uint16_t(index));
        return true;
      }
    }
  }
  PlatSetLastError(kPlatErrInvalidHandle);
  return false;
}

namespace {

PlatObj Stock(std::shared_ptr<Object> obj) {
  obj->stock = true;
  return Register(std::move(obj));
}

struct StockSet {
  PlatObj h[7];
  StockSet() {
    auto white = std::make_shared<Brush>();
    white->colour = 0xFFFFFF;
    h[kPlatStockWhiteBrush] = Stock(white);
    h[kPlatStockBlackPen] = Stock(std::make_shared<Pen>());
    auto none = std::make_shared<Brush>();
    none->brushKind = kPlatBrushNull;
    h[kPlatStockNullBrush] = Stock(none);
    h[kPlatStockFont] = Stock(qxfont::MakeStockFont(kPlatStockFont));
    h[kPlatStockFont2] = Stock(qxfont::MakeStockFont(kPlatStockFont2));
    auto bm = std::make_shared<Bitmap>();
    bm->surface = PlatSurfaceCreate(1, 1, kPlatMono1);
    h[kPlatStockBitmap] = Stock(bm);
    auto pal = std::make_shared<Palette>();
    pal->colours = {0x000000, 0xFFFFFF};
    h[kPlatStockPalette] = Stock(pal);
  }
};

}  // namespace
}  // namespace qxdraw

using namespace qxdraw;

PlatObj PlatGetStockObject(int32_t which) {
  static StockSet stock;
  if (which < 0 || which > kPlatStockPalette) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  return stock.h[which];
}

PlatObj PlatCreatePen(int32_t style, int32_t width, uint32_t colour, bool flatCap) {
  if (style < kPlatPenSolid || style > kPlatPenNull || width < 0) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  auto p = std::make_shared<Pen>();
  p->style = style;
  p->width = width;
  p->colour = colour & 0xFFFFFF;
  p->flatCap = flatCap;
  return Register(p);
}

PlatObj PlatCreateSolidBrush(uint32_t colour) {
  auto b = std::make_shared<Brush>();
  b->colour = colour & 0xFFFFFF;
  return Register(b);
}

PlatObj PlatCreatePatternBrush(PlatObj bitmap) {
  auto bm = Get<Bitmap>(bitmap, kPlatObjBitmap);
  if (!bm) return 0;
  const PlatSurface* s = bm->surface;
  int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  if (PlatSurfaceFormatOf(s) != kPlatMono1 || w == 0 || h == 0) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  auto b = std::make_shared<Brush>();
  b->brushKind = kPlatBrushPattern;
  for (int32_t y = 0; y < 8; ++y) {
    uint8_t row = 0;
    for (int32_t x = 0; x < 8; ++x)
      if (PlatSurfaceGetPixel(s, x % w, y % h) == 0xFFFFFFFFu) row |= uint8_t(0x80 >> x);
    b->pattern[y] = row;
  }
  return Register(b);
}

PlatObj PlatCreateBitmap(int32_t width, int32_t height, int32_t bitsPerPixel, const void* bits,
                         uint32_t byteCount) {
  bool known = bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
               bitsPerPixel == 24 || bitsPerPixel == 32;
  if (!known || (bits && bitsPerPixel != 1 && bitsPerPixel != 32)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  PlatSurface* s = PlatSurfaceCreate(width, height, bitsPerPixel == 1 ? kPlatMono1 : kPlatRgb32);
  if (!s) return 0;
  if (bits) {
    uint64_t row = bitsPerPixel == 1 ? (uint64_t(width) + 15) / 16 * 2 : uint64_t(width) * 4;
    if (row * uint64_t(height) > byteCount) {
      PlatSurfaceDestroy(s);
      PlatSetLastError(kPlatErrInvalidParam);
      return 0;
    }
    const auto* in = static_cast<const uint8_t*>(bits);
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* r = in + row * uint64_t(y);
      uint8_t* out = PlatSurfaceBits(s) + size_t(y) * size_t(PlatSurfaceStride(s));
      if (bitsPerPixel == 1) {
        std::memcpy(out, r, (size_t(width) + 7) / 8);
      } else {
        for (int32_t x = 0; x < width; ++x) {
          uint32_t v = uint32_t(r[4 * x]) | uint32_t(r[4 * x + 1]) << 8 | uint32_t(r[4 * x + 2]) << 16;
          reinterpret_cast<uint32_t*>(out)[x] = kPlatOpaque | v;
        }
      }
    }
  }
  auto bm = std::make_shared<Bitmap>();
  bm->surface = s;
  bm->depth = bitsPerPixel;
  PlatObj h = Register(bm);
  return h;
}

PlatSurface* PlatBitmapSurface(PlatObj bitmap) {
  auto bm = Get<Bitmap>(bitmap, kPlatObjBitmap);
  return bm ? bm->surface : nullptr;
}

PlatObj PlatCreatePalette(const uint32_t* colours, int32_t count) {
  if (!colours || count < 1 || count > 256) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  auto p = std::make_shared<Palette>();
  for (int32_t i = 0; i < count; ++i) p->colours.push_back(colours[i] & 0xFFFFFF);
  return Register(p);
}

int32_t PlatNearestPaletteIndex(PlatObj palette, uint32_t colour) {
  auto p = Get<Palette>(palette, kPlatObjPalette);
  if (!p) return -1;
  int32_t best = 0;
  uint32_t bestDistance = UINT32_MAX;
  for (size_t i = 0; i < p->colours.size(); ++i) {
    uint32_t e = p->colours[i];
    uint32_t d = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      int32_t diff = int32_t((e >> shift) & 0xFF) - int32_t((colour >> shift) & 0xFF);
      d += uint32_t(diff * diff);
    }
    if (d < bestDistance) {
      bestDistance = d;
      best = int32_t(i);
    }
  }
  return best;
}

bool PlatDeleteObject(PlatObj obj) { return Unregister(obj); }

bool PlatUnrealizeObject(PlatObj obj) { return Get<Brush>(obj, kPlatObjBrush) != nullptr; }

PlatObjKind PlatObjectKind(PlatObj obj) {
  auto o = Lookup(obj, kPlatObjNone);
  return o ? o->kind : kPlatObjNone;
}

bool PlatDescribeObject(PlatObj obj, PlatObjInfo* info) {
  auto o = Lookup(obj, kPlatObjNone);
  if (!o || !info) {
    if (o) PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  *info = PlatObjInfo{};
  info->kind = o->kind;
  info->stock = o->stock;
  switch (o->kind) {
    case kPlatObjPen: {
      auto* p = static_cast<Pen*>(o.get());
      info->style = p->style;
      info->width = p->width;
      info->colour = p->colour;
      info->flatCap = p->flatCap;
      break;
    }
    case kPlatObjBrush: {
      auto* b = static_cast<Brush*>(o.get());
      info->style = b->brushKind;
      info->colour = b->colour;
      std::memcpy(info->pattern, b->pattern, 8);
      break;
    }
    case kPlatObjBitmap: {
      auto* b = static_cast<Bitmap*>(o.get());
      info->width = PlatSurfaceWidth(b->surface);
      info->height = PlatSurfaceHeight(b->surface);
      info->format = PlatSurfaceFormatOf(b->surface);
      info->planes = 1;
      info->bitsPerPixel = b->depth;
      break;
    }
    case kPlatObjPalette:
      info->width = int32_t(static_cast<Palette*>(o.get())->colours.size());
      break;
    default:
      break;
  }
  return true;
}
