// The application's menus at start-up: built from the menu lists of the
// run-time resource file, trimmed to what the run-time system offers, the
// picture menus and their attachments; the application commands with the
// quit sequence and the plug-in VIs.
#include "shell/progmenu.h"
#include "shell/rtmenu.h"

#include <cstring>
#include <string_view>

#include "engine/exec/exec.h"
#include "engine/exec/menutexts.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "engine/shellsvc.h"
#include "mgsource/appdirs.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/help.h"
#include "shell/progmenu_internal.h"
#include "shell/shellinit.h"
#include "shell/splash.h"
#include "shell/viwindow.h"
#include "mgsource/window/menutrack.h"
#include "engine/vi/virecord.h"
#include "shell/toplevel.h"

namespace {

ProgMenuHooks gHooks{};

constexpr uInt32 kStandardBarFlag = 1;  // the fourth attribute word of menus 2 to 8
constexpr int32 kStandardOwner = 2;     // owner word of the standard attachments

void PFromView(PStr out, std::string_view s) {
  const size_t n = s.size() > 255 ? 255 : s.size();
  out[0] = uChar(n);
  std::memcpy(out + 1, s.data(), n);
}
std::string_view ViewOf(ConstPStr p) { return std::string_view(reinterpret_cast<const char*>(p + 1), p[0]); }

// The bars' titles and the menus they open.
struct BarMenus {
  int32 bar;
  int32 menus[6];
};
constexpr BarMenus kBars[] = {
    {kBarDialogId, {kDialogFileMenu, kDialogEditMenu}},
    {kBarPanelId, {kFileMenu, kEditMenu, kOperateMenu, kProjectMenu, kWindowsMenu, kHelpMenu}},
    {kBarVIDialogId, {kFileMenu, kEditMenu, kOperateMenu, kHelpMenu}},
};

// Items the run-time system never offers, and those it leaves out with
// "simplePopups", by menu and key.
struct Trim {
  int32 menu;
  std::initializer_list<int32> keys;
};
const Trim kAlways[] = {
    {kFileMenu, {1, 5, 6, 7, 8, 9, 10, 12, 13, 15, 16, 17, 18, 19, 20, 22, 23, 24, 26, 27, 28, 29}},
    {kEditMenu, {1, 2, 3, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24}},
    {kOperateMenu, {2, 8, 9, 11, 12}},
    {kWindowsMenu, {1, 3, 4, 5, 6, 8, 9, 10, 11, 12}},
    {kDialogEditMenu, {10, 11, 12, 13, 14}},
    {kHelpMenu, {2, 3, 9, 10}},
};
const Trim kSimple[] = {
    {kFileMenu, {21}},
    {kEditMenu, {19}},
    {kOperateMenu, {3, 4, 5, 6, 7, 10}},
    {kWindowsMenu, {2, 14}},
    {kHelpMenu, {5, 6}},
};
constexpr int32 kOnlineRefKey = 5, kOnlineRefKey2 = 6;

void DeleteByKey(int32 menuId, int32 key) {
  MenuHandle m = MenuTableGet(menuId);
  if (!m) return;
  if (const int32 item = MFindLItemByKey(m, uInt32(key))) MDeleteItem(m, item);
}

// A picture menu's row: id, name, base, count, columns.
struct PictMenu {
  int32 id;
  const char* name;
  int32 base, count, columns;
};
constexpr PictMenu kPictMenus[] = {
    {47, "Point Style", 5600, 20, 4}, {43, "Graph Type", 3512, 3, 3},        {79, "Hair Style", 5640, 9, 3},
    {91, "Zoom Menu", 5660, 6, 3},    {94, "Common Plot Styl", 5770, 6, 3}, {95, "Bar Plot Styles", 5790, 9, 3},
    {58, "Interpolation", 5800, 4, 2},
};

MgErr BuildFromList(int32 id) {
  MenuHandle m = nullptr;
  const MgErr err = BuildListMenu(RunTimeRsrcFile(), id, id, &m);
  if (err) {
    DBPrintf("menu %ld is missing (err %ld)", long(id), long(err));
    return err;
  }
  if (id >= 2 && id <= 8) {
    const uInt32 flag = kStandardBarFlag;
    MSetMenuAttrs(m, nullptr, nullptr, nullptr, &flag);
  }
  MenuTableSet(id, m);
  return kNoErr;
}

void NewEmptyMenu(int32 id) {
  MenuHandle m = nullptr;
  if (MNewLMenu(&m, reinterpret_cast<ConstPStr>("\0"), id) == kNoErr) MenuTableSet(id, m);
}

// A menu another layer makes, entered under its id.
void OtherLayersMenu(MgErr (*make)(MenuHandle*), int32 id) {
  MenuHandle m = nullptr;
  if (!make) return;
  if (MgErr err = make(&m); err || !m) {
    DBPrintf("menu %ld not made (err %ld)", long(id), long(err));
    return;
  }
  MenuTableSet(id, m);
}

void AttachBarMenus() {
  for (const BarMenus& b : kBars) {
    MenuHandle bar = MenuTableGet(b.bar);
    if (!bar) continue;
    for (int32 n = 0; n < 6 && b.menus[n]; ++n)
      if (n < MCountItems(bar)) MSetLItemSubmenu(bar, n + 1, MenuTableGet(b.menus[n]));
  }
}

// The first help file of the help folder: whether it exists.
bool FirstHelpFileExists() {
  Path p = FEmptyPath(nullptr);
  bool exists = false;
  if (p && HelpFirstFilePath(p) == kNoErr) exists = FExists(p) == 1;
  if (p) FDisposePath(p);
  return exists;
}

}  // namespace

