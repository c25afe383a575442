// The list-menu procedure: the item messages of the menu manager and the
// events of an open list menu's window (drawing, keyboard, mouse, wheel),
// with hit testing and scrolling.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "mgsource/datetime.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/extsupport.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"

using namespace lmenu;

namespace {

MOpenSubmenuProc gOpenSubmenu = nullptr;
bool gListStyle = false;
// When the pointer came onto the item or arrow zone it is on now.
uInt32 gNotedAt = 0;
// The menus a shortcut search has entered, and its nesting.
std::vector<MenuHandle> gSearched;
int32 gSearchDepth = 0;

constexpr uInt32 kSubmenuDelayMs = 400;
constexpr uInt32 kAutoScrollDelayMs = 50;

int32 RowHeight(MenuHandle menu) { return (*menu)->lineHeight + 2; }
int32 Rows(MenuHandle menu) { return std::max((*menu)->visibleRows, 1); }
int32 First(MenuHandle menu) { return std::max((*menu)->firstVisible, 1); }
bool BarShown(MenuHandle menu) { return (*menu)->scrollBar && (*menu)->itemCount > (*menu)->visibleRows; }

uChar* Address(int32 word) { return reinterpret_cast<uChar*>(uintptr_t(uInt32(word))); }

int32 Width(ConstPStr text, int32 font) {
  Point size{0, 0};
  if (text[0]) TTextSize(text + 1, text[0], font, &size);
  return size.h;
}

void InvalidateAndUpdate(MenuHandle menu) {
  const WindowRef w = (*menu)->window;
  if (!WIsWindow(w)) return;
  const Rect size = (*menu)->size;
  WInvalRect(w, &size);
  WUpdate(w);
}

void OpenSubmenu(MenuHandle menu, int32 item) {
  Rect r;
  MLItemRect(menu, item, &r);
  const WindowRef w = (*menu)->window;
  if (WIsWindow(w)) r = MenuRectToGlobal(w, r);
  if (gOpenSubmenu) gOpenSubmenu(menu, item, &r);
}

void CalcSize(MenuHandle menu) {
  const int32 font = (*menu)->font;
  static const uChar kWW[] = {2, 'W', 'W'}, kArrow[] = {1, '>'};
  const int32 ww = Width(kWW, font), arrow = Width(kArrow, font);
  const int32 count = (*menu)->itemCount;
  const int32 height = RowHeight(menu) * count + 4;
  int32 width = 1;
  for (Walk w(menu); w.Valid(); w.Next()) {
    LItemRecord* item = w.Get();
    int32 t = Width(MLItemString(item, 0), font), c = 0;
    if (item->shortcutKey) {
      uChar text[256];
      MShortcutText(item->shortcutChar ? 'W' : 0, item->shortcutKey, item->shortcutMods, text);
      if (!item->shortcutChar && item->shortcutKey == 27 && text[0]) --text[0];
      c = std::max(Width(text, font), ww);
    } else if (item->submenu) {
      c = arrow;
    }
    if (c) {
      c += 10;
      t += c;
    }
    item->shortcutWidth = int16(c);
    width = std::max(width, t);
  }
  width += MCheckColumnWidth() + 16;
  if (BarShown(menu)) width += gMenuMetrics.vBarWidth;
  width = std::max(width, (*menu)->minWidth);
  (*menu)->size = Rect{0, 0, int16(height), int16(width)};
}

void GetItem(MenuProcMsg* m, MenuHandle menu) {
  const LItemRecord* item = Item(menu, m->a1);
  if (!item) return;
  if (uChar* text = Address(m->a2)) std::memcpy(text, MLItemString(item, 0), size_t(MLItemString(item, 0)[0]) + 1);
  if (uChar* buffer = Address(m->a4)) {
    const int32 n = std::clamp(MLItemDataSize(item), 0, std::max(m->a3, 0));
    std::memcpy(buffer, MLItemData(item), size_t(n));
    m->a3 = n;
  }
  if (auto* info = reinterpret_cast<MenuItemInfo*>(Address(int32(m->a6)))) {
    info->enabled = item->enabled ? 1 : 0;
    info->mark = item->mark;
    info->submenu = item->submenu;
    info->itemKey = item->itemKey;
    info->shortcutChar = item->shortcutChar;
    info->shortcutModifiers = item->shortcutMods;
    info->shortcutKeyCode = item->shortcutKey;
  }
}

int32 FindShortcut(MenuProcMsg* m, MenuHandle menu) {
  if (std::find(gSearched.begin(), gSearched.end(), menu) != gSearched.end()) return 0;
  gSearched.push_back(menu);
  if (m->flag == 0 && !(*menu)->enabled) return 0;
  const int32 key = int16(m->a6 & 0xFFFF);
  if (key == 0) return 0;
  for (Walk w(menu); w.Valid(); w.Next()) {
    const int32 n = w.Index();
    const LItemRecord* item = w.Get();
    if (item->shortcutKey == key && item->shortcutChar == m->a5 && item->shortcutMods == uInt32(m->a4)) {
      const bool take = item->enabled || m->flag == 0;
      m->a1 = take ? (*menu)->menuId : 0;
      m->a2 = take ? n : 0;
      m->a3 = take ? int32(item->itemKey) : 0;
      return 1;
    }
    const MenuHandle sub = item->submenu;
    if (sub && *sub && (*sub)->proc && (item->enabled || m->flag == 0))
      if ((*sub)->proc(m, sub)) return 1;
  }
  return 0;
}

bool Disabled(MenuHandle menu, int32 n) {
  const LItemRecord* item = Item(menu, n);
  return item && !item->enabled;
}

int32 KeyStep(MenuProcMsg* m, MenuHandle menu) {
  const int32 count = (*menu)->itemCount, rows = Rows(menu), key = int16(m->a6 & 0xFFFF);
  const int32 old = m->a2;
  int32 item = old;
  const auto step = [&](int32 k, int32 from) {
    switch (k) {
      case 10: return 1;
      case 11: return count;
      case 12: return std::max(from - (rows - 1), 1);
      case 13: return std::min(from + rows - 1, count);
      case 4: return from - 1;
      default: return from + 1;
    }
  };
  const auto settle = [&](int32 candidate, int32 from) {
    if (candidate >= 1 && candidate <= count) return candidate;
    if ((*menu)->scrollBar && count > rows) return from;
    return candidate < 1 ? count : 1;
  };
  switch (key) {
    case 27:
      if (m->a5 == 27) return m->a2 = kMenuStepClose;
      item = MFindMnemonicItem(menu, m->a5);
      if (!item) {
        WBeep();
        m->a1 = m->a2 = m->a3 = 0;
      } else {
        m->a1 = (*menu)->menuId;
      }
      break;
    case 10: case 11: case 12: case 13: case 4: case 5: {
      item = settle(step(key, item), item);
      // Home goes on downwards and End upwards past disabled items.
      const int32 again = key == 10 ? 5 : key == 11 ? 4 : key;
      for (int32 tries = 0; tries < count && Disabled(menu, item) && !MGetChooseDisabled(); ++tries)
        item = settle(step(again, item), item);
      break;
    }
    case 6:
      return m->a2 = kMenuStepLeft;
    case 2:
    case 7: {
      item = std::clamp(item, 1, std::max(count, 1));
      if (MLItemSubmenuOpens(menu, item)) {
        m->a5 = 1;
        (*menu)->currentItem = item;
        OpenSubmenu(menu, item);
        return m->a2 = kMenuStepSubmenu;
      }
      if (key == 7) return m->a2 = kMenuStepRightEdge;
      const LItemRecord* r = Item(menu, item);
      if (r && (r->enabled || MGetChooseDisabled()) && !MGetBrowseOnly()) {
        m->a1 = (*menu)->menuId;
      } else if (gListStyle) {
        return m->a2 = kMenuStepClose;
      }
      return m->a2 = item;
    }
    default:
      return m->a2 = item;
  }
  if (!MGetBrowseOnly()) {
    MenuPort port(menu);
    (*menu)->currentItem = item;
    if (old > 0 && old != item) MDrawLItems(menu, old, 0, 0, 0);
    if (item > 0) {
      MScrollToItem(menu, item, 0);
      MDrawLItems(menu, 0, item, 0, 0);
    }
  }
  return m->a2 = item;
}

int32 MouseStep(MenuProcMsg* m, MenuHandle menu) {
  if (MGetBrowseOnly()) return 0;
  MenuPort port(menu);
  const Point where = WordToPoint(m->a1);
  const int32 previous = m->a3;
  int32 item = MHitLItem(menu, where, previous, m->a4);
  const uInt32 now = MilliSecs();
  if (item > 0) {
    m->a6 = Item(menu, item)->enabled ? 1 : 0;
    if (MLItemSubmenuOpens(menu, item)) {
      m->a5 = 1;
      if (item != previous) {
        gNotedAt = now;
      } else if (now - gNotedAt > kSubmenuDelayMs) {
        OpenSubmenu(menu, item);
        item = kMenuStepSubmenu;
      }
    }
  } else if (item == kMenuHitDownArrow || item == kMenuHitUpArrow) {
    m->a6 = BarShown(menu) ? 1 : 0;
    if (item != previous) {
      gNotedAt = now;
    } else if (now - gNotedAt > kAutoScrollDelayMs) {
      MAutoScroll(menu, item == kMenuHitDownArrow, where.v);
      gNotedAt = now;
    }
  }
  return m->a3 = item;
}

int32 WheelStep(MenuProcMsg* m, MenuHandle menu) {
  float notches;
  std::memcpy(&notches, &m->a4, sizeof notches);
  if (!std::isfinite(notches)) return 0;
  const int32 step = -int32(std::clamp(std::ceil(notches), -1e6f, 1e6f));
  if (step == 0) return 0;
  const int32 count = (*menu)->itemCount, rows = Rows(menu), first = First(menu);
  if ((*menu)->scrollBar) {
    if (count < rows) return 0;
    const int32 moved = std::clamp(first + step, 1, std::max(count - rows + 1, 1));
    if (moved != first) {
      (*menu)->firstVisible = moved;
      InvalidateAndUpdate(menu);
    }
    return 1;
  }
  if ((step < 0 && first == 1) || (step > 0 && first + rows - 1 >= count)) return 0;
  const int32 target = std::clamp((step < 0 ? first + 1 : first + rows - 2) + step, 1, std::max(count, 1));
  MenuPort port(menu);
  MScrollToItem(menu, target, 1);
  return 1;
}

}  // namespace

