// The live configuration words of the managers, the drawing and printing
// layer and the window layer: each starts from its compiled-in default,
// which the start-up copies over the whole table before any manager starts,
// and the manager that owns the word reads its configuration key over it.
// A key missing from the configuration file thus leaves the compiled-in
// default, even when the managers are started a second time in one process.
// Written on the thread that starts the managers.
#pragma once
#include "extcode.h"

enum CfgWord : int32 {
  // managers
  kCfgWordDebugging = 0,         // "debugging" (boolean)
  kCfgWordThPriBgrnd,            // "thpri_bgrnd" .. "thpri_tcrit" (longs)
  kCfgWordThPriNormal,
  kCfgWordThPriHigh,
  kCfgWordThPriVHigh,
  kCfgWordThPriTCrit,
  kCfgWordHardWaitTimeCritical,  // "HardWaitTimeCritical" (boolean)
  kCfgWordUseLocaleDecimalPt,    // "useLocaleDecimalPt" (boolean)
  // drawing and printing (the floats are held by their bits)
  kCfgWordTTFontSmaller,         // "TTFontSmallerMultiplier" (number)
  kCfgWordBitmapFontSmaller,     // "BitmapFontSmallerMultiplier" (number)
  kCfgWordPrintUsingBitmap,      // the print preferences, booleans ..
  kCfgWordPostScriptPrinting,
  kCfgWordPostScriptLevel2,
  kCfgWordColorPrinting,
  kCfgWordPrinterDithering,
  kCfgWordUseMargins,
  kCfgWordMarginUnitInch,
  kCfgWordMarginT,               // .. and the margins (numbers)
  kCfgWordMarginL,
  kCfgWordMarginB,
  kCfgWordMarginR,
  // the window layer
  kCfgWordCheckQueueMsgTime,     // "CheckWindowsQueueMsgTime" (boolean)
  kCfgWordUseTaskBar,            // "useTaskBar" (boolean)
  kCfgWordHideRootWindow,        // "hideRootWindow" (long)
  kCfgWordRegisterExtensions,    // "RegisterExtensions" (boolean; 0 in a built application)
  kCfgWordCount
};

// Copies the compiled-in defaults over the live words.
void CfgLoadDefaultWords();
// The live word, for CfgGetDefault to read a key over (null outside the table).
int32* CfgWordPtr(int32 word);
int32 CfgWordGet(int32 word);
float32 CfgWordFloat(int32 word);
void CfgWordSet(int32 word, int32 value);
// The compiled-in default.
int32 CfgWordDefault(int32 word);
