// The VI window's side of the application menus: the items' states for the
// window's VI before a menu opens, the Windows list, the online-help item,
// and the commands that concern the VI and its panel.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/exec/menutexts.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/link/hierarchy.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/printvi.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/wmisc.h"
#include "mgsource/window/wport.h"
#include "rtlib/datalog.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/rtmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/toplevel.h"
#include "shell/viinfo.h"
#include "shell/viwindow.h"

namespace {

const ProgMenuHooks& H() { return ProgMenuHooksInUse(); }

constexpr uInt32 kW2LogAtCompletion = 0x20, kW2Retrieval = 0x800, kW2PrintAtCompletion = 0x8000,
                 kW2OwnerMode = 0x80000, kW2Confirm = 0x400000;
constexpr uInt16 kNoRunOption = 1, kNoCompletionOptions = 0x100;
constexpr uInt16 kWindowOption8 = 8;
constexpr int32 kActionEdit = 45, kActionReinitialise = 42;
constexpr int32 kOnlineHelpEntry = 8, kOnlineHelpKey = 7, kFirstHelpRow = 7;
constexpr int32 kWindowListKey = 0;

// The shared name buffer of the path menus.
Str255 gPathVIName = {0};
// Where the online-help item of the last set-up points.
UHandle gOnlineHelpVI = nullptr;

struct State {
  UHandle vi = nullptr;
  ObjHeap panel = nullptr;
  int32 k = 0;
  uInt32 e = 0, w = 0;
  uInt16 o = 0, options = 0;
  bool running() const { return (e & 14) != 0; }
};

State StateOf(ObjHeap panel) {
  State s;
  s.panel = panel && *panel ? panel : nullptr;
  s.vi = s.panel ? PanelHeapOwner(s.panel) : nullptr;
  if (s.vi && *s.vi) {
    const VIRecord* r = VIRec(s.vi);
    s.k = r->viKind;
    s.e = r->eState & kVIStateMask;
    s.w = r->flags2;
    s.o = uInt16(r->stored84);
  } else {
    s.vi = nullptr;
  }
  if (s.panel) s.options = viinst::ExtHalf(s.panel, kHeapExtWindowStyle);
  return s;
}

void Enable(int32 menuId, int32 key, bool on) {
  MenuHandle m = MenuTableGet(menuId);
  if (!m) return;
  if (const int32 item = MFindLItemByKey(m, uInt32(key))) on ? MEnableItem(m, item) : MDisableItem(m, item);
}
void Check(int32 menuId, int32 key, bool on) {
  MenuHandle m = MenuTableGet(menuId);
  if (!m) return;
  if (const int32 item = MFindLItemByKey(m, uInt32(key))) MCheckItem(m, item, on);
}

bool FocusTextSelected(const State& s) {
  if (!s.panel) return false;
  if (H().focusTextSelected) return H().focusTextSelected(s.panel);
  TRecord text = reinterpret_cast<TRecord>(uintptr_t(viinst::ExtWord(s.panel, kHeapExtFocusText)));
  int32 start = 0, end = 0;
  return text && TGetSelection(text, &start, &end) && start != end;
}
bool PanelHasSelection(const State& s) {
  if (!s.panel) return false;
  return H().panelHasSelection ? H().panelHasSelection(s.panel) : viinst::ExtWord(s.panel, kHeapExtSelection) != 0;
}

WindowRef WindowOf(const State& s) { return s.panel ? viinst::PanelWindow(s.panel) : kWNoWindow; }

void SetupFile(const State& s) {
  const bool some = s.panel && s.k != kVIKindRoot;
  Enable(kFileMenu, 11, some);
  Enable(kFileMenu, 14, some);
  const bool locked = s.panel && OHWord(s.panel, kOHKind) == kPanelHeapKind && !(s.w & kW2OwnerMode) &&
                      !(s.options & kWindowOption8) && s.running();
  Enable(kFileMenu, 3, s.panel && !locked);
}

void SetupEdit(const State& s, int32 menuId) {
  if (!s.panel) {
    MenuHandle m = MenuTableGet(menuId);
    for (int32 item = 1; m && item <= MCountItems(m); ++item) {
      MenuItemInfo info{};
      MGetItemInfo(m, item, &info);
      const uInt32 key = info.itemKey;
      if (key != 19 && key != 20 && key != 21 && key != 24) MDisableItem(m, item);
    }
    return;
  }
  Enable(menuId, 6, H().pasteEnabled && H().pasteEnabled(s.panel));
  Enable(menuId, 5, s.k != kVIKindRoot && ((PanelHasSelection(s) && (s.w & kW2OwnerMode)) || FocusTextSelected(s)));
  const bool cut = s.k != 5 && s.k != kVIKindRoot && FocusTextSelected(s);
  Enable(menuId, 4, cut);
  Enable(menuId, 7, cut);
}

void SetupOperate(const State& s) {
  const bool retrieval = (s.w & kW2Retrieval) != 0;
  Enable(kOperateMenu, 1,
         s.vi && s.k != kVIKindControl && s.k != 4 && !retrieval && (s.e == 0 || s.e == 1 || s.e == 7) &&
             !(s.o & kNoRunOption));
  const bool completion = s.vi && s.k == kVIKindDatalog && !(s.o & kNoCompletionOptions) && !retrieval;
  Enable(kOperateMenu, 4, completion);
  Enable(kOperateMenu, 5, completion);
  Check(kOperateMenu, 4, s.vi && (s.w & kW2PrintAtCompletion));
  Check(kOperateMenu, 5, s.vi && (s.w & kW2LogAtCompletion));
}

void SetupDataLogging(const State& s) {
  if (!s.vi || s.k != kVIKindDatalog || (s.w & kW2Confirm) || s.running()) {
    for (int32 key = 1; key <= 5; ++key) Enable(kDataLogMenu, key, false);
    Check(kDataLogMenu, 2, false);
    return;
  }
  if (s.w & kW2Retrieval) {
    std::vector<uChar> marks;
    LogDeletionMarks(s.vi, &marks);
    const bool marked = std::any_of(marks.begin(), marks.end(), [](uChar m) { return m != 0; });
    Enable(kDataLogMenu, 1, false);
    Enable(kDataLogMenu, 2, true);
    Check(kDataLogMenu, 2, true);
    Enable(kDataLogMenu, 3, marked);
    Enable(kDataLogMenu, 4, true);
    Enable(kDataLogMenu, 5, false);
    return;
  }
  Enable(kDataLogMenu, 1, true);
  Enable(kDataLogMenu, 2, DatalogRecordCount(s.vi) > 0);
  Check(kDataLogMenu, 2, false);
  Enable(kDataLogMenu, 3, false);
  Enable(kDataLogMenu, 4, true);
  Path log = DatalogPath(s.vi);
  Enable(kDataLogMenu, 5, log && FIsAPath(log));
}

void SetupWindows(const State& s) {
  const WindowRef w = WindowOf(s);
  const bool zoomable = w != kWNoWindow && (WGetStyle(w) & kWStyleResizable);
  Enable(kWindowsMenu, 13, zoomable);
  Check(kWindowsMenu, 13, zoomable && WIsZoomed(w));
  Enable(kWindowsMenu, 2, s.vi && s.k != 5 && s.k != kVIKindRoot);
  VIWindBuildWindowsList(s.vi);
}

// The VI's online help: its help path (not a path when none) and its tag
// (the VI's, else the default).
bool OnlineHelpValid(const State& s) {
  if (!H().onlineHelpValid || !s.vi) return false;
  Path path = VIRec(s.vi)->helpPath;
  Path none = nullptr;
  if (!path) path = none = FNotAPath(nullptr);
  Str255 tag = {0};
  if (UHandle t = VIRec(s.vi)->helpTag; t && *t) {
    const int32 n = std::min<int32>(AZGetHandleSize(t), 255);
    tag[0] = uChar(n);
    std::memcpy(tag + 1, *t, size_t(n));
  }
  const bool ok = path && H().onlineHelpValid(path, tag);
  if (none) FDisposePath(none);
  return ok;
}

void SetupOnlineHelpItem(const State& s) {
  MenuHandle help = MenuTableGet(kHelpMenu);
  const int32 item = help ? MFindLItemByKey(help, kOnlineHelpKey) : 0;
  if (!item) return;
  Str255 entry, format, name, title, text;
  if (ShellListText(kHelpMenuListId, kOnlineHelpEntry, entry)) {
    int32 c = 0, k = 0;
    uInt32 m = 0;
    MParseShortcutSpec(entry, format, name, &c, &k, &m);
    title[0] = 0;
    if (s.vi) GetVITitle(s.vi, title, 1);
    PPrintfp(text, format, title);
    MChangeLItem(help, item, text, name);
  }
  const bool valid = s.panel && s.k != 0 && OnlineHelpValid(s);
  gOnlineHelpVI = valid ? s.vi : nullptr;
  valid ? MEnableItem(help, item) : MDisableItem(help, item);
}

void SetupHelp(const State& s) {
  const bool described = !(s.panel && s.k == 0) || (H().panelHasDescriptions && H().panelHasDescriptions(s.panel));
  Enable(kHelpMenu, 1, described);
  Check(kHelpMenu, 1, H().helpShown && H().helpShown());
  SetupOnlineHelpItem(s);
  if (MenuHandle help = MenuTableGet(kHelpMenu))
    for (int32 item = kFirstHelpRow; item < MCountItems(help); ++item)
      (s.panel && s.k != 0) ? MEnableItem(help, item) : MDisableItem(help, item);
}

std::string_view SortKey(ConstPStr title) {
  std::string_view t(reinterpret_cast<const char*>(title + 1), title[0]);
  return t.substr(0, 2) == "__" ? t.substr(2) : t;
}

void ShowAlert(int32 list, int32 index) {
  Str255 text;
  ShellListText(list, index, text);
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

int32 DataLogCommand(int32 key, const State& s) {
  if (!s.vi) return 0;
  switch (key) {
    case 1: {
      if (VIWindHooksInUse().releaseKeyFocus && s.panel) VIWindHooksInUse().releaseKeyFocus(s.panel);
      if (s.e == kVIStateBroken) {
        ShowAlert(kLogAlertListId, 7);
        return 1;
      }
      const MgErr err = WriteDatalogRecord(s.vi, 0);
      if (err == kNoErr || err == kTopLevelCancelled) return 1;
      if (err == kArgErr) {
        ShowAlert(kLogAlertListId, 1);
        return 1;
      }
      if (err == kLogIncompatibleErr) ShowAlert(kLogIncompatibleListId, 7);
      else ShowAlert(kLogAlertListId, 5);
      ClearLogPath(s.vi);
      return 1;
    }
    case 2: {
      if (s.e & 2) return 1;
      WPortState saved{};
      const WindowRef w = WindowOf(s);
      if (w != kWNoWindow) WSetup(w, &saved);
      (s.w & kW2Retrieval) ? ExitRetrieveMode(s.vi) : EnterRetrieveMode(s.vi);
      if (w != kWNoWindow) WRestore(&saved);
      return 1;
    }
    case 3: PurgeData(s.vi); return 1;
    case 4: ChangeLogFile(s.vi); return 1;
    case 5: ClearLogPath(s.vi); return 1;
    default: return 0;
  }
}

}  // namespace

ConstPStr VIWindMenuPathVIName() { return gPathVIName; }
UHandle VIWindOnlineHelpTarget() { return gOnlineHelpVI; }

void VIWindBuildWindowsList(UHandle current) {
  MenuHandle m = MenuTableGet(kWindowsMenu);
  if (!m) return;
  const int32 last = MFindLItemByKey(m, 13);
  if (!last) {
    DBPrintf("couldn't find last item in the window menu");
    return;
  }
  while (MCountItems(m) > last) MDeleteItem(m, MCountItems(m));
  struct Entry {
    Str255 title;
    UHandle panel;
    bool mark;
  };
  std::vector<Entry> entries;
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next) {
    ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
    if (!panel || !*panel || viinst::PanelWindow(panel) == kWNoWindow) continue;
    Entry e{};
    GetVITitle(vi, e.title, 1);
    e.panel = reinterpret_cast<UHandle>(panel);
    e.mark = vi == current;
    entries.push_back(e);
  }
  if (entries.empty()) return;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return SortKey(a.title) < SortKey(b.title); });
  if (MInsertLSeparator(m, nullptr, last, uInt32(kWindowListKey)) != kNoErr) return;
  int32 added = 0;
  for (const Entry& e : entries) {
    if (MInsertLItem(m, e.title, e.title, e.mark ? 1 : 0, &e.panel, int32(sizeof e.panel), -1,
                     uInt32(kWindowListKey)) != kNoErr)
      break;
    ++added;
  }
  // The run-time menus copy the list in whole under its special tag.
  Str255 tag;
  RTMGetSpecialTag(kRTMTagOpenWindows, tag);
  if (added > 0) MGroupLItems(m, last + 2, added, tag);
}