void SetProgMenuHooks(const ProgMenuHooks& hooks) { gHooks = hooks; }
const ProgMenuHooks& ProgMenuHooksInUse() { return gHooks; }

bool ShellListText(int32 list, int32 index, PStr out) {
  if (RunTimeRsrcFile() && RGetIndString(RunTimeRsrcFile(), out, list, index) == kNoErr) return true;
  const char* t = ShellTextOf(list, index);
  if (!t) t = RunTextOf(list, index);
  PFromView(out, t ? t : "");
  return t != nullptr;
}

MgErr HelpFirstFilePath(Path out) {
  if (MgErr err = GetHelpDirPath(out)) return err;
  Str255 first;
  if (!RunTimeRsrcFile() || RGetIndString(RunTimeRsrcFile(), first, kHelpFileListId, 1) != kNoErr || !first[0])
    std::memcpy(first, "\x0aqxhelp.hlp", 11);
  return FAppendName(out, first);
}

MgErr BuildListMenu(RsrcFileRef file, int32 listId, int32 menuId, MenuHandle* menu) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  Str255 title;
  if (MgErr err = RGetIndString(file, title, listId, 1)) return err;
  if (MgErr err = MNewLMenu(menu, title, menuId)) return err;
  for (int32 index = 2;; ++index) {
    Str255 entry, text, name;
    if (RGetIndString(file, entry, listId, index) != kNoErr) break;
    int32 character = 0, keyCode = 0;
    uInt32 modifiers = 0;
    const std::string_view e = ViewOf(entry);
    const size_t colon = e.find(':');
    if (colon == std::string_view::npos || colon + 1 >= e.size() || e[colon + 1] == ':') {
      DBPrintf("menu list %ld entry %ld has no tag", long(listId), long(index));
      continue;
    }
    MParseShortcutSpec(entry, text, name, &character, &keyCode, &modifiers);
    const uInt32 key = uInt32(index - 1);
    const MgErr err = ViewOf(text) == "-" ? MInsertLSeparator(*menu, name, -1, key)
                                          : MInsertLItem(*menu, text, name, 0, nullptr, 0, -1, key);
    if (err) {
      MDisposeMenu(*menu);
      *menu = nullptr;
      return err;
    }
    MSetItemShortcut(*menu, MCountItems(*menu), character, keyCode, modifiers);
  }
  MCalcMenuSize(*menu);
  return kNoErr;
}

