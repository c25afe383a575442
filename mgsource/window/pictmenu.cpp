// Palette menus: picture cells in a grid, each an image with an optional
// name and the owner's data, answering the menu messages through their own
// procedure.  The record holds the columns word and the names flag after
// the title, then the cells one after another.
#include <algorithm>
#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/datetime.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"

namespace {

constexpr DColor kPictGrey = 0xB3B3B3;
// Window events the procedure answers besides the menu messages.
enum : int32 { kMenuMouseUp = 2, kMenuMouseMoved = 3, kMenuCloseRequest = 15 };
constexpr uInt32 kSubmenuDelayMs = 400;
// The cell whose name the strip shows (0 none), and when the pointer came
// onto the cell it is on now.
int32 gShownName = 0;
uInt32 gNotedAt = 0;

int32 Pad4(int32 n) { return (n + 3) & ~3; }
uChar* Bytes(MenuHandle menu) { return reinterpret_cast<uChar*>(*menu); }
// The two words start on the first 4-byte boundary after the title, so the
// cells (whole multiples of 4 bytes) stay aligned.
int32 HeaderAt(MenuHandle menu) { return (MenuItemArea((*menu)->title) + 3) & ~3; }
int32 CellsAt(MenuHandle menu) { return HeaderAt(menu) + kPictMenuHeader; }
uChar* Address(int32 word) { return reinterpret_cast<uChar*>(uintptr_t(uInt32(word))); }

int32 Columns(MenuHandle menu) {
  int16 c;
  std::memcpy(&c, Bytes(menu) + HeaderAt(menu), 2);
  return std::max<int32>(c, 1);
}
bool NamesFlag(MenuHandle menu) {
  int16 f;
  std::memcpy(&f, Bytes(menu) + HeaderAt(menu) + 2, 2);
  return f != 0;
}

int32 BoldFont() {
  const int32 f = TStandardFont(3);
  return f >= 0 ? f : kAppFont;
}
int32 BoldLineHeight() {
  int32 ascent = 0, descent = 0;
  TGetFontMetrics(BoldFont(), &ascent, &descent, nullptr);
  return ascent + descent;
}
int32 NameHeight(MenuHandle menu) { return NamesFlag(menu) ? BoldLineHeight() : 0; }
int32 TextWidth(ConstPStr text, int32 font) {
  Point size{0, 0};
  if (text[0]) TTextSize(text + 1, text[0], font, &size);
  return size.h;
}

// The cells' walk, checked against the handle: null past the end or for a
// cell whose sizes run out of it.
PictMenuItem* Cell(MenuHandle menu, int32 n) {
  if (n < 1 || n > (*menu)->itemCount) return nullptr;
  const int32 size = AZGetHandleSize(reinterpret_cast<UHandle>(menu));
  int32 at = CellsAt(menu);
  for (int32 i = 1;; ++i) {
    if (at + int32(sizeof(PictMenuItem)) > size) return nullptr;
    auto* cell = reinterpret_cast<PictMenuItem*>(Bytes(menu) + at);
    if (cell->varSize < 0 || at + int32(sizeof(PictMenuItem)) + cell->varSize > size) return nullptr;
    if (i == n) return cell;
    at += int32(sizeof(PictMenuItem)) + cell->varSize;
  }
}
ConstPStr CellName(const PictMenuItem* cell) { return reinterpret_cast<ConstPStr>(cell + 1); }
bool Shows(const PictMenuItem* cell) { return cell && (cell->image != 0 || CellName(cell)[0] != 0); }
bool SubmenuOpens(const PictMenuItem* cell) {
  return cell && cell->submenu && *cell->submenu && cell->enabled && !MGetBrowseOnly();
}

struct Layout {
  Rect area, nameStrip, box, grid;
  int32 step;
};

Layout LayoutOf(MenuHandle menu) {
  Layout l{};
  MPictMenuLayout(menu, &l.area, &l.nameStrip, &l.box, &l.grid);
  l.step = MPictCellSize(menu) + 3;
  return l;
}

Rect CellRect(MenuHandle menu, const Layout& l, int32 n) {
  const int32 c = Columns(menu), row = (n - 1) / c, col = (n - 1) % c;
  const int32 top = l.grid.top + row * l.step, left = l.grid.left + col * l.step;
  return Rect{int16(top), int16(left), int16(top + MPictCellSize(menu) + 4), int16(left + MPictCellSize(menu) + 4)};
}

// The cell showing something under the point, 0 for none.
int32 CellAt(MenuHandle menu, const Layout& l, Point at) {
  if (!DPtInRect(at, &l.grid)) return 0;
  const int32 row = (at.v - l.grid.top) / l.step, col = (at.h - l.grid.left) / l.step, c = Columns(menu);
  const int32 n = col < c ? row * c + col + 1 : 0;
  return Shows(Cell(menu, n)) ? n : 0;
}

// Grey cells (a submenu or mark 0x02) stand raised among the flat ones.
bool Grey(const PictMenuItem* cell) { return cell && (cell->submenu || (cell->mark & 0x02)); }

// A cell's inside: everything but the one-pixel lines it shares with its
// neighbours, so redrawing one cell leaves the lines as the whole palette
// drew them.
void DrawCell(MenuHandle menu, const Layout& l, int32 n, bool current) {
  PictMenuItem* cell = Cell(menu, n);
  if (!cell) return;
  const MenuColours& mc = gMenuColours;
  const Rect square = CellRect(menu, l, n);
  const int32 t = square.top, lft = square.left, b = square.bottom - 1, r = square.right - 1;
  const Rect inside{int16(t + 1), int16(lft + 1), int16(b), int16(r)};
  DSelectNormPen(Grey(cell) ? kPictGrey : mc.background, kWhiteColor);
  DPaintRect(&inside);
  if (cell->image == -1) {
    DBAssert(__FILE__, __LINE__, "palette cell image released");
  } else if (cell->image != 0) {
    DColor fore = cell->colours[0], back = cell->colours[1], bwFore = cell->colours[2], bwBack = cell->colours[3];
    if (fore == kPictMenuColour || back == kPictMenuColour)
      fore = mc.text, back = mc.background, bwFore = kBlackColor, bwBack = kWhiteColor;
    const Rect& into = DEmptyRect(&cell->rect) ? square : cell->rect;
    const Rect inner{int16(into.top + 2), int16(into.left + 2), int16(into.bottom - 2), int16(into.right - 2)};
    IDraw(cell->image, nullptr, DEmptyRect(&cell->rect) ? &inner : &into, fore, back, bwFore, bwBack);
  }
  DColor light, shadow;
  DGetHilites(kPictGrey, &light, &shadow);
  if (cell->mark & 0x01) {
    DSelectNormPen(shadow, kBlackColor);
    DMoveTo(lft + 1, b - 1), DLineTo(lft + 1, t + 1), DLineTo(r - 1, t + 1);
  }
  if (cell->submenu) {
    // A closed outline: the first corner again at the end.
    const Point tri[] = {{int16(b - 7), int16(r - 2)},
                         {int16(b - 2), int16(r - 2)},
                         {int16(b - 2), int16(r - 7)},
                         {int16(b - 7), int16(r - 2)}};
    DSelectNormPen(mc.text, kBlackColor);
    DPaintPoly(tri, 3, 0);
  }
  if (current) {
    DSelectNormPen(mc.selection, kBlackColor);
    DFrameRect(&inside);
  }
  if (!cell->enabled) DGrayOutRect(&inside, mc.background);
}

// The lines between the cells.  Neighbouring squares overlap by one pixel,
// so each line is shared: it is the light edge of the cell right of or
// below it when that cell is grey, else the shadow edge of the cell before
// it; flat cells are thus parted by shadow lines, and a grey cell is raised
// with its light edges over its neighbours' and its shadow edges where no
// grey cell follows.
void DrawCellLines(MenuHandle menu, const Layout& l) {
  DColor light, shadow;
  DGetHilites(kPictGrey, &light, &shadow);
  const int32 count = (*menu)->itemCount, c = Columns(menu);
  const auto grey = [&](int32 n) { return n >= 1 && n <= count && Grey(Cell(menu, n)); };
  const auto line = [&](int32 h0, int32 v0, int32 h1, int32 v1, bool lit) {
    DSelectNormPen(lit ? light : shadow, lit ? kWhiteColor : kBlackColor);
    DMoveTo(h0, v0), DLineTo(h1, v1);
  };
  for (int32 n = 1; n <= count; ++n) {
    const Rect sq = CellRect(menu, l, n);
    const int32 t = sq.top, lft = sq.left, b = sq.bottom - 1, r = sq.right - 1, col = (n - 1) % c;
    const bool self = grey(n), right = col + 1 < c && grey(n + 1), below = grey(n + c);
    line(lft, t, lft, b, self);
    line(lft, t, r, t, self);
    line(r, t, r, b, right);
    line(lft, b, r, b, below);
  }
}

void ShowName(MenuHandle menu, const Layout& l, int32 n) {
  DSelectNormPen(gMenuColours.background, kWhiteColor);
  DPaintRect(&l.nameStrip);
  const PictMenuItem* cell = Cell(menu, n);
  if (!cell) return;
  const Rect text{l.nameStrip.top, int16(l.box.right + 1), l.nameStrip.bottom, l.nameStrip.right};
  ConstPStr name = CellName(cell);
  TBox(&text, 0, name + 1, name[0], BoldFont(), gMenuColours.text, kTransparentColor, kBlackColor, kTransparentColor);
}

void Highlight(MenuHandle menu, int32 previous, int32 now) {
  if (previous == now) return;
  (*menu)->currentItem = now;
  const Layout l = LayoutOf(menu);
  if (previous > 0) DrawCell(menu, l, previous, false);
  if (now > 0) {
    DrawCell(menu, l, now, true);
    WEventRecord e{};
    e.code = kMenuItemHighlighted;
    e.window = kWRootWindow;
    e.where = (*menu)->menuId;
    e.globalWhere = now;
    WSendEvent(&e);
  }
}

void OpenSubmenu(MenuHandle menu, int32 n) {
  Rect r = CellRect(menu, LayoutOf(menu), n);
  const WindowRef w = (*menu)->window;
  if (WIsWindow(w)) r = MenuRectToGlobal(w, r);
  MOpenSubmenu(menu, &r, Cell(menu, n)->submenu, 0);
}

void CalcSize(MenuHandle menu) {
  const int32 c = Columns(menu), s = MPictCellSize(menu), count = (*menu)->itemCount;
  int32 names = 0;
  bool named = false;
  for (int32 n = 1; n <= count; ++n)
    if (const PictMenuItem* cell = Cell(menu, n); cell && CellName(cell)[0]) {
      named = true;
      names = std::max(names, TextWidth(CellName(cell), BoldFont()) + 12);
    }
  const int16 flag = named ? 1 : 0;
  std::memcpy(Bytes(menu) + HeaderAt(menu) + 2, &flag, 2);
  const int32 nameHeight = NameHeight(menu);
  const int32 width = std::max({c * (s + 3) + 12, names, TextWidth((*menu)->title, BoldFont()) + 39,
                                (*menu)->minWidth + 12});
  const int32 rows = (std::max(count, 1) + c - 1) / c;
  const int32 height = std::max(rows * (s + 3) + nameHeight + 13, nameHeight + 25);
  (*menu)->size = Rect{0, 0, int16(std::min(height, 32767)), int16(std::min(width, 32767))};
}

int32 MouseStep(MenuProcMsg* m, MenuHandle menu) {
  if (MGetBrowseOnly()) return 0;
  MenuPort port(menu);
  int32 n = MHitPictCell(menu, WordToPoint(m->a1), m->a3, m->a4);
  if (n > 0) {
    const PictMenuItem* cell = Cell(menu, n);
    m->a6 = cell->enabled ? 1 : 0;
    if (SubmenuOpens(cell)) {
      m->a5 = 1;
      const uInt32 now = MilliSecs();
      if (n != m->a3) {
        gNotedAt = now;
      } else if (now - gNotedAt > kSubmenuDelayMs) {
        OpenSubmenu(menu, n);
        n = kMenuStepSubmenu;
      }
    }
  }
  return m->a3 = n;
}

int32 KeyStep(MenuProcMsg* m, MenuHandle menu) {
  const int32 c = Columns(menu), count = (*menu)->itemCount;
  const int32 rows = (std::max(count, 1) + c - 1) / c;
  int32 key = int32(m->a6 & 0xFFFF);
  int32 n = m->a2 >= 1 && m->a2 <= count ? m->a2 : 0;
  if (key == 2) {
    const PictMenuItem* cell = Cell(menu, n);
    if (!cell) return m->a2 = 0;
    if (SubmenuOpens(cell)) {
      m->a5 = 1;
      MenuPort port(menu);
      OpenSubmenu(menu, n);
      return m->a2 = kMenuStepSubmenu;
    }
    if ((cell->enabled || MGetChooseDisabled()) && !MGetBrowseOnly()) m->a1 = (*menu)->menuId;
    return m->a2 = n;
  }
  if (key < 4 || key > 7) return m->a2 = n;
  // Without a current cell the step starts above the first row and moves
  // down.
  int32 row = n ? (n - 1) / c : -1, col = n ? (n - 1) % c : 0;
  if (!n) key = 5;
  const Layout l = LayoutOf(menu);
  int32 found = 0;
  for (int32 tries = 0; tries < rows * c && !found; ++tries) {
    if (key == 4) row = (row - 1 + rows) % rows;
    else if (key == 5) row = (row + 1) % rows;
    else if (key == 6) col = (col - 1 + c) % c;
    else col = (col + 1) % c;
    const int32 half = l.step / 2;
    const Point centre{int16(l.grid.top + row * l.step + half), int16(l.grid.left + col * l.step + half)};
    const int32 at = row * c + col + 1;
    if (at <= count && Shows(Cell(menu, at)) && DPtInRect(centre, &l.grid)) found = at;
  }
  if (found && !MGetBrowseOnly()) {
    MenuPort port(menu);
    Highlight(menu, n, found);
  }
  return m->a2 = found ? found : n;
}

void RemoveCell(MenuHandle menu, int32 n) {
  PictMenuItem* cell = Cell(menu, n);
  if (!cell) return;
  const int32 at = int32(reinterpret_cast<uChar*>(cell) - Bytes(menu));
  MRemoveBytes(menu, at, int32(sizeof(PictMenuItem)) + cell->varSize);
  --(*menu)->itemCount;
  if ((*menu)->currentItem >= n) (*menu)->currentItem = 0;
  MInvalMenuSize(menu);
}

}  // namespace

