// The line-width and line-style picture menus: a column of cells, each
// showing its choice as a horizontal sample line drawn with the pen the
// choice stands for, the current one on the highlight colour.
#include <algorithm>
#include <cstdint>

#include "controls/plotmenus.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menuport.h"

namespace {

constexpr int16 kCellHeight = 20, kCellWidth = 100;
constexpr int16 kWidthItems = 6, kStyleItems = 5;
constexpr int32 kPenMask = kPenWidth | kPenStyle | kPenFore | kPenBack;  // 29

// The menu's data block lives after its title, where the menu manager
// keeps a procedure's data, so that it goes with the menu; it starts at
// the next 4-byte boundary, as its fields need.
int32 BlockAt(ConstPStr title) { return (MenuItemArea(title) + 3) & ~3; }

LineMenuData* Block(MenuHandle menu) {
  if (!menu || !*menu) return nullptr;
  const int32 at = BlockAt((*menu)->title);
  if (AZGetHandleSize(reinterpret_cast<UHandle>(menu)) < at + int32(sizeof(LineMenuData))) return nullptr;
  return reinterpret_cast<LineMenuData*>(reinterpret_cast<uChar*>(*menu) + at);
}

// The block copied out; false when the menu has none whole.
bool DataOf(MenuHandle menu, LineMenuData* out) {
  const LineMenuData* d = Block(menu);
  if (!d) return false;
  *out = *d;
  return out->count > 0 && out->cellHeight > 0;
}

void SetCurrent(MenuHandle menu, int32 item) {
  if (LineMenuData* d = Block(menu)) d->current = item;
}

MgErr InitLineMenu(int32 menuId, MenuHandle* menu, ConstPStr name, MenuProc proc, int16 count) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  if (MgErr err = MNewCustomMenu(menu, name, menuId, proc, 0)) return err;
  const int32 at = BlockAt(name);
  if (AZSetHSzClr(reinterpret_cast<UHandle>(*menu), at + int32(sizeof(LineMenuData))) != kNoErr) {
    MDisposeMenu(*menu);
    *menu = nullptr;
    return kMemFullErr;
  }
  LineMenuData* d = Block(*menu);
  d->count = count;
  d->cellHeight = kCellHeight;
  d->cellWidth = kCellWidth;
  d->current = 0;
  MGetMenuPtr(*menu)->itemCount = count;
  return kNoErr;
}

// The menu's rectangle less its 2-pixel border, where the cells lie.
Rect Inner(MenuHandle menu) {
  Rect r = (*menu)->size;
  DInsetRect(&r, 2, 2);
  return r;
}

Rect Cell(const Rect& inner, const LineMenuData& d, int32 item) {
  const int32 top = inner.top + (item - 1) * d.cellHeight;
  return Rect{int16(top), inner.left, int16(top + d.cellHeight), inner.right};
}

void DrawLineMenu(MenuHandle menu, bool widths) {
  LineMenuData d;
  if (!DataOf(menu, &d)) return;
  Rect r = (*menu)->size;
  DSelectNormPen(gMenuColours.background, kWhiteColor);
  DPaintRect(&r);
  DrawBevelFrame(&r, kBevelRaised);
  DInsetRect(&r, 2, 2);
  PenState s{};
  const int32 pen = DNewPen(kDefaultPenBase, 0, &s);
  for (int32 i = 0; i < d.count; ++i) {
    const Rect cell = Cell(r, d, i + 1);
    const bool current = d.current == i + 1;
    if (current) {
      Rect hl = cell;
      DInsetRect(&hl, 2, 2);
      DSelectNormPen(gMenuColours.selection, kBlackColor);
      DPaintRect(&hl);
    }
    s.width = int16(widths ? i : 1);
    s.style = uInt32(widths ? 0 : i);
    s.fore = current ? gMenuColours.selectionText : gMenuColours.text;
    s.back = current ? gMenuColours.selection : gMenuColours.background;
    if (pen) {
      DSetPenState(pen, kPenMask, &s);
      // Black on white on black-and-white ports, white on black for the current item.
      DSelectPen(pen, current ? kWhiteColor : kBlackColor, current ? kBlackColor : kWhiteColor);
    } else {
      DSelectNormPen(s.fore, current ? kWhiteColor : kBlackColor);
    }
    const int32 y = cell.top + d.cellHeight / 2;
    DMoveTo(cell.left + 5, y);
    DLineTo(cell.right - 5, y);
    if (widths && i == 0) {
      // The thinnest pen gets two marks that show where it lies.
      const int32 mid = (cell.left + 5 + cell.right - 5) / 2;
      for (int32 h : {mid - 5, mid + 5}) {
        DMoveTo(h, y - 4);
        DLineTo(h, y + 4);
      }
    }
  }
  if (pen && widths) {
    s.width = int16(std::max(d.current - 1, 0));
    DSetPenState(pen, kPenWidth, &s);
  }
  DSelectNormPen(kBlackColor, kBlackColor);
  if (pen) DDestroyPen(pen);
}