MgErr BuildStringMenu(int32 menuId, ConstPStr name, int32 base, int32 count, int32 columns) {
  MenuHandle m = nullptr;
  if (MgErr err = MNewPictMenu(&m, name, menuId, int16(columns))) return err;
  for (int32 i = 0; i < count; ++i) {
    Str255 text;
    if (!RunTimeRsrcFile() || RGetIndString(RunTimeRsrcFile(), text, base + i, 1) != kNoErr) text[0] = 0;
    // The cell's picture: image base + i, none when the file lacks it.
    int32 image = 0;
    if (!RunTimeRsrcFile() || IGet(RunTimeRsrcFile(), kImagePicture, base + i, &image, 1) != kNoErr) image = 0;
    if (MgErr err = MAppendPictMenuItem(m, text, image, nullptr, nullptr, 0, nullptr, 0, uInt32(i + 1))) {
      if (image) IRelease(image);
      MDisposeMenu(m);
      return err;
    }
  }
  MenuTableSet(menuId, m);
  return kNoErr;
}

void AttachStandardSubMenus() {
  struct Attach {
    int32 parent, item, sub;
    bool shared;
  };
  static const Attach kAttach[] = {
      {71, 1, 94, false}, {71, 2, 47, false}, {71, 3, 48, false}, {71, 4, 93, false}, {71, 5, 95, false},
      {71, 7, 58, false}, {71, 8, 65, false}, {80, 1, 79, false}, {80, 2, 47, true},  {80, 3, 65, true},
  };
  for (const Attach& a : kAttach) {
    MenuHandle parent = MenuTableGet(a.parent), sub = MenuTableGet(a.sub);
    if (!parent || !sub) continue;
    if (a.shared) MenuAttachShared(kStandardOwner, sub, parent, a.item);
    else MenuAttachSubMenu(kStandardOwner, sub, parent, a.item);
  }
}

MgErr InitAppMenus() {
  for (int32 id = 2; id <= 8; ++id) ReserveMenuID(id, kMenuKindStandard);
  for (int32 id = 10; id <= 23; ++id) ReserveMenuID(id, kMenuKindStandard);
  for (int32 id = 25; id <= 32; ++id) ReserveMenuID(id, kMenuKindStandard);
  // Menu 64's items are tracked for their tips: its kind is 3, recorded
  // before the pop-up range is reserved around it.
  ReserveMenuID(64, kMenuKindTrackedPopup);
  for (int32 id = 40; id <= 122; ++id) ReserveMenuID(id, kMenuKindPopup);
  MgErr first = kNoErr;
  for (int32 id = 10; id <= 23; ++id) {
    const MgErr err = BuildFromList(id);
    if (err && (id == kFileMenu || id == kEditMenu || id == kOperateMenu) && !first) first = err;
  }
  for (int32 id = 2; id <= 8; ++id) BuildFromList(id);
  BuildFromList(kDataLogMenu);
  if (MenuHandle operate = MenuTableGet(kOperateMenu))
    if (const int32 item = MFindLItemByKey(operate, 6)) MSetLItemSubmenu(operate, item, MenuTableGet(kDataLogMenu));
  for (int32 id : {57, 71, 77, 80, 121, 98, 70, 75, 76, 59}) BuildFromList(id);
  if (MenuHandle scale = MenuTableGet(70)) {
    const int32 subs[3] = {76, 75, 59};
    for (int32 i = 0; i < 3 && i < MCountItems(scale); ++i) MSetLItemSubmenu(scale, i + 1, MenuTableGet(subs[i]));
  }
  for (int32 id : {82, 72, 64, 117, 118, 119}) NewEmptyMenu(id);
  OtherLayersMenu(gHooks.initColorPalette, 65);
  for (const PictMenu& p : kPictMenus) {
    Str255 name;
    PFromView(name, p.name);
    if (MgErr err = BuildStringMenu(p.id, name, p.base, p.count, p.columns))
      DBPrintf("picture menu %ld not made (err %ld)", long(p.id), long(err));
  }
  OtherLayersMenu(gHooks.initLineStyles, 48);
  OtherLayersMenu(gHooks.initLineWidths, 93);
  AttachStandardSubMenus();
  AttachBarMenus();
  MenuTrackedInit();
  if (gHooks.rtmCheckAppMenuTags && gHooks.rtmCheckAppMenuTags(MenuTableGet(kBarPanelId)) != kNoErr)
    DBAssert(__FILE__, __LINE__, "the application menu tags are not unique");
  InitMenuBarMenus();
  return first;
}

