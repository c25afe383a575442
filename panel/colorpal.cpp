#include "panel/colorpal.h"

#include <algorithm>
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/extsupport.h"
#include "mgsource/fourcc.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/sorting.h"
#include "mgsource/walert.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "panel/ctrldisplay.h"
#include "panel/operate_internal.h"
#include "panel/transact.h"

namespace {

constexpr int32 kCloseRequest = 15;
constexpr int32 kSwatch = 12;    // the swatches are squares of this side
constexpr int32 kAbovePoint = 30;  // the palette opens this far from the point
constexpr int32 kChoiceBits = kPalBoth;

ColorPaletteRecord* gPal = nullptr;
MenuHandle gPalMenu = nullptr;
ColorDialogProc gDialog = nullptr;
bool gColourDisplay = true;

// The object the palette recolours while it is open over one.
struct ObjectTrack {
  ObjHeap heap;
  int32 object;
  ActionParams* record;
  void* frame;
} gTrack{};

struct Table {
  int32 columns = 0, count = 0;
  const DColor* colours = nullptr;
};

// A table's header, checked against the handle's size when it was loaded.
Table TableOf(UHandle h) {
  Table t;
  if (!h || !*h) return t;
  std::memcpy(&t.columns, *h, 4);
  std::memcpy(&t.count, *h + 4, 4);
  t.colours = reinterpret_cast<const DColor*>(*h + 8);
  return t;
}

int32 RowsOf(const Table& t) { return t.columns > 0 ? (t.count + t.columns - 1) / t.columns : 0; }
int32 FreeCells(const Table& t) { return RowsOf(t) * t.columns - t.count; }

Table CurrentTable(const ColorPaletteRecord* pal) {
  return pal && pal->table >= 0 ? TableOf(pal->tables[pal->table]) : Table{};
}

int32 RecentCount(const ColorPaletteRecord* pal) { return pal->recentNewest + 1; }
DColor* RecentWords(const ColorPaletteRecord* pal) {
  return pal->recent && *pal->recent ? reinterpret_cast<DColor*>(*pal->recent) : nullptr;
}
// The recent colours shown: the newest ones that fit the free cells.
int32 RecentShown(const ColorPaletteRecord* pal) {
  return std::min(RecentCount(pal), std::max(FreeCells(CurrentTable(pal)), 0));
}
int32 CellCount(const ColorPaletteRecord* pal) { return CurrentTable(pal).count + RecentShown(pal); }

// The depth taken as 1, 4 or 8, and the table it uses.
int32 NormalDepth(int32 depth) { return depth >= 8 ? 8 : depth == 4 ? 4 : 1; }
int32 TableForDepth(const ColorPaletteRecord* pal, int32 depth) {
  if (!gColourDisplay) return 0;
  switch (depth) {
    case 1: return 0;
    case 4: return (pal->flags & kPalUndithered) ? 3 : 1;
    case 8: return 2;
    default:
      DBPrintf("Depth %ld", long(depth));
      DBAssert(__FILE__, __LINE__, "palette depth");
      return 0;
  }
}

bool IsTransparentCell(const ColorPaletteRecord* pal, int32 cell) {
  const Table t = CurrentTable(pal);
  return cell >= 1 && cell <= t.count && t.colours[cell - 1] == kTransparentColor;
}
bool Selectable(const ColorPaletteRecord* pal, int32 cell) {
  if (cell < 1 || cell > CellCount(pal)) return false;
  return !((pal->flags & kPalSkipTransparent) && IsTransparentCell(pal, cell));
}

void CaptionText(int32 entry, PStr out) {
  out[0] = 0;
  if (RGetIndString(RunTimeRsrcFile(), out, kColorMenuListId, entry) != kNoErr) out[0] = 0;
}
// The shown text (mnemonic marks taken out) and its width in the font.
int32 CaptionWidth(int32 entry, int32 font, PStr shown) {
  Str255 raw;
  CaptionText(entry, raw);
  MParseItemText(raw, shown);
  Point size{0, 0};
  TTextSize(shown + 1, shown[0], font, &size);
  return size.h;
}

int32 LineHeight(MenuHandle menu) {
  const int32 h = (*menu)->lineHeight;
  return h > 0 ? h : std::max(gMenuMetrics.menuLineHeight, 12);
}

// The grid and captions for the record's depth: the menu's size, the cell
// width, where the grid, "More..." and the swatches lie.
void Layout(ColorPaletteRecord* pal, MenuHandle menu) {
  pal->table = TableForDepth(pal, NormalDepth(pal->depth));
  if (!pal->tables[pal->table]) {
    DBPrintf("Palette doesn't exist");
    pal->table = -1;
  }
  const Table t = CurrentTable(pal);
  const int32 columns = std::max(t.columns, 1), rows = RowsOf(t);
  const uInt32 f = pal->flags;
  const int32 font = (*menu)->font, line = LineHeight(menu);
  Str255 shown;
  // The caption items, each with 10 pixels around it.
  int32 widths[3] = {0, 0, 0};  // foreground (or single), background, "More..."
  if (!(f & kPalNoMore)) widths[2] = CaptionWidth(kPalCapMore, font, shown) + 8 + 10;
  if (!(f & kPalNoCaptions)) {
    if (f & kPalSingle) {
      widths[0] = CaptionWidth(kPalCapColour, font, shown) + kSwatch + 10;
    } else if (f & (kPalBoth | kPalSwitchKeys)) {
      widths[0] = CaptionWidth(kPalCapForeground, font, shown) + kSwatch + 10;
      widths[1] = CaptionWidth(kPalCapBackground, font, shown) + kSwatch + 10;
    }
  }
  int32 captionWidth = widths[0] + widths[1] + widths[2];
  if ((f & kPalSwitchKeys) && !(f & kPalNoCaptions))
    captionWidth = std::max(captionWidth, 20 + CaptionWidth(kPalCapAll, font, shown) +
                                              CaptionWidth(kPalCapToggle, font, shown));
  int32 cellWidth = kPalCell;
  if (captionWidth > columns * kPalCell + 5) {
    const int32 wide = ((captionWidth + 4 + columns - 1) / columns) * columns;
    cellWidth = wide / columns;
  }
  const int32 captionHeight = (f & kPalNoCaptions) && (f & kPalNoMore) ? 1
                              : (f & kPalSwitchKeys)                      ? 2 * line + 12
                                                                          : line + 11;
  pal->cellWidth = cellWidth;
  pal->grid = Rect{2, 2, int16(2 + rows * kPalCell), int16(2 + columns * cellWidth)};
  const int32 width = columns * cellWidth + 5, height = rows * kPalCell + 4 + captionHeight;
  (*menu)->size = Rect{0, 0, int16(height), int16(width)};
  // The captions: swatches from the left, "More..." at the right.
  const int32 top = pal->grid.bottom + 4;
  pal->swatch[0] = pal->swatch[1] = pal->more = Rect{0, 0, 0, 0};
  int32 h = 2;
  for (int32 k = 0; k < 2; ++k) {
    if (!widths[k]) continue;
    const int32 right = h + widths[k] - 5;
    pal->swatch[k] = Rect{int16(top), int16(right - kSwatch), int16(top + kSwatch), int16(right)};
    h += widths[k];
  }
  if (widths[2]) pal->more = Rect{int16(top), int16(width - widths[2] + 2), int16(top + line), int16(width - 3)};
  if (f & kPalSingle) pal->swatch[1] = Rect{0, 0, 0, 0};
}

// Draws the cells at the grid's place (origin: the grid's top left).
void DrawCells(ColorPaletteRecord* pal, Point origin) {
  const Table t = CurrentTable(pal);
  const int32 total = CellCount(pal);
  const DColor* recent = RecentWords(pal);
  // The free cells show the menu's background.
  Rect all{origin.v, origin.h, int16(origin.v + RowsOf(t) * kPalCell), int16(origin.h + t.columns * pal->cellWidth)};
  DSelectNormPen(gMenuColours.background, kWhiteColor);
  DPaintRect(&all);
  for (int32 cell = 1; cell <= total; ++cell) {
    const int32 row = (cell - 1) / t.columns, col = (cell - 1) % t.columns;
    Rect r{int16(origin.v + row * kPalCell), int16(origin.h + col * pal->cellWidth),
           int16(origin.v + (row + 1) * kPalCell), int16(origin.h + (col + 1) * pal->cellWidth)};
    const DColor c = cell <= t.count ? t.colours[cell - 1]
                                     : recent[pal->recentFirst + (cell - t.count - 1)];
    DSelectNormPen(kBlackColor, kBlackColor);
    DFrameRect(&r);
    DInsetRect(&r, 1, 1);
    if (c == kTransparentColor) {
      DSelectNormPen(kWhiteColor, kWhiteColor);
      DPaintRect(&r);
      DSelectNormPen(kBlackColor, kBlackColor);
      DrawTransparentMark(&r, int32((pal->flags & kPalSkipTransparent) != 0));
    } else {
      DSelectNormPen(c, c == kBlackColor ? kBlackColor : kWhiteColor);
      DPaintRect(&r);
    }
  }
}

void ReleaseCache(ColorPaletteRecord* pal) {
  if (pal->cache) IRelease(pal->cache);
  pal->cache = 0;
}

// The cells from the cached pixmap, made again when the table, the cell
// width or the depth changed; drawn directly when none can be made.
void DrawGrid(ColorPaletteRecord* pal, bool useCache) {
  const Table t = CurrentTable(pal);
  if (t.columns <= 0) return;
  pal->recentFirst = int16(RecentCount(pal) - RecentShown(pal));
  const int32 key[3] = {pal->table, pal->cellWidth, NormalDepth(pal->depth)};
  if (useCache && pal->cache && std::memcmp(key, pal->cacheKey, sizeof key) != 0) ReleaseCache(pal);
  if (useCache && !pal->cache) {
    const Rect bounds{0, 0, int16(pal->grid.bottom - pal->grid.top), int16(pal->grid.right - pal->grid.left)};
    int32 image = 0;
    // At the display's depth: the cells keep the colours they are drawn in.
    const MgErr err = ICreatePixmap(0, &bounds, 0, &image);
    if (err != kNoErr || !image) {
      DBPrintf("Error in creating %ld", long(err ? err : 2));
    } else {
      ImageSaveRecord save{};
      IOpen(image, &save);
      DrawCells(pal, Point{0, 0});
      IClose(image, &save);
      pal->cache = image;
      std::memcpy(pal->cacheKey, key, sizeof key);
    }
  }
  if (useCache && pal->cache) {
    IDraw(pal->cache, nullptr, &pal->grid, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  } else {
    DrawCells(pal, Point{pal->grid.top, pal->grid.left});
  }
}

Rect CellRect(const ColorPaletteRecord* pal, int32 cell) {
  const Table t = CurrentTable(pal);
  const int32 row = (cell - 1) / t.columns, col = (cell - 1) % t.columns;
  return Rect{int16(pal->grid.top + row * kPalCell), int16(pal->grid.left + col * pal->cellWidth),
              int16(pal->grid.top + (row + 1) * kPalCell), int16(pal->grid.left + (col + 1) * pal->cellWidth)};
}

// The frame of the current cell (or its removal), and the swatches.
void DrawSelection(ColorPaletteRecord* pal, int32 previous, int32 cell) {
  if (previous >= 1 && previous <= CellCount(pal)) {
    Rect r = CellRect(pal, previous);
    DSelectNormPen(kBlackColor, kBlackColor);
    DFrameRect(&r);
  }
  if (cell >= 1 && cell <= CellCount(pal)) {
    Rect r = CellRect(pal, cell);
    DSelectNormPen(kWhiteColor, kWhiteColor);
    DFrameRect(&r);
  }
  for (int32 k = 0; k < 2; ++k) {
    Rect r = pal->swatch[k];
    if (DEmptyRect(&r)) continue;
    // Framed twice; the one being chosen gets a frame outside.
    DSelectNormPen(kBlackColor, kBlackColor);
    DFrameRect(&r);
    DInsetRect(&r, 1, 1);
    DSelectNormPen(kWhiteColor, kWhiteColor);
    DFrameRect(&r);
    DInsetRect(&r, 1, 1);
    const DColor c = pal->current[k];
    if (c == kTransparentColor) {
      DPaintRect(&r);
      DSelectNormPen(kBlackColor, kBlackColor);
      DrawTransparentMark(&r, 0);
    } else {
      DSelectNormPen(c, kBlackColor);
      DPaintRect(&r);
    }
    Rect outer = pal->swatch[k];
    DInsetRect(&outer, -2, -2);
    const bool chosen = (pal->flags & (k == 0 ? kPalForeground : kPalBackground)) != 0;
    DSelectNormPen(chosen ? kBlackColor : gMenuColours.background, chosen ? kBlackColor : kWhiteColor);
    DFrameRect(&outer);
  }
}

void DrawCaptions(ColorPaletteRecord* pal, MenuHandle menu) {
  const int32 font = (*menu)->font, line = LineHeight(menu);
  Str255 shown;
  const auto text = [&](int32 entry, int32 left, int32 top, int32 right) {
    CaptionWidth(entry, font, shown);
    const Rect r{int16(top), int16(left), int16(top + line), int16(right)};
    TBox(&r, 0, shown + 1, shown[0], font, gMenuColours.text, kTransparentColor, kBlackColor, kTransparentColor);
  };
  const uInt32 f = pal->flags;
  if (!DEmptyRect(&pal->swatch[0]))
    text((f & kPalSingle) ? kPalCapColour : kPalCapForeground, 5, pal->swatch[0].top, pal->swatch[0].left - 2);
  if (!DEmptyRect(&pal->swatch[1]))
    text(kPalCapBackground, pal->swatch[0].right + 5, pal->swatch[1].top, pal->swatch[1].left - 2);
  if (!DEmptyRect(&pal->more)) text(kPalCapMore, pal->more.left + 4, pal->more.top, pal->more.right);
  if ((f & kPalSwitchKeys) && !(f & kPalNoCaptions)) {
    const int32 top = pal->grid.bottom + 4 + line + 4;
    const int32 all = CaptionWidth(kPalCapAll, font, shown);
    text(kPalCapAll, 5, top, 5 + all);
    text(kPalCapToggle, 5 + all + 15, top, (*menu)->size.right - 3);
  }
}

void DrawPalette(ColorPaletteRecord* pal, MenuHandle menu) {
  Rect r = (*menu)->size;
  DSelectNormPen(gMenuColours.background, kWhiteColor);
  DPaintRect(&r);
  DrawBevelFrame(&r, kBevelRaised);
  if (pal->table < 0) return;
  DrawGrid(pal, true);
  DrawCaptions(pal, menu);
  DrawSelection(pal, 0, (*menu)->currentItem);
}

// The current colours follow the cell (or go back to those shown at
// opening); the tracking procedure sees every change.
void FollowCell(ColorPaletteRecord* pal, MenuHandle menu, int32 previous, int32 cell) {
  const bool onCell = Selectable(pal, cell);
  const DColor c = onCell ? PaletteCellColor(pal, cell) : 0;
  for (int32 k = 0; k < 2; ++k) {
    const bool chosen = (pal->flags & (k == 0 ? kPalForeground : kPalBackground)) != 0;
    pal->current[k] = onCell && chosen ? c : pal->shown[k];
  }
  (*menu)->currentItem = cell;
  {
    MenuPort port(menu);
    if (WIsWindow((*menu)->window)) DrawSelection(pal, previous, cell);
  }
  if (pal->proc) pal->proc(pal->current[0], pal->current[1], int32(pal->flags & ~kPalFinal), pal->argument);
}

// The key's next cell from cell: rows up and down, cells left and right
// wrapping inside the row; transparent cells skipped when asked.
int32 KeyCell(const ColorPaletteRecord* pal, int32 cell, int32 key) {
  const Table t = CurrentTable(pal);
  const int32 total = CellCount(pal), columns = t.columns;
  if (total <= 0 || columns <= 0) return cell;
  // From "More..." any arrow goes to the last cell, from no cell to the first.
  if (cell == kPalMoreItem) return total;
  if (cell < 1 || cell > total) {
    for (int32 first = 1; first <= total; ++first)
      if (Selectable(pal, first)) return first;
    return cell;
  }
  int32 next = cell;
  for (int32 tries = 0; tries < total; ++tries) {
    const int32 row = (next - 1) / columns, rowFirst = row * columns + 1;
    const int32 rowLast = std::min(rowFirst + columns - 1, total);
    switch (key) {
      case vkUp: next = next - columns >= 1 ? next - columns : cell; break;
      case vkDown: next = next + columns <= total ? next + columns : cell; break;
      case vkLeft: next = next > rowFirst ? next - 1 : rowLast; break;
      default:
        if (next < rowLast) {
          ++next;
        } else if (next == total && !(pal->flags & kPalNoMore)) {
          return kPalMoreItem;
        } else {
          next = rowFirst;
        }
        break;
    }
    if (next == cell || Selectable(pal, next)) return next;
  }
  return cell;
}

int32 MnemonicOf(int32 entry) {
  Str255 raw, shown;
  CaptionText(entry, raw);
  const int32 at = MParseItemText(raw, shown);
  return at >= 1 && at <= shown[0] ? int32(uChar(ToUpper(shown[at]))) : -1;
}

int32 KeyStep(ColorPaletteRecord* pal, MenuProcMsg* m, MenuHandle menu) {
  const int32 key = int32(int16(m->a6 & 0xFFFF)), previous = (*menu)->currentItem;
  switch (key) {
    case vkUp: case vkDown: case vkLeft: case vkRight: {
      const int32 cell = KeyCell(pal, previous, key);
      if (cell != previous) FollowCell(pal, menu, previous, cell);
      return cell;
    }
    case vkEnter:
      m->a1 = (*menu)->menuId;
      return previous ? previous : kPalNoColour;
    case vkAscii:
      if (m->a5 == 27) {
        // Escape: the colours go back to those shown at opening.
        FollowCell(pal, menu, previous, 0);
        return m->a2 = kMenuStepClose;
      }
      if (pal->flags & kPalSwitchKeys) {
        const int32 c = int32(uChar(ToUpper(uChar(m->a5))));
        uInt32 choice = 0;
        if (c == MnemonicOf(kPalCapAll)) choice = kPalBoth;
        else if (c == MnemonicOf(kPalCapForeground)) choice = kPalForeground;
        else if (c == MnemonicOf(kPalCapBackground)) choice = kPalBackground;
        else choice = (pal->flags & kChoiceBits) == kPalForeground ? kPalBackground : kPalForeground;
        pal->flags = (pal->flags & ~kChoiceBits) | choice;
        FollowCell(pal, menu, previous, previous);
      }
      return previous;
    default:
      return previous;
  }
}

int32 PaletteProc(MenuProcMsg* m, MenuHandle menu) {
  if (!m || !menu || !*menu || !(*menu)->procData) return 0;
  auto* pal = reinterpret_cast<ColorPaletteRecord*>(uintptr_t((*menu)->procData));
  switch (m->code) {
    case kMenuCalcSize:
      Layout(pal, menu);
      return 0;
    case kMenuDraw: {
      MenuPort port(menu);
      DrawPalette(pal, menu);
      return 0;
    }
    case kMenuHitCell:
      return PaletteHitTest(pal, WordToPoint(m->a1));
    case kMenuMouseStep: {
      const int32 previous = (*menu)->currentItem;
      const int32 cell = PaletteHitTest(pal, WordToPoint(m->a1));
      if (cell != previous) FollowCell(pal, menu, previous, cell);
      m->a3 = cell;
      return cell;
    }
    case kMenuKeyStep:
      return KeyStep(pal, m, menu);
    case kMenuGetItem:
      // Cells, "no colour" and "More..." can be chosen.
      if (m->a6 && (m->a1 == kPalNoColour || (m->a1 == kPalMoreItem && !DEmptyRect(&pal->more)) ||
                    (m->a1 >= 1 && m->a1 <= CellCount(pal))))
        reinterpret_cast<MenuItemInfo*>(uintptr_t(m->a6))->enabled = 1;
      return 0;
    case kCloseRequest:
      ReleaseCache(pal);
      if (WIsWindow(m->window)) {
        WHide(m->window);
        WDestroy(m->window);
      }
      return 0;
    default:
      return 0;
  }
}

// A "CLR#" resource, detached and in native order: null (reported) when it
// is missing or its counts do not fit its bytes.
UHandle LoadTable(int32 id) {
  UHandle h = nullptr;
  if (RGet(RunTimeRsrcFile(), FourCC("CLR#"), id, &h) != kNoErr || !h) {
    DBMgErr(__FILE__, __LINE__, kRsrcNotFoundErr, "colour table");
    return nullptr;
  }
  RDetach(h);
  RevBLHandle(h);
  const int32 size = AZGetHandleSize(h);
  int32 columns = 0, count = 0;
  if (size >= 8) {
    std::memcpy(&columns, *h, 4);
    std::memcpy(&count, *h + 4, 4);
  }
  if (size < 8 || columns <= 0 || count < 0 || count > (size - 8) / 4) {
    DBMgErr(__FILE__, __LINE__, kRsrcNotFoundErr, "colour table");
    AZDisposeHandle(h);
    return nullptr;
  }
  return h;
}

int32 gLastReply = 0;

// Recolours the object under the palette: the chosen colours and the flags
// go in its record and action 6 is sent inside its window's port; the
// dialog filter hears of it.  A final call not from the dialog is left to
// the caller, which sends the final change itself.
void ObjectTrackProc(int32 foreground, int32 background, int32 flags, int32) {
  gLastReply = 0;
  const ObjectTrack t = gTrack;
  if (!t.heap || !*t.heap || !t.record) return;
  if ((flags & kPalFinal) && !(flags & kPalDialog)) return;
  int32* w = reinterpret_cast<int32*>(t.record);
  if (flags & kPalForeground) w[4] = foreground;
  if (flags & kPalBackground) w[5] = background;
  w[3] = flags;
  const WindowRef window = WindowRef(opmeth::ExtWord(t.heap, kHeapExtWindow));
  WPortState saved{};
  if (WIsWindow(window)) WSetup(window, &saved);
  if (t.object) gLastReply = OSendMessage<int32>(kMsgODoit, t.heap, t.object, t.frame, kActColour, t.record);
  if (WIsWindow(window)) {
    WUpdate(window);
    WRestore(&saved);
  }
  if (t.object) DlgSendItemChange(t.heap, t.object, gLastReply, kActColour, t.record);
}

int32 ObjectProc(int32 foreground, int32 background, int32 flags, int32 argument) {
  ObjectTrackProc(foreground, background, flags, argument);
  return gLastReply;
}

// The last object of a path on the transaction stack.
int32 PathObject(const void* frame) {
  const auto* f = static_cast<const TransactionFrame*>(frame);
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  if (!f || !block) return 0;
  const auto* end = block + kTransactionStackBytes / int32(sizeof *f);
  if (f < block || f >= end) return 0;
  int32 object = 0;
  for (; f < end && f->kind != 0; ++f) object = f->object;
  return object;
}

}  // namespace

ColorPaletteRecord* ColorPalette() { return gPal; }
MenuHandle ColorPaletteMenu() { return gPalMenu; }
void SetColorDialogProc(ColorDialogProc proc) { gDialog = proc; }
void SetPaletteColourDisplay(Bool32 on) { gColourDisplay = on != 0; }
int32 ColorPaletteMenuProc(MenuProcMsg* msg, MenuHandle menu) { return PaletteProc(msg, menu); }

int32 PaletteRows(UHandle table) {
  if (!table || !*table || AZGetHandleSize(table) < 8) return 0;
  return RowsOf(TableOf(table));
}

DColor PaletteCellColor(ColorPaletteRecord* pal, int32 cell) {
  if (!pal) return kTransparentColor;
  const Table t = CurrentTable(pal);
  DColor c = kTransparentColor;
  if (cell >= 1 && cell <= t.count) {
    c = t.colours[cell - 1];
  } else if (cell > t.count && cell <= CellCount(pal)) {
    const int32 first = RecentCount(pal) - RecentShown(pal);
    c = RecentWords(pal)[first + (cell - t.count - 1)];
  }
  if ((pal->flags & kPalUndithered) && c != kTransparentColor) {
    const int32 depth = NormalDepth(pal->depth);
    c = MIndexToDColor(DColorToMIndex(c, depth), depth);
  }
  return c;
}

int32 PaletteHitTest(const ColorPaletteRecord* pal, Point where) {
  if (!pal || pal->table < 0) return 0;
  const Table t = CurrentTable(pal);
  const Rect& g = pal->grid;
  if (where.h >= g.left && where.h < g.right && where.v >= g.top && where.v < g.bottom) {
    const int32 col = std::clamp((where.h - g.left) / std::max(pal->cellWidth, 1), 0, t.columns - 1);
    const int32 row = std::clamp((where.v - g.top) / kPalCell, 0, RowsOf(t) - 1);
    const int32 cell = t.columns * row + col + 1;
    return Selectable(pal, cell) ? cell : kPalNoColour;
  }
  if (!DEmptyRect(&pal->more) && where.h >= pal->more.left && where.h < pal->more.right &&
      where.v >= pal->more.top && where.v < pal->more.bottom)
    return kPalMoreItem;
  if (pal == gPal && gPalMenu && *gPalMenu) {
    const Rect size = (*gPalMenu)->size;
    if (where.h >= size.left && where.h < size.right && where.v >= g.bottom && where.v < size.bottom)
      return kPalNoColour;
  }
  return 0;
}

namespace {

void DisposeRecord(ColorPaletteRecord* pal) {
  if (!pal) return;
  ReleaseCache(pal);
  for (UHandle h : pal->tables)
    if (h) AZDisposeHandle(h);
  if (pal->recent) AZDisposeHandle(pal->recent);
  delete pal;
}

}  // namespace

MgErr InitColorPalette(int32 menuId, ConstPStr title, const int32* layout, uInt32 flags, MenuHandle* menu) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  auto* pal = new (std::nothrow) ColorPaletteRecord{};
  if (!pal) return kMemFullErr;
  for (int32 k = 0; k < 4; ++k) pal->tables[k] = LoadTable(kPalTableIds[k]);
  if (layout) std::memcpy(pal->layout, layout, sizeof pal->layout);
  pal->flags = flags;
  pal->recentNewest = -1;
  pal->table = -1;
  // The recent list fills the free cells of the 4-bit grid's last row, or
  // of the 8-bit one's when colour is shown and that is larger.
  int32 capacity = pal->tables[1] ? FreeCells(TableOf(pal->tables[1])) : 0;
  if (gColourDisplay && pal->tables[2]) capacity = std::max(capacity, FreeCells(TableOf(pal->tables[2])));
  pal->recentCapacity = int16(std::max(capacity, 0));
  if (pal->recentCapacity > 0 && !(pal->recent = AZNewHClr(pal->recentCapacity * 4))) {
    DisposeRecord(pal);
    return kMemFullErr;
  }
  static const uChar kDefaultTitle[] = "\x06" "Colors";
  const MgErr err = MNewCustomMenu(menu, title ? title : kDefaultTitle, menuId, &ColorPaletteMenuProc,
                                   uInt32(uintptr_t(pal)));
  if (err != kNoErr) {
    DisposeRecord(pal);
    *menu = nullptr;
    return err;
  }
  // The menu manager chooses "More..." by its item code.
  (**(*menu)).currentItem = 0;
  (**(*menu)).itemCount = kPalMoreItem;
  // One palette: a new one replaces the record of the one before, whose
  // menu is gone.
  DisposeRecord(gPal);
  gPal = pal;
  gPalMenu = *menu;
  return kNoErr;
}

