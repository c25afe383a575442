#include "mgsource/window/wsysinfo.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_dc.h"
#include "platform/qx_display.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_sysinfo.h"

namespace {

void SetPStr(PStr out, const char* text) {
  const size_t n = std::strlen(text);
  out[0] = uChar(n);
  std::memcpy(out + 1, text, n);
}

PlatRect ScreenRect() {
  return PlatRect{0, 0, PlatGetSystemMetric(kPlatMetricScreenWidth), PlatGetSystemMetric(kPlatMetricScreenHeight)};
}

bool OnScreen(int32 x, int32 y) {
  const PlatRect s = ScreenRect();
  return x >= s.left && x < s.right && y >= s.top && y < s.bottom;
}

bool Intersect(const PlatRect& a, const PlatRect& b, PlatRect* out) {
  PlatRect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
             a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  if (out) *out = r;
  return r.left < r.right && r.top < r.bottom;
}

Rect ToRect(const PlatRect& r) { return Rect{int16(r.top), int16(r.left), int16(r.bottom), int16(r.right)}; }

void PutRect(uChar* at, const PlatRect& r) {
  const int32 words[4] = {r.left, r.top, r.right, r.bottom};
  std::memcpy(at, words, sizeof words);
}

std::atomic<int32> gClipKind{kWClipNone};
std::atomic<bool> gClipChanged{false};

// The two predefined text styles: font, style, colour, font-given flag.
struct TextStyleEntry {
  int32 font, style, colour, fontGiven;
};
TextStyleEntry gTextStyles[2] = {};

}  // namespace

PStr WGetOSName(PStr name) {
  if (!name) return nullptr;
  const PlatVersion v = PlatGetVersion();
  SetPStr(name, v.isNT ? "Windows NT" : v.minor != 0 ? "Windows 98" : "Windows 95");
  return name;
}

PStr WGetOSVersion(PStr version) {
  if (!version) return nullptr;
  const PlatVersion v = PlatGetVersion();
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d", int(v.major), int(v.minor));
  SetPStr(version, text);
  return version;
}

// ---- the substitute

int32 WSubstituteSystemMetric(int32 metric) {
  switch (metric) {
    case kPlatMetricVirtualLeft:
    case kPlatMetricVirtualTop: return 0;
    case kPlatMetricVirtualWidth: return PlatGetSystemMetric(kPlatMetricScreenWidth);
    case kPlatMetricVirtualHeight: return PlatGetSystemMetric(kPlatMetricScreenHeight);
    case kPlatMetricMonitors:
    case kPlatMetricSameDisplayFormat: return 1;
    default: return PlatGetSystemMetric(metric);
  }
}

uInt32 WSubstituteMonitorFromPoint(int32 x, int32 y, uInt32 flags) {
  if (flags == kWMonitorDefaultPrimary || flags == kWMonitorDefaultNearest || OnScreen(x, y)) return kWSingleMonitor;
  return 0;
}

uInt32 WSubstituteMonitorFromRect(const PlatRect* rect, uInt32 flags) {
  if (flags == kWMonitorDefaultPrimary || flags == kWMonitorDefaultNearest) return kWSingleMonitor;
  if (rect && rect->right > rect->left && rect->bottom > rect->top && OnScreen(rect->left, rect->top))
    return kWSingleMonitor;
  return 0;
}

uInt32 WSubstituteMonitorFromWindow(PlatWindow w, uInt32 flags) {
  PlatRect frame{0, 0, 0, 0};
  const bool got = PlatIsIconic(w) ? PlatGetRestoredRect(w, &frame) : PlatGetWindowRect(w, &frame);
  return WSubstituteMonitorFromRect(got ? &frame : nullptr, flags);
}

bool WSubstituteGetMonitorInfo(uInt32 monitor, void* info) {
  if (monitor != kWSingleMonitor || !info) return false;
  uChar* block = static_cast<uChar*>(info);
  uInt32 size;
  std::memcpy(&size, block, 4);
  if (size < uInt32(kWMonInfoSize)) return false;
  PutRect(block + kWMonInfoRect, ScreenRect());
  PutRect(block + kWMonInfoWork, PlatGetWorkArea());
  std::memcpy(block + kWMonInfoFlags, &kWMonitorPrimary, 4);
  if (size >= uInt32(kWMonInfoExSize)) {
    char name[32] = "DISPLAY";
    std::memcpy(block + kWMonInfoName, name, sizeof name);
  }
  return true;
}

