// The texts and menus of run-time menus that the run-time resource file
// carries: the special tags (list 18200), the key names (list 18201), the
// menu errors (list 18202), the catalog of application items ('RTMN' 100)
// and the minimal menu ('RTMN' 101).  The tools write the file from these
// tables; the shell falls back on the texts when the file lacks an entry.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"

namespace rtmtexts {

inline constexpr const char* kSpecialTags[6] = {"APP_",        "APP_SEPARATOR",  "APP_USER_PROJECT_VIS",
                                                "APP_OPEN_WINDOWS", "APP_WIZARDS", "APP_HELP_FILES"};
// Sorted by name, as the key-name table searches them.
inline constexpr const char* kKeyNames[18] = {"Break", "End", "F1", "F10", "F11", "F12", "F2", "F3", "F4",
                                              "F5",    "F6",  "F7", "F8",  "F9",  "Home", "Insert", "PageDown",
                                              "PageUp"};
// Entry N is the text of menu error N.
inline constexpr const char* kMenuErrors[11] = {
    "Not enough memory to complete operation",
    "One or more application items already exist",
    "One or more application items not found",
    "Illegal Menu",
    "VI front panel not open, menu not found",
    "One or more tags not found",
    "Illegal Short Cut",
    "Cannot modify application menu item",
    "Illegal menu tag",
    "One or more illegal menu item index",
    "Group item cannot be inserted as a menubar item",
};
inline constexpr const char kMissingRsrcText[] = "Resource does not exist.";

// One item of a stored menu: level, name, tag, flags, shortcut.
struct MenuItemText {
  uInt32 level;
  const char* name;
  const char* tag;
  uInt32 flags;
  const char* shortcut;
};
// The program's resources carry enabled items with this flag word.
constexpr uInt32 kStoredEnabled = 0x00020001;

#define QX_RTM_SEP(level) {level, "-", "APP_SEPARATOR", kStoredEnabled, ""}
inline constexpr MenuItemText kAppMenu[] = {
    {0, "Menu Bar", "", kStoredEnabled, ""},
    {1, "_File", "APP_FILE", kStoredEnabled, ""},
    {2, "_New", "APP_NEW", kStoredEnabled, "N"},
    {2, "_Open...", "APP_OPEN", kStoredEnabled, "O"},
    {2, "_Close", "APP_CLOSE", kStoredEnabled, "W"},
    QX_RTM_SEP(2),
    {2, "_Save", "APP_SAVE", kStoredEnabled, "S"},
    {2, "Save _As...", "APP_SAVE_AS", kStoredEnabled, ""},
    {2, "Save A Cop_y As...", "APP_SAVE_A_COPY_AS", kStoredEnabled, ""},
    {2, "Save _with Options...", "APP_SAVE_WITH_OPTIONS", kStoredEnabled, ""},
    {2, "_Revert...", "APP_REVERT", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Printer Se_tup...", "APP_PRINTER_SETUP", kStoredEnabled, ""},
    {2, "Page Se_tup...", "APP_PAGE_SETUP", kStoredEnabled, ""},
    {2, "Print _Documentation...", "APP_PRINT_DOCUMENTATION", kStoredEnabled, ""},
    {2, "_Print Window...", "APP_PRINT_WINDOW", kStoredEnabled, "P"},
    QX_RTM_SEP(2),
    {2, "Edit _VI Library...", "APP_EDIT_VI_LIBRARY", kStoredEnabled, ""},
    {2, "Edit Template...", "APP_EDIT_TEMPLATE", kStoredEnabled, ""},
    {2, "_Mass Compile...", "APP_MASS_COMPILE", kStoredEnabled, ""},
    {2, "Convert Code Resources...", "APP_CONVERT_CODE", kStoredEnabled, ""},
    {2, "Update Instrument Drivers...", "APP_UPDATE_DRIVERS", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Recently Opened Files", "APP_RECENT_FILES", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "_Quit", "APP_QUIT", kStoredEnabled, ""},
    {2, "E_xit", "APP_EXIT", kStoredEnabled, "Q"},
    {1, "_Edit", "APP_EDIT", kStoredEnabled, ""},
    {2, "_Undo", "APP_UNDO", kStoredEnabled, "Z"},
    {2, "_Redo", "APP_REDO", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Cu_t", "APP_CUT", kStoredEnabled, "X"},
    {2, "_Copy", "APP_COPY", kStoredEnabled, "C"},
    {2, "_Paste", "APP_PASTE", kStoredEnabled, "V"},
    {2, "C_lear", "APP_CLEAR", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Remove Bad Wires", "APP_REMOVE_BAD_WIRES", kStoredEnabled, ""},
    {2, "Create SubVI", "APP_CREATE_SUBVI", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Panel Order...", "APP_PANEL_ORDER", kStoredEnabled, ""},
    {2, "Edit Control...", "APP_EDIT_CONTROL", kStoredEnabled, ""},
    {2, "Import Picture from File...", "APP_IMPORT_PICTURE", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Select All", "APP_SELECT_ALL", kStoredEnabled, "A"},
    {2, "Find...", "APP_FIND", kStoredEnabled, "F"},
    QX_RTM_SEP(2),
    {2, "Preferences...", "APP_PREFERENCES", kStoredEnabled, ""},
    {2, "User Name...", "APP_USER_NAME", kStoredEnabled, ""},
    {2, "Clear Password Cache", "APP_CLEAR_PASSWORD_CACHE", kStoredEnabled, ""},
    {2, "Customize Palettes...", "APP_CUSTOMIZE_PALETTES", kStoredEnabled, ""},
    {1, "_Operate", "APP_OPERATE", kStoredEnabled, ""},
    {2, "_Run", "APP_RUN", kStoredEnabled, "R"},
    {2, "_Stop", "APP_STOP", kStoredEnabled, "."},
    QX_RTM_SEP(2),
    {2, "_Print at Completion", "APP_PRINT_AT_COMPLETION", kStoredEnabled, ""},
    {2, "_Log at Completion", "APP_LOG_AT_COMPLETION", kStoredEnabled, ""},
    {2, "Data Loggin_g", "APP_DATA_LOGGING", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "S_uspend when Called", "APP_SUSPEND_WHEN_CALLED", kStoredEnabled, ""},
    {2, "_Make Current Values Default", "APP_MAKE_DEFAULT", kStoredEnabled, ""},
    {2, "Reinitialize All To _Default", "APP_REINITIALIZE", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "_Change to Run Mode", "APP_CHANGE_TO_RUN_MODE", kStoredEnabled, "M"},
    {1, "_Project", "APP_PROJECT", kStoredEnabled, ""},
    {2, "Show VI Hierarchy", "APP_SHOW_HIERARCHY", kStoredEnabled, ""},
    {2, "This VI's Callers", "APP_CALLERS", kStoredEnabled, ""},
    {2, "This VI's SubVIs", "APP_SUBVIS", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "User Project VIs", "APP_USER_PROJECT_VIS", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Wizards", "APP_WIZARDS", kStoredEnabled, ""},
    {1, "_Windows", "APP_WINDOWS", kStoredEnabled, ""},
    {2, "Show _Diagram", "APP_SHOW_DIAGRAM", kStoredEnabled, "E"},
    {2, "Show VI _Info...", "APP_SHOW_VI_INFO", kStoredEnabled, "I"},
    QX_RTM_SEP(2),
    {2, "Show Controls Palette", "APP_SHOW_CONTROLS", kStoredEnabled, ""},
    {2, "Show Functions Palette", "APP_SHOW_FUNCTIONS", kStoredEnabled, ""},
    {2, "Show Tools Palette", "APP_SHOW_TOOLS", kStoredEnabled, ""},
    {2, "Show _Clipboard", "APP_SHOW_CLIPBOARD", kStoredEnabled, ""},
    {2, "Show Error List", "APP_SHOW_ERROR_LIST", kStoredEnabled, "L"},
    QX_RTM_SEP(2),
    {2, "_Full Size", "APP_FULL_SIZE", kStoredEnabled, "/"},
    QX_RTM_SEP(2),
    {2, "Open Windows", "APP_OPEN_WINDOWS", kStoredEnabled, ""},
    {1, "_Help", "APP_HELP", kStoredEnabled, ""},
    {2, "Show _Help", "APP_SHOW_HELP", kStoredEnabled, "H"},
    {2, "_Lock Help", "APP_LOCK_HELP", kStoredEnabled, ""},
    {2, "Simple Help", "APP_SIMPLE_HELP", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "_Online Reference...", "APP_ONLINE_REFERENCE", kStoredEnabled, ""},
    {2, "Online Help for This VI", "APP_ONLINE_HELP_FOR_VI", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Help Files", "APP_HELP_FILES", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "_About...", "APP_ABOUT", kStoredEnabled, ""},
};
static_assert(sizeof kAppMenu / sizeof kAppMenu[0] == 95, "the catalog of application items");

inline constexpr MenuItemText kMinimalMenu[] = {
    {0, "Menu Bar", "", kStoredEnabled, ""},
    {1, "_File", "APP_FILE", kStoredEnabled, ""},
    {2, "_New", "APP_NEW", kStoredEnabled, "N"},
    {2, "_Open...", "APP_OPEN", kStoredEnabled, "O"},
    {2, "_Close", "APP_CLOSE", kStoredEnabled, "W"},
    QX_RTM_SEP(2),
    {2, "_Save", "APP_SAVE", kStoredEnabled, "S"},
    {2, "Save _As...", "APP_SAVE_AS", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Printer Se_tup...", "APP_PRINTER_SETUP", kStoredEnabled, ""},
    {2, "_Print Window...", "APP_PRINT_WINDOW", kStoredEnabled, "P"},
    QX_RTM_SEP(2),
    {2, "E_xit", "APP_EXIT", kStoredEnabled, "Q"},
    {1, "_Edit", "APP_EDIT", kStoredEnabled, ""},
    {2, "_Undo", "APP_UNDO", kStoredEnabled, "Z"},
    QX_RTM_SEP(2),
    {2, "Cu_t", "APP_CUT", kStoredEnabled, "X"},
    {2, "_Copy", "APP_COPY", kStoredEnabled, "C"},
    {2, "_Paste", "APP_PASTE", kStoredEnabled, "V"},
    {2, "C_lear", "APP_CLEAR", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "Select All", "APP_SELECT_ALL", kStoredEnabled, "A"},
    QX_RTM_SEP(2),
    {2, "Preferences...", "APP_PREFERENCES", kStoredEnabled, ""},
    {1, "_Operate", "APP_OPERATE", kStoredEnabled, ""},
    {2, "_Run", "APP_RUN", kStoredEnabled, "R"},
    {2, "_Stop", "APP_STOP", kStoredEnabled, "."},
    QX_RTM_SEP(2),
    {2, "_Print at Completion", "APP_PRINT_AT_COMPLETION", kStoredEnabled, ""},
    {2, "_Log at Completion", "APP_LOG_AT_COMPLETION", kStoredEnabled, ""},
    {2, "Data Loggin_g", "APP_DATA_LOGGING", kStoredEnabled, ""},
    {1, "_Windows", "APP_WINDOWS", kStoredEnabled, ""},
    {2, "Show VI _Info...", "APP_SHOW_VI_INFO", kStoredEnabled, "I"},
    {2, "Show _Clipboard", "APP_SHOW_CLIPBOARD", kStoredEnabled, ""},
    QX_RTM_SEP(2),
    {2, "_Full Size", "APP_FULL_SIZE", kStoredEnabled, "/"},
    QX_RTM_SEP(2),
    {2, "Open Windows", "APP_OPEN_WINDOWS", kStoredEnabled, ""},
    {1, "_Help", "APP_HELP", kStoredEnabled, ""},
    {2, "Show _Help", "APP_SHOW_HELP", kStoredEnabled, "H"},
    QX_RTM_SEP(2),
    {2, "_About...", "APP_ABOUT", kStoredEnabled, ""},
};
static_assert(sizeof kMinimalMenu / sizeof kMinimalMenu[0] == 42, "the minimal menu");
#undef QX_RTM_SEP

}  // namespace rtmtexts
