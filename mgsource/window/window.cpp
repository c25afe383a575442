#include "window.h"
#include "mgsource/window/wport.h"

#include <map>
#include <mutex>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dregion.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_window.h"

namespace {

struct WindowRec {
  uInt32 style;
  uInt32 refCon;
  WEventHandler handler;
  Point origin;
  bool visible;
  int16 depth;  // of the window's screen
  Rect placed;  // the content rectangle of a window without a host window
  DRgn idleRgn = 0;  // made at the first WSetIdleRgn; none is empty
  Bool32 idleFlag = 0;
};

// Windows without a host window are named from a range the host's window
// ids never reach.
constexpr WindowRef kFirstHostlessRef = 0x40000000;
WindowRef gNextHostless = kFirstHostlessRef;

bool Hostless(uInt32 style) { return style == kWStyleNoHost || style == kWStyleRecordOnly; }
int16 ScreenDepth() { return int16(PlatGetSystemMetric(kPlatMetricScreenDepth)); }

std::mutex gLock;  // guards the table; never held while a handler runs
std::map<WindowRef, WindowRec>& Table() {
  static auto* t = new std::map<WindowRef, WindowRec>;
  return *t;
}

bool Get(WindowRef w, WindowRec* out) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = Table().find(w);
  if (it == Table().end()) return false;
  if (out) *out = it->second;
  return true;
}

// A window that does not exist is a caller's fault; it is reported.
bool Known(WindowRef w, WindowRec* out = nullptr) {
  if (Get(w, out)) return true;
  DBPrintf("window manager: no window %ld", long(w));
  return false;
}

uint32_t FrameOf(uInt32 style) {
  uint32_t f = 0;
  if (style & kWStyleCaption) f |= kPlatFrameCaption | kPlatFrameEdge;
  else if (style & kWStyleBordered) f |= kPlatFrameBorder;
  if (style & kWStyleResizable) f |= kPlatFrameSizable;
  return f;
}

PlatRect ToPlat(const Rect& r) { return PlatRect{r.left, r.top, r.right, r.bottom}; }
Rect ToRect(const PlatRect& r) { return Rect{int16(r.top), int16(r.left), int16(r.bottom), int16(r.right)}; }

void Notify(WindowRef w, int32 code, int32 where = 0) {
  WEventRecord e{};
  e.code = code;
  e.window = w;
  e.where = where;
  WSendEvent(&e);
}

}  // namespace

WindowRef WCreate(uInt32 style, ConstPStr title, WEventHandler handler, const Rect* rect, int32 /*reserved*/,
                  Bool32 show, uInt32 refCon) {
  Rect r = rect ? *rect : Rect{0, 0, 0, 0};
  if (r.bottom <= r.top || r.right <= r.left) r = Rect{0, 0, 5, 5};
  char text[256];
  int32 n = title ? title[0] : 0;
  for (int32 i = 0; i < n; ++i) text[i] = char(title[1 + i]);
  text[n] = 0;
  PlatWindow pw;
  if (Hostless(style)) {
    std::lock_guard<std::mutex> g(gLock);
    do {
      pw = gNextHostless;
      gNextHostless = gNextHostless == 0x7FFFFFFF ? kFirstHostlessRef : gNextHostless + 1;
    } while (Table().count(pw));
  } else {
    pw = PlatWindowCreate(ToPlat(r), text, FrameOf(style));
  }
  if (!pw) return kWNoWindow;
  {
    std::lock_guard<std::mutex> g(gLock);
    Table()[pw] = WindowRec{style, refCon, handler, Point{0, 0}, false, ScreenDepth(), r, 0, 0};
  }
  Notify(pw, weWindCreate);
  if (show) WShow(pw);
  return pw;
}

void WDestroy(WindowRef window) {
  WindowRec rec;
  if (!Known(window, &rec)) return;
  WHide(window);
  {
    std::lock_guard<std::mutex> g(gLock);
    Table().erase(window);
  }
  if (rec.idleRgn) DDestroyRgn(rec.idleRgn);
  WForgetPortState(window);
  if (!Hostless(rec.style)) PlatWindowDestroy(window);
  WPurgeWindowEvents(window);
}

Bool32 WIsWindow(WindowRef window) { return Get(window, nullptr); }