int32 WSubstituteEnumDisplayMonitors(PlatObj dc, const PlatRect* rect, WMonitorEnumProc proc, void* data) {
  PlatRect area = ScreenRect();
  if (dc) {
    PlatRect box{0, 0, 0, 0};
    // An empty (1) or failed (0) clip leaves nothing to call for.
    if (PlatGetClipBox(dc, &box) <= 1 || !Intersect(area, box, &area)) return 0;
  }
  if (rect && !Intersect(area, *rect, &area)) return 1;
  return proc ? (proc(kWSingleMonitor, dc, &area, data) ? 1 : 0) : 1;
}

// ---- monitors

namespace {

uInt32 NearestMonitor(Point where) {
  return WSubstituteMonitorFromPoint(where.h, where.v, kWMonitorDefaultNearest);
}

bool MonitorRects(uInt32 monitor, PlatRect* rect, PlatRect* work) {
  uChar info[kWMonInfoSize] = {};
  const uInt32 size = kWMonInfoSize;
  std::memcpy(info, &size, 4);
  if (!WSubstituteGetMonitorInfo(monitor, info)) return false;
  int32 words[8];
  std::memcpy(words, info + kWMonInfoRect, sizeof words);
  if (rect) *rect = PlatRect{words[0], words[1], words[2], words[3]};
  if (work) *work = PlatRect{words[4], words[5], words[6], words[7]};
  return true;
}

// The depth of the one monitor, and of the desktop: the screen's.
int32 ScreenDepth() { return PlatGetSystemMetric(kPlatMetricScreenDepth); }

}  // namespace

void WGetScreenRect(Point where, Rect* rect) {
  PlatRect r = ScreenRect();
  MonitorRects(NearestMonitor(where), &r, nullptr);
  if (rect) *rect = ToRect(r);
}

void WGetWorkAreaRect(Point where, Rect* rect) {
  PlatRect r = PlatGetWorkArea();
  MonitorRects(NearestMonitor(where), nullptr, &r);
  if (rect) *rect = ToRect(r);
}

int32 WGetMonitorInfo(int32 index, Rect* rect, int32* depth) {
  PlatObj dc = PlatCreateScreenDc();
  if (!dc) return 2;
  PlatDeleteDc(dc);
  // The monitors cannot be enumerated through the host: index 0 is the
  // primary screen.
  if (index != 0) return 1;
  if (rect)
    *rect = Rect{0, 0, int16(PlatGetSystemMetric(kPlatMetricScreenHeight)),
                 int16(PlatGetSystemMetric(kPlatMetricScreenWidth))};
  if (depth) *depth = PlatGetSystemMetric(kPlatMetricScreenDepth);
  return 0;
}

int32 WDepthOfRect(const PlatRect* global) {
  struct Least {
    int32 depth = 100;
    bool found = false;
  } least;
  const auto visit = [](uInt32, PlatObj, const PlatRect*, void* data) {
    Least* l = static_cast<Least*>(data);
    const int32 d = ScreenDepth();  // the one monitor's
    if (d < l->depth) l->depth = d;
    l->found = true;
    return true;
  };
  WSubstituteEnumDisplayMonitors(0, global, visit, &least);
  return least.found ? least.depth : ScreenDepth();
}

// ---- the clipboard

