// Run-time menus: special and application tags, shortcuts, building menu
// trees, the VI's record and refnum, the selection queue and blocking.
// User-interface thread only (the exported functions reach it through
// rtmexport.cpp).
#include "shell/rtmenu.h"
#include "shell/progmenu.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <strings.h>

#include "engine/exec/panelplace.h"
#include "engine/exec/rtmtexts.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/extsupport.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/textrec.h"
#include "shell/menuids.h"
#include "shell/rtmenu_internal.h"

namespace {

// ---- special tags and key names

using rtmtexts::kSpecialTags;
std::array<Str255, 6> gSpecial;
bool gSpecialRead = false;

void FillSpecialTags() {
  if (gSpecialRead) return;
  gSpecialRead = true;
  for (int32 i = 0; i < 6; ++i) {
    if (RGetIndString(RunTimeRsrcFile(), gSpecial[size_t(i)], kRTMSpecialTagsList, i + 1) != kNoErr) {
      DBAssert(__FILE__, __LINE__, "RTMGetSpecialTag: special tag missing");
      gSpecial[size_t(i)][0] = uChar(std::strlen(kSpecialTags[i]));
      std::memcpy(gSpecial[size_t(i)] + 1, kSpecialTags[i], gSpecial[size_t(i)][0]);
    }
  }
}

struct KeyName {
  int16 index;
  int32 keyCode;
};
// Sorted by name; the names are entries of list 18201.
constexpr KeyName kKeyNames[18] = {{1, 3},   {2, 11},  {3, 15},  {4, 24},  {5, 25},  {6, 26},
                                   {7, 16},  {8, 17},  {9, 18},  {10, 19}, {11, 20}, {12, 21},
                                   {13, 22}, {14, 23}, {15, 10}, {16, 8},  {17, 13}, {18, 12}};
std::array<std::string, 18> gKeyNames;
bool gKeyNamesRead = false;

void FillKeyNames() {
  if (gKeyNamesRead) return;
  gKeyNamesRead = true;
  for (size_t i = 0; i < 18; ++i) {
    Str255 t;
    if (RGetIndString(RunTimeRsrcFile(), t, kRTMKeyNamesList, kKeyNames[i].index) == kNoErr) {
      gKeyNames[i].assign(reinterpret_cast<const char*>(t + 1), t[0]);
    } else {
      gKeyNames[i] = rtmtexts::kKeyNames[i];
    }
    for (char& c : gKeyNames[i]) c = char(std::tolower(uChar(c)));
  }
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(uChar(c)));
  return s;
}

// ---- the catalog and the jar

RTMMenuData* gCatalog = nullptr;
bool gCatalogTried = false;
std::atomic<CookieJar> gJar{nullptr};

}  // namespace

const RTMMenuData* RTMGetAppMenuData() {
  if (!gCatalogTried) {
    gCatalogTried = true;
    auto* d = new RTMMenuData;
    if (RTMReadMenuRsrc(RunTimeRsrcFile(), kRTMAppMenuId, d) == kNoErr) gCatalog = d;
    else delete d;
  }
  return gCatalog;
}

namespace {

// The catalog's index of a tag (above 0), or 0.
int32 RTMFindAppItem(const std::string& tag) {
  const RTMMenuData* c = RTMGetAppMenuData();
  if (!c || tag.empty()) return 0;
  const uInt32 hash = RTMTagHash(tag);
  for (size_t i = 1; i < c->items.size(); ++i) {
    const RTMItem& it = c->items[i];
    if (it.tagHash == hash && strcasecmp(RTMStripTag(it.tag).c_str(), tag.c_str()) == 0) return int32(i);
  }
  return 0;
}

// ---- VI fields

uInt32& MenuWord(UHandle vi) { return VIRec(vi)->rtMenuWord; }
bool Running(UHandle vi) { return (VIRec(vi)->eState & 0xE) != 0; }

void ResetBlock(UHandle vi) {
  uInt32& w = MenuWord(vi);
  w &= 0xFFFF;
  if (!(w & kRTMStartUnblocked)) w |= kRTMBlocked | kRTMInitialBlock;
}

RTMVIMenuRec* AllocRecord(UHandle vi) {
  if (RTMVIMenuRec* r = RTMRecordOf(vi)) return r;
  auto* r = reinterpret_cast<RTMVIMenuRec*>(AZNewPClr(sizeof(RTMVIMenuRec)));
  if (r) VIRec(vi)->mem432 = uInt32(uintptr_t(r));
  return r;
}

}  // namespace

