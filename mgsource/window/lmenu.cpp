// List-menu items: building, editing, finding, grouping and linking the
// item records kept after a list menu's title.
#include "mgsource/window/lmenu.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/extsupport.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu_internal.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr MgErr kPositionErr = 1;

bool ListMenu(MenuHandle menu) { return menu && *menu && (*menu)->proc == &LMenuProc; }

int32 HandleSize(MenuHandle menu) { return AZGetHandleSize(reinterpret_cast<UHandle>(menu)); }

// Pascal string helpers.
void PSet(PStr out, std::string_view s) {
  const size_t n = std::min<size_t>(s.size(), 255);
  out[0] = uChar(n);
  if (n) std::memcpy(out + 1, s.data(), n);
}
std::string_view PView(ConstPStr p) { return p ? std::string_view(reinterpret_cast<const char*>(p + 1), p[0]) : ""; }

int32 TextWidth(const uChar* text, int32 length, int32 font) {
  if (length <= 0) return 0;
  Point size{0, 0};
  TTextSize(text, length, font, &size);
  return size.h;
}

int32 Pad4(int32 n) { return (n + 3) & ~3; }
int32 StringsSize(ConstPStr text, ConstPStr name) {
  return Pad4(4 + (text ? text[0] : 0) + 1 + (name ? name[0] : 0) + 1);
}

// Replaces `oldSize` bytes at `offset` by the new bytes, growing the handle
// before anything is moved: a failure leaves the menu as it was.
MgErr Splice(MenuHandle menu, int32 offset, int32 oldSize, const uChar* bytes, int32 newSize) {
  lmenu::Forget(menu);
  UHandle h = reinterpret_cast<UHandle>(menu);
  const int32 size = AZGetHandleSize(h);
  if (newSize > oldSize)
    if (AZSetHandleSize(h, size + newSize - oldSize) != kNoErr) return kMemFullErr;
  uChar* base = *h;
  std::memmove(base + offset + newSize, base + offset + oldSize, size_t(size - offset - oldSize));
  if (newSize) std::memcpy(base + offset, bytes, size_t(newSize));
  if (newSize < oldSize) AZSetHandleSize(h, size + newSize - oldSize);
  return kNoErr;
}

}  // namespace

// ---- internal helpers shared with the procedure and the drawing

