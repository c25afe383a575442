#include "engine/exec/panelplace.h"

#include <cstring>

#include "engine/exec/runcmd_internal.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"

using namespace qxrun;

namespace {
VIWindowHooks gWindowHooks{};

Rect GetExtRect(ObjHeap panel, int32 at) {
  Rect r{0, 0, 0, 0};
  if (const uChar* p = viinst::ExtAt(panel, at)) std::memcpy(&r, p, sizeof r);
  return r;
}
void PutExtRect(ObjHeap panel, int32 at, const Rect& r) {
  if (uChar* p = viinst::ExtAt(panel, at)) std::memcpy(p, &r, sizeof r);
}
void PutExtPoint(ObjHeap panel, int32 at, Point v) {
  if (uChar* p = viinst::ExtAt(panel, at)) std::memcpy(p, &v, sizeof v);
}
Point GetExtPoint(ObjHeap panel, int32 at) {
  Point v{0, 0};
  if (const uChar* p = viinst::ExtAt(panel, at)) std::memcpy(&v, p, sizeof v);
  return v;
}

void ContentToWindow(int32 parts, const Rect& content, Rect* window) {
  if (gWindowHooks.contentToWindow) gWindowHooks.contentToWindow(parts, &content, window);
  else *window = content;
}
void WindowToContent(WindowRef w, int32 parts, const Rect& window, Rect* content) {
  if (gWindowHooks.windowToContent) gWindowHooks.windowToContent(w, parts, &window, content);
  else *content = window;
}
int32 Height(const Rect& r) { return r.bottom - r.top; }
int32 Width(const Rect& r) { return r.right - r.left; }
Rect Offset(const Rect& r, int32 dv, int32 dh) {
  return Rect{int16(r.top + dv), int16(r.left + dh), int16(r.bottom + dv), int16(r.right + dh)};
}

}  // namespace

void SetVIWindowHooks(const VIWindowHooks* hooks) { gWindowHooks = hooks ? *hooks : VIWindowHooks{}; }
const VIWindowHooks& VIWindow() { return gWindowHooks; }

// The loader sets the mode while it opens a panel; it is the same word.
void SetWindowOptionMode(int32 mode) { gQXWindowOptionMode = mode; }
int32 WindowOptionMode() { return gQXWindowOptionMode; }

void GetPanelWindowOptions(ObjHeap panel, uInt16* first, uInt16* second) {
  uInt16 a = kWindowOptionsDefault, b = kWindowOptions2Default;
  UHandle vi = panel && *panel ? PanelHeapOwner(panel) : nullptr;
  if (vi && *vi) {
    const VIRecord* r = VIRec(vi);
    const uInt16 headerFirst = viinst::ExtHalf(panel, kHeapExtWindowOptions);
    const uInt16 headerSecond = viinst::ExtHalf(panel, kHeapExtWindowStyle);
    if (r->viKind != kVIKindDatalog) {
      a = headerFirst;
      b = r->viKind == kVIKindDialog ? headerSecond : r->viKind == 1 ? kWindowOptions2Kind1 : kWindowOptions2Default;
    } else if (OHWord(panel, kOHKind) == kPanelHeapKind) {
      const VIExecState s = State(vi);
      const int32 mode = WindowOptionMode();
      const bool own = (s & (2u | 4u | 8u)) ||
                       (s != 0 && (mode == 2 || (mode == 1 && (r->flags & kVIFlagRunWhenOpened)) ||
                                   (OHWord(panel, kOHFlags) & kPanelHeapKeepsOptions)));
      if (own) {
        a = r->windowOptions;
        b = headerSecond;
      }
      // The record-number field of retrieval mode lives in the tool bar.
      if (r->flags2 & kVIFlags2RetrievalMode) a |= kWindowPartToolBar;
    }
  }
  if (panel && *panel) viinst::SetExtHalf(panel, kHeapExtWindowOptions, a);
  if (first) *first = a;
  if (second) *second = b;
}

