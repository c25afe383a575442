// The file dialog: the one routine through which the system and external
// code ask the operator for a file, a folder or a VI library, with its name
// check, path messages, default folder, per-kind last folders and lists of
// recently used folders.  The dialog is the system's own panel ('DLG2'
// 1700); this platform offers no native file dialog, so the native face is
// never chosen (the "useNativeFileDialog" key is still read).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "shell/dialog.h"

// Flags of FileDialog.
enum FDFlags : int32 {
  kFDLibsAreFolders = 0x1,
  kFDNewFolder = 0x2,
  kFDNewLibrary = 0x4,
  kFDChooseFiles = 0x8,
  kFDChooseFolders = 0x10,
  kFDChooseLibraries = 0x20,
  kFDBrowse = 0x40,
  kFDSave = 0x80,
  kFDOpen = 0x100,
  kFDNoCancel = 0x200,
  kFDExecKind = 0x400,
};

// Called with the full path of each listed file and the filter data; 0 or
// less hides the file.
typedef int32 (*FDFilterProc)(Path file, int32 data);

// Asks for a file, folder or VI library: 0 when something was chosen (path
// and name out), 43 when cancelled, 6 for a call while another runs,
// another manager error when listing or path handling failed.  reserved
// must be 0; kinds is an 'FDFL' id of the run-time resource file, or -1.
QX_EXTERN_C MgErr FileDialog(int32 h, int32 v, ConstPStr prompt, Path path, PStr name, ConstPStr pattern,
                             int32 flags, int32 reserved, FDFilterProc filter, int32 filterData, int32 kinds);
// 0 when the name is legal in the folder, 1 when not; the message goes to
// message when given, else to a one-button alert.  options has no effect.
QX_EXTERN_C int32 FDCheckName(ConstPStr name, Path folder, int32 options, PStr message);
// The entry of the list formatted with the path and shown in a one-button
// alert (0) or a two-button alert (its answer).
int32 FDPathAlert(int32 listId, int32 entry, Path path, Bool32 oneButton, ConstPStr button1, ConstPStr button2,
                  int32 defaultButton);
// An entry of a list of the run-time file as it stands (the file dialog's
// own list falls back to its compiled-in texts); false when there is none.
bool FDListText(int32 listId, int32 entry, PStr out);
// The entry (a format with one "%p") with the path abbreviated to fit.
void FDFormatPathMessage(int32 listId, int32 entry, Path path, PStr out);
// While the error is 7 at a volume's top level, asks whether to read the
// drive again; 1 to go on (the folder is readable now), 0 to give up.
int32 FDRetryDriveAlert(Path path, MgErr err);
// The folder the next dialog starts in; FDSetDefaultDir's folder must exist
// (else 7) and becomes the last folder of both kinds and the process's
// current folder (1 when that fails).
MgErr FDGetDefaultDir(Path out);
MgErr FDSetDefaultDir(Path folder);
// Set and clear the in-native-dialog state; setting the state it already
// has is reported.
QX_EXTERN_C void FDBeginNativeModal();
QX_EXTERN_C void FDEndNativeModal();
Bool32 FDInNativeModal();
// The recent folder lists, read at start-up and written at shut-down when
// they changed (the key removed when a list is empty).
void FDRecentInit();
void FDRecentSave();
// Fills the file-dialog hooks of the VI search and the file functions.
void ShellInstallFileDialogHooks();

// ---- Texts ----------------------------------------------------------------------------------
constexpr int32 kFDTextsListId = 11500;
constexpr const char* kFDTextsListName = "_File Dialog box";
constexpr int32 kFDTextCount = 40;
// Entry N at N - 1.
inline constexpr const char* kFDTexts[kFDTextCount] = {
    "Desktop", "/", "Drives", "Open", "OK", "Compress >>", "%p exists already.  Do you want to replace it?",
    "%p exists already.", "%p does not exist.",
    "%p is not an existing directory. Please make sure this name is correct.", "Name of new directory:",
    "Name of new VI library:", "Name of new directory or VI library:", "Cannot read from drive %p. Try again?",
    "Name \"%p\" is illegal because:\r", "It is longer than 31 characters.\r", "It is longer than 31 characters.\r",
    ("It is invalid;  it must have 1 to 8 legal characters plus an optional extension of a '.' followed by no "
     "more than 3 legal characters.\r"),
    "It is empty.\r", "Its extension \"%s\" is longer than 3 characters.\r",
    "It contains the illegal character \"%s\".\r", "It is a reserved name.\r",
    "It starts with \".\" and may be incorrectly interpreted as a device name.",
    "Quenlix cannot create new directories or libraries in %p.", "Quenlix cannot create new files in %p.",
    "Error accessing %p.\r", "%p is an existing %p.", "An error occurred while listing the contents of %p.",
    "You must select something in the directory %p.",
    "Quenlix cannot save to path %p because it is not an existing directory or VI library.", "top level",
    "(bad path)", "file", "directory", "VI library", "View All", "Custom Pattern", "Untitled",
    "%p is not a readable VI library.", "File name cannot end with dot."};
