// Menus drawn by the system: the menu record, the message block through
// which the manager talks to a menu's procedure, the item calls, the menu
// metrics and colours taken from the system, and palette (picture) menus of
// cells laid out in a grid.
//
// A menu is a relocatable handle of the application zone: a fixed header,
// the title, then whatever the menu's procedure stores.  Item numbers are
// 1-based; 0 means none.  User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/rects.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/window/wevent.h"

struct MenuRecord;
typedef MenuRecord** MenuHandle;
struct MenuProcMsg;
// A menu procedure: every message for the menu; codes it does not handle
// answer 0.
typedef int32 (*MenuProc)(MenuProcMsg* msg, MenuHandle menu);

// The header; the title (a Pascal string, padded with zero bytes so that
// its length byte and characters take a multiple of 4 bytes) follows the
// three state bytes, and the procedure's data follows the title.
struct MenuRecord {
  MenuProc proc;
  uInt32 procData;
  Rect size;            // computed size, top and left 0; all 0: not computed
  int32 minWidth;
  int32 fixedHeight;    // 0: computed
  int32 fixedWidth;     // 0: computed
  int32 scrollBar;      // shown as a scrolling list with a vertical bar
  int32 font;
  int32 lineHeight;
  WindowRef window;     // the menu window while open
  int32 itemCount;
  uInt32 pictWord;      // the palette procedure's word
  int32 menuId;
  uInt32 attrs[4];      // the callers' words
  Rect anchor;          // global: the title or item the menu was pulled from
  int32 enabled;
  MenuHandle openChild;
  int32 visibleRows;
  int32 firstVisible;   // 1-based
  int32 currentItem;    // 0 none
  uChar state[3];       // the tracker's: choosable, opens left, a third
  uChar title[1];
};
static_assert(sizeof(void*) != 4 || (offsetof(MenuRecord, size) == 8 && offsetof(MenuRecord, window) == 40 &&
                                     offsetof(MenuRecord, menuId) == 52 && offsetof(MenuRecord, anchor) == 72 &&
                                     offsetof(MenuRecord, currentItem) == 96 && offsetof(MenuRecord, title) == 103),
              "menu record: 25 fields in their order");
constexpr int32 kMenuHeaderSize = int32(offsetof(MenuRecord, title));
// The bytes a title takes: its length byte and characters, padded to 4.
inline int32 MenuTitleBytes(ConstPStr title) { return ((title ? title[0] : 0) + 1 + 3) & ~3; }
// The offset of the procedure's data in a menu with that title.
inline int32 MenuItemArea(ConstPStr title) { return kMenuHeaderSize + MenuTitleBytes(title); }

// The message block.  a6 is a pointer for code -111; otherwise its low 16
// bits are a key code and its high 16 bits a vertical offset.
struct MenuProcMsg {
  int32 code;
  WindowRef window;
  int32 a1, a2, a3, a4, a5;
  uInt32 a6;
  int16 offset2;
  uInt32 flag;
};
static_assert(offsetof(MenuProcMsg, a6) == 28 && offsetof(MenuProcMsg, offset2) == 32 &&
                  offsetof(MenuProcMsg, flag) == 36 && sizeof(MenuProcMsg) == 40,
              "menu message block");

// Message codes of the item calls and the window events forwarded to a
// menu's procedure.
enum : int32 {
  kMenuDeleteAll = -100,
  kMenuCalcSize = -101,
  kMenuDisableItem = -103,
  kMenuEnableItem = -104,
  kMenuCheckItem = -105,
  kMenuEvent = -106,          // to a window before a menu of it opens
  kMenuSetShortcut = -107,
  kMenuDeleteItem = -109,
  kMenuFindMnemonic = -110,
  kMenuGetItem = -111,
  kMenuDisable = -112,
  kMenuEnable = -113,
  kMenuSetItemKey = -115,
  kMenuItemHighlighted = -116,
  kMenuHitCell = 19,
};

// What -111 fills for MGetItemInfo: 26 bytes.
#pragma pack(push, 2)
struct MenuItemInfo {
  int32 enabled;
  int32 mark;
  MenuHandle submenu;
  uInt32 itemKey;
  int32 shortcutChar;
  uInt32 shortcutModifiers;
  int16 shortcutKeyCode;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(MenuItemInfo) == 26, "menu item info");

// What MGetMenuInfo gives.
struct MenuSummary {
  int32 menuId;
  int32 itemCount;
  int16 enabled;
  uChar title[256];
};

// ---- creation and disposal

