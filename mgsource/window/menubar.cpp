// The menu bar: titles laid out side by side in the owner's window, their
// pull-downs followed with the mouse or the keyboard, and its shortcuts.
#include <algorithm>
#include <cstring>

#include "mgsource/extsupport.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"

namespace {

constexpr int32 kWait = 100;

bool Inside(const Rect& r, Point p) { return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right; }

Rect TitleRect(const Rect& bar, const int32* positions, int32 title) {
  return Rect{bar.top, int16(positions[title - 1]), bar.bottom, int16(positions[title])};
}

// Follows a title without items: a release on it chooses it.
bool FollowPlainTitle(const Rect& titleRect) {
  WStartTrack();
  bool chosen = false;
  for (;;) {
    WEventRecord e{};
    WGetTrackEvent(&e, kWait);
    if (e.code == weMouseMove || e.code == weMouseUp) {
      const bool on = Inside(titleRect, WordToPoint(e.where));
      if (e.code == weMouseUp) chosen = on;
      if (e.code == weMouseUp || !on) break;
    } else if (e.code != weMouseIdle) {
      break;
    }
  }
  WEndTrack();
  return chosen;
}

// Without a title under the pointer: waits for a move onto one (its
// number) or a release (0).
int32 WaitForTitle(const Rect& bar, const int32* positions, int32 count) {
  WStartTrack();
  int32 title = 0;
  for (;;) {
    WEventRecord e{};
    WGetTrackEvent(&e, kWait);
    if (e.code == weMouseMove) {
      if ((title = MTitleAtPoint(WordToPoint(e.where), &bar, positions, count))) break;
    } else if (e.code != weMouseIdle) {
      break;
    }
  }
  WEndTrack();
  return title;
}

}  // namespace

int32 MLayoutMenuBar(MenuHandle bar, const Rect* barRect, int32* positions) {
  if (!bar || !*bar || !barRect || !positions) return 0;
  const int32 count = std::min((*bar)->itemCount, kMaxBarTitles);
  positions[0] = barRect->left;
  int32 n = 0;
  for (lmenu::Walk w(bar); w.Valid() && n < count; w.Next(), ++n)
    positions[n + 1] = positions[n] + MTitleWidth((*bar)->font, MLItemString(w.Get(), 0));
  return n;
}

int32 MTitleAtPoint(Point where, const Rect* barRect, const int32* positions, int32 count) {
  if (!barRect || !positions || !Inside(*barRect, where)) return 0;
  for (int32 n = 1; n <= std::min(count, kMaxBarTitles); ++n)
    if (positions[n] >= where.h) return n;
  return 0;
}

MenuHandle MFindMenuByID(MenuHandle bar, int32 menuId) {
  if (!bar || !*bar) return nullptr;
  if ((*bar)->menuId == menuId) return bar;
  if (!MIsListMenu(bar)) return nullptr;
  for (lmenu::Walk w(bar); w.Valid(); w.Next()) {
    const MenuHandle sub = w.Get()->submenu;
    if (sub && sub != bar)
      if (MenuHandle found = MFindMenuByID(sub, menuId)) return found;
  }
  return nullptr;
}

