#include "shell/menuids.h"

#include <cstring>

#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu.h"

namespace {

// The two parallel blocks and their size in ids.
MenuHandle* gMenus = nullptr;
int32* gKinds = nullptr;
int32 gSize = 0;
// The tracked list: a 16-bit count, then the packed records.
UHandle gTracked = nullptr;

constexpr int32 kFirstDynamicID = kSentinelMenuID + 1;
// The shared pop-up menus emptied with the tracked list.
constexpr int32 kSharedPopups[] = {64, 72, 82};

bool MakeTables(int32 size) {
  auto* menus = reinterpret_cast<MenuHandle*>(AZNewPClr(size * int32(sizeof(MenuHandle))));
  auto* kinds = reinterpret_cast<int32*>(AZNewPClr(size * int32(sizeof(int32))));
  if (!menus || !kinds) {
    if (menus) AZDisposePtr(reinterpret_cast<UPtr>(menus));
    if (kinds) AZDisposePtr(reinterpret_cast<UPtr>(kinds));
    return false;
  }
  if (gMenus) {
    std::memcpy(menus, gMenus, size_t(gSize) * sizeof(MenuHandle));
    std::memcpy(kinds, gKinds, size_t(gSize) * sizeof(int32));
    AZDisposePtr(reinterpret_cast<UPtr>(gMenus));
    AZDisposePtr(reinterpret_cast<UPtr>(gKinds));
  }
  gMenus = menus;
  gKinds = kinds;
  gSize = size;
  return true;
}

bool EnsureTables() { return gMenus || MakeTables(kMenuTableInitialSize); }

int32 Count() {
  if (!gTracked || !*gTracked) return 0;
  uInt16 n;
  std::memcpy(&n, *gTracked, 2);
  return n;
}
void SetCount(int32 n) {
  const uInt16 v = uInt16(n);
  std::memcpy(*gTracked, &v, 2);
}
uChar* Record(int32 n) { return reinterpret_cast<uChar*>(*gTracked) + 2 + n * kTrackedRecordSize; }

void Read(int32 n, TrackedMenu* r) {
  const uChar* p = Record(n);
  std::memcpy(&r->owner, p, 4);
  std::memcpy(&r->position, p + 4, 4);
  std::memcpy(&r->menuId, p + 8, 4);
  std::memcpy(&r->menu, p + 12, 4);
  std::memcpy(&r->data, p + 16, 4);
  std::memcpy(&r->parentId, p + 20, 4);
  std::memcpy(&r->releaseFlag, p + 24, 2);
}
void Write(int32 n, const TrackedMenu& r) {
  uChar* p = Record(n);
  std::memcpy(p, &r.owner, 4);
  std::memcpy(p + 4, &r.position, 4);
  std::memcpy(p + 8, &r.menuId, 4);
  std::memcpy(p + 12, &r.menu, 4);
  std::memcpy(p + 16, &r.data, 4);
  std::memcpy(p + 20, &r.parentId, 4);
  std::memcpy(p + 24, &r.releaseFlag, 2);
}

bool IsSeparator(MenuHandle menu, int32 item) {
  Str255 text;
  MGetItemText(menu, item, text);
  return text[0] == 1 && text[1] == '-';
}

}  // namespace

static_assert(sizeof(MenuHandle) == 4 || sizeof(void*) != 4, "menu references are 32-bit");

int32 MenuTableSize() { return gSize; }
MenuHandle MenuTableGet(int32 id) { return id >= 0 && id < gSize ? gMenus[id] : nullptr; }
int32 MenuKindGet(int32 id) { return id >= 0 && id < gSize ? gKinds[id] : kMenuKindFree; }

MgErr MenuTableSet(int32 id, MenuHandle menu) {
  if (!EnsureTables() || id < 0 || id >= gSize) return kArgErr;
  gMenus[id] = menu;
  return kNoErr;
}

void MenuTableReset(Bool32 dispose) {
  if (gMenus) {
    AZDisposePtr(reinterpret_cast<UPtr>(gMenus));
    AZDisposePtr(reinterpret_cast<UPtr>(gKinds));
  }
  gMenus = nullptr;
  gKinds = nullptr;
  gSize = 0;
  if (gTracked) AZDisposeHandle(gTracked);
  gTracked = nullptr;
  if (!dispose) EnsureTables();
}

