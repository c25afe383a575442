// The names of the configuration keys, in the order of the string list
// "ConfigTokenStrings" of the application file.
#include "config.h"

#include <atomic>
#include <cstring>

#include "debug.h"
#include "rsrc.h"

const char kCfgKeyListName[] = "ConfigTokenStrings";

namespace {

const char* const kKeys[kCfgKeyCount] = {
    /*   1 */ "tmpdir", "defaultdir", "viSearchPath", "panel.background", "diagram.background",
    /*   6 */ "diagram.primColor", "menubar.foreground", "menubar.background", "menu.foreground",
    /*  10 */ "menu.background", "execPalette.foreground", "execPalette.background", "cursor.foreground",
    /*  14 */ "cursor.background", "appFont", "systemFont", "trackTimeout", "defPrecision", "flushDrawing",
    /*  20 */ "formulaBoxPrecision", "sparcV8", "windowSize", "QXdebugKeys", "useDebugOutput",
    /*  25 */ "showInplaceMenuItem", "nodeBreakPointMenuItem", "dialogEditor", "exoticControls",
    /*  29 */ "offscreenUpdates", "scrollingStripCharts", "memoryChecking", "scrollbar.foreground",
    /*  33 */ "scrollbar.background", "returnKeyAction", "simplePopups", "massCompLog", "printUsingBitmap",
    /*  38 */ "useWindowMenuBars", "moreColors", "forceBW", "keepIntensityBitmap", "fullKeyboardNav",
    /*  43 */ "doubleClickToEditControl", "totalMemSize", "", "checkAvailDiskSpace", "abortMin", "warnMin",
    /*  49 */ "coercionDot", "prettyExecHilite", "autoProbe", "showWarnings", "warnPartHidden", "libdir",
    /*  55 */ "sunKeyboard", "print.xprOptions", "useNativeColorPicker", "messyFileMutate",
    /*  59 */ "quietAppBuild", "appTotalMem", "xxxxx", "ctlEditNoQuestions", "dithering",
    /*  64 */ "printerDithering", "anxiousMemoryDeallocation", "dialogFont", "showWireDots",
    /*  68 */ "RunAutotests", "history.alwaysRecordChange", "history.promptAtClose",
    /*  71 */ "history.promptAtSave", "history.generateComments", "history.whereToGetName", "tileUpDown",
    /*  75 */ "minAllocSize", "maxAllocSize", "postScriptPrinting", "postScriptLevel2", "colorPrinting",
    /*  80 */ "compactWhileRunning", "coopLevel", "useDefaultTimer", "initMemSize", "", "useAllFKeys",
    /*  86 */ "paintPixmap", "openInRun", "scrollGraphCursors", "noBoxAroundName", "useLocaleDecimalPt",
    /*  91 */ "showEmptyHistoryEntries", "titlebarRevision", "recentUserName", "editRecentPaths",
    /*  95 */ "execRecentPaths", "simpleDiagramHelp", "hierarchy.stateFlags", "find.findTextFlags",
    /*  99 */ "find.selectVIsFlags", "find.searchStr", "find.nodeRsrcID", "find.viListFlags",
    /* 103 */ "showSubVIName", "copyDeleteFPDCOFromFPTerm", "useNativeFileDialog", "cfm68kCallBack",
    /* 107 */ "blinkSpeed", "blinkFG", "blinkBG", "showTipStringsOnTerms", "showTipStrings",
    /* 112 */ "showWireGuides", "hour24", "dateDayFirst", "yearFirst", "dateSeparator", "timeSeparator",
    /* 118 */ "hotMenus", "dropThroughClicks", "AutoReInitSelectFeatureEnabled",
    /* 121 */ "AutoReInitSelectIsDefault", "FPFont", "BDFont", "IconFont", "menuSetup", "menu.",
    /* 127 */ "menuLoc.", "toolPaletteLoc", "saveFloaterLocations", "lazyUpdateClipboard",
    /* 131 */ "showBDConstName", "", "", "useNewPrintHeader", "ignoreHelpAndProjDirs", "diff.specFlags",
    /* 137 */ "diff.tileVert", "diff.circles", "diff.showMatches", "editRTMenusFromRsrc",
    /* 141 */ "ESys.StdNParallel", "ESys.Bgrnd", "ESys.Normal", "ESys.High", "ESys.VHigh",
    /* 146 */ "ESys.TCritical", "ESys.instrument.Bgrnd", "ESys.instrument.Normal", "ESys.instrument.High",
    /* 150 */ "ESys.instrument.VHigh", "ESys.instrument.TCritical", "ESys.DAQ.Bgrnd", "ESys.DAQ.Normal",
    /* 154 */ "ESys.DAQ.High", "ESys.DAQ.VHigh", "ESys.DAQ.TCritical", "ESys.other1.Bgrnd",
    /* 158 */ "ESys.other1.Normal", "ESys.other1.High", "ESys.other1.VHigh", "ESys.other1.TCritical",
    /* 162 */ "ESys.other2.Bgrnd", "ESys.other2.Normal", "ESys.other2.High", "ESys.other2.VHigh",
    /* 166 */ "ESys.other2.TCritical", "skipNavigatorDialog", "simpleExitDialog", "maxUndoSteps",
    /* 170 */ "mutateToPeriodDecimalPoint", "useMargins", "marginUnitInch", "marginT", "marginL",
    /* 175 */ "marginB", "marginR", "macExtremeCompacting", "menusDir", "server.ole.enabled",
    /* 180 */ "server.tcp.enabled", "server.tcp.port", "server.tcp.paranoid", "server.tcp.access",
    /* 184 */ "server.vi.access", "server.vi.callsEnabled", "server.vi.propertiesEnabled",
    /* 187 */ "server.app.propertiesEnabled", "viTitleInPalettes", "saveAsVHDLMenuItem",
    /* 190 */ "viCaptionTipStrings", "transparentBDLabels", "paletteStyle", "syncVisa", "cleanupVisa",
    /* 195 */ "readOnlyLock", "tcpServer.logDetails", "tcpServer.log", "tcpServer.logPath",
    /* 199 */ "updateSubVICtrlsFromIUseConsts", "checkActiveXLibs", "mostRecentFiles", "showFullPath",
    /* 203 */ "maxRecentFiles", "useTaskBar", "smoothGraphMarkers", "defaultFuncPalPos",
    /* 207 */ "defaultCtrlPalPos", "activeX.freeThreaded",
};

}  // namespace

