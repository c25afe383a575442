// Run-time menus: the menu bars that running VIs show in place of the
// program's own, read from run-time menu files or from the menu resources
// of the program's resource file, built as list menus, kept in one record
// per VI with a menu refnum that diagrams name the menu by, and the
// functions diagrams call to read choices and change the menus.
//
// The window side (building, showing, choosing, refreshing, disposing) runs
// on the user-interface thread.  The exported functions may be called by
// execution threads: off that thread each hands its body to the
// user-interface thread (a posted callback) and waits for it.
#pragma once
#include <string>
#include <vector>

#include "engine/exec/callchain.h"
#include "mgsource/cookie.h"
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/occur.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/menus.h"

// ---- the file and the resources

constexpr uInt32 kRTMVersionCurrent = 0x01010000, kRTMVersionOld1 = 0x00000001, kRTMVersionOld2 = 0x01000000;
constexpr int32 kRTMSignatureLength = 13;
constexpr const char kRTMSignature[] = "Run-Time Menu";
constexpr int32 kRTMFileHeaderSize = 18;
constexpr ResType kRTMRsrcType = FourCC("RTMN");
constexpr uInt32 kRTMMemberType = FourCC("RMNU");
constexpr int32 kRTMAppMenuId = 100, kRTMMinimalMenuId = 101;
constexpr int32 kRTMMissingRsrcStrId = 2021;     // 'STR ' "Resource does not exist."
constexpr int32 kRTMSpecialTagsList = 18200, kRTMKeyNamesList = 18201, kRTMErrorTextsList = 18202;
// Manager errors of the readers.
enum : MgErr { kRTMBadVersionErr = 1033, kRTMBadFileErr = 1034, kRTMErrCode = 88 };
// Item levels nest at most this deep.
constexpr uInt32 kRTMMaxLevel = 64;
// Flags of an item.
enum : uInt32 { kRTMItemEnabled = 1, kRTMItemChecked = 2, kRTMItemShift = 4 };

// One item of a menu description, unflattened.
struct RTMItem {
  uInt32 level = 0;
  std::string name, tag;
  uInt32 tagHash = 0;
  uInt32 flags = 0;
  std::string shortcut;
};
// A menu description: the format word (its low 16 bits), the three header
// words and the items in depth-first order.
struct RTMMenuData {
  int32 format = 0;
  int32 header[3] = {0, 0, 0};
  std::vector<RTMItem> items;
};

// Parses a description of a version: 0, 42 when it ends early, 1033 for an
// unknown version, 1034 for levels nested too deep, 2 without memory.
// Flags are cut to 16 bits and tag hashes recomputed.
MgErr RTMParseMenuData(uInt32 version, const uChar* bytes, int32 size, RTMMenuData* out);
// The file checks: 1034 for a signature other than the length byte 13 and
// "Run-Time Menu" (case counting) or a file shorter than the header; else 0
// with the version in host order.
MgErr RTMCheckHeader(const uChar* bytes, int32 size, uInt32* version);
// Reads a menu file (extracting it from the executable's library or the VI
// library the path points into when need be, through a temporary file made
// exclusively and deleted after reading).
MgErr RTMReadMenuFile(Path path, RTMMenuData* out);
// Reads an 'RTMN' resource; a missing one is shown in an alert.
MgErr RTMReadMenuRsrc(RsrcFileRef file, int32 id, RTMMenuData* out);
// Parses an 'RTMN' body (version word, description): as RTMParseMenuData,
// 1034 for a body shorter than the version word.
MgErr RTMParseMenuRsrc(const uChar* bytes, int32 size, RTMMenuData* out);
QX_EXTERN_C Bool32 RTMIsMenuFile(Path path);
// PStrHash of a tag with case folded.
uInt32 RTMTagHash(const std::string& tag);
// The tag less leading space, BS, FF, LF, CR and TAB.
std::string RTMStripTag(const std::string& tag);

// ---- menus

// The record of a VI's run-time menu.
struct RTMVIMenuRec {
  MenuHandle menuBar;
  CPStrHandle selections;
  UHandle occurrences;
  Cookie refnum;
};
static_assert(sizeof(void*) != 4 || (sizeof(RTMVIMenuRec) == 16 && offsetof(RTMVIMenuRec, refnum) == 12),
              "run-time menu record");

// Bits of a VI's run-time menu word.
enum : uInt32 {
  kRTMSourceMask = 3, kRTMSourceMinimal = 1, kRTMSourceFile = 2,
  kRTMStartUnblocked = 4, kRTMBlocked = 0x10000, kRTMInitialBlock = 0x20000,
};
// The run-time menu flag in the third attribute word of a menu.
constexpr uInt32 kRTMMenuAttr = 32;
// Menu errors of the exported functions.
enum : int32 {
  kRTMNoErr = 0, kRTMMemErr = 1, kRTMAppItemExists = 2, kRTMAppItemMissing = 3, kRTMIllegalMenu = 4,
  kRTMPanelNotOpen = 5, kRTMTagNotFound = 6, kRTMIllegalShortcut = 7, kRTMAppItemFixed = 8,
  kRTMIllegalMenuTag = 9, kRTMIllegalIndex = 10, kRTMGroupOnBar = 11,
};
// Argument kinds of the polymorphic inputs.
enum : int32 { kRTMKindIndex = 3, kRTMKindString = 15, kRTMKindStrings = 25, kRTMKindIndices = 42 };