// ---- helpers shared with the exported functions

Str255Text::Str255Text(const std::string& s) {
  p[0] = uChar(s.size() > 255 ? 255 : s.size());
  std::memcpy(p + 1, s.data(), p[0]);
}

std::string TagOfItem(MenuHandle menu, int32 item) {
  Str255 t;
  t[0] = 0;
  MGetLItemName(menu, item, t);
  return std::string(reinterpret_cast<const char*>(t + 1), t[0]);
}

bool FindTag(MenuHandle menu, const std::string& tag, bool submenus, MenuHandle* found, int32* item) {
  if (!menu || !*menu || tag.empty() || !MIsListMenu(menu)) return false;
  MenuHandle m = nullptr;
  int32 n = 0;
  if (!MFindLItemByName(menu, Str255Text(tag).p, &m, &n, submenus ? 1 : 0) || n <= 0) return false;
  if (found) *found = m ? m : menu;
  if (item) *item = n;
  return true;
}

MenuHandle ProgramMenuBar() { return MenuTableGet(4); }

CookieJar RTMJar() { return gJar.load(); }

// ---- public

void RTMGetSpecialTag(int32 n, PStr text) {
  if (!text) return;
  text[0] = 0;
  if (n < 1 || n > 6) return;
  FillSpecialTags();
  PStrCpy(text, gSpecial[size_t(n - 1)]);
}

int32 RTMSpecialKind(const std::string& tag) {
  FillSpecialTags();
  for (int32 i = 0; i < 6; ++i) {
    const Str255& s = gSpecial[size_t(i)];
    if (tag.size() == s[0] && strncasecmp(tag.data(), reinterpret_cast<const char*>(s + 1), s[0]) == 0)
      return i + 1;
  }
  return 0;
}

Bool32 RTMIsAppItemTag(const std::string& tag) { return RTMFindAppItem(tag) > 0; }


void ParseShortcutText(const std::string& text, bool shift, int32* character, int32* keyCode, uInt32* modifiers) {
  *character = *keyCode = 0;
  *modifiers = 0;
  const std::string key = RTMStripTag(text);
  if (key.empty()) return;
  FillKeyNames();
  const std::string low = Lower(key);
  const auto at = std::lower_bound(gKeyNames.begin(), gKeyNames.end(), low);
  if (at != gKeyNames.end() && *at == low) {
    *keyCode = kKeyNames[size_t(at - gKeyNames.begin())].keyCode;
  } else {
    *keyCode = 27;
    *character = std::toupper(uChar(key[0]));
  }
  *modifiers = 0x20 | (shift ? 0x02 : 0);
}

void RTMParseShortcut(const RTMShortcutRec* rec, int32* character, int32* keyCode, uInt32* modifiers) {
  std::string text;
  if (rec && rec->key && *rec->key) text.assign(reinterpret_cast<const char*>(LStrBuf(*rec->key)), size_t(LStrLen(*rec->key)));
  ParseShortcutText(text, rec && rec->shift, character, keyCode, modifiers);
}

std::string ShortcutKeyText(int32 character, int32 keyCode) {
  FillKeyNames();
  for (size_t i = 0; i < 18; ++i)
    if (kKeyNames[i].keyCode == keyCode) return rtmtexts::kKeyNames[i];
  return character ? std::string(1, char(character)) : std::string();
}

// ---- menus

Bool32 RTMIsRunTimeMenu(MenuHandle menu) { return menu && *menu && ((*menu)->attrs[2] & kRTMMenuAttr) ? 1 : 0; }

Bool32 RTMIsAppMenuID(MenuHandle menu) {
  if (!menu || !*menu) return 1;
  const int32 id = (*menu)->menuId;
  return id == 0 || (id >= 26 && id <= 31) || !MIsListMenu(menu) ? 1 : 0;
}