namespace lmenu {

// The title's padding leaves the first free byte 3 bytes past a 4-byte
// boundary (the header ends in three state bytes); items begin at the next
// boundary so that every record's fields are aligned.
int32 ItemsStart(MenuHandle menu) { return (MenuItemArea((*menu)->title) + 3) & ~3; }

int32 RecordSize(const LItemRecord* item) { return kLItemFixedSize + item->varSize; }

namespace {
// The item the last walk of a menu stopped at, with what the menu was then:
// a walk to that item or a later one starts there, so that items visited in
// order (an item appended, then its shortcut and state set) cost one step
// each, not a walk from the first.  Item records move only by Splice, which
// forgets the mark, as does disposing the menu.  Menus are the
// user-interface thread's, as the mark is.
struct WalkMark {
  MenuHandle menu = nullptr;
  int32 count = 0, size = 0, start = 0, n = 0, offset = 0;
};
WalkMark gMark;
}  // namespace

void Forget(MenuHandle menu) {
  if (gMark.menu == menu) gMark = WalkMark{};
}

// The byte offset of item n (1..count + 1: count + 1 is the end), or -1
// when the records do not fit the handle.
int32 OffsetOf(MenuHandle menu, int32 n) {
  const int32 end = HandleSize(menu), start = ItemsStart(menu), count = (*menu)->itemCount;
  int32 at = start, i = 1;
  const WalkMark& m = gMark;
  if (m.menu == menu && m.count == count && m.size == end && m.start == start && m.n <= n) {
    at = m.offset;
    i = m.n;
  }
  for (; i < n; ++i) {
    if (at + kLItemFixedSize > end) return -1;
    const auto* item = reinterpret_cast<const LItemRecord*>(reinterpret_cast<uChar*>(*menu) + at);
    if (item->varSize < 8 || at + RecordSize(item) > end) return -1;
    at += RecordSize(item);
  }
  if (n >= 1) gMark = WalkMark{menu, count, end, start, n, at};
  return at;
}

LItemRecord* At(MenuHandle menu, int32 offset) {
  return reinterpret_cast<LItemRecord*>(reinterpret_cast<uChar*>(*menu) + offset);
}

LItemRecord* Item(MenuHandle menu, int32 n) {
  if (!ListMenu(menu) || n < 1 || n > (*menu)->itemCount) return nullptr;
  const int32 at = OffsetOf(menu, n);
  return at < 0 ? nullptr : At(menu, at);
}

bool IsSeparator(const LItemRecord* item) {
  ConstPStr text = MLItemString(item, 0);
  return text[0] == 1 && text[1] == '-';
}

// The fixed fields with the mnemonic of a shown text measured in the font.
void SetMnemonic(LItemRecord* fields, ConstPStr shown, int32 position, int32 font) {
  fields->mnemonic = 0;
  fields->underlineOffset = 0;
  fields->underlineLength = 0;
  if (position < 1 || position > shown[0]) return;
  fields->mnemonic = uChar(ToUpper(shown[position]));
  const int32 before = TextWidth(shown + 1, position - 1, font);
  const int32 through = TextWidth(shown + 1, position, font);
  fields->underlineOffset = int16(before);
  fields->underlineLength = uChar(std::clamp(through - before - 1, 0, 255));
}

// A whole record: the fixed fields, the two strings, the data padded.
std::vector<uChar> Build(const LItemRecord& fields, ConstPStr shown, ConstPStr name, const void* data,
                         int32 dataSize) {
  const int32 strings = StringsSize(shown, name);
  std::vector<uChar> bytes(size_t(kLItemFixedSize + strings + Pad4(dataSize)), 0);
  LItemRecord head = fields;
  head.varSize = int16(strings + Pad4(dataSize));
  std::memcpy(bytes.data(), &head, size_t(kLItemFixedSize));
  uChar* s = bytes.data() + kLItemFixedSize;
  const int32 count = 2;
  std::memcpy(s, &count, 4);
  const uChar empty = 0;
  if (!shown) shown = &empty;
  if (!name) name = &empty;
  std::memcpy(s + 4, shown, size_t(shown[0]) + 1);
  std::memcpy(s + 4 + shown[0] + 1, name, size_t(name[0]) + 1);
  if (dataSize > 0) std::memcpy(s + strings, data, size_t(dataSize));
  return bytes;
}

// Inserts after a position (groups are kept whole); *index the new item.
MgErr Insert(MenuHandle menu, const LItemRecord& fields, ConstPStr shown, ConstPStr name, const void* data,
             int32 dataSize, int32 after, int32* index) {
  if (!ListMenu(menu)) {
    DBAssert(__FILE__, __LINE__, "not a list menu");
    return kPositionErr;
  }
  const int32 count = (*menu)->itemCount;
  if (after == -1) after = count;
  if (after < 0 || after > count) {
    DBAssert(__FILE__, __LINE__, "MInsertLItem: position out of range");
    return kPositionErr;
  }
  if (dataSize < 0 || dataSize > kLItemMaxData || (dataSize && !data)) {
    DBAssert(__FILE__, __LINE__, "MInsertLItem: item data larger than 256 bytes");
    return kPositionErr;
  }
  if (after >= 1) {
    const LItemRecord* at = Item(menu, after);
    if (!at) return kPositionErr;
    int32 head = after, length = at->group;
    if (at->group < 0) {
      head = after + at->group;
      const LItemRecord* h = Item(menu, head);
      length = h && h->group > 0 ? h->group : 1;
    }
    if (length > 1) after = std::min(head + length - 1, count);
  }
  if (HandleSize(menu) < ItemsStart(menu))
    if (AZSetHandleSize(reinterpret_cast<UHandle>(menu), ItemsStart(menu)) != kNoErr) return kMemFullErr;
  const int32 offset = OffsetOf(menu, after + 1);
  if (offset < 0) return kPositionErr;
  const std::vector<uChar> bytes = Build(fields, shown, name, data, dataSize);
  if (MgErr err = Splice(menu, offset, 0, bytes.data(), int32(bytes.size()))) return err;
  (*menu)->itemCount = count + 1;
  // The next walk (the new item's shortcut and state) starts at it.
  gMark = WalkMark{menu, count + 1, HandleSize(menu), ItemsStart(menu), after + 1, offset};
  MInvalMenuSize(menu);
  if (index) *index = after + 1;
  return kNoErr;
}

// Replaces item n's record by one built from the fields and strings.
MgErr Replace(MenuHandle menu, int32 n, const LItemRecord& fields, ConstPStr shown, ConstPStr name) {
  const int32 offset = OffsetOf(menu, n);
  if (offset < 0) return kPositionErr;
  const LItemRecord* old = At(menu, offset);
  const int32 oldSize = RecordSize(old);
  const std::vector<uChar> data(MLItemData(old), MLItemData(old) + MLItemDataSize(old));
  const std::vector<uChar> bytes = Build(fields, shown, name, data.data(), int32(data.size()));
  if (MgErr err = Splice(menu, offset, oldSize, bytes.data(), int32(bytes.size()))) return err;
  MInvalMenuSize(menu);
  return kNoErr;
}

bool Walk::Valid() const {
  return at_ >= 0 && n_ >= 1 && n_ <= (*menu_)->itemCount &&
         at_ + kLItemFixedSize <= AZGetHandleSize(reinterpret_cast<UHandle>(menu_));
}

void Delete(MenuHandle menu, int32 first, int32 length) {
  const int32 from = OffsetOf(menu, first), to = OffsetOf(menu, first + length);
  if (from < 0 || to < from) return;
  Splice(menu, from, to - from, nullptr, 0);
  (*menu)->itemCount -= length;
  MInvalMenuSize(menu);
}

// The head of item n's group and the group's length (1 for an ungrouped
// item); false, reported, when a follower's head has no length.
bool GroupOf(MenuHandle menu, int32 n, int32* head, int32* length) {
  const LItemRecord* item = Item(menu, n);
  if (!item) return false;
  *head = n, *length = 1;
  if (item->group > 0) *length = item->group;
  if (item->group < 0) {
    *head = n + item->group;
    const LItemRecord* h = Item(menu, *head);
    if (!h || h->group <= 0) {
      DBAssert(__FILE__, __LINE__, "group head without length");
      return false;
    }
    *length = h->group;
  }
  *length = std::min(*length, (*menu)->itemCount - *head + 1);
  return true;
}

}  // namespace lmenu

