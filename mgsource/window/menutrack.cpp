// Menu windows, their placement and the tracking loop of open menus.
#include "mgsource/window/menutrack.h"

#include <algorithm>

#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"

namespace {

constexpr int32 kScreenMargin = 4;
constexpr int32 kTrackWaitMs = 100;
constexpr uInt32 kPendingChildMs = 400;
constexpr int32 kCorridorStep2 = 25;  // 5 pixels per wait, squared
constexpr int32 kKeyLeft = 6, kKeyRight = 7;

// The anchor and window rectangle of the submenu opened last.
Rect gSubmenuAnchor{}, gSubmenuRect{};
// Where tracking last handed back to the bar.
Point gBarPoint{};
bool gClickThrough = false;

int32 RowHeight(MenuHandle menu) { return std::max((*menu)->lineHeight + 2, 1); }
int32 Height(const Rect& r) { return r.bottom - r.top; }
int32 Width(const Rect& r) { return r.right - r.left; }
bool Inside(const Rect& r, Point p) { return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right; }
Rect At(int32 top, int32 left, int32 height, int32 width) {
  return Rect{int16(top), int16(left), int16(top + height), int16(left + width)};
}
void MoveBy(Rect* r, int32 dh, int32 dv) {
  *r = At(r->top + dv, r->left + dh, Height(*r), Width(*r));
}

// The menu's window rectangle in global coordinates (its size rectangle).
bool GlobalRect(MenuHandle menu, Rect* out) {
  const WindowRef w = (*menu)->window;
  if (!WIsWindow(w)) return false;
  *out = MenuRectToGlobal(w, (*menu)->size);
  return true;
}

// A press in the scroll bar of a scroll-bar menu with more items than rows
// scrolls it until the button is released.
bool PressInScrollBar(MenuHandle menu, Point global, int32 modifiers) {
  if (!menu || !*menu || !MIsListMenu(menu) || !(*menu)->scrollBar) return false;
  const WindowRef w = (*menu)->window;
  if (!WIsWindow(w) || (*menu)->itemCount <= std::max((*menu)->visibleRows, 1)) return false;
  Point local = global;
  WGlobalToLocal(w, &local);
  Rect bar;
  MGetMenuScrollBarRect(menu, &bar);
  if (!Inside(bar, local)) return false;
  MTrackLMenuScrollBar(menu, local, local, modifiers);
  return true;
}

int32 Send(MenuHandle menu, MenuProcMsg* m) {
  return menu && *menu && (*menu)->proc ? (*menu)->proc(m, menu) : 0;
}

// The window handler of an open menu: its procedure gets the window's
// events (the message block has the event record's layout).
int32 MenuWindowHandler(WEventRecord* event, uInt32 refCon) {
  MenuHandle menu = reinterpret_cast<MenuHandle>(uintptr_t(refCon));
  static_assert(sizeof(MenuProcMsg) == sizeof(WEventRecord));
  return Send(menu, reinterpret_cast<MenuProcMsg*>(event));
}

void Redraw(MenuHandle menu) {
  const WindowRef w = (*menu)->window;
  if (!WIsWindow(w)) return;
  const Rect size = (*menu)->size;
  WInvalRect(w, &size);
  WUpdate(w);
}

// The opener the list-menu procedure calls for an item's submenu.
void OpenFromItem(MenuHandle menu, int32 item, const Rect* globalItemRect) {
  const LItemRecord* r = lmenu::Item(menu, item);
  if (!r || !r->submenu || !*r->submenu) return;
  if ((*menu)->openChild == r->submenu && WIsWindow((*r->submenu)->window)) return;
  MOpenSubmenu(menu, globalItemRect, r->submenu, 0);
}

bool InChain(MenuHandle first, MenuHandle menu) {
  for (MenuHandle m = first; m && *m; m = (*m)->openChild)
    if (m == menu) return true;
  return false;
}

MenuHandle ParentOf(MenuHandle first, MenuHandle menu) {
  for (MenuHandle m = first; m && *m; m = (*m)->openChild)
    if ((*m)->openChild == menu) return m;
  return nullptr;
}

MenuHandle Deepest(MenuHandle menu) {
  while ((*menu)->openChild && *(*menu)->openChild) menu = (*menu)->openChild;
  return menu;
}

// Sends the mouse step to the menu: the pointer in its window's
// coordinates, the item shown before.
int32 MouseStep(MenuHandle menu, Point global, Bool32 sync) {
  const WindowRef w = (*menu)->window;
  Point local = global;
  if (WIsWindow(w)) WGlobalToLocal(w, &local);
  MenuProcMsg m{};
  m.code = kMenuMouseStep;
  m.window = w;
  m.a1 = WPackPoint(local);
  m.a3 = (*menu)->currentItem;
  m.a4 = sync;
  return Send(menu, &m);
}

bool ItemChoosable(MenuHandle menu, int32 item) {
  if (item <= 0) return false;
  MenuItemInfo info{};
  MGetItemInfo(menu, item, &info);
  return info.enabled || MGetChooseDisabled();
}

}  // namespace

