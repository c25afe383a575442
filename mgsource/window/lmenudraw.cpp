// Drawing list menus (rows, separators, marks, underlines, submenu arrows,
// shortcuts, scroll arrows and bar) and menu bars with their titles.
// Everything goes through the current port in the menu's font.
#include <algorithm>

#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/wport.h"

using namespace lmenu;

namespace {

struct Colours {
  DColor fore, back, bwFore, bwBack;
  bool emboss;  // disabled on a colour port: shadow text over a light copy
};

void Paint(const Rect& r, DColor colour, DColor bwColour) {
  DSelectNormPen(colour, bwColour);
  DPaintRect(&r);
}

void Line(int32 h1, int32 v1, int32 h2, int32 v2, DColor colour, DColor bwColour) {
  DSelectNormPen(colour, bwColour);
  DMoveTo(h1, v1);
  DLineTo(h2, v2);
}

Colours Pair(bool highlighted) {
  const MenuColours& c = gMenuColours;
  return highlighted ? Colours{c.selectionText, c.selection, kWhiteColor, kBlackColor, false}
                     : Colours{c.text, c.background, kBlackColor, kWhiteColor, false};
}

int32 Ascent(int32 font) {
  int32 ascent = 0;
  TGetFontMetrics(font, &ascent, nullptr, nullptr);
  return ascent;
}

int32 Width(const uChar* text, int32 length, int32 font) {
  Point size{0, 0};
  if (length > 0) TTextSize(text, length, font, &size);
  return size.h;
}

void Text(const Rect& r, int32 mode, ConstPStr text, int32 font, const Colours& c) {
  if (c.emboss)
    TBoxShadowed(&r, mode, text + 1, text[0], font, gMenuColours.shadow, kTransparentColor, c.bwFore,
                 kTransparentColor, gMenuColours.light, 1);
  else
    TBox(&r, mode, text + 1, text[0], font, c.fore, kTransparentColor, c.bwFore, kTransparentColor);
}

void Underline(int32 left, int32 v, int32 length, const Colours& c) {
  if (c.emboss) Line(left + 1, v + 1, left + 1 + length, v + 1, gMenuColours.light, c.bwFore);
  Line(left, v, left + length, v, c.emboss ? gMenuColours.shadow : c.fore, c.bwFore);
}

bool ItemUnusable(MenuHandle menu, const LItemRecord* item) {
  const MenuHandle sub = item->submenu;
  return !(*menu)->enabled || !item->enabled || MGetBrowseOnly() || (sub && *sub && (*sub)->itemCount == 0);
}

void DrawMark(const LItemRecord* item, const Rect& row, int32 font, const Colours& c) {
  const int32 checkWidth = MCheckColumnWidth();
  const int32 image = item->markImage ? int32(item->markImage) : gMenuMetrics.checkImage;
  if (!image) {
    static const uChar kStar[] = {1, '*'};
    const Rect column{row.top, row.left, row.bottom, int16(row.left + checkWidth)};
    Text(column, 0, kStar, font, c);
    return;
  }
  Rect bounds{0, 0, 0, 0};
  IGetRect(image, &bounds);
  const int32 w = RectWidth(&bounds), h = RectHeight(&bounds);
  const int32 top = row.top + (RectHeight(&row) - h) / 2;
  const Rect at{int16(top), row.left, int16(top + h), int16(row.left + w)};
  IDraw(image, nullptr, &at, c.emboss ? gMenuColours.shadow : c.fore, kTransparentColor, c.bwFore,
        kTransparentColor);
}

void DrawSubmenuArrow(const Rect& row, const Colours& c) {
  const int32 base = row.right - 17;
  if (c.emboss) Line(base + 1, row.top + 12, base + 5, row.top + 8, gMenuColours.light, c.bwFore);
  // A closed outline: the first corner again at the end.
  const Point points[4] = {{int16(row.top + 3), int16(base)},
                           {int16(row.top + 11), int16(base)},
                           {int16(row.top + 7), int16(base + 4)},
                           {int16(row.top + 3), int16(base)}};
  DSelectNormPen(c.emboss ? gMenuColours.shadow : c.fore, c.bwFore);
  DPaintPoly(points, 3, 0);
}

void DrawRow(MenuHandle menu, int32 n, const Rect& row, bool highlighted, bool paintedAll, int32 arrow) {
  const int32 count = (*menu)->itemCount, font = (*menu)->font, h = RectHeight(&row);
  const bool bw = DIsBW() != 0;
  if (arrow) {
    if (!paintedAll) Paint(row, gMenuColours.background, kWhiteColor);
    MDrawScrollArrow(&row, arrow < 0);
    return;
  }
  if (n < 1 || n > count) {
    if (!paintedAll) Paint(row, gMenuColours.background, kWhiteColor);
    return;
  }
  const LItemRecord* item = Item(menu, n);
  if (!item) return;
  const bool separator = IsSeparator(item);
  const bool lit = highlighted && !separator && (item->enabled || MGetChooseDisabled()) && (*menu)->enabled;
  const bool disabled = !separator && ItemUnusable(menu, item);
  Colours c = Pair(lit);
  c.emboss = disabled && !bw;
  if (!paintedAll || lit) Paint(row, c.back, c.bwBack);
  if (separator) {
    const int32 v = row.top + h / 2;
    Line(row.left + 1, v, row.right - 1, v, gMenuColours.shadow, kBlackColor);
    Line(row.left + 1, v + 1, row.right - 1, v + 1, gMenuColours.light, kWhiteColor);
    return;
  }
  if (item->mark) DrawMark(item, row, font, c);
  const Rect text{row.top, int16(row.left + MCheckColumnWidth()), row.bottom, int16(row.right - item->shortcutWidth)};
  Text(text, 0, MLItemString(item, 0), font, c);
  if (item->mnemonic) Underline(text.left + item->underlineOffset, row.top + Ascent(font) + 1, item->underlineLength, c);
  const int32 column = row.right - item->shortcutWidth;
  if (item->submenu) {
    DrawSubmenuArrow(row, c);
  } else if (item->shortcutKey) {
    uChar shortcut[256];
    MShortcutText(item->shortcutChar, item->shortcutKey, item->shortcutMods, shortcut);
    Text(Rect{row.top, int16(column + 5), row.bottom, int16(row.right - 5)}, 0, shortcut, font, c);
  }
  if (bw && disabled) DGrayOutRect(&row, gMenuColours.background);
}

}  // namespace

