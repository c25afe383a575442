// The texts of the application's menus and of the shell's menu commands,
// about box, splash window and VI Info dialog.  The run-time resource file
// carries them (its builder in tools/ writes them from these tables); the
// shell falls back on the same tables when the file lacks an entry.
//
// A menu list's entry 1 is the title; entry k + 1 the item with key k,
// written "text:tag" with an optional ":shortcut"; "-" is a separator.  A
// shortcut's modifier is "Mk", the menu key (Ctrl): the menus keep only it
// and Shift, so "Ctrl" would leave the item without a shortcut.
#pragma once
#include "mgsource/extcode.h"

struct MenuTextList {
  int32 id;
  const char* name;
  int32 count;
  const char* const* entries;
};

namespace menutexts {

inline constexpr const char* kBarDialog[] = {"_Dialog", "_Dialog File:APP_DIALOG_FILE", "_Dialog Edit:APP_DIALOG_EDIT"};
inline constexpr const char* kBarPanel[] = {"_Panel",      "_File:APP_FILE",       "_Edit:APP_EDIT",
                                            "_Operate:APP_OPERATE", "_Project:APP_PROJECT", "_Windows:APP_WINDOWS",
                                            "_Help:APP_HELP"};
inline constexpr const char* kBarVIDialog[] = {"_VIDialog", "_File:APP_FILE", "_Edit:APP_EDIT", "_Operate:APP_OPERATE",
                                               "_Help:APP_HELP"};
inline constexpr const char* kFile[] = {
    "_File",
    "_New:APP_NEW:Mk+N",
    "_Open...:APP_OPEN:Mk+O",
    "_Close:APP_CLOSE:Mk+W",
    "-:APP_SEPARATOR_FILE_1",
    "_Save:APP_SAVE:Mk+S",
    "Save _As...:APP_SAVE_AS",
    "Save A Cop_y As...:APP_SAVE_A_COPY_AS",
    "Save _with Options...:APP_SAVE_WITH_OPTIONS",
    "_Revert...:APP_REVERT",
    "-:APP_SEPARATOR_FILE_2",
    "Printer Se_tup...:APP_PRINTER_SETUP",
    "Page Se_tup...:APP_PAGE_SETUP",
    "Print _Documentation...:APP_PRINT_DOCUMENTATION",
    "_Print Window...:APP_PRINT_WINDOW:Mk+P",
    "-:APP_SEPARATOR_FILE_3",
    "Edit _VI Library...:APP_EDIT_VI_LIBRARY",
    "Edit Template...:APP_EDIT_TEMPLATE",
    "_Mass Compile...:APP_MASS_COMPILE",
    "Convert Code Resources...:APP_CONVERT_CODE",
    "Update Instrument Drivers...:APP_UPDATE_DRIVERS",
    "-:APP_SEPARATOR_FILE_4",
    "Recently Opened Files:APP_RECENT_FILES",
    "-:APP_SEPARATOR_FILE_5",
    "_Quit:APP_QUIT",
    "E_xit:APP_EXIT:Mk+Q",
    "Record Dialog Script...:APP_RECORD_SCRIPT",
    "Play Dialog Script...:APP_PLAY_SCRIPT",
    "Run Tests...:APP_RUN_TESTS",
    "Test Options...:APP_TEST_OPTIONS",
};
inline constexpr const char* kEdit[] = {
    "_Edit",
    "_Undo:APP_UNDO:Mk+Z",
    "_Redo:APP_REDO",
    "-:APP_SEPARATOR_EDIT_1",
    "Cu_t:APP_CUT:Mk+X",
    "_Copy:APP_COPY:Mk+C",
    "_Paste:APP_PASTE:Mk+V",
    "C_lear:APP_CLEAR",
    "-:APP_SEPARATOR_EDIT_2",
    "Remove Bad Wires:APP_REMOVE_BAD_WIRES",
    "Create SubVI:APP_CREATE_SUBVI",
    "-:APP_SEPARATOR_EDIT_3",
    "Panel Order...:APP_PANEL_ORDER",
    "Edit Control...:APP_EDIT_CONTROL",
    "Import Picture from File...:APP_IMPORT_PICTURE",
    "-:APP_SEPARATOR_EDIT_4",
    "Select All:APP_SELECT_ALL",
    "Find...:APP_FIND",
    "-:APP_SEPARATOR_EDIT_5",
    "Preferences...:APP_PREFERENCES",
    "User Name...:APP_USER_NAME",
    "Clear Password Cache:APP_CLEAR_PASSWORD_CACHE",
    "-:APP_SEPARATOR_EDIT_6",
    "Customize Palettes...:APP_CUSTOMIZE_PALETTES",
    "Edit Control & Function Palettes...:APP_EDIT_PALETTES",
};
inline constexpr const char* kOperate[] = {
    "_Operate",
    "_Run:APP_RUN:Mk+R",
    "_Stop:APP_STOP:Mk+.",
    "-:APP_SEPARATOR_OPERATE_1",
    "_Print at Completion:APP_PRINT_AT_COMPLETION",
    "_Log at Completion:APP_LOG_AT_COMPLETION",
    "Data Loggin_g:APP_DATA_LOGGING",
    "-:APP_SEPARATOR_OPERATE_2",
    "S_uspend when Called:APP_SUSPEND_WHEN_CALLED",
    "_Make Current Values Default:APP_MAKE_DEFAULT",
    "Reinitialize All To _Default:APP_REINITIALIZE",
    "-:APP_SEPARATOR_OPERATE_3",
    "_Change to Run Mode:APP_CHANGE_TO_RUN_MODE:Mk+M",
};
inline constexpr const char* kWindows[] = {
    "_Windows",
    "Show _Diagram:APP_SHOW_DIAGRAM:Mk+E",
    "Show VI _Info...:APP_SHOW_VI_INFO:Mk+I",
    "-:APP_SEPARATOR_WINDOWS_1",
    "Show Controls Palette:APP_SHOW_CONTROLS",
    "Show Functions Palette:APP_SHOW_FUNCTIONS",
    "Show Tools Palette:APP_SHOW_TOOLS",
    "Show _Clipboard:APP_SHOW_CLIPBOARD",
    "Show Error List:APP_SHOW_ERROR_LIST:Mk+L",
    "Show VI Hierarchy:APP_SHOW_HIERARCHY",
    "This VI's Callers:APP_CALLERS",
    "This VI's SubVIs:APP_SUBVIS",
    "-:APP_SEPARATOR_WINDOWS_2",
    "_Full Size:APP_FULL_SIZE:Mk+/",
    "-:APP_SEPARATOR_WINDOWS_3",
};
inline constexpr const char* kDialogEdit[] = {
    "_Dialog Edit",
    "_Undo:APP_DIALOG_UNDO:Mk+Z",
    "_Redo:APP_DIALOG_REDO",
    "-:APP_SEPARATOR_DIALOG_EDIT_1",
    "Cu_t:APP_DIALOG_CUT:Mk+X",
    "_Copy:APP_DIALOG_COPY:Mk+C",
    "_Paste:APP_DIALOG_PASTE:Mk+V",
    "C_lear:APP_DIALOG_CLEAR",
    "-:APP_SEPARATOR_DIALOG_EDIT_2",
    "Select All:APP_DIALOG_SELECT_ALL:Mk+A",
    "-:APP_SEPARATOR_DIALOG_EDIT_3",
    "Import Clipboard:APP_IMPORT_CLIPBOARD",
    "Export Clipboard:APP_EXPORT_CLIPBOARD",
    "Find...:APP_DIALOG_FIND:Mk+F",
    "Find Next:APP_DIALOG_FIND_NEXT:Mk+G",
};
inline constexpr const char* kDialogFile[] = {"_Dialog File", "_Close Dialog:APP_CLOSE_DIALOG"};
inline constexpr const char* kHelp[] = {
    "_Help",
    "Show _Help:APP_SHOW_HELP:Mk+H",
    "_Lock Help:APP_LOCK_HELP",
    "Simple Help:APP_SIMPLE_HELP",
    "-:APP_SEPARATOR_HELP_1",
    "_Online Reference...:APP_ONLINE_REFERENCE",
    "_Online Reference...:APP_ONLINE_REFERENCE_2",
    "Online Help for %p:APP_ONLINE_HELP_FOR_VI",
    "-:APP_SEPARATOR_HELP_2",
    "-:APP_SEPARATOR_HELP_3",
    "_About Quenlix...:APP_ABOUT",
};
inline constexpr const char* kProject[] = {"_Project"};
inline constexpr const char* kDataLogging[] = {
    "_Data Logging Menu",         "Log...:APP_LOG",
    "Retrieve...:APP_RETRIEVE",   "Purge Data...:APP_PURGE_DATA",
    "Change Log File Binding...:APP_CHANGE_LOG_FILE", "Clear Log File Binding:APP_CLEAR_LOG_FILE"};
// The pop-up lists of panel objects: the plot and cursor menus carry the
// items the picture menus hang on.
inline constexpr const char* kPlot[] = {"Plot",         "Common Plots:APP_COMMON_PLOTS", "Point Style:APP_POINT_STYLE",
                                        "Line Style:APP_LINE_STYLE", "Line Width:APP_LINE_WIDTH",
                                        "Bar Plots:APP_BAR_PLOTS",   "Fill Base Line:APP_FILL_BASE",
                                        "Interpolation:APP_INTERPOLATION", "Color:APP_PLOT_COLOR"};
inline constexpr const char* kCursor[] = {"Cursor",
                                          "Cursor Style:APP_CURSOR_STYLE",
                                          "Point Style:APP_CURSOR_POINT",
                                          "Color:APP_CURSOR_COLOR",
                                          "Show Name:APP_CURSOR_SHOW_NAME",
                                          "Bring to Center:APP_CURSOR_CENTER",
                                          "Go to Cursor:APP_CURSOR_GO_TO"};
inline constexpr const char* kScale[] = {"Scale", "Formatting...:APP_SCALE_FORMAT", "Style:APP_SCALE_STYLE",
                                         "Grid Options:APP_SCALE_GRID"};
inline constexpr const char* kScaleFormat[] = {"Format", "Decimal:APP_FORMAT_DECIMAL",
                                               "Engineering:APP_FORMAT_ENGINEERING"};
inline constexpr const char* kScaleStyle[] = {"Style", "Ticks Only:APP_STYLE_TICKS", "Ticks and Labels:APP_STYLE_LABELS"};
inline constexpr const char* kScaleGrid[] = {"Grid", "No Grid:APP_GRID_NONE", "Major Grid:APP_GRID_MAJOR"};
inline constexpr const char* kAboutPopUp[] = {"About", "Credits:APP_CREDITS", "Memory:APP_MEMORY"};
inline constexpr const char* kGraphPalette[] = {"Graph Palette", "Zoom:APP_GRAPH_ZOOM", "Pan:APP_GRAPH_PAN"};
inline constexpr const char* kLegend[] = {"Legend", "Plot Name:APP_LEGEND_NAME"};
// The marker spacing of a scale: item 1 uniform, 2 arbitrary.
inline constexpr const char* kMarker[] = {"Marker Spacing", "Uniform:APP_MARKER_UNIFORM",
                                          "Arbitrary:APP_MARKER_ARBITRARY"};
inline constexpr const char* kChartUpdate[] = {"Update Mode", "Strip Chart:APP_STRIP_CHART",
                                               "Scope Chart:APP_SCOPE_CHART", "Sweep Chart:APP_SWEEP_CHART"};

template <size_t N>
constexpr MenuTextList L(int32 id, const char* name, const char* const (&e)[N]) {
  return MenuTextList{id, name, int32(N), e};
}

}  // namespace menutexts