void MSetSubmenuOpener(MOpenSubmenuProc proc) { gOpenSubmenu = proc; }
void MSetListStyle(Bool32 on) { gListStyle = on != 0; }
Bool32 MGetListStyle() { return gListStyle ? 1 : 0; }

void MLItemRect(MenuHandle menu, int32 item, Rect* r) {
  const Rect size = (*menu)->size;
  const int32 top = size.top + 2 + (item - First(menu)) * RowHeight(menu);
  int32 right = size.right - 2;
  if (BarShown(menu)) right -= gMenuMetrics.vBarWidth - 1;
  *r = Rect{int16(top), int16(size.left + 2), int16(top + RowHeight(menu)), int16(right)};
}

Bool32 MLItemSubmenuOpens(MenuHandle menu, int32 item) {
  const LItemRecord* r = Item(menu, item);
  return r && r->submenu && *r->submenu && r->enabled && !MGetBrowseOnly() && (*r->submenu)->itemCount > 0;
}

int32 LMenuProc(MenuProcMsg* m, MenuHandle menu) {
  if (!m || !menu || !*menu) return 0;
  const WindowRef saved = (*menu)->window;
  (*menu)->window = m->window;
  int32 result = 1;
  LItemRecord* item = nullptr;
  switch (m->code) {
    case kMenuItemRect:
      if (m->a1 >= 1 && m->a1 <= (*menu)->itemCount) {
        Rect r = (*menu)->size;
        r.top = int16(r.top + (m->a1 - 1) * RowHeight(menu) + 2);
        r.bottom = int16(r.top + RowHeight(menu));
        std::memcpy(&m->a2, &r, sizeof r);
      }
      break;
    case kMenuSetItemKey:
      if ((item = Item(menu, m->a2))) item->itemKey = uInt32(m->a3);
      break;
    case kMenuPlacement:
      m->a6 &= 0xFFFF;
      m->offset2 = 0;
      break;
    case kMenuEnable:
    case kMenuDisable:
      (*menu)->enabled = m->code == kMenuEnable;
      break;
    case kMenuGetItem:
      GetItem(m, menu);
      break;
    case kMenuFindMnemonic:
      result = 0;
      for (Walk w(menu); w.Valid(); w.Next())
        if ((item = w.Get())->mnemonic && item->mnemonic == uChar(m->a5)) {
          m->a1 = item->enabled ? (*menu)->menuId : 0;
          m->a2 = item->enabled ? w.Index() : 0;
          result = 1;
          break;
        }
      break;
    case kMenuDeleteItem:
      if (Item(menu, m->a2)) MDeleteLItemGroup(menu, m->a2);
      break;
    case kMenuFindShortcut:
      if (gSearchDepth++ == 0) gSearched.clear();
      result = FindShortcut(m, menu);
      if (--gSearchDepth == 0) gSearched.clear();
      break;
    case kMenuSetShortcut:
      if ((item = Item(menu, m->a2))) {
        item->shortcutChar = m->a5;
        item->shortcutKey = int16(m->a6 & 0xFFFF);
        item->shortcutMods = uInt32(m->a4);
        MInvalMenuSize(menu);
      }
      break;
    case kMenuCheckItem:
      if ((item = Item(menu, m->a2))) {
        item->mark = uChar(m->a4 & 0xFF);
        item->markImage = 0;
      }
      break;
    case kMenuEnableItem:
    case kMenuDisableItem:
      if ((item = Item(menu, m->a2))) item->enabled = m->code == kMenuEnableItem;
      break;
    case kMenuCalcSize:
      CalcSize(menu);
      break;
    case kMenuDeleteAll:
      AZSetHandleSize(reinterpret_cast<UHandle>(menu), ItemsStart(menu));
      (*menu)->itemCount = 0;
      MInvalMenuSize(menu);
      break;
    case kMenuDraw: {
      MenuPort port(menu);
      MDrawLItems(menu, 0, 0, 0, 1);
      if ((*menu)->currentItem > 0) MDrawLItems(menu, 0, (*menu)->currentItem, 0, 0);
      break;
    }
    case kMenuKeyStep:
      result = KeyStep(m, menu);
      break;
    case kMenuMouseStep:
      result = MouseStep(m, menu);
      break;
    case kMenuWheelStep:
      result = WheelStep(m, menu);
      break;
    default:
      result = 0;
      break;
  }
  if (*menu) (*menu)->window = saved;
  return result;
}