int32 VIWindSetupMenus(ObjHeap panel) {
  const State s = StateOf(panel);
  if (s.vi && H().rtmBlocked && H().rtmBlocked(s.vi)) return 0;
  uInt32 bar = s.panel ? viinst::ExtWord(s.panel, kHeapExtMenuBar) : uInt32(kBarPanelId);
  if (bar == 0 || bar == kMenuBarRunTime || bar == uInt32(kBarPlainId)) bar = kBarPanelId;
  SetupHelp(s);
  if (bar == uInt32(kBarVIDialogId)) {
    Enable(kDialogFileMenu, 3, !(!(s.options & kWindowOption8) && s.running()));
    Enable(kDialogEditMenu, 9, false);
    SetupOperate(s);
  } else if (bar == uInt32(kBarPanelId)) {
    MenuHandle b = MenuTableGet(kBarPanelId);
    SetupFile(s);
    SetupEdit(s, kEditMenu);
    SetupWindows(s);
    if (s.panel) {
      const bool operate = !(s.w & kW2Confirm) && s.k != kVIKindRoot;
      if (b) operate ? MEnableItem(b, 3) : MDisableItem(b, 3);
      if (operate) SetupOperate(s);
      if (b) (s.w & (kW2Retrieval | kW2Confirm)) ? MDisableItem(b, 2) : MEnableItem(b, 2);
      SetupDataLogging(s);
    } else if (b) {
      MDisableItem(b, 3);
    }
  } else {
    const WindowRef active = WActiveDocWind();
    Enable(kDialogFileMenu, 3, active != kWNoWindow && (WGetStyle(active) & kWStyleCloseable));
    const bool dialog = s.panel && s.k == 0;
    for (int32 key : {1, 2, 9}) Enable(kDialogEditMenu, key, dialog);
  }
  return 1;
}

