// List menus: menus whose items are text records kept in the menu handle
// after the title, the procedure that answers their messages and window
// events, and the drawing of their rows and of menu bars.
//
// Items are packed one after another, each starting on a 4-byte boundary:
// the fixed fields of LItemRecord, then the strings (a counted list of two
// Pascal strings: the shown text and the name), then the owner's data block
// padded to 4 bytes.  Item numbers are 1-based.  User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/rsrc.h"
#include "mgsource/window/menus.h"

struct LItemRecord {
  MenuHandle submenu;     // opened from this item; 0 none
  uInt32 itemKey;         // the owner's number for the item
  int32 shortcutChar;     // 0 none
  uInt32 shortcutMods;    // only Shift 0x02 and 0x20 are kept
  int16 shortcutKey;      // key code; 0 no shortcut, 27 the character
  int16 shortcutWidth;    // the shortcut column, set by the size message
  int16 underlineOffset;  // width of the shown text before the mnemonic
  uChar underlineLength;  // width through the mnemonic, less the offset, less 1
  uChar mnemonic;         // upper-cased; 0 none
  int16 varSize;          // bytes of strings and data after these fields
  uChar enabled;
  uChar mark;             // non-zero: checked
  uInt32 markImage;       // drawn instead of the check image; 0 the check image
  MenuHandle linkMenu;    // the item stands for an item of this menu
  uInt32 linkKey;
  int32 group;            // head: items in the group; follower: minus its distance
  uInt32 nameHash;        // of the name, case-folded
  uChar strings[4];       // the counted strings, then the data block
};
static_assert(sizeof(void*) != 4 || (offsetof(LItemRecord, shortcutKey) == 16 &&
                                     offsetof(LItemRecord, varSize) == 24 && offsetof(LItemRecord, markImage) == 28 &&
                                     offsetof(LItemRecord, group) == 40 && offsetof(LItemRecord, strings) == 48),
              "list item: 19 fields in their order");
constexpr int32 kLItemFixedSize = int32(offsetof(LItemRecord, strings));
constexpr int32 kLItemMaxData = 256;

// Message codes only list menus answer.
enum : int32 {
  kMenuItemRect = -117,
  kMenuPlacement = -114,
  kMenuFindShortcut = -108,
  kMenuDraw = 14,
  kMenuKeyStep = 21,
  kMenuMouseStep = 22,
  kMenuWheelStep = 49,
};
// Results of the steps.
enum : int32 {
  kMenuStepRightEdge = -2,
  kMenuStepLeft = -3,
  kMenuStepClose = -4,
  kMenuStepSubmenu = -5,
  kMenuHitDownArrow = -6,
  kMenuHitUpArrow = -7,
};

// ---- creation

QX_EXTERN_C int32 LMenuProc(MenuProcMsg* msg, MenuHandle menu);
QX_EXTERN_C MgErr MNewLMenu(MenuHandle* menu, ConstPStr title, int32 menuId);
QX_EXTERN_C Bool32 MIsListMenu(MenuHandle menu);
// String 1 of the list is the title, the others the items.
QX_EXTERN_C MgErr MNewLMenuFromStrings(RsrcFileRef file, int32 listId, int32 menuId, MenuHandle* menu);
// Items from strings first.. until one is missing or limit were added (limit
// < 0: none); item key = string index - 1.  The first failing insertion's
// error.
QX_EXTERN_C MgErr MAppendLItemsFromStrings(RsrcFileRef file, int32 listId, MenuHandle menu, int32 first,
                                           int32 limit);
// "text:name:keys", keys joined by "+".  name may be null.
QX_EXTERN_C void MParseShortcutSpec(ConstPStr entry, PStr text, PStr name, int32* character, int32* keyCode,
                                    uInt32* modifiers);

// ---- insertion and change

// After position `after` (0 first, -1 last; inside a group: after the
// group).  1 for a bad position or a data size above 256, 2 when the handle
// cannot grow (the menu is then unchanged).
QX_EXTERN_C MgErr MInsertLItem(MenuHandle menu, ConstPStr text, ConstPStr name, int32 mark, const void* data,
                               int32 dataSize, int32 after, uInt32 itemKey);
QX_EXTERN_C MgErr MInsertLSeparator(MenuHandle menu, ConstPStr name, int32 after, uInt32 itemKey);
// Inserts before the first item of the run after `after` (runLength items)
// whose text is equal or beyond the text in the order asked; *position the
// new item's number.
QX_EXTERN_C MgErr MInsertLItemSorted(MenuHandle menu, ConstPStr text, ConstPStr name, int32 mark, const void* data,
                                     int32 dataSize, int32 after, uInt32 itemKey, int32 runLength, Bool32 ascending,
                                     int32* position);
