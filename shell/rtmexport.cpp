// The run-time menu functions diagrams call.  Their bodies run on the
// user-interface thread, which owns the menus: a call from another thread
// is handed over as a posted callback and waits for it, giving up (menu
// error 1) when its menu refnum dies or shut-down starts before the body
// began.
//
// The polymorphic inputs arrive as the address of the datum: an I32 for
// kind 3, a string handle for kind 15, an array handle for kinds 25 and 42;
// a null address is an input not given.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "engine/exec/panelplace.h"
#include "engine/exec/postedcb.h"
#include "engine/exec/rtmtexts.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "platform/qx_display.h"
#include "platform/qx_event.h"
#include "platform/qx_thread.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/rtmenu_internal.h"

namespace {

// ---- the hand-over to the user-interface thread

std::atomic<bool> gShuttingDown{false};
std::atomic<int32> gSliceMs{20};

// One handed-over call.  Its flags and result are guarded by its mutex; the
// event only wakes the waiting caller.
struct Call {
  std::mutex m;
  bool started = false, done = false, cancelled = false;
  std::function<int32()> body;
  int32 result = 0;
  PlatEvent* wake = nullptr;
  ~Call() {
    if (wake) PlatEventDestroy(wake);
  }
};

int32 RunCall(int32 arg) {
  auto* holder = reinterpret_cast<std::shared_ptr<Call>*>(uintptr_t(uInt32(arg)));
  std::shared_ptr<Call> c = std::move(*holder);
  delete holder;
  {
    std::lock_guard<std::mutex> g(c->m);
    if (c->cancelled) return 0;
    c->started = true;
  }
  const int32 r = c->body();
  {
    std::lock_guard<std::mutex> g(c->m);
    c->result = r;
    c->done = true;
  }
  PlatEventSet(c->wake);
  return 0;
}

bool OnUIThread() {
  const uint32_t ui = PlatWindowSystemThread();
  return !ui || ui == PlatThreadCurrentId();
}

int32 OnUI(uInt32 refnum, std::function<int32()> body) {
  if (OnUIThread()) return body();
  // A dead refnum is answered here: nothing to hand over.
  if (!RTMIsMenuRefnum(refnum)) return kRTMIllegalMenu;
  auto c = std::make_shared<Call>();
  c->body = std::move(body);
  c->wake = PlatEventCreate(false);
  if (!c->wake) return kRTMMemErr;
  auto* holder = new std::shared_ptr<Call>(c);
  if (PostCallback(PostedCallbackRec{&RunCall, int32(uintptr_t(holder)), 0, nullptr, nullptr, 0, nullptr}) !=
      kNoErr) {
    delete holder;
    return kRTMMemErr;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> g(c->m);
      if (c->done) return c->result;
      // A body that began is waited for: it writes into the caller's outputs.
      if (!c->started && (gShuttingDown.load() || ShellShutDownRequested() || !RTMIsMenuRefnum(refnum))) {
        c->cancelled = true;
        return kRTMMemErr;
      }
    }
    PlatEventWait(c->wake, uint32_t(gSliceMs.load()));
  }
}

// ---- strings and arrays of the diagram

// A string handle's text, empty for none or a handle the data zone does not
// know; the count is pinned to the handle's size.
std::string Text(LStrHandle h) {
  if (!h || DSCheckHandle(h) != kNoErr || !*h) return {};
  const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  const int32 n = std::min(LStrLen(*h), size - 4);
  return n > 0 ? std::string(reinterpret_cast<const char*>(LStrBuf(*h)), size_t(n)) : std::string();
}

MgErr SetText(LStrHandle* h, const std::string& s) {
  if (!h) return kNoErr;
  const int32 n = int32(s.size());
  if (!*h) {
    *h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
    if (!*h) return kMemFullErr;
  } else if (DSCheckHandle(*h) != kNoErr) {
    return kArgErr;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(*h), 4 + n)) {
    return err;
  }
  (**h)->cnt = n;
  if (n) std::memcpy(LStrBuf(**h), s.data(), size_t(n));
  return kNoErr;
}

// Elements of a one-dimensional array handle (4-byte elements).
int32 Count(UHandle a) {
  if (!a || DSCheckHandle(a) != kNoErr || !*a) return 0;
  const int32 size = DSGetHandleSize(a);
  if (size < 4) return 0;
  const int32 dim = int32(GetNative32(*a));
  return std::max(0, std::min(dim, (size - 4) / 4));
}
uInt32 Element(UHandle a, int32 i) { return GetNative32(*a + 4 + 4 * i); }
LStrHandle StrElement(UHandle a, int32 i) { return reinterpret_cast<LStrHandle>(uintptr_t(Element(a, i))); }