void PlacePanelWindow(ObjHeap panel) {
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return;
  const WindowRef w = viinst::PanelWindow(panel);
  // A minimised window is left where it is.
  if (!w || !WIsWindow(w) || WIsIconic(w)) return;
  uInt16 first = 0, second = 0;
  GetPanelWindowOptions(panel, &first, &second);
  Rect port;  // the window's rectangle before, local
  WGetRect(w, &port);
  const bool zoomed = WIsZoomed(w);
  Rect placed;  // the window's new rectangle, screen coordinates
  if (zoomed) {
    // A maximised window keeps its place and size.
    Rect content;
    WindowToContent(w, first, port, &content);
    PutExtRect(panel, kHeapExtContentRect, content);
    Point at{content.top, content.left};
    WLocalToGlobal(w, &at);
    PutExtPoint(panel, kHeapExtContentOrigin, at);
    WInvalRect(w, nullptr);
    WGetGlobalRect(w, &placed);
  } else {
    Rect work, margins;
    WGetWorkAreaRect(Point{0, 0}, &work);
    WGetShellRect(second, &margins);
    const Rect content = GetExtRect(panel, kHeapExtContentRect);
    const int32 oldDistance = content.top - port.top;
    Rect window;
    ContentToWindow(first, content, &window);
    const int32 newDistance = content.top - window.top;
    // To the screen: the content's top-left corner lies at the stored
    // content origin.
    const Point at = GetExtPoint(panel, kHeapExtContentOrigin);
    placed = Offset(window, at.v - content.top, at.h - content.left);
    if (placed.top + oldDistance - newDistance < work.top) PinWindowRect(&placed, second);
    if (first & kWindowOptionFill) {
      placed = Rect{int16(work.top + margins.top), int16(work.left + margins.left),
                    int16(work.bottom - margins.bottom), int16(work.right - margins.right)};
    } else if (first & kWindowOptionCentred) {
      const int32 width = Width(placed), height = Height(placed);
      const int32 left = work.left + margins.left + (Width(work) - width - margins.left - margins.right) / 2;
      const int32 top = work.top + margins.top + (Height(work) - height - margins.top - margins.bottom) / 2;
      placed = Rect{int16(top), int16(left), int16(top + height), int16(left + width)};
    }
    Rect now;
    WindowToContent(w, first, placed, &now);
    PutExtPoint(panel, kHeapExtContentOrigin, Point{now.top, now.left});
    PutExtRect(panel, kHeapExtContentRect,
               Rect{content.top, content.left, int16(content.top + Height(now)), int16(content.left + Width(now))});
    Point origin;
    WGetOrigin(w, &origin);
    origin.v = int16(origin.v + oldDistance - newDistance);
    WSetOrigin(w, origin);
  }
  WSetStyle(w, second);
  if (!zoomed) WSize(w, &placed);
  if (Width(placed) != Width(port) || Height(placed) != Height(port)) {
    if (!(OHWord(panel, kOHFlags) & kPanelHeapTracking)) {
      const Rect clip = GetExtRect(panel, kHeapExtContentRect);
      WPortState saved;
      WSetup(w, &saved);
      WSetClipRect(&clip, nullptr);
      WRestore(&saved);
    }
    WInvalRect(w, nullptr);
  }
  UpdateVIMenuBar(panel);
  if (gWindowHooks.disposeRgnCache) gWindowHooks.disposeRgnCache(panel);
}

void UpdateVIMenuBar(ObjHeap panel) {
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return;
  UHandle vi = PanelHeapOwner(panel);
  if (!vi || !*vi) return;
  const VIRecord* r = VIRec(vi);
  uInt32 bar = kMenuBarPlain;
  const RunCmdHooks& h = RunCmd();
  if ((State(vi) & (2u | 4u | 8u)) && h.rtmHasVIMenuRef && h.rtmHasVIMenuRef(vi)) bar = kMenuBarRunTime;
  else if (r->viKind == kVIKindDialog) bar = kMenuBarDialog;
  else if (r->viKind == kVIKindDatalog)
    bar = (viinst::ExtHalf(panel, kHeapExtWindowOptions) & kWindowPartMenuBar) ? kMenuBarPlain : kMenuBarPanel;
  if (viinst::ExtWord(panel, kHeapExtMenuBar) == bar) return;
  viinst::SetExtWord(panel, kHeapExtMenuBar, bar);
  InvalVIMenuBar(vi);
}

void InvalVIMenuBar(UHandle vi) {
  ObjHeap panel = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  const WindowRef w = panel && *panel ? viinst::PanelWindow(panel) : kWNoWindow;
  if (!w || !WIsWindow(w)) return;
  if (WGetActiveWindow() == w) {
    WEventRecord e{};
    e.code = weMenuInit;
    e.window = w;
    WSendEvent(&e);
  }
  Rect bar{0, 0, 0, 0};
  if (gWindowHooks.menuBarRect) gWindowHooks.menuBarRect(panel, &bar);
  bar.bottom = int16(bar.bottom - 1);
  if (bar.bottom > bar.top && bar.right > bar.left) WInvalRect(w, &bar);
}

void UpdateToolbarButton(UHandle vi, int32 image, int32 state) {
  ObjHeap panel = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  const WindowRef w = panel && *panel ? viinst::PanelWindow(panel) : kWNoWindow;
  if (!w || !WIsWindow(w) || !gWindowHooks.drawToolbarSlot) return;
  WPortState saved;
  WSetup(w, &saved);
  gWindowHooks.drawToolbarSlot(vi, image, state);
  WRestore(&saved);
}

void PlaceVIPanelWindow(UHandle vi) {
  if (vi) {
    if (*vi) PlacePanelWindow(VIRec(vi)->panelHeap);
    return;
  }
  for (UHandle v = FirstLoadedVI(); v; v = VIRec(v)->next) {
    ObjHeap panel = VIRec(v)->panelHeap;
    if (!panel || !*panel || !viinst::PanelWindow(panel)) continue;
    const uInt32 flags = OHWord(panel, kOHFlags);
    if (!(flags & kPanelHeapKeepsOptions)) continue;
    OHSetWord(panel, kOHFlags, flags & ~kPanelHeapKeepsOptions);
    PlacePanelWindow(panel);
  }
}