int32 VIWindMenuCommand(int32 menu, int32 item, ObjHeap panel, WindowRef window) {
  gPathVIName[0] = 0;
  MenuHandle m = MenuTableGet(menu);
  if (!m || item < 1 || item > MCountItems(m)) return 0;
  MenuItemInfo info{};
  MGetItemInfo(m, item, &info);
  const int32 key = int32(info.itemKey);
  const State s = StateOf(panel);
  switch (menu) {
    case kFileMenu:
    case kDialogFileMenu:
      if (key == 11 || key == 12) return PPageSetup(s.vi, window), 1;
      if (key == 14) return PrintVIWindow(s.vi, window, 0), 1;
      return 0;
    case kEditMenu:
    case kDialogEditMenu:
    case kEditMenu16:
    case kEditMenu20:
      if (key == 4 || key == 5 || key == 7 || key == 6) {
        if (!s.panel) return 0;
        if (key == 6 && !(H().pasteEnabled && H().pasteEnabled(s.panel))) return 1;
        int32 argument = key;
        if (H().sendAction) H().sendAction(s.panel, kActionEdit, &argument);
        return 1;
      }
      return 0;
    case kOperateMenu:
      if (!s.vi) return 0;
      switch (key) {
        case 1:
          if (s.o & kNoRunOption) return 1;
          if (VIWindHooksInUse().setCursor) VIWindHooksInUse().setCursor(0);
          DoRunCommand(s.vi, 1);
          return 1;
        case 4: TogglePrintAtCompletion(s.vi); return 1;
        case 5: ToggleLogAtCompletion(s.vi); return 1;
        case 10:
          if (s.panel && H().sendAction) H().sendAction(s.panel, kActionReinitialise, nullptr);
          return 1;
        default: return 0;
      }
    case kWindowsMenu:
      if (key == 2 && s.vi) return VIInfoCommand(s.vi, 0), 1;
      if (key == 13 && window != kWNoWindow && (WGetStyle(window) & kWStyleResizable)) {
        WBringToFront(window);
        WZoom(window, !WIsZoomed(window));
        return 1;
      }
      return 0;
    case kDataLogMenu: return DataLogCommand(key, s);
    default: {
      uInt32 attrs = 0;
      MGetMenuAttrs(m, &attrs, nullptr, nullptr, nullptr);
      const bool paths = menu == kProjectMenu || (attrs & (kMenuAttrVIMenu | kMenuAttrHelpMenu));
      return VIWindOpenMenuPath(panel, menu, item, paths ? 0 : 1);
    }
  }
}

