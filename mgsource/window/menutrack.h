// Open menus on the screen: pop-up menus and submenus in menu windows of
// their own, their placement on the monitor of their anchor, and the
// tracking loop that follows the mouse and the keyboard to a choice.
//
// The open menus form a chain through each menu's open child.  A choice is
// (menu id, item); (0, 0) is none.  User-interface thread only.
#pragma once
#include "mgsource/window/menus.h"

// Modes of MTrackMenu.
enum : int32 { kMTrackPopUp = 0, kMTrackBarMouse = 1, kMTrackBarKeys = 2, kMTrackReenter = 3 };
// Modes of MPlaceMenu: a pop-up, a pull-down from a bar title, a submenu
// from an item.
enum : int32 { kMPlaceFromTitle = 1, kMPlaceFromItem = 2, kMPlacePopUp = 5 };

// Pops the menu up over rect (the current window's coordinates) with the
// initial item (pinned to 0..count) on it, the arrow cursor shown while it
// tracks.  1 with both outputs set when a choice was made, else 0 and both
// outputs 0.  flags and option are the caller's words.
QX_EXTERN_C int32 MPopUpMenuRect(MenuHandle menu, const Rect* rect, int32* menuId, int32* item, int32 flags,
                                 int32 initial, int32 option);
QX_EXTERN_C int32 MPopUpMenuAt(MenuHandle menu, Point where, int32* menuId, int32* item, int32 flags,
                               int32 initial, int32 option);

// The tracking loop over an open chain (anchor global).  -1 normally; in
// the bar modes -2 (next title), -3 (previous title) or -4 (cancel) when
// the keyboard asks; *menuId -1 when a release fell on the bar.
QX_EXTERN_C int32 MTrackMenu(MenuHandle menu, const Rect* anchor, int32* menuId, int32* item, int32 mode,
                             int32 initial);

// Opens submenu as parent's open child beside anchor (global), closing the
// parent's former child first.
QX_EXTERN_C void MOpenSubmenu(MenuHandle parent, const Rect* anchor, MenuHandle submenu, Bool32 fromBar);
// A menu window (style 3) at rect moved by (1, 1), its handler passing
// events to the menu's procedure; 0 when none could be made.
QX_EXTERN_C WindowRef MCreateMenuWindow(MenuHandle menu, const Rect* rect);
// Closes the menu's open children, then its own window.
QX_EXTERN_C void MCloseMenuWindow(MenuHandle menu, MenuHandle parent);
// The deepest menu of the chain from first whose window or anchor holds
// the global point; null for none.
QX_EXTERN_C MenuHandle MMenuUnderPoint(Point where, MenuHandle first);
// The parent of the deepest open menu of the chain (the menu itself when
// its child has no child).
QX_EXTERN_C MenuHandle MDeepestParent(MenuHandle menu);
// Closes the menu's open child (left pending while the pointer is out).
QX_EXTERN_C void MClosePendingChild(MenuHandle menu);
// Puts the highlight back on the item whose submenu is open.
QX_EXTERN_C void MSyncCurrentItem(MenuHandle menu);

// Places the menu for its anchor on the screen rectangle: *windowRect, the
// menu's visible rows and first visible item (its size rectangle cut to the
// rows when fewer than the items).
QX_EXTERN_C void MPlaceMenu(MenuHandle menu, const Rect* anchor, int32 mode, const Rect* screen, Rect* windowRect,
                            int32 initial);
// Where a submenu of that size opens beside its anchor (global) on the
// screen: below (or above) a bar title; else beside an item, moved by the
// parent's offsets dv and dh, on the side *toLeft names while it fits there
// (*toLeft set to the side taken); then 4 pixels inside the screen.
Rect MSubmenuRect(const Rect& anchor, const Rect& screen, int32 width, int32 height, bool fromBar, int32 dv,
                  int32 dh, bool* toLeft);
// Moves r onto the screen horizontally (in list-style tracking to the other
// side of its own left edge) and, MKeepOnScreenV, up above its bottom.
QX_EXTERN_C void MKeepOnScreenH(Rect* r, const Rect* screen);
QX_EXTERN_C void MKeepOnScreenV(Rect* r, const Rect* screen);

// ---- the menu bar

constexpr int32 kMaxBarTitles = 50;
// Title n spans positions[n - 1] .. positions[n] from the bar's left edge
// (positions holds kMaxBarTitles + 1 words); the titles laid out.
QX_EXTERN_C int32 MLayoutMenuBar(MenuHandle bar, const Rect* barRect, int32* positions);
// The first title whose right edge is at or right of the point inside the
// bar, 0 for none.
QX_EXTERN_C int32 MTitleAtPoint(Point where, const Rect* barRect, const int32* positions, int32 count);
// The menu of that id: the bar itself or its submenus, depth first.
QX_EXTERN_C MenuHandle MFindMenuByID(MenuHandle bar, int32 menuId);
// Follows the bar from the title on (mode 1 mouse, 2 keys); 1 with a choice.
QX_EXTERN_C int32 MTrackMenuBar(MenuHandle bar, const Rect* barRect, int32 title, const int32* positions,
                                int32 count, int32* menuId, int32* item, int32 mode);
// A press in the bar (current window's coordinates): 1 with a choice and
// its item key.
QX_EXTERN_C int32 MMenuBarClick(MenuHandle bar, const Rect* barRect, Point where, int32* menuId, int32* item,
                                uInt32* itemKey);
// The menu-bar key (Alt with a letter, F10, Alt alone) followed on the bar.
QX_EXTERN_C int32 MMenuBarKeys(MenuHandle bar, const Rect* barRect, const WEventRecord* event, int32* menuId,
                               int32* item, uInt32* itemKey);
// The menu-bar key becomes event 20 (menu id, item, item key); other keys
// go to MMenuBarShortcut.  1 when the event was rewritten.
QX_EXTERN_C int32 MHandleMenuBarEvent(WEventRecord* event, MenuHandle bar, const Rect* barRect);
QX_EXTERN_C int32 MMenuBarShortcut(WEventRecord* event, MenuHandle bar, Bool32 searchDisabled);
// The list-menu event handler of a menu bar: the menu-bar key and the
// shortcuts become event 20 (MHandleMenuBarEvent); the bar rectangle may be
// null (shortcuts only).  Non-zero when the event was taken.
QX_EXTERN_C int32 MHandleLMenuEvent(WEventRecord* event, MenuHandle bar, const Rect* barRect);
// A press at the point of the bar (current window's coordinates) followed
// on the bar: 1 with the menu id, the item and the modifiers held at the
// choice; else 0 and all three 0.
QX_EXTERN_C int32 MPopUpLMenu(MenuHandle bar, const Rect* barRect, Point where, int32* menuId, int32* item,
                              int32* modifiers);
// Where the pointer was when tracking handed back to the bar (global).
Point MBarHandBackPoint();

// ---- clicks that end tracking outside the menus

// The shell's click-through switch (off at start).
QX_EXTERN_C void MSetClickThrough(Bool32 on);
// With the switch on, at main-loop level 1: a press (1, 19), or a release
// that ended a release-chosen tracking without drag (as a press), is posted
// to the document window under it, which comes to the front, active.
QX_EXTERN_C void MRepostClick(const WEventRecord* event, Bool32 dragged, Bool32 endedByRelease);