void DisposeColorPalette() {
  DisposeRecord(gPal);
  gPal = nullptr;
  gPalMenu = nullptr;
  gTrack = ObjectTrack{};
}

MgErr InitPanelColorPalette(MenuHandle* menu) {
  static const uChar kTitle[] = "\x06" "Colors";
  return InitColorPalette(kColorPaletteMenuId, kTitle, nullptr, 0, menu);
}

void PrepareColorPalette(int32 foreground, int32 background, int32 flags, int32 depth, ColorPaletteProc proc,
                         int32 argument) {
  ColorPaletteRecord* pal = gPal;
  if (!pal) return;
  pal->shown[0] = pal->current[0] = foreground;
  pal->shown[1] = pal->current[1] = background;
  pal->flags = uInt32(flags) & ~uInt32(kPalFinal | kPalDialog | kPalFromGrid);
  pal->proc = proc;
  pal->argument = argument;
  pal->grid = Rect{0, 0, 0, 0};
  pal->depth = depth > 0 ? depth : WGetDepth(0);
  if (gPalMenu && *gPalMenu) {
    (*gPalMenu)->currentItem = 0;
    MInvalMenuSize(gPalMenu);
  }
}

void ColorMenuTrack(ObjHeap heap, int32 object, ActionParams* record, void* frame) {
  if (!record) return;
  gTrack = ObjectTrack{heap, object, record, frame};
  const int32* w = reinterpret_cast<const int32*>(record);
  PrepareColorPalette(w[4], w[5], w[3], 0, &ObjectProc, object);
}