int32 MTrackMenuBar(MenuHandle bar, const Rect* barRect, int32 title, const int32* positions, int32 count,
                    int32* menuId, int32* item, int32 mode) {
  if (menuId) *menuId = 0;
  if (item) *item = 0;
  if (!bar || !*bar || !barRect || !positions || count <= 0) return 0;
  const WindowRef owner = WCurrentPort();
  const WindowRef savedWindow = (*bar)->window;
  const Rect savedSize = (*bar)->size;
  (*bar)->window = owner;
  (*bar)->size = Rect{barRect->top, barRect->left, int16(barRect->bottom - 1), barRect->right};
  int32 id = 0, chosen = 0;
  for (;;) {
    if (title < 1 || title > count) {
      if (mode != kMTrackBarMouse || !(title = WaitForTitle(*barRect, positions, count))) break;
    }
    const LItemRecord* t = lmenu::Item(bar, title);
    if (!t) break;
    const MenuHandle sub = t->submenu;
    const Rect local = TitleRect(*barRect, positions, title);
    MHiliteTitle(bar, barRect, positions, title, 1);
    if (!sub || !*sub || (*sub)->itemCount <= 0) {
      if (mode == kMTrackBarMouse && FollowPlainTitle(local)) {
        id = (*bar)->menuId;
        chosen = title;
      }
      MHiliteTitle(bar, barRect, positions, title, 0);
      break;
    }
    const bool browse = !t->enabled;
    if (browse) MSetBrowseOnly(1);
    const Rect global = MenuRectToGlobal(owner, local);
    MOpenSubmenu(bar, &global, sub, 1);
    const int32 result = MTrackMenu(bar, &global, &id, &chosen, mode, 0);
    if (browse) {
      if (id > 0) id = chosen = 0;
      MSetBrowseOnly(0);
    }
    MHiliteTitle(bar, barRect, positions, title, 0);
    if (id == -1) {
      Point p = MBarHandBackPoint();
      WGlobalToLocal(owner, &p);
      title = MTitleAtPoint(p, barRect, positions, count);
      mode = kMTrackBarMouse;
      id = chosen = 0;
      continue;
    }
    if (id != 0 || result == -4 || result == -1) break;
    title = result == -3 ? (title == 1 ? count : title - 1) : (title == count ? 1 : title + 1);
    mode = kMTrackBarKeys;
  }
  (*bar)->window = savedWindow;
  (*bar)->size = savedSize;
  if (id == 0 || chosen == 0) return 0;
  if (menuId) *menuId = id;
  if (item) *item = chosen;
  return 1;
}

namespace {

void ItemKey(MenuHandle bar, int32 id, int32 item, uInt32* key) {
  if (!key) return;
  *key = 0;
  if (MenuHandle m = MFindMenuByID(bar, id)) {
    MenuItemInfo info{};
    MGetItemInfo(m, item, &info);
    *key = info.itemKey;
  }
}

}  // namespace

int32 MMenuBarClick(MenuHandle bar, const Rect* barRect, Point where, int32* menuId, int32* item, uInt32* itemKey) {
  if (menuId) *menuId = 0;
  if (item) *item = 0;
  if (itemKey) *itemKey = 0;
  if (!bar || !*bar || !barRect) return 0;
  const int32 cursor = WSetCursor(-1);
  int32 id = 0, chosen = 0, result = 0;
  if (!MSendMenuEvent(WCurrentPort())) {
    WBeep();
  } else {
    int32 positions[kMaxBarTitles + 1];
    const int32 count = MLayoutMenuBar(bar, barRect, positions);
    const int32 title = MTitleAtPoint(where, barRect, positions, count);
    result = MTrackMenuBar(bar, barRect, title, positions, count, &id, &chosen, kMTrackBarMouse);
  }
  WSetCursor(cursor);
  if (!result) return 0;
  if (menuId) *menuId = id;
  if (item) *item = chosen;
  ItemKey(bar, id, chosen, itemKey);
  return 1;
}

