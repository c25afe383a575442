// The program's start-up fills every hook the product calls: each table of
// upward calls, read back after the one start-up routine that the program's
// main runs, has no empty member but those marked here as filled by code
// not built yet (each with its reason).  A table's members are counted, so
// a member added later is checked without naming it here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/appstart.h"
#include "controls/container.h"
#include "controls/picc.h"
#include "controls/graphzoom.h"
#include "engine/datamgr.h"
#include "engine/dmprog.h"
#include "engine/dsalloc.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/omid.h"
#include "engine/stdize.h"
#include "engine/vi/dlgpanel.h"
#include "engine/vi/objload.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/vifind.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viload.h"
#include "engine/exec/exec.h"
#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "mgsource/blockmove.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wmisc.h"
#include "panel/objsize.h"
#include "panel/ctlattr.h"
#include "panel/blink.h"
#include "panel/ctrdoit.h"
#include "panel/ctrlops.h"
#include "panel/objdraw.h"
#include "panel/paneldisplay.h"
#include "panel/objload.h"
#include "panel/ohelp.h"
#include "panel/oinit.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numdoit.h"
#include "panel/editmsg.h"
#include "panel/popup.h"
#include "panel/strimport.h"
#include "panel/transact.h"
#include "rtlib/chartdata.h"
#include "rtlib/datalog.h"
#include "rtlib/filehooks.h"
#include "rtlib/objunits.h"
#include "rtlib/panellocators.h"
#include "olesource/oleautomgr.h"
#include "server/access.h"
#include "server/embobj.h"
#include "server/srvhooks.h"
#include "server/viref.h"
#include "server/vistrmethod.h"
#include "shell/callbypath.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/extshell.h"
#include "shell/help.h"
#include "shell/prefdlg.h"
#include "shell/progmenu.h"
#include "shell/shellinit.h"
#include "shell/shellmain.h"
#include "shell/splash.h"
#include "shell/vistring.h"
#include "shell/viwindow.h"