int32 MPictCellSize(MenuHandle menu) {
  if (!menu || !*menu) return 32;
  return (*menu)->pictWord > 32 && (*menu)->pictWord < 0x4000 ? int32((*menu)->pictWord) : 32;
}

void MPictMenuLayout(MenuHandle menu, Rect* area, Rect* nameStrip, Rect* box, Rect* grid) {
  if (!menu || !*menu) return;
  if (DEmptyRect(&(*menu)->size)) CalcSize(menu);
  const int32 nameHeight = NameHeight(menu);
  const Rect s = (*menu)->size;
  Rect a{int16(s.top + 4), int16(s.left + 4), int16(s.bottom - 8), int16(s.right - 8)};
  a.bottom = int16(std::max<int32>(a.bottom, a.top + nameHeight + 25));
  if (area) *area = a;
  if (nameStrip) *nameStrip = Rect{a.top, a.left, int16(a.top + nameHeight), a.right};
  if (box) *box = Rect{a.top, a.left, int16(a.top + 12), int16(a.left + 27)};
  if (grid) *grid = Rect{int16(a.top + nameHeight + 2), a.left, a.bottom, a.right};
}

int32 MHitPictCell(MenuHandle menu, Point where, int32 previous, Bool32 flag) {
  if (!menu || !*menu) return 0;
  int32 n = 0;
  if (!flag) {
    const Layout l = LayoutOf(menu);
    n = CellAt(menu, l, where);
  } else if ((*menu)->openChild) {
    for (int32 i = 1; i <= (*menu)->itemCount; ++i)
      if (const PictMenuItem* cell = Cell(menu, i); cell && cell->submenu == (*menu)->openChild) {
        n = i;
        break;
      }
  }
  // What is drawn highlighted is the current cell, whatever the caller's
  // previous answer was (it may be a step code).
  (void)previous;
  Highlight(menu, (*menu)->currentItem, n);
  return n;
}