// The shortcut record diagrams pass: Shift, then the key text.
#pragma pack(push, 1)
struct RTMShortcutRec {
  uInt8 shift;
  LStrHandle key;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || (sizeof(RTMShortcutRec) == 5 && offsetof(RTMShortcutRec, key) == 1),
              "shortcut record: packed");

// The VI's record (null when none) and fields.
RTMVIMenuRec* RTMRecordOf(UHandle vi);
MgErr RTMNewVIMenuRef(UHandle vi);
void RTMDisposeVIMenuRef(UHandle vi);
// Frees the record itself (after RTMDisposeVIMenuRef).
void RTMFreeVIMenuRec(UHandle vi);
Bool32 RTMHasVIMenuRef(UHandle vi);
MgErr RTMLoadVIMenu(UHandle vi, MenuHandle* menu);
MenuHandle RTMCurrentMenu(UHandle vi);
Bool32 RTMIsRunTimeMenu(MenuHandle menu);
Bool32 RTMIsAppMenuID(MenuHandle menu);
// A linked item of a run-time menu: its program item's menu id, index and
// data word; false for any other.
Bool32 RTMResolveLinkedItem(MenuHandle menu, int32* menuId, int32* item, int32* data);
void RTMRefreshLinkedItems(WindowRef window, MenuHandle menu);
void RTMQueueSelection(UHandle vi, int32 menuId, int32 item);
Bool32 RTMTrackingBlocked(UHandle vi);
QX_EXTERN_C Bool32 RTMIsMenuRefnum(uInt32 refnum);
MgErr RTMCheckAppMenuTags(MenuHandle menu);
void RTMShutDown();
// The special tag n (1 to 6) into text; empty above 6.
void RTMGetSpecialTag(int32 n, PStr text);
// The special tags' entries: the groups the program generates.
enum : int32 { kRTMTagOpenWindows = 4, kRTMTagHelpFiles = 6 };
// The special kind of a tag, 0 for none.
int32 RTMSpecialKind(const std::string& tag);
Bool32 RTMIsAppItemTag(const std::string& tag);
// Parses a key text: character, key code and modifiers.
void RTMParseShortcut(const RTMShortcutRec* rec, int32* character, int32* keyCode, uInt32* modifiers);
// Builds a menu tree from items (the parent's children follow it); the
// first call without an owner.  0 or the manager error.
MgErr RTMBuildMenu(MenuHandle owner, const std::vector<RTMItem>& items, int32 parent, ConstPStr title,
                   MenuHandle* out);
void RTMDisposeMenu(MenuHandle menu);
// The item path "A:B" of a tag in a menu, empty when not found.
std::string RTMItemPath(MenuHandle menu, const std::string& tag);
// The menu-bar mark of a menu.
Bool32 RTMHasBarMark(MenuHandle menu);
// The VI a menu refnum names (null for a dead one).
UHandle RTMRefnumVI(uInt32 refnum);

// ---- exported for diagrams

QX_EXTERN_C int32 RTMGetMenuSelection(uInt32 refnum, LStrHandle* tag, LStrHandle* path, uInt32 flags,
                                      uInt8* nothingChosen);
QX_EXTERN_C int32 RTMEnableMenuTracking(uInt32 refnum, uInt32 flags);
QX_EXTERN_C int32 RTMAddMenuSelOccur(uInt32 refnum, Occurrence occurrence);
QX_EXTERN_C int32 RTMInsertMenuItem(uInt32 refnum, int32 namesKind, void* names, void* tags, LStrHandle menuTag,
                                    int32 afterKind, void* after, void* tagsOut);
QX_EXTERN_C int32 RTMDeleteMenuItem(uInt32 refnum, int32 itemsKind, void* items, LStrHandle menuTag);
QX_EXTERN_C int32 RTMGetMenuItemInfo(uInt32 refnum, LStrHandle tag, LStrHandle* name, uInt8* enabled,
                                     uInt8* checked, RTMShortcutRec* shortcut, UHandle* subTags);
QX_EXTERN_C int32 RTMSetMenuItemInfo(uInt32 refnum, LStrHandle tag, LStrHandle* name, uInt8* enabled,
                                     uInt8* checked, RTMShortcutRec* shortcut);
QX_EXTERN_C int32 RTMGetMenuShortcutInfo(uInt32 refnum, RTMShortcutRec* shortcut, LStrHandle* tag,
                                         LStrHandle* path);
QX_EXTERN_C MgErr RTMSetErrorIOClust(ErrorIOCluster* cluster, uInt8 status, int32 menuError, int32 unused,
                                     DataSpace callChain);

// The wrappers the program's menu commands reach run-time menus by (menu
// ids in place of menus).
Bool32 RTMIsRunTimeMenuID(int32 menuId);
Bool32 RTMResolveLinkedItemID(int32* menuId, int32* item, int32* data);
// How long a waiting call sleeps between checks of its VI (tests shorten it).
void RTMSetWaitSlice(int32 ms);
