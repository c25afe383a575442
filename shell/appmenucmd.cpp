// The application's commands: open, close, quit, preferences, the window
// list, help and the about box; the quit sequence; the plug-in VIs.
#include <cstring>

#include "engine/exec/exec.h"
#include "engine/exec/menutexts.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/winmain.h"
#include "mgsource/walert.h"
#include "engine/typemgr.h"
#include "mgsource/window/wmisc.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/splash.h"
#include "shell/toplevel.h"
#include "shell/viwindow.h"

namespace {

const ProgMenuHooks& H() { return ProgMenuHooksInUse(); }

// The loader switch the Open command holds at 1 for its file dialog.
int32 gOpenSwitch = 0;

// The panel of the active document window, when it shows a VI.
ObjHeap FrontPanel(WindowRef* window) {
  const WindowRef w = WActiveDocWind();
  if (window) *window = w;
  if (w == kWNoWindow) return nullptr;
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next) {
    ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
    if (panel && *panel && viinst::PanelWindow(panel) == w) return panel;
  }
  return nullptr;
}

int32 ToVIWindow(int32 menu, int32 item) {
  WindowRef w = kWNoWindow;
  ObjHeap panel = FrontPanel(&w);
  return VIWindMenuCommand(menu, item, panel, w);
}

// A plug-in that did not run, or asked for the default action.
bool PluginWantsDefault(int32 index) {
  Bool32 wantDefault = 1;
  return RunPluginVI(index, nullptr, 1, 0, &wantDefault) != kNoErr || wantDefault;
}

// States 2, 6 and 14 run at top level; a VI whose name is held is on its
// way out and not counted.
bool RunningTopLevel(UHandle vi) {
  const uInt32 e = VIRec(vi)->eState & kVIStateMask;
  return (e == 2 || e == 6 || e == 14) && IsVINameFree(VIRec(vi)->name);
}

void PostRoot(WEventCode code, int32 priority) {
  WEventRecord e{};
  e.code = code;
  e.window = kWRootWindow;
  WPostEvent(&e, 1, priority);
}

void WindowListItem(int32 item) {
  MenuHandle m = MenuTableGet(kWindowsMenu);
  UHandle panel = nullptr;
  if (!m || MGetItemData(m, item, &panel, sizeof panel) != int32(sizeof panel) || !panel) return;
  for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next)
    if (VIRec(vi)->panelHeap == panel) {
      const WindowRef w = viinst::PanelWindow(reinterpret_cast<ObjHeap>(panel));
      if (w != kWNoWindow) WBringToFront(w);
      return;
    }
}

void OpenFirstHelpFile() {
  Path p = FEmptyPath(nullptr);
  const bool ok = p && HelpFirstFilePath(p) == kNoErr && WWinHelp(kWRootWindow, p, 3, nullptr) == 0;
  if (p) FDisposePath(p);
  if (!ok) WBeep();
}

}  // namespace

int32 OpenLoaderSwitch() { return gOpenSwitch; }

MgErr RunPluginVI(int32 index, UHandle* vi, Bool32 call, int32, Bool32* wantDefault) {
  if (vi) *vi = nullptr;
  Str255 name;
  if (!ShellListText(kPluginNamesListId, index, name) || !name[0]) return kFileNotFoundErr;
  Path path = FEmptyPath(nullptr);
  if (!path) return kMemFullErr;
  static const uChar kPlugins[] = "\x07plugins";
  MgErr err = GetAppPath(path);
  if (!err) err = FAppendName(path, kPlugins);
  if (!err) err = FAppendName(path, name);
  if (!err && FExists(path) != 1) err = kFileNotFoundErr;
  if (err) {
    FDisposePath(path);
    return err;
  }
  if (call) {
    Str255 output;
    ShellListText(kPluginOutputsListId, 2, output);
    Bool32 value = 1;
    err = H().callInstrumentByPath ? H().callInstrumentByPath(path, output, &value) : MgErr(kFileNotFoundErr);
    FDisposePath(path);
    if (!err && wantDefault) *wantDefault = value;
    return err;
  }
  UHandle opened = nullptr;
  err = ShellOpenVIFile(path, &opened, kOpenVIOpenPanel | kOpenVIShowProgress);
  if (!err && vi) *vi = opened;
  return err ? err : (opened ? kNoErr : MgErr(kFileNotFoundErr));
}

