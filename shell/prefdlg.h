// The preferences dialog: ten pages of controls tied to configuration keys.
// On OK each value that changed since the dialog opened is written to the
// configuration file, or removed from it when it equals its compiled-in
// default, so the file holds only values that differ from the defaults.
#pragma once
#include <string>
#include <vector>

#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "shell/dialog.h"

// One control of a page: the dialog item, the value kind (CfgKind: 0
// colour, 3 Boolean, 4 long, 9 float; -1 a control without a value of its
// own), the 1-based configuration key (0 none), the layout word, and the
// live value, its compiled-in default and the copy saved at opening.
struct PrefItem {
  int32 control;
  int32 kind;
  int32 key;
  uInt32 layout;
  void* current;
  const void* def;
  void* saved;
};
static_assert(sizeof(void*) != 4 || sizeof(PrefItem) == 28, "seven words");
constexpr int32 kPrefNoValue = -1;
constexpr uInt32 kPrefKeepPlace = 0x40000000, kPrefBeside = 0x10000000;

enum : int32 { kPrefDialogId = 6300, kPrefPageCount = 10, kPrefPageRingItem = 3 };
enum : int32 { kPrefPaths = 0, kPrefPerformance, kPrefFrontPanel, kPrefColors, kPrefPrinting, kPrefTimeDate,
               kPrefMisc, kPrefServerConfig, kPrefServerTcp, kPrefServerVIs };
// The page's table, ending with control 0; null outside 1..9 (page 0 is
// driven by code).
const PrefItem* PrefPageItems(int32 page);
// The item of the key (by name) on any page; null when none.
const PrefItem* PrefItemByKey(const char* key);

// Opens the dialog modally: page -1 shows the page shown last (0 at first);
// with page 0 and a path the path's text is preset for the search path.
// 1 for OK, 0 for Cancel, or the error that kept the dialog from opening.
QX_EXTERN_C int32 PrefDialog(int32 page, Path path);
QX_EXTERN_C int32 PrefDialogFilter(const WEventRecord* event, DialogRef dialog, int32 userData);
// The page shown last (0 before the first opening).
int32 PrefLastPage();
void PrefShowPage(DialogRef dialog, int32 page);
// Copies every item's live value into its saved copy and the paths into
// their working and saved copies (made at the first call); with a dialog,
// sets the controls.
void PrefLoadValues(DialogRef dialog);

// The paths page: kinds 0 library folder, 1 temporary folder, 2 default
// folder, 3 menus folder (no chooser entry), 4 the VI search path.
enum : int32 { kPrefPathLib = 0, kPrefPathTmp, kPrefPathDefault, kPrefPathMenus, kPrefPathSearch, kPrefPathKinds };
// The compiled-in default and the live value of each folder kind and the
// search path, owned by the application's folders; set at start-up.  The
// calls copy what they are given.
void PrefSetPathValues(int32 kind, const std::vector<Path>& live, const std::vector<Path>& def);
// The working copy of a kind (a folder kind holds one path).
std::vector<Path>& PrefWorkingPaths(int32 kind);
Bool32 PrefPathIsDefault(int32 kind);
void PrefShowPathKind(DialogRef dialog, int32 kind, Bool32 useDefault);
void PrefStorePathList(DialogRef dialog, int32 kind);
// A text beginning with "<topvi>", "<vilib>", "<userlib>", "<instrlib>" or
// "<foundvi>" becomes a path whose first component is that symbol, made
// absolute; any other text reads as a path.  0, or the path manager's error.
MgErr PrefTextToPath(const uChar* text, int32 length, Path* path);
// True unless the path is an existing folder, ends in "*" below an existing
// folder, is a VI library file, or begins with one of the symbols.
Bool32 PrefPathNeedsWarning(Path path);
Bool32 PrefPathIsSymbolic(Path path);
// Inserting, replacing or adding the text for the kind: 0 when done; 1 when
// the special-path alert refused it; 43 when the operator declined the
// warning.  where: 0 before, 1 after, 2 replace the index.
MgErr PrefInsertPathText(int32 kind, const uChar* text, int32 length, int32 index, int32 where);

// Access lists: "+" allow or "-" deny, then the pattern.  Glyphs: 1004
// allow, 1005 deny, 0x10000 allow and 0x20000 deny the parser refuses.
enum : int32 { kGlyphAllow = 1004, kGlyphDeny = 1005, kGlyphAllowRefused = 0x10000, kGlyphDenyRefused = 0x20000 };
struct PrefAccessItem {
  std::string text;
  int32 glyph;
};
// The parser of a list's entries ("+" and the text): positive when accepted.
typedef int32 (*PrefAccessParser)(ConstPStr entry);
void PrefSetAccessParsers(PrefAccessParser tcp, PrefAccessParser vi);
// The TCP list's parser (tcp set), else the exported-VI list's.
PrefAccessParser PrefAccessParserInUse(Bool32 tcp);
// The items a stored list shows: entries not starting "+" or "-" and entries
// of one character are dropped; an empty result is one empty allow item.
std::vector<PrefAccessItem> PrefListAccess(CPStrHandle stored, bool tcpList);
// The glyph of a text with allow or deny kept from the given glyph.
int32 PrefAccessGlyph(const std::string& text, bool allow, bool tcpList);
bool PrefGlyphAllows(int32 glyph);
// The stored form of the items: each non-empty item as "+" or "-" and its
// text.  Null when memory is short.
CPStrHandle PrefStoreAccess(const std::vector<PrefAccessItem>& items);

// A key on a separator text: the new one-character text (a punctuation
// character), or the current separator for any other key.
uChar PrefSeparatorKey(uChar key, uChar current);

// Applying, as OK does: reads the dialog's controls into the live values
// (none without a dialog), then writes what changed.  The first failing
// write is shown once with ErrDialog and returned; the live values stay.
MgErr PrefApply(DialogRef dialog);
MgErr PrefWritePaths();
MgErr PrefWriteChanged();
MgErr PrefWriteAccessList();
// Writes an access list to its key ("server.tcp.access" or
// "server.vi.access"), or removes the key when the list equals the list's
// compiled-in default: the configuration's error.
MgErr PrefWriteAccessKey(bool tcpList, CPStrHandle list);
// What the preferences ask of the VI server, which the shell does not link:
// its live access lists and their rebuilding.  Filled at start-up; null
// members: no lists, nothing rebuilt.
struct PrefServerHooks {
  CPStrHandle (*tcpAccessList)();
  CPStrHandle (*viAccessList)();
  void (*specifyTcpAccess)(CPStrHandle list);
  void (*specifyViAccess)(CPStrHandle list);
  MgErr (*setListening)(Bool32 on);
};
void PrefSetServerHooks(const PrefServerHooks& hooks);
const PrefServerHooks& PrefServerHooksInUse();
// The dialog's working access lists and the live ones.
std::vector<PrefAccessItem>& PrefDialogAccess(bool tcpList);
CPStrHandle PrefLiveAccess(bool tcpList);
// The search-path entry the linker notes: the index of "<foundvi>" or
// "<foundvi>\*" after the last OK, -1 when none.
int32 PrefFoundVIIndex();
// The file dialog's directory choice for "Browse..." (the file dialog
// belongs to its own part): 0 with the path, 43 when cancelled.
typedef MgErr (*PrefBrowseProc)(ConstPStr prompt, Path* chosen);
void PrefSetBrowseProc(PrefBrowseProc proc);
PrefBrowseProc PrefBrowseProcInUse();
// Forgets the working copies and the remembered page (tests).
void PrefResetState();
