// The program's start-up and shut-down, shared by the program and the
// test drivers that run as built applications.
#include "app/appstart.h"

#include <cstddef>

#include "app/dlgservices.h"
#include "app/uiloop.h"
#include "app/viserverhooks.h"

#include "controls/container.h"
#include "controls/cursorlegend.h"
#include "controls/graphcursors.h"
#include "controls/listbox.h"
#include "controls/strimporthooks.h"
#include "controls/picc.h"
#include "controls/scale.h"
#include "controls/slideops.h"
#include "engine/dsalloc.h"
#include "engine/exec/rttable.h"
#include "engine/enginehooks.h"
#include "engine/link/linker.h"
#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/vifind.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viload.h"
#include "mgsource/appdirs.h"
#include "mgsource/walert.h"
#include "mgsource/draw/printvi.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/virecord.h"
#include "io/device.h"
#include "io/gpibsup.h"
#include "io/ioregister.h"
#include "io/netconn.h"
#include "io/unitaccess.h"
#include "io/visamgr.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/window/textrec.h"
#include "mgsource/memory.h"
#include "mgsource/mgstartup.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/debug.h"
#include "olesource/oleautomgr.h"
#include "olesource/oleserv.h"
#include "olesource/olestart.h"
#include "olesource/olevi.h"
#include "olesource/servreq.h"
#include "panel/blink.h"
#include "panel/ctrlops.h"
#include "panel/objdraw.h"
#include "panel/printparts.h"
#include "panel/rangecheck.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/operate.h"
#include "panel/paneldisplay.h"
#include "panel/popup.h"
#include "panel/dlghelpparts.h"
#include "panel/fpexec.h"
#include "panel/objects.h"
#include "panel/ohelp.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/strimport.h"
#include "panel/transact.h"
#include "panel/zktag.h"
#include "rtlib/datalog.h"
#include "rtlib/filerefnum.h"
#include "rtlib/rtregister.h"
#include "server/callbyr.h"
#include "server/embobj.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "server/tcpserver.h"
#include "server/viref.h"
#include "server/vistrmethod.h"
#include "shell/callbypath.h"
#include "shell/colordialog.h"
#include "shell/descdialog.h"
#include "shell/extshell.h"
#include "engine/datatype.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/userevent.h"
#include "shell/help.h"
#include "shell/filedlg.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/appprint.h"
#include "shell/splash.h"
#include "panel/clipmenu.h"
#include "panel/colorpal.h"
#include "panel/panelscroll.h"
#include "panel/selabel.h"
#include "controls/plotmenus.h"
#include "shell/viinfo.h"
#include "shell/prefdlg.h"
#include "shell/vistring.h"
#include "shell/rtmenu.h"
#include "shell/shellglobals.h"
#include "shell/shellinit.h"
#include "shell/shellmain.h"
#include "shell/statepnl.h"
#include "shell/vishell.h"
#include "shell/viwindow.h"
#include "platform/qx_uitest.h"

namespace {

int gScriptStatus = 0;

// The input script before the main loop: its status (or its quit's code)
// ends the run.  So does a start that leaves nothing open once what waits
// has been handled.
Bool32 BeforeLoop() {
  if (const int status = AppUiScript(); status >= 0) {
    gScriptStatus = status;
    return 1;
  }
  for (int turns = 0; turns < 1000 && !WQuitting() && (WMainLoop(0, 0) || WCountPendingEvents() > 0); ++turns) {
  }
  return WQuitting() || !AppUiAnythingOpen() ? 1 : 0;
}

// The screen and the shown windows, whichever way the run ended.
void AfterLoop() { PlatUiSnapshotAtExit(); }

}  // namespace

int AppScriptStatus() { return gScriptStatus; }

void AppRefreshPanel(UHandle vi) {
  if (!vi || !*vi) return;
  const ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return;
  // The range checking of its clusters and of the panel, set up again from
  // what their entries check now.
  InitPanelRangeFlags(panel);
  // Its blinking objects in their normal look: a VI that stops running
  // leaves none in its blink look.
  if (HeapHasBlinkers(panel)) BlinkRedrawHeap(panel);
}