enum : int32 {
  kFDStrDrives = 3, kFDStrOpen = 4, kFDStrOK = 5, kFDStrReplace = 7, kFDStrExists = 8, kFDStrMissing = 9,
  kFDStrNewDir = 11, kFDStrNewLib = 12, kFDStrNewDirOrLib = 13, kFDStrRetryDrive = 14, kFDStrIllegal = 15,
  kFDStrTooLong = 16, kFDStrNot83 = 18, kFDStrEmpty = 19, kFDStrLongExt = 20, kFDStrBadChar = 21,
  kFDStrReserved = 22, kFDStrLeadingDot = 23, kFDStrCantCreate = 24, kFDStrNoFilesHere = 25,
  kFDStrAccess = 26, kFDStrExistingKind = 27, kFDStrListFailed = 28, kFDStrMustSelect = 29,
  kFDStrCantSave = 30, kFDStrTopLevel = 31, kFDStrBadPath = 32, kFDStrFile = 33, kFDStrDirectory = 34,
  kFDStrLibrary = 35, kFDStrViewAll = 36, kFDStrCustom = 37, kFDStrUntitled = 38, kFDStrBadLibrary = 39,
  kFDStrEndsWithDot = 40,
};
constexpr int32 kFDDialogId = 1700, kFDNewBoxId = 1800;

// ---- File kinds ('FDFL') --------------------------------------------------------------------
// The 'FDFL' resources of the run-time file: id, name, then per group its
// name and types.
struct FDKindsResource {
  int32 id;
  const char* name;
  std::vector<std::pair<const char*, std::vector<const char*>>> groups;
};
inline const std::vector<FDKindsResource>& FDKindsResources() {
  static const std::vector<FDKindsResource> k = {
      {128, "VIs", {{"VIs", {"QXIN"}}}},
      {129, "Controls", {{"Controls", {"QXCC"}}}},
      {130, "CINs & Subroutines", {{"CINs & Subroutines", {"QXSB"}}}},
      {131, "VIs & Controls", {{"VIs & Controls", {"QXIN", "QXCC"}}, {"VIs", {"QXIN"}}, {"Controls", {"QXCC"}}}},
      {132, "Datalogs", {{"Datalogs", {"QXDL"}}}},
      {133, "VI Libraries", {{"VI Libraries", {"QXAR"}}}},
      {134, "Help Files", {{"Help FIles", {"ALTH"}}}},
      {135, "Shared Libraries", {{"Shared Libraries", {"shlb"}}}},
      {136, "Template VIs & Controls",
       {{"Template VIs & Controls", {"sVIN", "sVCC"}}, {"Template VIs", {"sVIN"}}, {"Template Controls", {"sVCC"}}}},
      {137, "VIs, Controls & Templates",
       {{"VIs & Controls", {"QXIN", "QXCC", "sVIN", "sVCC"}}, {"VIs", {"QXIN", "sVIN"}},
        {"Controls", {"QXCC", "sVCC"}}, {"Templates", {"sVIN", "sVCC"}}}},
      {138, "VIs & Templates", {{"VIs", {"QXIN", "sVIN"}}, {"Template VIs", {"sVIN"}}}},
      {139, "Controls & Templates", {{"Controls", {"QXCC", "sVCC"}}, {"Template Controls", {"sVCC"}}}},
      {140, "Run Time Menu Files", {{"Run-Time Menu Files", {"RMNU"}}}},
      {141, "ActiveX Typelibraries", {{"Type Libraries", {"tlib", "olib", "ocxf"}}, {"Dynamic Libraries", {"shlb"}}}},
  };
  return k;
}

struct FDKindGroup {
  std::string name;
  std::vector<uInt32> types;
};
// Reads an 'FDFL' resource: false (no groups) when a count or a padded name
// runs past the bytes or bytes are left over.
bool FDParseKinds(const uChar* bytes, int32 size, std::vector<FDKindGroup>* groups);
// The kind ring: "View All", the groups, "Custom Pattern".
struct FDKindRing {
  std::vector<FDKindGroup> groups;
  int32 Count() const { return int32(groups.size()) + 2; }
  bool IsCustom(int32 index) const { return index == Count() - 1; }
  // Whether a file of the type and name stays listed with the ring at index
  // (the pattern is used for "Custom Pattern"; empty means "*").
  bool Keeps(int32 index, uInt32 type, ConstPStr name, ConstPStr pattern) const;
};
// The ring of the resource (none for -1 or a missing or bad resource);
// 0 or the resource manager's error other than not found.
MgErr FDLoadKindRing(int32 kinds, FDKindRing* ring);