PictMenuItem* MGetPictCellPtr(MenuHandle menu, int32 n) {
  PictMenuItem* cell = menu && *menu ? Cell(menu, n) : nullptr;
  if (!cell) DBAssert(__FILE__, __LINE__, "palette cell number out of range");
  return cell;
}

Bool32 MRemoveBytes(MenuHandle menu, int32 offset, int32 count) {
  UHandle h = reinterpret_cast<UHandle>(menu);
  const int32 size = menu && *menu ? AZGetHandleSize(h) : 0;
  if (!menu || !*menu || offset < 0 || count < 0 || offset > size || count > size - offset) {
    DBAssert(__FILE__, __LINE__, "byte range outside the menu");
    return 0;
  }
  std::memmove(*h + offset, *h + offset + count, size_t(size - offset - count));
  AZSetHandleSize(h, size - count);
  return 1;
}

MgErr MNewPictMenu(MenuHandle* menu, ConstPStr title, int32 menuId, int16 columns) {
  if (MgErr err = MNewCustomMenu(menu, title, menuId, &PictMenuProc, 0)) return err;
  UHandle h = reinterpret_cast<UHandle>(*menu);
  const int32 size = HeaderAt(*menu);
  if (MgErr err = AZSetHandleSize(h, size + kPictMenuHeader)) {
    MDisposeMenu(*menu);
    *menu = nullptr;
    return err;
  }
  const int32 area = MenuItemArea((**menu)->title);
  std::memset(*h + area, 0, size_t(size - area));
  const int16 words[2] = {columns, 0};
  std::memcpy(*h + size, words, sizeof words);
  return kNoErr;
}