// The menu-bar mark lives in the menu's fourth attribute word.
Bool32 RTMHasBarMark(MenuHandle menu) { return menu && *menu && ((*menu)->attrs[3] & 1) ? 1 : 0; }
void SetBarMark(MenuHandle menu, bool on) {
  if (menu && *menu) (*menu)->attrs[3] = on ? 1 : 0;
}

MgErr RTMNewMenu(ConstPStr title, MenuHandle* out) {
  *out = nullptr;
  const int32 id = NewMenuID(kMenuKindStandard);
  if (id < 0) return kMemFullErr;
  MenuHandle m = nullptr;
  if (MgErr err = MNewLMenu(&m, title, id)) {
    ReleaseMenuID(id);
    return err;
  }
  (*m)->attrs[2] |= kRTMMenuAttr;
  MenuTableSet(id, m);
  *out = m;
  return kNoErr;
}

void RTMDisposeMenu(MenuHandle menu) {
  if (!RTMIsRunTimeMenu(menu)) return;
  const int32 id = (*menu)->menuId;
  if (MenuTableGet(id) == menu) MenuTableSet(id, nullptr);
  ReleaseMenuID(id);
  const int32 n = MCountItems(menu);
  for (int32 i = 1; i <= n; ++i) {
    MenuItemInfo info{};
    MGetItemInfo(menu, i, &info);
    if (info.submenu && info.submenu != menu) RTMDisposeMenu(info.submenu);
  }
  MDisposeMenu(menu);
}

bool RTMTagInUse(MenuHandle owner, MenuHandle menu, const std::string& tag) {
  return FindTag(menu, tag, true, nullptr, nullptr) || (owner && owner != menu && FindTag(owner, tag, true, nullptr, nullptr));
}

// ---- sets of tags

// Names compare by their case-folded hash and then without regard to case
// (MFindLItemByName): the key holds both.  Names are stored cut to 255.
std::string RTMTagSet::Key(const std::string& tag) {
  const Str255Text p(tag);
  std::string key(reinterpret_cast<const char*>(p.p + 1), p.p[0]);
  for (char& c : key) c = char(ToLower(uChar(c)));
  const uInt32 hash = PStrHash(p.p, 1);
  key.append(reinterpret_cast<const char*>(&hash), sizeof hash);
  return key;
}

void RTMTagSet::Add(const std::string& tag) {
  if (!tag.empty()) tags_.insert(Key(tag));
}

bool RTMTagSet::Has(const std::string& tag) const { return !tag.empty() && tags_.count(Key(tag)) != 0; }

void RTMTagSet::AddTreeAt(MenuHandle menu, int32 first, int32 last, int32 depth) {
  if (!menu || !*menu || !MIsListMenu(menu) || depth > int32(kRTMMaxLevel)) return;
  for (int32 i = first; i <= last; ++i) {
    Add(TagOfItem(menu, i));
    MenuItemInfo info{};
    MGetItemInfo(menu, i, &info);
    if (info.submenu && info.submenu != menu)
      AddTreeAt(info.submenu, 1, MCountItems(info.submenu), depth + 1);
  }
}

void RTMTagSet::AddTree(MenuHandle menu) {
  if (menu && *menu && MIsListMenu(menu)) AddTreeAt(menu, 1, MCountItems(menu), 0);
}

void RTMTagSet::AddItems(MenuHandle menu, int32 first, int32 last) { AddTreeAt(menu, first, last, 0); }

void RTMTagSet::Merge(RTMTagSet& other) {
  if (other.tags_.size() > tags_.size()) tags_.swap(other.tags_);
  tags_.insert(other.tags_.begin(), other.tags_.end());
  other.tags_.clear();
  other.next_.clear();
}

int32& RTMTagSet::NextSuffix(const std::string& base) {
  int32& n = next_[Key(base)];
  if (n < 1) n = 1;
  return n;
}