// Resizes an array of strings, disposing the strings cut off.
MgErr ResizeStrings(UHandle* a, int32 n) {
  if (!a) return kNoErr;
  if (!*a) {
    *a = DSNewHClr(4 + 4 * n);
    if (!*a) return kMemFullErr;
  } else if (DSCheckHandle(*a) != kNoErr) {
    return kArgErr;
  } else {
    const int32 old = Count(*a);
    for (int32 i = n; i < old; ++i)
      if (LStrHandle s = StrElement(*a, i)) DSDisposeHandle(reinterpret_cast<UHandle>(s));
    if (MgErr err = DSSetHandleSize(*a, 4 + 4 * n)) return err;
    for (int32 i = old; i < n; ++i) PutNative32(**a + 4 + 4 * i, 0);
  }
  PutNative32(**a, uInt32(n));
  return kNoErr;
}

MgErr SetStrElement(UHandle a, int32 i, const std::string& s) {
  LStrHandle h = StrElement(a, i);
  if (MgErr err = SetText(&h, s)) return err;
  PutNative32(*a + 4 + 4 * i, uInt32(uintptr_t(h)));
  return kNoErr;
}

// ---- lookups

struct Target {
  UHandle vi = nullptr;
  RTMVIMenuRec* rec = nullptr;
};
// 4 for a dead refnum, 1 for a VI without a record.
int32 Lookup(uInt32 refnum, Target* t) {
  if (!RTMIsMenuRefnum(refnum)) return kRTMIllegalMenu;
  t->vi = RTMRefnumVI(refnum);
  t->rec = RTMRecordOf(t->vi);
  return t->rec ? kRTMNoErr : kRTMMemErr;
}

uInt32& MenuWord(UHandle vi) { return VIRec(vi)->rtMenuWord; }

// The position of the index-th top-level item (groups count once).
int32 RTMIndexToPosition(MenuHandle menu, int32 index, bool endAllowed) {
  if (index < 0) return endAllowed ? 0 : -1;
  if (index < MCountTopItems(menu)) {
    int32 pos = 1;
    for (int32 k = 0; k < index; ++k) {
      const int32 g = MGetLItemGroupSize(menu, pos);
      pos += g > 0 ? g : 1;
    }
    return pos;
  }
  return endAllowed ? MCountItems(menu) : -1;
}

std::vector<std::string> RTMGetTopTags(MenuHandle menu) {
  std::vector<std::string> tags;
  if (!menu || !*menu || !MIsListMenu(menu)) return tags;
  const int32 n = MCountItems(menu);
  for (int32 pos = 1; pos <= n;) {
    tags.push_back(TagOfItem(menu, pos));
    const int32 g = MGetLItemGroupSize(menu, pos);
    pos += g > 0 ? g : 1;
  }
  return tags;
}

MgErr PutTags(UHandle* out, const std::vector<std::string>& tags) {
  if (!out) return kNoErr;
  if (MgErr err = ResizeStrings(out, int32(tags.size()))) return err;
  for (size_t i = 0; i < tags.size(); ++i)
    if (MgErr err = SetStrElement(*out, int32(i), tags[i])) return err;
  return kNoErr;
}

void RTMDeleteItemAt(MenuHandle menu, int32 pos) {
  MenuItemInfo info{};
  MGetItemInfo(menu, pos, &info);
  MDeleteItem(menu, pos);
  if (info.submenu && info.submenu != menu && RTMIsRunTimeMenu(info.submenu)) RTMDisposeMenu(info.submenu);
}

MgErr RTMShortcutToRecord(RTMShortcutRec* rec, int32 character, int32 keyCode, uInt32 modifiers) {
  if (!rec) return kNoErr;
  rec->shift = (modifiers & 0x02) ? 1 : 0;
  return SetText(&rec->key, ShortcutKeyText(character, keyCode));
}

// ---- bodies