// ---- placement

void MKeepOnScreenH(Rect* r, const Rect* screen) {
  if (!r || !screen) return;
  const int32 width = Width(*r);
  if (r->right + kScreenMargin > screen->right) {
    int32 left = MGetListStyle() ? r->left - (width + 2) : screen->right - kScreenMargin - width;
    left = std::max(left, int32(screen->left));
    MoveBy(r, left - r->left, 0);
  } else if (const int32 d = screen->left + kScreenMargin - r->left; d > 0) {
    MoveBy(r, d, 0);
  }
}

void MKeepOnScreenV(Rect* r, const Rect* screen) {
  if (!r || !screen) return;
  if (const int32 d = r->bottom - (screen->bottom - kScreenMargin); d > 0) MoveBy(r, 0, -d);
}

void MPlaceMenu(MenuHandle menu, const Rect* anchor, int32 mode, const Rect* screen, Rect* windowRect,
                int32 initial) {
  if (!menu || !*menu || !anchor || !screen || !windowRect) return;
  if (DEmptyRect(&(*menu)->size)) MCalcMenuSize(menu);
  const int32 count = (*menu)->itemCount, row = RowHeight(menu);
  const Rect size = (*menu)->size;
  const int32 width = std::max(Width(size), 1), height = std::max(Height(size), 1);
  const int32 screenH = Height(*screen);
  int32 rows = std::max(count, 1), first = 1;
  const bool list = MIsListMenu(menu), bar = list && (*menu)->scrollBar;
  Rect r = bar ? At(anchor->bottom - 1, anchor->left, height, width) : At(anchor->top, anchor->left, height, width);
  MKeepOnScreenH(&r, screen);
  const auto fitRows = [&](int32 space) { return std::max(space - 4, 0) / row; };
  if (!list) {
    MKeepOnScreenV(&r, screen);
  } else if (bar) {
    if (r.bottom > screen->bottom) {
      const int32 above = anchor->top - screen->top, below = screen->bottom - (anchor->bottom - 1);
      if (height <= above) {
        r = At(anchor->top - height, r.left, height, width);
      } else if (height - below <= height - above) {
        r.bottom = screen->bottom;
      } else {
        r = Rect{screen->top, r.left, anchor->top, r.right};
      }
    }
    rows = std::clamp(fitRows(Height(r)), 1, std::max(count, 1));
    first = std::max(initial, 1);
    if (count - first + 1 < rows) first = std::max(count - rows + 1, 1);
    if (Width(r) > Width(*screen)) r = Rect{r.top, screen->left, r.bottom, screen->right};
  } else {
    const int32 tallRows = count * row + 4 > screenH ? std::max((screenH - 4) / row - 1, 1) : std::max(count, 1);
    rows = tallRows;
    if (initial >= 1 && initial <= count) {
      const int32 freeAbove = anchor->top - screen->top, freeBelow = screen->bottom - anchor->bottom;
      if (freeAbove < row + 4 && initial > 1) {
        first = initial - 1;
        r = At(anchor->bottom, r.left, 0, width);
        rows = std::min(fitRows(screen->bottom - kScreenMargin - anchor->bottom), count - first + 1);
      } else if (freeBelow < row + 4 && initial < count) {
        const int32 last = initial + 1;
        rows = std::min(fitRows(anchor->top - screen->top - kScreenMargin), last);
        rows = std::max(rows, 1);
        first = last - rows + 1;
        r = At(anchor->top - (rows * row + 4), r.left, 0, width);
      } else {
        int32 top = anchor->top - (initial - 1) * row;
        first = 1;
        if (top < screen->top) {
          const int32 cut = (screen->top - top + row - 1) / row;
          top += cut * row;
          first += cut;
        }
        rows = std::min(rows, count - first + 1);
        const int32 fit = fitRows(screen->bottom - top);
        if (rows > fit) {
          rows = std::max(fit, 1);
          if (initial > first + rows - 1) first = initial - rows + 1;
        }
        r = At(top, r.left, 0, width);
      }
    } else {
      if (r.bottom > screen->bottom && (mode == kMPlaceFromItem || Height(*anchor) == 0))
        MoveBy(&r, 0, -std::min(int32(r.bottom - screen->bottom), std::max(int32(r.top - screen->top), 0)));
      if (r.bottom > screen->bottom) {
        if (screen->bottom - anchor->bottom <= 5 * row + 4) {
          rows = fitRows(anchor->top - screen->top - kScreenMargin);
          rows = std::clamp(rows, 1, tallRows);
          r = At(anchor->top - (rows * row + 4), r.left, 0, width);
        } else {
          rows = std::clamp(fitRows(screen->bottom - kScreenMargin - r.top), 1, tallRows);
        }
      }
    }
    rows = std::clamp(rows, 1, std::max(count, 1));
    first = std::clamp(first, 1, std::max(count - rows + 1, 1));
    r.bottom = int16(r.top + rows * row + 4);
  }
  if (list && rows < count) (*menu)->size.bottom = int16((*menu)->size.top + Height(r));
  (*menu)->visibleRows = list ? rows : count;
  (*menu)->firstVisible = first;
  *windowRect = r;
}