void AppQuit() {
  if (FireQuitNotifications() > 0) return;
  bool running = false;
  if (ExecInitialised())
    for (UHandle vi = FirstLoadedVI(); vi && *vi && !running; vi = VIRec(vi)->next) running = RunningTopLevel(vi);
  if (running && WStartMode() != kWStartAutomation && !IsBuiltApp()) {
    Str255 text, button;
    ShellListText(kQuitTextsListId, 1, text);
    ShellListText(kQuitTextsListId, 2, button);
    if (TwoButtonAlert(kDlgPStrValueType, text, button, nullptr, 1, -32768, -32768) != 1) {
      ShellClearShutDownRequest();
      return;
    }
  }
  bool cancelled = false;
  if (PluginWantsDefault(kPluginQuit)) {
    if (H().stopServer) H().stopServer();
  } else {
    cancelled = true;
  }
  if (H().hideFloaters) H().hideFloaters();
  if (running)
    for (UHandle vi = FirstLoadedVI(); vi && *vi; vi = VIRec(vi)->next)
      if (DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); ds && RunningTopLevel(vi)) DoAbortCommand(ds);
  if (!WIsAtRootLevel()) {
    PostRoot(kLeaveNestedLoopEvent, kWPostTopLevel);
    PostRoot(kWEvQuit, kWPostAnyLevel);
    return;
  }
  if (!cancelled && CloseAllVIs(1) == 0) {
    if (H().helpHide) H().helpHide();
    WQuit();
  } else {
    FireQuitOccurrence();
    QuitIfNoVIWindowsLeft();
  }
  ShellClearShutDownRequest();
}

int32 AppMenuCommand(int32 menu, int32 item, int32 command) {
  int32 answer = 1;
  if (menu != 0 && H().rtmIsRunTimeMenu && H().rtmIsRunTimeMenu(menu)) {
    answer = 0;
    if (!H().rtmResolveLinkedItem || !H().rtmResolveLinkedItem(&menu, &item, &command)) return answer;
  }
  // A chosen item names its command by its key.
  if (item > 0)
    if (MenuHandle m = MenuTableGet(menu); m && item <= MCountItems(m)) {
      MenuItemInfo info{};
      MGetItemInfo(m, item, &info);
      command = int32(info.itemKey);
    }
  switch (menu) {
    case kFileMenu:
    case kDialogFileMenu:
      switch (command) {
        case 2:
          if (PluginWantsDefault(kPluginOpen)) {
            gOpenSwitch = 1;
            ShellOpenVIFile(nullptr, nullptr, kOpenVIOpenPanel);
            gOpenSwitch = 0;
          }
          break;
        case 3: {
          const WindowRef w = WActiveDocWind();
          if (w != kWNoWindow) {
            WEventRecord e{};
            e.code = kWEvClose;
            e.window = w;
            WPostEvent(&e, 1, kWPostAnyLevel);
          }
          break;
        }
        case 24:
        case 25: AppQuit(); break;
        default: ToVIWindow(menu, item); break;
      }
      break;
    case kEditMenu:
    case kEditMenu16:
    case kEditMenu20:
      if (command == 19 && H().preferencesDialog) H().preferencesDialog();
      break;
    case kWindowsMenu:
      if (command == 7 && H().showClipboard) H().showClipboard();
      else if (command == 0) WindowListItem(item);
      break;
    case kHelpMenu:
      switch (command) {
        case 1:
          if (H().helpToggle) H().helpToggle();
          break;
        case 5:
        case 6: OpenFirstHelpFile(); break;
        case 7: {
          WindowRef w = kWNoWindow;
          ObjHeap panel = FrontPanel(&w);
          if (panel && H().onlineHelpForVI) H().onlineHelpForVI(PanelHeapOwner(panel));
          break;
        }
        case 10:
          if (PluginWantsDefault(kPluginAbout)) ShowAboutBox();
          break;
        default: ToVIWindow(menu, item); break;
      }
      break;
    default: ToVIWindow(menu, item); break;
  }
  return answer;
}