// Every menu list the run-time resource file carries.
inline constexpr MenuTextList kMenuTextLists[] = {
    menutexts::L(2, "_Dialog", menutexts::kBarDialog),
    menutexts::L(4, "_Panel", menutexts::kBarPanel),
    menutexts::L(5, "_VIDialog", menutexts::kBarVIDialog),
    menutexts::L(10, "_File", menutexts::kFile),
    menutexts::L(11, "_Edit", menutexts::kEdit),
    menutexts::L(12, "_Operate", menutexts::kOperate),
    menutexts::L(13, "_Windows", menutexts::kWindows),
    menutexts::L(14, "_Dialog Edit", menutexts::kDialogEdit),
    menutexts::L(15, "_Dialog File", menutexts::kDialogFile),
    menutexts::L(18, "_Help", menutexts::kHelp),
    menutexts::L(21, "_Project", menutexts::kProject),
    menutexts::L(25, "_Data Logging Menu", menutexts::kDataLogging),
    menutexts::L(57, "_Graph Palette", menutexts::kGraphPalette),
    menutexts::L(71, "_Plot", menutexts::kPlot),
    menutexts::L(77, "_Legend", menutexts::kLegend),
    menutexts::L(80, "_Cursor", menutexts::kCursor),
    menutexts::L(121, "_About", menutexts::kAboutPopUp),
    menutexts::L(98, "_Marker", menutexts::kMarker),
    menutexts::L(70, "_Scale", menutexts::kScale),
    menutexts::L(75, "_Scale Style", menutexts::kScaleStyle),
    menutexts::L(76, "_Scale Format", menutexts::kScaleFormat),
    menutexts::L(59, "_Scale Grid", menutexts::kScaleGrid),
};