int32 GetSelection(uInt32 refnum, LStrHandle* tag, LStrHandle* path, uInt32 flags, uInt8* nothing) {
  if (nothing) *nothing = 1;
  if (SetText(tag, "") || SetText(path, "")) return kRTMMemErr;
  if (!RTMIsMenuRefnum(refnum)) return kRTMIllegalMenu;
  UHandle vi = RTMRefnumVI(refnum);
  uInt32& w = MenuWord(vi);
  if (w & kRTMInitialBlock) w &= ~(kRTMBlocked | kRTMInitialBlock);
  RTMVIMenuRec* r = RTMRecordOf(vi);
  if (!r || !r->menuBar || !r->selections || GetNative32(*reinterpret_cast<UHandle>(r->selections)) == 0)
    return kRTMNoErr;
  const PStr first = CPStrIndex(r->selections, 0);
  if (!first) return kRTMMemErr;
  const std::string t(reinterpret_cast<const char*>(first + 1), first[0]);
  if (CPStrRemove(r->selections, 0) != kNoErr) return kRTMMemErr;
  if (SetText(tag, t) || SetText(path, RTMItemPath(r->menuBar, t))) return kRTMMemErr;
  if (nothing) *nothing = 0;
  if (flags & 1) w |= kRTMBlocked;
  else w &= ~(kRTMBlocked | kRTMInitialBlock);
  return kRTMNoErr;
}

int32 Enable(uInt32 refnum, uInt32 flags) {
  if (!RTMIsMenuRefnum(refnum)) return kRTMIllegalMenu;
  uInt32& w = MenuWord(RTMRefnumVI(refnum));
  if (flags & 1) w &= ~(kRTMBlocked | kRTMInitialBlock);
  else w |= kRTMBlocked;
  return kRTMNoErr;
}

int32 AddOccur(uInt32 refnum, Occurrence occ) {
  if (!RTMIsMenuRefnum(refnum) || !occ) return kRTMIllegalMenu;
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  if (!t.rec->occurrences && !(t.rec->occurrences = AZNewHClr(4))) return kRTMMemErr;
  if (HObjListSearch(t.rec->occurrences, int32(occ)) >= 0) return kRTMNoErr;
  const int32 n = int32(GetNative32(*t.rec->occurrences));
  return HObjListInsert(t.rec->occurrences, int32(occ), n) == kNoErr ? kRTMNoErr : kRTMMemErr;
}

// The submenu of the item a menu tag names: 9 when the tag is missing.
int32 MenuOfTag(MenuHandle menu, const std::string& menuTag, bool create, MenuHandle* out) {
  MenuHandle fm = nullptr;
  int32 fi = 0;
  if (!FindTag(menu, menuTag, true, &fm, &fi)) return kRTMIllegalMenuTag;
  MenuItemInfo info{};
  MGetItemInfo(fm, fi, &info);
  if (info.submenu) {
    if (!RTMIsRunTimeMenu(info.submenu)) return kRTMAppItemFixed;
    *out = info.submenu;
    return kRTMNoErr;
  }
  if (!create) return kRTMIllegalMenuTag;
  Str255 text;
  MGetItemText(fm, fi, text);
  MenuHandle sub = nullptr;
  if (RTMNewMenu(text, &sub) != kNoErr) return kRTMMemErr;
  MSetLItemSubmenu(fm, fi, sub);
  *out = sub;
  return kRTMNoErr;
}