using namespace lmenu;

// ---- creation

MgErr MNewLMenu(MenuHandle* menu, ConstPStr title, int32 menuId) {
  return MNewCustomMenu(menu, title, menuId, &LMenuProc, 0);
}

Bool32 MIsListMenu(MenuHandle menu) {
  if (!menu || !*menu) {
    DBAssert(__FILE__, __LINE__, "no menu");
    return 0;
  }
  return ListMenu(menu) ? 1 : 0;
}

MgErr MNewLMenuFromStrings(RsrcFileRef file, int32 listId, int32 menuId, MenuHandle* menu) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  uChar title[256];
  if (MgErr err = RGetIndString(file, title, listId, 1)) return err;
  if (MgErr err = MNewLMenu(menu, title, menuId)) return err;
  return MAppendLItemsFromStrings(file, listId, *menu, 2, -1);
}

MgErr MAppendLItemsFromStrings(RsrcFileRef file, int32 listId, MenuHandle menu, int32 first, int32 limit) {
  if (!ListMenu(menu)) return kArgErr;
  MgErr err = kNoErr;
  for (int32 index = first, added = 0; limit < 0 || added < limit; ++index, ++added) {
    uChar entry[256], text[256], name[256];
    if (RGetIndString(file, entry, listId, index) != kNoErr) break;
    int32 character = 0, keyCode = 0;
    uInt32 modifiers = 0;
    MParseShortcutSpec(entry, text, name, &character, &keyCode, &modifiers);
    const uInt32 key = uInt32(index - 1);
    err = PView(text) == "-" ? MInsertLSeparator(menu, name, -1, key)
                             : MInsertLItem(menu, text, name, 0, nullptr, 0, -1, key);
    if (err) break;
    MSetItemShortcut(menu, (*menu)->itemCount, character, keyCode, modifiers);
  }
  MCalcMenuSize(menu);
  return err;
}