namespace {

// Converts to any function pointer: a table takes as many of these as it has
// members only when every member is one.
struct AnyProc {
  template <class F>
    requires std::is_function_v<F>
  operator F*() const {
    return nullptr;
  }
};
template <class T, size_t... I>
constexpr bool TakesProcs(std::index_sequence<I...>) {
  return requires { T{(void(I), AnyProc{})...}; };
}
template <class T, size_t N = 0>
constexpr size_t ProcCount() {
  if constexpr (TakesProcs<T>(std::make_index_sequence<N + 1>())) return ProcCount<T, N + 1>();
  else return N;
}

// A member that may stay empty, and why.
template <class T>
struct Optional {
  template <class M>
  Optional(M T::*member, const char* reason) : why(reason) {
    static const T probe{};
    at = size_t(reinterpret_cast<const char*>(&(probe.*member)) - reinterpret_cast<const char*>(&probe));
  }
  size_t at;
  const char* why;
};

struct Table {
  std::string name;
  std::vector<uintptr_t> members;
  std::vector<std::pair<size_t, std::string>> optional;  // member index, reason
};

template <class T>
Table Read(const char* name, const T& table, std::initializer_list<Optional<T>> optional = {}) {
  static_assert(ProcCount<T>() > 0 && ProcCount<T>() * sizeof(void*) == sizeof(T),
                "a hook table holds function pointers only");
  Table t{name, std::vector<uintptr_t>(ProcCount<T>()), {}};
  std::memcpy(t.members.data(), &table, sizeof(T));
  for (const Optional<T>& o : optional) t.optional.emplace_back(o.at / sizeof(void*), o.why);
  return t;
}
// A table whose setter answers the former set: read back by setting it
// again (a setter of the given members only takes none from an empty set).
template <class T>
T ReadBack(T (*set)(const T&)) {
  const T now = set(T{});
  set(now);
  return now;
}

// A single hook: filled or not.
struct Single {
  const char* name;
  bool filled;
  const char* optional;  // the reason it may stay empty, or null
};

constexpr const char* kTestHook = "a test's stand-in";
constexpr const char* kRetrieval = "the record-number field of datalog retrieval mode: not built yet";
constexpr const char* kShellOwn = "null: the shell's own";

std::vector<Table> Tables() {
  return {
      Read("WWinProcHooks", ReadBack(&WSetWinProcHooks),
           {{&WWinProcHooks::dropFiles, "null: the window manager's own drop of files"},
            {&WWinProcHooks::openMenuWindow, "menu windows never take activation, so none is the window that gains it"}}),
      Read("WMainLoopHooks", ReadBack(&WSetMainLoopHooks),
           {{&WMainLoopHooks::popupMenuWork, "the menus finish their work inside their own tracking loops"}}),
      Read("WManagerHooks", ReadBack(&WSetManagerHooks),
           {{&WManagerHooks::threadValue, "the thread layer has no value: the selector answers 53, as for a missing one"}}),
      Read("WStartupHooks", WStartupHooksInUse(),
           {{&WStartupHooks::versionMajor, kTestHook},
            {&WStartupHooks::retryPause, kTestHook},
            {&WStartupHooks::startStep, kTestHook}}),
      Read("PrintHooks", PPrintHooks(), {{&PrintHooks::isNT, "null: the system version's, as the window manager's"}}),
      Read("PrintPanelHooks", PPrintPanelHooks()),
      Read("DataMgrHooks", GetDataMgrHooks()),
      Read("EnginePanelHooks", *GetEnginePanelHooks()),
      Read("RunCmdHooks", RunCmd(),
           {{&RunCmdHooks::markSuspendedControls, "the suspended controls' marks of the object system: not built yet"},
            {&RunCmdHooks::updateIndicators, "the indicators that log or print at completion need: not built yet"},
            {&RunCmdHooks::controlKindAndName, "the error report's control kind and name: not built yet"},
            {&RunCmdHooks::reclaimMemoryOption, "no preference sets the global reclaim-memory option: null reads off"}}),
      Read("RetrieveLogHooks", RetrieveLog()),
      Read("VIWindowHooks", VIWindow(),
           {{&VIWindowHooks::updateCursor, kRetrieval}, {&VIWindowHooks::refreshLogIndicator, kRetrieval}}),
      Read("VICodeHooks", VICode()),
      Read("VIRunHooks", VIRun(), {{&VIRunHooks::unloadPanelObjects, "the panel objects' unload steps: not built yet"}}),
      Read("VILinkHooks", VILink()),
      Read("VIShellHooks", VIShell()),
      Read("VIServerHooks", VIServer()),
      Read("VILoadPanelHooks", VILoadPanel()),
      Read("VIFindShellHooks", VIFindShell()),
      Read("DlgPanelHooks", DlgPanel()),
      Read("ObjLoadHooks", ObjLoadHooksInUse()),
      Read("PanelRoutineHooks", PanelRoutines()),
      Read("LinkerServices", LinkServices(),
           {{&LinkerServices::writeCodeWord, "null: the platform's write into sealed code pages"}}),
      Read("LinkPanelHooks", LinkPanel()),
      Read("LoadMethodHooks", LoadHooks()),
      Read("FileShellHooks", FileShell()),
      Read("RefnumKindHooks", RefnumKinds()),
      Read("DatalogProcs", Datalog()),
      Read("DatalogUIHooks", DatalogUI()),
      Read("ChartPanelHooks", ReadBack(&SetChartPanelHooks)),
      Read("UnitLabelHooks", ReadBack(&SetUnitLabelHooks)),
      Read("PanelDataHooks", ReadBack(&SetPanelDataHooks)),
      Read("PanelRampHooks", ReadBack(&SetPanelRampHooks)),
      Read("PanelScaleHooks", PanelScale()),
      Read("SlideOpsHooks", ReadBack(&SetSlideOpsHooks)),
      Read("GraphCursorHooks", ReadBack(&SetGraphCursorHooks),
           {{&GraphCursorHooks::hitShape, "the pointer over a cursor keeps the operate tool's shape"}}),
      Read("EditSelectHooks", ReadBack(&SetEditSelectHooks)),
      Read("PopupShellHooks", ReadBack(&SetPopupShellHooks)),
      Read("StringImportHooks", ReadBack(&SetStringImportHooks),
           {{&StringImportHooks::cursorLabelInval, "the graph cursors' labels: not built yet"},
            {&StringImportHooks::graphPlotList, "the graph and chart control: not built yet"}}),
      Read("PanelShellHooks", PanelShell(), {{&PanelShellHooks::deactivateOutsideText, kRetrieval}}),
      Read("BlinkControlHooks", BlinkControlHooksInUse()),
      Read("PanelDrawHooks", ReadBack(&SetPanelDrawHooks)),
      Read("CtrlOpsShellHooks", ReadBack(&SetCtrlOpsShellHooks)),
      Read("PanelDisplayHooks", ReadBack(&SetPanelDisplayHooks)),
      Read("ServerUIHooks", ServerUI()),
      Read("ContainerEmbHooks", ReadBack(&SetContainerEmbHooks)),
      Read("ShellStartHooks", ShellStartHooksInUse(),
           {{&ShellStartHooks::step, kTestHook}}),
      Read("ShellMainHooks", ShellMainHooksInUse(),
           {{&ShellMainHooks::afterEngine, "the entry tears the managers down after the shell"},
            {&ShellMainHooks::memFullProc, kShellOwn},
            {&ShellMainHooks::autoLaunch, kShellOwn}}),
      Read("ShellEventHooks", ShellEventHooksInUse(),
           {{&ShellEventHooks::appMenuCommand, kShellOwn},
            {&ShellEventHooks::quitOnLastWindow, "the automation server's mode: not built yet"}}),
      Read("ProgMenuHooks", ProgMenuHooksInUse(),
           {{&ProgMenuHooks::panelHasSelection, kShellOwn},
            {&ProgMenuHooks::focusTextSelected, kShellOwn},
            {&ProgMenuHooks::hideFloaters, "the floating palettes of the editor: none in the run-time"}}),
      Read("VIWindHooks", VIWindHooksInUse(),
           {{&VIWindHooks::appMenuCommand, kShellOwn},
            {&VIWindHooks::drawMenuBar, "null: the menu manager's own drawing"},
            {&VIWindHooks::moveRecordField, kRetrieval}}),
      Read("DlgPanelServices", DlgServices()),
      Read("HelpObjectServices", HelpObjectServicesInUse()),
      Read("PrefServerHooks", PrefServerHooksInUse()),
      Read("SplashHooks", SplashHooksInUse()),
      Read("VIStringHooks", ReadBack(&SetVIStringHooks)),
      Read("VIPropPanelHooks", VIPropPanel()),
      Read("CallInstrHooks", CallInstrHooksInUse(),
           {{&CallInstrHooks::findVI, "null: the linker's FindVIByName"},
            {&CallInstrHooks::panelFlags, "the panel flag word a call by path sets: not built yet"}}),
  };
}

// The hooks with one setter each.
std::vector<Single> Singles() {
  auto filled = [](auto proc) { return proc != nullptr; };
  return {
      {"SetListboxRowHeightHook", filled(ListboxRowHeightHookInUse()), nullptr},
      {"WSetEmbeddedCleanup", filled(WEmbeddedCleanupInUse()), nullptr},
      {"WSetEmbeddedScroll", filled(WEmbeddedScrollInUse()), nullptr},
      {"DragSetContainerProcs", filled(DragContainerStartupInUse()) && filled(DragContainerShutdownInUse()), nullptr},
      {"SetWindowTitleProc", filled(WindowTitleProcInUse()), nullptr},
      {"SetOneButtonAlertProc", filled(OneButtonAlertProcInUse()), nullptr},
      {"ArchiveSetTempPathProc", filled(ArchiveTempPathProcInUse()), nullptr},
      {"PrefSetBrowseProc", filled(PrefBrowseProcInUse()), nullptr},
      {"ExecSetPostUserEventProc", ExecPostUserEventProcInstalled() != 0, nullptr},
      {"SetInvalidLibraryAlertHook", filled(InvalidLibraryAlertHookInUse()), nullptr},
      {"ExtCodeSetAppPathHook", filled(ExtCodeAppPathHookInUse()), nullptr},
      {"ExtCodeSetTempDirPathHook", filled(ExtCodeTempDirPathHookInUse()), nullptr},
      {"ExtCodeSetAppIndStringHook", filled(ExtCodeAppIndStringHookInUse()), nullptr},
      {"ExtCodeSetNTFamilyHook", filled(ExtCodeNTFamilyHookInUse()), nullptr},
      {"MemSetDataSpaceInitHook", filled(MemDataSpaceInitHookInUse()), nullptr},
      {"SetStatusLineProc", filled(StatusLineProcInUse()), nullptr},
      {"SetHelpImageTaker", filled(HelpImageTakerInUse()), nullptr},
      {"SetImportVIStringsProc", filled(ImportVIStringsProcInUse()), nullptr},
      {"SetCursorLegendHook", filled(CursorLegendHookInUse()), nullptr},
      {"SetKnobScaleResizeHook", filled(KnobScaleResizeHookInUse()), nullptr},
      {"SetScaleAttrHooks", ScaleAttrHooksFilled(), nullptr},
      {"PSetVIPrintRecordProc", filled(PVIPrintRecordProcInUse()), nullptr},
      {"ISetImportAlertProc", [] {
         const IImportAlertProc now = ISetImportAlertProc(nullptr);
         ISetImportAlertProc(now);
         return now != nullptr;
       }(), nullptr},
      {"PiccSetBlendPenSource", filled(PiccBlendPenSourceInUse()), nullptr},
      {"QXSSetAccessStatusProc", filled(QXSAccessStatusProcInUse()), nullptr},
      {"PrefSetAccessParsers", filled(PrefAccessParserInUse(1)) && filled(PrefAccessParserInUse(0)), nullptr},
      {"SetVariantDataProcs", VariantDataProcsInUse() != nullptr, nullptr},
      {"SetAutoRefStandardize", [] {
         const AutoRefStandardizeProc now = SetAutoRefStandardize(nullptr);
         SetAutoRefStandardize(now);
         return now != nullptr;
       }(), nullptr},
      // Null stands for the engine's own comparison of interface names.
      {"SetOMIdAutoCmpProc", [] {
         const OMIdAutoCmpProc now = SetOMIdAutoCmpProc(nullptr);
         SetOMIdAutoCmpProc(now);
         return now == &AutoRefOMIdCompare;
       }(), nullptr},
      {"SetPanelGetDataPtrProc", [] {
         const PanelGetDataPtrProc now = SetPanelGetDataPtrProc(nullptr);
         SetPanelGetDataPtrProc(now);
         return now != nullptr;
       }(), nullptr},
  };
}

TEST(ProgramHooks, TheStartUpFillsEveryHookTheProductCalls) {
  AppInstallHooks();
  std::string empty;
  for (const Table& t : Tables()) {
    for (size_t i = 0; i < t.members.size(); ++i) {
      bool optional = false;
      for (const auto& [at, why] : t.optional) optional = optional || at == i;
      if (!t.members[i] && !optional)
        empty += t.name + ": member " + std::to_string(i + 1) + " of " + std::to_string(t.members.size()) + "\n";
    }
  }
  for (const Single& h : Singles())
    if (!h.filled && !h.optional) empty += std::string(h.name) + "\n";
  EXPECT_EQ(empty, "") << "members no start-up routine fills (1-based, in declaration order)";
}

}  // namespace