namespace {

// Shows or hides a window whose visibility changes, and tells its handler.
void SetVisible(WindowRef window, bool shown) {
  WindowRec rec;
  if (!Known(window, &rec) || rec.visible == shown) return;
  {
    std::lock_guard<std::mutex> g(gLock);
    Table()[window].visible = shown;
  }
  if (!Hostless(rec.style)) PlatWindowShow(window, shown);
  Notify(window, shown ? weWindShow : weWindHide);
}

}  // namespace

void WShow(WindowRef window) { SetVisible(window, true); }
void WHide(WindowRef window) { SetVisible(window, false); }

int32 WGetDepth(WindowRef window) {
  WindowRec rec;
  const int32 depth = window && Get(window, &rec) ? rec.depth : ScreenDepth();
  if (depth < 1) DBAssert(__FILE__, __LINE__, "window depth below 1");
  return depth;
}

Bool32 WHasHostWindow(WindowRef window) {
  WindowRec rec;
  return Get(window, &rec) && !Hostless(rec.style) ? 1 : 0;
}

Bool32 WIsVisible(WindowRef window) {
  WindowRec rec;
  return Get(window, &rec) && rec.visible;
}

void WBringToFront(WindowRef window) {
  if (!Known(window)) return;
  PlatWindowRaise(window);
  WShow(window);
}

void WSetCloseable(WindowRef window, Bool32 on) {
  WindowRec rec;
  if (!Known(window, &rec) || Hostless(rec.style)) return;
  PlatEnableClose(window, on != 0);
}

void WSetTitle(WindowRef window, ConstPStr title) {
  if (!Known(window)) return;
  char text[256];
  int32 n = title ? title[0] : 0;
  for (int32 i = 0; i < n; ++i) text[i] = char(title[1 + i]);
  text[n] = 0;
  PlatWindowSetTitle(window, text);
}

void WGetTitle(WindowRef window, PStr title) {
  if (!title) return;
  title[0] = 0;
  char text[256];
  const int32 n = PlatWindowGetTitle(window, text, sizeof text);
  if (n < 0) return;
  const int32 kept = n > 255 ? 255 : n;
  for (int32 i = 0; i < kept; ++i) title[1 + i] = uChar(text[i]);
  title[0] = uChar(kept);
}

uInt32 WGetRefCon(WindowRef window) {
  WindowRec rec;
  return Get(window, &rec) ? rec.refCon : 0;
}

void WSetRefCon(WindowRef window, uInt32 refCon) {
  if (!Known(window)) return;
  std::lock_guard<std::mutex> g(gLock);
  auto it = Table().find(window);
  if (it != Table().end()) it->second.refCon = refCon;
}

void WSetEventHandler(WindowRef window, WEventHandler handler) {
  if (!Known(window)) return;
  std::lock_guard<std::mutex> g(gLock);
  auto it = Table().find(window);
  if (it != Table().end()) it->second.handler = handler;
}

void WSetIdleRgn(WindowRef window, uInt32 rgn, Bool32 flag) {
  WindowRec rec;
  if (!Known(window, &rec)) return;
  // The region is made and copied outside the table's lock: the region
  // calls are managers of their own.
  DRgn idle = rec.idleRgn ? rec.idleRgn : DRectRgn(nullptr);
  if (!idle) return;
  if (rgn) DCombineRgn(idle, rgn, rgn, kDRgnCopy);
  else DSetEmptyRgn(idle);
  std::lock_guard<std::mutex> g(gLock);
  auto it = Table().find(window);
  if (it == Table().end()) {
    DDestroyRgn(idle);
    return;
  }
  it->second.idleRgn = idle;
  it->second.idleFlag = flag ? 1 : 0;
}

Bool32 WMouseMoveWanted(WindowRef window, int32 where) {
  WindowRec rec;
  if (!Get(window, &rec)) return 1;
  const Bool32 inside = rec.idleRgn && DPtInRgn(where, rec.idleRgn) ? 1 : 0;
  return inside == rec.idleFlag;
}

uInt32 WGetStyle(WindowRef window) {
  WindowRec rec;
  return Get(window, &rec) ? rec.style : 0;
}