void RTMMakeTagUnique(MenuHandle owner, MenuHandle menu, std::string* tag, RTMTagScope* scope) {
  RTMTagSet own, ownerTags;
  RTMTagScope read{&own, nullptr};
  if (!scope) {
    if (!RTMTagInUse(owner, menu, *tag)) return;
    own.AddTree(menu);
    if (owner && owner != menu) {
      ownerTags.AddTree(owner);
      read.owner = &ownerTags;
    }
    scope = &read;
  } else if (!scope->InUse(*tag)) {
    return;
  }
  // The suffixes below the one remembered for this cut tag are taken
  // already: tags are only added while a scope lives.
  const std::string cut = tag->substr(0, 250);
  for (int32& n = scope->own->NextSuffix(cut); n < 1000000; ++n) {
    std::string t = cut + "_" + std::to_string(n);
    if (!scope->InUse(t)) {
      *tag = t;
      return;
    }
  }
}

MgErr RTMInsertUserItem(MenuHandle owner, MenuHandle menu, const std::string& name, std::string* tag, bool checked,
                        bool enabled, const std::string* shortcut, bool shift, int32 position, uInt32 data,
                        int32* menuErr, RTMTagScope* scope) {
  RTMMakeTagUnique(owner, menu, tag, scope);
  const int32 at = position < 0 ? MCountItems(menu) : position;
  MgErr err = MInsertLItem(menu, Str255Text(name).p, Str255Text(*tag).p, checked ? 1 : 0, nullptr, 0, at, data);
  if (!err) {
    if (scope) scope->own->Add(*tag);
    int32 ch = 0, key = 0;
    uInt32 mods = 0;
    if (shortcut) ParseShortcutText(*shortcut, shift, &ch, &key, &mods);
    if (key) MSetItemShortcut(menu, at + 1, ch, key, mods);
    if (!enabled) MDisableItem(menu, at + 1);
  }
  if (err) *menuErr = kRTMMemErr;
  return err;
}

// Links the item at pos to the program's item (found, item): text and
// attributes copied; an application menu under it is shared.
static void RTMLinkAppItem(MenuHandle menu, int32 pos, MenuHandle found, int32 item) {
  MLinkLItem(menu, pos, found, item, 1);
  MenuItemInfo info{};
  MGetItemInfo(found, item, &info);
  if (info.submenu && RTMIsAppMenuID(info.submenu)) MSetLItemSubmenu(menu, pos, info.submenu);
}

namespace {

MgErr InsertAppItem(MenuHandle owner, MenuHandle menu, const std::string& name, const std::string& tag,
                    int32 position, uInt32 data, int32* menuErr, const RTMTagScope* scope) {
  const int32 kind = RTMSpecialKind(tag);
  if (kind != 2 && (scope ? scope->InUse(tag) : RTMTagInUse(owner, menu, tag))) {
    *menuErr = kRTMAppItemExists;
    return kNoErr;
  }
  const int32 at = position < 0 ? MCountItems(menu) : position;
  if (kind == 2) return MInsertLSeparator(menu, Str255Text(tag).p, at, data);
  MenuHandle found = nullptr;
  int32 item = 0;
  bool has = FindTag(ProgramMenuBar(), tag, true, &found, &item);
  // The open windows' group exists only once the Windows menu was set up.
  if (!has && kind == kRTMTagOpenWindows) {
    VIWindBuildWindowsList(nullptr);
    has = FindTag(ProgramMenuBar(), tag, true, &found, &item);
  }
  if (kind == 3 || kind == 4 || kind == 6) {
    if (RTMHasBarMark(menu)) {
      *menuErr = kRTMGroupOnBar;
      return kNoErr;
    }
    if (!has) {
      *menuErr = kRTMAppItemMissing;
      return kNoErr;
    }
    const int32 size = std::max<int32>(1, MGetLItemGroupSize(found, item));
    return MCopyItems(menu, Str255Text(tag).p, at, data, found, item, size);
  }
  if (MgErr err = MInsertLItem(menu, Str255Text(name).p, Str255Text(tag).p, 0, nullptr, 0, at, data)) return err;
  if (!has) {
    MDeleteItem(menu, at + 1);
    *menuErr = kRTMAppItemMissing;
    return kNoErr;
  }
  RTMLinkAppItem(menu, at + 1, found, item);
  return kNoErr;
}

}  // namespace

