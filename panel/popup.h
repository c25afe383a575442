// Pop-up menus of panel objects: the menu of a clicked object is built by
// its class methods for message 44, level by level up the class chain, and
// the chosen item goes back to the same chain, where the level that added it
// carries it out.  Items are entries of the run-time resource file's string
// list of pop-up items, their code the entry's index; each inserted item is
// recorded in the shell's tracked-item table with the level that added it.
// User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/path.h"
#include "mgsource/window/menus.h"
#include "panel/objects.h"

// The record sent with the pop-up message: the leading words of the panel
// event handler's action record.
struct PopupMsgRecord {
  Point point;          // the mouse, local coordinates
  int32 hitPartId;      // the part that took the click
  int32 hitPartOrder;
  uInt32 category;      // "DDO " or "COSM" of the object that raised it
  MenuHandle menu64;
  MenuHandle menu72;    // the menu filled here
  MenuHandle menu82;
  int32 level;          // the level counter; minus the chosen item's level when running it
  int32 nested;         // the pop-up concerns a control inside a container
  int32 menuId;         // the chosen item's top menu
  int32 item;           // the chosen item's code
  int32 phase;          // 1 build, 3 run
};
static_assert(sizeof(void*) != 4 || (sizeof(PopupMsgRecord) == 48 && offsetof(PopupMsgRecord, level) == 28 &&
                                     offsetof(PopupMsgRecord, phase) == 44),
              "pop-up record words");
enum : int32 { kPopupBuild = 1, kPopupRun = 3 };
constexpr int32 kPopupMenuId = 72;

// Item codes (entries of the pop-up item list).
enum PopupMenuItem : int32 {
  kPopupSeparator = 0,
  kPopupDescription = 1,
  kPopupReinitialize = 6,
  kPopupShowLastElement = 24,
  kPopupEmptyArray = 25,
  kPopupCutData = 124,
  kPopupCopyData = 125,
  kPopupPasteData = 126,
  kPopupStartSelection = 128,
  kPopupEndSelection = 129,
  kPopupSmoothUpdates = 158,
  kPopupShowSelection = 159,
  kPopupSelectAll = 223,
  kPopupOnlineHelp = 265,
  kPopupTagBrowser = 277,
  kPopupExplainError = 316,
  kPopupExplainWarning = 317,
  kPopupCreateTag = 318,
  kPopupEditTag = 319,
  kPopupCopyTag = 320,
};
constexpr int32 kPopupItemsListId = 300;

// The item's text (empty when the list has no such entry).
QX_EXTERN_C void GetPopupMenuString(int32 code, PStr text);
// Inserts the item of the code (a separator for code 0) at the position
// (-1: the end, 0: the top), tagged with the level, disabled or checked as
// asked; its 1-based position, 0 when it could not be added.
QX_EXTERN_C int32 PopupInsertItem(MenuHandle menu, int32 level, int32 code, int32 position, Bool32 enabled,
                                  Bool32 checked);
// Hangs the menu of the given id under the item, tagged with the level: a
// choice in it comes back as that menu id with the item's number.
QX_EXTERN_C void PopupAttachSubmenu(MenuHandle menu, int32 item, int32 level, MenuHandle submenu);
// The generic pop-up of data display objects.
QX_EXTERN_C int32 DDOOPopupMethod(ObjHeap heap, int32 object, PopupMsgRecord* rec);
// The explain item at the top of the menu, for a controller showing an
// error cluster; whether the controller shows a cluster.
QX_EXTERN_C Bool32 AddExplainErrorItem(ObjHeap heap, int32 controller, MenuHandle menu, int32 level);
// The explaining VI in the help folder: 0 when it exists, 1 when it does
// not, 2 when no path could be made; the path goes to *path (disposed when
// path is null).
QX_EXTERN_C int32 ExplainErrorPath(Path* path);
constexpr const char kExplainErrorVIName[] = "Error Explainer.vi";
// The tag items; the tag VIs (browser: the text chosen, whether cancelled;
// configuration: mode 0 create, 1 edit, 2 copy, the text in and out,
// whether accepted); the text stored in the tag (the reply).
QX_EXTERN_C void TagAddItems(ObjHeap heap, int32 tag, MenuHandle menu, int32 level);
QX_EXTERN_C MgErr TagRunBrowser(ObjHeap heap, UHandle* text, Bool32* cancelled);
QX_EXTERN_C MgErr TagRunConfig(ObjHeap heap, UHandle* text, int32 mode, Bool32* accepted);
QX_EXTERN_C int32 TagStoreText(ObjHeap heap, int32 tag, int32 textPart, UHandle text);
// The tag VIs' path resources and the string lists of their parameter names.
constexpr int32 kTagBrowserPathId = 2000, kTagConfigPathId = 2001;
constexpr int32 kTagBrowserParamsListId = 18100, kTagConfigParamsListId = 18101;

// The pop-up methods of the classes (slot 44); null for the others.
ObjMethodAddr OPopupMethodFor(int32 cls);

// The shell's services, filled at start-up: the tracked insertion (without
// it items go into the menu untracked), help references and online help,
// and calling a VI by its path.
struct PopupShellHooks {
  int32 (*menuInsertItemAt)(int32 owner, MenuHandle menu, ConstPStr text, int32 data, int32 position) = nullptr;
  // Records a sub-menu hung under an item (not yet placed) with the id its
  // choices translate to, and attaches it.
  MgErr (*menuAttachRecord)(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item, int32 subMenuId,
                            int32 position, int32 flag) = nullptr;
  int32 (*helpGetVIHelpRef)(ObjHeap heap, int32 object, Path* file, PStr keyword) = nullptr;
  int32 (*helpOpenOnlineForObj)(ObjHeap heap, int32 object) = nullptr;
  MgErr (*callInstrumentByPath)(Path path, int32 setPanelFlag, int32 nIn, int32 nOut, ...) = nullptr;
};
PopupShellHooks SetPopupShellHooks(const PopupShellHooks& hooks);