// ---- menu windows

WindowRef MCreateMenuWindow(MenuHandle menu, const Rect* rect) {
  if (!menu || !*menu || !rect) return kWNoWindow;
  Rect r = *rect;
  MoveBy(&r, 1, 1);
  const WindowRef w = WCreate(kWStyleModal | kWStyleFloating, nullptr, &MenuWindowHandler, &r, 0, 1,
                              uInt32(uintptr_t(menu)));
  (*menu)->currentItem = 0;
  (*menu)->state[0] = (*menu)->state[2] = 0;
  (*menu)->window = w;
  return w;
}

void MCloseMenuWindow(MenuHandle menu, MenuHandle parent) {
  if (!menu || !*menu) return;
  if (MenuHandle child = (*menu)->openChild; child && child != menu) MCloseMenuWindow(child, menu);
  if (const WindowRef w = (*menu)->window; w && WIsWindow(w)) {
    WHide(w);
    WDestroy(w);
  }
  (*menu)->window = kWNoWindow;
  (*menu)->openChild = nullptr;
  if ((*menu)->visibleRows < (*menu)->itemCount) MInvalMenuSize(menu);
  if (parent && *parent && (*parent)->openChild == menu) (*parent)->openChild = nullptr;
  gSubmenuAnchor = Rect{};
}