MgErr RTMInsertAppItem(MenuHandle owner, MenuHandle menu, const std::string& name, const std::string& tag,
                       int32 position, uInt32 data, int32* menuErr, RTMTagScope* scope) {
  const int32 before = MCountItems(menu);
  const MgErr err = InsertAppItem(owner, menu, name, tag, position, data, menuErr, scope);
  // The scope takes the tags of what went in, with the submenus they bring.
  const int32 added = MCountItems(menu) - before;
  if (scope && added > 0) {
    const int32 at = position < 0 ? before : position;
    scope->own->AddItems(menu, at + 1, at + added);
  }
  return err;
}

namespace {

// Builds the menu of the children of items[parent]; *next the first item
// not taken.
// The tags under the menu being built are kept in `mine`; those of the
// owner's tree, when the owner is not this menu, in ownerTags.  A submenu
// built under an item brings its tags here once it is attached.
MgErr Build(MenuHandle owner, const RTMTagSet* ownerTags, const std::vector<RTMItem>& items, int32 parent,
            ConstPStr title, MenuHandle* out, int32* next, RTMTagSet* mine) {
  *out = nullptr;
  *next = parent + 1;
  MenuHandle m = nullptr;
  if (MgErr err = RTMNewMenu(title, &m)) return err;
  if (!owner) {
    owner = m;
    ownerTags = mine;
  }
  RTMTagScope scope{mine, ownerTags == mine ? nullptr : ownerTags};
  const uInt32 level = items[size_t(parent)].level + 1;
  int32 i = parent + 1;
  uInt32 data = 0;
  const int32 count = int32(items.size());
  while (i < count && items[size_t(i)].level == level) {
    const RTMItem& it = items[size_t(i)];
    std::string tag = RTMStripTag(it.tag);
    int32 menuErr = 0;
    MgErr err;
    if (!RTMIsAppItemTag(tag))
      err = RTMInsertUserItem(owner, m, it.name, &tag, it.flags & kRTMItemChecked, it.flags & kRTMItemEnabled,
                           &it.shortcut, it.flags & kRTMItemShift, -1, ++data, &menuErr, &scope);
    else
      err = RTMInsertAppItem(owner, m, it.name, tag, -1, ++data, &menuErr, &scope);
    if (err) {
      RTMDisposeMenu(m);
      return err;
    }
    ++i;
    if (menuErr == 0 && i < count && items[size_t(i)].level > level) {
      MenuHandle sub = nullptr;
      int32 after = i;
      RTMTagSet below;
      if ((err = Build(owner, ownerTags, items, i - 1, Str255Text(it.name).p, &sub, &after, &below))) {
        RTMDisposeMenu(m);
        return err;
      }
      MSetLItemSubmenu(m, MCountItems(m), sub);
      mine->Merge(below);
      i = after;
    }
  }
  *out = m;
  *next = i;
  return kNoErr;
}

}  // namespace

MgErr RTMBuildMenu(MenuHandle owner, const std::vector<RTMItem>& items, int32 parent, ConstPStr title,
                   MenuHandle* out) {
  if (!out) return kArgErr;
  *out = nullptr;
  if (parent < 0 || size_t(parent) >= items.size()) return kArgErr;
  int32 next = 0;
  RTMTagSet mine, ownerTags;
  if (owner) ownerTags.AddTree(owner);
  return Build(owner, owner ? &ownerTags : nullptr, items, parent, title, out, &next, &mine);
}

namespace {
std::string PathIn(MenuHandle menu, const std::string& tag, int32 depth) {
  if (!menu || !*menu || depth > int32(kRTMMaxLevel) || !MIsListMenu(menu)) return {};
  const int32 n = MCountItems(menu);
  for (int32 i = 1; i <= n; ++i) {
    const std::string t = TagOfItem(menu, i);
    if (!t.empty() && strcasecmp(t.c_str(), tag.c_str()) == 0) return t;
    MenuItemInfo info{};
    MGetItemInfo(menu, i, &info);
    if (info.submenu && info.submenu != menu) {
      const std::string below = PathIn(info.submenu, tag, depth + 1);
      if (!below.empty()) return t + ":" + below;
    }
  }
  return {};
}
}  // namespace

std::string RTMItemPath(MenuHandle menu, const std::string& tag) { return tag.empty() ? std::string() : PathIn(menu, tag, 0); }

// ---- the VI's record