int32 Insert(uInt32 refnum, int32 namesKind, void* names, void* tags, LStrHandle menuTag, int32 afterKind,
             void* after, void* tagsOut) {
  const bool one = namesKind == kRTMKindString;
  if (tagsOut) {
    const MgErr err = one ? SetText(static_cast<LStrHandle*>(tagsOut), "") : ResizeStrings(static_cast<UHandle*>(tagsOut), 0);
    if (err) return kRTMMemErr;
  }
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  std::vector<std::pair<std::string, std::string>> items;
  if (one) {
    if (names && tags) items.emplace_back(Text(*static_cast<LStrHandle*>(names)), Text(*static_cast<LStrHandle*>(tags)));
  } else if (names && tags) {
    UHandle n = *static_cast<UHandle*>(names), g = *static_cast<UHandle*>(tags);
    const int32 count = std::min(Count(n), Count(g));
    for (int32 i = 0; i < count; ++i) items.emplace_back(Text(StrElement(n, i)), Text(StrElement(g, i)));
  }
  if (items.empty()) return kRTMNoErr;
  MenuHandle menu = RTMCopyToRunTimeMenu(t.vi);
  if (!menu) return kRTMMemErr;
  MenuHandle target = menu;
  const std::string mt = RTMStripTag(Text(menuTag));
  if (!mt.empty())
    if (int32 e = MenuOfTag(menu, mt, true, &target)) return e;
  int32 pos = MCountItems(target);
  if (afterKind == kRTMKindString && after) {
    const std::string at = RTMStripTag(Text(*static_cast<LStrHandle*>(after)));
    MenuHandle fm = nullptr;
    int32 fi = 0;
    if (!at.empty()) {
      if (menuTag) {
        if (FindTag(target, at, false, &fm, &fi)) pos = fi;
      } else if (FindTag(target, at, true, &fm, &fi)) {
        target = fm;
        pos = fi;
      }
    }
  } else if (afterKind == kRTMKindIndex && after) {
    pos = RTMIndexToPosition(target, *static_cast<int32*>(after), true);
  }
  UHandle* arrayOut = !one && tagsOut ? static_cast<UHandle*>(tagsOut) : nullptr;
  if (arrayOut && ResizeStrings(arrayOut, int32(items.size()))) return kRTMMemErr;
  MenuHandle owner = t.rec->menuBar;
  // The tags of the target's tree and the owner's, read once for all the
  // items (the target normally lies in the owner's tree).
  RTMTagSet inUse;
  inUse.AddTree(target);
  if (owner && owner != target) inUse.AddTree(owner);
  RTMTagScope scope{&inUse, nullptr};
  int32 result = kRTMNoErr, inserted = 0;
  for (auto& [name, rawTag] : items) {
    std::string tag = RTMStripTag(rawTag);
    int32 menuErr = 0;
    const MgErr err = RTMIsAppItemTag(tag) ? RTMInsertAppItem(owner, target, name, tag, pos, 0, &menuErr, &scope)
                                           : RTMInsertUserItem(owner, target, name, &tag, false, true, nullptr, false,
                                                            pos, 0, &menuErr, &scope);
    if (err) return kRTMMemErr;
    if (menuErr) {
      if (!result) result = menuErr;
      continue;
    }
    MgErr out = kNoErr;
    if (one && tagsOut) out = SetText(static_cast<LStrHandle*>(tagsOut), tag);
    else if (arrayOut) out = SetStrElement(*arrayOut, inserted, tag);
    if (out) return kRTMMemErr;
    ++inserted;
    ++pos;
  }
  if (arrayOut && ResizeStrings(arrayOut, inserted)) return kRTMMemErr;
  if (target == t.rec->menuBar) InvalVIMenuBar(t.vi);
  return result;
}

int32 Delete(uInt32 refnum, int32 kind, void* items, LStrHandle menuTag) {
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  if ((kind == kRTMKindStrings || kind == kRTMKindIndices) && items && Count(*static_cast<UHandle*>(items)) == 0)
    return kRTMNoErr;
  MenuHandle menu = RTMCopyToRunTimeMenu(t.vi);
  if (!menu) return kRTMMemErr;
  MenuHandle target = menu;
  const std::string mt = RTMStripTag(Text(menuTag));
  if (!mt.empty())
    if (int32 e = MenuOfTag(menu, mt, false, &target)) return e == kRTMAppItemFixed ? e : kRTMIllegalMenuTag;
  if (RTMIsAppMenuID(target)) return kRTMAppItemFixed;
  if (!items) {
    // The run-time submenus go with their items.
    for (int32 i = MCountItems(target); i >= 1; --i) RTMDeleteItemAt(target, i);
    MDeleteAllItems(target);
    return kRTMNoErr;
  }
  int32 result = kRTMNoErr;
  auto byTag = [&](const std::string& raw) {
    MenuHandle fm = nullptr;
    int32 fi = 0;
    if (FindTag(target, RTMStripTag(raw), true, &fm, &fi)) RTMDeleteItemAt(fm, fi);
    else if (!result) result = kRTMTagNotFound;
  };
  switch (kind) {
    case kRTMKindIndex: {
      const int32 pos = RTMIndexToPosition(target, *static_cast<int32*>(items), false);
      if (pos < 0) return kRTMIllegalIndex;
      RTMDeleteItemAt(target, pos);
      break;
    }
    case kRTMKindString: byTag(Text(*static_cast<LStrHandle*>(items))); break;
    case kRTMKindStrings: {
      UHandle a = *static_cast<UHandle*>(items);
      std::vector<std::string> tags;
      for (int32 i = 0; i < Count(a); ++i) tags.push_back(Text(StrElement(a, i)));
      for (const std::string& tag : tags) byTag(tag);
      break;
    }
    case kRTMKindIndices: {
      UHandle a = *static_cast<UHandle*>(items);
      std::vector<int32> indices;
      for (int32 i = 0; i < Count(a); ++i) indices.push_back(int32(Element(a, i)));
      std::set<int32> seen;
      std::vector<int32> positions;
      for (int32 index : indices) {
        if (!seen.insert(index).second) continue;
        const int32 pos = RTMIndexToPosition(target, index, false);
        if (pos < 0) {
          if (!result) result = kRTMIllegalIndex;
          continue;
        }
        positions.push_back(pos);
      }
      std::sort(positions.begin(), positions.end());
      for (auto it = positions.rbegin(); it != positions.rend(); ++it) RTMDeleteItemAt(target, *it);
      break;
    }
    default: break;
  }
  return result;
}