void AppInstallHooks() {
  // The engine's own parts first: the layers above add to its tables.
  EngineInstallHooks();
  // The shell's main routine: the engine's start, the cursors, the panel
  // clipboard, and around the loop the input script and the snapshots.
  ShellMainHooks main{};
  main.startEngine = &AppStartEngine;
  // The drivers end their pending requests while the engine still runs.
  main.stopEngine = &CloseAllDevices;
  main.beforeLoop = &BeforeLoop;
  main.afterLoop = &AfterLoop;
  main.loadCursors = [] { GetCursorImage(24); };
  main.panelClipboard = &FPPanelClipboardLife;
  ShellSetMainHooks(main);
  // The entry: the network layer starts with the managers and stops after
  // the shell.
  WStartupHooks entry{};
  entry.netStart = &NCInitMutexes;
  entry.netStop = [] { NCShutdown(); };
  // "/Unregister": the automation server's registry entries go.
  entry.oleServerUnregister = [] { OleServerUnregister(); };
  ShellInstallEntryHooks(entry);
  // The frame window's socket notifications reach the connection manager.
  WWinProcHooks frame{};
  frame.networkNotify = [](PlatWParam socket, PlatLParam event) { NCSocketEvent(uInt32(socket), uInt32(event)); };
  // In automation mode an activation with no VI window left quits.
  frame.quitIfNoVIWindows = &QuitIfNoVIWindows;
  WSetWinProcHooks(frame);
  // Windows of VIs take their titles from the engine; the libraries'
  // temporary files are named in the temporary folder.
  SetWindowTitleProc([](int32 window, ConstPStr title) { WSetTitle(WindowRef(window), title); });
  ArchiveSetTempPathProc(&MakeTempFilePath);
  // The object system's services and the engine's start-up blocks are in
  // place before the managers start.
  PanelInstallEngineHooks();
  ControlsInstallPanelHooks();
  ShellInstallEngineHooks();
  ServerInstallEngineHooks();
  SetVIPropPanelHooks(VIPropPanelHooks{&ScrollPanelBy});
  PanelScrollHooks scroll{};
  scroll.disposeRgnCache = &VIWindDisposeRgnCache;
  scroll.hideTipStrip = [] { HelpSetTipTarget(nullptr, 0, 0); };
  scroll.panelBounds = [](ObjHeap heap) -> const Rect* { return PanelGetBounds(heap); };
  SetPanelScrollHooks(scroll);
  // Drags over a VI window go to its panel: the window's reference word.
  VIShellHooks viShell = VIShell();
  viShell.viDropHandler = [](WEventRecord* drag, uInt32 refCon) {
    return DragTrackPanelRec(drag, reinterpret_cast<ObjHeap>(uintptr_t(refCon)));
  };
  SetVIShellHooks(&viShell);
  SelLabelHooks selLabel{};
  selLabel.newPopupMenuID = &NewPopupMenuID;
  selLabel.releaseMenuID = &ReleaseMenuID;
  selLabel.symbolImage = &ListboxSymbolImage;
  selLabel.panelMenuBar = &VIWindMenuBar;
  SetSelLabelHooks(selLabel);
  AppInstallServerUIHooks();
  OleInstallEngineHooks();
  PanelDataHooks panelData{};
  panelData.embUpdateDispatch = &EmbUpdateDispatch;
  SetPanelDataHooks(panelData);
  // Embedded objects: the container library is loaded when the component
  // layer starts and unloaded when it stops; the container control reaches
  // the embedding services and the alert through its hooks.
  DragSetContainerProcs([] { EmbLoadContainerLibrary(); }, &EmbUnloadContainerLibrary);
  static_assert(sizeof(ContainerAmbient) == sizeof(EmbAmbientInfo) &&
                    offsetof(ContainerAmbient, textRecord) == offsetof(EmbAmbientInfo, textRecord) &&
                    offsetof(ContainerAmbient, foreground) == offsetof(EmbAmbientInfo, foreground),
                "the container's ambient information is the embedding services'");
  ContainerEmbHooks emb{};
  emb.loadFromResource = [](UHandle saved, UHandle* record, WindowRef window, const ContainerAmbient* ambient,
                            const Rect* bounds, int32* flags) {
    EmbAmbientInfo info{};
    if (ambient) info = {ambient->background, ambient->foreground, ambient->textRecord, ambient->text, 0};
    return EmbLoadFromResource(saved, record, window, ambient ? &info : nullptr, bounds, flags);
  };
  emb.saveObject = &EmbSaveObject;
  emb.destroy = &EmbDestroy;
  emb.activate = &EmbActivate;
  emb.getFlags = &EmbGetFlags;
  emb.setWindow = &EmbSetWindow;
  emb.setBounds = &EmbSetBounds;
  emb.getBounds = &EmbGetBounds;
  emb.focus = &EmbFocus;
  emb.getPicture = &EmbGetPicture;
  emb.ambientForeground = &EmbAmbientFGColor;
  emb.ambientBackground = &EmbAmbientBGColor;
  emb.ambientDisplayName = &EmbAmbientDisplayName;
  emb.ambientFont = &EmbAmbientFont;
  emb.recordSwap = &EmbRecordSwap;
  emb.detachWindow = &EmbDetachWindow;
  emb.hasObject = &EmbHasObject;
  emb.disposeRecord = &EmbDisposeRecord;
  emb.dupRecord = &EmbDupRecord;
  emb.updateDispatch = &EmbUpdateDispatch;
  emb.twoButtonAlert = &TwoButtonAlert;
  SetContainerEmbHooks(emb);
  // Objects in child windows of a host window follow its scrolled content
  // and move to the root window before the host window is destroyed.
  WSetEmbeddedScroll(&EmbWindowScroll);
  WSetEmbeddedCleanup(&EmbWindowClosing);
  ControlsInstallScaleHooks();
  ControlsInstallSlideOpsHooks();
  // The gradient fill's dithered pens are three of the shell's pens.
  PiccSetBlendPenSource([](int32 which) { return ShellPen(kShellBlendPenFirst + which); });
  // A value display draws into the shell's "Closed" window when its panel
  // has none, and ends the running clump's time slice when it leaves work
  // for the window's update.
  PanelDisplayHooks display{};
  display.closedWindow = &ShellClosedWindow;
  display.setCDReg = &SetCDReg;
  SetPanelDisplayHooks(display);
  // Drawing paints a printed panel over its bounds; a control's description
  // is edited in the shell's dialog, by the VI's setup, with the help window
  // following.
  PanelDrawHooks draw{};
  draw.panelGetBounds = &PanelGetBounds;
  SetPanelDrawHooks(draw);
  // Printing and panel images draw the panel through the object system.
  PanelInstallPrintHooks();
  CtrlOpsShellHooks ctrlOps{};
  ctrlOps.descriptionDialog = &EditDescriptionDialog;
  ctrlOps.viGetSetupFlag13 = &VIGetSetupFlag13;
  ctrlOps.helpUpdateIfShowing = &HelpUpdateIfShowing;
  SetCtrlOpsShellHooks(ctrlOps);
  // The pop-up menus' tracked items, help and the tag VIs.
  PopupShellHooks popup{};
  popup.menuInsertItemAt = &MenuInsertItemAt;
  popup.menuAttachRecord = &MenuAttachRecord;
  popup.helpGetVIHelpRef = &HelpGetVIHelpRef;
  popup.helpOpenOnlineForObj = &HelpOpenOnlineForObj;
  popup.callInstrumentByPath = &CallInstrumentByPath;
  SetPopupShellHooks(popup);
  // The transactions' menus and the VI window's parts.
  PanelShellHooks panelShell{};
  panelShell.menuFindTracked = &MenuFindTracked;
  panelShell.menuReleaseTracked = &MenuReleaseTracked;
  panelShell.standardMenu = &MenuTableGet;
  panelShell.windowPartRect = [](ObjHeap panel, int32 area, Rect* rect) -> int32 {
    Rect icon;
    switch (area) {
      case 1: return VIWindVScrollRect(panel, rect);
      case 2: return VIWindHScrollRect(panel, rect);
      case 4: return VIWindIconPaneRect(panel, rect, &icon);
      case 8: return VIWindStatePanelRect(panel, rect);
      case 16: return VIWindMenuBarRect(panel, rect);
      default: return 0;
    }
  };
  panelShell.panelInvalBounds = &VIWindInvalBounds;
  panelShell.panelGetRgn = &PanelGetRgn;
  panelShell.statePnlSetTextEntry = &VIWindSetTextEntry;
  panelShell.viInfoDialog = &VIInfoDialog;
  AppFillDialogSenders(&panelShell);
  panelShell.tipStripSetTarget = &HelpSetTipTarget;
  panelShell.importVIStrings = &ImportVIStrings;
  SetPanelShellHooks(panelShell);
  // The string import's reach into the panel and the controls.
  SetVIStringHooks({.importPanel = &FPImportStrings, .className = &GetObjClassName});
  StringImportHooks stringImport{};
  stringImport.scaleFitToItemCount = &ScaleFitToItemCount;
  stringImport.graphCursorList = [](ObjHeap heap, int32 graph, int32* count) {
    return GetGraphCursorList(heap, ObjWord(heap, graph, kGraphDataWord), count);
  };
  stringImport.graphCursorFont = &GetGraphCursorFont;
  stringImport.measureCursorLabel = [](UPtr cursor, int32 font) { MeasureCursorLabel(cursor, font); };
  ControlsFillStringImportHooks(&stringImport);
  SetStringImportHooks(stringImport);
  SetImportVIStringsProc(&ImportVIStrings);
  DlgSetPanelServices(AppDialogServices());
  // The help window and the objects' help method.
  SetHelpImageTaker(&HelpSetImage);
  HelpObjectServices help{};
  help.sendHelp = [](ObjHeap heap, int32 object, int32 part) { return OSendMessage<int32>(kMsgOHelp, heap, object, part); };
  help.viOf = &OHelpVIOf;
  help.hasDescription = &PanelHasDescription;
  HelpSetObjectServices(help);
  // What the VI window asks of the object system.
  VIWindHooks window = VIWindHooksInUse();
  window.panelEvent = &TRPanelEvent;
  window.drawPanel = &ODrawPanel;
  window.handleKey = &FPHandleKey;
  window.releaseKeyFocus = &FPReleaseKeyFocus;
  window.commitKeyFocus = &FPCommitKeyFocus;
  window.stashText = &HeapStashText;
  window.objectRect = &OGetRect;
  window.markInRect = [](ObjHeap panel, int32 root, DRgn region) { OMarkInRect(panel, root, region, nullptr, 0); };
  window.keyNavItem = &DlgGetKeyNavItem;
  window.redrawDefaultButton = &FPRedrawDefaultButton;
  window.setCursor = [](int32 number) { SetCursorByNumber(number, -2); };
  window.dialogFilter = &DlgFilterVIEvents;
  window.helpFollowUp = &UpdateHelpForPanel;
  // Run-time menus: blocking, the operator's choices and the VI's own bar.
  window.rtmTrackingBlocked = &RTMTrackingBlocked;
  window.rtmQueueSelection = &RTMQueueSelection;
  window.rtmMenuBar = [](UHandle vi) -> MenuHandle {
    MenuHandle bar = nullptr;
    return RTMLoadVIMenu(vi, &bar) == kNoErr ? bar : nullptr;
  };
  window.rtmRefreshLinkedItems = &RTMRefreshLinkedItems;
  VIWindSetHooks(window);
  RTLibInstallDatalogHooks();
  IOInstallUnitAccessHooks();
  NCInstallManagerHooks();
  // The device timers give the execution systems their time slice: without
  // them every slice is 0 and a clump that checks its countdown yields at
  // every check.
  DevInstallTimerService();
  // The frame window's driver messages reach the device drivers.
  DevInstallDriverHooks();
  MemSetDataSpaceInitHook(&AZPAllocInit);
  // What the shell's start-up and shut-down ask of the instrument and
  // network layers.
  ShellStartHooks shell{};
  // A test's recorder of the start-up's steps stays.
  shell.step = ShellStartHooksInUse().step;
  shell.visaInit = &VisaInit;
  shell.instrShutDown = [] {
    // The execution systems have finished: no clump uses a board any more.
    GPIBCloseAllUnits();
    VisaCloseAll();
  };
  shell.hostAddress = &NCStrToIP2;
  shell.hostName = &NCIPToStr2;
  // The object system's process-wide state: the tracked Boolean's mutex and
  // the tag list.
  shell.boolTrackMutexInit = [] { BoolTrackMutexInit(1, 1); };
  shell.boolTrackMutexDispose = [] { BoolTrackMutexInit(0, 0); };
  shell.tagListsInit = [] { InitTagLists(); };
  shell.blinkInit = &BlinkInit;
  // The panels' text clipboard goes with the object support's other state.
  shell.tagListsDispose = [] {
    DisposeTagLists();
    PanelDisposeTextClipboard();
  };
  // The picture tables and the cursors' file the shell fills.
  shell.setBuiltInPict = &SetBuiltInPict;
  shell.controlPicturesInit = &InitFPImages;
  shell.cursorImageFile = &SetCursorImageFile;
  shell.listboxSymbolsInit = [](int32 base) { InitListboxSymbols(base); };
  shell.listboxSymbolsDispose = &ListboxDisposeSymbols;
  // The VI server, automation and the automation server.
  shell.viRefInit = &VIRefInit;
  shell.tcpServerInit = [] { TCPServerInit(); };
  shell.automationInit = &AutomationInit;
  shell.automationExit = &AutomationExit;
  // A server that cannot start leaves the program without automation.
  shell.oleServerStart = [] {
    if (int32 r = OleServerStart())
      DBPrintf("Automation server not available; err=0x%08lx", static_cast<unsigned long>(uInt32(r)));
  };
  shell.oleServerStop = [] {
    OleServerStop();
    SrvDisposeStartState();
    VIRefExit();
  };
  // The access lists parse into the VI server's tables, each entry shown on
  // the splash window's status line.
  shell.specifyTcpAccess = [](CPStrHandle list) { QXSSpecifyTcpAccess(list); };
  shell.specifyViAccess = [](CPStrHandle list) { QXSSpecifyViAccess(list); };
  QXSSetAccessStatusProc([](ConstPStr text) { SplashStatus(text, 0, 0); });
  shell.helpInitFiles = &HelpInitFiles;
  shell.helpQuit = &HelpQuit;
  shell.recentInit = &FDRecentInit;
  shell.recentSave = &FDRecentSave;
  shell.rtmShutDown = [] {
    RTMShutDown();
    // The colour palette's record and tables go with the menus.
    DisposeColorPalette();
  };
  ShellSetStartHooks(shell);
  // The preferences' access lists are the VI server's.
  PrefServerHooks prefServer{};
  prefServer.tcpAccessList = &QXSTcpAccessList;
  prefServer.viAccessList = &QXSViAccessList;
  prefServer.specifyTcpAccess = [](CPStrHandle list) { QXSSpecifyTcpAccess(list); };
  prefServer.specifyViAccess = [](CPStrHandle list) { QXSSpecifyViAccess(list); };
  prefServer.setListening = &SetServerListening;
  PrefSetServerHooks(prefServer);
  PrefSetAccessParsers([](ConstPStr entry) -> int32 { return QXSParseTcpEntry(entry, nullptr, nullptr, nullptr); },
                       [](ConstPStr entry) -> int32 { return QXSParseViEntry(entry, nullptr); });
  // What the main event filter asks of the object system.
  ShellEventHooks events{};
  events.setCursorByNumber = &SetCursorByNumber;
  events.blinkTimerEvent = &BlinkTimerEvent;
  events.processUpdateQueue = &ProcessUpdateQueue;
  events.debugKey = [](WEventRecord* e) { VIWindDebugKey(e); };
  // A palette-menu item arms the tip as the menu (for the heap) and the
  // negated item.
  events.tipStripSetTarget = [](int32 menu, int32 item, Point) {
    HelpSetTipTarget(reinterpret_cast<ObjHeap>(uintptr_t(uInt32(menu))), item, 0);
  };
  events.tipTimer = &HelpShowPending;
  events.updateHelpForPanel = &UpdateHelpForPanel;
  events.importExternalClipboard = &ImportExternalClipboard;
  // User event 22: a VI reference's release that waited for its last native
  // call.
  events.viRefRunCallInUIThread = &VIRefFinishRelease;
  // User event 23: an automation request a VI object's thread posted.
  // The word names a request still waiting, or is ignored.
  events.viServRequestDispatch = &OleRunPostedRequest;
  // User event 24: the VI server's work on the user-interface thread.
  events.serverEvent = [](const WEventRecord* e) {
    TSHandlePostedEvent(UserEventArg(e, 1), Cookie(UserEventArg(e, 2)),
                        reinterpret_cast<UHandle>(uintptr_t(uInt32(UserEventArg(e, 3)))), UserEventArg(e, 4),
                        uInt32(UserEventArg(e, 5)));
  };
  ShellSetEventHooks(events);
  // The application's menus, splash and about box, with what their
  // commands ask of the object system.
  ShellInstallMenuHooks();
  ProgMenuHooks menus = ProgMenuHooksInUse();
  // An action without a parameter block of its own gets an empty one: the
  // panel's actions travel with one.
  menus.sendAction = [](ObjHeap panel, int32 action, void* argument) {
    ActionParams empty{};
    return TRSendAction(panel, nullptr, action, argument ? argument : &empty);
  };
  menus.sendVIAction = &TRSendVIAction;
  menus.setIndicator = [](ObjHeap heap, int32 object) { OSetIndicator(heap, object, 1); };
  menus.pasteEnabled = &PanelPasteEnabled;
  menus.showClipboard = &ShowClipboardWindow;
  menus.initColorPalette = &InitPanelColorPalette;
  SetColorDialogProc(&ShellColorDialog);
  menus.initLineStyles = [](MenuHandle* m) { return InitLineStyles(kLineStyleMenuId, m); };
  menus.initLineWidths = [](MenuHandle* m) { return InitLineWidths(kLineWidthMenuId, m); };
  // The Help menu's window and online help.
  menus.helpShown = [] { return Bool32(HelpStateNow().window && HelpStateNow().shown ? 1 : 0); };
  menus.helpToggle = [] {
    if (HelpStateNow().window && HelpStateNow().shown) HelpWindowHide();
    else HelpWindowOpen(1);
  };
  menus.helpHide = &HelpWindowHide;
  menus.onlineHelpValid = &HelpOnlineRefValid;
  menus.onlineHelpForVI = [](UHandle vi) { HelpOpenOnlineForVI(vi); };
  menus.panelHasDescriptions = &PanelHasDescription;
  // Run-time menus: the start-up check, linked items and blocking.
  menus.rtmCheckAppMenuTags = &RTMCheckAppMenuTags;
  menus.rtmIsRunTimeMenu = &RTMIsRunTimeMenuID;
  menus.rtmResolveLinkedItem = &RTMResolveLinkedItemID;
  menus.rtmBlocked = &RTMTrackingBlocked;
  // A plug-in VI answers through one Boolean output.
  menus.callInstrumentByPath = [](Path path, ConstPStr output, Bool32* value) -> MgErr {
    static const TypeDescriptor kBoolean{4, kTDBoolean, 0};
    uInt8 answer = 0;
    const MgErr err = CallInstrumentByPath(path, 0, 0, 1, output, &kBoolean, &answer);
    if (value) *value = answer ? 1 : 0;
    return err;
  };
  menus.preferencesDialog = [] { PrefDialog(-1, nullptr); };
  menus.stopServer = [] { SetServerListening(0); };
  // The about box's memory lines are drawn as its status lines.
  SetStatusLineProc([](uInt32 window, ConstPStr text, int32 line, int32 offset) {
    SplashSetStatusText(WindowRef(window), text, line, offset);
  });
  SetSplashHooks(SplashHooks{[](WindowRef window) { MemoryStatsLines(uInt32(window)); }, [](PStr text) { SrvStatusText(text); }});
  AppInstallCallHooks();
  SetProgMenuHooks(menus);
  // What the run commands ask of the panels at a change of run state.
  RunCmdHooks run = RunCmd();
  run.refreshPanel = &AppRefreshPanel;
  run.beep = &WBeep;
  run.endTextEdit = [](UHandle vi) {
    if (vi && *vi && VIRec(vi)->panelHeap) FPCommitKeyFocus(VIRec(vi)->panelHeap);
  };
  SetRunCmdHooks(&run);
  // A VI's panel heap is read from its file when its window or a print
  // needs it.
  VIRunHooks vis = VIRun();
  vis.loadPanelHeap = &LoadFPHeap;
  SetVIRunHooks(&vis);
  CallInstrHooks calls = CallInstrHooksInUse();
  calls.loadPanel = &LoadFPHeap;
  SetCallInstrHooks(calls);
  // Opening a VI to print it prints its panel.
  VIFindShellHooks find = VIFindShell();
  find.printPanel = [](UHandle vi) { VIPrintFrontPanel(vi, 0); };
  SetVIFindShellHooks(&find);
}