void MParseShortcutSpec(ConstPStr entry, PStr text, PStr name, int32* character, int32* keyCode,
                        uInt32* modifiers) {
  struct Named {
    const char* name;
    int32 value;
  };
  // Both tables sorted by byte order for the binary search.
  static constexpr Named kKeys[] = {
      {"vkBreak", 3},  {"vkDelete", 9}, {"vkDown", 5},   {"vkEnd", 11},       {"vkEnter", 2},    {"vkF1", 15},
      {"vkF10", 24},   {"vkF11", 25},   {"vkF12", 26},   {"vkF2", 16},        {"vkF3", 17},      {"vkF4", 18},
      {"vkF5", 19},    {"vkF6", 20},    {"vkF7", 21},    {"vkF8", 22},        {"vkF9", 23},      {"vkHome", 10},
      {"vkInsert", 8}, {"vkLeft", 6},   {"vkPageDown", 13}, {"vkPageUp", 12}, {"vkRight", 7},    {"vkUp", 4}};
  static constexpr Named kModifiers[] = {{"Caps", 0x04}, {"Cmd", 0x08},  {"Ctrl", 0x10},
                                         {"Mk", 0x20},   {"Opt", 0x01},  {"Shift", 0x02}};
  const auto find = [](const auto& table, std::string_view token) -> const Named* {
    const auto it = std::lower_bound(std::begin(table), std::end(table), token,
                                     [](const Named& n, std::string_view t) { return std::string_view(n.name) < t; });
    return it != std::end(table) && std::string_view(it->name) == token ? &*it : nullptr;
  };
  int32 ch = 0, key = 0;
  uInt32 mods = 0;
  std::string_view rest = PView(entry), fields[3];
  for (int32 f = 0; f < 2; ++f) {
    const size_t colon = rest.find(':');
    fields[f] = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  fields[2] = rest;
  if (text) PSet(text, fields[0]);
  if (name) PSet(name, fields[1]);
  std::vector<std::string_view> tokens;
  for (std::string_view keys = fields[2]; !keys.empty();) {
    const size_t plus = keys.find('+');
    tokens.push_back(keys.substr(0, plus));
    if (plus == std::string_view::npos) break;
    keys = keys.substr(plus + 1);
    if (keys.empty()) tokens.push_back(keys);
  }
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view t = tokens[i];
    if (t.size() == 1) {
      ch = ToUpper(uChar(t[0])), key = 27;
    } else if (t.empty()) {
      // "...++" at the end: the key is the plus sign itself.
      if (i + 1 == tokens.size() && i >= 1 && tokens[i - 1].empty()) ch = '+', key = 27;
    } else if (const Named* k = find(kKeys, t)) {
      key = k->value;
    } else if (const Named* m = find(kModifiers, t)) {
      mods |= uInt32(m->value);
    }
  }
  // A character key whose modifiers hold nothing but Shift (or nothing at
  // all) is the menu key with that character.
  if (key == 27 && (mods & ~uInt32(0x02)) == 0) mods |= 0x20;
  if (character) *character = ch;
  if (keyCode) *keyCode = key;
  if (modifiers) *modifiers = mods;
}

// ---- insertion and change

MgErr MInsertLItem(MenuHandle menu, ConstPStr text, ConstPStr name, int32 mark, const void* data, int32 dataSize,
                   int32 after, uInt32 itemKey) {
  if (!ListMenu(menu)) return kPositionErr;
  uChar shown[256];
  const int32 position = MParseItemText(text, shown);
  LItemRecord fields{};
  fields.itemKey = itemKey;
  fields.enabled = 1;
  fields.mark = uChar(mark);
  fields.nameHash = PStrHash(name ? name : reinterpret_cast<ConstPStr>("\0"), 1);
  SetMnemonic(&fields, shown, position, (*menu)->font);
  return Insert(menu, fields, shown, name, data, dataSize, after, nullptr);
}

MgErr MInsertLSeparator(MenuHandle menu, ConstPStr name, int32 after, uInt32 itemKey) {
  if (!ListMenu(menu)) return kPositionErr;
  static const uChar kDash[] = {1, '-'};
  LItemRecord fields{};
  fields.itemKey = itemKey;
  fields.nameHash = PStrHash(name ? name : reinterpret_cast<ConstPStr>("\0"), 1);
  return Insert(menu, fields, kDash, name, nullptr, 0, after, nullptr);
}

