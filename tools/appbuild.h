// The application builder's last step: a copy of the program with a
// resource file and the trailer that finds it appended.
#pragma once
#include <string>

#include "tools/rsrcwriter.h"

namespace qxbuild {

// Adds the key names of the configuration file, the string list
// "ConfigTokenStrings" (STR# 11400), to an application file.
void AddConfigTokenStrings(rsrcw::Writer* writer);

// Adds what the run-time resource file carries for VI libraries: the texts
// of the library tools, "_QLB tools errors" (STR# 14551), and the palette
// images 6001 and 6002 (icon families) that new libraries copy.
void AddLibraryToolResources(rsrcw::Writer* writer);

// Adds the long names and the quantities of the units of measure, "_Units:
// Unit Names" (STR# 320) and "_Units: Quantity Names" (STR# 321), entry N
// for unit number N, and the text that replaces an over-long unit label
// (STR# 11190 entry 1).
void AddUnitNameStrings(rsrcw::Writer* writer);

// Adds the texts of the VI load alert: its first line ('STR ' 81,
// "_LoadError") and the load errors ("_loadErrors", STR# 14547, 31 entries,
// entry N the text of load error N, empty for the codes without one).
void AddLoadErrorTexts(rsrcw::Writer* writer);

// Adds the version resources: 'vers' 1 "QX app" and 2 "QX system" (the
// run-time's own version), 3 "oldest loadable" and 4 "oldest compatible"
// (the oldest VI version it converts), 5 "Language", and their bodies: the
// big-endian version word, two zero bytes, the short and long texts.
void AddVersionResources(rsrcw::Writer* writer);
rsrcw::Bytes VersResource(uInt32 version, const std::string& text);

// Adds the loader's warnings, "_loadWarnings" (STR# 14545).
void AddLoadWarningTexts(rsrcw::Writer* writer);

// Adds the linker's alert for a type definition used recursively on a
// front panel ('STR ' 2023, "%p" the VI's name).
void AddLinkerTexts(rsrcw::Writer* writer);

// Adds the texts of the run commands: the broken-VI alert ("_RO VI Errors",
// STR# 14200), the datalog alerts (STR# 701 and 700), the run-time error
// report (STR# 313) and the resetting dialog's 'STR ' 2026.
void AddRunCommandTexts(rsrcw::Writer* writer);
// The texts of finding and loading VIs: STR# 15000, 14535, 11501, 299 and 318.
void AddFindTexts(rsrcw::Writer* writer);
// The file dialog's texts (STR# 11500) and file kinds ('FDFL' 128 to 141).
void AddFileDialogResources(rsrcw::Writer* writer);

// Adds the text of the alert shown when external code asks to load a 16-bit
// library ('STR ' 2002, "_invalid LoadLibrary call").
void AddInvalidLibraryText(rsrcw::Writer* writer);

// Adds the string lists of the run-time's fixed-text table: "_Device
// Manager Strings" (501), "_File Manager Strings" (502), "_Font Manager
// Strings" (500), "_Virtual Keys" (503) and "_Menu Modifiers" (504).
void AddAppIndStrings(rsrcw::Writer* writer);
// The start-up's texts: the disk-space alerts (STR# 29370), the precision
// names (STR# 11200) and the automation alert (STR# 15003).
void AddStartUpTexts(rsrcw::Writer* writer);

// Adds the texts of the manager errors 1 to 90, "_mgerr descriptions"
// (STR# 10001), from the table the debug reports use.
void AddMgErrTexts(rsrcw::Writer* writer);
// The application error list "_App Error Strings" (STR# 10002, 45
// entries): entry N is the text of error 999 + N; the entries without a
// text of their own hold the unspecified error's, but for 1043 and 1044,
// which are empty.
void AddAppErrTexts(rsrcw::Writer* writer);
// The automation server's identifiers (STR# 25000: six of our own, in
// braces), its product and type library names (STR# 25001) and its
// messages (STR# 18300, items 1 to 15).
void AddAutomationServerTexts(rsrcw::Writer* writer);
extern const char* const kAutomationServerGuids[6];
// The type-information file's name (item 2 of list 25001).
constexpr const char* kAutomationTypeLibName = "quenlix50.tlb";
// The Print command's texts (STR# 302): entry 8, the alert of a record with
// every print option off, and entry 11, the detail of a failed job; the
// entries before them are empty.
void AddPrintTexts(rsrcw::Writer* writer);

// Adds the resources the run-time itself reads from its resource file (the
// application file): the window titles "_Window Titles" (STR# 301), the
// memory-full texts "_MemFullOperations" (STR# 10000), the icons of the
// root VI (5468), of new VIs (5500) and the loader's fallback (5501), the
// version resources, the load warnings, and what the builders above add.
// Whatever else the run-time reads from its file is added here too.
void AddRunTimeResources(rsrcw::Writer* writer);
// The application's menu lists (bars 2, 4 and 5, the standard menus and the
// pop-up lists), the quit, about, VI Info, Help and plug-in texts, the about
// box's credits, the splash text and its launch pictures.
void AddMenuResources(rsrcw::Writer* writer);
// The menus of the numeric and path controls: "_Radix menu" (STR# 57) and
// "_Path Validity menu" (STR# 77), each its title and then its items.
void AddPanelMenuTexts(rsrcw::Writer* writer);
constexpr int32 kRadixMenuListId = 57, kPathValidityMenuListId = 77;
// The pop-up menus' item texts ("_PopUp Items", STR# 300, 325 entries, the
// texts at their codes, the others empty), the tag VIs' relative paths
// ("PTH0" 2000 browser, 2001 configuration, below the VI library folder)
// and their parameter names (STR# 18100 browser, 18101 configuration).
void AddPopupItemTexts(rsrcw::Writer* writer);
constexpr int32 kPopupItemCount = 325;
constexpr const char* kTagBrowserVIPath[] = {"tags", "Tag Browser.vi"};
constexpr const char* kTagConfigVIPath[] = {"tags", "Tag Configuration.vi"};
constexpr const char* kTagBrowserParams[] = {"tag", "cancelled"};
constexpr const char* kTagConfigParams[] = {"mode", "tag in", "tag out", "accepted"};
// The main event filter's texts: the opened document's status (15001) and
// the memory-full text (317, entry 2).
void AddShellEventTexts(rsrcw::Writer* writer);
// The embedded-object container's load alert (STR# 15002): the message,
// "Abort" and "Continue".
constexpr int32 kContainerTextsListId = 15002;
void AddContainerTexts(rsrcw::Writer* writer);
// The messages of the VI string import (list 19001): log headers, error
// and warning texts, alerts.
void AddVIStringTexts(rsrcw::Writer* writer);
constexpr int32 kWindowTitlesListIdRT = 301;
constexpr const char* kWindowTitlesListName = "_Window Titles";
constexpr int32 kMemFullTextsListId = 10000;
constexpr const char* kMemFullTextsListName = "_MemFullOperations";
// The entries of "_Window Titles": entry 3 names the hidden root VI, entry
// 10 the help window.
extern const char* const kWindowTitles[10];
extern const char* const kMemFullTexts[5];
// The listboxes' loaded symbols: icon families of ids 10000 to 10022.
constexpr int32 kListboxSymbolFirstId = 10000, kListboxSymbols = 23;
// An icon family (kind 5) as the resources of one id: "ICON", "icl4",
// "icl8" and "ICN#" (the icon and its mask), drawn from a pattern of 32 x 32
// pixels: on(x, y) black, inside(x, y) filled with a colour.
typedef bool (*IconPixel)(int x, int y);

// The panel's built-in images: the glyph bitmap "BMAP" 129 with its
// rectangle list "nrct" 129 (94 cells of 16 x 16, 16 to a row), and the
// stored control images 140 to 168 (icon families).
enum : int32 {
  kGlyphBitmapId = 129,
  kGlyphCells = 94,
  kGlyphColumns = 16,
  kGlyphCell = 16,
  kStoredImageFirstId = 140,
  kStoredImages = 29,
};
void AddPanelImages(rsrcw::Writer* writer);
// A rectangle list of the first count glyph cells.
rsrcw::Bytes GlyphRectList(int32 count);
std::vector<std::pair<uInt32, rsrcw::Bytes>> IconFamilyResources(IconPixel on, IconPixel inside, uChar colour4,
                                                                  uChar colour8);

// Copies the program file exeHost to outHost (with its permissions), then
// appends resourceFile and the trailer (flags: bit 0 marks a built
// application) whose offset is where resourceFile starts.  On failure
// nothing is left at outHost and *error (may be null) says why.
bool AppendToProgram(const std::string& exeHost, const rsrcw::Bytes& resourceFile, const std::string& outHost,
                     std::string* error = nullptr, uInt32 flags = 1);

}  // namespace qxbuild