// A zero-filled record with the title, enabled, in the menu font (one more
// reference): 0, or 2 (out 0) when it cannot be made.  No procedure.
QX_EXTERN_C MgErr MNewMenu(MenuHandle* menu, int32 menuId, ConstPStr title);
// MNewMenu with a procedure and its data word.
QX_EXTERN_C MgErr MNewCustomMenu(MenuHandle* menu, ConstPStr title, int32 menuId, MenuProc proc, uInt32 procData);
// Releases the font and frees the record; null is ignored.
QX_EXTERN_C void MDisposeMenu(MenuHandle menu);
// Replaces *menu by a copy with the new id (and its own font reference); on
// failure *menu becomes 0 and the error is returned.
QX_EXTERN_C MgErr MCopyMenu(MenuHandle* menu, int32 newId);
// A new reference derived from font (size 48 when its line height is 49
// or more); the old one released.
QX_EXTERN_C void MSetMenuFont(MenuHandle menu, int32 font);

// ---- accessors

QX_EXTERN_C MenuRecord* MGetMenuPtr(MenuHandle menu);
QX_EXTERN_C int32 MGetMenuID(MenuHandle menu);
QX_EXTERN_C int32 MCountItems(MenuHandle menu);
QX_EXTERN_C void MSetMenuMinWidth(MenuHandle menu, int32 width);
QX_EXTERN_C void MSetMenuFixedSize(MenuHandle menu, int32 width, int32 height);
QX_EXTERN_C void MSetMenuScrollBar(MenuHandle menu, Bool32 on);
// The rightmost vertical-bar width + 1 pixels of the size rectangle when
// the menu scrolls with a bar, else an empty rectangle.
QX_EXTERN_C void MGetMenuScrollBarRect(MenuHandle menu, Rect* rect);
QX_EXTERN_C void MGetMenuAttrs(MenuHandle menu, uInt32* a1, uInt32* a2, uInt32* a3, uInt32* a4);
QX_EXTERN_C void MSetMenuAttrs(MenuHandle menu, const uInt32* a1, const uInt32* a2, const uInt32* a3,
                               const uInt32* a4);
QX_EXTERN_C void MGetMenuInfo(MenuHandle menu, MenuSummary* out);
// Where the procedure's data begins.
QX_EXTERN_C uChar* MFirstItemPtr(MenuHandle menu);
// Empties the size rectangle.
QX_EXTERN_C void MInvalMenuSize(MenuHandle menu);
// Sends -101, then applies the fixed width and height.
QX_EXTERN_C void MCalcMenuSize(MenuHandle menu);

// ---- item calls

QX_EXTERN_C int32 MDeleteAllItems(MenuHandle menu);
// n = -1 is the last item; outside 1..count the range text is formatted
// (and asserted for n other than 0) and nothing is sent.
QX_EXTERN_C int32 MDisableItem(MenuHandle menu, int32 item);
QX_EXTERN_C int32 MEnableItem(MenuHandle menu, int32 item);
QX_EXTERN_C void MCheckItem(MenuHandle menu, int32 item, Bool32 on);
// Only Shift (0x02) and 0x20 of the modifiers are kept.
QX_EXTERN_C void MSetItemShortcut(MenuHandle menu, int32 item, int32 character, int32 keyCode, uInt32 modifiers);
QX_EXTERN_C void MDeleteItem(MenuHandle menu, int32 item);
// The enabled item whose mnemonic is the character, 0 for none.
QX_EXTERN_C int32 MFindMnemonicItem(MenuHandle menu, int32 character);
QX_EXTERN_C void MGetItemText(MenuHandle menu, int32 item, PStr text);
// The bytes copied (at most capacity).
QX_EXTERN_C int32 MGetItemData(MenuHandle menu, int32 item, void* buffer, int32 capacity);
QX_EXTERN_C void MGetItemInfo(MenuHandle menu, int32 item, MenuItemInfo* info);
// The enabled flag before the call.
QX_EXTERN_C int32 MDisableMenu(MenuHandle menu);
QX_EXTERN_C void MSetItemKey(MenuHandle menu, int32 item, uInt32 key);

// Sends the menu event -106 to the window; its handler's answer (0: the
// menu is not shown).
QX_EXTERN_C int32 MSendMenuEvent(WindowRef window);

// The shown text of an item's text; the 1-based place of its mnemonic in
// it, 0 for none.  The shown text is cut at 255 characters.
QX_EXTERN_C int32 MParseItemText(ConstPStr text, PStr shown);
// The shortcut text of an item: "Ctrl+", "Shift+", "Caps+" as the
// modifiers say, then the upper-cased character (key code 27) or the key's
// name.
QX_EXTERN_C void MShortcutText(int32 character, int32 keyCode, uInt32 modifiers, PStr text);

// ---- metrics and colours