MgErr MInsertLItemSorted(MenuHandle menu, ConstPStr text, ConstPStr name, int32 mark, const void* data,
                         int32 dataSize, int32 after, uInt32 itemKey, int32 runLength, Bool32 ascending,
                         int32* position) {
  if (!ListMenu(menu)) return kPositionErr;
  const int32 count = (*menu)->itemCount;
  if (after == -1) after = count;
  if (after < 0 || after > count) return MInsertLItem(menu, text, name, mark, data, dataSize, after, itemKey);
  uChar key[256];
  std::string_view t = PView(text);
  if (t.size() >= 2 && t.substr(0, 2) == "__") t.remove_prefix(2);
  PSet(key, t);
  const int32 last = std::min(count, after + std::max(runLength, 0));
  int32 at = last;
  for (Walk w(menu, after + 1); w.Valid() && w.Index() <= last; w.Next()) {
    const int32 c = PStrCmp(MLItemString(w.Get(), 0), key);
    if (c == 0 || (ascending ? c > 0 : c < 0)) {
      at = w.Index() - 1;
      break;
    }
  }
  const MgErr err = MInsertLItem(menu, text, name, mark, data, dataSize, at, itemKey);
  if (position) *position = err ? 0 : at + 1;
  return err;
}

MgErr MChangeLItem(MenuHandle menu, int32 item, ConstPStr text, ConstPStr name) {
  if (item == 0) return kNoErr;
  const LItemRecord* old = MGetLItemPtr(menu, item);
  if (!old) return kPositionErr;
  LItemRecord fields = *old;
  uChar shown[256], keptName[256];
  std::memcpy(shown, MLItemString(old, 0), size_t(MLItemString(old, 0)[0]) + 1);
  std::memcpy(keptName, MLItemString(old, 1), size_t(MLItemString(old, 1)[0]) + 1);
  if (text) SetMnemonic(&fields, shown, MParseItemText(text, shown), (*menu)->font);
  if (name) {
    std::memcpy(keptName, name, size_t(name[0]) + 1);
    fields.nameHash = PStrHash(keptName, 1);
  }
  return Replace(menu, item, fields, shown, keptName);
}

MgErr MCopyLItem(MenuHandle menu, int32 item, MenuHandle source, int32 sourceItem) {
  if (menu == source && item == sourceItem) return kNoErr;
  const LItemRecord* from = MGetLItemPtr(source, sourceItem);
  const LItemRecord* to = MGetLItemPtr(menu, item);
  if (!from || !to) return kPositionErr;
  LItemRecord fields = *to;
  fields.mark = from->mark;
  fields.markImage = from->markImage;
  fields.shortcutChar = from->shortcutChar;
  fields.shortcutMods = from->shortcutMods;
  fields.shortcutKey = from->shortcutKey;
  fields.mnemonic = from->mnemonic;
  fields.underlineOffset = from->underlineOffset;
  fields.underlineLength = from->underlineLength;
  fields.enabled = from->enabled;
  uChar shown[256], name[256];
  std::memcpy(shown, MLItemString(from, 0), size_t(MLItemString(from, 0)[0]) + 1);
  std::memcpy(name, MLItemString(to, 1), size_t(MLItemString(to, 1)[0]) + 1);
  return Replace(menu, item, fields, shown, name);
}

void MSetLItemSubmenu(MenuHandle menu, int32 item, MenuHandle submenu) {
  if (LItemRecord* r = MGetLItemPtr(menu, item)) {
    r->submenu = submenu;
    MInvalMenuSize(menu);
  }
}

void MSetLItemMark(MenuHandle menu, int32 item, uInt32 image) {
  if (LItemRecord* r = MGetLItemPtr(menu, item)) {
    r->markImage = image;
    r->mark = image ? 1 : 0;
  }
}

// ---- access

LItemRecord* MGetLItemPtr(MenuHandle menu, int32 item) {
  LItemRecord* r = Item(menu, item);
  if (!r) DBAssert(__FILE__, __LINE__, "MGetLItemPtr: no such item");
  return r;
}

