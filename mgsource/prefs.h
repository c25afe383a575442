// The preference area: 220 32-bit words of live preference values that the
// shell fills at start-up from a compiled-in table and the configuration
// file, and that every layer reads (the panel and the controls among them)
// without calling up.  The compiled-in table stays as the defaults that the
// preferences show and compare against.  Words are read and written whole
// from any thread.
#pragma once
#include "extcode.h"

enum : int32 { kPrefWordCount = 220 };

// The words by their key.  The first 27 have compiled-in defaults other than
// 0; the rest start at 0 (false).
enum PrefWord : int32 {
  kPrefPanelBackground = 0,
  kPrefExecPaletteForeground,
  kPrefExecPaletteBackground,
  kPrefBlinkFG,
  kPrefBlinkBG,
  kPrefBlinkSpeed,
  kPrefCheckAvailDiskSpace,
  kPrefWarnMin,
  kPrefAbortMin,
  kPrefFlushDrawing,
  kPrefOffscreenUpdates,
  kPrefScrollGraphCursors,
  kPrefUseWindowMenuBars,
  kPrefUseNativeFileDialog,
  kPrefShowTipStrings,
  kPrefUseNewPrintHeader,
  kPrefServerOleEnabled,
  kPrefServerTcpEnabled,
  kPrefServerTcpPort,
  kPrefServerTcpParanoid,
  kPrefServerVICallsEnabled,
  kPrefServerVIPropertiesEnabled,
  kPrefServerAppPropertiesEnabled,
  kPrefVICaptionTipStrings,
  kPrefUpdateSubVICtrlsFromIUseConsts,
  kPrefActiveXFreeThreaded,
  kPrefTileUpDown,
  // Keys the start-up reads whose default is 0.
  kPrefSimplePopups,
  kPrefLazyUpdateClipboard,
  kPrefQXDebugKeys,
  kPrefAnxiousMemoryDeallocation,
  kPrefMemoryChecking,
  kPrefScrollingStripCharts,
  kPrefKeepIntensityBitmap,
  kPrefCursorForeground,
  kPrefCursorBackground,
  kPrefScrollbarForeground,
  kPrefScrollbarBackground,
  kPrefReturnKeyAction,
  kPrefShowWarnings,
  kPrefUseAllFKeys,
  kPrefSkipNavigatorDialog,
  kPrefSimpleExitDialog,
  kPrefHotMenus,
  kPrefDropThroughClicks,
  kPrefHour24,
  kPrefDateDayFirst,
  kPrefYearFirst,
  kPrefTimeSeparator,  // the separator's character
  kPrefDateSeparator,
  kPrefMutateToPeriodDecimalPoint,
  kPrefReadOnlyLock,
  kPrefVITitleInPalettes,
  kPrefEditRTMenusFromRsrc,
  kPrefMenuForeground,
  kPrefMenuBackground,
  kPrefMenubarForeground,
  kPrefMenubarBackground,
  kPrefTrackTimeout,
  kPrefSmoothGraphMarkers,
  kPrefEnableAutoScales,
  kPrefEnableMultiScales,
  kPrefDialogPanelFlag,       // set at start-up: panels behave as in dialogs
  kPrefCurrentWarnings,       // the current warnings setting (from showWarnings)
  kPrefDefPrecision,          // 0 single, 1 double, 2 extended
  kPrefFormulaPrecision,      // numeric type 9, 10 or 11
  kPrefSearchBelowFoundVI,
  kPrefCheckActiveXLibs,
  kPrefUsedWordCount
};
static_assert(int32(kPrefUsedWordCount) <= int32(kPrefWordCount), "the area holds every word");

// The compiled-in defaults (the table start-up copies).
int32 PrefDefault(int32 word);
// Changes a compiled-in default (start-up does so for viTitleInPalettes).
void PrefSetDefault(int32 word, int32 value);
// Copies the compiled-in table into the live area.
void PrefResetToDefaults();
int32 PrefGet(int32 word);
void PrefSet(int32 word, int32 value);
