// The menu-id table: every menu the shell shows is known by a small integer
// id, mapped here to its menu and the kind of its user; free ids are handed
// out from 124 up.  Beside it, the list of sub-menus attached to items at
// run time, so that they can be found, shifted and released together; and
// small searches of a menu's items by text.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/menus.h"

// Kinds of an id: free, a standard menu, a menu whose items are tracked
// (the main event filter shows their tips), a pop-up menu.
enum : int32 { kMenuKindFree = 0, kMenuKindStandard = 1, kMenuKindTracked = 2, kMenuKindPopup = 4 };
// Ids up to this one are reserved: never handed out nor released.
enum : int32 { kSentinelMenuID = 123, kMenuTableInitialSize = 256, kMenuTableGrowth = 500 };
// Positions of a tracked record: a sub-menu not yet placed, a free record.
enum : int32 { kTrackedUnplaced = -1, kTrackedFree = -2 };

// The table's size, and the menu and kind of an id (0 outside it).
int32 MenuTableSize();
MenuHandle MenuTableGet(int32 id);
int32 MenuKindGet(int32 id);
// Enters a menu under an id of the table (1 outside it, else 0).
MgErr MenuTableSet(int32 id, MenuHandle menu);
// Empties both tables and the tracked list (the tables' blocks are kept or
// made): start-up, and shut-down with dispose set, which frees them.
void MenuTableReset(Bool32 dispose);

// The lowest free id from 124 up with its kind recorded; the table grows
// by 500 ids when full; -1 when it cannot.
QX_EXTERN_C int32 NewMenuID(int32 kind);
QX_EXTERN_C int32 NewPopupMenuID();
// Records the kind of a fixed id: 1 when it is taken or beyond the table.
QX_EXTERN_C int32 ReserveMenuID(int32 id, int32 kind);
// Frees an id above 123; lower ones are kept, with a debug line.
QX_EXTERN_C void ReleaseMenuID(int32 id);

// One record of the tracked list, as the list stores it (26 packed bytes).
struct TrackedMenu {
  int32 owner;
  int32 position;
  int32 menuId;
  MenuHandle menu;
  int32 data;
  int32 parentId;
  int16 releaseFlag;
};
constexpr int32 kTrackedRecordSize = 26;
// Creates the empty tracked list (start-up).
MgErr MenuTrackedInit();
int32 MenuTrackedCount();
// Record n (0-based) into out: false outside the list.
bool MenuTrackedAt(int32 n, TrackedMenu* out);
// Appends a record: 0, or non-zero when the list cannot grow (its 16-bit
// count is full or memory runs out).
MgErr MenuTrackAppend(const TrackedMenu& record);

// Looks up, in this order: a record of the menu id at the position (out:
// its data word in position, its parent id in menuId, its owner); a record
// of the menu id not yet placed (out: parent id and owner); for a menu of
// kind 2 the first free record (out: owner).  1 when found, else 0.
QX_EXTERN_C int32 MenuFindTracked(int32* owner, int32* menuId, int32* position);
// Releases the id and disposes the menu of every record with the release
// flag whose id is not a standard menu's; empties the list and the items of
// the shared pop-up menus 64, 72 and 82.
QX_EXTERN_C void MenuReleaseTracked();
// When the list holds a not-yet-placed record of the sub-menu's id (it is
// attached elsewhere), replaces *subMenu by a copy under a new pop-up id
// and returns 1; else 0.  A failed copy is reported and leaves *subMenu.
QX_EXTERN_C int32 MenuCopyIfAttached(MenuHandle* subMenu);

// Inserts an item (null text: a separator; empty text: " ") after the
// 0-based position when it lies inside the menu, else at the end, shifts
// the tracked records of the menu's items below it and records the item
// with the owner, the data word and the top menu id MenuFindTracked gives.
// The item's 1-based position, or 0 (nothing changed) when the item or the
// record cannot be added.
QX_EXTERN_C int32 MenuInsertItemAt(int32 owner, MenuHandle menu, ConstPStr text, int32 data, int32 position);
// Attaches a sub-menu to an item of a parent and records it as not yet
// placed; a sub-menu attached elsewhere already is replaced by a copy under
// a new pop-up id, released with the tracked list.  The sub-menu attached,
// or 0 when either menu is missing.
QX_EXTERN_C MenuHandle MenuAttachSubMenu(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item);
// The same without the copy: the sub-menu is shared.
QX_EXTERN_C MenuHandle MenuAttachShared(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item);
// Appends the record (owner, position, the sub-menu's id, the sub-menu, -1,
// subMenuId, flag) and attaches the sub-menu to the parent's item when a
// parent is given.  A failed growth is reported and returned.
QX_EXTERN_C MgErr MenuAttachRecord(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item, int32 subMenuId,
                                   int32 position, int32 flag);

// Deletes items from the end while the last one's text is "-".
QX_EXTERN_C void MenuDeleteTrailingSeparators(MenuHandle menu);
// The position of the n-th separator (n below 1 counts as 1), or -1.
QX_EXTERN_C int32 MenuFindNthSeparator(MenuHandle menu, int32 n);
// The position of the first (fromStart) or last item whose text equals
// text, or 0.
QX_EXTERN_C int32 MenuFindItemByText(MenuHandle menu, ConstPStr text, Bool32 fromStart);
