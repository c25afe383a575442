#include "shell/prefdlg.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/exec/exec.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/sorting.h"
#include "mgsource/window/wport.h"
#include "shell/shellinit.h"

namespace {

// ---- The item tables -------------------------------------------------------------------

struct ItemDef {
  int32 page, control, kind;
  const char* key;  // null: no key
  int32 def;        // a float's default is 0.0
  int32 word;       // the preference-area word, -1 none
  uInt32 layout;
};
constexpr uInt32 kBelow = 4, kBesideGap = kPrefBeside | 8;
constexpr int32 kNone = -1;

const ItemDef kItems[] = {
    {1, 24, kCfgBool, "anxiousMemoryDeallocation", 0, kPrefAnxiousMemoryDeallocation, kPrefKeepPlace},
    {1, 25, kCfgBool, "useDefaultTimer", 0, kNone, kBelow},
    {1, 26, kCfgBool, "checkAvailDiskSpace", 1, kPrefCheckAvailDiskSpace, kBelow},
    {1, 27, kCfgInt, "abortMin", 500, kPrefAbortMin, kBelow},
    {1, 28, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {1, 29, kCfgInt, "warnMin", 2000, kPrefWarnMin, kBelow},
    {1, 30, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {1, 31, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {1, 32, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {2, 40, kCfgBool, "offscreenUpdates", 1, kPrefOffscreenUpdates, kPrefKeepPlace},
    {2, 41, kCfgBool, "returnKeyAction", 0, kPrefReturnKeyAction, kBelow},
    {2, 42, kCfgBool, "useAllFKeys", 1, kPrefUseAllFKeys, kBelow},
    {2, 43, kCfgBool, "useLocaleDecimalPt", 1, kNone, kBelow},
    {2, 44, kCfgInt, "blinkSpeed", 1000, kPrefBlinkSpeed, kBelow},
    {2, 45, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {3, 59, kPrefNoValue, nullptr, 0, kNone, kPrefKeepPlace},
    {3, 60, kCfgColor, "scrollbar.background", 0xB3B3B3, kPrefScrollbarBackground, kBelow},
    {3, 61, kCfgColor, "menu.foreground", 0x000000, kPrefMenuForeground, kBelow},
    {3, 62, kCfgColor, "menu.background", 0xFFFFFF, kPrefMenuBackground, kBelow},
    {3, 63, kCfgColor, "blinkFG", 0xFFFF00, kPrefBlinkFG, kBelow},
    {3, 64, kCfgColor, "blinkBG", 0xFF0000, kPrefBlinkBG, kBelow},
    {4, 76, kPrefNoValue, nullptr, 0, kNone, kPrefKeepPlace},
    {4, 77, kCfgBool, "printerDithering", 0, kNone, kBelow},
    {4, 78, kCfgBool, "postScriptPrinting", 0, kNone, kBelow},
    {4, 79, kCfgBool, "postScriptLevel2", 1, kNone, kBesideGap},
    {4, 80, kCfgBool, "printUsingBitmap", 0, kNone, kBelow},
    {4, 81, kCfgBool, "colorPrinting", 1, kNone, kBelow},
    {4, 82, kCfgBool, "useMargins", 0, kNone, kBelow},
    {4, 83, kCfgBool, "marginUnitInch", 1, kNone, kBelow},
    {4, 84, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {4, 85, kCfgNumber, "marginT", 0, kNone, kBelow},
    {4, 86, kCfgNumber, "marginL", 0, kNone, kBesideGap},
    {4, 87, kCfgNumber, "marginR", 0, kNone, kBesideGap},
    {4, 88, kCfgNumber, "marginB", 0, kNone, kBesideGap},
    {5, 99, kPrefNoValue, nullptr, 0, kNone, kPrefKeepPlace},
    {5, 100, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {5, 101, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {5, 102, kCfgInt, "dateSeparator", '/', kPrefDateSeparator, kBelow},
    {5, 103, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {5, 104, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {5, 105, kCfgInt, "timeSeparator", ':', kPrefTimeSeparator, kBelow},
    {6, 110, kCfgBool, "showTipStrings", 1, kPrefShowTipStrings, kPrefKeepPlace},
    {6, 111, kCfgBool, "useNativeFileDialog", 1, kPrefUseNativeFileDialog, kBelow},
    {6, 112, kCfgBool, "dropThroughClicks", 1, kPrefDropThroughClicks, kBelow},
    {6, 113, kCfgBool, "hotMenus", 1, kPrefHotMenus, kBelow},
    {6, 114, kCfgBool, "skipNavigatorDialog", 0, kPrefSkipNavigatorDialog, kBelow},
    {6, 115, kCfgBool, "cleanupVisa", 0, kNone, kBelow},
    {6, 116, kCfgBool, "readOnlyLock", 0, kPrefReadOnlyLock, kBelow},
    {7, 118, kCfgBool, "server.tcp.enabled", 0, kPrefServerTcpEnabled, kPrefKeepPlace},
    {7, 119, kCfgInt, "server.tcp.port", 3363, kPrefServerTcpPort, kBesideGap},
    {7, 120, kCfgBool, "server.ole.enabled", 1, kPrefServerOleEnabled, kBelow},
    {7, 121, kCfgBool, "server.vi.callsEnabled", 1, kPrefServerVICallsEnabled, kBelow},
    {7, 122, kCfgBool, "server.vi.propertiesEnabled", 1, kPrefServerVIPropertiesEnabled, kBelow},
    {7, 123, kCfgBool, "server.app.propertiesEnabled", 1, kPrefServerAppPropertiesEnabled, kBelow},
    {8, 127, kPrefNoValue, nullptr, 0, kNone, kPrefKeepPlace},
    {8, 128, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {8, 129, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {8, 130, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {8, 131, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {8, 132, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {8, 133, kCfgBool, "server.tcp.paranoid", 1, kPrefServerTcpParanoid, kBelow},
    {9, 135, kPrefNoValue, nullptr, 0, kNone, kPrefKeepPlace},
    {9, 136, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {9, 137, kPrefNoValue, nullptr, 0, kNone, kBelow},
    {9, 138, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {9, 139, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
    {9, 140, kPrefNoValue, nullptr, 0, kNone, kBesideGap},
};
constexpr int32 kItemCount = int32(sizeof kItems / sizeof kItems[0]);

int32 KeyIndex(const char* name) {
  for (int32 i = 1; i <= kCfgKeyCount; ++i)
    if (std::strcmp(CfgKeyTableName(i), name) == 0) return i;
  return 0;
}

struct Tables {
  int32 cur[kItemCount], def[kItemCount], saved[kItemCount];
  std::vector<PrefItem> pages[kPrefPageCount];
  Tables() {
    for (int32 i = 0; i < kItemCount; ++i) {
      const ItemDef& d = kItems[i];
      cur[i] = saved[i] = def[i] = d.def;
      pages[d.page].push_back({d.control, d.kind, d.key ? KeyIndex(d.key) : 0, d.layout, &cur[i], &def[i], &saved[i]});
    }
    for (auto& p : pages) p.push_back({0, 0, 0, 0, nullptr, nullptr, nullptr});
  }
};
Tables& T() {
  static Tables* t = new Tables;
  return *t;
}
int32 IndexOf(const PrefItem& item) { return int32(static_cast<int32*>(item.current) - T().cur); }

// ---- State of the dialog -----------------------------------------------------------------

struct CodeValue {
  const char* key;
  int32 def, cur, saved;
};
// Values driven by code: the time page's Booleans, the multithreading box
// and the cooperation level.
CodeValue gHour24{"hour24", 0, 0, 0}, gDayFirst{"dateDayFirst", 0, 0, 0}, gYearFirst{"yearFirst", 0, 0, 0};
CodeValue gStdN{"ESys.StdNParallel", -1, -1, -1}, gCoop{"coopLevel", 0, 0, 0};
int32 gLastPage = 0, gShownPage = -1, gPathKind = 0, gFoundVI = -1;
bool gOnce = false;
std::vector<Path> gLive[kPrefPathKinds], gDefault[kPrefPathKinds], gWork[kPrefPathKinds], gSaved[kPrefPathKinds];
std::vector<PrefAccessItem> gDlgAccess[2];
PrefAccessParser gParser[2] = {nullptr, nullptr};
PrefBrowseProc gBrowse = nullptr;
PrefServerHooks gServer{};
CPStrHandle ServerTcpList() { return gServer.tcpAccessList ? gServer.tcpAccessList() : nullptr; }
CPStrHandle ServerViList() { return gServer.viAccessList ? gServer.viAccessList() : nullptr; }
void ServerSpecifyTcp(CPStrHandle list) {
  if (gServer.specifyTcpAccess) gServer.specifyTcpAccess(list);
}
void ServerSpecifyVi(CPStrHandle list) {
  if (gServer.specifyViAccess) gServer.specifyViAccess(list);
}

const char* const kPathKeys[kPrefPathKinds] = {"libdir", "tmpdir", "defaultdir", "menusDir", "viSearchPath"};
const char* const kSymbols[] = {"<topvi>", "<vilib>", "<userlib>", "<instrlib>", "<foundvi>"};

ConstPStr Key(const char* name) { return CfgKeyName(KeyIndex(name)); }

Path CopyPath(Path p) {
  if (!p) return nullptr;
  Path c = FEmptyPath(nullptr);
  if (c && FPathCpy(c, p) != kNoErr) {
    FDisposePath(c);
    return nullptr;
  }
  return c;
}
void DisposeAll(std::vector<Path>* v) {
  for (Path p : *v) FDisposePath(p);
  v->clear();
}
void CopyAll(std::vector<Path>* dst, const std::vector<Path>& src) {
  DisposeAll(dst);
  for (Path p : src) dst->push_back(CopyPath(p));
}
bool SameList(const std::vector<Path>& a, const std::vector<Path>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FPathCmp(a[i], b[i]) != 0) return false;
  return true;
}

// The first component of the path as text ("" for none).
std::string FirstComponent(Path p) {
  if (!p || !*p || (*p)->count < 1) return "";
  const uChar* c = (*p)->comps;
  return std::string(reinterpret_cast<const char*>(c + 1), c[0]);
}
std::string LastComponent(Path p) {
  if (!p || !*p || (*p)->count < 1) return "";
  const uChar* c = (*p)->comps;
  for (int32 i = 1; i < (*p)->count; ++i) c += 1 + c[0];
  return std::string(reinterpret_cast<const char*>(c + 1), c[0]);
}

// Records the first failure of the writes; they go on.
MgErr Note(MgErr* first, MgErr err) {
  if (err && !*first) *first = err;
  return err;
}

// Writes the value of the kind under the key unless it equals the default,
// else removes the key.
MgErr WriteOrRemove(int32 kind, ConstPStr key, const void* value, bool isDefault) {
  return isDefault ? CfgRemove(kind, key) : CfgWrite(kind, key, value);
}

bool ValuesDiffer(int32 kind, const int32* a, const int32* b) {
  if (kind == kCfgNumber) {
    float x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y || x > y;
  }
  return *a != *b;
}

MgErr WriteCode(CodeValue* v, bool always) {
  if (!always && v->cur == v->saved) return kNoErr;
  const bool isLong = v == &gStdN || v == &gCoop;
  return WriteOrRemove(isLong ? kCfgInt : kCfgBool, Key(v->key), &v->cur, v->cur == v->def);
}

// A handle list of copies of the paths, for the list kind.
UHandle PathListHandle(const std::vector<Path>& v) {
  UHandle h = AZNewHClr(4);
  for (Path p : v)
    if (h && HObjListInsert(h, int32(reinterpret_cast<uintptr_t>(p)), 0x7FFFFFFF) != kNoErr) {
      AZDisposeHandle(h);
      return nullptr;
    }
  return h;
}

bool SameAccess(CPStrHandle a, CPStrHandle b) {
  const int32 na = a ? (*a)->cnt : 0, nb = b ? (*b)->cnt : 0;
  if (na != nb) return false;
  return na == 0 || CPStrCmp(a, b) == 0;
}

}  // namespace

// ---- Tables ----------------------------------------------------------------------------

const PrefItem* PrefPageItems(int32 page) {
  if (page < 1 || page >= kPrefPageCount) return nullptr;
  return T().pages[page].data();
}

const PrefItem* PrefItemByKey(const char* key) {
  const int32 k = KeyIndex(key);
  for (int32 p = 1; k && p < kPrefPageCount; ++p)
    for (const PrefItem* it = PrefPageItems(p); it->control; ++it)
      if (it->key == k) return it;
  return nullptr;
}

int32 PrefLastPage() { return gLastPage; }
void PrefSetServerHooks(const PrefServerHooks& hooks) { gServer = hooks; }
const PrefServerHooks& PrefServerHooksInUse() { return gServer; }
int32 PrefFoundVIIndex() { return gFoundVI; }
void PrefSetBrowseProc(PrefBrowseProc proc) { gBrowse = proc; }
PrefBrowseProc PrefBrowseProcInUse() { return gBrowse; }
void PrefSetAccessParsers(PrefAccessParser tcp, PrefAccessParser vi) {
  gParser[0] = tcp;
  gParser[1] = vi;
}

PrefAccessParser PrefAccessParserInUse(Bool32 tcp) { return gParser[tcp ? 0 : 1]; }

void PrefResetState() {
  gOnce = false;
  gLastPage = 0;
  gShownPage = -1;
  for (int32 k = 0; k < kPrefPathKinds; ++k) {
    DisposeAll(&gWork[k]);
    DisposeAll(&gSaved[k]);
    DisposeAll(&gLive[k]);
    DisposeAll(&gDefault[k]);
  }
  gDlgAccess[0].clear();
  gDlgAccess[1].clear();
}

// ---- Paths ---------------------------------------------------------------------------

void PrefSetPathValues(int32 kind, const std::vector<Path>& live, const std::vector<Path>& def) {
  if (kind < 0 || kind >= kPrefPathKinds) {
    DBAssert(__FILE__, __LINE__, "path kind out of range");
    return;
  }
  CopyAll(&gLive[kind], live);
  CopyAll(&gDefault[kind], def);
}

std::vector<Path>& PrefWorkingPaths(int32 kind) {
  if (kind < 0 || kind >= kPrefPathKinds) {
    DBAssert(__FILE__, __LINE__, "path kind out of range");
    kind = 0;
  }
  return gWork[kind];
}

Bool32 PrefPathIsDefault(int32 kind) {
  return kind >= 0 && kind < kPrefPathKinds && SameList(gWork[kind], gDefault[kind]);
}

Bool32 PrefPathIsSymbolic(Path path) {
  const std::string first = FirstComponent(path);
  for (const char* s : kSymbols)
    if (first == s) return 1;
  return 0;
}

MgErr PrefTextToPath(const uChar* text, int32 length, Path* path) {
  if (!text || length < 0 || !path) return kArgErr;
  for (const char* s : kSymbols) {
    const int32 n = int32(std::strlen(s));
    if (length < n || std::memcmp(text, s, size_t(n)) != 0) continue;
    Path p = FEmptyPath(nullptr);
    if (!p) return kMemFullErr;
    Str255 name;
    name[0] = uChar(n);
    std::memcpy(name + 1, s, size_t(n));
    MgErr err = FAppendName(p, name);
    // The rest: components separated by backslashes.
    for (int32 i = n; !err && i < length;) {
      while (i < length && text[i] == '\\') ++i;
      int32 j = i;
      while (j < length && text[j] != '\\') ++j;
      if (j > i) {
        if (j - i > 255) err = kArgErr;
        name[0] = uChar(j - i);
        std::memcpy(name + 1, text + i, size_t(name[0]));
        if (!err) err = FAppendName(p, name);
      }
      i = j;
    }
    if (!err) err = FSetPathType(p, kAbsPath);
    if (err) {
      FDisposePath(p);
      return err;
    }
    *path = p;
    return kNoErr;
  }
  return FTextToPath(text, length, path);
}

Bool32 PrefPathNeedsWarning(Path path) {
  if (!path || !FIsAPath(path)) return 1;
  if (PrefPathIsSymbolic(path)) return 0;
  const int32 exists = FExists(path);
  if (exists == 2) return 0;
  const std::string last = LastComponent(path);
  if (last == "*") {
    Path up = CopyPath(path);
    bool folder = false;
    if (up && FDirName(path, up) == kNoErr) folder = FExists(up) == 2;
    FDisposePath(up);
    if (folder) return 0;
  }
  if (exists == 1 && last.size() > 4) {
    std::string ext = last.substr(last.size() - 4);
    for (char& c : ext) c = char(std::tolower(uChar(c)));
    if (ext == ".qlb") return 0;
  }
  return 1;
}

MgErr PrefInsertPathText(int32 kind, const uChar* text, int32 length, int32 index, int32 where) {
  if (kind < 0 || kind >= kPrefPathKinds || length <= 0) return kArgErr;
  Path p = nullptr;
  if (MgErr err = PrefTextToPath(text, length, &p)) return err;
  if (kind != kPrefPathSearch && PrefPathIsSymbolic(p)) {
    FDisposePath(p);
    OneButtonAlert(kAlertCStr, "Special paths may only be used in the VI Search Path.", nullptr, kAlertDefaultPos,
                   kAlertDefaultPos);
    return kArgErr;
  }
  if (PrefPathNeedsWarning(p)) {
    int32 shown = length;
    if (shown >= 2 && text[shown - 1] == '*' && text[shown - 2] == '\\') shown -= 2;
    char message[600];
    std::snprintf(message, sizeof message, "The directory %.*s either does not exist or has invalid syntax.",
                  int(shown > 255 ? 255 : shown), reinterpret_cast<const char*>(text));
    Str255 useAnyway;
    useAnyway[0] = 10;
    std::memcpy(useAnyway + 1, "Use Anyway", 10);
    if (TwoButtonAlert(kAlertCStr, message, useAnyway, nullptr, 2, kAlertDefaultPos, kAlertDefaultPos) != 1) {
      FDisposePath(p);
      return kCancelErr;
    }
  }
  std::vector<Path>& v = gWork[kind];
  if (kind != kPrefPathSearch) {
    DisposeAll(&v);
    v.push_back(p);
    return kNoErr;
  }
  if (index < 0 || index >= int32(v.size())) {
    v.insert(v.begin(), p);
  } else if (where == 2) {
    FDisposePath(v[size_t(index)]);
    v[size_t(index)] = p;
  } else {
    v.insert(v.begin() + index + (where == 1 ? 1 : 0), p);
  }
  return kNoErr;
}

void PrefShowPathKind(DialogRef dialog, int32 kind, Bool32 useDefault) {
  if (kind < 0 || kind >= kPrefPathKinds) {
    DBAssert(__FILE__, __LINE__, "path kind out of range");
    return;
  }
  if (!dialog) return;
  const bool search = kind == kPrefPathSearch;
  DlgGrayControl(dialog, 13, useDefault ? 2 : 0);
  DlgGrayControl(dialog, 10, useDefault ? 2 : 0);
  DlgGrayControl(dialog, 8, useDefault ? 2 : 0);
  for (int32 item : {11, 12, 14, 9}) DlgGrayControl(dialog, item, useDefault || !search ? 2 : 0);
  DlgDeleteList(dialog, 7);
  const std::vector<Path>& v = useDefault ? gDefault[kind] : gWork[kind];
  for (size_t i = 0; i < v.size(); ++i) {
    LStrHandle text = nullptr;
    if (FPathToAZString(v[i], &text) != kNoErr || !text) continue;
    Str255 p;
    LToPStr(*text, p);
    AZDisposeHandle(reinterpret_cast<UHandle>(text));
    DlgInsertListItem(dialog, 7, int32(i), p, PrefPathNeedsWarning(v[i]) ? 3 : 0);
  }
  DlgSetSelectedListItem(dialog, 7, 0, 1);
}

void PrefStorePathList(DialogRef dialog, int32 kind) {
  if (!dialog || kind < 0 || kind >= kPrefPathKinds) return;
  std::vector<Path> fresh;
  for (int32 i = 0, n = DlgGetListItemCount(dialog, 7); i < n; ++i) {
    LStrHandle text = nullptr;
    DlgGetListItemText(dialog, 7, i, &text);
    Path p = nullptr;
    // The text handle stays the list's.
    if (text && *text && PrefTextToPath((*text)->str, (*text)->cnt, &p) == kNoErr) fresh.push_back(p);
    if (kind != kPrefPathSearch && !fresh.empty()) break;
  }
  DisposeAll(&gWork[kind]);
  gWork[kind] = fresh;
}

// ---- Access lists ----------------------------------------------------------------------

bool PrefGlyphAllows(int32 glyph) { return glyph == kGlyphAllow || glyph == kGlyphAllowRefused; }

int32 PrefAccessGlyph(const std::string& text, bool allow, bool tcpList) {
  // The parser is asked about "+" and the text, whichever the item is.
  Str255 entry;
  const size_t n = text.size() > 254 ? 254 : text.size();
  entry[0] = uChar(n + 1);
  entry[1] = '+';
  std::memcpy(entry + 2, text.data(), n);
  PrefAccessParser parse = gParser[tcpList ? 0 : 1];
  const bool accepted = parse ? parse(entry) > 0 : n > 0;
  if (allow) return accepted ? kGlyphAllow : kGlyphAllowRefused;
  return accepted ? kGlyphDeny : kGlyphDenyRefused;
}

std::vector<PrefAccessItem> PrefListAccess(CPStrHandle stored, bool tcpList) {
  std::vector<PrefAccessItem> items;
  const int32 size = stored && *stored ? AZGetHandleSize(reinterpret_cast<UHandle>(stored)) : 0;
  int32 n = 0;
  if (size >= 4) std::memcpy(&n, *stored, sizeof n);
  // The list comes from the configuration file: each string is checked
  // against the handle's size before it is read.
  const uChar* at = n > 0 ? (*stored)->str : nullptr;
  const uChar* end = stored && *stored ? reinterpret_cast<const uChar*>(*stored) + size : nullptr;
  for (int32 i = 0; i < n && at < end && at + 1 + at[0] <= end; ++i, at += 1 + at[0]) {
    const int32 len = at[0];
    if (len < 2 || (at[1] != '+' && at[1] != '-')) continue;
    std::string text(reinterpret_cast<const char*>(at + 2), size_t(len - 1));
    items.push_back({text, PrefAccessGlyph(text, at[1] == '+', tcpList)});
  }
  if (items.empty()) items.push_back({"", PrefAccessGlyph("", true, tcpList)});
  return items;
}

CPStrHandle PrefStoreAccess(const std::vector<PrefAccessItem>& items) {
  CPStrHandle h = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  for (const PrefAccessItem& it : items) {
    if (!h) return nullptr;
    if (it.text.empty()) continue;
    Str255 s;
    const size_t n = it.text.size() > 254 ? 254 : it.text.size();
    s[0] = uChar(n + 1);
    s[1] = PrefGlyphAllows(it.glyph) ? '+' : '-';
    std::memcpy(s + 2, it.text.data(), n);
    if (CPStrInsert(h, s, (*h)->cnt) != kNoErr) {
      AZDisposeHandle(reinterpret_cast<UHandle>(h));
      return nullptr;
    }
  }
  return h;
}

std::vector<PrefAccessItem>& PrefDialogAccess(bool tcpList) { return gDlgAccess[tcpList ? 0 : 1]; }
CPStrHandle PrefLiveAccess(bool tcpList) { return tcpList ? ServerTcpList() : ServerViList(); }

// ---- Separators --------------------------------------------------------------------------

uChar PrefSeparatorKey(uChar key, uChar current) { return std::ispunct(key) ? key : current; }

// ---- Loading and applying --------------------------------------------------------------

void PrefLoadValues(DialogRef dialog) {
  Tables& t = T();
  // The live search path is the loader's.
  DisposeAll(&gLive[kPrefPathSearch]);
  for (int32 i = 0, n = VISearchPathCount(); i < n; ++i) gLive[kPrefPathSearch].push_back(CopyPath(VISearchPathEntry(i)));
  if (!gOnce) {
    gOnce = true;
    for (int32 k = 0; k < kPrefPathKinds; ++k) CopyAll(&gWork[k], gLive[k]);
  }
  for (int32 k = 0; k < kPrefPathKinds; ++k) {
    if (k != kPrefPathMenus) CopyAll(&gWork[k], gLive[k]);
    CopyAll(&gSaved[k], gWork[k]);
  }
  for (int32 i = 0; i < kItemCount; ++i) {
    if (kItems[i].word >= 0) t.cur[i] = PrefGet(kItems[i].word);
    t.saved[i] = t.cur[i];
  }
  gHour24.cur = PrefGet(kPrefHour24);
  gDayFirst.cur = PrefGet(kPrefDateDayFirst);
  gYearFirst.cur = PrefGet(kPrefYearFirst);
  for (CodeValue* v : {&gHour24, &gDayFirst, &gYearFirst, &gStdN, &gCoop}) v->saved = v->cur;
  gDlgAccess[0] = PrefListAccess(ServerTcpList(), true);
  gDlgAccess[1] = PrefListAccess(ServerViList(), false);
  if (!dialog) return;
  for (int32 p = 1; p < kPrefPageCount; ++p)
    for (const PrefItem* it = PrefPageItems(p); it->control; ++it) {
      if (it->kind == kPrefNoValue || it->control == 102 || it->control == 105) continue;
      const int32 type = it->kind == kCfgBool ? kDlgBooleanValue : it->kind == kCfgNumber ? 9 : 3;
      DlgSetCtrlVal(dialog, it->control, type, it->current);
    }
  Str255 sep;
  sep[0] = 1;
  sep[1] = uChar(t.cur[IndexOf(*PrefItemByKey("dateSeparator"))]);
  DlgSetCtrlVal(dialog, 102, kDlgPStrValueType, sep);
  sep[1] = uChar(t.cur[IndexOf(*PrefItemByKey("timeSeparator"))]);
  DlgSetCtrlVal(dialog, 105, kDlgPStrValueType, sep);
  const uChar on = 1, off = 0;
  DlgSetCtrlVal(dialog, gYearFirst.cur ? 101 : gDayFirst.cur ? 100 : 99, kDlgBooleanValue, &on);
  DlgSetCtrlVal(dialog, gHour24.cur ? 104 : 103, kDlgBooleanValue, &on);
  DlgSetCtrlVal(dialog, 31, kDlgBooleanValue, gStdN.cur != 0 ? &on : &off);
}

namespace {

void ReadControls(DialogRef dialog, int32 page) {
  for (const PrefItem* it = PrefPageItems(page); it && it->control; ++it) {
    if (it->kind == kPrefNoValue || it->control == 102 || it->control == 105) continue;
    if (it->kind == kCfgBool) {
      uChar b = 0;
      if (DlgGetCtrlVal(dialog, it->control, kDlgBooleanValue, &b) == 0) *static_cast<int32*>(it->current) = b != 0;
    } else {
      DlgGetCtrlVal(dialog, it->control, it->kind == kCfgNumber ? 9 : 3, it->current);
    }
  }
}

bool Checked(DialogRef dialog, int32 item) {
  uChar b = 0;
  return DlgGetCtrlVal(dialog, item, kDlgBooleanValue, &b) == 0 && b;
}

}  // namespace

MgErr PrefWritePaths() {
  MgErr first = kNoErr;
  for (int32 k = 0; k < kPrefPathKinds; ++k) {
    if (SameList(gWork[k], gSaved[k])) continue;
    const bool isDefault = SameList(gWork[k], gDefault[k]);
    if (k != kPrefPathSearch) {
      Path p = gWork[k].empty() ? nullptr : gWork[k][0];
      Note(&first, isDefault || !p ? CfgRemove(kCfgPath, Key(kPathKeys[k])) : CfgWrite(kCfgPath, Key(kPathKeys[k]), &p));
      continue;
    }
    UHandle list = isDefault ? nullptr : PathListHandle(gWork[k]);
    if (!isDefault && !list) {
      Note(&first, kMemFullErr);
      continue;
    }
    Note(&first, isDefault ? CfgRemove(kCfgPathList, Key(kPathKeys[k])) : CfgWrite(kCfgPathList, Key(kPathKeys[k]), &list));
    if (list) AZDisposeHandle(list);
  }
  return first;
}

MgErr PrefWriteChanged() {
  MgErr first = kNoErr;
  bool colours = false;
  for (int32 p = 1; p < kPrefPageCount; ++p)
    for (const PrefItem* it = PrefPageItems(p); it->control; ++it) {
      if (!it->key || it->kind == kPrefNoValue) continue;
      const int32* cur = static_cast<const int32*>(it->current);
      if (!ValuesDiffer(it->kind, cur, static_cast<const int32*>(it->saved))) continue;
      const bool isDefault = !ValuesDiffer(it->kind, cur, static_cast<const int32*>(it->def));
      Note(&first, WriteOrRemove(it->kind, CfgKeyName(it->key), cur, isDefault));
      colours = colours || it->kind == kCfgColor;
    }
  if (colours) WInvalRect(kWAllWindows, nullptr);
  return first;
}

MgErr PrefWriteAccessKey(bool tcpList, CPStrHandle list) {
  const ConstPStr key = Key(tcpList ? "server.tcp.access" : "server.vi.access");
  return SameAccess(list, ShellAccessDefault(tcpList)) ? CfgRemove(kCfgStringList, key)
                                                       : CfgWrite(kCfgStringList, key, &list);
}

MgErr PrefWriteAccessList() {
  MgErr first = kNoErr;
  for (int32 l = 0; l < 2; ++l) {
    const bool tcp = l == 0;
    CPStrHandle fresh = PrefStoreAccess(gDlgAccess[l]);
    if (!fresh) {
      Note(&first, kMemFullErr);
      continue;
    }
    const bool changed = !SameAccess(fresh, PrefLiveAccess(tcp));
    if (changed) Note(&first, PrefWriteAccessKey(tcp, fresh));
    // The server keeps its own copy of the list it is given, and that copy is
    // the live list: it is given the new list even while no listener runs,
    // for clearing it would lose the list until the next start.
    if (tcp && (changed || PrefGet(kPrefServerTcpEnabled))) ServerSpecifyTcp(fresh);
    if (!tcp && changed) ServerSpecifyVi(fresh);
    AZDisposeHandle(reinterpret_cast<UHandle>(fresh));
  }
  return first;
}

MgErr PrefApply(DialogRef dialog) {
  Tables& t = T();
  MgErr first = kNoErr;
  // 1. The search path and page 1 with the multithreading box.
  CopyAll(&gLive[kPrefPathSearch], gWork[kPrefPathSearch]);
  gFoundVI = -1;
  for (size_t i = 0; i < gLive[kPrefPathSearch].size(); ++i) {
    Path p = gLive[kPrefPathSearch][i];
    if (p && *p && PrefPathIsSymbolic(p)) FSetPathType(p, kAbsPath);
    if (gFoundVI < 0 && FirstComponent(p) == "<foundvi>" && ((*p)->count == 1 || LastComponent(p) == "*"))
      gFoundVI = int32(i);
  }
  {
    const std::vector<Path>& live = gLive[kPrefPathSearch];
    Note(&first, SetVISearchPath(live.empty() ? nullptr : live.data(), int32(live.size()), gFoundVI));
  }
  if (dialog) {
    ReadControls(dialog, kPrefPerformance);
    gStdN.cur = Checked(dialog, 31) ? (ExecConfigDiffers() ? -1 : -2) : 0;
    // 2. Pages 2 to 7.
    for (int32 p : {kPrefFrontPanel, kPrefColors, kPrefPrinting, kPrefMisc, kPrefServerConfig}) ReadControls(dialog, p);
    Str255 sep;
    if (DlgGetCtrlVal(dialog, 102, kDlgPStrValueType, sep) == 0 && sep[0]) t.cur[IndexOf(*PrefItemByKey("dateSeparator"))] = sep[1];
    if (DlgGetCtrlVal(dialog, 105, kDlgPStrValueType, sep) == 0 && sep[0]) t.cur[IndexOf(*PrefItemByKey("timeSeparator"))] = sep[1];
    gDayFirst.cur = Checked(dialog, 100);
    gYearFirst.cur = Checked(dialog, 101);
    gHour24.cur = Checked(dialog, 104);
    ReadControls(dialog, kPrefServerTcp);
  }
  for (int32 i = 0; i < kItemCount; ++i)
    if (kItems[i].word >= 0) PrefSet(kItems[i].word, t.cur[i]);
  PrefSet(kPrefHour24, gHour24.cur);
  PrefSet(kPrefDateDayFirst, gDayFirst.cur);
  PrefSet(kPrefYearFirst, gYearFirst.cur);
  // 3. The listener follows the TCP switch; a start that fails leaves the
  //    setting as chosen (it is tried again at the next start).
  {
    const int32 i = IndexOf(*PrefItemByKey("server.tcp.enabled"));
    if (t.cur[i] != t.saved[i] && gServer.setListening) gServer.setListening(t.cur[i]);
  }
  // 4.-10. The writes, in order; each failure is kept and the rest go on.
  Note(&first, PrefWritePaths());
  Note(&first, WriteCode(&gCoop, false));
  Note(&first, WriteCode(&gStdN, false));
  Note(&first, PrefWriteChanged());
  for (CodeValue* v : {&gHour24, &gDayFirst, &gYearFirst}) Note(&first, WriteCode(v, true));
  Note(&first, PrefWriteAccessList());
  for (int32 k = 0; k < kPrefPathKinds; ++k) CopyAll(&gSaved[k], gWork[k]);
  for (int32 i = 0; i < kItemCount; ++i) t.saved[i] = t.cur[i];
  if (first) ErrDialog(first, nullptr);
  return first;
}

// ---- The dialog --------------------------------------------------------------------------

void PrefShowPage(DialogRef dialog, int32 page) {
  if (page < 0 || page >= kPrefPageCount) {
    DBAssert(__FILE__, __LINE__, "preferences page out of range");
    return;
  }
  if (dialog && gShownPage >= 1)
    for (const PrefItem* it = PrefPageItems(gShownPage); it->control; ++it) DlgHideControl(dialog, it->control);
  if (dialog && gShownPage == 0)
    for (int32 item = 5; item <= 14; ++item) DlgHideControl(dialog, item);
  gShownPage = page;
  if (!dialog) return;
  if (page == 0) {
    for (int32 item = 5; item <= 14; ++item) DlgShowControl(dialog, item);
    PrefShowPathKind(dialog, gPathKind, PrefPathIsDefault(gPathKind));
  } else {
    // The first control goes to (25, 5); the rest keep their place or
    // follow the one before them as their layout words say.
    Rect prev{25, 5, 25, 5};
    bool first = true;
    for (const PrefItem* it = PrefPageItems(page); it->control; ++it) {
      Rect r{};
      DlgGetItemRect(dialog, it->control, 0, &r);
      Point to{r.top, r.left};
      if (first) {
        to = {25, 5};
      } else if (!(it->layout & kPrefKeepPlace)) {
        const int16 gap = int16(it->layout & 0xFF);
        to = (it->layout & kPrefBeside) ? Point{prev.top, int16(prev.right + gap)} : Point{int16(prev.bottom + gap), 5};
      }
      DlgMoveItem(dialog, it->control, Point{int16(to.v - r.top), int16(to.h - r.left)});
      prev = Rect{to.v, to.h, int16(to.v + r.bottom - r.top), int16(to.h + r.right - r.left)};
      first = false;
      DlgShowControl(dialog, it->control);
    }
    if (page == kPrefPerformance) DlgHideControl(dialog, 32);
  }
  const int32 focus = page == kPrefServerTcp ? 128 : page == kPrefServerVIs ? 136 : 1;
  const int32 def = page == kPrefServerTcp ? 131 : page == kPrefServerVIs ? 139 : 1;
  DlgSetKbdFocus(dialog, focus, 0, 0x7fffffff);
  DlgSetKeyNavItem(dialog, def, 0);
}

namespace {

// ---- The pages' own controls -------------------------------------------------------------

bool GetBool(DialogRef d, int32 item) {
  uChar b = 0;
  return DlgGetCtrlVal(d, item, kDlgBooleanValue, &b) == 0 && b;
}
void SetBool(DialogRef d, int32 item, bool on) {
  const uChar b = on ? 1 : 0;
  DlgSetCtrlVal(d, item, kDlgBooleanValue, &b);
}
void Dim(DialogRef d, int32 item, bool dim) { DlgGrayControl(d, item, dim ? 2 : 0); }
int32 ItemIndex(int32 control) {
  for (int32 i = 0; i < kItemCount; ++i)
    if (kItems[i].control == control) return i;
  return -1;
}
void SetText(DialogRef d, int32 item, const std::string& text) {
  Str255 p;
  p[0] = uChar(text.size() > 255 ? 255 : text.size());
  std::memcpy(p + 1, text.data(), p[0]);
  DlgSetCtrlVal(d, item, kDlgPStrValueType, p);
}
std::string GetText(DialogRef d, int32 item) {
  Str255 p{};
  if (DlgGetCtrlVal(d, item, kDlgPStrValueType, p) != 0) return "";
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// A "Use default" box beside a numeric: checked shows the default, dimmed
// (its text transparent); cleared shows the live value.
void UseDefaultBox(DialogRef d, int32 box, int32 numeric) {
  const int32 i = ItemIndex(numeric);
  if (i < 0) return;
  const bool on = GetBool(d, box);
  int32 v = on ? T().def[i] : T().cur[i];
  DlgSetCtrlVal(d, numeric, 3, &v);
  Dim(d, numeric, on);
}

// A negative minimum or blink speed is set to 0.
void NotNegative(DialogRef d, int32 numeric) {
  int32 v = 0;
  if (DlgGetCtrlVal(d, numeric, 3, &v) == 0 && v < 0) {
    v = 0;
    DlgSetCtrlVal(d, numeric, 3, &v);
  }
}

// The chooser's entries stand for the kinds 0, 1, 2 and 4.
int32 ChosenKind(DialogRef d) {
  int32 v = 0;
  DlgGetCtrlVal(d, 5, 3, &v);
  return v == 3 ? kPrefPathSearch : (v >= 0 && v < 3 ? v : 0);
}

const char* const kSpecialPaths[] = {"<vilib>", "<vilib>\\*", "<topvi>", "<topvi>\\*", "<foundvi>", "<foundvi>\\*"};

bool PathsPage(DialogRef d, int32 item) {
  const int32 kind = ChosenKind(d);
  int32 sel = -1;
  switch (item) {
    case 5:
      gPathKind = kind;
      SetBool(d, 6, PrefPathIsDefault(kind));
      PrefShowPathKind(d, kind, PrefPathIsDefault(kind));
      return true;
    case 6:
      PrefShowPathKind(d, kind, GetBool(d, 6));
      PrefStorePathList(d, kind);
      return true;
    case 7: {
      int32 index = -1;
      LStrHandle text = nullptr;
      // A double click copies the entry's text (the list's own handle).
      if (DlgGetDoubleClickListItem(d, 7, &index) && DlgGetListItemText(d, 7, index, &text) && text && *text)
        SetText(d, 10, std::string(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt)));
      return true;
    }
    case 8: {
      Path chosen = nullptr;
      Str255 prompt;
      const char* kPrompt = "Choose a directory or VI library:";
      prompt[0] = uChar(std::strlen(kPrompt));
      std::memcpy(prompt + 1, kPrompt, prompt[0]);
      if (gBrowse && gBrowse(prompt, &chosen) == kNoErr && chosen) {
        LStrHandle text = nullptr;
        if (FPathToAZString(chosen, &text) == kNoErr && text) {
          SetText(d, 10, std::string(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt)));
          AZDisposeHandle(reinterpret_cast<UHandle>(text));
        }
      }
      if (chosen) FDisposePath(chosen);
      return true;
    }
    case 9: {
      int32 v = 0;
      if (DlgGetCtrlVal(d, 9, 3, &v) == 0 && v >= 0 && v < 6) SetText(d, 10, kSpecialPaths[v]);
      return true;
    }
    case 10:
      return true;
    case 11:
    case 12:
    case 13: {
      const std::string text = GetText(d, 10);
      if (text.empty()) return true;
      DlgGetSelectedListItem(d, 7, &sel, nullptr);
      const int32 where = item == 11 ? 0 : item == 12 ? 1 : 2;
      if (PrefInsertPathText(kind, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), sel, where))
        return true;
      PrefShowPathKind(d, kind, 0);
      const int32 at = sel < 0 ? 0 : where == 1 ? sel + 1 : sel;
      DlgSetSelectedListItem(d, 7, kind == kPrefPathSearch ? at : 0, 1);
      Dim(d, 13, false);
      Dim(d, 14, kind != kPrefPathSearch);
      return true;
    }
    case 14: {
      std::vector<Path>& v = gWork[kind];
      DlgGetSelectedListItem(d, 7, &sel, nullptr);
      if (sel < 0 || sel >= int32(v.size())) return true;
      LStrHandle text = nullptr;
      if (FPathToAZString(v[size_t(sel)], &text) == kNoErr && text) {
        SetText(d, 10, std::string(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt)));
        AZDisposeHandle(reinterpret_cast<UHandle>(text));
      }
      FDisposePath(v[size_t(sel)]);
      v.erase(v.begin() + sel);
      PrefShowPathKind(d, kind, 0);
      DlgSetSelectedListItem(d, 7, sel > 0 ? sel - 1 : 0, 1);
      Dim(d, 13, v.empty());
      Dim(d, 14, v.empty());
      return true;
    }
    default:
      return false;
  }
}

bool ValuePages(DialogRef d, int32 item) {
  switch (item) {
    case 26: {
      const bool on = GetBool(d, 26);
      for (int32 i : {27, 28, 29, 30}) Dim(d, i, !on);
      if (on) {
        for (auto [box, num] : {std::pair{28, 27}, {30, 29}}) {
          const int32 i = ItemIndex(num);
          SetBool(d, box, i >= 0 && T().cur[i] == T().def[i]);
          UseDefaultBox(d, box, num);
        }
      }
      return true;
    }
    case 27:
    case 29:
    case 44:
      NotNegative(d, item);
      return true;
    case 28:
    case 30:
    case 45:
      UseDefaultBox(d, item, item - 1);
      return true;
    case 31:
      DlgHideControl(d, 32);
      return true;
    case 59: {
      const bool on = GetBool(d, 59);
      for (int32 c = 60; c <= 64; ++c) {
        const int32 i = ItemIndex(c);
        int32 v = on ? T().def[i] : T().cur[i];
        DlgSetCtrlVal(d, c, 3, &v);
        Dim(d, c, on);
      }
      return true;
    }
    case 76:
    case 78:
    case 80:
      // Exactly one printing mode: standard enables dithering, PostScript
      // level 2, bitmap neither.
      SetBool(d, 76, item == 76);
      SetBool(d, 78, item == 78);
      SetBool(d, 80, item == 80);
      Dim(d, 77, item != 76);
      Dim(d, 79, item != 78);
      return true;
    case 82: {
      const bool on = GetBool(d, 82);
      for (int32 i : {83, 84, 85, 86, 87, 88}) Dim(d, i, !on);
      return true;
    }
    case 83:
    case 84:
      SetBool(d, 83, item == 83);
      SetBool(d, 84, item == 84);
      return true;
    case 99:
    case 100:
    case 101:
      for (int32 i : {99, 100, 101}) SetBool(d, i, i == item);
      return true;
    case 103:
    case 104:
      SetBool(d, 103, item == 103);
      SetBool(d, 104, item == 104);
      return true;
    default:
      for (int32 p = 1; p < kPrefPageCount; ++p)
        for (const PrefItem* it = PrefPageItems(p); it->control; ++it)
          if (it->control == item) return true;
      return false;
  }
}

// The access-list pages: the list at L, its text L+1, allow L+2, deny L+3,
// add L+4 and remove L+5.
bool AccessPage(DialogRef d, int32 item) {
  const int32 list = item >= 135 ? 135 : 127;
  if (item < list || item > list + 5) return false;
  const bool tcp = list == 127;
  std::vector<PrefAccessItem>& items = gDlgAccess[tcp ? 0 : 1];
  int32 sel = -1;
  DlgGetSelectedListItem(d, list, &sel, nullptr);
  const bool have = sel >= 0 && sel < int32(items.size());
  const auto show = [&](int32 at) {
    DlgDeleteList(d, list);
    for (size_t i = 0; i < items.size(); ++i) {
      Str255 p;
      p[0] = uChar(items[i].text.size() > 255 ? 255 : items[i].text.size());
      std::memcpy(p + 1, items[i].text.data(), p[0]);
      DlgInsertListItem(d, list, int32(i), p, items[i].glyph);
    }
    if (at >= 0) DlgSetSelectedListItem(d, list, at, 1);
  };
  const auto setAllow = [&](bool allow) {
    if (!have) return;
    PrefAccessItem& it = items[size_t(sel)];
    const bool accepted = it.glyph == kGlyphAllow || it.glyph == kGlyphDeny;
    it.glyph = allow ? (accepted ? kGlyphAllow : kGlyphAllowRefused) : (accepted ? kGlyphDeny : kGlyphDenyRefused);
    DlgSetListItemGlyph(d, list, sel, it.glyph);
    SetBool(d, list + 2, allow);
    SetBool(d, list + 3, !allow);
  };
  if (item == list) {
    if (!have) return true;
    int32 twice = -1;
    if (DlgGetDoubleClickListItem(d, list, &twice) && twice == sel) setAllow(!PrefGlyphAllows(items[size_t(sel)].glyph));
    SetText(d, list + 1, items[size_t(sel)].text);
    SetBool(d, list + 2, PrefGlyphAllows(items[size_t(sel)].glyph));
    SetBool(d, list + 3, !PrefGlyphAllows(items[size_t(sel)].glyph));
  } else if (item == list + 1) {
    if (!have) return true;
    PrefAccessItem& it = items[size_t(sel)];
    it.text = GetText(d, list + 1);
    it.glyph = PrefAccessGlyph(it.text, PrefGlyphAllows(it.glyph), tcp);
    show(sel);
    Dim(d, list + 4, it.text.empty());
  } else if (item == list + 2 || item == list + 3) {
    setAllow(item == list + 2);
  } else if (item == list + 4) {
    const bool allow = have ? PrefGlyphAllows(items[size_t(sel)].glyph) : true;
    const int32 at = have ? sel + 1 : int32(items.size());
    items.insert(items.begin() + at, PrefAccessItem{"", PrefAccessGlyph("", allow, tcp)});
    show(at);
    SetText(d, list + 1, "");
    DlgSetKbdFocus(d, list + 1, 0, 0x7fffffff);
  } else if (item == list + 5) {
    if (!have) return true;
    items.erase(items.begin() + sel);
    show(sel > 0 ? sel - 1 : 0);
  }
  return true;
}

}  // namespace

int32 PrefDialogFilter(const WEventRecord* event, DialogRef dialog, int32 userData) {
  (void)userData;
  if (!event) return 0;
  if (event->code == kDlgEvItemKey) {
    // The separators take one punctuation character; Enter acts as OK; any
    // other key that is no editing key restores the separator.
    const int32 item = event->where;
    if ((item != 102 && item != 105) || !event->character) return 0;
    WEventRecord key;
    std::memcpy(&key, reinterpret_cast<const void*>(uintptr_t(uInt32(event->character))), sizeof key);
    if (key.keyCode == kDlgReturnKeyCode) {
      PrefApply(dialog);
      gLastPage = gShownPage;
      DlgQuit(dialog, 1);
      return 1;
    }
    if (key.character == 0 || key.character == 8 || key.character == 127) return 0;  // editing keys
    const int32 idx = IndexOf(*PrefItemByKey(item == 102 ? "dateSeparator" : "timeSeparator"));
    Str255 sep;
    sep[0] = 1;
    sep[1] = PrefSeparatorKey(uChar(key.character), uChar(T().cur[idx]));
    DlgSetCtrlVal(dialog, item, kDlgPStrValueType, sep);
    return 1;
  }
  int32 item = 0;
  if (event->code == kDlgEvCancel) item = 2;
  else if (event->code == kDlgEvItemChange && (event->globalWhere & kDlgResultCommitted)) item = event->where;
  if (!item) return 0;
  switch (item) {
    case 1:
      PrefApply(dialog);
      gLastPage = gShownPage;
      DlgQuit(dialog, 1);
      return 1;
    case 2:
      for (int32 k = 0; k < kPrefPathKinds; ++k) CopyAll(&gWork[k], gSaved[k]);
      gLastPage = gShownPage;
      DlgQuit(dialog, 0);
      return 1;
    case kPrefPageRingItem: {
      int32 page = 0;
      DlgGetCtrlVal(dialog, kPrefPageRingItem, 3, &page);
      PrefShowPage(dialog, page);
      return 1;
    }
    default: {
      // The page shown handles its own controls.
      const bool handled = gShownPage == kPrefPaths ? PathsPage(dialog, item)
                           : (gShownPage >= kPrefServerTcp && AccessPage(dialog, item)) || ValuePages(dialog, item);
      if (!handled) DBAssert(__FILE__, __LINE__, "preferences item that no page handles");
      return handled ? 1 : 0;
    }
  }
}

int32 PrefDialog(int32 page, Path path) {
  DialogRef d = DlgLoad(RunTimeRsrcFile(), kPrefDialogId, nullptr, kAlertWindowKind,
                        reinterpret_cast<DlgFilterProc>(&PrefDialogFilter), 0);
  if (!d) return kRsrcNotFoundErr;
  DlgSize(d, nullptr);
  DlgMove(d, kDlgDefaultPos, kDlgDefaultPos);
  DlgSetKeyNavItem(d, 1, 0);
  int32 removed = 0;
  for (int32 entry : {3, 4, 6, 8}) DlgRingRemoveItem(d, kPrefPageRingItem, entry - removed++);
  DlgRingRemoveItem(d, 5, 3);  // "Menus Directory*"
  PrefLoadValues(d);
  const int32 show = page < 0 ? gLastPage : page;
  for (int32 item = 4; item <= 140; ++item)
    if (item <= DlgItemCount(d)) DlgHideControl(d, item);
  gShownPage = -1;
  DlgSetCtrlVal(d, kPrefPageRingItem, 3, &show);
  if (page == 0 && path) {
    gPathKind = kPrefPathSearch;
    LStrHandle text = nullptr;
    if (FPathToAZString(path, &text) == kNoErr && text) {
      Str255 p;
      LToPStr(*text, p);
      DlgSetCtrlVal(d, 10, kDlgPStrValueType, p);
      AZDisposeHandle(reinterpret_cast<UHandle>(text));
    }
  }
  PrefShowPage(d, show);
  DlgShow(d, 1);
  const int32 result = DlgBoxLoop(d);
  DlgUnload(d);
  return result;
}