LItemRecord* MNextLItem(LItemRecord* item) {
  return item ? reinterpret_cast<LItemRecord*>(reinterpret_cast<uChar*>(item) + RecordSize(item)) : nullptr;
}

namespace {
// The strings part, addressed from the record's start (the member array is
// only its first word).
const uChar* Strings(const LItemRecord* item) { return reinterpret_cast<const uChar*>(item) + kLItemFixedSize; }
}  // namespace

ConstPStr MLItemString(const LItemRecord* item, int32 which) {
  ConstPStr text = Strings(item) + 4;
  return which == 0 ? text : text + text[0] + 1;
}

int32 MLItemDataSize(const LItemRecord* item) {
  return item->varSize - StringsSize(MLItemString(item, 0), MLItemString(item, 1));
}

const uChar* MLItemData(const LItemRecord* item) {
  return Strings(item) + StringsSize(MLItemString(item, 0), MLItemString(item, 1));
}

void MGetLItemName(MenuHandle menu, int32 item, PStr name) {
  if (!name) return;
  name[0] = 0;
  if (const LItemRecord* r = MGetLItemPtr(menu, item)) {
    ConstPStr n = MLItemString(r, 1);
    std::memcpy(name, n, size_t(n[0]) + 1);
  }
}

int32 MFindLItemByKey(MenuHandle menu, uInt32 key) {
  if (!ListMenu(menu)) return 0;
  const int32 count = (*menu)->itemCount;
  int32 at = ItemsStart(menu);
  for (int32 n = 1; n <= count; ++n, at += RecordSize(At(menu, at)))
    if (At(menu, at)->itemKey == key) return n;
  return 0;
}

namespace {

// Depth first through submenus; each menu is entered once, so a chain of
// submenus that leads back to a menu on the way ends.
int32 FindByName(MenuHandle menu, ConstPStr name, uInt32 hash, MenuHandle* found, bool submenus,
                 std::vector<MenuHandle>& seen) {
  if (!ListMenu(menu) || std::find(seen.begin(), seen.end(), menu) != seen.end()) return 0;
  seen.push_back(menu);
  for (Walk w(menu); w.Valid(); w.Next()) {
    const LItemRecord* r = w.Get();
    if (r->nameHash == hash && PStrCaseCmp(MLItemString(r, 1), name) == 0) {
      *found = menu;
      return w.Index();
    }
    if (submenus && r->submenu)
      if (const int32 index = FindByName(r->submenu, name, hash, found, submenus, seen)) return index;
  }
  return 0;
}

}  // namespace

int32 MFindLItemByName(MenuHandle menu, ConstPStr name, MenuHandle* found, int32* index, Bool32 searchSubmenus) {
  MenuHandle where = nullptr;
  std::vector<MenuHandle> seen;
  const int32 n = name && name[0] ? FindByName(menu, name, PStrHash(name, 1), &where, searchSubmenus != 0, seen) : 0;
  if (found) *found = n ? where : nullptr;
  if (index) *index = n;
  return n;
}

// ---- groups and links

MgErr MGroupLItems(MenuHandle menu, int32 first, int32 length, ConstPStr name) {
  if (!MGetLItemPtr(menu, first)) return kPositionErr;
  length = std::min(length, (*menu)->itemCount - first + 1);
  if (length < 1) return kPositionErr;
  if (name)
    if (MgErr err = MChangeLItem(menu, first, nullptr, name)) return err;
  // Groups never overlap: a group that any of the items belongs to is
  // dissolved first.
  for (int32 i = 0; i < length; ++i)
    if (Item(menu, first + i)->group != 0) MUngroupLItems(menu, first + i);
  for (int32 i = 0; i < length; ++i) Item(menu, first + i)->group = i == 0 ? length : -i;
  return kNoErr;
}

void MUngroupLItems(MenuHandle menu, int32 item) {
  int32 head, length;
  if (!GroupOf(menu, item, &head, &length)) return;
  for (int32 i = 0; i < length; ++i) Item(menu, head + i)->group = 0;
}

int32 MGetLItemGroupSize(MenuHandle menu, int32 item) {
  const LItemRecord* r = MGetLItemPtr(menu, item);
  return r && r->group > 0 ? r->group : 0;
}