MgErr MAppendPictMenuItem(MenuHandle menu, ConstPStr name, int32 image, const DColor* colours, const Rect* rect,
                          int32 mark, const void* data, int32 dataSize, uInt32 itemKey) {
  if (!menu || !*menu) {
    DBAssert(__FILE__, __LINE__, "no menu");
    return kArgErr;
  }
  if ((*menu)->proc != &PictMenuProc) return kArgErr;
  const int32 nameBytes = Pad4((name ? name[0] : 0) + 1), dataBytes = Pad4(data ? std::max(dataSize, 0) : 0);
  UHandle h = reinterpret_cast<UHandle>(menu);
  const int32 size = AZGetHandleSize(h);
  const int32 cellBytes = int32(sizeof(PictMenuItem)) + nameBytes + dataBytes;
  if (nameBytes + dataBytes > 0x7FFF) return kArgErr;
  if (MgErr err = AZSetHandleSize(h, size + cellBytes)) return err;
  PictMenuItem cell{};
  cell.image = image;
  cell.itemKey = itemKey;
  cell.varSize = int16(nameBytes + dataBytes);
  cell.enabled = 1;
  cell.mark = uChar(mark);
  const DColor defaults[4] = {kPictMenuColour, kPictMenuColour, kBlackColor, kWhiteColor};
  std::memcpy(cell.colours, colours ? colours : defaults, sizeof cell.colours);
  if (rect) cell.rect = *rect;
  uChar* at = *h + size;
  std::memset(at, 0, size_t(cellBytes));
  std::memcpy(at, &cell, sizeof cell);
  if (name) std::memcpy(at + sizeof cell, name, size_t(name[0]) + 1);
  if (data && dataSize > 0) std::memcpy(at + sizeof cell + nameBytes, data, size_t(dataSize));
  ++(*menu)->itemCount;
  MInvalMenuSize(menu);
  return kNoErr;
}