int32 VIWindOpenMenuPath(ObjHeap panel, int32 menu, int32 item, Bool32 strict) {
  MenuHandle m = MenuTableGet(menu);
  if (!m) return 0;
  uInt32 attrs = 0;
  MGetMenuAttrs(m, &attrs, nullptr, nullptr, nullptr);
  if (strict && !(attrs & (kMenuAttrVIMenu | kMenuAttrHelpMenu))) return 0;
  Path data = nullptr;
  if (MGetItemData(m, item, &data, int32(sizeof data)) != int32(sizeof data) || !data || !FIsAPath(data)) return 0;
  Path copy = FEmptyPath(nullptr);
  if (!copy || FPathCpy(copy, data) != kNoErr) {
    if (copy) FDisposePath(copy);
    MemFullAlert(0, 0);
    return 0;
  }
  UHandle vi = nullptr;
  const MgErr err = ShellOpenVIFile(copy, &vi, kOpenVIOpenPanel | 4);
  if (err || !vi) {
    if (strict && !(attrs & kMenuAttrHelpMenu)) return 0;
    return WWinHelp(kWRootWindow, data, 3, nullptr) == 0 ? 1 : 0;
  }
  if (panel && *panel)
    if (UHandle owner = PanelHeapOwner(panel); owner && *owner) PStrCpy(gPathVIName, VIRec(owner)->name);
  return 1;
}