// ---- hit testing and scrolling

int32 MHitLItem(MenuHandle menu, Point where, int32 previous, Bool32 flag) {
  if (!menu || !*menu) return 0;
  MenuRecord* m = *menu;
  const int32 count = m->itemCount, first = First(menu), last = first + Rows(menu) - 1;
  int32 result = 0;
  if (!flag) {
    const Rect size = m->size;
    if (where.v >= size.top && where.v < size.bottom && where.h >= size.left && where.h < size.right) {
      result = (where.v - size.top) / RowHeight(menu) + first;
      if (!m->scrollBar && first > 1 && result == first) result = kMenuHitUpArrow;
      else if (!m->scrollBar && last < count && result == last) result = kMenuHitDownArrow;
      else if (result > count) result = 0;
    } else if (m->scrollBar) {
      if (where.v < size.top && first >= 2) result = kMenuHitUpArrow;
      else if (where.v >= size.bottom && last < count) result = kMenuHitDownArrow;
      if (result) m->currentItem = 0;
    }
  } else if (m->openChild) {
    for (Walk w(menu); w.Valid(); w.Next())
      if (w.Get()->submenu == (*menu)->openChild) {
        result = w.Index();
        break;
      }
  }
  if (result != previous || flag) {
    MDrawLItems(menu, std::max(previous, 0), std::max(result, 0), 1, 0);
    (*menu)->currentItem = std::max(result, 0);
    if (result > 0) {
      WEventRecord e{};
      e.code = kMenuItemHighlighted;
      e.window = kWRootWindow;
      e.where = (*menu)->menuId;
      e.globalWhere = result;
      WSendEvent(&e);
    }
  }
  return result;
}

