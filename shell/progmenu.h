// The application's menus: built at start-up from the menu lists of the
// run-time resource file and trimmed to what the run-time system offers,
// the Help menu's help-folder items, the application commands (quit among
// them) and the plug-in VIs; and the VI window's side of the menus: their
// states for a VI before a menu opens, the Windows list, the online-help
// item and the commands that concern the VI and its panel.
// User-interface thread only.
#pragma once
#include <string>
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"

// Menus of the menu-id table by their list ids.
enum : int32 {
  kBarDialogId = 2, kBarPlainId = 3, kBarPanelId = 4, kBarVIDialogId = 5,
  kFileMenu = 10, kEditMenu = 11, kOperateMenu = 12, kWindowsMenu = 13, kDialogEditMenu = 14,
  kDialogFileMenu = 15, kEditMenu16 = 16, kHelpMenu = 18, kEditMenu20 = 20, kProjectMenu = 21,
  kDataLogMenu = 25, kAboutPopUpMenu = 121,
};
// Menu attribute bits (the first attribute word): a menu of VI paths, a
// menu of help files.
enum : uInt32 { kMenuAttrVIMenu = 8, kMenuAttrHelpMenu = 16 };
// Plug-in indexes of list 18400.
enum : int32 { kPluginAbout = 3, kPluginOpen = 5, kPluginQuit = 7 };
// The events the quit sequence posts to the root window.
constexpr WEventCode kLeaveNestedLoopEvent = 48;

// What the menus ask of layers above the shell and of later parts; every
// null member does nothing and answers 0 (no selection, nothing to paste,
// the help window hidden, no online help, a plug-in missing).
struct ProgMenuHooks {
  int32 (*sendAction)(ObjHeap panel, int32 action, void* argument);  // in a transaction
  int32 (*sendVIAction)(UHandle vi, int32 action, void* argument);
  Bool32 (*pasteEnabled)(ObjHeap panel);
  Bool32 (*panelHasSelection)(ObjHeap panel);
  Bool32 (*focusTextSelected)(ObjHeap panel);
  Bool32 (*panelHasDescriptions)(ObjHeap panel);
  void (*setIndicator)(ObjHeap heap, int32 object);  // OSetIndicator
  void (*showClipboard)();
  // Help window and online help.
  Bool32 (*helpShown)();
  void (*helpToggle)();
  void (*helpHide)();
  Bool32 (*onlineHelpValid)(Path path, ConstPStr tag);
  void (*onlineHelpForVI)(UHandle vi);
  void (*preferencesDialog)();
  // Run-time menus.
  MgErr (*rtmCheckAppMenuTags)(MenuHandle bar);
  Bool32 (*rtmIsRunTimeMenu)(int32 menu);
  Bool32 (*rtmResolveLinkedItem)(int32* menu, int32* item, int32* command);
  Bool32 (*rtmBlocked)(UHandle vi);
  // The menus other layers make: the colour palette (65), plot line
  // styles (48) and widths (93).
  MgErr (*initColorPalette)(MenuHandle* menu);
  MgErr (*initLineStyles)(MenuHandle* menu);
  MgErr (*initLineWidths)(MenuHandle* menu);
  void (*stopServer)();
  MgErr (*callInstrumentByPath)(Path path, ConstPStr output, Bool32* value);
  void (*hideFloaters)();
};
void SetProgMenuHooks(const ProgMenuHooks& hooks);
const ProgMenuHooks& ProgMenuHooksInUse();

// ---- start-up

// Builds every application menu, the picture menus and their attachments,
// trims them and fills the Help menu: 0, or the first error of a menu the
// bars need (the others are reported and left out).
QX_EXTERN_C MgErr InitAppMenus();
// The run-time trimming of the standard menus (with "simplePopups" the
// further removals) and the Help menu's online-reference item.
QX_EXTERN_C void InitMenuBarMenus();
// A list menu under menuId from string list listId: entries without their
// colon and tag are reported and left out, keys stay entry - 1.  0 or the
// error (a missing list: 15).
MgErr BuildListMenu(RsrcFileRef file, int32 listId, int32 menuId, MenuHandle* menu);
// A picture menu of count cells in columns columns: cell i takes its name
// from entry 1 of list base + i, its image from image base + i (none when
// missing).
QX_EXTERN_C MgErr BuildStringMenu(int32 menuId, ConstPStr name, int32 base, int32 count, int32 columns);
QX_EXTERN_C void AttachStandardSubMenus();

// ---- help folders

// "Equal ignoring case" or a pattern match ("*" any run, "?" one character)
// against any entry of the list.
QX_EXTERN_C Bool32 NameInPatternList(ConstPStr name, const std::vector<std::string>* patterns);
// "__" in front; with ellipsis, a name of more than three characters not
// ending in ".hlp" gets "..." (a help file's ".hlp" is replaced by it).
QX_EXTERN_C void MakeMenuItemLabel(ConstPStr name, Bool32 ellipsis, Bool32 helpFile, PStr label);
// Fills menu from the folder after position (the items added, recursively;
// a folder already visited in this walk is skipped).
QX_EXTERN_C int32 BuildHelpDirMenu(Path folder, MenuHandle menu, Bool32 viOnly, int32 position,
                                   const std::vector<std::string>* exclude);
// Disposes the paths the help-folder items of the menu and its sub-menus
// hold as their data.
void DisposeMenuPaths(MenuHandle menu);
// A VI library's top-level entries as items after position: how many.
QX_EXTERN_C int32 AddLibraryTopLevelItems(Path library, MenuHandle menu, int32 position);

// ---- application commands

QX_EXTERN_C int32 AppMenuCommand(int32 menu, int32 item, int32 command);
// The plug-in VI of list 18400 entry index in the "plugins" folder: called
// with call set (its default output into *wantDefault), else opened (flags
// 5) into *vi.  Non-zero when missing.
QX_EXTERN_C MgErr RunPluginVI(int32 index, UHandle* vi, Bool32 call, int32 reserved, Bool32* wantDefault);
// The quit sequence.
void AppQuit();

// ---- the VI window's menus

QX_EXTERN_C int32 VIWindSetupMenus(ObjHeap panel);
QX_EXTERN_C int32 VIWindMenuCommand(int32 menu, int32 item, ObjHeap panel, WindowRef window);
QX_EXTERN_C int32 VIWindOpenMenuPath(ObjHeap panel, int32 menu, int32 item, Bool32 strict);
// The Windows menu's list of VI windows for the window's VI (null: none
// marked).
void VIWindBuildWindowsList(UHandle current);
// The name a VI opened from a path menu left (the shared name buffer).
ConstPStr VIWindMenuPathVIName();
// The VI whose online help the Help menu's item named at the last set-up
// (null when the item was disabled).
UHandle VIWindOnlineHelpTarget();

// Fills the shell's start-up, event-filter and VI-window hooks with these.
void ShellInstallMenuHooks();