void MDeleteLItemGroup(MenuHandle menu, int32 item) {
  int32 head, length;
  if (!GroupOf(menu, item, &head, &length)) return;
  MUngroupLItems(menu, head);
  Delete(menu, head, length);
}

int32 MCountTopItems(MenuHandle menu) {
  if (!ListMenu(menu)) return 0;
  int32 top = 0;
  for (Walk w(menu); w.Valid(); w.Next()) top += w.Get()->group >= 0;
  return top;
}

int32 MLinkLItem(MenuHandle menu, int32 item, MenuHandle other, int32 otherItem, Bool32 copyFirst) {
  if (menu == other && item == otherItem) return 0;
  const LItemRecord* to = MGetLItemPtr(other, otherItem);
  const LItemRecord* from = MGetLItemPtr(menu, item);
  if (!to || !from) return 0;
  if (to->itemKey == 0 && MLItemString(to, 1)[0] == 0 && MLItemString(from, 1)[0] != 0) return 0;
  const uInt32 key = to->itemKey;
  if (copyFirst && MCopyLItem(menu, item, other, otherItem) != kNoErr) return 0;
  LItemRecord* r = Item(menu, item);
  r->linkMenu = other;
  r->linkKey = key;
  return 1;
}

int32 MGetLItemLink(MenuHandle menu, int32 item, MenuHandle* linked, int32* index) {
  const LItemRecord* r = MGetLItemPtr(menu, item);
  if (!r) return 0;
  int32 distance = 0;
  if (r->group < 0) {
    distance = -r->group;
    r = MGetLItemPtr(menu, item + r->group);
    if (!r) return 0;
  }
  MenuHandle other = r->linkMenu;
  if (!ListMenu(other)) return 0;
  int32 n = r->linkKey ? MFindLItemByKey(other, r->linkKey)
                       : MFindLItemByName(other, MLItemString(r, 1), nullptr, nullptr, 0);
  if (n == 0) return 0;
  n += distance;
  if (n < 1 || n > (*other)->itemCount) return 0;
  if (linked) *linked = other;
  if (index) *index = n;
  return 1;
}

MgErr MCopyItems(MenuHandle menu, ConstPStr groupName, int32 after, uInt32 groupKey, MenuHandle source,
                 int32 sourceFirst, int32 length) {
  // Copying a menu's items into itself would move the source under the
  // copy; it is refused.
  const LItemRecord* head = menu == source ? nullptr : MGetLItemPtr(source, sourceFirst);
  if (!head || !ListMenu(menu)) return kPositionErr;
  length = std::min(length, (*source)->itemCount - sourceFirst + 1);
  if (length < 1) return kPositionErr;
  if ((!groupName || !groupName[0]) && groupKey == 0) return kPositionErr;
  if (MLItemString(head, 1)[0] == 0 && head->itemKey == 0) return kPositionErr;
  if (after < 0) after = (*menu)->itemCount;
  int32 first = 0, inserted = 0;
  bool grouped = false;
  MgErr err = kNoErr;
  for (int32 i = 0; i < length && !err; ++i) {
    const LItemRecord* from = Item(source, sourceFirst + i);
    uChar shown[256];
    std::memcpy(shown, MLItemString(from, 0), size_t(MLItemString(from, 0)[0]) + 1);
    LItemRecord fields{};
    fields.itemKey = i == 0 ? groupKey : 0;
    fields.enabled = 1;
    fields.mark = from->mark;
    fields.nameHash = PStrHash(reinterpret_cast<ConstPStr>("\0"), 1);
    const MenuHandle submenu = from->submenu;
    int32 at = 0;
    err = Insert(menu, fields, shown, nullptr, nullptr, 0, i == 0 ? after : first + i - 1, &at);
    if (err) break;
    if (i == 0) first = at;
    ++inserted;
    err = MCopyLItem(menu, at, source, sourceFirst + i);
    if (!err) Item(menu, at)->submenu = submenu;
  }
  if (!err) {
    err = MGroupLItems(menu, first, inserted, groupName);
    grouped = !err;
  }
  if (!err && !MLinkLItem(menu, first, source, sourceFirst, 0)) err = kPositionErr;
  if (err && inserted) {
    if (grouped) MUngroupLItems(menu, first);
    Delete(menu, first, inserted);
  }
  return err;
}