void lmenu::DrawVisibleRow(MenuHandle menu, int32 row) {
  const MenuRecord* m = *menu;
  const int32 rows = std::max(m->visibleRows, 1), first = std::max(m->firstVisible, 1), n = first + row;
  int32 arrow = 0;
  if (!m->scrollBar && row == 0 && first != 1) arrow = -1;
  else if (!m->scrollBar && row == rows - 1 && first + rows - 1 < m->itemCount) arrow = 1;
  Rect r;
  MLItemRect(menu, n, &r);
  DrawRow(menu, n, r, n == m->currentItem, false, arrow);
}

void MDrawScrollArrow(const Rect* row, Bool32 up) {
  if (!row) return;
  const int32 base = up ? 10 : 4, tip = up ? 4 : 10;
  const Point points[4] = {{int16(row->top + base), int16(row->left + 13)},
                           {int16(row->top + base), int16(row->left + 25)},
                           {int16(row->top + tip), int16(row->left + 19)},
                           {int16(row->top + base), int16(row->left + 13)}};
  DSelectNormPen(gMenuColours.text, kBlackColor);
  DPaintPoly(points, 3, 0);
}

void MDrawLItems(MenuHandle menu, int32 oldItem, int32 newItem, Bool32 hiliteOnly, Bool32 withFrame) {
  if (!menu || !*menu) return;
  const bool all = oldItem == 0 && newItem == 0;
  if (all && hiliteOnly) return;
  const MenuRecord* m = *menu;
  const Rect size = m->size;
  const int32 count = m->itemCount, rows = std::max(m->visibleRows, 1), first = std::max(m->firstVisible, 1);
  const int32 last = first + rows - 1;
  const bool arrows = !m->scrollBar;
  if (all) Paint(size, gMenuColours.background, kWhiteColor);
  for (int32 i = 0; i < rows; ++i) {
    const int32 n = first + i;
    if (!all && n != oldItem && n != newItem) continue;
    const LItemRecord* item = Item(menu, n);
    if (hiliteOnly && (!(*menu)->enabled || (item && !item->enabled && !MGetChooseDisabled()))) continue;
    int32 arrow = 0;
    if (arrows && i == 0 && first != 1) arrow = -1;
    else if (arrows && i == rows - 1 && last < count) arrow = 1;
    Rect row;
    MLItemRect(menu, n, &row);
    DrawRow(menu, n, row, n == newItem, all, arrow);
  }
  if (withFrame || (all && arrows)) DrawBevelFrame(&size, kBevelRaised);
  if (withFrame && m->scrollBar && count > m->visibleRows) {
    Rect bar;
    MGetMenuScrollBarRect(menu, &bar);
    DrawSBar(&bar, first - 1, rows, count, nullptr, nullptr, 1);
  }
}