int32 GetInfo(uInt32 refnum, LStrHandle tagIn, LStrHandle* name, uInt8* enabled, uInt8* checked,
              RTMShortcutRec* shortcut, UHandle* subTags) {
  if (enabled) *enabled = 0;
  if (checked) *checked = 0;
  if (shortcut) shortcut->shift = 0;
  if (SetText(name, "") || (shortcut && SetText(&shortcut->key, "")) || ResizeStrings(subTags, 0)) return kRTMMemErr;
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  MenuHandle menu = RTMCurrentMenu(t.vi);
  if (!menu || !*menu) return kRTMMemErr;
  const std::string tag = RTMStripTag(Text(tagIn));
  if (!tagIn) {
    MenuSummary s{};
    MGetMenuInfo(menu, &s);
    if (enabled) *enabled = s.enabled != 0;
    if (SetText(name, std::string(reinterpret_cast<const char*>(s.title + 1), s.title[0]))) return kRTMMemErr;
    return PutTags(subTags, RTMGetTopTags(menu)) ? kRTMMemErr : kRTMNoErr;
  }
  MenuHandle fm = nullptr;
  int32 fi = 0;
  if (!FindTag(menu, tag, true, &fm, &fi)) return kRTMTagNotFound;
  std::string shown;
  if (RTMSpecialKind(tag) > 0) {
    const RTMMenuData* c = RTMGetAppMenuData();
    if (c && !c->items.empty()) {
      shown = c->items[0].name;
      for (size_t i = 1; i < c->items.size(); ++i)
        if (RTMStripTag(c->items[i].tag) == tag) {
          shown = c->items[i].name;
          break;
        }
    }
  } else {
    Str255 text;
    MGetItemText(fm, fi, text);
    shown.assign(reinterpret_cast<const char*>(text + 1), text[0]);
  }
  MenuItemInfo info{};
  MGetItemInfo(fm, fi, &info);
  if (enabled) *enabled = info.enabled != 0;
  if (checked) *checked = info.mark != 0;
  if (SetText(name, shown) ||
      RTMShortcutToRecord(shortcut, info.shortcutChar, info.shortcutKeyCode, info.shortcutModifiers) ||
      PutTags(subTags, RTMGetTopTags(info.submenu)))
    return kRTMMemErr;
  return kRTMNoErr;
}

int32 SetInfo(uInt32 refnum, LStrHandle tagIn, LStrHandle* name, uInt8* enabled, uInt8* checked,
              RTMShortcutRec* shortcut) {
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  const std::string tag = RTMStripTag(Text(tagIn));
  if (tag.empty()) return kRTMTagNotFound;
  if (RTMIsAppItemTag(tag)) return kRTMAppItemFixed;
  MenuHandle fm = nullptr;
  int32 fi = 0;
  if (!FindTag(RTMCurrentMenu(t.vi), tag, true, &fm, &fi)) return kRTMTagNotFound;
  if (name && MChangeLItem(fm, fi, Str255Text(Text(*name)).p, nullptr) != kNoErr) return kRTMMemErr;
  if (enabled) {
    if (*enabled) MEnableItem(fm, fi);
    else MDisableItem(fm, fi);
  }
  if (checked) MCheckItem(fm, fi, *checked ? 1 : 0);
  if (shortcut) {
    int32 ch = 0, key = 0;
    uInt32 mods = 0;
    RTMParseShortcut(shortcut, &ch, &key, &mods);
    MSetItemShortcut(fm, fi, ch, key, mods);
    MCalcMenuSize(fm);
  }
  if (RTMHasBarMark(fm)) InvalVIMenuBar(t.vi);
  return kRTMNoErr;
}

