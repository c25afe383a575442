#include "shell/vishell.h"

#include "shell/eventfilter.h"
#include "shell/extshell.h"
#include "engine/vi/dlgpanel.h"
#include "shell/viwindow.h"

#include <cstring>
#include <vector>

#include "engine/exec/rttable.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vihooks.h"
#include "mgsource/blockmove.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "shell/appprint.h"
#include "shell/shellmain.h"
#include "shell/background.h"
#include "shell/dialog.h"
#include "shell/filedlg.h"
#include "shell/filesvc.h"
#include "shell/help.h"
#include "shell/loaddialog.h"
#include "shell/rtmenu.h"
#include "shell/runshell.h"
#include "shell/shellinit.h"
#include "shell/statepnl.h"
#include "shell/userevent.h"

void ShellInstallEngineHooks() {
  ShellInstallExecEvents();
  SetInvalidLibraryAlertHook(&InvalidLoadLibraryAlert);
  VIShellHooks hooks{};
  hooks.postUserEvent = &PostUserEvent;
  hooks.filterInstrUserEvents = &FilterInstrUserEvents;
  hooks.filterDSUserEvents = &FilterDSUserEvents;
  // The panel is gone by then: its targets are forgotten by comparison only.
  hooks.helpClearTarget = &HelpForgetObject;
  hooks.rtmDisposeVIMenuRef = &RTMFreeVIMenuRec;
  hooks.viWindowProc = &VIWindEventProc;
  SetVIShellHooks(&hooks);
  ShellInstallRunCommandHooks();
  ShellInstallFileHooks();
  ShellInstallPanelRoutineHooks();
  ShellInstallVIWindowHooks();
  ShellInstallPrintHooks();
  ShellInstallFileDialogHooks();
  ShellInstallFindHooks();
  ShellInstallLoadDialogHooks();
  ShellInstallMainLoopHooks();
  // Dialogs are built and sized to the panel bounds of their VI window.
  DlgPanelHooks dialogs = DlgPanel();
  dialogs.panelBounds = &DlgPanelGetBounds;
  SetDlgPanelHooks(&dialogs);
}

MgErr QXRTRegisterShell() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(109, WBackground),
      QX_RT_ENTRY(842, TwoButtonAlert),
      QX_RT_ENTRY(899, DlgFilterVIEvents),
      QX_RT_ENTRY(901, DlgSetData),
      QX_RT_ENTRY(902, DlgLoad),
      QX_RT_ENTRY(903, DlgCreate),
      QX_RT_ENTRY(904, DlgUnload),
      QX_RT_ENTRY(905, DlgShow),
      QX_RT_ENTRY(906, DlgHide),
      QX_RT_ENTRY(907, DlgMove),
      QX_RT_ENTRY(908, DlgSize),
      QX_RT_ENTRY(909, DlgQuit),
      QX_RT_ENTRY(910, DlgBoxLoop),
      QX_RT_ENTRY(911, DlgBoxStep),
      QX_RT_ENTRY(912, DlgDefaultProc),
      QX_RT_ENTRY(916, DlgRefresh),
      QX_RT_ENTRY(936, DlgGetKbdFocus),
      QX_RT_ENTRY(937, DItemToDCOId),
      QX_RT_ENTRY(938, DCOIdToDItem),
      QX_RT_ENTRY(939, ZPlaneIndexToDItem),
      QX_RT_ENTRY(940, FileDialog),
      QX_RT_ENTRY(981, WMain),
      QX_RT_ENTRY(1052, QXShutDown),
      QX_RT_ENTRY(1074, SetKeyboardHandlerProc),
      QX_RT_ENTRY(1465, FDCheckName),
      QX_RT_ENTRY(1547, ControlHelpWindow),
      QX_RT_ENTRY(1548, GetHelpWindowStatus),
      QX_RT_ENTRY(1549, ControlOnlineHelp),
      QX_RT_ENTRY(1566, InstallQuitNotification),
      QX_RT_ENTRY(1591, DlgDefaultProc),
      QX_RT_ENTRY(1648, PostUserEvent),
      QX_RT_ENTRY(1652, RTMSetErrorIOClust),
      QX_RT_ENTRY(1653, RTMGetMenuSelection),
      QX_RT_ENTRY(1654, RTMEnableMenuTracking),
      QX_RT_ENTRY(1655, RTMInsertMenuItem),
      QX_RT_ENTRY(1656, RTMDeleteMenuItem),
      QX_RT_ENTRY(1657, RTMGetMenuItemInfo),
      QX_RT_ENTRY(1658, RTMSetMenuItemInfo),
      QX_RT_ENTRY(1659, RTMGetMenuShortcutInfo),
      QX_RT_ENTRY(1660, RTMAddMenuSelOccur),
  };
  if (MgErr err = QXRTRegisterDialogItems()) return err;
  if (MgErr err = QXRTRegisterExtShell()) return err;
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