void AppInstallCallHooks() {
  // Calls of VIs by path go through the VI server's references of the local
  // application, as a trusted caller.
  CallInstrHooks calls{};
  calls.openByName = [](ConstPStr name, int32 options, int32* ref) {
    return AppOpenVIRefByName(kLocalAppRef, name, nullptr, options, nullptr, ref, nullptr, nullptr, nullptr);
  };
  calls.openByPath = [](Path path, int32 options, int32* ref) {
    return AppOpenVIRefByPath(kLocalAppRef, path, nullptr, options, nullptr, ref, nullptr, nullptr, nullptr);
  };
  calls.release = &VIRefRelease;
  calls.getAttribute = [](int32 ref, int32 property, void* value) {
    return VIRefGetAttributes(ref, property, value, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  };
  calls.setAttribute = [](int32 ref, int32 property, const void* value) {
    return VIRefSetAttributes(ref, property, const_cast<void*>(value), kVIRefOptTrusted, nullptr, nullptr, nullptr);
  };
  calls.paramOffset = &VIRefTerminalOffset;
  // The call's record keeps the shell's completion and its context in its
  // starter's words.
  calls.startCall = [](int32 ref, void (*done)(const CallInstrCompletion*), void* context) -> MgErr {
    AsyncRef call = nullptr;
    MgErr err = VIRefStartCall(ref, [](AsyncRef a) {
      auto proc = reinterpret_cast<void (*)(const CallInstrCompletion*)>(uintptr_t(a->param[0]));
      const CallInstrCompletion record{a->callState, reinterpret_cast<void*>(uintptr_t(a->param[1])), a};
      if (proc) proc(&record);
    }, &call);
    if (!err) {
      call->param[0] = uInt32(uintptr_t(done));
      call->param[1] = uInt32(uintptr_t(context));
    }
    return err;
  };
  calls.killAsync = [](void* async) { KillQXObjAsyncRef(static_cast<AsyncRef>(async)); };
  SetCallInstrHooks(calls);
}

MgErr AppStartEngine() {
  // The run-time function table is complete before the first VI loads.
  QXRTRegisterEngine();
  QXRTRegisterRTLib();
  QXRTRegisterShell();
  QXRTRegisterPanel();
  QXRTRegisterIO();
  QXRTRegisterServer();
  QXRTRegisterOle();
  QXRTCloseRegistration();
  // The classes' slots are complete too.
  ObjCloseSlots();
  return kNoErr;
}

MgErr AppStartup(int argc, char** argv) {
  AppInstallHooks();
  return AppStartInstalled(argc, argv);
}

MgErr AppStartInstalled(int argc, char** argv) {
  // The managers, then the engine: the linker's tables come first, before
  // any VI is loaded.
  if (MgErr err = MgStartup(argc, argv)) return err;
  if (MgErr err = InitDeviceTable()) return err;
  // The drawing manager's start: the pens, the colour cache and the
  // window image through which windows draw, made for the root window.
  DInitDraw();
  if (MgErr err = WInitScreenImage()) return err;
  // The window manager's classes, root window and disposal window.
  WRegisterClasses();
  if (!WRootWindow() || !WDisposalWindow()) return kMemFullErr;
  if (MgErr err = ShellInit()) return err;
  return AppStartEngine();
}

void AppShutdown() {
  // The drivers end their pending requests while the engine still runs.
  CloseAllDevices();
  ShellShutDown();
  // What the window manager's tear-down does for the program: windows
  // destroyed since (the shell's "Closed") are freed.
  WDestroyAllWindows();
  PFreeDevHandles();
  IDisposeImageTable();
  TXFinishText();
  DDisposeDraw();
  MgTeardown();
}