int32 NewMenuID(int32 kind) {
  if (!EnsureTables()) return -1;
  for (int32 id = kFirstDynamicID; id < gSize; ++id) {
    if (gKinds[id] == kMenuKindFree) {
      gKinds[id] = kind;
      return id;
    }
  }
  DBPrintf("ran out of menus -- growing table");
  const int32 id = gSize;
  if (!MakeTables(gSize + kMenuTableGrowth)) return -1;
  gKinds[id] = kind;
  return id;
}

int32 NewPopupMenuID() { return NewMenuID(kMenuKindPopup); }

int32 ReserveMenuID(int32 id, int32 kind) {
  if (!EnsureTables() || id < 0 || id >= gSize || gKinds[id] != kMenuKindFree) return 1;
  gKinds[id] = kind;
  return 0;
}

void ReleaseMenuID(int32 id) {
  if (id <= kSentinelMenuID) {
    DBPrintf("ReleaseMenuID: ignoring attempt to release menuID <= mSentinelMenu");
    return;
  }
  if (id >= gSize) return;
  gKinds[id] = kMenuKindFree;
  gMenus[id] = nullptr;
}

MgErr MenuTrackedInit() {
  if (gTracked) return kNoErr;
  gTracked = AZNewHClr(2);
  return gTracked ? kNoErr : kMemFullErr;
}

int32 MenuTrackedCount() { return Count(); }

bool MenuTrackedAt(int32 n, TrackedMenu* out) {
  if (n < 0 || n >= Count()) return false;
  Read(n, out);
  return true;
}

MgErr MenuTrackAppend(const TrackedMenu& record) {
  if (!gTracked && MenuTrackedInit() != kNoErr) return kMemFullErr;
  const int32 n = Count();
  // The count is 16 bits: one record more would wrap it.
  if (n >= 0xFFFF) return kArgErr;
  if (MgErr err = AZSetHandleSize(gTracked, 2 + (n + 1) * kTrackedRecordSize)) return err;
  Write(n, record);
  SetCount(n + 1);
  return kNoErr;
}

int32 MenuFindTracked(int32* owner, int32* menuId, int32* position) {
  if (!owner || !menuId || !position) return 0;
  const int32 n = Count();
  TrackedMenu r;
  for (int32 i = 0; i < n; ++i) {
    Read(i, &r);
    if (r.menuId == *menuId && r.position == *position) {
      *position = r.data;
      *menuId = r.parentId;
      *owner = r.owner;
      return 1;
    }
  }
  for (int32 i = 0; i < n; ++i) {
    Read(i, &r);
    if (r.menuId == *menuId && r.position < 0) {
      *menuId = r.parentId;
      *owner = r.owner;
      return 1;
    }
  }
  if (MenuKindGet(*menuId) == kMenuKindTracked) {
    for (int32 i = 0; i < n; ++i) {
      Read(i, &r);
      if (r.position == kTrackedFree) {
        *owner = r.owner;
        return 1;
      }
    }
  }
  return 0;
}

void MenuReleaseTracked() {
  const int32 n = Count();
  TrackedMenu r;
  for (int32 i = 0; i < n; ++i) {
    Read(i, &r);
    if (r.releaseFlag == 0 || MenuKindGet(r.menuId) == kMenuKindStandard) continue;
    ReleaseMenuID(r.menuId);
    MDisposeMenu(r.menu);
  }
  if (gTracked) {
    AZSetHandleSize(gTracked, 2);
    SetCount(0);
  }
  for (int32 id : kSharedPopups)
    if (MenuHandle m = MenuTableGet(id)) MDeleteAllItems(m);
}

int32 MenuCopyIfAttached(MenuHandle* subMenu) {
  if (!subMenu || !*subMenu) return 0;
  const int32 id = MGetMenuID(*subMenu);
  const int32 n = Count();
  TrackedMenu r;
  bool attached = false;
  for (int32 i = 0; i < n && !attached; ++i) {
    Read(i, &r);
    attached = r.menuId == id && r.position == kTrackedUnplaced;
  }
  if (!attached) return 0;
  const int32 newId = NewPopupMenuID();
  MenuHandle copy = *subMenu;
  if (newId < 0 || MCopyMenu(&copy, newId) != kNoErr || !copy) {
    if (newId >= 0) ReleaseMenuID(newId);
    DBMgErr(__FILE__, __LINE__, kMemFullErr, "MenuCopyIfAttached: can't copy the sub-menu");
    return 0;
  }
  MenuTableSet(newId, copy);
  *subMenu = copy;
  return 1;
}