int32 MScrollToItem(MenuHandle menu, int32 item, Bool32 keep) {
  if (!menu || !*menu) return 0;
  const int32 count = (*menu)->itemCount, rows = Rows(menu), first = First(menu), last = first + rows - 1;
  if ((*menu)->scrollBar) {
    if (item < 0 || item > count) return 0;
    int32 moved = first;
    if (item == 0) moved = 1;
    else if (item > last) moved = item - rows + 1;
    else if (item < first) moved = item;
    moved = std::max(moved, 1);
    if (moved != first) {
      (*menu)->firstVisible = moved;
      MDrawLItems(menu, 0, 0, 0, 0);
    }
    const int32 shown = keep ? (*menu)->currentItem : item;
    if (shown > 0) MDrawLItems(menu, 0, shown, 0, 0);
    return 0;
  }
  const int32 firstShown = first > 1 ? first + 1 : first;
  const int32 lastShown = last < count ? last - 1 : last;
  if (item >= firstShown && item <= lastShown) return 1;
  // Up: the item right below the up-arrow row (item 1 needs none); down: the
  // item right above the down-arrow row (the last item needs none).
  int32 moved = item < firstShown ? (item <= 1 ? 1 : item - 1) : (item >= count ? count - rows + 1 : item - rows + 2);
  moved = std::clamp(moved, 1, std::max(count - rows + 1, 1));
  const int32 d = moved - first;
  if (d == 0) return 1;
  (*menu)->firstVisible = moved;
  // The rows between the two arrow rows move by whole rows; the rows that
  // came into view and the two edge rows (arrows may come or go) are drawn.
  const int32 band = rows - 2, h = RowHeight(menu);
  if (std::abs(d) < band) {
    Rect area;
    MLItemRect(menu, moved + 1, &area);
    area.bottom = int16(area.top + band * h);
    DScrollRect(&area, 0, -d * h, 0, gMenuColours.background, kWhiteColor);
  }
  for (int32 row = 0; row < rows; ++row) {
    const bool edge = row == 0 || row == rows - 1;
    const bool entered = d > 0 ? row >= rows - 1 - d : row <= -d;
    if (edge || entered || std::abs(d) >= band) DrawVisibleRow(menu, row);
  }
  return 1;
}