// ---- Recent folders ---------------------------------------------------------------------------
constexpr int32 kFDRecentMax = 7;
struct RecentDir {
  Path folder;
  uInt32 type;  // 0 a folder, 'QXAR' a VI library
};
struct RecentDirList {
  std::vector<RecentDir> entries;
  Path lastDir = nullptr;
};
// The list of the kind (0 edit, 1 exec).
RecentDirList& FDRecentList(int32 kind);
// Puts a copy of the folder at the front (an equal one moves), keeping 7.
void FDRecentAdd(RecentDirList& list, Path folder, uInt32 type);
void FDRecentRemove(RecentDirList& list, int32 index);

// ---- The own dialog panel (fdpanel.cpp) ---------------------------------------------------
// Item numbers of 'DLG2' 1700 and 1800.
enum : int32 {
  kFDItemList = 1, kFDItemName = 2, kFDItemPathRing = 3, kFDItemDriveRing = 4, kFDItemEject = 5, kFDItemNew = 6,
  kFDItemSelect = 7, kFDItemMain = 8, kFDItemCancel = 9, kFDItemPrompt = 10, kFDItemKindRing = 11,
  kFDItemPattern = 12,
};
enum : int32 { kFDBoxName = 1, kFDBoxFolder = 2, kFDBoxLibrary = 3, kFDBoxPrompt = 5 };
// List glyphs.
enum : int32 {
  kGlyphSubr = 24, kGlyphControl = 23, kGlyphDatalog = 22, kGlyphVI = 21, kGlyphLibrary = 26, kGlyphFile = 13,
  kGlyphDisk = 18, kGlyphServer = 20, kGlyphFloppy = 17, kGlyphFolder = 14, kGlyphParent = 15,
  kGlyphThisLibrary = 27, kGlyphDivider = -1,
};
// One listed entry.
struct FDEntry {
  std::string text;
  int32 glyph = kGlyphFile;
  uInt32 type = 0;
  bool enabled = true;
};
// The state of the running call, held while the panel runs.
struct FDState {
  int32 flags = 0;
  FDFilterProc filter = nullptr;
  int32 filterData = 0;
  Path folder = nullptr;      // the current folder (empty: the volumes)
  Path fixed = nullptr;       // without 0x40, the one folder allowed
  bool inLibrary = false;
  std::string proposed;       // the name proposed or remembered
  std::string pattern;        // item 12
  FDKindRing kinds;
  int32 kindIndex = 0;
  RecentDirList* recent = nullptr;
  std::vector<FDEntry> entries;
  std::vector<Path> pathRing;  // item 3's folders (null for "Drives")
  std::vector<std::string> pathRingTexts;  // item 3's texts, recent folders last
  std::vector<int32> ringRecent;           // the recent entry of each of them
  std::vector<std::string> drives;
  int32 driveIndex = 0;
  int32 rememberedSelection = -1;
  int32 lastFocus = 0;
  int32 quitCode = 43;
  Path chosen = nullptr;       // the chosen item on 0
  std::string chosenName;
  DialogRef dialog = nullptr;
};
FDState& FDCurrent();
// Enters a folder (levels to climb: 0 the folder itself, -1 a fresh start):
// 0 or the error that left the dialog where it was.
MgErr SetDir(Path folder, int32 levels);
// Lists the folder into the state and the list item; 0 or the listing's error.
MgErr FDFillList();
// The folder's entries with their types (a VI library: its members).
MgErr FDList(Path folder, std::vector<FDEntry>* entries, std::vector<int32>* listFlags);
void FDSetPathRing();
void FDSetDriveRing();
// The handling of a committed change of an item.
void FDItemHit(int32 item);
// The existence questions for a choosable item: true when it may go out.
bool FDExistenceCheck(Path item, ConstPStr name);
// The own dialog's filter.
int32 FDDialogFilter(const WEventRecord* event, DialogRef dialog, int32 userData);
// Sets the whole own face up on a loaded dialog (items, rings, start
// folder, focus): 0 or the error that ends the call.
MgErr FDPanelStart(DialogRef dialog, Path start, ConstPStr prompt, int32 h, int32 v);
// The new-folder box's filter.
int32 CallbackProc(const WEventRecord* event, DialogRef dialog, int32 userData);
// Test hook: runs in place of the dialog's loop (null: the dialog manager's).
void FDSetRunHook(void (*hook)(DialogRef dialog));
void FDSetNewBoxRunHook(void (*hook)(DialogRef dialog));
// The glyph of a listed entry.
int32 FDGlyphOf(uInt32 type, bool folder);