RTMVIMenuRec* RTMRecordOf(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  return reinterpret_cast<RTMVIMenuRec*>(uintptr_t(VIRec(vi)->mem432));
}

MgErr RTMNewVIMenuRef(UHandle vi) {
  if (!vi || !*vi) return kArgErr;
  RTMDisposeVIMenuRef(vi);
  RTMVIMenuRec* r = AllocRecord(vi);
  if (!r) return kMemFullErr;
  if (!gJar.load()) {
    CookieJar jar = MCNewJar();
    if (!jar) return kMemFullErr;
    gJar.store(jar);
    RTMClearShuttingDown();
  }
  const Cookie c = MCNewCookie(gJar.load(), &vi);
  if (!c) return kMemFullErr;
  r->refnum = c;
  ResetBlock(vi);
  return kNoErr;
}

void RTMDisposeVIMenuRef(UHandle vi) {
  RTMVIMenuRec* r = RTMRecordOf(vi);
  if (!r) return;
  MenuHandle bar = r->menuBar;
  r->menuBar = nullptr;
  RTMDisposeMenu(bar);
  if (r->selections) AZDisposeHandle(reinterpret_cast<UHandle>(r->selections));
  if (r->occurrences) AZDisposeHandle(r->occurrences);
  r->selections = nullptr;
  r->occurrences = nullptr;
  if (r->refnum && gJar.load()) MCDisposeCookie(gJar.load(), r->refnum, nullptr);
  r->refnum = 0;
}

void RTMFreeVIMenuRec(UHandle vi) {
  RTMVIMenuRec* r = RTMRecordOf(vi);
  if (!r) return;
  RTMDisposeVIMenuRef(vi);
  VIRec(vi)->mem432 = 0;
  AZDisposePtr(reinterpret_cast<UPtr>(r));
}

Bool32 RTMHasVIMenuRef(UHandle vi) {
  const RTMVIMenuRec* r = RTMRecordOf(vi);
  return r && r->refnum ? 1 : 0;
}

Bool32 RTMIsMenuRefnum(uInt32 refnum) {
  CookieJar jar = gJar.load();
  return refnum && jar && MCIsACookie(jar, refnum) ? 1 : 0;
}

UHandle RTMRefnumVI(uInt32 refnum) {
  CookieJar jar = gJar.load();
  UHandle vi = nullptr;
  if (!refnum || !jar || MCGetCookieInfo(jar, refnum, &vi) != kNoErr) return nullptr;
  return vi;
}

MgErr RTMLoadVIMenu(UHandle vi, MenuHandle* menu) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  if (!vi || !*vi) return kArgErr;
  if (RTMVIMenuRec* r = RTMRecordOf(vi); r && r->menuBar) {
    *menu = r->menuBar;
    return kNoErr;
  }
  RTMMenuData data;
  Str255 title;
  title[0] = 0;
  const uInt32 source = MenuWord(vi) & kRTMSourceMask;
  if (source == kRTMSourceFile) {
    Path p = VIRec(vi)->rtMenuPath;
    if (!p || !FIsAPath(p)) return kArgErr;
    if (MgErr err = RTMReadMenuFile(p, &data)) return err;
    FNamePtr(p, title);
    PStrStripRezExt(title, 0);
  } else if (source == kRTMSourceMinimal) {
    if (MgErr err = RTMReadMenuRsrc(RunTimeRsrcFile(), kRTMMinimalMenuId, &data)) return err;
    if (!data.items.empty()) std::memcpy(title, Str255Text(data.items[0].name).p, 256);
  } else {
    return kNoErr;
  }
  if (data.items.empty()) return 42;
  RTMVIMenuRec* r = AllocRecord(vi);
  if (!r) return kMemFullErr;
  MenuHandle bar = nullptr;
  if (MgErr err = RTMBuildMenu(nullptr, data.items, 0, title, &bar)) return err;
  SetBarMark(bar, true);
  r->menuBar = bar;
  ResetBlock(vi);
  if (r->occurrences && AZGetHandleSize(r->occurrences) >= 4) PutNative32(*r->occurrences, 0);
  *menu = bar;
  return kNoErr;
}