namespace {

// Shifts by `by` the positions of the menu's tracked records below `after`.
void ShiftTracked(int32 menuId, int32 after, int32 by) {
  TrackedMenu r;
  for (int32 i = 0; i < Count(); ++i) {
    Read(i, &r);
    if (r.menuId != menuId || r.position <= after) continue;
    r.position += by;
    Write(i, r);
  }
}

// The top menu id recorded for a menu's item, or the menu's own id.
int32 TopMenuId(int32 owner, int32 menuId, int32 position) {
  MenuFindTracked(&owner, &menuId, &position);
  return menuId;
}

MenuHandle Attach(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item, bool copyCheck) {
  if (!subMenu || !parent) return nullptr;
  const bool copied = copyCheck && MenuCopyIfAttached(&subMenu);
  const int32 top = TopMenuId(owner, MGetMenuID(parent), item);
  MenuAttachRecord(owner, subMenu, parent, item, top, kTrackedUnplaced, copied ? 1 : 0);
  return subMenu;
}

}  // namespace

int32 MenuInsertItemAt(int32 owner, MenuHandle menu, ConstPStr text, int32 data, int32 position) {
  if (!menu || !*menu) return 0;
  const int32 count = MCountItems(menu);
  const bool inside = position >= 0 && position <= count - 1;
  static const uChar kSpace[] = {1, ' '};
  const int32 after = inside ? position : -1;
  const MgErr err = !text ? MInsertLSeparator(menu, nullptr, after, 0)
                          : MInsertLItem(menu, text[0] ? text : kSpace, nullptr, 0, nullptr, 0, after, 0);
  if (err) return 0;
  const int32 at = inside ? position + 1 : MCountItems(menu);
  const int32 id = MGetMenuID(menu);
  const TrackedMenu record{owner, at, id, menu, data, TopMenuId(owner, id, at), 0};
  if (inside) ShiftTracked(id, position, 1);
  if (MenuTrackAppend(record) != kNoErr) {
    if (inside) ShiftTracked(id, position + 1, -1);
    MDeleteItem(menu, at);
    return 0;
  }
  return at;
}

MenuHandle MenuAttachSubMenu(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item) {
  return Attach(owner, subMenu, parent, item, true);
}

MenuHandle MenuAttachShared(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item) {
  return Attach(owner, subMenu, parent, item, false);
}

MgErr MenuAttachRecord(int32 owner, MenuHandle subMenu, MenuHandle parent, int32 item, int32 subMenuId,
                       int32 position, int32 flag) {
  if (item == 0) DBAssert(__FILE__, __LINE__, "MenuAttachRecord: no item number");
  const TrackedMenu record{owner, position, MGetMenuID(subMenu), subMenu, -1, subMenuId, int16(flag)};
  if (MgErr err = MenuTrackAppend(record)) {
    DBMgErr(__FILE__, __LINE__, err, "MenuAttachRecord: can't grow the tracked-menu list");
    return err;
  }
  if (parent && item > 0 && item <= MCountItems(parent)) MSetLItemSubmenu(parent, item, subMenu);
  return kNoErr;
}

void MenuDeleteTrailingSeparators(MenuHandle menu) {
  for (int32 n = MCountItems(menu); n > 0 && IsSeparator(menu, n); n = MCountItems(menu)) MDeleteItem(menu, n);
}

int32 MenuFindNthSeparator(MenuHandle menu, int32 n) {
  if (n < 1) n = 1;
  const int32 count = MCountItems(menu);
  for (int32 item = 1; item <= count; ++item)
    if (IsSeparator(menu, item) && --n == 0) return item;
  return -1;
}

int32 MenuFindItemByText(MenuHandle menu, ConstPStr text, Bool32 fromStart) {
  if (!text) return 0;
  const int32 count = MCountItems(menu);
  Str255 item;
  for (int32 k = 1; k <= count; ++k) {
    const int32 i = fromStart ? k : count + 1 - k;
    MGetItemText(menu, i, item);
    if (PStrCmp(item, text) == 0) return i;
  }
  return 0;
}