// The shell's texts: list id, entry, text.
struct ShellText {
  int32 list;
  int32 index;
  const char* text;
};
enum : int32 {
  kQuitTextsListId = 14537, kAboutTextsListId = 316, kVIInfoTextsListId = 319, kHelpMenuListId = 18,
  kPluginNamesListId = 18400, kPluginOutputsListId = 18401, kDescriptionTextsListId = 11230,
};
inline constexpr ShellText kShellTexts[] = {
    {kQuitTextsListId, 1, "Quitting will abort all running VIs."},
    {kQuitTextsListId, 2, "Quit"},
    {kAboutTextsListId, 1, "Version %p - Click in window to continue."},
    {kVIInfoTextsListId, 1, "VI not saved to disk"},
    {kVIInfoTextsListId, 2, "Control not saved to disk"},
    {kVIInfoTextsListId, 3, "Global variable not saved to disk"},
    // The title of a control's description dialog, by the control's label.
    {kDescriptionTextsListId, 1, "%p Description"},
    // The plug-in VIs of the "plugins" folder by index, and the name of the
    // output that asks for the default action.
    {kPluginNamesListId, 1, "New.vi"},
    {kPluginNamesListId, 2, "Save.vi"},
    {kPluginNamesListId, 3, "About.vi"},
    {kPluginNamesListId, 4, "Help.vi"},
    {kPluginNamesListId, 5, "Open.vi"},
    {kPluginNamesListId, 6, "Close.vi"},
    {kPluginNamesListId, 7, "Quit.vi"},
    {kPluginOutputsListId, 1, "handled"},
    {kPluginOutputsListId, 2, "do default"},
};
inline const char* ShellTextOf(int32 list, int32 index) {
  for (const ShellText& t : kShellTexts)
    if (t.list == list && t.index == index) return t.text;
  return nullptr;
}
// The scrolling credits of the about box: 'TEXT' 121, entries 1 and 2
// (one text, its two entries on lines of their own).
inline constexpr const char* kAboutCredits[2] = {
    "Quenlix run-time engine.  Built by the Quenlix developers.",
    "Thanks to everyone who tested it."};
constexpr int32 kAboutCreditsTextId = 121;
// The splash window's fixed text ('TEXT' 5200) and its launch pictures.
inline constexpr const char* kSplashText = "Quenlix Run-Time Engine";
constexpr int32 kSplashTextId = 5200, kSplashImageColour = 4997, kSplashImageMono = 4996;