void MAutoScroll(MenuHandle menu, Bool32 down, int32 pointerV) {
  if (!menu || !*menu) return;
  const int32 count = (*menu)->itemCount, first = First(menu);
  int32 target = down ? std::min(first + Rows(menu) - 1, count) : first;
  if (BarShown(menu)) {
    const int32 beyond = std::max(down ? pointerV - (*menu)->size.bottom : (*menu)->size.top - pointerV, 0);
    const int32 step = 2 * beyond / std::max((*menu)->lineHeight, 1) + 1;
    target += down ? step : -step;
  }
  MScrollToItem(menu, std::clamp(target, 1, std::max(count, 1)), 0);
}

void MTrackLMenuScrollBar(MenuHandle menu, Point part, Point first, int32 modifiers) {
  (void)part;
  (void)modifiers;
  if (!menu || !*menu || !BarShown(menu)) return;
  Rect bar;
  MGetMenuScrollBarRect(menu, &bar);
  // The tracking events keep coming to the port that captured the mouse;
  // the bar is hit-tested and drawn in the menu window's coordinates.
  const WindowRef w = (*menu)->window;
  const auto track = [&](Point at, int32 code) {
    WPortState saved{};
    if (WIsWindow(w)) WSetup(w, &saved);
    const int32 r = TrackSBarEvent(&bar, at, code, First(menu) - 1, Rows(menu), (*menu)->itemCount, nullptr, nullptr, 1);
    if (WIsWindow(w)) WRestore(&saved);
    return r;
  };
  for (int32 result = track(first, weMouseDown); result != 0;) {
    const int32 count = (*menu)->itemCount, rows = Rows(menu), now = First(menu);
    int32 moved = now;
    if (result == kSBarUpArrow) moved = now - 1;
    else if (result == kSBarDownArrow) moved = now + 1;
    else if (result == kSBarPageUp) moved = now - rows;
    else if (result == kSBarPageDown) moved = now + rows;
    else if (result < 0) moved = int32(uInt32(result) & kSBarThumbValueMask) + 1;
    moved = std::clamp(moved, 1, std::max(count - rows + 1, 1));
    if (moved != now) {
      (*menu)->firstVisible = moved;
      InvalidateAndUpdate(menu);
    }
    WEventRecord e{};
    WGetTrackEvent(&e, WTrackTimeout());
    Point at = WordToPoint(e.globalWhere);
    if (WIsWindow(w)) WGlobalToLocal(w, &at);
    result = track(at, e.code);
  }
}
