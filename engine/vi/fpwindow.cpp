// Panel windows: opening a VI's front panel, placing new windows in a
// cascade over the screen, keeping stored windows on the screen, and the
// VI's window title.
#include <cstring>

#include "engine/exec/panelplace.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/debug.h"
#include "mgsource/rects.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/wsysinfo.h"

using namespace viinst;

namespace {

// The cascade: set up when its counter is 0 (the loaded-VI list was empty
// since the last window); the steps and the position count keep what the
// last set-up computed.
struct Cascade {
  int32 counter = 0;
  int32 stepH = 10, stepV = 30, count = 10;
  Rect area{0, 0, 0, 0};
  int32 width = 0, height = 0;
} gCascade;

constexpr int32 kCascadeInset = 2;
constexpr int32 kCascadeLeftShift = 130;
constexpr int32 kPinInset = 4;
constexpr int32 kPinMargin = 60;
constexpr int32 kMenuStateChanged = -130;

int32 Min3(int32 a, int32 b, int32 c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }

void SetUpCascade() {
  Rect area, margins;
  WGetWorkAreaRect(Point{0, 0}, &area);
  WGetShellRect(kCascadeOptions, &margins);
  area.top = int16(area.top + margins.top);
  area.left = int16(area.left + margins.left);
  DInsetRect(&area, kCascadeInset, kCascadeInset);
  area.left = int16(area.left + kCascadeLeftShift);
  Cascade& c = gCascade;
  c.area = area;
  const int32 areaW = area.right - area.left, areaH = area.bottom - area.top;
  c.width = kDefaultPanelWidth < areaW ? kDefaultPanelWidth : (areaW > 0 ? areaW : 0);
  c.height = kDefaultPanelHeight < areaH ? kDefaultPanelHeight : (areaH > 0 ? areaH : 0);
  const int32 slackW = areaW - c.width, slackH = areaH - c.height;
  int32 count = Min3(c.stepH > 0 ? slackW / c.stepH + 1 : 1, c.stepV > 0 ? slackH / c.stepV + 1 : 1, c.count);
  if (count >= 2) {
    c.stepH = slackW / (count - 1);
    c.stepV = slackH / (count - 1);
  } else {
    count = 2;
    c.stepH = 10;
    c.stepV = 30;
  }
  c.count = count;
}

// The next cascade position: the content rectangle in screen coordinates.
Rect NextCascadeRect() {
  if (gCascade.counter == 0) SetUpCascade();
  const Cascade& c = gCascade;
  const int32 k = c.counter % c.count;
  ++gCascade.counter;
  const int32 top = c.area.top + k * c.stepV, left = c.area.left + k * c.stepH;
  return Rect{int16(top), int16(left), int16(top + c.height), int16(left + c.width)};
}

Rect ExtRect(ObjHeap panel, int32 at) {
  Rect r;
  const int32 ext = int32(OHWord(panel, kOHExtension));
  std::memcpy(&r, *panel + ext + at, sizeof r);
  return r;
}
void SetExtRect(ObjHeap panel, int32 at, const Rect& r) {
  const int32 ext = int32(OHWord(panel, kOHExtension));
  std::memcpy(*panel + ext + at, &r, sizeof r);
}
Point ExtPoint(ObjHeap panel, int32 at) {
  Point p;
  const int32 ext = int32(OHWord(panel, kOHExtension));
  std::memcpy(&p, *panel + ext + at, sizeof p);
  return p;
}
void SetExtPoint(ObjHeap panel, int32 at, Point p) {
  const int32 ext = int32(OHWord(panel, kOHExtension));
  std::memcpy(*panel + ext + at, &p, sizeof p);
}

// The title a VI's window shows: its title string, else its name.
void WindowTitleOf(UHandle vi, Str255 out) {
  const VIRecord* r = VIRec(vi);
  if (UHandle t = r->title; t && *t && AZGetHandleSize(t) > 0 && (*t)[0] && AZGetHandleSize(t) > (*t)[0]) {
    std::memcpy(out, *t, size_t((*t)[0]) + 1);
    return;
  }
  std::memcpy(out, r->name, size_t(r->name[0]) + 1);
}

void RefreshWindowTitle(UHandle vi) {
  ObjHeap panel = VIRec(vi)->panelHeap;
  WindowRef w = panel ? PanelWindow(panel) : kWNoWindow;
  if (!w) return;
  Str255 title;
  WindowTitleOf(vi, title);
  WSetTitle(w, title);
}

bool SameTitle(UHandle old, ConstPStr title) {
  if (!old && !title) return true;
  if (!old || !title || !*old) return false;
  const int32 size = AZGetHandleSize(old);
  return size == title[0] + 1 && std::memcmp(*old, title, size_t(size)) == 0;
}

}  // namespace

namespace viinst {
void ResetPanelCascade() { gCascade.counter = 0; }
}  // namespace viinst

int32 PanelCascadeCount() { return gCascade.counter; }
void PanelCascadeResetForTest() { gCascade = Cascade{}; }

void PinWindowRect(Rect* rect, int32 windowOptions) {
  if (!rect) return;
  Rect area, margins;
  WGetWorkAreaRect(Point{0, 0}, &area);
  WGetShellRect(uInt32(windowOptions), &margins);
  area.top = int16(area.top + margins.top);
  area.left = int16(area.left + margins.left);
  area.bottom = int16(area.bottom - margins.bottom);
  area.right = int16(area.right - margins.right);
  const Point corner{rect->top, rect->left};
  if (DPtInRect(corner, &area)) return;
  DInsetRect(&area, kPinInset, kPinInset);
  int32 top = rect->top, left = rect->left;
  const int32 maxTop = area.bottom - kPinMargin, maxLeft = area.right - kPinMargin;
  if (top > maxTop) top = maxTop;
  if (top < area.top) top = area.top;
  if (left > maxLeft) left = maxLeft;
  if (left < area.left) left = area.left;
  DOffsetRect(rect, left - rect->left, top - rect->top);
}