int32 MReleasePictImages(MenuHandle menu) {
  if (!menu || !*menu || (*menu)->proc != &PictMenuProc || (*menu)->window != kWNoWindow) return 0;
  int32 released = 0;
  for (int32 n = 1; n <= (*menu)->itemCount; ++n) {
    PictMenuItem* cell = Cell(menu, n);
    if (!cell || cell->image == 0 || cell->image == -1) continue;
    const int32 image = cell->image;
    cell->image = -1;
    IRelease(image);
    released += 128;
  }
  return released;
}

int32 MMaxPictMenuItems(WindowRef window, int32 columns, int32 cellSize) {
  Rect global{}, screen{};
  if (WIsWindow(window)) WGetGlobalRect(window, &global);
  WGetScreenRect(Point{global.top, global.left}, &screen);
  const int32 fits = (RectHeight(&screen) - BoldLineHeight() - 13) / (std::max(cellSize, 32) + 3);
  return std::max(fits, 0) * columns;
}

int32 PictMenuProc(MenuProcMsg* m, MenuHandle menu) {
  if (!m || !menu || !*menu || AZGetHandleSize(reinterpret_cast<UHandle>(menu)) < CellsAt(menu)) return 0;
  if (m->code != kMenuMouseMoved) gShownName = 0;
  const WindowRef saved = (*menu)->window;
  (*menu)->window = m->window;
  int32 result = 1;
  PictMenuItem* cell = nullptr;
  switch (m->code) {
    case kMenuItemRect:
      if (Cell(menu, m->a1)) {
        const Rect r = CellRect(menu, LayoutOf(menu), m->a1);
        std::memcpy(&m->a2, &r, sizeof r);
      }
      break;
    case kMenuSetItemKey:
      if ((cell = Cell(menu, m->a2))) cell->itemKey = uInt32(m->a3);
      break;
    case kMenuPlacement:
      m->a6 = (m->a6 & 0xFFFF) | (20u << 16);
      m->offset2 = 0;
      break;
    case kMenuGetItem:
      if ((cell = Cell(menu, m->a1))) {
        if (uChar* text = Address(m->a2)) std::memcpy(text, CellName(cell), size_t(CellName(cell)[0]) + 1);
        if (uChar* buffer = Address(m->a4)) {
          const int32 data = cell->varSize - Pad4(CellName(cell)[0] + 1);
          const int32 n = std::clamp(data, 0, std::max(m->a3, 0));
          std::memcpy(buffer, reinterpret_cast<uChar*>(cell + 1) + Pad4(CellName(cell)[0] + 1), size_t(n));
          m->a3 = n;
        }
        if (auto* info = reinterpret_cast<MenuItemInfo*>(Address(int32(m->a6)))) {
          *info = MenuItemInfo{};
          info->enabled = cell->enabled;
          info->mark = cell->mark;
          info->submenu = cell->submenu;
          info->itemKey = cell->itemKey;
        }
        m->a5 = cell->image;
      }
      break;
    case kMenuDeleteItem:
      RemoveCell(menu, m->a2);
      break;
    case kMenuCheckItem:
      if ((cell = Cell(menu, m->a2))) cell->mark = uChar(m->a4 & 0xFF);
      break;
    case kMenuEnableItem:
    case kMenuDisableItem:
      if ((cell = Cell(menu, m->a2))) cell->enabled = m->code == kMenuEnableItem;
      break;
    case kMenuCalcSize:
      CalcSize(menu);
      break;
    case kMenuDeleteAll:
      AZSetHandleSize(reinterpret_cast<UHandle>(menu), CellsAt(menu));
      (*menu)->itemCount = 0;
      (*menu)->currentItem = 0;
      MInvalMenuSize(menu);
      break;
    case kMenuMouseUp:
      if ((*menu)->currentItem > 0) {
        MenuPort port(menu);
        DrawCell(menu, LayoutOf(menu), (*menu)->currentItem, true);
      }
      break;
    case kMenuMouseMoved:
      if (NamesFlag(menu)) {
        MenuPort port(menu);
        const Layout l = LayoutOf(menu);
        const Point at = WordToPoint(m->a1);
        const int32 n = CellAt(menu, l, at);
        if (n != gShownName) ShowName(menu, l, gShownName = n);
      }
      break;
    case kMenuDraw: {
      MenuPort port(menu);
      const Layout l = LayoutOf(menu);
      DSelectNormPen(gMenuColours.background, kWhiteColor);
      DPaintRect(&(*menu)->size);
      DrawBevelFrame(&(*menu)->size, 64);
      for (int32 n = 1; n <= (*menu)->itemCount; ++n) DrawCell(menu, l, n, n == (*menu)->currentItem);
      DrawCellLines(menu, l);
      break;
    }
    case kMenuCloseRequest:
      if (WIsWindow(m->window)) {
        WHide(m->window);
        WDestroy(m->window);
      }
      break;
    case kMenuHitCell: {
      result = CellAt(menu, LayoutOf(menu), WordToPoint(m->a1));
      break;
    }
    case kMenuKeyStep:
      result = KeyStep(m, menu);
      break;
    case kMenuMouseStep:
      result = MouseStep(m, menu);
      break;
    default:
      result = 0;
      break;
  }
  if (*menu) (*menu)->window = saved;
  return result;
}