int32 DoColorPalette(int32 menuResult, int32 item) {
  ColorPaletteRecord* pal = gPal;
  if (!pal) return 0;
  const ColorPaletteProc proc = pal->proc;
  const int32 argument = pal->argument;
  pal->proc = nullptr;
  pal->argument = 0;
  uInt32 flags = pal->flags;
  ReleaseCache(pal);
  const bool fgCounts = (flags & (kPalForeground | kPalSwitchKeys)) && pal->current[0] != pal->shown[0];
  const bool bgCounts = (flags & (kPalBackground | kPalSwitchKeys)) && pal->current[1] != pal->shown[1];
  const bool cellOrMore = (item >= 1 && item != kPalNoColour) || item == kPalMoreItem;
  const bool counts = menuResult == kColorPaletteMenuId &&
                      (cellOrMore || ((item == 0 || item == kPalNoColour) && (fgCounts || bgCounts)));
  if (!counts) flags = 0;
  if (counts && item == kPalMoreItem) {
    const uInt32 choice = flags & kChoiceBits;
    const DColor edit = (flags & kPalForeground) ? pal->current[0] : (flags & kPalBackground) ? pal->current[1] : 0;
    const int32 entry = choice == kPalBoth         ? kPalCapBoth
                        : choice == kPalForeground ? kPalCapForeground
                        : choice == kPalBackground ? kPalCapBackground
                                                   : kPalCapColour;
    Str255 caption;
    CaptionText(entry, caption);
    DColor chosen = edit;
    if (RunColorDialog(caption, edit, &chosen)) {
      flags |= kPalDialog;
      if (flags & kPalForeground) pal->current[0] = chosen;
      if (flags & kPalBackground) pal->current[1] = chosen;
    } else {
      flags &= ~kChoiceBits;
    }
  }
  // The chosen colours become the newest recent ones.
  const auto remember = [pal](DColor c) {
    if (pal->recentCapacity <= 0 || !RecentWords(pal)) return;
    DColor* words = RecentWords(pal);
    int32 count = RecentCount(pal);
    for (int32 i = 0; i < count; ++i) {
      if (words[i] != c) continue;
      std::memmove(words + i, words + i + 1, size_t(count - i - 1) * 4);
      --count;
      break;
    }
    if (count == pal->recentCapacity) {
      std::memmove(words, words + 1, size_t(count - 1) * 4);
      --count;
    }
    words[count++] = c;
    pal->recentNewest = int16(count - 1);
  };
  if (flags & (kPalForeground | kPalSwitchKeys)) remember(pal->current[0]);
  if (flags & (kPalBackground | kPalSwitchKeys)) remember(pal->current[1]);
  pal->flags = flags;
  if (!proc) return 0;
  if (!(flags & kPalDialog)) flags |= kPalFromGrid;
  return proc(pal->current[0], pal->current[1], int32(flags | kPalFinal), argument);
}