MgErr TSetClipboard(LStrHandle text) {
  if (!text || !*text || (*text)->cnt <= 0) return kNoErr;
  UHandle native = reinterpret_cast<UHandle>(text);
  if (DSHandToHand(&native) != kNoErr) return kMemFullErr;
  LStrHandle n = reinterpret_cast<LStrHandle>(native);
  if (StrHConvertToNative(n, 0, 0) != kNoErr) {
    DSDisposeHandle(native);
    return kMemFullErr;
  }
  const uInt32 count = uInt32((*n)->cnt);
  const PlatGlobal block = PlatGlobalAlloc(kPlatGlobalMovable, count + 1);
  void* bytes = block ? PlatGlobalLock(block) : nullptr;
  if (!bytes) {
    if (block) PlatGlobalFree(block);
    DSDisposeHandle(native);
    return kMemFullErr;
  }
  std::memcpy(bytes, (*n)->str, count);
  static_cast<uChar*>(bytes)[count] = 0;
  PlatGlobalUnlock(block);
  DSDisposeHandle(native);
  if (!PlatOpenClipboard(PlatGetFrameWindow())) {
    PlatGlobalFree(block);
    return kGenericErr;
  }
  PlatEmptyClipboard();
  const bool put = PlatSetClipboardData(kPlatClipText, block);
  PlatCloseClipboard();
  if (!put) {
    PlatGlobalFree(block);
    return kGenericErr;
  }
  gClipKind = kWClipNone;  // the system itself is the source now
  return kNoErr;
}

MgErr TGetClipboard(LStrHandle text) {
  if (!text || !*text) return kArgErr;
  UHandle h = reinterpret_cast<UHandle>(text);
  MgErr err = kGenericErr;
  if (PlatOpenClipboard(PlatGetFrameWindow())) {
    const PlatGlobal block = PlatGetClipboardData(kPlatClipText);
    const uChar* bytes = block ? static_cast<const uChar*>(PlatGlobalLock(block)) : nullptr;
    if (bytes) {
      // Another program's block may hold no NUL: never past its size.
      const uInt32 size = PlatGlobalSize(block);
      const void* nul = std::memchr(bytes, 0, size);
      const uInt32 count = nul ? uInt32(static_cast<const uChar*>(nul) - bytes) : size;
      if (count <= 0x7FFFFFF0u && DSSetHandleSize(h, int32(4 + count)) == kNoErr) {
        std::memcpy((*text)->str, bytes, count);
        (*text)->cnt = int32(count);
        err = kNoErr;
      }
      PlatGlobalUnlock(block);
    }
    PlatCloseClipboard();
  }
  if (err == kNoErr && StrHConvertFromNative(text, 0, 0) != kNoErr) err = kGenericErr;
  if (err != kNoErr) {
    if (DSSetHandleSize(h, 4) != kNoErr) return kMemFullErr;
    (*text)->cnt = 0;
  }
  return err;
}

void WSetClipboardKind(int32 kind) { gClipKind = kind; }
int32 WClipboardKind() { return gClipKind; }
void WSetClipboardChanged(Bool32 changed) { gClipChanged = changed != 0; }
Bool32 WClipboardChanged() { return gClipChanged ? 1 : 0; }

int32 WGetExternalClipboard(UHandle* picture, LStrHandle* text) {
  gClipChanged = false;
  switch (gClipKind.load()) {
    case kWClipText: {
      if (!text) return 0;
      LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHClr(4));
      if (!h) return 0;
      if (TGetClipboard(h) != kNoErr) {
        DSDisposeHandle(reinterpret_cast<UHandle>(h));
        return 0;
      }
      *text = h;
      return 1;
    }
    case kWClipPicture: {
      // The image manager reads pictures from the clipboard; the image it
      // gives is handed on in the picture word.
      int32 image = 0;
      if (!picture || IGetClipboard(&image) != kNoErr || !image) return 0;
      *picture = reinterpret_cast<UHandle>(intptr_t(image));
      return 2;
    }
    default: return 0;
  }
}

int32 WGetModalWindow(WindowRef* out) {
  const WindowRef front = WFrontModal();
  if (!front && !WNativeModal()) return 0;
  if (out) *out = front;
  return 1;
}

void GetTextStyle(int32* font, int32* style, int32* colour, int32 index) {
  const TextStyleEntry& e = gTextStyles[index == 2 ? 1 : 0];
  if (font) *font = e.fontGiven ? e.font : kAppFont;
  if (style) *style = e.style;
  if (colour) *colour = e.colour;
}