int32 MMenuBarKeys(MenuHandle bar, const Rect* barRect, const WEventRecord* event, int32* menuId, int32* item,
                   uInt32* itemKey) {
  if (menuId) *menuId = 0;
  if (item) *item = 0;
  if (itemKey) *itemKey = 0;
  if (!bar || !*bar || !barRect || !event) return 0;
  int32 positions[kMaxBarTitles + 1];
  const int32 count = MLayoutMenuBar(bar, barRect, positions);
  if (count == 0) return 0;
  int32 id = 0, chosen = 0, result = 0;
  int32 title = 0;
  if (event->character) {
    if (!(title = MFindMnemonicItem(bar, ToUpper(event->character)))) WBeep();
  } else {
    title = 1;
    MHiliteTitle(bar, barRect, positions, title, 1);
    bool open = false, click = false;
    Point clickAt{};
    WStartTrack();
    for (bool done = false; !done;) {
      WEventRecord e{};
      WGetTrackEvent(&e, kWait);
      if (e.code == weKey) {
        const int32 before = title;
        if (e.keyCode == vkPopupMenuBar || (e.keyCode == vkAscii && e.character == 27)) {
          done = true;
        } else if (e.keyCode == vkLeft) {
          title = title == 1 ? count : title - 1;
        } else if (e.keyCode == vkRight) {
          title = title == count ? 1 : title + 1;
        } else if (e.keyCode == vkEnter || e.keyCode == vkUp || e.keyCode == vkDown) {
          open = done = true;
        } else if (e.keyCode == vkAscii && e.character) {
          const int32 found = MFindMnemonicItem(bar, ToUpper(e.character));
          if (!found) WBeep();
          title = found;
          open = found != 0;
          done = true;
        }
        if (before != title || done) MHiliteTitle(bar, barRect, positions, before, 0);
        if (!done && before != title) MHiliteTitle(bar, barRect, positions, title, 1);
      } else if (e.code == weMouseDown) {
        clickAt = WordToPoint(e.where);
        click = Inside(*barRect, clickAt);
        MHiliteTitle(bar, barRect, positions, title, 0);
        done = true;
      } else if (e.code == kWEvTrackOver || e.code == wePopupClick) {
        MHiliteTitle(bar, barRect, positions, title, 0);
        done = true;
      }
    }
    WEndTrack();
    if (click) return MMenuBarClick(bar, barRect, clickAt, menuId, item, itemKey);
    if (!open) title = 0;
  }
  if (title) result = MTrackMenuBar(bar, barRect, title, positions, count, &id, &chosen, kMTrackBarKeys);
  if (!result) return 0;
  if (menuId) *menuId = id;
  if (item) *item = chosen;
  ItemKey(bar, id, chosen, itemKey);
  return 1;
}

int32 MHandleMenuBarEvent(WEventRecord* event, MenuHandle bar, const Rect* barRect) {
  if (!event) return 0;
  if (event->code != weKey || event->keyCode != vkPopupMenuBar) return MMenuBarShortcut(event, bar, 1);
  MSendMenuEvent(event->window);
  int32 id = 0, item = 0;
  uInt32 key = 0;
  MMenuBarKeys(bar, barRect, event, &id, &item, &key);
  event->code = weMenuSelect;
  event->where = id;
  event->globalWhere = item;
  event->modifiers = int32(key);
  event->character = event->keyCode = event->data[0] = 0;
  return 1;
}

int32 MMenuBarShortcut(WEventRecord* event, MenuHandle bar, Bool32 searchDisabled) {
  if (!event || !bar || !*bar || event->code != weKey) return 0;
  const int32 key = event->keyCode;
  if (key == vkLeft || key == vkRight || key == vkUp || key == vkDown) return 0;
  if (key == vkAscii && !(event->modifiers & 0x20)) return 0;
  if (event->window) MSendMenuEvent(event->window);
  MenuProcMsg m{};
  m.code = kMenuFindShortcut;
  m.window = event->window;
  m.a4 = event->modifiers & 0x22;
  m.a5 = ToUpper(event->character);
  m.a6 = uInt32(uInt16(key));
  m.flag = uInt32(searchDisabled);
  if (!(*bar)->proc || !(*bar)->proc(&m, bar)) return 0;
  m.code = weMenuSelect;
  m.window = event->window;
  static_assert(sizeof m == sizeof *event);
  std::memcpy(event, &m, sizeof m);
  return 1;
}

int32 MHandleLMenuEvent(WEventRecord* event, MenuHandle bar, const Rect* barRect) {
  if (!event || !bar || !*bar) return 0;
  if (event->code == weKey && event->keyCode == vkPopupMenuBar && !barRect) return 0;
  return MHandleMenuBarEvent(event, bar, barRect);
}

int32 MPopUpLMenu(MenuHandle bar, const Rect* barRect, Point where, int32* menuId, int32* item, int32* modifiers) {
  if (modifiers) *modifiers = 0;
  int32 id = 0, chosen = 0;
  if (!MMenuBarClick(bar, barRect, where, &id, &chosen, nullptr)) {
    if (menuId) *menuId = 0;
    if (item) *item = 0;
    return 0;
  }
  if (menuId) *menuId = id;
  if (item) *item = chosen;
  if (modifiers) *modifiers = int32(WGetModifiers());
  return 1;
}