struct MenuColours {
  DColor text, background, scrollTrack, face, face2, frame, disabledText, window, windowText, light, shadow,
      buttonText, selection, selectionText;
};
struct MenuMetrics {
  int32 hBarHeight, vBarWidth, vArrowHeight, hArrowWidth, arrowGlyph, rowSpacing;
  int32 menuFont, menuLineHeight, systemLineHeight;
  int32 checkImage;  // 0 until MSetMenuCheck
  Rect checkRect;    // its bounds at (0, 0)
};
extern MenuColours gMenuColours;
extern MenuMetrics gMenuMetrics;
// Reads the system colours, and the metrics, again.
QX_EXTERN_C void MLoadMenuColors();
QX_EXTERN_C void MLoadSysMetrics();
// The height of a menu bar.
QX_EXTERN_C int32 MMenuBarHeight();
// The check-mark image and the width of the check column (12 until set).
QX_EXTERN_C void MSetMenuCheck(int32 image);
int32 MCheckColumnWidth();

// The manager's two flags: browse only, and disabled items may be chosen.
QX_EXTERN_C Bool32 MGetBrowseOnly();
QX_EXTERN_C void MSetBrowseOnly(Bool32 on);
QX_EXTERN_C Bool32 MGetChooseDisabled();
QX_EXTERN_C void MSetChooseDisabled(Bool32 on);

// ---- palette menus

// After the title: the columns word (below 1 counts as 1) and the names
// flag (set by the size message when a cell has a name), then the cells,
// each this fixed part followed by its name (a Pascal string padded to 4
// bytes) and the owner's data (padded to 4).
struct PictMenuItem {
  MenuHandle submenu;
  int32 image;        // 0 an empty slot, -1 released
  uInt32 itemKey;
  int16 varSize;      // the bytes of the name and the data
  uChar enabled;
  uChar mark;         // 0x01 selected, 0x02 grey
  DColor colours[4];  // fore, back, black-and-white fore and back
  Rect rect;          // empty: the image fills the cell's square
};
static_assert(sizeof(void*) != 4 || (sizeof(PictMenuItem) == 40 && offsetof(PictMenuItem, varSize) == 12 &&
                                     offsetof(PictMenuItem, colours) == 16 && offsetof(PictMenuItem, rect) == 32),
              "palette menu cell");
constexpr int32 kPictMenuHeader = 4;
// A colour word standing for the menu's text or background colour.
constexpr DColor kPictMenuColour = 0x1000002;

// A custom menu of PictMenuProc with the two words, columns set.  2 when
// the record cannot be made, the resize error when it cannot grow (nothing
// is left).
QX_EXTERN_C MgErr MNewPictMenu(MenuHandle* menu, ConstPStr title, int32 menuId, int16 columns);
// Appends a cell, enabled (colours null: the menu's colours, black and
// white; rect null: empty); the count grows, the size is emptied.  The
// resize error when the menu cannot grow.
QX_EXTERN_C MgErr MAppendPictMenuItem(MenuHandle menu, ConstPStr name, int32 image, const DColor* colours,
                                      const Rect* rect, int32 mark, const void* data, int32 dataSize,
                                      uInt32 itemKey);
// The palette procedure (the menu messages, drawing, steps and hit test).
QX_EXTERN_C int32 PictMenuProc(MenuProcMsg* msg, MenuHandle menu);
// Releases the image of every cell showing one (0 and -1 show none) and
// marks the cell -1: 128 for each image released; 0 for a null menu, a menu
// that is no palette menu or one that is open.
QX_EXTERN_C int32 MReleasePictImages(MenuHandle menu);
// How many cells fit on the window's monitor in that many columns.
QX_EXTERN_C int32 MMaxPictMenuItems(WindowRef window, int32 columns, int32 cellSize);
// Removes count bytes at offset from the menu's handle: 1, or 0 with a
// report and nothing changed for a range outside the handle.
QX_EXTERN_C Bool32 MRemoveBytes(MenuHandle menu, int32 offset, int32 count);
// Cell n (1-based): null with a report outside 1..count.
PictMenuItem* MGetPictCellPtr(MenuHandle menu, int32 n);
// The cell size: the palette word when above 32, else 32.
int32 MPictCellSize(MenuHandle menu);
// The size rectangle inset, the name strip, the box at its left and where
// the grid begins (any may be null); the size computed first when empty.
void MPictMenuLayout(MenuHandle menu, Rect* area, Rect* nameStrip, Rect* box, Rect* grid);
// The cell under the point (0 none); with flag the cell of the open child.
// The previous cell is drawn plain and the new one highlighted.
int32 MHitPictCell(MenuHandle menu, Point where, int32 previous, Bool32 flag);