MenuHandle MMenuUnderPoint(Point where, MenuHandle first) {
  MenuHandle found = nullptr;
  for (MenuHandle m = first; m && *m; m = (*m)->openChild) {
    Rect r;
    if ((GlobalRect(m, &r) && Inside(r, where)) || Inside((*m)->anchor, where)) found = m;
    if ((*m)->openChild == m) break;
  }
  return found;
}

MenuHandle MDeepestParent(MenuHandle menu) {
  if (!menu || !*menu) return nullptr;
  while ((*menu)->openChild && *(*menu)->openChild && (*(*menu)->openChild)->openChild) menu = (*menu)->openChild;
  return menu;
}

void MClosePendingChild(MenuHandle menu) {
  if (menu && *menu && (*menu)->openChild) MCloseMenuWindow((*menu)->openChild, menu);
}

void MSyncCurrentItem(MenuHandle menu) {
  if (menu && *menu && (*menu)->openChild) MouseStep(menu, Point{}, 1);
}

Rect MSubmenuRect(const Rect& anchor, const Rect& screen, int32 width, int32 height, bool fromBar, int32 dv,
                  int32 dh, bool* toLeft) {
  Rect r;
  if (fromBar) {
    r = At(anchor.bottom, anchor.left, height, width);
    if (r.bottom > screen.bottom && anchor.top - screen.top - kScreenMargin > height)
      r = At(anchor.top - height, anchor.left, height, width);
  } else {
    const int32 rightLeft = anchor.right - 5 + dh, leftRight = anchor.left + 5 - dh;
    const bool fitsRight = rightLeft + width <= screen.right - kScreenMargin;
    const bool fitsLeft = leftRight - width >= screen.left + kScreenMargin;
    *toLeft = *toLeft ? (fitsLeft || !fitsRight) : (!fitsRight && fitsLeft);
    int32 top = anchor.top + dv;
    if (top + height > screen.bottom - kScreenMargin) top = screen.bottom - kScreenMargin - height;
    r = At(top, *toLeft ? leftRight - width : rightLeft, height, width);
  }
  if (r.right > screen.right - kScreenMargin) MoveBy(&r, screen.right - kScreenMargin - r.right, 0);
  if (r.left < screen.left + kScreenMargin) MoveBy(&r, screen.left + kScreenMargin - r.left, 0);
  if (r.bottom > screen.bottom - kScreenMargin) MoveBy(&r, 0, screen.bottom - kScreenMargin - r.bottom);
  if (r.top < screen.top + kScreenMargin) MoveBy(&r, 0, screen.top + kScreenMargin - r.top);
  return r;
}

void MOpenSubmenu(MenuHandle parent, const Rect* anchor, MenuHandle submenu, Bool32 fromBar) {
  if (!parent || !*parent || !anchor || !submenu || !*submenu || submenu == parent) return;
  if ((*parent)->openChild) MCloseMenuWindow((*parent)->openChild, parent);
  (*parent)->openChild = submenu;
  (*submenu)->currentItem = 0;
  if (DEmptyRect(&(*submenu)->size)) MCalcMenuSize(submenu);
  Rect screen;
  WGetScreenRect(Point{anchor->top, anchor->left}, &screen);
  Rect r;
  MPlaceMenu(submenu, anchor, fromBar ? kMPlaceFromTitle : kMPlaceFromItem, &screen, &r, 0);
  int32 dv = 0, dh = 0;
  if (!fromBar) {
    MenuProcMsg m{};
    m.code = kMenuPlacement;
    m.window = (*parent)->window;
    Send(parent, &m);
    dv = int16(m.a6 >> 16), dh = m.offset2;
  }
  bool toLeft = (*parent)->state[1] != 0;
  r = MSubmenuRect(*anchor, screen, Width(r), Height(r), fromBar, dv, dh, &toLeft);
  if (!fromBar) (*submenu)->state[1] = toLeft ? 1 : 0;
  MCreateMenuWindow(submenu, &r);
  Redraw(submenu);
  (*submenu)->anchor = *anchor;
  gSubmenuAnchor = *anchor;
  gSubmenuRect = r;
}