namespace {
std::atomic<RsrcFileRef> gKeyNameFile{0};
}  // namespace

void CfgSetKeyNameFile(uInt32 file) { gKeyNameFile.store(file); }

ConstPStr CfgKeyName(int32 index) {
  if (const RsrcFileRef file = gKeyNameFile.load()) {
    // One buffer a thread: a name another thread looks up never changes
    // under its caller.
    static thread_local Str255 buffer;
    if (MgErr err = RGetIndString(file, buffer, kCfgKeyListId, index))
      DBMgErr(__FILE__, __LINE__, err, "CfgKeyName");
    return buffer;
  }
  // Made once, read by any thread.
  struct Names {
    uChar text[kCfgKeyCount + 1][48];
    Names() {
      for (int32 i = 0; i <= kCfgKeyCount; ++i) {
        const char* name = i ? kKeys[i - 1] : "";
        size_t n = std::strlen(name);
        static_assert(sizeof text[0] > 40, "the longest key name fits");
        text[i][0] = uChar(n);
        std::memcpy(text[i] + 1, name, n);
      }
    }
  };
  static const Names names;
  return names.text[(index >= 1 && index <= kCfgKeyCount) ? index : 0];
}

const char* CfgKeyTableName(int32 index) {
  return (index >= 1 && index <= kCfgKeyCount) ? kKeys[index - 1] : "";
}