int32 TrackLineMenu(MenuHandle menu, Point where, int32 previous, bool widths) {
  LineMenuData d;
  if (!DataOf(menu, &d)) return 0;
  const Rect r = Inner(menu);
  int32 item = 0;
  if (where.v >= r.top && where.v < r.bottom && where.h >= r.left && where.h < r.right)
    item = (where.v - r.top) / d.cellHeight + 1;
  if (item > d.count) item = 0;
  if (item != previous) {
    auto frame = [&](int32 k, DColor colour) {
      if (k < 1 || k > d.count) return;
      Rect cell = Cell(r, d, k);
      DInsetRect(&cell, widths ? 2 : 1, 1);
      DSelectNormPen(colour, kBlackColor);
      DFrameRect(&cell);
    };
    frame(previous, gMenuColours.background);
    frame(item, gMenuColours.selection);
  }
  return item;
}

int32 LineMenuProc(MenuProcMsg* m, MenuHandle menu, bool widths) {
  LineMenuData d;
  if (!m || !DataOf(menu, &d)) return 0;
  switch (m->code) {
    case kMenuCheckItem:
      SetCurrent(menu, m->a2);
      break;
    case kMenuCalcSize:
      (*menu)->size = Rect{0, 0, int16(d.count * d.cellHeight + 4), int16(d.cellWidth + 4)};
      break;
    case kMenuDraw: {
      MenuPort port(menu);
      if (widths) DrawLineWidthMenu(menu);
      else DrawLineStyleMenu(menu);
      break;
    }
    case kMenuMouseStep: {
      MenuPort port(menu);
      const int32 item = widths ? TrackLineWidthMenu(menu, WordToPoint(m->a1), m->a3)
                                : TrackLineStyleMenu(menu, WordToPoint(m->a1), m->a3);
      // The tracker reads the highlighted item from the record at release.
      m->a3 = item;
      (*menu)->currentItem = item;
      break;
    }
    case kMenuGetItem:
      // Every sample can be chosen: the tracker asks before it takes one.
      if (m->a1 >= 1 && m->a1 <= d.count && m->a6)
        reinterpret_cast<MenuItemInfo*>(uintptr_t(m->a6))->enabled = 1;
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace

MgErr InitLineWidths(int32 menuId, MenuHandle* menu) {
  static const uChar kName[] = "\x09" "LineWidth";
  return InitLineMenu(menuId, menu, kName, &LineWidthMenuProc, kWidthItems);
}

MgErr InitLineStyles(int32 menuId, MenuHandle* menu) {
  static const uChar kName[] = "\x0a" "Linestyles";
  return InitLineMenu(menuId, menu, kName, &LineStyleMenuProc, kStyleItems);
}

int32 LineWidthMenuProc(MenuProcMsg* msg, MenuHandle menu) { return LineMenuProc(msg, menu, true); }
int32 LineStyleMenuProc(MenuProcMsg* msg, MenuHandle menu) { return LineMenuProc(msg, menu, false); }
void DrawLineWidthMenu(MenuHandle menu) { DrawLineMenu(menu, true); }
void DrawLineStyleMenu(MenuHandle menu) { DrawLineMenu(menu, false); }
int32 TrackLineWidthMenu(MenuHandle menu, Point where, int32 previous) {
  return TrackLineMenu(menu, where, previous, true);
}
int32 TrackLineStyleMenu(MenuHandle menu, Point where, int32 previous) {
  return TrackLineMenu(menu, where, previous, false);
}
