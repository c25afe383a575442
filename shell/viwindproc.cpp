// The VI window's event procedure: clicks, keys, drawing, scrolling,
// resizing, activation, the cursor and closing, with the keyboard handler
// external code installs and the debug keys.  User-interface thread only.
#include <algorithm>
#include <cstring>

#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rects.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/tipstrip.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/viwindow.h"

namespace {

const VIWindHooks& H() { return VIWindHooksInUse(); }

// The one keyboard handler of the system.
struct KeyboardHandler {
  VIKeyboardHandler proc;
  int32 before;
  int32 refcon;
};
KeyboardHandler gKeyboard{};
Bool32 gManagerChecks = 1;

constexpr int32 kArrowCursor = -1;
constexpr int32 kCtrlBit = 0x20;
constexpr uInt32 kOwnerMode = 0x80000, kConfirmMode = 0x400000;
constexpr int32 kEditMenuId = 11, kDialogEditMenuId = 14;
constexpr int32 kEnterKey = 2, kCharKey = 27, kHelpKey = 14;
constexpr int32 kTipDelayTimer = 8, kTipPollTimer = 9;
constexpr DColor kDarkLine = kBlackColor;

UHandle Owner(ObjHeap panel) { return PanelHeapOwner(panel); }
int32 Kind(UHandle vi) { return vi && *vi ? VIRec(vi)->viKind : 0; }
uInt32 Flags2(UHandle vi) { return vi && *vi ? VIRec(vi)->flags2 : 0; }
bool IsFrontPanel(ObjHeap panel) { return OHWord(panel, kOHKind) == kPanelHeapKind; }
WindowRef Win(ObjHeap panel) { return viinst::PanelWindow(panel); }

Rect Content(ObjHeap panel) {
  Rect c{0, 0, 0, 0};
  if (const uChar* p = viinst::ExtAt(panel, kHeapExtContentRect)) std::memcpy(&c, p, sizeof c);
  return c;
}
void SetContent(ObjHeap panel, const Rect& c) {
  if (uChar* p = viinst::ExtAt(panel, kHeapExtContentRect)) std::memcpy(p, &c, sizeof c);
}
int32 Parts(ObjHeap panel) { return viinst::ExtHalf(panel, kHeapExtWindowOptions); }

Point PointOf(int32 where) {
  Point p;
  std::memcpy(&p, &where, sizeof p);
  return p;
}
int32 WhereOf(Point p) {
  int32 w;
  std::memcpy(&w, &p, sizeof w);
  return w;
}
bool In(const Rect& r, Point p) { return DPtInRect(p, &r) != 0; }

void SetHeapFlag(ObjHeap panel, uInt32 bit, bool on) {
  const uInt32 f = OHWord(panel, kOHFlags);
  OHSetWord(panel, kOHFlags, on ? f | bit : f & ~bit);
}

int16 Pin(int32 v) { return int16(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }

// The window current for drawing while the object lives.
struct PortScope {
  WPortState saved{};
  explicit PortScope(WindowRef w) { WSetup(w, &saved); }
  ~PortScope() { WRestore(&saved); }
};

void SetCursor(int32 number) {
  if (H().setCursor) H().setCursor(number);
}

// The shell's menu command and about box, unless the window's hooks name
// others.  As for the root window's filter, no hook means the application's
// own command: without it a choice in the window's own bar (File -> Close)
// reached no command at all.
int32 ShellMenuCommand(int32 menu, int32 item, int32 modifiers) {
  if (H().appMenuCommand) return H().appMenuCommand(menu, item, modifiers);
  const auto shell = ShellEventHooksInUse().appMenuCommand;
  return shell ? shell(menu, item, modifiers) : AppMenuCommand(menu, item, modifiers);
}
void AboutBox() {
  if (H().aboutBox) H().aboutBox();
  else if (ShellEventHooksInUse().aboutBox) ShellEventHooksInUse().aboutBox();
}

int32 PanelEvent(WEventRecord* e, ObjHeap panel) { return H().panelEvent ? H().panelEvent(e, panel) : 0; }

int32 DialogFilter(WEventRecord* e, ObjHeap panel) {
  if (!viinst::ExtWord(panel, kHeapExtDialogFilter) || !H().dialogFilter) return 0;
  return H().dialogFilter(e, panel);
}

// The bar the window shows: the system's bars by number; the run-time menu
// bar belongs to the run-time menu code.
MenuHandle MenuBarOf(ObjHeap panel) {
  const uInt32 bar = viinst::ExtWord(panel, kHeapExtMenuBar);
  if (bar == kMenuBarRunTime) {
    MenuHandle own = H().rtmMenuBar ? H().rtmMenuBar(Owner(panel)) : nullptr;
    return own ? own : MenuTableGet(int32(kMenuBarPlain));
  }
  return bar ? MenuTableGet(int32(bar)) : nullptr;
}

// A menu choice goes to the VI window's commands, then the shell's, then
// (when asked) the VI's run-time menu.
void MenuChoice(ObjHeap panel, int32 menu, int32 item, int32 modifiers, bool runTime) {
  if (H().menuCommand && H().menuCommand(menu, item, panel, Win(panel))) return;
  if (ShellMenuCommand(menu, item, modifiers)) return;
  if (runTime && H().rtmQueueSelection) H().rtmQueueSelection(Owner(panel), menu, item);
}

// The own menu bar popped up as a menu under the tracking flag.
bool PopUpMenuBar(ObjHeap panel, const Rect& bar, Point at, int32* menu, int32* item, int32* modifiers) {
  MenuHandle m = MenuBarOf(panel);
  if (!m || !H().popUpLMenu) return false;
  SetHeapFlag(panel, kPanelHeapTracking, true);
  const int32 chosen = H().popUpLMenu(m, &bar, at, menu, item, modifiers);
  SetHeapFlag(panel, kPanelHeapTracking, false);
  return chosen != 0 && *item > 0;
}

void InvalRect(ObjHeap panel, const Rect& r) {
  if (const WindowRef w = Win(panel)) WInvalRect(w, &r);
}
// Both scroll bars and the size box.
void InvalFrameParts(ObjHeap panel) {
  Rect r;
  if (VIWindHScrollRect(panel, &r)) InvalRect(panel, r);
  if (VIWindVScrollRect(panel, &r)) InvalRect(panel, r);
  if (VIWindGrowBoxRect(panel, &r)) InvalRect(panel, r);
}
void InvalIconPane(ObjHeap panel) {
  Rect pane;
  if (!VIWindIconPaneRect(panel, &pane, nullptr)) return;
  pane.bottom = int16(pane.bottom - 1);
  InvalRect(panel, pane);
}

// The content derived from the window's rectangle and applied to it.
void DeriveContent(ObjHeap panel) {
  const WindowRef w = Win(panel);
  if (!w) return;
  Rect window, c;
  WGetRect(w, &window);
  VIWindWindowToContent(w, Parts(panel), &window, &c);
  SetContent(panel, c);
}

// ---- Scrolling ------------------------------------------------------------------------

// The total extent A = C u B in 32 bits.
struct Extent {
  int32 top, left, bottom, right;
};
Extent TotalOf(const Rect& c, const Rect* b) {
  Extent a{c.top, c.left, c.bottom, c.right};
  if (b && b->bottom > b->top && b->right > b->left) {
    a.top = std::min<int32>(a.top, b->top);
    a.left = std::min<int32>(a.left, b->left);
    a.bottom = std::max<int32>(a.bottom, b->bottom);
    a.right = std::max<int32>(a.right, b->right);
  }
  return a;
}

// Moves the content (and the window's origin with it) by the offset.
void MoveContent(ObjHeap panel, int32 dh, int32 dv) {
  Rect c = Content(panel);
  c = Rect{Pin(c.top + dv), Pin(c.left + dh), Pin(c.bottom + dv), Pin(c.right + dh)};
  SetContent(panel, c);
}

void ScrollTrack(ObjHeap panel, WEventRecord* e, bool vertical) {
  const WindowRef w = Win(panel);
  Rect bar;
  if (!w || !(vertical ? VIWindVScrollRect(panel, &bar) : VIWindHScrollRect(panel, &bar))) return;
  const Rect* b = PanelGetBounds(panel);
  Extent a = TotalOf(Content(panel), b);
  auto measure = [&](int32* p, int32* v, int32* t) {
    const Rect c = Content(panel);
    *p = vertical ? c.top - a.top : c.left - a.left;
    *v = vertical ? c.bottom - c.top : c.right - c.left;
    *t = vertical ? a.bottom - a.top : a.right - a.left;
  };
  int32 p, v, t;
  measure(&p, &v, &t);
  const int32 total = t;
  Point origin;
  WGetOrigin(w, &origin);
  const int32 repeat = WTrackTimeout();
  WStartTrack();
  WEventRecord ev = *e;
  uInt32 last = MilliSecs();
  for (int32 turns = 0;; ++turns) {
    const int32 answer = TrackSBarEvent(&bar, PointOf(ev.where), ev.code, p, v, t, nullptr, nullptr, vertical);
    if (answer == 0) break;
    bool horizontal = false;
    const int32 step = VIWindScrollStep(answer, p, v, t, &horizontal);
    if (step && horizontal == !vertical) {
      const int32 dh = horizontal ? step : 0, dv = horizontal ? 0 : step;
      p += step;
      origin = Point{Pin(origin.v + dv), Pin(origin.h + dh)};
      Rect c = Content(panel);
      {
        PortScope port(w);
        DScrollRect(&c, -dh, -dv, 1, kTransparentColor, kTransparentColor);
      }
      MoveContent(panel, dh, dv);
      const UHandle vi = Owner(panel);
      if ((Flags2(vi) & kVIFlags2RetrievalMode) && IsFrontPanel(panel) && H().moveRecordField)
        H().moveRecordField(vi, dh, dv);
      WSetOrigin(w, origin);
      c = Content(panel);
      WSetContentRect(w, &c);
      WUpdate(w);
      last = MilliSecs();
    }
    // The next tracking event: moves and idle turns only once the repeat
    // interval has passed since the last step.
    for (;;) {
      WGetTrackEvent(&ev, repeat);
      if ((ev.code != weMouseMove && ev.code != weMouseIdle) || MilliSecs() - last >= uInt32(repeat)) break;
    }
  }
  WEndTrack();
  WHideTipStrip();
  WSetOrigin(w, origin);
  VIWindInvalBounds(panel);
  a = TotalOf(Content(panel), PanelGetBounds(panel));
  measure(&p, &v, &t);
  if (t != total) WInvalRect(w, &bar);
  VIWindDisposeRgnCache(panel);
}

// ---- Mouse -------------------------------------------------------------------------------

int32 MouseDown(WEventRecord* e, ObjHeap panel) {
  const Point at = PointOf(e->where);
  const Rect c = Content(panel);
  Rect r;
  if (In(c, at) || (VIWindIconPaneRect(panel, &r, nullptr) && In(r, at))) return PanelEvent(e, panel);
  if (PrefGet(kPrefUseWindowMenuBars) && VIWindMenuBarRect(panel, &r) && In(r, at)) {
    int32 menu = 0, item = 0, modifiers = 0;
    if (PopUpMenuBar(panel, r, at, &menu, &item, &modifiers)) {
      WEventRecord choice{};
      choice.code = weMenuSelect;
      choice.window = e->window;
      choice.where = menu;
      choice.globalWhere = item;
      choice.modifiers = modifiers;
      if (!DialogFilter(&choice, panel)) MenuChoice(panel, menu, item, modifiers, true);
    }
    return 0;
  }
  const WindowRef w = Win(panel);
  bool framed = true;
  SetHeapFlag(panel, kPanelHeapTracking, true);
  if (VIWindStatePanelRect(panel, &r) && In(r, at)) {
    Rect window;
    WGetRect(w, &window);
    WSetContentRect(w, &window);
    if (H().statePnlClick) H().statePnlClick(&r, e, panel);
  } else if (VIWindHScrollRect(panel, &r) && In(r, at)) {
    ScrollTrack(panel, e, false);
  } else if (VIWindVScrollRect(panel, &r) && In(r, at)) {
    ScrollTrack(panel, e, true);
  } else {
    framed = false;
  }
  if (framed && w) {
    const Rect content = Content(panel);
    WSetContentRect(w, &content);
  }
  SetHeapFlag(panel, kPanelHeapTracking, false);
  return 0;
}

void RightClick(WEventRecord* e, ObjHeap panel) {
  const Point at = PointOf(e->where);
  Rect r;
  if (PrefGet(kPrefUseWindowMenuBars) && VIWindMenuBarRect(panel, &r) && In(r, at)) {
    int32 menu = 0, item = 0, modifiers = 0;
    if (PopUpMenuBar(panel, r, at, &menu, &item, &modifiers)) MenuChoice(panel, menu, item, modifiers, false);
    return;
  }
  if (In(Content(panel), at) || (VIWindIconPaneRect(panel, &r, nullptr) && In(r, at))) {
    PanelEvent(e, panel);
    return;
  }
  WBeep();
}

// ---- Drawing -----------------------------------------------------------------------------

void PaintRect(const Rect& r, DColor colour) {
  DSelectNormPen(colour, colour);
  DPaintRect(&r);
}

void DrawIconPane(ObjHeap panel) {
  Rect pane, icon;
  if (!VIWindIconPaneRect(panel, &pane, &icon) || !WNeedsDraw(&pane)) return;
  DSelectNormPen(kDarkLine, kDarkLine);
  DMoveTo(pane.left, pane.top);
  DLineTo(pane.left, pane.bottom - 1);
  DLineTo(pane.right - 1, pane.bottom - 1);
  PaintRect(Rect{pane.top, int16(pane.left + 1), int16(pane.bottom - 1), pane.right}, kWhiteColor);
  const UHandle vi = Owner(panel);
  if (const int32 image = vi && *vi ? int32(uintptr_t(VIRec(vi)->icon)) : 0)
    IDraw(image, nullptr, &icon, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
}

Bool32 MenuEnabled(MenuHandle bar, int32 item) {
  MenuItemInfo info{};
  MGetItemInfo(bar, item, &info);
  return info.enabled != 0;
}
void SetMenuEnabled(MenuHandle bar, int32 item, bool on) {
  if (on) MEnableItem(bar, item);
  else MDisableItem(bar, item);
}

void DrawMenuBar(ObjHeap panel, bool active) {
  Rect r;
  if (!VIWindMenuBarRect(panel, &r) || !WNeedsDraw(&r)) return;
  if (!PrefGet(kPrefUseWindowMenuBars)) {
    PaintRect(r, DColor(PrefGet(kPrefPanelBackground)));
    DSelectNormPen(kDarkLine, kDarkLine);
    DMoveTo(r.left, r.bottom - 1);
    DLineTo(r.right - 1, r.bottom - 1);
    return;
  }
  MenuHandle bar = MenuBarOf(panel);
  if (!bar) return;
  const uInt32 number = viinst::ExtWord(panel, kHeapExtMenuBar);
  const bool panelBar = number == kMenuBarPlain || number == kMenuBarPanel;
  const Bool32 edit = panelBar ? MenuEnabled(bar, 2) : 0, operate = panelBar ? MenuEnabled(bar, 3) : 0;
  if (panelBar) {
    const uInt32 w2 = Flags2(Owner(panel));
    const bool confirm = w2 & kConfirmMode, retrieval = w2 & kVIFlags2RetrievalMode;
    SetMenuEnabled(bar, 2, !confirm && !retrieval);
    SetMenuEnabled(bar, 3, !confirm);
  }
  if (H().drawMenuBar) H().drawMenuBar(bar, &r);
  else MDrawMenuBar(bar, &r);
  if (panelBar && !active) {
    SetMenuEnabled(bar, 2, edit);
    SetMenuEnabled(bar, 3, operate);
  }
}

void DrawScrollBars(ObjHeap panel) {
  const Rect c = Content(panel);
  Rect bounds{0, 0, 0, 0};
  if (const uChar* b = viinst::ExtAt(panel, kHeapExtPanelBounds)) std::memcpy(&bounds, b, sizeof bounds);
  const Extent a = TotalOf(c, &bounds);
  Rect r;
  if (VIWindHScrollRect(panel, &r) && WNeedsDraw(&r))
    DrawSBar(&r, c.left - a.left, c.right - c.left, a.right - a.left, nullptr, nullptr, 0);
  if (VIWindVScrollRect(panel, &r) && WNeedsDraw(&r))
    DrawSBar(&r, c.top - a.top, c.bottom - c.top, a.bottom - a.top, nullptr, nullptr, 1);
  if (VIWindGrowBoxRect(panel, &r) && WNeedsDraw(&r)) WDrawGrowIcon(&r);
}

void Draw(WEventRecord* e, ObjHeap panel) {
  const WindowRef w = Win(panel);
  if (!w) return;
  Rect update;
  std::memcpy(&update, &e->where, sizeof update);
  Rect window;
  WGetRect(w, &window);
  const Rect c = Content(panel);
  PortScope port(w);
  const bool tracking = OHWord(panel, kOHFlags) & kPanelHeapTracking;
  Rect savedClip{0, 0, 0, 0};
  if (tracking) WSetClipRect(&c, &savedClip);
  const WindowRecord* record = WRecord(w);
  const bool active = record && record->active;
  const bool stale = OHWord(panel, kOHFlags) & kPanelBoundsStale;
  Rect inside;
  const bool withinContent = DSectRect(&update, &c, &inside) && std::memcmp(&inside, &update, sizeof inside) == 0;
  if (!withinContent || (active && stale)) {
    if (active && stale) PanelGetBounds(panel);
    WSetClipRect(&window, nullptr);
    DrawIconPane(panel);
    Rect bar;
    if (VIWindStatePanelRect(panel, &bar) && WNeedsDraw(&bar) && H().statePnlDraw) H().statePnlDraw(&bar, panel);
    DrawMenuBar(panel, active);
    DrawScrollBars(panel);
    WSetClipRect(&c, nullptr);
  }
  if (WNeedsDraw(&c)) {
    Rect area = c, clipSave{0, 0, 0, 0};
    DSectRect(&update, &c, &area);
    const bool offscreen = PrefGet(kPrefOffscreenUpdates) != 0;
    if (offscreen) IDrawOffscreen(&area, &clipSave);
    if (H().drawPanel) H().drawPanel(panel);
    if (offscreen) ICopyOffscreen(&clipSave, 1);
    const int32 focus = int32(viinst::ExtWord(panel, kHeapExtKeyFocus));
    if (focus && H().stashText) H().stashText(panel, focus);
  }
  if (tracking) WRestoreClip(&savedClip);
}

// ---- Window changes ------------------------------------------------------------------------

void Resize(ObjHeap panel) {
  VIWindDisposeRgnCache(panel);
  InvalIconPane(panel);
  InvalFrameParts(panel);
  DeriveContent(panel);
  InvalIconPane(panel);
  InvalFrameParts(panel);
  VIWindInvalBounds(panel);
}

void Moved(ObjHeap panel) {
  const WindowRef w = Win(panel);
  if (!w) return;
  GetPanelWindowOptions(panel, nullptr, nullptr);
  DeriveContent(panel);
  const Rect c = Content(panel);
  Point at{c.top, c.left};
  WLocalToGlobal(w, &at);
  if (uChar* p = viinst::ExtAt(panel, kHeapExtContentOrigin)) std::memcpy(p, &at, sizeof at);
}

void Activation(ObjHeap panel, bool activate) {
  const WindowRef w = Win(panel);
  const UHandle vi = Owner(panel);
  const Rect c = Content(panel);
  Rect saved{0, 0, 0, 0};
  PortScope port(w);
  WSetClipRect(&c, &saved);
  const bool defaultButton = !(Flags2(vi) & kOwnerMode) && IsFrontPanel(panel);
  if (!activate) {
    SetCursor(kArrowCursor);
    if (H().releaseKeyFocus) H().releaseKeyFocus(panel);
  } else {
    const int32 kind = Kind(vi);
    if (kind >= 2 && kind <= 6) MSendMenuEvent(w);
    VIWindTrackCursor(panel, nullptr, 0);
  }
  if (defaultButton && H().redrawDefaultButton) H().redrawDefaultButton(panel);
  WRestoreClip(&saved);
}

void Close(WEventRecord* e, ObjHeap panel) {
  const UHandle vi = Owner(panel);
  if (vi && vi == RootVI()) {
    if (const WindowRef w = Win(panel)) WHide(w);
    return;
  }
  if (!vi || !IsFrontPanel(panel)) return;
  // Closing may dispose the panel: nothing of it is read afterwards.
  if (CloseVI(vi, 1, e->data[0], 0) == 0) {
    PurgeUnusedVIs(0);
    QuitIfNoVIWindowsLeft();
  }
}

void Timer(WEventRecord* e, ObjHeap panel) {
  const int32 id = e->where;
  if (id == kTipDelayTimer) {
    if (H().statePnlTipTimer) H().statePnlTipTimer(panel);
  } else if (id == kTipPollTimer) {
    if (H().statePnlTipPoll) H().statePnlTipPoll(panel);
  } else {
    DBPrintf("a timer %lx went off for %lx", long(id), long(uintptr_t(panel)));
  }
}

// ---- Keys --------------------------------------------------------------------------------

bool IsKey(const WEventRecord* e) { return e->code == weKey || e->code == weKeyRepeat; }

// A dialog's Enter key presses the button bound to the Return key.
void EnterKeyRule(WEventRecord* e, ObjHeap panel) {
  if (!IsKey(e) || e->keyCode != kEnterKey || !viinst::ExtWord(panel, kHeapExtDialogFilter)) return;
  if (Flags2(Owner(panel)) & kOwnerMode) return;
  int32 object = 0;
  if (!H().keyNavItem || !H().keyNavItem(panel, 0, &object)) return;
  if (H().commitKeyFocus) H().commitKeyFocus(panel);
  e->keyCode = kCharKey;
  e->character = 10;
}

// The window's own keys; 1 when one was taken.
int32 OwnKeys(WEventRecord* e, ObjHeap panel) {
  if (e->keyCode == kHelpKey) {
    ShellMenuCommand(18, 0, 1);
    return 1;
  }
  if (e->keyCode >= 30 && e->keyCode <= 32) {
    const int32 menuId = viinst::ExtWord(panel, kHeapExtMenuBar) == kMenuBarDialog ? kDialogEditMenuId : kEditMenuId;
    MenuHandle menu = MenuTableGet(menuId);
    const int32 item = menu ? MFindLItemByKey(menu, uInt32(e->keyCode - 26)) : 0;
    if (item && MenuEnabled(menu, item) && H().menuCommand) H().menuCommand(menuId, item, panel, Win(panel));
    return 1;
  }
  if (e->keyCode == kEnterKey) {
    const bool plain = !(e->modifiers & (kCtrlBit | kWModShift | kWModExtendedKey));
    if (PrefGet(kPrefReturnKeyAction) ? (e->modifiers & kCtrlBit) != 0 : plain) {
      e->keyCode = kCharKey;
      e->character = 10;
    }
  }
  const UHandle vi = Owner(panel);
  if ((Flags2(vi) & kVIFlags2RetrievalMode) && IsFrontPanel(panel) && e->character != '\t' &&
      !viinst::ExtWord(panel, kHeapExtKeyFocus)) {
    if (H().recordFieldKey) H().recordFieldKey(e, panel);
    else WBeep();
    return 0;
  }
  return H().handleKey ? H().handleKey(e, panel) : 0;
}

int32 Keys(WEventRecord* e, ObjHeap panel) {
  const KeyboardHandler k = gKeyboard;
  if (k.proc && k.before) {
    if (const int32 answer = k.proc(e, k.refcon)) return answer;
  }
  if (VIWindDebugKey(e)) return 0;
  if (!OwnKeys(e, panel) && k.proc && !k.before) k.proc(e, k.refcon);
  return 0;
}

const char* OnOff(Bool32 on) { return on ? "on" : "off"; }

}  // namespace

int32 SetKeyboardHandlerProc(int32 mode, VIKeyboardHandler proc, int32 before, int32 refcon) {
  if (mode == 1) {
    if (gKeyboard.proc) return 1;
    gKeyboard = KeyboardHandler{proc, before, refcon};
    return 0;
  }
  if (mode == 0) {
    if (!gKeyboard.proc) return 1;
    gKeyboard = KeyboardHandler{};
    return 0;
  }
  return 0;
}

// The step a tracker's answer asks for, given position, visible and total;
// horizontal tells the direction of the step.
int32 VIWindScrollStep(int32 answer, int32 p, int32 v, int32 t, bool* horizontal) {
  const int32 room = t - v - p > 0 ? t - v - p : 0;
  *horizontal = answer == kSBarLeftArrow || answer == kSBarRightArrow || answer == kSBarPageLeft ||
                answer == kSBarPageRight;
  switch (answer) {
    case kSBarUpArrow: case kSBarLeftArrow: return -std::min(p, 32);
    case kSBarDownArrow: case kSBarRightArrow: return std::min(room, 32);
    case kSBarPageUp: case kSBarPageLeft: return -std::min(v, p);
    case kSBarPageDown: case kSBarPageRight: return std::min(v, room);
    default: break;
  }
  if (answer >= 0) return 0;
  *horizontal = (uInt32(answer) & 0x40000000u) != 0;
  const int32 n = int32(uInt32(answer) & kSBarThumbValueMask);
  const int32 limit = t - v > 0 ? t - v : 0;
  return (n > limit ? limit : n) - p;
}

Bool32 VIWindManagerChecksOn() { return gManagerChecks; }

int32 VIWindDebugKey(const WEventRecord* e) {
  if (!e || !IsKey(e) || !PrefGet(kPrefQXDebugKeys) || !(e->modifiers & kCtrlBit)) return 0;
  int32 ch = e->character;
  if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
  switch (ch) {
    case '+': {
      const Bool32 on = gPrintPrefs.postScriptPrinting;
      DBPrintf("Turning %s postscript printing", OnOff(!on));
      gPrintPrefs.postScriptPrinting = !on;
      return 1;
    }
    case 'A': AZHeapCheck(1); return 1;
    case 'B': return 1;
    case 'M': MemSetChecking(!MemCheckingOn()); return 1;
    case 'N':
      DBPrintf("turning %s manager checks", OnOff(!gManagerChecks));
      gManagerChecks = !gManagerChecks;
      return 1;
    case 'O': {
      const bool offscreen = !PrefGet(kPrefOffscreenUpdates);
      PrefSet(kPrefOffscreenUpdates, offscreen);
      DBPrintf("changing drawing to  %s", offscreen ? "offscreen" : "onscreen");
      return 1;
    }
    case 'P': {
      static const char* const kLines[] = {
          "Quenlix options", " |  toggle DPrintfs.  Currently on.", " :  print global font table",
          " A  check app heap", " F  Flush Debug Window", " M  toggle memory checking.",
          " N  toggle NO manager checking", " O  toggle drawing on/offscreen", " P  prints out this list",
          " S  print net connection table", " X  toggle file debugging", " {  compact AZ now.",
      };
      for (const char* line : kLines) DBPrintf("%s", line);
      DBPrintf(" +  toggles PostScript printing. Currently %s (level %s, %s)", OnOff(gPrintPrefs.postScriptPrinting),
               gPrintPrefs.postScriptLevel2 ? "2" : "1", gPrintPrefs.colorPrinting ? "color" : "b/w");
      return 1;
    }
    case '{': AZCompact(); return 1;
    case '|':
      if (DBDebuggingOn()) {
        DBPrintf("turning DPrintf's off.");
        DBSetDebugging(0);
      } else {
        DBSetDebugging(1);
        DBPrintf("turning DPrintf's on.");
      }
      return 1;
    default: return 0;
  }
}

void VIWindTrackCursor(ObjHeap panel, const Point* point, int32 modifiers) {
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return;
  const UHandle vi = Owner(panel);
  if (vi && vi == RootVI()) return;
  const WindowRef w = Win(panel);
  if (!point) {
    SetCursor(Kind(vi) == 0 && !(Flags2(vi) & kOwnerMode) ? kArrowCursor : 0);
    return;
  }
  if (In(Content(panel), *point)) {
    WEventRecord idle{};
    idle.code = weMouseIdle;
    idle.window = w;
    idle.where = WhereOf(*point);
    idle.modifiers = modifiers;
    PanelEvent(&idle, panel);
    return;
  }
  Rect r;
  const bool found = (VIWindIconPaneRect(panel, &r, nullptr) && In(r, *point)) ||
                     (VIWindMenuBarRect(panel, &r) && In(r, *point)) ||
                     (VIWindHScrollRect(panel, &r) && In(r, *point)) ||
                     (VIWindVScrollRect(panel, &r) && In(r, *point)) ||
                     (VIWindGrowBoxRect(panel, &r) && In(r, *point));
  if (!found) {
    if (!VIWindStatePanelRect(panel, &r) || !In(r, *point)) return;
    // Every move in the tool bar is reported again.
    r = Rect{point->v, point->h, int16(point->v + 1), int16(point->h + 1)};
  }
  SetCursor(kArrowCursor);
  if (!w) return;
  const DRgn idle = DRectRgn(&r);
  WSetIdleRgn(w, idle, 1);
  if (idle) DDestroyRgn(idle);
}

void VIWindScrollBy(ObjHeap panel, int32 dh, int32 dv) {
  if ((dh == 0 && dv == 0) || !panel || !*panel || !OHWord(panel, kOHExtension)) return;
  MoveContent(panel, dh, dv);
  const Rect c = Content(panel);
  const WindowRef w = Win(panel);
  Rect window;
  VIWindContentToWindow(Parts(panel), &c, &window);
  if (w) WSetOrigin(w, Point{window.top, window.left});
  VIWindDisposeRgnCache(panel);
  InvalFrameParts(panel);
  VIWindInvalBounds(panel);
  if (!w) return;
  WInvalRect(w, &c);
  WSetContentRect(w, &c);
}

MenuHandle VIWindMenuBar(ObjHeap panel, Rect* rect) {
  if (rect) *rect = Rect{0, 0, 0, 0};
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return nullptr;
  MenuHandle bar = MenuBarOf(panel);
  Rect r;
  if (bar && rect && PrefGet(kPrefUseWindowMenuBars) && (Parts(panel) & kVIWindMenuBar) && VIWindMenuBarRect(panel, &r))
    *rect = r;
  return bar;
}

int32 VIWindEventProc(WEventRecord* e, uInt32 ref) {
  ObjHeap panel = reinterpret_cast<ObjHeap>(uintptr_t(ref));
  if (!e || !panel || !*panel || !OHWord(panel, kOHExtension)) return 0;
  if (const int32 answer = DialogFilter(e, panel)) return answer;
  EnterKeyRule(e, panel);
  if (MenuHandle bar = MenuBarOf(panel)) {
    Rect r;
    const bool offered = PrefGet(kPrefUseWindowMenuBars) && (Parts(panel) & kVIWindMenuBar) && VIWindMenuBarRect(panel, &r);
    const bool blocked = H().rtmTrackingBlocked && H().rtmTrackingBlocked(Owner(panel));
    if (!blocked && H().handleLMenuEvent && H().handleLMenuEvent(e, bar, offered ? &r : nullptr)) {
      if (const int32 answer = DialogFilter(e, panel)) return answer;
    }
  }
  const UHandle vi = Owner(panel);
  switch (e->code) {
    case weMouseDown: {
      const int32 answer = MouseDown(e, panel);
      if (e->code == weMouseUp) WMarkMsgHandled();
      return answer;
    }
    case weMouseUp:
    case 49: return PanelEvent(e, panel);
    case weMouseMove:
    case weMouseIdle: {
      const Point at = PointOf(e->where);
      VIWindTrackCursor(panel, &at, e->modifiers);
      Rect bar;
      if (VIWindStatePanelRect(panel, &bar) && In(bar, at) && H().statePnlHover) H().statePnlHover(e, panel);
      return 0;
    }
    case weKey:
    case weKeyRepeat: return Keys(e, panel);
    case weWindActivate:
      if (H().helpFollowUp) H().helpFollowUp(panel);
      InvalFrameParts(panel);
      VIWindTrackCursor(panel, nullptr, 0);
      return 0;
    case weWindDeactivate:
      InvalFrameParts(panel);
      VIWindTrackCursor(panel, nullptr, 0);
      return 0;
    case weWindSize: Resize(panel); return 0;
    case weWindMove: Moved(panel); return 0;
    case weWindDraw: Draw(e, panel); return 0;
    case kWEvClose:
      if (Kind(vi) == 0) return 0;
      Close(e, panel);
      return 0;
    case wePopupClick:
      if (Kind(vi) == 0) PanelEvent(e, panel);
      else RightClick(e, panel);
      return 0;
    case weMenuSelect:
      if (Kind(vi) >= 0 && Kind(vi) <= 6) MenuChoice(panel, e->where, e->globalWhere, e->modifiers, true);
      return 0;
    case kShellEvAboutBox: AboutBox(); return 0;
    case kShellEvTimer: Timer(e, panel); return 0;
    case weKillFocus: Activation(panel, false); return 0;
    case weSetFocus: Activation(panel, true); return 0;
    case 46: WHideTipStrip(); return 0;
    case kWEvRestored: PlacePanelWindow(panel); return 0;
    case weWindCreate:
      viinst::SetExtWord(panel, kHeapExtWindow, uInt32(e->window));
      DeriveContent(panel);
      return 0;
    case weMenuInit:
    case kShellEvMenuState: {
      const int32 answer = H().setupMenus ? H().setupMenus(panel) : 0;
      // The VI's own bar then takes the program's items it links to.
      const bool blocked = H().rtmTrackingBlocked && H().rtmTrackingBlocked(vi);
      if (!blocked && viinst::ExtWord(panel, kHeapExtMenuBar) == kMenuBarRunTime && H().rtmRefreshLinkedItems)
        if (MenuHandle bar = MenuBarOf(panel)) H().rtmRefreshLinkedItems(e->window, bar);
      return answer;
    }
    default: return 0;
  }
}