void InitMenuBarMenus() {
  for (const Trim& t : kAlways)
    for (int32 key : t.keys) DeleteByKey(t.menu, key);
  if (PrefGet(kPrefSimplePopups))
    for (const Trim& t : kSimple)
      for (int32 key : t.keys) DeleteByKey(t.menu, key);
  // One of the two online-reference items stays: the first when the first
  // help file is there.
  DeleteByKey(kHelpMenu, FirstHelpFileExists() ? kOnlineRefKey2 : kOnlineRefKey);
  // The help folder's files and VIs follow the Help menu's own items.
  if (MenuHandle help = MenuTableGet(kHelpMenu)) {
    const uInt32 attr = kMenuAttrHelpMenu;
    MSetMenuAttrs(help, &attr, nullptr, nullptr, nullptr);
    Path dir = FEmptyPath(nullptr);
    const int32 before = MCountItems(help);
    if (dir && GetHelpDirPath(dir) == kNoErr && FExists(dir) == 2) BuildHelpDirMenu(dir, help, 0, before, nullptr);
    // The run-time menus copy the help files in whole under their special tag.
    if (MCountItems(help) > before) {
      Str255 tag;
      RTMGetSpecialTag(kRTMTagHelpFiles, tag);
      MGroupLItems(help, before + 1, MCountItems(help) - before, tag);
    }
    if (dir) FDisposePath(dir);
  }
  for (int32 id : {kFileMenu, kEditMenu, kOperateMenu, kWindowsMenu, kDialogEditMenu, kHelpMenu})
    if (MenuHandle m = MenuTableGet(id)) MCalcMenuSize(m);
}

void DisposeAppMenus() {
  DisposeMenuPaths(MenuTableGet(kHelpMenu));
  MenuReleaseTracked();
  for (int32 id = 1; id < MenuTableSize(); ++id) {
    MenuHandle m = MenuTableGet(id);
    if (!m || MenuKindGet(id) == kMenuKindFree) continue;
    // A menu hangs in the table once, under its own id.
    MenuTableSet(id, nullptr);
    MDisposeMenu(m);
    if (id > kSentinelMenuID) ReleaseMenuID(id);
  }
}

void ShellInstallMenuHooks() {
  ShellStartHooks start = ShellStartHooksInUse();
  start.createSplash = &CreateSplashWindow;
  start.splashStatus = &SplashStatus;
  start.initAppMenus = &InitAppMenus;
  ShellSetStartHooks(start);
  ShellEventHooks events = ShellEventHooksInUse();
  events.aboutBox = &ShowAboutBox;
  events.closeAboutDialog = &CloseAboutDialog;
  events.destroySplash = &DestroySplash;
  events.menuEnableUpdate = [](WindowRef) -> int32 {
    const WindowRef w = WActiveDocWind();
    for (UHandle vi = FirstLoadedVI(); w != kWNoWindow && vi && *vi; vi = VIRec(vi)->next) {
      ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
      if (panel && *panel && viinst::PanelWindow(panel) == w) return VIWindSetupMenus(panel);
    }
    return VIWindSetupMenus(nullptr);
  };
  events.handleLMenuEvent = [](WEventRecord* e, int32 menu, const Rect* bar) {
    return MHandleLMenuEvent(e, MenuTableGet(menu), bar);
  };
  ShellSetEventHooks(events);
  VIWindHooks window = VIWindHooksInUse();
  window.setupMenus = &VIWindSetupMenus;
  window.menuCommand = &VIWindMenuCommand;
  window.handleLMenuEvent = &MHandleLMenuEvent;
  window.popUpLMenu = &MPopUpLMenu;
  window.aboutBox = &ShowAboutBox;
  VIWindSetHooks(window);
}