MenuHandle RTMCurrentMenu(UHandle vi) {
  if (vi && *vi && Running(vi)) {
    MenuHandle m = nullptr;
    if (RTMLoadVIMenu(vi, &m) == kNoErr && m) return m;
  }
  return ProgramMenuBar();
}

namespace {
MgErr CopyMenu(MenuHandle source, MenuHandle* out, int32 depth) {
  *out = nullptr;
  if (RTMIsAppMenuID(source)) {
    *out = source;
    return kNoErr;
  }
  if (depth > int32(kRTMMaxLevel)) return kArgErr;
  MenuHandle m = nullptr;
  if (MgErr err = RTMNewMenu((*source)->title, &m)) return err;
  SetBarMark(m, RTMHasBarMark(source));
  const int32 n = MCountItems(source);
  MgErr err = kNoErr;
  for (int32 i = 1; i <= n && !err;) {
    const int32 group = MGetLItemGroupSize(source, i);
    MenuItemInfo info{};
    MGetItemInfo(source, i, &info);
    const std::string tag = TagOfItem(source, i);
    if (group > 0) {
      err = MCopyItems(m, Str255Text(tag).p, -1, info.itemKey, source, i, group);
      i += group;
      continue;
    }
    Str255 text;
    MGetItemText(source, i, text);
    err = MInsertLItem(m, text, Str255Text(tag).p, info.mark ? 1 : 0, nullptr, 0, MCountItems(m), info.itemKey);
    if (err) break;
    const int32 at = MCountItems(m);
    MLinkLItem(m, at, source, i, 1);
    if (info.submenu && info.submenu != source) {
      MenuHandle sub = nullptr;
      if ((err = CopyMenu(info.submenu, &sub, depth + 1))) break;
      MSetLItemSubmenu(m, at, sub);
    }
    ++i;
  }
  if (err) {
    RTMDisposeMenu(m);
    return err;
  }
  *out = m;
  return kNoErr;
}
}  // namespace

MenuHandle RTMCopyToRunTimeMenu(UHandle vi) {
  MenuHandle current = RTMCurrentMenu(vi);
  if (!current || !*current) return nullptr;
  if (RTMIsRunTimeMenu(current)) return current;
  RTMVIMenuRec* r = AllocRecord(vi);
  if (!r) return nullptr;
  MenuHandle copy = nullptr;
  if (CopyMenu(current, &copy, 0) != kNoErr || !copy) return nullptr;
  if (copy == current) return current;
  if (current == ProgramMenuBar()) SetBarMark(copy, true);
  MenuHandle old = r->menuBar;
  r->menuBar = copy;
  RTMDisposeMenu(old);
  if (ObjHeap panel = VIRec(vi)->panelHeap; panel && *panel) UpdateVIMenuBar(panel);
  return copy;
}

// ---- the window side

Bool32 RTMResolveLinkedItem(MenuHandle menu, int32* menuId, int32* item, int32* data) {
  if (!RTMIsRunTimeMenu(menu) || !item) return 0;
  MenuHandle linked = nullptr;
  int32 index = 0;
  if (!MGetLItemLink(menu, *item, &linked, &index) || !linked || !*linked) return 0;
  MenuItemInfo info{};
  MGetItemInfo(linked, index, &info);
  if (menuId) *menuId = (*linked)->menuId;
  *item = index;
  if (data) *data = int32(info.itemKey);
  return 1;
}

Bool32 RTMIsRunTimeMenuID(int32 menuId) { return RTMIsRunTimeMenu(MenuTableGet(menuId)); }

Bool32 RTMResolveLinkedItemID(int32* menuId, int32* item, int32* data) {
  if (!menuId) return 0;
  return RTMResolveLinkedItem(MenuTableGet(*menuId), menuId, item, data);
}