Point MBarHandBackPoint() { return gBarPoint; }

// ---- tracking

namespace {

struct Tracker {
  MenuHandle first;      // the menu tracking began with (the bar in the bar modes)
  MenuHandle level1;     // the first menu whose submenus the keys close
  MenuHandle tracked;
  int32 mode;
  bool barMode;
  int32 id = 0, item = 0, result = -1;
  bool skipRelease = false, dragged = false, byRelease = false;
  // The keys moved the highlight: a resting pointer leaves it alone.
  bool keysOwn = false;
  // A child left while the pointer is in its parent.
  MenuHandle pending = nullptr;
  uInt32 pendingSince = 0;
  // The corridor towards an open submenu.
  bool corridor = false;
  Rect corridorRect{};
  Point checkPoint{};
  uInt32 checkTime = 0;

  // Whether the pointer still heads for the tracked menu's open child.
  bool HoldCorridor(MenuHandle under, Point p, bool moved) {
    MenuHandle child = under ? (*under)->openChild : nullptr;
    Rect cr;
    if (!child || !*child || !GlobalRect(child, &cr)) return corridor = false;
    const uInt32 now = MilliSecs();
    if (!corridor) {
      if (!moved) return false;
      const bool left = (*child)->state[1] != 0;
      corridorRect = left ? Rect{cr.top, cr.right, cr.bottom, int16(p.h + 4)}
                          : Rect{cr.top, int16(p.h - 3), cr.bottom, cr.left};
      if (!Inside(corridorRect, p)) return false;
      corridor = true;
      checkPoint = p;
      checkTime = now;
      return true;
    }
    if (!Inside(corridorRect, p)) return corridor = false;
    if (now - checkTime >= uInt32(kTrackWaitMs)) {
      const int32 dh = p.h - checkPoint.h, dv = p.v - checkPoint.v;
      if (dh * dh + dv * dv < kCorridorStep2) return corridor = false;
      checkPoint = p;
      checkTime = now;
    }
    return true;
  }

  void Pointer(Point p, bool moved) {
    MenuHandle under = MMenuUnderPoint(p, first);
    const uInt32 now = MilliSecs();
    if (pending) {
      if (under && InChain((*pending)->openChild, under)) {
        MSyncCurrentItem(pending);
        pending = nullptr;
      } else if (now - pendingSince > kPendingChildMs) {
        MClosePendingChild(pending);
        pending = nullptr;
      }
    }
    if (keysOwn && !moved) return;
    keysOwn = false;
    if (under && under != tracked) {
      if (InChain(under, tracked) && (*under)->openChild && !pending) {
        pending = under;
        pendingSince = now;
      }
      corridor = false;
      tracked = under;
    }
    if (barMode && under == first) {
      const MenuHandle pull = (*first)->openChild;
      if (moved && pull && *pull && !Inside((*pull)->anchor, p)) {
        id = -1;
        gBarPoint = p;
        End(-1);
      }
      return;
    }
    if (barMode && tracked == first) return;
    if (HoldCorridor(tracked, p, moved)) return;
    const int32 answer = MouseStep(tracked, p, 0);
    if (answer == kMenuStepSubmenu && pending == tracked) pending = nullptr;
  }