WindowRef FPOpenWindow(UHandle vi, ObjHeap panel, int32 mode) {
  if (!vi || !*vi || !panel || !*panel || !OHWord(panel, kOHExtension)) return kWNoWindow;
  Rect content = ExtRect(panel, kHeapExtContentRect);
  // Where the content's top-left corner lies on the screen.
  Point at = ExtPoint(panel, kHeapExtContentOrigin);
  if (DEmptyRect(&content)) {
    const Rect cascade = NextCascadeRect();
    content = Rect{0, 0, int16(cascade.bottom - cascade.top), int16(cascade.right - cascade.left)};
    SetExtRect(panel, kHeapExtContentRect, content);
    at = Point{cascade.top, cascade.left};
  }
  // The window holds the content with its parts (menu bar, tool bar,
  // scroll bars) around it: its rectangle, in the panel's coordinates,
  // gives the window's origin, and on the screen it lies where the content
  // lies less the parts above and left of it.
  const int32 parts = ExtHalf(panel, kHeapExtWindowOptions);
  Rect frame = content;
  if (VIWindow().contentToWindow) VIWindow().contentToWindow(parts, &content, &frame);
  Rect global{int16(at.v + frame.top - content.top), int16(at.h + frame.left - content.left),
              int16(at.v + frame.bottom - content.top), int16(at.h + frame.right - content.left)};
  PinWindowRect(&global, ExtHalf(panel, kHeapExtWindowStyle));
  SetExtPoint(panel, kHeapExtContentOrigin,
              Point{int16(global.top + content.top - frame.top), int16(global.left + content.left - frame.left)});
  Str255 title;
  title[0] = 0;
  if (VIRec(vi)->viKind != kVIKindControl) WindowTitleOf(vi, title);
  const WindowRef w = WCreate(ExtHalf(panel, kHeapExtWindowStyle), title, VIShell().viWindowProc, &global, 0, 0,
                              uInt32(uintptr_t(panel)));
  if (!w) return kWNoWindow;
  SetExtWord(panel, kHeapExtWindow, uInt32(w));
  // Drags over the window reach the panel (the window's reference word).
  if (VIShell().viDropHandler) DragAcceptWindow(w, VIShell().viDropHandler);
  WSetOrigin(w, Point{frame.top, frame.left});
  WSize(w, &global);
  // The window made its content rectangle from its rectangle before it had
  // its origin: made again, the content is the panel's.
  Rect window;
  WGetRect(w, &window);
  if (VIWindow().windowToContent) {
    VIWindow().windowToContent(w, parts, &window, &content);
    SetExtRect(panel, kHeapExtContentRect, content);
  }
  if (DataSpace ds = PanelDataSpace(panel)) Hdr(ds)->panelOpen = 1;
  if (mode != 1) WShow(w);
  return w;
}

int32 OpenFrontPanel(UHandle vi) {
  if (!vi || !*vi) return 0;
  VIRecord* r = VIRec(vi);
  if (r->viKind == kVIKindProxyCaller || r->viKind == kVIKindProxyCallee) {
    DBPrintf("OpenFrontPanel on proxy \"%p\"; don't do that!", r->name);
    return 0;
  }
  if (!r->panelHeap && VIRun().loadPanelHeap) VIRun().loadPanelHeap(vi);
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return 0;
  if (WindowRef w = PanelWindow(panel)) WBringToFront(w);
  else if (!FPOpenWindow(vi, panel, 0)) return 0;
  if (DataSpace ds = PanelDataSpace(panel)) {
    Hdr(ds)->panelFlag1 = Hdr(ds)->panelFlag2 = 1;
    Hdr(ds)->panelOpen = 1;
    if (auto transfer = GetEnginePanelHooks()->transferAllControls) transfer(panel);
  }
  switch (VIRec(vi)->eState & kVIStateMask) {
    case 4: case 5: case 6: case 8: case 12: case 13: case 14:
      if (VIRun().doReserveCommand) VIRun().doReserveCommand(vi);
      break;
    default: break;
  }
  if (!(VIRec(vi)->marks & (kVIMarkPanel4 | kVIMarkPanel8))) {
    WEventRecord e{};
    e.code = kMenuStateChanged;
    e.window = kWRootWindow;
    WPostEvent(&e, 1, kWPostAnyLevel);
  }
  return 1;
}

MgErr OpenVIPanel(UHandle vi) { return OpenFrontPanel(vi) ? kNoErr : kGenericErr; }

MgErr SetVITitle(UHandle vi, ConstPStr title, int32* changed) {
  if (changed) *changed = 0;
  if (!vi || !*vi) return kArgErr;
  UHandle old = VIRec(vi)->title;
  if (SameTitle(old, title)) return kNoErr;
  UHandle copy = nullptr;
  if (title) {
    if (MgErr err = AZPtrToHand(title, &copy, title[0] + 1)) return err;
  }
  if (old) AZDisposeHandle(old);
  VIRec(vi)->title = copy;
  RefreshWindowTitle(vi);
  if (changed) *changed = 1;
  return kNoErr;
}