int32 MTitleWidth(int32 font, ConstPStr text) {
  static const uChar kW[] = {'W'};
  return (text ? Width(text + 1, text[0], font) : 0) + std::max(Width(kW, 1, font), 6);
}

void MDrawMenuTitle(int32 font, int32 depth, const Rect* titleRect, const LItemRecord* title, Bool32 highlighted) {
  if (!titleRect || !title) return;
  Rect r = *titleRect;
  DOffsetRect(&r, 0, -2);
  const bool bw = depth <= 1 || DIsBW();
  const bool disabled = !title->enabled;
  Colours c = Pair(highlighted && !disabled);
  if (disabled) {
    c.fore = gMenuColours.shadow;
    c.back = kTransparentColor;
    c.emboss = !bw;
  } else {
    Paint(r, c.back, c.bwBack);
  }
  Text(r, 32, MLItemString(title, 0), font, c);
  if (title->mnemonic) {
    static const uChar kW[] = {'W'};
    const int32 start = r.left + title->underlineOffset + std::max(Width(kW, 1, font) / 2, 3);
    Underline(start, r.top + Ascent(font) + 1, title->underlineLength, c);
  }
}

void MDrawMenuBar(MenuHandle bar, const Rect* barRect) {
  if (!bar || !*bar || !barRect) return;
  Rect saved;
  WSetClipRect(barRect, &saved);
  Rect r = *barRect;
  r.bottom = int16(r.bottom - 1);
  (*bar)->size = r;
  Paint(r, gMenuColours.background, kWhiteColor);
  Line(r.left, r.bottom - 1, r.right - 1, r.bottom - 1, gMenuColours.light, kWhiteColor);
  Line(r.left, r.bottom - 2, r.right - 1, r.bottom - 2, gMenuColours.shadow, kBlackColor);
  const int32 font = (*bar)->font, depth = DGetDepth();
  int32 left = r.left;
  for (int32 n = 1; n <= (*bar)->itemCount; ++n) {
    const LItemRecord* title = Item(bar, n);
    if (!title) break;
    const int32 width = MTitleWidth(font, MLItemString(title, 0));
    const Rect at{int16(r.top + 4), int16(left), r.bottom, int16(left + width)};
    MDrawMenuTitle(font, depth, &at, title, 0);
    left += width;
  }
  WRestoreClip(&saved);
}

void MHiliteTitle(MenuHandle bar, const Rect* barRect, const int32* positions, int32 title, Bool32 on) {
  if (!bar || !*bar || !barRect || !positions) return;
  const LItemRecord* item = MGetLItemPtr(bar, title);
  if (!item) return;
  const Rect at{int16(barRect->top + 4), int16(positions[title - 1]), int16(barRect->bottom - 1),
                int16(positions[title])};
  Rect saved;
  WSetClipRect(&at, &saved);
  MDrawMenuTitle((*bar)->font, DGetDepth(), &at, item, on);
  WRestoreClip(&saved);
}