// The style word is what the window manager and the VI window read; the
// host frame follows it around the same content rectangle.
void WApplyWindowOptions(WindowRef window, uInt32 options) {
  WindowRec rec;
  if (!Known(window, &rec)) return;
  {
    std::lock_guard<std::mutex> g(gLock);
    Table()[window].style = options;
  }
  if (FrameOf(rec.style) != FrameOf(options)) PlatWindowSetFrame(window, FrameOf(options));
}

void WGetRect(WindowRef window, Rect* rect) {
  if (!rect) return;
  *rect = Rect{0, 0, 0, 0};
  WindowRec rec;
  PlatRect content;
  if (!Known(window, &rec)) return;
  if (Hostless(rec.style)) content = ToPlat(rec.placed);
  else if (!PlatWindowGetContent(window, &content)) return;
  rect->top = rec.origin.v;
  rect->left = rec.origin.h;
  rect->bottom = int16(rec.origin.v + (content.bottom - content.top));
  rect->right = int16(rec.origin.h + (content.right - content.left));
}

void WGetOrigin(WindowRef window, Point* origin) {
  if (!origin) return;
  WindowRec rec;
  *origin = Known(window, &rec) ? rec.origin : Point{0, 0};
}

void WSetOrigin(WindowRef window, Point origin) {
  if (!Known(window)) return;
  std::lock_guard<std::mutex> g(gLock);
  Table()[window].origin = origin;
}

void WGetGlobalRect(WindowRef window, Rect* rect) {
  if (!rect) return;
  PlatRect content{0, 0, 0, 0};
  WindowRec rec;
  if (Known(window, &rec)) {
    if (Hostless(rec.style)) content = ToPlat(rec.placed);
    else PlatWindowGetContent(window, &content);
  }
  *rect = ToRect(content);
}

void WSize(WindowRef window, const Rect* rect) {
  if (!rect || !Known(window)) return;
  PlatRect old;
  if (!PlatWindowGetContent(window, &old)) return;
  const PlatRect now = ToPlat(*rect);
  PlatWindowSetContent(window, now);
  if (old.top != now.top || old.left != now.left) Notify(window, weWindMove);
  if (old.bottom - old.top != now.bottom - now.top || old.right - old.left != now.right - now.left)
    Notify(window, weWindSize, 1);
}

void WMove(WindowRef window, int32 v, int32 h) {
  Rect now;
  if (!Known(window)) return;
  WGetGlobalRect(window, &now);
  const int32 height = now.bottom - now.top, width = now.right - now.left;
  // Pinned so that the whole rectangle keeps 16-bit coordinates.
  const auto pin = [](int32 x, int32 extent) { return x < -32768 ? -32768 : x > 32767 - extent ? 32767 - extent : x; };
  v = pin(v, height);
  h = pin(h, width);
  const Rect moved{int16(v), int16(h), int16(v + height), int16(h + width)};
  WSize(window, &moved);
}

void WGetWorkAreaRect(WindowRef /*window*/, Rect* rect) {
  if (rect) *rect = ToRect(PlatGetWorkArea());
}

void WGetShellRect(uInt32 style, Rect* margins) {
  if (margins) *margins = ToRect(PlatWindowFrameMargins(FrameOf(style)));
}

int32 WSendEvent(WEventRecord* event) {
  if (!event) return 0;
  WindowRec rec;
  if (!Get(event->window, &rec) || !rec.handler) return 0;
  return rec.handler(event, rec.refCon);
}

int32 WWindowsInOrder(WindowRef* out, int32 max) {
  std::vector<PlatWindow> order(256);
  int32 n = PlatWindowZOrder(order.data(), int32(order.size()));
  if (n > int32(order.size())) {
    order.resize(size_t(n));
    n = PlatWindowZOrder(order.data(), n);
  }
  int32 count = 0;
  for (int32 i = 0; i < n && i < int32(order.size()); ++i) {
    if (!Get(order[size_t(i)], nullptr)) continue;
    if (out && count < max) out[count] = order[size_t(i)];
    ++count;
  }
  return count;
}

void WDestroyAllWindows() {
  std::vector<WindowRef> all;
  {
    std::lock_guard<std::mutex> g(gLock);
    for (auto& kv : Table()) all.push_back(kv.first);
  }
  for (WindowRef w : all) WDestroy(w);
}