  void Key(WEventRecord* e) {
    if (e->keyCode == vkPopupMenuBar) return End(barMode ? -4 : -1);
    if ((*tracked)->scrollBar && (e->keyCode == kKeyLeft || e->keyCode == kKeyRight)) return;
    WEventRecord copy = *e;
    copy.window = (*tracked)->window;
    if (WIsWindow(copy.window)) WSendEvent(&copy);
    MenuProcMsg m{};
    m.code = kMenuKeyStep;
    m.window = (*tracked)->window;
    m.a2 = (*tracked)->currentItem;
    m.a4 = e->modifiers;
    m.a5 = e->character;
    m.a6 = uInt32(uInt16(e->keyCode));
    const int32 answer = Send(tracked, &m);
    keysOwn = true;
    if (answer == kMenuStepSubmenu) {
      if ((*tracked)->openChild) tracked = (*tracked)->openChild;
    } else if (answer == kMenuStepRightEdge) {
      if ((*level1)->openChild) MCloseMenuWindow((*level1)->openChild, level1);
      tracked = level1;
      if (barMode) End(-2);
    } else if (answer == kMenuStepLeft || answer == kMenuStepClose) {
      if (tracked != level1) {
        MenuHandle parent = ParentOf(first, tracked);
        MCloseMenuWindow(tracked, parent);
        tracked = parent ? parent : level1;
      } else {
        End(barMode ? answer : -1);
      }
    } else if (m.a1 != 0) {
      Choose(m.a1, answer);
    }
  }

  void Release(WEventRecord* e, Point p) {
    if (skipRelease) {
      skipRelease = false;
      return;
    }
    if (barMode && Inside((*first)->size, WordToPoint(e->where))) {
      id = -1;
      gBarPoint = p;
      byRelease = true;
      return End(-1);
    }
    MenuHandle under = MMenuUnderPoint(p, first);
    if (under && (!barMode || under != first)) {
      const int32 current = (*under)->currentItem;
      if (MGetListStyle() && current > 0) {
        const LItemRecord* r = lmenu::Item(under, current);
        if (r && r->submenu && r->submenu == (*under)->openChild) return;
      }
      if (ItemChoosable(under, current)) {
        byRelease = true;
        return Choose((*under)->menuId, current);
      }
    }
    byRelease = true;
    End(-1);
  }

  void Choose(int32 menuId, int32 chosen) {
    id = menuId;
    item = chosen;
    done = true;
  }
  void End(int32 r) {
    result = r;
    done = true;
  }
  bool done = false;
};

}  // namespace

int32 MTrackMenu(MenuHandle menu, const Rect* anchor, int32* menuId, int32* item, int32 mode, int32 initial) {
  if (menuId) *menuId = 0;
  if (item) *item = 0;
  if (!menu || !*menu || !anchor) return -1;
  MSetSubmenuOpener(&OpenFromItem);
  const Bool32 savedListStyle = MGetListStyle();
  Tracker t;
  t.first = menu;
  t.mode = mode;
  t.barMode = mode == kMTrackBarMouse || mode == kMTrackBarKeys;
  t.level1 = t.barMode && (*menu)->openChild ? (*menu)->openChild : menu;
  if (mode == kMTrackPopUp) {
    if (MIsListMenu(menu) && (*menu)->scrollBar) MSetListStyle(1);
    Rect screen, r;
    WGetScreenRect(Point{anchor->top, anchor->left}, &screen);
    MPlaceMenu(menu, anchor, kMPlacePopUp, &screen, &r, initial);
    (*menu)->anchor = *anchor;
    (*menu)->openChild = nullptr;
    if (!MCreateMenuWindow(menu, &r)) {
      MSetListStyle(savedListStyle);
      return -1;
    }
    if (MGetListStyle()) (*menu)->currentItem = std::max(initial, 0);
    Redraw(menu);
    t.skipRelease = MGetListStyle() != 0;
  }
  t.tracked = t.barMode ? t.level1 : Deepest(menu);
  WStartTrack();
  WEventRecord e{};
  while (!t.done) {
    e = WEventRecord{};
    WGetTrackEvent(&e, kTrackWaitMs);
    const Point p = WordToPoint(e.globalWhere);
    switch (e.code) {
      case weMouseDown:
      case wePopupClick:
        if (!MMenuUnderPoint(p, menu)) {
          if (e.code == wePopupClick) {
            t.End(-1);
          } else {
            (*t.tracked)->state[0] = 0;
            t.skipRelease = false;
            t.Release(&e, p);
          }
          break;
        }
        if (PressInScrollBar(MMenuUnderPoint(p, menu), p, e.modifiers)) break;
        t.Pointer(p, true);
        break;
      case weMouseMove:
        t.dragged = true;
        t.Pointer(p, true);
        break;
      case weMouseIdle:
        t.Pointer(p, false);
        break;
      case weMouseUp:
        t.Release(&e, p);
        break;
      case weKey:
        t.Key(&e);
        break;
      case 49:
        if (WIsWindow((*t.tracked)->window)) {
          WEventRecord copy = e;
          copy.window = (*t.tracked)->window;
          WSendEvent(&copy);
        }
        break;
      case kWEvTrackOver:
        t.End(-1);
        break;
      default:
        break;
    }
  }
  WEndTrack();
  if ((e.code == weMouseDown || e.code == weMouseUp || e.code == wePopupClick) &&
      !MMenuUnderPoint(WordToPoint(e.globalWhere), menu))
    MRepostClick(&e, t.dragged, t.byRelease);
  if (t.barMode) {
    if ((*menu)->openChild) MCloseMenuWindow((*menu)->openChild, menu);
  } else {
    MCloseMenuWindow(menu, nullptr);
  }
  MSetListStyle(savedListStyle);
  if (mode == kMTrackReenter) WSetActiveWindow(WActiveDocWind());
  if (menuId) *menuId = t.id;
  if (item) *item = t.item;
  return t.result;
}