int32 PopUpColorPalette(ObjHeap heap, void* frame, ActionParams* record) {
  if (heap && record) ++PanelDisplayCallCounts().palettes;
  ColorPaletteRecord* pal = gPal;
  MenuHandle menu = gPalMenu;
  if (!pal || !menu || !*menu || !record) return 0;
  ColorMenuTrack(heap, PathObject(frame), record, frame);
  if (!(pal->flags & kPalNoSizing)) MCalcMenuSize(menu);
  const int32 width = (*menu)->size.right - (*menu)->size.left, height = (*menu)->size.bottom - (*menu)->size.top;
  const WindowRef window = heap && *heap ? WindowRef(opmeth::ExtWord(heap, kHeapExtWindow)) : WindowRef(0);
  Point p = record->point;
  if (WIsWindow(window)) WLocalToGlobal(window, &p);
  Rect screen;
  WGetScreenRect(p, &screen);
  int32 left = p.h - width / 2, top = p.v - (height + kAbovePoint);
  if (top <= screen.top) top = p.v + kAbovePoint;
  left = std::clamp(left, int32(screen.left), std::max(int32(screen.left), screen.right - width));
  top = std::clamp(top, int32(screen.top), std::max(int32(screen.top), screen.bottom - height));
  Point at{int16(top), int16(left)};
  if (WIsWindow(WCurrentPort())) WGlobalToLocal(WCurrentPort(), &at);
  int32 id = 0, item = 0;
  MPopUpMenuAt(menu, at, &id, &item, 0, 0, 0);
  return DoColorPalette(kColorPaletteMenuId, item);
}

int32 RunColorDialog(ConstPStr caption, DColor colour, DColor* out) {
  if (!out || !gDialog) return 0;
  return gDialog(caption, colour, out);
}

void DrawColorPaletteCells(ColorPaletteRecord* pal, Bool32 useCache) {
  if (pal && pal->table >= 0) DrawGrid(pal, useCache != 0);
}