namespace {
void Refresh(MenuHandle menu, int32 depth) {
  if (!RTMIsRunTimeMenu(menu) || depth > int32(kRTMMaxLevel)) return;
  for (int32 i = 1; i <= MCountItems(menu);) {
    MenuHandle linked = nullptr;
    int32 index = 0;
    const bool isLinked = MGetLItemLink(menu, i, &linked, &index) != 0;
    const int32 group = MGetLItemGroupSize(menu, i);
    if (group > 0 && isLinked) {
      MenuItemInfo info{};
      MGetItemInfo(menu, i, &info);
      const std::string tag = TagOfItem(menu, i);
      MenuHandle found = nullptr;
      int32 head = 0;
      MDeleteLItemGroup(menu, i);
      if (FindTag(ProgramMenuBar(), tag, true, &found, &head)) {
        const int32 size = std::max<int32>(1, MGetLItemGroupSize(found, head));
        if (MCopyItems(menu, Str255Text(tag).p, i - 1, info.itemKey, found, head, size) == kNoErr) {
          i += size;
          continue;
        }
      }
      continue;
    }
    if (isLinked) {
      MCopyLItem(menu, i, linked, index);
    } else {
      MenuItemInfo info{};
      MGetItemInfo(menu, i, &info);
      if (info.submenu && info.submenu != menu) Refresh(info.submenu, depth + 1);
    }
    i += group > 0 ? group : 1;
  }
}
}  // namespace

void RTMRefreshLinkedItems(WindowRef, MenuHandle menu) { Refresh(menu, 0); }

void RTMQueueSelection(UHandle vi, int32 menuId, int32 item) {
  MenuHandle menu = MenuTableGet(menuId);
  if (!vi || !*vi || !RTMIsRunTimeMenu(menu)) return;
  RTMVIMenuRec* r = RTMRecordOf(vi);
  if (!r) return;
  if (!r->selections) {
    r->selections = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
    if (!r->selections) return;
  }
  const std::string tag = TagOfItem(menu, item);
  if (tag.empty()) return;
  const int32 count = int32(GetNative32(*reinterpret_cast<UHandle>(r->selections)));
  if (CPStrInsert(r->selections, Str255Text(tag).p, count) != kNoErr) return;
  MenuWord(vi) |= kRTMBlocked;
  // The first occurrence that fires ends the round; those that fail go.
  while (r->occurrences && AZGetHandleSize(r->occurrences) >= 4 && GetNative32(*r->occurrences) > 0) {
    const Occurrence occ = Occurrence(GetNative32(*r->occurrences + 4));
    HObjListDelete(r->occurrences, 0);
    if (Occur(occ) == kNoErr) break;
  }
}

Bool32 RTMTrackingBlocked(UHandle vi) {
  return vi && *vi && Running(vi) && (MenuWord(vi) & kRTMBlocked) ? 1 : 0;
}

MgErr RTMCheckAppMenuTags(MenuHandle menu) {
  MgErr result = 0;
  if (!menu || !*menu || !MIsListMenu(menu)) return result;
  Str255 sep;
  RTMGetSpecialTag(2, sep);
  const std::string separator(reinterpret_cast<const char*>(sep + 1), sep[0]);
  std::vector<MenuHandle> todo{menu}, seen;
  while (!todo.empty()) {
    MenuHandle m = todo.back();
    todo.pop_back();
    if (std::find(seen.begin(), seen.end(), m) != seen.end()) continue;
    seen.push_back(m);
    for (int32 i = 1; i <= MCountItems(m); ++i) {
      const std::string tag = TagOfItem(m, i);
      MenuHandle found = nullptr;
      int32 at = 0;
      if (!tag.empty() && strcasecmp(tag.c_str(), separator.c_str()) != 0 &&
          FindTag(ProgramMenuBar(), tag, true, &found, &at) && (found != m || at != i)) {
        DBPrintf("Error: Duplicate tag %p in app menu", Str255Text(tag).p);
        result |= 1;
      }
      MenuItemInfo info{};
      MGetItemInfo(m, i, &info);
      if (info.submenu && MIsListMenu(info.submenu)) todo.push_back(info.submenu);
    }
  }
  return result;
}

void RTMShutDown() {
  RTMSetShuttingDown();
  delete gCatalog;
  gCatalog = nullptr;
  gCatalogTried = false;
  if (CookieJar jar = gJar.exchange(nullptr)) MCDisposeJar(jar);
}

void RTMResetCaches() {
  RTMClearShuttingDown();
  delete gCatalog;
  gCatalog = nullptr;
  gCatalogTried = false;
  gSpecialRead = false;
  gKeyNamesRead = false;
}