// New text and/or name (null keeps it); everything else is kept.  A failure
// leaves the old item.
QX_EXTERN_C MgErr MChangeLItem(MenuHandle menu, int32 item, ConstPStr text, ConstPStr name);
QX_EXTERN_C MgErr MCopyLItem(MenuHandle menu, int32 item, MenuHandle source, int32 sourceItem);
QX_EXTERN_C void MSetLItemSubmenu(MenuHandle menu, int32 item, MenuHandle submenu);
QX_EXTERN_C void MSetLItemMark(MenuHandle menu, int32 item, uInt32 image);

// ---- access

// Null (reported) for a number outside 1..count.  Valid until the menu
// changes.
QX_EXTERN_C LItemRecord* MGetLItemPtr(MenuHandle menu, int32 item);
QX_EXTERN_C LItemRecord* MNextLItem(LItemRecord* item);
// 0 the shown text, 1 the name.
QX_EXTERN_C ConstPStr MLItemString(const LItemRecord* item, int32 which);
QX_EXTERN_C void MGetLItemName(MenuHandle menu, int32 item, PStr name);
QX_EXTERN_C int32 MFindLItemByKey(MenuHandle menu, uInt32 key);
// The index found (0 none); each menu is searched once.
QX_EXTERN_C int32 MFindLItemByName(MenuHandle menu, ConstPStr name, MenuHandle* found, int32* index,
                                   Bool32 searchSubmenus);
// The bytes of an item's data block (padded to 4).
int32 MLItemDataSize(const LItemRecord* item);
const uChar* MLItemData(const LItemRecord* item);

// ---- groups and links

QX_EXTERN_C MgErr MGroupLItems(MenuHandle menu, int32 first, int32 length, ConstPStr name);
QX_EXTERN_C void MUngroupLItems(MenuHandle menu, int32 item);
QX_EXTERN_C int32 MGetLItemGroupSize(MenuHandle menu, int32 item);
QX_EXTERN_C void MDeleteLItemGroup(MenuHandle menu, int32 item);
QX_EXTERN_C int32 MCountTopItems(MenuHandle menu);
QX_EXTERN_C int32 MLinkLItem(MenuHandle menu, int32 item, MenuHandle other, int32 otherItem, Bool32 copyFirst);
QX_EXTERN_C int32 MGetLItemLink(MenuHandle menu, int32 item, MenuHandle* linked, int32* index);
QX_EXTERN_C MgErr MCopyItems(MenuHandle menu, ConstPStr groupName, int32 after, uInt32 groupKey, MenuHandle source,
                             int32 sourceFirst, int32 length);

// ---- the procedure's steps and scrolling

// The item under a point of the menu window (or an arrow zone, -6 / -7).
QX_EXTERN_C int32 MHitLItem(MenuHandle menu, Point where, int32 previous, Bool32 flag);
QX_EXTERN_C int32 MScrollToItem(MenuHandle menu, int32 item, Bool32 keep);
QX_EXTERN_C void MAutoScroll(MenuHandle menu, Bool32 down, int32 pointerV);
QX_EXTERN_C void MTrackLMenuScrollBar(MenuHandle menu, Point part, Point first, int32 modifiers);
// The item's rectangle in the menu window.
void MLItemRect(MenuHandle menu, int32 item, Rect* r);
// Whether the item's submenu may open (enabled, not browsing, items in it).
Bool32 MLItemSubmenuOpens(MenuHandle menu, int32 item);

// Opening a submenu beside an item (global rectangle) belongs to the menu
// tracker, which installs it; the list-style flag is the tracker's too.
typedef void (*MOpenSubmenuProc)(MenuHandle menu, int32 item, const Rect* globalItemRect);
void MSetSubmenuOpener(MOpenSubmenuProc proc);
void MSetListStyle(Bool32 on);
Bool32 MGetListStyle();

// ---- drawing

QX_EXTERN_C void MDrawLItems(MenuHandle menu, int32 oldItem, int32 newItem, Bool32 hiliteOnly, Bool32 withFrame);
QX_EXTERN_C void MDrawMenuBar(MenuHandle bar, const Rect* barRect);
QX_EXTERN_C void MDrawMenuTitle(int32 font, int32 depth, const Rect* titleRect, const LItemRecord* title,
                                Bool32 highlighted);
// positions[n - 1] and positions[n] are title n's left and right edges.
QX_EXTERN_C void MHiliteTitle(MenuHandle bar, const Rect* barRect, const int32* positions, int32 title, Bool32 on);
QX_EXTERN_C int32 MTitleWidth(int32 font, ConstPStr text);
QX_EXTERN_C void MDrawScrollArrow(const Rect* row, Bool32 up);