int32 ShortcutInfo(uInt32 refnum, RTMShortcutRec* shortcut, LStrHandle* tag, LStrHandle* path) {
  if (SetText(tag, "") || SetText(path, "")) return kRTMMemErr;
  Target t;
  if (int32 e = Lookup(refnum, &t)) return e;
  if (!shortcut) return kRTMIllegalShortcut;
  WEventRecord e{};
  e.code = weKey;
  ObjHeap panel = VIRec(t.vi)->panelHeap;
  e.window = panel && *panel ? viinst::PanelWindow(panel) : kWNoWindow;
  uInt32 mods = 0;
  RTMParseShortcut(shortcut, &e.character, reinterpret_cast<int32*>(&e.keyCode), &mods);
  e.modifiers = WModifiers(mods);
  MenuHandle menu = RTMCurrentMenu(t.vi);
  if (!e.keyCode || !menu || !MMenuBarShortcut(&e, menu, 1)) return kRTMNoErr;
  MenuHandle chosen = MenuTableGet(e.where);
  if (!chosen || e.globalWhere <= 0) return kRTMNoErr;
  const std::string found = TagOfItem(chosen, e.globalWhere);
  if (SetText(tag, found) || SetText(path, RTMItemPath(menu, found))) return kRTMMemErr;
  return kRTMNoErr;
}

}  // namespace

void RTMSetShuttingDown() { gShuttingDown.store(true); }
void RTMSetWaitSlice(int32 ms) { gSliceMs.store(ms > 0 ? ms : 1); }

void RTMClearShuttingDown() { gShuttingDown.store(false); }

int32 RTMGetMenuSelection(uInt32 refnum, LStrHandle* tag, LStrHandle* path, uInt32 flags, uInt8* nothingChosen) {
  return OnUI(refnum, [=] { return GetSelection(refnum, tag, path, flags, nothingChosen); });
}

int32 RTMEnableMenuTracking(uInt32 refnum, uInt32 flags) {
  return OnUI(refnum, [=] { return Enable(refnum, flags); });
}

int32 RTMAddMenuSelOccur(uInt32 refnum, Occurrence occurrence) {
  return OnUI(refnum, [=] { return AddOccur(refnum, occurrence); });
}

int32 RTMInsertMenuItem(uInt32 refnum, int32 namesKind, void* names, void* tags, LStrHandle menuTag,
                        int32 afterKind, void* after, void* tagsOut) {
  return OnUI(refnum, [=] { return Insert(refnum, namesKind, names, tags, menuTag, afterKind, after, tagsOut); });
}

int32 RTMDeleteMenuItem(uInt32 refnum, int32 itemsKind, void* items, LStrHandle menuTag) {
  return OnUI(refnum, [=] { return Delete(refnum, itemsKind, items, menuTag); });
}

int32 RTMGetMenuItemInfo(uInt32 refnum, LStrHandle tag, LStrHandle* name, uInt8* enabled, uInt8* checked,
                         RTMShortcutRec* shortcut, UHandle* subTags) {
  return OnUI(refnum, [=] { return GetInfo(refnum, tag, name, enabled, checked, shortcut, subTags); });
}

int32 RTMSetMenuItemInfo(uInt32 refnum, LStrHandle tag, LStrHandle* name, uInt8* enabled, uInt8* checked,
                         RTMShortcutRec* shortcut) {
  return OnUI(refnum, [=] { return SetInfo(refnum, tag, name, enabled, checked, shortcut); });
}

int32 RTMGetMenuShortcutInfo(uInt32 refnum, RTMShortcutRec* shortcut, LStrHandle* tag, LStrHandle* path) {
  return OnUI(refnum, [=] { return ShortcutInfo(refnum, shortcut, tag, path); });
}

MgErr RTMSetErrorIOClust(ErrorIOCluster* cluster, uInt8 status, int32 menuError, int32, DataSpace callChain) {
  if (!cluster) return kArgErr;
  Str255 text;
  text[0] = 0;
  if (menuError != 0 && RGetIndString(RunTimeRsrcFile(), text, kRTMErrorTextsList, menuError) != kNoErr) {
    text[0] = 0;
    if (menuError >= 1 && menuError <= 11) std::memcpy(text, Str255Text(rtmtexts::kMenuErrors[menuError - 1]).p, 256);
  }
  return SetErrorIOClust(cluster, status, menuError ? kRTMErrCode : 0, kErrSourcePStr, text, callChain);
}