void MSetClickThrough(Bool32 on) { gClickThrough = on != 0; }

void MRepostClick(const WEventRecord* event, Bool32 dragged, Bool32 endedByRelease) {
  if (!event || !gClickThrough || WNestingLevel() != 1) return;
  if (event->code != weMouseDown && event->code != weMouseUp && event->code != wePopupClick) return;
  Point local = WordToPoint(event->globalWhere);
  const WindowRef w = WFindWindowAt(kWNoWindow, &local);
  if (!w) return;
  const uInt32 style = WGetStyle(w);
  if ((style & kWStyleFloating) && w != event->window) return;
  constexpr uInt32 kDocument = kWStyleCaption | kWStyleCloseable | kWStyleMinimisable;
  if ((style & kDocument) != kDocument) return;
  WEventRecord posted = *event;
  if (posted.code == weMouseUp) {
    if (!endedByRelease || dragged) return;
    posted.code = weMouseDown;
  }
  WBringToFront(w);
  WSetActiveWindow(w);
  posted.window = w;
  posted.where = WPackPoint(local);
  WPostEvent(&posted, 0, kWPostAnyLevel);
}

int32 MPopUpMenuRect(MenuHandle menu, const Rect* rect, int32* menuId, int32* item, int32 flags, int32 initial,
                     int32 option) {
  (void)flags;
  (void)option;
  if (menuId) *menuId = 0;
  if (item) *item = 0;
  if (!menu || !*menu || !rect) {
    DBAssert(__FILE__, __LINE__, "a pop-up menu without a menu");
    return 0;
  }
  initial = std::clamp(initial, 0, std::max((*menu)->itemCount, 0));
  const WindowRef w = WCurrentPort();
  const Rect global = MenuRectToGlobal(w, *rect);
  const int32 cursor = WSetCursor(-1);
  int32 id = 0, chosen = 0;
  MTrackMenu(menu, &global, &id, &chosen, kMTrackPopUp, initial);
  WSetCursor(cursor);
  if (id == 0 || chosen == 0) return 0;
  if (menuId) *menuId = id;
  if (item) *item = chosen;
  return 1;
}

int32 MPopUpMenuAt(MenuHandle menu, Point where, int32* menuId, int32* item, int32 flags, int32 initial,
                   int32 option) {
  const Rect r{where.v, where.h, where.v, where.h};
  return MPopUpMenuRect(menu, &r, menuId, item, flags, initial, option);
}
